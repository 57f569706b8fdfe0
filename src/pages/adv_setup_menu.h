// Advanced setup page (page 12), the installer's page, on three screens:
// the equipment and its sensors; the date, the time, the cycle rate and the
// buttons to the bus address and thermostat setup pages; diagnostic mode,
// the humidity equipment, comfort recovery, help mode and "Exit".
//
// Each setting is a label followed by its value: Mode on the label selects
// the value, each further Mode steps it to the next choice. The first
// screen's edits are stored when "More" leaves it; on the other two every
// Mode press stores at once (the display manager's 20 s commit timer, which
// also reloads the screen 20 s after the last press, so the clock shown
// follows the clock). setAdvSetupInDataDict, getAdvSetupFromDataDict,
// initialiseAdvSetupMenu and displayAdvSetupPage are in menu_pages.h.
#pragma once

#include "graphics/screen.h"
#include "menus/menu_engine.h"
#include "pages/menu_pages.h"

#include <cstddef>
#include <cstdint>

enum AdvSetupMenuItem : uint8_t {
    ADV_SETUP_HVAC_SYSTEM_TEXT = 0,
    ADV_SETUP_HVAC_SYSTEM = 1,
    ADV_SETUP_FOSSIL_TYPE_TEXT = 2,
    ADV_SETUP_FOSSIL_TYPE = 3,
    ADV_SETUP_EXT_SENSOR_TEXT = 4,
    ADV_SETUP_EXT_SENSOR = 5,
    ADV_SETUP_INT_SENSOR_TEXT = 6,
    ADV_SETUP_INT_SENSOR = 7,
    ADV_SETUP_HUM_SENSOR_TEXT = 8,
    ADV_SETUP_HUM_SENSOR = 9,
    ADV_SETUP_MORE = 10,
    ADV_SETUP_MONTH_TEXT = 11,
    ADV_SETUP_MONTH = 12,
    ADV_SETUP_DAY_TEXT = 13,
    ADV_SETUP_DAY = 14,
    ADV_SETUP_YEAR_TEXT = 15,
    ADV_SETUP_YEAR = 16,
    ADV_SETUP_HOUR_TEXT = 17,
    ADV_SETUP_HOUR = 18,
    ADV_SETUP_MINUTE_TEXT = 19,
    ADV_SETUP_MINUTE = 20,
    ADV_SETUP_CYCLE_RATE_TEXT = 21,
    ADV_SETUP_CYCLE_RATE = 22,
    ADV_SETUP_KORABUS_SETUP = 23,
    ADV_SETUP_TSTAT_SETUP = 24,
    ADV_SETUP_MORE_CONT = 25,
    ADV_SETUP_DIAG_MODE_TEXT = 26,
    ADV_SETUP_DIAG_MODE = 27,
    ADV_SETUP_HUM_SYSTEM_TEXT = 28,
    ADV_SETUP_HUM_SYSTEM = 29,
    ADV_SETUP_DEHUM_SYSTEM_TEXT = 30,
    ADV_SETUP_DEHUM_SYSTEM = 31,
    ADV_SETUP_COMFORT_RECOVERY_TEXT = 32,
    ADV_SETUP_COMFORT_RECOVERY = 33,
    ADV_SETUP_HELP_MODE_TEXT = 34,
    ADV_SETUP_HELP_MODE = 35,
    ADV_SETUP_EXIT = 36,
};
constexpr uint8_t ADV_SETUP_ITEMS = 37;
extern MenuItem g_AdvSetupMenu[ADV_SETUP_ITEMS];

constexpr size_t ADV_SETUP_SCREEN_ITEMS = 27;
constexpr size_t ADV_SETUP_CONT_SCREEN_ITEMS = 33;
constexpr size_t ADV_SETUP_CONT1_SCREEN_ITEMS = 27;
extern ScreenItem testScreenAdvSetup[ADV_SETUP_SCREEN_ITEMS + 1];

// The second and third screens, keeping the current item when it is one of
// theirs (else their first); the second screen with the given item current.
void displayAdvSetupContPage();
void displayAdvSetupContPage1();
void displayAdvSetupContPageAt(uint8_t position);

// 1 when the page shows diagnostic mode on: the settings page then skips the security code.
uint8_t advSetupDiagnosticModeShown();

// Keys of the page: Up, Down, Mode; and Mode while a sensor choice is
// selected (the room always keeps a temperature sensor).
void decAdvSetupMenuPtr();
void incAdvSetupMenuPtr();
void displaySelectedAdvSetupMenuItemPage();
void displayNextValidSsorValue();
// The page's time-out: committed settings not saved yet are saved.
void advSetupPageTimeout();
// The items from the date on commit on a timer: a mode press on one stores
// the page and restarts the display manager's commit timer; idle passes once
// it has run out reload the page from the store (and return true).
void advSetupModeTouched(const MenuItem *item);
bool advSetupIdle(const MenuItem *item);

// Text update function of every item of the three screens, by position.
void drawAdvSetupItem(char *buffer, uint32_t position);

// Forgets the page's state and restores its screen tables. For tests.
void advSetupMenuReset();
