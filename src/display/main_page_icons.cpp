// The main page's alert and activity icons and its adjusting animation,
// kept up by the display manager's poll while the main or hold page shows.
#include "config/data_dict.h"
#include "config/schedule.h"
#include "display/display_manager.h"
#include "display/main_page.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"

namespace {

constexpr uint32_t ALERT_ICON_REFRESH_MS = 1000;
constexpr uint32_t ANIMATION_PHASE_MS = 500;

UtilTimer m_FiltChTimer{};
uint8_t m_bIsFilterChTimerOn = 0;
UtilTimer m_ComfortModeTimer{};
uint8_t m_bIsComfortModeTimerOn = 0;
uint8_t isImage1disp = 0;

bool adjusting() {
    return getRecoveryMode() != 0 && getThermostatMode() == TSTAT_MODE_PROGRAM;
}

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

void displayManagerEnableAlertIcons() {
    if (m_bIsFilterChTimerOn == 0) {
        util_set_expiration(&m_FiltChTimer, ALERT_ICON_REFRESH_MS);
        m_bIsFilterChTimerOn = 1;
    }
}

void displayManagerCheckAlertIcons() {
    if (m_bIsFilterChTimerOn != 0 && util_check_expiration(&m_FiltChTimer) != 0) {
        m_bIsFilterChTimerOn = 0;
        addIf(m_FilterChangeIcon,
              getFilterChangeState() == FEATURE_ENABLE && getTstatFilterChangeDays() == 0);
        addIf(m_WeatherAlertIcon,
              getWeatherAlertState() == 0 && getWeatherAlertFeature() == FEATURE_ENABLE);
    }
    uint32_t systemMode = hvacAlgorithmGetCurrentSytemMode();
    showIf(m_CoolingIcon, systemMode == HVAC_STATE_COOL);
    showIf(m_HeatingIcon, systemMode == HVAC_STATE_HEAT || systemMode == HVAC_STATE_EMERGENCY_HEAT);
    showIf(m_FanIcon, RlyCntl_GetFanSpeed() != FAN_SPEED_OFF);
    showIf(m_DeHumidifyIcon, RlyCntl_GetDeh() == 1);
    showIf(m_HumidifyIcon, RlyCntl_GetHum() == 1);
    TstatCfg_t cfg{};
    getTstatConfiguration(&cfg);
    bool heatPump = cfg.systemType == SYSTEM_TYPE_ONE_STG_HEAT_PUMP ||
                    cfg.systemType == SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
    showIf(m_AuxIcon, heatPump && (RlyCntl_GetW1E() == 1 || RlyCntl_GetW2() == 1));
}

void dispManSetComfortModeTimeout() {
    if (!adjusting()) {
        screenRemoveBitmap(g_displayHdl, m_MainPageComfortMode1);
        screenRemoveBitmap(g_displayHdl, m_MainPageComfortMode2);
        return;
    }
    if (m_bIsComfortModeTimerOn == 0) {
        util_set_expiration(&m_ComfortModeTimer, ANIMATION_PHASE_MS);
        m_bIsComfortModeTimerOn = 1;
    }
}

void dispManCheckComfortModeTimeout() {
    if (m_bIsComfortModeTimerOn == 0 || util_check_expiration(&m_ComfortModeTimer) == 0) {
        return;
    }
    if (adjusting()) {
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
    m_bIsComfortModeTimerOn = 0;
}

void mainPageIconsReset() {
    m_FiltChTimer = UtilTimer{};
    m_bIsFilterChTimerOn = 0;
    m_ComfortModeTimer = UtilTimer{};
    m_bIsComfortModeTimerOn = 0;
    isImage1disp = 0;
}
