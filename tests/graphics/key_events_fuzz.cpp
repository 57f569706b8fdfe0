// Fuzz target of the touch-key reader: the input is what the key device
// delivers, 16-byte event records (a trailing part record included), written
// into the simulated board's key FIFO and read back one check at a time.
//
// Besides running clean under the sanitizers, the edges must make sense: a
// key only reports a press while it stands reported released and the other
// way round, and once every event is read and a check per key has passed,
// each key reports the state its last key event left it in.
#include "fuzz_support.h"
#include "graphics/buttons.h"
#include "platform/platform_display.h"

#include "board_root.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::array<uint32_t, 4> c_KeyCodes = {BUTTON_CODE_UP, BUTTON_CODE_MODE, BUTTON_CODE_DOWN,
                                                BUTTON_CODE_EXIT}; // indexed by ButtonId
// What a pipe holds without blocking the writer.
constexpr size_t c_PipeBytes = 65536;

std::string &fifoPath() {
    static TempBoardRoot root;
    static std::string path;
    if (path.empty()) {
        root.write("/dev/input/.keep", "");
        path = root.file("/dev/input/event0");
        if (mkfifo(path.c_str(), 0600) != 0) {
            abort();
        }
    }
    return path;
}

// The state each key's last key event leaves it in (released when it has none).
std::array<uint32_t, 4> finalStates(const uint8_t *data, size_t size) {
    std::array<uint32_t, 4> states;
    states.fill(BUTTON_RELEASED);
    for (size_t at = 0; at + PLATFORM_KEY_EVENT_SIZE <= size; at += PLATFORM_KEY_EVENT_SIZE) {
        PlatformKeyEvent event = platformDecodeKeyEvent(data + at);
        for (size_t id = 0; id < c_KeyCodes.size(); id++) {
            if (event.type == BUTTON_EVENT_KEY && event.code == c_KeyCodes[id]) {
                states[id] = event.value == 0 ? BUTTON_RELEASED : BUTTON_PRESSED;
            }
        }
    }
    return states;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzQuietStart(false); // one FIFO per process
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string &fifo = fifoPath();
    if (size > c_PipeBytes) {
        size = c_PipeBytes;
    }
    buttonReset();
    if (buttonInit() != 0) {
        abort();
    }
    int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer < 0 || (size > 0 && write(writer, data, size) != static_cast<ssize_t>(size))) {
        abort();
    }

    // Start-up: every key stands reported pressed.
    std::array<uint32_t, 4> reported;
    reported.fill(BUTTON_PRESSED);
    size_t checks = size / PLATFORM_KEY_EVENT_SIZE + 1 + c_KeyCodes.size();
    for (size_t i = 0; i < checks; i++) {
        uint32_t id = BUTTON_END;
        int edge = buttonCheck(&id);
        if (edge == BUTTON_NO_EDGE) {
            continue;
        }
        if (id >= reported.size()) {
            abort();
        }
        uint32_t now = edge == BUTTON_PRESS ? BUTTON_PRESSED : BUTTON_RELEASED;
        if (now == reported[id]) {
            abort(); // two presses or two releases in a row
        }
        reported[id] = now;
    }
    if (reported != finalStates(data, size)) {
        abort();
    }
    close(writer);
    buttonReset();
    return 0;
}
