// The figures of one run of a study, from its trace, relay log and
// report.json with the warm-up left out: comfort, energy by source with the
// equipment's stated efficiencies, peak electric demand, equipment
// protection, the heat pump's auxiliary heat by outdoor temperature,
// recovery after comfort periods and run time against a constant set point.
#include "study/study.h"

#include "report/report_json.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>

namespace sim {

namespace {

// Stated efficiencies: a condensing furnace (and gas auxiliary heat) of 95 %
// AFUE; the heat pump's heating COP 3.4 at its rating point (8.3 C), falling
// 0.075 a degree to at least 1.5 (about 1.7 at -15 C); the cooling COP 3.6
// at 35 C, rising 0.08 a degree cooler (an air conditioner alike);
// resistance heat 1.
constexpr double AFUE = 0.95;
double heatingCop(double outdoor) {
    return std::clamp(3.4 + 0.075 * (outdoor - 8.3), 1.5, 4.5);
}
double coolingCop(double outdoor) {
    return std::clamp(3.6 - 0.08 * (outdoor - 35.0), 2.5, 6.0);
}
// A run of a stage shorter than this wears the equipment (and a furnace's
// heat exchanger never dries).
constexpr double MINIMUM_RUN_S = 180.0;
constexpr double COMPRESSOR_OFF_GUARD_S = 300.0;
// Peak demand is the highest mean over this many minutes (a utility's
// demand interval).
constexpr size_t DEMAND_MINUTES = 15;
// The auxiliary heat's outdoor-temperature bins: below the first edge, between
// edges, and above the last (C).
constexpr double AUX_BIN_EDGES[] = {-15.0, -10.0, -5.0, 0.0, 5.0};
constexpr double NONE = std::numeric_limits<double>::quiet_NaN();

// Which figure is which: c_Figures' order.
enum Figure {
    F_OCCUPIED_H,
    F_DISCOMFORT,
    F_DISCOMFORT_PER_H,
    F_GAS,
    F_COMPRESSOR,
    F_AUX,
    F_EMERGENCY,
    F_FAN,
    F_GAS_DAY,
    F_ELECTRIC_DAY,
    F_PEAK,
    F_STARTS_W1,
    F_STARTS_W2,
    F_STARTS_Y1,
    F_STARTS_Y2,
    F_WORST_HOUR,
    F_SHORT_RUNS,
    F_SHORT_OFF,
    F_CYCLES,
    F_AUX_BIN0,
    F_AUX_BIN5 = F_AUX_BIN0 + 5,
    F_RECOVERY_MEAN,
    F_RECOVERY_WORST,
    F_RECOVERY_MISSED,
    F_RUNTIME,
    F_RUNTIME_SAVED,
    F_COUNT
};

const std::vector<FigureDef> c_Figures = {
    {"occupied_h", "occupied hours", 0.05, false},
    {"discomfort", "discomfort in occupied periods, {u} h", 0.5, true},
    {"discomfort_per_h", "discomfort, {u} h per occupied hour", 0.05, true},
    {"gas_kwh", "furnace gas (AFUE 95 %), kWh", 2.0, false},
    {"compressor_kwh", "compressor electricity, kWh", 1.0, false},
    {"aux_kwh", "auxiliary resistance heat, kWh", 1.0, false},
    {"emergency_kwh", "emergency resistance heat, kWh", 1.0, false},
    {"fan_kwh", "fan electricity, kWh", 0.3, false},
    {"gas_kwh_day", "gas per day, kWh", 1.0, true},
    {"electric_kwh_day", "electricity per day, kWh", 0.5, true},
    {"peak_kw", "peak electric demand (15 min mean), kW", 0.3, true},
    {"w1_starts_h", "W1/E starts per hour", 0.15, false},
    {"w2_starts_h", "W2 starts per hour", 0.15, false},
    {"y1_starts_h", "Y1 starts per hour", 0.15, false},
    {"y2_starts_h", "Y2 starts per hour", 0.15, false},
    {"worst_hour_starts", "most starts of a stage in an hour", 1.0, true},
    {"short_runs", "stage runs shorter than 3 min", 1.0, true},
    {"short_compressor_off", "compressor off times below 300 s", 0.0, true},
    {"cycles", "equipment cycles", 3.0, false},
    {"aux_kwh_below_m15c", "auxiliary heat below -15 C (5 F), kWh", 1.0, false},
    {"aux_kwh_m15c_m10c", "auxiliary heat -15 to -10 C (5 to 14 F), kWh", 1.0, false},
    {"aux_kwh_m10c_m5c", "auxiliary heat -10 to -5 C (14 to 23 F), kWh", 1.0, false},
    {"aux_kwh_m5c_0c", "auxiliary heat -5 to 0 C (23 to 32 F), kWh", 1.0, false},
    {"aux_kwh_0c_5c", "auxiliary heat 0 to 5 C (32 to 41 F), kWh", 1.0, false},
    {"aux_kwh_above_5c", "auxiliary heat above 5 C (41 F), kWh", 1.0, false},
    {"recovery_mean_min", "minutes to the band after a comfort period begins (mean)", 10.0, true},
    {"recovery_worst_min", "minutes to the band after a comfort period begins (worst)", 15.0,
     false},
    {"recovery_missed", "comfort periods never in band", 0.0, false},
    {"runtime_h", "equipment run time, h", 0.3, false},
    {"runtime_saved_pct", "run time saved against a constant set point, %", 3.0, true},
};
static_assert(F_COUNT == 30, "one definition a figure");

// The trace and relay log after the warm-up: minutes counted from its end;
// each relay closed at that moment opens the kept log.
void trimWarmup(double warmupMinutes, std::vector<TraceRow> *rows,
                std::vector<RelayEvent> *events) {
    int64_t cutMs = 0;
    std::vector<TraceRow> kept;
    for (const TraceRow &r : *rows) {
        if (r.minute <= warmupMinutes) {
            cutMs = r.uptimeMs;
            continue;
        }
        kept.push_back(r);
        kept.back().minute -= warmupMinutes;
    }
    std::array<int, RELAY_COUNT> state;
    state.fill(-1);
    std::vector<RelayEvent> log;
    bool opened = false;
    for (const RelayEvent &e : *events) {
        if (e.ms < cutMs) {
            if (e.relay >= 0 && e.relay < static_cast<int>(RELAY_COUNT)) {
                state[e.relay] = e.closed;
            }
            continue;
        }
        for (int r = 0; !opened && r < static_cast<int>(RELAY_COUNT); r++) {
            if (state[r] >= 0) {
                log.push_back({cutMs, r, state[r]});
            }
        }
        opened = true;
        log.push_back(e);
    }
    *rows = std::move(kept);
    *events = std::move(log);
}

// Energy by source and the electric demand, minute by minute.
void addEnergy(const std::vector<TraceRow> &rows, const ThermostatSetup &s, const HouseParams &h,
               std::vector<double> &f) {
    bool furnace = h.equipment == Equipment::Furnace;
    bool emergency = s.hvacState == HVAC_STATE_EMERGENCY_HEAT;
    std::vector<double> electricKwh;
    for (const TraceRow &r : rows) {
        double burner = (r.energyKj[RELAY_W1E] + r.energyKj[RELAY_W2]) / 3600.0;
        double compressorHeat = (r.energyKj[RELAY_Y1] + r.energyKj[RELAY_Y2]) / 3600.0;
        double compressor = compressorHeat >= 0.0 ? compressorHeat / heatingCop(r.outdoor)
                                                  : -compressorHeat / coolingCop(r.outdoor);
        double fanS = std::max({r.onSeconds[RELAY_G1], r.onSeconds[RELAY_G2], r.onSeconds[RELAY_G3],
                                furnace ? r.onSeconds[RELAY_W1E] : 0.0});
        double fan = fanS * h.fanHeat / 3.6e6;
        double resistance = 0.0;
        if (furnace || h.aux == AuxHeat::Gas) {
            f[F_GAS] += burner / AFUE;
        } else {
            resistance = burner;
            f[emergency ? F_EMERGENCY : F_AUX] += burner;
        }
        if (!furnace && !emergency) {
            size_t bin = 0;
            while (bin < std::size(AUX_BIN_EDGES) && r.outdoor >= AUX_BIN_EDGES[bin]) {
                bin++;
            }
            f[F_AUX_BIN0 + bin] += burner;
        }
        f[F_COMPRESSOR] += compressor;
        f[F_FAN] += fan;
        electricKwh.push_back(compressor + resistance + fan);
    }
    double window = 0.0;
    for (size_t i = 0; i < electricKwh.size(); i++) {
        window += electricKwh[i] - (i >= DEMAND_MINUTES ? electricKwh[i - DEMAND_MINUTES] : 0.0);
        size_t n = std::min(i + 1, DEMAND_MINUTES);
        f[F_PEAK] = std::max(f[F_PEAK], window * 60.0 / static_cast<double>(n));
    }
}

// Runs of each stage shorter than the minimum and compressor off times
// below the guard, from the relay log (pulses of every sequence dated at
// its start, as the report dates them).
void addProtection(const std::vector<RelayEvent> &log, std::vector<double> &f) {
    for (int relay : {RELAY_W1E, RELAY_W2, RELAY_Y1, RELAY_Y2}) {
        // The first state is the one at the start, the first change ends a
        // state of unknown length: only the lengths after it count.
        int state = -1;
        bool known = false;
        int64_t since = 0;
        int64_t sequence = -1;
        for (const RelayEvent &e : log) {
            sequence = e.relay == RELAY_OB ? e.ms : sequence;
            if (e.relay != relay || e.closed == state) {
                continue;
            }
            int64_t at = sequence >= 0 ? sequence : e.ms;
            double lasted = (at - since) / 1000.0;
            bool compressor = relay == RELAY_Y1 || relay == RELAY_Y2;
            if (known && state == 1 && lasted < MINIMUM_RUN_S) {
                f[F_SHORT_RUNS] += 1.0;
            }
            if (known && state == 0 && compressor && lasted < COMPRESSOR_OFF_GUARD_S) {
                f[F_SHORT_OFF] += 1.0;
            }
            known = state >= 0;
            since = at;
            state = e.closed;
        }
    }
}

void addReportFigures(const Report &r, bool celsius, std::vector<double> &f) {
    double k = celsius ? 1.0 : 1.8;
    f[F_OCCUPIED_H] = r.occupied.hours;
    f[F_DISCOMFORT] = k * (r.occupied.belowKh + r.occupied.aboveKh);
    f[F_DISCOMFORT_PER_H] = r.occupied.hours > 0.0 ? f[F_DISCOMFORT] / r.occupied.hours : NONE;
    double worst = 0.0;
    for (size_t i = 0; i < r.stages.size() && i < 4; i++) {
        f[F_STARTS_W1 + i] = r.hours > 0.0 ? r.stages[i].startsPerHour : 0.0;
        worst = std::max(worst, static_cast<double>(r.stages[i].mostInAnHour));
    }
    f[F_WORST_HOUR] = worst;
    f[F_CYCLES] = r.cycles;
    double sum = 0.0;
    int reached = 0;
    f[F_RECOVERY_WORST] = NONE;
    for (const ComfortStart &c : r.comfortStarts) {
        if (c.minutesToBand >= 0.0) {
            sum += c.minutesToBand;
            reached++;
            f[F_RECOVERY_WORST] = std::isnan(f[F_RECOVERY_WORST])
                                      ? c.minutesToBand
                                      : std::max(f[F_RECOVERY_WORST], c.minutesToBand);
        } else if (c.minutesToBand == -1.0) {
            f[F_RECOVERY_MISSED] += 1.0;
        }
    }
    f[F_RECOVERY_MEAN] = reached > 0 ? sum / reached : NONE;
}

bool readInputs(const StudyRun &run, ThermostatSetup *setup, HouseParams *house,
                std::vector<TraceRow> *rows, std::vector<RelayEvent> *events, std::string *error) {
    std::ifstream json(run.dir + "/sim/report.json");
    std::ifstream trace(run.dir + "/sim/trace.csv");
    std::ifstream relays(run.dir + "/sim/relay-log");
    Json report = Json::parse(json, nullptr, false);
    if (report.is_discarded() || !setupFromJson(report, setup, house)) {
        *error = "no report.json (see console.log)";
        return false;
    }
    if (!readTrace(trace, rows, error) || !parseRelayLog(relays, *events, *error)) {
        return false;
    }
    return true;
}

} // namespace

const std::vector<FigureDef> &studyFigures() {
    return c_Figures;
}

StudyFigures computeRunFigures(const StudyRun &run, double warmupHours) {
    StudyFigures out;
    out.values.assign(F_COUNT, 0.0);
    ThermostatSetup setup;
    HouseParams house;
    std::vector<TraceRow> rows;
    std::vector<RelayEvent> events;
    if (!readInputs(run, &setup, &house, &rows, &events, &out.error)) {
        out.values.assign(F_COUNT, NONE);
        return out;
    }
    trimWarmup(warmupHours * 60.0, &rows, &events);
    if (rows.empty()) {
        out.error = "nothing after the warm-up";
        out.values.assign(F_COUNT, NONE);
        return out;
    }
    Report report = computeReport(rows, events, setup, RunFigures{});
    std::vector<double> &f = out.values;
    out.celsius = setup.celsius;
    addReportFigures(report, setup.celsius, f);
    addEnergy(rows, setup, house, f);
    addProtection(events, f);
    double days = report.hours / 24.0;
    f[F_GAS_DAY] = days > 0.0 ? f[F_GAS] / days : NONE;
    f[F_ELECTRIC_DAY] =
        days > 0.0 ? (f[F_COMPRESSOR] + f[F_AUX] + f[F_EMERGENCY] + f[F_FAN]) / days : NONE;
    for (const TraceRow &r : rows) {
        f[F_RUNTIME] += std::max({r.onSeconds[RELAY_W1E], r.onSeconds[RELAY_W2],
                                  r.onSeconds[RELAY_Y1], r.onSeconds[RELAY_Y2]}) /
                        3600.0;
    }
    f[F_RUNTIME_SAVED] = NONE;
    out.ok = true;
    return out;
}

void addRunTimeSaved(const std::vector<StudyRun> &runs, std::vector<StudyFigures> *figures) {
    for (size_t i = 0; i < runs.size(); i++) {
        for (size_t b = 0; b < runs.size(); b++) {
            bool same = runs[b].baseline && runs[b].days == runs[i].days;
            for (int axis = 0; axis < AXIS_SETTING; axis++) {
                same = same && runs[b].variant[axis] == runs[i].variant[axis];
            }
            double base = (*figures)[b].values[F_RUNTIME];
            if (same && (*figures)[i].ok && (*figures)[b].ok && base > 0.0) {
                (*figures)[i].values[F_RUNTIME_SAVED] =
                    100.0 * (base - (*figures)[i].values[F_RUNTIME]) / base;
            }
        }
    }
}

} // namespace sim
