// Key presses for the application's key FIFO, in the key device's records
// (platform/platform_display.h), stamped with the simulated wall time.
#pragma once

#include "platform/platform_display.h"

#include <array>
#include <cstdint>
#include <string>

namespace sim {

// The code of a key name ("up", "down", "mode", "exit"), or 0 when unknown.
uint16_t keyCode(const std::string &name);

// The record of a key event now.
std::array<uint8_t, PLATFORM_KEY_EVENT_SIZE> keyRecord(uint16_t code, int32_t value);

// The simulator's own writer of key events, for the console's key presses:
// it keeps the FIFO open (read-write, so that it never lacks a reader) and
// tells how much the application has not read yet.
class KeyWriter {
  public:
    KeyWriter() = default;
    ~KeyWriter();
    KeyWriter(const KeyWriter &) = delete;
    KeyWriter &operator=(const KeyWriter &) = delete;

    bool open(std::string *error);
    bool press(uint16_t code);
    bool release(uint16_t code);
    // What the application has not read yet of the FIFO, this writer's
    // records and others' alike: others tell of theirs with noteWritten().
    size_t unread() const;
    void noteWritten() { m_maybeUnread = true; }

  private:
    int m_fd = -1;
    // Written to since the FIFO was last found read to the end.
    mutable bool m_maybeUnread = false;
};

// Writes a press of the named key to the FIFO, holds it for holdSeconds of
// simulated time, then writes the release. Returns 0, or 1 with a message
// on standard error (unknown key, nobody reading the FIFO, write failure).
int pressKey(const std::string &name, double holdSeconds);

} // namespace sim
