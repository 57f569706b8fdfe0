// The runs a study expands to: one for each house, weather, equipment,
// setting, length and seed, with the options of tstat-sim run that repeat
// it alone, the seed's perturbations among them.
#include "study/study.h"

#include "house/climate.h"

#include <cctype>
#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;

namespace sim {

namespace {

// What a seed perturbs, around the values a run has without it: the
// initial temperature of room and mass within +/-1 C, the internal gain
// within +/-20 %, the sensor's offset within +/-0.5 C (1 F, a wall
// thermostat's usual accuracy) and weather noise of about 1 C.
constexpr double INDOOR_SPAN = 2.0;
constexpr double GAIN_SPAN = 0.4;
constexpr double OFFSET_SPAN = 1.0;
constexpr double WEATHER_NOISE = 1.0;
constexpr double DEFAULT_INDOOR = 20.0;
constexpr double DEFAULT_GAIN = 500.0;
enum PerturbStream : uint32_t { S_INDOOR = 11, S_GAIN, S_OFFSET };

void append(std::vector<std::string> *to, const std::vector<std::string> &from) {
    to->insert(to->end(), from.begin(), from.end());
}

std::string joined(const std::vector<std::string> &words) {
    std::string out;
    for (const std::string &w : words) {
        out += (out.empty() ? "" : " ") + w;
    }
    return out;
}

// The value of an option in args (the last one given), or fallback.
double optionValue(const std::vector<std::string> &args, const std::string &option,
                   double fallback) {
    for (size_t i = 0; i + 1 < args.size(); i++) {
        if (args[i] == option) {
            fallback = std::strtod(args[i + 1].c_str(), nullptr);
        }
    }
    return fallback;
}

// args with option set to value: in place where it is given, else added.
void setOption(std::vector<std::string> *args, const std::string &option,
               const std::string &value) {
    bool found = false;
    for (size_t i = 0; i + 1 < args->size(); i++) {
        if ((*args)[i] == option) {
            (*args)[i + 1] = value;
            found = true;
        }
    }
    if (!found) {
        append(args, {option, value});
    }
}

StudyRun makeRun(const StudySpec &plan, const std::array<int, AXIS_COUNT> &at, int days,
                 uint32_t seed, const std::string &outDir) {
    StudyRun run;
    run.variant = at;
    run.days = days;
    run.seed = seed;
    std::vector<std::string> factory;
    for (int axis = 0; axis < AXIS_COUNT; axis++) {
        const StudyVariant &v = plan.axes[axis][at[axis]];
        run.name += (axis == 0 ? "" : "_") + v.name;
        append(&run.args, v.simArgs);
        append(&factory, v.factoryArgs);
        append(&run.script, v.script);
    }
    run.baseline = plan.axes[AXIS_SETTING][at[AXIS_SETTING]].name == plan.baseline;
    run.name += "_" + std::to_string(days) + "d";
    if (plan.seeds.size() > 1) {
        run.name += "_s" + std::to_string(seed);
    }
    for (char &c : run.name) {
        c = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '-';
    }
    run.dir = fs::absolute(outDir).lexically_normal().string() + "/runs/" + run.name;
    // The record is made at the run's start, so that it is the same every time.
    struct tm local {};
    strptime(plan.start.c_str(), "%Y-%m-%d %H:%M", &local);
    local.tm_isdst = -1;
    factory.insert(factory.end(), {"--time", std::to_string(mktime(&local))});
    run.args = perturbedArgs(run.args, seed);
    append(&run.args,
           {"--factory=" + joined(factory), "--hours",
            formatNumber("%g", plan.warmupHours + 24.0 * days), "--start", plan.start, "--seed",
            std::to_string(seed), "--root", run.dir, "--no-http", "--no-status", "--in-process"});
    if (!run.script.empty()) {
        append(&run.args, {"--script", run.dir + "/script.txt"});
    }
    return run;
}

} // namespace

std::vector<std::string> perturbedArgs(const std::vector<std::string> &args, uint32_t seed) {
    std::vector<std::string> out = args;
    double indoor = optionValue(args, "--indoor", DEFAULT_INDOOR) +
                    INDOOR_SPAN * (seededDraw(seed, S_INDOOR, 0) - 0.5);
    double gain = optionValue(args, "--internal", DEFAULT_GAIN) *
                  (1.0 + GAIN_SPAN * (seededDraw(seed, S_GAIN, 0) - 0.5));
    setOption(&out, "--indoor", formatNumber("%.2f", indoor));
    setOption(&out, "--internal", formatNumber("%.0f", gain));
    setOption(&out, "--sensor-offset",
              formatNumber("%.2f", OFFSET_SPAN * (seededDraw(seed, S_OFFSET, 0) - 0.5)));
    if (optionValue(args, "--weather-noise", -1.0) < 0.0) {
        setOption(&out, "--weather-noise", formatNumber("%g", WEATHER_NOISE));
    }
    return out;
}

std::vector<StudyRun> expandStudy(StudySpec *plan, const std::string &outDir) {
    std::vector<StudyVariant> &settings = plan->axes[AXIS_SETTING];
    bool hasBaseline = false;
    for (const StudyVariant &v : settings) {
        hasBaseline = hasBaseline || v.name == plan->baseline;
    }
    if (!hasBaseline && !plan->baseline.empty()) {
        StudyVariant v;
        std::string error;
        if (!namedVariant(AXIS_SETTING, plan->baseline, NamingContext{}, &v, &error)) {
            namedVariant(AXIS_SETTING, "constant", NamingContext{}, &v, &error);
            v.name = plan->baseline;
        }
        settings.push_back(v);
    }
    std::vector<StudyRun> runs;
    std::array<int, AXIS_COUNT> at{};
    auto count = [plan](int axis) { return static_cast<int>(plan->axes[axis].size()); };
    for (at[0] = 0; at[0] < count(0); at[0]++) {
        for (at[1] = 0; at[1] < count(1); at[1]++) {
            for (at[2] = 0; at[2] < count(2); at[2]++) {
                for (at[3] = 0; at[3] < count(3); at[3]++) {
                    for (int days : plan->days) {
                        for (uint32_t seed : plan->seeds) {
                            runs.push_back(makeRun(*plan, at, days, seed, outDir));
                        }
                    }
                }
            }
        }
    }
    return runs;
}

std::string repeatCommand(const std::string &simBinary, const StudyRun &run) {
    std::string out = simBinary + " run";
    for (const std::string &a : run.args) {
        // Words the shell would change go in single quotes (an option's
        // value after its "=").
        bool plain = !a.empty() &&
                     a.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN"
                                         "OPQRSTUVWXYZ0123456789-_=./:,+@%") == std::string::npos;
        size_t eq = a.rfind("--", 0) == 0 ? a.find('=') : std::string::npos;
        std::string head = eq == std::string::npos ? "" : a.substr(0, eq + 1);
        std::string value = a.substr(head.size());
        std::string quoted = "'";
        for (char c : value) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        out += " " + (plain ? a : head + quoted + "'");
    }
    return out;
}

} // namespace sim
