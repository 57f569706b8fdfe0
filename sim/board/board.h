// The simulated board's files and the coprocessor's pseudo-terminal.
#pragma once

#include "platform/lockstep.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sim {

using Say = std::function<void(const std::string &)>;

// Erase-block size of the simulated flash unless told otherwise.
constexpr int SIM_FLASH_ERASE_SIZE = 65536;

// How the board root is prepared: the tool that writes a factory image and
// its options, the erase-block size of the simulated flash, and whether the
// board starts fresh.
struct BoardSetup {
    std::string factoryTool;
    std::vector<std::string> factoryArgs;
    int flashEraseSize = SIM_FLASH_ERASE_SIZE;
    // The flash regions and the hardware clock of the last run go first:
    // a new factory image, blank user and serial records, the clock unset.
    bool fresh = false;
};

// Makes what the application expects under the board root: the directories,
// the key FIFO, the backlight files, blank user and serial regions with the
// erase-block size of their flash in sysfs, and a factory image made with
// the factory tool (its options before the image's path) when dev/mtdblock4
// is missing. Returns false (with the reason said) when the root cannot be
// prepared: one of the files the simulator or the application opens there
// is not a regular file (a directory, a link, a FIFO or a device someone
// left in its place), the factory tool is missing or fails, or factory
// options are given for a root that already has its factory image.
bool prepareBoard(const BoardSetup &setup, const Say &say);
// One simulator per board root: takes the lock on the root (sim/lock, which
// holds the pid of its holder) for as long as this process runs, making the
// root when it is missing (and saying so). False, with the other
// simulator's pid said, when another process holds it. prepareBoard takes it
// first.
bool lockBoardRoot(const Say &say);

// True while another process holds the lock on the board root: a
// simulator runs on it.
bool boardRootHeld();

// The host path of a design path under the board root.
std::string rootedPath(const char *designPath);
// The board root as an absolute path.
std::string absoluteRoot();

// Reads a file the user names (a script, a weather day) whole: only a
// regular file of at most maxBytes, opened without waiting (a FIFO or a
// device is refused, not read). False with the reason.
bool readSmallFile(const std::string &path, size_t maxBytes, std::string *text, std::string *error);

// Files of the board root the simulator reads (the flash regions, the
// relays and their log, the screen, the page): only a regular file is
// opened, never through a link and without waiting (a FIFO or a device in
// its place is refused, not read, so nothing can hang the simulator). False
// with the reason naming the file; *absent (when given) tells a file that
// does not exist from one that cannot be read.
bool readBoardFile(const std::string &path, size_t maxBytes, std::string *text, std::string *error,
                   bool *absent = nullptr);
// The page the application shows, from the board root's sim/page ("PAGE
// POPUP"): false when it is not known.
bool readShownPage(int *page, bool *popUp);
// True when the file of the board root is absent or a regular file (not a
// link); false with the reason naming the file.
bool boardFileUsable(const std::string &path, std::string *error);

// The inode, size and change time of a file, which change when it is
// replaced or written ("" when it is missing).
std::string fileStamp(const std::string &path);

// Writes a small file atomically (temporary file, then rename).
bool writeFileAtomic(const std::string &path, const std::string &content);

// Writes a file of any size atomically, piece by piece: put() what it
// holds, then commit() renames it into place. A writer that goes without
// committing leaves nothing behind.
class AtomicFileWriter {
  public:
    explicit AtomicFileWriter(const std::string &path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter &) = delete;
    AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;
    bool put(const std::string &bytes);
    bool commit();

  private:
    std::string m_path;
    std::string m_tmp;
    int m_fd = -1;
    bool m_ok = false;
};

// The coprocessor's line: a pseudo-terminal, or in lock-step time two rings
// in the memory the simulator shares with the application, which it reaches
// through the descriptors of a socket pair that stand for the line (a read
// or a write is then no system call, and every write arrives at once). The
// simulator keeps the application's side open as well, so the link survives
// the application closing and reopening it, and counts what waits there.
class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Opens a raw pseudo-terminal and links its slave as linkPath.
    bool open(const std::string &linkPath, std::string *error);
    // Opens the line in shared memory instead; the application's side is
    // slaveFd(), to be handed over (the platform layer takes it for the
    // serial port and reads and writes the rings through it).
    bool openShared(std::shared_ptr<LockstepShared> shared, std::string *error);
    int slaveFd() const { return m_slave; }
    bool isShared() const { return m_shared != nullptr; }
    // Hands the master descriptor over (the link closes it).
    int releaseMaster();
    const std::string &slaveName() const { return m_slaveName; }
    const std::string &linkPath() const { return m_linkPath; }
    // Drops what waits unread on the slave side when no one has been reading
    // it (more than `threshold` bytes queued), so an application that opens
    // the link later does not start with minutes of stale reports.
    bool flushIfUnread(size_t threshold);
    // Bytes written to the application that it has not read yet.
    size_t unreadBySlave() const;

  private:
    int m_master = -1;
    int m_attached = -1; // the master's descriptor, read and written through the rings
    int m_slave = -1;
    std::shared_ptr<LockstepShared> m_shared;
    std::string m_slaveName;
    std::string m_linkPath;
};

} // namespace sim
