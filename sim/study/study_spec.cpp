// A study's matrix: the named values of its axes, the study file, and the
// runs it expands to with the options of each.
#include "study/study.h"

#include "report/report_json.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace sim {

namespace {

const char *const c_AxisNames[AXIS_COUNT] = {"houses", "weather", "equipment", "settings"};

// A weather variant: a day file, or a sine day; cooling ones start warm
// and run the system in cool mode.
StudyVariant weatherVariant(const std::string &name, const std::string &file, bool cool) {
    StudyVariant v{name, {"--weather", file}, {}, {}};
    if (cool) {
        v.simArgs.insert(v.simArgs.end(), {"--indoor", "24"});
        v.factoryArgs = {"--mode", "cool"};
    }
    return v;
}

bool sineVariant(const std::string &name, StudyVariant *out) {
    double mean = 0, swing = 0;
    char mode[8] = "";
    int n = sscanf(name.c_str(), "sine:%lf:%lf:%7s", &mean, &swing, mode);
    if (n < 2 || (n == 3 && std::string(mode) != "cool")) {
        return false;
    }
    *out =
        StudyVariant{name,
                     {"--outdoor", formatNumber("%g", mean), "--swing", formatNumber("%g", swing)},
                     {},
                     {}};
    if (n == 3) {
        out->simArgs.insert(out->simArgs.end(), {"--indoor", "24"});
        out->factoryArgs = {"--mode", "cool"};
    }
    return true;
}

bool namedWeather(const std::string &name, const std::string &dir, StudyVariant *out) {
    std::string abs = fs::absolute(dir).lexically_normal().string();
    if (name == "winter") {
        return sineVariant("sine:-5:5", out) && (out->name = name, true);
    }
    if (name == "cold-snap" || name == "spring-swing") {
        *out = weatherVariant(name, abs + "/" + name + ".csv", false);
        return true;
    }
    if (name == "summer") {
        *out = weatherVariant(name, abs + "/summer-heat.csv", true);
        return true;
    }
    return sineVariant(name, out);
}

bool namedEquipment(const std::string &name, StudyVariant *out) {
    struct Named {
        const char *name, *equipment, *system, *aux;
    };
    static const Named c_Equipment[] = {
        {"furnace", "furnace", "one-stg-furnace", nullptr},
        {"furnace2", "furnace", "two-stg-furnace", nullptr},
        {"heatpump", "heatpump", "one-stg-heat-pump", "electric"},
        {"heatpump2", "heatpump", "two-stg-heat-pump", "electric"},
        {"heatpump-gas", "heatpump", "one-stg-heat-pump", "gas"},
    };
    for (const Named &e : c_Equipment) {
        if (name == e.name) {
            *out = StudyVariant{name, {"--equipment", e.equipment}, {"--system", e.system}, {}};
            if (e.aux != nullptr) {
                out->simArgs.insert(out->simArgs.end(), {"--aux", e.aux});
            }
            return true;
        }
    }
    return false;
}

bool namedSetting(const std::string &name, StudyVariant *out) {
    *out = StudyVariant{name, {}, {}, {}};
    int n = 0;
    double c = 0;
    if (name == "program") {
        return true;
    }
    if (name == "constant") {
        out->factoryArgs = {"--hold"};
    } else if (name == "no-recovery") {
        out->factoryArgs = {"--recovery", "off"};
    } else if (sscanf(name.c_str(), "cycle-rate-%d", &n) == 1) {
        out->factoryArgs = {"--cycle-rate", std::to_string(n)};
    } else if (sscanf(name.c_str(), "balance-%d", &n) == 1) {
        out->factoryArgs = {"--balance-point", std::to_string(n)};
    } else if (sscanf(name.c_str(), "diff-%lf", &c) == 1) {
        out->factoryArgs = {"--differential", formatNumber("%g", c)};
    } else {
        return false;
    }
    return true;
}

std::vector<std::string> strings(const Json &j, const char *key) {
    std::vector<std::string> out;
    if (j.contains(key)) {
        for (const Json &s : j.at(key)) {
            out.push_back(s.get<std::string>());
        }
    }
    return out;
}

// An axis value of the study file: a name, or an object with a name and any
// of "sim", "factory" and "script", added to those of the named value it is
// "like", if any.
bool variantFromJson(int axis, const Json &j, const std::string &weatherDir, StudyVariant *out,
                     std::string *error) {
    if (j.is_string()) {
        return namedVariant(axis, j.get<std::string>(), weatherDir, out, error);
    }
    std::string name = j.at("name").get<std::string>();
    std::string like = j.value("like", "");
    *out = StudyVariant{};
    if (!like.empty() && !namedVariant(axis, like, weatherDir, out, error)) {
        return false;
    }
    out->name = name;
    for (const std::string &s : strings(j, "sim")) {
        out->simArgs.push_back(s);
    }
    for (const std::string &s : strings(j, "factory")) {
        out->factoryArgs.push_back(s);
    }
    for (const std::string &s : strings(j, "script")) {
        out->script.push_back(s);
    }
    return true;
}

} // namespace

const char *studyAxisName(int axis) {
    return axis >= 0 && axis < AXIS_COUNT ? c_AxisNames[axis] : "?";
}

bool namedVariant(int axis, const std::string &name, const std::string &weatherDir,
                  StudyVariant *out, std::string *error) {
    HousePreset preset;
    bool ok = false;
    switch (axis) {
    case AXIS_HOUSE:
        ok = parseHousePreset(name, &preset);
        *out = StudyVariant{name, {"--house", name}, {}, {}};
        break;
    case AXIS_WEATHER:
        ok = namedWeather(name, weatherDir, out);
        break;
    case AXIS_EQUIPMENT:
        ok = namedEquipment(name, out);
        break;
    default:
        ok = namedSetting(name, out);
        break;
    }
    if (!ok) {
        *error = std::string("no ") + studyAxisName(axis) + " value named \"" + name + "\"";
    }
    return ok;
}

bool loadStudyFile(const std::string &path, const std::string &weatherDir, StudySpec *spec,
                   std::string *error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read the study file " + path;
        return false;
    }
    try {
        Json j = Json::parse(in, nullptr, true, true);
        for (int axis = 0; axis < AXIS_COUNT; axis++) {
            for (const Json &v : j.value(c_AxisNames[axis], Json::array())) {
                StudyVariant variant;
                if (!variantFromJson(axis, v, weatherDir, &variant, error)) {
                    return false;
                }
                spec->axes[axis].push_back(variant);
            }
        }
        if (j.contains("days")) {
            spec->days = j.at("days").get<std::vector<int>>();
        }
        spec->start = j.value("start", spec->start);
        spec->warmupHours = j.value("warmup_hours", spec->warmupHours);
        spec->seed = j.value("seed", spec->seed);
        spec->baseline = j.value("baseline", spec->baseline);
        spec->tolerances = j.value("tolerances", spec->tolerances);
    } catch (const Json::exception &e) {
        *error = path + ": " + e.what();
        return false;
    }
    return true;
}

namespace {

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

StudyRun makeRun(const StudySpec &spec, const std::array<int, AXIS_COUNT> &at, int days,
                 const std::string &outDir) {
    StudyRun run;
    run.variant = at;
    run.days = days;
    std::vector<std::string> factory;
    for (int axis = 0; axis < AXIS_COUNT; axis++) {
        const StudyVariant &v = spec.axes[axis][at[axis]];
        run.name += (axis == 0 ? "" : "_") + v.name;
        append(&run.args, v.simArgs);
        append(&factory, v.factoryArgs);
        append(&run.script, v.script);
    }
    run.baseline = spec.axes[AXIS_SETTING][at[AXIS_SETTING]].name == spec.baseline;
    run.name += "_" + std::to_string(days) + "d";
    for (char &c : run.name) {
        c = std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' ? c : '-';
    }
    run.dir = fs::absolute(outDir).lexically_normal().string() + "/runs/" + run.name;
    // The record is made at the run's start, so that it is the same every time.
    struct tm local {};
    strptime(spec.start.c_str(), "%Y-%m-%d %H:%M", &local);
    local.tm_isdst = -1;
    factory.insert(factory.end(), {"--time", std::to_string(mktime(&local))});
    append(&run.args, {"--factory=" + joined(factory), "--hours",
                       formatNumber("%g", spec.warmupHours + 24.0 * days), "--start", spec.start,
                       "--seed", std::to_string(spec.seed), "--root", run.dir, "--no-http",
                       "--no-status", "--in-process"});
    if (!run.script.empty()) {
        append(&run.args, {"--script", run.dir + "/script.txt"});
    }
    return run;
}

} // namespace

std::vector<StudyRun> expandStudy(StudySpec *spec, const std::string &outDir) {
    std::vector<StudyVariant> &settings = spec->axes[AXIS_SETTING];
    bool hasBaseline = false;
    for (const StudyVariant &v : settings) {
        hasBaseline = hasBaseline || v.name == spec->baseline;
    }
    if (!hasBaseline && !spec->baseline.empty()) {
        StudyVariant v;
        std::string error;
        if (!namedSetting(spec->baseline, &v)) {
            namedSetting("constant", &v);
            v.name = spec->baseline;
        }
        settings.push_back(v);
    }
    std::vector<StudyRun> runs;
    std::array<int, AXIS_COUNT> at{};
    for (at[0] = 0; at[0] < static_cast<int>(spec->axes[0].size()); at[0]++) {
        for (at[1] = 0; at[1] < static_cast<int>(spec->axes[1].size()); at[1]++) {
            for (at[2] = 0; at[2] < static_cast<int>(spec->axes[2].size()); at[2]++) {
                for (at[3] = 0; at[3] < static_cast<int>(spec->axes[3].size()); at[3]++) {
                    for (int days : spec->days) {
                        runs.push_back(makeRun(*spec, at, days, outDir));
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
        bool plain = a.find_first_of(" \"'$\\") == std::string::npos && !a.empty();
        std::string quoted = a;
        if (!plain) {
            size_t eq = a.rfind("--", 0) == 0 ? a.find('=') : std::string::npos;
            quoted = eq == std::string::npos ? "\"" + a + "\""
                                             : a.substr(0, eq + 1) + "\"" + a.substr(eq + 1) + "\"";
        }
        out += " " + quoted;
    }
    return out;
}

} // namespace sim
