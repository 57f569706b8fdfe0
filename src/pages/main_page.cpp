// Main page: screen tables, entry, text update functions, buttons, icons and
// the adjusting animation.
#include "pages/main_page.h"

#include "config/data_dict.h"
#include "config/persist.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "dispman/display_manager.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "menus/page_opening.h"
#include "menus/screen_parts.h"
#include "pages/forecast_pages.h"
#include "pages/hold_menu.h"
#include "pages/main_page_test_access.h"
#include "pages/menu_pages.h"
#include "pages/pages.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <initializer_list>

MenuItem g_MainPuModeMenu[MAIN_PU_MODE_ITEMS] = {};
MenuItem g_MainPuHvacMenu[MAIN_PU_HVAC_ITEMS] = {};
MenuItem g_MainPuFanMode[MAIN_PU_FAN_ITEMS] = {};

namespace {

// The items the page changes; the screen engine binds them to the screen shown.
ScreenItem *m_IndoorTempText = nullptr;
ScreenItem *m_PermanentHold = nullptr;
ScreenItem *m_HoldStatusBitmap = nullptr;
ScreenItem *m_HoldStatusText = nullptr;
ScreenItem *m_FilterChangeIcon = nullptr;
ScreenItem *m_WeatherAlertIcon = nullptr;
ScreenItem *m_MainPageSpBitmap = nullptr;
ScreenItem *m_CoolingIcon = nullptr;
ScreenItem *m_HeatingIcon = nullptr;
ScreenItem *m_DeHumidifyIcon = nullptr;
ScreenItem *m_HumidifyIcon = nullptr;
ScreenItem *m_FanIcon = nullptr;
ScreenItem *m_AuxIcon = nullptr;
ScreenItem *m_RelHumidity = nullptr;
ScreenItem *m_RelHumidityText = nullptr;
ScreenItem *m_MainPageComfortMode1 = nullptr;
ScreenItem *m_MainPageComfortMode2 = nullptr;
ScreenItem *m_ModeButtons[3] = {};
ScreenItem *m_MainPageFanState = nullptr;
ScreenItem *m_MainPageHvacState = nullptr;
ScreenItem *m_MainPageMode = nullptr;
ScreenItem *m_DiagModeBitmap = nullptr;
ScreenItem *m_HelpBarGraphicBitmap = nullptr;
ScreenItem *m_HelpBarTextBitmap = nullptr;

constexpr uint32_t INDOOR_COLOR = 0x000000;
constexpr uint32_t HOLD_TEXT_COLOR = 0x787878;
constexpr uint32_t TABLE_COOL_COLOR = 0x259AFE;
constexpr uint32_t TABLE_HEAT_COLOR = 0xFE0000;
constexpr uint32_t HUMIDITY_COLOR = 0x7300D5;
constexpr uint32_t INDOOR_FONT_SIZE = 80;
constexpr uint32_t INDOOR_FONT_SIZE_WIDE = 65;

#define B(x, y, slot, path) screenBitmap(x, y, slot, path)

} // namespace

ScreenItem testScreenMainWithFcast[MAIN_SCREEN_WITH_FCAST_ITEMS + 1] = {
    B(0, 0, nullptr, "./images/MainComposite/Main-Graphic-Bkgd-Wthr.png"),
    SCREEN_CLOCK_ITEMS(30),
    B(72, 24, &m_PermanentHold, "./images/Main/Main-Icon-PermanentHold.png"),
    SCREEN_DAY_BAR,
    screenText(40, 65, &m_IndoorTempText, drawMainScrIndoorTemp, FONT_BOLD, INDOOR_FONT_SIZE,
               INDOOR_COLOR),
    B(54, 49, &m_HoldStatusBitmap, "./images/Main/Main-Icon-HoldUntil.png"),
    screenText(138, 52, &m_HoldStatusText, drawHoldStatusText, FONT_REGULAR, 13, HOLD_TEXT_COLOR),
    B(191, 91, &m_FilterChangeIcon, "./images/Main/Main-Icon-Alert-FilterReminder.png"),
    B(191, 91, &m_WeatherAlertIcon, "./images/Main/Main-Icon-Alert-Weather.png"),
    B(4, 100, &m_MainPageSpBitmap, "./images/Main/Main-Text-SystemOff.png"),
    screenText(7, 85, &g_HoldModeMenu[HOLD_MENU_COOL].handle, drawMainScrCoolSP, FONT_BOLD, 18,
               TABLE_COOL_COLOR),
    screenText(7, 114, &g_HoldModeMenu[HOLD_MENU_HEAT].handle, drawMainScrHeatSP, FONT_BOLD, 18,
               TABLE_HEAT_COLOR),
    B(159, 173, &m_CoolingIcon, "./images/Main/Main-Icon-Cool.png"),
    B(191, 173, &m_HeatingIcon, "./images/Main/Main-Icon-Heat.png"),
    B(33, 173, &m_DeHumidifyIcon, "./images/Main/Main-Icon-Dehumidify.png"),
    B(64, 173, &m_HumidifyIcon, "./images/Main/Main-Icon-Humidify.png"),
    B(86, 173, &m_FanIcon, "./images/Main/Main-Icon-Fan.png"),
    B(117, 173, &m_AuxIcon, "./images/Main/Main-Icon-Auxilary.png"),
    B(65, 146, &m_RelHumidity, "./images/Main/Main-Text-Humidity.png"),
    screenText(122, 142, &m_RelHumidityText, drawMainScrRelHumidity, FONT_BOLD, 16, HUMIDITY_COLOR),
    B(33, 49, &m_MainPageComfortMode1, "./images/Main/Adjusting1.png"),
    B(38, 56, &m_MainPageComfortMode2, "./images/Main/Adjusting2.png"),
    screenText(80, 235, &m_CurrFcastTemp, drawCurrFCastTemp, FONT_REGULAR, 34, WHITE_TEXT_COLOR),
    B(5, 227, &m_MainScrFcastPtr[0],
      "./images/Weather/Current Conditions/Icon-Wthr-CurrentCond-UnknownCondition.png"),
    B(145, 240, &m_MainScrFcastPtr[1],
      "./images/Weather/Current Conditions/Info - CurrentCond - UnknownCondition.png"),
    B(85, 285, &m_MainScrFcastPtr[2], "./images/Label - CurrentCond - High.png"),
    screenText(120, 280, nullptr, drawCurrFCastHighTemp, FONT_REGULAR, 16, WHITE_TEXT_COLOR),
    B(160, 285, &m_MainScrFcastPtr[3], "./images/Label - CurrentCond - Low.png"),
    screenText(195, 280, nullptr, drawCurrFCastLowTemp, FONT_REGULAR, 16, WHITE_TEXT_COLOR),
    B(0, 201, &m_ModeButtons[0], "./images/Main/Main-B1-Graphic-OFF.png"),
    B(79, 201, &m_ModeButtons[1], "./images/Main/Main-B2-Graphic-OFF.png"),
    B(160, 201, &m_ModeButtons[2], "./images/Main/Main-B3-Graphic-OFF.png"),
    B(0, 201, &m_MainPageFanState, "./images/Main/Main-B1-Text-FanAuto-Offline.png"),
    B(79, 201, &m_MainPageHvacState, "./images/Main/Main-B2-Text-Off-Offline.png"),
    B(160, 201, &m_MainPageMode, "./images/Main/Main-B3-Text-Program-Offline.png"),
    B(0, 0, &m_DiagModeBitmap, "./images/DiagnosticModeComposite/Diagnostic-Graphic-Bkgd.png"),
    B(0, 0, &g_MainPuModeMenu[0].handle, "./images/Main/Main-B3-PU-Graphic-Bkgd.png"),
    B(160, 132, &g_MainPuModeMenu[1].handle, "./images/Main/Main-B3-PU-Button-Graphic-OFF.png"),
    B(160, 132, &g_MainPuModeMenu[2].handle, "./images/Main/Main-B3-PU-S1-Text-Permanent.png"),
    B(160, 155, &g_MainPuModeMenu[3].handle, "./images/Main/Main-B3-PU-Button-Graphic-OFF.png"),
    B(160, 155, &g_MainPuModeMenu[4].handle, "./images/Main/Main-B3-PU-S2-Text-Temporary.png"),
    B(160, 178, &g_MainPuModeMenu[5].handle, "./images/Main/Main-B3-PU-Button-Graphic-OFF.png"),
    B(160, 178, &g_MainPuModeMenu[6].handle, "./images/Main/Main-B3-PU-S3-Text-Program.png"),
    B(160, 201, &g_MainPuModeMenu[7].handle, "./images/Main/Main-B3-Graphic-ON.png"),
    B(160, 201, &g_MainPuModeMenu[8].handle, "./images/Main/Main-B3-PU-Text-HoldMode.png"),
    B(0, 0, &g_MainPuHvacMenu[0].handle, "./images/Main/Main-B2-PU-Graphic-Bkgd-Emergency.png"),
    B(79, 86, &g_MainPuHvacMenu[1].handle, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 86, &g_MainPuHvacMenu[2].handle, "./images/Main/Main-B2-PU-S1-Text-Emergency.png"),
    B(79, 109, &g_MainPuHvacMenu[3].handle, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 109, &g_MainPuHvacMenu[4].handle, "./images/Main/Main-B2-PU-S2-Text-Auto.png"),
    B(79, 132, &g_MainPuHvacMenu[5].handle, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 132, &g_MainPuHvacMenu[6].handle, "./images/Main/Main-B2-PU-S3-Text-Off.png"),
    B(79, 155, &g_MainPuHvacMenu[7].handle, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 155, &g_MainPuHvacMenu[8].handle, "./images/Main/Main-B2-PU-S4-Text-Heat.png"),
    B(79, 178, &g_MainPuHvacMenu[9].handle, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 178, &g_MainPuHvacMenu[10].handle, "./images/Main/Main-B2-PU-S5-Text-Cool.png"),
    B(79, 201, &g_MainPuHvacMenu[11].handle, "./images/Main/Main-B2-Graphic-ON.png"),
    B(79, 201, &g_MainPuHvacMenu[12].handle, "./images/Main/Main-B2-PU-Text-HCMode.png"),
    B(0, 0, &g_MainPuFanMode[0].handle, "./images/Main/Main-B1-PU-Graphic-Bkgd.png"),
    B(0, 155, &g_MainPuFanMode[1].handle, "./images/Main/Main-B1-PU-Button-Graphic-OFF.png"),
    B(0, 155, &g_MainPuFanMode[2].handle, "./images/Main/Main-B1-PU-S2-Text-FanAuto.png"),
    B(0, 178, &g_MainPuFanMode[3].handle, "./images/Main/Main-B1-PU-Button-Graphic-OFF.png"),
    B(0, 178, &g_MainPuFanMode[4].handle, "./images/Main/Main-B1-PU-S2-Text-FanOn.png"),
    B(0, 201, &g_MainPuFanMode[5].handle, "./images/Main/Main-B1-Graphic-ON.png"),
    B(0, 201, &g_MainPuFanMode[6].handle, "./images/Main/Main-B1-PU-Text-FanMode.png"),
    B(35, 300, &m_HelpBarGraphicBitmap, "./images/Main/Main-HelpBar-Graphic.png"),
    B(35, 300, &m_HelpBarTextBitmap, "./images/Main/Main-HelpBar-Text.png"),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

ScreenItem testScreenMainWoutFcast[MAIN_SCREEN_WOUT_FCAST_ITEMS + 1] = {
    B(0, 0, nullptr, "./images/MainComposite/Main-Graphic-Bkgd-No-Wthr.png"),
    SCREEN_CLOCK_ITEMS(30),
    B(72, 24, &m_PermanentHold, "./images/Main/Main-Icon-PermanentHold.png"),
    SCREEN_DAY_BAR,
    screenText(40, 108, &m_IndoorTempText, drawMainScrIndoorTemp, FONT_BOLD, INDOOR_FONT_SIZE,
               INDOOR_COLOR),
    B(54, 72, &m_HoldStatusBitmap, "./images/Main/Main-Icon-HoldUntil.png"),
    screenText(138, 75, &m_HoldStatusText, drawHoldStatusText, FONT_REGULAR, 13, HOLD_TEXT_COLOR),
    B(191, 134, &m_FilterChangeIcon, "./images/Main/Main-Icon-Alert-FilterReminder.png"),
    B(191, 134, &m_WeatherAlertIcon, "./images/Main/Main-Icon-Alert-Weather.png"),
    B(4, 143, &m_MainPageSpBitmap, "./images/Main/Main-Text-SystemOff.png"),
    screenText(7, 128, &g_HoldModeMenu[HOLD_MENU_COOL].handle, drawMainScrCoolSP, FONT_BOLD, 18,
               TABLE_COOL_COLOR),
    screenText(7, 157, &g_HoldModeMenu[HOLD_MENU_HEAT].handle, drawMainScrHeatSP, FONT_BOLD, 18,
               TABLE_HEAT_COLOR),
    B(159, 267, &m_CoolingIcon, "./images/Main/Main-Icon-Cool.png"),
    B(191, 267, &m_HeatingIcon, "./images/Main/Main-Icon-Heat.png"),
    B(33, 267, &m_DeHumidifyIcon, "./images/Main/Main-Icon-Dehumidify.png"),
    B(64, 267, &m_HumidifyIcon, "./images/Main/Main-Icon-Humidify.png"),
    B(86, 267, &m_FanIcon, "./images/Main/Main-Icon-Fan.png"),
    B(117, 267, &m_AuxIcon, "./images/Main/Main-Icon-Auxilary.png"),
    B(65, 189, &m_RelHumidity, "./images/Main/Main-Text-Humidity.png"),
    screenText(122, 185, &m_RelHumidityText, drawMainScrRelHumidity, FONT_BOLD, 16, HUMIDITY_COLOR),
    B(33, 72, &m_MainPageComfortMode1, "./images/Main/Adjusting1.png"),
    B(38, 79, &m_MainPageComfortMode2, "./images/Main/Adjusting2.png"),
    B(35, 224, &m_HelpBarGraphicBitmap, "./images/Main-FS/Main-FS-HelpBar-Graphic.png"),
    B(35, 224, &m_HelpBarTextBitmap, "./images/Main-FS/Main-FS-HelpBar-Text.png"),
    B(0, 295, &m_ModeButtons[0], "./images/Main/Main-B1-Graphic-OFF.png"),
    B(79, 295, &m_ModeButtons[1], "./images/Main/Main-B2-Graphic-OFF.png"),
    B(160, 295, &m_ModeButtons[2], "./images/Main/Main-B3-Graphic-OFF.png"),
    B(0, 295, &m_MainPageFanState, "./images/Main/Main-B1-Text-FanAuto-Offline.png"),
    B(79, 295, &m_MainPageHvacState, "./images/Main/Main-B2-Text-Off-Offline.png"),
    B(160, 295, &m_MainPageMode, "./images/Main/Main-B3-Text-Program-Offline.png"),
    B(0, 0, &m_DiagModeBitmap, "./images/DiagnosticModeComposite/Diagnostic-Graphic-Bkgd.png"),
    B(0, 0, &g_MainPuModeMenu[0].handle, "./images/Main-FS/Main-B3-PU-Graphic-Bkgd.png"),
    B(160, 226, &g_MainPuModeMenu[1].handle, "./images/Main/Main-B3-PU-Button-Graphic-OFF.png"),
    B(160, 226, &g_MainPuModeMenu[2].handle, "./images/Main/Main-B3-PU-S1-Text-Permanent.png"),
    B(160, 249, &g_MainPuModeMenu[3].handle, "./images/Main/Main-B3-PU-Button-Graphic-OFF.png"),
    B(160, 249, &g_MainPuModeMenu[4].handle, "./images/Main/Main-B3-PU-S2-Text-Temporary.png"),
    B(160, 272, &g_MainPuModeMenu[5].handle, "./images/Main/Main-B3-PU-Button-Graphic-OFF.png"),
    B(160, 272, &g_MainPuModeMenu[6].handle, "./images/Main/Main-B3-PU-S3-Text-Program.png"),
    B(160, 295, &g_MainPuModeMenu[7].handle, "./images/Main/Main-B3-Graphic-ON.png"),
    B(160, 295, &g_MainPuModeMenu[8].handle, "./images/Main/Main-B3-PU-Text-HoldMode.png"),
    B(0, 0, &g_MainPuHvacMenu[0].handle, "./images/Main-FS/Main-B2-PU-Graphic-Bkgd-Emergency.png"),
    B(79, 180, &g_MainPuHvacMenu[1].handle, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 180, &g_MainPuHvacMenu[2].handle, "./images/Main/Main-B2-PU-S1-Text-Emergency.png"),
    B(79, 203, &g_MainPuHvacMenu[3].handle, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 203, &g_MainPuHvacMenu[4].handle, "./images/Main/Main-B2-PU-S2-Text-Auto.png"),
    B(79, 226, &g_MainPuHvacMenu[5].handle, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 226, &g_MainPuHvacMenu[6].handle, "./images/Main/Main-B2-PU-S3-Text-Off.png"),
    B(79, 249, &g_MainPuHvacMenu[7].handle, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 249, &g_MainPuHvacMenu[8].handle, "./images/Main/Main-B2-PU-S4-Text-Heat.png"),
    B(79, 272, &g_MainPuHvacMenu[9].handle, "./images/Main/Main-B2-PU-Button-Graphic-OFF.png"),
    B(79, 272, &g_MainPuHvacMenu[10].handle, "./images/Main/Main-B2-PU-S5-Text-Cool.png"),
    B(79, 295, &g_MainPuHvacMenu[11].handle, "./images/Main/Main-B2-Graphic-ON.png"),
    B(79, 295, &g_MainPuHvacMenu[12].handle, "./images/Main/Main-B2-PU-Text-HCMode.png"),
    B(0, 0, &g_MainPuFanMode[0].handle, "./images/Main-FS/Main-B1-PU-Graphic-Bkgd.png"),
    B(0, 249, &g_MainPuFanMode[1].handle, "./images/Main/Main-B1-PU-Button-Graphic-OFF.png"),
    B(0, 249, &g_MainPuFanMode[2].handle, "./images/Main/Main-B1-PU-S2-Text-FanAuto.png"),
    B(0, 272, &g_MainPuFanMode[3].handle, "./images/Main/Main-B1-PU-Button-Graphic-OFF.png"),
    B(0, 272, &g_MainPuFanMode[4].handle, "./images/Main/Main-B1-PU-S2-Text-FanOn.png"),
    B(0, 295, &g_MainPuFanMode[5].handle, "./images/Main/Main-B1-Graphic-ON.png"),
    B(0, 295, &g_MainPuFanMode[6].handle, "./images/Main/Main-B1-PU-Text-FanMode.png"),
    SCREEN_UNDERVOLTAGE_TEXT,
    screenEnd(),
};

namespace {

#undef B

const ScreenTableBackup c_MainWithFcastBackup(testScreenMainWithFcast);
const ScreenTableBackup c_MainWoutFcastBackup(testScreenMainWoutFcast);

// Button text images, indexed by the status: 0 offline, 1 online, 2 locked.
constexpr uint8_t STATUS_LOCKED = 2;
const char *const c_FanAutoModeMainPage[3] = {"./images/Main/Main-B1-Text-FanAuto-Offline.png",
                                              "./images/Main/Main-B1-Text-FanAuto-Online.png",
                                              "./images/Main/Main-B1-Text-FanAuto-Locked.png"};
const char *const c_FanOnModeMainPage[3] = {"./images/Main/Main-B1-Text-FanOn-Offline.png",
                                            "./images/Main/Main-B1-Text-FanOn-Online.png",
                                            "./images/Main/Main-B1-Text-FanOn-Locked.png"};
const char *const c_HeatModeMainPage[3] = {"./images/Main/Main-B2-Text-Heat-Offline.png",
                                           "./images/Main/Main-B2-Text-Heat-Online.png",
                                           "./images/Main/Main-B2-Text-Heat-Locked.png"};
const char *const c_CoolModeMainPage[3] = {"./images/Main/Main-B2-Text-Cool-Offline.png",
                                           "./images/Main/Main-B2-Text-Cool-Online.png",
                                           "./images/Main/Main-B2-Text-Cool-Locked.png"};
const char *const c_AutoModeMainPage[3] = {"./images/Main/Main-B2-Text-Auto-Offline.png",
                                           "./images/Main/Main-B2-Text-Auto-Online.png",
                                           "./images/Main/Main-B2-Text-Auto-Locked.png"};
const char *const c_OffModeMainPage[3] = {"./images/Main/Main-B2-Text-Off-Offline.png",
                                          "./images/Main/Main-B2-Text-Off-Online.png",
                                          "./images/Main/Main-B2-Text-Off-Locked.png"};
const char *const c_EmergHeatModeMainPage[3] = {"./images/Main/Main-B2-Text-Emergency-Offline.png",
                                                "./images/Main/Main-B2-Text-Emergency-Online.png",
                                                "./images/Main/Main-B2-Text-Emergency-Locked.png"};
const char *const c_ProgramModeMainPage[3] = {"./images/Main/Main-B3-Text-Program-Offline.png",
                                              "./images/Main/Main-B3-Text-Program-Online.png",
                                              "./images/Main/Main-B3-Text-Program-Locked.png"};
const char *const c_VacModeMainPage[3] = {"./images/Main/Main-B3-Text-Away-Offline.png",
                                          "./images/Main/Main-B3-Text-Away-Online.png",
                                          "./images/Main/Main-B3-Text-Away-Locked.png"};
const char *const c_HoldModeMainPage[3] = {"./images/Main/Main-B3-Text-Hold-Offline.png",
                                           "./images/Main/Main-B3-Text-Hold-Online.png",
                                           "./images/Main/Main-B3-Text-Hold-Locked.png"};

// Set-point graphics: automatic, cool, heat, system off.
enum SpGraphic : uint8_t { SP_GRAPHIC_AUTO, SP_GRAPHIC_COOL, SP_GRAPHIC_HEAT, SP_GRAPHIC_OFF };
const char *const c_SpGraphicMainPage[4] = {
    "./images/Main/Main-SP-Graphic-Auto.png", "./images/Main/Main-SP-Graphic-Cool.png",
    "./images/Main/Main-SP-Graphic-Heat.png", "./images/Main/Main-Text-SystemOff.png"};
// Hold status icons: away until, hold until.
enum HoldStatus : uint8_t { STATUS_AWAY, STATUS_HOLD_UNTIL };
const char *const c_HoldStatusMainPage[2] = {"./images/Main/Main-Icon-AwayUntil.png",
                                             "./images/Main/Main-Icon-HoldUntil.png"};

// Pop-up backgrounds of the HVAC menu: with the weather panel, without it.
const char *const c_HvacPuBkgdEmergency[2] = {
    "./images/Main/Main-B2-PU-Graphic-Bkgd-Emergency.png",
    "./images/Main-FS/Main-B2-PU-Graphic-Bkgd-Emergency.png"};
const char *const c_HvacPuBkgdNoEmergency[2] = {
    "./images/Main/Main-B2-PU-Graphic-Bkgd-NoEmergency.png",
    "./images/Main-FS/Main-B2-PU-Graphic-Bkgd-NoEmergency.png"};

// Places of the set-point graphic: x, then y with and without the weather panel.
constexpr int16_t SP_GRAPHIC_X = 0;
constexpr int16_t SP_GRAPHIC_Y[2] = {78, 121};
constexpr int16_t SYSTEM_OFF_X = 4;
constexpr int16_t SYSTEM_OFF_Y[2] = {100, 143};
// By HoldStatus: where the end comes from, how it is written, and the places
// (x) of the icon and the text.
struct HoldStatusRow {
    void (*settings)(TstatSetPoint_t *out);
    void (*format)(int64_t time, char *buffer, size_t size);
    int16_t iconX;
    int16_t textX;
};
const HoldStatusRow c_HoldStatusRows[2] = {
    {getVacationThermostatSettings, formatHoldDate, 39, 133},
    {getHoldThermostatSettings, formatHoldTime, 54, 138},
};

// A stored thermostat mode past the four known ones that the mode button
// shows as the program.
constexpr uint32_t STORED_MODE_SHOWN_AS_PROGRAM = 4;

// Pop-up positions.
constexpr uint8_t PU_MODE_PERMANENT = 1;
constexpr uint8_t PU_MODE_TEMPORARY = 3;
constexpr uint8_t PU_MODE_PROGRAM = 5;
constexpr uint8_t PU_HVAC_EMERGENCY = 1;
constexpr uint8_t PU_HVAC_AUTO = 3;
constexpr uint8_t PU_HVAC_OFF = 5;
constexpr uint8_t PU_HVAC_HEAT = 7;
constexpr uint8_t PU_HVAC_COOL = 9;
constexpr uint8_t PU_FAN_AUTO = 1;
constexpr uint8_t PU_FAN_ON = 3;

uint8_t m_MainWithFcast = 1;
uint8_t m_FiveDayFcastSelected = 0;
uint8_t m_TstatPageSelected = 0;

// Index 0 with the weather panel, 1 without.
int panelIndex() {
    return m_MainWithFcast != 0 ? 0 : 1;
}

bool modeLocked() {
    TstatLockoutCfg_t lockout{};
    getLockoutConfiguration(&lockout);
    return lockout.buttonLockout == LOCK_LOCKED && lockout.modeLock == LOCK_LOCKED;
}

// The control-bus LED status as an image index: anything but 0 is online.
uint8_t ledIndex() {
    return getLedStatus() != 0 ? 1 : 0;
}

void replace(ScreenItem *item, const char *path) {
    screenReplaceBitmap(g_displayHdl, item, path);
}

// "%c%u": a blank or "-", then the magnitude.
char signOf(int16_t whole, int32_t fraction) {
    return whole < 0 || (whole == 0 && fraction < 0) ? '-' : ' ';
}

unsigned magnitudeOf(int16_t whole) {
    return static_cast<unsigned>(whole < 0 ? -whole : whole);
}

// The indoor temperature to show, in whole display degrees. False without a reading.
bool indoorTemperature(int16_t *whole, int32_t *fraction) {
    fpr_t celsius = 0;
    uint8_t valid = getMovAvgIndTemp(&celsius);
    fpr_t shown = tempCelToFahConversion(celsius);
    fpr_t corrected = shown;
    if (fprSub(shown, getTstatTempOffset(), &corrected) != 0) {
        corrected = shown;
    }
    fprDecodeRes(corrected, whole, fraction, 0);
    initialiseTStatFormat();
    if (valid == 0) {
        return false;
    }
    if (*whole < getMinIndoorTemp() || *whole > getMaxIndoorTemp()) {
        fprDecodeRes(shown, whole, fraction, 0);
    }
    return true;
}

void drawSetPoint(char *buffer, bool heat) {
    TstatSetPoint_t sp{};
    MenuItem &record = g_HoldModeMenu[heat ? HOLD_MENU_HEAT : HOLD_MENU_COOL];
    screenUpdateTextColor(g_displayHdl, record.handle, heat ? g_HeatSPColor : g_CoolSPColor);
    HvacState mode = getHVACState();
    bool shown = heat ? mode == HVAC_STATE_HEAT || mode == HVAC_STATE_AUTO ||
                            mode == HVAC_STATE_EMERGENCY_HEAT
                      : mode == HVAC_STATE_COOL || mode == HVAC_STATE_AUTO;
    if (!shown || getCurrentThermostatSettings(&sp) != 0) {
        snprintf(buffer, SCREEN_TEXT_LEN, " ");
        return;
    }
    fpr_t value = tempCelToFahConversion(heat ? sp.heatSetPoint : sp.coolSetPoint);
    int16_t whole = 0;
    int32_t fraction = 0;
    fprDecodeRes(value, &whole, &fraction, g_ResDigits);
    snprintf(buffer, SCREEN_TEXT_LEN, "%c%2u", signOf(whole, fraction), magnitudeOf(whole));
}

void initialisePopUp(MenuItem *menu, uint8_t count, const char *on, const char *off,
                     const char *graphicOn) {
    menuClearRecords(menu, count);
    // Odd records up to the last pair are the buttons; the next is the ON graphic.
    uint8_t graphic = static_cast<uint8_t>(count - 2);
    for (uint8_t i = 1; i < graphic; i += 2) {
        menu[i].hasGlyphs = 1;
        menu[i].activeGlyph = on;
        menu[i].inactiveGlyph = off;
    }
    menu[graphic].hasGlyphs = 1;
    menu[graphic].activeGlyph = graphicOn;
    menu[graphic].inactiveGlyph = graphicOn;
}

// Moves a pop-up's highlight from the current record to another.
void moveHighlight(MenuItem *menu, uint8_t to) {
    MenuItem *from = getCurrentMenuPtr();
    if (from != nullptr && from->hasGlyphs != 0) {
        replace(from->handle, from->inactiveGlyph);
    }
    setCurrentMenuPtr(menu, to);
    replace(menu[to].handle, menu[to].activeGlyph);
}

void saveAndRestartControl() {
    saveThermostatSysCfg();
    initialiseHvacAlgorithms();
}

// The mode pop-up's choice, applied at once. Choosing a hold keeps the set
// points that were in force, so the hold starts from what the user saw.
void applyModeItem(uint8_t item) {
    ThermostatMode mode = item == PU_MODE_TEMPORARY   ? TSTAT_MODE_HOLD
                          : item == PU_MODE_PERMANENT ? TSTAT_MODE_PERMANENT_HOLD
                                                      : TSTAT_MODE_PROGRAM;
    TstatSetPoint_t inForce{};
    bool haveInForce = getCurrentThermostatSettings(&inForce) == 0;
    setThermostatMode(mode);
    if (mode != TSTAT_MODE_PROGRAM && haveInForce) {
        setHoldThermostatSettings(&inForce);
    }
    saveAndRestartControl();
}

void moveModeItem(uint8_t to) {
    moveHighlight(g_MainPuModeMenu, to);
    applyModeItem(to);
}

void applyHvacItem(uint8_t item) {
    HvacState state = item == PU_HVAC_EMERGENCY ? HVAC_STATE_EMERGENCY_HEAT
                      : item == PU_HVAC_AUTO    ? HVAC_STATE_AUTO
                      : item == PU_HVAC_HEAT    ? HVAC_STATE_HEAT
                      : item == PU_HVAC_COOL    ? HVAC_STATE_COOL
                                                : HVAC_STATE_OFF;
    setHVACState(state);
    saveAndRestartControl();
}

void moveHvacItem(uint8_t to) {
    moveHighlight(g_MainPuHvacMenu, to);
    applyHvacItem(to);
}

void toggleFanItem() {
    uint8_t to = getCurrentMenuIndex() == PU_FAN_AUTO ? PU_FAN_ON : PU_FAN_AUTO;
    moveHighlight(g_MainPuFanMode, to);
    setFanState(to == PU_FAN_ON ? FAN_STATE_ON : FAN_STATE_AUTO);
    saveAndRestartControl();
}

void openPopUp(MenuItem *menu, uint8_t count, uint8_t current, DispManFn up, DispManFn down,
               DispManFn mode) {
    setCurrentMenuPtr(menu, current);
    setCurrentPagePtr(menu, 1);
    g_MaxMenuIndex = count;
    g_MinMenuIndex = 1;
    displayManagerSetKeySlots(up, down, mode);
    setCurrentHighlightPtr(updateHighlightedGlyph);
}

// Writes when a hold or an absence ends and puts the status icon and text in place.
void showHoldStatus(HoldStatus status, char *buffer) {
    const HoldStatusRow &row = c_HoldStatusRows[status];
    TstatSetPoint_t settings{};
    row.settings(&settings);
    row.format(settings.endTime, buffer, SCREEN_TEXT_LEN);
    int16_t iconY = m_HoldStatusBitmap != nullptr ? m_HoldStatusBitmap->y : 0;
    int16_t textY = m_HoldStatusText != nullptr ? m_HoldStatusText->y : 0;
    screenReplaceAndMoveBitmap(g_displayHdl, m_HoldStatusBitmap, c_HoldStatusMainPage[status],
                               row.iconX, iconY);
    screenMoveText(g_displayHdl, m_HoldStatusText, row.textX, textY);
}

} // namespace

void initialiseMainPage() {
    screenUserHdlInit(getCurrentForecastState() == FEATURE_ENABLE ? testScreenMainWithFcast
                                                                  : testScreenMainWoutFcast);
    initialisePopUp(
        g_MainPuModeMenu, MAIN_PU_MODE_ITEMS, "./images/Main/Main-B3-PU-Button-Graphic-ON.png",
        "./images/Main/Main-B3-PU-Button-Graphic-OFF.png", "./images/Main/Main-B3-Graphic-ON.png");
    initialisePopUp(
        g_MainPuHvacMenu, MAIN_PU_HVAC_ITEMS, "./images/Main/Main-B2-PU-Button-Graphic-ON.png",
        "./images/Main/Main-B2-PU-Button-Graphic-OFF.png", "./images/Main/Main-B2-Graphic-ON.png");
    initialisePopUp(
        g_MainPuFanMode, MAIN_PU_FAN_ITEMS, "./images/Main/Main-B1-PU-Button-Graphic-ON.png",
        "./images/Main/Main-B1-PU-Button-Graphic-OFF.png", "./images/Main/Main-B1-Graphic-ON.png");
}

void displayMainPage() {
    m_MainWithFcast = getCurrentForecastState() == FEATURE_ENABLE ? 1 : 0;
    ScreenItem *screen = m_MainWithFcast != 0 ? testScreenMainWithFcast : testScreenMainWoutFcast;
    // The screen is selected before its overlays are set: the handles then
    // name the items of the table being shown, even when the forecast
    // setting changed since the handles were last bound.
    screenUserHdlInit(screen);
    menuOpenPage(PAGE_MAIN, {.screen = screen});
    menuShowItem(m_DiagModeBitmap, getDiagnosticModeSetting() == 1);
    bool help = getHelpModeState() == OFFON_ON;
    menuShowItem(m_HelpBarGraphicBitmap, help);
    menuShowItem(m_HelpBarTextBitmap, help);
    hidePuMenu(g_MainPuModeMenu, MAIN_PU_MODE_ITEMS);
    hidePuMenu(g_MainPuHvacMenu, MAIN_PU_HVAC_ITEMS);
    hidePuMenu(g_MainPuFanMode, MAIN_PU_FAN_ITEMS);
    for (ScreenItem *item :
         {m_FilterChangeIcon, m_WeatherAlertIcon, m_MainPageComfortMode1, m_MainPageComfortMode2}) {
        screenRemoveBitmap(g_displayHdl, item);
    }
    for (ScreenItem *item :
         {m_CoolingIcon, m_HeatingIcon, m_HumidifyIcon, m_DeHumidifyIcon, m_FanIcon, m_AuxIcon}) {
        menuShowItem(item, false);
    }
    displayManagerCheckAlertIcons();
    if (g_HoldPageSelected == 1) {
        resetHoldBlinkingTextPtr();
        saveThermostatSysCfg();
        g_HoldPageSelected = 0;
    }
    m_FiveDayFcastSelected = 0;
    if (m_TstatPageSelected == 1) {
        initialiseHvacAlgorithms();
        m_TstatPageSelected = 0;
    }
    displayManagerCancelHoldPageTimeout();
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

void mainPageModeShortPress() {
    nextPageAfterMainPage()();
}

void mainPageModeHeld() {
    if (modeLocked()) {
        displaySelectedMainPuModeMenuItemPage();
    } else {
        openMainPuModeMenu();
    }
    displayManagerSetTimeout(DISPMAN_POPUP_TIMEOUT_S, displayMainPage);
}

void displayMainToSettingsPage() {
    dispManSetMainPageTimeout();
    g_ModeButtonPtr = nextPageAfterMainPage();
}

void setTstatPageSelected(uint8_t on) {
    m_TstatPageSelected = on;
}

void setFiveDayFcastSelected(uint8_t on) {
    m_FiveDayFcastSelected = on;
}

uint8_t getFiveDayFcastSelected() {
    return m_FiveDayFcastSelected;
}

// ---- Buttons ---------------------------------------------------------------------------

void updateMainButtons(uint32_t hvacState) {
    uint8_t led = ledIndex();
    uint8_t status = modeLocked() ? STATUS_LOCKED : led;
    FanState fan = getFanState();
    if (fan == FAN_STATE_AUTO) {
        replace(m_MainPageFanState, c_FanAutoModeMainPage[led]);
    } else if (fan == FAN_STATE_ON) {
        replace(m_MainPageFanState, c_FanOnModeMainPage[led]);
    }
    switch (static_cast<uint32_t>(getThermostatMode())) {
    case TSTAT_MODE_PROGRAM:
    case STORED_MODE_SHOWN_AS_PROGRAM:
        replace(m_MainPageMode, c_ProgramModeMainPage[status]);
        break;
    case TSTAT_MODE_VACATION:
        replace(m_MainPageMode, c_VacModeMainPage[status]);
        break;
    case TSTAT_MODE_HOLD:
    case TSTAT_MODE_PERMANENT_HOLD:
        replace(m_MainPageMode, c_HoldModeMainPage[status]);
        break;
    default:
        break;
    }
    const char *const *texts = nullptr;
    const char *graphic = nullptr;
    switch (hvacState) {
    case HVAC_STATE_AUTO:
        texts = c_AutoModeMainPage;
        graphic = c_SpGraphicMainPage[SP_GRAPHIC_AUTO];
        break;
    case HVAC_STATE_HEAT:
        texts = c_HeatModeMainPage;
        graphic = c_SpGraphicMainPage[SP_GRAPHIC_HEAT];
        break;
    case HVAC_STATE_EMERGENCY_HEAT:
        texts = c_EmergHeatModeMainPage;
        graphic = c_SpGraphicMainPage[SP_GRAPHIC_HEAT];
        break;
    case HVAC_STATE_COOL:
        texts = c_CoolModeMainPage;
        graphic = c_SpGraphicMainPage[SP_GRAPHIC_COOL];
        break;
    case HVAC_STATE_OFF:
        texts = c_OffModeMainPage;
        graphic = c_SpGraphicMainPage[SP_GRAPHIC_OFF];
        break;
    default:
        return;
    }
    replace(m_MainPageHvacState, texts[status]);
    if (hvacState == HVAC_STATE_OFF) {
        screenReplaceAndMoveBitmap(g_displayHdl, m_MainPageSpBitmap, graphic, SYSTEM_OFF_X,
                                   SYSTEM_OFF_Y[panelIndex()]);
    } else {
        screenReplaceAndMoveBitmap(g_displayHdl, m_MainPageSpBitmap, graphic, SP_GRAPHIC_X,
                                   SP_GRAPHIC_Y[panelIndex()]);
    }
}

// ---- Text update functions ---------------------------------------------------------------

void drawMainScrIndoorTemp(char *buffer) {
    int16_t whole = 0;
    int32_t fraction = 0;
    if (!indoorTemperature(&whole, &fraction)) {
        snprintf(buffer, SCREEN_TEXT_LEN, " ");
        return;
    }
    snprintf(buffer, SCREEN_TEXT_LEN, "%c%u%c", signOf(whole, fraction), magnitudeOf(whole),
             c_DegreeSymbol);
    screenChangeFontSizeText(g_displayHdl, m_IndoorTempText,
                             whole <= 99 ? INDOOR_FONT_SIZE : INDOOR_FONT_SIZE_WIDE);
}

void drawMainScrIndoorTempScrSvr(char *buffer) {
    int16_t whole = 0;
    int32_t fraction = 0;
    if (!indoorTemperature(&whole, &fraction)) {
        snprintf(buffer, SCREEN_TEXT_LEN, " ");
        return;
    }
    snprintf(buffer, SCREEN_TEXT_LEN, "%u%c", magnitudeOf(whole), c_DegreeSymbol);
}

void drawMainScrHeatSP(char *buffer) {
    drawSetPoint(buffer, true);
}

void drawMainScrCoolSP(char *buffer) {
    drawSetPoint(buffer, false);
}

void drawMainScrRelHumidity(char *buffer) {
    fpr_t humidity = 0;
    uint8_t valid = getMovAvgHum(&humidity);
    bool shown = getHumiditySensorState() == SENSOR_ON && valid != 0;
    menuShowItem(m_RelHumidity, shown);
    menuShowItem(m_RelHumidityText, shown);
    if (!shown) {
        return;
    }
    int16_t whole = 0;
    int32_t fraction = 0;
    fprDecodeRes(humidity, &whole, &fraction, 0);
    if (whole >= 0 && whole <= 100) {
        snprintf(buffer, SCREEN_TEXT_LEN, "%3u%c", static_cast<unsigned>(whole), '%');
    }
}

void formatHoldDate(int64_t time, char *buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    buffer[0] = '\0';
    auto seconds = static_cast<time_t>(time);
    struct tm local {};
    if (localtime_r(&seconds, &local) != nullptr) {
        strftime(buffer, size, "%B %d", &local);
    }
}

void formatHoldTime(int64_t time, char *buffer, size_t size) {
    if (buffer == nullptr || size == 0) {
        return;
    }
    buffer[0] = '\0';
    auto seconds = static_cast<time_t>(time);
    struct tm local {};
    if (localtime_r(&seconds, &local) == nullptr) {
        return;
    }
    // Always the 12-hour form: the hour is kept up to 12 (00:30 AM, 12:15 PM).
    int hour = local.tm_hour < 13 ? local.tm_hour : local.tm_hour - 12;
    snprintf(buffer, size, "%02d:%02d %s", hour, local.tm_min, local.tm_hour < 12 ? "AM" : "PM");
}

void drawHoldStatusText(char *buffer) {
    uint32_t hvacState = getHVACState();
    updateMainButtons(hvacState);
    bool systemOn = hvacState != HVAC_STATE_OFF;
    bool permanent = false;
    bool shown = false;
    switch (getThermostatMode()) {
    case TSTAT_MODE_HOLD:
        showHoldStatus(STATUS_HOLD_UNTIL, buffer);
        shown = systemOn;
        break;
    case TSTAT_MODE_VACATION:
        showHoldStatus(STATUS_AWAY, buffer);
        shown = systemOn;
        break;
    case TSTAT_MODE_PERMANENT_HOLD:
        permanent = systemOn;
        break;
    default:
        break;
    }
    menuShowItem(m_PermanentHold, permanent);
    menuShowItem(m_HoldStatusBitmap, shown);
    menuShowItem(m_HoldStatusText, shown);
}

// ---- Pop-up menus ------------------------------------------------------------------------

void openMainPuModeMenu() {
    // The help bar lies above the pop-ups in the table; its hint is done with.
    menuShowItem(m_HelpBarGraphicBitmap, false);
    menuShowItem(m_HelpBarTextBitmap, false);
    showPuMenu(g_MainPuModeMenu, MAIN_PU_MODE_ITEMS);
    ThermostatMode mode = getThermostatMode();
    uint8_t current = mode == TSTAT_MODE_HOLD             ? PU_MODE_TEMPORARY
                      : mode == TSTAT_MODE_PERMANENT_HOLD ? PU_MODE_PERMANENT
                                                          : PU_MODE_PROGRAM;
    openPopUp(g_MainPuModeMenu, MAIN_PU_MODE_ITEMS, current, decMainPuModeMenuPtr,
              incMainPuModeMenuPtr, displaySelectedMainPuModeMenuItemPage);
}

void incMainPuModeMenuPtr() {
    uint8_t at = getCurrentMenuIndex();
    moveModeItem(at == PU_MODE_TEMPORARY ? PU_MODE_PROGRAM
                 : at == PU_MODE_PROGRAM ? PU_MODE_PERMANENT
                                         : PU_MODE_TEMPORARY);
}

void decMainPuModeMenuPtr() {
    uint8_t at = getCurrentMenuIndex();
    moveModeItem(at == PU_MODE_TEMPORARY   ? PU_MODE_PERMANENT
                 : at == PU_MODE_PERMANENT ? PU_MODE_PROGRAM
                                           : PU_MODE_TEMPORARY);
}

void displaySelectedMainPuModeMenuItemPage() {
    menuShowItem(m_HelpBarGraphicBitmap, false);
    menuShowItem(m_HelpBarTextBitmap, false);
    hidePuMenu(g_MainPuModeMenu, MAIN_PU_MODE_ITEMS);
    if (modeLocked()) {
        displaySelectedMainPuHvacMenuItemPage();
        return;
    }
    showPuMenu(g_MainPuHvacMenu, MAIN_PU_HVAC_ITEMS);
    bool heatPump = configuredHeatPump();
    replace(g_MainPuHvacMenu[0].handle,
            heatPump ? c_HvacPuBkgdEmergency[panelIndex()] : c_HvacPuBkgdNoEmergency[panelIndex()]);
    menuShowItem(g_MainPuHvacMenu[PU_HVAC_EMERGENCY].handle, heatPump);
    menuShowItem(g_MainPuHvacMenu[PU_HVAC_EMERGENCY + 1].handle, heatPump);
    uint8_t current = 0;
    switch (getHVACState()) {
    case HVAC_STATE_HEAT:
        current = PU_HVAC_HEAT;
        break;
    case HVAC_STATE_COOL:
        current = PU_HVAC_COOL;
        break;
    case HVAC_STATE_AUTO:
        current = PU_HVAC_AUTO;
        break;
    case HVAC_STATE_EMERGENCY_HEAT:
        current = PU_HVAC_EMERGENCY;
        break;
    default:
        current = PU_HVAC_OFF;
        break;
    }
    openPopUp(g_MainPuHvacMenu, MAIN_PU_HVAC_ITEMS, current, decMainPuHvacMenuPtr,
              incMainPuHvacMenuPtr, displaySelectedMainPuHvacMenuItemPage);
}

void incMainPuHvacMenuPtr() {
    uint8_t at = getCurrentMenuIndex();
    uint8_t to = at + 2;
    if (at >= PU_HVAC_COOL) {
        to = configuredHeatPump() ? PU_HVAC_EMERGENCY : PU_HVAC_AUTO;
    }
    moveHvacItem(to);
}

void decMainPuHvacMenuPtr() {
    uint8_t at = getCurrentMenuIndex();
    uint8_t to = at - 2;
    if (at <= PU_HVAC_EMERGENCY) {
        to = PU_HVAC_COOL;
    } else if (at == PU_HVAC_AUTO) {
        to = configuredHeatPump() ? PU_HVAC_EMERGENCY : PU_HVAC_COOL;
    }
    moveHvacItem(to);
}

void displaySelectedMainPuHvacMenuItemPage() {
    uint8_t current = getFanState() == FAN_STATE_ON ? PU_FAN_ON : PU_FAN_AUTO;
    hidePuMenu(g_MainPuHvacMenu, MAIN_PU_HVAC_ITEMS);
    showPuMenu(g_MainPuFanMode, MAIN_PU_FAN_ITEMS);
    openPopUp(g_MainPuFanMode, MAIN_PU_FAN_ITEMS, current, decMainPuFanModeMenuPtr,
              incMainPuFanModeMenuPtr, displaySelectedMainPuFanModeMenuItemPage);
}

void incMainPuFanModeMenuPtr() {
    toggleFanItem();
}

void decMainPuFanModeMenuPtr() {
    toggleFanItem();
}

void displaySelectedMainPuFanModeMenuItemPage() {
    hidePuMenu(g_MainPuFanMode, MAIN_PU_FAN_ITEMS);
    displayMainPage();
}

// ---- Icons and animation ----------------------------------------------------------------------

namespace {

uint8_t isImage1disp = 0;

void showIf(ScreenItem *icon, bool shown) {
    screenSetBitmapVisibility(g_displayHdl, icon, shown ? 1 : 0);
}

void addIf(ScreenItem *icon, bool shown) {
    if (shown) {
        screenAddBitmap(g_displayHdl, icon);
    } else {
        screenRemoveBitmap(g_displayHdl, icon);
    }
}

} // namespace

void mainPageRefreshAlertIcons() {
    addIf(m_FilterChangeIcon,
          getFilterChangeState() == FEATURE_ENABLE && getTstatFilterChangeDays() == 0);
    addIf(m_WeatherAlertIcon,
          getWeatherAlertState() == 0 && getWeatherAlertFeature() == FEATURE_ENABLE);
}

void mainPageShowActivityIcons() {
    uint32_t systemMode = hvacAlgorithmGetCurrentSytemMode();
    showIf(m_CoolingIcon, systemMode == HVAC_STATE_COOL);
    showIf(m_HeatingIcon, systemMode == HVAC_STATE_HEAT || systemMode == HVAC_STATE_EMERGENCY_HEAT);
    showIf(m_FanIcon, RlyCntl_GetFanSpeed() != FAN_SPEED_OFF);
    showIf(m_DeHumidifyIcon, RlyCntl_GetDeh() == 1);
    showIf(m_HumidifyIcon, RlyCntl_GetHum() == 1);
    showIf(m_AuxIcon, configuredHeatPump() && (RlyCntl_GetW1E() == 1 || RlyCntl_GetW2() == 1));
}

bool mainPageAdjusting() {
    return getRecoveryMode() != 0 && getThermostatMode() == TSTAT_MODE_PROGRAM;
}

void mainPageAnimate() {
    if (isImage1disp != 0) {
        screenRemoveBitmap(g_displayHdl, m_MainPageComfortMode1);
        screenAddBitmap(g_displayHdl, m_MainPageComfortMode2);
        isImage1disp = 0;
    } else {
        screenRemoveBitmap(g_displayHdl, m_MainPageComfortMode2);
        screenAddBitmap(g_displayHdl, m_MainPageComfortMode1);
        isImage1disp = 1;
    }
}

void mainPageStopAnimation() {
    screenRemoveBitmap(g_displayHdl, m_MainPageComfortMode1);
    screenRemoveBitmap(g_displayHdl, m_MainPageComfortMode2);
}

void mainPageHideHelpBar() {
    screenSetBitmapVisibility(g_displayHdl, m_HelpBarGraphicBitmap, 0);
    screenSetBitmapVisibility(g_displayHdl, m_HelpBarTextBitmap, 0);
}

const MainPageItems &mainPageItems() {
    static const MainPageItems items{
        m_IndoorTempText,       m_PermanentHold,        m_HoldStatusBitmap, m_HoldStatusText,
        m_MainPageSpBitmap,     m_RelHumidity,          m_RelHumidityText,  m_FilterChangeIcon,
        m_WeatherAlertIcon,     m_CoolingIcon,          m_HeatingIcon,      m_AuxIcon,
        m_MainPageComfortMode1, m_MainPageComfortMode2, m_MainPageFanState, m_MainPageHvacState,
        m_MainPageMode};
    return items;
}

void mainPageReset() {
    c_MainWithFcastBackup.restore();
    c_MainWoutFcastBackup.restore();
    m_MainWithFcast = 1;
    m_FiveDayFcastSelected = 0;
    m_TstatPageSelected = 0;
    isImage1disp = 0;
}
