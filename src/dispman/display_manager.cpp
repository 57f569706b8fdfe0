// Display manager: the poll cycle, key slots, page time-out, store cycle,
// lockout timers, backlight, screen saver and under-voltage warning.
#include "dispman/display_manager.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "config/temp_scale.h"
#include "graphics/buttons.h"
#include "graphics/screen_test.h"
#include "platform/platform_display.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>

DispManFn g_ModeButtonPtr = nullptr;
ScreenItem *g_UndervoltageTextHdl = nullptr;
uint32_t g_UnderVoltageActive = 0;

static_assert(c_BacklightActiveLevels.size() == BACKLIGHT_ACTIVE_HIGH + 1,
              "one level per active backlight setting");

namespace {

// Key slots, called on a press of their key (null: the key does nothing);
// displayManagerSetKeySlots installs the plain ones. The mode slot with an
// argument, when set, takes precedence over the plain one and receives the
// current menu item.
DispManFn g_UpButtonPtr = nullptr;
DispManFn g_DownButtonPtr = nullptr;
DispManItemFn g_ModeButtonPtrWithArg = nullptr;

// Store callbacks of the page on screen (null: none): save
// (g_DataDictSetUpdTimeoutPtr) writes the page's edits into the
// configuration store, refresh (g_DataDictUpdTimeoutPtr) reloads the page
// from it. The with-argument forms receive the day of week the program page
// is editing. Installed with displayManagerSetStoreCallbacks and
// displayManagerSetStoreCallbacksForDay.
DispManFn g_DataDictSetUpdTimeoutPtr = nullptr;
DispManDayFn g_DataDictSetUpdTimeoutPtrWithArg = nullptr;
DispManFn g_DataDictUpdTimeoutPtr = nullptr;
DispManDayFn g_DataDictUpdTimeoutPtrWithArg = nullptr;

// Key edges taken per pass: five iterations, each possibly two checks.
constexpr int KEY_ITERATIONS = 5;
// The screen saver's text jumps to x in [0, 131) and y in [0, 241): the
// panel less the text's size (a wider text less far right). While the
// under-voltage band shows, its tops start below the band.
constexpr int SCREEN_SAVER_X_RANGE = 131;
constexpr int SCREEN_SAVER_Y_RANGE = 241;
constexpr uint32_t MS_PER_SECOND = 1000;
constexpr uint32_t MS_PER_MINUTE = 60000;

void call(DispManFn fn) {
    if (fn != nullptr) {
        fn();
    }
}

// ---- Timers ---------------------------------------------------------------------------

// Every time-out of the display manager is a row of one table: a deadline on
// the monotonic clock and whether the timer runs. A running timer whose
// deadline has passed is due; whoever acts on it stops it.
enum TimerId : uint8_t {
    TIMER_PAGE,           // the page time-out: m_TimeoutPtr after m_TimeoutVal seconds
    TIMER_STORE_CYCLE,    // the store cycle's next save and refresh
    TIMER_MAIN_PAGE_MODE, // the mode key held on the main page
    TIMER_HOLD_PAGE_MODE, // the mode key held on the hold page
    TIMER_COMMIT,       // a page's commit (the advanced setup's), run out once its deadline passed
    TIMER_BACKLIGHT,    // inactivity: runs while the backlight is active
    TIMER_SCREEN_SAVER, // runs while the screen saver may start
    TIMER_SCREEN_SAVER_MOVE, // the next jump of the screen saver's text
    TIMER_LOCK_MODE,         // the lock durations
    TIMER_LOCK_FAN,
    TIMER_LOCK_TEMP,
    TIMER_ALERT_ICONS, // the next look at the reminders of the alert icons
    TIMER_ANIMATION,   // the adjusting animation's next phase
    TIMER_COUNT,
};

// Each timer's length, milliseconds; 0 for those whose length is given when
// they start, and for the screen saver's start, which is due at once.
struct TimerLength {
    TimerId id;
    uint32_t ms;
};

constexpr TimerLength c_TimerLengths[TIMER_COUNT] = {
    {TIMER_PAGE, 0},
    {TIMER_STORE_CYCLE, 0},
    {TIMER_MAIN_PAGE_MODE, DISPMAN_MODE_HOLD_MS},
    {TIMER_HOLD_PAGE_MODE, DISPMAN_MODE_HOLD_MS},
    {TIMER_COMMIT, 20000},
    {TIMER_BACKLIGHT, 0},
    {TIMER_SCREEN_SAVER, 0},
    {TIMER_SCREEN_SAVER_MOVE, 3000},
    {TIMER_LOCK_MODE, 0},
    {TIMER_LOCK_FAN, 0},
    {TIMER_LOCK_TEMP, 0},
    {TIMER_ALERT_ICONS, 1000},
    {TIMER_ANIMATION, 500},
};

constexpr bool timerRowsInOrder() {
    for (size_t i = 0; i < TIMER_COUNT; i++) {
        if (c_TimerLengths[i].id != i) {
            return false;
        }
    }
    return true;
}
static_assert(timerRowsInOrder(), "one row per timer, in the order of their ids");

struct Timer {
    UtilTimer deadline;
    uint8_t running;
};

Timer m_Timers[TIMER_COUNT] = {};

void startTimer(TimerId id, uint32_t ms) {
    util_set_expiration(&m_Timers[id].deadline, ms);
    m_Timers[id].running = 1;
}

void startTimer(TimerId id) {
    startTimer(id, c_TimerLengths[id].ms);
}

void startIfStopped(TimerId id) {
    if (m_Timers[id].running == 0) {
        startTimer(id);
    }
}

void stopTimer(TimerId id) {
    m_Timers[id].running = 0;
}

bool running(TimerId id) {
    return m_Timers[id].running != 0;
}

bool expired(TimerId id) {
    return util_check_expiration(&m_Timers[id].deadline) != 0;
}

bool due(TimerId id) {
    return running(id) && expired(id);
}

// A due timer is acted on: it stops, and what it does is a change the next
// render pass shows.
void actOn(TimerId id) {
    stopTimer(id);
    utilNoteChange();
}

// ---- State -------------------------------------------------------------------------------

// The page table before start-up: no rows, no functions.
constexpr PageTable c_NoPages = {};
constexpr PageEntry c_NoPage = {.id = PAGE_UNUSED_8, .current = PAGE_NO_ITEM};

// The page table handed over at start-up, and its rows by page number.
const PageTable *m_Pages = &c_NoPages;
std::array<const PageEntry *, DISPLAY_PAGE_COUNT> m_PageRows = {};

uint8_t m_CurrentPage = PAGE_MAIN;

// The page time-out's function and length (seconds).
DispManFn m_TimeoutPtr = nullptr;
uint32_t m_TimeoutVal = 0;

// What tells the day the day forms of the store callbacks receive (the day
// the program page is editing).
DispManDayOfFn m_DataDictDayOf = nullptr;

// The store cycle's latched callbacks.
DispManFn m_DataDictSetUpdTimeoutPtr = nullptr;
DispManDayFn m_DataDictSetUpdTimeoutPtrWithArg = nullptr;
DispManFn m_DataDictUpdTimeoutPtr = nullptr;
DispManDayFn m_DataDictUpdTimeoutPtrWithArg = nullptr;
DispManDayOfFn m_LatchedDayOf = nullptr;

// The screen saver is shown.
uint8_t m_scrSvrOn = 0;

uint8_t m_LeaveSPChange = 0;
uint8_t m_SleepSPChange = 0;

MenuItem *currentItem() {
    return m_Pages->currentItem != nullptr ? m_Pages->currentItem() : nullptr;
}

ScreenItem *screenSaverText() {
    return m_Pages->screenSaverText != nullptr ? m_Pages->screenSaverText() : nullptr;
}

// ---- Locks ---------------------------------------------------------------------------------

// The three timed locks, in the order they are polled.
enum LockKind { LOCK_MODE, LOCK_FAN, LOCK_TEMP, LOCK_KINDS };

constexpr TimerId c_LockTimer[LOCK_KINDS] = {TIMER_LOCK_MODE, TIMER_LOCK_FAN, TIMER_LOCK_TEMP};

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

// A lock's duration starts; a duration of 0 starts nothing.
void startLockTimer(LockKind kind) {
    TstatLockoutCfg_t cfg{};
    getLockoutConfiguration(&cfg);
    uint16_t minutes = lockMinutes(cfg, kind);
    if (minutes != 0) {
        // In 32 bits every 16-bit duration is exact.
        startTimer(c_LockTimer[kind], static_cast<uint32_t>(minutes) * MS_PER_MINUTE);
    }
}

// When the lock's time ran out: the lock is released and its time cleared.
void checkLockTimer(LockKind kind) {
    if (!due(c_LockTimer[kind])) {
        return;
    }
    actOn(c_LockTimer[kind]);
    TstatLockoutCfg_t cfg{};
    getLockoutConfiguration(&cfg);
    releaseLock(&cfg, kind);
    setLockoutConfiguration(&cfg);
    // Kept in memory only, the lock would come back after a power cut with
    // its time cleared, that is locked for good.
    if (saveThermostatSysCfg() != 0) {
        puts("ERROR: saveThermostatSysCfg failed");
    }
    if (kind == LOCK_TEMP) {
        // The set-point limits apply again.
        initialiseTStatFormat();
        for (const PageEntry &row : m_Pages->rows) {
            if ((row.flags & PAGE_SET_POINT_LIMITS) != 0) {
                row.initialise();
            }
        }
    }
}

void pollLockoutTimers(const PageEntry &row) {
    TstatLockoutCfg_t cfg{};
    getLockoutConfiguration(&cfg);
    if (cfg.buttonLockout != LOCK_LOCKED) {
        return;
    }
    for (int k = 0; k < LOCK_KINDS; k++) {
        auto kind = static_cast<LockKind>(k);
        if (lockField(cfg, kind) != LOCK_LOCKED) {
            continue;
        }
        if (!running(c_LockTimer[kind]) && (row.flags & PAGE_HOLDS_LOCK_TIMERS) == 0) {
            startLockTimer(kind);
        }
        checkLockTimer(kind);
    }
}

// ---- Page time-out, store cycle and the mode key's hold timers --------------------------------

void checkPageTimeout() {
    if (!due(TIMER_PAGE) || m_scrSvrOn != 0) {
        return;
    }
    actOn(TIMER_PAGE);
    DispManFn fn = m_TimeoutPtr;
    m_TimeoutPtr = nullptr;
    call(fn);
}

// Arms the store cycle, when it is not armed and the page installed callbacks.
void startStoreCycle(uint32_t seconds) {
    if (running(TIMER_STORE_CYCLE)) {
        return;
    }
    if (g_DataDictSetUpdTimeoutPtr == nullptr && g_DataDictSetUpdTimeoutPtrWithArg == nullptr &&
        g_DataDictUpdTimeoutPtr == nullptr && g_DataDictUpdTimeoutPtrWithArg == nullptr) {
        return;
    }
    m_DataDictUpdTimeoutPtr = g_DataDictUpdTimeoutPtr;
    m_DataDictUpdTimeoutPtrWithArg =
        g_DataDictUpdTimeoutPtr == nullptr ? g_DataDictUpdTimeoutPtrWithArg : nullptr;
    m_DataDictSetUpdTimeoutPtr = g_DataDictSetUpdTimeoutPtr;
    m_DataDictSetUpdTimeoutPtrWithArg =
        g_DataDictSetUpdTimeoutPtr == nullptr ? g_DataDictSetUpdTimeoutPtrWithArg : nullptr;
    m_LatchedDayOf = m_DataDictDayOf;
    startTimer(TIMER_STORE_CYCLE, seconds * MS_PER_SECOND);
}

// Saves the page's edits (unless the control bus changed the page's data)
// and reloads the page.
void runStoreCycle() {
    if (!due(TIMER_STORE_CYCLE)) {
        return;
    }
    actOn(TIMER_STORE_CYCLE);
    uint32_t updated[DISPLAY_PAGE_COUNT];
    getKorabusDataDictUpdate(updated);
    uint8_t page = m_CurrentPage;
    uint8_t day = m_LatchedDayOf != nullptr ? m_LatchedDayOf() : 0;
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

// The timer of a page's 3 s mode-key hold: the main page's mode slot starts
// one, a mode press on the hold page the other.
TimerId modeHoldTimer(const PageEntry &row) {
    return row.modeHold == MODE_HOLD_BY_PRESS ? TIMER_HOLD_PAGE_MODE : TIMER_MAIN_PAGE_MODE;
}

// The mode key held 3 s: the page's action.
void checkModeHold(const PageEntry &row) {
    if (row.modeHold == MODE_HOLD_NONE || !due(modeHoldTimer(row))) {
        return;
    }
    actOn(modeHoldTimer(row));
    row.modeHeld();
}

// A mode key released before the hold timer ran out was a short press.
void releaseMode(const PageEntry &row) {
    if (row.modeHold == MODE_HOLD_NONE) {
        return;
    }
    TimerId hold = modeHoldTimer(row);
    if (!running(hold) || expired(hold)) {
        return;
    }
    stopTimer(hold);
    call(row.modeShortPress != nullptr ? row.modeShortPress : g_ModeButtonPtr);
}

// ---- Backlight and screen saver ----------------------------------------------------------

bool screenSaverAllowed() {
    if (running(TIMER_BACKLIGHT)) {
        return false;
    }
    TstatBkLightCtl_t bk{};
    getThermostatBacklightSettings(&bk);
    return bk.inactiveBrightness == BACKLIGHT_INACTIVE_DIM && getScrSaverState() == FEATURE_ENABLE;
}

// The backlight's time-out: the inactive level, and with "Dim" the screen
// saver may start.
void checkBacklight() {
    if (!due(TIMER_BACKLIGHT)) {
        return;
    }
    actOn(TIMER_BACKLIGHT);
    // The panel stays powered: only the level goes down.
    screenSetPower(g_displayHdl, 1);
    TstatBkLightCtl_t bk{};
    getThermostatBacklightSettings(&bk);
    if (bk.inactiveBrightness == BACKLIGHT_INACTIVE_DIM) {
        screenSetBacklightLevel(g_displayHdl, DISPMAN_LEVEL_DIM);
        stopTimer(TIMER_SCREEN_SAVER);
        m_scrSvrOn = 0;
    } else if (bk.inactiveBrightness == BACKLIGHT_INACTIVE_OFF) {
        screenSetBacklightLevel(g_displayHdl, DISPMAN_LEVEL_OFF);
        startTimer(TIMER_SCREEN_SAVER);
        m_scrSvrOn = 0;
    }
}

// The highest top the screen saver's text may take: under the under-voltage
// band while it shows.
int16_t screenSaverTop() {
    return g_UnderVoltageActive != 0 ? UNDERVOLTAGE_BAND_BOTTOM : 0;
}

// The screen saver's text moves down clear of the under-voltage band.
void keepScreenSaverClear() {
    ScreenItem *text = screenSaverText();
    if (m_scrSvrOn != 0 && text != nullptr && text->y < screenSaverTop()) {
        screenMoveText(g_displayHdl, text, text->x, screenSaverTop());
    }
}

// The screen saver's timer starts once the display went inactive ("Dim");
// when it runs out while the saver is allowed, the saver is shown, and its
// text jumps to a random place whenever the move timer runs out.
void pollScreenSaver() {
    if (!running(TIMER_SCREEN_SAVER) && m_scrSvrOn == 0 && screenSaverAllowed()) {
        startTimer(TIMER_SCREEN_SAVER);
    }
    if (due(TIMER_SCREEN_SAVER) && screenSaverAllowed()) {
        actOn(TIMER_SCREEN_SAVER);
        call(m_Pages->unselectCurrentItem);
        call(m_Pages->screenSaver);
        m_scrSvrOn = 1;
        stopTimer(TIMER_SCREEN_SAVER_MOVE);
    }
    if (!running(TIMER_SCREEN_SAVER_MOVE) && m_scrSvrOn != 0 && screenSaverAllowed()) {
        startTimer(TIMER_SCREEN_SAVER_MOVE);
    }
    if (due(TIMER_SCREEN_SAVER_MOVE) && m_scrSvrOn != 0 && screenSaverAllowed()) {
        actOn(TIMER_SCREEN_SAVER_MOVE);
        int top = screenSaverTop();
        // A text wider than the range allows for (three digits, or two wide
        // ones) jumps less far right, so that its degree sign stays on the panel.
        ScreenItem *text = screenSaverText();
        int room = text != nullptr ? static_cast<int>(SCREEN_NOMINAL_WIDTH) - text->width + 1
                                   : SCREEN_SAVER_X_RANGE;
        auto x = static_cast<int16_t>(rand() % std::clamp(room, 1, SCREEN_SAVER_X_RANGE));
        auto y = static_cast<int16_t>(top + rand() % (SCREEN_SAVER_Y_RANGE - top));
        screenMoveText(g_displayHdl, text, x, y);
    }
    keepScreenSaverClear();
}

// ---- Main page icons and animation ----------------------------------------------------------

// The main screen's animation runs while comfort recovery adjusts the set points.
bool adjusting() {
    return m_Pages->adjusting != nullptr && m_Pages->adjusting();
}

void pollMainScreenIcons() {
    if (adjusting()) {
        startIfStopped(TIMER_ANIMATION);
    } else {
        call(m_Pages->stopAnimation);
    }
    if (due(TIMER_ANIMATION)) {
        if (adjusting()) {
            call(m_Pages->animate);
        }
        actOn(TIMER_ANIMATION);
    }
    displayManagerCheckAlertIcons();
    startIfStopped(TIMER_ALERT_ICONS);
}

// ---- Render pass -----------------------------------------------------------------------------

// What the texts were last refreshed after: the count of changes and the
// wall-clock second.
uint32_t m_RefreshedChanges = 0;
int64_t m_RefreshedSecond = 0;
bool m_Refreshed = false;

// The texts are refreshed (every update function called) only when they may
// have changed: after a change was noted (a key, a time-out, a packet, a
// control run), in another wall-clock second, or with a frame to draw anyway.
// Otherwise the pass only blinks and draws what is due. A refresh that
// changed something is a change itself, so the texts are looked at again
// until they hold still.
void renderPass() {
    if (g_displayHdl == nullptr) {
        return;
    }
    uint32_t changes = utilChangeCount();
    int64_t second = util_time(nullptr);
    if (m_Refreshed && changes == m_RefreshedChanges && second == m_RefreshedSecond &&
        g_displayHdl->dirty == 0) {
        screenRenderKeepingTexts(g_displayHdl);
        return;
    }
    m_Refreshed = true;
    m_RefreshedChanges = changes;
    m_RefreshedSecond = second;
    if (screenRender(g_displayHdl) != 0) {
        utilNoteChange();
    }
}

// ---- Keys -------------------------------------------------------------------------------------

void idleWork(const PageEntry &row) {
    checkModeHold(row);
    if (row.idle != nullptr && row.idle(currentItem())) {
        utilNoteChange();
    }
    checkBacklight();
    pollScreenSaver();
}

// Up or down pressed: the page hears of it, then the key's slot.
void upOrDown(const PageEntry &row, DispManFn slot) {
    MenuItem *item = currentItem();
    if (row.keyTouched != nullptr && item != nullptr) {
        row.keyTouched(item);
    }
    call(slot);
}

// The mode slot with an argument takes precedence over the plain one.
void pressMode(const PageEntry &row) {
    if (g_ModeButtonPtrWithArg != nullptr) {
        MenuItem *item = currentItem();
        if (item != nullptr) {
            g_ModeButtonPtrWithArg(item);
        }
    } else if (g_ModeButtonPtr != nullptr) {
        if (row.modeHold == MODE_HOLD_BY_PRESS) {
            startIfStopped(TIMER_HOLD_PAGE_MODE);
        } else {
            g_ModeButtonPtr();
        }
    }
    if (row.modeTouched != nullptr) {
        row.modeTouched(currentItem());
    }
}

// Takes one key edge; false when none waits (the pass's idle work is done).
bool keyIteration(const PageEntry &row) {
    uint32_t id = BUTTON_END;
    int edge = buttonCheck(&id);
    // Releases of the up, down and fourth keys mean nothing: take the next edge.
    if (edge == BUTTON_RELEASE && id != BUTTON_MODE) {
        edge = buttonCheck(&id);
    }
    if (edge == BUTTON_NO_EDGE) {
        idleWork(row);
        return false;
    }
    utilNoteChange();
    if (edge == BUTTON_RELEASE && id == BUTTON_MODE) {
        releaseMode(row);
    }
    // A key that finds the display dark only wakes it.
    if (!running(TIMER_BACKLIGHT) && m_scrSvrOn == 0) {
        displayManagerEnableBacklight();
        return true;
    }
    displayManagerResetTimeout();
    displayManagerEnableBacklight();
    if (edge != BUTTON_PRESS) {
        return true;
    }
    switch (id) {
    case BUTTON_UP:
        upOrDown(row, g_UpButtonPtr);
        break;
    case BUTTON_DOWN:
        upOrDown(row, g_DownButtonPtr);
        break;
    case BUTTON_MODE:
        pressMode(row);
        break;
    case BUTTON_EXIT:
        exit(0);
    default:
        break;
    }
    return true;
}

} // namespace

// ---- Life cycle -------------------------------------------------------------------------------

void displayManagerInit(const PageTable &pages) {
    m_Pages = &pages;
    m_PageRows = {};
    for (const PageEntry &row : pages.rows) {
        m_PageRows[row.id] = &row;
    }
    displayManagerCancelTimeout();
    g_UpButtonPtr = pages.mainPage;
    g_DownButtonPtr = pages.mainPage;
    g_ModeButtonPtr = pages.mainPage;
    g_ModeButtonPtrWithArg = nullptr;
    initialiseTStatFormat();
    for (const PageEntry &row : pages.rows) {
        if (row.initialise != nullptr) {
            row.initialise();
        }
        for (ScreenItem *screen : row.bind) {
            screenUserHdlInit(screen);
        }
    }
    screenUserHdlInit(pages.screenSaverScreen);
    buttonInit();
    g_displayHdl = screenInit();
    displayManagerEnableBacklight();
    g_ModeButtonPtr();
}

void displayManagerPoll() {
    const PageEntry &row = dispManPageEntry(m_CurrentPage);
    checkPageTimeout();
    runStoreCycle();
    renderPass();
    startStoreCycle(0);
    pollLockoutTimers(row);
    // The main screen's icons and animation, while that screen is on display
    // (the screen saver keeps the page number of the page it covers).
    if ((row.flags & PAGE_SHOWS_MAIN_SCREEN) != 0 && m_scrSvrOn == 0) {
        pollMainScreenIcons();
    }
    // Once no edge waits, none comes in the rest of the pass either.
    for (int i = 0; i < KEY_ITERATIONS && keyIteration(row); i++) {
    }
    // The main page's pop-ups are the one time-out on that page.
    platformDisplayNotePopUp(m_CurrentPage == PAGE_MAIN && m_TimeoutPtr != nullptr);
}

void displayManagerStop() {
    buttonStop();
    screenStop(g_displayHdl);
}

// ---- Pages, slots and time-outs ------------------------------------------------------------

void dispManSetCurrentPage(uint8_t page) {
    m_CurrentPage = page;
    platformDisplayNotePage(page);
}

uint8_t dispManGetCurrentPage() {
    return m_CurrentPage;
}

const PageEntry &dispManPageEntry(uint8_t id) {
    return id < DISPLAY_PAGE_COUNT && m_PageRows[id] != nullptr ? *m_PageRows[id] : c_NoPage;
}

void displayManagerSetKeySlots(DispManFn up, DispManFn down, DispManFn mode) {
    g_UpButtonPtr = up;
    g_DownButtonPtr = down;
    g_ModeButtonPtr = mode;
    g_ModeButtonPtrWithArg = nullptr;
}

void displayManagerSetStoreCallbacks(DispManFn refresh, DispManFn save) {
    g_DataDictUpdTimeoutPtr = refresh;
    g_DataDictSetUpdTimeoutPtr = save;
    g_DataDictUpdTimeoutPtrWithArg = nullptr;
    g_DataDictSetUpdTimeoutPtrWithArg = nullptr;
    m_DataDictDayOf = nullptr;
}

void displayManagerSetStoreCallbacksForDay(DispManDayFn refresh, DispManDayFn save,
                                           DispManDayOfFn day) {
    g_DataDictUpdTimeoutPtr = nullptr;
    g_DataDictSetUpdTimeoutPtr = nullptr;
    g_DataDictUpdTimeoutPtrWithArg = refresh;
    g_DataDictSetUpdTimeoutPtrWithArg = save;
    m_DataDictDayOf = day;
}

void displayManagerSetTimeout(uint32_t seconds, DispManFn fn) {
    m_TimeoutPtr = fn;
    m_TimeoutVal = seconds;
    startTimer(TIMER_PAGE, seconds * MS_PER_SECOND);
}

void displayManagerCancelTimeout() {
    m_TimeoutPtr = nullptr;
    stopTimer(TIMER_PAGE);
}

void displayManagerResetTimeout() {
    util_set_expiration(&m_Timers[TIMER_PAGE].deadline, m_TimeoutVal * MS_PER_SECOND);
}

void dispManSetMainPageTimeout() {
    startIfStopped(TIMER_MAIN_PAGE_MODE);
}

void dispManCancelMainPageTimeout() {
    stopTimer(TIMER_MAIN_PAGE_MODE);
}

void displayManagerCancelHoldPageTimeout() {
    stopTimer(TIMER_HOLD_PAGE_MODE);
}

void displayManagerStartCommitTimer() {
    startTimer(TIMER_COMMIT);
}

uint8_t displayManagerCommitTimerRanOut() {
    return expired(TIMER_COMMIT) ? 1 : 0;
}

void resetLockoutFlags() {
    for (TimerId lock : c_LockTimer) {
        stopTimer(lock);
    }
}

// ---- Main page icons ---------------------------------------------------------------------------

void displayManagerCheckAlertIcons() {
    if (due(TIMER_ALERT_ICONS)) {
        actOn(TIMER_ALERT_ICONS);
        call(m_Pages->refreshAlertIcons);
    }
    call(m_Pages->showActivityIcons);
}

// ---- Backlight and screen saver ---------------------------------------------------------------

void displayManagerEnableBacklight() {
    TstatBkLightCtl_t bk{};
    getThermostatBacklightSettings(&bk);
    if (!running(TIMER_BACKLIGHT)) {
        screenSetPower(g_displayHdl, 1);
        // Another stored value leaves the level as it is.
        if (bk.activeBrightness < c_BacklightActiveLevels.size()) {
            screenSetBacklightLevel(g_displayHdl, c_BacklightActiveLevels[bk.activeBrightness]);
        }
        startTimer(TIMER_SCREEN_SAVER);
        m_scrSvrOn = 0;
    }
    startTimer(TIMER_BACKLIGHT, static_cast<uint32_t>(bk.backlightTimeout) * MS_PER_SECOND);
}

uint32_t getBacklightTimerFlag() {
    return running(TIMER_BACKLIGHT) ? 1 : 0;
}

void clearBacklightTimerFlag() {
    stopTimer(TIMER_BACKLIGHT);
    m_scrSvrOn = 0;
}

uint8_t displayManagerScreenSaverShown() {
    return m_scrSvrOn;
}

void displayManagerRemoveScreenSaverText() {
    if (m_scrSvrOn != 0) {
        screenRemoveText(g_displayHdl, screenSaverText());
    }
}

// ---- Under-voltage warning ----------------------------------------------------------------------

void dispManSetUnderVoltageWarning(uint8_t on) {
    utilNoteChange();
    if (on == 0) {
        g_UnderVoltageActive = 0;
        return;
    }
    if (g_UnderVoltageActive == 0) {
        screenSetTextBlinkRate(g_displayHdl, g_UndervoltageTextHdl, DISPMAN_UNDERVOLTAGE_BLINK_MS);
        g_UnderVoltageActive = 1;
        keepScreenSaverClear();
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
    m_Pages = &c_NoPages;
    m_PageRows = {};
    buttonReset();
    screenReset();
    g_displayHdl = nullptr;
    g_UpButtonPtr = nullptr;
    g_DownButtonPtr = nullptr;
    g_ModeButtonPtr = nullptr;
    g_ModeButtonPtrWithArg = nullptr;
    displayManagerSetStoreCallbacks(nullptr, nullptr);
    g_UndervoltageTextHdl = nullptr;
    g_UnderVoltageActive = 0;
    m_CurrentPage = PAGE_MAIN;
    for (Timer &timer : m_Timers) {
        timer = Timer{};
    }
    m_TimeoutPtr = nullptr;
    m_TimeoutVal = 0;
    m_DataDictSetUpdTimeoutPtr = nullptr;
    m_DataDictSetUpdTimeoutPtrWithArg = nullptr;
    m_DataDictUpdTimeoutPtr = nullptr;
    m_DataDictUpdTimeoutPtrWithArg = nullptr;
    m_LatchedDayOf = nullptr;
    m_scrSvrOn = 0;
    m_LeaveSPChange = 0;
    m_SleepSPChange = 0;
    m_Refreshed = false;
}
