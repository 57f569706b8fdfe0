// Bus address page (page 13), from the advanced setup: this unit's address
// on the control bus as three decimal digits, "Enter" and "Cancel", and the
// versions of the bus interface and of the application. Up and Down step the
// current digit, Mode moves on to the next. "Enter" stores and saves the
// address and hands it to the coprocessor (the address, its complement, the
// address again); an entry above 255, which no 8-bit address can hold, is
// refused and the first digit is current again. displayKorabusCommPage and
// initialiseKorabusCommSetupMenu are in menu_pages.h.
#pragma once

#include "graphics/screen.h"
#include "menus/menu_engine.h"
#include "pages/menu_pages.h"

#include <cstddef>
#include <cstdint>

enum KorabusCommMenuItem : uint8_t {
    KORABUS_COMM_HUNDREDS = 0,
    KORABUS_COMM_TENS = 1,
    KORABUS_COMM_UNITS = 2,
    KORABUS_COMM_ENTER = 3,
    KORABUS_COMM_CANCEL = 4,
};
constexpr uint8_t KORABUS_COMM_ITEMS = 5;
extern MenuItem g_KorabusCommMenu[KORABUS_COMM_ITEMS];

constexpr size_t KORABUS_COMM_SCREEN_ITEMS = 25;
extern ScreenItem testScreenKorabusComm[KORABUS_COMM_SCREEN_ITEMS + 1];

// The stored address into the three digits; the digits back into the store
// (0, or -1 without storing when they make more than 255).
void getKorabusCommFromDataDict();
int setKorabusCommInDataDict();

// Keys of the page once "Enter" or "Cancel" is current: Up, Down; and Mode.
void decKorabusCommMenuPtr();
void incKorabusCommMenuPtr();
void displaySelectedKorabusCommMenuItemPage();

// Text update functions.
void drawKorabusCommAddress1(char *buffer);
void drawKorabusCommAddress2(char *buffer);
void drawKorabusCommAddress3(char *buffer);
void drawKorabusCommRevision(char *buffer);
void drawKorabusCommEnter(char *buffer);
void drawKorabusCommCancel(char *buffer);

// Forgets the page's state and restores its screen table. For tests.
void korabusCommMenuReset();
