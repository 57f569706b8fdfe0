// The settings page through the keys: the filter reminder, the system mode
// pop-up on furnaces and heat pumps, the lockout's skipped rows, stored
// values the page cannot offer, and leaving by "Exit" or by the time-out.
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "core/util.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "menus/menu_engine.h"
#include "pages/adv_setup_menu.h"
#include "pages/settings_menu.h"
#include "platform/platform_test.h"

#include "ui_fixture.h"

#include <string>
#include <vector>

namespace {

class SettingsMenuTest : public UiTest {
  protected:
    void open(uint8_t row = SETTINGS_HVAC_ROW) {
        displaySettingsPageAt(row);
        pass();
    }
};

TEST_F(SettingsMenuTest, FilterReminderRestartsOnlyForANewInterval) {
    const struct {
        int downs; // from the pop-up's first button; below 0, ups (round to the last)
        uint16_t hours;
    } cases[] = {{0, 0}, {1, 30 * 24}, {3, 90 * 24}, {6, 180 * 24}, {-2, 150 * 24}};
    bootAndStart();
    for (const auto &c : cases) {
        // A day after the reminder was set for 90 days: 89 days are left.
        setTstatFilterChMaxHourTime(90 * 24);
        platformFakeClockAdvanceMs(86400 * 1000ull);
        displayManagerEnableBacklight();
        TstatSysCfgPersistMem_t before = memoryRecord();
        open();
        taps(BUTTON_CODE_DOWN, 3);
        ASSERT_EQ(getCurrentMenuIndex(), SETTINGS_FILTER_ROW);
        tap(BUTTON_CODE_MODE);
        EXPECT_TRUE(visible(g_SettingsPuFilterReminder[0].handle));
        EXPECT_EQ(textOf(g_SettingsPuFilterReminder[2].handle), "89");
        taps(c.downs < 0 ? BUTTON_CODE_UP : BUTTON_CODE_DOWN, std::abs(c.downs));
        tap(BUTTON_CODE_MODE);
        pass(2);
        // The pop-up closed and the highlight went on to the next row.
        EXPECT_FALSE(visible(g_SettingsPuFilterReminder[0].handle));
        EXPECT_EQ(getCurrentMenuIndex(), SETTINGS_ADV_SETUP);
        TstatSysCfgPersistMem_t after = memoryRecord();
        if (c.hours == 0) {
            EXPECT_EQ(packed(after.filterChangeEndTime), packed(before.filterChangeEndTime));
            EXPECT_EQ(textOf(g_SettingsMenu[SETTINGS_FILTER_DAYS].handle), "89");
        } else {
            EXPECT_EQ(packed(after.filterChangeMaxHourTime), c.hours);
            EXPECT_NEAR(static_cast<double>(packed(after.filterChangeEndTime) - util_time(nullptr)),
                        c.hours * 3600.0, 2.0);
            EXPECT_EQ(textOf(g_SettingsMenu[SETTINGS_FILTER_DAYS].handle),
                      std::to_string(c.hours / 24));
        }
    }
    // The first choice starts its number further left the wider it is.
    for (auto [days, x] : {std::pair{0, 196}, {1, 192}, {99, 192}, {100, 188}}) {
        g_SettingsMenu[SETTINGS_FILTER_DAYS].value = static_cast<int16_t>(days);
        char buffer[SCREEN_TEXT_LEN];
        drawPuSettingsFilterChVal(buffer);
        EXPECT_EQ(g_SettingsPuFilterReminder[2].handle->x, x) << days;
    }
}

TEST_F(SettingsMenuTest, SystemModePopUpOffersEmergencyHeatOnlyOnHeatPumps) {
    const struct {
        SystemType system;
        std::vector<uint8_t> downs; // from heat
        uint8_t upFromAuto;
    } cases[] = {
        {SYSTEM_TYPE_ONE_STG_FURNACE, {7, 1, 3, 5}, 7},
        {SYSTEM_TYPE_TWO_STG_HEAT_PUMP, {7, 9, 1, 3, 5}, 9},
    };
    bootAndStart();
    for (const auto &c : cases) {
        edit(getAdvSetupSettings, setAdvSetupSettings,
             [&](auto &cfg) { cfg.systemType = c.system; });
        setHVACState(HVAC_STATE_HEAT);
        open();
        tap(BUTTON_CODE_MODE);
        ASSERT_EQ(getCurrentMenuIndex(), SETTINGS_PU_HVAC_HEAT);
        // How both pop-ups look is pinned by the gallery's shots of them.
        EXPECT_EQ(visible(g_SettingsPuHvacMenu[SETTINGS_PU_HVAC_EMERGENCY].handle),
                  c.system == SYSTEM_TYPE_TWO_STG_HEAT_PUMP);
        EXPECT_EQ(walk(BUTTON_CODE_DOWN, static_cast<int>(c.downs.size())), c.downs) << c.system;
        // cool, auto; auto, cool, heat, off
        EXPECT_EQ(walk("3U 4D"), (std::vector<uint8_t>{c.upFromAuto, SETTINGS_PU_HVAC_OFF}));
        tap(BUTTON_CODE_MODE);
        pass(2);
        // The choice is in force at once, and the highlight moved on.
        EXPECT_EQ(getHVACState(), HVAC_STATE_OFF);
        EXPECT_EQ(getCurrentMenuIndex(), SETTINGS_FAN_MODE_ROW);
        EXPECT_EQ(imageName(&testScreenSettings[16]), "Settings-S2-Text1-FanMode-ON");
        EXPECT_EQ(imageName(g_SettingsMenu[SETTINGS_HVAC_MODE].handle), "Settings-S1-Text2-Off");
    }
}

TEST_F(SettingsMenuTest, FanPopUpsOpenOnTheStoredChoiceAndWrap) {
    const struct {
        FanSpeed stored;
        const char *script;
        std::vector<uint8_t> walked; // low 1, medium 3, high 5
        FanSpeed chosen;
    } cases[] = {
        {FAN_SPEED_LOW, "U U", {5, 3}, FAN_SPEED_MEDIUM},
        {FAN_SPEED_HIGH, "D", {1}, FAN_SPEED_LOW},
        {FAN_SPEED_MEDIUM, "D", {5}, FAN_SPEED_HIGH},
    };
    bootAndStart();
    for (const auto &c : cases) {
        setFanSpeed(c.stored);
        open(SETTINGS_FAN_SPEED_ROW);
        // No pop-up shows until its row is chosen.
        for (const MenuItem *popUp : {g_SettingsPuHvacMenu, g_SettingsPuFanMode,
                                      g_SettingsPuFanSpeed, g_SettingsPuFilterReminder}) {
            EXPECT_FALSE(visible(popUp[0].handle)) << c.stored;
        }
        tap(BUTTON_CODE_MODE);
        EXPECT_EQ(walk(c.script), c.walked) << c.stored;
        tap(BUTTON_CODE_MODE);
        EXPECT_EQ(g_SettingsMenu[SETTINGS_FAN_SPEED].value, c.chosen) << c.stored;
    }
    // The fan mode: auto 1, on 3; one step down wraps round to the other.
    for (FanState stored : {FAN_STATE_AUTO, FAN_STATE_ON}) {
        setFanState(stored);
        open(SETTINGS_FAN_MODE_ROW);
        tap(BUTTON_CODE_MODE);
        EXPECT_EQ(walk("D"),
                  (std::vector<uint8_t>{stored == FAN_STATE_ON ? uint8_t{1} : uint8_t{3}}));
        tap(BUTTON_CODE_MODE);
        EXPECT_EQ(g_SettingsMenu[SETTINGS_FAN_MODE].value,
                  stored == FAN_STATE_ON ? FAN_STATE_AUTO : FAN_STATE_ON);
    }
}

TEST_F(SettingsMenuTest, LockedRowsAreSkippedAndMarked) {
    bootAndStart();
    editLockout([](TstatLockoutCfg_t &l) {
        l.buttonLockout = LOCK_LOCKED;
        l.modeLock = LOCK_LOCKED;
        l.fanLock = LOCK_LOCKED;
    });
    show(displaySettingsPage);
    EXPECT_EQ(getCurrentMenuIndex(), SETTINGS_FAN_MODE_ROW);
    EXPECT_EQ(walk("D U U D"), (std::vector<uint8_t>{SETTINGS_FILTER_ROW, SETTINGS_FAN_MODE_ROW,
                                                     SETTINGS_EXIT, SETTINGS_FAN_MODE_ROW}));
    EXPECT_EQ(imageName(&testScreenSettings[19]), "Settings-S3-Text1-FanSpeed-Locked");
    EXPECT_EQ(imageName(g_SettingsMenu[SETTINGS_HVAC_MODE].handle),
              "Settings-S1-Text2-Heat-Locked");
    // The lock ends from the bus while the page is shown: the marks go at the next pass.
    editLockout([](TstatLockoutCfg_t &l) { l.buttonLockout = LOCK_UNLOCKED; });
    pass(2);
    EXPECT_EQ(imageName(g_SettingsMenu[SETTINGS_HVAC_MODE].handle), "Settings-S1-Text2-Heat");
    EXPECT_EQ(imageName(&testScreenSettings[13]), "Settings-S1-Text1-HVACMode-OFF");
}

TEST_F(SettingsMenuTest, StoredValuesThePageCannotOfferAreShownSafely) {
    const struct {
        uint32_t hvac;
        uint32_t fanSpeed;
        int16_t shownMode;
        bool speedShown;
    } cases[] = {
        {HVAC_STATE_EMERGENCY_HEAT, FAN_SPEED_LOW, HVAC_STATE_OFF, true},
        {9, FAN_SPEED_OFF, HVAC_STATE_OFF, false},
        {0xFFFFFFFF, 70000, HVAC_STATE_OFF, false},
        {HVAC_STATE_COOL, FAN_SPEED_MEDIUM, HVAC_STATE_COOL, true},
    };
    bootAndStart();
    for (const auto &c : cases) {
        setHVACState(static_cast<HvacState>(c.hvac));
        setFanSpeed(static_cast<FanSpeed>(c.fanSpeed));
        open();
        EXPECT_EQ(g_SettingsMenu[SETTINGS_HVAC_MODE].value, c.shownMode) << c.hvac;
        EXPECT_EQ(visible(g_SettingsMenu[SETTINGS_FAN_SPEED].handle), c.speedShown) << c.fanSpeed;
        tap(BUTTON_CODE_MODE);
        EXPECT_EQ(getCurrentMenuIndex(),
                  c.shownMode == HVAC_STATE_OFF ? SETTINGS_PU_HVAC_OFF : SETTINGS_PU_HVAC_COOL);
    }
}

TEST_F(SettingsMenuTest, LeavingSavesTheChoicesAndHandsThemToTheControl) {
    // Exit, the time-out and the way on to the installer's pages (asking for
    // the code, but not in diagnostic mode): each leaves the choice saved;
    // back on the main page it is in force.
    enum Way { EXIT, TIME_OUT, SETUP, DIAGNOSTIC_SETUP };
    bootAndStart();
    for (Way way : {EXIT, TIME_OUT, SETUP, DIAGNOSTIC_SETUP}) {
        setDiagnosticModeSetting(way == DIAGNOSTIC_SETUP ? 1 : 0);
        getAdvSetupFromDataDict();
        setHVACState(HVAC_STATE_HEAT);
        saveThermostatSysCfg();
        initialiseHvacAlgorithms();
        RlyCntl_SetY1(0);
        // Past the cycle rate's wait after the previous case's cooling.
        platformFakeClockAdvanceMs(16 * 60 * 1000ull);
        displayManagerEnableBacklight();
        open();
        keys("M U M"); // cool
        if (way == TIME_OUT) {
            wait(20500);
        } else {
            // From the fan mode row down to Adv Setup, or up over the system mode to Exit.
            tapUntil(way == EXIT ? BUTTON_CODE_UP : BUTTON_CODE_DOWN,
                     way == EXIT ? SETTINGS_EXIT : SETTINGS_ADV_SETUP);
            tap(BUTTON_CODE_MODE);
        }
        const uint8_t pages[] = {PAGE_MAIN, PAGE_MAIN, PAGE_SEC_CODE_INPUT, PAGE_USER_PREF};
        EXPECT_EQ(dispManGetCurrentPage(), pages[way]) << way;
        EXPECT_EQ(packed(savedRecord().hvacSettings.hvacState), HVAC_STATE_COOL) << way;
        if (way < SETUP) {
            TstatSetPoint_t inForce = setPointsInForce();
            hvacAlgorithmCntl(inForce.coolSetPoint + fx(3), fx(40), fx(30), &inForce);
            EXPECT_EQ(RlyCntl_GetY1(), 1u) << way;
        }
    }
}

} // namespace
