// Button lockout menu and its two screens.
#include "pages/button_lockout_menu.h"

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

MenuItem g_ButtonLockoutMenu[LOCKOUT_MENU_ITEMS] = {};

const char *const c_ButtonLockoutMenuItems[LOCKOUT_MENU_ITEMS] = {
    "Button Lockout",
    "",
    "Temperature Lock",
    "",
    "Temp Lock Time Limit",
    "",
    "Temp Lock Range Limit",
    "",
    "More",
    "Fan Lock",
    "",
    "Fan Lock Time",
    "",
    "Mode Lock",
    "",
    "Mode Lock Time",
    "",
    "Exit",
};

namespace {

const char *const c_LockChoice[] = {"Lock", "Unlock"};
const char *const c_YesNoChoice[] = {"Yes", "No"};
// Lock times are minutes, the range whole degrees.
constexpr int16_t LOCK_TIME_MAX = 60;
constexpr int16_t LOCK_RANGE_MAX = 10;

bool isLabel(uint8_t position) {
    return position != LOCKOUT_MORE && position != LOCKOUT_EXIT &&
           (position < LOCKOUT_MORE ? position % 2 == 0 : position % 2 == 1);
}

int16_t &valueOf(uint8_t position) {
    return g_ButtonLockoutMenu[position].value;
}

int16_t lockChoice(LockState state) {
    return state == LOCK_LOCKED ? 0 : 1;
}

LockState lockOf(uint8_t position) {
    return valueOf(position) == 0 ? LOCK_LOCKED : LOCK_UNLOCKED;
}

uint16_t minutesOf(uint8_t position) {
    return static_cast<uint16_t>(std::clamp<int16_t>(valueOf(position), 0, LOCK_TIME_MAX));
}

bool currentPosition(uint8_t *position) {
    uint8_t index = getCurrentMenuIndex();
    if (index >= LOCKOUT_MENU_ITEMS || getCurrentMenuPtr() != &g_ButtonLockoutMenu[index]) {
        return false;
    }
    *position = index;
    return true;
}

void select(uint8_t position) {
    setCurrentMenuPtr(g_ButtonLockoutMenu, position);
    displayHighlightedItem();
}

void pageKeys(DispManFn mode) {
    displayManagerSetKeySlots(decButtonLockoutMenuPtr, incButtonLockoutMenuPtr, mode);
}

void drawLabel(char *buffer, uint8_t position) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s %c", c_ButtonLockoutMenuItems[position], ':');
}

template <size_t N> void drawChoice(char *buffer, const char *const (&list)[N], uint8_t position) {
    int16_t value = valueOf(position);
    snprintf(buffer, SCREEN_TEXT_LEN, "%s",
             value >= 0 && static_cast<size_t>(value) < N ? list[value] : "");
}

void drawMinutes(char *buffer, uint8_t position) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%d %s", valueOf(position), "min");
}

constexpr int LOCKOUT_ROW_PITCH = 44;
constexpr int16_t MORE_TEXT_WIDTH = 34;
constexpr int16_t EXIT_TEXT_WIDTH = 26;

#define LOCKOUT_SETTING(row, label, labelFn, valueFn)                                              \
    SETUP_SETTING(row, LOCKOUT_ROW_PITCH, &g_ButtonLockoutMenu[label].handle, labelFn,             \
                  &g_ButtonLockoutMenu[(label) + 1].handle, valueFn)

} // namespace

ScreenItem testScreenButtonLockout[BUTTON_LOCKOUT_SCREEN_ITEMS + 1] = {
    SETUP_SCREEN_HEAD("./images/Setup/Label - Setup - ButtonLockout1.png"),
    LOCKOUT_SETTING(0, LOCKOUT_BUTTON_LOCKOUT_LABEL, drawButtonLockoutText, drawButtonLockout),
    LOCKOUT_SETTING(1, LOCKOUT_TEMP_LOCK_LABEL, drawTempLockText, drawTempLock),
    LOCKOUT_SETTING(2, LOCKOUT_TEMP_TIME_LABEL, drawTempLockTimeText, drawTempLockTime),
    LOCKOUT_SETTING(3, LOCKOUT_TEMP_RANGE_LABEL, drawTempLockRangeText, drawTempLockRange),
    SETUP_BUTTON(&g_ButtonLockoutMenu[LOCKOUT_MORE].handle, drawButtonLockoutMore, MORE_TEXT_WIDTH),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

ScreenItem testScreenButtonLockoutCont[BUTTON_LOCKOUT_CONT_ITEMS + 1] = {
    SETUP_SCREEN_HEAD("./images/Setup/Label - Setup - ButtonLockout2.png"),
    LOCKOUT_SETTING(0, LOCKOUT_FAN_LOCK_LABEL, drawFanLockText, drawFanLock),
    LOCKOUT_SETTING(1, LOCKOUT_FAN_TIME_LABEL, drawFanLockTimeText, drawFanLockTime),
    LOCKOUT_SETTING(2, LOCKOUT_MODE_LOCK_LABEL, drawModeLockText, drawModeLock),
    LOCKOUT_SETTING(3, LOCKOUT_MODE_TIME_LABEL, drawModeLockTimeText, drawModeLockTime),
    SETUP_BUTTON(&g_ButtonLockoutMenu[LOCKOUT_EXIT].handle, drawButtonLockoutExit, EXIT_TEXT_WIDTH),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

const ScreenTableBackup c_ButtonLockoutBackup(testScreenButtonLockout);
const ScreenTableBackup c_ButtonLockoutContBackup(testScreenButtonLockoutCont);

} // namespace

void initialiseButtonLockoutMenu() {
    for (uint8_t i = 0; i < LOCKOUT_MENU_ITEMS; i++) {
        MenuItem &item = g_ButtonLockoutMenu[i];
        item.index = i;
        item.isFixedPoint = 0;
        item.hasGlyphs = 0;
        item.wrap = 1;
        item.step = 1;
        item.min = 0;
        item.max = 1;
    }
    g_ButtonLockoutMenu[LOCKOUT_TEMP_TIME].max = LOCK_TIME_MAX;
    g_ButtonLockoutMenu[LOCKOUT_FAN_TIME].max = LOCK_TIME_MAX;
    g_ButtonLockoutMenu[LOCKOUT_MODE_TIME].max = LOCK_TIME_MAX;
    g_ButtonLockoutMenu[LOCKOUT_TEMP_RANGE].max = LOCK_RANGE_MAX;
    screenUserHdlInit(testScreenButtonLockout);
    screenUserHdlInit(testScreenButtonLockoutCont);
}

void getButtonLockoutFromDataDict() {
    TstatLockoutCfg_t cfg{};
    getLockoutConfiguration(&cfg);
    valueOf(LOCKOUT_BUTTON_LOCKOUT) = lockChoice(cfg.buttonLockout);
    valueOf(LOCKOUT_TEMP_LOCK) = lockChoice(cfg.tempLock);
    valueOf(LOCKOUT_TEMP_TIME) = std::min<int16_t>(cfg.tempLockTimeLimit, LOCK_TIME_MAX);
    valueOf(LOCKOUT_TEMP_RANGE) = std::min<int16_t>(cfg.tempLockRangeLimit, LOCK_RANGE_MAX);
    valueOf(LOCKOUT_FAN_LOCK) = lockChoice(cfg.fanLock);
    valueOf(LOCKOUT_FAN_TIME) = std::min<int16_t>(cfg.fanLockTime, LOCK_TIME_MAX);
    valueOf(LOCKOUT_MODE_LOCK) = lockChoice(cfg.modeLock);
    valueOf(LOCKOUT_MODE_TIME) = std::min<int16_t>(cfg.modeLockTime, LOCK_TIME_MAX);
}

void setButtonLockoutInDataDict() {
    TstatLockoutCfg_t cfg{};
    getLockoutConfiguration(&cfg);
    cfg.buttonLockout = lockOf(LOCKOUT_BUTTON_LOCKOUT);
    cfg.tempLock = lockOf(LOCKOUT_TEMP_LOCK);
    cfg.tempLockTimeLimit = minutesOf(LOCKOUT_TEMP_TIME);
    cfg.tempLockRangeLimit =
        static_cast<uint8_t>(std::clamp<int16_t>(valueOf(LOCKOUT_TEMP_RANGE), 0, LOCK_RANGE_MAX));
    cfg.fanLock = lockOf(LOCKOUT_FAN_LOCK);
    cfg.fanLockTime = minutesOf(LOCKOUT_FAN_TIME);
    cfg.modeLock = lockOf(LOCKOUT_MODE_LOCK);
    cfg.modeLockTime = minutesOf(LOCKOUT_MODE_TIME);
    setLockoutConfiguration(&cfg);
}

void displayButtonLockoutPage() {
    menuOpenPage(PAGE_BUTTON_LOCKOUT, {});
}

void leaveButtonLockoutPage() {
    setButtonLockoutInDataDict();
    saveThermostatSysCfg();
    resetLockoutFlags();
    displayMainPage();
}

void displaySelectedButtonLockMenuItemPage() {
    uint8_t position = 0;
    if (!currentPosition(&position)) {
        return;
    }
    if (isLabel(position)) {
        select(static_cast<uint8_t>(position + 1));
        pageKeys(displayNextValidValue);
    } else if (position == LOCKOUT_MORE) {
        screenSetCurrentScreen(g_displayHdl, testScreenButtonLockoutCont);
        select(LOCKOUT_FAN_LOCK_LABEL);
    } else if (position == LOCKOUT_EXIT) {
        leaveButtonLockoutPage();
    }
}

void incButtonLockoutMenuPtr() {
    uint8_t position = 0;
    if (!currentPosition(&position)) {
        return;
    }
    if (position == LOCKOUT_MORE) {
        select(LOCKOUT_BUTTON_LOCKOUT_LABEL);
    } else if (position == LOCKOUT_EXIT) {
        select(LOCKOUT_FAN_LOCK_LABEL);
    } else if (isLabel(position)) {
        select(static_cast<uint8_t>(position + 2));
    } else {
        select(static_cast<uint8_t>(position + 1));
        pageKeys(displaySelectedButtonLockMenuItemPage);
    }
}

void decButtonLockoutMenuPtr() {
    uint8_t position = 0;
    if (!currentPosition(&position)) {
        return;
    }
    if (position == LOCKOUT_BUTTON_LOCKOUT_LABEL) {
        select(LOCKOUT_MORE);
    } else if (position == LOCKOUT_FAN_LOCK_LABEL) {
        select(LOCKOUT_EXIT);
    } else if (isLabel(position) || position == LOCKOUT_MORE || position == LOCKOUT_EXIT) {
        select(static_cast<uint8_t>(position - 2));
    } else {
        select(static_cast<uint8_t>(position - 1));
        pageKeys(displaySelectedButtonLockMenuItemPage);
    }
}

// ---- Text update functions ------------------------------------------------------------------

void drawButtonLockoutText(char *buffer) {
    drawLabel(buffer, LOCKOUT_BUTTON_LOCKOUT_LABEL);
}
void drawButtonLockout(char *buffer) {
    drawChoice(buffer, c_LockChoice, LOCKOUT_BUTTON_LOCKOUT);
}
void drawTempLockText(char *buffer) {
    drawLabel(buffer, LOCKOUT_TEMP_LOCK_LABEL);
}
void drawTempLock(char *buffer) {
    drawChoice(buffer, c_YesNoChoice, LOCKOUT_TEMP_LOCK);
}
void drawTempLockTimeText(char *buffer) {
    drawLabel(buffer, LOCKOUT_TEMP_TIME_LABEL);
}
void drawTempLockTime(char *buffer) {
    drawMinutes(buffer, LOCKOUT_TEMP_TIME);
}
void drawTempLockRangeText(char *buffer) {
    drawLabel(buffer, LOCKOUT_TEMP_RANGE_LABEL);
}
void drawTempLockRange(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%d %c", valueOf(LOCKOUT_TEMP_RANGE), c_DegreeSymbol);
}
void drawButtonLockoutMore(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", c_ButtonLockoutMenuItems[LOCKOUT_MORE]);
}
void drawFanLockText(char *buffer) {
    drawLabel(buffer, LOCKOUT_FAN_LOCK_LABEL);
}
void drawFanLock(char *buffer) {
    drawChoice(buffer, c_YesNoChoice, LOCKOUT_FAN_LOCK);
}
void drawFanLockTimeText(char *buffer) {
    drawLabel(buffer, LOCKOUT_FAN_TIME_LABEL);
}
void drawFanLockTime(char *buffer) {
    drawMinutes(buffer, LOCKOUT_FAN_TIME);
}
void drawModeLockText(char *buffer) {
    drawLabel(buffer, LOCKOUT_MODE_LOCK_LABEL);
}
void drawModeLock(char *buffer) {
    drawChoice(buffer, c_YesNoChoice, LOCKOUT_MODE_LOCK);
}
void drawModeLockTimeText(char *buffer) {
    drawLabel(buffer, LOCKOUT_MODE_TIME_LABEL);
}
void drawModeLockTime(char *buffer) {
    drawMinutes(buffer, LOCKOUT_MODE_TIME);
}
void drawButtonLockoutExit(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", c_ButtonLockoutMenuItems[LOCKOUT_EXIT]);
}

void buttonLockoutMenuReset() {
    c_ButtonLockoutBackup.restore();
    c_ButtonLockoutContBackup.restore();
    for (MenuItem &item : g_ButtonLockoutMenu) {
        item = MenuItem{};
    }
    initialiseButtonLockoutMenu();
}
