// Advanced setup page.
#include "pages/adv_setup_menu.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "dispman/display_manager.h"
#include "hvac/hvac_control.h"
#include "menus/menu_text.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "menus/setup_layout.h"
#include "pages/korabus_comm_menu.h"
#include "pages/main_page.h"
#include "pages/pages.h"
#include "pages/user_pref_menu.h"

#include <cstdio>

MenuItem g_AdvSetupMenu[ADV_SETUP_ITEMS] = {};

namespace {

#define LABEL(y, pos)                                                                              \
    screenTextIndexed(SETUP_LABEL_X, y, &g_AdvSetupMenu[pos].handle, drawAdvSetupItem, pos,        \
                      FONT_REGULAR, SETUP_TEXT_SIZE, WHITE_TEXT_COLOR)
#define VALUE(y, pos)                                                                              \
    screenTextIndexed(SETUP_VALUE_RIGHT - 40, y, &g_AdvSetupMenu[pos].handle, drawAdvSetupItem,    \
                      pos, FONT_BOLD, SETUP_TEXT_SIZE, WHITE_TEXT_COLOR)
#define ACTION(y, pos) SCREEN_BUTTON_INDEXED(y, &g_AdvSetupMenu[pos].handle, drawAdvSetupItem, pos)
#define LINK(y, pos)                                                                               \
    SCREEN_LINK_BUTTON_INDEXED(y, &g_AdvSetupMenu[pos].handle, drawAdvSetupItem, pos)

} // namespace

// The equipment: the system's name is long, so its value has a line of its own.
ScreenItem testScreenAdvSetup[ADV_SETUP_SCREEN_ITEMS + 1] = {
    SETUP_SCREEN_HEAD("./images/Setup/Label - Setup - AdvancedSetup1.png"),
    LABEL(88, ADV_SETUP_HVAC_SYSTEM_TEXT),
    VALUE(88 + SETUP_VALUE_DY, ADV_SETUP_HVAC_SYSTEM),
    LABEL(138, ADV_SETUP_FOSSIL_TYPE_TEXT),
    VALUE(138, ADV_SETUP_FOSSIL_TYPE),
    LABEL(164, ADV_SETUP_EXT_SENSOR_TEXT),
    VALUE(164, ADV_SETUP_EXT_SENSOR),
    LABEL(190, ADV_SETUP_INT_SENSOR_TEXT),
    VALUE(190, ADV_SETUP_INT_SENSOR),
    LABEL(216, ADV_SETUP_HUM_SENSOR_TEXT),
    VALUE(216, ADV_SETUP_HUM_SENSOR),
    ACTION(BUTTON_BOTTOM_Y, ADV_SETUP_MORE),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

// The second and third screens, which only this page shows.
ScreenItem testScreenAdvSetupCont[ADV_SETUP_CONT_SCREEN_ITEMS + 1] = {
    SETUP_SCREEN_HEAD("./images/Setup/Label - Setup - AdvancedSetup2.png"),
    LABEL(84, ADV_SETUP_MONTH_TEXT),
    VALUE(84, ADV_SETUP_MONTH),
    LABEL(106, ADV_SETUP_DAY_TEXT),
    VALUE(106, ADV_SETUP_DAY),
    LABEL(128, ADV_SETUP_YEAR_TEXT),
    VALUE(128, ADV_SETUP_YEAR),
    LABEL(150, ADV_SETUP_HOUR_TEXT),
    VALUE(150, ADV_SETUP_HOUR),
    LABEL(172, ADV_SETUP_MINUTE_TEXT),
    VALUE(172, ADV_SETUP_MINUTE),
    LABEL(194, ADV_SETUP_CYCLE_RATE_TEXT),
    VALUE(194, ADV_SETUP_CYCLE_RATE),
    LINK(214, ADV_SETUP_KORABUS_SETUP),
    LINK(247, ADV_SETUP_TSTAT_SETUP),
    ACTION(BUTTON_BOTTOM_Y, ADV_SETUP_MORE_CONT),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

ScreenItem testScreenAdvSetupCont1[ADV_SETUP_CONT1_SCREEN_ITEMS + 1] = {
    SETUP_SCREEN_HEAD("./images/Setup/Label - Setup - AdvancedSetup3.png"),
    LABEL(88, ADV_SETUP_DIAG_MODE_TEXT),
    VALUE(88, ADV_SETUP_DIAG_MODE),
    LABEL(114, ADV_SETUP_HUM_SYSTEM_TEXT),
    VALUE(114, ADV_SETUP_HUM_SYSTEM),
    LABEL(140, ADV_SETUP_DEHUM_SYSTEM_TEXT),
    VALUE(140, ADV_SETUP_DEHUM_SYSTEM),
    LABEL(166, ADV_SETUP_COMFORT_RECOVERY_TEXT),
    VALUE(166, ADV_SETUP_COMFORT_RECOVERY),
    LABEL(192, ADV_SETUP_HELP_MODE_TEXT),
    VALUE(192, ADV_SETUP_HELP_MODE),
    ACTION(BUTTON_BOTTOM_Y, ADV_SETUP_EXIT),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

#undef LABEL
#undef VALUE
#undef ACTION
#undef LINK

const ScreenTableBackup c_AdvSetupBackup(testScreenAdvSetup);
const ScreenTableBackup c_AdvSetupContBackup(testScreenAdvSetupCont);
const ScreenTableBackup c_AdvSetupCont1Backup(testScreenAdvSetupCont1);

const char *const c_HvacSystem[SYSTEM_TYPE_COUNT] = {
    "One Stg Furnace",   "Two Stg Furnace",   "Roof Top Unit", "Boiler With A/C",
    "One Stg Heat Pump", "Two Stg Heat Pump", "Floor Heat"};
const char *const c_FossilType[2] = {"Electric", "Gas"};
const char *const c_ExtSensor[3] = {"Outdoor", "Indoor", "Off"};
const char *const c_IntSensor[2] = {"On", "Off"};
const char *const c_DiagMode[2] = {"Off", "On"};
const char *const c_HumDehumSystem[2] = {"No", "Yes"};
const char *const c_ComfortRecoveryMode[2] = {"Off", "On"};
const char *const c_HelpMode[2] = {"Off", "On"};
constexpr int16_t YES = 1;

// What each position of the menu is, and what it shows.
enum class AdvKind : uint8_t { Label, Choice, Number, Action };

struct AdvSetupRow {
    AdvKind kind;
    const char *text;           // label or action text
    const char *const *choices; // Choice: the texts of the values
    int16_t min;                // Choice and Number: the range of the value
    int16_t max;
};

constexpr AdvSetupRow label(const char *text) {
    return AdvSetupRow{AdvKind::Label, text, nullptr, 0, 0};
}
template <size_t N> constexpr AdvSetupRow choice(const char *const (&texts)[N]) {
    return AdvSetupRow{AdvKind::Choice, nullptr, texts, 0, static_cast<int16_t>(N - 1)};
}
constexpr AdvSetupRow number(int16_t min, int16_t max) {
    return AdvSetupRow{AdvKind::Number, nullptr, nullptr, min, max};
}
constexpr AdvSetupRow action(const char *text) {
    return AdvSetupRow{AdvKind::Action, text, nullptr, 0, 0};
}

// Labels are the c_AdvSetupMenuItems texts.
const AdvSetupRow c_AdvSetupMenuItems[ADV_SETUP_ITEMS] = {
    label("HVAC System"),
    choice(c_HvacSystem),
    label("Fossil Fuel Type"),
    choice(c_FossilType),
    label("External Temp Sensor"),
    choice(c_ExtSensor),
    label("Internal Temp Sensor"),
    choice(c_IntSensor),
    label("Humidity Sensor"),
    choice(c_IntSensor),
    action("More"),
    label("Mon"),
    number(1, 12),
    label("Day"),
    number(1, 31),
    label("Yr"),
    number(2008, 2050),
    label("Hour"),
    number(0, 23),
    label("Min"),
    number(0, 59),
    label("Cycle Rate"),
    number(3, 6),
    action("Korabus Setup"),
    action("Thermostat Setup"),
    action("More"),
    label("Diagnostic Mode"),
    choice(c_DiagMode),
    label("Humidification System"),
    choice(c_HumDehumSystem),
    label("Dehumidification System"),
    choice(c_HumDehumSystem),
    label("Comfort Recovery"),
    choice(c_ComfortRecoveryMode),
    label("Help Mode"),
    choice(c_HelpMode),
    action("Exit"),
};

// The clock as the page last read it (month 0-11, year since 1900).
TstatClockCfg_t m_ClockConfig = {};
// Something was stored since the page opened: leaving by the time-out saves it.
uint8_t m_AdvSetupStored = 0;

AdvKind kindOf(uint8_t position) {
    return position < ADV_SETUP_ITEMS ? c_AdvSetupMenuItems[position].kind : AdvKind::Action;
}

int16_t &valueOf(uint8_t position) {
    return g_AdvSetupMenu[position].value;
}

bool ownsCurrentItem() {
    uint8_t position = getCurrentMenuIndex();
    return position < ADV_SETUP_ITEMS && getCurrentMenuPtr() == &g_AdvSetupMenu[position];
}

void selectItem(uint8_t position) {
    setCurrentMenuPtr(g_AdvSetupMenu, position);
    displayHighlightedItem();
}

void navigationKeys() {
    displayManagerSetKeySlots(decAdvSetupMenuPtr, incAdvSetupMenuPtr,
                              displaySelectedAdvSetupMenuItemPage);
}

void showScreen(ScreenItem *screen, uint8_t position) {
    menuOpenPage(PAGE_ADV_SETUP, {.screen = screen, .position = position});
}

// The items from the date on take effect 20 s after the last mode press on
// them: stored at once, and the page reloaded from the store once the time
// has run out.
bool committedOnTimer(const MenuItem *item) {
    return item != nullptr && item->index >= ADV_SETUP_MONTH_TEXT;
}

// The current item if it lies in [first, last], else first.
uint8_t keptPosition(uint8_t first, uint8_t last) {
    uint8_t position = getCurrentMenuIndex();
    return ownsCurrentItem() && position >= first && position <= last ? position : first;
}

HumidifyState humidifyStateShown() {
    bool humidify = valueOf(ADV_SETUP_HUM_SYSTEM) == YES;
    bool dehumidify = valueOf(ADV_SETUP_DEHUM_SYSTEM) == YES;
    if (humidify && dehumidify) {
        return HUMIDIFY_STATE_AUTO;
    }
    if (humidify) {
        return HUMIDIFY_STATE_HUMIDIFY;
    }
    return dehumidify ? HUMIDIFY_STATE_DEHUMIDIFY : HUMIDIFY_STATE_OFF;
}

void storeClock() {
    TstatClockCfg_t shown{};
    shown.month = static_cast<uint8_t>(valueOf(ADV_SETUP_MONTH));
    shown.day = static_cast<uint8_t>(valueOf(ADV_SETUP_DAY));
    shown.year = static_cast<uint16_t>(valueOf(ADV_SETUP_YEAR));
    shown.hour = static_cast<uint8_t>(valueOf(ADV_SETUP_HOUR));
    shown.minute = static_cast<uint8_t>(valueOf(ADV_SETUP_MINUTE));
    shown.second = 0;
    shown.weekday = m_ClockConfig.weekday;
    bool changed = shown.month != m_ClockConfig.month + 1 || shown.day != m_ClockConfig.day ||
                   shown.year != m_ClockConfig.year + 1900 || shown.hour != m_ClockConfig.hour ||
                   shown.minute != m_ClockConfig.minute;
    if (!changed) {
        return;
    }
    // Once set, the shown time is the clock's: a later store of another
    // setting must not set it again, which would take it back to the
    // minute's start each time.
    if (setClockConfiguration(&shown) == 0) {
        m_ClockConfig = shown;
        m_ClockConfig.month = static_cast<uint8_t>(shown.month - 1);
        m_ClockConfig.year = static_cast<uint16_t>(shown.year - 1900);
    }
}

// Leaving for another page stores and saves what the page shows.
void storeAndSave() {
    setAdvSetupInDataDict();
    saveThermostatSysCfg();
    m_AdvSetupStored = 0;
}

void initialiseRecords() {
    menuClearRecords(g_AdvSetupMenu, ADV_SETUP_ITEMS);
    for (uint8_t i = 0; i < ADV_SETUP_ITEMS; i++) {
        MenuItem &item = g_AdvSetupMenu[i];
        const AdvSetupRow &row = c_AdvSetupMenuItems[i];
        if (row.kind == AdvKind::Choice || row.kind == AdvKind::Number) {
            item.min = row.min;
            item.max = row.max;
            item.value = row.min;
            item.step = 1;
            item.wrap = 1;
        }
    }
}

} // namespace

void initialiseAdvSetupMenu() {
    initialiseRecords();
    screenUserHdlInit(testScreenAdvSetupCont1);
    screenUserHdlInit(testScreenAdvSetupCont);
    screenUserHdlInit(testScreenAdvSetup);
}

void advSetupPageTimeout() {
    // Committed settings that were not saved yet are saved.
    if (m_AdvSetupStored != 0) {
        saveThermostatSysCfg();
        m_AdvSetupStored = 0;
    }
    displayMainPage();
}

void advSetupModeTouched(const MenuItem *item) {
    if (committedOnTimer(item)) {
        displayManagerStartCommitTimer();
        setAdvSetupInDataDict();
    }
}

bool advSetupIdle(const MenuItem *item) {
    if (!committedOnTimer(item) || displayManagerCommitTimerRanOut() == 0) {
        return false;
    }
    getAdvSetupFromDataDict();
    return true;
}

void displayAdvSetupPage() {
    m_AdvSetupStored = 0;
    showScreen(testScreenAdvSetup, ADV_SETUP_HVAC_SYSTEM_TEXT);
}

void displayAdvSetupContPage() {
    showScreen(testScreenAdvSetupCont, keptPosition(ADV_SETUP_MONTH_TEXT, ADV_SETUP_MORE_CONT));
}

void displayAdvSetupContPage1() {
    showScreen(testScreenAdvSetupCont1, keptPosition(ADV_SETUP_DIAG_MODE_TEXT, ADV_SETUP_EXIT));
}

void displayAdvSetupContPageAt(uint8_t position) {
    uint8_t first = ADV_SETUP_MONTH_TEXT;
    setCurrentMenuPtr(g_AdvSetupMenu, position < ADV_SETUP_ITEMS ? position : first);
    displayAdvSetupContPage();
}

uint8_t advSetupDiagnosticModeShown() {
    return valueOf(ADV_SETUP_DIAG_MODE) == 1 ? 1 : 0;
}

void getAdvSetupFromDataDict() {
    TstatCfg_t cfg{};
    getAdvSetupSettings(&cfg);
    valueOf(ADV_SETUP_HVAC_SYSTEM) = static_cast<int16_t>(cfg.systemType);
    valueOf(ADV_SETUP_EXT_SENSOR) = static_cast<int16_t>(cfg.externalTempSensor);
    valueOf(ADV_SETUP_INT_SENSOR) = static_cast<int16_t>(cfg.internalTempSensor);
    valueOf(ADV_SETUP_HUM_SENSOR) = static_cast<int16_t>(cfg.humiditySensor);
    valueOf(ADV_SETUP_CYCLE_RATE) = cfg.cycleRate;
    valueOf(ADV_SETUP_FOSSIL_TYPE) = static_cast<int16_t>(getFossilFuelType());
    menuGetClock(&m_ClockConfig);
    valueOf(ADV_SETUP_MONTH) = static_cast<int16_t>(m_ClockConfig.month + 1);
    valueOf(ADV_SETUP_DAY) = m_ClockConfig.day;
    valueOf(ADV_SETUP_YEAR) = static_cast<int16_t>(m_ClockConfig.year + 1900);
    valueOf(ADV_SETUP_HOUR) = m_ClockConfig.hour;
    valueOf(ADV_SETUP_MINUTE) = m_ClockConfig.minute;
    valueOf(ADV_SETUP_DIAG_MODE) = getDiagnosticModeSetting() != 0 ? 1 : 0;
    valueOf(ADV_SETUP_HELP_MODE) = static_cast<int16_t>(getHelpModeState());
    valueOf(ADV_SETUP_COMFORT_RECOVERY) = static_cast<int16_t>(getComfortRecoveryModeState());
    HumidifyState humidity = getHumidifyState();
    valueOf(ADV_SETUP_HUM_SYSTEM) =
        humidity == HUMIDIFY_STATE_HUMIDIFY || humidity == HUMIDIFY_STATE_AUTO ? YES : 0;
    valueOf(ADV_SETUP_DEHUM_SYSTEM) =
        humidity == HUMIDIFY_STATE_DEHUMIDIFY || humidity == HUMIDIFY_STATE_AUTO ? YES : 0;
}

void setAdvSetupInDataDict() {
    TstatCfg_t cfg{};
    getAdvSetupSettings(&cfg);
    cfg.systemType = static_cast<SystemType>(valueOf(ADV_SETUP_HVAC_SYSTEM));
    cfg.externalTempSensor = static_cast<ExternalTempSensor>(valueOf(ADV_SETUP_EXT_SENSOR));
    cfg.internalTempSensor = static_cast<SensorState>(valueOf(ADV_SETUP_INT_SENSOR));
    cfg.humiditySensor = static_cast<SensorState>(valueOf(ADV_SETUP_HUM_SENSOR));
    cfg.cycleRate = static_cast<uint8_t>(valueOf(ADV_SETUP_CYCLE_RATE));
    setAdvSetupSettings(&cfg);
    setHumidifyState(humidifyStateShown());
    setFossilFuelType(static_cast<FossilFuelType>(valueOf(ADV_SETUP_FOSSIL_TYPE)));
    storeClock();
    setDiagnosticModeSetting(static_cast<uint32_t>(valueOf(ADV_SETUP_DIAG_MODE)));
    setHelpModeState(static_cast<OffOnState>(valueOf(ADV_SETUP_HELP_MODE)));
    setComfortRecoveryModeState(static_cast<OffOnState>(valueOf(ADV_SETUP_COMFORT_RECOVERY)));
    m_AdvSetupStored = 1;
}

void incAdvSetupMenuPtr() {
    uint8_t at = getCurrentMenuIndex();
    uint8_t to = ADV_SETUP_HVAC_SYSTEM_TEXT;
    switch (at) {
    case ADV_SETUP_MORE:
        to = ADV_SETUP_HVAC_SYSTEM_TEXT;
        break;
    case ADV_SETUP_MORE_CONT:
        to = ADV_SETUP_MONTH_TEXT;
        break;
    case ADV_SETUP_EXIT:
        to = ADV_SETUP_DIAG_MODE_TEXT;
        break;
    default:
        if (at >= ADV_SETUP_ITEMS) {
            break;
        }
        to = static_cast<uint8_t>(kindOf(at) == AdvKind::Label ? at + 2 : at + 1);
        break;
    }
    selectItem(to);
    navigationKeys();
}

void decAdvSetupMenuPtr() {
    uint8_t at = getCurrentMenuIndex();
    uint8_t to = ADV_SETUP_MORE;
    switch (at) {
    case ADV_SETUP_HVAC_SYSTEM_TEXT:
        to = ADV_SETUP_MORE;
        break;
    case ADV_SETUP_MONTH_TEXT:
        to = ADV_SETUP_MORE_CONT;
        break;
    case ADV_SETUP_DIAG_MODE_TEXT:
        to = ADV_SETUP_EXIT;
        break;
    case ADV_SETUP_TSTAT_SETUP:
    case ADV_SETUP_MORE_CONT:
        to = static_cast<uint8_t>(at - 1);
        break;
    default:
        if (at >= ADV_SETUP_ITEMS) {
            break;
        }
        // Labels, "More", "Korabus Setup" and "Exit" go to the label above.
        to = static_cast<uint8_t>(
            kindOf(at) == AdvKind::Choice || kindOf(at) == AdvKind::Number ? at - 1 : at - 2);
        break;
    }
    selectItem(to);
    navigationKeys();
}

void displaySelectedAdvSetupMenuItemPage() {
    uint8_t at = getCurrentMenuIndex();
    if (at >= ADV_SETUP_ITEMS || !ownsCurrentItem()) {
        return;
    }
    if (kindOf(at) == AdvKind::Label) {
        selectItem(static_cast<uint8_t>(at + 1));
        bool sensor = at == ADV_SETUP_EXT_SENSOR_TEXT || at == ADV_SETUP_INT_SENSOR_TEXT;
        displayManagerSetKeySlots(decAdvSetupMenuPtr, incAdvSetupMenuPtr,
                                  sensor ? displayNextValidSsorValue : displayNextValidValue);
        return;
    }
    switch (at) {
    case ADV_SETUP_MORE:
        setAdvSetupInDataDict();
        displayAdvSetupContPageAt(ADV_SETUP_MONTH_TEXT);
        break;
    case ADV_SETUP_MORE_CONT:
        setAdvSetupInDataDict();
        displayAdvSetupContPage1();
        break;
    case ADV_SETUP_KORABUS_SETUP:
        storeAndSave();
        displayKorabusCommPage();
        break;
    case ADV_SETUP_TSTAT_SETUP:
        storeAndSave();
        displayThermostatSetupPage();
        break;
    case ADV_SETUP_EXIT:
        storeAndSave();
        initialiseHvacAlgorithms();
        displayUserPrefPageAt(USER_PREF_ADV_SETUP);
        break;
    default:
        break;
    }
}

void displayNextValidSsorValue() {
    MenuItem *item = getCurrentMenuPtr();
    if (item != &g_AdvSetupMenu[ADV_SETUP_EXT_SENSOR] &&
        item != &g_AdvSetupMenu[ADV_SETUP_INT_SENSOR]) {
        displayNextValidValue();
        return;
    }
    int32_t next = item->value + static_cast<int32_t>(item->step);
    item->value = static_cast<int16_t>(next > item->max ? item->min : next);
    // The room always keeps a temperature sensor: an outdoor or no external
    // sensor needs the internal one, and without the internal one the
    // external sensor measures indoors.
    if (item == &g_AdvSetupMenu[ADV_SETUP_EXT_SENSOR] &&
        (item->value == EXT_TEMP_SENSOR_OUTDOOR || item->value == EXT_TEMP_SENSOR_OFF)) {
        valueOf(ADV_SETUP_INT_SENSOR) = SENSOR_ON;
    } else if (item == &g_AdvSetupMenu[ADV_SETUP_INT_SENSOR] && item->value == SENSOR_OFF) {
        valueOf(ADV_SETUP_EXT_SENSOR) = EXT_TEMP_SENSOR_INDOOR;
    }
    displayHighlightedItem();
}

void drawAdvSetupItem(char *buffer, uint32_t position) {
    if (position >= ADV_SETUP_ITEMS) {
        buffer[0] = '\0';
        return;
    }
    const AdvSetupRow &row = c_AdvSetupMenuItems[position];
    MenuItem &item = g_AdvSetupMenu[position];
    char number[SCREEN_TEXT_LEN];
    switch (row.kind) {
    case AdvKind::Label:
        drawMenuLabel(buffer, row.text);
        break;
    case AdvKind::Choice:
        drawAlignedText(buffer, item,
                        menuChoiceText(row.choices, static_cast<size_t>(row.max) + 1, item.value),
                        SETUP_VALUE_RIGHT, MenuTextAlign::Right);
        break;
    case AdvKind::Number:
        snprintf(number, sizeof(number), "%d", item.value);
        drawAlignedText(buffer, item, number, SETUP_VALUE_RIGHT, MenuTextAlign::Right);
        break;
    case AdvKind::Action:
        drawAlignedText(buffer, item, row.text, BUTTON_CENTRE_X, MenuTextAlign::Center);
        break;
    }
}

void advSetupMenuReset() {
    c_AdvSetupBackup.restore();
    c_AdvSetupContBackup.restore();
    c_AdvSetupCont1Backup.restore();
    m_ClockConfig = TstatClockCfg_t{};
    m_AdvSetupStored = 0;
    initialiseRecords();
}
