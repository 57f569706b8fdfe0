// The grid of the installer's setup screens (advanced setup, thermostat
// setup, bus address): the setup background with the day bar and the clock,
// a header bar with the screen's title under the clock, then one line per
// setting with its label on the left in the regular face and its value
// right-aligned in bold, and the page's action buttons below. The highlight
// bar lies under the current item.
#pragma once

#include "graphics/screen.h"
#include "menus/screen_parts.h"

constexpr int16_t SETUP_LABEL_X = 12;
constexpr int16_t SETUP_VALUE_RIGHT = 228;
constexpr uint32_t SETUP_TEXT_SIZE = 14;

// Background, day bar, clock, header bar and title image.
#define SETUP_SCREEN_HEAD(title)                                                                   \
    screenBitmap(0, 0, nullptr, "./images/Setup/bkg.png"), SCREEN_DAY_BAR, SCREEN_CLOCK_ITEMS(30), \
        screenBitmap(0, 50, nullptr, "./images/Setup/page_hdr.png"),                               \
        screenBitmap(0, 50, nullptr, title), SCREEN_HIGHLIGHT_BAR

// A setting's label and its value (placed by its update function).
#define SETUP_LABEL(y, slot, update)                                                               \
    screenText(SETUP_LABEL_X, y, slot, update, FONT_REGULAR, SETUP_TEXT_SIZE, WHITE_TEXT_COLOR)
#define SETUP_VALUE(y, slot, update)                                                               \
    screenText(SETUP_VALUE_RIGHT - 40, y, slot, update, FONT_BOLD, SETUP_TEXT_SIZE,                \
               WHITE_TEXT_COLOR)
