// tstat-factory: the image it writes and its options, and a round trip of
// that image through the configuration store: loaded, changed through
// setters, saved and reloaded.
#include "board_root.h"
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "platform/platform_test.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

namespace {

constexpr int64_t c_MadeAt = 1718000000; // 2024-06-10 06:13:20 UTC
constexpr const char *c_MadeAtText = "1718000000";

TstatSysCfgPersistMem_t recordOf(const std::string &bytes) {
    TstatSysCfgPersistMem_t r;
    memset(&r, 0, sizeof(r));
    memcpy(&r, bytes.data(), std::min(bytes.size(), sizeof(r)));
    return r;
}

class FactoryToolTest : public ::testing::Test {
  protected:
    std::string imagePath() const { return m_root.file("/dev/mtdblock4"); }
    TempBoardRoot m_root;
};

TEST_F(FactoryToolTest, HelpDocumentsOptionsAndDefaults) {
    ToolResult r = runTool(TSTAT_FACTORY_TOOL, {"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char *text :
         {"-o, --output FILE", "--system TYPE", "--scale SCALE", "--security-code",
          "--time SECONDS", "Wake 6:00 70/78 F", "deadband 1.5 C", "Exit status"}) {
        EXPECT_NE(r.out.find(text), std::string::npos) << text;
    }
}

TEST_F(FactoryToolTest, RefusesToWriteWithoutAFileOrWithBadOptions) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-"},
        {"-o", "-"},
        {"--system", "heat-wheel", "x.img"},
        {"--system", "7", "x.img"},
        {"--scale", "kelvin", "x.img"},
        {"--security-code", "12345", "x.img"},
        {"--time", "soon", "x.img"},
        {"a.img", "b.img"},
        {"-o", "a.img", "b.img"},
    };
    for (const auto &args : cases) {
        ToolResult r = runTool(TSTAT_FACTORY_TOOL, args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "") << testing::PrintToString(args);
        EXPECT_NE(r.err, "");
    }
    ToolResult r = runTool(TSTAT_FACTORY_TOOL, {m_root.file("/no/such/dir/image")});
    EXPECT_EQ(r.status, 1);
}

TEST_F(FactoryToolTest, WritesTheNorthAmericanDefaults) {
    m_root.write("/dev/.keep", "");
    ToolResult r = runTool(TSTAT_FACTORY_TOOL, {"--time", c_MadeAtText, "-o", imagePath()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::string bytes = m_root.read("/dev/mtdblock4");
    ASSERT_EQ(bytes.size(), TSTAT_SYS_CFG_SIZE);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\x1D\xEF\xCD\xFA", 4));
    const TstatSysCfgPersistMem_t f = recordOf(bytes);
    EXPECT_EQ(+f.tstatFmtSettings.tempScale, TEMP_SCALE_FAHRENHEIT);
    EXPECT_EQ(+f.tstatFmtSettings.dateFormat, DATE_FORMAT_MM_DD_YY);
    EXPECT_EQ(+f.tstatFmtSettings.timeFormat, TIME_FORMAT_12_HOUR);
    EXPECT_EQ(+f.tstatCfg.systemType, SYSTEM_TYPE_ONE_STG_FURNACE);
    EXPECT_EQ(+f.hvacSettings.fossilFuelType, FOSSIL_FUEL_GAS);
    EXPECT_EQ(+f.tstatCfg.setpointMargin, 2048);
    EXPECT_EQ(+f.tstatCfg.firstStageDiff, 4096);
    EXPECT_EQ(+f.tstatCfg.secondStageDiff, 4096);
    EXPECT_EQ(+f.tstatCfg.deadband, 12288);
    EXPECT_EQ(+f.tstatCfg.cycleRate, 4);
    EXPECT_EQ(+f.bkLightCtl.backlightTimeout, 30);
    EXPECT_EQ(+f.lockoutCfg.buttonLockout, LOCK_UNLOCKED);
    EXPECT_EQ(+f.comfortRecoveryModeState, OFFON_ON);
    EXPECT_EQ(+f.securityCode, 1234);
    EXPECT_EQ(+f.tstatMode.mode, TSTAT_MODE_PROGRAM);
    // Monday's Wake period: 06:00, 70 F and 78 F as the thermostat stores them.
    const TstatSetPoint_t &wake = f.prgSetPnt[1].period[0];
    EXPECT_EQ(+wake.startHour, 6);
    EXPECT_EQ(+wake.startMinute, 0);
    EXPECT_EQ(+wake.heatSetPoint, 172942);
    EXPECT_EQ(+wake.coolSetPoint, 209351);
    EXPECT_EQ(+wake.humidifySetPoint, 35 * 8192);
    EXPECT_EQ(+wake.dehumidifySetPoint, 55 * 8192);
    // Weekends start later.
    EXPECT_EQ(+f.prgSetPnt[0].period[0].startHour, 8);
    EXPECT_EQ(+f.prgSetPnt[6].period[3].startHour, 23);
    EXPECT_EQ(+f.filterChangeMaxHourTime, 90 * 24);
    EXPECT_EQ(+f.filterChangeEndTime, c_MadeAt + 90 * 86400);
    EXPECT_EQ(+f.clockYear, 124);
    for (uint8_t byte : f.reserved) {
        EXPECT_EQ(byte, 0);
    }
}

TEST_F(FactoryToolTest, OptionsOverrideSystemTypeAndScale) {
    m_root.write("/dev/.keep", "");
    ToolResult r = runTool(TSTAT_FACTORY_TOOL, {"--system", "two-stg-heat-pump", "--scale",
                                                "celsius", "-c", "0042", imagePath()});
    ASSERT_EQ(r.status, 0) << r.err;
    TstatSysCfgPersistMem_t f = recordOf(m_root.read("/dev/mtdblock4"));
    EXPECT_EQ(+f.tstatCfg.systemType, SYSTEM_TYPE_TWO_STG_HEAT_PUMP);
    EXPECT_EQ(+f.hvacSettings.fossilFuelType, FOSSIL_FUEL_ELECTRIC);
    EXPECT_EQ(+f.tstatFmtSettings.tempScale, TEMP_SCALE_CELSIUS);
    EXPECT_EQ(+f.prgSetPnt[1].period[0].heatSetPoint, 21 * 8192);
    EXPECT_EQ(+f.hvacSettings.balancePoint, -8192);
    EXPECT_EQ(+f.securityCode, 42);

    r = runTool(TSTAT_FACTORY_TOOL, {"-s", "3", "-t", "F", "-o", imagePath()});
    ASSERT_EQ(r.status, 0) << r.err;
    f = recordOf(m_root.read("/dev/mtdblock4"));
    EXPECT_EQ(+f.tstatCfg.systemType, SYSTEM_TYPE_BOILER_WITH_AC);
    EXPECT_EQ(+f.tstatFmtSettings.tempScale, TEMP_SCALE_FAHRENHEIT);

    r = runTool(TSTAT_FACTORY_TOOL, {"--mode", "auto", "--humidity", "both", "--external-sensor",
                                     "outdoor", imagePath()});
    ASSERT_EQ(r.status, 0) << r.err;
    f = recordOf(m_root.read("/dev/mtdblock4"));
    EXPECT_EQ(+f.hvacSettings.hvacState, HVAC_STATE_AUTO);
    EXPECT_EQ(+f.humidifyState, HUMIDIFY_STATE_AUTO);
    EXPECT_EQ(+f.tstatCfg.externalTempSensor, EXT_TEMP_SENSOR_OUTDOOR);
    for (const char *bad : {"--mode", "--humidity", "--external-sensor"}) {
        EXPECT_EQ(runTool(TSTAT_FACTORY_TOOL, {bad, "sideways", imagePath()}).status, 2) << bad;
    }
}

TEST_F(FactoryToolTest, RoundTripChangesOnlyTheChangedFields) {
    m_root.write("/dev/mtdblock5", "");
    m_root.write("/dev/mtdblock8", "");
    ASSERT_EQ(runTool(TSTAT_FACTORY_TOOL, {"--time", c_MadeAtText, imagePath()}).status, 0);
    const std::string factory = m_root.read("/dev/mtdblock4");
    platformFakeClockSet(1000, 0, c_MadeAt);

    PersistUtil_Reset();
    dataDictReset();
    scheduleReset();
    ASSERT_EQ(PersistUtil_Init(), 0);
    ASSERT_EQ(initThermostatSysCfg(), 0);
    setSecurityCode(4321);
    setHVACState(HVAC_STATE_COOL);
    TstatSetPoint_t leave{};
    leave.heatSetPoint = 19 * 8192;
    leave.coolSetPoint = 24 * 8192;
    leave.startHour = 9;
    leave.startMinute = 15;
    leave.humidifySetPoint = 35 * 8192;
    leave.dehumidifySetPoint = 55 * 8192;
    ASSERT_EQ(setProgramThermostatSettings(1, 3, &leave), 0); // Wednesday's Leave period
    ASSERT_EQ(saveThermostatSysCfg(), 0);

    const std::string saved = m_root.read("/dev/mtdblock5");
    ASSERT_EQ(saved.size(), factory.size());
    const size_t period = 195 + 104 * 3 + 26 * 1;
    std::set<size_t> allowed;
    for (size_t i = 0; i < 4; i++) {
        allowed.insert(i); // identity
    }
    allowed.insert({27, 28});         // securityCode
    allowed.insert({87, 88, 89, 90}); // hvacState
    for (size_t i = 0; i < 26; i++) {
        allowed.insert(period + i);
    }
    std::set<size_t> changed;
    for (size_t i = 0; i < saved.size(); i++) {
        if (saved[i] != factory[i]) {
            changed.insert(i);
        }
    }
    for (size_t i : changed) {
        EXPECT_TRUE(allowed.count(i)) << "byte " << i << " changed";
    }
    EXPECT_TRUE(changed.count(1) && changed.count(27) && changed.count(87) &&
                changed.count(period));

    // Reloaded, the record is byte for byte what was saved.
    PersistUtil_Reset();
    ASSERT_EQ(PersistUtil_Init(), 0);
    ASSERT_EQ(initThermostatSysCfg(), 0);
    TstatSysCfgPersistMem_t reloaded;
    copyThermostatSysCfg(&reloaded);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&reloaded), sizeof(reloaded)), saved);

    // And the inspector shows the changes.
    ToolResult shown = runTool(TSTAT_CONFIG_TOOL, {"show", m_root.file("/dev/mtdblock5")});
    EXPECT_EQ(shown.status, 0);
    for (const char *line : {"Identity: 0x515CF61D (user configuration record)\n",
                             "securityCode: 4321\n", "hvacSettings.hvacState: 1 (cool)\n",
                             "prgSetPnt[3].period[1] (Wednesday Leave): start 09:15, heat 19.00 "
                             "°C / 66.20 °F, cool 24.00 °C / 75.20 °F"}) {
        EXPECT_NE(shown.out.find(line), std::string::npos) << line;
    }
    PersistUtil_Reset();
}

} // namespace
