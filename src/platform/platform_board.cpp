// Board flavour of the platform layer: the real devices, clocks and shell.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int m_MemFd = -1;
volatile uint32_t *m_IoPage = nullptr;
bool m_StartRead = false;
struct timespec m_Start;

} // namespace

char *platformPath(const char *designPath, char *buf, size_t len) {
    int n = snprintf(buf, len, "%s", designPath);
    if (n < 0 || static_cast<size_t>(n) >= len) {
        if (len > 0) {
            buf[0] = '\0';
        }
        return nullptr;
    }
    return buf;
}

const char *platformRoot() {
    return "";
}

int platformOpenDevice(const char *designPath, int flags) {
    return open(designPath, flags);
}

int platformOpenSerial(const char *path) {
    return open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
}

void platformMonotonic(struct timespec *now) {
    clock_gettime(CLOCK_MONOTONIC, now);
}

int64_t platformWallTime() {
    return static_cast<int64_t>(time(nullptr));
}

int64_t platformUptimeMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (!m_StartRead) {
        m_StartRead = true;
        m_Start = now;
    }
    return static_cast<int64_t>(now.tv_sec - m_Start.tv_sec) * 1000 +
           (now.tv_nsec - m_Start.tv_nsec) / 1000000;
}

void platformSleepMs(uint32_t ms) {
    struct timespec left;
    left.tv_sec = static_cast<time_t>(ms / 1000);
    left.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// The main loop gives up the processor for a millisecond a pass: a loop
// that never rests keeps the core at full load, which costs power and warms
// the on-board thermistor that measures the room. Keys, relay pulses (500 ms)
// and the link's bytes all wait far longer than that.
void platformLoopYield() {
    const struct timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
}

void platformNoteTimer(const void *, const struct timespec *) {}

bool platformKeysMayWait() {
    return true;
}

void platformNoteLineDrained() {}

ssize_t platformSerialRead(int fd, void *data, size_t size) {
    return read(fd, data, size);
}

ssize_t platformSerialWrite(int fd, const void *data, size_t size) {
    return write(fd, data, size);
}

double platformTimeScale() {
    return 1.0;
}

int platformSetTimeScale(double) {
    return -1;
}

ssize_t platformFlashWrite(int fd, const void *data, size_t len, size_t) {
    return write(fd, data, len);
}

int platformSystem(const char *command) {
    return system(command);
}

PlatformIoResult platformIoMap() {
    if (m_IoPage != nullptr) {
        return PLATFORM_IO_OK;
    }
    m_MemFd = open("/dev/mem", O_RDWR | O_SYNC);
    if (m_MemFd < 0) {
        return PLATFORM_IO_OPEN_FAILED;
    }
    void *page = mmap(nullptr, PLATFORM_IO_PAGE_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, m_MemFd,
                      static_cast<off_t>(PLATFORM_IO_PAGE_BASE));
    if (page == MAP_FAILED) {
        return PLATFORM_IO_MAP_FAILED;
    }
    // The page is aligned, so every register is one aligned 32-bit word.
    m_IoPage = static_cast<volatile uint32_t *>(page);
    return PLATFORM_IO_OK;
}

void platformIoWrite(uint32_t offset, uint32_t value) {
    if (m_IoPage == nullptr || offset >= PLATFORM_IO_PAGE_SIZE || offset % 4 != 0) {
        return;
    }
    m_IoPage[offset / 4] = value;
}

uint32_t platformIoRead(uint32_t offset) {
    if (m_IoPage == nullptr || offset >= PLATFORM_IO_PAGE_SIZE || offset % 4 != 0) {
        return 0;
    }
    return m_IoPage[offset / 4];
}

void platformVideoMode(int *width, int *height, int *bitsPerPixel) {
    *width = 0;
    *height = 0;
    *bitsPerPixel = 0;
}

void platformReset() {}
