// XMODEM-style block sender for firmware downloads.
#include "download.h"

#include "coproc/coproc_comm.h"

#include <algorithm>

namespace sim {

void DownloadSender::start(const std::vector<uint8_t> &content) {
    std::vector<uint8_t> stream;
    stream.push_back(static_cast<uint8_t>(content.size() >> 8));
    stream.push_back(static_cast<uint8_t>(content.size()));
    stream.insert(stream.end(), content.begin(), content.end());
    m_blocks.clear();
    for (size_t at = 0; at < stream.size(); at += BLOCK_DATA) {
        std::vector<uint8_t> data(BLOCK_DATA, 0x1A);
        size_t n = std::min(BLOCK_DATA, stream.size() - at);
        std::copy(stream.begin() + static_cast<long>(at),
                  stream.begin() + static_cast<long>(at + n), data.begin());
        m_blocks.push_back(data);
    }
    m_state = State::WaitingForStart;
    m_current = 0;
    m_acked = 0;
    m_naks = 0;
    m_inFrame = false;
}

void DownloadSender::cancel() {
    if (active()) {
        m_state = State::Failed;
    }
}

std::vector<uint8_t> DownloadSender::block(size_t index) const {
    std::vector<uint8_t> out;
    if (index >= m_blocks.size()) {
        return out;
    }
    // Block numbers start at 1 and wrap from 255 to 0.
    auto number = static_cast<uint8_t>(index + 1);
    out.push_back(SOH);
    out.push_back(number);
    out.push_back(static_cast<uint8_t>(~number));
    out.insert(out.end(), m_blocks[index].begin(), m_blocks[index].end());
    uint16_t crc = coprocCommCrc(0, m_blocks[index].data(), BLOCK_DATA);
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc));
    return out;
}

std::vector<uint8_t> DownloadSender::onByte(uint8_t byte) {
    // SLIP frames from the thermostat (its periodic requests) pass by.
    if (byte == COPROC_SLIP_END) {
        m_inFrame = !m_inFrame;
        return {};
    }
    if (m_inFrame || !active()) {
        return {};
    }
    switch (m_state) {
    case State::WaitingForStart:
        if (byte == NAK) {
            m_state = State::Sending;
            m_current = 0;
            return block(0);
        }
        return {};
    case State::Sending:
        if (byte == NAK) {
            m_naks++;
            return block(m_current);
        }
        if (byte == ACK) {
            m_acked = m_current + 1;
            if (m_current + 1 < m_blocks.size()) {
                m_current++;
                return block(m_current);
            }
            m_state = State::EndSent;
            return {EOT};
        }
        return {};
    case State::EndSent:
        if (byte == DONE) {
            m_state = State::Done;
        } else if (byte == NAK) {
            return {EOT};
        }
        return {};
    default:
        return {};
    }
}

} // namespace sim
