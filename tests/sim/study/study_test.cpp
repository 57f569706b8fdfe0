// A study's figures of one run at their edges: comfort against the fixed
// range and schedule, energy, cost, emissions and peaks over whole quarter
// hours, the heat pump's auxiliary heat, equipment protection and the
// warm-up, recovery, and the savings against the paired baseline.
#include "study/study.h"

#include "board_root.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using sim::StudyFigures;
using sim::TraceRow;

// Monday 12 January 2026, 00:00 UTC.
constexpr int64_t MONDAY = 1768176000;

size_t at(const char *key) {
    size_t i = sim::figureIndex(key);
    EXPECT_LT(i, sim::studyFigures().size()) << key;
    return i;
}

double value(const StudyFigures &f, const char *key) {
    return f.values[at(key)];
}

// Rows of a trace, one a minute from `from` (seconds since MONDAY) for
// `minutes`, the room at `indoor`, each row made by `fill` as well.
template <typename Fill>
std::vector<TraceRow> trace(int64_t from, int minutes, double indoor, Fill fill) {
    std::vector<TraceRow> rows;
    for (int m = 1; m <= minutes; m++) {
        TraceRow r;
        r.minute = m;
        r.uptimeMs = m * 60000;
        r.wall = MONDAY + from + m * 60;
        r.indoor = indoor;
        r.outdoor = 8.3;
        r.relays.fill('0');
        fill(m, r);
        rows.push_back(r);
    }
    return rows;
}

std::vector<TraceRow> trace(int64_t from, int minutes, double indoor) {
    return trace(from, minutes, indoor, [](int, TraceRow &) {});
}

StudyFigures figures(const std::vector<TraceRow> &rows, bool heatPump, uint32_t mode,
                     std::vector<RelayEvent> events = {}, double warmupHours = 0.0) {
    sim::ThermostatSetup setup;
    setup.valid = true;
    setup.heatPump = heatPump;
    setup.hvacState = mode;
    setup.celsius = true;
    setup.balancePoint = -1.0;
    sim::HouseParams house;
    house.equipment = heatPump ? sim::Equipment::HeatPump : sim::Equipment::Furnace;
    sim::StudySpec plan;
    plan.warmupHours = warmupHours;
    return sim::figuresOf(rows, events, setup, house, plan);
}

TEST(StudyFigures, ComfortAgainstTheFixedRangeAndSchedule) {
    ScopedTimeZone utc("UTC");
    constexpr int64_t H = 3600;
    constexpr int64_t SATURDAY = 5 * 24 * H;
    struct Case {
        const char *what;
        int64_t from;
        double indoor;
        uint32_t mode;
        double occupiedKh, unoccupiedKh, occupiedHours;
    } cases[] = {
        {"Wake begins at 06:00", 5 * H + 30 * 60, 19.0, HVAC_STATE_HEAT, 0.5, 0.0, 0.5},
        {"asleep, above 60 F", 4 * H, 19.0, HVAC_STATE_HEAT, 0.0, 0.0, 0.0},
        {"Leave begins at 08:00", 7 * H + 30 * 60, 19.0, HVAC_STATE_HEAT, 0.5, 0.0, 0.5},
        {"asleep below 60 F", 3 * H, 15.0 + 5.0 / 9.0 - 2.0, HVAC_STATE_HEAT, 0.0, 2.0, 0.0},
        {"Return, above 76 F", 18 * H, 25.0 + 4.0 / 9.0, HVAC_STATE_HEAT, 1.0, 0.0, 1.0},
        {"Sleep begins at 22:00", 21 * H + 30 * 60, 17.0, HVAC_STATE_HEAT, 1.5, 0.0, 0.5},
        {"Saturday wakes at 08:00", SATURDAY + 7 * H, 19.0, HVAC_STATE_HEAT, 0.0, 0.0, 0.0},
        {"Saturday's Wake", SATURDAY + 8 * H, 19.0, HVAC_STATE_HEAT, 1.0, 0.0, 1.0},
        {"cooling, Return below 73 F", 18 * H, 22.0 + 7.0 / 9.0 - 1.0, HVAC_STATE_COOL, 1.0, 0.0,
         1.0},
        {"cooling, away above 85 F", 10 * H, 29.0 + 4.0 / 9.0 + 1.0, HVAC_STATE_COOL, 0.0, 1.0,
         0.0},
    };
    for (const Case &c : cases) {
        StudyFigures f = figures(trace(c.from, 60, c.indoor), false, c.mode);
        ASSERT_TRUE(f.ok) << c.what;
        EXPECT_NEAR(value(f, "tdis_occupied_kh"), c.occupiedKh, 1e-9) << c.what;
        EXPECT_NEAR(value(f, "tdis_unoccupied_kh"), c.unoccupiedKh, 1e-9) << c.what;
        EXPECT_NEAR(value(f, "tdis_occupied"), c.occupiedKh, 1e-9) << c.what;
        EXPECT_NEAR(value(f, "occupied_h"), c.occupiedHours, 1e-9) << c.what;
    }
}

TEST(StudyFigures, EnergyCostEmissionsAndPeaksOverWholeQuarterHours) {
    ScopedTimeZone utc("UTC");
    // A furnace from 00:07: the burner 1 kWh a minute in 00:07-00:15 (a
    // quarter hour cut by the start), then half that to 00:30.
    auto burner = [](int m, TraceRow &r) {
        r.energyKj[RELAY_W1E] = m <= 8 ? 3600.0 : m <= 23 ? 1800.0 : 0.0;
        r.onSeconds[RELAY_W1E] = m <= 23 ? 60.0 : 0.0;
    };
    StudyFigures f = figures(trace(7 * 60, 60, 20.0, burner), false, HVAC_STATE_HEAT);
    ASSERT_TRUE(f.ok);
    double gas = (8.0 + 15 * 0.5) / 0.95;
    EXPECT_NEAR(value(f, "gas_kwh"), gas, 1e-9);
    EXPECT_NEAR(value(f, "gas_peak_kw"), 30.0 / 0.95, 1e-9);
    double fan = 23 * 60 * 250.0 / 3.6e6;
    EXPECT_NEAR(value(f, "fan_kwh"), fan, 1e-9);
    EXPECT_NEAR(value(f, "peak_kw"), 0.25, 1e-9);
    EXPECT_NEAR(value(f, "gas_kwh_day"), gas * 24.0, 1e-9);
    EXPECT_NEAR(value(f, "cost_flat_day"), 24.0 * (gas * 1.45 / 29.3071 + fan * 0.16), 1e-9);
    EXPECT_NEAR(value(f, "co2_kg_day"), 24.0 * (gas * 0.181 + fan * 0.373), 1e-9);
    EXPECT_TRUE(std::isnan(value(f, "aux_share_pct")));

    // A heat pump's compressor at its rating point (COP 3.4), 3.4 kWh of heat
    // a minute: 1 kWh of electricity, at the peak price from 16:00 on
    // weekdays only.
    struct Tou {
        int64_t from;
        double price;
    } tou[] = {{15 * 3600, 0.12},
               {16 * 3600, 0.30},
               {20 * 3600 + 59 * 60, 0.30},
               {21 * 3600, 0.12},
               {5 * 86400 + 16 * 3600, 0.12}};
    for (const Tou &t : tou) {
        auto compressor = [](int, TraceRow &r) { r.energyKj[RELAY_Y1] = 3.4 * 3600.0; };
        StudyFigures hp = figures(trace(t.from, 1, 20.0, compressor), true, HVAC_STATE_HEAT);
        EXPECT_NEAR(value(hp, "cost_tou_day"), 24.0 * 60.0 * t.price, 1e-9) << t.from;
        EXPECT_NEAR(value(hp, "electric_kwh"), 1.0, 1e-9);
        EXPECT_NEAR(value(hp, "peak_kw"), 0.0, 1e-9); // no whole quarter hour
    }
}

TEST(StudyFigures, HeatPumpAuxiliaryHeatByOutdoorTemperature) {
    ScopedTimeZone utc("UTC");
    // Resistance heat of 1 kWh a minute at outdoor temperatures around the
    // balance point (-1 C) and the bins' edges, the compressor 3.4 kWh of
    // heat at 8.3 C.
    const double outdoor[] = {-15.01, -15.0, -1.0, -0.99, 5.0, 8.3};
    auto fill = [&outdoor](int m, TraceRow &r) {
        r.outdoor = outdoor[m - 1];
        r.energyKj[RELAY_W1E] = m < 6 ? 3600.0 : 0.0;
        r.energyKj[RELAY_Y1] = m == 6 ? 3.4 * 3600.0 : 0.0;
    };
    StudyFigures f = figures(trace(0, 6, 20.0, fill), true, HVAC_STATE_HEAT);
    EXPECT_NEAR(value(f, "aux_kwh"), 5.0, 1e-9);
    EXPECT_NEAR(value(f, "aux_above_balance_kwh"), 2.0, 1e-9);
    EXPECT_NEAR(value(f, "aux_share_pct"), 500.0 / 6.0, 1e-9);
    EXPECT_NEAR(value(f, "aux_kwh_below_m15c"), 1.0, 1e-9);
    EXPECT_NEAR(value(f, "aux_kwh_m15c_m10c"), 1.0, 1e-9);
    EXPECT_NEAR(value(f, "aux_kwh_m5c_0c"), 2.0, 1e-9);
    EXPECT_NEAR(value(f, "aux_kwh_above_5c"), 1.0, 1e-9);
    // Emergency heat is neither auxiliary heat nor above the balance point.
    StudyFigures e = figures(trace(0, 6, 20.0, fill), true, HVAC_STATE_EMERGENCY_HEAT);
    EXPECT_NEAR(value(e, "emergency_kwh"), 5.0, 1e-9);
    EXPECT_NEAR(value(e, "aux_kwh"), 0.0, 1e-9);
    EXPECT_NEAR(value(e, "aux_above_balance_kwh"), 0.0, 1e-9);
}

TEST(StudyFigures, ProtectionCountsAndTheWarmup) {
    ScopedTimeZone utc("UTC");
    struct Case {
        const char *log;
        double warmupMinutes;
        double shortRuns, shortOff, y1Starts;
    } cases[] = {
        // Y1 runs of exactly 180 s and 179 s; off for exactly 300 s and 299 s.
        {"0 1 0\n60000 1 1\n240000 1 0\n540000 1 1\n719000 1 0\n1018000 1 1\n", 0, 1, 1, 3},
        // The first state and the first change only start the count.
        {"60000 1 1\n100000 1 0\n", 0, 0, 0, 1},
        // A short run before the end of the warm-up is left out.
        {"60000 1 1\n240000 1 0\n300000 1 1\n310000 1 0\n600000 1 1\n610000 1 0\n", 6, 1, 0, 1},
    };
    for (const Case &c : cases) {
        std::istringstream in(c.log);
        std::vector<RelayEvent> events;
        std::string error;
        ASSERT_TRUE(parseRelayLog(in, events, error)) << error;
        StudyFigures f =
            figures(trace(0, 60, 20.0), true, HVAC_STATE_HEAT, events, c.warmupMinutes / 60.0);
        ASSERT_TRUE(f.ok) << f.error;
        EXPECT_EQ(value(f, "short_runs"), c.shortRuns) << c.log;
        EXPECT_EQ(value(f, "short_compressor_off"), c.shortOff) << c.log;
        EXPECT_EQ(value(f, "y1_starts"), c.y1Starts) << c.log;
    }
    std::istringstream in("60000 1 1\n240000 1 0\n1140000 1 1\n1200000 1 0\n");
    std::vector<RelayEvent> events;
    std::string error;
    ASSERT_TRUE(parseRelayLog(in, events, error));
    StudyFigures f = figures(trace(0, 60, 20.0), true, HVAC_STATE_HEAT, events);
    EXPECT_NEAR(value(f, "shortest_start_gap_min"), 18.0, 1e-9);
    EXPECT_EQ(value(f, "worst_hour_starts"), 2.0);
    EXPECT_EQ(value(f, "cycles"), 2.0);
    EXPECT_FALSE(figures(trace(0, 60, 20.0), true, HVAC_STATE_HEAT, {}, 1.0).ok);
}

TEST(StudyFigures, RecoveryMeanBesideTheMissedOnes) {
    ScopedTimeZone utc("UTC");
    // Sleep, then Wake at minute 10 (reached at minute 40), Leave at 60,
    // Return at 120 never reached before Sleep at 150.
    auto program = [](int m, TraceRow &r) {
        r.setpoints.valid = true;
        r.controlled = true;
        r.setpoints.period = m < 10    ? sim::PeriodKind::Sleep
                             : m < 60  ? sim::PeriodKind::Wake
                             : m < 120 ? sim::PeriodKind::Leave
                             : m < 150 ? sim::PeriodKind::Return
                                       : sim::PeriodKind::Sleep;
        r.bandLow = 20.5;
        r.bandHigh = 26.0;
        r.indoor = (m >= 40 && m < 60) ? 21.0 : 19.0;
    };
    StudyFigures f = figures(trace(0, 180, 19.0, program), false, HVAC_STATE_HEAT);
    EXPECT_NEAR(value(f, "recovery_mean_min"), 31.0, 1e-9);
    EXPECT_NEAR(value(f, "recovery_missed"), 1.0, 1e-9);
}

TEST(StudyFigures, SavingsAgainstThePairedBaseline) {
    // Two settings (program, constant) of one house for two seeds; the
    // baseline of seed 6 failed.
    std::vector<sim::StudyRun> runs(4);
    std::vector<StudyFigures> f(4);
    for (size_t i = 0; i < 4; i++) {
        runs[i].variant[sim::AXIS_SETTING] = static_cast<int>(i % 2);
        runs[i].baseline = i % 2 == 1;
        runs[i].seed = i < 2 ? 5 : 6;
        runs[i].days = 2;
        f[i].ok = i != 3;
        f[i].values.assign(sim::studyFigures().size(), 0.0);
        f[i].values[at("runtime_h")] = i % 2 == 0 ? 3.0 : 4.0;
        f[i].values[at("electric_kwh")] = i % 2 == 0 ? 90.0 : 60.0;
        f[i].values[at("gas_kwh")] = 0.0;
        for (const char *key :
             {"runtime_saved_pct", "electric_saved_pct", "gas_saved_pct", "cost_saved_pct"}) {
            f[i].values[at(key)] = NAN;
        }
    }
    sim::addSavings(runs, &f);
    EXPECT_DOUBLE_EQ(f[0].values[at("runtime_saved_pct")], 25.0);
    EXPECT_DOUBLE_EQ(f[0].values[at("electric_saved_pct")], -50.0);
    EXPECT_TRUE(std::isnan(f[0].values[at("gas_saved_pct")])); // nothing burnt to save
    EXPECT_DOUBLE_EQ(f[1].values[at("runtime_saved_pct")], 0.0);
    EXPECT_TRUE(std::isnan(f[2].values[at("runtime_saved_pct")])); // its baseline failed
}

} // namespace
