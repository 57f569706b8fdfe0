// Demonstration screens of the graphics engine.
#include "demo_screens.h"

#include <cstdio>

namespace {

constexpr const char *BOLD = "./fonts/arialbd.ttf";
constexpr const char *REGULAR = "./fonts/arial.ttf";
constexpr uint32_t CLOCK_COLOR = 0x3D3D3D;
constexpr uint32_t WHITE = 0xFFFFFF;
constexpr uint32_t GREEN = 0x00FF00;

template <const char *TEXT> void fixed(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", TEXT);
}

void clockText(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", g_demoClock);
}

constexpr char kDate[] = "03-14-25";
constexpr char kEmpty[] = "";

constexpr ScreenItem B(int16_t x, int16_t y, const char *path) {
    return screenBitmap(x, y, nullptr, path);
}

constexpr ScreenItem T(int16_t x, int16_t y, ScreenTextUpdateFn fn, const char *font, uint32_t size,
                       uint32_t color) {
    return screenText(x, y, nullptr, fn, font, size, color);
}

constexpr ScreenItem L(int16_t x, int16_t y, const char *text, const char *font, uint32_t size,
                       uint32_t color) {
    return screenLabel(x, y, nullptr, text, font, size, color);
}

#define DAY_BAR(y0)                                                                                \
    B(0, 0, "./images/SharedComposite/DayBar-OFF.png"),                                            \
        B(0, 0, "./images/SharedComposite/Days-01-Graphic-Sunday-ON.png"),                         \
        B(34, 0, "./images/SharedComposite/Days-02-Graphic-Monday-ON.png"),                        \
        B(69, 0, "./images/SharedComposite/Days-03-Graphic-Tuesday-ON.png"),                       \
        B(103, 0, "./images/SharedComposite/Days-04-Graphic-Wednesday-ON.png"),                    \
        B(138, 0, "./images/SharedComposite/Days-05-Graphic-Thursday-ON.png"),                     \
        B(173, 0, "./images/SharedComposite/Days-06-Graphic-Friday-ON.png"),                       \
        B(207, 0, "./images/SharedComposite/Days-07-Graphic-Saturday-ON.png")

#define CLOCK                                                                                      \
    T(4, 30, clockText, BOLD, 14, CLOCK_COLOR), T(175, 30, fixed<kDate>, BOLD, 14, CLOCK_COLOR)

#define UNDERVOLTAGE T(20, 110, fixed<kEmpty>, REGULAR, 32, 0xF00000)

} // namespace

char g_demoClock[16] = "10:24 am";

// One item of each kind: bitmaps, texts and glyphs from the glyph file.
ScreenItem demoKinds[] = {
    B(0, 0, "./images/Setup/bkg.png"),
    DAY_BAR(0),
    CLOCK,
    B(0, 50, "./images/Setup/page_hdr.png"),
    L(10, 56, "Bitmaps, texts and glyphs", BOLD, 15, WHITE),
    B(10, 96, "./images/Main/Main-Icon-Heat.png"),
    B(40, 96, "./images/Main/Main-Icon-Cool.png"),
    B(70, 96, "./images/Main/Main-Icon-Fan.png"),
    L(10, 130, "Liberation Sans 16", REGULAR, 16, WHITE),
    L(10, 152, "Liberation Sans Bold 16", BOLD, 16, GREEN),
    screenGlyph(10, 180, nullptr, '7', 0xFFFF00),
    screenGlyph(26, 180, nullptr, '2', 0xFFFF00),
    screenGlyph(42, 180, nullptr, 176, 0xFFFF00),
    screenGlyph(60, 180, nullptr, 'F', 0xFFFF00),
    screenGlyph(100, 190, nullptr, 128, 0x00FF1F),
    screenGlyph(100, 204, nullptr, 129, 0x1F0000),
    screenGlyph(130, 192, nullptr, 130, 0x1F3F1F),
    screenGlyph(146, 192, nullptr, 131, 0x1F3F1F),
    UNDERVOLTAGE,
    screenEnd(),
};

namespace {

// The day bar shows today only (Friday in the demo).
void onlyToday(DisplayContext *display, ScreenItem *items, int sunday) {
    for (int d = 0; d < 7; d++) {
        screenSetBitmapVisibility(display, &items[sunday + d], d == 5 ? 1 : 0);
    }
}

void prepareKinds(DisplayContext *display) {
    onlyToday(display, demoKinds, 2);
}

const DemoScreen c_DemoScreens[] = {
    {"item-kinds", demoKinds, prepareKinds},
};

} // namespace

const DemoScreen *demoScreens(size_t *count) {
    *count = sizeof(c_DemoScreens) / sizeof(c_DemoScreens[0]);
    return c_DemoScreens;
}
