// Lock-step time of the simulated board: the simulator owns the clock, and
// the application's simulated time moves only when the simulator says so.
//
// The simulator hands the application one end of a socket pair (its number
// in TSTAT_LOCKSTEP_FD). Its first message carries a descriptor of shared
// memory, a LockstepShared; from then on the socket only tells each side
// that the other has gone (it closes). The clock changes hands through the
// region's LockstepChannel: the simulator writes NOW with the simulated time
// and gives the turn to the application; the application runs a main-loop
// pass at that time, answers IDLE with the time at which it next has
// something to do (its earliest timer, or the next whole second), or SLEEP
// with the end of a pause it is taking, and gives the turn back. A side
// sleeps on the turn word (a futex) while the other runs: a hand-over is one
// wake and one wait each way, and nothing else enters the kernel. The
// simulator then runs its own work, and wakes the application again at that
// time, or earlier, at the same or a later time, when it sent the
// application bytes or key events (never during a SLEEP). Both sides see
// exactly the same instants, so a run is the same on any host under any load.
//
// More than one application can share one clock: each has its channel (its
// own turn word and messages), and the simulator hands the turn to each one
// that is due and waits for each to give it back.
#pragma once

#include <atomic>
#include <cstddef>
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

// Whose turn it is on a channel (its turn word).
enum LockstepTurn : uint32_t {
    LOCKSTEP_TURN_SIMULATOR = 0,
    LOCKSTEP_TURN_APPLICATION = 1,
    LOCKSTEP_TURN_CLOSED = 2, // the simulator ended lock-step time: the application ends
    LOCKSTEP_TURN_ENDED = 3,  // the application is ending (it called exit)
};

// One application's hand-over of the clock.
struct LockstepChannel {
    std::atomic<uint32_t> turn; // a LockstepTurn; the futex both sides sleep on
    uint32_t reserved;
    LockstepMessage now;    // written by the simulator before the application's turn
    LockstepMessage answer; // written by the application before it gives the turn back
};

// Bytes one way on the coprocessor's line: a ring that one side fills and
// the other empties, each only in its own turn.
constexpr size_t LOCKSTEP_RING_BYTES = 64 * 1024;
struct LockstepRing {
    std::atomic<uint32_t> head; // bytes put so far (wrapping), by the writer
    std::atomic<uint32_t> tail; // bytes taken so far (wrapping), by the reader
    uint8_t bytes[LOCKSTEP_RING_BYTES];
};
static_assert((LOCKSTEP_RING_BYTES & (LOCKSTEP_RING_BYTES - 1)) == 0, "a power of two");

// The memory both processes map: the clock's channel and the coprocessor's
// line (used when the line is handed over in TSTAT_LOCKSTEP_LINK_FD).
constexpr uint32_t LOCKSTEP_SHARED_MAGIC = 0x4b53544cu; // "LTSK"
struct LockstepShared {
    uint32_t magic;
    uint32_t size;
    LockstepChannel channel;
    LockstepRing toApplication;
    LockstepRing toSimulator;
};
// A futex word must be a plain word that both processes change without a
// lock of either's own. ARMv5 has no exclusive loads: there the compiler
// calls the kernel's user helpers, lock-free across processes though not
// inline, so "always lock-free" is not asked, only "never a lock".
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && ATOMIC_INT_LOCK_FREE != 0,
              "a futex word is a plain word");

// ---- Host flavour: the shared region and its hand-over (lockstep_host.cpp) ----

// A new region in shared memory: its descriptor (close on exec), mapped at
// *region. -1 with errno set.
int lockstepCreateShared(LockstepShared **region);
// Maps the region behind fd; nullptr when it is not one.
LockstepShared *lockstepMapShared(int fd);
void lockstepUnmapShared(LockstepShared *region);
// Sends / receives a descriptor as one message on a socket.
bool lockstepSendDescriptor(int socket, int fd);
int lockstepReceiveDescriptor(int socket);
// Gives the turn to `to` and wakes whoever sleeps on it. Only for the side
// that holds the turn, or to end lock-step time: a side that gave the turn
// away by an exchange of the word must not store it again, since the other
// side may have taken its turn and handed the next one over meanwhile.
void lockstepGiveTurn(LockstepChannel *channel, uint32_t to);
// Wakes whoever sleeps on the turn word, which the caller has changed.
void lockstepWakeTurn(LockstepChannel *channel);
// Sleeps while the turn is `value`, at most timeoutMs; the turn then.
uint32_t lockstepAwaitTurnChange(LockstepChannel *channel, uint32_t value, int timeoutMs);
// Puts as much of data as fits; what was put.
size_t lockstepRingPut(LockstepRing *ring, const void *data, size_t size);
// Takes at most size bytes; what was taken.
size_t lockstepRingTake(LockstepRing *ring, void *data, size_t size);
// Bytes put and not taken yet.
size_t lockstepRingUsed(const LockstepRing *ring);
// Drops what waits.
void lockstepRingDrop(LockstepRing *ring);
// Reads and writes on descriptor fd go through the rings from now on
// (platformSerialRead and platformSerialWrite): the simulator's end of a
// shared line; null rings detach fd. platformReset() forgets them all.
void lockstepAttachLine(int fd, LockstepRing *receive, LockstepRing *send);

// ---- Host flavour: the application in the simulator's process ----
//
// For its fastest runs the simulator loads the application a second time as
// a module (tstat-inprocess.so) in a namespace of its own, with its own C
// library, and runs it on a stack of its own in the simulator's thread: a
// hand-over is then a switch of stacks, no system call. The clock and the
// line are the same LockstepShared as between two processes.
struct LockstepInProcess {
    LockstepShared *shared;
    // Switches back to the simulator; returns at the application's next turn.
    void (*toSimulator)(void *context);
    void *context;
    int outputFd;     // its standard output
    int linkFd;       // the line's descriptor (-1: none)
    const char *root; // the board root
    int exitStatus;   // what it ended with
};
// The module's entry: runs the application as `tstat argv[1]`; returns (or
// switches back for good) when the application ends.
using LockstepInProcessEntry = int (*)(LockstepInProcess *link, int argc, char **argv);
constexpr const char *LOCKSTEP_INPROCESS_ENTRY = "tstatInProcessMain";
constexpr const char *LOCKSTEP_INPROCESS_MODULE = "tstat-inprocess.so";
// In the module: the platform layer takes its clock, line and output from
// link (before anything else), and ends the application without ending the
// process (the module's exit()).
void lockstepAdoptInProcess(LockstepInProcess *link);
[[noreturn]] void lockstepExitInProcess(int status);

// The environment variable that names the application's end of the pair.
constexpr const char *LOCKSTEP_FD_VARIABLE = "TSTAT_LOCKSTEP_FD";
// In lock-step time the coprocessor's line is the region's two rings: a
// pseudo-terminal hands each write to a kernel worker, and even a socket
// costs a system call a read or write. Under this variable the simulator
// hands over one end of a stream socket pair that stands for the line; the
// application opens its serial port as usual, gets a copy of it, and its
// reads and writes of the port go through the rings.
constexpr const char *LOCKSTEP_LINK_FD_VARIABLE = "TSTAT_LOCKSTEP_LINK_FD";
