// The slots on the flash: the slot record, the board image installed into a
// slot, a boot's choice, an install beside the running version, the
// hand-over file's completion and a trial's verdict.
#include "slots.h"

#include "host/file_descriptor.h"

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
    std::string manifest;
    std::map<std::string, Sha256> files;
    std::string why;
    if (!readWhole(from + "/MANIFEST", UPDATE_MANIFEST_MAX, &manifest)) {
        return "no " + from + "/MANIFEST";
    }
    if (!parseManifest(manifest, &files, &why)) {
        return why;
    }
    std::error_code ec;
    fs::remove_all(to, ec);
    files[UPDATE_MANIFEST] = sha256(manifest);
    for (const auto &[name, sha] : files) {
        std::string rel = name.substr(strlen(UPDATE_PREFIX));
        std::string data;
        struct stat st {};
        if (!readWhole(from + "/" + rel, UPDATE_FILE_MAX, &data) ||
            stat((from + "/" + rel).c_str(), &st) != 0) {
            return "cannot read " + from + "/" + rel;
        }
        fs::create_directories(fs::path(to + "/" + rel).parent_path(), ec);
        if (ec || !writeFileSynced(to + "/" + rel, data, (st.st_mode & 0111) != 0 ? 0755 : 0644)) {
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

} // namespace

std::string recordText(const SlotRecord &r) {
    char line[160];
    snprintf(line, sizeof(line), "tstat-slots gen=%" PRIu64 " good=%c trial=%c failed=%u image=%s",
             r.generation, r.good, r.trial, r.failed, r.image.empty() ? "-" : r.image.c_str());
    return std::string(line) + " sum=" + checksum(line) + "\n";
}

bool parseRecord(const std::string &text, SlotRecord *r) {
    size_t sum = text.rfind(" sum=");
    if (sum == std::string::npos || text.substr(sum + 5) != checksum(text.substr(0, sum)) + "\n") {
        return false;
    }
    SlotRecord out;
    char image[64] = "";
    int used = 0;
    if (sscanf(text.c_str(), "tstat-slots gen=%" SCNu64 " good=%c trial=%c failed=%u image=%63s%n",
               &out.generation, &out.good, &out.trial, &out.failed, image, &used) != 5 ||
        static_cast<size_t>(used) != sum || (out.good != 'a' && out.good != 'b') ||
        (out.trial != '-' && out.trial != otherSlot(out.good))) {
        return false;
    }
    out.image = strcmp(image, "-") == 0 ? "" : image;
    *r = out;
    return true;
}

bool readRecord(const UpdatePaths &p, SlotRecord *r) {
    bool found = false;
    for (uint64_t n = 0; n < 2; n++) {
        std::string text;
        SlotRecord one;
        if (readWhole(recordFile(p, n), 256, &text) && parseRecord(text, &one) &&
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
    std::string manifest;
    std::map<std::string, Sha256> files;
    std::string why;
    if (!readWhole(dir + "/MANIFEST", UPDATE_MANIFEST_MAX, &manifest)) {
        return "no MANIFEST";
    }
    if (!parseManifest(manifest, &files, &why)) {
        return why;
    }
    for (const auto &[name, sha] : files) {
        std::string data;
        std::string rel = name.substr(strlen(UPDATE_PREFIX));
        if (!readWhole(dir + "/" + rel, UPDATE_FILE_MAX, &data) || sha256(data) != sha) {
            return rel + " does not match the MANIFEST";
        }
    }
    return "";
}

SlotResult bootSlots(const UpdatePaths &p, const Say &say) {
    SlotResult out;
    auto note = [&](const std::string &line) {
        out.lines.push_back(line);
        if (say) {
            say(line);
        }
    };
    std::string image = imageDir(p);
    std::string imageManifest;
    if (!readWhole(image + "/MANIFEST", UPDATE_MANIFEST_MAX, &imageManifest)) {
        note("no board image in " + image);
        return out;
    }
    Sha256 id = sha256(imageManifest);
    std::string imageId = hex(id.data(), 8);
    std::string imageVersion = "version " + versionIn(image);
    SlotRecord r;
    bool have = readRecord(p, &r);
    // Installs the board image into slot s as the good one.
    auto installImage = [&](char s, const std::string &because) {
        std::string why = copyImage(image, p.slot(s));
        SlotRecord made{r.generation, s, '-', 0, imageId};
        if (why.empty() && !writeRecord(p, &made)) {
            why = "cannot write the slot record";
        }
        if (!why.empty()) {
            note("cannot install the board image in slot " + std::string(1, s) + ": " + why);
            return false;
        }
        r = made;
        note(because + ": the board image's " + imageVersion + " installed in slot " +
             std::string(1, s));
        return true;
    };
    if (!have || r.image != imageId) {
        if (!installImage(have ? otherSlot(r.good) : 'a',
                          have ? "the board image has changed" : "first start")) {
            return out;
        }
    } else if (r.trial != '-') {
        // The last start on trial ended without its good mark: a power cut,
        // a reset or a hang.
        std::string trial = slotName(p, r.trial);
        if (++r.failed >= TRIAL_STARTS) {
            note(trial + " failed its trial: " + std::to_string(r.failed) +
                 " starts without a good run; back to " + slotName(p, r.good));
            r.trial = '-';
            r.failed = 0;
        }
        writeRecord(p, &r);
    }
    char s = r.trial != '-' ? r.trial : r.good;
    std::string why = verifySlot(p.slot(s));
    if (!why.empty() && s == r.trial) {
        note(slotName(p, s) + " is damaged (" + why + "); back to " + slotName(p, r.good));
        r.trial = '-';
        r.failed = 0;
        writeRecord(p, &r);
        s = r.good;
        why = verifySlot(p.slot(s));
    }
    if (!why.empty()) {
        if (!installImage(otherSlot(s),
                          "slot " + std::string(1, s) + " is damaged (" + why + ")")) {
            return out;
        }
        s = r.good;
    }
    if (!pointRunning(p, s)) {
        note("cannot point " + p.running() + " at slot " + std::string(1, s));
        return out;
    }
    out.slot = s;
    out.trial = r.trial == s;
    note("running " + slotName(p, s) +
         (out.trial ? " on trial, start " + std::to_string(r.failed + 1) + " of " +
                          std::to_string(TRIAL_STARTS)
                    : ""));
    return out;
}

SlotResult installHandOver(const UpdatePaths &p, const Say &say) {
    SlotResult out;
    auto note = [&](const std::string &line) {
        out.lines.push_back(line);
        if (say) {
            say(line);
        }
    };
    std::string archive;
    struct stat st {};
    std::string key;
    PublicKey pub{};
    SlotRecord r;
    Bundle b;
    std::string why;
    if (lstat(p.handOver().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        why = "the hand-over file is not a regular file";
    } else if (static_cast<uint64_t>(st.st_size) > UPDATE_ARCHIVE_MAX) {
        why = "the archive is larger than " + std::to_string(UPDATE_ARCHIVE_MAX) + " bytes";
    } else if (!readWhole(p.handOver(), UPDATE_ARCHIVE_MAX, &archive)) {
        why = "cannot read the hand-over file";
    } else if (!readRecord(p, &r) || slotInForce(p) != r.good) {
        why = r.trial != '-' ? "a version is on trial" : "the slots are not in use";
    } else if (!readWhole(p.running() + "/update-key.pub", 256, &key) ||
               !fromHex(key, pub.data(), pub.size())) {
        why = "the running version has no public key";
    } else {
        why = checkBundle(archive, pub, &b);
    }
    std::string running;
    if (why.empty() && readWhole(p.running() + "/MANIFEST", UPDATE_MANIFEST_MAX, &running) &&
        running == b.manifest) {
        why = "version " + b.version + " is already running";
    }
    // Whatever it is (a directory or a link in its place too), it goes, so
    // that it is not taken again.
    std::error_code gone;
    fs::remove_all(p.handOver(), gone);
    if (!why.empty()) {
        note("update refused: " + why);
        return out;
    }
    note("update: version " + b.version + " is signed and its " +
         std::to_string(b.files.size() - 2) + " files match its MANIFEST");
    char target = otherSlot(r.good);
    std::error_code ec;
    fs::remove_all(p.slot(target), ec);
    why = unpackBundle(archive, b, p.slot(target));
    if (why.empty()) {
        r.trial = target;
        r.failed = 0;
        if (!writeRecord(p, &r)) {
            why = "cannot write the slot record";
        }
    }
    if (!why.empty()) {
        fs::remove_all(p.slot(target), ec);
        note("update failed, nothing changed: " + why);
        return out;
    }
    out.slot = target;
    out.trial = true;
    note("version " + b.version + " installed in slot " + std::string(1, target) +
         "; starting it on trial");
    return out;
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

TrialVerdict trialStep(TrialWatch *w, int64_t nowMs, long tx, std::string *why) {
    if (tx < 0) {
        // Nothing to watch the line with: the run alone decides.
        w->sent = true;
        w->txChangedMs = nowMs;
    } else if (tx != w->txLast) {
        w->txLast = tx;
        w->txChangedMs = nowMs;
        w->sent = w->sent || tx != w->txAtStart;
    }
    if (!w->sent) {
        if (nowMs - w->startMs >= TRIAL_STARTUP_MS) {
            *why = "no start-up packet within " + std::to_string(TRIAL_STARTUP_MS / 1000) + " s";
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
