// Schedule, hold, vacation and comfort recovery. The date-dependent tests run
// in UTC and in a zone with daylight saving.
#include "config_fixture.h"
#include "printed.h"

#include <cstring>

namespace {

// testRecord's program (Celsius): Wake 06:30 21/25, Leave 08:00 17/29,
// Return 18:00 21/25, Sleep 22:00 17/28 every day.
constexpr fpr_t c_RecoveryFrom18To21 = 152371; // 18.6

using ScheduleTest = ZonedConfigTest;

// The setpoints in force; what the schedule printed meanwhile is in g_Printed.
std::string g_Printed;
TstatSetPoint_t inForce() {
    TstatSetPoint_t out{};
    EXPECT_EQ(printedBy([&] { return getCurrentThermostatSettings(&out); }, &g_Printed), 0);
    return out;
}

TEST_P(ScheduleTest, PeriodInForceAcrossMidnightAndDays) {
    TstatSysCfgPersistMem_t r = testRecord();
    r.prgSetPnt[0].period[3].heatSetPoint = fx(16); // Sunday night
    r.prgSetPnt[6].period[3].heatSetPoint = fx(15); // Saturday night
    r.comfortRecoveryModeState = OFFON_OFF;
    ASSERT_EQ(boot(std::nullopt, bytesOf(r)), 0);
    struct Case {
        int day, hour, minute; // June: the 10th is a Monday
        int period, weekday;
        double heat;
    };
    const Case cases[] = {
        {10, 7, 10, 0, 1, 21}, {10, 5, 0, 3, 0, 16}, {10, 22, 0, 3, 1, 17},  {10, 21, 59, 2, 1, 21},
        {10, 6, 30, 0, 1, 21}, {9, 5, 0, 3, 6, 15},  {15, 23, 59, 3, 6, 15},
    };
    // 2041 lies past the end of a 32-bit time_t (2038-01-19 03:14:07 UTC).
    for (int year : {2024, 2041})
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message()
                         << year << "-06-" << c.day << " " << c.hour << ":" << c.minute);
            setLocalTime(year, 6, c.day, c.hour, c.minute);
            TstatSetPoint_t out = inForce();
            uint8_t period = 9;
            uint8_t weekday = 9;
            getCurrentProgramModeSettings(&period, &weekday);
            EXPECT_EQ(period, +c.period);
            EXPECT_EQ(weekday, +c.weekday);
            EXPECT_EQ(+out.heatSetPoint, fx(c.heat));
        }
    // A local time out of range is refused, its edges are not.
    const struct {
        int weekday, hour, minute, result;
    } times[] = {{6, 23, 59, 0}, {7, 0, 0, -1},  {-1, 0, 0, -1}, {0, 24, 0, -1},
                 {0, -1, 0, -1}, {0, 0, 60, -1}, {0, 0, -1, -1}};
    for (const auto &t : times) {
        struct tm local {};
        local.tm_wday = t.weekday;
        local.tm_hour = t.hour;
        local.tm_min = t.minute;
        TstatSetPoint_t out{};
        EXPECT_EQ(getProgramThermostatSettingsByTime(&local, &out), t.result)
            << t.weekday << " " << t.hour << ":" << t.minute;
    }
}

TEST_P(ScheduleTest, HoldEndsAtTheStartOfTheNextPeriod) {
    TstatSysCfgPersistMem_t r = testRecord();
    r.prgSetPnt[2].period[0].startHour = 7; // Tuesday wakes at 07:15
    r.prgSetPnt[2].period[0].startMinute = 15;
    ASSERT_EQ(boot(std::nullopt, bytesOf(r)), 0);
    struct Case {
        int y, mo, d, h, mi;      // now
        int ey, emo, ed, eh, emi; // hold end
    };
    const Case cases[] = {
        {2024, 6, 10, 5, 0, 2024, 6, 10, 6, 30}, // before today's first period
        {2024, 6, 10, 6, 10, 2024, 6, 10, 6, 30},
        {2024, 6, 10, 7, 10, 2024, 6, 10, 8, 0},  // next period of today
        {2024, 6, 10, 23, 0, 2024, 6, 11, 7, 15}, // tomorrow's (Tuesday's) first period
        {2024, 12, 31, 23, 0, 2025, 1, 1, 6, 30}, // into the next year
        {2024, 2, 28, 23, 0, 2024, 2, 29, 6, 30}, // leap day
        {2023, 2, 28, 23, 0, 2023, 3, 1, 6, 30},
        {2024, 6, 15, 23, 0, 2024, 6, 16, 6, 30}, // Saturday to Sunday
        {2038, 1, 19, 3, 0, 2038, 1, 19, 7, 15},  // over the end of a 32-bit time_t
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.y << "-" << c.mo << "-" << c.d << " " << c.h);
        setThermostatMode(TSTAT_MODE_PROGRAM);
        takeModeChangeFlag();
        setLocalTime(c.y, c.mo, c.d, c.h, c.mi);
        setThermostatMode(TSTAT_MODE_HOLD);
        EXPECT_EQ(takeModeChangeFlag(), 1);
        TstatSetPoint_t hold = valueOf(getHoldThermostatSettings);
        EXPECT_EQ(+hold.endTime, localEpoch(c.ey, c.emo, c.ed, c.eh, c.emi));
        EXPECT_EQ(+hold.startHour, +c.eh);
        EXPECT_EQ(+hold.startMinute, +c.emi);
        // Setting the same mode again raises no flag.
        setThermostatMode(TSTAT_MODE_HOLD);
        EXPECT_EQ(takeModeChangeFlag(), 0);
    }
}

TEST_P(ScheduleTest, HoldAcrossADaylightSavingChange) {
    bootTestRecord();
    const TstatSetPoint_t holdSetting = setPoint(19, 27, 0, 0);
    struct Case {
        int month, day;  // a Saturday night before a change in 2024
        int64_t withDst; // hold length where the clocks change that night
    };
    for (const Case &c : {Case{3, 9, 6 * 3600 + 1800}, Case{11, 2, 8 * 3600 + 1800}}) {
        setThermostatMode(TSTAT_MODE_PROGRAM);
        setLocalTime(2024, c.month, c.day, 23, 0);
        const int64_t start = localEpoch(2024, c.month, c.day, 23, 0);
        setThermostatMode(TSTAT_MODE_HOLD);
        setHoldThermostatSettings(&holdSetting);
        TstatSetPoint_t hold = valueOf(getHoldThermostatSettings);
        EXPECT_EQ(+hold.endTime, localEpoch(2024, c.month, c.day + 1, 6, 30));
        EXPECT_EQ(hold.endTime - start, zoneHasDaylightSaving() ? c.withDst : 7 * 3600 + 1800);

        setWallClock(hold.endTime - 1);
        EXPECT_EQ(+inForce().heatSetPoint, fx(19));
        EXPECT_EQ(getThermostatMode(), TSTAT_MODE_HOLD);
        // At the end the hold falls back to the program, and that is saved.
        setWallClock(hold.endTime);
        EXPECT_EQ(+inForce().heatSetPoint, fx(21));
        EXPECT_EQ(getThermostatMode(), TSTAT_MODE_PROGRAM);
        EXPECT_EQ(+userRegion().tstatMode.mode, TSTAT_MODE_PROGRAM);
        EXPECT_EQ(takeModeChangeFlag(), 0);
    }
}

TEST_P(ScheduleTest, VacationAndPermanentHold) {
    bootTestRecord();
    // June 10th is a Monday in both years; 2041 lies past the end of a 32-bit time_t.
    for (int year : {2024, 2041}) {
        SCOPED_TRACE(year);
        setThermostatMode(TSTAT_MODE_PROGRAM);
        setLocalTime(year, 6, 10, 12, 0);
        TstatSetPoint_t vacation = setPoint(14, 31, 2, 5, 30, 60);
        vacation.endTime = localEpoch(year, 6, 12, 12, 0);
        setVacationThermostatSettings(&vacation);
        setThermostatMode(TSTAT_MODE_VACATION);
        EXPECT_EQ(bytesOf(inForce()), bytesOf(vacation)); // the vacation as set

        // A vacation that has ended reverts to the program and is saved.
        setLocalTime(year, 6, 12, 11, 59);
        EXPECT_EQ(getThermostatMode(), TSTAT_MODE_VACATION);
        setLocalTime(year, 6, 12, 12, 0);
        EXPECT_EQ(+inForce().heatSetPoint, fx(17)); // Wednesday's Leave period
        EXPECT_EQ(getThermostatMode(), TSTAT_MODE_PROGRAM);
        EXPECT_EQ(+userRegion().tstatMode.mode, TSTAT_MODE_PROGRAM);
    }

    // A permanent hold has no end.
    setThermostatMode(TSTAT_MODE_PERMANENT_HOLD);
    setLocalTime(2030, 1, 1, 0, 0);
    EXPECT_EQ(+inForce().heatSetPoint, fx(20));
    EXPECT_EQ(getThermostatMode(), TSTAT_MODE_PERMANENT_HOLD);

    // An unknown mode yields -1 and leaves the output alone.
    setThermostatMode(static_cast<ThermostatMode>(4));
    TstatSetPoint_t untouched;
    memset(&untouched, 0x3C, sizeof(untouched));
    TstatSetPoint_t copy = untouched;
    EXPECT_EQ(getCurrentThermostatSettings(&untouched), -1);
    EXPECT_EQ(memcmp(&untouched, &copy, sizeof(copy)), 0);
}

TEST_P(ScheduleTest, RecoveryWindowIsTheTwoHoursBeforeAComfortPeriod) {
    bootTestRecord();
    setMovAvgIndTemp(fx(18));
    struct Case {
        int hour, minute;
        uint8_t recovery;
        fpr_t heat;
    };
    const Case cases[] = {
        {4, 29, 0, fx(17)},
        {4, 30, 1, c_RecoveryFrom18To21},
        {5, 45, 1, c_RecoveryFrom18To21},
        {6, 29, 1, c_RecoveryFrom18To21},
        {6, 30, 0, fx(21)},
    };
    // An ordinary Monday and the Sunday on which daylight saving starts.
    for (const auto &[month, day] : {std::pair{6, 10}, std::pair{3, 10}}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message()
                         << month << "/" << day << " " << c.hour << ":" << c.minute);
            setRecoveryMode(1 - c.recovery);
            setLocalTime(2024, month, day, c.hour, c.minute);
            EXPECT_EQ(+inForce().heatSetPoint, +c.heat);
            EXPECT_EQ(getRecoveryMode(), +c.recovery);
        }
    }
    // Emergency heat recovers as heat does; cooling leaves the heat setpoint.
    for (const auto &[state, recovery] :
         {std::pair{HVAC_STATE_EMERGENCY_HEAT, 1}, std::pair{HVAC_STATE_COOL, 0}}) {
        setHVACState(state);
        setRecoveryMode(1 - recovery);
        setLocalTime(2024, 6, 10, 4, 30);
        EXPECT_EQ(+inForce().heatSetPoint, recovery != 0 ? c_RecoveryFrom18To21 : fx(17));
        EXPECT_EQ(getRecoveryMode(), recovery) << state;
    }
}

TEST_P(ScheduleTest, RecoveryOnlyBeforeComfortPeriodsWithAGap) {
    TstatSysCfgPersistMem_t r = testRecord();
    // Sunday: 01:00, 02:00, 03:00, 05:45 - one hour before Monday's 06:30.
    r.prgSetPnt[0].period[0].startHour = 1;
    r.prgSetPnt[0].period[1].startHour = 2;
    r.prgSetPnt[0].period[2].startHour = 3;
    r.prgSetPnt[0].period[3].startHour = 5;
    r.prgSetPnt[0].period[3].startMinute = 45;
    ASSERT_EQ(boot(std::nullopt, bytesOf(r)), 0);
    setMovAvgIndTemp(fx(10));
    struct Case {
        int hour, minute;
        HvacState state;
    };
    const Case cases[] = {
        {7, 10, HVAC_STATE_HEAT},  // next period 1
        {20, 30, HVAC_STATE_HEAT}, // next period 3
        {5, 50, HVAC_STATE_HEAT},  // a gap of one hour
        {16, 30, HVAC_STATE_OFF},  // in the window before Return, system off
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.hour << ":" << c.minute);
        setHVACState(c.state);
        for (uint8_t before : {0, 1}) {
            setRecoveryMode(before);
            setLocalTime(2024, 6, 10, c.hour, c.minute);
            TstatSetPoint_t out = inForce();
            EXPECT_EQ(getRecoveryMode(), 0);
            EXPECT_NE(+out.heatSetPoint, +image().recoveryTemp[0]);
        }
    }
}

TEST_P(ScheduleTest, HeatRecoveryStepsAFifthAndStandsFor900Seconds) {
    bootTestRecord();
    setMovAvgIndTemp(fx(18));
    setLocalTime(2024, 6, 10, 4, 30);
    EXPECT_EQ(+inForce().heatSetPoint, c_RecoveryFrom18To21);
    EXPECT_EQ(g_Printed, "Setting computed recovery heat temp\r");
    TstatSetPoint_t recovery{};
    getRecoveryTemp(&recovery);
    EXPECT_EQ(+recovery.heatSetPoint, c_RecoveryFrom18To21);

    // Evaluations within 900 s of each other keep the value although the room warmed.
    setMovAvgIndTemp(fx(20));
    for (int minute : {35, 45, 55}) {
        setLocalTime(2024, 6, 10, 4, minute);
        EXPECT_EQ(inForce().heatSetPoint, c_RecoveryFrom18To21) << minute;
    }
    // After a longer pause it is recomputed: 20 + (21 - 20) / 5.
    setLocalTime(2024, 6, 10, 5, 10, 1);
    EXPECT_EQ(+inForce().heatSetPoint, 165478);
}

TEST_P(ScheduleTest, CoolRecoveryAndRecoveryInFahrenheit) {
    bootTestRecord();
    setHVACState(HVAC_STATE_COOL);
    setMovAvgIndTemp(fx(28));
    setLocalTime(2024, 6, 10, 5, 0);
    TstatSetPoint_t out = inForce();
    EXPECT_EQ(g_Printed, "Setting computed recovery cool temp\r");
    EXPECT_EQ(+out.coolSetPoint, 224461); // 28 - (28 - 25) / 5 = 27.4
    EXPECT_EQ(getRecoveryMode(), 1);

    // Fahrenheit display with a 2 F calibration offset: the room reads 68 - 2 F.
    scheduleReset();
    setHVACState(HVAC_STATE_HEAT);
    setScale(TEMP_SCALE_FAHRENHEIT);
    TstatCfg_t diff = valueOf(getTstatSetupDifferential);
    diff.tempOffset = fx(2);
    setTstatSetupDifferential(&diff);
    setMovAvgIndTemp(fx(20));
    // I = 154737 (66 F), R = I + (172032 - I) / 5.
    EXPECT_EQ(+inForce().heatSetPoint, 158196);
}

TEST_P(ScheduleTest, RecoveryStaysOffWhenDisabledResetOrUnmeasured) {
    bootTestRecord();
    setLocalTime(2024, 6, 10, 5, 0);
    // No indoor reading yet: the period in force, not a setpoint ramped from 0 degrees.
    EXPECT_EQ(+inForce().heatSetPoint, fx(17));
    setMovAvgIndTemp(fx(18));
    setComfortRecoveryModeState(OFFON_OFF);
    EXPECT_EQ(+inForce().heatSetPoint, fx(17));
    EXPECT_EQ(getRecoveryMode(), 1); // the window is still tracked
    setComfortRecoveryModeState(OFFON_ON);
    g_IsZapCommand = 1;
    EXPECT_EQ(+inForce().heatSetPoint, fx(17));
    g_IsZapCommand = 0;
    EXPECT_EQ(+inForce().heatSetPoint, c_RecoveryFrom18To21);
}

TEST_P(ScheduleTest, RecoveryWindowAcrossMidnight) {
    TstatSysCfgPersistMem_t r = testRecord();
    for (auto &day : r.prgSetPnt) {
        day.period[0].startHour = 0; // Wake at 00:30, Sleep at 20:00
        day.period[3].startHour = 20;
    }
    ASSERT_EQ(boot(std::nullopt, bytesOf(r)), 0);
    setComfortRecoveryModeState(OFFON_OFF);
    const std::pair<int, uint8_t> cases[] = {{22 * 60 + 29, 0}, {22 * 60 + 30, 1}, {23 * 60, 1}};
    for (const auto &[minutes, recovery] : cases) {
        setLocalTime(2024, 6, 9, minutes / 60, minutes % 60);
        inForce();
        EXPECT_EQ(getRecoveryMode(), recovery) << minutes;
    }
}

INSTANTIATE_TEST_SUITE_P(Zones, ScheduleTest, testing::ValuesIn(c_TestZones));

// ---- Setpoint rules (independent of the date) ----------------------------------------

using SetpointRuleTest = ConfigTest;

struct Temps {
    fpr_t heat, cool, humidify, dehumidify;
};

Temps applyWriteRule(Temps current, const TstatSetPoint_t &in) {
    setThermostatTemps(&in, &current.heat, &current.cool, &current.humidify, &current.dehumidify);
    return current;
}

TEST_F(SetpointRuleTest, WriteRuleKeepsLimitsAndDeadband) {
    bootTestRecord();
    setHVACState(HVAC_STATE_AUTO);
    edit(getTstatSetupDifferential, setTstatSetupDifferential,
         [&](auto &diff) { diff.deadband = fx(2.0); });
    const Temps start = {fx(20), fx(25), fx(35), fx(55)};
    struct Case {
        double heat, cool;       // requested
        double newHeat, newCool; // result
    };
    const Case cases[] = {
        {24, 25, 24, 26},   // heat raised to within 1.0 of cool pushes cool
        {20, 21, 19, 21},   // cool lowered pushes heat, and the push is not undone
        {23, 22, 23, 25},   // both: cool first, then heat pushes cool again
        {40, 25, 32, 34},   // heat above the maximum: heat max, cool max + deadband
        {20, 3, 5, 7},      // cool below the minimum: cool min, heat min - deadband
        {20, 40, 20, 34},   // cool capped at max + deadband
        {4.5, 25, 4.5, 25}, // heat below the limits: the read rule's to raise
        {2, 25, 4.44, 25},  // but never below what a stored record may hold
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.heat << "/" << c.cool);
        Temps result = applyWriteRule(start, setPoint(c.heat, c.cool, 0, 0));
        EXPECT_EQ(+result.heat, fx(c.newHeat));
        EXPECT_EQ(+result.cool, fx(c.newCool));
        EXPECT_EQ(+result.humidify, fx(35));
        EXPECT_EQ(+result.dehumidify, fx(55));
    }
    // Outside automatic state the limits are not widened.
    setHVACState(HVAC_STATE_COOL);
    Temps result = applyWriteRule(start, setPoint(20, 40, 0, 0));
    EXPECT_EQ(+result.cool, fx(32));
}

TEST_F(SetpointRuleTest, WriteRuleKeepsHumidityFivePercentApart) {
    bootTestRecord();
    const Temps start = {fx(20), fx(25), fx(38), fx(55)};
    struct Case {
        double humidify, dehumidify;
        double newHumidify, newDehumidify;
    };
    const Case cases[] = {
        {38, 40, 35, 40},  // dehumidify 40 pushes humidify down to 35
        {96, 55, 38, 55},  // humidify above 95 ignored
        {95, 55, 95, 100}, // 95 accepted, dehumidify follows
        {38, 4.9, 38, 55}, // dehumidify below 5 ignored
        {52, 55, 52, 57},  // humidify 52 pushes dehumidify to 57
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.humidify << "/" << c.dehumidify);
        Temps result = applyWriteRule(start, setPoint(20, 25, 0, 0, c.humidify, c.dehumidify));
        EXPECT_EQ(+result.humidify, fx(c.newHumidify));
        EXPECT_EQ(+result.dehumidify, fx(c.newDehumidify));
        EXPECT_EQ(+result.heat, fx(20));
    }
}

TEST_F(SetpointRuleTest, ReadRuleClampsAndStoresBack) {
    bootTestRecord();
    struct Case {
        HvacState state;
        double heat, cool, newHeat, newCool;
    };
    const Case cases[] = {
        {HVAC_STATE_HEAT, 5, 6, 7, 8.5},       {HVAC_STATE_HEAT, 40, 41, 32, 33.5},
        {HVAC_STATE_HEAT, 20, 20.5, 20, 20.5}, {HVAC_STATE_AUTO, 5, 30, 7, 8.5},
        {HVAC_STATE_COOL, 5, 3, 5.5, 7},       {HVAC_STATE_COOL, 30, 40, 30.5, 32},
        {HVAC_STATE_OFF, 5, 3, 5, 3},          {HVAC_STATE_EMERGENCY_HEAT, 40, 50, 40, 50},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.state << " " << c.heat << "/" << c.cool);
        setHVACState(c.state);
        fpr_t heat = fx(c.heat);
        fpr_t cool = fx(c.cool);
        getThermostatTemps(&heat, &cool);
        EXPECT_EQ(heat, fx(c.newHeat));
        EXPECT_EQ(cool, fx(c.newCool));
    }
    // Reading a period normalises the stored values too.
    setHVACState(HVAC_STATE_HEAT);
    TstatSetPoint_t cold = setPoint(5, 6, 6, 30);
    TstatSysCfgPersistMem_t r = testRecord();
    r.prgSetPnt[3].period[1] = cold;
    PersistUtil_Reset();
    ASSERT_EQ(boot(std::nullopt, bytesOf(r)), 0);
    TstatSetPoint_t out;
    ASSERT_EQ(getProgramThermostatSettings(1, 3, &out), 0);
    EXPECT_EQ(+out.heatSetPoint, fx(7));
    EXPECT_EQ(+image().prgSetPnt[3].period[1].heatSetPoint, fx(7));
    // In Fahrenheit the minimum is 45 F.
    setScale(TEMP_SCALE_FAHRENHEIT);
    fpr_t heat = fx(5);
    fpr_t cool = fx(30);
    getThermostatTemps(&heat, &cool);
    EXPECT_EQ(heat, 59164);
}

TEST_F(SetpointRuleTest, ProgramHoldAndVacationWrites) {
    bootTestRecord();
    // A program period takes its start; the end time stays the caller's,
    // and the humidity setpoints follow into hold and vacation.
    TstatSetPoint_t in = setPoint(19, 26, 7, 45, 30, 50);
    ASSERT_EQ(setProgramThermostatSettings(2, 4, &in), 0);
    TstatSetPoint_t out = setPoint(0, 0, 0, 0, 0, 0);
    out.endTime = 777;
    ASSERT_EQ(getProgramThermostatSettings(2, 4, &out), 0);
    EXPECT_EQ(+out.startMinute, 45);
    EXPECT_EQ(+out.endTime, 777);
    EXPECT_EQ(+image().tstatMode.holdSetPoint.dehumidifySetPoint, fx(50));
    EXPECT_EQ(+image().tstatMode.vacationSetPoint.dehumidifySetPoint, fx(50));
    // Periods and days beyond the program are refused.
    EXPECT_EQ(setProgramThermostatSettings(4, 0, &in), -1);
    EXPECT_EQ(setProgramThermostatSettings(0, 7, &in), -1);
    EXPECT_EQ(getProgramThermostatSettings(0, 7, &out), -1);

    // Hold: write rule on the temperatures, humidity as given, start and end
    // untouched; a vacation also takes days, hours and end time.
    TstatSetPoint_t h = setPoint(22, 22.5, 9, 9, 50, 52);
    h.endTime = 12345;
    setHoldThermostatSettings(&h);
    setVacationThermostatSettings(&h);
    const TstatSetPoint_t hold = image().tstatMode.holdSetPoint;
    EXPECT_EQ(+hold.coolSetPoint, fx(23.5));
    EXPECT_EQ(+hold.humidifySetPoint, fx(50));
    EXPECT_EQ(+hold.startHour, 0);
    EXPECT_EQ(+hold.endTime, 0);
    EXPECT_EQ(+image().tstatMode.vacationSetPoint.endTime, 12345);
}

TEST(HoldDateAdvance, MonthAndYearEnds) {
    struct Case {
        int y, m, d, ny, nm, nd;
    };
    const Case cases[] = {
        {2024, 1, 31, 2024, 2, 1},  {2024, 2, 28, 2024, 2, 29},  {2024, 2, 29, 2024, 3, 1},
        {2023, 2, 28, 2023, 3, 1},  {2000, 2, 28, 2000, 2, 29},  {2100, 2, 28, 2100, 3, 1},
        {2024, 4, 30, 2024, 5, 1},  {2024, 11, 30, 2024, 12, 1}, {2024, 12, 31, 2025, 1, 1},
        {2024, 6, 15, 2024, 6, 16},
    };
    for (const Case &c : cases) {
        struct tm date {};
        date.tm_year = c.y - 1900;
        date.tm_mon = c.m - 1;
        date.tm_mday = c.d;
        SetHoldModeSetpoint(&date);
        EXPECT_EQ(date.tm_year + 1900, c.ny) << c.y << "-" << c.m << "-" << c.d;
        EXPECT_EQ(date.tm_mon + 1, c.nm) << c.y << "-" << c.m << "-" << c.d;
        EXPECT_EQ(date.tm_mday, c.nd) << c.y << "-" << c.m << "-" << c.d;
    }
}

} // namespace
