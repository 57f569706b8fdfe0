// Every text the pages write, word for word and format for format: one row
// per text or list of texts (joined by "|"). Texts pinned where their
// behaviour is tested are not repeated: the clock and the date (menu engine),
// the main page's readings, set points and hold status, the weather values in
// Fahrenheit and the message lines (pages).
#include "ui_fixture.h"

#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "pages/adv_setup_menu.h"
#include "pages/button_lockout_menu.h"
#include "pages/config_sec_code_menu.h"
#include "pages/forecast_pages.h"
#include "pages/korabus_comm_menu.h"
#include "pages/main_page.h"
#include "pages/program_menu.h"
#include "pages/security_code_menu.h"
#include "pages/settings_menu.h"
#include "pages/tstat_setup_menu.h"
#include "pages/user_pref_menu.h"
#include "pages/vacation_menu.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using Draw = void (*)(char *buffer);

// The end of a hold at hour:minute of the tests' day, with the clock in a format.
template <int hour, int minute, TimeFormat format> void holdEnd(char *buffer) {
    edit(getThermostatFormatSettings, setThermostatFormatSettings,
         [](auto &fmt) { fmt.timeFormat = format; });
    formatHoldTime(UI_TEST_WALL_TIME - (7 * 60 + 10) * 60 + (hour * 60 + minute) * 60, buffer);
}

// A weather text of the current conditions the bus sent, in Celsius.
template <Draw draw> void weather(char *buffer) {
    setScale(TEMP_SCALE_CELSIUS);
    TstatCurrentForecast_t current{};
    current.windSpeed = fx(10);
    current.feelsLikeTemp = fx(-5);
    memcpy(current.windDirection, "NNW", 3);
    setCurrentForecast(&current);
    setBarometricPressure(fx(73.787));
    forecastMarkReceived(FORECAST_WIND_SPEED | FORECAST_FEELS_LIKE);
    draw(buffer);
    setScale(TEMP_SCALE_FAHRENHEIT);
}

template <uint32_t position> void adv(char *buffer) {
    drawAdvSetupItem(buffer, position);
}

void screenSaver(char *buffer) {
    setMovAvgIndTemp(fx(20));
    drawMainScrIndoorTempScrSvr(buffer);
}

void underVoltage(char *buffer) {
    dispManSetUnderVoltageWarning(1);
    drawUnderVoltageWarning(buffer);
    dispManSetUnderVoltageWarning(0);
}

void systemOff(char *buffer) {
    printSystemOffTemp(buffer, SCREEN_TEXT_LEN);
}

void vacationHumidity(char *buffer) {
    setHumidifyState(HUMIDIFY_STATE_AUTO);
    drawVacHumidSP(buffer);
}

void firstStageQuarter(char *buffer) {
    g_TstatSetupMenu[TSTAT_SETUP_FIRST_STG].value = 0;
    g_TstatSetupMenu[TSTAT_SETUP_FIRST_STG].fractionDigits = 25;
    drawTstatSetupFirstStgDiff(buffer);
}

void busVersions(char *buffer) {
    setKorabusVersion("2.10");
    drawKorabusCommRevision(buffer);
}

struct TextRow {
    const char *text;
    std::vector<Draw> draws;  // drawn one after the other
    MenuItem *item = nullptr; // when set, takes the values from..to, each drawn
    int16_t from = 0;
    int16_t to = 0;
};

std::string produce(const TextRow &row) {
    std::string all;
    for (int value = row.from; value <= row.to; value++) {
        if (row.item != nullptr) {
            row.item->value = static_cast<int16_t>(value);
        }
        for (Draw draw : row.draws) {
            char buffer[SCREEN_TEXT_LEN] = {};
            draw(buffer);
            all += (all.empty() ? "" : "|") + std::string(buffer);
        }
    }
    return all;
}

class TextsTest : public UiTest {};

TEST_F(TextsTest, EveryTextOfThePagesReadsWordForWord) {
    MenuItem *const prog = g_ProgramMenu;
    MenuItem *const vac = g_VacationMenu;
    MenuItem *const setup = g_TstatSetupMenu;
    MenuItem *const pref = g_UserPrefMenu;
    MenuItem *const lock = g_ButtonLockoutMenu;
    const TextRow rows[] = {
        // The main page and every page's warning.
        {"00:30 AM|12:15 PM|01:05 PM",
         {holdEnd<0, 30, TIME_FORMAT_12_HOUR>, holdEnd<12, 15, TIME_FORMAT_24_HOUR>,
          holdEnd<13, 5, TIME_FORMAT_24_HOUR>}},
        {"68\xB0|Undervoltage!|-", {screenSaver, underVoltage, systemOff}},
        {"-5\xB0|NNW 10 kph| 73.79 cm",
         {weather<drawCurrFCastFeelsLikeTemp>, weather<drawCurrFCastWindDirSpeed>,
          weather<drawCurrFCastPressure>}},
        // The program and the vacation.
        {"70\xB0", {drawProgWakeHeatSP}, &prog[PROG_WAKE + PROG_HEAT], 70, 70},
        {" 6", {drawProgWakeTimeHourSP}, &prog[PROG_WAKE + PROG_HOUR], 6, 6},
        {":05", {drawProgWakeTimeMinSP}, &prog[PROG_WAKE + PROG_MINUTE], 5, 5},
        {"am|pm", {drawProgWakeAmPm}, &prog[PROG_WAKE + PROG_AMPM], 0, 1},
        {" 40%", {drawProgHumidSP}, &prog[PROG_HUMID_SP], 40, 40},
        {"Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec",
         {drawVacDateMonth},
         &vac[VAC_MONTH],
         0,
         11},
        {"05", {drawVacDateDay}, &vac[VAC_DAY], 5, 5},
        {"2025", {drawVacDateYear}, &vac[VAC_YEAR], 2025, 2025},
        {"07", {drawVacDateHour}, &vac[VAC_HOUR], 7, 7},
        {":09", {drawVacDateMinute}, &vac[VAC_MINUTE], 9, 9},
        {"AM|PM", {drawVacDateAmPm}, &vac[VAC_AMPM], 0, 1},
        {" 40%", {vacationHumidity}, &vac[VAC_HUMID], 40, 40},
        // The settings page's filter interval, in its row and as the pop-up's first choice.
        {"90|90",
         {drawSettingsFilterChVal, drawPuSettingsFilterChVal},
         &g_SettingsMenu[SETTINGS_FILTER_DAYS],
         90,
         90},
        // The thermostat setup.
        {"First Stage Diff :|Second Stage Diff :|Deadband :|Temperature Offset :|Balance Point "
         ":|Exit",
         {drawTstatSetupFirstStgDiffText, drawTstatSetupSecondStgDiffText,
          drawTstatSetupDeadbandText, drawTstatSetupDeadbandTempOffsetText,
          drawTstatSetupLowBalPtText, drawTstatSetupExit}},
        {"0.25 \xB0", {firstStageQuarter}},
        {"1.0 \xB0", {drawTstatSetupDeadband}, &setup[TSTAT_SETUP_DEADBAND], 1, 1},
        {"-9 \xB0", {drawTstatSetupDeadbandTempOffset}, &setup[TSTAT_SETUP_TEMP_OFFSET], -9, -9},
        {" 5 \xB0", {drawTstatSetupLowBalPt}, &setup[TSTAT_SETUP_BAL_PT], 5, 5},
        // The advanced setup: labels and buttons, each list of choices, a number.
        {"HVAC System :|Fossil Fuel Type :|External Temp Sensor :|Internal Temp Sensor "
         ":|Humidity Sensor :|More|Mon :|Day :|Yr :|Hour :|Min :|Cycle Rate :|Korabus "
         "Setup|Thermostat Setup|More|Diagnostic Mode :|Humidification System "
         ":|Dehumidification System :|Comfort Recovery :|Help Mode :|Exit",
         {adv<0>,  adv<2>,  adv<4>,  adv<6>,  adv<8>,  adv<10>, adv<11>,
          adv<13>, adv<15>, adv<17>, adv<19>, adv<21>, adv<23>, adv<24>,
          adv<25>, adv<26>, adv<28>, adv<30>, adv<32>, adv<34>, adv<36>}},
        {"One Stg Furnace|Two Stg Furnace|Roof Top Unit|Boiler With A/C|One Stg Heat Pump|Two "
         "Stg Heat Pump|Floor Heat",
         {adv<1>},
         &g_AdvSetupMenu[1],
         0,
         6},
        {"Electric|Gas", {adv<3>}, &g_AdvSetupMenu[3], 0, 1},
        {"Outdoor|Indoor|Off", {adv<5>}, &g_AdvSetupMenu[5], 0, 2},
        {"On|Off", {adv<7>}, &g_AdvSetupMenu[7], 0, 1},
        {"On|Off", {adv<9>}, &g_AdvSetupMenu[9], 0, 1},
        {"Off|On", {adv<27>}, &g_AdvSetupMenu[27], 0, 1},
        {"No|Yes", {adv<29>}, &g_AdvSetupMenu[29], 0, 1},
        {"No|Yes", {adv<31>}, &g_AdvSetupMenu[31], 0, 1},
        {"Off|On", {adv<33>}, &g_AdvSetupMenu[33], 0, 1},
        {"Off|On", {adv<35>}, &g_AdvSetupMenu[35], 0, 1},
        {"2025", {adv<16>}, &g_AdvSetupMenu[16], 2025, 2025},
        // The bus address.
        {"2|Enter|Cancel",
         {drawKorabusCommAddress1, drawKorabusCommEnter, drawKorabusCommCancel},
         &g_KorabusCommMenu[0],
         2,
         2},
        {"2.10/3.04", {busVersions}},
        // The user preferences.
        {"Temperature Scale :|Date Format :|Time Format :|Backlight Timeout :|Backlight Active "
         "Brightness :|Backlight Inactive Brightness :|Filter Change Reminder :|Weather Alert Icon "
         ":|Current Forecast Page :|Five Day Forecast Page :|Screensaver :|Humidity Offset :",
         {drawUserPrefTempText, drawUserPrefDateText, drawUserPrefTimeText,
          drawUserPrefBkLTimeoutText, drawUserPrefBkLActBrightnessText,
          drawUserPrefBkLInActBrightnessText, drawUserPrefFiltChangeText,
          drawUserPrefWeatherAlertText, drawUserPrefForecastText, drawUserPrefFiveDayFcastText,
          drawUserPrefScrSaverText, drawUserPrefHumOffsetText}},
        {"F|C", {drawUserPrefTemp}, &pref[USER_PREF_TEMP_SCALE], 0, 1},
        {"DD/MM/YY|MM/DD/YY|YY/MM/DD", {drawUserPrefDate}, &pref[USER_PREF_DATE], 0, 2},
        {"12-Hour|24-Hour", {drawUserPrefTime}, &pref[USER_PREF_TIME], 0, 1},
        {"50 sec", {drawUserPrefBkLTimeout}, &pref[USER_PREF_BKL_TIMEOUT], 50, 50},
        {"1m 30s", {drawUserPrefBkLTimeout}, &pref[USER_PREF_BKL_TIMEOUT], 90, 90},
        {"5 min", {drawUserPrefBkLTimeout}, &pref[USER_PREF_BKL_TIMEOUT], 300, 300},
        {"Low|Med|High", {drawUserPrefBkLActBrightness}, &pref[USER_PREF_BKL_ACTIVE], 0, 2},
        {"Dim|Off", {drawUserPrefBkLInActBrightness}, &pref[USER_PREF_BKL_INACTIVE], 0, 1},
        {"Enable|Disable", {drawUserPrefFiltChange}, &pref[USER_PREF_FILTER], 0, 1},
        {"Enable|Disable", {drawUserPrefWeatherAlert}, &pref[USER_PREF_WEATHER_ALERT], 0, 1},
        {"Enable|Disable", {drawUserPrefForecast}, &pref[USER_PREF_FORECAST], 0, 1},
        {"Enable|Disable", {drawUserPrefFiveDayFcast}, &pref[USER_PREF_FIVE_DAY], 0, 1},
        {"Enable|Disable", {drawUserPrefScrSaver}, &pref[USER_PREF_SCREEN_SAVER], 0, 1},
        {"7", {drawUserPrefHumOffset}, &pref[USER_PREF_HUM_OFFSET], 7, 7},
        {"More|Button Lockout|Change Security Code|Advanced Setup|Exit",
         {drawUserPrefMore, drawUserPrefButtonLockout, drawUserPrefConfigSecCode,
          drawUserPrefAdvSetup, drawUserPrefExit}},
        // The button lockout.
        {"Button Lockout :|Temperature Lock :|Temp Lock Time Limit :|Temp Lock Range Limit :|Fan "
         "Lock :|Fan Lock Time :|Mode Lock :|Mode Lock Time :|More|Exit",
         {drawButtonLockoutText, drawTempLockText, drawTempLockTimeText, drawTempLockRangeText,
          drawFanLockText, drawFanLockTimeText, drawModeLockText, drawModeLockTimeText,
          drawButtonLockoutMore, drawButtonLockoutExit}},
        {"Lock|Unlock", {drawButtonLockout}, &lock[LOCKOUT_BUTTON_LOCKOUT], 0, 1},
        {"Yes|No", {drawTempLock}, &lock[LOCKOUT_TEMP_LOCK], 0, 1},
        {"Yes|No", {drawFanLock}, &lock[LOCKOUT_FAN_LOCK], 0, 1},
        {"Yes|No", {drawModeLock}, &lock[LOCKOUT_MODE_LOCK], 0, 1},
        {"30 min", {drawTempLockTime}, &lock[LOCKOUT_TEMP_TIME], 30, 30},
        {"45 min", {drawFanLockTime}, &lock[LOCKOUT_FAN_TIME], 45, 45},
        {"60 min", {drawModeLockTime}, &lock[LOCKOUT_MODE_TIME], 60, 60},
        {"3 \xB0", {drawTempLockRange}, &lock[LOCKOUT_TEMP_RANGE], 3, 3},
        // The security code's entry and change.
        {"7|Enter|Cancel",
         {drawSecurityCodeValue1, drawSecurityCodeEnter, drawSecurityCodeCancel},
         &g_SecurityCodeMenu[0],
         7,
         7},
        {"4|Enter|Cancel",
         {drawConfigSecCodeValue4, drawConfigSecCodeEnter, drawConfigSecCodeCancel},
         &g_ConfSecurityCodeMenu[3],
         4,
         4},
    };
    bootAndStart();
    for (const TextRow &row : rows) {
        EXPECT_EQ(produce(row), row.text);
    }
}

} // namespace
