// Control-bus channels, levels and command strings.
#include "korabus/korabus_data.h"

#include "mfgtest/mfgtest.h"

void korabusDataUpdateChannelFromKorabus(uint8_t, uint8_t) {
    // Empty until the control-bus module provides the body.
}

void korabusDataUpdateLevelFromKorabus(uint8_t, uint32_t) {
    // Empty until the control-bus module provides the body.
}

// Strings from the coprocessor are answers to the manufacturing test's link
// test (step 1) and bus test (step 3); at any other time nobody waits for one.
void korabusDataProcessString(char *text) {
    if (g_MfgTestState == 1 || g_MfgTestState == 3) {
        set_mfg_test_resp(text);
    }
}

void korabusDataProcessCommand(char *) {
    // Empty until the control-bus module provides the body.
}

void korabusDataPoll() {
    // Empty until the control-bus module provides the body.
}
