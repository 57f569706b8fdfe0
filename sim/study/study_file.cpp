// The study file: JSON with comments, every key known and every value of
// its type and range, read before any run; a fault names the file, the line
// and the key. The same format, every value spelled out, is the study.json
// a study keeps beside its runs.
#include "study/study.h"

#include "board/board.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace sim {

namespace {

constexpr double MOST_WARMUP_HOURS = 240.0;
constexpr int MOST_DAYS = 360;
constexpr size_t MOST_SEEDS = 64;
constexpr uint32_t DEFAULT_SEED = 5;
constexpr double THERM_KWH = 29.3071;
constexpr size_t MAX_STUDY_FILE = 1024 * 1024;

const char *const c_TopKeys[] = {"houses",  "weather", "equipment", "settings",
                                 "days",    "start",   "season",    "warmup_hours",
                                 "seed",    "seeds",   "baseline",  "tolerances",
                                 "comfort", "tariffs", "emissions", "buildings"};
const char *const c_VariantKeys[] = {"name", "like", "sim", "factory", "script"};
const char *const c_ComfortKeys[] = {"unit", "heating", "cooling", "schedule"};
const char *const c_RangeKeys[] = {"occupied", "unoccupied"};
const char *const c_ScheduleKeys[] = {"weekday", "weekend"};
const char *const c_TariffKeys[] = {"electricity", "gas", "gas_unit", "tou"};
const char *const c_TouKeys[] = {"peak", "off_peak", "peak_hours", "weekends"};
const char *const c_EmissionKeys[] = {"electricity", "gas"};

template <size_t N> std::string listed(const char *const (&keys)[N]) {
    std::string out;
    for (const char *k : keys) {
        out += std::string(out.empty() ? "" : ", ") + k;
    }
    return out;
}

// Reads the study file's values, each fault with the line of its key.
class Reader {
  public:
    Reader(const std::string &path, const std::string &text) : m_path(path), m_text(text) {}

    std::string where(const std::string &token) const {
        size_t at = m_text.find("\"" + token + "\"");
        int line = 1;
        for (size_t i = 0; i < at && i < m_text.size(); i++) {
            line += m_text[i] == '\n' ? 1 : 0;
        }
        return m_path + (at == std::string::npos ? "" : ":" + std::to_string(line));
    }
    bool fail(const std::string &key, const std::string &what) {
        m_error = where(key) + ": " + key + ": " + what;
        return false;
    }
    const std::string &error() const { return m_error; }

    template <size_t N> bool keys(const Json &j, const char *const (&known)[N], const char *in) {
        if (!j.is_object()) {
            return fail(in, "expected an object");
        }
        for (const auto &item : j.items()) {
            bool ok = item.key().rfind("//", 0) == 0;
            for (const char *k : known) {
                ok = ok || item.key() == k;
            }
            if (!ok) {
                return fail(item.key(), std::string("unknown key in ") + in + " (the keys are " +
                                            listed(known) + ")");
            }
        }
        return true;
    }
    bool number(const Json &j, const char *key, double lo, double hi, double *out) {
        if (!j.contains(key)) {
            return true;
        }
        const Json &v = j.at(key);
        if (!v.is_number() || v.get<double>() < lo || v.get<double>() > hi) {
            return fail(key, "expected a number from " + formatNumber("%g", lo) + " to " +
                                 formatNumber("%g", hi));
        }
        *out = v.get<double>();
        return true;
    }
    bool text(const Json &j, const char *key, std::string *out) {
        if (!j.contains(key)) {
            return true;
        }
        if (!j.at(key).is_string()) {
            return fail(key, "expected a string");
        }
        *out = j.at(key).get<std::string>();
        return true;
    }
    bool strings(const Json &j, const char *key, std::vector<std::string> *out) {
        if (!j.contains(key)) {
            return true;
        }
        const Json &v = j.at(key);
        bool ok = v.is_array();
        for (size_t i = 0; ok && i < v.size(); i++) {
            ok = v[i].is_string();
        }
        if (!ok) {
            return fail(key, "expected a list of strings");
        }
        for (const Json &s : v) {
            out->push_back(s.get<std::string>());
        }
        return true;
    }
    // Two numbers, the first below the second, within lo..hi.
    bool pair(const Json &j, const char *key, double lo, double hi, std::array<double, 2> *out) {
        if (!j.contains(key)) {
            return true;
        }
        const Json &v = j.at(key);
        if (!v.is_array() || v.size() != 2 || !v[0].is_number() || !v[1].is_number() ||
            v[0].get<double>() < lo || v[1].get<double>() > hi ||
            v[0].get<double>() >= v[1].get<double>()) {
            return fail(key, "expected [low, high], low below high, within " +
                                 formatNumber("%g", lo) + " to " + formatNumber("%g", hi));
        }
        *out = {v[0].get<double>(), v[1].get<double>()};
        return true;
    }

  private:
    std::string m_path;
    const std::string &m_text;
    std::string m_error;
};

bool startValid(const std::string &start) {
    struct tm t {};
    const char *end = strptime(start.c_str(), "%Y-%m-%d %H:%M", &t);
    return end != nullptr && *end == '\0';
}

// "HH:MM" of each period, ascending.
bool schedule(Reader &r, const Json &j, const char *key, std::array<int, 4> *out) {
    if (!j.contains(key)) {
        return true;
    }
    std::vector<std::string> times;
    if (!r.strings(j, key, &times)) {
        return false;
    }
    std::array<int, 4> minutes{};
    for (size_t i = 0; i < times.size() && i < 4; i++) {
        int h = 0, m = 0, used = 0;
        bool ok = sscanf(times[i].c_str(), "%d:%d%n", &h, &m, &used) == 2 &&
                  used == static_cast<int>(times[i].size()) && h >= 0 && h < 24 && m >= 0 && m < 60;
        minutes[i] = ok ? h * 60 + m : -1;
    }
    if (times.size() != 4 || minutes[0] < 0 || minutes[1] <= minutes[0] ||
        minutes[2] <= minutes[1] || minutes[3] <= minutes[2]) {
        return r.fail(key, "expected the times of Wake, Leave, Return and Sleep, \"HH:MM\" "
                           "ascending");
    }
    *out = minutes;
    return true;
}

bool comfortRange(Reader &r, const Json &j, bool celsius, ComfortRange *c) {
    auto c2 = [celsius](double v) { return celsius ? v : (v - 32.0) * 5.0 / 9.0; };
    double lo = -40.0, hi = celsius ? 50.0 : 122.0;
    struct Side {
        const char *key;
        std::array<double, 2> *occupied, *unoccupied;
    } sides[] = {{"heating", &c->heatOccupied, &c->heatUnoccupied},
                 {"cooling", &c->coolOccupied, &c->coolUnoccupied}};
    for (const Side &s : sides) {
        if (!j.contains(s.key)) {
            continue;
        }
        const Json &side = j.at(s.key);
        std::array<double, 2> occupied{NAN, NAN}, unoccupied{NAN, NAN};
        if (!r.keys(side, c_RangeKeys, s.key) || !r.pair(side, "occupied", lo, hi, &occupied) ||
            !r.pair(side, "unoccupied", lo, hi, &unoccupied)) {
            return false;
        }
        if (!std::isnan(occupied[0])) {
            *s.occupied = {c2(occupied[0]), c2(occupied[1])};
        }
        if (!std::isnan(unoccupied[0])) {
            *s.unoccupied = {c2(unoccupied[0]), c2(unoccupied[1])};
        }
    }
    return true;
}

bool comfort(Reader &r, const Json &top, ComfortRange *c) {
    if (!top.contains("comfort")) {
        return true;
    }
    const Json &j = top.at("comfort");
    std::string unit = "F";
    if (!r.keys(j, c_ComfortKeys, "comfort") || !r.text(j, "unit", &unit)) {
        return false;
    }
    if (unit != "F" && unit != "C") {
        return r.fail("unit", "expected \"F\" or \"C\"");
    }
    if (!comfortRange(r, j, unit == "C", c)) {
        return false;
    }
    if (!j.contains("schedule")) {
        return true;
    }
    const Json &s = j.at("schedule");
    return r.keys(s, c_ScheduleKeys, "schedule") && schedule(r, s, "weekday", &c->weekday) &&
           schedule(r, s, "weekend", &c->weekend);
}

bool tariffs(Reader &r, const Json &top, Tariffs *t) {
    if (!top.contains("tariffs")) {
        return true;
    }
    const Json &j = top.at("tariffs");
    std::string unit = "therm";
    double gas = NAN;
    if (!r.keys(j, c_TariffKeys, "tariffs") ||
        !r.number(j, "electricity", 0, 10, &t->electricity) || !r.number(j, "gas", 0, 100, &gas) ||
        !r.text(j, "gas_unit", &unit)) {
        return false;
    }
    if (unit != "therm" && unit != "kWh") {
        return r.fail("gas_unit", "expected \"therm\" or \"kWh\"");
    }
    t->gas = std::isnan(gas) ? t->gas : unit == "kWh" ? gas : gas / THERM_KWH;
    if (!j.contains("tou")) {
        return true;
    }
    const Json &tou = j.at("tou");
    std::array<double, 2> hours{static_cast<double>(t->peakHours[0]),
                                static_cast<double>(t->peakHours[1])};
    if (!r.keys(tou, c_TouKeys, "tou") || !r.number(tou, "peak", 0, 10, &t->peak) ||
        !r.number(tou, "off_peak", 0, 10, &t->offPeak) ||
        !r.pair(tou, "peak_hours", 0, 24, &hours)) {
        return false;
    }
    if (hours[0] != std::floor(hours[0]) || hours[1] != std::floor(hours[1])) {
        return r.fail("peak_hours", "expected whole hours");
    }
    t->peakHours = {static_cast<int>(hours[0]), static_cast<int>(hours[1])};
    if (tou.contains("weekends") && !tou.at("weekends").is_boolean()) {
        return r.fail("weekends", "expected true or false");
    }
    t->peakWeekends = tou.value("weekends", t->peakWeekends);
    return true;
}

bool emissions(Reader &r, const Json &top, Emissions *e) {
    if (!top.contains("emissions")) {
        return true;
    }
    const Json &j = top.at("emissions");
    return r.keys(j, c_EmissionKeys, "emissions") &&
           r.number(j, "electricity", 0, 5, &e->electricity) && r.number(j, "gas", 0, 5, &e->gas);
}

bool seeds(Reader &r, const Json &j, std::vector<uint32_t> *out) {
    double first = out->empty() ? DEFAULT_SEED : out->front();
    if (!r.number(j, "seed", 1, 4294967295.0, &first)) {
        return false;
    }
    if (first != std::floor(first)) {
        return r.fail("seed", "expected a whole number");
    }
    *out = {static_cast<uint32_t>(first)};
    if (!j.contains("seeds")) {
        return true;
    }
    const Json &s = j.at("seeds");
    if (s.is_number_unsigned() && s.get<uint64_t>() >= 1 && s.get<uint64_t>() <= MOST_SEEDS) {
        for (uint32_t i = 1; i < s.get<uint32_t>(); i++) {
            out->push_back(out->front() + i);
        }
        return true;
    }
    bool ok = s.is_array() && !s.empty() && s.size() <= MOST_SEEDS;
    for (size_t i = 0; ok && i < s.size(); i++) {
        ok = s[i].is_number_unsigned() && s[i].get<uint64_t>() >= 1 &&
             s[i].get<uint64_t>() <= 4294967295u;
    }
    if (!ok) {
        return r.fail("seeds", "expected a count of seeds (1 to 64) or a list of seeds");
    }
    out->clear();
    for (const Json &v : s) {
        out->push_back(v.get<uint32_t>());
    }
    return true;
}

bool days(Reader &r, const Json &j, std::vector<int> *out) {
    if (!j.contains("days")) {
        return true;
    }
    const Json &d = j.at("days");
    bool ok = d.is_array() && !d.empty();
    for (size_t i = 0; ok && i < d.size(); i++) {
        ok = d[i].is_number_integer() && d[i].get<int>() >= 1 && d[i].get<int>() <= MOST_DAYS;
    }
    if (!ok) {
        return r.fail("days",
                      "expected a list of whole days from 1 to " + std::to_string(MOST_DAYS));
    }
    *out = d.get<std::vector<int>>();
    return true;
}

bool tolerances(Reader &r, const Json &j, std::map<std::string, double> *out) {
    if (!j.contains("tolerances")) {
        return true;
    }
    const Json &t = j.at("tolerances");
    if (!t.is_object()) {
        return r.fail("tolerances", "expected an object of figures and tolerances");
    }
    for (const auto &item : t.items()) {
        if (figureIndex(item.key()) == studyFigures().size()) {
            return r.fail(item.key(), "no figure of that name");
        }
        if (!item.value().is_number() || item.value().get<double>() < 0.0) {
            return r.fail(item.key(), "expected a tolerance of 0 or more");
        }
        (*out)[item.key()] = item.value().get<double>();
    }
    return true;
}

} // namespace

bool StudyFile::read(const std::string &path, StudySpec *plan, std::string *error) {
    m_path = path;
    std::string why;
    if (!readSmallFile(path, MAX_STUDY_FILE, &m_text, &why)) {
        *error = "cannot read the study file " + path + ": " + why;
        return false;
    }
    try {
        m_json = Json::parse(m_text, nullptr, true, true);
    } catch (const Json::exception &e) {
        *error = path + ": not JSON: " + e.what();
        return false;
    }
    Reader r(path, m_text);
    bool ok = r.keys(m_json, c_TopKeys, "the study") && r.text(m_json, "start", &plan->start) &&
              r.text(m_json, "season", &m_season) &&
              r.number(m_json, "warmup_hours", 0, MOST_WARMUP_HOURS, &plan->warmupHours) &&
              r.text(m_json, "baseline", &plan->baseline) && days(r, m_json, &plan->days) &&
              seeds(r, m_json, &plan->seeds) && tolerances(r, m_json, &plan->tolerances) &&
              comfort(r, m_json, &plan->comfort) && tariffs(r, m_json, &plan->tariffs) &&
              emissions(r, m_json, &plan->emissions);
    if (ok && !startValid(plan->start)) {
        ok = r.fail("start", "expected \"YYYY-MM-DD HH:MM\"");
    }
    for (int axis = 0; ok && axis < AXIS_COUNT; axis++) {
        const char *key = studyAxisName(axis);
        ok = !m_json.contains(key) || m_json.at(key).is_array() ||
             r.fail(key, "expected a list of names or objects");
    }
    *error = r.error();
    return ok;
}

bool StudyFile::hasAxis(int axis) const {
    return m_json.contains(studyAxisName(axis));
}

bool StudyFile::axis(int axis, const NamingContext &context, std::vector<StudyVariant> *out,
                     std::string *error) const {
    Reader r(m_path, m_text);
    for (const Json &v : m_json.value(studyAxisName(axis), Json::array())) {
        StudyVariant variant;
        std::string why;
        std::string name = v.is_string() ? v.get<std::string>() : v.value("name", std::string());
        std::string like;
        bool ok = v.is_string() || (r.keys(v, c_VariantKeys, studyAxisName(axis)) &&
                                    r.text(v, "name", &name) && r.text(v, "like", &like));
        if (ok && v.is_object() && name.empty()) {
            ok = r.fail(studyAxisName(axis), "each object needs a \"name\"");
        }
        if (ok && (v.is_string() || !like.empty()) &&
            !namedVariant(axis, v.is_string() ? name : like, context, &variant, &why)) {
            ok = r.fail(v.is_string() ? name : like, why);
        }
        if (ok && v.is_object()) {
            variant.name = name;
            ok = r.strings(v, "sim", &variant.simArgs) &&
                 r.strings(v, "factory", &variant.factoryArgs) &&
                 r.strings(v, "script", &variant.script);
        }
        if (!ok) {
            *error = r.error();
            return false;
        }
        variant.where = r.where(name) + ": " + studyAxisName(axis) + " \"" + name + "\"";
        out->push_back(variant);
    }
    return true;
}

bool loadStudyFile(const std::string &path, const NamingContext &context, StudySpec *plan,
                   std::string *error) {
    StudyFile file;
    if (!file.read(path, plan, error)) {
        return false;
    }
    NamingContext c = context;
    c.start = plan->start;
    for (int axis = 0; axis < AXIS_COUNT; axis++) {
        std::vector<StudyVariant> values;
        if (!file.axis(axis, c, &values, error)) {
            return false;
        }
        plan->axes[axis] = values;
    }
    return true;
}

namespace {

Json variantJson(const StudyVariant &v) {
    return Json{
        {"name", v.name}, {"sim", v.simArgs}, {"factory", v.factoryArgs}, {"script", v.script}};
}

Json rangeJson(const std::array<double, 2> &occupied, const std::array<double, 2> &unoccupied) {
    return Json{{"occupied", occupied}, {"unoccupied", unoccupied}};
}

Json scheduleJson(const std::array<int, 4> &minutes) {
    Json out = Json::array();
    for (int m : minutes) {
        out.push_back(formatNumber("%02.0f", m / 60) + ":" + formatNumber("%02.0f", m % 60));
    }
    return out;
}

} // namespace

Json studyConditions(const StudySpec &plan) {
    const ComfortRange &c = plan.comfort;
    const Tariffs &t = plan.tariffs;
    Json j;
    j["start"] = plan.start;
    j["warmup_hours"] = plan.warmupHours;
    j["seeds"] = plan.seeds;
    j["comfort"] = {
        {"unit", "C"},
        {"heating", rangeJson(c.heatOccupied, c.heatUnoccupied)},
        {"cooling", rangeJson(c.coolOccupied, c.coolUnoccupied)},
        {"schedule", {{"weekday", scheduleJson(c.weekday)}, {"weekend", scheduleJson(c.weekend)}}}};
    j["tariffs"] = {{"electricity", t.electricity},
                    {"gas", t.gas},
                    {"gas_unit", "kWh"},
                    {"tou",
                     {{"peak", t.peak},
                      {"off_peak", t.offPeak},
                      {"peak_hours", t.peakHours},
                      {"weekends", t.peakWeekends}}}};
    j["emissions"] = {{"electricity", plan.emissions.electricity}, {"gas", plan.emissions.gas}};
    return j;
}

Json studyToJson(const StudySpec &plan) {
    Json j;
    for (int axis = 0; axis < AXIS_COUNT; axis++) {
        Json values = Json::array();
        for (const StudyVariant &v : plan.axes[axis]) {
            values.push_back(variantJson(v));
        }
        j[studyAxisName(axis)] = values;
    }
    j["days"] = plan.days;
    j["baseline"] = plan.baseline;
    j["tolerances"] = plan.tolerances;
    Json conditions = studyConditions(plan);
    for (const auto &item : conditions.items()) {
        j[item.key()] = item.value();
    }
    return j;
}

std::string studyHash(const Json &study) {
    uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : study.dump()) {
        h = (h ^ c) * 1099511628211ULL;
    }
    char text[17];
    snprintf(text, sizeof(text), "%016llx", static_cast<unsigned long long>(h));
    return text;
}

} // namespace sim
