// Weather day files (CSV and EPW): parsing, checking and interpolation; the
// building controller's weather and its bus lines.
#include "house/climate.h"

#include "board/board.h"
#include "house/house.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim {

namespace {

constexpr double HOURS_PER_DAY = 24.0;
// A year: the longest spell a run replays (a typical year, a heating season).
constexpr double MAX_HOURS = 366 * HOURS_PER_DAY;
constexpr size_t FIELDS = 4;
// The largest weather file read (a month of rows every minute, a year's EPW).
constexpr size_t MAX_FILE_BYTES = 4 * 1024 * 1024;
constexpr int DAYS_BEFORE_MONTH[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

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

// The four numbers of a row; false when it does not have them.
bool readRow(const std::string &row, std::array<double, FIELDS> *values) {
    std::vector<std::string> fields;
    std::istringstream in(row);
    for (std::string field; std::getline(in, field, ',');) {
        fields.push_back(field);
    }
    if (fields.size() != FIELDS) {
        return false;
    }
    for (size_t i = 0; i < FIELDS; i++) {
        if (!number(fields[i], &(*values)[i])) {
            return false;
        }
    }
    return true;
}

// Why a row's values cannot follow the rows before, or "" when they can.
std::string rowFault(const std::array<double, FIELDS> &values,
                     const std::vector<WeatherPoint> &before) {
    for (size_t i = 0; i < FIELDS; i++) {
        if (values[i] < c_Ranges[i].lo || values[i] > c_Ranges[i].hi) {
            std::ostringstream msg;
            msg << c_Ranges[i].what << " " << values[i] << " is outside " << c_Ranges[i].lo
                << " to " << c_Ranges[i].hi;
            return msg.str();
        }
    }
    if (before.empty() && values[0] != 0.0) {
        return "the first hour must be 0";
    }
    if (!before.empty() && values[0] <= before.back().hour) {
        return "hours must ascend";
    }
    return "";
}

} // namespace

bool WeatherDay::load(const std::string &path, std::string *error) {
    std::string text;
    std::string why;
    if (!readSmallFile(path, MAX_FILE_BYTES, &text, &why)) {
        *error = "cannot read the weather file: " + why;
        return false;
    }
    return parse(text, path, error);
}

bool WeatherDay::parse(const std::string &text, const std::string &name, std::string *error) {
    if (text.rfind("LOCATION,", 0) == 0) {
        return parseEpw(text, name, error);
    }
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
        std::string where = name + ":" + std::to_string(lineNumber) + ": ";
        std::array<double, FIELDS> values{};
        if (!readRow(t, &values)) {
            // The first line that is not a comment may name the columns.
            if (headerAllowed && points.empty()) {
                headerAllowed = false;
                continue;
            }
            *error = where + "expected four numbers: hour, outdoor C, humidity %, solar W/m2";
            return false;
        }
        headerAllowed = false;
        std::string fault = rowFault(values, points);
        if (!fault.empty()) {
            *error = where + fault;
            return false;
        }
        points.push_back(WeatherPoint{values[0], values[1], values[2], values[3]});
    }
    if (points.size() < 2) {
        *error = name + ": needs at least two rows";
        return false;
    }
    m_yearHour = -1;
    keep(std::move(points), name);
    return true;
}

void WeatherDay::keep(std::vector<WeatherPoint> points, const std::string &name) {
    m_points = std::move(points);
    m_name = name;
    m_period = std::max(1.0, std::ceil(m_points.back().hour / HOURS_PER_DAY)) * HOURS_PER_DAY;
}

int hourOfYear(int month, int day) {
    if (month < 1 || month > 12 || day < 1 ||
        day > DAYS_BEFORE_MONTH[month] - DAYS_BEFORE_MONTH[month - 1]) {
        return -1;
    }
    return static_cast<int>((DAYS_BEFORE_MONTH[month - 1] + day - 1) * HOURS_PER_DAY);
}

namespace {

// The EPW fields read (0-based): the date and hour, then the weather, each
// with its missing-value code.
enum EpwField { EPW_MONTH = 1, EPW_DAY = 2, EPW_HOUR = 3 };
struct EpwColumn {
    size_t field;
    const char *what;
    double missing; // the value the format writes for "no data"
    double lo, hi;
    bool optional; // a missing value is none (-1), not a fault
};
constexpr EpwColumn c_EpwColumns[] = {
    {6, "dry bulb temperature", 99.9, -70.0, 70.0, false},
    {8, "relative humidity", 999.0, 0.0, 110.0, false},
    {13, "global horizontal radiation", 9999.0, 0.0, 1500.0, false},
    {21, "wind speed", 999.0, 0.0, 40.0, true},
};
constexpr size_t EPW_HEADER_LINES = 8;
constexpr size_t EPW_FIELDS = 22; // through the wind speed

std::vector<std::string> csvFields(const std::string &line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, ',');) {
        fields.push_back(field);
    }
    return fields;
}

// One data row of an EPW file as a point at the end of its hour, counted
// from the year's start; "" or why it cannot be read.
std::string epwRow(const std::vector<std::string> &f, WeatherPoint *p) {
    if (f.size() < EPW_FIELDS) {
        return std::to_string(f.size()) + " fields, not the " + std::to_string(EPW_FIELDS) +
               " through the wind speed";
    }
    double month = 0, day = 0, hour = 0;
    if (!number(f[EPW_MONTH], &month) || !number(f[EPW_DAY], &day) || !number(f[EPW_HOUR], &hour) ||
        hour < 1 || hour > 24 || hourOfYear(static_cast<int>(month), static_cast<int>(day)) < 0) {
        return "no month, day and hour 1-24";
    }
    double v[std::size(c_EpwColumns)];
    for (size_t i = 0; i < std::size(c_EpwColumns); i++) {
        const EpwColumn &c = c_EpwColumns[i];
        bool given = number(f[c.field], &v[i]);
        if (given && v[i] == c.missing && c.optional) {
            v[i] = -1.0;
            continue;
        }
        if (!given || v[i] == c.missing) {
            return std::string("no ") + c.what + " (field " + std::to_string(c.field + 1) + ")";
        }
        if (v[i] < c.lo || v[i] > c.hi) {
            return std::string(c.what) + " " + trim(f[c.field]) + " is outside its range";
        }
    }
    *p = WeatherPoint{hourOfYear(static_cast<int>(month), static_cast<int>(day)) + hour, v[0],
                      std::min(v[1], 100.0), v[2], v[3]};
    return "";
}

} // namespace

bool WeatherDay::parseEpw(const std::string &text, const std::string &name, std::string *error) {
    std::vector<WeatherPoint> points;
    std::istringstream in(text);
    int lineNumber = 0;
    for (std::string line; std::getline(in, line);) {
        lineNumber++;
        if (static_cast<size_t>(lineNumber) <= EPW_HEADER_LINES || trim(line).empty()) {
            continue;
        }
        std::string where = name + ":" + std::to_string(lineNumber) + ": ";
        WeatherPoint p{};
        std::string fault = epwRow(csvFields(trim(line)), &p);
        // Rows follow hour by hour.
        if (fault.empty() && !points.empty() && p.hour != points.back().hour + 1.0) {
            fault = "a gap: this row is hour " + std::to_string(static_cast<int>(p.hour)) +
                    " of the year, the row before hour " +
                    std::to_string(static_cast<int>(points.back().hour));
        }
        if (!fault.empty()) {
            *error = where + fault;
            return false;
        }
        points.push_back(p);
    }
    if (points.size() < 2) {
        *error = name + ": an EPW file needs its eight header lines and at least two rows";
        return false;
    }
    // Hours count from midnight before the first row. A file that ends at a
    // midnight repeats from there: its hour 0 is its last row's weather;
    // any other holds its first row's until then.
    double midnight = std::floor((points.front().hour - 1.0) / HOURS_PER_DAY) * HOURS_PER_DAY;
    m_yearHour = static_cast<int>(midnight);
    for (WeatherPoint &p : points) {
        p.hour -= midnight;
    }
    bool endsAtMidnight = std::fmod(points.back().hour, HOURS_PER_DAY) == 0.0;
    WeatherPoint first = endsAtMidnight ? points.back() : points.front();
    first.hour = 0.0;
    points.insert(points.begin(), first);
    keep(std::move(points), name);
    return true;
}

WeatherPoint WeatherDay::at(double hour) const {
    if (m_points.empty()) {
        return WeatherPoint{hour, 0.0, 0.0, 0.0};
    }
    double h = std::fmod(hour + m_shift, m_period);
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
                        lerp(a->solar, b->solar, f),
                        a->wind < 0.0 || b->wind < 0.0 ? -1.0 : lerp(a->wind, b->wind, f)};
}

// ---- The building controller's weather ---------------------------------------------------

namespace {

constexpr double STANDARD_PRESSURE_KPA = 101.325;
constexpr double INCHES_PER_KPA = 0.2953;
constexpr double CM_PER_KPA = 0.75006;
constexpr double KPH_PER_MPH = 1.609344;
// Wind and pressure change with each block of this many hours.
constexpr double WIND_BLOCK_HOURS = 3.0;
constexpr double PRESSURE_BLOCK_HOURS = 6.0;
// Samples per hour of a day's climate for its high and low.
constexpr int SAMPLES_PER_HOUR = 4;
constexpr const char *c_WindDirections[] = {"N", "NE", "E", "SE", "S", "SW", "W", "NW"};

double draw(uint32_t seed, uint32_t stream, int64_t index) {
    return seededDraw(seed, stream, index);
}

// A value that moves smoothly between draws made every `block` hours.
double smoothDraw(uint32_t seed, uint32_t stream, double hour, double block) {
    double b = std::floor(hour / block);
    double f = hour / block - b;
    auto at = static_cast<int64_t>(b);
    return lerp(draw(seed, stream, at), draw(seed, stream, at + 1), f);
}

enum Stream : uint32_t { CLOUD = 1, WIND_SPEED, WIND_DIRECTION, PRESSURE };

} // namespace

double seededDraw(uint32_t seed, uint32_t stream, int64_t index) {
    uint64_t z = (static_cast<uint64_t>(seed) << 32 | stream) ^
                 (static_cast<uint64_t>(index) * 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / static_cast<double>(1ULL << 53);
}

namespace {

// Dew point by the Magnus formula (C).
double dewPointOf(double celsius, double rh) {
    constexpr double A = 17.62;
    constexpr double B = 243.12;
    double gamma = std::log(std::max(rh, 1.0) / 100.0) + A * celsius / (B + celsius);
    return B * gamma / (A - gamma);
}

// Wind chill below 10 C in a wind, the heat index above 27 C, else the air.
double feelsLikeOf(double celsius, double rh, double windKph) {
    if (celsius <= 10.0 && windKph > 4.8) {
        double v = std::pow(windKph, 0.16);
        return 13.12 + 0.6215 * celsius - 11.37 * v + 0.3965 * celsius * v;
    }
    if (celsius >= 27.0) {
        double f = celsius * 9.0 / 5.0 + 32.0;
        double hi = -42.379 + 2.04901523 * f + 10.14333127 * rh - 0.22475541 * f * rh -
                    6.83783e-3 * f * f - 5.481717e-2 * rh * rh + 1.22874e-3 * f * f * rh +
                    8.5282e-4 * f * rh * rh - 1.99e-6 * f * f * rh * rh;
        return std::max(celsius, (hi - 32.0) * 5.0 / 9.0);
    }
    return celsius;
}

// A day's sky from its cloud (0 clear to 1 overcast with rain), mean
// temperature and humidity.
const char *conditionOf(double cloud, double mean, double rh) {
    if (cloud >= 0.85) {
        if (mean <= 0.0) {
            return "SNOW";
        }
        if (mean <= 2.0) {
            return "RAINSN";
        }
        return mean >= 24.0 && rh >= 60.0 ? "TSTORM" : "RAIN";
    }
    if (cloud >= 0.7) {
        return "CLDY";
    }
    if (cloud >= 0.5) {
        return "MCLDY";
    }
    if (cloud >= 0.3) {
        return "PCLDY";
    }
    return cloud >= 0.15 ? "MSUN" : "SUN";
}

// The sky at night: no sun to speak of.
const char *nightCondition(const char *day) {
    std::string d = day;
    if (d == "SUN" || d == "MSUN") {
        return "CLEAR";
    }
    return d == "PCLDY" ? "FAIR" : day;
}

long whole(double value) {
    return std::lround(value);
}

// Degrees C in the thermostat's unit.
double toUnit(double celsius, bool inCelsius) {
    return inCelsius ? celsius : celsius * 9.0 / 5.0 + 32.0;
}

} // namespace

ControllerWeather controllerWeather(const House &house, double runHour, uint32_t seed) {
    ControllerWeather w{};
    w.outdoor = house.outdoorAt(runHour);
    w.rh = house.outdoorRhAt(runHour);
    double fileWind = house.windAt(runHour);
    w.windKph = fileWind >= 0.0
                    ? fileWind * 3.6
                    : 2.0 + 28.0 * smoothDraw(seed, WIND_SPEED, runHour, WIND_BLOCK_HOURS);
    double turn = std::floor(runHour / WIND_BLOCK_HOURS);
    w.windDirection = c_WindDirections[static_cast<size_t>(
        draw(seed, WIND_DIRECTION, static_cast<int64_t>(turn)) * std::size(c_WindDirections))];
    w.pressureKpa = STANDARD_PRESSURE_KPA - 2.0 +
                    4.0 * smoothDraw(seed, PRESSURE, runHour, PRESSURE_BLOCK_HOURS);
    w.dewPoint = dewPointOf(w.outdoor, w.rh);
    w.feelsLike = feelsLikeOf(w.outdoor, w.rh, w.windKph);
    auto today = static_cast<int64_t>(std::floor(runHour / HOURS_PER_DAY));
    for (int i = 0; i < FORECAST_DAYS; i++) {
        double first = static_cast<double>(today + i) * HOURS_PER_DAY;
        double hi = -1e9;
        double lo = 1e9;
        double sum = 0.0;
        double rhSum = 0.0;
        const int samples = static_cast<int>(HOURS_PER_DAY) * SAMPLES_PER_HOUR;
        for (int k = 0; k < samples; k++) {
            double h = first + static_cast<double>(k) / SAMPLES_PER_HOUR;
            double t = house.outdoorAt(h);
            hi = std::max(hi, t);
            lo = std::min(lo, t);
            sum += t;
            rhSum += house.outdoorRhAt(h);
        }
        double mean = sum / samples;
        double rh = rhSum / samples;
        // Humid days are the cloudier ones.
        double cloud =
            0.6 * draw(seed, CLOUD, today + i) + 0.4 * std::clamp((rh - 40.0) / 60.0, 0.0, 1.0);
        w.high[i] = hi;
        w.low[i] = lo;
        w.condition[i] = conditionOf(cloud, mean, rh);
    }
    double hourOfDay = runHour - static_cast<double>(today) * HOURS_PER_DAY;
    bool night = hourOfDay < 6.0 || hourOfDay >= 20.0;
    w.currentCondition = night ? nightCondition(w.condition[0]) : w.condition[0];
    return w;
}

uint8_t busTemperature(double celsius, bool toCelsius) {
    long v = std::clamp(whole(toUnit(celsius, toCelsius)), -120L, 135L);
    return static_cast<uint8_t>((v + 120) & 0xFF);
}

double celsiusOfBusTemperature(uint8_t value, bool inCelsius) {
    double degrees = static_cast<double>(value) - 120.0;
    return inCelsius ? degrees : (degrees - 32.0) * 5.0 / 9.0;
}

std::vector<std::string> controllerWeatherLines(const ControllerWeather &w, bool celsius) {
    std::vector<std::string> lines;
    lines.push_back("level 5 " + std::to_string(busTemperature(w.outdoor, celsius)));
    std::string high = "command FH";
    std::string low = "command FL";
    std::string keywords = "command FK";
    for (int i = 0; i < FORECAST_DAYS; i++) {
        high += " " + std::to_string(whole(toUnit(w.high[i], celsius)));
        low += " " + std::to_string(whole(toUnit(w.low[i], celsius)));
        keywords += std::string(" ") + w.condition[i];
    }
    lines.push_back(high);
    lines.push_back(low);
    lines.push_back(keywords + " " + w.currentCondition);
    char text[96];
    snprintf(text, sizeof(text), "command CF F%ld W%s S%ld H%ld D%ld",
             whole(toUnit(w.feelsLike, celsius)), w.windDirection,
             whole(celsius ? w.windKph : w.windKph / KPH_PER_MPH), whole(w.rh),
             whole(toUnit(w.dewPoint, celsius)));
    lines.emplace_back(text);
    snprintf(text, sizeof(text), "command PRESSURE %.2f",
             w.pressureKpa * (celsius ? CM_PER_KPA : INCHES_PER_KPA));
    lines.emplace_back(text);
    return lines;
}

} // namespace sim
