// Fuzz target for the manufacturing test's command receiver. The first byte
// picks the expected command (steps 1-9, or none); the rest arrives from the
// port byte by byte. A match must be a whole line, asterisks left out, that
// equals the expected command.
#include "mfgtest/mfgtest.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint32_t step = data[0] % (MFG_TEST_LAST_STEP + 1);
    const char *expected = step == 0 ? nullptr : c_MfgTestRxStrings[step - 1];
    mfgTestReset();
    std::string line;
    for (size_t i = 1; i < size; i++) {
        uint8_t byte = data[i];
        int matched = mfgCommandFeed(byte, expected);
        if (byte != '*') {
            line += static_cast<char>(byte);
        }
        if (matched != 0 && (expected == nullptr || line != expected)) {
            __builtin_trap();
        }
        if (byte == '\n') {
            line.clear();
        }
    }
    return 0;
}
