// Menu engine: current item, value stepping, highlighting, pop-up visibility
// and the clock texts.
#include "menus/menu_engine.h"

#include "config/data_dict.h"
#include "core/fixed_point.h"
#include "core/util.h"
#include "dispman/display_manager.h"
#include "menus/screen_parts.h"
#include "menus/setup_layout.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int YEARS_TO_2000 = 100; // from 1900

MenuItem *m_CurrentMenu = nullptr; // the menu the current item belongs to
MenuItem *m_CurrentMenuItemPtr = nullptr;
uint8_t m_CurrentMenuItemIndex = 0;
MenuItem *m_CurrentPagePtr = nullptr;
uint8_t m_CurrentPageIndex = 0;
const char *c_CurrentGlyph[MENU_GLYPH_LIST_SIZE] = {};
uint32_t m_LastHvacState = 0;
// The last clock conversion and the wall-clock second it was made for.
TstatClockCfg_t m_Clock{};
int64_t m_ClockSecond = -1;
uint8_t m_SettingsPageExit = 0;

constexpr uint8_t HOUR_MIN = 1;
constexpr uint8_t HOUR_MAX = 12;

// Fixed-point stepping: the new value is decoded back into the record.
void storeFixedPoint(MenuItem *item, fpr_t value) {
    int16_t whole = 0;
    int32_t digits = 0;
    fprDecodeRes(value, &whole, &digits, item->decimals);
    item->value = whole;
    item->fractionDigits = static_cast<uint32_t>(digits);
    if (item->decimals > 0) {
        int16_t exactWhole = 0;
        int32_t exactFraction = 0;
        fprDecode(value, &exactWhole, &exactFraction);
        item->value = exactWhole;
        item->fraction = exactFraction;
    } else {
        // The shown whole number is the value; no fraction may linger under it.
        item->fraction = 0;
    }
}

fpr_t fixedPointOf(const MenuItem *item) {
    fpr_t value = 0;
    if (fprGen(item->value, item->fraction, &value) != 0) {
        fprGen(item->value, 0, &value);
    }
    return value;
}

void stepValue(int direction) {
    MenuItem *item = m_CurrentMenuItemPtr;
    if (item == nullptr) {
        return;
    }
    if (item->isFixedPoint != 0) {
        fpr_t value = fixedPointOf(item);
        fpr_t stepped = value;
        int failed = direction > 0 ? fprAdd(value, static_cast<fpr_t>(item->step), &stepped)
                                   : fprSub(value, static_cast<fpr_t>(item->step), &stepped);
        if (direction > 0 && (failed != 0 || stepped > item->max)) {
            stepped = item->wrap != 0 ? item->min : item->max;
        } else if (direction < 0 && (failed != 0 || stepped < item->min)) {
            stepped = item->wrap != 0 ? item->max : item->min;
        }
        storeFixedPoint(item, stepped);
    } else {
        int64_t stepped = static_cast<int64_t>(item->value) +
                          (direction > 0 ? 1 : -1) * static_cast<int64_t>(item->step);
        if (direction > 0 && stepped > item->max) {
            stepped = item->wrap != 0 ? item->min : item->max;
        } else if (direction < 0 && stepped < item->min) {
            stepped = item->wrap != 0 ? item->max : item->min;
        }
        item->value = static_cast<int16_t>(stepped);
    }
    if (g_HoldPageSelected == 1) {
        // An edit on the hold page restarts the page's time-out as its row gives it.
        const PageEntry &hold = dispManPageEntry(PAGE_HOLD);
        displayManagerSetTimeout(hold.timeoutS, hold.onTimeout);
    }
}

// The record at a position of the highlight range, counted from the page base.
MenuItem *rangeRecord(uint8_t position) {
    if (m_CurrentPagePtr == nullptr || position < g_MinMenuIndex) {
        return nullptr;
    }
    return m_CurrentPagePtr + (position - g_MinMenuIndex);
}

void setGlyph(MenuItem *item, const char *path) {
    if (item != nullptr && path != nullptr) {
        screenReplaceBitmap(g_displayHdl, item->handle, path);
    }
}

void showGlyphOfValue(MenuItem *item) {
    if (item->value >= 0 && static_cast<size_t>(item->value) < MENU_GLYPH_LIST_SIZE) {
        setGlyph(item, c_CurrentGlyph[item->value]);
    }
}

void setMenuVisibility(MenuItem *menu, uint8_t count, uint8_t visible) {
    if (menu == nullptr) {
        return;
    }
    for (uint8_t i = 0; i < count; i++) {
        ScreenItem *item = menu[i].handle;
        if (item == nullptr) {
            continue;
        }
        screenSetItemVisibility(g_displayHdl, item, visible);
    }
}

// The buttons a highlighted text can lie on, and their highlighted pictures.
struct BarButton {
    const char *image;
    int16_t width;
    int16_t height;
    const char *onImage;
};
constexpr BarButton c_BarButtons[] = {
    {"./images/Graphic-Button-OFF.png", 112, 34, "./images/Graphic-Button-ON.png"},
    {"./images/Setup/Setup-Button-Graphic-OFF.png", 200, 30,
     "./images/Setup/Setup-Button-Graphic-ON.png"},
};
// Bars and outlines span the screen but for this margin and start this far
// above their first text; digit outlines sit this far right of and below
// their digit's origin.
constexpr int16_t ROW_BAR_X = 4;
constexpr int16_t ROW_BAR_DY = -2;
constexpr uint32_t DIGIT_FONT_SIZE = 30;
constexpr int16_t DIGIT_BAR_DX = -6;
constexpr int16_t DIGIT_BAR_DY = 3;

// Whether the screen on display holds the item (a slot keeps the item of the
// last screen loaded that binds it, which may be another page's).
bool onScreen(const ScreenItem *item) {
    if (item == nullptr || g_displayHdl == nullptr) {
        return false;
    }
    for (const ScreenItem *i = g_displayHdl->currentScreen;
         i != nullptr && i->kind != SCREEN_ITEM_END; i++) {
        if (i == item) {
            return true;
        }
    }
    return false;
}

bool barShown() {
    return onScreen(g_HighlightBarHdl);
}

const BarButton *buttonOf(const ScreenItem *item) {
    if (item->kind != SCREEN_ITEM_BITMAP || item->imageFile == nullptr) {
        return nullptr;
    }
    for (const BarButton &b : c_BarButtons) {
        if (strcmp(item->imageFile, b.image) == 0 || strcmp(item->imageFile, b.onImage) == 0) {
            return &b;
        }
    }
    return nullptr;
}

// Every button of the screen shows its "on" picture when the text lies on
// it and its own otherwise; true when the text lies on one.
bool lightButtons(const ScreenItem *text) {
    bool onButton = false;
    for (ScreenItem *i = g_displayHdl->currentScreen; i->kind != SCREEN_ITEM_END; i++) {
        const BarButton *b = buttonOf(i);
        if (b == nullptr) {
            continue;
        }
        bool under = text != nullptr && text->x >= i->x && text->x < i->x + b->width &&
                     text->y >= i->y && text->y < i->y + b->height;
        screenReplaceBitmap(g_displayHdl, i, under ? b->onImage : b->image);
        onButton = onButton || under;
    }
    return onButton;
}

// A setting of a list page: its label and its value, the value at the end of
// the label's line or on the line under it.
struct Setting {
    const ScreenItem *label;
    const ScreenItem *value;
};

// The setting a text belongs to, from the texts of the screen on display: a
// text beside it on its line, else one a value's line below (or above) it
// towards the right (or left). A text with neither is a setting alone.
Setting settingOf(const ScreenItem *text) {
    const ScreenItem *below = nullptr;
    const ScreenItem *above = nullptr;
    for (const ScreenItem *i = g_displayHdl->currentScreen; i->kind != SCREEN_ITEM_END; i++) {
        if (i == text || i->kind != SCREEN_ITEM_TEXT || i->textBoxed != SCREEN_TEXT_BOX_NONE) {
            continue;
        }
        if (i->y == text->y) {
            return i->x < text->x ? Setting{i, text} : Setting{text, i};
        }
        if (i->y == text->y + SETUP_VALUE_DY && i->x > text->x) {
            below = i;
        } else if (i->y == text->y - SETUP_VALUE_DY && i->x < text->x) {
            above = i;
        }
    }
    if (below != nullptr) {
        return Setting{text, below};
    }
    return above != nullptr ? Setting{above, text} : Setting{text, text};
}

// Puts the bar under the current record in its look; returns the text that
// is being changed (it takes the active colour), or null.
const ScreenItem *placeBar(const MenuItem *current) {
    ScreenItem *text = current->handle;
    if (text != nullptr && text->kind != SCREEN_ITEM_TEXT) {
        text = nullptr;
    }
    if (lightButtons(text) || text == nullptr) {
        screenSetBitmapVisibility(g_displayHdl, g_HighlightBarHdl, 0);
        return nullptr;
    }
    const ScreenItem *changed = text;
    if (text->fontSize >= DIGIT_FONT_SIZE) {
        screenReplaceAndMoveBitmap(g_displayHdl, g_HighlightBarHdl, MENU_DIGIT_EDIT_IMAGE,
                                   static_cast<int16_t>(text->x + DIGIT_BAR_DX),
                                   static_cast<int16_t>(text->y + DIGIT_BAR_DY));
    } else {
        Setting setting = settingOf(text);
        bool editing = setting.value == text && setting.label != text;
        bool twoLines = setting.value->y != setting.label->y;
        const char *image = editing ? (twoLines ? MENU_ROWS_EDIT_IMAGE : MENU_ROW_EDIT_IMAGE)
                                    : (twoLines ? MENU_ROWS_BAR_IMAGE : MENU_ROW_BAR_IMAGE);
        screenReplaceAndMoveBitmap(g_displayHdl, g_HighlightBarHdl, image, ROW_BAR_X,
                                   static_cast<int16_t>(setting.label->y + ROW_BAR_DY));
        changed = editing ? text : nullptr;
    }
    screenSetBitmapVisibility(g_displayHdl, g_HighlightBarHdl, 1);
    return changed;
}

} // namespace

ScreenItem *g_HighlightBarHdl = nullptr;
uint8_t g_MinMenuIndex = 0;
uint8_t g_MaxMenuIndex = 0;
MenuHighlightFn g_HighlightItemPtr = nullptr;
uint32_t g_ActiveColor = MENU_ACTIVE_COLOR;
uint32_t g_InactiveColor = MENU_INACTIVE_COLOR;
uint8_t g_HoldPageSelected = 0;
uint8_t g_bDayIcon = 1;
const char *const c_ProgTime[2] = {"am", "pm"};

void setCurrentMenuPtr(MenuItem *menu, uint8_t position) {
    m_CurrentMenu = menu;
    m_CurrentMenuItemIndex = position;
    m_CurrentMenuItemPtr = menu != nullptr ? menu + position : nullptr;
}

MenuItem *getCurrentMenuPtr() {
    return m_CurrentMenuItemPtr;
}

uint8_t getCurrentMenuIndex() {
    return m_CurrentMenuItemIndex;
}

void setCurrentPagePtr(MenuItem *menu, uint8_t position) {
    m_CurrentPageIndex = position;
    m_CurrentPagePtr = menu != nullptr ? menu + position : nullptr;
}

MenuItem *getCurrentPagePtr() {
    return m_CurrentPagePtr;
}

uint8_t getCurrentPageIndex() {
    return m_CurrentPageIndex;
}

void setCurrentHighlightPtr(MenuHighlightFn hook) {
    g_HighlightItemPtr = hook;
    if (hook != nullptr) {
        hook();
    }
}

void displayHighlightedItem() {
    if (g_HighlightItemPtr != nullptr) {
        g_HighlightItemPtr();
    }
}

void incrementMenuItemValue() {
    stepValue(1);
}

void decrementMenuItemValue() {
    stepValue(-1);
}

void displayNextValidValue() {
    MenuItem *item = m_CurrentMenuItemPtr;
    if (item == nullptr) {
        return;
    }
    int64_t next = static_cast<int64_t>(item->value) + item->step;
    item->value = static_cast<int16_t>(next > item->max ? item->min : next);
    displayHighlightedItem();
}

void displayNextValidGlyph() {
    MenuItem *item = m_CurrentMenuItemPtr;
    if (item == nullptr) {
        return;
    }
    int64_t next = static_cast<int64_t>(item->value) + item->step;
    item->value = static_cast<int16_t>(next > item->max ? item->min : next);
    showGlyphOfValue(item);
}

void displayPrevValidGlyph() {
    MenuItem *item = m_CurrentMenuItemPtr;
    if (item == nullptr) {
        return;
    }
    int64_t prev = static_cast<int64_t>(item->value) - item->step;
    item->value = static_cast<int16_t>(prev < item->min ? item->max : prev);
    showGlyphOfValue(item);
}

void displayNextVacModeImage() {
    displayNextValidGlyph();
}

void setCurrentGlyph(const char *const *list, uint8_t count) {
    for (size_t i = 0; i < MENU_GLYPH_LIST_SIZE; i++) {
        c_CurrentGlyph[i] = list != nullptr && i < count ? list[i] : nullptr;
    }
}

void resetCurrentGlyph() {
    setCurrentGlyph(nullptr, 0);
}

void displayIncMenuPtrPage() {
    if (m_CurrentMenu == nullptr || g_MaxMenuIndex == 0) {
        return;
    }
    uint8_t next = m_CurrentMenuItemIndex + 1 >= g_MaxMenuIndex ? 0 : m_CurrentMenuItemIndex + 1;
    setCurrentMenuPtr(m_CurrentMenu, next);
    displayHighlightedItem();
}

void displayDecMenuPtrPage() {
    if (m_CurrentMenu == nullptr || g_MaxMenuIndex == 0) {
        return;
    }
    uint8_t prev = m_CurrentMenuItemIndex == 0 || m_CurrentMenuItemIndex >= g_MaxMenuIndex
                       ? g_MaxMenuIndex - 1
                       : m_CurrentMenuItemIndex - 1;
    setCurrentMenuPtr(m_CurrentMenu, prev);
    displayHighlightedItem();
}

void updateHighlightedItem() {
    if (g_HoldPageSelected != 0 || m_CurrentMenuItemPtr == nullptr) {
        return;
    }
    uint32_t active = g_ActiveColor;
    if (barShown() && placeBar(m_CurrentMenuItemPtr) == nullptr) {
        active = g_InactiveColor;
    }
    for (uint8_t pos = g_MinMenuIndex; pos < g_MaxMenuIndex; pos++) {
        MenuItem *rec = rangeRecord(pos);
        if (rec == nullptr) {
            return;
        }
        screenUpdateTextColor(g_displayHdl, rec->handle,
                              rec->index == m_CurrentMenuItemPtr->index ? active : g_InactiveColor);
    }
}

void updateHighlightedGlyph() {
    if (m_CurrentMenuItemPtr == nullptr) {
        return;
    }
    for (uint8_t pos = g_MinMenuIndex; pos < g_MaxMenuIndex; pos++) {
        MenuItem *rec = rangeRecord(pos);
        if (rec == nullptr) {
            return;
        }
        if (rec->hasGlyphs != 0) {
            setGlyph(rec, rec->index == m_CurrentMenuItemPtr->index ? rec->activeGlyph
                                                                    : rec->inactiveGlyph);
        }
    }
}

void inactivateItems() {
    for (uint8_t pos = g_MinMenuIndex; pos < g_MaxMenuIndex; pos++) {
        MenuItem *rec = rangeRecord(pos);
        if (rec == nullptr) {
            return;
        }
        if (rec->hasGlyphs != 0) {
            setGlyph(rec, rec->inactiveGlyph);
        }
    }
}

void incrementProgModeTimeValue() {
    MenuItem *item = m_CurrentMenuItemPtr;
    if (item != nullptr) {
        item->value = item->value >= HOUR_MAX ? HOUR_MIN : static_cast<int16_t>(item->value + 1);
    }
}

void decrementProgModeTimeValue() {
    MenuItem *item = m_CurrentMenuItemPtr;
    if (item != nullptr) {
        item->value = item->value <= HOUR_MIN ? HOUR_MAX : static_cast<int16_t>(item->value - 1);
    }
}

void displayValidTime() {
    MenuItem *item = m_CurrentMenuItemPtr;
    if (item == nullptr) {
        return;
    }
    int64_t next = static_cast<int64_t>(item->value) + item->step;
    item->value = static_cast<int16_t>(next > item->max ? item->min : next);
    screenUpdateTextColor(g_displayHdl, item->handle, MENU_ACTIVE_COLOR);
}

uint8_t menuHourTo24(uint8_t hour12, uint8_t pm) {
    if (pm == 0) {
        return hour12 == 12 ? 0 : hour12;
    }
    return hour12 == 12 ? 12 : static_cast<uint8_t>(hour12 + 12);
}

void menuHourFrom24(uint8_t hour24, uint8_t *hour12, uint8_t *pm) {
    *pm = hour24 >= 12 ? 1 : 0;
    if (hour24 == 0 || hour24 == 12) {
        *hour12 = 12;
    } else {
        *hour12 = hour24 > 12 ? static_cast<uint8_t>(hour24 - 12) : hour24;
    }
}

void menuShowItem(ScreenItem *item, bool shown) {
    screenSetItemVisibility(g_displayHdl, item, shown ? 1 : 0);
}

void menuShowGlyph(MenuItem &item, bool active) {
    screenReplaceBitmap(g_displayHdl, item.handle, active ? item.activeGlyph : item.inactiveGlyph);
}

void menuClearRecords(MenuItem *menu, uint8_t count) {
    for (uint8_t i = 0; i < count; i++) {
        ScreenItem *handle = menu[i].handle;
        menu[i] = MenuItem{};
        menu[i].index = i;
        menu[i].handle = handle;
    }
}

void setMenuItemLocation(MenuItem *item, int16_t x) {
    if (item == nullptr || item->handle == nullptr) {
        return;
    }
    if (item->handle->kind == SCREEN_ITEM_TEXT) {
        screenMoveText(g_displayHdl, item->handle, x, item->handle->y);
    } else if (item->handle->x != x) {
        screenMoveBitmap(g_displayHdl, item->handle, x, item->handle->y);
    }
}

void hidePuMenu(MenuItem *menu, uint8_t count) {
    setMenuVisibility(menu, count, 0);
}

void showPuMenu(MenuItem *menu, uint8_t count) {
    setMenuVisibility(menu, count, 1);
}

void menuUnselectCurrentItem() {
    MenuItem *item = m_CurrentMenuItemPtr;
    if (item == nullptr) {
        return;
    }
    if (item->hasGlyphs != 0) {
        setGlyph(item, item->inactiveGlyph);
    } else {
        screenUpdateTextColor(g_displayHdl, item->handle, g_InactiveColor);
    }
}

int menuGetClock(TstatClockCfg_t *clock) {
    int64_t now = util_time(nullptr);
    if (now == -1 || now != m_ClockSecond) {
        if (getClockConfiguration(&m_Clock) != 0) {
            m_ClockSecond = -1;
            *clock = m_Clock;
            return -1;
        }
        m_ClockSecond = now;
    }
    *clock = m_Clock;
    return 0;
}

void createDateString(char *text, size_t size) {
    if (text == nullptr || size == 0) {
        return;
    }
    TstatClockCfg_t clock{};
    menuGetClock(&clock);
    TstatFmtSettings_t fmt{};
    getThermostatFormatSettings(&fmt);
    int day = clock.day;
    int month = clock.month + 1;
    // Years since 1900, shown as their last two digits: 2100 is 00, not 100.
    int year = clock.year % YEARS_TO_2000;
    switch (fmt.dateFormat) {
    case DATE_FORMAT_DD_MM_YY:
        snprintf(text, size, "%02d-%02d-%02d", day, month, year);
        break;
    case DATE_FORMAT_YY_MM_DD:
        snprintf(text, size, "%02d-%02d-%02d", year, month, day);
        break;
    default:
        snprintf(text, size, "%02d-%02d-%02d", month, day, year);
        break;
    }
}

void formatClockTime(uint8_t hour, uint8_t minute, char *text, size_t size) {
    if (text == nullptr || size == 0) {
        return;
    }
    TstatFmtSettings_t fmt{};
    getThermostatFormatSettings(&fmt);
    if (fmt.timeFormat == TIME_FORMAT_24_HOUR) {
        snprintf(text, size, "%d:%02d", hour, minute);
    } else {
        uint8_t hour12 = 12;
        uint8_t pm = 0;
        menuHourFrom24(hour, &hour12, &pm);
        snprintf(text, size, "%d:%02d %s", hour12, minute, c_ProgTime[pm]);
    }
}

void createTimeString(char *text, size_t size) {
    if (text == nullptr || size == 0) {
        return;
    }
    TstatClockCfg_t clock{};
    menuGetClock(&clock);
    formatClockTime(clock.hour, clock.minute, text, size);
    g_bDayIcon = clock.hour >= 6 && clock.hour <= 17 ? 1 : 0;
}

void setLastHvacState(uint32_t state) {
    m_LastHvacState = state;
}

uint32_t getLastHvacState() {
    return m_LastHvacState;
}

void setSettingsPageExitted(uint8_t exited) {
    m_SettingsPageExit = exited;
}

uint8_t getSettingsPageExitted() {
    return m_SettingsPageExit;
}

void menuEngineReset() {
    m_CurrentMenu = nullptr;
    m_CurrentMenuItemPtr = nullptr;
    m_CurrentMenuItemIndex = 0;
    m_CurrentPagePtr = nullptr;
    m_CurrentPageIndex = 0;
    resetCurrentGlyph();
    m_LastHvacState = 0;
    m_SettingsPageExit = 0;
    m_Clock = TstatClockCfg_t{};
    m_ClockSecond = -1;
    g_MinMenuIndex = 0;
    g_MaxMenuIndex = 0;
    g_HighlightItemPtr = nullptr;
    g_HighlightBarHdl = nullptr;
    g_ActiveColor = MENU_ACTIVE_COLOR;
    g_InactiveColor = MENU_INACTIVE_COLOR;
    g_HoldPageSelected = 0;
    g_bDayIcon = 1;
}
