// The factory-default configuration image for a North American home: a
// four-period weekday/weekend program, Fahrenheit display, 12-hour clock and
// MM/DD/YY dates, a one-stage gas furnace with air-conditioner unless told
// otherwise.
#include "config/factory_image.h"

#include "core/fixed_point.h"

#include <array>
#include <cstring>
#include <ctime>

namespace {

// One program period in whole display degrees.
struct PeriodDefault {
    uint8_t hour;
    uint8_t minute;
    int16_t heatF;
    int16_t coolF;
    int16_t heatC;
    int16_t coolC;
};

using DayDefault = std::array<PeriodDefault, TSTAT_PERIODS_PER_DAY>;

// Wake, Leave, Return, Sleep.
constexpr DayDefault c_WeekdayProgram = {{
    {6, 0, 70, 78, 21, 26},
    {8, 0, 62, 85, 17, 29},
    {18, 0, 70, 78, 21, 26},
    {22, 0, 62, 82, 17, 28},
}};
constexpr DayDefault c_WeekendProgram = {{
    {8, 0, 70, 78, 21, 26},
    {10, 0, 62, 85, 17, 29},
    {16, 0, 70, 78, 21, 26},
    {23, 0, 62, 82, 17, 28},
}};

constexpr fpr_t c_Humidify = fprConst(35, 0);
constexpr fpr_t c_Dehumidify = fprConst(55, 0);

// Whole display degrees to stored Celsius, by the same fixed-point steps the
// thermostat uses for a value entered in Fahrenheit.
fpr_t displayToCelsius(int16_t degrees, TempScale scale) {
    fpr_t value = fprConst(degrees, 0);
    if (scale != TEMP_SCALE_FAHRENHEIT) {
        return value;
    }
    fprSub(value, fprConst(32, 0), &value);
    fprMul(value, fprConst(5, 0), &value);
    fprDiv(value, fprConst(9, 0), &value);
    return value;
}

TstatSetPoint_t setPoint(const PeriodDefault &p, TempScale scale) {
    bool f = scale == TEMP_SCALE_FAHRENHEIT;
    TstatSetPoint_t sp{};
    sp.heatSetPoint = displayToCelsius(f ? p.heatF : p.heatC, scale);
    sp.coolSetPoint = displayToCelsius(f ? p.coolF : p.coolC, scale);
    sp.startHour = p.hour;
    sp.startMinute = p.minute;
    sp.endTime = 0;
    sp.humidifySetPoint = c_Humidify;
    sp.dehumidifySetPoint = c_Dehumidify;
    return sp;
}

// Thousandths of a degree (0 to 32 C) to the record's fixed point.
fpr_t fromMilli(int32_t milli) {
    return fprConst(static_cast<int16_t>(milli / 1000), (milli % 1000) * 100000);
}

// The equipment: the control's settings and the HVAC settings.
void setEquipment(const FactoryOptions &options, TstatSysCfgPersistMem_t &r) {
    const TempScale scale = options.tempScale;
    r.tstatCfg.systemType = options.systemType;
    r.tstatCfg.setpointMargin = fprConst(0, 25000000);
    r.tstatCfg.firstStageDiff = fromMilli(options.firstStageDiffMilli);
    r.tstatCfg.secondStageDiff = fromMilli(options.secondStageDiffMilli);
    r.tstatCfg.deadband = fprConst(1, 50000000);
    r.tstatCfg.tempOffset = 0;
    r.tstatCfg.externalTempSensor = options.externalTempSensor;
    r.tstatCfg.internalTempSensor = SENSOR_ON;
    r.tstatCfg.humiditySensor = SENSOR_ON;
    r.tstatCfg.cycleRate = options.cycleRate;
    r.tstatCfg.heatPumpSwitchOverTime = 60;

    r.hvacSettings.fanState = FAN_STATE_AUTO;
    r.hvacSettings.fanSpeed = FAN_SPEED_HIGH;
    r.hvacSettings.hvacState = options.hvacState;
    // 30 °F, or -1 °C: below it a heat pump needs its auxiliary heat.
    int16_t balance = scale == TEMP_SCALE_FAHRENHEIT ? 30 : -1;
    r.hvacSettings.balancePoint =
        displayToCelsius(options.balancePointGiven ? options.balancePoint : balance, scale);
    // Heat pumps and floor heat back up with electric heat, the others burn gas.
    r.hvacSettings.fossilFuelType =
        isHeatPumpType(options.systemType) || options.systemType == SYSTEM_TYPE_FLOOR_HEAT
            ? FOSSIL_FUEL_ELECTRIC
            : FOSSIL_FUEL_GAS;
    r.hvacSettings.humidityBandOffset = 0;
    r.hvacSettings.humidityHysteresis = fprConst(5, 0);
}

// The weekly program, and hold at the comfort setpoints, vacation at the
// economy ones.
void setProgram(const FactoryOptions &options, TstatSysCfgPersistMem_t &r) {
    const TempScale scale = options.tempScale;
    for (int day = 0; day < TSTAT_DAYS_PER_WEEK; day++) {
        bool weekend = day == 0 || day == 6;
        const DayDefault &program = weekend ? c_WeekendProgram : c_WeekdayProgram;
        for (int p = 0; p < TSTAT_PERIODS_PER_DAY; p++) {
            r.prgSetPnt[day].period[p] = setPoint(program[p], scale);
        }
    }
    r.tstatMode.mode = options.hold ? TSTAT_MODE_PERMANENT_HOLD : TSTAT_MODE_PROGRAM;
    r.tstatMode.holdSetPoint = setPoint(c_WeekdayProgram[0], scale);
    r.tstatMode.holdSetPoint.startHour = 0;
    r.tstatMode.holdSetPoint.startMinute = 0;
    r.tstatMode.vacationSetPoint = setPoint(c_WeekdayProgram[1], scale);
    r.tstatMode.vacationSetPoint.startHour = 0;
    r.tstatMode.vacationSetPoint.startMinute = 0;
}

} // namespace

void buildFactoryImage(const FactoryOptions &options, TstatSysCfgPersistMem_t *record) {
    TstatSysCfgPersistMem_t r;
    memset(&r, 0, sizeof(r));
    r.tstatSysCfgId = TSTAT_SYS_CFG_FACTORY_ID;

    r.lockoutCfg.buttonLockout = LOCK_UNLOCKED;
    r.lockoutCfg.modeLock = LOCK_UNLOCKED;
    r.lockoutCfg.modeLockTime = 0;
    r.lockoutCfg.fanLock = LOCK_UNLOCKED;
    r.lockoutCfg.fanLockTime = 0;
    r.lockoutCfg.tempLock = LOCK_UNLOCKED;
    r.lockoutCfg.tempLockTimeLimit = 0;
    r.lockoutCfg.tempLockRangeLimit = 2;
    r.securityCode = options.securityCode;
    r.korabusAddress = 0;
    setEquipment(options, r);

    r.bkLightCtl.backlightTimeout = 30;
    r.bkLightCtl.activeBrightness = BACKLIGHT_ACTIVE_HIGH;
    r.bkLightCtl.inactiveBrightness = BACKLIGHT_INACTIVE_DIM;

    r.tstatFmtSettings.tempScale = options.tempScale;
    r.tstatFmtSettings.dateFormat = DATE_FORMAT_MM_DD_YY;
    r.tstatFmtSettings.timeFormat = TIME_FORMAT_12_HOUR;

    r.featureCtl.currentForecastState = FEATURE_ENABLE;
    r.featureCtl.fiveDayForecastState = FEATURE_ENABLE;
    r.featureCtl.weatherAlertFeature = FEATURE_ENABLE;
    r.featureCtl.filterChangeState = FEATURE_ENABLE;
    r.featureCtl.scrSaverState = FEATURE_ENABLE;
    setProgram(options, r);

    r.humidifyState = options.humidifyState;
    r.filterChangeMaxHourTime = FACTORY_FILTER_CHANGE_DAYS * 24;
    r.filterChangeEndTime = options.madeAt + static_cast<int64_t>(r.filterChangeMaxHourTime) * 3600;
    time_t made = static_cast<time_t>(options.madeAt);
    struct tm utc {};
    r.clockYear = gmtime_r(&made, &utc) != nullptr ? static_cast<uint16_t>(utc.tm_year) : 0;
    r.recoveryTemp[0] = r.tstatMode.holdSetPoint.heatSetPoint;
    r.recoveryTemp[1] = r.tstatMode.holdSetPoint.coolSetPoint;
    r.humidityOffset = 0;
    r.helpModeState = OFFON_ON;
    r.comfortRecoveryModeState = options.comfortRecovery ? OFFON_ON : OFFON_OFF;
    *record = r;
}
