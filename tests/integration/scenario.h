// A day in the life of the thermostat on the simulated board: tstat-sim runs
// the application against a house for some simulated hours and ends with its
// report; the test reads back the trace of the house, the relay log and the
// report's figures.
#pragma once

#include "host/relay_check.h"
#include "report/report.h"

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
    // Console lines carried out at the given minute of the run (a script of
    // the run), each with a part of the line the simulator prints when it
    // carries it out.
    struct ConsoleLine {
        double minute;
        std::string line;
        std::string acknowledgement;
    };
    std::vector<ConsoleLine> console;
};

struct ScenarioResult {
    // The house minute by minute, as the simulator's trace.csv has it.
    std::vector<sim::TraceRow> trace;
    std::vector<RelayEvent> relayLog;
    std::string output;     // the simulator's console output
    std::string reportText; // the report as the simulator wrote it
    // The figures of the report, computed again from the trace and the log.
    sim::Report report;
    // Minute of the run at which each console line was carried out.
    std::vector<double> consoleMinutes;
};

// Runs the scenario on a fresh board root until the simulator ends it.
// Failures are reported through GoogleTest assertions.
ScenarioResult runScenario(const ScenarioSetup &setup);

// Whether a relay was closed at the end of a trace minute.
bool closedAt(const sim::TraceRow &row, int relay);
// A trace minute as text for failure messages.
std::string describe(const sim::TraceRow &row);

// The relay log's safety violations, as text, one per line ("" when clean).
std::string safetyViolations(const ScenarioResult &result, const RelayCheckOptions &options);
