// Stage control of one- and two-stage heat pumps: the compressor (Y1, Y2)
// when the outdoor temperature is at or above the balance point, the
// auxiliary heat (W1/E, W2) below it, the reversing valve O/B off in heating
// and on in cooling, emergency heat on W1/E alone, the switch-over of a
// persistent two-stage demand to the furnace law, and the hand-over of
// heating to a gas furnace after its second stage has run a minute.
#include "core/util.h"
#include "hvac/hvac_internal.h"
#include "hvac/relay_control.h"

#include <cstdint>

namespace {

constexpr int64_t GAS_HAND_OVER_SECONDS = 60;

// The switch-over timer of a persistent two-stage demand.
uint8_t HeatPumpTimer = 0;
int64_t m_HeatPumpSwitchOverDeadline = 0;
// When a two-stage demand with gas auxiliary heat was first seen; 0 unset.
int64_t m_HpTwoStageTurnOnTime = 0;
// 0 while the one-stage heat pump recovers on auxiliary heat.
uint32_t m_AcceleratedHeatRecoveryState = 1;

bool heatPumpMayRun(fpr_t outdoorTemp) {
    return outdoorTemp >= hvacCfgSettings().balancePoint;
}

bool gasAuxiliary() {
    return hvacCfgSettings().fossilFuelType == FOSSIL_FUEL_GAS;
}

// True when now - from exceeds limit seconds or does not fit 32 bits (which
// covers a clock gone far back).
bool elapsedBeyond(int64_t from, int64_t now, int64_t limit) {
    int64_t elapsed = now - from;
    return elapsed > limit || elapsed < INT32_MIN || elapsed > INT32_MAX;
}

// The deepest band with the compressor running: after heatPumpSwitchOverTime
// minutes of it, heating becomes the two-stage furnace law.
void runSwitchOverTimer(int64_t now) {
    if (HeatPumpTimer == 0) {
        HeatPumpTimer = 1;
        m_HeatPumpSwitchOverDeadline =
            now + static_cast<int64_t>(hvacCfgTstat().heatPumpSwitchOverTime) * 60;
    } else if (static_cast<uint64_t>(now) > static_cast<uint64_t>(m_HeatPumpSwitchOverDeadline)) {
        hvacSetHeatAlgorithm(systemHeatTwoFrncAcAlg);
    }
}

} // namespace

bool hvacHeatPumpTimerRunning() {
    return HeatPumpTimer != 0;
}

void hvacSetAcceleratedHeatRecovery() {
    m_AcceleratedHeatRecoveryState = 1;
}

void hvacHeatPumpReset() {
    HeatPumpTimer = 0;
    m_HeatPumpSwitchOverDeadline = 0;
    m_HpTwoStageTurnOnTime = 0;
    m_AcceleratedHeatRecoveryState = 1;
}

void systemHeatTwoHpAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    if (hvacHeatCutOff(t, h, ot, sp)) {
        return;
    }
    if (gasAuxiliary() && RlyCntl_GetW2() != 0 && m_HpTwoStageTurnOnTime != 0) {
        int64_t now = util_time(nullptr);
        if (now != -1 && elapsedBeyond(m_HpTwoStageTurnOnTime, now, GAS_HAND_OVER_SECONDS)) {
            systemHeatTwoHpGRcvrAlg(t, h, ot, sp);
            return;
        }
    }
    systemHeatTwoHpGECallAlg(t, h, ot, sp);
}

void systemHeatTwoHpGECallAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    if (hvacHeatCutOff(t, h, ot, sp)) {
        return;
    }
    bool compressor = heatPumpMayRun(ot);
    RlyCntl_SetOBnot(0);
    StageBand band = hvacHeatBand(t, sp);
    switch (band) {
    case StageBand::Satisfied:
        RlyCntl_SetY1(0);
        RlyCntl_SetY2(0);
        RlyCntl_SetW1E(0);
        RlyCntl_SetW2(0);
        break;
    case StageBand::HalfDegree:
    case StageBand::FirstDiff:
        compressor ? hvacHoldY1() : RlyCntl_SetY1(0);
        compressor ? RlyCntl_SetW1E(0) : hvacHoldW1E();
        RlyCntl_SetY2(0);
        band == StageBand::FirstDiff ? hvacHoldW2() : RlyCntl_SetW2(0);
        break;
    case StageBand::SecondDiff:
        RlyCntl_SetY1(compressor ? 1 : 0);
        RlyCntl_SetW1E(compressor ? 0 : 1);
        RlyCntl_SetY2(0);
        hvacHoldW2();
        break;
    case StageBand::Beyond: {
        int64_t now = util_time(nullptr);
        if (compressor) {
            RlyCntl_SetY1(1);
            RlyCntl_SetY2(1);
            RlyCntl_SetW1E(0);
            RlyCntl_SetW2(0);
            runSwitchOverTimer(now);
        } else {
            RlyCntl_SetY1(0);
            RlyCntl_SetY2(0);
            RlyCntl_SetW1E(1);
            RlyCntl_SetW2(1);
            HeatPumpTimer = 0;
        }
        if (gasAuxiliary() && m_HpTwoStageTurnOnTime == 0) {
            m_HpTwoStageTurnOnTime = now == -1 ? 0 : now;
        }
        systemFanControlAlg(1, HVAC_STATE_HEAT);
        return;
    }
    }
    HeatPumpTimer = 0;
    systemFanControlAlg(1, HVAC_STATE_HEAT);
}

void systemHeatTwoHpGRcvrAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    if (hvacHeatCutOff(t, h, ot, sp)) {
        return;
    }
    const TstatCfg_t &cfg = hvacCfgTstat();
    fpr_t u = hvacHeatStop(sp);
    RlyCntl_SetOBnot(0);
    RlyCntl_SetY1(0);
    RlyCntl_SetY2(0);
    RlyCntl_SetW1E(0);
    if (t >= u) {
        RlyCntl_SetW2(0);
        // Back to normal heat-pump heating on the next run.
        m_HpTwoStageTurnOnTime = 0;
    } else if (t >= hvacSub(hvacSub(u, cfg.firstStageDiff), cfg.secondStageDiff)) {
        hvacHoldW2();
    } else {
        RlyCntl_SetW2(1);
    }
    systemFanControlAlg(1, HVAC_STATE_HEAT);
}

void systemHeatOneHpAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    if (hvacHeatCutOff(t, h, ot, sp)) {
        return;
    }
    const TstatCfg_t &cfg = hvacCfgTstat();
    fpr_t u = hvacHeatStop(sp);
    fpr_t firstOn = hvacSub(u, cfg.firstStageDiff);
    fpr_t recoveryOn = hvacSub(firstOn, cfg.secondStageDiff);
    bool compressor = heatPumpMayRun(ot);
    if (t < recoveryOn) {
        // A large demand: recover on auxiliary heat alone.
        m_AcceleratedHeatRecoveryState = 0;
        RlyCntl_SetOBnot(0);
        RlyCntl_SetY1(0);
        RlyCntl_SetW1E(1);
        RlyCntl_SetY2(0);
        RlyCntl_SetW2(0);
    } else if (m_AcceleratedHeatRecoveryState == 0) {
        if (t >= firstOn) {
            m_AcceleratedHeatRecoveryState = 1;
            RlyCntl_SetY1(compressor ? 1 : 0);
            RlyCntl_SetW1E(compressor ? 0 : 1);
            RlyCntl_SetY2(0);
            RlyCntl_SetW2(0);
        }
    } else {
        RlyCntl_SetOBnot(0);
        if (t >= u) {
            RlyCntl_SetY1(0);
            RlyCntl_SetW1E(0);
        } else if (t >= firstOn) {
            compressor ? hvacHoldY1() : RlyCntl_SetY1(0);
            compressor ? RlyCntl_SetW1E(0) : hvacHoldW1E();
        } else {
            RlyCntl_SetY1(compressor ? 1 : 0);
            RlyCntl_SetW1E(compressor ? 0 : 1);
        }
        RlyCntl_SetY2(0);
        RlyCntl_SetW2(0);
    }
    systemFanControlAlg(1, HVAC_STATE_HEAT);
}

void systemEmergHeatHpAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    hvacHeatOnW1E(t, h, ot, sp, 1, HVAC_STATE_EMERGENCY_HEAT);
}
