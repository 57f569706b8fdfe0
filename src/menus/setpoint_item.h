// Fixed-point menu records that hold a temperature set point or a humidity:
// their limits from the temperature format in force, loading a stored value
// in the display unit, the record's value back as a fixed-point number, and
// the narrowing of a set point's limits under the temperature lock.
#pragma once

#include "config/persist.h"
#include "core/fixed_point.h"
#include "menus/menu_engine.h"

#include <cstdint>

// A temperature record: the set-point limits, step and decimals of the
// format in force (initialiseTStatFormat must have run).
void menuInitTempItem(MenuItem *item, uint8_t index);
// A percentage record, 0-100 % in steps of 1 %.
void menuInitPercentItem(MenuItem *item, uint8_t index, uint8_t wrap);
// A plain integer record from min to max in steps of 1.
void menuInitIntItem(MenuItem *item, uint8_t index, int32_t min, int32_t max, uint8_t wrap);
// A record shown as a picture (header or button).
void menuInitGlyphItem(MenuItem *item, uint8_t index, const char *active, const char *inactive);

// Loads a set point stored in degrees Celsius, in the display unit: rounded
// to the record's decimals, and whole degrees in Fahrenheit.
void menuLoadTemperature(MenuItem *item, fpr_t celsius);
// Loads a fixed-point value as it is, rounded to the record's decimals.
void menuLoadFixedPoint(MenuItem *item, fpr_t value);
// The record's fixed-point value.
fpr_t menuFixedPointOf(const MenuItem *item);
// The record's set point in degrees Celsius, for the store.
fpr_t menuTemperatureOf(const MenuItem *item);

// 1 when the button lockout and its temperature lock are both engaged.
bool menuTemperatureLocked(const TstatLockoutCfg_t &lockout);
// The temperature lock as the set-point pages apply it: engaged or not, and
// the whole display degrees a set point may move either side of its value; a
// range of 0 or less freezes the set points rather than narrowing them to
// nothing.
struct TempLock {
    bool locked;
    int8_t range;
    bool narrows() const { return locked && range > 0; }
    bool freezes() const { return locked && range <= 0; }
};
TempLock menuTempLock();
// Limits the heat and cool records to range whole display degrees around
// their present values.
void menuNarrowSetPointPair(MenuItem *heat, MenuItem *cool, int8_t range);
// Under a temperature lock that narrows, narrows the pair again when the
// range or the display unit differs from the page's last narrowing
// (*lastRange, *lastScale), and records them there.
void menuFollowTempLock(MenuItem *heat, MenuItem *cool, int8_t *lastRange, TempScale *lastScale);
// Limits range whole display degrees either side of base, within the set-point limits.
void menuNarrowTempItem(MenuItem *item, fpr_t base, int8_t range);
