// HVAC control frame: the algorithm table by equipment type, the algorithm
// period, the indoor-temperature correction, the cycle rate, the wait of
// cooling after the humidifier, automatic changeover, and the order in which
// stage, dehumidify, humidify and fan decisions run.
#include "hvac/hvac_control.h"

#include "config/data_dict.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "core/util.h"
#include "hvac/hvac_internal.h"
#include "hvac/relay_control.h"
#include "hvac/sensors.h"

#include <array>

namespace {

constexpr int64_t UNSET = -1;
constexpr uint32_t MODE_COUNT = 5;
constexpr int64_t HUMIDIFIER_WAIT_SECONDS = 300;
// Used for a stored cycle rate of 0 (no page stores it): the slowest rate the
// setup page offers, which protects the equipment best.
constexpr uint8_t FALLBACK_CYCLE_RATE = 3;
// Automatic mode does not heat a room above 34 C nor cool one below 4.5 C,
// whatever the set points say.
constexpr fpr_t c_AutoHeatCutOffTemp = fprConst(34, 0);
constexpr fpr_t c_AutoCoolCutOffTemp = fprConst(4, 50000000);

// Heat, cool and emergency-heat entries by system type; automatic and off are
// the same for every type.
struct SystemAlgorithms {
    HvacAlgFunc heat;
    HvacAlgFunc cool;
    HvacAlgFunc emergencyHeat;
};

constexpr std::array<SystemAlgorithms, SYSTEM_TYPE_COUNT> c_SystemAlgorithms = {{
    {systemHeatOneFrncAcAlg, systemCoolOneFrncAcAlg, systemOffAlg}, // one-stage furnace
    {systemHeatTwoFrncAcAlg, systemCoolTwoFrncAcAlg, systemOffAlg}, // two-stage furnace
    {systemHeatTwoFrncAcAlg, systemCoolTwoFrncAcAlg, systemOffAlg}, // roof-top unit
    {systemHeatOneFrncAcAlg, systemCoolOneFrncAcAlg, systemOffAlg}, // boiler with A/C
    {systemHeatOneHpAlg, systemCoolOneHpAlg, systemEmergHeatHpAlg}, // one-stage heat pump
    {systemHeatTwoHpAlg, systemCoolTwoHpAlg, systemEmergHeatHpAlg}, // two-stage heat pump
    {systemHeatTwoFrncAcAlg, systemCoolOneFrncAcAlg, systemOffAlg}, // floor heat
}};

TstatHvacSettings_t m_HvacSettings;
TstatCfg_t m_TstatCfg;
HumidifyState m_HumidifyState;
std::array<HvacAlgFunc, MODE_COUNT> m_HvacAlgFuncPtr = {systemOffAlg, systemOffAlg, systemAutoAlg,
                                                        systemOffAlg, systemOffAlg};
fpr_t m_AutomaticHeatCutOffTemp;
fpr_t m_AutomaticCoolCutOffTemp;

int64_t m_HvacAlgLastExecTime = UNSET;
uint32_t m_AutoSystemMode = HVAC_STATE_OFF;
uint8_t systemTypeIsHeatPump = 0;
uint8_t m_IsSystemOn = 0;
// When a heating or cooling stage last came on: the start of the current or
// last equipment cycle, from which the cycle rate counts.
int64_t m_OffTime = 0;
uint8_t m_IsCycleRateExp = 0;
uint8_t m_firstTime = 1;
uint32_t prevSystemMode = HVAC_STATE_OFF;
int64_t m_HvacHumidifierLastExecTime = UNSET;

bool stageRelayOn() {
    return RlyCntl_GetY1() != 0 || RlyCntl_GetY2() != 0 || RlyCntl_GetW1E() != 0 ||
           RlyCntl_GetW2() != 0;
}

uint32_t cyclePeriodSeconds() {
    uint8_t rate = getCycleRate();
    if (rate == 0) {
        rate = FALLBACK_CYCLE_RATE;
    }
    return (60u / rate) * 60u;
}

// The indoor temperature the control laws see: the smoothed reading with the
// user's offset (kept in display degrees) taken off in the display scale.
fpr_t correctedIndoorTemp(fpr_t measured) {
    fpr_t display = tempCelToFahConversion(measured);
    fpr_t corrected = hvacSub(display, getTstatTempOffset());
    return tempFahToCelConversion(corrected);
}

// Makes cooling wait after the humidifier has been switched off. Returns true
// when the run ends here.
bool humidifierBeforeCooling(int64_t now, fpr_t indoorTemp, const TstatSetPoint_t *sp) {
    bool coolingCalled = hvacCoolStop(sp) <= indoorTemp;
    if (coolingCalled && RlyCntl_GetHum() != 0 && m_HvacHumidifierLastExecTime == UNSET) {
        systemOffAlg(indoorTemp, 0, 0, sp);
        RlyCntl_SetHum(0);
        RlyCntl_SetFanSpeed(m_HvacSettings.fanSpeed);
        m_HvacHumidifierLastExecTime = now;
        return true;
    }
    if (coolingCalled && m_HvacHumidifierLastExecTime != UNSET) {
        int64_t waited = now - m_HvacHumidifierLastExecTime;
        if (waited > HUMIDIFIER_WAIT_SECONDS || waited < INT32_MIN || waited > INT32_MAX) {
            m_HvacHumidifierLastExecTime = UNSET;
        }
        return true;
    }
    if (!coolingCalled && m_HvacHumidifierLastExecTime != UNSET) {
        m_HvacHumidifierLastExecTime = UNSET;
        return true;
    }
    return false;
}

} // namespace

const TstatHvacSettings_t &hvacCfgSettings() {
    return m_HvacSettings;
}
const TstatCfg_t &hvacCfgTstat() {
    return m_TstatCfg;
}
HumidifyState hvacCfgHumidifyState() {
    return m_HumidifyState;
}
bool hvacHeatCutOff(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    if (t <= m_AutomaticHeatCutOffTemp) {
        return false;
    }
    hvacRunModeAlgorithm(HVAC_STATE_OFF, t, h, ot, sp);
    return true;
}
bool hvacCoolCutOff(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    if (t >= m_AutomaticCoolCutOffTemp) {
        return false;
    }
    hvacRunModeAlgorithm(HVAC_STATE_OFF, t, h, ot, sp);
    return true;
}
fpr_t hvacHeatStop(const TstatSetPoint_t *sp) {
    return hvacAdd(sp->heatSetPoint, m_TstatCfg.setpointMargin);
}
StageBand hvacHeatBand(fpr_t t, const TstatSetPoint_t *sp) {
    const TstatCfg_t &cfg = hvacCfgTstat();
    fpr_t u = hvacHeatStop(sp);
    fpr_t firstOn = hvacSub(u, cfg.firstStageDiff);
    if (t >= u) {
        return StageBand::Satisfied;
    }
    if (t >= hvacSub(u, HVAC_HALF_DEGREE)) {
        return StageBand::HalfDegree;
    }
    if (t >= firstOn) {
        return StageBand::FirstDiff;
    }
    return t >= hvacSub(firstOn, cfg.secondStageDiff) ? StageBand::SecondDiff : StageBand::Beyond;
}

StageBand hvacCoolBand(fpr_t t, const TstatSetPoint_t *sp) {
    const TstatCfg_t &cfg = hvacCfgTstat();
    fpr_t l = hvacCoolStop(sp);
    fpr_t firstOn = hvacAdd(l, cfg.firstStageDiff);
    if (t < l) {
        return StageBand::Satisfied;
    }
    if (t < hvacAdd(l, HVAC_HALF_DEGREE)) {
        return StageBand::HalfDegree;
    }
    if (t < firstOn) {
        return StageBand::FirstDiff;
    }
    return t < hvacAdd(firstOn, cfg.secondStageDiff) ? StageBand::SecondDiff : StageBand::Beyond;
}

fpr_t hvacCoolStop(const TstatSetPoint_t *sp) {
    return hvacSub(sp->coolSetPoint, m_TstatCfg.setpointMargin);
}

void hvacRunModeAlgorithm(uint32_t mode, fpr_t indoorTemp, fpr_t humidity, fpr_t outdoorTemp,
                          const TstatSetPoint_t *setPoints) {
    HvacAlgFunc algorithm = mode < MODE_COUNT ? m_HvacAlgFuncPtr[mode] : systemOffAlg;
    algorithm(indoorTemp, humidity, outdoorTemp, setPoints);
}

void hvacSetHeatAlgorithm(HvacAlgFunc algorithm) {
    m_HvacAlgFuncPtr[HVAC_STATE_HEAT] = algorithm;
}

void hvacAlgorithmInit(const TstatHvacSettings_t *hvacSettings, const TstatCfg_t *tstatCfg,
                       HumidifyState humidifyState) {
    setHumidifyStateHook(initialiseHvacAlgorithms);
    m_HvacSettings = *hvacSettings;
    m_TstatCfg = *tstatCfg;
    m_HumidifyState = humidifyState;
    SystemAlgorithms entries{systemOffAlg, systemOffAlg, systemOffAlg};
    if (m_TstatCfg.systemType < SYSTEM_TYPE_COUNT) {
        entries = c_SystemAlgorithms[m_TstatCfg.systemType];
    }
    m_HvacAlgFuncPtr[HVAC_STATE_HEAT] = entries.heat;
    m_HvacAlgFuncPtr[HVAC_STATE_COOL] = entries.cool;
    m_HvacAlgFuncPtr[HVAC_STATE_AUTO] = systemAutoAlg;
    m_HvacAlgFuncPtr[HVAC_STATE_OFF] = systemOffAlg;
    m_HvacAlgFuncPtr[HVAC_STATE_EMERGENCY_HEAT] = entries.emergencyHeat;
    m_AutomaticHeatCutOffTemp = c_AutoHeatCutOffTemp;
    m_AutomaticCoolCutOffTemp = c_AutoCoolCutOffTemp;
    m_HvacAlgLastExecTime = util_time(nullptr);
}

void initialiseHvacAlgorithms() {
    TstatHvacSettings_t settings;
    TstatCfg_t cfg;
    getHvacSettings(&settings);
    getTstatConfiguration(&cfg);
    hvacAlgorithmInit(&settings, &cfg, getHumidifyState());
}

int hvacExecuteAlgorithm(uint16_t period) {
    int64_t now = util_time(nullptr);
    if (now == -1) {
        if (m_HvacAlgLastExecTime == UNSET) {
            m_HvacAlgLastExecTime = util_time(nullptr);
        }
        return 0;
    }
    if (m_HvacAlgLastExecTime == UNSET) {
        m_HvacAlgLastExecTime = util_time(nullptr);
        return 0;
    }
    uint64_t nowU = static_cast<uint64_t>(now);
    uint64_t lastU = static_cast<uint64_t>(m_HvacAlgLastExecTime);
    if (nowU < lastU) {
        // The clock went back: start the period again from now.
        m_HvacAlgLastExecTime = now;
        return 0;
    }
    if (nowU - lastU < period) {
        return 0;
    }
    m_HvacAlgLastExecTime = now;

    fpr_t measured = 0;
    // Without a room temperature the control laws would see 0 degrees and
    // heat without end: nothing is decided until a reading has arrived.
    if (getMovAvgIndTemp(&measured) == 0) {
        return 0;
    }
    fpr_t humidity = 0;
    getMovAvgHum(&humidity);
    fpr_t outdoor = Sensors_GetOutdoorTemperature();
    TstatSetPoint_t setPoints{};
    if (getCurrentThermostatSettings(&setPoints) != 0) {
        return 0;
    }
    hvacAlgorithmCntl(correctedIndoorTemp(measured), humidity, outdoor, &setPoints);
    // The control's modes and relays may have changed: the pages and the
    // control bus look again.
    utilNoteChange();
    return 1;
}

void hvacAlgorithmCntl(fpr_t indoorTemp, fpr_t humidity, fpr_t outdoorTemp,
                       const TstatSetPoint_t *setPoints) {
    int64_t now = util_time(nullptr);
    uint32_t mode = m_HvacSettings.hvacState;
    systemTypeIsHeatPump = isHeatPumpType(m_TstatCfg.systemType) ? 1 : 0;

    // Track the start of each equipment cycle.
    bool stageOn = stageRelayOn();
    if (m_IsSystemOn == 0 && stageOn) {
        m_IsSystemOn = 1;
        m_OffTime = now;
    } else if (m_IsSystemOn == 1 && !stageOn) {
        m_IsSystemOn = 0;
    }

    if (mode != prevSystemMode) {
        m_HvacHumidifierLastExecTime = UNSET;
        prevSystemMode = mode;
    }
    if ((mode == HVAC_STATE_COOL || mode == HVAC_STATE_AUTO) &&
        humidifierBeforeCooling(now, indoorTemp, setPoints)) {
        return;
    }

    // Cycle rate: after a short cycle the equipment may not start again until
    // the cycle period, counted from that cycle's start, has passed.
    uint64_t sinceCycleStart = static_cast<uint64_t>(now - m_OffTime);
    uint32_t cyclePeriod = cyclePeriodSeconds();
    if (m_IsSystemOn == 1) {
        hvacRunModeAlgorithm(mode, indoorTemp, humidity, outdoorTemp, setPoints);
        m_IsCycleRateExp = sinceCycleStart > cyclePeriod ? 1 : 0;
    } else if (sinceCycleStart <= cyclePeriod && m_firstTime == 0 && m_IsCycleRateExp == 0) {
        systemFanControlAlg(systemTypeIsHeatPump, mode);
    } else {
        hvacRunModeAlgorithm(mode, indoorTemp, humidity, outdoorTemp, setPoints);
        m_firstTime = 0;
    }

    systemDehumidifyAlg(humidity, setPoints->dehumidifySetPoint);
    bool humidify = false;
    switch (mode) {
    case HVAC_STATE_OFF:
    case HVAC_STATE_HEAT:
    case HVAC_STATE_EMERGENCY_HEAT:
        humidify = true;
        break;
    case HVAC_STATE_COOL:
        humidify = RlyCntl_GetY1() == 0 && RlyCntl_GetY2() == 0;
        break;
    case HVAC_STATE_AUTO:
        humidify = m_AutoSystemMode != HVAC_STATE_COOL;
        break;
    default:
        break;
    }
    if (humidify) {
        systemHumidifyAlg(humidity, setPoints->humidifySetPoint);
    }
    systemFanControlAlg(systemTypeIsHeatPump, mode);
}

void systemAutoAlg(fpr_t t, fpr_t h, fpr_t ot, const TstatSetPoint_t *sp) {
    hvacRunModeAlgorithm(m_AutoSystemMode, t, h, ot, sp);
    m_AutoSystemMode = hvacAlgorithmGetCurrentSytemMode();
    if (m_AutoSystemMode != HVAC_STATE_OFF) {
        return;
    }
    // Idle: choose the side whose setpoint the room has reached.
    if (hvacCoolStop(sp) <= t) {
        m_AutoSystemMode = HVAC_STATE_COOL;
    } else if (hvacHeatStop(sp) >= t) {
        m_AutoSystemMode = HVAC_STATE_HEAT;
    }
}

uint32_t hvacAlgorithmGetCurrentSytemMode() {
    uint32_t mode = m_HvacSettings.hvacState;
    if (mode == HVAC_STATE_AUTO) {
        mode = m_AutoSystemMode;
    }
    switch (mode) {
    case HVAC_STATE_HEAT:
        return RlyCntl_GetY1() != 0 || RlyCntl_GetW1E() != 0 || RlyCntl_GetW2() != 0
                   ? HVAC_STATE_HEAT
                   : HVAC_STATE_OFF;
    case HVAC_STATE_COOL:
        return RlyCntl_GetY1() != 0 || RlyCntl_GetY2() != 0 ? HVAC_STATE_COOL : HVAC_STATE_OFF;
    case HVAC_STATE_EMERGENCY_HEAT:
        return RlyCntl_GetW1E() != 0 ? HVAC_STATE_EMERGENCY_HEAT : HVAC_STATE_OFF;
    default:
        return HVAC_STATE_OFF;
    }
}

uint32_t hvacAlgorithmGetAutoSystemMode() {
    return m_AutoSystemMode;
}

void hvacControlReset() {
    m_HvacSettings = TstatHvacSettings_t{};
    m_TstatCfg = TstatCfg_t{};
    m_HumidifyState = HUMIDIFY_STATE_HUMIDIFY;
    m_HvacAlgFuncPtr = {systemOffAlg, systemOffAlg, systemAutoAlg, systemOffAlg, systemOffAlg};
    m_AutomaticHeatCutOffTemp = 0;
    m_AutomaticCoolCutOffTemp = 0;
    m_HvacAlgLastExecTime = UNSET;
    m_AutoSystemMode = HVAC_STATE_OFF;
    systemTypeIsHeatPump = 0;
    m_IsSystemOn = 0;
    m_OffTime = 0;
    m_IsCycleRateExp = 0;
    m_firstTime = 1;
    prevSystemMode = HVAC_STATE_OFF;
    m_HvacHumidifierLastExecTime = UNSET;
    hvacHeatPumpReset();
}
