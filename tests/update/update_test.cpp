// tstat-update against a board root: the archive rules and signatures of a
// bundle, an install beside the running version with the boots of its trial,
// the security version and key a board keeps, the installers' self-checks,
// the hand-over file's completion and the trial's limits.
#include "board_root.h"
#include "bundle.h"
#include "slots.h"

#include <gtest/gtest.h>

#include <array>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <unistd.h>

namespace {

struct Keys {
    Keys() {
        keyPair(&pub, &secret);
        keyPair(&otherPub, &other);
    }
    PublicKey pub, otherPub;
    SecretKey secret, other;
};

const Keys &keys() {
    static const Keys k;
    return k;
}

std::vector<TarItem> appFiles(const std::string &app = "app") {
    return {{"opt/tstat/", '5', "", 0755, ""},
            {"opt/tstat/tstat", '0', app, 0755, ""},
            {"opt/tstat/tstat-start", '0', "#!/bin/sh\n", 0755, ""},
            {"opt/tstat/tstat-update", '0', "installer", 0755, ""},
            {"opt/tstat/update-key.pub", '0', hex(keys().pub.data(), 32) + "\n", 0644, ""},
            {"opt/tstat/images/", '5', "", 0755, ""},
            {"opt/tstat/images/a.png", '0', "png", 0644, ""}};
}

// The MANIFEST of items: their directories, modes and regular files.
std::string manifestOf(const std::vector<TarItem> &items, const std::string &version,
                       unsigned security) {
    std::string m = "# version: " + version + "\n# security: " + std::to_string(security) +
                    "\n# target: armel, a test\n";
    for (const TarItem &i : items) {
        if (i.type == '5' && i.name != "opt/tstat/") {
            m += "# directory: " + i.name.substr(0, i.name.size() - 1) + "\n";
        }
        if (i.type == '0' && i.mode == 0755) {
            m += "# mode: 0755 " + i.name + "\n";
        }
    }
    for (const TarItem &i : items) {
        if (i.type == '0') {
            Sha256 s = sha256(i.data);
            m += hex(s.data(), s.size()) + "  " + i.name + "\n";
        }
    }
    return m;
}

// items with their MANIFEST (that one, when given) and its signature.
std::vector<TarItem> signedItems(std::vector<TarItem> items, const std::string &version = "2.0",
                                 const SecretKey &key = keys().secret, unsigned security = 1,
                                 const std::string &manifest = "") {
    std::string m = manifest.empty() ? manifestOf(items, version, security) : manifest;
    items.push_back({UPDATE_MANIFEST, '0', m, 0644, ""});
    items.push_back({UPDATE_SIGNATURE, '0', signManifest(m, key), 0644, ""});
    return items;
}

std::string checked(const std::string &archive) {
    Bundle b;
    return checkBundle(archive, keys().pub, &b);
}

TEST(UpdateBundleTest, RefusesEveryArchiveThatBreaksARule) {
    const std::string good = writeArchive(signedItems(appFiles()));
    auto add = [](TarItem extra) {
        std::vector<TarItem> items = signedItems(appFiles());
        items.push_back(extra);
        return writeArchive(items);
    };
    auto bigFiles = [](size_t a, size_t b) {
        std::vector<TarItem> items = appFiles();
        items.push_back({"opt/tstat/big1", '0', std::string(a, 'x'), 0644, ""});
        items.push_back({"opt/tstat/big2", '0', std::string(b, 'x'), 0644, ""});
        return writeArchive(signedItems(items));
    };
    std::vector<TarItem> changed = signedItems(appFiles());
    changed[1].data = "apq";
    std::vector<TarItem> missing = appFiles();
    std::vector<TarItem> unlisted = signedItems(missing);
    unlisted.erase(unlisted.begin() + 6);
    missing.erase(missing.begin() + 3);
    std::vector<TarItem> unsigned_ = signedItems(appFiles());
    unsigned_.pop_back();
    std::vector<TarItem> remoded = signedItems(appFiles());
    remoded[1].mode = 0644;
    std::vector<TarItem> noKey = appFiles();
    noKey[4].data = std::string(64, '0') + "\n";
    std::vector<TarItem> strayFile = appFiles();
    strayFile.push_back({"opt/tstat/fonts/a.ttf", '0', "ttf", 0644, ""});
    auto manifestWithout = [](const std::string &line) {
        std::string m = manifestOf(appFiles(), "2.0", 1);
        return writeArchive(
            signedItems(appFiles(), "2.0", keys().secret, 1, m.erase(m.find(line), line.size())));
    };
    const struct {
        const char *what;
        std::string archive;
        const char *refusal; // "" when it is installed
    } cases[] = {
        {"signed and whole", good, ""},
        {"download padding", good + std::string(127, 0x1A), ""},
        {"too much padding", good + std::string(128, 0x1A), "data after the archive's end"},
        {"other bytes after it", good + "x", "data after the archive's end"},
        {"one byte of a file changed", writeArchive(changed),
         "opt/tstat/tstat: SHA-256 does not match the MANIFEST"},
        {"a file added", add({"opt/tstat/x", '0', "x", 0644, ""}),
         "opt/tstat/x: not in the MANIFEST"},
        {"a listed file missing", writeArchive(unlisted),
         "opt/tstat/images/a.png: in the MANIFEST but not in the archive"},
        {"another key", writeArchive(signedItems(appFiles(), "2.0", keys().other)),
         "signature does not match"},
        {"no installer", writeArchive(signedItems(missing)), "no opt/tstat/tstat-update"},
        {"no signature", writeArchive(unsigned_), "no opt/tstat/MANIFEST.sig"},
        {"../x", add({"../x", '0', "x", 0644, ""}), "../x: a name with .."},
        {"inner ..", add({"opt/tstat/../../etc/x", '0', "x", 0644, ""}), "a name with .."},
        {"absolute", add({"/opt/tstat/x", '0', "x", 0644, ""}), "/opt/tstat/x: an absolute name"},
        {"outside", add({"opt/x", '0', "x", 0644, ""}), "opt/x: not under opt/tstat/"},
        {"backslash", add({"opt/tstat/a\\b", '0', "x", 0644, ""}), "not a plain name"},
        {"a line end in a name", add({"opt/tstat/a\nversion 6.6.6 is good", '0', "x", 0644, ""}),
         "not a plain name"},
        {"mode changed", writeArchive(remoded),
         "opt/tstat/tstat: mode 0644 in the archive, 0755 in the MANIFEST"},
        {"mode unlisted", manifestWithout("# mode: 0755 opt/tstat/tstat-start\n"),
         "tstat-start: mode 0755 in the archive, 0644 in the MANIFEST"},
        {"directory unlisted", add({"opt/tstat/d/", '5', "", 0755, ""}),
         "opt/tstat/d: a directory not in the MANIFEST"},
        {"file in an unlisted directory", writeArchive(signedItems(strayFile)),
         "opt/tstat/fonts/a.ttf: its directory is not in the MANIFEST"},
        {"no security version", manifestWithout("# security: 1\n"),
         "the MANIFEST names no security version"},
        {"no target", manifestWithout("# target: armel, a test\n"), "the MANIFEST names no target"},
        {"a key that is not one", writeArchive(signedItems(noKey)),
         "opt/tstat/update-key.pub: not a public key"},
        {"symbolic link", add({"opt/tstat/l", '2', "", 0777, "/etc/passwd"}),
         "opt/tstat/l: a symbolic link"},
        {"hard link", add({"opt/tstat/h", '1', "", 0644, "opt/tstat/tstat"}), "a hard link"},
        {"device node", add({"opt/tstat/d", '3', "", 0644, ""}), "opt/tstat/d: a device node"},
        {"twice", add({"opt/tstat/tstat", '0', "app", 0755, ""}), "tstat: twice in the archive"},
        {"largest file", bigFiles(UPDATE_FILE_MAX, 1), ""},
        {"file too large", bigFiles(UPDATE_FILE_MAX + 1, 1), "big1: larger than 4194304 bytes"},
        {"most in all", bigFiles(UPDATE_FILE_MAX, UPDATE_TOTAL_MAX - UPDATE_FILE_MAX - 1500), ""},
        {"too much in all", bigFiles(UPDATE_FILE_MAX, UPDATE_TOTAL_MAX - UPDATE_FILE_MAX),
         "more than 6291456 bytes unpacked"},
        {"empty file", "", "the file is empty"},
        {"an empty download", std::string(126, 0x1A), "not a bzip2 archive"},
        {"truncated", good.substr(0, good.size() / 2), "the archive is truncated"},
        // The block's CRC (after "BZh9" and the block magic): the data
        // decodes whatever the keys, and the check at its end refuses it.
        {"damaged", good.substr(0, 10) + char(~good[10]) + good.substr(11), "bzip2 data error"},
    };
    for (const auto &c : cases) {
        std::string why = checked(c.archive);
        if (*c.refusal == '\0') {
            EXPECT_EQ(why, "") << c.what;
        } else {
            EXPECT_NE(why.find(c.refusal), std::string::npos) << c.what << ": " << why;
        }
    }
}

class SlotsTest : public ::testing::Test {
  protected:
    SlotsTest() : m_p{m_root.path()} {
        for (const TarItem &i : signedItems(appFiles("1.0 app"), "1.0")) {
            if (i.type == '0' && i.name != UPDATE_SIGNATURE) {
                m_root.write("/" + i.name, i.data);
            }
        }
        m_root.write("/tmp/.keep", "");
        m_root.write("/run/.keep", "");
    }
    std::string record() {
        SlotRecord r;
        return readRecord(m_p, &r) ? r.good + std::string(1, r.trial) + std::to_string(r.failed)
                                   : "none";
    }
    TempBoardRoot m_root;
    UpdatePaths m_p;
};

TEST_F(SlotsTest, InstallsBesideTheRunningVersionAndCountsTheTrialsBoots) {
    SlotResult boot = bootSlots(m_p);
    EXPECT_EQ(boot.slot, 'a');
    EXPECT_NE(boot.lines[0].find("first start: the board image's version 1.0 installed in slot a"),
              std::string::npos);
    EXPECT_EQ(slotInForce(m_p), 'a');
    EXPECT_EQ(m_root.read("/opt/tstat/tstat"), "1.0 app");
    EXPECT_EQ(record(), "a-0");

    // Refused: nothing changes, the hand-over file goes.
    m_root.write("/tmp/mtdblock5", writeArchive(signedItems(appFiles(), "2.0", keys().other)));
    EXPECT_EQ(installHandOver(m_p).lines.back(), "update refused: signature does not match");
    EXPECT_FALSE(std::filesystem::exists(m_root.file("/tmp/mtdblock5")));
    EXPECT_FALSE(std::filesystem::exists(m_root.file("/slots/b")));
    EXPECT_EQ(record(), "a-0");

    m_root.write("/tmp/mtdblock5", writeArchive(signedItems(appFiles("2.0 app"))));
    SlotResult done = installHandOver(m_p);
    EXPECT_EQ(done.slot, 'b');
    EXPECT_EQ(done.lines.back(), "version 2.0 installed in slot b; starting it on trial");
    EXPECT_EQ(record(), "ab0");
    EXPECT_EQ(verifySlot(m_p.slot('b')), "");
    EXPECT_EQ(m_root.read("/slots/b/tstat"), "2.0 app");
    EXPECT_EQ(access(m_root.file("/slots/b/tstat").c_str(), X_OK), 0);

    // Each boot on trial is a failed start; the third sends the board back.
    for (unsigned start = 2; start <= TRIAL_STARTS; start++) {
        boot = bootSlots(m_p);
        EXPECT_EQ(boot.slot, 'b');
        EXPECT_EQ(boot.lines.back(), "running version 2.0 (slot b) on trial, start " +
                                         std::to_string(start) + " of 3");
    }
    boot = bootSlots(m_p);
    EXPECT_EQ(boot.slot, 'a');
    EXPECT_EQ(boot.lines[0], "version 2.0 (slot b) failed its trial: 3 starts without a good run; "
                             "back to version 1.0 (slot a)");
    EXPECT_EQ(record(), "a-0");
    EXPECT_EQ(m_root.read("/opt/tstat/tstat"), "1.0 app");
}

TEST_F(SlotsTest, BootRepairsWhatItFindsDamaged) {
    bootSlots(m_p);
    // The newest record damaged: the one before it decides.
    SlotRecord r;
    readRecord(m_p, &r);
    r.trial = 'b';
    writeRecord(m_p, &r);
    std::string newest = "/slots/state-" + std::to_string(r.generation % 2);
    m_root.write(newest, m_root.read(newest).replace(20, 1, "x"));
    EXPECT_EQ(record(), "a-0");
    // The good slot damaged: the board image goes into the other one.
    m_root.write("/slots/a/images/a.png", "pnh");
    SlotResult boot = bootSlots(m_p);
    EXPECT_EQ(boot.slot, 'b');
    EXPECT_NE(boot.lines[0].find("slot a is damaged (images/a.png does not match the MANIFEST)"),
              std::string::npos);
    EXPECT_EQ(record(), "b-0");
    // Another board image on the root file system replaces the slots' one.
    m_root.write("/opt/tstat-factory/MANIFEST",
                 m_root.read("/opt/tstat-factory/MANIFEST") + "# rebuilt\n");
    boot = bootSlots(m_p);
    EXPECT_EQ(boot.slot, 'a');
    EXPECT_NE(boot.lines[0].find("the board image has changed"), std::string::npos);
}

TEST_F(SlotsTest, KeepsTheSecurityVersionAndKeyMarkedGoodThroughSelfChecksAndAFallBack) {
    std::string broken; // the slot directory whose installer fails its self-check
    SelfCheck check = [&](const std::string &dir) {
        return dir == broken ? "no slot record to read" : "";
    };
    bootSlots(m_p, {}, check);
    auto handOver = [&](const std::vector<TarItem> &items) {
        m_root.write("/tmp/mtdblock5", writeArchive(items));
        return installHandOver(m_p, {}, check).lines.back();
    };
    // An installer that fails its self-check: the version never goes on trial.
    broken = m_p.slot('b');
    EXPECT_EQ(handOver(signedItems(appFiles("2.0 app"), "2.0", keys().secret, 2)),
              "update failed, nothing changed: its installer fails its self-check: no slot "
              "record to read");
    EXPECT_EQ(record(), "a-0");
    EXPECT_EQ(m_root.read("/slots/last-update"), "FAILED\n");
    // Version 2.0, security version 2, brings another key; its good mark
    // waits for its installer's self-check.
    broken = "";
    std::vector<TarItem> rotating = appFiles("2.0 app");
    rotating[4].data = hex(keys().otherPub.data(), 32) + "\n";
    handOver(signedItems(rotating, "2.0", keys().secret, 2));
    std::string line;
    broken = m_p.slot('b');
    EXPECT_EQ(markGood(m_p, check, &line), "its installer fails its self-check: no slot record "
                                           "to read");
    EXPECT_EQ(record(), "ab0");
    broken = "";
    EXPECT_EQ(markGood(m_p, check, &line), "");
    EXPECT_EQ(line, "version 2.0 is good");
    EXPECT_EQ(m_root.read("/slots/last-update"), "GOOD\n");
    for (const char *file : {"/slots/state-0", "/slots/state-1"}) {
        SlotRecord r;
        EXPECT_TRUE(parseRecord(m_root.read(file), &r) && r.good == 'b' && r.security == 2 &&
                    r.key == hex(keys().otherPub.data(), 32))
            << file;
    }
    // The good slot damaged: the board image (the retired key, security
    // version 1) runs, and the record's key and security version stay.
    m_root.write("/slots/b/images/a.png", "pnh");
    EXPECT_NE(bootSlots(m_p, {}, check)
                  .lines[0]
                  .find("installed in slot a; the update key and security version 2 of the newest "
                        "version marked good stay in force"),
              std::string::npos);
    EXPECT_EQ(m_root.read("/slots/last-update"), "FELL-BACK\n");
    std::string elsewhere = manifestOf(appFiles(), "2.2", 2);
    elsewhere.replace(elsewhere.find("armel"), 5, "amd64");
    const struct {
        std::vector<TarItem> items;
        const char *said;
    } cases[] = {
        {signedItems(appFiles(), "3.0", keys().secret, 3),
         "update refused: signature does not match"},
        {signedItems(appFiles(), "1.1", keys().other, 1),
         "update refused: version 1.1 has security version 1, lower than 2, which this board "
         "has run"},
        {signedItems(appFiles(), "", keys().other, 2, elsewhere),
         "update refused: version 2.2 is built for amd64, this board is armel"},
        {signedItems(appFiles(), "2.1", keys().other, 2),
         "version 2.1 installed in slot b; starting it on trial"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(handOver(c.items), c.said);
    }
    // A name a bundle brings is said escaped, never as a line of its own.
    EXPECT_EQ(printable("a\nversion 6.6.6 is good\r\x7f\xff"),
              "a\\x0aversion 6.6.6 is good\\x0d\\x7f\\xff");
    // At boot, a version on trial whose installer fails its self-check.
    broken = m_p.slot('b');
    SlotResult boot = bootSlots(m_p, {}, check);
    EXPECT_EQ(boot.slot, 'a');
    EXPECT_EQ(m_root.read("/slots/last-update"), "ROLLED-BACK\n");
    EXPECT_EQ(boot.lines[0], "version 2.1 (slot b) is damaged (its installer fails its "
                             "self-check: no slot record to read); back to version 1.0 (slot a)");
}

TEST(UpdateWatchTest, TheHandOverFileIsTakenWhenNoOneWritesItAndItRestedASecond) {
    TempBoardRoot root;
    std::string path = root.file("/mtdblock5");
    HandOverWatch w;
    EXPECT_FALSE(handOverReady(path, &w, 0));
    root.write("/mtdblock5", "BZh");
    int fd = open(path.c_str(), O_WRONLY | O_APPEND);
    EXPECT_FALSE(handOverReady(path, &w, 0));
    EXPECT_FALSE(handOverReady(path, &w, 5000));
    close(fd);
    EXPECT_FALSE(handOverReady(path, &w, 10000));
    EXPECT_FALSE(handOverReady(path, &w, 10000 + HANDOVER_QUIET_MS - 1));
    EXPECT_TRUE(handOverReady(path, &w, 10000 + HANDOVER_QUIET_MS));
}

TEST(UpdateWatchTest, ATrialNeedsItsRequestsAnsweredThenARunWithoutSilence) {
    // Each step: the time and the line's counts sent and received; the last
    // step's verdict.
    using Step = std::array<long, 3>;
    const long start = TRIAL_STARTUP_MS;
    const long silent = 1000 + TRIAL_SILENT_MS;
    const struct {
        std::vector<Step> steps;
        TrialVerdict verdict;
        const char *why;
    } cases[] = {
        {{{start - 1, 10, 20}}, TrialVerdict::Running, ""},
        {{{start, 10, 20}}, TrialVerdict::Failed, "no start-up packet within 30 s"},
        {{{1000, 11, 20}, {start, 12, 20}}, TrialVerdict::Failed, "no answer from the coprocessor"},
        {{{1000, 10, 21}, {start, 11, 21}}, TrialVerdict::Failed, "no answer from the coprocessor"},
        {{{1000, 11, 21}, {TRIAL_GOOD_MS - 1, 12, 22}}, TrialVerdict::Running, ""},
        {{{1000, 11, 21}, {TRIAL_GOOD_MS - 5000, 12, 22}, {TRIAL_GOOD_MS, 13, 23}},
         TrialVerdict::Good,
         ""},
        {{{1000, 11, 20}, {1500, 11, 21}, {silent - 1, 11, 21}}, TrialVerdict::Running, ""},
        {{{1000, 11, 21}, {silent, 11, 21}}, TrialVerdict::Failed, "nothing sent"},
        {{{TRIAL_GOOD_MS - 1, -1, -1}}, TrialVerdict::Running, ""},
        {{{TRIAL_GOOD_MS, -1, -1}}, TrialVerdict::Good, ""},
    };
    for (const auto &c : cases) {
        TrialWatch w{0, {10, 20}, 0, false, false};
        std::string why;
        TrialVerdict v = TrialVerdict::Running;
        for (const Step &s : c.steps) {
            v = trialStep(&w, s[0], {s[1], s[2]}, &why);
        }
        EXPECT_EQ(v, c.verdict) << c.steps.back()[0] << " " << why;
        EXPECT_NE(why.find(c.why), std::string::npos) << why;
        if (v == TrialVerdict::Good) {
            EXPECT_EQ(trialEvidence(w).find("alive only") != std::string::npos,
                      c.steps.back()[1] < 0);
        }
    }
}

} // namespace
