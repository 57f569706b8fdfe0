// The configuration store's one in-memory record image, shared by the files
// of this subsystem only (persist, data dictionary, schedule). Other
// subsystems reach the record through data_dict.h and schedule.h.
#pragma once

#include "config/persist.h"
#include "core/fixed_point.h"

// The setpoints a stored record may hold, in °C: the limits of either scale
// (7.0 to 32.0 C, 45 to 90 F) widened by the largest deadband (2.5 C, 5 F),
// as the setpoint rules may push a setpoint in automatic mode: 40 F to 95 F.
// A record holding a setpoint outside them is taken for damaged at load.
constexpr fpr_t CFG_LOWEST_SETPOINT = fprConst(4, 44000000);
constexpr fpr_t CFG_HIGHEST_SETPOINT = fprConst(35, 0);

// The record image owned by persist.cpp.
TstatSysCfgPersistMem_t &tstatSysCfgImage();
