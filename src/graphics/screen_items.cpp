// Screen engine operations on items: visibility, colours, blinking, image,
// position and font changes, lookups, text measurement, the cursor overlay
// and the backlight.
#include "graphics/screen.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// The font kept open for text measurement.
TTF_Font *m_MeasureFont = nullptr;
constexpr size_t MEASURE_FONT_PATH_SIZE = 256;
// The text written to the brightness file, "%d\n": any level in at most 15
// characters.
constexpr size_t BACKLIGHT_TEXT_SIZE = 16;
char m_MeasureFontFile[MEASURE_FONT_PATH_SIZE] = {};
uint32_t m_MeasureSize = 0;

bool valid(const DisplayContext *display, const ScreenItem *item) {
    return display != nullptr && item != nullptr;
}

// Whether the item is one of the screen shown: only those hold open fonts,
// which leaving the screen closes again.
bool onScreenShown(const DisplayContext *display, const ScreenItem *item) {
    for (const ScreenItem *shown = display->currentScreen;
         shown != nullptr && shown->kind != SCREEN_ITEM_END; shown++) {
        if (shown == item) {
            return true;
        }
    }
    return false;
}

// Draws the hollow rectangle of the cursor into a fresh colour-keyed surface.
void screenAllocCursor(DisplayContext *display) {
    ScreenCursor &c = display->cursor;
    if (c.surface != nullptr) {
        SDL_FreeSurface(c.surface);
        c.surface = nullptr;
    }
    if (c.width == 0 || c.height == 0) {
        return;
    }
    c.surface = screenCreateSurface565(c.width, c.height);
    if (c.surface == nullptr) {
        return;
    }
    SDL_FillRect(c.surface, nullptr, 0);
    // A line wider than the rectangle fills it; it never reaches past it.
    int w = c.width;
    int h = c.height;
    int lineRows = std::min<int>(c.lineWidth, h);
    int lineCols = std::min<int>(c.lineWidth, w);
    if (lineRows == 0) {
        return;
    }
    Uint32 ink = screenInk565(c.color);
    SDL_Rect r;
    r.x = 0;
    r.w = static_cast<Uint16>(w);
    r.h = static_cast<Uint16>(lineRows);
    r.y = 0;
    SDL_FillRect(c.surface, &r, ink);
    r.y = static_cast<Sint16>(h - lineRows);
    SDL_FillRect(c.surface, &r, ink);
    r.y = 0;
    r.h = static_cast<Uint16>(h);
    r.w = static_cast<Uint16>(lineCols);
    r.x = 0;
    SDL_FillRect(c.surface, &r, ink);
    r.x = static_cast<Sint16>(w - lineCols);
    SDL_FillRect(c.surface, &r, ink);
}

ScreenItem *nthOfKind(DisplayContext *display, uint32_t kind, uint32_t n) {
    if (display == nullptr || display->currentScreen == nullptr) {
        return nullptr;
    }
    for (ScreenItem *item = display->currentScreen; item->kind != SCREEN_ITEM_END; item++) {
        if (item->kind == kind) {
            if (n == 0) {
                return item;
            }
            n--;
        }
    }
    return nullptr;
}

// Writes a short text at the start of a sysfs-style file and cuts the file
// there, so that a regular file stand-in holds exactly the last value.
int writeControl(int fd, const char *text) {
    size_t len = strlen(text);
    if (lseek(fd, 0, SEEK_SET) < 0 || write(fd, text, len) != static_cast<ssize_t>(len)) {
        return -1;
    }
    // A sysfs attribute cannot be truncated; that is harmless.
    if (ftruncate(fd, static_cast<off_t>(len)) != 0) {
        return 0;
    }
    return 0;
}

} // namespace

int screenSetBitmapVisibility(DisplayContext *display, ScreenItem *item, uint8_t visible) {
    if (!valid(display, item)) {
        return -1;
    }
    if (static_cast<uint8_t>(item->bitmapVisible) != visible) {
        item->bitmapVisible = visible;
        display->dirty = 1;
    }
    return 0;
}

int screenSetTextVisibility(DisplayContext *display, ScreenItem *item, uint8_t visible) {
    if (!valid(display, item)) {
        return -1;
    }
    if (static_cast<uint8_t>(item->textVisible) != visible) {
        item->textVisible = visible;
        display->dirty = 1;
    }
    return 0;
}

int screenSetItemVisibility(DisplayContext *display, ScreenItem *item, uint8_t visible) {
    if (item != nullptr && item->kind == SCREEN_ITEM_TEXT) {
        return screenSetTextVisibility(display, item, visible);
    }
    return screenSetBitmapVisibility(display, item, visible);
}

int screenUpdateTextColor(DisplayContext *display, ScreenItem *item, uint32_t color) {
    if (!valid(display, item) || item->kind != SCREEN_ITEM_TEXT) {
        return -1;
    }
    if (item->textColor != color) {
        item->textColor = color;
        display->dirty = 1;
    }
    return 0;
}

int screenSetTextBlinkRate(DisplayContext *display, ScreenItem *item, uint32_t periodMs) {
    if (!valid(display, item) || item->kind != SCREEN_ITEM_TEXT) {
        return -1;
    }
    if (item->textBlinkPeriod != periodMs) {
        item->textBlinkPeriod = periodMs;
        item->textVisible = 1;
        // The first phase shows the text for a whole period.
        if (periodMs != 0) {
            util_set_expiration(&item->textBlinkTimer, periodMs);
            display->blinking = 1;
        }
        display->dirty = 1;
    }
    return 0;
}

int screenSetBitmapBlinkRate(DisplayContext *display, ScreenItem *item, uint32_t periodMs) {
    if (!valid(display, item) || item->kind != SCREEN_ITEM_BITMAP) {
        return -1;
    }
    if (item->bitmapBlinkPeriod != periodMs) {
        item->bitmapBlinkPeriod = periodMs;
        item->bitmapVisible = 1;
        if (periodMs != 0) {
            util_set_expiration(&item->bitmapBlinkTimer, periodMs);
            display->blinking = 1;
        }
        // Blinking may have stopped in the off phase, with the bitmap taken
        // off the screen: it is visible again, so it is put back.
        if (item->loaded == 0) {
            screenAddBitmap(display, item);
        }
        display->dirty = 1;
    }
    return 0;
}

int screenUpdateGlyphColor(DisplayContext *display, ScreenItem *item, uint32_t color) {
    if (!valid(display, item) || item->kind != SCREEN_ITEM_GLYPH) {
        return -1;
    }
    if (item->glyphColor != color) {
        item->glyphColor = color;
        if (item->glyph != nullptr) {
            abfRenderGlyph565(display->glyphFile, item->glyph, screenInk565(color));
        }
        display->dirty = 1;
    }
    return 0;
}

int screenReplaceBitmap(DisplayContext *display, ScreenItem *item, const char *path) {
    if (!valid(display, item) || path == nullptr) {
        return -1;
    }
    if (item->imageFile != nullptr && strcmp(item->imageFile, path) == 0) {
        return -1;
    }
    screenUnloadBitmap(item, display);
    item->imageFile = path;
    display->dirty = 1;
    return screenLoadBitmap(item, display);
}

int screenReplaceAndMoveBitmap(DisplayContext *display, ScreenItem *item, const char *path,
                               int16_t x, int16_t y) {
    if (!valid(display, item) || path == nullptr) {
        return -1;
    }
    bool samePath = item->imageFile != nullptr && strcmp(item->imageFile, path) == 0;
    if (samePath && item->x == x && item->y == y && item->loaded != 0) {
        return -1;
    }
    screenUnloadBitmap(item, display);
    item->imageFile = path;
    item->x = x;
    item->y = y;
    item->loaded = 1;
    display->dirty = 1;
    return screenLoadBitmap(item, display);
}

int screenRemoveBitmap(DisplayContext *display, ScreenItem *item) {
    if (!valid(display, item) || item->loaded == 0) {
        return -1;
    }
    screenUnloadBitmap(item, display);
    item->loaded = 0;
    display->dirty = 1;
    return 0;
}

int screenAddBitmap(DisplayContext *display, ScreenItem *item) {
    if (!valid(display, item) || item->loaded != 0) {
        return -1;
    }
    item->loaded = 1;
    display->dirty = 1;
    return screenLoadBitmap(item, display);
}

int screenMoveBitmap(DisplayContext *display, ScreenItem *item, int16_t x, int16_t y) {
    if (!valid(display, item)) {
        return -1;
    }
    screenUnloadBitmap(item, display);
    item->x = x;
    item->y = y;
    item->loaded = 1;
    display->dirty = 1;
    return screenLoadBitmap(item, display);
}

int screenMoveText(DisplayContext *display, ScreenItem *item, int16_t x, int16_t y) {
    if (!valid(display, item) || (item->x == x && item->y == y)) {
        return -1;
    }
    item->x = x;
    item->y = y;
    display->dirty = 1;
    // The open font draws at the new place as well; only a text of the screen
    // shown whose font is not open (never loaded, or taken off with
    // screenRemoveText) opens it. A text of another screen only takes its
    // place: its screen opens its font when it is shown.
    if (item->font != nullptr || !onScreenShown(display, item)) {
        return 0;
    }
    return screenLoadText(item, display);
}

int screenRemoveText(DisplayContext *display, ScreenItem *item) {
    if (!valid(display, item)) {
        return -1;
    }
    screenUnloadText(item, display);
    display->dirty = 1;
    return 0;
}

int screenChangeFontSizeText(DisplayContext *display, ScreenItem *item, uint32_t size) {
    if (!valid(display, item) || item->fontSize == size) {
        return -1;
    }
    screenUnloadText(item, display);
    item->fontSize = size;
    display->dirty = 1;
    return screenLoadText(item, display);
}

int screenReplaceGlyph(DisplayContext *display, ScreenItem *item, uint16_t glyphId,
                       uint32_t color) {
    if (!valid(display, item)) {
        return -1;
    }
    screenUnloadGlyph(item, display);
    item->glyphColor = color;
    item->glyphId = glyphId;
    display->dirty = 1;
    return screenLoadGlyph(item, display);
}

ScreenItem *screenTextIndexToItem(DisplayContext *display, uint32_t n) {
    return nthOfKind(display, SCREEN_ITEM_TEXT, n);
}

ScreenItem *screenBitmapIndexToItem(DisplayContext *display, uint32_t n) {
    return nthOfKind(display, SCREEN_ITEM_BITMAP, n);
}

ScreenItem *screenGlyphIndexToItem(DisplayContext *display, uint32_t n) {
    return nthOfKind(display, SCREEN_ITEM_GLYPH, n);
}

ScreenItem *screenGlyphIDToItem(DisplayContext *display, uint16_t glyphId) {
    if (display == nullptr || display->currentScreen == nullptr) {
        return nullptr;
    }
    for (ScreenItem *item = display->currentScreen; item->kind != SCREEN_ITEM_END; item++) {
        if (item->kind == SCREEN_ITEM_GLYPH && item->glyphId == glyphId) {
            return item;
        }
    }
    return nullptr;
}

int screenItemGetDimensions(const ScreenItem *item, uint32_t *position, uint32_t *size) {
    if (item == nullptr) {
        return -1;
    }
    if (position != nullptr) {
        *position = (static_cast<uint32_t>(static_cast<uint16_t>(item->x)) << 16) |
                    static_cast<uint16_t>(item->y);
    }
    if (size != nullptr) {
        *size = (static_cast<uint32_t>(item->width) << 16) | item->height;
    }
    return 0;
}

int screenGetTextWidthHeight(const char *fontFile, uint32_t size, const char *text, int *width,
                             int *height) {
    if (fontFile == nullptr || text == nullptr) {
        return -1;
    }
    // Measuring may come before the display starts the font library.
    if (TTF_WasInit() == 0 && TTF_Init() != 0) {
        return -1;
    }
    // Callers measure a line character by character: the font stays open
    // until another font or size is asked for, or the display stops.
    if (m_MeasureFont == nullptr || m_MeasureSize != size ||
        strcmp(m_MeasureFontFile, fontFile) != 0) {
        screenCloseMeasureFont();
        m_MeasureFont = TTF_OpenFont(fontFile, static_cast<int>(size));
        if (m_MeasureFont == nullptr) {
            return -1;
        }
        snprintf(m_MeasureFontFile, sizeof(m_MeasureFontFile), "%s", fontFile);
        m_MeasureSize = size;
    }
    int w = 0;
    int h = 0;
    int result = TTF_SizeText(m_MeasureFont, text, &w, &h);
    if (width != nullptr) {
        *width = w;
    }
    if (height != nullptr) {
        *height = h;
    }
    return result;
}

void screenCloseMeasureFont() {
    if (m_MeasureFont != nullptr) {
        TTF_CloseFont(m_MeasureFont);
        m_MeasureFont = nullptr;
    }
    m_MeasureFontFile[0] = '\0';
    m_MeasureSize = 0;
}

int screenSetCursor(DisplayContext *display, int16_t x, int16_t y, uint16_t width, uint16_t height,
                    uint16_t lineWidth, uint32_t hidden, uint32_t color) {
    if (display == nullptr) {
        return -1;
    }
    ScreenCursor &c = display->cursor;
    c.x = x;
    c.y = y;
    c.width = width;
    c.height = height;
    c.lineWidth = lineWidth;
    c.hidden = hidden;
    c.color = color;
    screenAllocCursor(display);
    display->dirty = 1;
    return 0;
}

int screenMoveCursor(DisplayContext *display, int16_t x, int16_t y) {
    if (display == nullptr) {
        return -1;
    }
    display->cursor.x = x;
    display->cursor.y = y;
    display->dirty = 1;
    return 0;
}

int screenHideCursor(DisplayContext *display) {
    if (display == nullptr) {
        return -1;
    }
    if (display->cursor.hidden == 0) {
        display->cursor.hidden = 1;
        display->dirty = 1;
    }
    return 0;
}

int screenUnhideCursor(DisplayContext *display) {
    if (display == nullptr) {
        return -1;
    }
    if (display->cursor.hidden == 1) {
        display->cursor.hidden = 0;
        display->dirty = 1;
    }
    return 0;
}

int screenSetBacklightLevel(DisplayContext *display, int level) {
    if (display == nullptr) {
        return -1;
    }
    if (display->brightnessFd < 0) {
        return 0;
    }
    char text[BACKLIGHT_TEXT_SIZE];
    snprintf(text, sizeof(text), "%d\n", level);
    return writeControl(display->brightnessFd, text);
}

int screenSetPower(DisplayContext *display, int on) {
    if (display == nullptr) {
        return -1;
    }
    if (display->backlightPowerFd < 0) {
        return 0;
    }
    return writeControl(display->backlightPowerFd, on != 0 ? "0\n" : "1\n");
}

void screenSetExpiration(UtilTimer *timer, uint32_t ms) {
    util_set_expiration(timer, ms);
}

int screenCheckExpiration(const UtilTimer *timer) {
    return util_check_expiration(timer);
}
