// Firmware download: the block receiver on the passthrough link with its
// resynchronisation, the start-up handshake, the proven end of a transfer,
// the stall time-out, the safe opening of the files it writes and the
// completion.
#include "coproc/download.h"

#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "core/util.h"
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Why a transfer installs nothing.
enum DownloadFault : uint8_t {
    FAULT_NONE = 0,
    FAULT_OPEN = 1,
    FAULT_WRITE = 2,
    FAULT_TOO_LARGE = 3,
};

uint32_t g_downloadState = DOWNLOAD_IDLE;
int g_downloadFd = -1;
uint8_t g_xmodemPacket[DOWNLOAD_BLOCK_SIZE];
uint8_t g_xmodemRxBytes;
uint8_t g_expectedBlock = 1;
uint32_t g_rxBytes;
UtilTimer g_xmodemTimer;
int64_t g_downloadStartTime;

// The block last accepted, to recognise its repeat when its ACK was lost.
uint8_t m_LastBlock[DOWNLOAD_BLOCK_SIZE];
bool m_HaveLastBlock;
uint32_t m_BlocksAccepted;
DownloadFault m_Fault;
bool m_Application;
// The destination as named, and where it was opened (on the simulated
// board, under its root).
const char *m_Destination = "";
char m_Path[PATH_MAX];
// Re-armed at the start and at every accepted block.
UtilTimer m_StallTimer;
// After a refused block every byte is discarded until the line has been
// quiet for DOWNLOAD_QUIET_MS; then the NAK goes out.
bool m_Purging;
// Re-armed at every byte that is discarded or belongs to an unfinished block.
UtilTimer m_QuietTimer;
// The end of a transfer must be proven before anything is installed: a lone
// EOT byte where a block is due may be noise on the line. It counts only
// when the line stays quiet after it (a sender that ended waits for the
// answer); it is then refused once, and the sender's repeated EOT ends the
// transfer. Any other byte after it makes it a stray byte.
bool m_EotPending;
bool m_EotRefused;

// Opens a file this module writes: never through a link, only a regular file
// with no other name that belongs to this program (which in a sticky /tmp no
// other user can then replace), emptied. -1 with the reason in *why.
int openOwnFile(const char *path, const char **why) {
    int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0660);
    if (fd < 0) {
        *why = errno == ELOOP ? "it is a symbolic link" : strerror(errno);
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != geteuid()) {
        *why = "it is not a regular file of this program's own";
    } else if (ftruncate(fd, 0) != 0) {
        *why = strerror(errno);
    } else {
        return fd;
    }
    close(fd);
    return -1;
}

void downloadPutc(uint8_t byte) {
    coprocCommSendRaw(g_coprocHdl, 1, &byte);
}

void closeFile() {
    if (g_downloadFd >= 0) {
        close(g_downloadFd);
        g_downloadFd = -1;
    }
}

void removeFile() {
    if (m_Path[0] != '\0') {
        unlink(m_Path);
    }
}

void downloadProcessPacket() {
    const uint8_t *data = g_xmodemPacket + 3;
    size_t count = DOWNLOAD_BLOCK_DATA;
    if (m_BlocksAccepted == 0) {
        puts("start download");
        data += DOWNLOAD_HEADER_BYTES;
        count -= DOWNLOAD_HEADER_BYTES;
    }
    if (g_downloadFd < 0 || m_Fault != FAULT_NONE) {
        return;
    }
    if (count > DOWNLOAD_MAX_BYTES - g_rxBytes) {
        printf("download: %s would exceed %u bytes\n", m_Destination, DOWNLOAD_MAX_BYTES);
        m_Fault = FAULT_TOO_LARGE;
        return;
    }
    ssize_t written = write(g_downloadFd, data, count);
    if (written != static_cast<ssize_t>(count)) {
        printf("download: writing %s failed (%s)\n", m_Destination,
               written < 0 ? strerror(errno) : "short write");
        m_Fault = FAULT_WRITE;
        return;
    }
    g_rxBytes += static_cast<uint32_t>(count);
}

void downloadComplete() {
    closeFile();
    coprocCommExitPassthrough(g_coprocHdl);
    int64_t elapsed = platformUptimeMs() - g_downloadStartTime;
    if (elapsed < 0) {
        elapsed = 0;
    }
    printf("download took %02d:%02d:%02d.%03d\n", static_cast<int>(elapsed / 3600000),
           static_cast<int>(elapsed / 60000 % 60), static_cast<int>(elapsed / 1000 % 60),
           static_cast<int>(elapsed % 1000));
    const char *why = nullptr;
    if (m_Fault == FAULT_NONE && m_BlocksAccepted > 0 && m_Application) {
        // The copy writes only a file of this program's own, never through a link.
        char path[PATH_MAX];
        int fd = -1;
        if (platformPath(DOWNLOAD_INSTALL_DESTINATION, path, sizeof(path)) == nullptr) {
            why = strerror(ENAMETOOLONG);
        } else {
            fd = openOwnFile(path, &why);
        }
        if (fd < 0) {
            printf("download: cannot open %s (%s)\n", DOWNLOAD_INSTALL_DESTINATION, why);
            m_Fault = FAULT_OPEN;
        } else {
            close(fd);
        }
    }
    if (m_Fault != FAULT_NONE || m_BlocksAccepted == 0) {
        printf("download failed, nothing installed: %s\n",
               m_Fault == FAULT_OPEN        ? "a file could not be opened"
               : m_Fault == FAULT_WRITE     ? "the file could not be written"
               : m_Fault == FAULT_TOO_LARGE ? "the file is too large"
                                            : "no data was received");
        removeFile();
        // Nothing is in place: a later download may start.
        g_downloadState = DOWNLOAD_IDLE;
        return;
    }
    g_downloadState = DOWNLOAD_ENDED;
    if (!m_Application) {
        printf("download: %u bytes kept in %s\n", g_rxBytes, m_Destination);
        return;
    }
    if (platformSystem(DOWNLOAD_INSTALL_COMMAND) != 0) {
        printf("download: \"%s\" failed\n", DOWNLOAD_INSTALL_COMMAND);
    }
}

// The sender fell silent: give the link back and forget the partial file.
void downloadAbandon() {
    closeFile();
    removeFile();
    coprocCommExitPassthrough(g_coprocHdl);
    g_downloadState = DOWNLOAD_IDLE;
    printf("download abandoned: no block accepted for %u s\n", DOWNLOAD_STALL_MS / 1000);
}

// The block is refused: it and whatever else arrives until the line is quiet
// are discarded, then the NAK goes out (downloadPoll). The byte that ended
// the block has just started the quiet time.
void refuseBlock(int code) {
    printf("***********NACK (%d)!!!\n", code);
    g_xmodemRxBytes = 0;
    m_Purging = true;
}

// A transfer larger than the limit ends at once, as a failed write would at
// its end: nothing is installed and the link parses packets again.
void downloadTooLarge() {
    closeFile();
    removeFile();
    coprocCommExitPassthrough(g_coprocHdl);
    g_downloadState = DOWNLOAD_IDLE;
    puts("download failed, nothing installed: the file is too large");
}

// What one transfer counts and remembers, back to its start.
void clearTransfer() {
    g_rxBytes = 0;
    g_xmodemRxBytes = 0;
    g_expectedBlock = 1;
    m_BlocksAccepted = 0;
    m_HaveLastBlock = false;
    m_Purging = false;
    m_EotPending = false;
    m_EotRefused = false;
    m_Fault = FAULT_NONE;
}

void checkBlock() {
    const uint8_t *block = g_xmodemPacket;
    if (block[0] != DOWNLOAD_SOH) {
        refuseBlock(338);
        return;
    }
    if (block[1] != static_cast<uint8_t>(~block[2])) {
        refuseBlock(345);
        return;
    }
    if (block[1] != g_expectedBlock) {
        // The sender did not hear the ACK of the block before and sent it
        // again: acknowledge it once more without writing it twice.
        if (m_HaveLastBlock && memcmp(block, m_LastBlock, DOWNLOAD_BLOCK_SIZE) == 0) {
            puts("***********ACK (repeat)!!!");
            downloadPutc(DOWNLOAD_ACK);
            return;
        }
        refuseBlock(352);
        return;
    }
    uint16_t crc = coprocCommCrc(0, block + 3, DOWNLOAD_BLOCK_DATA);
    if (block[131] != static_cast<uint8_t>(crc >> 8) || block[132] != static_cast<uint8_t>(crc)) {
        refuseBlock(366);
        return;
    }
    downloadProcessPacket();
    if (m_Fault == FAULT_TOO_LARGE) {
        downloadPutc(DOWNLOAD_NAK);
        downloadTooLarge();
        return;
    }
    memcpy(m_LastBlock, block, DOWNLOAD_BLOCK_SIZE);
    m_HaveLastBlock = true;
    m_BlocksAccepted++;
    g_expectedBlock++;
    util_set_expiration(&m_StallTimer, DOWNLOAD_STALL_MS);
    puts("***********ACK!!!");
    downloadPutc(DOWNLOAD_ACK);
}

} // namespace

int downloadStart(const char *path) {
    if (g_downloadState != DOWNLOAD_IDLE || path == nullptr) {
        return -1;
    }
    clearTransfer();
    m_Application = strcmp(path, DOWNLOAD_APP_ARCHIVE) == 0;
    m_Destination = m_Application                             ? DOWNLOAD_APP_ARCHIVE
                    : strcmp(path, DOWNLOAD_GFX_ARCHIVE) == 0 ? DOWNLOAD_GFX_ARCHIVE
                                                              : "the download file";
    const char *why = strerror(ENAMETOOLONG);
    g_downloadFd = -1;
    if (platformPath(path, m_Path, sizeof(m_Path)) != nullptr) {
        g_downloadFd = openOwnFile(m_Path, &why);
    }
    if (g_downloadFd < 0) {
        // Whatever is in the way is not this transfer's file: it stays.
        m_Path[0] = '\0';
        printf("download: cannot open %s (%s)\n", path, why);
        m_Fault = FAULT_OPEN;
    }
    g_downloadState = DOWNLOAD_STARTED;
    printf("try start download %s\n", path);
    util_set_expiration(&g_xmodemTimer, DOWNLOAD_REQUEST_PERIOD_MS);
    util_set_expiration(&m_StallTimer, DOWNLOAD_STALL_MS);
    coprocCommEnterPassthrough(g_coprocHdl, downloadProc);
    g_downloadStartTime = platformUptimeMs();
    return 0;
}

void downloadPoll() {
    switch (g_downloadState) {
    case DOWNLOAD_STARTED:
    case DOWNLOAD_REQUESTING:
    case DOWNLOAD_RECEIVING:
        if (util_check_expiration(&m_StallTimer)) {
            downloadAbandon();
            return;
        }
        break;
    default:
        return;
    }
    if (g_downloadState == DOWNLOAD_RECEIVING && m_EotPending &&
        util_check_expiration(&m_QuietTimer)) {
        m_EotPending = false;
        m_EotRefused = true;
        puts("download: end of transfer, awaiting it again");
        downloadPutc(DOWNLOAD_NAK);
        return;
    }
    if (g_downloadState == DOWNLOAD_RECEIVING && (m_Purging || g_xmodemRxBytes > 0) &&
        util_check_expiration(&m_QuietTimer)) {
        if (!m_Purging) {
            printf("download: %u bytes of a block, then silence: discarded\n", g_xmodemRxBytes);
        }
        g_xmodemRxBytes = 0;
        m_Purging = false;
        downloadPutc(DOWNLOAD_NAK);
        return;
    }
    if (!util_check_expiration(&g_xmodemTimer)) {
        return;
    }
    if (g_downloadState == DOWNLOAD_STARTED) {
        downloadPutc(DOWNLOAD_NAK);
        util_set_expiration(&g_xmodemTimer, DOWNLOAD_REQUEST_PERIOD_MS);
        g_downloadState = DOWNLOAD_REQUESTING;
        puts("GO START DL");
    } else if (g_downloadState == DOWNLOAD_REQUESTING) {
        puts("RESEND");
        downloadPutc(DOWNLOAD_NAK);
        util_set_expiration(&g_xmodemTimer, DOWNLOAD_REQUEST_PERIOD_MS);
    }
}

void downloadProc(uint8_t byte) {
    if (g_downloadState == DOWNLOAD_REQUESTING) {
        g_downloadState = DOWNLOAD_RECEIVING;
        puts("GO ACTIVE!");
    }
    if (g_downloadState != DOWNLOAD_RECEIVING) {
        return;
    }
    util_set_expiration(&m_QuietTimer, DOWNLOAD_QUIET_MS);
    if (m_Purging) {
        return;
    }
    if (g_xmodemRxBytes == 0 && byte == DOWNLOAD_EOT) {
        if (m_EotRefused) {
            downloadPutc(DOWNLOAD_ACK);
            downloadPutc(DOWNLOAD_DONE);
            downloadComplete();
        } else {
            m_EotPending = true;
        }
        return;
    }
    if (m_EotPending) {
        puts("download: a stray end-of-transfer byte, ignored");
        m_EotPending = false;
    }
    m_EotRefused = false;
    g_xmodemPacket[g_xmodemRxBytes++] = byte;
    if (g_xmodemRxBytes < DOWNLOAD_BLOCK_SIZE) {
        return;
    }
    g_xmodemRxBytes = 0;
    checkBlock();
}

DownloadState downloadGetState() {
    return static_cast<DownloadState>(g_downloadState);
}

uint32_t downloadGetReceivedBytes() {
    return g_rxBytes;
}

void downloadReset() {
    closeFile();
    if (g_downloadState != DOWNLOAD_IDLE && g_downloadState != DOWNLOAD_ENDED) {
        coprocCommExitPassthrough(g_coprocHdl);
    }
    g_downloadState = DOWNLOAD_IDLE;
    clearTransfer();
    g_xmodemTimer = UtilTimer{};
    g_downloadStartTime = 0;
    m_QuietTimer = UtilTimer{};
    m_Application = false;
    m_Destination = "";
    m_Path[0] = '\0';
    m_StallTimer = UtilTimer{};
}
