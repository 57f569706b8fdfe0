// Vacation ("Away") page (page 6): switches the vacation on or off and edits
// its end (date and time), its heat and cool set points and its humidify and
// dehumidify set points; and the vacation help page (page 18).
//
// initialiseVacationModeMenu, getVacModeSPFromDataDict, displayVacationModePage
// and displayAwayHelpPage are in menu_pages.h.
#pragma once

#include "config/persist.h"
#include "graphics/screen.h"
#include "menus/menu_engine.h"
#include "pages/menu_pages.h"

#include <cstdint>

// Positions of g_VacationMenu: the switch, then each group's header
// followed by its values, and Done.
constexpr uint8_t VAC_MENU_ITEMS = 18;
constexpr uint8_t VAC_ENABLE = 0; // 0 enabled, 1 disabled
constexpr uint8_t VAC_DATE = 1;
constexpr uint8_t VAC_MONTH = 2; // 0-11
constexpr uint8_t VAC_DAY = 3;
constexpr uint8_t VAC_YEAR = 4;
constexpr uint8_t VAC_TIME = 5;
constexpr uint8_t VAC_HOUR = 6; // 1-12
constexpr uint8_t VAC_MINUTE = 7;
constexpr uint8_t VAC_AMPM = 8;
constexpr uint8_t VAC_COOL_HDR = 9;
constexpr uint8_t VAC_COOL = 10;
constexpr uint8_t VAC_HEAT_HDR = 11;
constexpr uint8_t VAC_HEAT = 12;
constexpr uint8_t VAC_HUMID_HDR = 13;
constexpr uint8_t VAC_HUMID = 14;
constexpr uint8_t VAC_DEHUMID_HDR = 15;
constexpr uint8_t VAC_DEHUMID = 16;
constexpr uint8_t VAC_DONE = 17;
constexpr int16_t VAC_ENABLED = 0;
constexpr int16_t VAC_DISABLED = 1;

extern MenuItem g_VacationMenu[VAC_MENU_ITEMS];
// The switch's images while highlighted and otherwise, by its value.
extern const char *const c_ActVacEnable[2];
extern const char *const c_InActVacEnable[2];

extern ScreenItem testScreenVacation[];
extern ScreenItem testScreenAwayHelp[];

// Stores the menu as the vacation settings and sets the thermostat mode:
// vacation when the switch is on, else program. The caller saves.
void setVacModeSPInDataDict();
// The same without touching the thermostat mode: the page's store hook, so
// that only Done enters or leaves the vacation.
void setVacSettingsInDataDict();
// The page's time-out: the settings the store cycle wrote are saved (the
// thermostat mode is only ever changed by Done).
void vacationPageTimeout();

// Keys in navigation: Down, Up and Mode; Mode while a value is edited.
void incVacModeMenuPtr();
void decVacModeMenuPtr();
void displaySelectedVacMenuItemPage();
void callDataDictAndIncVacModePtr();

// Narrows the set points' limits to the temperature lock's range.
void updateVacMenuValues();
void updateLockoutVacMenu(int8_t range);
// 1 when heat, cool, humidify, dehumidify or end time differ.
uint8_t checkVacPageSetPoint(const TstatSetPoint_t *previous, const TstatSetPoint_t *current);
void setVacBlinkingText(MenuItem *item);
void resetVacBlinkingTextPtr();
// The group outlines and headers that show where the user is.
void vacModeSpecificHighlighting();

// Text update functions of the vacation screen.
void drawVacDateMonth(char *buffer);
void drawVacDateDay(char *buffer);
void drawVacDateYear(char *buffer);
void drawVacDateHour(char *buffer);
void drawVacDateMinute(char *buffer);
void drawVacDateAmPm(char *buffer);
void drawVacCoolSP(char *buffer);
void drawVacHeatSP(char *buffer);
void drawVacHumidSP(char *buffer);
void drawVacDehumidSP(char *buffer);

// Forgets the menu's state and restores the screen tables. For tests.
void vacationMenuReset();
