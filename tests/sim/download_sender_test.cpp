// The sending side of a firmware download against a receiver that checks
// blocks the way the thermostat does.
#include "download_sender.h"

#include "board_root.h"
#include "coproc/download.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using sim::DownloadSender;

Bytes content(size_t n) {
    Bytes c(n);
    for (size_t i = 0; i < n; i++) {
        c[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    return c;
}

// A clean transfer against the thermostat's receiver, which checks the
// blocks, is the link test's (FirmwareDownloadThroughPassthrough); here a
// refused block and the thermostat's framed requests on the way.
TEST(Download, ResendsARefusedBlockAndIgnoresFramedBytes) {
    DownloadSender sender;
    sender.start(content(300));
    // Bytes before the first NAK, and the thermostat's framed requests, are
    // not control bytes (0x15 and 0x06 inside frames included).
    for (uint8_t b :
         std::initializer_list<uint8_t>{DownloadSender::ACK, 0xC0, 0x15, 0x04, 0x06, 0x00, 0xC0}) {
        EXPECT_TRUE(sender.onByte(b).empty());
    }
    Bytes out = sender.onByte(DownloadSender::NAK);
    EXPECT_EQ(sender.onByte(DownloadSender::NAK), out); // refused: the same block again
    for (size_t sent = 1; out.size() == DownloadSender::BLOCK_SIZE; sent++) {
        ASSERT_EQ(out[1], sent);
        for (uint8_t b : {0xC0, 0x15, 0x04, 0x00, 0x00, 0xC0}) {
            EXPECT_TRUE(sender.onByte(b).empty());
        }
        out = sender.onByte(DownloadSender::ACK);
    }
    EXPECT_EQ(out, Bytes{DownloadSender::EOT});
    sender.onByte(DownloadSender::ACK);
    sender.onByte(DownloadSender::DONE);
    EXPECT_EQ(sender.state(), DownloadSender::State::Done);
    EXPECT_EQ(sender.naks(), 1u);
    EXPECT_EQ(sender.blocksAcknowledged(), 3u);
}

TEST(Download, SendsOnlyRegularFilesTheThermostatTakesAsTheyAreRead) {
    TempBoardRoot dir;
    // The largest file whose padded blocks the thermostat takes, and one more byte.
    const size_t largest =
        (DOWNLOAD_MAX_BYTES + DOWNLOAD_HEADER_BYTES) / DOWNLOAD_BLOCK_DATA * DOWNLOAD_BLOCK_DATA -
        DOWNLOAD_HEADER_BYTES;
    dir.write("/largest", "");
    ASSERT_EQ(truncate(dir.file("/largest").c_str(), static_cast<off_t>(largest)), 0);
    dir.write("/too-large", "");
    ASSERT_EQ(truncate(dir.file("/too-large").c_str(), static_cast<off_t>(largest + 1)), 0);
    ASSERT_EQ(mkfifo(dir.file("/fifo").c_str(), 0600), 0);
    const std::pair<std::string, bool> files[] = {
        {"/dev/zero", false},
        {dir.file("/fifo"), false},
        {dir.file("/too-large"), false},
        {dir.file("/no-such-file"), false},
        {dir.file("/largest"), true},
    };
    for (const auto &[path, taken] : files) {
        DownloadSender sender;
        std::string why;
        EXPECT_EQ(sender.startFile(path, &why), taken) << path << ": " << why;
        EXPECT_EQ(sender.active(), taken);
    }
    // Read block by block, a file goes as its content would.
    Bytes bytes = content(300);
    dir.write("/image", std::string(bytes.begin(), bytes.end()));
    DownloadSender fromFile;
    DownloadSender fromMemory;
    std::string why;
    ASSERT_TRUE(fromFile.startFile(dir.file("/image"), &why)) << why;
    fromMemory.start(bytes);
    ASSERT_EQ(fromFile.blocks(), 3u);
    for (size_t i = 0; i < 3; i++) {
        EXPECT_EQ(fromFile.block(i), fromMemory.block(i)) << i;
    }
}

TEST(Download, ProgressTimeOutsAndGivingUp) {
    DownloadSender sender;
    sender.start(content(20 * 128 - 2));
    ASSERT_EQ(sender.blocks(), 20u);
    unsigned percent = 0;
    EXPECT_FALSE(sender.takeProgress(&percent));
    Bytes out = sender.onByte(DownloadSender::NAK, 0);
    std::vector<unsigned> reported;
    for (size_t i = 0; i < 20; i++) {
        ASSERT_EQ(out[1], i + 1);
        out = sender.onByte(DownloadSender::ACK, 0);
        if (sender.takeProgress(&percent)) {
            reported.push_back(percent);
        }
    }
    EXPECT_EQ(reported, (std::vector<unsigned>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100}));
    // The end of transfer is sent again when its answer does not come.
    EXPECT_EQ(out, Bytes{DownloadSender::EOT});
    EXPECT_TRUE(sender.onTick(DownloadSender::ANSWER_TIMEOUT_MS - 1).empty());
    EXPECT_EQ(sender.onTick(DownloadSender::ANSWER_TIMEOUT_MS), Bytes{DownloadSender::EOT});
    EXPECT_EQ(sender.resent(), 1u);

    // A block without an answer is sent again, ten times at most.
    sender.start(content(300));
    Bytes first = sender.onByte(DownloadSender::NAK, 1000);
    for (unsigned i = 1; i <= DownloadSender::MAX_RETRIES; i++) {
        EXPECT_TRUE(sender.onTick(1000 + i * DownloadSender::ANSWER_TIMEOUT_MS - 1).empty());
        EXPECT_EQ(sender.onTick(1000 + i * DownloadSender::ANSWER_TIMEOUT_MS), first) << i;
    }
    EXPECT_TRUE(sender.onTick(1000 + 11 * DownloadSender::ANSWER_TIMEOUT_MS).empty());
    EXPECT_EQ(sender.state(), DownloadSender::State::Failed);
    EXPECT_EQ(sender.failure(), "no answer 10 times for block 1");

    // A block refused ten times over is given up; an ACK in between starts
    // the count again.
    sender.start(content(300));
    sender.onByte(DownloadSender::NAK, 0);
    for (unsigned i = 0; i < DownloadSender::MAX_RETRIES; i++) {
        EXPECT_EQ(sender.onByte(DownloadSender::NAK, 0)[1], 1);
    }
    EXPECT_EQ(sender.onByte(DownloadSender::ACK, 0)[1], 2);
    for (unsigned i = 0; i < DownloadSender::MAX_RETRIES; i++) {
        EXPECT_EQ(sender.onByte(DownloadSender::NAK, 0)[1], 2);
    }
    EXPECT_TRUE(sender.onByte(DownloadSender::NAK, 0).empty());
    EXPECT_EQ(sender.failure(), "refused 10 times for block 2");
    EXPECT_EQ(sender.naks(), 21u);
    EXPECT_FALSE(sender.active());
}

} // namespace
