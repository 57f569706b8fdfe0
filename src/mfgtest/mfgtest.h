// Manufacturing test mode: the fixture-driven factory test sequence that
// replaces the normal life of the process when the test pin is set.
#pragma once

// Runs the test mode; -1 on failure, anything else on success.
int start_manufacturing_tests(int mode);
