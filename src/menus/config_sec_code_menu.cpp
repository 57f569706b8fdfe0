// Security code change menu and its screen.
#include "menus/config_sec_code_menu.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "display/display_manager.h"
#include "display/main_page.h"
#include "display/pages.h"
#include "display/screen_parts.h"
#include "menus/menu_pages.h"
#include "menus/user_pref_menu.h"

#include <cstdio>

MenuItem g_ConfSecurityCodeMenu[SEC_CODE_MENU_ITEMS] = {};

namespace {

constexpr uint32_t CODE_DIGIT_SIZE = 36;
constexpr uint32_t CODE_BUTTON_SIZE = 18;

// The title in the clock strip; it keeps today's day shown on the day bar.
void drawConfigSecCodeTitle(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "Change the security code");
    TstatClockCfg_t clock{};
    menuGetClock(&clock);
    showDayBar(clock.weekday);
}

void drawDigit(char *buffer, uint8_t digit) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%d", g_ConfSecurityCodeMenu[digit].value);
}

void select(uint8_t position) {
    setCurrentMenuPtr(g_ConfSecurityCodeMenu, position);
    displayHighlightedItem();
}

void digitKeys() {
    dispManSetKeySlots(incrementMenuItemValue, decrementMenuItemValue,
                       displaySelectedConfCodeMenuItemPage);
}

void buttonKeys() {
    dispManSetKeySlots(decConfSecCodeMenuPtr, incConfSecCodeMenuPtr,
                       displaySelectedConfCodeMenuItemPage);
}

bool currentPosition(uint8_t *position) {
    uint8_t index = getCurrentMenuIndex();
    if (index >= SEC_CODE_MENU_ITEMS || getCurrentMenuPtr() != &g_ConfSecurityCodeMenu[index]) {
        return false;
    }
    *position = index;
    return true;
}

// Back to the user preferences, on their "Change Security Code" item.
void backToUserPref() {
    menuUnselectCurrentItem();
    setCurrentMenuPtr(g_UserPrefMenu, USER_PREF_SECURITY_CODE);
    displayUserPrefContPage();
}

} // namespace

// The code change: the same face as the code entry, with its own title.
ScreenItem testScreenConfigSecCode[CONFIG_SEC_CODE_ITEMS + 1] = {
    screenBitmap(0, 0, nullptr, "./images/Setup/bkg.png"),
    SCREEN_DAY_BAR,
    screenText(8, 28, nullptr, drawConfigSecCodeTitle, FONT_BOLD, 14, CLOCK_TEXT_COLOR),
    screenText(58, 96, &g_ConfSecurityCodeMenu[0].handle, drawConfigSecCodeValue1, FONT_BOLD,
               CODE_DIGIT_SIZE, WHITE_TEXT_COLOR),
    screenText(95, 96, &g_ConfSecurityCodeMenu[1].handle, drawConfigSecCodeValue2, FONT_BOLD,
               CODE_DIGIT_SIZE, WHITE_TEXT_COLOR),
    screenText(132, 96, &g_ConfSecurityCodeMenu[2].handle, drawConfigSecCodeValue3, FONT_BOLD,
               CODE_DIGIT_SIZE, WHITE_TEXT_COLOR),
    screenText(169, 96, &g_ConfSecurityCodeMenu[3].handle, drawConfigSecCodeValue4, FONT_BOLD,
               CODE_DIGIT_SIZE, WHITE_TEXT_COLOR),
    screenText(30, 190, &g_ConfSecurityCodeMenu[SEC_CODE_ENTER].handle, drawSecurityCodeEnter,
               FONT_BOLD, CODE_BUTTON_SIZE, WHITE_TEXT_COLOR),
    screenText(30, 226, &g_ConfSecurityCodeMenu[SEC_CODE_CANCEL].handle, drawSecurityCodeCancel,
               FONT_BOLD, CODE_BUTTON_SIZE, WHITE_TEXT_COLOR),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

const ScreenTableBackup c_ConfigSecCodeBackup(testScreenConfigSecCode);

} // namespace

void initialiseConfigSecCodeMenu() {
    for (uint8_t i = 0; i < SEC_CODE_MENU_ITEMS; i++) {
        MenuItem &item = g_ConfSecurityCodeMenu[i];
        item.index = i;
        item.value = 0;
        item.isFixedPoint = 0;
        item.hasGlyphs = 0;
        if (i < SEC_CODE_DIGITS) {
            item.min = 0;
            item.max = 9;
            item.step = 1;
            item.wrap = 1;
        }
    }
    screenUserHdlInit(testScreenConfigSecCode);
}

void getConfSecCodeFromDataDict() {
    uint32_t rest = getSecurityCode();
    uint32_t divisor = 1000;
    for (uint8_t i = 0; i < SEC_CODE_DIGITS; i++) {
        g_ConfSecurityCodeMenu[i].value = static_cast<int16_t>(rest / divisor);
        rest %= divisor;
        divisor /= 10;
    }
}

void setConfSecCodeInDataDict() {
    uint32_t code = 0;
    for (uint8_t i = 0; i < SEC_CODE_DIGITS; i++) {
        code = code * 10 + static_cast<uint32_t>(g_ConfSecurityCodeMenu[i].value);
    }
    setSecurityCode(static_cast<uint16_t>(code));
}

void displayConfigSecCode() {
    g_ActiveColor = MENU_ACTIVE_COLOR;
    screenSetCurrentScreen(g_displayHdl, testScreenConfigSecCode);
    dispManSetCurrentPage(PAGE_SEC_CODE_CONFIG);
    displayManagerSetTimeout(DISPMAN_PAGE_TIMEOUT_S, displayMainPage);
    g_MinMenuIndex = 0;
    g_MaxMenuIndex = SEC_CODE_MENU_ITEMS;
    setCurrentMenuPtr(g_ConfSecurityCodeMenu, 0);
    setCurrentPagePtr(g_ConfSecurityCodeMenu, 0);
    getConfSecCodeFromDataDict();
    dispManSetStoreCallbacks(nullptr, nullptr);
    digitKeys();
    setCurrentHighlightPtr(updateHighlightedItem);
}

void displaySelectedConfCodeMenuItemPage() {
    uint8_t position = 0;
    if (!currentPosition(&position)) {
        return;
    }
    if (position < SEC_CODE_DIGITS - 1) {
        select(static_cast<uint8_t>(position + 1));
    } else if (position == SEC_CODE_DIGITS - 1) {
        select(SEC_CODE_ENTER);
        buttonKeys();
    } else if (position == SEC_CODE_ENTER) {
        setConfSecCodeInDataDict();
        saveThermostatSysCfg();
        backToUserPref();
    } else {
        backToUserPref();
    }
}

void incConfSecCodeMenuPtr() {
    if (getCurrentMenuPtr() == &g_ConfSecurityCodeMenu[SEC_CODE_ENTER]) {
        select(SEC_CODE_CANCEL);
    } else {
        select(0);
        digitKeys();
    }
}

void decConfSecCodeMenuPtr() {
    if (getCurrentMenuPtr() == &g_ConfSecurityCodeMenu[SEC_CODE_CANCEL]) {
        select(SEC_CODE_ENTER);
    } else {
        select(SEC_CODE_DIGITS - 1);
        digitKeys();
    }
}

void drawConfigSecCodeValue1(char *buffer) {
    drawDigit(buffer, 0);
}
void drawConfigSecCodeValue2(char *buffer) {
    drawDigit(buffer, 1);
}
void drawConfigSecCodeValue3(char *buffer) {
    drawDigit(buffer, 2);
}
void drawConfigSecCodeValue4(char *buffer) {
    drawDigit(buffer, 3);
}

void configSecCodeMenuReset() {
    c_ConfigSecCodeBackup.restore();
    for (MenuItem &item : g_ConfSecurityCodeMenu) {
        item = MenuItem{};
    }
    initialiseConfigSecCodeMenu();
}
