// Host flavour of the I/O controller: a simulated PIOC port with the board's
// ten latching relays on it and the manufacturing-test pin.
//
// Each relay has a set coil and a reset coil. A pulse is a coil line driven
// high through the set-output-data register and low again through the
// clear-output-data register; when it ends, the relay's contact latches
// closed (set coil) or open (reset coil), sim/relays is rewritten and a line
// is appended to sim/relay-log. Reading the pin-data register gives the coil
// lines and, on PC31, the test pin from sim/test-pin.
#include "platform/host_internal.h"
#include "platform/platform.h"
#include "platform/platform_test.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits.h>

namespace {

constexpr uint32_t PIOC_BASE = 0x800;
constexpr uint32_t PIO_PER = 0x00;  // PIO enable
constexpr uint32_t PIO_PDR = 0x04;  // PIO disable
constexpr uint32_t PIO_PSR = 0x08;  // PIO status
constexpr uint32_t PIO_OER = 0x10;  // output enable
constexpr uint32_t PIO_ODR = 0x14;  // output disable
constexpr uint32_t PIO_OSR = 0x18;  // output status
constexpr uint32_t PIO_SODR = 0x30; // set output data
constexpr uint32_t PIO_CODR = 0x34; // clear output data
constexpr uint32_t PIO_ODSR = 0x38; // output data status
constexpr uint32_t PIO_PDSR = 0x3C; // pin data status
constexpr uint32_t TEST_PIN = 31;
constexpr int RELAY_COUNT = 10;

// How the board wires the relay coils to PIOC, by relay index
// (O/B, Y1, Y2, W1/E, W2, DEH, HUM, G1, G2, G3).
constexpr std::array<uint8_t, RELAY_COUNT> c_SetCoilPin = {7, 5, 6, 3, 4, 24, 25, 0, 1, 2};
constexpr std::array<uint8_t, RELAY_COUNT> c_ResetCoilPin = {23, 21, 22, 19, 20,
                                                             28, 29, 16, 17, 18};

constexpr uint32_t coilMask() {
    uint32_t mask = 0;
    for (int i = 0; i < RELAY_COUNT; i++) {
        mask |= (1u << c_SetCoilPin[i]) | (1u << c_ResetCoilPin[i]);
    }
    return mask;
}
constexpr uint32_t c_CoilMask = coilMask();

struct IoState {
    bool mapped;
    bool refuseMap;
    std::array<uint32_t, PLATFORM_IO_PAGE_SIZE / 4> regs; // last value written per register
    uint32_t pioEnabled;
    uint32_t outputEnabled;
    uint32_t lines;
    char contacts[RELAY_COUNT + 1];
    uint32_t overlaps;
};

IoState m_Io;

void writeRelaysFile() {
    char path[PATH_MAX];
    if (hostSimPath("relays", path, sizeof(path)) == nullptr) {
        return;
    }
    char line[RELAY_COUNT + 2];
    int n = snprintf(line, sizeof(line), "%s\n", m_Io.contacts);
    hostWriteFileAtomic(path, line, static_cast<size_t>(n));
    hostLockstepNoteRelaysWritten();
}

void appendRelayLog(int relay, char state) {
    char path[PATH_MAX];
    if (hostSimPath("relay-log", path, sizeof(path)) == nullptr) {
        return;
    }
    FILE *f = hostOpenOwnLog(path, false);
    if (f != nullptr) {
        fprintf(f, "%lld %d %c\n", static_cast<long long>(platformUptimeMs()), relay, state);
        fclose(f);
    }
}

void startPulses(uint32_t mask) {
    // Only pins handed to the PIO controller as outputs can be driven.
    uint32_t drive = mask & m_Io.pioEnabled & m_Io.outputEnabled & ~m_Io.lines;
    for (int pin = 0; pin < 32; pin++) {
        uint32_t bit = 1u << pin;
        if ((drive & bit) == 0) {
            continue;
        }
        if ((bit & c_CoilMask) != 0 && (m_Io.lines & c_CoilMask) != 0) {
            m_Io.overlaps++;
        }
        m_Io.lines |= bit;
    }
}

void endPulses(uint32_t mask) {
    uint32_t ending = mask & m_Io.lines;
    m_Io.lines &= ~mask;
    for (int relay = 0; relay < RELAY_COUNT; relay++) {
        char state = 0;
        if ((ending & (1u << c_SetCoilPin[relay])) != 0) {
            state = '1';
        } else if ((ending & (1u << c_ResetCoilPin[relay])) != 0) {
            state = '0';
        }
        if (state != 0) {
            m_Io.contacts[relay] = state;
            writeRelaysFile();
            appendRelayLog(relay, state);
        }
    }
}

bool testPinHigh() {
    char path[PATH_MAX];
    if (platformPath("/sim/test-pin", path, sizeof(path)) == nullptr) {
        return false;
    }
    FILE *f = fopen(path, "r");
    if (f == nullptr) {
        return false;
    }
    char text[8] = {};
    size_t got = fread(text, 1, sizeof(text) - 1, f);
    fclose(f);
    // "1", with or without a line end.
    return (got == 1 && text[0] == '1') || (got == 2 && strcmp(text, "1\n") == 0);
}

} // namespace

void hostIoReset() {
    m_Io = IoState{};
}

void platformRefuseIoMap() {
    m_Io.refuseMap = true;
}

PlatformIoResult platformIoMap() {
    if (m_Io.mapped) {
        return PLATFORM_IO_OK;
    }
    if (m_Io.refuseMap) {
        errno = EACCES;
        return PLATFORM_IO_OPEN_FAILED;
    }
    m_Io.mapped = true;
    memset(m_Io.contacts, '?', RELAY_COUNT);
    m_Io.contacts[RELAY_COUNT] = '\0';
    writeRelaysFile();
    // The log covers one run of the application.
    char path[PATH_MAX];
    if (hostSimPath("relay-log", path, sizeof(path)) != nullptr) {
        FILE *f = hostOpenOwnLog(path, true);
        if (f != nullptr) {
            fclose(f);
        }
    }
    return PLATFORM_IO_OK;
}

void platformIoWrite(uint32_t offset, uint32_t value) {
    if (!m_Io.mapped || offset >= PLATFORM_IO_PAGE_SIZE || offset % 4 != 0) {
        return;
    }
    m_Io.regs[offset / 4] = value;
    if (offset < PIOC_BASE || offset >= PIOC_BASE + 0x100) {
        return;
    }
    switch (offset - PIOC_BASE) {
    case PIO_PER:
        m_Io.pioEnabled |= value;
        break;
    case PIO_PDR:
        m_Io.pioEnabled &= ~value;
        break;
    case PIO_OER:
        m_Io.outputEnabled |= value;
        break;
    case PIO_ODR:
        m_Io.outputEnabled &= ~value;
        break;
    case PIO_SODR:
        startPulses(value);
        break;
    case PIO_CODR:
        endPulses(value);
        break;
    default:
        break;
    }
}

uint32_t platformIoRead(uint32_t offset) {
    if (!m_Io.mapped || offset >= PLATFORM_IO_PAGE_SIZE || offset % 4 != 0) {
        return 0;
    }
    switch (offset) {
    case PIOC_BASE + PIO_PSR:
        return m_Io.pioEnabled;
    case PIOC_BASE + PIO_OSR:
        return m_Io.outputEnabled;
    case PIOC_BASE + PIO_ODSR:
        return m_Io.lines;
    case PIOC_BASE + PIO_PDSR:
        return m_Io.lines | (testPinHigh() ? (1u << TEST_PIN) : 0u);
    default:
        return m_Io.regs[offset / 4];
    }
}

uint32_t platformSimCoilLines() {
    return m_Io.lines & c_CoilMask;
}

const char *platformSimRelayContacts() {
    if (m_Io.contacts[0] == '\0') {
        return "??????????";
    }
    return m_Io.contacts;
}

uint32_t platformSimOverlappingPulses() {
    return m_Io.overlaps;
}
