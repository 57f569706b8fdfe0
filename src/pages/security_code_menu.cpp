// Security code entry menu.
#include "pages/security_code_menu.h"

#include "config/data_dict.h"
#include "dispman/display_manager.h"
#include "menus/menu_text.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "pages/main_page.h"
#include "pages/menu_pages.h"
#include "pages/pages.h"

#include <cstdio>

namespace {

uint16_t m_SecCodeInDataDict = 0;
// The settings page item that opened the code input page.
constexpr uint8_t SETTINGS_SECURITY_ITEM = 9;
constexpr int16_t DIGIT_MAX = 9;
constexpr uint32_t DIGIT_BASE = 10;

void select(const CodeEntryPage &page, uint8_t position) {
    setCurrentMenuPtr(page.menu, position);
    displayHighlightedItem();
}

void choiceKeys(const CodeEntryPage &page) {
    displayManagerSetKeySlots(page.previousKey, page.nextKey, page.modeKey);
}

bool currentPosition(const CodeEntryPage &page, uint8_t *position) {
    uint8_t index = getCurrentMenuIndex();
    if (index >= SEC_CODE_MENU_ITEMS || getCurrentMenuPtr() != &page.menu[index]) {
        return false;
    }
    *position = index;
    return true;
}

void enterCode();
void cancelCode();

} // namespace

MenuItem g_SecurityCodeMenu[SEC_CODE_MENU_ITEMS] = {};
const char *const c_SecCodeModeItems[2] = {"Enter", "Cancel"};

namespace {

const CodeEntryPage c_SecurityCodeInput = {g_SecurityCodeMenu, displaySelectedSecCodeMenuItemPage,
                                           incSecCodeMenuPtr,  decSecCodeMenuPtr,
                                           enterCode,          cancelCode};

// The right code opens the user preferences; a wrong one starts again.
void enterCode() {
    if (checkEnteredCode() != 0) {
        resetSecCode();
        displayUserPrefPage();
    } else {
        codeEntrySelectFirstDigit(c_SecurityCodeInput);
    }
}

void cancelCode() {
    displaySettingsPageAt(SETTINGS_SECURITY_ITEM);
}

} // namespace

// ---- The code entry of both code pages -----------------------------------------

void codeEntryInitialise(MenuItem *menu) {
    for (uint8_t i = 0; i < SEC_CODE_MENU_ITEMS; i++) {
        MenuItem &item = menu[i];
        item.index = i;
        item.value = 0;
        item.isFixedPoint = 0;
        item.hasGlyphs = 0;
        if (i < SEC_CODE_DIGITS) {
            item.min = 0;
            item.max = DIGIT_MAX;
            item.step = 1;
            item.wrap = 1;
        }
    }
}

void codeEntryDrawDigit(char *buffer, const MenuItem *menu, uint8_t digit) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%d", menu[digit].value);
}

void codeEntryDrawChoice(char *buffer, MenuItem *menu, uint8_t position) {
    drawAlignedText(buffer, menu[position], c_SecCodeModeItems[position == SEC_CODE_ENTER ? 0 : 1],
                    BUTTON_CENTRE_X, MenuTextAlign::Center);
}

uint16_t codeEntryValue(const MenuItem *menu) {
    uint32_t code = 0;
    for (uint8_t i = 0; i < SEC_CODE_DIGITS; i++) {
        code = code * DIGIT_BASE + static_cast<uint32_t>(menu[i].value);
    }
    return static_cast<uint16_t>(code);
}

void codeEntrySetValue(MenuItem *menu, uint16_t code) {
    uint32_t rest = code;
    uint32_t divisor = DIGIT_BASE * DIGIT_BASE * DIGIT_BASE;
    for (uint8_t i = 0; i < SEC_CODE_DIGITS; i++) {
        menu[i].value = static_cast<int16_t>(rest / divisor);
        rest %= divisor;
        divisor /= DIGIT_BASE;
    }
}

void codeEntryDigitKeys(const CodeEntryPage &page) {
    displayManagerSetKeySlots(incrementMenuItemValue, decrementMenuItemValue, page.modeKey);
}

void codeEntrySelectFirstDigit(const CodeEntryPage &page) {
    select(page, 0);
    codeEntryDigitKeys(page);
}

void codeEntryMode(const CodeEntryPage &page) {
    uint8_t position = 0;
    if (!currentPosition(page, &position)) {
        return;
    }
    if (position < SEC_CODE_DIGITS - 1) {
        select(page, static_cast<uint8_t>(position + 1));
    } else if (position == SEC_CODE_DIGITS - 1) {
        select(page, SEC_CODE_ENTER);
        choiceKeys(page);
    } else if (position == SEC_CODE_ENTER) {
        page.enter();
    } else {
        page.cancel();
    }
}

void codeEntryNext(const CodeEntryPage &page) {
    if (getCurrentMenuPtr() == &page.menu[SEC_CODE_ENTER]) {
        select(page, SEC_CODE_CANCEL);
    } else {
        codeEntrySelectFirstDigit(page);
    }
}

void codeEntryPrevious(const CodeEntryPage &page) {
    if (getCurrentMenuPtr() == &page.menu[SEC_CODE_CANCEL]) {
        select(page, SEC_CODE_ENTER);
    } else {
        select(page, SEC_CODE_DIGITS - 1);
        codeEntryDigitKeys(page);
    }
}

// ---- The code input page --------------------------------------------------------

void initialiseSecurityCodeMenu() {
    codeEntryInitialise(g_SecurityCodeMenu);
}

void getSecCodeFromDataDict() {
    m_SecCodeInDataDict = getSecurityCode();
}

void resetSecCode() {
    for (uint8_t i = 0; i < SEC_CODE_DIGITS; i++) {
        g_SecurityCodeMenu[i].value = 0;
    }
}

uint8_t checkEnteredCode() {
    return codeEntryValue(g_SecurityCodeMenu) == m_SecCodeInDataDict ? 1 : 0;
}

void displaySelectedSecCodeMenuItemPage() {
    codeEntryMode(c_SecurityCodeInput);
}

void incSecCodeMenuPtr() {
    codeEntryNext(c_SecurityCodeInput);
}

void decSecCodeMenuPtr() {
    codeEntryPrevious(c_SecurityCodeInput);
}

void drawSecurityCodeValue1(char *buffer) {
    codeEntryDrawDigit(buffer, g_SecurityCodeMenu, 0);
}
void drawSecurityCodeValue2(char *buffer) {
    codeEntryDrawDigit(buffer, g_SecurityCodeMenu, 1);
}
void drawSecurityCodeValue3(char *buffer) {
    codeEntryDrawDigit(buffer, g_SecurityCodeMenu, 2);
}
void drawSecurityCodeValue4(char *buffer) {
    codeEntryDrawDigit(buffer, g_SecurityCodeMenu, 3);
}
void drawSecurityCodeEnter(char *buffer) {
    codeEntryDrawChoice(buffer, g_SecurityCodeMenu, SEC_CODE_ENTER);
}
void drawSecurityCodeCancel(char *buffer) {
    codeEntryDrawChoice(buffer, g_SecurityCodeMenu, SEC_CODE_CANCEL);
}

void securityCodeMenuReset() {
    m_SecCodeInDataDict = 0;
    initialiseSecurityCodeMenu();
}
