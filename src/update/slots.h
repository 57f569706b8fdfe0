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
// The coprocessor must have answered the application's requests this long
// after its start, and the application then run this long without a
// crash, sending to the coprocessor at least once in every TRIAL_SILENT_MS
// (its periodic requests go out every second).
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
    std::string handOverDir() const { return root + "/tmp"; }
    // The last update's verdict, one word the application answers the bus
    // with: TRIAL, GOOD, REFUSED, FAILED, ROLLED-BACK or FELL-BACK.
    std::string lastUpdate() const { return slots() + "/last-update"; }
};

struct SlotRecord {
    uint64_t generation = 0;
    char good = 'a';
    char trial = '-'; // '-': none
    unsigned failed = 0;
    std::string image;     // the board image the slots were last made from
    uint32_t security = 0; // the highest security version marked good
    std::string key;       // the newest update key marked good (hex), "" none
};

std::string recordText(const SlotRecord &r);
bool parseRecord(const std::string &text, SlotRecord *r);
// The newest valid record; false when there is none.
bool readRecord(const UpdatePaths &p, SlotRecord *r);
// Writes r as the next generation (r->generation is advanced).
bool writeRecord(const UpdatePaths &p, SlotRecord *r);
// Writes r as the next two generations: both files hold what it keeps.
bool writeBothRecords(const UpdatePaths &p, SlotRecord *r);

inline char otherSlot(char s) {
    return s == 'a' ? 'b' : 'a';
}
// The slot /opt/tstat points to, 0 when it points to none.
char slotInForce(const UpdatePaths &p);
// Writes the last update's verdict (UpdatePaths::lastUpdate), before the
// line that says it: whoever reads the line finds the verdict in place.
void noteVerdict(const UpdatePaths &p, const char *word);
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
// Runs the installer in a slot's directory with `selfcheck`: "" when it
// passed, else why not.
using SelfCheck = std::function<std::string(const std::string &dir)>;

// At boot: the board image into a slot when needed, a failed start counted
// for a version that was on trial, the slot in force checked (its files and
// its installer's self-check) and pointed at.
SlotResult bootSlots(const UpdatePaths &p, const Say &say = {}, const SelfCheck &check = {});
// The hand-over file checked and, when it passes, unpacked into the slot
// that is not in force, which goes on trial once its installer passed its
// self-check; the file is removed.
SlotResult installHandOver(const UpdatePaths &p, const Say &say = {}, const SelfCheck &check = {});
// The version on trial marked good once its installer passed its
// self-check: its security version and key are kept in both record files.
// "" and the line to say, or why it may not be.
std::string markGood(const UpdatePaths &p, const SelfCheck &check, std::string *line);

// The hand-over file's watch: true once it is complete.
struct HandOverWatch {
    bool seen = false;
    off_t size = 0;
    int64_t mtimeNs = 0;
    int64_t sinceMs = 0;
};
bool handOverReady(const std::string &path, HandOverWatch *w, int64_t nowMs);

// The counts of bytes a serial line has sent and received (-1: not known).
struct LineCounts {
    long tx = -1;
    long rx = -1;
    bool known() const { return tx >= 0 && rx >= 0; }
};

// One start of the application on trial, watched through its serial
// line's counts: a request is bytes sent, its answer bytes received after.
struct TrialWatch {
    int64_t startMs = 0;
    LineCounts last;
    int64_t txChangedMs = 0;
    bool sent = false;     // bytes sent since the start
    bool answered = false; // bytes received after bytes sent
};
enum class TrialVerdict { Running, Good, Failed };
TrialVerdict trialStep(TrialWatch *w, int64_t nowMs, LineCounts now, std::string *why);
// How the good mark was earned (what the line's driver let the watch see).
std::string trialEvidence(const TrialWatch &w);
