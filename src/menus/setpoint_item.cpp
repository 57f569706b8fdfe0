// Set-point and humidity menu records.
#include "menus/setpoint_item.h"

#include "config/data_dict.h"
#include "config/temp_scale.h"

#include <algorithm>

namespace {

constexpr int32_t PERCENT_MAX = 100;

} // namespace

void menuInitTempItem(MenuItem *item, uint8_t index) {
    item->index = index;
    item->isFixedPoint = 1;
    item->hasGlyphs = 0;
    item->min = g_MinSetPointTemp;
    item->max = g_MaxSetPointTemp;
    item->step = static_cast<uint32_t>(g_SetPointTempRes);
    item->decimals = static_cast<uint8_t>(g_ResDigits);
    item->wrap = 0;
}

void menuInitPercentItem(MenuItem *item, uint8_t index, uint8_t wrap) {
    item->index = index;
    item->isFixedPoint = 1;
    item->hasGlyphs = 0;
    item->min = 0;
    item->max = PERCENT_MAX * FPR_ONE;
    item->step = FPR_ONE;
    item->decimals = 0;
    item->wrap = wrap;
}

void menuInitIntItem(MenuItem *item, uint8_t index, int32_t min, int32_t max, uint8_t wrap) {
    item->index = index;
    item->isFixedPoint = 0;
    item->hasGlyphs = 0;
    item->min = min;
    item->max = max;
    item->step = 1;
    item->wrap = wrap;
    item->decimals = 0;
}

void menuInitGlyphItem(MenuItem *item, uint8_t index, const char *active, const char *inactive) {
    item->index = index;
    item->isFixedPoint = 0;
    item->hasGlyphs = 1;
    item->min = 0;
    item->max = 0;
    item->step = 1;
    item->wrap = 1;
    item->activeGlyph = active;
    item->inactiveGlyph = inactive;
}

void menuLoadFixedPoint(MenuItem *item, fpr_t value) {
    int16_t whole = 0;
    int32_t fraction = 0;
    if (item->decimals > 0) {
        fprDecode(value, &whole, &fraction);
        item->fraction = fraction;
    } else {
        item->fraction = 0;
    }
    int32_t digits = 0;
    fprDecodeRes(value, &whole, &digits, item->decimals);
    item->value = whole;
    item->fractionDigits = item->decimals > 0 ? static_cast<uint32_t>(digits) : 0;
}

void menuLoadTemperature(MenuItem *item, fpr_t celsius) {
    menuLoadFixedPoint(item, tempCelToFahConversion(celsius));
    if (displayTempScale() == TEMP_SCALE_FAHRENHEIT) {
        item->fraction = 0;
        item->fractionDigits = 0;
    }
}

fpr_t menuFixedPointOf(const MenuItem *item) {
    fpr_t value = 0;
    if (fprGen(item->value, item->fraction, &value) != 0) {
        fprGen(item->value, 0, &value);
    }
    return value;
}

fpr_t menuTemperatureOf(const MenuItem *item) {
    return tempFahToCelConversion(menuFixedPointOf(item));
}

bool menuTemperatureLocked(const TstatLockoutCfg_t &lockout) {
    return lockout.buttonLockout == LOCK_LOCKED && lockout.tempLock == LOCK_LOCKED;
}

TempLock menuTempLock() {
    TstatLockoutCfg_t lockout{};
    getLockoutConfiguration(&lockout);
    return TempLock{menuTemperatureLocked(lockout),
                    static_cast<int8_t>(lockout.tempLockRangeLimit)};
}

void menuNarrowSetPointPair(MenuItem *heat, MenuItem *cool, int8_t range) {
    for (MenuItem *item : {heat, cool}) {
        menuNarrowTempItem(item, menuFixedPointOf(item), range);
    }
}

void menuFollowTempLock(MenuItem *heat, MenuItem *cool, int8_t *lastRange, TempScale *lastScale) {
    TempLock lock = menuTempLock();
    if (!lock.narrows()) {
        return;
    }
    TempScale scale = displayTempScale();
    if (lock.range != *lastRange || scale != *lastScale) {
        *lastRange = lock.range;
        *lastScale = scale;
        menuNarrowSetPointPair(heat, cool, lock.range);
    }
}

void menuNarrowTempItem(MenuItem *item, fpr_t base, int8_t range) {
    fpr_t span = static_cast<fpr_t>(range) * FPR_ONE;
    item->min = std::max(g_MinSetPointTemp, base - span);
    item->max = std::min(g_MaxSetPointTemp, base + span);
}
