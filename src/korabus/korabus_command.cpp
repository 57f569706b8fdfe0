// Control-bus command strings: replies and reports.
#include "korabus/korabus_command.h"

void korabusReportModeCommand() {
    // The body comes with the control-bus command module.
}

void korabusCommandGetVersion() {
    // The body comes with the control-bus command module.
}
