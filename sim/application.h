// The application the simulator starts, `tstat /dev/ttyCOPROC` in its
// working directory with TSTAT_ROOT set to the board root: its process,
// which ends with the simulator however the simulator ends, and its standard
// output, said as whole lines of its own (its messages end in a carriage
// return as often as in a newline).
#pragma once

#include "board/board.h"
#include "host/file_descriptor.h"
#include "platform/lockstep.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace sim {

class Application {
  public:
    // say gets the application's lines ("tstat: ...") and the simulator's
    // own about it.
    explicit Application(Say say);
    ~Application();

    // In lock-step time the descriptors the application inherits: its end
    // of the clock and, when the link is a socket pair, its end of the link
    // (-1: none).
    struct Handover {
        int clockFd = -1;
        int linkFd = -1;
    };
    // Starts program in dataDir. False, said, when it cannot.
    bool start(const std::string &program, const std::string &dataDir, const Handover &handover);
    // In lock-step time: loads the application's module (beside program)
    // into this process instead, in a namespace of its own, ready to run on
    // a stack of its own with the clock and line of `shared`. False, with
    // the reason in *why, when it cannot (the caller starts the program).
    bool startInProcess(const std::string &program, const std::string &dataDir,
                        LockstepShared *shared, int linkFd, std::string *why);
    bool inProcess() const { return m_inProcess != nullptr; }
    // Runs the application loaded in this process until it gives the turn
    // back (or ends); in its data directory meanwhile.
    void switchTo();
    bool running() const { return m_pid >= 0 || (m_inProcess && !m_inProcessEnded); }
    // Whether it was started (it may have ended since).
    bool started() const { return m_started; }
    // Whether it ended since the last look: its exit status (128 + the
    // signal that ended it) and why, in words.
    bool ended(int *status, std::string *why);
    // Waits a moment for an application that is ending by itself, then ends
    // it; its exit status as ended() gives it.
    void waitForEnd(int *status);
    // Ends it (SIGTERM, then SIGKILL) and says the rest of its output.
    void stop();
    // Says the lines it wrote, looked at once every few host milliseconds.
    void poll(int64_t hostNowMs);
    // Says the lines it wrote, now (in lock-step time, after each of its
    // turns: it writes nothing between them).
    void readNow() { readOutput(false); }

  private:
    // Says its output's whole lines; to the end of what it wrote once it has
    // ended.
    void readOutput(bool toTheEnd);

    struct InProcess;
    static void startInProcessStack();
    static void toSimulator(void *context);

    Say m_say;
    pid_t m_pid = -1;
    std::unique_ptr<InProcess> m_inProcess;
    bool m_inProcessEnded = false;
    bool m_started = false;
    FileDescriptor m_output;
    std::string m_partial;
    int64_t m_nextReadMs = 0;
};

} // namespace sim
