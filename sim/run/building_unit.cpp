// A run that is one unit of a building (tstat-sim run --building-link FD):
// its clock follows the building's, its coprocessor's bus is the
// building's, and the building learns the unit's minutes and status.
#include "run/simulator.h"

#include "coproc/coproc_msg.h"
#include "decode.h"

#include <cstring>

namespace sim {

namespace {

// What the controller sent over the bus, as the console says it.
std::string describeBusPacket(uint8_t type, const std::vector<uint8_t> &p) {
    std::string hex = " [0x" + hexBytes(&type, 1) + "]";
    if (type == COPROC_PKT_COMMAND && !p.empty()) {
        return "command \"" + escapeText(p.data() + 1, p.size() - 1) + "\"" + hex;
    }
    if (type == COPROC_PKT_STRING) {
        return "string \"" + escapeText(p.data(), p.size()) + "\"" + hex;
    }
    if ((type == COPROC_PKT_CHANNEL || type == COPROC_PKT_LEVEL) && p.size() == 2) {
        return std::string(type == COPROC_PKT_CHANNEL ? "channel " : "level ") +
               std::to_string(p[0]) + " " + std::to_string(p[1]) + hex;
    }
    return "packet " + hexBytes(p.data(), p.size()) + hex;
}

} // namespace

bool Simulator::openBuildingLink() {
    auto client = std::make_unique<BuildingClient>();
    std::string error;
    if (!client->open(m_options.buildingLink, &error)) {
        say("tstat-sim: " + error);
        return false;
    }
    m_building.client = std::move(client);
    return true;
}

// Before the horizon the unit moves its clock on by itself, as a run of
// its own would. Then it gives the building its turn (nothing to do before
// next), and takes the next instant it hands back: at the latest next,
// earlier when it sent something. What it sent is taken, and the
// simulator's part of the instant done when it is due or something came.
// The coprocessor's packets for the bus go to the building, stamped with
// the simulated instant they were sent.
void Simulator::attachBuildingBus() {
    if (!m_building.client) {
        return;
    }
    m_coproc->setBusSink([this](uint8_t type, const uint8_t *payload, size_t length) {
        int64_t at = m_lockstep->nowMs();
        std::vector<uint8_t> packet(LINK_TIME_BYTES);
        memcpy(packet.data(), &at, sizeof(at));
        packet.push_back(type);
        packet.insert(packet.end(), payload, payload + length);
        m_building.client->put(LINK_BUS_PACKET, packet.data(), packet.size());
    });
}

void Simulator::followBuilding(int64_t now, int64_t next, int64_t simulatorNext) {
    reportToBuilding();
    if (next < m_building.horizonMs &&
        lockstepRingUsed(m_building.client->toBuilding()) < LINK_RUN_ALONE_BYTES) {
        m_lockstep->advanceTo(next);
        if (next == simulatorNext) {
            lockstepPass(next);
        }
        return;
    }
    m_building.client->answer(next);
    int64_t at = now;
    uint32_t flags = 0;
    if (!m_building.client->awaitNow(&at, &flags)) {
        noteEnd("the building's run ended", -1);
        m_quit = true;
        return;
    }
    m_lockstep->advanceTo(at);
    m_building.screenWanted = (flags & LOCKSTEP_PUBLISH_SCREEN) != 0;
    m_building.horizonMs = 0;
    bool sent = takeFromBuilding();
    if (at >= simulatorNext || sent) {
        lockstepPass(at);
    }
}

// What the building sent: packets from the bus go to the thermostat at
// once, console lines wait for the pass. True when anything but a horizon
// came.
bool Simulator::takeFromBuilding() {
    bool any = false;
    auto take = [this, &any](uint8_t kind, const uint8_t *data, size_t size) {
        any = any || kind != LINK_HORIZON;
        takeBuildingRecord(kind, data, size);
    };
    if (!takeLinkRecords(m_building.client->fromBuilding(), take)) {
        say("tstat-sim: the building's link carried something that is not a record; dropped");
    }
    return any;
}

void Simulator::takeBuildingRecord(uint8_t kind, const uint8_t *data, size_t size) {
    if (kind == LINK_BUS_PACKET && size >= 1) {
        std::vector<uint8_t> payload(data + 1, data + size);
        m_coproc->sendPacket(data[0], payload);
        say("bus> " + describeBusPacket(data[0], payload));
    } else if (kind == LINK_LINE) {
        m_building.lines.emplace_back(reinterpret_cast<const char *>(data), size);
    } else if (kind == LINK_DASHBOARD && !m_dashboard) {
        // On a free port: the building's page shows it.
        m_options.http = 0;
        startDashboard();
    } else if (kind == LINK_HORIZON && size == sizeof(int64_t)) {
        memcpy(&m_building.horizonMs, data, size);
    }
}

UnitStatus Simulator::unitStatus() const {
    UnitStatus s;
    s.indoor = m_house.indoor();
    s.relays = m_house.relays();
    s.hvacState = static_cast<uint8_t>(m_setpoints.setup().hvacState);
    s.celsius = m_setpoints.setup().celsius ? 1 : 0;
    s.dashboardPort = m_dashboard ? static_cast<uint16_t>(m_dashboard->port()) : 0;
    s.screens = m_building.screens;
    return s;
}

// After each pass: the minute's trace row when a minute was completed, and
// the status when it changed (the room with every minute).
void Simulator::reportToBuilding() {
    BuildingClient &client = *m_building.client;
    bool minute = m_recorder.rowCount() != m_building.rowsSent;
    if (minute) {
        m_building.rowsSent = m_recorder.rowCount();
        const TraceRow &row = m_recorder.lastRow();
        client.put(LINK_MINUTE, &row, sizeof(row));
    }
    UnitStatus s = unitStatus();
    UnitStatus &sent = m_building.sent;
    bool changed = s.relays != sent.relays || s.hvacState != sent.hvacState ||
                   s.celsius != sent.celsius || s.dashboardPort != sent.dashboardPort ||
                   s.screens != sent.screens;
    if ((minute || changed) && client.put(LINK_STATUS, &s, sizeof(s))) {
        sent = s;
    }
}

} // namespace sim
