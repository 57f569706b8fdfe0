// A weather day file: the outdoor temperature, relative humidity and solar
// irradiance hour by hour, replayed by the simulated house instead of its
// sine day.
//
// The file is CSV, one row per line: hour, outdoor temperature (C), relative
// humidity (%), global solar irradiance (W/m2). Hours start at 0 (midnight of
// the file's first day) and ascend; they may run past 24 for a spell of
// several days. A run starts at the file's first row unless told another
// hour of it. Values between rows are interpolated linearly. The file
// repeats with its length rounded up to whole days, the last row leading
// back to the first. Blank lines, lines starting with '#' and one
// header line of names are skipped.
//
// A file whose first line starts with "LOCATION," is an EPW file, the
// hourly weather file of building simulation: eight header lines, then one
// row an hour (year, month, day, hour 1-24, minute, source flags, dry bulb
// C, dew point, relative humidity %, pressure, ..., global horizontal
// radiation Wh/m2 in field 14, ..., wind speed m/s in field 22). Its rows
// must follow each other hour by hour and carry no missing temperature,
// humidity or radiation (99.9, 999, 9999; a missing wind is none); each row
// is the value at the end of its hour, hour 0 being midnight before the
// first row (which has the last row's weather when the file ends at a
// midnight, as a year does, else the first row's).
//
// The building controller's weather: what a controller on the bus tells the
// thermostat about the house's outdoor climate (the temperature now, the
// current conditions, pressure and a five-day forecast), and the bus traffic
// that carries it in the thermostat's unit.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct WeatherPoint {
    double hour;
    double temperature; // C
    double rh;          // %
    double solar;       // W/m2
    double wind = -1.0; // m/s; negative when the file gives none
};

// The hour of a non-leap year at which a month and day begin (month 1-12),
// as EPW files and typical years count it; -1 for no such date.
int hourOfYear(int month, int day);

class WeatherDay {
  public:
    // Reads a day file. false, with a message naming the line, when it
    // cannot be read or does not follow the format.
    bool load(const std::string &path, std::string *error);
    // The same from the file's text; name is used in messages.
    bool parse(const std::string &text, const std::string &name, std::string *error);

    bool empty() const { return m_points.empty(); }
    const std::string &name() const { return m_name; }
    // The length after which the file repeats (hours, whole days).
    double period() const { return m_period; }
    // The weather at an hour of the run (any hour; the file repeats).
    WeatherPoint at(double hour) const;
    // The file's first hour, and its hour fileHour made the run's hour
    // runHour (hours since midnight of the run's first day).
    double firstHour() const { return m_points.empty() ? 0.0 : m_points.front().hour; }
    void startAt(double runHour, double fileHour) { m_shift = fileHour - runHour; }
    // The hour of the year of the file's hour 0 (an EPW file's first day);
    // -1 when the file has no dates.
    int yearHour() const { return m_yearHour; }

  private:
    bool parseEpw(const std::string &text, const std::string &name, std::string *error);
    void keep(std::vector<WeatherPoint> points, const std::string &name);

    std::vector<WeatherPoint> m_points;
    std::string m_name;
    int m_yearHour = -1;
    double m_period = 24.0;
    double m_shift = 0.0; // the file's hour less the run's
};

class House;

constexpr int FORECAST_DAYS = 5;

struct ControllerWeather {
    double outdoor;   // C
    double feelsLike; // C
    double dewPoint;  // C
    double rh;        // %
    double windKph;
    const char *windDirection; // "N", "NE", ...
    double pressureKpa;
    std::array<double, FORECAST_DAYS> high; // C, today first
    std::array<double, FORECAST_DAYS> low;
    std::array<const char *, FORECAST_DAYS> condition; // the bus's keywords
    const char *currentCondition;
};

// A number in [0, 1) drawn from a seed for a stream and an index, the same
// whenever it is asked for.
double seededDraw(uint32_t seed, uint32_t stream, int64_t index);

// The weather at an hour of the run (hours since midnight of its first day):
// the forecast is the house's own outdoor climate of the coming days; wind
// (unless the weather file gives it), pressure and cloud are drawn from the
// seed, the same for the same hour.
ControllerWeather controllerWeather(const House &house, double runHour, uint32_t seed);

// The console lines that send it as a controller does: the outdoor
// temperature as level 5, then the FH, FL, FK, CF and PRESSURE commands,
// in whole degrees, mph and inches of mercury for a thermostat in
// Fahrenheit, in degrees, km/h and centimetres in Celsius.
std::vector<std::string> controllerWeatherLines(const ControllerWeather &weather, bool celsius);

// Level 5's byte: whole display degrees plus 120, within -120 to 135.
uint8_t busTemperature(double celsius, bool toCelsius);
// A temperature byte the thermostat sends (levels 1, 3, 4) back to C.
double celsiusOfBusTemperature(uint8_t value, bool inCelsius);

} // namespace sim
