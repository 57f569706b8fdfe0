// tstat-sim's simulator: its options (read from the command line by
// cli.cpp) and the runs of its subcommands.
#pragma once

#include "coprocessor.h"
#include "dashboard.h"
#include "house.h"
#include "weather.h"

#include <string>
#include <vector>

namespace sim {

struct SimOptions {
    HouseParams house;
    CoprocessorOptions coproc;
    int port = 0;                      // console socket port on 127.0.0.1; 0 picks a free one
    int http = DASHBOARD_DEFAULT_PORT; // dashboard port on 127.0.0.1; 0 a free one, -1 none
    std::string root;                  // board root; empty: $TSTAT_ROOT or ./board
    std::string tstat;                 // application to start (run)
    std::string data;                  // its working directory
    std::string factoryTool;
    // Erase-block size of the simulated flash regions, as the kernel would
    // tell it in sysfs (a power of two).
    int flashEraseSize = 65536;
    // A board that runs the board flavour itself (the emulated board, or a
    // real one): the coprocessor's line is this serial device instead of a
    // pseudo-terminal of the simulator's own; the keys and the screen go
    // through the emulator's QMP socket; the relays and the test pin through
    // the I/O page at ioPageOffset of the emulator's memory file.
    std::string serial;
    std::string qmp;
    std::string ioPageFile;
    uint64_t ioPageOffset = 0;
    // The board's console (a log file of the emulator's, or a serial
    // device): its installer's lines are said and shown (empty: none).
    std::string boardConsole;
    bool status = true; // the house's state once a simulated minute
    // The building controller sends the weather of the house's climate.
    bool controllerWeather = true;
    // The climate from a day file instead of the sine day (empty: none).
    WeatherDay weather;
    // Simulated hours after which run ends by itself (0: until interrupted).
    double hours = 0;
    // At the end: the report, the trace and the picture of the run, written
    // to reportDir (empty: the board root's sim/).
    bool report = true;
    std::string reportDir;
    // Lock-step time (see sim/lockstep.h): the run's first wall-clock second,
    // at most `pace` times real time (0: as fast as the host allows), and a
    // script of timed console lines.
    bool lockstep = false;
    int64_t startWall = 0;
    double pace = 0.0;
    std::string script;
    // Host seconds the application has to answer its clock before the run
    // gives it up as stopped or hung.
    double answerLimit = 30.0;
};

// tstat-sim run (startApplication) or coproc. Returns the exit status.
int runSimulator(const SimOptions &options, bool startApplication);

} // namespace sim
