// Test hooks of the simulated board's platform layer (host flavour only).
//
// A fake clock replaces the host's clocks entirely: the monotonic and wall
// clocks stand still until a test moves them, and platformSleepMs() advances
// them instead of sleeping. The system-clock offset (the interpreted "date"
// command) still applies on top of the fake wall clock.
#pragma once

#include <cstdint>

// Switches to the fake clock with the given monotonic time and wall-clock seconds.
void platformFakeClockSet(int64_t monoSeconds, int32_t monoNanoseconds, int64_t wallSeconds);
// Moves both fake clocks forward.
void platformFakeClockAdvanceMs(uint64_t ms);
// Sets the fake wall clock alone (a clock jump); the monotonic clock is untouched.
void platformFakeClockSetWall(int64_t wallSeconds);

// Drives the host's monotonic clock by hand (its realtime clock follows at a
// fixed distance); the time scale still applies. platformReset() ends it.
void platformDriveHostClock(int64_t monotonicNs);

// Cuts the power in the middle of flash writes: once `bytes` more bytes
// have been written or `calls` more calls of platformFlashWrite() have
// completed, whichever comes first (-1: no limit), the call under way writes
// what is left of the budget and fails, and every later one fails (EIO)
// without writing, until platformReset() or platformCutFlashWrites(-1, -1).
void platformCutFlashWrites(int64_t bytes, int64_t calls);

// Makes platformIoMap() fail as a board whose /dev/mem cannot be opened,
// until platformReset().
void platformRefuseIoMap();

// The system-clock offset in seconds (wall clock minus the host's or fake clock).
int64_t platformClockOffset();

// The simulated I/O controller: the coil lines now driven high, the latched
// contacts ('0', '1' or '?' per relay, ten characters), and how many times a
// coil line was driven high while another coil line was still high.
uint32_t platformSimCoilLines();
const char *platformSimRelayContacts();
uint32_t platformSimOverlappingPulses();
