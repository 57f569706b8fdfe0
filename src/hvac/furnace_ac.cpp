// Stage control of conventional equipment: one- and two-stage furnaces,
// boilers, roof-top units and floor heat (W1/E, W2) and one- and two-stage
// air-conditioners (Y1, Y2). Each stage comes on beyond its differential from
// the setpoint and holds inside the bands, so every stage has hysteresis;
// everything stops at the heat setpoint plus the margin (heating) or below
// the cool setpoint minus the margin (cooling).
#include "hvac/hvac_internal.h"
#include "hvac/relay_control.h"

void hvacHeatOnW1E(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp, uint8_t heatPump,
                   uint32_t fanMode) {
    if (hvacHeatCutOff(t, h, ot, sp)) {
        return;
    }
    fpr_t u = hvacHeatStop(sp);
    RlyCntl_SetOBnot(0);
    RlyCntl_SetY1(0);
    RlyCntl_SetY2(0);
    RlyCntl_SetW2(0);
    if (t >= u) {
        RlyCntl_SetW1E(0);
    } else if (t >= hvacSub(u, hvacCfgTstat().firstStageDiff)) {
        hvacHoldW1E();
    } else {
        RlyCntl_SetW1E(1);
    }
    systemFanControlAlg(heatPump, fanMode);
}

void systemHeatOneFrncAcAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    hvacHeatOnW1E(t, h, ot, sp, 0, HVAC_STATE_HEAT);
}

void systemHeatTwoFrncAcAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    if (hvacHeatCutOff(t, h, ot, sp)) {
        return;
    }
    RlyCntl_SetOBnot(0);
    RlyCntl_SetY1(0);
    RlyCntl_SetY2(0);
    switch (hvacHeatBand(t, sp)) {
    case StageBand::Satisfied:
        RlyCntl_SetW1E(0);
        RlyCntl_SetW2(0);
        // A two-stage heat pump switched over to this law returns to
        // heat-pump control once the demand is satisfied.
        if (hvacHeatPumpTimerRunning()) {
            hvacSetHeatAlgorithm(systemHeatTwoHpAlg);
        }
        break;
    case StageBand::HalfDegree:
        hvacHoldW1E();
        RlyCntl_SetW2(0);
        break;
    case StageBand::FirstDiff:
        hvacHoldW1E();
        hvacHoldW2();
        break;
    case StageBand::SecondDiff:
        RlyCntl_SetW1E(1);
        hvacHoldW2();
        break;
    case StageBand::Beyond:
        RlyCntl_SetW1E(1);
        RlyCntl_SetW2(1);
        break;
    }
    systemFanControlAlg(0, HVAC_STATE_HEAT);
}

namespace {

// One cooling stage; heat pumps use it with the reversing valve energised.
void coolOneStage(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp, uint8_t heatPump) {
    if (hvacCoolCutOff(t, h, ot, sp)) {
        return;
    }
    fpr_t l = hvacCoolStop(sp);
    RlyCntl_SetOBnot(heatPump);
    RlyCntl_SetY2(0);
    RlyCntl_SetW1E(0);
    RlyCntl_SetW2(0);
    if (t < l) {
        RlyCntl_SetY1(0);
    } else if (t < hvacAdd(l, hvacCfgTstat().firstStageDiff)) {
        hvacHoldY1();
    } else {
        RlyCntl_SetY1(1);
    }
    systemFanControlAlg(heatPump, HVAC_STATE_COOL);
}

// Two cooling stages; heat pumps use it with the reversing valve energised.
void coolTwoStages(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp, uint8_t heatPump) {
    if (hvacCoolCutOff(t, h, ot, sp)) {
        return;
    }
    RlyCntl_SetOBnot(heatPump);
    RlyCntl_SetW1E(0);
    RlyCntl_SetW2(0);
    switch (hvacCoolBand(t, sp)) {
    case StageBand::Satisfied:
        RlyCntl_SetY1(0);
        RlyCntl_SetY2(0);
        break;
    case StageBand::HalfDegree:
        hvacHoldY1();
        RlyCntl_SetY2(0);
        break;
    case StageBand::FirstDiff:
        hvacHoldY1();
        hvacHoldY2();
        break;
    case StageBand::SecondDiff:
        RlyCntl_SetY1(1);
        hvacHoldY2();
        break;
    case StageBand::Beyond:
        RlyCntl_SetY1(1);
        RlyCntl_SetY2(1);
        break;
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
