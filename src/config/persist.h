// Persistent configuration record and the three flash regions that hold it.
//
// Everything the thermostat remembers across a power cycle is one packed,
// little-endian record of 974 bytes (TstatSysCfgPersistMem_t). The module
// keeps a single in-memory image of it, loads it at start-up from the user
// region (falling back to the read-only factory region), writes it back whole
// on save, and restores the factory image on request. A third region holds the
// unit's write-once serial-number record with its two checksum words.
//
// The flash regions are opened through platformPath(): on the board they are
// the MTD block devices, on the simulated board regular files under
// $TSTAT_ROOT. Field-level access goes through the data dictionary
// (data_dict.h) and the schedule (schedule.h); this header also carries the
// record layout so that tools can read a stored record.
#pragma once

#include "core/fixed_point.h"

#include <bit>
#include <cstddef>
#include <cstdint>

// The record is stored in the machine's own byte order, which on the board and
// on every supported host is little-endian, as the stored format requires.
static_assert(std::endian::native == std::endian::little,
              "the configuration record is stored little-endian");

// ---- Flash regions ----------------------------------------------------------

// Numeric identifiers of the three regions; every transfer starts at byte 0.
enum PersistRegionId : uint32_t {
    PERSIST_REGION_FACTORY = 0,   // "/dev/mtdblock4", read-only factory image
    PERSIST_REGION_USER = 4096,   // "/dev/mtdblock5", user configuration record
    PERSIST_REGION_SERIAL = 8192, // "/dev/mtdblock8", serial-number record
};

// Record identities (tstatSysCfgId).
constexpr uint32_t TSTAT_SYS_CFG_USER_ID = 0x515CF61Du;    // bytes 1D F6 5C 51
constexpr uint32_t TSTAT_SYS_CFG_FACTORY_ID = 0xFACDEF1Du; // bytes 1D EF CD FA

constexpr size_t TSTAT_SYS_CFG_SIZE = 974;
constexpr size_t TSTAT_SERIAL_NUMBER_LEN = 14;
constexpr size_t TSTAT_SERIAL_RECORD_SIZE = 18;
constexpr int TSTAT_DAYS_PER_WEEK = 7;
constexpr int TSTAT_PERIODS_PER_DAY = 4;

// ---- Enumerations stored in the record (each an unsigned 32-bit value) -------
// A loaded record may hold any 32-bit value in these fields; code that turns
// one into a table index must check the range first.

enum LockState : uint32_t { LOCK_LOCKED = 0, LOCK_UNLOCKED = 1 }; // "Lock"/"Unlock", "Yes"/"No"

enum SystemType : uint32_t {
    SYSTEM_TYPE_ONE_STG_FURNACE = 0,
    SYSTEM_TYPE_TWO_STG_FURNACE = 1,
    SYSTEM_TYPE_ROOF_TOP_UNIT = 2,
    SYSTEM_TYPE_BOILER_WITH_AC = 3,
    SYSTEM_TYPE_ONE_STG_HEAT_PUMP = 4,
    SYSTEM_TYPE_TWO_STG_HEAT_PUMP = 5,
    SYSTEM_TYPE_FLOOR_HEAT = 6,
};
constexpr uint32_t SYSTEM_TYPE_COUNT = 7;

// Heat pumps, of one or two stages, are the systems with emergency heat, an
// auxiliary heat stage and the heat pump's own fan rules.
constexpr bool isHeatPumpType(uint32_t systemType) {
    return systemType == SYSTEM_TYPE_ONE_STG_HEAT_PUMP ||
           systemType == SYSTEM_TYPE_TWO_STG_HEAT_PUMP;
}

enum ExternalTempSensor : uint32_t {
    EXT_TEMP_SENSOR_OUTDOOR = 0,
    EXT_TEMP_SENSOR_INDOOR = 1,
    EXT_TEMP_SENSOR_OFF = 2,
};

// "Internal Temp Sensor" and "Humidity Sensor".
enum SensorState : uint32_t { SENSOR_ON = 0, SENSOR_OFF = 1 };

enum BacklightActiveBrightness : uint32_t {
    BACKLIGHT_ACTIVE_LOW = 0,
    BACKLIGHT_ACTIVE_MED = 1,
    BACKLIGHT_ACTIVE_HIGH = 2,
};

enum BacklightInactiveBrightness : uint32_t {
    BACKLIGHT_INACTIVE_DIM = 0,
    BACKLIGHT_INACTIVE_OFF = 1
};

enum FanState : uint32_t { FAN_STATE_AUTO = 0, FAN_STATE_ON = 1 };

// FAN_SPEED_OFF is never stored; it is the relay driver's "all fan relays off".
enum FanSpeed : uint32_t {
    FAN_SPEED_HIGH = 0,
    FAN_SPEED_MEDIUM = 1,
    FAN_SPEED_LOW = 2,
    FAN_SPEED_OFF = 3,
};

// The system mode; the same numbers report the operation in progress, with
// HVAC_STATE_OFF meaning idle.
enum HvacState : uint32_t {
    HVAC_STATE_HEAT = 0,
    HVAC_STATE_COOL = 1,
    HVAC_STATE_AUTO = 2,
    HVAC_STATE_OFF = 3,
    HVAC_STATE_EMERGENCY_HEAT = 4,
};

enum FossilFuelType : uint32_t { FOSSIL_FUEL_ELECTRIC = 0, FOSSIL_FUEL_GAS = 1 };

// Any value other than TEMP_SCALE_FAHRENHEIT means Celsius.
enum TempScale : uint32_t { TEMP_SCALE_FAHRENHEIT = 0, TEMP_SCALE_CELSIUS = 1 };

enum DateFormat : uint32_t {
    DATE_FORMAT_DD_MM_YY = 0,
    DATE_FORMAT_MM_DD_YY = 1,
    DATE_FORMAT_YY_MM_DD = 2,
};

enum TimeFormat : uint32_t { TIME_FORMAT_12_HOUR = 0, TIME_FORMAT_24_HOUR = 1 };

// Optional pages and indicators: "Enable", "Disable".
enum FeatureState : uint32_t { FEATURE_ENABLE = 0, FEATURE_DISABLE = 1 };

// Thermostat mode.
enum ThermostatMode : uint32_t {
    TSTAT_MODE_PROGRAM = 0,
    TSTAT_MODE_VACATION = 1,
    TSTAT_MODE_HOLD = 2, // until the next program period
    TSTAT_MODE_PERMANENT_HOLD = 3,
};

// Installed humidity equipment and its use.
enum HumidifyState : uint32_t {
    HUMIDIFY_STATE_HUMIDIFY = 0,   // humidifier only
    HUMIDIFY_STATE_DEHUMIDIFY = 1, // dehumidifier only
    HUMIDIFY_STATE_AUTO = 2,       // both
    HUMIDIFY_STATE_OFF = 3,        // neither
};

// "Help Mode" and "Comfort Recovery": "Off", "On".
enum OffOnState : uint32_t { OFFON_OFF = 0, OFFON_ON = 1 };

// ---- Record layout ------------------------------------------------------------
// Temperatures are fixed-point degrees Celsius, differences Celsius degrees
// (except tempOffset, in degrees of the display scale), humidities fixed-point
// percent. Absolute times are signed 64-bit seconds since 1970-01-01 UTC.

#pragma pack(push, 1)

// Button lockout (record offsets 4-26). Lock times are minutes (0-60), the
// range limit whole degrees (0-10).
struct TstatLockoutCfg_t {
    LockState buttonLockout;
    LockState modeLock;
    uint16_t modeLockTime;
    LockState fanLock;
    uint16_t fanLockTime;
    LockState tempLock;
    uint16_t tempLockTimeLimit;
    uint8_t tempLockRangeLimit;
};

// Thermostat and equipment configuration (record offsets 30-68).
struct TstatCfg_t {
    SystemType systemType;
    fpr_t setpointMargin;
    fpr_t firstStageDiff;
    fpr_t secondStageDiff;
    fpr_t deadband;
    fpr_t tempOffset; // display-scale degrees
    ExternalTempSensor externalTempSensor;
    SensorState internalTempSensor;
    SensorState humiditySensor;
    uint8_t cycleRate;               // cycles per hour
    uint16_t heatPumpSwitchOverTime; // minutes
};

// Backlight control (record offsets 69-78).
struct TstatBkLightCtl_t {
    uint16_t backlightTimeout; // seconds
    BacklightActiveBrightness activeBrightness;
    BacklightInactiveBrightness inactiveBrightness;
};

// HVAC operating settings (record offsets 79-106).
struct TstatHvacSettings_t {
    FanState fanState;
    FanSpeed fanSpeed;
    HvacState hvacState;
    fpr_t balancePoint; // outdoor temperature
    FossilFuelType fossilFuelType;
    fpr_t humidityBandOffset;
    fpr_t humidityHysteresis;
};

// Display formats (record offsets 107-118).
struct TstatFmtSettings_t {
    TempScale tempScale;
    DateFormat dateFormat;
    TimeFormat timeFormat;
};

// Optional pages and indicators (record offsets 119-138).
struct TstatFeatureCtl_t {
    FeatureState currentForecastState;
    FeatureState fiveDayForecastState;
    FeatureState weatherAlertFeature;
    FeatureState filterChangeState;
    FeatureState scrSaverState;
};

// Setpoint record: one program period, the hold setting or the vacation
// setting. For a hold, start hour and minute are those of the period at which
// the hold ends; for a vacation they carry the remaining days and hours.
struct TstatSetPoint_t {
    fpr_t heatSetPoint;
    fpr_t coolSetPoint;
    uint8_t startHour;
    uint8_t startMinute;
    int64_t endTime; // hold and vacation end; unused in program periods
    fpr_t humidifySetPoint;
    fpr_t dehumidifySetPoint;
};

// Operating mode with the hold and vacation settings (record offsets 139-194).
struct TstatModeCfg_t {
    ThermostatMode mode;
    TstatSetPoint_t holdSetPoint;
    TstatSetPoint_t vacationSetPoint;
};

// One day of the weekly program: periods 0 to 3 (Wake, Leave, Return, Sleep).
struct TstatDaySetPoint_t {
    TstatSetPoint_t period[TSTAT_PERIODS_PER_DAY];
};

struct TstatSysCfgPersistMem_t {
    uint32_t tstatSysCfgId;
    TstatLockoutCfg_t lockoutCfg;
    uint16_t securityCode;
    uint8_t korabusAddress;
    TstatCfg_t tstatCfg;
    TstatBkLightCtl_t bkLightCtl;
    TstatHvacSettings_t hvacSettings;
    TstatFmtSettings_t tstatFmtSettings;
    TstatFeatureCtl_t featureCtl;
    TstatModeCfg_t tstatMode;
    TstatDaySetPoint_t prgSetPnt[TSTAT_DAYS_PER_WEEK]; // 0 = Sunday ... 6 = Saturday
    HumidifyState humidifyState;
    uint16_t filterChangeMaxHourTime; // hours
    int64_t filterChangeEndTime;
    uint16_t clockYear;     // calendar year minus 1900
    fpr_t recoveryTemp[2];  // computed recovery heat, then cool setpoint
    uint8_t reserved[18];   // never interpreted; kept as loaded
    uint8_t humidityOffset; // calibration of the on-board humidity reading
    OffOnState helpModeState;
    OffOnState comfortRecoveryModeState;
};

// Serial-number record (region 8192).
struct TstatSerialNumberCfg_t {
    uint16_t checksum;                             // 16-bit sum of the 14 serial bytes
    uint16_t checksumComplement;                   // ones' complement of the checksum
    uint8_t serialNumber[TSTAT_SERIAL_NUMBER_LEN]; // characters, not terminated
};

#pragma pack(pop)

static_assert(sizeof(TstatLockoutCfg_t) == 23);
static_assert(offsetof(TstatLockoutCfg_t, modeLock) == 4);
static_assert(offsetof(TstatLockoutCfg_t, modeLockTime) == 8);
static_assert(offsetof(TstatLockoutCfg_t, fanLock) == 10);
static_assert(offsetof(TstatLockoutCfg_t, fanLockTime) == 14);
static_assert(offsetof(TstatLockoutCfg_t, tempLock) == 16);
static_assert(offsetof(TstatLockoutCfg_t, tempLockTimeLimit) == 20);
static_assert(offsetof(TstatLockoutCfg_t, tempLockRangeLimit) == 22);

static_assert(sizeof(TstatCfg_t) == 39);
static_assert(offsetof(TstatCfg_t, setpointMargin) == 4);
static_assert(offsetof(TstatCfg_t, firstStageDiff) == 8);
static_assert(offsetof(TstatCfg_t, secondStageDiff) == 12);
static_assert(offsetof(TstatCfg_t, deadband) == 16);
static_assert(offsetof(TstatCfg_t, tempOffset) == 20);
static_assert(offsetof(TstatCfg_t, externalTempSensor) == 24);
static_assert(offsetof(TstatCfg_t, internalTempSensor) == 28);
static_assert(offsetof(TstatCfg_t, humiditySensor) == 32);
static_assert(offsetof(TstatCfg_t, cycleRate) == 36);
static_assert(offsetof(TstatCfg_t, heatPumpSwitchOverTime) == 37);

static_assert(sizeof(TstatBkLightCtl_t) == 10);
static_assert(offsetof(TstatBkLightCtl_t, activeBrightness) == 2);
static_assert(offsetof(TstatBkLightCtl_t, inactiveBrightness) == 6);

static_assert(sizeof(TstatHvacSettings_t) == 28);
static_assert(offsetof(TstatHvacSettings_t, fanSpeed) == 4);
static_assert(offsetof(TstatHvacSettings_t, hvacState) == 8);
static_assert(offsetof(TstatHvacSettings_t, balancePoint) == 12);
static_assert(offsetof(TstatHvacSettings_t, fossilFuelType) == 16);
static_assert(offsetof(TstatHvacSettings_t, humidityBandOffset) == 20);
static_assert(offsetof(TstatHvacSettings_t, humidityHysteresis) == 24);

static_assert(sizeof(TstatFmtSettings_t) == 12);
static_assert(offsetof(TstatFmtSettings_t, dateFormat) == 4);
static_assert(offsetof(TstatFmtSettings_t, timeFormat) == 8);

static_assert(sizeof(TstatFeatureCtl_t) == 20);
static_assert(offsetof(TstatFeatureCtl_t, fiveDayForecastState) == 4);
static_assert(offsetof(TstatFeatureCtl_t, weatherAlertFeature) == 8);
static_assert(offsetof(TstatFeatureCtl_t, filterChangeState) == 12);
static_assert(offsetof(TstatFeatureCtl_t, scrSaverState) == 16);

static_assert(sizeof(TstatSetPoint_t) == 26);
static_assert(offsetof(TstatSetPoint_t, coolSetPoint) == 4);
static_assert(offsetof(TstatSetPoint_t, startHour) == 8);
static_assert(offsetof(TstatSetPoint_t, startMinute) == 9);
static_assert(offsetof(TstatSetPoint_t, endTime) == 10);
static_assert(offsetof(TstatSetPoint_t, humidifySetPoint) == 18);
static_assert(offsetof(TstatSetPoint_t, dehumidifySetPoint) == 22);

static_assert(sizeof(TstatModeCfg_t) == 56);
static_assert(offsetof(TstatModeCfg_t, holdSetPoint) == 4);
static_assert(offsetof(TstatModeCfg_t, vacationSetPoint) == 30);

static_assert(sizeof(TstatDaySetPoint_t) == 104);

static_assert(sizeof(TstatSysCfgPersistMem_t) == TSTAT_SYS_CFG_SIZE);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatSysCfgId) == 0);
static_assert(offsetof(TstatSysCfgPersistMem_t, lockoutCfg) == 4);
static_assert(offsetof(TstatSysCfgPersistMem_t, lockoutCfg.buttonLockout) == 4);
static_assert(offsetof(TstatSysCfgPersistMem_t, lockoutCfg.modeLock) == 8);
static_assert(offsetof(TstatSysCfgPersistMem_t, lockoutCfg.modeLockTime) == 12);
static_assert(offsetof(TstatSysCfgPersistMem_t, lockoutCfg.fanLock) == 14);
static_assert(offsetof(TstatSysCfgPersistMem_t, lockoutCfg.fanLockTime) == 18);
static_assert(offsetof(TstatSysCfgPersistMem_t, lockoutCfg.tempLock) == 20);
static_assert(offsetof(TstatSysCfgPersistMem_t, lockoutCfg.tempLockTimeLimit) == 24);
static_assert(offsetof(TstatSysCfgPersistMem_t, lockoutCfg.tempLockRangeLimit) == 26);
static_assert(offsetof(TstatSysCfgPersistMem_t, securityCode) == 27);
static_assert(offsetof(TstatSysCfgPersistMem_t, korabusAddress) == 29);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatCfg) == 30);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatCfg.systemType) == 30);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatCfg.setpointMargin) == 34);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatCfg.firstStageDiff) == 38);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatCfg.secondStageDiff) == 42);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatCfg.deadband) == 46);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatCfg.tempOffset) == 50);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatCfg.externalTempSensor) == 54);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatCfg.internalTempSensor) == 58);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatCfg.humiditySensor) == 62);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatCfg.cycleRate) == 66);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatCfg.heatPumpSwitchOverTime) == 67);
static_assert(offsetof(TstatSysCfgPersistMem_t, bkLightCtl) == 69);
static_assert(offsetof(TstatSysCfgPersistMem_t, bkLightCtl.backlightTimeout) == 69);
static_assert(offsetof(TstatSysCfgPersistMem_t, bkLightCtl.activeBrightness) == 71);
static_assert(offsetof(TstatSysCfgPersistMem_t, bkLightCtl.inactiveBrightness) == 75);
static_assert(offsetof(TstatSysCfgPersistMem_t, hvacSettings) == 79);
static_assert(offsetof(TstatSysCfgPersistMem_t, hvacSettings.fanState) == 79);
static_assert(offsetof(TstatSysCfgPersistMem_t, hvacSettings.fanSpeed) == 83);
static_assert(offsetof(TstatSysCfgPersistMem_t, hvacSettings.hvacState) == 87);
static_assert(offsetof(TstatSysCfgPersistMem_t, hvacSettings.balancePoint) == 91);
static_assert(offsetof(TstatSysCfgPersistMem_t, hvacSettings.fossilFuelType) == 95);
static_assert(offsetof(TstatSysCfgPersistMem_t, hvacSettings.humidityBandOffset) == 99);
static_assert(offsetof(TstatSysCfgPersistMem_t, hvacSettings.humidityHysteresis) == 103);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatFmtSettings) == 107);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatFmtSettings.tempScale) == 107);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatFmtSettings.dateFormat) == 111);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatFmtSettings.timeFormat) == 115);
static_assert(offsetof(TstatSysCfgPersistMem_t, featureCtl) == 119);
static_assert(offsetof(TstatSysCfgPersistMem_t, featureCtl.currentForecastState) == 119);
static_assert(offsetof(TstatSysCfgPersistMem_t, featureCtl.fiveDayForecastState) == 123);
static_assert(offsetof(TstatSysCfgPersistMem_t, featureCtl.weatherAlertFeature) == 127);
static_assert(offsetof(TstatSysCfgPersistMem_t, featureCtl.filterChangeState) == 131);
static_assert(offsetof(TstatSysCfgPersistMem_t, featureCtl.scrSaverState) == 135);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatMode) == 139);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatMode.mode) == 139);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatMode.holdSetPoint) == 143);
static_assert(offsetof(TstatSysCfgPersistMem_t, tstatMode.vacationSetPoint) == 169);
static_assert(offsetof(TstatSysCfgPersistMem_t, prgSetPnt) == 195);
static_assert(offsetof(TstatSysCfgPersistMem_t, prgSetPnt[1]) == 299);
static_assert(offsetof(TstatSysCfgPersistMem_t, prgSetPnt[2]) == 403);
static_assert(offsetof(TstatSysCfgPersistMem_t, prgSetPnt[3]) == 507);
static_assert(offsetof(TstatSysCfgPersistMem_t, prgSetPnt[4]) == 611);
static_assert(offsetof(TstatSysCfgPersistMem_t, prgSetPnt[5]) == 715);
static_assert(offsetof(TstatSysCfgPersistMem_t, prgSetPnt[6]) == 819);
static_assert(offsetof(TstatSysCfgPersistMem_t, prgSetPnt[6].period[3]) == 195 + 104 * 6 + 26 * 3);
static_assert(offsetof(TstatSysCfgPersistMem_t, humidifyState) == 923);
static_assert(offsetof(TstatSysCfgPersistMem_t, filterChangeMaxHourTime) == 927);
static_assert(offsetof(TstatSysCfgPersistMem_t, filterChangeEndTime) == 929);
static_assert(offsetof(TstatSysCfgPersistMem_t, clockYear) == 937);
static_assert(offsetof(TstatSysCfgPersistMem_t, recoveryTemp) == 939);
static_assert(offsetof(TstatSysCfgPersistMem_t, reserved) == 947);
static_assert(offsetof(TstatSysCfgPersistMem_t, humidityOffset) == 965);
static_assert(offsetof(TstatSysCfgPersistMem_t, helpModeState) == 966);
static_assert(offsetof(TstatSysCfgPersistMem_t, comfortRecoveryModeState) == 970);

static_assert(sizeof(TstatSerialNumberCfg_t) == TSTAT_SERIAL_RECORD_SIZE);
static_assert(offsetof(TstatSerialNumberCfg_t, checksumComplement) == 2);
static_assert(offsetof(TstatSerialNumberCfg_t, serialNumber) == 4);

// ---- Flash transfers ------------------------------------------------------------

// Opens the three regions and keeps them open. Each region that cannot be
// opened is reported on standard output and keeps descriptor -1, so that
// every later transfer on it fails. Returns -1 only when neither the user nor
// the factory region could be opened (no configuration can be loaded at all);
// a missing serial region or a missing user region alone leaves start-up
// able to load the configuration, so they return 0 after the report.
int PersistUtil_Init();

// Reads exactly `length` bytes from byte 0 of the region into dest. 0 on
// success; -1 for an unknown region, a region that is not open, a read error,
// or a region that ends before `length` bytes.
int PersistUtil_RetrieveData(void *dest, PersistRegionId region, size_t length);

// Writes exactly `length` bytes at byte 0 of the user or serial region (the
// factory region is never written). A whole record stored to the user region
// is sealed: followed by a generation number, one more than the last save's,
// and the CRC-32 of the record and the generation (8 bytes, little-endian).
// It is first written, sealed alike, as a copy in the first erase block
// after the record's (its size from sysfs, /sys/class/mtd/mtdN/erasesize,
// else 256 KiB; at byte 4096 at the least), so that a save cut short, even
// between the erase of a block and its programming, leaves a whole record in
// one place or the other.
// After every write to the user region, whatever its outcome, the device is
// closed and reopened to commit the cached flash block. 0 when the bytes at
// byte 0 were written, -1 otherwise.
int PersistUtil_StoreData(PersistRegionId region, const void *src, size_t length);

// ---- The configuration record -----------------------------------------------

// Loads the record at start-up: of the record at the start of the user
// region and the copies at every place an erase size puts one (byte 4096,
// 8192, ... 16 MiB), the one of the highest generation that is whole (a
// copy's check word matches), carries the user identity and has every field
// within the range the pages, the bus and the control give it; a record or
// copy without a seal (written before seals) counts as generation 0, and of
// equal generations a copy wins. A record at the start out of range is
// reported by name. Else the factory region when it holds a complete record
// with the factory identity (kept with that identity until the next save)
// and every field in range; a factory record out of range is replaced, with
// a message, by the defaults built into the program (buildFactoryImage).
// Nothing is written: repairThermostatSysCfg does that.
// Returns 0 when a record was loaded, -1 when neither region held one; the
// image then holds the built-in defaults, and a message says so.
int initThermostatSysCfg();

// Start-up, right after initThermostatSysCfg: writes the user record it
// loaded back, with its generation, to whichever of the start of the user
// region and the copy's place did not hold it whole (damaged, cut short, of
// an older generation, or no copy there yet); the one that held it is left
// alone. 0 when nothing needed writing or every write succeeded, else -1
// with a message.
int repairThermostatSysCfg();

// Sends the mode report on the control bus if the thermostat mode changed
// since the last save, stamps the user identity and writes the whole record to
// the user region. Returns the store's result.
int saveThermostatSysCfg();

// Replaces the user configuration with the factory image: on success the
// image holds the factory record stamped with the user identity and that is
// stored; a factory record out of range is replaced by the built-in defaults.
// Returns -1, leaving both the image and the user region unchanged, when the
// factory region cannot be read or does not carry the factory identity.
int restoreTstatSysCfgFactoryDefault();

// Copies the whole in-memory image out (for diagnostics, tools and tests).
void copyThermostatSysCfg(TstatSysCfgPersistMem_t *out);

// ---- Serial number ----------------------------------------------------------------

// 16-bit sum (modulo 65536) of the 14 serial-number bytes.
uint16_t serialNumberChecksum(const uint8_t serial[TSTAT_SERIAL_NUMBER_LEN]);

// 1 when both checksum words of the record match its serial bytes.
int serialNumberRecordValid(const TstatSerialNumberCfg_t *record);

// Reads the serial record into its in-memory copy and copies the 14 serial
// bytes to dest (also when the checksum fails). 0 valid, -1 read failure,
// -2 checksum mismatch. An empty region (blank flash on the simulated board)
// reads as erased flash: 0xFF bytes, checksum mismatch.
int getSerialNumber(uint8_t dest[TSTAT_SERIAL_NUMBER_LEN]);

// Write-once: stores the serial with its checksum words only when no valid
// serial is stored. 0 when a valid serial is already present (nothing
// written), -1 on a read failure (nothing written), else the store's result.
int setSerialNumber(const uint8_t serial[TSTAT_SERIAL_NUMBER_LEN]);

// ---- Diagnostics and tests ------------------------------------------------------

// Prints the offset of each top-level field, then of each program day, as
// "TstatSysCfgPersistMem_t->field: 0x%04x (%d)".
void tscDumpStructOffsets();

// Closes the regions and forgets the image and the serial copy (all zero). For tests.
void PersistUtil_Reset();
