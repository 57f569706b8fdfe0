// Timers on the monotonic clock, wall-clock seconds, and big-endian helpers.
//
// A timer record is armed with a duration and later asked whether it has
// expired; nothing waits. A record that was never armed (all zero) counts as
// expired, and a timer stays expired until it is armed again.
#pragma once

#include <cstdint>

struct UtilTimer {
    int32_t seconds;     // deadline, whole seconds of the monotonic clock
    int32_t nanoseconds; // deadline, 0 to 999999999
};
static_assert(sizeof(UtilTimer) == 8, "a timer record is two 32-bit words");

// Arms the timer to expire ms milliseconds from now.
void util_set_expiration(UtilTimer *timer, uint32_t ms);
// 1 once the deadline has been reached, else 0.
int util_check_expiration(const UtilTimer *timer);
// Wall-clock seconds (-1 when the clock fails); also stored at *out when given.
int64_t util_time(int64_t *out);

// The count of the events after which what the pages show or the control bus
// reports may differ: a packet handled, a control run, a key, a time-out. A
// reader that saw the same count within the same wall-clock second has
// nothing new to read; whatever changes state outside these events notes it.
void utilNoteChange();
uint32_t utilChangeCount();

// Big-endian writers and readers; each returns the pointer just past what it wrote or read.
uint8_t *utilPutUint16BE(uint32_t value, uint8_t *p);
uint8_t *utilPutUint32BE(uint32_t value, uint8_t *p);
const uint8_t *utilGetUint16BE(uint16_t *dest, const uint8_t *p);
const uint8_t *utilGetUint32BE(uint32_t *dest, const uint8_t *p);
