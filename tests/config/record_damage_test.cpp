// Damaged user records and failed record writes: a record cut short never
// passes for a configuration; a write the device refuses is reported.
#include "config_fixture.h"
#include "printed.h"

#include <filesystem>

namespace {

class RecordDamageTest : public ConfigTest {
  protected:
    // Boots without the store's report of each record it cannot use.
    int quietBoot(const std::string &factory, const std::string &user) {
        std::string printed;
        return printedBy([&] { return boot(factory, user); }, &printed);
    }
};

TEST_F(RecordDamageTest, ARecordCutAtAnyLengthLoadsTheFactoryImage) {
    const std::string factory = bytesOf(testRecord(TSTAT_SYS_CFG_FACTORY_ID));
    const std::string user = bytesOf(testRecord());
    for (size_t length = 0; length <= TSTAT_SYS_CFG_SIZE; length++) {
        SCOPED_TRACE(length);
        const bool whole = length == TSTAT_SYS_CFG_SIZE;
        // On the simulated board a cut write leaves a short file; on flash it
        // leaves the rest of the erased block, 0xFF.
        const std::string cut = user.substr(0, length);
        const std::string erased = cut + std::string(TSTAT_SYS_CFG_SIZE - length, '\xFF');
        for (const std::string &stored : {cut, erased}) {
            PersistUtil_Reset();
            ASSERT_EQ(quietBoot(factory, stored), 0);
            ASSERT_EQ(bytesOf(image()), whole ? user : factory);
        }
    }
}

TEST_F(RecordDamageTest, AWriteTheDeviceRefusesIsReportedAndRetried) {
    // A full device in place of the user region: it reads as zeros (no
    // record, so the factory image is loaded) and refuses every write.
    // The record is on vacation, which ended an hour ago.
    TstatSysCfgPersistMem_t factory = testRecord(TSTAT_SYS_CFG_FACTORY_ID);
    factory.tstatMode.mode = TSTAT_MODE_VACATION;
    factory.tstatMode.vacationSetPoint.endTime = localEpoch(2024, 6, 10, 11, 0);
    m_root.write("/dev/.keep", "");
    std::filesystem::create_symlink("/dev/full", m_root.file("/dev/mtdblock5"));
    testing::internal::CaptureStdout();
    ASSERT_EQ(boot(bytesOf(factory), std::nullopt), 0);
    EXPECT_EQ(saveThermostatSysCfg(), -1);
    EXPECT_EQ(restoreTstatSysCfgFactoryDefault(), -1);

    // The ended vacation falls back to the program and says its save failed.
    TstatSetPoint_t out;
    getCurrentThermostatSettings(&out);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("ERROR: saveThermostatSysCfg failed"),
              std::string::npos);
    EXPECT_EQ(getThermostatMode(), TSTAT_MODE_PROGRAM);

    // The device is opened afresh after every store: once it takes writes
    // again, the next save lands.
    std::filesystem::remove(m_root.file("/dev/mtdblock5"));
    m_root.write("/dev/mtdblock5", "");
    EXPECT_EQ(saveThermostatSysCfg(), 0);
    EXPECT_EQ(+userRegion().tstatSysCfgId, TSTAT_SYS_CFG_USER_ID);
    EXPECT_EQ(+userRegion().tstatMode.mode, TSTAT_MODE_PROGRAM);
}

TEST_F(RecordDamageTest, ARegionThatCannotBeOpenedForWritingFailsEverySave) {
    // A directory in place of the user region cannot be opened read-write,
    // even by root, as a read-only device cannot.
    m_root.write("/dev/.keep", "");
    std::filesystem::create_directory(m_root.file("/dev/mtdblock5"));
    testing::internal::CaptureStdout();
    ASSERT_EQ(boot(bytesOf(testRecord(TSTAT_SYS_CFG_FACTORY_ID)), std::nullopt), 0);
    EXPECT_EQ(saveThermostatSysCfg(), -1);
    EXPECT_EQ(restoreTstatSysCfgFactoryDefault(), -1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ERROR: cannot open /dev/mtdblock5"), std::string::npos) << out;
}

} // namespace
