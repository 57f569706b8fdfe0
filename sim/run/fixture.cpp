// tstat-sim fixture: the production-line fixture of the manufacturing test
// mode, played against the application on the simulated board.
#include "run/fixture.h"

#include "board/board.h"
#include "board/board_link.h"
#include "board/run_support.h"
#include "coprocessor.h"
#include "core/util.h"
#include "host/file_descriptor.h"
#include "host/program_command.h"
#include "house/house.h"
#include "hvac/sensors.h"
#include "key_pad.h"
#include "lockstep_clock.h"
#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sim {

namespace {

namespace fs = std::filesystem;

// One pass waits for console output at most this long (host time), and
// covers at most this much simulated time, as the simulator's own loop.
constexpr int64_t PASS_WAIT_MAX_NS = 10 * 1000 * 1000;
constexpr double PASS_SIM_MS = 100.0;
constexpr size_t STALE_BYTES = 2048;
constexpr int CHILD_GRACE_MS = 3000;
constexpr size_t SERIAL_LEN = 14;
constexpr size_t MAX_LINE = 4096;
// Bound of the small files of the board read whole.
constexpr size_t SMALL_FILE_MAX_BYTES = 4096;

// How long the fixture waits, in simulated time, with a floor of host time
// so that a loaded host does not fail a good unit.
constexpr int64_t READY_SIM_MS = 60000;
constexpr int64_t VERDICT_MARGIN_SIM_MS = 30000;
constexpr int64_t RELAY_SIM_MS = 30000;
constexpr int64_t EXIT_SIM_MS = 30000;
constexpr int64_t HOST_FLOOR_MS = 30000;
constexpr int64_t RELAY_HOST_FLOOR_MS = 10000;
// The relay log is quiet this long once the unit's pulse sequence is over
// (pulses follow each other every 500 ms).
constexpr int64_t QUIET_SIM_MS = 2000;
constexpr int64_t QUIET_HOST_MS = 300;

constexpr size_t STEP_COUNT = 9;
constexpr size_t STEP_IO = 1;
constexpr size_t STEP_SERIAL_ENTRY = 7;
constexpr size_t STEP_READ_BACK = 8;

struct StepSpec {
    const char *name;
    const char *command; // as sent, asterisks and newline included
    const char *pass;    // verdict line without its newline
    const char *fail;    // null: the step has no failure verdict
    bool value;          // the verdict follows a reading: "<value> <verdict>"
    bool endsOnFailure;
    int64_t unitLimitMs; // the unit's own time limit for the step
};

constexpr std::array<StepSpec, STEP_COUNT> c_Steps = {{
    {"coprocessor link", "***SerialLinkTest\n", "AT_LM_INT_TEST_PASS", "AT_LM_INT_TEST_FAIL", false,
     true, 10000},
    {"relays and keys", "***IOTest\n", "IO_TEST_PASS", "IO_TEST_FAIL", false, true, 120000},
    {"control bus", "***KorabusTest\n", "KORABUS_TEST_PASS", "KORABUS_TEST_FAIL", false, false,
     10000},
    {"display", "***LCDTest\n", "LCD_TEST_DONE", nullptr, false, false, 10000},
    {"on-board temperature", "***IntTempSsorTest\n", "INT_TEMP_TEST_PASS", "INT_TEMP_TEST_FAIL",
     true, false, 10000},
    {"external temperature", "***ExtTempSsorTest\n", "EXT_TEMP_TEST_PASS", "EXT_TEMP_TEST_FAIL",
     true, false, 10000},
    {"humidity", "***HumSsorTest\n", "HUM_TEST_PASS", "HUM_TEST_FAIL", true, false, 10000},
    {"serial number entry", "***EnterSerialNumber\n", "SERIAL_NUMBER_RX_PASS",
     "SERIAL_NUMBER_RX_FAIL", false, false, 0},
    {"serial number read-back", "***ReadSerialNumber\n",
     "Serial Number read from Flash is : ", nullptr, false, false, 0},
}};
constexpr const char *APP_READY = "APP_READY";
// How the board's start script says that the application ended.
constexpr const char *ENDED_WITH_STATUS = "tstat-start: tstat ended with status ";
constexpr const char *ENDED_STATUS_0 = "tstat-start: tstat ended (status 0)";

// The relay walk: relay numbers 10-19 of the unit, as contacts of sim/relays.
constexpr size_t WALK_LENGTH = 10;
constexpr size_t FIRST_WALK_RELAY = 10;
constexpr std::array<RelayIndex, WALK_LENGTH> c_Walk = {RELAY_G1,  RELAY_G2, RELAY_G3, RELAY_W1E,
                                                        RELAY_W2,  RELAY_Y1, RELAY_Y2, RELAY_OB,
                                                        RELAY_DEH, RELAY_HUM};
// The walk is stepped by any of these keys; the fixture takes them in turn.
constexpr std::array<const char *, 3> c_WalkKeys = {"up", "down", "mode"};

// In lock-step time the host's clock has no say: the waits below run on
// simulated time alone.
bool m_LockstepTime = false;

int64_t hostNowMs() {
    if (m_LockstepTime) {
        return 0;
    }
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// A small file of the board (the relays, the test pin): empty and *exists
// false when it is not there or cannot be read.
std::string readSmallFile(const std::string &path, bool *exists) {
    std::string content;
    std::string error;
    *exists = readBoardFile(path, SMALL_FILE_MAX_BYTES, &content, &error);
    return *exists ? content : std::string();
}

// A wait that ends when both its simulated and its host-time limit passed.
struct Deadline {
    int64_t simMs = 0;
    int64_t hostMs = 0;
    bool armed = false;

    void arm(int64_t simSpanMs, int64_t hostFloorMs) {
        simMs = simNowMs() + simSpanMs;
        hostMs = m_LockstepTime ? 0 : hostNowMs() + hostFloorMs;
        armed = true;
    }
    bool passed() const { return armed && simNowMs() >= simMs && hostNowMs() >= hostMs; }
};

std::string generateSerialNumber();

enum class Outcome { NotRun, Pass, Fail };

struct StepRecord {
    Outcome outcome = Outcome::NotRun;
    std::string verdict; // the unit's line
    std::string note;    // what the fixture adds
};

enum class Phase { WaitReady, WaitVerdict, ReadBack, WaitExit, Done };

class Fixture {
  public:
    explicit Fixture(const FixtureOptions &options)
        : m_options(options), m_house(options.sim.house), m_attached(!options.sim.serial.empty()) {
        if (m_attached) {
            m_keys.useBoard(&m_qmp);
        }
    }
    ~Fixture();
    int run();

  private:
    bool setUp();
    // The serial lines, keys and I/O page of a board that runs the board flavour.
    bool attach();
    // The unit started: the application on the simulated board, or the board
    // that starts it itself; runUnit is the child's side, which never returns.
    bool startApplication();
    bool startBoard();
    [[noreturn]] void runUnit(const ProgramCommand &command, const std::string &root, int clockFd);
    void pollApplication();
    void stopApplication();
    void readConsole();
    void onLine(const std::string &line);
    void onVerdict(Outcome outcome, const std::string &line);
    void send(size_t step);
    void walk();
    bool writeKey(const char *key);
    void readRelays();
    bool relaysQuiet();
    void checkDeadlines();
    void finishReadBack();
    void fail(const std::string &note);
    // One pass of the fixture's own work at simulated time now, and the
    // lock-step loop around it.
    void pass(int64_t now);
    void runLockstep();
    size_t inputForApplication() const;
    void say(const std::string &line);
    bool report();

    FixtureOptions m_options;
    std::string m_serial;
    House m_house;
    PseudoTerminal m_coprocPty;
    PseudoTerminal m_consolePty;
    std::unique_ptr<Coprocessor> m_coproc;
    std::unique_ptr<FileDescriptor> m_console;
    // The unit opens its key device when the walk starts; until then nobody
    // reads the FIFO and a press fails.
    KeyPad m_keys{KeyPad::Fifo::ReaderRequired};
    // A board that runs the board flavour itself.
    bool m_attached;
    QmpClient m_qmp;
    IoPageMirror m_ioPage;
    std::string m_testPinPath;
    std::string m_testPinBefore;
    bool m_testPinExisted = false;
    bool m_testPinSet = false;
    pid_t m_child = -1;
    int m_exitStatus = -1;

    Phase m_phase = Phase::WaitReady;
    size_t m_step = 0;
    Deadline m_deadline;
    std::array<StepRecord, STEP_COUNT> m_records;
    std::string m_pending;
    std::string m_relays;

    // The relay walk.
    bool m_walking = false;
    size_t m_walkNext = 0; // the relay the last press is waiting for
    bool m_pressed = false;
    Deadline m_relayDeadline;
    std::array<std::string, WALK_LENGTH> m_walkNotes;
    bool m_walkFaulty = false;
    // Growth of sim/relay-log: its size and when it last grew.
    uintmax_t m_relayLogSize = 0;
    bool m_relayLogGrew = false;
    int64_t m_relayLogSimMs = 0;
    int64_t m_relayLogHostMs = 0;
    int64_t m_lastPassMs = 0;
    std::unique_ptr<LockstepClock> m_lockstep;
};

Fixture::~Fixture() {
    stopApplication();
    if (m_testPinSet) {
        if (m_testPinExisted) {
            writeFileAtomic(m_testPinPath, m_testPinBefore);
        } else {
            unlink(m_testPinPath.c_str());
        }
    }
}

void Fixture::say(const std::string &line) {
    printf("%s %s\n", clockStamp().c_str(), line.c_str());
    fflush(stdout);
}

bool Fixture::setUp() {
    if (m_options.sim.lockstep) {
        m_LockstepTime = true;
        m_lockstep = std::make_unique<LockstepClock>(m_options.sim.startWall);
        m_options.sim.coproc.simulatedTimeouts = true;
    }
    m_serial = m_options.serial.empty() ? generateSerialNumber() : m_options.serial;
    say("tstat-sim fixture: board root " + absoluteRoot());
    if (!prepareBoard(boardSetup(m_options.sim), [this](const std::string &l) { say(l); })) {
        return false;
    }
    m_testPinPath = rootedPath("/sim/test-pin");
    m_testPinBefore = readSmallFile(m_testPinPath, &m_testPinExisted);
    if (!writeFileAtomic(m_testPinPath, "1\n")) {
        say("tstat-sim fixture: cannot set the test pin in " + m_testPinPath);
        return false;
    }
    m_testPinSet = true;
    std::string error;
    if (m_attached) {
        return attach();
    }
    if (!m_coprocPty.open(rootedPath("/dev/ttyCOPROC"), &error) ||
        !m_consolePty.open(rootedPath("/dev/ttyS0"), &error) ||
        (m_lockstep && !m_lockstep->open(&error))) {
        say("tstat-sim fixture: " + error);
        return false;
    }
    Sensors_Initialize();
    int coprocFd = m_coprocPty.releaseMaster();
    fcntl(coprocFd, F_SETFD, FD_CLOEXEC);
    m_coproc = std::make_unique<Coprocessor>(coprocFd, m_house, m_options.sim.coproc,
                                             [this](const std::string &l) { say(l); });
    m_console = std::make_unique<FileDescriptor>(m_consolePty.releaseMaster());
    fcntl(m_console->get(), F_SETFD, FD_CLOEXEC);
    say("tstat-sim fixture: console port " + m_consolePty.slaveName() + ", linked as " +
        m_consolePty.linkPath() + "; serial number " + m_serial);
    return true;
}

bool Fixture::attach() {
    const SimOptions &o = m_options.sim;
    std::string error;
    if ((!o.qmp.empty() && !m_qmp.connect(o.qmp, &error)) ||
        (!o.ioPageFile.empty() && !m_ioPage.open(o.ioPageFile, o.ioPageOffset, &error))) {
        say("tstat-sim fixture: " + error);
        return false;
    }
    int coprocFd = openSerialDevice(o.serial, &error);
    int consoleFd = coprocFd < 0 ? -1 : openSerialDevice(m_options.consoleSerial, &error);
    if (consoleFd < 0) {
        if (coprocFd >= 0) {
            close(coprocFd);
        }
        say("tstat-sim fixture: " + error);
        return false;
    }
    Sensors_Initialize();
    m_coproc = std::make_unique<Coprocessor>(coprocFd, m_house, o.coproc,
                                             [this](const std::string &l) { say(l); });
    m_console = std::make_unique<FileDescriptor>(consoleFd);
    say("tstat-sim fixture: the board's console port " + m_options.consoleSerial +
        ", its coprocessor line " + o.serial + "; serial number " + m_serial);
    return true;
}

bool Fixture::startApplication() {
    const SimOptions &o = m_options.sim;
    if (m_attached) {
        return startBoard();
    }
    if (access(o.tstat.c_str(), X_OK) != 0) {
        say("tstat-sim fixture: " + o.tstat + " is not built");
        return false;
    }
    std::string root = absoluteRoot();
    ProgramCommand command(o.tstat, {"/dev/ttyCOPROC"});
    pid_t pid = fork();
    if (pid < 0) {
        say(std::string("tstat-sim fixture: cannot start the application: ") + strerror(errno));
        return false;
    }
    if (pid == 0) {
        runUnit(command, root, m_lockstep ? m_lockstep->childFd() : -1);
    }
    m_child = pid;
    if (m_lockstep) {
        m_lockstep->childStarted();
    }
    say("tstat-sim fixture: started " + o.tstat + " /dev/ttyCOPROC (pid " + std::to_string(pid) +
        ") with the test pin set");
    m_deadline.arm(READY_SIM_MS, HOST_FLOOR_MS);
    return true;
}

bool Fixture::startBoard() {
    // The board starts the application itself once it runs.
    std::string error;
    if (m_qmp.connected() && !m_qmp.resume(&error)) {
        say("tstat-sim fixture: the emulated board does not run: " + error);
        return false;
    }
    say("tstat-sim fixture: the board runs with the test pin set");
    m_deadline.arm(READY_SIM_MS, HOST_FLOOR_MS);
    return true;
}

void Fixture::runUnit(const ProgramCommand &command, const std::string &root, int clockFd) {
    const SimOptions &o = m_options.sim;
    // The console port is the unit's standard output too, as on the board:
    // the verdicts come back on the line the commands went out on.
    int devnull = open("/dev/null", O_RDONLY);
    int out = open(m_consolePty.slaveName().c_str(), O_RDWR | O_NOCTTY);
    if (devnull < 0 || out < 0 || dup2(devnull, STDIN_FILENO) < 0 || dup2(out, STDOUT_FILENO) < 0) {
        _exit(126);
    }
    for (int fd = STDERR_FILENO + 1; fd < 1024; fd++) {
        if (fd != clockFd) {
            close(fd);
        }
    }
    if (clockFd >= 0) {
        fcntl(clockFd, F_SETFD, 0);
        setenv(LOCKSTEP_FD_VARIABLE, std::to_string(clockFd).c_str(), 1);
    }
    if (chdir(o.data.c_str()) != 0) {
        fprintf(stderr, "tstat-sim fixture: cannot enter %s: %s\n", o.data.c_str(),
                strerror(errno));
        _exit(126);
    }
    setenv("TSTAT_ROOT", root.c_str(), 1);
    // Without a window system SDL would pick a text-mode driver that draws
    // on the console port; the unit runs headless instead.
    const char *display = getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
    }
    command.exec();
    fprintf(stderr, "tstat-sim fixture: cannot run %s: %s\n", o.tstat.c_str(), strerror(errno));
    _exit(127);
}

void Fixture::pollApplication() {
    if (m_child < 0) {
        return;
    }
    int status = 0;
    if (waitpid(m_child, &status, WNOHANG) != m_child) {
        return;
    }
    m_child = -1;
    m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status)
                                     : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    // What the unit wrote before it ended is still on the line.
    readConsole();
    say("tstat-sim fixture: the application ended with status " + std::to_string(m_exitStatus));
    if (m_phase == Phase::ReadBack) {
        finishReadBack();
    } else if (m_phase == Phase::WaitReady || m_phase == Phase::WaitVerdict) {
        fail("the unit ended without a verdict");
    }
    m_phase = Phase::Done;
}

void Fixture::stopApplication() {
    // In lock-step time the unit waits for its clock: without one it ends.
    if (m_lockstep) {
        m_lockstep->close();
    }
    stopChild(&m_child, CHILD_GRACE_MS);
}

void Fixture::readConsole() {
    char buf[512];
    for (;;) {
        ssize_t got = read(m_console->get(), buf, sizeof(buf));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return;
        }
        for (ssize_t i = 0; i < got; i++) {
            char c = buf[i];
            if (c == '\n') {
                std::string line = m_pending;
                m_pending.clear();
                if (!line.empty() && line.back() == '\r') {
                    line.pop_back();
                }
                onLine(line);
            } else if (m_pending.size() < MAX_LINE) {
                m_pending += c;
            }
        }
        if (m_phase == Phase::ReadBack && m_pending.size() >= SERIAL_LEN) {
            finishReadBack();
        }
    }
}

void Fixture::send(size_t step) {
    std::string text = c_Steps[step].command;
    std::string shown = text.substr(0, text.size() - 1);
    if (step == STEP_SERIAL_ENTRY) {
        text += m_serial;
        shown += " " + m_serial;
    }
    ssize_t put = write(m_console->get(), text.data(), text.size());
    if (put != static_cast<ssize_t>(text.size())) {
        say("tstat-sim fixture: writing to the console port failed");
    }
    say("fixture> " + shown);
    m_step = step;
    m_phase = Phase::WaitVerdict;
    m_deadline.arm(c_Steps[step].unitLimitMs + VERDICT_MARGIN_SIM_MS, HOST_FLOOR_MS);
    if (step == STEP_IO) {
        m_walking = true;
        m_walkNext = 0;
        m_pressed = false;
        m_relayLogGrew = false;
        std::error_code ec;
        m_relayLogSize = fs::file_size(rootedPath("/sim/relay-log"), ec);
    }
}

void Fixture::onLine(const std::string &line) {
    say("unit> " + line);
    if (m_attached && m_phase == Phase::WaitExit) {
        if (line.rfind(ENDED_STATUS_0, 0) == 0) {
            m_exitStatus = 0;
        } else if (line.rfind(ENDED_WITH_STATUS, 0) == 0) {
            m_exitStatus = atoi(line.c_str() + strlen(ENDED_WITH_STATUS));
        } else {
            return;
        }
        say("tstat-sim fixture: the application ended with status " + std::to_string(m_exitStatus));
        m_phase = Phase::Done;
        return;
    }
    if (m_phase == Phase::WaitReady) {
        if (line == APP_READY) {
            send(0);
        }
        return;
    }
    if (m_phase != Phase::WaitVerdict) {
        return;
    }
    const StepSpec &stepRow = c_Steps[m_step];
    std::string verdict = line;
    if (stepRow.value) {
        // "<value> <verdict>"
        size_t space = line.find(' ');
        char *end = nullptr;
        std::string value = space == std::string::npos ? "" : line.substr(0, space);
        strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0') {
            return;
        }
        verdict = line.substr(space + 1);
    }
    if (verdict == stepRow.pass) {
        onVerdict(Outcome::Pass, line);
    } else if (stepRow.fail != nullptr && verdict == stepRow.fail) {
        onVerdict(Outcome::Fail, line);
    }
}

void Fixture::onVerdict(Outcome outcome, const std::string &line) {
    StepRecord &record = m_records[m_step];
    record.outcome = outcome;
    record.verdict = line;
    if (m_step == STEP_IO) {
        m_walking = false;
        readRelays();
        if (outcome == Outcome::Pass && m_walkFaulty) {
            record.outcome = Outcome::Fail;
            record.note = "the relays did not follow the walk";
        } else if (outcome == Outcome::Pass && m_relays != std::string(WALK_LENGTH, '0')) {
            record.outcome = Outcome::Fail;
            record.note = "relays " + m_relays + " after the walk (all open expected)";
        }
        m_keys.close();
    }
    if (m_step == STEP_SERIAL_ENTRY) {
        record.note = "sent " + m_serial;
    }
    if (m_step == STEP_READ_BACK) {
        m_pending.clear();
        m_phase = Phase::ReadBack;
        m_deadline.arm(EXIT_SIM_MS, HOST_FLOOR_MS);
        return;
    }
    // The unit's verdict stands; a failure the fixture found does not stop
    // the unit's sequence.
    if (outcome == Outcome::Fail && c_Steps[m_step].endsOnFailure) {
        m_phase = Phase::WaitExit;
        m_deadline.arm(EXIT_SIM_MS, HOST_FLOOR_MS);
        return;
    }
    send(m_step + 1);
}

void Fixture::finishReadBack() {
    StepRecord &record = m_records[STEP_READ_BACK];
    std::string stored = m_pending.substr(0, std::min(m_pending.size(), SERIAL_LEN));
    m_pending.clear();
    if (!stored.empty()) {
        say("unit> " + stored);
    }
    bool valid =
        stored.size() == SERIAL_LEN &&
        std::all_of(stored.begin(), stored.end(), [](char c) { return c > 0x1F && c < 0x7F; });
    if (!valid) {
        record.outcome = Outcome::Fail;
        record.note = stored.empty() ? "no serial number read back"
                                     : "\"" + stored + "\" is not a serial number";
    } else if (stored == m_serial) {
        record.outcome = Outcome::Pass;
        record.verdict = stored;
        record.note = "as sent";
    } else {
        // Serial numbers are written once: a unit that held one keeps it.
        record.outcome = Outcome::Pass;
        record.verdict = stored;
        record.note = "kept: the unit already held a serial; " + m_serial + " was not written";
    }
    m_phase = Phase::WaitExit;
    m_deadline.arm(EXIT_SIM_MS, HOST_FLOOR_MS);
}

void Fixture::fail(const std::string &note) {
    if (m_phase == Phase::WaitReady) {
        say("tstat-sim fixture: " + note + " (no APP_READY)");
        m_records[0].note = "the unit never announced itself";
        return;
    }
    if (m_phase == Phase::WaitVerdict || m_phase == Phase::ReadBack) {
        StepRecord &record = m_records[m_phase == Phase::ReadBack ? STEP_READ_BACK : m_step];
        record.outcome = Outcome::Fail;
        record.note = note;
    }
}

bool Fixture::writeKey(const char *key) {
    // A press and its release at once.
    int64_t now = simNowMs();
    m_keys.poll(now);
    return m_keys.press(keyCode(key), 0) && m_keys.poll(now);
}

void Fixture::walk() {
    if (!m_walking || m_walkNext >= WALK_LENGTH ||
        static_cast<int>(m_walkNext) >= m_options.presses || m_walkFaulty) {
        return;
    }
    RelayIndex relay = c_Walk[m_walkNext];
    // The first press waits, as an operator would, until the unit has reset
    // the relays: the walk counts key presses only once that is done.
    if (m_walkNext == 0 && !m_pressed && !relaysQuiet()) {
        return;
    }
    if (!m_pressed) {
        const char *key = c_WalkKeys[m_walkNext % c_WalkKeys.size()];
        if (writeKey(key)) {
            m_pressed = true;
            m_relayDeadline.arm(RELAY_SIM_MS, RELAY_HOST_FLOOR_MS);
            say(std::string("fixture> key ") + key + " (relay walk " +
                std::to_string(m_walkNext + 1) + ", " + c_RelayNames[relay] + ")");
        }
        return;
    }
    std::string expected(WALK_LENGTH, '0');
    expected[relay] = '1';
    if (m_relays == expected) {
        m_walkNotes[m_walkNext] = "closed alone";
        m_walkNext++;
        m_pressed = false;
    } else if (m_relayDeadline.passed()) {
        m_walkNotes[m_walkNext] = "did not close alone (relays " + m_relays + ")";
        m_walkFaulty = true;
    }
}

bool Fixture::relaysQuiet() {
    std::error_code ec;
    uintmax_t size = fs::file_size(rootedPath("/sim/relay-log"), ec);
    if (!ec && size != m_relayLogSize) {
        m_relayLogSize = size;
        m_relayLogGrew = true;
        m_relayLogSimMs = simNowMs();
        m_relayLogHostMs = hostNowMs();
        return false;
    }
    return m_relayLogGrew && simNowMs() - m_relayLogSimMs >= QUIET_SIM_MS &&
           (m_LockstepTime || hostNowMs() - m_relayLogHostMs >= QUIET_HOST_MS);
}

void Fixture::readRelays() {
    bool exists = false;
    std::string text = readSmallFile(rootedPath("/sim/relays"), &exists);
    text.resize(std::min(text.size(), text.find('\n')));
    if (text.size() < RELAY_COUNT) {
        return;
    }
    text.resize(RELAY_COUNT);
    if (text == m_relays) {
        return;
    }
    m_relays = text;
    std::array<char, RELAY_COUNT> contacts;
    std::copy(text.begin(), text.end(), contacts.begin());
    m_house.setRelays(contacts);
    say("relays " + text);
}

void Fixture::pass(int64_t now) {
    readConsole();
    m_house.advance(static_cast<double>(now - m_lastPassMs) / 1000.0, hourOfDay());
    m_lastPassMs = now;
    m_ioPage.poll();
    readRelays();
    m_coprocPty.flushIfUnread(STALE_BYTES);
    m_coproc->poll(now);
    walk();
    checkDeadlines();
}

size_t Fixture::inputForApplication() const {
    size_t keys = m_keys.unread();
    if (m_lockstep) {
        m_lockstep->setKeysWaiting(keys > 0);
    }
    return m_coprocPty.unreadBySlave() + m_consolePty.unreadBySlave() + keys;
}

// The fixture's work and the unit's passes in lock-step time: the unit runs
// at its own instants and whenever the fixture or the coprocessor sent it
// something; the fixture's own instants are the whole seconds (reports,
// deadlines) and the unit's.
void Fixture::runLockstep() {
    auto input = [this] { return inputForApplication(); };
    bool running = m_lockstep->runApplication(0, input);
    pass(0);
    while (m_phase != Phase::Done && g_EndSignal == 0) {
        int64_t now = m_lockstep->nowMs();
        if (!running) {
            // It ended: what it wrote is read, and the verdict follows.
            waitForChild(&m_child, CHILD_GRACE_MS, &m_exitStatus);
            readConsole();
            say("tstat-sim fixture: the application ended with status " +
                std::to_string(m_exitStatus));
            if (m_phase == Phase::ReadBack) {
                finishReadBack();
            } else if (m_phase == Phase::WaitReady || m_phase == Phase::WaitVerdict) {
                fail("the unit ended without a verdict");
            }
            m_phase = Phase::Done;
            break;
        }
        if (m_lockstep->applicationDue(inputForApplication(), false)) {
            running = m_lockstep->runApplication(0, input);
            pass(now);
            continue;
        }
        int64_t fixtureNext = (now / 1000 + 1) * 1000;
        int64_t next = std::min(m_lockstep->applicationWakeMs(), fixtureNext);
        m_lockstep->advanceTo(next);
        if (next == fixtureNext) {
            pass(next);
        }
    }
    m_lockstep->close();
}

void Fixture::checkDeadlines() {
    if (m_phase == Phase::Done || !m_deadline.passed()) {
        return;
    }
    if (m_phase == Phase::WaitExit) {
        say("tstat-sim fixture: the unit did not end; stopping it");
    } else if (m_phase == Phase::ReadBack) {
        finishReadBack();
        return;
    } else {
        fail("no verdict from the unit in time");
        say("tstat-sim fixture: no answer from the unit; stopping it");
    }
    stopApplication();
    m_phase = Phase::Done;
}

bool Fixture::report() {
    say("tstat-sim fixture: report");
    bool passed = true;
    for (size_t i = 0; i < STEP_COUNT; i++) {
        const StepRecord &r = m_records[i];
        const char *outcome = r.outcome == Outcome::Pass   ? "PASS"
                              : r.outcome == Outcome::Fail ? "FAIL"
                                                           : "NOT RUN";
        passed = passed && r.outcome == Outcome::Pass;
        std::string text = r.verdict;
        if (!r.note.empty()) {
            text += text.empty() ? r.note : " (" + r.note + ")";
        }
        char line[512];
        snprintf(line, sizeof(line), "  %zu %-24s %-8s %s", i + 1, c_Steps[i].name, outcome,
                 text.c_str());
        printf("%s\n", line);
        if (i == STEP_IO && r.outcome != Outcome::NotRun) {
            for (size_t k = 0; k < WALK_LENGTH; k++) {
                const std::string &note =
                    m_walkNotes[k].empty()
                        ? std::string(static_cast<int>(k) < m_options.presses ? "not seen"
                                                                              : "not pressed")
                        : m_walkNotes[k];
                printf("      relay %zu %-5s %s\n", FIRST_WALK_RELAY + k, c_RelayNames[c_Walk[k]],
                       note.c_str());
            }
        }
    }
    printf("  application exit status %d\n", m_exitStatus);
    passed = passed && m_exitStatus == 0;
    printf("%s\n", passed ? "UNIT PASSED" : "UNIT FAILED");
    fflush(stdout);
    return passed;
}

int Fixture::run() {
    if (!setUp() || !startApplication()) {
        report();
        return 1;
    }
    catchEndSignals();

    m_lastPassMs = simNowMs();
    m_house.advance(0.0, hourOfDay());
    if (m_lockstep) {
        runLockstep();
    }
    int64_t waitNs =
        std::min(PASS_WAIT_MAX_NS, static_cast<int64_t>(PASS_SIM_MS * 1e6 / platformTimeScale()));
    const struct timespec passWait = {static_cast<time_t>(waitNs / 1000000000),
                                      static_cast<long>(waitNs % 1000000000)};
    while (m_phase != Phase::Done && g_EndSignal == 0) {
        struct pollfd fd = {m_console->get(), POLLIN, 0};
        ppoll(&fd, 1, &passWait, nullptr);
        pass(simNowMs());
        pollApplication();
    }
    if (g_EndSignal != 0) {
        say("tstat-sim fixture: interrupted");
        fail("the fixture was interrupted");
    }
    stopApplication();
    return report() ? 0 : 1;
}

// A serial number for a unit: "TS", the simulated date (YYMMDD) and six
// digits of the time of day and the process, 14 characters.
std::string generateSerialNumber() {
    time_t now = static_cast<time_t>(util_time(nullptr));
    struct tm local {};
    localtime_r(&now, &local);
    long daySeconds = local.tm_hour * 3600L + local.tm_min * 60L + local.tm_sec;
    long unique = (daySeconds * 11 + static_cast<long>(getpid())) % 1000000;
    char text[32];
    snprintf(text, sizeof(text), "TS%02d%02d%02d%06ld", local.tm_year % 100, local.tm_mon + 1,
             local.tm_mday, unique);
    return text;
}

} // namespace

bool printableSerial(const std::string &serial) {
    return serial.size() == SERIAL_LEN &&
           std::all_of(serial.begin(), serial.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

int runFixture(const FixtureOptions &options) {
    if (!options.sim.root.empty()) {
        setenv("TSTAT_ROOT", options.sim.root.c_str(), 1);
    }
    shareTimeAnchor();
    Fixture fixture(options);
    return fixture.run();
}

} // namespace sim
