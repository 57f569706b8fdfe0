// Bus address page.
#include "pages/korabus_comm_menu.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "coproc/coproc_msg.h"
#include "dispman/display_manager.h"
#include "menus/menu_text.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "menus/setup_layout.h"
#include "pages/adv_setup_menu.h"
#include "pages/main_page.h"
#include "pages/pages.h"

#include <cstdio>

MenuItem g_KorabusCommMenu[KORABUS_COMM_ITEMS] = {};

namespace {

// Three large digits in the middle, as on the security code page, the two
// choices below them, and the versions at the foot of the page.
constexpr uint32_t DIGIT_SIZE = 36;
constexpr uint32_t VERSION_SIZE = 12;
constexpr uint32_t VERSION_COLOR = 0xB9C7D8;
constexpr int16_t DIGIT_X[3] = {77, 114, 151};
constexpr int16_t DIGIT_Y = 112;
constexpr int16_t VERSION_Y = 290;
// The versions' text is placed by its width; it has no position in the menu.
MenuItem m_RevisionItem = {};

#define DIGIT(i, update)                                                                           \
    screenText(DIGIT_X[i], DIGIT_Y, &g_KorabusCommMenu[i].handle, update, FONT_BOLD, DIGIT_SIZE,   \
               WHITE_TEXT_COLOR)

} // namespace

ScreenItem testScreenKorabusComm[KORABUS_COMM_SCREEN_ITEMS + 1] = {
    SETUP_SCREEN_HEAD("./images/Setup/Label - Setup - KorabusCommunications.png"),
    screenLabel(SETUP_LABEL_X, 90, nullptr, "Bus address :", FONT_REGULAR, SETUP_TEXT_SIZE,
                WHITE_TEXT_COLOR),
    DIGIT(KORABUS_COMM_HUNDREDS, drawKorabusCommAddress1),
    DIGIT(KORABUS_COMM_TENS, drawKorabusCommAddress2),
    DIGIT(KORABUS_COMM_UNITS, drawKorabusCommAddress3),
    SCREEN_BUTTON(CODE_ENTER_Y, &g_KorabusCommMenu[KORABUS_COMM_ENTER].handle,
                  drawKorabusCommEnter),
    SCREEN_BUTTON(CODE_CANCEL_Y, &g_KorabusCommMenu[KORABUS_COMM_CANCEL].handle,
                  drawKorabusCommCancel),
    screenLabel(SETUP_LABEL_X, VERSION_Y, nullptr, "Versions", FONT_REGULAR, VERSION_SIZE,
                VERSION_COLOR),
    screenText(SETUP_VALUE_RIGHT - 60, VERSION_Y, &m_RevisionItem.handle, drawKorabusCommRevision,
               FONT_REGULAR, VERSION_SIZE, VERSION_COLOR),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

#undef DIGIT

const ScreenTableBackup c_KorabusCommBackup(testScreenKorabusComm);

// "Enter", "Cancel".
const char *const c_Button[2] = {"Enter", "Cancel"};
constexpr int ADDRESS_MAX = 255;
// The three digits of an address: the hundreds up to 2, the others up to 9.
constexpr int16_t HUNDREDS_MAX = ADDRESS_MAX / 100;
constexpr int16_t DIGIT_MAX = 9;

void selectItem(uint8_t position) {
    setCurrentMenuPtr(g_KorabusCommMenu, position);
    displayHighlightedItem();
}

void digitKeys() {
    displayManagerSetKeySlots(incrementMenuItemValue, decrementMenuItemValue,
                              displaySelectedKorabusCommMenuItemPage);
}

void choiceKeys() {
    displayManagerSetKeySlots(decKorabusCommMenuPtr, incKorabusCommMenuPtr,
                              displaySelectedKorabusCommMenuItemPage);
}

int enteredAddress() {
    return g_KorabusCommMenu[KORABUS_COMM_HUNDREDS].value * 100 +
           g_KorabusCommMenu[KORABUS_COMM_TENS].value * 10 +
           g_KorabusCommMenu[KORABUS_COMM_UNITS].value;
}

void backToAdvancedSetup() {
    displayAdvSetupContPageAt(ADV_SETUP_KORABUS_SETUP);
}

void drawDigit(char *buffer, uint8_t digit) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%d", g_KorabusCommMenu[digit].value);
}

void initialiseRecords() {
    menuClearRecords(g_KorabusCommMenu, KORABUS_COMM_ITEMS);
    for (uint8_t i = 0; i < KORABUS_COMM_ITEMS; i++) {
        if (i <= KORABUS_COMM_UNITS) {
            g_KorabusCommMenu[i].min = 0;
            g_KorabusCommMenu[i].max = i == KORABUS_COMM_HUNDREDS ? HUNDREDS_MAX : DIGIT_MAX;
            g_KorabusCommMenu[i].step = 1;
            g_KorabusCommMenu[i].wrap = 1;
        }
    }
}

} // namespace

void initialiseKorabusCommSetupMenu() {
    initialiseRecords();
    screenUserHdlInit(testScreenKorabusComm);
}

void displayKorabusCommPage() {
    menuOpenPage(PAGE_BUS_ADDRESS, {});
}

void getKorabusCommFromDataDict() {
    uint8_t address = getKorabusAddress();
    g_KorabusCommMenu[KORABUS_COMM_HUNDREDS].value = static_cast<int16_t>(address / 100);
    g_KorabusCommMenu[KORABUS_COMM_TENS].value = static_cast<int16_t>(address % 100 / 10);
    g_KorabusCommMenu[KORABUS_COMM_UNITS].value = static_cast<int16_t>(address % 10);
}

int setKorabusCommInDataDict() {
    int address = enteredAddress();
    // 256 to 299 do not fit the address byte: storing them cut to 8 bits
    // would give the unit another address than the one entered.
    if (address < 0 || address > ADDRESS_MAX) {
        return -1;
    }
    setKorabusAddress(static_cast<uint8_t>(address));
    return 0;
}

void decKorabusCommMenuPtr() {
    if (getCurrentMenuIndex() == KORABUS_COMM_CANCEL) {
        selectItem(KORABUS_COMM_ENTER);
        return;
    }
    selectItem(KORABUS_COMM_UNITS);
    digitKeys();
}

void incKorabusCommMenuPtr() {
    if (getCurrentMenuIndex() == KORABUS_COMM_ENTER) {
        selectItem(KORABUS_COMM_CANCEL);
        return;
    }
    selectItem(KORABUS_COMM_HUNDREDS);
    digitKeys();
}

void displaySelectedKorabusCommMenuItemPage() {
    switch (getCurrentMenuIndex()) {
    case KORABUS_COMM_HUNDREDS:
    case KORABUS_COMM_TENS:
        displayIncMenuPtrPage();
        break;
    case KORABUS_COMM_UNITS:
        displayIncMenuPtrPage();
        choiceKeys();
        break;
    case KORABUS_COMM_ENTER:
        if (setKorabusCommInDataDict() != 0) {
            selectItem(KORABUS_COMM_HUNDREDS);
            digitKeys();
            return;
        }
        if (saveThermostatSysCfg() != -1) {
            coprocMsgSendAddress(getKorabusAddress());
        }
        backToAdvancedSetup();
        break;
    case KORABUS_COMM_CANCEL:
        backToAdvancedSetup();
        break;
    default:
        break;
    }
}

void drawKorabusCommAddress1(char *buffer) {
    drawDigit(buffer, KORABUS_COMM_HUNDREDS);
}
void drawKorabusCommAddress2(char *buffer) {
    drawDigit(buffer, KORABUS_COMM_TENS);
}
void drawKorabusCommAddress3(char *buffer) {
    drawDigit(buffer, KORABUS_COMM_UNITS);
}

void drawKorabusCommRevision(char *buffer) {
    char text[SCREEN_TEXT_LEN];
    snprintf(text, sizeof(text), "%s/%s", getKorabusVersion(), COPROC_APP_VERSION);
    drawAlignedText(buffer, m_RevisionItem, text, SETUP_VALUE_RIGHT, MenuTextAlign::Right);
}

void drawKorabusCommEnter(char *buffer) {
    drawAlignedText(buffer, g_KorabusCommMenu[KORABUS_COMM_ENTER], c_Button[0], BUTTON_CENTRE_X,
                    MenuTextAlign::Center);
}
void drawKorabusCommCancel(char *buffer) {
    drawAlignedText(buffer, g_KorabusCommMenu[KORABUS_COMM_CANCEL], c_Button[1], BUTTON_CENTRE_X,
                    MenuTextAlign::Center);
}

void korabusCommMenuReset() {
    c_KorabusCommBackup.restore();
    initialiseRecords();
}
