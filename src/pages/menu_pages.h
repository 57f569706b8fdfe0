// Menu pages: their initialisers (limits and values for the current scale
// and lockout), their loaders (values from the configuration store into the
// menu items), and the entry functions other pages and the control bus open.
// displayManagerInit runs every initialiser once, in the order of its table.
#pragma once

#include <cstdint>

// ---- Hold menu (hold_menu.cpp) -------------------------------------------------

void initialiseHoldModeMenu();
void getHoldModeSPFromDataDict();

// ---- Program schedule (program_menu.cpp) and vacation (vacation_menu.cpp) -------------

void initialiseProgramMenu();
void initialiseVacationModeMenu();
// Loads one day (0 Sunday to 6 Saturday) into the program menu.
void getCurrDayProgModeSPFromDataDict(uint8_t day);
// The day the program page is editing (0 Sunday to 6 Saturday).
uint8_t getProgramMenuDay();
void getVacModeSPFromDataDict();

// ---- Settings, thermostat mode and setups, preferences, lockout and code change ----------

void initialiseUserPrefMenu();
void initialiseTstatMenu();
void initialiseSettingsModeMenu();
void initialiseButtonLockoutMenu();
void initialiseConfigSecCodeMenu();
void initialiseAdvSetupMenu();
void initialiseKorabusCommSetupMenu();
void initialiseTstatSetupMenu();

void getUserPrefFromDataDict();
void getButtonLockoutFromDataDict();
// The advanced setup's commit: store its edits, and reload it.
void setAdvSetupInDataDict();
void getAdvSetupFromDataDict();
// The thermostat setup's limits for the display scale (the user preferences
// refresh them before opening the advanced setup).
void setMinMaxTempValues();

// ---- Page entries that other pages open ---------------------------------------------

// Settings (page 7), from its first item or with the given item current
// (returning from a page it opened, or a cancelled code entry).
void displaySettingsPage();
void displaySettingsPageAt(uint8_t position);
// The thermostat mode page (page 3): enterTSTATPage is the last page of the
// mode-key cycle, displayTSTATPage the page itself.
void enterTSTATPage();
void displayTSTATPage();
// Thermostat setup (page 15), advanced setup (12) and the bus address (13).
void displayThermostatSetupPage();
void displayAdvSetupPage();
void displayKorabusCommPage();
// Program schedule (page 5) and vacation (6), and their help pages (19 and
// 18), shown instead of them while help mode is on.
void displayProgramModePage();
void displayVacationModePage();
void displayProgramHelpPage();
void displayAwayHelpPage();
// User preferences (page 11), opened by an accepted security code; button
// lockout (14) and the security code configuration (10).
void displayUserPrefPage();
// User preferences with the given item current, on that item's screen
// (returning from a page it opened: the advanced setup's "Exit" gives 28).
void displayUserPrefPageAt(uint8_t position);
void displayButtonLockoutPage();
void displayConfigSecCode();
