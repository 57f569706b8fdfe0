// Thermostat mode page (page 3): the last page of the main page's mode-key
// cycle. Five buttons: switch between the weekly program and permanent hold,
// edit the program, the away (vacation) page, the settings page, and exit.
// Under the button lockout with the mode lock only "Settings" and "Exit"
// can be reached. enterTSTATPage and displayTSTATPage are in menu_pages.h.
#pragma once

#include "graphics/screen.h"
#include "menus/menu_engine.h"
#include "pages/menu_pages.h"

#include <cstddef>
#include <cstdint>

enum TstatMenuItem : uint8_t {
    TSTAT_MENU_PROGRAM_HOLD = 0,
    TSTAT_MENU_EDIT_PROGRAM = 1,
    TSTAT_MENU_AWAY = 2,
    TSTAT_MENU_SETTINGS = 3,
    TSTAT_MENU_EXIT = 4,
};
constexpr uint8_t TSTAT_MENU_ITEMS = 5;
extern MenuItem g_TstatMenu[TSTAT_MENU_ITEMS];

constexpr size_t TSTAT_MODE_SCREEN_ITEMS = 18;
extern ScreenItem testScreenTSTATMode[TSTAT_MODE_SCREEN_ITEMS + 1];

// Loads image set 0 (the program runs: the first button offers permanent
// hold) or 1 (a hold or vacation: it offers the program) into the buttons.
void TSTATMenuPermHoldProgramSwap(uint8_t set);

// Keys of the page as first entered (nothing highlighted yet).
void displayTSTATPageLastItem();
void displayTSTATPageFirstItem();
// Keys of the page: Up, Down, Mode.
void decTstatModeMenuPtr();
void incTstatModeMenuPtr();
void displaySelectedTstatMenuItemPage();

// Forgets the page's state and restores its screen table. For tests.
void tstatMenuReset();
