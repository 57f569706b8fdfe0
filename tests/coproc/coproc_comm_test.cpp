// Link layer: CRC, SLIP stuffing, the receive state machine, the port and
// its hang-up, passthrough.
#include "coproc/coproc_comm.h"

#include "board_root.h"
#include "coproc_frame.h"
#include "platform/platform.h"
#include "platform/platform_test.h"
#include "pty_pair.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> m_Frames;
Bytes m_Passed;

int recordFrame(const uint8_t *frame, uint16_t length) {
    m_Frames.emplace_back(frame, frame + length);
    return 0;
}

void recordByte(uint8_t byte) {
    m_Passed.push_back(byte);
}

TEST(CoprocCrc, XmodemCheckValueAndPieces) {
    const char *check = "123456789";
    const auto *bytes = reinterpret_cast<const uint8_t *>(check);
    EXPECT_EQ(coprocCommCrc(0, bytes, 9), 0x31C3);
    uint16_t pieces = coprocCommCrc(0, bytes, 1);
    pieces = coprocCommCrc(pieces, bytes + 1, 1);
    pieces = coprocCommCrc(pieces, bytes + 2, 7);
    EXPECT_EQ(pieces, 0x31C3);
    EXPECT_EQ(coprocCommCrc(0, nullptr, 0), 0);
    EXPECT_EQ(coprocCommCrc(0x1234, bytes, 0), 0x1234);
}

TEST(CoprocEncode, EmptyPacketAndStuffing) {
    // 0x16 with no payload: C0 16 04 CRC-high CRC-low C0.
    const uint8_t header[2] = {0x16, 0x04};
    uint16_t crc = coprocCommCrc(0, header, 2);
    Bytes expected = {0xC0, 0x16, 0x04, static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc),
                      0xC0};
    EXPECT_EQ(coprocEncoded(0x16, {}), expected);

    // END and ESC in the payload are escaped; nothing else is.
    Bytes stuffed = coprocEncoded(0x0C, {0xC0, 0x41, 0xDB});
    Bytes body(stuffed.begin() + 1, stuffed.end() - 1);
    Bytes start(body.begin(), body.begin() + 7);
    EXPECT_EQ(start, (Bytes{0x0C, 0x07, 0xDB, 0xDC, 0x41, 0xDB, 0xDD}));
    EXPECT_EQ(std::count(body.begin(), body.end(), 0xC0), 0);

    // The length byte wraps at 8 bits; the buffer must be large enough.
    Bytes big(253, 0x11);
    Bytes encoded = coprocEncoded(0x0C, big);
    EXPECT_EQ(encoded[2], 0x01);
    uint8_t small[4];
    EXPECT_EQ(coprocCommEncode(0x16, 0, nullptr, small, sizeof(small)), 0u);
}

TEST(LinkFrames, Validation) {
    Bytes good = coprocFrameOf(0x01, {0x05, 0x01});
    EXPECT_EQ(coprocCommCheckFrame(good.data(), good.size()), 0);
    Bytes swapped = good;
    std::swap(swapped[swapped.size() - 1], swapped[swapped.size() - 2]);
    EXPECT_EQ(coprocCommCheckFrame(swapped.data(), swapped.size()), -1);
    Bytes flipped = good;
    flipped[2] ^= 0x01;
    EXPECT_EQ(coprocCommCheckFrame(flipped.data(), flipped.size()), -1);
    // Three bytes or fewer never pass, even with a matching CRC.
    const uint8_t zeros[3] = {0, 0, 0};
    EXPECT_EQ(coprocCommCheckFrame(zeros, 3), -1);
    EXPECT_EQ(coprocCommCheckFrame(zeros, 0), -1);
    EXPECT_EQ(coprocCommCheckFrame(nullptr, 10), -1);
    // Four bytes with a CRC over type and length are a valid empty packet.
    Bytes empty = coprocFrameOf(0x16, {});
    EXPECT_EQ(coprocCommCheckFrame(empty.data(), empty.size()), 0);
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// Streams from the port and the frames the receiver hands over.
TEST(LinkReceiver, UnstuffsResynchronisesAndDropsOverlongFrames) {
    const Bytes stuffed = {0xC0, 0xDB, 0x00, 0xDC, 0xDD, 0xC0, 0xC0, 0xDB};
    const Bytes valid = coprocEncoded(0x0E, {0x02, 0x58});
    const Bytes frame = coprocFrameOf(0x0E, {0x02, 0x58});
    const Bytes second = coprocEncoded(0x08, {0x1A, 0x2B});
    Bytes longest(64, 0x55); // the longest frame, 68 bytes
    longest[10] = 0xC0;      // escaped bytes count once
    const struct {
        Bytes stream;
        std::vector<Bytes> frames;
    } cases[] = {
        {coprocEncoded(0x0C, stuffed), {coprocFrameOf(0x0C, stuffed)}},
        // Noise before any END is ignored; DB followed by 41 drops the frame;
        // a frame cut in the middle is closed by the next END and handed over
        // as it is (its CRC then fails); the following frames still arrive.
        {cat({{0x11, 0x22, 0xDB, 0xDC},
              valid,
              {0xC0, 0x06, 0xDB, 0x41, 0x33},
              valid,
              {0xC0, 0x01, 0x06, 0x05},
              valid}),
         {frame, frame, {0x01, 0x06, 0x05}, frame}},
        // Back to back with one END between them, and runs of empty frames.
        {cat({valid, Bytes(second.begin() + 1, second.end()), {0xC0, 0xC0}}),
         {frame, coprocFrameOf(0x08, {0x1A, 0x2B})}},
        {coprocEncoded(0x0C, longest), {coprocFrameOf(0x0C, longest)}},
        // 68 data bytes without END, then more; 65- and 200-byte payloads:
        // dropped whole, and the next frame arrives.
        {cat({{0xC0}, Bytes(98, 0x41), valid}), {frame}},
        {cat({coprocEncoded(0x0C, Bytes(65, 0x30)), coprocEncoded(0x0C, Bytes(200, 0x30)), valid}),
         {frame}},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(coprocDecoded(c.stream), c.frames);
    }
}

TEST(LinkPassthrough, TakesEveryByteUntilLeft) {
    m_Frames.clear();
    CoprocComm *comm = coprocCommAttach(-1, recordFrame);
    coprocCommEnterPassthrough(comm, recordByte);
    Bytes packet = coprocEncoded(0x0E, {0x02, 0x58});
    coprocCommReceive(comm, packet.data(), packet.size());
    EXPECT_TRUE(m_Frames.empty());
    EXPECT_EQ(m_Passed, packet);
    coprocCommExitPassthrough(comm);
    coprocCommReceive(comm, packet.data(), packet.size());
    EXPECT_EQ(m_Frames.size(), 1u);
    EXPECT_EQ(m_Passed.size(), packet.size());
    coprocCommClose(comm);
    // Null contexts are ignored everywhere.
    coprocCommEnterPassthrough(nullptr, recordByte);
    coprocCommExitPassthrough(nullptr);
    coprocCommPoll(nullptr);
    coprocCommSendPacket(nullptr, 0x16, 0, nullptr);
    coprocCommSendRaw(nullptr, 1, packet.data());
    coprocCommReceive(nullptr, packet.data(), packet.size());
}

// Opening the rooted device that exists is HangUpAndReopen's.
TEST(CoprocPort, OpenFailures) {
    TempBoardRoot root;
    testing::internal::CaptureStdout();
    EXPECT_EQ(coprocCommInit("/dev/ttyNOTHERE"), nullptr);
    root.write("/dev/plainfile", "x");
    EXPECT_EQ(coprocCommInit("/dev/plainfile"), nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("failed opening port (No such file or directory)\n"), std::string::npos);
    EXPECT_NE(out.find("failed getting attributes ("), std::string::npos);
}

TEST(CoprocPort, HangUpAndReopen) {
    TempBoardRoot root;
    platformFakeClockSet(100, 0, 1700000000);
    std::filesystem::create_directories(root.file("/dev"));
    auto first = std::make_unique<PtyPair>();
    std::filesystem::create_symlink(first->slaveName(), root.file("/dev/ttyCOPROC"));
    CoprocComm *comm = coprocCommInit("/dev/ttyCOPROC");
    ASSERT_NE(comm, nullptr);
    comm->frameHandler = recordFrame;
    m_Frames.clear();

    // The other side goes away: the poll notices, sends are dropped.
    first->closeMaster();
    coprocCommPoll(comm);
    EXPECT_TRUE(comm->lost);
    coprocCommSendPacket(comm, 0x05, 0, nullptr);

    // It comes back as a new pseudo-terminal under the same name.
    PtyPair second;
    std::filesystem::remove(root.file("/dev/ttyCOPROC"));
    std::filesystem::create_symlink(second.slaveName(), root.file("/dev/ttyCOPROC"));
    coprocCommPoll(comm);
    EXPECT_TRUE(comm->lost); // not before the reopen period
    platformFakeClockAdvanceMs(1000);
    coprocCommPoll(comm);
    EXPECT_FALSE(comm->lost);
    second.write(coprocEncoded(0x0E, {0x02, 0x58}));
    for (int i = 0; i < 50 && m_Frames.empty(); i++) {
        usleep(10000);
        coprocCommPoll(comm);
    }
    EXPECT_EQ(m_Frames.size(), 1u);
    coprocCommSendPacket(comm, 0x05, 0, nullptr);
    EXPECT_EQ(second.read(), coprocEncoded(0x05, {}));
    coprocCommClose(comm);
}

} // namespace

// Held sends go out in one write at the flush, or when the next would not
// fit; a poll writes them before it reads.
TEST(CoprocPort, HeldSendsGoOutTogether) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends), 0);
    CoprocComm *comm = coprocCommAttach(ends[0], recordFrame);
    ASSERT_NE(comm, nullptr);
    auto waiting = [&] {
        int n = 0;
        ioctl(ends[1], FIONREAD, &n);
        return n;
    };
    auto drain = [&] {
        uint8_t buf[2048];
        while (recv(ends[1], buf, sizeof(buf), MSG_DONTWAIT) > 0) {
        }
    };
    const Bytes raw(255, 0x55);
    coprocCommHold(comm);
    coprocCommSendPacket(comm, 0x05, 0, nullptr);
    coprocCommSendPacket(comm, 0x07, 0, nullptr);
    EXPECT_EQ(waiting(), 0);
    coprocCommFlush(comm);
    EXPECT_EQ(waiting(), 12);
    drain();

    coprocCommHold(comm);
    coprocCommSendRaw(comm, 3, nullptr); // nothing to send
    coprocCommSendRaw(comm, 255, raw.data());
    coprocCommSendRaw(comm, 255, raw.data());
    coprocCommSendRaw(comm, 2, raw.data());
    EXPECT_EQ(waiting(), 0); // 512 bytes: the hold is full, not over
    coprocCommSendRaw(comm, 1, raw.data());
    EXPECT_EQ(waiting(), 512);
    coprocCommPoll(comm);
    EXPECT_EQ(waiting(), 513);
    coprocCommFlush(comm);
    coprocCommSendPacket(comm, 0x05, 0, nullptr); // not held any more
    EXPECT_EQ(waiting(), 519);
    EXPECT_EQ(comm->bytesWritten, 12u + 519u); // with the first two, taken already
    coprocCommClose(comm);
    close(ends[1]);
}
