// Lock-step time of the simulated board: the simulator owns the clock, and
// the application's simulated time moves only when the simulator says so.
//
// The simulator hands the application one end of a socket pair (its number
// in TSTAT_LOCKSTEP_FD). Each message is one LockstepMessage. The simulator
// sends NOW with the simulated time; the application runs a main-loop pass
// at that time and answers IDLE with the time at which it next has
// something to do (its earliest timer, or the next whole second), or SLEEP
// with the end of a pause it is taking. The simulator then runs its own
// work, and wakes the application again at that time, or earlier, at the
// same or a later time, when it sent the application bytes or key events
// (never during a SLEEP). Both sides see exactly the same instants, so a
// run is the same on any host under any load.
#pragma once

#include <cstdint>

enum LockstepKind : uint32_t {
    LOCKSTEP_NOW = 1,   // simulator -> application: time is monoMs / wallMs; run
    LOCKSTEP_IDLE = 2,  // application -> simulator: nothing to do before monoMs
    LOCKSTEP_SLEEP = 3, // application -> simulator: pausing until monoMs
};

// Flags of NOW.
constexpr uint32_t LOCKSTEP_PUBLISH_SCREEN = 1; // publish sim/screen.png if it changed
constexpr uint32_t LOCKSTEP_KEYS_WAITING = 2;   // key events wait on the key device
// Flags of IDLE and SLEEP.
constexpr uint32_t LOCKSTEP_RELAYS_WRITTEN = 1; // sim/relays was written since the last answer
// The coprocessor's line was read empty in this turn, so nothing is left on
// it: the simulator need not ask the kernel.
constexpr uint32_t LOCKSTEP_LINE_DRAINED = 2;
// Standard output was written in this turn (the simulator reads it only then).
constexpr uint32_t LOCKSTEP_OUTPUT_WRITTEN = 4;

struct LockstepMessage {
    uint32_t kind;
    uint32_t flags;
    int64_t monoMs; // simulated monotonic time, ms since the simulator started
    int64_t wallMs; // simulated wall-clock time, ms since 1970 (NOW only)
};
static_assert(sizeof(LockstepMessage) == 24, "a lock-step message is 24 bytes");

// The environment variable that names the application's end of the pair.
constexpr const char *LOCKSTEP_FD_VARIABLE = "TSTAT_LOCKSTEP_FD";
// In lock-step time the coprocessor's line is a stream socket as well,
// handed over under this variable: a pseudo-terminal hands each write to a
// kernel worker, which costs several times what the rest of a simulated
// second costs. The application opens its serial port as usual and gets
// this descriptor.
constexpr const char *LOCKSTEP_LINK_FD_VARIABLE = "TSTAT_LOCKSTEP_LINK_FD";
