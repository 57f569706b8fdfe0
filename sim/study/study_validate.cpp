// A study checked before any run: each record's settings by the factory
// tool itself (so a value outside the ranges it accepts never runs on its
// defaults), and each weather file read whole (a missing column or a gap
// stops the study at the file's line).
#include "study/study.h"

#include "house/climate.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>

namespace sim {

namespace {

// Why the factory tool refuses these options ("" when it takes them).
std::string factoryRefusal(const std::string &tool, const std::vector<std::string> &args,
                           const std::string &scratch) {
    std::vector<std::string> all = args;
    all.insert(all.end(), {"-o", scratch});
    std::string output;
    int status = runProgram(tool, all, &output);
    if (status == 0) {
        return "";
    }
    size_t end = output.find('\n');
    std::string first = output.substr(0, end);
    return first.empty() ? "exit status " + std::to_string(status) : first;
}

std::string words(const std::vector<std::string> &args) {
    std::string out;
    for (const std::string &a : args) {
        out += (out.empty() ? "" : " ") + a;
    }
    return out;
}

// The weather file a variant replays, if any.
std::string weatherFile(const StudyVariant &v) {
    for (size_t i = 0; i + 1 < v.simArgs.size(); i++) {
        if (v.simArgs[i] == "--weather") {
            return v.simArgs[i + 1];
        }
    }
    return "";
}

std::string named(const StudyVariant &v, int axis) {
    return v.where.empty() ? std::string(studyAxisName(axis)) + " \"" + v.name + "\"" : v.where;
}

bool checkSettings(const StudySpec &plan, const std::vector<StudyRun> &runs,
                   const std::string &factoryTool, const std::string &scratch, std::string *error) {
    for (int axis = 0; axis < AXIS_COUNT; axis++) {
        for (const StudyVariant &v : plan.axes[axis]) {
            std::string why;
            std::string file = weatherFile(v);
            WeatherDay weather;
            if (!file.empty() && !weather.load(file, &why)) {
                *error = named(v, axis) + ": " + why;
                return false;
            }
            why = v.factoryArgs.empty() ? "" : factoryRefusal(factoryTool, v.factoryArgs, scratch);
            if (!why.empty()) {
                *error = named(v, axis) + ": tstat-factory refuses \"" + words(v.factoryArgs) +
                         "\": " + why;
                return false;
            }
        }
    }
    // Settings of different axes together (a mode and a hold, a scale and a
    // balance point).
    std::set<std::string> checked;
    for (const StudyRun &run : runs) {
        std::string factory;
        for (const std::string &a : run.args) {
            factory = a.rfind("--factory=", 0) == 0 ? a.substr(10) : factory;
        }
        if (!checked.insert(factory).second) {
            continue;
        }
        std::vector<std::string> args;
        for (size_t at = 0, end = 0; at < factory.size(); at = end + 1) {
            end = std::min(factory.find(' ', at), factory.size());
            args.push_back(factory.substr(at, end - at));
        }
        std::string why = factoryRefusal(factoryTool, args, scratch);
        if (!why.empty()) {
            *error = "run " + run.name + ": tstat-factory refuses \"" + factory + "\": " + why;
            return false;
        }
    }
    return true;
}

// The factory tool makes the folders of its board root ($TSTAT_ROOT, else
// ./board): while the settings are checked it gets a root of its own in the
// study's folder, removed afterwards, so that a study leaves nothing where it
// was started.
class ScratchRoot {
  public:
    explicit ScratchRoot(std::string root) : m_root(std::move(root)) {
        const char *was = getenv("TSTAT_ROOT");
        m_had = was != nullptr;
        m_was = m_had ? was : "";
        std::error_code ec;
        std::filesystem::create_directories(m_root, ec);
        setenv("TSTAT_ROOT", m_root.c_str(), 1);
    }
    ~ScratchRoot() {
        if (m_had) {
            setenv("TSTAT_ROOT", m_was.c_str(), 1);
        } else {
            unsetenv("TSTAT_ROOT");
        }
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    ScratchRoot(const ScratchRoot &) = delete;
    ScratchRoot &operator=(const ScratchRoot &) = delete;

  private:
    std::string m_root;
    std::string m_was;
    bool m_had = false;
};

} // namespace

bool validateStudy(const StudySpec &plan, const std::vector<StudyRun> &runs,
                   const std::string &factoryTool, const std::string &scratchDir,
                   std::string *error) {
    ScratchRoot root(scratchDir + "/factory-check");
    return checkSettings(plan, runs, factoryTool, scratchDir + "/factory-check/factory.img", error);
}

} // namespace sim
