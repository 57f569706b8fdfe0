// The factory-default configuration image: the defaults a new thermostat
// starts from, written to the read-only factory region at provisioning.
#pragma once

#include "config/persist.h"

#include <cstdint>

struct FactoryOptions {
    SystemType systemType = SYSTEM_TYPE_ONE_STG_FURNACE;
    TempScale tempScale = TEMP_SCALE_FAHRENHEIT;
    uint16_t securityCode = 1234;
    HvacState hvacState = HVAC_STATE_HEAT;
    HumidifyState humidifyState = HUMIDIFY_STATE_OFF;
    ExternalTempSensor externalTempSensor = EXT_TEMP_SENSOR_OFF;
    // Moment the image is made: the filter reminder runs from it and its year
    // is the one remembered for a clock that loses its year.
    int64_t madeAt = 0;
    // Control settings an installer changes (whole degrees of the scale for
    // the balance point; C for the differentials, in millidegrees).
    uint32_t cycleRate = 4;
    bool balancePointGiven = false;
    int16_t balancePoint = 0;
    int32_t firstStageDiffMilli = 500;
    int32_t secondStageDiffMilli = 500;
    bool comfortRecovery = true;
    // Starts in a permanent hold at the comfort set points instead of the
    // program: one set point day and night.
    bool hold = false;
};

// Fills record with the factory defaults (factory identity, every byte set).
void buildFactoryImage(const FactoryOptions &options, TstatSysCfgPersistMem_t *record);

// Days after which the filter-change reminder falls due.
constexpr uint16_t FACTORY_FILTER_CHANGE_DAYS = 90;
