// Display manager: the poll cycle, key slots, page time-out, store cycle,
// lockout timers, backlight, screen saver and under-voltage warning.
#include "display/display_manager.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "display/forecast_pages.h"
#include "display/info_pages.h"
#include "display/main_page.h"
#include "display/pages.h"
#include "graphics/buttons.h"
#include "graphics/screen_test.h"
#include "menus/hold_menu.h"
#include "menus/menu_engine.h"
#include "menus/menu_pages.h"
#include "menus/security_code_menu.h"

#include <cstdio>
#include <cstdlib>

DisplayHandle g_displayHdl = nullptr;
DispManFn g_UpButtonPtr = nullptr;
DispManFn g_DownButtonPtr = nullptr;
DispManFn g_ModeButtonPtr = nullptr;
DispManItemFn g_ModeButtonPtrWithArg = nullptr;
DispManFn g_DataDictSetUpdTimeoutPtr = nullptr;
DispManDayFn g_DataDictSetUpdTimeoutPtrWithArg = nullptr;
DispManFn g_DataDictUpdTimeoutPtr = nullptr;
DispManDayFn g_DataDictUpdTimeoutPtrWithArg = nullptr;
ScreenItem *g_UndervoltageTextHdl = nullptr;
uint32_t g_backlightOn = 0;
uint32_t g_UnderVoltageActive = 0;

static_assert(c_BacklightActiveLevels.size() == BACKLIGHT_ACTIVE_HIGH + 1,
              "one level per active backlight setting");

namespace {

// Key edges taken per pass: five iterations, each possibly two checks.
constexpr int KEY_ITERATIONS = 5;
constexpr uint32_t ADV_SETUP_COMMIT_MS = 20000;
constexpr uint8_t ADV_SETUP_TIMED_ITEMS = 10; // items above this index commit on a timer
constexpr uint32_t SCREEN_SAVER_MOVE_MS = 3000;
constexpr int SCREEN_SAVER_X_RANGE = 131;
constexpr int SCREEN_SAVER_Y_RANGE = 241;
constexpr uint32_t MS_PER_MINUTE = 60000;
// Program page items whose set points belong to the leave and sleep periods.
constexpr uint8_t PROGRAM_LEAVE_FIRST = 7;
constexpr uint8_t PROGRAM_LEAVE_LAST = 11;
constexpr uint8_t PROGRAM_SLEEP_FIRST = 19;
constexpr uint8_t PROGRAM_SLEEP_LAST = 23;

uint8_t m_CurrentPage = PAGE_MAIN;

// Page time-out.
DispManFn m_TimeoutPtr = nullptr;
UtilTimer m_TimeoutTimer{};
uint32_t m_TimeoutVal = 0;

// Store cycle and its latched callbacks.
DispManFn m_DataDictSetUpdTimeoutPtr = nullptr;
DispManDayFn m_DataDictSetUpdTimeoutPtrWithArg = nullptr;
DispManFn m_DataDictUpdTimeoutPtr = nullptr;
DispManDayFn m_DataDictUpdTimeoutPtrWithArg = nullptr;
uint8_t m_bIsDataDictUpdOn = 0;
UtilTimer m_DataDictUpdTimer{};

// Mode-key hold timers and the advanced setup's commit timer.
UtilTimer m_TempMainPageTimer{};
uint8_t m_bIsMainPageTimerOn = 0;
UtilTimer m_HoldPageTimer{};
uint8_t m_bIsHoldPageTimerOn = 0;
UtilTimer m_AdvSetupTimer{};

// Backlight and screen saver.
UtilTimer g_backlightTimer{};
UtilTimer m_screenSaverTimer{};
uint8_t m_scrSvrTimerOn = 0;
uint8_t m_scrSvrOn = 0;
UtilTimer m_scrSvrTimer{};
uint8_t m_IsscrSvrTimerOn = 0;

uint8_t m_LeaveSPChange = 0;
uint8_t m_SleepSPChange = 0;

bool expired(const UtilTimer &timer) {
    return util_check_expiration(&timer) != 0;
}

// The three timed locks.
enum LockKind { LOCK_MODE, LOCK_FAN, LOCK_TEMP, LOCK_KINDS };

struct LockTimer {
    UtilTimer timer;
    uint8_t running;
};

LockTimer m_LockTimers[LOCK_KINDS] = {}; // mode, fan and temperature lock durations

// The lock field and its time in the (packed) lockout record, read by value.
LockState lockField(const TstatLockoutCfg_t &cfg, LockKind kind) {
    switch (kind) {
    case LOCK_MODE:
        return cfg.modeLock;
    case LOCK_FAN:
        return cfg.fanLock;
    default:
        return cfg.tempLock;
    }
}

uint16_t lockMinutes(const TstatLockoutCfg_t &cfg, LockKind kind) {
    switch (kind) {
    case LOCK_MODE:
        return cfg.modeLockTime;
    case LOCK_FAN:
        return cfg.fanLockTime;
    default:
        return cfg.tempLockTimeLimit;
    }
}

void releaseLock(TstatLockoutCfg_t *cfg, LockKind kind) {
    switch (kind) {
    case LOCK_MODE:
        cfg->modeLock = LOCK_UNLOCKED;
        cfg->modeLockTime = 0;
        break;
    case LOCK_FAN:
        cfg->fanLock = LOCK_UNLOCKED;
        cfg->fanLockTime = 0;
        break;
    default:
        cfg->tempLock = LOCK_UNLOCKED;
        cfg->tempLockTimeLimit = 0;
        break;
    }
}

void startLockTimer(LockKind kind) {
    TstatLockoutCfg_t cfg{};
    getLockoutConfiguration(&cfg);
    uint16_t minutes = lockMinutes(cfg, kind);
    if (minutes != 0) {
        // In 32 bits every 16-bit duration is exact.
        util_set_expiration(&m_LockTimers[kind].timer,
                            static_cast<uint32_t>(minutes) * MS_PER_MINUTE);
        m_LockTimers[kind].running = 1;
    }
}

// True when the lock's time ran out: the lock is released and its time cleared.
bool checkLockTimer(LockKind kind) {
    LockTimer &lock = m_LockTimers[kind];
    if (lock.running == 0 || !expired(lock.timer)) {
        return false;
    }
    TstatLockoutCfg_t cfg{};
    getLockoutConfiguration(&cfg);
    releaseLock(&cfg, kind);
    setLockoutConfiguration(&cfg);
    // Kept in memory only, the lock would come back after a power cut with
    // its time cleared, that is locked for good.
    if (saveThermostatSysCfg() != 0) {
        puts("ERROR: saveThermostatSysCfg failed");
    }
    lock.running = 0;
    return true;
}

void pollLockoutTimers(uint8_t page) {
    TstatLockoutCfg_t cfg{};
    getLockoutConfiguration(&cfg);
    if (cfg.buttonLockout != LOCK_LOCKED) {
        return;
    }
    static constexpr struct {
        LockKind kind;
        void (*start)();
        void (*check)();
    } c_Locks[] = {
        {LOCK_MODE, dispManSetLockoutModeTimeout, dispManCheckLockoutModeTimeout},
        {LOCK_FAN, dispManSetLockoutFanTimeout, dispManCheckLockoutFanTimeout},
        {LOCK_TEMP, dispManSetLockoutTempTimeout, dispManCheckLockoutTempTimeout},
    };
    for (const auto &l : c_Locks) {
        if (lockField(cfg, l.kind) != LOCK_LOCKED) {
            continue;
        }
        if (m_LockTimers[l.kind].running == 0 && page != PAGE_BUTTON_LOCKOUT) {
            l.start();
        }
        l.check();
    }
}

bool screenSaverAllowed() {
    if (g_backlightOn != 0) {
        return false;
    }
    TstatBkLightCtl_t bk{};
    getThermostatBacklightSettings(&bk);
    return bk.inactiveBrightness == BACKLIGHT_INACTIVE_DIM && getScrSaverState() == FEATURE_ENABLE;
}

bool advSetupTimedItem(uint8_t page) {
    MenuItem *item = getCurrentMenuPtr();
    return page == PAGE_ADV_SETUP && item != nullptr && item->index > ADV_SETUP_TIMED_ITEMS;
}

void idleWork(uint8_t page) {
    if (page == PAGE_MAIN) {
        dispManCheckMainPageTimeout();
    } else if (page == PAGE_HOLD) {
        dispManCheckHoldPageTimeout();
    }
    if (advSetupTimedItem(page)) {
        dispManCheckAdvSetupTimeout();
    }
    displayManagerCheckBacklight();
    displayManagerEnableScreenSaver();
    displayManagerCheckScreenSaver();
    displayManagerEnableScrSvrTimer();
    displayManagerCheckScrSvrTimer();
}

// The program page tells which period's set point a key touches.
void markProgramPeriod(uint8_t page) {
    MenuItem *item = getCurrentMenuPtr();
    if (page != PAGE_PROGRAM || item == nullptr) {
        return;
    }
    m_LeaveSPChange = item->index >= PROGRAM_LEAVE_FIRST && item->index <= PROGRAM_LEAVE_LAST;
    m_SleepSPChange = item->index >= PROGRAM_SLEEP_FIRST && item->index <= PROGRAM_SLEEP_LAST;
}

void call(DispManFn fn) {
    if (fn != nullptr) {
        fn();
    }
}

void keyIteration(uint8_t page) {
    uint32_t id = BUTTON_END;
    int edge = buttonCheck(&id);
    // Releases of the up, down and fourth keys mean nothing: take the next edge.
    if (edge == BUTTON_RELEASE && id != BUTTON_MODE) {
        edge = buttonCheck(&id);
    }
    if (edge == BUTTON_NO_EDGE) {
        idleWork(page);
        return;
    }
    if (edge == BUTTON_RELEASE && id == BUTTON_MODE) {
        // A mode key released within 3 s was a short press.
        if (page == PAGE_MAIN && m_bIsMainPageTimerOn != 0 && !expired(m_TempMainPageTimer)) {
            dispManCancelMainPageTimeout();
            call(nextPageAfterMainPage());
        } else if (page == PAGE_HOLD && m_bIsHoldPageTimerOn != 0 && !expired(m_HoldPageTimer)) {
            m_bIsHoldPageTimerOn = 0;
            call(g_ModeButtonPtr);
        }
    }
    // A key that finds the display dark only wakes it.
    if (g_backlightOn == 0 && m_scrSvrOn == 0) {
        displayManagerEnableBacklight();
        return;
    }
    displayManagerResetTimeout();
    displayManagerEnableBacklight();
    if (edge != BUTTON_PRESS) {
        return;
    }
    switch (id) {
    case BUTTON_UP:
        markProgramPeriod(page);
        call(g_UpButtonPtr);
        break;
    case BUTTON_DOWN:
        markProgramPeriod(page);
        call(g_DownButtonPtr);
        break;
    case BUTTON_MODE:
        if (g_ModeButtonPtrWithArg != nullptr) {
            MenuItem *item = getCurrentMenuPtr();
            if (item != nullptr) {
                g_ModeButtonPtrWithArg(item);
            }
        } else if (g_ModeButtonPtr != nullptr) {
            if (page == PAGE_HOLD) {
                dispManSetHoldPageTimeout();
            } else {
                g_ModeButtonPtr();
            }
        }
        if (advSetupTimedItem(page)) {
            dispManSetAdvSetupTimeout();
        }
        break;
    case BUTTON_EXIT:
        exit(0);
    default:
        break;
    }
}

} // namespace

// ---- Life cycle -------------------------------------------------------------------------------

void displayManagerInit() {
    displayManagerCancelTimeout();
    g_UpButtonPtr = displayMainPage;
    g_DownButtonPtr = displayMainPage;
    g_ModeButtonPtr = displayMainPage;
    g_ModeButtonPtrWithArg = nullptr;
    initialiseUserPrefMenu();
    initialiseTStatFormat();
    initialiseMainPage();
    initialiseFiveDayFCastScreen();
    initialiseTstatMenu();
    initialiseHoldModeMenu();
    initialiseProgramMenu();
    initialiseVacationModeMenu();
    initialiseSettingsModeMenu();
    initialiseSecurityCodeMenu();
    initialiseButtonLockoutMenu();
    initialiseConfigSecCodeMenu();
    initialiseAdvSetupMenu();
    initialiseKorabusCommSetupMenu();
    initialiseTstatSetupMenu();
    screenUserHdlInit(testScreenScrSvr);
    screenUserHdlInit(testScreenDetail4Cast);
    screenUserHdlInit(testScreenMessage);
    screenUserHdlInit(testScreenFiveDayForecast);
    screenUserHdlInit(testScreenSecurityCodeInput);
    buttonInit();
    g_displayHdl = screenInit();
    displayManagerEnableBacklight();
    g_ModeButtonPtr();
}

void displayManagerPoll() {
    uint8_t page = m_CurrentPage;
    displayManagerCheckTimeout();
    displayDataDictUpdateCheckTimeout();
    screenRender(g_displayHdl);
    displayDataDictUpdateSetTimeout(0);
    pollLockoutTimers(page);
    // The main screen's icons and animation, while that screen is on display
    // (the screen saver keeps the page number of the page it covers).
    if ((page == PAGE_MAIN || page == PAGE_HOLD) && m_scrSvrOn == 0) {
        dispManSetComfortModeTimeout();
        dispManCheckComfortModeTimeout();
        displayManagerCheckAlertIcons();
        displayManagerEnableAlertIcons();
    }
    for (int i = 0; i < KEY_ITERATIONS; i++) {
        keyIteration(page);
    }
}

void displayManagerStop() {
    buttonStop();
    screenStop(g_displayHdl);
}

// ---- Pages, slots and time-outs
// ------------------------------------------------------------------

void dispManSetCurrentPage(uint8_t page) {
    m_CurrentPage = page;
}

uint8_t dispManGetCurrentPage() {
    return m_CurrentPage;
}

void dispManSetKeySlots(DispManFn up, DispManFn down, DispManFn mode) {
    g_UpButtonPtr = up;
    g_DownButtonPtr = down;
    g_ModeButtonPtr = mode;
    g_ModeButtonPtrWithArg = nullptr;
}

void dispManSetStoreCallbacks(DispManFn refresh, DispManFn save) {
    g_DataDictUpdTimeoutPtr = refresh;
    g_DataDictSetUpdTimeoutPtr = save;
    g_DataDictUpdTimeoutPtrWithArg = nullptr;
    g_DataDictSetUpdTimeoutPtrWithArg = nullptr;
}

void dispManSetStoreCallbacksForDay(DispManDayFn refresh, DispManDayFn save) {
    g_DataDictUpdTimeoutPtr = nullptr;
    g_DataDictSetUpdTimeoutPtr = nullptr;
    g_DataDictUpdTimeoutPtrWithArg = refresh;
    g_DataDictSetUpdTimeoutPtrWithArg = save;
}

void displayManagerSetTimeout(uint32_t seconds, DispManFn fn) {
    m_TimeoutPtr = fn;
    m_TimeoutVal = seconds;
    util_set_expiration(&m_TimeoutTimer, seconds * 1000);
}

void displayManagerCancelTimeout() {
    m_TimeoutPtr = nullptr;
}

void displayManagerResetTimeout() {
    util_set_expiration(&m_TimeoutTimer, m_TimeoutVal * 1000);
}

void displayManagerCheckTimeout() {
    if (m_TimeoutPtr == nullptr || !expired(m_TimeoutTimer) || m_scrSvrOn != 0) {
        return;
    }
    DispManFn fn = m_TimeoutPtr;
    m_TimeoutPtr = nullptr;
    fn();
}

void displayManagerSetExpiration(UtilTimer *timer, uint32_t ms) {
    util_set_expiration(timer, ms);
}

int displayManagerCheckExpiration(const UtilTimer *timer) {
    return util_check_expiration(timer);
}

DispManFn nextPageAfterMainPage() {
    if (getHelpModeState() == OFFON_ON) {
        return displayHelpPage;
    }
    return nextPageAfterHelpPage();
}

DispManFn nextPageAfterHelpPage() {
    if (getCurrentForecastState() == FEATURE_ENABLE) {
        return displayDetailForecastPage;
    }
    if (getFiveDayForecastState() == FEATURE_ENABLE) {
        return displayFiveDayForecastPage;
    }
    return enterTSTATPage;
}

void dispManSetMainPageTimeout() {
    if (m_bIsMainPageTimerOn == 0) {
        util_set_expiration(&m_TempMainPageTimer, DISPMAN_MODE_HOLD_MS);
        m_bIsMainPageTimerOn = 1;
    }
}

void dispManCheckMainPageTimeout() {
    if (m_bIsMainPageTimerOn == 0 || !expired(m_TempMainPageTimer)) {
        return;
    }
    TstatLockoutCfg_t lockout{};
    getLockoutConfiguration(&lockout);
    if (lockout.buttonLockout == LOCK_LOCKED && lockout.modeLock == LOCK_LOCKED) {
        displaySelectedMainPuModeMenuItemPage();
    } else {
        openMainPuModeMenu();
    }
    m_bIsMainPageTimerOn = 0;
    displayManagerSetTimeout(DISPMAN_POPUP_TIMEOUT_S, displayMainPage);
}

void dispManCancelMainPageTimeout() {
    m_bIsMainPageTimerOn = 0;
}

void dispManSetHoldPageTimeout() {
    if (m_bIsHoldPageTimerOn == 0) {
        util_set_expiration(&m_HoldPageTimer, DISPMAN_MODE_HOLD_MS);
        m_bIsHoldPageTimerOn = 1;
    }
}

void dispManCheckHoldPageTimeout() {
    if (m_bIsHoldPageTimerOn == 0 || !expired(m_HoldPageTimer)) {
        return;
    }
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
    m_bIsHoldPageTimerOn = 0;
}

void dispManCancelHoldPageTimeout() {
    m_bIsHoldPageTimerOn = 0;
}

void dispManSetAdvSetupTimeout() {
    util_set_expiration(&m_AdvSetupTimer, ADV_SETUP_COMMIT_MS);
    setAdvSetupInDataDict();
}

void dispManCheckAdvSetupTimeout() {
    if (expired(m_AdvSetupTimer)) {
        getAdvSetupFromDataDict();
    }
}

void displayDataDictUpdateSetTimeout(uint32_t seconds) {
    if (m_bIsDataDictUpdOn != 0) {
        return;
    }
    if (g_DataDictSetUpdTimeoutPtr == nullptr && g_DataDictSetUpdTimeoutPtrWithArg == nullptr &&
        g_DataDictUpdTimeoutPtr == nullptr && g_DataDictUpdTimeoutPtrWithArg == nullptr) {
        return;
    }
    m_bIsDataDictUpdOn = 1;
    m_DataDictUpdTimeoutPtr = g_DataDictUpdTimeoutPtr;
    m_DataDictUpdTimeoutPtrWithArg =
        g_DataDictUpdTimeoutPtr == nullptr ? g_DataDictUpdTimeoutPtrWithArg : nullptr;
    m_DataDictSetUpdTimeoutPtr = g_DataDictSetUpdTimeoutPtr;
    m_DataDictSetUpdTimeoutPtrWithArg =
        g_DataDictSetUpdTimeoutPtr == nullptr ? g_DataDictSetUpdTimeoutPtrWithArg : nullptr;
    util_set_expiration(&m_DataDictUpdTimer, seconds * 1000);
}

void displayDataDictUpdateCheckTimeout() {
    if (m_bIsDataDictUpdOn == 0 || !expired(m_DataDictUpdTimer)) {
        return;
    }
    m_bIsDataDictUpdOn = 0;
    uint32_t updated[DISPLAY_PAGE_COUNT];
    getKorabusDataDictUpdate(updated);
    uint8_t page = m_CurrentPage;
    uint8_t day = getProgramMenuDay();
    if (page >= DISPLAY_PAGE_COUNT || updated[page] == 0) {
        if (m_DataDictSetUpdTimeoutPtr != nullptr) {
            m_DataDictSetUpdTimeoutPtr();
        } else if (m_DataDictSetUpdTimeoutPtrWithArg != nullptr) {
            m_DataDictSetUpdTimeoutPtrWithArg(day);
        }
    } else {
        // The bus changed what the page shows: its edits give way.
        updated[page] = 0;
        setKorabusDataDictUpdate(updated);
    }
    if (m_DataDictUpdTimeoutPtr != nullptr) {
        m_DataDictUpdTimeoutPtr();
    } else if (m_DataDictUpdTimeoutPtrWithArg != nullptr) {
        m_DataDictUpdTimeoutPtrWithArg(day);
    }
    m_DataDictUpdTimeoutPtr = nullptr;
    m_DataDictUpdTimeoutPtrWithArg = nullptr;
    m_DataDictSetUpdTimeoutPtr = nullptr;
    m_DataDictSetUpdTimeoutPtrWithArg = nullptr;
}

// ---- Lockout timers -------------------------------------------------------------------------

void dispManSetLockoutModeTimeout() {
    startLockTimer(LOCK_MODE);
}

void dispManSetLockoutFanTimeout() {
    startLockTimer(LOCK_FAN);
}

void dispManSetLockoutTempTimeout() {
    startLockTimer(LOCK_TEMP);
}

void dispManCheckLockoutModeTimeout() {
    checkLockTimer(LOCK_MODE);
}

void dispManCheckLockoutFanTimeout() {
    checkLockTimer(LOCK_FAN);
}

void dispManCheckLockoutTempTimeout() {
    if (checkLockTimer(LOCK_TEMP)) {
        // The set-point limits apply again.
        initialiseTStatFormat();
        initialiseHoldModeMenu();
        initialiseProgramMenu();
        initialiseVacationModeMenu();
    }
}

void resetLockoutFlags() {
    for (LockTimer &lock : m_LockTimers) {
        lock.running = 0;
    }
}

// ---- Backlight and screen saver ---------------------------------------------------------------

void displayManagerEnableBacklight() {
    TstatBkLightCtl_t bk{};
    getThermostatBacklightSettings(&bk);
    if (g_backlightOn == 0) {
        g_backlightOn = 1;
        screenSetPower(g_displayHdl, 1);
        // Another stored value leaves the level as it is.
        if (bk.activeBrightness < c_BacklightActiveLevels.size()) {
            screenSetBacklightLevel(g_displayHdl, c_BacklightActiveLevels[bk.activeBrightness]);
        }
        m_scrSvrTimerOn = 0;
        m_scrSvrOn = 0;
        util_set_expiration(&m_screenSaverTimer, 0);
    }
    util_set_expiration(&g_backlightTimer, static_cast<uint32_t>(bk.backlightTimeout) * 1000);
}

void displayManagerCheckBacklight() {
    if (g_backlightOn == 0 || !expired(g_backlightTimer)) {
        return;
    }
    g_backlightOn = 0;
    // The panel stays powered: only the level goes down.
    screenSetPower(g_displayHdl, 1);
    TstatBkLightCtl_t bk{};
    getThermostatBacklightSettings(&bk);
    if (bk.inactiveBrightness == BACKLIGHT_INACTIVE_DIM) {
        screenSetBacklightLevel(g_displayHdl, DISPMAN_LEVEL_DIM);
        m_scrSvrTimerOn = 1;
        m_scrSvrOn = 0;
    } else if (bk.inactiveBrightness == BACKLIGHT_INACTIVE_OFF) {
        screenSetBacklightLevel(g_displayHdl, DISPMAN_LEVEL_OFF);
        m_scrSvrTimerOn = 0;
        m_scrSvrOn = 0;
    }
}

uint32_t getBacklightTimerFlag() {
    return g_backlightOn;
}

void clearBacklightTimerFlag() {
    g_backlightOn = 0;
    m_scrSvrOn = 0;
}

void displayManagerEnableScreenSaver() {
    if (m_scrSvrTimerOn == 0 || m_scrSvrOn != 0 || !screenSaverAllowed()) {
        return;
    }
    m_scrSvrTimerOn = 0;
    util_set_expiration(&m_screenSaverTimer, 0);
}

void displayManagerCheckScreenSaver() {
    if (m_scrSvrTimerOn != 0 || !screenSaverAllowed() || !expired(m_screenSaverTimer)) {
        return;
    }
    menuUnselectCurrentItem();
    displayScreenSaver();
    m_scrSvrOn = 1;
    m_scrSvrTimerOn = 1;
    m_IsscrSvrTimerOn = 1;
}

void displayManagerEnableScrSvrTimer() {
    if (m_IsscrSvrTimerOn == 0 || m_scrSvrOn == 0 || !screenSaverAllowed()) {
        return;
    }
    m_IsscrSvrTimerOn = 0;
    util_set_expiration(&m_scrSvrTimer, SCREEN_SAVER_MOVE_MS);
}

void displayManagerCheckScrSvrTimer() {
    if (m_IsscrSvrTimerOn != 0 || m_scrSvrOn == 0 || !screenSaverAllowed() ||
        !expired(m_scrSvrTimer)) {
        return;
    }
    m_IsscrSvrTimerOn = 1;
    auto x = static_cast<int16_t>(rand() % SCREEN_SAVER_X_RANGE);
    auto y = static_cast<int16_t>(rand() % SCREEN_SAVER_Y_RANGE);
    screenMoveText(g_displayHdl, screenSaverText(), x, y);
}

uint8_t dispManIsScreenSaverShown() {
    return m_scrSvrOn;
}

void dispManRemoveScreenSaverText() {
    if (m_scrSvrOn != 0) {
        screenRemoveText(g_displayHdl, screenSaverText());
    }
}

// ---- Under-voltage warning ----------------------------------------------------------------------

void dispManSetUnderVoltageWarning(uint8_t on) {
    if (on == 0) {
        g_UnderVoltageActive = 0;
        return;
    }
    if (g_UnderVoltageActive == 0) {
        screenSetTextBlinkRate(g_displayHdl, g_UndervoltageTextHdl, DISPMAN_UNDERVOLTAGE_BLINK_MS);
        g_UnderVoltageActive = 1;
    }
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

// ---- Program and thermostat mode page flags ---------------------------------------------------

void setUserLeaveSPChange(uint8_t on) {
    m_LeaveSPChange = on;
}

uint8_t getUserLeaveSPChange() {
    return m_LeaveSPChange;
}

void setUserSleepSPChange(uint8_t on) {
    m_SleepSPChange = on;
}

uint8_t getUserSleepSPChange() {
    return m_SleepSPChange;
}

// ---- Tests -------------------------------------------------------------------------------------

void displayManagerReset() {
    buttonReset();
    screenReset();
    g_displayHdl = nullptr;
    g_UpButtonPtr = nullptr;
    g_DownButtonPtr = nullptr;
    g_ModeButtonPtr = nullptr;
    g_ModeButtonPtrWithArg = nullptr;
    dispManSetStoreCallbacks(nullptr, nullptr);
    g_UndervoltageTextHdl = nullptr;
    g_backlightOn = 0;
    g_UnderVoltageActive = 0;
    m_CurrentPage = PAGE_MAIN;
    m_TimeoutPtr = nullptr;
    m_TimeoutTimer = UtilTimer{};
    m_TimeoutVal = 0;
    m_DataDictSetUpdTimeoutPtr = nullptr;
    m_DataDictSetUpdTimeoutPtrWithArg = nullptr;
    m_DataDictUpdTimeoutPtr = nullptr;
    m_DataDictUpdTimeoutPtrWithArg = nullptr;
    m_bIsDataDictUpdOn = 0;
    m_DataDictUpdTimer = UtilTimer{};
    m_TempMainPageTimer = UtilTimer{};
    m_bIsMainPageTimerOn = 0;
    m_HoldPageTimer = UtilTimer{};
    m_bIsHoldPageTimerOn = 0;
    m_AdvSetupTimer = UtilTimer{};
    for (LockTimer &lock : m_LockTimers) {
        lock = LockTimer{};
    }
    g_backlightTimer = UtilTimer{};
    m_screenSaverTimer = UtilTimer{};
    m_scrSvrTimerOn = 0;
    m_scrSvrOn = 0;
    m_scrSvrTimer = UtilTimer{};
    m_IsscrSvrTimerOn = 0;
    m_LeaveSPChange = 0;
    m_SleepSPChange = 0;
    mainPageReset();
    mainPageIconsReset();
    forecastPagesReset();
    infoPagesReset();
}
