// The decisions that the control frame and the stage algorithms share:
// switching everything off, the humidifier, the dehumidifier and the fan.
// The frame runs dehumidify, humidify and fan after the stage algorithm, so
// they have the last word on HUM, DEH and the fan relays in every run.
#include "hvac/hvac_internal.h"
#include "hvac/relay_control.h"

namespace {

bool humidityControlOff() {
    return hvacCfgTstat().humiditySensor == SENSOR_OFF;
}

} // namespace

void systemOffAlg(fpr_t, fpr_t, fpr_t, const TstatSetPoint_t *) {
    RlyCntl_SetY1(0);
    RlyCntl_SetY2(0);
    RlyCntl_SetW1E(0);
    RlyCntl_SetW2(0);
    RlyCntl_SetDeh(0);
    RlyCntl_SetHum(0);
    hvacSetAcceleratedHeatRecovery();
    systemFanControlAlg(0, HVAC_STATE_OFF);
}

// The humidifier comes on at SP + offset - hysteresis or below and goes off at
// SP + offset; in between it keeps its state.
void systemHumidifyAlg(fpr_t humidity, fpr_t setPoint) {
    HumidifyState state = hvacCfgHumidifyState();
    if (state == HUMIDIFY_STATE_OFF || state == HUMIDIFY_STATE_DEHUMIDIFY || humidityControlOff()) {
        RlyCntl_SetHum(0);
    } else {
        const TstatHvacSettings_t &settings = hvacCfgSettings();
        fpr_t offAt = hvacAdd(setPoint, settings.humidityBandOffset);
        if (humidity <= hvacSub(offAt, settings.humidityHysteresis)) {
            RlyCntl_SetHum(1);
        } else if (humidity >= offAt) {
            RlyCntl_SetHum(0);
        }
    }
    if (RlyCntl_GetHum() != 0) {
        RlyCntl_SetDeh(0);
    }
}

// The dehumidifier comes on at SP - offset + hysteresis or above and goes off
// at SP - offset; in between it keeps its state.
void systemDehumidifyAlg(fpr_t humidity, fpr_t setPoint) {
    HumidifyState state = hvacCfgHumidifyState();
    if (state == HUMIDIFY_STATE_OFF || state == HUMIDIFY_STATE_HUMIDIFY || humidityControlOff()) {
        RlyCntl_SetDeh(0);
    } else {
        const TstatHvacSettings_t &settings = hvacCfgSettings();
        fpr_t offAt = hvacSub(setPoint, settings.humidityBandOffset);
        if (humidity >= hvacAdd(offAt, settings.humidityHysteresis)) {
            RlyCntl_SetDeh(1);
        } else if (humidity <= offAt) {
            RlyCntl_SetDeh(0);
        }
    }
    if (RlyCntl_GetDeh() != 0) {
        RlyCntl_SetHum(0);
    }
}

void systemFanControlAlg(uint8_t heatPump, uint32_t systemMode) {
    const TstatHvacSettings_t &settings = hvacCfgSettings();
    bool heating = RlyCntl_GetW1E() != 0 || RlyCntl_GetW2() != 0;
    bool anyEquipment = heating || RlyCntl_GetY1() != 0 || RlyCntl_GetY2() != 0 ||
                        RlyCntl_GetHum() != 0 || RlyCntl_GetDeh() != 0;
    if (settings.fanState == FAN_STATE_ON) {
        RlyCntl_SetFanSpeed(settings.fanSpeed);
        return;
    }
    bool furnaceHeat = (heatPump == 1 && systemMode == HVAC_STATE_EMERGENCY_HEAT) ||
                       (heatPump == 0 && systemMode == HVAC_STATE_HEAT);
    // A gas furnace runs its own blower.
    if (furnaceHeat && settings.fossilFuelType == FOSSIL_FUEL_GAS && heating) {
        RlyCntl_SetFanSpeed(FAN_SPEED_OFF);
    } else if (!anyEquipment) {
        RlyCntl_SetFanSpeed(FAN_SPEED_OFF);
    } else {
        RlyCntl_SetFanSpeed(settings.fanSpeed);
    }
}
