// Shared set-up of the control-bus tests.
#include "bus_fixture.h"

#include "config/data_dict.h"
#include "coproc/download.h"

void BusTest::SetUp() {
    boot(FactoryOptions{});
}

void BusTest::TearDown() {
    m_link.reset();
    downloadReset();
    coprocMsgReset();
    PersistUtil_Reset();
}

void BusTest::boot(const FactoryOptions &options) {
    m_link.reset();
    busBoot(m_root, options);
    m_link = std::make_unique<CoprocCapture>();
}

BusTest::Sent BusTest::sent() {
    Sent out;
    for (const auto &frame : m_link->frames()) {
        if (frame.size() < 4) {
            continue;
        }
        // Every outgoing channel goes as packet 0x13.
        if (frame[0] == COPROC_PKT_SEND_CHANNEL_ALT && frame.size() >= 6) {
            out.channels[frame[2]] = frame[3];
            out.channelCount[frame[2]]++;
        } else if (frame[0] == COPROC_PKT_SEND_LEVEL && frame.size() >= 6) {
            out.levels[frame[2]] = frame[3];
        } else if (frame[0] == COPROC_PKT_REPLY) {
            out.replies.push_back(CoprocCapture::text(frame));
        } else if (frame[0] == COPROC_PKT_VERSION) {
            out.replies.push_back("[0x18] " + CoprocCapture::text(frame));
        }
    }
    return out;
}

std::vector<std::string> BusTest::replies() {
    return sent().replies;
}

std::vector<int> BusTest::refreshRequests() {
    uint32_t update[DISPLAY_PAGE_COUNT];
    getKorabusDataDictUpdate(update);
    std::vector<int> pages;
    for (size_t i = 0; i < DISPLAY_PAGE_COUNT; i++) {
        if (update[i] != 0) {
            pages.push_back(static_cast<int>(i));
        }
    }
    return pages;
}
