// Coprocessor link layer: port set-up, SLIP framing, CRC-16/XMODEM, the
// receive state machine, raw sends and passthrough.
#include "coproc/coproc_comm.h"

#include "coproc/coproc_msg.h"
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// How long a send waits for room in a full output queue before it drops the
// rest of the packet (the receiver resynchronises on the next END).
constexpr int SEND_WAIT_MS = 20;
// How often a port that hung up is opened again.
constexpr uint32_t REOPEN_PERIOD_MS = 1000;

// Bytes of one packet on their way out. A packet is staged whole and then
// written, so that a short write can be completed instead of losing bytes.
struct OutBuffer {
    uint8_t bytes[COPROC_MAX_ENCODED];
    size_t count;
};

void sendByte(OutBuffer *out, uint8_t byte) {
    if (out->count < sizeof(out->bytes)) {
        out->bytes[out->count++] = byte;
    }
}

void sendSlipByte(OutBuffer *out, uint8_t byte) {
    if (byte == COPROC_SLIP_END) {
        sendByte(out, COPROC_SLIP_ESC);
        sendByte(out, COPROC_SLIP_ESC_END);
    } else if (byte == COPROC_SLIP_ESC) {
        sendByte(out, COPROC_SLIP_ESC);
        sendByte(out, COPROC_SLIP_ESC_ESC);
    } else {
        sendByte(out, byte);
    }
}

void encodePacket(OutBuffer *out, uint8_t type, uint8_t payloadLength, const uint8_t *payload) {
    uint8_t header[2] = {type, static_cast<uint8_t>(payloadLength + COPROC_FRAME_OVERHEAD)};
    uint16_t crc = coprocCommCrc(0, &header[0], 1);
    crc = coprocCommCrc(crc, &header[1], 1);
    crc = coprocCommCrc(crc, payload, payload != nullptr ? payloadLength : 0);
    out->count = 0;
    sendByte(out, COPROC_SLIP_END);
    sendSlipByte(out, header[0]);
    sendSlipByte(out, header[1]);
    for (size_t i = 0; payload != nullptr && i < payloadLength; i++) {
        sendSlipByte(out, payload[i]);
    }
    sendSlipByte(out, static_cast<uint8_t>(crc >> 8));
    sendSlipByte(out, static_cast<uint8_t>(crc));
    sendByte(out, COPROC_SLIP_END);
}

// Writes all bytes to the non-blocking port, waiting a little for room when
// the queue is full. Write errors are not reported to the caller.
void writeAll(CoprocComm *comm, const uint8_t *bytes, size_t count) {
    if (comm->fd < 0 || comm->lost) {
        return;
    }
    size_t done = 0;
    while (done < count) {
        ssize_t put = platformSerialWrite(comm->fd, bytes + done, count - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
            comm->bytesWritten += static_cast<uint32_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd p = {comm->fd, POLLOUT, 0};
            if (poll(&p, 1, SEND_WAIT_MS) > 0 && (p.revents & POLLOUT) != 0) {
                continue;
            }
        }
        return;
    }
}

// Writes what a held burst has collected.
void writeHeld(CoprocComm *comm) {
    if (comm->heldCount > 0) {
        writeAll(comm, comm->held, comm->heldCount);
        comm->heldCount = 0;
    }
}

// Writes bytes now, or adds them to the held burst.
void sendBytes(CoprocComm *comm, const uint8_t *bytes, size_t count) {
    if (!comm->holding) {
        writeAll(comm, bytes, count);
        return;
    }
    if (comm->heldCount + count > sizeof(comm->held)) {
        writeHeld(comm);
    }
    if (count > sizeof(comm->held)) {
        writeAll(comm, bytes, count);
        return;
    }
    memcpy(comm->held + comm->heldCount, bytes, count);
    comm->heldCount = static_cast<uint16_t>(comm->heldCount + count);
}

// Raw, 8-bit, 115200 baud in and out, applied at once. Returns 0, or -1 with
// the message printed and errno kept.
int configurePort(int fd) {
    // A line carried by a socket has no baud rate or line discipline.
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) {
        return 0;
    }
    struct termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        printf("failed getting attributes (%s)\n", strerror(errno));
        return -1;
    }
    cfmakeraw(&tio);
    // VMIN 1 (as cfmakeraw leaves it) makes a read with nothing waiting fail
    // with EAGAIN on the non-blocking port; a read of 0 then means hang-up.
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        printf("failed setting attributes (%s)\n", strerror(errno));
        return -1;
    }
    return 0;
}

// Opens the device by its design path on the board root; a path that only
// exists as given (a pseudo-terminal named by hand) is opened as it is.
int openDevice(const char *device, char *opened, size_t openedSize) {
    char rooted[PATH_MAX];
    const char *path = platformPath(device, rooted, sizeof(rooted));
    if (path == nullptr) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = platformOpenSerial(path);
    if (fd < 0 && errno == ENOENT && strcmp(path, device) != 0) {
        path = device;
        fd = platformOpenSerial(path);
    }
    if (fd >= 0 && opened != nullptr) {
        snprintf(opened, openedSize, "%s", path);
    }
    return fd;
}

void storeByte(CoprocComm *comm, uint8_t byte) {
    // The buffer never holds more than a full frame: a longer one is dropped
    // below before another byte can be stored.
    if (comm->rxCount < COPROC_MAX_FRAME) {
        comm->rxBuf[comm->rxCount++] = byte;
    }
}

void procByte(CoprocComm *comm, uint8_t byte) {
    switch (comm->rxState) {
    case COPROC_RX_HUNTING:
        if (byte == COPROC_SLIP_END) {
            comm->rxCount = 0;
            comm->rxState = COPROC_RX_IN_FRAME;
        }
        return;
    case COPROC_RX_IN_FRAME:
        if (byte == COPROC_SLIP_ESC) {
            comm->rxState = COPROC_RX_ESCAPE;
            return;
        }
        if (byte == COPROC_SLIP_END) {
            if (comm->rxCount > 0 && comm->frameHandler != nullptr) {
                comm->frameHandler(comm->rxBuf, comm->rxCount);
            }
            comm->rxCount = 0;
            return;
        }
        break;
    case COPROC_RX_ESCAPE:
        if (byte == COPROC_SLIP_ESC_END) {
            byte = COPROC_SLIP_END;
        } else if (byte == COPROC_SLIP_ESC_ESC) {
            byte = COPROC_SLIP_ESC;
        } else {
            comm->rxCount = 0;
            comm->rxState = COPROC_RX_HUNTING;
            return;
        }
        comm->rxState = COPROC_RX_IN_FRAME;
        break;
    default:
        comm->rxCount = 0;
        comm->rxState = COPROC_RX_HUNTING;
        return;
    }
    // A data byte. A frame already holding the longest allowed 68 bytes
    // cannot take another: it is dropped and the next END starts afresh. (A
    // frame of exactly 68 bytes, a 64-byte payload, is still received.)
    if (comm->rxCount >= COPROC_MAX_FRAME) {
        comm->rxCount = 0;
        comm->rxState = COPROC_RX_HUNTING;
        return;
    }
    storeByte(comm, byte);
}

void feedByte(CoprocComm *comm, uint8_t byte) {
    if (comm->passthrough != 0 && comm->passthroughHandler != nullptr) {
        comm->passthroughHandler(byte);
    } else {
        procByte(comm, byte);
    }
}

// The port hung up (the other side of a pseudo-terminal went away): stop
// reading it and try to open it again from time to time.
void markLost(CoprocComm *comm) {
    if (comm->device[0] == '\0') {
        return;
    }
    close(comm->fd);
    comm->fd = -1;
    comm->lost = true;
    comm->heldCount = 0;
    comm->rxCount = 0;
    comm->rxState = COPROC_RX_HUNTING;
    util_set_expiration(&comm->reopenTimer, REOPEN_PERIOD_MS);
}

void tryReopen(CoprocComm *comm) {
    if (!util_check_expiration(&comm->reopenTimer)) {
        return;
    }
    util_set_expiration(&comm->reopenTimer, REOPEN_PERIOD_MS);
    int fd = openDevice(comm->device, nullptr, 0);
    if (fd < 0) {
        return;
    }
    if (configurePort(fd) != 0) {
        close(fd);
        return;
    }
    comm->fd = fd;
    comm->lost = false;
}

CoprocComm *allocContext() {
    auto *comm = static_cast<CoprocComm *>(calloc(1, sizeof(CoprocComm)));
    if (comm == nullptr) {
        return nullptr;
    }
    comm->rxState = COPROC_RX_HUNTING;
    comm->fd = -1;
    return comm;
}

} // namespace

uint16_t coprocCommCrc(uint16_t initial, const uint8_t *data, size_t count) {
    uint16_t crc = initial;
    for (size_t i = 0; i < count; i++) {
        crc = static_cast<uint16_t>(crc ^ (static_cast<uint16_t>(data[i]) << 8));
        for (int bit = 0; bit < 8; bit++) {
            crc = (crc & 0x8000) != 0 ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                      : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

CoprocComm *coprocCommInit(const char *device) {
    CoprocComm *comm = allocContext();
    if (comm == nullptr) {
        printf("failed allocating comm info struct(%s)\n", strerror(errno));
        return nullptr;
    }
    comm->fd = openDevice(device, nullptr, 0);
    if (comm->fd < 0) {
        printf("failed opening port (%s)\n", strerror(errno));
        free(comm);
        return nullptr;
    }
    if (configurePort(comm->fd) != 0) {
        close(comm->fd);
        free(comm);
        return nullptr;
    }
    comm->frameHandler = coprocMsgProcess;
    snprintf(comm->device, sizeof(comm->device), "%s", device);
    return comm;
}

CoprocComm *coprocCommAttach(int fd, CoprocFrameHandler handler) {
    CoprocComm *comm = allocContext();
    if (comm == nullptr) {
        return nullptr;
    }
    comm->fd = fd;
    comm->frameHandler = handler;
    return comm;
}

void coprocCommClose(CoprocComm *comm) {
    if (comm == nullptr) {
        return;
    }
    writeHeld(comm);
    if (comm->fd >= 0) {
        close(comm->fd);
    }
    free(comm);
}

void coprocCommSendPacket(CoprocComm *comm, uint8_t type, uint8_t payloadLength,
                          const uint8_t *payload) {
    if (comm == nullptr) {
        return;
    }
    OutBuffer out;
    encodePacket(&out, type, payloadLength, payload);
    sendBytes(comm, out.bytes, out.count);
}

void coprocCommSendRaw(CoprocComm *comm, uint8_t count, const uint8_t *bytes) {
    if (comm == nullptr || count == 0 || bytes == nullptr) {
        return;
    }
    sendBytes(comm, bytes, count);
}

void coprocCommHold(CoprocComm *comm) {
    if (comm != nullptr) {
        comm->holding = true;
    }
}

void coprocCommFlush(CoprocComm *comm) {
    if (comm != nullptr) {
        writeHeld(comm);
        comm->holding = false;
    }
}

void coprocCommPoll(CoprocComm *comm) {
    if (comm == nullptr) {
        return;
    }
    if (comm->lost) {
        tryReopen(comm);
        if (comm->lost) {
            return;
        }
    }
    if (comm->fd < 0) {
        return;
    }
    writeHeld(comm);
    uint8_t chunk[256];
    for (;;) {
        ssize_t got = platformSerialRead(comm->fd, chunk, sizeof(chunk));
        if (got > 0) {
            coprocCommReceive(comm, chunk, static_cast<size_t>(got));
            // A handler may have closed or replaced the port.
            if (comm->fd < 0) {
                return;
            }
            // A short read took all there was; what comes later waits for
            // the next poll.
            if (static_cast<size_t>(got) < sizeof(chunk)) {
                platformNoteLineDrained();
                return;
            }
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            markLost(comm);
        } else {
            platformNoteLineDrained();
        }
        return;
    }
}

void coprocCommReceive(CoprocComm *comm, const uint8_t *bytes, size_t count) {
    if (comm == nullptr || bytes == nullptr) {
        return;
    }
    for (size_t i = 0; i < count; i++) {
        feedByte(comm, bytes[i]);
    }
}

void coprocCommEnterPassthrough(CoprocComm *comm, CoprocPassthroughHandler handler) {
    if (comm == nullptr) {
        return;
    }
    comm->passthroughHandler = handler;
    comm->passthrough = 1;
}

void coprocCommExitPassthrough(CoprocComm *comm) {
    if (comm == nullptr) {
        return;
    }
    comm->passthrough = 0;
}

int coprocCommCheckFrame(const uint8_t *frame, size_t length) {
    if (frame == nullptr || length <= 3) {
        return -1;
    }
    uint16_t crc = coprocCommCrc(0, frame, length - 2);
    uint16_t sent = static_cast<uint16_t>((frame[length - 2] << 8) | frame[length - 1]);
    return crc == sent ? 0 : -1;
}

size_t coprocCommEncode(uint8_t type, uint8_t payloadLength, const uint8_t *payload, uint8_t *out,
                        size_t outSize) {
    OutBuffer staged;
    encodePacket(&staged, type, payloadLength, payload);
    if (out == nullptr || staged.count > outSize) {
        return 0;
    }
    memcpy(out, staged.bytes, staged.count);
    return staged.count;
}
