// Relay driver: desired and driven relay states, the one-relay-at-a-time coil
// pulse sequence on port PIOC (openings before closings), the compressor
// minimum off time, and the manufacturing-test pin.
#include "hvac/relay_control.h"

#include "config/data_dict.h"
#include "core/util.h"
#include "platform/platform.h"

#include <array>
#include <cerrno>
#include <cstdio>

namespace {

// Offset of the PIOC controller within the mapped system-controller page.
// The power-management controller at 0xC00 of the same page needs no
// set-up: the kernel has the PIO controllers' clocks running before
// user space starts, so the test pin's input reads are valid.
constexpr uint32_t PIOC_OFFSET = 0x800;
// PIO controller registers.
constexpr uint32_t PIO_PER = 0x00;  // PIO enable
constexpr uint32_t PIO_OER = 0x10;  // output enable
constexpr uint32_t PIO_ODR = 0x14;  // output disable
constexpr uint32_t PIO_IFDR = 0x24; // input glitch filter disable
constexpr uint32_t PIO_SODR = 0x30; // set output data
constexpr uint32_t PIO_CODR = 0x34; // clear output data
constexpr uint32_t PIO_PDSR = 0x3C; // pin data status
constexpr uint32_t PIO_PUDR = 0x60; // pull-up disable
constexpr uint32_t PIO_PUER = 0x64; // pull-up enable

constexpr uint32_t MFG_TEST_PIN = 31;
constexpr uint32_t PULSE_MS = 500;
constexpr uint32_t COMPRESSOR_MIN_OFF_MS = 300000;
constexpr uint32_t SHADOW_UNKNOWN = 2;

// Set- and reset-coil pins of each relay, bit numbers within PIOC.
constexpr std::array<uint32_t, RELAY_COUNT> c_RelaySetBit = {7, 5, 6, 3, 4, 24, 25, 0, 1, 2};
constexpr std::array<uint32_t, RELAY_COUNT> c_RelayResetBit = {23, 21, 22, 19, 20,
                                                               28, 29, 16, 17, 18};
// The order in which the coil pins are prepared at start-up.
constexpr std::array<uint32_t, 20> c_RelayPinInitOrder = {0,  1,  2,  7,  3,  4,  5,  6,  24, 25,
                                                          16, 17, 18, 23, 19, 20, 21, 22, 28, 29};

struct CompressorGuard {
    // Runs from the moment the stage was last switched off, and again from
    // the moment its contact actually opened, which may be a pulse sequence
    // later. The monotonic clock keeps a change of the wall clock from
    // cutting the off time short.
    UtilTimer minOffTimer;
    bool firstStart;
    bool contactClosed; // as last driven
};

std::array<uint32_t, RELAY_COUNT> m_RelayArray;
std::array<uint32_t, RELAY_COUNT> m_ShadowRelayArray;
// The relays of the running sequence in the order they are pulsed: every
// opening before any closing, so that no two contacts that the control keeps
// apart are ever closed together, even for one pulse.
std::array<uint32_t, RELAY_COUNT> m_RelayOrder;
uint32_t m_RelayUpdateIndex;
UtilTimer m_InterRelayGapTimer;
CompressorGuard m_Y1Guard = {{}, true, false};
CompressorGuard m_Y2Guard = {{}, true, false};
uint32_t m_Pioc = PIOC_OFFSET;

void pioWrite(uint32_t reg, uint32_t mask) {
    platformIoWrite(m_Pioc + reg, mask);
}

void initializeRelayPin(uint32_t pin) {
    uint32_t mask = 1u << pin;
    pioWrite(PIO_PER, mask);
    pioWrite(PIO_OER, mask);
    pioWrite(PIO_CODR, mask);
    pioWrite(PIO_PUDR, mask);
}

void initializeMfgTestPin(uint32_t pin) {
    uint32_t mask = 1u << pin;
    pioWrite(PIO_PER, mask);
    pioWrite(PIO_ODR, mask);
    pioWrite(PIO_IFDR, mask);
    pioWrite(PIO_PUER, mask);
}

// At the end of a compressor stage's pulse: a contact that opened now starts
// the minimum off time again.
void noteCompressorContact(uint32_t relay) {
    CompressorGuard *guard = relay == RELAY_Y1   ? &m_Y1Guard
                             : relay == RELAY_Y2 ? &m_Y2Guard
                                                 : nullptr;
    if (guard == nullptr) {
        return;
    }
    bool closed = m_ShadowRelayArray[relay] == 1;
    if (guard->contactClosed && !closed) {
        util_set_expiration(&guard->minOffTimer, COMPRESSOR_MIN_OFF_MS);
    }
    guard->contactClosed = closed;
}

// Starts (pulse 1) or ends (pulse 0) the coil pulse of one relay: the set
// coil when its driven state is on, else the reset coil.
void controlRelay(int pulse, uint32_t relay) {
    if (relay >= RELAY_COUNT) {
        return;
    }
    uint32_t pin = m_ShadowRelayArray[relay] == 1 ? c_RelaySetBit[relay] : c_RelayResetBit[relay];
    if (pulse != 0) {
        pioWrite(PIO_SODR, 1u << pin);
        util_set_expiration(&m_InterRelayGapTimer, PULSE_MS);
    } else {
        pioWrite(PIO_CODR, 1u << pin);
        noteCompressorContact(relay);
    }
}

// Orders the sequence by the driven states: the relays to open (or of
// unknown state) in index order, then those to close in index order.
void orderSequence() {
    uint32_t step = 0;
    for (uint32_t closing = 0; closing < 2; closing++) {
        for (uint32_t relay = 0; relay < RELAY_COUNT; relay++) {
            if ((m_ShadowRelayArray[relay] == 1 ? 1u : 0u) == closing) {
                m_RelayOrder[step++] = relay;
            }
        }
    }
}

// The relay pulsed at a step of the sequence; RELAY_COUNT past its end.
uint32_t relayAt(uint32_t step) {
    return step < RELAY_COUNT ? m_RelayOrder[step] : RELAY_COUNT;
}

void setCompressorStage(uint32_t relay, CompressorGuard &guard, uint32_t state) {
    uint32_t wanted = state != 0 ? 1 : 0;
    uint32_t current = m_RelayArray[relay];
    if (wanted == 0 && current == 1) {
        util_set_expiration(&guard.minOffTimer, COMPRESSOR_MIN_OFF_MS);
    }
    if (getDiagnosticModeSetting() == 0 && wanted == 1 && current == 0) {
        if (guard.firstStart) {
            guard.firstStart = false;
        } else if (util_check_expiration(&guard.minOffTimer) == 0) {
            // Refused, not remembered: the algorithm asks again next period.
            wanted = 0;
        }
    }
    m_RelayArray[relay] = wanted;
}

void setRelay(uint32_t relay, uint32_t state) {
    m_RelayArray[relay] = state != 0 ? 1 : 0;
}

} // namespace

int RlyCntl_Init() {
    m_ShadowRelayArray.fill(SHADOW_UNKNOWN);
    orderSequence();
    PlatformIoResult mapped = platformIoMap();
    if (mapped == PLATFORM_IO_OPEN_FAILED) {
        perror("open()");
        puts("failed opening /dev/mem");
        return -1;
    }
    if (mapped == PLATFORM_IO_MAP_FAILED) {
        perror("mmap()");
        puts("failed mapping memory");
        return -1;
    }
    m_Pioc = PIOC_OFFSET;
    pioWrite(PIO_OER, 0x10);
    for (uint32_t pin : c_RelayPinInitOrder) {
        initializeRelayPin(pin);
    }
    initializeMfgTestPin(MFG_TEST_PIN);
    return 0;
}

int RlyCntl_GetMfgTestMode() {
    return (platformIoRead(m_Pioc + PIO_PDSR) & (1u << MFG_TEST_PIN)) != 0 ? 1 : 0;
}

uint32_t RlyCntl_RefreshRelays() {
    if (m_RelayUpdateIndex > RELAY_COUNT - 1) {
        if (m_ShadowRelayArray == m_RelayArray && m_ShadowRelayArray[0] != SHADOW_UNKNOWN) {
            return m_RelayUpdateIndex;
        }
        m_ShadowRelayArray = m_RelayArray;
        orderSequence();
        m_RelayUpdateIndex = 0;
        controlRelay(1, relayAt(m_RelayUpdateIndex));
    } else if (util_check_expiration(&m_InterRelayGapTimer) != 0) {
        controlRelay(0, relayAt(m_RelayUpdateIndex));
        m_RelayUpdateIndex++;
        if (m_RelayUpdateIndex <= RELAY_COUNT - 1) {
            controlRelay(1, relayAt(m_RelayUpdateIndex));
        }
    }
    return m_RelayUpdateIndex;
}

uint32_t RlyCntl_GetOBnot() {
    return m_RelayArray[RELAY_OB];
}
uint32_t RlyCntl_GetY1() {
    return m_RelayArray[RELAY_Y1];
}
uint32_t RlyCntl_GetY2() {
    return m_RelayArray[RELAY_Y2];
}
uint32_t RlyCntl_GetW1E() {
    return m_RelayArray[RELAY_W1E];
}
uint32_t RlyCntl_GetW2() {
    return m_RelayArray[RELAY_W2];
}
uint32_t RlyCntl_GetDeh() {
    return m_RelayArray[RELAY_DEH];
}
uint32_t RlyCntl_GetHum() {
    return m_RelayArray[RELAY_HUM];
}
uint32_t RlyCntl_GetG1() {
    return m_RelayArray[RELAY_G1];
}
uint32_t RlyCntl_GetG2() {
    return m_RelayArray[RELAY_G2];
}
uint32_t RlyCntl_GetG3() {
    return m_RelayArray[RELAY_G3];
}

void RlyCntl_SetOBnot(uint32_t state) {
    setRelay(RELAY_OB, state);
}
void RlyCntl_SetY1(uint32_t state) {
    setCompressorStage(RELAY_Y1, m_Y1Guard, state);
}
void RlyCntl_SetY2(uint32_t state) {
    setCompressorStage(RELAY_Y2, m_Y2Guard, state);
}
void RlyCntl_SetW1E(uint32_t state) {
    setRelay(RELAY_W1E, state);
}
void RlyCntl_SetW2(uint32_t state) {
    setRelay(RELAY_W2, state);
}
void RlyCntl_SetDeh(uint32_t state) {
    setRelay(RELAY_DEH, state);
}
void RlyCntl_SetHum(uint32_t state) {
    setRelay(RELAY_HUM, state);
}
void RlyCntl_SetG1(uint32_t state) {
    setRelay(RELAY_G1, state);
}
void RlyCntl_SetG2(uint32_t state) {
    setRelay(RELAY_G2, state);
}
void RlyCntl_SetG3(uint32_t state) {
    setRelay(RELAY_G3, state);
}

void RlyCntl_SetFanSpeed(uint32_t code) {
    RlyCntl_SetG1(code == FAN_SPEED_LOW ? 1 : 0);
    RlyCntl_SetG2(code == FAN_SPEED_MEDIUM ? 1 : 0);
    RlyCntl_SetG3(code == FAN_SPEED_HIGH ? 1 : 0);
}

uint32_t RlyCntl_GetFanSpeed() {
    if (RlyCntl_GetG1() != 0) {
        return FAN_SPEED_LOW;
    }
    if (RlyCntl_GetG2() != 0) {
        return FAN_SPEED_MEDIUM;
    }
    if (RlyCntl_GetG3() != 0) {
        return FAN_SPEED_HIGH;
    }
    return FAN_SPEED_OFF;
}

void RlyCntl_Reset() {
    m_RelayArray.fill(0);
    m_ShadowRelayArray.fill(0);
    orderSequence();
    m_RelayUpdateIndex = 0;
    m_InterRelayGapTimer = UtilTimer{};
    m_Y1Guard = CompressorGuard{{}, true, false};
    m_Y2Guard = CompressorGuard{{}, true, false};
    m_Pioc = PIOC_OFFSET;
}
