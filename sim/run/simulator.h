// tstat-sim's simulator: its options (read from the command line by
// cli.cpp), and the simulator of `run` and `coproc` with the parts it owns:
// the board's link and the coprocessor on it, the house, the console (its
// socket, standard input and the commands' context), the dashboard, the key
// pad, the application it starts and, in lock-step time, the clock. One
// body, step(), is what an instant of simulated time does on either clock;
// runScaled() (scaled_run.cpp) and runLockstep() (lockstep_run.cpp) are the
// two clocks' loops around it.
#pragma once

#include "application.h"
#include "board/board.h"
#include "board/board_link.h"
#include "console.h"
#include "console_server.h"
#include "coprocessor.h"
#include "dashboard/dashboard.h"
#include "house/climate.h"
#include "house/house.h"
#include "key_pad.h"
#include "lockstep_clock.h"
#include "report/report.h"
#include "script.h"
#include "unit_link.h"

#include <chrono>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>
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
    // Options of the factory tool for a factory image it makes (the
    // equipment, the system mode and the control settings).
    std::vector<std::string> factoryArgs;
    // The board starts fresh (see BoardSetup).
    bool fresh = false;
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
    // The climate from a day file instead of the sine day (empty: none),
    // from its hour weatherFrom (negative: its first row).
    WeatherDay weather;
    double weatherFrom = -1.0;
    // Simulated hours after which run ends by itself (0: until interrupted).
    double hours = 0;
    // At the end: the report, the trace and the picture of the run, written
    // to reportDir (empty: the board root's sim/).
    bool report = true;
    std::string reportDir;
    // Lock-step time (see sim/lockstep_clock.h): the run's first wall-clock second,
    // at most `pace` times real time (0: as fast as the host allows), and a
    // script of timed console lines.
    bool lockstep = false;
    int64_t startWall = 0;
    double pace = 0.0;
    std::string script;
    // Host seconds the application has to answer its clock before the run
    // gives it up as stopped or hung.
    double answerLimit = 30.0;
    // Lock-step time: the application runs in this process (its module
    // beside the program), same files, no hand-over through the kernel.
    bool inProcess = false;
    // A unit of a building: the building's end of the link (see
    // unit_link.h), whose clock this run follows; -1: none.
    int buildingLink = -1;
};

// How the options prepare the board root.
inline BoardSetup boardSetup(const SimOptions &o) {
    return BoardSetup{o.factoryTool, o.factoryArgs, o.flashEraseSize, o.fresh};
}

// tstat-sim run (startApplication) or coproc. Returns the exit status.
int runSimulator(const SimOptions &options, bool startApplication);

class Simulator {
  public:
    Simulator(const SimOptions &options, bool startApplication);
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // The whole run; returns its exit status.
    int run();

  private:
    // The board, its link, the coprocessor, the console and the signals made
    // ready (simulator.cpp).
    bool prepare();
    void prepareHouse();
    bool openLink(int *linkFd);
    void prepareConsole();
    void banner();
    bool startApplication();
    void startDashboard();
    // The run's timers from its first instant, the house and the relays as
    // they stand, and the recorder started.
    void beginRun(int64_t startMs);
    void startWeather();

    // What an instant of simulated time does, on either clock: the keys due
    // released, the console's lines run, the house and the trace moved on to
    // now, and the link, the board, the application's output, the weather,
    // the status line, the dashboard and the console clients served.
    void step(int64_t now, const std::vector<std::string> &lines);
    void advanceHouse(int64_t now);
    void pollPeers(int64_t now);
    void dropStaleReports(int64_t now);
    void readRelays();
    // The building controller's weather, on the bus when it is online.
    void sendWeather(int64_t now);
    void everyMinute();
    void say(const std::string &line);
    // An event of the run, for the plot and the dashboard's.
    void noteEvent(const std::string &text);
    void showHouse();
    // Hours since midnight of the day the run began, on the simulated clock.
    double runHour() const;
    // Copies the screen the application published at this instant.
    void takeScreens();

    // The run's end: says why (once), with the application's exit status or
    // -1; by its hours; and everything stopped, with the report.
    void noteEnd(const std::string &why, int status);
    bool hoursDone();
    bool applicationEnded(int *status);
    int shutDown(int exitStatus);
    void finishReport(double hostSeconds);
    bool replayTrace(ReportBuilder *builder, const std::string &tracePath,
                     std::vector<TraceRow> *plotRows);
    std::string reportDirectory() const;
    void removeLastReport();
    void removeLastScreens();
    bool reportDirectoryWritable();

    // The scaled clock's loop (scaled_run.cpp).
    int runScaled();
    void lookAtPage();

    // Lock-step time (lockstep_run.cpp): the run, its start, one instant of
    // the simulator's own work, the application's turn and its end, the
    // clock moved on to the next instant at which either side has something
    // to do, and the input waiting for the application that it has not seen.
    int runLockstep();
    bool startLockstep(bool *running);
    void lockstepPass(int64_t now);
    bool applicationGone(bool running, int *exitStatus);
    bool runApplicationNow();
    void advanceClock(int64_t now, bool running);
    int64_t nextSimulatorEventMs(int64_t now) const;
    size_t inputForApplication();
    bool applicationRanSince(uint64_t *seen);

    // A unit of a building (building_unit.cpp): the link opened, the
    // building's turn (the clock moved on to its NOW, what it sent taken),
    // and what the building learns of the unit after each pass.
    bool openBuildingLink();
    void attachBuildingBus();
    void followBuilding(int64_t now, int64_t next, int64_t simulatorNext);
    bool takeFromBuilding();
    void takeBuildingRecord(uint8_t kind, const uint8_t *data, size_t size);
    void reportToBuilding();
    UnitStatus unitStatus() const;

    SimOptions m_options;
    bool m_startApplication;

    // The world around the thermostat.
    House m_house;
    PseudoTerminal m_pty;
    AttachedBoard m_board;
    std::unique_ptr<Coprocessor> m_coproc;
    SetpointSource m_setpoints;

    // The ways in: the console, whose commands reach the house, the link and
    // the keys; the dashboard; the screens the console asked for.
    ConsoleServer m_console;
    KeyPad m_keys;
    ConsoleContext m_commands{};
    std::unique_ptr<Dashboard> m_dashboard;
    std::string m_httpPortFile;
    std::vector<std::string> m_screens;
    // The names of the screens kept so far, each line ended (after a first "\n").
    std::string m_keptScreens = "\n";
    bool m_paused = false;
    bool m_quit = false;

    // The application, and lock-step time's clock (null on the scaled one).
    Application m_app;
    std::unique_ptr<LockstepClock> m_lockstep;

    // A unit of a building: the link, the console lines it sent, whether it
    // asked for a screen at this instant, until when it runs on alone, and
    // what it was told last.
    struct BuildingSide {
        std::unique_ptr<BuildingClient> client;
        std::vector<std::string> lines;
        bool screenWanted = false;
        int64_t horizonMs = 0; // it runs on alone until then
        size_t rowsSent = 0;
        UnitStatus sent;
        uint32_t screens = 0;
    } m_building;

    // The relays file as last read. In lock-step time the application tells
    // when it wrote it, once the simulator has read it first.
    struct RelaysFile {
        std::string contacts;
        struct stat stamp {};
        bool looked = false;
    } m_relays;

    // The run's timers (simulated milliseconds) and the day it began.
    struct Timers {
        int64_t lastPass = 0;
        int64_t nextStatus = 0;
        int64_t nextStaleCheck = 0;
        int64_t nextOutputLook = 0;
        int64_t nextWeather = 0;
    } m_at;
    int64_t m_startDay = 0;
    std::chrono::steady_clock::time_point m_hostStart;
    bool m_staleNoted = false;

    // The trace of the run, and the periodic requests of the last whole
    // minute and their count over the run (from the first minute with any).
    Recorder m_recorder;
    std::vector<RunEvent> m_events;
    struct Requests {
        std::string lastMinute = "-";
        unsigned count = 0;
        double minutes = 0;
    } m_requests;

    // Why the run ended, and the application's exit status (-1: none); the
    // report could not be written, or lacks the relay log (the run fails).
    struct End {
        std::string why;
        int status = -1;
        bool reportFailed = false;
        bool interrupted = false; // by an end signal
    } m_end;

    // Lock-step time: the script's lines and the next one due; the host
    // times of the next frame for the dashboard and of the next look at the
    // console. The application's link bytes and what waits for it change
    // only when it runs or the simulator sends: the counts of its runs and
    // of the bytes sent at the last looks, what waited on the line and in
    // the key FIFO then, and whether the line was flushed since.
    std::vector<ScriptLine> m_script;
    size_t m_scriptNext = 0;
    int64_t m_nextPublishMs = 0;
    int64_t m_nextConsoleMs = 0;
    uint64_t m_outputRuns = UINT64_MAX; // the application's runs when its output was read
    int64_t m_nextPageLookMs = 0;
    struct InputSeen {
        uint64_t linkRuns = UINT64_MAX;
        uint64_t runs = UINT64_MAX;
        uint32_t sent = 0;
        size_t link = 0;
        size_t keys = 0;
        bool stale = true;
    } m_input;
};

} // namespace sim
