// Texts of the menu pages.
#include "menus/menu_text.h"

#include "menus/screen_parts.h"

#include <cstdio>
#include <cstring>

void drawMenuLabel(char *buffer, const char *label) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s %c", label, ':');
}

const char *menuChoiceText(const char *const *table, size_t count, int32_t value) {
    if (table == nullptr || value < 0 || static_cast<size_t>(value) >= count) {
        return "";
    }
    return table[value];
}

void drawAlignedText(char *buffer, MenuItem &item, const char *text, int16_t anchorX,
                     MenuTextAlign align) {
    ScreenItem *screenItem = item.handle;
    bool changed = strncmp(buffer, text, SCREEN_TEXT_LEN) != 0;
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", text);
    if (!changed || screenItem == nullptr || screenItem->text != buffer) {
        return;
    }
    int width = 0;
    int height = 0;
    if (screenGetTextWidthHeight(screenItem->fontFile, screenItem->fontSize, buffer, &width,
                                 &height) != 0) {
        return;
    }
    int x = align == MenuTextAlign::Right ? anchorX - width : anchorX - width / 2;
    setMenuItemLocation(&item, static_cast<int16_t>(x < 0 ? 0 : x));
}
