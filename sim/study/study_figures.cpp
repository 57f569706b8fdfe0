// The figures of one run of a study, from its trace, relay log and
// report.json with the warm-up left out: comfort against the study's fixed
// range and against the thermostat's own band, energy by source with the
// equipment's stated efficiencies, cost and emissions, peaks over whole
// 15-minute windows, the heat pump's auxiliary heat, equipment protection,
// recovery after comfort periods, run time; and the savings against the
// paired constant set point.
#include "study/study.h"

#include <algorithm>
#include <cmath>
#include <ctime>
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
// Demand is metered over whole quarter hours of the clock (a utility's
// demand interval).
constexpr int64_t DEMAND_WINDOW_S = 900;
constexpr double MINUTES_PER_WINDOW = 15.0;
// The auxiliary heat's outdoor-temperature bins: below the first edge, between
// edges, and above the last (C).
constexpr double AUX_BIN_EDGES[] = {-15.0, -10.0, -5.0, 0.0, 5.0};
constexpr double NONE = std::numeric_limits<double>::quiet_NaN();
constexpr double F_PER_K = 1.8;

// Which figure is which: c_Figures' order.
enum Figure {
    F_OCCUPIED_H,
    F_TDIS_OCC_KH,
    F_TDIS_UNOCC_KH,
    F_TDIS_OCC,
    F_TDIS_UNOCC,
    F_BAND,
    F_GAS,
    F_COMPRESSOR,
    F_AUX,
    F_EMERGENCY,
    F_FAN,
    F_ELECTRIC,
    F_GAS_DAY,
    F_ELECTRIC_DAY,
    F_GAS_SAVED,
    F_ELECTRIC_SAVED,
    F_COST_FLAT,
    F_COST_TOU,
    F_COST_SAVED,
    F_CO2,
    F_CO2_SAVED,
    F_AUX_SHARE,
    F_AUX_ABOVE,
    F_AUX_BIN0,
    F_AUX_BIN5 = F_AUX_BIN0 + 5,
    F_PEAK,
    F_GAS_PEAK,
    F_STARTS_W1,
    F_STARTS_W2,
    F_STARTS_Y1,
    F_STARTS_Y2,
    F_WORST_HOUR,
    F_SHORTEST_GAP,
    F_SHORT_RUNS,
    F_SHORT_OFF,
    F_CYCLES,
    F_RECOVERY_MEAN,
    F_RECOVERY_WORST,
    F_RECOVERY_MISSED,
    F_RUNTIME,
    F_RUNTIME_SAVED,
    F_COUNT
};

// clang-format off
const std::vector<FigureDef> c_Figures = {
    {"occupied_h", "occupied hours of the fixed schedule", "occ. h", 0.05, KIND_MEASURE, false},
    {"tdis_occupied_kh", "discomfort outside the fixed range, occupied hours, K h", "occ. K h", 0.2, KIND_MEASURE, false},
    {"tdis_unoccupied_kh", "discomfort outside the fixed range, unoccupied hours, K h", "unocc. K h", 0.2, KIND_MEASURE, false},
    {"tdis_occupied", "discomfort outside the fixed range, occupied hours, {u} h", "discomfort occupied {u}h", 0.4, KIND_DEGREES, true},
    {"tdis_unoccupied", "discomfort outside the fixed range, unoccupied hours, {u} h", "discomfort unoccupied {u}h", 0.4, KIND_DEGREES, true},
    {"band_discomfort", "band keeping: {u} h outside the band of the thermostat's own set points, its occupied periods", "own band {u}h", 0.5, KIND_DEGREES, true},
    {"gas_kwh", "gas burnt (furnace and gas auxiliary heat at an AFUE of 95 %), kWh", "gas kWh", 2.0, KIND_MEASURE, false},
    {"compressor_kwh", "compressor electricity, kWh", "compressor kWh", 1.0, KIND_MEASURE, false},
    {"aux_kwh", "auxiliary resistance heat, kWh", "aux kWh", 1.0, KIND_MEASURE, false},
    {"emergency_kwh", "emergency resistance heat, kWh", "emergency kWh", 1.0, KIND_MEASURE, false},
    {"fan_kwh", "fan electricity, kWh", "fan kWh", 0.3, KIND_MEASURE, false},
    {"electric_kwh", "electricity, kWh", "elec. kWh", 1.0, KIND_MEASURE, false},
    {"gas_kwh_day", "gas per day, kWh", "gas kWh/d", 1.0, KIND_MEASURE, true},
    {"electric_kwh_day", "electricity per day, kWh", "elec. kWh/d", 0.5, KIND_MEASURE, true},
    {"gas_saved_pct", "gas saved against the paired constant set point, %", "gas saved %", 3.0, KIND_MEASURE, true},
    {"electric_saved_pct", "electricity saved against the paired constant set point, %", "elec. saved %", 3.0, KIND_MEASURE, true},
    {"cost_flat_day", "energy cost per day, flat tariff", "cost/d flat", 0.05, KIND_MEASURE, true},
    {"cost_tou_day", "energy cost per day, time-of-use electricity", "cost/d TOU", 0.05, KIND_MEASURE, true},
    {"cost_saved_pct", "cost saved against the paired constant set point (flat tariff), %", "cost saved %", 3.0, KIND_MEASURE, true},
    {"co2_kg_day", "CO2 per day, kg", "CO2 kg/d", 0.2, KIND_MEASURE, true},
    {"co2_saved_pct", "CO2 saved against the paired constant set point, %", "CO2 saved %", 3.0, KIND_MEASURE, true},
    {"aux_share_pct", "auxiliary and emergency heat's share of a heat pump's electricity, %", "aux share %", 2.0, KIND_MEASURE, true},
    {"aux_above_balance_kwh", "auxiliary heat while above the balance point, kWh", "aux above balance kWh", 1.0, KIND_MEASURE, true},
    {"aux_kwh_below_m15c", "auxiliary heat below -15 C (5 F), kWh", "aux <-15 C", 1.0, KIND_MEASURE, false},
    {"aux_kwh_m15c_m10c", "auxiliary heat -15 to -10 C (5 to 14 F), kWh", "aux -15..-10 C", 1.0, KIND_MEASURE, false},
    {"aux_kwh_m10c_m5c", "auxiliary heat -10 to -5 C (14 to 23 F), kWh", "aux -10..-5 C", 1.0, KIND_MEASURE, false},
    {"aux_kwh_m5c_0c", "auxiliary heat -5 to 0 C (23 to 32 F), kWh", "aux -5..0 C", 1.0, KIND_MEASURE, false},
    {"aux_kwh_0c_5c", "auxiliary heat 0 to 5 C (32 to 41 F), kWh", "aux 0..5 C", 1.0, KIND_MEASURE, false},
    {"aux_kwh_above_5c", "auxiliary heat above 5 C (41 F), kWh", "aux >5 C", 1.0, KIND_MEASURE, false},
    {"peak_kw", "peak electric demand over whole 15-minute windows, kW", "peak kW", 0.3, KIND_MEASURE, true},
    {"gas_peak_kw", "peak gas input over whole 15-minute windows, kW", "gas peak kW", 0.5, KIND_MEASURE, true},
    {"w1_starts", "W1/E starts", "W1 starts", 0.0, KIND_COUNT, false},
    {"w2_starts", "W2 starts", "W2 starts", 0.0, KIND_COUNT, false},
    {"y1_starts", "Y1 starts", "Y1 starts", 0.0, KIND_COUNT, false},
    {"y2_starts", "Y2 starts", "Y2 starts", 0.0, KIND_COUNT, false},
    {"worst_hour_starts", "most starts of a stage in an hour", "worst hour starts", 0.0, KIND_COUNT, true},
    {"shortest_start_gap_min", "shortest time from one equipment start to the next, min", "min. start gap min", 0.5, KIND_MEASURE, true},
    {"short_runs", "stage runs shorter than 3 min", "runs < 3 min", 0.0, KIND_COUNT, true},
    {"short_compressor_off", "compressor off times below 300 s", "compr. off < 300 s", 0.0, KIND_COUNT, true},
    {"cycles", "equipment cycles", "cycles", 0.0, KIND_COUNT, false},
    {"recovery_mean_min", "minutes to the band after a comfort period begins (mean of those reached)", "recovery min", 10.0, KIND_MEASURE, true},
    {"recovery_worst_min", "minutes to the band after a comfort period begins (worst)", "worst recovery min", 15.0, KIND_MEASURE, false},
    {"recovery_missed", "comfort periods never in band (missed recoveries)", "missed recoveries", 0.0, KIND_COUNT, true},
    {"runtime_h", "equipment run time, h", "run time h", 0.3, KIND_MEASURE, false},
    {"runtime_saved_pct", "run time saved against the paired constant set point (the connected-thermostat method), %", "run time saved %", 3.0, KIND_MEASURE, true},
};
// clang-format on
static_assert(F_COUNT == 45, "one definition a figure");

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

// The local time of a row's minute (its middle).
struct tm minuteOf(const TraceRow &r) {
    time_t at = static_cast<time_t>(r.wall - 30);
    struct tm local {};
    localtime_r(&at, &local);
    return local;
}

bool weekend(const struct tm &t) {
    return t.tm_wday == 0 || t.tm_wday == 6;
}

// Degree-hours outside the fixed range, occupied and unoccupied hours apart.
void addFixedComfort(const std::vector<TraceRow> &rows, const ThermostatSetup &s,
                     const ComfortRange &c, std::vector<double> &f) {
    bool cooling = s.hvacState == HVAC_STATE_COOL;
    double previous = 0.0;
    for (const TraceRow &r : rows) {
        double hours = std::max(r.minute - previous, 0.0) / 60.0;
        previous = r.minute;
        struct tm t = minuteOf(r);
        const std::array<int, 4> &day = weekend(t) ? c.weekend : c.weekday;
        int m = t.tm_hour * 60 + t.tm_min;
        bool occupied = (m >= day[0] && m < day[1]) || (m >= day[2] && m < day[3]);
        const std::array<double, 2> &range = cooling
                                                 ? (occupied ? c.coolOccupied : c.coolUnoccupied)
                                                 : (occupied ? c.heatOccupied : c.heatUnoccupied);
        double outside = std::max(0.0, range[0] - r.indoor) + std::max(0.0, r.indoor - range[1]);
        f[occupied ? F_TDIS_OCC_KH : F_TDIS_UNOCC_KH] += outside * hours;
        f[F_OCCUPIED_H] += occupied ? hours : 0.0;
    }
    double k = s.celsius ? 1.0 : F_PER_K;
    f[F_TDIS_OCC] = k * f[F_TDIS_OCC_KH];
    f[F_TDIS_UNOCC] = k * f[F_TDIS_UNOCC_KH];
}

// One minute's energy by source (kWh): gas burnt and each use of electricity.
struct MinuteEnergy {
    double gas = 0, compressor = 0, resistance = 0, fan = 0;
    double electric() const { return compressor + resistance + fan; }
};

MinuteEnergy minuteEnergy(const TraceRow &r, const HouseParams &h) {
    bool furnace = h.equipment == Equipment::Furnace;
    double burner = (r.energyKj[RELAY_W1E] + r.energyKj[RELAY_W2]) / 3600.0;
    double compressorHeat = (r.energyKj[RELAY_Y1] + r.energyKj[RELAY_Y2]) / 3600.0;
    MinuteEnergy e;
    e.compressor = compressorHeat >= 0.0 ? compressorHeat / heatingCop(r.outdoor)
                                         : -compressorHeat / coolingCop(r.outdoor);
    double fanS = std::max({r.onSeconds[RELAY_G1], r.onSeconds[RELAY_G2], r.onSeconds[RELAY_G3],
                            furnace ? r.onSeconds[RELAY_W1E] : 0.0});
    e.fan = fanS * h.fanHeat / 3.6e6;
    if (furnace || h.aux == AuxHeat::Gas) {
        e.gas = burner / AFUE;
    } else {
        e.resistance = burner;
    }
    return e;
}

// Cost and emissions of a minute's energy.
void addCost(const TraceRow &r, const MinuteEnergy &e, const StudySpec &plan,
             std::vector<double> &f) {
    const Tariffs &t = plan.tariffs;
    struct tm local = minuteOf(r);
    bool peak = (t.peakWeekends || !weekend(local)) && local.tm_hour >= t.peakHours[0] &&
                local.tm_hour < t.peakHours[1];
    f[F_COST_FLAT] += e.electric() * t.electricity + e.gas * t.gas;
    f[F_COST_TOU] += e.electric() * (peak ? t.peak : t.offPeak) + e.gas * t.gas;
    f[F_CO2] += e.electric() * plan.emissions.electricity + e.gas * plan.emissions.gas;
}

// The highest mean (kW) over the clock's whole quarter hours of the counted
// minutes (a quarter hour cut by the warm-up or the end does not count).
double peakOverWindows(const std::vector<TraceRow> &rows, const std::vector<double> &kwh) {
    double peak = 0.0;
    int64_t window = -1;
    double sum = 0.0, minutes = 0.0;
    for (size_t i = 0; i <= rows.size(); i++) {
        int64_t w = i < rows.size() ? (rows[i].wall - 60) / DEMAND_WINDOW_S : -2;
        if (w != window) {
            peak = minutes >= MINUTES_PER_WINDOW ? std::max(peak, sum * 60.0 / minutes) : peak;
            window = w;
            sum = minutes = 0.0;
        }
        if (i < rows.size()) {
            sum += kwh[i];
            minutes += 1.0;
        }
    }
    return peak;
}

void addEnergy(const std::vector<TraceRow> &rows, const ThermostatSetup &s, const HouseParams &h,
               const StudySpec &plan, std::vector<double> &f) {
    bool heatPump = h.equipment == Equipment::HeatPump;
    bool emergency = s.hvacState == HVAC_STATE_EMERGENCY_HEAT;
    std::vector<double> electric, gas;
    for (const TraceRow &r : rows) {
        MinuteEnergy e = minuteEnergy(r, h);
        double aux = (r.energyKj[RELAY_W1E] + r.energyKj[RELAY_W2]) / 3600.0;
        f[F_GAS] += e.gas;
        f[F_COMPRESSOR] += e.compressor;
        f[emergency ? F_EMERGENCY : F_AUX] += e.resistance;
        f[F_FAN] += e.fan;
        if (heatPump && !emergency) {
            size_t bin = 0;
            while (bin < std::size(AUX_BIN_EDGES) && r.outdoor >= AUX_BIN_EDGES[bin]) {
                bin++;
            }
            f[F_AUX_BIN0 + bin] += aux;
            f[F_AUX_ABOVE] += r.outdoor > s.balancePoint ? aux : 0.0;
        }
        addCost(r, e, plan, f);
        electric.push_back(e.electric());
        gas.push_back(e.gas);
    }
    f[F_ELECTRIC] = f[F_COMPRESSOR] + f[F_AUX] + f[F_EMERGENCY] + f[F_FAN];
    f[F_AUX_SHARE] = heatPump && h.aux == AuxHeat::Electric && f[F_ELECTRIC] > 0.0
                         ? 100.0 * (f[F_AUX] + f[F_EMERGENCY]) / f[F_ELECTRIC]
                         : NONE;
    f[F_PEAK] = peakOverWindows(rows, electric);
    f[F_GAS_PEAK] = peakOverWindows(rows, gas);
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
    f[F_BAND] = (celsius ? 1.0 : F_PER_K) * (r.occupied.belowKh + r.occupied.aboveKh);
    double worst = 0.0;
    for (size_t i = 0; i < r.stages.size() && i < 4; i++) {
        f[F_STARTS_W1 + i] = r.stages[i].starts;
        worst = std::max(worst, static_cast<double>(r.stages[i].mostInAnHour));
    }
    f[F_WORST_HOUR] = worst;
    f[F_CYCLES] = r.cycles;
    f[F_SHORTEST_GAP] = r.shortestCycleStartGapS >= 0.0 ? r.shortestCycleStartGapS / 60.0 : NONE;
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
    return readTrace(trace, rows, error) && parseRelayLog(relays, *events, *error);
}

} // namespace

const std::vector<FigureDef> &studyFigures() {
    return c_Figures;
}

size_t figureIndex(const std::string &key) {
    size_t i = 0;
    while (i < c_Figures.size() && key != c_Figures[i].key) {
        i++;
    }
    return i;
}

StudyFigures figuresOf(std::vector<TraceRow> rows, std::vector<RelayEvent> events,
                       const ThermostatSetup &setup, const HouseParams &house,
                       const StudySpec &plan) {
    StudyFigures out;
    out.values.assign(F_COUNT, NONE);
    trimWarmup(plan.warmupHours * 60.0, &rows, &events);
    if (rows.empty()) {
        out.error = "nothing after the warm-up";
        return out;
    }
    std::vector<double> &f = out.values;
    f.assign(F_COUNT, 0.0);
    Report report = computeReport(rows, events, setup, RunFigures{});
    out.celsius = setup.celsius;
    addFixedComfort(rows, setup, plan.comfort, f);
    addReportFigures(report, setup.celsius, f);
    addEnergy(rows, setup, house, plan, f);
    addProtection(events, f);
    double days = report.hours / 24.0;
    for (auto [total, perDay] : {std::pair{F_GAS, F_GAS_DAY},
                                 {F_ELECTRIC, F_ELECTRIC_DAY},
                                 {F_COST_FLAT, F_COST_FLAT},
                                 {F_COST_TOU, F_COST_TOU},
                                 {F_CO2, F_CO2}}) {
        f[perDay] = days > 0.0 ? f[total] / days : NONE;
    }
    for (const TraceRow &r : rows) {
        f[F_RUNTIME] += std::max({r.onSeconds[RELAY_W1E], r.onSeconds[RELAY_W2],
                                  r.onSeconds[RELAY_Y1], r.onSeconds[RELAY_Y2]}) /
                        3600.0;
    }
    for (int saved : {F_GAS_SAVED, F_ELECTRIC_SAVED, F_COST_SAVED, F_CO2_SAVED, F_RUNTIME_SAVED}) {
        f[saved] = NONE;
    }
    out.ok = true;
    return out;
}

StudyFigures computeRunFigures(const StudyRun &run, const StudySpec &plan) {
    ThermostatSetup setup;
    HouseParams house;
    std::vector<TraceRow> rows;
    std::vector<RelayEvent> events;
    StudyFigures out;
    if (!readInputs(run, &setup, &house, &rows, &events, &out.error)) {
        out.values.assign(F_COUNT, NONE);
        return out;
    }
    return figuresOf(std::move(rows), std::move(events), setup, house, plan);
}

void addSavings(const std::vector<StudyRun> &runs, std::vector<StudyFigures> *figures) {
    const std::pair<int, int> c_Saved[] = {{F_RUNTIME, F_RUNTIME_SAVED},
                                           {F_GAS, F_GAS_SAVED},
                                           {F_ELECTRIC, F_ELECTRIC_SAVED},
                                           {F_COST_FLAT, F_COST_SAVED},
                                           {F_CO2, F_CO2_SAVED}};
    for (size_t i = 0; i < runs.size(); i++) {
        for (size_t b = 0; b < runs.size(); b++) {
            bool same =
                runs[b].baseline && runs[b].days == runs[i].days && runs[b].seed == runs[i].seed;
            for (int axis = 0; axis < AXIS_SETTING; axis++) {
                same = same && runs[b].variant[axis] == runs[i].variant[axis];
            }
            if (!same || !(*figures)[i].ok || !(*figures)[b].ok) {
                continue;
            }
            for (auto [total, saved] : c_Saved) {
                double base = (*figures)[b].values[total];
                (*figures)[i].values[saved] =
                    base > 0.0 ? 100.0 * (base - (*figures)[i].values[total]) / base : NONE;
            }
        }
    }
}

} // namespace sim
