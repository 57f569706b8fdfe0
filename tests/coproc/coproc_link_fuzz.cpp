// Fuzz target for the coprocessor link: the receive state machine and the
// message dispatcher.
//
// The first input byte picks the mode. Even: the rest is a byte stream from
// the port, fed through the receive state machine (with passthrough switched
// on and off on the way when bit 1 is set). Odd: the rest is the body of one
// frame (type, length, payload) that gets a correct CRC appended, so that
// every handler sees arbitrary payloads and length bytes.
#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

size_t m_PassedBytes;

void countByte(uint8_t) {
    m_PassedBytes++;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    uint8_t mode = data[0];
    data++;
    size--;
    if ((mode & 1) == 0) {
        CoprocComm *comm = coprocCommAttach(-1, coprocMsgProcess);
        if (comm == nullptr) {
            return 0;
        }
        if ((mode & 2) != 0) {
            size_t half = size / 2;
            coprocCommReceive(comm, data, half);
            coprocCommEnterPassthrough(comm, countByte);
            coprocCommReceive(comm, data, half / 2);
            coprocCommExitPassthrough(comm);
            coprocCommReceive(comm, data + half, size - half);
        } else {
            coprocCommReceive(comm, data, size);
        }
        coprocCommClose(comm);
        return 0;
    }
    uint8_t frame[COPROC_MAX_FRAME];
    size_t body = size < COPROC_MAX_FRAME - 2 ? size : COPROC_MAX_FRAME - 2;
    if (body > 0) {
        memcpy(frame, data, body);
    }
    uint16_t crc = coprocCommCrc(0, frame, body);
    frame[body] = static_cast<uint8_t>(crc >> 8);
    frame[body + 1] = static_cast<uint8_t>(crc);
    coprocMsgProcess(frame, static_cast<uint16_t>(body + 2));
    return 0;
}
