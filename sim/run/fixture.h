// tstat-sim fixture: the production line's test fixture. It sets the board's
// test pin, starts the application with the console port "/dev/ttyS0" as a
// pseudo-terminal under the board root (or attaches to a board that runs the
// board flavour: its serial lines, keys and I/O page), plays the coprocessor, sends each
// command of the manufacturing sequence when the previous verdict arrives,
// presses the keys of the relay walk while checking each relay in sim/relays,
// enters a serial number, and prints a pass/fail report of the nine steps.
#pragma once

#include "run/simulator.h"

#include <string>

namespace sim {

struct FixtureOptions {
    SimOptions sim;     // board root, application, house and coprocessor
    std::string serial; // 14 printable characters; empty: one is generated
    int presses = 10;   // key presses of the relay walk (fewer makes it fail)
    // A board that runs the board flavour itself (sim.serial, sim.qmp,
    // sim.ioPageFile): its console port, on which the fixture sends the
    // commands and the unit prints its verdicts. The application is not
    // started: the board starts it, and the start script's line on the
    // console tells how it ended.
    std::string consoleSerial;
};

// Runs the fixture against a newly started application. Exit status: 0 the
// unit passed every step, 1 it failed (or could not be tested).
int runFixture(const FixtureOptions &options);

// Whether text is a serial number the unit takes: 14 printable characters
// without spaces.
bool printableSerial(const std::string &text);

} // namespace sim
