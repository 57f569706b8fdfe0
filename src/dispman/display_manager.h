// Display manager: the dispatcher of pages, keys, time-outs, backlight and
// screen saver, beneath the menu engine and every page.
//
// Pages are not objects: a page is a row of the page table (page_entry.h) and
// an entry function that opens it from its row (menuOpenPage): the page's
// screen, number, time-out, key slots and store callbacks below. Whatever
// function sits in a slot when a key is pressed is what the key does. The
// display manager reaches the pages only through the page table handed to it
// at start-up.
//
// One poll (displayManagerPoll, once per main-loop pass) runs, in order: the
// page time-out, the store cycle, the render pass, the button-lockout timers,
// the main page's icons and animation, and five key iterations (each taking
// one key edge, or doing the idle work of backlight and screen saver). The
// render pass refreshes the texts only after a change was noted
// (utilNoteChange: a key, a time-out, a packet, a control run) or in a new
// wall-clock second; otherwise it only blinks and draws what is due.
#pragma once

#include "config/display_pages.h"
#include "dispman/page_entry.h"
#include "graphics/screen.h"

#include <cstdint>

// Holding the mode key this long opens the pop-ups (main page) or stores the hold.
constexpr uint32_t DISPMAN_MODE_HOLD_MS = 3000;
// Page time-outs, seconds.
constexpr uint32_t DISPMAN_PAGE_TIMEOUT_S = 20;
constexpr uint32_t DISPMAN_POPUP_TIMEOUT_S = 10;

// ---- Shared state ----------------------------------------------------------------------

// The mode key's slot, called on a press of the mode key (null: the key does
// nothing); displayManagerSetKeySlots installs it with the up and down
// slots, and the main and information pages set it themselves.
extern DispManFn g_ModeButtonPtr;

// ---- Life cycle -------------------------------------------------------------------------

// Takes the page table it dispatches through, then runs the page
// initialisers and starts the screen, touch input and backlight, and shows
// the main page.
void displayManagerInit(const PageTable &pages);
// One non-blocking pass of the user interface.
void displayManagerPoll();
// Stops the touch input and the screen.
void displayManagerStop();
// Forgets every state of the display manager and its page table, stopping
// the screen and keys. For tests.
void displayManagerReset();

// ---- Pages, slots and time-outs ------------------------------------------------------------

void dispManSetCurrentPage(uint8_t page);
uint8_t dispManGetCurrentPage();
// The row of a page number; an empty row (no hooks) for a number without
// one, and for every number before start-up.
const PageEntry &dispManPageEntry(uint8_t id);
// Installs the three key slots and clears the mode slot with an argument.
void displayManagerSetKeySlots(DispManFn up, DispManFn down, DispManFn mode);
// Installs refresh and save callbacks and clears the day forms (null: none).
void displayManagerSetStoreCallbacks(DispManFn refresh, DispManFn save);
// Installs the day forms, and the function that tells their day, and
// clears the plain ones.
void displayManagerSetStoreCallbacksForDay(DispManDayFn refresh, DispManDayFn save,
                                           DispManDayOfFn day);

// The page time-out: after `seconds` without a key edge, fn is called once
// (never while the screen saver is shown).
void displayManagerSetTimeout(uint32_t seconds, DispManFn fn);
void displayManagerCancelTimeout();
// Restarts the time-out with its length (the function stays).
void displayManagerResetTimeout();

// The mode key's 3 s hold timer on the main page: started (when it is not
// running) by the main page's mode slot, stopped when another page opens.
// Running out, it opens the mode pop-up.
void dispManSetMainPageTimeout();
void dispManCancelMainPageTimeout();
// The hold page's: started by a mode press on the hold page; running out,
// it stores the hold.
void displayManagerCancelHoldPageTimeout();
// A page's commit timer (the advanced setup's): restarted for 20 s; 1 once
// it has run out (and until it is restarted).
void displayManagerStartCommitTimer();
uint8_t displayManagerCommitTimerRanOut();

// ---- Lockout timers -------------------------------------------------------------------------

// Stops the duration timers of the mode, fan and temperature locks.
void resetLockoutFlags();

// ---- Main page icons (main and hold pages) ------------------------------------------------------

// The alert icons once their 1 s timer ran out, and the activity icons.
void displayManagerCheckAlertIcons();

// ---- Backlight and screen saver -------------------------------------------------------------

// Backlight on at its active level, and its inactivity timer restarted.
void displayManagerEnableBacklight();
// 1 while the backlight is active (not yet timed out).
uint32_t getBacklightTimerFlag();
// Marks the backlight inactive and the screen saver not shown, without
// changing the level (the caller sets it).
void clearBacklightTimerFlag();
// 1 while the screen saver is shown.
uint8_t displayManagerScreenSaverShown();
// Takes the screen saver's temperature text off the screen (a dark panel).
void displayManagerRemoveScreenSaverText();

// ---- Under-voltage warning --------------------------------------------------------------------

// Blink period of the under-voltage text, milliseconds, and its text.
constexpr uint32_t DISPMAN_UNDERVOLTAGE_BLINK_MS = 500;
constexpr const char *DISPMAN_UNDERVOLTAGE_TEXT = "Undervoltage!";
// The warning's band covers every page's head down to here; the screen
// saver's text keeps below it while it shows.
constexpr int16_t UNDERVOLTAGE_BAND_BOTTOM = 48;
// The under-voltage text of the screen on display (every page's table binds
// it), and 1 while the coprocessor reports under-voltage.
extern ScreenItem *g_UndervoltageTextHdl;
extern uint32_t g_UnderVoltageActive;

// 1 makes the under-voltage text of every screen blink, 0 stops it.
void dispManSetUnderVoltageWarning(uint8_t on);

// ---- Flags for the program page -----------------------------------------------------------------

// Which program period's set point the last up/down press on the program page touched.
void setUserLeaveSPChange(uint8_t on);
uint8_t getUserLeaveSPChange();
void setUserSleepSPChange(uint8_t on);
uint8_t getUserSleepSPChange();
