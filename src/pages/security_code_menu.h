// Security code entry: the menu behind the code input page that guards the
// user preferences. Four digit records (0-9, wrapping), then "Enter" and
// "Cancel". The stored code is taken when the page opens (and whenever the
// display manager refreshes the page); "Enter" compares the digits with it.
//
// The code entry itself (the records, the digits' keys, moving between the
// digits and the choices) is shared with the code change page.
#pragma once

#include "menus/menu_engine.h"

#include <cstdint>

constexpr uint8_t SEC_CODE_DIGITS = 4;
constexpr uint8_t SEC_CODE_ENTER = 4;
constexpr uint8_t SEC_CODE_CANCEL = 5;
constexpr uint8_t SEC_CODE_MENU_ITEMS = 6;
extern MenuItem g_SecurityCodeMenu[SEC_CODE_MENU_ITEMS];
// "Enter", "Cancel".
extern const char *const c_SecCodeModeItems[2];

void initialiseSecurityCodeMenu();
// Takes the stored code (the refresh callback of the page).
void getSecCodeFromDataDict();
// All four digits back to 0.
void resetSecCode();
// 1 when the four digits give the code taken from the store, else 0.
uint8_t checkEnteredCode();
// Mode: next digit, "Enter" (check) or "Cancel".
void displaySelectedSecCodeMenuItemPage();
// Down and Up while "Enter" or "Cancel" is current.
void incSecCodeMenuPtr();
void decSecCodeMenuPtr();

// Text update functions of the code input screen.
void drawSecurityCodeValue1(char *buffer);
void drawSecurityCodeValue2(char *buffer);
void drawSecurityCodeValue3(char *buffer);
void drawSecurityCodeValue4(char *buffer);
void drawSecurityCodeEnter(char *buffer);
void drawSecurityCodeCancel(char *buffer);

// Forgets the taken code and the digits. For tests.
void securityCodeMenuReset();

// ---- The code entry of both code pages -----------------------------------------

// A code page: its six records and what its keys and its choices do.
struct CodeEntryPage {
    MenuItem *menu;
    void (*modeKey)();     // the page's mode key
    void (*nextKey)();     // Down while a choice is current
    void (*previousKey)(); // Up while a choice is current
    void (*enter)();       // "Enter" chosen
    void (*cancel)();      // "Cancel" chosen
};

// Four digit records (0-9, wrapping), then the two choices.
void codeEntryInitialise(MenuItem *menu);
// A digit's text.
void codeEntryDrawDigit(char *buffer, const MenuItem *menu, uint8_t digit);
// "Enter" or "Cancel" (position SEC_CODE_ENTER or SEC_CODE_CANCEL), centred on its button.
void codeEntryDrawChoice(char *buffer, MenuItem *menu, uint8_t position);
// The four digits as a number, and a number into the digits.
uint16_t codeEntryValue(const MenuItem *menu);
void codeEntrySetValue(MenuItem *menu, uint16_t code);
// The keys stepping the current digit.
void codeEntryDigitKeys(const CodeEntryPage &page);
// The first digit current, the keys stepping it.
void codeEntrySelectFirstDigit(const CodeEntryPage &page);
// Mode: the next digit; from the last digit "Enter"; on a choice its action.
void codeEntryMode(const CodeEntryPage &page);
// Down and Up while a choice is current: the other choice, or back to the
// first (Down from "Cancel") or the last digit (Up from "Enter").
void codeEntryNext(const CodeEntryPage &page);
void codeEntryPrevious(const CodeEntryPage &page);
