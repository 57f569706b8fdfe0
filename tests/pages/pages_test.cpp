// The pages' contents: the main page's texts, buttons and pop-ups, the
// weather pages, the hold page's refusals, the message page and the security
// code entry.
#include "printed.h"
#include "ui_fixture.h"

#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "pages/forecast_pages.h"
#include "pages/hold_menu.h"
#include "pages/info_pages.h"
#include "pages/main_page.h"
#include "pages/main_page_test_access.h"
#include "pages/page_table.h"
#include "pages/pages.h"
#include "pages/security_code_menu.h"
#include "platform/platform_test.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

class PagesTest : public UiTest {
  protected:
    static void setLock(LockState modeLock, LockState tempLock, uint8_t range) {
        editLockout([&](TstatLockoutCfg_t &l) {
            l.buttonLockout = LOCK_LOCKED;
            l.modeLock = modeLock;
            l.tempLock = tempLock;
            l.tempLockRangeLimit = range;
        });
    }
    // Line i of the message page, as its update function writes it.
    static std::string messageLine(uint32_t i) {
        char line[SCREEN_TEXT_LEN];
        drawMessageScreen(line, i);
        return line;
    }
};

TEST_F(PagesTest, TheIndoorReadingsAreShownInRangeOrUncorrected) {
    // Celsius read (or none), offset in F, and the text shown: 98.96 F shows
    // as 99, 100.04 F (above the range) as it is, and a corrected 39 F (below
    // the range) uncorrected.
    const struct {
        bool valid;
        double celsius;
        double offset;
        const char *text;
    } cases[] = {
        {false, 20, 0, " "},        {true, 20, 0, " 68\xB0"},    {true, 20, 2, " 66\xB0"},
        {true, 37.2, 0, " 99\xB0"}, {true, 37.8, 0, " 100\xB0"}, {true, 5, 0, " 41\xB0"},
        {true, 5, 2, " 41\xB0"},    {true, 4.5, 0, " 40\xB0"},
    };
    bootAndStart();
    // The humidity shows only with its sensor, rounded to whole percent.
    setMovAvgHum(fx(40.6));
    pass();
    EXPECT_EQ(textOf(mainPageItems().relHumidityText), " 41%");
    EXPECT_TRUE(visible(mainPageItems().relHumidity));
    // 100 % is shown; a reading above it is not (the text stays).
    for (double humidity : {100.4, 101.0}) {
        setMovAvgHum(fx(humidity));
        pass();
        EXPECT_EQ(textOf(mainPageItems().relHumidityText), "100%") << humidity;
    }
    edit(getTstatConfiguration, setTstatConfiguration,
         [&](auto &cfg) { cfg.humiditySensor = SENSOR_OFF; });
    pass();
    EXPECT_FALSE(visible(mainPageItems().relHumidity));
    EXPECT_FALSE(visible(mainPageItems().relHumidityText));
    for (const auto &c : cases) {
        dataDictReset();
        if (c.valid) {
            setMovAvgIndTemp(fx(c.celsius));
        }
        edit(getTstatConfiguration, setTstatConfiguration,
             [&](auto &cfg) { cfg.tempOffset = fx(c.offset); });
        pass();
        EXPECT_EQ(textOf(mainPageItems().indoorTemp), c.text) << c.celsius << " " << c.offset;
    }
    // A reading that rounds to 0 °C shows no sign.
    setScale(TEMP_SCALE_CELSIUS);
    edit(getTstatConfiguration, setTstatConfiguration, [](auto &cfg) { cfg.tempOffset = 0; });
    for (auto [celsius, text] : {std::pair{0.2, " 0\xB0"}, {-0.3, " 0\xB0"}}) {
        setMovAvgIndTemp(fx(celsius));
        pass();
        EXPECT_EQ(textOf(mainPageItems().indoorTemp), text) << celsius;
    }
}

TEST_F(PagesTest, AlertIconsFollowTheRemindersOnceASecond) {
    bootAndStart();
    setWeatherAlertState(1);
    pass(12);
    EXPECT_EQ(mainPageItems().weatherAlertIcon->loaded, 0u);
    EXPECT_EQ(mainPageItems().filterChangeIcon->loaded, 0u);
    setWeatherAlertState(0);
    setTstatFilterChangeDays(0);
    pass(10);
    EXPECT_NE(mainPageItems().weatherAlertIcon->loaded, 0u);
    EXPECT_NE(mainPageItems().filterChangeIcon->loaded, 0u);
    setWeatherAlertFeature(FEATURE_DISABLE);
    setFilterChangeState(FEATURE_DISABLE);
    pass(10);
    EXPECT_EQ(mainPageItems().weatherAlertIcon->loaded, 0u);
    EXPECT_EQ(mainPageItems().filterChangeIcon->loaded, 0u);
    // The activity icons show what the equipment does: a heat pump's
    // compressor cooling, no auxiliary heat.
    edit(getAdvSetupSettings, setAdvSetupSettings,
         [](auto &cfg) { cfg.systemType = SYSTEM_TYPE_TWO_STG_HEAT_PUMP; });
    setHVACState(HVAC_STATE_COOL);
    initialiseHvacAlgorithms();
    RlyCntl_SetY1(1);
    pass(10);
    EXPECT_TRUE(visible(mainPageItems().coolingIcon));
    EXPECT_FALSE(visible(mainPageItems().heatingIcon));
    EXPECT_FALSE(visible(mainPageItems().auxIcon));
    // Auxiliary heat on either stage shows its icon.
    for (auto stage : {RlyCntl_SetW1E, RlyCntl_SetW2}) {
        stage(1);
        pass(10);
        EXPECT_TRUE(visible(mainPageItems().auxIcon));
        stage(0);
    }
}

TEST_F(PagesTest, TheAdjustingAnimationAlternatesDuringComfortRecovery) {
    bootAndStart();
    pass(6);
    EXPECT_EQ(mainPageItems().comfortMode1->loaded + mainPageItems().comfortMode2->loaded, 0u);
    // 17:10 on a Tuesday: Return (18:00) is under an hour away.
    platformFakeClockSetWall(UI_TEST_WALL_TIME + 10 * 3600);
    // A phase lasts 500 ms and the pass that restarts its timer: six passes here.
    std::vector<uint32_t> shown;
    printedBy([&] {
        pass(6);
        for (int i = 0; i < 4; i++) {
            shown.push_back(mainPageItems().comfortMode1->loaded +
                            mainPageItems().comfortMode2->loaded * 2);
            pass(6);
        }
    });
    EXPECT_EQ(getRecoveryMode(), 1);
    EXPECT_TRUE(shown == (std::vector<uint32_t>{1, 2, 1, 2}) ||
                shown == (std::vector<uint32_t>{2, 1, 2, 1}));
    // A hold ends the adjusting: both pictures go.
    setThermostatMode(TSTAT_MODE_HOLD);
    printedBy([&] { pass(2); });
    EXPECT_EQ(mainPageItems().comfortMode1->loaded + mainPageItems().comfortMode2->loaded, 0u);
}

TEST_F(PagesTest, SetPointsAndButtonsFollowTheHvacMode) {
    const struct {
        HvacState mode;
        const char *heat;
        const char *cool;
        const char *graphic;
        const char *button;
    } cases[] = {
        {HVAC_STATE_HEAT, " 70", " ", "Main-SP-Graphic-Heat", "Main-B2-Text-Heat-Offline"},
        {HVAC_STATE_COOL, " ", " 78", "Main-SP-Graphic-Cool", "Main-B2-Text-Cool-Offline"},
        {HVAC_STATE_AUTO, " 70", " 78", "Main-SP-Graphic-Auto", "Main-B2-Text-Auto-Offline"},
        {HVAC_STATE_OFF, " ", " ", "Main-Text-SystemOff", "Main-B2-Text-Off-Offline"},
        {HVAC_STATE_EMERGENCY_HEAT, " 70", " ", "Main-SP-Graphic-Heat",
         "Main-B2-Text-Emergency-Offline"},
    };
    bootAndStart();
    for (const auto &c : cases) {
        setHVACState(c.mode);
        pass();
        EXPECT_EQ(textOf(g_HoldModeMenu[HOLD_MENU_HEAT].handle), c.heat) << c.mode;
        EXPECT_EQ(textOf(g_HoldModeMenu[HOLD_MENU_COOL].handle), c.cool) << c.mode;
        EXPECT_EQ(imageName(mainPageItems().setPointBitmap), c.graphic);
        EXPECT_EQ(imageName(mainPageItems().hvacState), c.button);
    }
    // Online (any status but 0 from the bus), and then locked: the fan
    // button never shows the lock.
    setHVACState(HVAC_STATE_HEAT);
    setLedStatus(7);
    pass();
    EXPECT_EQ(imageName(mainPageItems().mode), "Main-B3-Text-Program-Online");
    // A stored mode past the four known ones shows as the program.
    setThermostatMode(TSTAT_MODE_HOLD);
    pass();
    setThermostatMode(static_cast<ThermostatMode>(4));
    pass();
    EXPECT_EQ(imageName(mainPageItems().mode), "Main-B3-Text-Program-Online");
    setLock(LOCK_LOCKED, LOCK_UNLOCKED, 2);
    pass();
    EXPECT_EQ(imageName(mainPageItems().hvacState), "Main-B2-Text-Heat-Locked");
    EXPECT_EQ(imageName(mainPageItems().mode), "Main-B3-Text-Program-Locked");
    EXPECT_EQ(imageName(mainPageItems().fanState), "Main-B1-Text-FanAuto-Online");
    // Locked, holding the mode key leads to the fan pop-up.
    holdKey(BUTTON_CODE_MODE, 3000);
    EXPECT_EQ(getCurrentMenuPtr(), &g_MainPuFanMode[1]);
    EXPECT_FALSE(visible(g_MainPuModeMenu[0].handle));
    EXPECT_FALSE(visible(g_MainPuHvacMenu[0].handle));
}

TEST_F(PagesTest, TheHoldStatusShowsWhenAHoldOrAnAbsenceEnds) {
    // By mode and HVAC state: the permanent-hold mark, and the status icon
    // and its text with their places (no icon: both hidden). The clock
    // keeps 24-hour time; the end of a hold is written in 12-hour time.
    const struct {
        ThermostatMode mode;
        HvacState hvac;
        bool permanent;
        const char *icon;
        int16_t iconX;
        const char *text;
        int16_t textX;
    } cases[] = {
        {TSTAT_MODE_HOLD, HVAC_STATE_HEAT, false, "Main-Icon-HoldUntil", 54, "08:00 AM", 138},
        {TSTAT_MODE_VACATION, HVAC_STATE_COOL, false, "Main-Icon-AwayUntil", 39, "January 18", 133},
        {TSTAT_MODE_PERMANENT_HOLD, HVAC_STATE_AUTO, true, nullptr, 0, nullptr, 0},
        {TSTAT_MODE_PROGRAM, HVAC_STATE_HEAT, false, nullptr, 0, nullptr, 0},
        {TSTAT_MODE_HOLD, HVAC_STATE_OFF, false, nullptr, 0, nullptr, 0},
        {TSTAT_MODE_VACATION, HVAC_STATE_OFF, false, nullptr, 0, nullptr, 0},
        {TSTAT_MODE_PERMANENT_HOLD, HVAC_STATE_OFF, false, nullptr, 0, nullptr, 0},
    };
    bootAndStart();
    edit(getThermostatFormatSettings, setThermostatFormatSettings,
         [&](auto &fmt) { fmt.timeFormat = TIME_FORMAT_24_HOUR; });
    edit(getVacationThermostatSettings, setVacationThermostatSettings,
         [&](auto &vacation) { vacation.endTime = UI_TEST_WALL_TIME + 4 * 86400; });
    for (const auto &c : cases) {
        setThermostatMode(c.mode); // a hold lasts until Leave, 08:00
        setHVACState(c.hvac);
        pass();
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.hvac);
        EXPECT_EQ(visible(mainPageItems().permanentHold), c.permanent);
        EXPECT_EQ(visible(mainPageItems().holdStatusBitmap), c.icon != nullptr);
        EXPECT_EQ(visible(mainPageItems().holdStatusText), c.icon != nullptr);
        if (c.icon != nullptr) {
            EXPECT_EQ(imageName(mainPageItems().holdStatusBitmap), c.icon);
            EXPECT_EQ(mainPageItems().holdStatusBitmap->x, c.iconX);
            EXPECT_EQ(textOf(mainPageItems().holdStatusText), c.text);
            EXPECT_EQ(mainPageItems().holdStatusText->x, c.textX);
        }
    }
}

TEST_F(PagesTest, TheHvacPopUpOffersEmergencyHeatOnlyOnHeatPumps) {
    const struct {
        SystemType system;
        std::vector<uint8_t> down;
        std::vector<uint8_t> up;
    } cases[] = {
        {SYSTEM_TYPE_ONE_STG_FURNACE, {9, 3, 5, 7, 9}, {7, 5, 3, 9, 7}},
        {SYSTEM_TYPE_TWO_STG_HEAT_PUMP, {9, 1, 3, 5, 7}, {5, 3, 1, 9, 7}},
    };
    for (const auto &c : cases) {
        bootAndStart({.systemType = c.system});
        holdKey(BUTTON_CODE_MODE, 3000);
        tap(BUTTON_CODE_MODE); // to the HVAC pop-up, on Heat (7)
        ASSERT_EQ(getCurrentMenuPtr(), &g_MainPuHvacMenu[7]);
        bool heatPump = c.system == SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
        EXPECT_EQ(visible(g_MainPuHvacMenu[1].handle), heatPump);
        EXPECT_EQ(walk(BUTTON_CODE_DOWN, static_cast<int>(c.down.size())), c.down);
        EXPECT_EQ(walk(BUTTON_CODE_UP, static_cast<int>(c.up.size())), c.up);
        // Each move applies and saves at once, even if the pop-up then times out.
        tap(BUTTON_CODE_DOWN);
        EXPECT_EQ(getHVACState(), HVAC_STATE_COOL);
        EXPECT_EQ(packed(savedRecord().hvacSettings.hvacState), HVAC_STATE_COOL);
        wait(10100);
        EXPECT_FALSE(visible(g_MainPuHvacMenu[0].handle));
        displayManagerReset();
        pagesReset();
        PersistUtil_Reset();
        m_root.write("/dev/mtdblock5", "");
    }
    // It opens on the mode in force.
    bootAndStart({.systemType = SYSTEM_TYPE_TWO_STG_HEAT_PUMP});
    for (auto [state, item] :
         {std::pair{HVAC_STATE_OFF, 5}, {HVAC_STATE_AUTO, 3}, {HVAC_STATE_EMERGENCY_HEAT, 1}}) {
        setHVACState(state);
        show(displayMainPage);
        holdKey(BUTTON_CODE_MODE, 3000);
        tap(BUTTON_CODE_MODE);
        EXPECT_EQ(getCurrentMenuPtr(), &g_MainPuHvacMenu[item]) << state;
        wait(10100);
    }
}

TEST_F(PagesTest, ThePopUpChainSetsModeHvacAndFan) {
    bootAndStart();
    holdKey(BUTTON_CODE_MODE, 3000);
    ASSERT_EQ(getCurrentMenuPtr(), &g_MainPuModeMenu[5]);
    // Down from Program is Permanent.
    tap(BUTTON_CODE_DOWN);
    EXPECT_EQ(getCurrentMenuIndex(), 1);
    EXPECT_EQ(getThermostatMode(), TSTAT_MODE_PERMANENT_HOLD);
    // The hold keeps the set points that were in force: 70 F, not an old hold.
    TstatSetPoint_t hold = valueOf(getHoldThermostatSettings);
    EXPECT_EQ(packed(hold.heatSetPoint), packed(savedRecord().prgSetPnt[2].period[0].heatSetPoint));
    tap(BUTTON_CODE_MODE);
    ASSERT_EQ(getCurrentMenuPtr(), &g_MainPuHvacMenu[7]);
    tap(BUTTON_CODE_MODE);
    ASSERT_EQ(getCurrentMenuPtr(), &g_MainPuFanMode[1]);
    tap(BUTTON_CODE_UP);
    EXPECT_EQ(getFanState(), FAN_STATE_ON);
    EXPECT_EQ(imageName(g_MainPuFanMode[3].handle), "Main-B1-PU-Button-Graphic-ON");
    EXPECT_EQ(imageName(g_MainPuFanMode[1].handle), "Main-B1-PU-Button-Graphic-OFF");
    tap(BUTTON_CODE_MODE);
    EXPECT_FALSE(visible(g_MainPuFanMode[0].handle));
    EXPECT_EQ(packed(savedRecord().hvacSettings.fanState), FAN_STATE_ON);
    EXPECT_EQ(packed(savedRecord().tstatMode.mode), TSTAT_MODE_PERMANENT_HOLD);
}

TEST_F(PagesTest, TheWeatherPanelAndDetailPageShowTheForecastStore) {
    bootAndStart();
    // Nothing received yet: no value is shown as 0 degrees.
    pass();
    for (const ScreenItem *item :
         {m_CurrFcastTemp, &testScreenMainWithFcast[34], &testScreenMainWithFcast[36]}) {
        EXPECT_EQ(textOf(item), "--");
    }
    show(displayDetailForecastPage);
    for (size_t item : {21, 19}) { // humidity, wind
        EXPECT_EQ(textOf(&testScreenDetail4Cast[item]), "--") << item;
    }
    show(displayMainPage);
    TstatFiveDayForecast_t fiveDay{};
    fiveDay.condition[0] = 21;
    fiveDay.condition[1] = 3;
    fiveDay.currentCondition = CONDITION_UNKNOWN;
    fiveDay.highTemp[1] = fx(-1.5);
    setFiveDayForecast(&fiveDay);
    TstatCurrentForecast_t current{};
    current.relativeHumidity = fx(55);
    current.windSpeed = fx(10);
    memcpy(current.windDirection, "NNWX", 4); // not terminated
    setCurrentForecast(&current);
    setBarometricPressure(fx(73.787)); // 29.05 in
    // Every day's high but today's.
    forecastMarkReceived(FORECAST_HUMIDITY | FORECAST_WIND_SPEED | FORECAST_WIND_DIRECTION |
                         (FORECAST_ALL_HIGHS & ~forecastDayHigh(0)));
    pass();
    EXPECT_EQ(textOf(&testScreenMainWithFcast[34]), "--");
    // An unknown current condition shows today's forecast.
    EXPECT_EQ(imageName(m_MainScrFcastPtr[0]), "Icon-Wthr-CurrentCond-Snow");
    // Clear at night: the night icon on the main page, the day icon on the detail page.
    fiveDay.currentCondition = 3;
    setFiveDayForecast(&fiveDay);
    platformFakeClockSetWall(UI_TEST_WALL_TIME + 15 * 3600); // 22:10
    pass(2);
    EXPECT_EQ(imageName(m_MainScrFcastPtr[0]), "Icon-Wthr-CurrentCond-ClearNight");
    setHelpModeState(OFFON_OFF);
    tap(BUTTON_CODE_MODE);
    ASSERT_EQ(dispManGetCurrentPage(), PAGE_DETAIL_FORECAST);
    pass();
    EXPECT_EQ(imageName(m_MainScrFcastPtr[0]), "Icon-Wthr-CurrentCond-ClearDay");
    EXPECT_EQ(textOf(&testScreenDetail4Cast[25]), " 29.05 in");
    EXPECT_EQ(textOf(&testScreenDetail4Cast[21]), "55%");
    EXPECT_EQ(textOf(&testScreenDetail4Cast[19]), "NNW 6 mph");
    // Values still not received: feels-like, dew point, today's low.
    for (size_t item : {17, 23, 15}) {
        EXPECT_EQ(textOf(&testScreenDetail4Cast[item]), "--") << item;
    }
    // A humidity out of range leaves the text as it was.
    current.relativeHumidity = fx(101);
    setCurrentForecast(&current);
    pass();
    EXPECT_EQ(textOf(&testScreenDetail4Cast[21]), "55%");
    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_FIVE_DAY_FORECAST);
}

TEST_F(PagesTest, TheFiveDayPageShowsTheForecastStore) {
    bootAndStart();
    TstatFiveDayForecast_t fiveDay{};
    fiveDay.condition[1] = 3;
    fiveDay.highTemp[1] = fx(-1.5);
    setFiveDayForecast(&fiveDay);
    forecastMarkReceived(FORECAST_ALL_HIGHS);
    // Day labels from today (Tuesday), temperatures, icons.
    show(displayFiveDayForecastPage);
    pass();
    EXPECT_EQ(imageName(&testScreenFiveDayForecast[1]), "Label - 5Day - DOW - TUE");
    EXPECT_EQ(imageName(&testScreenFiveDayForecast[29]), "Label - 5Day - DOW - SAT");
    EXPECT_EQ(imageName(&testScreenFiveDayForecast[9]), "Icon-5Day-Condition-ClearDay");
    EXPECT_EQ(textOf(&testScreenFiveDayForecast[12]), " 29\xB0");
    // The same store in the other scale is read anew.
    setScale(TEMP_SCALE_CELSIUS);
    pass();
    EXPECT_EQ(textOf(&testScreenFiveDayForecast[12]), "-1\xB0");
    setScale(TEMP_SCALE_FAHRENHEIT);
    // After midnight the labels stay until new forecast data arrives.
    platformFakeClockSetWall(UI_TEST_WALL_TIME + 24 * 3600);
    show(displayFiveDayForecastPage);
    EXPECT_EQ(imageName(&testScreenFiveDayForecast[1]), "Label - 5Day - DOW - TUE");
    setFiveDayForecast(&fiveDay);
    pass();
    EXPECT_EQ(imageName(&testScreenFiveDayForecast[1]), "Label - 5Day - DOW - WED");
    // A condition code outside the tables leaves the images.
    fiveDay.condition[1] = 4000;
    setFiveDayForecast(&fiveDay);
    pass();
    EXPECT_EQ(imageName(&testScreenFiveDayForecast[9]), "Icon-5Day-Condition-ClearDay");
    // 8 C lower: the stores differ in one byte, by one.
    fiveDay.highTemp[1] = fx(-9.5);
    setFiveDayForecast(&fiveDay);
    pass();
    EXPECT_EQ(textOf(&testScreenFiveDayForecast[12]), " 15\xB0");
}

TEST_F(PagesTest, TheHoldPageIsRefusedWhenOffOrLocked) {
    bootAndStart();
    setHVACState(HVAC_STATE_OFF);
    tap(BUTTON_CODE_UP);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    setHVACState(HVAC_STATE_HEAT);
    setLock(LOCK_UNLOCKED, LOCK_LOCKED, 0);
    tap(BUTTON_CODE_UP);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    // Mode lock: the page shows, nothing can be changed, the mode stays.
    setLock(LOCK_LOCKED, LOCK_UNLOCKED, 2);
    tap(BUTTON_CODE_UP);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_HOLD);
    tap(BUTTON_CODE_UP);
    holdKey(BUTTON_CODE_MODE, 3000);
    wait(11000);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    EXPECT_EQ(getThermostatMode(), TSTAT_MODE_PROGRAM);
    // Temperature lock with a range: 70 F can move between 68 and 72.
    setLock(LOCK_UNLOCKED, LOCK_LOCKED, 2);
    tap(BUTTON_CODE_UP);
    for (int i = 0; i < 4; i++) {
        tap(BUTTON_CODE_UP);
    }
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].value, 72);
}

TEST_F(PagesTest, AutomaticModeEditsTheSetPointOfTheRunningEquipment) {
    bootAndStart({.hvacState = HVAC_STATE_AUTO});
    tap(BUTTON_CODE_UP);
    ASSERT_EQ(dispManGetCurrentPage(), PAGE_HOLD);
    // Idle: the heat set point first; the mode key alternates.
    EXPECT_EQ(getCurrentMenuPtr(), &g_HoldModeMenu[HOLD_MENU_HEAT]);
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].handle->textBlinkPeriod, 250u);
    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(getCurrentMenuPtr(), &g_HoldModeMenu[HOLD_MENU_COOL]);
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_COOL].handle->textBlinkPeriod, 250u);
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].handle->textBlinkPeriod, 0u);
    tap(BUTTON_CODE_DOWN);
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_COOL].value, 77);
    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(getCurrentMenuPtr(), &g_HoldModeMenu[HOLD_MENU_HEAT]);
}

TEST_F(PagesTest, AMessageIsWrappedIntoTenLines) {
    const struct {
        std::string text;
        std::vector<std::string> lines; // the first lines; the rest hold " "
    } cases[] = {
        {"0123456789", {"0123456789", " "}},
        {"\"Quoted text\" and the rest", {"Quoted text", " "}},
        {"Tomorrow the lobby doors close at noon for cleaning.",
         {"Tomorrow the lobby doors", "close at noon for cleaning.", " "}},
        // A word wider than the line: split with a hyphen, the rest on the next line.
        {"Supercalifragilisticexpialidocious!!",
         {"Supercalifragilisticexpialidoc-", "ious!!", " "}},
    };
    bootAndStart();
    for (const auto &c : cases) {
        displayMessageScreenPage(c.text.c_str());
        pass();
        EXPECT_EQ(dispManGetCurrentPage(), PAGE_MESSAGE);
        for (size_t i = 0; i < 10; i++) {
            std::string expected = i < c.lines.size() ? c.lines[i] : " ";
            EXPECT_EQ(messageLine(i), expected) << c.text << " line " << i;
        }
        EXPECT_EQ(textOf(&testScreenMessage[10]), c.lines[0]);
        busReports();
        tap(BUTTON_CODE_DOWN);
        EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
        EXPECT_EQ(busReports(), std::vector<std::string>{"message cleared"});
    }
    // Longer than ten lines: cut after the tenth.
    std::string longText;
    for (int i = 0; i < 40; i++) {
        longText += "word" + std::to_string(i) + " ";
    }
    displayMessageScreenPage(longText.c_str());
    EXPECT_EQ(messageLine(0).rfind("word0 ", 0), 0u);
    EXPECT_NE(messageLine(9), " ");
    EXPECT_EQ(messageLine(9).find("word39"), std::string::npos);
}

TEST_F(PagesTest, TheSecurityCodeOpensThePreferencesOnlyWhenRight) {
    bootAndStart({.securityCode = 305});
    enterCode(306);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_SEC_CODE_INPUT);
    // A wrong code keeps its digits, with the first current again.
    EXPECT_EQ(getCurrentMenuIndex(), 0);
    EXPECT_EQ(textOf(g_SecurityCodeMenu[3].handle), "6");
    enterCode(305);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_USER_PREF);
    // Cancel returns to the settings page.
    show(displaySecCodeInpPage);
    keys("4M D");
    ASSERT_EQ(getCurrentMenuIndex(), SEC_CODE_CANCEL);
    tap(BUTTON_CODE_MODE);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_SETTINGS);
}

} // namespace
