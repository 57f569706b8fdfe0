// Control-bus command strings: the command table, its handlers, the replies
// and the reports.
//
// Handlers parse all of their arguments before they change anything, so a
// command with a missing token, a token of an unexpected kind or a value out
// of range changes nothing and answers nothing. Every reply is built in one
// 65-byte buffer with the buffer's real size and sent as coprocessor packet
// 0x0C (the version answer as 0x18).
#include "korabus/korabus_command.h"

#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "coproc/coproc_msg.h"
#include "coproc/download.h"
#include "dispman/display_manager.h"
#include "graphics/screen.h"
#include "hvac/hvac_control.h"
#include "hvac/sensors.h"
#include "korabus/korabus_data.h"
#include "korabus/korabus_internal.h"
#include "pages/menu_pages.h"
#include "pages/pages.h"
#include "platform/platform.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using KorabusCommandHandler = void (*)(char *arguments);

struct KorabusCommand {
    const char *keyword;
    KorabusCommandHandler handler;
};

char g_commandBuf[KORABUS_REPLY_SIZE];
// Set once the screen saver's text has been taken off a dark panel.
uint8_t m_isScrSvrClear;

constexpr uint32_t c_UnknownCondition = 26;
constexpr int64_t c_SecondsPerDay = 86400;
constexpr int64_t c_SecondsPerHour = 3600;
constexpr int32_t c_MaxSecurityCode = 9999;
constexpr int32_t c_MaxLockTime = 60;
constexpr int32_t c_MaxLockRange = 10;
constexpr int32_t c_MaxFilterDays = 180;
constexpr int32_t c_YearsTo2000 = 100;
// Weather values beyond what a level carries (temperatures -120 to 135
// display degrees, one byte of wind speed or pressure) are refused: the
// pages have no room for them.
constexpr int32_t c_MaxWeatherByte = 255;
// A program start hhmm below 0 or above 2399 starts the period at 23:59.
constexpr int32_t c_LastStartCode = 2399;
constexpr int32_t c_LastStartTime = 2359;

// Most tokens a command of at most 64 characters can carry.
constexpr size_t c_MaxTokens = 33;

void sendReply() {
    coprocMsgSendReply(g_commandBuf);
}

void reply(const char *format, ...) __attribute__((format(printf, 1, 2)));
void reply(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(g_commandBuf, sizeof(g_commandBuf), format, args);
    va_end(args);
    sendReply();
}

// Splits text into at most max tokens; the rest of the text is ignored.
size_t splitTokens(char *text, char **tokens, size_t max) {
    size_t n = 0;
    char *rest = text;
    while (n < max) {
        char *token = korabusDataTokenizeCommand(rest, &rest);
        if (token == nullptr) {
            break;
        }
        tokens[n++] = token;
    }
    return n;
}

// The first descriptor of the list that the token begins with: its index,
// with *value the text after it; -1 for none.
template <size_t N>
int matchDescriptor(char *token, const std::array<const char *, N> &descriptors, char **value) {
    for (size_t i = 0; i < N; i++) {
        char *v = korabusDataTokenDescValue(token, descriptors[i]);
        if (v != nullptr) {
            *value = v;
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Reads tokens of the form descriptor-number in any order: values[i] and
// given[i] for descriptor i. False when a token has another descriptor.
template <size_t N>
bool readNumberFields(char *args, const std::array<const char *, N> &descriptors,
                      int32_t (&values)[N], bool (&given)[N]) {
    char *tokens[c_MaxTokens];
    size_t n = splitTokens(args, tokens, c_MaxTokens);
    for (size_t i = 0; i < n; i++) {
        char *value = nullptr;
        int which = matchDescriptor(tokens[i], descriptors, &value);
        if (which < 0) {
            return false;
        }
        if (!korabusNumber(value, &values[which])) {
            return false;
        }
        given[which] = true;
    }
    return true;
}

bool inRange(int32_t value, int32_t lo, int32_t hi) {
    return value >= lo && value <= hi;
}

// A humidity outside 0-100 % is refused: stored, it would make the next
// start take the whole record for damaged.
bool isPercent(int32_t value) {
    return inRange(value, 0, 100);
}

int16_t toInt16(int32_t value) {
    if (value > INT16_MAX) {
        return INT16_MAX;
    }
    return static_cast<int16_t>(value < INT16_MIN ? INT16_MIN : value);
}

bool displayIsFahrenheit() {
    TstatFmtSettings_t fmt;
    getThermostatFormatSettings(&fmt);
    return fmt.tempScale == TEMP_SCALE_FAHRENHEIT;
}

// Whole units of a fixed-point value, cut towards zero.
int integerPart(fpr_t value) {
    int16_t whole = 0;
    int32_t fraction = 0;
    fprDecode(value, &whole, &fraction);
    return whole;
}

// ---- Clock, backlight and screen --------------------------------------------------------------

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

void korabusCommandClock(char *args) {
    // "MM-DD-YY hh:mm[:ss]"
    enum { DATE, TIME, TOKENS };
    enum { MONTH, DAY, YEAR };
    enum { HOUR, MINUTE, SECOND };
    char *tokens[TOKENS];
    if (splitTokens(args, tokens, TOKENS) < TOKENS) {
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
    if (!inRange(date[MONTH], 1, 12) || !inRange(date[YEAR], 0, 99) ||
        !inRange(date[DAY], 1, daysInMonth(date[MONTH] - 1, c_YearsTo2000 + date[YEAR])) ||
        !inRange(time[HOUR], 0, 23) || !inRange(time[MINUTE], 0, 59) ||
        !inRange(time[SECOND], 0, 59)) {
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

void korabusCommandSleep(char *) {
    TstatBkLightCtl_t backlight;
    getThermostatBacklightSettings(&backlight);
    screenSetBacklightLevel(&g_display, backlight.inactiveBrightness != BACKLIGHT_INACTIVE_DIM
                                            ? DISPMAN_LEVEL_OFF
                                            : DISPMAN_LEVEL_DIM);
    clearBacklightTimerFlag();
}

void korabusCommandWake(char *) {
    displayManagerEnableBacklight();
    displayMainPage();
}

// The panel takes the new levels at once: the inactive one while the display
// sleeps (a dark panel loses the screen saver's text), else the active one.
void showBacklightLevels(const TstatBkLightCtl_t &backlight) {
    if (getBacklightTimerFlag() == 0) {
        if (backlight.inactiveBrightness == BACKLIGHT_INACTIVE_DIM) {
            screenSetBacklightLevel(&g_display, DISPMAN_LEVEL_DIM);
            m_isScrSvrClear = 0;
        } else {
            screenSetBacklightLevel(&g_display, DISPMAN_LEVEL_OFF);
            if (displayManagerScreenSaverShown() != 0 && m_isScrSvrClear == 0) {
                displayManagerRemoveScreenSaverText();
                m_isScrSvrClear = 1;
            }
        }
        return;
    }
    displayManagerEnableBacklight();
    // A stored level outside the three known ones lights the panel fully.
    size_t index = backlight.activeBrightness < c_BacklightActiveLevels.size()
                       ? static_cast<size_t>(backlight.activeBrightness)
                       : c_BacklightActiveLevels.size() - 1;
    screenSetBacklightLevel(&g_display, c_BacklightActiveLevels[index]);
}

void korabusCommandBacklight(char *args) {
    static constexpr std::array<const char *, 3> c_Descriptors = {"T", "A", "I"};
    enum { TIMEOUT, ACTIVE, INACTIVE, FIELDS };
    char *tokens[FIELDS];
    size_t n = splitTokens(args, tokens, FIELDS);
    TstatBkLightCtl_t backlight;
    getThermostatBacklightSettings(&backlight);
    for (size_t i = 0; i < n; i++) {
        char *value = nullptr;
        switch (matchDescriptor(tokens[i], c_Descriptors, &value)) {
        case TIMEOUT: {
            int32_t seconds = 0;
            if (!korabusNumber(value, &seconds) || !inRange(seconds, 0, UINT16_MAX)) {
                return;
            }
            backlight.backlightTimeout = static_cast<uint16_t>(seconds);
            break;
        }
        case ACTIVE:
            if (value[0] == 'L') {
                backlight.activeBrightness = BACKLIGHT_ACTIVE_LOW;
            } else if (value[0] == 'M') {
                backlight.activeBrightness = BACKLIGHT_ACTIVE_MED;
            } else if (value[0] == 'H') {
                backlight.activeBrightness = BACKLIGHT_ACTIVE_HIGH;
            }
            break;
        case INACTIVE:
            if (value[0] == 'D') {
                backlight.inactiveBrightness = BACKLIGHT_INACTIVE_DIM;
            } else if (value[0] == 'O') {
                backlight.inactiveBrightness = BACKLIGHT_INACTIVE_OFF;
            }
            break;
        default:
            return;
        }
    }
    setThermostatBacklightSettings(&backlight);
    korabusSave();
    korabusRequestPageRefresh(PAGE_USER_PREF);
    showBacklightLevels(backlight);
}

void korabusCommandMessageScreen(char *args) {
    char *rest = nullptr;
    char *word = korabusDataTokenizeCommand(args, &rest);
    if (word == nullptr) {
        return;
    }
    if (strcmp(word, "CLEAR") == 0) {
        displayManagerEnableBacklight();
        displayMainPage();
        return;
    }
    // The text is everything after the blank that follows "DISP".
    if (strcmp(word, "DISP") != 0 || rest == nullptr || *rest == '\0') {
        return;
    }
    char *text = rest;
    if (*text == '"') {
        text++;
        char *quote = strchr(text, '"');
        if (quote != nullptr) {
            *quote = '\0';
        }
    }
    displayManagerEnableBacklight();
    displayMessageScreenPage(text);
}

// ---- Factory reset ------------------------------------------------------------------------------

void korabusCommandZap(char *) {
    if (restoreTstatSysCfgFactoryDefault() == -1) {
        return;
    }
    initialiseTStatFormat();
    // The control frame works on copies of the settings: give it the
    // factory ones, or it would go on controlling with the old equipment.
    initialiseHvacAlgorithms();
    initialiseHoldModeMenu();
    initialiseProgramMenu();
    initialiseVacationModeMenu();
    switch (dispManGetCurrentPage()) {
    case PAGE_HOLD:
        getHoldModeSPFromDataDict();
        break;
    case PAGE_PROGRAM:
        getCurrDayProgModeSPFromDataDict(getProgramMenuDay());
        break;
    case PAGE_VACATION:
        getVacModeSPFromDataDict();
        break;
    case PAGE_MAIN:
        if (displayManagerScreenSaverShown() == 0) {
            displayMainPage();
        }
        break;
    default:
        break;
    }
    coprocMsgSendVersionKnown();
    g_IsZapCommand = 1;
    korabusSave();
}

// ---- Forecast -----------------------------------------------------------------------------------

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
    return inRange(degrees, KORABUS_TEMP_MIN, KORABUS_TEMP_MAX);
}

void forecastTemperatures(char *args, bool high) {
    char *tokens[FORECAST_DAYS];
    if (splitTokens(args, tokens, FORECAST_DAYS) < FORECAST_DAYS) {
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
        fpr_t celsius = integerTempToFprCelsius(toInt16(degrees[i]));
        if (high) {
            forecast.highTemp[i] = celsius;
        } else {
            forecast.lowTemp[i] = celsius;
        }
    }
    setFiveDayForecast(&forecast);
    forecastMarkReceived(high ? FORECAST_ALL_HIGHS : FORECAST_ALL_LOWS);
}

void korabusCommandForecastHigh(char *args) {
    forecastTemperatures(args, true);
}

void korabusCommandForecastLow(char *args) {
    forecastTemperatures(args, false);
}

void korabusCommandForecastKeywords(char *args) {
    char *tokens[FORECAST_DAYS + 1];
    size_t n = splitTokens(args, tokens, FORECAST_DAYS + 1);
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
    size_t n = splitTokens(args, tokens, FIELDS);
    TstatCurrentForecast_t current;
    getCurrentForecast(&current);
    uint32_t received = 0;
    for (size_t i = 0; i < n; i++) {
        char *value = nullptr;
        int which = matchDescriptor(tokens[i], c_Descriptors, &value);
        // Every descriptor but the wind direction carries a number.
        int32_t number = 0;
        if (which != WIND_DIRECTION && which >= 0 && !korabusNumber(value, &number)) {
            return;
        }
        if (((which == FEELS_LIKE || which == DEW_POINT) && !isWeatherTemperature(number)) ||
            (which == WIND_SPEED && !inRange(number, 0, c_MaxWeatherByte)) ||
            (which == HUMIDITY && !isPercent(number))) {
            return;
        }
        switch (which) {
        case FEELS_LIKE:
            current.feelsLikeTemp = integerTempToFprCelsius(toInt16(number));
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
            current.dewPoint = integerTempToFprCelsius(toInt16(number));
            received |= FORECAST_DEW_POINT;
            break;
        default:
            return;
        }
    }
    setCurrentForecast(&current);
    forecastMarkReceived(received);
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

void korabusCommandSetPressure(char *args) {
    char *token = korabusDataTokenizeCommand(args, nullptr);
    if (token == nullptr || !isPressure(token)) {
        return;
    }
    setBarometricPressure(stringPressureToFprCentimeters(token));
}

// ---- Setpoints, mode and program ---------------------------------------------------------------

// Heat and cool setpoints in whole display degrees, as °C. The store's write
// rule settles them: each is held within the setpoint limits and the other
// is pushed to keep the deadband.
void readSetPoints(int32_t heatDegrees, int32_t coolDegrees, fpr_t *heat, fpr_t *cool) {
    *heat = integerTempToFprCelsius(toInt16(heatDegrees));
    *cool = integerTempToFprCelsius(toInt16(coolDegrees));
}

void korabusCommandSetPoints(char *args) {
    static constexpr std::array<const char *, 2> c_Descriptors = {"H", "D"};
    enum { HUMIDIFY, DEHUMIDIFY, FIELDS };
    int32_t values[FIELDS] = {0, 0};
    bool given[FIELDS] = {false, false};
    if (!readNumberFields(args, c_Descriptors, values, given)) {
        return;
    }
    if (!given[HUMIDIFY] || !given[DEHUMIDIFY] || !isPercent(values[HUMIDIFY]) ||
        !isPercent(values[DEHUMIDIFY])) {
        return;
    }
    korabusIncDecHumiditySetpoint(korabusFprFromWhole(values[HUMIDIFY]),
                                  korabusFprFromWhole(values[DEHUMIDIFY]));
}

// The fields of the mode command: "M" the mode, then the set points, the
// vacation's humidities and its length in days and hours.
constexpr std::array<const char *, 7> c_ModeDescriptors = {"M", "H", "C", "U", "D", "Y", "R"};
struct ModeFields {
    enum Field { MODE, HEAT, COOL, HUMIDIFY, DEHUMIDIFY, DAYS, HOURS, COUNT };
    int32_t values[COUNT] = {};
    bool given[COUNT] = {};
};

enum class ModeRead { Refused, ProgramNow, Read };

// The mode named by the "M" field; false for another text.
bool modeNamed(const char *value, ThermostatMode *mode) {
    if (value[0] == 'H' && value[1] == '\0') {
        *mode = TSTAT_MODE_HOLD;
    } else if (value[0] == 'P' && value[1] == 'H' && value[2] == '\0') {
        *mode = TSTAT_MODE_PERMANENT_HOLD;
    } else if (value[0] == 'V' && value[1] == '\0') {
        *mode = TSTAT_MODE_VACATION;
    } else {
        return false;
    }
    return true;
}

// Reads the fields in order into *fields and the mode into *mode. "M:P"
// goes back to the program at once: whatever follows is not looked at.
ModeRead readModeFields(char *args, ModeFields *fields, ThermostatMode *mode) {
    char *tokens[ModeFields::COUNT];
    size_t n = splitTokens(args, tokens, ModeFields::COUNT);
    for (size_t i = 0; i < n; i++) {
        char *value = nullptr;
        int which = matchDescriptor(tokens[i], c_ModeDescriptors, &value);
        if (which < 0) {
            return ModeRead::Refused;
        }
        fields->given[which] = true;
        if (which != ModeFields::MODE) {
            if (!korabusNumber(value, &fields->values[which])) {
                return ModeRead::Refused;
            }
        } else if (value[0] == 'P' && value[1] == '\0') {
            return ModeRead::ProgramNow;
        } else if (!modeNamed(value, mode)) {
            return ModeRead::Refused;
        }
    }
    return ModeRead::Read;
}

// The hold set points of the command; false when one is missing.
bool storeHoldSetPoints(const ModeFields &fields) {
    using enum ModeFields::Field;
    if (!fields.given[HEAT] || !fields.given[COOL]) {
        return false;
    }
    fpr_t heat = 0;
    fpr_t cool = 0;
    readSetPoints(fields.values[HEAT], fields.values[COOL], &heat, &cool);
    TstatSetPoint_t hold;
    getHoldThermostatSettings(&hold);
    hold.heatSetPoint = heat;
    hold.coolSetPoint = cool;
    setHoldThermostatSettings(&hold);
    korabusRequestPageRefresh(PAGE_HOLD);
    return true;
}

// The vacation of the command; false when a field is missing or out of range.
bool storeVacation(const ModeFields &fields) {
    using enum ModeFields::Field;
    for (int field = HEAT; field < COUNT; field++) {
        if (!fields.given[field]) {
            return false;
        }
    }
    const int32_t *values = fields.values;
    // Days and hours are kept as bytes, so a larger count would leave a
    // vacation page that disagrees with its end; humidities are percent.
    if (!isPercent(values[HUMIDIFY]) || !isPercent(values[DEHUMIDIFY]) ||
        !inRange(values[DAYS], 0, UINT8_MAX) || !inRange(values[HOURS], 0, UINT8_MAX)) {
        return false;
    }
    fpr_t heat = 0;
    fpr_t cool = 0;
    readSetPoints(values[HEAT], values[COOL], &heat, &cool);
    TstatSetPoint_t vacation;
    getVacationThermostatSettings(&vacation);
    vacation.heatSetPoint = heat;
    vacation.coolSetPoint = cool;
    vacation.humidifySetPoint = korabusFprFromWhole(values[HUMIDIFY]);
    vacation.dehumidifySetPoint = korabusFprFromWhole(values[DEHUMIDIFY]);
    vacation.startHour = static_cast<uint8_t>(values[DAYS]);
    vacation.startMinute = static_cast<uint8_t>(values[HOURS]);
    vacation.endTime =
        util_time(nullptr) + values[DAYS] * c_SecondsPerDay + values[HOURS] * c_SecondsPerHour;
    setVacationThermostatSettings(&vacation);
    korabusRequestPageRefresh(PAGE_VACATION);
    return true;
}

void korabusCommandMode(char *args) {
    ModeFields fields;
    ThermostatMode mode = getThermostatMode();
    ModeRead read = readModeFields(args, &fields, &mode);
    if (read == ModeRead::Refused) {
        return;
    }
    if (read == ModeRead::ProgramNow) {
        mode = TSTAT_MODE_PROGRAM;
    } else if (mode == TSTAT_MODE_HOLD || mode == TSTAT_MODE_PERMANENT_HOLD) {
        if (!storeHoldSetPoints(fields)) {
            return;
        }
    } else if (mode == TSTAT_MODE_VACATION) {
        if (!storeVacation(fields)) {
            return;
        }
    } else if (mode != TSTAT_MODE_PROGRAM) {
        // A stored mode outside the four known ones is left alone.
        return;
    }
    setThermostatMode(mode);
    korabusSave();
}

// Day 0-6 and period 1-4 of the program commands; -1 when out of range.
bool programPeriod(int32_t day, int32_t period, uint32_t *dayOut, uint32_t *periodOut) {
    if (!inRange(day, 0, TSTAT_DAYS_PER_WEEK - 1) || !inRange(period, 1, TSTAT_PERIODS_PER_DAY)) {
        return false;
    }
    *dayOut = static_cast<uint32_t>(day);
    *periodOut = static_cast<uint32_t>(period - 1);
    return true;
}

void korabusCommandGetProgramConfiguration(char *args) {
    static constexpr std::array<const char *, 2> c_Descriptors = {"SP", "D"};
    enum { PERIOD, DAY, FIELDS };
    int32_t values[FIELDS] = {0, 0};
    bool given[FIELDS] = {false, false};
    if (!readNumberFields(args, c_Descriptors, values, given)) {
        return;
    }
    uint32_t day = 0;
    uint32_t period = 0;
    if (!given[PERIOD] || !given[DAY] ||
        !programPeriod(values[DAY], values[PERIOD], &day, &period)) {
        return;
    }
    TstatSetPoint_t setPoint;
    if (getProgramThermostatSettings(period, day, &setPoint) != 0) {
        return;
    }
    reply("PG D%d SP%d HT%d C%d HM%d DM%d T%02u%02u", static_cast<int>(day),
          static_cast<int>(period + 1), fprCelsiusToZephKorabusTemp(setPoint.heatSetPoint),
          fprCelsiusToZephKorabusTemp(setPoint.coolSetPoint),
          integerPart(setPoint.humidifySetPoint), integerPart(setPoint.dehumidifySetPoint),
          setPoint.startHour, setPoint.startMinute);
}

void korabusCommandSetProgramConfiguration(char *args) {
    static constexpr std::array<const char *, 7> c_Descriptors = {"SP", "HT", "HM", "DM",
                                                                  "D",  "C",  "T"};
    enum { PERIOD, HEAT, HUMIDIFY, DEHUMIDIFY, DAY, COOL, TIME, FIELDS };
    int32_t values[FIELDS] = {};
    bool given[FIELDS] = {};
    if (!readNumberFields(args, c_Descriptors, values, given)) {
        return;
    }
    for (int field = PERIOD; field < TIME; field++) {
        if (!given[field]) {
            return;
        }
    }
    uint32_t day = 0;
    uint32_t period = 0;
    fpr_t heat = 0;
    fpr_t cool = 0;
    if (!programPeriod(values[DAY], values[PERIOD], &day, &period) ||
        !isPercent(values[HUMIDIFY]) || !isPercent(values[DEHUMIDIFY])) {
        return;
    }
    readSetPoints(values[HEAT], values[COOL], &heat, &cool);
    int32_t start = values[TIME];
    if (given[TIME]) {
        if (start < 0 || start > c_LastStartCode) {
            start = c_LastStartTime;
        } else if (start % 100 > 59) {
            // Not a time of day.
            return;
        }
    }
    TstatSetPoint_t setPoint;
    if (getProgramThermostatSettings(period, day, &setPoint) != 0) {
        return;
    }
    fpr_t humidify = korabusFprFromWhole(values[HUMIDIFY]);
    fpr_t dehumidify = korabusFprFromWhole(values[DEHUMIDIFY]);
    setPoint.heatSetPoint = heat;
    setPoint.coolSetPoint = cool;
    setPoint.humidifySetPoint = humidify;
    setPoint.dehumidifySetPoint = dehumidify;
    if (given[TIME]) {
        setPoint.startHour = static_cast<uint8_t>(start / 100);
        setPoint.startMinute = static_cast<uint8_t>(start % 100);
    }
    setProgramThermostatSettings(period, day, &setPoint);
    // The humidity setpoints are the same in every period.
    korabusIncDecHumiditySetpoint(humidify, dehumidify);
}

// ---- Formats and lockout ------------------------------------------------------------------------

void korabusCommandFormat(char *args) {
    char *tokens[c_MaxTokens];
    size_t n = splitTokens(args, tokens, c_MaxTokens);
    TstatFmtSettings_t fmt;
    getThermostatFormatSettings(&fmt);
    for (size_t i = 0; i < n; i++) {
        const char *t = tokens[i];
        if (t[0] == 'S' && t[1] == 'F') {
            fmt.tempScale = TEMP_SCALE_FAHRENHEIT;
        } else if (t[0] == 'S' && t[1] == 'C') {
            fmt.tempScale = TEMP_SCALE_CELSIUS;
        } else if (t[0] == 'D' && t[1] == 'D') {
            fmt.dateFormat = DATE_FORMAT_DD_MM_YY;
        } else if (t[0] == 'D' && t[1] == 'M') {
            fmt.dateFormat = DATE_FORMAT_MM_DD_YY;
        } else if (t[0] == 'D' && t[1] == 'Y') {
            fmt.dateFormat = DATE_FORMAT_YY_MM_DD;
        } else if (t[0] == 'T' && t[1] == '1') {
            fmt.timeFormat = TIME_FORMAT_12_HOUR;
        } else if (t[0] == 'T' && t[1] == '2') {
            fmt.timeFormat = TIME_FORMAT_24_HOUR;
        }
    }
    setThermostatFormatSettings(&fmt);
    initialiseTStatFormat();
    korabusSave();
    getUserPrefFromDataDict();
}

void korabusCommandLockout(char *args) {
    static constexpr std::array<const char *, 7> c_Descriptors = {"MR", "FR", "TR", "MT",
                                                                  "FT", "TT", "RR"};
    enum { MODE, FAN, TEMP, MODE_TIME, FAN_TIME, TEMP_TIME, RANGE, FIELDS };
    char *tokens[FIELDS];
    size_t n = splitTokens(args, tokens, FIELDS);
    TstatLockoutCfg_t lockout;
    getLockoutConfiguration(&lockout);
    for (size_t i = 0; i < n; i++) {
        char *text = nullptr;
        int which = matchDescriptor(tokens[i], c_Descriptors, &text);
        int32_t value = 0;
        if (which >= 0 && !korabusNumber(text, &value)) {
            return;
        }
        LockState lock = value != 0 ? LOCK_LOCKED : LOCK_UNLOCKED;
        // Lock times are minutes 0-60 and the range limit degrees 0-10, as the
        // lockout page steps them.
        switch (which) {
        case MODE:
            lockout.modeLock = lock;
            break;
        case FAN:
            lockout.fanLock = lock;
            break;
        case TEMP:
            lockout.tempLock = lock;
            break;
        case MODE_TIME:
        case FAN_TIME:
        case TEMP_TIME:
            if (!inRange(value, 0, c_MaxLockTime)) {
                return;
            }
            if (which == MODE_TIME) {
                lockout.modeLockTime = static_cast<uint16_t>(value);
            } else if (which == FAN_TIME) {
                lockout.fanLockTime = static_cast<uint16_t>(value);
            } else {
                lockout.tempLockTimeLimit = static_cast<uint16_t>(value);
            }
            break;
        case RANGE:
            if (!inRange(value, 0, c_MaxLockRange)) {
                return;
            }
            lockout.tempLockRangeLimit = static_cast<uint8_t>(value);
            break;
        default:
            return;
        }
    }
    setLockoutConfiguration(&lockout);
    korabusSave();
    korabusRequestPageRefresh(PAGE_BUTTON_LOCKOUT);
    getButtonLockoutFromDataDict();
    resetLockoutFlags();
}

void korabusCommandSecurityCode(char *args) {
    char *token = korabusDataTokenizeCommand(args, nullptr);
    if (token == nullptr) {
        return;
    }
    // The code is entered as four digits; a larger one could never be entered.
    int32_t code = 0;
    if (!korabusNumber(token, &code) || !inRange(code, 0, c_MaxSecurityCode)) {
        return;
    }
    setSecurityCode(static_cast<uint16_t>(code));
    korabusSave();
}

// ---- Reports and queries ------------------------------------------------------------------------

void korabusCommandSettings(char *) {
    TstatSetPoint_t inForce;
    if (getCurrentThermostatSettings(&inForce) != 0) {
        return;
    }
    reply("SP H%d D%d", integerPart(inForce.humidifySetPoint),
          integerPart(inForce.dehumidifySetPoint));
    platformSleepMs(KORABUS_SEND_PAUSE_MS);
    korabusReportModeCommand();
    platformSleepMs(KORABUS_SEND_PAUSE_MS);
    korabusReportFormatCommand();
}

void korabusCommandSerial(char *) {
    uint8_t serial[TSTAT_SERIAL_NUMBER_LEN] = {};
    // Blank flash or a damaged record has no serial number to tell.
    if (getSerialNumber(serial) != 0) {
        memset(serial, 0, sizeof(serial));
    }
    size_t n = snprintf(g_commandBuf, sizeof(g_commandBuf), "SERIAL ");
    for (size_t i = 0; i < TSTAT_SERIAL_NUMBER_LEN && serial[i] != '\0'; i++) {
        g_commandBuf[n++] = static_cast<char>(serial[i]);
    }
    g_commandBuf[n] = '\0';
    sendReply();
}

void korabusCommandWriteSerial(char *args) {
    char *token = korabusDataTokenizeCommand(args, nullptr);
    if (token == nullptr) {
        return;
    }
    // The record holds 14 characters; a shorter number is padded with NULs,
    // a longer one cannot be stored.
    size_t length = strlen(token);
    if (length > TSTAT_SERIAL_NUMBER_LEN) {
        return;
    }
    uint8_t serial[TSTAT_SERIAL_NUMBER_LEN] = {};
    memcpy(serial, token, length);
    setSerialNumber(serial);
}

void korabusCommandHostVer(char *) {
    reply("%s", COPROC_APP_VERSION);
}

void korabusCommandGetFilterChangeDays(char *) {
    reply("FILTER %u", getTstatFilterChangeDays());
}

void korabusCommandSetFilterChangeDays(char *args) {
    char *token = korabusDataTokenizeCommand(args, nullptr);
    if (token == nullptr) {
        return;
    }
    int32_t days = 0;
    if (!korabusNumber(token, &days) || days < 0) {
        return;
    }
    setTstatFilterChangeDays(static_cast<uint8_t>(days > c_MaxFilterDays ? c_MaxFilterDays : days));
    korabusRequestPageRefresh(PAGE_SETTINGS);
    korabusSave();
}

void korabusCommandGetExternalTemperature(char *) {
    TstatCfg_t cfg;
    getTstatConfiguration(&cfg);
    if (cfg.externalTempSensor == EXT_TEMP_SENSOR_OUTDOOR ||
        cfg.externalTempSensor == EXT_TEMP_SENSOR_INDOOR) {
        reply("EXTERNAL_TEMP-%d", fprCelsiusToZephKorabusTemp(Sensors_GetExternalTemp(0)));
    } else {
        reply("EXTERNAL_TEMP-OFF");
    }
}

void korabusCommandVersion(char *) {
    korabusCommandGetVersion();
}

void korabusCommandSflash0(char *) {}

void korabusCommandSflash1(char *) {
    downloadStart(DOWNLOAD_APP_ARCHIVE);
}

void korabusCommandSflash2(char *) {
    downloadStart(DOWNLOAD_GFX_ARCHIVE);
}

// clang-format off
constexpr KorabusCommand g_korabusCommands[] = {
    {"CLOCK",          korabusCommandClock},
    {"SLEEP",          korabusCommandSleep},
    {"WAKE",           korabusCommandWake},
    {"ZAP!",           korabusCommandZap},
    {"FH",             korabusCommandForecastHigh},
    {"FL",             korabusCommandForecastLow},
    {"FK",             korabusCommandForecastKeywords},
    {"CF",             korabusCommandCurrentForecast},
    {"SP",             korabusCommandSetPoints},
    {"MD",             korabusCommandMode},
    {"FM",             korabusCommandFormat},
    {"LK",             korabusCommandLockout},
    {"ST",             korabusCommandSettings},
    {"BK",             korabusCommandBacklight},
    {"?PG",            korabusCommandGetProgramConfiguration},
    {"PG",             korabusCommandSetProgramConfiguration},
    {"CD",             korabusCommandSecurityCode},
    {"?SERIAL",        korabusCommandSerial},
    {"SFLASH0\r",      korabusCommandSflash0},
    {"SFLASH1\r",      korabusCommandSflash1},
    {"SFLASH2\r",      korabusCommandSflash2},
    {"SERIAL",         korabusCommandWriteSerial},
    {"HVER",           korabusCommandHostVer},
    {"?FILTER",        korabusCommandGetFilterChangeDays},
    {"FILTER",         korabusCommandSetFilterChangeDays},
    {"PRESSURE",       korabusCommandSetPressure},
    {"MESSAGE",        korabusCommandMessageScreen},
    {"?EXTERNAL_TEMP", korabusCommandGetExternalTemperature},
    {"VER",            korabusCommandVersion},
    {nullptr,          nullptr},
};
// clang-format on

} // namespace

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

void korabusDataProcessCommand(char *command) {
    char *rest = nullptr;
    char *keyword = korabusDataTokenizeCommand(command, &rest);
    if (keyword == nullptr) {
        return;
    }
    for (const KorabusCommand *c = g_korabusCommands; c->keyword != nullptr; c++) {
        if (strcmp(c->keyword, keyword) == 0) {
            c->handler(rest);
            return;
        }
    }
}

void korabusReportModeCommand() {
    initialiseTStatFormat();
    TstatSetPoint_t inForce;
    // Reading the setpoints in force may end an expired hold or vacation, so
    // the mode is read after it.
    int status = getCurrentThermostatSettings(&inForce);
    ThermostatMode mode = getThermostatMode();
    if (status != 0 || mode > TSTAT_MODE_PERMANENT_HOLD) {
        reply("MO ");
        return;
    }
    static constexpr std::array<const char *, 4> c_ModeNames = {"MP", "MV", "MH", "MPH"};
    int heat = fprCelsiusToZephKorabusTemp(inForce.heatSetPoint);
    int cool = fprCelsiusToZephKorabusTemp(inForce.coolSetPoint);
    if (mode != TSTAT_MODE_VACATION) {
        reply("MD %s H%d C%d ", c_ModeNames[mode], heat, cool);
        return;
    }
    TstatSetPoint_t vacation;
    getVacationThermostatSettings(&vacation);
    reply("MD %s H%d C%d U%d D%d Y%d R%d ", c_ModeNames[mode], heat, cool,
          korabusRoundFpr(inForce.humidifySetPoint), korabusRoundFpr(inForce.dehumidifySetPoint),
          vacation.startHour, vacation.startMinute);
}

void korabusReportFormatCommand() {
    reply("FM %s", displayIsFahrenheit() ? "SF" : "SC");
}

void korabusMessageScreenClearCommand() {
    reply("MESSAGE CLEAR");
}

void korabusCommandGetVersion() {
    coprocMsgSendVersion(getKorabusVersion());
}

void korabusCommandReset() {
    m_isScrSvrClear = 0;
    memset(g_commandBuf, 0, sizeof(g_commandBuf));
}
