// The sending side of a firmware download: the file goes to the thermostat
// as 128-byte blocks (SOH, number, its complement, data, CRC-16 high byte
// first), each sent when the receiver asks with NAK (first block or resend)
// or ACK (next block), then EOT; the receiver ends with ACK and 0x16.
//
// The receiver drops the first two bytes of the first block, so the sender
// puts two bytes in front of the file (its size modulo 65536, big-endian);
// the last block is padded with 0x1A.
//
// During the transfer the thermostat keeps sending its framed periodic
// requests; bytes inside SLIP frames are not control bytes and are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class DownloadSender {
  public:
    static constexpr uint8_t SOH = 0x01;
    static constexpr uint8_t EOT = 0x04;
    static constexpr uint8_t ACK = 0x06;
    static constexpr uint8_t NAK = 0x15;
    static constexpr uint8_t DONE = 0x16;
    static constexpr size_t BLOCK_DATA = 128;
    static constexpr size_t BLOCK_SIZE = BLOCK_DATA + 5;

    enum class State { Idle, WaitingForStart, Sending, EndSent, Done, Failed };

    // Starts a transfer of content. Nothing is sent until the receiver asks.
    void start(const std::vector<uint8_t> &content);
    void cancel();

    // One byte from the receiver. Returns the bytes to send in answer
    // (possibly none).
    std::vector<uint8_t> onByte(uint8_t byte);

    State state() const { return m_state; }
    bool active() const {
        return m_state == State::WaitingForStart || m_state == State::Sending ||
               m_state == State::EndSent;
    }
    size_t blocks() const { return m_blocks.size(); }
    size_t blocksAcknowledged() const { return m_acked; }
    unsigned naks() const { return m_naks; }
    // One block as it goes on the wire (index from 0).
    std::vector<uint8_t> block(size_t index) const;

  private:
    std::vector<std::vector<uint8_t>> m_blocks;
    State m_state = State::Idle;
    size_t m_current = 0; // index of the block last sent
    size_t m_acked = 0;
    unsigned m_naks = 0;
    bool m_inFrame = false;
};

} // namespace sim
