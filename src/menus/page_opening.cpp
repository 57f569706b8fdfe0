// Opening a page from its row of the page table.
#include "menus/page_opening.h"

#include "dispman/display_manager.h"
#include "menus/menu_engine.h"

void menuOpenPage(DisplayPage id, const PageOpening &opening) {
    const PageEntry &row = dispManPageEntry(id);
    if (row.menu != nullptr) {
        g_ActiveColor = MENU_ACTIVE_COLOR;
    }
    ScreenItem *screen = opening.screen != nullptr ? opening.screen : row.screen;
    if (screen != nullptr) {
        screenSetCurrentScreen(g_displayHdl, screen);
    }
    dispManSetCurrentPage(id);
    if (row.timeoutS != 0) {
        displayManagerSetTimeout(row.timeoutS, row.onTimeout);
    } else {
        displayManagerCancelTimeout();
    }
    if ((row.flags & PAGE_KEEPS_STORE_CALLBACKS) == 0) {
        if (row.refreshDay != nullptr || row.saveDay != nullptr) {
            displayManagerSetStoreCallbacksForDay(row.refreshDay, row.saveDay, row.storeDay);
        } else {
            displayManagerSetStoreCallbacks(row.refresh, row.save);
        }
    }
    displayManagerSetKeySlots(row.up, row.down, row.mode);
    if (row.menu == nullptr) {
        return;
    }
    g_MinMenuIndex = row.first;
    g_MaxMenuIndex = row.last;
    uint8_t current = opening.position != PAGE_NO_ITEM ? opening.position : row.current;
    if (current != PAGE_NO_ITEM) {
        setCurrentMenuPtr(row.menu, current);
        setCurrentPagePtr(row.menu, row.base);
    }
    if (opening.load && row.load != nullptr) {
        row.load();
    }
    if (opening.highlight) {
        setCurrentHighlightPtr(row.highlight);
    }
}
