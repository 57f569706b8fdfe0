// Display manager: the dispatcher of pages, keys, time-outs, backlight and
// screen saver.
#pragma once

#include <cstdint>

// Screen, touch input and first page ready.
void displayManagerInit();
// One non-blocking pass of the user interface.
void displayManagerPoll();
// Stops the touch input and the screen.
void displayManagerStop();
// 1 makes the under-voltage text of the main page blink, 0 stops it.
void dispManSetUnderVoltageWarning(uint8_t on);
