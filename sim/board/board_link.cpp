// The simulator's attachment to a board that runs the board flavour: serial
// devices, the emulator's machine protocol and the shared I/O page.
#include "board/board_link.h"

#include "board/board.h"
#include "platform/platform.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

// Host milliseconds between two screen dumps of a board in an emulator.
constexpr int64_t SCREEN_PERIOD_MS = 1000;
// How long the emulator may take to answer a command (a screen dump of a
// busy guest takes a while under emulation).
constexpr int QMP_ANSWER_MS = 10000;

// The board's PIO controller C in the system-controller page, and the
// registers the application writes (the board reads nothing back from them).
constexpr uint32_t PIOC_BASE = 0x800;
// In the order they are taken: a pulse that ends and the next that starts
// in one refresh of the relays are seen in that order.
constexpr std::array<uint32_t, 10> c_WriteOnlyRegisters = {
    0x00, // enable
    0x04, // disable
    0x10, // output enable
    0x14, // output disable
    0x20, // glitch filter enable
    0x24, // glitch filter disable
    0x60, // pull-up disable
    0x64, // pull-up enable
    0x34, // clear output data: a coil pulse ends
    0x30, // set output data: a coil pulse starts
};
constexpr uint32_t PIO_ENABLE = 0x00;
constexpr uint32_t PIO_OUTPUT_ENABLE = 0x10;
constexpr uint32_t TEST_PIN = 1u << 31;
// How often the status registers are filled in again (the pin data reads
// sim/test-pin).
constexpr auto STATUS_PERIOD = std::chrono::milliseconds(50);
// Registers the application reads: PIO, output and output-data status, and
// the pin data (coil lines and the manufacturing-test pin).
constexpr std::array<uint32_t, 4> c_StatusRegisters = {0x08, 0x18, 0x38, 0x3C};

// The board's keys as the emulated board's keyboard sends them (its kernel
// maps these keys to the board's key codes).
const char *qcodeOf(uint16_t code) {
    switch (code) {
    case 0x100:
        return "down";
    case 0x101:
        return "ret";
    case 0x102:
        return "up";
    case 0x103:
        return "esc";
    default:
        return nullptr;
    }
}

} // namespace

int openSerialDevice(const std::string &path, std::string *error) {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = "cannot open " + path + ": " + strerror(errno);
        return -1;
    }
    struct termios tio {};
    if (tcgetattr(fd, &tio) != 0) {
        *error = path + " is not a serial device: " + strerror(errno);
        close(fd);
        return -1;
    }
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        *error = "cannot set " + path + " raw at 115200 baud: " + strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

bool QmpClient::connect(const std::string &socketPath, std::string *error) {
    FileDescriptor fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    struct sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof(addr.sun_path)) {
        *error = "the QMP socket's path is too long: " + socketPath;
        return false;
    }
    memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (fd.get() < 0 ||
        ::connect(fd.get(), reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) != 0) {
        *error = "cannot connect to " + socketPath + ": " + strerror(errno);
        return false;
    }
    m_fd = std::move(fd);
    m_pending.clear();
    std::string greeting;
    if (!readLine(&greeting, QMP_ANSWER_MS) ||
        !nlohmann::json::parse(greeting, nullptr, false).contains("QMP")) {
        *error = socketPath + " does not speak QMP";
        m_fd.reset();
        return false;
    }
    if (!execute(R"({"execute":"qmp_capabilities"})", error)) {
        m_fd.reset();
        return false;
    }
    return true;
}

bool QmpClient::key(uint16_t code, bool down, std::string *error) {
    const char *qcode = qcodeOf(code);
    if (qcode == nullptr) {
        *error = "no such key";
        return false;
    }
    nlohmann::json event = {
        {"type", "key"}, {"data", {{"down", down}, {"key", {{"type", "qcode"}, {"data", qcode}}}}}};
    nlohmann::json command = {{"execute", "input-send-event"},
                              {"arguments", {{"events", nlohmann::json::array({event})}}}};
    return execute(command.dump(), error);
}

bool QmpClient::screendump(const std::string &pngPath, std::string *error) {
    nlohmann::json command = {{"execute", "screendump"},
                              {"arguments", {{"filename", pngPath}, {"format", "png"}}}};
    return execute(command.dump(), error);
}

bool QmpClient::resume(std::string *error) {
    return execute(R"({"execute":"cont"})", error);
}

bool QmpClient::execute(const std::string &command, std::string *error) {
    if (m_fd.get() < 0) {
        *error = "not connected to the emulator";
        return false;
    }
    std::string line = command + "\n";
    if (send(m_fd.get(), line.data(), line.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(line.size())) {
        *error = std::string("the emulator's socket: ") + strerror(errno);
        m_fd.reset();
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(QMP_ANSWER_MS);
    for (;;) {
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        std::string answer;
        if (left <= 0 || !readLine(&answer, left)) {
            *error = "the emulator did not answer";
            return false;
        }
        nlohmann::json reply = nlohmann::json::parse(answer, nullptr, false);
        if (reply.contains("return")) {
            return true;
        }
        if (reply.contains("error")) {
            *error = reply["error"].value("desc", std::string("refused"));
            return false;
        }
    }
}

bool QmpClient::readLine(std::string *line, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t end = m_pending.find('\n');
        if (end != std::string::npos) {
            *line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            return true;
        }
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        struct pollfd p = {m_fd.get(), POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0) {
            return false;
        }
        char buf[4096];
        ssize_t got = read(m_fd.get(), buf, sizeof(buf));
        if (got <= 0) {
            m_fd.reset();
            return false;
        }
        m_pending.append(buf, static_cast<size_t>(got));
    }
}

IoPageMirror::~IoPageMirror() {
    if (m_page != nullptr) {
        munmap(const_cast<uint32_t *>(m_page), PLATFORM_IO_PAGE_SIZE);
    }
}

bool IoPageMirror::open(const std::string &memoryFile, uint64_t offset, std::string *error) {
    FileDescriptor fd(::open(memoryFile.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
    if (fd.get() < 0) {
        *error = "cannot open " + memoryFile + ": " + strerror(errno);
        return false;
    }
    void *page = mmap(nullptr, PLATFORM_IO_PAGE_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(),
                      static_cast<off_t>(offset));
    if (page == MAP_FAILED) {
        *error = "cannot map " + memoryFile + ": " + strerror(errno);
        return false;
    }
    if (platformIoMap() != PLATFORM_IO_OK) {
        munmap(page, PLATFORM_IO_PAGE_SIZE);
        *error = "the simulated I/O controller did not start";
        return false;
    }
    m_page = static_cast<volatile uint32_t *>(page);
    // The application sets its pins up with a burst of single-bit writes to
    // the same registers, of which shared memory keeps only the last: the
    // pins are taken as set up as the relay driver sets them (PIO lines,
    // outputs but for the test pin), and the pulses are followed from there.
    platformIoWrite(PIOC_BASE + PIO_ENABLE, ~0u);
    platformIoWrite(PIOC_BASE + PIO_OUTPUT_ENABLE, ~TEST_PIN);
    poll();
    return true;
}

void IoPageMirror::poll() {
    if (m_page == nullptr) {
        return;
    }
    for (uint32_t reg : c_WriteOnlyRegisters) {
        // Taken and cleared at once, so that a write the guest makes
        // meanwhile is not lost.
        uint32_t value = __atomic_exchange_n(const_cast<uint32_t *>(&m_page[(PIOC_BASE + reg) / 4]),
                                             0u, __ATOMIC_SEQ_CST);
        if (value != 0) {
            platformIoWrite(PIOC_BASE + reg, value);
        }
    }
    auto now = std::chrono::steady_clock::now();
    if (now < m_nextStatus) {
        return;
    }
    m_nextStatus = now + STATUS_PERIOD;
    for (uint32_t reg : c_StatusRegisters) {
        m_page[(PIOC_BASE + reg) / 4] = platformIoRead(PIOC_BASE + reg);
    }
}

bool AttachedBoard::attach(const std::string &serial, const std::string &qmp,
                           const std::string &ioPageFile, uint64_t ioPageOffset,
                           const std::string &console, int *linkFd, std::string *error) {
    if ((!qmp.empty() && !m_qmp.connect(qmp, error)) ||
        (!ioPageFile.empty() && !m_ioPage.open(ioPageFile, ioPageOffset, error)) ||
        (!console.empty() && !m_console.open(console, error))) {
        return false;
    }
    *linkFd = openSerialDevice(serial, error);
    if (*linkFd < 0) {
        return false;
    }
    m_description =
        "coprocessor on " + serial +
        (m_qmp.connected() ? ", keys and screen through " + qmp : std::string()) +
        (m_ioPage.opened() ? ", relays and test pin through " + ioPageFile : std::string());
    return true;
}

void AttachedBoard::poll(int64_t hostNowMs) {
    m_ioPage.poll();
    m_console.poll(m_say);
    dumpScreen(hostNowMs, false);
}

void AttachedBoard::dumpScreen(int64_t hostNowMs, bool now) {
    if (!m_qmp.connected() || (!now && hostNowMs < m_nextScreenMs)) {
        return;
    }
    m_nextScreenMs = hostNowMs + SCREEN_PERIOD_MS;
    // The emulator writes the file; it is put in place whole.
    std::string screen = rootedPath("/sim/screen.png");
    std::string aside = screen + ".dump";
    unlink(aside.c_str());
    std::string error;
    if (m_qmp.screendump(aside, &error) && rename(aside.c_str(), screen.c_str()) != 0) {
        error = strerror(errno);
    }
    if (!error.empty() && !m_screenFailNoted) {
        m_say("tstat-sim: no screen from the emulated board: " + error);
        m_screenFailNoted = true;
    }
}

} // namespace sim

namespace sim {

bool BoardConsole::open(const std::string &path, std::string *error) {
    struct stat st {};
    int fd = stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)
                 ? openSerialDevice(path, error)
                 : ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = error->empty() ? "cannot read " + path + ": " + strerror(errno) : *error;
        return false;
    }
    m_fd = FileDescriptor(fd);
    return true;
}

void BoardConsole::poll(const Say &say) {
    char buf[4096];
    ssize_t got;
    while (m_fd.get() >= 0 && (got = read(m_fd.get(), buf, sizeof(buf))) > 0) {
        m_partial.append(buf, static_cast<size_t>(got));
        // Lines end with the terminal's "\r\n"; a carriage return anywhere
        // else stays in the line, which then is no line of the installer.
        size_t end;
        while ((end = m_partial.find('\n')) != std::string::npos) {
            size_t cut = end > 0 && m_partial[end - 1] == '\r' ? end - 1 : end;
            line(m_partial.substr(0, cut), say);
            m_partial.erase(0, end + 1);
        }
        if (m_partial.size() > 4096) {
            m_partial.clear();
        }
    }
}

void BoardConsole::line(const std::string &text, const Say &say) {
    int page = -1;
    int popUp = 0;
    if (sscanf(text.c_str(), "page shown: %d %d", &page, &popUp) == 2 && page >= 0) {
        m_page = page;
        m_popUp = popUp == 1;
        return;
    }
    // The installer's own lines: its name from the line's start, and no
    // control character (it escapes every one it would print).
    const std::string prefix = "tstat-update: ";
    if (text.rfind(prefix, 0) != 0 || std::any_of(text.begin(), text.end(), [](char c) {
            return static_cast<unsigned char>(c) < ' ';
        })) {
        return;
    }
    std::string l = text.substr(prefix.size());
    say("board: " + text);
    std::smatch m;
    if (std::regex_search(l, m, std::regex("^running version (\\S+) \\(slot ([ab])\\)"))) {
        m_version = m[1];
        m_slot = m[2].str()[0];
        m_trial = l.find(" on trial") != std::string::npos;
        return;
    }
    if (std::regex_search(l, m, std::regex("^version (\\S+) installed in slot ([ab])"))) {
        m_version = m[1];
        m_slot = m[2].str()[0];
        m_trial = true;
    } else if (std::regex_search(
                   l, m, std::regex("; back to version (\\S+) (in slot |\\(slot )([ab])"))) {
        m_version = m[1];
        m_slot = m[3].str()[0];
        m_trial = false;
    } else if (std::regex_search(l, std::regex("^version \\S+ is good"))) {
        m_trial = false;
    } else if (l.rfind("update refused", 0) != 0 && l.rfind("update failed", 0) != 0) {
        return;
    }
    m_verdict = l;
}

std::string BoardConsole::software() const {
    if (m_version.empty()) {
        return "";
    }
    return m_version + " (slot " + std::string(1, m_slot) + (m_trial ? ", on trial)" : ")");
}

} // namespace sim
