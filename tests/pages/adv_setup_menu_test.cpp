// The advanced setup and bus address pages through the keys: the equipment
// change reaching the control, the clock commands, the 20 s commit, the
// sensor and humidity equipment rules, and the address sent to the coprocessor.
#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "coproc/coproc_msg.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "menus/menu_engine.h"
#include "pages/adv_setup_menu.h"
#include "pages/korabus_comm_menu.h"

#include "coproc_capture.h"
#include "ui_fixture.h"

#include <string>
#include <vector>

namespace {

class AdvSetupMenuTest : public UiTest {
  protected:
    // The advanced setup's second screen, its first label current.
    void openClockScreen() {
        show(displayAdvSetupPage);
        keys("U M"); // "More"
        ASSERT_EQ(getCurrentMenuIndex(), ADV_SETUP_MONTH_TEXT);
    }
    // From a label of the current screen, down to another and select its value.
    void selectValue(uint8_t label) {
        tapUntil(BUTTON_CODE_DOWN, label);
        tap(BUTTON_CODE_MODE);
    }
    std::string shellLog() const { return m_root.read("/sim/shell.log"); }
};

TEST_F(AdvSetupMenuTest, SystemTypeChangeReachesTheControl) {
    bootAndStart({.hvacState = HVAC_STATE_EMERGENCY_HEAT});
    initialiseHvacAlgorithms();
    TstatSetPoint_t inForce = setPointsInForce();
    // A furnace has no emergency heat: the frame keeps everything off.
    hvacAlgorithmCntl(fx(10), fx(40), fx(0), &inForce);
    ASSERT_EQ(RlyCntl_GetW1E(), 0u);

    // Each way on from the second screen saves the change; "Exit" (the last)
    // hands it to the control.
    const struct {
        const char *keys;
        uint8_t page;
    } ways[] = {
        {"3U M", PAGE_BUS_ADDRESS},
        {"2U M", PAGE_TSTAT_SETUP},
        {"U M U M", PAGE_USER_PREF}, // "More" of the second screen; "Exit"
    };
    for (const auto &w : ways) {
        edit(getTstatConfiguration, setTstatConfiguration,
             [](auto &cfg) { cfg.systemType = SYSTEM_TYPE_ONE_STG_FURNACE; });
        show(displayAdvSetupPage);
        tap(BUTTON_CODE_MODE);
        taps(BUTTON_CODE_MODE, SYSTEM_TYPE_ONE_STG_HEAT_PUMP);
        EXPECT_EQ(textOf(g_AdvSetupMenu[ADV_SETUP_HVAC_SYSTEM].handle), "One Stg Heat Pump");
        keys("2U M"); // the label, then "More"
        keys(w.keys);
        EXPECT_EQ(dispManGetCurrentPage(), w.page) << w.keys;
        EXPECT_EQ(packed(savedRecord().tstatCfg.systemType), SYSTEM_TYPE_ONE_STG_HEAT_PUMP)
            << w.keys;
    }
    // The frame was handed the new equipment: its period starts again, and
    // emergency heat now runs on W1/E.
    EXPECT_EQ(hvacExecuteAlgorithm(15), 0);
    hvacAlgorithmCntl(fx(10), fx(40), fx(0), &inForce);
    EXPECT_EQ(RlyCntl_GetW1E(), 1u);
}

TEST_F(AdvSetupMenuTest, ClockIsSetOnceWhenTheTimeChanges) {
    bootAndStart();
    openClockScreen();
    // Passing the screen without touching the date or time leaves the clock alone.
    EXPECT_EQ(shellLog(), "");
    selectValue(ADV_SETUP_MINUTE_TEXT);
    tap(BUTTON_CODE_MODE); // 07:10 -> 07:11, stored at once
    EXPECT_EQ(shellLog(), "date 011407112025.00\n/sbin/hwclock --systohc\n");
    TstatClockCfg_t clock{};
    ASSERT_EQ(getClockConfiguration(&clock), 0);
    EXPECT_EQ(clock.minute, 11);
    EXPECT_EQ(packed(memoryRecord().clockYear), 125);
    // Another setting stored later does not set the clock back to 07:11:00.
    wait(5000);
    keys("D 2M");
    EXPECT_EQ(shellLog(), "date 011407112025.00\n/sbin/hwclock --systohc\n");
}

TEST_F(AdvSetupMenuTest, SensorsAndHumidityEquipmentFollowTheirRules) {
    bootAndStart();
    const struct {
        ExternalTempSensor external;
        SensorState internal;
        uint8_t label; // stepped once
        int16_t external2, internal2;
    } sensors[] = {
        {EXT_TEMP_SENSOR_OUTDOOR, SENSOR_ON, ADV_SETUP_INT_SENSOR_TEXT, EXT_TEMP_SENSOR_INDOOR,
         SENSOR_OFF},
        {EXT_TEMP_SENSOR_INDOOR, SENSOR_OFF, ADV_SETUP_EXT_SENSOR_TEXT, EXT_TEMP_SENSOR_OFF,
         SENSOR_ON},
        {EXT_TEMP_SENSOR_OFF, SENSOR_ON, ADV_SETUP_EXT_SENSOR_TEXT, EXT_TEMP_SENSOR_OUTDOOR,
         SENSOR_ON},
        {EXT_TEMP_SENSOR_OUTDOOR, SENSOR_ON, ADV_SETUP_EXT_SENSOR_TEXT, EXT_TEMP_SENSOR_INDOOR,
         SENSOR_ON},
    };
    for (const auto &c : sensors) {
        edit(getAdvSetupSettings, setAdvSetupSettings, [&](auto &cfg) {
            cfg.externalTempSensor = c.external;
            cfg.internalTempSensor = c.internal;
        });
        show(displayAdvSetupPage);
        selectValue(c.label);
        tap(BUTTON_CODE_MODE);
        EXPECT_EQ(g_AdvSetupMenu[ADV_SETUP_EXT_SENSOR].value, c.external2) << c.external;
        EXPECT_EQ(g_AdvSetupMenu[ADV_SETUP_INT_SENSOR].value, c.internal2) << c.external;
    }
    // The humidity state shows as two equipment choices and is stored back from them.
    const struct {
        HumidifyState state;
        int16_t humidification, dehumidification;
    } humidity[] = {
        {HUMIDIFY_STATE_HUMIDIFY, 1, 0},
        {HUMIDIFY_STATE_DEHUMIDIFY, 0, 1},
        {HUMIDIFY_STATE_AUTO, 1, 1},
        {HUMIDIFY_STATE_OFF, 0, 0},
    };
    for (const auto &c : humidity) {
        setHumidifyState(c.state);
        getAdvSetupFromDataDict();
        EXPECT_EQ(g_AdvSetupMenu[ADV_SETUP_HUM_SYSTEM].value, c.humidification) << c.state;
        EXPECT_EQ(g_AdvSetupMenu[ADV_SETUP_DEHUM_SYSTEM].value, c.dehumidification) << c.state;
        setHumidifyState(c.state == HUMIDIFY_STATE_OFF ? HUMIDIFY_STATE_AUTO : HUMIDIFY_STATE_OFF);
        setAdvSetupInDataDict();
        EXPECT_EQ(getHumidifyState(), c.state);
    }
    // Stored values outside the lists show no text.
    edit(getAdvSetupSettings, setAdvSetupSettings, [&](auto &cfg) {
        cfg.systemType = static_cast<SystemType>(9);
        cfg.externalTempSensor = static_cast<ExternalTempSensor>(0xFFFFFFFF);
    });
    show(displayAdvSetupPage);
    EXPECT_EQ(textOf(g_AdvSetupMenu[ADV_SETUP_HVAC_SYSTEM].handle), "");
    EXPECT_EQ(textOf(g_AdvSetupMenu[ADV_SETUP_EXT_SENSOR].handle), "");
}

TEST_F(AdvSetupMenuTest, BusAddressIsEnteredAndSentToTheCoprocessor) {
    bootAndStart();
    CoprocCapture link;
    const struct {
        std::vector<int> digits; // Up presses on each digit
        bool enter;              // else "Cancel"
        uint8_t stored;
        std::vector<uint8_t> sent;
    } cases[] = {
        {{1, 2, 3}, true, 123, {0x7B, 0x84, 0x7B}},
        {{2, 5, 5}, true, 255, {0xFF, 0x00, 0xFF}},
        {{2, 5, 10}, true, 250, {0xFA, 0x05, 0xFA}}, // past 9 the digit wraps round to 0
        {{2, 5, 6}, true, 0, {}},                    // refused: no 8-bit address
        {{0, 4, 2}, false, 0, {}},                   // cancelled
    };
    for (const auto &c : cases) {
        setKorabusAddress(0);
        saveThermostatSysCfg();
        link.frames();
        show(displayKorabusCommPage);
        for (int presses : c.digits) {
            taps(BUTTON_CODE_UP, presses);
            tap(BUTTON_CODE_MODE);
        }
        ASSERT_EQ(getCurrentMenuIndex(), KORABUS_COMM_ENTER);
        if (!c.enter) {
            tap(BUTTON_CODE_DOWN);
        }
        tap(BUTTON_CODE_MODE);
        EXPECT_EQ(packed(savedRecord().korabusAddress), c.stored);
        std::vector<uint8_t> sent;
        for (const auto &frame : link.frames()) {
            if (frame.size() == 5 && frame[0] == COPROC_PKT_SET_ADDRESS) {
                sent.push_back(frame[2]);
            }
        }
        EXPECT_EQ(sent, c.sent);
        bool refused = c.enter && c.sent.empty();
        EXPECT_EQ(dispManGetCurrentPage(), refused ? PAGE_BUS_ADDRESS : PAGE_ADV_SETUP);
        EXPECT_EQ(getCurrentMenuIndex(),
                  static_cast<uint8_t>(refused ? 0 : ADV_SETUP_KORABUS_SETUP));
    }
    // The stored address is shown as its three digits.
    setKorabusAddress(198);
    show(displayKorabusCommPage);
    EXPECT_EQ(textOf(g_KorabusCommMenu[0].handle) + textOf(g_KorabusCommMenu[1].handle) +
                  textOf(g_KorabusCommMenu[2].handle),
              "198");
}

} // namespace
