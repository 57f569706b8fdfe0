// Menu engine: the records behind every editable page and pop-up menu, the
// one current item, value stepping within limits, highlighting, pop-up
// visibility, and the clock texts the pages show.
//
// A menu is a static array of MenuItem records owned by its page. The page's
// screen table names the `handle` field of each record as a handle slot, so
// the screen engine stores there the text or bitmap item that shows the
// record. Opening a page sets the current item and page base, the range of
// positions (g_MinMenuIndex up to, not including, g_MaxMenuIndex), the
// highlight hook and the display manager's key slots; the key handlers then
// call the operations below. The stepping operations never draw: the page's
// text update functions show the new value at the next render pass.
#pragma once

#include "config/data_dict.h"
#include "graphics/screen.h"

#include <cstddef>
#include <cstdint>

// One menu record.
struct MenuItem {
    uint8_t index;           // position in its menu, 0-based
    int16_t value;           // integer value, or the integer part of a fixed-point one
    int32_t fraction;        // fixed-point items: fraction in hundred-millionths
    uint32_t fractionDigits; // fixed-point items: fraction rounded to `decimals` digits
    uint8_t decimals;        // decimals shown
    int32_t min;             // lower limit (fixed-point for fixed-point items)
    int32_t max;             // upper limit
    uint32_t step;           // increment (fixed-point for fixed-point items)
    uint8_t wrap;            // 1: stepping past one limit continues at the other
    uint8_t isFixedPoint;    // 1: value/fraction form a fixed-point number
    uint8_t hasGlyphs;       // 1: shown as a bitmap that changes with the highlight
    int16_t *cursorX;        // marker coordinates some menus keep (may be null)
    int16_t *cursorY;
    ScreenItem *handle;        // the screen item showing the record
    const char *activeGlyph;   // image while highlighted (hasGlyphs items)
    const char *inactiveGlyph; // image otherwise
};

// A highlight hook (updateHighlightedItem, updateHighlightedGlyph or a page's own).
typedef void (*MenuHighlightFn)();

// Positions the highlight routines and item navigation cover.
extern uint8_t g_MinMenuIndex;
extern uint8_t g_MaxMenuIndex;
extern MenuHighlightFn g_HighlightItemPtr;
// Text colours of the highlighted item and of the others.
extern uint32_t g_ActiveColor;
extern uint32_t g_InactiveColor;
// 1 while the hold page is being edited: no recolouring, and every value
// change restarts the hold page's time-out.
extern uint8_t g_HoldPageSelected;
// 1 from 6:00 to 17:59 (day icons), set by createTimeString.
extern uint8_t g_bDayIcon;

constexpr uint32_t MENU_ACTIVE_COLOR = 0x00FF00;
constexpr uint32_t MENU_INACTIVE_COLOR = 0xFFFFFF;
// The highlight bar of the screen on display, bound by the screens that
// have one (SCREEN_HIGHLIGHT_BAR), and its pictures. Every page shows the
// same two looks: the item the keys act on lies on a filled bar (or its
// button lights); a value the keys are changing is framed by an outline and
// shows in the active colour. A setting whose value has a line of its own
// under its label takes the two-line forms.
extern ScreenItem *g_HighlightBarHdl;
constexpr const char *MENU_ROW_BAR_IMAGE = "./images/Setup/Setup-Row-ON.png";
constexpr const char *MENU_ROWS_BAR_IMAGE = "./images/Setup/Setup-Rows-ON.png";
constexpr const char *MENU_ROW_EDIT_IMAGE = "./images/Setup/Setup-Row-EDIT.png";
constexpr const char *MENU_ROWS_EDIT_IMAGE = "./images/Setup/Setup-Rows-EDIT.png";
constexpr const char *MENU_DIGIT_EDIT_IMAGE = "./images/Setup/Setup-Digit-EDIT.png";
// Blink period of the item being edited, milliseconds.
constexpr uint32_t c_TextBlinkRate = 250;
// Entries of the glyph list that glyph-cycling items index by value.
constexpr size_t MENU_GLYPH_LIST_SIZE = 5;
// "am", "pm".
extern const char *const c_ProgTime[2];

// ---- Current item and page base -------------------------------------------------

void setCurrentMenuPtr(MenuItem *menu, uint8_t position);
MenuItem *getCurrentMenuPtr();
uint8_t getCurrentMenuIndex();
void setCurrentPagePtr(MenuItem *menu, uint8_t position);
MenuItem *getCurrentPagePtr();
uint8_t getCurrentPageIndex();
// Stores the hook and, when it is not null, calls it at once.
void setCurrentHighlightPtr(MenuHighlightFn hook);
void displayHighlightedItem();

// ---- Values --------------------------------------------------------------------------

// Steps the current item's value by its step within min and max (wrapping
// when `wrap` is set); on the hold page also restarts its 10 s time-out.
void incrementMenuItemValue();
void decrementMenuItemValue();
// Next choice of a list: value + step, always wrapping to min after max;
// then the highlight hook.
void displayNextValidValue();
// Next (prev) glyph with wrapping; the item's bitmap becomes entry `value`
// of the glyph list.
void displayNextValidGlyph();
void displayPrevValidGlyph();
void displayNextVacModeImage();
// Copies up to MENU_GLYPH_LIST_SIZE image paths into the glyph list.
void setCurrentGlyph(const char *const *list, uint8_t count);
void resetCurrentGlyph();

// ---- Navigation and highlighting ------------------------------------------------------

// Next / previous position of the current menu (0 after the last, the last
// before 0), then the highlight hook.
void displayIncMenuPtrPage();
void displayDecMenuPtrPage();
// Text colours: the current record g_ActiveColor, the others g_InactiveColor.
// On a screen with a highlight bar the bar shows the current record's look
// instead: a button it is drawn on turns to its "on" picture; a label lies
// with its value on the filled bar; a value, framed with its label, and a
// digit, framed alone, are being changed and alone take g_ActiveColor.
void updateHighlightedItem();
// Glyph records: the current one its activeGlyph, the others their inactiveGlyph.
void updateHighlightedGlyph();
// Every glyph record of the range shows its inactiveGlyph.
void inactivateItems();

// ---- Time editing (hour 1-12, minute, am/pm items one after another) -------------------

void incrementProgModeTimeValue();
void decrementProgModeTimeValue();
// Toggles the current am/pm item and shows it in the active colour.
void displayValidTime();
// 12-hour hour (1-12) and am/pm (0 am, 1 pm) to a 24-hour hour, and back.
uint8_t menuHourTo24(uint8_t hour12, uint8_t pm);
void menuHourFrom24(uint8_t hour24, uint8_t *hour12, uint8_t *pm);

// ---- Screen items of records ------------------------------------------------------------

// Shows or hides one screen item.
void menuShowItem(ScreenItem *item, bool shown);
// Shows the record's highlighted picture when active, else its plain one.
void menuShowGlyph(MenuItem &item, bool active);
// Clears the first count records to their empty state with their positions
// as index, keeping each record's screen item (made once, when the page was).
void menuClearRecords(MenuItem *menu, uint8_t count);
// Moves the record's screen item to horizontal position x.
void setMenuItemLocation(MenuItem *item, int16_t x);
// Hide or show the screen items of the first count records.
void hidePuMenu(MenuItem *menu, uint8_t count);
void showPuMenu(MenuItem *menu, uint8_t count);
// The current record back to its unselected look (inactive glyph or colour).
void menuUnselectCurrentItem();

// ---- Clock texts ---------------------------------------------------------------------------

// The clock configuration (getClockConfiguration), converted once per second
// of wall time: the pages read it many times in every render pass.
int menuGetClock(TstatClockCfg_t *clock);

// The date as "%02d-%02d-%02d" in the configured order (day-month-year,
// month-day-year or year-month-day).
void createDateString(char *text, size_t size = SCREEN_TEXT_LEN);
// A time of day as every page shows it, by the time-format setting: "13:05"
// (24-hour) or "1:05 pm" (12-hour).
void formatClockTime(uint8_t hour, uint8_t minute, char *text, size_t size = SCREEN_TEXT_LEN);
// The clock's time as formatClockTime writes it; sets g_bDayIcon.
void createTimeString(char *text, size_t size = SCREEN_TEXT_LEN);

// ---- Stored values of other pages --------------------------------------------------------

void setLastHvacState(uint32_t state);
uint32_t getLastHvacState();
void setSettingsPageExitted(uint8_t exited);
uint8_t getSettingsPageExitted();

// Forgets the engine state. For tests.
void menuEngineReset();
