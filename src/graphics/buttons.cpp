// Touch keys: key events from "/dev/input/event0" become one press or release
// edge per check, scanned in descriptor-table order.
#include "graphics/buttons.h"

#include "platform/platform.h"
#include "platform/platform_display.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Start-up states: reported pressed, currently released, so that every key
// reports one release first.
constexpr ButtonDescriptor c_InitialDescriptors[BUTTON_DESCRIPTOR_COUNT] = {
    {BUTTON_UP, BUTTON_CODE_UP, BUTTON_PRESSED, BUTTON_RELEASED, {}, g_upDownRampTable, 0},
    {BUTTON_DOWN, BUTTON_CODE_DOWN, BUTTON_PRESSED, BUTTON_RELEASED, {}, g_upDownRampTable, 0},
    {BUTTON_MODE, BUTTON_CODE_MODE, BUTTON_PRESSED, BUTTON_RELEASED, {}, nullptr, 0},
    {BUTTON_EXIT, BUTTON_CODE_EXIT, BUTTON_PRESSED, BUTTON_RELEASED, {}, nullptr, 0},
    {BUTTON_END, 0, 0, 0, {}, nullptr, 0},
};

} // namespace

const ButtonRamp g_upDownRampTable[BUTTON_RAMP_STEPS] = {
    {2000, 750},
    {2000, 500},
    {2000, 250},
    {0, 125},
};

namespace {

ButtonDescriptor g_buttonDescriptors[BUTTON_DESCRIPTOR_COUNT] = {
    c_InitialDescriptors[0], c_InitialDescriptors[1], c_InitialDescriptors[2],
    c_InitialDescriptors[3], c_InitialDescriptors[4],
};

} // namespace

int g_keyFd = -1;

int buttonInit() {
    if (g_keyFd >= 0) {
        return 0;
    }
    char path[PATH_MAX];
    if (platformPath(PLATFORM_KEY_DEVICE, path, sizeof(path)) == nullptr) {
        return -1;
    }
    g_keyFd = open(path, O_RDWR | O_NONBLOCK);
    return g_keyFd >= 0 ? 0 : -1;
}

void buttonStop() {
    if (g_keyFd >= 0) {
        close(g_keyFd);
    }
    g_keyFd = -1;
}

ButtonDescriptor *buttonCodeToState(uint32_t keyCode) {
    for (ButtonDescriptor &d : g_buttonDescriptors) {
        if (d.buttonId == BUTTON_END) {
            break;
        }
        if (d.keyCode == keyCode) {
            return &d;
        }
    }
    return nullptr;
}

void buttonUpdateState() {
    if (g_keyFd < 0 || !platformKeysMayWait()) {
        return;
    }
    uint8_t record[PLATFORM_KEY_EVENT_SIZE];
    ssize_t got = read(g_keyFd, record, sizeof(record));
    if (got != static_cast<ssize_t>(sizeof(record))) {
        return;
    }
    PlatformKeyEvent event = platformDecodeKeyEvent(record);
    if (event.type != BUTTON_EVENT_KEY) {
        return;
    }
    ButtonDescriptor *d = buttonCodeToState(event.code);
    if (d == nullptr) {
        return;
    }
    // A release is key up; a press and the kernel's repeat both mean held.
    d->currentState = event.value == BUTTON_VALUE_RELEASED ? BUTTON_RELEASED : BUTTON_PRESSED;
}

int buttonCheck(uint32_t *button) {
    buttonUpdateState();
    for (ButtonDescriptor &d : g_buttonDescriptors) {
        if (d.buttonId == BUTTON_END) {
            break;
        }
        if (d.currentState != d.reportedState) {
            d.reportedState = d.currentState;
            if (button != nullptr) {
                *button = d.buttonId;
            }
            return d.currentState == BUTTON_PRESSED ? BUTTON_PRESS : BUTTON_RELEASE;
        }
    }
    return BUTTON_NO_EDGE;
}

void buttonReset() {
    buttonStop();
    for (int i = 0; i < BUTTON_DESCRIPTOR_COUNT; i++) {
        g_buttonDescriptors[i] = c_InitialDescriptors[i];
    }
}
