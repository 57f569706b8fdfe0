// Settings page (page 7): the system mode, fan mode, fan speed and the
// filter reminder, each chosen in a pop-up list opened from its row, and the
// buttons to the advanced setup (through the security code) and back to the
// main page. Rows that the button lockout locks are skipped and marked.
//
// The page keeps its store callbacks installed, so every choice reaches the
// configuration record on the next poll pass; leaving the page (its buttons
// or its time-out) saves the record and hands the settings to the control.
// displaySettingsPage and displaySettingsPageAt are in menu_pages.h.
#pragma once

#include "graphics/screen.h"
#include "menus/menu_engine.h"
#include "pages/menu_pages.h"

#include <cstddef>
#include <cstdint>

// Positions of g_SettingsMenu: four rows, each followed by its value, and two buttons.
enum SettingsMenuItem : uint8_t {
    SETTINGS_HVAC_ROW = 0,
    SETTINGS_HVAC_MODE = 1,
    SETTINGS_FAN_MODE_ROW = 3,
    SETTINGS_FAN_MODE = 4,
    SETTINGS_FAN_SPEED_ROW = 5,
    SETTINGS_FAN_SPEED = 6,
    SETTINGS_FILTER_ROW = 7,
    SETTINGS_FILTER_DAYS = 8,
    SETTINGS_ADV_SETUP = 9,
    SETTINGS_EXIT = 10,
};
constexpr uint8_t SETTINGS_MENU_ITEMS = 11;
extern MenuItem g_SettingsMenu[SETTINGS_MENU_ITEMS];

// Pop-up lists: record 0 is the background, odd records the buttons, each
// followed by its text.
constexpr uint8_t SETTINGS_PU_HVAC_ITEMS = 11;
constexpr uint8_t SETTINGS_PU_FAN_MODE_ITEMS = 5;
constexpr uint8_t SETTINGS_PU_FAN_SPEED_ITEMS = 7;
constexpr uint8_t SETTINGS_PU_FILTER_ITEMS = 15;
extern MenuItem g_SettingsPuHvacMenu[SETTINGS_PU_HVAC_ITEMS];
extern MenuItem g_SettingsPuFanMode[SETTINGS_PU_FAN_MODE_ITEMS];
extern MenuItem g_SettingsPuFanSpeed[SETTINGS_PU_FAN_SPEED_ITEMS];
extern MenuItem g_SettingsPuFilterReminder[SETTINGS_PU_FILTER_ITEMS];

// Buttons of the system-mode pop-up.
constexpr uint8_t SETTINGS_PU_HVAC_AUTO = 1;
constexpr uint8_t SETTINGS_PU_HVAC_COOL = 3;
constexpr uint8_t SETTINGS_PU_HVAC_HEAT = 5;
constexpr uint8_t SETTINGS_PU_HVAC_OFF = 7;
constexpr uint8_t SETTINGS_PU_HVAC_EMERGENCY = 9;

constexpr size_t SETTINGS_SCREEN_ITEMS = 69;
extern ScreenItem testScreenSettings[SETTINGS_SCREEN_ITEMS + 1];

// Load and store: the page's refresh and save callbacks.
void getSettingsModeSPFromDataDict();
void setSettingsModeSPInDataDict();
// Every row label in its inactive (or locked) form.
void disableMenuText();
// Leaving the page by "Exit" or its time-out: the settings are stored and
// saved, the control starts again, and the main page shows.
void leaveSettingsPage();

// Keys of the page: Up, Down, Mode.
void decSettingsModeMenuPtr();
void incSettingsModeMenuPtr();
void displaySelectedSettingsMenuItemPage();
// Keys of the pop-ups.
void displaySelectedSettingsPuHvacMenuItemPage();
void incSettingsPuHvacMenuPtr();
void decSettingsPuHvacMenuPtr();
void displaySelectedSettingsPuFanModeMenuItemPage();
void incSettingsPuFanModeMenuPtr();
void decSettingsPuFanModeMenuPtr();
void displaySelectedSettingsPuFanSpeedMenuItemPage();
void incSettingsPuFanSpeedMenuPtr();
void decSettingsPuFanSpeedMenuPtr();
void displaySelectedSettingsPuFilterReminderMenuItemPage();
void incSettingsPuFilterReminderMenuPtr();
void decSettingsPuFilterReminderMenuPtr();

// Text update functions of the filter reminder's days, on the row and in its pop-up.
void drawSettingsFilterChVal(char *buffer);
void drawPuSettingsFilterChVal(char *buffer);

// Forgets the page's state and restores its screen table. For tests.
void settingsMenuReset();
