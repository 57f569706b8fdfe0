// The thermostat setup page through the keys: each setting stepped over its
// limits in both scales, and "Exit" storing while the time-out drops.
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "hvac/hvac_control.h"
#include "menus/menu_engine.h"
#include "pages/adv_setup_menu.h"
#include "pages/tstat_setup_menu.h"

#include "ui_fixture.h"

#include <string>
#include <vector>

namespace {

class TstatSetupMenuTest : public UiTest {
  protected:
    // Opens the page and selects the value after the label at `label`.
    void select(uint8_t label) {
        show(displayThermostatSetupPage);
        if (label == TSTAT_SETUP_BAL_PT_TEXT) {
            keys("U M"); // "More"
        } else {
            taps(BUTTON_CODE_DOWN, label / 2);
        }
        ASSERT_EQ(getCurrentMenuIndex(), label);
        tap(BUTTON_CODE_MODE);
    }
    static void setDifferentials(fpr_t first, fpr_t second, fpr_t deadband, fpr_t offset) {
        edit(getTstatSetupDifferential, setTstatSetupDifferential, [&](auto &cfg) {
            cfg.firstStageDiff = first;
            cfg.secondStageDiff = second;
            cfg.deadband = deadband;
            cfg.tempOffset = offset;
        });
    }
    static void setBalancePoint(fpr_t celsius) {
        edit(getTstatSetupBalancePt, setTstatSetupBalancePt,
             [&](auto &hvac) { hvac.balancePoint = celsius; });
    }
};

std::string deg(const char *number) {
    return std::string(number) + " \xB0";
}

TEST_F(TstatSetupMenuTest, ModeStepsEachSettingOverItsLimits) {
    const struct {
        TempScale scale;
        uint8_t label;
        std::vector<std::string> shown; // as opened, then after each Mode
    } cases[] = {
        {TEMP_SCALE_FAHRENHEIT,
         TSTAT_SETUP_FIRST_STG_TEXT,
         {deg("1.0"), deg("2.0"), deg("0.5"), deg("1.0")}},
        {TEMP_SCALE_CELSIUS,
         TSTAT_SETUP_FIRST_STG_TEXT,
         {deg("0.50"), deg("1.0"), deg("0.25"), deg("0.50")}},
        {TEMP_SCALE_FAHRENHEIT, TSTAT_SETUP_SECOND_STG_TEXT, {deg("6.0"), deg("1.0"), deg("2.0")}},
        {TEMP_SCALE_CELSIUS, TSTAT_SETUP_SECOND_STG_TEXT, {deg("3.0"), deg("0.5"), deg("1.0")}},
        {TEMP_SCALE_FAHRENHEIT,
         TSTAT_SETUP_DEADBAND_TEXT,
         {deg("3.0"), deg("4.0"), deg("5.0"), deg("2.0")}},
        {TEMP_SCALE_CELSIUS,
         TSTAT_SETUP_DEADBAND_TEXT,
         {deg("1.5"), deg("2.0"), deg("2.5"), deg("1.0"), deg("1.5")}},
        {TEMP_SCALE_FAHRENHEIT, TSTAT_SETUP_TEMP_OFFSET_TEXT, {deg("10"), deg("-10"), deg("-9")}},
        {TEMP_SCALE_CELSIUS, TSTAT_SETUP_TEMP_OFFSET_TEXT, {deg("10"), deg("-10"), deg("-9")}},
        {TEMP_SCALE_FAHRENHEIT, TSTAT_SETUP_BAL_PT_TEXT, {deg("39"), deg("40"), deg("20")}},
        {TEMP_SCALE_CELSIUS, TSTAT_SETUP_BAL_PT_TEXT, {deg("10"), deg("-10"), deg("-9")}},
    };
    bootAndStart();
    for (const auto &c : cases) {
        setScale(c.scale);
        // First stage 0.5 C (1.0 F) and second stage 3.0 C (6.0 F) are
        // in both scales; the deadband, offset and balance point at an edge.
        setDifferentials(fx(0.5), fx(3), fx(1.5), fx(10));
        setBalancePoint(c.scale == TEMP_SCALE_FAHRENHEIT ? fx(39 - 32) * 5 / 9 : fx(10));
        select(c.label);
        const MenuItem &value = g_TstatSetupMenu[c.label + 1];
        std::vector<std::string> shown{textOf(value.handle)};
        for (size_t i = 1; i < c.shown.size(); i++) {
            tap(BUTTON_CODE_MODE);
            shown.push_back(textOf(value.handle));
        }
        EXPECT_EQ(shown, c.shown) << c.scale << " " << +c.label;
    }
}

TEST_F(TstatSetupMenuTest, ExitStoresTheValuesAndTheTimeOutDropsThem) {
    bootAndStart();
    show(displayThermostatSetupPage);
    keys("3D U"); // up from a label goes to the label above
    EXPECT_EQ(getCurrentMenuIndex(), TSTAT_SETUP_DEADBAND_TEXT);
    // A first stage of 1.5 F: its half degree must be kept.
    const fpr_t first = convertDiffFahToCel(fx(1.5));
    setDifferentials(first, fx(1), fx(1.5), 0);
    select(TSTAT_SETUP_DEADBAND_TEXT);
    tap(BUTTON_CODE_MODE); // 3.0 F -> 4.0 F
    wait(20500);
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_MAIN);
    TstatCfg_t cfg = valueOf(getTstatSetupDifferential);
    EXPECT_EQ(packed(cfg.deadband), fx(1.5));

    select(TSTAT_SETUP_DEADBAND_TEXT);
    tap(BUTTON_CODE_MODE);
    select(TSTAT_SETUP_BAL_PT_TEXT); // the deadband's edit is dropped by the reopening...
    keys("M D M");                   // ...and the balance point goes from 30 F to 31 F; "Exit"
    EXPECT_EQ(dispManGetCurrentPage(), PAGE_ADV_SETUP);
    EXPECT_EQ(getCurrentMenuIndex(), ADV_SETUP_TSTAT_SETUP);
    TstatSysCfgPersistMem_t saved = savedRecord();
    EXPECT_EQ(packed(saved.tstatCfg.deadband), fx(1.5));
    EXPECT_EQ(packed(saved.tstatCfg.firstStageDiff), first);
    EXPECT_NEAR(packed(saved.hvacSettings.balancePoint) / 8192.0, (31 - 32) * 5 / 9.0, 0.01);
    // The control restarted its period with the new settings.
    EXPECT_EQ(hvacExecuteAlgorithm(15), 0);
}

} // namespace
