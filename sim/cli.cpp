// tstat-sim's command line: one CLI11 application with a subcommand per job
// (run, coproc, fixture, gallery, key). Every option is defined once, with
// its range or its choices, and --help is made from those definitions.
#include "cli.h"

#include "board/board.h"
#include "board/run_support.h"
#include "building/building_run.h"
#include "console_server.h"
#include "gallery.h"
#include "house/typical_year.h"
#include "key_pad.h"
#include "platform/platform.h"
#include "run/fixture.h"
#include "run/simulator.h"
#include "study/study.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace sim {

namespace {

// Exit status of a command line that cannot be carried out.
constexpr int USAGE_ERROR = 2;
// At most a year of simulated time in one run (a leap year's days): the
// trace and the report take no more memory for a year than for a day.
constexpr double MOST_HOURS = 24.0 * 366.0;
constexpr double LEAST_HOURS = 1.0 / 60.0;
// The years --start may name: the simulated clocks count milliseconds and
// nanoseconds in 64 bits, which reach past 2262 no further.
constexpr int FIRST_START_YEAR = 1970;
constexpr int LAST_START_YEAR = 2200;

// A number stored in one field, within a range. A default outside the
// range stands for none (a run without an end, a file from its first row):
// the help says it in words, not as a number.
template <typename T>
void rangeOption(CLI::App &app, const std::string &name, T *field, double lo, double hi,
                 const std::string &help) {
    CLI::Range range(lo, hi);
    range.description("in [" + CLI::detail::to_string(lo) + ", " + CLI::detail::to_string(hi) +
                      "]");
    CLI::Option *option = app.add_option(name, *field, help)->type_name("N")->check(range);
    if (static_cast<double>(*field) >= lo && static_cast<double>(*field) <= hi) {
        option->capture_default_str();
    }
}

// Every number of every subcommand (the options of type N) is finite: NaN
// compares false with any bound, so a range alone would let it through.
void requireFiniteNumbers(CLI::App &app) {
    static const CLI::Validator finite(
        [](const std::string &v) {
            return std::isfinite(std::strtod(v.c_str(), nullptr)) ? "" : "not a finite number";
        },
        "");
    for (CLI::App *sub : app.get_subcommands({})) {
        for (CLI::Option *option : sub->get_options()) {
            // The type's name is followed by its checks' descriptions.
            std::string type = option->get_type_name();
            if (type == "N" || type.rfind("N:", 0) == 0) {
                option->check(finite);
            }
        }
    }
}

// A word that chooses one of the given values.
template <typename T>
void choiceOption(CLI::App &app, const std::string &name, T *field,
                  const std::map<std::string, T> &choices, const std::string &help) {
    std::string names;
    for (const auto &choice : choices) {
        names += (names.empty() ? "" : "|") + choice.first;
    }
    app.add_option_function<std::string>(
           name, [field, choices](const std::string &word) { *field = choices.at(word); }, help)
        ->type_name(names)
        ->check(CLI::IsMember(choices, CLI::ignore_case).description(""));
}

// A number stored in a narrower field (the bus address, the voltage word).
template <typename T>
void narrowOption(CLI::App &app, const std::string &name, T *field, int hi,
                  const std::string &help) {
    CLI::Range range(0, hi);
    range.description("in [0, " + std::to_string(hi) + "]");
    app.add_option_function<int>(
           name, [field](int value) { *field = static_cast<T>(value); }, help)
        ->type_name("N")
        ->check(range);
}

void addHouseOptions(CLI::App &app, SimOptions *o) {
    HouseParams &h = o->house;
    // Applied by the pre-scan in parseCommandLine; declared so that it is
    // known, checked and described.
    app.add_option("--house", "the house, its equipment sized to its loads (typical)")
        ->type_name("leaky|typical|tight")
        ->check(CLI::IsMember({"leaky", "typical", "tight"}).description(""));
    // Applied by the pre-scan too, after the preset.
    app.add_option("--area", "floor area, m2: the house scaled from its 150 m2")
        ->type_name("N")
        ->check(CLI::Range(10.0, 10000.0));
    app.add_option("--solar-share", "share of the house's sun (its windows facing one way, 1)")
        ->type_name("N")
        ->check(CLI::Range(0.0, 3.0));
    choiceOption(app, "--equipment", &h.equipment,
                 {{"furnace", Equipment::Furnace}, {"heatpump", Equipment::HeatPump}},
                 "HVAC equipment (default furnace with air conditioner)");
    choiceOption(app, "--aux", &h.aux, {{"electric", AuxHeat::Electric}, {"gas", AuxHeat::Gas}},
                 "the heat pump's auxiliary heat (default electric)");
    choiceOption(app, "--stages", &h.stages, {{"1", 1}, {"2", 2}},
                 "stages of the equipment (default: as the thermostat's record says)");
    rangeOption(app, "--indoor", &h.indoorStart, -40, 60, "starting indoor temperature, C");
    rangeOption(app, "--indoor-rh", &h.indoorRhStart, 0, 100, "starting indoor humidity, %");
    rangeOption(app, "--outdoor", &h.outdoorMean, -50, 50, "daily mean outdoor temperature, C");
    rangeOption(app, "--swing", &h.outdoorSwing, 0, 30, "the outdoor temperature's daily swing, C");
    rangeOption(app, "--outdoor-rh", &h.outdoorRh, 0, 100, "outdoor relative humidity, %");
    rangeOption(app, "--solar", &h.solarPeak, 0, 20000, "peak solar gain, W");
    rangeOption(app, "--internal", &h.internalGain, 0, 20000, "constant internal gain, W");
    rangeOption(app, "--ua", &h.uaAir, 1, 5000,
                "the room air's own conductance to outdoors (windows, air leakage), W/K; the "
                "walls and roof add theirs through the building's mass (the typical house: "
                "100 of its 209 W/K)");
    const char *sized = "(default: sized from the house's design loads)";
    rangeOption(app, "--furnace-w", &h.furnaceW, 0, 100000, std::string("furnace, W ") + sized);
    rangeOption(app, "--cool-w", &h.coolW, 0, 100000, std::string("air conditioner, W ") + sized);
    rangeOption(app, "--heatpump-w", &h.heatPumpW, 0, 100000, std::string("heat pump, W ") + sized);
    rangeOption(app, "--aux-w", &h.auxW, 0, 100000, std::string("auxiliary heat, W ") + sized);
    app.add_option_function<std::string>(
           "--weather",
           [o](const std::string &path) {
               std::string error;
               if (!o->weather.load(path, &error)) {
                   throw CLI::ValidationError("--weather", error);
               }
           },
           "replay a weather day file (CSV: hour, outdoor C, humidity %, solar W/m2) instead of "
           "the sine day, from its first row")
        ->type_name("FILE");
    rangeOption(app, "--weather-from", &o->weatherFrom, 0, 24 * 366,
                "the weather file's hour at the start of the run (default: its first row)");
    rangeOption(app, "--weather-noise", &h.weatherNoise, 0, 10,
                "a smooth random offset of the outdoor temperature of about this standard "
                "deviation, C, drawn from --seed (default 0: none)");
}

void addCoprocessorOptions(CLI::App &app, SimOptions *o) {
    CoprocessorOptions &c = o->coproc;
    choiceOption(app, "--external-sensor", &c.external,
                 {{"outdoor", ExternalSensor::Outdoor}, {"indoor", ExternalSensor::Indoor}},
                 "where the second thermistor is (default outdoor)");
    narrowOption(app, "--voltage", &c.lineVoltage, 65535,
                 "line-voltage reading (600; 491 or less is under-voltage)");
    narrowOption(app, "--address", &c.address, 255, "the bus interface's address (1)");
    app.add_option("--bus-version", c.busVersion, "the bus interface's version (2.10)")
        ->check(CLI::Validator(
            [](const std::string &v) {
                return !v.empty() && v.size() <= 32 ? "" : "1 to 32 characters";
            },
            ""))
        ->type_name("TEXT");
    app.add_flag_callback(
        "--offline", [o] { o->coproc.online = false; }, "report the bus offline");
    app.add_flag_callback(
        "--no-levels", [o] { o->coproc.levelsEnabled = false; },
        "report the bus's levels disabled");
    app.add_flag("--show-requests", c.showRequests, "print the periodic requests as they arrive");
    rangeOption(app, "--sensor-offset", &c.sensorOffset, -2, 2,
                "what the thermostat's on-board sensor reads above the room's air, C");
    rangeOption(app, "--seed", &c.seed, 1, 4294967295.0,
                "seed of the simulator's random bytes (the report gives it)");
}

void addBoardOptions(CLI::App &app, SimOptions *o) {
    app.add_option("--root", o->root, "board root (default $TSTAT_ROOT, else ./board)")
        ->check(CLI::Validator([](const std::string &v) { return v.empty() ? "empty" : ""; }, ""))
        ->type_name("DIR");
    rangeOption(app, "--port", &o->port, 0, 65535,
                "console socket on 127.0.0.1 (0: a free port, written to ROOT/sim/console.port)");
    rangeOption(app, "--http", &o->http, 0, 65535,
                "the dashboard on http://127.0.0.1:N (0: a free port, written to "
                "ROOT/sim/http.port)");
    app.add_flag_callback(
        "--no-http", [o] { o->http = -1; }, "no dashboard");
    app.add_flag_callback(
        "--no-status", [o] { o->status = false; }, "no house status line once a simulated minute");
    app.add_flag_callback(
        "--no-weather", [o] { o->controllerWeather = false; },
        "the building controller sends no weather (the thermostat shows none received)");
    app.add_option("--tstat", o->tstat, "the application")->type_name("PATH");
    app.add_option("--data", o->data, "the application's working directory")->type_name("DIR");
    app.add_option("--factory-tool", o->factoryTool, "the tool that writes a factory image")
        ->type_name("PATH");
    app.add_option_function<std::string>(
           "--factory",
           [o](const std::string &words) {
               std::istringstream in(words);
               o->factoryArgs.clear();
               for (std::string word; in >> word;) {
                   o->factoryArgs.push_back(word);
               }
           },
           "options of the factory tool for a root without a factory image (or with "
           "--fresh), e.g. --factory=\"--mode cool --cycle-rate 6\" (tstat-factory --help)")
        ->type_name("\"OPTIONS\"");
    app.add_flag("--fresh", o->fresh,
                 "start from a fresh board: a new factory image, blank user and serial records "
                 "and the clock unset (the last run's settings, holds and vacations go)");
    app.add_option("--flash-erase-size", o->flashEraseSize,
                   "erase-block size of the simulated flash in bytes, a power of two")
        ->type_name("N")
        ->check(CLI::Validator(
            [](const std::string &v) {
                long n = std::strtol(v.c_str(), nullptr, 10);
                return n >= 512 && n <= 262144 && (n & (n - 1)) == 0
                           ? ""
                           : "a power of two from 512 to 262144";
            },
            ""))
        ->capture_default_str();
}

// How a run keeps time, as the command line asks; finishClock() decides.
struct ClockChoice {
    enum Kind { Default, Lockstep, Scaled } kind = Default;
    std::string start;
    bool midnight = false;
};

void addClockOptions(CLI::App &app, SimOptions *o, ClockChoice *clock) {
    choiceOption(app, "--clock", &clock->kind,
                 {{"lockstep", ClockChoice::Lockstep}, {"scaled", ClockChoice::Scaled}},
                 "lockstep: simulated time moves when both sides are done, the same on any host "
                 "(default for the fixture and with --hours or --script); scaled: the host's "
                 "clock times TSTAT_TIME_SCALE (default otherwise)");
    app.add_option("--start", clock->start,
                   "lock-step time: the local time the run starts at, \"YYYY-MM-DD HH:MM[:SS]\" "
                   "(default: now)")
        ->type_name("TIME");
    app.add_flag("--midnight", clock->midnight,
                 "lock-step time: start at the last local midnight, so that the plot's days run "
                 "from 00:00 to 24:00");
    rangeOption(app, "--pace", &o->pace, 0, 1e6,
                "lock-step time: at most N times real time (0: as fast as the host allows)");
    app.add_flag("--in-process", o->inProcess,
                 "lock-step time: run the application in the simulator's process (same "
                 "files, a fraction of the processor time; the program itself otherwise)");
    rangeOption(app, "--answer-limit", &o->answerLimit, 0.1, 3600,
                "lock-step time: host seconds the application has to answer its clock before "
                "the run ends, reporting it stopped or hung");
    app.add_option("--script", o->script,
                   "lock-step time: timed console lines, e.g. \"06:59:30 key mode 3.5\" (see "
                   "sim/script.h)")
        ->type_name("FILE")
        ->check(CLI::ExistingFile);
}

// The clock of a run, once its options are known: lock-step by default for
// runs that end by themselves. False with a message.
bool finishClock(const ClockChoice &clock, bool endsByItself, SimOptions *o, std::string *error) {
    o->lockstep = clock.kind == ClockChoice::Lockstep ||
                  (clock.kind == ClockChoice::Default &&
                   (endsByItself || o->hours > 0.0 || !o->script.empty() || clock.midnight));
    if (!o->lockstep &&
        (!clock.start.empty() || clock.midnight || o->pace > 0.0 || !o->script.empty())) {
        *error = "--start, --midnight, --pace and --script need lock-step time";
        return false;
    }
    if (clock.midnight && !clock.start.empty()) {
        *error = "--midnight and --start each say when the run starts: give one";
        return false;
    }
    if (clock.start.empty()) {
        time_t now = time(nullptr);
        struct tm local {};
        localtime_r(&now, &local);
        local.tm_hour = 0;
        local.tm_min = 0;
        local.tm_sec = 0;
        local.tm_isdst = -1;
        o->startWall = static_cast<int64_t>(clock.midnight ? mktime(&local) : now);
        return true;
    }
    struct tm local {};
    const char *end = strptime(clock.start.c_str(), "%Y-%m-%d %H:%M", &local);
    if (end != nullptr && *end == ':') {
        end = strptime(end, ":%S", &local);
    }
    local.tm_isdst = -1;
    int year = local.tm_year + 1900;
    time_t t = end != nullptr && *end == '\0' && year >= FIRST_START_YEAR && year <= LAST_START_YEAR
                   ? mktime(&local)
                   : static_cast<time_t>(-1);
    if (t == static_cast<time_t>(-1)) {
        *error = "--start takes \"YYYY-MM-DD HH:MM[:SS]\" of the years " +
                 std::to_string(FIRST_START_YEAR) + " to " + std::to_string(LAST_START_YEAR) +
                 ", not \"" + clock.start + "\"";
        return false;
    }
    o->startWall = static_cast<int64_t>(t);
    return true;
}

void addRunOptions(CLI::App &app, SimOptions *o, ClockChoice *clock) {
    addBoardOptions(app, o);
    addHouseOptions(app, o);
    addCoprocessorOptions(app, o);
    addClockOptions(app, o, clock);
    rangeOption(app, "--hours", &o->hours, LEAST_HOURS, MOST_HOURS,
                "end after N simulated hours (time scale 3600 unless TSTAT_TIME_SCALE says; "
                "default: when the application ends or the run is interrupted)");
    app.add_option("--report-dir", o->reportDir,
                   "where the report, trace.csv and day.png go (ROOT/sim)")
        ->type_name("DIR");
    app.add_flag_callback(
        "--no-report", [o] { o->report = false; }, "no report at the end");
}

// The options of a board that runs the board flavour itself.
void addBoardLinkOptions(CLI::App &app, SimOptions *o) {
    app.add_option("--coproc-line", o->serial,
                   "the coprocessor's line is this serial device of a board that runs the board "
                   "build (the emulated board's /dev/ttyS1, a USB serial adapter); the "
                   "application is not started")
        ->type_name("DEVICE");
    app.add_option("--qmp", o->qmp,
                   "the emulator's QMP socket: the keys and the screen of the emulated board")
        ->type_name("SOCKET");
    app.add_option_function<std::string>(
           "--io-page",
           [o](const std::string &value) {
               size_t at = value.rfind('@');
               o->ioPageFile = value.substr(0, at);
               o->ioPageOffset =
                   at == std::string::npos ? 0 : std::strtoull(value.c_str() + at + 1, nullptr, 0);
           },
           "the emulator's memory file and the board's I/O page in it: the relays and the test "
           "pin")
        ->type_name("FILE@OFFSET");
    app.add_option("--board-console", o->boardConsole,
                   "the board's console, a file its emulator logs it to or a serial device: the "
                   "installer's lines, the version running and the last update's verdict")
        ->type_name("FILE");
}

void addFixtureOptions(CLI::App &app, FixtureOptions *o, ClockChoice *clock) {
    app.add_option("--serial", o->serial,
                   "the serial number to store: 14 printable characters (default: generated, TS "
                   "+ YYMMDD + 6 digits)")
        ->check(CLI::Validator(
            [](const std::string &v) {
                return printableSerial(v)
                           ? ""
                           : "a serial number is 14 printable characters without spaces: " + v;
            },
            ""))
        ->type_name("SERIAL");
    rangeOption(app, "--presses", &o->presses, 0, 10,
                "key presses of the relay walk (fewer make it fail)");
    app.add_flag_callback(
        "--no-link-answer", [o] { o->sim.coproc.answersLinkTest = false; },
        "the coprocessor ignores the link-test frame");
    app.add_flag_callback(
        "--bus-test-fail", [o] { o->sim.coproc.busTestPasses = false; },
        "the coprocessor answers the bus test with a failure");
    addRunOptions(app, &o->sim, clock);
    addBoardLinkOptions(app, &o->sim);
    app.add_option("--console-line", o->consoleSerial,
                   "with --coproc-line: the board's console port, on which the fixture runs the "
                   "test")
        ->type_name("DEVICE");
}

// The defaults that depend on where tstat-sim itself lies: the application,
// its data and the factory tool beside it in the build.
void setBuildPaths(SimOptions *o) {
    std::string bin = ownDirectory();
    o->tstat = bin + "/tstat";
    o->data = (fs::path(bin).parent_path() / "data").string();
    o->factoryTool = bin + "/tstat-factory";
}

void makePathsAbsolute(SimOptions *o) {
    o->tstat = fs::absolute(o->tstat).string();
    o->data = fs::absolute(o->data).string();
}

// The value of an option given as "--name VALUE" or "--name=VALUE" ("": not given).
std::string optionValue(const std::vector<std::string> &args, const std::string &name) {
    std::string value;
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == name && i + 1 < args.size()) {
            value = args[i + 1];
        } else if (args[i].rfind(name + "=", 0) == 0) {
            value = args[i].substr(name.size() + 1);
        }
    }
    return value;
}

// A preset replaces the whole house, and the floor area and the share of
// sun scale it, so they are applied before the other options (which then
// change the house), wherever they stand. Their values are checked by the
// parser.
void applyHousePreset(const std::vector<std::string> &args, SimOptions *o) {
    HousePreset preset;
    if (parseHousePreset(optionValue(args, "--house"), &preset)) {
        o->house = housePreset(preset);
    }
    std::string area = optionValue(args, "--area");
    std::string share = optionValue(args, "--solar-share");
    if (!area.empty() || !share.empty()) {
        double a = area.empty() ? HOUSE_FLOOR_AREA : strtod(area.c_str(), nullptr);
        double s = share.empty() ? 1.0 : strtod(share.c_str(), nullptr);
        if (std::isfinite(a) && a > 0.0 && std::isfinite(s) && s >= 0.0) {
            scaleHouse(&o->house, a, s);
        }
    }
}

struct KeyOptions {
    std::string key;
    double hold = 0.1;
    std::string root;
};

// Every subcommand with the options it fills in.
struct CommandLine {
    SimOptions runOptions;
    ClockChoice runClock;
    SimOptions coprocOptions;
    ClockChoice coprocClock;
    FixtureOptions fixture;
    ClockChoice fixtureClock;
    std::string galleryDir;
    std::string galleryData;
    KeyOptions key;
    CLI::App *run = nullptr;
    CLI::App *coproc = nullptr;
    CLI::App *fix = nullptr;
    CLI::App *gallery = nullptr;
    CLI::App *press = nullptr;
    CLI::App *study = nullptr;
    CLI::App *year = nullptr;
    CLI::App *building = nullptr;
    CLI::App *help = nullptr;
    StudyOptions studyOptions;
    BuildingOptions buildingOptions;
    std::string climate;
    std::string yearFile;
    bool yearEpw = false;
};

// The named climates, for the help and the choice.
std::vector<std::string> climateNames() {
    std::vector<std::string> names;
    for (const ClimateNormals &c : typicalClimates()) {
        names.emplace_back(c.name);
    }
    return names;
}

int writeTypicalYear(const std::string &climate, const std::string &file, bool epw) {
    const ClimateNormals &normals = *typicalClimate(climate);
    std::string text = epw ? typicalYearEpw(normals) : typicalYearCsv(normals);
    if (file.empty() || file == "-") {
        fputs(text.c_str(), stdout);
        return 0;
    }
    if (!writeFileAtomic(file, text)) {
        fprintf(stderr, "tstat-sim typical-year: cannot write %s\n", file.c_str());
        return 1;
    }
    return 0;
}

void addStudyOptions(CLI::App &app, StudyOptions *o) {
    std::string bin = ownDirectory();
    o->simBinary = bin + "/tstat-sim";
    o->fontDir = (fs::path(bin).parent_path() / "data" / "fonts").string();
    o->weatherDir = "sim/weather";
    app.add_option("FILE", o->file, "a study file (JSON; see docs/simulator.md)");
    app.add_option("--houses", o->houses, "leaky, typical, tight")->delimiter(',');
    app.add_option("--weather", o->weather,
                   "winter, cold-snap, spring-swing, summer, sine:MEAN:SWING[:cool], "
                   "typical:CLIMATE (minneapolis, nashville, seattle), epw:FILE")
        ->delimiter(',');
    app.add_option("--equipment", o->equipment,
                   "furnace, furnace2, heatpump, heatpump2, heatpump-gas")
        ->delimiter(',');
    app.add_option("--settings", o->settings,
                   "program, constant, no-recovery, cycle-rate-N, balance-N, diff-C, hold-N[:M]")
        ->delimiter(',');
    app.add_option("--days", o->days, "simulated days of each run after the warm-up")
        ->delimiter(',')
        ->check(CLI::Range(1, 360));
    app.add_option("--start", o->start, "\"YYYY-MM-DD HH:MM\" the runs start at");
    app.add_option("--season", o->season,
                   "MM-DD:MM-DD: whole weeks from the Monday on or before the first date (in "
                   "the start's year) to the second, e.g. 10-01:04-30");
    app.add_option("--warmup", o->warmupHours,
                   "hours simulated first and left out of the figures (the study file's, or 12)")
        ->type_name("H")
        ->check(CLI::Range(0, 240));
    app.add_option("--seed", o->seed, "the first seed (the study file's, or 5)")
        ->type_name("N")
        ->check(CLI::Range(1.0, 4294967295.0));
    app.add_option("--seeds", o->seeds,
                   "N seeds from the first, or a list of seeds: each perturbs weather, the "
                   "house's start, its gains and the sensor")
        ->delimiter(',')
        ->type_name("N|A,B,...");
    app.add_option("--out", o->out, "where the runs and results go")->capture_default_str();
    app.add_option("--check", o->check,
                   "a baseline results.json: exit status 1 when a figure moved past its "
                   "tolerance, 2 when the baseline is of another unit or study")
        ->type_name("BASELINE.json");
}

// Where a study runs (this host, a Slurm cluster) and what it gives.
void addStudyRunOptions(CLI::App &app, StudyOptions *o) {
    rangeOption(app, "--jobs", &o->jobs, 0, 256, "runs at once (0: one per processor)");
    app.add_option("--weather-dir", o->weatherDir, "the weather day files")->capture_default_str();
    app.add_flag("--dry-run", o->dryRun, "print the runs only (with --emit: write the job only)");
    app.add_option_function<std::vector<std::string>>(
           "--emit",
           [o](const std::vector<std::string> &v) {
               o->emit = v[0];
               o->emitDir = v[1];
           },
           "the runs as one Slurm array job in DIR, submitted with sbatch")
        ->expected(2)
        ->type_name("slurm DIR")
        ->check(CLI::Validator(
            [](const std::string &v) {
                return v.find_first_of(" \t\n'\"\\$`") == std::string::npos
                           ? ""
                           : "no spaces or quotes in the folder";
            },
            ""));
    app.add_flag("--only-missing", o->onlyMissing,
                 "with --emit: only the runs of DIR without a record of success");
    app.add_option("--merge", o->merge,
                   "the results of the runs a cluster left in DIR (exit 1 naming those missing)")
        ->type_name("DIR");
    app.add_flag("--version", o->printVersion, "print the build's fingerprint");
}

// The study and the typical years it may replay.
void declareStudy(CLI::App &app, CommandLine *c) {
    c->study = app.add_subcommand(
        "study", "run a matrix of lock-step runs (houses, weather, equipment, settings, days) in "
                 "parallel and write their figures, plots and a check against a baseline");
    addStudyOptions(*c->study, &c->studyOptions);
    addStudyRunOptions(*c->study, &c->studyOptions);

    c->year = app.add_subcommand(
        "typical-year", "write a typical year of hourly weather of a named climate, made from its "
                        "published monthly normals, as a weather file for --weather");
    std::string climates;
    for (const std::string &name : climateNames()) {
        climates += (climates.empty() ? "" : "|") + name;
    }
    c->year->add_option("CLIMATE", c->climate, "the climate")
        ->required()
        ->check(CLI::IsMember(climateNames()).description(""))
        ->type_name(climates);
    c->year->add_option("FILE", c->yearFile, "where it goes (default: standard output)");
    c->year->add_flag("--epw", c->yearEpw, "as an EPW file instead of the CSV of --weather");
}

void addBuildingOptions(CLI::App &app, BuildingOptions *o) {
    std::string bin = ownDirectory();
    o->simBinary = bin + "/tstat-sim";
    o->tstat = bin + "/tstat";
    o->data = (fs::path(bin).parent_path() / "data").string();
    o->factoryTool = bin + "/tstat-factory";
    o->fontDir = o->data + "/fonts";
    app.add_option("FILE", o->file, "a building file (see docs/simulator.md)")
        ->check(CLI::ExistingFile);
    rangeOption(app, "--units", &o->units, 1, 255,
                "without a file: a building of N typical zones, addresses 1 to N");
    app.add_option("--out", o->out, "where the units, the report and the plot go")
        ->capture_default_str();
    rangeOption(app, "--hours", &o->hours, 0, MOST_HOURS, "simulated hours (the file's, or 24)");
    rangeOption(app, "--http", &o->http, 0, 65535,
                "the building's dashboard on http://127.0.0.1:N (0: a free port, in OUT/sim/"
                "http.port)");
    rangeOption(app, "--pace", &o->pace, 0, 1e6,
                "at most N times real time (0: as fast as the host allows)");
    app.add_option("--script", o->script,
                   "timed console lines of the building, e.g. \"15:00 @3 command ST\"")
        ->type_name("FILE")
        ->check(CLI::ExistingFile);
    app.add_option("--event", o->events,
                   "a demand-response event in place of the file's, e.g. \"15:00 cool 2F for 3h "
                   "stagger 30m\" (again for more)")
        ->type_name("EVENT");
    app.add_flag_callback(
        "--no-baseline", [o] { o->baseline = false; },
        "run the building once, not again without its events");
    choiceOption(app, "--on-failure", &o->onFailure, {{"continue", 0}, {"end", 1}},
                 "a unit that crashes or hangs: the building goes on without it or ends (the "
                 "file's, or continue)");
    rangeOption(app, "--answer-limit", &o->answerLimit, 0.1, 3600,
                "host seconds a unit's application has to answer its clock");
    app.add_flag("--in-process", o->inProcess,
                 "each unit's application in its simulator's process (a fraction of the "
                 "processor time; its own program otherwise)");
}

void declareSubcommands(CLI::App &app, CommandLine *c) {
    app.require_subcommand(1);
    app.set_help_all_flag("--help-all", "every subcommand's options");

    setBuildPaths(&c->runOptions);
    c->run = app.add_subcommand(
        "run", "prepare the board, start build/bin/tstat, and play its coprocessor, house and "
               "building controller");
    addRunOptions(*c->run, &c->runOptions, &c->runClock);
    // The building starts its units with their end of its link (hidden:
    // only the building uses it).
    c->run
        ->add_option("--building-link", c->runOptions.buildingLink,
                     "descriptor of the link to the building this run is a unit of")
        ->group("");
    c->coprocOptions = c->runOptions;
    c->coproc = app.add_subcommand("coproc", "the same as run without starting the application");
    addRunOptions(*c->coproc, &c->coprocOptions, &c->coprocClock);
    addBoardLinkOptions(*c->coproc, &c->coprocOptions);

    setBuildPaths(&c->fixture.sim);
    c->fix = app.add_subcommand(
        "fixture", "play the production-line fixture: set the test pin, start build/bin/tstat, "
                   "send the manufacturing test's commands, press the relay walk's keys, enter "
                   "a serial number and print a pass/fail report (exit status 0 passed, 1 "
                   "failed)");
    addFixtureOptions(*c->fix, &c->fixture, &c->fixtureClock);

    c->galleryData = (fs::path(ownDirectory()).parent_path() / "data").string();
    c->gallery = app.add_subcommand(
        "gallery", "render every page and pop-up with sample data into DIR/<name>.png and "
                   "DIR/contact-sheet.png");
    c->gallery->add_option("DIR", c->galleryDir, "where the pictures go")->required();
    c->gallery->add_option("--data", c->galleryData, "the images and fonts (the build's data)");

    c->press = app.add_subcommand(
        "key", "press a key on the running application: through the console of the simulator "
               "running on the root, else on the key FIFO");
    c->press->add_option("KEY", c->key.key, "the key")
        ->required()
        ->check(CLI::IsMember({"up", "down", "mode", "exit"}).description(""))
        ->type_name("up|down|mode|exit");
    rangeOption(*c->press, "--hold", &c->key.hold, 0, 3600,
                "seconds of simulated time the key is held");
    c->press->add_option("--root", c->key.root, "board root (default $TSTAT_ROOT, else ./board)");

    declareStudy(app, c);

    c->building = app.add_subcommand(
        "building", "run many thermostats, each in its own zone, on one control bus under one "
                    "building controller, with demand-response events, and write the "
                    "building's figures");
    addBuildingOptions(*c->building, &c->buildingOptions);

    c->help = app.add_subcommand("help", "every subcommand's options, as --help-all");
    requireFiniteNumbers(app);
}

// False, with the subcommands named, when the first word is none of them
// (the parser would only say that one is required).
bool knownSubcommand(const std::vector<std::string> &args, const CommandLine &c) {
    const CLI::App *subcommands[] = {c.run,   c.coproc, c.fix,      c.gallery, c.press,
                                     c.study, c.year,   c.building, c.help};
    if (args.empty() || args[0].empty() || args[0][0] == '-' ||
        std::any_of(std::begin(subcommands), std::end(subcommands),
                    [&args](const CLI::App *sub) { return sub->get_name() == args[0]; })) {
        return true;
    }
    std::string names;
    for (const CLI::App *sub : subcommands) {
        names += (names.empty() ? "" : ", ") + sub->get_name();
    }
    fprintf(stderr,
            "tstat-sim: unknown subcommand \"%s\"; the subcommands are %s (tstat-sim "
            "--help-all describes them)\n",
            args[0].c_str(), names.c_str());
    return false;
}

int startSimulator(CommandLine &c) {
    bool withApplication = c.run->parsed();
    SimOptions &o = withApplication ? c.runOptions : c.coprocOptions;
    ClockChoice &clock = withApplication ? c.runClock : c.coprocClock;
    // A board on a serial line keeps real time.
    if (!o.serial.empty() && clock.kind == ClockChoice::Default) {
        clock.kind = ClockChoice::Scaled;
    }
    std::string error;
    if (!finishClock(clock, false, &o, &error)) {
        fprintf(stderr, "tstat-sim: %s\n", error.c_str());
        return USAGE_ERROR;
    }
    if (!o.serial.empty() && (o.lockstep || platformTimeScale() != 1.0)) {
        fprintf(stderr, "tstat-sim: a board on a serial line runs in real time: no lock-step "
                        "time, no time scale\n");
        return USAGE_ERROR;
    }
    makePathsAbsolute(&o);
    o.house.noiseSeed = o.coproc.seed;
    return runSimulator(o, withApplication);
}

int startFixture(CommandLine &c) {
    FixtureOptions &fixture = c.fixture;
    if (!fixture.sim.serial.empty() && c.fixtureClock.kind == ClockChoice::Default) {
        c.fixtureClock.kind = ClockChoice::Scaled;
    }
    std::string error;
    if (!finishClock(c.fixtureClock, true, &fixture.sim, &error)) {
        fprintf(stderr, "tstat-sim fixture: %s\n", error.c_str());
        return USAGE_ERROR;
    }
    if (!fixture.sim.serial.empty() &&
        (fixture.consoleSerial.empty() || fixture.sim.lockstep || platformTimeScale() != 1.0)) {
        fprintf(stderr, "tstat-sim fixture: a board on serial lines needs --console-line and "
                        "runs in real time\n");
        return USAGE_ERROR;
    }
    makePathsAbsolute(&fixture.sim);
    return runFixture(fixture);
}

int startKeyPress(const KeyOptions &key) {
    if (!key.root.empty()) {
        setenv("TSTAT_ROOT", key.root.c_str(), 1);
        platformReset();
    }
    // With a simulator on the root the press goes through its console, as a
    // typed one: said there, an event of its run, held in its simulated time.
    constexpr size_t PORT_FILE_MAX_BYTES = 32;
    constexpr int64_t CONSOLE_ANSWER_MS = 10000;
    std::string port;
    std::string error;
    if (boardRootHeld() &&
        readBoardFile(rootedPath("/sim/console.port"), PORT_FILE_MAX_BYTES, &port, &error)) {
        std::string said;
        bool pressed = askConsole(std::atoi(port.c_str()),
                                  "key " + key.key + " " + formatNumber("%g", key.hold),
                                  "sim> key " + key.key + " held ", CONSOLE_ANSWER_MS, &said);
        fprintf(pressed ? stdout : stderr, "tstat-sim: %s\n", said.c_str());
        return pressed ? 0 : 1;
    }
    return pressKey(key.key, key.hold);
}

} // namespace

int simCommandLine(int argc, char **argv) {
    CLI::App app("the simulated board: the coprocessor, the house and the building controller of "
                 "the thermostat",
                 "tstat-sim");
    CommandLine c;
    declareSubcommands(app, &c);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!knownSubcommand(args, c)) {
        return USAGE_ERROR;
    }
    applyHousePreset(args, &c.runOptions);
    applyHousePreset(args, &c.coprocOptions);
    applyHousePreset(args, &c.fixture.sim);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return USAGE_ERROR;
    }
    if (c.help->parsed()) {
        // The whole application's text: app.help() would give the help
        // subcommand's own.
        fputs(app.get_formatter()->make_help(&app, "tstat-sim", CLI::AppFormatMode::All).c_str(),
              stdout);
        return 0;
    }
    if (c.run->parsed() || c.coproc->parsed()) {
        return startSimulator(c);
    }
    if (c.fix->parsed()) {
        return startFixture(c);
    }
    if (c.study->parsed()) {
        return runStudyCommand(c.studyOptions);
    }
    if (c.building->parsed()) {
        return runBuildingCommand(c.buildingOptions);
    }
    if (c.gallery->parsed()) {
        return runGallery(c.galleryDir, c.galleryData);
    }
    if (c.year->parsed()) {
        return writeTypicalYear(c.climate, c.yearFile, c.yearEpw);
    }
    return startKeyPress(c.key);
}

} // namespace sim
