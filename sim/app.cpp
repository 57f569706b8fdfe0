// tstat-sim: command line, the main loop that drives the coprocessor, the
// house and the console, and the application it starts.
#include "app.h"
#include "../tools/common/program_command.h"
#include "run_support.h"

#include "board.h"
#include "console.h"
#include "core/util.h"
#include "decode.h"
#include "hvac/sensors.h"
#include "keys.h"
#include "platform/platform.h"
#include "plot.h"
#include "report.h"

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
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sim {

namespace {

namespace fs = std::filesystem;

// Host milliseconds one pass of the loop waits for input at most.
// Longest host wait of one pass, and the most simulated time one pass may
// cover: the coprocessor reports once a simulated second and the house is
// stepped once a pass, so a fast time scale needs short passes.
constexpr int64_t PASS_WAIT_MAX_NS = 10 * 1000 * 1000;
constexpr double PASS_SIM_MS = 100.0;
// Simulated seconds between two status lines of the house.
constexpr int64_t STATUS_PERIOD_MS = 60000;
// Bytes left unread on the link after which they count as stale (the
// terminal layer itself holds at most 4095).
constexpr size_t STALE_BYTES = 2048;
constexpr size_t MAX_CLIENTS = 8;
// A client that does not read its output is dropped past this much.
constexpr size_t MAX_CLIENT_BACKLOG = 4 * 1024 * 1024;
// Host seconds the application gets to end after SIGTERM.
constexpr int CHILD_GRACE_MS = 3000;
// The time scale of a run of given hours when TSTAT_TIME_SCALE does not say:
// a simulated day in 24 host seconds, which a loaded two-core host sustains
// with the application keeping its 15-second control period.
constexpr const char *REPORT_TIME_SCALE = "3600";

// A descriptor closed when it goes out of scope.
class Fd {
  public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    Fd(Fd &&other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    Fd &operator=(Fd &&other) noexcept {
        if (this != &other) {
            reset();
            m_fd = other.m_fd;
            other.m_fd = -1;
        }
        return *this;
    }
    int get() const { return m_fd; }
    void reset() {
        if (m_fd >= 0) {
            close(m_fd);
        }
        m_fd = -1;
    }

  private:
    int m_fd;
};

const char *c_RelayNames[RELAY_COUNT] = {"O/B", "Y1",  "Y2", "W1", "W2",
                                         "DEH", "HUM", "G1", "G2", "G3"};

std::string relayText(const std::array<char, RELAY_COUNT> &r) {
    std::string text(r.begin(), r.end());
    std::string closed;
    for (int i = 0; i < RELAY_COUNT; i++) {
        if (r[i] == '1') {
            closed += closed.empty() ? "" : " ";
            closed += c_RelayNames[i];
        }
    }
    return text + " (" + (closed.empty() ? "all open" : closed) + ")";
}

struct Client {
    Fd fd;
    LineBuffer lines;
    std::string out;
};

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
    void finishReport(double hostSeconds);

    SimOptions m_options;
    bool m_startApplication;
    House m_house;
    PseudoTerminal m_pty;
    std::unique_ptr<Coprocessor> m_coproc;
    Fd m_listen;
    std::vector<std::unique_ptr<Client>> m_clients;
    LineBuffer m_stdinLines;
    bool m_stdinOpen = true;
    bool m_paused = false;
    bool m_quit = false;
    pid_t m_child = -1;
    std::string m_portFile;
    std::string m_lastRelays;
    struct stat m_relaysStat {};
    bool m_staleNoted = false;
    std::unique_ptr<Dashboard> m_dashboard;
    std::string m_httpPortFile;
    int64_t m_startDay = 0;
    Recorder m_recorder;
    SetpointSource m_setpoints;
    // The periodic requests of the last whole minute, and their count over the run.
    std::string m_lastRequests = "-";
    unsigned m_requests = 0;
    double m_requestMinutes = 0;
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

double Simulator::runHour() const {
    return static_cast<double>(localDay() - m_startDay) * 24.0 + hourOfDay();
}

void Simulator::readRelays() {
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
    Fd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
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
        if (m_clients.size() >= MAX_CLIENTS) {
            const char *busy = "tstat-sim: too many console clients\n";
            ssize_t ignored = write(fd, busy, strlen(busy));
            (void)ignored;
            close(fd);
            continue;
        }
        auto client = std::make_unique<Client>();
        client->fd = Fd(fd);
        m_clients.push_back(std::move(client));
    }
}

void Simulator::readClient(Client &client, std::vector<std::string> *lines) {
    char buf[4096];
    for (;;) {
        ssize_t got = read(client.fd.get(), buf, sizeof(buf));
        if (got > 0) {
            client.lines.add(buf, static_cast<size_t>(got), lines);
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
            " is not built yet (the application's main loop comes later); staying up as the "
            "coprocessor");
        return false;
    }
    std::string root = absoluteRoot();
    ProgramCommand command(m_options.tstat, {"/dev/ttyCOPROC"});
    pid_t pid = fork();
    if (pid < 0) {
        say(std::string("tstat-sim: cannot start the application: ") + strerror(errno));
        return false;
    }
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) {
            dup2(devnull, STDIN_FILENO);
            close(devnull);
        }
        if (chdir(m_options.data.c_str()) != 0) {
            fprintf(stderr, "tstat-sim: cannot enter %s: %s\n", m_options.data.c_str(),
                    strerror(errno));
            _exit(126);
        }
        setenv("TSTAT_ROOT", root.c_str(), 1);
        command.exec();
        fprintf(stderr, "tstat-sim: cannot run %s: %s\n", m_options.tstat.c_str(), strerror(errno));
        _exit(127);
    }
    m_child = pid;
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
        say("tstat-sim: the application ended with status " + std::to_string(*status));
    } else {
        *status = 128 + (WIFSIGNALED(st) ? WTERMSIG(st) : 0);
        say("tstat-sim: the application was ended by signal " +
            std::to_string(WIFSIGNALED(st) ? WTERMSIG(st) : 0));
    }
    return true;
}

void Simulator::stopApplication() {
    stopChild(&m_child, CHILD_GRACE_MS);
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
    run.hostSeconds = hostSeconds;
    run.longestPassSeconds = m_recorder.longestPassSeconds();
    run.requests = m_requests;
    run.requestMinutes = m_requestMinutes;
    Report report = computeReport(rows, log, m_setpoints.setup(), run);
    std::string house = houseSummary(m_house.params(), m_house.weather());
    std::string text = formatReport(report, house);

    std::string dir = m_options.reportDir.empty() ? rootedPath("/sim") : m_options.reportDir;
    std::error_code ec;
    fs::create_directories(dir, ec);
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
        say("tstat-sim: cannot write the report to " + dir);
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

int Simulator::run() {
    say("tstat-sim: board root " + absoluteRoot());
    if (!prepareBoard(m_options.factoryTool, [this](const std::string &l) { say(l); })) {
        return 1;
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
    if (!m_pty.open(rootedPath("/dev/ttyCOPROC"), &error)) {
        say("tstat-sim: " + error);
        return 1;
    }
    if (Sensors_Initialize() != 0) {
        say("tstat-sim: the sensor tables did not initialise");
        return 1;
    }
    m_coproc = std::make_unique<Coprocessor>(m_pty.releaseMaster(), m_house, m_options.coproc,
                                             [this](const std::string &l) { say(l); });
    say("tstat-sim: coprocessor on " + m_pty.slaveName() + ", linked as " + m_pty.linkPath());
    openConsoleSocket();
    banner();

    catchEndSignals();
    // Standard input is read only when poll says it is readable. It is not
    // made non-blocking: on a terminal it shares its open file with standard
    // output, whose lines would then be cut short when the terminal is slow.

    if (m_startApplication) {
        startApplication();
    }

    ConsoleContext ctx{m_coproc.get(),
                       &m_house,
                       &m_paused,
                       &m_quit,
                       [this](const std::string &l) { say(l); },
                       [this] { showHouse(); }};
    if (m_options.http >= 0) {
        startDashboard(ctx);
    }
    int64_t lastMs = simNowMs();
    int64_t nextStatusMs = lastMs + STATUS_PERIOD_MS;
    int64_t nextStaleCheckMs = lastMs;
    m_startDay = localDay();
    m_house.advance(0.0, runHour());
    readRelays();
    m_recorder.begin(platformUptimeMs(), m_house);
    auto hostStart = std::chrono::steady_clock::now();
    int exitStatus = 0;
    while (!m_quit && g_EndSignal == 0) {
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
        // The time scale may change while running (the dashboard).
        int64_t waitNs = std::min(PASS_WAIT_MAX_NS,
                                  static_cast<int64_t>(PASS_SIM_MS * 1e6 / platformTimeScale()));
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

        // Console lines first, so that what they set is in this pass's reports.
        for (const std::string &line : lines) {
            runConsoleLine(line, ctx);
        }
        int64_t now = simNowMs();
        // A paused house keeps its state; only the outdoor climate follows
        // the clock (and the console's settings).
        m_house.advance(m_paused ? 0.0 : static_cast<double>(now - lastMs) / 1000.0, runHour());
        lastMs = now;
        // The trace counts the pass's time with the relays the house ran on.
        m_recorder.pass(platformUptimeMs(), util_time(nullptr), m_house, m_setpoints);
        readRelays();
        if (now >= nextStaleCheckMs) {
            nextStaleCheckMs = now + 1000;
            bool flushed = m_pty.flushIfUnread(STALE_BYTES);
            if (flushed && !m_staleNoted) {
                say("coproc: nobody is reading the link; dropping stale reports");
                m_staleNoted = true;
            }
        }
        m_coproc->poll(now);
        if (now >= nextStatusMs) {
            nextStatusMs = now + STATUS_PERIOD_MS;
            everyMinute();
        }
        if (m_dashboard) {
            m_dashboard->poll(now);
        }
        for (auto &client : m_clients) {
            flushClient(*client);
        }
        std::erase_if(m_clients, [](const std::unique_ptr<Client> &c) { return c->fd.get() < 0; });
        if (applicationEnded(&exitStatus)) {
            break;
        }
        if (m_options.hours > 0.0 && m_recorder.simulatedSeconds() >= m_options.hours * 3600.0) {
            say("tstat-sim: " + formatNumber("%g", m_options.hours) + " simulated hours done");
            break;
        }
    }
    double hostSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - hostStart).count();
    if (g_EndSignal != 0) {
        say("tstat-sim: interrupted");
    }
    stopApplication();
    m_dashboard.reset();
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
    return exitStatus;
}

// ---- Options ---------------------------------------------------------------

struct OptionSpec {
    const char *name;
    bool (*apply)(const std::string &value, SimOptions *o);
};

bool number(const std::string &text, double lo, double hi, double *out) {
    char *end = nullptr;
    double v = strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) {
        return false;
    }
    *out = v;
    return true;
}

template <double HouseParams::*Field, int Lo, int Hi>
bool houseNumber(const std::string &value, SimOptions *o) {
    return number(value, Lo, Hi, &(o->house.*Field));
}

bool optRoot(const std::string &v, SimOptions *o) {
    o->root = v;
    return !v.empty();
}

bool optPort(const std::string &v, SimOptions *o) {
    double p;
    if (!number(v, 0, 65535, &p) || p != std::floor(p)) {
        return false;
    }
    o->port = static_cast<int>(p);
    return true;
}

bool optHttp(const std::string &v, SimOptions *o) {
    double p;
    if (!number(v, 0, 65535, &p) || p != std::floor(p)) {
        return false;
    }
    o->http = static_cast<int>(p);
    return true;
}

bool optEquipment(const std::string &v, SimOptions *o) {
    if (v != "furnace" && v != "heatpump") {
        return false;
    }
    o->house.equipment = v == "heatpump" ? Equipment::HeatPump : Equipment::Furnace;
    return true;
}

bool optAux(const std::string &v, SimOptions *o) {
    if (v != "electric" && v != "gas") {
        return false;
    }
    o->house.aux = v == "gas" ? AuxHeat::Gas : AuxHeat::Electric;
    return true;
}

bool optExternal(const std::string &v, SimOptions *o) {
    if (v != "outdoor" && v != "indoor") {
        return false;
    }
    o->coproc.external = v == "indoor" ? ExternalSensor::Indoor : ExternalSensor::Outdoor;
    return true;
}

bool optVoltage(const std::string &v, SimOptions *o) {
    double x;
    if (!number(v, 0, 65535, &x)) {
        return false;
    }
    o->coproc.lineVoltage = static_cast<uint16_t>(x);
    return true;
}

bool optAddress(const std::string &v, SimOptions *o) {
    double x;
    if (!number(v, 0, 255, &x)) {
        return false;
    }
    o->coproc.address = static_cast<uint8_t>(x);
    return true;
}

bool optBusVersion(const std::string &v, SimOptions *o) {
    o->coproc.busVersion = v;
    return !v.empty() && v.size() <= 32;
}

bool optTstat(const std::string &v, SimOptions *o) {
    o->tstat = v;
    return !v.empty();
}

bool optData(const std::string &v, SimOptions *o) {
    o->data = v;
    return !v.empty();
}

bool optFactory(const std::string &v, SimOptions *o) {
    o->factoryTool = v;
    return !v.empty();
}

// A preset replaces the whole house, so parseSimOptions applies it before
// any other option (those then change the preset); here it is only checked.
bool optHouse(const std::string &v, SimOptions *) {
    HousePreset preset;
    return parseHousePreset(v, &preset);
}

bool optStages(const std::string &v, SimOptions *o) {
    if (v != "1" && v != "2") {
        return false;
    }
    o->house.stages = v == "2" ? 2 : 1;
    return true;
}

// Why the last weather file was refused.
std::string m_WeatherError;

bool optWeather(const std::string &v, SimOptions *o) {
    m_WeatherError.clear();
    return o->weather.load(v, &m_WeatherError);
}

// At most a month of simulated time in one run.
bool optHours(const std::string &v, SimOptions *o) {
    return number(v, 1.0 / 60.0, 24.0 * 31.0, &o->hours);
}

bool optReportDir(const std::string &v, SimOptions *o) {
    o->reportDir = v;
    return !v.empty();
}

constexpr OptionSpec c_ValueOptions[] = {
    {"--root", optRoot},
    {"--port", optPort},
    {"--http", optHttp},
    {"--equipment", optEquipment},
    {"--aux", optAux},
    {"--external-sensor", optExternal},
    {"--voltage", optVoltage},
    {"--address", optAddress},
    {"--bus-version", optBusVersion},
    {"--indoor", houseNumber<&HouseParams::indoorStart, -40, 60>},
    {"--indoor-rh", houseNumber<&HouseParams::indoorRhStart, 0, 100>},
    {"--outdoor", houseNumber<&HouseParams::outdoorMean, -50, 50>},
    {"--swing", houseNumber<&HouseParams::outdoorSwing, 0, 30>},
    {"--outdoor-rh", houseNumber<&HouseParams::outdoorRh, 0, 100>},
    {"--solar", houseNumber<&HouseParams::solarPeak, 0, 20000>},
    {"--internal", houseNumber<&HouseParams::internalGain, 0, 20000>},
    {"--ua", houseNumber<&HouseParams::uaAir, 1, 5000>},
    {"--furnace-w", houseNumber<&HouseParams::furnaceW, 0, 100000>},
    {"--cool-w", houseNumber<&HouseParams::coolW, 0, 100000>},
    {"--heatpump-w", houseNumber<&HouseParams::heatPumpW, 0, 100000>},
    {"--aux-w", houseNumber<&HouseParams::auxW, 0, 100000>},
    {"--tstat", optTstat},
    {"--data", optData},
    {"--factory-tool", optFactory},
    {"--house", optHouse},
    {"--stages", optStages},
    {"--weather", optWeather},
    {"--hours", optHours},
    {"--report-dir", optReportDir},
};

} // namespace

std::string simUsage() {
    return "usage: tstat-sim run [options]      prepare the board, start build/bin/tstat, and "
           "play\n"
           "                                    its coprocessor, house and building controller\n"
           "       tstat-sim coproc [options]   the same without starting the application\n"
           "       tstat-sim key up|down|mode|exit [--hold SECONDS] [--root DIR]\n"
           "                                    press a key on the running application\n"
           "       tstat-sim help\n"
           "options of run and coproc:\n"
           "  --root DIR              board root (default $TSTAT_ROOT, else ./board)\n"
           "  --port N                console socket on 127.0.0.1 (default 0: a free port,\n"
           "                          written to ROOT/sim/console.port)\n"
           "  --http N                the dashboard on http://127.0.0.1:N (default 8470; 0: a\n"
           "                          free port; written to ROOT/sim/http.port); --no-http: none\n"
           "  --equipment furnace|heatpump   HVAC equipment (default furnace with air "
           "conditioner)\n"
           "  --aux electric|gas      the heat pump's auxiliary heat (default electric)\n"
           "  --external-sensor outdoor|indoor  where the second thermistor is (default outdoor)\n"
           "  --house leaky|typical|tight       the house, its equipment sized to its loads "
           "(typical)\n"
           "  --stages 1|2            stages of the equipment (default: as the thermostat's "
           "record says)\n"
           "  --indoor C, --indoor-rh PCT       starting indoor temperature and humidity (20, 40)\n"
           "  --outdoor C, --swing C            daily mean outdoor temperature and its swing (5, "
           "5)\n"
           "  --outdoor-rh PCT        outdoor relative humidity (70)\n"
           "  --weather FILE          replay a weather day file (CSV: hour, outdoor C, humidity "
           "%,\n"
           "                          solar W/m2) instead of the sine day\n"
           "  --solar W, --internal W peak solar and constant internal gains (1600, 500)\n"
           "  --ua W/K                the room's conductance to outdoors (100)\n"
           "  --furnace-w W, --cool-w W, --heatpump-w W, --aux-w W   capacities (default: sized\n"
           "                          from the house's design loads)\n"
           "  --hours N               end after N simulated hours (time scale 3600 unless\n"
           "                          TSTAT_TIME_SCALE says)\n"
           "  --report-dir DIR        where the report, trace.csv and day.png go (ROOT/sim)\n"
           "  --no-report             no report at the end\n"
           "  --voltage N             line-voltage reading (600; 491 or less is under-voltage)\n"
           "  --address N, --bus-version TEXT   the bus interface's address and version (1, 2.10)\n"
           "  --offline               report the bus offline; --no-levels: levels disabled\n"
           "  --show-requests         print the periodic requests as they arrive\n"
           "  --no-status             no house status line once a simulated minute\n"
           "  --tstat PATH, --data DIR   the application and its working directory\n"
           "  --factory-tool PATH     the tool that writes a factory image\n"
           "environment: TSTAT_ROOT, TSTAT_TIME_SCALE (simulated time runs that many times\n"
           "faster), TSTAT_TIME_ANCHOR (shared with the application; set when missing)\n";
}

bool parseSimOptions(const std::vector<std::string> &args, SimOptions *options,
                     std::string *error) {
    for (size_t i = 0; i < args.size(); i++) {
        std::string value;
        if (args[i] == "--house" && i + 1 < args.size()) {
            value = args[i + 1];
        } else if (args[i].rfind("--house=", 0) == 0) {
            value = args[i].substr(8);
        } else {
            continue;
        }
        HousePreset preset;
        if (parseHousePreset(value, &preset)) {
            options->house = housePreset(preset);
        }
    }
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &arg = args[i];
        if (arg == "--offline") {
            options->coproc.online = false;
            continue;
        }
        if (arg == "--no-levels") {
            options->coproc.levelsEnabled = false;
            continue;
        }
        if (arg == "--show-requests") {
            options->coproc.showRequests = true;
            continue;
        }
        if (arg == "--no-http") {
            options->http = -1;
            continue;
        }
        if (arg == "--no-status") {
            options->status = false;
            continue;
        }
        if (arg == "--no-report") {
            options->report = false;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        const OptionSpec *spec = nullptr;
        for (const OptionSpec &s : c_ValueOptions) {
            if (name == s.name) {
                spec = &s;
            }
        }
        if (spec == nullptr) {
            *error = "unknown option " + arg;
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                *error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!spec->apply(value, options)) {
            *error = "bad value for " + name + ": " + value;
            if (spec->apply == optWeather) {
                *error = m_WeatherError;
            }
            return false;
        }
    }
    return true;
}

int runSimulator(const SimOptions &options, bool startApplication) {
    if (!options.root.empty()) {
        setenv("TSTAT_ROOT", options.root.c_str(), 1);
    }
    // A run of given hours goes as fast as the host sustains unless told.
    const char *scale = getenv("TSTAT_TIME_SCALE");
    if (options.hours > 0.0 && (scale == nullptr || *scale == '\0')) {
        setenv("TSTAT_TIME_SCALE", REPORT_TIME_SCALE, 1);
    }
    shareTimeAnchor();
    Simulator simulator(options, startApplication);
    return simulator.run();
}

int simMain(int argc, char **argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "help" || args[0] == "--help" || args[0] == "-h") {
        fputs(simUsage().c_str(), args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    std::string command = args[0];
    args.erase(args.begin());
    if (command == "key") {
        std::string key;
        double hold = 0.1;
        for (size_t i = 0; i < args.size(); i++) {
            if (args[i] == "--hold" && i + 1 < args.size()) {
                if (!number(args[++i], 0, 3600, &hold)) {
                    fprintf(stderr, "tstat-sim: --hold takes 0 to 3600 seconds\n");
                    return 2;
                }
            } else if (args[i] == "--root" && i + 1 < args.size()) {
                setenv("TSTAT_ROOT", args[++i].c_str(), 1);
                platformReset();
            } else if (key.empty() && args[i].rfind("--", 0) != 0) {
                key = args[i];
            } else {
                fputs(simUsage().c_str(), stderr);
                return 2;
            }
        }
        if (key.empty()) {
            fputs(simUsage().c_str(), stderr);
            return 2;
        }
        return pressKey(key, hold);
    }
    if (command != "run" && command != "coproc") {
        fprintf(stderr, "tstat-sim: unknown command \"%s\"\n", command.c_str());
        fputs(simUsage().c_str(), stderr);
        return 2;
    }
    SimOptions options;
    std::string bin = ownDirectory();
    options.tstat = bin + "/tstat";
    options.data = (fs::path(bin).parent_path() / "data").string();
    options.factoryTool = bin + "/tstat-factory";
    std::string error;
    if (!parseSimOptions(args, &options, &error)) {
        fprintf(stderr, "tstat-sim: %s\n", error.c_str());
        fputs(simUsage().c_str(), stderr);
        return 2;
    }
    options.tstat = fs::absolute(options.tstat).string();
    options.data = fs::absolute(options.data).string();
    return runSimulator(options, command == "run");
}

} // namespace sim
