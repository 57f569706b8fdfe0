// Menu pages: their initialisers (limits and values for the current scale
// and lockout), their loaders (values from the configuration store into the
// menu items), and the entry functions other pages and the control bus open.
// displayManagerInit runs every initialiser once, in the order of its table.
#pragma once

#include <cstdint>

// ---- Hold menu (hold_menu.cpp) -------------------------------------------------

void initialiseHoldModeMenu();
void getHoldModeSPFromDataDict();

// ---- The menu pages still to come (menu_pages_pending.cpp) -------------------------

void initialiseUserPrefMenu();
void initialiseTstatMenu();
void initialiseProgramMenu();
void initialiseVacationModeMenu();
void initialiseSettingsModeMenu();
void initialiseButtonLockoutMenu();
void initialiseConfigSecCodeMenu();
void initialiseAdvSetupMenu();
void initialiseKorabusCommSetupMenu();
void initialiseTstatSetupMenu();

// Loads one day (0 Sunday to 6 Saturday) into the program menu.
void getCurrDayProgModeSPFromDataDict(uint8_t day);
// The day the program page is editing (0 Sunday to 6 Saturday).
uint8_t getProgramMenuDay();
void getVacModeSPFromDataDict();
void getUserPrefFromDataDict();
void getButtonLockoutFromDataDict();
// The advanced setup's commit: store its edits, and reload it.
void setAdvSetupInDataDict();
void getAdvSetupFromDataDict();

// The thermostat mode page (page 3), last page of the mode-key cycle.
void enterTSTATPage();
// The user preferences (page 11), opened by an accepted security code.
void displayUserPrefPage();
// The settings page (page 7) with the given item current (a cancelled code entry).
void displaySettingsPageAt(uint8_t position);
