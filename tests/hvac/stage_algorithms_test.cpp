// Stage algorithms of furnaces, air-conditioners and heat pumps, and the
// humidity, fan and off decisions, band by band.
#include "hvac_test_support.h"

#include <cstring>

namespace {

void heat(HvacAlgFunc alg, double t, const TstatSetPoint_t &sp, double outdoor = 10.0) {
    alg(fx(t), fx(45.0), fx(outdoor), &sp);
}

// Runs the algorithm at each indoor temperature (and outdoor, 10 by default)
// in turn; the equipment relays O/B, Y1, Y2, W1/E, W2 after each run (four
// characters leave O/B out).
struct Step {
    double indoor;
    const char *stages;
    double outdoor = 10.0;
};
class StageAlgorithms : public HvacTest {
  protected:
    void expectSteps(HvacAlgFunc alg, const TstatSetPoint_t &sp,
                     std::initializer_list<Step> steps) {
        for (const Step &s : steps) {
            heat(alg, s.indoor, sp, s.outdoor);
            std::string now = stages();
            EXPECT_EQ(strlen(s.stages) == 4 ? now.substr(1) : now, s.stages)
                << s.indoor << " indoors, " << s.outdoor << " out";
        }
    }
};

TEST_F(StageAlgorithms, OneHeatStageHasHysteresisBetweenOnAndOff) {
    // A one-stage furnace, and a heat pump's emergency heat on W1/E alone.
    for (HvacAlgFunc alg : {systemHeatOneFrncAcAlg, systemEmergHeatHpAlg}) {
        RlyCntl_Reset();
        RlyCntl_SetY1(1); // left from cooling
        expectSteps(alg, sp,
                    {{19.5, "00000"}, // a cold start inside the band stays off
                     {19.24, "00010"},
                     {20.0, "00010"},
                     {20.25, "00000"},
                     {19.25, "00000"}});
    }
}

TEST_F(StageAlgorithms, TwoHeatStagesDropTheSecondStageNearTheSetpoint) {
    expectSteps(systemHeatTwoFrncAcAlg, sp,
                {
                    {18.0, "00011"},
                    {19.5, "00011"},
                    {19.75, "00010"},
                    {19.0, "00010"}, // first stage band: W2 holds off
                    {20.25, "00000"},
                    {18.5, "00010"},
                });
}

TEST_F(StageAlgorithms, CoolingStagesForAirConditionersAndHeatPumps) {
    for (HvacAlgFunc alg : {systemCoolTwoFrncAcAlg, systemCoolTwoHpAlg}) {
        RlyCntl_Reset();
        expectSteps(alg, sp,
                    {{24.74, "0000"},
                     {24.75, "1000"},
                     {25.75, "1100"},
                     {24.25, "1100"},
                     {24.24, "1000"},
                     {23.75, "1000"},
                     {23.74, "0000"}});
        EXPECT_EQ(RlyCntl_GetOBnot(), alg == systemCoolTwoHpAlg ? 1u : 0u);
    }
    for (HvacAlgFunc alg : {systemCoolOneFrncAcAlg, systemCoolOneHpAlg}) {
        RlyCntl_Reset();
        expectSteps(alg, sp, {{24.5, "0000"}, {30.0, "1000"}, {23.8, "1000"}, {23.7, "0000"}});
        EXPECT_EQ(RlyCntl_GetOBnot(), alg == systemCoolOneHpAlg ? 1u : 0u);
    }
}

TEST_F(StageAlgorithms, CutOffTemperaturesRunTheOffAlgorithm) {
    RlyCntl_SetW1E(1);
    RlyCntl_SetHum(1);
    heat(systemHeatTwoFrncAcAlg, 34.5, sp);
    EXPECT_EQ(relays(), "0000000000");
    heat(systemHeatOneHpAlg, 34.01, sp);
    EXPECT_EQ(relays(), "0000000000");
    heat(systemHeatTwoFrncAcAlg, 34.0, sp);
    EXPECT_EQ(stages(), "00000");
    RlyCntl_SetY1(1);
    heat(systemCoolTwoFrncAcAlg, 4.0, sp);
    EXPECT_EQ(relays(), "0000000000");
}

TEST_F(StageAlgorithms, TwoStageHeatPumpSwitchesOverToTheFurnaceLaw) {
    cfg.systemType = SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
    init();
    RlyCntl_SetOBnot(1); // left from cooling
    expectSteps(systemHeatTwoHpAlg, sp,
                {
                    {19.0, "01000"},
                    {19.8, "01000"},
                    {20.25, "00000"},
                });

    // Through the frame's mode dispatch, after the switch-over time.
    RlyCntl_Reset();
    heat(systemHeatTwoHpAlg, 18.0, sp);
    const struct {
        uint32_t afterMs;
        double indoor;
        const char *stages;
    } runs[] = {
        {30 * 60 * 1000, 18.0, "01100"}, // not yet past the deadline
        {1000, 18.0, "01100"},
        {0, 18.0, "00011"},      // from now on the two-stage furnace law, on W1/E and W2
        {0, 20.3, "00000"},      // satisfied: back to heat-pump control
        {300000, 19.0, "01000"}, // after the compressor's minimum off time
    };
    for (const auto &r : runs) {
        platformFakeClockAdvanceMs(r.afterMs);
        hvacRunModeAlgorithm(HVAC_STATE_HEAT, fx(r.indoor), fx(45), fx(10), &sp);
        EXPECT_EQ(stages(), r.stages) << r.indoor;
    }
}

TEST_F(StageAlgorithms, HeatPumpUsesAuxiliaryHeatBelowTheBalancePoint) {
    cfg.systemType = SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
    settings.fossilFuelType = FOSSIL_FUEL_GAS;
    init();
    // With the wall clock unreadable no hand-over is timed.
    platformFakeClockSetWall(-1);
    expectSteps(systemHeatTwoHpAlg, sp, {{18.0, "00011", 1.0}});
    platformFakeClockSetWall(1700000000);
    // Exactly at the balance point the compressor may run.
    expectSteps(systemHeatTwoHpAlg, sp,
                {
                    {18.0, "00011", 1.0},
                    {19.0, "01001", 2.0},
                    {18.0, "00011", 1.0},
                });
    // Gas auxiliary: after more than 60 s of W2 the furnace heats alone.
    platformFakeClockAdvanceMs(60000);
    expectSteps(systemHeatTwoHpAlg, sp, {{18.0, "00011", 1.0}});
    platformFakeClockAdvanceMs(1000);
    expectSteps(systemHeatTwoHpAlg, sp,
                {
                    {18.0, "00001", 1.0},
                    {19.0, "00001", 5.0},
                    {20.25, "00000", 5.0},
                });
    platformFakeClockAdvanceMs(300000); // the compressor's minimum off time
    expectSteps(systemHeatTwoHpAlg, sp, {{19.0, "01000", 5.0}});
}

TEST_F(StageAlgorithms, OneStageHeatPumpRecoversOnAuxiliaryHeat) {
    cfg.systemType = SYSTEM_TYPE_ONE_STG_HEAT_PUMP;
    init();
    expectSteps(systemHeatOneHpAlg, sp,
                {
                    {17.0, "00010"},
                    {19.0, "00010"}, // still recovering
                    {19.25, "01000"},
                    {19.5, "01000"},
                    {20.25, "00000"},
                    {18.5, "00010", -5.0}, // below the balance point
                });
}

TEST_F(StageAlgorithms, HumidifierAndDehumidifierBandsNeverOverlap) {
    humidifyState = HUMIDIFY_STATE_AUTO;
    init();
    // Humidify at or below the setpoint less 5 %, dehumidify at or above
    // the setpoint plus 5 %; DEH, HUM after each run. A humidifier turn-on
    // later in the same run clears DEH.
    const struct {
        void (*alg)(fpr_t, fpr_t);
        double rh, setpoint;
        const char *dehHum;
    } runs[] = {
        {systemHumidifyAlg, 35.01, 40, "00"},  {systemHumidifyAlg, 35, 40, "01"},
        {systemHumidifyAlg, 39.9, 40, "01"},   {systemHumidifyAlg, 40, 40, "00"},
        {systemDehumidifyAlg, 54.9, 50, "00"}, {systemDehumidifyAlg, 55, 50, "10"},
        {systemDehumidifyAlg, 50.1, 50, "10"}, {systemDehumidifyAlg, 50, 50, "00"},
        {systemHumidifyAlg, 30, 40, "01"},     {systemDehumidifyAlg, 60, 50, "10"},
    };
    for (const auto &r : runs) {
        r.alg(fx(r.rh), fx(r.setpoint));
        EXPECT_EQ(relays().substr(5, 2), r.dehHum) << r.rh << " / " << r.setpoint;
    }
    // A sensor switched off stops both, the running dehumidifier too.
    cfg.humiditySensor = SENSOR_OFF;
    init();
    systemDehumidifyAlg(fx(60), fx(50));
    systemHumidifyAlg(fx(10), fx(40));
    EXPECT_EQ(relays().substr(5, 2), "00");
    // Only the installed equipment runs.
    cfg.humiditySensor = SENSOR_ON;
    humidifyState = HUMIDIFY_STATE_HUMIDIFY;
    init();
    systemDehumidifyAlg(fx(90), fx(50));
    EXPECT_EQ(RlyCntl_GetDeh(), 0u);
}

TEST_F(StageAlgorithms, FanFollowsEquipmentSettingAndFuel) {
    // Fan speed medium: while equipment runs the fan runs, except that a gas
    // furnace heating runs its own blower; a heat pump's auxiliary heat is no
    // furnace, but its emergency heat is. Set On, the fan always runs.
    const struct {
        HvacAlgFunc alg;
        FossilFuelType fuel;
        FanState fan;
        double indoor, outdoor;
        FanSpeed speed;
    } cases[] = {
        {systemHeatOneFrncAcAlg, FOSSIL_FUEL_GAS, FAN_STATE_AUTO, 18.0, 10.0, FAN_SPEED_OFF},
        {systemHeatTwoFrncAcAlg, FOSSIL_FUEL_GAS, FAN_STATE_AUTO, 18.0, 10.0, FAN_SPEED_OFF},
        {systemHeatTwoFrncAcAlg, FOSSIL_FUEL_ELECTRIC, FAN_STATE_AUTO, 18.0, 10.0,
         FAN_SPEED_MEDIUM},
        {systemHeatOneHpAlg, FOSSIL_FUEL_GAS, FAN_STATE_AUTO, 17.0, 10.0, FAN_SPEED_MEDIUM},
        {systemHeatTwoHpAlg, FOSSIL_FUEL_GAS, FAN_STATE_AUTO, 17.0, 1.0, FAN_SPEED_MEDIUM},
        {systemHeatTwoHpAlg, FOSSIL_FUEL_GAS, FAN_STATE_AUTO, 18.5, 1.0, FAN_SPEED_MEDIUM},
        {systemHeatTwoHpGRcvrAlg, FOSSIL_FUEL_GAS, FAN_STATE_AUTO, 17.0, 1.0, FAN_SPEED_MEDIUM},
        {systemEmergHeatHpAlg, FOSSIL_FUEL_GAS, FAN_STATE_AUTO, 18.0, 10.0, FAN_SPEED_OFF},
        {systemEmergHeatHpAlg, FOSSIL_FUEL_ELECTRIC, FAN_STATE_AUTO, 18.0, 10.0, FAN_SPEED_MEDIUM},
        {systemCoolOneHpAlg, FOSSIL_FUEL_GAS, FAN_STATE_AUTO, 26.0, 10.0, FAN_SPEED_MEDIUM},
        {systemHeatTwoFrncAcAlg, FOSSIL_FUEL_ELECTRIC, FAN_STATE_AUTO, 21.0, 10.0, FAN_SPEED_OFF},
        {systemOffAlg, FOSSIL_FUEL_ELECTRIC, FAN_STATE_ON, 18.0, 10.0, FAN_SPEED_MEDIUM},
    };
    for (const auto &c : cases) {
        resetModules<Layer::Hvac>();
        settings.fossilFuelType = c.fuel;
        settings.fanState = c.fan;
        settings.fanSpeed = FAN_SPEED_MEDIUM;
        init();
        heat(c.alg, c.indoor, sp, c.outdoor);
        EXPECT_EQ(RlyCntl_GetFanSpeed(), static_cast<uint32_t>(c.speed))
            << c.indoor << " " << c.fuel << " " << c.fan;
    }
    // In automatic mode the frame's call never leaves the blower to the furnace.
    settings.fossilFuelType = FOSSIL_FUEL_GAS;
    settings.fanState = FAN_STATE_AUTO;
    init();
    RlyCntl_SetW1E(1);
    systemFanControlAlg(0, HVAC_STATE_AUTO);
    EXPECT_EQ(RlyCntl_GetFanSpeed(), static_cast<uint32_t>(FAN_SPEED_MEDIUM));
}

} // namespace
