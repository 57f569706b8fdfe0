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
//
// A block that is refused (NAK) or not answered within ANSWER_TIMEOUT_MS of
// host time is sent again; after MAX_RETRIES of either for the same block
// the transfer fails. Progress is reported at every tenth of the blocks.
//
// A file is sent as it is read, block by block: only a regular file whose
// blocks the thermostat takes whole (DOWNLOAD_MAX_BYTES) is accepted.
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
    static constexpr unsigned MAX_RETRIES = 10;
    static constexpr int64_t ANSWER_TIMEOUT_MS = 5000;

    enum class State { Idle, WaitingForStart, Sending, EndSent, Done, Failed };

    DownloadSender() = default;
    ~DownloadSender();
    DownloadSender(const DownloadSender &) = delete;
    DownloadSender &operator=(const DownloadSender &) = delete;

    // Starts a transfer of content. Nothing is sent until the receiver asks.
    void start(const std::vector<uint8_t> &content);
    // Starts a transfer of the file at path, read as it is sent. False, with
    // the reason, for anything but a regular file the thermostat can take.
    bool startFile(const std::string &path, std::string *why);
    // Bytes of the content or file being sent.
    size_t size() const { return m_size; }
    void cancel();

    // One byte from the receiver at host time nowMs. Returns the bytes to
    // send in answer (possibly none).
    std::vector<uint8_t> onByte(uint8_t byte, int64_t nowMs = 0);
    // The passing of host time: the block (or EOT) waiting for an answer
    // for ANSWER_TIMEOUT_MS is returned to be sent again.
    std::vector<uint8_t> onTick(int64_t nowMs);
    // True once each time the acknowledged blocks reach another tenth of the
    // transfer, with the percentage reached.
    bool takeProgress(unsigned *percent);

    State state() const { return m_state; }
    // Inside one of the receiver's SLIP frames (its periodic requests).
    bool inFrame() const { return m_inFrame; }
    bool active() const {
        return m_state == State::WaitingForStart || m_state == State::Sending ||
               m_state == State::EndSent;
    }
    size_t blocks() const { return m_blockCount; }
    size_t blocksAcknowledged() const { return m_acked; }
    unsigned naks() const { return m_naks; }
    // Blocks sent again after a NAK or a time-out.
    unsigned resent() const { return m_resent; }
    // Why the transfer failed ("" unless it did).
    const std::string &failure() const { return m_failure; }
    // One block as it goes on the wire (index from 0).
    std::vector<uint8_t> block(size_t index) const;

  private:
    // The block or EOT now waiting for its answer, sent (again).
    std::vector<uint8_t> sendCurrent(int64_t nowMs);
    // Counts a NAK or time-out of the current block; false once too many.
    bool retry(const char *why);

    // The 128 data bytes of a block: two size bytes, the content, 0x1A.
    void blockData(size_t index, uint8_t *data) const;
    // Forgets the content and closes the file.
    void release();
    void begin(size_t size);

    std::vector<uint8_t> m_content; // content given whole
    int m_fd = -1;                  // or the file read as it is sent
    size_t m_size = 0;
    size_t m_blockCount = 0;
    State m_state = State::Idle;
    size_t m_current = 0; // index of the block last sent
    size_t m_acked = 0;
    unsigned m_naks = 0;
    unsigned m_resent = 0;
    unsigned m_retries = 0; // of the current block
    unsigned m_reportedTenths = 0;
    int64_t m_sentAtMs = 0;
    std::string m_failure;
    bool m_inFrame = false;
};

} // namespace sim
