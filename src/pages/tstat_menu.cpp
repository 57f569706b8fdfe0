// Thermostat mode page.
#include "pages/tstat_menu.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "dispman/display_manager.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "pages/main_page.h"
#include "pages/pages.h"
#include "pages/settings_menu.h"

MenuItem g_TstatMenu[TSTAT_MENU_ITEMS] = {};

namespace {

// The five buttons, one under the other.
constexpr int16_t TSTAT_BUTTON_X = 20;
int16_t c_TstatMenuX[TSTAT_MENU_ITEMS] = {TSTAT_BUTTON_X, TSTAT_BUTTON_X, TSTAT_BUTTON_X,
                                          TSTAT_BUTTON_X, TSTAT_BUTTON_X};
int16_t c_TstatMenuY[TSTAT_MENU_ITEMS] = {80, 124, 168, 212, 256};

#define BUTTON(i, path) screenBitmap(TSTAT_BUTTON_X, c_TstatMenuY[i], &g_TstatMenu[i].handle, path)

} // namespace

ScreenItem testScreenTSTATMode[TSTAT_MODE_SCREEN_ITEMS + 1] = {
    screenBitmap(0, 0, nullptr, "./images/Graphic-Bkgd-Pinstripes.png"),
    SCREEN_DAY_BAR,
    SCREEN_CLOCK_ITEMS(30),
    screenBitmap(0, 50, nullptr, "./images/TSTAT/Tstat-Title.png"),
    BUTTON(TSTAT_MENU_PROGRAM_HOLD, "./images/TSTAT/Tstat-S1-Text-EnablePH-OFF.png"),
    BUTTON(TSTAT_MENU_EDIT_PROGRAM, "./images/TSTAT/Tstat-S2-Text-Program-OFF.png"),
    BUTTON(TSTAT_MENU_AWAY, "./images/TSTAT/Tstat-S3-Text-Away-OFF.png"),
    BUTTON(TSTAT_MENU_SETTINGS, "./images/TSTAT/Tstat-S4-Text-Settings-OFF.png"),
    BUTTON(TSTAT_MENU_EXIT, "./images/TSTAT/Tstat-S5-Text-Exit-OFF.png"),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

#undef BUTTON

const ScreenTableBackup c_TstatModeBackup(testScreenTSTATMode);

// Set 0 while the program runs, set 1 otherwise.
constexpr uint8_t TSTAT_IMAGE_SETS = 2;
const char *const c_ActTstatFilename[TSTAT_IMAGE_SETS * TSTAT_MENU_ITEMS] = {
    "./images/TSTAT/Tstat-S1-Text-EnablePH-ON.png", "./images/TSTAT/Tstat-S2-Text-Program-ON.png",
    "./images/TSTAT/Tstat-S3-Text-Away-ON.png",     "./images/TSTAT/Tstat-S4-Text-Settings-ON.png",
    "./images/TSTAT/Tstat-S5-Text-Exit-ON.png",     "./images/TSTAT/Tstat-S1-Text-EnablePM-ON.png",
    "./images/TSTAT/Tstat-S2-Text-Program-ON.png",  "./images/TSTAT/Tstat-S3-Text-Away-ON.png",
    "./images/TSTAT/Tstat-S4-Text-Settings-ON.png", "./images/TSTAT/Tstat-S5-Text-Exit-ON.png",
};
const char *const c_InActTstatFilename[TSTAT_IMAGE_SETS * TSTAT_MENU_ITEMS] = {
    "./images/TSTAT/Tstat-S1-Text-EnablePH-OFF.png",
    "./images/TSTAT/Tstat-S2-Text-Program-OFF.png",
    "./images/TSTAT/Tstat-S3-Text-Away-OFF.png",
    "./images/TSTAT/Tstat-S4-Text-Settings-OFF.png",
    "./images/TSTAT/Tstat-S5-Text-Exit-OFF.png",
    "./images/TSTAT/Tstat-S1-Text-EnablePM-OFF.png",
    "./images/TSTAT/Tstat-S2-Text-Program-OFF.png",
    "./images/TSTAT/Tstat-S3-Text-Away-OFF.png",
    "./images/TSTAT/Tstat-S4-Text-Settings-OFF.png",
    "./images/TSTAT/Tstat-S5-Text-Exit-OFF.png",
};

bool modeLocked() {
    TstatLockoutCfg_t cfg{};
    getLockoutConfiguration(&cfg);
    return cfg.buttonLockout == LOCK_LOCKED && cfg.modeLock == LOCK_LOCKED;
}

// The image set of the thermostat mode in force.
void loadImageSet() {
    TSTATMenuPermHoldProgramSwap(getThermostatMode() == TSTAT_MODE_PROGRAM ? 0 : 1);
}

void selectItem(uint8_t position) {
    setCurrentMenuPtr(g_TstatMenu, position);
    displayHighlightedItem();
}

// Program <-> permanent hold. A hold starts from the set points in force, as
// on the main page's mode pop-up, not from whatever hold was stored last.
void toggleProgramAndHold() {
    if (getThermostatMode() != TSTAT_MODE_PROGRAM) {
        setThermostatMode(TSTAT_MODE_PROGRAM);
        return;
    }
    TstatSetPoint_t inForce{};
    bool haveInForce = getCurrentThermostatSettings(&inForce) == 0;
    setThermostatMode(TSTAT_MODE_PERMANENT_HOLD);
    if (haveInForce) {
        setHoldThermostatSettings(&inForce);
    }
}

} // namespace

void TSTATMenuPermHoldProgramSwap(uint8_t set) {
    size_t first = (set != 0 ? 1 : 0) * TSTAT_MENU_ITEMS;
    for (size_t i = 0; i < TSTAT_MENU_ITEMS; i++) {
        g_TstatMenu[i].activeGlyph = c_ActTstatFilename[first + i];
        g_TstatMenu[i].inactiveGlyph = c_InActTstatFilename[first + i];
    }
}

namespace {

void initialiseRecords() {
    menuClearRecords(g_TstatMenu, TSTAT_MENU_ITEMS);
    for (uint8_t i = 0; i < TSTAT_MENU_ITEMS; i++) {
        g_TstatMenu[i].hasGlyphs = 1;
        g_TstatMenu[i].cursorX = &c_TstatMenuX[i];
        g_TstatMenu[i].cursorY = &c_TstatMenuY[i];
    }
    TSTATMenuPermHoldProgramSwap(0);
}

} // namespace

void initialiseTstatMenu() {
    initialiseRecords();
    screenUserHdlInit(testScreenTSTATMode);
}

void enterTSTATPage() {
    loadImageSet();
    menuOpenPage(PAGE_TSTAT_MODE, {.highlight = false});
    // Nothing is highlighted until the first Up or Down.
    g_HighlightItemPtr = nullptr;
    inactivateItems();
    displayManagerSetKeySlots(displayTSTATPageLastItem, displayTSTATPageFirstItem, displayMainPage);
}

void displayTSTATPageLastItem() {
    setCurrentMenuPtr(g_TstatMenu, TSTAT_MENU_EXIT);
    displayTSTATPage();
}

void displayTSTATPageFirstItem() {
    setCurrentMenuPtr(g_TstatMenu, TSTAT_MENU_PROGRAM_HOLD);
    displayTSTATPage();
}

void displayTSTATPage() {
    uint8_t position = getCurrentMenuIndex();
    bool own = position < TSTAT_MENU_ITEMS && getCurrentMenuPtr() == &g_TstatMenu[position];
    if (!own) {
        position = TSTAT_MENU_PROGRAM_HOLD;
    }
    if (modeLocked()) {
        position = TSTAT_MENU_SETTINGS;
    }
    loadImageSet();
    menuOpenPage(PAGE_TSTAT_MODE, {.position = position});
    setFiveDayFcastSelected(0);
    setTstatPageSelected(1);
    dispManCancelMainPageTimeout();
}

void incTstatModeMenuPtr() {
    uint8_t at = getCurrentMenuIndex();
    uint8_t to = static_cast<uint8_t>(at + 1);
    if (at >= TSTAT_MENU_EXIT) {
        to = modeLocked() ? TSTAT_MENU_SETTINGS : TSTAT_MENU_PROGRAM_HOLD;
    }
    selectItem(to);
}

void decTstatModeMenuPtr() {
    uint8_t at = getCurrentMenuIndex();
    uint8_t to = static_cast<uint8_t>(at - 1);
    if (at == TSTAT_MENU_PROGRAM_HOLD || at > TSTAT_MENU_EXIT) {
        to = TSTAT_MENU_EXIT;
    } else if (at == TSTAT_MENU_SETTINGS && modeLocked()) {
        to = TSTAT_MENU_EXIT;
    }
    selectItem(to);
}

void displaySelectedTstatMenuItemPage() {
    bool help = getHelpModeState() == OFFON_ON;
    switch (getCurrentMenuIndex()) {
    case TSTAT_MENU_PROGRAM_HOLD:
        toggleProgramAndHold();
        displayMainPage();
        saveThermostatSysCfg();
        break;
    case TSTAT_MENU_EDIT_PROGRAM:
        if (help) {
            displayProgramHelpPage();
        } else {
            displayProgramModePage();
        }
        saveThermostatSysCfg();
        break;
    case TSTAT_MENU_AWAY:
        if (help) {
            displayAwayHelpPage();
        } else {
            displayVacationModePage();
        }
        break;
    case TSTAT_MENU_SETTINGS:
        displaySettingsPageAt(modeLocked() ? SETTINGS_FAN_MODE_ROW : SETTINGS_HVAC_ROW);
        break;
    case TSTAT_MENU_EXIT:
        displayMainPage();
        break;
    default:
        break;
    }
}

void tstatMenuReset() {
    c_TstatModeBackup.restore();
    initialiseRecords();
}
