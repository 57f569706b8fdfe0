// Manufacturing test mode. The fixture-driven sequence comes with the
// manufacturing test module; until then the mode reports that it is not
// available, and start-up ends with a failure status.
#include "mfgtest/mfgtest.h"

#include <cstdio>

uint32_t g_MfgTestState = 0;

int start_manufacturing_tests(int) {
    puts("ERROR: manufacturing test mode is not available in this build");
    return -1;
}

void set_mfg_test_resp(const char *) {}
