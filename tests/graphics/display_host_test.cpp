// The host flavour's display: sim/screen.png after flips, at most ten per
// second with the last frame never lost, sim/page, and window keys as key
// records.
#include "display_fixture.h"

#include <SDL.h>
#include <cairo.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

namespace {

// The colour of a pixel of a PNG file, 0xRRGGBB, or -1 when it cannot be read.
long pngPixel(const std::string &path, int x, int y) {
    cairo_surface_t *s = cairo_image_surface_create_from_png(path.c_str());
    long result = -1;
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS) {
        const unsigned char *data = cairo_image_surface_get_data(s);
        int stride = cairo_image_surface_get_stride(s);
        uint32_t pixel;
        memcpy(&pixel, data + y * stride + x * 4, sizeof(pixel));
        result = pixel & 0xFFFFFF;
    }
    cairo_surface_destroy(s);
    return result;
}

class HostDisplay : public HeadlessDisplay {
  protected:
    SDL_Surface *screen = nullptr;
    void SetUp() override {
        HeadlessDisplay::SetUp();
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
        screen = SDL_SetVideoMode(240, 320, 16, SDL_SWSURFACE);
        ASSERT_NE(screen, nullptr);
        platformDisplayStart(screen);
        platformFakeClockSet(1000, 0, 1700000000);
    }
    void TearDown() override {
        platformDisplayReset();
        SDL_Quit();
        HeadlessDisplay::TearDown();
    }
    void fill(Uint8 r, Uint8 g, Uint8 b) {
        SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, r, g, b));
        SDL_Flip(screen);
        platformDisplayFlipped();
    }
    std::string screenPng() { return root.file("/sim/screen.png"); }
};

TEST_F(HostDisplay, FramesArePublishedAtMostTenTimesASecondAndTheLastIsKept) {
    fill(255, 0, 0);
    EXPECT_EQ(platformDisplayPublishedFrames(), 1u);
    EXPECT_EQ(pngPixel(screenPng(), 10, 10), 0xFF0000);
    struct stat st {};
    EXPECT_NE(stat((screenPng() + ".tmp").c_str(), &st), 0);

    // Flipped again at once: held back, not lost.
    fill(0, 0, 255);
    platformDisplayPoll();
    EXPECT_EQ(platformDisplayPublishedFrames(), 1u);
    EXPECT_EQ(pngPixel(screenPng(), 10, 10), 0xFF0000);
    platformFakeClockAdvanceMs(99);
    platformDisplayPoll();
    EXPECT_EQ(platformDisplayPublishedFrames(), 1u);
    platformFakeClockAdvanceMs(1);
    platformDisplayPoll();
    EXPECT_EQ(platformDisplayPublishedFrames(), 2u);
    EXPECT_EQ(pngPixel(screenPng(), 10, 10), 0x0000FF);

    // A frame still waiting when the display stops is published then.
    fill(0, 255, 0);
    EXPECT_EQ(platformDisplayPublishedFrames(), 2u);
    platformDisplayStop();
    EXPECT_EQ(platformDisplayPublishedFrames(), 3u);
    EXPECT_EQ(pngPixel(screenPng(), 10, 10), 0x00FF00);
    EXPECT_EQ(pngPixel(screenPng(), 239, 319), 0x00FF00);

    // Nothing to publish without a surface.
    platformDisplayFlipped();
    EXPECT_EQ(platformDisplayPublishedFrames(), 3u);
    EXPECT_EQ(platformDisplaySnapshot(root.file("/snap.png").c_str()), -1);
}

TEST_F(HostDisplay, ThePageAndItsPopUpArePublishedAsEitherChanges) {
    const struct {
        uint8_t page;
        bool popUp;
        const char *line;
    } cases[] = {{3, false, "3 0\n"}, {3, true, "3 1\n"}, {0, false, "0 0\n"}};
    for (const auto &c : cases) {
        platformDisplayNotePage(c.page);
        platformDisplayNotePopUp(c.popUp);
        EXPECT_EQ(root.read("/sim/page"), c.line);
    }
}

// Without a display the host uses SDL's dummy driver; a display or a driver
// chosen is kept.
TEST(HostDisplayPrepare, TheDummyDriverOnlyWithoutADisplay) {
    const struct {
        const char *driver, *display, *result;
    } cases[] = {{nullptr, nullptr, "dummy"},
                 {"", "", "dummy"},
                 {nullptr, ":0", nullptr},
                 {"x11", nullptr, "x11"}};
    auto put = [](const char *name, const char *value) {
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    };
    for (const auto &c : cases) {
        put("SDL_VIDEODRIVER", c.driver);
        put("DISPLAY", c.display);
        platformDisplayPrepare();
        EXPECT_STREQ(getenv("SDL_VIDEODRIVER"), c.result) << (c.display ? c.display : "none");
    }
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    unsetenv("DISPLAY");
}

TEST_F(HostDisplay, WindowKeysBecomeKeyRecords) {
    root.write("/dev/input/.keep", "");
    std::string fifo = root.file("/dev/input/event0");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    // Up is 0x102, Down 0x100, Return and Space the mode key 0x101, Escape
    // and closing the window the fourth key 0x103; other keys give nothing.
    const struct {
        Uint8 type;
        SDLKey sym;
    } events[] = {{SDL_KEYDOWN, SDLK_UP},     {SDL_KEYUP, SDLK_UP},      {SDL_KEYDOWN, SDLK_DOWN},
                  {SDL_KEYDOWN, SDLK_RETURN}, {SDL_KEYDOWN, SDLK_SPACE}, {SDL_KEYDOWN, SDLK_a},
                  {SDL_KEYDOWN, SDLK_ESCAPE}, {SDL_QUIT, SDLK_UNKNOWN}};
    for (const auto &event : events) {
        SDL_Event e{};
        e.type = event.type;
        e.key.type = event.type;
        e.key.state = event.type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.sym = event.sym;
        ASSERT_EQ(SDL_PushEvent(&e), 0);
    }
    platformDisplayPoll();
    std::string records;
    uint8_t record[PLATFORM_KEY_EVENT_SIZE];
    while (read(reader, record, sizeof(record)) == static_cast<ssize_t>(sizeof(record))) {
        PlatformKeyEvent k = platformDecodeKeyEvent(record);
        records += std::to_string(k.type) + ":" + std::to_string(k.code) + "=" +
                   std::to_string(k.value) + " ";
    }
    close(reader);
    EXPECT_EQ(records, "1:258=1 1:258=0 1:256=1 1:257=1 1:257=1 1:259=1 1:259=1 1:259=0 ");
}

TEST(KeyRecords, EncodeLittleEndianSixteenBytes) {
    uint8_t record[PLATFORM_KEY_EVENT_SIZE];
    platformEncodeKeyEvent(PlatformKeyEvent{1, 0x0102, -2}, record);
    EXPECT_EQ(std::vector<uint8_t>(record, record + PLATFORM_KEY_EVENT_SIZE),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF}));
    PlatformKeyEvent back = platformDecodeKeyEvent(record);
    EXPECT_EQ(back.code, 0x0102);
    EXPECT_EQ(back.value, -2);
}

} // namespace
