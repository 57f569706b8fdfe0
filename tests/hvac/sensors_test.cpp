// Sensors: thermistor and humidity conversions, the sensor choice and the
// smoothing of indoor temperature and humidity.
#include "hvac/sensors.h"

#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/persist.h"
#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "coproc_frame.h"
#include "core/util.h"
#include "fixed.h"
#include "modules.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

class SensorsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(Sensors_Initialize(), 0);
        Sensors_Reset();
    }
};

TEST_F(SensorsTest, ThermistorTableEdgesAndInterpolation) {
    // Beyond the table (or a negative resistance) the result is clamped, status -1.
    const struct {
        fpr_t resistance;
        int status;
        double degrees;
    } cases[] = {
        {fx(10.0), 0, 25.0},
        {fprConst(329, 50000000), 0, -50.0},
        {fx(400.0), -1, -50.0},
        {fx(0.5), -1, 110.0},
        {fprConst(0, 75760000), 0, 110},
        {fx(-3.0), -1, 110.0},
        {fx(9.816), 0, 25.5}, // half-way between 10 (25 degrees) and 9.632 (26)
        {fprConst(1, 24000000), 0, 90.0 + (1.266 - 1.24) / (1.266 - 1.232)},
    };
    fpr_t t = 0;
    for (const auto &c : cases) {
        EXPECT_EQ(getDegreesCelsius(c.resistance, &t), c.status) << c.resistance;
        EXPECT_NEAR(dbl(t), c.degrees, 0.01) << c.resistance;
    }
    // Every table point converts to its own degree, and the curve is
    // monotonic in between.
    double previous = 200;
    for (double r = 300.0; r > 0.8; r *= 0.97) {
        ASSERT_EQ(getDegreesCelsius(fx(r), &t), 0) << r;
        EXPECT_GT(dbl(t), previous == 200 ? -100 : previous - 0.001) << r;
        previous = dbl(t);
    }
}

TEST_F(SensorsTest, RawThermistorWords) {
    fpr_t t = 0;
    // w1 = w2 gives 10 kilo-ohms on the on-board divider: 25 degrees.
    EXPECT_EQ(Sensors_OnboardTempFromRaw(2000, 2000, &t), 0);
    EXPECT_NEAR(dbl(t), 25.0, 0.01);
    // R = 10 x w2 / (2 x w1 - w2): w2 = 2 x w1 x R / (10 + R).
    uint16_t w2 = static_cast<uint16_t>(std::lround(2.0 * 4000 * 27.28 / 37.28));
    EXPECT_EQ(Sensors_OnboardTempFromRaw(4000, w2, &t), 0);
    EXPECT_NEAR(dbl(t), 0.0, 0.05);
    // No report yet: the zero divisor fails and the clamped result stands.
    EXPECT_EQ(Sensors_OnboardTempFromRaw(0, 0, &t), -1);
    EXPECT_EQ(t, 110 * FPR_ONE);

    // External: M = (w3 - w4) / (w4 / 4.02), R = 10 x M / (10 - M).
    // 10 kilo-ohms in parallel with 10 measure 5: w3 = w4 x (1 + 5 / 4.02).
    uint16_t w4 = 2000;
    uint16_t w3 = static_cast<uint16_t>(std::lround(w4 * (1.0 + 5.0 / 4.02)));
    EXPECT_EQ(Sensors_ExternalTempFromRaw(w3, w4, &t), 0);
    EXPECT_NEAR(dbl(t), 25.0, 0.05);
    EXPECT_EQ(Sensors_ExternalTempFromRaw(0, 0, &t), -1);
    EXPECT_EQ(t, 110 * FPR_ONE);
    // Words beyond the fixed-point range fail cleanly.
    EXPECT_EQ(Sensors_OnboardTempFromRaw(0xFFFF, 0x7FFF, &t), -1);
}

TEST_F(SensorsTest, HumidityTableAndCorrection) {
    // The 15 percent table point reads 14: every inner point of the segment
    // above lies above it. 7085..7015: step 14, inner points 7071, 7057, 7043, 7029.
    const std::pair<uint32_t, uint32_t> points[] = {
        {7085, 0}, {9000, 0}, {6035, 100}, {0, 100},  {6880, 14}, {6879, 15}, {7084, 0},
        {7071, 0}, {7070, 1}, {7029, 3},   {7028, 4}, {7015, 4},  {6036, 99},
    };
    for (const auto &[raw, percent] : points) {
        EXPECT_EQ(interpolate_humidity(raw), percent) << raw;
    }
    // Falling readings never lower the humidity.
    uint32_t previous = 0;
    for (uint32_t raw = 7100; raw >= 6000; raw--) {
        uint32_t p = interpolate_humidity(raw);
        EXPECT_GE(p, previous);
        EXPECT_LE(p, previous + 1);
        previous = p;
    }

    // c = round((p + 9.8026) / 0.90625) - offset, clamped to 0..100.
    EXPECT_EQ(Sensors_RelHumidityFromRaw(7085, 0), 11 * FPR_ONE); // 10.82
    EXPECT_EQ(Sensors_RelHumidityFromRaw(6880, 0), 26 * FPR_ONE); // 14 -> 26.27
    EXPECT_EQ(Sensors_RelHumidityFromRaw(6880, 6), 20 * FPR_ONE);
    EXPECT_EQ(Sensors_RelHumidityFromRaw(7085, 15), 0);             // 11 - 15
    EXPECT_EQ(Sensors_RelHumidityFromRaw(6035, 0), 100 * FPR_ONE);  // 121
    EXPECT_EQ(Sensors_RelHumidityFromRaw(6035, 20), 100 * FPR_ONE); // 101
    EXPECT_EQ(Sensors_RelHumidityFromRaw(6035, 255), 0);
}

// A report of raw words, through the dispatcher.
void report(uint8_t type, std::initializer_list<uint16_t> words) {
    std::vector<uint8_t> payload;
    for (uint16_t w : words) {
        payload.push_back(static_cast<uint8_t>(w >> 8));
        payload.push_back(static_cast<uint8_t>(w));
    }
    std::vector<uint8_t> frame = coprocFrameOf(type, payload);
    ASSERT_EQ(coprocMsgProcess(frame.data(), static_cast<uint16_t>(frame.size())), 0);
}
void reportTemperature(uint16_t w1, uint16_t w2, uint16_t w3, uint16_t w4) {
    report(COPROC_PKT_TEMP, {w1, w2, w3, w4});
}
void reportHumidity(uint16_t raw) {
    report(COPROC_PKT_HUMIDITY, {raw});
}

void configure(ExternalTempSensor external, SensorState internal, SensorState humidity) {
    edit(getTstatConfiguration, setTstatConfiguration, [&](auto &cfg) {
        cfg.externalTempSensor = external;
        cfg.internalTempSensor = internal;
        cfg.humiditySensor = humidity;
    });
}

// Words of about 25 degrees on board and 10 degrees on the external sensor
// (17.96 kilo-ohms in parallel with 10 measure 6.4235: w3 = w4 x (1 + 6.4235 / 4.02)).
constexpr uint16_t W_ONBOARD = 2000;
constexpr uint16_t W3_TEN = 5196;
constexpr uint16_t W4_TEN = 2000;

class SensorChoiceTest : public SensorsTest {
  protected:
    void SetUp() override {
        SensorsTest::SetUp();
        resetModules<Layer::Hvac>();
    }
    void TearDown() override { resetModules<Layer::Hvac>(); }
};

TEST_F(SensorChoiceTest, RoomAndOutdoorSensorChoice) {
    reportTemperature(W_ONBOARD, W_ONBOARD, W3_TEN, W4_TEN);
    EXPECT_NEAR(dbl(Sensors_GetOnboardTemp()), 25.0, 0.01);
    EXPECT_NEAR(dbl(Sensors_GetExternalTemp(0)), 10.0, 0.05);
    TstatCurrentForecast_t forecast = {};
    forecast.outdoorTemp = fprConst(3, 50000000);
    setCurrentForecast(&forecast);

    // The room is the on-board thermistor, the external one indoors, or
    // their average; outdoors the external one or the forecast.
    const fpr_t onboard = Sensors_GetOnboardTemp();
    const fpr_t external = Sensors_GetExternalTemp(0);
    const struct {
        ExternalTempSensor external;
        SensorState internal;
        fpr_t room, outdoor;
    } cases[] = {
        {EXT_TEMP_SENSOR_INDOOR, SENSOR_ON, (onboard + external) / 2, forecast.outdoorTemp},
        {EXT_TEMP_SENSOR_OUTDOOR, SENSOR_ON, onboard, external},
        {EXT_TEMP_SENSOR_OFF, SENSOR_ON, onboard, forecast.outdoorTemp},
        {EXT_TEMP_SENSOR_INDOOR, SENSOR_OFF, external, forecast.outdoorTemp},
        {EXT_TEMP_SENSOR_OFF, SENSOR_OFF, 0, forecast.outdoorTemp},
        {EXT_TEMP_SENSOR_OUTDOOR, SENSOR_OFF, 0, external},
    };
    for (const auto &c : cases) {
        configure(c.external, c.internal, SENSOR_ON);
        EXPECT_NEAR(dbl(Sensors_GetRoomTemperature()), dbl(c.room), 0.001)
            << c.external << " " << c.internal;
        EXPECT_EQ(Sensors_GetOutdoorTemperature(), c.outdoor) << c.external << " " << c.internal;
    }
}

TEST_F(SensorChoiceTest, HumiditySensorSettingAndOffset) {
    reportHumidity(6880);
    configure(EXT_TEMP_SENSOR_OFF, SENSOR_ON, SENSOR_ON);
    EXPECT_EQ(Sensors_GetOnboardRelHumidity(), 26 * FPR_ONE);
    setHumidityOffset(6);
    EXPECT_EQ(Sensors_GetOnboardRelHumidity(), 20 * FPR_ONE);
    setHumidityOffset(30);
    EXPECT_EQ(Sensors_GetOnboardRelHumidity(), 0);
    configure(EXT_TEMP_SENSOR_OFF, SENSOR_ON, SENSOR_OFF);
    setHumidityOffset(0);
    EXPECT_EQ(Sensors_GetOnboardRelHumidity(), 0);
}

TEST_F(SensorChoiceTest, BlockOfThirtySmoothing) {
    configure(EXT_TEMP_SENSOR_OFF, SENSOR_ON, SENSOR_ON);
    fpr_t v = 123;
    EXPECT_EQ(getMovAvgIndTemp(&v), 0);
    // The first report is stored at once.
    reportTemperature(W_ONBOARD, W_ONBOARD, 0, 0);
    EXPECT_EQ(getMovAvgIndTemp(&v), 1);
    EXPECT_NEAR(dbl(v), 25.0, 0.01);
    // Thirty reports of about 20 degrees accumulate; the 31st after the
    // first stores their average.
    uint16_t w2 = static_cast<uint16_t>(std::lround(2.0 * 4000 * 12.09 / 22.09));
    fpr_t twenty = 0;
    Sensors_OnboardTempFromRaw(4000, w2, &twenty);
    for (int i = 0; i < 30; i++) {
        reportTemperature(4000, w2, 0, 0);
        getMovAvgIndTemp(&v);
        ASSERT_NEAR(dbl(v), 25.0, 0.01) << i;
    }
    reportTemperature(4000, w2, 0, 0);
    fpr_t block = 0;
    getMovAvgIndTemp(&block);
    EXPECT_NEAR(dbl(block), dbl(twenty), 0.01);
    // The storing report added no sample: the next block starts empty and
    // gives the same readings the same average.
    for (int i = 0; i < 31; i++) {
        reportTemperature(4000, w2, 0, 0);
    }
    getMovAvgIndTemp(&v);
    EXPECT_EQ(v, block);

    // Humidity: the very first report is only seen, the second is stored.
    reportHumidity(6880);
    EXPECT_EQ(getMovAvgHum(&v), 0);
    reportHumidity(6880);
    EXPECT_EQ(getMovAvgHum(&v), 1);
    EXPECT_EQ(v, 26 * FPR_ONE);
    for (int i = 0; i < 30; i++) {
        reportHumidity(6035); // 100 %
    }
    getMovAvgHum(&v);
    EXPECT_EQ(v, 26 * FPR_ONE);
    reportHumidity(6035);
    getMovAvgHum(&v);
    EXPECT_NEAR(dbl(v), 100.0, 0.05);
}

} // namespace
