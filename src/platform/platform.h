// Platform layer: the only code that knows whether tstat runs on the board or
// on the simulated board of a development host.
//
// The rest of the system opens device and system files through
// platformOpenDevice() or with ordinary calls on the paths that platformPath()
// returns, and reaches the clocks, sleeps, shell commands and the I/O
// controller only through the functions below.
//
// Board flavour: paths are used as they are, the clocks are clock_gettime()
// and time(), shell commands go to system(), and the I/O controller is the
// system-controller page of /dev/mem.
//
// Host flavour (the simulated board):
//  - every absolute path is rooted under $TSTAT_ROOT (default "./board");
//  - $TSTAT_TIME_SCALE (default 1) makes the monotonic clock, the wall clock
//    and every sleep run that many times faster than the host's; processes
//    that must agree on simulated time share $TSTAT_TIME_ANCHOR (a host
//    CLOCK_MONOTONIC reading in nanoseconds from which simulated time is
//    scaled; by default the moment the process first reads a clock);
//  - the wall clock is the scaled host clock plus a system-clock offset that
//    starts from sim/rtc and that the interpreted "date" command changes;
//  - shell commands are interpreted, logged to sim/shell.log, and anything
//    not known is refused;
//  - the I/O controller is simulated: coil pulses latch relays, reported in
//    sim/relays and sim/relay-log, and the test pin reads sim/test-pin.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <sys/types.h>

// Wall-clock seconds are 64-bit everywhere, past 2038-01-19 too: a 32-bit
// target builds with _TIME_BITS=64 (see the top-level CMakeLists.txt).
static_assert(sizeof(time_t) == 8, "tstat needs a 64-bit time_t");

// ---- Paths ----------------------------------------------------------------

// Writes the path under which the design's absolute path `designPath` is
// opened into buf. Returns buf, or nullptr (with buf emptied) when the result
// does not fit in len bytes. Relative paths are returned unchanged.
char *platformPath(const char *designPath, char *buf, size_t len);

// Opens the device or system file at the design's path with open()'s flags;
// returns the descriptor, or -1 with errno set. The simulated board opens its
// stand-in file under the board root and never follows a symbolic link in
// its place (it fails with ELOOP): the board root's files are its own.
int platformOpenDevice(const char *designPath, int flags);

// Opens a serial port (the path as platformPath gives it) read-write,
// non-blocking and not as the controlling terminal; returns the descriptor,
// or -1 with errno set. The simulated board may hand over a line of its own
// instead.
int platformOpenSerial(const char *path);

// Reads from and writes to a serial port that platformOpenSerial opened, as
// read() and write() do (non-blocking: -1 with EAGAIN when nothing waits).
// The simulated board in lock-step time carries its coprocessor's line in
// shared memory, where these take and put the bytes without a system call.
ssize_t platformSerialRead(int fd, void *data, size_t size);
ssize_t platformSerialWrite(int fd, const void *data, size_t size);

// The board root ("" on the board).
const char *platformRoot();

// ---- Clocks and sleeps ----------------------------------------------------

// The monotonic clock that every timer uses.
void platformMonotonic(struct timespec *now);

// Wall-clock seconds since 1970-01-01 UTC, as time() gives them; -1 when the
// clock cannot be read.
int64_t platformWallTime();

// Milliseconds of monotonic time since the application started: since the
// time anchor on the simulated board (see above), else since the platform
// layer first read a clock.
int64_t platformUptimeMs();

// Sleeps for ms milliseconds of (simulated) time.
void platformSleepMs(uint32_t ms);

// Told when a timer is armed to expire at the given monotonic time. The
// board ignores it; a simulated board in lock-step time wakes the
// application at the earliest deadline.
void platformNoteTimer(const void *timer, const struct timespec *deadline);

// Called once per main-loop pass: gives up the processor for about a
// millisecond (of simulated time on the host), so that the loop does not
// keep the core busy; in lock-step time the host hands over to the simulator.
void platformLoopYield();
// Called when a read of the coprocessor's line took all it held (a short
// read, or nothing to read). In lock-step time on the simulated board it is
// told with the next answer, so that the simulator need not ask the kernel
// what is left; nothing elsewhere.
void platformNoteLineDrained();
// Whether key events may wait on the key device. On the simulated board in
// lock-step time the simulator tells with each instant whether it left any,
// so that an idle pass does not ask the kernel; true everywhere else.
bool platformKeysMayWait();

// How many times faster than the host's clock simulated time runs (1 on the board).
double platformTimeScale();

// Host only: changes the time scale of every process that shares this
// process's time anchor (the simulator and the application it started). The
// change is written to sim/clock and takes effect in all of them at the same
// simulated instant, a quarter of a host second from now. Returns -1 on the
// board, for a scale that is not a positive number, while the previous change
// is not in force yet, or when sim/clock cannot be written.
int platformSetTimeScale(double scale);

// ---- Flash writes ---------------------------------------------------------

// Writes to the open device of a flash region, as write() does, at its file
// offset. On the board the MTD block device erases and programs the erase
// blocks the write touches. The simulated board does the same with a region
// file whose erase blocks are `eraseSize` bytes (0: written as it is): each
// block the write touches is read, erased to 0xFF and programmed again with
// the new bytes in it, and a test can cut the power at any of these steps
// (platform_test.h).
ssize_t platformFlashWrite(int fd, const void *data, size_t len, size_t eraseSize);

// ---- Shell commands -------------------------------------------------------

// Runs one of the design's shell commands. Returns what system() returns:
// -1 when the command could not be started (or is refused on the host), else
// the command's wait status (0 for success).
int platformSystem(const char *command);

// ---- I/O controller --------------------------------------------------------

// Size of the system-controller page that holds the PIO controllers.
constexpr uint32_t PLATFORM_IO_PAGE_SIZE = 4096;
// Physical address at which that page is mapped.
constexpr uint32_t PLATFORM_IO_PAGE_BASE = 0xFFFFF000u;

// Result of platformIoMap().
enum PlatformIoResult : int {
    PLATFORM_IO_OK = 0,
    PLATFORM_IO_OPEN_FAILED = -1, // errno tells why
    PLATFORM_IO_MAP_FAILED = -2,  // errno tells why
};

// Opens and maps the system-controller page (once; later calls return OK).
PlatformIoResult platformIoMap();

// 32-bit register access at a byte offset within the mapped page. Ignored
// (reads give 0) until the page is mapped or for offsets outside it.
void platformIoWrite(uint32_t offset, uint32_t value);
uint32_t platformIoRead(uint32_t offset);

// ---- Display ----------------------------------------------------------------

// The video mode to ask for: 240 x 320 x 16 on the host; zeros on the board,
// meaning the frame buffer's own mode.
void platformVideoMode(int *width, int *height, int *bitsPerPixel);

// ---- Life cycle -------------------------------------------------------------

// Forgets all platform state (environment, clocks, offset, simulated I/O) so
// that the next call starts afresh. For tests.
void platformReset();
