// XMODEM-style block sender for firmware downloads.
#include "download_sender.h"

#include "coproc/coproc_comm.h"
#include "coproc/download.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

DownloadSender::~DownloadSender() {
    release();
}

void DownloadSender::release() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
    m_content.clear();
    m_content.shrink_to_fit();
}

void DownloadSender::begin(size_t size) {
    m_size = size;
    m_blockCount = (size + DOWNLOAD_HEADER_BYTES + BLOCK_DATA - 1) / BLOCK_DATA;
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

void DownloadSender::start(const std::vector<uint8_t> &content) {
    release();
    m_content = content;
    begin(content.size());
}

bool DownloadSender::startFile(const std::string &path, std::string *why) {
    // Not blocking on a FIFO or a device while opening it.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = path + " is not a regular file";
        close(fd);
        return false;
    }
    auto size = static_cast<size_t>(st.st_size);
    // The thermostat writes every block whole, padding included.
    size_t blocks = (size + DOWNLOAD_HEADER_BYTES + BLOCK_DATA - 1) / BLOCK_DATA;
    if (blocks * BLOCK_DATA - DOWNLOAD_HEADER_BYTES > DOWNLOAD_MAX_BYTES) {
        *why = path + " is larger than the thermostat takes (" +
               std::to_string(DOWNLOAD_MAX_BYTES) + " bytes with the last block's padding)";
        close(fd);
        return false;
    }
    release();
    m_fd = fd;
    begin(size);
    return true;
}

void DownloadSender::blockData(size_t index, uint8_t *data) const {
    std::fill(data, data + BLOCK_DATA, 0x1A);
    // Stream position of the block's first byte; the content follows the
    // two size bytes.
    size_t at = index * BLOCK_DATA;
    size_t put = 0;
    for (; at + put < DOWNLOAD_HEADER_BYTES && put < BLOCK_DATA; put++) {
        data[put] = static_cast<uint8_t>(m_size >> (at + put == 0 ? 8 : 0));
    }
    size_t from = at + put - DOWNLOAD_HEADER_BYTES;
    if (from >= m_size) {
        return;
    }
    size_t n = std::min(BLOCK_DATA - put, m_size - from);
    if (m_fd < 0) {
        std::copy_n(m_content.begin() + static_cast<long>(from), n, data + put);
        return;
    }
    // A file that shrank meanwhile leaves the padding in place.
    for (size_t done = 0; done < n;) {
        ssize_t got = pread(m_fd, data + put + done, n - done, static_cast<off_t>(from + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<size_t>(got);
    }
}

void DownloadSender::cancel() {
    if (active()) {
        m_state = State::Failed;
        m_failure = "cancelled";
    }
}

std::vector<uint8_t> DownloadSender::block(size_t index) const {
    std::vector<uint8_t> out;
    if (index >= m_blockCount) {
        return out;
    }
    uint8_t data[BLOCK_DATA];
    blockData(index, data);
    // Block numbers start at 1 and wrap from 255 to 0.
    auto number = static_cast<uint8_t>(index + 1);
    out.push_back(SOH);
    out.push_back(number);
    out.push_back(static_cast<uint8_t>(~number));
    out.insert(out.end(), data, data + BLOCK_DATA);
    uint16_t crc = coprocCommCrc(0, data, BLOCK_DATA);
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
            if (m_current + 1 < m_blockCount) {
                m_current++;
            } else {
                m_state = State::EndSent;
            }
            return sendCurrent(nowMs);
        }
        return {};
    case State::EndSent:
        // The receiver refuses the first EOT to prove the end: not a refused block.
        if (byte == DONE) {
            m_state = State::Done;
        } else if (byte == NAK) {
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
    if (m_blockCount == 0) {
        return false;
    }
    auto tenths = static_cast<unsigned>(m_acked * 10 / m_blockCount);
    if (tenths <= m_reportedTenths) {
        return false;
    }
    m_reportedTenths = tenths;
    *percent = static_cast<unsigned>(m_acked * 100 / m_blockCount);
    return true;
}

} // namespace sim
