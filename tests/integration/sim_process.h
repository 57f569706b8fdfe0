// tstat-sim as a child process of a test, with a client of its console
// socket.
#pragma once

#include "board_root.h"
#include "poll_until.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class SimProcess {
  public:
    // Starts `tstat-sim <command> --root root args...` with TSTAT_TIME_SCALE
    // set to scale; its output goes to root/sim-output.txt.
    SimProcess(const std::string &root, const std::string &command,
               const std::vector<std::string> &args, double scale);
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Waits until the console port file and the link (the simulator's own
    // coprocessor line) exist; connects.
    bool waitReady(std::chrono::milliseconds limit = std::chrono::seconds(15));
    // Sends one console line.
    void send(const std::string &line);
    // Reads console lines until one contains `part` (returned) or the limit
    // passes (empty string).
    std::string waitFor(const std::string &part,
                        std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Everything the simulator printed on its standard output so far.
    std::string output() const { return readFile(m_root + "/sim-output.txt"); }
    // Waits for the process to end; returns its exit status or -1.
    int wait(std::chrono::milliseconds limit = std::chrono::seconds(10));
    void stop();
    // Sends the simulator a signal.
    void signal(int number);

  private:
    std::string m_root;
    bool m_needsLink = true;
    int m_pid = -1;
    int m_socket = -1;
    std::string m_pending;
    std::vector<std::string> m_seen;
    size_t m_scanned = 0;
};
