// Settings page: rows, pop-up lists, lockout and the store cycle.
#include "pages/settings_menu.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "dispman/display_manager.h"
#include "hvac/hvac_control.h"
#include "menus/menu_text.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "pages/adv_setup_menu.h"
#include "pages/main_page.h"
#include "pages/pages.h"

#include <cstdio>

MenuItem g_SettingsMenu[SETTINGS_MENU_ITEMS] = {};
MenuItem g_SettingsPuHvacMenu[SETTINGS_PU_HVAC_ITEMS] = {};
MenuItem g_SettingsPuFanMode[SETTINGS_PU_FAN_MODE_ITEMS] = {};
MenuItem g_SettingsPuFanSpeed[SETTINGS_PU_FAN_SPEED_ITEMS] = {};
MenuItem g_SettingsPuFilterReminder[SETTINGS_PU_FILTER_ITEMS] = {};

namespace {

ScreenItem *m_SettingsPuShade = nullptr;
// Row labels (bitmaps that change with the highlight and the lockout).
ScreenItem *m_HVACModeText = nullptr;
ScreenItem *m_FanModeText = nullptr;
ScreenItem *m_FanSpeedText = nullptr;
ScreenItem *m_FilterReminderText = nullptr;
ScreenItem *m_AdvSetupText = nullptr;
ScreenItem *m_ExitText = nullptr;

// The grid: four rows of 40 pixels with the label on the left and the value
// ending at VALUE_RIGHT, then the two buttons. The pop-ups open over the
// value column, each level with the row it belongs to.
constexpr int16_t ROW_X = 6;
constexpr int16_t ROW_Y[4] = {78, 122, 166, 210};
constexpr int16_t VALUE_X = 112;
constexpr int16_t VALUE_RIGHT = 196; // where the value images end their text
constexpr int16_t DAYS_UNIT_X = 200;
constexpr int16_t BUTTON_Y = 262;
constexpr int16_t PU_X = 98;
constexpr int16_t PU_BUTTON_X = PU_X + 8;
// Where the pop-up's first choice starts its number, by the number's width:
// 0, below 100, from 100. Its check mark sits at the button's left end.
constexpr int16_t PU_DAYS_X_ZERO = 196;
constexpr int16_t PU_DAYS_X_TWO_DIGITS = 192;
constexpr int16_t PU_DAYS_X_THREE_DIGITS = 188;
constexpr int16_t PU_FIRST_BUTTON = 32; // below the pop-up's title
constexpr int16_t PU_BUTTON_PITCH = 30;
constexpr int16_t PU_HVAC_Y = ROW_Y[0];
constexpr int16_t PU_FAN_MODE_Y = ROW_Y[1];
constexpr int16_t PU_FAN_SPEED_Y = ROW_Y[2];
constexpr int16_t PU_FILTER_Y = 54;
constexpr int16_t TEXT_IN_ROW = 11;   // a 14-point text centred in a 40-pixel row
constexpr int16_t TEXT_IN_BUTTON = 5; // and in a 26-pixel button

constexpr int16_t puButtonY(int16_t top, int button) {
    return static_cast<int16_t>(top + PU_FIRST_BUTTON + PU_BUTTON_PITCH * button);
}

#define B(x, y, slot, path) screenBitmap(x, y, slot, path)
#define PU_BUTTON(menu, pos, top)                                                                  \
    B(PU_BUTTON_X, puButtonY(top, (pos - 1) / 2), &menu[pos].handle,                               \
      "./images/Settings/Settings-PU-Graphic-Button-OFF.png")
#define PU_TEXT(menu, pos, top, path)                                                              \
    B(PU_BUTTON_X, puButtonY(top, (pos - 1) / 2), &menu[pos].handle, path)

constexpr uint32_t FILTER_TEXT_SIZE = 14;

} // namespace

ScreenItem testScreenSettings[SETTINGS_SCREEN_ITEMS + 1] = {
    B(0, 0, nullptr, "./images/Graphic-Bkgd-Pinstripes.png"),
    SCREEN_DAY_BAR,
    SCREEN_CLOCK_ITEMS(30),
    B(0, 50, nullptr, "./images/Settings/Settings-Title.png"),
    B(ROW_X, ROW_Y[0], &g_SettingsMenu[SETTINGS_HVAC_ROW].handle,
      "./images/Settings/Settings-S1-Graphic-OFF.png"),
    B(ROW_X, ROW_Y[0], &m_HVACModeText, "./images/Settings/Settings-S1-Text1-HVACMode-OFF.png"),
    B(VALUE_X, ROW_Y[0], &g_SettingsMenu[SETTINGS_HVAC_MODE].handle,
      "./images/Settings/Settings-S1-Text2-Off.png"),
    B(ROW_X, ROW_Y[1], &g_SettingsMenu[SETTINGS_FAN_MODE_ROW].handle,
      "./images/Settings/Settings-S2-Graphic-OFF.png"),
    B(ROW_X, ROW_Y[1], &m_FanModeText, "./images/Settings/Settings-S2-Text1-FanMode-OFF.png"),
    B(VALUE_X, ROW_Y[1], &g_SettingsMenu[SETTINGS_FAN_MODE].handle,
      "./images/Settings/Settings-S2-Text2-Auto.png"),
    B(ROW_X, ROW_Y[2], &g_SettingsMenu[SETTINGS_FAN_SPEED_ROW].handle,
      "./images/Settings/Settings-S3-Graphic-OFF.png"),
    B(ROW_X, ROW_Y[2], &m_FanSpeedText, "./images/Settings/Settings-S3-Text1-FanSpeed-OFF.png"),
    B(VALUE_X, ROW_Y[2], &g_SettingsMenu[SETTINGS_FAN_SPEED].handle,
      "./images/Settings/Settings-S3-Text2-High.png"),
    B(ROW_X, ROW_Y[3], &g_SettingsMenu[SETTINGS_FILTER_ROW].handle,
      "./images/Settings/Settings-S4-Graphic-OFF.png"),
    B(ROW_X, ROW_Y[3], &m_FilterReminderText,
      "./images/Settings/Settings-S4-Text1-FilterReminder-OFF.png"),
    screenText(VALUE_RIGHT - 16, ROW_Y[3] + TEXT_IN_ROW,
               &g_SettingsMenu[SETTINGS_FILTER_DAYS].handle, drawSettingsFilterChVal, FONT_BOLD,
               FILTER_TEXT_SIZE, WHITE_TEXT_COLOR),
    B(DAYS_UNIT_X, ROW_Y[3], nullptr, "./images/Settings/Settings-S4-Text3-Days.png"),
    B(4, BUTTON_Y, &g_SettingsMenu[SETTINGS_ADV_SETUP].handle, "./images/Graphic-Button-OFF.png"),
    B(4, BUTTON_Y, &m_AdvSetupText, "./images/Settings/Settings-B1-Text-AdvSet-OFF.png"),
    B(124, BUTTON_Y, &g_SettingsMenu[SETTINGS_EXIT].handle, "./images/Graphic-Button-OFF.png"),
    B(124, BUTTON_Y, &m_ExitText, "./images/Button-Text-Exit-OFF.png"),
    // The page dims under an open pop-up.
    B(0, 0, &m_SettingsPuShade, "./images/Settings/Settings-PU-Graphic-Shade.png"),
    B(PU_X, PU_HVAC_Y, &g_SettingsPuHvacMenu[0].handle,
      "./images/Settings/Settings-PU1-Graphic-Bkgd.png"),
    PU_BUTTON(g_SettingsPuHvacMenu, 1, PU_HVAC_Y),
    PU_TEXT(g_SettingsPuHvacMenu, 2, PU_HVAC_Y, "./images/Settings/Settings-PU1-Text-Auto.png"),
    PU_BUTTON(g_SettingsPuHvacMenu, 3, PU_HVAC_Y),
    PU_TEXT(g_SettingsPuHvacMenu, 4, PU_HVAC_Y, "./images/Settings/Settings-PU1-Text-Cool.png"),
    PU_BUTTON(g_SettingsPuHvacMenu, 5, PU_HVAC_Y),
    PU_TEXT(g_SettingsPuHvacMenu, 6, PU_HVAC_Y, "./images/Settings/Settings-PU1-Text-Heat.png"),
    PU_BUTTON(g_SettingsPuHvacMenu, 7, PU_HVAC_Y),
    PU_TEXT(g_SettingsPuHvacMenu, 8, PU_HVAC_Y, "./images/Settings/Settings-PU1-Text-Off.png"),
    PU_BUTTON(g_SettingsPuHvacMenu, 9, PU_HVAC_Y),
    PU_TEXT(g_SettingsPuHvacMenu, 10, PU_HVAC_Y,
            "./images/Settings/Settings-PU1-Text-Emergency.png"),
    B(PU_X, PU_FAN_MODE_Y, &g_SettingsPuFanMode[0].handle,
      "./images/Settings/Settings-PU2-Graphic-Bkgd.png"),
    PU_BUTTON(g_SettingsPuFanMode, 1, PU_FAN_MODE_Y),
    PU_TEXT(g_SettingsPuFanMode, 2, PU_FAN_MODE_Y, "./images/Settings/Settings-PU2-Text-Auto.png"),
    PU_BUTTON(g_SettingsPuFanMode, 3, PU_FAN_MODE_Y),
    PU_TEXT(g_SettingsPuFanMode, 4, PU_FAN_MODE_Y, "./images/Settings/Settings-PU2-Text-On.png"),
    B(PU_X, PU_FAN_SPEED_Y, &g_SettingsPuFanSpeed[0].handle,
      "./images/Settings/Settings-PU3-Graphic-Bkgd.png"),
    PU_BUTTON(g_SettingsPuFanSpeed, 1, PU_FAN_SPEED_Y),
    PU_TEXT(g_SettingsPuFanSpeed, 2, PU_FAN_SPEED_Y, "./images/Settings/Settings-PU3-Text-Low.png"),
    PU_BUTTON(g_SettingsPuFanSpeed, 3, PU_FAN_SPEED_Y),
    PU_TEXT(g_SettingsPuFanSpeed, 4, PU_FAN_SPEED_Y, "./images/Settings/Settings-PU3-Text-Med.png"),
    PU_BUTTON(g_SettingsPuFanSpeed, 5, PU_FAN_SPEED_Y),
    PU_TEXT(g_SettingsPuFanSpeed, 6, PU_FAN_SPEED_Y,
            "./images/Settings/Settings-PU3-Text-High.png"),
    B(PU_X, PU_FILTER_Y, &g_SettingsPuFilterReminder[0].handle,
      "./images/Settings/Settings-PU4-Graphic-Bkgd.png"),
    // The first button keeps the days left: it carries a check mark.
    B(PU_BUTTON_X, puButtonY(PU_FILTER_Y, 0), &g_SettingsPuFilterReminder[1].handle,
      "./images/Settings/Settings-PU-Graphic-Button-Current-OFF.png"),
    screenText(PU_DAYS_X_TWO_DIGITS, puButtonY(PU_FILTER_Y, 0) + TEXT_IN_BUTTON,
               &g_SettingsPuFilterReminder[2].handle, drawPuSettingsFilterChVal, FONT_BOLD,
               FILTER_TEXT_SIZE, WHITE_TEXT_COLOR),
    PU_BUTTON(g_SettingsPuFilterReminder, 3, PU_FILTER_Y),
    PU_TEXT(g_SettingsPuFilterReminder, 4, PU_FILTER_Y,
            "./images/Settings/Settings-PU4-Text-30.png"),
    PU_BUTTON(g_SettingsPuFilterReminder, 5, PU_FILTER_Y),
    PU_TEXT(g_SettingsPuFilterReminder, 6, PU_FILTER_Y,
            "./images/Settings/Settings-PU4-Text-60.png"),
    PU_BUTTON(g_SettingsPuFilterReminder, 7, PU_FILTER_Y),
    PU_TEXT(g_SettingsPuFilterReminder, 8, PU_FILTER_Y,
            "./images/Settings/Settings-PU4-Text-90.png"),
    PU_BUTTON(g_SettingsPuFilterReminder, 9, PU_FILTER_Y),
    PU_TEXT(g_SettingsPuFilterReminder, 10, PU_FILTER_Y,
            "./images/Settings/Settings-PU4-Text-120.png"),
    PU_BUTTON(g_SettingsPuFilterReminder, 11, PU_FILTER_Y),
    PU_TEXT(g_SettingsPuFilterReminder, 12, PU_FILTER_Y,
            "./images/Settings/Settings-PU4-Text-150.png"),
    PU_BUTTON(g_SettingsPuFilterReminder, 13, PU_FILTER_Y),
    PU_TEXT(g_SettingsPuFilterReminder, 14, PU_FILTER_Y,
            "./images/Settings/Settings-PU4-Text-180.png"),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

#undef PU_TEXT
#undef PU_BUTTON
#undef B

const ScreenTableBackup c_SettingsBackup(testScreenSettings);

// Value images: system mode (heat, cool, automatic, off, emergency heat),
// then the same locked; fan speed (high, medium, low), then locked; fan mode.
constexpr uint8_t HVAC_MODES = 5;
const char *const c_SettingsHeatOrCool[2 * HVAC_MODES] = {
    "./images/Settings/Settings-S1-Text2-Heat.png",
    "./images/Settings/Settings-S1-Text2-Cool.png",
    "./images/Settings/Settings-S1-Text2-Auto.png",
    "./images/Settings/Settings-S1-Text2-Off.png",
    "./images/Settings/Settings-S1-Text2-Emergency.png",
    "./images/Settings/Settings-S1-Text2-Heat-Locked.png",
    "./images/Settings/Settings-S1-Text2-Cool-Locked.png",
    "./images/Settings/Settings-S1-Text2-Auto-Locked.png",
    "./images/Settings/Settings-S1-Text2-Off-Locked.png",
    "./images/Settings/Settings-S1-Text2-Emergency-Locked.png",
};
constexpr uint8_t FAN_SPEEDS = 3;
const char *const c_SettingsFanSpeed[2 * FAN_SPEEDS] = {
    "./images/Settings/Settings-S3-Text2-High.png",
    "./images/Settings/Settings-S3-Text2-Med.png",
    "./images/Settings/Settings-S3-Text2-Low.png",
    "./images/Settings/Settings-S3-Text2-High-Locked.png",
    "./images/Settings/Settings-S3-Text2-Med-Locked.png",
    "./images/Settings/Settings-S3-Text2-Low-Locked.png",
};
const char *const c_SettingsFanMode[2] = {"./images/Settings/Settings-S2-Text2-Auto.png",
                                          "./images/Settings/Settings-S2-Text2-On.png"};

// Row labels: active, inactive and, for the rows a lock can take, locked.
struct RowLabel {
    uint8_t row;
    ScreenItem **handle;
    const char *active;
    const char *inactive;
    const char *locked; // null: never locked
};
const RowLabel c_RowLabels[] = {
    {SETTINGS_HVAC_ROW, &m_HVACModeText, "./images/Settings/Settings-S1-Text1-HVACMode-ON.png",
     "./images/Settings/Settings-S1-Text1-HVACMode-OFF.png",
     "./images/Settings/Settings-S1-Text1-HVACMode-Locked.png"},
    {SETTINGS_FAN_MODE_ROW, &m_FanModeText, "./images/Settings/Settings-S2-Text1-FanMode-ON.png",
     "./images/Settings/Settings-S2-Text1-FanMode-OFF.png", nullptr},
    {SETTINGS_FAN_SPEED_ROW, &m_FanSpeedText, "./images/Settings/Settings-S3-Text1-FanSpeed-ON.png",
     "./images/Settings/Settings-S3-Text1-FanSpeed-OFF.png",
     "./images/Settings/Settings-S3-Text1-FanSpeed-Locked.png"},
    {SETTINGS_FILTER_ROW, &m_FilterReminderText,
     "./images/Settings/Settings-S4-Text1-FilterReminder-ON.png",
     "./images/Settings/Settings-S4-Text1-FilterReminder-OFF.png", nullptr},
    {SETTINGS_ADV_SETUP, &m_AdvSetupText, "./images/Settings/Settings-B1-Text-AdvSet-ON.png",
     "./images/Settings/Settings-B1-Text-AdvSet-OFF.png", nullptr},
    {SETTINGS_EXIT, &m_ExitText, "./images/Button-Text-Exit-ON.png",
     "./images/Button-Text-Exit-OFF.png", nullptr},
};

// Row highlight images of the four rows and the two buttons.
struct RowGlyph {
    uint8_t row;
    const char *active;
    const char *inactive;
};
const RowGlyph c_RowGlyphs[] = {
    {SETTINGS_HVAC_ROW, "./images/Settings/Settings-S1-Graphic-ON.png",
     "./images/Settings/Settings-S1-Graphic-OFF.png"},
    {SETTINGS_FAN_MODE_ROW, "./images/Settings/Settings-S2-Graphic-ON.png",
     "./images/Settings/Settings-S2-Graphic-OFF.png"},
    {SETTINGS_FAN_SPEED_ROW, "./images/Settings/Settings-S3-Graphic-ON.png",
     "./images/Settings/Settings-S3-Graphic-OFF.png"},
    {SETTINGS_FILTER_ROW, "./images/Settings/Settings-S4-Graphic-ON.png",
     "./images/Settings/Settings-S4-Graphic-OFF.png"},
    {SETTINGS_ADV_SETUP, "./images/Graphic-Button-ON.png", "./images/Graphic-Button-OFF.png"},
    {SETTINGS_EXIT, "./images/Graphic-Button-ON.png", "./images/Graphic-Button-OFF.png"},
};

const char *const c_PuButtonOn = "./images/Settings/Settings-PU-Graphic-Button-ON.png";
const char *const c_PuButtonOff = "./images/Settings/Settings-PU-Graphic-Button-OFF.png";
const char *const c_PuCurrentButtonOn =
    "./images/Settings/Settings-PU-Graphic-Button-Current-ON.png";
const char *const c_PuCurrentButtonOff =
    "./images/Settings/Settings-PU-Graphic-Button-Current-OFF.png";
const char *const c_PuHvacBkgd = "./images/Settings/Settings-PU1-Graphic-Bkgd.png";
const char *const c_PuHvacBkgdNoEmergency =
    "./images/Settings/Settings-PU1-Graphic-NoEmergency-Bkgd.png";

// Filter reminder: the pop-up's first button keeps the days left, the others
// restart the reminder with 30 to 180 days.
constexpr int16_t FILTER_DAYS_MIN = 30;
constexpr int16_t FILTER_DAYS_MAX = 180;
constexpr int16_t FILTER_DAYS_STEP = 30;
constexpr uint16_t HOURS_PER_DAY = 24;

// The last system mode shown that was not emergency heat.
uint32_t prevHvacState = HVAC_STATE_OFF;

struct Lockout {
    bool mode; // the button lockout and the mode lock engaged
    bool fan;  // the button lockout and the fan lock engaged
};

Lockout lockout() {
    TstatLockoutCfg_t cfg{};
    getLockoutConfiguration(&cfg);
    bool on = cfg.buttonLockout == LOCK_LOCKED;
    return Lockout{on && cfg.modeLock == LOCK_LOCKED, on && cfg.fanLock == LOCK_LOCKED};
}

bool heatPumpSystem() {
    TstatCfg_t cfg{};
    getAdvSetupSettings(&cfg);
    return isHeatPumpType(cfg.systemType);
}

// Images are only changed while the page is on screen: the store cycle may
// still reload the page once after it was left.
bool pageShown() {
    return g_displayHdl != nullptr && g_displayHdl->currentScreen == testScreenSettings;
}

void replace(ScreenItem *item, const char *path) {
    if (pageShown()) {
        screenReplaceBitmap(g_displayHdl, item, path);
    }
}

void setVisible(ScreenItem *item, bool visible) {
    if (pageShown()) {
        screenSetBitmapVisibility(g_displayHdl, item, visible ? 1 : 0);
    }
}

// A value image chosen by a stored value, or hidden for a value outside the table.
void showValue(ScreenItem *item, const char *const *table, size_t count, int16_t value,
               size_t lockedOffset) {
    if (value < 0 || static_cast<size_t>(value) >= count) {
        setVisible(item, false);
        return;
    }
    replace(item, table[lockedOffset + static_cast<size_t>(value)]);
    setVisible(item, true);
}

const RowLabel *rowLabel(uint8_t row) {
    for (const RowLabel &label : c_RowLabels) {
        if (label.row == row) {
            return &label;
        }
    }
    return nullptr;
}

bool rowLocked(const RowLabel &label, const Lockout &locks) {
    return (label.row == SETTINGS_HVAC_ROW && locks.mode) ||
           (label.row == SETTINGS_FAN_SPEED_ROW && locks.fan);
}

void showRowLabel(uint8_t row, bool active, const Lockout &locks) {
    const RowLabel *label = rowLabel(row);
    if (label == nullptr) {
        return;
    }
    const char *path = active ? label->active : label->inactive;
    if (!active && label->locked != nullptr && rowLocked(*label, locks)) {
        path = label->locked;
    }
    replace(*label->handle, path);
}

bool isRow(uint8_t position) {
    return rowLabel(position) != nullptr;
}

// Down and Up between the rows; the rows a lock takes are skipped.
uint8_t rowBelow(uint8_t row, const Lockout &locks) {
    switch (row) {
    case SETTINGS_HVAC_ROW:
        return SETTINGS_FAN_MODE_ROW;
    case SETTINGS_FAN_MODE_ROW:
        return locks.fan ? SETTINGS_FILTER_ROW : SETTINGS_FAN_SPEED_ROW;
    case SETTINGS_FAN_SPEED_ROW:
        return SETTINGS_FILTER_ROW;
    case SETTINGS_FILTER_ROW:
        return SETTINGS_ADV_SETUP;
    case SETTINGS_ADV_SETUP:
        return SETTINGS_EXIT;
    default:
        return locks.mode ? SETTINGS_FAN_MODE_ROW : SETTINGS_HVAC_ROW;
    }
}

uint8_t rowAbove(uint8_t row, const Lockout &locks) {
    switch (row) {
    case SETTINGS_FAN_MODE_ROW:
        return locks.mode ? SETTINGS_EXIT : SETTINGS_HVAC_ROW;
    case SETTINGS_FAN_SPEED_ROW:
        return SETTINGS_FAN_MODE_ROW;
    case SETTINGS_FILTER_ROW:
        return locks.fan ? SETTINGS_FAN_MODE_ROW : SETTINGS_FAN_SPEED_ROW;
    case SETTINGS_ADV_SETUP:
        return SETTINGS_FILTER_ROW;
    case SETTINGS_EXIT:
        return SETTINGS_ADV_SETUP;
    default:
        return SETTINGS_EXIT;
    }
}

void moveToRow(uint8_t row) {
    setCurrentMenuPtr(g_SettingsMenu, row);
    displayHighlightedItem();
    Lockout locks = lockout();
    disableMenuText();
    showRowLabel(row, true, locks);
}

void hidePopUps() {
    hidePuMenu(g_SettingsPuHvacMenu, SETTINGS_PU_HVAC_ITEMS);
    hidePuMenu(g_SettingsPuFanMode, SETTINGS_PU_FAN_MODE_ITEMS);
    hidePuMenu(g_SettingsPuFanSpeed, SETTINGS_PU_FAN_SPEED_ITEMS);
    hidePuMenu(g_SettingsPuFilterReminder, SETTINGS_PU_FILTER_ITEMS);
    setVisible(m_SettingsPuShade, false);
}

void pageKeys() {
    displayManagerSetKeySlots(decSettingsModeMenuPtr, incSettingsModeMenuPtr,
                              displaySelectedSettingsMenuItemPage);
}

void openPopUp(MenuItem *menu, uint8_t count, uint8_t current, DispManFn up, DispManFn down,
               DispManFn mode) {
    setVisible(m_SettingsPuShade, true);
    showPuMenu(menu, count);
    setCurrentMenuPtr(menu, current);
    setCurrentPagePtr(menu, 1);
    g_MinMenuIndex = 1;
    g_MaxMenuIndex = count;
    displayManagerSetKeySlots(up, down, mode);
    setCurrentHighlightPtr(updateHighlightedGlyph);
}

// Back from a pop-up: its row current, then on to the next row as Down goes.
void closePopUp(MenuItem *menu, uint8_t count, uint8_t row) {
    hidePuMenu(menu, count);
    setVisible(m_SettingsPuShade, false);
    setCurrentPagePtr(g_SettingsMenu, 0);
    g_MinMenuIndex = 0;
    g_MaxMenuIndex = SETTINGS_MENU_ITEMS;
    g_HighlightItemPtr = updateHighlightedGlyph;
    setCurrentMenuPtr(g_SettingsMenu, row);
    incSettingsModeMenuPtr();
    pageKeys();
}

// Odd positions of a pop-up, wrapping between 1 and last.
void stepPopUp(MenuItem *menu, uint8_t last, bool down) {
    uint8_t at = getCurrentMenuIndex();
    uint8_t to = 1;
    if (down) {
        to = at >= last ? 1 : static_cast<uint8_t>(at + 2);
    } else {
        to = at <= 1 || at > last ? last : static_cast<uint8_t>(at - 2);
    }
    setCurrentMenuPtr(menu, to);
    displayHighlightedItem();
}

uint8_t hvacPopUpLast() {
    return heatPumpSystem() ? SETTINGS_PU_HVAC_EMERGENCY : SETTINGS_PU_HVAC_OFF;
}

void initialisePopUp(MenuItem *menu, uint8_t count) {
    menuClearRecords(menu, count);
    for (uint8_t i = 0; i < count; i++) {
        if (i % 2 == 1) {
            menu[i].hasGlyphs = 1;
            menu[i].activeGlyph = c_PuButtonOn;
            menu[i].inactiveGlyph = c_PuButtonOff;
        }
    }
}

void initialiseValue(MenuItem &item, int16_t min, int16_t max, uint32_t step) {
    item.min = min;
    item.max = max;
    item.step = step;
    item.wrap = 1;
}

// Leaving the page keeps what it shows: stored, saved, and in the control's hands.
void storeAndSave() {
    setSettingsPageExitted(1);
    setSettingsModeSPInDataDict();
    saveThermostatSysCfg();
}

uint8_t todayOfWeek() {
    TstatClockCfg_t clock{};
    menuGetClock(&clock);
    return clock.weekday;
}

void initialiseRecords() {
    menuClearRecords(g_SettingsMenu, SETTINGS_MENU_ITEMS);
    for (const RowGlyph &glyph : c_RowGlyphs) {
        MenuItem &row = g_SettingsMenu[glyph.row];
        row.hasGlyphs = 1;
        row.activeGlyph = glyph.active;
        row.inactiveGlyph = glyph.inactive;
    }
    initialiseValue(g_SettingsMenu[SETTINGS_HVAC_MODE], HVAC_STATE_HEAT, HVAC_STATE_EMERGENCY_HEAT,
                    1);
    initialiseValue(g_SettingsMenu[SETTINGS_FAN_MODE], FAN_STATE_AUTO, FAN_STATE_ON, 1);
    initialiseValue(g_SettingsMenu[SETTINGS_FAN_SPEED], FAN_SPEED_HIGH, FAN_SPEED_LOW, 1);
    initialiseValue(g_SettingsMenu[SETTINGS_FILTER_DAYS], FILTER_DAYS_MIN, FILTER_DAYS_MAX,
                    FILTER_DAYS_STEP);
    initialisePopUp(g_SettingsPuHvacMenu, SETTINGS_PU_HVAC_ITEMS);
    initialisePopUp(g_SettingsPuFanMode, SETTINGS_PU_FAN_MODE_ITEMS);
    initialisePopUp(g_SettingsPuFanSpeed, SETTINGS_PU_FAN_SPEED_ITEMS);
    initialisePopUp(g_SettingsPuFilterReminder, SETTINGS_PU_FILTER_ITEMS);
    g_SettingsPuFilterReminder[1].activeGlyph = c_PuCurrentButtonOn;
    g_SettingsPuFilterReminder[1].inactiveGlyph = c_PuCurrentButtonOff;
}

// The HVAC pop-up, on the mode the page shows.
void openHvacPopUp() {
    bool heatPump = heatPumpSystem();
    uint8_t current = SETTINGS_PU_HVAC_OFF;
    switch (g_SettingsMenu[SETTINGS_HVAC_MODE].value) {
    case HVAC_STATE_HEAT:
        current = SETTINGS_PU_HVAC_HEAT;
        break;
    case HVAC_STATE_COOL:
        current = SETTINGS_PU_HVAC_COOL;
        break;
    case HVAC_STATE_AUTO:
        current = SETTINGS_PU_HVAC_AUTO;
        break;
    case HVAC_STATE_EMERGENCY_HEAT:
        current = heatPump ? SETTINGS_PU_HVAC_EMERGENCY : SETTINGS_PU_HVAC_OFF;
        break;
    default:
        break;
    }
    openPopUp(g_SettingsPuHvacMenu, SETTINGS_PU_HVAC_ITEMS, current, decSettingsPuHvacMenuPtr,
              incSettingsPuHvacMenuPtr, displaySelectedSettingsPuHvacMenuItemPage);
    // A furnace has no emergency heat to offer.
    replace(g_SettingsPuHvacMenu[0].handle, heatPump ? c_PuHvacBkgd : c_PuHvacBkgdNoEmergency);
    setVisible(g_SettingsPuHvacMenu[SETTINGS_PU_HVAC_EMERGENCY].handle, heatPump);
    setVisible(g_SettingsPuHvacMenu[SETTINGS_PU_HVAC_EMERGENCY + 1].handle, heatPump);
}

// The advanced setup, behind the installer's code.
void openAdvancedSetup() {
    storeAndSave();
    resetCurrentGlyph();
    // In diagnostic mode the installer is not asked for the code.
    if (advSetupDiagnosticModeShown()) {
        displayUserPrefPage();
    } else {
        displaySecCodeInpPage();
    }
}

} // namespace

void leaveSettingsPage() {
    storeAndSave();
    initialiseHvacAlgorithms();
    resetCurrentGlyph();
    displayMainPage();
}

void initialiseSettingsModeMenu() {
    initialiseRecords();
    screenUserHdlInit(testScreenSettings);
}

void displaySettingsPage() {
    displaySettingsPageAt(SETTINGS_HVAC_ROW);
}

void displaySettingsPageAt(uint8_t position) {
    Lockout locks = lockout();
    // Only a row can be current, and never one that a lock takes.
    if (!isRow(position)) {
        position = SETTINGS_HVAC_ROW;
    }
    if (position == SETTINGS_HVAC_ROW && locks.mode) {
        position = SETTINGS_FAN_MODE_ROW;
    } else if (position == SETTINGS_FAN_SPEED_ROW && locks.fan) {
        position = SETTINGS_FILTER_ROW;
    }
    dispManCancelMainPageTimeout();
    menuOpenPage(PAGE_SETTINGS, {.position = position});
    disableMenuText();
    showRowLabel(position, true, locks);
    hidePopUps();
    showDayBar(todayOfWeek());
}

void getSettingsModeSPFromDataDict() {
    g_SettingsMenu[SETTINGS_FAN_MODE].value = static_cast<int16_t>(getFanState());
    g_SettingsMenu[SETTINGS_FAN_SPEED].value = static_cast<int16_t>(getFanSpeed());
    // Emergency heat exists only on a heat pump; a stored mode that the page
    // cannot offer shows the last one it could.
    uint32_t hvac = getHVACState();
    bool offered =
        hvac < HVAC_STATE_EMERGENCY_HEAT || (hvac == HVAC_STATE_EMERGENCY_HEAT && heatPumpSystem());
    if (!offered) {
        hvac = prevHvacState;
    } else if (hvac != HVAC_STATE_EMERGENCY_HEAT) {
        prevHvacState = hvac;
    }
    g_SettingsMenu[SETTINGS_HVAC_MODE].value = static_cast<int16_t>(hvac);
    g_SettingsMenu[SETTINGS_FILTER_DAYS].value = static_cast<int16_t>(getTstatFilterChangeDays());

    Lockout locks = lockout();
    showValue(g_SettingsMenu[SETTINGS_HVAC_MODE].handle, c_SettingsHeatOrCool, HVAC_MODES,
              g_SettingsMenu[SETTINGS_HVAC_MODE].value, locks.mode ? HVAC_MODES : 0);
    showValue(g_SettingsMenu[SETTINGS_FAN_SPEED].handle, c_SettingsFanSpeed, FAN_SPEEDS,
              g_SettingsMenu[SETTINGS_FAN_SPEED].value, locks.fan ? FAN_SPEEDS : 0);
    showValue(g_SettingsMenu[SETTINGS_FAN_MODE].handle, c_SettingsFanMode, 2,
              g_SettingsMenu[SETTINGS_FAN_MODE].value, 0);
    // The lockout may change from the bus while the page is shown.
    if (getCurrentPagePtr() == g_SettingsMenu) {
        uint8_t current = getCurrentMenuIndex();
        showRowLabel(SETTINGS_HVAC_ROW, current == SETTINGS_HVAC_ROW, locks);
        showRowLabel(SETTINGS_FAN_SPEED_ROW, current == SETTINGS_FAN_SPEED_ROW, locks);
    }
}

void setSettingsModeSPInDataDict() {
    auto hvac = static_cast<uint32_t>(g_SettingsMenu[SETTINGS_HVAC_MODE].value);
    if (hvac != HVAC_STATE_OFF) {
        setLastHvacState(hvac);
    }
    setFanState(static_cast<FanState>(g_SettingsMenu[SETTINGS_FAN_MODE].value));
    setFanSpeed(static_cast<FanSpeed>(g_SettingsMenu[SETTINGS_FAN_SPEED].value));
    setHVACState(static_cast<HvacState>(hvac));
    int16_t days = g_SettingsMenu[SETTINGS_FILTER_DAYS].value;
    if (days >= 0 && static_cast<uint32_t>(days) != getTstatFilterChangeDays()) {
        setTstatFilterChMaxHourTime(static_cast<uint16_t>(days * HOURS_PER_DAY));
    }
}

void disableMenuText() {
    Lockout locks = lockout();
    for (const RowLabel &label : c_RowLabels) {
        showRowLabel(label.row, false, locks);
    }
}

void incSettingsModeMenuPtr() {
    moveToRow(rowBelow(getCurrentMenuIndex(), lockout()));
}

void decSettingsModeMenuPtr() {
    moveToRow(rowAbove(getCurrentMenuIndex(), lockout()));
}

void displaySelectedSettingsMenuItemPage() {
    if (getCurrentPagePtr() != g_SettingsMenu) {
        return;
    }
    switch (getCurrentMenuIndex()) {
    case SETTINGS_HVAC_ROW:
        openHvacPopUp();
        break;
    case SETTINGS_FAN_MODE_ROW:
        openPopUp(g_SettingsPuFanMode, SETTINGS_PU_FAN_MODE_ITEMS,
                  g_SettingsMenu[SETTINGS_FAN_MODE].value == FAN_STATE_ON ? 3 : 1,
                  decSettingsPuFanModeMenuPtr, incSettingsPuFanModeMenuPtr,
                  displaySelectedSettingsPuFanModeMenuItemPage);
        break;
    case SETTINGS_FAN_SPEED_ROW: {
        int16_t speed = g_SettingsMenu[SETTINGS_FAN_SPEED].value;
        uint8_t current = speed == FAN_SPEED_HIGH ? 5 : speed == FAN_SPEED_MEDIUM ? 3 : 1;
        openPopUp(g_SettingsPuFanSpeed, SETTINGS_PU_FAN_SPEED_ITEMS, current,
                  decSettingsPuFanSpeedMenuPtr, incSettingsPuFanSpeedMenuPtr,
                  displaySelectedSettingsPuFanSpeedMenuItemPage);
        break;
    }
    case SETTINGS_FILTER_ROW:
        openPopUp(g_SettingsPuFilterReminder, SETTINGS_PU_FILTER_ITEMS, 1,
                  decSettingsPuFilterReminderMenuPtr, incSettingsPuFilterReminderMenuPtr,
                  displaySelectedSettingsPuFilterReminderMenuItemPage);
        break;
    case SETTINGS_ADV_SETUP:
        openAdvancedSetup();
        break;
    case SETTINGS_EXIT:
        leaveSettingsPage();
        break;
    default:
        break;
    }
}

// ---- Pop-ups -------------------------------------------------------------------------------

void incSettingsPuHvacMenuPtr() {
    stepPopUp(g_SettingsPuHvacMenu, hvacPopUpLast(), true);
}

void decSettingsPuHvacMenuPtr() {
    stepPopUp(g_SettingsPuHvacMenu, hvacPopUpLast(), false);
}

void displaySelectedSettingsPuHvacMenuItemPage() {
    HvacState chosen = HVAC_STATE_OFF;
    switch (getCurrentMenuIndex()) {
    case SETTINGS_PU_HVAC_AUTO:
        chosen = HVAC_STATE_AUTO;
        break;
    case SETTINGS_PU_HVAC_COOL:
        chosen = HVAC_STATE_COOL;
        break;
    case SETTINGS_PU_HVAC_HEAT:
        chosen = HVAC_STATE_HEAT;
        break;
    case SETTINGS_PU_HVAC_EMERGENCY:
        chosen = HVAC_STATE_EMERGENCY_HEAT;
        break;
    default:
        break;
    }
    g_SettingsMenu[SETTINGS_HVAC_MODE].value = static_cast<int16_t>(chosen);
    closePopUp(g_SettingsPuHvacMenu, SETTINGS_PU_HVAC_ITEMS, SETTINGS_HVAC_ROW);
}

void incSettingsPuFanModeMenuPtr() {
    stepPopUp(g_SettingsPuFanMode, 3, true);
}

void decSettingsPuFanModeMenuPtr() {
    stepPopUp(g_SettingsPuFanMode, 3, false);
}

void displaySelectedSettingsPuFanModeMenuItemPage() {
    g_SettingsMenu[SETTINGS_FAN_MODE].value =
        static_cast<int16_t>(getCurrentMenuIndex() == 3 ? FAN_STATE_ON : FAN_STATE_AUTO);
    closePopUp(g_SettingsPuFanMode, SETTINGS_PU_FAN_MODE_ITEMS, SETTINGS_FAN_MODE_ROW);
}

void incSettingsPuFanSpeedMenuPtr() {
    stepPopUp(g_SettingsPuFanSpeed, 5, true);
}

void decSettingsPuFanSpeedMenuPtr() {
    stepPopUp(g_SettingsPuFanSpeed, 5, false);
}

void displaySelectedSettingsPuFanSpeedMenuItemPage() {
    uint8_t at = getCurrentMenuIndex();
    FanSpeed speed = at == 5 ? FAN_SPEED_HIGH : at == 3 ? FAN_SPEED_MEDIUM : FAN_SPEED_LOW;
    g_SettingsMenu[SETTINGS_FAN_SPEED].value = static_cast<int16_t>(speed);
    closePopUp(g_SettingsPuFanSpeed, SETTINGS_PU_FAN_SPEED_ITEMS, SETTINGS_FAN_SPEED_ROW);
}

void incSettingsPuFilterReminderMenuPtr() {
    stepPopUp(g_SettingsPuFilterReminder, SETTINGS_PU_FILTER_ITEMS - 2, true);
}

void decSettingsPuFilterReminderMenuPtr() {
    stepPopUp(g_SettingsPuFilterReminder, SETTINGS_PU_FILTER_ITEMS - 2, false);
}

void displaySelectedSettingsPuFilterReminderMenuItemPage() {
    uint8_t at = getCurrentMenuIndex();
    if (at >= 3 && at <= SETTINGS_PU_FILTER_ITEMS - 2) {
        g_SettingsMenu[SETTINGS_FILTER_DAYS].value =
            static_cast<int16_t>((at - 1) / 2 * FILTER_DAYS_STEP);
    }
    closePopUp(g_SettingsPuFilterReminder, SETTINGS_PU_FILTER_ITEMS, SETTINGS_FILTER_ROW);
}

// ---- Texts ---------------------------------------------------------------------------------

void drawSettingsFilterChVal(char *buffer) {
    char days[SCREEN_TEXT_LEN];
    snprintf(days, sizeof(days), "%d", g_SettingsMenu[SETTINGS_FILTER_DAYS].value);
    drawAlignedText(buffer, g_SettingsMenu[SETTINGS_FILTER_DAYS], days, VALUE_RIGHT,
                    MenuTextAlign::Right);
}

// The pop-up's first choice keeps the days as they are; its check mark tells
// it from the same number among the intervals below it.
void drawPuSettingsFilterChVal(char *buffer) {
    int16_t days = g_SettingsMenu[SETTINGS_FILTER_DAYS].value;
    snprintf(buffer, SCREEN_TEXT_LEN, "%d", days);
    int16_t x = days == 0    ? PU_DAYS_X_ZERO
                : days < 100 ? PU_DAYS_X_TWO_DIGITS
                             : PU_DAYS_X_THREE_DIGITS;
    setMenuItemLocation(&g_SettingsPuFilterReminder[2], x);
}

void settingsMenuReset() {
    c_SettingsBackup.restore();
    prevHvacState = HVAC_STATE_OFF;
    initialiseRecords();
}
