// Main page: the thermostat's home screen, with and without the weather
// panel, its text update functions, its three pop-up menus (operating mode,
// HVAC mode, fan mode), its alert and activity icons and its adjusting
// animation (the display manager's poll says when, while the main or hold
// page shows).
#pragma once

#include "graphics/screen.h"
#include "menus/menu_engine.h"
#include "menus/screen_parts.h"

#include <cstddef>
#include <cstdint>
#include <ctime>

constexpr size_t MAIN_SCREEN_WITH_FCAST_ITEMS = 76;
constexpr size_t MAIN_SCREEN_WOUT_FCAST_ITEMS = 69;
extern ScreenItem testScreenMainWithFcast[MAIN_SCREEN_WITH_FCAST_ITEMS + 1];
extern ScreenItem testScreenMainWoutFcast[MAIN_SCREEN_WOUT_FCAST_ITEMS + 1];

// Pop-up menus; the record numbers are the menus' positions.
constexpr uint8_t MAIN_PU_MODE_ITEMS = 9;
constexpr uint8_t MAIN_PU_HVAC_ITEMS = 13;
constexpr uint8_t MAIN_PU_FAN_ITEMS = 7;
extern MenuItem g_MainPuModeMenu[MAIN_PU_MODE_ITEMS];
extern MenuItem g_MainPuHvacMenu[MAIN_PU_HVAC_ITEMS];
extern MenuItem g_MainPuFanMode[MAIN_PU_FAN_ITEMS];

// Set-point colours (they replace the table colours at the first update).
constexpr uint32_t g_HeatSPColor = 0xFF0000;
constexpr uint32_t g_CoolSPColor = 0x0000FF;

// Binds the main screen of the forecast setting and fills the pop-up records.
void initialiseMainPage();
// Refreshes the three button texts and the set-point graphic.
void updateMainButtons(uint32_t hvacState);
// Set by the five-day page, cleared by the main page.
void setFiveDayFcastSelected(uint8_t on);
uint8_t getFiveDayFcastSelected();
// Set by the thermostat mode page: the main page then restarts the control.
void setTstatPageSelected(uint8_t on);

// Text update functions of the main screen (and of the pages sharing its parts).
void drawMainScrIndoorTemp(char *buffer);
void drawMainScrIndoorTempScrSvr(char *buffer);
void drawMainScrHeatSP(char *buffer);
void drawMainScrCoolSP(char *buffer);
void drawMainScrRelHumidity(char *buffer);
void drawHoldStatusText(char *buffer);

// "January 15" and "01:05 PM" (always 12-hour) into a buffer of `size` characters.
void formatHoldDate(int64_t time, char *buffer, size_t size = SCREEN_TEXT_LEN);
void formatHoldTime(int64_t time, char *buffer, size_t size = SCREEN_TEXT_LEN);

// Pop-up menus: mode key, down and up of each.
void displaySelectedMainPuModeMenuItemPage();
void incMainPuModeMenuPtr();
void decMainPuModeMenuPtr();
void displaySelectedMainPuHvacMenuItemPage();
void incMainPuHvacMenuPtr();
void decMainPuHvacMenuPtr();
void displaySelectedMainPuFanModeMenuItemPage();
void incMainPuFanModeMenuPtr();
void decMainPuFanModeMenuPtr();
// Opens the mode pop-up with the item of the current thermostat mode (the
// main page's 3 s mode-key hold).
void openMainPuModeMenu();

// The alert icons (filter change, weather alert) by the reminders, and the
// activity icons (cooling, heating, fan, humidity, auxiliary heat) by what
// the control and the relays do.
void mainPageRefreshAlertIcons();
void mainPageShowActivityIcons();
// The adjusting animation: while comfort recovery adjusts the program's set
// points, its two images take turns; otherwise both are off the screen.
bool mainPageAdjusting();
void mainPageAnimate();
void mainPageStopAnimation();

// Hides the help bar under the main screen (the hold page, which shows on it).
void mainPageHideHelpBar();

// Forgets the main page's state, its icons' and its animation's, and restores
// its tables. For tests.
void mainPageReset();
