// The thermostat data dictionary: typed get/set operations over the
// configuration record, plus the volatile values that are never persisted.
//
// A getter copies a field or sub-record out of the in-memory record image; a
// setter copies the caller's value in and does nothing else: no range check,
// no save, no bus report, no page refresh request. A caller that changes the
// configuration saves it (saveThermostatSysCfg), marks the pages it changed
// from the bus (setKorabusDataDictUpdate) and calls initialiseHvacAlgorithms
// when the change affects control (setHumidifyState alone does that itself,
// through its hook). Enumerations are stored as given.
//
// Sub-record operations exchange a buffer laid out exactly like the
// sub-record (persist.h). The partial operations touch only their own fields
// of the caller's buffer and of the record.
#pragma once

#include "config/display_pages.h"
#include "config/persist.h"
#include "core/fixed_point.h"

#include <cstddef>
#include <cstdint>

// ---- Whole sub-records --------------------------------------------------------

void getLockoutConfiguration(TstatLockoutCfg_t *cfg);
void setLockoutConfiguration(const TstatLockoutCfg_t *cfg);
// Copies the stored cycleRate; the rate in force is getCycleRate().
void getTstatConfiguration(TstatCfg_t *cfg);
// Whether the configured system is a heat pump (isHeatPumpType).
bool configuredHeatPump();
void setTstatConfiguration(const TstatCfg_t *cfg);
void getThermostatBacklightSettings(TstatBkLightCtl_t *cfg);
void setThermostatBacklightSettings(const TstatBkLightCtl_t *cfg);
void getHvacSettings(TstatHvacSettings_t *cfg);
void setHvacSettings(const TstatHvacSettings_t *cfg);
void getThermostatFormatSettings(TstatFmtSettings_t *cfg);
void setThermostatFormatSettings(const TstatFmtSettings_t *cfg);

// ---- Partial sub-records --------------------------------------------------------

// systemType, externalTempSensor, internalTempSensor, humiditySensor, cycleRate.
void getAdvSetupSettings(TstatCfg_t *cfg);
void setAdvSetupSettings(const TstatCfg_t *cfg);
// firstStageDiff, secondStageDiff, deadband, tempOffset.
void getTstatSetupDifferential(TstatCfg_t *cfg);
void setTstatSetupDifferential(const TstatCfg_t *cfg);
// balancePoint.
void getTstatSetupBalancePt(TstatHvacSettings_t *cfg);
void setTstatSetupBalancePt(const TstatHvacSettings_t *cfg);

// ---- Scalars ---------------------------------------------------------------------

uint16_t getSecurityCode();
void setSecurityCode(uint16_t code);
uint8_t getKorabusAddress();
// Only from the coprocessor's bus-address message.
void setKorabusAddress(uint8_t address);
FanState getFanState();
void setFanState(FanState state);
FanSpeed getFanSpeed();
void setFanSpeed(FanSpeed speed);
HvacState getHVACState();
void setHVACState(HvacState state);
FossilFuelType getFossilFuelType();
void setFossilFuelType(FossilFuelType type);
fpr_t getTstatTempOffset();
SensorState getHumiditySensorState();
// 61 while diagnostic mode is on (the stored value is left alone), else the stored rate.
uint8_t getCycleRate();
void setCycleRate(uint8_t rate);
uint16_t getHeatPumpSwitchOverTime();
void setHeatPumpSwitchOverTime(uint16_t minutes);
FeatureState getCurrentForecastState();
void setCurrentForecastState(FeatureState state);
FeatureState getFiveDayForecastState();
void setFiveDayForecastState(FeatureState state);
FeatureState getWeatherAlertFeature();
void setWeatherAlertFeature(FeatureState state);
FeatureState getFilterChangeState();
void setFilterChangeState(FeatureState state);
FeatureState getScrSaverState();
void setScrSaverState(FeatureState state);
HumidifyState getHumidifyState();
// Stores the state, then hands the new configuration to the control frame
// (initialiseHvacAlgorithms).
void setHumidifyState(HumidifyState state);
OffOnState getHelpModeState();
void setHelpModeState(OffOnState state);
OffOnState getComfortRecoveryModeState();
void setComfortRecoveryModeState(OffOnState state);
uint8_t getHumidityOffset();
void setHumidityOffset(uint8_t offset);
void setClockYear(uint16_t yearSince1900);
// The setter, with its hold-end rules, is setThermostatMode (schedule.h).
ThermostatMode getThermostatMode();

// ---- Volatile values (zero at power-up, never persisted) ---------------------------

// Writes the moving-average indoor temperature (degrees Celsius) to *temp and
// returns 1, or returns 0 (and writes 0) while no reading has arrived.
uint8_t getMovAvgIndTemp(fpr_t *temp);
void setMovAvgIndTemp(fpr_t temp);
// The same for the moving-average relative humidity (percent).
uint8_t getMovAvgHum(fpr_t *humidity);
void setMovAvgHum(fpr_t humidity);

uint32_t getDiagnosticModeSetting();
void setDiagnosticModeSetting(uint32_t on);
uint8_t getLedStatus();
void setLedStatus(uint8_t status);
uint32_t getWeatherAlertState();
void setWeatherAlertState(uint32_t alert);

// Firmware version of the control-bus interface as reported by the
// coprocessor: at most 9 characters, always terminated.
constexpr size_t KORABUS_VERSION_SIZE = 10;
const char *getKorabusVersion();
void setKorabusVersion(const char *text);
uint8_t isKorabusVersionSet();

// Page refresh-request set: one entry per display page number; non-zero means
// the page's data was changed from the bus. Read and written whole.
void getKorabusDataDictUpdate(uint32_t update[DISPLAY_PAGE_COUNT]);
void setKorabusDataDictUpdate(const uint32_t update[DISPLAY_PAGE_COUNT]);

// Marks the thermostat mode as changed: the next save sends the mode report.
void setModeChangeFlag();
// Returns the mode-change flag and clears it (the save's test).
uint8_t takeModeChangeFlag();

// ---- Hooks to the layers above ------------------------------------------------------

// The store sits below the control and the control bus, but some of its
// changes must reach them: the control re-initialises when the humidity mode
// changes, and the bus reports a saved mode change, new display formats and
// a cleared message. The upper layer registers its function when it starts;
// until then the event is dropped. The pages raise the bus reports through
// the same calls.
struct BusReportHooks {
    void (*modeSaved)();
    void (*formatsChanged)();
    void (*messageCleared)();
};
void setBusReportHooks(const BusReportHooks *hooks);
void reportModeSaved();
void reportFormatsChanged();
void reportMessageCleared();
void setHumidifyStateHook(void (*changed)());

// ---- Clock -------------------------------------------------------------------------

#pragma pack(push, 1)
// Clock record. getClockConfiguration fills month 0-11 and the year counted
// from 1900; setClockConfiguration expects month 1-12 and the full year.
struct TstatClockCfg_t {
    uint8_t month;
    uint8_t day;
    uint16_t year;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint8_t weekday; // 0 = Sunday
};
#pragma pack(pop)
static_assert(sizeof(TstatClockCfg_t) == 8);
static_assert(offsetof(TstatClockCfg_t, year) == 2);
static_assert(offsetof(TstatClockCfg_t, weekday) == 7);

// The current local time. While the clock says a year before 2008 and the
// record remembers a later year, that year is reported instead; the reported
// year is written back to clockYear. Returns 0, or -1 when the clock cannot be
// read: the record then holds the remembered year and day 0, which
// setClockConfiguration's date command refuses.
int getClockConfiguration(TstatClockCfg_t *clock);

// Sets the system clock ("date MMDDhhmmYYYY.ss") and, when that succeeded,
// the hardware clock ("/sbin/hwclock --systohc"); stores year - 1900 in
// clockYear in every case. Returns 0 when the date command succeeded, -1 when
// it could not be started or failed.
int setClockConfiguration(const TstatClockCfg_t *clock);

// ---- Filter-change reminder ------------------------------------------------------------

// Stores the interval and restarts the reminder: due now + hours x 3600 s.
void setTstatFilterChMaxHourTime(uint16_t hours);
uint16_t getTstatFilterChMaxHourTime();
int64_t getTstatFilterChangeEndTime();
// Whole days left until the reminder is due, rounded up, at most 180; 0 once due.
uint32_t getTstatFilterChangeDays();
// Restarts the reminder with an interval of days x 24 hours.
void setTstatFilterChangeDays(uint8_t days);

// ---- Tests ---------------------------------------------------------------------------

// Forgets every volatile value (as at power-up). For tests.
void dataDictReset();
