// Screen engine: retained-mode screens on SDL 1.2.
//
// A screen is a static table of items (bitmaps from PNG files, text lines in
// TrueType fonts, glyphs from the glyph file) ending with an end item. One
// screen is current; its items are loaded (images, fonts and glyphs open)
// while it is current. Pages never draw pixels: they change items through the
// operations below, and a render pass refreshes the texts through their
// update functions, runs the blink timers, and redraws and flips the whole
// frame only when something changed (the dirty flag). A caller that knows
// that nothing the texts show has changed renders without the refresh.
//
// Screen tables are written with the item builders at the end of this file:
//
//   ScreenItem testScreenExample[] = {
//       screenBitmap(0, 0, nullptr, "./images/Setup/bkg.png"),
//       screenText(4, 30, nullptr, drawMainScrTime, "./fonts/arialbd.ttf", 14, 0x3D3D3D),
//       screenBitmap(72, 24, &m_PermanentHold, "./images/Main/Main-Icon-PermanentHold.png"),
//       screenEnd(),
//   };
//
// Text update functions receive the item's buffer of SCREEN_TEXT_LEN (40)
// characters and must write at most that many, terminator included
// (snprintf(buffer, SCREEN_TEXT_LEN, ...)); the engine terminates the buffer
// after every call, so a text is at most 39 characters long.
//
// Messages, one line each on standard output: "error initializing sdl (%s)",
// "error opening brightness control (%s)", "failed loading image %s",
// "failed converting image %s", "failed loading font%s", "failed loading
// glyph %d". A missing image, font or glyph never stops anything: its item
// is simply not drawn. A missing image or font file is reported once, and
// again only after it has loaded in between, not at every load.
#pragma once

#include "core/util.h"
#include "graphics/abf.h"

#include <array>
#include <cstdint>

struct SDL_Surface;
struct _TTF_Font;

constexpr uint32_t SCREEN_TEXT_LEN = 40;

// Nominal panel values kept in the display context.
constexpr uint32_t SCREEN_NOMINAL_WIDTH = 240;
constexpr uint32_t SCREEN_NOMINAL_HEIGHT = 320;
constexpr uint32_t SCREEN_NOMINAL_DEPTH = 24;
constexpr uint32_t SCREEN_NOMINAL_FLAGS = 0x40000000u;

// The glyph file every display opens.
constexpr const char *SCREEN_GLYPH_FILE = "images/zeph.glyph";

enum ScreenItemKind : uint32_t {
    SCREEN_ITEM_BITMAP = 0,
    SCREEN_ITEM_TEXT = 1,
    SCREEN_ITEM_GLYPH = 2,
    SCREEN_ITEM_END = 3,
};

struct ScreenItem;

// Refills a text item's buffer (SCREEN_TEXT_LEN characters).
typedef void (*ScreenTextUpdateFn)(char *buffer);
// The same with the item's update index (for example a message line number).
typedef void (*ScreenTextUpdateIndexedFn)(char *buffer, uint32_t index);

struct ScreenItem {
    uint32_t kind;                               // ScreenItemKind
    int16_t x, y;                                // top-left corner, pixels
    uint16_t width, height;                      // from the loaded image, glyph or last text
    ScreenItem **handleSlot;                     // receives the item's address, may be null
    const char *initialText;                     // text items: copied into text on load
    char text[SCREEN_TEXT_LEN];                  // text items: what is drawn
    ScreenTextUpdateFn textUpdate;               // called on every render pass
    ScreenTextUpdateIndexedFn textUpdateIndexed; // used when textUpdate is null
    uint32_t updateIndex;                        // argument of textUpdateIndexed
    const char *fontFile;                        // "./fonts/arialbd.ttf", "./fonts/arial.ttf"
    uint32_t fontSize;                           // points, given to TTF_OpenFont
    _TTF_Font *font;                             // open font while loaded
    char lastText[SCREEN_TEXT_LEN];              // text as of the last change detection
    uint32_t textVisible;                        // 1 drawn, 0 not (compared as a byte)
    UtilTimer textBlinkTimer;
    uint32_t textBlinkPeriod;   // ms, 0 = steady
    uint32_t textColor;         // 0x00RRGGBB
    const char *imageFile;      // bitmap items: PNG path
    uint32_t bitmapBlinkPeriod; // ms, 0 = steady
    uint32_t bitmapVisible;     // 1 drawn, 0 not (compared as a byte)
    UtilTimer bitmapBlinkTimer;
    SDL_Surface *bitmapSurface; // converted image while loaded
    uint16_t glyphId;           // glyph items: number in the glyph file
    AbfGlyph *glyph;            // while loaded
    SDL_Surface *glyphFrame;    // the 16-bit surface the glyph is rendered in
    uint32_t glyphColor;        // 0x00RRGGBB with channels in RGB565 range
    uint32_t loaded;            // 1 while the item's resources are loaded
    uint32_t textBoxColor;      // text items: 0x00RRGGBB of a panel drawn under the text
    uint32_t textBoxed;         // text items: ScreenTextBox, how that panel is drawn
};

// The panel under a text item: none, a frame round the text, or a band across
// the screen from its top edge, as deep again below the text as above it,
// with the text centred in it (a warning that covers the page's head whole).
enum ScreenTextBox : uint32_t {
    SCREEN_TEXT_BOX_NONE = 0,
    SCREEN_TEXT_BOX_FRAME = 1,
    SCREEN_TEXT_BOX_BAND = 2,
};

struct ScreenCursor {
    uint32_t hidden; // 0 shown, 1 hidden
    int16_t x, y;
    uint16_t width, height;
    uint16_t lineWidth; // 0 draws nothing
    uint32_t color;     // packed like glyph colours
    SDL_Surface *surface;
};

struct DisplayContext {
    uint32_t width;  // nominal 240
    uint32_t height; // nominal 320
    uint32_t depth;  // nominal 24
    uint32_t flags;  // nominal 0x40000000
    SDL_Surface *screen;
    ScreenItem *currentScreen;
    AbfHandle *glyphFile;
    int backlightPowerFd; // -1 when not open
    int brightnessFd;     // -1 when not open
    uint32_t dirty;       // a redraw is due
    ScreenCursor cursor;
    uint32_t blinking; // 1 while an item of the current screen may blink
};

typedef DisplayContext *DisplayHandle;

// The one display; screenInit returns its address.
extern DisplayContext g_display;
// The display the pages draw on, or null when the screen did not start (the
// user interface then runs without drawing). Set by the display manager.
extern DisplayHandle g_displayHdl;

// Item handlers, one row per kind 0 (bitmap), 1 (text), 2 (glyph).
typedef int (*ScreenItemOp)(ScreenItem *item, DisplayContext *display);
struct ScreenItemHandler {
    ScreenItemOp render;
    ScreenItemOp load;
    ScreenItemOp unload;
};
extern const ScreenItemHandler screenItemHandlers[3];

// ---- Start-up and shutdown ------------------------------------------------------

// Opens video, backlight, glyph file and fonts; the display handle or null.
DisplayHandle screenInit();
// SDL video mode and backlight files. 0 or -1.
int screenInitVideo(DisplayContext *display);
// Unloads the current screen, closes the backlight and glyph files, quits SDL.
void screenStop(DisplayContext *display);

// ---- Screens ----------------------------------------------------------------------

// Unloads the current screen, loads this one and makes it current. 0, or -1.
int screenSetCurrentScreen(DisplayContext *display, ScreenItem *screen);
// Loads every item of a screen (a failing item stays empty; the rest loads).
void screenLoad(DisplayContext *display, ScreenItem *screen);
// Unloads the items from the given one to the end item.
void screenUnload(DisplayContext *display, ScreenItem *first);
// Stores each item's address into its handle slot without loading anything.
void screenUserHdlInit(ScreenItem *screen);
// One render pass: texts, blinking, and a redraw and flip when dirty.
// Returns 1 when the texts or blinking changed the frame (a text, or an item
// that an update function changed), else 0.
int screenRender(DisplayContext *display);
// The render pass of a caller that knows that no text can have changed since
// the last screenRender: blinking, and a redraw and flip when dirty.
void screenRenderKeepingTexts(DisplayContext *display);

// ---- Item handlers ------------------------------------------------------------------

int screenRenderBitmap(ScreenItem *item, DisplayContext *display);
int screenLoadBitmap(ScreenItem *item, DisplayContext *display);
int screenUnloadBitmap(ScreenItem *item, DisplayContext *display);
int screenRenderText(ScreenItem *item, DisplayContext *display);
int screenLoadText(ScreenItem *item, DisplayContext *display);
int screenUnloadText(ScreenItem *item, DisplayContext *display);
int screenRenderGlyph(ScreenItem *item, DisplayContext *display);
int screenLoadGlyph(ScreenItem *item, DisplayContext *display);
int screenUnloadGlyph(ScreenItem *item, DisplayContext *display);

// ---- Item changes (-1 for a null display or item; dirty set on a change) ------------

int screenSetBitmapVisibility(DisplayContext *display, ScreenItem *item, uint8_t visible);
int screenSetTextVisibility(DisplayContext *display, ScreenItem *item, uint8_t visible);
// The text of a text item, the picture of any other.
int screenSetItemVisibility(DisplayContext *display, ScreenItem *item, uint8_t visible);
// Text items only; 0 without change when the colour is the same.
int screenUpdateTextColor(DisplayContext *display, ScreenItem *item, uint32_t color);
// Text items only; a new period restarts the blinking with the text shown.
int screenSetTextBlinkRate(DisplayContext *display, ScreenItem *item, uint32_t periodMs);
// Bitmap items only; likewise.
int screenSetBitmapBlinkRate(DisplayContext *display, ScreenItem *item, uint32_t periodMs);
// Glyph items only: stores the colour and renders the glyph again.
int screenUpdateGlyphColor(DisplayContext *display, ScreenItem *item, uint32_t color);
// Shows another image (the path must stay valid: it is stored, not copied).
// -1 when the path is null or the one already shown.
int screenReplaceBitmap(DisplayContext *display, ScreenItem *item, const char *path);
// Another image at another place; -1 when both are unchanged and the item is loaded.
int screenReplaceAndMoveBitmap(DisplayContext *display, ScreenItem *item, const char *path,
                               int16_t x, int16_t y);
// Takes the bitmap off the screen (frees its surface); -1 when not loaded.
int screenRemoveBitmap(DisplayContext *display, ScreenItem *item);
// Puts a removed bitmap back; -1 when already loaded.
int screenAddBitmap(DisplayContext *display, ScreenItem *item);
int screenMoveBitmap(DisplayContext *display, ScreenItem *item, int16_t x, int16_t y);
// -1 when the position is unchanged.
int screenMoveText(DisplayContext *display, ScreenItem *item, int16_t x, int16_t y);
// Closes the text's font: the text is no longer drawn.
int screenRemoveText(DisplayContext *display, ScreenItem *item);
// -1 when the size is unchanged.
int screenChangeFontSizeText(DisplayContext *display, ScreenItem *item, uint32_t size);
int screenReplaceGlyph(DisplayContext *display, ScreenItem *item, uint16_t glyphId, uint32_t color);

// ---- Lookups in the current screen --------------------------------------------------------

ScreenItem *screenTextIndexToItem(DisplayContext *display, uint32_t n);
ScreenItem *screenBitmapIndexToItem(DisplayContext *display, uint32_t n);
ScreenItem *screenGlyphIndexToItem(DisplayContext *display, uint32_t n);
ScreenItem *screenGlyphIDToItem(DisplayContext *display, uint16_t glyphId);
// Position (x << 16 | y) and size (width << 16 | height) as packed words. 0 or -1.
int screenItemGetDimensions(const ScreenItem *item, uint32_t *position, uint32_t *size);

// ---- Text measurement ---------------------------------------------------------------------------

// TTF_SizeText's result (0 or -1) for the text in that font; -1 when the font cannot be opened.
int screenGetTextWidthHeight(const char *fontFile, uint32_t size, const char *text, int *width,
                             int *height);
// Closes the font that measuring keeps open (screenStop does it).
void screenCloseMeasureFont();

// ---- Cursor -------------------------------------------------------------------------------------

int screenSetCursor(DisplayContext *display, int16_t x, int16_t y, uint16_t width, uint16_t height,
                    uint16_t lineWidth, uint32_t hidden, uint32_t color);
int screenMoveCursor(DisplayContext *display, int16_t x, int16_t y);
int screenHideCursor(DisplayContext *display);
int screenUnhideCursor(DisplayContext *display);

// ---- Backlight ----------------------------------------------------------------------------------

// Backlight levels written to the brightness file: the active ones by the
// setting "Low", "Med", "High", and the inactive "Dim" and "Off".
constexpr std::array<int, 3> c_BacklightActiveLevels = {15, 45, 255};
constexpr int DISPMAN_LEVEL_DIM = 12;
constexpr int DISPMAN_LEVEL_OFF = 0;
// What a level written to the brightness file means: "off", "dim", "on,
// low", "on, medium", "on, high", or null for another level.
constexpr const char *backlightLevelName(int level) {
    constexpr std::array<const char *, 3> active = {"on, low", "on, medium", "on, high"};
    for (size_t i = 0; i < c_BacklightActiveLevels.size(); i++) {
        if (level == c_BacklightActiveLevels[i]) {
            return active[i];
        }
    }
    return level == DISPMAN_LEVEL_DIM ? "dim" : level == DISPMAN_LEVEL_OFF ? "off" : nullptr;
}
// Writes "%d\n" to the brightness file.
int screenSetBacklightLevel(DisplayContext *display, int level);
// Writes "0\n" (powered) when on is non-zero, "1\n" otherwise, to bl_power.
int screenSetPower(DisplayContext *display, int on);

// ---- Timers and colours -------------------------------------------------------------------------

void screenSetExpiration(UtilTimer *timer, uint32_t ms);
int screenCheckExpiration(const UtilTimer *timer);
// 0x00RRGGBB with channels already in RGB565 range -> RGB565.
constexpr uint16_t screenColorTo565(uint32_t color) {
    return static_cast<uint16_t>((((color >> 16) & 0x1F) << 11) | (((color >> 8) & 0x3F) << 5) |
                                 (color & 0x1F));
}

// The 8-bit channels of a text colour 0x00RRGGBB, as given to SDL_ttf.
constexpr void screenSplitColor(uint32_t color, uint8_t *r, uint8_t *g, uint8_t *b) {
    *r = static_cast<uint8_t>(color >> 16);
    *g = static_cast<uint8_t>(color >> 8);
    *b = static_cast<uint8_t>(color);
}

// The pixel value glyphs and the cursor are drawn with: as screenColorTo565,
// except that black becomes 0x0001, since 0 is the frames' transparent colour
// key and black ink would vanish.
constexpr uint16_t screenInk565(uint32_t color) {
    return screenColorTo565(color) == 0 ? 1 : screenColorTo565(color);
}

// ---- Glyph frames (the allocator given to the glyph reader) -------------------------------------

void *screenAllocGlyphFrame(uint32_t width, uint32_t height, uint16_t *pitch, uint16_t *background,
                            uint16_t **pixels);

// The RGB565 surfaces of glyph frames and the cursor: 16 bits per pixel,
// colour key 0, so that pixels left at 0 are transparent.
constexpr int RGB565_BITS = 16;
constexpr uint32_t RGB565_RED = 0xF800;
constexpr uint32_t RGB565_GREEN = 0x07E0;
constexpr uint32_t RGB565_BLUE = 0x001F;
SDL_Surface *screenCreateSurface565(int width, int height);
void screenReleaseGlyphFrame(void *frame);

// ---- Item builders for screen tables ------------------------------------------------------------

constexpr ScreenItem screenBitmap(int16_t x, int16_t y, ScreenItem **slot, const char *image) {
    ScreenItem item{};
    item.kind = SCREEN_ITEM_BITMAP;
    item.x = x;
    item.y = y;
    item.handleSlot = slot;
    item.imageFile = image;
    item.bitmapVisible = 1;
    item.textVisible = 1;
    return item;
}

constexpr ScreenItem screenText(int16_t x, int16_t y, ScreenItem **slot, ScreenTextUpdateFn update,
                                const char *font, uint32_t size, uint32_t color) {
    ScreenItem item{};
    item.kind = SCREEN_ITEM_TEXT;
    item.x = x;
    item.y = y;
    item.handleSlot = slot;
    item.textUpdate = update;
    item.fontFile = font;
    item.fontSize = size;
    item.textColor = color;
    item.textVisible = 1;
    item.bitmapVisible = 1;
    return item;
}

constexpr ScreenItem screenTextIndexed(int16_t x, int16_t y, ScreenItem **slot,
                                       ScreenTextUpdateIndexedFn update, uint32_t index,
                                       const char *font, uint32_t size, uint32_t color) {
    ScreenItem item = screenText(x, y, slot, nullptr, font, size, color);
    item.textUpdateIndexed = update;
    item.updateIndex = index;
    return item;
}

// A text item drawn on a panel of boxColor framed in its own colour, so that
// it stands out over whatever lies beneath (a warning over a page).
constexpr ScreenItem screenTextBoxed(int16_t x, int16_t y, ScreenItem **slot,
                                     ScreenTextUpdateFn update, const char *font, uint32_t size,
                                     uint32_t color, uint32_t boxColor) {
    ScreenItem item = screenText(x, y, slot, update, font, size, color);
    item.textBoxColor = boxColor;
    item.textBoxed = SCREEN_TEXT_BOX_FRAME;
    return item;
}

// The same on a band across the top of the screen (SCREEN_TEXT_BOX_BAND);
// the text is centred, x is unused.
constexpr ScreenItem screenTextBanner(int16_t y, ScreenItem **slot, ScreenTextUpdateFn update,
                                      const char *font, uint32_t size, uint32_t color,
                                      uint32_t boxColor) {
    ScreenItem item = screenTextBoxed(0, y, slot, update, font, size, color, boxColor);
    item.textBoxed = SCREEN_TEXT_BOX_BAND;
    return item;
}

// A text item with a fixed text and no update function.
constexpr ScreenItem screenLabel(int16_t x, int16_t y, ScreenItem **slot, const char *text,
                                 const char *font, uint32_t size, uint32_t color) {
    ScreenItem item = screenText(x, y, slot, nullptr, font, size, color);
    item.initialText = text;
    return item;
}

constexpr ScreenItem screenGlyph(int16_t x, int16_t y, ScreenItem **slot, uint16_t glyphId,
                                 uint32_t color) {
    ScreenItem item{};
    item.kind = SCREEN_ITEM_GLYPH;
    item.x = x;
    item.y = y;
    item.handleSlot = slot;
    item.glyphId = glyphId;
    item.glyphColor = color;
    item.textVisible = 1;
    item.bitmapVisible = 1;
    return item;
}

constexpr ScreenItem screenEnd() {
    ScreenItem item{};
    item.kind = SCREEN_ITEM_END;
    return item;
}
