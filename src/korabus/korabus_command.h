// Control-bus command strings: replies and reports.
#pragma once

// Sends the thermostat-mode report ("MD ...") to the building controller;
// called by the configuration save whenever the mode changed since the last save.
void korabusReportModeCommand();
// Sends the format report ("FM SF" or "FM SC"); called when the user changes
// the temperature unit.
void korabusReportFormatCommand();
// Tells the controller that the user dismissed its message ("MESSAGE CLEAR").
void korabusMessageScreenClearCommand();
// Sends the version string ("bus version/application version") to the coprocessor.
void korabusCommandGetVersion();
