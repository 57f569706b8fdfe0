// Menu pages that the control bus reloads when it changes their data: their
// initialisers (limits and values for the current scale and lockout) and
// their loaders (values from the configuration store into the menu items).
#pragma once

#include <cstdint>

void initialiseHoldModeMenu();
void getHoldModeSPFromDataDict();

void initialiseProgramMenu();
// Loads one day (0 Sunday to 6 Saturday) into the program menu.
void getCurrDayProgModeSPFromDataDict(uint8_t day);
// The day the program page is editing (0 Sunday to 6 Saturday).
uint8_t getProgramMenuDay();

void initialiseVacationModeMenu();
void getVacModeSPFromDataDict();

void getUserPrefFromDataDict();
void getButtonLockoutFromDataDict();
