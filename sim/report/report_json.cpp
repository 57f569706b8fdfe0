// The report as JSON: the figures of report.txt, one member each.
#include "report/report_json.h"

#include <cmath>

namespace sim {

namespace {

double r3(double v) {
    return std::round(v * 1000.0) / 1000.0;
}

// Temperatures and their differences in the thermostat's display unit,
// to a thousandth.
struct Unit {
    bool celsius;
    const char *name() const { return celsius ? "C" : "F"; }
    double of(double c) const { return r3(celsius ? c : c * 9.0 / 5.0 + 32.0); }
    double ofDifference(double k) const { return r3(celsius ? k : k * 9.0 / 5.0); }
};

Json comfortJson(const ComfortFigures &c, Unit u) {
    Json j;
    j["hours"] = r3(c.hours);
    j["in_band_pct"] = r3(100.0 * c.inBandShare);
    j["below_degree_hours"] = u.ofDifference(c.belowKh);
    j["worst_below"] = u.ofDifference(c.worstBelow);
    j["above_degree_hours"] = u.ofDifference(c.aboveKh);
    j["worst_above"] = u.ofDifference(c.worstAbove);
    j["degree_hours_per_hour"] =
        c.hours > 0.0 ? r3(u.ofDifference(c.belowKh + c.aboveKh) / c.hours) : 0.0;
    return j;
}

Json setupJson(const ThermostatSetup &s) {
    return Json{{"valid", s.valid},
                {"system_type", s.systemType},
                {"system_mode", s.hvacState},
                {"heat_pump", s.heatPump},
                {"stages", s.stages},
                {"cycle_rate", s.cycleRate},
                {"balance_point_c", s.balancePoint},
                {"margin_c", s.margin},
                {"first_stage_diff_c", s.firstStageDiff},
                {"humidity_offset_pct", s.humidityOffset},
                {"humidity_hysteresis_pct", s.humidityHysteresis},
                {"humidifier", s.humidifier},
                {"dehumidifier", s.dehumidifier},
                {"celsius", s.celsius},
                {"comfort_recovery", s.recovery}};
}

Json houseJson(const HouseParams &p, const std::string &line) {
    return Json{{"summary", line},
                {"preset", housePresetName(p.preset)},
                {"equipment", p.equipment == Equipment::Furnace ? "furnace" : "heatpump"},
                {"aux", p.aux == AuxHeat::Gas ? "gas" : "electric"},
                {"stages", std::max(p.stages, 1)},
                {"furnace_w", p.furnaceW},
                {"cool_w", p.coolW},
                {"heatpump_w", p.heatPumpW},
                {"aux_w", p.auxW},
                {"fan_w", p.fanHeat}};
}

Json equipmentJson(const Report &r) {
    Json stages = Json::array();
    for (const StageFigures &f : r.stages) {
        stages.push_back({{"stage", c_RelayNames[f.relay]},
                          {"starts", f.starts},
                          {"starts_per_hour", r.hours >= 1.0 ? Json(r3(f.startsPerHour)) : Json()},
                          {"most_in_an_hour", f.mostInAnHour},
                          {"runtime_hours", r3(f.runtimeHours)},
                          {"delivered_kwh", r3(f.deliveredKwh)}});
    }
    Json j{{"cycle_rate", r.setup.cycleRate},
           {"stages", stages},
           {"cycles", r.cycles},
           {"shortest_start_to_start_min",
            r.shortestCycleStartGapS >= 0.0 ? Json(r3(r.shortestCycleStartGapS / 60.0)) : Json()},
           {"shortest_compressor_off_s",
            r.shortestCompressorOffS >= 0.0 ? Json(r3(r.shortestCompressorOffS)) : Json()},
           {"compressor_off_guard_s", 300}};
    if (r.setup.heatPump) {
        const Unit u{r.setup.celsius};
        j["aux_above_balance_point"] = {{"balance_point", u.of(r.setup.balancePoint)},
                                        {"minutes", r3(r.auxAboveBalanceMinutes)},
                                        {"kwh", r3(r.auxAboveBalanceKwh)}};
    }
    return j;
}

Json comfortStartsJson(const Report &r, Unit u) {
    Json starts = Json::array();
    for (const ComfortStart &c : r.comfortStarts) {
        starts.push_back(
            {{"at", localStamp(c.wall, "%Y-%m-%d %H:%M")},
             {"period", periodName(c.period)},
             {"heat", u.of(c.heat)},
             {"cool", u.of(c.cool)},
             {"room", u.of(c.startIndoor)},
             {"minutes_to_band", c.minutesToBand >= 0.0 ? Json(c.minutesToBand) : Json()},
             {"reached", c.minutesToBand >= 0.0    ? "in band"
                         : c.minutesToBand == -1.0 ? "never during the period"
                                                   : "not when the run ended"}});
    }
    return starts;
}

Json runJson(const RunFigures &run) {
    Json j{{"simulated_seconds", r3(run.simulatedSeconds)},
           {"lockstep", run.lockstep},
           {"seed", run.seed},
           {"longest_step_s", r3(run.longestPassSeconds)},
           {"cut_short", !run.interrupted.empty()}};
    // Why a signal ended the run before its end: its figures cover the run until then.
    if (!run.interrupted.empty()) {
        j["cut_short_by"] = run.interrupted;
    }
    if (!run.lockstep) {
        j["host_seconds"] = r3(run.hostSeconds);
    }
    if (run.requestMinutes > 0.0) {
        j["periodic_requests_pct"] = r3(100.0 * run.requests / (run.requestMinutes * 60.0));
    }
    return j;
}

} // namespace

Json reportToJson(const Report &r, const HouseParams &house, const std::string &houseLine) {
    const Unit u{r.setup.celsius};
    Json j;
    j["hours"] = r3(r.hours);
    j["start"] = localStamp(r.startWall, "%Y-%m-%d %H:%M");
    j["unit"] = u.name();
    j["house"] = houseJson(house, houseLine);
    j["thermostat"] = setupJson(r.setup);
    j["comfort"] = {{"tolerance", u.ofDifference(COMFORT_TOLERANCE)},
                    {"occupied", comfortJson(r.occupied, u)},
                    {"all", comfortJson(r.all, u)},
                    {"comfort_periods", comfortStartsJson(r, u)}};
    j["equipment"] = equipmentJson(r);
    j["humidity"] = {{"band_low_pct", r3(r.humidityLow)},
                     {"band_high_pct", r3(r.humidityHigh)},
                     {"below_hours", r3(r.humidityBelowHours)},
                     {"above_hours", r3(r.humidityAboveHours)},
                     {"hours", r3(r.humidityHours)}};
    j["relay_check"] = r.violations;
    j["run"] = runJson(r.run);
    return j;
}

bool setupFromJson(const Json &report, ThermostatSetup *s, HouseParams *house) {
    if (!report.contains("thermostat") || !report.contains("house")) {
        return false;
    }
    try {
        const Json &t = report.at("thermostat");
        s->valid = t.at("valid");
        s->systemType = t.at("system_type");
        s->hvacState = t.at("system_mode");
        s->heatPump = t.at("heat_pump");
        s->stages = t.at("stages");
        s->cycleRate = t.at("cycle_rate");
        s->balancePoint = t.at("balance_point_c");
        s->margin = t.at("margin_c");
        s->firstStageDiff = t.at("first_stage_diff_c");
        s->humidityOffset = t.at("humidity_offset_pct");
        s->humidityHysteresis = t.at("humidity_hysteresis_pct");
        s->humidifier = t.at("humidifier");
        s->dehumidifier = t.at("dehumidifier");
        s->celsius = t.at("celsius");
        s->recovery = t.at("comfort_recovery");
        const Json &h = report.at("house");
        parseHousePreset(h.at("preset").get<std::string>(), &house->preset);
        house->equipment =
            h.at("equipment") == "furnace" ? Equipment::Furnace : Equipment::HeatPump;
        house->aux = h.at("aux") == "gas" ? AuxHeat::Gas : AuxHeat::Electric;
        house->stages = h.at("stages");
        house->fanHeat = h.at("fan_w");
    } catch (const Json::exception &) {
        return false;
    }
    return true;
}

} // namespace sim
