// Safety checker of the relay log that the simulated board writes
// (sim/relay-log: "<ms> <relay> <0|1>" per completed coil pulse).
//
// It reports every moment the thermostat could have harmed the equipment:
// a compressor stage closing less than 300 s after it opened; two outputs
// that the control keeps apart closed together, even for one pulse (heating
// and cooling, the humidifier and the dehumidifier, two fan speeds); two coil
// pulses overlapping; and a control decision moving a relay while the
// emergency stop held.
#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <utility>
#include <vector>

struct RelayEvent {
    int64_t ms; // simulated time since the application started
    int relay;  // 0 O/B, 1 Y1, 2 Y2, 3 W1/E, 4 W2, 5 DEH, 6 HUM, 7 G1, 8 G2, 9 G3
    int closed; // the latched contact: 1 closed, 0 open
};

struct RelayCheckOptions {
    // Heat pump: Y1/Y2 heat with O/B open and cool with O/B closed.
    bool heatPump = false;
    // Diagnostic mode lifts the compressor minimum off time.
    bool diagnostic = false;
    // Intervals of the log's time during which the emergency stop held; a
    // pulse sequence may finish there but none may begin.
    std::vector<std::pair<int64_t, int64_t>> estopWindows;
    // How late an instant of the log may be: 0 when the simulated I/O
    // controller logs each write as it is made; the sampling period when the
    // log follows a board's I/O page from outside, so that each completion
    // is seen up to that much late and a pulse may seem that much shorter.
    int64_t samplingMs = 0;
};

struct RelayViolation {
    int64_t ms;
    std::string what;
};

// Reads a relay log. Returns false, with a message naming the line, on a
// malformed line.
bool parseRelayLog(std::istream &in, std::vector<RelayEvent> &events, std::string &error);

// Every violation in the log, in time order.
std::vector<RelayViolation> checkRelayLog(const std::vector<RelayEvent> &events,
                                          const RelayCheckOptions &options);
