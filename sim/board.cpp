// Board-root preparation and the coprocessor's pseudo-terminal.
#include "board.h"
#include "../tools/common/program_command.h"

#include "platform/platform.h"
#include "platform/platform_display.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

namespace fs = std::filesystem;

// Sizes of the flash regions' records.
constexpr size_t FACTORY_IMAGE_SIZE = 974;

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

// Runs the factory-image tool with the image path as its one argument.
bool makeFactoryImage(const std::string &tool, const std::string &image, const Say &say) {
    if (access(tool.c_str(), X_OK) != 0) {
        say("tstat-sim: no factory image and no " + tool + " to make one; build it with make");
        return false;
    }
    ProgramCommand command(tool, {image});
    pid_t pid = fork();
    if (pid == 0) {
        command.exec();
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        say("tstat-sim: " + tool + " failed to write " + image);
        return false;
    }
    std::error_code ec;
    if (fs::file_size(image, ec) != FACTORY_IMAGE_SIZE) {
        say("tstat-sim: " + image + " is not a factory image of 974 bytes");
        return false;
    }
    say("tstat-sim: wrote the factory image " + image);
    return true;
}

} // namespace

std::string rootedPath(const char *designPath) {
    char buf[PATH_MAX];
    const char *p = platformPath(designPath, buf, sizeof(buf));
    return p != nullptr ? std::string(p) : std::string();
}

std::string absoluteRoot() {
    std::error_code ec;
    fs::path p = fs::absolute(platformRoot(), ec);
    return ec ? std::string(platformRoot()) : p.lexically_normal().string();
}

bool writeFileAtomic(const std::string &path, const std::string &content) {
    std::string tmp = path + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ok = close(fd) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool prepareBoard(const std::string &factoryTool, const Say &say, int flashEraseSize) {
    for (const char *dir : {"/dev/input", "/sys/class/backlight/backlight", "/tmp", "/sim",
                            "/sys/class/mtd/mtd4", "/sys/class/mtd/mtd5", "/sys/class/mtd/mtd8"}) {
        if (!ensureDirectory(rootedPath(dir), say)) {
            return false;
        }
    }
    for (const char *mtd : {"4", "5", "8"}) {
        std::string file =
            rootedPath(("/sys/class/mtd/mtd" + std::string(mtd) + "/erasesize").c_str());
        if (!writeFileAtomic(file, std::to_string(flashEraseSize) + "\n")) {
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
        // The application still runs on its built-in fallback without one.
        makeFactoryImage(factoryTool, factory, say);
    }
    return ok;
}

PseudoTerminal::~PseudoTerminal() {
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

int PseudoTerminal::releaseMaster() {
    int fd = m_master;
    m_master = -1;
    return fd;
}

size_t PseudoTerminal::unreadBySlave() const {
    int queued = 0;
    if (m_slave < 0 || ioctl(m_slave, FIONREAD, &queued) != 0 || queued < 0) {
        return 0;
    }
    return static_cast<size_t>(queued);
}

bool PseudoTerminal::flushIfUnread(size_t threshold) {
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
