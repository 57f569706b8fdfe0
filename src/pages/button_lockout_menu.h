// Button lockout: the page that edits the lockout configuration (the lockout
// itself, the temperature, fan and mode locks, their durations and the
// set-point range the temperature lock leaves free). One menu of 18 records
// over two screens (positions 0-8 and 9-17): labels each followed by its
// value, "More" and "Exit". Mode on a label selects its value, Mode on a value
// steps through its choices; "Exit" stores, saves and restarts the timing of
// the locks. initialiseButtonLockoutMenu, getButtonLockoutFromDataDict and
// displayButtonLockoutPage are in menu_pages.h.
#pragma once

#include "graphics/screen.h"
#include "menus/menu_engine.h"

#include <cstddef>
#include <cstdint>

enum ButtonLockoutPosition : uint8_t {
    LOCKOUT_BUTTON_LOCKOUT_LABEL = 0,
    LOCKOUT_BUTTON_LOCKOUT = 1,
    LOCKOUT_TEMP_LOCK_LABEL = 2,
    LOCKOUT_TEMP_LOCK = 3,
    LOCKOUT_TEMP_TIME_LABEL = 4,
    LOCKOUT_TEMP_TIME = 5,
    LOCKOUT_TEMP_RANGE_LABEL = 6,
    LOCKOUT_TEMP_RANGE = 7,
    LOCKOUT_MORE = 8,
    LOCKOUT_FAN_LOCK_LABEL = 9,
    LOCKOUT_FAN_LOCK = 10,
    LOCKOUT_FAN_TIME_LABEL = 11,
    LOCKOUT_FAN_TIME = 12,
    LOCKOUT_MODE_LOCK_LABEL = 13,
    LOCKOUT_MODE_LOCK = 14,
    LOCKOUT_MODE_TIME_LABEL = 15,
    LOCKOUT_MODE_TIME = 16,
    LOCKOUT_EXIT = 17,
    LOCKOUT_MENU_ITEMS = 18,
};

extern MenuItem g_ButtonLockoutMenu[LOCKOUT_MENU_ITEMS];
// The text of each position: a label's name, "More" and "Exit" ("" for values).
extern const char *const c_ButtonLockoutMenuItems[LOCKOUT_MENU_ITEMS];

constexpr size_t BUTTON_LOCKOUT_SCREEN_ITEMS = 26;
constexpr size_t BUTTON_LOCKOUT_CONT_ITEMS = 25;
extern ScreenItem testScreenButtonLockout[BUTTON_LOCKOUT_SCREEN_ITEMS + 1];
extern ScreenItem testScreenButtonLockoutCont[BUTTON_LOCKOUT_CONT_ITEMS + 1];

// Writes every value into the lockout configuration (the page's store callback).
void setButtonLockoutInDataDict();
// Leaving the page by "Exit" or its time-out: every field is stored and
// saved, and the locks' timing starts again with what was stored.
void leaveButtonLockoutPage();
// Keys of the page.
void displaySelectedButtonLockMenuItemPage();
void incButtonLockoutMenuPtr();
void decButtonLockoutMenuPtr();

// Text update functions of the two screens.
void drawButtonLockoutText(char *buffer);
void drawButtonLockout(char *buffer);
void drawTempLockText(char *buffer);
void drawTempLock(char *buffer);
void drawTempLockTimeText(char *buffer);
void drawTempLockTime(char *buffer);
void drawTempLockRangeText(char *buffer);
void drawTempLockRange(char *buffer);
void drawButtonLockoutMore(char *buffer);
void drawFanLockText(char *buffer);
void drawFanLock(char *buffer);
void drawFanLockTimeText(char *buffer);
void drawFanLockTime(char *buffer);
void drawModeLockText(char *buffer);
void drawModeLock(char *buffer);
void drawModeLockTimeText(char *buffer);
void drawModeLockTime(char *buffer);
void drawButtonLockoutExit(char *buffer);

// Forgets the menu's values and restores the screen tables. For tests.
void buttonLockoutMenuReset();
