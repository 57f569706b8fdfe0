// Console commands of the simulator, dispatched through a static table.
#include "console.h"

#include "coproc/coproc_msg.h"
#include "coprocessor.h"
#include "decode.h"
#include "house/house.h"
#include "key_pad.h"
#include "report/report.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <unistd.h>

namespace sim {

namespace {

using Handler = bool (*)(const std::string &rest, ConsoleContext &ctx);

struct ConsoleCommand {
    const char *name;
    const char *usage;
    Handler handler;
};

std::vector<std::string> words(const std::string &text) {
    std::istringstream in(text);
    return std::vector<std::string>(std::istream_iterator<std::string>(in),
                                    std::istream_iterator<std::string>());
}

bool parseLong(const std::string &text, long lo, long hi, long *out) {
    if (text.empty()) {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    long v = strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) {
        return false;
    }
    *out = v;
    return true;
}

bool parseDouble(const std::string &text, double lo, double hi, double *out) {
    if (text.empty()) {
        return false;
    }
    char *end = nullptr;
    double v = strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v) || v < lo || v > hi) {
        return false;
    }
    *out = v;
    return true;
}

bool parseOnOff(const std::string &text, bool *out) {
    if (text == "1" || text == "on" || text == "yes") {
        *out = true;
        return true;
    }
    if (text == "0" || text == "off" || text == "no") {
        *out = false;
        return true;
    }
    return false;
}

bool usage(ConsoleContext &ctx, const char *name);

// Two byte-sized numbers: "channel 214 1", "level 3 190".
bool twoBytes(const std::string &rest, ConsoleContext &ctx, const char *name, long *a, long *b) {
    std::vector<std::string> w = words(rest);
    if (w.size() != 2 || !parseLong(w[0], 0, 255, a) || !parseLong(w[1], 0, 255, b)) {
        return usage(ctx, name);
    }
    return true;
}

bool cmdChannel(const std::string &rest, ConsoleContext &ctx) {
    long channel, state;
    if (!twoBytes(rest, ctx, "channel", &channel, &state)) {
        return false;
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->sendChannel(static_cast<uint8_t>(channel), static_cast<uint8_t>(state));
    const char *name = channelName(static_cast<unsigned>(channel));
    ctx.say("sim> channel " + std::to_string(channel) + " " + std::to_string(state) +
            (name != nullptr ? std::string(" (") + name + ")" : std::string()) + " [0x01]");
    return true;
}

bool cmdLevel(const std::string &rest, ConsoleContext &ctx) {
    long level, value;
    if (!twoBytes(rest, ctx, "level", &level, &value)) {
        return false;
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->sendLevel(static_cast<uint8_t>(level), static_cast<uint8_t>(value));
    const char *name = levelName(static_cast<unsigned>(level));
    ctx.say("sim> level " + std::to_string(level) + " " + std::to_string(value) +
            (name != nullptr ? std::string(" (") + name + ")" : std::string()) + " [0x02]");
    return true;
}

bool textArgument(const std::string &rest, ConsoleContext &ctx, const char *name,
                  std::string *text) {
    std::string raw = rest;
    // A text in double quotes keeps its outer blanks.
    if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
        raw = raw.substr(1, raw.size() - 2);
    }
    if (!unescapeText(raw, text)) {
        ctx.say("error: bad escape in the text (\\r \\n \\t \\0 \\\\ \\\" \\xNN)");
        return false;
    }
    if (text->size() > 250) {
        ctx.say(std::string("error: ") + name + " text longer than 250 characters");
        return false;
    }
    return true;
}

bool cmdCommand(const std::string &rest, ConsoleContext &ctx) {
    std::string text;
    if (!textArgument(rest, ctx, "command", &text)) {
        return false;
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->sendCommand(text);
    ctx.say("sim> command \"" + escapeText(text) + "\" [0x0B]" +
            (text.size() > 63 ? " (longer than the thermostat accepts)" : ""));
    if (ctx.awaitAnswers) {
        ctx.coproc->awaitAnswer(text);
    }
    return true;
}

bool cmdString(const std::string &rest, ConsoleContext &ctx) {
    std::string text;
    if (!textArgument(rest, ctx, "string", &text)) {
        return false;
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->sendString(text);
    ctx.say("sim> string \"" + escapeText(text) + "\" [0x09]" +
            (text.size() > 64 ? " (longer than the thermostat accepts)" : ""));
    return true;
}

bool cmdVoltage(const std::string &rest, ConsoleContext &ctx) {
    long v;
    std::vector<std::string> w = words(rest);
    if (w.size() != 1 || !parseLong(w[0], 0, 65535, &v)) {
        return usage(ctx, "voltage");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->setLineVoltage(static_cast<uint16_t>(v));
    ctx.say("coproc: line voltage reading " + std::to_string(v) +
            (v <= 491 ? " (under-voltage)" : ""));
    return true;
}

bool cmdSilence(const std::string &rest, ConsoleContext &ctx) {
    double seconds;
    std::vector<std::string> w = words(rest);
    if (w.size() != 1 || !parseDouble(w[0], 0.0, 86400.0 * 7, &seconds)) {
        return usage(ctx, "silence");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->silence(seconds);
    char line[96];
    if (seconds > 0) {
        snprintf(line, sizeof(line), "coproc: silent for %g s", seconds);
    } else {
        snprintf(line, sizeof(line), "coproc: silence over");
    }
    ctx.say(line);
    return true;
}

bool cmdGarbage(const std::string &rest, ConsoleContext &ctx) {
    long n;
    std::vector<std::string> w = words(rest);
    if (w.size() != 1 || !parseLong(w[0], 1, 65536, &n)) {
        return usage(ctx, "garbage");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->garbage(static_cast<size_t>(n));
    ctx.say("sim> " + std::to_string(n) + " garbage bytes");
    return true;
}

bool cmdBadCrc(const std::string &rest, ConsoleContext &ctx) {
    if (!words(rest).empty()) {
        return usage(ctx, "badcrc");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->badCrc();
    ctx.say("sim> temperature report with a bad CRC [0x06]");
    return true;
}

bool cmdOverlong(const std::string &rest, ConsoleContext &ctx) {
    long n = 80;
    std::vector<std::string> w = words(rest);
    if (w.size() > 1 || (w.size() == 1 && !parseLong(w[0], 4, 259, &n))) {
        return usage(ctx, "overlong");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->overlong(static_cast<size_t>(n));
    ctx.say("sim> frame of " + std::to_string(n) + " bytes [0x09]" +
            (n > 68 ? " (over the 68-byte limit)" : ""));
    return true;
}

bool cmdFlag(const std::string &rest, ConsoleContext &ctx, const char *name,
             void (Coprocessor::*set)(bool)) {
    bool on;
    std::vector<std::string> w = words(rest);
    if (w.size() != 1 || !parseOnOff(w[0], &on)) {
        return usage(ctx, name);
    }
    if (ctx.checkOnly) {
        return true;
    }
    (ctx.coproc->*set)(on);
    ctx.say(std::string("coproc: ") + name + (on ? " 1" : " 0") + (on ? " (on)" : " (off)"));
    return true;
}

bool cmdOnline(const std::string &rest, ConsoleContext &ctx) {
    return cmdFlag(rest, ctx, "online", &Coprocessor::setOnline);
}

bool cmdLevels(const std::string &rest, ConsoleContext &ctx) {
    return cmdFlag(rest, ctx, "levels", &Coprocessor::setLevelsEnabled);
}

bool cmdBusTest(const std::string &rest, ConsoleContext &ctx) {
    std::vector<std::string> w = words(rest);
    if (w.size() != 1 || (w[0] != "pass" && w[0] != "fail")) {
        return usage(ctx, "bustest");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->setBusTestPasses(w[0] == "pass");
    ctx.say("coproc: bus tests will " + w[0]);
    return true;
}

bool cmdRequests(const std::string &rest, ConsoleContext &ctx) {
    return cmdFlag(rest, ctx, "requests", &Coprocessor::setShowRequests);
}

bool cmdAddress(const std::string &rest, ConsoleContext &ctx) {
    long a;
    std::vector<std::string> w = words(rest);
    if (w.size() != 1 || !parseLong(w[0], 0, 255, &a)) {
        return usage(ctx, "address");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->setAddress(static_cast<uint8_t>(a));
    ctx.say("coproc: bus address " + std::to_string(a) + " [0x11]");
    return true;
}

bool cmdVersion(const std::string &rest, ConsoleContext &ctx) {
    std::vector<std::string> w = words(rest);
    if (w.size() != 1 || w[0].size() > 32) {
        return usage(ctx, "version");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->setBusVersion(w[0]);
    ctx.say("coproc: bus firmware version \"" + escapeText(w[0]) + "\" [0x17]");
    return true;
}

bool cmdRaw(const std::string &rest, ConsoleContext &ctx) {
    std::vector<uint8_t> bytes;
    if (!parseHex(rest, &bytes) || bytes.empty()) {
        return usage(ctx, "raw");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->sendRaw(bytes);
    ctx.say("sim> raw " + hexBytes(bytes.data(), bytes.size()));
    return true;
}

bool cmdPacket(const std::string &rest, ConsoleContext &ctx) {
    std::vector<std::string> w = words(rest);
    long type;
    if (w.empty() || !parseLong(w[0], 0, 255, &type)) {
        return usage(ctx, "packet");
    }
    std::string hex = rest.substr(rest.find(w[0]) + w[0].size());
    std::vector<uint8_t> payload;
    if (!parseHex(hex, &payload) || payload.size() > 255) {
        return usage(ctx, "packet");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->sendPacket(static_cast<uint8_t>(type), payload);
    char line[32];
    snprintf(line, sizeof(line), " [0x%02lX]", type);
    ctx.say("sim> packet " + hexBytes(payload.data(), payload.size()) + line);
    return true;
}

bool cmdReport(const std::string &rest, ConsoleContext &ctx) {
    if (!words(rest).empty()) {
        return usage(ctx, "report");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.coproc->reportNow();
    ctx.say("sim> reports");
    return true;
}

// The house's numeric settings by name, with their ranges.
struct HouseSetting {
    const char *name;
    double lo;
    double hi;
    void (*apply)(ConsoleContext &ctx, double value);
};

constexpr HouseSetting c_HouseSettings[] = {
    {"indoor", -50, 110, [](ConsoleContext &ctx, double v) { ctx.house->setIndoor(v); }},
    {"mass", -50, 110, [](ConsoleContext &ctx, double v) { ctx.house->setMass(v); }},
    {"rh", 0, 100, [](ConsoleContext &ctx, double v) { ctx.house->setIndoorRh(v); }},
    {"outdoor", -60, 60,
     [](ConsoleContext &ctx, double v) { ctx.house->params().outdoorMean = v; }},
    {"swing", 0, 30, [](ConsoleContext &ctx, double v) { ctx.house->params().outdoorSwing = v; }},
    {"outdoor-rh", 0, 100,
     [](ConsoleContext &ctx, double v) { ctx.house->params().outdoorRh = v; }},
    {"solar", 0, 20000, [](ConsoleContext &ctx, double v) { ctx.house->params().solarPeak = v; }},
    {"internal", 0, 20000,
     [](ConsoleContext &ctx, double v) { ctx.house->params().internalGain = v; }},
};

// The house's settings that take a word.
bool setHouseWord(const std::string &name, const std::string &value, ConsoleContext &ctx) {
    bool ok = false;
    if (name == "equipment") {
        ok = value == "furnace" || value == "heatpump";
        if (ok && !ctx.checkOnly) {
            ctx.house->params().equipment =
                value == "heatpump" ? Equipment::HeatPump : Equipment::Furnace;
        }
    } else if (name == "aux") {
        ok = value == "electric" || value == "gas";
        if (ok && !ctx.checkOnly) {
            ctx.house->params().aux = value == "gas" ? AuxHeat::Gas : AuxHeat::Electric;
        }
    } else if (name == "external") {
        ok = value == "outdoor" || value == "indoor";
        if (ok && !ctx.checkOnly) {
            ctx.coproc->setExternal(value == "indoor" ? ExternalSensor::Indoor
                                                      : ExternalSensor::Outdoor);
        }
    }
    return ok;
}

// House settings by name.
bool cmdSet(const std::string &rest, ConsoleContext &ctx) {
    std::vector<std::string> w = words(rest);
    if (w.size() != 2) {
        return usage(ctx, "set");
    }
    const std::string &name = w[0];
    const std::string &value = w[1];
    const HouseSetting *setting = nullptr;
    for (const HouseSetting &s : c_HouseSettings) {
        setting = name == s.name ? &s : setting;
    }
    double v = 0;
    bool ok = setting != nullptr ? parseDouble(value, setting->lo, setting->hi, &v)
                                 : setHouseWord(name, value, ctx);
    if (!ok) {
        return usage(ctx, "set");
    }
    if (ctx.checkOnly) {
        return true;
    }
    if (setting != nullptr) {
        setting->apply(ctx, v);
    }
    ctx.say("house: " + name + " " + value);
    return true;
}

bool cmdPause(const std::string &rest, ConsoleContext &ctx) {
    if (!words(rest).empty()) {
        return usage(ctx, "pause");
    }
    if (ctx.checkOnly) {
        return true;
    }
    *ctx.paused = true;
    ctx.say("house: paused");
    return true;
}

bool cmdResume(const std::string &rest, ConsoleContext &ctx) {
    if (!words(rest).empty()) {
        return usage(ctx, "resume");
    }
    if (ctx.checkOnly) {
        return true;
    }
    *ctx.paused = false;
    ctx.say("house: running");
    return true;
}

bool cmdHouse(const std::string &rest, ConsoleContext &ctx) {
    if (!words(rest).empty()) {
        return usage(ctx, "house");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.showHouse();
    return true;
}

bool cmdDownload(const std::string &rest, ConsoleContext &ctx) {
    std::vector<std::string> w = words(rest);
    if (w.size() == 1 && w[0] == "cancel") {
        if (ctx.checkOnly) {
            return true;
        }
        ctx.coproc->cancelDownload();
        return true;
    }
    long destination = 1;
    if (w.empty() || w.size() > 2 || (w.size() == 2 && !parseLong(w[1], 1, 2, &destination))) {
        return usage(ctx, "download");
    }
    if (ctx.checkOnly) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(w[0], ec) || access(w[0].c_str(), R_OK) != 0) {
            ctx.say("error: " + w[0] + " is not a regular file that can be read");
            return false;
        }
        return true;
    }
    return ctx.coproc->startDownload(w[0], static_cast<int>(destination));
}

bool cmdKey(const std::string &rest, ConsoleContext &ctx) {
    std::vector<std::string> w = words(rest);
    double hold = 0.1;
    uint16_t code = w.empty() ? 0 : keyCode(w[0]);
    if (code == 0 || w.size() > 2 || (w.size() == 2 && !parseDouble(w[1], 0.0, 3600.0, &hold))) {
        return usage(ctx, "key");
    }
    if (ctx.checkOnly) {
        return true;
    }
    if (ctx.keys == nullptr || !ctx.keys->press(code, std::llround(hold * 1000.0))) {
        ctx.say("error: the keys cannot be pressed here");
        return false;
    }
    ctx.say("sim> key " + w[0] + " held " + formatNumber("%g", hold) + " s");
    return true;
}

bool cmdScreen(const std::string &rest, ConsoleContext &ctx) {
    std::vector<std::string> w = words(rest);
    if (w.size() != 1 || !isScreenName(w[0]) || (!ctx.keepScreen && !ctx.checkOnly)) {
        return usage(ctx, "screen");
    }
    if (ctx.checkOnly) {
        return true;
    }
    ctx.keepScreen(w[0]);
    return true;
}

bool cmdHelp(const std::string &, ConsoleContext &ctx) {
    if (ctx.checkOnly) {
        return true;
    }
    for (const std::string &line : consoleHelp()) {
        ctx.say(line);
    }
    return true;
}

bool cmdQuit(const std::string &, ConsoleContext &ctx) {
    if (ctx.checkOnly) {
        return true;
    }
    *ctx.quit = true;
    ctx.say("tstat-sim: quitting");
    return true;
}

constexpr ConsoleCommand c_Commands[] = {
    {"channel",
     "channel NUMBER STATE        a channel change from the controller (0x01); each 0-255",
     cmdChannel},
    {"level",
     "level NUMBER VALUE          a level change from the controller (0x02); each 0-255 "
     "(set points: display degrees + 120)",
     cmdLevel},
    {"command",
     "command TEXT                a command string (0x0B), at most 250 characters (the "
     "thermostat takes 63); \\r \\n \\xNN escapes",
     cmdCommand},
    {"string", "string TEXT                 a string (0x09), at most 250 characters", cmdString},
    {"voltage",
     "voltage READING             line voltage reported from now on, 0-65535 (600 normal, 491 "
     "or less low)",
     cmdVoltage},
    {"silence",
     "silence SECONDS             report nothing for SECONDS of simulated time, 0-604800 (0 "
     "ends it)",
     cmdSilence},
    {"garbage", "garbage COUNT               COUNT random bytes on the line, 1-65536", cmdGarbage},
    {"badcrc", "badcrc                      one temperature report with a bad CRC", cmdBadCrc},
    {"overlong",
     "overlong [BYTES]            one frame with an over-long body, 4-259 bytes (default 80)",
     cmdOverlong},
    {"online", "online 0|1                  bus online flag of the status report", cmdOnline},
    {"levels", "levels 0|1                  levels-enabled flag of the status report", cmdLevels},
    {"address", "address NUMBER              the unit's bus address (0x11), 0-255", cmdAddress},
    {"version",
     "version TEXT                the bus firmware version (0x17), one word of at most "
     "32 characters",
     cmdVersion},
    {"bustest", "bustest pass|fail           the answer to the manufacturing bus test", cmdBusTest},
    {"raw", "raw HEX...                  bytes as they are", cmdRaw},
    {"packet",
     "packet TYPE [HEX...]        a well-formed packet of any type 0-255, at most 255 "
     "bytes",
     cmdPacket},
    {"report", "report                      one set of sensor and bus reports now", cmdReport},
    {"requests", "requests on|off             print the periodic requests as they arrive",
     cmdRequests},
    {"download",
     "download FILE [1|2]         send FILE as application (1) or graphics (2); download cancel",
     cmdDownload},
    {"set",
     "set NAME VALUE              change the house: indoor or mass C (-50 to 110), rh or "
     "outdoor-rh % (0-100), outdoor C (-60 to 60), swing C (0-30), solar or internal W "
     "(0-20000), equipment furnace|heatpump, aux electric|gas, external outdoor|indoor",
     cmdSet},
    {"pause",
     "pause                       freeze the indoor state (reports go on; outdoors follows the "
     "clock)",
     cmdPause},
    {"resume", "resume                      restart the house's clock", cmdResume},
    {"house", "house                       print the house's state now", cmdHouse},
    {"key",
     "key up|down|mode|exit [S]   press a key, held S simulated seconds, 0-3600 (0.1); on a "
     "dark display the first press only wakes it",
     cmdKey},
    {"screen",
     "screen NAME                 keep the screen of this moment as NAME.png (letters, "
     "digits, - and _)",
     cmdScreen},
    {"help", "help                        this list", cmdHelp},
    {"quit", "quit                        end the simulator", cmdQuit},
};

bool usage(ConsoleContext &ctx, const char *name) {
    for (const ConsoleCommand &c : c_Commands) {
        if (std::string(c.name) == name) {
            ctx.say(std::string("usage: ") + c.usage);
        }
    }
    return false;
}

} // namespace

void splitCommand(const std::string &line, std::string *word, std::string *rest) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) {
        word->clear();
        rest->clear();
        return;
    }
    size_t end = line.find_first_of(" \t", start);
    *word = line.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end == std::string::npos) {
        rest->clear();
        return;
    }
    size_t restStart = line.find_first_not_of(" \t", end);
    *rest = restStart == std::string::npos ? std::string() : line.substr(restStart);
}

bool isHttpRequestLine(const std::string &line) {
    std::vector<std::string> w = words(line);
    if (w.size() != 3 || w[2].rfind("HTTP/", 0) != 0) {
        return false;
    }
    return std::all_of(w[0].begin(), w[0].end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool runConsoleLine(const std::string &line, ConsoleContext &ctx) {
    // The commands read their numbers and names as C strings, which a NUL
    // would cut short: the line is refused whole instead.
    if (line.find('\0') != std::string::npos) {
        ctx.say("error: a NUL byte in the line \"" + escapeText(line.substr(0, 80)) +
                "\"; not run");
        return false;
    }
    std::string word;
    std::string rest;
    splitCommand(line, &word, &rest);
    if (word.empty() || word[0] == '#') {
        return true;
    }
    for (const ConsoleCommand &c : c_Commands) {
        if (word == c.name) {
            return c.handler(rest, ctx);
        }
    }
    ctx.say("error: unknown command \"" + escapeText(word) + "\" (help lists them)");
    return false;
}

bool isScreenName(const std::string &name) {
    return !name.empty() && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                   "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                   "0123456789-_") == std::string::npos;
}

bool isConsoleCommand(const std::string &word) {
    return std::any_of(std::begin(c_Commands), std::end(c_Commands),
                       [&word](const ConsoleCommand &c) { return word == c.name; });
}

bool checkConsoleLine(const std::string &line, std::string *why) {
    ConsoleContext ctx{};
    ctx.checkOnly = true;
    std::string said;
    ctx.say = [&said](const std::string &text) { said += said.empty() ? text : "; " + text; };
    bool ok = runConsoleLine(line, ctx);
    *why = said;
    return ok;
}

bool busPacketOfLine(const std::string &line, uint8_t *type, std::vector<uint8_t> *payload,
                     std::string *why) {
    std::string word;
    std::string rest;
    splitCommand(line, &word, &rest);
    ConsoleContext ctx{};
    ctx.checkOnly = true;
    ctx.say = [why](const std::string &text) { *why += why->empty() ? text : "; " + text; };
    long a = 0, b = 0;
    std::string text;
    if (word == "channel" || word == "level") {
        if (!twoBytes(rest, ctx, word.c_str(), &a, &b)) {
            return false;
        }
        *type = word == "channel" ? COPROC_PKT_CHANNEL : COPROC_PKT_LEVEL;
        *payload = {static_cast<uint8_t>(a), static_cast<uint8_t>(b)};
        return true;
    }
    if (word == "command" || word == "string") {
        if (!textArgument(rest, ctx, word.c_str(), &text)) {
            return false;
        }
        *type = word == "command" ? COPROC_PKT_COMMAND : COPROC_PKT_STRING;
        payload->clear();
        if (word == "command") {
            payload->push_back(static_cast<uint8_t>(text.size()));
        }
        payload->insert(payload->end(), text.begin(), text.end());
        return true;
    }
    *why = "\"" + word + "\" is not a bus command (channel, level, command, string)";
    return false;
}

std::vector<std::string> consoleHelp() {
    std::vector<std::string> lines;
    for (const ConsoleCommand &c : c_Commands) {
        lines.emplace_back(c.usage);
    }
    return lines;
}

void LineBuffer::add(const char *bytes, size_t count, std::vector<std::string> *out) {
    for (size_t i = 0; i < count; i++) {
        char c = bytes[i];
        if (c == '\n') {
            if (!m_pending.empty() && m_pending.back() == '\r') {
                m_pending.pop_back();
            }
            if (!m_overflow) {
                out->push_back(m_pending);
            }
            m_pending.clear();
            m_overflow = false;
            continue;
        }
        if (m_pending.size() >= MAX_LINE) {
            m_overflow = true;
            continue;
        }
        m_pending += c;
    }
}

} // namespace sim
