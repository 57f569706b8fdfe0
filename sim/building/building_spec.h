// A building of thermostats on one control bus, as its building file gives
// it: the run (start, length, weather, seed), the bus (its bit rate), each
// zone with its unit (its house, equipment, factory record and bus
// address), named groups of zones and the demand-response events.
//
//   # an office floor
//   start      2026-07-15 00:00
//   hours      24
//   weather    sim/weather/summer-heat.csv
//   bus-rate   38400
//   defaults   house=typical area=80 equipment=furnace factory="--mode cool" indoor=24
//   zone       lobby address=1 facing=south internal=900
//   zones      office 23 address=2 facing=east
//   group      east office01 office02 office03
//   event      15:00 cool 2F for 3h group east stagger 30m
//
// Every line is checked before any unit starts: a key that is not one of
// these, a zone option that is not, a value out of its range, a duplicate
// address and more units than the host holds are refused, naming the line.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

struct ZoneSpec {
    std::string name;
    int line = 0; // of the building file (0: made by --units)
    int address = -1;
    std::string house = "typical";
    double area = 150.0;     // floor area, m2 (the houses are 150 m2)
    double solarShare = 1.0; // of a house's sun (its windows' facing)
    double internal = -1.0;  // W; negative: the house's, by its area
    double indoor = -1000.0; // the room at the start, C; below -100: the house's
    std::string equipment = "furnace";
    std::vector<std::string> factory; // options of tstat-factory for its record
};

// Raises cool set points (or lowers heat set points) of every unit, or of a
// group, for a time, then puts them back, each unit at its moment of a
// staggered return.
struct DemandEvent {
    int line = 0;
    int64_t atMs = 0; // simulated milliseconds from the start
    bool cool = true;
    double amountC = 0.0; // degrees C (a Fahrenheit amount converted)
    int64_t durationMs = 0;
    std::string group; // empty: every unit
    int64_t staggerMs = 0;
};

struct BuildingSpec {
    std::string path;
    std::string start = "2026-07-15 00:00";
    int64_t startWall = 0;
    double hours = 24.0;
    std::string weather; // a day file; empty: the sine day
    double outdoor = -1000.0, swing = -1.0;
    uint32_t seed = 5;
    int busRate = 38400; // bit/s
    bool endOnFailure = false;
    std::vector<ZoneSpec> zones;
    std::map<std::string, std::vector<size_t>> groups; // zone indices
    std::vector<DemandEvent> events;
};

// What the host has for units: memory available (MB), and the limits of
// descriptors and processes (negative: none).
struct HostLimits {
    double availableMb = -1.0;
    long descriptors = -1;
    long processes = -1;
};
HostLimits currentHostLimits();
// Whether the host holds n units (each both its processes); false with the
// reason.
bool hostHoldsUnits(size_t n, const HostLimits &limits, std::string *why);

// The building file's text; path names it in messages ("FILE:LINE: ...").
// The units are held to limits (the host's own when null). False with the
// message.
bool parseBuilding(const std::string &text, const std::string &path, BuildingSpec *plan,
                   std::string *error, const HostLimits *limits = nullptr);
bool loadBuilding(const std::string &path, BuildingSpec *plan, std::string *error);
// A building of n zones of the typical house, addresses 1 to n.
BuildingSpec generatedBuilding(int units);

// An event from its words after the time ("cool 2F for 3h group east
// stagger 30m"); false with the reason.
bool parseDemandEvent(const std::vector<std::string> &words, DemandEvent *event, std::string *why);
// An event line's words after "event" ("15:00 cool 2F for 3h ...") in
// the building: its time from the start, its group one of the building's.
bool parseBuildingEvent(const std::vector<std::string> &words, const BuildingSpec &plan,
                        DemandEvent *event, std::string *why);
// "3h", "90m", "1h30m", "45s": milliseconds; false when malformed.
bool parseDuration(const std::string &text, int64_t *ms);

// The options of `tstat-sim run` for a zone's unit (besides its root, its
// link and the programs), the seed of the unit its index's.
std::vector<std::string> unitArguments(const BuildingSpec &plan, size_t zone);
// The factory tool's options of a zone's record.
std::vector<std::string> factoryArguments(const BuildingSpec &plan, size_t zone);

} // namespace sim
