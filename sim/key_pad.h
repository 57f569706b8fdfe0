// The board's four keys, the one way in for every source of presses: the
// console's and the script's `key` command, the dashboard's buttons, the
// production-line fixture's relay walk and `tstat-sim key`.
//
// A press is written at once and its release when its time comes on the
// simulated clock: a timed press holdMs later, a key held until released (a
// button held down on the dashboard) once it is let go, TAP_MS after its
// press at the earliest. A key pressed again while it is down follows in
// turn, TAP_MS after its release. On a run faster than real time a press of
// the simulator's own key pad holds simulated time to real time: it is
// written once time scale 1 is in force, and the scale before comes back once
// no key is down and no menu (a page other than the main page, or a pop-up,
// whose time-out runs in simulated time) is shown.
//
// The records go to the application's key FIFO in the key device's format
// (platform/platform_display.h), stamped with the simulated wall time, or to
// a board in an emulator through its machine protocol.
#pragma once

#include "board/board.h"
#include "host/file_descriptor.h"
#include "platform/platform_display.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace sim {

class QmpClient;

// The code of a key name ("up", "down", "mode", "exit"), or 0 when unknown.
uint16_t keyCode(const std::string &name);

// The record of a key event now.
std::array<uint8_t, PLATFORM_KEY_EVENT_SIZE> keyRecord(uint16_t code, int32_t value);

class KeyPad {
  public:
    // How the FIFO is opened: kept open read-write by the simulator, so that
    // it never lacks a reader and presses wait for an application that
    // opens it later; or write-only, where nobody reading it is an error
    // (`tstat-sim key`, and the fixture, whose unit opens its keys when the
    // relay walk starts).
    enum class Fifo { Kept, ReaderRequired };
    // Simulated milliseconds a tap is held, and between the release of a key
    // and a press of it that waited its turn.
    static constexpr int64_t TAP_MS = 100;
    // The hold of a key held until released.
    static constexpr int64_t HELD = -1;
    // Host milliseconds after which a key held until released is released
    // anyway (the page that held it is gone).
    static constexpr int64_t HOLD_LIMIT_MS = 60000;
    // Host milliseconds real time goes on after the last key's release, for
    // the page it opened to be seen.
    static constexpr int64_t REAL_TIME_AFTER_MS = 1000;

    explicit KeyPad(Fifo fifo = Fifo::Kept) : m_fifo(fifo) {}
    KeyPad(const KeyPad &) = delete;
    KeyPad &operator=(const KeyPad &) = delete;

    // Opens the FIFO now (otherwise it is opened at the first record). False
    // with the reason.
    bool open(std::string *error);
    // Closes the FIFO; the next record opens it again.
    void close() { m_fd.reset(); }
    // Presses go to a board in an emulator instead of the FIFO.
    void useBoard(QmpClient *board) { m_board = board; }
    // Whether a record can be written now: the FIFO is open or a board
    // attached.
    bool ready() const { return m_board != nullptr || m_fd.get() >= 0; }
    // Where the key pad says that simulated time follows real time.
    void setSay(Say say) { m_say = std::move(say); }
    // A run in lock-step time: simulated time never follows the host's.
    void setLockstep(bool on) { m_lockstep = on; }

    // A press of the key now, released holdMs of simulated time later, or
    // held until release() with HELD. False when it cannot be written.
    bool press(uint16_t code, int64_t holdMs);
    // Lets go of a key held until released; a held press still waiting its
    // turn becomes a tap.
    void release(uint16_t code);
    // Whether the key is held until released, not let go, and no press of it
    // waits behind (a keyboard's repeat of it changes nothing).
    bool held(uint16_t code) const;

    // Simulated time is simNowMs: the releases and the waiting presses that
    // are due are written. False when one of them could not be.
    bool poll(int64_t simNowMs);
    // The simulated time of the next record due, INT64_MAX when none: a run
    // in lock-step time stops there.
    int64_t nextEventMs() const;
    // What the application has not read yet of the FIFO.
    size_t unread() const;
    // The time scale chosen on a run on the scaled clock: set now, or, while
    // a held key holds simulated time to real time, once no key is held;
    // Busy while a change is under way.
    enum class ScaleChange { Now, AfterHold, Busy };
    ScaleChange chooseTimeScale(double scale);

    // Whether a page other than the main page, or a pop-up, is shown now.
    void setMenuShown(bool shown);
    // Why simulated time follows real time now ("": it does not), and the
    // scale it goes back to.
    std::string realTimeReason() const;
    double restoreScale() const { return m_restoreScale; }

    // Whether records were written since the last call.
    bool takeWritten() {
        bool written = m_written;
        m_written = false;
        return written;
    }

  private:
    struct Key {
        uint16_t code = 0;
        bool down = false;       // its press is written
        bool waiting = false;    // held until released, its press waits for real time
        bool held = false;       // held until released, not timed
        bool releaseDue = false; // its release is timed: releaseAtMs
        int64_t holdMs = TAP_MS;
        int64_t pressedMs = 0;
        int64_t pressedHostMs = 0;
        int64_t releaseAtMs = 0;
        int64_t nextPressMs = 0;
        std::deque<int64_t> queued; // presses to come: their holds
    };
    Key &key(uint16_t code);
    bool startPress(Key &k, int64_t holdMs);
    bool pressNow(Key &k);
    bool releaseDueKeys();
    bool holding();
    bool followsRealTime();
    void followRealTime();
    bool write(uint16_t code, bool down);

    Fifo m_fifo;
    FileDescriptor m_fd;
    QmpClient *m_board = nullptr;
    Say m_say;
    bool m_lockstep = false;
    std::vector<Key> m_keys;
    int64_t m_nowMs = 0;
    int64_t m_hostNowMs = 0;
    bool m_written = false;
    // Written to since the FIFO was last found read to the end.
    mutable bool m_maybeUnread = false;
    // The scale to go back to once no key is held (0: none), and whether
    // that change is under way.
    double m_restoreScale = 0.0;
    bool m_restoring = false;
    bool m_menuShown = false;
    int64_t m_lastHoldingHostMs = 0;
};

// `tstat-sim key`: a press of the named key, held holdSeconds of simulated
// time, then its release. Returns 0, or 1 with a message on standard error
// (unknown key, nobody reading the FIFO, write failure).
int pressKey(const std::string &name, double holdSeconds);

} // namespace sim
