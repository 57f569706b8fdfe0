// tstat-sim gallery: the user interface rendered headless with sample data.
//
// The application's own display manager runs on a throw-away board root with
// a fake clock; the shots are reached the way a user reaches them, with key
// presses through the key FIFO, and each is written as the frame on screen.
// A new page joins the gallery with one row in c_Shots.
#include "gallery.h"

#include "board/board.h"
#include "board/run_support.h"

#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "coproc/coproc_comm.h"
#include "dispman/display_manager.h"
#include "graphics/buttons.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "mfgtest/mfgtest.h"
#include "pages/hold_menu.h"
#include "pages/menu_pages.h"
#include "pages/page_table.h"
#include "pages/pages.h"
#include "pages/program_menu.h"
#include "pages/settings_menu.h"
#include "pages/vacation_menu.h"
#include "platform/platform.h"
#include "platform/platform_display.h"
#include "platform/platform_test.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace sim {

namespace {

// Tuesday 14 January 2025, 07:10 (the clock runs in UTC for the gallery).
constexpr int64_t GALLERY_WALL_TIME = 1736838600;
// The vacation shot's end: Saturday 18 January, 17:00.
constexpr int64_t GALLERY_VACATION_END = 1737219600;
constexpr uint32_t PASS_MS = 100;

constexpr fpr_t celsius(double degrees) {
    return static_cast<fpr_t>(degrees * FPR_ONE + (degrees < 0 ? -0.5 : 0.5));
}

// A message as long as the bus carries: a command text holds at most a
// payload less its length byte, "MESSAGE DISP " included.
const char c_MessageCommand[] = "MESSAGE DISP ";
const char c_GalleryMessage[] = "Snow removal tonight: move cars by 9 pm. Thanks!";
static_assert(sizeof(c_MessageCommand) - 1 + sizeof(c_GalleryMessage) - 1 <=
              COPROC_MAX_PAYLOAD - 1);

// The key FIFO, written the way the key device delivers events.
int m_KeyFifo = -1;

void sendKey(uint16_t code, int32_t value) {
    uint8_t record[PLATFORM_KEY_EVENT_SIZE];
    platformEncodeKeyEvent(PlatformKeyEvent{BUTTON_EVENT_KEY, code, value}, record);
    if (write(m_KeyFifo, record, sizeof(record)) != static_cast<ssize_t>(sizeof(record))) {
        fprintf(stderr, "tstat-sim gallery: cannot write a key event: %s\n", strerror(errno));
    }
}

// Main-loop passes on the fake clock: the user interface, the control and the relays.
void passes(int count) {
    for (int i = 0; i < count; i++) {
        displayManagerPoll();
        hvacExecuteAlgorithm(15);
        RlyCntl_RefreshRelays();
        platformFakeClockAdvanceMs(PASS_MS);
    }
}

void tap(uint16_t code) {
    sendKey(code, BUTTON_VALUE_PRESSED);
    passes(2);
    sendKey(code, BUTTON_VALUE_RELEASED);
    passes(2);
}

void holdKey(uint16_t code, uint32_t ms) {
    sendKey(code, BUTTON_VALUE_PRESSED);
    passes(static_cast<int>(ms / PASS_MS) + 2);
    sendKey(code, BUTTON_VALUE_RELEASED);
    passes(2);
}

// Passes until the item is in the visible phase of its blinking.
void untilVisible(const ScreenItem *item) {
    for (int i = 0; i < 20 && item != nullptr && item->textVisible == 0; i++) {
        passes(1);
    }
}

// The wall clock before the evening shot moved it.
int64_t m_WallBeforeEvening = 0;

void home() {
    displayMainPage();
    passes(12); // the alert icons refresh once a second
}

// ---- The shots ----------------------------------------------------------------------

void sampleWeather();

void shotNoWeather() {
    home();
}

void shotMain() {
    sampleWeather();
    home();
}

void shotModePopUp() {
    home();
    holdKey(BUTTON_CODE_MODE, 3200);
}

void shotHvacPopUp() {
    tap(BUTTON_CODE_MODE);
}

void shotFanPopUp() {
    tap(BUTTON_CODE_MODE);
}

void shotHold() {
    tap(BUTTON_CODE_MODE); // the fan pop-up's mode key returns to the main page
    tap(BUTTON_CODE_UP);   // opens the hold page
    tap(BUTTON_CODE_UP);   // one degree up
    untilVisible(g_HoldModeMenu[HOLD_MENU_HEAT].handle);
}

void shotHelp() {
    passes(110); // the hold page times out and stores the hold
    tap(BUTTON_CODE_MODE);
}

void shotDetailForecast() {
    tap(BUTTON_CODE_MODE);
}

void shotFiveDayForecast() {
    tap(BUTTON_CODE_MODE);
}

void shotMessage() {
    home();
    displayMessageScreenPage(c_GalleryMessage);
    passes(2);
}

void shotSecurityCode() {
    tap(BUTTON_CODE_UP); // dismisses the message
    displaySecCodeInpPage();
    passes(1);
    tap(BUTTON_CODE_UP);
    tap(BUTTON_CODE_MODE);
    tap(BUTTON_CODE_UP);
    tap(BUTTON_CODE_UP);
}

void shotUnderVoltage() {
    home();
    dispManSetUnderVoltageWarning(1);
    passes(1);
    untilVisible(g_UndervoltageTextHdl);
}

void shotScreenSaver() {
    dispManSetUnderVoltageWarning(0);
    home();
    TstatBkLightCtl_t bk{};
    getThermostatBacklightSettings(&bk);
    passes(static_cast<int>(bk.backlightTimeout) * 10 + 35);
}

// The system mode as the pop-ups, the settings page and the bus set it: the
// control starts again with it, so the activity icons follow at once.
void setSystemMode(HvacState state) {
    setHVACState(state);
    initialiseHvacAlgorithms();
}

void shotAwayLocked() {
    platformFakeClockSetWall(m_WallBeforeEvening);
    setTstatFilterChangeDays(90);
    setSystemMode(HVAC_STATE_HEAT);
    TstatSetPoint_t vacation{};
    getVacationThermostatSettings(&vacation);
    vacation.heatSetPoint = celsius(15.5);
    vacation.coolSetPoint = celsius(29.5);
    vacation.endTime = GALLERY_VACATION_END;
    setVacationThermostatSettings(&vacation);
    setThermostatMode(TSTAT_MODE_VACATION);
    TstatLockoutCfg_t lockout{};
    getLockoutConfiguration(&lockout);
    lockout.buttonLockout = LOCK_LOCKED;
    lockout.modeLock = LOCK_LOCKED;
    setLockoutConfiguration(&lockout);
    setCurrentForecastState(FEATURE_DISABLE);
    setWeatherAlertState(1);
    home();
}

void shotScreenSaverUnderVoltage() {
    dispManSetUnderVoltageWarning(0);
    tap(BUTTON_CODE_UP); // wakes the display and leaves the screen saver
    home();
    TstatBkLightCtl_t bk{};
    getThermostatBacklightSettings(&bk);
    passes(static_cast<int>(bk.backlightTimeout) * 10 + 35);
    dispManSetUnderVoltageWarning(1);
    passes(1);
    untilVisible(g_UndervoltageTextHdl);
}

void shotSystemOff() {
    dispManSetUnderVoltageWarning(0);
    tap(BUTTON_CODE_UP); // wakes the display and leaves the screen saver
    setSystemMode(HVAC_STATE_OFF);
    home();
}

void shotAutoPermanent() {
    setSystemMode(HVAC_STATE_AUTO);
    setThermostatMode(TSTAT_MODE_PERMANENT_HOLD);
    home();
}

void setSystemType(SystemType type) {
    TstatCfg_t cfg{};
    getTstatConfiguration(&cfg);
    cfg.systemType = type;
    setTstatConfiguration(&cfg);
    initialiseHvacAlgorithms();
}

SystemType m_SystemType = SYSTEM_TYPE_ONE_STG_FURNACE; // the sample's own

void shotHeatPumpPopUp() {
    TstatCfg_t cfg{};
    getTstatConfiguration(&cfg);
    m_SystemType = cfg.systemType;
    setSystemType(SYSTEM_TYPE_TWO_STG_HEAT_PUMP);
    setSystemMode(HVAC_STATE_EMERGENCY_HEAT);
    home();
    holdKey(BUTTON_CODE_MODE, 3200);
    tap(BUTTON_CODE_MODE);
}

// The filter reminder due, and comfort recovery before the Leave period.
void shotFilterAdjusting() {
    tap(BUTTON_CODE_MODE); // the fan pop-up
    tap(BUTTON_CODE_MODE); // the main page
    // 17:10: the Return period starts within the hour, warmer than Leave.
    m_WallBeforeEvening = util_time(nullptr);
    platformFakeClockSetWall(GALLERY_WALL_TIME + 10 * 3600);
    setSystemType(m_SystemType);
    setSystemMode(HVAC_STATE_HEAT);
    setThermostatMode(TSTAT_MODE_PROGRAM);
    setWeatherAlertState(1);
    setFilterChangeState(FEATURE_ENABLE);
    setTstatFilterChangeDays(0);
    home();
    passes(6); // one phase of the animation
}

// ---- Program schedule and vacation shots -----------------------------------------------

void shotProgram() {
    TstatLockoutCfg_t lockout{};
    getLockoutConfiguration(&lockout);
    lockout.buttonLockout = LOCK_UNLOCKED;
    setLockoutConfiguration(&lockout);
    setHumidifyState(HUMIDIFY_STATE_AUTO);
    home();
    displayProgramModePage();
    passes(2);
    tap(BUTTON_CODE_MODE); // edits the wake heat set point
    tap(BUTTON_CODE_UP);
    untilVisible(g_ProgramMenu[PROG_WAKE + PROG_HEAT].handle);
}

void shotProgramCopyTo() {
    for (int i = 0; i < 5; i++) {
        tap(BUTTON_CODE_MODE); // cool, hour, minute, am/pm, then the leave period
    }
    for (int i = 0; i < 5; i++) {
        tap(BUTTON_CODE_DOWN); // return, sleep, dehumidify, humidify, copy
    }
    tap(BUTTON_CODE_MODE);
    tap(BUTTON_CODE_UP); // Saturday
    tap(BUTTON_CODE_UP); // Friday
    tap(BUTTON_CODE_MODE);
    for (int i = 0; i < 3; i++) {
        tap(BUTTON_CODE_UP); // Thursday, Wednesday, then Monday past Tuesday
    }
    tap(BUTTON_CODE_MODE);
}

void shotProgramHelp() {
    tap(BUTTON_CODE_UP);   // Sunday
    tap(BUTTON_CODE_UP);   // Done
    tap(BUTTON_CODE_MODE); // copies, and the program page returns on Copy
    tap(BUTTON_CODE_DOWN);
    tap(BUTTON_CODE_DOWN);
    tap(BUTTON_CODE_MODE); // Done saves
    displayProgramHelpPage();
    passes(2);
}

void shotVacation() {
    displayVacationModePage();
    passes(2);
    tap(BUTTON_CODE_MODE); // vacation on
    tap(BUTTON_CODE_MODE); // edits the month
    tap(BUTTON_CODE_UP);
    tap(BUTTON_CODE_MODE); // the day
    for (int i = 0; i < 3; i++) {
        tap(BUTTON_CODE_UP);
    }
    untilVisible(g_VacationMenu[VAC_DAY].handle);
}

void shotAwayHelp() {
    displayAwayHelpPage();
    passes(2);
}

// ---- User preferences, button lockout and the security code change ----------------------

void taps(uint16_t code, int count) {
    for (int i = 0; i < count; i++) {
        tap(code);
    }
}

// The code entry, the stored code keyed in digit by digit, then "Enter".
void enterSecurityCode() {
    displaySecCodeInpPage();
    passes(1);
    unsigned code = getSecurityCode();
    for (unsigned divisor = 1000; divisor > 0; divisor /= 10) {
        taps(BUTTON_CODE_UP, static_cast<int>(code / divisor % 10));
        tap(BUTTON_CODE_MODE);
    }
    tap(BUTTON_CODE_MODE);
}

void shotUserPrefs() {
    tap(BUTTON_CODE_UP); // wakes the display
    enterSecurityCode();
    taps(BUTTON_CODE_DOWN, 3); // to "Backlight Timeout"
    tap(BUTTON_CODE_MODE);     // its value
    taps(BUTTON_CODE_MODE, 6); // 30 s -> 1m 30s
}

void shotUserPrefs2() {
    taps(BUTTON_CODE_DOWN, 2); // to "More"
    tap(BUTTON_CODE_MODE);
    taps(BUTTON_CODE_DOWN, 3); // to "Current Forecast Page"
    tap(BUTTON_CODE_MODE);
}

void shotUserPrefs3() {
    taps(BUTTON_CODE_DOWN, 2); // to "More"
    tap(BUTTON_CODE_MODE);
    taps(BUTTON_CODE_DOWN, 3); // to "Change Security Code"
}

void shotSecurityCodeChange() {
    tap(BUTTON_CODE_MODE);
    tap(BUTTON_CODE_MODE); // the second digit
    tap(BUTTON_CODE_UP);
}

void shotButtonLockout() {
    taps(BUTTON_CODE_MODE, 3); // to "Enter"
    tap(BUTTON_CODE_DOWN);     // "Cancel": back to the preferences
    tap(BUTTON_CODE_MODE);
    tap(BUTTON_CODE_UP); // "Button Lockout"
    tap(BUTTON_CODE_MODE);
    taps(BUTTON_CODE_DOWN, 2); // to "Temp Lock Time Limit"
    tap(BUTTON_CODE_MODE);
    taps(BUTTON_CODE_MODE, 15);
}

void shotButtonLockout2() {
    taps(BUTTON_CODE_DOWN, 2); // to "More"
    tap(BUTTON_CODE_MODE);
    taps(BUTTON_CODE_DOWN, 3); // to "Mode Lock Time"
}

// ---- Thermostat menu, settings, advanced, thermostat and bus setup ----------------------

void setLocks(LockState modeAndFan) {
    TstatLockoutCfg_t lockout{};
    getLockoutConfiguration(&lockout);
    lockout.buttonLockout = modeAndFan;
    lockout.modeLock = modeAndFan;
    lockout.fanLock = modeAndFan;
    setLockoutConfiguration(&lockout);
}

void shotTstatMode() {
    setLocks(LOCK_UNLOCKED);
    setThermostatMode(TSTAT_MODE_PROGRAM);
    setCurrentForecastState(FEATURE_ENABLE);
    home();
    enterTSTATPage();
    passes(1);
    taps(BUTTON_CODE_DOWN, 2); // the first button, then "Edit Program"
}

void shotSettings() {
    taps(BUTTON_CODE_DOWN, 2);
    tap(BUTTON_CODE_MODE); // "Settings"
}

void shotSettingsHvacPopUp() {
    tap(BUTTON_CODE_MODE);
    tap(BUTTON_CODE_UP); // from heat to cool
}

void shotSettingsFanModePopUp() {
    tap(BUTTON_CODE_MODE); // cool; on to the fan mode row
    tap(BUTTON_CODE_MODE);
}

void shotSettingsFanSpeedPopUp() {
    tap(BUTTON_CODE_MODE); // auto stays; on to the fan speed row
    tap(BUTTON_CODE_MODE);
}

void shotSettingsFilterPopUp() {
    tap(BUTTON_CODE_UP); // from high to medium
    tap(BUTTON_CODE_MODE);
    tap(BUTTON_CODE_MODE);
    taps(BUTTON_CODE_DOWN, 3); // 90 days
}

void shotSettingsLocked() {
    tap(BUTTON_CODE_MODE);
    setLocks(LOCK_LOCKED);
    displaySettingsPageAt(3);
    passes(2);
}

void shotAdvancedSetup() {
    setLocks(LOCK_UNLOCKED);
    displayAdvSetupPage();
    passes(1);
    tap(BUTTON_CODE_MODE); // the system's value
}

void shotAdvancedSetupClock() {
    taps(BUTTON_CODE_DOWN, 5); // "More"
    tap(BUTTON_CODE_MODE);
    taps(BUTTON_CODE_DOWN, 5); // "Cycle Rate"
    tap(BUTTON_CODE_MODE);
}

void shotAdvancedSetupMore() {
    taps(BUTTON_CODE_DOWN, 3); // "More"
    tap(BUTTON_CODE_MODE);
    taps(BUTTON_CODE_DOWN, 2);
}

void shotBusAddress() {
    setKorabusVersion("2.10");
    displayAdvSetupPage();
    passes(1);
    taps(BUTTON_CODE_UP, 1); // "More"
    tap(BUTTON_CODE_MODE);
    taps(BUTTON_CODE_UP, 3); // "Korabus Setup"
    tap(BUTTON_CODE_MODE);
    taps(BUTTON_CODE_UP, 2);
    tap(BUTTON_CODE_MODE); // on to the tens
}

void shotThermostatSetup() {
    taps(BUTTON_CODE_MODE, 2); // the units, then "Enter"
    tap(BUTTON_CODE_MODE);     // back to the advanced setup
    tap(BUTTON_CODE_DOWN);     // "Thermostat Setup"
    tap(BUTTON_CODE_MODE);
    taps(BUTTON_CODE_DOWN, 2); // "Deadband"
    tap(BUTTON_CODE_MODE);
}

void shotThermostatSetupMore() {
    taps(BUTTON_CODE_DOWN, 2); // "More"
    tap(BUTTON_CODE_MODE);
}

// The manufacturing test's LCD pattern.
void shotColorBars() {
    screenSetCurrentScreen(g_displayHdl, testScreenColorBarPattern);
    screenRender(g_displayHdl);
}

// The program page with a period chosen, no value being changed.
void shotProgramPeriod() {
    displayProgramModePage();
    passes(2);
    tap(BUTTON_CODE_DOWN); // the leave period
}

// The system-mode pop-up of a heat pump: emergency heat last, below off.
void shotSettingsHeatPumpPopUp() {
    setLocks(LOCK_UNLOCKED);
    setSystemType(SYSTEM_TYPE_TWO_STG_HEAT_PUMP);
    setSystemMode(HVAC_STATE_HEAT);
    home();
    enterTSTATPage();
    passes(1);
    taps(BUTTON_CODE_DOWN, 4);
    tap(BUTTON_CODE_MODE);     // "Settings"
    tap(BUTTON_CODE_MODE);     // the pop-up, on heat
    taps(BUTTON_CODE_DOWN, 2); // off, then emergency heat
}

struct Shot {
    const char *name;    // file name stem
    const char *caption; // under the picture on the contact sheet
    void (*reach)();     // from the previous shot's state to this one
};

// In order: each shot starts where the one before left the user interface.
const Shot c_Shots[] = {
    {"main-no-weather", "No weather received yet", shotNoWeather},
    {"main", "Main page", shotMain},
    {"popup-mode", "Hold MODE: operating mode", shotModePopUp},
    {"popup-hvac", "MODE: HVAC mode", shotHvacPopUp},
    {"popup-fan", "MODE: fan mode", shotFanPopUp},
    {"hold", "UP: hold, set point up", shotHold},
    {"help", "MODE: help", shotHelp},
    {"forecast-detail", "MODE: current conditions", shotDetailForecast},
    {"forecast-five-day", "MODE: five-day forecast", shotFiveDayForecast},
    {"message", "Message from the building", shotMessage},
    {"security-code", "Security code entry", shotSecurityCode},
    {"undervoltage", "Under-voltage warning", shotUnderVoltage},
    {"screensaver", "Screen saver", shotScreenSaver},
    {"screensaver-undervoltage", "Under-voltage, screen saver", shotScreenSaverUnderVoltage},
    {"main-system-off", "System off", shotSystemOff},
    {"main-auto-permanent", "Auto, permanent hold", shotAutoPermanent},
    {"popup-hvac-heat-pump", "Heat pump: emergency heat", shotHeatPumpPopUp},
    {"main-filter-adjusting", "Filter reminder, adjusting", shotFilterAdjusting},
    {"main-away-locked", "Away, locked, no weather", shotAwayLocked},
    {"program", "Program: wake heat up", shotProgram},
    {"program-copy-to", "Copy Tuesday to Mon, Fri", shotProgramCopyTo},
    {"program-help", "Program help", shotProgramHelp},
    {"vacation", "Away: end date", shotVacation},
    {"vacation-help", "Away help", shotAwayHelp},
    {"user-prefs", "Preferences: backlight time-out", shotUserPrefs},
    {"user-prefs-2", "MORE: preferences, page 2", shotUserPrefs2},
    {"user-prefs-3", "MORE: preferences, page 3", shotUserPrefs3},
    {"security-code-change", "Change security code", shotSecurityCodeChange},
    {"button-lockout", "Button lockout: temperature", shotButtonLockout},
    {"button-lockout-2", "MORE: fan and mode locks", shotButtonLockout2},
    {"tstat-mode", "Thermostat menu", shotTstatMode},
    {"settings", "Settings", shotSettings},
    {"settings-popup-hvac", "Settings: system mode", shotSettingsHvacPopUp},
    {"settings-popup-fan-mode", "Settings: fan mode", shotSettingsFanModePopUp},
    {"settings-popup-fan-speed", "Settings: fan speed", shotSettingsFanSpeedPopUp},
    {"settings-popup-filter", "Settings: filter reminder", shotSettingsFilterPopUp},
    {"settings-locked", "Settings, mode and fan locked", shotSettingsLocked},
    {"advanced-setup", "Advanced setup: equipment", shotAdvancedSetup},
    {"advanced-setup-clock", "Advanced setup: clock", shotAdvancedSetupClock},
    {"advanced-setup-more", "Advanced setup: humidity, help", shotAdvancedSetupMore},
    {"bus-address", "Bus address", shotBusAddress},
    {"thermostat-setup", "Thermostat setup", shotThermostatSetup},
    {"thermostat-setup-more", "Thermostat setup: balance point", shotThermostatSetupMore},
    {"color-bars", "Factory test: colour bars", shotColorBars},
    {"program-period", "Program: a period chosen", shotProgramPeriod},
    {"settings-popup-hvac-heat-pump", "Settings: a heat pump's modes", shotSettingsHeatPumpPopUp},
};
constexpr size_t SHOT_COUNT = sizeof(c_Shots) / sizeof(c_Shots[0]);

// ---- Sample data ------------------------------------------------------------------------

void sampleData() {
    setLedStatus(1);
    setMovAvgIndTemp(celsius(20.1));
    setMovAvgHum(celsius(34));
    setWeatherAlertState(0); // an alert is active
    // A hold of 70 F until the next program period.
    TstatSetPoint_t hold{};
    getHoldThermostatSettings(&hold);
    hold.heatSetPoint = celsius(21.1);
    hold.coolSetPoint = celsius(25.6);
    setThermostatMode(TSTAT_MODE_HOLD);
    setHoldThermostatSettings(&hold);
}

void sampleWeather() {
    TstatCurrentForecast_t current{};
    current.outdoorTemp = celsius(-7.2);
    snprintf(current.windDirection, sizeof(current.windDirection), "NW");
    current.windSpeed = celsius(24);
    current.relativeHumidity = celsius(72);
    current.feelsLikeTemp = celsius(-13.1);
    current.dewPoint = celsius(-10.6);
    setCurrentForecast(&current);
    setBarometricPressure(celsius(76.6));
    TstatFiveDayForecast_t fiveDay{};
    const double highs[FORECAST_DAYS] = {-3.2, -1.1, 2.4, 0.3, -4.6};
    const double lows[FORECAST_DAYS] = {-11.4, -8.9, -5.7, -7.3, -12.8};
    const uint32_t conditions[FORECAST_DAYS] = {21, 15, 24, 4, 22};
    for (size_t d = 0; d < FORECAST_DAYS; d++) {
        fiveDay.highTemp[d] = celsius(highs[d]);
        fiveDay.lowTemp[d] = celsius(lows[d]);
        fiveDay.condition[d] = conditions[d];
    }
    fiveDay.currentCondition = 22; // flurries
    setFiveDayForecast(&fiveDay);
    forecastMarkReceived(FORECAST_OUTDOOR | FORECAST_WIND_DIRECTION | FORECAST_WIND_SPEED |
                         FORECAST_HUMIDITY | FORECAST_FEELS_LIKE | FORECAST_DEW_POINT |
                         FORECAST_ALL_HIGHS | FORECAST_ALL_LOWS);
}

// ---- Layout check ---------------------------------------------------------------------------

// A rectangle on the screen, right and bottom exclusive.
struct Box {
    int left, top, right, bottom;
};

bool intersects(const Box &a, const Box &b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

bool inside(const Box &inner, const Box &outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

bool shows(const ScreenItem &item) {
    if (item.kind == SCREEN_ITEM_TEXT) {
        return item.textVisible != 0 && item.font != nullptr &&
               strspn(item.text, " ") != strlen(item.text);
    }
    return item.kind == SCREEN_ITEM_BITMAP && item.bitmapVisible != 0 &&
           item.bitmapSurface != nullptr;
}

// The ink of a text as drawn (the glyphs' own extents, not the font's line box).
Box inkOf(const ScreenItem &item) {
    TTF_Font *font = item.font;
    int ascent = TTF_FontAscent(font);
    int top = INT_MAX;
    int bottom = INT_MIN;
    int left = INT_MAX;
    int right = INT_MIN;
    int pen = 0;
    for (const char *c = item.text; *c != '\0'; c++) {
        int minx = 0, maxx = 0, miny = 0, maxy = 0, advance = 0;
        if (TTF_GlyphMetrics(font, static_cast<uint8_t>(*c), &minx, &maxx, &miny, &maxy,
                             &advance) == 0 &&
            *c != ' ') {
            left = std::min(left, pen + minx);
            right = std::max(right, pen + maxx);
            top = std::min(top, ascent - maxy);
            bottom = std::max(bottom, ascent - miny);
        }
        pen += advance;
    }
    if (left > right) {
        return Box{item.x, item.y, item.x, item.y};
    }
    return Box{item.x + left, item.y + top, item.x + right, item.y + bottom};
}

Box boxOf(const ScreenItem &item) {
    if (item.kind == SCREEN_ITEM_TEXT) {
        return inkOf(item);
    }
    return Box{item.x, item.y, item.x + item.width, item.y + item.height};
}

// A text as the fonts draw it (Latin-1, as the degree sign) in UTF-8.
std::string utf8Of(const char *text) {
    std::string out;
    for (const char *c = text; *c != '\0'; c++) {
        auto byte = static_cast<uint8_t>(*c);
        if (byte < 0x80) {
            out += *c;
        } else {
            out += static_cast<char>(0xC0 | byte >> 6);
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

std::string describe(const ScreenItem &item) {
    if (item.kind == SCREEN_ITEM_TEXT) {
        return "text \"" + utf8Of(item.text) + "\"";
    }
    return "image " + fs::path(item.imageFile != nullptr ? item.imageFile : "").filename().string();
}

// Whether a shown full-screen picture (a pop-up's veil) lies between two
// items: the later one is then a layer above the earlier.
bool veiled(const ScreenItem *lower, const ScreenItem *upper, const Box &whole) {
    for (const ScreenItem *v = lower + 1; v < upper; v++) {
        if (v->kind == SCREEN_ITEM_BITMAP && shows(*v) && inside(whole, boxOf(*v))) {
            return true;
        }
    }
    return false;
}

// The under-voltage band as drawn: across the screen from its top, as deep
// again below its text as above it.
Box bandOf(const ScreenItem &item, const Box &whole) {
    return Box{whole.left, whole.top, whole.right, 2 * item.y + item.height};
}

// The texts a shown under-voltage band covers. It stands in for the page's
// head (the day bar and the clock line), so a text it covers whole is the
// head's; a text it covers in part is hidden where it must not be.
void bandFaults(const ScreenItem *screen, const Box &whole, std::vector<std::string> *faults) {
    for (const ScreenItem *band = screen; band->kind != SCREEN_ITEM_END; band++) {
        if (band->textBoxed != SCREEN_TEXT_BOX_BAND || !shows(*band)) {
            continue;
        }
        Box covered = bandOf(*band, whole);
        for (const ScreenItem *t = screen; t->kind != SCREEN_ITEM_END; t++) {
            if (t->kind != SCREEN_ITEM_TEXT || t == band || !shows(*t)) {
                continue;
            }
            Box box = inkOf(*t);
            if (intersects(box, covered) && !inside(box, covered)) {
                faults->push_back(describe(*t) + " is covered by the under-voltage band");
            }
        }
    }
}

// The layout faults of the screen on display, one line each: an item drawn
// outside the screen, a text running out of the picture it is drawn on (a
// button, a row, a tile), a text partly under a later picture, two texts on
// each other, and a text partly under the under-voltage band. Full-screen
// pictures are backgrounds and the veils of pop-ups, which lie over the page
// as a layer of their own.
std::vector<std::string> layoutFaults() {
    std::vector<std::string> faults;
    const ScreenItem *screen = g_displayHdl->currentScreen;
    const Box whole{0, 0, g_displayHdl->screen->w, g_displayHdl->screen->h};
    bandFaults(screen, whole, &faults);
    for (const ScreenItem *a = screen; a->kind != SCREEN_ITEM_END; a++) {
        if (!shows(*a) || a->textBoxed != SCREEN_TEXT_BOX_NONE) {
            continue;
        }
        Box box = boxOf(*a);
        if (!inside(box, whole)) {
            faults.push_back(describe(*a) + " is drawn outside the screen");
        }
        if (a->kind != SCREEN_ITEM_TEXT) {
            continue;
        }
        // The picture right under the text, if any: the text must lie on it whole.
        const ScreenItem *under = nullptr;
        for (const ScreenItem *b = screen; b->kind != SCREEN_ITEM_END; b++) {
            if (b == a || !shows(*b) || b->textBoxed != SCREEN_TEXT_BOX_NONE) {
                continue;
            }
            Box other = boxOf(*b);
            if (!intersects(box, other)) {
                continue;
            }
            if (inside(whole, other) || veiled(std::min(a, b), std::max(a, b), whole)) {
                continue;
            }
            if (b->kind == SCREEN_ITEM_TEXT && b > a) {
                faults.push_back(describe(*a) + " overlaps " + describe(*b));
            } else if (b->kind == SCREEN_ITEM_BITMAP && b < a) {
                under = b;
            } else if (b->kind == SCREEN_ITEM_BITMAP) {
                faults.push_back(describe(*a) + " is covered by " + describe(*b));
            }
        }
        if (under != nullptr && !inside(box, boxOf(*under))) {
            faults.push_back(describe(*a) + " runs out of " + describe(*under));
        }
    }
    return faults;
}

// ---- Contact sheet --------------------------------------------------------------------------

constexpr int TILE_W = 240;
constexpr int TILE_H = 320;
constexpr int MARGIN = 16;
constexpr int CAPTION_H = 28;
constexpr int COLUMNS = 5;

bool writeContactSheet(const std::vector<SDL_Surface *> &frames, const std::string &path) {
    int rows = static_cast<int>((frames.size() + COLUMNS - 1) / COLUMNS);
    int width = MARGIN + COLUMNS * (TILE_W + MARGIN);
    int height = MARGIN + rows * (TILE_H + CAPTION_H + MARGIN);
    SDL_Surface *sheet =
        SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    if (sheet == nullptr) {
        return false;
    }
    SDL_FillRect(sheet, nullptr, SDL_MapRGB(sheet->format, 0x2A, 0x2E, 0x35));
    TTF_Font *font = TTF_OpenFont("./fonts/arialbd.ttf", 14);
    SDL_Color white = {0xEE, 0xEE, 0xEE, 0};
    for (size_t i = 0; i < frames.size(); i++) {
        int x = MARGIN + static_cast<int>(i % COLUMNS) * (TILE_W + MARGIN);
        int y = MARGIN + static_cast<int>(i / COLUMNS) * (TILE_H + CAPTION_H + MARGIN);
        SDL_Rect at = {static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
        SDL_BlitSurface(frames[i], nullptr, sheet, &at);
        SDL_Surface *caption =
            font != nullptr ? TTF_RenderText_Blended(font, c_Shots[i].caption, white) : nullptr;
        if (caption != nullptr) {
            SDL_Rect below = {static_cast<Sint16>(x + (TILE_W - caption->w) / 2),
                              static_cast<Sint16>(y + TILE_H + 6), 0, 0};
            SDL_BlitSurface(caption, nullptr, sheet, &below);
            SDL_FreeSurface(caption);
        }
    }
    if (font != nullptr) {
        TTF_CloseFont(font);
    }
    int written = platformSurfaceSnapshot(sheet, path.c_str());
    SDL_FreeSurface(sheet);
    return written == 0;
}

// Reaches a shot and writes it to outDir, keeping its frame for the contact
// sheet. False when it cannot be written.
bool takeShot(const Shot &shot, const std::string &outDir, std::vector<SDL_Surface *> *frames) {
    shot.reach();
    std::string path = outDir + "/" + shot.name + ".png";
    if (platformDisplaySnapshot(path.c_str()) != 0) {
        fprintf(stderr, "tstat-sim gallery: cannot write %s\n", path.c_str());
        return false;
    }
    frames->push_back(
        SDL_ConvertSurface(g_displayHdl->screen, g_displayHdl->screen->format, SDL_SWSURFACE));
    printf("%s\n", path.c_str());
    for (const std::string &fault : layoutFaults()) {
        printf("layout fault in %s: %s\n", shot.name, fault.c_str());
    }
    return true;
}

// The application's display manager started on the prepared board root with
// the sample data, and every shot and the contact sheet written to outDir.
// Returns the exit status.
int shootGallery(const std::string &outDir) {
    platformFakeClockSet(1000, 0, GALLERY_WALL_TIME);
    PersistUtil_Init();
    initThermostatSysCfg();
    RlyCntl_Init();
    sampleData();
    initialiseHvacAlgorithms();
    displayManagerInit(pageTable());
    m_KeyFifo = open(rootedPath(PLATFORM_KEY_DEVICE).c_str(), O_RDWR | O_NONBLOCK);
    passes(200); // start-up edges, a control run and its relay pulses
    std::vector<SDL_Surface *> frames;
    int status = g_displayHdl != nullptr && m_KeyFifo >= 0 ? 0 : 1;
    for (size_t i = 0; i < SHOT_COUNT && status == 0; i++) {
        status = takeShot(c_Shots[i], outDir, &frames) ? 0 : 1;
    }
    if (status == 0 && !writeContactSheet(frames, outDir + "/contact-sheet.png")) {
        fprintf(stderr, "tstat-sim gallery: cannot write the contact sheet\n");
        status = 1;
    }
    for (SDL_Surface *frame : frames) {
        SDL_FreeSurface(frame);
    }
    if (m_KeyFifo >= 0) {
        close(m_KeyFifo);
    }
    displayManagerStop();
    return status;
}

} // namespace

int runGallery(std::string outDir, std::string data) {
    std::error_code ec;
    fs::create_directories(outDir, ec);
    outDir = fs::absolute(outDir).string();
    data = fs::absolute(data).string();
    char rootTemplate[] = "/tmp/tstat-gallery-XXXXXX";
    if (mkdtemp(rootTemplate) == nullptr) {
        fprintf(stderr, "tstat-sim gallery: cannot make a board root: %s\n", strerror(errno));
        return 1;
    }
    std::string root = rootTemplate;
    setenv("TSTAT_ROOT", root.c_str(), 1);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("TZ", "UTC0", 1);
    tzset();
    platformReset();
    Say say = [](const std::string &line) { printf("%s\n", line.c_str()); };
    int status = 1;
    if (prepareBoard(BoardSetup{ownDirectory() + "/tstat-factory", {}}, say) &&
        chdir(data.c_str()) == 0) {
        status = shootGallery(outDir);
    } else {
        fprintf(stderr, "tstat-sim gallery: cannot prepare the board or enter %s\n", data.c_str());
    }
    fs::remove_all(root, ec);
    return status;
}

} // namespace sim
