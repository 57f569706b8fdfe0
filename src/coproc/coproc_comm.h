// Coprocessor link layer: the framed serial protocol between the thermostat
// and its coprocessor.
//
// A packet is a type byte, a length byte (payload size + 4), the payload and a
// CRC-16/XMODEM over type, length and payload (high byte first), SLIP-stuffed
// and enclosed in END bytes. This module opens and configures the port,
// encodes and sends packets, runs the receive state machine, validates frames
// and hands each complete frame to a frame handler (the thermostat's message
// dispatcher by default), sends raw unframed bytes, and can switch to a
// passthrough mode in which every received byte goes to another consumer (the
// firmware download).
//
// The simulator uses the same code for the coprocessor's side of the link: it
// attaches a context to the master side of its pseudo-terminal with a frame
// handler of its own.
#pragma once

#include "core/util.h"

#include <cstddef>
#include <cstdint>

// SLIP framing bytes.
constexpr uint8_t COPROC_SLIP_END = 0xC0;
constexpr uint8_t COPROC_SLIP_ESC = 0xDB;
constexpr uint8_t COPROC_SLIP_ESC_END = 0xDC;
constexpr uint8_t COPROC_SLIP_ESC_ESC = 0xDD;

// Longest unescaped frame the receiver holds: type, length, 64 payload bytes, CRC.
constexpr size_t COPROC_MAX_FRAME = 68;
constexpr size_t COPROC_MAX_PAYLOAD = COPROC_MAX_FRAME - 4;
// Bytes a frame adds around its payload: type, length and the two CRC bytes.
constexpr size_t COPROC_FRAME_OVERHEAD = 4;
// Longest encoded packet: END, every byte of type, length, 255 payload bytes
// and CRC escaped, END.
constexpr size_t COPROC_MAX_ENCODED = 2 * (255 + COPROC_FRAME_OVERHEAD) + 2;
// Bytes a held burst of sends collects before it is written early.
constexpr size_t COPROC_HELD_BYTES = 512;

// Receive states.
enum CoprocRxState : uint32_t {
    COPROC_RX_HUNTING = 0,
    COPROC_RX_ESCAPE = 1,
    COPROC_RX_IN_FRAME = 2,
};

// Receives one complete frame (type, length, payload, CRC; unescaped).
// Returns 0 when it was processed, -1 when it was rejected.
using CoprocFrameHandler = int (*)(const uint8_t *frame, uint16_t length);
// Receives every byte while passthrough is on.
using CoprocPassthroughHandler = void (*)(uint8_t byte);

// The link context, one per port. Allocated once and kept for the life of
// the process; its fields are the link layer's own.
struct CoprocComm {
    uint8_t rxBuf[COPROC_MAX_FRAME];
    uint16_t rxCount;
    uint32_t rxState; // CoprocRxState
    int fd;
    uint32_t passthrough;
    CoprocPassthroughHandler passthroughHandler;
    CoprocFrameHandler frameHandler;
    // The device path when the link was opened by name, so that a port that
    // hangs up (the simulator restarting) can be opened again; empty when the
    // descriptor was attached.
    char device[256];
    // Set while the port has hung up; a reopen is tried once the timer expires.
    bool lost;
    UtilTimer reopenTimer;
    // Between coprocCommHold and coprocCommFlush, sends collect here and go
    // out in one write: a burst of packets costs one system call.
    bool holding;
    uint16_t heldCount;
    uint8_t held[COPROC_HELD_BYTES];
    // Bytes written to the port so far (wrapping): a peer in the same
    // process (the simulator) sees from it whether anything was sent.
    uint32_t bytesWritten;
};

// Opens the named device (rooted on the simulated board) raw, 115200 baud,
// non-blocking, and returns a new context whose frames go to
// coprocMsgProcess. On failure prints why and returns nullptr.
CoprocComm *coprocCommInit(const char *device);

// A context on an already open descriptor (the simulator's pseudo-terminal
// master, or -1 for a context fed only through coprocCommReceive). The
// context takes the descriptor over. Returns nullptr when out of memory.
CoprocComm *coprocCommAttach(int fd, CoprocFrameHandler handler);

// Closes the port and frees the context (tools and tests; the thermostat
// keeps its link for the life of the process).
void coprocCommClose(CoprocComm *comm);

// CRC-16/XMODEM (polynomial 0x1021, initial value `initial`, MSB first, no
// reflection, no final XOR) over count bytes, continuing from `initial` so a
// CRC can be formed in pieces.
uint16_t coprocCommCrc(uint16_t initial, const uint8_t *data, size_t count);

// Sends one packet. A null context sends nothing. The length byte carries
// payloadLength + 4 modulo 256.
void coprocCommSendPacket(CoprocComm *comm, uint8_t type, uint8_t payloadLength,
                          const uint8_t *payload);

// Writes count bytes as they are, without framing or stuffing. A null
// context or a count of 0 sends nothing.
void coprocCommSendRaw(CoprocComm *comm, uint8_t count, const uint8_t *bytes);

// Holds the sends that follow until coprocCommFlush, which writes them at
// once (a burst of packets, one write). A poll or close flushes first, so an
// answer is never awaited for a request still held. Both ignore a null context.
void coprocCommHold(CoprocComm *comm);
void coprocCommFlush(CoprocComm *comm);

// Reads every byte that is available and passes each to the passthrough
// handler or the receive state machine. A null context does nothing.
void coprocCommPoll(CoprocComm *comm);

// Feeds bytes to the link as if they had been read from the port.
void coprocCommReceive(CoprocComm *comm, const uint8_t *bytes, size_t count);

// Passthrough: while on, every received byte goes to the handler and no
// packets are parsed. Both ignore a null context.
void coprocCommEnterPassthrough(CoprocComm *comm, CoprocPassthroughHandler handler);
void coprocCommExitPassthrough(CoprocComm *comm);

// Checks a received frame: more than 3 bytes and a CRC over all but the last
// two bytes that matches them (high byte first). Returns 0 or -1.
int coprocCommCheckFrame(const uint8_t *frame, size_t length);

// Encodes one packet into out (END, stuffed type, length, payload and CRC,
// END). Returns the number of bytes written, or 0 when out is too small.
size_t coprocCommEncode(uint8_t type, uint8_t payloadLength, const uint8_t *payload, uint8_t *out,
                        size_t outSize);
