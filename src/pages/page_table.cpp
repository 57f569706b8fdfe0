// The page table: one row per display page, and the functions of the pages
// and the menu engine the display manager calls on its own.
#include "pages/page_table.h"

#include "menus/menu_engine.h"
#include "pages/adv_setup_menu.h"
#include "pages/button_lockout_menu.h"
#include "pages/config_sec_code_menu.h"
#include "pages/forecast_pages.h"
#include "pages/hold_menu.h"
#include "pages/info_pages.h"
#include "pages/korabus_comm_menu.h"
#include "pages/main_page.h"
#include "pages/menu_pages.h"
#include "pages/pages.h"
#include "pages/program_menu.h"
#include "pages/security_code_menu.h"
#include "pages/settings_menu.h"
#include "pages/tstat_menu.h"
#include "pages/tstat_setup_menu.h"
#include "pages/user_pref_menu.h"
#include "pages/vacation_menu.h"

namespace {

constexpr uint32_t PAGE_S = DISPMAN_PAGE_TIMEOUT_S;
constexpr uint32_t POPUP_S = DISPMAN_POPUP_TIMEOUT_S;

constexpr PageEntry c_Pages[] = {
    {.id = PAGE_USER_PREF,
     .screen = testScreenUserPreferences,
     .timeoutS = PAGE_S,
     .onTimeout = userPrefPageTimeout,
     .up = decUserPrefPageMenuPtr,
     .down = incUserPrefPageMenuPtr,
     .mode = displaySelectedUserPrefMenuItemPage,
     .refresh = getUserPrefFromDataDict,
     .save = setUserPrefInDataDict,
     .menu = g_UserPrefMenu,
     .first = 0,
     .last = USER_PREF_MENU_ITEMS,
     .current = USER_PREF_TEMP_SCALE_LABEL,
     .load = getUserPrefFromDataDict,
     .highlight = updateHighlightedItem,
     .initialise = initialiseUserPrefMenu,
     .reset = userPrefMenuReset},
    {.id = PAGE_MAIN,
     .up = displayHoldPage,
     .down = displayHoldPage,
     .mode = displayMainToSettingsPage,
     .flags = PAGE_SHOWS_MAIN_SCREEN,
     .initialise = initialiseMainPage,
     .reset = mainPageReset,
     .modeHold = MODE_HOLD_BY_SLOT,
     .modeHeld = mainPageModeHeld,
     .modeShortPress = mainPageModeShortPress},
    {.id = PAGE_FIVE_DAY_FORECAST,
     .screen = testScreenFiveDayForecast,
     .timeoutS = PAGE_S,
     .onTimeout = displayMainPage,
     .up = displayFiveDayForecastPage,
     .down = displayFiveDayForecastPage,
     .mode = enterTSTATPage,
     .initialise = initialiseFiveDayFCastScreen,
     .bind = {testScreenFiveDayForecast},
     .reset = forecastPagesReset},
    {.id = PAGE_TSTAT_MODE,
     .screen = testScreenTSTATMode,
     .timeoutS = PAGE_S,
     .onTimeout = displayMainPage,
     .up = decTstatModeMenuPtr,
     .down = incTstatModeMenuPtr,
     .mode = displaySelectedTstatMenuItemPage,
     .menu = g_TstatMenu,
     .first = 0,
     .last = TSTAT_MENU_ITEMS,
     .current = TSTAT_MENU_PROGRAM_HOLD,
     .highlight = updateHighlightedGlyph,
     .initialise = initialiseTstatMenu,
     .reset = tstatMenuReset},
    {.id = PAGE_HOLD,
     .timeoutS = POPUP_S,
     .onTimeout = displayMainPage,
     .up = incrementMenuItemValue,
     .down = decrementMenuItemValue,
     .mode = displayHoldPage,
     .refresh = getHoldModeSPFromDataDict,
     .save = setHoldModeSPInDataDict,
     .menu = g_HoldModeMenu,
     .first = 0,
     .last = HOLD_MENU_RANGE,
     .current = PAGE_NO_ITEM,
     .load = getHoldModeSPFromDataDict,
     .flags = PAGE_SHOWS_MAIN_SCREEN | PAGE_SET_POINT_LIMITS,
     .initialise = initialiseHoldModeMenu,
     .reset = holdMenuReset,
     .modeHold = MODE_HOLD_BY_PRESS,
     .modeHeld = holdPageModeHeld},
    {.id = PAGE_PROGRAM,
     .screen = testScreenProgram,
     .timeoutS = PAGE_S,
     .onTimeout = programPageTimeout,
     .up = decProgModeMenuPtr,
     .down = incProgModeMenuPtr,
     .mode = displaySelectedProgMenuItemPage,
     .refreshDay = getCurrDayProgModeSPFromDataDict,
     .saveDay = setCurrDayProgModeSPInDataDict,
     .storeDay = getProgramMenuDay,
     .menu = g_ProgramMenu,
     .first = 0,
     .last = PROG_MENU_ITEMS,
     .current = PROG_WAKE,
     .load = loadProgramPage,
     .flags = PAGE_SET_POINT_LIMITS,
     .initialise = initialiseProgramMenu,
     .reset = programMenuReset,
     .keyTouched = programKeyTouched},
    {.id = PAGE_VACATION,
     .screen = testScreenVacation,
     .timeoutS = PAGE_S,
     .onTimeout = vacationPageTimeout,
     .up = decVacModeMenuPtr,
     .down = incVacModeMenuPtr,
     .mode = displaySelectedVacMenuItemPage,
     .refresh = getVacModeSPFromDataDict,
     .save = setVacSettingsInDataDict,
     .menu = g_VacationMenu,
     .first = 0,
     .last = VAC_MENU_ITEMS,
     .current = VAC_ENABLE,
     .base = VAC_ENABLE,
     .load = getVacModeSPFromDataDict,
     .highlight = updateHighlightedGlyph,
     .flags = PAGE_SET_POINT_LIMITS,
     .initialise = initialiseVacationModeMenu,
     .reset = vacationMenuReset},
    {.id = PAGE_SETTINGS,
     .screen = testScreenSettings,
     .timeoutS = PAGE_S,
     .onTimeout = leaveSettingsPage,
     .up = decSettingsModeMenuPtr,
     .down = incSettingsModeMenuPtr,
     .mode = displaySelectedSettingsMenuItemPage,
     .refresh = getSettingsModeSPFromDataDict,
     .save = setSettingsModeSPInDataDict,
     .menu = g_SettingsMenu,
     .first = 0,
     .last = SETTINGS_MENU_ITEMS,
     .current = SETTINGS_HVAC_ROW,
     .load = getSettingsModeSPFromDataDict,
     .highlight = updateHighlightedGlyph,
     .initialise = initialiseSettingsModeMenu,
     .reset = settingsMenuReset},
    {.id = PAGE_SEC_CODE_INPUT,
     .screen = testScreenSecurityCodeInput,
     .timeoutS = PAGE_S,
     .onTimeout = displayMainPage,
     .up = incrementMenuItemValue,
     .down = decrementMenuItemValue,
     .mode = displaySelectedSecCodeMenuItemPage,
     .refresh = getSecCodeFromDataDict,
     .menu = g_SecurityCodeMenu,
     .first = 0,
     .last = SEC_CODE_MENU_ITEMS,
     .current = 0,
     .load = getSecCodeFromDataDict,
     .highlight = updateHighlightedItem,
     .initialise = initialiseSecurityCodeMenu,
     .bind = {testScreenSecurityCodeInput},
     .reset = securityCodeMenuReset},
    {.id = PAGE_BUTTON_LOCKOUT,
     .screen = testScreenButtonLockout,
     .timeoutS = PAGE_S,
     .onTimeout = leaveButtonLockoutPage,
     .up = decButtonLockoutMenuPtr,
     .down = incButtonLockoutMenuPtr,
     .mode = displaySelectedButtonLockMenuItemPage,
     .refresh = getButtonLockoutFromDataDict,
     .save = setButtonLockoutInDataDict,
     .menu = g_ButtonLockoutMenu,
     .first = 0,
     .last = LOCKOUT_MENU_ITEMS,
     .current = LOCKOUT_BUTTON_LOCKOUT_LABEL,
     .load = getButtonLockoutFromDataDict,
     .highlight = updateHighlightedItem,
     .flags = PAGE_HOLDS_LOCK_TIMERS,
     .initialise = initialiseButtonLockoutMenu,
     .reset = buttonLockoutMenuReset},
    {.id = PAGE_SEC_CODE_CONFIG,
     .screen = testScreenConfigSecCode,
     .timeoutS = PAGE_S,
     .onTimeout = displayMainPage,
     .up = incrementMenuItemValue,
     .down = decrementMenuItemValue,
     .mode = displaySelectedConfCodeMenuItemPage,
     .menu = g_ConfSecurityCodeMenu,
     .first = 0,
     .last = SEC_CODE_MENU_ITEMS,
     .current = 0,
     .load = getConfSecCodeFromDataDict,
     .highlight = updateHighlightedItem,
     .initialise = initialiseConfigSecCodeMenu,
     .reset = configSecCodeMenuReset},
    {.id = PAGE_ADV_SETUP,
     .screen = testScreenAdvSetup,
     .timeoutS = PAGE_S,
     .onTimeout = advSetupPageTimeout,
     .up = decAdvSetupMenuPtr,
     .down = incAdvSetupMenuPtr,
     .mode = displaySelectedAdvSetupMenuItemPage,
     .menu = g_AdvSetupMenu,
     .first = 0,
     .last = ADV_SETUP_ITEMS,
     .current = ADV_SETUP_HVAC_SYSTEM_TEXT,
     .load = getAdvSetupFromDataDict,
     .highlight = updateHighlightedItem,
     .initialise = initialiseAdvSetupMenu,
     .reset = advSetupMenuReset,
     .modeTouched = advSetupModeTouched,
     .idle = advSetupIdle},
    {.id = PAGE_BUS_ADDRESS,
     .screen = testScreenKorabusComm,
     .timeoutS = PAGE_S,
     .onTimeout = displayMainPage,
     .up = incrementMenuItemValue,
     .down = decrementMenuItemValue,
     .mode = displaySelectedKorabusCommMenuItemPage,
     .menu = g_KorabusCommMenu,
     .first = 0,
     .last = KORABUS_COMM_ITEMS,
     .current = KORABUS_COMM_HUNDREDS,
     .load = getKorabusCommFromDataDict,
     .highlight = updateHighlightedItem,
     .initialise = initialiseKorabusCommSetupMenu,
     .reset = korabusCommMenuReset},
    {.id = PAGE_TSTAT_SETUP,
     .screen = testScreenTstatSetup,
     .timeoutS = PAGE_S,
     .onTimeout = displayMainPage,
     .up = decTstatSetupPageMenuPtr,
     .down = incTstatSetupPageMenuPtr,
     .mode = displaySelectedTstatSetupMenuItemPage,
     .menu = g_TstatSetupMenu,
     .first = 0,
     .last = TSTAT_SETUP_ITEMS,
     .current = TSTAT_SETUP_FIRST_STG_TEXT,
     .load = getTstatSetupFromDataDict,
     .highlight = updateHighlightedItem,
     .initialise = initialiseTstatSetupMenu,
     .reset = tstatSetupMenuReset},
    {.id = PAGE_DETAIL_FORECAST,
     .screen = testScreenDetail4Cast,
     .timeoutS = PAGE_S,
     .onTimeout = displayMainPage,
     .up = displayDetailForecastPage,
     .down = displayDetailForecastPage,
     .bind = {testScreenDetail4Cast},
     .reset = forecastPagesReset},
    {.id = PAGE_MESSAGE,
     .screen = testScreenMessage,
     .up = displayMsgScrnToMainPage,
     .down = displayMsgScrnToMainPage,
     .mode = displayMsgScrnToMainPage,
     .flags = PAGE_KEEPS_STORE_CALLBACKS,
     .bind = {testScreenMessage},
     .reset = infoPagesReset},
    {.id = PAGE_HELP,
     .screen = testScreenHelp,
     .timeoutS = PAGE_S,
     .onTimeout = displayMainPage,
     .up = displayHelpPage,
     .down = displayHelpPage,
     .reset = infoPagesReset},
    {.id = PAGE_VACATION_HELP,
     .screen = testScreenAwayHelp,
     .timeoutS = PAGE_S,
     .onTimeout = displayMainPage,
     .up = displayAwayHelpPage,
     .down = displayAwayHelpPage,
     .mode = displayVacationModePage,
     .reset = vacationMenuReset},
    {.id = PAGE_PROGRAM_HELP,
     .screen = testScreenProgramHelp,
     .timeoutS = PAGE_S,
     .onTimeout = displayMainPage,
     .up = displayProgramHelpPage,
     .down = displayProgramHelpPage,
     .mode = displayProgramModePage,
     .reset = programMenuReset},
};

// Every page number but the unused one has a row.
constexpr bool everyPageHasARow() {
    for (unsigned id = 0; id < DISPLAY_PAGE_COUNT; id++) {
        size_t rows = 0;
        for (const PageEntry &row : c_Pages) {
            rows += row.id == id ? 1 : 0;
        }
        if (rows != (id == PAGE_UNUSED_8 ? 0u : 1u)) {
            return false;
        }
    }
    return true;
}
static_assert(everyPageHasARow(), "one row per display page");

constexpr PageTable c_PageTable = {
    .rows = c_Pages,
    .mainPage = displayMainPage,
    .screenSaverScreen = testScreenScrSvr,
    .screenSaver = displayScreenSaver,
    .screenSaverText = screenSaverText,
    .refreshAlertIcons = mainPageRefreshAlertIcons,
    .showActivityIcons = mainPageShowActivityIcons,
    .adjusting = mainPageAdjusting,
    .animate = mainPageAnimate,
    .stopAnimation = mainPageStopAnimation,
    .currentItem = getCurrentMenuPtr,
    .unselectCurrentItem = menuUnselectCurrentItem,
};

} // namespace

const PageTable &pageTable() {
    return c_PageTable;
}

void pagesReset() {
    // Every page, once (some modules own several pages).
    for (size_t i = 0; i < std::size(c_Pages); i++) {
        bool resetBefore = false;
        for (size_t j = 0; j < i; j++) {
            resetBefore = resetBefore || c_Pages[j].reset == c_Pages[i].reset;
        }
        if (!resetBefore) {
            c_Pages[i].reset();
        }
    }
}
