// Schedule, hold, vacation and comfort recovery: the setpoint read and write
// rules, the period in force, the thermostat mode with its hold end, the
// setpoints in force with expiry of vacation and hold, and comfort recovery.
#include "config/schedule.h"

#include "config/sys_cfg_image.h"
#include "config/temp_scale.h"
#include "core/util.h"

#include <cstdio>

uint8_t g_IsZapCommand;

namespace {

constexpr fpr_t c_HumidityGap = 40960;        // 5.0 %: least dehumidify - humidify
constexpr fpr_t c_MinDehumidify = 40960;      // 5.0 %
constexpr fpr_t c_MaxHumidify = 778240;       // 95.0 %
constexpr fpr_t c_RecoveryDivisor = 40960;    // 5.0: a fifth of the way to the next setpoint
constexpr int c_RecoveryWindowSeconds = 7200; // recovery starts two hours before the period
constexpr int64_t c_RecoveryRecalcSeconds = 900;
constexpr int c_SecondsPerDay = 86400;
constexpr int c_LastPeriod = TSTAT_PERIODS_PER_DAY - 1;

uint8_t m_ProgSetPointType;
uint8_t m_ProgDayOfWeek;
uint8_t m_isRecoveryMode;
// Recovery recalculation deadline in wall-clock seconds; 0 = none.
int64_t reCalcTime;

TstatSysCfgPersistMem_t &cfg() {
    return tstatSysCfgImage();
}

// Fixed-point steps whose failure leaves the first operand as it was.
fpr_t fixedAdd(fpr_t a, fpr_t b) {
    fpr_t r;
    return fprAdd(a, b, &r) == 0 ? r : a;
}
fpr_t fixedSub(fpr_t a, fpr_t b) {
    fpr_t r;
    return fprSub(a, b, &r) == 0 ? r : a;
}
fpr_t fixedDiv(fpr_t a, fpr_t b) {
    fpr_t r;
    return fprDiv(a, b, &r) == 0 ? r : a;
}

// a - b < limit, without overflow.
bool gapBelow(fpr_t a, fpr_t b, fpr_t limit) {
    return static_cast<int64_t>(a) - static_cast<int64_t>(b) < limit;
}

int minutesOfDay(int hour, int minute) {
    return hour * 60 + minute;
}

// The last period of the day (scanning 3 down to 0) whose start is not later
// than the given time; -1 when the time is before all of them.
int periodOfDay(int day, int hour, int minute) {
    const TstatDaySetPoint_t &d = cfg().prgSetPnt[day];
    for (int p = c_LastPeriod; p >= 0; p--) {
        if (minutesOfDay(d.period[p].startHour, d.period[p].startMinute) <=
            minutesOfDay(hour, minute)) {
            return p;
        }
    }
    return -1;
}

bool toLocalTime(int64_t seconds, struct tm *out) {
    time_t t = static_cast<time_t>(seconds);
    return seconds != -1 && localtime_r(&t, out) != nullptr;
}

// Normalises a stored heat/cool pair with the read rule and stores it back.
void normalise(TstatSetPoint_t &record) {
    fpr_t heat = record.heatSetPoint;
    fpr_t cool = record.coolSetPoint;
    getThermostatTemps(&heat, &cool);
    record.heatSetPoint = heat;
    record.coolSetPoint = cool;
}

// Write rule on heat and cool only; humidify and dehumidify are stored as given.
void writeTemperatures(TstatSetPoint_t &record, const TstatSetPoint_t *in) {
    TstatSetPoint_t request = *in;
    request.humidifySetPoint = record.humidifySetPoint;
    request.dehumidifySetPoint = record.dehumidifySetPoint;
    fpr_t heat = record.heatSetPoint;
    fpr_t cool = record.coolSetPoint;
    fpr_t humidify = record.humidifySetPoint;
    fpr_t dehumidify = record.dehumidifySetPoint;
    setThermostatTemps(&request, &heat, &cool, &humidify, &dehumidify);
    record.heatSetPoint = heat;
    record.coolSetPoint = cool;
    record.humidifySetPoint = in->humidifySetPoint;
    record.dehumidifySetPoint = in->dehumidifySetPoint;
}

// The indoor temperature the control works with: the moving average with the
// display-scale calibration offset taken off. false before the first reading.
bool correctedIndoorTemp(fpr_t *indoor) {
    fpr_t average;
    if (getMovAvgIndTemp(&average) == 0) {
        return false;
    }
    *indoor =
        tempFahToCelConversion(fixedSub(tempCelToFahConversion(average), getTstatTempOffset()));
    return true;
}

// Decides whether comfort recovery is under way at the given time of day,
// before the start of the next period.
void updateRecoveryMode(const TstatSetPoint_t &current, const TstatSetPoint_t &next, int nextPeriod,
                        const struct tm *now) {
    int gap = next.startHour - current.startHour;
    if (current.startHour > next.startHour) {
        gap += 24;
    }
    if (gap <= 1 || (nextPeriod != 0 && nextPeriod != 2) || getHVACState() == HVAC_STATE_OFF) {
        // No comfort period ahead: a recovery whose period has begun ends here.
        m_isRecoveryMode = 0;
        return;
    }
    int nowSeconds = now->tm_hour * 3600 + now->tm_min * 60;
    int startSeconds = next.startHour * 3600 + next.startMinute * 60;
    // Counted forward across midnight, for a period that starts early in the morning.
    int untilStart = (startSeconds - nowSeconds) % c_SecondsPerDay;
    if (untilStart < 0) {
        untilStart += c_SecondsPerDay;
    }
    m_isRecoveryMode = untilStart <= c_RecoveryWindowSeconds ? 1 : 0;
}

// Comfort recovery towards the next period; replaces out's heat and cool with
// the recovery setpoints while recovery is under way.
void applyComfortRecovery(int nextPeriod, int nextDay, TstatSetPoint_t *out) {
    fpr_t indoor;
    if (m_isRecoveryMode == 0 || getComfortRecoveryModeState() != OFFON_ON || g_IsZapCommand != 0 ||
        !correctedIndoorTemp(&indoor)) {
        reCalcTime = 0;
        return;
    }
    TstatSetPoint_t work;
    getProgramThermostatSettings(static_cast<uint32_t>(nextPeriod), static_cast<uint32_t>(nextDay),
                                 &work);
    fpr_t heat = work.heatSetPoint;
    fpr_t cool = work.coolSetPoint;
    fpr_t humidify = work.humidifySetPoint;
    fpr_t dehumidify = work.dehumidifySetPoint;
    const fpr_t margin = cfg().tstatCfg.setpointMargin;
    const HvacState state = getHVACState();
    const char *message;
    if (fixedSub(cool, margin) < indoor && (state == HVAC_STATE_COOL || state == HVAC_STATE_AUTO)) {
        work.coolSetPoint = fixedSub(indoor, fixedDiv(fixedSub(indoor, cool), c_RecoveryDivisor));
        message = "Setting computed recovery cool temp\r";
    } else if (fixedAdd(heat, margin) > indoor &&
               (state == HVAC_STATE_HEAT || state == HVAC_STATE_AUTO ||
                state == HVAC_STATE_EMERGENCY_HEAT)) {
        work.heatSetPoint = fixedAdd(indoor, fixedDiv(fixedSub(heat, indoor), c_RecoveryDivisor));
        message = "Setting computed recovery heat temp\r";
    } else {
        m_isRecoveryMode = 0;
        return;
    }
    setThermostatTemps(&work, &heat, &cool, &humidify, &dehumidify);

    int64_t now = util_time(nullptr);
    TstatSysCfgPersistMem_t &c = cfg();
    if (reCalcTime == 0 || now > reCalcTime) {
        c.recoveryTemp[0] = heat;
        c.recoveryTemp[1] = cool;
        printf("%s", message);
    }
    out->heatSetPoint = c.recoveryTemp[0];
    out->coolSetPoint = c.recoveryTemp[1];
    reCalcTime = now + c_RecoveryRecalcSeconds;
}

// Falls back from an expired vacation or hold to the program, and saves.
void endTemporaryMode() {
    setThermostatMode(TSTAT_MODE_PROGRAM);
    if (saveThermostatSysCfg() != 0) {
        puts("ERROR: saveThermostatSysCfg failed");
    }
}

bool isLeapYear(int yearSince1900) {
    int year = yearSince1900 + 1900;
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

} // namespace

int daysInMonth(int month, int yearSince1900) {
    switch (month) {
    case 3:  // April
    case 5:  // June
    case 8:  // September
    case 10: // November
        return 30;
    case 1: // February
        return isLeapYear(yearSince1900) ? 29 : 28;
    default:
        return 31;
    }
}

// ---- Setpoint rules ----------------------------------------------------------------------

void getThermostatTemps(fpr_t *heat, fpr_t *cool) {
    initialiseTStatFormat();
    const fpr_t minC = tempFahToCelConversion(g_MinSetPointTemp);
    const fpr_t maxC = tempFahToCelConversion(g_MaxSetPointTemp);
    const fpr_t deadband = convertDiffCelToFah(cfg().tstatCfg.deadband);
    switch (getHVACState()) {
    case HVAC_STATE_HEAT:
    case HVAC_STATE_AUTO:
        if (*heat < minC) {
            *heat = minC;
        } else if (*heat > maxC) {
            *heat = maxC;
        } else {
            return;
        }
        *cool = tempFahToCelConversion(fixedAdd(tempCelToFahConversion(*heat), deadband));
        break;
    case HVAC_STATE_COOL:
        if (*cool < minC) {
            *cool = minC;
        } else if (*cool > maxC) {
            *cool = maxC;
        } else {
            return;
        }
        *heat = tempFahToCelConversion(fixedSub(tempCelToFahConversion(*cool), deadband));
        break;
    default:
        break;
    }
}

namespace {

// The humidity set points the caller changed, each within its limit, the
// other one pushed to keep c_HumidityGap between them.
void setHumidities(const TstatSetPoint_t *in, bool humidifyChanged, bool dehumidifyChanged,
                   fpr_t *humidify, fpr_t *dehumidify) {
    if (dehumidifyChanged && in->dehumidifySetPoint >= c_MinDehumidify) {
        *dehumidify = in->dehumidifySetPoint;
        if (gapBelow(*dehumidify, *humidify, c_HumidityGap)) {
            *humidify = fixedSub(*dehumidify, c_HumidityGap);
        }
    }
    if (humidifyChanged && in->humidifySetPoint <= c_MaxHumidify) {
        *humidify = in->humidifySetPoint;
        if (gapBelow(*dehumidify, *humidify, c_HumidityGap)) {
            *dehumidify = fixedAdd(*humidify, c_HumidityGap);
        }
    }
}

} // namespace

void setThermostatTemps(const TstatSetPoint_t *in, fpr_t *heat, fpr_t *cool, fpr_t *humidify,
                        fpr_t *dehumidify) {
    initialiseTStatFormat();
    const fpr_t deadband = convertDiffCelToFah(cfg().tstatCfg.deadband);
    fpr_t lo = g_MinSetPointTemp;
    fpr_t hi = g_MaxSetPointTemp;
    if (getHVACState() == HVAC_STATE_AUTO) {
        lo = fixedSub(lo, deadband);
        hi = fixedAdd(hi, deadband);
    }
    const fpr_t minC = tempFahToCelConversion(g_MinSetPointTemp);
    const fpr_t maxC = tempFahToCelConversion(g_MaxSetPointTemp);

    // What changed is judged against the values as they were on entry, so
    // that a push of one setpoint by an earlier step is not mistaken for a
    // change the caller asked for.
    const bool coolChanged = in->coolSetPoint != *cool;
    const bool heatChanged = in->heatSetPoint != *heat;
    const bool dehumidifyChanged = in->dehumidifySetPoint != *dehumidify;
    const bool humidifyChanged = in->humidifySetPoint != *humidify;

    if (coolChanged) {
        if (in->coolSetPoint < minC) {
            *cool = minC;
            *heat = tempFahToCelConversion(lo);
        } else {
            *cool = in->coolSetPoint;
            if (tempCelToFahConversion(*cool) > hi) {
                *cool = tempFahToCelConversion(hi);
            }
            fpr_t coolDisplay = tempCelToFahConversion(*cool);
            if (gapBelow(coolDisplay, tempCelToFahConversion(*heat), deadband)) {
                *heat = tempFahToCelConversion(fixedSub(coolDisplay, deadband));
            }
        }
    }
    if (heatChanged) {
        if (in->heatSetPoint > maxC) {
            *heat = maxC;
            *cool = tempFahToCelConversion(hi);
        } else {
            // The read rule brings a low heat setpoint up to the limit; in
            // off and emergency heat it is used as stored, so it is kept
            // where a stored record may hold it.
            *heat = in->heatSetPoint < CFG_LOWEST_SETPOINT ? CFG_LOWEST_SETPOINT : in->heatSetPoint;
            fpr_t heatDisplay = tempCelToFahConversion(*heat);
            if (gapBelow(tempCelToFahConversion(*cool), heatDisplay, deadband)) {
                *cool = tempFahToCelConversion(fixedAdd(heatDisplay, deadband));
            }
        }
    }
    setHumidities(in, humidifyChanged, dehumidifyChanged, humidify, dehumidify);
}

// ---- Program, hold and vacation records ---------------------------------------------------

int getProgramThermostatSettings(uint32_t period, uint32_t day, TstatSetPoint_t *out) {
    if (period >= TSTAT_PERIODS_PER_DAY || day >= TSTAT_DAYS_PER_WEEK) {
        return -1;
    }
    TstatSetPoint_t &record = cfg().prgSetPnt[day].period[period];
    normalise(record);
    out->heatSetPoint = record.heatSetPoint;
    out->coolSetPoint = record.coolSetPoint;
    out->startHour = record.startHour;
    out->startMinute = record.startMinute;
    out->humidifySetPoint = record.humidifySetPoint;
    out->dehumidifySetPoint = record.dehumidifySetPoint;
    return 0;
}

int setProgramThermostatSettings(uint32_t period, uint32_t day, const TstatSetPoint_t *in) {
    if (period >= TSTAT_PERIODS_PER_DAY || day >= TSTAT_DAYS_PER_WEEK) {
        return -1;
    }
    TstatSysCfgPersistMem_t &c = cfg();
    TstatSetPoint_t &record = c.prgSetPnt[day].period[period];
    fpr_t heat = record.heatSetPoint;
    fpr_t cool = record.coolSetPoint;
    fpr_t humidify = record.humidifySetPoint;
    fpr_t dehumidify = record.dehumidifySetPoint;
    setThermostatTemps(in, &heat, &cool, &humidify, &dehumidify);
    record.heatSetPoint = heat;
    record.coolSetPoint = cool;
    record.humidifySetPoint = humidify;
    record.dehumidifySetPoint = dehumidify;
    record.startHour = in->startHour;
    record.startMinute = in->startMinute;
    c.tstatMode.holdSetPoint.humidifySetPoint = humidify;
    c.tstatMode.holdSetPoint.dehumidifySetPoint = dehumidify;
    c.tstatMode.vacationSetPoint.humidifySetPoint = humidify;
    c.tstatMode.vacationSetPoint.dehumidifySetPoint = dehumidify;
    return 0;
}

void getHoldThermostatSettings(TstatSetPoint_t *out) {
    TstatSetPoint_t &hold = cfg().tstatMode.holdSetPoint;
    normalise(hold);
    *out = hold;
}

void setHoldThermostatSettings(const TstatSetPoint_t *in) {
    writeTemperatures(cfg().tstatMode.holdSetPoint, in);
}

void getVacationThermostatSettings(TstatSetPoint_t *out) {
    TstatSetPoint_t &vacation = cfg().tstatMode.vacationSetPoint;
    normalise(vacation);
    *out = vacation;
}

void setVacationThermostatSettings(const TstatSetPoint_t *in) {
    TstatSetPoint_t &vacation = cfg().tstatMode.vacationSetPoint;
    writeTemperatures(vacation, in);
    vacation.startHour = in->startHour;
    vacation.startMinute = in->startMinute;
    vacation.endTime = in->endTime;
}

// ---- Mode ----------------------------------------------------------------------------------

void setThermostatMode(ThermostatMode mode) {
    TstatSysCfgPersistMem_t &c = cfg();
    if (mode != c.tstatMode.mode) {
        setModeChangeFlag();
    }
    c.tstatMode.mode = mode;
    if (mode != TSTAT_MODE_HOLD) {
        return;
    }
    TstatSetPoint_t &hold = c.tstatMode.holdSetPoint;
    struct tm date {};
    if (!toLocalTime(util_time(nullptr), &date)) {
        hold.endTime = 0;
        return;
    }
    // The hold ends where the next program period begins.
    int day = date.tm_wday;
    int inForce = periodOfDay(day, date.tm_hour, date.tm_min);
    int nextPeriod = 0;
    if (inForce < 0) {
        // Before today's first period: yesterday's last one is in force.
        nextPeriod = 0;
    } else if (inForce == c_LastPeriod) {
        nextPeriod = 0;
        day = (day + 1) % TSTAT_DAYS_PER_WEEK;
        SetHoldModeSetpoint(&date);
    } else {
        nextPeriod = inForce + 1;
    }
    const TstatSetPoint_t &next = c.prgSetPnt[day].period[nextPeriod];
    hold.startHour = next.startHour;
    hold.startMinute = next.startMinute;
    date.tm_hour = next.startHour;
    date.tm_min = next.startMinute;
    date.tm_sec = 0;
    date.tm_isdst = -1;
    time_t end = mktime(&date);
    hold.endTime = end == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(end);
}

void SetHoldModeSetpoint(struct tm *date) {
    date->tm_mday++;
    if (date->tm_mday > daysInMonth(date->tm_mon, date->tm_year)) {
        date->tm_mday = 1;
        date->tm_mon++;
        if (date->tm_mon > 11) {
            date->tm_mon = 0;
            date->tm_year++;
        }
    }
}

int getCurrentThermostatSettings(TstatSetPoint_t *out) {
    TstatSysCfgPersistMem_t &c = cfg();
    const ThermostatMode mode = c.tstatMode.mode;
    if (mode == TSTAT_MODE_PERMANENT_HOLD) {
        getHoldThermostatSettings(out);
        return 0;
    }
    if (mode != TSTAT_MODE_PROGRAM && mode != TSTAT_MODE_VACATION && mode != TSTAT_MODE_HOLD) {
        return -1;
    }
    int64_t now = util_time(nullptr);
    struct tm local {};
    if (!toLocalTime(now, &local)) {
        return -1;
    }
    if (mode == TSTAT_MODE_VACATION) {
        if (c.tstatMode.vacationSetPoint.endTime > now) {
            getVacationThermostatSettings(out);
            return 0;
        }
        endTemporaryMode();
    } else if (mode == TSTAT_MODE_HOLD) {
        if (c.tstatMode.holdSetPoint.endTime > now) {
            getHoldThermostatSettings(out);
            return 0;
        }
        endTemporaryMode();
    }
    return getProgramThermostatSettingsByTime(&local, out);
}

int getProgramThermostatSettingsByTime(const struct tm *localTime, TstatSetPoint_t *out) {
    if (localTime->tm_wday < 0 || localTime->tm_wday >= TSTAT_DAYS_PER_WEEK ||
        localTime->tm_hour < 0 || localTime->tm_hour > 23 || localTime->tm_min < 0 ||
        localTime->tm_min > 59) {
        return -1;
    }
    int day = localTime->tm_wday;
    int period = periodOfDay(day, localTime->tm_hour, localTime->tm_min);
    if (period < 0) {
        period = c_LastPeriod;
        day = (day + TSTAT_DAYS_PER_WEEK - 1) % TSTAT_DAYS_PER_WEEK;
    }
    setCurrentProgramModeSettings(static_cast<uint8_t>(period), static_cast<uint8_t>(day));
    getProgramThermostatSettings(static_cast<uint32_t>(period), static_cast<uint32_t>(day), out);

    int nextPeriod = period + 1;
    int nextDay = day;
    if (period == c_LastPeriod) {
        nextPeriod = 0;
        nextDay = (day + 1) % TSTAT_DAYS_PER_WEEK;
    }
    const TstatSysCfgPersistMem_t &c = cfg();
    updateRecoveryMode(c.prgSetPnt[day].period[period], c.prgSetPnt[nextDay].period[nextPeriod],
                       nextPeriod, localTime);
    applyComfortRecovery(nextPeriod, nextDay, out);
    return 0;
}

// ---- Volatile schedule state ----------------------------------------------------------------

void getCurrentProgramModeSettings(uint8_t *period, uint8_t *day) {
    *period = m_ProgSetPointType;
    *day = m_ProgDayOfWeek;
}

void setCurrentProgramModeSettings(uint8_t period, uint8_t day) {
    m_ProgSetPointType = period;
    m_ProgDayOfWeek = day;
}

uint8_t getRecoveryMode() {
    return m_isRecoveryMode;
}
void setRecoveryMode(uint8_t on) {
    m_isRecoveryMode = on;
}

void getRecoveryTemp(TstatSetPoint_t *out) {
    out->heatSetPoint = cfg().recoveryTemp[0];
    out->coolSetPoint = cfg().recoveryTemp[1];
}

void setRecoveryTemp(const TstatSetPoint_t *in) {
    cfg().recoveryTemp[0] = in->heatSetPoint;
    cfg().recoveryTemp[1] = in->coolSetPoint;
}

void scheduleReset() {
    m_ProgSetPointType = 0;
    m_ProgDayOfWeek = 0;
    m_isRecoveryMode = 0;
    reCalcTime = 0;
    g_IsZapCommand = 0;
}
