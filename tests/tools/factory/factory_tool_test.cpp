// tstat-factory: the image it writes and its options, and a round trip of
// that image through the configuration store: loaded, changed through
// setters, saved and reloaded.
#include "board_root.h"
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "modules.h"
#include "platform/platform_test.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr int64_t c_MadeAt = 1718000000; // 2024-06-10 06:13:20 UTC

class FactoryToolTest : public ::testing::Test {
  protected:
    // Runs the tool with these options and the image path; the image written.
    TstatSysCfgPersistMem_t made(std::vector<std::string> args) {
        args.push_back(m_root.file("/dev/mtdblock4"));
        ToolResult r = runTool(TSTAT_FACTORY_TOOL, args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(m_root.read("/dev/mtdblock4").size(), TSTAT_SYS_CFG_SIZE);
        return recordIn(m_root.read("/dev/mtdblock4"));
    }
    TempBoardRoot m_root;
};

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
        {"--mode", "sideways", "x.img"},
        {"--humidity", "sideways", "x.img"},
        {"--external-sensor", "sideways", "x.img"},
        {"--cycle-rate", "7", "x.img"},
        {"--cycle-rate", "4.5", "x.img"},
        {"--differential", "0.24", "x.img"},
        {"--second-differential", "3.01", "x.img"},
        {"--balance-point", "51", "x.img"},
        {"--scale", "C", "--balance-point", "11", "x.img"},
        {"--recovery", "maybe", "x.img"},
        {"a.img", "b.img"},
        {"-o", "a.img", "b.img"},
    };
    for (const auto &args : cases) {
        ToolResult r = runTool(TSTAT_FACTORY_TOOL, args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_EQ(r.out, "") << testing::PrintToString(args);
        EXPECT_NE(r.err, "");
    }
    EXPECT_EQ(runTool(TSTAT_FACTORY_TOOL, {m_root.file("/no/such/dir/image")}).status, 1);
    EXPECT_EQ(runTool(TSTAT_FACTORY_TOOL, {"--help"}).status, 0);
}

TEST_F(FactoryToolTest, WritesTheDefaultsAndTheChosenOptions) {
    m_root.write("/dev/.keep", "");
    TstatSysCfgPersistMem_t f = made({"--time", std::to_string(c_MadeAt), "-o"});
    EXPECT_EQ(+f.tstatSysCfgId, TSTAT_SYS_CFG_FACTORY_ID);
    EXPECT_EQ(+f.tstatFmtSettings.tempScale, TEMP_SCALE_FAHRENHEIT);
    EXPECT_EQ(+f.tstatCfg.systemType, SYSTEM_TYPE_ONE_STG_FURNACE);
    EXPECT_EQ(+f.hvacSettings.fossilFuelType, FOSSIL_FUEL_GAS);
    // Monday's Wake period: 06:00, 70 F and 78 F as the thermostat stores
    // them; weekends start later.
    const TstatSetPoint_t &wake = f.prgSetPnt[1].period[0];
    EXPECT_EQ(+wake.startHour, 6);
    EXPECT_EQ(+wake.heatSetPoint, 172942);
    EXPECT_EQ(+wake.coolSetPoint, 209351);
    EXPECT_EQ(+f.prgSetPnt[0].period[0].startHour, 8);
    EXPECT_EQ(+f.prgSetPnt[6].period[3].startHour, 23);
    // The dates follow the time of making.
    EXPECT_EQ(+f.filterChangeEndTime, c_MadeAt + 90 * 86400);
    EXPECT_EQ(+f.clockYear, 124);
    for (uint8_t byte : f.reserved) {
        EXPECT_EQ(byte, 0);
    }

    f = made({"--system", "two-stg-heat-pump", "--scale", "celsius", "-c", "0042"});
    EXPECT_EQ(+f.tstatCfg.systemType, SYSTEM_TYPE_TWO_STG_HEAT_PUMP);
    EXPECT_EQ(+f.hvacSettings.fossilFuelType, FOSSIL_FUEL_ELECTRIC);
    EXPECT_EQ(+f.tstatFmtSettings.tempScale, TEMP_SCALE_CELSIUS);
    EXPECT_EQ(+f.prgSetPnt[1].period[0].heatSetPoint, 21 * 8192);
    EXPECT_EQ(+f.hvacSettings.balancePoint, -8192);
    EXPECT_EQ(+f.securityCode, 42);
    f = made({"-s", "3", "-t", "F", "-o"});
    EXPECT_EQ(+f.tstatCfg.systemType, SYSTEM_TYPE_BOILER_WITH_AC);
    EXPECT_EQ(+f.tstatFmtSettings.tempScale, TEMP_SCALE_FAHRENHEIT);
    f = made({"--mode", "auto", "--humidity", "both", "--external-sensor", "outdoor"});
    EXPECT_EQ(+f.hvacSettings.hvacState, HVAC_STATE_AUTO);
    EXPECT_EQ(+f.humidifyState, HUMIDIFY_STATE_AUTO);
    EXPECT_EQ(+f.tstatCfg.externalTempSensor, EXT_TEMP_SENSOR_OUTDOOR);
    // The control settings, each at an edge of its range.
    f = made({"--cycle-rate", "3", "--balance-point", "50", "--differential", "0.25",
              "--second-differential", "3", "--recovery", "off", "--hold"});
    EXPECT_EQ(+f.tstatCfg.cycleRate, 3u);
    EXPECT_EQ(+f.hvacSettings.balancePoint, fprConst(10, 0));
    EXPECT_EQ(+f.tstatCfg.firstStageDiff, fprConst(0, 25000000));
    EXPECT_EQ(+f.tstatCfg.secondStageDiff, fprConst(3, 0));
    EXPECT_EQ(+f.comfortRecoveryModeState, OFFON_OFF);
    EXPECT_EQ(+f.tstatMode.mode, TSTAT_MODE_PERMANENT_HOLD);
}

TEST_F(FactoryToolTest, RoundTripChangesOnlyTheChangedFields) {
    m_root.write("/dev/mtdblock5", "");
    m_root.write("/dev/mtdblock8", "");
    made({"--time", std::to_string(c_MadeAt)});
    const std::string factory = m_root.read("/dev/mtdblock4");
    platformFakeClockSet(1000, 0, c_MadeAt);

    resetModules<Layer::Config>();
    ASSERT_EQ(PersistUtil_Init(), 0);
    ASSERT_EQ(initThermostatSysCfg(), 0);
    setSecurityCode(4321);
    setHVACState(HVAC_STATE_COOL);
    TstatSetPoint_t leave{19 * 8192, 24 * 8192, 9, 15, 0, 35 * 8192, 55 * 8192};
    ASSERT_EQ(setProgramThermostatSettings(1, 3, &leave), 0); // Wednesday's Leave period
    ASSERT_EQ(saveThermostatSysCfg(), 0);

    // The factory image with the user identity and exactly these changes.
    const std::string saved = m_root.read("/dev/mtdblock5").substr(0, TSTAT_SYS_CFG_SIZE);
    TstatSysCfgPersistMem_t expected = recordIn(factory);
    expected.tstatSysCfgId = TSTAT_SYS_CFG_USER_ID;
    expected.securityCode = 4321;
    expected.hvacSettings.hvacState = HVAC_STATE_COOL;
    expected.prgSetPnt[3].period[1] = leave;
    EXPECT_EQ(saved, bytesOf(expected));

    // Reloaded, the record is byte for byte what was saved.
    PersistUtil_Reset();
    ASSERT_EQ(PersistUtil_Init(), 0);
    ASSERT_EQ(initThermostatSysCfg(), 0);
    TstatSysCfgPersistMem_t reloaded;
    copyThermostatSysCfg(&reloaded);
    EXPECT_EQ(bytesOf(reloaded), saved);

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
