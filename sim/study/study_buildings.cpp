// The buildings of a study: each a `tstat-sim building` run as a program
// (it keeps every processor busy itself, so one after another), and their
// figures side by side, so that a study compares demand-response events.
#include "study/study_buildings.h"

#include "board/board.h"
#include "board/run_support.h"
#include "host/program_command.h"
#include "report/report_json.h"
#include "study/study.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace sim {

namespace {

namespace fs = std::filesystem;

// Runs one building into dir, its output in dir/console.log; its exit status.
int runBuilding(const StudyBuilding &b, const std::string &simBinary, const std::string &dir) {
    std::vector<std::string> args{"building", b.file, "--out", dir};
    if (b.hours > 0.0) {
        args.insert(args.end(), {"--hours", formatNumber("%g", b.hours)});
    }
    for (const std::string &e : b.events) {
        args.insert(args.end(), {"--event", e});
    }
    ProgramCommand command(simBinary, args);
    std::string log = dir + "/console.log";
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&files, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, command.file(), &files, nullptr, command.argv(), environ);
    posix_spawn_file_actions_destroy(&files);
    int status = -1;
    while (spawned == 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return spawned == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string pair(const Json &values, const char *format) {
    auto one = [format](const Json &v) {
        return v.is_number() ? formatNumber(format, v.get<double>()) : std::string("-");
    };
    return values.is_array() && values.size() == 2 ? one(values[0]) + " / " + one(values[1]) : "-";
}

// One row of the table from a building's building.json.
std::string row(const StudyBuilding &b, const Json &j) {
    const Json &e = j["events"].empty() ? Json::object() : j["events"][0];
    double occupied[2] = {0, 0};
    for (const Json &z : j["zones"]) {
        for (int k = 0; k < 2; k++) {
            const Json &v = z["occupied_discomfort_ch"][k];
            occupied[k] += v.is_number() ? v.get<double>() : NAN;
        }
    }
    size_t missed = e.contains("not_taken") ? e["not_taken"].size() : 0;
    return "| " + b.name + " | " + std::to_string(j["units"].get<size_t>()) + " | " +
           (e.contains("units") ? std::to_string(e["units"].get<size_t>() - missed) : "-") + " | " +
           pair(j["peak_kw"], "%.2f") + " | " + pair(e.value("peak_during_kw", Json()), "%.2f") +
           " | " + pair(e.value("peak_rebound_kw", Json()), "%.2f") + " | " +
           (e.contains("shifted_kwh") ? formatNumber("%.2f", e["shifted_kwh"].get<double>())
                                      : "-") +
           " | " + pair(e.value("energy_rebound_kwh", Json()), "%.2f") + " | " +
           pair(Json::array({occupied[0], occupied[1]}), "%.2f") + " |\n";
}

} // namespace

bool loadStudyBuildings(const std::string &path, StudyBuildings *out, std::string *error) {
    *out = StudyBuildings{};
    std::ifstream in(path);
    Json j = Json::parse(in, nullptr, false, true);
    if (j.is_discarded() || !j.is_object()) {
        return true; // the study file's own reader names what is wrong with it
    }
    std::set<std::string> names;
    try {
        for (const Json &b : j.value("buildings", Json::array())) {
            StudyBuilding one{b.at("name").get<std::string>(), b.at("file").get<std::string>(),
                              b.value("events", std::vector<std::string>()), b.value("hours", 0.0)};
            bool plain = !one.name.empty() && one.name.find_first_not_of(
                                                  "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTU"
                                                  "VWXYZ0123456789-_") == std::string::npos;
            if (!plain || !names.insert(one.name).second) {
                *error = path + ": the building \"" + one.name +
                         "\": a name is letters, digits, - and _, each once";
                return false;
            }
            out->buildings.push_back(one);
        }
    } catch (const Json::exception &e) {
        *error = path + ": buildings: " + e.what();
        return false;
    }
    out->alone = !out->buildings.empty();
    for (int axis = 0; axis < AXIS_COUNT; axis++) {
        out->alone = out->alone && !j.contains(studyAxisName(axis));
    }
    return true;
}

std::string runStudyBuildings(const std::vector<StudyBuilding> &buildings,
                              const std::string &simBinary, const std::string &outDir,
                              int *failed) {
    std::string md = "## Buildings\n\nEach with its first event and without its events "
                     "(with / without); demand in kW (highest 15-minute mean), energy in kWh, "
                     "discomfort in C h outside the fixed comfort range in occupied hours, "
                     "summed over the zones.\n\n"
                     "| building | units | took the event | peak | peak during the event | "
                     "rebound peak | energy shifted | rebound energy | discomfort |\n"
                     "|---|---|---|---|---|---|---|---|---|\n";
    for (const StudyBuilding &b : buildings) {
        std::string dir = outDir + "/buildings/" + b.name;
        std::error_code ec;
        fs::remove_all(dir, ec);
        fs::create_directories(dir, ec);
        printf("study: building %s\n", b.name.c_str());
        fflush(stdout);
        int status = runBuilding(b, simBinary, dir);
        std::ifstream in(dir + "/building.json");
        Json j = Json::parse(in, nullptr, false);
        if (status != 0 || j.is_discarded()) {
            fprintf(stderr, "study: building %s failed (exit status %d; see %s/console.log)\n",
                    b.name.c_str(), status, dir.c_str());
            md += "| " + b.name + " | failed |||||||\n";
            (*failed)++;
            continue;
        }
        md += row(b, j);
    }
    writeFileAtomic(outDir + "/buildings.md", md);
    return md;
}

} // namespace sim
