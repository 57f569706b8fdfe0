// Thermostat setup page (page 15), reached from the advanced setup: the
// installer parameters of the control, in the display scale. First screen:
// first- and second-stage differentials, deadband and temperature offset;
// second screen: the heat pump's balance point and "Exit". Each label's Mode
// selects its value, and each further Mode steps it, wrapping at its limits.
// Only "Exit" stores (and saves) the values; the page's time-out drops them.
// displayThermostatSetupPage, initialiseTstatSetupMenu and setMinMaxTempValues
// are in menu_pages.h.
#pragma once

#include "core/fixed_point.h"
#include "graphics/screen.h"
#include "menus/menu_engine.h"
#include "pages/menu_pages.h"

#include <cstddef>
#include <cstdint>

enum TstatSetupMenuItem : uint8_t {
    TSTAT_SETUP_FIRST_STG_TEXT = 0,
    TSTAT_SETUP_FIRST_STG = 1,
    TSTAT_SETUP_SECOND_STG_TEXT = 2,
    TSTAT_SETUP_SECOND_STG = 3,
    TSTAT_SETUP_DEADBAND_TEXT = 4,
    TSTAT_SETUP_DEADBAND = 5,
    TSTAT_SETUP_TEMP_OFFSET_TEXT = 6,
    TSTAT_SETUP_TEMP_OFFSET = 7,
    TSTAT_SETUP_MORE = 8,
    TSTAT_SETUP_BAL_PT_TEXT = 9,
    TSTAT_SETUP_BAL_PT = 10,
    TSTAT_SETUP_EXIT = 11,
};
constexpr uint8_t TSTAT_SETUP_ITEMS = 12;
extern MenuItem g_TstatSetupMenu[TSTAT_SETUP_ITEMS];

constexpr size_t TSTAT_SETUP_SCREEN_ITEMS = 25;
constexpr size_t TSTAT_SETUP_CONT_SCREEN_ITEMS = 19;
extern ScreenItem testScreenTstatSetup[TSTAT_SETUP_SCREEN_ITEMS + 1];

// Values from the configuration store into the items, and back.
void getTstatSetupFromDataDict();
void setTstatSetupInDataDict();

// Keys of the page: Up, Down, Mode; and Mode while the first-stage
// differential is selected (0.5, 1.0, 2.0 in Fahrenheit; 0.25, 0.5, 1.0 in Celsius).
void decTstatSetupPageMenuPtr();
void incTstatSetupPageMenuPtr();
void displaySelectedTstatSetupMenuItemPage();
void incrementFirstStgMenuItemValue();

// Text update functions of the two screens.
void drawTstatSetupFirstStgDiffText(char *buffer);
void drawTstatSetupFirstStgDiff(char *buffer);
void drawTstatSetupSecondStgDiffText(char *buffer);
void drawTstatSetupSecondStgDiff(char *buffer);
void drawTstatSetupDeadbandText(char *buffer);
void drawTstatSetupDeadband(char *buffer);
void drawTstatSetupDeadbandTempOffsetText(char *buffer);
void drawTstatSetupDeadbandTempOffset(char *buffer);
void drawTstatSetupMore(char *buffer);
void drawTstatSetupLowBalPtText(char *buffer);
void drawTstatSetupLowBalPt(char *buffer);
void drawTstatSetupExit(char *buffer);

// Forgets the page's state and restores its screen tables. For tests.
void tstatSetupMenuReset();
