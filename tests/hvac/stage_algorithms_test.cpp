// Stage algorithms of furnaces, air-conditioners and heat pumps, and the
// humidity, fan and off decisions, band by band.
#include "hvac_test_support.h"

namespace {

using StageAlgorithms = HvacTest;

void heat(HvacAlgFunc alg, double t, const TstatSetPoint_t &sp, double outdoor = 10.0) {
    alg(deg(t), deg(45.0), deg(outdoor), &sp);
}

TEST_F(StageAlgorithms, OneHeatStageHasHysteresisBetweenOnAndOff) {
    heat(systemHeatOneFrncAcAlg, 19.5, sp); // a cold start inside the band stays off
    EXPECT_EQ(stages(), "00000");
    heat(systemHeatOneFrncAcAlg, 19.24, sp);
    EXPECT_EQ(stages(), "00010");
    heat(systemHeatOneFrncAcAlg, 20.0, sp);
    EXPECT_EQ(stages(), "00010");
    heat(systemHeatOneFrncAcAlg, 20.25, sp);
    EXPECT_EQ(stages(), "00000");
    heat(systemHeatOneFrncAcAlg, 19.25, sp);
    EXPECT_EQ(stages(), "00000");
}

TEST_F(StageAlgorithms, TwoHeatStagesDropTheSecondStageNearTheSetpoint) {
    heat(systemHeatTwoFrncAcAlg, 18.0, sp);
    EXPECT_EQ(stages(), "00011");
    heat(systemHeatTwoFrncAcAlg, 19.5, sp);
    EXPECT_EQ(stages(), "00011");
    heat(systemHeatTwoFrncAcAlg, 19.75, sp);
    EXPECT_EQ(stages(), "00010");
    heat(systemHeatTwoFrncAcAlg, 19.0, sp); // first stage band: W2 holds off
    EXPECT_EQ(stages(), "00010");
    heat(systemHeatTwoFrncAcAlg, 20.25, sp);
    EXPECT_EQ(stages(), "00000");
    heat(systemHeatTwoFrncAcAlg, 18.5, sp);
    EXPECT_EQ(stages(), "00010");
}

TEST_F(StageAlgorithms, CoolingStagesForAirConditionersAndHeatPumps) {
    struct Variant {
        HvacAlgFunc alg;
        const char *reversingValve;
    };
    for (Variant v : {Variant{systemCoolTwoFrncAcAlg, "0"}, Variant{systemCoolTwoHpAlg, "1"}}) {
        RlyCntl_Reset();
        std::string ob = v.reversingValve;
        heat(v.alg, 24.74, sp);
        EXPECT_EQ(stages(), ob + "0000");
        heat(v.alg, 24.75, sp);
        EXPECT_EQ(stages(), ob + "1000");
        heat(v.alg, 25.75, sp);
        EXPECT_EQ(stages(), ob + "1100");
        heat(v.alg, 24.25, sp);
        EXPECT_EQ(stages(), ob + "1100");
        heat(v.alg, 24.24, sp);
        EXPECT_EQ(stages(), ob + "1000");
        heat(v.alg, 23.75, sp);
        EXPECT_EQ(stages(), ob + "1000");
        heat(v.alg, 23.74, sp);
        EXPECT_EQ(stages(), ob + "0000");
    }
    for (HvacAlgFunc alg : {systemCoolOneFrncAcAlg, systemCoolOneHpAlg}) {
        RlyCntl_Reset();
        heat(alg, 24.5, sp);
        EXPECT_EQ(stages().substr(1), "0000");
        heat(alg, 30.0, sp);
        EXPECT_EQ(stages().substr(1), "1000");
        heat(alg, 23.8, sp);
        EXPECT_EQ(stages().substr(1), "1000");
        heat(alg, 23.7, sp);
        EXPECT_EQ(stages().substr(1), "0000");
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
    heat(systemHeatTwoHpAlg, 19.0, sp);
    EXPECT_EQ(stages(), "01000");
    heat(systemHeatTwoHpAlg, 19.8, sp);
    EXPECT_EQ(stages(), "01000");
    heat(systemHeatTwoHpAlg, 20.25, sp);
    EXPECT_EQ(stages(), "00000");

    RlyCntl_Reset();
    heat(systemHeatTwoHpAlg, 18.0, sp);
    EXPECT_EQ(stages(), "01100");
    platformFakeClockAdvanceMs(30 * 60 * 1000);
    hvacRunModeAlgorithm(HVAC_STATE_HEAT, deg(18.0), deg(45), deg(10), &sp);
    EXPECT_EQ(stages(), "01100"); // not yet past the deadline
    platformFakeClockAdvanceMs(1000);
    hvacRunModeAlgorithm(HVAC_STATE_HEAT, deg(18.0), deg(45), deg(10), &sp);
    EXPECT_EQ(stages(), "01100");
    // From now on heating is the two-stage furnace law, on W1/E and W2.
    hvacRunModeAlgorithm(HVAC_STATE_HEAT, deg(18.0), deg(45), deg(10), &sp);
    EXPECT_EQ(stages(), "00011");
    // Satisfied: back to heat-pump control.
    hvacRunModeAlgorithm(HVAC_STATE_HEAT, deg(20.3), deg(45), deg(10), &sp);
    EXPECT_EQ(stages(), "00000");
    platformFakeClockAdvanceMs(300000); // the compressor's minimum off time
    hvacRunModeAlgorithm(HVAC_STATE_HEAT, deg(19.0), deg(45), deg(10), &sp);
    EXPECT_EQ(stages(), "01000");
}

TEST_F(StageAlgorithms, HeatPumpUsesAuxiliaryHeatBelowTheBalancePoint) {
    cfg.systemType = SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
    settings.fossilFuelType = FOSSIL_FUEL_GAS;
    init();
    heat(systemHeatTwoHpAlg, 18.0, sp, 1.0);
    EXPECT_EQ(stages(), "00011");
    // Exactly at the balance point the compressor may run.
    heat(systemHeatTwoHpAlg, 19.0, sp, 2.0);
    EXPECT_EQ(stages(), "01001");
    heat(systemHeatTwoHpAlg, 18.0, sp, 1.0);
    EXPECT_EQ(stages(), "00011");
    // Gas auxiliary: after more than 60 s of W2 the furnace heats alone.
    platformFakeClockAdvanceMs(61000);
    heat(systemHeatTwoHpAlg, 18.0, sp, 1.0);
    EXPECT_EQ(stages(), "00001");
    heat(systemHeatTwoHpAlg, 19.0, sp, 5.0);
    EXPECT_EQ(stages(), "00001");
    heat(systemHeatTwoHpAlg, 20.25, sp, 5.0);
    EXPECT_EQ(stages(), "00000");
    platformFakeClockAdvanceMs(300000); // the compressor's minimum off time
    heat(systemHeatTwoHpAlg, 19.0, sp, 5.0);
    EXPECT_EQ(stages(), "01000");
}

TEST_F(StageAlgorithms, OneStageHeatPumpRecoversOnAuxiliaryHeat) {
    cfg.systemType = SYSTEM_TYPE_ONE_STG_HEAT_PUMP;
    init();
    heat(systemHeatOneHpAlg, 17.0, sp);
    EXPECT_EQ(stages(), "00010");
    heat(systemHeatOneHpAlg, 19.0, sp); // still recovering
    EXPECT_EQ(stages(), "00010");
    heat(systemHeatOneHpAlg, 19.25, sp);
    EXPECT_EQ(stages(), "01000");
    heat(systemHeatOneHpAlg, 19.5, sp);
    EXPECT_EQ(stages(), "01000");
    heat(systemHeatOneHpAlg, 20.25, sp);
    EXPECT_EQ(stages(), "00000");
    heat(systemHeatOneHpAlg, 18.5, sp, -5.0); // below the balance point
    EXPECT_EQ(stages(), "00010");
}

TEST_F(StageAlgorithms, EmergencyHeatRunsOnW1EAlone) {
    RlyCntl_SetY1(1);
    heat(systemEmergHeatHpAlg, 19.2, sp);
    EXPECT_EQ(stages(), "00010");
    heat(systemEmergHeatHpAlg, 20.0, sp);
    EXPECT_EQ(stages(), "00010");
    heat(systemEmergHeatHpAlg, 20.25, sp);
    EXPECT_EQ(stages(), "00000");
}

TEST_F(StageAlgorithms, HumidifierAndDehumidifierBandsNeverOverlap) {
    humidifyState = HUMIDIFY_STATE_AUTO;
    init();
    systemHumidifyAlg(deg(35.01), deg(40));
    EXPECT_EQ(RlyCntl_GetHum(), 0u);
    systemHumidifyAlg(deg(35), deg(40));
    EXPECT_EQ(RlyCntl_GetHum(), 1u);
    systemHumidifyAlg(deg(39.9), deg(40));
    EXPECT_EQ(RlyCntl_GetHum(), 1u);
    systemHumidifyAlg(deg(40), deg(40));
    EXPECT_EQ(RlyCntl_GetHum(), 0u);

    systemDehumidifyAlg(deg(54.9), deg(50));
    EXPECT_EQ(RlyCntl_GetDeh(), 0u);
    systemDehumidifyAlg(deg(55), deg(50));
    EXPECT_EQ(RlyCntl_GetDeh(), 1u);
    systemDehumidifyAlg(deg(50.1), deg(50));
    EXPECT_EQ(RlyCntl_GetDeh(), 1u);
    // A humidifier turn-on later in the same run clears DEH.
    systemHumidifyAlg(deg(30), deg(40));
    EXPECT_EQ(relays().substr(5, 2), "01");
    systemDehumidifyAlg(deg(60), deg(50));
    EXPECT_EQ(relays().substr(5, 2), "10");

    // Only the installed equipment runs; a sensor switched off stops both.
    humidifyState = HUMIDIFY_STATE_HUMIDIFY;
    init();
    systemDehumidifyAlg(deg(90), deg(50));
    EXPECT_EQ(RlyCntl_GetDeh(), 0u);
    cfg.humiditySensor = SENSOR_OFF;
    init();
    systemHumidifyAlg(deg(10), deg(40));
    EXPECT_EQ(relays().substr(5, 2), "00");
}

TEST_F(StageAlgorithms, FanFollowsEquipmentSettingAndFuel) {
    settings.fossilFuelType = FOSSIL_FUEL_GAS;
    init();
    RlyCntl_SetW1E(1);
    systemFanControlAlg(0, HVAC_STATE_HEAT);
    EXPECT_EQ(RlyCntl_GetFanSpeed(), static_cast<uint32_t>(FAN_SPEED_OFF));
    // In automatic mode the frame's call never leaves the blower to the furnace.
    systemFanControlAlg(0, HVAC_STATE_AUTO);
    EXPECT_EQ(RlyCntl_GetFanSpeed(), static_cast<uint32_t>(FAN_SPEED_LOW));
    settings.fossilFuelType = FOSSIL_FUEL_ELECTRIC;
    settings.fanSpeed = FAN_SPEED_MEDIUM;
    init();
    systemFanControlAlg(0, HVAC_STATE_HEAT);
    EXPECT_EQ(RlyCntl_GetFanSpeed(), static_cast<uint32_t>(FAN_SPEED_MEDIUM));
    RlyCntl_SetW1E(0);
    systemFanControlAlg(0, HVAC_STATE_HEAT);
    EXPECT_EQ(RlyCntl_GetFanSpeed(), static_cast<uint32_t>(FAN_SPEED_OFF));
    settings.fanState = FAN_STATE_ON;
    settings.fanSpeed = FAN_SPEED_HIGH;
    init();
    systemFanControlAlg(0, HVAC_STATE_OFF);
    EXPECT_EQ(relays().substr(7), "001");
}

} // namespace
