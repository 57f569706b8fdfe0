// The building's side of one unit: the `tstat-sim run` that plays it (its
// own board root, application, house zone and coprocessor), started with
// its end of the building's link, and that link's clock and records.
#pragma once

#include "building/building_spec.h"
#include "lockstep_clock.h"
#include "unit_link.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sim {

class UnitProcess {
  public:
    // The unit of zone `index`, its board root `root`; its clock tells it
    // the building's time from startWall.
    UnitProcess(size_t index, const ZoneSpec &zone, std::string root, int64_t startWall);
    ~UnitProcess();
    UnitProcess(const UnitProcess &) = delete;
    UnitProcess &operator=(const UnitProcess &) = delete;

    // Starts program (tstat-sim) with args on processor cpu (-1: any), its
    // output in ROOT/console.log. False with the reason.
    bool start(const std::string &program, std::vector<std::string> args, int cpu,
               std::string *error);

    size_t index() const { return m_index; }
    const ZoneSpec &zone() const { return m_zone; }
    const std::string &name() const { return m_zone.name; }
    const std::string &root() const { return m_root; }
    pid_t pid() const { return m_pid; }
    LockstepClock &clock() { return *m_clock; }
    const LockstepClock &clock() const { return *m_clock; }

    // Whether the unit is to run at `now`: its time has come, the building
    // sent it something, or a screen is wanted of it.
    bool due(int64_t now);
    // Hands it the turn at now; takeTurn() waits for it to give it back
    // (false once it has gone).
    void handTurn(int64_t now);
    bool takeTurn();
    // A record for it, taken at its next turn; false when the link is full.
    bool send(uint8_t kind, const void *data, size_t size);
    bool takeRecords(const LinkRecordHandler &each);

    // The address its coprocessor answers to, and its last status.
    int address = -1;
    UnitStatus status;
    // A screen is wanted of it at its next turn.
    bool wantScreen = false;
    // Its run is over (why in words), its exit status once known (-1).
    bool gone = false;
    std::string why;
    int exitStatus = -1;

    // Waits up to graceMs of host time for its process to end by itself,
    // then ends it; its exit status.
    int waitForEnd(int graceMs);
    // Ends its process at once (a unit that does not answer).
    void kill();

  private:
    size_t inputWaiting() const;

    size_t m_index;
    ZoneSpec m_zone;
    std::string m_root;
    std::unique_ptr<LockstepClock> m_clock;
    pid_t m_pid = -1;
};

} // namespace sim
