// The list layout of the installer's and the user's setup pages (advanced
// setup, thermostat setup, bus address, user preferences, button lockout):
// the setup background with the day bar and the clock, a header bar with the
// page's title, then the settings, each with its label in the regular face
// at the left margin and its value in bold, and the page's buttons below.
// A value sits at the right end of its label's line (SETUP_LABEL and
// SETUP_VALUE) or, when the label is long, on a line of its own under it
// (SETUP_SETTING). The highlight bar lies under the current setting, both
// its lines when its value has a line of its own.
#pragma once

#include "graphics/screen.h"
#include "menus/screen_parts.h"

#include <cstdint>

constexpr int16_t SETUP_LABEL_X = 12;
constexpr int16_t SETUP_VALUE_RIGHT = 228;
constexpr uint32_t SETUP_TEXT_SIZE = 14;
// Values on a line of their own start at this column, this far below their label.
constexpr int16_t SETUP_VALUE_X = 163;
constexpr int16_t SETUP_VALUE_DY = 19;
constexpr int16_t SETUP_FIRST_ROW_Y = 86;
constexpr uint32_t SETUP_BUTTON_TEXT_SIZE = BUTTON_TEXT_SIZE;

// The bottom button (112 x 34) and its text, centred by the text's width.
constexpr int16_t SETUP_BUTTON_X = BUTTON_X;
constexpr int16_t SETUP_BUTTON_Y = BUTTON_BOTTOM_Y;
constexpr int16_t SETUP_BUTTON_WIDTH = 112;
constexpr int16_t SETUP_BUTTON_TEXT_DY = BUTTON_TEXT_DY;
constexpr int16_t setupButtonTextX(int16_t textWidth) {
    return static_cast<int16_t>(SETUP_BUTTON_X + (SETUP_BUTTON_WIDTH - textWidth) / 2);
}

// The top of row `row` (from 0) for rows `pitch` pixels apart.
constexpr int16_t setupRowY(int row, int pitch) {
    return static_cast<int16_t>(SETUP_FIRST_ROW_Y + row * pitch);
}

// Background, day bar, clock, header bar, title image and the highlight bar.
#define SETUP_SCREEN_HEAD(title)                                                                   \
    screenBitmap(0, 0, nullptr, "./images/Setup/bkg.png"), SCREEN_DAY_BAR, SCREEN_CLOCK_ITEMS(30), \
        screenBitmap(0, 50, nullptr, "./images/Setup/page_hdr.png"),                               \
        screenBitmap(0, 50, nullptr, title), SCREEN_HIGHLIGHT_BAR

// A setting's label, and its value at the end of the line (placed by its
// update function).
#define SETUP_LABEL(y, slot, update)                                                               \
    screenText(SETUP_LABEL_X, y, slot, update, FONT_REGULAR, SETUP_TEXT_SIZE, WHITE_TEXT_COLOR)
#define SETUP_VALUE(y, slot, update)                                                               \
    screenText(SETUP_VALUE_RIGHT - 40, y, slot, update, FONT_BOLD, SETUP_TEXT_SIZE,                \
               WHITE_TEXT_COLOR)

// One setting with its value on a line of its own: its label item and its
// value item, in row `row`.
#define SETUP_SETTING(row, pitch, labelSlot, labelFn, valueSlot, valueFn)                          \
    SETUP_LABEL(setupRowY(row, pitch), labelSlot, labelFn),                                        \
        screenText(SETUP_VALUE_X, setupRowY(row, pitch) + SETUP_VALUE_DY, valueSlot, valueFn,      \
                   FONT_BOLD, SETUP_TEXT_SIZE, WHITE_TEXT_COLOR)

// The bottom button with its text (textWidth: the text's width in pixels).
#define SETUP_BUTTON(slot, fn, textWidth)                                                          \
    screenBitmap(SETUP_BUTTON_X, SETUP_BUTTON_Y, nullptr, BUTTON_IMAGE),                           \
        screenText(setupButtonTextX(textWidth), SETUP_BUTTON_Y + SETUP_BUTTON_TEXT_DY, slot, fn,   \
                   FONT_BOLD, SETUP_BUTTON_TEXT_SIZE, WHITE_TEXT_COLOR)
