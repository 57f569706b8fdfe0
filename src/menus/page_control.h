// What the menu pages ask of the display manager above them: open a page
// from its row, install key slots, run the page time-out, return to the main
// page. The display manager registers its functions at start-up
// (pageControlRegister); the menus reach it only through pageControl(), so
// the menus' library needs nothing above it.
#pragma once

#include "config/display_pages.h"
#include "graphics/screen.h"

#include <cstdint>

struct MenuItem;

// Slot and callback types of the display manager.
typedef void (*DispManFn)();
typedef void (*DispManItemFn)(MenuItem *item);
typedef void (*DispManDayFn)(uint8_t dayOfWeek);
typedef uint8_t (*DispManDayOfFn)();

// Page time-outs, seconds.
constexpr uint32_t DISPMAN_PAGE_TIMEOUT_S = 20;
constexpr uint32_t DISPMAN_POPUP_TIMEOUT_S = 10;

// A row's current item when the page keeps the menu engine's current item
// and page base.
constexpr uint8_t PAGE_NO_ITEM = 0xFF;

// What a page's opening changes from its row.
struct PageOpening {
    ScreenItem *screen = nullptr;    // another screen of the page
    uint8_t position = PAGE_NO_ITEM; // another current item
    bool load = true;                // false: the menu keeps its values
    bool highlight = true;           // false: the highlight hook stays as it is
};

// The display manager's functions of the same names (display_manager.h,
// page_table.h, pages.h, main_page.h).
struct PageControl {
    void (*openPage)(DisplayPage id, const PageOpening &opening);
    uint8_t (*currentPage)();
    void (*setCurrentPage)(uint8_t page);
    void (*setKeySlots)(DispManFn up, DispManFn down, DispManFn mode);
    void (*setTimeout)(uint32_t seconds, DispManFn fn);
    void (*cancelTimeout)();
    void (*cancelMainPageTimeout)();
    void (*startCommitTimer)();
    uint8_t (*commitTimerRanOut)();
    void (*resetLockoutFlags)();
    void (*setTstatPageSelected)(uint8_t on);
    void (*setFiveDayFcastSelected)(uint8_t on);
    void (*setLeaveSPChange)(uint8_t on);
    void (*setSleepSPChange)(uint8_t on);
    void (*initialiseMainPage)();
    // Page entry functions, also installed as key slots and time-outs.
    DispManFn mainPage;
    DispManFn secCodeInpPage;
};

// Registers the display manager's functions (null: none, every call does
// nothing and the current page reads as the main page).
void pageControlRegister(const PageControl *control);
const PageControl &pageControl();
