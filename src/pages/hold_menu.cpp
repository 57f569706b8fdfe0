// Hold menu: heat and cool hold set points in the display unit.
#include "pages/hold_menu.h"

#include "config/data_dict.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "menus/setpoint_item.h"
#include "pages/main_page.h"
#include "pages/menu_pages.h"
#include "pages/pages.h"

#include <initializer_list>

namespace {

fpr_t m_HumidifySP = 0;
fpr_t m_DehumidifySP = 0;
// The range limit and the unit of the last narrowing under the temperature lock.
int8_t m_PrevTempRangeHold = 0;
TempScale m_PrevTempHold = TEMP_SCALE_FAHRENHEIT;

} // namespace

MenuItem g_HoldModeMenu[HOLD_MENU_RANGE + 1] = {};
TstatSetPoint_t g_PrevHoldSP = {};

void initialiseHoldModeMenu() {
    initialiseTStatFormat();
    menuInitTempItem(&g_HoldModeMenu[HOLD_MENU_HEAT], HOLD_MENU_HEAT);
    menuInitTempItem(&g_HoldModeMenu[HOLD_MENU_COOL], HOLD_MENU_COOL);
    g_HoldModeMenu[2].index = 2;
    g_HoldModeMenu[3].index = 3;
}

void getHoldModeSPFromDataDict() {
    TstatSetPoint_t current{};
    if (getCurrentThermostatSettings(&current) != 0) {
        return;
    }
    initialiseTStatFormat();
    menuLoadTemperature(&g_HoldModeMenu[HOLD_MENU_HEAT], current.heatSetPoint);
    menuLoadTemperature(&g_HoldModeMenu[HOLD_MENU_COOL], current.coolSetPoint);
    m_HumidifySP = current.humidifySetPoint;
    m_DehumidifySP = current.dehumidifySetPoint;
}

void setHoldModeSPInDataDict() {
    TstatSetPoint_t hold{};
    hold.heatSetPoint = menuTemperatureOf(&g_HoldModeMenu[HOLD_MENU_HEAT]);
    hold.coolSetPoint = menuTemperatureOf(&g_HoldModeMenu[HOLD_MENU_COOL]);
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
    displayManagerSetKeySlots(incrementMenuItemValue, decrementMenuItemValue,
                              callDataDictAndIncMenuPtr);
    setHoldBlinkingText(item);
}

void updateLockoutHoldMode(int8_t range) {
    m_PrevTempRangeHold = range;
    menuNarrowSetPointPair(&g_HoldModeMenu[HOLD_MENU_HEAT], &g_HoldModeMenu[HOLD_MENU_COOL], range);
}

void updateHoldMenuValues() {
    initialiseTStatFormat();
    menuFollowTempLock(&g_HoldModeMenu[HOLD_MENU_HEAT], &g_HoldModeMenu[HOLD_MENU_COOL],
                       &m_PrevTempRangeHold, &m_PrevTempHold);
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
