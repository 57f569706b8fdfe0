// The vacation page through the keys: setting a vacation and its end
// reverting to the program, the time-out that changes no mode, end dates at
// the month ends, navigation by the equipment and the lock, the humidity
// limits, both scales, and the help page.
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "pages/vacation_menu.h"
#include "platform/platform_test.h"

#include "ui_fixture.h"

#include <ctime>
#include <string>

namespace {

class VacationMenuTest : public UiTest {
  protected:
    void open() { show(displayVacationModePage); }
    uint8_t position() const { return getCurrentMenuIndex(); }
    static TstatSetPoint_t vacation() { return valueOf(getVacationThermostatSettings); }
};

TEST_F(VacationMenuTest, AVacationSetWithTheKeysEndsBackOnTheProgram) {
    bootAndStart();
    open();
    // In program mode the vacation shows switched off, ending now.
    EXPECT_EQ(g_VacationMenu[VAC_ENABLE].value, VAC_DISABLED);
    std::string shown;
    for (uint8_t item : {VAC_MONTH, VAC_DAY, VAC_HOUR, VAC_MINUTE, VAC_AMPM}) {
        shown += textOf(g_VacationMenu[item].handle);
    }
    EXPECT_EQ(shown, "Jan1407:10AM");

    tap(BUTTON_CODE_MODE); // on, and to the end date
    EXPECT_EQ(position(), VAC_DATE);
    keys("2M 3U 2M"); // the month stays; 17 January
    EXPECT_EQ(position(), VAC_TIME);
    keys("M 5U M U M U M"); // 12; :11, so that whole hours remain at Done; PM
    EXPECT_EQ(position(), VAC_COOL_HDR);
    // The store cycle changed the settings, but only Done enters the vacation.
    EXPECT_EQ(packed(vacation().endTime), localEpoch(2025, 1, 17, 12, 11));
    EXPECT_EQ(getThermostatMode(), TSTAT_MODE_PROGRAM);

    keys("2D"); // no humidity equipment: from the heat to Done
    EXPECT_EQ(position(), VAC_DONE);
    busReports();
    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    TstatSysCfgPersistMem_t flash = savedRecord();
    EXPECT_EQ(packed(flash.tstatMode.mode), TSTAT_MODE_VACATION);
    EXPECT_EQ(flash.tstatMode.vacationSetPoint.startHour, 3);   // days
    EXPECT_EQ(flash.tstatMode.vacationSetPoint.startMinute, 5); // hours
    EXPECT_EQ(busReports(), std::vector<std::string>{"mode"});

    // Past its end the thermostat is back on the program, and that is saved.
    platformFakeClockSetWall(localEpoch(2025, 1, 17, 12, 12));
    pass(2);
    EXPECT_EQ(getThermostatMode(), TSTAT_MODE_PROGRAM);
    EXPECT_EQ(packed(savedRecord().tstatMode.mode), TSTAT_MODE_PROGRAM);

    // Switched off again with Done: program mode.
    setThermostatMode(TSTAT_MODE_VACATION);
    TstatSetPoint_t later = vacation();
    later.endTime = localEpoch(2025, 1, 20, 9, 0);
    setVacationThermostatSettings(&later);
    saveThermostatSysCfg();
    open();
    EXPECT_EQ(g_VacationMenu[VAC_ENABLE].value, VAC_ENABLED);
    // Done on the running vacation tells the bus its settings again.
    busReports();
    keys("U M");
    EXPECT_EQ(getThermostatMode(), TSTAT_MODE_VACATION);
    EXPECT_EQ(busReports(), std::vector<std::string>{"mode"});
    open();
    keys("M D");
    EXPECT_EQ(position(), VAC_DONE);
    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(packed(savedRecord().tstatMode.mode), TSTAT_MODE_PROGRAM);
}

TEST_F(VacationMenuTest, TheTimeOutSavesTheSettingsAndChangesNoMode) {
    bootAndStart();
    setThermostatMode(TSTAT_MODE_HOLD);
    open();
    keys("M 2D M D"); // switched on, but never confirmed with Done; cool one degree down
    wait(19000);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_VACATION);
    wait(1500);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    EXPECT_EQ(getThermostatMode(), TSTAT_MODE_HOLD);
    TstatSysCfgPersistMem_t flash = savedRecord();
    EXPECT_EQ(packed(flash.tstatMode.mode), TSTAT_MODE_HOLD);
    EXPECT_EQ(packed(flash.tstatMode.vacationSetPoint.coolSetPoint),
              tempFahToCelConversion(fx(84)));

    show(displayAwayHelpPage);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_VACATION_HELP);
    EXPECT_EQ(screen(), testScreenAwayHelp);
    tap(BUTTON_CODE_DOWN);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_VACATION_HELP);
    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(screen(), testScreenVacation);
    displayAwayHelpPage();
    wait(20500);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
}

TEST_F(VacationMenuTest, EndTimesAreStoredWithinTheMonthAndTheDayCount) {
    bootAndStart();
    open();
    // The year runs from the shown one to ten years on.
    EXPECT_EQ(g_VacationMenu[VAC_YEAR].min, 2025);
    EXPECT_EQ(g_VacationMenu[VAC_YEAR].max, 2035);
    keys("M M D"); // switched on; the month wraps round from January to December
    EXPECT_EQ(textOf(g_VacationMenu[VAC_MONTH].handle), "Dec");
    keys("5M 11D"); // the day, the year, the hour, the minute: from :10 round to :59
    EXPECT_EQ(textOf(g_VacationMenu[VAC_MINUTE].handle), ":59");
    const struct {
        int year, month, day, hour12, pm, minute;
        int64_t end;
        uint8_t days;
    } cases[] = {
        {2025, 3, 31, 7, 1, 0, localEpoch(2025, 4, 30, 19, 0), 106},    // 31 April
        {2100, 1, 29, 12, 0, 0, localEpoch(2100, 2, 28, 0, 0), 255},    // not a leap year
        {2028, 1, 29, 12, 1, 30, localEpoch(2028, 2, 29, 12, 30), 255}, // a leap year
        {2025, 0, 14, 12, 0, 0, localEpoch(2025, 1, 14, 0, 0), 0},      // already past
    };
    for (const auto &c : cases) {
        g_VacationMenu[VAC_YEAR].value = static_cast<int16_t>(c.year);
        g_VacationMenu[VAC_MONTH].value = static_cast<int16_t>(c.month);
        g_VacationMenu[VAC_DAY].value = static_cast<int16_t>(c.day);
        g_VacationMenu[VAC_HOUR].value = static_cast<int16_t>(c.hour12);
        g_VacationMenu[VAC_AMPM].value = static_cast<int16_t>(c.pm);
        g_VacationMenu[VAC_MINUTE].value = static_cast<int16_t>(c.minute);
        setVacSettingsInDataDict();
        EXPECT_EQ(packed(vacation().endTime), c.end) << c.year << "-" << c.month;
        EXPECT_EQ(vacation().startHour, c.days) << c.year << "-" << c.month;
    }
    // A stored end the menu cannot show (before 1970, after 3000) is shown as now.
    const struct {
        int64_t end;
        int year;
    } stored[] = {
        {INT64_MAX / 2, 2025},
        {localEpoch(3000, 12, 31, 23, 0), 3000},
        {localEpoch(3001, 1, 1, 0, 0), 2025},
        {localEpoch(1970, 1, 1, 0, 0), 1970},
        {localEpoch(1969, 12, 31, 23, 0), 2025},
    };
    for (const auto &c : stored) {
        TstatSetPoint_t damaged = vacation();
        damaged.endTime = c.end;
        setVacationThermostatSettings(&damaged);
        getVacModeSPFromDataDict();
        EXPECT_EQ(g_VacationMenu[VAC_YEAR].value, c.year) << c.end;
    }
    EXPECT_EQ(g_VacationMenu[VAC_DAY].max, 31);
}

TEST_F(VacationMenuTest, NavigationFollowsTheSwitchTheEquipmentAndTheLock) {
    bootAndStart();
    open();
    // switched off: straight to Done
    EXPECT_EQ(walk("D U"), (std::vector<uint8_t>{VAC_DONE, VAC_ENABLE}));
    tap(BUTTON_CODE_MODE);
    const struct {
        HumidifyState state;
        uint8_t afterHeat, beforeDone;
    } cases[] = {
        {HUMIDIFY_STATE_OFF, VAC_DONE, VAC_HEAT_HDR},
        {HUMIDIFY_STATE_HUMIDIFY, VAC_HUMID_HDR, VAC_HUMID_HDR},
        {HUMIDIFY_STATE_DEHUMIDIFY, VAC_DEHUMID_HDR, VAC_DEHUMID_HDR},
        {HUMIDIFY_STATE_AUTO, VAC_HUMID_HDR, VAC_DEHUMID_HDR},
    };
    for (const auto &c : cases) {
        setHumidifyState(c.state);
        EXPECT_EQ(walk("3D D"), (std::vector<uint8_t>{VAC_HEAT_HDR, c.afterHeat}));
        tapUntil(BUTTON_CODE_DOWN, VAC_DONE);
        tap(BUTTON_CODE_UP);
        EXPECT_EQ(position(), c.beforeDone) << c.state;
        tapUntil(BUTTON_CODE_UP, VAC_DATE);
    }
    // Temperature lock without a range: the set points are passed over both ways.
    editLockout([](TstatLockoutCfg_t &l) {
        l.buttonLockout = l.tempLock = LOCK_LOCKED;
        l.tempLockRangeLimit = 0;
    });
    EXPECT_EQ(walk("2D U"), (std::vector<uint8_t>{VAC_HUMID_HDR, VAC_TIME}));
    // With a range of 3 the heat set point moves 3 degrees either way.
    editLockout([](TstatLockoutCfg_t &l) { l.tempLockRangeLimit = 3; });
    taps(BUTTON_CODE_DOWN, 2);
    EXPECT_EQ(position(), VAC_HEAT_HDR);
    keys("M 5U");
    pass();
    EXPECT_EQ(textOf(g_VacationMenu[VAC_HEAT].handle), "65\xB0");
    taps(BUTTON_CODE_DOWN, 8);
    pass();
    EXPECT_EQ(textOf(g_VacationMenu[VAC_HEAT].handle), "59\xB0");
}

TEST_F(VacationMenuTest, HumidityLimitsAndBothScales) {
    bootAndStart({.tempScale = TEMP_SCALE_CELSIUS, .humidifyState = HUMIDIFY_STATE_AUTO});
    TstatSetPoint_t sp = vacation();
    sp.humidifySetPoint = fx(40);
    sp.dehumidifySetPoint = fx(100);
    sp.heatSetPoint = fx(10);
    setVacationThermostatSettings(&sp);
    open();
    ScreenItem *heat = g_VacationMenu[VAC_HEAT].handle;
    // Both in use: each keeps one percent from the other.
    EXPECT_EQ(g_VacationMenu[VAC_HUMID].max, fx(99));
    EXPECT_EQ(g_VacationMenu[VAC_DEHUMID].min, fx(41));
    EXPECT_EQ(textOf(g_VacationMenu[VAC_HUMID].handle), " 40%");
    // Three digits stand five pixels further left than two.
    EXPECT_EQ(g_VacationMenu[VAC_DEHUMID].handle->x, g_VacationMenu[VAC_HUMID].handle->x - 5);
    // Two digits stand one pixel further left than one in Celsius.
    EXPECT_EQ(textOf(heat), "10\xB0");
    EXPECT_EQ(heat->x, 199);
    // The heat set point stops at 7 degrees Celsius, 45 Fahrenheit.
    keys("M 3D M 5D");
    pass();
    EXPECT_EQ(textOf(heat), " 7\xB0");
    EXPECT_EQ(heat->x, 200);
    EXPECT_EQ(packed(vacation().heatSetPoint), fx(7));
    setScale(TEMP_SCALE_FAHRENHEIT);
    open();
    keys("M 3D M 5D");
    pass();
    EXPECT_EQ(textOf(g_VacationMenu[VAC_HEAT].handle), "45\xB0");
    // Dehumidify unused: its text is blank.
    setHumidifyState(HUMIDIFY_STATE_HUMIDIFY);
    pass();
    EXPECT_EQ(textOf(g_VacationMenu[VAC_DEHUMID].handle), " ");
    // No sign on 0 %.
    sp = vacation();
    sp.humidifySetPoint = 0;
    setVacationThermostatSettings(&sp);
    open();
    EXPECT_EQ(textOf(g_VacationMenu[VAC_HUMID].handle), " 0%");
}

} // namespace
