// The soak's plan and bookkeeping: the seeded disturbances keep clear of
// each other and of the day's edges, the console lines pair every dip, the
// console's stamps map onto the relay log's clock across midnight, the
// emergency-stop windows stay inside the dips, and the memory and speed
// figures are read as /proc and the simulator's report write them.
#include "soak_plan.h"

#include <gtest/gtest.h>

namespace {

using namespace soak;

TEST(SoakPlan, DisturbancesAreRepeatableAndKeepClearOfEachOtherAndTheDaysEdges) {
    EXPECT_EQ(drawDisturbances(7, 3).size(), 6u);
    for (uint64_t seed : {0ull, 1ull, 2ull, 1001ull, 123456789ull}) {
        std::vector<Disturbance> d = drawDisturbances(seed, 15);
        std::vector<Disturbance> again = drawDisturbances(seed, 15);
        ASSERT_EQ(d.size(), 30u);
        for (size_t i = 0; i < d.size(); i++) {
            EXPECT_EQ(d[i].atMs, again[i].atMs);
            int64_t day = d[i].atMs / MS_PER_DAY;
            EXPECT_GE(d[i].atMs, day * MS_PER_DAY + DISTURBANCE_GAP_MS) << seed << " " << i;
            EXPECT_LE(d[i].atMs + d[i].lengthMs, (day + 1) * MS_PER_DAY - DISTURBANCE_GAP_MS);
            EXPECT_EQ(d[i].atMs % MS_PER_SECOND, 0);
            if (d[i].kind == DisturbanceKind::UnderVoltage) {
                EXPECT_GE(d[i].lengthMs, DIP_MIN_MS);
                EXPECT_LE(d[i].lengthMs, DIP_MAX_MS);
            }
            if (i % 2 == 1) {
                // A dip and a silence each day, in order and apart.
                EXPECT_EQ(d[i - 1].atMs / MS_PER_DAY, day);
                EXPECT_NE(d[i - 1].kind, d[i].kind);
                EXPECT_GE(d[i].atMs, d[i - 1].atMs + d[i - 1].lengthMs + DISTURBANCE_GAP_MS);
            }
        }
    }
    EXPECT_NE(drawDisturbances(1, 1)[0].atMs, drawDisturbances(2, 1)[0].atMs);
}

TEST(SoakPlan, ConsoleLinesPairEachDipAndChangeTheModeAtEachSeason) {
    std::vector<Season> seasons = defaultSeasons(2);
    std::vector<Disturbance> d = {
        {DisturbanceKind::Silence, MS_PER_HOUR, 30 * MS_PER_SECOND},
        {DisturbanceKind::UnderVoltage, 3 * MS_PER_DAY, 5 * MS_PER_MINUTE}};
    std::vector<ConsoleLine> lines = consoleLines(seasons, d);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].line, "silence 30");
    EXPECT_EQ(lines[0].acknowledgement, "coproc: silent for 30 s");
    EXPECT_EQ(lines[1].line, "channel 219 1"); // spring: automatic, on day 2
    EXPECT_EQ(lines[1].atMs, 2 * MS_PER_DAY + MS_PER_MINUTE);
    EXPECT_EQ(lines[2].line, "voltage 480");
    EXPECT_EQ(lines[2].dip, 1);
    EXPECT_EQ(lines[3].line, "voltage 600");
    EXPECT_EQ(lines[3].atMs, 3 * MS_PER_DAY + 5 * MS_PER_MINUTE);
    EXPECT_EQ(lines[3].dip, -1);
    EXPECT_EQ(lines[4].line, "channel 220 1"); // summer: cool, on day 4
    EXPECT_EQ(lines[4].acknowledgement, "sim> channel 220 1");
}

TEST(SoakPlan, ConsoleStampsMapOntoTheRelayLogsClockAcrossMidnight) {
    struct Case {
        const char *line;
        int seconds;
    };
    for (const Case &c : std::initializer_list<Case>{{"00:00:00 x", 0},
                                                     {"23:59:59 coproc: x", 86399},
                                                     {"24:00:00 x", -1},
                                                     {"12:60:00 x", -1},
                                                     {"9:00:00 x", -1},
                                                     {"12:00:00", -1},
                                                     {"coproc: 12:00:00 x", -1}}) {
        EXPECT_EQ(stampSeconds(c.line), c.seconds) << c.line;
    }
    setenv("TZ", "UTC0", 1);
    tzset();
    // A row at 23:59:30 on 2026-12-07 (local time is UTC here), uptime 5000 s.
    const int64_t wall = 1796687970;
    sim::TraceRow row;
    row.wall = wall;
    row.uptimeMs = 5000000;
    std::vector<sim::TraceRow> rows = {row};
    // Stamped after midnight and seen late or early; stamped before midnight and seen after it.
    EXPECT_EQ(stampToUptimeMs(10, 5040000 + 50000, rows), 5040000);
    EXPECT_EQ(stampToUptimeMs(10, 5040000 - 50000, rows), 5040000);
    EXPECT_EQ(stampToUptimeMs(86399, 5040000, rows), 5029000);
    EXPECT_EQ(stampToUptimeMs(10, 5000000, {}), -1);
}

TEST(SoakPlan, EmergencyStopWindowsStayInsideTheDips) {
    const int64_t before = ESTOP_ENGAGE_MS + STAMP_UNCERTAINTY_MS;
    const int64_t after = STAMP_UNCERTAINTY_MS;
    // The shortest dip that leaves a window, and one a millisecond shorter.
    auto w = estopWindows({{1000, 1000 + before + after + 1}, {5000, 5000 + before + after}});
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].first, 1000 + before);
    EXPECT_EQ(w[0].second, 1000 + before + 1);
}

TEST(SoakPlan, MemoryAndSpeedFiguresAreReadAsWritten) {
    MemorySample s;
    EXPECT_TRUE(parseProcStatus("Name:\ttstat\nVmPeak:\t  30000 kB\nVmHWM:\t    9300 kB\n"
                                "VmRSS:\t    9280 kB\nThreads:\t1\n",
                                &s));
    EXPECT_EQ(s.rssKb, 9280);
    EXPECT_EQ(s.hwmKb, 9300);
    EXPECT_FALSE(parseProcStatus("Name:\ttstat\nVmRSS:\t 9280 kB\n", &s));

    struct Case {
        MemorySample dayOne, end;
        int64_t growth;
    };
    for (const Case &c : std::initializer_list<Case>{{{9000, 9100}, {9000, 9100}, 0},
                                                     {{9000, 9100}, {8900, 9100}, 0},
                                                     {{9000, 9100}, {9064, 9100}, 64},
                                                     {{9000, 9100}, {9000, 9300}, 200},
                                                     {{-1, -1}, {9000, 9100}, -1}}) {
        MemoryFigures m;
        m.dayOne = c.dayOne;
        m.end = c.end;
        EXPECT_EQ(memoryGrowthKb(m), c.growth) << c.end.rssKb << " " << c.end.hwmKb;
    }

    RunSpeed speed = parseRunSpeed(
        "run: 86400 simulated s in 24.0 host s, 3600 simulated s per host s, longest step "
        "32.1 simulated s; the thermostat's periodic requests at 83 % of their rate at normal "
        "speed\n");
    EXPECT_DOUBLE_EQ(speed.requestsPercent, 83.0);
    EXPECT_DOUBLE_EQ(speed.longestStepS, 32.1);
    EXPECT_EQ(parseRunSpeed("relay check: no violations\n").requestsPercent, -1.0);
}

TEST(SoakPlan, SeasonsWeatherOneAfterAnotherAndTheirTraceSlices) {
    std::vector<Season> seasons = defaultSeasons(3);
    std::vector<sim::WeatherDay> weathers(seasons.size());
    for (size_t i = 0; i < seasons.size(); i++) {
        std::string error;
        ASSERT_TRUE(
            weathers[i].load(TSTAT_SOURCE_DIR "/sim/weather/" + seasons[i].weatherFile, &error))
            << error;
    }
    sim::WeatherDay composed;
    std::string error;
    ASSERT_TRUE(composed.parse(composeWeather(seasons, weathers), "soak", &error)) << error;
    EXPECT_DOUBLE_EQ(composed.period(), 9 * 24.0);
    // The cold snap's second day, then each season from its own first hour.
    for (auto [season, hour] : {std::pair{0, 30}, {0, 71}, {1, 0}, {1, 50}, {2, 0}, {2, 71}}) {
        double at = season * 72.0 + hour;
        EXPECT_NEAR(composed.at(at).temperature, weathers[season].at(hour).temperature, 0.01)
            << seasons[season].name << " " << hour;
        EXPECT_NEAR(composed.at(at).solar, weathers[season].at(hour).solar, 0.5);
    }

    std::vector<sim::TraceRow> rows(6);
    for (size_t i = 0; i < rows.size(); i++) {
        rows[i].minute = static_cast<double>(i + 1);
    }
    std::vector<sim::TraceRow> slice = traceSlice(rows, 2, 5);
    ASSERT_EQ(slice.size(), 3u);
    EXPECT_DOUBLE_EQ(slice.front().minute, 1.0);
    EXPECT_DOUBLE_EQ(slice.back().minute, 3.0);
}

} // namespace
