// Turns the house's temperatures and humidity into the raw words the
// coprocessor reports, so that the thermostat's own conversions (the sensor
// module, which the simulator links) give them back. Sensors_Initialize()
// must have run first.
#pragma once

#include <cstdint>

namespace sim {

struct ThermistorWords {
    uint16_t first;
    uint16_t second;
};

// The on-board thermistor's words (w1, w2) for a temperature in C.
ThermistorWords encodeOnboard(double celsius);
// The external thermistor's words (w3, w4).
ThermistorWords encodeExternal(double celsius);
// The humidity sensor's raw reading for a relative humidity in percent, as
// read with a humidity offset of 0.
uint16_t encodeHumidity(double percent);

// What the thermostat makes of the words (for tests and the console).
double decodeOnboard(ThermistorWords words);
double decodeExternal(ThermistorWords words);
double decodeHumidity(uint16_t raw);

} // namespace sim
