// The thermostat controls simulated houses for a simulated day each: a
// two-stage furnace through an emergency stop, a heat pump below its balance
// point, a two-stage air-conditioner on a hot day, automatic changeover on a
// spring day with a 15 C swing, a humidifier in a leaky house in winter and
// a dehumidifier in a tight house in a humid summer. Each run's report is
// printed and its figures are held to what the control laws promise: comfort
// within bounds, equipment starts within the cycle rate, no compressor
// restart within 300 s, and a clean relay check.
#include "scenario.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <iostream>

namespace {

constexpr int O_B = RELAY_OB, Y1 = RELAY_Y1, Y2 = RELAY_Y2, W1E = RELAY_W1E, DEH = RELAY_DEH,
              HUM = RELAY_HUM;
// Start-up and the first smoothed readings.
constexpr double SETTLE_MINUTES = 30;
// The factory cycle rate: four equipment cycles an hour, a cycle period of
// 15 minutes counted from the start of a cycle, which the thermostat stamps
// at its next 15-second run. The report dates starts at the beginning of
// their pulse sequence; a loaded host may still hold up its first pulse.
constexpr unsigned CYCLE_RATE = 4;
constexpr double CYCLE_PERIOD_S = 15 * 60;
constexpr double PULSE_ALLOWANCE_S = 5;

const std::string c_Weather = TSTAT_SOURCE_DIR "/sim/weather/";

// What the control laws achieve in a scenario, with room for a loaded host.
struct Bounds {
    double discomfortPerOccupiedHour; // C h of discomfort per occupied hour, at most
    double minutesToBand;             // after each comfort period begins, at most
    bool everyPeriodReachesBand = true;
};

// What every run must show, whatever the house and the weather.
void expectControlLaws(const ScenarioResult &r, const Bounds &b, const RelayCheckOptions &options) {
    std::cout << r.reportText;
    const sim::Report &report = r.report;
    EXPECT_GT(report.occupied.hours, 1.0);
    double perHour = (report.occupied.belowKh + report.occupied.aboveKh) / report.occupied.hours;
    EXPECT_LE(perHour, b.discomfortPerOccupiedHour);
    for (const sim::ComfortStart &c : report.comfortStarts) {
        if (b.everyPeriodReachesBand || c.minutesToBand >= 0.0) {
            EXPECT_GE(c.minutesToBand, 0.0)
                << sim::periodName(c.period) << " never reached its band";
            EXPECT_LE(c.minutesToBand, b.minutesToBand) << sim::periodName(c.period);
        }
    }
    for (const sim::StageFigures &s : report.stages) {
        EXPECT_LE(s.mostInAnHour, CYCLE_RATE) << "relay " << s.relay;
    }
    if (report.cycles > 1) {
        EXPECT_GE(report.shortestCycleStartGapS, CYCLE_PERIOD_S - PULSE_ALLOWANCE_S);
    }
    if (report.shortestCompressorOffS >= 0.0) {
        EXPECT_GE(report.shortestCompressorOffS, 300.0);
    }
    EXPECT_EQ(safetyViolations(r, options), "");
}

// The humidity equipment on its relay must run whenever the air is at or past
// `on` (after the start-up) and be off whenever it is at or past `off`;
// humidify is true when low humidity calls for it.
void expectHumidityControl(const ScenarioResult &r, int relay, bool humidify, double on,
                           double off) {
    int called = 0;
    for (const sim::TraceRow &s : r.trace) {
        bool needed = humidify ? s.rh <= on : s.rh >= on;
        if (s.minute >= SETTLE_MINUTES && needed) {
            EXPECT_TRUE(closedAt(s, relay)) << "off while needed at " << describe(s);
            called++;
        }
        if (humidify ? s.rh >= off : s.rh <= off) {
            EXPECT_FALSE(closedAt(s, relay)) << "on while not needed at " << describe(s);
        }
    }
    EXPECT_GT(called, 0);
}

size_t closings(const ScenarioResult &r, int relay) {
    size_t n = 0;
    int state = -1;
    for (const RelayEvent &e : r.relayLog) {
        if (e.relay == relay) {
            n += (e.closed == 1 && state != 1) ? 1 : 0;
            state = e.closed;
        }
    }
    return n;
}

TEST(Scenario, FurnaceFollowsTheWeekdayProgramAndHoldsStillInAnEmergencyStop) {
    ScenarioSetup setup;
    setup.factory = {"--system", "two-stg-furnace"};
    setup.house = {"--house", "typical", "--outdoor", "10", "--swing", "4", "--indoor", "18"};
    // The line voltage sags for ten minutes at 02:30.
    setup.console = {{150, "voltage 480", "line voltage reading 480"},
                     {160, "voltage 600", "line voltage reading 600"}};
    ScenarioResult r = runScenario(setup);
    EXPECT_GE(closings(r, W1E), 4u);
    // A day's run dates its lines: its last instant is not taken for its first.
    EXPECT_NE(r.output.find("\n2026-12-08 00:00:00 tstat-sim: 24 simulated hours done"),
              std::string::npos)
        << r.output;

    RelayCheckOptions options;
    ASSERT_EQ(r.consoleMinutes.size(), 2u) << r.output;
    // The stop engages with the next report, within seconds; a sequence
    // under way may finish.
    options.estopWindows = {{static_cast<int64_t>(r.consoleMinutes[0] * 60000) + 5000,
                             static_cast<int64_t>(r.consoleMinutes[1] * 60000)}};
    expectControlLaws(r, {0.45, 120}, options);
}

TEST(Scenario, HeatPumpUsesAuxiliaryHeatBelowItsBalancePoint) {
    ScenarioSetup setup;
    setup.factory = {"--system", "two-stg-heat-pump", "--external-sensor", "outdoor"};
    setup.house = {"--house",  "typical",   "--equipment", "heatpump", "--aux",
                   "electric", "--outdoor", "-4",          "--swing",  "6"};
    ScenarioResult r = runScenario(setup);
    const double balancePoint = -1.0; // 30 F
    int auxBelow = 0;
    int compressorAbove = 0;
    for (const sim::TraceRow &s : r.trace) {
        EXPECT_FALSE(closedAt(s, O_B)) << "reversing valve in heating at " << describe(s);
        if (s.outdoor < balancePoint - 1.0) {
            EXPECT_FALSE(closedAt(s, Y1) || closedAt(s, Y2))
                << "compressor below the balance point at " << describe(s);
            auxBelow += closedAt(s, W1E) ? 1 : 0;
        }
        if (s.outdoor > balancePoint + 1.0) {
            compressorAbove += closedAt(s, Y1) ? 1 : 0;
        }
    }
    EXPECT_GT(auxBelow, 0);
    EXPECT_GT(compressorAbove, 0);
    RelayCheckOptions options;
    options.heatPump = true;
    expectControlLaws(r, {2.5, 300, false}, options);
}

TEST(Scenario, TwoStageAirConditionerOnAHotDay) {
    ScenarioSetup setup;
    setup.start = "2026-07-06 00:00";
    setup.factory = {"--system", "two-stg-furnace", "--mode", "cool"};
    setup.house = {"--house",  "typical", "--weather", c_Weather + "summer-heat.csv",
                   "--indoor", "27"};
    ScenarioResult r = runScenario(setup);
    EXPECT_GE(closings(r, Y1), 3u);
    EXPECT_GE(closings(r, Y2), 1u);
    EXPECT_EQ(closings(r, W1E), 0u);
    expectControlLaws(r, {1.3, 270}, {});
}

TEST(Scenario, AutomaticChangeoverOnASpringDay) {
    ScenarioSetup setup;
    // A Saturday in spring: heat in the cold morning, cool in the afternoon
    // sun after the weekend's Return at 16:00.
    setup.start = "2026-04-04 00:00";
    setup.factory = {"--system", "one-stg-furnace", "--mode", "auto"};
    setup.house = {"--house",  "typical", "--weather", c_Weather + "spring-swing.csv",
                   "--indoor", "20"};
    ScenarioResult r = runScenario(setup);
    EXPECT_GE(closings(r, W1E), 1u);
    EXPECT_GE(closings(r, Y1), 1u);
    expectControlLaws(r, {0.2, 75}, {});
}

TEST(Scenario, HumidifierInALeakyHouseInWinter) {
    ScenarioSetup setup;
    setup.hours = 12;
    setup.factory = {"--system", "one-stg-furnace", "--humidity", "both"};
    setup.house = {"--house",      "leaky", "--outdoor",   "-5",
                   "--outdoor-rh", "50",    "--indoor-rh", "25"};
    ScenarioResult r = runScenario(setup);
    EXPECT_GE(closings(r, HUM), 1u);
    EXPECT_EQ(closings(r, DEH), 0u);
    // Humidify setpoint 35 %: on at 30 % or below, off at 35 %. The house
    // may not reach the setpoint on a cold day, but the humidifier must run
    // whenever the air is dry and stop once it is not.
    expectHumidityControl(r, HUM, true, 28.0, 37.0);
    expectControlLaws(r, {1.6, 120}, {});
}

TEST(Scenario, DehumidifierInATightHouseInAHumidSummer) {
    ScenarioSetup setup;
    setup.hours = 12;
    setup.start = "2026-07-06 00:00";
    setup.factory = {"--system", "one-stg-furnace", "--mode", "cool", "--humidity", "both"};
    setup.house = {"--house",      "tight", "--outdoor",   "24", "--swing",  "3",
                   "--outdoor-rh", "95",    "--indoor-rh", "70", "--indoor", "25"};
    ScenarioResult r = runScenario(setup);
    EXPECT_GE(closings(r, DEH), 1u);
    EXPECT_EQ(closings(r, HUM), 0u);
    // Dehumidify setpoint 55 %: on at 60 % or above, off at 55 %.
    expectHumidityControl(r, DEH, false, 62.0, 53.0);
    expectControlLaws(r, {0.2, 60}, {});
}

} // namespace
