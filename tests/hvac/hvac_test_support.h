// Shared set-up of the HVAC control tests: a fresh configuration, relay
// driver and control frame on the fake clock, with the usual settings
// (margin 0.25, stage differentials 1.0, heat 20.0 and cool 24.0).
#pragma once

#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "core/fixed_point.h"
#include "hvac/hvac_control.h"
#include "hvac/hvac_internal.h"
#include "hvac/relay_control.h"
#include "platform/platform_test.h"

#include "board_root.h"
#include "fixed.h"
#include "modules.h"

#include <gtest/gtest.h>
#include <string>

class HvacTest : public ::testing::Test {
  protected:
    TempBoardRoot root;
    TstatHvacSettings_t settings{};
    TstatCfg_t cfg{};
    HumidifyState humidifyState = HUMIDIFY_STATE_OFF;
    TstatSetPoint_t sp{};

    void SetUp() override {
        platformFakeClockSet(1000, 0, 1700000000);
        resetModules<Layer::Hvac>();
        settings.fanState = FAN_STATE_AUTO;
        settings.fanSpeed = FAN_SPEED_LOW;
        settings.hvacState = HVAC_STATE_HEAT;
        settings.balancePoint = fx(2.0);
        settings.fossilFuelType = FOSSIL_FUEL_ELECTRIC;
        settings.humidityBandOffset = 0;
        settings.humidityHysteresis = fx(5.0);
        cfg.systemType = SYSTEM_TYPE_TWO_STG_FURNACE;
        cfg.setpointMargin = fx(0.25);
        cfg.firstStageDiff = fx(1.0);
        cfg.secondStageDiff = fx(1.0);
        cfg.deadband = fx(1.5);
        cfg.humiditySensor = SENSOR_ON;
        cfg.cycleRate = 4;
        cfg.heatPumpSwitchOverTime = 30;
        sp.heatSetPoint = fx(20.0);
        sp.coolSetPoint = fx(24.0);
        sp.humidifySetPoint = fx(40.0);
        sp.dehumidifySetPoint = fx(50.0);
        init();
    }
    void TearDown() override { resetModules<Layer::Hvac>(); }

    void init() { hvacAlgorithmInit(&settings, &cfg, humidifyState); }

    // O/B, Y1, Y2, W1/E, W2, DEH, HUM, G1, G2, G3 as a string of 0 and 1.
    static std::string relays() {
        uint32_t (*const getters[])() = {
            RlyCntl_GetOBnot, RlyCntl_GetY1,  RlyCntl_GetY2, RlyCntl_GetW1E, RlyCntl_GetW2,
            RlyCntl_GetDeh,   RlyCntl_GetHum, RlyCntl_GetG1, RlyCntl_GetG2,  RlyCntl_GetG3};
        std::string out;
        for (auto get : getters) {
            out += get() != 0 ? '1' : '0';
        }
        return out;
    }
    // The five equipment relays only: O/B, Y1, Y2, W1/E, W2.
    static std::string stages() { return relays().substr(0, 5); }
};
