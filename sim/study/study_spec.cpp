// A study's matrix: the named values of its axes (with the typical years
// and EPW files of dated weather), and the season of a study.
#include "study/study.h"

#include "board/board.h"
#include "house/typical_year.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;

namespace sim {

namespace {

const char *const c_AxisNames[AXIS_COUNT] = {"houses", "weather", "equipment", "settings"};
constexpr int HOURS_PER_DAY = 24;
constexpr int64_t SECONDS_PER_DAY = 86400;

std::string absolutePath(const std::string &path) {
    return fs::absolute(path.empty() ? "." : path).lexically_normal().string();
}

// A whole number that is the whole of text (after a prefix).
bool wholeNumber(const std::string &text, int *out) {
    int n = 0, used = 0;
    if (sscanf(text.c_str(), "%d%n", &n, &used) != 1 || used != static_cast<int>(text.size())) {
        return false;
    }
    *out = n;
    return true;
}

bool decimalNumber(const std::string &text, double *out) {
    double v = 0;
    int used = 0;
    if (sscanf(text.c_str(), "%lf%n", &v, &used) != 1 || used != static_cast<int>(text.size())) {
        return false;
    }
    *out = v;
    return true;
}

// Cooling weather starts warm and runs the system in cool mode.
void makeCooling(StudyVariant *v) {
    v->simArgs.insert(v->simArgs.end(), {"--indoor", "24"});
    v->factoryArgs = {"--mode", "cool"};
}

bool sineVariant(const std::string &name, StudyVariant *out) {
    size_t a = name.find(':'), b = name.find(':', a + 1), c = name.find(':', b + 1);
    double mean = 0, swing = 0;
    if (name.rfind("sine:", 0) != 0 || b == std::string::npos ||
        !decimalNumber(name.substr(a + 1, b - a - 1), &mean) ||
        !decimalNumber(name.substr(b + 1, c == std::string::npos ? c : c - b - 1), &swing) ||
        (c != std::string::npos && name.substr(c + 1) != "cool")) {
        return false;
    }
    *out =
        StudyVariant{name,
                     {"--outdoor", formatNumber("%g", mean), "--swing", formatNumber("%g", swing)},
                     {},
                     {},
                     {}};
    if (c != std::string::npos) {
        makeCooling(out);
    }
    return true;
}

// The hour of the year of the study's start, as dated weather counts it.
int startYearHour(const std::string &start) {
    struct tm t {};
    if (strptime(start.c_str(), "%Y-%m-%d %H:%M", &t) == nullptr) {
        return -1;
    }
    int day = hourOfYear(t.tm_mon + 1, t.tm_mday);
    return day < 0 ? -1 : day + t.tm_hour;
}

// A weather file replayed from the study's date in it.
bool datedWeather(const std::string &name, const std::string &file, const NamingContext &c,
                  StudyVariant *out, std::string *error) {
    WeatherDay w;
    if (!w.load(file, error)) {
        return false;
    }
    // A file without dates (a typical year) starts on 1 January.
    int at = startYearHour(c.start) - std::max(w.yearHour(), 0);
    if (startYearHour(c.start) < 0 || at < 0 || at >= w.period()) {
        *error = "weather \"" + name + "\" does not cover the study's start " + c.start +
                 " (29 February is not in a weather year)";
        return false;
    }
    *out =
        StudyVariant{name, {"--weather", file, "--weather-from", std::to_string(at)}, {}, {}, {}};
    return true;
}

bool typicalWeather(const std::string &name, const NamingContext &c, StudyVariant *out,
                    std::string *error) {
    const ClimateNormals *climate = typicalClimate(name.substr(std::string("typical:").size()));
    if (climate == nullptr) {
        std::string names;
        for (const ClimateNormals &n : typicalClimates()) {
            names += std::string(names.empty() ? "" : ", ") + n.name;
        }
        *error = "no typical year of \"" + name.substr(8) + "\" (there are " + names + ")";
        return false;
    }
    std::string dir = absolutePath(c.outDir) + "/weather";
    std::string file = dir + "/typical-" + climate->name + ".csv";
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!writeFileAtomic(file, typicalYearCsv(*climate))) {
        *error = "cannot write " + file;
        return false;
    }
    // A typical year's hour 0 is 1 January.
    return datedWeather(name, file, c, out, error);
}

bool namedWeather(const std::string &name, const NamingContext &c, StudyVariant *out,
                  std::string *error) {
    std::string abs = absolutePath(c.weatherDir);
    if (name == "winter") {
        return sineVariant("sine:-5:5", out) && (out->name = name, true);
    }
    if (name == "cold-snap" || name == "spring-swing" || name == "summer") {
        std::string file = name == "summer" ? "summer-heat" : name;
        *out = StudyVariant{name, {"--weather", abs + "/" + file + ".csv"}, {}, {}, {}};
        if (name == "summer") {
            makeCooling(out);
        }
        return true;
    }
    if (name.rfind("typical:", 0) == 0) {
        return typicalWeather(name, c, out, error);
    }
    if (name.rfind("epw:", 0) == 0) {
        std::string file = absolutePath(name.substr(4));
        return datedWeather(name, file, c, out, error);
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
            *out = StudyVariant{name, {"--equipment", e.equipment}, {"--system", e.system}, {}, {}};
            if (e.aux != nullptr) {
                out->simArgs.insert(out->simArgs.end(), {"--aux", e.aux});
            }
            return true;
        }
    }
    return false;
}

// hold-N[:M]: a permanent hold at heat N and cool M (78 unless given),
// whole degrees of the thermostat's unit, set by a controller's command
// ten seconds into the run.
bool holdSetting(const std::string &name, StudyVariant *out) {
    std::string rest = name.substr(5);
    size_t colon = rest.find(':');
    int heat = 0, cool = 78;
    if (!wholeNumber(rest.substr(0, colon), &heat) ||
        (colon != std::string::npos && !wholeNumber(rest.substr(colon + 1), &cool))) {
        return false;
    }
    out->factoryArgs = {"--hold"};
    out->script = {"+0:00:10 command MD MPH H" + std::to_string(heat) + " C" +
                   std::to_string(cool)};
    return true;
}

bool namedSetting(const std::string &name, StudyVariant *out) {
    *out = StudyVariant{name, {}, {}, {}, {}};
    int n = 0;
    double c = 0;
    if (name == "program") {
        return true;
    }
    if (name == "constant") {
        out->factoryArgs = {"--hold"};
    } else if (name == "no-recovery") {
        out->factoryArgs = {"--recovery", "off"};
    } else if (name.rfind("cycle-rate-", 0) == 0 && wholeNumber(name.substr(11), &n)) {
        out->factoryArgs = {"--cycle-rate", std::to_string(n)};
    } else if (name.rfind("balance-", 0) == 0 && wholeNumber(name.substr(8), &n)) {
        out->factoryArgs = {"--balance-point", std::to_string(n)};
    } else if (name.rfind("diff-", 0) == 0 && decimalNumber(name.substr(5), &c)) {
        out->factoryArgs = {"--differential", formatNumber("%g", c)};
    } else if (name.rfind("hold-", 0) == 0) {
        return holdSetting(name, out);
    } else {
        return false;
    }
    return true;
}

} // namespace

const char *studyAxisName(int axis) {
    return axis >= 0 && axis < AXIS_COUNT ? c_AxisNames[axis] : "?";
}

bool namedVariant(int axis, const std::string &name, const NamingContext &context,
                  StudyVariant *out, std::string *error) {
    HousePreset preset;
    std::string why;
    bool ok = false;
    switch (axis) {
    case AXIS_HOUSE:
        ok = parseHousePreset(name, &preset);
        *out = StudyVariant{name, {"--house", name}, {}, {}, {}};
        break;
    case AXIS_WEATHER:
        ok = namedWeather(name, context, out, &why);
        break;
    case AXIS_EQUIPMENT:
        ok = namedEquipment(name, out);
        break;
    default:
        ok = namedSetting(name, out);
        break;
    }
    if (!ok) {
        *error = why.empty()
                     ? std::string("no ") + studyAxisName(axis) + " value named \"" + name + "\""
                     : why;
    }
    return ok;
}

bool applySeason(const std::string &season, StudySpec *plan, std::string *error) {
    int m1 = 0, d1 = 0, m2 = 0, d2 = 0, used = 0;
    struct tm t {};
    if (sscanf(season.c_str(), "%d-%d:%d-%d%n", &m1, &d1, &m2, &d2, &used) != 4 ||
        used != static_cast<int>(season.size()) || hourOfYear(m1, d1) < 0 ||
        hourOfYear(m2, d2) < 0 || strptime(plan->start.c_str(), "%Y-%m-%d", &t) == nullptr) {
        *error = "a season is \"MM-DD:MM-DD\" (10-01:04-30), not \"" + season + "\"";
        return false;
    }
    struct tm first {};
    first.tm_year = t.tm_year;
    first.tm_mon = m1 - 1;
    first.tm_mday = d1;
    first.tm_hour = 12; // noon: no daylight-saving change moves it to another day
    time_t at = timegm(&first);
    gmtime_r(&at, &first);
    at -= ((first.tm_wday + 6) % 7) * SECONDS_PER_DAY;
    gmtime_r(&at, &first);
    int lastDay = hourOfYear(m2, d2) / HOURS_PER_DAY;
    int firstDay = std::max(hourOfYear(first.tm_mon + 1, first.tm_mday), 0) / HOURS_PER_DAY;
    int span = lastDay - firstDay + 1 + (lastDay < hourOfYear(m1, d1) / HOURS_PER_DAY ? 365 : 0);
    char text[64];
    snprintf(text, sizeof(text), "%04d-%02d-%02d 00:00", first.tm_year + 1900, first.tm_mon + 1,
             first.tm_mday);
    plan->start = text;
    plan->days = {(span + 6) / 7 * 7};
    return true;
}

} // namespace sim
