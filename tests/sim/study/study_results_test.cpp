// A study's results: the spread across seeds, the comparison table and its
// notes, the check against a baseline (whole numbers exactly, refusals of
// another unit or study), and a study on a cluster (the array job, its
// records, the runs that are missing, failed or foreign).
#include "study/study.h"

#include "board_root.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace {

using sim::StudyFigures;
using sim::StudyRun;
using sim::StudySpec;

size_t at(const char *key) {
    return sim::figureIndex(key);
}

StudyFigures blank(bool ok = true) {
    StudyFigures f;
    f.ok = ok;
    f.values.assign(sim::studyFigures().size(), NAN);
    return f;
}

// A study of one house with the given settings, its runs under dir.
StudySpec studyOf(const std::vector<const char *> &settings, std::vector<StudyRun> *runs,
                  const std::string &dir, std::vector<uint32_t> seeds = {5}) {
    StudySpec plan;
    std::string error;
    for (int axis = 0; axis < sim::AXIS_SETTING; axis++) {
        sim::StudyVariant v;
        const char *names[] = {"typical", "winter", "heatpump"};
        sim::namedVariant(axis, names[axis], sim::NamingContext{}, &v, &error);
        plan.axes[axis].push_back(v);
    }
    for (const char *name : settings) {
        sim::StudyVariant v;
        sim::namedVariant(sim::AXIS_SETTING, name, sim::NamingContext{}, &v, &error);
        plan.axes[sim::AXIS_SETTING].push_back(v);
    }
    plan.seeds = seeds;
    *runs = sim::expandStudy(&plan, dir);
    return plan;
}

TEST(StudyResults, MeansAndSpreadAcrossSeedsInTheComparison) {
    std::vector<StudyRun> runs;
    StudySpec plan = studyOf({"program"}, &runs, "/out", {5, 6});
    ASSERT_EQ(runs.size(), 4u); // program, then constant, two seeds each
    std::vector<StudyFigures> f(4, blank());
    const double runtimeSaved[] = {20.0, 30.0, 0.0, 0.0};
    const double electricSaved[] = {-50.0, -70.0, 0.0, 0.0};
    for (size_t i = 0; i < 4; i++) {
        f[i].values[at("runtime_saved_pct")] = runtimeSaved[i];
        f[i].values[at("electric_saved_pct")] = electricSaved[i];
        f[i].values[at("electric_kwh_day")] = 50.0;
        f[i].values[at("gas_kwh_day")] = 0.0;
    }
    f[2].values[at("tdis_occupied")] = 4.0; // one seed only: no spread
    sim::Spread s = sim::groupSpread(runs, f, {0, 1});
    EXPECT_EQ(s.seeds, 2u);
    EXPECT_DOUBLE_EQ(s.mean[at("runtime_saved_pct")], 25.0);
    EXPECT_DOUBLE_EQ(s.sd[at("runtime_saved_pct")], std::sqrt(50.0));
    sim::Spread one = sim::groupSpread(runs, f, {2, 3});
    EXPECT_DOUBLE_EQ(one.mean[at("tdis_occupied")], 4.0);
    EXPECT_TRUE(std::isnan(one.sd[at("tdis_occupied")]));
    EXPECT_TRUE(std::isnan(one.mean[at("recovery_mean_min")]));
    std::string md = sim::studyMarkdown(plan, runs, f);
    EXPECT_NE(md.find("Comparison of the settings: typical, winter, heatpump, 2 days:"),
              std::string::npos)
        << md;
    EXPECT_NE(md.find("occupied Monday to Friday 06:00-08:00 and 18:00-22:00, Saturday and "
                      "Sunday 08:00-10:00 and 16:00-23:00."),
              std::string::npos);
    // The figures the comparison shows, in their order.
    EXPECT_NE(
        md.find("| setting | discomfort occupied Fh | discomfort unoccupied Fh | own band Fh | "
                "gas kWh/d | elec. kWh/d | gas saved % | elec. saved % | cost/d flat | "
                "cost/d TOU | cost saved % | CO2 kg/d | CO2 saved % | aux share % | aux "
                "above balance kWh | peak kW | gas peak kW | worst hour starts | min. start "
                "gap min | runs < 3 min | compr. off < 300 s | recovery min | missed "
                "recoveries | run time saved % |\n"),
        std::string::npos);
    EXPECT_NE(md.find("| program | - | "), std::string::npos) << md;
    EXPECT_NE(md.find("| constant (baseline) | 4.00 | "), std::string::npos) << md;
    EXPECT_NE(md.find(" 25.00 ±7.07 |"), std::string::npos) << md;
    EXPECT_NE(md.find("- program: run time saved +25.0 % but electricity saved -60.0 %"),
              std::string::npos)
        << md;
    EXPECT_EQ(md.find("- constant:"), std::string::npos) << md;
    EXPECT_EQ(md.find("Means by"), std::string::npos); // one table: nothing to sum up
    EXPECT_NE(md.find("- discomfort occupied Fh: discomfort outside the fixed range, occupied "
                      "hours, F h"),
              std::string::npos);
}

TEST(StudyResults, CheckComparesWholeNumbersExactly) {
    TempBoardRoot dir;
    std::vector<StudyRun> runs;
    StudySpec plan = studyOf({"program"}, &runs, dir.path());
    runs.resize(1);
    auto baseline = [&](const sim::Json &figures, const char *unit = "F") {
        sim::Json j{{"conditions", sim::studyConditions(plan)},
                    {"unit", unit},
                    {"runs", {{{"run", runs[0].name}, {"figures", figures}}}}};
        dir.write("/base.json", j.dump());
        return dir.file("/base.json");
    };
    struct Case {
        const char *key;
        double was, is;
        int findings;
    } cases[] = {
        {"cycles", 46, 46, 0},
        {"cycles", 46, 47, 1},
        {"worst_hour_starts", 4, 5, 1},
        {"tdis_occupied", 10.0, 10.9, 0}, // 0.4 and 5 % of 10
        {"tdis_occupied", 10.0, 10.91, 1},
        {"recovery_missed", NAN, 0, 1},
        {"short_compressor_off", 1, 1, 1}, // the guard, whatever the baseline
    };
    for (const Case &c : cases) {
        StudyFigures now = blank();
        now.values[at(c.key)] = c.is;
        sim::Json figures{{c.key, std::isnan(c.was) ? sim::Json() : sim::Json(c.was)}};
        std::string text;
        EXPECT_EQ(sim::checkStudy(baseline(figures), plan, runs, {now}, &text), c.findings)
            << c.key << " " << text;
    }
    StudyFigures now = blank();
    now.values[at("cycles")] = 48;
    std::string text;
    EXPECT_EQ(sim::checkStudy(baseline({{"cycles", 46}}), plan, runs, {now}, &text), 1);
    EXPECT_NE(text.find(runs[0].name + ": cycles moved from 46.000 to 48.000 (compared exactly)"),
              std::string::npos)
        << text;
    plan.tolerances["cycles"] = 2.0;
    EXPECT_EQ(sim::checkStudy(baseline({{"cycles", 46}}), plan, runs, {now}, &text), 0) << text;
    // A run in Celsius in a study whose first run is in Fahrenheit counts in F.
    StudyFigures celsius = blank();
    celsius.celsius = true;
    celsius.values[at("tdis_occupied")] = 11.0;
    std::vector<StudyFigures> converted = sim::inStudyUnit({blank(), celsius});
    EXPECT_DOUBLE_EQ(converted[1].values[at("tdis_occupied")], 19.8);
    EXPECT_FALSE(converted[1].celsius);
}

TEST(StudyResults, CheckRefusesAnotherUnitOrStudy) {
    TempBoardRoot dir;
    std::vector<StudyRun> runs;
    StudySpec plan = studyOf({"program"}, &runs, dir.path());
    sim::Json conditions = sim::studyConditions(plan);
    sim::Json warmer = conditions;
    warmer["comfort"]["heating"]["occupied"][0] = 21.0;
    struct Case {
        std::string baseline;
        const char *reason;
    } cases[] = {
        {"{\"runs\": [", "it is not a study's results.json"},
        {"{\"unit\": \"C\", \"runs\": []}", "its figures are in C, this study's in F"},
        {sim::Json{{"unit", "F"}, {"conditions", warmer}, {"runs", sim::Json::array()}}.dump(),
         "another study: its comfort differs"},
        {sim::Json{{"unit", "F"}, {"conditions", conditions}, {"runs", sim::Json::array()}}.dump(),
         "another study: it has no run typical_winter_heatpump_program_2d"},
    };
    for (const Case &c : cases) {
        dir.write("/base.json", c.baseline);
        EXPECT_NE(sim::baselineRefusal(dir.file("/base.json"), plan, runs, "F").find(c.reason),
                  std::string::npos)
            << c.reason;
        std::string text;
        std::vector<StudyFigures> f(runs.size(), blank());
        EXPECT_EQ(sim::checkStudy(dir.file("/base.json"), plan, runs, f, &text), -1) << text;
    }
    // Before the runs the unit is not known yet.
    dir.write("/base.json", "{\"unit\": \"C\", \"conditions\": " + conditions.dump() +
                                ", \"runs\": [{\"run\": \"" + runs[0].name + "\"}, {\"run\": \"" +
                                runs[1].name + "\"}]}");
    EXPECT_EQ(sim::baselineRefusal(dir.file("/base.json"), plan, runs, ""), "");
}

// A fake tstat-sim for the array job: `study --version` prints
// $FAKE_VERSION, `run` marks its root and ends with $FAKE_STATUS.
constexpr const char *FAKE_SIM =
    "#!/bin/sh\n"
    "if [ \"$1\" = study ]; then echo \"$FAKE_VERSION\"; exit 0; fi\n"
    "while [ $# -gt 0 ]; do [ \"$1\" = --root ] && root=$2; shift; done\n"
    "echo ran >\"$root/ran\"\n"
    "exit ${FAKE_STATUS:-0}\n";

class PathScope {
  public:
    explicit PathScope(const std::string &path) : m_saved(getenv("PATH")) {
        setenv("PATH", path.c_str(), 1);
    }
    ~PathScope() { setenv("PATH", m_saved.c_str(), 1); }

  private:
    std::string m_saved;
};

void executable(const TempBoardRoot &dir, const std::string &name, const std::string &text) {
    dir.write(name, text);
    chmod(dir.file(name).c_str(), 0755);
}

TEST(StudyCluster, ArrayJobRecordsAndMissingRuns) {
    TempBoardRoot dir;
    std::filesystem::create_directories(dir.file("/bin"));
    executable(dir, "/bin/tstat-sim", FAKE_SIM);
    executable(dir, "/bin/sbatch", "#!/bin/sh\necho \"$@\" >\"${0%/*}/args\"\necho 42\n");
    std::vector<StudyRun> runs;
    StudySpec plan = studyOf({"program"}, &runs, dir.file("/job"));
    sim::Json study = sim::studyToJson(plan);
    std::string hash = sim::studyHash(study);
    sim::ClusterOptions o{dir.file("/job"), dir.file("/bin/tstat-sim"), false, true};
    {
        PathScope path(dir.file("/bin"));
        ASSERT_EQ(sim::emitSlurm(study, runs, o), 0);
    }
    EXPECT_EQ(readFile(dir.file("/bin/args")),
              "--parsable --array=0,1 " + dir.file("/job/slurm/study.sbatch") + "\n");
    EXPECT_EQ(readFile(dir.file("/job/slurm/names.txt")),
              runs[0].name + "\n" + runs[1].name + "\n");
    // Task 1 of the array on a node: its run ends well, task 0 never ran.
    std::string version = sim::programVersion(dir.file("/bin/tstat-sim"));
    setenv("FAKE_VERSION", version.c_str(), 1);
    std::string task = "SLURM_ARRAY_TASK_ID=1 sh " + dir.file("/job/slurm/study.sbatch");
    ASSERT_EQ(system(task.c_str()), 0);
    EXPECT_EQ(readFile(runs[1].dir + "/ran"), "ran\n");
    bool foreign = true;
    std::vector<std::string> missing = sim::missingRuns(runs, hash, version, &foreign);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].rfind(runs[0].name + ": no record of its end", 0), 0u) << missing[0];
    EXPECT_FALSE(foreign);
    // Only the missing run again; then it fails.
    o.onlyMissing = true;
    {
        PathScope path(dir.file("/bin"));
        ASSERT_EQ(sim::emitSlurm(study, runs, o), 0);
    }
    EXPECT_EQ(readFile(dir.file("/bin/args")).substr(0, 21), "--parsable --array=0 ");
    setenv("FAKE_STATUS", "3", 1);
    task = "SLURM_ARRAY_TASK_ID=0 sh " + dir.file("/job/slurm/study.sbatch");
    EXPECT_NE(system(task.c_str()), 0);
    unsetenv("FAKE_STATUS");
    missing = sim::missingRuns(runs, hash, version, &foreign);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_NE(missing[0].find("failed with exit status 3"), std::string::npos) << missing[0];
    // A run here fails the same way, its figures read or not.
    EXPECT_TRUE(sim::runFailed(blank(), sim::RunCost{1, 1, 3}));
    EXPECT_TRUE(sim::runFailed(blank(false), sim::RunCost{1, 1, 0}));
    EXPECT_FALSE(sim::runFailed(blank(), sim::RunCost{1, 1, 0}));
    // Records of another study or another build are foreign.
    EXPECT_EQ(sim::missingRuns(runs, hash, "another", &foreign).size(), 2u);
    EXPECT_TRUE(foreign);
    sim::missingRuns(runs, "another", version, &foreign);
    EXPECT_TRUE(foreign);
}

TEST(StudyCluster, RefusalsLeaveAnEarlierStudyAlone) {
    TempBoardRoot dir;
    std::filesystem::create_directories(dir.file("/bin"));
    std::vector<StudyRun> runs;
    StudySpec plan = studyOf({"program"}, &runs, dir.file("/job"));
    sim::Json study = sim::studyToJson(plan);
    sim::ClusterOptions o{dir.file("/job"), dir.file("/bin/tstat-sim"), false, true};
    {
        PathScope path(dir.file("/bin"));
        EXPECT_EQ(sim::emitSlurm(study, runs, o), 2); // no sbatch
    }
    executable(dir, "/bin/sbatch", "#!/bin/sh\necho 'sbatch: error: invalid partition'\nexit 1\n");
    {
        PathScope path(dir.file("/bin"));
        EXPECT_EQ(sim::emitSlurm(study, runs, o), 2);
        o.submit = false;
        EXPECT_EQ(sim::emitSlurm(study, runs, o), 0);
        std::string before = readFile(dir.file("/job/study.json"));
        plan.warmupHours = 1.0;
        EXPECT_EQ(sim::emitSlurm(sim::studyToJson(plan), runs, o), 2);
        EXPECT_EQ(readFile(dir.file("/job/study.json")), before);
        o.dir = dir.file("/fresh");
        o.onlyMissing = true;
        EXPECT_EQ(sim::emitSlurm(study, runs, o), 2); // nothing to complete
        // A study.json that holds no study (not an object) is no earlier study.
        dir.write("/other/study.json", "[]");
        o = sim::ClusterOptions{dir.file("/other"), dir.file("/bin/tstat-sim"), false, false};
        EXPECT_EQ(sim::emitSlurm(study, runs, o), 0);
    }
    sim::RunRecord r{"h", "v", {1.5, 2.25, 0}};
    std::filesystem::create_directories(runs[0].dir);
    ASSERT_TRUE(sim::writeRunRecord(runs[0], r));
    sim::RunRecord back;
    ASSERT_TRUE(sim::readRunRecord(runs[0], &back));
    EXPECT_EQ(back.study + back.version, "hv");
    EXPECT_EQ(back.cost.cpuSeconds, 1.5);
    EXPECT_EQ(back.cost.wallSeconds, 2.25);
    EXPECT_FALSE(sim::readRunRecord(runs[1], &back));
}

} // namespace
