// The house model: climate, gains, equipment driven by the contacts, and
// the humidity balance.
#include "house.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

using sim::House;
using sim::HouseParams;

std::array<char, sim::RELAY_COUNT> contacts(const std::string &ten) {
    std::array<char, sim::RELAY_COUNT> c;
    for (int i = 0; i < sim::RELAY_COUNT; i++) {
        c[i] = ten[i];
    }
    return c;
}

// Indoor temperature after an hour at noon with the given contacts.
double afterAnHour(HouseParams p, const std::string &relays, double *rh = nullptr) {
    House h(p);
    h.setRelays(contacts(relays));
    for (int minute = 0; minute < 60; minute++) {
        h.advance(60.0, 12.0 + minute / 60.0);
    }
    if (rh != nullptr) {
        *rh = h.indoorRh();
    }
    return h.indoor();
}

TEST(House, ClimateAndDrift) {
    HouseParams p;
    p.outdoorMean = 0.0;
    p.outdoorSwing = 6.0;
    p.solarPeak = 0.0;
    p.internalGain = 0.0;
    House h(p);
    EXPECT_NEAR(h.outdoorAt(15.0), 6.0, 1e-9);
    EXPECT_NEAR(h.outdoorAt(3.0), -6.0, 1e-9);
    EXPECT_NEAR(h.outdoorAt(9.0), 0.0, 1e-9);
    EXPECT_EQ(h.solarAt(2.0), 0.0);
    EXPECT_EQ(h.solarAt(19.0), 0.0);
    p.solarPeak = 1000.0;
    EXPECT_NEAR(House(p).solarAt(12.0), 1000.0, 1e-9);
    // With everything off, a warm house cools toward the outdoors, slowly.
    double start = h.indoor();
    for (int i = 0; i < 120; i++) {
        h.advance(60.0, 3.0);
    }
    EXPECT_LT(h.indoor(), start - 0.3);
    EXPECT_GT(h.indoor(), start - 5.0);
    EXPECT_LT(h.mass(), start);
    EXPECT_NEAR(h.outdoor(), -6.0, 1e-9);
    // Large steps are cut into small ones: same result as many small steps.
    House a(p), b(p);
    a.advance(3600.0, 12.0);
    for (int i = 0; i < 3600; i++) {
        b.advance(1.0, 11.0 + (i + 1) / 3600.0);
    }
    EXPECT_NEAR(a.indoor(), b.indoor(), 0.02);
}

TEST(House, FurnaceAndAirConditioner) {
    HouseParams p;
    double idle = afterAnHour(p, "0000000000");
    double stage1 = afterAnHour(p, "0001000000");
    double stage2 = afterAnHour(p, "0001100000");
    EXPECT_GT(stage1, idle + 2.0);
    EXPECT_GT(stage2, stage1 + 0.5);
    p.outdoorMean = 32.0;
    p.indoorStart = 26.0;
    double warmIdle = afterAnHour(p, "0000000000");
    double cooling = afterAnHour(p, "0100000100");
    double coolingNoFan = afterAnHour(p, "0100000000");
    double twoStages = afterAnHour(p, "0110000100");
    EXPECT_LT(cooling, warmIdle - 1.0);
    EXPECT_GT(coolingNoFan, cooling + 0.5);
    EXPECT_LT(twoStages, cooling - 0.3);
    // The furnace ignores the reversing valve and the fan's speed relays.
    EXPECT_NEAR(afterAnHour(p, "1000000000"), warmIdle, 1e-9);
    House h(p);
    h.setRelays(contacts("0001000100"));
    EXPECT_EQ(h.snapshot().activity, "heat 12.0 kW");
    EXPECT_TRUE(h.snapshot().fan);
}

TEST(House, HeatPumpDirectionCapacityAndAuxiliary) {
    HouseParams p;
    p.equipment = sim::Equipment::HeatPump;
    p.outdoorSwing = 0.0;
    double idle = afterAnHour(p, "0000000000");
    double heating = afterAnHour(p, "0100000100");
    double cooling = afterAnHour(p, "1100000100");
    EXPECT_GT(heating, idle + 1.0);
    EXPECT_LT(cooling, idle - 1.0);
    // Capacity falls with the outdoor temperature.
    EXPECT_GT(House::heatPumpHeatingFactor(10.0), House::heatPumpHeatingFactor(-10.0));
    EXPECT_EQ(House::heatPumpHeatingFactor(-25.0), 0.0);
    EXPECT_GT(House::heatPumpCoolingFactor(25.0), House::heatPumpCoolingFactor(40.0));
    HouseParams cold = p;
    cold.outdoorMean = -10.0;
    House mild(p), frozen(cold);
    mild.setRelays(contacts("0100000100"));
    frozen.setRelays(contacts("0100000100"));
    EXPECT_GT(mild.equipmentHeat(8.3), frozen.equipmentHeat(-10.0) + 2000.0);
    // Auxiliary heat adds to the compressor (electric) or replaces it (gas).
    House electric(p);
    electric.setRelays(contacts("0101000100"));
    HouseParams gasParams = p;
    gasParams.aux = sim::AuxHeat::Gas;
    House gas(gasParams);
    gas.setRelays(contacts("0101000100"));
    EXPECT_NEAR(electric.equipmentHeat(8.3) - gas.equipmentHeat(8.3), p.heatPumpStage1, 1.0);
    // 5 C outdoors: 6 kW x 0.9175 from the compressor and 7 kW of auxiliary heat.
    EXPECT_EQ(electric.snapshot().activity, "heat 12.5 kW");
}

TEST(House, Humidity) {
    HouseParams p;
    p.outdoorRh = 60.0;
    double fanRh, humRh, dehRh;
    afterAnHour(p, "0000000100", &fanRh);
    afterAnHour(p, "0000001100", &humRh);
    afterAnHour(p, "0000010100", &dehRh);
    EXPECT_GT(humRh, fanRh + 1.5);
    EXPECT_LT(dehRh, fanRh - 2.0);
    // Cooling removes moisture on a wet coil: the humidity ratio falls.
    HouseParams summer = p;
    summer.outdoorMean = 30.0;
    summer.outdoorSwing = 0.0;
    summer.indoorStart = 25.0;
    summer.indoorRhStart = 60.0;
    summer.latentShare = 0.0;
    House dry(summer);
    summer.latentShare = 0.3;
    House wet(summer);
    dry.setRelays(contacts("0100000100"));
    wet.setRelays(contacts("0100000100"));
    for (int i = 0; i < 60; i++) {
        dry.advance(60.0, 12.0);
        wet.advance(60.0, 12.0);
    }
    EXPECT_NEAR(dry.indoor(), wet.indoor(), 1e-9);
    EXPECT_LT(wet.indoorRh(), dry.indoorRh() - 2.0);
    // Setting values directly; humidity stays within 0 to 100.
    House h(p);
    h.setIndoorRh(150.0);
    EXPECT_LE(h.indoorRh(), 100.0);
    h.setIndoor(22.0);
    h.setIndoorRh(45.0);
    EXPECT_NEAR(h.indoorRh(), 45.0, 1e-6);
    EXPECT_NEAR(sim::rhFromHumidityRatio(20.0, sim::humidityRatioFromRh(20.0, 55.0)), 55.0, 1e-9);
}

} // namespace
