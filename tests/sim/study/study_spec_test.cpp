// A study's matrix: its named values, the study file's faults named by
// file, line and key, the season, the seeds and their perturbations, the
// study spelled out and read back, and the check before any run.
#include "study/study.h"

#include "board_root.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

using sim::NamingContext;
using sim::StudySpec;
using sim::StudyVariant;

std::string joined(const std::vector<std::string> &words) {
    std::string out;
    for (const std::string &w : words) {
        out += (out.empty() ? "" : " ") + w;
    }
    return out;
}

TEST(StudySpec, NamedValues) {
    TempBoardRoot out;
    NamingContext context{"/w", out.path(), "2026-01-12 00:00"};
    struct Case {
        int axis;
        const char *name;
        const char *what; // in its options, factory options or script; nullptr: refused
    } cases[] = {
        {sim::AXIS_HOUSE, "tight", "--house tight"},
        {sim::AXIS_HOUSE, "drafty", nullptr},
        {sim::AXIS_WEATHER, "sine:4:6:cool", "--outdoor 4 --swing 6 --indoor 24 | --mode cool"},
        {sim::AXIS_WEATHER, "sine:4", nullptr},
        {sim::AXIS_WEATHER, "sine:4:6:heat", nullptr},
        {sim::AXIS_WEATHER, "summer", "--weather /w/summer-heat.csv --indoor 24 | --mode cool"},
        // 11 days into the typical year.
        {sim::AXIS_WEATHER, "typical:minneapolis", "--weather-from 264"},
        {sim::AXIS_WEATHER, "typical:atlantis", nullptr},
        {sim::AXIS_WEATHER, "epw:/no/such.epw", nullptr},
        {sim::AXIS_EQUIPMENT, "heatpump-gas", "--aux gas | --system one-stg-heat-pump"},
        {sim::AXIS_EQUIPMENT, "boiler", nullptr},
        {sim::AXIS_SETTING, "cycle-rate-9", " | --cycle-rate 9"},
        {sim::AXIS_SETTING, "cycle-rate-4x", nullptr},
        {sim::AXIS_SETTING, "balance-14", " | --balance-point 14"},
        {sim::AXIS_SETTING, "diff-0.75", " | --differential 0.75"},
        {sim::AXIS_SETTING, "diff-", nullptr},
        {sim::AXIS_SETTING, "hold-64", " | --hold | +0:00:10 command MD MPH H64 C78"},
        {sim::AXIS_SETTING, "hold-64:80", "C80"},
        {sim::AXIS_SETTING, "hold-64:", nullptr},
        {sim::AXIS_SETTING, "no-recovery", " | --recovery off"},
    };
    for (const Case &c : cases) {
        StudyVariant v;
        std::string error;
        bool ok = sim::namedVariant(c.axis, c.name, context, &v, &error);
        EXPECT_EQ(ok, c.what != nullptr) << c.name << ": " << error;
        std::string all =
            joined(v.simArgs) + " | " + joined(v.factoryArgs) + " | " + joined(v.script);
        EXPECT_TRUE(!ok || all.find(c.what) != std::string::npos) << c.name << ": " << all;
    }
    StudyVariant v;
    std::string error;
    EXPECT_FALSE(sim::namedVariant(sim::AXIS_WEATHER, "typical:atlantis", context, &v, &error));
    EXPECT_NE(error.find("minneapolis, nashville, seattle"), std::string::npos) << error;
    // A weather file by its path, as the typical year above was written.
    EXPECT_TRUE(sim::namedVariant(sim::AXIS_WEATHER,
                                  "epw:" + out.file("/weather/typical-minneapolis.csv"), context,
                                  &v, &error))
        << error;
}

TEST(StudySpec, StudyFileFaultsNameTheLineAndTheKey) {
    TempBoardRoot dir;
    struct Case {
        const char *text;
        const char *message; // after "FILE:"
    } cases[] = {
        {"{\n \"houses\": [\"tight\"],\n \"colour\": 1}", "3: colour: unknown key in the study"},
        {"{\"settings\": [{\"name\": \"x\",\n \"factroy\": []}]}", "2: factroy: unknown key in"},
        {"{\"settings\": [{\"like\": \"program\"}]}", "1: settings: each object needs a \"name\""},
        {"{\"weather\": [\n\"sine:4\"]}", "2: sine:4: no weather value named"},
        {"{\"warmup_hours\": 241}", "1: warmup_hours: expected a number from 0 to 240"},
        {"{\"days\": [0]}", "1: days: expected a list of whole days"},
        {"{\"start\": \"2026-01-12\"}", "1: start: expected \"YYYY-MM-DD HH:MM\""},
        {"{\"seed\": 5.5}", "1: seed: expected a whole number"},
        {"{\"seed\": 0}", "1: seed: expected a number from 1"},
        {"{\"seeds\": 65}", "1: seeds: expected a count"},
        {"{\"tolerances\": {\"comfort\": 1}}", "1: comfort: no figure of that name"},
        {"{\"comfort\": {\"heating\": {\"occupied\": [76, 68]}}}",
         "1: occupied: expected [low, high]"},
        {"{\"comfort\": {\"unit\": \"K\"}}", "1: unit: expected \"F\" or \"C\""},
        {"{\"comfort\": {\"schedule\": {\"weekday\": [\"06:00\", \"05:00\", \"18:00\", "
         "\"22:00\"]}}}",
         "1: weekday: expected the times of Wake, Leave, Return and Sleep"},
        {"{\"comfort\": {\"schedule\": {\"weekend\": []}}}",
         "1: weekend: expected the times of Wake, Leave, Return and Sleep"},
        {"{\"tariffs\": {\"gas_unit\": \"m3\"}}", "1: gas_unit: expected \"therm\" or \"kWh\""},
        {"{\"tariffs\": {\"tou\": {\"peak_hours\": [16.5, 21]}}}", "1: peak_hours: expected whole"},
        {"{\"emissions\": {\"gas\": -1}}", "1: gas: expected a number from 0 to 5"},
        {"{\"tariffs\": {\"electricity\": 10.01}}",
         "1: electricity: expected a number from 0 to 10"},
        {"{\"houses\": \"tight\"}", "1: houses: expected a list"},
        {"{\"houses\": [", " not JSON: "},
    };
    for (const Case &c : cases) {
        dir.write("/s.json", c.text);
        StudySpec plan;
        std::string error;
        EXPECT_FALSE(sim::loadStudyFile(dir.file("/s.json"), NamingContext{"/w", dir.path(), ""},
                                        &plan, &error))
            << c.text;
        EXPECT_EQ(error.rfind(dir.file("/s.json:") + c.message, 0), 0u) << error;
    }
}

TEST(StudySpec, ConditionsInTheStudysUnitAndSpelledOut) {
    TempBoardRoot dir;
    dir.write("/s.json", R"({
      // a comment
      "//": "a note",
      "houses": ["tight", {"name": "mild", "like": "typical", "sim": ["--ua", "90"]}],
      "settings": ["program", {"name": "hold", "factory": ["--hold"], "script": ["+0 key up"]}],
      "comfort": {"unit": "C", "heating": {"occupied": [20, 24]}},
      "tariffs": {"gas": 0.05, "gas_unit": "kWh", "tou": {"peak_hours": [17, 20], "weekends": true}},
      "emissions": {"electricity": 0.5},
      "seeds": 3, "seed": 7, "days": [7, 14], "warmup_hours": 0
    })");
    StudySpec plan;
    std::string error;
    ASSERT_TRUE(
        sim::loadStudyFile(dir.file("/s.json"), NamingContext{"/w", dir.path(), ""}, &plan, &error))
        << error;
    EXPECT_EQ(plan.seeds, (std::vector<uint32_t>{7, 8, 9}));
    EXPECT_EQ(plan.comfort.heatOccupied[1], 24.0);
    EXPECT_NEAR(plan.comfort.heatUnoccupied[0], 15.0 + 5.0 / 9.0, 1e-12);
    EXPECT_EQ(plan.tariffs.gas, 0.05);
    EXPECT_TRUE(plan.tariffs.peakWeekends);
    EXPECT_EQ(joined(plan.axes[sim::AXIS_HOUSE][1].simArgs), "--house typical --ua 90");
    EXPECT_NE(plan.axes[sim::AXIS_HOUSE][1].where.find("s.json:4: houses \"mild\""),
              std::string::npos)
        << plan.axes[sim::AXIS_HOUSE][1].where;
    // Spelled out and read back, the same study.
    sim::Json once = sim::studyToJson(plan);
    dir.write("/again.json", once.dump(2));
    StudySpec again;
    ASSERT_TRUE(sim::loadStudyFile(dir.file("/again.json"), NamingContext{}, &again, &error))
        << error;
    EXPECT_EQ(sim::studyHash(sim::studyToJson(again)), sim::studyHash(once));
    plan.tariffs.peak += 0.01;
    EXPECT_NE(sim::studyHash(sim::studyToJson(plan)), sim::studyHash(once));
}

TEST(StudySpec, SeasonsInWholeWeeksFromAMonday) {
    struct Case {
        const char *start, *season, *first;
        int days;
    } cases[] = {
        // 1 October 2025 is a Wednesday; to 30 April 2026, 214 days.
        {"2025-06-01 00:00", "10-01:04-30", "2025-09-29 00:00", 217},
        {"2026-01-12 00:00", "01-05:01-18", "2026-01-05 00:00", 14},
        {"2026-01-12 00:00", "01-05:01-19", "2026-01-05 00:00", 21},
    };
    for (const Case &c : cases) {
        StudySpec plan;
        plan.start = c.start;
        std::string error;
        ASSERT_TRUE(sim::applySeason(c.season, &plan, &error)) << error;
        EXPECT_EQ(plan.start, c.first) << c.season;
        EXPECT_EQ(plan.days, std::vector<int>{c.days}) << c.season;
    }
    StudySpec plan;
    std::string error;
    for (const char *bad : {"10-01", "13-01:04-30", "02-30:04-30", "10-01:04-30x"}) {
        EXPECT_FALSE(sim::applySeason(bad, &plan, &error)) << bad;
    }
}

TEST(StudySpec, SeedsPerturbEveryRunAlikeAndRepeat) {
    std::vector<std::string> args{"--indoor", "24", "--house", "tight", "--internal", "800"};
    std::vector<std::string> five = sim::perturbedArgs(args, 5);
    EXPECT_EQ(five, sim::perturbedArgs(args, 5));
    EXPECT_NE(five, sim::perturbedArgs(args, 6));
    for (uint32_t seed = 1; seed < 200; seed++) {
        std::vector<std::string> p = sim::perturbedArgs(args, seed);
        ASSERT_EQ(p.size(), 10u);
        EXPECT_LE(std::fabs(std::stod(p[1]) - 24.0), 1.0);
        EXPECT_LE(std::fabs(std::stod(p[5]) - 800.0), 160.0);
        EXPECT_EQ(p[6], "--sensor-offset");
        EXPECT_LE(std::fabs(std::stod(p[7])), 0.5);
        EXPECT_EQ(p[8] + " " + p[9], "--weather-noise 1");
    }
    // Two seeds of two settings, the baseline added.
    StudySpec plan;
    std::string error;
    for (auto [axis, name] : std::vector<std::pair<int, const char *>>{
             {0, "tight"}, {1, "winter"}, {2, "furnace"}, {3, "hold-64"}}) {
        StudyVariant v;
        ASSERT_TRUE(sim::namedVariant(axis, name, NamingContext{}, &v, &error));
        plan.axes[axis].push_back(v);
    }
    plan.seeds = {5, 6};
    std::vector<sim::StudyRun> runs = sim::expandStudy(&plan, "/out");
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[1].name, "tight_winter_furnace_hold-64_2d_s6");
    EXPECT_TRUE(runs[3].baseline);
    std::string repeat = sim::repeatCommand("tstat-sim", runs[1]);
    EXPECT_NE(repeat.find(" --factory='--system one-stg-furnace --hold --time "), std::string::npos)
        << repeat;
    EXPECT_NE(repeat.find(" --start '2026-01-12 00:00' --seed 6 --root "
                          "/out/runs/tight_winter_furnace_hold-64_2d_s6 --no-http"),
              std::string::npos)
        << repeat;
    EXPECT_NE(repeat.find("--script /out/runs/tight_winter_furnace_hold-64_2d_s6/script.txt"),
              std::string::npos);
    sim::StudyRun quote;
    quote.args = {"it's"};
    EXPECT_EQ(sim::repeatCommand("x", quote), "x run 'it'\\''s'");
}

TEST(StudySpec, CheckedBeforeAnyRun) {
    TempBoardRoot dir;
    // A factory tool that refuses a cycle rate of 9 as the real one does, and
    // notes the board root it was given.
    dir.write("/factory", "#!/bin/sh\necho \"$TSTAT_ROOT\" >>" + dir.file("/roots") +
                              "\ncase \"$*\" in *'--cycle-rate 9'*) echo '--cycle-rate: 9 "
                              "not in [3 - 6]' >&2; exit 2;;\n*'--scale C'*'--cycle-rate 5'*) echo "
                              "together >&2; exit 2;; esac\nexit 0\n");
    chmod(dir.file("/factory").c_str(), 0755);
    dir.write("/gap.csv", "0,1,50,0\n1,1,50,0\n1,2,50,0\n");
    dir.write("/s.json", "{\"settings\": [\"program\",\n  \"cycle-rate-9\"],\n"
                         " \"weather\": [{\"name\": \"gap\", \"sim\": [\"--weather\", \"" +
                             dir.file("/gap.csv") + "\"]}]}");
    StudySpec plan;
    std::string error;
    ASSERT_TRUE(sim::loadStudyFile(dir.file("/s.json"), NamingContext{"/w", dir.path(), ""}, &plan,
                                   &error));
    std::vector<sim::StudyRun> runs = sim::expandStudy(&plan, dir.path());
    EXPECT_FALSE(sim::validateStudy(plan, runs, dir.file("/factory"), dir.path(), &error));
    EXPECT_EQ(error, dir.file("/s.json:3: weather \"gap\": ") + dir.file("/gap.csv") +
                         ":3: hours must ascend");
    plan.axes[sim::AXIS_WEATHER].clear();
    StudyVariant winter;
    sim::namedVariant(sim::AXIS_WEATHER, "winter", NamingContext{}, &winter, &error);
    plan.axes[sim::AXIS_WEATHER].push_back(winter);
    EXPECT_FALSE(sim::validateStudy(plan, runs, dir.file("/factory"), dir.path(), &error));
    EXPECT_EQ(error, dir.file("/s.json:2: settings \"cycle-rate-9\": tstat-factory refuses "
                              "\"--cycle-rate 9\": --cycle-rate: 9 not in [3 - 6]"));
    plan.axes[sim::AXIS_SETTING].erase(plan.axes[sim::AXIS_SETTING].begin() + 1);
    runs = sim::expandStudy(&plan, dir.path());
    EXPECT_TRUE(sim::validateStudy(plan, runs, dir.file("/factory"), dir.path(), &error)) << error;
    // The tool's board root was the study's own, and is gone.
    std::string roots = dir.read("/roots");
    EXPECT_EQ(countOf(roots, dir.file("/factory-check\n")), countOf(roots, "\n")) << roots;
    EXPECT_GT(countOf(roots, "\n"), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("/factory-check")));
    // Options accepted one by one can be refused together.
    plan.axes[sim::AXIS_HOUSE].assign(1, StudyVariant{"h", {}, {"--scale", "C"}, {}, {}});
    plan.axes[sim::AXIS_EQUIPMENT].assign(1, StudyVariant{});
    plan.axes[sim::AXIS_SETTING][0].factoryArgs = {"--cycle-rate", "5"};
    runs = sim::expandStudy(&plan, dir.path());
    EXPECT_FALSE(sim::validateStudy(plan, runs, dir.file("/factory"), dir.path(), &error));
    EXPECT_EQ(error.rfind("run " + runs[0].name + ": tstat-factory refuses \"--scale C ", 0), 0u)
        << error;
}

} // namespace
