// What the command groups of the control bus share: the reply buffer and
// its senders, the token readers, the range checks and every handler of the
// command table (one table, korabus_command.cpp; the handlers live in the
// file of their group).
#pragma once

#include "core/fixed_point.h"
#include "korabus/korabus_command.h"
#include "korabus/korabus_data.h"

#include <array>
#include <cstddef>
#include <cstdint>

// The reply buffer every answer is built in.
extern char g_commandBuf[KORABUS_REPLY_SIZE];

// Most tokens a command of at most 64 characters can carry.
constexpr size_t c_MaxTokens = 33;

// Sends the reply buffer as it stands.
void korabusSendReply();
// Formats the reply into the reply buffer (cut to its size) and sends it.
void korabusReply(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Splits text into at most max tokens; the rest of the text is ignored.
size_t korabusSplitTokens(char *text, char **tokens, size_t max);

// The first descriptor of the list that the token begins with: its index,
// with *value the text after it; -1 for none.
template <size_t N>
int korabusMatchDescriptor(char *token, const std::array<const char *, N> &descriptors,
                           char **value) {
    for (size_t i = 0; i < N; i++) {
        char *v = korabusDataTokenDescValue(token, descriptors[i]);
        if (v != nullptr) {
            *value = v;
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Reads tokens of the form descriptor-number in any order: values[i] and
// given[i] for descriptor i. False when a token has another descriptor.
template <size_t N>
bool korabusReadNumberFields(char *args, const std::array<const char *, N> &descriptors,
                             int32_t (&values)[N], bool (&given)[N]) {
    char *tokens[c_MaxTokens];
    size_t n = korabusSplitTokens(args, tokens, c_MaxTokens);
    for (size_t i = 0; i < n; i++) {
        char *value = nullptr;
        int which = korabusMatchDescriptor(tokens[i], descriptors, &value);
        if (which < 0) {
            return false;
        }
        if (!korabusNumber(value, &values[which])) {
            return false;
        }
        given[which] = true;
    }
    return true;
}

bool korabusInRange(int32_t value, int32_t lo, int32_t hi);
// A humidity outside 0-100 % is refused: stored, it would make the next
// start take the whole record for damaged.
bool korabusIsPercent(int32_t value);
// The value held within the 16-bit range.
int16_t korabusToInt16(int32_t value);
// Whole units of a fixed-point value, cut towards zero.
int korabusIntegerPart(fpr_t value);
// Heat and cool setpoints in whole display degrees, as °C. The store's write
// rule settles them: each is held within the setpoint limits and the other
// is pushed to keep the deadband.
void korabusReadSetPoints(int32_t heatDegrees, int32_t coolDegrees, fpr_t *heat, fpr_t *cool);

// Clock and weather.
void korabusCommandClock(char *args);
void korabusCommandForecastHigh(char *args);
void korabusCommandForecastLow(char *args);
void korabusCommandForecastKeywords(char *args);
void korabusCommandCurrentForecast(char *args);
void korabusCommandSetPressure(char *args);
// Set points and modes.
void korabusCommandSetPoints(char *args);
void korabusCommandMode(char *args);
void korabusCommandFormat(char *args);
// Program.
void korabusCommandGetProgramConfiguration(char *args);
void korabusCommandSetProgramConfiguration(char *args);
// Messages and status.
void korabusCommandSleep(char *args);
void korabusCommandWake(char *args);
void korabusCommandBacklight(char *args);
void korabusCommandMessageScreen(char *args);
void korabusCommandSettings(char *args);
void korabusCommandGetExternalTemperature(char *args);
void korabusCommandVersion(char *args);
// Forgets the screen-saver marker of the backlight command.
void korabusStatusCommandsReset();
// Service.
void korabusCommandZap(char *args);
void korabusCommandLockout(char *args);
void korabusCommandSecurityCode(char *args);
void korabusCommandSerial(char *args);
void korabusCommandWriteSerial(char *args);
void korabusCommandHostVer(char *args);
void korabusCommandUpdateStatus(char *args);
void korabusCommandGetFilterChangeDays(char *args);
void korabusCommandSetFilterChangeDays(char *args);
void korabusCommandSflash0(char *args);
void korabusCommandSflash1(char *args);
void korabusCommandSflash2(char *args);
