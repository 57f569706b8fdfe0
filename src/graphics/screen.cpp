// Screen engine core: the display context, start-up and shutdown, screen
// selection, item loading and unloading, and the render pass.
#include "graphics/screen.h"
#include "graphics/screen_test.h"

#include "platform/platform.h"
#include "platform/platform_display.h"

#include <SDL.h>
#include <SDL_image.h>
#include <SDL_ttf.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

DisplayContext g_display = {
    0, 0, 0, 0, nullptr, nullptr, nullptr, -1, -1, 0, {0, 0, 0, 0, 0, 0, 0, nullptr}, 0};
DisplayHandle g_displayHdl = nullptr;

const ScreenItemHandler screenItemHandlers[3] = {
    {screenRenderBitmap, screenLoadBitmap, screenUnloadBitmap},
    {screenRenderText, screenLoadText, screenUnloadText},
    {screenRenderGlyph, screenLoadGlyph, screenUnloadGlyph},
};

namespace {

constexpr const char *BL_POWER_FILE = "/sys/class/backlight/backlight/bl_power";
constexpr const char *BRIGHTNESS_FILE = "/sys/class/backlight/backlight/brightness";
constexpr const char *WINDOW_TITLE = "tstat";

ScreenRenderCounters m_Counters;

// Image and font files reported missing: each is reported once, and again
// only after it has loaded in between.
constexpr size_t MISSING_ASSETS_MAX = 32;
constexpr size_t MISSING_ASSET_NAME = 128;
std::array<std::array<char, MISSING_ASSET_NAME>, MISSING_ASSETS_MAX> m_MissingAssets;
size_t m_MissingAssetCount;

// True when the asset's failure is news (and remembers it).
bool newlyMissing(const char *path) {
    for (size_t i = 0; i < m_MissingAssetCount; i++) {
        if (strncmp(m_MissingAssets[i].data(), path, MISSING_ASSET_NAME - 1) == 0) {
            return false;
        }
    }
    if (m_MissingAssetCount < MISSING_ASSETS_MAX) {
        snprintf(m_MissingAssets[m_MissingAssetCount++].data(), MISSING_ASSET_NAME, "%s", path);
    }
    return true;
}

void assetLoaded(const char *path) {
    for (size_t i = 0; i < m_MissingAssetCount; i++) {
        if (strncmp(m_MissingAssets[i].data(), path, MISSING_ASSET_NAME - 1) == 0) {
            m_MissingAssets[i] = m_MissingAssets[--m_MissingAssetCount];
            return;
        }
    }
}

const ScreenItemHandler *handlerOf(const ScreenItem *item) {
    return item->kind < SCREEN_ITEM_END ? &screenItemHandlers[item->kind] : nullptr;
}

int openBacklightFile(const char *designPath) {
    int fd = platformOpenDevice(designPath, O_RDWR);
    if (fd < 0) {
        printf("error opening brightness control (%s)\n", strerror(errno));
    }
    return fd;
}

void closeFd(int *fd) {
    if (*fd >= 0) {
        close(*fd);
    }
    *fd = -1;
}

void blit(SDL_Surface *surface, DisplayContext *display, int16_t x, int16_t y) {
    SDL_Rect dst;
    dst.x = x;
    dst.y = y;
    dst.w = 0;
    dst.h = 0;
    SDL_UpperBlit(surface, nullptr, display->screen, &dst);
    m_Counters.blits++;
}

bool byteSet(uint32_t flag) {
    return static_cast<uint8_t>(flag) != 0;
}

bool blinks(const ScreenItem *item) {
    return item->kind == SCREEN_ITEM_TEXT
               ? item->textBlinkPeriod != 0
               : item->kind == SCREEN_ITEM_BITMAP && item->bitmapBlinkPeriod != 0;
}

void blinkText(ScreenItem *item, DisplayContext *display) {
    if (item->textBlinkPeriod != 0 && util_check_expiration(&item->textBlinkTimer)) {
        item->textVisible = byteSet(item->textVisible) ? 0 : 1;
        util_set_expiration(&item->textBlinkTimer, item->textBlinkPeriod);
        display->dirty = 1;
    }
}

// The off phase takes a blinking bitmap off the screen.
void blinkBitmap(ScreenItem *item, DisplayContext *display) {
    if (item->bitmapBlinkPeriod == 0 || !util_check_expiration(&item->bitmapBlinkTimer)) {
        return;
    }
    item->bitmapVisible = byteSet(item->bitmapVisible) ? 0 : 1;
    util_set_expiration(&item->bitmapBlinkTimer, item->bitmapBlinkPeriod);
    display->dirty = 1;
    if (item->loaded != 0) {
        screenRemoveBitmap(display, item);
    } else {
        screenAddBitmap(display, item);
    }
}

// Text refresh and text blinking.
void screenUpdateTextItems(DisplayContext *display) {
    for (ScreenItem *item = display->currentScreen; item->kind != SCREEN_ITEM_END; item++) {
        if (item->kind != SCREEN_ITEM_TEXT) {
            continue;
        }
        blinkText(item, display);
        if (item->textUpdate != nullptr) {
            item->textUpdate(item->text);
        } else if (item->textUpdateIndexed != nullptr) {
            item->textUpdateIndexed(item->text, item->updateIndex);
        }
        // Whatever the update wrote, the text ends within its buffer.
        item->text[SCREEN_TEXT_LEN - 1] = '\0';
        if (strcmp(item->text, item->lastText) != 0) {
            memcpy(item->lastText, item->text, SCREEN_TEXT_LEN);
            display->dirty = 1;
        }
    }
}

// Bitmap blinking, and whether any item of the screen blinks.
void screenUpdateBitmapItems(DisplayContext *display) {
    uint32_t blinking = 0;
    for (ScreenItem *item = display->currentScreen; item->kind != SCREEN_ITEM_END; item++) {
        if (item->kind == SCREEN_ITEM_BITMAP) {
            blinkBitmap(item, display);
        }
        blinking |= blinks(item) ? 1 : 0;
    }
    display->blinking = blinking;
}

// Blinking alone, in screen order, while some item blinks.
void screenBlinkItems(DisplayContext *display) {
    if (display->blinking == 0) {
        return;
    }
    for (ScreenItem *item = display->currentScreen; item->kind != SCREEN_ITEM_END; item++) {
        if (item->kind == SCREEN_ITEM_TEXT) {
            blinkText(item, display);
        }
    }
    screenUpdateBitmapItems(display);
}

// The panel under a boxed text: a frame in the text's colour around a fill,
// round the text or across the screen's top.
void drawTextBox(DisplayContext *display, const ScreenItem *item, int width, int height) {
    constexpr int PAD_X = 6;
    constexpr int PAD_Y = 2;
    constexpr int FRAME = 2;
    SDL_PixelFormat *format = display->screen->format;
    uint8_t r, g, b;
    SDL_Rect box;
    if (item->textBoxed == SCREEN_TEXT_BOX_BAND) {
        box.x = 0;
        box.y = 0;
        box.w = static_cast<Uint16>(display->screen->w);
        box.h = static_cast<Uint16>(2 * item->y + height);
    } else {
        box.x = static_cast<Sint16>(item->x - PAD_X);
        box.y = static_cast<Sint16>(item->y - PAD_Y);
        box.w = static_cast<Uint16>(width + 2 * PAD_X);
        box.h = static_cast<Uint16>(height + 2 * PAD_Y);
    }
    screenSplitColor(item->textColor, &r, &g, &b);
    SDL_FillRect(display->screen, &box, SDL_MapRGB(format, r, g, b));
    box.x = static_cast<Sint16>(box.x + FRAME);
    box.y = static_cast<Sint16>(box.y + FRAME);
    box.w = static_cast<Uint16>(box.w - 2 * FRAME);
    box.h = static_cast<Uint16>(box.h - 2 * FRAME);
    screenSplitColor(item->textBoxColor, &r, &g, &b);
    SDL_FillRect(display->screen, &box, SDL_MapRGB(format, r, g, b));
}

void screenRenderCursor(DisplayContext *display) {
    const ScreenCursor &c = display->cursor;
    // A line width of 0 draws nothing: the surface is all transparent.
    if (c.hidden == 0 && c.surface != nullptr && c.lineWidth != 0) {
        blit(c.surface, display, c.x, c.y);
    }
}

// A load handler that failed leaves its own item without resources; the
// other items of the screen keep theirs.
int loadFailed(ScreenItem *item, DisplayContext *display) {
    const ScreenItemHandler *h = handlerOf(item);
    if (h != nullptr) {
        h->unload(item, display);
    }
    return -1;
}

// Draws the current screen when it changed since it was last drawn (last:
// even where the host would have it wait, as the screen goes).
void drawIfDirty(DisplayContext *display, bool last = false);

} // namespace

const ScreenRenderCounters &screenRenderCounters() {
    return m_Counters;
}

void screenReset() {
    if (g_display.screen != nullptr || g_display.glyphFile != nullptr) {
        screenStop(&g_display);
    }
    screenCloseMeasureFont();
    g_display = DisplayContext{
        0, 0, 0, 0, nullptr, nullptr, nullptr, -1, -1, 0, {0, 0, 0, 0, 0, 0, 0, nullptr}, 0};
    m_Counters = ScreenRenderCounters{};
    m_MissingAssetCount = 0;
}

int screenInitVideo(DisplayContext *display) {
    platformDisplayPrepare();
    if (SDL_Init(SDL_INIT_VIDEO) < 0) {
        printf("error initializing sdl (%s)\n", SDL_GetError());
        return -1;
    }
    int width = 0;
    int height = 0;
    int bpp = 0;
    platformVideoMode(&width, &height, &bpp);
    display->screen = SDL_SetVideoMode(width, height, bpp, SDL_SWSURFACE);
    // Without a video surface nothing could ever be drawn or flipped.
    if (display->screen == nullptr) {
        printf("error initializing sdl (%s)\n", SDL_GetError());
        SDL_Quit();
        return -1;
    }
    SDL_WM_SetCaption(WINDOW_TITLE, WINDOW_TITLE);
    platformDisplayStart(display->screen);
    display->backlightPowerFd = openBacklightFile(BL_POWER_FILE);
    display->brightnessFd = openBacklightFile(BRIGHTNESS_FILE);
    SDL_ShowCursor(0);
    return 0;
}

DisplayHandle screenInit() {
    DisplayContext *display = &g_display;
    display->width = SCREEN_NOMINAL_WIDTH;
    display->height = SCREEN_NOMINAL_HEIGHT;
    display->depth = SCREEN_NOMINAL_DEPTH;
    display->flags = SCREEN_NOMINAL_FLAGS;
    display->currentScreen = nullptr;
    display->backlightPowerFd = -1;
    display->brightnessFd = -1;
    if (screenInitVideo(display) != 0) {
        return nullptr;
    }
    display->glyphFile = abfOpen(SCREEN_GLYPH_FILE);
    if (display->glyphFile == nullptr) {
        closeFd(&display->backlightPowerFd);
        closeFd(&display->brightnessFd);
        platformDisplayStop();
        SDL_Quit();
        display->screen = nullptr;
        return nullptr;
    }
    TTF_Init();
    screenSetCursor(display, 10, 10, 10, 10, 0, 0, 0xFFFF00);
    return display;
}

void screenStop(DisplayContext *display) {
    if (display == nullptr) {
        return;
    }
    if (display->currentScreen != nullptr) {
        // Changes a host held back are drawn, so the last frame published
        // is the one shown; where every frame is drawn there are none.
        if (!platformDisplayMayDraw()) {
            drawIfDirty(display, true);
        }
        screenUnload(display, display->currentScreen);
        display->currentScreen = nullptr;
    }
    closeFd(&display->backlightPowerFd);
    closeFd(&display->brightnessFd);
    if (display->glyphFile != nullptr) {
        abfClose(display->glyphFile);
        display->glyphFile = nullptr;
    }
    if (display->cursor.surface != nullptr) {
        SDL_FreeSurface(display->cursor.surface);
        display->cursor.surface = nullptr;
    }
    screenCloseMeasureFont();
    if (TTF_WasInit() != 0) {
        TTF_Quit();
    }
    platformDisplayStop();
    SDL_Quit();
    display->screen = nullptr;
}

int screenSetCurrentScreen(DisplayContext *display, ScreenItem *screen) {
    if (display == nullptr) {
        return -1;
    }
    if (display->currentScreen != nullptr) {
        screenUnload(display, display->currentScreen);
    }
    display->currentScreen = screen;
    if (screen != nullptr) {
        screenLoad(display, screen);
    }
    display->dirty = 1;
    // The next full pass finds out whether the screen's items blink.
    display->blinking = 1;
    return 0;
}

void screenLoad(DisplayContext *display, ScreenItem *screen) {
    if (display == nullptr || screen == nullptr) {
        return;
    }
    for (ScreenItem *item = screen; item->kind != SCREEN_ITEM_END; item++) {
        const ScreenItemHandler *h = handlerOf(item);
        if (h != nullptr) {
            h->load(item, display);
        }
        if (item->handleSlot != nullptr) {
            *item->handleSlot = item;
        }
        item->loaded = 1;
        display->dirty = 1;
    }
}

void screenUnload(DisplayContext *display, ScreenItem *first) {
    if (display == nullptr || first == nullptr) {
        return;
    }
    for (ScreenItem *item = first; item->kind != SCREEN_ITEM_END; item++) {
        const ScreenItemHandler *h = handlerOf(item);
        if (h != nullptr) {
            h->unload(item, display);
        }
        if (item->handleSlot != nullptr) {
            *item->handleSlot = item;
        }
        item->loaded = 0;
    }
}

void screenUserHdlInit(ScreenItem *screen) {
    if (screen == nullptr) {
        return;
    }
    for (ScreenItem *item = screen; item->kind != SCREEN_ITEM_END; item++) {
        if (item->handleSlot != nullptr) {
            *item->handleSlot = item;
        }
    }
}

namespace {

// Draws and flips the frame when it is dirty and the host lets it be drawn.
void drawIfDirty(DisplayContext *display, bool last) {
    // An unchanged frame is not drawn; a changed one may wait for a later
    // pass when the host paces its frames (the dirty flag stays set).
    if (display->dirty == 0 || (!last && !platformDisplayMayDraw())) {
        return;
    }
    if (display->screen == nullptr) {
        display->dirty = 0;
        return;
    }
    SDL_Rect all;
    all.x = 0;
    all.y = 0;
    all.w = static_cast<Uint16>(display->screen->w);
    all.h = static_cast<Uint16>(display->screen->h);
    SDL_FillRect(display->screen, &all, 0);
    m_Counters.fills++;
    for (ScreenItem *item = display->currentScreen; item->kind != SCREEN_ITEM_END; item++) {
        const ScreenItemHandler *h = handlerOf(item);
        if (h != nullptr) {
            h->render(item, display);
        }
    }
    screenRenderCursor(display);
    SDL_Flip(display->screen);
    m_Counters.flips++;
    display->dirty = 0;
    platformDisplayFlipped();
}

} // namespace

int screenRender(DisplayContext *display) {
    if (display == nullptr) {
        return 0;
    }
    platformDisplayPoll();
    if (display->currentScreen == nullptr) {
        return 0;
    }
    m_Counters.passes++;
    uint32_t dirtyBefore = display->dirty;
    display->dirty = 0;
    screenUpdateTextItems(display);
    screenUpdateBitmapItems(display);
    int changed = display->dirty != 0 ? 1 : 0;
    display->dirty |= dirtyBefore;
    drawIfDirty(display);
    return changed;
}

void screenRenderKeepingTexts(DisplayContext *display) {
    if (display == nullptr) {
        return;
    }
    platformDisplayPoll();
    if (display->currentScreen == nullptr) {
        return;
    }
    m_Counters.passes++;
    screenBlinkItems(display);
    drawIfDirty(display);
}

// ---- Bitmaps ----------------------------------------------------------------------

int screenRenderBitmap(ScreenItem *item, DisplayContext *display) {
    if (byteSet(item->bitmapVisible) && item->bitmapSurface != nullptr) {
        blit(item->bitmapSurface, display, item->x, item->y);
    }
    return 0;
}

int screenLoadBitmap(ScreenItem *item, DisplayContext *display) {
    if (item->bitmapSurface != nullptr) {
        return 0;
    }
    const char *path = item->imageFile != nullptr ? item->imageFile : "";
    SDL_Surface *raw = IMG_Load(path);
    if (raw == nullptr) {
        if (newlyMissing(path)) {
            printf("failed loading image %s\n", path);
        }
        return loadFailed(item, display);
    }
    SDL_Surface *converted = SDL_DisplayFormatAlpha(raw);
    SDL_FreeSurface(raw);
    if (converted == nullptr) {
        if (newlyMissing(path)) {
            printf("failed converting image %s\n", path);
        }
        return loadFailed(item, display);
    }
    assetLoaded(path);
    item->bitmapSurface = converted;
    item->width = static_cast<uint16_t>(converted->w);
    item->height = static_cast<uint16_t>(converted->h);
    display->dirty = 1;
    return 0;
}

int screenUnloadBitmap(ScreenItem *item, DisplayContext *display) {
    if (item->bitmapSurface != nullptr) {
        SDL_FreeSurface(item->bitmapSurface);
        item->bitmapSurface = nullptr;
        display->dirty = 1;
    }
    return 0;
}

// ---- Texts ----------------------------------------------------------------------------

int screenRenderText(ScreenItem *item, DisplayContext *display) {
    if (!byteSet(item->textVisible) || item->font == nullptr) {
        return 0;
    }
    SDL_Color color;
    screenSplitColor(item->textColor, &color.r, &color.g, &color.b);
    color.unused = 0;
    SDL_Surface *rendered = TTF_RenderText_Blended(item->font, item->text, color);
    if (rendered == nullptr) {
        return 0;
    }
    if (item->textBoxed == SCREEN_TEXT_BOX_BAND) {
        item->x = static_cast<int16_t>((display->screen->w - rendered->w) / 2);
    }
    if (item->textBoxed != SCREEN_TEXT_BOX_NONE) {
        drawTextBox(display, item, rendered->w, rendered->h);
    }
    blit(rendered, display, item->x, item->y);
    item->width = static_cast<uint16_t>(rendered->w);
    item->height = static_cast<uint16_t>(rendered->h);
    SDL_FreeSurface(rendered);
    return 0;
}

int screenLoadText(ScreenItem *item, DisplayContext *display) {
    if (item->font != nullptr) {
        return 0;
    }
    const char *path = item->fontFile != nullptr ? item->fontFile : "";
    item->font = TTF_OpenFont(path, static_cast<int>(item->fontSize));
    if (item->font == nullptr) {
        if (newlyMissing(path)) {
            printf("failed loading font%s\n", path);
        }
        return loadFailed(item, display);
    }
    assetLoaded(path);
    if (item->initialText != nullptr) {
        snprintf(item->text, SCREEN_TEXT_LEN, "%s", item->initialText);
    }
    item->lastText[0] = '\0';
    display->dirty = 1;
    return 0;
}

int screenUnloadText(ScreenItem *item, DisplayContext *display) {
    if (item->font != nullptr) {
        TTF_CloseFont(item->font);
        item->font = nullptr;
        display->dirty = 1;
    }
    return 0;
}

// ---- Glyphs ----------------------------------------------------------------------------

int screenRenderGlyph(ScreenItem *item, DisplayContext *display) {
    if (byteSet(item->bitmapVisible) && item->glyphFrame != nullptr) {
        blit(item->glyphFrame, display, item->x, item->y);
    }
    return 0;
}

int screenLoadGlyph(ScreenItem *item, DisplayContext *display) {
    if (item->glyph != nullptr) {
        return 0;
    }
    item->glyph = abfLoadAndRenderGlyph565(display->glyphFile, item->glyphId, screenAllocGlyphFrame,
                                           screenReleaseGlyphFrame, screenInk565(item->glyphColor));
    if (item->glyph == nullptr) {
        printf("failed loading glyph %d\n", item->glyphId);
        return loadFailed(item, display);
    }
    item->glyphFrame =
        static_cast<SDL_Surface *>(abfGetGlyphFrame(display->glyphFile, item->glyph));
    if (item->glyphFrame != nullptr) {
        item->width = static_cast<uint16_t>(item->glyphFrame->w);
        item->height = static_cast<uint16_t>(item->glyphFrame->h);
    }
    display->dirty = 1;
    return 0;
}

int screenUnloadGlyph(ScreenItem *item, DisplayContext *display) {
    if (item->glyph != nullptr) {
        abfReleaseGlyph(display->glyphFile, item->glyph);
        item->glyph = nullptr;
        display->dirty = 1;
    }
    // The frame went with the glyph: never blit it again.
    item->glyphFrame = nullptr;
    return 0;
}

SDL_Surface *screenCreateSurface565(int width, int height) {
    SDL_Surface *surface = SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, RGB565_BITS,
                                                RGB565_RED, RGB565_GREEN, RGB565_BLUE, 0);
    if (surface != nullptr) {
        SDL_SetColorKey(surface, SDL_SRCCOLORKEY, 0);
    }
    return surface;
}

void *screenAllocGlyphFrame(uint32_t width, uint32_t height, uint16_t *pitch, uint16_t *background,
                            uint16_t **pixels) {
    SDL_Surface *frame = screenCreateSurface565(static_cast<int>(width), static_cast<int>(height));
    if (frame == nullptr) {
        return nullptr;
    }
    *pitch = static_cast<uint16_t>(frame->pitch / sizeof(uint16_t));
    *background = 0;
    *pixels = static_cast<uint16_t *>(frame->pixels);
    return frame;
}

void screenReleaseGlyphFrame(void *frame) {
    SDL_FreeSurface(static_cast<SDL_Surface *>(frame));
}
