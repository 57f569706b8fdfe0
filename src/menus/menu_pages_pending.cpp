// PENDING: the menu pages that come with the second part of the user
// interface (program, vacation, settings, thermostat mode, setups, user
// preferences, button lockout and security code configuration). Each module
// removes its functions from this file as it lands.
//
// Until then the initialisers and loaders do nothing, and the page entries
// reached from the finished pages show one placeholder screen that names the
// page: any key, or 20 s without one, returns to the main page.
#include "menus/menu_pages.h"

#include "display/display_manager.h"
#include "display/pages.h"
#include "display/screen_parts.h"

#include <cstdio>

namespace {

const char *m_PendingTitle = "";

void drawPendingTitle(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", m_PendingTitle);
}

ScreenItem testScreenPendingPage[] = {
    screenBitmap(0, 0, nullptr, "./images/Setup/bkg.png"),
    SCREEN_DAY_BAR,
    SCREEN_CLOCK_ITEMS(30),
    screenBitmap(0, 50, nullptr, "./images/Setup/page_hdr.png"),
    screenText(12, 56, nullptr, drawPendingTitle, FONT_BOLD, 15, WHITE_TEXT_COLOR),
    screenLabel(12, 120, nullptr, "This page is not built yet.", FONT_REGULAR, 15,
                WHITE_TEXT_COLOR),
    screenLabel(12, 150, nullptr, "Press any key to return.", FONT_REGULAR, 15, WHITE_TEXT_COLOR),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

void showPendingPage(uint8_t page, const char *title) {
    m_PendingTitle = title;
    screenSetCurrentScreen(g_displayHdl, testScreenPendingPage);
    dispManSetCurrentPage(page);
    displayManagerSetTimeout(DISPMAN_PAGE_TIMEOUT_S, displayMainPage);
    dispManSetKeySlots(displayMainPage, displayMainPage, displayMainPage);
    dispManSetStoreCallbacks(nullptr, nullptr);
}

} // namespace

void initialiseUserPrefMenu() {}
void initialiseTstatMenu() {}
void initialiseSettingsModeMenu() {}
void initialiseButtonLockoutMenu() {}
void initialiseConfigSecCodeMenu() {}
void initialiseAdvSetupMenu() {}
void initialiseKorabusCommSetupMenu() {}
void initialiseTstatSetupMenu() {}

void getUserPrefFromDataDict() {}
void getButtonLockoutFromDataDict() {}
void setAdvSetupInDataDict() {}
void getAdvSetupFromDataDict() {}

void enterTSTATPage() {
    displayTSTATPage();
}

void displayUserPrefPage() {
    showPendingPage(PAGE_USER_PREF, "User Preferences");
}

void displaySettingsPage() {
    showPendingPage(PAGE_SETTINGS, "Settings");
}

void displaySettingsPageAt(uint8_t) {
    displaySettingsPage();
}

void displayTSTATPage() {
    showPendingPage(PAGE_TSTAT_MODE, "Thermostat Mode");
}

void displayThermostatSetupPage() {
    showPendingPage(PAGE_TSTAT_SETUP, "Thermostat Setup");
}

void displayAdvSetupPage() {
    showPendingPage(PAGE_ADV_SETUP, "Advanced Setup");
}

void displayKorabusCommPage() {
    showPendingPage(PAGE_BUS_ADDRESS, "Bus Address");
}

void displayButtonLockoutPage() {
    showPendingPage(PAGE_BUTTON_LOCKOUT, "Button Lockout");
}

void displayConfigSecCode() {
    showPendingPage(PAGE_SEC_CODE_CONFIG, "Security Code");
}
