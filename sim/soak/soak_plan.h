// The soak's plan and its bookkeeping, apart from the processes that carry
// it out: the seasons of a run and their weather, the disturbances drawn from
// a fixed seed, the console lines they become, the under-voltage windows in
// the relay log's milliseconds, the application's memory figures, and the
// figures read back from the simulator's report.
#pragma once

#include "house/climate.h"
#include "report/report.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace soak {

constexpr int64_t MS_PER_SECOND = 1000;
constexpr int64_t MS_PER_MINUTE = 60 * MS_PER_SECOND;
constexpr int64_t MS_PER_HOUR = 60 * MS_PER_MINUTE;
constexpr int64_t MS_PER_DAY = 24 * MS_PER_HOUR;

// The disturbances keep this far from each other and from the edges of a
// day, where the season (and the system mode) changes.
constexpr int64_t DISTURBANCE_GAP_MS = 30 * MS_PER_MINUTE;
// An under-voltage dip lasts two to ten minutes.
constexpr int64_t DIP_MIN_MS = 2 * MS_PER_MINUTE;
constexpr int64_t DIP_MAX_MS = 10 * MS_PER_MINUTE;
// The stop engages when the thermostat reads the next line-voltage report,
// sent within a second of the console line; a loaded host may hold the
// thermostat up for some simulated seconds more before it reads it, and a
// decision taken before then may still be carried out.
constexpr int64_t ESTOP_ENGAGE_MS = 15 * MS_PER_SECOND;
// Console lines carry whole seconds: a moment read from one may be up to a
// second late or early against the relay log.
constexpr int64_t STAMP_UNCERTAINTY_MS = MS_PER_SECOND;

// A small, fixed pseudo-random sequence (splitmix64), the same on every
// host and standard library.
class Random {
  public:
    explicit Random(uint64_t seed) : m_state(seed) {}
    uint64_t next();
    // An integer from lo to hi, both included (lo <= hi).
    int64_t between(int64_t lo, int64_t hi);

  private:
    uint64_t m_state;
};

struct Season {
    std::string name;        // "winter"
    std::string weatherFile; // a day file under sim/weather
    int modeChannel;         // the control-bus channel of its system mode
    std::string modeName;    // "heat"
    int days;
};

// The seasons of one run: winter on the cold snap in heat, spring on the
// spring swing in automatic, summer on the hot days in cool.
std::vector<Season> defaultSeasons(int daysPerSeason);
int totalDays(const std::vector<Season> &seasons);

// One weather file of the seasons one after another, a row an hour:
// season i's file is replayed from its own hour 0 at the season's first
// hour. weathers[i] belongs to seasons[i].
std::string composeWeather(const std::vector<Season> &seasons,
                           const std::vector<sim::WeatherDay> &weathers);

enum class DisturbanceKind { UnderVoltage, Silence };

struct Disturbance {
    DisturbanceKind kind;
    int64_t atMs;     // since the start of the run
    int64_t lengthMs; // how long the dip or the silence lasts
};

// One under-voltage dip and one coprocessor silence a day, at times and of
// lengths drawn from the seed, DISTURBANCE_GAP_MS apart from each other and
// from the day's edges. In time order.
std::vector<Disturbance> drawDisturbances(uint64_t seed, int days);

// A console line for the simulator at a time of the run, and the part of
// the line it prints when it carries the line out.
struct ConsoleLine {
    int64_t atMs;
    std::string line;
    std::string acknowledgement;
    // Under-voltage bookkeeping: +1 the dip begins, -1 it ends, 0 neither.
    int dip = 0;
};

// The run's console lines in time order: the system mode of each season
// after the first at its first minute, and each disturbance (a dip is two
// lines, "voltage 480" and "voltage 600").
std::vector<ConsoleLine> consoleLines(const std::vector<Season> &seasons,
                                      const std::vector<Disturbance> &disturbances);

// "HH:MM:SS ..." at the start of a console line, in seconds of the day; -1
// when the line has no time stamp.
int stampSeconds(const std::string &line);

// The simulated monotonic milliseconds (the relay log's clock) of a console
// line stamped secondOfDay, seen at about approxMs on the same clock; the
// trace's rows tie the simulator's local time to that clock. -1 without rows.
int64_t stampToUptimeMs(int secondOfDay, int64_t approxMs, const std::vector<sim::TraceRow> &rows);

// The emergency-stop windows for the relay checker from the moments each dip
// began and ended (relay-log milliseconds, in pairs): from ESTOP_ENGAGE_MS
// after the dip began to the moment it ended, less the stamps' uncertainty.
// A dip too short for that gives no window.
std::vector<std::pair<int64_t, int64_t>>
estopWindows(const std::vector<std::pair<int64_t, int64_t>> &dips);

// The application's memory, from /proc/PID/status.
struct MemorySample {
    int64_t rssKb = -1; // VmRSS
    int64_t hwmKb = -1; // VmHWM
};
bool parseProcStatus(const std::string &text, MemorySample *sample);

// What the soak saw of the application's memory over a run.
struct MemoryFigures {
    MemorySample startUp;   // once start-up is over
    MemorySample dayOne;    // after the first simulated day
    MemorySample end;       // the last sample before the run ended
    int64_t peakRssKb = -1; // the most VmRSS seen after the first day
};
// The growth after the first day (kB): the most that VmRSS or VmHWM rose
// above the first day's VmHWM; -1 when a figure is missing.
int64_t memoryGrowthKb(const MemoryFigures &m);

// The run's speed from the simulator's report text: how often the
// thermostat's once-a-second requests came compared with normal speed (%),
// and the longest simulated step of the simulator's loop (s). -1 when the
// report does not say.
struct RunSpeed {
    double requestsPercent = -1;
    double longestStepS = -1;
};
RunSpeed parseRunSpeed(const std::string &reportText);

// The rows of the stretch of the trace from fromMinute to toMinute (a row
// stands for the minute that ends at its own), with minutes counted from the
// stretch's start, for a report of that stretch alone.
std::vector<sim::TraceRow> traceSlice(const std::vector<sim::TraceRow> &rows, double fromMinute,
                                      double toMinute);

} // namespace soak
