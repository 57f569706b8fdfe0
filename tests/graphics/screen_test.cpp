// The screen engine, headless: start-up, loading rules, the render pass and
// its dirty tracking, blinking, item operations, the cursor and the backlight.
#include "alloc_counter.h"
#include "display_fixture.h"
#include "platform/platform.h"
#include "printed.h"

#include <SDL.h>

#include <cstring>
#include <filesystem>
#include <list>
#include <utility>
#include <vector>

namespace {

constexpr const char *BOLD = "./fonts/arialbd.ttf";
constexpr const char *BKGD = "./images/Setup/bkg.png";
constexpr const char *FAN = "./images/Main/Main-Icon-Fan.png";
constexpr const char *HEAT = "./images/Main/Main-Icon-Heat.png";

char g_text[SCREEN_TEXT_LEN] = "12:00";
int g_updates = 0;

void textUpdate(char *buffer) {
    g_updates++;
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", g_text);
}

// Writes all 40 characters without a terminator, as a careless update might.
void fullBuffer(char *buffer) {
    memset(buffer, 'x', SCREEN_TEXT_LEN);
}

uint16_t pixel16(SDL_Surface *s, int x, int y) {
    return static_cast<const uint16_t *>(s->pixels)[y * s->pitch / 2 + x];
}

// Pixels of a colour in a rectangle of a surface.
int pixelsOf(SDL_Surface *s, uint16_t colour, int x0, int y0, int w, int h) {
    int n = 0;
    for (int y = y0; y < y0 + h; y++) {
        for (int x = x0; x < x0 + w; x++) {
            n += pixel16(s, x, y) == colour;
        }
    }
    return n;
}

class Screen : public HeadlessDisplay {
  protected:
    DisplayHandle d = nullptr;
    ScreenItem *slot = nullptr;
    // Screens outlive the display, which unloads the current one when it stops.
    std::list<std::vector<ScreenItem>> screens;

    std::vector<ScreenItem> &keep(std::vector<ScreenItem> items) {
        screens.push_back(std::move(items));
        return screens.back();
    }

    void SetUp() override {
        HeadlessDisplay::SetUp();
        g_updates = 0;
        snprintf(g_text, sizeof(g_text), "12:00");
        d = start();
        ASSERT_NE(d, nullptr);
    }
    std::vector<ScreenItem> smallScreen() {
        return {screenBitmap(0, 0, nullptr, BKGD), screenBitmap(10, 60, &slot, FAN),
                screenText(10, 100, nullptr, textUpdate, BOLD, 18, 0xFFFFFF), screenEnd()};
    }
    // Renders and reports what the pass did.
    ScreenRenderCounters pass() {
        ScreenRenderCounters before = screenRenderCounters();
        screenRender(d);
        ScreenRenderCounters after = screenRenderCounters();
        return {after.passes - before.passes, after.fills - before.fills,
                after.blits - before.blits, after.flips - before.flips};
    }
};

TEST_F(Screen, StartUpOpensTheDevicesAndFailsWithoutTheGlyphFile) {
    ASSERT_NE(d->screen, nullptr);
    EXPECT_EQ(d->screen->w, 240);
    EXPECT_EQ(d->screen->h, 320);
    EXPECT_EQ(d->screen->format->BitsPerPixel, 16);
    EXPECT_GE(d->backlightPowerFd, 0);
    EXPECT_NE(d->glyphFile, nullptr);
    screenStop(d);
    EXPECT_EQ(d->brightnessFd, -1);
    EXPECT_EQ(d->glyphFile, nullptr);

    // Without the brightness file (a link in its place is never followed)
    // the display starts; without the glyph file it does not, and keeps
    // nothing open.
    screenReset();
    std::string brightness = root.file("/sys/class/backlight/backlight/brightness");
    root.write("/kept", "kept");
    std::remove(brightness.c_str());
    ASSERT_EQ(symlink("../../../../kept", brightness.c_str()), 0);
    std::string printed;
    d = start(&printed);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(printed, "error opening brightness control (Too many levels of symbolic links)\n");
    EXPECT_EQ(screenSetBacklightLevel(d, 45), 0);
    EXPECT_EQ(root.read("/kept"), "kept");
    screenReset();
    ASSERT_EQ(chdir(root.path().c_str()), 0);
    EXPECT_EQ(start(&printed), nullptr);
    EXPECT_NE(printed.find("couldn't open abf file images/zeph.glyph\n"), std::string::npos);
    EXPECT_EQ(g_display.backlightPowerFd, -1);
    EXPECT_EQ(g_display.screen, nullptr);
    EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
}

TEST_F(Screen, ACleanPassDrawsNothingAndAChangedCharacterRedraws) {
    std::vector<ScreenItem> &s = keep(smallScreen());
    ASSERT_EQ(screenSetCurrentScreen(d, s.data()), 0);
    ScreenRenderCounters first = pass();
    EXPECT_EQ(first.fills + first.flips + first.blits, 5u);
    ScreenRenderCounters clean = pass();
    EXPECT_EQ(clean.passes, 1u);
    EXPECT_EQ(clean.fills + clean.blits + clean.flips, 0u);
    EXPECT_EQ(g_updates, 2); // the update function runs on every pass

    // A pass that keeps the texts calls no update function.
    snprintf(g_text, sizeof(g_text), "12:01");
    screenRenderKeepingTexts(d);
    EXPECT_EQ(g_updates, 2);
    EXPECT_EQ(screenRenderCounters().flips, first.flips);
    ScreenRenderCounters before = screenRenderCounters();
    EXPECT_EQ(screenRender(d), 1); // the text changed
    EXPECT_EQ(screenRenderCounters().flips, before.flips + 1);
    EXPECT_STREQ(s[2].lastText, "12:01");
    EXPECT_EQ(screenRender(d), 0);
    EXPECT_EQ(pass().flips, 0u);

    // No current screen, no display: nothing happens.
    screenSetCurrentScreen(d, nullptr);
    EXPECT_EQ(pass().passes, 0u);
    screenRender(nullptr);
}

TEST_F(Screen, ACleanPassDoesNotAllocate) {
    std::vector<ScreenItem> &s = keep(smallScreen());
    screenSetCurrentScreen(d, s.data());
    screenRender(d);
    allocCounterStart();
    for (int i = 0; i < 50; i++) {
        screenRender(d);
    }
    EXPECT_EQ(allocCounterStop(), 0u);
}

TEST_F(Screen, TextsAndBitmapsBlinkAndStoppingShowsThemSteadily) {
    platformFakeClockSet(1000, 0, 1700000000);
    std::vector<ScreenItem> &s = keep(smallScreen());
    screenSetCurrentScreen(d, s.data());
    pass();
    EXPECT_EQ(screenSetTextBlinkRate(d, &s[2], 500), 0);
    EXPECT_EQ(pass().flips, 1u); // the change of rate itself
    // Passes that keep the texts blink them all the same.
    for (int phase = 0; phase < 4; phase++) {
        auto render = [&] {
            if (phase % 2 == 0) {
                screenRender(d);
            } else {
                screenRenderKeepingTexts(d);
            }
        };
        uint32_t flips = screenRenderCounters().flips;
        platformFakeClockAdvanceMs(499);
        render();
        EXPECT_EQ(screenRenderCounters().flips, flips) << phase;
        platformFakeClockAdvanceMs(1);
        render();
        EXPECT_EQ(screenRenderCounters().flips, flips + 1) << phase;
        EXPECT_EQ(s[2].textVisible, phase % 2 == 0 ? 0u : 1u) << phase;
    }
    // Stopping the blink shows the text steadily.
    platformFakeClockAdvanceMs(500);
    pass();
    EXPECT_EQ(s[2].textVisible, 0u);
    screenSetTextBlinkRate(d, &s[2], 0);
    EXPECT_EQ(s[2].textVisible, 1u);
    EXPECT_EQ(screenSetTextBlinkRate(d, &s[0], 500), -1); // not a text

    // A blinking bitmap is taken off (and unloaded) in its off phase.
    ASSERT_EQ(screenSetBitmapBlinkRate(d, &s[1], 300), 0);
    platformFakeClockAdvanceMs(300);
    EXPECT_EQ(pass().flips, 1u);
    EXPECT_EQ(s[1].bitmapSurface, nullptr);
    EXPECT_EQ(s[1].loaded, 0u);
    // Blinking stopped in the off phase: the bitmap is visible and loaded again.
    screenSetBitmapBlinkRate(d, &s[1], 0);
    EXPECT_NE(s[1].bitmapSurface, nullptr);
    EXPECT_EQ(s[1].bitmapVisible, 1u);
}

TEST_F(Screen, ReplacingABitmapWithTheSamePathDoesNotReload) {
    std::vector<ScreenItem> &s = keep(smallScreen());
    screenSetCurrentScreen(d, s.data());
    pass();
    SDL_Surface *before = s[1].bitmapSurface;
    std::string samePath = FAN; // another pointer, the same text
    EXPECT_EQ(screenReplaceBitmap(d, &s[1], samePath.c_str()), -1);
    EXPECT_EQ(s[1].bitmapSurface, before);
    EXPECT_EQ(pass().flips, 0u);
    EXPECT_EQ(screenReplaceBitmap(d, &s[1], nullptr), -1);
    EXPECT_EQ(screenReplaceBitmap(d, &s[1], "./images/Main/Main-Icon-Auxilary.png"), 0);
    EXPECT_EQ(s[1].width, 36);
    EXPECT_EQ(pass().flips, 1u);
}

TEST_F(Screen, AMissingImageLeavesOnlyItsItemEmpty) {
    std::vector<ScreenItem> &s = keep(
        {screenBitmap(0, 0, nullptr, BKGD), screenBitmap(10, 10, nullptr, FAN),
         screenBitmap(40, 10, nullptr, "./images/no-such.png"), screenBitmap(70, 10, nullptr, HEAT),
         screenText(10, 100, nullptr, textUpdate, BOLD, 18, 0xFFFFFF), screenEnd()});
    EXPECT_EQ(printedBy([&] { screenSetCurrentScreen(d, s.data()); }),
              "failed loading image ./images/no-such.png\n");
    EXPECT_EQ(s[2].bitmapSurface, nullptr);
    EXPECT_EQ(pass().blits, 4u);

    // A failing replacement later on keeps the rest of the screen loaded.
    EXPECT_EQ(printedBy([&] {
                  EXPECT_EQ(screenReplaceBitmap(d, &s[1], "./images/also-missing.png"), -1);
              }),
              "failed loading image ./images/also-missing.png\n");
    EXPECT_EQ(s[1].bitmapSurface, nullptr);
    EXPECT_NE(s[3].bitmapSurface, nullptr);
    EXPECT_NE(s[4].font, nullptr);

    // A missing font is reported with the design's wording.
    std::vector<ScreenItem> &f =
        keep({screenText(0, 0, nullptr, textUpdate, "./fonts/none.ttf", 12, 0), screenEnd()});
    EXPECT_EQ(printedBy([&] { screenSetCurrentScreen(d, f.data()); }),
              "failed loading font./fonts/none.ttf\n");
    pass();
}

TEST_F(Screen, AMissingAssetIsReportedOnceUntilItIsFoundAndLost) {
    const std::string path = ::testing::TempDir() + "screen-test-asset.png";
    const std::string font = ::testing::TempDir() + "screen-test-none.ttf";
    std::filesystem::remove(path);
    std::vector<ScreenItem> &s =
        keep({screenBitmap(0, 0, nullptr, path.c_str()),
              screenText(0, 40, nullptr, textUpdate, font.c_str(), 12, 0), screenEnd()});
    std::vector<ScreenItem> &other = keep(smallScreen());
    const std::string missing =
        "failed loading image " + path + "\nfailed loading font" + font + "\n";
    // Each time the screen is shown again its items load again; the font
    // never comes.
    const std::pair<bool, std::string> shows[] = {
        {false, missing}, {false, ""}, {true, ""}, {false, "failed loading image " + path + "\n"},
        {false, ""},
    };
    for (const auto &[present, printed] : shows) {
        std::filesystem::remove(path);
        if (present) {
            std::filesystem::copy_file(FAN, path);
        }
        screenSetCurrentScreen(d, other.data());
        EXPECT_EQ(printedBy([&] { screenSetCurrentScreen(d, s.data()); }), printed);
    }
    std::filesystem::remove(path);
}

TEST_F(Screen, LongTextsAreCutToTheirBuffer) {
    const char *longText = "This initial text is far longer than the forty characters";
    std::vector<ScreenItem> &s =
        keep({screenLabel(0, 0, nullptr, longText, BOLD, 12, 0xFFFFFF),
              screenText(0, 20, nullptr, fullBuffer, BOLD, 12, 0xFFFFFF), screenEnd()});
    screenSetCurrentScreen(d, s.data());
    EXPECT_EQ(strlen(s[0].text), 39u);
    EXPECT_EQ(strncmp(s[0].text, longText, 39), 0);
    pass();
    EXPECT_EQ(strlen(s[1].text), 39u);
    EXPECT_EQ(strlen(s[1].lastText), 39u);
    // Measured again at another size of the same font.
    int small = 0, large = 0, height = 0;
    ASSERT_EQ(screenGetTextWidthHeight(BOLD, 12, longText, &small, &height), 0);
    ASSERT_EQ(screenGetTextWidthHeight(BOLD, 24, longText, &large, &height), 0);
    EXPECT_GT(large, small);
}

TEST_F(Screen, ItemOperationsCheckTheirArgumentsAndMarkOnlyChanges) {
    std::vector<ScreenItem> &s =
        keep({screenBitmap(0, 0, nullptr, BKGD), screenBitmap(10, 10, nullptr, FAN),
              screenText(10, 100, nullptr, textUpdate, BOLD, 18, 0xFFFFFF),
              screenGlyph(100, 100, nullptr, '7', 0xFFFF00),
              screenGlyph(130, 100, nullptr, '8', 0x1F0000), screenEnd()});
    screenSetCurrentScreen(d, s.data());
    pass();
    EXPECT_EQ(screenSetBitmapVisibility(nullptr, &s[1], 0), -1);
    EXPECT_EQ(screenSetBitmapVisibility(d, nullptr, 0), -1);
    EXPECT_EQ(screenSetBitmapVisibility(d, &s[1], 1), 0);
    EXPECT_EQ(screenUpdateTextColor(d, &s[2], 0xFFFFFF), 0);
    EXPECT_EQ(screenUpdateTextColor(d, &s[1], 0xFF0000), -1); // not a text
    EXPECT_EQ(pass().flips, 0u);                              // nothing changed
    EXPECT_EQ(screenSetTextVisibility(d, &s[2], 0), 0);
    EXPECT_EQ(pass().blits, 4u);
    screenSetTextVisibility(d, &s[2], 1);
    EXPECT_EQ(screenRemoveBitmap(d, &s[1]), 0);
    EXPECT_EQ(screenRemoveBitmap(d, &s[1]), -1);
    EXPECT_EQ(pass().blits, 4u);
    EXPECT_EQ(screenAddBitmap(d, &s[1]), 0);
    EXPECT_EQ(screenAddBitmap(d, &s[1]), -1);
    EXPECT_EQ(screenReplaceAndMoveBitmap(d, &s[1], FAN, 10, 10), -1);
    EXPECT_EQ(screenReplaceAndMoveBitmap(d, &s[1], HEAT, 50, 60), 0);
    EXPECT_EQ(screenMoveText(d, &s[2], 10, 100), -1);
    EXPECT_EQ(screenChangeFontSizeText(d, &s[2], 18), -1);
    EXPECT_EQ(screenChangeFontSizeText(d, &s[2], 40), 0);
    pass();
    EXPECT_GT(s[2].height, 40);
    EXPECT_EQ(screenRemoveText(d, &s[2]), 0);
    EXPECT_EQ(s[2].font, nullptr);

    // Lookups count items of one kind in the current screen.
    EXPECT_EQ(screenBitmapIndexToItem(d, 1), &s[1]);
    EXPECT_EQ(screenBitmapIndexToItem(d, 2), nullptr);
    EXPECT_EQ(screenTextIndexToItem(d, 0), &s[2]);
    EXPECT_EQ(screenGlyphIndexToItem(d, 1), &s[4]);
    EXPECT_EQ(screenGlyphIDToItem(d, '8'), &s[4]);
    EXPECT_EQ(screenGlyphIDToItem(d, '9'), nullptr);
    uint32_t position = 0;
    uint32_t size = 0;
    ASSERT_EQ(screenItemGetDimensions(&s[1], &position, &size), 0);
    EXPECT_EQ(position, (50u << 16) | 60u);

    // Glyphs: recolouring leaves no pixel of the old colour; a new glyph replaces the frame.
    EXPECT_EQ(screenUpdateGlyphColor(d, &s[2], 1), -1);
    EXPECT_EQ(screenUpdateGlyphColor(d, &s[3], 0x00003F00), 0);
    SDL_Surface *f = s[3].glyphFrame;
    EXPECT_EQ(pixelsOf(f, 0xFFE0, 0, 0, f->w, f->h), 0);
    EXPECT_GT(pixelsOf(f, 0x07E0, 0, 0, f->w, f->h), 10);
    EXPECT_EQ(screenReplaceGlyph(d, &s[3], 128, 0x1F0000), 0);
    EXPECT_EQ(s[3].width, 15);
    EXPECT_EQ(pass().flips, 1u);
}

TEST_F(Screen, CursorIsAHollowFrameOfItsLineWidth) {
    screenSetCurrentScreen(d, keep(smallScreen()).data());
    // Widths 2, 0 (nothing drawn) and one wider than the box (filled, no more).
    for (int width : {2, 0, 500}) {
        ASSERT_EQ(screenSetCursor(d, 5, 6, 10, 8, width, 0, 0xFFFF00), 0);
        SDL_Surface *c = d->cursor.surface;
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(c->w, 10);
        for (int y = 0; y < 8; y++) {
            for (int x = 0; x < 10; x++) {
                bool frame =
                    width > 0 && (x < width || x >= 10 - width || y < width || y >= 8 - width);
                EXPECT_EQ(pixel16(c, x, y), frame ? 0xFFE0 : 0) << width << ": " << x << "," << y;
            }
        }
    }
    // Hiding and showing mark the display only when they change something.
    pass();
    EXPECT_EQ(screenUnhideCursor(d), 0);
    EXPECT_EQ(d->dirty, 0u);
    EXPECT_EQ(screenHideCursor(d), 0);
    EXPECT_EQ(d->dirty, 1u);
    EXPECT_EQ(screenSetCursor(nullptr, 0, 0, 1, 1, 1, 0, 0), -1);
}

TEST_F(Screen, BacklightWritesReplaceTheFiles) {
    EXPECT_EQ(screenSetBacklightLevel(d, 255), 0);
    EXPECT_EQ(root.read("/sys/class/backlight/backlight/brightness"), "255\n");
    EXPECT_EQ(screenSetBacklightLevel(d, 12), 0);
    EXPECT_EQ(root.read("/sys/class/backlight/backlight/brightness"), "12\n");
    EXPECT_EQ(screenSetPower(d, 0), 0);
    EXPECT_EQ(root.read("/sys/class/backlight/backlight/bl_power"), "1\n");
    EXPECT_EQ(screenSetPower(d, 1), 0);
    EXPECT_EQ(root.read("/sys/class/backlight/backlight/bl_power"), "0\n");
}

} // namespace
