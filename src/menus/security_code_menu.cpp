// Security code entry menu.
#include "menus/security_code_menu.h"

#include "config/data_dict.h"
#include "display/display_manager.h"
#include "menus/menu_pages.h"

#include <cstdio>

namespace {

uint16_t m_SecCodeInDataDict = 0;
// The settings page item that opened the code input page.
constexpr uint8_t SETTINGS_SECURITY_ITEM = 9;

void drawDigit(char *buffer, uint8_t digit) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%d", g_SecurityCodeMenu[digit].value);
}

void selectItem(uint8_t position) {
    setCurrentMenuPtr(g_SecurityCodeMenu, position);
    displayHighlightedItem();
}

void digitKeys() {
    dispManSetKeySlots(incrementMenuItemValue, decrementMenuItemValue,
                       displaySelectedSecCodeMenuItemPage);
}

void buttonKeys() {
    dispManSetKeySlots(decSecCodeMenuPtr, incSecCodeMenuPtr, displaySelectedSecCodeMenuItemPage);
}

} // namespace

MenuItem g_SecurityCodeMenu[SEC_CODE_MENU_ITEMS] = {};
const char *const c_SecCodeModeItems[2] = {"Enter", "Cancel"};

void initialiseSecurityCodeMenu() {
    for (uint8_t i = 0; i < SEC_CODE_MENU_ITEMS; i++) {
        MenuItem &item = g_SecurityCodeMenu[i];
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
    uint32_t entered = 0;
    for (uint8_t i = 0; i < SEC_CODE_DIGITS; i++) {
        entered = entered * 10 + static_cast<uint32_t>(g_SecurityCodeMenu[i].value);
    }
    return static_cast<uint16_t>(entered) == m_SecCodeInDataDict ? 1 : 0;
}

void displaySelectedSecCodeMenuItemPage() {
    uint8_t position = getCurrentMenuIndex();
    if (getCurrentMenuPtr() == nullptr || position > SEC_CODE_CANCEL) {
        return;
    }
    if (position < SEC_CODE_DIGITS - 1) {
        selectItem(static_cast<uint8_t>(position + 1));
    } else if (position == SEC_CODE_DIGITS - 1) {
        selectItem(SEC_CODE_ENTER);
        buttonKeys();
    } else if (position == SEC_CODE_ENTER) {
        if (checkEnteredCode() != 0) {
            resetSecCode();
            displayUserPrefPage();
        } else {
            selectItem(0);
            digitKeys();
        }
    } else {
        displaySettingsPageAt(SETTINGS_SECURITY_ITEM);
    }
}

void incSecCodeMenuPtr() {
    if (getCurrentMenuIndex() == SEC_CODE_ENTER) {
        selectItem(SEC_CODE_CANCEL);
    } else {
        selectItem(0);
        digitKeys();
    }
}

void decSecCodeMenuPtr() {
    if (getCurrentMenuIndex() == SEC_CODE_CANCEL) {
        selectItem(SEC_CODE_ENTER);
    } else {
        selectItem(SEC_CODE_DIGITS - 1);
        digitKeys();
    }
}

void drawSecurityCodeValue1(char *buffer) {
    drawDigit(buffer, 0);
}
void drawSecurityCodeValue2(char *buffer) {
    drawDigit(buffer, 1);
}
void drawSecurityCodeValue3(char *buffer) {
    drawDigit(buffer, 2);
}
void drawSecurityCodeValue4(char *buffer) {
    drawDigit(buffer, 3);
}
void drawSecurityCodeEnter(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", c_SecCodeModeItems[0]);
}
void drawSecurityCodeCancel(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", c_SecCodeModeItems[1]);
}

void securityCodeMenuReset() {
    m_SecCodeInDataDict = 0;
    initialiseSecurityCodeMenu();
}
