// tstat-sim study: the matrix from the options and the study file, its runs
// (each printed as the command that repeats it alone), the results and the
// check against a baseline.
#include "study/study.h"
#include "study/study_buildings.h"

#include "board/board.h"
#include "board/run_support.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace sim {

namespace {

// The values given on the command line replace the study file's; an axis
// given nowhere has one value.
bool applyOptions(const StudyOptions &o, StudySpec *spec, std::string *error) {
    const std::vector<std::string> *given[AXIS_COUNT] = {&o.houses, &o.weather, &o.equipment,
                                                         &o.settings};
    const char *defaults[AXIS_COUNT] = {"typical", "winter", "furnace", "program"};
    for (int axis = 0; axis < AXIS_COUNT; axis++) {
        std::vector<std::string> names = *given[axis];
        if (names.empty() && spec->axes[axis].empty()) {
            names.push_back(defaults[axis]);
        }
        if (!names.empty()) {
            spec->axes[axis].clear();
        }
        for (const std::string &name : names) {
            StudyVariant v;
            if (!namedVariant(axis, name, o.weatherDir, &v, error)) {
                return false;
            }
            spec->axes[axis].push_back(v);
        }
    }
    spec->days = o.days.empty() ? spec->days : o.days;
    spec->start = o.start.empty() ? spec->start : o.start;
    spec->warmupHours = o.warmupHours >= 0.0 ? o.warmupHours : spec->warmupHours;
    spec->seed = o.seed > 0 ? o.seed : spec->seed;
    struct tm local {};
    const char *end = strptime(spec->start.c_str(), "%Y-%m-%d %H:%M", &local);
    if (end == nullptr || *end != '\0') {
        *error = "the start is \"YYYY-MM-DD HH:MM\", not \"" + spec->start + "\"";
        return false;
    }
    return true;
}

// The runs' cost in host time, printed (it is not part of the results).
void printCost(const std::vector<StudyRun> &runs, const std::vector<RunCost> &costs,
               double wallSeconds) {
    double cpu = 0.0, days = 0.0;
    for (size_t i = 0; i < runs.size(); i++) {
        cpu += costs[i].cpuSeconds;
        days += runs[i].days + 0.0;
    }
    printf("study: %zu runs in %.1f host s, %.1f s of CPU, %.2f s of CPU per simulated day "
           "(warm-up included in the cost, not in the days)\n",
           runs.size(), wallSeconds, cpu, days > 0.0 ? cpu / days : 0.0);
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

} // namespace

int runStudyCommand(const StudyOptions &o) {
    StudySpec spec;
    StudyBuildings buildings;
    std::string error;
    if ((!o.file.empty() && (!loadStudyFile(o.file, o.weatherDir, &spec, &error) ||
                             !loadStudyBuildings(o.file, &buildings, &error))) ||
        !applyOptions(o, &spec, &error)) {
        fprintf(stderr, "tstat-sim study: %s\n", error.c_str());
        return 2;
    }
    int status = 0;
    if (buildingsAlone(o, buildings, &status)) {
        return status;
    }
    std::vector<StudyRun> runs = expandStudy(&spec, o.out);
    std::error_code ec;
    fs::create_directories(o.out, ec);
    std::string commands;
    for (const StudyRun &run : runs) {
        commands += run.name + ":\n  " + repeatCommand(o.simBinary, run) + "\n";
    }
    writeFileAtomic(o.out + "/runs.txt", commands);
    printf("study: %zu runs; each repeats alone as:\n%s", runs.size(), commands.c_str());
    fflush(stdout);
    if (o.dryRun) {
        return 0;
    }
    catchEndSignals();
    auto started = std::chrono::steady_clock::now();
    std::vector<RunCost> costs = runStudy(runs, o.simBinary, o.jobs);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::vector<StudyFigures> figures;
    int failed = 0;
    for (size_t i = 0; i < runs.size(); i++) {
        figures.push_back(computeRunFigures(runs[i], spec.warmupHours));
        if (!figures.back().ok || costs[i].exitStatus != 0) {
            fprintf(stderr, "study: %s failed (exit status %d): %s\n", runs[i].name.c_str(),
                    costs[i].exitStatus, figures.back().error.c_str());
            failed++;
        }
    }
    addRunTimeSaved(runs, &figures);
    std::string md = writeStudyResults(spec, runs, figures, costs, o.out, o.fontDir);
    if (!buildings.buildings.empty()) {
        md += "\n" + runStudyBuildings(buildings.buildings, o.simBinary, o.out, &failed);
    }
    printf("\n%s\n", md.c_str());
    printCost(runs, costs, wall);
    printf("study: results in %s (results.csv, results.md, results.json, timing.csv, plots/)\n",
           o.out.c_str());
    if (!o.check.empty()) {
        std::string text;
        int findings = checkStudy(o.check, spec, runs, figures, &text);
        fputs(text.c_str(), stdout);
        failed += findings;
    }
    return failed == 0 ? 0 : 1;
}

} // namespace sim
