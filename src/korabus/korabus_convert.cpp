// The tokens and numbers of a control-bus command string, and the
// conversions between the bus's whole-number values (display-scale degrees,
// percent, inches or centimetres, mph or km/h) and the fixed-point units the
// configuration keeps (°C, percent, cm, km/h).
#include "config/data_dict.h"
#include "config/temp_scale.h"
#include "korabus/korabus_data.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr fpr_t c_InchToCentimetre = fprConst(2, 54000000);
constexpr fpr_t c_MphToKph = fprConst(1, 60934400);
// The largest whole number that fixed-point arithmetic still takes.
constexpr int32_t c_MaxWhole = FPR_MAX / FPR_ONE;
// Digits of the decimal fraction that the fixed-point split keeps.
constexpr int c_FractionDigits = 8;

fpr_t multiplyOrKeep(fpr_t value, fpr_t factor) {
    fpr_t result;
    return fprMul(value, factor, &result) == 0 ? result : value;
}

int32_t clampWhole(int32_t value) {
    if (value > c_MaxWhole) {
        return c_MaxWhole;
    }
    if (value < -c_MaxWhole) {
        return -c_MaxWhole;
    }
    return value;
}

} // namespace

fpr_t korabusFprFromWhole(int32_t value) {
    fpr_t result = 0;
    fprGen(static_cast<int16_t>(clampWhole(value)), 0, &result);
    return result;
}

int16_t korabusRoundFpr(fpr_t value) {
    // Outside the arithmetic range the whole part would not fit 16 bits.
    if (value > FPR_MAX) {
        value = FPR_MAX;
    } else if (value < FPR_MIN) {
        value = FPR_MIN;
    }
    int16_t whole = 0;
    int32_t fraction = 0;
    fprDecodeRes(value, &whole, &fraction, 0);
    return whole;
}

uint8_t korabusTempFromDisplayDegrees(fpr_t display) {
    int whole = korabusRoundFpr(display);
    if (whole > KORABUS_TEMP_MAX) {
        whole = KORABUS_TEMP_MAX;
    } else if (whole < KORABUS_TEMP_MIN) {
        whole = KORABUS_TEMP_MIN;
    }
    return static_cast<uint8_t>((whole + KORABUS_TEMP_OFFSET) & 0xFF);
}

uint8_t korabusTempFromDegreesCelsius(fpr_t celsius) {
    return korabusTempFromDisplayDegrees(tempCelToFahConversion(celsius));
}

fpr_t integerTempToFprCelsius(int16_t degrees) {
    return tempFahToCelConversion(korabusFprFromWhole(degrees));
}

fpr_t korabusTempToDegreesCelsius(uint8_t value) {
    return integerTempToFprCelsius(static_cast<int16_t>(value - KORABUS_TEMP_OFFSET));
}

int16_t fprCelsiusToZephKorabusTemp(fpr_t celsius) {
    return korabusRoundFpr(tempCelToFahConversion(celsius));
}

int16_t korabusHumidityFromRelativeHumidity(fpr_t humidity) {
    int16_t whole = korabusRoundFpr(humidity);
    if (whole > 100) {
        return 100;
    }
    return whole < 0 ? 0 : whole;
}

fpr_t integerPressureToFprCentimeters(int32_t value) {
    fpr_t pressure = korabusFprFromWhole(value);
    return displayTempScale() == TEMP_SCALE_FAHRENHEIT
               ? multiplyOrKeep(pressure, c_InchToCentimetre)
               : pressure;
}

fpr_t korabusPressureToCentimeters(uint8_t value) {
    return integerPressureToFprCentimeters(value);
}

fpr_t stringPressureToFprCentimeters(const char *text) {
    if (text == nullptr) {
        return 0;
    }
    // The integer part as the standard conversion reads it: blanks, a sign,
    // digits up to the first other character.
    const char *p = text;
    while (isspace(static_cast<unsigned char>(*p))) {
        p++;
    }
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') {
        p++;
    }
    int32_t whole = 0;
    for (; isdigit(static_cast<unsigned char>(*p)); p++) {
        whole = clampWhole(whole * 10 + (*p - '0'));
    }
    // The fraction: the digits after the first '.', cut to eight, scaled to
    // hundred-millionths.
    int32_t fraction = 0;
    const char *dot = text;
    while (*dot != '\0' && *dot != '.') {
        dot++;
    }
    if (*dot == '.') {
        int digits = 0;
        for (const char *f = dot + 1;
             digits < c_FractionDigits && isdigit(static_cast<unsigned char>(*f)); f++, digits++) {
            fraction = fraction * 10 + (*f - '0');
        }
        for (int d = digits; d < c_FractionDigits; d++) {
            fraction *= 10;
        }
    }
    // A negative value below one carries its sign on the fraction.
    if (negative && whole == 0) {
        fraction = -fraction;
    }
    fpr_t pressure = 0;
    fprGen(static_cast<int16_t>(negative ? -whole : whole), fraction, &pressure);
    return displayTempScale() == TEMP_SCALE_FAHRENHEIT
               ? multiplyOrKeep(pressure, c_InchToCentimetre)
               : pressure;
}

fpr_t integerWindSpeedToFprKph(int32_t speed) {
    fpr_t value = korabusFprFromWhole(speed);
    return displayTempScale() == TEMP_SCALE_FAHRENHEIT ? multiplyOrKeep(value, c_MphToKph) : value;
}

char *korabusDataTokenizeCommand(char *text, char **rest) {
    if (text == nullptr) {
        if (rest != nullptr) {
            *rest = nullptr;
        }
        return nullptr;
    }
    while (*text == ' ') {
        text++;
    }
    if (*text == '\0') {
        if (rest != nullptr) {
            *rest = text;
        }
        return nullptr;
    }
    char *token = text;
    while (*text != '\0' && *text != ' ') {
        text++;
    }
    if (*text == ' ') {
        *text++ = '\0';
    }
    if (rest != nullptr) {
        *rest = text;
    }
    return token;
}

char *korabusDataTokenDescValue(char *token, const char *descriptor) {
    if (token == nullptr || descriptor == nullptr) {
        return nullptr;
    }
    size_t n = strlen(descriptor);
    return strncmp(token, descriptor, n) == 0 ? token + n : nullptr;
}

bool korabusNumber(const char *text, int32_t *value) {
    if (text == nullptr) {
        return false;
    }
    // strtol would also skip leading white space, which a token may carry.
    const char *digits = *text == '+' || *text == '-' ? text + 1 : text;
    if (*digits < '0' || *digits > '9') {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    long long number = strtoll(text, &end, 10);
    if (*end != '\0' || errno == ERANGE || number < INT32_MIN || number > INT32_MAX) {
        return false;
    }
    *value = static_cast<int32_t>(number);
    return true;
}
