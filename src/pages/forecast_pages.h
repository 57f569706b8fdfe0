// Weather: the current-conditions and five-day forecast pages, the main
// page's weather panel, and the tables from condition codes to images.
#pragma once

#include "graphics/screen.h"
#include "menus/menu_engine.h"

#include <cstddef>
#include <cstdint>

constexpr size_t DETAIL_FORECAST_ITEMS = 27;
constexpr size_t FIVE_DAY_FORECAST_ITEMS = 37;
extern ScreenItem testScreenDetail4Cast[DETAIL_FORECAST_ITEMS + 1];
extern ScreenItem testScreenFiveDayForecast[FIVE_DAY_FORECAST_ITEMS + 1];

// Items of the weather panel, which the main screen's tables hold.
extern ScreenItem *m_CurrFcastTemp;
extern ScreenItem *m_MainScrFcastPtr[4]; // condition icon, condition text, High, Low labels

// Condition codes of the forecast store.
constexpr uint32_t CONDITION_UNKNOWN = 26;

// A condition-code table: (image, code) pairs ended by a null image.
struct ConditionImage {
    const char *path;
    uint32_t code;
};
extern const ConditionImage fiveDayConditionToImageTable[];
extern const ConditionImage fiveDayCondInfoToImageTable[];
extern const ConditionImage currentFcastDayCondIconToImageTable[];
extern const ConditionImage currentFcastNightCondIconToImageTable[];
extern const ConditionImage currentFcastDayCondInfoToImageTable[];
extern const ConditionImage currentFcastNightCondInfoToImageTable[];
extern const char *const fiveDaysOfWeekImageTable[7];

// The image of a code in a table, or null for an unknown code.
const char *convertCurrDayConditionToFilename(uint32_t code, const ConditionImage *table);
const char *convertFiveDayConditionToFilename(uint32_t code);

// Rebuilds the five-day values (and, while the five-day page is shown, its
// images and day labels) from the forecast store.
void initialiseFiveDayFCastScreen();

// Text update functions.
void drawCurrFCastTemp(char *buffer);
void drawCurrFCastHighTemp(char *buffer);
void drawCurrFCastLowTemp(char *buffer);
void drawCurrFCastFeelsLikeTemp(char *buffer);
void drawCurrFCastWindDirSpeed(char *buffer);
void drawCurrFCastHumidity(char *buffer);
void drawCurrFCastDewPoint(char *buffer);
void drawCurrFCastPressure(char *buffer);
void drawFiveDayFCastDay1HighTemp(char *buffer);
void drawFiveDayFCastDay2HighTemp(char *buffer);
void drawFiveDayFCastDay3HighTemp(char *buffer);
void drawFiveDayFCastDay4HighTemp(char *buffer);
void drawFiveDayFCastDay5HighTemp(char *buffer);
void drawFiveDayFCastDay1LowTemp(char *buffer);
void drawFiveDayFCastDay2LowTemp(char *buffer);
void drawFiveDayFCastDay3LowTemp(char *buffer);
void drawFiveDayFCastDay4LowTemp(char *buffer);
void drawFiveDayFCastDay5LowTemp(char *buffer);

// Forgets the forecast pages' state. For tests.
void forecastPagesReset();
