// Control-bus channels, levels and command strings.
#include "korabus/korabus_data.h"

void korabusDataUpdateChannelFromKorabus(uint8_t, uint8_t) {
    // Empty until the control-bus module provides the body.
}

void korabusDataUpdateLevelFromKorabus(uint8_t, uint32_t) {
    // Empty until the control-bus module provides the body.
}

void korabusDataProcessString(char *) {
    // Empty until the control-bus module provides the body.
}

void korabusDataProcessCommand(char *) {
    // Empty until the control-bus module provides the body.
}

void korabusDataPoll() {
    // Empty until the control-bus module provides the body.
}
