// Temperature scale: conversions between the stored unit (fixed-point degrees
// Celsius) and the unit the user chose (tempScale: Fahrenheit or Celsius), and
// the temperature format state that follows the scale.
//
// Every conversion reads the format settings first and returns its argument
// unchanged when the display scale is Celsius. A step of a conversion chain
// that fails leaves its input unchanged and the chain goes on.
// Differences convert with the factor 2.0: 0.5 Celsius degrees show as 1.0 °F.
#pragma once

#include "config/persist.h"
#include "core/fixed_point.h"

#include <cstddef>
#include <cstdint>

// The scale the user chose: Fahrenheit when the format settings say so, any
// other stored value being Celsius.
TempScale displayTempScale();

// Degree sign of the display fonts (Latin-1).
constexpr char c_DegreeSymbol = static_cast<char>(0xB0);

// Prints a decoded temperature (integer part) followed by the degree sign into
// text (of the given size, always terminated).
using TempPrintFunc = void (*)(char *text, size_t size, int16_t temp);

// Temperature format state, set by initialiseTStatFormat (zero until then).
extern fpr_t g_MinSetPointTemp; // lowest setpoint, display unit
extern fpr_t g_MaxSetPointTemp; // highest setpoint, display unit
extern fpr_t g_SetPointTempRes; // setpoint step, display unit
extern uint32_t g_ResDigits;    // decimals shown for temperatures
extern TempPrintFunc g_PrintTempInCurrentFormat;

// Reads the format settings and sets the format state: limits 45.0-90.0 and
// indoor range 40-99 in Fahrenheit, 7.0-32.0 and 5-37 in Celsius.
void initialiseTStatFormat();

// Lowest and highest indoor temperature the main page shows, whole display degrees.
uint8_t getMinIndoorTemp();
uint8_t getMaxIndoorTemp();

// °C -> °F: x 9.0, / 5.0, + 32.0.
fpr_t tempCelToFahConversion(fpr_t celsius);
// °F -> °C: - 32.0, x 5.0, / 9.0.
fpr_t tempFahToCelConversion(fpr_t fahrenheit);
// Differences: x 2.0 and / 2.0.
fpr_t convertDiffCelToFah(fpr_t celsiusDiff);
fpr_t convertDiffFahToCel(fpr_t fahrenheitDiff);
// Centimetres of mercury -> inches (x 0.3936767578125).
fpr_t pressureCmToInchConversion(fpr_t centimetres);
// km/h -> mph (x 0.621337890625).
fpr_t windSpeedKphToMphConversion(fpr_t kph);

// "%2d" and the degree sign.
void printTempInCelsius(char *text, size_t size, int16_t temp);
void printTempInFahrenheit(char *text, size_t size, int16_t temp);
// "-", shown instead of a setpoint while the system is off.
void printSystemOffTemp(char *text, size_t size);

// Clears the format state (as at power-up). For tests.
void tempScaleReset();
