// Helpers shared by the channel, level and command handlers of the control bus.
#pragma once

#include "config/persist.h"
#include "dispman/display_manager.h"

#include <cstdint>

// Raises the refresh request of one display page, so that the display
// manager drops the page's pending edits and reloads it from the
// configuration. Requests still pending for other pages are kept.
void korabusRequestPageRefresh(DisplayPage page);

// Saves the configuration record, reporting a failure on standard output.
void korabusSave();

// Writes the humidify and dehumidify setpoints into all 28 program periods
// (which also carries them into hold and vacation), requests the program
// page's refresh and saves.
void korabusIncDecHumiditySetpoint(fpr_t humidify, fpr_t dehumidify);
