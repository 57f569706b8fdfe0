// How well the thermostat did: the set points in force, a minute-by-minute
// trace of the house, and the report computed from the trace and the relay
// log (comfort, equipment starts and runtimes, compressor off times,
// auxiliary heat, humidity, and the run's speed).
//
// The set point in force is the one the thermostat's program, hold or
// vacation asks for, evaluated with the configuration store's own schedule
// code on the record the thermostat keeps in the board root (its user record
// dev/mtdblock5, else the factory record dev/mtdblock4), reloaded whenever
// the thermostat saves. Comfort recovery is not part of it: recovery is the
// thermostat's way of meeting the next comfort period's set point, and how
// well it does is the time the room takes to reach that period's band.
#pragma once

#include "config/persist.h"
#include "host/relay_check.h"
#include "house/house.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <type_traits>
#include <vector>

namespace sim {

// Width of comfort on either side of the set points (C). The thermostat
// itself holds heating between the heat set point -0.25 and +0.25 with its
// factory margin and differential; half a degree either side leaves room for
// that and stays inside the 1.1 C peak-to-peak swing ASHRAE 55 accepts for
// short temperature cycles.
constexpr double COMFORT_TOLERANCE = 0.5;
// The relative humidity may pass the humidifier's and dehumidifier's
// switching points by this much (the sensor reports whole percent).
constexpr double HUMIDITY_TOLERANCE = 2.0;

// What the report needs from the thermostat's configuration.
struct ThermostatSetup {
    bool valid = false;
    uint32_t systemType = 0;
    uint32_t hvacState = HVAC_STATE_HEAT;
    bool heatPump = false;
    int stages = 1;
    unsigned cycleRate = 0;  // cycles per hour; 0: not set
    double balancePoint = 0; // C
    double margin = 0;       // C
    double firstStageDiff = 0;
    double humidityOffset = 0;     // humidityBandOffset, %
    double humidityHysteresis = 0; // %
    bool humidifier = false;       // installed and in use
    bool dehumidifier = false;
    bool celsius = false;  // the unit the thermostat shows
    bool recovery = false; // comfort recovery is on
};
ThermostatSetup setupFromRecord(const TstatSysCfgPersistMem_t &record);
// The stage count of a system type: two for the two-stage furnace, roof-top
// unit, two-stage heat pump and floor heat.
int stagesOfSystem(uint32_t systemType);

enum class PeriodKind : int { Wake = 0, Leave = 1, Return = 2, Sleep = 3, Hold, Vacation };
const char *periodName(PeriodKind kind);

// The set points the program, hold or vacation puts in force at a moment.
struct SetpointsInForce {
    bool valid = false;
    double heat = 0, cool = 0, humidify = 0, dehumidify = 0; // C and %
    PeriodKind period = PeriodKind::Wake;
    bool occupied = false; // comfort periods (Wake, Return) and holds
};

// Evaluates the set points in force from the record files under the board
// root, through the configuration store. One per process: the store is the
// process's own.
class SetpointSource {
  public:
    // Loads the record when it is new or changed since the last call; true
    // while a record is loaded.
    bool refresh();
    const ThermostatSetup &setup() const { return m_setup; }
    // The set points at a wall-clock time (local time of the process).
    SetpointsInForce at(int64_t wallSeconds);

  private:
    struct Stamp {
        ino_t ino = 0;
        int64_t mtimeNs = -1;
        int64_t size = -1;
        bool operator==(const Stamp &) const = default;
    };
    static Stamp stampOf(const char *designPath);

    bool m_loaded = false;
    Stamp m_user;
    Stamp m_factory;
    ThermostatSetup m_setup;
};

// One simulated minute of the house.
struct TraceRow {
    int64_t wall = 0;     // wall-clock seconds at the end of the minute
    int64_t uptimeMs = 0; // simulated monotonic time then, as the relay log counts it
    double minute = 0;    // minutes since the start of the run
    double indoor = 0, mass = 0, outdoor = 0, rh = 0;
    SetpointsInForce setpoints;
    bool controlled = false; // a band is in force (the system is not off)
    double bandLow = 0, bandHigh = 0;
    std::array<char, RELAY_COUNT> relays{};
    std::array<double, RELAY_COUNT> onSeconds{}; // closed within the minute
    std::array<double, RELAY_COUNT> energyKj{};  // delivered within the minute
    // The heat and cool set points the thermostat itself runs to, comfort
    // recovery included, as the bus last carried them either way (levels 3
    // and 4, whole degrees of its unit, in C here); unknown before it did.
    bool inForceKnown = false;
    double heatInForce = 0, coolInForce = 0;
};

// The comfort band of a moment: heat set point less the tolerance to cool
// set point plus the tolerance; none while the system is off.
bool comfortBand(const SetpointsInForce &sp, uint32_t hvacState, double *low, double *high);

static_assert(std::is_trivially_copyable_v<TraceRow>, "trace rows are kept as their bytes");

// Collects the trace as the simulator runs. Its rows go to a temporary file
// as they come, so that a run of a year takes no more memory than a run of
// an hour; forEachRow() reads them back in order.
class Recorder {
  public:
    // Times are simulated monotonic milliseconds since the time anchor
    // (platformUptimeMs), the relay log's clock.
    void begin(int64_t uptimeMs, const House &house);
    // Once a pass: the relays the house ran on since the last pass and the
    // heat it delivered; at each whole simulated minute a trace row.
    void pass(int64_t uptimeMs, int64_t wallSeconds, const House &house, SetpointSource &setpoints);
    // The set points the thermostat last reported in force (C), for the
    // rows from now on.
    void reportedInForce(double heat, double cool);
    size_t rowCount() const { return m_rowCount; }
    // The row of the last whole minute (rowCount() tells when one is new).
    const TraceRow &lastRow() const { return m_lastRow; }
    // Calls each with every row in order; false when they cannot be read back.
    bool forEachRow(const std::function<void(const TraceRow &)> &each) const;
    double simulatedSeconds() const { return (m_lastMs - m_startMs) / 1000.0; }
    // The most simulated time one pass covered (s): how coarsely a loaded
    // host stepped the house.
    double longestPassSeconds() const { return m_longestPassMs / 1000.0; }

  private:
    int64_t m_startMs = 0;
    int64_t m_lastMs = 0;
    int64_t m_nextRowMs = 0;
    int64_t m_longestPassMs = 0;
    TraceRow m_current;
    TraceRow m_lastRow;
    bool m_inForceKnown = false;
    double m_heatInForce = 0, m_coolInForce = 0;
    RelayOutput m_energyAtRow{};
    std::unique_ptr<FILE, int (*)(FILE *)> m_spill{nullptr, fclose};
    size_t m_rowCount = 0;
    bool m_spillFailed = false;
};

// The trace as CSV (a header line, then one line a minute) and back.
void writeTraceHeader(std::ostream &out);
void writeTraceRow(std::ostream &out, const TraceRow &row);
void writeTrace(std::ostream &out, const std::vector<TraceRow> &rows);
bool readTrace(std::istream &in, std::vector<TraceRow> *rows, std::string *error);

struct ComfortFigures {
    double hours = 0;       // minutes counted, in hours
    double inBandShare = 0; // 0..1
    double belowKh = 0;     // degree-hours below the band
    double aboveKh = 0;     // degree-hours above it
    double worstBelow = 0;  // C
    double worstAbove = 0;
};

struct ComfortStart {
    int64_t wall; // when the comfort period began
    PeriodKind period;
    double heat, cool;    // its set points
    double startIndoor;   // the room then
    double minutesToBand; // -1: not reached within the period
};

struct StageFigures {
    int relay;
    unsigned starts = 0;
    double startsPerHour = 0;
    unsigned mostInAnHour = 0;
    double runtimeHours = 0;
    double deliveredKwh = 0; // negative: cooling
};

// Something that happened during a run (a script or console line, a mode
// change, a download, an under-voltage, a fault), marked on its plot.
struct RunEvent {
    int64_t uptimeMs; // on the trace's uptime clock
    std::string text;
};

struct RunFigures {
    double simulatedSeconds = 0;
    // 0 in lock-step time, whose report tells nothing that depends on the host.
    double hostSeconds = 0;
    bool lockstep = false;
    uint32_t seed = 0; // of the simulator's random bytes
    double longestPassSeconds = 0;
    unsigned requests = 0;     // periodic requests received (one type)
    double requestMinutes = 0; // minutes they were counted over
    // The relay log's sampling period when it follows a board from outside
    // (RelayCheckOptions::samplingMs); 0 otherwise.
    int64_t relaySamplingMs = 0;
    // Why the run's relay log could not be read (empty: it was): the report
    // then gives neither the figures that come from it nor a verdict.
    std::string relayLogError;
    // Why the run was cut short by a signal (empty: it was not).
    std::string interrupted;
    std::vector<RunEvent> events;
};

struct Report {
    ThermostatSetup setup;
    double hours = 0;
    int64_t startWall = 0;
    ComfortFigures occupied;
    ComfortFigures all;
    std::vector<ComfortStart> comfortStarts;
    std::vector<StageFigures> stages;   // W1/E, W2, Y1, Y2
    unsigned cycles = 0;                // equipment starts from all off
    double shortestCycleStartGapS = -1; // between two equipment starts; -1: fewer than two
    double shortestCompressorOffS = -1; // Y1 or Y2 open to closed again; -1: none
    double auxAboveBalanceMinutes = 0;
    double auxAboveBalanceKwh = 0;
    double humidityHours = 0;
    double humidityBelowHours = 0;
    double humidityAboveHours = 0;
    double humidityLow = 0, humidityHigh = 0; // the band's edges at the end
    std::vector<std::string> violations;      // the relay checker's findings
    RunFigures run;
};

// The report of a run built row by row of its trace: add() each row in
// order, then finish() with the relay log of the same run (its times on the
// trace's uptime clock). Only the figures are kept, never the rows.
class ReportBuilder {
  public:
    // The thermostat's configuration the figures are taken against.
    explicit ReportBuilder(const ThermostatSetup &setup);
    void add(const TraceRow &row);
    Report finish(const std::vector<RelayEvent> &relayLog, const RunFigures &run);

  private:
    void addComfortStart(const TraceRow &row);
    void resolveComfortStart(const TraceRow &row);

    Report m_report;
    size_t m_rows = 0;
    TraceRow m_first{};
    TraceRow m_last{};
    double m_previousMinute = 0.0;
    // The comfort period begun last while the room has not reached its band.
    bool m_pending = false;
    ComfortStart m_start{};
    double m_startMinute = 0.0;
    std::array<double, RELAY_COUNT> m_deliveredKwh{};
};

// The report of a run: its trace, the relay log of the same run (its times
// on the trace's uptime clock) and the thermostat's configuration.
Report computeReport(const std::vector<TraceRow> &rows, const std::vector<RelayEvent> &relayLog,
                     const ThermostatSetup &setup, const RunFigures &run);
// The report as text, one figure a line. houseLine describes the house.
std::string formatReport(const Report &report, const std::string &houseLine);

// A wall-clock time in local time, with strftime's format.
std::string localStamp(int64_t wall, const char *format);
// One number with a printf format.
std::string formatNumber(const char *format, double value);

} // namespace sim
