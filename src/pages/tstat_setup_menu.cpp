// Thermostat setup page.
#include "pages/tstat_setup_menu.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "hvac/hvac_control.h"
#include "menus/menu_text.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "menus/setup_layout.h"
#include "pages/adv_setup_menu.h"
#include "pages/main_page.h"
#include "pages/pages.h"

#include <cstdio>

MenuItem g_TstatSetupMenu[TSTAT_SETUP_ITEMS] = {};

namespace {

// Limits of the display scale, set by setMinMaxTempValues (fixed-point, display degrees).
fpr_t g_FirstStgDiffMin = 0;
fpr_t g_FirstStgDiffMax = 0;
fpr_t g_FirstStgIncDecRes = 0;
uint8_t g_FirstStgResDigits = 0;
fpr_t g_SecStgDiffMin = 0;
fpr_t g_SecStgDiffMax = 0;
fpr_t g_SecStgIncDecRes = 0;
fpr_t g_DeadbandMin = 0;
fpr_t g_DeadbandMax = 0;
fpr_t g_DeadbandIncDecRes = 0;

} // namespace

namespace {

constexpr int16_t ROW_Y[4] = {90, 118, 146, 174};
constexpr int16_t CONT_ROW_Y = 90;

} // namespace

ScreenItem testScreenTstatSetup[TSTAT_SETUP_SCREEN_ITEMS + 1] = {
    SETUP_SCREEN_HEAD("./images/Setup/Label - Setup - ThermostatSetup1.png"),
    SETUP_LABEL(ROW_Y[0], &g_TstatSetupMenu[TSTAT_SETUP_FIRST_STG_TEXT].handle,
                drawTstatSetupFirstStgDiffText),
    SETUP_VALUE(ROW_Y[0], &g_TstatSetupMenu[TSTAT_SETUP_FIRST_STG].handle,
                drawTstatSetupFirstStgDiff),
    SETUP_LABEL(ROW_Y[1], &g_TstatSetupMenu[TSTAT_SETUP_SECOND_STG_TEXT].handle,
                drawTstatSetupSecondStgDiffText),
    SETUP_VALUE(ROW_Y[1], &g_TstatSetupMenu[TSTAT_SETUP_SECOND_STG].handle,
                drawTstatSetupSecondStgDiff),
    SETUP_LABEL(ROW_Y[2], &g_TstatSetupMenu[TSTAT_SETUP_DEADBAND_TEXT].handle,
                drawTstatSetupDeadbandText),
    SETUP_VALUE(ROW_Y[2], &g_TstatSetupMenu[TSTAT_SETUP_DEADBAND].handle, drawTstatSetupDeadband),
    SETUP_LABEL(ROW_Y[3], &g_TstatSetupMenu[TSTAT_SETUP_TEMP_OFFSET_TEXT].handle,
                drawTstatSetupDeadbandTempOffsetText),
    SETUP_VALUE(ROW_Y[3], &g_TstatSetupMenu[TSTAT_SETUP_TEMP_OFFSET].handle,
                drawTstatSetupDeadbandTempOffset),
    SCREEN_BUTTON(BUTTON_BOTTOM_Y, &g_TstatSetupMenu[TSTAT_SETUP_MORE].handle, drawTstatSetupMore),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

// The second screen, which only this page shows.
ScreenItem testScreenTstatSetupCont[TSTAT_SETUP_CONT_SCREEN_ITEMS + 1] = {
    SETUP_SCREEN_HEAD("./images/Setup/Label - Setup - ThermostatSetup2.png"),
    SETUP_LABEL(CONT_ROW_Y, &g_TstatSetupMenu[TSTAT_SETUP_BAL_PT_TEXT].handle,
                drawTstatSetupLowBalPtText),
    SETUP_VALUE(CONT_ROW_Y, &g_TstatSetupMenu[TSTAT_SETUP_BAL_PT].handle, drawTstatSetupLowBalPt),
    SCREEN_BUTTON(BUTTON_BOTTOM_Y, &g_TstatSetupMenu[TSTAT_SETUP_EXIT].handle, drawTstatSetupExit),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

const ScreenTableBackup c_TstatSetupBackup(testScreenTstatSetup);
const ScreenTableBackup c_TstatSetupContBackup(testScreenTstatSetupCont);

// "First Stage Diff", "Second Stage Diff", "Deadband", "Temperature Offset", "Balance Point".
const char *const c_TStatSetupMenuItems[5] = {"First Stage Diff", "Second Stage Diff", "Deadband",
                                              "Temperature Offset", "Balance Point"};
const char *const c_More = "More";
const char *const c_Exit = "Exit";

constexpr fpr_t degrees(int16_t whole, int32_t hundredths = 0) {
    return fprConst(whole, hundredths * 1000000);
}

// The offset's limits are the same in both scales; the balance point's are not.
constexpr fpr_t TEMP_OFFSET_MIN = degrees(-10);
constexpr fpr_t TEMP_OFFSET_MAX = degrees(10);
constexpr fpr_t TEMP_OFFSET_STEP = degrees(1);
constexpr uint8_t TEMP_OFFSET_DIGITS = 1;
constexpr fpr_t BAL_PT_STEP = degrees(1);
fpr_t m_LowBalPtMin = 0;
fpr_t m_LowBalPtMax = 0;
constexpr uint8_t DIFF_DIGITS = 1; // second stage and deadband

// A fixed-point value into an item: the fraction rounded to the item's
// decimals for display, and the exact whole part and fraction.
void loadFixedPoint(MenuItem &item, fpr_t value) {
    int16_t whole = 0;
    int32_t digits = 0;
    fprDecodeRes(value, &whole, &digits, item.decimals);
    item.value = whole;
    item.fractionDigits = static_cast<uint32_t>(digits);
    if (item.decimals > 0) {
        int32_t fraction = 0;
        fprDecode(value, &whole, &fraction);
        item.value = whole;
        item.fraction = fraction;
    } else {
        item.fraction = 0;
    }
}

fpr_t fixedPointOf(const MenuItem &item) {
    fpr_t value = 0;
    if (fprGen(item.value, item.fraction, &value) != 0) {
        fprGen(item.value, 0, &value);
    }
    return value;
}

void initialiseValue(MenuItem &item, fpr_t min, fpr_t max, fpr_t step, uint8_t decimals) {
    item.isFixedPoint = 1;
    item.wrap = 1;
    item.min = min;
    item.max = max;
    item.step = static_cast<uint32_t>(step);
    item.decimals = decimals;
}

bool isValue(uint8_t position) {
    return position == TSTAT_SETUP_FIRST_STG || position == TSTAT_SETUP_SECOND_STG ||
           position == TSTAT_SETUP_DEADBAND || position == TSTAT_SETUP_TEMP_OFFSET ||
           position == TSTAT_SETUP_BAL_PT;
}

bool isLabel(uint8_t position) {
    return position == TSTAT_SETUP_FIRST_STG_TEXT || position == TSTAT_SETUP_SECOND_STG_TEXT ||
           position == TSTAT_SETUP_DEADBAND_TEXT || position == TSTAT_SETUP_TEMP_OFFSET_TEXT ||
           position == TSTAT_SETUP_BAL_PT_TEXT;
}

void selectItem(uint8_t position) {
    setCurrentMenuPtr(g_TstatSetupMenu, position);
    displayHighlightedItem();
}

void navigationKeys() {
    displayManagerSetKeySlots(decTstatSetupPageMenuPtr, incTstatSetupPageMenuPtr,
                              displaySelectedTstatSetupMenuItemPage);
}

// A differential: whole part, the fraction rounded to the item's decimals
// and the degree sign (0.25, 0.50, 1.0 in Celsius; 0.5, 1.0, 2.0 in Fahrenheit).
void drawDifferential(char *buffer, uint8_t position) {
    MenuItem &item = g_TstatSetupMenu[position];
    char text[SCREEN_TEXT_LEN];
    snprintf(text, sizeof(text), "%1d.%1d %c", item.value, static_cast<int>(item.fractionDigits),
             c_DegreeSymbol);
    drawAlignedText(buffer, item, text, SETUP_VALUE_RIGHT, MenuTextAlign::Right);
}

// A whole number of degrees.
void drawWholeDegrees(char *buffer, uint8_t position) {
    MenuItem &item = g_TstatSetupMenu[position];
    char text[SCREEN_TEXT_LEN];
    snprintf(text, sizeof(text), "%2d %c", item.value, c_DegreeSymbol);
    drawAlignedText(buffer, item, text, SETUP_VALUE_RIGHT, MenuTextAlign::Right);
}

void initialiseRecords() {
    setMinMaxTempValues();
    menuClearRecords(g_TstatSetupMenu, TSTAT_SETUP_ITEMS);
    initialiseValue(g_TstatSetupMenu[TSTAT_SETUP_FIRST_STG], g_FirstStgDiffMin, g_FirstStgDiffMax,
                    g_FirstStgIncDecRes, g_FirstStgResDigits);
    initialiseValue(g_TstatSetupMenu[TSTAT_SETUP_SECOND_STG], g_SecStgDiffMin, g_SecStgDiffMax,
                    g_SecStgIncDecRes, DIFF_DIGITS);
    initialiseValue(g_TstatSetupMenu[TSTAT_SETUP_DEADBAND], g_DeadbandMin, g_DeadbandMax,
                    g_DeadbandIncDecRes, DIFF_DIGITS);
    initialiseValue(g_TstatSetupMenu[TSTAT_SETUP_TEMP_OFFSET], TEMP_OFFSET_MIN, TEMP_OFFSET_MAX,
                    TEMP_OFFSET_STEP, TEMP_OFFSET_DIGITS);
    initialiseValue(g_TstatSetupMenu[TSTAT_SETUP_BAL_PT], m_LowBalPtMin, m_LowBalPtMax, BAL_PT_STEP,
                    0);
}

} // namespace

void setMinMaxTempValues() {
    if (displayTempScale() == TEMP_SCALE_FAHRENHEIT) {
        g_FirstStgDiffMin = degrees(0, 50);
        g_FirstStgDiffMax = degrees(2);
        g_FirstStgIncDecRes = degrees(0, 50);
        g_FirstStgResDigits = 1;
        g_SecStgDiffMin = degrees(1);
        g_SecStgDiffMax = degrees(6);
        g_SecStgIncDecRes = degrees(1);
        g_DeadbandMin = degrees(2);
        g_DeadbandMax = degrees(5);
        g_DeadbandIncDecRes = degrees(1);
        m_LowBalPtMin = degrees(20);
        m_LowBalPtMax = degrees(40);
    } else {
        g_FirstStgDiffMin = degrees(0, 25);
        g_FirstStgDiffMax = degrees(1);
        g_FirstStgIncDecRes = degrees(0, 25);
        g_FirstStgResDigits = 2;
        g_SecStgDiffMin = degrees(0, 50);
        g_SecStgDiffMax = degrees(3);
        g_SecStgIncDecRes = degrees(0, 50);
        g_DeadbandMin = degrees(1);
        g_DeadbandMax = degrees(2, 50);
        g_DeadbandIncDecRes = degrees(0, 50);
        m_LowBalPtMin = degrees(-10);
        m_LowBalPtMax = degrees(10);
    }
}

void initialiseTstatSetupMenu() {
    initialiseRecords();
    screenUserHdlInit(testScreenTstatSetupCont);
    screenUserHdlInit(testScreenTstatSetup);
}

// Nothing is stored before "Exit": the page's time-out drops the edits.
void displayThermostatSetupPage() {
    initialiseRecords();
    menuOpenPage(PAGE_TSTAT_SETUP, {});
}

void getTstatSetupFromDataDict() {
    TstatCfg_t cfg{};
    getTstatSetupDifferential(&cfg);
    loadFixedPoint(g_TstatSetupMenu[TSTAT_SETUP_FIRST_STG],
                   convertDiffCelToFah(cfg.firstStageDiff));
    loadFixedPoint(g_TstatSetupMenu[TSTAT_SETUP_SECOND_STG],
                   convertDiffCelToFah(cfg.secondStageDiff));
    loadFixedPoint(g_TstatSetupMenu[TSTAT_SETUP_DEADBAND], convertDiffCelToFah(cfg.deadband));
    // The record keeps the offset in the display scale.
    loadFixedPoint(g_TstatSetupMenu[TSTAT_SETUP_TEMP_OFFSET], cfg.tempOffset);
    TstatHvacSettings_t hvac{};
    getTstatSetupBalancePt(&hvac);
    loadFixedPoint(g_TstatSetupMenu[TSTAT_SETUP_BAL_PT], tempCelToFahConversion(hvac.balancePoint));
}

void setTstatSetupInDataDict() {
    TstatCfg_t cfg{};
    getTstatSetupDifferential(&cfg);
    cfg.firstStageDiff = convertDiffFahToCel(fixedPointOf(g_TstatSetupMenu[TSTAT_SETUP_FIRST_STG]));
    cfg.secondStageDiff =
        convertDiffFahToCel(fixedPointOf(g_TstatSetupMenu[TSTAT_SETUP_SECOND_STG]));
    cfg.deadband = convertDiffFahToCel(fixedPointOf(g_TstatSetupMenu[TSTAT_SETUP_DEADBAND]));
    cfg.tempOffset = fixedPointOf(g_TstatSetupMenu[TSTAT_SETUP_TEMP_OFFSET]);
    setTstatSetupDifferential(&cfg);
    TstatHvacSettings_t hvac{};
    getTstatSetupBalancePt(&hvac);
    hvac.balancePoint = tempFahToCelConversion(fixedPointOf(g_TstatSetupMenu[TSTAT_SETUP_BAL_PT]));
    setTstatSetupBalancePt(&hvac);
}

void incTstatSetupPageMenuPtr() {
    uint8_t at = getCurrentMenuIndex();
    uint8_t to = TSTAT_SETUP_FIRST_STG_TEXT;
    if (isLabel(at)) {
        to = static_cast<uint8_t>(at + 2);
    } else if (isValue(at)) {
        to = static_cast<uint8_t>(at + 1);
    } else if (at == TSTAT_SETUP_EXIT) {
        to = TSTAT_SETUP_BAL_PT_TEXT;
    }
    selectItem(to);
    navigationKeys();
}

void decTstatSetupPageMenuPtr() {
    uint8_t at = getCurrentMenuIndex();
    uint8_t to = TSTAT_SETUP_MORE;
    if (at == TSTAT_SETUP_BAL_PT_TEXT) {
        to = TSTAT_SETUP_EXIT;
    } else if (isValue(at)) {
        to = static_cast<uint8_t>(at - 1);
    } else if (at != TSTAT_SETUP_FIRST_STG_TEXT && at <= TSTAT_SETUP_EXIT) {
        to = static_cast<uint8_t>(at - 2);
    }
    selectItem(to);
    navigationKeys();
}

void displaySelectedTstatSetupMenuItemPage() {
    uint8_t at = getCurrentMenuIndex();
    if (isLabel(at)) {
        selectItem(static_cast<uint8_t>(at + 1));
        DispManFn step = at == TSTAT_SETUP_FIRST_STG_TEXT ? incrementFirstStgMenuItemValue
                                                          : incrementMenuItemValue;
        displayManagerSetKeySlots(decTstatSetupPageMenuPtr, incTstatSetupPageMenuPtr, step);
    } else if (at == TSTAT_SETUP_MORE) {
        // The page's second screen; the edits of the first stay.
        menuOpenPage(PAGE_TSTAT_SETUP, {.screen = testScreenTstatSetupCont,
                                        .position = TSTAT_SETUP_BAL_PT_TEXT,
                                        .load = false});
    } else if (at == TSTAT_SETUP_EXIT) {
        setTstatSetupInDataDict();
        saveThermostatSysCfg();
        initialiseHvacAlgorithms();
        displayAdvSetupContPageAt(ADV_SETUP_TSTAT_SETUP);
    }
}

void incrementFirstStgMenuItemValue() {
    MenuItem &item = g_TstatSetupMenu[TSTAT_SETUP_FIRST_STG];
    if (getCurrentMenuPtr() != &item) {
        return;
    }
    // The step grows with the value, so that Mode walks 0.5, 1.0, 2.0 (0.25,
    // 0.5, 1.0 in Celsius) and then wraps to the smallest.
    bool scaleF = displayTempScale() == TEMP_SCALE_FAHRENHEIT;
    uint32_t digits = item.fractionDigits;
    if (item.value == 0 && (digits == 5 || digits == 50)) {
        item.step = static_cast<uint32_t>(degrees(0, 50));
    } else if (item.value == 0 && digits == 25) {
        item.step = static_cast<uint32_t>(degrees(0, 25));
    } else if (item.value == 1 && digits == 0) {
        item.step = static_cast<uint32_t>(scaleF ? degrees(1) : degrees(0, 50));
        item.min = scaleF ? degrees(0, 50) : degrees(0, 25);
    } else if (item.value == 2 && digits == 0) {
        item.step = static_cast<uint32_t>(g_FirstStgIncDecRes);
        item.min = degrees(0, 50);
    }
    incrementMenuItemValue();
}

// ---- Texts ---------------------------------------------------------------------------------

void drawTstatSetupFirstStgDiffText(char *buffer) {
    drawMenuLabel(buffer, c_TStatSetupMenuItems[0]);
}
void drawTstatSetupFirstStgDiff(char *buffer) {
    drawDifferential(buffer, TSTAT_SETUP_FIRST_STG);
}
void drawTstatSetupSecondStgDiffText(char *buffer) {
    drawMenuLabel(buffer, c_TStatSetupMenuItems[1]);
}
void drawTstatSetupSecondStgDiff(char *buffer) {
    drawDifferential(buffer, TSTAT_SETUP_SECOND_STG);
}
void drawTstatSetupDeadbandText(char *buffer) {
    drawMenuLabel(buffer, c_TStatSetupMenuItems[2]);
}
void drawTstatSetupDeadband(char *buffer) {
    drawDifferential(buffer, TSTAT_SETUP_DEADBAND);
}
void drawTstatSetupDeadbandTempOffsetText(char *buffer) {
    drawMenuLabel(buffer, c_TStatSetupMenuItems[3]);
}
void drawTstatSetupDeadbandTempOffset(char *buffer) {
    drawWholeDegrees(buffer, TSTAT_SETUP_TEMP_OFFSET);
}
void drawTstatSetupMore(char *buffer) {
    drawAlignedText(buffer, g_TstatSetupMenu[TSTAT_SETUP_MORE], c_More, BUTTON_CENTRE_X,
                    MenuTextAlign::Center);
}
void drawTstatSetupLowBalPtText(char *buffer) {
    drawMenuLabel(buffer, c_TStatSetupMenuItems[4]);
}
void drawTstatSetupLowBalPt(char *buffer) {
    drawWholeDegrees(buffer, TSTAT_SETUP_BAL_PT);
}
void drawTstatSetupExit(char *buffer) {
    drawAlignedText(buffer, g_TstatSetupMenu[TSTAT_SETUP_EXIT], c_Exit, BUTTON_CENTRE_X,
                    MenuTextAlign::Center);
}

void tstatSetupMenuReset() {
    c_TstatSetupBackup.restore();
    c_TstatSetupContBackup.restore();
    initialiseRecords();
}
