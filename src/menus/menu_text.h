// Texts of the menu pages drawn as text items: labels with their colon,
// choices looked up in a page's table of texts with a bound on the value
// (a record may hold any value), and texts kept aligned to a column by
// moving their item when the text changes.
#pragma once

#include "menus/menu_engine.h"

#include <cstddef>
#include <cstdint>

// "%s %c" with ':', the labels of the setup pages.
void drawMenuLabel(char *buffer, const char *label);

// The entry `value` of a table of `count` texts, or "" when the value lies outside it.
const char *menuChoiceText(const char *const *table, size_t count, int32_t value);
template <size_t N> const char *menuChoiceText(const char *const (&table)[N], int32_t value) {
    return menuChoiceText(table, N, value);
}

enum class MenuTextAlign : uint8_t { Right, Center };

// Writes text into the item's buffer; when it differs from what the buffer
// held, measures it in the item's font and moves the item so that the text
// ends at (Right) or is centred on (Center) anchorX. Measuring happens only
// on a change, so an unchanged text costs one comparison per render pass.
void drawAlignedText(char *buffer, MenuItem &item, const char *text, int16_t anchorX,
                     MenuTextAlign align);
