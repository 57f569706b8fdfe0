// The figures of a building: what each unit used and how comfortable its
// zone was, minute by minute, the building's aggregate electric demand, its
// 15-minute peaks with and without the demand-response events, the rebound
// after them, the energy they shifted, and the units that did not take
// them; written as a report, JSON, a CSV of the demand and its plot.
#pragma once

#include "building/building_spec.h"
#include "building/control_bus.h"
#include "report/report.h"
#include "report/report_json.h"

#include <string>
#include <vector>

namespace sim {

// Electricity of one unit in one minute of its trace (kWh): the
// compressor's from the heat it delivered at the study's COPs, resistance
// heat at 1, the blower's 250 W while a fan relay (or a furnace's burner)
// runs. equipment is the zone's (furnace, furnace2, heatpump, heatpump2,
// heatpump-gas).
double minuteElectricKwh(const TraceRow &row, const std::string &equipment);

// The comfort range fixed before a run, whatever the thermostat does (C):
// the study's, heating or cooling, occupied from Wake to Leave and from
// Return to Sleep of the factory schedule (weekdays 6:00, 8:00, 18:00,
// 22:00; weekends 8:00, 10:00, 16:00, 23:00).
struct ComfortBounds {
    double low = 0, high = 0;
    bool occupied = false;
};
ComfortBounds fixedComfortRange(int64_t wallSeconds, bool cooling);

// What a run gathers of one unit.
struct UnitSeries {
    std::string name;
    int address = -1;
    std::string equipment;
    std::vector<double> electricKwh; // minute by minute from the start
    double discomfortKh = 0;         // outside the fixed range, every hour
    double occupiedDiscomfortKh = 0; // in occupied hours
    std::string failure;             // why its run ended early ("": it did not)
};
// Adds a unit's minute.
void addMinute(UnitSeries *unit, const TraceRow &row, bool cooling);

struct EventOutcome {
    DemandEvent event;
    size_t units = 0;
    std::vector<std::string> notTaken; // "zone: why"
};

struct BuildingResult {
    bool ran = false;
    std::vector<UnitSeries> units;
    std::vector<EventOutcome> events;
    size_t minutes = 0;
    ControlBus::Counts bus;
};

// The building's demand minute by minute (kW).
std::vector<double> aggregateDemandKw(const BuildingResult &r, size_t minutes);
// The highest mean over DEMAND_MINUTES consecutive minutes that lie within
// [from, to) (all of them when fewer), and the minute its window ends at.
constexpr size_t DEMAND_MINUTES = 15;
double peakMeanKw(const std::vector<double> &kw, size_t from, size_t to, size_t *endMinute);
// Simulated time after the last unit's return that counts as the rebound.
constexpr int64_t REBOUND_MS = 2 * 3600 * 1000;

// The report (text), its figures as JSON, and the demand as CSV; without
// is null when the building ran only once.
std::string formatBuildingReport(const BuildingSpec &plan, const BuildingResult &with,
                                 const BuildingResult *without);
Json buildingJson(const BuildingSpec &plan, const BuildingResult &with,
                  const BuildingResult *without);
std::string demandCsv(const BuildingSpec &plan, const BuildingResult &with,
                      const BuildingResult *without);
// The demand over the run with the events marked, both runs.
bool plotBuildingDemand(const std::string &path, const std::string &fontDir,
                        const BuildingSpec &plan, const BuildingResult &with,
                        const BuildingResult *without, std::string *error);

} // namespace sim
