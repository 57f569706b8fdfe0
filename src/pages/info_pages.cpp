// Help, screen saver, message, hold and security code input pages.
#include "pages/info_pages.h"

#include "config/data_dict.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "hvac/hvac_control.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "pages/hold_menu.h"
#include "pages/main_page.h"
#include "pages/menu_pages.h"
#include "pages/pages.h"
#include "pages/security_code_menu.h"

#include <cstdio>
#include <cstring>

namespace {

// The screen saver's record: its item 0 is the moving temperature text.
MenuItem m_MainScreenMenu[1] = {};

} // namespace

ScreenItem testScreenHelp[HELP_SCREEN_ITEMS + 1] = {
    SCREEN_HELP_ITEMS("Help", "Info"),
    screenEnd(),
};

ScreenItem testScreenScrSvr[SCREEN_SAVER_ITEMS + 1] = {
    screenBitmap(0, 0, nullptr, "./images/screensaver.png"),
    screenText(0, 0, &m_MainScreenMenu[0].handle, drawMainScrIndoorTempScrSvr, FONT_BOLD, 80,
               0xD3D3D3),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

ScreenItem testScreenMessage[MESSAGE_SCREEN_ITEMS + 1] = {
    screenBitmap(0, 0, nullptr, "./images/MessageComposite/Message-Graphic-Bkgd.png"),
    SCREEN_CLOCK_ITEMS(28),
    SCREEN_DAY_IMAGES,
    screenTextIndexed(28, 87, nullptr, drawMessageScreen, 0, FONT_REGULAR, 15, WHITE_TEXT_COLOR),
    screenTextIndexed(28, 107, nullptr, drawMessageScreen, 1, FONT_REGULAR, 15, WHITE_TEXT_COLOR),
    screenTextIndexed(28, 127, nullptr, drawMessageScreen, 2, FONT_REGULAR, 15, WHITE_TEXT_COLOR),
    screenTextIndexed(28, 147, nullptr, drawMessageScreen, 3, FONT_REGULAR, 15, WHITE_TEXT_COLOR),
    screenTextIndexed(28, 167, nullptr, drawMessageScreen, 4, FONT_REGULAR, 15, WHITE_TEXT_COLOR),
    screenTextIndexed(28, 187, nullptr, drawMessageScreen, 5, FONT_REGULAR, 15, WHITE_TEXT_COLOR),
    screenTextIndexed(28, 207, nullptr, drawMessageScreen, 6, FONT_REGULAR, 15, WHITE_TEXT_COLOR),
    screenTextIndexed(28, 227, nullptr, drawMessageScreen, 7, FONT_REGULAR, 15, WHITE_TEXT_COLOR),
    screenTextIndexed(28, 247, nullptr, drawMessageScreen, 8, FONT_REGULAR, 15, WHITE_TEXT_COLOR),
    screenTextIndexed(28, 267, nullptr, drawMessageScreen, 9, FONT_REGULAR, 15, WHITE_TEXT_COLOR),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

void drawSecurityCodeTitle(char *buffer) {
    drawTitleOverDayBar(buffer, "Enter the security code");
}

} // namespace

// The code entry.
ScreenItem testScreenSecurityCodeInput[SECURITY_CODE_INPUT_ITEMS + 1] = {
    SCREEN_CODE_ENTRY_ITEMS(g_SecurityCodeMenu, drawSecurityCodeTitle, drawSecurityCodeValue1,
                            drawSecurityCodeValue2, drawSecurityCodeValue3, drawSecurityCodeValue4,
                            drawSecurityCodeEnter, drawSecurityCodeCancel),
    screenEnd(),
};

namespace {

const ScreenTableBackup c_HelpBackup(testScreenHelp);
const ScreenTableBackup c_ScrSvrBackup(testScreenScrSvr);
const ScreenTableBackup c_MessageBackup(testScreenMessage);
const ScreenTableBackup c_SecurityCodeBackup(testScreenSecurityCodeInput);

// Message lines wrap when wider than this (pixels) in the lines' font. A
// line that stops there is always split at a blank or with a hyphen: a
// line of exactly one pixel more would otherwise break a word unmarked.
constexpr int MESSAGE_WRAP_WIDTH = 184;
constexpr const char *m_MsgScrFontName = "./fonts/arial.ttf";
constexpr uint32_t m_MsgScrFontSize = 15;

char m_MessageScreenText[MESSAGE_TEXT_SIZE] = {};
char m_MsgScrLine[MESSAGE_LINES][MESSAGE_LINE_SIZE] = {};
// The scale the hold menu was initialised for at the last hold page entry;
// NO_SCALE before the first.
constexpr uint8_t NO_SCALE = 0xFF;
uint8_t tempScHold = NO_SCALE;

bool lineWidth(const char *line, int *width) {
    int height = 0;
    return screenGetTextWidthHeight(m_MsgScrFontName, m_MsgScrFontSize, line, width, &height) == 0;
}

// Wraps the text at p into line i; returns how far the text advances.
size_t wrapLine(const char *p, char *line) {
    memset(line, 0, MESSAGE_LINE_SIZE);
    size_t n = strnlen(p, MESSAGE_LINE_SIZE - 1);
    size_t copied = 0;
    int width = 0;
    while (copied < n) {
        line[copied] = p[copied];
        copied++;
        if (!lineWidth(line, &width) || width > MESSAGE_WRAP_WIDTH) {
            break;
        }
    }
    if (copied == 0) {
        snprintf(line, MESSAGE_LINE_SIZE, " ");
        return 0;
    }
    if (width <= MESSAGE_WRAP_WIDTH) {
        return copied;
    }
    // Too wide: end at the last blank, or split the word with a hyphen.
    for (size_t k = copied - 1; k >= 1; k--) {
        if (line[k] == ' ') {
            line[k] = '\0';
            return k + 1;
        }
    }
    line[copied - 1] = '-';
    return copied - 1;
}

// Editing refused: every key re-enters the page, which then times out.
void refuseHoldEditing() {
    displayManagerSetKeySlots(displayHoldPage, displayHoldPage, displayHoldPage);
    // Nothing may be stored: the store cycle would switch the mode to hold.
    displayManagerSetStoreCallbacks(getHoldModeSPFromDataDict, nullptr);
}

void editHoldRecord(uint8_t record) {
    setCurrentMenuPtr(g_HoldModeMenu, record);
    setCurrentPagePtr(g_HoldModeMenu, record);
    setCurrentHighlightPtr(updateHighlightedItem);
    setHoldBlinkingText(&g_HoldModeMenu[record]);
}

} // namespace

ScreenItem *screenSaverText() {
    return m_MainScreenMenu[0].handle;
}

// ---- Help ---------------------------------------------------------------------------------------

void displayHelpPage() {
    dispManCancelMainPageTimeout();
    menuOpenPage(PAGE_HELP);
    g_ModeButtonPtr = nextPageAfterHelpPage();
}

// ---- Screen saver -------------------------------------------------------------------------------

void displayScreenSaver() {
    screenSetCurrentScreen(g_displayHdl, testScreenScrSvr);
    DispManFn back =
        dispManGetCurrentPage() == PAGE_MESSAGE ? handleMessageScreenButton : displayMainPage;
    displayManagerSetKeySlots(back, back, back);
    displayManagerSetStoreCallbacks(nullptr, nullptr);
}

// ---- Message ------------------------------------------------------------------------------------

void displayMessageScreenPage(const char *text) {
    memset(m_MessageScreenText, 0, sizeof(m_MessageScreenText));
    if (text != nullptr) {
        // A quoted text is shown without its quotes, up to the closing one.
        const char *start = text;
        size_t length = strnlen(text, MESSAGE_TEXT_SIZE - 1);
        if (text[0] == '"') {
            start = text + 1;
            const char *close = static_cast<const char *>(memchr(start, '"', length - 1));
            length = close != nullptr ? static_cast<size_t>(close - start) : length - 1;
        }
        memcpy(m_MessageScreenText, start, length);
    }
    const char *p = m_MessageScreenText;
    for (size_t i = 0; i < MESSAGE_LINES; i++) {
        p += wrapLine(p, m_MsgScrLine[i]);
    }
    menuOpenPage(PAGE_MESSAGE);
}

void handleMessageScreenButton() {
    menuOpenPage(PAGE_MESSAGE);
}

void displayMsgScrnToMainPage() {
    reportMessageCleared();
    displayMainPage();
}

void drawMessageScreen(char *buffer, uint32_t line) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", line < MESSAGE_LINES ? m_MsgScrLine[line] : "");
}

// ---- Hold page ---------------------------------------------------------------------------------

void setHoldModeSystemOffButtonState() {
    editHoldRecord(HOLD_MENU_HEAT);
    displayManagerSetKeySlots(incrementMenuItemValue, decrementMenuItemValue,
                              callDataDictAndIncMenuPtr);
}

void displayHoldPage() {
    HvacState mode = getHVACState();
    if (mode == HVAC_STATE_OFF) {
        return;
    }
    TstatLockoutCfg_t lockout{};
    getLockoutConfiguration(&lockout);
    bool tempLocked = lockout.buttonLockout == LOCK_LOCKED && lockout.tempLock == LOCK_LOCKED;
    auto range = static_cast<int8_t>(lockout.tempLockRangeLimit);
    if (tempLocked && range == 0) {
        return;
    }
    mainPageHideHelpBar();
    initialiseTStatFormat();
    if (displayTempScale() != tempScHold) {
        initialiseHoldModeMenu();
        tempScHold = displayTempScale();
    }
    uint32_t systemMode = hvacAlgorithmGetCurrentSytemMode();
    g_PrevHoldSP = TstatSetPoint_t{};
    if (getThermostatMode() == TSTAT_MODE_HOLD) {
        getCurrentThermostatSettings(&g_PrevHoldSP);
    }
    // The hold page stays on the main screen, and sets its current item itself.
    menuOpenPage(PAGE_HOLD, {.highlight = false});
    if (mode == HVAC_STATE_AUTO) {
        g_ModeButtonPtr = callDataDictAndIncMenuPtr;
    }
    if (lockout.buttonLockout == LOCK_LOCKED &&
        (lockout.modeLock == LOCK_LOCKED || (lockout.tempLock == LOCK_LOCKED && range <= 0))) {
        refuseHoldEditing();
        return;
    }
    g_HoldPageSelected = 1;
    if (mode == HVAC_STATE_COOL || (mode == HVAC_STATE_AUTO && systemMode == HVAC_STATE_COOL)) {
        editHoldRecord(HOLD_MENU_COOL);
    } else if (mode == HVAC_STATE_AUTO && systemMode != HVAC_STATE_HEAT) {
        setHoldModeSystemOffButtonState();
    } else {
        editHoldRecord(HOLD_MENU_HEAT);
    }
    if (tempLocked) {
        updateHoldMenuValues();
    }
}

// ---- Security code input ------------------------------------------------------------------------

void displaySecCodeInpPage() {
    menuOpenPage(PAGE_SEC_CODE_INPUT);
    resetSecCode();
}

void holdPageModeHeld() {
    // Only a hold page that allows editing stores; a refused one just returns.
    if (g_HoldPageSelected == 1) {
        setHoldModeSPInDataDict();
        resetHoldBlinkingTextPtr();
        TstatSetPoint_t current{};
        if (getCurrentThermostatSettings(&current) == 0 &&
            checkHoldPageSetPoint(&g_PrevHoldSP, &current) != 0) {
            setModeChangeFlag();
        }
    }
    displayMainPage();
}

void infoPagesReset() {
    c_HelpBackup.restore();
    c_ScrSvrBackup.restore();
    c_MessageBackup.restore();
    c_SecurityCodeBackup.restore();
    memset(m_MessageScreenText, 0, sizeof(m_MessageScreenText));
    memset(m_MsgScrLine, 0, sizeof(m_MsgScrLine));
    tempScHold = NO_SCALE;
}
