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

// Cuts the power in the middle of flash writes: after `steps` more steps
// (-1: no limit) of the simulated flash, every later step fails (EIO) and
// changes nothing, until platformReset() or platformCutFlash(-1). A write of
// a region whose erase blocks are known takes three steps per erase block it
// touches: the erase (the block reads 0xFF), the programming of its first
// half, and of its second half; other writes take one step for all of it.
void platformCutFlash(int64_t steps);

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
