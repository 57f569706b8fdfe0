// HVAC control frame: once per algorithm period it picks the system mode,
// runs the stage algorithm of the installed equipment, switches between
// heating and cooling by itself in automatic mode, limits how often the
// equipment starts (the cycle rate), makes cooling wait after the humidifier
// was switched off, and then runs the dehumidify, humidify and fan decisions.
// Every output is a desired relay state for the relay driver.
#pragma once

#include "config/persist.h"
#include "core/fixed_point.h"

#include <cstdint>

// Takes copies of the three inputs, fills the algorithm table by system type,
// and restarts the algorithm period from now; from then on a change of the
// stored humidify state re-initialises the control. Resets nothing else.
void hvacAlgorithmInit(const TstatHvacSettings_t *hvacSettings, const TstatCfg_t *tstatCfg,
                       HumidifyState humidifyState);

// hvacAlgorithmInit with the configuration record's current settings; called
// by everything that changes the HVAC settings, the thermostat configuration
// or the humidify state.
void initialiseHvacAlgorithms();

// Runs the control frame when `period` seconds have passed since the last run
// (or since hvacAlgorithmInit). Returns 1 when it ran, else 0.
int hvacExecuteAlgorithm(uint16_t period);

// One run of the frame with the given indoor temperature, humidity, outdoor
// temperature and setpoints in force.
void hvacAlgorithmCntl(fpr_t indoorTemp, fpr_t humidity, fpr_t outdoorTemp,
                       const TstatSetPoint_t *setPoints);

// The operation in progress: heat, cool or emergency heat while that mode's
// equipment runs, else HVAC_STATE_OFF (idle).
uint32_t hvacAlgorithmGetCurrentSytemMode();

// The mode chosen in automatic mode: heat, cool or HVAC_STATE_OFF (idle).
uint32_t hvacAlgorithmGetAutoSystemMode();

// Back to the state at process start, including the stage algorithms' state. For tests.
void hvacControlReset();
