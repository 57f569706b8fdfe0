// A weather day file: the outdoor temperature, relative humidity and solar
// irradiance hour by hour, replayed by the simulated house instead of its
// sine day.
//
// The file is CSV, one row per line: hour, outdoor temperature (C), relative
// humidity (%), global solar irradiance (W/m2). Hours count from midnight of
// the day the run begins, start at 0 and ascend; they may run past 24 for a
// spell of several days. Values between rows are interpolated linearly. The
// file repeats with its length rounded up to whole days, the last row
// leading back to the first. Blank lines, lines starting with '#' and one
// header line of names are skipped.
#pragma once

#include <string>
#include <vector>

namespace sim {

struct WeatherPoint {
    double hour;
    double temperature; // C
    double rh;          // %
    double solar;       // W/m2
};

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

  private:
    std::vector<WeatherPoint> m_points;
    std::string m_name;
    double m_period = 24.0;
};

} // namespace sim
