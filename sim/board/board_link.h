// What the simulator needs to play the world around a board that runs the
// board flavour itself, the emulated one in qemu-system-arm or a real one:
// a serial device for the coprocessor's link or the fixture, the machine
// protocol (QMP) of the emulator for the keys and the screen, and the board's
// I/O page, shared with the emulator, for the relay coils and the test pin.
#pragma once

#include "board/board.h"
#include "host/file_descriptor.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace sim {

// Opens a serial device (a tty, a USB serial adapter, the pseudo-terminal
// that qemu gives a guest's port) raw at 115200 baud, non-blocking. -1 with
// the reason in *error.
int openSerialDevice(const std::string &path, std::string *error);

// A client of qemu's machine protocol on a Unix socket.
class QmpClient {
  public:
    // Connects and leaves the greeting's negotiation done.
    bool connect(const std::string &socketPath, std::string *error);
    bool connected() const { return m_fd.get() >= 0; }
    // A press (down) or release of one of the board's keys (0x100 down,
    // 0x101 mode, 0x102 up, 0x103 the fourth key), as the emulated board's
    // keyboard sends it.
    bool key(uint16_t code, bool down, std::string *error);
    // The frame on the board's display, written to a PNG file.
    bool screendump(const std::string &pngPath, std::string *error);
    // Lets an emulator that was started with its processor stopped run.
    bool resume(std::string *error);

  private:
    // Sends one command and waits for its answer; events on the way are
    // dropped.
    bool execute(const std::string &command, std::string *error);
    bool readLine(std::string *line, int timeoutMs);

    FileDescriptor m_fd;
    std::string m_pending;
};

// The board's system-controller page (physical 0xFFFFF000) as the emulator's
// guest memory, shared with this process. The board's PIO controller has
// write-only registers: what the guest writes there is taken (and cleared)
// here and handed to the simulated controller of the platform layer, which
// latches the relays and writes sim/relays and sim/relay-log as the host
// flavour does; the pin-data register is kept filled in for the guest to read.
// Memory keeps only the last of writes in quick succession, so the pins'
// set-up at start is taken as the relay driver makes it, and the coil
// pulses (500 ms each, one relay at a time) are followed write by write.
class IoPageMirror {
  public:
    IoPageMirror() = default;
    ~IoPageMirror();
    IoPageMirror(const IoPageMirror &) = delete;
    IoPageMirror &operator=(const IoPageMirror &) = delete;

    // How late a write is seen at most: the simulator polls the page at
    // least this often (its passes wait at most 10 ms).
    static constexpr int64_t SAMPLING_MS = 20;

    // Maps the page at byte `offset` of the emulator's memory file.
    bool open(const std::string &memoryFile, uint64_t offset, std::string *error);
    bool opened() const { return m_page != nullptr; }
    // Takes the guest's writes since the last call. Called often enough that
    // no register is written twice between two calls (a coil pulse lasts
    // 500 ms).
    void poll();

  private:
    volatile uint32_t *m_page = nullptr;
    std::chrono::steady_clock::time_point m_nextStatus{};
};

// The board's console (the file the emulator logs it to, or its serial
// device): the lines of its installer of update bundles (tstat-update),
// those that begin with its name and hold no control character, are said as
// they come, and what they tell is kept for the dashboard: the
// version the board runs, from its MANIFEST, and the last update's verdict;
// and the page its application says it shows.
class BoardConsole {
  public:
    bool open(const std::string &path, std::string *error);
    bool opened() const { return m_fd.get() >= 0; }
    // Reads what has arrived.
    void poll(const Say &say);
    // One line of the console.
    void line(const std::string &text, const Say &say);
    // "2.0 (slot b, on trial)"; "" until the installer has said.
    std::string software() const;
    const std::string &verdict() const { return m_verdict; }
    // The page the board's application says it shows; false until it has.
    bool page(int *page, bool *popUp) const {
        *page = m_page;
        *popUp = m_popUp;
        return m_page >= 0;
    }

  private:
    FileDescriptor m_fd;
    std::string m_partial;
    std::string m_version;
    char m_slot = '?';
    bool m_trial = false;
    std::string m_verdict;
    int m_page = -1;
    bool m_popUp = false;
};

// The board the simulator plays the world around (tstat-sim coproc
// --coproc-line): the coprocessor's line on its serial device, its keys and
// screen through the emulator's QMP socket, its relays and test pin through
// the I/O page. The screen is dumped into sim/screen.png once a host second.
class AttachedBoard {
  public:
    // say tells when the screen cannot be had (once).
    explicit AttachedBoard(Say say) : m_say(std::move(say)) {}

    // Attaches to what is named (an empty name: not that part); the serial
    // device's descriptor goes to *linkFd. False with the reason.
    bool attach(const std::string &serial, const std::string &qmp, const std::string &ioPageFile,
                uint64_t ioPageOffset, const std::string &console, int *linkFd, std::string *error);
    // What was attached, in words.
    const std::string &description() const { return m_description; }
    // The board's keys, when they go through the emulator (null: they do not).
    QmpClient *keys() { return m_qmp.connected() ? &m_qmp : nullptr; }
    // The board's console, when it is followed (null: it is not).
    const BoardConsole *console() const { return m_console.opened() ? &m_console : nullptr; }
    // Lets an emulated board that waits for everything to be attached run.
    bool resume(std::string *error) { return !m_qmp.connected() || m_qmp.resume(error); }
    // How late the relay log may see a relay move (IoPageMirror::SAMPLING_MS),
    // 0 when the relays are not followed through the I/O page.
    int64_t relaySamplingMs() const { return m_ioPage.opened() ? IoPageMirror::SAMPLING_MS : 0; }
    // Takes the guest's writes to the I/O page and the console's lines, and
    // dumps the screen when it is due.
    void poll(int64_t hostNowMs);
    // Dumps the screen of this moment.
    void dumpScreenNow(int64_t hostNowMs) { dumpScreen(hostNowMs, true); }

  private:
    void dumpScreen(int64_t hostNowMs, bool now);

    Say m_say;
    QmpClient m_qmp;
    IoPageMirror m_ioPage;
    BoardConsole m_console;
    std::string m_description;
    int64_t m_nextScreenMs = 0;
    bool m_screenFailNoted = false;
};

} // namespace sim
