// Opening a page from its row of the page table: what every page's entry
// function does first, before it sets what only it knows.
#pragma once

#include "config/display_pages.h"
#include "dispman/page_entry.h"
#include "graphics/screen.h"

#include <cstdint>

// What a page's opening changes from its row.
struct PageOpening {
    ScreenItem *screen = nullptr;    // another screen of the page
    uint8_t position = PAGE_NO_ITEM; // another current item
    bool load = true;                // false: the menu keeps its values
    bool highlight = true;           // false: the highlight hook stays as it is
};

// Opens a page from its row: the active colour and the screen, the page
// number, the time-out, the store callbacks, the key slots, and for a menu
// page the item range, the current item and page base, the load and the
// highlight hook, in this order.
void menuOpenPage(DisplayPage id, const PageOpening &opening = {});
