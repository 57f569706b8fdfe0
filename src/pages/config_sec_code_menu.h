// Security code change: the page, opened from the user preferences, that
// shows the stored four-digit code and stores the one the user sets. Four
// digit records (0-9, wrapping), then "Enter" (store and save) and "Cancel";
// both return to the user preferences. initialiseConfigSecCodeMenu and
// displayConfigSecCode are in menu_pages.h.
#pragma once

#include "graphics/screen.h"
#include "menus/menu_engine.h"
#include "pages/security_code_menu.h"

#include <cstddef>
#include <cstdint>

extern MenuItem g_ConfSecurityCodeMenu[SEC_CODE_MENU_ITEMS];

constexpr size_t CONFIG_SEC_CODE_ITEMS = 20;
extern ScreenItem testScreenConfigSecCode[CONFIG_SEC_CODE_ITEMS + 1];

// Fills the digits from the stored code.
void getConfSecCodeFromDataDict();
// Stores the four digits as the code (the caller saves).
void setConfSecCodeInDataDict();
// Mode: next digit, "Enter" (store, save, back) or "Cancel" (back).
void displaySelectedConfCodeMenuItemPage();
// Down and Up while "Enter" or "Cancel" is current.
void incConfSecCodeMenuPtr();
void decConfSecCodeMenuPtr();

// Text update functions of the digits and the choices.
void drawConfigSecCodeValue1(char *buffer);
void drawConfigSecCodeValue2(char *buffer);
void drawConfigSecCodeValue3(char *buffer);
void drawConfigSecCodeValue4(char *buffer);
void drawConfigSecCodeEnter(char *buffer);
void drawConfigSecCodeCancel(char *buffer);

// Forgets the digits and restores the screen table. For tests.
void configSecCodeMenuReset();
