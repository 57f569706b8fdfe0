// Decoding of the packets the thermostat sends, for the console, and the
// escaping of texts in both directions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// One line describing a valid frame from the thermostat (type, length,
// payload, CRC), for example: channel 214 1 (fan on) [0x13].
std::string decodeFrame(const uint8_t *frame, size_t length);

// True for the periodic requests 0x05, 0x07, 0x0D and 0x15.
bool isPeriodicRequest(uint8_t type);

// Printable form of bytes: printable ASCII as it is, backslash, double quote
// and everything else escaped (\r, \n, \t, \\, \", \xNN).
std::string escapeText(const uint8_t *bytes, size_t length);
std::string escapeText(const std::string &text);
// The reverse, for texts typed on the console. Returns false for a bad escape.
bool unescapeText(const std::string &text, std::string *out);
// Hexadecimal bytes such as "C0 01 02" or "c00102". Returns false on bad input.
bool parseHex(const std::string &text, std::vector<uint8_t> *out);
std::string hexBytes(const uint8_t *bytes, size_t length);

// Names of channels and levels for the console.
const char *channelName(unsigned channel);
const char *levelName(unsigned level);

} // namespace sim
