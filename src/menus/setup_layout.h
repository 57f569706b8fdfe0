// The grid of the setup-style menu pages (user preferences, button lockout):
// the setup background with the day bar and the clock, a header with the
// page's title and its screen number, then settings of two lines each (the
// label, and under it the value in the right-hand column), and a button at
// the bottom ("More" or "Exit"). Items are text, highlighted by colour.
#pragma once

#include "graphics/screen.h"
#include "menus/screen_parts.h"

#include <cstdint>

constexpr int16_t SETUP_LABEL_X = 38;
constexpr int16_t SETUP_VALUE_X = 163;
constexpr int16_t SETUP_FIRST_ROW_Y = 86;
// The value sits this far below its label.
constexpr int16_t SETUP_VALUE_DY = 17;
constexpr uint32_t SETUP_LABEL_SIZE = 13;
constexpr uint32_t SETUP_VALUE_SIZE = 14;
constexpr uint32_t SETUP_BUTTON_TEXT_SIZE = 14;

// The bottom button (112 x 34) and its text, centred by the text's width.
constexpr int16_t SETUP_BUTTON_X = 64;
constexpr int16_t SETUP_BUTTON_Y = 280;
constexpr int16_t SETUP_BUTTON_WIDTH = 112;
constexpr int16_t SETUP_BUTTON_TEXT_DY = 9;
constexpr int16_t setupButtonTextX(int16_t textWidth) {
    return static_cast<int16_t>(SETUP_BUTTON_X + (SETUP_BUTTON_WIDTH - textWidth) / 2);
}

// The top of row `row` (from 0) for rows `pitch` pixels apart.
constexpr int16_t setupRowY(int row, int pitch) {
    return static_cast<int16_t>(SETUP_FIRST_ROW_Y + row * pitch);
}

// Background, day bar, clock, header bar and the title image with the
// screen number, as on the installer's setup screens.
#define SETUP_PAGE_FRAME(titleImage)                                                               \
    screenBitmap(0, 0, nullptr, "./images/Setup/bkg.png"), SCREEN_DAY_BAR, SCREEN_CLOCK_ITEMS(30), \
        screenBitmap(0, 50, nullptr, "./images/Setup/page_hdr.png"),                               \
        screenBitmap(0, 50, nullptr, titleImage), SCREEN_HIGHLIGHT_BAR

// One setting: its label item and its value item, in row `row`.
#define SETUP_SETTING(row, pitch, labelSlot, labelFn, valueSlot, valueFn)                          \
    screenText(SETUP_LABEL_X, setupRowY(row, pitch), labelSlot, labelFn, FONT_BOLD,                \
               SETUP_LABEL_SIZE, WHITE_TEXT_COLOR),                                                \
        screenText(SETUP_VALUE_X, setupRowY(row, pitch) + SETUP_VALUE_DY, valueSlot, valueFn,      \
                   FONT_BOLD, SETUP_VALUE_SIZE, WHITE_TEXT_COLOR)

// The bottom button with its text (textWidth: the text's width in pixels).
#define SETUP_BUTTON(slot, fn, textWidth)                                                          \
    screenBitmap(SETUP_BUTTON_X, SETUP_BUTTON_Y, nullptr, "./images/Graphic-Button-OFF.png"),      \
        screenText(setupButtonTextX(textWidth), SETUP_BUTTON_Y + SETUP_BUTTON_TEXT_DY, slot, fn,   \
                   FONT_BOLD, SETUP_BUTTON_TEXT_SIZE, WHITE_TEXT_COLOR)
