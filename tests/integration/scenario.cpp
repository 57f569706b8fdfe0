// Running a day of the thermostat against the simulated house.
#include "scenario.h"

#include "board_root.h"
#include "config/persist.h"
#include "run_tool.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

int64_t parseStart(const std::string &text) {
    struct tm t {};
    if (strptime(text.c_str(), "%Y-%m-%d %H:%M", &t) == nullptr) {
        return -1;
    }
    return static_cast<int64_t>(timegm(&t));
}

// "HH:MM:SS" at the start of a console line, after the date of a run of a
// day or more, in seconds of the day; -1 if none.
int lineSeconds(const std::string &line) {
    int y, mo, d, h, m, s;
    if (sscanf(line.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &y, &mo, &d, &h, &m, &s) == 6 ||
        sscanf(line.c_str(), "%2d:%2d:%2d", &h, &m, &s) == 3) {
        return h * 3600 + m * 60 + s;
    }
    return -1;
}

// Follows the console's time of day across midnight from the start of the
// run: each line's time is taken as the nearest one to the previous line's.
class RunClock {
  public:
    explicit RunClock(int64_t start) : m_secondOfDay(static_cast<int>(start % 86400)) {}
    // Seconds since the start of the run for a console line's time of day.
    double at(int secondsOfDay) {
        int delta = secondsOfDay - m_secondOfDay;
        if (delta > 43200) {
            delta -= 86400;
        } else if (delta <= -43200) {
            delta += 86400;
        }
        m_secondOfDay = secondsOfDay;
        m_run += delta;
        return static_cast<double>(m_run);
    }

  private:
    int m_secondOfDay;
    int64_t m_run = 0;
};

} // namespace

ScenarioResult runScenario(const ScenarioSetup &setup) {
    ScenarioResult result;
    TempBoardRoot root;
    ScopedTimeZone utc("UTC0");
    int64_t start = parseStart(setup.start);
    EXPECT_GT(start, 0) << setup.start;

    // The thermostat's factory image.
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    root.write("/dev/mtdblock5", "");
    std::vector<std::string> factory = setup.factory;
    factory.push_back(root.file("/dev/mtdblock4"));
    EXPECT_EQ(runTool(TSTAT_BUILD_DIR "/bin/tstat-factory", factory).status, 0);
    std::string image = root.read("/dev/mtdblock4");
    TstatSysCfgPersistMem_t record{};
    memcpy(&record, image.data(), std::min(image.size(), sizeof(record)));
    // The console lines as a script of the run, in lock-step time.
    std::ostringstream script;
    double previousMinute = 0.0;
    for (const ScenarioSetup::ConsoleLine &c : setup.console) {
        script << "+" << (c.minute - previousMinute) * 60.0 << " " << c.line << "\n";
        previousMinute = c.minute;
    }
    root.write("/script.txt", script.str());
    std::vector<std::string> args = {"run",
                                     "--root",
                                     root.path(),
                                     "--tstat",
                                     std::string(TSTAT_BUILD_DIR) + "/bin/tstat",
                                     "--data",
                                     std::string(TSTAT_BUILD_DIR) + "/data",
                                     "--hours",
                                     std::to_string(setup.hours),
                                     "--start",
                                     setup.start,
                                     "--script",
                                     root.file("/script.txt"),
                                     "--no-http",
                                     "--no-status"};
    args.insert(args.end(), setup.house.begin(), setup.house.end());
    ToolResult sim = runTool(TSTAT_SIM_BINARY, args);
    EXPECT_EQ(sim.status, 0) << "the run did not end by itself; output:\n" << sim.out << sim.err;

    result.output = sim.out;
    std::istringstream out(result.output);
    RunClock clock(start);
    size_t consoleSeen = 0;
    for (std::string line; std::getline(out, line);) {
        int seconds = lineSeconds(line);
        if (seconds < 0) {
            continue;
        }
        double runSeconds = clock.at(seconds);
        if (consoleSeen < setup.console.size() &&
            line.find(setup.console[consoleSeen].acknowledgement) != std::string::npos) {
            result.consoleMinutes.push_back(runSeconds / 60.0);
            consoleSeen++;
        }
    }
    std::ifstream trace(root.file("/sim/trace.csv"));
    std::string error;
    EXPECT_TRUE(sim::readTrace(trace, &result.trace, &error)) << error;
    std::ifstream log(root.file("/sim/relay-log"));
    EXPECT_TRUE(parseRelayLog(log, result.relayLog, error)) << error;
    result.reportText = root.read("/sim/report.txt");
    result.report =
        sim::computeReport(result.trace, result.relayLog, sim::setupFromRecord(record), {});
    EXPECT_GE(result.report.hours, setup.hours - 0.05);
    return result;
}

bool closedAt(const sim::TraceRow &row, int relay) {
    return relay >= 0 && relay < static_cast<int>(RELAY_COUNT) && row.relays[relay] == '1';
}

std::string describe(const sim::TraceRow &row) {
    std::ostringstream out;
    out << "minute " << row.minute << ": indoor " << row.indoor << " C, band " << row.bandLow
        << " to " << row.bandHigh << " C, outdoor " << row.outdoor << " C, rh " << row.rh
        << " %, relays " << std::string(row.relays.begin(), row.relays.end());
    return out.str();
}

std::string safetyViolations(const ScenarioResult &result, const RelayCheckOptions &options) {
    std::string text;
    for (const RelayViolation &v : checkRelayLog(result.relayLog, options)) {
        text += std::to_string(v.ms) + " ms: " + v.what + "\n";
    }
    return text;
}
