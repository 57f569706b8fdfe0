// The thermostat data dictionary: typed getters and setters over the record
// image, the volatile values, the page refresh-request set, the clock
// operations and the filter-change reminder.
#include "config/data_dict.h"

#include "config/sys_cfg_image.h"
#include "core/util.h"
#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

// Cycle rate reported while diagnostic mode is on: makes the cycle period 0.
constexpr uint8_t c_DiagnosticCycleRate = 61;
// Years since 1900 up to which the running clock is taken to have lost its year (2007).
constexpr int c_LastLostClockYear = 107;
constexpr int64_t c_SecondsPerHour = 3600;
constexpr int64_t c_SecondsPerDay = 86400;
constexpr uint32_t c_MaxFilterChangeDays = 180;

fpr_t m_MovAvgIndTemp;
uint8_t m_AvgTempSet;
fpr_t m_MovAvgHum;
uint8_t m_AvgHumSet;
uint32_t m_DiagModeState;
uint8_t m_LedStatus;
// 0 is an active alert, so a unit starts with none until the controller
// raises one.
constexpr uint32_t c_NoWeatherAlert = 1;
uint32_t m_CurrentWeatherAlert = c_NoWeatherAlert;
std::array<char, KORABUS_VERSION_SIZE> m_KorabusFirmwareVersionString;
uint8_t m_KorabusVersionSet;
std::array<uint32_t, DISPLAY_PAGE_COUNT> m_KorabusUpdate;
uint8_t m_ModeChange;
const BusReportHooks *m_BusReports = nullptr;
void (*m_HumidifyStateHook)() = nullptr;

TstatSysCfgPersistMem_t &cfg() {
    return tstatSysCfgImage();
}

} // namespace

// ---- Whole sub-records ------------------------------------------------------------

void getLockoutConfiguration(TstatLockoutCfg_t *out) {
    *out = cfg().lockoutCfg;
}
void setLockoutConfiguration(const TstatLockoutCfg_t *in) {
    cfg().lockoutCfg = *in;
}
void getTstatConfiguration(TstatCfg_t *out) {
    *out = cfg().tstatCfg;
}
bool configuredHeatPump() {
    return isHeatPumpType(cfg().tstatCfg.systemType);
}
void setTstatConfiguration(const TstatCfg_t *in) {
    cfg().tstatCfg = *in;
}
void getThermostatBacklightSettings(TstatBkLightCtl_t *out) {
    *out = cfg().bkLightCtl;
}
void setThermostatBacklightSettings(const TstatBkLightCtl_t *in) {
    cfg().bkLightCtl = *in;
}
void getHvacSettings(TstatHvacSettings_t *out) {
    *out = cfg().hvacSettings;
}
void setHvacSettings(const TstatHvacSettings_t *in) {
    cfg().hvacSettings = *in;
}
void getThermostatFormatSettings(TstatFmtSettings_t *out) {
    *out = cfg().tstatFmtSettings;
}
void setThermostatFormatSettings(const TstatFmtSettings_t *in) {
    cfg().tstatFmtSettings = *in;
}

// ---- Partial sub-records ------------------------------------------------------------

void getAdvSetupSettings(TstatCfg_t *out) {
    const TstatCfg_t &c = cfg().tstatCfg;
    out->systemType = c.systemType;
    out->externalTempSensor = c.externalTempSensor;
    out->internalTempSensor = c.internalTempSensor;
    out->humiditySensor = c.humiditySensor;
    out->cycleRate = c.cycleRate;
}

void setAdvSetupSettings(const TstatCfg_t *in) {
    TstatCfg_t &c = cfg().tstatCfg;
    c.systemType = in->systemType;
    c.externalTempSensor = in->externalTempSensor;
    c.internalTempSensor = in->internalTempSensor;
    c.humiditySensor = in->humiditySensor;
    c.cycleRate = in->cycleRate;
}

void getTstatSetupDifferential(TstatCfg_t *out) {
    const TstatCfg_t &c = cfg().tstatCfg;
    out->firstStageDiff = c.firstStageDiff;
    out->secondStageDiff = c.secondStageDiff;
    out->deadband = c.deadband;
    out->tempOffset = c.tempOffset;
}

void setTstatSetupDifferential(const TstatCfg_t *in) {
    TstatCfg_t &c = cfg().tstatCfg;
    c.firstStageDiff = in->firstStageDiff;
    c.secondStageDiff = in->secondStageDiff;
    c.deadband = in->deadband;
    c.tempOffset = in->tempOffset;
}

void getTstatSetupBalancePt(TstatHvacSettings_t *out) {
    out->balancePoint = cfg().hvacSettings.balancePoint;
}
void setTstatSetupBalancePt(const TstatHvacSettings_t *in) {
    cfg().hvacSettings.balancePoint = in->balancePoint;
}

// ---- Scalars -------------------------------------------------------------------------

uint16_t getSecurityCode() {
    return cfg().securityCode;
}
void setSecurityCode(uint16_t code) {
    cfg().securityCode = code;
}
uint8_t getKorabusAddress() {
    return cfg().korabusAddress;
}
void setKorabusAddress(uint8_t address) {
    cfg().korabusAddress = address;
}
FanState getFanState() {
    return cfg().hvacSettings.fanState;
}
void setFanState(FanState state) {
    cfg().hvacSettings.fanState = state;
}
FanSpeed getFanSpeed() {
    return cfg().hvacSettings.fanSpeed;
}
void setFanSpeed(FanSpeed speed) {
    cfg().hvacSettings.fanSpeed = speed;
}
HvacState getHVACState() {
    return cfg().hvacSettings.hvacState;
}
void setHVACState(HvacState state) {
    cfg().hvacSettings.hvacState = state;
}
FossilFuelType getFossilFuelType() {
    return cfg().hvacSettings.fossilFuelType;
}
void setFossilFuelType(FossilFuelType type) {
    cfg().hvacSettings.fossilFuelType = type;
}
fpr_t getTstatTempOffset() {
    return cfg().tstatCfg.tempOffset;
}
SensorState getHumiditySensorState() {
    return cfg().tstatCfg.humiditySensor;
}

uint8_t getCycleRate() {
    return m_DiagModeState != 0 ? c_DiagnosticCycleRate : cfg().tstatCfg.cycleRate;
}
void setCycleRate(uint8_t rate) {
    cfg().tstatCfg.cycleRate = rate;
}
uint16_t getHeatPumpSwitchOverTime() {
    return cfg().tstatCfg.heatPumpSwitchOverTime;
}
void setHeatPumpSwitchOverTime(uint16_t minutes) {
    cfg().tstatCfg.heatPumpSwitchOverTime = minutes;
}
FeatureState getCurrentForecastState() {
    return cfg().featureCtl.currentForecastState;
}
void setCurrentForecastState(FeatureState state) {
    cfg().featureCtl.currentForecastState = state;
}
FeatureState getFiveDayForecastState() {
    return cfg().featureCtl.fiveDayForecastState;
}
void setFiveDayForecastState(FeatureState state) {
    cfg().featureCtl.fiveDayForecastState = state;
}
FeatureState getWeatherAlertFeature() {
    return cfg().featureCtl.weatherAlertFeature;
}
void setWeatherAlertFeature(FeatureState state) {
    cfg().featureCtl.weatherAlertFeature = state;
}
FeatureState getFilterChangeState() {
    return cfg().featureCtl.filterChangeState;
}
void setFilterChangeState(FeatureState state) {
    cfg().featureCtl.filterChangeState = state;
}
FeatureState getScrSaverState() {
    return cfg().featureCtl.scrSaverState;
}
void setScrSaverState(FeatureState state) {
    cfg().featureCtl.scrSaverState = state;
}
HumidifyState getHumidifyState() {
    return cfg().humidifyState;
}

void setHumidifyState(HumidifyState state) {
    cfg().humidifyState = state;
    if (m_HumidifyStateHook != nullptr) {
        m_HumidifyStateHook();
    }
}

OffOnState getHelpModeState() {
    return cfg().helpModeState;
}
void setHelpModeState(OffOnState state) {
    cfg().helpModeState = state;
}
OffOnState getComfortRecoveryModeState() {
    return cfg().comfortRecoveryModeState;
}
void setComfortRecoveryModeState(OffOnState state) {
    cfg().comfortRecoveryModeState = state;
}
uint8_t getHumidityOffset() {
    return cfg().humidityOffset;
}
void setHumidityOffset(uint8_t offset) {
    cfg().humidityOffset = offset;
}
void setClockYear(uint16_t yearSince1900) {
    cfg().clockYear = yearSince1900;
}
ThermostatMode getThermostatMode() {
    return cfg().tstatMode.mode;
}

// ---- Volatile values -------------------------------------------------------------------

uint8_t getMovAvgIndTemp(fpr_t *temp) {
    *temp = m_MovAvgIndTemp;
    return m_AvgTempSet;
}

void setMovAvgIndTemp(fpr_t temp) {
    m_MovAvgIndTemp = temp;
    m_AvgTempSet = 1;
}

uint8_t getMovAvgHum(fpr_t *humidity) {
    *humidity = m_MovAvgHum;
    return m_AvgHumSet;
}

void setMovAvgHum(fpr_t humidity) {
    m_MovAvgHum = humidity;
    m_AvgHumSet = 1;
}

uint32_t getDiagnosticModeSetting() {
    return m_DiagModeState;
}
void setDiagnosticModeSetting(uint32_t on) {
    m_DiagModeState = on;
}
uint8_t getLedStatus() {
    return m_LedStatus;
}
void setLedStatus(uint8_t status) {
    m_LedStatus = status;
}
uint32_t getWeatherAlertState() {
    return m_CurrentWeatherAlert;
}
void setWeatherAlertState(uint32_t alert) {
    m_CurrentWeatherAlert = alert;
}

const char *getKorabusVersion() {
    return m_KorabusFirmwareVersionString.data();
}

void setKorabusVersion(const char *text) {
    m_KorabusFirmwareVersionString.fill('\0');
    if (text != nullptr) {
        // At most 9 characters survive: the last byte is always the terminator.
        size_t len = strnlen(text, m_KorabusFirmwareVersionString.size() - 1);
        memcpy(m_KorabusFirmwareVersionString.data(), text, len);
    }
    m_KorabusVersionSet = 1;
}

uint8_t isKorabusVersionSet() {
    return m_KorabusVersionSet;
}

void getKorabusDataDictUpdate(uint32_t update[DISPLAY_PAGE_COUNT]) {
    std::copy(m_KorabusUpdate.begin(), m_KorabusUpdate.end(), update);
}

void setKorabusDataDictUpdate(const uint32_t update[DISPLAY_PAGE_COUNT]) {
    std::copy(update, update + DISPLAY_PAGE_COUNT, m_KorabusUpdate.begin());
}

void setModeChangeFlag() {
    m_ModeChange = 1;
}

uint8_t takeModeChangeFlag() {
    uint8_t flag = m_ModeChange;
    m_ModeChange = 0;
    return flag;
}

void setBusReportHooks(const BusReportHooks *hooks) {
    m_BusReports = hooks;
}

namespace {
void callBusReport(void (*BusReportHooks::*which)()) {
    if (m_BusReports != nullptr && m_BusReports->*which != nullptr) {
        (m_BusReports->*which)();
    }
}
} // namespace

void reportModeSaved() {
    callBusReport(&BusReportHooks::modeSaved);
}

void reportFormatsChanged() {
    callBusReport(&BusReportHooks::formatsChanged);
}

void reportMessageCleared() {
    callBusReport(&BusReportHooks::messageCleared);
}

void setHumidifyStateHook(void (*changed)()) {
    m_HumidifyStateHook = changed;
}

// ---- Clock ----------------------------------------------------------------------------------

int getClockConfiguration(TstatClockCfg_t *clock) {
    TstatSysCfgPersistMem_t &c = cfg();
    int64_t now = util_time(nullptr);
    time_t seconds = static_cast<time_t>(now);
    struct tm local {};
    if (now == -1 || localtime_r(&seconds, &local) == nullptr) {
        // Day 0 makes the record one that no date command accepts, so a caller
        // that writes it back cannot set the clock to a made-up date.
        *clock = TstatClockCfg_t{};
        clock->year = c.clockYear;
        return -1;
    }
    int year = local.tm_year;
    // A clock that lost its year reports the last year the record knew of; a
    // record that knows no later year than the clock leaves the clock's own.
    if (year <= c_LastLostClockYear && c.clockYear > c_LastLostClockYear) {
        year = c.clockYear;
    }
    c.clockYear = static_cast<uint16_t>(year);
    clock->month = static_cast<uint8_t>(local.tm_mon);
    clock->day = static_cast<uint8_t>(local.tm_mday);
    clock->year = static_cast<uint16_t>(year);
    clock->hour = static_cast<uint8_t>(local.tm_hour);
    clock->minute = static_cast<uint8_t>(local.tm_min);
    clock->second = static_cast<uint8_t>(local.tm_sec);
    clock->weekday = static_cast<uint8_t>(local.tm_wday);
    return 0;
}

int setClockConfiguration(const TstatClockCfg_t *clock) {
    char command[40];
    snprintf(command, sizeof(command), "date %02u%02u%02u%02u%04u.%02u",
             static_cast<unsigned>(clock->month), static_cast<unsigned>(clock->day),
             static_cast<unsigned>(clock->hour), static_cast<unsigned>(clock->minute),
             static_cast<unsigned>(clock->year), static_cast<unsigned>(clock->second));
    int status = platformSystem(command);
    if (status == 0 && platformSystem("/sbin/hwclock --systohc") != 0) {
        puts("ERROR: failed setting hardware clock");
    }
    if (clock->year >= 1900) {
        cfg().clockYear = static_cast<uint16_t>(clock->year - 1900);
    }
    return status == 0 ? 0 : -1;
}

// ---- Filter-change reminder -------------------------------------------------------------------

void setTstatFilterChMaxHourTime(uint16_t hours) {
    TstatSysCfgPersistMem_t &c = cfg();
    c.filterChangeMaxHourTime = hours;
    c.filterChangeEndTime = util_time(nullptr) + static_cast<int64_t>(hours) * c_SecondsPerHour;
}

uint16_t getTstatFilterChMaxHourTime() {
    return cfg().filterChangeMaxHourTime;
}
int64_t getTstatFilterChangeEndTime() {
    return cfg().filterChangeEndTime;
}

uint32_t getTstatFilterChangeDays() {
    int64_t now = util_time(nullptr);
    int64_t due = cfg().filterChangeEndTime;
    if (now >= due) {
        return 0;
    }
    // Unsigned: a due time far in the future must not overflow the difference.
    uint64_t remaining = static_cast<uint64_t>(due) - static_cast<uint64_t>(now);
    uint64_t days = remaining / c_SecondsPerDay + (remaining % c_SecondsPerDay != 0 ? 1 : 0);
    return static_cast<uint32_t>(std::min<uint64_t>(days, c_MaxFilterChangeDays));
}

void setTstatFilterChangeDays(uint8_t days) {
    setTstatFilterChMaxHourTime(static_cast<uint16_t>(days * 24));
}

void dataDictReset() {
    m_MovAvgIndTemp = 0;
    m_AvgTempSet = 0;
    m_MovAvgHum = 0;
    m_AvgHumSet = 0;
    m_DiagModeState = 0;
    m_LedStatus = 0;
    m_CurrentWeatherAlert = c_NoWeatherAlert;
    m_KorabusFirmwareVersionString.fill('\0');
    m_KorabusVersionSet = 0;
    m_KorabusUpdate.fill(0);
    m_ModeChange = 0;
}
