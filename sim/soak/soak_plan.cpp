// The soak's plan and bookkeeping.
#include "soak_plan.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace soak {

namespace {

constexpr int64_t SECONDS_PER_DAY = 86400;
// Lengths of a coprocessor silence (s), from a missed report or two to ten
// minutes without a reading; the longest last.
constexpr int64_t c_SilenceSeconds[] = {5, 30, 60, 120, 300, 600};
constexpr int64_t SILENCE_MAX_MS =
    c_SilenceSeconds[std::size(c_SilenceSeconds) - 1] * MS_PER_SECOND;
// Both disturbances of a day, with the gaps around them, always fit in it.
static_assert(DIP_MAX_MS + SILENCE_MAX_MS + 4 * DISTURBANCE_GAP_MS < MS_PER_DAY);

// A time, in whole simulated seconds (the console's stamps count them), in
// day `day` for a disturbance of the given length, clear of the day's edges
// and, when given, of `other`: drawn evenly over the moments that qualify.
int64_t drawTime(Random &random, int day, int64_t length, const Disturbance *other) {
    int64_t first = (day * MS_PER_DAY + DISTURBANCE_GAP_MS) / MS_PER_SECOND;
    int64_t last = ((day + 1) * MS_PER_DAY - DISTURBANCE_GAP_MS - length) / MS_PER_SECOND;
    if (other == nullptr) {
        return random.between(first, last) * MS_PER_SECOND;
    }
    // Before the other one, or after it.
    int64_t beforeLast =
        std::min(last, (other->atMs - DISTURBANCE_GAP_MS - length) / MS_PER_SECOND);
    int64_t afterFirst =
        std::max(first, (other->atMs + other->lengthMs + DISTURBANCE_GAP_MS + MS_PER_SECOND - 1) /
                            MS_PER_SECOND);
    int64_t before = std::max<int64_t>(0, beforeLast - first + 1);
    int64_t after = std::max<int64_t>(0, last - afterFirst + 1);
    int64_t pick = random.between(0, before + after - 1);
    return (pick < before ? first + pick : afterFirst + pick - before) * MS_PER_SECOND;
}

} // namespace

uint64_t Random::next() {
    m_state += 0x9E3779B97F4A7C15ull;
    uint64_t z = m_state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int64_t Random::between(int64_t lo, int64_t hi) {
    uint64_t span = static_cast<uint64_t>(hi - lo) + 1;
    return lo + static_cast<int64_t>(next() % span);
}

std::vector<Season> defaultSeasons(int daysPerSeason) {
    // System mode channels of the control bus: 219 automatic, 220 cool, 221 heat.
    return {{"winter", "cold-snap.csv", 221, "heat", daysPerSeason},
            {"spring", "spring-swing.csv", 219, "auto", daysPerSeason},
            {"summer", "summer-heat.csv", 220, "cool", daysPerSeason}};
}

int totalDays(const std::vector<Season> &seasons) {
    int days = 0;
    for (const Season &s : seasons) {
        days += s.days;
    }
    return days;
}

std::string composeWeather(const std::vector<Season> &seasons,
                           const std::vector<sim::WeatherDay> &weathers) {
    std::ostringstream out;
    out << "# The soak's seasons one after another:";
    for (const Season &s : seasons) {
        out << " " << s.name << " (" << s.days << " days of " << s.weatherFile << ")";
    }
    out << "\nhour,outdoor_c,rh_pct,solar_w_m2\n";
    int hour = 0;
    for (size_t i = 0; i < seasons.size() && i < weathers.size(); i++) {
        for (int h = 0; h < seasons[i].days * 24; h++, hour++) {
            sim::WeatherPoint p = weathers[i].at(h);
            char row[96];
            snprintf(row, sizeof(row), "%d,%.2f,%.1f,%.0f\n", hour, p.temperature, p.rh, p.solar);
            out << row;
        }
    }
    return out.str();
}

std::vector<Disturbance> drawDisturbances(uint64_t seed, int days) {
    Random random(seed);
    std::vector<Disturbance> out;
    for (int day = 0; day < days; day++) {
        Disturbance dip{DisturbanceKind::UnderVoltage, 0,
                        random.between(DIP_MIN_MS / MS_PER_SECOND, DIP_MAX_MS / MS_PER_SECOND) *
                            MS_PER_SECOND};
        dip.atMs = drawTime(random, day, dip.lengthMs, nullptr);
        int64_t silenceS = c_SilenceSeconds[random.between(
            0, static_cast<int64_t>(std::size(c_SilenceSeconds)) - 1)];
        Disturbance silence{DisturbanceKind::Silence, 0, silenceS * MS_PER_SECOND};
        silence.atMs = drawTime(random, day, silence.lengthMs, &dip);
        out.push_back(dip.atMs < silence.atMs ? dip : silence);
        out.push_back(dip.atMs < silence.atMs ? silence : dip);
    }
    return out;
}

std::vector<ConsoleLine> consoleLines(const std::vector<Season> &seasons,
                                      const std::vector<Disturbance> &disturbances) {
    std::vector<ConsoleLine> lines;
    int day = 0;
    for (size_t i = 0; i < seasons.size(); i++) {
        if (i > 0) {
            std::string channel = "channel " + std::to_string(seasons[i].modeChannel) + " 1";
            lines.push_back({day * MS_PER_DAY + MS_PER_MINUTE, channel, "sim> " + channel, 0});
        }
        day += seasons[i].days;
    }
    for (const Disturbance &d : disturbances) {
        if (d.kind == DisturbanceKind::UnderVoltage) {
            lines.push_back({d.atMs, "voltage 480", "coproc: line voltage reading 480", 1});
            lines.push_back(
                {d.atMs + d.lengthMs, "voltage 600", "coproc: line voltage reading 600", -1});
        } else {
            std::string seconds = std::to_string(d.lengthMs / MS_PER_SECOND);
            lines.push_back(
                {d.atMs, "silence " + seconds, "coproc: silent for " + seconds + " s", 0});
        }
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const ConsoleLine &a, const ConsoleLine &b) { return a.atMs < b.atMs; });
    return lines;
}

int stampSeconds(const std::string &line) {
    if (line.size() < 9 || line[2] != ':' || line[5] != ':' || line[8] != ' ') {
        return -1;
    }
    int value[3];
    for (int i = 0; i < 3; i++) {
        char a = line[i * 3];
        char b = line[i * 3 + 1];
        if (a < '0' || a > '9' || b < '0' || b > '9') {
            return -1;
        }
        value[i] = (a - '0') * 10 + (b - '0');
    }
    if (value[0] > 23 || value[1] > 59 || value[2] > 59) {
        return -1;
    }
    return value[0] * 3600 + value[1] * 60 + value[2];
}

int64_t stampToUptimeMs(int secondOfDay, int64_t approxMs, const std::vector<sim::TraceRow> &rows) {
    if (rows.empty() || secondOfDay < 0) {
        return -1;
    }
    // The row nearest the moment ties wall-clock seconds to the uptime there.
    auto nearest = std::min_element(
        rows.begin(), rows.end(), [approxMs](const sim::TraceRow &a, const sim::TraceRow &b) {
            return std::llabs(a.uptimeMs - approxMs) < std::llabs(b.uptimeMs - approxMs);
        });
    // The wall clock at about that moment, and the stamp's second on the
    // local day nearest to it (the console stamps in local time).
    int64_t wallApprox = nearest->wall + (approxMs - nearest->uptimeMs) / MS_PER_SECOND;
    time_t t = static_cast<time_t>(wallApprox);
    struct tm local {};
    localtime_r(&t, &local);
    int64_t approxSecondOfDay = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    int64_t delta = secondOfDay - approxSecondOfDay;
    if (delta > SECONDS_PER_DAY / 2) {
        delta -= SECONDS_PER_DAY;
    } else if (delta <= -SECONDS_PER_DAY / 2) {
        delta += SECONDS_PER_DAY;
    }
    int64_t wall = wallApprox + delta;
    return nearest->uptimeMs + (wall - nearest->wall) * MS_PER_SECOND;
}

std::vector<std::pair<int64_t, int64_t>>
estopWindows(const std::vector<std::pair<int64_t, int64_t>> &dips) {
    std::vector<std::pair<int64_t, int64_t>> windows;
    for (const auto &[from, to] : dips) {
        int64_t start = from + ESTOP_ENGAGE_MS + STAMP_UNCERTAINTY_MS;
        int64_t end = to - STAMP_UNCERTAINTY_MS;
        if (end > start) {
            windows.emplace_back(start, end);
        }
    }
    return windows;
}

bool parseProcStatus(const std::string &text, MemorySample *sample) {
    MemorySample s;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        long long kb = 0;
        if (sscanf(line.c_str(), "VmRSS: %lld kB", &kb) == 1) {
            s.rssKb = kb;
        } else if (sscanf(line.c_str(), "VmHWM: %lld kB", &kb) == 1) {
            s.hwmKb = kb;
        }
    }
    if (s.rssKb < 0 || s.hwmKb < 0) {
        return false;
    }
    *sample = s;
    return true;
}

int64_t memoryGrowthKb(const MemoryFigures &m) {
    if (m.dayOne.rssKb < 0 || m.end.rssKb < 0) {
        return -1;
    }
    return std::max(m.end.hwmKb - m.dayOne.hwmKb, m.end.rssKb - m.dayOne.rssKb);
}

RunSpeed parseRunSpeed(const std::string &reportText) {
    RunSpeed speed;
    size_t at = reportText.find("longest step ");
    if (at != std::string::npos) {
        speed.longestStepS = strtod(reportText.c_str() + at + strlen("longest step "), nullptr);
    }
    at = reportText.find("periodic requests at ");
    if (at != std::string::npos) {
        speed.requestsPercent =
            strtod(reportText.c_str() + at + strlen("periodic requests at "), nullptr);
    }
    return speed;
}

std::vector<sim::TraceRow> traceSlice(const std::vector<sim::TraceRow> &rows, double fromMinute,
                                      double toMinute) {
    std::vector<sim::TraceRow> slice;
    for (const sim::TraceRow &row : rows) {
        if (row.minute > fromMinute && row.minute <= toMinute) {
            slice.push_back(row);
            slice.back().minute -= fromMinute;
        }
    }
    return slice;
}

} // namespace soak
