// The simulator's side of lock-step time: it owns the clock of both
// processes. Simulated time moves only here, and only when the application
// has finished what is due at the present instant; then it jumps to the next
// instant at which the application or the simulator has something to do.
#pragma once

#include "host/file_descriptor.h"
#include "platform/lockstep.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sim {

class LockstepClock {
  public:
    // The simulator's own clock (the platform layer's fake clock) starts at
    // monotonic 0 and the given wall-clock second. A simulator that serves
    // several applications keeps that clock itself: their clocks do not
    // own it (ownsProcessClock false) and only tell each its time.
    explicit LockstepClock(int64_t startWallSeconds, bool ownsProcessClock = true);

    // Host milliseconds the application has to answer NOW before it counts
    // as gone (stopped, or hung); the default suits a sanitizer build on a
    // loaded host.
    static constexpr int64_t DEFAULT_ANSWER_LIMIT_MS = 30000;
    void setAnswerLimitMs(int64_t ms) { m_answerLimitMs = ms; }

    // Makes the shared region and the socket pair, and sends the region
    // down the pair. The application's end is childFd(): it must survive
    // exec (the child names it in TSTAT_LOCKSTEP_FD); once the child runs,
    // childStarted() closes the simulator's copy of it. Once open, a second
    // call changes nothing.
    bool open(std::string *error);
    // The application runs in this process (Application::startInProcess):
    // its turn is run() on this thread, which returns when it gives the turn
    // back or ends.
    void setInProcess(std::function<void()> run) { m_inProcess = std::move(run); }
    // The region (null until open): the line's rings are there too.
    const std::shared_ptr<LockstepShared> &shared() const { return m_shared; }
    int childFd() const { return m_childEnd.get(); }
    void childStarted();

    int64_t nowMs() const { return m_nowMs; }
    // Moves the simulator's clock on to t (never back).
    void advanceTo(int64_t t);

    // Whether the application is to run at the present instant: its own
    // time has come, or input waits for it (`input` bytes now) that it has
    // not seen: more than it left after its last run, or some left after a
    // run that took some (it reads so many keys a pass). `wanted` asks for a
    // run anyway. Never during a pause; for input, at most
    // MAX_RUNS_PER_INSTANT runs at one instant, so that input it keeps
    // leaving cannot stop the clock.
    bool applicationDue(size_t input, bool wanted) const;
    // Runs the application at the present instant: NOW (with flags), then
    // waits until it is idle or pausing again; input() tells the input
    // waiting for it, before and after. False once it has gone (its end of
    // the pair closed), when it did not answer within the answer limit
    // (unanswered() then tells), or when an end signal came meanwhile.
    // Until then it waits for the application and nothing else.
    bool runApplication(uint32_t flags, const std::function<size_t()> &input);
    // The same in two halves, so that a simulator that serves several
    // applications lets them run at once: handTurn() gives the application
    // its turn, takeTurn() waits for it to give the turn back.
    void handTurn(uint32_t flags, const std::function<size_t()> &input);
    bool takeTurn(const std::function<size_t()> &input);
    static constexpr int MAX_RUNS_PER_INSTANT = 100;
    // Whether key events wait for the application, told with each NOW so
    // that it looks at its key device only then.
    void setKeysWaiting(bool waiting) { m_keysWaiting = waiting; }
    // How many times the application has run: what it reads and writes
    // changes only then.
    uint64_t runs() const { return m_runs; }
    // Whether the application wrote its relays file since the last call.
    bool takeRelaysWritten() {
        bool written = m_relaysWritten;
        m_relaysWritten = false;
        return written;
    }
    // Whether the application read its coprocessor line empty in its last
    // run: nothing was left on it then.
    bool lineDrained() const { return m_lineDrained; }
    // Whether the application wrote to its standard output since the last call.
    bool takeOutputWritten() {
        bool written = m_outputWritten;
        m_outputWritten = false;
        return written;
    }
    bool applicationGone() const { return m_gone; }
    bool unanswered() const { return m_unanswered; }
    // When the application asked to run next, and whether it is pausing
    // (a pause is never cut short by input).
    int64_t applicationWakeMs() const { return m_wakeMs; }
    bool applicationPausing() const { return m_pausing; }
    // Ends lock-step time for the application: its clock stops and it ends.
    void close();

  private:
    // Waits for the application's answer to the NOW handed to it.
    bool answered();

    // Waits for the application to give the turn back; false when it has gone.
    bool awaitAnswer();
    // Whether the application's end of the pair is closed (it has gone).
    bool applicationClosed() const;

    std::shared_ptr<LockstepShared> m_shared;
    std::function<void()> m_inProcess;
    FileDescriptor m_ownEnd;
    FileDescriptor m_childEnd;
    int64_t m_startWallMs;
    bool m_ownsProcessClock;
    int64_t m_nowMs = 0;
    int64_t m_wakeMs = 0;
    bool m_pausing = false;
    bool m_gone = false;
    bool m_unanswered = false;
    int64_t m_answerLimitMs = DEFAULT_ANSWER_LIMIT_MS;
    size_t m_inputBefore = 0;
    size_t m_inputAfter = 0;
    int m_runsThisInstant = 0;
    uint64_t m_runs = 0;
    bool m_relaysWritten = false;
    bool m_lineDrained = false;
    bool m_outputWritten = false;
    bool m_keysWaiting = true;
};

} // namespace sim
