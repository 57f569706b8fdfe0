// Display manager: the dispatcher of pages, keys, time-outs, backlight and
// screen saver.
#pragma once

#include <cstdint>

// Display page numbers; the refresh-request set of the configuration store is
// indexed by them.
enum DisplayPage : uint8_t {
    PAGE_MAIN = 0,
    PAGE_DETAIL_FORECAST = 1,
    PAGE_FIVE_DAY_FORECAST = 2,
    PAGE_TSTAT_MODE = 3,
    PAGE_HOLD = 4,
    PAGE_PROGRAM = 5,
    PAGE_VACATION = 6,
    PAGE_SETTINGS = 7,
    PAGE_UNUSED_8 = 8,
    PAGE_SEC_CODE_INPUT = 9,
    PAGE_SEC_CODE_CONFIG = 10,
    PAGE_USER_PREF = 11,
    PAGE_ADV_SETUP = 12,
    PAGE_BUS_ADDRESS = 13,
    PAGE_BUTTON_LOCKOUT = 14,
    PAGE_TSTAT_SETUP = 15,
    PAGE_MESSAGE = 16,
    PAGE_HELP = 17,
    PAGE_VACATION_HELP = 18,
    PAGE_PROGRAM_HELP = 19,
};
constexpr unsigned DISPLAY_PAGE_COUNT = 20;

// Screen, touch input and first page ready.
void displayManagerInit();
// One non-blocking pass of the user interface.
void displayManagerPoll();
// Stops the touch input and the screen.
void displayManagerStop();
// 1 makes the under-voltage text of every screen blink, 0 stops it.
void dispManSetUnderVoltageWarning(uint8_t on);

void dispManSetCurrentPage(uint8_t page);
uint8_t dispManGetCurrentPage();

// Backlight on at its active level, and its inactivity timer restarted.
void displayManagerEnableBacklight();
// 1 while the backlight is active (not yet timed out).
uint32_t getBacklightTimerFlag();
// Marks the backlight inactive and the screen saver not shown, without
// changing the level (the caller sets it).
void clearBacklightTimerFlag();
// 1 while the screen saver is shown.
uint8_t dispManIsScreenSaverShown();
// Takes the screen saver's temperature text off the screen (a dark panel).
void dispManRemoveScreenSaverText();
// Clears the running flags of the mode, fan and temperature lock timers.
void resetLockoutFlags();
