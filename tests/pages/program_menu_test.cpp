// The program schedule page through the keys: editing a day and copying it,
// the store cycle and the save, navigation by the humidity groups, the
// limits at their edges in both scales, start times, the temperature lock,
// the time-out and the help page.
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "pages/main_page.h"
#include "pages/pages.h"
#include "pages/program_menu.h"
#include "pages/vacation_menu.h"
#include "platform/platform_test.h"

#include "ui_fixture.h"

#include <string>

namespace {

constexpr int64_t DAY_SECONDS = 86400;
constexpr uint8_t SUNDAY = 0;
constexpr uint8_t MONDAY = 1;
constexpr uint8_t TUESDAY = 2;
constexpr uint8_t SATURDAY = 6;
constexpr uint8_t WAKE_HEAT = PROG_WAKE + PROG_HEAT;

class ProgramMenuTest : public UiTest {
  protected:
    // Boots on the given day of the test's week (at 07:10) and opens the page.
    void openOn(uint8_t day, const FactoryOptions &options = FactoryOptions()) {
        setDay(day);
        bootAndStart(options);
        reopen();
    }
    static void setDay(uint8_t day) {
        platformFakeClockSetWall(UI_TEST_WALL_TIME + (day - TUESDAY) * DAY_SECONDS);
    }
    // From the main page to the program page, as a new visit.
    void reopen() {
        show(displayMainPage);
        show(displayProgramModePage);
    }
    uint8_t position() const { return getCurrentMenuIndex(); }
    // A day's Wake heat set point in a record.
    static fpr_t wakeHeat(const TstatSysCfgPersistMem_t &r, uint8_t day) {
        return r.prgSetPnt[day].period[0].heatSetPoint;
    }
};

TEST_F(ProgramMenuTest, MondaysWakeHeatEditedCopiedToTheWeekdaysStoredAndSaved) {
    setDay(MONDAY);
    bootAndStart();
    TstatSetPoint_t mondayWake{};
    getProgramThermostatSettings(0, MONDAY, &mondayWake);
    const TstatSetPoint_t weekendWake = mondayWake;
    mondayWake.humidifySetPoint = fx(42);
    mondayWake.dehumidifySetPoint = fx(58);
    setProgramThermostatSettings(0, MONDAY, &mondayWake);
    // Opened from a hold: the page puts the thermostat back on its program.
    setThermostatMode(TSTAT_MODE_HOLD);
    saveThermostatSysCfg();
    busReports();
    show(displayProgramModePage);
    EXPECT_EQ(getThermostatMode(), TSTAT_MODE_PROGRAM);
    EXPECT_EQ(screen(), testScreenProgram);
    EXPECT_EQ(getProgramMenuDay(), MONDAY);
    EXPECT_EQ(textOf(g_ProgramMenu[WAKE_HEAT].handle), "70\xB0");

    keys("M 2U");
    pass();
    // The store cycle wrote the edit into the program, not yet into the flash.
    const fpr_t edited = tempFahToCelConversion(fx(72));
    EXPECT_EQ(wakeHeat(memoryRecord(), MONDAY), edited);
    EXPECT_EQ(wakeHeat(savedRecord(), MONDAY), tempFahToCelConversion(fx(70)));
    EXPECT_EQ(textOf(g_ProgramMenu[WAKE_HEAT].handle), "72\xB0");

    // cool, hour, minute, am/pm, then the leave period; return, sleep, copy (no humidity equipment)
    EXPECT_EQ(walk("5M 3D"), (std::vector<uint8_t>{PROG_LEAVE, PROG_COPY}));
    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(screen(), testScreenProgramCopyTo);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_PROGRAM);
    // Down from Done wraps round to Sunday, and Up back to Done.
    EXPECT_EQ(walk("D U"), (std::vector<uint8_t>{7, 0}));
    // Up climbs from Done through Saturday; Monday, being edited, is passed over.
    tap(BUTTON_CODE_UP);
    for (int day = 0; day < 4; day++) { // Friday to Tuesday
        keys("U M");
    }
    tap(BUTTON_CODE_UP);
    EXPECT_EQ(position(), 7); // Sunday
    keys("U M");
    EXPECT_EQ(screen(), testScreenProgram);
    EXPECT_EQ(position(), PROG_COPY);

    keys("2D M"); // Done saves
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    TstatSysCfgPersistMem_t flash = savedRecord();
    for (uint8_t day = SUNDAY; day <= SATURDAY; day++) {
        bool weekday = day >= MONDAY && day <= 5;
        EXPECT_EQ(wakeHeat(flash, day), weekday ? edited : tempFahToCelConversion(fx(70))) << +day;
        EXPECT_EQ(flash.prgSetPnt[day].period[0].startHour, weekday ? 6 : 8);
        // The copy carries the day's humidity set points.
        const TstatSetPoint_t &wake = flash.prgSetPnt[day].period[0];
        EXPECT_EQ(+wake.humidifySetPoint, weekday ? fx(42) : +weekendWake.humidifySetPoint);
        EXPECT_EQ(+wake.dehumidifySetPoint, weekday ? fx(58) : +weekendWake.dehumidifySetPoint);
    }
    EXPECT_EQ(packed(flash.tstatMode.mode), TSTAT_MODE_PROGRAM);
    EXPECT_EQ(busReports(), std::vector<std::string>{"mode"});
}

TEST_F(ProgramMenuTest, NavigationStopsFollowTheHumidityEquipment) {
    const struct {
        HumidifyState state;
        uint8_t afterSleep, beforeCopy;
    } cases[] = {
        {HUMIDIFY_STATE_OFF, PROG_COPY, PROG_SLEEP},
        {HUMIDIFY_STATE_DEHUMIDIFY, PROG_DEHUMID_FRAME, PROG_DEHUMID_FRAME},
        {HUMIDIFY_STATE_HUMIDIFY, PROG_HUMID_FRAME, PROG_HUMID_FRAME},
        {HUMIDIFY_STATE_AUTO, PROG_DEHUMID_FRAME, PROG_HUMID_FRAME},
    };
    openOn(TUESDAY);
    for (const auto &c : cases) {
        setHumidifyState(c.state);
        reopen();
        EXPECT_EQ(visible(g_ProgramMenu[PROG_DEHUMID_SP].handle),
                  c.state == HUMIDIFY_STATE_DEHUMIDIFY || c.state == HUMIDIFY_STATE_AUTO);
        EXPECT_EQ(visible(g_ProgramMenu[PROG_HUMID_SP].handle),
                  c.state == HUMIDIFY_STATE_HUMIDIFY || c.state == HUMIDIFY_STATE_AUTO);
        EXPECT_EQ(walk("U D 4D"), (std::vector<uint8_t>{PROG_DONE, PROG_WAKE, c.afterSleep}));
        // A humidity stop lights its frame and its label.
        if (c.afterSleep != PROG_COPY) {
            for (uint8_t lit : {c.afterSleep, static_cast<uint8_t>(c.afterSleep + 1)}) {
                EXPECT_STREQ(g_ProgramMenu[lit].handle->imageFile, g_ProgramMenu[lit].activeGlyph);
            }
        }
        tapUntil(BUTTON_CODE_DOWN, PROG_COPY);
        tap(BUTTON_CODE_UP);
        EXPECT_EQ(position(), c.beforeCopy) << c.state;
        // The stop's picture is the highlighted one.
        EXPECT_STREQ(g_ProgramMenu[c.beforeCopy].handle->imageFile,
                     g_ProgramMenu[c.beforeCopy].activeGlyph);
    }
}

// A period has changed when any of its set points or its start time has.
TEST(ProgramPeriods, AnySetPointOrTheStartTimeIsAChange) {
    const TstatSetPoint_t before{};
    EXPECT_EQ(checkProgPageSetPoint(&before, &before), 0);
    TstatSetPoint_t changed[6] = {before, before, before, before, before, before};
    changed[0].heatSetPoint = 1;
    changed[1].coolSetPoint = 1;
    changed[2].humidifySetPoint = 1;
    changed[3].dehumidifySetPoint = 1;
    changed[4].startHour = 1;
    changed[5].startMinute = 1;
    for (const TstatSetPoint_t &after : changed) {
        EXPECT_EQ(checkProgPageSetPoint(&before, &after), 1) << &after - changed;
    }
}
TEST_F(ProgramMenuTest, DoneReportsAModeChangeOnlyForTheSetPointsInForce) {
    const struct {
        const char *edit; // from the wake period's header, and back to a header
        std::vector<std::string> reports;
    } cases[] = {
        {"4D M U M", {"mode"}}, // 07:10: the humidify set point in force
        {"3D M U 5M", {}},      // the sleep period's heat
    };
    openOn(TUESDAY, {.humidifyState = HUMIDIFY_STATE_HUMIDIFY});
    for (const auto &c : cases) {
        reopen();
        busReports();
        keys(c.edit);
        tapUntil(BUTTON_CODE_DOWN, PROG_DONE);
        tap(BUTTON_CODE_MODE);
        EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
        EXPECT_EQ(busReports(), c.reports) << c.edit;
    }
}

TEST_F(ProgramMenuTest, SetPointsStopAtTheirLimitsInBothScales) {
    const struct {
        TempScale scale;
        const char *highest, *lowest;
    } cases[] = {
        {TEMP_SCALE_FAHRENHEIT, "90\xB0", "45\xB0"},
        {TEMP_SCALE_CELSIUS, "32\xB0", " 7\xB0"},
    };
    FactoryOptions options{.humidifyState = HUMIDIFY_STATE_AUTO};
    openOn(TUESDAY, options);
    for (const auto &c : cases) {
        // A page opened in another unit initialises its limits for it.
        setScale(c.scale);
        reopen();
        keys("M 50U");
        pass();
        EXPECT_EQ(textOf(g_ProgramMenu[WAKE_HEAT].handle), c.highest);
        EXPECT_EQ(g_ProgramMenu[WAKE_HEAT].max, g_MaxSetPointTemp);
        taps(BUTTON_CODE_DOWN, 50);
        pass();
        EXPECT_EQ(textOf(g_ProgramMenu[WAKE_HEAT].handle), c.lowest);
        EXPECT_EQ(wakeHeat(memoryRecord(), TUESDAY), tempFahToCelConversion(g_MinSetPointTemp));
    }
    // Dehumidify stops at 100 %; humidify stops at 95 %, five below it.
    keys("5M");
    tapUntil(BUTTON_CODE_DOWN, PROG_DEHUMID_FRAME);
    keys("M 50U");
    pass();
    EXPECT_EQ(textOf(g_ProgramMenu[PROG_DEHUMID_SP].handle), "100%");
    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(position(), PROG_HUMID_FRAME);
    keys("M 70U");
    pass();
    EXPECT_EQ(textOf(g_ProgramMenu[PROG_HUMID_SP].handle), " 95%");
    TstatSetPoint_t wake{};
    getProgramThermostatSettings(0, TUESDAY, &wake);
    EXPECT_EQ(packed(wake.humidifySetPoint), fx(95));
    EXPECT_EQ(packed(wake.dehumidifySetPoint), fx(100));
}

TEST_F(ProgramMenuTest, StartTimesStoreAsTwentyFourHourTimes) {
    openOn(TUESDAY);
    keys("3M"); // to the wake hour, 6 am
    EXPECT_EQ(position(), PROG_WAKE + PROG_HOUR);
    // Only the value being changed blinks, not the heat set point left behind.
    EXPECT_NE(g_ProgramMenu[PROG_WAKE + PROG_HOUR].handle->textBlinkPeriod, 0u);
    EXPECT_EQ(g_ProgramMenu[WAKE_HEAT].handle->textBlinkPeriod, 0u);
    pass();
    const struct {
        uint16_t key;
        int presses;
        uint8_t hour, minute;
    } steps[] = {
        {BUTTON_CODE_UP, 6, 0, 0},     // 12:00 am
        {BUTTON_CODE_UP, 1, 1, 0},     // the hour wraps round to 1:00 am
        {BUTTON_CODE_DOWN, 1, 0, 0},   // and back to 12:00 am
        {BUTTON_CODE_MODE, 1, 0, 0},   // to the minute
        {BUTTON_CODE_DOWN, 15, 0, 45}, // 12:45 am
        {BUTTON_CODE_MODE, 1, 0, 45},  // to am/pm
        {BUTTON_CODE_UP, 1, 12, 45},   // 12:45 pm
        {BUTTON_CODE_DOWN, 1, 0, 45},  // back to am
    };
    for (const auto &s : steps) {
        taps(s.key, s.presses);
        pass();
        TstatSetPoint_t wake{};
        getProgramThermostatSettings(0, TUESDAY, &wake);
        EXPECT_EQ(wake.startHour, s.hour);
        EXPECT_EQ(wake.startMinute, s.minute);
    }
    EXPECT_EQ(textOf(g_ProgramMenu[PROG_WAKE + PROG_HOUR].handle), "12");
    // A press on a period's value tells which of the leave and sleep periods
    // it touched.
    keys("M M U"); // the leave period's heat set point
    EXPECT_EQ(getUserLeaveSPChange() * 10 + getUserSleepSPChange(), 10);
    keys("5M D M U"); // over the return period to the sleep period's
    EXPECT_EQ(getUserLeaveSPChange() * 10 + getUserSleepSPChange(), 1);
}

TEST_F(ProgramMenuTest, TheTemperatureLockHoldsEachDayWithinItsRange) {
    openOn(MONDAY);
    TstatSetPoint_t tuesday{};
    getProgramThermostatSettings(0, TUESDAY, &tuesday);
    tuesday.heatSetPoint = tempFahToCelConversion(fx(64));
    setProgramThermostatSettings(0, TUESDAY, &tuesday);
    editLockout([](TstatLockoutCfg_t &l) {
        l.buttonLockout = l.tempLock = LOCK_LOCKED;
        l.tempLockRangeLimit = 2;
    });
    const struct {
        const char *highest, *lowest;
    } days[] = {{"72\xB0", "68\xB0"}, {"66\xB0", "62\xB0"}};
    for (const auto &d : days) {
        tapUntil(BUTTON_CODE_DOWN, PROG_WAKE);
        keys("M 5U");
        pass();
        EXPECT_EQ(textOf(g_ProgramMenu[WAKE_HEAT].handle), d.highest);
        taps(BUTTON_CODE_DOWN, 10);
        pass();
        EXPECT_EQ(textOf(g_ProgramMenu[WAKE_HEAT].handle), d.lowest);
        keys("5M 3U M"); // Next Day
    }
    // A week on, Monday keeps the range around its first value: no creeping.
    taps(BUTTON_CODE_MODE, 5);
    EXPECT_EQ(getProgramMenuDay(), MONDAY);
    keys("2D M 3D");
    pass();
    EXPECT_EQ(textOf(g_ProgramMenu[WAKE_HEAT].handle), "68\xB0");
    // Without a range the set points cannot be edited: the start hour is first.
    taps(BUTTON_CODE_MODE, 5);
    editLockout([](TstatLockoutCfg_t &l) { l.tempLockRangeLimit = 0; });
    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(position(), PROG_LEAVE + PROG_HOUR);
}

} // namespace
