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
    m_resent = 0;
    m_retries = 0;
    m_reportedTenths = 0;
    m_sentAtMs = 0;
    m_failure.clear();
    m_inFrame = false;
}

void DownloadSender::cancel() {
    if (active()) {
        m_state = State::Failed;
        m_failure = "cancelled";
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

std::vector<uint8_t> DownloadSender::sendCurrent(int64_t nowMs) {
    m_sentAtMs = nowMs;
    if (m_state == State::EndSent) {
        return {EOT};
    }
    return block(m_current);
}

bool DownloadSender::retry(const char *why) {
    if (++m_retries > MAX_RETRIES) {
        m_failure = std::string(why) + " " + std::to_string(MAX_RETRIES) + " times for " +
                    (m_state == State::EndSent ? std::string("the end of transfer")
                                               : "block " + std::to_string(m_current + 1));
        m_state = State::Failed;
        return false;
    }
    m_resent++;
    return true;
}

std::vector<uint8_t> DownloadSender::onByte(uint8_t byte, int64_t nowMs) {
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
            m_retries = 0;
            return sendCurrent(nowMs);
        }
        return {};
    case State::Sending:
        if (byte == NAK) {
            m_naks++;
            return retry("refused") ? sendCurrent(nowMs) : std::vector<uint8_t>{};
        }
        if (byte == ACK) {
            m_acked = m_current + 1;
            m_retries = 0;
            if (m_current + 1 < m_blocks.size()) {
                m_current++;
            } else {
                m_state = State::EndSent;
            }
            return sendCurrent(nowMs);
        }
        return {};
    case State::EndSent:
        if (byte == DONE) {
            m_state = State::Done;
        } else if (byte == NAK) {
            m_naks++;
            return retry("refused") ? sendCurrent(nowMs) : std::vector<uint8_t>{};
        }
        return {};
    default:
        return {};
    }
}

std::vector<uint8_t> DownloadSender::onTick(int64_t nowMs) {
    if ((m_state != State::Sending && m_state != State::EndSent) ||
        nowMs - m_sentAtMs < ANSWER_TIMEOUT_MS) {
        return {};
    }
    return retry("no answer") ? sendCurrent(nowMs) : std::vector<uint8_t>{};
}

bool DownloadSender::takeProgress(unsigned *percent) {
    if (m_blocks.empty()) {
        return false;
    }
    auto tenths = static_cast<unsigned>(m_acked * 10 / m_blocks.size());
    if (tenths <= m_reportedTenths) {
        return false;
    }
    m_reportedTenths = tenths;
    *percent = static_cast<unsigned>(m_acked * 100 / m_blocks.size());
    return true;
}

} // namespace sim
