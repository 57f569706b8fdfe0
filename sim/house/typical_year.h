// A typical year of hourly weather for a few named climates, made from
// their published monthly temperature normals alone (no downloaded data):
// the daily high and low follow the normals through the year with
// day-to-day swings of a fixed seed, the hours follow the day's high and
// low, the humidity follows a dew point at the day's low, and the sun
// follows the latitude and the day's temperature range. Written as a weather
// file (CSV, hour 0 at midnight of 1 January) that tstat-sim run replays.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace sim {

struct ClimateNormals {
    const char *name;    // "minneapolis"
    const char *station; // the station and its identifier
    const char *zone;    // the climate zone of building codes
    double latitude;     // degrees north
    // Mean daily maximum and minimum of each month, F, as published.
    std::array<double, 12> maxF, minF;
    // Hargreaves' radiation coefficient: 0.16 inland, 0.19 on a coast.
    double radiationCoefficient;
    // Standard deviation of the day-to-day swing of the daily mean (C) in
    // January and in July.
    double swingJanuary, swingJuly;
};

// The named climates, and one by name (nullptr when there is none).
const std::vector<ClimateNormals> &typicalClimates();
const ClimateNormals *typicalClimate(const std::string &name);

// The year as a weather file's text: comment lines naming the climate, the
// source of its numbers and the method, then 8760 rows "hour,C,%,W/m2".
std::string typicalYearCsv(const ClimateNormals &climate);
// The same year as an EPW file (dry bulb, dew point, humidity, global
// horizontal radiation; the rest, wind among them, marked missing), for a
// study of dated weather here or a building simulation elsewhere.
std::string typicalYearEpw(const ClimateNormals &climate);

} // namespace sim
