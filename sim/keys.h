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

// Writes a press of the named key to the FIFO, holds it for holdSeconds of
// simulated time, then writes the release. Returns 0, or 1 with a message
// on standard error (unknown key, nobody reading the FIFO, write failure).
int pressKey(const std::string &name, double holdSeconds);

} // namespace sim
