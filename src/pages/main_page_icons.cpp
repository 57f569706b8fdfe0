// The main page's alert and activity icons and its adjusting animation; the
// display manager's poll says when, while the main or hold page shows.
#include "config/data_dict.h"
#include "config/schedule.h"
#include "dispman/display_manager.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "pages/main_page.h"

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

void mainPageIconsReset() {
    isImage1disp = 0;
}
