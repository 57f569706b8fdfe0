// The house model: each preset against the figures it is calibrated to,
// climate and weather files, the building controller's weather, equipment
// stages, the heat pump, and humidity.
#include "house/house.h"
#include "house/typical_year.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using sim::House;
using sim::HouseParams;
using sim::HousePreset;
using sim::WeatherDay;

std::array<char, RELAY_COUNT> contacts(const std::string &ten) {
    std::array<char, RELAY_COUNT> c;
    for (uint32_t i = 0; i < RELAY_COUNT; i++) {
        c[i] = ten[i];
    }
    return c;
}

// A preset without gains, in constant weather, the room and mass at start.
HouseParams still(HousePreset preset, double outdoor, double start) {
    HouseParams p = sim::housePreset(preset);
    p.outdoorMean = outdoor;
    p.outdoorSwing = 0.0;
    p.solarPeak = 0.0;
    p.internalGain = 0.0;
    p.indoorStart = start;
    return p;
}

// Indoor temperature after an hour with the given contacts, from hour 12.
double afterAnHour(HouseParams p, const std::string &relays, double *rh = nullptr) {
    House h(p);
    h.setRelays(contacts(relays));
    for (int minute = 0; minute < 60; minute++) {
        h.advance(60.0, 12.0 + (minute + 1) / 60.0);
    }
    if (rh != nullptr) {
        *rh = h.indoorRh();
    }
    return h.indoor();
}

// The ranges house.cpp states: time constant 15 to 60 hours; with the heat
// off at the heating design conditions the room drifts 0.5 to 2.4 C in the
// first hour; the furnace warms it from 17 C by 1 to 4 C in an hour at 0 C
// outdoors; at the cooling design conditions with full sun the air
// conditioner cools it from 26 C by 0.2 to 3 C in an hour.
TEST(House, PresetsAreCredible) {
    struct Case {
        HousePreset preset;
        double tauLo, tauHi;
    };
    const Case cases[] = {
        {HousePreset::Leaky, 15, 30}, {HousePreset::Typical, 15, 40}, {HousePreset::Tight, 40, 90}};
    for (const Case &c : cases) {
        SCOPED_TRACE(sim::housePresetName(c.preset));
        HouseParams p = sim::housePreset(c.preset);
        double tau = (p.airCapacity + p.massCapacity) / sim::steadyConductance(p) / 3600.0;
        EXPECT_GE(tau, c.tauLo);
        EXPECT_LE(tau, c.tauHi);

        double drift = 21.0 - afterAnHour(still(c.preset, p.designOutdoorHeat, 21.0), "0000000000");
        EXPECT_GE(drift, 0.5);
        EXPECT_LE(drift, 2.4);

        double warming = afterAnHour(still(c.preset, 0.0, 17.0), "0001000000") - 17.0;
        EXPECT_GE(warming, 1.0);
        EXPECT_LE(warming, 4.0);

        HouseParams summer = still(c.preset, p.designOutdoorCool, 26.0);
        summer.internalGain = p.internalGain;
        summer.solarPeak = p.solarAperture * p.designIrradiance;
        summer.indoorRhStart = 50.0;
        double cooling = 26.0 - afterAnHour(summer, "0100000100");
        EXPECT_GE(cooling, 0.2);
        EXPECT_LE(cooling, 3.0);
    }
    // The equipment follows the house: the leaky house needs the most.
    House leaky(sim::housePreset(HousePreset::Leaky));
    House tight(sim::housePreset(HousePreset::Tight));
    EXPECT_GT(leaky.params().furnaceW, 2.0 * tight.params().furnaceW);
    HousePreset parsed;
    EXPECT_TRUE(sim::parseHousePreset("tight", &parsed));
    EXPECT_EQ(parsed, HousePreset::Tight);
    EXPECT_FALSE(sim::parseHousePreset("drafty", &parsed));
}

TEST(House, WeatherFiles) {
    struct Bad {
        const char *text;
        const char *message;
    };
    const Bad bad[] = {
        {"1,0,50,0\n2,0,50,0\n", "t:1: the first hour must be 0"},
        {"0,0,50,0\n3,0,50,0\n3,1,50,0\n", "t:3: hours must ascend"},
        {"0,0,50,0\n3,60.5,50,0\n", "t:2: outdoor temperature 60.5 is outside -60 to 60"},
        {"0,0,100.1,0\n3,0,50,0\n", "t:1: relative humidity 100.1 is outside 0 to 100"},
        {"0,0,50,1501\n", "t:1: solar irradiance 1501 is outside 0 to 1500"},
        {"0,0,50,0\n3,0,50\n", "t:2: expected four numbers"},
        {"hour,temp,rh,solar\n0,0,50,0\n", "t: needs at least two rows"},
        {"0,0,50,0\nx,0,50,0\n", "t:2: expected four numbers"},
    };
    for (const Bad &b : bad) {
        WeatherDay w;
        std::string error;
        EXPECT_FALSE(w.parse(b.text, "t", &error)) << b.text;
        EXPECT_EQ(error.rfind(b.message, 0), 0u) << error;
    }
    // Edges accepted; a header and comments are skipped.
    WeatherDay w;
    std::string error;
    ASSERT_TRUE(w.parse("# a spell\nhour,outdoor,rh,solar\n0,-60,0,0\n"
                        "12,60,100,1500\n30, 0 ,50,0\n",
                        "t", &error))
        << error;
    EXPECT_EQ(w.period(), 48.0); // 30 hours round up to two days
    EXPECT_NEAR(w.at(6.0).temperature, 0.0, 1e-9);
    EXPECT_NEAR(w.at(6.0).solar, 750.0, 1e-9);
    EXPECT_NEAR(w.at(21.0).rh, 75.0, 1e-9);
    // Past the last row the file leads back to its first, then repeats.
    EXPECT_NEAR(w.at(39.0).temperature, -30.0, 1e-9);
    EXPECT_NEAR(w.at(54.0).temperature, 0.0, 1e-9);
    EXPECT_NEAR(w.at(-42.0).temperature, 0.0, 1e-9);

    // The day files shipped with the simulator all load.
    int shipped = 0;
    for (const auto &entry : std::filesystem::directory_iterator(TSTAT_SOURCE_DIR "/sim/weather")) {
        WeatherDay day;
        EXPECT_TRUE(day.load(entry.path().string(), &error)) << error;
        shipped++;
    }
    EXPECT_GE(shipped, 2);
}

// An EPW file's eight header lines and a row a hour of 12 and 13 January:
// dry bulb = the hour of the file, humidity 50 %, radiation 100, wind 3 m/s;
// change(line, fields) alters a row.
template <typename Change> std::string epw(Change change) {
    std::string text = "LOCATION,Test,MN,USA,TMY3,0,45.0,-93.0,-6.0,250\nDESIGN CONDITIONS,0\n"
                       "TYPICAL/EXTREME PERIODS,0\nGROUND TEMPERATURES,0\n"
                       "HOLIDAYS/DAYLIGHT SAVINGS,No,0,0,0\nCOMMENTS 1,\nCOMMENTS 2,\n"
                       "DATA PERIODS,1,1,Data,Monday,1/12,1/13\n";
    for (int i = 0; i < 48; i++) {
        std::vector<std::string> f(35, "0");
        f[1] = "1";
        f[2] = std::to_string(12 + i / 24);
        f[3] = std::to_string(i % 24 + 1);
        f[6] = std::to_string(i);
        f[8] = "50";
        f[13] = "100";
        f[21] = "3";
        change(9 + i, f);
        std::string row;
        for (const std::string &field : f) {
            row += (row.empty() ? "" : ",") + field;
        }
        text += row + "\n";
    }
    return text;
}

TEST(House, EpwFiles) {
    struct Bad {
        int line;
        size_t field; // set to value, or the row cut to `field` fields when value is null
        const char *value;
        const char *message;
    } bad[] = {
        {12, 20, nullptr, "e:12: 20 fields, not the 22 through the wind speed"},
        {10, 6, "99.9", "e:10: no dry bulb temperature (field 7)"},
        {11, 8, "999", "e:11: no relative humidity (field 9)"},
        {30, 21, "x", "e:30: no wind speed (field 22)"},
        {9, 3, "25", "e:9: no month, day and hour 1-24"},
        {20, 3, "13", "e:20: a gap: this row is hour 277 of the year, the row before hour 275"},
        {15, 13, "1501", "e:15: global horizontal radiation 1501 is outside its range"},
    };
    for (const Bad &b : bad) {
        sim::WeatherDay w;
        std::string error;
        EXPECT_FALSE(w.parse(epw([&b](int line, std::vector<std::string> &f) {
                                 if (line == b.line && b.value == nullptr) {
                                     f.resize(b.field);
                                 } else if (line == b.line) {
                                     f[b.field] = b.value;
                                 }
                             }),
                             "e", &error));
        EXPECT_EQ(error, b.message);
    }
    WeatherDay w;
    std::string error;
    ASSERT_TRUE(w.parse(epw([](int, std::vector<std::string> &) {}), "e", &error)) << error;
    EXPECT_EQ(w.yearHour(), 11 * 24);
    EXPECT_EQ(w.period(), 48.0);
    // Each row is the end of its hour; the file ends at midnight, so it
    // repeats from its last row.
    EXPECT_DOUBLE_EQ(w.at(0.0).temperature, 47.0);
    EXPECT_DOUBLE_EQ(w.at(0.5).temperature, 23.5);
    EXPECT_DOUBLE_EQ(w.at(2.5).temperature, 1.5);
    EXPECT_DOUBLE_EQ(w.at(2.5).wind, 3.0);
    // A missing wind is none on either side of its row.
    ASSERT_TRUE(w.parse(
        epw([](int line, std::vector<std::string> &f) { f[21] = line == 11 ? "999" : f[21]; }), "e",
        &error));
    EXPECT_DOUBLE_EQ(w.at(1.5).wind, 3.0);
    EXPECT_DOUBLE_EQ(w.at(2.5).wind, -1.0);
    EXPECT_DOUBLE_EQ(w.at(2.5).solar, 100.0);
    EXPECT_EQ(sim::hourOfYear(12, 31), 364 * 24);
    EXPECT_EQ(sim::hourOfYear(2, 29), -1);
}

// A typical year: 8760 hours whose months keep the normals, the day's low at
// 06:00 and high at 15:00; sun by day only, more in June; its EPW the same.
TEST(House, TypicalYears) {
    std::string error;
    for (const sim::ClimateNormals &c : sim::typicalClimates()) {
        WeatherDay year;
        ASSERT_TRUE(year.parse(sim::typicalYearCsv(c), c.name, &error)) << error;
        EXPECT_EQ(year.period(), 8760.0);
        double low = 0.0, high = 0.0;
        for (int d = 0; d < 31; d++) {
            low += year.at(d * 24 + 6).temperature / 31.0;
            high += year.at(d * 24 + 15).temperature / 31.0;
        }
        EXPECT_NEAR(low, (c.minF[0] - 32.0) / 1.8, 0.06) << c.name;
        EXPECT_NEAR(high, (c.maxF[0] - 32.0) / 1.8, 0.06) << c.name;
        EXPECT_EQ(year.at(24 * 180).solar, 0.0);
        WeatherDay epwYear;
        ASSERT_TRUE(epwYear.parse(sim::typicalYearEpw(c), c.name, &error)) << error;
        EXPECT_EQ(epwYear.yearHour(), 0);
        EXPECT_EQ(epwYear.period(), 8760.0);
        for (double h : {0.0, 6.0, 24 * 59.0 + 15.0, 8759.0}) {
            EXPECT_NEAR(epwYear.at(h).temperature, year.at(h).temperature, 0.051) << h;
        }
        EXPECT_GT(year.at(24 * 171 + 12).solar, 1.5 * year.at(24 * 354 + 12).solar) << c.name;
    }
    EXPECT_EQ(sim::typicalClimate("atlantis"), nullptr);
}

// Weather noise: none by default; about its size, smooth, and the same for
// the same seed only.
TEST(House, WeatherNoise) {
    HouseParams p = still(HousePreset::Typical, 5.0, 20.0);
    House plain(p);
    p.weatherNoise = 1.0;
    p.noiseSeed = 5;
    House noisy(p), same(p);
    p.noiseSeed = 6;
    House other(p);
    double sum = 0.0, squares = 0.0, steepest = 0.0;
    int hours = 24 * 365;
    for (int h = 0; h < hours; h++) {
        EXPECT_EQ(plain.outdoorAt(h), 5.0);
        double n = noisy.outdoorAt(h) - 5.0;
        sum += n;
        squares += n * n;
        steepest = std::max(steepest, std::fabs(noisy.outdoorAt(h + 1.0 / 60.0) - 5.0 - n));
        EXPECT_EQ(same.outdoorAt(h), noisy.outdoorAt(h));
    }
    EXPECT_LT(std::fabs(sum / hours), 0.2);
    EXPECT_NEAR(std::sqrt(squares / hours), 0.8, 0.3);
    EXPECT_LT(steepest, 0.05);
    EXPECT_NE(other.outdoorAt(7.0), noisy.outdoorAt(7.0));
}

TEST(House, TheControllersWeatherInTheThermostatsUnit) {
    // Level 5's byte: whole degrees, halves away from zero, plus 120,
    // within -120 to 135 degrees.
    struct Byte {
        double celsius;
        bool inCelsius;
        int expected;
    };
    const Byte bytes[] = {{25.0, true, 145},  {25.0, false, 197}, {-0.5, true, 119},
                          {135.0, true, 255}, {135.6, true, 255}, {-120.0, true, 0},
                          {-120.6, true, 0},  {56.9, false, 254}, {57.2, false, 255},
                          {57.6, false, 255}};
    for (const Byte &b : bytes) {
        EXPECT_EQ(sim::busTemperature(b.celsius, b.inCelsius), b.expected) << b.celsius;
    }
    EXPECT_DOUBLE_EQ(sim::celsiusOfBusTemperature(224, false), 40.0);

    // The forecast is the house's own climate: 0 C at 03:00 to 10 C at 15:00.
    HouseParams p = still(HousePreset::Typical, 5.0, 20.0);
    p.outdoorSwing = 5.0;
    House h(p);
    sim::ControllerWeather w = sim::controllerWeather(h, 15.0, 7);
    std::vector<std::string> f = sim::controllerWeatherLines(w, false);
    std::vector<std::string> c = sim::controllerWeatherLines(w, true);
    ASSERT_EQ(f.size(), 6u);
    EXPECT_EQ(f[0], "level 5 170");
    EXPECT_EQ(c[0], "level 5 130");
    EXPECT_EQ(f[1], "command FH 50 50 50 50 50");
    EXPECT_EQ(c[2], "command FL 0 0 0 0 0");
    EXPECT_EQ(f[3].rfind("command FK ", 0), 0u);
    EXPECT_EQ(f[5].rfind("command PRESSURE ", 0), 0u);
    // Wind in mph and km/h.
    long mph = std::lround(w.windKph / 1.609344);
    EXPECT_NE(f[4].find(" S" + std::to_string(mph) + " "), std::string::npos) << f[4];
    EXPECT_NE(c[4].find(" S" + std::to_string(std::lround(w.windKph)) + " "), std::string::npos)
        << c[4];
    // The same hour and seed give the same weather.
    EXPECT_EQ(sim::controllerWeatherLines(sim::controllerWeather(h, 15.0, 7), false), f);
}

TEST(House, FurnaceAndAirConditionerStages) {
    HouseParams p = still(HousePreset::Typical, 0.0, 20.0);
    p.furnaceW = 10000.0;
    p.coolW = 6000.0;
    struct Case {
        int stages;
        const char *relays;
        double heat; // W at 35 C outdoors, 35 % indoor (dry coil)
    };
    const Case cases[] = {
        {1, "0001000000", 10000.0},
        {1, "0001100000", 10000.0},
        {2, "0001000000", 6500.0},
        {2, "0001100000", 10000.0},
        {2, "0000100000", 10000.0},
        {1, "0110000100", -6000.0 + 250.0},
        {2, "0100000100", -4200.0 + 250.0},
        {2, "0110000100", -6000.0 + 250.0},
        {2, "0110000000", -1500.0}, // no blower: a quarter of the coil's heat
        {2, "1000000000", 0.0},     // the furnace ignores the reversing valve
    };
    for (const Case &c : cases) {
        p.stages = c.stages;
        House h(p);
        h.setIndoorRh(35.0);
        h.setRelays(contacts(c.relays));
        EXPECT_NEAR(h.equipmentHeat(35.0), c.heat, 1.0) << c.stages << " " << c.relays;
    }
    // Delivered heat is counted per relay.
    p.stages = 1;
    House h(p);
    h.setRelays(contacts("0001000100"));
    EXPECT_EQ(h.snapshot().activity, "heat 10.0 kW");
    h.advance(3600.0, 1.0);
    EXPECT_NEAR(h.deliveredEnergy()[RELAY_W1E], 10000.0 * 3600.0, 1.0);
    EXPECT_NEAR(h.deliveredEnergy()[RELAY_G1], 250.0 * 3600.0, 1.0);
}

TEST(House, HeatPumpDirectionCapacityAndAuxiliary) {
    HouseParams p = still(HousePreset::Typical, 8.3, 20.0);
    p.equipment = sim::Equipment::HeatPump;
    p.heatPumpW = 6000.0;
    p.auxW = 8000.0;
    p.stages = 2;
    double idle = afterAnHour(p, "0000000000");
    EXPECT_GT(afterAnHour(p, "0100000100"), idle + 0.5);
    EXPECT_LT(afterAnHour(p, "1100000100"), idle - 0.5);
    // Capacity falls with the outdoor temperature and stops in deep cold.
    EXPECT_GT(House::heatPumpHeatingFactor(10.0), House::heatPumpHeatingFactor(-10.0));
    EXPECT_GT(House::heatPumpHeatingFactor(-20.0), 0.0);
    EXPECT_EQ(House::heatPumpHeatingFactor(-20.01), 0.0);
    // Auxiliary heat adds to the compressor (electric) or replaces it (gas);
    // two stages split it.
    struct Case {
        sim::AuxHeat aux;
        int stages;
        const char *relays;
        double heat; // W at 8.3 C
    };
    const Case cases[] = {
        {sim::AuxHeat::Electric, 2, "0101000100", 4200.0 + 4000.0 + 250.0},
        {sim::AuxHeat::Electric, 2, "0101100100", 4200.0 + 8000.0 + 250.0},
        {sim::AuxHeat::Electric, 1, "0101000100", 6000.0 + 8000.0 + 250.0},
        {sim::AuxHeat::Gas, 2, "0111100100", 8000.0 + 250.0},
        {sim::AuxHeat::Gas, 2, "0110000100", 6000.0 + 250.0},
    };
    for (const Case &c : cases) {
        HouseParams q = p;
        q.aux = c.aux;
        q.stages = c.stages;
        House h(q);
        h.setRelays(contacts(c.relays));
        EXPECT_NEAR(h.equipmentHeat(8.3), c.heat, 1.0) << c.relays;
    }
}

} // namespace
