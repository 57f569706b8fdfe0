// The board's keys: presses and releases on the simulated clock, written to
// the application's key FIFO or to an emulated board.
#include "key_pad.h"

#include "board/board.h"
#include "board/board_link.h"
#include "board/run_support.h"
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

bool KeyPad::open(std::string *error) {
    if (m_fd.get() >= 0) {
        return true;
    }
    std::string fifo = rootedPath(PLATFORM_KEY_DEVICE);
    // Non-blocking, so that a write-only open without a reader fails
    // instead of hanging.
    int mode = m_fifo == Fifo::Kept ? O_RDWR : O_WRONLY;
    m_fd = FileDescriptor(::open(fifo.c_str(), mode | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (m_fd.get() >= 0 && fstat(m_fd.get(), &st) == 0 && S_ISFIFO(st.st_mode)) {
        return true;
    }
    if (m_fd.get() >= 0) {
        // Keys written into a regular file or a device would reach no one.
        m_fd.reset();
        if (error != nullptr) {
            *error = "the key FIFO " + fifo + " is not a FIFO";
        }
        return false;
    }
    if (error != nullptr) {
        *error = errno == ENXIO ? "no application is reading the keys at " + fifo
                                : "cannot open the key FIFO " + fifo + ": " + strerror(errno);
    }
    return false;
}

bool KeyPad::write(uint16_t code, bool down) {
    m_written = true;
    m_maybeUnread = true;
    if (m_board != nullptr) {
        std::string error;
        return m_board->key(code, down, &error);
    }
    if (m_fd.get() < 0 && !open(nullptr)) {
        return false;
    }
    auto record = keyRecord(code, down ? BUTTON_VALUE_PRESSED : BUTTON_VALUE_RELEASED);
    ssize_t put;
    do {
        put = ::write(m_fd.get(), record.data(), record.size());
    } while (put < 0 && errno == EINTR);
    if (put == static_cast<ssize_t>(record.size())) {
        return true;
    }
    if (put < 0 && errno != EAGAIN) {
        // The application closed the keys: they are opened again next time.
        m_fd.reset();
    }
    return false;
}

KeyPad::Key &KeyPad::key(uint16_t code) {
    auto found =
        std::find_if(m_keys.begin(), m_keys.end(), [code](const Key &k) { return k.code == code; });
    if (found != m_keys.end()) {
        return *found;
    }
    m_keys.emplace_back();
    m_keys.back().code = code;
    return m_keys.back();
}

bool KeyPad::press(uint16_t code, int64_t holdMs) {
    Key &k = key(code);
    if (k.down || k.waiting || !k.queued.empty()) {
        // Pressed again before the last press was over: it follows in turn.
        k.queued.push_back(holdMs);
        return true;
    }
    return startPress(k, holdMs);
}

void KeyPad::release(uint16_t code) {
    Key &k = key(code);
    if (!k.queued.empty() && k.queued.back() == HELD) {
        // Let go before its turn came: a tap.
        k.queued.back() = TAP_MS;
    } else if (k.down && !k.releaseDue) {
        k.releaseDue = true;
        k.releaseAtMs = std::max(m_nowMs, k.pressedMs + TAP_MS);
    } else if (k.waiting) {
        k.releaseDue = true; // timed when the press is written
    }
}

bool KeyPad::held(uint16_t code) const {
    return std::any_of(m_keys.begin(), m_keys.end(), [code](const Key &k) {
        return k.code == code && (k.down || k.waiting) && k.held && !k.releaseDue &&
               k.queued.empty();
    });
}

bool KeyPad::startPress(Key &k, int64_t holdMs) {
    k.held = holdMs == HELD;
    k.holdMs = k.held ? TAP_MS : holdMs;
    k.releaseDue = !k.held;
    // The simulator's own key pad: what a key opens times out in simulated
    // time, so a press on a run faster than real time waits for real time.
    if (m_fifo == Fifo::Kept && followsRealTime()) {
        k.waiting = true; // written by followRealTime()
        return true;
    }
    return pressNow(k);
}

// Whether a run faster than real time is to follow real time now: says so
// the first time.
bool KeyPad::followsRealTime() {
    if (m_lockstep || (m_restoreScale <= 0.0 && platformTimeScale() <= 1.0)) {
        return false;
    }
    if (m_restoreScale <= 0.0) {
        m_restoreScale = platformTimeScale();
        m_lastHoldingHostMs = hostMs();
        char line[128];
        snprintf(line, sizeof(line),
                 "tstat-sim: time scale 1 while a key is pressed or a menu shown, %g again on "
                 "the main page",
                 m_restoreScale);
        if (m_say) {
            m_say(line);
        }
    }
    return true;
}

bool KeyPad::pressNow(Key &k) {
    k.waiting = false;
    if (!write(k.code, true)) {
        return false;
    }
    k.down = true;
    k.pressedMs = m_nowMs;
    k.pressedHostMs = m_hostNowMs;
    k.releaseAtMs = m_nowMs + k.holdMs;
    return true;
}

bool KeyPad::poll(int64_t simNowMs) {
    m_nowMs = simNowMs;
    m_hostNowMs = hostMs();
    bool written = releaseDueKeys();
    followRealTime();
    return written;
}

bool KeyPad::releaseDueKeys() {
    bool written = true;
    for (Key &k : m_keys) {
        if (k.down) {
            bool due = k.releaseDue && m_nowMs >= k.releaseAtMs;
            if (!due && !(k.held && m_hostNowMs - k.pressedHostMs > HOLD_LIMIT_MS)) {
                continue;
            }
            // A release that cannot be written is given up: the application
            // that stopped reading has forgotten the press as well.
            written = write(k.code, false) && written;
            k.down = false;
            k.held = false;
            k.nextPressMs = m_nowMs + TAP_MS;
        }
        if (!k.down && !k.waiting && !k.queued.empty() && m_nowMs >= k.nextPressMs) {
            int64_t holdMs = k.queued.front();
            k.queued.pop_front();
            if (!startPress(k, holdMs)) {
                k.queued.clear();
                written = false;
            }
        }
    }
    return written;
}

// A key down or waiting, or a menu shown, or either a moment ago: the page
// a key opened is seen a few host milliseconds after the key's release.
bool KeyPad::holding() {
    bool now = m_menuShown || std::any_of(m_keys.begin(), m_keys.end(), [](const Key &k) {
                   return k.waiting || k.down || !k.queued.empty();
               });
    if (now) {
        m_lastHoldingHostMs = m_hostNowMs;
    }
    return now || m_hostNowMs - m_lastHoldingHostMs < REAL_TIME_AFTER_MS;
}

void KeyPad::setMenuShown(bool shown) {
    if (shown != m_menuShown) {
        m_menuShown = shown;
        if (shown && m_fifo == Fifo::Kept) {
            followsRealTime();
        }
    }
}

std::string KeyPad::realTimeReason() const {
    if (m_restoreScale <= 0.0 || m_restoring) {
        return "";
    }
    return m_menuShown ? "a menu is shown" : "a key is pressed";
}

void KeyPad::followRealTime() {
    if (m_restoreScale <= 0.0) {
        return;
    }
    double scale = platformTimeScale();
    if (m_restoring) {
        if (scale != m_restoreScale) {
            return;
        }
        m_restoring = false;
        if (!holding()) {
            m_restoreScale = 0.0;
            return;
        }
    }
    if (!holding()) {
        if (platformSetTimeScale(m_restoreScale) == 0) {
            m_restoring = true;
        }
        return;
    }
    if (scale != 1.0) {
        // Tried again on the next pass while another change is under way.
        platformSetTimeScale(1.0);
        return;
    }
    for (Key &k : m_keys) {
        if (k.waiting && !pressNow(k)) {
            k.queued.clear();
        }
    }
}

KeyPad::ScaleChange KeyPad::chooseTimeScale(double scale) {
    if (m_restoreScale > 0.0 && !m_restoring) {
        m_restoreScale = scale;
        return ScaleChange::AfterHold;
    }
    if (m_restoring || platformSetTimeScale(scale) != 0) {
        return ScaleChange::Busy;
    }
    return ScaleChange::Now;
}

int64_t KeyPad::nextEventMs() const {
    int64_t next = INT64_MAX;
    for (const Key &k : m_keys) {
        if (k.down && k.releaseDue) {
            next = std::min(next, k.releaseAtMs);
        } else if (!k.down && !k.waiting && !k.queued.empty()) {
            next = std::min(next, k.nextPressMs);
        }
    }
    return next;
}

size_t KeyPad::unread() const {
    // Asked before and after every run of the application in lock-step
    // time: the kernel only while something may wait.
    int queued = 0;
    if (!m_maybeUnread || m_fd.get() < 0 || ioctl(m_fd.get(), FIONREAD, &queued) != 0 ||
        queued < 0) {
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
    KeyPad keys(KeyPad::Fifo::ReaderRequired);
    std::string error;
    if (!keys.open(&error)) {
        fprintf(stderr, "tstat-sim: %s\n", error.c_str());
        return 1;
    }
    int64_t holdMs = std::llround(holdSeconds * 1000.0);
    bool ok = keys.press(code, holdMs);
    if (ok) {
        platformSleepMs(static_cast<uint32_t>(holdMs));
        ok = keys.poll(holdMs);
    }
    if (!ok) {
        fprintf(stderr, "tstat-sim: writing to %s failed: %s\n",
                rootedPath(PLATFORM_KEY_DEVICE).c_str(), strerror(errno));
        return 1;
    }
    return 0;
}

} // namespace sim
