// Fuzz target for the coprocessor link: the receive state machine, the frame
// check, the packet encoder and the message handlers.
//
// The first input byte picks the mode, the rest is its data.
//  - Even, bit 2 clear: a byte stream from the port, fed to the receive state
//    machine (with passthrough switched on and off on the way when bit 1 is
//    set).
//  - Even, bit 2 set, bit 3 clear: the same stream written into a pipe that
//    the link polls, as the main loop reads the port, until the writer hangs up.
//  - Even, bits 2 and 3 set: a firmware transfer, a step per control byte: a
//    block with a correct CRC (numbered as expected, as the last one, or one
//    ahead), a stray byte, the end of transfer, or seconds of silence. After
//    a second of silence the receiver must take the block it expects,
//    whatever stray or cut blocks came before.
//  - Odd, bit 1 clear: the body of one frame (type, length, payload) that
//    gets a correct CRC appended, so that every handler sees arbitrary
//    payloads and length bytes.
//  - Odd, bit 1 set: a run of packets, each a type byte, a payload length
//    byte and that many payload bytes, encoded as the coprocessor sends them
//    and received in one stream, so that handlers see sequences.
// Replies the handlers send go to /dev/null through the thermostat's own link;
// whatever they write on the board goes to a throw-away board root.
#include "board_root.h"
#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "coproc/download.h"
#include "core/util.h"
#include "fuzz_support.h"
#include "platform/platform_test.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

void receiveStream(const uint8_t *data, size_t size, bool passthrough) {
    CoprocComm *comm = coprocCommAttach(-1, coprocMsgProcess);
    if (comm == nullptr) {
        return;
    }
    if (passthrough) {
        size_t half = size / 2;
        coprocCommReceive(comm, data, half);
        coprocCommEnterPassthrough(comm, [](uint8_t) {});
        coprocCommReceive(comm, data, half / 2);
        coprocCommExitPassthrough(comm);
        coprocCommReceive(comm, data + half, size - half);
    } else {
        coprocCommReceive(comm, data, size);
    }
    coprocCommClose(comm);
}

void pollStream(const uint8_t *data, size_t size) {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK) != 0) {
        return;
    }
    CoprocComm *comm = coprocCommAttach(fds[0], coprocMsgProcess);
    if (comm == nullptr) {
        close(fds[0]);
        close(fds[1]);
        return;
    }
    // A pipe holds 64 KiB; whatever does not fit is simply not sent.
    ssize_t sent = size > 0 ? write(fds[1], data, size) : 0;
    (void)sent;
    coprocCommPoll(comm);
    close(fds[1]);
    coprocCommPoll(comm);
    coprocCommClose(comm);
}

void receiveFrame(const uint8_t *data, size_t size) {
    uint8_t frame[COPROC_MAX_FRAME];
    size_t body = size < COPROC_MAX_FRAME - 2 ? size : COPROC_MAX_FRAME - 2;
    if (body > 0) {
        memcpy(frame, data, body);
    }
    uint16_t crc = coprocCommCrc(0, frame, body);
    frame[body] = static_cast<uint8_t>(crc >> 8);
    frame[body + 1] = static_cast<uint8_t>(crc);
    coprocMsgProcess(frame, static_cast<uint16_t>(body + 2));
}

void receivePackets(const uint8_t *data, size_t size) {
    CoprocComm *comm = coprocCommAttach(-1, coprocMsgProcess);
    if (comm == nullptr) {
        return;
    }
    uint8_t encoded[COPROC_MAX_ENCODED];
    size_t at = 0;
    while (at + 2 <= size) {
        uint8_t type = data[at];
        size_t length = data[at + 1];
        at += 2;
        if (length > size - at) {
            length = size - at;
        }
        size_t n = coprocCommEncode(type, static_cast<uint8_t>(length), data + at, encoded,
                                    sizeof(encoded));
        coprocCommReceive(comm, encoded, n);
        at += length;
    }
    coprocCommClose(comm);
}

// Blocks the receiver has taken so far (none of them failed to be written).
uint32_t acceptedBlocks() {
    uint32_t bytes = downloadGetReceivedBytes();
    return bytes == 0 ? 0
                      : (bytes - (DOWNLOAD_BLOCK_DATA - DOWNLOAD_HEADER_BYTES)) /
                                static_cast<uint32_t>(DOWNLOAD_BLOCK_DATA) +
                            1;
}

void downloadSteps(const uint8_t *data, size_t size) {
    downloadReset();
    downloadStart(size % 2 != 0 ? DOWNLOAD_APP_ARCHIVE : DOWNLOAD_GFX_ARCHIVE);
    platformFakeClockAdvanceMs(DOWNLOAD_REQUEST_PERIOD_MS + 1);
    downloadPoll();
    // Whatever came before, after a quiet second the receiver is on a block
    // boundary: the block it expects is then taken.
    bool settled = true;
    for (size_t at = 0; at < size;) {
        uint8_t step = data[at++];
        if (step % 4 == 0) {
            const auto expected = static_cast<uint8_t>(acceptedBlocks() + 1);
            uint8_t block[DOWNLOAD_BLOCK_SIZE] = {DOWNLOAD_SOH};
            block[1] = static_cast<uint8_t>(expected + (step >> 2) % 3 - 1);
            block[2] = static_cast<uint8_t>(~block[1]);
            size_t n = std::min(size - at, DOWNLOAD_BLOCK_DATA);
            memcpy(block + 3, data + at, n);
            at += n;
            utilPutUint16BE(coprocCommCrc(0, block + 3, DOWNLOAD_BLOCK_DATA), block + 131);
            const bool due = settled && block[1] == expected &&
                             downloadGetState() != DOWNLOAD_IDLE &&
                             downloadGetState() != DOWNLOAD_ENDED;
            const uint32_t before = downloadGetReceivedBytes();
            for (uint8_t byte : block) {
                downloadProc(byte);
            }
            const bool taken = downloadGetReceivedBytes() != before;
            if (due && !taken) {
                abort();
            }
            settled = settled && taken;
        } else if (step % 4 == 1 && at < size) {
            downloadProc(data[at++]);
            settled = false;
        } else if (step % 4 == 2) {
            downloadProc(DOWNLOAD_EOT);
            settled = false;
        } else {
            const uint32_t ms = (step >> 2) * 1000u;
            platformFakeClockAdvanceMs(ms);
            downloadPoll();
            settled = settled || ms >= DOWNLOAD_QUIET_MS;
        }
    }
    downloadReset();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzQuietStart();
    static TempBoardRoot root;
    // Downloads write their files under /tmp.
    root.write("/tmp/.keep", "");
    platformFakeClockSet(1000, 0, 1718000000);
    int sink = open("/dev/null", O_WRONLY);
    if (sink >= 0) {
        g_coprocHdl = coprocCommAttach(sink, coprocMsgProcess);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    uint8_t mode = data[0];
    data++;
    size--;
    if ((mode & 1) == 0) {
        if ((mode & 12) == 12) {
            downloadSteps(data, size);
        } else if ((mode & 4) != 0) {
            pollStream(data, size);
        } else {
            receiveStream(data, size, (mode & 2) != 0);
        }
    } else if ((mode & 2) != 0) {
        receivePackets(data, size);
    } else {
        receiveFrame(data, size);
    }
    return 0;
}
