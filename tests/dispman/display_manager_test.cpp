// The display manager as a user meets it: waking the display, the mode key's
// page cycle and 3 s hold, the page time-out, the hold page's store cycle,
// the backlight levels and the screen saver, the under-voltage warning, the
// lockout timers and the fourth key.
#include "ui_fixture.h"

#include "config/data_dict.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "pages/forecast_pages.h"
#include "pages/hold_menu.h"
#include "pages/info_pages.h"
#include "pages/main_page.h"
#include "pages/main_page_test_access.h"
#include "pages/pages.h"
#include "platform/platform_test.h"
#include "printed.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

namespace {

class DisplayManagerTest : public UiTest {
  protected:
    void setBacklight(uint16_t seconds, BacklightInactiveBrightness inactive) {
        edit(getThermostatBacklightSettings, setThermostatBacklightSettings, [&](auto &bk) {
            bk.backlightTimeout = seconds;
            bk.inactiveBrightness = inactive;
        });
    }
    // Boots with the keys and the temperature locked for 30 minutes, and starts.
    void bootWithTimedLock() {
        boot();
        editLockout([](TstatLockoutCfg_t &l) {
            l.buttonLockout = LOCK_LOCKED;
            l.tempLock = LOCK_LOCKED;
            l.tempLockTimeLimit = 30;
            l.tempLockRangeLimit = 2;
        });
        start();
    }
};

TEST_F(DisplayManagerTest, AKeyThatFindsTheDisplayDarkOnlyWakesIt) {
    boot();
    setBacklight(30, BACKLIGHT_INACTIVE_OFF);
    TstatBkLightCtl_t bk = valueOf(getThermostatBacklightSettings);
    // A panel left unpowered is powered at start-up.
    m_root.write("/sys/class/backlight/backlight/bl_power", "1\n");
    start();
    EXPECT_EQ(m_root.read("/sys/class/backlight/backlight/bl_power"), "0\n");
    EXPECT_EQ(brightness(), "255\n");
    // The time-out started with the start-up key edges, two passes ago.
    wait(29700);
    EXPECT_EQ(brightness(), "255\n");
    wait(200);
    EXPECT_EQ(brightness(), "0\n");
    EXPECT_EQ(getBacklightTimerFlag(), 0u);
    // Woken at the active brightness chosen meanwhile.
    bk.activeBrightness = BACKLIGHT_ACTIVE_MED;
    setThermostatBacklightSettings(&bk);
    tap(BUTTON_CODE_UP);
    EXPECT_EQ(brightness(), "45\n");
    EXPECT_EQ(getBacklightTimerFlag(), 1u);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    tap(BUTTON_CODE_UP);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_HOLD);
}

TEST_F(DisplayManagerTest, ShortModePressesWalkThePagesTheSettingsEnable) {
    struct Case {
        OffOnState help;
        FeatureState current;
        FeatureState fiveDay;
        std::vector<uint8_t> pages;
    };
    const Case cases[] = {
        {OFFON_ON, FEATURE_ENABLE, FEATURE_ENABLE, {17, 1, 2, 3}},
        {OFFON_OFF, FEATURE_ENABLE, FEATURE_DISABLE, {1, 3}},
        {OFFON_OFF, FEATURE_DISABLE, FEATURE_ENABLE, {2, 3}},
        {OFFON_ON, FEATURE_DISABLE, FEATURE_DISABLE, {17, 3}},
        {OFFON_OFF, FEATURE_DISABLE, FEATURE_DISABLE, {3}},
    };
    bootAndStart();
    for (const Case &c : cases) {
        setHelpModeState(c.help);
        setCurrentForecastState(c.current);
        setFiveDayForecastState(c.fiveDay);
        show(displayMainPage);
        std::vector<uint8_t> walked;
        for (size_t i = 0; i < c.pages.size(); i++) {
            tap(BUTTON_CODE_MODE);
            walked.push_back(dispManGetCurrentPage());
        }
        EXPECT_EQ(walked, c.pages) << c.help << c.current << c.fiveDay;
    }
}

TEST_F(DisplayManagerTest, HoldingModeThreeSecondsOpensTheModePopUpOnTheCurrentMode) {
    const struct {
        ThermostatMode mode;
        uint8_t item;
    } cases[] = {{TSTAT_MODE_PROGRAM, 5}, {TSTAT_MODE_HOLD, 3}, {TSTAT_MODE_PERMANENT_HOLD, 1}};
    bootAndStart();
    for (const auto &c : cases) {
        setThermostatMode(c.mode);
        show(displayMainPage);
        // Released just before 3 s: a short press, the next page.
        holdKey(BUTTON_CODE_MODE, 2800);
        EXPECT_EQ(dispManGetCurrentPage(), PAGE_HELP);
        show(displayMainPage);
        holdKey(BUTTON_CODE_MODE, 3000);
        EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
        EXPECT_EQ(getCurrentMenuPtr(), &g_MainPuModeMenu[c.item]) << c.mode;
        EXPECT_TRUE(visible(g_MainPuModeMenu[0].handle));
        EXPECT_STREQ(g_MainPuModeMenu[c.item].handle->imageFile,
                     g_MainPuModeMenu[c.item].activeGlyph);
        // The pop-up's own time-out returns to the main page.
        wait(10100);
        EXPECT_FALSE(visible(g_MainPuModeMenu[0].handle));
    }
}

// The first up opens the hold page on the set point in force without a step,
// each one after it steps a degree; the time-out stores a hold either way.
TEST_F(DisplayManagerTest, UpOpensTheHoldPageAndTheTimeOutStoresAHold) {
    bootAndStart();
    for (int presses : {1, 2}) {
        SCOPED_TRACE(presses);
        setThermostatMode(TSTAT_MODE_PROGRAM);
        show(displayMainPage);
        taps(BUTTON_CODE_UP, presses);
        ASSERT_EQ(dispManGetCurrentPage(), PAGE_HOLD);
        const int heat = 69 + presses;
        EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].value, heat);
        wait(9700);
        EXPECT_EQ(dispManGetCurrentPage(), PAGE_HOLD);
        wait(400);
        EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
        TstatSysCfgPersistMem_t saved = savedRecord();
        EXPECT_EQ(packed(saved.tstatMode.mode), TSTAT_MODE_HOLD);
        EXPECT_EQ(packed(saved.tstatMode.holdSetPoint.heatSetPoint),
                  tempFahToCelConversion(fx(heat)));
        pass();
        EXPECT_EQ(textOf(g_HoldModeMenu[HOLD_MENU_HEAT].handle), " " + std::to_string(heat));
        EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].handle->textBlinkPeriod, 0u);
    }
}

// Edges that queued up are taken five presses a pass, and a page number
// outside the table has no row.
TEST_F(DisplayManagerTest, APassTakesAtMostTenKeyEdges) {
    bootAndStart();
    tap(BUTTON_CODE_UP);
    ASSERT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].value, 70);
    for (int i = 0; i < 8; i++) {
        press(BUTTON_CODE_UP);
        release(BUTTON_CODE_UP);
    }
    displayManagerPoll();
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].value, 75);
    displayManagerPoll();
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].value, 78);
    EXPECT_EQ(&dispManPageEntry(DISPLAY_PAGE_COUNT), &dispManPageEntry(UINT8_MAX));
}

TEST_F(DisplayManagerTest, HoldingModeOnTheHoldPageStoresAtOnce) {
    bootAndStart();
    keys("2D");
    holdKey(BUTTON_CODE_MODE, 3000);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    EXPECT_EQ(packed(savedRecord().tstatMode.holdSetPoint.heatSetPoint),
              tempFahToCelConversion(fx(69)));
}

TEST_F(DisplayManagerTest, ThePageTimeOutReturnsToTheMainPageAndAKeyEdgeRestartsIt) {
    bootAndStart();
    tap(BUTTON_CODE_MODE);
    ASSERT_EQ(dispManGetCurrentPage(), PAGE_HELP);
    wait(19700);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_HELP);
    tap(BUTTON_CODE_UP);
    wait(19700);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_HELP);
    wait(400);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
}

TEST_F(DisplayManagerTest, TheScreenSaverRunsOnlyWhileDimmedAndEnabled) {
    const struct {
        BacklightInactiveBrightness inactive;
        FeatureState saver;
        const char *level;
        bool shown;
    } cases[] = {
        {BACKLIGHT_INACTIVE_DIM, FEATURE_ENABLE, "12\n", true},
        {BACKLIGHT_INACTIVE_DIM, FEATURE_DISABLE, "12\n", false},
        {BACKLIGHT_INACTIVE_OFF, FEATURE_ENABLE, "0\n", false},
    };
    bootAndStart();
    for (const auto &c : cases) {
        setBacklight(5, c.inactive);
        setScrSaverState(c.saver);
        tap(BUTTON_CODE_MODE); // awake (or woken) on the help page
        displayMainPage();
        wait(6000);
        EXPECT_EQ(brightness(), c.level);
        wait(60000);
        EXPECT_EQ(displayManagerScreenSaverShown(), c.shown ? 1 : 0);
        EXPECT_EQ(screen() == testScreenScrSvr, c.shown);
        if (c.shown) {
            // The temperature jumps every 3 s, and a key returns to the main page.
            std::vector<std::pair<int, int>> places;
            for (int i = 0; i < 4; i++) {
                places.emplace_back(screenSaverText()->x, screenSaverText()->y);
                wait(3000);
            }
            EXPECT_NE(places.front(), places.back());
            EXPECT_EQ(textOf(screenSaverText()), "68\xB0");
            // Three digits: every jump keeps the whole text on the panel.
            setMovAvgIndTemp(fx(38));
            for (int i = 0; i < 20; i++) {
                wait(3000);
                EXPECT_EQ(textOf(screenSaverText()), "100\xB0");
                EXPECT_LE(screenSaverText()->x + screenSaverText()->width, 240) << i;
            }
            setMovAvgIndTemp(fx(20));
            // Under the under-voltage band it moves down clear of the band
            // at once, and jumps only below it.
            screenMoveText(g_displayHdl, screenSaverText(), 0, 0);
            dispManSetUnderVoltageWarning(1);
            for (int i = 0; i < 4; i++) {
                EXPECT_GE(screenSaverText()->y, UNDERVOLTAGE_BAND_BOTTOM);
                wait(3000);
            }
            ScreenItem *band = g_UndervoltageTextHdl;
            EXPECT_EQ(2 * band->y + band->height, UNDERVOLTAGE_BAND_BOTTOM);
            dispManSetUnderVoltageWarning(0);
            tap(BUTTON_CODE_DOWN);
            EXPECT_EQ(displayManagerScreenSaverShown(), 0);
            EXPECT_EQ(screen(), testScreenMainWithFcast);
            EXPECT_EQ(brightness(), "255\n");
        }
    }
}

TEST_F(DisplayManagerTest, TheUnderVoltageTextBlinksOnEveryScreenUntilWithdrawn) {
    bootAndStart();
    dispManSetUnderVoltageWarning(1);
    pass();
    EXPECT_EQ(textOf(g_UndervoltageTextHdl), "Undervoltage!");
    std::vector<bool> phases;
    for (int i = 0; i < 4; i++) {
        phases.push_back(g_UndervoltageTextHdl->textVisible != 0);
        wait(500);
    }
    EXPECT_EQ(phases, (std::vector<bool>{true, false, true, false}));
    // Reported again while active: it stays.
    dispManSetUnderVoltageWarning(1);
    setHelpModeState(OFFON_OFF);
    tap(BUTTON_CODE_MODE);
    pass();
    ASSERT_EQ(screen(), testScreenDetail4Cast);
    ScreenItem *warning = g_UndervoltageTextHdl;
    EXPECT_EQ(textOf(warning), "Undervoltage!");
    EXPECT_EQ(warning->textBlinkPeriod, 500u);
    // Its band covers the day bar alone here, not the outdoor temperature.
    EXPECT_LE(2 * warning->y + warning->height, m_CurrFcastTemp->y);
    dispManSetUnderVoltageWarning(0);
    pass();
    EXPECT_EQ(textOf(warning), "");
    EXPECT_EQ(warning->textBlinkPeriod, 0u);
    EXPECT_NE(warning->textVisible, 0u);
}

TEST_F(DisplayManagerTest, ABusChangeOfThePageShownWinsOverTheEditInProgress) {
    bootAndStart();
    tap(BUTTON_CODE_UP);
    press(BUTTON_CODE_UP);
    pass();
    ASSERT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].value, 71);
    // The controller sets a hold of 65 F and marks the hold page.
    TstatSetPoint_t hold = valueOf(getHoldThermostatSettings);
    hold.heatSetPoint = tempFahToCelConversion(fx(65));
    setThermostatMode(TSTAT_MODE_HOLD);
    setHoldThermostatSettings(&hold);
    uint32_t updated[DISPLAY_PAGE_COUNT] = {};
    updated[PAGE_HOLD] = 1;
    setKorabusDataDictUpdate(updated);
    pass();
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].value, 65);
    getKorabusDataDictUpdate(updated);
    EXPECT_EQ(updated[PAGE_HOLD], 0u);
    release(BUTTON_CODE_UP);
    pass();
}

TEST_F(DisplayManagerTest, ATimedTemperatureLockReleasesItselfAndTheLimitsComeBack) {
    bootWithTimedLock();
    tap(BUTTON_CODE_UP);
    ASSERT_EQ(dispManGetCurrentPage(), PAGE_HOLD);
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].min, fx(68));
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].max, fx(72));
    // The lock started at start-up; it runs 30 minutes.
    platformFakeClockAdvanceMs(30 * 60 * 1000 - 1500);
    pass();
    EXPECT_EQ(packed(memoryRecord().lockoutCfg.tempLock), LOCK_LOCKED);
    platformFakeClockAdvanceMs(1000);
    pass();
    EXPECT_EQ(packed(memoryRecord().lockoutCfg.tempLock), LOCK_UNLOCKED);
    EXPECT_EQ(packed(memoryRecord().lockoutCfg.tempLockTimeLimit), 0);
    // Saved: after a power cut the lock must not come back with no time limit.
    EXPECT_EQ(packed(savedRecord().lockoutCfg.tempLock), LOCK_UNLOCKED);
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].min, g_MinSetPointTemp);
    EXPECT_EQ(g_HoldModeMenu[HOLD_MENU_HEAT].max, g_MaxSetPointTemp);
}

TEST_F(DisplayManagerTest, AFailedSaveWhenALockIsReleasedIsReported) {
    bootWithTimedLock();
    std::filesystem::remove(m_root.file("/dev/mtdblock5"));
    std::filesystem::create_directory(m_root.file("/dev/mtdblock5"));
    platformFakeClockAdvanceMs(30 * 60 * 1000);
    std::string printed = printedBy([&] { pass(); });
    EXPECT_NE(printed.find("ERROR: saveThermostatSysCfg failed"), std::string::npos) << printed;
    EXPECT_EQ(packed(memoryRecord().lockoutCfg.tempLock), LOCK_UNLOCKED);
}

TEST_F(DisplayManagerTest, TheTextsAreRefreshedOnlyAfterAChangeOrInANewSecond) {
    bootAndStart();
    const struct {
        const char *what;
        std::function<void()> event;
        bool refreshed;
    } cases[] = {
        {"nothing", [] {}, false},
        {"a noted change", [] { utilNoteChange(); }, true},
        {"another second", [] { platformFakeClockAdvanceMs(1000); }, true},
        {"a key edge", [this] { press(BUTTON_CODE_MODE); }, true},
    };
    double celsius = 20;
    for (const auto &c : cases) {
        // Refreshed now; then a reading changes behind the display's back.
        utilNoteChange();
        displayManagerPoll();
        std::string before = textOf(mainPageItems().indoorTemp);
        celsius += 1;
        setMovAvgIndTemp(fx(celsius));
        c.event();
        // Two passes within the same instant: a key is taken after the
        // first one's render pass.
        displayManagerPoll();
        displayManagerPoll();
        EXPECT_EQ(textOf(mainPageItems().indoorTemp) != before, c.refreshed) << c.what;
    }
}

TEST_F(DisplayManagerTest, TheFourthKeyEndsTheProgramOnlyWhileTheDisplayIsAwake) {
    boot();
    setBacklight(5, BACKLIGHT_INACTIVE_OFF);
    start();
    wait(5200);
    tap(BUTTON_CODE_EXIT); // only wakes
    EXPECT_EQ(brightness(), "255\n");
    // As in the application, the exit handler stops the display.
    EXPECT_EXIT(
        {
            atexit(displayManagerStop);
            tap(BUTTON_CODE_EXIT);
            _exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
