// Timers, wall-clock seconds and big-endian helpers. All clocks come from the
// platform layer, so tests can drive them and the simulated board can scale them.
#include "core/util.h"

#include "platform/platform.h"

#include <ctime>

namespace {
constexpr int32_t NS_PER_SEC = 1000000000;
constexpr int32_t NS_PER_MS = 1000000;
uint32_t m_ChangeCount = 0;
} // namespace

void util_set_expiration(UtilTimer *timer, uint32_t ms) {
    struct timespec now;
    platformMonotonic(&now);
    int32_t seconds = static_cast<int32_t>(now.tv_sec + ms / 1000);
    int32_t nanoseconds =
        static_cast<int32_t>(now.tv_nsec) + static_cast<int32_t>(ms % 1000) * NS_PER_MS;
    if (nanoseconds > NS_PER_SEC - 1) {
        nanoseconds %= NS_PER_SEC;
        seconds++;
    }
    timer->seconds = seconds;
    timer->nanoseconds = nanoseconds;
    const struct timespec deadline = {static_cast<time_t>(seconds), static_cast<long>(nanoseconds)};
    platformNoteTimer(timer, &deadline);
}

int util_check_expiration(const UtilTimer *timer) {
    struct timespec now;
    platformMonotonic(&now);
    int32_t seconds = static_cast<int32_t>(now.tv_sec);
    if (seconds > timer->seconds) {
        return 1;
    }
    return seconds == timer->seconds && now.tv_nsec >= timer->nanoseconds ? 1 : 0;
}

int64_t util_time(int64_t *out) {
    int64_t now = platformWallTime();
    if (out != nullptr) {
        *out = now;
    }
    return now;
}

void utilNoteChange() {
    m_ChangeCount++;
}

uint32_t utilChangeCount() {
    return m_ChangeCount;
}

uint8_t *utilPutUint16BE(uint32_t value, uint8_t *p) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value);
    return p + 2;
}

uint8_t *utilPutUint32BE(uint32_t value, uint8_t *p) {
    p[0] = static_cast<uint8_t>(value >> 24);
    p[1] = static_cast<uint8_t>(value >> 16);
    p[2] = static_cast<uint8_t>(value >> 8);
    p[3] = static_cast<uint8_t>(value);
    return p + 4;
}

const uint8_t *utilGetUint16BE(uint16_t *dest, const uint8_t *p) {
    *dest = static_cast<uint16_t>((p[0] << 8) | p[1]);
    return p + 2;
}

const uint8_t *utilGetUint32BE(uint32_t *dest, const uint8_t *p) {
    *dest = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
            (static_cast<uint32_t>(p[2]) << 8) | p[3];
    return p + 4;
}
