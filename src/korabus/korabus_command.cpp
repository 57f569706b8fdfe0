// Control-bus command strings: the command table and its dispatch, the reply
// buffer and the helpers every command group shares. The handlers live in
// the files of their groups: set points and modes, program, clock and
// weather, messages and status, service.
//
// Handlers parse all of their arguments before they change anything, so a
// command with a missing token, a token of an unexpected kind or a value out
// of range changes nothing and answers nothing. Every reply is built in one
// 65-byte buffer with the buffer's real size and sent as coprocessor packet
// 0x0C (the version answer as 0x18).
#include "korabus/korabus_command.h"

#include "coproc/coproc_msg.h"
#include "korabus/korabus_command_support.h"
#include "korabus/korabus_data.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

char g_commandBuf[KORABUS_REPLY_SIZE];

namespace {

using KorabusCommandHandler = void (*)(char *arguments);

struct KorabusCommand {
    const char *keyword;
    KorabusCommandHandler handler;
};

// clang-format off
constexpr KorabusCommand g_korabusCommands[] = {
    {"CLOCK",          korabusCommandClock},
    {"SLEEP",          korabusCommandSleep},
    {"WAKE",           korabusCommandWake},
    {"ZAP!",           korabusCommandZap},
    {"FH",             korabusCommandForecastHigh},
    {"FL",             korabusCommandForecastLow},
    {"FK",             korabusCommandForecastKeywords},
    {"CF",             korabusCommandCurrentForecast},
    {"SP",             korabusCommandSetPoints},
    {"MD",             korabusCommandMode},
    {"FM",             korabusCommandFormat},
    {"LK",             korabusCommandLockout},
    {"ST",             korabusCommandSettings},
    {"BK",             korabusCommandBacklight},
    {"?PG",            korabusCommandGetProgramConfiguration},
    {"PG",             korabusCommandSetProgramConfiguration},
    {"CD",             korabusCommandSecurityCode},
    {"?SERIAL",        korabusCommandSerial},
    {"SFLASH0\r",      korabusCommandSflash0},
    {"SFLASH1\r",      korabusCommandSflash1},
    {"SFLASH2\r",      korabusCommandSflash2},
    {"SERIAL",         korabusCommandWriteSerial},
    {"HVER",           korabusCommandHostVer},
    {"?UPDATE",        korabusCommandUpdateStatus},
    {"?FILTER",        korabusCommandGetFilterChangeDays},
    {"FILTER",         korabusCommandSetFilterChangeDays},
    {"PRESSURE",       korabusCommandSetPressure},
    {"MESSAGE",        korabusCommandMessageScreen},
    {"?EXTERNAL_TEMP", korabusCommandGetExternalTemperature},
    {"VER",            korabusCommandVersion},
    {nullptr,          nullptr},
};
// clang-format on

} // namespace

void korabusSendReply() {
    coprocMsgSendReply(g_commandBuf);
}

void korabusReply(const char *format, ...) {
    va_list args;
    va_start(args, format);
    vsnprintf(g_commandBuf, sizeof(g_commandBuf), format, args);
    va_end(args);
    korabusSendReply();
}

size_t korabusSplitTokens(char *text, char **tokens, size_t max) {
    size_t n = 0;
    char *rest = text;
    while (n < max) {
        char *token = korabusDataTokenizeCommand(rest, &rest);
        if (token == nullptr) {
            break;
        }
        tokens[n++] = token;
    }
    return n;
}

bool korabusInRange(int32_t value, int32_t lo, int32_t hi) {
    return value >= lo && value <= hi;
}

bool korabusIsPercent(int32_t value) {
    return korabusInRange(value, 0, 100);
}

int16_t korabusToInt16(int32_t value) {
    if (value > INT16_MAX) {
        return INT16_MAX;
    }
    return static_cast<int16_t>(value < INT16_MIN ? INT16_MIN : value);
}

int korabusIntegerPart(fpr_t value) {
    int16_t whole = 0;
    int32_t fraction = 0;
    fprDecode(value, &whole, &fraction);
    return whole;
}

void korabusReadSetPoints(int32_t heatDegrees, int32_t coolDegrees, fpr_t *heat, fpr_t *cool) {
    *heat = integerTempToFprCelsius(korabusToInt16(heatDegrees));
    *cool = integerTempToFprCelsius(korabusToInt16(coolDegrees));
}

void korabusDataProcessCommand(char *command) {
    char *rest = nullptr;
    char *keyword = korabusDataTokenizeCommand(command, &rest);
    if (keyword == nullptr) {
        return;
    }
    for (const KorabusCommand *c = g_korabusCommands; c->keyword != nullptr; c++) {
        if (strcmp(c->keyword, keyword) == 0) {
            c->handler(rest);
            return;
        }
    }
}

void korabusCommandReset() {
    korabusStatusCommandsReset();
    memset(g_commandBuf, 0, sizeof(g_commandBuf));
}
