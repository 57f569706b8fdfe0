// tstat-sim's simulator: the board it prepares, what an instant of simulated
// time does on either clock, and the end of the run with its report (the
// loops are in scaled_run.cpp and lockstep_run.cpp, the command line in
// cli.cpp).
#include "run/simulator.h"

#include "board/run_support.h"
#include "core/util.h"
#include "hvac/sensors.h"
#include "platform/platform.h"
#include "report/plot.h"
#include "report/report_json.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <unistd.h>

namespace sim {

namespace {

namespace fs = std::filesystem;

// Simulated seconds between two status lines of the house.
constexpr int64_t STATUS_PERIOD_MS = 60000;
// Bytes left unread on the link after which they count as stale (the
// terminal layer itself holds at most 4095).
constexpr size_t STALE_BYTES = 2048;
// Simulated milliseconds between two looks for stale bytes.
constexpr int64_t STALE_CHECK_PERIOD_MS = 1000;
// The time scale of a run of given hours when TSTAT_TIME_SCALE does not say:
// a simulated day in 24 host seconds, which a loaded two-core host sustains
// with the application keeping its 15-second control period.
constexpr const char *REPORT_TIME_SCALE = "3600";
// Simulated time from the start to the building controller's first weather,
// when the application has opened its link, and between two sendings.
constexpr int64_t WEATHER_FIRST_MS = 5000;
constexpr int64_t WEATHER_PERIOD_MS = 15 * 60000;
// Bounds of the board's files read whole: the relays file (one line), the
// screen's picture and a month's relay log.
constexpr size_t RELAYS_FILE_MAX_BYTES = 4096;
constexpr size_t SCREEN_MAX_BYTES = 16 << 20;
constexpr size_t RELAY_LOG_MAX_BYTES = 256 << 20;
// The screens a run kept, a name a line, in the report directory, and the
// most of it read back.
constexpr const char *SCREEN_LIST = "/screens.txt";
constexpr size_t SCREEN_LIST_MAX_BYTES = 1 << 20;
// The bus levels on which the thermostat reports its heat and cool set points
// in force.
constexpr uint8_t LEVEL_HEAT_IN_FORCE = 3;
constexpr uint8_t LEVEL_COOL_IN_FORCE = 4;

std::string relayText(const std::array<char, RELAY_COUNT> &r) {
    std::string text(r.begin(), r.end());
    std::string closed;
    for (uint32_t i = 0; i < RELAY_COUNT; i++) {
        if (r[i] == '1') {
            closed += closed.empty() ? "" : " ";
            closed += c_RelayNames[i];
        }
    }
    return text + " (" + (closed.empty() ? "all open" : closed) + ")";
}

// The run's relay log; false with the reason (and *absent when there is
// none) when it cannot be read whole.
bool readRelayLog(std::vector<RelayEvent> *log, std::string *error, bool *absent) {
    std::string path = rootedPath("/sim/relay-log");
    std::string text;
    if (!readBoardFile(path, RELAY_LOG_MAX_BYTES, &text, error, absent)) {
        if (*absent) {
            *error = "no relay log " + path;
        }
        return false;
    }
    std::istringstream in(text);
    std::string why;
    if (!parseRelayLog(in, *log, why)) {
        *error = "the relay log " + path + " cannot be read: " + why;
        return false;
    }
    return true;
}

// The most events a run keeps for its plot, and the longest text of one.
constexpr size_t MAX_EVENTS = 1000;
constexpr size_t EVENT_TEXT_MAX = 56;

// What a line the simulator says tells as an event of the run ("": none):
// the dashboard's keys, under-voltage, downloads begun and ended, the
// thermostat's mode reports, bad frames and the run's end. (The console's
// and the script's lines are events of their own.)
std::string eventOf(const std::string &line) {
    auto starts = [&line](const char *prefix) { return line.rfind(prefix, 0) == 0; };
    std::string text;
    if (starts("web> key ")) {
        text = line.substr(5);
    } else if (starts("coproc: line voltage reading ") || starts("coproc: silent for ") ||
               (starts("coproc: download ") && line.find('%') == std::string::npos)) {
        text = line.substr(8);
    } else if (starts("tstat> reply \"MD ") && line.find("mode report: ") != std::string::npos) {
        text = "mode: " + line.substr(line.find("mode report: ") + 13);
    } else if (starts("tstat> bad frame")) {
        text = "bad frame from the thermostat";
    } else if (starts("tstat-sim: the application ") || starts("tstat-sim: interrupted")) {
        text = line.substr(11);
    }
    return text;
}

} // namespace

Simulator::Simulator(const SimOptions &options, bool startApplication)
    : m_options(options), m_startApplication(startApplication), m_house(options.house),
      m_board([this](const std::string &l) { say(l); }),
      m_console([this](const std::string &l) { say(l); }),
      m_app([this](const std::string &l) { say(l); }) {}

int Simulator::run() {
    // The script is checked whole before anything starts.
    std::string error;
    if (!m_options.script.empty() &&
        !loadScript(m_options.script, m_options.startWall, &m_script, &error)) {
        say("tstat-sim: " + error);
        return 2;
    }
    // Nothing of the run starts on a board that could not be made ready.
    if (!prepare()) {
        return 2;
    }
    return m_lockstep ? runLockstep() : runScaled();
}

// ---- The run made ready --------------------------------------------------------------------

bool Simulator::prepare() {
    // In lock-step time this process's clock is the simulated one from the start.
    if (m_options.lockstep) {
        m_lockstep = std::make_unique<LockstepClock>(m_options.startWall);
        m_lockstep->setAnswerLimitMs(std::llround(m_options.answerLimit * 1000.0));
        m_options.coproc.simulatedTimeouts = true;
    }
    if (m_options.buildingLink >= 0 && !openBuildingLink()) {
        return false;
    }
    say("tstat-sim: board root " + absoluteRoot());
    if (!prepareBoard(boardSetup(m_options), [this](const std::string &l) { say(l); })) {
        return false;
    }
    if (m_options.report && !reportDirectoryWritable()) {
        return false;
    }
    if (m_options.report) {
        removeLastReport();
    }
    removeLastScreens();
    // The relays the last run's application left are not this one's.
    if (m_startApplication && m_options.serial.empty()) {
        unlink(rootedPath("/sim/relays").c_str());
    }
    prepareHouse();
    int linkFd = -1;
    if (!openLink(&linkFd)) {
        return false;
    }
    if (Sensors_Initialize() != 0) {
        say("tstat-sim: the sensor tables did not initialise");
        return false;
    }
    m_coproc = std::make_unique<Coprocessor>(linkFd, m_house, m_options.coproc,
                                             [this](const std::string &l) { say(l); });
    attachBuildingBus();
    if (m_pty.isShared()) {
        say("tstat-sim: coprocessor on a line in shared memory handed to the application");
    } else if (m_options.serial.empty()) {
        say("tstat-sim: coprocessor on " + m_pty.slaveName() + ", linked as " + m_pty.linkPath());
    }
    m_console.open(m_options.port);
    banner();
    catchEndSignals();
    prepareConsole();
    // Everything is attached: a board that waits in the emulator may run.
    std::string error;
    if (!m_board.resume(&error)) {
        say("tstat-sim: the emulated board does not run: " + error);
        return false;
    }
    return true;
}

void Simulator::prepareHouse() {
    // The thermostat's record tells the set points in force and, unless
    // given, how many stages the equipment has.
    if (m_setpoints.refresh() && m_house.params().stages == 0) {
        m_house.setStages(m_setpoints.setup().stages);
    }
    if (!m_options.weather.empty()) {
        m_house.setWeather(m_options.weather);
    }
}

// The coprocessor's line: a board's serial device, a line in shared memory
// handed to the application the simulator starts in lock-step time, or a
// pseudo-terminal linked as the board root's /dev/ttyCOPROC.
bool Simulator::openLink(int *linkFd) {
    std::string error;
    if (!m_options.serial.empty()) {
        if (!m_board.attach(m_options.serial, m_options.qmp, m_options.ioPageFile,
                            m_options.ioPageOffset, m_options.boardConsole, linkFd, &error)) {
            say("tstat-sim: " + error);
            return false;
        }
        say("tstat-sim: " + m_board.description());
        return true;
    }
    if (m_options.lockstep && m_startApplication) {
        if (!m_lockstep->open(&error) || !m_pty.openShared(m_lockstep->shared(), &error)) {
            say("tstat-sim: " + error);
            return false;
        }
        std::error_code ec;
        if (fs::is_symlink(rootedPath("/dev/ttyCOPROC"), ec)) {
            fs::remove(rootedPath("/dev/ttyCOPROC"), ec);
        }
    } else if (!m_pty.open(rootedPath("/dev/ttyCOPROC"), &error)) {
        say("tstat-sim: " + error);
        return false;
    }
    *linkFd = m_pty.releaseMaster();
    return true;
}

void Simulator::prepareConsole() {
    // A board in an emulator takes its keys through the emulator.
    if (QmpClient *keys = m_board.keys()) {
        m_keys.useBoard(keys);
    }
    m_keys.setSay([this](const std::string &l) { say(l); });
    m_keys.setLockstep(m_lockstep != nullptr);
    m_commands = ConsoleContext{m_coproc.get(),
                                &m_house,
                                &m_paused,
                                &m_quit,
                                [this](const std::string &l) { say(l); },
                                [this] { showHouse(); },
                                &m_keys,
                                [this](const std::string &name) { m_screens.push_back(name); },
                                m_board.console()};
}

void Simulator::banner() {
    const HouseParams &p = m_house.params();
    char line[256];
    snprintf(line, sizeof(line),
             "tstat-sim: time scale %g; indoor %.1f C, rh %.0f %%; second thermistor %s",
             platformTimeScale(), p.indoorStart, p.indoorRhStart,
             m_options.coproc.external == ExternalSensor::Outdoor ? "outdoors" : "indoors");
    say(line);
    say("tstat-sim: house " + houseSummary(p, m_house.weather()));
}

bool Simulator::startApplication() {
    Application::Handover handover;
    if (m_lockstep && m_options.inProcess && m_pty.isShared()) {
        std::string why;
        if (m_app.startInProcess(m_options.tstat, m_options.data, m_lockstep->shared().get(),
                                 m_pty.slaveFd(), &why)) {
            m_lockstep->setInProcess([this] { m_app.switchTo(); });
            return true;
        }
        say("tstat-sim: the application cannot run in this process (" + why +
            "); starting it as a program");
    }
    if (m_lockstep) {
        handover.clockFd = m_lockstep->childFd();
        if (m_pty.isShared()) {
            handover.linkFd = m_pty.slaveFd();
        }
    }
    return m_app.start(m_options.tstat, m_options.data, handover);
}

void Simulator::startDashboard() {
    auto dashboard = std::make_unique<Dashboard>(m_house, m_commands);
    std::string error;
    bool started = dashboard->start(m_options.http, &error);
    if (!started && m_options.http == DASHBOARD_DEFAULT_PORT) {
        // Another run has the usual port: any free one will do.
        say("tstat-sim: " + error + "; taking a free port");
        started = dashboard->start(0, &error);
    }
    if (!started) {
        say("tstat-sim: no dashboard: " + error);
        return;
    }
    std::string port = std::to_string(dashboard->port());
    m_httpPortFile = rootedPath("/sim/http.port");
    if (!writeFileAtomic(m_httpPortFile, port + "\n")) {
        say("tstat-sim: cannot write " + m_httpPortFile);
    }
    dashboard->setLockstep(m_lockstep != nullptr);
    if (!m_options.serial.empty()) {
        dashboard->setBoardName(m_options.qmp.empty() ? "a board on a serial line"
                                                      : "the emulated board");
    }
    m_dashboard = std::move(dashboard);
    say("tstat-sim: dashboard: open http://127.0.0.1:" + port);
}

void Simulator::beginRun(int64_t startMs) {
    m_at.lastPass = startMs;
    m_at.nextStatus = startMs + STATUS_PERIOD_MS;
    m_at.nextStaleCheck = startMs;
    m_at.nextWeather = startMs + WEATHER_FIRST_MS;
    m_startDay = localDay();
    startWeather();
    m_house.advance(0.0, runHour());
    readRelays();
    m_recorder.begin(platformUptimeMs(), m_house);
    m_hostStart = std::chrono::steady_clock::now();
}

// A weather file starts at its first row (or the hour asked for) whatever
// the time of day, and says when the run is longer than what it holds.
void Simulator::startWeather() {
    if (m_options.weather.empty()) {
        return;
    }
    WeatherDay weather = m_options.weather;
    double from = m_options.weatherFrom >= 0.0 ? m_options.weatherFrom : weather.firstHour();
    weather.startAt(runHour(), from);
    m_house.setWeather(weather);
    std::string name = weather.name().substr(weather.name().find_last_of('/') + 1);
    double left = weather.period() - from;
    say("tstat-sim: weather " + name + " from its hour " + formatNumber("%g", from) + ", " +
        formatNumber("%g", left) + " h" +
        (m_options.hours <= 0.0 || m_options.hours > left + 1e-9
             ? ": a longer run repeats it from its hour 0"
             : std::string()));
}

// ---- An instant ----------------------------------------------------------------------------

void Simulator::step(int64_t now, const std::vector<std::string> &lines) {
    m_keys.poll(now);
    // Console lines first, so that what they set is in this instant's reports.
    for (const std::string &line : lines) {
        // A line taken is an event of the run (a voltage says its own).
        if (runConsoleLine(line, m_commands) &&
            line.find_first_not_of(" \t") != std::string::npos && line.rfind("voltage", 0) != 0) {
            noteEvent(line.substr(line.find_first_not_of(" \t")));
        }
    }
    advanceHouse(now);
    pollPeers(now);
}

void Simulator::advanceHouse(int64_t now) {
    // A paused house keeps its state; only the outdoor climate follows the
    // clock (and the console's settings).
    m_house.advance(m_paused ? 0.0 : static_cast<double>(now - m_at.lastPass) / 1000.0, runHour());
    m_at.lastPass = now;
    // The set points the thermostat runs to, as the bus last carried them.
    int heat = m_coproc->exchangedLevel(LEVEL_HEAT_IN_FORCE);
    int cool = m_coproc->exchangedLevel(LEVEL_COOL_IN_FORCE);
    if (heat >= 0 && cool >= 0) {
        bool celsius = m_setpoints.setup().celsius;
        m_recorder.reportedInForce(celsiusOfBusTemperature(static_cast<uint8_t>(heat), celsius),
                                   celsiusOfBusTemperature(static_cast<uint8_t>(cool), celsius));
    }
    // The trace counts the pass's time with the relays the house ran on.
    m_recorder.pass(platformUptimeMs(), util_time(nullptr), m_house, m_setpoints);
    readRelays();
}

void Simulator::pollPeers(int64_t now) {
    dropStaleReports(now);
    m_coproc->poll(now, applicationRanSince(&m_input.linkRuns));
    int64_t host = hostMs();
    m_board.poll(host);
    // In lock-step time what the application wrote in its turn is said at
    // the instant of that turn, the same on every run. It tells when it
    // wrote its standard output; what else reaches the pipe (a library's
    // message on standard error) is read within a simulated minute.
    if (!m_lockstep) {
        m_app.poll(host);
    } else if (m_lockstep->takeOutputWritten() ||
               (now >= m_at.nextOutputLook && applicationRanSince(&m_outputRuns))) {
        m_at.nextOutputLook = now + STATUS_PERIOD_MS;
        m_app.readNow();
    }
    sendWeather(now);
    if (now >= m_at.nextStatus) {
        m_at.nextStatus = now + STATUS_PERIOD_MS;
        everyMinute();
    }
    if (m_dashboard) {
        m_dashboard->poll(now);
    }
    m_console.flush();
}

void Simulator::dropStaleReports(int64_t now) {
    if (now < m_at.nextStaleCheck) {
        return;
    }
    m_at.nextStaleCheck = now + STALE_CHECK_PERIOD_MS;
    // In lock-step time the simulator keeps count of what is left unread.
    if (m_lockstep && m_app.running() && m_input.link <= STALE_BYTES) {
        return;
    }
    bool flushed = m_pty.flushIfUnread(STALE_BYTES);
    m_input.stale = m_input.stale || flushed;
    if (flushed && !m_staleNoted) {
        say("coproc: nobody is reading the link; dropping stale reports");
        m_staleNoted = true;
    }
}

void Simulator::readRelays() {
    // In lock-step time the application says when it wrote the file.
    bool told = m_lockstep && m_app.running() && m_relays.looked;
    if (told && !m_lockstep->takeRelaysWritten()) {
        return;
    }
    m_relays.looked = true;
    // The file is replaced whole (written aside, then renamed): a new inode
    // or time stamp is a new state.
    std::string path = rootedPath("/sim/relays");
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return;
    }
    const struct stat &last = m_relays.stamp;
    if (st.st_ino == last.st_ino && st.st_size == last.st_size &&
        st.st_mtim.tv_sec == last.st_mtim.tv_sec && st.st_mtim.tv_nsec == last.st_mtim.tv_nsec) {
        return;
    }
    m_relays.stamp = st;
    std::string text;
    std::string error;
    if (!readBoardFile(path, RELAYS_FILE_MAX_BYTES, &text, &error)) {
        return;
    }
    text.resize(std::min(text.size(), text.find('\n')));
    if (text.size() < RELAY_COUNT) {
        return;
    }
    text.resize(RELAY_COUNT);
    if (text == m_relays.contacts) {
        return;
    }
    m_relays.contacts = text;
    std::array<char, RELAY_COUNT> contacts;
    std::copy(text.begin(), text.end(), contacts.begin());
    m_house.setRelays(contacts);
    // Contacts not pulsed yet (the relay driver's start) are not news.
    if (text.find_first_not_of('?') != std::string::npos) {
        say("relays " + relayText(contacts));
    }
}

void Simulator::sendWeather(int64_t now) {
    if (!m_options.controllerWeather || now < m_at.nextWeather || !m_coproc->options().online) {
        return;
    }
    m_at.nextWeather = now + WEATHER_PERIOD_MS;
    m_setpoints.refresh();
    ControllerWeather weather = controllerWeather(m_house, runHour(), m_options.coproc.seed);
    // The console's own commands, said as the controller's.
    ConsoleContext controller = m_commands;
    controller.awaitAnswers = false;
    controller.say = [this](const std::string &line) {
        say(line.rfind("sim> ", 0) == 0 ? "weather> " + line.substr(5) : line);
    };
    for (const std::string &line : controllerWeatherLines(weather, m_setpoints.setup().celsius)) {
        runConsoleLine(line, controller);
    }
}

void Simulator::everyMinute() {
    m_requests.lastMinute = m_coproc->takeRequestCounts();
    unsigned count = static_cast<unsigned>(strtoul(m_requests.lastMinute.c_str(), nullptr, 10));
    // Counted from the first minute the application asked for anything, so
    // that its start-up does not count as falling behind.
    if (count > 0 || m_requests.minutes > 0.0) {
        m_requests.count += count;
        m_requests.minutes += 1.0;
    }
    if (m_options.status) {
        showHouse();
    }
}

void Simulator::say(const std::string &line) {
    // A run of a day or more dates its lines (its last instant has the
    // clock time of its first): from the start when it says so, from its
    // second day when it runs until stopped.
    bool dated = m_options.hours >= 24.0 ||
                 (m_options.hours <= 0.0 && m_startDay != 0 && localDay() != m_startDay);
    std::string text = clockStamp(dated) + " " + line + "\n";
    noteEvent(eventOf(line));
    fputs(text.c_str(), stdout);
    fflush(stdout);
    m_console.send(text);
    if (m_dashboard) {
        m_dashboard->said(text.substr(0, text.size() - 1));
    }
}

void Simulator::noteEvent(const std::string &text) {
    if (text.empty() || text[0] == '#') {
        return;
    }
    std::string shown =
        text.size() > EVENT_TEXT_MAX ? text.substr(0, EVENT_TEXT_MAX - 3) + "..." : text;
    if (m_events.size() < MAX_EVENTS) {
        m_events.push_back({platformUptimeMs(), shown});
    }
    if (m_dashboard) {
        m_dashboard->mark(util_time(nullptr), shown);
    }
}

void Simulator::showHouse() {
    HouseSnapshot s = m_house.snapshot();
    char line[256];
    snprintf(line, sizeof(line),
             "house: indoor %.2f C (%.1f F), mass %.2f C, outdoor %.2f C, rh %.1f %%, relays %s, "
             "%s%s",
             s.indoor, s.indoor * 9.0 / 5.0 + 32.0, s.mass, s.outdoor, s.rh,
             relayText(m_house.relays()).c_str(), s.activity.c_str(), m_paused ? ", paused" : "");
    say(std::string(line) + ", requests " + m_requests.lastMinute);
}

double Simulator::runHour() const {
    return static_cast<double>(localDay() - m_startDay) * 24.0 + hourOfDay();
}

void Simulator::takeScreens() {
    // A board in an emulator shows this moment's screen.
    m_board.dumpScreenNow(hostMs());
    std::string dir = reportDirectory();
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::string png;
    std::string error;
    bool absent = false;
    if (!readBoardFile(rootedPath("/sim/screen.png"), SCREEN_MAX_BYTES, &png, &error, &absent)) {
        png.clear();
    }
    std::string none = absent || error.empty() ? "none shown yet" : error;
    for (const std::string &name : m_screens) {
        std::string path = dir + "/" + name + ".png";
        bool kept = !png.empty() && writeFileAtomic(path, png);
        say(kept ? "tstat-sim: screen " + path
                 : "tstat-sim: no screen to keep as " + path + ": " +
                       (png.empty() ? none : std::string(strerror(errno))));
        if (kept && m_keptScreens.find("\n" + name + "\n") == std::string::npos) {
            m_keptScreens += name + "\n";
        }
    }
    m_screens.clear();
    // Named as they are kept, so that the next run finds them however this one ends.
    if (!writeFileAtomic(dir + SCREEN_LIST, m_keptScreens.substr(1))) {
        say("tstat-sim: cannot write " + dir + SCREEN_LIST);
    }
}

// ---- The end -------------------------------------------------------------------------------

void Simulator::noteEnd(const std::string &why, int status) {
    say("tstat-sim: " + why);
    if (m_end.why.empty()) {
        m_end.why = why;
        m_end.status = status;
    }
}

bool Simulator::hoursDone() {
    if (m_options.hours <= 0.0 || m_recorder.simulatedSeconds() < m_options.hours * 3600.0) {
        return false;
    }
    noteEnd(formatNumber("%g", m_options.hours) + " simulated hours done", -1);
    return true;
}

bool Simulator::applicationEnded(int *status) {
    std::string why;
    if (!m_app.ended(status, &why)) {
        return false;
    }
    noteEnd(why, *status);
    return true;
}

int Simulator::shutDown(int exitStatus) {
    double hostSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_hostStart).count();
    if (g_EndSignal != 0) {
        noteEnd(std::string("interrupted (") + strsignal(g_EndSignal) + ")", -1);
        m_end.interrupted = true;
    } else if (m_quit && m_end.why.empty()) {
        noteEnd("quit from the console", -1);
    }
    // The building goes on without this unit at once.
    if (m_building.client) {
        m_building.client->close();
    }
    // In lock-step time the application waits for its clock: without one it ends.
    if (m_lockstep) {
        m_lockstep->close();
    }
    m_app.stop();
    // Screens asked for at the last instant: the one the application showed last.
    if (!m_screens.empty()) {
        takeScreens();
    }
    if (m_dashboard) {
        // The open pages learn why before the server goes.
        m_dashboard->ended(m_end.why, m_end.status);
        m_dashboard.reset();
    }
    if (!m_httpPortFile.empty()) {
        unlink(m_httpPortFile.c_str());
    }
    if (m_options.report) {
        finishReport(hostSeconds);
    }
    m_console.flush();
    m_coproc.reset();
    m_console.close();
    // An interrupted run fails as a shell expects of a signal.
    if (m_end.interrupted) {
        return 128 + static_cast<int>(g_EndSignal);
    }
    return exitStatus == 0 && m_end.reportFailed ? 1 : exitStatus;
}

namespace {

// The plot of a long run draws every so many minutes of its trace, so that
// its rows in memory stay this many at most (16 days of minutes, so that
// the two weeks of a study still draw every minute).
constexpr size_t PLOT_ROWS = 16 * 24 * 60;
// Trace lines written at once.
constexpr size_t TRACE_CHUNK_ROWS = 1024;

} // namespace

// The report's figures, the trace and the rows to plot, read back row by
// row from what the recorder kept; false when it cannot read them or the
// trace cannot be written.
bool Simulator::replayTrace(ReportBuilder *builder, const std::string &tracePath,
                            std::vector<TraceRow> *plotRows) {
    size_t count = m_recorder.rowCount();
    size_t stride = (count + PLOT_ROWS - 1) / PLOT_ROWS;
    AtomicFileWriter trace(tracePath);
    std::ostringstream lines;
    writeTraceHeader(lines);
    size_t index = 0;
    bool written = true;
    bool read = m_recorder.forEachRow([&](const TraceRow &row) {
        builder->add(row);
        writeTraceRow(lines, row);
        if (index % stride == 0 || index + 1 == count) {
            plotRows->push_back(row);
        }
        if (++index % TRACE_CHUNK_ROWS == 0) {
            written = trace.put(lines.str()) && written;
            lines.str("");
        }
    });
    written = trace.put(lines.str()) && written;
    return read && trace.commit() && written;
}

void Simulator::finishReport(double hostSeconds) {
    if (m_recorder.rowCount() == 0) {
        say("tstat-sim: no report, trace or plot: the run ended before its first simulated minute");
        return;
    }
    std::vector<RelayEvent> log;
    bool absent = false;
    RunFigures run;
    if (!readRelayLog(&log, &run.relayLogError, &absent)) {
        // Without an application of its own the run may have no relay log;
        // one that the application could not write or the run cannot read
        // fails it.
        bool fails = !absent || m_app.started();
        say("tstat-sim: " + run.relayLogError +
            (fails ? "; no relay check: the run fails" : "; no relay check"));
        m_end.reportFailed = m_end.reportFailed || fails;
    }
    run.simulatedSeconds = m_recorder.simulatedSeconds();
    run.hostSeconds = m_lockstep ? 0.0 : hostSeconds;
    run.lockstep = m_lockstep != nullptr;
    run.seed = m_options.coproc.seed;
    run.longestPassSeconds = m_recorder.longestPassSeconds();
    run.requests = m_requests.count;
    run.requestMinutes = m_requests.minutes;
    run.relaySamplingMs = m_board.relaySamplingMs();
    run.interrupted = m_end.interrupted ? m_end.why : std::string();
    run.events = m_events;

    std::string dir = reportDirectory();
    std::string reportPath = dir + "/report.txt";
    std::string tracePath = dir + "/trace.csv";
    std::string plotPath = dir + "/day.png";
    ReportBuilder builder(m_setpoints.setup());
    std::vector<TraceRow> rows;
    bool traced = replayTrace(&builder, tracePath, &rows);
    Report report = builder.finish(log, run);
    std::string house =
        houseSummary(m_house.params(), m_house.weather(), m_setpoints.setup().celsius);
    std::string text = formatReport(report, house);
    std::string json = reportToJson(report, m_house.params(), house).dump(2) + "\n";
    bool written =
        traced && writeFileAtomic(reportPath, text) && writeFileAtomic(dir + "/report.json", json);
    std::string plotError;
    std::string title = std::string("tstat-sim: ") + housePresetName(m_house.params().preset) +
                        " house, " + formatNumber("%.1f", report.hours) + " hours from " +
                        localStamp(report.startWall, "%a %Y-%m-%d %H:%M");
    bool plotted =
        plotRun(plotPath, m_options.data + "/fonts", rows, log, report, title, house, &plotError);
    fputs(text.c_str(), stdout);
    m_console.send(text);
    if (!written) {
        say("tstat-sim: cannot write the report to " + dir + ": " + strerror(errno));
        m_end.reportFailed = true;
        return;
    }
    say("tstat-sim: report " + reportPath + ", trace " + tracePath +
        (plotted ? ", plot " + plotPath : ", no plot: " + plotError));
}

// A run's reports, trace and plot replace the last run's: none of those is
// left beside the new ones, or in place of ones not written.
void Simulator::removeLastReport() {
    std::string dir = reportDirectory();
    for (const char *name : {"/report.txt", "/report.json", "/trace.csv", "/day.png"}) {
        unlink((dir + name).c_str());
    }
}

// So do its screens, with a report or without: those the last run's list
// names (only names a screen can have), so that nothing else of the
// directory goes.
void Simulator::removeLastScreens() {
    std::string dir = reportDirectory();
    std::string list;
    std::string error;
    if (readBoardFile(dir + SCREEN_LIST, SCREEN_LIST_MAX_BYTES, &list, &error)) {
        std::istringstream names(list);
        for (std::string name; std::getline(names, name);) {
            if (isScreenName(name)) {
                unlink((dir + "/" + name + ".png").c_str());
            }
        }
    }
    unlink((dir + SCREEN_LIST).c_str());
}

std::string Simulator::reportDirectory() const {
    return m_options.reportDir.empty() ? rootedPath("/sim") : m_options.reportDir;
}

bool Simulator::reportDirectoryWritable() {
    std::string dir = reportDirectory();
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir) || access(dir.c_str(), W_OK | X_OK) != 0) {
        say("tstat-sim: the report cannot be written to " + dir + ": " +
            (ec ? ec.message() : std::string(strerror(errno != 0 ? errno : ENOTDIR))));
        return false;
    }
    return true;
}

int runSimulator(const SimOptions &options, bool startApplication) {
    if (!options.root.empty()) {
        setenv("TSTAT_ROOT", options.root.c_str(), 1);
    }
    // A run of given hours on the scaled clock goes as fast as the host
    // sustains unless told.
    const char *scale = getenv("TSTAT_TIME_SCALE");
    if (!options.lockstep && options.hours > 0.0 && (scale == nullptr || *scale == '\0')) {
        setenv("TSTAT_TIME_SCALE", REPORT_TIME_SCALE, 1);
    }
    if (options.lockstep) {
        unsetenv("TSTAT_TIME_SCALE");
        unsetenv("TSTAT_TIME_ANCHOR");
    } else {
        shareTimeAnchor();
    }
    Simulator simulator(options, startApplication);
    return simulator.run();
}

} // namespace sim
