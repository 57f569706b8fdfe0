// tstat-sim study: the matrix from the options and the study file, checked
// before any run; its runs on this host (each printed as the command that
// repeats it alone) or as a Slurm array job; the results, from the runs of
// this host or those a cluster left in a folder; and the check against a
// baseline.
#include "study/study.h"
#include "study/study_buildings.h"

#include "board/board.h"
#include "board/run_support.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace sim {

namespace {

constexpr size_t MOST_SEEDS = 64;

const char *const c_Defaults[AXIS_COUNT] = {"typical", "winter", "furnace", "program"};

// The options' values replace the study file's.
bool applyScalars(const StudyOptions &o, StudySpec *plan, std::string *error) {
    plan->days = o.days.empty() ? plan->days : o.days;
    plan->start = o.start.empty() ? plan->start : o.start;
    plan->warmupHours = o.warmupHours >= 0.0 ? o.warmupHours : plan->warmupHours;
    if (o.seed > 0) {
        plan->seeds = {o.seed};
    }
    if (o.seeds.size() == 1 && (o.seeds[0] < 1 || o.seeds[0] > MOST_SEEDS)) {
        *error = "--seeds N takes a count of 1 to 64 (or a list of two or more seeds)";
        return false;
    }
    if (o.seeds.size() == 1) {
        uint32_t first = plan->seeds.front();
        plan->seeds.clear();
        for (uint32_t i = 0; i < o.seeds[0]; i++) {
            plan->seeds.push_back(first + i);
        }
    } else if (!o.seeds.empty()) {
        plan->seeds = o.seeds;
    }
    struct tm local {};
    const char *end = strptime(plan->start.c_str(), "%Y-%m-%d %H:%M", &local);
    if (end == nullptr || *end != '\0') {
        *error = "the start is \"YYYY-MM-DD HH:MM\", not \"" + plan->start + "\"";
        return false;
    }
    return true;
}

// The study from the file and the options; every value named.
bool buildSpec(const StudyOptions &o, const std::string &outDir, StudySpec *plan,
               std::string *error) {
    StudyFile file;
    if (!o.file.empty() && !file.read(o.file, plan, error)) {
        return false;
    }
    std::string season = o.season.empty() ? file.season() : o.season;
    if (!applyScalars(o, plan, error) || (!season.empty() && !applySeason(season, plan, error))) {
        return false;
    }
    NamingContext context{o.weatherDir, outDir, plan->start};
    const std::vector<std::string> *given[AXIS_COUNT] = {&o.houses, &o.weather, &o.equipment,
                                                         &o.settings};
    for (int axis = 0; axis < AXIS_COUNT; axis++) {
        std::vector<std::string> names = *given[axis];
        if (names.empty() && !file.hasAxis(axis)) {
            names.push_back(c_Defaults[axis]);
        }
        if (names.empty()) {
            plan->axes[axis].clear();
            if (!file.axis(axis, context, &plan->axes[axis], error)) {
                return false;
            }
            continue;
        }
        plan->axes[axis].clear();
        for (const std::string &name : names) {
            StudyVariant v;
            if (!namedVariant(axis, name, context, &v, error)) {
                *error = std::string("--") + studyAxisName(axis) + ": " + *error;
                return false;
            }
            plan->axes[axis].push_back(v);
        }
    }
    if (plan->axes[AXIS_HOUSE].empty() || plan->axes[AXIS_WEATHER].empty() ||
        plan->axes[AXIS_EQUIPMENT].empty() || plan->axes[AXIS_SETTING].empty()) {
        *error = "every axis needs at least one value";
        return false;
    }
    return true;
}

// What the runs cost the host, printed (it is not part of the results).
void printCost(const StudySpec &plan, const std::vector<StudyRun> &runs,
               const std::vector<RunCost> &costs, double wallSeconds) {
    double cpu = 0.0, counted = 0.0;
    for (size_t i = 0; i < runs.size(); i++) {
        cpu += std::max(costs[i].cpuSeconds, 0.0);
        counted += runs[i].days;
    }
    double simulated = counted + static_cast<double>(runs.size()) * plan.warmupHours / 24.0;
    printf("study: %zu run%s in %.1f host s, %.1f s of CPU: %.2f s of CPU per counted day, %.2f s "
           "per simulated day with the warm-up\n",
           runs.size(), runs.size() == 1 ? "" : "s", wallSeconds, cpu,
           counted > 0.0 ? cpu / counted : 0.0, simulated > 0.0 ? cpu / simulated : 0.0);
}

// A study file of buildings alone, with no axis given anywhere, runs no
// matrix: true when so, with the exit status.
bool buildingsAlone(const StudyOptions &o, const StudyBuildings &buildings, int *status) {
    bool axisOption =
        !o.houses.empty() || !o.weather.empty() || !o.equipment.empty() || !o.settings.empty();
    if (!buildings.alone || axisOption) {
        return false;
    }
    int failed = 0;
    if (!o.dryRun) {
        catchEndSignals();
        printf("%s", runStudyBuildings(buildings.buildings, o.simBinary, o.out, &failed).c_str());
    }
    *status = failed == 0 ? 0 : 1;
    return true;
}

// The figures of every run and the results; the number of runs that failed.
int results(const StudySpec &plan, const std::vector<StudyRun> &runs,
            const std::vector<RunCost> &costs, const std::string &outDir,
            const std::string &fontDir, std::vector<StudyFigures> *figures) {
    int failed = 0;
    for (size_t i = 0; i < runs.size(); i++) {
        figures->push_back(computeRunFigures(runs[i], plan));
        if (runFailed(figures->back(), costs[i])) {
            fprintf(stderr, "study: %s failed (exit status %d): %s\n", runs[i].name.c_str(),
                    costs[i].exitStatus, figures->back().error.c_str());
            failed++;
        }
    }
    addSavings(runs, figures);
    std::string md = writeStudyResults(plan, runs, *figures, costs, outDir, fontDir);
    printf("\n%s\n", md.c_str());
    printf("study: results in %s (results.csv, results.md, results.json, timing.csv, plots/)\n",
           outDir.c_str());
    return failed;
}

// The exit status of a check: 1 with findings, 2 when it cannot compare.
int check(const StudyOptions &o, const StudySpec &plan, const std::vector<StudyRun> &runs,
          const std::vector<StudyFigures> &figures) {
    std::string text;
    int findings = checkStudy(o.check, plan, runs, figures, &text);
    fputs(text.c_str(), findings < 0 ? stderr : stdout);
    return findings < 0 ? 2 : findings > 0 ? 1 : 0;
}

int mergeStudy(const StudyOptions &o) {
    std::string dir = fs::absolute(o.merge).lexically_normal().string();
    StudySpec plan;
    std::string error;
    std::ifstream in(dir + "/study.json");
    Json held = Json::parse(in, nullptr, false);
    if (held.is_discarded() ||
        !loadStudyFile(dir + "/study.json", NamingContext{o.weatherDir, dir, ""}, &plan, &error)) {
        fprintf(stderr, "tstat-sim study: --merge: %s holds no study: %s\n", dir.c_str(),
                error.empty() ? "no study.json" : error.c_str());
        return 2;
    }
    std::vector<StudyRun> runs = expandStudy(&plan, dir);
    bool foreign = false;
    std::vector<std::string> missing =
        missingRuns(runs, studyHash(held), programVersion(o.simBinary), &foreign);
    for (const std::string &m : missing) {
        fprintf(stderr, "study: %s\n", m.c_str());
    }
    if (!missing.empty()) {
        fprintf(stderr, "tstat-sim study: --merge: %zu of %zu runs of %s %s\n", missing.size(),
                runs.size(), dir.c_str(),
                foreign ? "are not this study's or this build's: nothing merged"
                        : "did not end well: rerun them (--emit slurm DIR --only-missing)");
        return foreign ? 2 : 1;
    }
    std::vector<RunCost> costs;
    for (const StudyRun &run : runs) {
        RunRecord r;
        readRunRecord(run, &r);
        costs.push_back(r.cost);
    }
    std::vector<StudyFigures> figures;
    int failed = results(plan, runs, costs, dir, o.fontDir, &figures);
    int checked = o.check.empty() ? 0 : check(o, plan, runs, figures);
    return checked == 2 ? 2 : failed > 0 || checked != 0 ? 1 : 0;
}

int runLocally(const StudyOptions &o, const StudySpec &plan, const std::vector<StudyRun> &runs,
               const Json &study, const StudyBuildings &buildings) {
    std::string commands;
    for (const StudyRun &run : runs) {
        commands += run.name + ":\n  " + repeatCommand(o.simBinary, run) + "\n";
    }
    writeFileAtomic(o.out + "/runs.txt", commands);
    writeFileAtomic(o.out + "/study.json", study.dump(2) + "\n");
    printf("study: %zu run%s; each repeats alone as:\n%s", runs.size(), runs.size() == 1 ? "" : "s",
           commands.c_str());
    fflush(stdout);
    std::string refused = o.check.empty() ? "" : baselineRefusal(o.check, plan, runs, "");
    if (!refused.empty()) {
        fprintf(stderr,
                "tstat-sim study: cannot check against the baseline %s: %s; no run started\n",
                o.check.c_str(), refused.c_str());
        return 2;
    }
    if (o.dryRun) {
        return 0;
    }
    catchEndSignals();
    auto started = std::chrono::steady_clock::now();
    RunRecord stamp{studyHash(study), programVersion(o.simBinary), {}};
    std::vector<RunCost> costs = runStudy(runs, o.simBinary, o.jobs, stamp);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::vector<StudyFigures> figures;
    int failed = results(plan, runs, costs, o.out, o.fontDir, &figures);
    if (!buildings.buildings.empty()) {
        printf("%s\n", runStudyBuildings(buildings.buildings, o.simBinary, o.out, &failed).c_str());
    }
    printCost(plan, runs, costs, wall);
    int checked = o.check.empty() ? 0 : check(o, plan, runs, figures);
    return checked == 2 ? 2 : failed > 0 || checked != 0 ? 1 : 0;
}

} // namespace

int runStudyCommand(const StudyOptions &o) {
    if (o.printVersion) {
        printf("%s\n", programVersion(o.simBinary).c_str());
        return 0;
    }
    if (!o.merge.empty()) {
        return mergeStudy(o);
    }
    if (!o.emit.empty() && o.emit != "slurm") {
        fprintf(stderr, "tstat-sim study: --emit knows slurm only, not \"%s\"\n", o.emit.c_str());
        return 2;
    }
    std::string outDir = o.emit.empty() ? o.out : o.emitDir;
    outDir = fs::absolute(outDir).lexically_normal().string();
    StudySpec plan;
    std::string error;
    std::error_code ec;
    fs::create_directories(outDir, ec);
    if (ec || !buildSpec(o, outDir, &plan, &error)) {
        fprintf(stderr, "tstat-sim study: %s\n", ec ? ec.message().c_str() : error.c_str());
        return 2;
    }
    StudyBuildings buildings;
    if (!o.file.empty() && !loadStudyBuildings(o.file, &buildings, &error)) {
        fprintf(stderr, "tstat-sim study: %s\n", error.c_str());
        return 2;
    }
    if (!o.emit.empty() && !buildings.buildings.empty()) {
        fprintf(stderr,
                "tstat-sim study: %s: its buildings run on one host (each keeps its "
                "processors busy), not as an array job: run it without --emit\n",
                o.file.c_str());
        return 2;
    }
    int status = 0;
    StudyOptions here = o;
    here.out = outDir;
    if (buildingsAlone(here, buildings, &status)) {
        return status;
    }
    std::vector<StudyRun> runs = expandStudy(&plan, outDir);
    std::string factoryTool = fs::path(o.simBinary).parent_path().string() + "/tstat-factory";
    if (!validateStudy(plan, runs, factoryTool, outDir, &error)) {
        fprintf(stderr, "tstat-sim study: %s; no run started\n", error.c_str());
        return 2;
    }
    Json study = studyToJson(plan);
    if (!o.emit.empty()) {
        return emitSlurm(study, runs,
                         ClusterOptions{outDir, o.simBinary, o.onlyMissing, !o.dryRun});
    }
    return runLocally(here, plan, runs, study, buildings);
}

} // namespace sim
