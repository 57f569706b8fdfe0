// Control-bus commands of the clock and the weather: "CLOCK", the five-day
// forecast ("FH", "FL", "FK"), the current conditions ("CF") and the
// barometric pressure ("PRESSURE").
#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/schedule.h"
#include "korabus/korabus_command_support.h"
#include "korabus/korabus_data.h"
#include "korabus/korabus_internal.h"

#include <cstring>

namespace {

constexpr uint32_t c_UnknownCondition = 26;
constexpr int32_t c_YearsTo2000 = 100;
// Weather values beyond what a level carries (temperatures -120 to 135
// display degrees, one byte of wind speed or pressure) are refused: the
// pages have no room for them.
constexpr int32_t c_MaxWeatherByte = 255;

// Splits a "MM-DD-YY" or "hh:mm:ss" token into at most three numbers;
// further fields are ignored. Returns the number of fields, 0 when one of
// them is not a number.
size_t splitFields(char *token, char separator, int32_t fields[3]) {
    size_t n = 0;
    char *p = token;
    while (n < 3) {
        char *next = strchr(p, separator);
        if (next != nullptr) {
            *next = '\0';
        }
        if (!korabusNumber(p, &fields[n++])) {
            return 0;
        }
        if (next == nullptr) {
            break;
        }
        p = next + 1;
    }
    return n;
}

struct ConditionKeyword {
    uint32_t code;
    const char *keyword;
};

// clang-format off
constexpr ConditionKeyword conditionStringToEnum[] = {
    {1, "BLZ"},    {2, "BLSN"},   {3, "CLEAR"},   {4, "CLDY"},   {5, "DRZL"},   {6, "FAIR"},
    {7, "FOG"},    {8, "FZDRZL"}, {9, "FZRAIN"},  {10, "HAZE"},  {11, "HUMID"}, {12, "ICE"},
    {13, "MCLDY"}, {14, "MSUN"},  {15, "PCLDY"},  {16, "RAIN"},  {17, "RAINSW"},{18, "RAINSN"},
    {19, "SLEET"}, {20, "SMOKE"}, {21, "SNOW"},   {22, "SNOWFL"},{23, "SNOWSW"},{24, "SUN"},
    {25, "TSTORM"},{26, "UNK"},   {27, "VCOLD"},  {28, "WINDY"}, {29, "DUST"},
    {0, nullptr},
};
// clang-format on

bool isWeatherTemperature(int32_t degrees) {
    return korabusInRange(degrees, KORABUS_TEMP_MIN, KORABUS_TEMP_MAX);
}

void forecastTemperatures(char *args, bool high) {
    char *tokens[FORECAST_DAYS];
    if (korabusSplitTokens(args, tokens, FORECAST_DAYS) < FORECAST_DAYS) {
        return;
    }
    int32_t degrees[FORECAST_DAYS];
    for (size_t i = 0; i < FORECAST_DAYS; i++) {
        if (!korabusNumber(tokens[i], &degrees[i]) || !isWeatherTemperature(degrees[i])) {
            return;
        }
    }
    TstatFiveDayForecast_t forecast;
    getFiveDayForecast(&forecast);
    for (size_t i = 0; i < FORECAST_DAYS; i++) {
        fpr_t celsius = integerTempToFprCelsius(korabusToInt16(degrees[i]));
        if (high) {
            forecast.highTemp[i] = celsius;
        } else {
            forecast.lowTemp[i] = celsius;
        }
    }
    setFiveDayForecast(&forecast);
    forecastMarkReceived(high ? FORECAST_ALL_HIGHS : FORECAST_ALL_LOWS);
}

// A pressure as the controller writes it: an optional sign, digits and at
// most one decimal point, with at most a byte's worth of whole units.
bool isPressure(const char *text) {
    const char *p = *text == '+' || *text == '-' ? text + 1 : text;
    bool digits = false;
    bool point = false;
    int32_t whole = 0;
    for (; *p != '\0'; p++) {
        if (*p >= '0' && *p <= '9') {
            digits = true;
            whole = point ? whole : whole * 10 + (*p - '0');
            if (whole > c_MaxWeatherByte) {
                return false;
            }
        } else if (*p == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digits;
}

} // namespace

void korabusCommandClock(char *args) {
    // "MM-DD-YY hh:mm[:ss]"
    enum { DATE, TIME, TOKENS };
    enum { MONTH, DAY, YEAR };
    enum { HOUR, MINUTE, SECOND };
    char *tokens[TOKENS];
    if (korabusSplitTokens(args, tokens, TOKENS) < TOKENS) {
        return;
    }
    int32_t date[3] = {0, 0, 0};
    int32_t time[3] = {0, 0, 0};
    if (splitFields(tokens[DATE], '-', date) < 3 || splitFields(tokens[TIME], ':', time) < 2) {
        return;
    }
    // An impossible date or time never reaches the system clock: the year
    // of the record would be wrong, and the board's date command may take
    // 31 April as 1 May.
    if (!korabusInRange(date[MONTH], 1, 12) || !korabusInRange(date[YEAR], 0, 99) ||
        !korabusInRange(date[DAY], 1, daysInMonth(date[MONTH] - 1, c_YearsTo2000 + date[YEAR])) ||
        !korabusInRange(time[HOUR], 0, 23) || !korabusInRange(time[MINUTE], 0, 59) ||
        !korabusInRange(time[SECOND], 0, 59)) {
        return;
    }
    TstatClockCfg_t clock{};
    clock.month = static_cast<uint8_t>(date[MONTH]);
    clock.day = static_cast<uint8_t>(date[DAY]);
    clock.year = static_cast<uint16_t>(2000 + date[YEAR]);
    clock.hour = static_cast<uint8_t>(time[HOUR]);
    clock.minute = static_cast<uint8_t>(time[MINUTE]);
    clock.second = static_cast<uint8_t>(time[SECOND]);
    // Runs "date MMDDhhmmYYYY.ss" and "/sbin/hwclock --systohc" and keeps
    // the year in the record.
    setClockConfiguration(&clock);
    korabusRequestPageRefresh(PAGE_ADV_SETUP);
}

// ---- Forecast -----------------------------------------------------------------------------------

void korabusCommandForecastHigh(char *args) {
    forecastTemperatures(args, true);
}

void korabusCommandForecastLow(char *args) {
    forecastTemperatures(args, false);
}

void korabusCommandForecastKeywords(char *args) {
    char *tokens[FORECAST_DAYS + 1];
    size_t n = korabusSplitTokens(args, tokens, FORECAST_DAYS + 1);
    if (n < FORECAST_DAYS) {
        return;
    }
    TstatFiveDayForecast_t forecast;
    getFiveDayForecast(&forecast);
    for (size_t i = 0; i < FORECAST_DAYS; i++) {
        forecast.condition[i] = convertConditionStringToEnum(tokens[i]);
    }
    forecast.currentCondition = n > FORECAST_DAYS
                                    ? convertConditionStringToEnum(tokens[FORECAST_DAYS])
                                    : c_UnknownCondition;
    setFiveDayForecast(&forecast);
}

void korabusCommandCurrentForecast(char *args) {
    static constexpr std::array<const char *, 5> c_Descriptors = {"F", "W", "S", "H", "D"};
    enum { FEELS_LIKE, WIND_DIRECTION, WIND_SPEED, HUMIDITY, DEW_POINT, FIELDS };
    char *tokens[FIELDS];
    size_t n = korabusSplitTokens(args, tokens, FIELDS);
    TstatCurrentForecast_t current;
    getCurrentForecast(&current);
    uint32_t received = 0;
    for (size_t i = 0; i < n; i++) {
        char *value = nullptr;
        int which = korabusMatchDescriptor(tokens[i], c_Descriptors, &value);
        // Every descriptor but the wind direction carries a number.
        int32_t number = 0;
        if (which != WIND_DIRECTION && which >= 0 && !korabusNumber(value, &number)) {
            return;
        }
        if (((which == FEELS_LIKE || which == DEW_POINT) && !isWeatherTemperature(number)) ||
            (which == WIND_SPEED && !korabusInRange(number, 0, c_MaxWeatherByte)) ||
            (which == HUMIDITY && !korabusIsPercent(number))) {
            return;
        }
        switch (which) {
        case FEELS_LIKE:
            current.feelsLikeTemp = integerTempToFprCelsius(korabusToInt16(number));
            received |= FORECAST_FEELS_LIKE;
            break;
        case WIND_DIRECTION:
            memset(current.windDirection, 0, sizeof(current.windDirection));
            strncpy(current.windDirection, value, FORECAST_WIND_DIR_CHARS);
            received |= FORECAST_WIND_DIRECTION;
            break;
        case WIND_SPEED:
            current.windSpeed = integerWindSpeedToFprKph(number);
            received |= FORECAST_WIND_SPEED;
            break;
        case HUMIDITY:
            current.relativeHumidity = korabusFprFromWhole(number);
            received |= FORECAST_HUMIDITY;
            break;
        case DEW_POINT:
            current.dewPoint = integerTempToFprCelsius(korabusToInt16(number));
            received |= FORECAST_DEW_POINT;
            break;
        default:
            return;
        }
    }
    setCurrentForecast(&current);
    forecastMarkReceived(received);
}

void korabusCommandSetPressure(char *args) {
    char *token = korabusDataTokenizeCommand(args, nullptr);
    if (token == nullptr || !isPressure(token)) {
        return;
    }
    setBarometricPressure(stringPressureToFprCentimeters(token));
}

uint32_t convertConditionStringToEnum(const char *keyword) {
    if (keyword == nullptr) {
        return c_UnknownCondition;
    }
    for (const ConditionKeyword *c = conditionStringToEnum; c->keyword != nullptr; c++) {
        if (strcmp(c->keyword, keyword) == 0) {
            return c->code;
        }
    }
    return c_UnknownCondition;
}
