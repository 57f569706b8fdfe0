// Firmware download: application and graphics archives received block by
// block through the coprocessor.
//
// A bus command starts the transfer. The link then switches to passthrough:
// every received byte goes to the block receiver instead of the packet
// parser, and the receiver answers with single raw bytes. Blocks are 133
// bytes (SOH, number, its complement, 128 data bytes, CRC-16/XMODEM high
// byte first) numbered from 1 and wrapping from 255 to 0; the sender ends
// with EOT. The first two data bytes of the first block are not part of the
// file.
//
// An exact repeat of the block last accepted (its ACK was lost) is
// acknowledged again and not written twice. A refused block, or a block cut
// short by a second of silence, is discarded together with whatever else
// arrives until the line has been quiet for a second; only then is the NAK
// sent, so that the sender's retry starts on a block boundary even after a
// stray or a lost byte.
//
// The destination and the copy's destination are only ever written as
// regular files of this program's own, never through a link: a link or any
// other file in the way fails the transfer as a failed open does. A transfer
// longer than DOWNLOAD_MAX_BYTES fails as a failed write does. A complete
// application archive is handed to the update mechanism with a copy; a
// graphics archive stays where it was written; a transfer whose file could
// not be opened or written installs nothing. A transfer that accepts no
// block for a minute is abandoned: its partial file is removed and the link
// parses packets again.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr const char *DOWNLOAD_APP_ARCHIVE = "/tmp/zeph_app.tar.bz2";
constexpr const char *DOWNLOAD_GFX_ARCHIVE = "/tmp/zeph_gfx.tar.bz2";
// Hands a received application archive to the update mechanism.
constexpr const char *DOWNLOAD_INSTALL_COMMAND = "cp /tmp/zeph_app.tar.bz2 /tmp/mtdblock5";
// Where that copy writes.
constexpr const char *DOWNLOAD_INSTALL_DESTINATION = "/tmp/mtdblock5";

constexpr uint8_t DOWNLOAD_SOH = 0x01;
constexpr uint8_t DOWNLOAD_EOT = 0x04;
constexpr uint8_t DOWNLOAD_ACK = 0x06;
constexpr uint8_t DOWNLOAD_NAK = 0x15;
// Sent after the final ACK.
constexpr uint8_t DOWNLOAD_DONE = 0x16;
constexpr size_t DOWNLOAD_BLOCK_DATA = 128;
constexpr size_t DOWNLOAD_BLOCK_SIZE = DOWNLOAD_BLOCK_DATA + 5;
// Bytes of the first block that are not part of the file.
constexpr size_t DOWNLOAD_HEADER_BYTES = 2;
// Period of the start requests (NAK) until the sender begins.
constexpr uint32_t DOWNLOAD_REQUEST_PERIOD_MS = 1000;
// A transfer that accepts no block for this long is abandoned.
constexpr uint32_t DOWNLOAD_STALL_MS = 60000;
// After a refused block, or inside a block, this much silence ends the
// discarding of the partial block.
constexpr uint32_t DOWNLOAD_QUIET_MS = 1000;
// The most a transfer may write. /tmp lives in the board's memory and holds
// an application archive twice (the download and its copy for the update
// mechanism): 8 MiB is ten times the graphics archive of every image and font
// the screens name (0.8 MB), room for an application with its libraries, and
// bounds what a controller can make the two copies take of the memory.
constexpr uint32_t DOWNLOAD_MAX_BYTES = 8u * 1024u * 1024u;

enum DownloadState : uint32_t {
    DOWNLOAD_IDLE = 0,
    DOWNLOAD_STARTED = 1,    // waiting a second before the first request
    DOWNLOAD_REQUESTING = 2, // sending NAK once a second until a byte arrives
    DOWNLOAD_RECEIVING = 3,
    DOWNLOAD_ENDED = 4, // a transfer ended with its archive in place; no other starts
};

// Starts a transfer into path: opens the file (created with mode 0660, or
// this program's own regular file emptied), switches the link to passthrough
// and starts the requests. -1 when a transfer is already running or one has
// ended with its archive in place.
int downloadStart(const char *path);
// One pass of the download state machine: the start requests, the NAK after
// a quiet line and the stall time-out. Called on every main-loop pass.
void downloadPoll();
// The passthrough handler: one received byte.
void downloadProc(uint8_t byte);

// The transfer's state and the bytes written to the file so far. For tests.
DownloadState downloadGetState();
uint32_t downloadGetReceivedBytes();

// Back to idle, closing any file and leaving passthrough (tests).
void downloadReset();
