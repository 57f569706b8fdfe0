// The simulator's loop in lock-step time: the simulator and the application
// take turns at each instant, and the clock then jumps to the next instant
// at which either has something to do (see lockstep_clock.h).
#include "run/simulator.h"

#include "board/run_support.h"
#include "platform/platform.h"

#include <algorithm>
#include <sched.h>
#include <thread>

namespace sim {

namespace {

// Host milliseconds between two frames published for the dashboard.
constexpr int64_t DASHBOARD_FRAME_MS = 200;
// Host milliseconds between two looks at the console.
constexpr int64_t CONSOLE_PERIOD_MS = 5;

// The simulator and the application never run at once. On one processor a
// hand-over is a switch on that core; across two it is a wake-up of the
// other core, which on a virtual machine costs about a third of a run's
// time. Both stay on the processor the simulator started on.
void keepToOneProcessor() {
    int cpu = sched_getcpu();
    if (cpu < 0) {
        return;
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    sched_setaffinity(0, sizeof(one), &one);
}

} // namespace

int Simulator::runLockstep() {
    bool running = false;
    if (!startLockstep(&running)) {
        return 1;
    }
    // The application starts up at the first instant.
    if (running) {
        running = m_lockstep->runApplication(0, [this] { return inputForApplication(); });
        // An application in this process set its own handlers as it started.
        if (m_app.inProcess()) {
            catchEndSignals();
        }
    }
    lockstepPass(0);
    int exitStatus = 0;
    while (!m_quit && g_EndSignal == 0 && !hoursDone()) {
        int64_t now = m_lockstep->nowMs();
        if (applicationGone(running, &exitStatus)) {
            break;
        }
        bool screen = !m_screens.empty() || m_building.screenWanted;
        if (running && m_lockstep->applicationDue(inputForApplication(), screen)) {
            running = runApplicationNow();
            // What it wrote is read at the same instant.
            lockstepPass(now);
            continue;
        }
        if (!m_screens.empty() && !running) {
            takeScreens(); // the last one shown, if any
        }
        advanceClock(now, running);
    }
    double hostSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_hostStart).count();
    say("tstat-sim: " + formatNumber("%.0f", m_recorder.simulatedSeconds()) + " simulated s in " +
        formatNumber("%.2f", hostSeconds) + " host s");
    // Without its clock the application ends, and publishes its last screen.
    return shutDown(exitStatus);
}

// The clock and the keys opened, the application started (*running), the
// dashboard served and the run begun at simulated time 0.
bool Simulator::startLockstep(bool *running) {
    // A unit of a building starts at the building's first instant.
    int64_t first = 0;
    uint32_t flags = 0;
    if (m_building.client && !m_building.client->awaitNow(&first, &flags)) {
        say("tstat-sim: the building ended before the run began");
        return false;
    }
    std::string error;
    if (!m_lockstep->open(&error) || !m_keys.open(&error)) {
        say("tstat-sim: " + error);
        return false;
    }
    say("tstat-sim: lock-step time from " +
        localStamp(m_options.startWall, "%a %Y-%m-%d %H:%M:%S") +
        (m_options.pace > 0.0
             ? ", at most " + formatNumber("%g", m_options.pace) + " times real time"
             : ", as fast as the host allows"));
    keepToOneProcessor();
    *running = m_startApplication && startApplication();
    m_lockstep->childStarted();
    if (m_options.http >= 0) {
        startDashboard();
    }
    beginRun(0);
    return true;
}

void Simulator::lockstepPass(int64_t now) {
    // The console is looked at a few hundred times a host second at most.
    std::vector<std::string> lines;
    int64_t host = hostMs();
    if (host >= m_nextConsoleMs) {
        m_nextConsoleMs = host + CONSOLE_PERIOD_MS;
        lines = m_console.waitForLines(0);
    }
    for (; m_scriptNext < m_script.size() && m_script[m_scriptNext].atMs <= now; m_scriptNext++) {
        lines.push_back(m_script[m_scriptNext].line);
    }
    lines.insert(lines.end(), m_building.lines.begin(), m_building.lines.end());
    m_building.lines.clear();
    step(now, lines);
}

// Whether the application has gone: it did not answer its clock (it is
// ended), or its end of the clock closed (it has ended, or is about to).
bool Simulator::applicationGone(bool running, int *exitStatus) {
    if (m_lockstep->unanswered() && m_app.running()) {
        noteEnd("the application did not answer its clock within " +
                    formatNumber("%g", m_options.answerLimit) +
                    " host seconds (stopped or hung); ending it",
                -1);
        m_app.stop();
        *exitStatus = 1;
        return true;
    }
    if (!running && m_app.running()) {
        m_app.waitForEnd(exitStatus);
        noteEnd("the application ended with status " + std::to_string(*exitStatus), *exitStatus);
        return true;
    }
    return false;
}

// The application's turn at the present instant; false once it has gone.
bool Simulator::runApplicationNow() {
    bool screen = !m_screens.empty();
    uint32_t flags = 0;
    if (m_building.screenWanted) {
        m_building.screenWanted = false;
        m_building.screens++;
        flags |= LOCKSTEP_PUBLISH_SCREEN;
    }
    // The dashboard's frames follow the host's clock: a few a host second,
    // however fast simulated time runs, and only while a page is open to
    // show them.
    int64_t host = hostMs();
    bool watched = m_dashboard && m_dashboard->streamCount() > 0;
    if (screen || (watched && host >= m_nextPublishMs)) {
        flags |= LOCKSTEP_PUBLISH_SCREEN;
        m_nextPublishMs = host + DASHBOARD_FRAME_MS;
    }
    bool running = m_lockstep->runApplication(flags, [this] { return inputForApplication(); });
    if (screen) {
        takeScreens();
    }
    return running;
}

// Moves the clock on to the next instant at which the application or the
// simulator has something to do, at the pace asked for, and does the
// simulator's part of it.
void Simulator::advanceClock(int64_t now, bool running) {
    int64_t simulatorNext = nextSimulatorEventMs(now);
    int64_t next =
        running ? std::min(m_lockstep->applicationWakeMs(), simulatorNext) : simulatorNext;
    if (m_building.client) {
        followBuilding(now, next, simulatorNext);
        return;
    }
    if (m_options.pace > 0.0) {
        std::this_thread::sleep_until(
            m_hostStart + std::chrono::duration<double>(next / 1000.0 / m_options.pace));
    }
    m_lockstep->advanceTo(next);
    if (next == simulatorNext) {
        lockstepPass(next);
    }
}

// The next instant at which the simulator has something of its own to do:
// its reports and the house on every whole second, the script's next line,
// a key to release or to press.
int64_t Simulator::nextSimulatorEventMs(int64_t now) const {
    int64_t next = (now / 1000 + 1) * 1000;
    if (m_scriptNext < m_script.size()) {
        next = std::min(next, std::max(m_script[m_scriptNext].atMs, now + 1));
    }
    return std::min(next, std::max(m_keys.nextEventMs(), now + 1));
}

size_t Simulator::inputForApplication() {
    bool keys = m_keys.takeWritten();
    uint32_t sent = m_coproc->bytesSent();
    bool ran = !m_lockstep || m_lockstep->runs() != m_input.runs;
    if (ran && !m_input.stale && m_lockstep && m_lockstep->lineDrained()) {
        // It read the line empty, and nothing was written since.
        m_input.link = 0;
    } else if (ran || m_input.stale) {
        // The application may have read: the kernel knows what is left.
        m_input.link = m_pty.unreadBySlave();
    } else {
        // Nobody reads the line while the simulator runs: what it wrote
        // since the last look waits on top of what waited then.
        m_input.link += static_cast<uint32_t>(sent - m_input.sent);
    }
    if (ran || keys || m_input.stale) {
        m_input.keys = m_keys.unread();
        if (m_lockstep) {
            m_lockstep->setKeysWaiting(m_input.keys > 0);
        }
    }
    m_input.runs = m_lockstep ? m_lockstep->runs() : 0;
    m_input.sent = sent;
    m_input.stale = false;
    return m_input.link + m_input.keys;
}

bool Simulator::applicationRanSince(uint64_t *seen) {
    if (!m_lockstep || !m_app.running()) {
        return true;
    }
    bool ran = m_lockstep->runs() != *seen;
    *seen = m_lockstep->runs();
    return ran;
}

} // namespace sim
