// A day in the life of the thermostat on the simulated board: tstat-sim runs
// the application against a house for some simulated hours, then the test
// reads back what the house went through and what the relays did.
#pragma once

#include "relay_check.h"

#include <cstdint>
#include <string>
#include <vector>

struct ScenarioSetup {
    // tstat-factory options for the thermostat's factory image.
    std::vector<std::string> factory;
    // tstat-sim options for the house.
    std::vector<std::string> house;
    // Local time (TZ=UTC0) at which the day begins, "YYYY-MM-DD HH:MM".
    std::string start = "2026-12-07 00:00";
    double hours = 24.0;
    double timeScale = 2400.0;
    // Console lines to send once simulated time reaches the given minute of
    // the run, each with a part of the line the simulator prints when it
    // carries it out.
    struct ConsoleLine {
        double minute;
        std::string line;
        std::string acknowledgement;
    };
    std::vector<ConsoleLine> console;
};

// One status line of the house, once a simulated minute.
struct HouseSample {
    double minute; // since the start of the run
    int weekday;   // 0 Sunday ... 6 Saturday
    int minuteOfDay;
    double indoor; // degrees Celsius
    double outdoor;
    double rh;
    std::string relays; // O/B Y1 Y2 W1/E W2 DEH HUM G1 G2 G3, '1' closed
    bool on(int relay) const {
        return relays.size() > static_cast<size_t>(relay) && relays[relay] == '1';
    }
};

struct ScenarioResult {
    std::vector<HouseSample> samples;
    std::vector<RelayEvent> relayLog;
    std::string output; // the simulator's console output
    // Minute of the run at which each console line was carried out.
    std::vector<double> consoleMinutes;
    // The factory record the run started from, and whether it is for a heat pump.
    std::vector<uint8_t> factoryImage;
    bool heatPump = false;
};

// Runs the scenario on a fresh board root. Failures are reported through
// GoogleTest assertions.
ScenarioResult runScenario(const ScenarioSetup &setup);

// Heat and cool setpoints (degrees Celsius) of the program period in force at
// a weekday and minute of day, and of the period that follows it.
struct ProgramPoint {
    double heat;
    double cool;
    int minutesSinceStart; // since the period in force began
    double nextHeat;
    double nextCool;
    int minutesToNext;
};
ProgramPoint programAt(const std::vector<uint8_t> &image, int weekday, int minuteOfDay);

// The relay log's safety violations, as text, one per line ("" when clean).
std::string safetyViolations(const ScenarioResult &result, const RelayCheckOptions &options);
