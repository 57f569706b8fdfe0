// Display manager. Until the pages exist, start-up only prepares the
// temperature format that the setpoint rules of the schedule depend on; the
// page dispatcher comes with the display manager module.
#include "display/display_manager.h"

#include "config/temp_scale.h"

void displayManagerInit() {
    initialiseTStatFormat();
}

void displayManagerPoll() {
    // The body comes with the display manager module.
}

void displayManagerStop() {
    // The body comes with the display manager module.
}

void dispManSetUnderVoltageWarning(uint8_t) {
    // The body comes with the display manager module.
}
