// The slots on the flash: the slot record, the board image installed into a
// slot, a boot's choice, an install beside the running version, the good
// mark, the hand-over file's completion and a trial's verdict.
#include "slots.h"

#include "host/file_descriptor.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string recordFile(const UpdatePaths &p, uint64_t generation) {
    return p.slots() + "/state-" + std::to_string(generation % 2);
}

std::string checksum(const std::string &text) {
    Sha256 sum = sha256(text);
    return hex(sum.data(), 8);
}

bool writeFileSynced(const std::string &path, const std::string &data, mode_t mode) {
    FileDescriptor fd(
        open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode));
    return fd.get() >= 0 &&
           write(fd.get(), data.data(), data.size()) == static_cast<ssize_t>(data.size()) &&
           fchmod(fd.get(), mode) == 0 && fsync(fd.get()) == 0 && fd.closeNow();
}

bool syncDirectory(const std::string &dir) {
    FileDescriptor fd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.get() >= 0 && fsync(fd.get()) == 0;
}

// Where the board image's own copy is: /opt/tstat until a boot has moved it.
std::string imageDir(const UpdatePaths &p) {
    struct stat st {};
    return lstat(p.running().c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? p.running() : p.factory();
}

// Copies the files a directory's MANIFEST lists, and the MANIFEST, into slot
// dir to, made anew and synchronised. "" or why not.
std::string copyImage(const std::string &from, const std::string &to) {
    std::string text;
    Manifest m;
    std::string why;
    if (!readWhole(from + "/MANIFEST", UPDATE_MANIFEST_MAX, &text)) {
        return "no " + from + "/MANIFEST";
    }
    if (!parseManifest(text, &m, &why)) {
        return why;
    }
    std::error_code ec;
    fs::remove_all(to, ec);
    m.files[UPDATE_MANIFEST] = sha256(text);
    for (const auto &[name, sha] : m.files) {
        std::string rel = name.substr(strlen(UPDATE_PREFIX));
        std::string data;
        struct stat st {};
        if (!readWhole(from + "/" + rel, UPDATE_FILE_MAX, &data) ||
            stat((from + "/" + rel).c_str(), &st) != 0) {
            return "cannot read " + from + "/" + rel;
        }
        // The MANIFEST's modes; an image whose MANIFEST names none, its own.
        mode_t mode = !m.executables.empty()     ? m.modeOf(name)
                      : (st.st_mode & 0111) != 0 ? 0755
                                                 : 0644;
        fs::create_directories(fs::path(to + "/" + rel).parent_path(), ec);
        if (ec || !writeFileSynced(to + "/" + rel, data, mode)) {
            return "cannot write " + to + "/" + rel;
        }
    }
    for (auto it = fs::recursive_directory_iterator(to, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory() && !syncDirectory(it->path().string())) {
            return "cannot synchronise " + it->path().string();
        }
    }
    return syncDirectory(to) && syncDirectory(fs::path(to).parent_path().string())
               ? ""
               : "cannot synchronise " + to;
}

std::string slotName(const UpdatePaths &p, char s) {
    return "version " + versionIn(p.slot(s)) + " (slot " + std::string(1, s) + ")";
}

// A directory's MANIFEST read, false when there is none or it is not one.
bool manifestIn(const std::string &dir, Manifest *m) {
    std::string text;
    std::string why;
    return readWhole(dir + "/MANIFEST", UPDATE_MANIFEST_MAX, &text) && parseManifest(text, m, &why);
}

// A directory's public key as one line of hex, "" when it is not a key.
std::string keyIn(const std::string &dir) {
    std::string text;
    PublicKey k;
    if (!readWhole(dir + "/update-key.pub", 256, &text) || !readPublicKey(text, &k)) {
        return "";
    }
    return hex(k.data(), k.size());
}

// Every line said also goes into the result, escaped as it is printed.
struct Notes {
    SlotResult *out;
    const Say &say;
    void operator()(const std::string &line) const {
        std::string l = printable(line);
        out->lines.push_back(l);
        if (say) {
            say(l);
        }
    }
};

} // namespace

std::string recordText(const SlotRecord &r) {
    char line[256];
    snprintf(line, sizeof(line),
             "tstat-slots gen=%" PRIu64 " good=%c trial=%c failed=%u image=%s security=%" PRIu32
             " key=%s",
             r.generation, r.good, r.trial, r.failed, r.image.empty() ? "-" : r.image.c_str(),
             r.security, r.key.empty() ? "-" : r.key.c_str());
    return std::string(line) + " sum=" + checksum(line) + "\n";
}

bool parseRecord(const std::string &text, SlotRecord *r) {
    size_t sum = text.rfind(" sum=");
    if (sum == std::string::npos || text.substr(sum + 5) != checksum(text.substr(0, sum)) + "\n") {
        return false;
    }
    SlotRecord out;
    char image[64] = "";
    char key[65] = "-";
    int used = 0;
    if (sscanf(text.c_str(), "tstat-slots gen=%" SCNu64 " good=%c trial=%c failed=%u image=%63s%n",
               &out.generation, &out.good, &out.trial, &out.failed, image, &used) != 5) {
        return false;
    }
    // A record from before the security version and the key had neither.
    int more = 0;
    if (static_cast<size_t>(used) != sum &&
        sscanf(text.c_str() + used, " security=%" SCNu32 " key=%64s%n", &out.security, key,
               &more) == 2) {
        used += more;
    }
    if (static_cast<size_t>(used) != sum || (out.good != 'a' && out.good != 'b') ||
        (out.trial != '-' && out.trial != otherSlot(out.good))) {
        return false;
    }
    out.image = strcmp(image, "-") == 0 ? "" : image;
    out.key = strcmp(key, "-") == 0 ? "" : key;
    *r = out;
    return true;
}

bool readRecord(const UpdatePaths &p, SlotRecord *r) {
    bool found = false;
    for (uint64_t n = 0; n < 2; n++) {
        std::string text;
        SlotRecord one;
        if (readWhole(recordFile(p, n), 512, &text) && parseRecord(text, &one) &&
            one.generation % 2 == n && (!found || one.generation > r->generation)) {
            *r = one;
            found = true;
        }
    }
    return found;
}

bool writeRecord(const UpdatePaths &p, SlotRecord *r) {
    r->generation++;
    std::string file = recordFile(p, r->generation);
    return writeFileSynced(file + ".new", recordText(*r), 0644) &&
           rename((file + ".new").c_str(), file.c_str()) == 0 && syncDirectory(p.slots());
}

bool writeBothRecords(const UpdatePaths &p, SlotRecord *r) {
    return writeRecord(p, r) && writeRecord(p, r);
}

void noteVerdict(const UpdatePaths &p, const char *word) {
    std::string file = p.lastUpdate();
    if (!writeFileSynced(file + ".new", std::string(word) + "\n", 0644) ||
        rename((file + ".new").c_str(), file.c_str()) != 0) {
        unlink((file + ".new").c_str());
    }
}

char slotInForce(const UpdatePaths &p) {
    char target[PATH_MAX];
    ssize_t n = readlink(p.running().c_str(), target, sizeof(target) - 1);
    if (n <= 0) {
        return 0;
    }
    target[n] = '\0';
    std::string t(target);
    return t == "../slots/a" ? 'a' : t == "../slots/b" ? 'b' : 0;
}

bool pointRunning(const UpdatePaths &p, char slot) {
    std::string link = p.running() + ".new";
    struct stat st {};
    if (lstat(p.running().c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
        rename(p.running().c_str(), p.factory().c_str()) != 0) {
        return false;
    }
    unlink(link.c_str());
    return symlink(("../slots/" + std::string(1, slot)).c_str(), link.c_str()) == 0 &&
           rename(link.c_str(), p.running().c_str()) == 0;
}

std::string versionIn(const std::string &dir) {
    std::string manifest;
    std::string v;
    if (readWhole(dir + "/MANIFEST", UPDATE_MANIFEST_MAX, &manifest)) {
        v = manifestVersion(manifest);
    }
    return v.empty() ? "?" : v;
}

std::string verifySlot(const std::string &dir) {
    std::string text;
    Manifest m;
    std::string why;
    if (!readWhole(dir + "/MANIFEST", UPDATE_MANIFEST_MAX, &text)) {
        return "no MANIFEST";
    }
    if (!parseManifest(text, &m, &why)) {
        return why;
    }
    for (const auto &[name, sha] : m.files) {
        std::string data;
        std::string rel = name.substr(strlen(UPDATE_PREFIX));
        if (!readWhole(dir + "/" + rel, UPDATE_FILE_MAX, &data) || sha256(data) != sha) {
            return rel + " does not match the MANIFEST";
        }
    }
    return "";
}

namespace {

// A boot's work on the record: the board image, the slot to run.
struct Boot {
    const UpdatePaths &p;
    Notes note;
    const SelfCheck &check;
    std::string image; // the board image's own copy
    std::string imageId;
    Manifest imageManifest;
    SlotRecord r;
    bool have = false;

    bool load() {
        image = imageDir(p);
        std::string text;
        std::string why;
        if (!readWhole(image + "/MANIFEST", UPDATE_MANIFEST_MAX, &text) ||
            !parseManifest(text, &imageManifest, &why)) {
            note("no board image in " + image);
            return false;
        }
        Sha256 id = sha256(text);
        imageId = hex(id.data(), 8);
        have = readRecord(p, &r);
        return true;
    }

    // Installs the board image into slot s as the good one. Its key and
    // security version replace the record's only on the first start or for
    // a new image at least as secure; a fall-back keeps the record's.
    bool installImage(char s, const std::string &because, bool fallBack) {
        std::string why = copyImage(image, p.slot(s));
        SlotRecord made{r.generation, s, '-', 0, imageId, r.security, r.key};
        bool takes = !have || (!fallBack && imageManifest.security >= r.security);
        if (takes) {
            made.security = imageManifest.security;
            made.key = keyIn(image);
        }
        if (why.empty() && !writeBothRecords(p, &made)) {
            why = "cannot write the slot record";
        }
        if (!why.empty()) {
            note("cannot install the board image in slot " + std::string(1, s) + ": " + why);
            return false;
        }
        r = made;
        note(because + ": the board image's version " + versionIn(image) + " installed in slot " +
             std::string(1, s) +
             (takes ? ""
                    : "; the update key and security version " + std::to_string(r.security) +
                          " of the newest version marked good stay in force"));
        return true;
    }

    // A start on trial ended without its good mark: a power cut, a reset or
    // a hang.
    void countFailedStart() {
        std::string trial = slotName(p, r.trial);
        if (++r.failed >= TRIAL_STARTS) {
            noteVerdict(p, "ROLLED-BACK");
            note(trial + " failed its trial: " + std::to_string(r.failed) +
                 " starts without a good run; back to " + slotName(p, r.good));
            r.trial = '-';
            r.failed = 0;
        }
        writeRecord(p, &r);
    }

    // "" when slot s is whole and its installer passes its self-check.
    std::string fault(char s) const {
        std::string why = verifySlot(p.slot(s));
        if (why.empty() && check) {
            std::string failed = check(p.slot(s));
            why = failed.empty() ? "" : "its installer fails its self-check: " + failed;
        }
        return why;
    }

    // The slot to run, 0 when there is none.
    char choose() {
        char s = r.trial != '-' ? r.trial : r.good;
        std::string why = fault(s);
        if (!why.empty() && s == r.trial) {
            noteVerdict(p, "ROLLED-BACK");
            note(slotName(p, s) + " is damaged (" + why + "); back to " + slotName(p, r.good));
            r.trial = '-';
            r.failed = 0;
            writeRecord(p, &r);
            s = r.good;
            why = fault(s);
        }
        if (!why.empty()) {
            noteVerdict(p, "FELL-BACK");
            if (!installImage(otherSlot(s),
                              "slot " + std::string(1, s) + " is damaged (" + why + ")", true)) {
                return 0;
            }
            s = r.good;
        }
        return s;
    }
};

} // namespace

SlotResult bootSlots(const UpdatePaths &p, const Say &say, const SelfCheck &check) {
    SlotResult out;
    Boot b{p, Notes{&out, say}, check, "", "", {}, {}, false};
    if (!b.load()) {
        return out;
    }
    if (!b.have || b.r.image != b.imageId) {
        if (!b.installImage(b.have ? otherSlot(b.r.good) : 'a',
                            b.have ? "the board image has changed" : "first start", false)) {
            return out;
        }
    } else if (b.r.trial != '-') {
        b.countFailedStart();
    }
    char s = b.choose();
    if (s != 0 && !pointRunning(p, s)) {
        b.note("cannot point " + p.running() + " at slot " + std::string(1, s));
        s = 0;
    }
    if (s == 0) {
        return out;
    }
    out.slot = s;
    out.trial = b.r.trial == s;
    b.note("running " + slotName(p, s) +
           (out.trial ? " on trial, start " + std::to_string(b.r.failed + 1) + " of " +
                            std::to_string(TRIAL_STARTS)
                      : ""));
    return out;
}

namespace {

// Whether a checked bundle fits this board: not the version running, not
// below the security version it has run, built for its machine.
std::string fitsBoard(const UpdatePaths &p, const SlotRecord &r, const Bundle &b) {
    std::string running;
    readWhole(p.running() + "/MANIFEST", UPDATE_MANIFEST_MAX, &running);
    if (running == b.manifest) {
        return "version " + b.version + " is already running";
    }
    if (b.listed.security < r.security) {
        return "version " + b.version + " has security version " +
               std::to_string(b.listed.security) + ", lower than " + std::to_string(r.security) +
               ", which this board has run";
    }
    std::string mine = machineOf(manifestField(running, "target"));
    if (machineOf(b.listed.target) != mine) {
        return "version " + b.version + " is built for " + machineOf(b.listed.target) +
               ", this board is " + mine;
    }
    return "";
}

// Why the hand-over file may not be installed, "" when it may: read into
// archive and checked into b against the record r.
std::string handOverRefusal(const UpdatePaths &p, std::string *archive, SlotRecord *r, Bundle *b) {
    struct stat st {};
    PublicKey pub{};
    if (lstat(p.handOver().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return "the hand-over file is not a regular file";
    }
    if (static_cast<uint64_t>(st.st_size) > UPDATE_ARCHIVE_MAX) {
        return "the archive is larger than " + std::to_string(UPDATE_ARCHIVE_MAX) + " bytes";
    }
    if (!readWhole(p.handOver(), UPDATE_ARCHIVE_MAX, archive)) {
        return "cannot read the hand-over file";
    }
    if (!readRecord(p, r) || slotInForce(p) != r->good) {
        return r->trial != '-' ? "a version is on trial" : "the slots are not in use";
    }
    // The newest key marked good; a record from before it kept one, the
    // running version's.
    if (!readPublicKey(r->key.empty() ? keyIn(p.running()) : r->key, &pub)) {
        return "the running version has no public key";
    }
    std::string why = checkBundle(*archive, pub, b);
    return why.empty() ? fitsBoard(p, *r, *b) : why;
}

} // namespace

SlotResult installHandOver(const UpdatePaths &p, const Say &say, const SelfCheck &check) {
    SlotResult out;
    Notes note{&out, say};
    std::string archive;
    SlotRecord r;
    Bundle b;
    std::string why = handOverRefusal(p, &archive, &r, &b);
    // Whatever it is (a directory or a link in its place too), it goes, so
    // that it is not taken again.
    std::error_code gone;
    fs::remove_all(p.handOver(), gone);
    if (!why.empty()) {
        noteVerdict(p, "REFUSED");
        note("update refused: " + why);
        return out;
    }
    note("update: version " + b.version + " is signed and its " +
         std::to_string(b.files.size() - 2) + " files match its MANIFEST");
    char target = otherSlot(r.good);
    std::error_code ec;
    fs::remove_all(p.slot(target), ec);
    why = unpackBundle(archive, b, p.slot(target));
    std::string failed = why.empty() && check ? check(p.slot(target)) : "";
    if (!failed.empty()) {
        why = "its installer fails its self-check: " + failed;
    }
    if (why.empty()) {
        r.trial = target;
        r.failed = 0;
        if (!writeRecord(p, &r)) {
            why = "cannot write the slot record";
        }
    }
    if (!why.empty()) {
        fs::remove_all(p.slot(target), ec);
        noteVerdict(p, "FAILED");
        note("update failed, nothing changed: " + why);
        return out;
    }
    noteVerdict(p, "TRIAL");
    out.slot = target;
    out.trial = true;
    note("version " + b.version + " installed in slot " + std::string(1, target) +
         "; starting it on trial");
    return out;
}

std::string markGood(const UpdatePaths &p, const SelfCheck &check, std::string *line) {
    SlotRecord r;
    if (!readRecord(p, &r) || r.trial == '-') {
        return "no version is on trial";
    }
    char s = r.trial;
    std::string failed = check ? check(p.slot(s)) : "";
    if (!failed.empty()) {
        return "its installer fails its self-check: " + failed;
    }
    Manifest m;
    manifestIn(p.slot(s), &m);
    std::string key = keyIn(p.slot(s));
    r.good = s;
    r.trial = '-';
    r.failed = 0;
    r.security = std::max(r.security, m.security);
    r.key = key.empty() ? r.key : key;
    if (!writeBothRecords(p, &r)) {
        return "cannot write the slot record";
    }
    noteVerdict(p, "GOOD");
    *line = printable("version " + versionIn(p.slot(s)) + " is good");
    return "";
}

namespace {

// Whether any process has the file open for writing (its /proc entries).
bool openForWriting(const std::string &path) {
    std::error_code ec;
    fs::path real = fs::canonical(path, ec);
    DIR *proc = opendir("/proc");
    bool open = false;
    for (struct dirent *d = proc != nullptr ? readdir(proc) : nullptr; d != nullptr && !open;
         d = readdir(proc)) {
        if (d->d_name[0] < '1' || d->d_name[0] > '9') {
            continue;
        }
        std::string fds = std::string("/proc/") + d->d_name + "/fd";
        for (auto it = fs::directory_iterator(fds, ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            std::error_code lec;
            if (fs::read_symlink(it->path(), lec) != real) {
                continue;
            }
            std::string info;
            unsigned long flags = 0;
            readWhole(std::string("/proc/") + d->d_name + "/fdinfo/" +
                          it->path().filename().string(),
                      4096, &info);
            size_t at = info.find("flags:");
            if (at != std::string::npos && sscanf(info.c_str() + at + 6, "%lo", &flags) == 1 &&
                (flags & O_ACCMODE) != O_RDONLY) {
                open = true;
                break;
            }
        }
        ec.clear();
    }
    if (proc != nullptr) {
        closedir(proc);
    }
    return open;
}

} // namespace

bool handOverReady(const std::string &path, HandOverWatch *w, int64_t nowMs) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        w->seen = false;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        return true;
    }
    int64_t mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (openForWriting(path)) {
        w->seen = false;
        return false;
    }
    if (!w->seen || st.st_size != w->size || mtime != w->mtimeNs) {
        *w = {true, st.st_size, mtime, nowMs};
        return false;
    }
    return nowMs - w->sinceMs >= HANDOVER_QUIET_MS;
}

TrialVerdict trialStep(TrialWatch *w, int64_t nowMs, LineCounts now, std::string *why) {
    if (!now.known()) {
        // Nothing to watch the line with: the run alone decides.
        w->txChangedMs = nowMs;
        return nowMs - w->startMs >= TRIAL_GOOD_MS ? TrialVerdict::Good : TrialVerdict::Running;
    }
    bool sentNow = now.tx != w->last.tx;
    // Bytes received after bytes sent, or in the same look: a request
    // answered (the coprocessor answers within milliseconds).
    if (now.rx != w->last.rx && (w->sent || sentNow)) {
        w->answered = true;
    }
    if (sentNow) {
        w->sent = true;
        w->txChangedMs = nowMs;
    }
    w->last = now;
    if (!w->answered) {
        if (nowMs - w->startMs >= TRIAL_STARTUP_MS) {
            *why = (w->sent ? "no answer from the coprocessor within "
                            : "no start-up packet within ") +
                   std::to_string(TRIAL_STARTUP_MS / 1000) + " s";
            return TrialVerdict::Failed;
        }
        return TrialVerdict::Running;
    }
    if (nowMs - w->txChangedMs >= TRIAL_SILENT_MS) {
        *why =
            "nothing sent to the coprocessor for " + std::to_string(TRIAL_SILENT_MS / 1000) + " s";
        return TrialVerdict::Failed;
    }
    return nowMs - w->startMs >= TRIAL_GOOD_MS ? TrialVerdict::Good : TrialVerdict::Running;
}

std::string trialEvidence(const TrialWatch &w) {
    std::string run = "ran " + std::to_string(TRIAL_GOOD_MS / 1000) + " s without a crash";
    return w.answered ? "the coprocessor answered its requests and it " + run
                      : "it " + run +
                            " (alive only: the serial line's driver counts no bytes, so its "
                            "link to the coprocessor was not seen)";
}
