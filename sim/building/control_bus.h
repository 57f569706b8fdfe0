// The control bus of a building: the controller and every unit's
// coprocessor on one pair of wires, which carries one frame at a time.
//
// A frame on the wire is its packet (type, length, payload) with the
// bus's own framing around it: the destination and source addresses, a
// CRC of two bytes and a start and an end byte, FRAME_OVERHEAD_BYTES in
// all besides the payload; each byte is BITS_PER_BYTE bits (a start bit,
// eight data bits, a stop bit), and the line stays quiet for GAP_BYTES byte
// times between two frames while the next sender turns its driver on. A
// frame waits until the bus is free, in the order frames were sent, and
// reaches its receivers when its last bit has: polling many units takes
// the time it would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace sim {

struct BusFrame {
    int from = -1;          // the unit that sent it (its index); -1: the controller
    int address = -1;       // from the controller: the address it goes to
    bool broadcast = false; // from the controller: to every unit
    uint8_t type = 0;
    std::vector<uint8_t> payload;
};

class ControlBus {
  public:
    static constexpr size_t FRAME_OVERHEAD_BYTES = 8;
    static constexpr int BITS_PER_BYTE = 10;
    static constexpr size_t GAP_BYTES = 2;

    explicit ControlBus(int bitsPerSecond) : m_bitsPerSecond(bitsPerSecond) {}

    // Puts a frame in line at simulated time nowMs (never earlier than the
    // last).
    void send(const BusFrame &frame, int64_t nowMs);
    // The frames whose last bit was on the wire by nowMs, in order.
    std::vector<BusFrame> arrived(int64_t nowMs);
    // When the next frame arrives (INT64_MAX: none on the way).
    int64_t nextArrivalMs() const;
    // Microseconds a frame of so many payload bytes occupies the wire.
    int64_t frameMicros(size_t payloadBytes) const;

    struct Counts {
        uint64_t frames = 0;
        int64_t busyMicros = 0;
        int64_t longestWaitMicros = 0; // from sending to the first bit
    };
    const Counts &counts() const { return m_counts; }

  private:
    struct OnTheWay {
        BusFrame frame;
        int64_t arrivesMs;
    };
    int m_bitsPerSecond;
    int64_t m_freeAtMicros = 0;
    std::deque<OnTheWay> m_onTheWay;
    Counts m_counts;
};

} // namespace sim
