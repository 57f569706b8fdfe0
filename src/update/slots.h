// The application's two slots on the flash (/slots/a and /slots/b, a UBIFS
// volume), the record of which one is in force, and what boots, installs
// and trials do with them.
//
// The record is one line of text with a generation number and a checksum,
// kept in two files: generation n goes to state-(n % 2), written beside it,
// synchronised and renamed over it, so a power cut leaves the old record or
// the new one, and the newest record whose checksum holds decides. It names
// the good slot, the slot on trial (if any) and the trial's failed starts.
//
// /opt/tstat is a link to the slot in force; the board image's own copy,
// the root file system's /opt/tstat, moves to /opt/tstat-factory at boot
// and is installed into a slot when the slots are blank, when the root file
// system carries another image than the one they were made from, and when
// the good slot is damaged.
#pragma once

#include "bundle.h"

#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Starts a version on trial may have: a crash or a power cut before the
// good mark is a failed start, and the third sends the board back.
constexpr unsigned TRIAL_STARTS = 3;
// The application must have sent its start-up packet this long after its
// start, and then run this long without a crash, sending to the
// coprocessor at least once in every TRIAL_SILENT_MS (its periodic
// requests go out every second).
constexpr int64_t TRIAL_STARTUP_MS = 30000;
constexpr int64_t TRIAL_GOOD_MS = 60000;
constexpr int64_t TRIAL_SILENT_MS = 10000;
// The hand-over file is taken once no process has it open for writing and
// its size and time have not changed for this long.
constexpr int64_t HANDOVER_QUIET_MS = 1000;

struct UpdatePaths {
    std::string root; // "" on the board, a board root on the host
    std::string handOver() const { return root + "/tmp/mtdblock5"; }
    std::string running() const { return root + "/opt/tstat"; }
    std::string factory() const { return root + "/opt/tstat-factory"; }
    std::string slots() const { return root + "/slots"; }
    std::string slot(char s) const { return slots() + "/" + s; }
    std::string starts() const { return root + "/run/tstat-update.starts"; }
};

struct SlotRecord {
    uint64_t generation = 0;
    char good = 'a';
    char trial = '-'; // '-': none
    unsigned failed = 0;
    std::string image; // the board image the slots were last made from
};

std::string recordText(const SlotRecord &r);
bool parseRecord(const std::string &text, SlotRecord *r);
// The newest valid record; false when there is none.
bool readRecord(const UpdatePaths &p, SlotRecord *r);
// Writes r as the next generation (r->generation is advanced).
bool writeRecord(const UpdatePaths &p, SlotRecord *r);

inline char otherSlot(char s) {
    return s == 'a' ? 'b' : 'a';
}
// The slot /opt/tstat points to, 0 when it points to none.
char slotInForce(const UpdatePaths &p);
// Points /opt/tstat at the slot, atomically.
bool pointRunning(const UpdatePaths &p, char slot);
// The version in a directory's MANIFEST ("?" when it has none).
std::string versionIn(const std::string &dir);
// "" when every file the directory's MANIFEST lists has its SHA-256.
std::string verifySlot(const std::string &dir);

// What a boot, an install or a trial did: the slot now in force (0: none)
// and the lines to say.
struct SlotResult {
    char slot = 0;
    bool trial = false;
    std::vector<std::string> lines;
};

// Each line as it is said, besides the result's list.
using Say = std::function<void(const std::string &)>;

// At boot: the board image into a slot when needed, a failed start counted
// for a version that was on trial, the slot in force checked and pointed at.
SlotResult bootSlots(const UpdatePaths &p, const Say &say = {});
// The hand-over file checked and, when it passes, unpacked into the slot
// that is not in force, which goes on trial; the file is removed.
SlotResult installHandOver(const UpdatePaths &p, const Say &say = {});

// The hand-over file's watch: true once it is complete.
struct HandOverWatch {
    bool seen = false;
    off_t size = 0;
    int64_t mtimeNs = 0;
    int64_t sinceMs = 0;
};
bool handOverReady(const std::string &path, HandOverWatch *w, int64_t nowMs);

// One start of the application on trial, watched through the count of
// bytes its serial line has sent (-1: not known).
struct TrialWatch {
    int64_t startMs = 0;
    long txAtStart = -1;
    long txLast = -1;
    int64_t txChangedMs = 0;
    bool sent = false;
};
enum class TrialVerdict { Running, Good, Failed };
TrialVerdict trialStep(TrialWatch *w, int64_t nowMs, long tx, std::string *why);
