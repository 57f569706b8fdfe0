// Firmware download: the start requests, block checks with a bad CRC and a
// lost ACK, a stray end-of-transfer byte, the end proven by its repeat,
// resynchronisation after a stray or a lost byte, block-number
// wrap up to the size limit, completion with and without an install (one block
// checked as more are), the time taken, links in the
// way, and the stall time-out that gives the link back.
#include "coproc/download.h"

#include "board_root.h"
#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "coproc_capture.h"
#include "coproc_frame.h"
#include "platform/platform.h"
#include "platform/platform_test.h"
#include "printed.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes c_Ack = {DOWNLOAD_ACK};
const Bytes c_Nak = {DOWNLOAD_NAK};

// Block `number` carrying data[at, at + 128), padded with 0x1A.
Bytes block(uint8_t number, const Bytes &data, size_t at, bool badCrc = false) {
    Bytes b = {DOWNLOAD_SOH, number, static_cast<uint8_t>(~number)};
    for (size_t i = 0; i < DOWNLOAD_BLOCK_DATA; i++) {
        b.push_back(at + i < data.size() ? data[at + i] : 0x1A);
    }
    uint16_t crc = coprocCommCrc(0, b.data() + 3, DOWNLOAD_BLOCK_DATA);
    b.push_back(static_cast<uint8_t>(crc >> 8));
    b.push_back(static_cast<uint8_t>(crc ^ (badCrc ? 1 : 0)));
    return b;
}

// Two header bytes, then the file.
Bytes stream(size_t fileSize) {
    Bytes s = {0xAA, 0x55};
    for (size_t i = 0; i < fileSize; i++) {
        s.push_back(static_cast<uint8_t>(i * 31 + 7));
    }
    return s;
}

class DownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root.write("/tmp/.keep", "");
        m_root.write("/sim/shell.log", "");
        platformFakeClockSet(1000, 0, 1796626800);
        downloadReset();
        m_link = std::make_unique<CoprocCapture>();
    }
    void TearDown() override {
        downloadReset();
        m_link.reset();
    }

    void start(const char *archive) {
        downloadStart(archive);
        ASSERT_EQ(downloadGetState(), DOWNLOAD_STARTED);
        ASSERT_NE(g_coprocHdl->passthrough, 0u);
    }
    // Lets the given time pass in one-second steps of the main loop; returns
    // what the receiver sent meanwhile.
    Bytes wait(uint32_t ms) {
        for (uint32_t t = 0; t < ms; t += 1000) {
            platformFakeClockAdvanceMs(ms - t < 1000 ? ms - t : 1000);
            downloadPoll();
        }
        return m_link->raw();
    }
    Bytes send(const Bytes &bytes) {
        m_link->receive(bytes);
        return m_link->raw();
    }
    // A refused block: nothing is answered until the line has been quiet for
    // a second; then the NAK.
    Bytes refused(const Bytes &bytes) {
        EXPECT_TRUE(send(bytes).empty());
        EXPECT_TRUE(wait(DOWNLOAD_QUIET_MS - 1).empty());
        return wait(1);
    }
    // The sender's end of transfer: refused once after the line stayed quiet,
    // accepted when repeated. Returns the answer to the repeat.
    Bytes end() {
        EXPECT_TRUE(send({DOWNLOAD_EOT}).empty());
        EXPECT_TRUE(wait(DOWNLOAD_QUIET_MS - 1).empty());
        EXPECT_EQ(wait(1), c_Nak);
        return send({DOWNLOAD_EOT});
    }
    // The link parses packets again: a status report reaches its handler.
    bool linkParsesPackets() {
        coprocMsgReset();
        m_link = std::make_unique<CoprocCapture>();
        m_link->receive(coprocEncoded(COPROC_PKT_BUS_STATUS, {1, 0, 1}));
        return isDumpChannels() == 1;
    }

    TempBoardRoot m_root;
    std::unique_ptr<CoprocCapture> m_link;
};

TEST_F(DownloadTest, ThreeBlocksWithABadCrcAndALostAck) {
    auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto filesBefore = openFiles();
    start(DOWNLOAD_APP_ARCHIVE);
    // Bytes before the first request are dropped; the first request comes
    // after a second, then one a second until the sender starts.
    EXPECT_TRUE(send({DOWNLOAD_SOH, 1, 0xFE}).empty());
    EXPECT_TRUE(wait(900).empty());
    EXPECT_EQ(wait(100), c_Nak);
    EXPECT_EQ(wait(2000), (Bytes{DOWNLOAD_NAK, DOWNLOAD_NAK}));

    Bytes data = stream(126 + 128 + 100);
    EXPECT_EQ(send(block(1, data, 0)), c_Ack);
    // A stray EOT byte before the next block neither ends nor spoils the transfer.
    Bytes strayEnd = {DOWNLOAD_EOT};
    const Bytes second = block(2, data, 128);
    strayEnd.insert(strayEnd.end(), second.begin(), second.end());
    EXPECT_EQ(send(strayEnd), c_Ack);
    EXPECT_EQ(refused(block(3, data, 256, true)), c_Nak);
    EXPECT_EQ(send(block(3, data, 256)), c_Ack);
    // Its ACK was lost: the same block again is acknowledged, not written twice.
    EXPECT_EQ(send(block(3, data, 256)), c_Ack);
    // Anything else out of order is refused.
    EXPECT_EQ(refused(block(2, data, 128)), c_Nak);
    EXPECT_EQ(refused(block(5, data, 0)), c_Nak);
    Bytes wrongComplement = block(4, data, 384);
    wrongComplement[2] ^= 0x10;
    EXPECT_EQ(refused(wrongComplement), c_Nak);
    Bytes noSoh = block(4, data, 384);
    noSoh[0] = 0x02;
    EXPECT_EQ(refused(noSoh), c_Nak);
    EXPECT_EQ(end(), (Bytes{DOWNLOAD_ACK, DOWNLOAD_DONE}));

    Bytes file(data.begin() + 2, data.end());
    file.resize(126 + 128 + 128, 0x1A);
    EXPECT_EQ(m_root.read("/tmp/zeph_app.tar.bz2"), std::string(file.begin(), file.end()));
    EXPECT_EQ(downloadGetReceivedBytes(), file.size());
    // Handed to the update mechanism.
    EXPECT_EQ(m_root.read("/sim/shell.log"), std::string(DOWNLOAD_INSTALL_COMMAND) + "\n");
    EXPECT_EQ(m_root.read("/tmp/mtdblock5"), std::string(file.begin(), file.end()));
    EXPECT_EQ(g_coprocHdl->passthrough, 0u);
    EXPECT_EQ(downloadGetState(), DOWNLOAD_ENDED);
    EXPECT_EQ(openFiles(), filesBefore);
    // Nobody else may touch what the download wrote.
    struct stat written {};
    ASSERT_EQ(stat(m_root.file("/tmp/zeph_app.tar.bz2").c_str(), &written), 0);
    EXPECT_EQ(written.st_mode & 07, 0u);
    EXPECT_EQ(downloadStart(DOWNLOAD_APP_ARCHIVE), -1);
    EXPECT_TRUE(linkParsesPackets());
}

TEST_F(DownloadTest, OneBlockIsCheckedLikeMoreAndTheTimeTakenPrinted) {
    int64_t started = platformUptimeMs();
    start(DOWNLOAD_APP_ARCHIVE);
    wait(1000);
    EXPECT_EQ(send(block(1, stream(100), 0)), c_Ack);
    EXPECT_TRUE(send({DOWNLOAD_EOT}).empty());
    EXPECT_EQ(wait(DOWNLOAD_QUIET_MS), c_Nak);
    // Every field of the time at its top; the install's destination cannot
    // be written.
    platformFakeClockAdvanceMs(static_cast<uint32_t>(3659999 - (platformUptimeMs() - started)));
    std::filesystem::create_directories(m_root.file("/tmp/mtdblock5"));
    std::string printed = printedBy([&] { send({DOWNLOAD_EOT}); });
    EXPECT_NE(printed.find("download took 01:00:59.999"), std::string::npos) << printed;
    EXPECT_NE(printed.find("nothing installed"), std::string::npos) << printed;
    EXPECT_EQ(m_root.read("/sim/shell.log"), "");
}

TEST_F(DownloadTest, ATransferEndsAtItsSizeLimit) {
    // 126 + 65535 x 128 bytes reach the limit within a block, their block
    // numbers wrapping from 255 to 0 on the way; one block more would pass
    // it: the transfer ends at once and gives the link back.
    ASSERT_EQ(downloadStart(DOWNLOAD_GFX_ARCHIVE), 0);
    EXPECT_EQ(downloadStart(DOWNLOAD_GFX_ARCHIVE), -1);
    wait(1000);
    const size_t fit = (DOWNLOAD_MAX_BYTES - 126) / 128 + 1;
    Bytes blank(DOWNLOAD_BLOCK_DATA, 0);
    size_t acknowledged = 0;
    printedBy([&] {
        for (size_t i = 0; i < fit; i++) {
            acknowledged += send(block(static_cast<uint8_t>(i + 1), blank, 0)) == c_Ack ? 1 : 0;
        }
    });
    EXPECT_EQ(acknowledged, fit);
    EXPECT_EQ(downloadGetReceivedBytes(), 126 + (fit - 1) * 128);
    EXPECT_LE(downloadGetReceivedBytes(), DOWNLOAD_MAX_BYTES);
    EXPECT_EQ(send(block(static_cast<uint8_t>(fit + 1), blank, 0)), c_Nak);
    EXPECT_EQ(downloadGetState(), DOWNLOAD_IDLE);
    EXPECT_EQ(g_coprocHdl->passthrough, 0u);
    EXPECT_FALSE(std::filesystem::exists(m_root.file(DOWNLOAD_GFX_ARCHIVE)));
}

TEST_F(DownloadTest, AFileThatCannotBeOpenedOrWrittenInstallsNothing) {
    struct Case {
        const char *what;
        std::function<void(const TempBoardRoot &)> prepare;
    };
    // A file outside the board root that links in /tmp point at.
    const std::string target = m_root.path() + "-victim";
    auto writeVictim = [&target] { std::ofstream(target) << "precious"; };
    auto linkAt = [target](const char *where) {
        return [target, where](const TempBoardRoot &r) {
            std::filesystem::create_symlink(target, r.file(where));
        };
    };
    auto hardLinkAt = [](const char *where) {
        return [where](const TempBoardRoot &r) {
            r.write("/other", "keep");
            std::filesystem::create_hard_link(r.file("/other"), r.file(where));
        };
    };
    const Case cases[] = {
        {"no /tmp", [](const TempBoardRoot &r) { std::filesystem::remove_all(r.file("/tmp")); }},
        {"a link at the destination", linkAt("/tmp/zeph_app.tar.bz2")},
        {"a link at the copy's destination", linkAt("/tmp/mtdblock5")},
        {"a second name at the destination", hardLinkAt("/tmp/zeph_app.tar.bz2")},
        {"a FIFO at the destination",
         [](const TempBoardRoot &r) { mkfifo(r.file("/tmp/zeph_app.tar.bz2").c_str(), 0600); }},
        {"no data", [](const TempBoardRoot &) {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(m_root.file("/tmp"));
        m_root.write("/tmp/.keep", "");
        writeVictim();
        c.prepare(m_root);
        ASSERT_EQ(downloadStart(DOWNLOAD_APP_ARCHIVE), 0);
        wait(1000);
        Bytes data = stream(300);
        if (std::string(c.what) != "no data") {
            // The protocol runs to its end: blocks are checked and acknowledged.
            EXPECT_EQ(send(block(1, data, 0)), c_Ack);
            EXPECT_EQ(send(block(2, data, 128)), c_Ack);
        }
        std::string out = printedBy([&] {
            EXPECT_EQ(end(), (Bytes{DOWNLOAD_ACK, DOWNLOAD_DONE}));
        });
        EXPECT_NE(out.find("download failed, nothing installed"), std::string::npos) << out;
        EXPECT_EQ(g_coprocHdl->passthrough, 0u);
        EXPECT_EQ(m_root.read("/sim/shell.log"), "");
        EXPECT_EQ(readFile(target), "precious");
        // No file received is left, and whatever was in the way stays as it was.
        namespace fs = std::filesystem;
        EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(m_root.file("/tmp/mtdblock5"))));
        EXPECT_TRUE(
            !fs::is_regular_file(fs::symlink_status(m_root.file("/tmp/zeph_app.tar.bz2"))) ||
            m_root.read("/tmp/zeph_app.tar.bz2") == "keep");
        // Nothing is in place, so a later download may start.
        EXPECT_EQ(downloadGetState(), DOWNLOAD_IDLE);
    }
    EXPECT_EQ(m_root.read("/other"), "keep");
    std::filesystem::remove(target);
}

TEST_F(DownloadTest, AStalledDownloadGivesTheLinkBack) {
    // A sender that stops after one block, while stray bytes keep coming.
    start(DOWNLOAD_APP_ARCHIVE);
    wait(1000);
    Bytes data = stream(1000);
    EXPECT_EQ(send(block(1, data, 0)), c_Ack);
    EXPECT_TRUE(std::filesystem::exists(m_root.file("/tmp/zeph_app.tar.bz2")));
    for (int i = 0; i < 5; i++) {
        wait(10000);
        send(Bytes(50, 0xC0));
    }
    wait(9000);
    EXPECT_EQ(downloadGetState(), DOWNLOAD_RECEIVING);
    EXPECT_NE(g_coprocHdl->passthrough, 0u);
    wait(1000);
    EXPECT_EQ(downloadGetState(), DOWNLOAD_IDLE);
    EXPECT_EQ(g_coprocHdl->passthrough, 0u);
    EXPECT_FALSE(std::filesystem::exists(m_root.file("/tmp/zeph_app.tar.bz2")));
    EXPECT_EQ(m_root.read("/sim/shell.log"), "");

    // No sender at all: a minute of start requests, then the same.
    ASSERT_EQ(downloadStart(DOWNLOAD_GFX_ARCHIVE), 0);
    Bytes requests = wait(59000);
    EXPECT_EQ(requests, Bytes(59, DOWNLOAD_NAK));
    EXPECT_NE(g_coprocHdl->passthrough, 0u);
    EXPECT_TRUE(wait(1000).empty());
    EXPECT_EQ(downloadGetState(), DOWNLOAD_IDLE);
    EXPECT_FALSE(std::filesystem::exists(m_root.file("/tmp/zeph_gfx.tar.bz2")));
    EXPECT_TRUE(linkParsesPackets());
    EXPECT_EQ(downloadStart(DOWNLOAD_APP_ARCHIVE), 0);
}

} // namespace
