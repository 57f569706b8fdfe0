// tstat-sim building: many thermostats, each in its own zone, under one
// building controller on one control bus.
//
// Each unit is a `tstat-sim run` of its own (its board root, application,
// record, house zone and coprocessor) that follows the building's clock
// through its link (unit_link.h): the building hands each unit the turn
// when its time has come or the bus brought it something, lets the units
// due at an instant run at once, and only then moves the clock on, so that
// every unit lives the same simulated instants and a rerun is the same on
// any host. The controller's frames and the units' own go over one bus, one
// frame at a time (control_bus.h); the controller's console and scripts
// address units by bus address; demand-response events go out over the bus
// (demand_response.h). The run is made twice, with the events and without,
// and the figures compare the two (building_figures.h).
#pragma once

#include "building/building_figures.h"
#include "building/building_spec.h"
#include "building/control_bus.h"
#include "building/demand_response.h"
#include "building/unit_process.h"
#include "console_server.h"
#include "script.h"

#include <memory>
#include <string>
#include <vector>

namespace sim {

class BuildingDashboard;

struct BuildingOptions {
    std::string file; // the building file; empty: --units
    int units = 0;    // a building of so many typical zones
    std::string out = "building";
    double hours = 0; // 0: the building file's
    int http = -1;    // the building's dashboard: its port (0: a free one); -1: none
    double pace = 0;  // at most so many times real time (0: as fast as the host allows)
    std::string script;
    // Events in place of the building file's ("15:00 cool 2F for 3h ...").
    std::vector<std::string> events;
    bool baseline = true;      // the run without the events as well
    int onFailure = -1;        // -1: the building file's; 0: continue; 1: end
    double answerLimit = 30.0; // host seconds a unit's application has to answer
    bool inProcess = false;    // each unit's application in its simulator's process
    std::string simBinary, tstat, data, factoryTool, fontDir;
};

// The command's whole work; its exit status.
int runBuildingCommand(BuildingOptions options);

// Whether a line is one the building's console takes (for a script
// before its run); false with the reason.
bool checkBuildingLine(const std::string &line, std::string *why);

class BuildingRun {
  public:
    // A run of plan into dir; withEvents false leaves out the demand-response
    // events (the run they are compared with).
    BuildingRun(const BuildingSpec &plan, const BuildingOptions &options, std::string dir,
                bool withEvents, std::vector<ScriptLine> script);
    ~BuildingRun();
    BuildingRun(const BuildingRun &) = delete;
    BuildingRun &operator=(const BuildingRun &) = delete;

    BuildingResult run();
    // A unit ended early, and the building file says the building ends then.
    bool failed() const { return m_failed; }
    // Memory a unit took at the end of the run (MB, both its processes).
    double unitMemoryMb() const { return m_unitMemoryMb; }

    // What the dashboard and the console show.
    const std::vector<std::unique_ptr<UnitProcess>> &units() const { return m_units; }
    const std::vector<double> &demandKw() const { return m_demandKw; }
    int64_t startWall() const { return m_plan.startWall; }
    const std::vector<DemandEvent> &eventsBegun() const { return m_begun; }
    // A unit's screen is wanted, or its own dashboard (its port follows in
    // its status).
    void wantScreen(size_t unit);
    void wantDashboard(size_t unit);
    // Runs a console line (from the console, a script or the dashboard);
    // false when it was not taken (the reason said).
    bool runLine(const std::string &line);
    void say(const std::string &line);

    // The console's commands (building_console.cpp), each with the rest of
    // its line, checked.
    bool cmdUnits(const std::string &rest);
    bool cmdEvent(const std::string &rest);
    bool cmdBus(const std::string &rest);
    bool cmdHelp(const std::string &rest);
    bool cmdQuit(const std::string &rest);

  private:
    // The run (building_run.cpp).
    std::vector<std::string> unitCommand(size_t zone, const std::string &root) const;
    bool startUnits();
    bool runDueUnits();
    int64_t horizon() const;
    void sendUnitsFrames();
    void takeRecords(UnitProcess &unit);
    void unitGone(UnitProcess &unit);
    void pass();
    int64_t nextInstant() const;
    void advance(int64_t next);
    void finish(BuildingResult *result);
    std::string unitEnding(const UnitProcess &unit) const;
    void measureMemory();

    // The bus and the controller (building_bus.cpp).
    void arrive(const BusFrame &frame);
    void controllerHears(const BusFrame &frame);
    void addressChanged(UnitProcess &unit, int address);
    void sendToAddress(int address, bool broadcast, uint8_t type, std::vector<uint8_t> payload);
    void sendCommand(size_t unit, const std::string &text);
    std::vector<UnitProcess *> holders(int address);
    void beginEvent(const DemandEvent &event);
    void pollEvents();

    bool runAddressed(const std::string &target, const std::string &line);

    BuildingSpec m_plan;
    BuildingOptions m_options;
    std::string m_dir;
    bool m_withEvents;
    std::vector<ScriptLine> m_script;
    size_t m_scriptNext = 0;

    std::vector<std::unique_ptr<UnitProcess>> m_units;
    std::vector<UnitSeries> m_series;
    ControlBus m_bus;
    std::vector<std::unique_ptr<DemandResponse>> m_events;
    std::vector<DemandEvent> m_begun;
    size_t m_specEventNext = 0;
    std::vector<double> m_demandKw; // the building's, minute by minute so far
    // Frames the units sent since the last turns, with when they sent them;
    // the latest horizon given (every unit has lived up to it).
    std::vector<std::pair<int64_t, BusFrame>> m_fromUnits;
    int64_t m_committedMs = 0;

    ConsoleServer m_console;
    std::unique_ptr<BuildingDashboard> m_dashboard;
    int64_t m_now = 0;
    int64_t m_endMs = 0;
    int64_t m_nextConsoleMs = 0;
    bool m_quit = false;
    bool m_failed = false;
    bool m_showBus = false;
    std::string m_endWhy;
    double m_unitMemoryMb = 0.0;
};

} // namespace sim
