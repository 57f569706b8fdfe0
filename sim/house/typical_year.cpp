// The typical-year generator: published monthly normals of three climates
// and the steps that make an hourly year of them.
//
// The normals are NOAA's U.S. Climate Normals 1991-2020 (National Centers
// for Environmental Information, monthly normals of the daily maximum and
// minimum temperature, TMAX and TMIN, of each first-order station named
// below), in F as NOAA publishes them. The methods:
//  - The months' normals are the means of their days: each month's knot at
//    mid-month is moved until the days interpolated between the knots have
//    the normal as their mean.
//  - Day-to-day swings: a first-order autoregressive series (lag-one
//    correlation 0.7, as daily temperature anomalies of mid-latitude
//    stations persist for about three days), its standard deviation moving
//    between the climate's January and July figures, drawn from a seed of
//    the climate's name and then centred on each month, so that the months
//    keep their normals.
//  - The hours: a half cosine from the day's low at 06:00 to its high at
//    15:00, then down to the next day's low.
//  - Humidity: the dew point is the day's low (FAO Irrigation and Drainage
//    Paper 56, equation 48, for humid climates).
//  - The sun: the day's global radiation by Hargreaves' formula, a
//    coefficient times the square root of the day's temperature range times
//    the extraterrestrial radiation of the latitude and date (FAO 56,
//    equations 21, 24, 25, 50), at most the clear-sky 75 % (equation 37),
//    spread over the hours by Collares-Pereira and Rabl's ratio of hourly to
//    daily radiation (Solar Energy 22, 1979).
#include "house/typical_year.h"

#include "house/climate.h"
#include "house/house.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace sim {

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr int DAYS = 365;
constexpr int MONTH_START[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
constexpr double PERSISTENCE = 0.7;
constexpr double LOW_HOUR = 6.0;
constexpr double HIGH_HOUR = 15.0;
constexpr double SOLAR_CONSTANT = 0.0820; // MJ/(m2 min)
constexpr double CLEAR_SKY_SHARE = 0.75;
constexpr int KNOT_PASSES = 8;

// clang-format off
const std::vector<ClimateNormals> c_Climates = {
    {"minneapolis", "Minneapolis-St. Paul International Airport, MN (USW00014922)",
     "IECC 6A, cold", 44.88,
     {23.6, 28.4, 41.1, 56.0, 68.6, 78.1, 82.6, 79.8, 71.8, 57.5, 41.5, 28.0},
     {8.5, 13.2, 25.0, 37.1, 49.5, 59.9, 64.9, 62.5, 53.3, 40.6, 27.3, 14.6},
     0.16, 5.5, 2.5},
    {"nashville", "Nashville International Airport, TN (USW00013897)",
     "IECC 4A, mixed-humid", 36.12,
     {49.4, 54.1, 63.1, 72.6, 80.0, 86.6, 89.6, 89.4, 83.6, 73.2, 61.3, 52.1},
     {30.6, 33.9, 41.2, 49.5, 58.8, 66.7, 70.4, 69.4, 62.5, 50.7, 39.6, 33.0},
     0.16, 4.5, 2.0},
    {"seattle", "Seattle-Tacoma International Airport, WA (USW00024233)",
     "IECC 4C, marine", 47.45,
     {48.4, 50.8, 54.6, 59.4, 66.0, 70.9, 77.5, 77.7, 71.7, 60.9, 52.3, 47.3},
     {37.5, 37.4, 39.9, 43.3, 48.9, 53.7, 57.7, 58.1, 53.7, 46.7, 40.9, 36.9},
     0.19, 2.5, 2.0},
};
// clang-format on

double celsius(double f) {
    return (f - 32.0) * 5.0 / 9.0;
}

double midMonth(int m) {
    return 0.5 * (MONTH_START[m] + MONTH_START[m + 1]);
}

// The value of day d between the mid-month knots, the year going round.
double between(const std::array<double, 12> &knots, int d) {
    double t = d + 0.5;
    int next = 0;
    while (next < 12 && midMonth(next) <= t) {
        next++;
    }
    int prev = (next + 11) % 12;
    double a = midMonth(prev) - (next == 0 ? DAYS : 0);
    double b = midMonth(next % 12) + (next == 12 ? DAYS : 0);
    return knots[prev] + (knots[next % 12] - knots[prev]) * (t - a) / (b - a);
}

// Knots whose interpolated days have the normals (C) as their months' means.
std::array<double, 12> knotsOf(const std::array<double, 12> &normalsF) {
    std::array<double, 12> target, knots;
    for (int m = 0; m < 12; m++) {
        target[m] = knots[m] = celsius(normalsF[m]);
    }
    for (int pass = 0; pass < KNOT_PASSES; pass++) {
        for (int m = 0; m < 12; m++) {
            double sum = 0.0;
            for (int d = MONTH_START[m]; d < MONTH_START[m + 1]; d++) {
                sum += between(knots, d);
            }
            knots[m] += target[m] - sum / (MONTH_START[m + 1] - MONTH_START[m]);
        }
    }
    return knots;
}

uint32_t seedOf(const char *name) {
    uint32_t h = 2166136261u;
    for (const char *c = name; *c != '\0'; c++) {
        h = (h ^ static_cast<unsigned char>(*c)) * 16777619u;
    }
    return h;
}

// The day-to-day swing of each day (C), centred on each month.
std::vector<double> swings(const ClimateNormals &c) {
    uint32_t seed = seedOf(c.name);
    std::vector<double> out(DAYS);
    double a = 0.0;
    for (int d = 0; d < DAYS; d++) {
        double winter = 0.5 + 0.5 * std::cos(2.0 * PI * (d - 15) / DAYS);
        double sd = c.swingJuly + (c.swingJanuary - c.swingJuly) * winter;
        double u1 = std::max(seededDraw(seed, 1, d), 1e-12);
        double u2 = seededDraw(seed, 2, d);
        double normal = std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * PI * u2);
        a = PERSISTENCE * a + sd * std::sqrt(1.0 - PERSISTENCE * PERSISTENCE) * normal;
        out[d] = a;
    }
    for (int m = 0; m < 12; m++) {
        double sum = 0.0;
        for (int d = MONTH_START[m]; d < MONTH_START[m + 1]; d++) {
            sum += out[d];
        }
        double mean = sum / (MONTH_START[m + 1] - MONTH_START[m]);
        for (int d = MONTH_START[m]; d < MONTH_START[m + 1]; d++) {
            out[d] -= mean;
        }
    }
    return out;
}

// The temperature at hour h (0-24) of a day from its high and low, the
// evening before's high and the next morning's low.
double hourly(double h, double lowToday, double highToday, double highBefore, double lowNext) {
    if (h < LOW_HOUR) {
        double f = (h + 24.0 - HIGH_HOUR) / (24.0 - HIGH_HOUR + LOW_HOUR);
        return lowToday + (highBefore - lowToday) * 0.5 * (1.0 + std::cos(PI * f));
    }
    if (h <= HIGH_HOUR) {
        double f = (h - LOW_HOUR) / (HIGH_HOUR - LOW_HOUR);
        return lowToday + (highToday - lowToday) * 0.5 * (1.0 - std::cos(PI * f));
    }
    double f = (h - HIGH_HOUR) / (24.0 - HIGH_HOUR + LOW_HOUR);
    return lowNext + (highToday - lowNext) * 0.5 * (1.0 + std::cos(PI * f));
}

// Global horizontal irradiance (W/m2) at hour h of day d (0-364), the day's
// range in C.
double irradiance(const ClimateNormals &c, int d, double h, double range) {
    double phi = c.latitude * PI / 180.0;
    double j = d + 1.0;
    double dr = 1.0 + 0.033 * std::cos(2.0 * PI * j / DAYS);
    double delta = 0.409 * std::sin(2.0 * PI * j / DAYS - 1.39);
    double ws = std::acos(std::clamp(-std::tan(phi) * std::tan(delta), -1.0, 1.0));
    double ra =
        24.0 * 60.0 / PI * SOLAR_CONSTANT * dr *
        (ws * std::sin(phi) * std::sin(delta) + std::cos(phi) * std::cos(delta) * std::sin(ws));
    double rs = std::min(c.radiationCoefficient * std::sqrt(std::max(range, 0.0)) * ra,
                         CLEAR_SKY_SHARE * ra);
    double w = (h - 12.0) * PI / 12.0;
    if (std::fabs(w) >= ws) {
        return 0.0;
    }
    double a = 0.409 + 0.5016 * std::sin(ws - PI / 3.0);
    double b = 0.6609 - 0.4767 * std::sin(ws - PI / 3.0);
    double rt = PI / 24.0 * (a + b * std::cos(w)) * (std::cos(w) - std::cos(ws)) /
                (std::sin(ws) - ws * std::cos(ws));
    return std::max(0.0, rt * rs * 1e6 / 3600.0);
}

} // namespace

const std::vector<ClimateNormals> &typicalClimates() {
    return c_Climates;
}

const ClimateNormals *typicalClimate(const std::string &name) {
    for (const ClimateNormals &c : c_Climates) {
        if (name == c.name) {
            return &c;
        }
    }
    return nullptr;
}

namespace {

struct Hour {
    double temperature, rh, solar, dewPoint;
};

// The year hour by hour from midnight of 1 January.
std::vector<Hour> hoursOf(const ClimateNormals &c) {
    std::array<double, 12> highKnots = knotsOf(c.maxF), lowKnots = knotsOf(c.minF);
    std::vector<double> swing = swings(c);
    std::vector<double> high(DAYS), low(DAYS);
    for (int d = 0; d < DAYS; d++) {
        high[d] = between(highKnots, d) + swing[d];
        low[d] = between(lowKnots, d) + swing[d];
    }
    std::vector<Hour> hours;
    for (int d = 0; d < DAYS; d++) {
        int before = (d + DAYS - 1) % DAYS, next = (d + 1) % DAYS;
        for (int h = 0; h < 24; h++) {
            double t = hourly(h, low[d], high[d], high[before], low[next]);
            double dew = std::min(low[d], t);
            hours.push_back({t, 100.0 * saturationPressure(dew) / saturationPressure(t),
                             irradiance(c, d, h, high[d] - low[d]), dew});
        }
    }
    return hours;
}

std::string source(const ClimateNormals &c) {
    return std::string("A typical year of ") + c.name + " (" + c.zone +
           ") made by tstat-sim from NOAA's U.S. Climate Normals 1991-2020 of " + c.station +
           " (monthly mean daily maximum and minimum temperature); see "
           "sim/house/typical_year.cpp for the method.";
}

} // namespace

std::string typicalYearCsv(const ClimateNormals &c) {
    std::string out = "# " + source(c) + "\nhour,outdoor_c,rh_pct,ghi_w_m2\n";
    char row[64];
    std::vector<Hour> hours = hoursOf(c);
    for (size_t i = 0; i < hours.size(); i++) {
        const Hour &h = hours[i];
        snprintf(row, sizeof(row), "%zu,%.1f,%.0f,%.0f\n", i, h.temperature, h.rh, h.solar);
        out += row;
    }
    return out;
}

std::string typicalYearEpw(const ClimateNormals &c) {
    std::string comment = source(c);
    std::replace(comment.begin(), comment.end(), ',', ';');
    char line[256];
    snprintf(line, sizeof(line), "LOCATION,%s,,USA,tstat-sim typical year,,%.2f,0.0,0.0,0\n",
             c.name, c.latitude);
    std::string out = line;
    out += "DESIGN CONDITIONS,0\nTYPICAL/EXTREME PERIODS,0\nGROUND TEMPERATURES,0\n"
           "HOLIDAYS/DAYLIGHT SAVINGS,No,0,0,0\nCOMMENTS 1," +
           comment + "\nCOMMENTS 2,\nDATA PERIODS,1,1,Data,Sunday, 1/ 1,12/31\n";
    std::vector<Hour> hours = hoursOf(c);
    // Each row is the end of its hour; the last one is midnight of 1 January again.
    for (size_t i = 1; i <= hours.size(); i++) {
        const Hour &h = hours[i % hours.size()];
        int day = static_cast<int>((i - 1) / 24), month = 0;
        while (hourOfYear(month + 2, 1) >= 0 && hourOfYear(month + 2, 1) <= day * 24) {
            month++;
        }
        snprintf(line, sizeof(line),
                 "2001,%d,%d,%zu,0,*,%.1f,%.1f,%.0f,101325,9999,9999,9999,%.0f,9999,9999,999999,"
                 "999999,999999,9999,999,999,99,99,9999,99999,9,999999999,999,0.999,999,99,999,"
                 "999,99\n",
                 month + 1, day - hourOfYear(month + 1, 1) / 24 + 1, (i - 1) % 24 + 1,
                 h.temperature, h.dewPoint, std::min(h.rh, 100.0), h.solar);
        out += line;
    }
    return out;
}

} // namespace sim
