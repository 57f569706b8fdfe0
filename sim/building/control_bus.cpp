// The control bus: frames in line, each on the wire for its length at the
// bus's bit rate.
#include "building/control_bus.h"

#include <algorithm>
#include <climits>

namespace sim {

int64_t ControlBus::frameMicros(size_t payloadBytes) const {
    // The packet's type and length byte, its payload and the bus's framing.
    int64_t bits = static_cast<int64_t>(2 + payloadBytes + FRAME_OVERHEAD_BYTES) * BITS_PER_BYTE;
    return (bits * 1000000 + m_bitsPerSecond - 1) / m_bitsPerSecond;
}

void ControlBus::send(const BusFrame &frame, int64_t nowMs) {
    int64_t nowMicros = nowMs * 1000;
    int64_t start = std::max(nowMicros, m_freeAtMicros);
    int64_t length = frameMicros(frame.payload.size());
    int64_t end = start + length;
    int64_t gap =
        (static_cast<int64_t>(GAP_BYTES) * BITS_PER_BYTE * 1000000 + m_bitsPerSecond - 1) /
        m_bitsPerSecond;
    m_freeAtMicros = end + gap;
    m_counts.frames++;
    m_counts.busyMicros += length;
    m_counts.longestWaitMicros = std::max(m_counts.longestWaitMicros, start - nowMicros);
    // It is there at the first whole millisecond of the clock after its last bit.
    m_onTheWay.push_back({frame, (end + 999) / 1000});
}

std::vector<BusFrame> ControlBus::arrived(int64_t nowMs) {
    std::vector<BusFrame> out;
    while (!m_onTheWay.empty() && m_onTheWay.front().arrivesMs <= nowMs) {
        out.push_back(std::move(m_onTheWay.front().frame));
        m_onTheWay.pop_front();
    }
    return out;
}

int64_t ControlBus::nextArrivalMs() const {
    return m_onTheWay.empty() ? INT64_MAX : m_onTheWay.front().arrivesMs;
}

} // namespace sim
