// tstat-config: configuration records of each identity, damaged and short
// records, serial-number records and the usage rules.
#include "board_root.h"
#include "config/factory_image.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class ConfigInspectTest : public ::testing::Test {
  protected:
    std::string write(const std::string &name, const std::string &bytes) {
        m_root.write("/" + name, bytes);
        return m_root.file("/" + name);
    }
    static TstatSysCfgPersistMem_t factoryRecord() {
        FactoryOptions options{.madeAt = 1718000000};
        TstatSysCfgPersistMem_t r;
        buildFactoryImage(options, &r);
        return r;
    }
    static void expectLines(const std::string &out, std::initializer_list<const char *> lines) {
        for (const char *line : lines) {
            EXPECT_NE(out.find(line), std::string::npos) << line << "\n---\n" << out;
        }
    }
    TempBoardRoot m_root;
};

TEST_F(ConfigInspectTest, ShowsARecordFieldByFieldWithItsIdentity) {
    TstatSysCfgPersistMem_t r = factoryRecord();
    ToolResult shown = runTool(TSTAT_CONFIG_TOOL, {"show", write("factory", bytesOf(r))});
    EXPECT_EQ(shown.status, 0) << shown.err;
    expectLines(shown.out,
                {"Identity: 0xFACDEF1D (factory-default image)\n",
                 "tstatCfg.systemType: 0 (One Stg Furnace)\n",
                 "tstatCfg.deadband: 1.500 °C (3.000 °F on a Fahrenheit display)\n",
                 "hvacSettings.balancePoint: -1.11 °C / 30.00 °F\n",
                 "tstatFmtSettings.dateFormat: 1 (MM/DD/YY)\n",
                 "prgSetPnt[1].period[0] (Monday Wake): start 06:00, heat 21.11 °C / 70.00 °F, "
                 "cool 25.56 °C / 78.00 °F, humidify 35.00 %, dehumidify 55.00 %\n",
                 "filterChangeEndTime: 1725776000 (2024-09-08 06:13:20 UTC)\n",
                 "clockYear: 124 (2024)\n", "comfortRecoveryModeState: 1 (On)\n"});

    // A record stored by the thermostat, with values no menu would store.
    r.tstatSysCfgId = TSTAT_SYS_CFG_USER_ID;
    r.tstatCfg.systemType = static_cast<SystemType>(1000);
    r.hvacSettings.hvacState = static_cast<HvacState>(99);
    r.tstatMode.mode = TSTAT_MODE_VACATION;
    r.tstatMode.vacationSetPoint.startHour = 3;
    r.tstatMode.vacationSetPoint.endTime = 1718300000;
    r.reserved[17] = 0xEE;
    shown = runTool(TSTAT_CONFIG_TOOL, {"show", write("user", bytesOf(r) + "trailing")});
    EXPECT_EQ(shown.status, 0) << shown.err;
    expectLines(shown.out,
                {"Identity: 0x515CF61D (user configuration record)\n",
                 "tstatCfg.systemType: 1000 (unknown value)\n",
                 "hvacSettings.hvacState: 99 (unknown value)\n", "tstatMode.mode: 1 (vacation)\n",
                 "tstatMode.vacationSetPoint: 3 days 0 hours, heat",
                 "end 1718300000 (2024-06-13 17:33:20 UTC)\n", "00 00 00 EE\n"});
}

// Foreign, short, blank and missing records and serial-number regions,
// usage errors and the offsets: exit status and a line of the output (or of
// the errors when the status is 1).
TEST_F(ConfigInspectTest, RecordsItCannotShowSerialRecordsAndUsage) {
    TstatSysCfgPersistMem_t foreign = factoryRecord();
    foreign.tstatSysCfgId = 0x01020304;
    // 14 characters summing to 0x02ED, and the complement.
    const std::string serial = std::string("\xED\x02\x12\xFD", 4) + "TS000000000042";
    std::string damaged = serial;
    damaged[17] = '\x01';
    const struct {
        std::vector<std::string> args;
        int status;
        const char *line;
    } cases[] = {
        {{"show", write("foreign", bytesOf(foreign))},
         3,
         "Identity: 0x01020304 (unknown: not a configuration record)\n"},
        {{"show", write("short", bytesOf(foreign).substr(0, 500))},
         1,
         "holds 500 bytes; a configuration record has 974"},
        {{"show", write("blank", "")}, 1, ""},
        {{"show", m_root.file("/missing")}, 1, "cannot open"},
        {{"show", "--serial", write("serial", serial)}, 0, "Serial number: TS000000000042\n"},
        {{"show", "-s", write("damaged", damaged)}, 3, "Serial number: TS00000000004\\x01\n"},
        {{"show", "--serial", write("blank", "")}, 3, "Serial number: none (blank region)\n"},
        {{"show", "--serial", write("serial-short", "\xC3\x02")}, 1, ""},
        {{"offsets"}, 0, "TstatSysCfgPersistMem_t->prgSetPnt[6]: 0x0333 (819)\n"},
        {{"--help"}, 0, "Exit status"},
        {{}, 2, ""},
        {{"show"}, 2, ""},
        {{"show", "a", "b"}, 2, ""},
        {{"list", "a"}, 2, ""},
        {{"--bogus", "show", "a"}, 2, ""},
    };
    for (const auto &c : cases) {
        ToolResult r = runTool(TSTAT_CONFIG_TOOL, c.args);
        EXPECT_EQ(r.status, c.status) << testing::PrintToString(c.args);
        expectLines(c.status == 1 ? r.err : r.out, {c.line});
    }
}

} // namespace
