// Control-bus command strings: the tokeniser, the command table and its
// handlers, the replies (coprocessor packet 0x0C) and the version answer
// (packet 0x18), and the reports sent when the thermostat's state changes.
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

// The next blank-delimited token of text (blanks are spaces only), with its
// ending blank overwritten by a terminator; *rest (when given) is set to the
// text after it. nullptr when only blanks remain.
char *korabusDataTokenizeCommand(char *text, char **rest);
// The text after descriptor when token begins with it, else nullptr.
char *korabusDataTokenDescValue(char *token, const char *descriptor);

// A decimal number of a command: an optional sign and digits, nothing else,
// within the 32-bit range. False, with *value untouched, for anything else
// (no digits, other characters, too large), which the command refuses.
bool korabusNumber(const char *text, int32_t *value);

// Condition code of a forecast keyword ("SUN" 24 ...); 26 ("UNK") for
// anything not in the table.
uint32_t convertConditionStringToEnum(const char *keyword);

// Forgets the screen-saver marker of the backlight command. For tests.
void korabusCommandReset();
