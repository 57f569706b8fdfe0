// Start-up and the main loop: the argument check, the start-up order, the
// hand-over to the manufacturing test mode, the emergency stop on low line
// voltage, the periodic reload of the system clock from the hardware clock,
// and the one-time version exchange with the control bus.
#pragma once

#include "core/util.h"

#include <cstdint>

// tstatStartUp's answer when the main loop is to run.
constexpr int TSTAT_RUN_MAIN_LOOP = 1;

// Raw line-voltage reading at or below which the emergency stop engages.
constexpr uint16_t ESTOP_LINE_VOLTAGE_LIMIT = 491;
constexpr uint32_t ESTOP_HOLD_MS = 10000;
constexpr uint32_t RTC_RELOAD_MS = 30000;
constexpr uint16_t HVAC_ALGORITHM_PERIOD_S = 15;

// The process entry: start-up, then the endless loop. Returns only on a usage
// error (-1) or after the manufacturing test mode ended (-1 or 0).
int tstatMain(int argc, char **argv);

// Start-up steps in their order. Returns TSTAT_RUN_MAIN_LOOP when the main
// loop is to run, else the process's return value.
int tstatStartUp(int argc, char **argv);

// One pass of the main loop.
void tstatMainLoopPass();

// Updates and returns the emergency stop: it engages on a line-voltage
// reading of 491 or less and holds for 10 s; when the hold ends, the latest
// reading is looked at again at once.
uint32_t checkEStop();
// Forces every output off. The under-voltage check does not call it: it
// holds the control instead, and the relays keep their state.
void enableEStop();

// Reloads the system clock from the hardware clock; always 0.
int trim_sysclock();
// The clock reload's 30 s timer, armed and checked on every pass of the
// main loop (not the display manager's, whatever the prefix says).
void dispManRTCSetTimeout();
void dispManCheckRTCSetTimeout();

// The exit handler: stops the display and the keys.
void cleanup();

// Back to the state at process start. For tests.
void tstatMainReset();
