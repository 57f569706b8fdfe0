// Weather day files: parsing, checking and interpolation.
#include "weather.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

constexpr double HOURS_PER_DAY = 24.0;
// A month: the longest spell a run replays, such as the soak's seasons one
// after another.
constexpr double MAX_HOURS = 31 * HOURS_PER_DAY;
constexpr size_t FIELDS = 4;

struct Range {
    const char *what;
    double lo;
    double hi;
};

constexpr Range c_Ranges[FIELDS] = {
    {"hour", 0.0, MAX_HOURS},
    {"outdoor temperature", -60.0, 60.0},
    {"relative humidity", 0.0, 100.0},
    {"solar irradiance", 0.0, 1500.0},
};

std::string trim(const std::string &text) {
    size_t a = text.find_first_not_of(" \t\r");
    if (a == std::string::npos) {
        return "";
    }
    size_t b = text.find_last_not_of(" \t\r");
    return text.substr(a, b - a + 1);
}

bool number(const std::string &text, double *out) {
    std::string t = trim(text);
    if (t.empty()) {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    double v = strtod(t.c_str(), &end);
    if (*end != '\0' || errno != 0 || !std::isfinite(v)) {
        return false;
    }
    *out = v;
    return true;
}

double lerp(double a, double b, double f) {
    return a + (b - a) * f;
}

} // namespace

bool WeatherDay::load(const std::string &path, std::string *error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read the weather file " + path;
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str(), path, error);
}

bool WeatherDay::parse(const std::string &text, const std::string &name, std::string *error) {
    std::vector<WeatherPoint> points;
    std::istringstream in(text);
    int lineNumber = 0;
    bool headerAllowed = true;
    for (std::string line; std::getline(in, line);) {
        lineNumber++;
        std::string t = trim(line);
        if (t.empty() || t[0] == '#') {
            continue;
        }
        std::vector<std::string> fields;
        std::istringstream row(t);
        for (std::string field; std::getline(row, field, ',');) {
            fields.push_back(field);
        }
        std::string where = name + ":" + std::to_string(lineNumber) + ": ";
        double values[FIELDS] = {};
        bool numeric = fields.size() == FIELDS;
        for (size_t i = 0; numeric && i < FIELDS; i++) {
            numeric = number(fields[i], &values[i]);
        }
        if (!numeric) {
            // The first line that is not a comment may name the columns.
            if (headerAllowed && points.empty()) {
                headerAllowed = false;
                continue;
            }
            *error = where + "expected four numbers: hour, outdoor C, humidity %, solar W/m2";
            return false;
        }
        headerAllowed = false;
        for (size_t i = 0; i < FIELDS; i++) {
            if (values[i] < c_Ranges[i].lo || values[i] > c_Ranges[i].hi) {
                std::ostringstream msg;
                msg << where << c_Ranges[i].what << " " << values[i] << " is outside "
                    << c_Ranges[i].lo << " to " << c_Ranges[i].hi;
                *error = msg.str();
                return false;
            }
        }
        WeatherPoint p{values[0], values[1], values[2], values[3]};
        if (points.empty() && p.hour != 0.0) {
            *error = where + "the first hour must be 0";
            return false;
        }
        if (!points.empty() && p.hour <= points.back().hour) {
            *error = where + "hours must ascend";
            return false;
        }
        points.push_back(p);
    }
    if (points.size() < 2) {
        *error = name + ": needs at least two rows";
        return false;
    }
    m_points = std::move(points);
    m_name = name;
    m_period = std::max(1.0, std::ceil(m_points.back().hour / HOURS_PER_DAY)) * HOURS_PER_DAY;
    return true;
}

WeatherPoint WeatherDay::at(double hour) const {
    if (m_points.empty()) {
        return WeatherPoint{hour, 0.0, 0.0, 0.0};
    }
    double h = std::fmod(hour, m_period);
    if (h < 0.0) {
        h += m_period;
    }
    // The segment that holds h; past the last row it leads back to the first.
    const WeatherPoint *a = &m_points.back();
    const WeatherPoint *b = &m_points.front();
    double bHour = m_period;
    for (size_t i = 0; i + 1 < m_points.size(); i++) {
        if (h < m_points[i + 1].hour) {
            a = &m_points[i];
            b = &m_points[i + 1];
            bHour = b->hour;
            break;
        }
    }
    double span = bHour - a->hour;
    double f = span > 0.0 ? (h - a->hour) / span : 0.0;
    return WeatherPoint{hour, lerp(a->temperature, b->temperature, f), lerp(a->rh, b->rh, f),
                        lerp(a->solar, b->solar, f)};
}

} // namespace sim
