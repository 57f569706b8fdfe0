// tstat-sim's simulator: the main loop that drives the coprocessor, the
// house, the console and the dashboard, the board it prepares, and the
// application it starts (the command line is in cli.cpp).
#include "app.h"
#include "../tools/common/program_command.h"
#include "run_support.h"

#include "board.h"
#include "board_link.h"
#include "common/file_descriptor.h"
#include "console.h"
#include "core/util.h"
#include "decode.h"
#include "hvac/sensors.h"
#include "keys.h"
#include "lockstep.h"
#include "platform/platform.h"
#include "plot.h"
#include "report.h"
#include "script.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace sim {

namespace {

namespace fs = std::filesystem;

// Longest host wait of one pass (nanoseconds), and the most simulated time
// one pass may cover (milliseconds): the coprocessor reports once a
// simulated second and the house is stepped once a pass, so a fast time
// scale needs short passes.
constexpr int64_t PASS_WAIT_MAX_NS = 10 * 1000 * 1000;
constexpr double PASS_SIM_MS = 100.0;
// Simulated seconds between two status lines of the house.
constexpr int64_t STATUS_PERIOD_MS = 60000;
// Bytes left unread on the link after which they count as stale (the
// terminal layer itself holds at most 4095).
constexpr size_t STALE_BYTES = 2048;
// Simulated milliseconds between two looks for stale bytes.
constexpr int64_t STALE_CHECK_PERIOD_MS = 1000;
constexpr size_t MAX_CLIENTS = 8;
// Host milliseconds after which a console client that sent no line is
// dropped, and after which, when every place is taken, it makes room for a
// new client.
constexpr int64_t CLIENT_IDLE_MS = 600000;
constexpr int64_t CLIENT_ROOM_IDLE_MS = 2000;
// A client that does not read its output is dropped past this much.
constexpr size_t MAX_CLIENT_BACKLOG = 4 * 1024 * 1024;
// Host milliseconds the application gets to end after SIGTERM.
constexpr int CHILD_GRACE_MS = 3000;
// The time scale of a run of given hours when TSTAT_TIME_SCALE does not say:
// a simulated day in 24 host seconds, which a loaded two-core host sustains
// with the application keeping its 15-second control period.
constexpr const char *REPORT_TIME_SCALE = "3600";
// Simulated time from the start to the building controller's first weather,
// when the application has opened its link, and between two sendings.
constexpr int64_t WEATHER_FIRST_MS = 5000;
constexpr int64_t WEATHER_PERIOD_MS = 15 * 60000;
// The bus levels on which the thermostat reports its heat and cool set points
// in force.
constexpr uint8_t LEVEL_HEAT_IN_FORCE = 3;
constexpr uint8_t LEVEL_COOL_IN_FORCE = 4;
// In lock-step time: the host milliseconds between two frames published for
// the dashboard.
constexpr int64_t DASHBOARD_FRAME_MS = 200;
// Host milliseconds between two looks at the application's output.
constexpr int64_t OUTPUT_READ_PERIOD_MS = 20;
// Host milliseconds between two looks at the console in lock-step time.
constexpr int64_t CONSOLE_PERIOD_MS = 5;
// Host milliseconds between two screen dumps of a board in an emulator.
constexpr int64_t BOARD_SCREEN_PERIOD_MS = 1000;

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

struct Client {
    FileDescriptor fd;
    LineBuffer lines;
    std::string out;
    bool spoke = false;     // a line has come (the first one was checked)
    int64_t lastLineMs = 0; // host time of the last line, or of the connection
};

int64_t hostMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The simulator's main loop and everything it owns.
class Simulator {
  public:
    Simulator(const SimOptions &options, bool startApplication)
        : m_options(options), m_startApplication(startApplication), m_house(options.house) {}

    int run();

  private:
    bool openConsoleSocket();
    void acceptClients();
    void readClient(Client &client, std::vector<std::string> *lines);
    void dropIdleClients();
    void flushClient(Client &client);
    void readStdin(std::vector<std::string> *lines);
    void say(const std::string &line);
    void showHouse();
    void readRelays();
    bool startApplication();
    bool applicationEnded(int *status);
    void stopApplication();
    void banner();
    void startDashboard(ConsoleContext &ctx);
    // Hours since midnight of the day the run began, on the simulated clock.
    double runHour() const;
    void everyMinute();
    // Says why the run ends (once), with the application's exit status or -1.
    void noteEnd(const std::string &why, int status);
    // The building controller's weather, on the bus when it is online.
    void sendWeather(int64_t now);
    void finishReport(double hostSeconds);
    std::string reportDirectory() const;
    bool reportDirectoryWritable();
    // The steps of run(): the board, link, console and signals made ready;
    // one pass's wait for input; the house and the trace moved on to now;
    // the link, status line, dashboard and console clients served; the run's
    // end by its hours; and everything stopped, with the report.
    bool prepare();
    std::vector<std::string> waitForConsoleLines(int64_t waitNs);
    void advanceHouse(int64_t now);
    void pollPeers(int64_t now);
    // The run's timers from its first instant, the house and the relays as
    // they stand, and the recorder started.
    void beginRun(int64_t startMs);
    bool hoursDone();
    void shutDown(double hostSeconds);
    // Lock-step time: the run, one instant of the simulator's own work, the
    // next instant it has something to do, and whether the application has
    // input it has not seen yet.
    int runLockstep();
    void lockstepPass(int64_t now);
    int64_t nextSimulatorEventMs(int64_t now) const;
    // The console's key presses (released later) and screen pictures.
    bool pressKey(uint16_t code, double holdSeconds);
    void releaseKeysDue(int64_t now);
    void takeScreens();
    size_t inputForApplication();
    bool applicationRanSince(uint64_t *seen);
    // The application's standard output, said as whole lines of its own
    // (its messages end in a carriage return as often as in a newline); to
    // the end of what it wrote once it has ended.
    void readApplicationOutput(bool toTheEnd);
    // A board that runs the board flavour: its serial line, the emulator's
    // machine protocol and the shared I/O page; its screen dumped now and
    // then into sim/screen.png.
    bool attachBoard(int *linkFd);
    void dumpBoardScreen(int64_t hostNow);

    SimOptions m_options;
    bool m_startApplication;
    House m_house;
    PseudoTerminal m_pty;
    std::unique_ptr<Coprocessor> m_coproc;
    FileDescriptor m_listen;
    std::vector<std::unique_ptr<Client>> m_clients;
    LineBuffer m_stdinLines;
    bool m_stdinOpen = true;
    bool m_paused = false;
    bool m_quit = false;
    pid_t m_child = -1;
    std::string m_portFile;
    std::string m_lastRelays;
    struct stat m_relaysStat {};
    // In lock-step time the application's link bytes and what waits for it
    // change only when it runs or the simulator sends: the counts of its
    // runs and of the bytes sent at the last looks, and whether keys were
    // pressed or released since. Its relays file it reports itself, once the
    // simulator has read it first.
    bool m_relaysLooked = false;
    uint64_t m_linkSeenRuns = UINT64_MAX;
    uint64_t m_inputSeenRuns = UINT64_MAX;
    size_t m_inputCount = 0;
    uint32_t m_inputSeenSent = 0;
    bool m_inputStale = true;
    bool m_staleNoted = false;
    std::unique_ptr<Dashboard> m_dashboard;
    std::unique_ptr<ConsoleContext> m_console;
    int64_t m_lastPassMs = 0;
    int64_t m_nextStatusMs = 0;
    int64_t m_nextStaleCheckMs = 0;
    int64_t m_nextWeatherMs = 0;
    std::string m_end;
    int m_endStatus = -1;
    std::string m_httpPortFile;
    int64_t m_startDay = 0;
    Recorder m_recorder;
    SetpointSource m_setpoints;
    // The periodic requests of the last whole minute, and their count over the run.
    std::string m_lastRequests = "-";
    unsigned m_requests = 0;
    double m_requestMinutes = 0;
    // Lock-step time (null when the clock is scaled), the script's lines
    // and the next one due, the keys held down, the screens asked for.
    std::unique_ptr<LockstepClock> m_lockstep;
    std::vector<ScriptLine> m_script;
    size_t m_scriptNext = 0;
    KeyWriter m_keys;
    struct HeldKey {
        int64_t releaseMs;
        uint16_t code;
    };
    std::vector<HeldKey> m_heldKeys;
    std::vector<std::string> m_screens;
    QmpClient m_qmp;
    IoPageMirror m_ioPage;
    BoardConsole m_boardConsole;
    int64_t m_nextBoardScreenMs = 0;
    bool m_screenFailNoted = false;
    int64_t m_nextPublishMs = 0;
    int64_t m_longestStepMs = 0;
    uint64_t m_dashboardKeys = 0;
    FileDescriptor m_appOutput;
    std::string m_appPartial;
    int64_t m_nextOutputReadMs = 0;
    int64_t m_nextConsoleMs = 0;
    // The report could not be written: the run fails.
    bool m_reportFailed = false;
};

void Simulator::say(const std::string &line) {
    std::string text = clockStamp() + " " + line + "\n";
    fputs(text.c_str(), stdout);
    fflush(stdout);
    for (auto &client : m_clients) {
        if (client->fd.get() >= 0) {
            client->out += text;
        }
    }
    if (m_dashboard) {
        m_dashboard->said(text.substr(0, text.size() - 1));
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
    say(std::string(line) + ", requests " + m_lastRequests);
}

void Simulator::everyMinute() {
    m_lastRequests = m_coproc->takeRequestCounts();
    unsigned count = static_cast<unsigned>(strtoul(m_lastRequests.c_str(), nullptr, 10));
    // Counted from the first minute the application asked for anything, so
    // that its start-up does not count as falling behind.
    if (count > 0 || m_requestMinutes > 0.0) {
        m_requests += count;
        m_requestMinutes += 1.0;
    }
    if (m_options.status) {
        showHouse();
    }
}

void Simulator::noteEnd(const std::string &why, int status) {
    say("tstat-sim: " + why);
    if (m_end.empty()) {
        m_end = why;
        m_endStatus = status;
    }
}

void Simulator::sendWeather(int64_t now) {
    if (!m_options.controllerWeather || now < m_nextWeatherMs || !m_coproc->options().online) {
        return;
    }
    m_nextWeatherMs = now + WEATHER_PERIOD_MS;
    m_setpoints.refresh();
    ControllerWeather weather = controllerWeather(m_house, runHour(), m_options.coproc.seed);
    // The console's own commands, said as the controller's.
    ConsoleContext controller = *m_console;
    controller.say = [this](const std::string &line) {
        say(line.rfind("sim> ", 0) == 0 ? "weather> " + line.substr(5) : line);
    };
    for (const std::string &line : controllerWeatherLines(weather, m_setpoints.setup().celsius)) {
        runConsoleLine(line, controller);
    }
}

double Simulator::runHour() const {
    return static_cast<double>(localDay() - m_startDay) * 24.0 + hourOfDay();
}

void Simulator::readRelays() {
    // In lock-step time the application says when it wrote the file.
    bool told = m_lockstep && m_child >= 0 && m_relaysLooked;
    if (told && !m_lockstep->takeRelaysWritten()) {
        return;
    }
    m_relaysLooked = true;
    // The file is replaced whole (written aside, then renamed): a new inode
    // or time stamp is a new state.
    std::string path = rootedPath("/sim/relays");
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return;
    }
    if (st.st_ino == m_relaysStat.st_ino && st.st_size == m_relaysStat.st_size &&
        st.st_mtim.tv_sec == m_relaysStat.st_mtim.tv_sec &&
        st.st_mtim.tv_nsec == m_relaysStat.st_mtim.tv_nsec) {
        return;
    }
    m_relaysStat = st;
    std::ifstream in(path);
    std::string text;
    if (!in || !std::getline(in, text) || text.size() < RELAY_COUNT) {
        return;
    }
    text.resize(RELAY_COUNT);
    if (text == m_lastRelays) {
        return;
    }
    m_lastRelays = text;
    std::array<char, RELAY_COUNT> contacts;
    std::copy(text.begin(), text.end(), contacts.begin());
    m_house.setRelays(contacts);
    say("relays " + relayText(contacts));
}

bool Simulator::openConsoleSocket() {
    FileDescriptor fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        say(std::string("tstat-sim: no console socket: ") + strerror(errno));
        return false;
    }
    int yes = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(m_options.port));
    if (bind(fd.get(), reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) != 0 ||
        listen(fd.get(), 4) != 0) {
        say("tstat-sim: cannot listen on 127.0.0.1:" + std::to_string(m_options.port) + ": " +
            strerror(errno));
        return false;
    }
    socklen_t len = sizeof(addr);
    getsockname(fd.get(), reinterpret_cast<struct sockaddr *>(&addr), &len);
    int port = ntohs(addr.sin_port);
    m_portFile = rootedPath("/sim/console.port");
    if (!writeFileAtomic(m_portFile, std::to_string(port) + "\n")) {
        say("tstat-sim: cannot write " + m_portFile);
    }
    m_listen = std::move(fd);
    say("tstat-sim: console on 127.0.0.1:" + std::to_string(port) + " (port in " + m_portFile +
        "); type help");
    return true;
}

void Simulator::acceptClients() {
    for (;;) {
        int fd = accept4(m_listen.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        int64_t now = hostMs();
        if (m_clients.size() >= MAX_CLIENTS) {
            // Every place is taken: the client quiet the longest makes room.
            auto quietest = std::min_element(
                m_clients.begin(), m_clients.end(),
                [](const auto &a, const auto &b) { return a->lastLineMs < b->lastLineMs; });
            if (now - (*quietest)->lastLineMs < CLIENT_ROOM_IDLE_MS) {
                const char *busy = "tstat-sim: too many console clients\n";
                ssize_t ignored = write(fd, busy, strlen(busy));
                (void)ignored;
                close(fd);
                continue;
            }
            const char *bye = "tstat-sim: closed to make room for another console client\n";
            ssize_t ignored = write((*quietest)->fd.get(), bye, strlen(bye));
            (void)ignored;
            m_clients.erase(quietest);
        }
        auto client = std::make_unique<Client>();
        client->fd = FileDescriptor(fd);
        client->lastLineMs = now;
        m_clients.push_back(std::move(client));
    }
}

void Simulator::dropIdleClients() {
    int64_t now = hostMs();
    for (auto &client : m_clients) {
        if (client->fd.get() >= 0 && now - client->lastLineMs > CLIENT_IDLE_MS) {
            const char *bye = "tstat-sim: closed after ten minutes without a line\n";
            ssize_t ignored = write(client->fd.get(), bye, strlen(bye));
            (void)ignored;
            client->fd.reset();
        }
    }
}

void Simulator::readClient(Client &client, std::vector<std::string> *lines) {
    char buf[4096];
    for (;;) {
        ssize_t got = read(client.fd.get(), buf, sizeof(buf));
        if (got > 0) {
            std::vector<std::string> received;
            client.lines.add(buf, static_cast<size_t>(got), &received);
            if (received.empty()) {
                continue;
            }
            client.lastLineMs = hostMs();
            if (!client.spoke && isHttpRequestLine(received.front())) {
                // A web page posting to the port: nothing it sent is run.
                say("tstat-sim: a console client sent an HTTP request (\"" +
                    escapeText(received.front().substr(0, 80)) + "\"); closed");
                client.fd.reset();
                return;
            }
            client.spoke = true;
            lines->insert(lines->end(), received.begin(), received.end());
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            client.fd.reset();
        }
        return;
    }
}

void Simulator::flushClient(Client &client) {
    while (!client.out.empty() && client.fd.get() >= 0) {
        ssize_t put = send(client.fd.get(), client.out.data(), client.out.size(), MSG_NOSIGNAL);
        if (put > 0) {
            client.out.erase(0, static_cast<size_t>(put));
            continue;
        }
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (client.out.size() > MAX_CLIENT_BACKLOG) {
                client.fd.reset();
            }
            return;
        }
        client.fd.reset();
    }
}

void Simulator::readStdin(std::vector<std::string> *lines) {
    char buf[4096];
    ssize_t got = read(STDIN_FILENO, buf, sizeof(buf));
    if (got > 0) {
        m_stdinLines.add(buf, static_cast<size_t>(got), lines);
    } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        // End of input: the simulator goes on with the socket alone.
        m_stdinOpen = false;
    }
}

bool Simulator::startApplication() {
    if (access(m_options.tstat.c_str(), X_OK) != 0) {
        say("tstat-sim: " + m_options.tstat +
            " is missing or not executable (build it, or give --tstat); staying up as the "
            "coprocessor");
        return false;
    }
    std::string root = absoluteRoot();
    pid_t parent = getpid();
    ProgramCommand command(m_options.tstat, {"/dev/ttyCOPROC"});
    int output[2] = {-1, -1};
    if (pipe2(output, O_CLOEXEC) != 0) {
        say(std::string("tstat-sim: cannot start the application: ") + strerror(errno));
        return false;
    }
    pid_t pid = fork();
    if (pid < 0) {
        say(std::string("tstat-sim: cannot start the application: ") + strerror(errno));
        close(output[0]);
        close(output[1]);
        return false;
    }
    if (pid == 0) {
        // The application ends with the simulator, however the simulator ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(126);
        }
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) {
            dup2(devnull, STDIN_FILENO);
            close(devnull);
        }
        dup2(output[1], STDOUT_FILENO);
        if (chdir(m_options.data.c_str()) != 0) {
            fprintf(stderr, "tstat-sim: cannot enter %s: %s\n", m_options.data.c_str(),
                    strerror(errno));
            _exit(126);
        }
        setenv("TSTAT_ROOT", root.c_str(), 1);
        if (m_lockstep) {
            int fd = m_lockstep->childFd();
            fcntl(fd, F_SETFD, 0);
            setenv(LOCKSTEP_FD_VARIABLE, std::to_string(fd).c_str(), 1);
            if (m_pty.isSocketPair()) {
                fcntl(m_pty.slaveFd(), F_SETFD, 0);
                setenv(LOCKSTEP_LINK_FD_VARIABLE, std::to_string(m_pty.slaveFd()).c_str(), 1);
            }
        }
        command.exec();
        fprintf(stderr, "tstat-sim: cannot run %s: %s\n", m_options.tstat.c_str(), strerror(errno));
        _exit(127);
    }
    m_child = pid;
    close(output[1]);
    fcntl(output[0], F_SETFL, O_NONBLOCK);
    m_appOutput = FileDescriptor(output[0]);
    say("tstat-sim: started " + m_options.tstat + " /dev/ttyCOPROC (pid " + std::to_string(pid) +
        ") in " + m_options.data);
    return true;
}

bool Simulator::applicationEnded(int *status) {
    if (m_child < 0) {
        return false;
    }
    int st = 0;
    if (waitpid(m_child, &st, WNOHANG) != m_child) {
        return false;
    }
    m_child = -1;
    if (WIFEXITED(st)) {
        *status = WEXITSTATUS(st);
        noteEnd("the application ended with status " + std::to_string(*status), *status);
    } else {
        *status = 128 + (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
        noteEnd("the application was ended by signal " +
                    std::to_string(WIFSIGNALED(st) ? WTERMSIG(st) : 0),
                *status);
    }
    return true;
}

void Simulator::stopApplication() {
    // In lock-step time the application waits for its clock: without one it ends.
    if (m_lockstep) {
        m_lockstep->close();
    }
    stopChild(&m_child, CHILD_GRACE_MS);
    readApplicationOutput(true);
}

void Simulator::readApplicationOutput(bool toTheEnd) {
    if (m_appOutput.get() < 0) {
        return;
    }
    char buf[4096];
    ssize_t got;
    while ((got = read(m_appOutput.get(), buf, sizeof(buf))) > 0 || (got < 0 && errno == EINTR)) {
        m_appPartial.append(buf, static_cast<size_t>(std::max<ssize_t>(got, 0)));
        size_t end;
        while ((end = m_appPartial.find_first_of("\r\n")) != std::string::npos) {
            if (end > 0) {
                say("tstat: " + m_appPartial.substr(0, end));
            }
            m_appPartial.erase(0, end + 1);
        }
    }
    // At its end, or a line too long to wait for.
    bool ended = toTheEnd || got == 0;
    if ((ended || m_appPartial.size() > LineBuffer::MAX_LINE) && !m_appPartial.empty()) {
        say("tstat: " + m_appPartial);
        m_appPartial.clear();
    }
    if (ended) {
        m_appOutput.reset();
    }
}

void Simulator::startDashboard(ConsoleContext &ctx) {
    auto dashboard = std::make_unique<Dashboard>(m_house, ctx);
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
    m_dashboard = std::move(dashboard);
    say("tstat-sim: dashboard: open http://127.0.0.1:" + port);
}

void Simulator::finishReport(double hostSeconds) {
    const std::vector<TraceRow> &rows = m_recorder.rows();
    if (rows.empty()) {
        return;
    }
    std::vector<RelayEvent> log;
    std::ifstream logFile(rootedPath("/sim/relay-log"));
    std::string error;
    if (logFile && !parseRelayLog(logFile, log, error)) {
        say("tstat-sim: the relay log cannot be read: " + error);
    }
    RunFigures run;
    run.simulatedSeconds = m_recorder.simulatedSeconds();
    run.hostSeconds = m_lockstep ? 0.0 : hostSeconds;
    run.lockstep = m_lockstep != nullptr;
    run.seed = m_options.coproc.seed;
    run.longestPassSeconds = m_recorder.longestPassSeconds();
    run.requests = m_requests;
    run.requestMinutes = m_requestMinutes;
    run.relaySamplingMs = m_ioPage.opened() ? IoPageMirror::SAMPLING_MS : 0;
    Report report = computeReport(rows, log, m_setpoints.setup(), run);
    std::string house =
        houseSummary(m_house.params(), m_house.weather(), m_setpoints.setup().celsius);
    std::string text = formatReport(report, house);

    std::string dir = reportDirectory();
    std::string reportPath = dir + "/report.txt";
    std::string tracePath = dir + "/trace.csv";
    std::string plotPath = dir + "/day.png";
    std::ostringstream trace;
    writeTrace(trace, rows);
    bool written = writeFileAtomic(reportPath, text) && writeFileAtomic(tracePath, trace.str());
    std::string plotError;
    std::string title = std::string("tstat-sim: ") + housePresetName(m_house.params().preset) +
                        " house, " + formatNumber("%.1f", report.hours) + " hours from " +
                        localStamp(report.startWall, "%a %Y-%m-%d %H:%M");
    bool plotted =
        plotRun(plotPath, m_options.data + "/fonts", rows, log, report, title, house, &plotError);
    fputs(text.c_str(), stdout);
    for (auto &client : m_clients) {
        if (client->fd.get() >= 0) {
            client->out += text;
        }
    }
    if (!written) {
        say("tstat-sim: cannot write the report to " + dir + ": " + strerror(errno));
        m_reportFailed = true;
        return;
    }
    say("tstat-sim: report " + reportPath + ", trace " + tracePath +
        (plotted ? ", plot " + plotPath : ", no plot: " + plotError));
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

bool Simulator::prepare() {
    // In lock-step time this process's clock is the simulated one from the start.
    if (m_options.lockstep) {
        m_lockstep = std::make_unique<LockstepClock>(m_options.startWall);
        m_lockstep->setAnswerLimitMs(std::llround(m_options.answerLimit * 1000.0));
        m_options.coproc.simulatedTimeouts = true;
    }
    say("tstat-sim: board root " + absoluteRoot());
    if (!prepareBoard(
            m_options.factoryTool, [this](const std::string &l) { say(l); },
            m_options.flashEraseSize)) {
        return false;
    }
    if (m_options.report && !reportDirectoryWritable()) {
        return false;
    }
    // The thermostat's record tells the set points in force and, unless
    // given, how many stages the equipment has.
    if (m_setpoints.refresh() && m_house.params().stages == 0) {
        m_house.setStages(m_setpoints.setup().stages);
    }
    if (!m_options.weather.empty()) {
        m_house.setWeather(m_options.weather);
    }
    std::string error;
    int linkFd = -1;
    if (!m_options.serial.empty()) {
        if (!attachBoard(&linkFd)) {
            return false;
        }
    } else if (m_options.lockstep && m_startApplication) {
        // The application the simulator starts gets its line handed over.
        if (!m_pty.openSocketPair(&error)) {
            say("tstat-sim: " + error);
            return false;
        }
        std::error_code ec;
        if (fs::is_symlink(rootedPath("/dev/ttyCOPROC"), ec)) {
            fs::remove(rootedPath("/dev/ttyCOPROC"), ec);
        }
        linkFd = m_pty.releaseMaster();
    } else if (!m_pty.open(rootedPath("/dev/ttyCOPROC"), &error)) {
        say("tstat-sim: " + error);
        return false;
    } else {
        linkFd = m_pty.releaseMaster();
    }
    if (Sensors_Initialize() != 0) {
        say("tstat-sim: the sensor tables did not initialise");
        return false;
    }
    m_coproc = std::make_unique<Coprocessor>(linkFd, m_house, m_options.coproc,
                                             [this](const std::string &l) { say(l); });
    if (m_pty.isSocketPair()) {
        say("tstat-sim: coprocessor on a socket pair handed to the application");
    } else if (m_options.serial.empty()) {
        say("tstat-sim: coprocessor on " + m_pty.slaveName() + ", linked as " + m_pty.linkPath());
    }
    openConsoleSocket();
    banner();
    catchEndSignals();
    m_console = std::make_unique<ConsoleContext>(
        ConsoleContext{m_coproc.get(), &m_house, &m_paused, &m_quit,
                       [this](const std::string &l) { say(l); }, [this] { showHouse(); },
                       [this](uint16_t code, double hold) { return pressKey(code, hold); },
                       [this](const std::string &name) { m_screens.push_back(name); },
                       m_boardConsole.opened() ? &m_boardConsole : nullptr});
    // Everything is attached: a board that waits in the emulator may run.
    if (m_qmp.connected() && !m_qmp.resume(&error)) {
        say("tstat-sim: the emulated board does not run: " + error);
        return false;
    }
    return true;
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

bool Simulator::attachBoard(int *linkFd) {
    std::string error;
    if (!m_options.qmp.empty() && !m_qmp.connect(m_options.qmp, &error)) {
        say("tstat-sim: " + error);
        return false;
    }
    if (!m_options.ioPageFile.empty() &&
        !m_ioPage.open(m_options.ioPageFile, m_options.ioPageOffset, &error)) {
        say("tstat-sim: " + error);
        return false;
    }
    if (!m_options.boardConsole.empty() && !m_boardConsole.open(m_options.boardConsole, &error)) {
        say("tstat-sim: " + error);
        return false;
    }
    *linkFd = openSerialDevice(m_options.serial, &error);
    if (*linkFd < 0) {
        say("tstat-sim: " + error);
        return false;
    }
    say("tstat-sim: coprocessor on " + m_options.serial +
        (m_qmp.connected() ? ", keys and screen through " + m_options.qmp : std::string()) +
        (m_ioPage.opened() ? ", relays and test pin through " + m_options.ioPageFile
                           : std::string()));
    return true;
}

void Simulator::dumpBoardScreen(int64_t hostNow) {
    if (!m_qmp.connected() || hostNow < m_nextBoardScreenMs) {
        return;
    }
    m_nextBoardScreenMs = hostNow + BOARD_SCREEN_PERIOD_MS;
    // The emulator writes the file; it is put in place whole.
    std::string screen = rootedPath("/sim/screen.png");
    std::string aside = screen + ".dump";
    unlink(aside.c_str());
    std::string error;
    if (m_qmp.screendump(aside, &error) && rename(aside.c_str(), screen.c_str()) != 0) {
        error = strerror(errno);
    }
    if (!error.empty() && !m_screenFailNoted) {
        say("tstat-sim: no screen from the emulated board: " + error);
        m_screenFailNoted = true;
    }
}

std::vector<std::string> Simulator::waitForConsoleLines(int64_t waitNs) {
    // Standard input is read only when poll says it is readable. It is not
    // made non-blocking: on a terminal it shares its open file with standard
    // output, whose lines would then be cut short when the terminal is slow.
    std::vector<struct pollfd> fds;
    fds.push_back({m_listen.get(), POLLIN, 0});
    fds.push_back({m_stdinOpen ? STDIN_FILENO : -1, POLLIN, 0});
    for (auto &client : m_clients) {
        short events = POLLIN;
        if (!client->out.empty()) {
            events |= POLLOUT;
        }
        fds.push_back({client->fd.get(), events, 0});
    }
    const struct timespec passWait = {static_cast<time_t>(waitNs / 1000000000),
                                      static_cast<long>(waitNs % 1000000000)};
    ppoll(fds.data(), fds.size(), &passWait, nullptr);

    std::vector<std::string> lines;
    if (m_stdinOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        readStdin(&lines);
    }
    if (m_listen.get() >= 0 && (fds[0].revents & POLLIN) != 0) {
        acceptClients();
    }
    for (auto &client : m_clients) {
        if (client->fd.get() >= 0) {
            readClient(*client, &lines);
        }
    }
    dropIdleClients();
    return lines;
}

void Simulator::advanceHouse(int64_t now) {
    // A paused house keeps its state; only the outdoor climate follows the
    // clock (and the console's settings).
    m_house.advance(m_paused ? 0.0 : static_cast<double>(now - m_lastPassMs) / 1000.0, runHour());
    m_lastPassMs = now;
    // The set points the thermostat runs to, as it reports them on the bus.
    int heat = m_coproc->reportedLevel(LEVEL_HEAT_IN_FORCE);
    int cool = m_coproc->reportedLevel(LEVEL_COOL_IN_FORCE);
    if (heat >= 0 && cool >= 0) {
        bool celsius = m_setpoints.setup().celsius;
        m_recorder.reportedInForce(celsiusOfBusTemperature(static_cast<uint8_t>(heat), celsius),
                                   celsiusOfBusTemperature(static_cast<uint8_t>(cool), celsius));
    }
    // The trace counts the pass's time with the relays the house ran on.
    m_recorder.pass(platformUptimeMs(), util_time(nullptr), m_house, m_setpoints);
    readRelays();
}

void Simulator::beginRun(int64_t startMs) {
    m_lastPassMs = startMs;
    m_nextStatusMs = startMs + STATUS_PERIOD_MS;
    m_nextStaleCheckMs = startMs;
    m_nextWeatherMs = startMs + WEATHER_FIRST_MS;
    m_startDay = localDay();
    m_house.advance(0.0, runHour());
    readRelays();
    m_recorder.begin(platformUptimeMs(), m_house);
}

void Simulator::pollPeers(int64_t now) {
    if (now >= m_nextStaleCheckMs) {
        m_nextStaleCheckMs = now + STALE_CHECK_PERIOD_MS;
        bool flushed = m_pty.flushIfUnread(STALE_BYTES);
        if (flushed && !m_staleNoted) {
            say("coproc: nobody is reading the link; dropping stale reports");
            m_staleNoted = true;
        }
    }
    m_coproc->poll(now, applicationRanSince(&m_linkSeenRuns));
    m_ioPage.poll();
    int64_t host = hostMs();
    dumpBoardScreen(host);
    if (host >= m_nextOutputReadMs) {
        m_nextOutputReadMs = host + OUTPUT_READ_PERIOD_MS;
        readApplicationOutput(false);
        m_boardConsole.poll([this](const std::string &l) { say(l); });
    }
    sendWeather(now);
    if (now >= m_nextStatusMs) {
        m_nextStatusMs = now + STATUS_PERIOD_MS;
        everyMinute();
    }
    if (m_dashboard) {
        m_dashboard->poll(now);
    }
    for (auto &client : m_clients) {
        flushClient(*client);
    }
    std::erase_if(m_clients, [](const std::unique_ptr<Client> &c) { return c->fd.get() < 0; });
}

bool Simulator::hoursDone() {
    if (m_options.hours <= 0.0 || m_recorder.simulatedSeconds() < m_options.hours * 3600.0) {
        return false;
    }
    noteEnd(formatNumber("%g", m_options.hours) + " simulated hours done", -1);
    return true;
}

void Simulator::shutDown(double hostSeconds) {
    if (g_EndSignal != 0) {
        noteEnd("interrupted", -1);
    } else if (m_quit && m_end.empty()) {
        noteEnd("quit from the console", -1);
    }
    stopApplication();
    // Screens asked for at the last instant: the one the application showed last.
    if (!m_screens.empty()) {
        takeScreens();
    }
    if (m_dashboard) {
        // The open pages learn why before the server goes.
        m_dashboard->ended(m_end, m_endStatus);
        m_dashboard.reset();
    }
    if (!m_httpPortFile.empty()) {
        unlink(m_httpPortFile.c_str());
    }
    if (m_options.report) {
        finishReport(hostSeconds);
    }
    for (auto &client : m_clients) {
        flushClient(*client);
    }
    m_coproc.reset();
    if (!m_portFile.empty()) {
        unlink(m_portFile.c_str());
    }
}

int Simulator::run() {
    // The script is checked whole before anything starts.
    std::string error;
    if (!m_options.script.empty() &&
        !loadScript(m_options.script, m_options.startWall, &m_script, &error)) {
        say("tstat-sim: " + error);
        return 2;
    }
    if (!prepare()) {
        return 1;
    }
    if (m_lockstep) {
        return runLockstep();
    }
    if (m_startApplication) {
        startApplication();
    }
    // The console's keys (a board in an emulator takes them through QMP).
    error.clear();
    if (!m_qmp.connected() && !m_keys.open(&error)) {
        say("tstat-sim: " + error);
    }
    if (m_options.http >= 0) {
        startDashboard(*m_console);
    }
    beginRun(simNowMs());
    auto hostStart = std::chrono::steady_clock::now();
    int exitStatus = 0;
    while (!m_quit && g_EndSignal == 0) {
        // The time scale may change while running (the dashboard).
        int64_t waitNs = std::min(PASS_WAIT_MAX_NS,
                                  static_cast<int64_t>(PASS_SIM_MS * 1e6 / platformTimeScale()));
        // Console lines first, so that what they set is in this pass's reports.
        for (const std::string &line : waitForConsoleLines(waitNs)) {
            runConsoleLine(line, *m_console);
        }
        int64_t now = simNowMs();
        advanceHouse(now);
        pollPeers(now);
        releaseKeysDue(now);
        if (!m_screens.empty()) {
            takeScreens();
        }
        if (applicationEnded(&exitStatus) || hoursDone()) {
            break;
        }
    }
    shutDown(std::chrono::duration<double>(std::chrono::steady_clock::now() - hostStart).count());
    return exitStatus == 0 && m_reportFailed ? 1 : exitStatus;
}

// ---- Lock-step time ------------------------------------------------------------------------

size_t Simulator::inputForApplication() {
    if (m_dashboard && m_dashboard->keysWritten() != m_dashboardKeys) {
        m_dashboardKeys = m_dashboard->keysWritten();
        m_keys.noteWritten();
        m_inputStale = true;
    }
    if (m_lockstep && !m_inputStale && m_lockstep->runs() == m_inputSeenRuns &&
        m_coproc->bytesSent() == m_inputSeenSent) {
        return m_inputCount;
    }
    m_inputCount = m_pty.unreadBySlave() + m_keys.unread();
    m_inputSeenRuns = m_lockstep ? m_lockstep->runs() : 0;
    m_inputSeenSent = m_coproc->bytesSent();
    m_inputStale = false;
    return m_inputCount;
}

bool Simulator::applicationRanSince(uint64_t *seen) {
    if (!m_lockstep || m_child < 0) {
        return true;
    }
    bool ran = m_lockstep->runs() != *seen;
    *seen = m_lockstep->runs();
    return ran;
}

bool Simulator::pressKey(uint16_t code, double holdSeconds) {
    std::string error;
    if (m_qmp.connected() ? !m_qmp.key(code, true, &error) : !m_keys.press(code)) {
        return false;
    }
    m_heldKeys.push_back({simNowMs() + std::llround(holdSeconds * 1000.0), code});
    m_inputStale = true;
    return true;
}

void Simulator::releaseKeysDue(int64_t now) {
    for (const HeldKey &k : m_heldKeys) {
        if (k.releaseMs <= now) {
            std::string error;
            if (m_qmp.connected()) {
                m_qmp.key(k.code, false, &error);
            } else {
                m_keys.release(k.code);
                m_inputStale = true;
            }
        }
    }
    std::erase_if(m_heldKeys, [now](const HeldKey &k) { return k.releaseMs <= now; });
}

// Copies the screen the application published at this instant.
void Simulator::takeScreens() {
    // A board in an emulator shows this moment's screen.
    m_nextBoardScreenMs = 0;
    dumpBoardScreen(hostMs());
    std::string dir = reportDirectory();
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::ifstream in(rootedPath("/sim/screen.png"), std::ios::binary);
    std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const std::string &name : m_screens) {
        std::string path = dir + "/" + name + ".png";
        bool kept = !png.empty() && writeFileAtomic(path, png);
        say(kept ? "tstat-sim: screen " + path
                 : "tstat-sim: no screen to keep as " + path +
                       (png.empty() ? ": none shown yet" : ": " + std::string(strerror(errno))));
    }
    m_screens.clear();
}

void Simulator::lockstepPass(int64_t now) {
    // The console is looked at a few hundred times a host second at most.
    std::vector<std::string> lines;
    int64_t host = hostMs();
    if (host >= m_nextConsoleMs) {
        m_nextConsoleMs = host + CONSOLE_PERIOD_MS;
        lines = waitForConsoleLines(0);
    }
    for (; m_scriptNext < m_script.size() && m_script[m_scriptNext].atMs <= now; m_scriptNext++) {
        lines.push_back(m_script[m_scriptNext].line);
    }
    releaseKeysDue(now);
    for (const std::string &line : lines) {
        runConsoleLine(line, *m_console);
    }
    advanceHouse(now);
    pollPeers(now);
}

// The next instant at which the simulator has something of its own to do:
// its reports and the house on every whole second, the script's next line,
// a key to release.
int64_t Simulator::nextSimulatorEventMs(int64_t now) const {
    int64_t next = (now / 1000 + 1) * 1000;
    if (m_scriptNext < m_script.size()) {
        next = std::min(next, std::max(m_script[m_scriptNext].atMs, now + 1));
    }
    for (const HeldKey &k : m_heldKeys) {
        next = std::min(next, std::max(k.releaseMs, now + 1));
    }
    if (m_dashboard) {
        next = std::min(next, std::max(m_dashboard->nextKeySimMs(), now + 1));
    }
    return next;
}

// In lock-step time the simulator and the application never run at once. On
// one processor a hand-over is a switch on that core; across two it is a
// wake-up of the other core, which on a virtual machine costs about a third
// of a run's time. Both stay on the processor the simulator started on.
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

int Simulator::runLockstep() {
    std::string error;
    if (!m_lockstep->open(&error) || !m_keys.open(&error)) {
        say("tstat-sim: " + error);
        return 1;
    }
    say("tstat-sim: lock-step time from " +
        localStamp(m_options.startWall, "%a %Y-%m-%d %H:%M:%S") +
        (m_options.pace > 0.0
             ? ", at most " + formatNumber("%g", m_options.pace) + " times real time"
             : ", as fast as the host allows"));
    keepToOneProcessor();
    bool running = m_startApplication && startApplication();
    m_lockstep->childStarted();
    if (m_options.http >= 0) {
        startDashboard(*m_console);
    }
    beginRun(0);
    auto hostStart = std::chrono::steady_clock::now();
    auto input = [this] { return inputForApplication(); };
    // The application starts up at the first instant.
    if (running) {
        running = m_lockstep->runApplication(0, input);
    }
    lockstepPass(0);
    int exitStatus = 0;
    while (!m_quit && g_EndSignal == 0 && !hoursDone()) {
        int64_t now = m_lockstep->nowMs();
        if (m_lockstep->unanswered() && m_child >= 0) {
            noteEnd("the application did not answer its clock within " +
                        formatNumber("%g", m_options.answerLimit) +
                        " host seconds (stopped or hung); ending it",
                    -1);
            stopChild(&m_child, CHILD_GRACE_MS);
            exitStatus = 1;
            break;
        }
        if (!running && m_child >= 0) {
            // Its end of the clock closed: it has ended, or is about to.
            waitForChild(&m_child, CHILD_GRACE_MS, &exitStatus);
            noteEnd("the application ended with status " + std::to_string(exitStatus), exitStatus);
            break;
        }
        bool screen = !m_screens.empty();
        if (running && m_lockstep->applicationDue(inputForApplication(), screen)) {
            uint32_t flags = 0;
            // The dashboard's frames follow the host's clock: a few a host
            // second, however fast simulated time runs, and only while a
            // page is open to show them.
            int64_t host = hostMs();
            bool watched = m_dashboard && m_dashboard->streamCount() > 0;
            if (screen || (watched && host >= m_nextPublishMs)) {
                flags |= LOCKSTEP_PUBLISH_SCREEN;
                m_nextPublishMs = host + DASHBOARD_FRAME_MS;
            }
            running = m_lockstep->runApplication(flags, input);
            if (screen) {
                takeScreens();
            }
            // What it wrote is read at the same instant.
            lockstepPass(now);
            continue;
        }
        if (screen && !running) {
            takeScreens(); // the last one shown, if any
        }
        int64_t simulatorNext = nextSimulatorEventMs(now);
        int64_t next =
            running ? std::min(m_lockstep->applicationWakeMs(), simulatorNext) : simulatorNext;
        m_longestStepMs = std::max(m_longestStepMs, next - now);
        if (m_options.pace > 0.0) {
            std::this_thread::sleep_until(
                hostStart + std::chrono::duration<double>(next / 1000.0 / m_options.pace));
        }
        m_lockstep->advanceTo(next);
        if (next == simulatorNext) {
            lockstepPass(next);
        }
    }
    double hostSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - hostStart).count();
    say("tstat-sim: " + formatNumber("%.0f", m_recorder.simulatedSeconds()) + " simulated s in " +
        formatNumber("%.2f", hostSeconds) + " host s");
    // Without its clock the application ends, and publishes its last screen.
    m_lockstep->close();
    shutDown(hostSeconds);
    return exitStatus == 0 && m_reportFailed ? 1 : exitStatus;
}
} // namespace

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
