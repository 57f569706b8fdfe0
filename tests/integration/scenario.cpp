// Running a day of the thermostat against the simulated house.
#include "scenario.h"

#include "board_root.h"
#include "config/persist.h"
#include "sim_process.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int64_t parseStart(const std::string &text) {
    struct tm t {};
    if (strptime(text.c_str(), "%Y-%m-%d %H:%M", &t) == nullptr) {
        return -1;
    }
    return static_cast<int64_t>(timegm(&t));
}

// "HH:MM:SS" at the start of a console line, in seconds of the day; -1 if none.
int lineSeconds(const std::string &line) {
    int h, m, s;
    if (line.size() < 9 || sscanf(line.c_str(), "%2d:%2d:%2d", &h, &m, &s) != 3) {
        return -1;
    }
    return h * 3600 + m * 60 + s;
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

bool parseHouse(const std::string &line, HouseSample *s) {
    const char *text = strstr(line.c_str(), "house: indoor ");
    if (text == nullptr) {
        return false;
    }
    const char *outdoor = strstr(text, "outdoor ");
    const char *rh = strstr(text, "rh ");
    const char *relays = strstr(text, "relays ");
    if (outdoor == nullptr || rh == nullptr || relays == nullptr) {
        return false;
    }
    char contacts[16] = {};
    if (sscanf(text, "house: indoor %lf", &s->indoor) != 1 ||
        sscanf(outdoor, "outdoor %lf", &s->outdoor) != 1 || sscanf(rh, "rh %lf", &s->rh) != 1 ||
        sscanf(relays, "relays %10s", contacts) != 1) {
        return false;
    }
    s->relays = contacts;
    return true;
}

std::vector<uint8_t> readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

} // namespace

ScenarioResult runScenario(const ScenarioSetup &setup) {
    ScenarioResult result;
    TempBoardRoot root;
    setenv("TZ", "UTC0", 1);
    tzset();
    int64_t start = parseStart(setup.start);
    EXPECT_GT(start, 0) << setup.start;

    // The thermostat's factory image, and a hardware clock that makes the
    // simulated local time begin at the start of the scenario.
    root.write("/dev/mtdblock5", "");
    std::string command = std::string(TSTAT_BUILD_DIR) + "/bin/tstat-factory";
    for (const std::string &option : setup.factory) {
        command += " " + option;
    }
    command += " " + root.file("/dev/mtdblock4") + " > /dev/null";
    EXPECT_EQ(system(command.c_str()), 0) << command;
    result.factoryImage = readFile(root.file("/dev/mtdblock4"));
    TstatSysCfgPersistMem_t record{};
    memcpy(&record, result.factoryImage.data(),
           std::min(result.factoryImage.size(), sizeof(record)));
    result.heatPump = record.tstatCfg.systemType == SYSTEM_TYPE_ONE_STG_HEAT_PUMP ||
                      record.tstatCfg.systemType == SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
    root.write("/sim/rtc", std::to_string(start - static_cast<int64_t>(time(nullptr))) + "\n");

    std::vector<std::string> args = {"--tstat", std::string(TSTAT_BUILD_DIR) + "/bin/tstat",
                                     "--data", std::string(TSTAT_BUILD_DIR) + "/data"};
    args.insert(args.end(), setup.house.begin(), setup.house.end());
    SimProcess sim(root.path(), "run", args, setup.timeScale);
    EXPECT_TRUE(sim.waitReady()) << sim.output();

    // Run until the simulated hours have passed, carrying out the console
    // lines on the way. The run's time is read from the house status lines.
    double wantedMinutes = setup.hours * 60.0;
    size_t nextConsole = 0;
    auto hostLimit = Clock::now() + std::chrono::milliseconds(static_cast<int64_t>(
                                        wantedMinutes * 60000.0 / setup.timeScale * 3.0 + 20000));
    double reached = 0;
    while (reached < wantedMinutes && Clock::now() < hostLimit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::istringstream out(sim.output());
        RunClock clock(start);
        for (std::string line; std::getline(out, line);) {
            int seconds = lineSeconds(line);
            if (seconds >= 0 && line.find("house: ") != std::string::npos) {
                reached = clock.at(seconds) / 60.0;
            } else if (seconds >= 0) {
                clock.at(seconds);
            }
        }
        while (nextConsole < setup.console.size() && reached >= setup.console[nextConsole].minute) {
            sim.send(setup.console[nextConsole].line);
            nextConsole++;
        }
    }
    EXPECT_GE(reached, wantedMinutes) << "the run fell behind; output:\n" << sim.output();
    sim.stop();

    result.output = sim.output();
    std::istringstream out(result.output);
    RunClock clock(start);
    size_t consoleSeen = 0;
    for (std::string line; std::getline(out, line);) {
        int seconds = lineSeconds(line);
        if (seconds < 0) {
            continue;
        }
        double runSeconds = clock.at(seconds);
        HouseSample s{};
        if (parseHouse(line, &s)) {
            s.minute = runSeconds / 60.0;
            int64_t local = start + static_cast<int64_t>(runSeconds);
            s.weekday = static_cast<int>(((local / 86400) + 4) % 7); // 1970-01-01 was a Thursday
            s.minuteOfDay = static_cast<int>((local % 86400) / 60);
            result.samples.push_back(s);
        } else if (consoleSeen < setup.console.size() &&
                   line.find(setup.console[consoleSeen].acknowledgement) != std::string::npos) {
            result.consoleMinutes.push_back(runSeconds / 60.0);
            consoleSeen++;
        }
    }
    std::ifstream log(root.file("/sim/relay-log"));
    std::string error;
    EXPECT_TRUE(parseRelayLog(log, result.relayLog, error)) << error;
    unsetenv("TZ");
    tzset();
    return result;
}

ProgramPoint programAt(const std::vector<uint8_t> &image, int weekday, int minuteOfDay) {
    TstatSysCfgPersistMem_t record{};
    memcpy(&record, image.data(), std::min(image.size(), sizeof(record)));
    // Periods of this day and the day before, as (start minute relative to
    // this day's midnight, heat, cool).
    struct Point {
        int start;
        double heat;
        double cool;
    };
    std::vector<Point> points;
    for (int dayOffset = -1; dayOffset <= 1; dayOffset++) {
        int day = (weekday + 7 + dayOffset) % 7;
        for (const TstatSetPoint_t &p : record.prgSetPnt[day].period) {
            points.push_back({dayOffset * 1440 + p.startHour * 60 + p.startMinute,
                              p.heatSetPoint / 8192.0, p.coolSetPoint / 8192.0});
        }
    }
    ProgramPoint result{};
    for (size_t i = 0; i + 1 < points.size(); i++) {
        if (points[i].start <= minuteOfDay && minuteOfDay < points[i + 1].start) {
            result = {points[i].heat,     points[i].cool,     minuteOfDay - points[i].start,
                      points[i + 1].heat, points[i + 1].cool, points[i + 1].start - minuteOfDay};
        }
    }
    return result;
}

std::string safetyViolations(const ScenarioResult &result, const RelayCheckOptions &options) {
    std::string text;
    for (const RelayViolation &v : checkRelayLog(result.relayLog, options)) {
        text += std::to_string(v.ms) + " ms: " + v.what + "\n";
    }
    return text;
}
