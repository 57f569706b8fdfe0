// The simulator's side of lock-step time: it owns the clock of both
// processes. Simulated time moves only here, and only when the application
// has finished what is due at the present instant; then it jumps to the next
// instant at which the application or the simulator has something to do.
#pragma once

#include "common/file_descriptor.h"
#include "platform/lockstep.h"

#include <cstdint>
#include <string>

namespace sim {

class LockstepClock {
  public:
    // The simulator's own clock (the platform layer's fake clock) starts at
    // monotonic 0 and the given wall-clock second.
    explicit LockstepClock(int64_t startWallSeconds);

    // Makes the socket pair. The application's end is childFd(): it must
    // survive exec (the child names it in TSTAT_LOCKSTEP_FD); once the child
    // runs, childStarted() closes the simulator's copy of it.
    bool open(std::string *error);
    int childFd() const { return m_childEnd.get(); }
    void childStarted();

    int64_t nowMs() const { return m_nowMs; }
    // Moves the simulator's clock on to t (never back).
    void advanceTo(int64_t t);

    // Runs the application at the present instant: NOW (with flags), then
    // waits until it is idle or pausing again. False once the application
    // has gone (its end of the pair closed).
    bool runApplication(uint32_t flags);
    bool applicationGone() const { return m_gone; }
    // When the application asked to run next, and whether it is pausing
    // (a pause is never cut short by input).
    int64_t applicationWakeMs() const { return m_wakeMs; }
    bool applicationPausing() const { return m_pausing; }
    // Ends lock-step time for the application: its clock stops and it ends.
    void close();

  private:
    FileDescriptor m_ownEnd;
    FileDescriptor m_childEnd;
    int64_t m_startWallMs;
    int64_t m_nowMs = 0;
    int64_t m_wakeMs = 0;
    bool m_pausing = false;
    bool m_gone = false;
};

} // namespace sim
