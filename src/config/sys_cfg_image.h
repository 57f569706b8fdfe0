// The configuration store's one in-memory record image, shared by the files
// of this subsystem only (persist, data dictionary, schedule). Other
// subsystems reach the record through data_dict.h and schedule.h.
#pragma once

#include "config/persist.h"

// The record image owned by persist.cpp.
TstatSysCfgPersistMem_t &tstatSysCfgImage();
