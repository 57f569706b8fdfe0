// The update functions and item handles of the screen parts every page
// shares: the clock strip, the day bar and the under-voltage warning.

#include "menus/screen_parts.h"

#include "menus/menu_engine.h"

#include <cstdio>

ScreenItem *g_DayBarGraphic[DAY_BAR_DAYS] = {};

void drawMainScrTime(char *buffer) {
    createTimeString(buffer, SCREEN_TEXT_LEN);
}

void showDayBar(uint8_t dayOfWeek) {
    for (size_t day = 0; day < DAY_BAR_DAYS; day++) {
        screenSetBitmapVisibility(g_displayHdl, g_DayBarGraphic[day], day == dayOfWeek ? 1 : 0);
    }
}

void drawTitleOverDayBar(char *buffer, const char *title) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", title);
    TstatClockCfg_t clock{};
    menuGetClock(&clock);
    showDayBar(clock.weekday);
}

void drawMainScrDate(char *buffer) {
    createDateString(buffer, SCREEN_TEXT_LEN);
    TstatClockCfg_t clock{};
    menuGetClock(&clock);
    showDayBar(clock.weekday);
}

void drawUnderVoltageWarning(char *buffer) {
    // The warning item of whichever screen is shown blinks while the report lasts.
    if (g_UnderVoltageActive != 0) {
        snprintf(buffer, SCREEN_TEXT_LEN, "%s", DISPMAN_UNDERVOLTAGE_TEXT);
        screenSetTextBlinkRate(g_displayHdl, g_UndervoltageTextHdl, DISPMAN_UNDERVOLTAGE_BLINK_MS);
    } else {
        buffer[0] = '\0';
        screenSetTextBlinkRate(g_displayHdl, g_UndervoltageTextHdl, 0);
    }
}
