// The building's figures from its units' minutes: demand, peaks, rebound,
// energy shifted and discomfort, as text, JSON and CSV.
#include "building/building_figures.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>

namespace sim {

namespace {

constexpr double NONE = std::numeric_limits<double>::quiet_NaN();
// The blower of every unit (W), as the house's.
constexpr double FAN_W = 250.0;

double heatingCop(double outdoor) {
    return std::clamp(3.4 + 0.075 * (outdoor - 8.3), 1.5, 4.5);
}
double coolingCop(double outdoor) {
    return std::clamp(3.6 - 0.08 * (outdoor - 35.0), 2.5, 6.0);
}

struct Window {
    size_t from = 0, to = 0; // minutes [from, to)
};

// One event's figures, with [0] the run with the events and [1] without.
struct EventFigures {
    const EventOutcome *outcome = nullptr;
    Window during, rebound;
    double peakDuring[2] = {NONE, NONE}, peakRebound[2] = {NONE, NONE};
    size_t atDuring[2] = {0, 0}, atRebound[2] = {0, 0};
    double energyDuring[2] = {NONE, NONE}, energyRebound[2] = {NONE, NONE};
};

struct Summary {
    size_t minutes = 0;
    std::vector<double> demand[2];
    double peak[2] = {NONE, NONE};
    size_t peakAt[2] = {0, 0};
    double energy[2] = {NONE, NONE};
    std::vector<EventFigures> events;
};

double energyKwh(const std::vector<double> &kw, Window w) {
    double sum = 0.0;
    for (size_t i = w.from; i < w.to && i < kw.size(); i++) {
        sum += kw[i] / 60.0;
    }
    return sum;
}

size_t minuteOf(int64_t ms, size_t minutes) {
    return std::min(minutes, static_cast<size_t>(std::max<int64_t>(0, ms / 60000)));
}

Summary summarise(const BuildingResult &with, const BuildingResult *without) {
    Summary s;
    s.minutes = with.minutes;
    const BuildingResult *runs[2] = {&with, without};
    for (int k = 0; k < 2; k++) {
        if (runs[k] == nullptr) {
            continue;
        }
        s.demand[k] = aggregateDemandKw(*runs[k], s.minutes);
        s.peak[k] = peakMeanKw(s.demand[k], 0, s.minutes, &s.peakAt[k]);
        s.energy[k] = energyKwh(s.demand[k], {0, s.minutes});
    }
    for (const EventOutcome &o : with.events) {
        EventFigures e;
        e.outcome = &o;
        const DemandEvent &ev = o.event;
        e.during = {minuteOf(ev.atMs, s.minutes), minuteOf(ev.atMs + ev.durationMs, s.minutes)};
        e.rebound = {e.during.to,
                     minuteOf(ev.atMs + ev.durationMs + ev.staggerMs + REBOUND_MS, s.minutes)};
        for (int k = 0; k < 2; k++) {
            if (s.demand[k].empty()) {
                continue;
            }
            e.peakDuring[k] = peakMeanKw(s.demand[k], e.during.from, e.during.to, &e.atDuring[k]);
            e.peakRebound[k] =
                peakMeanKw(s.demand[k], e.rebound.from, e.rebound.to, &e.atRebound[k]);
            e.energyDuring[k] = energyKwh(s.demand[k], e.during);
            e.energyRebound[k] = energyKwh(s.demand[k], e.rebound);
        }
        s.events.push_back(e);
    }
    return s;
}

std::string fmt(const char *format, double v) {
    if (std::isnan(v)) {
        return "-";
    }
    char b[64];
    snprintf(b, sizeof(b), format, v);
    return b;
}

std::string clockAt(const BuildingSpec &plan, size_t minute) {
    time_t t = static_cast<time_t>(plan.startWall + static_cast<int64_t>(minute) * 60);
    struct tm local {};
    localtime_r(&t, &local);
    char b[32];
    strftime(b, sizeof(b), "%H:%M", &local);
    return b;
}

std::string peakText(const BuildingSpec &plan, double kw, size_t at) {
    return std::isnan(kw) ? "-" : fmt("%.2f", kw) + " at " + clockAt(plan, at);
}

std::string padded(const std::string &text, size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string durationText(int64_t ms) {
    int64_t minutes = ms / 60000;
    std::string text = std::to_string(minutes / 60) + " h";
    return minutes % 60 != 0 ? text + " " + std::to_string(minutes % 60) + " min" : text;
}

std::string eventLine(const BuildingSpec &plan, size_t i, const EventFigures &e) {
    const DemandEvent &ev = e.outcome->event;
    std::string text = "event " + std::to_string(i + 1) + ": " + (ev.cool ? "cool" : "heat") +
                       " set points " + (ev.cool ? "up " : "down ") +
                       fmt("%.1f", ev.amountC * 1.8) + " F (" + fmt("%.1f", ev.amountC) +
                       " C) from " + clockAt(plan, e.during.from) + " for " +
                       durationText(ev.durationMs) + ", " +
                       (ev.group.empty() ? "every unit" : "group " + ev.group) + " (" +
                       std::to_string(e.outcome->units) + " units)";
    text += ev.staggerMs > 0 ? ", return staggered over " + durationText(ev.staggerMs) + "\n"
                             : ", all return at once\n";
    size_t missed = e.outcome->notTaken.size();
    text += "  took it: " + std::to_string(e.outcome->units - missed) + " of " +
            std::to_string(e.outcome->units) + (missed == 0 ? "\n" : "; did not:\n");
    for (const std::string &n : e.outcome->notTaken) {
        text += "    " + n + "\n";
    }
    return text;
}

std::string demandTable(const BuildingSpec &plan, const Summary &s) {
    std::string text = padded("building demand (kW, highest 15-minute mean)", 52) +
                       padded("with events", 18) + "without\n";
    text += "  " + padded("the whole run", 50) +
            padded(peakText(plan, s.peak[0], s.peakAt[0]), 18) +
            peakText(plan, s.peak[1], s.peakAt[1]) + "\n";
    for (size_t i = 0; i < s.events.size(); i++) {
        const EventFigures &e = s.events[i];
        std::string n = "event " + std::to_string(i + 1);
        text +=
            "  " +
            padded(n + ", " + clockAt(plan, e.during.from) + " to " + clockAt(plan, e.during.to),
                   50) +
            padded(peakText(plan, e.peakDuring[0], e.atDuring[0]), 18) +
            peakText(plan, e.peakDuring[1], e.atDuring[1]) + "\n";
        text += "  " +
                padded(n + "'s rebound, " + clockAt(plan, e.rebound.from) + " to " +
                           clockAt(plan, e.rebound.to),
                       50) +
                padded(peakText(plan, e.peakRebound[0], e.atRebound[0]), 18) +
                peakText(plan, e.peakRebound[1], e.atRebound[1]) + "\n";
    }
    return text;
}

std::string energyTable(const Summary &s) {
    std::string text = padded("energy (kWh)", 52) + padded("with events", 14) +
                       padded("without", 12) + "shifted\n";
    auto row = [&text](const std::string &name, double with, double without) {
        text += "  " + padded(name, 50) + padded(fmt("%.2f", with), 14) +
                padded(fmt("%.2f", without), 12) + fmt("%.2f", without - with) + "\n";
    };
    for (size_t i = 0; i < s.events.size(); i++) {
        const EventFigures &e = s.events[i];
        row("event " + std::to_string(i + 1), e.energyDuring[0], e.energyDuring[1]);
        row("event " + std::to_string(i + 1) + "'s rebound", e.energyRebound[0],
            e.energyRebound[1]);
    }
    row("the whole run", s.energy[0], s.energy[1]);
    return text;
}

std::string zoneTable(const BuildingResult &with, const BuildingResult *without) {
    std::string text =
        "zones: electricity (kWh), and discomfort outside the fixed comfort range (C h), in "
        "occupied hours and in all, with the events / without\n";
    text += "  " + padded("zone", 12) + padded("address", 9) + padded("kWh", 18) +
            padded("occupied C h", 18) + padded("all C h", 18) + "\n";
    auto pair = [](double a, double b) { return fmt("%.2f", a) + " / " + fmt("%.2f", b); };
    for (size_t i = 0; i < with.units.size(); i++) {
        const UnitSeries &u = with.units[i];
        const UnitSeries *b =
            without != nullptr && i < without->units.size() ? &without->units[i] : nullptr;
        double kwh = 0;
        for (double v : u.electricKwh) {
            kwh += v;
        }
        double baseKwh = NONE;
        if (b != nullptr) {
            baseKwh = 0;
            for (double v : b->electricKwh) {
                baseKwh += v;
            }
        }
        text += "  " + padded(u.name, 12) + padded(std::to_string(u.address), 9) +
                padded(pair(kwh, baseKwh), 18) +
                padded(pair(u.occupiedDiscomfortKh, b ? b->occupiedDiscomfortKh : NONE), 18) +
                pair(u.discomfortKh, b ? b->discomfortKh : NONE) +
                (u.failure.empty() ? "" : "  (" + u.failure + ")") + "\n";
    }
    return text;
}

Json number(double v, int decimals) {
    if (std::isnan(v)) {
        return Json();
    }
    double scale = std::pow(10.0, decimals);
    return Json(std::round(v * scale) / scale);
}

} // namespace

double minuteElectricKwh(const TraceRow &r, const std::string &equipment) {
    bool furnace = equipment.rfind("furnace", 0) == 0;
    bool gasAux = equipment == "heatpump-gas";
    double burner = (r.energyKj[RELAY_W1E] + r.energyKj[RELAY_W2]) / 3600.0;
    double compressorHeat = (r.energyKj[RELAY_Y1] + r.energyKj[RELAY_Y2]) / 3600.0;
    double compressor = compressorHeat >= 0.0 ? compressorHeat / heatingCop(r.outdoor)
                                              : -compressorHeat / coolingCop(r.outdoor);
    double fanS = std::max({r.onSeconds[RELAY_G1], r.onSeconds[RELAY_G2], r.onSeconds[RELAY_G3],
                            furnace ? r.onSeconds[RELAY_W1E] : 0.0});
    double resistance = furnace || gasAux ? 0.0 : burner;
    return compressor + resistance + fanS * FAN_W / 3.6e6;
}

ComfortBounds fixedComfortRange(int64_t wallSeconds, bool cooling) {
    static constexpr int c_Weekday[4] = {6 * 60, 8 * 60, 18 * 60, 22 * 60};
    static constexpr int c_Weekend[4] = {8 * 60, 10 * 60, 16 * 60, 23 * 60};
    time_t t = static_cast<time_t>(wallSeconds);
    struct tm local {};
    localtime_r(&t, &local);
    const int *day = local.tm_wday == 0 || local.tm_wday == 6 ? c_Weekend : c_Weekday;
    int minute = local.tm_hour * 60 + local.tm_min;
    ComfortBounds b;
    b.occupied = (minute >= day[0] && minute < day[1]) || (minute >= day[2] && minute < day[3]);
    auto c = [](double f) { return (f - 32.0) / 1.8; };
    if (cooling) {
        b.low = b.occupied ? c(73) : c(60);
        b.high = b.occupied ? c(79) : c(85);
    } else {
        b.low = b.occupied ? c(68) : c(60);
        b.high = b.occupied ? c(76) : c(80);
    }
    return b;
}

void addMinute(UnitSeries *unit, const TraceRow &row, bool cooling) {
    size_t index = row.minute >= 1.0 ? static_cast<size_t>(row.minute) - 1 : 0;
    if (unit->electricKwh.size() <= index) {
        unit->electricKwh.resize(index + 1, 0.0);
    }
    unit->electricKwh[index] = minuteElectricKwh(row, unit->equipment);
    ComfortBounds b = fixedComfortRange(row.wall, cooling);
    double miss = std::max({0.0, b.low - row.indoor, row.indoor - b.high}) / 60.0;
    unit->discomfortKh += miss;
    unit->occupiedDiscomfortKh += b.occupied ? miss : 0.0;
}

std::vector<double> aggregateDemandKw(const BuildingResult &r, size_t minutes) {
    std::vector<double> kw(minutes, 0.0);
    for (const UnitSeries &u : r.units) {
        for (size_t i = 0; i < minutes && i < u.electricKwh.size(); i++) {
            kw[i] += u.electricKwh[i] * 60.0;
        }
    }
    return kw;
}

double peakMeanKw(const std::vector<double> &kw, size_t from, size_t to, size_t *endMinute) {
    to = std::min(to, kw.size());
    if (from >= to) {
        *endMinute = from;
        return NONE;
    }
    size_t width = std::min(DEMAND_MINUTES, to - from);
    double window = 0.0;
    double best = -1.0;
    for (size_t i = from; i < to; i++) {
        window += kw[i] - (i >= from + width ? kw[i - width] : 0.0);
        if (i + 1 >= from + width && window > best + 1e-9) {
            best = window;
            *endMinute = i + 1;
        }
    }
    return best / static_cast<double>(width);
}

std::string formatBuildingReport(const BuildingSpec &plan, const BuildingResult &with,
                                 const BuildingResult *without) {
    Summary s = summarise(with, without);
    time_t start = static_cast<time_t>(plan.startWall);
    struct tm local {};
    localtime_r(&start, &local);
    char when[48];
    strftime(when, sizeof(when), "%a %Y-%m-%d %H:%M", &local);
    std::string text = "tstat-sim building: " + plan.path + ", " +
                       std::to_string(with.units.size()) + " units on one bus at " +
                       std::to_string(plan.busRate) + " bit/s, " + fmt("%.1f", plan.hours) +
                       " hours from " + when + "\n";
    text += "bus: " + std::to_string(with.bus.frames) + " frames, busy " +
            fmt("%.2f", 100.0 * static_cast<double>(with.bus.busyMicros) /
                            std::max(1.0, plan.hours * 3.6e9)) +
            " % of the time, the longest wait for the wire " +
            fmt("%.1f", static_cast<double>(with.bus.longestWaitMicros) / 1000.0) + " ms\n";
    for (size_t i = 0; i < s.events.size(); i++) {
        text += eventLine(plan, i, s.events[i]);
    }
    if (without == nullptr) {
        text += "no run without the events: the figures without them are \"-\"\n";
    }
    return text + demandTable(plan, s) + energyTable(s) + zoneTable(with, without);
}

Json buildingJson(const BuildingSpec &plan, const BuildingResult &with,
                  const BuildingResult *without) {
    Summary s = summarise(with, without);
    Json j;
    j["building"] = plan.path;
    j["units"] = with.units.size();
    j["hours"] = plan.hours;
    j["bus"] = {{"bit_rate", plan.busRate},
                {"frames", with.bus.frames},
                {"busy_s", number(static_cast<double>(with.bus.busyMicros) / 1e6, 3)}};
    j["peak_kw"] = {number(s.peak[0], 3), number(s.peak[1], 3)};
    j["energy_kwh"] = {number(s.energy[0], 3), number(s.energy[1], 3)};
    Json events = Json::array();
    for (const EventFigures &e : s.events) {
        events.push_back(
            {{"line", e.outcome->event.line},
             {"units", e.outcome->units},
             {"not_taken", e.outcome->notTaken},
             {"peak_during_kw", {number(e.peakDuring[0], 3), number(e.peakDuring[1], 3)}},
             {"peak_rebound_kw", {number(e.peakRebound[0], 3), number(e.peakRebound[1], 3)}},
             {"energy_during_kwh", {number(e.energyDuring[0], 3), number(e.energyDuring[1], 3)}},
             {"energy_rebound_kwh", {number(e.energyRebound[0], 3), number(e.energyRebound[1], 3)}},
             {"shifted_kwh", number(e.energyDuring[1] - e.energyDuring[0], 3)}});
    }
    j["events"] = events;
    Json zones = Json::array();
    for (size_t i = 0; i < with.units.size(); i++) {
        const UnitSeries &u = with.units[i];
        const UnitSeries *b =
            without != nullptr && i < without->units.size() ? &without->units[i] : nullptr;
        zones.push_back(
            {{"zone", u.name},
             {"address", u.address},
             {"occupied_discomfort_ch",
              {number(u.occupiedDiscomfortKh, 3), number(b ? b->occupiedDiscomfortKh : NONE, 3)}},
             {"discomfort_ch", {number(u.discomfortKh, 3), number(b ? b->discomfortKh : NONE, 3)}},
             {"failure", u.failure}});
    }
    j["zones"] = zones;
    return j;
}

std::string demandCsv(const BuildingSpec &plan, const BuildingResult &with,
                      const BuildingResult *without) {
    std::vector<double> a = aggregateDemandKw(with, with.minutes);
    std::vector<double> b =
        without != nullptr ? aggregateDemandKw(*without, with.minutes) : std::vector<double>();
    std::string text = "minute,time,demand_kw,without_kw\n";
    for (size_t i = 0; i < a.size(); i++) {
        text += std::to_string(i + 1) + "," + clockAt(plan, i + 1) + "," + fmt("%.3f", a[i]) + "," +
                (b.empty() ? "" : fmt("%.3f", b[i])) + "\n";
    }
    return text;
}

} // namespace sim
