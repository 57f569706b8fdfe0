// The application the simulator starts, `tstat /dev/ttyCOPROC` in its
// working directory with TSTAT_ROOT set to the board root: its process,
// which ends with the simulator however the simulator ends, and its standard
// output, said as whole lines of its own (its messages end in a carriage
// return as often as in a newline).
#pragma once

#include "board/board.h"
#include "host/file_descriptor.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace sim {

class Application {
  public:
    // say gets the application's lines ("tstat: ...") and the simulator's
    // own about it.
    explicit Application(Say say) : m_say(std::move(say)) {}

    // In lock-step time the descriptors the application inherits: its end
    // of the clock and, when the link is a socket pair, its end of the link
    // (-1: none).
    struct Handover {
        int clockFd = -1;
        int linkFd = -1;
    };
    // Starts program in dataDir. False, said, when it cannot.
    bool start(const std::string &program, const std::string &dataDir, const Handover &handover);
    bool running() const { return m_pid >= 0; }
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

    Say m_say;
    pid_t m_pid = -1;
    bool m_started = false;
    FileDescriptor m_output;
    std::string m_partial;
    int64_t m_nextReadMs = 0;
};

} // namespace sim
