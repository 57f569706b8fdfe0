// Coprocessor messages: the connection to the coprocessor, its periodic
// requests, the dispatch of received packets by type, the payload of every
// packet type, and the small stores that the handlers fill (raw sensor words,
// line voltage, bus status) with their getters.
//
// Payload integers are big-endian. Handlers run inside coprocessorPoll() and
// call the configuration accessors, and the control-bus layer and the sensor
// module through the functions those registered.
#pragma once

#include "coproc/coproc_comm.h"
#include "core/util.h"

#include <cstddef>
#include <cstdint>

// Packet types. "In" packets come from the coprocessor, "out" packets go to it.
enum CoprocPacketType : uint8_t {
    COPROC_PKT_CHANNEL = 0x01,          // in: [channel, state] from the bus controller
    COPROC_PKT_LEVEL = 0x02,            // in: [level, value] from the bus controller
    COPROC_PKT_SEND_CHANNEL = 0x03,     // out: [channel, 0/1] (channel table send bit 0)
    COPROC_PKT_SEND_LEVEL = 0x04,       // out: [level, value]
    COPROC_PKT_REQ_TEMP = 0x05,         // out: periodic request, empty
    COPROC_PKT_TEMP = 0x06,             // in: four u16 thermistor words
    COPROC_PKT_REQ_HUMIDITY = 0x07,     // out: periodic request, empty
    COPROC_PKT_HUMIDITY = 0x08,         // in: u16 humidity oscillator count
    COPROC_PKT_STRING = 0x09,           // in: text (length byte - 4 characters)
    COPROC_PKT_COMMAND = 0x0B,          // in: [N, N characters]
    COPROC_PKT_REPLY = 0x0C,            // out: reply or report text, no terminator
    COPROC_PKT_REQ_VOLTAGE = 0x0D,      // out: periodic request, empty
    COPROC_PKT_LINE_VOLTAGE = 0x0E,     // in: u16 line-voltage reading
    COPROC_PKT_SET_ADDRESS = 0x0F,      // out: [address] (sent three times)
    COPROC_PKT_VERSION_KNOWN = 0x10,    // out: empty, once the bus version is known
    COPROC_PKT_BUS_ADDRESS = 0x11,      // in: [address]
    COPROC_PKT_BUS_TEST = 0x12,         // out: manufacturing bus-test text
    COPROC_PKT_SEND_CHANNEL_ALT = 0x13, // out: [channel, 0/1] (channel table send bit 2)
    COPROC_PKT_BUS_STATUS = 0x14,       // in: [online, unused, levels enabled]
    COPROC_PKT_REQ_STATUS = 0x15,       // out: periodic request, empty
    COPROC_PKT_STARTUP = 0x16,          // out: empty, once at start-up
    COPROC_PKT_BUS_VERSION = 0x17,      // in: version text, NUL-terminated
    COPROC_PKT_VERSION = 0x18,          // out: "busVersion/appVersion", no terminator
};

// The application's version, as it answers the bus.
constexpr const char *COPROC_APP_VERSION = "3.04";
// Line-voltage reading at or below which the supply counts as too low.
constexpr uint16_t COPROC_LINE_VOLTAGE_LOW = 491;
// Period of the requests sent to the coprocessor.
constexpr uint32_t COPROC_POLL_PERIOD_MS = 1000;
// Longest string or command text handed to the bus layer.
constexpr size_t COPROC_TEXT_MAX = 64;

// A received frame as the handlers see it: type at byte 0, length byte at
// byte 1, payload from byte 2, CRC in the last two bytes.
struct CoprocFrame {
    const uint8_t *data;
    uint16_t length;
};

using CoprocMsgHandler = int (*)(const CoprocFrame &frame);

struct CoprocMsgEntry {
    uint32_t type;
    CoprocMsgHandler handler;
};

// A thermistor reading as the sensor module asks for it: byte 0 selects the
// sensor (0, the only external one), bytes 2-3 carry the sensor's second
// word and bytes 4-5 its first word, in host order.
struct CoprocTempReading {
    uint8_t sensorIndex;
    uint8_t unused;
    uint16_t secondWord;
    uint16_t firstWord;
};
static_assert(sizeof(CoprocTempReading) == 6, "a thermistor reading record is 6 bytes");
static_assert(offsetof(CoprocTempReading, secondWord) == 2, "second word at byte 2");
static_assert(offsetof(CoprocTempReading, firstWord) == 4, "first word at byte 4");

// The link to the coprocessor, or null when the port could not be opened.
extern CoprocComm *g_coprocHdl;
// The text last handed to the bus layer (a string or a command), terminated.
extern char g_stringBuf[COPROC_TEXT_MAX + 1];

// Opens the link on the named device and starts the request timer. Returns
// -1 when the port could not be opened (every send is then skipped).
int coprocessorInit(const char *device);

// Sends the periodic requests when due, then reads and dispatches whatever
// the coprocessor sent. Called once per main-loop pass.
void coprocessorPoll();

// Sends one packet through g_coprocHdl when the link exists.
void coprocessorSendPacket(uint8_t type, uint8_t payloadLength, const uint8_t *payload);

// Validates a frame and calls the first handler of coprocMsgTable for its
// type. Returns -1 for an invalid frame, 0 otherwise (also for a packet of
// unknown type, which is ignored).
int coprocMsgProcess(const uint8_t *frame, uint16_t length);

// Latest raw thermistor words (0 before any report).
void coprocMsgGetInternalTemp(CoprocTempReading *reading);
void coprocMsgGetExternalTemp(CoprocTempReading *reading);
// Latest raw humidity reading (0 before any report).
uint16_t coprocMsgGetRelHumidity();
// 1 and the last line-voltage reading, or 0 (nothing written) when none has
// arrived yet or out is null.
int coprocMsgGetLineVoltage(uint16_t *out);

// One-shot requests set when the bus came online or levels were enabled:
// return the request and clear it.
int isDumpChannels();
int isDumpLevels();

// The sends of the packet table, for the modules that make them.
void coprocMsgSendStartup();                                             // 0x16
void coprocMsgSendVersionKnown();                                        // 0x10
void coprocMsgSendChannel(uint8_t type, uint8_t channel, uint8_t state); // 0x03 or 0x13
void coprocMsgSendLevel(uint8_t level, uint8_t value);                   // 0x04
void coprocMsgSendReply(const char *text);         // 0x0C, at most 255 characters
void coprocMsgSendVersion(const char *busVersion); // 0x18 "busVersion/3.04"
void coprocMsgSendAddress(uint8_t address);        // 0x0F three times
void coprocMsgSendBusTest(const char *text);       // 0x12

// What the bus controller sends is handed to the control-bus layer, which
// registers these when it starts (a null table or entry drops the packet).
struct CoprocBusHandlers {
    void (*channel)(uint8_t channel, uint8_t state);
    void (*level)(uint8_t level, uint32_t value);
    void (*string)(char *text);
    void (*command)(char *text);
};
void coprocMsgSetBusHandlers(const CoprocBusHandlers *handlers);

// Told after each temperature and humidity report has been stored; the
// sensor module registers them.
struct CoprocSensorHooks {
    void (*temperatureReported)();
    void (*humidityReported)();
};
void coprocMsgSetSensorHooks(const CoprocSensorHooks *hooks);

// Forgets the link and every store (tests); the registered functions stay.
void coprocMsgReset();
