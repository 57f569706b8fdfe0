// Schedule, hold, vacation and comfort recovery: which heat, cool, humidify
// and dehumidify setpoints are in force at any moment.
//
// The weekly program has seven days (0 = Sunday) of four periods each; a
// period stays in force until the next one begins, across midnight. The hold
// setting lasts until the next program period (mode 2) or for good (mode 3);
// the vacation setting until its end time. Temporary modes fall back to the
// program by themselves, with a save, when their end time passes. Comfort
// recovery raises (or lowers) the setpoint in the two hours before a comfort
// period (0 or 2) begins.
//
// Every read of a program, hold or vacation record normalises its heat and cool
// setpoints (getThermostatTemps) and every write goes through the write rule
// (setThermostatTemps): limits, deadband and the 5 % humidity gap. Changes stay
// in memory until a caller saves.
#pragma once

#include "config/data_dict.h"
#include "config/persist.h"
#include "core/fixed_point.h"

#include <cstdint>
#include <ctime>

// Set to 1 by the control bus's factory-reset command; comfort recovery stays
// off from then until the program restarts.
extern uint8_t g_IsZapCommand;

// ---- Program, hold and vacation records ------------------------------------------

// Normalises the period's heat/cool (stored back), then copies heat, cool,
// start hour and minute, humidify and dehumidify to out (its end time is left
// alone). -1, with out untouched, for a period above 3 or a day above 6.
int getProgramThermostatSettings(uint32_t period, uint32_t day, TstatSetPoint_t *out);
// Applies the write rule to the period's four setpoints and stores them with
// in's start hour and minute; the resulting humidify and dehumidify setpoints
// also go into the hold and vacation settings. -1 for a period or day out of range.
int setProgramThermostatSettings(uint32_t period, uint32_t day, const TstatSetPoint_t *in);

// Normalises the hold heat/cool (stored back) and copies the whole hold record.
void getHoldThermostatSettings(TstatSetPoint_t *out);
// Write rule on heat and cool; humidify and dehumidify stored as given. The
// start and end are setThermostatMode's.
void setHoldThermostatSettings(const TstatSetPoint_t *in);

void getVacationThermostatSettings(TstatSetPoint_t *out);
// Write rule on heat and cool; humidify, dehumidify, start hour and minute
// (remaining days and hours) and end time stored as given.
void setVacationThermostatSettings(const TstatSetPoint_t *in);

// ---- Mode ----------------------------------------------------------------------------

// Stores the mode, raising the mode-change flag when it differs from the stored
// one. Entering TSTAT_MODE_HOLD sets the hold's end to the start of the next
// program period in local time (end time 0 when that time cannot be formed).
void setThermostatMode(ThermostatMode mode);

// The setpoints in force now. Vacation and hold whose end time has passed fall
// back to the program and the record is saved. 0, or -1 (out untouched) for a
// stored mode above 3 or a clock that cannot be read.
int getCurrentThermostatSettings(TstatSetPoint_t *out);

// Schedule evaluation at the given local time (hour, minute and weekday are
// used): the period in force, with comfort recovery applied to its heat and
// cool. -1 (out untouched) when the time's fields are out of range.
int getProgramThermostatSettingsByTime(const struct tm *localTime, TstatSetPoint_t *out);

// ---- Setpoint rules --------------------------------------------------------------------

// Read rule on a stored heat/cool pair (in/out): in heat or automatic state the
// heat setpoint is clamped into the setpoint limits, in cool state the cool
// setpoint; the other follows at the deadband. Off and emergency heat: unchanged.
void getThermostatTemps(fpr_t *heat, fpr_t *cool);
// Write rule: the values of `in` that differ from the current ones (in/out) are
// applied in the order cool, heat, dehumidify, humidify, keeping the setpoint
// limits, the deadband and a humidify/dehumidify gap of 5 %.
void setThermostatTemps(const TstatSetPoint_t *in, fpr_t *heat, fpr_t *cool, fpr_t *humidify,
                        fpr_t *dehumidify);

// Advances a broken-down date (tm_mday, tm_mon, tm_year) by one day.
void SetHoldModeSetpoint(struct tm *date);
// Days in a month (0 = January) of a year counted from 1900.
int daysInMonth(int month, int yearSince1900);

// ---- Volatile schedule state -------------------------------------------------------------

// Period (0-3) and day (0-6) last found in force by the schedule evaluation.
void getCurrentProgramModeSettings(uint8_t *period, uint8_t *day);
void setCurrentProgramModeSettings(uint8_t period, uint8_t day);

// 1 while comfort recovery is in progress.
uint8_t getRecoveryMode();
void setRecoveryMode(uint8_t on);

// The persisted recovery heat and cool setpoints, exchanged as the heat and
// cool fields of a setpoint record (its other fields are not touched).
void getRecoveryTemp(TstatSetPoint_t *out);
void setRecoveryTemp(const TstatSetPoint_t *in);

// Forgets the volatile schedule state, including g_IsZapCommand. For tests.
void scheduleReset();
