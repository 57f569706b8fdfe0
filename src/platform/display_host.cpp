// Host flavour of the display part of the platform layer: publishes the
// frames shown as sim/screen.png, pumps SDL's events and turns window keys
// into key records on the key FIFO.
#include "platform/host_internal.h"
#include "platform/platform.h"
#include "platform/platform_display.h"

#include <SDL.h>
#include <cairo.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int64_t NS_PER_MS = 1000000;
// At most ten frames per second of host time.
constexpr int64_t MIN_PUBLISH_INTERVAL_NS = 100 * NS_PER_MS;
// While simulated time runs faster than the host's, the pages change faster
// than anyone can watch (a screen-saver move every few milliseconds): frames
// are drawn at most twenty and published at most twice per second of host
// time, so that the display does not take the processor from the control.
constexpr int64_t MIN_DRAW_INTERVAL_NS = 50 * NS_PER_MS;
constexpr int64_t MIN_PUBLISH_INTERVAL_FAST_NS = 500 * NS_PER_MS;

int64_t publishInterval() {
    return platformTimeScale() > 1.0 ? MIN_PUBLISH_INTERVAL_FAST_NS : MIN_PUBLISH_INTERVAL_NS;
}

struct DisplayState {
    SDL_Surface *screen;
    bool published; // a frame was published at lastPublishNs
    int64_t lastPublishNs;
    bool pending; // a flipped frame still waits to be published
    uint32_t publishedFrames;
    int keyFd;          // the key FIFO, opened on the first window key
    int64_t lastDrawNs; // when the last frame was drawn (0: none yet)
};

DisplayState m_Display = {nullptr, false, 0, false, 0, -1, 0};
// The page the user interface noted with its pop-up (0x100 while one is
// open), and the one last published (-1: none).
int m_NotedPage = -1;
int m_PublishedPage = -1;
bool m_NotedPopUp = false;
// The PNG encoder's output, reused from frame to frame.
std::vector<unsigned char> m_PngBuffer;

// The clock that paces drawing and publishing: the host's, so that a fast
// simulated clock does not spend the host's time on frames nobody sees; in
// lock-step time the simulated one, so that a run is the same on any host;
// under a test's fake clock the fake one, so that the pacing is tested
// whatever the host's load.
int64_t hostNowNs() {
    if (hostLockstep() || hostFakeClock()) {
        return hostSimMonoNs();
    }
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Whether a frame may be published now. In lock-step time only at the
// instants the simulator asks for (someone looks at the screen), at most
// ten times a simulated second.
bool mayPublish(int64_t now) {
    if (hostLockstep() && !hostLockstepPublishWanted()) {
        return false;
    }
    return !m_Display.published || now - m_Display.lastPublishNs >= publishInterval();
}

cairo_status_t appendPng(void *closure, const unsigned char *data, unsigned int length) {
    auto *out = static_cast<std::vector<unsigned char> *>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

// Encodes the surface's current pixels as PNG into m_PngBuffer.
bool encodeFrame(SDL_Surface *surface) {
    if (surface == nullptr || surface->w <= 0 || surface->h <= 0) {
        return false;
    }
    cairo_surface_t *image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, surface->w, surface->h);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return false;
    }
    cairo_surface_flush(image);
    unsigned char *dst = cairo_image_surface_get_data(image);
    int dstStride = cairo_image_surface_get_stride(image);
    bool locked = SDL_MUSTLOCK(surface) ? SDL_LockSurface(surface) == 0 : true;
    if (!locked) {
        cairo_surface_destroy(image);
        return false;
    }
    const SDL_PixelFormat *format = surface->format;
    int bpp = format->BytesPerPixel;
    for (int y = 0; y < surface->h; y++) {
        const auto *src = static_cast<const uint8_t *>(surface->pixels) + y * surface->pitch;
        unsigned char *row = dst + y * dstStride;
        for (int x = 0; x < surface->w; x++) {
            const uint8_t *p = src + x * bpp;
            Uint32 pixel = 0;
            switch (bpp) {
            case 1:
                pixel = p[0];
                break;
            case 2: {
                Uint16 pixel16;
                memcpy(&pixel16, p, sizeof(pixel16));
                pixel = pixel16;
                break;
            }
            case 3:
                pixel = SDL_BYTEORDER == SDL_LIL_ENDIAN ? (p[0] | p[1] << 8 | p[2] << 16)
                                                        : (p[2] | p[1] << 8 | p[0] << 16);
                break;
            default:
                memcpy(&pixel, p, sizeof(pixel));
                break;
            }
            Uint8 r, g, b;
            SDL_GetRGB(pixel, const_cast<SDL_PixelFormat *>(format), &r, &g, &b);
            const uint32_t rgb =
                (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | b;
            memcpy(row + x * sizeof(rgb), &rgb, sizeof(rgb));
        }
    }
    if (SDL_MUSTLOCK(surface)) {
        SDL_UnlockSurface(surface);
    }
    cairo_surface_mark_dirty(image);
    m_PngBuffer.clear();
    cairo_status_t status = cairo_surface_write_to_png_stream(image, appendPng, &m_PngBuffer);
    cairo_surface_destroy(image);
    return status == CAIRO_STATUS_SUCCESS;
}

// The page and its pop-up, once the display is up, as soon as either
// changes: a simulator at a high time scale follows real time while a menu
// is shown, and a pop-up lasts a fraction of a second at scale 60.
void publishPage() {
    int noted = m_NotedPage < 0 ? -1 : m_NotedPage | (m_NotedPopUp ? 0x100 : 0);
    char path[PATH_MAX];
    if (noted == m_PublishedPage || m_Display.screen == nullptr ||
        hostSimPath("page", path, sizeof(path)) == nullptr) {
        return;
    }
    char line[16];
    int n = snprintf(line, sizeof(line), "%d %d\n", m_NotedPage, m_NotedPopUp ? 1 : 0);
    if (hostWriteFileAtomic(path, line, static_cast<size_t>(n)) == 0) {
        m_PublishedPage = noted;
    }
}

void publish(int64_t nowNs) {
    m_Display.pending = false;
    m_Display.published = true;
    m_Display.lastPublishNs = nowNs;
    char path[PATH_MAX];
    if (hostSimPath("screen.png", path, sizeof(path)) == nullptr ||
        !encodeFrame(m_Display.screen)) {
        return;
    }
    if (hostWriteFileAtomic(path, reinterpret_cast<const char *>(m_PngBuffer.data()),
                            m_PngBuffer.size()) == 0) {
        m_Display.publishedFrames++;
    }
    publishPage();
}

// Opens the key FIFO for writing. Opened read-write, a FIFO never lacks a
// reader, so a write can neither fail for want of one nor raise SIGPIPE.
// Anything but a FIFO is left alone.
bool openKeyFifo() {
    if (m_Display.keyFd >= 0) {
        return true;
    }
    char path[PATH_MAX];
    if (platformPath(PLATFORM_KEY_DEVICE, path, sizeof(path)) == nullptr) {
        return false;
    }
    int fd = open(path, O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        close(fd);
        return false;
    }
    m_Display.keyFd = fd;
    return true;
}

void sendKey(uint16_t code, int32_t value) {
    if (!openKeyFifo()) {
        return;
    }
    uint8_t record[PLATFORM_KEY_EVENT_SIZE];
    platformEncodeKeyEvent(PlatformKeyEvent{BUTTON_EVENT_KEY, code, value}, record);
    ssize_t put;
    do {
        put = write(m_Display.keyFd, record, sizeof(record));
    } while (put < 0 && errno == EINTR);
}

// The key code of a window key, or 0 for keys the thermostat does not have.
uint16_t keyCodeOf(SDLKey sym) {
    switch (sym) {
    case SDLK_UP:
        return BUTTON_CODE_UP;
    case SDLK_DOWN:
        return BUTTON_CODE_DOWN;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
    case SDLK_SPACE:
        return BUTTON_CODE_MODE;
    case SDLK_ESCAPE:
        return BUTTON_CODE_EXIT;
    default:
        return 0;
    }
}

void pumpEvents() {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
        return;
    }
    SDL_Event event;
    while (SDL_PollEvent(&event) == 1) {
        if (event.type == SDL_KEYDOWN || event.type == SDL_KEYUP) {
            uint16_t code = keyCodeOf(event.key.keysym.sym);
            if (code != 0) {
                sendKey(code,
                        event.type == SDL_KEYDOWN ? BUTTON_VALUE_PRESSED : BUTTON_VALUE_RELEASED);
            }
        } else if (event.type == SDL_QUIT) {
            // Closing the window ends the program like the fourth key.
            sendKey(BUTTON_CODE_EXIT, BUTTON_VALUE_PRESSED);
            sendKey(BUTTON_CODE_EXIT, BUTTON_VALUE_RELEASED);
        }
    }
}

} // namespace

void platformDisplayPrepare() {
    const char *driver = getenv("SDL_VIDEODRIVER");
    const char *x11 = getenv("DISPLAY");
    if ((driver == nullptr || driver[0] == '\0') && (x11 == nullptr || x11[0] == '\0')) {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
    }
}

void platformDisplayStart(SDL_Surface *screen) {
    m_Display.screen = screen;
    m_Display.pending = false;
}

bool platformDisplayMayDraw() {
    // In lock-step time a frame nobody looks at is not drawn: its changes
    // wait, kept, for the pass that publishes one.
    if (hostLockstep()) {
        return hostLockstepPublishWanted();
    }
    if (platformTimeScale() <= 1.0) {
        return true;
    }
    int64_t now = hostNowNs();
    if (m_Display.lastDrawNs != 0 && now - m_Display.lastDrawNs < MIN_DRAW_INTERVAL_NS) {
        return false;
    }
    m_Display.lastDrawNs = now;
    return true;
}

void platformDisplayFlipped() {
    if (m_Display.screen == nullptr) {
        return;
    }
    int64_t now = hostNowNs();
    if (mayPublish(now)) {
        publish(now);
    } else {
        m_Display.pending = true;
    }
}

void platformDisplayPoll() {
    pumpEvents();
    if (m_Display.pending && m_Display.screen != nullptr) {
        int64_t now = hostNowNs();
        if (mayPublish(now)) {
            publish(now);
        }
    }
}

void platformDisplayStop() {
    if (m_Display.pending && m_Display.screen != nullptr) {
        publish(hostNowNs());
    }
    m_Display.screen = nullptr;
    m_Display.pending = false;
}

int platformDisplaySnapshot(const char *path) {
    return platformSurfaceSnapshot(m_Display.screen, path);
}

int platformSurfaceSnapshot(SDL_Surface *surface, const char *path) {
    if (path == nullptr || !encodeFrame(surface)) {
        return -1;
    }
    return hostWriteFileAtomic(path, reinterpret_cast<const char *>(m_PngBuffer.data()),
                               m_PngBuffer.size());
}

uint32_t platformDisplayPublishedFrames() {
    return m_Display.publishedFrames;
}

void platformDisplayNotePage(uint8_t page) {
    m_NotedPage = page;
}

void platformDisplayNotePopUp(bool open) {
    m_NotedPopUp = open;
    publishPage();
}

void platformDisplayReset() {
    if (m_Display.keyFd >= 0) {
        close(m_Display.keyFd);
    }
    m_NotedPage = -1;
    m_PublishedPage = -1;
    m_NotedPopUp = false;
    m_Display = DisplayState{nullptr, false, 0, false, 0, -1, 0};
}
