// Host flavour of the platform layer: path rooting, clocks and time scale,
// the interpreter of the shell commands, and the line of lock-step time in
// shared memory.
#include "platform/platform_test.h"
#include "platform/lockstep.h"
#include "platform/platform.h"

#include "board_root.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Leaves the platform as it found it: no root, scale or anchor from the environment.
class PlatformTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const char *name : {"TSTAT_ROOT", "TSTAT_TIME_SCALE", "TSTAT_TIME_ANCHOR"}) {
            unsetenv(name);
        }
        platformReset();
    }
};
using PlatformPaths = PlatformTest;
using PlatformClock = PlatformTest;

TEST_F(PlatformPaths, DesignPathsAreRootedUnderTheBoardRoot) {
    char buf[256];
    unsetenv("TSTAT_ROOT");
    platformReset();
    EXPECT_STREQ(platformPath("/dev/mtdblock5", buf, sizeof(buf)), "./board/dev/mtdblock5");

    setenv("TSTAT_ROOT", "/tmp/some-root//", 1);
    platformReset();
    EXPECT_STREQ(platformRoot(), "/tmp/some-root");
    EXPECT_STREQ(platformPath("/sys/class/backlight/backlight/brightness", buf, sizeof(buf)),
                 "/tmp/some-root/sys/class/backlight/backlight/brightness");
    // Relative paths (the screens' images and fonts) stay relative.
    EXPECT_STREQ(platformPath("images/zeph.glyph", buf, sizeof(buf)), "images/zeph.glyph");
    // A result that does not fit is refused, never cut.
    char small[20];
    EXPECT_EQ(platformPath("/dev/input/event0", small, sizeof(small)), nullptr);
    EXPECT_STREQ(small, "");
}

TEST_F(PlatformClock, TimeScaleStretchesClocksAndShortensSleeps) {
    TempBoardRoot root;
    setenv("TSTAT_TIME_SCALE", "200", 1);
    platformReset();
    EXPECT_DOUBLE_EQ(platformTimeScale(), 200.0);
    struct timespec before, after;
    platformMonotonic(&before);
    int64_t wallBefore = platformWallTime();
    auto hostStart = std::chrono::steady_clock::now();
    platformSleepMs(2000); // 10 ms of host time
    auto hostMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - hostStart)
                      .count();
    platformMonotonic(&after);
    int64_t simMs =
        (after.tv_sec - before.tv_sec) * 1000 + (after.tv_nsec - before.tv_nsec) / 1000000;
    EXPECT_GE(simMs, 2000);
    EXPECT_LT(hostMs, 1000);
    EXPECT_GE(platformWallTime() - wallBefore, 1);
    EXPECT_GE(platformUptimeMs(), 2000);

    setenv("TSTAT_TIME_SCALE", "-3", 1);
    platformReset();
    EXPECT_DOUBLE_EQ(platformTimeScale(), 1.0);
}

TEST_F(PlatformClock, SharedAnchorLetsProcessesAgreeOnSimulatedTime) {
    TempBoardRoot root;
    struct timespec host;
    clock_gettime(CLOCK_MONOTONIC, &host);
    int64_t hostNs = static_cast<int64_t>(host.tv_sec) * 1000000000 + host.tv_nsec;
    // Anchored one host second ago at scale 100: 100 s of simulated time have passed.
    setenv("TSTAT_TIME_SCALE", "100", 1);
    setenv("TSTAT_TIME_ANCHOR", std::to_string(hostNs - 1000000000).c_str(), 1);
    platformReset();
    struct timespec sim;
    platformMonotonic(&sim);
    int64_t aheadSec = sim.tv_sec - host.tv_sec;
    EXPECT_GE(aheadSec, 98);
    EXPECT_LE(aheadSec, 105);
    int64_t wallAhead = platformWallTime() - time(nullptr);
    EXPECT_GE(wallAhead, 98);
    EXPECT_LE(wallAhead, 105);
}

// Time scale changes at run time: every process that shares the anchor
// switches at the same simulated instant, whenever it reads sim/clock.
constexpr int64_t ANCHOR_NS = 1000000000000;
constexpr int64_t MS = 1000000;

// A process sharing the anchor at scale 10, its host clock at `hostMs` past
// the anchor (platformReset() forgets the previous one's state, as a second
// process starts without it).
void startProcess(int64_t hostMs) {
    setenv("TSTAT_TIME_SCALE", "10", 1);
    setenv("TSTAT_TIME_ANCHOR", std::to_string(ANCHOR_NS).c_str(), 1);
    platformReset();
    platformDriveHostClock(ANCHOR_NS + hostMs * MS);
}

// Simulated milliseconds since the anchor at host time `hostMs` past it.
int64_t simMsAt(int64_t hostMs) {
    platformDriveHostClock(ANCHOR_NS + hostMs * MS);
    struct timespec ts;
    platformMonotonic(&ts);
    return (static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec - ANCHOR_NS) / MS;
}

TEST_F(PlatformClock, ScaleChangeTakesEffectAtOneInstantInEveryProcess) {
    TempBoardRoot root;
    startProcess(1000);
    EXPECT_EQ(simMsAt(1000), 10000);
    int64_t wallBefore = platformWallTime();
    // Written at host 1000 ms: in force from host 1250 ms, simulated 12500 ms.
    ASSERT_EQ(platformSetTimeScale(100), 0);
    EXPECT_EQ(platformSetTimeScale(50), -1); // the first is not in force yet
    EXPECT_EQ(platformSetTimeScale(0), -1);
    EXPECT_DOUBLE_EQ(platformTimeScale(), 10.0);
    struct Case {
        int64_t hostMs;
        int64_t simMs;
    };
    const Case cases[] = {{1249, 12490}, {1250, 12500}, {1251, 12600}, {2250, 112500}};
    for (const Case &c : cases) {
        EXPECT_EQ(simMsAt(c.hostMs), c.simMs) << "writer at host " << c.hostMs;
    }
    EXPECT_DOUBLE_EQ(platformTimeScale(), 100.0);
    // The wall clock gained what the monotonic clock gained.
    EXPECT_EQ(platformWallTime() - wallBefore, 102);

    // Another process, started before the switch, and one started after it.
    startProcess(1100);
    for (const Case &c : cases) {
        EXPECT_EQ(simMsAt(c.hostMs), c.simMs) << "reader at host " << c.hostMs;
    }
    startProcess(2000);
    EXPECT_EQ(simMsAt(2250), 112500);
}

TEST_F(PlatformClock, LateScaleChangeNeverTurnsTheClockBack) {
    TempBoardRoot root;
    startProcess(1000);
    EXPECT_EQ(simMsAt(1000), 10000);
    // Another process slowed the clock to 1 from host 1005 ms (simulated
    // 10050 ms); this one reads sim/clock only every 20 host ms.
    root.write("/sim/clock", std::to_string(ANCHOR_NS) + " " +
                                 std::to_string(ANCHOR_NS + 1005 * MS) + " " +
                                 std::to_string(ANCHOR_NS + 10050 * MS) + " 1\n");
    EXPECT_EQ(simMsAt(1010), 10100); // not seen yet
    EXPECT_EQ(simMsAt(1030), 10100); // seen: held until the shared clock catches up
    EXPECT_EQ(simMsAt(1100), 10145);
    EXPECT_DOUBLE_EQ(platformTimeScale(), 1.0);
    // A file of another run (another anchor) is ignored.
    startProcess(1000);
    root.write("/sim/clock", "5 1 1 1000\n");
    EXPECT_EQ(simMsAt(1100), 11000);
}

TEST(PlatformShell, DateSetsTheOffsetSoLocalTimeBecomesThatMoment) {
    for (const char *tz : {"UTC0", "EST5EDT,M3.2.0,M11.1.0"}) {
        TempBoardRoot root;
        ScopedTimeZone zone(tz);
        platformFakeClockSet(100, 0, 1700000000); // 2023-11-14 22:13:20 UTC
        EXPECT_EQ(platformSystem("date 070412302024.45"), 0) << tz;
        int64_t now = platformWallTime();
        EXPECT_EQ(now, localEpoch(2024, 7, 4, 12, 30, 45));
        EXPECT_EQ(platformClockOffset(), now - 1700000000);
        // The clock keeps running from the moment set.
        platformFakeClockAdvanceMs(60000);
        EXPECT_EQ(platformWallTime(), now + 60);
        EXPECT_EQ(root.read("/sim/shell.log"), "date 070412302024.45\n");
    }
}

TEST(PlatformShell, ImpossibleDatesFailLikeTheRealCommand) {
    TempBoardRoot root;
    ScopedTimeZone zone("EST5EDT,M3.2.0,M11.1.0");
    platformFakeClockSet(100, 0, 1700000000);
    // 31 February, month 13, a time skipped by daylight saving, malformed text.
    for (const char *cmd : {"date 023112002024.00", "date 133112002024.00", "date 031002302024.00",
                            "date 12x112002024.00", "date 0101120020241.00", "date "}) {
        EXPECT_EQ(platformSystem(cmd), 1 << 8) << cmd;
    }
    EXPECT_EQ(platformClockOffset(), 0);
    // Without a year the current one is kept.
    EXPECT_EQ(platformSystem("date 11150800"), 0);
    EXPECT_EQ(platformWallTime(), localEpoch(2023, 11, 15, 8, 0));
}

TEST(PlatformShell, HardwareClockSavesAndRestoresTheOffset) {
    TempBoardRoot root;
    ScopedTimeZone zone("UTC0");
    root.write("/sim/rtc", "-7200\n");
    platformFakeClockSet(100, 0, 1700000000);
    // The offset starts from the hardware clock.
    EXPECT_EQ(platformWallTime(), 1700000000 - 7200);
    EXPECT_EQ(platformSystem("date 010100002030.00"), 0);
    EXPECT_EQ(platformSystem("/sbin/hwclock --systohc"), 0);
    int64_t saved = platformClockOffset();
    EXPECT_EQ(root.read("/sim/rtc"), std::to_string(saved) + "\n");
    EXPECT_EQ(platformSystem("date 010100002031.00"), 0);
    EXPECT_NE(platformClockOffset(), saved);
    EXPECT_EQ(platformSystem("/sbin/hwclock --hctosys"), 0);
    EXPECT_EQ(platformClockOffset(), saved);
    EXPECT_EQ(root.read("/sim/shell.log"),
              "date 010100002030.00\n/sbin/hwclock --systohc\ndate 010100002031.00\n"
              "/sbin/hwclock --hctosys\n");
}

TEST(PlatformShell, CopiesArchivesWithinTmpAndRefusesEverythingElse) {
    TempBoardRoot root;
    root.write("/tmp/zeph_app.tar.bz2", std::string("BZh9\0\1\2", 7));
    EXPECT_EQ(platformSystem("cp /tmp/zeph_app.tar.bz2 /tmp/mtdblock5"), 0);
    EXPECT_EQ(root.read("/tmp/mtdblock5"), std::string("BZh9\0\1\2", 7));
    EXPECT_EQ(platformSystem("cp /tmp/missing /tmp/mtdblock5"), 1 << 8);
    for (const char *cmd :
         {"cp /etc/passwd /tmp/x", "cp /tmp/../etc/passwd /tmp/x", "cp /tmp/a /tmp/b /tmp/c",
          "rm -rf /", "/sbin/hwclock --systohc ", "reboot"}) {
        EXPECT_EQ(platformSystem(cmd), -1) << cmd;
    }
    std::string log = root.read("/sim/shell.log");
    EXPECT_NE(log.find("rm -rf /\n"), std::string::npos);
    EXPECT_NE(log.find("reboot\n"), std::string::npos);
}

// Both ends of a line in shared memory, in one process: what one end
// writes the other reads, in order across the rings' wrap; a ring takes
// exactly its size and refuses the next byte (never EAGAIN, which would
// wait for a reader that runs only in its own turn); an empty one reads as
// EAGAIN; a detached descriptor is the kernel's again. The turn word wakes a
// process that sleeps on it.
TEST(PlatformLockstep, TheSharedLineAndTheTurnCarryBothWays) {
    LockstepShared *shared = nullptr;
    int memory = lockstepCreateShared(&shared);
    ASSERT_GE(memory, 0);
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends), 0);
    lockstepAttachLine(ends[0], &shared->toSimulator, &shared->toApplication);
    lockstepAttachLine(ends[1], &shared->toApplication, &shared->toSimulator);
    std::vector<uint8_t> out(LOCKSTEP_RING_BYTES - 100), in(LOCKSTEP_RING_BYTES + 1);
    for (int round = 0; round < 3; round++) {
        for (size_t i = 0; i < out.size(); i++) {
            out[i] = static_cast<uint8_t>(i * 7 + round);
        }
        ASSERT_EQ(platformSerialWrite(ends[0], out.data(), out.size()), ssize_t(out.size()));
        ASSERT_EQ(platformSerialRead(ends[1], in.data(), in.size()), ssize_t(out.size()));
        EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin())) << round;
    }
    EXPECT_EQ(platformSerialRead(ends[1], in.data(), in.size()), -1);
    EXPECT_EQ(errno, EAGAIN);
    ASSERT_EQ(platformSerialWrite(ends[1], in.data(), in.size()), ssize_t(LOCKSTEP_RING_BYTES));
    EXPECT_EQ(platformSerialWrite(ends[1], in.data(), 1), -1);
    EXPECT_EQ(errno, ENOBUFS);
    EXPECT_EQ(lockstepRingUsed(&shared->toSimulator), LOCKSTEP_RING_BYTES);
    lockstepAttachLine(ends[0], nullptr, nullptr);
    EXPECT_EQ(platformSerialWrite(ends[0], "k", 1), 1);
    EXPECT_EQ(recv(ends[1], in.data(), in.size(), 0), 1);

    pid_t child = fork();
    if (child == 0) {
        // The other side: waits for its turn, answers, gives it back.
        while (lockstepAwaitTurnChange(&shared->channel, LOCKSTEP_TURN_SIMULATOR, 1000) !=
               LOCKSTEP_TURN_APPLICATION) {
        }
        shared->channel.answer.monoMs = shared->channel.now.monoMs + 1;
        lockstepGiveTurn(&shared->channel, LOCKSTEP_TURN_SIMULATOR);
        _exit(0);
    }
    shared->channel.now.monoMs = 41;
    lockstepGiveTurn(&shared->channel, LOCKSTEP_TURN_APPLICATION);
    while (lockstepAwaitTurnChange(&shared->channel, LOCKSTEP_TURN_APPLICATION, 1000) !=
           LOCKSTEP_TURN_SIMULATOR) {
    }
    EXPECT_EQ(shared->channel.answer.monoMs, 42);
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    platformReset();
    close(ends[0]);
    close(ends[1]);
    close(memory);
    lockstepUnmapShared(shared);
}

} // namespace
