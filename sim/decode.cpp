// Packet decoding and text escaping for the building-controller console.
#include "decode.h"

#include "coproc/coproc_msg.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace sim {

namespace {

struct Name {
    unsigned number;
    const char *name;
};

constexpr Name c_ChannelNames[] = {
    {139, "weather alert"},
    {140, "cool setpoint up"},
    {141, "cool setpoint down"},
    {143, "heat setpoint up"},
    {144, "heat setpoint down"},
    {148, "humidify setpoint up"},
    {149, "humidify setpoint down"},
    {150, "dehumidify setpoint up"},
    {151, "dehumidify setpoint down"},
    {160, "filter change due"},
    {209, "fan speed low"},
    {210, "fan speed medium"},
    {211, "fan speed high"},
    {212, "button lockout"},
    {214, "fan on"},
    {215, "fan auto"},
    {216, "fan running"},
    {219, "system auto"},
    {220, "system cool"},
    {221, "system heat"},
    {222, "system off"},
    {223, "system emergency heat"},
    {224, "now cooling"},
    {225, "now heating"},
    {227, "now emergency heat"},
    {228, "humidify auto"},
    {229, "humidify dehumidify"},
    {230, "humidify humidify"},
    {231, "humidify off"},
    {232, "dehumidifier relay"},
    {233, "humidifier relay"},
    {240, "relay O"},
    {241, "relay B"},
    {242, "relay Y1"},
    {243, "relay Y2"},
    {244, "relay W1"},
    {245, "relay W2"},
    {246, "relay DEH"},
    {247, "relay HUM"},
    {248, "relay G1"},
    {249, "relay G2"},
    {250, "relay G3"},
};

constexpr Name c_LevelNames[] = {
    {1, "indoor temperature"},  {2, "indoor humidity"}, {3, "heat setpoint"}, {4, "cool setpoint"},
    {5, "outdoor temperature"}, {6, "pressure"},        {7, "forecast high"}, {8, "forecast low"},
};

const char *lookup(const Name *table, size_t count, unsigned number) {
    for (size_t i = 0; i < count; i++) {
        if (table[i].number == number) {
            return table[i].name;
        }
    }
    return nullptr;
}

std::string quoted(const uint8_t *bytes, size_t length) {
    return "\"" + escapeText(bytes, length) + "\"";
}

std::string fmt(const char *format, unsigned a, unsigned b = 0) {
    char text[96];
    snprintf(text, sizeof(text), format, a, b);
    return text;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The value after a descriptor in the blank-separated fields of a reply,
// e.g. field(words, "HT") of "PG D1 SP1 HT70" is "70"; "" when missing.
std::string field(const std::vector<std::string> &words, const std::string &descriptor) {
    for (const std::string &w : words) {
        if (w.compare(0, descriptor.size(), descriptor) == 0 && w.size() > descriptor.size() &&
            (isdigit(static_cast<unsigned char>(w[descriptor.size()])) != 0 ||
             w[descriptor.size()] == '-')) {
            return w.substr(descriptor.size());
        }
    }
    return "";
}

std::vector<std::string> splitWords(const std::string &text) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > at) {
            words.push_back(text.substr(at, end - at));
        }
        at = end + 1;
    }
    return words;
}

std::string describeMode(const std::vector<std::string> &w) {
    if (w.size() < 2) {
        return "mode report";
    }
    const std::string &m = w[1];
    std::string mode = m == "MP"    ? "program"
                       : m == "MH"  ? "hold until the next period"
                       : m == "MPH" ? "permanent hold"
                       : m == "MV"  ? "vacation"
                                    : m;
    std::string text =
        "mode report: " + mode + ", heat " + field(w, "H") + ", cool " + field(w, "C");
    if (m == "MV") {
        text += ", humidify " + field(w, "U") + " %, dehumidify " + field(w, "D") + " %, " +
                field(w, "Y") + " days " + field(w, "R") + " hours";
    }
    return text;
}

std::string describeProgram(const std::vector<std::string> &w) {
    static const char *const c_Days[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};
    static const char *const c_Periods[] = {"Wake", "Leave", "Return", "Sleep"};
    int day = atoi(field(w, "D").c_str());
    int period = atoi(field(w, "SP").c_str());
    std::string start = field(w, "T");
    std::string text = "program: ";
    text += day >= 0 && day <= 6 ? c_Days[day] : "day " + field(w, "D");
    text += " ";
    text += period >= 1 && period <= 4 ? c_Periods[period - 1] : "period " + field(w, "SP");
    if (start.size() == 4) {
        text += " from " + start.substr(0, 2) + ":" + start.substr(2);
    }
    return text + ", heat " + field(w, "HT") + ", cool " + field(w, "C") + ", humidify " +
           field(w, "HM") + " %, dehumidify " + field(w, "DM") + " %";
}

// The last update's verdict as the installer left it for "?UPDATE".
std::string describeVerdict(const std::string &word) {
    static const std::pair<const char *, const char *> c_Verdicts[] = {
        {"NONE", "none"},
        {"TRIAL", "on trial"},
        {"GOOD", "marked good"},
        {"REFUSED", "refused"},
        {"FAILED", "failed to install"},
        {"ROLLED-BACK", "failed its trial, back to the version before"},
        {"FELL-BACK", "a slot was damaged, the board image runs"},
    };
    for (const auto &[code, meaning] : c_Verdicts) {
        if (word == code) {
            return meaning;
        }
    }
    return word;
}

// What a reply or report means, or "" for a text it does not know.
std::string describeReply(const std::string &text) {
    std::vector<std::string> w = splitWords(text);
    if (w.empty()) {
        return "";
    }
    if (w[0] == "MD") {
        return describeMode(w);
    }
    if (text == "MO ") {
        return "mode report: unknown mode";
    }
    if (w[0] == "FM" && w.size() == 2) {
        return w[1] == "SF" ? "format report: Fahrenheit" : "format report: Celsius";
    }
    if (w[0] == "SP") {
        return "settings report: humidify " + field(w, "H") + " %, dehumidify " + field(w, "D") +
               " %";
    }
    if (w[0] == "PG") {
        return describeProgram(w);
    }
    if (w[0] == "SERIAL") {
        return w.size() > 1 ? "serial number " + text.substr(7) : "no serial number stored";
    }
    if (w[0] == "FILTER" && w.size() == 2) {
        return "filter change due in " + w[1] + " days";
    }
    if (text.compare(0, 14, "EXTERNAL_TEMP-") == 0) {
        return text == "EXTERNAL_TEMP-OFF" ? "no external sensor"
                                           : "external sensor " + text.substr(14) + " degrees";
    }
    if (w[0] == "UPDATE" && w.size() == 4) {
        return "software: version " + w[3] + ", security version " + w[1].substr(1) +
               ", last update: " + describeVerdict(w[2]);
    }
    if (text == "MESSAGE CLEAR") {
        return "the user dismissed the message";
    }
    if (text == COPROC_APP_VERSION) {
        return "application version";
    }
    return "";
}

// A packet's words, from its payload p of n bytes.
using DescribePacket = std::string (*)(const uint8_t *p, size_t n);

std::string describeChannelPacket(const uint8_t *p, size_t n) {
    if (n < 2) {
        return "channel (short payload)";
    }
    const char *name = channelName(p[0]);
    return fmt("channel %u %u", p[0], p[1]) +
           (name != nullptr ? std::string(" (") + name + ")" : " (unknown channel)");
}

std::string describeLevelPacket(const uint8_t *p, size_t n) {
    if (n < 2) {
        return "level (short payload)";
    }
    const char *name = levelName(p[0]);
    std::string text = fmt("level %u %u", p[0], p[1]);
    if (p[0] == 1 || p[0] == 3 || p[0] == 4) {
        char extra[32];
        snprintf(extra, sizeof(extra), " = %d display degrees", p[1] - 120);
        text += extra;
    }
    return text + (name != nullptr ? std::string(" (") + name + ")" : " (unknown level)");
}

struct PacketDecoder {
    uint8_t type;
    DescribePacket describe;
};

constexpr PacketDecoder c_Packets[] = {
    {COPROC_PKT_SEND_CHANNEL, describeChannelPacket},
    {COPROC_PKT_SEND_CHANNEL_ALT, describeChannelPacket},
    {COPROC_PKT_SEND_LEVEL, describeLevelPacket},
    {COPROC_PKT_REQ_TEMP,
     [](const uint8_t *, size_t) -> std::string { return "request temperature"; }},
    {COPROC_PKT_REQ_HUMIDITY,
     [](const uint8_t *, size_t) -> std::string { return "request humidity"; }},
    {COPROC_PKT_REQ_VOLTAGE,
     [](const uint8_t *, size_t) -> std::string { return "request line voltage"; }},
    {COPROC_PKT_REQ_STATUS,
     [](const uint8_t *, size_t) -> std::string { return "request bus status"; }},
    {COPROC_PKT_REPLY, [](const uint8_t *p, size_t n) { return "reply " + quoted(p, n); }},
    {COPROC_PKT_VERSION, [](const uint8_t *p, size_t n) { return "version " + quoted(p, n); }},
    {COPROC_PKT_SET_ADDRESS,
     [](const uint8_t *p, size_t n) -> std::string {
         return n < 1 ? "set address (short payload)" : fmt("set address %u", p[0]);
     }},
    {COPROC_PKT_VERSION_KNOWN,
     [](const uint8_t *, size_t) -> std::string { return "bus version known"; }},
    {COPROC_PKT_BUS_TEST, [](const uint8_t *p, size_t n) { return "bus test " + quoted(p, n); }},
    {COPROC_PKT_STARTUP, [](const uint8_t *, size_t) -> std::string { return "start-up"; }},
};

} // namespace

const char *channelName(unsigned channel) {
    return lookup(c_ChannelNames, std::size(c_ChannelNames), channel);
}

const char *levelName(unsigned level) {
    return lookup(c_LevelNames, std::size(c_LevelNames), level);
}

bool isPeriodicRequest(uint8_t type) {
    return type == COPROC_PKT_REQ_TEMP || type == COPROC_PKT_REQ_HUMIDITY ||
           type == COPROC_PKT_REQ_VOLTAGE || type == COPROC_PKT_REQ_STATUS;
}

std::string decodeFrame(const uint8_t *frame, size_t length) {
    if (length < COPROC_FRAME_OVERHEAD) {
        return "short frame " + hexBytes(frame, length);
    }
    uint8_t type = frame[0];
    const uint8_t *p = frame + 2;
    size_t n = length - COPROC_FRAME_OVERHEAD;
    const PacketDecoder *decoder =
        std::find_if(std::begin(c_Packets), std::end(c_Packets),
                     [type](const PacketDecoder &d) { return d.type == type; });
    std::string text = decoder != std::end(c_Packets) ? decoder->describe(p, n)
                                                      : "unknown packet " + hexBytes(p, n);
    if (frame[1] != static_cast<uint8_t>(n + COPROC_FRAME_OVERHEAD)) {
        text += fmt(" (length byte %u, %u payload bytes)", frame[1], static_cast<unsigned>(n));
    }
    text += fmt(" [0x%02X]", type);
    // Replies and reports say what they mean after the packet type.
    std::string meaning;
    if (type == COPROC_PKT_REPLY) {
        meaning = describeReply(std::string(reinterpret_cast<const char *>(p), n));
    } else if (type == COPROC_PKT_VERSION) {
        meaning = "bus firmware / application version";
    }
    return meaning.empty() ? text : text + " " + meaning;
}

std::string escapeText(const uint8_t *bytes, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; i++) {
        uint8_t c = bytes[i];
        switch (c) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out += static_cast<char>(c);
            } else {
                char hex[8];
                snprintf(hex, sizeof(hex), "\\x%02X", c);
                out += hex;
            }
        }
    }
    return out;
}

std::string escapeText(const std::string &text) {
    return escapeText(reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

bool unescapeText(const std::string &text, std::string *out) {
    out->clear();
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (c != '\\') {
            *out += c;
            continue;
        }
        if (++i >= text.size()) {
            return false;
        }
        switch (text[i]) {
        case 'r':
            *out += '\r';
            break;
        case 'n':
            *out += '\n';
            break;
        case 't':
            *out += '\t';
            break;
        case '0':
            *out += '\0';
            break;
        case '\\':
        case '"':
            *out += text[i];
            break;
        case 'x': {
            if (i + 2 >= text.size()) {
                return false;
            }
            int hi = hexValue(text[i + 1]);
            int lo = hexValue(text[i + 2]);
            if (hi < 0 || lo < 0) {
                return false;
            }
            *out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

bool parseHex(const std::string &text, std::vector<uint8_t> *out) {
    out->clear();
    int pending = -1;
    for (char c : text) {
        if (c == ' ' || c == ',' || c == ':') {
            if (pending >= 0) {
                out->push_back(static_cast<uint8_t>(pending));
                pending = -1;
            }
            continue;
        }
        int v = hexValue(c);
        if (v < 0) {
            return false;
        }
        if (pending < 0) {
            pending = v;
        } else {
            out->push_back(static_cast<uint8_t>(pending * 16 + v));
            pending = -1;
        }
    }
    if (pending >= 0) {
        out->push_back(static_cast<uint8_t>(pending));
    }
    return true;
}

std::string hexBytes(const uint8_t *bytes, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; i++) {
        char hex[4];
        snprintf(hex, sizeof(hex), "%02X", bytes[i]);
        if (i > 0) {
            out += ' ';
        }
        out += hex;
    }
    return out;
}

} // namespace sim
