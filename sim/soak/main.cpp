// tstat-soak: a month of the thermostat's life on the simulated board. Two
// runs of tstat-sim, a heat-pump house and a furnace house, each through
// winter, spring and summer, with the system mode changed over the control
// bus at each season and under-voltage dips and coprocessor silences at
// times drawn from a fixed seed. The application's process is watched
// throughout (it must never end or restart, and its memory must not grow
// after the first simulated day); at the end the relay checker goes over
// each run's whole relay log with the dips as emergency-stop windows, and
// one summary gives the figures and the verdict.
#include "config/persist.h"
#include "console.h"
#include "host/file_descriptor.h"
#include "report/report.h"
#include "soak_plan.h"

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
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using soak::MS_PER_DAY;
using soak::MS_PER_HOUR;
using soak::MS_PER_MINUTE;

// Simulated days a season lasts in each run: 2 runs x 3 seasons x 5 days.
constexpr int DEFAULT_DAYS_PER_SEASON = 5;
// A simulated day in 48 host seconds. At 3600, the speed of tstat-sim's own
// reports, a two-core host shared with other work gave the thermostat 70 to
// 85 % of its once-a-second passes; at 1800 over 90 %.
constexpr double DEFAULT_TIME_SCALE = 1800.0;
// Below this share of the thermostat's once-a-second requests the host did
// not give it the passes of its normal pace: the run was too fast for the
// host to count as a soak.
constexpr double MIN_REQUESTS_PERCENT = 75.0;
// Resident memory may end this much above the first day's (16 pages of
// 4 KiB): the C library may keep a page or two more for a buffer that grew
// once. A leak of a few bytes a pass is megabytes over the days.
constexpr int64_t MEMORY_TOLERANCE_KB = 64;
// The start-up figure is taken once the first pages have been shown.
constexpr int64_t START_UP_MS = 10 * MS_PER_MINUTE;
// Host time between two looks at the application's memory.
constexpr auto SAMPLE_PERIOD = std::chrono::milliseconds(200);
// Host seconds the simulator gets to come up, and beyond its expected
// time to finish: a loaded host may run it at a third of its pace.
constexpr int STARTUP_LIMIT_S = 30;
constexpr double HOST_TIME_FACTOR = 3.0;
constexpr int HOST_TIME_MARGIN_S = 120;
// Monday 2026-12-07 00:00 local time (the runs use TZ=UTC0).
constexpr const char *START_DAY = "2026-12-07 00:00";

volatile sig_atomic_t s_Stop = 0;

void onStop(int) {
    s_Stop = 1;
}

// A house of the soak: the thermostat's factory image and the simulator's house.
struct HousePlan {
    std::string name;
    std::string description;
    std::vector<std::string> factory;
    std::vector<std::string> house;
    bool heatPump;
};

const std::vector<HousePlan> &housePlans() {
    static const std::vector<HousePlan> plans = {
        {"heatpump",
         "typical house, two-stage heat pump with electric auxiliary heat, humidifier and "
         "dehumidifier",
         {"--system", "two-stg-heat-pump", "--external-sensor", "outdoor", "--humidity", "both"},
         {"--house", "typical", "--equipment", "heatpump", "--aux", "electric"},
         true},
        {"furnace",
         "leaky house, two-stage furnace and air conditioner, humidifier and dehumidifier",
         {"--system", "two-stg-furnace", "--humidity", "both"},
         {"--house", "leaky", "--equipment", "furnace"},
         false},
    };
    return plans;
}

struct SoakOptions {
    int daysPerSeason = DEFAULT_DAYS_PER_SEASON;
    double scale = DEFAULT_TIME_SCALE;
    uint64_t seed = 1;
    std::string bin;
    std::string data;
    std::string out;
    std::string weather = TSTAT_SOURCE_DIR "/sim/weather";
};

struct RunResult {
    const HousePlan *plan = nullptr;
    std::vector<std::string> failures; // what went wrong, one line each
    double hostSeconds = 0;
    double days = 0;
    pid_t pid = -1;
    int starts = 0;
    bool endedEarly = false; // the application ended before the run did
    soak::MemoryFigures memory;
    int64_t growthKb = -1;
    size_t consoleLines = 0;
    size_t dips = 0;
    size_t silences = 0;
    size_t modeChanges = 0;
    std::vector<std::pair<int64_t, int64_t>> windows;
    std::string relayCheck; // the checker's last line
    size_t violations = 0;
    sim::Report whole;
    std::vector<sim::Report> seasons;
    soak::RunSpeed speed;
};

int64_t hostMonotonicNs() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// The simulated clock the simulator and the application share: the soak
// sets their time anchor, so it reads the same clock without asking them.
struct SimClock {
    int64_t anchorNs;
    double scale;
    int64_t nowMs() const {
        return static_cast<int64_t>(static_cast<long double>(hostMonotonicNs() - anchorNs) * scale /
                                    1.0e6L);
    }
};

std::string readText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeText(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

// Starts argv[0] with standard input from /dev/null and its output in outPath.
pid_t spawn(const std::vector<std::string> &argv, const std::string &outPath) {
    pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    int in = open("/dev/null", O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0) {
        _exit(126);
    }
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    std::vector<char *> args;
    for (const std::string &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int exitStatusOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs a tool to its end; its exit status, or -1 when it could not start.
int runTool(const std::vector<std::string> &argv, const std::string &outPath) {
    pid_t pid = spawn(argv, outPath);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return exitStatusOf(status);
}

// Ends the simulator (it ends the application); waits for it.
int stopSimulator(pid_t pid) {
    kill(pid, SIGTERM);
    int status = 0;
    for (int waited = 0; waited < 100; waited++) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            return exitStatusOf(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return exitStatusOf(status);
}

int connectConsole(const std::string &portFile, int64_t limitNs) {
    while (hostMonotonicNs() < limitNs && s_Stop == 0) {
        std::ifstream in(portFile);
        int port = 0;
        if (in >> port && port > 0) {
            int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            struct sockaddr_in addr {};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(static_cast<uint16_t>(port));
            if (fd >= 0 &&
                connect(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) == 0) {
                return fd;
            }
            if (fd >= 0) {
                close(fd);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

bool sendLine(int fd, const std::string &line) {
    std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        ssize_t put = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

// The application's pid from the simulator's "started ... (pid N)" line.
pid_t applicationPid(const std::string &output) {
    size_t at = output.find("tstat-sim: started ");
    size_t pidAt = at == std::string::npos ? at : output.find("(pid ", at);
    return pidAt == std::string::npos ? -1 : static_cast<pid_t>(atol(output.c_str() + pidAt + 5));
}

// The start time of a process (clock ticks since boot), which tells a pid
// that was reused from the process it first named; -1 when it is gone.
long long processStartTime(pid_t pid) {
    std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    // Field 22 of the line; the fields after the name begin with field 3.
    for (int i = 3; i < 22 && fields >> field; i++) {
    }
    long long start = -1;
    fields >> start;
    return start;
}

size_t countOf(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        n++;
    }
    return n;
}

std::string kb(int64_t value) {
    return value < 0 ? std::string("-") : std::to_string(value) + " kB";
}

// Reads the record the thermostat kept (its user record, else the factory one).
sim::ThermostatSetup thermostatSetup(const std::string &root) {
    for (const char *name : {"/dev/mtdblock5", "/dev/mtdblock4"}) {
        std::string bytes = readText(root + name);
        TstatSysCfgPersistMem_t record{};
        if (bytes.size() >= sizeof(record)) {
            memcpy(&record, bytes.data(), sizeof(record));
            sim::ThermostatSetup setup = sim::setupFromRecord(record);
            if (setup.valid) {
                return setup;
            }
        }
    }
    return {};
}

class SoakRun {
  public:
    SoakRun(const HousePlan &plan, const SoakOptions &options, size_t index)
        : m_plan(plan), m_options(options), m_index(index) {
        m_result.plan = &plan;
    }
    RunResult run();

  private:
    bool prepare();
    // While the simulator runs: the console lines sent when they are due,
    // their acknowledgements read, the application's memory sampled.
    void watch(pid_t sim, int console);
    void sendDueLines(int console);
    void readConsole(int console);
    void sample(int64_t nowMs);
    // After the run: the application's starts, the relay log checked with
    // the dips' emergency-stop windows, the comfort and memory figures.
    void afterwards();
    void checkStarts(const std::string &output);
    void checkRelays(const std::vector<sim::TraceRow> &rows);
    std::vector<std::string> relayCheckCommand() const;
    void runRelayCheck(const std::vector<std::string> &check);
    void fail(const std::string &what) { m_result.failures.push_back(what); }

    const HousePlan &m_plan;
    const SoakOptions &m_options;
    size_t m_index;
    RunResult m_result;
    std::vector<soak::Season> m_seasons;
    std::vector<soak::ConsoleLine> m_lines;
    std::string m_dir;
    std::string m_root;
    double m_hours = 0;
    SimClock m_clock{0, 1.0};
    // For each console line: the stamp of its acknowledgement (-1 none yet)
    // and the simulated time the soak saw it at.
    std::vector<int> m_ackStamp;
    std::vector<int64_t> m_ackSeenMs;
    // The next console line to send, the first one sent and not yet
    // acknowledged, and the console's output not yet read as lines.
    size_t m_next = 0;
    size_t m_awaiting = 0;
    sim::LineBuffer m_consoleBuffer;
    bool m_hoursDone = false;
    long long m_startTime = -1;
};

bool SoakRun::prepare() {
    m_seasons = soak::defaultSeasons(m_options.daysPerSeason);
    m_hours = soak::totalDays(m_seasons) * 24.0;
    m_result.days = soak::totalDays(m_seasons);
    m_dir = m_options.out + "/" + m_plan.name;
    m_root = m_dir + "/board";
    std::error_code ec;
    fs::remove_all(m_dir, ec);
    fs::create_directories(m_root + "/dev", ec);
    fs::create_directories(m_root + "/sim", ec);
    if (ec) {
        fail("cannot make " + m_root + ": " + ec.message());
        return false;
    }
    std::vector<std::string> factory = {m_options.bin + "/tstat-factory"};
    factory.insert(factory.end(), m_plan.factory.begin(), m_plan.factory.end());
    factory.push_back(m_root + "/dev/mtdblock4");
    if (runTool(factory, m_dir + "/factory.txt") != 0) {
        fail("tstat-factory failed: " + readText(m_dir + "/factory.txt"));
        return false;
    }
    std::vector<sim::WeatherDay> weathers(m_seasons.size());
    for (size_t i = 0; i < m_seasons.size(); i++) {
        std::string error;
        if (!weathers[i].load(m_options.weather + "/" + m_seasons[i].weatherFile, &error)) {
            fail(error);
            return false;
        }
    }
    if (!writeText(m_dir + "/weather.csv", soak::composeWeather(m_seasons, weathers))) {
        fail("cannot write " + m_dir + "/weather.csv");
        return false;
    }
    // Each house its own draw, the same for a given seed.
    std::vector<soak::Disturbance> disturbances =
        soak::drawDisturbances(m_options.seed * 1000 + m_index, soak::totalDays(m_seasons));
    m_lines = soak::consoleLines(m_seasons, disturbances);
    m_ackStamp.assign(m_lines.size(), -1);
    m_ackSeenMs.assign(m_lines.size(), -1);
    for (const soak::Disturbance &d : disturbances) {
        (d.kind == soak::DisturbanceKind::UnderVoltage ? m_result.dips : m_result.silences)++;
    }
    m_result.modeChanges = m_seasons.size() - 1;
    m_result.consoleLines = m_lines.size();
    return true;
}

void SoakRun::sample(int64_t nowMs) {
    if (m_hoursDone || nowMs >= static_cast<int64_t>(m_hours * MS_PER_HOUR) - MS_PER_MINUTE) {
        return;
    }
    soak::MemorySample s;
    std::string status = readText("/proc/" + std::to_string(m_result.pid) + "/status");
    if (!soak::parseProcStatus(status, &s) || processStartTime(m_result.pid) != m_startTime) {
        if (!m_result.endedEarly) {
            m_result.endedEarly = true;
            fail("the application (pid " + std::to_string(m_result.pid) + ") was gone at " +
                 sim::formatNumber("%.2f", nowMs / static_cast<double>(MS_PER_DAY)) +
                 " simulated days");
        }
        return;
    }
    soak::MemoryFigures &m = m_result.memory;
    if (nowMs >= START_UP_MS && m.startUp.rssKb < 0) {
        m.startUp = s;
    }
    if (nowMs >= MS_PER_DAY) {
        if (m.dayOne.rssKb < 0) {
            m.dayOne = s;
        }
        m.peakRssKb = std::max(m.peakRssKb, s.rssKb);
    }
    m.end = s;
}

void SoakRun::watch(pid_t sim, int console) {
    auto hostStart = std::chrono::steady_clock::now();
    double hostLimitS = m_hours * 3600.0 / m_options.scale * HOST_TIME_FACTOR + HOST_TIME_MARGIN_S;
    auto hostLimit = hostStart + std::chrono::duration<double>(hostLimitS);
    auto nextSample = hostStart;
    int simStatus = -1;
    for (;;) {
        int status = 0;
        if (waitpid(sim, &status, WNOHANG) == sim) {
            simStatus = exitStatusOf(status);
            break;
        }
        if (s_Stop != 0 || std::chrono::steady_clock::now() > hostLimit) {
            if (s_Stop == 0) {
                fail("the run did not end within " + sim::formatNumber("%.0f", hostLimitS) +
                     " host seconds");
            }
            simStatus = stopSimulator(sim);
            break;
        }
        sendDueLines(console);
        readConsole(console);
        if (std::chrono::steady_clock::now() >= nextSample) {
            nextSample += SAMPLE_PERIOD;
            sample(m_clock.nowMs());
        }
    }
    m_result.hostSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - hostStart).count();
    if (simStatus != 0) {
        fail("tstat-sim ended with status " + std::to_string(simStatus));
    }
    if (!m_hoursDone) {
        fail("the run ended before its " + sim::formatNumber("%g", m_hours) + " simulated hours");
    }
    for (size_t i = 0; i < m_lines.size(); i++) {
        if (m_ackStamp[i] < 0) {
            fail("console line \"" + m_lines[i].line + "\" at " +
                 sim::formatNumber("%.3f", m_lines[i].atMs / static_cast<double>(MS_PER_DAY)) +
                 " days was not carried out");
        }
    }
}

void SoakRun::sendDueLines(int console) {
    int64_t now = m_clock.nowMs();
    while (m_next < m_lines.size() && m_lines[m_next].atMs <= now) {
        if (!sendLine(console, m_lines[m_next].line)) {
            fail("the console no longer takes lines");
            m_next = m_lines.size();
            return;
        }
        m_next++;
    }
}

void SoakRun::readConsole(int console) {
    struct pollfd p = {console, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) {
        return;
    }
    char bytes[65536];
    ssize_t got = read(console, bytes, sizeof(bytes));
    std::vector<std::string> lines;
    if (got > 0) {
        m_consoleBuffer.add(bytes, static_cast<size_t>(got), &lines);
    }
    int64_t seen = m_clock.nowMs();
    for (const std::string &line : lines) {
        // The earliest line sent and not yet carried out that this one acknowledges.
        for (size_t i = m_awaiting; i < m_next; i++) {
            if (m_ackStamp[i] < 0 && line.find(m_lines[i].acknowledgement) != std::string::npos) {
                m_ackStamp[i] = soak::stampSeconds(line);
                m_ackSeenMs[i] = seen;
                break;
            }
        }
        while (m_awaiting < m_next && m_ackStamp[m_awaiting] >= 0) {
            m_awaiting++;
        }
        m_hoursDone = m_hoursDone || line.find("simulated hours done") != std::string::npos;
    }
}

void SoakRun::afterwards() {
    checkStarts(readText(m_dir + "/sim-output.txt"));
    std::vector<sim::TraceRow> rows;
    std::vector<RelayEvent> log;
    std::string error;
    std::ifstream trace(m_dir + "/trace.csv");
    if (!trace || !sim::readTrace(trace, &rows, &error) || rows.empty()) {
        fail("no trace: " + error);
    }
    std::ifstream relayLog(m_root + "/sim/relay-log");
    if (!relayLog || !parseRelayLog(relayLog, log, error)) {
        fail("no relay log: " + error);
    }
    checkRelays(rows);

    sim::ThermostatSetup setup = thermostatSetup(m_root);
    m_result.whole = sim::computeReport(rows, log, setup, {});
    double minute = 0;
    for (const soak::Season &s : m_seasons) {
        double end = minute + s.days * 24.0 * 60.0;
        m_result.seasons.push_back(
            sim::computeReport(soak::traceSlice(rows, minute, end), {}, setup, {}));
        minute = end;
    }
    m_result.speed = soak::parseRunSpeed(readText(m_dir + "/report.txt"));

    m_result.growthKb = soak::memoryGrowthKb(m_result.memory);
    if (m_result.growthKb < 0) {
        fail("no memory figures after the first day");
    } else if (m_result.growthKb > MEMORY_TOLERANCE_KB) {
        fail("resident memory grew by " + kb(m_result.growthKb) + " after the first day");
    }
}

void SoakRun::checkStarts(const std::string &output) {
    m_result.starts = static_cast<int>(countOf(output, "tstat-sim: started "));
    if (m_result.starts != 1) {
        fail("the application was started " + std::to_string(m_result.starts) + " times");
    }
    for (const char *end : {"the application ended with status", "the application was ended by"}) {
        size_t at = output.find(end);
        if (at != std::string::npos) {
            m_result.endedEarly = true;
            fail(output.substr(at, output.find('\n', at) - at));
        }
    }
}

void SoakRun::checkRelays(const std::vector<sim::TraceRow> &rows) {
    // The dips in the relay log's milliseconds, from the console's stamps.
    std::vector<std::pair<int64_t, int64_t>> dips;
    std::ostringstream dipText;
    int64_t dipStart = -1;
    for (size_t i = 0; i < m_lines.size(); i++) {
        int64_t at =
            m_ackStamp[i] < 0 ? -1 : soak::stampToUptimeMs(m_ackStamp[i], m_ackSeenMs[i], rows);
        dipText << "planned at " << m_lines[i].atMs << " ms, carried out at " << at
                << " ms: " << m_lines[i].line << "\n";
        if (m_lines[i].dip > 0) {
            dipStart = at;
        } else if (m_lines[i].dip < 0 && dipStart >= 0 && at >= 0) {
            dips.emplace_back(dipStart, at);
            dipStart = -1;
        }
    }
    m_result.windows = soak::estopWindows(dips);
    std::vector<std::string> check = relayCheckCommand();
    std::string command;
    for (const std::string &a : check) {
        command += (command.empty() ? "" : " ") + a;
    }
    writeText(m_dir + "/console-lines.txt",
              "# The console lines of the run in the relay log's milliseconds, and the relay "
              "check.\n" +
                  dipText.str() + "\n" + command + "\n");
    runRelayCheck(check);
}

std::vector<std::string> SoakRun::relayCheckCommand() const {
    std::vector<std::string> check = {m_options.bin + "/tstat-relaycheck"};
    if (m_plan.heatPump) {
        check.push_back("--heat-pump");
    }
    for (const auto &[from, to] : m_result.windows) {
        check.push_back("--estop");
        check.push_back(std::to_string(from) + "-" + std::to_string(to));
    }
    check.push_back(m_root + "/sim/relay-log");
    return check;
}

void SoakRun::runRelayCheck(const std::vector<std::string> &check) {
    int checked = runTool(check, m_dir + "/relaycheck.txt");
    std::string checkOutput = readText(m_dir + "/relaycheck.txt");
    size_t lastLine = checkOutput.rfind('\n', checkOutput.size() >= 2 ? checkOutput.size() - 2 : 0);
    m_result.relayCheck = checkOutput.substr(lastLine == std::string::npos ? 0 : lastLine + 1);
    while (!m_result.relayCheck.empty() && m_result.relayCheck.back() == '\n') {
        m_result.relayCheck.pop_back();
    }
    m_result.violations = countOf(checkOutput, " ms: ");
    if (checked != 0) {
        fail("tstat-relaycheck: " + (checked == 1 ? std::to_string(m_result.violations) +
                                                        " violations (" + m_dir + "/relaycheck.txt)"
                                                  : m_result.relayCheck));
    }
}

RunResult SoakRun::run() {
    if (!prepare()) {
        return m_result;
    }
    time_t start = 0;
    struct tm t {};
    if (strptime(START_DAY, "%Y-%m-%d %H:%M", &t) != nullptr) {
        start = timegm(&t);
    }
    // The hardware clock that makes the run begin at the start day's midnight.
    writeText(m_root + "/sim/rtc",
              std::to_string(static_cast<long long>(start - time(nullptr))) + "\n");
    m_clock = {hostMonotonicNs(), m_options.scale};
    setenv("TSTAT_TIME_ANCHOR", std::to_string(m_clock.anchorNs).c_str(), 1);
    setenv("TSTAT_TIME_SCALE", sim::formatNumber("%g", m_options.scale).c_str(), 1);
    std::vector<std::string> argv = {m_options.bin + "/tstat-sim",
                                     "run",
                                     "--root",
                                     m_root,
                                     "--no-http",
                                     "--hours",
                                     sim::formatNumber("%g", m_hours),
                                     "--weather",
                                     m_dir + "/weather.csv",
                                     "--report-dir",
                                     m_dir,
                                     "--tstat",
                                     m_options.bin + "/tstat",
                                     "--data",
                                     m_options.data};
    argv.insert(argv.end(), m_plan.house.begin(), m_plan.house.end());
    printf("tstat-soak: %s: %g simulated days from %s at time scale %g (%s)\n", m_plan.name.c_str(),
           m_result.days, START_DAY, m_options.scale, (m_dir + "/sim-output.txt").c_str());
    fflush(stdout);
    pid_t sim = spawn(argv, m_dir + "/sim-output.txt");
    if (sim < 0) {
        fail(std::string("cannot start tstat-sim: ") + strerror(errno));
        return m_result;
    }
    int64_t limit = hostMonotonicNs() + STARTUP_LIMIT_S * 1000000000LL;
    FileDescriptor console(connectConsole(m_root + "/sim/console.port", limit));
    while (m_result.pid < 0 && hostMonotonicNs() < limit && s_Stop == 0) {
        m_result.pid = applicationPid(readText(m_dir + "/sim-output.txt"));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_startTime = m_result.pid > 0 ? processStartTime(m_result.pid) : -1;
    if (console.get() < 0 || m_startTime < 0) {
        fail(console.get() < 0 ? "the simulator's console did not open"
                               : "the application did not start");
        stopSimulator(sim);
        return m_result;
    }
    watch(sim, console.get());
    afterwards();
    return m_result;
}

std::string stageLine(const sim::Report &r) {
    std::string text;
    for (const sim::StageFigures &f : r.stages) {
        if (f.starts == 0) {
            continue;
        }
        text += (text.empty() ? "" : ", ") + std::string(c_RelayNames[f.relay]) + " " +
                sim::formatNumber("%.2f", f.startsPerHour) + "/h (most " +
                std::to_string(f.mostInAnHour) + " in an hour)";
    }
    return text.empty() ? "no starts" : text;
}

std::string comfortText(const sim::ComfortFigures &c) {
    if (c.hours <= 0) {
        return "none";
    }
    return sim::formatNumber("%.0f %% in band, ", 100.0 * c.inBandShare) +
           sim::formatNumber("%.2f C h below, ", c.belowKh) +
           sim::formatNumber("%.2f C h above, ", c.aboveKh) +
           sim::formatNumber("%.3f C h per hour", (c.belowKh + c.aboveKh) / c.hours);
}

// One run's part of the summary.
void runSummary(std::ostream &out, const RunResult &r, const std::vector<soak::Season> &seasons) {
    const soak::MemoryFigures &m = r.memory;
    out << "\n" << r.plan->name << ": " << r.plan->description << "\n";
    out << "  " << r.days << " simulated days in "
        << sim::formatNumber("%.1f", r.hostSeconds / 60.0)
        << " host minutes; thermostat's requests at "
        << sim::formatNumber("%.0f %% of normal", r.speed.requestsPercent)
        << ", longest simulator step " << sim::formatNumber("%.0f s", r.speed.longestStepS) << "\n";
    out << "  process: pid " << r.pid << ", started " << r.starts << " time"
        << (r.starts == 1 ? "" : "s") << ", "
        << (r.endedEarly ? "ended before the run did" : "ran to the end of the run") << "\n";
    out << "  memory: VmRSS at start-up " << kb(m.startUp.rssKb) << ", after day 1 "
        << kb(m.dayOne.rssKb) << ", at the end " << kb(m.end.rssKb) << ", peak after day 1 "
        << kb(m.peakRssKb) << "; VmHWM after day 1 " << kb(m.dayOne.hwmKb) << ", at the end "
        << kb(m.end.hwmKb) << "; growth " << kb(r.growthKb) << " (at most " << MEMORY_TOLERANCE_KB
        << " kB)\n";
    out << "  disturbances: " << r.dips << " under-voltage dips of 2 to 10 min, " << r.silences
        << " coprocessor silences of 5 to 600 s, " << r.modeChanges
        << " system mode changes over the bus (" << r.consoleLines
        << " console lines, in console-lines.txt)\n";
    out << "  relay check" << (r.plan->heatPump ? " (--heat-pump, " : " (") << r.windows.size()
        << " emergency-stop windows): " << (r.relayCheck.empty() ? "not run" : r.relayCheck)
        << "\n";
    out << "  comfort, occupied periods:\n";
    for (size_t i = 0; i < r.seasons.size() && i < seasons.size(); i++) {
        out << "    " << seasons[i].name << " (" << seasons[i].modeName
            << "): " << comfortText(r.seasons[i].occupied) << "\n";
    }
    out << "    whole run: " << comfortText(r.whole.occupied) << "\n";
    out << "  equipment: " << stageLine(r.whole) << "; " << r.whole.cycles
        << " cycles, shortest start to start "
        << (r.whole.shortestCycleStartGapS >= 0
                ? sim::formatNumber("%.1f min", r.whole.shortestCycleStartGapS / 60.0)
                : std::string("none"))
        << "; shortest compressor off time "
        << (r.whole.shortestCompressorOffS >= 0
                ? sim::formatNumber("%.0f s", r.whole.shortestCompressorOffS)
                : std::string("none"))
        << "\n";
    for (const std::string &f : r.failures) {
        out << "  FAILED: " << f << "\n";
    }
}

// The verdict's line: 0 passed, 1 failed, 3 not valid (the host was too slow).
int verdictLine(std::ostream &out, bool failed, double slowest, const SoakOptions &options) {
    if (failed) {
        out << "SOAK FAILED\n";
        return 1;
    }
    if (slowest < MIN_REQUESTS_PERCENT) {
        out << "SOAK NOT VALID: the host gave the thermostat "
            << sim::formatNumber("%.0f %%", slowest) << " of its once-a-second passes (at least "
            << sim::formatNumber("%.0f %%", MIN_REQUESTS_PERCENT)
            << " needed); run it at a lower time scale, e.g. make soak SOAK_SCALE="
            << sim::formatNumber("%g", options.scale / 2) << "\n";
        return 3;
    }
    out << "SOAK PASSED\n";
    return 0;
}

std::string summary(const std::vector<RunResult> &runs, const SoakOptions &options,
                    double hostSeconds, int *verdict) {
    std::ostringstream out;
    double days = 0;
    for (const RunResult &r : runs) {
        days += r.days;
    }
    out << "\ntstat soak: " << days << " simulated days in "
        << sim::formatNumber("%.1f", hostSeconds / 60.0) << " host minutes (time scale "
        << options.scale << ", seed " << options.seed << ")\n";
    const std::vector<soak::Season> seasons = soak::defaultSeasons(options.daysPerSeason);
    int restarts = 0;
    int earlyEnds = 0;
    size_t violations = 0;
    int64_t growth = 0;
    bool failed = false;
    double slowest = 100.0;
    for (const RunResult &r : runs) {
        runSummary(out, r, seasons);
        failed = failed || !r.failures.empty();
        restarts += std::max(0, r.starts - 1);
        earlyEnds += r.endedEarly ? 1 : 0;
        violations += r.violations;
        growth = std::max(growth, r.growthKb);
        slowest = std::min(slowest, r.speed.requestsPercent);
    }
    out << "\ntotal: " << days << " simulated days, " << restarts << " restarts, " << earlyEnds
        << " early ends, " << violations << " relay violations, memory growth after day 1 at most "
        << kb(growth) << ", the slowest run's requests at " << sim::formatNumber("%.0f %%", slowest)
        << " of normal\n";
    *verdict = verdictLine(out, failed, slowest, options);
    return out.str();
}

void usage(FILE *out) {
    fputs("usage: tstat-soak [--days-per-season N] [--scale S] [--seed N] [--out DIR]\n"
          "                  [--weather DIR] [--bin DIR] [--data DIR]\n"
          "Runs the thermostat for a simulated month on the simulated board: a heat-pump\n"
          "house and a furnace house, each through winter, spring and summer (N days each,\n"
          "default 5), with under-voltage dips and coprocessor silences at times drawn from\n"
          "the seed (default 1), at time scale S (default 1800: a day in 48 host seconds).\n"
          "Checks that the application never ends or restarts, that its resident memory\n"
          "does not grow after the first day, and that the relay log of each run is clean;\n"
          "prints the comfort and equipment figures. Each run's files go to DIR/HOUSE\n"
          "(default build/soak), the summary to DIR/summary.txt.\n"
          "Exit status: 0 passed, 1 failed, 2 usage error, 3 not valid (the host did not\n"
          "keep the thermostat's pace at this time scale).\n",
          out);
}

bool parseNumber(const char *text, double lo, double hi, double *out) {
    char *end = nullptr;
    double v = strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) {
        return false;
    }
    *out = v;
    return true;
}

std::string ownBinDirectory() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0) {
        return "build/bin";
    }
    buf[n] = '\0';
    return fs::path(buf).parent_path().string();
}

// Reads the command line into *options: -1 to go on, else the exit status.
int parseOptions(int argc, char **argv, SoakOptions *options) {
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        double value = 0;
        bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else if (arg == "--days-per-season" && hasValue &&
                   parseNumber(argv[++i], 1, 10, &value) && value == std::floor(value)) {
            options->daysPerSeason = static_cast<int>(value);
        } else if (arg == "--scale" && hasValue && parseNumber(argv[++i], 1, 100000, &value)) {
            options->scale = value;
        } else if (arg == "--seed" && hasValue && parseNumber(argv[++i], 0, 1e15, &value) &&
                   value == std::floor(value)) {
            options->seed = static_cast<uint64_t>(value);
        } else if (arg == "--out" && hasValue) {
            options->out = argv[++i];
        } else if (arg == "--weather" && hasValue) {
            options->weather = argv[++i];
        } else if (arg == "--bin" && hasValue) {
            options->bin = argv[++i];
        } else if (arg == "--data" && hasValue) {
            options->data = argv[++i];
        } else {
            usage(stderr);
            return 2;
        }
    }
    return -1;
}

} // namespace

int main(int argc, char **argv) {
    SoakOptions options;
    options.bin = ownBinDirectory();
    options.data = (fs::path(options.bin).parent_path() / "data").string();
    options.out = (fs::path(options.bin).parent_path() / "soak").string();
    if (int status = parseOptions(argc, argv, &options); status >= 0) {
        return status;
    }
    options.out = fs::absolute(options.out).string();
    options.bin = fs::absolute(options.bin).string();
    options.data = fs::absolute(options.data).string();
    // Local time is UTC for the simulator, the application and the stamps.
    setenv("TZ", "UTC0", 1);
    tzset();
    struct sigaction sa {};
    sa.sa_handler = onStop;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    auto start = std::chrono::steady_clock::now();
    std::vector<RunResult> runs;
    const std::vector<HousePlan> &plans = housePlans();
    for (size_t i = 0; i < plans.size() && s_Stop == 0; i++) {
        SoakRun run(plans[i], options, i);
        runs.push_back(run.run());
    }
    if (s_Stop != 0) {
        fprintf(stderr, "tstat-soak: interrupted\n");
        return 130;
    }
    double hostSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    int verdict = 1;
    std::string text = summary(runs, options, hostSeconds, &verdict);
    fputs(text.c_str(), stdout);
    writeText(options.out + "/summary.txt", text);
    return verdict;
}
