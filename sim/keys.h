// Key records for the application's key FIFO: 16 bytes each, little-endian:
// 8 bytes of time (ignored), u16 type (1, a key), u16 code, s32 value
// (1 pressed, 0 released, 2 auto-repeat).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace sim {

constexpr uint16_t KEY_EVENT_TYPE = 1;
constexpr size_t KEY_RECORD_SIZE = 16;

// The code of a key name ("up", "down", "mode", "exit"), or 0 when unknown.
uint16_t keyCode(const std::string &name);

std::array<uint8_t, KEY_RECORD_SIZE> keyRecord(uint16_t code, int32_t value, int64_t seconds,
                                               int32_t microseconds);

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
    size_t unread() const;

  private:
    int m_fd = -1;
};

// Writes a press of the named key to the FIFO, holds it for holdSeconds of
// simulated time, then writes the release. Returns 0, or 1 with a message
// on standard error (unknown key, nobody reading the FIFO, write failure).
int pressKey(const std::string &name, double holdSeconds);

} // namespace sim
