// Shared between the control frame and the stage, humidity, fan and off
// algorithms of the HVAC subsystem; not for use outside src/hvac.
#pragma once

#include "config/persist.h"
#include "core/fixed_point.h"
#include "hvac/relay_control.h"

#include <cstdint>

// Every stage algorithm takes the indoor temperature, the relative humidity,
// the outdoor temperature and the setpoints in force.
using HvacAlgFunc = void (*)(fpr_t indoorTemp, fpr_t humidity, fpr_t outdoorTemp,
                             const TstatSetPoint_t *setPoints);

// The frame's copies of the configuration (taken by hvacAlgorithmInit).
const TstatHvacSettings_t &hvacCfgSettings();
const TstatCfg_t &hvacCfgTstat();
HumidifyState hvacCfgHumidifyState();

// Above the heating cut-off (34.0) a heat algorithm runs the off algorithm
// instead, below the cooling cut-off (4.5) a cool algorithm does; true when
// the off algorithm ran.
bool hvacHeatCutOff(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);
bool hvacCoolCutOff(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);

// U, the indoor temperature at which heating stops (heat setpoint + margin),
// and L, below which cooling stops (cool setpoint - margin).
fpr_t hvacHeatStop(const TstatSetPoint_t *sp);
fpr_t hvacCoolStop(const TstatSetPoint_t *sp);

// Runs the algorithm table's entry for a system mode; a mode outside the
// table runs the off algorithm.
void hvacRunModeAlgorithm(uint32_t mode, fpr_t indoorTemp, fpr_t humidity, fpr_t outdoorTemp,
                          const TstatSetPoint_t *setPoints);
// Replaces the heat entry of the algorithm table (heat-pump switch-over).
void hvacSetHeatAlgorithm(HvacAlgFunc algorithm);

// Heat-pump state that the furnace and off algorithms also touch.
bool hvacHeatPumpTimerRunning();
void hvacSetAcceleratedHeatRecovery();
void hvacHeatPumpReset();

// One heat stage on W1/E with its hysteresis band, everything else off: the
// one-stage furnace, and a heat pump's emergency heat. The fan decision is
// called with the given heat-pump flag and mode.
void hvacHeatOnW1E(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp, uint8_t heatPump,
                   uint32_t fanMode);

// Stage algorithms of conventional equipment.
void systemHeatOneFrncAcAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);
void systemHeatTwoFrncAcAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);
void systemCoolOneFrncAcAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);
void systemCoolTwoFrncAcAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);

// Stage algorithms of heat pumps.
void systemHeatTwoHpAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);
void systemHeatTwoHpGECallAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);
void systemHeatTwoHpGRcvrAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);
void systemHeatOneHpAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);
void systemEmergHeatHpAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);
void systemCoolTwoHpAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);
void systemCoolOneHpAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);

// Automatic changeover, off, humidity and fan control.
void systemAutoAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);
void systemOffAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp);
void systemHumidifyAlg(fpr_t humidity, fpr_t setPoint);
void systemDehumidifyAlg(fpr_t humidity, fpr_t setPoint);
void systemFanControlAlg(uint8_t heatPump, uint32_t systemMode);

// Fixed-point steps of the control laws; the bounded temperatures of the
// system never overflow, and an overflow would leave the first operand.
inline fpr_t hvacAdd(fpr_t a, fpr_t b) {
    fpr_t r = a;
    fprAdd(a, b, &r);
    return r;
}
inline fpr_t hvacSub(fpr_t a, fpr_t b) {
    fpr_t r = a;
    fprSub(a, b, &r);
    return r;
}

// Holding a relay writes back its desired state (a compressor stage keeps
// its minimum off time that way).
inline void hvacHoldY1() {
    RlyCntl_SetY1(RlyCntl_GetY1());
}
inline void hvacHoldY2() {
    RlyCntl_SetY2(RlyCntl_GetY2());
}
inline void hvacHoldW1E() {
    RlyCntl_SetW1E(RlyCntl_GetW1E());
}
inline void hvacHoldW2() {
    RlyCntl_SetW2(RlyCntl_GetW2());
}

// The fixed step next to the setpoint in the two-stage laws: 0.5 degrees.
constexpr fpr_t HVAC_HALF_DEGREE = FPR_HALF;

// Where the room stands in a two-stage law, from the stop point outwards:
// satisfied (at or past the stop point), within the half degree before it,
// within the first-stage differential, within the second-stage differential
// beyond that, and beyond both. Heating counts a temperature exactly on an
// edge to the band nearer the stop point, cooling to the band farther away.
enum class StageBand { Satisfied, HalfDegree, FirstDiff, SecondDiff, Beyond };
StageBand hvacHeatBand(fpr_t t, const TstatSetPoint_t *sp);
StageBand hvacCoolBand(fpr_t t, const TstatSetPoint_t *sp);
