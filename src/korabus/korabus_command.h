// Control-bus command strings: replies and reports.
#pragma once

// Sends the thermostat-mode report ("MD ...") to the building controller;
// called by the configuration save whenever the mode changed since the last save.
void korabusReportModeCommand();
// Sends the version string ("bus version/application version") to the coprocessor.
void korabusCommandGetVersion();
