// Entry functions of the display pages.
//
// Every page has a row in the page table (page_table.h): its screen, page
// number, time-out, key slots, store callbacks and, for a menu page, the
// item range, current item, load and highlight hook. An entry function opens
// its page from the row (menuOpenPage), then sets what only it knows (a
// mode slot that follows the settings, the looks of its items). While store
// callbacks are installed, every poll pass saves the page's edits into the
// configuration store and reloads the page, unless the control bus changed
// the page's data, in which case the bus wins and the edits are dropped.
// Text items of the page's screen table name update functions (drawXxx) that
// the render pass calls with the item's buffer of SCREEN_TEXT_LEN characters.
#pragma once

#include "dispman/display_manager.h"

#include <cstdint>

// Main page (page 0).
void displayMainPage();
// The entry function of the next page of the mode-key cycle: after the main
// page the help page when help is on, then (and after the help page) the
// current conditions, the five-day forecast when enabled, the thermostat
// mode page.
DispManFn nextPageAfterMainPage();
DispManFn nextPageAfterHelpPage();
// The mode key on the main page: released within 3 s the next page of the
// cycle; held 3 s the mode pop-up (or, locked, its locked case).
void mainPageModeShortPress();
void mainPageModeHeld();
// Mode slot of the main page: starts the 3 s hold timer and installs the
// next page of the cycle in the mode slot.
void displayMainToSettingsPage();
// Help (page 17), current conditions (1) and five-day forecast (2).
void displayHelpPage();
void displayDetailForecastPage();
void displayFiveDayForecastPage();
// Hold page (4): adjusts the set points on the main screen. Holding the
// mode key 3 s stores the hold and returns to the main page.
void displayHoldPage();
void holdPageModeHeld();
// Sets up the hold page's editing of the heat set point (automatic mode, idle).
void setHoldModeSystemOffButtonState();
// Security code input (9), opened from the settings page.
void displaySecCodeInpPage();
// The screen saver; the page number stays that of the page it covers.
void displayScreenSaver();
// Shows a text from the building controller on the message page (16),
// wrapped into ten lines; it stays until a key is pressed.
void displayMessageScreenPage(const char *text);
// The message page again, with the lines already prepared.
void handleMessageScreenButton();
// Any key on the message page: tells the controller, then the main page.
void displayMsgScrnToMainPage();
