// Relay driver: the ten latching HVAC relays and the manufacturing-test pin.
//
// The control algorithms only write desired states; RlyCntl_RefreshRelays,
// called once per main-loop pass, turns changes into 500 ms coil pulses, one
// relay at a time: first, in index order, every relay whose contact is to be
// open, then every relay whose contact is to be closed, so that two outputs
// the control keeps apart are never closed together, not even for one pulse.
// The compressor stages are held off for 300 s after they were switched off.
#pragma once

#include "config/persist.h"

#include <array>
#include <cstdint>

// Relay indexes, the order of every relay array and of sim/relays.
enum RelayIndex : uint32_t {
    RELAY_OB = 0,  // reversing valve
    RELAY_Y1 = 1,  // compressor stage 1
    RELAY_Y2 = 2,  // compressor stage 2
    RELAY_W1E = 3, // heat stage 1 or emergency heat
    RELAY_W2 = 4,  // heat stage 2
    RELAY_DEH = 5, // dehumidifier
    RELAY_HUM = 6, // humidifier
    RELAY_G1 = 7,  // fan, low speed
    RELAY_G2 = 8,  // fan, medium speed
    RELAY_G3 = 9,  // fan, high speed
    RELAY_COUNT = 10,
};

// The relays' terminal names, in relay order: the one list that the
// simulated board, the report, the relay checker and the dashboard use.
constexpr std::array<const char *, RELAY_COUNT> c_RelayNames = {"O/B", "Y1",  "Y2", "W1/E", "W2",
                                                                "DEH", "HUM", "G1", "G2",   "G3"};

int RlyCntl_Init();
int RlyCntl_GetMfgTestMode();
// One step of the output sequence; returns the update index (10 or more when idle).
uint32_t RlyCntl_RefreshRelays();

uint32_t RlyCntl_GetOBnot();
uint32_t RlyCntl_GetY1();
uint32_t RlyCntl_GetY2();
uint32_t RlyCntl_GetW1E();
uint32_t RlyCntl_GetW2();
uint32_t RlyCntl_GetDeh();
uint32_t RlyCntl_GetHum();
uint32_t RlyCntl_GetG1();
uint32_t RlyCntl_GetG2();
uint32_t RlyCntl_GetG3();

void RlyCntl_SetOBnot(uint32_t state);
void RlyCntl_SetY1(uint32_t state);
void RlyCntl_SetY2(uint32_t state);
void RlyCntl_SetW1E(uint32_t state);
void RlyCntl_SetW2(uint32_t state);
void RlyCntl_SetDeh(uint32_t state);
void RlyCntl_SetHum(uint32_t state);
void RlyCntl_SetG1(uint32_t state);
void RlyCntl_SetG2(uint32_t state);
void RlyCntl_SetG3(uint32_t state);

// Fan speed codes are those of the configuration (FanSpeed); FAN_SPEED_OFF
// or any unknown code switches all three fan relays off.
void RlyCntl_SetFanSpeed(uint32_t code);
uint32_t RlyCntl_GetFanSpeed();

// Back to the state at process start (desired all off, nothing mapped). For tests.
void RlyCntl_Reset();
