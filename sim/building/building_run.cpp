// A building's run: its units started, the one clock they all follow
// moved on instant by instant, what they send taken, and the run ended
// with what it gathered.
#include "building/building_run.h"

#include "board/board.h"
#include "board/run_support.h"
#include "building/building_dashboard.h"
#include "coproc/coproc_msg.h"
#include "platform/platform_test.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sched.h>
#include <sstream>
#include <thread>

namespace sim {

namespace {

namespace fs = std::filesystem;

// Host milliseconds between two looks at the console.
constexpr int64_t CONSOLE_PERIOD_MS = 5;
// Simulated milliseconds a unit may run on alone while nothing can reach
// it (at most so many host milliseconds of a paced run).
constexpr int64_t RUN_ALONE_MS = 60000;
constexpr double RUN_ALONE_HOST_MS = 100.0;
// Host seconds a unit has for its first turn (it prepares its board root
// and starts its application), and beyond its application's answer limit
// for every other turn (its own look at its application comes first).
constexpr double FIRST_TURN_S = 300.0;
constexpr double UNIT_ANSWER_MARGIN_S = 30.0;
// Host milliseconds an ended unit has to write its report.
constexpr int UNIT_END_GRACE_MS = 120000;

std::vector<int> allowedProcessors() {
    std::vector<int> cpus;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        for (int c = 0; c < CPU_SETSIZE; c++) {
            if (CPU_ISSET(c, &set)) {
                cpus.push_back(c);
            }
        }
    }
    return cpus;
}

// Proportional memory (kB) of a process: its share of every page it maps.
double pssKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/smaps_rollup");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("Pss:", 0) == 0) {
            return strtod(line.c_str() + 4, nullptr);
        }
    }
    return 0.0;
}

// The parent of every process.
std::map<pid_t, pid_t> parents() {
    std::map<pid_t, pid_t> out;
    for (const auto &entry :
         fs::directory_iterator("/proc", fs::directory_options::skip_permission_denied)) {
        std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        size_t close = line.rfind(')');
        std::istringstream rest(close == std::string::npos ? "" : line.substr(close + 2));
        char state = 0;
        pid_t ppid = 0;
        if (rest >> state >> ppid) {
            out[static_cast<pid_t>(std::stol(name))] = ppid;
        }
    }
    return out;
}

} // namespace

BuildingRun::BuildingRun(const BuildingSpec &plan, const BuildingOptions &options, std::string dir,
                         bool withEvents, std::vector<ScriptLine> script)
    : m_plan(plan), m_options(options), m_dir(std::move(dir)), m_withEvents(withEvents),
      m_script(std::move(script)), m_bus(plan.busRate),
      m_console([this](const std::string &l) { say(l); }) {
    m_endMs = std::llround(plan.hours * 3600.0 * 1000.0);
    m_demandKw.assign(static_cast<size_t>(m_endMs / 60000), 0.0);
}

BuildingRun::~BuildingRun() = default;

void BuildingRun::say(const std::string &line) {
    std::string text = clockStamp(m_plan.hours > 24.0) + " " + line + "\n";
    fputs(text.c_str(), stdout);
    fflush(stdout);
    m_console.send(text);
    if (m_dashboard) {
        m_dashboard->said(text.substr(0, text.size() - 1));
    }
}

BuildingResult BuildingRun::run() {
    BuildingResult result;
    platformFakeClockSet(0, 0, m_plan.startWall);
    m_now = 0;
    if (!startUnits()) {
        finish(&result);
        return result;
    }
    if (m_options.http >= 0 && m_withEvents) {
        m_dashboard = std::make_unique<BuildingDashboard>(*this);
        std::string error;
        if (m_dashboard->start(m_options.http, &error)) {
            writeFileAtomic(rootedPath("/sim/http.port"),
                            std::to_string(m_dashboard->port()) + "\n");
            say("building: dashboard: open http://127.0.0.1:" +
                std::to_string(m_dashboard->port()));
        } else {
            say("building: no dashboard: " + error);
            m_dashboard.reset();
        }
    }
    auto hostStart = std::chrono::steady_clock::now();
    while (!m_quit && g_EndSignal == 0) {
        // The building's own work at this instant comes first, so that what
        // it sends reaches the units due now in the same turn.
        pass();
        if (runDueUnits()) {
            continue;
        }
        // The last instant is lived whole, so that every unit's last minute counts.
        if (m_now >= m_endMs) {
            break;
        }
        int64_t next = nextInstant();
        if (m_options.pace > 0.0) {
            std::this_thread::sleep_until(
                hostStart + std::chrono::duration<double>(next / 1000.0 / m_options.pace));
        }
        advance(next);
    }
    finish(&result);
    return result;
}

// A unit's `tstat-sim run`: its root, the programs, its zone's options.
std::vector<std::string> BuildingRun::unitCommand(size_t zone, const std::string &root) const {
    std::vector<std::string> args{
        "run",          "--root",         root,
        "--tstat",      m_options.tstat,  "--data",
        m_options.data, "--factory-tool", m_options.factoryTool,
        "--no-http",    "--answer-limit", std::to_string(m_options.answerLimit)};
    if (m_options.inProcess) {
        args.push_back("--in-process");
    }
    std::vector<std::string> own = unitArguments(m_plan, zone);
    args.insert(args.end(), own.begin(), own.end());
    return args;
}

bool BuildingRun::startUnits() {
    std::vector<int> cpus = allowedProcessors();
    for (size_t i = 0; i < m_plan.zones.size(); i++) {
        const ZoneSpec &zone = m_plan.zones[i];
        std::string root = m_dir + "/units/" + zone.name;
        std::error_code ec;
        fs::remove_all(root, ec);
        fs::create_directories(root, ec);
        auto unit = std::make_unique<UnitProcess>(i, zone, root, m_plan.startWall);
        std::vector<std::string> args = unitCommand(i, root);
        std::string error;
        int cpu = cpus.empty() ? -1 : cpus[i % cpus.size()];
        if (ec || !unit->start(m_options.simBinary, args, cpu, &error)) {
            say("building: unit " + zone.name + " did not start: " + (ec ? ec.message() : error));
            m_failed = true;
            return false;
        }
        unit->address = zone.address;
        unit->clock().setAnswerLimitMs(std::llround(FIRST_TURN_S * 1000.0));
        m_series.push_back(UnitSeries{zone.name, zone.address, zone.equipment, {}, 0, 0, ""});
        m_units.push_back(std::move(unit));
    }
    say("building: " + std::to_string(m_units.size()) + " units started in " + m_dir +
        "/units, one bus at " + std::to_string(m_plan.busRate) + " bit/s" +
        (m_withEvents ? "" : ", without the demand-response events"));
    return true;
}

// The units due at this instant, handed the turn all at once and each
// waited for in turn; their records taken in unit order. False when none
// was due.
bool BuildingRun::runDueUnits() {
    std::vector<UnitProcess *> due;
    for (auto &u : m_units) {
        if (u->due(m_now)) {
            due.push_back(u.get());
        }
    }
    int64_t alone = horizon();
    for (UnitProcess *u : due) {
        if (alone > m_now + 1) {
            u->send(LINK_HORIZON, &alone, sizeof(alone));
            m_committedMs = std::max(m_committedMs, alone);
        }
        u->handTurn(m_now);
    }
    for (UnitProcess *u : due) {
        bool ran = u->takeTurn();
        // An end signal cuts the wait short: the run ends, the unit with it.
        if (!ran && g_EndSignal != 0) {
            return false;
        }
        if (ran && u->clock().runs() == 1) {
            u->clock().setAnswerLimitMs(
                std::llround((m_options.answerLimit + UNIT_ANSWER_MARGIN_S) * 1000.0));
        }
        takeRecords(*u);
        if (!ran) {
            unitGone(*u);
        }
    }
    sendUnitsFrames();
    return !due.empty();
}

// Until when the units may run on alone: nothing reaches a unit before the
// next frame on the bus arrives, the script's next line, the next event,
// nor while an event's units are answering (m_now: not at all).
int64_t BuildingRun::horizon() const {
    for (const auto &e : m_events) {
        if (e->nextMs() != INT64_MAX) {
            return m_now;
        }
    }
    int64_t alone = m_options.pace > 0.0
                        ? std::max<int64_t>(1000, std::llround(m_options.pace * RUN_ALONE_HOST_MS))
                        : RUN_ALONE_MS;
    int64_t h = std::min({m_now + alone, m_endMs, m_bus.nextArrivalMs()});
    if (m_scriptNext < m_script.size()) {
        h = std::min(h, m_script[m_scriptNext].atMs);
    }
    if (m_withEvents && m_specEventNext < m_plan.events.size()) {
        h = std::min(h, m_plan.events[m_specEventNext].atMs);
    }
    return h;
}

// What the units sent for the bus since the last turns, in the order they
// sent it (the unit's index between two of the same moment).
void BuildingRun::sendUnitsFrames() {
    std::stable_sort(m_fromUnits.begin(), m_fromUnits.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (auto &[at, frame] : m_fromUnits) {
        UnitProcess &unit = *m_units[static_cast<size_t>(frame.from)];
        if (frame.type == COPROC_PKT_BUS_ADDRESS && frame.payload.size() == 1) {
            addressChanged(unit, frame.payload[0]);
        } else {
            m_bus.send(frame, at);
        }
    }
    m_fromUnits.clear();
}

void BuildingRun::takeRecords(UnitProcess &unit) {
    bool whole = unit.takeRecords([this, &unit](uint8_t kind, const uint8_t *data, size_t size) {
        if (kind == LINK_BUS_PACKET && size > LINK_TIME_BYTES) {
            int64_t at = 0;
            memcpy(&at, data, sizeof(at));
            const uint8_t *packet = data + LINK_TIME_BYTES;
            std::vector<uint8_t> payload(packet + 1, data + size);
            m_fromUnits.emplace_back(std::max(at, m_now), BusFrame{static_cast<int>(unit.index()),
                                                                   -1, false, packet[0], payload});
        } else if (kind == LINK_MINUTE && size == sizeof(TraceRow)) {
            TraceRow row;
            memcpy(&row, data, sizeof(row));
            bool cooling = unit.status.hvacState == HVAC_STATE_COOL;
            addMinute(&m_series[unit.index()], row, cooling);
            size_t minute = static_cast<size_t>(row.minute);
            if (minute >= 1 && minute <= m_demandKw.size()) {
                m_demandKw[minute - 1] += minuteElectricKwh(row, unit.zone().equipment) * 60.0;
            }
        } else if (kind == LINK_STATUS && size == sizeof(UnitStatus)) {
            memcpy(&unit.status, data, sizeof(UnitStatus));
        }
    });
    if (!whole) {
        say("building: unit " + unit.name() + " sent something that is not a record; dropped");
    }
}

// Why a unit's run ended, as it said it last.
std::string BuildingRun::unitEnding(const UnitProcess &unit) const {
    std::ifstream log(unit.root() + "/console.log");
    std::string line;
    std::string why;
    while (std::getline(log, line)) {
        size_t at = line.find("tstat-sim: the application");
        if (at != std::string::npos) {
            why = line.substr(at + 11);
        }
    }
    return why.empty() ? "its run ended (" + unit.root() + "/console.log)" : why;
}

void BuildingRun::unitGone(UnitProcess &unit) {
    unit.gone = true;
    if (unit.clock().unanswered()) {
        unit.why = "did not answer the building's clock within " +
                   formatNumber("%g", m_options.answerLimit + UNIT_ANSWER_MARGIN_S) +
                   " host seconds (stopped or hung); ended";
        unit.kill();
    } else {
        unit.waitForEnd(UNIT_END_GRACE_MS);
        unit.why = unitEnding(unit);
    }
    m_series[unit.index()].failure = unit.why;
    say("building: unit " + unit.name() + " (address " + std::to_string(unit.address) + ") " +
        unit.why + (m_plan.endOnFailure ? "; the building ends" : "; the building goes on"));
    if (m_plan.endOnFailure) {
        m_failed = true;
        m_quit = true;
        m_endWhy = "unit " + unit.name() + " ended early";
    }
}

// The building's own work at this instant: the frames the bus delivers,
// the script's and the console's lines, the events, the dashboard.
void BuildingRun::pass() {
    for (const BusFrame &frame : m_bus.arrived(m_now)) {
        arrive(frame);
    }
    std::vector<std::string> lines;
    int64_t host = hostMs();
    // What comes from the console and the dashboard waits until no unit is
    // past the building's clock.
    bool caughtUp = m_now >= m_committedMs;
    if (caughtUp && host >= m_nextConsoleMs) {
        m_nextConsoleMs = host + CONSOLE_PERIOD_MS;
        lines = m_console.waitForLines(0);
    }
    for (; m_scriptNext < m_script.size() && m_script[m_scriptNext].atMs <= m_now; m_scriptNext++) {
        lines.push_back(m_script[m_scriptNext].line);
    }
    for (const std::string &line : lines) {
        if (line.find_first_not_of(" \t") != std::string::npos) {
            say("building> " + line);
        }
        runLine(line);
    }
    while (m_withEvents && m_specEventNext < m_plan.events.size() &&
           m_plan.events[m_specEventNext].atMs <= m_now) {
        beginEvent(m_plan.events[m_specEventNext++]);
    }
    pollEvents();
    if (m_dashboard && caughtUp) {
        m_dashboard->poll(m_now);
    }
    m_console.flush();
}

// The next instant at which a unit or the building has something to do.
int64_t BuildingRun::nextInstant() const {
    int64_t next = std::min(m_endMs, m_bus.nextArrivalMs());
    for (const auto &u : m_units) {
        if (!u->gone) {
            next = std::min(next, u->clock().applicationWakeMs());
        }
    }
    if (m_scriptNext < m_script.size()) {
        next = std::min(next, m_script[m_scriptNext].atMs);
    }
    if (m_withEvents && m_specEventNext < m_plan.events.size()) {
        next = std::min(next, m_plan.events[m_specEventNext].atMs);
    }
    for (const auto &e : m_events) {
        next = std::min(next, e->nextMs());
    }
    // The console and the dashboard are looked at at least once a
    // simulated second.
    next = std::min(next, (m_now / 1000 + 1) * 1000);
    return std::max(next, m_now + 1);
}

void BuildingRun::advance(int64_t next) {
    platformFakeClockAdvanceMs(static_cast<uint64_t>(next - m_now));
    m_now = next;
}

void BuildingRun::finish(BuildingResult *result) {
    if (m_now >= m_endMs) {
        say("building: " + formatNumber("%g", m_plan.hours) + " simulated hours done");
    } else if (g_EndSignal != 0) {
        m_endWhy = std::string("interrupted (") + strsignal(g_EndSignal) + ")";
        m_failed = true;
    }
    if (!m_endWhy.empty()) {
        say("building: the run ends: " + m_endWhy);
    }
    if (m_dashboard) {
        m_dashboard->ended(m_endWhy.empty() ? "the run is over" : m_endWhy);
        m_dashboard.reset();
    }
    measureMemory();
    // Without the building's clock every unit ends, with its report.
    for (auto &u : m_units) {
        u->clock().close();
    }
    for (auto &u : m_units) {
        u->waitForEnd(UNIT_END_GRACE_MS);
        m_series[u->index()].address = u->address;
    }
    result->ran = !m_units.empty();
    result->units = m_series;
    result->minutes = static_cast<size_t>(std::min(m_now, m_endMs) / 60000);
    result->bus = m_bus.counts();
    for (const auto &e : m_events) {
        result->events.push_back({e->event(), e->unitCount(), e->notTaken()});
    }
    m_console.flush();
}

// What the units take of the host's memory, at the end of the run: each
// unit's simulator and its application.
void BuildingRun::measureMemory() {
    std::map<pid_t, pid_t> parent = parents();
    double total = 0.0;
    size_t counted = 0;
    for (const auto &u : m_units) {
        if (u->gone || u->pid() <= 0) {
            continue;
        }
        double kb = pssKb(u->pid());
        for (const auto &[pid, ppid] : parent) {
            kb += ppid == u->pid() ? pssKb(pid) : 0.0;
        }
        total += kb;
        counted++;
    }
    m_unitMemoryMb = counted > 0 ? total / 1024.0 / static_cast<double>(counted) : 0.0;
}

void BuildingRun::wantScreen(size_t unit) {
    if (unit < m_units.size()) {
        m_units[unit]->wantScreen = true;
    }
}

void BuildingRun::wantDashboard(size_t unit) {
    if (unit < m_units.size()) {
        m_units[unit]->send(LINK_DASHBOARD, "", 0);
    }
}

} // namespace sim
