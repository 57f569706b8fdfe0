// Manufacturing test mode: the fixture-driven factory test sequence that
// replaces the normal life of the process when the test pin is set.
#pragma once

#include <cstdint>

// Step of the sequence, 0-9. The control bus hands strings from the
// coprocessor to the test only while it is 1 (link test) or 3 (bus test).
extern uint32_t g_MfgTestState;

// Runs the test mode; -1 on failure, anything else on success.
int start_manufacturing_tests(int mode);
// A string the coprocessor sent while a test waits for its answer.
void set_mfg_test_resp(const char *text);
