// The link between a building and the simulator of one of its units.
//
// A building runs many units, each a `tstat-sim run` of its own with its
// own application, house zone and coprocessor, and keeps one clock for all
// of them: to each unit's simulator it is what that simulator is to its
// application (see platform/lockstep.h). It hands the unit's simulator one
// end of a socket pair (--building-link FD), which carries the memory both
// map: the clock's channel, on which the building says NOW and the unit
// answers IDLE with the time it next has something to do, and two rings of
// records, one each way, read and written only in the writer's and the
// reader's turns.
//
// What travels: the packets between the control bus and the unit's
// coprocessor (the building's bus carries them, one frame at a time), the
// console lines the building runs on the unit (its keys, its screens), the
// unit's trace row of every whole minute and its status (room, relays,
// page, the screen it published, its dashboard).
//
// A NOW may come with a horizon: nothing will reach the unit before it, so
// the unit lives every instant before it alone, without handing the turn
// back, and answers with its first instant at or after it. What it sends
// meanwhile carries the simulated time it was sent at.
#pragma once

#include "host/file_descriptor.h"
#include "hvac/relay_control.h"
#include "platform/lockstep.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

namespace sim {

enum LinkRecordKind : uint8_t {
    LINK_BUS_PACKET = 1, // both ways: a coprocessor packet, its type then its payload
    LINK_LINE = 2,       // building -> unit: a console line run on the unit
    LINK_DASHBOARD = 3,  // building -> unit: serve the unit's own dashboard
    LINK_MINUTE = 4,     // unit -> building: a whole minute's TraceRow
    LINK_STATUS = 5,     // unit -> building: a UnitStatus
    LINK_HORIZON = 6,    // building -> unit, with a NOW: the unit runs on alone until then
};
// A packet from the unit: the simulated time it was sent at (int64_t,
// milliseconds), its type and its payload.
constexpr size_t LINK_TIME_BYTES = sizeof(int64_t);
// The unit runs on alone only while less than this waits for the building.
constexpr size_t LINK_RUN_ALONE_BYTES = LOCKSTEP_RING_BYTES / 2;
// The longest record (its kind and length not counted).
constexpr size_t LINK_RECORD_MAX = 4096;

// What the building shows of a unit besides the bus.
struct UnitStatus {
    double indoor = 0.0;                    // the room, C
    std::array<char, RELAY_COUNT> relays{}; // '1' closed
    int16_t page = -1;                      // the page shown (-1: not known)
    uint8_t popUp = 0;                      // a pop-up open over it
    uint8_t hvacState = 0;                  // the record's system mode
    uint8_t celsius = 0;                    // the unit the thermostat shows
    uint8_t ended = 0;                      // its run is over
    uint16_t dashboardPort = 0;             // its own dashboard (0: none)
    uint32_t screens = 0;                   // screens published so far
};
static_assert(std::is_trivially_copyable_v<UnitStatus>, "a status travels as its bytes");

// Puts one record on a ring; false when it does not fit (the ring is full
// or the record too long).
bool putLinkRecord(LockstepRing *ring, uint8_t kind, const void *data, size_t size);
// Takes every whole record waiting on a ring, in order, each to `each`.
// False when the ring holds something that is not a record.
using LinkRecordHandler = std::function<void(uint8_t kind, const uint8_t *data, size_t size)>;
bool takeLinkRecords(LockstepRing *ring, const LinkRecordHandler &each);

// The unit's side: its simulator's clock follows the building's.
class BuildingClient {
  public:
    // Takes over fd, the unit's end of the pair, and maps the region it
    // carries. False with the reason.
    bool open(int fd, std::string *error);
    // Waits for the building's next NOW: its simulated time and flags.
    // False once the building has ended the run, or gone.
    bool awaitNow(int64_t *nowMs, uint32_t *flags);
    // Answers the present NOW: nothing to do before nextMs. The turn is the
    // building's until the next NOW.
    void answer(int64_t nextMs);
    // The unit's run is over: the building learns it at once.
    void close();
    // The records to and from the building.
    LockstepRing *fromBuilding() { return &m_shared->toApplication; }
    LockstepRing *toBuilding() { return &m_shared->toSimulator; }
    bool put(uint8_t kind, const void *data, size_t size) {
        return putLinkRecord(toBuilding(), kind, data, size);
    }

  private:
    FileDescriptor m_fd;
    std::shared_ptr<LockstepShared> m_shared;
    bool m_closed = false;
};

} // namespace sim
