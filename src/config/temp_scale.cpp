// Temperature scale: conversions between stored Celsius and the display
// scale, the temperature format state and the temperature printers.
#include "config/temp_scale.h"

#include "config/data_dict.h"

#include <array>
#include <cstdio>

namespace {

constexpr fpr_t c_Nine = 73728;       // 9.0
constexpr fpr_t c_Five = 40960;       // 5.0
constexpr fpr_t c_Two = 16384;        // 2.0
constexpr fpr_t c_ThirtyTwo = 262144; // 32.0
constexpr fpr_t c_PressureCmToInch = fprConst(0, 39370078);
constexpr fpr_t c_WindKphToMph = fprConst(0, 62137119);
static_assert(c_PressureCmToInch == 3225 && c_WindKphToMph == 5090);

// Format state of one display scale.
struct TempFormat {
    fpr_t minSetPoint;
    fpr_t maxSetPoint;
    fpr_t setPointRes;
    uint32_t resDigits;
    uint8_t minIndoor;
    uint8_t maxIndoor;
    TempPrintFunc print;
};

constexpr TempFormat c_FahrenheitFormat = {368640, 737280, 8192, 0, 40, 99, printTempInFahrenheit};
constexpr TempFormat c_CelsiusFormat = {57344, 262144, 8192, 0, 5, 37, printTempInCelsius};

uint8_t m_MinIndoorTemp;
uint8_t m_MaxIndoorTemp;

// One step of a conversion chain: a failing operation leaves its input as it was.
fpr_t chain(int (*op)(fpr_t, fpr_t, fpr_t *), fpr_t value, fpr_t operand) {
    fpr_t result;
    return op(value, operand, &result) == 0 ? result : value;
}

void printTemp(char *text, size_t size, int16_t temp) {
    if (text != nullptr && size > 0) {
        snprintf(text, size, "%2d%c", temp, c_DegreeSymbol);
    }
}

} // namespace

TempScale displayTempScale() {
    TstatFmtSettings_t fmt{};
    getThermostatFormatSettings(&fmt);
    return fmt.tempScale == TEMP_SCALE_FAHRENHEIT ? TEMP_SCALE_FAHRENHEIT : TEMP_SCALE_CELSIUS;
}

fpr_t g_MinSetPointTemp;
fpr_t g_MaxSetPointTemp;
fpr_t g_SetPointTempRes;
uint32_t g_ResDigits;
// Both printers print alike, so a page drawn before the first
// initialiseTStatFormat still prints instead of calling through a null pointer.
TempPrintFunc g_PrintTempInCurrentFormat = printTempInCelsius;

void initialiseTStatFormat() {
    const TempFormat &format =
        displayTempScale() == TEMP_SCALE_CELSIUS ? c_CelsiusFormat : c_FahrenheitFormat;
    g_MinSetPointTemp = format.minSetPoint;
    g_MaxSetPointTemp = format.maxSetPoint;
    g_SetPointTempRes = format.setPointRes;
    g_ResDigits = format.resDigits;
    m_MinIndoorTemp = format.minIndoor;
    m_MaxIndoorTemp = format.maxIndoor;
    g_PrintTempInCurrentFormat = format.print;
}

uint8_t getMinIndoorTemp() {
    return m_MinIndoorTemp;
}
uint8_t getMaxIndoorTemp() {
    return m_MaxIndoorTemp;
}

fpr_t tempCelToFahConversion(fpr_t celsius) {
    if (displayTempScale() == TEMP_SCALE_CELSIUS) {
        return celsius;
    }
    fpr_t v = chain(fprMul, celsius, c_Nine);
    v = chain(fprDiv, v, c_Five);
    return chain(fprAdd, v, c_ThirtyTwo);
}

fpr_t tempFahToCelConversion(fpr_t fahrenheit) {
    if (displayTempScale() == TEMP_SCALE_CELSIUS) {
        return fahrenheit;
    }
    fpr_t v = chain(fprSub, fahrenheit, c_ThirtyTwo);
    v = chain(fprMul, v, c_Five);
    return chain(fprDiv, v, c_Nine);
}

fpr_t convertDiffCelToFah(fpr_t celsiusDiff) {
    return displayTempScale() == TEMP_SCALE_CELSIUS ? celsiusDiff
                                                    : chain(fprMul, celsiusDiff, c_Two);
}

fpr_t convertDiffFahToCel(fpr_t fahrenheitDiff) {
    return displayTempScale() == TEMP_SCALE_CELSIUS ? fahrenheitDiff
                                                    : chain(fprDiv, fahrenheitDiff, c_Two);
}

fpr_t pressureCmToInchConversion(fpr_t centimetres) {
    return displayTempScale() == TEMP_SCALE_CELSIUS
               ? centimetres
               : chain(fprMul, centimetres, c_PressureCmToInch);
}

fpr_t windSpeedKphToMphConversion(fpr_t kph) {
    return displayTempScale() == TEMP_SCALE_CELSIUS ? kph : chain(fprMul, kph, c_WindKphToMph);
}

void printTempInCelsius(char *text, size_t size, int16_t temp) {
    printTemp(text, size, temp);
}
void printTempInFahrenheit(char *text, size_t size, int16_t temp) {
    printTemp(text, size, temp);
}

void printSystemOffTemp(char *text, size_t size) {
    if (text != nullptr && size > 0) {
        snprintf(text, size, "-");
    }
}

void tempScaleReset() {
    g_MinSetPointTemp = 0;
    g_MaxSetPointTemp = 0;
    g_SetPointTempRes = 0;
    g_ResDigits = 0;
    m_MinIndoorTemp = 0;
    m_MaxIndoorTemp = 0;
    g_PrintTempInCurrentFormat = printTempInCelsius;
}
