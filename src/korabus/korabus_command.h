// Control-bus command strings: the command table and its handlers, the
// replies (coprocessor packet 0x0C) and the version answer (packet 0x18), and the reports sent when
// the thermostat's state changes.
//
// A command is a keyword and blank-separated argument tokens, at most 64
// characters, cut into tokens in place. A token such as "H72" carries a
// descriptor ("H") and a value ("72"). Commands that do not parse, or whose
// values are out of range, are dropped whole: nothing changes and nothing is
// answered.
#pragma once

#include <cstddef>
#include <cstdint>

// Replies are built in one buffer of this size, terminator included.
constexpr size_t KORABUS_REPLY_SIZE = 65;

// Sends the thermostat-mode report ("MD ...") to the building controller;
// called by the configuration save whenever the mode changed since the last save.
void korabusReportModeCommand();
// Sends the format report ("FM SF" or "FM SC"); called when the user changes
// the temperature unit.
void korabusReportFormatCommand();
// Tells the controller that the user dismissed its message ("MESSAGE CLEAR").
void korabusMessageScreenClearCommand();
// Sends the version string ("bus version/application version") to the coprocessor.
void korabusCommandGetVersion();

// Condition code of a forecast keyword ("SUN" 24 ...); 26 ("UNK") for
// anything not in the table.
uint32_t convertConditionStringToEnum(const char *keyword);

// Forgets the screen-saver marker of the backlight command. For tests.
void korabusCommandReset();
