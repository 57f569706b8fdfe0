// User preferences: display formats, backlight, optional pages and
// indicators, the humidity calibration, and the way on to the button
// lockout, the security code change and the advanced setup. One menu of 30
// records over three screens (positions 0-10, 11-21, 22-29): labels, each
// followed by its value, "More" at the foot of the first two screens, and the
// actions at the end. Mode on a label selects its value, and Mode on a value
// steps through its choices; the display manager's store cycle writes the
// values into the configuration record while the page is shown.
// initialiseUserPrefMenu, getUserPrefFromDataDict and displayUserPrefPage are
// in menu_pages.h.
#pragma once

#include "graphics/screen.h"
#include "menus/menu_engine.h"

#include <cstddef>
#include <cstdint>

enum UserPrefPosition : uint8_t {
    USER_PREF_TEMP_SCALE_LABEL = 0,
    USER_PREF_TEMP_SCALE = 1,
    USER_PREF_DATE_LABEL = 2,
    USER_PREF_DATE = 3,
    USER_PREF_TIME_LABEL = 4,
    USER_PREF_TIME = 5,
    USER_PREF_BKL_TIMEOUT_LABEL = 6,
    USER_PREF_BKL_TIMEOUT = 7,
    USER_PREF_BKL_ACTIVE_LABEL = 8,
    USER_PREF_BKL_ACTIVE = 9,
    USER_PREF_MORE_1 = 10,
    USER_PREF_BKL_INACTIVE_LABEL = 11,
    USER_PREF_BKL_INACTIVE = 12,
    USER_PREF_FILTER_LABEL = 13,
    USER_PREF_FILTER = 14,
    USER_PREF_WEATHER_ALERT_LABEL = 15,
    USER_PREF_WEATHER_ALERT = 16,
    USER_PREF_FORECAST_LABEL = 17,
    USER_PREF_FORECAST = 18,
    USER_PREF_FIVE_DAY_LABEL = 19,
    USER_PREF_FIVE_DAY = 20,
    USER_PREF_MORE_2 = 21,
    USER_PREF_SCREEN_SAVER_LABEL = 22,
    USER_PREF_SCREEN_SAVER = 23,
    USER_PREF_HUM_OFFSET_LABEL = 24,
    USER_PREF_HUM_OFFSET = 25,
    USER_PREF_BUTTON_LOCKOUT = 26,
    USER_PREF_SECURITY_CODE = 27,
    USER_PREF_ADV_SETUP = 28,
    USER_PREF_EXIT = 29,
    USER_PREF_MENU_ITEMS = 30,
};

extern MenuItem g_UserPrefMenu[USER_PREF_MENU_ITEMS];
// The text of each position: a label's name, an action's text ("" for values).
extern const char *const c_UserPrefModeItems[USER_PREF_MENU_ITEMS];

constexpr size_t USER_PREF_SCREEN_ITEMS = 28;
constexpr size_t USER_PREF_CONT1_ITEMS = 27;
constexpr size_t USER_PREF_CONT2_ITEMS = 27;
extern ScreenItem testScreenUserPreferences[USER_PREF_SCREEN_ITEMS + 1];
extern ScreenItem testScreenUserPrefCont1[USER_PREF_CONT1_ITEMS + 1];
extern ScreenItem testScreenUserPrefCont2[USER_PREF_CONT2_ITEMS + 1];

// Writes the values into the configuration record (the page's store callback).
void setUserPrefInDataDict();
// The page's time-out keeps the edits, as leaving by an action does: they
// are stored and saved, and the scale reported.
void userPrefPageTimeout();
// The third screen again with the current item highlighted (back from the
// security code change).
void displayUserPrefContPage();
// Keys of the page.
void displaySelectedUserPrefMenuItemPage();
void incUserPrefPageMenuPtr();
void decUserPrefPageMenuPtr();
// Mode on the active brightness: the next level, shown on the backlight at once.
void displayNextBacklightActLevel();

// Text update functions of the three screens.
void drawUserPrefTempText(char *buffer);
void drawUserPrefTemp(char *buffer);
void drawUserPrefDateText(char *buffer);
void drawUserPrefDate(char *buffer);
void drawUserPrefTimeText(char *buffer);
void drawUserPrefTime(char *buffer);
void drawUserPrefBkLTimeoutText(char *buffer);
void drawUserPrefBkLTimeout(char *buffer);
void drawUserPrefBkLActBrightnessText(char *buffer);
void drawUserPrefBkLActBrightness(char *buffer);
void drawUserPrefBkLInActBrightnessText(char *buffer);
void drawUserPrefBkLInActBrightness(char *buffer);
void drawUserPrefFiltChangeText(char *buffer);
void drawUserPrefFiltChange(char *buffer);
void drawUserPrefWeatherAlertText(char *buffer);
void drawUserPrefWeatherAlert(char *buffer);
void drawUserPrefForecastText(char *buffer);
void drawUserPrefForecast(char *buffer);
void drawUserPrefFiveDayFcastText(char *buffer);
void drawUserPrefFiveDayFcast(char *buffer);
void drawUserPrefScrSaverText(char *buffer);
void drawUserPrefScrSaver(char *buffer);
void drawUserPrefHumOffsetText(char *buffer);
void drawUserPrefHumOffset(char *buffer);
void drawUserPrefMore(char *buffer);
void drawUserPrefButtonLockout(char *buffer);
void drawUserPrefConfigSecCode(char *buffer);
void drawUserPrefAdvSetup(char *buffer);
void drawUserPrefExit(char *buffer);

// Forgets the menu's values and the last reported scale, and restores the
// screen tables. For tests.
void userPrefMenuReset();
