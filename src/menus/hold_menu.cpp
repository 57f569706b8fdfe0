// Hold menu: heat and cool hold set points in the display unit.
#include "menus/hold_menu.h"

#include "config/data_dict.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "display/display_manager.h"
#include "menus/menu_pages.h"

#include <algorithm>
#include <initializer_list>

namespace {

fpr_t m_HumidifySP = 0;
fpr_t m_DehumidifySP = 0;
int8_t m_PrevTempRangeHold = 0;
TempScale m_PrevTempHold = TEMP_SCALE_FAHRENHEIT;

TempScale displayScale() {
    TstatFmtSettings_t fmt{};
    getThermostatFormatSettings(&fmt);
    return fmt.tempScale == TEMP_SCALE_FAHRENHEIT ? TEMP_SCALE_FAHRENHEIT : TEMP_SCALE_CELSIUS;
}

void initialiseSetPointItem(MenuItem *item, uint8_t index) {
    item->index = index;
    item->isFixedPoint = 1;
    item->min = g_MinSetPointTemp;
    item->max = g_MaxSetPointTemp;
    item->step = static_cast<uint32_t>(g_SetPointTempRes);
    item->decimals = static_cast<uint8_t>(g_ResDigits);
    item->wrap = 0;
    item->hasGlyphs = 0;
}

// A stored Celsius set point into a record, in the display unit.
void loadSetPoint(MenuItem *item, fpr_t celsius, bool fahrenheit) {
    fpr_t shown = tempCelToFahConversion(celsius);
    int16_t whole = 0;
    int32_t fraction = 0;
    if (item->decimals > 0) {
        fprDecode(shown, &whole, &fraction);
        item->fraction = fraction;
    }
    int32_t digits = 0;
    fprDecodeRes(shown, &whole, &digits, item->decimals);
    item->value = whole;
    item->fractionDigits = static_cast<uint32_t>(digits);
    if (fahrenheit || item->decimals == 0) {
        item->fraction = 0;
        item->fractionDigits = 0;
    }
}

fpr_t recordValue(const MenuItem *item) {
    fpr_t value = 0;
    if (fprGen(item->value, item->fraction, &value) != 0) {
        fprGen(item->value, 0, &value);
    }
    return value;
}

bool temperatureLockEngaged(const TstatLockoutCfg_t &lockout) {
    return lockout.buttonLockout == LOCK_LOCKED && lockout.tempLock == LOCK_LOCKED;
}

} // namespace

MenuItem g_HoldModeMenu[HOLD_MENU_RANGE + 1] = {};
TstatSetPoint_t g_PrevHoldSP = {};

void initialiseHoldModeMenu() {
    initialiseTStatFormat();
    initialiseSetPointItem(&g_HoldModeMenu[HOLD_MENU_HEAT], HOLD_MENU_HEAT);
    initialiseSetPointItem(&g_HoldModeMenu[HOLD_MENU_COOL], HOLD_MENU_COOL);
    g_HoldModeMenu[2].index = 2;
    g_HoldModeMenu[3].index = 3;
}

void getHoldModeSPFromDataDict() {
    TstatSetPoint_t current{};
    if (getCurrentThermostatSettings(&current) != 0) {
        return;
    }
    initialiseTStatFormat();
    bool fahrenheit = displayScale() == TEMP_SCALE_FAHRENHEIT;
    loadSetPoint(&g_HoldModeMenu[HOLD_MENU_HEAT], current.heatSetPoint, fahrenheit);
    loadSetPoint(&g_HoldModeMenu[HOLD_MENU_COOL], current.coolSetPoint, fahrenheit);
    m_HumidifySP = current.humidifySetPoint;
    m_DehumidifySP = current.dehumidifySetPoint;
}

void setHoldModeSPInDataDict() {
    TstatSetPoint_t hold{};
    hold.heatSetPoint = tempFahToCelConversion(recordValue(&g_HoldModeMenu[HOLD_MENU_HEAT]));
    hold.coolSetPoint = tempFahToCelConversion(recordValue(&g_HoldModeMenu[HOLD_MENU_COOL]));
    hold.humidifySetPoint = m_HumidifySP;
    hold.dehumidifySetPoint = m_DehumidifySP;
    if (getThermostatMode() != TSTAT_MODE_PERMANENT_HOLD) {
        setThermostatMode(TSTAT_MODE_HOLD);
    }
    setHoldThermostatSettings(&hold);
}

void incHoldModeMenuPtr() {
    uint8_t next =
        getCurrentMenuPtr() == &g_HoldModeMenu[HOLD_MENU_HEAT] ? HOLD_MENU_COOL : HOLD_MENU_HEAT;
    setCurrentMenuPtr(g_HoldModeMenu, next);
    displayHighlightedItem();
}

void callDataDictAndIncMenuPtr() {
    MenuItem *current = getCurrentMenuPtr();
    if (current != &g_HoldModeMenu[HOLD_MENU_HEAT] && current != &g_HoldModeMenu[HOLD_MENU_COOL]) {
        return;
    }
    incHoldModeMenuPtr();
    initialiseTStatFormat();
    MenuItem *item = getCurrentMenuPtr();
    item->decimals = static_cast<uint8_t>(g_ResDigits);
    item->step = static_cast<uint32_t>(g_SetPointTempRes);
    dispManSetKeySlots(incrementMenuItemValue, decrementMenuItemValue, callDataDictAndIncMenuPtr);
    setHoldBlinkingText(item);
}

void updateLockoutHoldMode(int8_t range) {
    m_PrevTempRangeHold = range;
    fpr_t span = static_cast<fpr_t>(range) * FPR_ONE;
    for (uint8_t i : {HOLD_MENU_HEAT, HOLD_MENU_COOL}) {
        MenuItem &item = g_HoldModeMenu[i];
        fpr_t value = recordValue(&item);
        item.min = std::max(g_MinSetPointTemp, value - span);
        item.max = std::min(g_MaxSetPointTemp, value + span);
    }
}

void updateHoldMenuValues() {
    initialiseTStatFormat();
    TstatLockoutCfg_t lockout{};
    getLockoutConfiguration(&lockout);
    auto range = static_cast<int8_t>(lockout.tempLockRangeLimit);
    TempScale scale = displayScale();
    // Without an engaged lock and a positive range there is nothing to narrow
    // to (a range of 0 would freeze both set points).
    if (!temperatureLockEngaged(lockout) || range <= 0) {
        return;
    }
    if (range != m_PrevTempRangeHold || scale != m_PrevTempHold) {
        updateLockoutHoldMode(range);
        m_PrevTempHold = scale;
    }
}

uint8_t checkHoldPageSetPoint(const TstatSetPoint_t *previous, const TstatSetPoint_t *current) {
    return previous->heatSetPoint != current->heatSetPoint ||
                   previous->coolSetPoint != current->coolSetPoint
               ? 1
               : 0;
}

void setHoldBlinkingText(MenuItem *item) {
    resetHoldBlinkingTextPtr();
    if (item != nullptr) {
        screenSetTextBlinkRate(g_displayHdl, item->handle, c_TextBlinkRate);
    }
}

void resetHoldBlinkingTextPtr() {
    screenSetTextBlinkRate(g_displayHdl, g_HoldModeMenu[HOLD_MENU_HEAT].handle, 0);
    screenSetTextBlinkRate(g_displayHdl, g_HoldModeMenu[HOLD_MENU_COOL].handle, 0);
}

void holdMenuReset() {
    for (MenuItem &item : g_HoldModeMenu) {
        ScreenItem *handle = item.handle;
        item = MenuItem{};
        item.handle = handle;
    }
    g_PrevHoldSP = TstatSetPoint_t{};
    m_HumidifySP = 0;
    m_DehumidifySP = 0;
    m_PrevTempRangeHold = 0;
    m_PrevTempHold = TEMP_SCALE_FAHRENHEIT;
}
