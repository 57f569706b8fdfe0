// User preferences menu and its three screens.
#include "pages/user_pref_menu.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "menus/setup_layout.h"
#include "pages/main_page.h"
#include "pages/menu_pages.h"
#include "pages/pages.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

MenuItem g_UserPrefMenu[USER_PREF_MENU_ITEMS] = {};

const char *const c_UserPrefModeItems[USER_PREF_MENU_ITEMS] = {
    "Temperature Scale",
    "",
    "Date Format",
    "",
    "Time Format",
    "",
    "Backlight Timeout",
    "",
    "Backlight Active Brightness",
    "",
    "More",
    "Backlight Inactive Brightness",
    "",
    "Filter Change Reminder",
    "",
    "Weather Alert Icon",
    "",
    "Current Forecast Page",
    "",
    "Five Day Forecast Page",
    "",
    "More",
    "Screensaver",
    "",
    "Humidity Offset",
    "",
    "Button Lockout",
    "Change Security Code",
    "Advanced Setup",
    "Exit",
};

namespace {

const char *const c_TempScale[] = {"F", "C"};
const char *const c_DateFormat[] = {"DD/MM/YY", "MM/DD/YY", "YY/MM/DD"};
const char *const c_TimeFormat[] = {"12-Hour", "24-Hour"};
const char *const c_BkActBrightness[] = {"Low", "Med", "High"};
const char *const c_BkInactBrightness[] = {"Dim", "Off"};
const char *const c_UserPrefControl[] = {"Enable", "Disable"};

enum ItemKind : uint8_t { ITEM_LABEL, ITEM_VALUE, ITEM_ACTION };

constexpr ItemKind c_UserPrefKind[USER_PREF_MENU_ITEMS] = {
    ITEM_LABEL, ITEM_VALUE, ITEM_LABEL,  ITEM_VALUE,  ITEM_LABEL,  ITEM_VALUE,
    ITEM_LABEL, ITEM_VALUE, ITEM_LABEL,  ITEM_VALUE,  ITEM_ACTION, ITEM_LABEL,
    ITEM_VALUE, ITEM_LABEL, ITEM_VALUE,  ITEM_LABEL,  ITEM_VALUE,  ITEM_LABEL,
    ITEM_VALUE, ITEM_LABEL, ITEM_VALUE,  ITEM_ACTION, ITEM_LABEL,  ITEM_VALUE,
    ITEM_LABEL, ITEM_VALUE, ITEM_ACTION, ITEM_ACTION, ITEM_ACTION, ITEM_ACTION,
};

// Limits of the value items (all integer, wrapping).
struct ValueLimits {
    uint8_t position;
    int16_t min;
    int16_t max;
    uint8_t step;
};
constexpr ValueLimits c_UserPrefLimits[] = {
    {USER_PREF_TEMP_SCALE, 0, 1, 1},   {USER_PREF_DATE, 0, 2, 1},
    {USER_PREF_TIME, 0, 1, 1},         {USER_PREF_BKL_TIMEOUT, 10, 300, 10},
    {USER_PREF_BKL_ACTIVE, 0, 2, 1},   {USER_PREF_BKL_INACTIVE, 0, 1, 1},
    {USER_PREF_FILTER, 0, 1, 1},       {USER_PREF_WEATHER_ALERT, 0, 1, 1},
    {USER_PREF_FORECAST, 0, 1, 1},     {USER_PREF_FIVE_DAY, 0, 1, 1},
    {USER_PREF_SCREEN_SAVER, 0, 1, 1}, {USER_PREF_HUM_OFFSET, 0, 50, 1},
};

// The backlight time-out's label and value move left when the value reads
// minutes and seconds ("1m 30s").
constexpr int16_t BKL_TIMEOUT_LABEL_X = SETUP_LABEL_X;
constexpr int16_t BKL_TIMEOUT_VALUE_X = SETUP_VALUE_X;
constexpr int16_t BKL_TIMEOUT_LABEL_X_WIDE = SETUP_LABEL_X - 3;
constexpr int16_t BKL_TIMEOUT_VALUE_X_WIDE = SETUP_VALUE_X - 5;

// The settings page's item that leads here.
constexpr uint8_t SETTINGS_ADV_SETUP_ITEM = 9;

// The temperature scale last announced on the control bus by this page.
uint8_t prevTempSc = 0;

int16_t &valueOf(uint8_t position) {
    return g_UserPrefMenu[position].value;
}

// A stored choice as an index into its list: values outside the list read as
// the choice the rest of the system takes them for.
int16_t choiceOf(uint32_t stored, uint32_t count, uint32_t otherwise) {
    return static_cast<int16_t>(stored < count ? stored : otherwise);
}

int16_t featureChoice(FeatureState state) {
    return state == FEATURE_ENABLE ? 0 : 1;
}

FeatureState featureOf(uint8_t position) {
    return valueOf(position) == 0 ? FEATURE_ENABLE : FEATURE_DISABLE;
}

// The text of a choice; an index outside the list shows nothing.
template <size_t N> const char *choiceText(const char *const (&list)[N], int16_t value) {
    return value >= 0 && static_cast<size_t>(value) < N ? list[value] : "";
}

void drawLabel(char *buffer, uint8_t position) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s %c", c_UserPrefModeItems[position], ':');
}

template <size_t N> void drawChoice(char *buffer, const char *const (&list)[N], uint8_t position) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", choiceText(list, valueOf(position)));
}

void drawAction(char *buffer, uint8_t position) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", c_UserPrefModeItems[position]);
}

// The current position, when the current item is one of this menu's.
bool currentPosition(uint8_t *position) {
    uint8_t index = getCurrentMenuIndex();
    if (index >= USER_PREF_MENU_ITEMS || getCurrentMenuPtr() != &g_UserPrefMenu[index]) {
        return false;
    }
    *position = index;
    return true;
}

void select(uint8_t position) {
    setCurrentMenuPtr(g_UserPrefMenu, position);
    displayHighlightedItem();
}

void pageKeys(DispManFn mode) {
    displayManagerSetKeySlots(decUserPrefPageMenuPtr, incUserPrefPageMenuPtr, mode);
}

// Tells the building controller the scale when it is not the one last told.
void reportScaleChange() {
    TstatFmtSettings_t fmt{};
    getThermostatFormatSettings(&fmt);
    uint8_t scale = fmt.tempScale == TEMP_SCALE_FAHRENHEIT ? 0 : 1;
    if (scale != prevTempSc) {
        reportFormatsChanged();
        prevTempSc = scale;
    }
}

// Leaving the page: the values are stored, saved and the scale reported.
void storeAndSave() {
    setUserPrefInDataDict();
    saveThermostatSysCfg();
    reportScaleChange();
}

// The page on one of its screens, `position` current.
void openUserPref(ScreenItem *screen, uint8_t position) {
    menuOpenPage(PAGE_USER_PREF, {.screen = screen, .position = position});
}

void runAction(uint8_t position) {
    switch (position) {
    case USER_PREF_BUTTON_LOCKOUT:
        storeAndSave();
        displayButtonLockoutPage();
        break;
    case USER_PREF_SECURITY_CODE:
        storeAndSave();
        displayConfigSecCode();
        break;
    case USER_PREF_ADV_SETUP:
        setUserPrefInDataDict();
        // The setup limits follow the scale just stored.
        initialiseTstatSetupMenu();
        saveThermostatSysCfg();
        reportScaleChange();
        displayAdvSetupPage();
        break;
    case USER_PREF_EXIT:
        storeAndSave();
        initialiseTStatFormat();
        displaySettingsPageAt(SETTINGS_ADV_SETUP_ITEM);
        break;
    default:
        break;
    }
}

} // namespace

// ---- Screens ---------------------------------------------------------------------------------

namespace {

constexpr int USER_PREF_ROW_PITCH = 38;
// "More" and "Exit" in the bottom button's font.
constexpr int16_t MORE_TEXT_WIDTH = 34;
constexpr int16_t EXIT_TEXT_WIDTH = 26;
// The third screen's action buttons (200 x 30), their texts centred.
constexpr int16_t ACTION_BUTTON_X = 20;
constexpr int16_t ACTION_BUTTON_WIDTH = 200;
constexpr int16_t ACTION_BUTTON_Y = 168;
constexpr int16_t ACTION_BUTTON_PITCH = 36;
constexpr int16_t ACTION_TEXT_DY = 7;

constexpr int16_t actionButtonY(int n) {
    return static_cast<int16_t>(ACTION_BUTTON_Y + n * ACTION_BUTTON_PITCH);
}
constexpr int16_t actionTextX(int16_t width) {
    return static_cast<int16_t>(ACTION_BUTTON_X + (ACTION_BUTTON_WIDTH - width) / 2);
}

#define USER_PREF_SETTING(row, label, labelFn, valueFn)                                            \
    SETUP_SETTING(row, USER_PREF_ROW_PITCH, &g_UserPrefMenu[label].handle, labelFn,                \
                  &g_UserPrefMenu[(label) + 1].handle, valueFn)

#define USER_PREF_ACTION(n, position, fn, width)                                                   \
    screenBitmap(ACTION_BUTTON_X, actionButtonY(n), nullptr,                                       \
                 "./images/Setup/Setup-Button-Graphic-OFF.png"),                                   \
        screenText(actionTextX(width), actionButtonY(n) + ACTION_TEXT_DY,                          \
                   &g_UserPrefMenu[position].handle, fn, FONT_BOLD, SETUP_BUTTON_TEXT_SIZE,        \
                   WHITE_TEXT_COLOR)

} // namespace

ScreenItem testScreenUserPreferences[USER_PREF_SCREEN_ITEMS + 1] = {
    SETUP_SCREEN_HEAD("./images/Setup/Label - Setup - UserPreferences1.png"),
    USER_PREF_SETTING(0, USER_PREF_TEMP_SCALE_LABEL, drawUserPrefTempText, drawUserPrefTemp),
    USER_PREF_SETTING(1, USER_PREF_DATE_LABEL, drawUserPrefDateText, drawUserPrefDate),
    USER_PREF_SETTING(2, USER_PREF_TIME_LABEL, drawUserPrefTimeText, drawUserPrefTime),
    USER_PREF_SETTING(3, USER_PREF_BKL_TIMEOUT_LABEL, drawUserPrefBkLTimeoutText,
                      drawUserPrefBkLTimeout),
    USER_PREF_SETTING(4, USER_PREF_BKL_ACTIVE_LABEL, drawUserPrefBkLActBrightnessText,
                      drawUserPrefBkLActBrightness),
    SETUP_BUTTON(&g_UserPrefMenu[USER_PREF_MORE_1].handle, drawUserPrefMore, MORE_TEXT_WIDTH),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

ScreenItem testScreenUserPrefCont1[USER_PREF_CONT1_ITEMS + 1] = {
    SETUP_SCREEN_HEAD("./images/Setup/Label - Setup - UserPreferences2.png"),
    USER_PREF_SETTING(0, USER_PREF_BKL_INACTIVE_LABEL, drawUserPrefBkLInActBrightnessText,
                      drawUserPrefBkLInActBrightness),
    USER_PREF_SETTING(1, USER_PREF_FILTER_LABEL, drawUserPrefFiltChangeText,
                      drawUserPrefFiltChange),
    USER_PREF_SETTING(2, USER_PREF_WEATHER_ALERT_LABEL, drawUserPrefWeatherAlertText,
                      drawUserPrefWeatherAlert),
    USER_PREF_SETTING(3, USER_PREF_FORECAST_LABEL, drawUserPrefForecastText, drawUserPrefForecast),
    USER_PREF_SETTING(4, USER_PREF_FIVE_DAY_LABEL, drawUserPrefFiveDayFcastText,
                      drawUserPrefFiveDayFcast),
    SETUP_BUTTON(&g_UserPrefMenu[USER_PREF_MORE_2].handle, drawUserPrefMore, MORE_TEXT_WIDTH),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

ScreenItem testScreenUserPrefCont2[USER_PREF_CONT2_ITEMS + 1] = {
    SETUP_SCREEN_HEAD("./images/Setup/Label - Setup - UserPreferences3.png"),
    USER_PREF_SETTING(0, USER_PREF_SCREEN_SAVER_LABEL, drawUserPrefScrSaverText,
                      drawUserPrefScrSaver),
    USER_PREF_SETTING(1, USER_PREF_HUM_OFFSET_LABEL, drawUserPrefHumOffsetText,
                      drawUserPrefHumOffset),
    USER_PREF_ACTION(0, USER_PREF_BUTTON_LOCKOUT, drawUserPrefButtonLockout, 108),
    USER_PREF_ACTION(1, USER_PREF_SECURITY_CODE, drawUserPrefConfigSecCode, 153),
    USER_PREF_ACTION(2, USER_PREF_ADV_SETUP, drawUserPrefAdvSetup, 113),
    SETUP_BUTTON(&g_UserPrefMenu[USER_PREF_EXIT].handle, drawUserPrefExit, EXIT_TEXT_WIDTH),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

const ScreenTableBackup c_UserPrefBackup(testScreenUserPreferences);
const ScreenTableBackup c_UserPrefCont1Backup(testScreenUserPrefCont1);
const ScreenTableBackup c_UserPrefCont2Backup(testScreenUserPrefCont2);

} // namespace

// ---- Menu ------------------------------------------------------------------------------------

void initialiseUserPrefMenu() {
    for (uint8_t i = 0; i < USER_PREF_MENU_ITEMS; i++) {
        MenuItem &item = g_UserPrefMenu[i];
        item.index = i;
        item.isFixedPoint = 0;
        item.hasGlyphs = 0;
        item.wrap = 1;
        item.step = 1;
    }
    for (const ValueLimits &limits : c_UserPrefLimits) {
        MenuItem &item = g_UserPrefMenu[limits.position];
        item.min = limits.min;
        item.max = limits.max;
        item.step = limits.step;
    }
    screenUserHdlInit(testScreenUserPreferences);
    screenUserHdlInit(testScreenUserPrefCont1);
    screenUserHdlInit(testScreenUserPrefCont2);
}

void getUserPrefFromDataDict() {
    TstatFmtSettings_t fmt{};
    getThermostatFormatSettings(&fmt);
    valueOf(USER_PREF_TEMP_SCALE) = fmt.tempScale == TEMP_SCALE_FAHRENHEIT ? 0 : 1;
    valueOf(USER_PREF_DATE) = choiceOf(fmt.dateFormat, 3, DATE_FORMAT_MM_DD_YY);
    valueOf(USER_PREF_TIME) = fmt.timeFormat == TIME_FORMAT_24_HOUR ? 1 : 0;
    TstatBkLightCtl_t bk{};
    getThermostatBacklightSettings(&bk);
    const MenuItem &timeout = g_UserPrefMenu[USER_PREF_BKL_TIMEOUT];
    // A time-out set from the bus may lie outside what the page steps through.
    valueOf(USER_PREF_BKL_TIMEOUT) =
        static_cast<int16_t>(std::clamp<int32_t>(bk.backlightTimeout, timeout.min, timeout.max));
    valueOf(USER_PREF_BKL_ACTIVE) = choiceOf(bk.activeBrightness, 3, BACKLIGHT_ACTIVE_HIGH);
    valueOf(USER_PREF_BKL_INACTIVE) = bk.inactiveBrightness == BACKLIGHT_INACTIVE_DIM ? 0 : 1;
    valueOf(USER_PREF_FILTER) = featureChoice(getFilterChangeState());
    valueOf(USER_PREF_WEATHER_ALERT) = featureChoice(getWeatherAlertFeature());
    valueOf(USER_PREF_FORECAST) = featureChoice(getCurrentForecastState());
    valueOf(USER_PREF_FIVE_DAY) = featureChoice(getFiveDayForecastState());
    valueOf(USER_PREF_SCREEN_SAVER) = featureChoice(getScrSaverState());
    const MenuItem &offset = g_UserPrefMenu[USER_PREF_HUM_OFFSET];
    valueOf(USER_PREF_HUM_OFFSET) =
        static_cast<int16_t>(std::min<int32_t>(getHumidityOffset(), offset.max));
}

void setUserPrefInDataDict() {
    TstatFmtSettings_t fmt{};
    getThermostatFormatSettings(&fmt);
    fmt.tempScale = valueOf(USER_PREF_TEMP_SCALE) == 0 ? TEMP_SCALE_FAHRENHEIT : TEMP_SCALE_CELSIUS;
    fmt.dateFormat = static_cast<DateFormat>(
        choiceOf(static_cast<uint16_t>(valueOf(USER_PREF_DATE)), 3, DATE_FORMAT_MM_DD_YY));
    fmt.timeFormat = valueOf(USER_PREF_TIME) == 1 ? TIME_FORMAT_24_HOUR : TIME_FORMAT_12_HOUR;
    setThermostatFormatSettings(&fmt);
    TstatBkLightCtl_t bk{};
    getThermostatBacklightSettings(&bk);
    bk.backlightTimeout = static_cast<uint16_t>(valueOf(USER_PREF_BKL_TIMEOUT));
    bk.activeBrightness = static_cast<BacklightActiveBrightness>(
        choiceOf(static_cast<uint16_t>(valueOf(USER_PREF_BKL_ACTIVE)), 3, BACKLIGHT_ACTIVE_HIGH));
    bk.inactiveBrightness =
        valueOf(USER_PREF_BKL_INACTIVE) == 0 ? BACKLIGHT_INACTIVE_DIM : BACKLIGHT_INACTIVE_OFF;
    setThermostatBacklightSettings(&bk);
    setFilterChangeState(featureOf(USER_PREF_FILTER));
    setWeatherAlertFeature(featureOf(USER_PREF_WEATHER_ALERT));
    FeatureState forecast = featureOf(USER_PREF_FORECAST);
    if (forecast != getCurrentForecastState()) {
        setCurrentForecastState(forecast);
        // The main page is built with or without the weather panel.
        initialiseMainPage();
    }
    setFiveDayForecastState(featureOf(USER_PREF_FIVE_DAY));
    setScrSaverState(featureOf(USER_PREF_SCREEN_SAVER));
    setHumidityOffset(static_cast<uint8_t>(valueOf(USER_PREF_HUM_OFFSET)));
}

void userPrefPageTimeout() {
    storeAndSave();
    initialiseTStatFormat();
    displayMainPage();
}

void displayUserPrefPage() {
    openUserPref(testScreenUserPreferences, USER_PREF_TEMP_SCALE_LABEL);
}

void displayUserPrefPageAt(uint8_t position) {
    if (position >= USER_PREF_MENU_ITEMS) {
        position = USER_PREF_TEMP_SCALE_LABEL;
    }
    ScreenItem *screen = position < USER_PREF_BKL_INACTIVE_LABEL   ? testScreenUserPreferences
                         : position < USER_PREF_SCREEN_SAVER_LABEL ? testScreenUserPrefCont1
                                                                   : testScreenUserPrefCont2;
    openUserPref(screen, position);
}

void displayUserPrefContPage() {
    uint8_t position = USER_PREF_SECURITY_CODE;
    if (!currentPosition(&position) || position < USER_PREF_SCREEN_SAVER_LABEL) {
        position = USER_PREF_SECURITY_CODE;
    }
    openUserPref(testScreenUserPrefCont2, position);
}

void displaySelectedUserPrefMenuItemPage() {
    uint8_t position = 0;
    if (!currentPosition(&position)) {
        return;
    }
    switch (c_UserPrefKind[position]) {
    case ITEM_LABEL:
        select(static_cast<uint8_t>(position + 1));
        pageKeys(position == USER_PREF_BKL_ACTIVE_LABEL ? displayNextBacklightActLevel
                                                        : displayNextValidValue);
        break;
    case ITEM_ACTION:
        if (position == USER_PREF_MORE_1) {
            screenSetCurrentScreen(g_displayHdl, testScreenUserPrefCont1);
            select(USER_PREF_BKL_INACTIVE_LABEL);
        } else if (position == USER_PREF_MORE_2) {
            screenSetCurrentScreen(g_displayHdl, testScreenUserPrefCont2);
            select(USER_PREF_SCREEN_SAVER_LABEL);
        } else {
            runAction(position);
        }
        break;
    default:
        break;
    }
}

void incUserPrefPageMenuPtr() {
    uint8_t position = 0;
    if (!currentPosition(&position)) {
        return;
    }
    if (position == USER_PREF_MORE_1) {
        select(USER_PREF_TEMP_SCALE_LABEL);
    } else if (position == USER_PREF_MORE_2) {
        select(USER_PREF_BKL_INACTIVE_LABEL);
    } else if (position == USER_PREF_EXIT) {
        select(USER_PREF_SCREEN_SAVER_LABEL);
    } else if (c_UserPrefKind[position] == ITEM_LABEL) {
        select(static_cast<uint8_t>(position + 2));
    } else {
        select(static_cast<uint8_t>(position + 1));
        pageKeys(displaySelectedUserPrefMenuItemPage);
    }
}

void decUserPrefPageMenuPtr() {
    uint8_t position = 0;
    if (!currentPosition(&position)) {
        return;
    }
    if (position == USER_PREF_TEMP_SCALE_LABEL) {
        select(USER_PREF_MORE_1);
    } else if (position == USER_PREF_BKL_INACTIVE_LABEL) {
        select(USER_PREF_MORE_2);
    } else if (position == USER_PREF_SCREEN_SAVER_LABEL) {
        select(USER_PREF_EXIT);
    } else if (c_UserPrefKind[position] == ITEM_LABEL || position == USER_PREF_MORE_1 ||
               position == USER_PREF_MORE_2 || position == USER_PREF_BUTTON_LOCKOUT) {
        select(static_cast<uint8_t>(position - 2));
    } else {
        select(static_cast<uint8_t>(position - 1));
        pageKeys(displaySelectedUserPrefMenuItemPage);
    }
}

void displayNextBacklightActLevel() {
    MenuItem *item = getCurrentMenuPtr();
    if (item != &g_UserPrefMenu[USER_PREF_BKL_ACTIVE]) {
        return;
    }
    displayNextValidValue();
    if (item->value >= 0 && static_cast<size_t>(item->value) < c_BacklightActiveLevels.size()) {
        screenSetBacklightLevel(g_displayHdl, c_BacklightActiveLevels[item->value]);
    }
}

// ---- Text update functions ------------------------------------------------------------------

void drawUserPrefTempText(char *buffer) {
    drawLabel(buffer, USER_PREF_TEMP_SCALE_LABEL);
}
void drawUserPrefTemp(char *buffer) {
    drawChoice(buffer, c_TempScale, USER_PREF_TEMP_SCALE);
}
void drawUserPrefDateText(char *buffer) {
    drawLabel(buffer, USER_PREF_DATE_LABEL);
}
void drawUserPrefDate(char *buffer) {
    drawChoice(buffer, c_DateFormat, USER_PREF_DATE);
}
void drawUserPrefTimeText(char *buffer) {
    drawLabel(buffer, USER_PREF_TIME_LABEL);
}
void drawUserPrefTime(char *buffer) {
    drawChoice(buffer, c_TimeFormat, USER_PREF_TIME);
}
void drawUserPrefBkLTimeoutText(char *buffer) {
    drawLabel(buffer, USER_PREF_BKL_TIMEOUT_LABEL);
}

void drawUserPrefBkLTimeout(char *buffer) {
    MenuItem *label = &g_UserPrefMenu[USER_PREF_BKL_TIMEOUT_LABEL];
    MenuItem *value = &g_UserPrefMenu[USER_PREF_BKL_TIMEOUT];
    int seconds = static_cast<uint16_t>(value->value);
    int16_t labelX = BKL_TIMEOUT_LABEL_X;
    int16_t valueX = BKL_TIMEOUT_VALUE_X;
    if (seconds >= 60) {
        int minutes = seconds / 60;
        int rest = seconds % 60;
        if (rest != 0) {
            snprintf(buffer, SCREEN_TEXT_LEN, "%d%c %d%c", minutes, 'm', rest, 's');
            labelX = BKL_TIMEOUT_LABEL_X_WIDE;
            valueX = BKL_TIMEOUT_VALUE_X_WIDE;
        } else {
            snprintf(buffer, SCREEN_TEXT_LEN, "%d %s", minutes, "min");
        }
    } else {
        snprintf(buffer, SCREEN_TEXT_LEN, "%d %s", seconds, "sec");
    }
    setMenuItemLocation(label, labelX);
    setMenuItemLocation(value, valueX);
}

void drawUserPrefBkLActBrightnessText(char *buffer) {
    drawLabel(buffer, USER_PREF_BKL_ACTIVE_LABEL);
}
void drawUserPrefBkLActBrightness(char *buffer) {
    drawChoice(buffer, c_BkActBrightness, USER_PREF_BKL_ACTIVE);
}
void drawUserPrefBkLInActBrightnessText(char *buffer) {
    drawLabel(buffer, USER_PREF_BKL_INACTIVE_LABEL);
}
void drawUserPrefBkLInActBrightness(char *buffer) {
    drawChoice(buffer, c_BkInactBrightness, USER_PREF_BKL_INACTIVE);
}
void drawUserPrefFiltChangeText(char *buffer) {
    drawLabel(buffer, USER_PREF_FILTER_LABEL);
}
void drawUserPrefFiltChange(char *buffer) {
    drawChoice(buffer, c_UserPrefControl, USER_PREF_FILTER);
}
void drawUserPrefWeatherAlertText(char *buffer) {
    drawLabel(buffer, USER_PREF_WEATHER_ALERT_LABEL);
}
void drawUserPrefWeatherAlert(char *buffer) {
    drawChoice(buffer, c_UserPrefControl, USER_PREF_WEATHER_ALERT);
}
void drawUserPrefForecastText(char *buffer) {
    drawLabel(buffer, USER_PREF_FORECAST_LABEL);
}
void drawUserPrefForecast(char *buffer) {
    drawChoice(buffer, c_UserPrefControl, USER_PREF_FORECAST);
}
void drawUserPrefFiveDayFcastText(char *buffer) {
    drawLabel(buffer, USER_PREF_FIVE_DAY_LABEL);
}
void drawUserPrefFiveDayFcast(char *buffer) {
    drawChoice(buffer, c_UserPrefControl, USER_PREF_FIVE_DAY);
}
void drawUserPrefScrSaverText(char *buffer) {
    drawLabel(buffer, USER_PREF_SCREEN_SAVER_LABEL);
}
void drawUserPrefScrSaver(char *buffer) {
    drawChoice(buffer, c_UserPrefControl, USER_PREF_SCREEN_SAVER);
}
void drawUserPrefHumOffsetText(char *buffer) {
    drawLabel(buffer, USER_PREF_HUM_OFFSET_LABEL);
}
void drawUserPrefHumOffset(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%d", valueOf(USER_PREF_HUM_OFFSET));
}
void drawUserPrefMore(char *buffer) {
    drawAction(buffer, USER_PREF_MORE_1);
}
void drawUserPrefButtonLockout(char *buffer) {
    drawAction(buffer, USER_PREF_BUTTON_LOCKOUT);
}
void drawUserPrefConfigSecCode(char *buffer) {
    drawAction(buffer, USER_PREF_SECURITY_CODE);
}
void drawUserPrefAdvSetup(char *buffer) {
    drawAction(buffer, USER_PREF_ADV_SETUP);
}
void drawUserPrefExit(char *buffer) {
    drawAction(buffer, USER_PREF_EXIT);
}

void userPrefMenuReset() {
    c_UserPrefBackup.restore();
    c_UserPrefCont1Backup.restore();
    c_UserPrefCont2Backup.restore();
    for (MenuItem &item : g_UserPrefMenu) {
        item = MenuItem{};
    }
    prevTempSc = 0;
    initialiseUserPrefMenu();
}
