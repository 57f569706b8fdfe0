// Program schedule page, its copy-to page and the program help page.
#include "pages/program_menu.h"

#include "config/schedule.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "menus/setpoint_item.h"
#include "pages/main_page.h"
#include "pages/pages.h"

#include <algorithm>
#include <cstdio>

MenuItem g_ProgramMenu[PROG_MENU_ITEMS] = {};

namespace {

// The clock when the page opened; its weekday is the day being edited.
TstatClockCfg_t g_ProgClockConfig = {};
// The set points in force when the page opened in program mode (else zero).
TstatSetPoint_t g_PrevProgSP = {};

constexpr uint8_t DAYS = TSTAT_DAYS_PER_WEEK;
constexpr uint8_t PERIODS = TSTAT_PERIODS_PER_DAY;
constexpr uint8_t LAST_HOUR_24 = 23;
constexpr uint8_t LAST_MINUTE = 59;
// The start time: the hour text placed so that its last digit lines up
// with the minute, then the minute and the am/pm text.
constexpr int16_t HOUR_X_ONE_DIGIT = 182;
constexpr int16_t HOUR_X_TWO_DIGITS = 179;
constexpr int16_t MINUTE_X = 195;
constexpr int16_t AMPM_X = 217;

MenuItem m_ProgCopyToMenu[PROG_COPY_TO_ITEMS] = {};
// The day of week of copy-to positions 1-7.
constexpr uint8_t c_CheckedDow[PROG_COPY_TO_ITEMS - 1] = {6, 5, 4, 3, 2, 1, 0};
// The navigation stops of the program page, in order.
constexpr uint8_t c_ProgStops[] = {PROG_WAKE,  PROG_LEAVE,         PROG_RETURN,
                                   PROG_SLEEP, PROG_DEHUMID_FRAME, PROG_HUMID_FRAME,
                                   PROG_COPY,  PROG_NEXT_DAY,      PROG_DONE};

const char *const c_DayNames[DAYS] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                      "Thursday", "Friday", "Saturday"};

// Images of the program page: active (highlighted), then inactive.
const char *const c_PeriodGlyphs[PERIODS][2] = {
    {"./images/ProgramComposite/Program-Text-Wake-ON.png",
     "./images/ProgramComposite/Program-Text-Wake-OFF.png"},
    {"./images/ProgramComposite/Program-Text-Leave-ON.png",
     "./images/ProgramComposite/Program-Text-Leave-OFF.png"},
    {"./images/ProgramComposite/Program-Text-Return-ON.png",
     "./images/ProgramComposite/Program-Text-Return-OFF.png"},
    {"./images/ProgramComposite/Program-Text-Sleep-ON.png",
     "./images/ProgramComposite/Program-Text-Sleep-OFF.png"},
};
const char *const c_CellGlyphs[2] = {"./images/ProgramComposite/Program-Cell-ON.png",
                                     "./images/ProgramComposite/Program-Cell-OFF.png"};
// The current group's pictures: a filled bar while the keys move between
// the stops, an outline while one of its values is being changed.
const char *const c_RowEditImage = "./images/ProgramComposite/Program-Row-EDIT.png";
const char *const c_RowCurrentImage = "./images/ProgramComposite/Program-Row-ON.png";
const char *const c_CellEditImage = "./images/ProgramComposite/Program-Cell-EDIT.png";
const char *const c_DehumidGlyphs[2] = {
    "./images/ProgramComposite/Program-Text-Dehumidify-ON.png",
    "./images/ProgramComposite/Program-Text-Dehumidify-OFF.png"};
const char *const c_HumidGlyphs[2] = {"./images/ProgramComposite/Program-Text-Humidify-ON.png",
                                      "./images/ProgramComposite/Program-Text-Humidify-OFF.png"};
const char *const c_ButtonGlyphs[3][2] = {
    {"./images/ProgramComposite/Program-B1-Copy-ON.png",
     "./images/ProgramComposite/Program-B1-Copy-OFF.png"},
    {"./images/ProgramComposite/Program-B2-NextDay-ON.png",
     "./images/ProgramComposite/Program-B2-NextDay-OFF.png"},
    {"./images/ProgramComposite/Program-B3-Done-ON.png",
     "./images/ProgramComposite/Program-B3-Done-OFF.png"},
};

// Images of the copy-to page, by day of week (0 Sunday).
const char *const c_ActCopyToLabels[DAYS] = {
    "./images/Program/CopyTo/CopyTo-D1-Text-Sunday-ON.png",
    "./images/Program/CopyTo/CopyTo-D2-Text-Monday-ON.png",
    "./images/Program/CopyTo/CopyTo-D3-Text-Tuesday-ON.png",
    "./images/Program/CopyTo/CopyTo-D4-Text-Wednesday-ON.png",
    "./images/Program/CopyTo/CopyTo-D5-Text-Thursday-ON.png",
    "./images/Program/CopyTo/CopyTo-D6-Text-Friday-ON.png",
    "./images/Program/CopyTo/CopyTo-D7-Text-Saturday-ON.png",
};
const char *const c_InActCopyToLabels[DAYS] = {
    "./images/Program/CopyTo/CopyTo-D1-Text-Sunday-OFF.png",
    "./images/Program/CopyTo/CopyTo-D2-Text-Monday-OFF.png",
    "./images/Program/CopyTo/CopyTo-D3-Text-Tuesday-OFF.png",
    "./images/Program/CopyTo/CopyTo-D4-Text-Wednesday-OFF.png",
    "./images/Program/CopyTo/CopyTo-D5-Text-Thursday-OFF.png",
    "./images/Program/CopyTo/CopyTo-D6-Text-Friday-OFF.png",
    "./images/Program/CopyTo/CopyTo-D7-Text-Saturday-OFF.png",
};
const char *const c_CurrentDayCopyToGraphics[DAYS] = {
    "./images/Program/CopyTo/CopyTo-D1-Text-Sunday-CURRENT.png",
    "./images/Program/CopyTo/CopyTo-D2-Text-Monday-CURRENT.png",
    "./images/Program/CopyTo/CopyTo-D3-Text-Tuesday-CURRENT.png",
    "./images/Program/CopyTo/CopyTo-D4-Text-Wednesday-CURRENT.png",
    "./images/Program/CopyTo/CopyTo-D5-Text-Thursday-CURRENT.png",
    "./images/Program/CopyTo/CopyTo-D6-Text-Friday-CURRENT.png",
    "./images/Program/CopyTo/CopyTo-D7-Text-Saturday-CURRENT.png",
};
// The check-box rows by day and mark (not marked, marked): the first and
// last rows have the group's rounded corners.
#define COPY_ROW(row, state)                                                                       \
    {                                                                                              \
        "./images/Program/CopyTo/CopyTo-" row "-Graphic-NoCopy-" state ".png",                     \
            "./images/Program/CopyTo/CopyTo-" row "-Graphic-Copy-" state ".png"                    \
    }
const char *const c_SelectOnCopyToGraphics[DAYS][2] = {
    COPY_ROW("D1", "ON"),   COPY_ROW("D2_6", "ON"), COPY_ROW("D2_6", "ON"), COPY_ROW("D2_6", "ON"),
    COPY_ROW("D2_6", "ON"), COPY_ROW("D2_6", "ON"), COPY_ROW("D7", "ON"),
};
const char *const c_SelectOffCopyToGraphics[DAYS][2] = {
    COPY_ROW("D1", "OFF"),   COPY_ROW("D2_6", "OFF"), COPY_ROW("D2_6", "OFF"),
    COPY_ROW("D2_6", "OFF"), COPY_ROW("D2_6", "OFF"), COPY_ROW("D2_6", "OFF"),
    COPY_ROW("D7", "OFF"),
};
#undef COPY_ROW
const char *const c_CopyToDoneButton[2] = {"./images/Graphic-Button-ON.png",
                                           "./images/Graphic-Button-OFF.png"};
const char *const c_CopyToDoneLabel[2] = {"./images/Program/CopyTo/CopyTo-B1-Text-Done-ON.png",
                                          "./images/Program/CopyTo/CopyTo-B1-Text-Done-OFF.png"};

// Screen items the highlighting changes besides the records' own.
ScreenItem *m_ProgRowHighlight[PERIODS] = {};
ScreenItem *m_CopyToLabel[PROG_COPY_TO_ITEMS] = {};
ScreenItem *m_CopyToDoneLabel = nullptr;

// The unit the menu was last initialised for.
bool m_ProgMenuInitialised = false;
TempScale m_ProgMenuScale = TEMP_SCALE_FAHRENHEIT;
uint8_t m_PrevProgMode = 0;
// The temperature lock's range and unit of the last narrowing.
int8_t m_PrevTempRange = 0;
TempScale g_PrevTempScale = TEMP_SCALE_FAHRENHEIT;
// Under the temperature lock each day's set points may move by the range
// from the values the day had when its editing was first narrowed; another
// day keeps its own limits, so Next Day neither carries one day's limits
// over to another nor lets a set point creep.
struct LockBase {
    bool taken;
    fpr_t heat[PERIODS];
    fpr_t cool[PERIODS];
};
LockBase m_LockBase[DAYS] = {};

uint8_t editedDay() {
    return g_ProgClockConfig.weekday < DAYS ? g_ProgClockConfig.weekday : 0;
}

HumidifyState humidifyState() {
    return getHumidifyState();
}

bool dehumidifyShown() {
    HumidifyState state = humidifyState();
    return state == HUMIDIFY_STATE_DEHUMIDIFY || state == HUMIDIFY_STATE_AUTO;
}

bool humidifyShown() {
    HumidifyState state = humidifyState();
    return state == HUMIDIFY_STATE_HUMIDIFY || state == HUMIDIFY_STATE_AUTO;
}

bool isStop(uint8_t position) {
    for (uint8_t stop : c_ProgStops) {
        if (stop == position) {
            return true;
        }
    }
    return false;
}

bool stopShown(uint8_t stop) {
    if (stop == PROG_DEHUMID_FRAME) {
        return dehumidifyShown();
    }
    if (stop == PROG_HUMID_FRAME) {
        return humidifyShown();
    }
    return true;
}

uint8_t currentPosition() {
    MenuItem *item = getCurrentMenuPtr();
    if (item < &g_ProgramMenu[0] || item >= &g_ProgramMenu[PROG_MENU_ITEMS]) {
        return PROG_WAKE;
    }
    return static_cast<uint8_t>(item - g_ProgramMenu);
}

void navigationKeys() {
    displayManagerSetKeySlots(decProgModeMenuPtr, incProgModeMenuPtr,
                              displaySelectedProgMenuItemPage);
}

void moveTo(uint8_t position) {
    setCurrentMenuPtr(g_ProgramMenu, position);
    displayHighlightedItem();
    progModeSpecificHighlighting();
}

// Starts editing the record at position: it blinks in the active colour.
void editItem(uint8_t position) {
    setCurrentMenuPtr(g_ProgramMenu, position);
    setCurrentHighlightPtr(updateHighlightedItem);
    MenuItem *item = &g_ProgramMenu[position];
    DispManFn up = incrementMenuItemValue;
    DispManFn down = decrementMenuItemValue;
    DispManFn mode = callDataDictAndIncProgMenuPtr;
    if (position < PROG_DEHUMID_FRAME) {
        switch (position % PROG_PERIOD_ITEMS) {
        case PROG_HOUR:
            up = incrementProgModeTimeValue;
            down = decrementProgModeTimeValue;
            break;
        case PROG_AMPM:
            up = displayValidTime;
            down = displayValidTime;
            mode = incProgModeMenuPtr;
            break;
        default:
            break;
        }
    }
    displayManagerSetKeySlots(up, down, mode);
    setBlinkingText(item);
    progModeSpecificHighlighting();
}

void drawSetPoint(char *buffer, uint8_t position) {
    buffer[0] = '\0';
    if (g_PrintTempInCurrentFormat != nullptr) {
        g_PrintTempInCurrentFormat(buffer, SCREEN_TEXT_LEN, g_ProgramMenu[position].value);
    }
}

void drawHour(char *buffer, uint8_t header) {
    MenuItem &item = g_ProgramMenu[header + PROG_HOUR];
    snprintf(buffer, SCREEN_TEXT_LEN, "%2d", item.value);
    if (item.handle != nullptr) {
        screenMoveText(g_displayHdl, item.handle,
                       buffer[0] == ' ' ? HOUR_X_ONE_DIGIT : HOUR_X_TWO_DIGITS, item.handle->y);
    }
}

void drawMinute(char *buffer, uint8_t header) {
    snprintf(buffer, SCREEN_TEXT_LEN, ":%02d", g_ProgramMenu[header + PROG_MINUTE].value);
}

void drawAmPm(char *buffer, uint8_t header) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s",
             c_ProgTime[g_ProgramMenu[header + PROG_AMPM].value != 0 ? 1 : 0]);
}

void drawPercent(char *buffer, uint8_t position) {
    int value = std::clamp<int>(g_ProgramMenu[position].value, 0, 100);
    snprintf(buffer, SCREEN_TEXT_LEN, "%3u%c", static_cast<unsigned>(value), '%');
}

void forgetLockBases() {
    for (LockBase &base : m_LockBase) {
        base = LockBase{};
    }
}

// The day's limits under the temperature lock, or the full set-point range.
void applyLockLimits(uint8_t day) {
    TempLock lock = menuTempLock();
    int8_t range = lock.range;
    if (!lock.narrows()) {
        // A lock set again later narrows around the values of that time.
        forgetLockBases();
    }
    bool narrowed = lock.narrows() && m_LockBase[day].taken;
    for (uint8_t p = 0; p < PERIODS; p++) {
        MenuItem &heat = g_ProgramMenu[p * PROG_PERIOD_ITEMS + PROG_HEAT];
        MenuItem &cool = g_ProgramMenu[p * PROG_PERIOD_ITEMS + PROG_COOL];
        if (narrowed) {
            menuNarrowTempItem(&heat, m_LockBase[day].heat[p], range);
            menuNarrowTempItem(&cool, m_LockBase[day].cool[p], range);
        } else {
            heat.min = cool.min = g_MinSetPointTemp;
            heat.max = cool.max = g_MaxSetPointTemp;
        }
    }
}

void showHumidityGroups() {
    bool dehumid = dehumidifyShown();
    bool humid = humidifyShown();
    for (uint8_t i = PROG_DEHUMID_FRAME; i <= PROG_DEHUMID_SP; i++) {
        menuShowItem(g_ProgramMenu[i].handle, dehumid);
    }
    for (uint8_t i = PROG_HUMID_FRAME; i <= PROG_HUMID_SP; i++) {
        menuShowItem(g_ProgramMenu[i].handle, humid);
    }
}

void programDone() {
    setCurrDayProgModeSPInDataDict(editedDay());
    resetBlinkingTextPtr();
    g_ActiveColor = MENU_ACTIVE_COLOR;
    if (getThermostatMode() == TSTAT_MODE_PROGRAM) {
        TstatSetPoint_t inForce{};
        if (getCurrentThermostatSettings(&inForce) == 0 &&
            checkProgPageSetPoint(&g_PrevProgSP, &inForce) != 0) {
            setModeChangeFlag();
        }
        m_PrevProgMode = TSTAT_MODE_PROGRAM;
    } else if (m_PrevProgMode == TSTAT_MODE_PROGRAM) {
        setModeChangeFlag();
        m_PrevProgMode = TSTAT_MODE_HOLD;
    }
    saveThermostatSysCfg();
    displayMainPage();
}

void nextDay() {
    uint8_t day = editedDay();
    setCurrDayProgModeSPInDataDict(day);
    g_ProgClockConfig.weekday = static_cast<uint8_t>((day + 1) % DAYS);
    getCurrDayProgModeSPFromDataDict(g_ProgClockConfig.weekday);
}

} // namespace

// ---- Screens ------------------------------------------------------------------------------------

// One period row: outline, highlight, name, heat, cool and the start time.
#define PROGRAM_ROW(k, y, Name)                                                                    \
    screenBitmap(2, y, nullptr, "./images/ProgramComposite/Program-Row-OFF.png"),                  \
        screenBitmap(2, y, &m_ProgRowHighlight[k],                                                 \
                     "./images/ProgramComposite/Program-Row-ON.png"),                              \
        screenBitmap(4, y, &g_ProgramMenu[(k)*PROG_PERIOD_ITEMS].handle,                           \
                     "./images/ProgramComposite/Program-Text-" #Name "-OFF.png"),                  \
        screenText(84, (y) + 7, &g_ProgramMenu[(k)*PROG_PERIOD_ITEMS + PROG_HEAT].handle,          \
                   drawProg##Name##HeatSP, FONT_BOLD, 16, WHITE_TEXT_COLOR),                       \
        screenText(130, (y) + 7, &g_ProgramMenu[(k)*PROG_PERIOD_ITEMS + PROG_COOL].handle,         \
                   drawProg##Name##CoolSP, FONT_BOLD, 16, WHITE_TEXT_COLOR),                       \
        screenText(HOUR_X_TWO_DIGITS, (y) + 8,                                                     \
                   &g_ProgramMenu[(k)*PROG_PERIOD_ITEMS + PROG_HOUR].handle,                       \
                   drawProg##Name##TimeHourSP, FONT_BOLD, 14, WHITE_TEXT_COLOR),                   \
        screenText(MINUTE_X, (y) + 8, &g_ProgramMenu[(k)*PROG_PERIOD_ITEMS + PROG_MINUTE].handle,  \
                   drawProg##Name##TimeMinSP, FONT_BOLD, 14, WHITE_TEXT_COLOR),                    \
        screenText(AMPM_X, (y) + 10, &g_ProgramMenu[(k)*PROG_PERIOD_ITEMS + PROG_AMPM].handle,     \
                   drawProg##Name##AmPm, FONT_BOLD, 12, WHITE_TEXT_COLOR)

// The program page: the edited day's name, four period rows, the humidity
// row and the three buttons.
ScreenItem testScreenProgram[] = {
    screenBitmap(0, 0, nullptr, "./images/ProgramComposite/Program-Graphic-Bkgd.png"),
    SCREEN_DAY_BAR,
    screenText(4, 30, nullptr, drawMainScrTime, FONT_BOLD, 14, CLOCK_TEXT_COLOR),
    screenText(175, 30, nullptr, drawProgScrDate, FONT_BOLD, 14, CLOCK_TEXT_COLOR),
    screenText(8, 53, nullptr, drawProgDayName, FONT_BOLD, 15, WHITE_TEXT_COLOR),
    PROGRAM_ROW(0, 74, Wake),
    PROGRAM_ROW(1, 111, Leave),
    PROGRAM_ROW(2, 148, Return),
    PROGRAM_ROW(3, 185, Sleep),
    screenBitmap(2, 226, &g_ProgramMenu[PROG_DEHUMID_FRAME].handle,
                 "./images/ProgramComposite/Program-Cell-OFF.png"),
    screenBitmap(2, 226, &g_ProgramMenu[PROG_DEHUMID_LABEL].handle,
                 "./images/ProgramComposite/Program-Text-Dehumidify-OFF.png"),
    screenText(74, 234, &g_ProgramMenu[PROG_DEHUMID_SP].handle, drawProgDehumidSP, FONT_BOLD, 15,
               WHITE_TEXT_COLOR),
    screenBitmap(121, 226, &g_ProgramMenu[PROG_HUMID_FRAME].handle,
                 "./images/ProgramComposite/Program-Cell-OFF.png"),
    screenBitmap(121, 226, &g_ProgramMenu[PROG_HUMID_LABEL].handle,
                 "./images/ProgramComposite/Program-Text-Humidify-OFF.png"),
    screenText(193, 234, &g_ProgramMenu[PROG_HUMID_SP].handle, drawProgHumidSP, FONT_BOLD, 15,
               WHITE_TEXT_COLOR),
    screenBitmap(2, 274, &g_ProgramMenu[PROG_COPY].handle,
                 "./images/ProgramComposite/Program-B1-Copy-OFF.png"),
    screenBitmap(82, 274, &g_ProgramMenu[PROG_NEXT_DAY].handle,
                 "./images/ProgramComposite/Program-B2-NextDay-OFF.png"),
    screenBitmap(162, 274, &g_ProgramMenu[PROG_DONE].handle,
                 "./images/ProgramComposite/Program-B3-Done-OFF.png"),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};
#undef PROGRAM_ROW

// One day of the copy-to list: its check-box row and its name.
#define COPY_TO_ROW(position, y, row, label)                                                       \
    screenBitmap(16, y, &m_ProgCopyToMenu[position].handle, row),                                  \
        screenBitmap(16, y, &m_CopyToLabel[position], label)

// The copy-to page: a title, the week from Sunday to Saturday, and Done.
ScreenItem testScreenProgramCopyTo[] = {
    screenBitmap(0, 0, nullptr, "./images/Graphic-Bkgd-Pinstripes.png"),
    SCREEN_DAY_BAR,
    screenText(4, 30, nullptr, drawMainScrTime, FONT_BOLD, 14, CLOCK_TEXT_COLOR),
    screenText(175, 30, nullptr, drawProgScrDate, FONT_BOLD, 14, CLOCK_TEXT_COLOR),
    screenText(16, 51, nullptr, drawCopyToTitle, FONT_BOLD, 15, CLOCK_TEXT_COLOR),
    COPY_TO_ROW(7, 72, "./images/Program/CopyTo/CopyTo-D1-Graphic-NoCopy-OFF.png",
                "./images/Program/CopyTo/CopyTo-D1-Text-Sunday-OFF.png"),
    COPY_TO_ROW(6, 102, "./images/Program/CopyTo/CopyTo-D2_6-Graphic-NoCopy-OFF.png",
                "./images/Program/CopyTo/CopyTo-D2-Text-Monday-OFF.png"),
    COPY_TO_ROW(5, 132, "./images/Program/CopyTo/CopyTo-D2_6-Graphic-NoCopy-OFF.png",
                "./images/Program/CopyTo/CopyTo-D3-Text-Tuesday-OFF.png"),
    COPY_TO_ROW(4, 162, "./images/Program/CopyTo/CopyTo-D2_6-Graphic-NoCopy-OFF.png",
                "./images/Program/CopyTo/CopyTo-D4-Text-Wednesday-OFF.png"),
    COPY_TO_ROW(3, 192, "./images/Program/CopyTo/CopyTo-D2_6-Graphic-NoCopy-OFF.png",
                "./images/Program/CopyTo/CopyTo-D5-Text-Thursday-OFF.png"),
    COPY_TO_ROW(2, 222, "./images/Program/CopyTo/CopyTo-D2_6-Graphic-NoCopy-OFF.png",
                "./images/Program/CopyTo/CopyTo-D6-Text-Friday-OFF.png"),
    COPY_TO_ROW(1, 252, "./images/Program/CopyTo/CopyTo-D7-Graphic-NoCopy-OFF.png",
                "./images/Program/CopyTo/CopyTo-D7-Text-Saturday-OFF.png"),
    screenBitmap(64, 285, &m_ProgCopyToMenu[PROG_COPY_TO_DONE].handle,
                 "./images/Graphic-Button-OFF.png"),
    screenBitmap(64, 285, &m_CopyToDoneLabel,
                 "./images/Program/CopyTo/CopyTo-B1-Text-Done-OFF.png"),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};
#undef COPY_TO_ROW

// The program help: what the keys do on the program page.
ScreenItem testScreenProgramHelp[] = {
    SCREEN_HELP_ITEMS("Program", "Program"),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

const ScreenTableBackup c_ProgramBackup(testScreenProgram);
const ScreenTableBackup c_CopyToBackup(testScreenProgramCopyTo);
const ScreenTableBackup c_ProgramHelpBackup(testScreenProgramHelp);

} // namespace

// ---- Initialisation, loading and storing --------------------------------------------------------

void initialiseProgramMenu() {
    initialiseTStatFormat();
    for (uint8_t p = 0; p < PERIODS; p++) {
        auto header = static_cast<uint8_t>(p * PROG_PERIOD_ITEMS);
        menuInitGlyphItem(&g_ProgramMenu[header], header, c_PeriodGlyphs[p][0],
                          c_PeriodGlyphs[p][1]);
        menuInitTempItem(&g_ProgramMenu[header + PROG_HEAT], header + PROG_HEAT);
        menuInitTempItem(&g_ProgramMenu[header + PROG_COOL], header + PROG_COOL);
        menuInitIntItem(&g_ProgramMenu[header + PROG_HOUR], header + PROG_HOUR, 1, 12, 1);
        menuInitIntItem(&g_ProgramMenu[header + PROG_MINUTE], header + PROG_MINUTE, 0, LAST_MINUTE,
                        1);
        menuInitIntItem(&g_ProgramMenu[header + PROG_AMPM], header + PROG_AMPM, 0, 1, 1);
    }
    menuInitGlyphItem(&g_ProgramMenu[PROG_DEHUMID_FRAME], PROG_DEHUMID_FRAME, c_CellGlyphs[0],
                      c_CellGlyphs[1]);
    menuInitGlyphItem(&g_ProgramMenu[PROG_DEHUMID_LABEL], PROG_DEHUMID_LABEL, c_DehumidGlyphs[0],
                      c_DehumidGlyphs[1]);
    menuInitPercentItem(&g_ProgramMenu[PROG_DEHUMID_SP], PROG_DEHUMID_SP, 0);
    menuInitGlyphItem(&g_ProgramMenu[PROG_HUMID_FRAME], PROG_HUMID_FRAME, c_CellGlyphs[0],
                      c_CellGlyphs[1]);
    menuInitGlyphItem(&g_ProgramMenu[PROG_HUMID_LABEL], PROG_HUMID_LABEL, c_HumidGlyphs[0],
                      c_HumidGlyphs[1]);
    menuInitPercentItem(&g_ProgramMenu[PROG_HUMID_SP], PROG_HUMID_SP, 0);
    for (uint8_t b = 0; b < 3; b++) {
        auto position = static_cast<uint8_t>(PROG_COPY + b);
        menuInitGlyphItem(&g_ProgramMenu[position], position, c_ButtonGlyphs[b][0],
                          c_ButtonGlyphs[b][1]);
    }
    g_ProgramMenu[PROG_COPY].max = 1;
    for (uint8_t i = 0; i < PROG_COPY_TO_ITEMS; i++) {
        menuInitIntItem(&m_ProgCopyToMenu[i], i, 0, 1, 1);
        m_ProgCopyToMenu[i].value = 0;
    }
    m_ProgMenuInitialised = true;
    m_ProgMenuScale = displayTempScale();
    m_PrevTempRange = 0;
    forgetLockBases();
    screenUserHdlInit(testScreenProgram);
    screenUserHdlInit(testScreenProgramCopyTo);
    // The tables share slots with every page (day bar, warning text): they
    // must keep naming the items of the screen on display.
    if (g_displayHdl != nullptr) {
        screenUserHdlInit(g_displayHdl->currentScreen);
    }
}

uint8_t getProgramMenuDay() {
    return editedDay();
}

void getCurrDayProgModeSPFromDataDict(uint8_t day) {
    if (day >= DAYS) {
        return;
    }
    initialiseTStatFormat();
    for (uint8_t p = 0; p < PERIODS; p++) {
        TstatSetPoint_t period{};
        if (getProgramThermostatSettings(p, day, &period) != 0) {
            continue;
        }
        MenuItem *group = &g_ProgramMenu[p * PROG_PERIOD_ITEMS];
        menuLoadTemperature(&group[PROG_HEAT], period.heatSetPoint);
        menuLoadTemperature(&group[PROG_COOL], period.coolSetPoint);
        // A start time outside the day is shown as its last minute.
        uint8_t hour12 = 12;
        uint8_t pm = 0;
        menuHourFrom24(std::min(period.startHour, LAST_HOUR_24), &hour12, &pm);
        group[PROG_HOUR].value = hour12;
        group[PROG_AMPM].value = pm;
        group[PROG_MINUTE].value = std::min(period.startMinute, LAST_MINUTE);
        if (p == 0) {
            menuLoadFixedPoint(&g_ProgramMenu[PROG_DEHUMID_SP], period.dehumidifySetPoint);
            menuLoadFixedPoint(&g_ProgramMenu[PROG_HUMID_SP], period.humidifySetPoint);
        }
    }
    applyLockLimits(day);
}

void setCurrDayProgModeSPInDataDict(uint8_t day) {
    if (day >= DAYS) {
        return;
    }
    for (uint8_t p = 0; p < PERIODS; p++) {
        const MenuItem *group = &g_ProgramMenu[p * PROG_PERIOD_ITEMS];
        TstatSetPoint_t period{};
        period.heatSetPoint = menuTemperatureOf(&group[PROG_HEAT]);
        period.coolSetPoint = menuTemperatureOf(&group[PROG_COOL]);
        auto hour12 = static_cast<uint8_t>(std::clamp<int16_t>(group[PROG_HOUR].value, 1, 12));
        period.startHour = menuHourTo24(hour12, group[PROG_AMPM].value != 0 ? 1 : 0);
        period.startMinute =
            static_cast<uint8_t>(std::clamp<int16_t>(group[PROG_MINUTE].value, 0, LAST_MINUTE));
        period.dehumidifySetPoint = menuFixedPointOf(&g_ProgramMenu[PROG_DEHUMID_SP]);
        period.humidifySetPoint = menuFixedPointOf(&g_ProgramMenu[PROG_HUMID_SP]);
        setProgramThermostatSettings(p, day, &period);
    }
}

// ---- The program page ---------------------------------------------------------------------------

void displayProgramModePage() {
    // The copy-to page is part of this page: coming back from it keeps the
    // day being edited and the set points the page opened with.
    bool fromCopyTo = dispManGetCurrentPage() == PAGE_PROGRAM;
    initialiseTStatFormat();
    if (!m_ProgMenuInitialised || displayTempScale() != m_ProgMenuScale) {
        initialiseProgramMenu();
    }
    resetBlinkingTextPtr();
    if (!fromCopyTo) {
        // Editing starts on today.
        getClockConfiguration(&g_ProgClockConfig);
        g_PrevProgSP = TstatSetPoint_t{};
        if (getThermostatMode() == TSTAT_MODE_PROGRAM &&
            getCurrentThermostatSettings(&g_PrevProgSP) != 0) {
            g_PrevProgSP = TstatSetPoint_t{};
        }
        setThermostatMode(TSTAT_MODE_PROGRAM);
    }
    menuOpenPage(PAGE_PROGRAM, {.position = fromCopyTo ? PROG_COPY : PROG_WAKE});
    // Every value in the inactive colour, whatever the page last showed.
    updateHighlightedItem();
    showHumidityGroups();
    progModeSpecificHighlighting();
}

void programPageTimeout() {
    saveThermostatSysCfg();
    displayMainPage();
}

void loadProgramPage() {
    getCurrDayProgModeSPFromDataDict(editedDay());
}

void programKeyTouched(const MenuItem *item) {
    // A period's set points and start time follow its header.
    auto inPeriod = [item](uint8_t header) {
        return item->index >= header + PROG_HEAT && item->index <= header + PROG_AMPM;
    };
    setUserLeaveSPChange(inPeriod(PROG_LEAVE) ? 1 : 0);
    setUserSleepSPChange(inPeriod(PROG_SLEEP) ? 1 : 0);
}

void incProgModeMenuPtr() {
    uint8_t position = currentPosition();
    resetBlinkingTextPtr();
    screenUpdateTextColor(g_displayHdl, g_ProgramMenu[position].handle, g_InactiveColor);
    navigationKeys();
    uint8_t next = PROG_WAKE;
    for (uint8_t stop : c_ProgStops) {
        if (stop > position && stopShown(stop)) {
            next = stop;
            break;
        }
    }
    moveTo(next);
}

void decProgModeMenuPtr() {
    uint8_t position = currentPosition();
    uint8_t previous = PROG_DONE;
    for (uint8_t stop : c_ProgStops) {
        if (stop < position && stopShown(stop)) {
            previous = stop;
        }
    }
    moveTo(previous);
}

void displaySelectedProgMenuItemPage() {
    uint8_t position = currentPosition();
    if (position < PROG_DEHUMID_FRAME && position % PROG_PERIOD_ITEMS == 0) {
        uint8_t first = position + PROG_HEAT;
        TempLock lock = menuTempLock();
        if (lock.narrows()) {
            updateProgramMenuValues();
        } else if (lock.freezes()) {
            first = position + PROG_HOUR;
        }
        editItem(first);
        return;
    }
    switch (position) {
    case PROG_DEHUMID_FRAME:
    case PROG_HUMID_FRAME:
        editItem(position + 2);
        break;
    case PROG_COPY:
        displayCopyToPage();
        break;
    case PROG_NEXT_DAY:
        nextDay();
        break;
    case PROG_DONE:
        programDone();
        break;
    default:
        break;
    }
}

void callDataDictAndIncProgMenuPtr() {
    uint8_t position = currentPosition();
    uint8_t offset = position % PROG_PERIOD_ITEMS;
    if (position >= PROG_DEHUMID_FRAME || offset == PROG_AMPM) {
        incProgModeMenuPtr();
    } else if (offset != 0) {
        // Heat, cool, hour and minute lead to the next value of the period.
        screenUpdateTextColor(g_displayHdl, g_ProgramMenu[position].handle, g_InactiveColor);
        editItem(position + 1);
    }
}

// The current group lies on the filled bar while the keys move between the
// stops, and is framed while one of its values is being changed.
void progModeSpecificHighlighting() {
    uint8_t position = currentPosition();
    bool onProgram = getCurrentMenuPtr() == &g_ProgramMenu[position];
    bool editing = onProgram && !isStop(position);
    for (uint8_t p = 0; p < PERIODS; p++) {
        auto header = static_cast<uint8_t>(p * PROG_PERIOD_ITEMS);
        bool active = onProgram && position >= header && position < header + PROG_PERIOD_ITEMS;
        if (active) {
            screenReplaceBitmap(g_displayHdl, m_ProgRowHighlight[p],
                                editing ? c_RowEditImage : c_RowCurrentImage);
        }
        menuShowItem(m_ProgRowHighlight[p], active);
        menuShowGlyph(g_ProgramMenu[header], active);
    }
    bool dehumid = onProgram && position >= PROG_DEHUMID_FRAME && position <= PROG_DEHUMID_SP;
    bool humid = onProgram && position >= PROG_HUMID_FRAME && position <= PROG_HUMID_SP;
    menuShowGlyph(g_ProgramMenu[PROG_DEHUMID_FRAME], dehumid);
    menuShowGlyph(g_ProgramMenu[PROG_DEHUMID_LABEL], dehumid);
    menuShowGlyph(g_ProgramMenu[PROG_HUMID_FRAME], humid);
    menuShowGlyph(g_ProgramMenu[PROG_HUMID_LABEL], humid);
    if (editing && (dehumid || humid)) {
        screenReplaceBitmap(g_displayHdl,
                            g_ProgramMenu[dehumid ? PROG_DEHUMID_FRAME : PROG_HUMID_FRAME].handle,
                            c_CellEditImage);
    }
    for (uint8_t button = PROG_COPY; button <= PROG_DONE; button++) {
        menuShowGlyph(g_ProgramMenu[button], onProgram && position == button);
    }
}

void setBlinkingText(MenuItem *item) {
    resetBlinkingTextPtr();
    if (item != nullptr) {
        screenSetTextBlinkRate(g_displayHdl, item->handle, c_TextBlinkRate);
    }
}

void resetBlinkingTextPtr() {
    for (uint8_t i = 1; i <= PROG_HUMID_SP; i++) {
        if (g_ProgramMenu[i].hasGlyphs == 0) {
            screenSetTextBlinkRate(g_displayHdl, g_ProgramMenu[i].handle, 0);
        }
    }
}

void updateLockoutProgMode(int8_t range) {
    m_PrevTempRange = range;
    uint8_t day = editedDay();
    LockBase &base = m_LockBase[day];
    if (!base.taken) {
        for (uint8_t p = 0; p < PERIODS; p++) {
            base.heat[p] = menuFixedPointOf(&g_ProgramMenu[p * PROG_PERIOD_ITEMS + PROG_HEAT]);
            base.cool[p] = menuFixedPointOf(&g_ProgramMenu[p * PROG_PERIOD_ITEMS + PROG_COOL]);
        }
        base.taken = true;
    }
    applyLockLimits(day);
}

void updateProgramMenuValues() {
    initialiseTStatFormat();
    TempLock lock = menuTempLock();
    if (!lock.narrows()) {
        return;
    }
    int8_t range = lock.range;
    TempScale scale = displayTempScale();
    if (range != m_PrevTempRange || scale != g_PrevTempScale) {
        // Another range or unit: every day narrows afresh from its values.
        forgetLockBases();
        g_PrevTempScale = scale;
    }
    updateLockoutProgMode(range);
}

uint8_t checkProgPageSetPoint(const TstatSetPoint_t *previous, const TstatSetPoint_t *current) {
    return previous->heatSetPoint != current->heatSetPoint ||
                   previous->coolSetPoint != current->coolSetPoint ||
                   previous->humidifySetPoint != current->humidifySetPoint ||
                   previous->dehumidifySetPoint != current->dehumidifySetPoint ||
                   previous->startHour != current->startHour ||
                   previous->startMinute != current->startMinute
               ? 1
               : 0;
}

// ---- The copy-to page ---------------------------------------------------------------------------

void displayCopyToPage() {
    for (MenuItem &item : m_ProgCopyToMenu) {
        item.value = 0;
    }
    resetBlinkingTextPtr();
    g_ActiveColor = MENU_ACTIVE_COLOR;
    screenSetCurrentScreen(g_displayHdl, testScreenProgramCopyTo);
    dispManSetCurrentPage(PAGE_PROGRAM);
    displayManagerCancelTimeout();
    g_MinMenuIndex = 0;
    g_MaxMenuIndex = PROG_COPY_TO_ITEMS - 1;
    setCurrentMenuPtr(m_ProgCopyToMenu, PROG_COPY_TO_DONE);
    setCurrentPagePtr(m_ProgCopyToMenu, PROG_COPY_TO_DONE);
    setCurrentHighlightPtr(showCopyToHighlightedMenuItem);
    displayManagerSetKeySlots(incProgModePopUpMenuIndex, decProgModePopUpMenuIndex,
                              handleProgModePopUpMenuAction);
}

namespace {

uint8_t copyToPosition() {
    MenuItem *item = getCurrentMenuPtr();
    if (item < &m_ProgCopyToMenu[0] || item >= &m_ProgCopyToMenu[PROG_COPY_TO_ITEMS]) {
        return PROG_COPY_TO_DONE;
    }
    return static_cast<uint8_t>(item - m_ProgCopyToMenu);
}

// The day being edited is not a copy target: its position is passed over.
bool isEditedDay(uint8_t position) {
    return position != PROG_COPY_TO_DONE && c_CheckedDow[position - 1] == editedDay();
}

void selectCopyTo(uint8_t position) {
    setCurrentMenuPtr(m_ProgCopyToMenu, position);
    displayHighlightedItem();
}

} // namespace

void incProgModePopUpMenuIndex() {
    auto position = static_cast<uint8_t>((copyToPosition() + 1) % PROG_COPY_TO_ITEMS);
    if (isEditedDay(position)) {
        position = static_cast<uint8_t>((position + 1) % PROG_COPY_TO_ITEMS);
    }
    selectCopyTo(position);
}

void decProgModePopUpMenuIndex() {
    uint8_t position = copyToPosition();
    position = position == 0 ? PROG_COPY_TO_ITEMS - 1 : position - 1;
    if (isEditedDay(position)) {
        // A day, never Done at 0: one more step down stays on the page.
        position--;
    }
    selectCopyTo(position);
}

void handleProgModePopUpMenuAction() {
    if (copyToPosition() == PROG_COPY_TO_DONE) {
        performCopyToActions();
        setCurrentMenuPtr(g_ProgramMenu, PROG_COPY);
        displayProgramModePage();
    } else {
        displayNextValidValue();
    }
}

void performCopyToActions() {
    for (uint8_t position = 1; position < PROG_COPY_TO_ITEMS; position++) {
        MenuItem &item = m_ProgCopyToMenu[position];
        if (item.value == 1 && !isEditedDay(position)) {
            setCurrDayProgModeSPInDataDict(c_CheckedDow[position - 1]);
        }
        item.value = 0;
    }
}

void showCopyToHighlightedMenuItem() {
    uint8_t current = copyToPosition();
    bool onDone = current == PROG_COPY_TO_DONE;
    screenReplaceBitmap(g_displayHdl, m_ProgCopyToMenu[PROG_COPY_TO_DONE].handle,
                        c_CopyToDoneButton[onDone ? 0 : 1]);
    screenReplaceBitmap(g_displayHdl, m_CopyToDoneLabel, c_CopyToDoneLabel[onDone ? 0 : 1]);
    for (uint8_t position = 1; position < PROG_COPY_TO_ITEMS; position++) {
        uint8_t day = c_CheckedDow[position - 1];
        bool active = position == current;
        const char *label = isEditedDay(position) ? c_CurrentDayCopyToGraphics[day]
                            : active              ? c_ActCopyToLabels[day]
                                                  : c_InActCopyToLabels[day];
        int marked = m_ProgCopyToMenu[position].value == 1 ? 1 : 0;
        const char *row =
            active ? c_SelectOnCopyToGraphics[day][marked] : c_SelectOffCopyToGraphics[day][marked];
        screenReplaceBitmap(g_displayHdl, m_CopyToLabel[position], label);
        screenReplaceBitmap(g_displayHdl, m_ProgCopyToMenu[position].handle, row);
    }
}

// ---- Help ---------------------------------------------------------------------------------------

void displayProgramHelpPage() {
    dispManCancelMainPageTimeout();
    menuOpenPage(PAGE_PROGRAM_HELP, {});
}

// ---- Texts --------------------------------------------------------------------------------------

void drawProgScrDate(char *buffer) {
    createDateString(buffer, SCREEN_TEXT_LEN);
    showDayBar(editedDay());
}

void drawProgDayName(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", c_DayNames[editedDay()]);
}

void drawCopyToTitle(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "Copy %s to:", c_DayNames[editedDay()]);
}

void drawProgWakeHeatSP(char *buffer) {
    drawSetPoint(buffer, PROG_WAKE + PROG_HEAT);
}
void drawProgWakeCoolSP(char *buffer) {
    drawSetPoint(buffer, PROG_WAKE + PROG_COOL);
}
void drawProgLeaveHeatSP(char *buffer) {
    drawSetPoint(buffer, PROG_LEAVE + PROG_HEAT);
}
void drawProgLeaveCoolSP(char *buffer) {
    drawSetPoint(buffer, PROG_LEAVE + PROG_COOL);
}
void drawProgReturnHeatSP(char *buffer) {
    drawSetPoint(buffer, PROG_RETURN + PROG_HEAT);
}
void drawProgReturnCoolSP(char *buffer) {
    drawSetPoint(buffer, PROG_RETURN + PROG_COOL);
}
void drawProgSleepHeatSP(char *buffer) {
    drawSetPoint(buffer, PROG_SLEEP + PROG_HEAT);
}
void drawProgSleepCoolSP(char *buffer) {
    drawSetPoint(buffer, PROG_SLEEP + PROG_COOL);
}
void drawProgWakeTimeHourSP(char *buffer) {
    drawHour(buffer, PROG_WAKE);
}
void drawProgLeaveTimeHourSP(char *buffer) {
    drawHour(buffer, PROG_LEAVE);
}
void drawProgReturnTimeHourSP(char *buffer) {
    drawHour(buffer, PROG_RETURN);
}
void drawProgSleepTimeHourSP(char *buffer) {
    drawHour(buffer, PROG_SLEEP);
}
void drawProgWakeTimeMinSP(char *buffer) {
    drawMinute(buffer, PROG_WAKE);
}
void drawProgLeaveTimeMinSP(char *buffer) {
    drawMinute(buffer, PROG_LEAVE);
}
void drawProgReturnTimeMinSP(char *buffer) {
    drawMinute(buffer, PROG_RETURN);
}
void drawProgSleepTimeMinSP(char *buffer) {
    drawMinute(buffer, PROG_SLEEP);
}
void drawProgWakeAmPm(char *buffer) {
    drawAmPm(buffer, PROG_WAKE);
}
void drawProgLeaveAmPm(char *buffer) {
    drawAmPm(buffer, PROG_LEAVE);
}
void drawProgReturnAmPm(char *buffer) {
    drawAmPm(buffer, PROG_RETURN);
}
void drawProgSleepAmPm(char *buffer) {
    drawAmPm(buffer, PROG_SLEEP);
}
void drawProgDehumidSP(char *buffer) {
    drawPercent(buffer, PROG_DEHUMID_SP);
}
void drawProgHumidSP(char *buffer) {
    drawPercent(buffer, PROG_HUMID_SP);
}

// ---- Tests --------------------------------------------------------------------------------------

void programMenuReset() {
    c_ProgramBackup.restore();
    c_CopyToBackup.restore();
    c_ProgramHelpBackup.restore();
    for (MenuItem &item : g_ProgramMenu) {
        item = MenuItem{};
    }
    for (MenuItem &item : m_ProgCopyToMenu) {
        item = MenuItem{};
    }
    for (ScreenItem *&item : m_ProgRowHighlight) {
        item = nullptr;
    }
    for (ScreenItem *&item : m_CopyToLabel) {
        item = nullptr;
    }
    m_CopyToDoneLabel = nullptr;
    g_ProgClockConfig = TstatClockCfg_t{};
    g_PrevProgSP = TstatSetPoint_t{};
    m_ProgMenuInitialised = false;
    m_ProgMenuScale = TEMP_SCALE_FAHRENHEIT;
    m_PrevProgMode = 0;
    m_PrevTempRange = 0;
    g_PrevTempScale = TEMP_SCALE_FAHRENHEIT;
    forgetLockBases();
}
