// Parts that recur in the pages' screen tables: the fonts, the clock texts,
// the day bar and the under-voltage warning text, with their update
// functions.
#pragma once

#include "dispman/display_manager.h"
#include "graphics/screen.h"
#include "menus/menu_engine.h"

#include <cstddef>
#include <cstdint>

constexpr const char *FONT_BOLD = "./fonts/arialbd.ttf";
constexpr const char *FONT_REGULAR = "./fonts/arial.ttf";
constexpr uint32_t CLOCK_TEXT_COLOR = 0x3D3D3D;
constexpr uint32_t WHITE_TEXT_COLOR = 0xFFFFFF;
constexpr uint32_t UNDERVOLTAGE_TEXT_COLOR = 0xF00000;
constexpr uint32_t UNDERVOLTAGE_BOX_COLOR = 0xFFF4D6;
// Point size of a security code page's digits, and the tops of its buttons.
constexpr uint32_t CODE_DIGIT_SIZE = 36;
constexpr int16_t CODE_ENTER_Y = 180;
constexpr int16_t CODE_CANCEL_Y = 224;

// The day bar's seven day images (0 Sunday), bound by every screen that has one.
constexpr size_t DAY_BAR_DAYS = 7;
extern ScreenItem *g_DayBarGraphic[DAY_BAR_DAYS];

// Text update functions of the clock strip: the time and the date (which
// also keeps today shown on the day bar).
void drawMainScrTime(char *buffer);
void drawMainScrDate(char *buffer);
// Shows today's image of the day bar alone.
void showDayBar(uint8_t dayOfWeek);
// A page's title in the clock strip; keeps today shown on the day bar.
void drawTitleOverDayBar(char *buffer, const char *title);
// Text update function of every screen's warning text: the warning blinks
// while under-voltage is reported, and is empty otherwise.
void drawUnderVoltageWarning(char *buffer);

// The time at (4, y) and the date at (175, y), bold 14 points.
#define SCREEN_CLOCK_ITEMS(y)                                                                      \
    screenText(4, y, nullptr, drawMainScrTime, FONT_BOLD, 14, CLOCK_TEXT_COLOR),                   \
        screenText(175, y, nullptr, drawMainScrDate, FONT_BOLD, 14, CLOCK_TEXT_COLOR)

// The seven day images of the day bar (today's alone is shown).
#define SCREEN_DAY_IMAGES                                                                          \
    screenBitmap(0, 0, &g_DayBarGraphic[0],                                                        \
                 "./images/SharedComposite/Days-01-Graphic-Sunday-ON.png"),                        \
        screenBitmap(34, 0, &g_DayBarGraphic[1],                                                   \
                     "./images/SharedComposite/Days-02-Graphic-Monday-ON.png"),                    \
        screenBitmap(69, 0, &g_DayBarGraphic[2],                                                   \
                     "./images/SharedComposite/Days-03-Graphic-Tuesday-ON.png"),                   \
        screenBitmap(103, 0, &g_DayBarGraphic[3],                                                  \
                     "./images/SharedComposite/Days-04-Graphic-Wednesday-ON.png"),                 \
        screenBitmap(138, 0, &g_DayBarGraphic[4],                                                  \
                     "./images/SharedComposite/Days-05-Graphic-Thursday-ON.png"),                  \
        screenBitmap(173, 0, &g_DayBarGraphic[5],                                                  \
                     "./images/SharedComposite/Days-06-Graphic-Friday-ON.png"),                    \
        screenBitmap(207, 0, &g_DayBarGraphic[6],                                                  \
                     "./images/SharedComposite/Days-07-Graphic-Saturday-ON.png")

// The day bar's background and its day images.
#define SCREEN_DAY_BAR                                                                             \
    screenBitmap(0, 0, nullptr, "./images/SharedComposite/DayBar-OFF.png"), SCREEN_DAY_IMAGES

// A help screen: the pinstripes, the help panel with its title and text
// images (named "Help-H1-Text-<title>.png", "Help-Text-<text>.png"), the
// clock texts and the day bar.
#define SCREEN_HELP_ITEMS(title, text)                                                             \
    screenBitmap(0, 0, nullptr, "./images/Graphic-Bkgd-Pinstripes.png"),                           \
        screenBitmap(0, 0, nullptr, "./images/Help/Help-Graphic-Bkgd.png"),                        \
        screenBitmap(0, 52, nullptr, "./images/Help/Help-H1-Text-" title ".png"),                  \
        screenBitmap(17, 86, nullptr, "./images/Help/Help-Text-" text ".png"),                     \
        SCREEN_CLOCK_ITEMS(30), SCREEN_DAY_BAR

// An action button of the menu pages (Enter, Cancel, More, Exit): the
// button picture and its text, which the text's update function centres on
// the screen (drawAlignedText on BUTTON_CENTRE_X). A link button is the wider
// button that opens another page.
constexpr int16_t BUTTON_X = 64;
constexpr int16_t LINK_BUTTON_X = 20;
constexpr int16_t BUTTON_CENTRE_X = 120;
// The top of a page's bottom button (More, Exit).
constexpr int16_t BUTTON_BOTTOM_Y = 280;
constexpr int16_t BUTTON_TEXT_DY = 9;
constexpr int16_t LINK_BUTTON_TEXT_DY = 7;
constexpr uint32_t BUTTON_TEXT_SIZE = 14;
constexpr const char *BUTTON_IMAGE = "./images/Graphic-Button-OFF.png";
constexpr const char *LINK_BUTTON_IMAGE = "./images/Setup/Setup-Button-Graphic-OFF.png";
#define SCREEN_BUTTON(y, slot, update)                                                             \
    screenBitmap(BUTTON_X, y, nullptr, BUTTON_IMAGE),                                              \
        screenText(BUTTON_X + 8, (y) + BUTTON_TEXT_DY, slot, update, FONT_BOLD, BUTTON_TEXT_SIZE,  \
                   WHITE_TEXT_COLOR)
#define SCREEN_BUTTON_INDEXED(y, slot, update, index)                                              \
    screenBitmap(BUTTON_X, y, nullptr, BUTTON_IMAGE),                                              \
        screenTextIndexed(BUTTON_X + 8, (y) + BUTTON_TEXT_DY, slot, update, index, FONT_BOLD,      \
                          BUTTON_TEXT_SIZE, WHITE_TEXT_COLOR)
#define SCREEN_LINK_BUTTON_INDEXED(y, slot, update, index)                                         \
    screenBitmap(LINK_BUTTON_X, y, nullptr, LINK_BUTTON_IMAGE),                                    \
        screenTextIndexed(LINK_BUTTON_X + 8, (y) + LINK_BUTTON_TEXT_DY, slot, update, index,       \
                          FONT_BOLD, BUTTON_TEXT_SIZE, WHITE_TEXT_COLOR)

// A security code page: the setup background, the day bar, a title text in
// the clock strip (update function titleFn), the four large digits of the
// six code records of `menu` (update functions digit1Fn to digit4Fn), then
// the "Enter" and "Cancel" buttons (enterFn, cancelFn).
#define SCREEN_CODE_ENTRY_ITEMS(menu, titleFn, digit1Fn, digit2Fn, digit3Fn, digit4Fn, enterFn,    \
                                cancelFn)                                                          \
    screenBitmap(0, 0, nullptr, "./images/Setup/bkg.png"), SCREEN_DAY_BAR, SCREEN_HIGHLIGHT_BAR,   \
        screenText(8, 28, nullptr, titleFn, FONT_BOLD, 14, CLOCK_TEXT_COLOR),                      \
        screenText(58, 96, &(menu)[0].handle, digit1Fn, FONT_BOLD, CODE_DIGIT_SIZE,                \
                   WHITE_TEXT_COLOR),                                                              \
        screenText(95, 96, &(menu)[1].handle, digit2Fn, FONT_BOLD, CODE_DIGIT_SIZE,                \
                   WHITE_TEXT_COLOR),                                                              \
        screenText(132, 96, &(menu)[2].handle, digit3Fn, FONT_BOLD, CODE_DIGIT_SIZE,               \
                   WHITE_TEXT_COLOR),                                                              \
        screenText(169, 96, &(menu)[3].handle, digit4Fn, FONT_BOLD, CODE_DIGIT_SIZE,               \
                   WHITE_TEXT_COLOR),                                                              \
        SCREEN_BUTTON(CODE_ENTER_Y, &(menu)[SEC_CODE_ENTER].handle, enterFn),                      \
        SCREEN_BUTTON(CODE_CANCEL_Y, &(menu)[SEC_CODE_CANCEL].handle, cancelFn)

// The highlight bar of a menu screen: after the screen's pictures, before its
// texts and buttons; the menu engine places it under the current item.
#define SCREEN_HIGHLIGHT_BAR screenBitmap(4, 0, &g_HighlightBarHdl, MENU_ROW_BAR_IMAGE)

// The under-voltage warning, empty while there is none: a band over the
// page's head (the day bar and the clock line), which it covers whole. The
// band reaches down to UNDERVOLTAGE_BAND_BOTTOM (the display manager's): its
// text's 28-pixel line with as much room below as above; what must stay
// readable lies lower.
constexpr int16_t UNDERVOLTAGE_TEXT_Y = 10;
constexpr uint32_t UNDERVOLTAGE_TEXT_SIZE = 24;
#define SCREEN_UNDERVOLTAGE_TEXT_AT(y)                                                             \
    screenTextBanner(y, &g_UndervoltageTextHdl, drawUnderVoltageWarning, FONT_BOLD,                \
                     UNDERVOLTAGE_TEXT_SIZE, UNDERVOLTAGE_TEXT_COLOR, UNDERVOLTAGE_BOX_COLOR)
#define SCREEN_UNDERVOLTAGE_TEXT SCREEN_UNDERVOLTAGE_TEXT_AT(UNDERVOLTAGE_TEXT_Y)
// The weather pages' head is the day bar or a title bar alone, and their
// pictures start right under it: their band is only as deep as that head.
constexpr int16_t UNDERVOLTAGE_SHALLOW_TEXT_Y = 3;
#define SCREEN_UNDERVOLTAGE_SHALLOW_TEXT SCREEN_UNDERVOLTAGE_TEXT_AT(UNDERVOLTAGE_SHALLOW_TEXT_Y)

// A copy of a screen table as written, taken before main(): pages change
// their items (images, places, visibility, blinking) and their resets put
// the tables back as they were for the next test.
template <size_t N> class ScreenTableBackup {
  public:
    explicit ScreenTableBackup(ScreenItem (&table)[N]) : m_table(table) {
        for (size_t i = 0; i < N; i++) {
            m_items[i] = table[i];
        }
    }
    void restore() const {
        for (size_t i = 0; i < N; i++) {
            m_table[i] = m_items[i];
        }
    }

  private:
    ScreenItem (&m_table)[N];
    ScreenItem m_items[N];
};
