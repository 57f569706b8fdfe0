// Control-bus command strings: replies and reports.
#include "korabus/korabus_command.h"

// The bodies come with the control-bus command module.
void korabusReportModeCommand() {}
void korabusReportFormatCommand() {}
void korabusMessageScreenClearCommand() {}
void korabusCommandGetVersion() {}
