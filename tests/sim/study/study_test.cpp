// A study's figures at their edges (minimum run, compressor off guard, the
// warm-up, peak demand, run time saved), its matrix and the check against a
// baseline.
#include "report/report_json.h"
#include "study/study.h"

#include "board_root.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace {

using sim::StudyFigures;
using sim::StudyRun;

size_t at(const char *key) {
    const auto &f = sim::studyFigures();
    for (size_t i = 0; i < f.size(); i++) {
        if (std::string(f[i].key) == key) {
            return i;
        }
    }
    ADD_FAILURE() << key;
    return 0;
}

// A heat pump run of 60 minutes, the compressor's heat in minutes 10 to 29 at
// 1 kWh a minute (3600 kJ), and the relay log given, written as a run writes
// them; its figures with a warm-up of warmupMinutes.
StudyFigures figuresOf(const TempBoardRoot &root, const std::string &relayLog,
                       double warmupMinutes) {
    std::vector<sim::TraceRow> rows;
    for (int m = 1; m <= 60; m++) {
        sim::TraceRow r;
        r.minute = m;
        r.uptimeMs = m * 60000;
        r.wall = 1796601600 + m * 60;
        r.outdoor = -12.0;
        r.relays.fill('0');
        r.energyKj[RELAY_Y1] = m >= 10 && m < 30 ? 3600.0 : 0.0;
        r.onSeconds[RELAY_Y1] = m >= 10 && m < 30 ? 60.0 : 0.0;
        rows.push_back(r);
    }
    sim::Report report;
    report.setup.valid = true;
    report.setup.heatPump = true;
    report.setup.celsius = true;
    sim::HouseParams house;
    house.equipment = sim::Equipment::HeatPump;
    root.write("/sim/report.json", sim::reportToJson(report, house, "test").dump());
    std::ofstream trace(root.file("/sim/trace.csv"));
    sim::writeTrace(trace, rows);
    trace.close();
    root.write("/sim/relay-log", relayLog);
    StudyRun run;
    run.dir = root.path();
    return sim::computeRunFigures(run, warmupMinutes / 60.0);
}

TEST(Study, ProtectionEnergyAndWarmupAtTheirEdges) {
    struct Case {
        const char *log;
        double warmupMinutes;
        double shortRuns, shortOff;
    } cases[] = {
        // Y1 runs of exactly 180 s and 179 s; off for exactly 300 s and 299 s.
        {"0 1 0\n60000 1 1\n240000 1 0\n540000 1 1\n719000 1 0\n1018000 1 1\n", 0, 1, 1},
        // The first state and the first change only start the count.
        {"60000 1 1\n100000 1 0\n", 0, 0, 0},
        // A short run before the end of the warm-up is left out.
        {"60000 1 1\n240000 1 0\n300000 1 1\n310000 1 0\n600000 1 1\n610000 1 0\n", 6, 1, 0},
    };
    for (const Case &c : cases) {
        TempBoardRoot root;
        StudyFigures f = figuresOf(root, c.log, c.warmupMinutes);
        ASSERT_TRUE(f.ok) << f.error;
        EXPECT_EQ(f.values[at("short_runs")], c.shortRuns) << c.log;
        EXPECT_EQ(f.values[at("short_compressor_off")], c.shortOff) << c.log;
    }
    TempBoardRoot root;
    StudyFigures f = figuresOf(root, "", 0);
    // 20 kWh of heat at -12 C: COP 3.4 - 0.075 x 20.3 = 1.8775.
    EXPECT_NEAR(f.values[at("compressor_kwh")], 20.0 / 1.8775, 1e-9);
    // Peak: 15 whole minutes of the compressor, in kW.
    EXPECT_NEAR(f.values[at("peak_kw")], 60.0 / 1.8775, 1e-9);
    EXPECT_NEAR(f.values[at("runtime_h")], 20.0 / 60.0, 1e-9);
}

TEST(Study, MatrixBaselineAndRunTimeSaved) {
    sim::StudySpec spec;
    std::string error;
    const std::pair<int, const char *> values[] = {
        {0, "tight"}, {0, "leaky"}, {1, "summer"}, {2, "heatpump-gas"}, {3, "cycle-rate-6"}};
    for (auto [axis, name] : values) {
        sim::StudyVariant v;
        ASSERT_TRUE(sim::namedVariant(axis, name, "/w", &v, &error)) << error;
        spec.axes[axis].push_back(v);
    }
    sim::StudyVariant bad;
    EXPECT_FALSE(sim::namedVariant(2, "boiler", "/w", &bad, &error));
    std::vector<StudyRun> runs = sim::expandStudy(&spec, "/out");
    ASSERT_EQ(runs.size(), 4u); // two houses, the setting and the baseline
    EXPECT_EQ(runs[0].name, "tight_summer_heatpump-gas_cycle-rate-6_2d");
    EXPECT_TRUE(runs[1].baseline);
    std::string repeat = sim::repeatCommand("tstat-sim", runs[0]);
    EXPECT_NE(repeat.find("--factory=\"--mode cool --system one-stg-heat-pump --cycle-rate 6 "
                          "--time "),
              std::string::npos)
        << repeat;
    EXPECT_NE(repeat.find("--weather /w/summer-heat.csv --indoor 24"), std::string::npos);
    std::vector<StudyFigures> figures(4);
    for (size_t i = 0; i < 4; i++) {
        figures[i].ok = true;
        figures[i].values.assign(sim::studyFigures().size(), NAN);
        figures[i].values[at("runtime_h")] = i % 2 == 0 ? 3.0 : 4.0;
    }
    sim::addRunTimeSaved(runs, &figures);
    EXPECT_DOUBLE_EQ(figures[0].values[at("runtime_saved_pct")], 25.0);
    EXPECT_DOUBLE_EQ(figures[1].values[at("runtime_saved_pct")], 0.0);
}

TEST(Study, CheckNamesFiguresPastTheirTolerance) {
    sim::StudySpec spec;
    spec.tolerances["discomfort"] = 0.5;
    StudyRun run;
    run.name = "r";
    StudyFigures now;
    now.ok = true;
    now.values.assign(sim::studyFigures().size(), NAN);
    TempBoardRoot root;
    struct Case {
        double was, is;
        int findings;
    } cases[] = {{10.0, 11.0, 0}, {10.0, 11.01, 1}, {-10.0, -11.0, 0}};
    for (const Case &c : cases) {
        // 0.5 and 5 % of 10: 1.0.
        now.values[at("discomfort")] = c.is;
        root.write("/base.json", "{\"runs\": [{\"run\": \"r\", \"figures\": {\"discomfort\": " +
                                     std::to_string(c.was) + "}}]}");
        std::string text;
        EXPECT_EQ(sim::checkStudy(root.file("/base.json"), spec, {run}, {now}, &text), c.findings)
            << text;
    }
    now.values[at("short_compressor_off")] = 1.0;
    std::string text;
    EXPECT_EQ(sim::checkStudy(root.file("/base.json"), spec, {run}, {now}, &text), 2) << text;
    EXPECT_NE(text.find("compressor off times below 300 s"), std::string::npos);
    // A run in Fahrenheit in a study in Celsius: 19.8 F h are 11 C h.
    StudyRun second = run;
    second.name = "f";
    StudyFigures celsius = now;
    celsius.celsius = true;
    celsius.values[at("discomfort")] = 11.0;
    celsius.values[at("short_compressor_off")] = NAN;
    StudyFigures fahrenheit = celsius;
    fahrenheit.celsius = false;
    fahrenheit.values[at("discomfort")] = 19.8;
    root.write("/base.json", "{\"runs\": [{\"run\": \"r\", \"figures\": {\"discomfort\": 11}},"
                             " {\"run\": \"f\", \"figures\": {\"discomfort\": 11}}]}");
    std::string mixed;
    EXPECT_EQ(sim::checkStudy(root.file("/base.json"), spec, {run, second}, {celsius, fahrenheit},
                              &mixed),
              0)
        << mixed;
}

} // namespace
