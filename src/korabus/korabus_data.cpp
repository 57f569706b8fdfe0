// Control-bus channels and levels: the channel and level tables with their
// read handlers (thermostat state to bus) and write handlers (bus to
// thermostat state), the poll that sends what changed, and the incoming
// updates from the coprocessor.
//
// Each entry remembers the value last exchanged with the bus. A poll reads
// every outgoing entry and sends it when it differs, so a write that the
// thermostat refuses or overrides is answered with the real state at the
// next poll. Four groups of channels are mutually exclusive (fan speed, fan
// state, system mode, humidify state): exactly one member of a group reads
// ON, and a member switched OFF from the bus is switched ON again.
#include "korabus/korabus_data.h"

#include "config/data_dict.h"
#include "config/forecast.h"
#include "config/schedule.h"
#include "config/temp_scale.h"
#include "coproc/coproc_msg.h"
#include "hvac/hvac_control.h"
#include "hvac/relay_control.h"
#include "korabus/korabus_command.h"
#include "korabus/korabus_internal.h"
#include "mfgtest/mfgtest.h"
#include "pages/menu_pages.h"
#include "platform/platform.h"

#include <array>
#include <cstdio>

namespace {

// Read handlers return 1 with the value, or 0 when there is no value yet
// (the entry is then left alone); write handlers take the value from the bus.
using KorabusRead = int (*)(uint32_t *value);
using KorabusWrite = void (*)(uint32_t *value);

// Channel flags: send as packet 0x03, accept from the bus, send as packet 0x13.
constexpr uint8_t CH_SEND_03 = 0x01;
constexpr uint8_t CH_IN = 0x02;
constexpr uint8_t CH_SEND_13 = 0x04;
constexpr uint8_t CH_OUT = CH_SEND_13;
constexpr uint8_t CH_IN_OUT = CH_IN | CH_SEND_13;
// Level flags: send changes, accept from the bus.
constexpr uint8_t LV_OUT = 0x01;
constexpr uint8_t LV_IN = 0x02;
constexpr uint8_t LV_IN_OUT = LV_IN | LV_OUT;

struct KorabusChannel {
    uint8_t number;
    uint8_t lastState;
    KorabusRead read;
    KorabusWrite write;
    uint8_t flags;
    uint8_t offMirror;
    uint8_t forceSend;
};

struct KorabusLevel {
    uint8_t number;
    uint32_t lastValue;
    KorabusRead read;
    KorabusWrite write;
    uint8_t flags;
};

// Relay-status channels, sent once at start-up whatever their state.
constexpr uint8_t c_FirstRelayChannel = 240;
constexpr uint8_t c_LastRelayChannel = 250;
constexpr uint8_t c_EmergencyHeatChannel = 223;

// ---- Mutually exclusive groups ---------------------------------------------------------

enum GroupId : uint8_t { GROUP_FAN_SPEED, GROUP_FAN_STATE, GROUP_HVAC, GROUP_HUMIDIFY };

uint32_t getHvacMode() {
    TstatHvacSettings_t settings;
    getHvacSettings(&settings);
    return settings.hvacState;
}
void setHvacMode(uint32_t mode) {
    TstatHvacSettings_t settings;
    getHvacSettings(&settings);
    settings.hvacState = static_cast<HvacState>(mode);
    setHvacSettings(&settings);
}
uint32_t getFanSpeedValue() {
    return getFanSpeed();
}
void setFanSpeedValue(uint32_t v) {
    setFanSpeed(static_cast<FanSpeed>(v));
}
uint32_t getFanStateValue() {
    return getFanState();
}
void setFanStateValue(uint32_t v) {
    setFanState(static_cast<FanState>(v));
}
uint32_t getHumidifyValue() {
    return getHumidifyState();
}
void setHumidifyValue(uint32_t v) {
    setHumidifyState(static_cast<HumidifyState>(v));
}

struct Group {
    uint32_t (*get)();
    void (*set)(uint32_t);
    // Fan and system mode changes reach the control frame and the settings page.
    bool controlSetting;
};

// clang-format off
constexpr std::array<Group, 4> c_Groups = {{
    {getFanSpeedValue, setFanSpeedValue, true},
    {getFanStateValue, setFanStateValue, true},
    {getHvacMode,      setHvacMode,      true},
    {getHumidifyValue, setHumidifyValue, false},
}};

struct GroupMember {
    uint8_t channel;
    GroupId group;
    uint32_t value;
};

constexpr GroupMember c_GroupMembers[] = {
    {209, GROUP_FAN_SPEED, FAN_SPEED_LOW},
    {210, GROUP_FAN_SPEED, FAN_SPEED_MEDIUM},
    {211, GROUP_FAN_SPEED, FAN_SPEED_HIGH},
    {214, GROUP_FAN_STATE, FAN_STATE_ON},
    {215, GROUP_FAN_STATE, FAN_STATE_AUTO},
    {219, GROUP_HVAC, HVAC_STATE_AUTO},
    {220, GROUP_HVAC, HVAC_STATE_COOL},
    {221, GROUP_HVAC, HVAC_STATE_HEAT},
    {222, GROUP_HVAC, HVAC_STATE_OFF},
    {223, GROUP_HVAC, HVAC_STATE_EMERGENCY_HEAT},
    {228, GROUP_HUMIDIFY, HUMIDIFY_STATE_AUTO},
    {229, GROUP_HUMIDIFY, HUMIDIFY_STATE_DEHUMIDIFY},
    {230, GROUP_HUMIDIFY, HUMIDIFY_STATE_HUMIDIFY},
    {231, GROUP_HUMIDIFY, HUMIDIFY_STATE_OFF},
};
// clang-format on

const GroupMember *findMember(uint8_t channel) {
    for (const GroupMember &m : c_GroupMembers) {
        if (m.channel == channel) {
            return &m;
        }
    }
    return nullptr;
}

KorabusChannel *findChannel(uint8_t number);

void setOffMirror(uint8_t channel, uint8_t off) {
    KorabusChannel *entry = findChannel(channel);
    if (entry != nullptr) {
        entry->offMirror = off;
    }
}

int readMember(uint8_t channel, uint32_t *state) {
    const GroupMember *m = findMember(channel);
    *state = c_Groups[m->group].get() == m->value ? 1 : 0;
    setOffMirror(channel, *state != 0 ? 0 : 1);
    return 1;
}

// Emergency heat exists only on heat pumps.
bool emergencyHeatAvailable() {
    return configuredHeatPump();
}

// Answers a refused emergency-heat request with the real states: the mode
// in force is sent ON again and channel 223 OFF.
void refuseEmergencyHeat() {
    for (uint8_t channel = 219; channel <= 222; channel++) {
        KorabusChannel *entry = findChannel(channel);
        entry->forceSend = entry->offMirror == 0 ? 1 : 0;
    }
    setOffMirror(c_EmergencyHeatChannel, 1);
}

void writeMember(uint8_t channel, const uint32_t *state) {
    if (*state == 0) {
        // Released: nothing changes; the next poll sends the channel ON again.
        setOffMirror(channel, 1);
        return;
    }
    if (channel == c_EmergencyHeatChannel && !emergencyHeatAvailable()) {
        refuseEmergencyHeat();
        return;
    }
    const GroupMember *m = findMember(channel);
    const Group &group = c_Groups[m->group];
    group.set(m->value);
    if (group.controlSetting) {
        korabusRequestPageRefresh(PAGE_SETTINGS);
        initialiseHvacAlgorithms();
    }
    for (const GroupMember &other : c_GroupMembers) {
        if (other.group == m->group) {
            setOffMirror(other.channel, other.channel == channel ? 0 : 1);
        }
    }
    korabusSave();
}

// ---- Setpoint and humidity steps ---------------------------------------------------------

// Stores the stepped setpoints as the hold setting and requests the hold
// page's refresh. The record is saved, so the change survives a restart and
// the mode report goes out when the mode changed.
void korabusIncDecSetpoint(const TstatSetPoint_t *setPoints) {
    TstatSetPoint_t hold;
    getHoldThermostatSettings(&hold);
    hold.heatSetPoint = setPoints->heatSetPoint;
    hold.coolSetPoint = setPoints->coolSetPoint;
    setHoldThermostatSettings(&hold);
    korabusRequestPageRefresh(PAGE_HOLD);
    korabusSave();
}

void stepTemperatureSetpoint(bool cool, bool up, const uint32_t *state) {
    if (*state == 0) {
        return;
    }
    TstatSetPoint_t inForce;
    if (getCurrentThermostatSettings(&inForce) != 0) {
        return;
    }
    if (getThermostatMode() != TSTAT_MODE_PERMANENT_HOLD) {
        setThermostatMode(TSTAT_MODE_HOLD);
    }
    initialiseTStatFormat();
    fpr_t display = tempCelToFahConversion(cool ? inForce.coolSetPoint : inForce.heatSetPoint);
    fpr_t stepped = display;
    if ((up ? fprAdd(display, g_SetPointTempRes, &stepped)
            : fprSub(display, g_SetPointTempRes, &stepped)) != 0) {
        stepped = display;
    }
    if (stepped > g_MaxSetPointTemp) {
        stepped = g_MaxSetPointTemp;
    } else if (stepped < g_MinSetPointTemp) {
        stepped = g_MinSetPointTemp;
    }
    if (cool) {
        inForce.coolSetPoint = tempFahToCelConversion(stepped);
    } else {
        inForce.heatSetPoint = tempFahToCelConversion(stepped);
    }
    korabusIncDecSetpoint(&inForce);
}

void stepHumiditySetpoint(bool dehumidify, bool up, const uint32_t *state) {
    if (*state == 0) {
        return;
    }
    TstatSetPoint_t inForce;
    if (getCurrentThermostatSettings(&inForce) != 0) {
        return;
    }
    constexpr fpr_t hundred = 100 * FPR_ONE;
    fpr_t setPoint = dehumidify ? inForce.dehumidifySetPoint : inForce.humidifySetPoint;
    int64_t stepped = static_cast<int64_t>(setPoint) + (up ? FPR_ONE : -FPR_ONE);
    // Past either end the setpoint wraps round to the other.
    if (stepped > hundred) {
        stepped = 0;
    } else if (stepped < 0) {
        stepped = hundred;
    }
    if (dehumidify) {
        inForce.dehumidifySetPoint = static_cast<fpr_t>(stepped);
    } else {
        inForce.humidifySetPoint = static_cast<fpr_t>(stepped);
    }
    korabusIncDecHumiditySetpoint(inForce.humidifySetPoint, inForce.dehumidifySetPoint);
}

// ---- Channel handlers ----------------------------------------------------------------------

void korabusChannelWriteWeatherAlert(uint32_t *state) {
    // An alert state of 0 is an active alert.
    setWeatherAlertState(*state != 0 ? 0 : 1);
    korabusSave();
}

void korabusChannelWriteIncrementCoolSetpoint(uint32_t *state) {
    stepTemperatureSetpoint(true, true, state);
}
void korabusChannelWriteDecrementCoolSetpoint(uint32_t *state) {
    stepTemperatureSetpoint(true, false, state);
}
void korabusChannelWriteIncrementHeatSetpoint(uint32_t *state) {
    stepTemperatureSetpoint(false, true, state);
}
void korabusChannelWriteDecrementHeatSetpoint(uint32_t *state) {
    stepTemperatureSetpoint(false, false, state);
}
void korabusChannelWriteIncrementHumidifySetpoint(uint32_t *state) {
    stepHumiditySetpoint(false, true, state);
}
void korabusChannelWriteDecrementHumidifySetpoint(uint32_t *state) {
    stepHumiditySetpoint(false, false, state);
}
void korabusChannelWriteIncrementDehumidifySetpoint(uint32_t *state) {
    stepHumiditySetpoint(true, true, state);
}
void korabusChannelWriteDecrementDehumidifySetpoint(uint32_t *state) {
    stepHumiditySetpoint(true, false, state);
}

// The mutually exclusive groups: one read and one write handler per member.
#define KORABUS_GROUP_CHANNEL(readName, writeName, channel)                                        \
    int readName(uint32_t *state) {                                                                \
        return readMember(channel, state);                                                         \
    }                                                                                              \
    void writeName(uint32_t *state) {                                                              \
        writeMember(channel, state);                                                               \
    }

KORABUS_GROUP_CHANNEL(korabusChannelReadFanSpeedLow, korabusChannelWriteFanSpeedLow, 209)
KORABUS_GROUP_CHANNEL(korabusChannelReadFanSpeedMed, korabusChannelWriteFanSpeedMedium, 210)
KORABUS_GROUP_CHANNEL(korabusChannelReadFanSpeedHigh, korabusChannelWriteFanSpeedHigh, 211)
KORABUS_GROUP_CHANNEL(korabusChannelReadFanStateOn, korabusChannelWriteFanStateOn, 214)
KORABUS_GROUP_CHANNEL(korabusChannelReadFanStateAuto, korabusChannelWriteFanStateAuto, 215)
KORABUS_GROUP_CHANNEL(korabusChannelReadHvacStateAuto, korabusChannelWriteHvacStateAuto, 219)
KORABUS_GROUP_CHANNEL(korabusChannelReadHvacStateCool, korabusChannelWriteHvacStateCool, 220)
KORABUS_GROUP_CHANNEL(korabusChannelReadHvacStateHeat, korabusChannelWriteHvacStateHeat, 221)
KORABUS_GROUP_CHANNEL(korabusChannelReadHvacStateOff, korabusChannelWriteHvacStateOff, 222)
KORABUS_GROUP_CHANNEL(korabusChannelReadHvacStateEmergHeat, korabusChannelWriteHvacStateEmergHeat,
                      223)
KORABUS_GROUP_CHANNEL(korabusChannelReadHumidifyStateAuto, korabusChannelWriteHumidifyStateAuto,
                      228)
KORABUS_GROUP_CHANNEL(korabusChannelReadHumidifyStateDehum, korabusChannelWriteHumidifyStateDehum,
                      229)
KORABUS_GROUP_CHANNEL(korabusChannelReadHumidifyStateHum, korabusChannelWriteHumidifyStateHum, 230)
KORABUS_GROUP_CHANNEL(korabusChannelReadHumidifyStateOff, korabusChannelWriteHumidifyStateOff, 231)

#undef KORABUS_GROUP_CHANNEL

int korabusChannelReadLockoutState(uint32_t *state) {
    TstatLockoutCfg_t lockout;
    getLockoutConfiguration(&lockout);
    *state = lockout.buttonLockout == LOCK_LOCKED ? 1 : 0;
    return 1;
}

void korabusChannelWriteLockoutState(uint32_t *state) {
    TstatLockoutCfg_t lockout;
    getLockoutConfiguration(&lockout);
    lockout.buttonLockout = *state != 0 ? LOCK_LOCKED : LOCK_UNLOCKED;
    setLockoutConfiguration(&lockout);
    korabusRequestPageRefresh(PAGE_BUTTON_LOCKOUT);
    getButtonLockoutFromDataDict();
    korabusSave();
}

int korabusChannelReadFanStatus(uint32_t *state) {
    *state = RlyCntl_GetFanSpeed() != FAN_SPEED_OFF ? 1 : 0;
    return 1;
}

int readOperation(uint32_t *state, uint32_t mode) {
    *state = hvacAlgorithmGetCurrentSytemMode() == mode ? 1 : 0;
    return 1;
}
int korabusChannelReadHvacCoolStatus(uint32_t *state) {
    return readOperation(state, HVAC_STATE_COOL);
}
int korabusChannelReadHvacHeatStatus(uint32_t *state) {
    return readOperation(state, HVAC_STATE_HEAT);
}
int korabusChannelReadHvacEmergHeatStatus(uint32_t *state) {
    return readOperation(state, HVAC_STATE_EMERGENCY_HEAT);
}

int korabusChannelReadDehumidifyStatus(uint32_t *state) {
    *state = RlyCntl_GetDeh() == 1 ? 1 : 0;
    return 1;
}
int korabusChannelReadHumidifyStatus(uint32_t *state) {
    *state = RlyCntl_GetHum() == 1 ? 1 : 0;
    return 1;
}

int korabusChannelReadFilterChangeReminder(uint32_t *state) {
    *state = getFilterChangeState() == FEATURE_ENABLE && getTstatFilterChangeDays() == 0 ? 1 : 0;
    return 1;
}

// Relay contacts as the relay driver holds them.
#define KORABUS_RELAY_CHANNEL(name, getter)                                                        \
    int name(uint32_t *state) {                                                                    \
        *state = getter();                                                                         \
        return 1;                                                                                  \
    }
KORABUS_RELAY_CHANNEL(korabusChannelReadRelayStatusO, RlyCntl_GetOBnot)
KORABUS_RELAY_CHANNEL(korabusChannelReadRelayStatusY1, RlyCntl_GetY1)
KORABUS_RELAY_CHANNEL(korabusChannelReadRelayStatusY2, RlyCntl_GetY2)
KORABUS_RELAY_CHANNEL(korabusChannelReadRelayStatusW1, RlyCntl_GetW1E)
KORABUS_RELAY_CHANNEL(korabusChannelReadRelayStatusW2, RlyCntl_GetW2)
KORABUS_RELAY_CHANNEL(korabusChannelReadRelayStatusDEH, RlyCntl_GetDeh)
KORABUS_RELAY_CHANNEL(korabusChannelReadRelayStatusHUM, RlyCntl_GetHum)
KORABUS_RELAY_CHANNEL(korabusChannelReadRelayStatusG1, RlyCntl_GetG1)
KORABUS_RELAY_CHANNEL(korabusChannelReadRelayStatusG2, RlyCntl_GetG2)
KORABUS_RELAY_CHANNEL(korabusChannelReadRelayStatusG3, RlyCntl_GetG3)
#undef KORABUS_RELAY_CHANNEL

int korabusChannelReadRelayStatusB(uint32_t *state) {
    *state = RlyCntl_GetOBnot() != 0 ? 0 : 1;
    return 1;
}

// ---- Level handlers ----------------------------------------------------------------------

int korabusLevelReadIndoorTemperature(uint32_t *value) {
    fpr_t indoor;
    // Before the first reading there is no temperature to report.
    if (getMovAvgIndTemp(&indoor) == 0) {
        return 0;
    }
    initialiseTStatFormat();
    fpr_t display = tempCelToFahConversion(indoor);
    fpr_t corrected = display;
    if (fprSub(display, getTstatTempOffset(), &corrected) != 0) {
        corrected = display;
    }
    int16_t rounded = korabusRoundFpr(corrected);
    bool shown = rounded >= getMinIndoorTemp() && rounded <= getMaxIndoorTemp();
    *value = korabusTempFromDisplayDegrees(shown ? corrected : display);
    return 1;
}

int korabusLevelReadIndoorHumidity(uint32_t *value) {
    fpr_t humidity;
    if (getMovAvgHum(&humidity) == 0) {
        return 0;
    }
    *value = static_cast<uint32_t>(korabusHumidityFromRelativeHumidity(humidity));
    return 1;
}

int readSetpointInForce(uint32_t *value, bool cool) {
    TstatSetPoint_t inForce;
    if (getCurrentThermostatSettings(&inForce) != 0) {
        return 0;
    }
    *value = korabusTempFromDegreesCelsius(cool ? inForce.coolSetPoint : inForce.heatSetPoint);
    return 1;
}
int korabusLevelReadCurrentHeatSetpoint(uint32_t *value) {
    return readSetpointInForce(value, false);
}
int korabusLevelReadCurrentCoolSetpoint(uint32_t *value) {
    return readSetpointInForce(value, true);
}

// A new hold setpoint from the bus; the thermostat holds it until the next
// program period, also when it was in permanent hold. Saved, so that the
// setpoint survives a restart and the mode report goes out. The write rule
// holds it within the setpoint limits and pushes the other setpoint to keep
// the deadband.
void writeHoldSetpoint(const uint32_t *value, bool cool) {
    fpr_t celsius = korabusTempToDegreesCelsius(static_cast<uint8_t>(*value));
    TstatSetPoint_t hold;
    getHoldThermostatSettings(&hold);
    if (cool) {
        hold.coolSetPoint = celsius;
    } else {
        hold.heatSetPoint = celsius;
    }
    setHoldThermostatSettings(&hold);
    korabusRequestPageRefresh(PAGE_HOLD);
    setThermostatMode(TSTAT_MODE_HOLD);
    korabusSave();
}
void korabusLevelWriteHeatSetpoint(uint32_t *value) {
    writeHoldSetpoint(value, false);
}
void korabusLevelWriteCoolSetpoint(uint32_t *value) {
    writeHoldSetpoint(value, true);
}

void korabusLevelWriteOutdoorTemperature(uint32_t *value) {
    TstatCurrentForecast_t current;
    getCurrentForecast(&current);
    current.outdoorTemp = korabusTempToDegreesCelsius(static_cast<uint8_t>(*value));
    setCurrentForecast(&current);
    forecastMarkReceived(FORECAST_OUTDOOR);
}

void korabusLevelWriteBarometricPressure(uint32_t *value) {
    setBarometricPressure(korabusPressureToCentimeters(static_cast<uint8_t>(*value)));
}

void writeForecastToday(const uint32_t *value, bool high) {
    TstatFiveDayForecast_t forecast;
    getFiveDayForecast(&forecast);
    fpr_t celsius = korabusTempToDegreesCelsius(static_cast<uint8_t>(*value));
    if (high) {
        forecast.highTemp[0] = celsius;
    } else {
        forecast.lowTemp[0] = celsius;
    }
    setFiveDayForecast(&forecast);
    forecastMarkReceived(high ? forecastDayHigh(0) : forecastDayLow(0));
}
void korabusLevelWriteHighForecastTemperature(uint32_t *value) {
    writeForecastToday(value, true);
}
void korabusLevelWriteLowForecastTemperature(uint32_t *value) {
    writeForecastToday(value, false);
}

// ---- Tables ---------------------------------------------------------------------------------

// clang-format off
KorabusChannel g_korabusChannels[] = {
    {139, 0, nullptr, korabusChannelWriteWeatherAlert, CH_IN, 0, 0},
    {140, 0, nullptr, korabusChannelWriteIncrementCoolSetpoint, CH_IN, 0, 0},
    {141, 0, nullptr, korabusChannelWriteDecrementCoolSetpoint, CH_IN, 0, 0},
    {143, 0, nullptr, korabusChannelWriteIncrementHeatSetpoint, CH_IN, 0, 0},
    {144, 0, nullptr, korabusChannelWriteDecrementHeatSetpoint, CH_IN, 0, 0},
    {148, 0, nullptr, korabusChannelWriteIncrementHumidifySetpoint, CH_IN, 0, 0},
    {149, 0, nullptr, korabusChannelWriteDecrementHumidifySetpoint, CH_IN, 0, 0},
    {150, 0, nullptr, korabusChannelWriteIncrementDehumidifySetpoint, CH_IN, 0, 0},
    {151, 0, nullptr, korabusChannelWriteDecrementDehumidifySetpoint, CH_IN, 0, 0},
    {209, 0, korabusChannelReadFanSpeedLow, korabusChannelWriteFanSpeedLow, CH_IN_OUT, 0, 0},
    {210, 0, korabusChannelReadFanSpeedMed, korabusChannelWriteFanSpeedMedium, CH_IN_OUT, 0, 0},
    {211, 0, korabusChannelReadFanSpeedHigh, korabusChannelWriteFanSpeedHigh, CH_IN_OUT, 0, 0},
    {212, 0, korabusChannelReadLockoutState, korabusChannelWriteLockoutState, CH_IN_OUT, 0, 0},
    {214, 0, korabusChannelReadFanStateOn, korabusChannelWriteFanStateOn, CH_IN_OUT, 0, 0},
    {215, 0, korabusChannelReadFanStateAuto, korabusChannelWriteFanStateAuto, CH_IN_OUT, 0, 0},
    {216, 0, korabusChannelReadFanStatus, nullptr, CH_OUT, 0, 0},
    {219, 0, korabusChannelReadHvacStateAuto, korabusChannelWriteHvacStateAuto, CH_IN_OUT, 0, 0},
    {220, 0, korabusChannelReadHvacStateCool, korabusChannelWriteHvacStateCool, CH_IN_OUT, 0, 0},
    {221, 0, korabusChannelReadHvacStateHeat, korabusChannelWriteHvacStateHeat, CH_IN_OUT, 0, 0},
    {222, 0, korabusChannelReadHvacStateOff, korabusChannelWriteHvacStateOff, CH_IN_OUT, 0, 0},
    {223, 0, korabusChannelReadHvacStateEmergHeat, korabusChannelWriteHvacStateEmergHeat, CH_IN_OUT, 0, 0},
    {224, 0, korabusChannelReadHvacCoolStatus, nullptr, CH_OUT, 0, 0},
    {225, 0, korabusChannelReadHvacHeatStatus, nullptr, CH_OUT, 0, 0},
    {227, 0, korabusChannelReadHvacEmergHeatStatus, nullptr, CH_OUT, 0, 0},
    {228, 0, korabusChannelReadHumidifyStateAuto, korabusChannelWriteHumidifyStateAuto, CH_IN_OUT, 0, 0},
    {229, 0, korabusChannelReadHumidifyStateDehum, korabusChannelWriteHumidifyStateDehum, CH_IN_OUT, 0, 0},
    {230, 0, korabusChannelReadHumidifyStateHum, korabusChannelWriteHumidifyStateHum, CH_IN_OUT, 0, 0},
    {231, 0, korabusChannelReadHumidifyStateOff, korabusChannelWriteHumidifyStateOff, CH_IN_OUT, 0, 0},
    {232, 0, korabusChannelReadDehumidifyStatus, nullptr, CH_OUT, 0, 0},
    {233, 0, korabusChannelReadHumidifyStatus, nullptr, CH_OUT, 0, 0},
    {160, 0, korabusChannelReadFilterChangeReminder, nullptr, CH_OUT, 0, 0},
    {240, 0, korabusChannelReadRelayStatusO, nullptr, CH_OUT, 0, 1},
    {241, 0, korabusChannelReadRelayStatusB, nullptr, CH_OUT, 0, 1},
    {242, 0, korabusChannelReadRelayStatusY1, nullptr, CH_OUT, 0, 1},
    {243, 0, korabusChannelReadRelayStatusY2, nullptr, CH_OUT, 0, 1},
    {244, 0, korabusChannelReadRelayStatusW1, nullptr, CH_OUT, 0, 1},
    {245, 0, korabusChannelReadRelayStatusW2, nullptr, CH_OUT, 0, 1},
    {246, 0, korabusChannelReadRelayStatusDEH, nullptr, CH_OUT, 0, 1},
    {247, 0, korabusChannelReadRelayStatusHUM, nullptr, CH_OUT, 0, 1},
    {248, 0, korabusChannelReadRelayStatusG1, nullptr, CH_OUT, 0, 1},
    {249, 0, korabusChannelReadRelayStatusG2, nullptr, CH_OUT, 0, 1},
    {250, 0, korabusChannelReadRelayStatusG3, nullptr, CH_OUT, 0, 1},
    {0, 0, nullptr, nullptr, 0, 0, 0},
};

KorabusLevel g_korabusLevels[] = {
    {1, 0, korabusLevelReadIndoorTemperature, nullptr, LV_OUT},
    {2, 0, korabusLevelReadIndoorHumidity, nullptr, LV_OUT},
    {3, 0, korabusLevelReadCurrentHeatSetpoint, korabusLevelWriteHeatSetpoint, LV_IN_OUT},
    {4, 0, korabusLevelReadCurrentCoolSetpoint, korabusLevelWriteCoolSetpoint, LV_IN_OUT},
    {5, 0, nullptr, korabusLevelWriteOutdoorTemperature, LV_IN},
    {6, 0, nullptr, korabusLevelWriteBarometricPressure, LV_IN},
    {7, 0, nullptr, korabusLevelWriteHighForecastTemperature, LV_IN},
    {8, 0, nullptr, korabusLevelWriteLowForecastTemperature, LV_IN},
    {0, 0, nullptr, nullptr, 0},
};
// clang-format on

KorabusChannel *findChannel(uint8_t number) {
    for (KorabusChannel *entry = g_korabusChannels; entry->flags != 0; entry++) {
        if (entry->number == number) {
            return entry;
        }
    }
    return nullptr;
}

KorabusLevel *findLevel(uint8_t number) {
    for (KorabusLevel *entry = g_korabusLevels; entry->flags != 0; entry++) {
        if (entry->number == number) {
            return entry;
        }
    }
    return nullptr;
}

bool isRelayChannel(uint8_t number) {
    return number >= c_FirstRelayChannel && number <= c_LastRelayChannel;
}

} // namespace

void korabusInit() {
    static const CoprocBusHandlers c_BusHandlers{
        korabusDataUpdateChannelFromKorabus, korabusDataUpdateLevelFromKorabus,
        korabusDataProcessString, korabusDataProcessCommand};
    static const BusReportHooks c_BusReports{korabusReportModeCommand, korabusReportFormatCommand,
                                             korabusMessageScreenClearCommand};
    coprocMsgSetBusHandlers(&c_BusHandlers);
    setBusReportHooks(&c_BusReports);
}

void korabusRequestPageRefresh(DisplayPage page) {
    uint32_t update[DISPLAY_PAGE_COUNT];
    getKorabusDataDictUpdate(update);
    update[page % DISPLAY_PAGE_COUNT] = 1;
    setKorabusDataDictUpdate(update);
}

void korabusSave() {
    if (saveThermostatSysCfg() != 0) {
        puts("ERROR: saveThermostatSysCfg failed");
    }
}

void korabusIncDecHumiditySetpoint(fpr_t humidify, fpr_t dehumidify) {
    for (uint32_t day = 0; day < TSTAT_DAYS_PER_WEEK; day++) {
        for (uint32_t period = 0; period < TSTAT_PERIODS_PER_DAY; period++) {
            TstatSetPoint_t setPoint;
            if (getProgramThermostatSettings(period, day, &setPoint) != 0) {
                continue;
            }
            setPoint.humidifySetPoint = humidify;
            setPoint.dehumidifySetPoint = dehumidify;
            setProgramThermostatSettings(period, day, &setPoint);
        }
    }
    korabusRequestPageRefresh(PAGE_PROGRAM);
    korabusSave();
}

void korabusDataUpdateChannelFromKorabus(uint8_t channel, uint8_t state) {
    KorabusChannel *entry = findChannel(channel);
    if (entry == nullptr || (entry->flags & CH_IN) == 0 || entry->write == nullptr) {
        return;
    }
    uint32_t value = state;
    entry->write(&value);
    entry->lastState = state;
}

void korabusDataUpdateLevelFromKorabus(uint8_t level, uint32_t value) {
    KorabusLevel *entry = findLevel(level);
    if (entry == nullptr || (entry->flags & LV_IN) == 0 || entry->write == nullptr) {
        return;
    }
    uint32_t received = value;
    entry->write(&received);
    entry->lastValue = value;
}

// Strings from the coprocessor are answers to the manufacturing test's link
// test (step 1) and bus test (step 3); at any other time nobody waits for one.
void korabusDataProcessString(char *text) {
    if (g_MfgTestState == 1 || g_MfgTestState == 3) {
        set_mfg_test_resp(text);
    }
}

void korabusDataPollLevels() {
    const bool dump = isDumpLevels() != 0;
    for (KorabusLevel *entry = g_korabusLevels; entry->flags != 0; entry++) {
        if ((entry->flags & LV_OUT) == 0 || entry->read == nullptr) {
            continue;
        }
        uint32_t value = 0;
        if (entry->read(&value) == 0) {
            continue;
        }
        if (value == entry->lastValue && !dump) {
            continue;
        }
        entry->lastValue = value;
        coprocMsgSendLevel(entry->number, static_cast<uint8_t>(value & 0xFF));
        platformSleepMs(KORABUS_SEND_PAUSE_MS);
    }
}

void korabusDataPollChannels() {
    const bool dump = isDumpChannels() != 0;
    for (KorabusChannel *entry = g_korabusChannels; entry->flags != 0; entry++) {
        if ((entry->flags & (CH_SEND_03 | CH_SEND_13)) == 0 || entry->read == nullptr) {
            continue;
        }
        uint32_t state = 0;
        if (entry->read(&state) == 0) {
            continue;
        }
        if (state == entry->lastState && !dump && entry->forceSend == 0) {
            continue;
        }
        entry->lastState = static_cast<uint8_t>(state);
        uint8_t type = (entry->flags & CH_SEND_03) != 0 ? COPROC_PKT_SEND_CHANNEL
                                                        : COPROC_PKT_SEND_CHANNEL_ALT;
        coprocMsgSendChannel(type, entry->number, entry->lastState != 0 ? 1 : 0);
        platformSleepMs(KORABUS_SEND_PAUSE_MS);
        if (entry->forceSend == 1) {
            entry->forceSend = 0;
        }
    }
}

void korabusDataPoll() {
    korabusDataPollLevels();
    korabusDataPollChannels();
}

void korabusDataReset() {
    for (KorabusChannel *entry = g_korabusChannels; entry->flags != 0; entry++) {
        entry->lastState = 0;
        entry->offMirror = 0;
        entry->forceSend = isRelayChannel(entry->number) ? 1 : 0;
    }
    for (KorabusLevel *entry = g_korabusLevels; entry->flags != 0; entry++) {
        entry->lastValue = 0;
    }
}
