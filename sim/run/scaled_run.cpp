// The simulator's loop on the scaled clock: simulated time is the host's
// times TSTAT_TIME_SCALE, and each pass waits for console input at most as
// long as a tenth of a simulated second takes.
#include "run/simulator.h"

#include "board/run_support.h"
#include "platform/platform.h"

#include <algorithm>

namespace sim {

namespace {

// Longest host wait of one pass (nanoseconds), and the most simulated time
// one pass may cover (milliseconds): the coprocessor reports once a
// simulated second and the house is stepped once a pass, so a fast time
// scale needs short passes.
constexpr int64_t PASS_WAIT_MAX_NS = 10 * 1000 * 1000;
constexpr double PASS_SIM_MS = 100.0;
// Host milliseconds between two looks at the page the application shows
// (a pop-up lasts a sixth of a second at scale 60).
constexpr int64_t PAGE_LOOK_MS = 20;

} // namespace

// A menu shown (a page other than the main page, or a pop-up) times out in
// simulated time: while one is, the run follows real time, so that it can
// be used at any time scale.
void Simulator::lookAtPage() {
    int64_t host = hostMs();
    if (host < m_nextPageLookMs) {
        return;
    }
    m_nextPageLookMs = host + PAGE_LOOK_MS;
    int page = -1;
    bool popUp = false;
    m_keys.setMenuShown(readShownPage(&page, &popUp) && (page > 0 || popUp));
}

int Simulator::runScaled() {
    if (m_startApplication) {
        startApplication();
    }
    // The console's keys (a board in an emulator takes them through QMP).
    std::string error;
    if (m_board.keys() == nullptr && !m_keys.open(&error)) {
        say("tstat-sim: " + error);
    }
    if (m_options.http >= 0) {
        startDashboard();
    }
    beginRun(simNowMs());
    int exitStatus = 0;
    while (!m_quit && g_EndSignal == 0) {
        // The time scale may change while running (the dashboard).
        int64_t waitNs = std::min(PASS_WAIT_MAX_NS,
                                  static_cast<int64_t>(PASS_SIM_MS * 1e6 / platformTimeScale()));
        std::vector<std::string> lines = m_console.waitForLines(waitNs);
        step(simNowMs(), lines);
        lookAtPage();
        if (!m_screens.empty()) {
            takeScreens();
        }
        if (applicationEnded(&exitStatus) || hoursDone()) {
            break;
        }
    }
    return shutDown(exitStatus);
}

} // namespace sim
