// Coprocessor frames for tests: unescaped (type, length, payload, CRC) and
// SLIP-encoded as they travel on the link.
#pragma once

#include "coproc/coproc_comm.h"

#include <cstdint>
#include <vector>

// The length byte is the payload's length plus 4 unless lengthByte gives another.
inline std::vector<uint8_t> coprocFrameOf(uint8_t type, const std::vector<uint8_t> &payload,
                                          int lengthByte = -1) {
    std::vector<uint8_t> f;
    f.reserve(payload.size() + 4);
    f.push_back(type);
    f.push_back(static_cast<uint8_t>(lengthByte >= 0 ? lengthByte : payload.size() + 4));
    for (uint8_t b : payload) {
        f.push_back(b);
    }
    uint16_t crc = coprocCommCrc(0, f.data(), f.size());
    f.push_back(static_cast<uint8_t>(crc >> 8));
    f.push_back(static_cast<uint8_t>(crc));
    return f;
}

// A packet as the link carries it: framed by coprocCommEncode.
inline std::vector<uint8_t> coprocEncoded(uint8_t type, const std::vector<uint8_t> &payload) {
    uint8_t out[COPROC_MAX_ENCODED];
    size_t n = coprocCommEncode(type, static_cast<uint8_t>(payload.size()), payload.data(), out,
                                sizeof(out));
    return std::vector<uint8_t>(out, out + n);
}

// The frames in a stream of link bytes as the link's own receiver finds them
// (type, length, payload, CRC; unchecked), bytes outside frames left out.
inline std::vector<std::vector<uint8_t>> coprocDecoded(const std::vector<uint8_t> &stream) {
    static std::vector<std::vector<uint8_t>> found;
    found.clear();
    CoprocComm *decoder = coprocCommAttach(-1, [](const uint8_t *frame, uint16_t length) {
        found.emplace_back(frame, frame + length);
        return 0;
    });
    coprocCommReceive(decoder, stream.data(), stream.size());
    coprocCommClose(decoder);
    return found;
}
