// Host flavour: the memory that the simulator and the application share in
// lock-step time (see lockstep.h). The clock changes hands through a futex
// word, and the coprocessor's line is a pair of byte rings, so that a
// simulated second costs no system call beyond the wake and the wait of
// each hand-over.
#include "platform/host_internal.h"
#include "platform/lockstep.h"
#include "platform/platform.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Descriptors whose reads and writes go through rings: the simulator's end
// of the line, or the application's copies of its end.
constexpr size_t RING_LINES = 4;

struct RingLine {
    int fd = -1;
    LockstepRing *receive = nullptr;
    LockstepRing *send = nullptr;
};

std::array<RingLine, RING_LINES> m_Lines;

const RingLine *lineOf(int fd) {
    for (const RingLine &line : m_Lines) {
        if (line.fd == fd && fd >= 0) {
            return &line;
        }
    }
    return nullptr;
}

long futex(std::atomic<uint32_t> *word, int op, uint32_t value, const struct timespec *timeout) {
    // Shared between processes: not FUTEX_PRIVATE_FLAG.
    return syscall(SYS_futex, reinterpret_cast<uint32_t *>(word), op, value, timeout, nullptr, 0);
}

} // namespace

int lockstepCreateShared(LockstepShared **region) {
    int fd = memfd_create("tstat-lockstep", MFD_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (ftruncate(fd, sizeof(LockstepShared)) != 0) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    LockstepShared *shared = lockstepMapShared(fd);
    if (shared == nullptr) {
        int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    // A new memory file reads as zeros: both rings empty, the simulator's turn.
    shared->magic = LOCKSTEP_SHARED_MAGIC;
    shared->size = sizeof(LockstepShared);
    *region = shared;
    return fd;
}

LockstepShared *lockstepMapShared(int fd) {
    void *at = mmap(nullptr, sizeof(LockstepShared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (at == MAP_FAILED) {
        return nullptr;
    }
    auto *shared = static_cast<LockstepShared *>(at);
    if (shared->magic != 0 &&
        (shared->magic != LOCKSTEP_SHARED_MAGIC || shared->size != sizeof(LockstepShared))) {
        munmap(at, sizeof(LockstepShared));
        errno = EINVAL;
        return nullptr;
    }
    return shared;
}

void lockstepUnmapShared(LockstepShared *region) {
    if (region != nullptr) {
        munmap(region, sizeof(LockstepShared));
    }
}

bool lockstepSendDescriptor(int socket, int fd) {
    char byte = 0;
    struct iovec iov = {&byte, 1};
    alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    struct msghdr message {};
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    struct cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    memcpy(CMSG_DATA(header), &fd, sizeof(int));
    ssize_t put;
    do {
        put = sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (put < 0 && errno == EINTR);
    return put == 1;
}

int lockstepReceiveDescriptor(int socket) {
    char byte = 0;
    struct iovec iov = {&byte, 1};
    alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    struct msghdr message {};
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    ssize_t got;
    do {
        got = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    struct cmsghdr *header = CMSG_FIRSTHDR(&message);
    if (got != 1 || header == nullptr || header->cmsg_type != SCM_RIGHTS ||
        header->cmsg_len != CMSG_LEN(sizeof(int))) {
        return -1;
    }
    int fd = -1;
    memcpy(&fd, CMSG_DATA(header), sizeof(int));
    return fd;
}

void lockstepGiveTurn(LockstepChannel *channel, uint32_t to) {
    channel->turn.store(to, std::memory_order_release);
    lockstepWakeTurn(channel);
}

void lockstepWakeTurn(LockstepChannel *channel) {
    futex(&channel->turn, FUTEX_WAKE, INT_MAX, nullptr);
}

uint32_t lockstepAwaitTurnChange(LockstepChannel *channel, uint32_t value, int timeoutMs) {
    uint32_t turn = channel->turn.load(std::memory_order_acquire);
    if (turn == value) {
        struct timespec timeout = {timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
        // Returns at once when the turn moved meanwhile (EAGAIN), on a wake,
        // a signal or the time-out: the caller looks again in any case.
        futex(&channel->turn, FUTEX_WAIT, value, &timeout);
        turn = channel->turn.load(std::memory_order_acquire);
    }
    return turn;
}

size_t lockstepRingPut(LockstepRing *ring, const void *data, size_t size) {
    uint32_t head = ring->head.load(std::memory_order_relaxed);
    uint32_t tail = ring->tail.load(std::memory_order_acquire);
    size_t room = LOCKSTEP_RING_BYTES - (head - tail);
    size_t n = size < room ? size : room;
    // An empty record may come without a buffer: memcpy must not see it.
    if (n == 0) {
        return 0;
    }
    size_t at = head & (LOCKSTEP_RING_BYTES - 1);
    size_t first = n < LOCKSTEP_RING_BYTES - at ? n : LOCKSTEP_RING_BYTES - at;
    memcpy(ring->bytes + at, data, first);
    memcpy(ring->bytes, static_cast<const uint8_t *>(data) + first, n - first);
    ring->head.store(head + static_cast<uint32_t>(n), std::memory_order_release);
    return n;
}

size_t lockstepRingTake(LockstepRing *ring, void *data, size_t size) {
    uint32_t tail = ring->tail.load(std::memory_order_relaxed);
    uint32_t head = ring->head.load(std::memory_order_acquire);
    size_t used = head - tail;
    size_t n = size < used ? size : used;
    if (n == 0) {
        return 0;
    }
    size_t at = tail & (LOCKSTEP_RING_BYTES - 1);
    size_t first = n < LOCKSTEP_RING_BYTES - at ? n : LOCKSTEP_RING_BYTES - at;
    memcpy(data, ring->bytes + at, first);
    memcpy(static_cast<uint8_t *>(data) + first, ring->bytes, n - first);
    ring->tail.store(tail + static_cast<uint32_t>(n), std::memory_order_release);
    return n;
}

size_t lockstepRingUsed(const LockstepRing *ring) {
    return ring->head.load(std::memory_order_acquire) - ring->tail.load(std::memory_order_acquire);
}

void lockstepRingDrop(LockstepRing *ring) {
    ring->tail.store(ring->head.load(std::memory_order_acquire), std::memory_order_release);
}

void lockstepAttachLine(int fd, LockstepRing *receive, LockstepRing *send) {
    if (receive == nullptr || send == nullptr) {
        for (RingLine &line : m_Lines) {
            if (line.fd == fd) {
                line = RingLine{};
            }
        }
        return;
    }
    for (RingLine &line : m_Lines) {
        if (line.fd < 0 || line.fd == fd) {
            line = RingLine{fd, receive, send};
            return;
        }
    }
    // Every place taken: the oldest copy gives way.
    m_Lines[0] = RingLine{fd, receive, send};
}

void hostLinesReset() {
    m_Lines.fill(RingLine{});
}

ssize_t platformSerialRead(int fd, void *data, size_t size) {
    const RingLine *line = lineOf(fd);
    if (line == nullptr) {
        return read(fd, data, size);
    }
    size_t got = lockstepRingTake(line->receive, data, size);
    if (got == 0 && size > 0) {
        errno = EAGAIN;
        return -1;
    }
    return static_cast<ssize_t>(got);
}

ssize_t platformSerialWrite(int fd, const void *data, size_t size) {
    const RingLine *line = lineOf(fd);
    if (line == nullptr) {
        return write(fd, data, size);
    }
    size_t put = lockstepRingPut(line->send, data, size);
    if (put == 0 && size > 0) {
        // Never EAGAIN: nothing empties the ring until the other side's turn.
        errno = ENOBUFS;
        return -1;
    }
    return static_cast<ssize_t>(put);
}
