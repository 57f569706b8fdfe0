// A thermostat as the control bus meets it, for the bus tests, fuzz targets
// and benchmarks: a factory image of the chosen equipment loaded as at
// start-up, every module state reset, the fake clock on a Monday at 07:00
// UTC, and a command string handed over as the coprocessor does.
#pragma once

#include "board_root.h"
#include "config/factory_image.h"

#include <cstdint>
#include <string>

// Monday 2026-12-07 07:00:00 UTC.
constexpr int64_t c_BusTestNow = 1796626800;

// Resets the modules and loads a factory image made with these options into
// the board root (the user region starts blank).
void busBoot(const TempBoardRoot &root, const FactoryOptions &options);
// Runs a command string (cut to 64 characters) as the coprocessor hands it over.
void busCommand(const std::string &text);
