// tstat-update: the board's installer of update bundles and the tools that
// make and sign them.
//
// On the board, init runs `tstat-update start DEVICE`: it makes and mounts
// the slots' volume, chooses the slot to run (bootSlots), and becomes the
// installer of the good slot, `tstat-update run DEVICE`. That process starts
// the application's start script (tstat-start DEVICE) and stays beside it:
// it takes the hand-over file of a download once it is complete, installs it
// into the other slot, and runs the new version on trial, sending the board
// back to the previous one when the trial fails. The start script runs the
// application through `tstat-update app`, which notes each start and the
// counts of bytes the serial line had sent and received then, so that a
// crash, however quick, and the coprocessor's answers are both seen. Before
// a version goes on trial, is marked good or starts at boot, its own
// installer must pass `tstat-update selfcheck`.
//
// On the build machine: keygen, pubkey, pack (make update-bundle) and check.
// Every line said is escaped (printable): a name a bundle brings never
// reads as a line of the installer's own.
#include "bundle.h"
#include "host/file_descriptor.h"
#include "slots.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <mtd/ubi-user.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int64_t c_PollMs = 250;
// The start script's own grace before it kills the application, and more.
constexpr int64_t c_StopMs = 15000;
// A trial with no start of the application for this long has failed.
constexpr int64_t c_NoStartMs = 90000;
// An installer's self-check that takes longer has failed.
constexpr int64_t c_SelfCheckMs = 10000;

volatile sig_atomic_t m_Stop = 0;

void say(const std::string &line) {
    printf("tstat-update: %s\n", printable(line).c_str());
    fflush(stdout);
}

int64_t nowMs() {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void sleepMs(int64_t ms) {
    struct timespec ts = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000};
    nanosleep(&ts, nullptr);
}

UpdatePaths paths() {
    const char *root = getenv("TSTAT_ROOT");
    return UpdatePaths{root != nullptr ? root : ""};
}

// Bytes the serial line of device has sent and received since boot, from
// the serial drivers' /proc/tty/driver tables; -1 when they do not tell.
LineCounts serialCounts(const std::string &device) {
    char real[PATH_MAX];
    std::string dev = realpath(device.c_str(), real) != nullptr ? real : device;
    std::string drivers;
    readWhole("/proc/tty/drivers", 65536, &drivers);
    std::istringstream in(drivers);
    for (std::string line; std::getline(in, line);) {
        std::istringstream f(line);
        std::string name, prefix, major, minors, type;
        f >> name >> prefix >> major >> minors >> type;
        std::string index = dev.rfind(prefix, 0) == 0 ? dev.substr(prefix.size()) : "";
        if (type != "serial" || index.empty() ||
            index.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::string table;
        readWhole("/proc/tty/driver/" + name, 65536, &table);
        size_t at = table.find("\n" + index + ": ");
        size_t end = at == std::string::npos ? at : table.find('\n', at + 1);
        size_t tx = at == std::string::npos ? at : table.find(" tx:", at);
        size_t rx = at == std::string::npos ? at : table.find(" rx:", at);
        if (tx < end && rx < end) {
            return {strtol(table.c_str() + tx + 4, nullptr, 10),
                    strtol(table.c_str() + rx + 4, nullptr, 10)};
        }
    }
    return {};
}

// Runs dir's installer with `selfcheck` for at most c_SelfCheckMs: "" when
// it passed, else what it said or why it did not run.
std::string runSelfCheck(const std::string &dir) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return std::string("no pipe: ") + strerror(errno);
    }
    FileDescriptor reader(out[0]);
    std::string program = dir + "/tstat-update";
    pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        execl(program.c_str(), "tstat-update", "selfcheck", static_cast<char *>(nullptr));
        printf("cannot run %s: %s\n", program.c_str(), strerror(errno));
        fflush(stdout);
        _exit(127);
    }
    close(out[1]);
    int status = 0;
    int64_t until = nowMs() + c_SelfCheckMs;
    while (child > 0 && waitpid(child, &status, WNOHANG) == 0) {
        if (nowMs() >= until) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            return "it did not end within " + std::to_string(c_SelfCheckMs / 1000) + " s";
        }
        sleepMs(20);
    }
    char text[256] = "";
    ssize_t got = read(reader.get(), text, sizeof(text) - 1);
    std::string said(text, got > 0 ? static_cast<size_t>(got) : 0);
    said = said.substr(0, said.find('\n'));
    if (child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return "";
    }
    return said.empty() ? "it ended with status " + std::to_string(WEXITSTATUS(status)) : said;
}

// What `selfcheck` proves of this installer: its own key is a key, it reads
// the slot record, and it opens the place where downloads are handed over.
int selfCheck() {
    UpdatePaths p = paths();
    char exe[PATH_MAX];
    std::string dir = realpath("/proc/self/exe", exe) != nullptr ? exe : "";
    dir = dir.substr(0, dir.rfind('/'));
    std::string key;
    PublicKey k;
    SlotRecord r;
    FileDescriptor place(open(p.handOverDir().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::string why;
    if (!readWhole(dir + "/update-key.pub", 256, &key) || !readPublicKey(key, &k)) {
        why = dir + "/update-key.pub is not a public key";
    } else if (!readRecord(p, &r)) {
        why = "no slot record to read";
    } else if (place.get() < 0) {
        why = "cannot open " + p.handOverDir() + ": " + strerror(errno);
    }
    printf("%s\n", why.empty() ? "self-check passed" : printable(why).c_str());
    return why.empty() ? 0 : 1;
}

// The slots' UBIFS volume on the flash: UBI is attached by the kernel
// (ubi.mtd= on its command line); the volume is made on first use and
// mounted at /slots.
bool prepareFlash() {
    if (access("/sys/class/ubi/ubi0", F_OK) != 0) {
        say("no UBI device on the flash: the slots are not in use");
        return false;
    }
    std::string volumes;
    readWhole("/sys/class/ubi/ubi0/volumes_count", 64, &volumes);
    if (atoi(volumes.c_str()) == 0) {
        std::string blocks, size;
        readWhole("/sys/class/ubi/ubi0/avail_eraseblocks", 64, &blocks);
        readWhole("/sys/class/ubi/ubi0/eraseblock_size", 64, &size);
        struct ubi_mkvol_req req {};
        req.vol_id = UBI_VOL_NUM_AUTO;
        req.alignment = 1;
        req.bytes = static_cast<int64_t>(atoll(blocks.c_str())) * atoll(size.c_str());
        req.vol_type = UBI_DYNAMIC_VOLUME;
        snprintf(req.name, sizeof(req.name), "slots");
        req.name_len = static_cast<int16_t>(strlen(req.name));
        FileDescriptor ubi(open("/dev/ubi0", O_RDONLY | O_CLOEXEC));
        if (ubi.get() < 0 || ioctl(ubi.get(), UBI_IOCMKVOL, &req) != 0) {
            say(std::string("cannot make the slots' volume: ") + strerror(errno));
            return false;
        }
        say("made the slots' volume: " + std::to_string(req.bytes / 1024) + " KiB");
    }
    mkdir("/slots", 0755);
    if (mount("ubi0:slots", "/slots", "ubifs", MS_NOATIME, "") != 0) {
        say(std::string("cannot mount the slots' volume: ") + strerror(errno));
        return false;
    }
    return true;
}

// The application's start script, its process and what the trial watches.
class Supervisor {
  public:
    Supervisor(const UpdatePaths &p, std::string device) : m_p(p), m_device(std::move(device)) {}

    int run() {
        SlotRecord r;
        m_trial = readRecord(m_p, &r) && r.trial != '-' && slotInForce(m_p) == r.trial;
        begin();
        while (m_Stop == 0) {
            reap();
            if (m_trial) {
                watchTrial();
            } else if (handOverReady(m_p.handOver(), &m_handOver, nowMs())) {
                SlotResult done = installHandOver(m_p, say, runSelfCheck);
                if (done.slot != 0) {
                    switchTo(done.slot, true);
                }
            }
            sleepMs(c_PollMs);
        }
        stop();
        return 0;
    }

  private:
    // Starts the script of the slot in force (the application's directory).
    void begin() {
        FileDescriptor starts(
            open(m_p.starts().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        m_startsRead = 0;
        m_appPid = 0;
        m_lastStartMs = nowMs();
        // The installer of the version being started notes its starts; a
        // wrapper of the maker's (a debugger, strace) runs after it.
        std::string wrapper = m_p.running() + "/tstat-update app";
        if (!m_wrapper) {
            const char *old = getenv("TSTAT_WRAPPER");
            m_wrapper = old != nullptr ? old : "";
        }
        if (!m_wrapper->empty()) {
            wrapper += " " + *m_wrapper;
        }
        setenv("TSTAT_WRAPPER", wrapper.c_str(), 1);
        std::string script = m_p.running() + "/tstat-start";
        m_child = fork();
        if (m_child == 0) {
            setpgid(0, 0);
            if (chdir(m_p.running().c_str()) == 0) {
                execl(script.c_str(), "tstat-start", m_device.c_str(),
                      static_cast<char *>(nullptr));
            }
            _exit(127);
        }
    }

    // TERM to the start script, which stops the application; KILL to both
    // when that takes too long.
    void stop() {
        if (m_child <= 0) {
            return;
        }
        kill(m_child, SIGTERM);
        int64_t until = nowMs() + c_StopMs;
        while (waitpid(m_child, nullptr, WNOHANG) == 0) {
            if (nowMs() >= until) {
                kill(-m_child, SIGKILL);
                waitpid(m_child, nullptr, 0);
                break;
            }
            sleepMs(100);
        }
        m_child = -1;
    }

    void switchTo(char slot, bool trial) {
        stop();
        if (!pointRunning(m_p, slot)) {
            say("cannot point " + m_p.running() + " at slot " + std::string(1, slot));
        }
        m_trial = trial;
        begin();
    }

    void reap() {
        int status = 0;
        if (m_child <= 0 || waitpid(m_child, &status, WNOHANG) != m_child) {
            return;
        }
        m_child = -1;
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (m_trial && code != 0) {
            rollBack("its start script ended with status " + std::to_string(code));
        } else {
            say("the start script ended with status " + std::to_string(code) +
                "; the application stays ended");
        }
    }

    // The starts the wrapper noted since the last look.
    void readStarts() {
        std::string text;
        readWhole(m_p.starts(), 1 << 20, &text);
        for (size_t end; (end = text.find('\n', m_startsRead)) != std::string::npos;) {
            long pid = 0;
            LineCounts counts;
            sscanf(text.c_str() + m_startsRead, "%ld %ld %ld", &pid, &counts.tx, &counts.rx);
            m_startsRead = end + 1;
            if (m_appPid > 0) {
                // The start before it ended without its good mark.
                failedStart();
                if (!m_trial) {
                    return;
                }
            }
            m_appPid = static_cast<pid_t>(pid);
            m_watch = TrialWatch{nowMs(), counts, nowMs(), false, false};
            m_lastStartMs = nowMs();
        }
    }

    // The application of this start is still running (not a zombie).
    bool alive() const {
        std::string stat;
        if (!readWhole("/proc/" + std::to_string(m_appPid) + "/stat", 4096, &stat)) {
            return false;
        }
        size_t close = stat.rfind(')');
        return close != std::string::npos && stat.size() > close + 2 && stat[close + 2] != 'Z';
    }

    void watchTrial() {
        readStarts();
        if (!m_trial) {
            return;
        }
        if (m_appPid > 0 && !alive()) {
            m_appPid = 0;
            failedStart();
            return;
        }
        if (m_appPid == 0) {
            if (nowMs() - m_lastStartMs >= c_NoStartMs) {
                rollBack("the application did not start again");
            }
            return;
        }
        std::string why;
        switch (trialStep(&m_watch, nowMs(), serialCounts(m_device), &why)) {
        case TrialVerdict::Good: {
            std::string line;
            why = markGood(m_p, runSelfCheck, &line);
            if (!why.empty()) {
                rollBack(why);
                break;
            }
            say(line + ": " + trialEvidence(m_watch) + ", and its installer passed its self-check");
            m_trial = false;
            break;
        }
        case TrialVerdict::Failed:
            rollBack(why);
            break;
        case TrialVerdict::Running:
            break;
        }
    }

    void failedStart() {
        SlotRecord r;
        if (!readRecord(m_p, &r) || r.trial == '-') {
            return;
        }
        r.failed++;
        writeRecord(m_p, &r);
        say("version " + versionIn(m_p.slot(r.trial)) + " on trial: the application ended (" +
            std::to_string(r.failed) + " of " + std::to_string(TRIAL_STARTS) + " failed starts)");
        if (r.failed >= TRIAL_STARTS) {
            rollBack(std::to_string(r.failed) + " failed starts");
        }
    }

    void rollBack(const std::string &why) {
        SlotRecord r;
        if (!readRecord(m_p, &r) || r.trial == '-') {
            m_trial = false;
            return;
        }
        std::string failed = versionIn(m_p.slot(r.trial));
        r.trial = '-';
        r.failed = 0;
        writeRecord(m_p, &r);
        noteVerdict(m_p, "ROLLED-BACK");
        say("version " + failed + " failed its trial (" + why + "); back to version " +
            versionIn(m_p.slot(r.good)) + " in slot " + std::string(1, r.good));
        switchTo(r.good, false);
    }

    UpdatePaths m_p;
    std::string m_device;
    std::optional<std::string> m_wrapper;
    pid_t m_child = -1;
    bool m_trial = false;
    HandOverWatch m_handOver;
    size_t m_startsRead = 0;
    pid_t m_appPid = 0;
    int64_t m_lastStartMs = 0;
    TrialWatch m_watch;
};

void onSignal(int) {
    m_Stop = 1;
}

int run(const std::string &device) {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    return Supervisor(paths(), device).run();
}

// Boot: the slots, then the installer of the good slot takes over.
int start(const std::string &device) {
    UpdatePaths p = paths();
    if (p.root.empty() && !prepareFlash()) {
        return run(device);
    }
    SlotResult boot = bootSlots(p, say, runSelfCheck);
    SlotRecord r;
    if (boot.slot != 0 && readRecord(p, &r)) {
        std::string installer = p.slot(r.good) + "/tstat-update";
        execl(installer.c_str(), "tstat-update", "run", device.c_str(),
              static_cast<char *>(nullptr));
        say("cannot run " + installer + ": " + strerror(errno));
    }
    return run(device);
}

// Run by the start script in place of the application: notes the start,
// then becomes the application (or the command given before it).
int app(int argc, char **argv) {
    if (argc < 3) {
        return 127;
    }
    FileDescriptor fd(
        open(paths().starts().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    LineCounts counts = serialCounts(argv[argc - 1]);
    std::string line = std::to_string(getpid()) + " " + std::to_string(counts.tx) + " " +
                       std::to_string(counts.rx) + "\n";
    if (fd.get() >= 0 && write(fd.get(), line.data(), line.size()) < 0) {
        perror("tstat-update app");
    }
    fd.reset();
    execvp(argv[2], argv + 2);
    perror(argv[2]);
    return 127;
}

bool readSecret(const std::string &path, SecretKey *key) {
    std::string text;
    return readWhole(path, 1024, &text) && fromHex(text, key->data(), key->size());
}

bool writeText(const std::string &path, const std::string &text, mode_t mode) {
    FileDescriptor fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    return fd.get() >= 0 &&
           write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
           fd.closeNow();
}

int usage() {
    fputs("usage: tstat-update keygen KEY        a new key pair: KEY (secret, 0600) and KEY.pub\n"
          "       tstat-update pubkey KEY        print the public key of a secret key\n"
          "       tstat-update pack --key KEY [--version V] [--security N] STAGE OUT\n"
          "                                      sign the board image unpacked in STAGE as a\n"
          "                                      bundle (.tar.bz2)\n"
          "       tstat-update check --key PUB BUNDLE\n"
          "                                      the checks the board makes before installing\n"
          "       tstat-update start DEVICE      at boot: the slots, then run\n"
          "       tstat-update run DEVICE        the application's start script and the installer\n"
          "       tstat-update boot              choose and point at the slot to run\n"
          "       tstat-update app COMMAND...    (run by the start script) note a start, run it\n"
          "       tstat-update selfcheck         this installer's key, the slot record and the\n"
          "                                      hand-over place\n",
          stderr);
    return 2;
}

int keygen(const std::string &path) {
    PublicKey pub;
    SecretKey secret;
    if (!keyPair(&pub, &secret) ||
        !writeText(path, hex(secret.data(), secret.size()) + "\n", 0600) ||
        !writeText(path + ".pub", hex(pub.data(), pub.size()) + "\n", 0644)) {
        fprintf(stderr, "tstat-update: cannot write %s and %s.pub (they must not exist)\n",
                path.c_str(), path.c_str());
        return 1;
    }
    return 0;
}

// pack --key KEY [--version V] [--security N] STAGE OUT
int pack(int argc, char **argv) {
    std::map<std::string, std::string> options;
    int at = 2;
    for (; at + 1 < argc && argv[at][0] == '-'; at += 2) {
        options[argv[at]] = argv[at + 1];
    }
    SecretKey secret;
    if (at + 2 != argc || options.count("--key") == 0 ||
        options.size() != 1 + options.count("--version") + options.count("--security")) {
        return usage();
    }
    if (!readSecret(options["--key"], &secret)) {
        fprintf(stderr, "tstat-update: %s is not a secret key\n", options["--key"].c_str());
        return 1;
    }
    std::string why =
        packBundle(argv[at], secret, options["--version"], argv[at + 1], options["--security"]);
    if (!why.empty()) {
        fprintf(stderr, "tstat-update: %s\n", why.c_str());
        return 1;
    }
    return 0;
}

int check(const char *keyFile, const char *bundle) {
    std::string key, archive;
    PublicKey pub;
    Bundle b;
    if (!readWhole(keyFile, 256, &key) || !readPublicKey(key, &pub) ||
        !readWhole(bundle, UPDATE_ARCHIVE_MAX, &archive)) {
        fprintf(stderr, "tstat-update: cannot read %s or %s\n", keyFile, bundle);
        return 2;
    }
    std::string why = checkBundle(archive, pub, &b);
    std::string said = "version " + b.version + " (security version " +
                       std::to_string(b.listed.security) + ", for " + machineOf(b.listed.target) +
                       "): would be installed";
    printf("%s\n", printable(why.empty() ? said : "refused: " + why).c_str());
    return why.empty() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "app") {
        return app(argc, argv);
    }
    if ((cmd == "start" || cmd == "run") && argc == 3) {
        return cmd == "start" ? start(argv[2]) : run(argv[2]);
    }
    if (cmd == "boot" && argc == 2) {
        SlotResult r = bootSlots(paths(), say, runSelfCheck);
        return r.slot != 0 ? 0 : 1;
    }
    if (cmd == "selfcheck" && argc == 2) {
        return selfCheck();
    }
    if (cmd == "keygen" && argc == 3) {
        return keygen(argv[2]);
    }
    SecretKey secret;
    if (cmd == "pubkey" && argc == 3) {
        if (!readSecret(argv[2], &secret)) {
            fprintf(stderr, "tstat-update: %s is not a secret key\n", argv[2]);
            return 1;
        }
        PublicKey pub = publicOf(secret);
        printf("%s\n", hex(pub.data(), pub.size()).c_str());
        return 0;
    }
    if (cmd == "pack") {
        return pack(argc, argv);
    }
    if (cmd == "check" && argc == 5 && strcmp(argv[2], "--key") == 0) {
        return check(argv[3], argv[4]);
    }
    return usage();
}
