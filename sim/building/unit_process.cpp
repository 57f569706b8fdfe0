// A unit's process and its end of the building's link, seen from the
// building.
#include "building/unit_process.h"

#include "board/run_support.h"
#include "host/program_command.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace sim {

UnitProcess::UnitProcess(size_t index, const ZoneSpec &zone, std::string root, int64_t startWall)
    : m_index(index), m_zone(zone), m_root(std::move(root)),
      m_clock(std::make_unique<LockstepClock>(startWall, false)) {}

UnitProcess::~UnitProcess() {
    if (m_pid > 0) {
        stopChild(&m_pid, 2000);
    }
}

bool UnitProcess::start(const std::string &program, std::vector<std::string> args, int cpu,
                        std::string *error) {
    if (!m_clock->open(error)) {
        return false;
    }
    int fd = m_clock->childFd();
    args.insert(args.end(), {"--building-link", std::to_string(fd)});
    ProgramCommand command(program, args);
    std::string log = m_root + "/console.log";
    pid_t parent = getpid();
    m_pid = fork();
    if (m_pid < 0) {
        *error = std::string("cannot start a unit: ") + strerror(errno);
        return false;
    }
    if (m_pid == 0) {
        // The unit ends with the building, however the building ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) {
            _exit(126);
        }
        if (!childPinAndRedirect(cpu, log)) {
            _exit(127);
        }
        fcntl(fd, F_SETFD, 0);
        command.exec();
        _exit(127);
    }
    m_clock->childStarted();
    return true;
}

size_t UnitProcess::inputWaiting() const {
    return lockstepRingUsed(&m_clock->shared()->toApplication);
}

bool UnitProcess::due(int64_t now) {
    if (gone) {
        return false;
    }
    m_clock->advanceTo(now);
    return m_clock->applicationDue(inputWaiting(), wantScreen);
}

void UnitProcess::handTurn(int64_t now) {
    m_clock->advanceTo(now);
    uint32_t flags = wantScreen ? LOCKSTEP_PUBLISH_SCREEN : 0;
    wantScreen = false;
    m_clock->setKeysWaiting(false);
    m_clock->handTurn(flags, [this] { return inputWaiting(); });
}

bool UnitProcess::takeTurn() {
    return m_clock->takeTurn([this] { return inputWaiting(); });
}

bool UnitProcess::send(uint8_t kind, const void *data, size_t size) {
    return !gone && putLinkRecord(&m_clock->shared()->toApplication, kind, data, size);
}

bool UnitProcess::takeRecords(const LinkRecordHandler &each) {
    return takeLinkRecords(&m_clock->shared()->toSimulator, each);
}

int UnitProcess::waitForEnd(int graceMs) {
    if (m_pid > 0) {
        waitForChild(&m_pid, graceMs, &exitStatus);
    }
    return exitStatus;
}

void UnitProcess::kill() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        waitForChild(&m_pid, 2000, &exitStatus);
    }
    m_clock->close();
}

} // namespace sim
