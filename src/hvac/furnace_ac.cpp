// Stage control of conventional equipment: one- and two-stage furnaces,
// boilers, roof-top units and floor heat (W1/E, W2) and one- and two-stage
// air-conditioners (Y1, Y2). Each stage comes on beyond its differential from
// the setpoint and holds inside the bands, so every stage has hysteresis;
// everything stops at the heat setpoint plus the margin (heating) or below
// the cool setpoint minus the margin (cooling).
#include "hvac/hvac_internal.h"
#include "hvac/relay_control.h"

namespace {

// U, the indoor temperature at which heating stops.
fpr_t heatStop(const TstatSetPoint_t *sp) {
    return hvacAdd(sp->heatSetPoint, hvacCfgTstat().setpointMargin);
}

// L, the indoor temperature below which cooling stops.
fpr_t coolStop(const TstatSetPoint_t *sp) {
    return hvacSub(sp->coolSetPoint, hvacCfgTstat().setpointMargin);
}

void holdW1E() {
    RlyCntl_SetW1E(RlyCntl_GetW1E());
}
void holdW2() {
    RlyCntl_SetW2(RlyCntl_GetW2());
}
void holdY1() {
    RlyCntl_SetY1(RlyCntl_GetY1());
}
void holdY2() {
    RlyCntl_SetY2(RlyCntl_GetY2());
}

} // namespace

void systemHeatOneFrncAcAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    if (t > hvacHeatCutOffTemp()) {
        hvacRunModeAlgorithm(HVAC_STATE_OFF, t, h, ot, sp);
        return;
    }
    const TstatCfg_t &cfg = hvacCfgTstat();
    fpr_t u = heatStop(sp);
    RlyCntl_SetOBnot(0);
    RlyCntl_SetY1(0);
    RlyCntl_SetY2(0);
    RlyCntl_SetW2(0);
    if (t >= u) {
        RlyCntl_SetW1E(0);
    } else if (t >= hvacSub(u, cfg.firstStageDiff)) {
        holdW1E();
    } else {
        RlyCntl_SetW1E(1);
    }
    systemFanControlAlg(0, HVAC_STATE_HEAT);
}

void systemHeatTwoFrncAcAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    if (t > hvacHeatCutOffTemp()) {
        hvacRunModeAlgorithm(HVAC_STATE_OFF, t, h, ot, sp);
        return;
    }
    const TstatCfg_t &cfg = hvacCfgTstat();
    fpr_t u = heatStop(sp);
    fpr_t firstOn = hvacSub(u, cfg.firstStageDiff);
    fpr_t secondOn = hvacSub(firstOn, cfg.secondStageDiff);
    RlyCntl_SetOBnot(0);
    RlyCntl_SetY1(0);
    RlyCntl_SetY2(0);
    if (t >= u) {
        RlyCntl_SetW1E(0);
        RlyCntl_SetW2(0);
        // A two-stage heat pump switched over to this law returns to
        // heat-pump control once the demand is satisfied.
        if (hvacHeatPumpTimerRunning()) {
            hvacSetHeatAlgorithm(systemHeatTwoHpAlg);
        }
    } else if (t >= hvacSub(u, HVAC_HALF_DEGREE)) {
        holdW1E();
        RlyCntl_SetW2(0);
    } else if (t >= firstOn) {
        holdW1E();
        holdW2();
    } else if (t >= secondOn) {
        RlyCntl_SetW1E(1);
        holdW2();
    } else {
        RlyCntl_SetW1E(1);
        RlyCntl_SetW2(1);
    }
    systemFanControlAlg(0, HVAC_STATE_HEAT);
}

namespace {

// One cooling stage; heat pumps use it with the reversing valve energised.
void coolOneStage(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp, uint8_t heatPump) {
    if (t < hvacCoolCutOffTemp()) {
        hvacRunModeAlgorithm(HVAC_STATE_OFF, t, h, ot, sp);
        return;
    }
    fpr_t l = coolStop(sp);
    RlyCntl_SetOBnot(heatPump);
    RlyCntl_SetY2(0);
    RlyCntl_SetW1E(0);
    RlyCntl_SetW2(0);
    if (t < l) {
        RlyCntl_SetY1(0);
    } else if (t < hvacAdd(l, hvacCfgTstat().firstStageDiff)) {
        holdY1();
    } else {
        RlyCntl_SetY1(1);
    }
    systemFanControlAlg(heatPump, HVAC_STATE_COOL);
}

// Two cooling stages; heat pumps use it with the reversing valve energised.
void coolTwoStages(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp, uint8_t heatPump) {
    if (t < hvacCoolCutOffTemp()) {
        hvacRunModeAlgorithm(HVAC_STATE_OFF, t, h, ot, sp);
        return;
    }
    const TstatCfg_t &cfg = hvacCfgTstat();
    fpr_t l = coolStop(sp);
    fpr_t firstOn = hvacAdd(l, cfg.firstStageDiff);
    fpr_t secondOn = hvacAdd(firstOn, cfg.secondStageDiff);
    RlyCntl_SetOBnot(heatPump);
    RlyCntl_SetW1E(0);
    RlyCntl_SetW2(0);
    if (t < l) {
        RlyCntl_SetY1(0);
        RlyCntl_SetY2(0);
    } else if (t < hvacAdd(l, HVAC_HALF_DEGREE)) {
        holdY1();
        RlyCntl_SetY2(0);
    } else if (t < firstOn) {
        holdY1();
        holdY2();
    } else if (t < secondOn) {
        RlyCntl_SetY1(1);
        holdY2();
    } else {
        RlyCntl_SetY1(1);
        RlyCntl_SetY2(1);
    }
    systemFanControlAlg(heatPump, HVAC_STATE_COOL);
}

} // namespace

void systemCoolOneFrncAcAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    coolOneStage(t, h, ot, sp, 0);
}

void systemCoolTwoFrncAcAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    coolTwoStages(t, h, ot, sp, 0);
}

void systemCoolOneHpAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    coolOneStage(t, h, ot, sp, 1);
}

void systemCoolTwoHpAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    coolTwoStages(t, h, ot, sp, 1);
}
