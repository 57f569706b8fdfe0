// The simulator's side of lock-step time.
#include "lockstep_clock.h"

#include "board/run_support.h"
#include "platform/platform_test.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/socket.h>

namespace sim {

namespace {
constexpr int64_t MS_PER_SECOND = 1000;
// Host milliseconds of one wait for the application's answer.
constexpr int WAIT_SLICE_MS = 50;
} // namespace

LockstepClock::LockstepClock(int64_t startWallSeconds, bool ownsProcessClock)
    : m_startWallMs(startWallSeconds * MS_PER_SECOND), m_ownsProcessClock(ownsProcessClock) {
    if (ownsProcessClock) {
        platformFakeClockSet(0, 0, startWallSeconds);
    }
}

bool LockstepClock::open(std::string *error) {
    if (m_shared) {
        return true;
    }
    int fds[2] = {-1, -1};
    // Both ends close on exec; the child clears the flag on its own end.
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        *error = std::string("no lock-step socket pair: ") + strerror(errno);
        return false;
    }
    m_ownEnd = FileDescriptor(fds[0]);
    m_childEnd = FileDescriptor(fds[1]);
    LockstepShared *region = nullptr;
    FileDescriptor memory(lockstepCreateShared(&region));
    if (memory.get() < 0) {
        *error = std::string("no lock-step shared memory: ") + strerror(errno);
        return false;
    }
    m_shared = std::shared_ptr<LockstepShared>(region, lockstepUnmapShared);
    // It waits in the pair until the application takes it, first thing.
    if (!lockstepSendDescriptor(m_ownEnd.get(), memory.get())) {
        *error = std::string("cannot hand over the lock-step memory: ") + strerror(errno);
        return false;
    }
    return true;
}

void LockstepClock::childStarted() {
    m_childEnd.reset();
}

void LockstepClock::advanceTo(int64_t t) {
    if (t > m_nowMs) {
        if (m_ownsProcessClock) {
            platformFakeClockAdvanceMs(static_cast<uint64_t>(t - m_nowMs));
        }
        m_nowMs = t;
        m_runsThisInstant = 0;
    }
}

bool LockstepClock::applicationDue(size_t input, bool wanted) const {
    if (m_gone) {
        return false;
    }
    if (m_wakeMs <= m_nowMs) {
        return true;
    }
    bool unseen = input > m_inputAfter || (input > 0 && m_inputBefore > m_inputAfter);
    return !m_pausing && (wanted || unseen) && m_runsThisInstant < MAX_RUNS_PER_INSTANT;
}

bool LockstepClock::runApplication(uint32_t flags, const std::function<size_t()> &input) {
    handTurn(flags, input);
    return takeTurn(input);
}

void LockstepClock::handTurn(uint32_t flags, const std::function<size_t()> &input) {
    m_inputBefore = input();
    if (m_gone) {
        return;
    }
    flags |= m_keysWaiting ? LOCKSTEP_KEYS_WAITING : 0;
    LockstepChannel &channel = m_shared->channel;
    channel.now = LockstepMessage{LOCKSTEP_NOW, flags, m_nowMs, m_startWallMs + m_nowMs};
    if (m_inProcess) {
        // In this process the application runs now, to its answer.
        channel.turn.store(LOCKSTEP_TURN_APPLICATION, std::memory_order_release);
        m_inProcess();
        return;
    }
    lockstepGiveTurn(&channel, LOCKSTEP_TURN_APPLICATION);
}

bool LockstepClock::takeTurn(const std::function<size_t()> &input) {
    bool ran = answered();
    m_runs++;
    m_inputAfter = input();
    m_runsThisInstant++;
    return ran;
}

bool LockstepClock::answered() {
    if (m_gone) {
        return false;
    }
    if (m_inProcess) {
        if (g_EndSignal != 0) {
            return false;
        }
        if (m_shared->channel.turn.load(std::memory_order_acquire) != LOCKSTEP_TURN_SIMULATOR) {
            m_gone = true;
            return false;
        }
    } else if (!awaitAnswer()) {
        return false;
    }
    const LockstepMessage &answer = m_shared->channel.answer;
    if (answer.kind != LOCKSTEP_IDLE && answer.kind != LOCKSTEP_SLEEP) {
        m_gone = true;
        return false;
    }
    m_pausing = answer.kind == LOCKSTEP_SLEEP;
    m_relaysWritten = m_relaysWritten || (answer.flags & LOCKSTEP_RELAYS_WRITTEN) != 0;
    m_lineDrained = (answer.flags & LOCKSTEP_LINE_DRAINED) != 0;
    m_outputWritten = m_outputWritten || (answer.flags & LOCKSTEP_OUTPUT_WRITTEN) != 0;
    // An application that asks for a moment already past runs again
    // a millisecond on: time always moves.
    m_wakeMs = answer.monoMs > m_nowMs ? answer.monoMs : m_nowMs + 1;
    return true;
}

bool LockstepClock::awaitAnswer() {
    LockstepChannel &channel = m_shared->channel;
    auto asked = std::chrono::steady_clock::now();
    for (;;) {
        // Waited for in slices, so that an end signal is seen at once (it
        // may come between a look and the wait), and an application that
        // stopped answering or died is noticed.
        uint32_t turn = lockstepAwaitTurnChange(&channel, LOCKSTEP_TURN_APPLICATION, WAIT_SLICE_MS);
        if (g_EndSignal != 0) {
            return false;
        }
        if (turn == LOCKSTEP_TURN_SIMULATOR) {
            return true;
        }
        if (turn != LOCKSTEP_TURN_APPLICATION || applicationClosed()) {
            m_gone = true;
            return false;
        }
        auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - asked)
                          .count();
        if (waited >= m_answerLimitMs) {
            m_unanswered = true;
            m_gone = true;
            return false;
        }
    }
}

bool LockstepClock::applicationClosed() const {
    char byte = 0;
    ssize_t got = recv(m_ownEnd.get(), &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void LockstepClock::close() {
    if (m_shared && m_inProcess) {
        // Its last turn: it sees the clock closed and ends (its last screen).
        if (m_shared->channel.turn.load() == LOCKSTEP_TURN_SIMULATOR) {
            m_shared->channel.turn.store(LOCKSTEP_TURN_CLOSED);
            m_inProcess();
        }
        m_inProcess = nullptr;
    } else if (m_shared) {
        lockstepGiveTurn(&m_shared->channel, LOCKSTEP_TURN_CLOSED);
    }
    m_ownEnd.reset();
    m_gone = true;
}

} // namespace sim
