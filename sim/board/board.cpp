// Board-root preparation and the coprocessor's pseudo-terminal.
#include "board/board.h"

#include "host/file_descriptor.h"
#include "host/program_command.h"
#include "platform/platform.h"
#include "platform/platform_display.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

namespace fs = std::filesystem;

// The lock on the board root, held while this process runs (one simulator
// per board).
FileDescriptor m_RootLock;

// Sizes of the flash regions' records.
constexpr size_t FACTORY_IMAGE_SIZE = 974;

// The files of the board root that the simulator or the application opens
// as regular files. Anything else in their place (a directory, a link, a
// FIFO, a device) would hang a reader or lose what is written, unseen.
constexpr const char *c_BoardFiles[] = {"/dev/mtdblock4",
                                        "/dev/mtdblock5",
                                        "/dev/mtdblock8",
                                        "/sys/class/backlight/backlight/brightness",
                                        "/sys/class/backlight/backlight/bl_power",
                                        "/sim/relays",
                                        "/sim/relay-log",
                                        "/sim/screen.png",
                                        "/sim/page",
                                        "/sim/test-pin",
                                        "/sim/rtc",
                                        "/sim/clock",
                                        "/sim/shell.log"};

// What a fresh board starts without: the flash regions and the hardware clock.
constexpr const char *c_FreshBoardFiles[] = {"/dev/mtdblock4", "/dev/mtdblock5", "/dev/mtdblock8",
                                             "/sim/rtc"};

bool boardFilesUsable(const Say &say) {
    bool ok = true;
    for (const char *name : c_BoardFiles) {
        std::string error;
        if (!boardFileUsable(rootedPath(name), &error)) {
            say("tstat-sim: " + error + "; remove it, or give another --root");
            ok = false;
        }
    }
    return ok;
}

bool ensureDirectory(const std::string &path, const Say &say) {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec || !fs::is_directory(path)) {
        say("tstat-sim: cannot make " + path + ": " + ec.message());
        return false;
    }
    return true;
}

bool ensureFile(const std::string &path, const std::string &content, const Say &say) {
    if (fs::exists(path)) {
        return true;
    }
    if (!writeFileAtomic(path, content)) {
        say("tstat-sim: cannot write " + path + ": " + strerror(errno));
        return false;
    }
    return true;
}

bool ensureFifo(const std::string &path, const Say &say) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISFIFO(st.st_mode)) {
            return true;
        }
        say("tstat-sim: " + path + " is not a FIFO; replacing it");
        unlink(path.c_str());
    }
    if (mkfifo(path.c_str(), 0660) != 0) {
        say("tstat-sim: cannot make the key FIFO " + path + ": " + strerror(errno));
        return false;
    }
    return true;
}

// Runs the factory-image tool with its options and the image path; what a
// failed one left is removed, so that no later run takes it.
bool makeFactoryImage(const std::string &tool, std::vector<std::string> args,
                      const std::string &image, const Say &say) {
    if (access(tool.c_str(), X_OK) != 0) {
        say("tstat-sim: no factory image and no " + tool + " to make one; build it with make");
        return false;
    }
    args.push_back(image);
    ProgramCommand command(tool, args);
    pid_t pid = fork();
    if (pid == 0) {
        command.exec();
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        say("tstat-sim: " + tool + " failed to write " + image);
        unlink(image.c_str());
        return false;
    }
    std::error_code ec;
    if (fs::file_size(image, ec) != FACTORY_IMAGE_SIZE) {
        say("tstat-sim: " + image + " is not a factory image of 974 bytes");
        unlink(image.c_str());
        return false;
    }
    say("tstat-sim: wrote the factory image " + image);
    return true;
}

// What lies at path, in words, for a message.
const char *fileKind(mode_t mode) {
    return S_ISDIR(mode)    ? "a directory"
           : S_ISLNK(mode)  ? "a link"
           : S_ISFIFO(mode) ? "a FIFO"
           : S_ISCHR(mode)  ? "a character device"
           : S_ISBLK(mode)  ? "a block device"
           : S_ISSOCK(mode) ? "a socket"
                            : "not a regular file";
}

// Reads a regular file whole: opened without waiting (and with flags), then
// looked at before a byte is read.
bool readRegularFile(const std::string &path, int flags, size_t maxBytes, std::string *text,
                     std::string *error, bool *absent) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | flags));
    if (absent != nullptr) {
        *absent = fd.get() < 0 && errno == ENOENT;
    }
    struct stat st {};
    if (fd.get() < 0 && errno == ELOOP && (flags & O_NOFOLLOW) != 0) {
        *error = path + " is not a regular file (a link)";
        return false;
    }
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
        *error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + " is not a regular file (" + fileKind(st.st_mode) + ")";
        return false;
    }
    if (static_cast<uint64_t>(st.st_size) > maxBytes) {
        *error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    text->clear();
    char buf[4096];
    for (;;) {
        ssize_t got = read(fd.get(), buf, sizeof(buf));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            *error = "cannot read " + path + ": " + strerror(errno);
            return false;
        }
        if (got == 0) {
            return true;
        }
        // A file that grows while read is cut at the bound.
        if (text->size() + static_cast<size_t>(got) > maxBytes) {
            *error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
            return false;
        }
        text->append(buf, static_cast<size_t>(got));
    }
}

} // namespace

std::string rootedPath(const char *designPath) {
    char buf[PATH_MAX];
    const char *p = platformPath(designPath, buf, sizeof(buf));
    return p != nullptr ? std::string(p) : std::string();
}

std::string fileStamp(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return "";
    }
    return std::to_string(st.st_ino) + "/" + std::to_string(st.st_size) + "/" +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

std::string absoluteRoot() {
    std::error_code ec;
    fs::path p = fs::absolute(platformRoot(), ec);
    return ec ? std::string(platformRoot()) : p.lexically_normal().string();
}

bool readSmallFile(const std::string &path, size_t maxBytes, std::string *text,
                   std::string *error) {
    return readRegularFile(path, 0, maxBytes, text, error, nullptr);
}

bool readBoardFile(const std::string &path, size_t maxBytes, std::string *text, std::string *error,
                   bool *absent) {
    return readRegularFile(path, O_NOFOLLOW, maxBytes, text, error, absent);
}

bool readShownPage(int *page, bool *popUp) {
    constexpr size_t PAGE_FILE_MAX_BYTES = 64;
    std::string text;
    std::string error;
    if (!readBoardFile(rootedPath("/sim/page"), PAGE_FILE_MAX_BYTES, &text, &error)) {
        return false;
    }
    std::istringstream in(text);
    int popUpFlag = 0;
    if (!(in >> *page)) {
        return false;
    }
    *popUp = (in >> popUpFlag) && popUpFlag == 1;
    return true;
}

bool boardFileUsable(const std::string &path, std::string *error) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return true;
        }
        *error = "cannot look at " + path + ": " + strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *error = path + " is not a regular file (" + fileKind(st.st_mode) + ")";
        return false;
    }
    return true;
}

AtomicFileWriter::AtomicFileWriter(const std::string &path) : m_path(path), m_tmp(path + ".tmp") {
    // The file aside is made anew, never opened through a link someone left
    // in its place; the rename then replaces whatever the name was.
    unlink(m_tmp.c_str());
    m_fd = ::open(m_tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    m_ok = m_fd >= 0;
}

AtomicFileWriter::~AtomicFileWriter() {
    if (m_fd >= 0) {
        close(m_fd);
        unlink(m_tmp.c_str());
    }
}

bool AtomicFileWriter::put(const std::string &bytes) {
    size_t done = 0;
    while (m_ok && done < bytes.size()) {
        ssize_t n = write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        m_ok = n > 0;
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return m_ok;
}

bool AtomicFileWriter::commit() {
    if (m_fd < 0) {
        return false;
    }
    bool ok = close(m_fd) == 0 && m_ok;
    m_fd = -1;
    if (!ok || rename(m_tmp.c_str(), m_path.c_str()) != 0) {
        unlink(m_tmp.c_str());
        return false;
    }
    return true;
}

bool writeFileAtomic(const std::string &path, const std::string &content) {
    AtomicFileWriter file(path);
    return file.put(content) && file.commit();
}

bool lockBoardRoot(const Say &say) {
    if (m_RootLock.get() >= 0) {
        return true;
    }
    std::string root = absoluteRoot();
    std::error_code ec;
    if (!fs::exists(root, ec)) {
        if (!ensureDirectory(root, say)) {
            return false;
        }
        say("tstat-sim: made the board root " + root);
    }
    if (!ensureDirectory(rootedPath("/sim"), say)) {
        return false;
    }
    std::string path = rootedPath("/sim/lock");
    FileDescriptor fd(
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    struct stat st {};
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0) {
        say("tstat-sim: cannot open " + path + ": " + strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        say("tstat-sim: " + path + " is not a regular file (" + fileKind(st.st_mode) + ")");
        return false;
    }
    if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        char text[32] = {};
        ssize_t got = pread(fd.get(), text, sizeof(text) - 1, 0);
        long pid = got > 0 ? strtol(text, nullptr, 10) : 0;
        say("tstat-sim: the board root " + root + " is in use by another simulator" +
            (pid > 0 ? " (pid " + std::to_string(pid) + ")" : std::string()) +
            "; end it first, or give another --root");
        return false;
    }
    char pid[32];
    int n = snprintf(pid, sizeof(pid), "%ld\n", static_cast<long>(getpid()));
    if (ftruncate(fd.get(), 0) != 0 || pwrite(fd.get(), pid, static_cast<size_t>(n), 0) != n) {
        say("tstat-sim: cannot write " + path + ": " + strerror(errno));
    }
    m_RootLock = std::move(fd);
    return true;
}

bool boardRootHeld() {
    FileDescriptor fd(
        ::open(rootedPath("/sim/lock").c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    return fd.get() >= 0 && flock(fd.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

bool prepareBoard(const BoardSetup &setup, const Say &say) {
    if (!lockBoardRoot(say) || !boardFilesUsable(say)) {
        return false;
    }
    if (setup.fresh) {
        for (const char *name : c_FreshBoardFiles) {
            unlink(rootedPath(name).c_str());
        }
        say("tstat-sim: a fresh board: new factory image, blank user and serial records, the "
            "clock unset");
    }
    for (const char *dir : {"/dev/input", "/sys/class/backlight/backlight", "/tmp", "/sim",
                            "/sys/class/mtd/mtd4", "/sys/class/mtd/mtd5", "/sys/class/mtd/mtd8"}) {
        if (!ensureDirectory(rootedPath(dir), say)) {
            return false;
        }
    }
    for (const char *mtd : {"4", "5", "8"}) {
        std::string file =
            rootedPath(("/sys/class/mtd/mtd" + std::string(mtd) + "/erasesize").c_str());
        if (!writeFileAtomic(file, std::to_string(setup.flashEraseSize) + "\n")) {
            say("cannot write " + file);
            return false;
        }
    }
    bool ok = ensureFifo(rootedPath(PLATFORM_KEY_DEVICE), say);
    ok = ensureFile(rootedPath("/sys/class/backlight/backlight/brightness"), "255\n", say) && ok;
    ok = ensureFile(rootedPath("/sys/class/backlight/backlight/bl_power"), "0\n", say) && ok;
    // Blank flash regions: empty files.
    ok = ensureFile(rootedPath("/dev/mtdblock5"), "", say) && ok;
    ok = ensureFile(rootedPath("/dev/mtdblock8"), "", say) && ok;
    std::string factory = rootedPath("/dev/mtdblock4");
    if (!fs::exists(factory)) {
        return makeFactoryImage(setup.factoryTool, setup.factoryArgs, factory, say) && ok;
    }
    // Options for an image that is not made would leave the run on another
    // configuration than the one asked for.
    if (!setup.factoryArgs.empty()) {
        say("tstat-sim: the factory options are for a new factory image, and " + factory +
            " is there: add --fresh to make it anew with them, or leave them out");
        return false;
    }
    return ok;
}

PseudoTerminal::~PseudoTerminal() {
    if (m_attached >= 0) {
        lockstepAttachLine(m_attached, nullptr, nullptr);
    }
    if (m_master >= 0) {
        close(m_master);
    }
    if (m_slave >= 0) {
        close(m_slave);
    }
    if (!m_linkPath.empty()) {
        // Remove the link only if it still names this terminal.
        std::error_code ec;
        if (fs::is_symlink(m_linkPath, ec) && fs::read_symlink(m_linkPath, ec) == m_slaveName) {
            fs::remove(m_linkPath, ec);
        }
    }
}

bool PseudoTerminal::open(const std::string &linkPath, std::string *error) {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        *error = std::string("cannot open a pseudo-terminal: ") + strerror(errno);
        return false;
    }
    const char *name = ptsname(m_master);
    if (name == nullptr) {
        *error = std::string("cannot name the pseudo-terminal: ") + strerror(errno);
        return false;
    }
    m_slaveName = name;
    m_slave = ::open(m_slaveName.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_slave < 0) {
        *error = "cannot open " + m_slaveName + ": " + strerror(errno);
        return false;
    }
    // Raw from the start: nothing the coprocessor sends before the
    // application configures its side may be echoed or held for a newline.
    struct termios tio;
    if (tcgetattr(m_slave, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tcsetattr(m_slave, TCSANOW, &tio);
    }
    std::error_code ec;
    fs::remove(linkPath, ec);
    fs::create_symlink(m_slaveName, linkPath, ec);
    if (ec) {
        *error = "cannot link " + linkPath + ": " + ec.message();
        return false;
    }
    m_linkPath = linkPath;
    return true;
}

bool PseudoTerminal::openShared(std::shared_ptr<LockstepShared> shared, std::string *error) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        *error = std::string("cannot make the coprocessor's line: ") + strerror(errno);
        return false;
    }
    m_master = ends[0];
    m_slave = ends[1];
    m_shared = std::move(shared);
    m_attached = m_master;
    lockstepAttachLine(m_master, &m_shared->toSimulator, &m_shared->toApplication);
    m_slaveName = "shared memory";
    return true;
}

int PseudoTerminal::releaseMaster() {
    int fd = m_master;
    m_master = -1;
    return fd;
}

size_t PseudoTerminal::unreadBySlave() const {
    if (m_shared) {
        return lockstepRingUsed(&m_shared->toApplication);
    }
    if (m_slave < 0) {
        return 0;
    }
    // The terminal hands written bytes to the other side in a kernel worker;
    // FIONREAD counts only what has arrived, while a poll first waits for
    // the hand-over. So bytes written at this instant count at this instant,
    // however busy the host.
    struct pollfd pfd = {m_slave, POLLIN, 0};
    poll(&pfd, 1, 0);
    int queued = 0;
    if (ioctl(m_slave, FIONREAD, &queued) != 0 || queued < 0) {
        return 0;
    }
    return static_cast<size_t>(queued);
}

bool PseudoTerminal::flushIfUnread(size_t threshold) {
    if (m_shared) {
        if (lockstepRingUsed(&m_shared->toApplication) <= threshold) {
            return false;
        }
        lockstepRingDrop(&m_shared->toApplication);
        return true;
    }
    int queued = 0;
    if (m_slave < 0 || ioctl(m_slave, FIONREAD, &queued) != 0) {
        return false;
    }
    if (static_cast<size_t>(queued) <= threshold) {
        return false;
    }
    tcflush(m_slave, TCIFLUSH);
    return true;
}

} // namespace sim
