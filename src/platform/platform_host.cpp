// Host flavour of the platform layer: paths rooted in the simulated board,
// scaled and fake clocks, and the interpreter of the design's shell commands.
#include "platform/host_internal.h"
#include "platform/lockstep.h"
#include "platform/platform.h"
#include "platform/platform_test.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int64_t NS_PER_SEC = 1000000000;
constexpr int64_t NS_PER_MS = 1000000;
constexpr const char *DEFAULT_ROOT = "./board";
// A change of the time scale takes effect this much host time after it is
// written to sim/clock, and every process looks at that file at least every
// CLOCK_CHECK_NS of host time, so all of them switch at the same instant.
constexpr int64_t SCALE_SWITCH_LEAD_NS = 250 * NS_PER_MS;
constexpr int64_t CLOCK_CHECK_NS = 20 * NS_PER_MS;
// Realtime minus monotonic host time while a test drives the host clock.
constexpr int64_t TEST_HOST_REALTIME_OFFSET_NS = 1700000000 * NS_PER_SEC;
constexpr int64_t MS_PER_SEC = 1000;
// Timers armed at once that lock-step time keeps track of; the application
// has a few dozen, each re-armed in its own slot.
constexpr size_t LOCKSTEP_TIMERS = 96;

// In lock-step time the simulator sets the clock. The application reports,
// when it has nothing more to do, the earliest deadline of its timers; its
// wall-clock logic (the control period, the program's minutes) can only
// change on a whole second, so it also wakes at each one.
struct LockstepTimer {
    const void *timer;
    int64_t deadlineMs;
};

struct Lockstep {
    int fd = -1;     // the socket that tells when the simulator has gone
    int linkFd = -1; // the coprocessor's line, when the simulator hands one over
    LockstepShared *shared = nullptr;
    LockstepInProcess *inProcess = nullptr; // run in the simulator's process
    int outputFd = STDOUT_FILENO;
    int64_t monoMs = 0;
    int64_t wallMs = 0;
    uint32_t flags = 0;
    uint32_t answerFlags = 0; // told with the next IDLE or SLEEP
    std::array<LockstepTimer, LOCKSTEP_TIMERS> timers{};
};

// A stretch of simulated time: from host monotonic time hostNs on, simulated
// time runs `scale` times faster, starting from simNs.
struct ClockSegment {
    int64_t hostNs;
    int64_t simNs;
    double scale;
};

struct HostState {
    bool initialised;
    char root[PATH_MAX];
    int64_t anchorMonoNs; // host monotonic time from which simulated time is scaled
    int64_t startMonoNs;  // simulated monotonic time when the platform started
    ClockSegment segment; // the time scale in force
    bool nextPending;     // a change of scale read from sim/clock, not yet in force
    ClockSegment next;
    int64_t nextCheckNs;  // host time of the next look at sim/clock
    int64_t lastSimNs;    // simulated time last returned (it never goes back)
    bool hostClockDriven; // a test drives the host's clock
    int64_t hostClockNs;
    bool fake;
    int64_t fakeMonoNs;
    int64_t fakeWallNs;
    bool offsetLoaded;
    int64_t offsetSec; // system-clock offset over the (scaled) host clock
    // A power cut in flash writes that a test arranged: the steps left.
    bool flashCut;
    int64_t flashStepsLeft;
};

HostState m_Host;
Lockstep m_Lockstep;

bool lockstepOn() {
    return m_Lockstep.fd >= 0 || m_Lockstep.inProcess != nullptr;
}

// Host milliseconds of one wait for the simulator's NOW, after which the
// application looks whether the simulator is still there.
constexpr int LOCKSTEP_WAIT_SLICE_MS = 1000;

[[noreturn]] void lockstepClosed() {
    puts("lock-step clock closed: the simulator has ended");
    exit(0);
}

// Whether the simulator's end of the socket is closed (it has ended).
bool simulatorGone() {
    char byte = 0;
    ssize_t got = recv(m_Lockstep.fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

// Answers the present NOW and gives the turn back. The simulator may have
// closed the clock meanwhile (an end signal): then the process ends.
void sendLockstep(uint32_t kind, int64_t monoMs) {
    LockstepChannel &channel = m_Lockstep.shared->channel;
    channel.answer = LockstepMessage{kind, m_Lockstep.answerFlags, monoMs, 0};
    m_Lockstep.answerFlags = 0;
    uint32_t mine = LOCKSTEP_TURN_APPLICATION;
    // The exchange alone gives the turn back. A simulator that is awake
    // (its wait timed out in a long turn) may take its turn at once and
    // hand the next NOW over before the wake below: a second store of the
    // turn here would take that NOW away, and the simulator would read
    // this answer again.
    if (!channel.turn.compare_exchange_strong(mine, LOCKSTEP_TURN_SIMULATOR,
                                              std::memory_order_acq_rel)) {
        lockstepClosed();
    }
    if (m_Lockstep.inProcess == nullptr) {
        lockstepWakeTurn(&channel);
    }
}

// Waits for the simulator's next NOW. Without a simulator there is no more
// time: the process ends as it does on a stop request.
void awaitLockstepNow() {
    LockstepChannel &channel = m_Lockstep.shared->channel;
    LockstepInProcess *link = m_Lockstep.inProcess;
    for (;;) {
        uint32_t turn = channel.turn.load(std::memory_order_acquire);
        if (turn == LOCKSTEP_TURN_SIMULATOR && link != nullptr) {
            link->toSimulator(link->context);
            continue;
        }
        if (turn == LOCKSTEP_TURN_SIMULATOR) {
            turn = lockstepAwaitTurnChange(&channel, turn, LOCKSTEP_WAIT_SLICE_MS);
        }
        if (turn == LOCKSTEP_TURN_APPLICATION) {
            m_Lockstep.monoMs = channel.now.monoMs;
            m_Lockstep.wallMs = channel.now.wallMs;
            m_Lockstep.flags = channel.now.flags;
            return;
        }
        if (turn != LOCKSTEP_TURN_SIMULATOR || simulatorGone()) {
            lockstepClosed();
        }
    }
}

// The simulator learns at once that the application is ending (the fourth
// key, a stop request), without waiting for its process to go.
void noteLockstepEnd() {
    if (m_Lockstep.shared != nullptr) {
        lockstepGiveTurn(&m_Lockstep.shared->channel, LOCKSTEP_TURN_ENDED);
    }
}

// Standard output in lock-step time: each write is told with the next
// answer, so that the simulator reads the output only after a turn that
// wrote some. Lines still go out as they end.
ssize_t writeOutput(void *, const char *data, size_t size) {
    m_Lockstep.answerFlags |= LOCKSTEP_OUTPUT_WRITTEN;
    size_t done = 0;
    while (done < size) {
        ssize_t put = write(m_Lockstep.outputFd, data + done, size - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return done > 0 ? static_cast<ssize_t>(done) : -1;
        }
        done += static_cast<size_t>(put);
    }
    return static_cast<ssize_t>(done);
}

void watchOutput() {
    static bool watched = false;
    if (watched) {
        return;
    }
    fflush(stdout);
    cookie_io_functions_t functions{nullptr, writeOutput, nullptr, nullptr};
    FILE *out = fopencookie(nullptr, "w", functions);
    if (out == nullptr) {
        return;
    }
    setvbuf(out, nullptr, _IOLBF, BUFSIZ);
    stdout = out;
    watched = true;
    // What was written before is read after the first turn.
    m_Lockstep.answerFlags |= LOCKSTEP_OUTPUT_WRITTEN;
}

// The simulator's descriptor from the environment (or the link of the
// application in the simulator's process), and the first instant.
void startLockstep() {
    if (LockstepInProcess *link = m_Lockstep.inProcess) {
        m_Lockstep.shared = link->shared;
        m_Lockstep.linkFd = link->linkFd;
        m_Lockstep.outputFd = link->outputFd;
        watchOutput();
        awaitLockstepNow();
        return;
    }
    const char *text = getenv(LOCKSTEP_FD_VARIABLE);
    if (text == nullptr || *text == '\0') {
        return;
    }
    char *end = nullptr;
    long fd = strtol(text, &end, 10);
    if (end == text || *end != '\0' || fd < 0) {
        printf("%s \"%s\" is not a descriptor; the clock runs freely\n", LOCKSTEP_FD_VARIABLE,
               text);
        return;
    }
    m_Lockstep.fd = static_cast<int>(fd);
    int sharedFd = lockstepReceiveDescriptor(m_Lockstep.fd);
    m_Lockstep.shared = sharedFd >= 0 ? lockstepMapShared(sharedFd) : nullptr;
    if (sharedFd >= 0) {
        close(sharedFd);
    }
    if (m_Lockstep.shared == nullptr) {
        lockstepClosed();
    }
    const char *link = getenv(LOCKSTEP_LINK_FD_VARIABLE);
    long linkFd = link != nullptr ? strtol(link, &end, 10) : -1;
    if (link != nullptr && end != link && *end == '\0' && linkFd >= 0) {
        m_Lockstep.linkFd = static_cast<int>(linkFd);
        // Not passed on to the shell commands the application runs.
        fcntl(m_Lockstep.linkFd, F_SETFD, FD_CLOEXEC);
    }
    fcntl(m_Lockstep.fd, F_SETFD, FD_CLOEXEC);
    atexit(noteLockstepEnd);
    watchOutput();
    awaitLockstepNow();
}

// The earliest instant after now at which the application has something
// to do: a timer's deadline, or the next whole second.
int64_t lockstepWakeMs() {
    int64_t now = m_Lockstep.monoMs;
    int64_t wake = (now / MS_PER_SEC + 1) * MS_PER_SEC;
    for (LockstepTimer &t : m_Lockstep.timers) {
        if (t.timer == nullptr) {
            continue;
        }
        if (t.deadlineMs <= now) {
            t = LockstepTimer{};
        } else if (t.deadlineMs < wake) {
            wake = t.deadlineMs;
        }
    }
    return wake;
}

int64_t readHostClock(clockid_t id) {
    if (m_Host.hostClockDriven) {
        return m_Host.hostClockNs + (id == CLOCK_REALTIME ? TEST_HOST_REALTIME_OFFSET_NS : 0);
    }
    struct timespec ts {};
    clock_gettime(id, &ts);
    return static_cast<int64_t>(ts.tv_sec) * NS_PER_SEC + ts.tv_nsec;
}

double parseScale(const char *text) {
    if (text == nullptr || *text == '\0') {
        return 1.0;
    }
    char *end = nullptr;
    double value = strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || value <= 0.0) {
        printf("TSTAT_TIME_SCALE \"%s\" is not a positive number; using 1\n", text);
        return 1.0;
    }
    return value;
}

void ensureInit() {
    if (m_Host.initialised) {
        return;
    }
    m_Host.initialised = true;
    const char *root = getenv("TSTAT_ROOT");
    if (root == nullptr || *root == '\0') {
        root = DEFAULT_ROOT;
    }
    size_t len = strlen(root);
    // A trailing slash would double the one every design path starts with.
    while (len > 1 && root[len - 1] == '/') {
        len--;
    }
    if (len >= sizeof(m_Host.root)) {
        printf("TSTAT_ROOT is too long; using %s\n", DEFAULT_ROOT);
        snprintf(m_Host.root, sizeof(m_Host.root), "%s", DEFAULT_ROOT);
    } else {
        snprintf(m_Host.root, sizeof(m_Host.root), "%.*s", static_cast<int>(len), root);
    }
    double scale = parseScale(getenv("TSTAT_TIME_SCALE"));
    const char *anchor = getenv("TSTAT_TIME_ANCHOR");
    char *end = nullptr;
    long long anchorNs = anchor != nullptr ? strtoll(anchor, &end, 10) : 0;
    if (anchor != nullptr && end != anchor && *end == '\0' && anchorNs > 0) {
        // Started by the simulator: the application's life began at the anchor.
        m_Host.anchorMonoNs = anchorNs;
    } else {
        m_Host.anchorMonoNs = readHostClock(CLOCK_MONOTONIC);
    }
    m_Host.startMonoNs = m_Host.anchorMonoNs;
    m_Host.segment = {m_Host.anchorMonoNs, m_Host.anchorMonoNs, scale};
    m_Host.lastSimNs = INT64_MIN;
    startLockstep();
    if (lockstepOn()) {
        m_Host.startMonoNs = m_Lockstep.monoMs * NS_PER_MS;
    }
}

int64_t simAt(const ClockSegment &segment, int64_t hostMonoNs) {
    long double elapsed = static_cast<long double>(hostMonoNs - segment.hostNs);
    return segment.simNs + static_cast<int64_t>(elapsed * segment.scale);
}

// sim/clock: "ANCHOR HOST SIM SCALE", the latest change of the time scale of
// the processes that share the time anchor ANCHOR. Returns false when the
// file is missing, malformed or belongs to another anchor.
bool readClockFile(ClockSegment *out) {
    char path[PATH_MAX];
    if (hostSimPath("clock", path, sizeof(path)) == nullptr) {
        return false;
    }
    FILE *f = fopen(path, "r");
    if (f == nullptr) {
        return false;
    }
    long long anchor = 0, host = 0, sim = 0;
    double scale = 0.0;
    int fields = fscanf(f, "%lld %lld %lld %lf", &anchor, &host, &sim, &scale);
    fclose(f);
    if (fields != 4 || anchor != m_Host.anchorMonoNs || !std::isfinite(scale) || scale <= 0.0) {
        return false;
    }
    *out = {host, sim, scale};
    return true;
}

// Looks at sim/clock now and then for a change of scale written by another
// process, and puts a change in force once its instant has come.
void followScaleChanges(int64_t hostMonoNs) {
    if (hostMonoNs >= m_Host.nextCheckNs) {
        m_Host.nextCheckNs = hostMonoNs + CLOCK_CHECK_NS;
        ClockSegment change;
        if (readClockFile(&change) && change.hostNs > m_Host.segment.hostNs &&
            (!m_Host.nextPending || change.hostNs != m_Host.next.hostNs)) {
            m_Host.next = change;
            m_Host.nextPending = true;
        }
    }
    if (m_Host.nextPending && hostMonoNs >= m_Host.next.hostNs) {
        m_Host.segment = m_Host.next;
        m_Host.nextPending = false;
    }
}

// Simulated monotonic time at a host monotonic time. A process that saw a
// change of scale late (it was not scheduled for longer than the lead) may
// find the shared clock behind what it already returned: it then holds still
// until the shared clock catches up, so its clock never goes back.
int64_t simFromHost(int64_t hostMonoNs) {
    followScaleChanges(hostMonoNs);
    int64_t sim = simAt(m_Host.segment, hostMonoNs);
    if (sim < m_Host.lastSimNs) {
        sim = m_Host.lastSimNs;
    }
    m_Host.lastSimNs = sim;
    return sim;
}

// Wall clock in nanoseconds before the system-clock offset is applied.
int64_t wallNsWithoutOffset() {
    ensureInit();
    if (m_Host.fake) {
        return m_Host.fakeWallNs;
    }
    if (lockstepOn()) {
        return m_Lockstep.wallMs * NS_PER_MS;
    }
    int64_t mono = readHostClock(CLOCK_MONOTONIC);
    int64_t real = readHostClock(CLOCK_REALTIME);
    // The wall clock gains on the host's what the simulated monotonic clock
    // gained since the anchor.
    return real + (simFromHost(mono) - mono);
}

int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

int64_t wallSecondsWithoutOffset() {
    return floorDiv(wallNsWithoutOffset(), NS_PER_SEC);
}

// Reads sim/rtc; a missing or unreadable file is an offset of 0.
int64_t readRtcOffset() {
    char path[PATH_MAX];
    if (hostSimPath("rtc", path, sizeof(path)) == nullptr) {
        return 0;
    }
    FILE *f = fopen(path, "r");
    if (f == nullptr) {
        return 0;
    }
    long long offset = 0;
    if (fscanf(f, "%lld", &offset) != 1) {
        offset = 0;
    }
    fclose(f);
    return offset;
}

void ensureOffset() {
    ensureInit();
    if (!m_Host.offsetLoaded) {
        m_Host.offsetLoaded = true;
        m_Host.offsetSec = readRtcOffset();
    }
}

constexpr int exitStatus(int code) {
    return code << 8;
}

void appendShellLog(const char *command) {
    char path[PATH_MAX];
    if (hostSimPath("shell.log", path, sizeof(path)) == nullptr) {
        return;
    }
    FILE *f = hostOpenOwnLog(path, false);
    if (f != nullptr) {
        fprintf(f, "%s\n", command);
        fclose(f);
    }
}

bool parseDigits(const char *text, int count, int *value) {
    int v = 0;
    for (int i = 0; i < count; i++) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        v = v * 10 + (text[i] - '0');
    }
    *value = v;
    return true;
}

// "date MMDDhhmm[YYYY][.ss]": sets the offset so that local time becomes that
// moment. Like the real command it fails (status 1) on a malformed or
// impossible date and leaves the clock alone.
int runDate(const char *arg) {
    size_t len = strlen(arg);
    const char *dot = strchr(arg, '.');
    size_t mainLen = dot != nullptr ? static_cast<size_t>(dot - arg) : len;
    int month, day, hour, minute, year, second = 0;
    if ((mainLen != 8 && mainLen != 12) || !parseDigits(arg, 2, &month) ||
        !parseDigits(arg + 2, 2, &day) || !parseDigits(arg + 4, 2, &hour) ||
        !parseDigits(arg + 6, 2, &minute)) {
        return exitStatus(1);
    }
    ensureOffset();
    time_t nowLocal = static_cast<time_t>(wallSecondsWithoutOffset() + m_Host.offsetSec);
    struct tm current {};
    localtime_r(&nowLocal, &current);
    year = current.tm_year + 1900;
    if (mainLen == 12 && !parseDigits(arg + 8, 4, &year)) {
        return exitStatus(1);
    }
    if (dot != nullptr && (strlen(dot) != 3 || !parseDigits(dot + 1, 2, &second))) {
        return exitStatus(1);
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 ||
        year < 1970) {
        return exitStatus(1);
    }
    struct tm wanted {};
    wanted.tm_year = year - 1900;
    wanted.tm_mon = month - 1;
    wanted.tm_mday = day;
    wanted.tm_hour = hour;
    wanted.tm_min = minute;
    wanted.tm_sec = second;
    wanted.tm_isdst = -1;
    time_t target = mktime(&wanted);
    // mktime() normalises 31 February or a time skipped by daylight saving;
    // the real command rejects those.
    if (target == static_cast<time_t>(-1) || wanted.tm_mday != day || wanted.tm_mon != month - 1 ||
        wanted.tm_hour != hour || wanted.tm_min != minute) {
        return exitStatus(1);
    }
    m_Host.offsetSec = static_cast<int64_t>(target) - wallSecondsWithoutOffset();
    return 0;
}

int runHwclockSystohc() {
    ensureOffset();
    char path[PATH_MAX];
    if (hostSimPath("rtc", path, sizeof(path)) == nullptr) {
        return exitStatus(1);
    }
    char line[32];
    int n = snprintf(line, sizeof(line), "%lld\n", static_cast<long long>(m_Host.offsetSec));
    return hostWriteFileAtomic(path, line, static_cast<size_t>(n)) == 0 ? 0 : exitStatus(1);
}

int runHwclockHctosys() {
    ensureInit();
    m_Host.offsetLoaded = true;
    m_Host.offsetSec = readRtcOffset();
    return 0;
}

bool isTmpPath(const char *path) {
    return strncmp(path, "/tmp/", 5) == 0 && path[5] != '\0' && strstr(path, "..") == nullptr;
}

// The two /tmp paths of "SRC DST"; false for any other argument.
bool copyArguments(const char *args, char (&src)[PATH_MAX], char (&dst)[PATH_MAX]) {
    const char *space = strchr(args, ' ');
    if (space == nullptr || strchr(space + 1, ' ') != nullptr) {
        return false;
    }
    size_t srcLen = static_cast<size_t>(space - args);
    if (srcLen >= sizeof(src)) {
        return false;
    }
    snprintf(src, sizeof(src), "%.*s", static_cast<int>(srcLen), args);
    snprintf(dst, sizeof(dst), "%s", space + 1);
    return isTmpPath(src) && isTmpPath(dst);
}

// Writes all of data at offset at; false on an error.
bool writeAt(int fd, const uint8_t *data, size_t len, off_t at) {
    while (len > 0) {
        ssize_t n = pwrite(fd, data, len, at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        len -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

// Copies in to out up to the end of in; false on an error.
bool copyAll(int in, int out) {
    uint8_t buf[8192];
    off_t at = 0;
    for (;;) {
        ssize_t got = read(in, buf, sizeof(buf));
        if (got == 0) {
            return true;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (!writeAt(out, buf, static_cast<size_t>(got), at)) {
            return false;
        }
        at += got;
    }
}

// The copy's target, emptied; -1 unless it is a regular file with no other
// name (it is not followed through a link).
int openCopyTarget(const char *path) {
    int out = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    struct stat st {};
    if (out < 0 || fstat(out, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
        ftruncate(out, 0) != 0) {
        if (out >= 0) {
            close(out);
        }
        return -1;
    }
    return out;
}

// "cp /tmp/SRC /tmp/DST": the hand-over of a downloaded archive.
int runCopy(const char *args) {
    char src[PATH_MAX];
    char dst[PATH_MAX];
    if (!copyArguments(args, src, dst)) {
        return -1;
    }
    char srcPath[PATH_MAX];
    char dstPath[PATH_MAX];
    if (platformPath(src, srcPath, sizeof(srcPath)) == nullptr ||
        platformPath(dst, dstPath, sizeof(dstPath)) == nullptr) {
        return exitStatus(1);
    }
    // The source is not followed through a link either.
    int in = open(srcPath, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) {
        return exitStatus(1);
    }
    int out = openCopyTarget(dstPath);
    if (out < 0) {
        close(in);
        return exitStatus(1);
    }
    bool ok = copyAll(in, out);
    close(in);
    if (close(out) != 0) {
        ok = false;
    }
    return ok ? 0 : exitStatus(1);
}

} // namespace

bool hostFakeClock() {
    ensureInit();
    return m_Host.fake;
}

int64_t hostSimMonoNs() {
    ensureInit();
    if (m_Host.fake) {
        return m_Host.fakeMonoNs;
    }
    if (lockstepOn()) {
        return m_Lockstep.monoMs * NS_PER_MS;
    }
    return simFromHost(readHostClock(CLOCK_MONOTONIC));
}

char *hostSimPath(const char *name, char *buf, size_t len) {
    char dir[PATH_MAX];
    if (platformPath("/sim", dir, sizeof(dir)) == nullptr) {
        return nullptr;
    }
    if (mkdir(dir, 0755) != 0 && errno == ENOENT) {
        // The board root itself is missing: make it, then the sim directory.
        mkdir(m_Host.root, 0755);
        mkdir(dir, 0755);
    }
    int n = snprintf(buf, len, "%s/%s", dir, name);
    if (n < 0 || static_cast<size_t>(n) >= len) {
        if (len > 0) {
            buf[0] = '\0';
        }
        return nullptr;
    }
    return buf;
}

FILE *hostOpenOwnLog(const char *path, bool empty) {
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (empty && ftruncate(fd, 0) != 0)) {
        close(fd);
        return nullptr;
    }
    FILE *f = fdopen(fd, "a");
    if (f == nullptr) {
        close(fd);
    }
    return f;
}

int hostWriteFileAtomic(const char *path, const char *data, size_t len) {
    char tmp[PATH_MAX];
    int n = snprintf(tmp, sizeof(tmp), "%s.tmp", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof(tmp)) {
        return -1;
    }
    unlink(tmp);
    int fd = open(tmp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return -1;
    }
    bool ok = write(fd, data, len) == static_cast<ssize_t>(len);
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp, path) != 0) {
        unlink(tmp);
        return -1;
    }
    return 0;
}

char *platformPath(const char *designPath, char *buf, size_t len) {
    ensureInit();
    int n = designPath[0] == '/' ? snprintf(buf, len, "%s%s", m_Host.root, designPath)
                                 : snprintf(buf, len, "%s", designPath);
    if (n < 0 || static_cast<size_t>(n) >= len) {
        if (len > 0) {
            buf[0] = '\0';
        }
        return nullptr;
    }
    return buf;
}

const char *platformRoot() {
    ensureInit();
    return m_Host.root;
}

int platformOpenDevice(const char *designPath, int flags) {
    char path[PATH_MAX];
    if (platformPath(designPath, path, sizeof(path)) == nullptr) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return open(path, flags | O_NOFOLLOW);
}

int platformOpenSerial(const char *path) {
    ensureInit();
    if (m_Lockstep.linkFd >= 0) {
        int fd = fcntl(m_Lockstep.linkFd, F_DUPFD_CLOEXEC, 0);
        if (fd >= 0) {
            lockstepAttachLine(fd, &m_Lockstep.shared->toApplication,
                               &m_Lockstep.shared->toSimulator);
        }
        return fd;
    }
    return open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
}

void platformMonotonic(struct timespec *now) {
    int64_t ns = hostSimMonoNs();
    now->tv_sec = static_cast<time_t>(ns / NS_PER_SEC);
    now->tv_nsec = static_cast<long>(ns % NS_PER_SEC);
}

int64_t platformWallTime() {
    ensureOffset();
    return wallSecondsWithoutOffset() + m_Host.offsetSec;
}

int64_t platformUptimeMs() {
    ensureInit();
    return (hostSimMonoNs() - m_Host.startMonoNs) / NS_PER_MS;
}

void lockstepAdoptInProcess(LockstepInProcess *link) {
    m_Lockstep.inProcess = link;
}

extern "C" void *__dso_handle;

void lockstepExitInProcess(int status) {
    LockstepInProcess *link = m_Lockstep.inProcess;
    if (link == nullptr) {
        _exit(status);
    }
    // What exit() would do for this module: its exit handlers (the last
    // screen) and its output, but not the end of the process.
    fflush(nullptr);
    abi::__cxa_finalize(&__dso_handle);
    fflush(nullptr);
    link->exitStatus = status;
    m_Lockstep.shared->channel.turn.store(LOCKSTEP_TURN_ENDED, std::memory_order_release);
    link->toSimulator(link->context);
    abort();
}

bool hostLockstep() {
    ensureInit();
    return lockstepOn();
}

bool hostLockstepPublishWanted() {
    return hostLockstep() && (m_Lockstep.flags & LOCKSTEP_PUBLISH_SCREEN) != 0;
}

void platformNoteLineDrained() {
    m_Lockstep.answerFlags |= LOCKSTEP_LINE_DRAINED;
}

void hostLockstepNoteRelaysWritten() {
    m_Lockstep.answerFlags |= LOCKSTEP_RELAYS_WRITTEN;
}

void platformSleepMs(uint32_t ms) {
    ensureInit();
    if (m_Host.fake) {
        platformFakeClockAdvanceMs(ms);
        return;
    }
    if (lockstepOn()) {
        sendLockstep(LOCKSTEP_SLEEP, m_Lockstep.monoMs + ms);
        awaitLockstepNow();
        return;
    }
    long double hostNs = static_cast<long double>(ms) * NS_PER_MS / platformTimeScale();
    struct timespec left {};
    left.tv_sec = static_cast<time_t>(hostNs / NS_PER_SEC);
    left.tv_nsec = static_cast<long>(hostNs - static_cast<long double>(left.tv_sec) * NS_PER_SEC);
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void platformLoopYield() {
    ensureInit();
    if (lockstepOn()) {
        sendLockstep(LOCKSTEP_IDLE, lockstepWakeMs());
        awaitLockstepNow();
        return;
    }
    platformSleepMs(1);
}

bool platformKeysMayWait() {
    return !lockstepOn() || (m_Lockstep.flags & LOCKSTEP_KEYS_WAITING) != 0;
}

void platformNoteTimer(const void *timer, const struct timespec *deadline) {
    if (!lockstepOn()) {
        return;
    }
    // Rounded up: woken at that millisecond, the timer has expired.
    int64_t ms = static_cast<int64_t>(deadline->tv_sec) * MS_PER_SEC +
                 (deadline->tv_nsec + NS_PER_MS - 1) / NS_PER_MS;
    LockstepTimer *slot = nullptr;
    for (LockstepTimer &t : m_Lockstep.timers) {
        if (t.timer == timer) {
            slot = &t;
            break;
        }
        if (slot == nullptr && t.timer == nullptr) {
            slot = &t;
        }
    }
    if (slot == nullptr) {
        // More timers armed at once than the table holds: the whole-second
        // wake still comes, so this one is at most a second late.
        printf("lock-step: more than %zu timers armed\n", LOCKSTEP_TIMERS);
        return;
    }
    *slot = LockstepTimer{timer, ms};
}

double platformTimeScale() {
    ensureInit();
    if (lockstepOn()) {
        return 1.0;
    }
    if (!m_Host.fake) {
        followScaleChanges(readHostClock(CLOCK_MONOTONIC));
    }
    return m_Host.segment.scale;
}

int platformSetTimeScale(double scale) {
    ensureInit();
    if (m_Host.fake || lockstepOn() || !std::isfinite(scale) || scale <= 0.0) {
        return -1;
    }
    int64_t host = readHostClock(CLOCK_MONOTONIC);
    followScaleChanges(host);
    if (m_Host.nextPending) {
        // The change before is not in force yet; another would leave a
        // process that missed one with a different history.
        return -1;
    }
    ClockSegment change = {host + SCALE_SWITCH_LEAD_NS, 0, scale};
    change.simNs = simAt(m_Host.segment, change.hostNs);
    char path[PATH_MAX];
    if (hostSimPath("clock", path, sizeof(path)) == nullptr) {
        return -1;
    }
    char line[128];
    int n = snprintf(
        line, sizeof(line), "%lld %lld %lld %.17g\n", static_cast<long long>(m_Host.anchorMonoNs),
        static_cast<long long>(change.hostNs), static_cast<long long>(change.simNs), scale);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof(line) ||
        hostWriteFileAtomic(path, line, static_cast<size_t>(n)) != 0) {
        return -1;
    }
    m_Host.next = change;
    m_Host.nextPending = true;
    return 0;
}

namespace {

// One step of a flash write: false, with errno EIO, once the power is cut.
bool flashStep() {
    if (!m_Host.flashCut) {
        return true;
    }
    if (m_Host.flashStepsLeft <= 0) {
        errno = EIO;
        return false;
    }
    m_Host.flashStepsLeft--;
    return true;
}

// The erase block being rewritten (saves run in the main loop, which does not
// allocate); a larger erase block is rewritten piece by piece, each piece of
// this size as a block of its own. Nothing of the region but the record and
// its copy lies in their blocks, so only the pieces a write touches matter.
uint8_t m_FlashBlock[256 * 1024];

bool eraseAt(int fd, size_t len, off_t at) {
    static const std::array<uint8_t, 4096> c_Erased = [] {
        std::array<uint8_t, 4096> erased{};
        erased.fill(0xFF);
        return erased;
    }();
    for (size_t done = 0; done < len; done += c_Erased.size()) {
        if (!writeAt(fd, c_Erased.data(), std::min(c_Erased.size(), len - done),
                     at + static_cast<off_t>(done))) {
            return false;
        }
    }
    return true;
}

// Rewrites the erase block at `start` of a region file with `data` at `at` in
// it: read, erased, then programmed half by half. Only the part of the block
// that the file holds or the write reaches is kept in the file, so a region
// stays the size that was written to it.
bool rewriteBlock(int fd, off_t start, off_t eraseSize, const uint8_t *data, size_t len, off_t at,
                  off_t fileSize) {
    const off_t end = std::min(start + eraseSize, std::max(fileSize, at + static_cast<off_t>(len)));
    const auto size = static_cast<size_t>(end - start);
    memset(m_FlashBlock, 0xFF, size);
    if (pread(fd, m_FlashBlock, size, start) < 0) {
        return false;
    }
    const off_t from = std::max(start, at);
    const off_t to = std::min(end, at + static_cast<off_t>(len));
    memcpy(m_FlashBlock + (from - start), data + (from - at), static_cast<size_t>(to - from));
    const size_t half = size / 2;
    return flashStep() && eraseAt(fd, size, start) && flashStep() &&
           writeAt(fd, m_FlashBlock, half, start) && flashStep() &&
           writeAt(fd, m_FlashBlock + half, size - half, start + static_cast<off_t>(half));
}

} // namespace

ssize_t platformFlashWrite(int fd, const void *data, size_t len, size_t eraseSize) {
    struct stat st {};
    const off_t at = lseek(fd, 0, SEEK_CUR);
    if (eraseSize == 0 || at < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        return flashStep() ? write(fd, data, len) : -1;
    }
    const auto *bytes = static_cast<const uint8_t *>(data);
    const auto size = static_cast<off_t>(std::min(eraseSize, sizeof(m_FlashBlock)));
    for (off_t start = at / size * size; start < at + static_cast<off_t>(len); start += size) {
        if (!rewriteBlock(fd, start, size, bytes, len, at, st.st_size)) {
            return -1;
        }
    }
    lseek(fd, at + static_cast<off_t>(len), SEEK_SET);
    return static_cast<ssize_t>(len);
}

void platformCutFlash(int64_t steps) {
    m_Host.flashCut = steps >= 0;
    m_Host.flashStepsLeft = steps;
}

int platformSystem(const char *command) {
    if (command == nullptr) {
        return 0;
    }
    appendShellLog(command);
    if (strncmp(command, "date ", 5) == 0) {
        return runDate(command + 5);
    }
    if (strcmp(command, "/sbin/hwclock --systohc") == 0) {
        return runHwclockSystohc();
    }
    if (strcmp(command, "/sbin/hwclock --hctosys") == 0) {
        return runHwclockHctosys();
    }
    if (strncmp(command, "cp ", 3) == 0) {
        return runCopy(command + 3);
    }
    return -1;
}

void platformVideoMode(int *width, int *height, int *bitsPerPixel) {
    *width = 240;
    *height = 320;
    *bitsPerPixel = 16;
}

void platformReset() {
    m_Host = HostState{};
    m_Lockstep = Lockstep{};
    hostIoReset();
    hostLinesReset();
}

void platformFakeClockSet(int64_t monoSeconds, int32_t monoNanoseconds, int64_t wallSeconds) {
    ensureInit();
    m_Host.fake = true;
    m_Host.fakeMonoNs = monoSeconds * NS_PER_SEC + monoNanoseconds;
    m_Host.fakeWallNs = wallSeconds * NS_PER_SEC;
    m_Host.startMonoNs = m_Host.fakeMonoNs;
}

void platformFakeClockAdvanceMs(uint64_t ms) {
    ensureInit();
    m_Host.fakeMonoNs += static_cast<int64_t>(ms) * NS_PER_MS;
    m_Host.fakeWallNs += static_cast<int64_t>(ms) * NS_PER_MS;
}

void platformFakeClockSetWall(int64_t wallSeconds) {
    ensureInit();
    m_Host.fakeWallNs = wallSeconds * NS_PER_SEC;
}

void platformDriveHostClock(int64_t monotonicNs) {
    m_Host.hostClockDriven = true;
    m_Host.hostClockNs = monotonicNs;
}

int64_t platformClockOffset() {
    ensureOffset();
    return m_Host.offsetSec;
}
