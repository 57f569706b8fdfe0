// Weather pages and panel: current conditions, five-day forecast, and the
// condition images of the forecast store's codes.
#include "pages/forecast_pages.h"

#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "hvac/sensors.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "pages/main_page.h"
#include "pages/menu_pages.h"
#include "pages/pages.h"

#include <cstdio>
#include <cstring>

ScreenItem *m_CurrFcastTemp = nullptr;
ScreenItem *m_MainScrFcastPtr[4] = {};

namespace {

// Five-day values: per day d, record 3d the high, 3d + 1 the low (display
// scale), 3d + 2 the condition code.
constexpr uint8_t FIVE_DAY_RECORDS_PER_DAY = 3;
constexpr uint8_t FIVE_DAY_HIGH = 0;
constexpr uint8_t FIVE_DAY_LOW = 1;
constexpr uint8_t FIVE_DAY_CONDITION = 2;
constexpr uint8_t FIVE_DAY_MENU_ITEMS = 15;

// Items of the forecast screens.
ScreenItem *m_CurrentFcastPtr[5] = {}; // FeelsLike, Wind, Humidity, DewPoint, Pressure labels
ScreenItem *fiveDayScreenImages[5] = {};
ScreenItem *fiveDayFCastInfo[5] = {};
ScreenItem *m_FiveDayPtr[5] = {};
ScreenItem *m_FiveDayFcastPtr[10] = {};
MenuItem g_FiveDayFCastMenu[FIVE_DAY_MENU_ITEMS] = {};

#define T16(x, y, fn) screenText(x, y, nullptr, fn, FONT_REGULAR, 16, WHITE_TEXT_COLOR)

} // namespace

ScreenItem testScreenDetail4Cast[DETAIL_FORECAST_ITEMS + 1] = {
    screenBitmap(0, 0, nullptr,
                 "./images/Weather/Current Conditions/Weather-CurrentCond-Graphic-Bkgd.png"),
    SCREEN_DAY_BAR,
    screenText(80, 38, &m_CurrFcastTemp, drawCurrFCastTemp, FONT_REGULAR, 34, WHITE_TEXT_COLOR),
    screenBitmap(5, 37, &m_MainScrFcastPtr[0],
                 "./images/Weather/Current Conditions/Icon-Wthr-CurrentCond-UnknownCondition.png"),
    screenBitmap(145, 43, &m_MainScrFcastPtr[1],
                 "./images/Weather/Current Conditions/Info - CurrentCond - UnknownCondition.png"),
    screenBitmap(85, 100, &m_MainScrFcastPtr[2], "./images/Label - CurrentCond - High.png"),
    T16(120, 96, drawCurrFCastHighTemp),
    screenBitmap(165, 100, &m_MainScrFcastPtr[3], "./images/Label - CurrentCond - Low.png"),
    T16(200, 96, drawCurrFCastLowTemp),
    screenBitmap(50, 165, &m_CurrentFcastPtr[0], "./images/Label - 4CastDetail - FeelsLike.png"),
    screenText(125, 175, nullptr, drawCurrFCastFeelsLikeTemp, FONT_REGULAR, 32, WHITE_TEXT_COLOR),
    screenBitmap(45, 225, &m_CurrentFcastPtr[1], "./images/Label - 4CastDetail - Wind.png"),
    T16(100, 225, drawCurrFCastWindDirSpeed),
    screenBitmap(10, 275, &m_CurrentFcastPtr[2], "./images/Label - 4CastDetail - Humidity.png"),
    T16(30, 290, drawCurrFCastHumidity),
    screenBitmap(85, 275, &m_CurrentFcastPtr[3], "./images/Label - 4CastDetail - DewPoint.png"),
    T16(103, 290, drawCurrFCastDewPoint),
    screenBitmap(165, 275, &m_CurrentFcastPtr[4], "./images/Label - 4CastDetail - Pressure.png"),
    T16(160, 290, drawCurrFCastPressure),
    SCREEN_UNDERVOLTAGE_SHALLOW_TEXT,
    screenEnd(),
};

// One day's row: day label, condition icon and text, High and Low labels and values.
#define FIVE_DAY_ROW(d, dowY, iconY, infoY, labelY, lowX, valueY, dow, high, low)                  \
    screenBitmap(5, dowY, &m_FiveDayPtr[d],                                                        \
                 "./images/Weather/5-Day Forecast/Label - 5Day - DOW - " dow ".png"),              \
        screenBitmap(40, iconY, &fiveDayScreenImages[d],                                           \
                     "./images/Weather/5-Day Forecast/Icon-5Day-Condition-UnknownCondition.png"),  \
        screenBitmap(98, infoY, &fiveDayFCastInfo[d],                                              \
                     "./images/Weather/5-Day Forecast/Info - 5Day - Condition - UnknownCond.png"), \
        screenBitmap(98, labelY, &m_FiveDayFcastPtr[2 * (d)],                                      \
                     "./images/Label - CurrentCond - High.png"),                                   \
        T16(133, valueY, high),                                                                    \
        screenBitmap(lowX, labelY, &m_FiveDayFcastPtr[2 * (d) + 1],                                \
                     "./images/Label - CurrentCond - Low.png"),                                    \
        T16(205, valueY, low)

ScreenItem testScreenFiveDayForecast[FIVE_DAY_FORECAST_ITEMS + 1] = {
    screenBitmap(0, 0, nullptr, "./images/Weather/5-Day Forecast/Weather-4Cast-Graphic-Bkgd.png"),
    FIVE_DAY_ROW(0, 67, 29, 34, 65, 174, 61, "WED", drawFiveDayFCastDay1HighTemp,
                 drawFiveDayFCastDay1LowTemp),
    FIVE_DAY_ROW(1, 126, 89, 96, 126, 174, 122, "THU", drawFiveDayFCastDay2HighTemp,
                 drawFiveDayFCastDay2LowTemp),
    FIVE_DAY_ROW(2, 187, 149, 155, 185, 174, 181, "FRI", drawFiveDayFCastDay3HighTemp,
                 drawFiveDayFCastDay3LowTemp),
    // The fourth row's Low label stands at 174 like the others (169 put it
    // out of line).
    FIVE_DAY_ROW(3, 245, 208, 215, 244, 174, 240, "SAT", drawFiveDayFCastDay4HighTemp,
                 drawFiveDayFCastDay4LowTemp),
    FIVE_DAY_ROW(4, 303, 266, 272, 300, 174, 295, "SUN", drawFiveDayFCastDay5HighTemp,
                 drawFiveDayFCastDay5LowTemp),
    SCREEN_UNDERVOLTAGE_SHALLOW_TEXT,
    screenEnd(),
};

// The forecast store's condition codes 1 to 29 and the names their images
// carry: the icon by day and at night, the text by day and at night (current
// conditions), and the five-day page's text. The icons of both pages share
// their names.
#define WEATHER_CONDITIONS(X)                                                                      \
    X(1, Blizzard, Blizzard, Blizzard, Blizzard, Blizzard)                                         \
    X(2, BlowingSnow, BlowingSnow, BlowingSnow, BlowingSnow, BlowingSnow)                          \
    X(3, ClearDay, ClearNight, Clear, Clear, Clear)                                                \
    X(4, Cloudy, Cloudy, Cloudy, Cloudy, Cloudy)                                                   \
    X(5, Drizzle, Drizzle, Drizzle, Drizzle, Drizzle)                                              \
    X(6, FairDay, FairDay, Fair, Fair, Fair)                                                       \
    X(7, Fog, Fog, Fog, Fog, Fog)                                                                  \
    X(8, FreezingDrizzle, FreezingDrizzle, FreezingDrizzle, FreezingDrizzle, FreezingDrizzle)      \
    X(9, FreezingRain, FreezingRain, FreezingRain, FreezingRain, FreezingRain)                     \
    X(10, Haze, Haze, Haze, Haze, Haze)                                                            \
    X(11, Humid, Humid, Humid, Humid, Humid)                                                       \
    X(12, Ice, Ice, Ice, Ice, Ice)                                                                 \
    X(13, MostlyCloudy, MostlyCloudyNight, MostlyCloudy, MostlyCloudy, MostlyCloudy)               \
    X(14, MostlySunny, MostlyClearNight, MostlySunny, MostlyClear, MostlySunny)                    \
    X(15, PartlyCloudy, PartlyCloudyNight, PartlyCloudy, PartlyCloudy, PartlyCloudy)               \
    X(16, Rain, Rain, Rain, Rain, Rain)                                                            \
    X(17, RainShowers, RainShowers, RainShowers, RainShowers, RainShowers)                         \
    X(18, RainSnow, RainSnow, RainSnowMix, RainSnowMix, RainSnowMix)                               \
    X(19, Sleet, Sleet, Sleet, Sleet, Sleet)                                                       \
    X(20, Smoke, Smoke, Smoke, Smoke, Smoke)                                                       \
    X(21, Snow, Snow, Snow, Snow, Snow)                                                            \
    X(22, Flurries, Flurries, Flurries, Flurries, Flurries)                                        \
    X(23, SnowShowers, SnowShowers, SnowShowers, SnowShowers, SnowShowers)                         \
    X(24, Sunny, Sunny, Sunny, Sunny, Sunny)                                                       \
    X(25, Thunderstorm, Thunderstorm, Thunderstorms, Thunderstorms, Thunderstorms)                 \
    X(26, UnknownCondition, UnknownCondition, UnknownCondition, UnknownCondition, UnknownCond)     \
    X(27, VeryCold, VeryCold, VeryCold, VeryCold, VeryCold)                                        \
    X(28, Windy, Windy, Windy, Windy, Windy)                                                       \
    X(29, Dust, Dust, Dust, Dust, Dust)

#define FIVE_DAY_ICON(code, icon, nightIcon, text, nightText, fiveDayText)                         \
    {"./images/Weather/5-Day Forecast/Icon-5Day-Condition-" #icon ".png", code},
#define FIVE_DAY_TEXT(code, icon, nightIcon, text, nightText, fiveDayText)                         \
    {"./images/Weather/5-Day Forecast/Info - 5Day - Condition - " #fiveDayText ".png", code},
#define CURRENT_ICON(code, icon, nightIcon, text, nightText, fiveDayText)                          \
    {"./images/Weather/Current Conditions/Icon-Wthr-CurrentCond-" #icon ".png", code},
#define CURRENT_NIGHT_ICON(code, icon, nightIcon, text, nightText, fiveDayText)                    \
    {"./images/Weather/Current Conditions/Icon-Wthr-CurrentCond-" #nightIcon ".png", code},
#define CURRENT_TEXT(code, icon, nightIcon, text, nightText, fiveDayText)                          \
    {"./images/Weather/Current Conditions/Info - CurrentCond - " #text ".png", code},
#define CURRENT_NIGHT_TEXT(code, icon, nightIcon, text, nightText, fiveDayText)                    \
    {"./images/Weather/Current Conditions/Info - CurrentCond - " #nightText ".png", code},

const ConditionImage fiveDayConditionToImageTable[] = {
    WEATHER_CONDITIONS(FIVE_DAY_ICON){nullptr, 0}};
const ConditionImage fiveDayCondInfoToImageTable[] = {
    WEATHER_CONDITIONS(FIVE_DAY_TEXT){nullptr, 0}};
const ConditionImage currentFcastDayCondIconToImageTable[] = {
    WEATHER_CONDITIONS(CURRENT_ICON){nullptr, 0}};
const ConditionImage currentFcastNightCondIconToImageTable[] = {
    WEATHER_CONDITIONS(CURRENT_NIGHT_ICON){nullptr, 0}};
const ConditionImage currentFcastDayCondInfoToImageTable[] = {
    WEATHER_CONDITIONS(CURRENT_TEXT){nullptr, 0}};
const ConditionImage currentFcastNightCondInfoToImageTable[] = {
    WEATHER_CONDITIONS(CURRENT_NIGHT_TEXT){nullptr, 0}};

#undef WEATHER_CONDITIONS
#undef FIVE_DAY_ICON
#undef FIVE_DAY_TEXT
#undef CURRENT_ICON
#undef CURRENT_NIGHT_ICON
#undef CURRENT_TEXT
#undef CURRENT_NIGHT_TEXT

const char *const fiveDaysOfWeekImageTable[7] = {
    "./images/Weather/5-Day Forecast/Label - 5Day - DOW - SUN.png",
    "./images/Weather/5-Day Forecast/Label - 5Day - DOW - MON.png",
    "./images/Weather/5-Day Forecast/Label - 5Day - DOW - TUE.png",
    "./images/Weather/5-Day Forecast/Label - 5Day - DOW - WED.png",
    "./images/Weather/5-Day Forecast/Label - 5Day - DOW - THU.png",
    "./images/Weather/5-Day Forecast/Label - 5Day - DOW - FRI.png",
    "./images/Weather/5-Day Forecast/Label - 5Day - DOW - SAT.png",
};

namespace {

#undef T16
#undef FIVE_DAY_ROW

const ScreenTableBackup c_DetailBackup(testScreenDetail4Cast);
const ScreenTableBackup c_FiveDayBackup(testScreenFiveDayForecast);

constexpr uint8_t DAYS_PER_WEEK = 7;
uint32_t lastFiveDayConitions[FORECAST_DAYS] = {};
uint8_t m_hasFcastCh = 0;
// Places of the big temperature text: x for two and three digits, y per page.
constexpr int16_t CURRENT_TEMP_X = 80;
constexpr int16_t CURRENT_TEMP_X_WIDE = 65;
constexpr int16_t CURRENT_TEMP_Y_MAIN = 235;
constexpr int16_t CURRENT_TEMP_Y_DETAIL = 38;

// What a weather value never received shows instead of a number.
constexpr const char *NO_VALUE_TEXT = "--";

void printNoValue(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", NO_VALUE_TEXT);
}

char signOf(int16_t whole, int32_t fraction) {
    return whole < 0 || (whole == 0 && fraction < 0) ? '-' : ' ';
}

unsigned magnitudeOf(int16_t whole) {
    return static_cast<unsigned>(whole < 0 ? -whole : whole);
}

// A stored Celsius temperature in the display scale, as "%c%u%c".
void printTemperature(char *buffer, fpr_t celsius, int16_t *shownWhole = nullptr) {
    int16_t whole = 0;
    int32_t fraction = 0;
    fprDecodeRes(tempCelToFahConversion(celsius), &whole, &fraction, g_ResDigits);
    initialiseTStatFormat();
    snprintf(buffer, SCREEN_TEXT_LEN, "%c%u%c", signOf(whole, fraction), magnitudeOf(whole),
             c_DegreeSymbol);
    if (shownWhole != nullptr) {
        *shownWhole = whole;
    }
}

// The same, or "--" when the value was never received.
void printKnownTemperature(char *buffer, fpr_t celsius, uint32_t value) {
    if (forecastReceived(value)) {
        printTemperature(buffer, celsius);
    } else {
        printNoValue(buffer);
    }
}

void decodeInto(MenuItem *record, fpr_t celsius) {
    int16_t whole = 0;
    int32_t digits = 0;
    fprDecodeRes(tempCelToFahConversion(celsius), &whole, &digits, g_ResDigits);
    record->value = whole;
    record->fractionDigits = static_cast<uint32_t>(digits);
}

void replaceIfKnown(ScreenItem *item, const char *path) {
    if (path != nullptr) {
        screenReplaceBitmap(g_displayHdl, item, path);
    }
}

// What the five-day values were last decoded from.
struct FiveDayInputs {
    TstatFiveDayForecast_t forecast;
    TempScale scale;
    bool valid;
};
FiveDayInputs m_LastFiveDayInputs{};

// Rebuilds the five-day values; returns today's day of week (0 Sunday).
uint8_t rebuildFiveDay(TstatFiveDayForecast_t *forecast) {
    TstatClockCfg_t clock{};
    menuGetClock(&clock);
    uint8_t today = static_cast<uint8_t>(clock.weekday % DAYS_PER_WEEK);
    getFiveDayForecast(forecast);
    TempScale scale = displayTempScale();
    TstatCurrentForecast_t current{};
    getCurrentForecast(&current);
    // The weather texts ask for the values several times a pass: they are
    // decoded again only when the forecast or the scale changed.
    bool unchanged = m_LastFiveDayInputs.valid && m_LastFiveDayInputs.scale == scale &&
                     memcmp(&m_LastFiveDayInputs.forecast, forecast, sizeof(*forecast)) == 0 &&
                     current.highTemp == forecast->highTemp[0] &&
                     current.lowTemp == forecast->lowTemp[0];
    if (!unchanged) {
        for (size_t d = 0; d < FORECAST_DAYS; d++) {
            MenuItem *day = &g_FiveDayFCastMenu[FIVE_DAY_RECORDS_PER_DAY * d];
            decodeInto(&day[FIVE_DAY_HIGH], forecast->highTemp[d]);
            decodeInto(&day[FIVE_DAY_LOW], forecast->lowTemp[d]);
            day[FIVE_DAY_CONDITION].value = static_cast<int16_t>(forecast->condition[d]);
        }
        current.highTemp = forecast->highTemp[0];
        current.lowTemp = forecast->lowTemp[0];
        setCurrentForecast(&current);
        m_LastFiveDayInputs = FiveDayInputs{*forecast, scale, true};
    }
    if (getFiveDayFcastSelected() == 0) {
        return today;
    }
    bool relabel = getFiveDayFcastChange() != 0 || m_hasFcastCh == 0;
    for (size_t d = 0; d < FORECAST_DAYS; d++) {
        uint32_t code = forecast->condition[d];
        if (code != lastFiveDayConitions[d]) {
            replaceIfKnown(fiveDayScreenImages[d], convertFiveDayConditionToFilename(code));
            replaceIfKnown(fiveDayFCastInfo[d],
                           convertCurrDayConditionToFilename(code, fiveDayCondInfoToImageTable));
            lastFiveDayConitions[d] = code;
        }
        if (relabel) {
            replaceIfKnown(m_FiveDayPtr[d], fiveDaysOfWeekImageTable[(today + d) % DAYS_PER_WEEK]);
        }
    }
    if (relabel) {
        setFiveDayFcastChange(0);
        m_hasFcastCh = 1;
    }
    return today;
}

// The high or low (FIVE_DAY_HIGH, FIVE_DAY_LOW) of day d (0 today).
void drawFiveDayTemp(char *buffer, size_t d, uint8_t which) {
    initialiseFiveDayFCastScreen();
    if (!forecastReceived(which == FIVE_DAY_HIGH ? forecastDayHigh(d) : forecastDayLow(d))) {
        printNoValue(buffer);
        return;
    }
    int16_t whole = g_FiveDayFCastMenu[FIVE_DAY_RECORDS_PER_DAY * d + which].value;
    snprintf(buffer, SCREEN_TEXT_LEN, "%c%u%c", whole < 0 ? '-' : ' ', magnitudeOf(whole),
             c_DegreeSymbol);
}

} // namespace

const char *convertCurrDayConditionToFilename(uint32_t code, const ConditionImage *table) {
    for (const ConditionImage *entry = table; entry != nullptr && entry->path != nullptr; entry++) {
        if (entry->code == code) {
            return entry->path;
        }
    }
    return nullptr;
}

const char *convertFiveDayConditionToFilename(uint32_t code) {
    return convertCurrDayConditionToFilename(code, fiveDayConditionToImageTable);
}

void initialiseFiveDayFCastScreen() {
    TstatFiveDayForecast_t forecast{};
    rebuildFiveDay(&forecast);
}

// ---- Pages -------------------------------------------------------------------------------------

void displayDetailForecastPage() {
    dispManCancelMainPageTimeout();
    menuOpenPage(PAGE_DETAIL_FORECAST);
    g_ModeButtonPtr =
        getFiveDayForecastState() == FEATURE_ENABLE ? displayFiveDayForecastPage : enterTSTATPage;
}

void displayFiveDayForecastPage() {
    menuOpenPage(PAGE_FIVE_DAY_FORECAST);
    setFiveDayFcastSelected(1);
    initialiseFiveDayFCastScreen();
}

// ---- Text update functions ----------------------------------------------------------------------

void drawCurrFCastTemp(char *buffer) {
    TstatFiveDayForecast_t forecast{};
    uint8_t today = rebuildFiveDay(&forecast);
    fpr_t outdoor = Sensors_GetOutdoorTemperature();
    uint32_t code = forecast.currentCondition;
    if (code == CONDITION_UNKNOWN) {
        code = forecast.condition[0];
    }
    uint8_t page = dispManGetCurrentPage();
    bool night = page == PAGE_MAIN && g_bDayIcon == 0;
    replaceIfKnown(m_MainScrFcastPtr[0], convertCurrDayConditionToFilename(
                                             code, night ? currentFcastNightCondIconToImageTable
                                                         : currentFcastDayCondIconToImageTable));
    replaceIfKnown(m_MainScrFcastPtr[1], convertCurrDayConditionToFilename(
                                             code, night ? currentFcastNightCondInfoToImageTable
                                                         : currentFcastDayCondInfoToImageTable));
    int16_t whole = 0;
    if (Sensors_IsOutdoorTemperatureKnown()) {
        printTemperature(buffer, outdoor, &whole);
    } else {
        printNoValue(buffer);
    }
    int16_t x = whole <= 99 ? CURRENT_TEMP_X : CURRENT_TEMP_X_WIDE;
    if (page == PAGE_MAIN) {
        screenMoveText(g_displayHdl, m_CurrFcastTemp, x, CURRENT_TEMP_Y_MAIN);
    } else if (page == PAGE_DETAIL_FORECAST) {
        screenMoveText(g_displayHdl, m_CurrFcastTemp, x, CURRENT_TEMP_Y_DETAIL);
    }
    showDayBar(today);
}

void drawCurrFCastHighTemp(char *buffer) {
    initialiseFiveDayFCastScreen();
    TstatCurrentForecast_t current{};
    getCurrentForecast(&current);
    printKnownTemperature(buffer, current.highTemp, forecastDayHigh(0));
}

void drawCurrFCastLowTemp(char *buffer) {
    initialiseFiveDayFCastScreen();
    TstatCurrentForecast_t current{};
    getCurrentForecast(&current);
    printKnownTemperature(buffer, current.lowTemp, forecastDayLow(0));
}

void drawCurrFCastFeelsLikeTemp(char *buffer) {
    TstatCurrentForecast_t current{};
    getCurrentForecast(&current);
    printKnownTemperature(buffer, current.feelsLikeTemp, FORECAST_FEELS_LIKE);
}

void drawCurrFCastDewPoint(char *buffer) {
    TstatCurrentForecast_t current{};
    getCurrentForecast(&current);
    printKnownTemperature(buffer, current.dewPoint, FORECAST_DEW_POINT);
    screenAddBitmap(g_displayHdl, m_CurrentFcastPtr[3]);
}

void drawCurrFCastHumidity(char *buffer) {
    if (!forecastReceived(FORECAST_HUMIDITY)) {
        printNoValue(buffer);
        return;
    }
    TstatCurrentForecast_t current{};
    getCurrentForecast(&current);
    int16_t whole = 0;
    int32_t fraction = 0;
    fprDecodeRes(current.relativeHumidity, &whole, &fraction, 0);
    if (whole >= 0 && whole <= 100) {
        snprintf(buffer, SCREEN_TEXT_LEN, "%u%c", static_cast<unsigned>(whole), '%');
    }
}

void drawCurrFCastWindDirSpeed(char *buffer) {
    if (!forecastReceived(FORECAST_WIND_SPEED)) {
        printNoValue(buffer);
        return;
    }
    TstatCurrentForecast_t current{};
    getCurrentForecast(&current);
    TstatFmtSettings_t fmt{};
    getThermostatFormatSettings(&fmt);
    int16_t whole = 0;
    int32_t fraction = 0;
    fprDecodeRes(windSpeedKphToMphConversion(current.windSpeed), &whole, &fraction, 0);
    // The direction holds at most three characters, terminated or not.
    snprintf(buffer, SCREEN_TEXT_LEN, "%.3s %d %s", current.windDirection, whole,
             fmt.tempScale == TEMP_SCALE_FAHRENHEIT ? "mph" : "kph");
}

void drawCurrFCastPressure(char *buffer) {
    if (!forecastReceived(FORECAST_PRESSURE)) {
        printNoValue(buffer);
        return;
    }
    TstatFmtSettings_t fmt{};
    getThermostatFormatSettings(&fmt);
    int16_t whole = 0;
    int32_t hundredths = 0;
    fprDecodeRes(pressureCmToInchConversion(getBarometricPressure()), &whole, &hundredths, 2);
    snprintf(buffer, SCREEN_TEXT_LEN, "%c%u.%02u %s", signOf(whole, hundredths), magnitudeOf(whole),
             static_cast<unsigned>(hundredths < 0 ? -hundredths : hundredths),
             fmt.tempScale == TEMP_SCALE_FAHRENHEIT ? "in" : "cm");
}

void drawFiveDayFCastDay1HighTemp(char *buffer) {
    drawFiveDayTemp(buffer, 0, FIVE_DAY_HIGH);
}
void drawFiveDayFCastDay2HighTemp(char *buffer) {
    drawFiveDayTemp(buffer, 1, FIVE_DAY_HIGH);
}
void drawFiveDayFCastDay3HighTemp(char *buffer) {
    drawFiveDayTemp(buffer, 2, FIVE_DAY_HIGH);
}
void drawFiveDayFCastDay4HighTemp(char *buffer) {
    drawFiveDayTemp(buffer, 3, FIVE_DAY_HIGH);
}
void drawFiveDayFCastDay5HighTemp(char *buffer) {
    drawFiveDayTemp(buffer, 4, FIVE_DAY_HIGH);
}
void drawFiveDayFCastDay1LowTemp(char *buffer) {
    drawFiveDayTemp(buffer, 0, FIVE_DAY_LOW);
}
void drawFiveDayFCastDay2LowTemp(char *buffer) {
    drawFiveDayTemp(buffer, 1, FIVE_DAY_LOW);
}
void drawFiveDayFCastDay3LowTemp(char *buffer) {
    drawFiveDayTemp(buffer, 2, FIVE_DAY_LOW);
}
void drawFiveDayFCastDay4LowTemp(char *buffer) {
    drawFiveDayTemp(buffer, 3, FIVE_DAY_LOW);
}
void drawFiveDayFCastDay5LowTemp(char *buffer) {
    drawFiveDayTemp(buffer, 4, FIVE_DAY_LOW);
}

void forecastPagesReset() {
    c_DetailBackup.restore();
    c_FiveDayBackup.restore();
    for (MenuItem &record : g_FiveDayFCastMenu) {
        record = MenuItem{};
    }
    for (uint32_t &code : lastFiveDayConitions) {
        code = 0;
    }
    m_hasFcastCh = 0;
    m_LastFiveDayInputs = FiveDayInputs{};
}
