// Control-bus channels, levels and command strings: the entry points through
// which the coprocessor messages hand the bus controller's traffic over.
#pragma once

#include <cstdint>

// A channel change from the bus controller (coprocessor packet 0x01).
void korabusDataUpdateChannelFromKorabus(uint8_t channel, uint8_t state);
// A level change from the bus controller (coprocessor packet 0x02).
void korabusDataUpdateLevelFromKorabus(uint8_t level, uint32_t value);
// A string from the coprocessor (packet 0x09), NUL-terminated.
void korabusDataProcessString(char *text);
// A command string from the bus controller (packet 0x0B), NUL-terminated; it
// is cut into tokens in place.
void korabusDataProcessCommand(char *command);

// One pass over the channels and levels: sends those that changed.
void korabusDataPoll();
