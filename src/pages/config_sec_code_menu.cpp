// Security code change menu and its screen.
#include "pages/config_sec_code_menu.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "dispman/display_manager.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "pages/main_page.h"
#include "pages/menu_pages.h"
#include "pages/pages.h"
#include "pages/user_pref_menu.h"

#include <cstdio>

MenuItem g_ConfSecurityCodeMenu[SEC_CODE_MENU_ITEMS] = {};

namespace {

void drawConfigSecCodeTitle(char *buffer) {
    drawTitleOverDayBar(buffer, "Change the security code");
}

// Back to the user preferences, on their "Change Security Code" item.
void backToUserPref() {
    menuUnselectCurrentItem();
    setCurrentMenuPtr(g_UserPrefMenu, USER_PREF_SECURITY_CODE);
    displayUserPrefContPage();
}

void storeCodeAndGoBack() {
    setConfSecCodeInDataDict();
    saveThermostatSysCfg();
    backToUserPref();
}

const CodeEntryPage c_CodeChange = {g_ConfSecurityCodeMenu, displaySelectedConfCodeMenuItemPage,
                                    incConfSecCodeMenuPtr,  decConfSecCodeMenuPtr,
                                    storeCodeAndGoBack,     backToUserPref};

} // namespace

// The code change: the face of the code entry, with its own title.
ScreenItem testScreenConfigSecCode[CONFIG_SEC_CODE_ITEMS + 1] = {
    SCREEN_CODE_ENTRY_ITEMS(g_ConfSecurityCodeMenu, drawConfigSecCodeTitle, drawConfigSecCodeValue1,
                            drawConfigSecCodeValue2, drawConfigSecCodeValue3,
                            drawConfigSecCodeValue4, drawConfigSecCodeEnter,
                            drawConfigSecCodeCancel),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

const ScreenTableBackup c_ConfigSecCodeBackup(testScreenConfigSecCode);

} // namespace

void initialiseConfigSecCodeMenu() {
    codeEntryInitialise(g_ConfSecurityCodeMenu);
    screenUserHdlInit(testScreenConfigSecCode);
}

void getConfSecCodeFromDataDict() {
    codeEntrySetValue(g_ConfSecurityCodeMenu, getSecurityCode());
}

void setConfSecCodeInDataDict() {
    setSecurityCode(codeEntryValue(g_ConfSecurityCodeMenu));
}

void displayConfigSecCode() {
    menuOpenPage(PAGE_SEC_CODE_CONFIG, {});
}

void displaySelectedConfCodeMenuItemPage() {
    codeEntryMode(c_CodeChange);
}

void incConfSecCodeMenuPtr() {
    codeEntryNext(c_CodeChange);
}

void decConfSecCodeMenuPtr() {
    codeEntryPrevious(c_CodeChange);
}

void drawConfigSecCodeValue1(char *buffer) {
    codeEntryDrawDigit(buffer, g_ConfSecurityCodeMenu, 0);
}
void drawConfigSecCodeValue2(char *buffer) {
    codeEntryDrawDigit(buffer, g_ConfSecurityCodeMenu, 1);
}
void drawConfigSecCodeValue3(char *buffer) {
    codeEntryDrawDigit(buffer, g_ConfSecurityCodeMenu, 2);
}
void drawConfigSecCodeValue4(char *buffer) {
    codeEntryDrawDigit(buffer, g_ConfSecurityCodeMenu, 3);
}
void drawConfigSecCodeEnter(char *buffer) {
    codeEntryDrawChoice(buffer, g_ConfSecurityCodeMenu, SEC_CODE_ENTER);
}
void drawConfigSecCodeCancel(char *buffer) {
    codeEntryDrawChoice(buffer, g_ConfSecurityCodeMenu, SEC_CODE_CANCEL);
}

void configSecCodeMenuReset() {
    c_ConfigSecCodeBackup.restore();
    for (MenuItem &item : g_ConfSecurityCodeMenu) {
        item = MenuItem{};
    }
    initialiseConfigSecCodeMenu();
}
