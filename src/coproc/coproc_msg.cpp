// Coprocessor messages: periodic requests, dispatch of received packets by
// type, payload decoding into the raw stores, and the packets sent to the
// coprocessor.
#include "coproc/coproc_msg.h"

#include "config/data_dict.h"
#include "core/util.h"

#include <cstdio>
#include <cstring>

CoprocComm *g_coprocHdl = nullptr;
char g_stringBuf[COPROC_TEXT_MAX + 1];

namespace {

// Timer of the periodic requests.
UtilTimer g_pollTimer = {0, 0};

constexpr uint32_t NO_LINE_VOLTAGE = 0xFFFFFFFFu;
// Payload offset within a frame.
constexpr size_t PAYLOAD = 2;

// Four 16-bit slots per thermistor: slot 2 holds the report's first word,
// slot 1 its second; slots 0 and 3 are not used.
uint16_t m_InternalTempSensor[4];
uint16_t m_ExternalTempSensor[4];
uint16_t m_RelHumidityFreq;
uint32_t m_LineVoltage = NO_LINE_VOLTAGE;
uint8_t m_KorabusOnline;
uint8_t m_LevelOn;
uint8_t m_dumpChannels;
uint8_t m_dumpLevels;
const CoprocBusHandlers *m_BusHandlers = nullptr;
const CoprocSensorHooks *m_SensorHooks = nullptr;

// The bus and sensor layers sit above the link: what the coprocessor reports
// reaches them through the functions they registered, or goes nowhere.
template <typename Hooks, typename Fn, typename... Args>
void callHook(const Hooks *hooks, Fn Hooks::*which, Args... args) {
    if (hooks != nullptr && hooks->*which != nullptr) {
        (hooks->*which)(args...);
    }
}

// Payload bytes actually received (the length byte is not trusted for this).
size_t payloadSize(const CoprocFrame &frame) {
    return frame.length > COPROC_FRAME_OVERHEAD ? frame.length - COPROC_FRAME_OVERHEAD : 0;
}

const uint8_t *payloadOf(const CoprocFrame &frame) {
    return frame.data + PAYLOAD;
}

int coprocMsgUpdateChannel(const CoprocFrame &frame) {
    if (payloadSize(frame) < 2) {
        return -1;
    }
    callHook(m_BusHandlers, &CoprocBusHandlers::channel, payloadOf(frame)[0], payloadOf(frame)[1]);
    return 0;
}

int coprocMsgUpdateLevel(const CoprocFrame &frame) {
    if (payloadSize(frame) < 2) {
        return -1;
    }
    callHook(m_BusHandlers, &CoprocBusHandlers::level, payloadOf(frame)[0],
             static_cast<uint32_t>(payloadOf(frame)[1]));
    return 0;
}

// Copies at most n characters of text into g_stringBuf, stopping at a NUL,
// and terminates it right after what was copied.
void copyText(const uint8_t *text, size_t n) {
    size_t i = 0;
    for (; i < n && i < COPROC_TEXT_MAX && text[i] != '\0'; i++) {
        g_stringBuf[i] = static_cast<char>(text[i]);
    }
    g_stringBuf[i] = '\0';
}

int coprocMsgUpdateString(const CoprocFrame &frame) {
    // The text is as long as the length byte says, but never longer than
    // what was received; texts beyond 64 characters are ignored whole.
    uint8_t lengthByte = frame.data[1];
    if (lengthByte < COPROC_FRAME_OVERHEAD ||
        lengthByte > COPROC_TEXT_MAX + COPROC_FRAME_OVERHEAD) {
        return -1;
    }
    size_t n = lengthByte - COPROC_FRAME_OVERHEAD;
    if (n > payloadSize(frame)) {
        n = payloadSize(frame);
    }
    copyText(payloadOf(frame), n);
    callHook(m_BusHandlers, &CoprocBusHandlers::string, g_stringBuf);
    return 0;
}

int coprocMsgUpdateCommand(const CoprocFrame &frame) {
    size_t available = payloadSize(frame);
    if (available < 1) {
        return -1;
    }
    size_t n = payloadOf(frame)[0];
    // A text longer than 64 characters, or longer than the packet carries,
    // is ignored whole.
    if (n > COPROC_TEXT_MAX || n > available - 1) {
        return -1;
    }
    memset(g_stringBuf, 0, sizeof(g_stringBuf));
    copyText(payloadOf(frame) + 1, n);
    callHook(m_BusHandlers, &CoprocBusHandlers::command, g_stringBuf);
    return 0;
}

int coprocMsgTemp(const CoprocFrame &frame) {
    if (payloadSize(frame) < 8) {
        return -1;
    }
    const uint8_t *p = payloadOf(frame);
    p = utilGetUint16BE(&m_InternalTempSensor[2], p);
    p = utilGetUint16BE(&m_InternalTempSensor[1], p);
    p = utilGetUint16BE(&m_ExternalTempSensor[2], p);
    utilGetUint16BE(&m_ExternalTempSensor[1], p);
    callHook(m_SensorHooks, &CoprocSensorHooks::temperatureReported);
    return 0;
}

int coprocMsgHumidity(const CoprocFrame &frame) {
    if (payloadSize(frame) < 2) {
        return -1;
    }
    utilGetUint16BE(&m_RelHumidityFreq, payloadOf(frame));
    callHook(m_SensorHooks, &CoprocSensorHooks::humidityReported);
    return 0;
}

int coprocMsgBattery(const CoprocFrame &frame) {
    if (payloadSize(frame) < 2) {
        return -1;
    }
    uint16_t reading;
    utilGetUint16BE(&reading, payloadOf(frame));
    m_LineVoltage = reading;
    return 0;
}

int coprocMsgKorabusAddr(const CoprocFrame &frame) {
    if (payloadSize(frame) < 1) {
        return -1;
    }
    // Saved with the next save of the record, not by itself.
    setKorabusAddress(payloadOf(frame)[0]);
    return 0;
}

int coprocMsgKorabusStatus(const CoprocFrame &frame) {
    if (payloadSize(frame) < 3) {
        return -1;
    }
    uint8_t online = payloadOf(frame)[0] != 0 ? 1 : 0;
    uint8_t levelOn = payloadOf(frame)[2] != 0 ? 1 : 0;
    // Only rising edges ask for a full dump.
    if (online != 0 && m_KorabusOnline == 0) {
        m_dumpChannels = 1;
    }
    if (levelOn != 0 && m_LevelOn == 0) {
        m_dumpLevels = 1;
    }
    m_KorabusOnline = online;
    m_LevelOn = levelOn;
    setLedStatus(online);
    return 0;
}

int coprocMsgKorabusVersion(const CoprocFrame &frame) {
    // The text ends at its NUL or at the end of the packet, whichever comes
    // first; the data dictionary keeps at most 9 characters.
    char version[COPROC_TEXT_MAX + 1];
    size_t n = payloadSize(frame);
    if (n > COPROC_TEXT_MAX) {
        n = COPROC_TEXT_MAX;
    }
    memcpy(version, payloadOf(frame), n);
    version[n] = '\0';
    setKorabusVersion(version);
    return 0;
}

// The dispatch table: the first entry whose type matches a frame wins.
// clang-format off
const CoprocMsgEntry coprocMsgTable[] = {
    {COPROC_PKT_CHANNEL,      coprocMsgUpdateChannel},
    {COPROC_PKT_LEVEL,        coprocMsgUpdateLevel},
    {COPROC_PKT_STRING,       coprocMsgUpdateString},
    {COPROC_PKT_COMMAND,      coprocMsgUpdateCommand},
    {COPROC_PKT_TEMP,         coprocMsgTemp},
    {COPROC_PKT_HUMIDITY,     coprocMsgHumidity},
    {COPROC_PKT_LINE_VOLTAGE, coprocMsgBattery},
    {COPROC_PKT_BUS_ADDRESS,  coprocMsgKorabusAddr},
    {COPROC_PKT_BUS_STATUS,   coprocMsgKorabusStatus},
    {COPROC_PKT_BUS_VERSION,  coprocMsgKorabusVersion},
};
// clang-format on

void sendText(uint8_t type, const char *text) {
    if (text == nullptr) {
        return;
    }
    size_t n = strnlen(text, 255);
    coprocessorSendPacket(type, static_cast<uint8_t>(n), reinterpret_cast<const uint8_t *>(text));
}

} // namespace

int coprocessorInit(const char *device) {
    g_coprocHdl = coprocCommInit(device);
    util_set_expiration(&g_pollTimer, COPROC_POLL_PERIOD_MS);
    return g_coprocHdl != nullptr ? 0 : -1;
}

void coprocessorPoll() {
    if (util_check_expiration(&g_pollTimer)) {
        util_set_expiration(&g_pollTimer, COPROC_POLL_PERIOD_MS);
        // The four requests go out in one write.
        coprocCommHold(g_coprocHdl);
        coprocessorSendPacket(COPROC_PKT_REQ_TEMP, 0, nullptr);
        coprocessorSendPacket(COPROC_PKT_REQ_HUMIDITY, 0, nullptr);
        coprocessorSendPacket(COPROC_PKT_REQ_VOLTAGE, 0, nullptr);
        coprocessorSendPacket(COPROC_PKT_REQ_STATUS, 0, nullptr);
        coprocCommFlush(g_coprocHdl);
    }
    coprocCommPoll(g_coprocHdl);
}

void coprocessorSendPacket(uint8_t type, uint8_t payloadLength, const uint8_t *payload) {
    if (g_coprocHdl != nullptr) {
        coprocCommSendPacket(g_coprocHdl, type, payloadLength, payload);
    }
}

int coprocMsgProcess(const uint8_t *frame, uint16_t length) {
    if (coprocCommCheckFrame(frame, length) != 0) {
        return -1;
    }
    // Whatever the packet carries (readings, bus commands and writes) may
    // change what the pages show and the control bus reports.
    utilNoteChange();
    CoprocFrame pair = {frame, length};
    for (const CoprocMsgEntry &entry : coprocMsgTable) {
        if (entry.type == frame[0]) {
            entry.handler(pair);
            break;
        }
    }
    return 0;
}

void coprocMsgGetInternalTemp(CoprocTempReading *reading) {
    if (reading == nullptr) {
        return;
    }
    reading->secondWord = m_InternalTempSensor[1];
    reading->firstWord = m_InternalTempSensor[2];
}

void coprocMsgGetExternalTemp(CoprocTempReading *reading) {
    // Sensor 0 is the only external thermistor.
    if (reading == nullptr || reading->sensorIndex != 0) {
        return;
    }
    reading->secondWord = m_ExternalTempSensor[1];
    reading->firstWord = m_ExternalTempSensor[2];
}

uint16_t coprocMsgGetRelHumidity() {
    return m_RelHumidityFreq;
}

int coprocMsgGetLineVoltage(uint16_t *out) {
    if (out == nullptr || m_LineVoltage == NO_LINE_VOLTAGE) {
        return 0;
    }
    *out = static_cast<uint16_t>(m_LineVoltage);
    return 1;
}

int isDumpChannels() {
    int request = m_dumpChannels;
    m_dumpChannels = 0;
    return request;
}

int isDumpLevels() {
    int request = m_dumpLevels;
    m_dumpLevels = 0;
    return request;
}

void coprocMsgSendStartup() {
    coprocessorSendPacket(COPROC_PKT_STARTUP, 0, nullptr);
}

void coprocMsgSendVersionKnown() {
    coprocessorSendPacket(COPROC_PKT_VERSION_KNOWN, 0, nullptr);
}

void coprocMsgSendChannel(uint8_t type, uint8_t channel, uint8_t state) {
    const uint8_t payload[2] = {channel, static_cast<uint8_t>(state != 0 ? 1 : 0)};
    coprocessorSendPacket(type, sizeof(payload), payload);
}

void coprocMsgSendLevel(uint8_t level, uint8_t value) {
    const uint8_t payload[2] = {level, value};
    coprocessorSendPacket(COPROC_PKT_SEND_LEVEL, sizeof(payload), payload);
}

void coprocMsgSendReply(const char *text) {
    sendText(COPROC_PKT_REPLY, text);
}

void coprocMsgSendVersion(const char *busVersion) {
    char text[COPROC_TEXT_MAX + 1];
    snprintf(text, sizeof(text), "%s/%s", busVersion != nullptr ? busVersion : "",
             COPROC_APP_VERSION);
    sendText(COPROC_PKT_VERSION, text);
}

void coprocMsgSendAddress(uint8_t address) {
    const uint8_t sequence[3] = {address, static_cast<uint8_t>(~address), address};
    for (uint8_t byte : sequence) {
        coprocessorSendPacket(COPROC_PKT_SET_ADDRESS, 1, &byte);
    }
}

void coprocMsgSendBusTest(const char *text) {
    sendText(COPROC_PKT_BUS_TEST, text);
}

void coprocMsgSetBusHandlers(const CoprocBusHandlers *handlers) {
    m_BusHandlers = handlers;
}

void coprocMsgSetSensorHooks(const CoprocSensorHooks *hooks) {
    m_SensorHooks = hooks;
}

void coprocMsgReset() {
    coprocCommClose(g_coprocHdl);
    g_coprocHdl = nullptr;
    g_pollTimer = {0, 0};
    memset(g_stringBuf, 0, sizeof(g_stringBuf));
    memset(m_InternalTempSensor, 0, sizeof(m_InternalTempSensor));
    memset(m_ExternalTempSensor, 0, sizeof(m_ExternalTempSensor));
    m_RelHumidityFreq = 0;
    m_LineVoltage = NO_LINE_VOLTAGE;
    m_KorabusOnline = 0;
    m_LevelOn = 0;
    m_dumpChannels = 0;
    m_dumpLevels = 0;
}
