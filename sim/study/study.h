// tstat-sim study: a matrix of lock-step runs (houses x weather x equipment x
// control settings x lengths) run in parallel, one run per processor, each
// a `tstat-sim run` child that can be repeated alone with the options the
// study prints; then the figures of every run and group from the runs'
// traces and relay logs, written as results.csv, results.md, results.json
// and one picture per figure, and checked against a baseline study.
#pragma once

#include "house/house.h"
#include "report/report.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

// One value of one axis of the matrix: its name and what it adds to a run.
struct StudyVariant {
    std::string name;
    std::vector<std::string> simArgs;     // options of tstat-sim run
    std::vector<std::string> factoryArgs; // options of tstat-factory for the run's record
    std::vector<std::string> script;      // console lines in script syntax ("+0 key up")
};

enum StudyAxis { AXIS_HOUSE, AXIS_WEATHER, AXIS_EQUIPMENT, AXIS_SETTING, AXIS_COUNT };
const char *studyAxisName(int axis);

struct StudySpec {
    std::array<std::vector<StudyVariant>, AXIS_COUNT> axes;
    std::vector<int> days{2}; // simulated days counted after the warm-up
    std::string start = "2026-01-12 00:00";
    double warmupHours = 12.0; // simulated first, left out of every figure
    uint32_t seed = 5;
    // The setting run as the baseline of run time saved: the same house,
    // weather and equipment held at one set point. Added when missing; none
    // when empty.
    std::string baseline = "constant";
    // A figure's tolerance in a check (absolute, in its unit), where the
    // default does not suit.
    std::map<std::string, double> tolerances;
};

// The named values the options and the study file may use by name alone:
// "leaky", "typical", "tight"; weather "winter" (sine day -5 C +/- 5 C,
// heat), "cold-snap", "spring-swing", "summer" (summer-heat.csv, cool),
// "sine:MEAN:SWING[:cool]"; equipment "furnace", "furnace2", "heatpump",
// "heatpump2", "heatpump-gas"; settings "program", "constant",
// "no-recovery", "cycle-rate-N", "balance-N", "diff-C".
bool namedVariant(int axis, const std::string &name, const std::string &weatherDir,
                  StudyVariant *out, std::string *error);
// A study file (JSON, see docs/simulator.md). False with a message.
bool loadStudyFile(const std::string &path, const std::string &weatherDir, StudySpec *spec,
                   std::string *error);

// One run of the matrix.
struct StudyRun {
    std::string name;
    std::array<int, AXIS_COUNT> variant{}; // index into each of the study's axes
    int days = 0;
    bool baseline = false;
    std::string dir;                 // its board root, report and script
    std::vector<std::string> args;   // tstat-sim run's options
    std::vector<std::string> script; // its script's lines
};

// The runs of a study, the baseline setting added, their directories under
// outDir.
std::vector<StudyRun> expandStudy(StudySpec *spec, const std::string &outDir);
// The command line that repeats a run alone.
std::string repeatCommand(const std::string &simBinary, const StudyRun &run);

// What a run cost the host: CPU seconds of both processes and wall seconds.
struct RunCost {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    int exitStatus = -1;
};
// Runs every run, at most jobs at once, each child kept to a processor of
// its own. Writes each run's script and console output (console.log) into
// its directory. Returns the costs in run order.
std::vector<RunCost> runStudy(const std::vector<StudyRun> &runs, const std::string &simBinary,
                              int jobs);

// The figures of a study, one column each (see c_Figures in study_figures.cpp).
struct FigureDef {
    const char *key;
    const char *title; // "{u}" stands for the thermostat's unit
    double tolerance;  // absolute, for a check
    bool inTable;      // in the Markdown table
};
const std::vector<FigureDef> &studyFigures();

struct StudyFigures {
    bool ok = false;
    std::string error;
    bool celsius = false;
    std::vector<double> values; // in studyFigures() order
};
// The figures of one run from its trace, relay log and report.json, the
// first warmupHours left out.
StudyFigures computeRunFigures(const StudyRun &run, double warmupHours);
// Run time saved against each run's baseline (fills that figure).
void addRunTimeSaved(const std::vector<StudyRun> &runs, std::vector<StudyFigures> *figures);

// The figures with their degrees in the study's unit, the first run's (a
// study may set some runs in Celsius and some in Fahrenheit).
std::vector<StudyFigures> inStudyUnit(const std::vector<StudyFigures> &figures);
// Writes results.csv, results.md, results.json, timing.csv and the plots
// into outDir; returns the Markdown.
std::string writeStudyResults(const StudySpec &spec, const std::vector<StudyRun> &runs,
                              const std::vector<StudyFigures> &figures,
                              const std::vector<RunCost> &costs, const std::string &outDir,
                              const std::string &fontDir);
// Compares the results with a baseline results.json: every figure that moved
// past its tolerance, and every compressor off time below the guard, named.
// Returns the number of findings.
int checkStudy(const std::string &baselinePath, const StudySpec &spec,
               const std::vector<StudyRun> &runs, const std::vector<StudyFigures> &figures,
               std::string *text);

// Bar charts of one figure across the runs, in the style of day.png.
bool plotStudyFigure(const std::string &path, const std::string &fontDir, const FigureDef &figure,
                     const std::vector<std::string> &names, const std::vector<double> &values,
                     const std::string &unit, std::string *error);

// tstat-sim study's entry: the parsed options.
struct StudyOptions {
    std::string file;
    std::vector<std::string> houses, weather, equipment, settings;
    std::vector<int> days;
    std::string start;
    double warmupHours = -1;
    uint32_t seed = 0;
    std::string out = "study";
    std::string check;
    int jobs = 0;
    std::string simBinary;
    std::string fontDir;
    std::string weatherDir;
    bool dryRun = false;
};
int runStudyCommand(const StudyOptions &options);

} // namespace sim
