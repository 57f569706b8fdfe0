// Raw sensor words: what the simulator reports reads back, through the
// thermostat's own conversions, as the house's values.
#include "encoder.h"

#include "hvac/sensors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

class EncoderTest : public ::testing::Test {
  protected:
    void SetUp() override { Sensors_Initialize(); }
};

TEST_F(EncoderTest, ThermistorsReadBackWithinFewHundredthsOfADegree) {
    double worstOnboard = 0.0;
    double worstExternal = 0.0;
    for (double t = -49.9; t <= 109.9; t += 0.173) {
        sim::ThermistorWords on = sim::encodeOnboard(t);
        sim::ThermistorWords ext = sim::encodeExternal(t);
        worstOnboard = std::max(worstOnboard, std::fabs(sim::decodeOnboard(on) - t));
        worstExternal = std::max(worstExternal, std::fabs(sim::decodeExternal(ext) - t));
        // The words stay where the fixed-point conversion is defined.
        EXPECT_LT(on.second, 2 * on.first);
        EXPECT_LT(ext.first, 8192);
    }
    EXPECT_LT(worstOnboard, 0.04);
    EXPECT_LT(worstExternal, 0.02);
    // Beyond the thermistor's table the reading clamps.
    EXPECT_NEAR(sim::decodeOnboard(sim::encodeOnboard(-70.0)), -50.0, 0.05);
    EXPECT_NEAR(sim::decodeOnboard(sim::encodeOnboard(130.0)), 110.0, 0.05);
}

TEST_F(EncoderTest, HumidityReadsBackWithinOnePercent) {
    double worst = 0.0;
    for (double h = 11.0; h <= 100.0; h += 0.05) {
        uint16_t raw = sim::encodeHumidity(h);
        worst = std::max(worst, std::fabs(sim::decodeHumidity(raw) - h));
        EXPECT_EQ(static_cast<double>(Sensors_RelHumidityFromRaw(raw, 0)) / FPR_ONE,
                  sim::decodeHumidity(raw));
    }
    EXPECT_LE(worst, 1.0);
    // Below 11 % the sensor cannot report: the lowest reading is 11.
    EXPECT_EQ(sim::decodeHumidity(sim::encodeHumidity(3.0)), 11.0);
    EXPECT_EQ(sim::decodeHumidity(sim::encodeHumidity(100.0)), 100.0);
}

} // namespace
