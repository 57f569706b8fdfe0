// Key presses written to the application's key FIFO.
#include "keys.h"

#include "board.h"
#include "platform/platform.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace sim {

namespace {

struct KeyName {
    const char *name;
    uint16_t code;
};

constexpr KeyName c_Keys[] = {
    {"up", BUTTON_CODE_UP},
    {"down", BUTTON_CODE_DOWN},
    {"mode", BUTTON_CODE_MODE},
    {"exit", BUTTON_CODE_EXIT},
};

bool writeRecord(int fd, uint16_t code, int32_t value) {
    auto record = keyRecord(code, value);
    ssize_t put;
    do {
        put = write(fd, record.data(), record.size());
    } while (put < 0 && errno == EINTR);
    return put == static_cast<ssize_t>(record.size());
}

} // namespace

uint16_t keyCode(const std::string &name) {
    for (const KeyName &k : c_Keys) {
        if (name == k.name) {
            return k.code;
        }
    }
    return 0;
}

std::array<uint8_t, PLATFORM_KEY_EVENT_SIZE> keyRecord(uint16_t code, int32_t value) {
    std::array<uint8_t, PLATFORM_KEY_EVENT_SIZE> record{};
    platformEncodeKeyEvent(PlatformKeyEvent{BUTTON_EVENT_KEY, code, value}, record.data(),
                           platformWallTime());
    return record;
}

KeyWriter::~KeyWriter() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool KeyWriter::open(std::string *error) {
    if (m_fd >= 0) {
        return true;
    }
    std::string fifo = rootedPath("/dev/input/event0");
    m_fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        *error = "cannot open the key FIFO " + fifo + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool KeyWriter::press(uint16_t code) {
    m_maybeUnread = true;
    return m_fd >= 0 && writeRecord(m_fd, code, 1);
}

bool KeyWriter::release(uint16_t code) {
    m_maybeUnread = true;
    return m_fd >= 0 && writeRecord(m_fd, code, 0);
}

size_t KeyWriter::unread() const {
    // Asked before and after every run of the application in lock-step
    // time: the kernel only while something may wait.
    int queued = 0;
    if (!m_maybeUnread || m_fd < 0 || ioctl(m_fd, FIONREAD, &queued) != 0 || queued < 0) {
        return 0;
    }
    m_maybeUnread = queued > 0;
    return static_cast<size_t>(queued);
}

int pressKey(const std::string &name, double holdSeconds) {
    uint16_t code = keyCode(name);
    if (code == 0) {
        fprintf(stderr, "tstat-sim: unknown key \"%s\" (up, down, mode or exit)\n", name.c_str());
        return 1;
    }
    if (!(holdSeconds >= 0.0) || holdSeconds > 3600.0) {
        fprintf(stderr, "tstat-sim: --hold takes 0 to 3600 seconds\n");
        return 1;
    }
    std::string fifo = rootedPath(PLATFORM_KEY_DEVICE);
    // Non-blocking, so that no reader means an error instead of a hang.
    int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENXIO) {
            fprintf(stderr, "tstat-sim: no application is reading the keys at %s\n", fifo.c_str());
        } else {
            fprintf(stderr, "tstat-sim: cannot open %s: %s\n", fifo.c_str(), strerror(errno));
        }
        return 1;
    }
    bool ok = writeRecord(fd, code, BUTTON_VALUE_PRESSED);
    if (ok) {
        platformSleepMs(static_cast<uint32_t>(std::lround(holdSeconds * 1000.0)));
        ok = writeRecord(fd, code, BUTTON_VALUE_RELEASED);
    }
    close(fd);
    if (!ok) {
        fprintf(stderr, "tstat-sim: writing to %s failed: %s\n", fifo.c_str(), strerror(errno));
        return 1;
    }
    return 0;
}

} // namespace sim
