// The data dictionary: sub-record and scalar accessors, volatile values, the
// clock operations and the filter reminder.
#include "config_fixture.h"

#include <cstring>

namespace {

using DataDictTest = ConfigTest;

TEST_F(DataDictTest, PartialOperationsTouchOnlyTheirFields) {
    bootTestRecord();
    const TstatSysCfgPersistMem_t before = image();

    // The setter takes only its five fields from a buffer full of other values.
    TstatCfg_t adv;
    memset(&adv, 0x77, sizeof(adv));
    adv.systemType = SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
    adv.externalTempSensor = EXT_TEMP_SENSOR_OUTDOOR;
    adv.internalTempSensor = SENSOR_OFF;
    adv.humiditySensor = SENSOR_OFF;
    adv.cycleRate = 6;
    setAdvSetupSettings(&adv);
    TstatSysCfgPersistMem_t expected = before;
    expected.tstatCfg.systemType = SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
    expected.tstatCfg.externalTempSensor = EXT_TEMP_SENSOR_OUTDOOR;
    expected.tstatCfg.internalTempSensor = SENSOR_OFF;
    expected.tstatCfg.humiditySensor = SENSOR_OFF;
    expected.tstatCfg.cycleRate = 6;
    EXPECT_EQ(bytesOf(image()), bytesOf(expected));

    // The getters leave the rest of the caller's buffer alone.
    TstatCfg_t diff;
    memset(&diff, 0x55, sizeof(diff));
    getTstatSetupDifferential(&diff);
    EXPECT_EQ(+diff.deadband, fx(1.5));
    EXPECT_EQ(+diff.firstStageDiff, fx(0.5));
    EXPECT_EQ(static_cast<uint32_t>(diff.systemType), 0x55555555u);
    EXPECT_EQ(+diff.cycleRate, 0x55);
    TstatHvacSettings_t balance;
    memset(&balance, 0x66, sizeof(balance));
    balance.balancePoint = fx(-3);
    setTstatSetupBalancePt(&balance);
    EXPECT_EQ(+image().hvacSettings.balancePoint, fx(-3));
    EXPECT_EQ(+image().hvacSettings.fanSpeed, +before.hvacSettings.fanSpeed);

    // A new humidity state is handed to the control at once.
    static int s_Changes;
    s_Changes = 0;
    setHumidifyStateHook([] { s_Changes++; });
    setHumidifyState(HUMIDIFY_STATE_AUTO);
    setHumidifyStateHook(nullptr);
    setHumidifyState(HUMIDIFY_STATE_OFF);
    EXPECT_EQ(s_Changes, 1);
}

TEST_F(DataDictTest, CycleRateInDiagnosticMode) {
    bootTestRecord();
    setCycleRate(5);
    setDiagnosticModeSetting(1);
    EXPECT_EQ(getCycleRate(), 61);
    EXPECT_EQ(+image().tstatCfg.cycleRate, 5);
    setDiagnosticModeSetting(0);
    EXPECT_EQ(getCycleRate(), 5);
}

TEST_F(DataDictTest, VolatileValuesStartUnsetAndBounded) {
    // No reading yet, and no weather alert (0 would be an active one).
    fpr_t value = 123;
    EXPECT_EQ(getMovAvgIndTemp(&value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(getMovAvgHum(&value), 0);
    EXPECT_EQ(getWeatherAlertState(), 1u);
    // The bus version keeps nine characters.
    EXPECT_EQ(isKorabusVersionSet(), 0);
    setKorabusVersion("123456789ABC");
    EXPECT_STREQ(getKorabusVersion(), "123456789");
    EXPECT_EQ(isKorabusVersionSet(), 1);
}

TEST_F(DataDictTest, FilterChangeDaysRoundUpAndCap) {
    bootTestRecord();
    const int64_t start = localEpoch(2024, 1, 10, 9, 0);
    setWallClock(start);
    setTstatFilterChangeDays(200);
    EXPECT_EQ(getTstatFilterChMaxHourTime(), 4800);
    const int64_t due = getTstatFilterChangeEndTime();
    EXPECT_EQ(due, start + 200 * 86400);
    const std::pair<int64_t, uint32_t> cases[] = {
        {due - 1, 1},
        {due - 3 * 86400, 3},
        {due - 3 * 86400 - 1, 4},
        {due - 180 * 86400, 180},
        {due - 181 * 86400, 180},
        {due, 0},
        {due + 10, 0},
    };
    for (const auto &[now, days] : cases) {
        setWallClock(now);
        EXPECT_EQ(getTstatFilterChangeDays(), days) << due - now;
    }
    // A due time far in the future neither overflows nor exceeds the cap.
    setWallClock(start);
    TstatSysCfgPersistMem_t r = testRecord();
    r.filterChangeEndTime = INT64_MAX;
    PersistUtil_Reset();
    ASSERT_EQ(boot(std::nullopt, bytesOf(r)), 0);
    EXPECT_EQ(getTstatFilterChangeDays(), 180u);
}

using ClockTest = ZonedConfigTest;

// A clock record as "year month/day hh:mm:ss weekday".
std::string text(const TstatClockCfg_t &c) {
    char out[48];
    snprintf(out, sizeof(out), "%u %u/%u %02u:%02u:%02u %u", +c.year, +c.month, +c.day, +c.hour,
             +c.minute, +c.second, +c.weekday);
    return out;
}

TEST_P(ClockTest, ClockThatLostItsYearReportsTheRememberedYear) {
    bootTestRecord();
    setClockYear(111);
    setLocalTime(2003, 6, 15, 12, 34, 56);
    TstatClockCfg_t clock;
    ASSERT_EQ(getClockConfiguration(&clock), 0);
    EXPECT_EQ(text(clock), "111 5/15 12:34:56 0"); // a Sunday
    EXPECT_EQ(+image().clockYear, 111);

    // A right clock wins, and the record follows it.
    setLocalTime(2024, 3, 1, 8, 0);
    TstatClockCfg_t after;
    ASSERT_EQ(getClockConfiguration(&after), 0);
    EXPECT_EQ(+after.year, 124);
    EXPECT_EQ(+image().clockYear, 124);

    // A record that knows no year either keeps the clock's own.
    setClockYear(0);
    setLocalTime(2003, 6, 15, 12, 0);
    ASSERT_EQ(getClockConfiguration(&after), 0);
    EXPECT_EQ(+after.year, 103);

    // Start-up's fix-up: the clock is set to the remembered year, keeping the rest.
    setClockYear(111);
    setLocalTime(2003, 6, 15, 12, 34, 56);
    clock.month = static_cast<uint8_t>(clock.month + 1);
    clock.year = static_cast<uint16_t>(clock.year + 1900);
    EXPECT_EQ(setClockConfiguration(&clock), 0);
    EXPECT_EQ(m_root.read("/sim/shell.log"), "date 061512342011.56\n/sbin/hwclock --systohc\n");
    EXPECT_NE(m_root.read("/sim/rtc"), "");
    ASSERT_EQ(getClockConfiguration(&after), 0);
    EXPECT_EQ(text(after), "111 5/15 12:34:56 3");
}

TEST_P(ClockTest, SettingTheClock) {
    bootTestRecord();
    // A clock that cannot be read yields a record no date command takes.
    setWallClock(-1);
    TstatClockCfg_t failed;
    ASSERT_EQ(getClockConfiguration(&failed), -1);
    EXPECT_EQ(+failed.year, 124);
    failed.month = static_cast<uint8_t>(failed.month + 1);
    failed.year = static_cast<uint16_t>(failed.year + 1900);
    EXPECT_EQ(setClockConfiguration(&failed), -1);
    EXPECT_EQ(m_root.read("/sim/shell.log"), "date 010000002024.00\n");

    TstatClockCfg_t clock{2, 28, 2011, 23, 59, 30, 0};
    EXPECT_EQ(setClockConfiguration(&clock), 0);
    EXPECT_EQ(+image().clockYear, 111);
    TstatClockCfg_t now;
    ASSERT_EQ(getClockConfiguration(&now), 0);
    EXPECT_EQ(text(now), "111 1/28 23:59:30 1"); // a Monday

    // A date the command refuses is a failure, and the hardware clock is not written.
    m_root.write("/sim/shell.log", "");
    clock.month = 13;
    clock.year = 2012;
    EXPECT_EQ(setClockConfiguration(&clock), -1);
    EXPECT_EQ(m_root.read("/sim/shell.log"), "date 132823592012.30\n");
    EXPECT_EQ(+image().clockYear, 112);
}

INSTANTIATE_TEST_SUITE_P(Zones, ClockTest, testing::ValuesIn(c_TestZones));

} // namespace
