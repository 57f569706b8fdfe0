// Sensors: turns the raw words that the coprocessor reports into the
// on-board and external thermistor temperatures (fixed-point degrees Celsius)
// and the on-board relative humidity (fixed-point percent), chooses which
// sensor stands for the room and which for the outdoors, and smooths the
// indoor temperature and humidity that control and screens use.
//
// Everything is computed on demand from the latest raw values held by the
// coprocessor messages; nothing here talks to hardware.
#pragma once

#include "core/fixed_point.h"

#include <cstddef>
#include <cstdint>

// The thermistor curve: 161 points from -50 to 110 degrees in steps of 1.
constexpr size_t SENSORS_THERMISTOR_POINTS = 161;
// The humidity sensor's curve: raw readings for 0, 5, ... 100 percent.
constexpr size_t SENSORS_HUMIDITY_POINTS = 21;
extern const uint32_t hum_table[SENSORS_HUMIDITY_POINTS];
// The humidity correction line: c = (p + m_YOffset) / m_LinearEqSlope.
constexpr fpr_t SENSORS_HUMIDITY_Y_OFFSET = 80303;  // 9.8026123046875
constexpr fpr_t SENSORS_HUMIDITY_LINE_SLOPE = 7424; // 0.90625
// Reports averaged into one smoothed value.
constexpr uint8_t SENSORS_AVERAGE_BLOCK = 30;

// Fills the thermistor table and asks the coprocessor link to tell the
// averages of every temperature and humidity report. Returns 0.
int Sensors_Initialize();

// Temperatures from the latest reports, fixed-point degrees Celsius.
fpr_t Sensors_GetOnboardTemp();
fpr_t Sensors_GetExternalTemp(uint8_t sensorIndex);
// The room and outdoor temperatures by the configured sensor choice.
fpr_t Sensors_GetRoomTemperature();
fpr_t Sensors_GetOutdoorTemperature();
// Whether there is an outdoor temperature: an outdoor sensor is configured,
// or the control bus has sent one.
bool Sensors_IsOutdoorTemperatureKnown();
// Corrected relative humidity, whole percent 0 to 100 as a fixed-point
// number; 0 when the humidity sensor is configured "Off".
fpr_t Sensors_GetOnboardRelHumidity();

// The same conversions on given raw words, for the simulator and tools.
// Each returns 0, or -1 when a step failed (a zero divisor) or the
// resistance lay outside the table and the result was clamped; the result is
// written in every case.
int Sensors_OnboardTempFromRaw(uint16_t firstWord, uint16_t secondWord, fpr_t *degrees);
int Sensors_ExternalTempFromRaw(uint16_t firstWord, uint16_t secondWord, fpr_t *degrees);
// Corrected humidity from a raw reading and a humidity offset (whole percent).
fpr_t Sensors_RelHumidityFromRaw(uint32_t raw, uint8_t offset);

// Kilo-ohms to degrees through the thermistor table. Returns 0, or -1 when
// the resistance lay outside the table and the result was clamped.
int getDegreesCelsius(fpr_t kiloOhms, fpr_t *degrees);
// A raw humidity reading to whole percent 0 to 100 through hum_table.
uint32_t interpolate_humidity(uint32_t raw);

// One smoothing step, run by the coprocessor message handlers after each
// temperature or humidity report: the first usable reading is stored as it
// is, then every 30 readings are averaged into the next smoothed value. The
// smoothed values live in the data dictionary (setMovAvgIndTemp,
// setMovAvgHum, getMovAvgIndTemp, getMovAvgHum).
void Sensors_TemperatureReported();
void Sensors_HumidityReported();

// Forgets the averaging state (tests; the data dictionary's reset forgets
// the smoothed values).
void Sensors_Reset();
