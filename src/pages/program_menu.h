// Program schedule page (page 5): one day of the weekly program at a time,
// four periods (Wake, Leave, Return, Sleep) each with a heat and a cool set
// point and a start time, the day's dehumidify and humidify set points, and
// the Copy, Next Day and Done buttons; the copy-to page that repeats the day
// on other days; and the program help page (page 19).
//
// initialiseProgramMenu, getCurrDayProgModeSPFromDataDict, getProgramMenuDay,
// displayProgramModePage and displayProgramHelpPage are in menu_pages.h.
#pragma once

#include "config/data_dict.h"
#include "config/persist.h"
#include "graphics/screen.h"
#include "menus/menu_engine.h"
#include "pages/menu_pages.h"

#include <cstdint>

// Positions of g_ProgramMenu. Each period is a group of six records from
// its header: heat, cool, start hour (1-12), minute and am/pm follow.
constexpr uint8_t PROG_MENU_ITEMS = 33;
constexpr uint8_t PROG_PERIOD_ITEMS = 6;
constexpr uint8_t PROG_WAKE = 0;
constexpr uint8_t PROG_LEAVE = 6;
constexpr uint8_t PROG_RETURN = 12;
constexpr uint8_t PROG_SLEEP = 18;
constexpr uint8_t PROG_HEAT = 1;
constexpr uint8_t PROG_COOL = 2;
constexpr uint8_t PROG_HOUR = 3;
constexpr uint8_t PROG_MINUTE = 4;
constexpr uint8_t PROG_AMPM = 5;
// The humidity groups: outline, label, set point.
constexpr uint8_t PROG_DEHUMID_FRAME = 24;
constexpr uint8_t PROG_DEHUMID_LABEL = 25;
constexpr uint8_t PROG_DEHUMID_SP = 26;
constexpr uint8_t PROG_HUMID_FRAME = 27;
constexpr uint8_t PROG_HUMID_LABEL = 28;
constexpr uint8_t PROG_HUMID_SP = 29;
constexpr uint8_t PROG_COPY = 30;
constexpr uint8_t PROG_NEXT_DAY = 31;
constexpr uint8_t PROG_DONE = 32;
// The copy-to menu: position 0 is Done, 1-7 are Saturday back to Sunday.
constexpr uint8_t PROG_COPY_TO_ITEMS = 8;
constexpr uint8_t PROG_COPY_TO_DONE = 0;

extern MenuItem g_ProgramMenu[PROG_MENU_ITEMS];

extern ScreenItem testScreenProgram[];
extern ScreenItem testScreenProgramCopyTo[];
extern ScreenItem testScreenProgramHelp[];

// Stores the menu into that day (0 Sunday to 6 Saturday); the store hook.
void setCurrDayProgModeSPInDataDict(uint8_t day);
// Loads the day being edited into the menu.
void loadProgramPage();
// The page's time-out: what the store cycle wrote into the configuration is
// saved, so that the flash holds what the control runs on.
void programPageTimeout();
// Up or down on the page: tells the display manager whether the current
// record is one of the Leave or the Sleep period.
void programKeyTouched(const MenuItem *item);

// Keys in navigation: Down, Up and Mode.
void incProgModeMenuPtr();
void decProgModeMenuPtr();
void displaySelectedProgMenuItemPage();
// Mode while a value is edited: stores it and moves to the next one.
void callDataDictAndIncProgMenuPtr();

// The copy-to page and its keys (Up, Down, Mode).
void displayCopyToPage();
void incProgModePopUpMenuIndex();
void decProgModePopUpMenuIndex();
void handleProgModePopUpMenuAction();
void showCopyToHighlightedMenuItem();
// Writes the day being edited into every marked day and clears the marks.
void performCopyToActions();

// The group outlines, labels and buttons that show where the user is.
void progModeSpecificHighlighting();
// Blinks the item's text (after stopping all), or stops all.
void setBlinkingText(MenuItem *item);
void resetBlinkingTextPtr();
// Narrows the periods' set-point limits to the temperature lock's range.
void updateProgramMenuValues();
void updateLockoutProgMode(int8_t range);
// 1 when heat, cool, humidify, dehumidify, start hour or minute differ.
uint8_t checkProgPageSetPoint(const TstatSetPoint_t *previous, const TstatSetPoint_t *current);

// Text update functions of the program screens.
void drawProgScrDate(char *buffer);
void drawProgDayName(char *buffer);
void drawProgWakeHeatSP(char *buffer);
void drawProgWakeCoolSP(char *buffer);
void drawProgLeaveHeatSP(char *buffer);
void drawProgLeaveCoolSP(char *buffer);
void drawProgReturnHeatSP(char *buffer);
void drawProgReturnCoolSP(char *buffer);
void drawProgSleepHeatSP(char *buffer);
void drawProgSleepCoolSP(char *buffer);
void drawProgWakeTimeHourSP(char *buffer);
void drawProgLeaveTimeHourSP(char *buffer);
void drawProgReturnTimeHourSP(char *buffer);
void drawProgSleepTimeHourSP(char *buffer);
void drawProgWakeTimeMinSP(char *buffer);
void drawProgLeaveTimeMinSP(char *buffer);
void drawProgReturnTimeMinSP(char *buffer);
void drawProgSleepTimeMinSP(char *buffer);
void drawProgWakeAmPm(char *buffer);
void drawProgLeaveAmPm(char *buffer);
void drawProgReturnAmPm(char *buffer);
void drawProgSleepAmPm(char *buffer);
void drawProgDehumidSP(char *buffer);
void drawProgHumidSP(char *buffer);
void drawCopyToTitle(char *buffer);

// Forgets the menus' state and restores the screen tables. For tests.
void programMenuReset();
