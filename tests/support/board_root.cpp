// Temporary simulated-board roots for tests.
#include "board_root.h"

#include "platform/platform.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace {

// Board roots live in memory where the host has a tmpfs: the flash regions
// are written synchronously, which on a disk costs milliseconds a write.
std::filesystem::path tempBase() {
    const char *memory = "/dev/shm";
    if (access(memory, W_OK | X_OK) == 0 && std::filesystem::is_directory(memory)) {
        return memory;
    }
    return std::filesystem::temp_directory_path();
}

} // namespace

TempBoardRoot::TempBoardRoot() {
    std::string pattern = (tempBase() / "tstat-root-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary board root");
    }
    m_path = pattern;
    setenv("TSTAT_ROOT", m_path.c_str(), 1);
    platformReset();
    // The user region's flash, as the kernel tells it: small erase blocks
    // keep the region files of the tests small.
    write("/sys/class/mtd/mtd5/erasesize", "4096\n");
}

TempBoardRoot::~TempBoardRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
    unsetenv("TSTAT_ROOT");
    platformReset();
}

std::string TempBoardRoot::read(const std::string &rooted) const {
    return readFile(file(rooted));
}

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void TempBoardRoot::write(const std::string &rooted, const std::string &content) const {
    std::filesystem::path p = file(rooted);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << content;
}

ScopedTimeZone::ScopedTimeZone(const char *zone) {
    if (const char *old = getenv("TZ")) {
        m_previous = old;
    }
    setenv("TZ", zone, 1);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
    if (m_previous) {
        setenv("TZ", m_previous->c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

int64_t localEpoch(int year, int month, int day, int hour, int minute, int second) {
    struct tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return static_cast<int64_t>(mktime(&t));
}
