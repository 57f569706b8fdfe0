// The link between a building and one of its units' simulators: records on
// the shared rings, and the unit's side of the building's clock.
#include "unit_link.h"

#include "board/run_support.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <vector>

namespace sim {

namespace {

constexpr size_t HEADER_BYTES = 3;
// Host milliseconds of one wait for the building's NOW, after which the
// unit looks whether the building is still there.
constexpr int WAIT_SLICE_MS = 1000;

bool peerGone(int fd) {
    char byte = 0;
    ssize_t got = recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

} // namespace

bool putLinkRecord(LockstepRing *ring, uint8_t kind, const void *data, size_t size) {
    if (size > LINK_RECORD_MAX ||
        LOCKSTEP_RING_BYTES - lockstepRingUsed(ring) < HEADER_BYTES + size) {
        return false;
    }
    const uint8_t header[HEADER_BYTES] = {kind, static_cast<uint8_t>(size & 0xFF),
                                          static_cast<uint8_t>(size >> 8)};
    lockstepRingPut(ring, header, sizeof(header));
    lockstepRingPut(ring, data, size);
    return true;
}

bool takeLinkRecords(LockstepRing *ring, const LinkRecordHandler &each) {
    std::vector<uint8_t> data;
    while (lockstepRingUsed(ring) >= HEADER_BYTES) {
        uint8_t header[HEADER_BYTES];
        lockstepRingTake(ring, header, sizeof(header));
        size_t size = header[1] | static_cast<size_t>(header[2]) << 8;
        if (size > LINK_RECORD_MAX || lockstepRingUsed(ring) < size) {
            lockstepRingDrop(ring);
            return false;
        }
        data.resize(size);
        lockstepRingTake(ring, data.data(), size);
        each(header[0], data.data(), size);
    }
    return lockstepRingUsed(ring) == 0;
}

bool BuildingClient::open(int fd, std::string *error) {
    m_fd = FileDescriptor(fd);
    FileDescriptor memory(lockstepReceiveDescriptor(fd));
    LockstepShared *region = memory.get() >= 0 ? lockstepMapShared(memory.get()) : nullptr;
    if (region == nullptr) {
        *error = std::string("no building link on descriptor ") + std::to_string(fd) + ": " +
                 strerror(errno != 0 ? errno : EINVAL);
        return false;
    }
    m_shared = std::shared_ptr<LockstepShared>(region, lockstepUnmapShared);
    return true;
}

bool BuildingClient::awaitNow(int64_t *nowMs, uint32_t *flags) {
    LockstepChannel &channel = m_shared->channel;
    for (;;) {
        uint32_t turn = lockstepAwaitTurnChange(&channel, LOCKSTEP_TURN_SIMULATOR, WAIT_SLICE_MS);
        if (turn == LOCKSTEP_TURN_APPLICATION) {
            *nowMs = channel.now.monoMs;
            *flags = channel.now.flags;
            return true;
        }
        if (turn != LOCKSTEP_TURN_SIMULATOR || g_EndSignal != 0 || peerGone(m_fd.get())) {
            return false;
        }
    }
}

void BuildingClient::answer(int64_t nextMs) {
    LockstepChannel &channel = m_shared->channel;
    channel.answer = LockstepMessage{LOCKSTEP_IDLE, 0, nextMs, 0};
    uint32_t mine = LOCKSTEP_TURN_APPLICATION;
    // The building may have closed the clock meanwhile: it stays closed.
    // The exchange alone gives the turn back: once it is done the building
    // may already have handed the next NOW over, which a store would undo.
    if (channel.turn.compare_exchange_strong(mine, LOCKSTEP_TURN_SIMULATOR,
                                             std::memory_order_acq_rel)) {
        lockstepWakeTurn(&channel);
    }
}

void BuildingClient::close() {
    if (m_shared && !m_closed) {
        m_closed = true;
        uint32_t turn = m_shared->channel.turn.load(std::memory_order_acquire);
        if (turn != LOCKSTEP_TURN_CLOSED) {
            lockstepGiveTurn(&m_shared->channel, LOCKSTEP_TURN_ENDED);
        }
    }
}

} // namespace sim
