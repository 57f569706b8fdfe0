// The flash record: start-up load with factory fallback, save with its copy
// and the newest of them loaded, power cuts, factory restore, a link in place
// of the region, and the write-once serial-number record.
#include "config/factory_image.h"
#include "config_fixture.h"
#include "printed.h"

#include "platform/platform_test.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>
#include <vector>

namespace {

using PersistTest = ConfigTest;

TEST_F(PersistTest, FirstSaveAfterFactoryLoadStampsTheUserIdentity) {
    // A user region holding a factory identity is not a user record (blank,
    // short and foreign ones are the record damage tests'): the factory image
    // is loaded, and kept with its identity until the next save.
    const TstatSysCfgPersistMem_t factory = testRecord(TSTAT_SYS_CFG_FACTORY_ID);
    ASSERT_EQ(boot(bytesOf(factory), bytesOf(factory)), 0);
    EXPECT_EQ(bytesOf(image()), bytesOf(factory));
    ASSERT_EQ(saveThermostatSysCfg(), 0);
    std::string stored = m_root.read("/dev/mtdblock5").substr(0, TSTAT_SYS_CFG_SIZE);
    ASSERT_EQ(stored.size(), TSTAT_SYS_CFG_SIZE);
    EXPECT_EQ(stored.substr(0, 4), std::string("\x1D\xF6\x5C\x51", 4));
    EXPECT_EQ(stored.substr(4), bytesOf(factory).substr(4));
    // The factory region is never written.
    EXPECT_EQ(m_root.read("/dev/mtdblock4"), bytesOf(factory));
}

TEST_F(PersistTest, WithoutAValidFactoryRecordTheBuiltInDefaultsAreUsed) {
    setWallClock(1796626800);
    TstatSysCfgPersistMem_t builtIn;
    buildFactoryImage(FactoryOptions{.madeAt = 1796626800}, &builtIn);
    std::string factory = bytesOf(testRecord(TSTAT_SYS_CFG_FACTORY_ID));
    // The factory identity with random bytes behind it (seeded).
    std::string garbage = factory.substr(0, 4);
    for (uint32_t x = 12345; garbage.size() < TSTAT_SYS_CFG_SIZE;) {
        x = x * 1103515245u + 12345u;
        garbage.push_back(static_cast<char>(x >> 16));
    }
    struct Case {
        std::string factory;
        std::string user;
        int result;
        const char *message;
    };
    const Case cases[] = {
        {"", "", -1, "ERROR: no factory configuration: using the built-in defaults"},
        {bytesOf(testRecord(0xDEADBEEF)), bytesOf(testRecord(0xDEADBEEF)), -1,
         "ERROR: no factory configuration"},
        // A factory image cut short is never taken, even with the right identity.
        {factory.substr(0, 900), "", -1, "ERROR: no factory configuration"},
        {garbage, "", 0, "ERROR: factory configuration: "},
    };
    for (const Case &c : cases) {
        PersistUtil_Reset();
        std::string out;
        EXPECT_EQ(printedBy([&] { return boot(c.factory, c.user); }, &out), c.result);
        EXPECT_NE(out.find(c.message), std::string::npos) << out;
        EXPECT_EQ(bytesOf(image()), bytesOf(builtIn));
    }
    // Saved, they load again as the user's configuration.
    ASSERT_EQ(saveThermostatSysCfg(), 0);
    std::string out;
    PersistUtil_Reset();
    EXPECT_EQ(printedBy([&] { return boot(garbage, std::nullopt); }, &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(bytesOf(image()).substr(4), bytesOf(builtIn).substr(4));
    // A factory restore takes them too.
    setSecurityCode(4321);
    EXPECT_EQ(printedBy([] { return restoreTstatSysCfgFactoryDefault(); }, &out), 0);
    EXPECT_EQ(+userRegion().securityCode, +builtIn.securityCode);
}

TEST_F(PersistTest, InitReportsMissingRegionsAndLoadsWhatItCan) {
    std::string factory = bytesOf(testRecord(TSTAT_SYS_CFG_FACTORY_ID));
    testing::internal::CaptureStdout();
    // No user region at all: the factory image is loaded; saves fail.
    EXPECT_EQ(boot(factory, std::nullopt, std::nullopt), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ERROR: cannot open /dev/mtdblock5"), std::string::npos) << out;
    EXPECT_NE(out.find("ERROR: cannot open /dev/mtdblock8"), std::string::npos) << out;
    EXPECT_EQ(+image().tstatSysCfgId, TSTAT_SYS_CFG_FACTORY_ID);
    EXPECT_EQ(saveThermostatSysCfg(), -1);
    uint8_t serial[TSTAT_SERIAL_NUMBER_LEN];
    EXPECT_EQ(getSerialNumber(serial), -1);

    // Neither record region: nothing can be loaded.
    PersistUtil_Reset();
    TempBoardRoot empty;
    printedBy([] { EXPECT_EQ(PersistUtil_Init(), -1); });
}

TEST_F(PersistTest, TransfersCheckRegionAndLength) {
    bootTestRecord();
    uint8_t buffer[TSTAT_SYS_CFG_SIZE + 1];
    EXPECT_EQ(PersistUtil_RetrieveData(buffer, static_cast<PersistRegionId>(1234), 4), -1);
    EXPECT_EQ(PersistUtil_RetrieveData(buffer, PERSIST_REGION_USER, TSTAT_SYS_CFG_SIZE), 0);
    // Longer than the region: the read ends early and fails.
    EXPECT_EQ(PersistUtil_RetrieveData(buffer, PERSIST_REGION_USER, sizeof(buffer)), -1);
    EXPECT_EQ(PersistUtil_StoreData(PERSIST_REGION_FACTORY, buffer, 4), -1);
    EXPECT_EQ(PersistUtil_StoreData(static_cast<PersistRegionId>(1), buffer, 4), -1);
    EXPECT_EQ(m_root.read("/dev/mtdblock4"), bytesOf(testRecord(TSTAT_SYS_CFG_FACTORY_ID)));
}

TEST_F(PersistTest, SavesRepeatedlyAndKeepsReservedBytes) {
    TstatSysCfgPersistMem_t user = testRecord();
    for (size_t i = 0; i < sizeof(user.reserved); i++) {
        user.reserved[i] = static_cast<uint8_t>(0x30 + i);
    }
    ASSERT_EQ(boot(bytesOf(testRecord(TSTAT_SYS_CFG_FACTORY_ID)), bytesOf(user)), 0);
    EXPECT_EQ(bytesOf(image()), bytesOf(user));
    // The user device is reopened after each store: later saves still land.
    // A save takes the mode change flag with it.
    for (uint16_t code : {1111, 2222, 3333}) {
        setSecurityCode(code);
        setModeChangeFlag();
        ASSERT_EQ(saveThermostatSysCfg(), 0);
        EXPECT_EQ(+userRegion().securityCode, code);
        EXPECT_EQ(takeModeChangeFlag(), 0);
    }
    // The copy at byte 4096 (the erase blocks are 4 KiB) carries the third
    // save's generation and the CRC-32 of record and generation as zlib
    // computes it (a constant: the records of units in the field must keep
    // loading); so does the record.
    const std::string region = m_root.read("/dev/mtdblock5");
    ASSERT_EQ(region.size(), 4096 + TSTAT_SYS_CFG_SIZE + 8);
    const std::string seal = std::string("\x03\0\0\0\x6C\xD5\x7A\x10", 8); // 0x107AD56C
    EXPECT_EQ(region.substr(4096 + TSTAT_SYS_CFG_SIZE), seal);
    EXPECT_EQ(region.substr(TSTAT_SYS_CFG_SIZE, 8), seal);
    PersistUtil_Reset();
    ASSERT_EQ(boot(std::nullopt, std::nullopt), 0);
    TstatSysCfgPersistMem_t reloaded = image();
    EXPECT_EQ(memcmp(reloaded.reserved, user.reserved, sizeof(user.reserved)), 0);
    user.securityCode = 3333;
    EXPECT_EQ(bytesOf(reloaded), bytesOf(user));

    // A region saved before seals, by a save cut short after its copy: the
    // copy (the record and its CRC-32) loads.
    const std::string older =
        bytesOf(testRecord()) + std::string(4096 - TSTAT_SYS_CFG_SIZE, '\xFF');
    PersistUtil_Reset();
    std::string out;
    ASSERT_EQ(
        printedBy([&] { return boot(std::nullopt, older + bytesOf(user) + "\x73\xE8\xCC\x81"); },
                  &out),
        0);
    EXPECT_EQ(bytesOf(image()), bytesOf(user));
    EXPECT_EQ(out, "The user configuration was cut short while it was saved: loading its copy\n");
}

TEST_F(PersistTest, AFieldOutOfRangeIsNamedAndTheFactoryImageLoaded) {
    using R = TstatSysCfgPersistMem_t;
    struct Case {
        const char *field;
        size_t offset;
        size_t size;
        int64_t edge;   // the last value in range
        int64_t beyond; // the first out of it
    };
#define FIELD(f) #f, offsetof(R, f), sizeof(std::declval <R>().f)
    const Case cases[] = {
        {FIELD(lockoutCfg.modeLockTime), 60, 61},
        {FIELD(securityCode), 9999, 10000},
        {FIELD(tstatCfg.systemType), 6, 7},
        {FIELD(tstatCfg.deadband), fx(1.0), fx(1.0) - 1},
        {FIELD(tstatCfg.deadband), fx(2.5), fx(-15938)},
        {FIELD(tstatCfg.cycleRate), 3, 2},
        {FIELD(hvacSettings.hvacState), 4, 2537213368},
        {FIELD(humidifyState), 3, 4},
        {FIELD(filterChangeMaxHourTime), 4320, 4321},
        {FIELD(tstatMode.holdSetPoint.coolSetPoint), fx(35), fx(35) + 1},
        {FIELD(prgSetPnt[6].period[3].heatSetPoint), fprConst(4, 44000000),
         fprConst(4, 44000000) - 1},
        {FIELD(prgSetPnt[2].period[1].startMinute), 59, 60},
        {FIELD(tstatMode.vacationSetPoint.dehumidifySetPoint), fx(100), fx(100) + 1},
        {FIELD(comfortRecoveryModeState), 1, 2},
    };
#undef FIELD
    auto set = [](R &r, const Case &c, int64_t value) {
        auto *bytes = reinterpret_cast<uint8_t *>(&r) + c.offset;
        for (size_t i = 0; i < c.size; i++) {
            bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
        }
    };
    const std::string factory = bytesOf(testRecord(TSTAT_SYS_CFG_FACTORY_ID));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field);
        R user = testRecord();
        set(user, c, c.edge);
        PersistUtil_Reset();
        ASSERT_EQ(boot(factory, bytesOf(user)), 0);
        EXPECT_EQ(bytesOf(image()), bytesOf(user));
        set(user, c, c.beyond);
        PersistUtil_Reset();
        std::string out;
        ASSERT_EQ(printedBy([&] { return boot(factory, bytesOf(user)); }, &out), 0);
        EXPECT_EQ(bytesOf(image()), factory);
        EXPECT_NE(out.find(std::string("ERROR: user configuration: ") + c.field + " out of range"),
                  std::string::npos)
            << out;
    }
}

// Power-ups and saves of the user region with power cuts, their messages
// kept quiet.
class PowerCutTest : public PersistTest {
  protected:
    // A power-up: the region as the cut left it, loaded and repaired as
    // start-up does.
    int start(const std::string &region) {
        PersistUtil_Reset();
        m_root.write("/dev/mtdblock5", region);
        return printedBy(
            [] {
                const int loaded = PersistUtil_Init() + initThermostatSysCfg();
                repairThermostatSysCfg();
                return loaded;
            },
            &m_quiet);
    }
    int save(uint16_t code) {
        setSecurityCode(code);
        return printedBy([] { return saveThermostatSysCfg(); }, &m_quiet);
    }
    static uint16_t loaded() { return static_cast<uint16_t>(image().securityCode); }

    // From the region holding `first`: the first cut at every step of a save
    // of 2222 (an erase and two halves of programming for each block the
    // copy and the record touch), the second at every step of the start-up
    // after it and of the next save of 3333; then a last start-up. Returns
    // what the start-ups between the cuts loaded.
    std::set<uint16_t> cutTwice(const std::string &region, uint16_t first) {
        std::set<uint16_t> outcomes;
        for (int64_t cut = 0;; cut++) {
            EXPECT_EQ(start(region), 0);
            platformCutFlash(cut);
            const int saved = save(2222);
            platformCutFlash(-1);
            const std::string afterCut = m_root.read("/dev/mtdblock5");
            for (int64_t second = 0;; second++) {
                SCOPED_TRACE(testing::Message() << region.size() << " " << cut << " " << second);
                platformCutFlash(second);
                EXPECT_EQ(start(afterCut), 0);
                const uint16_t between = loaded();
                EXPECT_TRUE(between == 2222 || (saved != 0 && between == first));
                const int savedAgain = save(3333);
                platformCutFlash(-1);
                EXPECT_EQ(start(m_root.read("/dev/mtdblock5")), 0);
                EXPECT_TRUE(loaded() == 3333 || (savedAgain != 0 && loaded() == between));
                outcomes.insert(between);
                if (savedAgain == 0 || HasFailure()) {
                    break;
                }
            }
            if (saved == 0 || HasFailure()) {
                return outcomes;
            }
        }
    }

    std::string m_quiet;
};

TEST_F(PowerCutTest, TwoPowerCutsOverTwoSavesKeepTheNewestWholeSettingsOrTheOnesBefore) {
    // An erase block not known is taken as 256 KiB.
    std::filesystem::remove(m_root.file("/sys/class/mtd/mtd5/erasesize"));
    ASSERT_EQ(start(bytesOf(testRecord())), 0);
    ASSERT_EQ(save(1111), 0);
    EXPECT_EQ(m_root.read("/dev/mtdblock5").size(), 262144 + TSTAT_SYS_CFG_SIZE + 8);
    // Erase blocks smaller than the record, as large as the copy's least
    // offset, larger, and larger than the simulated flash's block buffer:
    // the copy lies in blocks of its own.
    for (int eraseSize : {512, 4096, 65536, 524288}) {
        SCOPED_TRACE(eraseSize);
        m_root.write("/sys/class/mtd/mtd5/erasesize", std::to_string(eraseSize));
        // A region saved before by this program holds a copy; one written by
        // another does not (its start-up writes one).
        ASSERT_EQ(start(bytesOf(testRecord())), 0);
        ASSERT_EQ(save(1111), 0);
        const std::string regions[] = {m_root.read("/dev/mtdblock5"), bytesOf(testRecord())};
        const size_t copyAt =
            std::max<size_t>(4096, (TSTAT_SYS_CFG_SIZE + eraseSize - 1) / eraseSize * eraseSize);
        EXPECT_EQ(regions[0].size(), copyAt + TSTAT_SYS_CFG_SIZE + 8);
        for (const std::string &region : regions) {
            const uint16_t first = region.size() > TSTAT_SYS_CFG_SIZE ? 1111 : 1234;
            EXPECT_EQ(cutTwice(region, first), (std::set<uint16_t>{first, 2222}));
            ASSERT_FALSE(HasFailure());
        }
    }
    // Damage to the record, then to the copy, and the other way round, each
    // followed by a start-up: each start-up writes back the one damaged, so
    // the settings stay.
    ASSERT_EQ(save(4444), 0);
    const std::string saved = m_root.read("/dev/mtdblock5");
    const size_t copyAt = saved.size() - TSTAT_SYS_CFG_SIZE - 8;
    for (const auto &[firstAt, secondAt] : {std::pair{size_t{0}, copyAt}, {copyAt, size_t{0}}}) {
        std::string region = saved;
        for (size_t at : {firstAt, secondAt}) {
            SCOPED_TRACE(testing::Message() << "damaged at " << at);
            region[at + 10] = static_cast<char>(region[at + 10] ^ 0x55);
            ASSERT_EQ(start(region), 0);
            EXPECT_EQ(loaded(), 4444);
            region = m_root.read("/dev/mtdblock5");
        }
    }
}

TEST_F(PersistTest, TheNewestOfRecordAndCopiesLoadsWhereverAnEraseSizePutThem) {
    // Two saves at the erase sizes given (0: none known), then a start-up at
    // the third: the second save's settings.
    const int cases[][3] = {
        {4096, 65536, 4096}, {65536, 4096, 65536}, {0, 4096, 0}, {4096, 0, 4096}};
    for (const auto &sizes : cases) {
        SCOPED_TRACE(testing::Message() << sizes[0] << " " << sizes[1] << " " << sizes[2]);
        m_root.write("/dev/mtdblock5", bytesOf(testRecord()));
        for (int i = 0; i < 3; i++) {
            std::filesystem::remove(m_root.file("/sys/class/mtd/mtd5/erasesize"));
            if (sizes[i] != 0) {
                m_root.write("/sys/class/mtd/mtd5/erasesize", std::to_string(sizes[i]));
            }
            PersistUtil_Reset();
            std::string out;
            ASSERT_EQ(printedBy([] { return PersistUtil_Init() + initThermostatSysCfg(); }, &out),
                      0);
            if (i < 2) {
                setSecurityCode(static_cast<uint16_t>(1111 * (i + 1)));
                ASSERT_EQ(saveThermostatSysCfg(), 0);
            }
        }
        EXPECT_EQ(+image().securityCode, 2222);
    }
}

TEST_F(PersistTest, FactoryRestore) {
    TstatSysCfgPersistMem_t user = testRecord();
    user.securityCode = 4321;
    TstatSysCfgPersistMem_t badFactory = testRecord(0x11111111);
    badFactory.securityCode = 9999;

    // A bad factory image: -1, and neither the image nor the user region changes.
    ASSERT_EQ(boot(bytesOf(badFactory), bytesOf(user)), 0);
    EXPECT_EQ(restoreTstatSysCfgFactoryDefault(), -1);
    EXPECT_EQ(bytesOf(image()), bytesOf(user));
    EXPECT_EQ(m_root.read("/dev/mtdblock5"), bytesOf(user));
    // A later save still writes the user's configuration, not the bad image.
    ASSERT_EQ(saveThermostatSysCfg(), 0);
    EXPECT_EQ(+userRegion().securityCode, 4321);

    // A good one replaces both, stamped with the user identity.
    TstatSysCfgPersistMem_t factory = testRecord(TSTAT_SYS_CFG_FACTORY_ID);
    factory.securityCode = 5555;
    PersistUtil_Reset();
    ASSERT_EQ(boot(bytesOf(factory), bytesOf(user)), 0);
    EXPECT_EQ(restoreTstatSysCfgFactoryDefault(), 0);
    factory.tstatSysCfgId = TSTAT_SYS_CFG_USER_ID;
    EXPECT_EQ(bytesOf(image()), bytesOf(factory));
    EXPECT_EQ(bytesOf(userRegion()), bytesOf(factory));
}

TEST_F(PersistTest, SerialNumberIsWriteOnceWithChecksumWords) {
    const uint8_t serialA[TSTAT_SERIAL_NUMBER_LEN] = {'A', 'A', 'A', 'A', 'A', 'A', 'A',
                                                      'A', 'A', 'A', 'A', 'A', 'A', 'A'};
    // 14 x 0x41 = 0x038E, complement 0xFC71, both little-endian.
    const std::string recordA = std::string("\x8E\x03\x71\xFC", 4) + "AAAAAAAAAAAAAA";
    const uint8_t serialB[TSTAT_SERIAL_NUMBER_LEN] = {'B', 'B', 'B', 'B', 'B', 'B', 'B',
                                                      'B', 'B', 'B', 'B', 'B', 'B', 'B'};
    const std::string blanks[] = {"", std::string(18, '\xFF'), std::string(18, '\0') + "x"};
    for (const std::string &blank : blanks) {
        SCOPED_TRACE(blank.size());
        PersistUtil_Reset();
        boot(bytesOf(testRecord(TSTAT_SYS_CFG_FACTORY_ID)), bytesOf(testRecord()), blank);
        uint8_t read[TSTAT_SERIAL_NUMBER_LEN];
        // 18 zero bytes: sum 0 but complement 0, which is not ~0.
        EXPECT_EQ(getSerialNumber(read), -2);
        EXPECT_EQ(setSerialNumber(serialA), 0);
        EXPECT_EQ(m_root.read("/dev/mtdblock8").substr(0, 18), recordA);
        EXPECT_EQ(getSerialNumber(read), 0);
        EXPECT_EQ(memcmp(read, serialA, sizeof(read)), 0);
        // A valid serial stays.
        EXPECT_EQ(setSerialNumber(serialB), 0);
        EXPECT_EQ(m_root.read("/dev/mtdblock8").substr(0, 18), recordA);
    }
}

TEST_F(PersistTest, ALinkInPlaceOfTheUserRegionIsNotFollowedAndAFailedSaveIsRetried) {
    // A link in place of the user region is never followed: the region
    // cannot be opened (the factory image is loaded), every save fails, and
    // the file linked to stays as it was.
    // The record is on vacation, which ended an hour ago.
    TstatSysCfgPersistMem_t factory = testRecord(TSTAT_SYS_CFG_FACTORY_ID);
    factory.tstatMode.mode = TSTAT_MODE_VACATION;
    factory.tstatMode.vacationSetPoint.endTime = localEpoch(2024, 6, 10, 11, 0);
    m_root.write("/victim", "kept");
    m_root.write("/dev/.keep", "");
    std::filesystem::create_symlink("../victim", m_root.file("/dev/mtdblock5"));
    testing::internal::CaptureStdout();
    ASSERT_EQ(boot(bytesOf(factory), std::nullopt), 0);
    EXPECT_EQ(saveThermostatSysCfg(), -1);
    EXPECT_EQ(restoreTstatSysCfgFactoryDefault(), -1);

    // The ended vacation falls back to the program and says its save failed.
    TstatSetPoint_t out;
    getCurrentThermostatSettings(&out);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("ERROR: cannot open /dev/mtdblock5: Too many levels of symbolic links"),
              std::string::npos)
        << printed;
    EXPECT_NE(printed.find("ERROR: saveThermostatSysCfg failed"), std::string::npos);
    EXPECT_EQ(getThermostatMode(), TSTAT_MODE_PROGRAM);
    EXPECT_EQ(m_root.read("/victim"), "kept");

    // The device is opened afresh after every store: once it is there, the
    // next save lands.
    std::filesystem::remove(m_root.file("/dev/mtdblock5"));
    m_root.write("/dev/mtdblock5", "");
    EXPECT_EQ(saveThermostatSysCfg(), 0);
    EXPECT_EQ(+userRegion().tstatSysCfgId, TSTAT_SYS_CFG_USER_ID);
    EXPECT_EQ(+userRegion().tstatMode.mode, TSTAT_MODE_PROGRAM);
}

} // namespace
