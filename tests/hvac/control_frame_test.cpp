// The HVAC control frame: algorithm period, indoor-temperature correction,
// cycle rate, the humidifier wait before cooling, automatic changeover and
// the algorithm table.
#include "hvac_test_support.h"

#include "config/temp_scale.h"

namespace {

using ControlFrame = HvacTest;

constexpr uint64_t MINUTE_MS = 60 * 1000;

// One run of the frame at indoor temperature t (humidity 45 %).
void run(double t, const TstatSetPoint_t &sp, double humidity = 45.0) {
    hvacAlgorithmCntl(fx(t), fx(humidity), fx(10.0), &sp);
}

TEST_F(ControlFrame, RunsOncePerPeriodAndOnlyWithARoomTemperature) {
    cfg.systemType = SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
    settings.fossilFuelType = FOSSIL_FUEL_GAS;
    init();
    TstatSetPoint_t hold = sp;
    setHoldThermostatSettings(&hold);
    setThermostatMode(TSTAT_MODE_PERMANENT_HOLD);
    setMovAvgIndTemp(fx(10.0));
    platformFakeClockAdvanceMs(14000);
    EXPECT_EQ(hvacExecuteAlgorithm(15), 0);
    platformFakeClockAdvanceMs(1000);
    EXPECT_EQ(hvacExecuteAlgorithm(15), 1);
    // Before any bus data the weather store's outdoor 0 is below the balance
    // point (2.0): the heat pump heats on its auxiliary heat, and runs the
    // fan for it although that heat is gas.
    EXPECT_EQ(relays(), "0001100100");
    EXPECT_EQ(hvacExecuteAlgorithm(15), 0);
    // The same equipment as a gas furnace runs its own blower.
    cfg.systemType = SYSTEM_TYPE_TWO_STG_FURNACE;
    init();
    run(10.0, sp);
    EXPECT_EQ(relays(), "0001100000");

    // A configuration change every 10 s keeps postponing the run.
    for (int i = 0; i < 10; i++) {
        platformFakeClockAdvanceMs(10000);
        initialiseHvacAlgorithms();
        EXPECT_EQ(hvacExecuteAlgorithm(15), 0);
    }
    // A clock set back re-stamps the period instead of running.
    platformFakeClockSetWall(1700000000 - 3600);
    EXPECT_EQ(hvacExecuteAlgorithm(15), 0);
    platformFakeClockAdvanceMs(15000);
    EXPECT_EQ(hvacExecuteAlgorithm(15), 1);
    // A clock that cannot be read runs nothing.
    platformFakeClockAdvanceMs(15000);
    platformFakeClockSetWall(-1);
    EXPECT_EQ(hvacExecuteAlgorithm(15), 0);
    platformFakeClockSetWall(1700000000 + 3600);

    // Before any temperature reading nothing is decided (0 degrees would
    // otherwise call for heat without end).
    RlyCntl_Reset();
    dataDictReset();
    platformFakeClockAdvanceMs(15000);
    EXPECT_EQ(hvacExecuteAlgorithm(15), 0);
    EXPECT_EQ(stages(), "00000");
}

TEST_F(ControlFrame, CycleRateDelaysARestartOnlyAfterAShortCycle) {
    setCycleRate(3); // 20-minute cycle period
    cfg.systemType = SYSTEM_TYPE_ONE_STG_FURNACE;
    init();
    // A 5-minute heating cycle from t = 0, runs every 15 s.
    uint64_t t = 0;
    auto step = [&](double temp) {
        run(temp, sp);
        platformFakeClockAdvanceMs(15000);
        t += 15000;
    };
    while (t < 5 * MINUTE_MS) {
        step(18.0);
    }
    EXPECT_EQ(stages(), "00010");
    while (t < 10 * MINUTE_MS) {
        step(20.5);
    }
    EXPECT_EQ(stages(), "00000");
    // A new call for heat at 10 minutes waits for the cycle period; the fan
    // set On runs meanwhile.
    while (t <= 20 * MINUTE_MS) {
        step(18.0);
        EXPECT_EQ(relays(), "0000000000") << t;
    }
    settings.fanState = FAN_STATE_ON;
    init();
    run(18.0, sp);
    EXPECT_EQ(relays(), "0000000100");
    step(18.0);
    step(18.0);
    EXPECT_EQ(stages(), "00010");
    // A cycle longer than the period may be followed by another at once.
    while (t < 46 * MINUTE_MS) {
        step(18.0);
    }
    step(20.5);
    EXPECT_EQ(stages(), "00000");
    step(20.5);
    step(18.0);
    EXPECT_EQ(stages(), "00010");
}

TEST_F(ControlFrame, CoolingWaitsAfterTheHumidifierIsStopped) {
    settings.hvacState = HVAC_STATE_COOL;
    humidifyState = HUMIDIFY_STATE_HUMIDIFY;
    init();
    run(22.0, sp, 30.0);
    EXPECT_EQ(RlyCntl_GetHum(), 1u);
    platformFakeClockAdvanceMs(15000);
    run(26.0, sp, 30.0); // cooling called: everything stops, the fan keeps running
    EXPECT_EQ(relays(), "0000000100");
    uint64_t waited = 0;
    while (waited < 300000) {
        platformFakeClockAdvanceMs(15000);
        waited += 15000;
        run(26.0, sp, 30.0);
        EXPECT_EQ(stages(), "00000") << waited;
    }
    platformFakeClockAdvanceMs(15000);
    run(26.0, sp, 30.0); // the wait is seen to end: cooling may start next run
    EXPECT_EQ(stages(), "00000");
    platformFakeClockAdvanceMs(15000);
    run(26.0, sp, 30.0);
    EXPECT_EQ(stages(), "01100");
    // While cooling runs the humidifier stays off.
    EXPECT_EQ(RlyCntl_GetHum(), 0u);
}

TEST_F(ControlFrame, AutomaticModeChangesOverWhenIdle) {
    settings.hvacState = HVAC_STATE_AUTO;
    init();
    EXPECT_EQ(hvacAlgorithmGetAutoSystemMode(), static_cast<uint32_t>(HVAC_STATE_OFF));
    run(25.0, sp); // idle at 25: cooling is chosen
    EXPECT_EQ(hvacAlgorithmGetAutoSystemMode(), static_cast<uint32_t>(HVAC_STATE_COOL));
    EXPECT_EQ(stages(), "00000");
    platformFakeClockAdvanceMs(15000);
    run(25.0, sp);
    EXPECT_EQ(stages(), "01000");
    EXPECT_EQ(hvacAlgorithmGetCurrentSytemMode(), static_cast<uint32_t>(HVAC_STATE_COOL));
    platformFakeClockAdvanceMs(21 * MINUTE_MS);
    run(22.0, sp); // satisfied and between the setpoints: idle
    EXPECT_EQ(hvacAlgorithmGetAutoSystemMode(), static_cast<uint32_t>(HVAC_STATE_OFF));
    EXPECT_EQ(stages(), "00000");
    platformFakeClockAdvanceMs(21 * MINUTE_MS);
    run(20.25, sp); // at heat setpoint + margin: heating is chosen
    EXPECT_EQ(hvacAlgorithmGetAutoSystemMode(), static_cast<uint32_t>(HVAC_STATE_HEAT));
    platformFakeClockAdvanceMs(15000);
    run(18.0, sp);
    EXPECT_EQ(stages(), "00011");
    EXPECT_EQ(hvacAlgorithmGetCurrentSytemMode(), static_cast<uint32_t>(HVAC_STATE_HEAT));
}

TEST_F(ControlFrame, AlgorithmTableFollowsTheSystemTypeAndRejectsBadValues) {
    // Floor heat heats with two stages and cools with one; an unknown system
    // type or system mode behaves as off (a relay left on is opened); only
    // heat pumps have emergency heat.
    const struct {
        uint32_t system, mode;
        double indoor;
        const char *stages;
    } cases[] = {
        {SYSTEM_TYPE_FLOOR_HEAT, HVAC_STATE_HEAT, 18.0, "00011"},
        {SYSTEM_TYPE_FLOOR_HEAT, HVAC_STATE_COOL, 30.0, "01000"},
        {7, HVAC_STATE_HEAT, 10.0, "00000"},
        {0xFFFFFFFF, HVAC_STATE_HEAT, 10.0, "00000"},
        {SYSTEM_TYPE_ONE_STG_FURNACE, 9, 10.0, "00000"},
        {SYSTEM_TYPE_ONE_STG_FURNACE, HVAC_STATE_EMERGENCY_HEAT, 10.0, "00000"},
        {SYSTEM_TYPE_ONE_STG_HEAT_PUMP, HVAC_STATE_EMERGENCY_HEAT, 10.0, "00010"},
    };
    for (const auto &c : cases) {
        RlyCntl_Reset();
        hvacControlReset();
        cfg.systemType = static_cast<SystemType>(c.system);
        settings.hvacState = static_cast<HvacState>(c.mode);
        init();
        RlyCntl_SetW1E(c.indoor > 15 ? 0 : 1);
        run(c.indoor, sp);
        EXPECT_EQ(stages(), c.stages) << c.system << " " << c.mode;
    }
    // The mode that equipment runs in: any heat relay or the compressor in
    // heat, a compressor stage in cool, W1/E in emergency heat.
    const struct {
        HvacState mode;
        const char *stages;
        HvacState running;
    } running[] = {
        {HVAC_STATE_HEAT, "01000", HVAC_STATE_HEAT},
        {HVAC_STATE_HEAT, "00010", HVAC_STATE_HEAT},
        {HVAC_STATE_HEAT, "00001", HVAC_STATE_HEAT},
        {HVAC_STATE_HEAT, "00100", HVAC_STATE_OFF},
        {HVAC_STATE_COOL, "00100", HVAC_STATE_COOL},
        {HVAC_STATE_COOL, "00010", HVAC_STATE_OFF},
        {HVAC_STATE_EMERGENCY_HEAT, "00010", HVAC_STATE_EMERGENCY_HEAT},
        {HVAC_STATE_EMERGENCY_HEAT, "01000", HVAC_STATE_OFF},
        {static_cast<HvacState>(9), "01111", HVAC_STATE_OFF},
    };
    for (const auto &r : running) {
        RlyCntl_Reset();
        settings.hvacState = r.mode;
        init();
        void (*const set[])(uint32_t) = {RlyCntl_SetY1, RlyCntl_SetY2, RlyCntl_SetW1E,
                                         RlyCntl_SetW2};
        for (size_t i = 0; i < 4; i++) {
            set[i](r.stages[i + 1] == '1' ? 1 : 0);
        }
        EXPECT_EQ(hvacAlgorithmGetCurrentSytemMode(), static_cast<uint32_t>(r.running))
            << r.mode << " " << r.stages;
    }
}

TEST_F(ControlFrame, OffModeStillHumidifiesAndRunsTheFanForIt) {
    settings.hvacState = HVAC_STATE_OFF;
    humidifyState = HUMIDIFY_STATE_HUMIDIFY;
    init();
    run(15.0, sp, 20.0);
    EXPECT_EQ(relays(), "0000001100");
}

} // namespace
