// The page table as the display manager dispatches through it: one constant
// row per display page, and the few functions of the pages and of the menu
// engine that the display manager calls on its own.
//
// A row says what opening the page installs (its screen, page number,
// time-out, key slots, store callbacks and, for a menu page, the item range,
// current item, load and highlight hook), how the page starts and is reset,
// and what the display manager's poll does differently while the page is
// current. The table itself lies at the top of the user interface
// (pages/page_table.cpp), above every page, and is handed to the display
// manager once, at start-up (displayManagerInit): the display manager names
// no page.
#pragma once

#include "config/display_pages.h"
#include "graphics/screen.h"

#include <cstddef>
#include <cstdint>
#include <span>

struct MenuItem;

// Slot and callback types of the display manager.
typedef void (*DispManFn)();
typedef void (*DispManItemFn)(MenuItem *item);
typedef void (*DispManDayFn)(uint8_t dayOfWeek);
typedef uint8_t (*DispManDayOfFn)();
typedef void (*PageItemFn)(const MenuItem *item);
// Returns true when it changed what the page shows.
typedef bool (*PageIdleFn)(const MenuItem *item);

// A row's current item when the page keeps the menu engine's current item
// and page base.
constexpr uint8_t PAGE_NO_ITEM = 0xFF;

// The mode key's 3 s hold on a page that has one.
enum PageModeHold : uint8_t {
    MODE_HOLD_NONE,
    // The page's mode slot starts the hold timer (dispManSetMainPageTimeout).
    MODE_HOLD_BY_SLOT,
    // A mode press only starts the hold timer: released sooner, the mode slot
    // runs; held, modeHeld.
    MODE_HOLD_BY_PRESS,
};

// Row flags.
enum PageFlags : uint8_t {
    // The store callbacks of the page below stay installed (the message page).
    PAGE_KEEPS_STORE_CALLBACKS = 1 << 0,
    // The page shows the main screen: the poll keeps its icons and animation.
    PAGE_SHOWS_MAIN_SCREEN = 1 << 1,
    // The lock durations do not start while the page shows (the lockout page).
    PAGE_HOLDS_LOCK_TIMERS = 1 << 2,
    // The page's initialiser applies the set-point limits: it runs again when
    // a temperature lock ends.
    PAGE_SET_POINT_LIMITS = 1 << 3,
};

// Screens a row binds at start-up, at most.
constexpr size_t PAGE_BOUND_SCREENS = 2;

struct PageEntry {
    DisplayPage id = PAGE_MAIN;

    // ---- Opening (menuOpenPage) ----
    ScreenItem *screen = nullptr;  // null: the page stays on the screen shown
    uint32_t timeoutS = 0;         // the page time-out; 0: none (it is cancelled)
    DispManFn onTimeout = nullptr; // called when the time-out runs out
    DispManFn up = nullptr;        // key slots; a null mode slot is set by the page itself
    DispManFn down = nullptr;
    DispManFn mode = nullptr;
    DispManFn refresh = nullptr; // store callbacks (see pages/pages.h); all null: none
    DispManFn save = nullptr;
    DispManDayFn refreshDay = nullptr; // the day forms, and the day they receive
    DispManDayFn saveDay = nullptr;
    DispManDayOfFn storeDay = nullptr;
    MenuItem *menu = nullptr; // null: not a menu page
    uint8_t first = 0;        // g_MinMenuIndex and g_MaxMenuIndex
    uint8_t last = 0;
    uint8_t current = PAGE_NO_ITEM; // the current item when opened (PAGE_NO_ITEM: kept)
    uint8_t base = 0;               // the page base
    DispManFn load = nullptr;       // fills the menu from the configuration store
    DispManFn highlight = nullptr;  // the menu's highlight hook
    uint8_t flags = 0;              // PageFlags

    // ---- Start-up and tests ----
    DispManFn initialise = nullptr;            // run by displayManagerInit
    ScreenItem *bind[PAGE_BOUND_SCREENS] = {}; // screens whose handles are bound at start-up
    DispManFn reset = nullptr;                 // back to the state at process start

    // ---- What the poll does differently on the page ----
    PageModeHold modeHold = MODE_HOLD_NONE;
    DispManFn modeHeld = nullptr;       // the mode key held 3 s
    DispManFn modeShortPress = nullptr; // released sooner (null: the mode slot)
    PageItemFn keyTouched = nullptr;    // up or down pressed, with the current item
    PageItemFn modeTouched = nullptr;   // after a mode press, with the current item
    PageIdleFn idle = nullptr;          // an idle key iteration, with the current item
};

// What the display manager dispatches through.
struct PageTable {
    // One row per page number but the unused one, in the order
    // displayManagerInit runs their initialisers.
    std::span<const PageEntry> rows;
    // The main page's entry function: every key slot at start-up, and the
    // page the start-up shows.
    DispManFn mainPage;
    // The screen saver: its screen table (bound at start-up), the function
    // that shows it over the current page, and its moving temperature text.
    ScreenItem *screenSaverScreen;
    DispManFn screenSaver;
    ScreenItem *(*screenSaverText)();
    // The main screen's alert and activity icons and its adjusting
    // animation, kept up while a page that shows the main screen is current.
    DispManFn refreshAlertIcons;
    DispManFn showActivityIcons;
    bool (*adjusting)();
    DispManFn animate;
    DispManFn stopAnimation;
    // The menu engine's current item (null: none), and its return to the
    // look of an unselected item.
    MenuItem *(*currentItem)();
    DispManFn unselectCurrentItem;
};
