// tstat-sim building's whole work: the building file and the script
// checked before any unit starts, the run with the events and the run
// without them, and the report, figures, demand and plot they give.
#include "building/building_run.h"

#include "board/board.h"
#include "board/run_support.h"
#include "host/program_command.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sim {

namespace {

namespace fs = std::filesystem;

constexpr int USAGE_ERROR = 2;

// Runs the factory tool on a zone's options into a scratch file; false
// with what it said.
bool factoryTakes(const std::string &tool, const std::vector<std::string> &options,
                  const std::string &scratch, std::string *said) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"-o", scratch + "/image"});
    ProgramCommand command(tool, args);
    std::string log = scratch + "/factory.log";
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(out, STDERR_FILENO) < 0) {
            _exit(127);
        }
        command.exec();
        _exit(127);
    }
    int status = -1;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return true;
    }
    std::ifstream in(log);
    std::getline(in, *said);
    return false;
}

// Every zone's record options, as the factory tool checks them (each set
// of options once).
bool checkFactoryOptions(const BuildingSpec &plan, const std::string &tool,
                         const std::string &scratch, std::string *error) {
    std::set<std::vector<std::string>> seen;
    for (size_t i = 0; i < plan.zones.size(); i++) {
        std::vector<std::string> options = factoryArguments(plan, i);
        if (!seen.insert(options).second) {
            continue;
        }
        std::string said;
        if (!factoryTakes(tool, options, scratch, &said)) {
            const ZoneSpec &z = plan.zones[i];
            *error = plan.path + ":" + std::to_string(z.line) + ": zone " + z.name +
                     ": the factory tool refused its options: " + said;
            return false;
        }
    }
    return true;
}

double cpuSeconds(int who) {
    struct rusage usage {};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The events of --event in place of the building file's.
bool replaceEvents(const std::vector<std::string> &lines, BuildingSpec *plan, std::string *error) {
    plan->events.clear();
    for (const std::string &line : lines) {
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string w; in >> w;) {
            words.push_back(w);
        }
        DemandEvent event;
        if (!parseBuildingEvent(words, *plan, &event, error)) {
            *error = "--event \"" + line + "\": " + *error;
            return false;
        }
        plan->events.push_back(event);
    }
    return true;
}

// The plan, the script and the output directory, all checked; false with
// the message.
bool prepare(BuildingOptions &o, BuildingSpec *plan, std::vector<ScriptLine> *script,
             std::string *error) {
    if (o.file.empty() == (o.units <= 0)) {
        *error = "give a building file or --units N";
        return false;
    }
    if (!o.file.empty() && !loadBuilding(o.file, plan, error)) {
        return false;
    }
    if (o.file.empty()) {
        *plan = generatedBuilding(o.units);
        std::string why;
        if (!hostHoldsUnits(plan->zones.size(), currentHostLimits(), &why)) {
            *error = "--units " + std::to_string(o.units) + ": " + why;
            return false;
        }
    }
    if (!o.events.empty() && !replaceEvents(o.events, plan, error)) {
        return false;
    }
    plan->hours = o.hours > 0.0 ? o.hours : plan->hours;
    plan->endOnFailure = o.onFailure >= 0 ? o.onFailure == 1 : plan->endOnFailure;
    std::error_code ec;
    fs::create_directories(o.out + "/sim", ec);
    if (ec) {
        *error = "cannot make " + o.out + ": " + ec.message();
        return false;
    }
    o.out = fs::absolute(o.out).lexically_normal().string();
    if (!checkFactoryOptions(*plan, o.factoryTool, o.out + "/sim", error)) {
        return false;
    }
    return o.script.empty() ||
           loadScript(o.script, plan->startWall, script, error, checkBuildingLine);
}

bool writeResults(const BuildingOptions &o, const BuildingSpec &plan, const BuildingResult &with,
                  const BuildingResult *without) {
    std::string text = formatBuildingReport(plan, with, without);
    fputs(text.c_str(), stdout);
    std::string plotError;
    bool written = writeFileAtomic(o.out + "/building.txt", text) &&
                   writeFileAtomic(o.out + "/building.json",
                                   buildingJson(plan, with, without).dump(2) + "\n") &&
                   writeFileAtomic(o.out + "/demand.csv", demandCsv(plan, with, without));
    bool plotted =
        plotBuildingDemand(o.out + "/demand.png", o.fontDir, plan, with, without, &plotError);
    printf("building: report %s/building.txt, figures building.json, demand demand.csv, %s\n",
           o.out.c_str(), plotted ? "plot demand.png" : ("no plot: " + plotError).c_str());
    return written;
}

} // namespace

int runBuildingCommand(BuildingOptions o) {
    BuildingSpec plan;
    std::vector<ScriptLine> script;
    std::string error;
    // The building's own files (its console's port, its dashboard's) go
    // under OUT/sim.
    setenv("TSTAT_ROOT", o.out.c_str(), 1);
    unsetenv("TSTAT_TIME_SCALE");
    platformReset();
    if (!prepare(o, &plan, &script, &error)) {
        fprintf(stderr, "tstat-sim building: %s\n", error.c_str());
        return USAGE_ERROR;
    }
    setenv("TSTAT_ROOT", o.out.c_str(), 1);
    platformReset();
    catchEndSignals();
    auto hostStart = std::chrono::steady_clock::now();
    BuildingRun withEvents(plan, o, o.out, true, script);
    BuildingResult with = withEvents.run();
    double cpuWith = cpuSeconds(RUSAGE_CHILDREN) + cpuSeconds(RUSAGE_SELF);
    BuildingResult without;
    bool compared =
        o.baseline && !plan.events.empty() && with.ran && g_EndSignal == 0 && !withEvents.failed();
    if (compared) {
        BuildingOptions quiet = o;
        quiet.http = -1;
        BuildingRun withoutEvents(plan, quiet, o.out + "/without", false, script);
        without = withoutEvents.run();
    }
    double cpu = cpuSeconds(RUSAGE_CHILDREN) + cpuSeconds(RUSAGE_SELF);
    double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - hostStart).count();
    bool written = with.ran && writeResults(o, plan, with, compared ? &without : nullptr);
    double days = std::max(1.0, static_cast<double>(with.minutes + without.minutes)) / 1440.0;
    std::string timing = formatNumber("%.1f", cpu) +
                         " s of processor (the units, their "
                         "applications and the building; " +
                         formatNumber("%.1f", cpuWith) + " s the run with the events), " +
                         formatNumber("%.1f", wall) + " s of wall time; " +
                         formatNumber("%.1f", cpu / days) + " s of processor a building-day, " +
                         formatNumber("%.2f", cpu / days / std::max<size_t>(1, plan.zones.size())) +
                         " s a unit-day; " + formatNumber("%.1f", withEvents.unitMemoryMb()) +
                         " MB of memory a unit (its simulator and application, proportional "
                         "set size)\n";
    writeFileAtomic(o.out + "/timing.txt", timing);
    printf("building: %s", timing.c_str());
    if (g_EndSignal != 0) {
        return 128 + static_cast<int>(g_EndSignal);
    }
    return written && !withEvents.failed() ? 0 : 1;
}

} // namespace sim
