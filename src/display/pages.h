// Entry functions of the display pages.
//
// Every page follows one pattern. Its entry function
//   1. selects the page's screen (screenSetCurrentScreen(g_displayHdl, table)),
//   2. records the page number (dispManSetCurrentPage),
//   3. arms the page time-out (displayManagerSetTimeout(20, displayMainPage);
//      pop-ups use 10 s) or cancels it (displayManagerCancelTimeout),
//   4. fills the key slots (dispManSetKeySlots, or g_ModeButtonPtrWithArg
//      for a mode key that receives the current menu item) and the store
//      callbacks (dispManSetStoreCallbacks, or ...ForDay for the program page;
//      null when the page edits nothing): while they are installed, every
//      poll pass saves the page's edits into the configuration store and
//      reloads the page, unless the control bus changed the page's data, in
//      which case the bus wins and the edits are dropped,
//   5. for a menu page, sets the menu engine's state (menu_engine.h): the
//      range g_MinMenuIndex/g_MaxMenuIndex, the current item and page base,
//      g_ActiveColor and the highlight hook.
// Text items of the page's screen table name update functions (drawXxx) that
// the render pass calls with the item's buffer of SCREEN_TEXT_LEN characters.
#pragma once

#include <cstdint>

// Main page (page 0).
void displayMainPage();
// Mode slot of the main page: starts the 3 s hold timer and installs the
// next page of the cycle in the mode slot.
void displayMainToSettingsPage();
// Help (page 17), current conditions (1) and five-day forecast (2).
void displayHelpPage();
void displayDetailForecastPage();
void displayFiveDayForecastPage();
// Hold page (4): adjusts the set points on the main screen.
void displayHoldPage();
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
