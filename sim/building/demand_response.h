// A demand-response event as the building controller carries it out over
// the bus, for each unit of the event:
//
//  1. asks it for its state (ST): its set points and mode in the mode
//     report, its scale in the format report;
//  2. holds it, permanently for the event, at its cool set point raised
//     (or its heat set point lowered) by the event's amount in whole
//     degrees of its scale (MD MPH H.. C..), and asks again (ST);
//  3. counts it as having taken the event when a mode report carries the
//     set points it was sent, as not when none does within TAKE_LIMIT_MS;
//  4. at the end of the event, at its own moment of a staggered return,
//     puts back the mode and set points it had (MD MP, or the hold or
//     vacation it was in).
#pragma once

#include "building/building_spec.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// A mode report of the thermostat ("MD MH H70 C78 "); valid false for any
// other text.
struct ModeReport {
    bool valid = false;
    std::string mode; // "MP", "MH", "MPH", "MV"
    int heat = 0, cool = 0;
    std::string text; // the report as it came, trailing blank dropped
};
ModeReport parseModeReport(const std::string &text);

class DemandResponse {
  public:
    // Simulated milliseconds a unit has to show the event's set points.
    static constexpr int64_t TAKE_LIMIT_MS = 60000;

    // Sends a command string to a unit.
    using Send = std::function<void(size_t unit, const std::string &command)>;

    // The event for these units (indices), with their names for messages.
    DemandResponse(const DemandEvent &event, std::vector<size_t> units,
                   std::vector<std::string> names);

    // At the event's start: every unit asked for its state.
    void start(int64_t now, const Send &send);
    // A reply of a unit (its text): a mode or format report moves it on.
    void onReply(size_t unit, const std::string &text, int64_t now, const Send &send);
    // Deadlines and returns due at now.
    void poll(int64_t now, const Send &send);
    // When poll() next has something to do (INT64_MAX: nothing more).
    int64_t nextMs() const;

    const DemandEvent &event() const { return m_event; }
    size_t unitCount() const { return m_units.size(); }
    // The units that did not take it, each "name: why", in unit order.
    std::vector<std::string> notTaken() const;
    // When the last unit is given back its set points.
    int64_t lastReturnMs() const;

  private:
    enum class Step { Asked, Held, Took, Failed };
    struct UnitEvent {
        size_t unit;
        std::string name;
        Step step = Step::Asked;
        ModeReport before;
        bool scaleKnown = false;
        bool celsius = false;
        int heat = 0, cool = 0; // what it was sent
        int64_t deadlineMs = 0;
        int64_t returnMs = 0;
        std::string why;
        bool returned = false;
    };
    UnitEvent *find(size_t unit);
    void hold(UnitEvent &u, int64_t now, const Send &send);
    void giveBack(UnitEvent &u, const Send &send);

    DemandEvent m_event;
    std::vector<UnitEvent> m_units;
};

} // namespace sim
