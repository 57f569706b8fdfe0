// Touch keys: turns the key events of "/dev/input/event0" into press and
// release edges, one edge per buttonCheck call, scanned in descriptor-table
// order (up, down, mode, fourth key).
//
// Every key starts as "reported pressed, currently released", so the first
// four checks after start-up report one release per key in table order. An
// event that returns a key to its reported state before its change was
// reported cancels the change. A key held down gives one press edge and,
// later, one release edge; the kernel's auto-repeat events give none.
#pragma once

#include "platform/platform_display.h"

#include <cstdint>

// Button ids as the display manager routes them.
enum ButtonId : uint32_t {
    BUTTON_UP = 0,
    BUTTON_MODE = 1,
    BUTTON_DOWN = 2,
    BUTTON_EXIT = 3, // the fourth key: ends the program
    BUTTON_END = 4,  // terminator of the descriptor table
};

// Key states of a descriptor.
enum ButtonState : uint32_t {
    BUTTON_PRESSED = 0,
    BUTTON_RELEASED = 1,
};

// Results of buttonCheck.
enum ButtonEdge : int {
    BUTTON_NO_EDGE = 0,
    BUTTON_PRESS = 1,
    BUTTON_RELEASE = 2,
};

// Hold time and repeat interval of a key ramp, milliseconds. Kept for the
// up and down keys; no operation reads it (a held key does not repeat).
struct ButtonRamp {
    uint32_t holdMs;
    uint32_t repeatMs;
};

struct ButtonDescriptor {
    uint32_t buttonId;
    uint32_t keyCode;
    uint32_t reportedState;
    uint32_t currentState;
    uint32_t reserved[4];
    const ButtonRamp *rampTable;
    uint32_t reserved2;
};

constexpr int BUTTON_DESCRIPTOR_COUNT = 5; // four keys and the terminator
constexpr int BUTTON_RAMP_STEPS = 4;

extern const ButtonRamp g_upDownRampTable[BUTTON_RAMP_STEPS];
// The open key device, -1 while closed.
extern int g_keyFd;

// Opens "/dev/input/event0" non-blocking. 0, or -1 when it cannot be opened.
int buttonInit();
// Closes the device.
void buttonStop();
// Applies at most one input event, then reports at most one edge:
// BUTTON_PRESS or BUTTON_RELEASE with the key's id in *button, or BUTTON_NO_EDGE.
int buttonCheck(uint32_t *button);
// Reads and applies at most one input event.
void buttonUpdateState();
// The descriptor of a key code, or null.
ButtonDescriptor *buttonCodeToState(uint32_t keyCode);

// For tests: closes the device and restores the start-up states.
void buttonReset();
