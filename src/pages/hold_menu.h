// Hold menu: the heat and cool set points the hold page edits (records 0 and
// 1 of g_HoldModeMenu, shown by the main screen's set-point texts), their
// limits, loading and storing them, switching between them, the narrowing of
// the limits under the temperature lock, and the blinking of the edited one.
// initialiseHoldModeMenu and getHoldModeSPFromDataDict are in menu_pages.h.
#pragma once

#include "config/persist.h"
#include "menus/menu_engine.h"
#include "pages/menu_pages.h"

#include <cstdint>

// Records 0 (heat) and 1 (cool); the hold page's range covers positions 0-2,
// so the menu has room for them.
constexpr uint8_t HOLD_MENU_HEAT = 0;
constexpr uint8_t HOLD_MENU_COOL = 1;
constexpr uint8_t HOLD_MENU_RANGE = 3;
extern MenuItem g_HoldModeMenu[HOLD_MENU_RANGE + 1];
// The set points in force when the hold page opened in hold mode (else cleared).
extern TstatSetPoint_t g_PrevHoldSP;

// Stores the two items as the hold set points; switches to hold unless the
// mode is permanent hold. The caller saves the record.
void setHoldModeSPInDataDict();
// Mode key on the hold page in automatic mode: heat <-> cool.
void callDataDictAndIncMenuPtr();
void incHoldModeMenuPtr();
// Narrows the limits to the temperature lock's range when it or the unit changed.
void updateHoldMenuValues();
void updateLockoutHoldMode(int8_t range);
// 1 when the heat or cool set points of the two records differ.
uint8_t checkHoldPageSetPoint(const TstatSetPoint_t *previous, const TstatSetPoint_t *current);
// Blinks the item's text (after stopping both), or stops both.
void setHoldBlinkingText(MenuItem *item);
void resetHoldBlinkingTextPtr();

// Forgets the menu's state. For tests.
void holdMenuReset();
