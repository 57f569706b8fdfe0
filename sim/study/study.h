// tstat-sim study: a matrix of lock-step runs (houses x weather x equipment
// x control settings x lengths x seeds), each a `tstat-sim run` child that
// can be repeated alone with the options the study prints, run on this host
// in parallel or as one Slurm array job; then the figures of every run and
// group (comfort against a fixed range, energy, cost and emissions against
// a paired constant set point, peaks, equipment protection, recovery) from
// the runs' traces and relay logs, written as results.csv, results.md,
// results.json and one picture per figure, and checked against a baseline.
#pragma once

#include "house/house.h"
#include "report/report.h"
#include "report/report_json.h"

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
    std::string where;                    // "FILE:LINE" of the study file that gave it
};

enum StudyAxis { AXIS_HOUSE, AXIS_WEATHER, AXIS_EQUIPMENT, AXIS_SETTING, AXIS_COUNT };
const char *studyAxisName(int axis);

// The comfort range fixed before the runs (C), whatever the thermostat does:
// one for heating and one for cooling (a run cooling when its record's
// system mode is cool), each for occupied and unoccupied hours; occupied are
// the hours from Wake to Leave and from Return to Sleep of the schedule
// (minutes of the day, Monday to Friday and the weekend).
struct ComfortRange {
    std::array<double, 2> heatOccupied{20.0, 24.0 + 4.0 / 9.0};               // 68-76 F
    std::array<double, 2> heatUnoccupied{15.0 + 5.0 / 9.0, 26.0 + 6.0 / 9.0}; // 60-80 F
    std::array<double, 2> coolOccupied{22.0 + 7.0 / 9.0, 26.0 + 1.0 / 9.0};   // 73-79 F
    std::array<double, 2> coolUnoccupied{15.0 + 5.0 / 9.0, 29.0 + 4.0 / 9.0}; // 60-85 F
    std::array<int, 4> weekday{6 * 60, 8 * 60, 18 * 60, 22 * 60}; // Wake, Leave, Return, Sleep
    std::array<int, 4> weekend{8 * 60, 10 * 60, 16 * 60, 23 * 60};
};

// Prices: a flat tariff, a time-of-use one for electricity (its peak hours
// on weekdays, and on weekends too when said), gas per kWh of its heat value.
struct Tariffs {
    double electricity = 0.16;            // per kWh
    double gas = 1.45 / 29.3071;          // per kWh ($1.45 a therm)
    double peak = 0.30, offPeak = 0.12;   // per kWh
    std::array<int, 2> peakHours{16, 21}; // from, to (local hours)
    bool peakWeekends = false;
};

// Emission factors, kg CO2 per kWh of electricity used and of gas burnt.
struct Emissions {
    double electricity = 0.373;
    double gas = 0.181;
};

struct StudySpec {
    std::array<std::vector<StudyVariant>, AXIS_COUNT> axes;
    std::vector<int> days{2}; // simulated days counted after the warm-up
    std::string start = "2026-01-12 00:00";
    double warmupHours = 12.0; // simulated first, left out of every figure
    // Each seed perturbs every run alike: weather noise, the house's initial
    // temperature, its internal gain and the sensor's offset.
    std::vector<uint32_t> seeds{5};
    // The setting run as the baseline of savings: the same house, weather,
    // equipment, length and seed held at one set point. Added when missing;
    // none when empty.
    std::string baseline = "constant";
    // A figure's tolerance in a check (absolute, in its unit), where the
    // default does not suit.
    std::map<std::string, double> tolerances;
    ComfortRange comfort;
    Tariffs tariffs;
    Emissions emissions;
};

// The named values the options and the study file may use by name alone:
// "leaky", "typical", "tight"; weather "winter" (sine day -5 C +/- 5 C,
// heat), "cold-snap", "spring-swing", "summer" (summer-heat.csv, cool),
// "sine:MEAN:SWING[:cool]", "typical:CLIMATE" (a typical year written under
// outDir/weather), "epw:FILE"; equipment "furnace", "furnace2", "heatpump",
// "heatpump2", "heatpump-gas"; settings "program", "constant",
// "no-recovery", "cycle-rate-N", "balance-N", "diff-C", "hold-N[:M]".
// Dated weather (typical years, EPW files) starts at the study's date.
struct NamingContext {
    std::string weatherDir; // the shipped weather files
    std::string outDir;     // where typical years are written
    std::string start;      // the study's start, for dated weather
};
bool namedVariant(int axis, const std::string &name, const NamingContext &context,
                  StudyVariant *out, std::string *error);
// A study file (JSON, see docs/simulator.md): every key known, every value
// of its type and range. read() takes everything but the axes, so that the
// options can change the start before dated weather is named; axis() names
// an axis's values. False with a message naming the file, the line and the
// key.
class StudyFile {
  public:
    bool read(const std::string &path, StudySpec *plan, std::string *error);
    bool hasAxis(int axis) const;
    bool axis(int axis, const NamingContext &context, std::vector<StudyVariant> *out,
              std::string *error) const;
    const std::string &season() const { return m_season; }

  private:
    std::string m_path;
    std::string m_text;
    Json m_json;
    std::string m_season;
};
// The whole study file, its dated weather named at its own start.
bool loadStudyFile(const std::string &path, const NamingContext &context, StudySpec *plan,
                   std::string *error);
// "MM-DD:MM-DD": the study starts at 00:00 of the Monday on or before the
// first date (in the year of its start) and counts whole weeks to the end of
// the second. False with a message.
bool applySeason(const std::string &season, StudySpec *plan, std::string *error);

// The study as a study file with every value spelled out (what `--merge`
// and a Slurm array read back), and the hash of that text.
Json studyToJson(const StudySpec &plan);
std::string studyHash(const Json &study);
// The conditions every figure depends on besides the runs themselves: a
// check refuses a baseline whose conditions differ.
Json studyConditions(const StudySpec &plan);

// One run of the matrix.
struct StudyRun {
    std::string name;
    std::array<int, AXIS_COUNT> variant{}; // index into each of the study's axes
    int days = 0;
    uint32_t seed = 0;
    bool baseline = false;
    std::string dir;                 // its board root, report and script
    std::vector<std::string> args;   // tstat-sim run's options
    std::vector<std::string> script; // its script's lines
};

// The runs of a study, the baseline setting added, their directories under
// outDir.
std::vector<StudyRun> expandStudy(StudySpec *plan, const std::string &outDir);
// The perturbations of a seed, as options of tstat-sim run replacing those
// of args (the initial temperature and the internal gain around the values
// args give).
std::vector<std::string> perturbedArgs(const std::vector<std::string> &args, uint32_t seed);
// The command line that repeats a run alone.
std::string repeatCommand(const std::string &simBinary, const StudyRun &run);

// Checks the study before any run: every record's settings with the
// factory tool (its own ranges), every weather file read whole. False with
// a message naming the study file's line, the value and the fault.
bool validateStudy(const StudySpec &plan, const std::vector<StudyRun> &runs,
                   const std::string &factoryTool, const std::string &scratchDir,
                   std::string *error);

// What a run cost the host: CPU seconds of both processes and wall seconds.
struct RunCost {
    double cpuSeconds = -1; // -1: not known (a run of a cluster)
    double wallSeconds = 0;
    int exitStatus = -1;
};
// A run's own record of how it ended, run.json in its directory: the study
// it belongs to, the build that ran it and its exit status.
struct RunRecord {
    std::string study;
    std::string version;
    RunCost cost;
};
bool writeRunRecord(const StudyRun &run, const RunRecord &record);
// False when there is none (the run never ended).
bool readRunRecord(const StudyRun &run, RunRecord *record);
// The build: a fingerprint of tstat-sim, tstat and tstat-factory beside it.
std::string programVersion(const std::string &simBinary);
// Runs a program (under the build's emulator when it needs one), its
// standard output and error into *output; its exit status, 127 when it
// could not be started.
int runProgram(const std::string &program, const std::vector<std::string> &args,
               std::string *output);

// Writes a fresh directory for each run with its script, then runs every
// run, at most jobs at once, each child kept to a processor of its own,
// its console output in console.log and its record in run.json. Returns the
// costs in run order.
std::vector<RunCost> runStudy(const std::vector<StudyRun> &runs, const std::string &simBinary,
                              int jobs, const RunRecord &stamp);
bool prepareRunDirectory(const StudyRun &run);

// A study on a cluster: the runs as one Slurm array job under dir (each run
// in its folder there), submitted with sbatch unless submit is false; only
// the runs without a record of success when onlyMissing. Returns the exit
// status (0, or 2 with the reason on stderr).
struct ClusterOptions {
    std::string dir;
    std::string simBinary;
    bool onlyMissing = false;
    bool submit = true;
};
int emitSlurm(const Json &study, const std::vector<StudyRun> &runs, const ClusterOptions &options);
// The runs of dir that did not end well, each with the reason; empty when
// every run is there, of this study and this build, and succeeded.
std::vector<std::string> missingRuns(const std::vector<StudyRun> &runs, const std::string &hash,
                                     const std::string &version, bool *foreign);

// The figures of a study, one column each (see c_Figures in study_figures.cpp).
enum FigureKind {
    KIND_MEASURE, // compared within its tolerance
    KIND_COUNT,   // a whole number, compared exactly
    KIND_DEGREES, // degree-hours in the study's unit ("{u}" in the title)
};
struct FigureDef {
    const char *key;
    const char *title;  // "{u}" stands for the study's unit
    const char *column; // the table's short header
    double tolerance;   // absolute, for a check
    FigureKind kind;
    bool inTable;
};
const std::vector<FigureDef> &studyFigures();
// The index of a figure by its key (the number of figures for none).
size_t figureIndex(const std::string &key);

struct StudyFigures {
    bool ok = false;
    std::string error;
    bool celsius = false;
    std::vector<double> values; // in studyFigures() order
};
// The figures of one run from its trace, relay log and report.json, the
// first warmupHours left out.
StudyFigures computeRunFigures(const StudyRun &run, const StudySpec &plan);
// The figures of one run from its trace, relay log and setup (the study's
// own arithmetic, for tests).
StudyFigures figuresOf(std::vector<TraceRow> rows, std::vector<RelayEvent> events,
                       const ThermostatSetup &setup, const HouseParams &house,
                       const StudySpec &plan);
// Savings against each run's baseline: run time, gas, electricity, cost,
// emissions (fills those figures).
void addSavings(const std::vector<StudyRun> &runs, std::vector<StudyFigures> *figures);
// Whether a run failed: no figures, or an exit status other than 0 (an
// application that crashed or hung after the report was written).
bool runFailed(const StudyFigures &figures, const RunCost &cost);

// The figures with their degrees in the study's unit, the first run's (a
// study may set some runs in Celsius and some in Fahrenheit).
std::vector<StudyFigures> inStudyUnit(const std::vector<StudyFigures> &figures);
// Mean and spread across the study's seeds of each figure for a group of
// runs: for each seed the mean over the group's runs of that seed, then the
// mean and the standard deviation of those (NaN where no run has a value).
struct Spread {
    std::vector<double> mean, sd;
    size_t seeds = 0;
};
Spread groupSpread(const std::vector<StudyRun> &runs, const std::vector<StudyFigures> &figures,
                   const std::vector<size_t> &members);
// results.md: the comparison of the settings per house, weather, equipment
// and length, the runs and the means by axis.
std::string studyMarkdown(const StudySpec &plan, const std::vector<StudyRun> &runs,
                          const std::vector<StudyFigures> &figures);
// Writes results.csv, results.md, results.json, timing.csv and the plots
// into outDir; returns the Markdown.
std::string writeStudyResults(const StudySpec &plan, const std::vector<StudyRun> &runs,
                              const std::vector<StudyFigures> &figures,
                              const std::vector<RunCost> &costs, const std::string &outDir,
                              const std::string &fontDir);
// Compares the results with a baseline results.json: every figure that moved
// past its tolerance (whole numbers exactly), and every compressor off time
// below the guard, named in text. Returns the number of findings, or -1
// when the baseline cannot be compared (another unit, other conditions, a
// run it lacks), said in text.
int checkStudy(const std::string &baselinePath, const StudySpec &plan,
               const std::vector<StudyRun> &runs, const std::vector<StudyFigures> &figures,
               std::string *text);
// Why a baseline cannot be compared with the study ("" when it can); unit
// "" leaves the unit unchecked (before the runs, which tell it).
std::string baselineRefusal(const std::string &baselinePath, const StudySpec &plan,
                            const std::vector<StudyRun> &runs, const std::string &unit);

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
    std::string season;
    double warmupHours = -1;
    uint32_t seed = 0;
    std::vector<uint32_t> seeds; // one number: that many seeds from the first
    std::string out = "study";
    std::string check;
    int jobs = 0;
    std::string simBinary;
    std::string fontDir;
    std::string weatherDir;
    bool dryRun = false;
    std::string emit; // "slurm"
    std::string emitDir;
    bool onlyMissing = false;
    std::string merge; // a directory of a study run on a cluster
    bool printVersion = false;
};
int runStudyCommand(const StudyOptions &options);

} // namespace sim
