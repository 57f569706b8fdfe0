// Vacation page and vacation help page.
#include "pages/vacation_menu.h"

#include "config/data_dict.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "core/util.h"
#include "dispman/display_manager.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "menus/setpoint_item.h"
#include "pages/main_page.h"
#include "pages/pages.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

MenuItem g_VacationMenu[VAC_MENU_ITEMS] = {};

namespace {

// Compared with the set points in force at Done; it stays all zero.
TstatSetPoint_t g_PrevVacSP = {};

} // namespace

const char *const c_ActVacEnable[2] = {
    "./images/AwayComposite/Away-Button-Graphic-Enabled-ON.png",
    "./images/AwayComposite/Away-Button-Graphic-Disabled-ON.png",
};
const char *const c_InActVacEnable[2] = {
    "./images/AwayComposite/Away-Button-Graphic-Enabled-OFF.png",
    "./images/AwayComposite/Away-Button-Graphic-Disabled-OFF.png",
};

namespace {

constexpr int MONTHS = 12;
constexpr int TM_YEAR_BASE = 1900;
// The years an end time may have to be shown and edited; another stored
// value (a damaged record, a time the clock cannot convert) is taken as now.
constexpr int YEAR_FIRST = 1970;
constexpr int YEAR_LAST = 3000;
constexpr int YEARS_AHEAD = 10;
constexpr int64_t SECONDS_PER_DAY = 86400;
constexpr int64_t SECONDS_PER_HOUR = 3600;
constexpr int64_t DAYS_MAX = UINT8_MAX;
constexpr uint8_t LAST_MINUTE = 59;
// Places of the set-point texts, so that the degree signs line up.
constexpr int16_t TEMP_X = 199;
constexpr int16_t TEMP_X_CELSIUS_ONE_DIGIT = 200;
constexpr int16_t PERCENT_X_HUNDRED = 186;
constexpr int16_t PERCENT_X_ONE_DIGIT = 196;
constexpr int16_t PERCENT_X = 191;
// The six groups of values, and their headers.
constexpr uint8_t GROUPS = 6;
constexpr uint8_t c_GroupHeaders[GROUPS] = {VAC_DATE,     VAC_TIME,      VAC_COOL_HDR,
                                            VAC_HEAT_HDR, VAC_HUMID_HDR, VAC_DEHUMID_HDR};
constexpr uint8_t GROUP_HUMID = 4;
constexpr uint8_t GROUP_DEHUMID = 5;

// The current group's bar while the keys move between the groups, and its
// outline while one of its values is being changed.
const char *const c_RowCurrentImage = "./images/AwayComposite/Away-Row-ON.png";
const char *const c_RowEditImage = "./images/AwayComposite/Away-Row-EDIT.png";

const char *const c_MonthNames[MONTHS] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char *const c_AmPm[2] = {"AM", "PM"};
const char *const c_HeaderGlyphs[GROUPS][2] = {
    {"./images/AwayComposite/Away-Text-EndDate-ON.png",
     "./images/AwayComposite/Away-Text-EndDate-OFF.png"},
    {"./images/AwayComposite/Away-Text-EndTime-ON.png",
     "./images/AwayComposite/Away-Text-EndTime-OFF.png"},
    {"./images/AwayComposite/Away-Text-Cool-ON.png",
     "./images/AwayComposite/Away-Text-Cool-OFF.png"},
    {"./images/AwayComposite/Away-Text-Heat-ON.png",
     "./images/AwayComposite/Away-Text-Heat-OFF.png"},
    {"./images/AwayComposite/Away-Text-Humidify-ON.png",
     "./images/AwayComposite/Away-Text-Humidify-OFF.png"},
    {"./images/AwayComposite/Away-Text-Dehumidify-ON.png",
     "./images/AwayComposite/Away-Text-Dehumidify-OFF.png"},
};
const char *const c_DoneGlyphs[2] = {"./images/AwayComposite/Away-B1-Done-ON.png",
                                     "./images/AwayComposite/Away-B1-Done-OFF.png"};

// Screen items of the page besides the records' own: each group's highlight
// and the outlines of the two humidity groups.
ScreenItem *m_VacRowHighlight[GROUPS] = {};
ScreenItem *m_HumidifyBkgnd = nullptr;
ScreenItem *m_DeHumidifyBkgnd = nullptr;

bool m_VacMenuInitialised = false;
TempScale m_VacMenuScale = TEMP_SCALE_FAHRENHEIT;
// The mode last reported from this page: 0, 1 or 2.
uint8_t m_prevMode = 0;
// The range limit and the unit of the last narrowing under the temperature lock.
int8_t m_PrevTempRangeVac = 0;
TempScale m_PrevTempSclVac = TEMP_SCALE_FAHRENHEIT;

bool humidifyShown() {
    HumidifyState state = getHumidifyState();
    return state == HUMIDIFY_STATE_HUMIDIFY || state == HUMIDIFY_STATE_AUTO;
}

bool dehumidifyShown() {
    HumidifyState state = getHumidifyState();
    return state == HUMIDIFY_STATE_DEHUMIDIFY || state == HUMIDIFY_STATE_AUTO;
}

bool groupShown(uint8_t group) {
    return (group != GROUP_HUMID || humidifyShown()) &&
           (group != GROUP_DEHUMID || dehumidifyShown());
}

uint8_t currentPosition() {
    MenuItem *item = getCurrentMenuPtr();
    if (item < &g_VacationMenu[0] || item >= &g_VacationMenu[VAC_MENU_ITEMS]) {
        return VAC_ENABLE;
    }
    return static_cast<uint8_t>(item - g_VacationMenu);
}

// The group (0-5) a position belongs to; GROUPS for the switch and Done.
uint8_t groupOf(uint8_t position) {
    for (uint8_t g = GROUPS; g > 0; g--) {
        if (position >= c_GroupHeaders[g - 1] && position < VAC_DONE) {
            return g - 1;
        }
    }
    return GROUPS;
}

bool vacationEnabled() {
    return g_VacationMenu[VAC_ENABLE].value == VAC_ENABLED;
}

// The switch shows its value's pictures.
void showSwitch() {
    MenuItem &item = g_VacationMenu[VAC_ENABLE];
    int value = item.value == VAC_ENABLED ? 0 : 1;
    item.activeGlyph = c_ActVacEnable[value];
    item.inactiveGlyph = c_InActVacEnable[value];
    menuShowGlyph(item, currentPosition() == VAC_ENABLE);
}

void showHumidityGroups() {
    bool humid = humidifyShown();
    bool dehumid = dehumidifyShown();
    menuShowItem(m_HumidifyBkgnd, humid);
    menuShowItem(g_VacationMenu[VAC_HUMID_HDR].handle, humid);
    menuShowItem(g_VacationMenu[VAC_HUMID].handle, humid);
    menuShowItem(m_DeHumidifyBkgnd, dehumid);
    menuShowItem(g_VacationMenu[VAC_DEHUMID_HDR].handle, dehumid);
    menuShowItem(g_VacationMenu[VAC_DEHUMID].handle, dehumid);
}

void navigationKeys() {
    displayManagerSetKeySlots(decVacModeMenuPtr, incVacModeMenuPtr, displaySelectedVacMenuItemPage);
}

void moveTo(uint8_t position) {
    setCurrentMenuPtr(g_VacationMenu, position);
    displayHighlightedItem();
    vacModeSpecificHighlighting();
}

void editItem(uint8_t position) {
    setCurrentMenuPtr(g_VacationMenu, position);
    displayManagerSetKeySlots(incrementMenuItemValue, decrementMenuItemValue,
                              callDataDictAndIncVacModePtr);
    setCurrentHighlightPtr(updateHighlightedItem);
    setVacBlinkingText(&g_VacationMenu[position]);
    vacModeSpecificHighlighting();
}

// With the temperature lock and no range, the set points cannot be edited:
// true when they are to be passed over (after narrowing their limits).
bool setPointsLocked() {
    TempLock lock = menuTempLock();
    if (!lock.locked) {
        return false;
    }
    updateVacMenuValues();
    return lock.freezes();
}

// Down from the heat header, by the humidity groups shown.
uint8_t afterHeat() {
    if (humidifyShown()) {
        return VAC_HUMID_HDR;
    }
    return dehumidifyShown() ? VAC_DEHUMID_HDR : VAC_DONE;
}

// The stop that Down leads to from a stop (also from the end of a group).
uint8_t downFrom(uint8_t position) {
    switch (position) {
    case VAC_ENABLE:
        return vacationEnabled() ? VAC_DATE : VAC_DONE;
    case VAC_DATE:
        return VAC_TIME;
    case VAC_TIME:
        return setPointsLocked() ? afterHeat() : VAC_COOL_HDR;
    case VAC_COOL_HDR:
        return VAC_HEAT_HDR;
    case VAC_HEAT_HDR:
        return afterHeat();
    case VAC_HUMID_HDR:
        return dehumidifyShown() ? VAC_DEHUMID_HDR : VAC_DONE;
    case VAC_DEHUMID_HDR:
        return VAC_DONE;
    default:
        return VAC_ENABLE;
    }
}

// Up to the heat header, or past the set points when the lock forbids them.
uint8_t upToHeat() {
    return setPointsLocked() ? VAC_TIME : VAC_HEAT_HDR;
}

uint8_t upFrom(uint8_t position) {
    switch (position) {
    case VAC_ENABLE:
        return VAC_DONE;
    case VAC_DATE:
        return VAC_ENABLE;
    case VAC_TIME:
        return VAC_DATE;
    case VAC_COOL_HDR:
        return VAC_TIME;
    case VAC_HEAT_HDR:
        return VAC_COOL_HDR;
    case VAC_HUMID_HDR:
        return upToHeat();
    case VAC_DEHUMID_HDR:
        return humidifyShown() ? VAC_HUMID_HDR : upToHeat();
    case VAC_DONE:
        if (!vacationEnabled()) {
            return VAC_ENABLE;
        }
        if (dehumidifyShown()) {
            return VAC_DEHUMID_HDR;
        }
        return humidifyShown() ? VAC_HUMID_HDR : upToHeat();
    default:
        return VAC_ENABLE;
    }
}

// The end time in local time, or now when it cannot be shown.
struct tm endTimeOf(int64_t endTime) {
    struct tm local {};
    auto seconds = static_cast<time_t>(endTime);
    if (localtime_r(&seconds, &local) == nullptr || local.tm_year + TM_YEAR_BASE < YEAR_FIRST ||
        local.tm_year + TM_YEAR_BASE > YEAR_LAST) {
        seconds = static_cast<time_t>(util_time(nullptr));
        localtime_r(&seconds, &local);
    }
    return local;
}

void drawTemperature(char *buffer, uint8_t position) {
    buffer[0] = '\0';
    MenuItem &item = g_VacationMenu[position];
    if (g_PrintTempInCurrentFormat != nullptr) {
        g_PrintTempInCurrentFormat(buffer, SCREEN_TEXT_LEN, item.value);
    }
    bool oneDigit = item.value > -10 && item.value < 10;
    int16_t x =
        displayTempScale() == TEMP_SCALE_CELSIUS && oneDigit ? TEMP_X_CELSIUS_ONE_DIGIT : TEMP_X;
    if (item.handle != nullptr) {
        screenMoveText(g_displayHdl, item.handle, x, item.handle->y);
    }
}

void drawPercent(char *buffer, uint8_t position, bool used) {
    MenuItem &item = g_VacationMenu[position];
    if (!used) {
        snprintf(buffer, SCREEN_TEXT_LEN, " ");
        return;
    }
    int value = item.value;
    unsigned magnitude = static_cast<unsigned>(value < 0 ? -value : value);
    snprintf(buffer, SCREEN_TEXT_LEN, "%c%u%c", value < 0 ? '-' : ' ', magnitude, '%');
    int16_t x = magnitude >= 100 ? PERCENT_X_HUNDRED
                : magnitude < 10 ? PERCENT_X_ONE_DIGIT
                                 : PERCENT_X;
    if (item.handle != nullptr) {
        screenMoveText(g_displayHdl, item.handle, x, item.handle->y);
    }
}

void vacationDone() {
    setVacModeSPInDataDict();
    resetCurrentGlyph();
    resetVacBlinkingTextPtr();
    TstatSetPoint_t inForce{};
    bool read = getCurrentThermostatSettings(&inForce) == 0;
    ThermostatMode mode = getThermostatMode();
    TstatSetPoint_t vacation{};
    getVacationThermostatSettings(&vacation);
    int64_t now = util_time(nullptr);
    if (mode == TSTAT_MODE_VACATION && vacation.endTime > now) {
        if (read && checkVacPageSetPoint(&g_PrevVacSP, &inForce) != 0) {
            setModeChangeFlag();
        }
        m_prevMode = TSTAT_MODE_VACATION;
    } else if (mode == TSTAT_MODE_VACATION) {
        setModeChangeFlag();
        m_prevMode = m_prevMode == TSTAT_MODE_HOLD ? TSTAT_MODE_PROGRAM : TSTAT_MODE_HOLD;
    } else if (m_prevMode != TSTAT_MODE_PROGRAM &&
               (mode == TSTAT_MODE_PROGRAM || mode == TSTAT_MODE_HOLD)) {
        setModeChangeFlag();
        m_prevMode = static_cast<uint8_t>(mode);
    }
    saveThermostatSysCfg();
    displayMainPage();
}

} // namespace

// ---- Screens ------------------------------------------------------------------------------------

// A group's row: its outline, its highlight and its header.
#define VAC_ROW(group, y, outline, Name)                                                           \
    screenBitmap(4, y, outline, "./images/AwayComposite/Away-Row-OFF.png"),                        \
        screenBitmap(4, y, &m_VacRowHighlight[group], "./images/AwayComposite/Away-Row-ON.png"),   \
        screenBitmap(4, y, &g_VacationMenu[c_GroupHeaders[group]].handle,                          \
                     "./images/AwayComposite/Away-Text-" #Name "-OFF.png")

// The vacation page: the switch, the end date and time, the four set
// points, and Done.
ScreenItem testScreenVacation[] = {
    screenBitmap(0, 0, nullptr, "./images/AwayComposite/Away-Graphic-Bkgd.png"),
    SCREEN_DAY_BAR,
    SCREEN_CLOCK_ITEMS(30),
    screenBitmap(20, 56, &g_VacationMenu[VAC_ENABLE].handle,
                 "./images/AwayComposite/Away-Button-Graphic-Disabled-OFF.png"),
    VAC_ROW(0, 92, nullptr, EndDate),
    screenText(118, 97, &g_VacationMenu[VAC_MONTH].handle, drawVacDateMonth, FONT_BOLD, 15,
               WHITE_TEXT_COLOR),
    screenText(153, 97, &g_VacationMenu[VAC_DAY].handle, drawVacDateDay, FONT_BOLD, 15,
               WHITE_TEXT_COLOR),
    screenText(181, 97, &g_VacationMenu[VAC_YEAR].handle, drawVacDateYear, FONT_BOLD, 15,
               WHITE_TEXT_COLOR),
    VAC_ROW(1, 122, nullptr, EndTime),
    screenText(148, 127, &g_VacationMenu[VAC_HOUR].handle, drawVacDateHour, FONT_BOLD, 15,
               WHITE_TEXT_COLOR),
    screenText(166, 127, &g_VacationMenu[VAC_MINUTE].handle, drawVacDateMinute, FONT_BOLD, 15,
               WHITE_TEXT_COLOR),
    screenText(194, 127, &g_VacationMenu[VAC_AMPM].handle, drawVacDateAmPm, FONT_BOLD, 15,
               WHITE_TEXT_COLOR),
    VAC_ROW(2, 152, nullptr, Cool),
    screenText(TEMP_X, 157, &g_VacationMenu[VAC_COOL].handle, drawVacCoolSP, FONT_BOLD, 15,
               WHITE_TEXT_COLOR),
    VAC_ROW(3, 182, nullptr, Heat),
    screenText(TEMP_X, 187, &g_VacationMenu[VAC_HEAT].handle, drawVacHeatSP, FONT_BOLD, 15,
               WHITE_TEXT_COLOR),
    VAC_ROW(4, 212, &m_HumidifyBkgnd, Humidify),
    screenText(PERCENT_X, 217, &g_VacationMenu[VAC_HUMID].handle, drawVacHumidSP, FONT_BOLD, 15,
               WHITE_TEXT_COLOR),
    VAC_ROW(5, 242, &m_DeHumidifyBkgnd, Dehumidify),
    screenText(PERCENT_X, 247, &g_VacationMenu[VAC_DEHUMID].handle, drawVacDehumidSP, FONT_BOLD, 15,
               WHITE_TEXT_COLOR),
    screenBitmap(64, 280, &g_VacationMenu[VAC_DONE].handle,
                 "./images/AwayComposite/Away-B1-Done-OFF.png"),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};
#undef VAC_ROW

// The vacation help: what the keys do on the vacation page.
ScreenItem testScreenAwayHelp[] = {
    SCREEN_HELP_ITEMS("Away", "Away"),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

const ScreenTableBackup c_VacationBackup(testScreenVacation);
const ScreenTableBackup c_AwayHelpBackup(testScreenAwayHelp);

} // namespace

// ---- Initialisation, loading and storing --------------------------------------------------------

void initialiseVacationModeMenu() {
    initialiseTStatFormat();
    for (uint8_t g = 0; g < GROUPS; g++) {
        menuInitGlyphItem(&g_VacationMenu[c_GroupHeaders[g]], c_GroupHeaders[g],
                          c_HeaderGlyphs[g][0], c_HeaderGlyphs[g][1]);
    }
    MenuItem &enable = g_VacationMenu[VAC_ENABLE];
    menuInitGlyphItem(&enable, VAC_ENABLE, c_ActVacEnable[VAC_DISABLED],
                      c_InActVacEnable[VAC_DISABLED]);
    enable.max = 1;
    enable.value = VAC_DISABLED;
    menuInitIntItem(&g_VacationMenu[VAC_MONTH], VAC_MONTH, 0, MONTHS - 1, 1);
    menuInitIntItem(&g_VacationMenu[VAC_DAY], VAC_DAY, 1, 31, 1);
    menuInitIntItem(&g_VacationMenu[VAC_YEAR], VAC_YEAR, 2000, YEAR_LAST, 1);
    menuInitIntItem(&g_VacationMenu[VAC_HOUR], VAC_HOUR, 1, 12, 1);
    menuInitIntItem(&g_VacationMenu[VAC_MINUTE], VAC_MINUTE, 0, LAST_MINUTE, 1);
    menuInitIntItem(&g_VacationMenu[VAC_AMPM], VAC_AMPM, 0, 1, 1);
    menuInitTempItem(&g_VacationMenu[VAC_COOL], VAC_COOL);
    menuInitTempItem(&g_VacationMenu[VAC_HEAT], VAC_HEAT);
    menuInitPercentItem(&g_VacationMenu[VAC_HUMID], VAC_HUMID, 1);
    menuInitPercentItem(&g_VacationMenu[VAC_DEHUMID], VAC_DEHUMID, 1);
    menuInitGlyphItem(&g_VacationMenu[VAC_DONE], VAC_DONE, c_DoneGlyphs[0], c_DoneGlyphs[1]);
    m_VacMenuInitialised = true;
    m_VacMenuScale = displayTempScale();
    m_PrevTempRangeVac = 0;
    screenUserHdlInit(testScreenVacation);
    // The table shares slots with every page (day bar, warning text): they
    // must keep naming the items of the screen on display.
    if (g_displayHdl != nullptr) {
        screenUserHdlInit(g_displayHdl->currentScreen);
    }
}

void getVacModeSPFromDataDict() {
    initialiseTStatFormat();
    TstatSetPoint_t vacation{};
    getVacationThermostatSettings(&vacation);
    menuLoadTemperature(&g_VacationMenu[VAC_COOL], vacation.coolSetPoint);
    menuLoadTemperature(&g_VacationMenu[VAC_HEAT], vacation.heatSetPoint);
    MenuItem &humid = g_VacationMenu[VAC_HUMID];
    MenuItem &dehumid = g_VacationMenu[VAC_DEHUMID];
    menuLoadFixedPoint(&humid, vacation.humidifySetPoint);
    menuLoadFixedPoint(&dehumid, vacation.dehumidifySetPoint);
    // With both in use each keeps one percent from the other.
    menuInitPercentItem(&humid, VAC_HUMID, 1);
    menuInitPercentItem(&dehumid, VAC_DEHUMID, 1);
    if (getHumidifyState() == HUMIDIFY_STATE_AUTO) {
        fpr_t humidValue = menuFixedPointOf(&humid);
        fpr_t dehumidValue = menuFixedPointOf(&dehumid);
        if (humidValue < humid.max) {
            dehumid.min = humidValue + FPR_ONE;
        }
        if (dehumidValue > 0) {
            humid.max = dehumidValue - FPR_ONE;
        }
    }
    showSwitch();
    struct tm end = endTimeOf(vacation.endTime);
    g_VacationMenu[VAC_MONTH].value = static_cast<int16_t>(end.tm_mon);
    g_VacationMenu[VAC_DAY].value = static_cast<int16_t>(end.tm_mday);
    g_VacationMenu[VAC_YEAR].value = static_cast<int16_t>(end.tm_year + TM_YEAR_BASE);
    uint8_t hour12 = 12;
    uint8_t pm = 0;
    menuHourFrom24(static_cast<uint8_t>(end.tm_hour), &hour12, &pm);
    g_VacationMenu[VAC_HOUR].value = hour12;
    g_VacationMenu[VAC_AMPM].value = pm;
    g_VacationMenu[VAC_MINUTE].value = static_cast<int16_t>(end.tm_min);
    g_VacationMenu[VAC_DAY].max = static_cast<uint8_t>(daysInMonth(end.tm_mon, end.tm_year));
}

void setVacSettingsInDataDict() {
    TstatSetPoint_t vacation{};
    getVacationThermostatSettings(&vacation);
    vacation.heatSetPoint = menuTemperatureOf(&g_VacationMenu[VAC_HEAT]);
    vacation.coolSetPoint = menuTemperatureOf(&g_VacationMenu[VAC_COOL]);
    vacation.humidifySetPoint = menuFixedPointOf(&g_VacationMenu[VAC_HUMID]);
    vacation.dehumidifySetPoint = menuFixedPointOf(&g_VacationMenu[VAC_DEHUMID]);
    int year = std::clamp<int>(g_VacationMenu[VAC_YEAR].value, YEAR_FIRST, YEAR_LAST);
    int month = std::clamp<int>(g_VacationMenu[VAC_MONTH].value, 0, MONTHS - 1);
    int day =
        std::clamp<int>(g_VacationMenu[VAC_DAY].value, 1, daysInMonth(month, year - TM_YEAR_BASE));
    auto hour12 = static_cast<uint8_t>(std::clamp<int>(g_VacationMenu[VAC_HOUR].value, 1, 12));
    struct tm local {};
    local.tm_year = year - TM_YEAR_BASE;
    local.tm_mon = month;
    local.tm_mday = day;
    local.tm_hour = menuHourTo24(hour12, g_VacationMenu[VAC_AMPM].value != 0 ? 1 : 0);
    local.tm_min = std::clamp<int>(g_VacationMenu[VAC_MINUTE].value, 0, LAST_MINUTE);
    local.tm_sec = 0;
    local.tm_isdst = -1;
    time_t end = mktime(&local);
    if (end != static_cast<time_t>(-1)) {
        vacation.endTime = static_cast<int64_t>(end);
    }
    int64_t remaining = vacation.endTime - util_time(nullptr);
    if (remaining <= 0) {
        vacation.startHour = 0;
        vacation.startMinute = 0;
    } else {
        // The days are kept in a byte: a longer vacation counts 255 days.
        vacation.startHour = static_cast<uint8_t>(std::min(remaining / SECONDS_PER_DAY, DAYS_MAX));
        vacation.startMinute =
            static_cast<uint8_t>((remaining % SECONDS_PER_DAY) / SECONDS_PER_HOUR);
    }
    setVacationThermostatSettings(&vacation);
}

void setVacModeSPInDataDict() {
    setThermostatMode(vacationEnabled() ? TSTAT_MODE_VACATION : TSTAT_MODE_PROGRAM);
    setVacSettingsInDataDict();
}

// ---- The vacation page --------------------------------------------------------------------------

void vacationPageTimeout() {
    saveThermostatSysCfg();
    displayMainPage();
}

void displayVacationModePage() {
    ThermostatMode mode = getThermostatMode();
    initialiseTStatFormat();
    if (!m_VacMenuInitialised || displayTempScale() != m_VacMenuScale) {
        initialiseVacationModeMenu();
    }
    TstatSetPoint_t vacation{};
    getVacationThermostatSettings(&vacation);
    int64_t now = util_time(nullptr);
    if (mode == TSTAT_MODE_VACATION) {
        if (vacation.endTime == 0 || vacation.endTime < now) {
            vacation.endTime = now;
            setVacationThermostatSettings(&vacation);
        }
        g_VacationMenu[VAC_ENABLE].value = VAC_ENABLED;
    } else {
        vacation.endTime = now;
        setVacationThermostatSettings(&vacation);
        g_VacationMenu[VAC_ENABLE].value = VAC_DISABLED;
    }
    resetVacBlinkingTextPtr();
    menuOpenPage(PAGE_VACATION, {});
    // Every value in the inactive colour, whatever the page last showed.
    updateHighlightedItem();
    MenuItem &year = g_VacationMenu[VAC_YEAR];
    year.min = year.value;
    year.max = year.value + YEARS_AHEAD;
    showHumidityGroups();
    vacModeSpecificHighlighting();
}

void incVacModeMenuPtr() {
    moveTo(downFrom(currentPosition()));
}

void decVacModeMenuPtr() {
    moveTo(upFrom(currentPosition()));
}

void displaySelectedVacMenuItemPage() {
    uint8_t position = currentPosition();
    switch (position) {
    case VAC_ENABLE:
        setCurrentGlyph(c_ActVacEnable, 2);
        incrementMenuItemValue();
        showSwitch();
        if (vacationEnabled()) {
            moveTo(VAC_DATE);
        }
        break;
    case VAC_DATE:
    case VAC_TIME:
    case VAC_COOL_HDR:
    case VAC_HEAT_HDR:
    case VAC_HUMID_HDR:
    case VAC_DEHUMID_HDR:
        editItem(position + 1);
        break;
    case VAC_DONE:
        vacationDone();
        break;
    default:
        break;
    }
}

void callDataDictAndIncVacModePtr() {
    uint8_t position = currentPosition();
    switch (position) {
    case VAC_MONTH:
    case VAC_DAY:
    case VAC_HOUR:
    case VAC_MINUTE:
        screenUpdateTextColor(g_displayHdl, g_VacationMenu[position].handle, g_InactiveColor);
        editItem(position + 1);
        break;
    case VAC_YEAR:
    case VAC_AMPM:
    case VAC_COOL:
    case VAC_HEAT:
    case VAC_HUMID:
    case VAC_DEHUMID: {
        // The group is done: on as Down from its header.
        resetVacBlinkingTextPtr();
        navigationKeys();
        setCurrentHighlightPtr(updateHighlightedItem);
        moveTo(downFrom(c_GroupHeaders[groupOf(position)]));
        break;
    }
    default:
        break;
    }
}

void vacModeSpecificHighlighting() {
    uint8_t position = currentPosition();
    bool onVacation = getCurrentMenuPtr() == &g_VacationMenu[position];
    uint8_t group = onVacation ? groupOf(position) : GROUPS;
    bool editing = group < GROUPS && position != c_GroupHeaders[group];
    for (uint8_t g = 0; g < GROUPS; g++) {
        if (g == group) {
            screenReplaceBitmap(g_displayHdl, m_VacRowHighlight[g],
                                editing ? c_RowEditImage : c_RowCurrentImage);
        }
        menuShowItem(m_VacRowHighlight[g], g == group && groupShown(g));
        menuShowGlyph(g_VacationMenu[c_GroupHeaders[g]], g == group);
    }
    menuShowGlyph(g_VacationMenu[VAC_ENABLE], onVacation && position == VAC_ENABLE);
    menuShowGlyph(g_VacationMenu[VAC_DONE], onVacation && position == VAC_DONE);
}

void updateLockoutVacMenu(int8_t range) {
    m_PrevTempRangeVac = range;
    menuNarrowSetPointPair(&g_VacationMenu[VAC_HEAT], &g_VacationMenu[VAC_COOL], range);
}

void updateVacMenuValues() {
    initialiseTStatFormat();
    menuFollowTempLock(&g_VacationMenu[VAC_HEAT], &g_VacationMenu[VAC_COOL], &m_PrevTempRangeVac,
                       &m_PrevTempSclVac);
}

uint8_t checkVacPageSetPoint(const TstatSetPoint_t *previous, const TstatSetPoint_t *current) {
    return previous->heatSetPoint != current->heatSetPoint ||
                   previous->coolSetPoint != current->coolSetPoint ||
                   previous->humidifySetPoint != current->humidifySetPoint ||
                   previous->dehumidifySetPoint != current->dehumidifySetPoint ||
                   previous->endTime != current->endTime
               ? 1
               : 0;
}

void setVacBlinkingText(MenuItem *item) {
    resetVacBlinkingTextPtr();
    if (item != nullptr) {
        screenSetTextBlinkRate(g_displayHdl, item->handle, c_TextBlinkRate);
    }
}

void resetVacBlinkingTextPtr() {
    for (uint8_t position : {VAC_MONTH, VAC_DAY, VAC_YEAR, VAC_HOUR, VAC_MINUTE, VAC_AMPM, VAC_COOL,
                             VAC_HEAT, VAC_HUMID, VAC_DEHUMID}) {
        screenSetTextBlinkRate(g_displayHdl, g_VacationMenu[position].handle, 0);
    }
}

// ---- Help ---------------------------------------------------------------------------------------

void displayAwayHelpPage() {
    dispManCancelMainPageTimeout();
    menuOpenPage(PAGE_VACATION_HELP, {});
}

// ---- Texts --------------------------------------------------------------------------------------

void drawVacDateMonth(char *buffer) {
    int month = std::clamp<int>(g_VacationMenu[VAC_MONTH].value, 0, MONTHS - 1);
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", c_MonthNames[month]);
}

void drawVacDateDay(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%02d", g_VacationMenu[VAC_DAY].value);
}

void drawVacDateYear(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%d", g_VacationMenu[VAC_YEAR].value);
}

void drawVacDateHour(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%02d", g_VacationMenu[VAC_HOUR].value);
}

void drawVacDateMinute(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, ":%02d", g_VacationMenu[VAC_MINUTE].value);
}

void drawVacDateAmPm(char *buffer) {
    snprintf(buffer, SCREEN_TEXT_LEN, "%s", c_AmPm[g_VacationMenu[VAC_AMPM].value != 0 ? 1 : 0]);
}

void drawVacCoolSP(char *buffer) {
    drawTemperature(buffer, VAC_COOL);
}

void drawVacHeatSP(char *buffer) {
    drawTemperature(buffer, VAC_HEAT);
}

void drawVacHumidSP(char *buffer) {
    drawPercent(buffer, VAC_HUMID, humidifyShown());
}

void drawVacDehumidSP(char *buffer) {
    drawPercent(buffer, VAC_DEHUMID, dehumidifyShown());
}

// ---- Tests --------------------------------------------------------------------------------------

void vacationMenuReset() {
    c_VacationBackup.restore();
    c_AwayHelpBackup.restore();
    for (MenuItem &item : g_VacationMenu) {
        item = MenuItem{};
    }
    for (ScreenItem *&item : m_VacRowHighlight) {
        item = nullptr;
    }
    m_HumidifyBkgnd = nullptr;
    m_DeHumidifyBkgnd = nullptr;
    g_PrevVacSP = TstatSetPoint_t{};
    m_VacMenuInitialised = false;
    m_VacMenuScale = TEMP_SCALE_FAHRENHEIT;
    m_prevMode = 0;
    m_PrevTempRangeVac = 0;
    m_PrevTempSclVac = TEMP_SCALE_FAHRENHEIT;
}
