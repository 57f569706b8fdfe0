// Control-bus commands of the panel, messages and status: the backlight
// ("SLEEP", "WAKE", "BK"), the message page ("MESSAGE"), the settings reports
// ("ST"), the external sensor ("?EXTERNAL_TEMP") and the version ("VER").
#include "config/data_dict.h"
#include "config/schedule.h"
#include "coproc/coproc_msg.h"
#include "dispman/display_manager.h"
#include "graphics/screen.h"
#include "hvac/sensors.h"
#include "korabus/korabus_command_support.h"
#include "korabus/korabus_data.h"
#include "korabus/korabus_internal.h"
#include "pages/pages.h"
#include "platform/platform.h"

#include <cstring>

namespace {

// Set once the screen saver's text has been taken off a dark panel.
uint8_t m_isScrSvrClear;

// The panel takes the new levels at once: the inactive one while the display
// sleeps (a dark panel loses the screen saver's text), else the active one.
void showBacklightLevels(const TstatBkLightCtl_t &backlight) {
    if (getBacklightTimerFlag() == 0) {
        if (backlight.inactiveBrightness == BACKLIGHT_INACTIVE_DIM) {
            screenSetBacklightLevel(&g_display, DISPMAN_LEVEL_DIM);
            m_isScrSvrClear = 0;
        } else {
            screenSetBacklightLevel(&g_display, DISPMAN_LEVEL_OFF);
            if (displayManagerScreenSaverShown() != 0 && m_isScrSvrClear == 0) {
                displayManagerRemoveScreenSaverText();
                m_isScrSvrClear = 1;
            }
        }
        return;
    }
    displayManagerEnableBacklight();
    // A stored level outside the three known ones lights the panel fully.
    size_t index = backlight.activeBrightness < c_BacklightActiveLevels.size()
                       ? static_cast<size_t>(backlight.activeBrightness)
                       : c_BacklightActiveLevels.size() - 1;
    screenSetBacklightLevel(&g_display, c_BacklightActiveLevels[index]);
}

} // namespace

void korabusCommandSleep(char *) {
    TstatBkLightCtl_t backlight;
    getThermostatBacklightSettings(&backlight);
    screenSetBacklightLevel(&g_display, backlight.inactiveBrightness != BACKLIGHT_INACTIVE_DIM
                                            ? DISPMAN_LEVEL_OFF
                                            : DISPMAN_LEVEL_DIM);
    clearBacklightTimerFlag();
}

void korabusCommandWake(char *) {
    displayManagerEnableBacklight();
    displayMainPage();
}

void korabusCommandBacklight(char *args) {
    static constexpr std::array<const char *, 3> c_Descriptors = {"T", "A", "I"};
    enum { TIMEOUT, ACTIVE, INACTIVE, FIELDS };
    char *tokens[FIELDS];
    size_t n = korabusSplitTokens(args, tokens, FIELDS);
    TstatBkLightCtl_t backlight;
    getThermostatBacklightSettings(&backlight);
    for (size_t i = 0; i < n; i++) {
        char *value = nullptr;
        switch (korabusMatchDescriptor(tokens[i], c_Descriptors, &value)) {
        case TIMEOUT: {
            int32_t seconds = 0;
            if (!korabusNumber(value, &seconds) || !korabusInRange(seconds, 0, UINT16_MAX)) {
                return;
            }
            backlight.backlightTimeout = static_cast<uint16_t>(seconds);
            break;
        }
        case ACTIVE:
            if (value[0] == 'L') {
                backlight.activeBrightness = BACKLIGHT_ACTIVE_LOW;
            } else if (value[0] == 'M') {
                backlight.activeBrightness = BACKLIGHT_ACTIVE_MED;
            } else if (value[0] == 'H') {
                backlight.activeBrightness = BACKLIGHT_ACTIVE_HIGH;
            }
            break;
        case INACTIVE:
            if (value[0] == 'D') {
                backlight.inactiveBrightness = BACKLIGHT_INACTIVE_DIM;
            } else if (value[0] == 'O') {
                backlight.inactiveBrightness = BACKLIGHT_INACTIVE_OFF;
            }
            break;
        default:
            return;
        }
    }
    setThermostatBacklightSettings(&backlight);
    korabusSave();
    korabusRequestPageRefresh(PAGE_USER_PREF);
    showBacklightLevels(backlight);
}

void korabusCommandMessageScreen(char *args) {
    char *rest = nullptr;
    char *word = korabusDataTokenizeCommand(args, &rest);
    if (word == nullptr) {
        return;
    }
    if (strcmp(word, "CLEAR") == 0) {
        displayManagerEnableBacklight();
        displayMainPage();
        return;
    }
    // The text is everything after the blank that follows "DISP".
    if (strcmp(word, "DISP") != 0 || rest == nullptr || *rest == '\0') {
        return;
    }
    char *text = rest;
    if (*text == '"') {
        text++;
        char *quote = strchr(text, '"');
        if (quote != nullptr) {
            *quote = '\0';
        }
    }
    displayManagerEnableBacklight();
    displayMessageScreenPage(text);
}

void korabusCommandSettings(char *) {
    TstatSetPoint_t inForce;
    if (getCurrentThermostatSettings(&inForce) != 0) {
        return;
    }
    korabusReply("SP H%d D%d", korabusIntegerPart(inForce.humidifySetPoint),
                 korabusIntegerPart(inForce.dehumidifySetPoint));
    platformSleepMs(KORABUS_SEND_PAUSE_MS);
    korabusReportModeCommand();
    platformSleepMs(KORABUS_SEND_PAUSE_MS);
    korabusReportFormatCommand();
}

void korabusCommandGetExternalTemperature(char *) {
    TstatCfg_t cfg;
    getTstatConfiguration(&cfg);
    if (cfg.externalTempSensor == EXT_TEMP_SENSOR_OUTDOOR ||
        cfg.externalTempSensor == EXT_TEMP_SENSOR_INDOOR) {
        korabusReply("EXTERNAL_TEMP-%d", fprCelsiusToZephKorabusTemp(Sensors_GetExternalTemp(0)));
    } else {
        korabusReply("EXTERNAL_TEMP-OFF");
    }
}

void korabusCommandVersion(char *) {
    korabusCommandGetVersion();
}

void korabusMessageScreenClearCommand() {
    korabusReply("MESSAGE CLEAR");
}

void korabusCommandGetVersion() {
    coprocMsgSendVersion(getKorabusVersion());
}

void korabusStatusCommandsReset() {
    m_isScrSvrClear = 0;
}
