// The building's bus and its controller: frames to the units that hold
// their address (saying when none or several do), what the controller
// hears from the units, and the demand-response events it carries out.
#include "building/building_run.h"

#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "decode.h"

#include <algorithm>

namespace sim {

namespace {

// How the console describes a packet a unit sent onto the bus.
std::string describePacket(uint8_t type, const std::vector<uint8_t> &payload) {
    std::vector<uint8_t> frame{type, static_cast<uint8_t>(payload.size() + COPROC_FRAME_OVERHEAD)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    uint16_t crc = coprocCommCrc(0, frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return decodeFrame(frame.data(), frame.size());
}

std::string names(const std::vector<UnitProcess *> &units) {
    std::string text;
    for (size_t i = 0; i < units.size(); i++) {
        text += (i == 0 ? "" : i + 1 == units.size() ? " and " : ", ") + units[i]->name();
    }
    return text;
}

} // namespace

std::vector<UnitProcess *> BuildingRun::holders(int address) {
    std::vector<UnitProcess *> out;
    for (auto &u : m_units) {
        if (!u->gone && u->address == address) {
            out.push_back(u.get());
        }
    }
    return out;
}

void BuildingRun::sendToAddress(int address, bool broadcast, uint8_t type,
                                std::vector<uint8_t> payload) {
    m_bus.send(BusFrame{-1, address, broadcast, type, std::move(payload)}, m_now);
}

void BuildingRun::sendCommand(size_t unit, const std::string &text) {
    std::vector<uint8_t> payload{static_cast<uint8_t>(text.size())};
    payload.insert(payload.end(), text.begin(), text.end());
    const UnitProcess &u = *m_units[unit];
    say("bus> @" + std::to_string(u.address) + " command \"" + escapeText(text) + "\" (" +
        u.name() + ")");
    sendToAddress(u.address, false, COPROC_PKT_COMMAND, payload);
}

// A frame reaches its receivers.
void BuildingRun::arrive(const BusFrame &frame) {
    if (frame.from >= 0) {
        controllerHears(frame);
        return;
    }
    std::vector<UnitProcess *> to;
    if (frame.broadcast) {
        for (auto &u : m_units) {
            if (!u->gone) {
                to.push_back(u.get());
            }
        }
    } else {
        to = holders(frame.address);
    }
    if (!frame.broadcast && to.empty()) {
        say("bus: no unit holds address " + std::to_string(frame.address) +
            ": the frame went unanswered");
    } else if (!frame.broadcast && to.size() > 1) {
        say("bus: address " + std::to_string(frame.address) + " is held by " + names(to) +
            ": each of them took the frame");
    }
    std::vector<uint8_t> record{frame.type};
    record.insert(record.end(), frame.payload.begin(), frame.payload.end());
    for (UnitProcess *u : to) {
        u->send(LINK_BUS_PACKET, record.data(), record.size());
    }
}

void BuildingRun::controllerHears(const BusFrame &frame) {
    UnitProcess &u = *m_units[static_cast<size_t>(frame.from)];
    if (frame.type == COPROC_PKT_REPLY || m_showBus) {
        say("@" + std::to_string(u.address) + " " + u.name() + "> " +
            describePacket(frame.type, frame.payload));
    }
    if (frame.type != COPROC_PKT_REPLY) {
        return;
    }
    std::string text(frame.payload.begin(), frame.payload.end());
    for (auto &e : m_events) {
        e->onReply(u.index(), text, m_now,
                   [this](size_t unit, const std::string &command) { sendCommand(unit, command); });
    }
}

void BuildingRun::addressChanged(UnitProcess &unit, int address) {
    int before = unit.address;
    unit.address = address;
    if (before == address) {
        return;
    }
    say("bus: unit " + unit.name() + " now answers to address " + std::to_string(address) +
        " (it had " + std::to_string(before) + ")");
    std::vector<UnitProcess *> same = holders(address);
    if (same.size() > 1) {
        say("bus: address " + std::to_string(address) + " is held by " + names(same) +
            ": a frame to it reaches them all");
    }
}

void BuildingRun::beginEvent(const DemandEvent &event) {
    std::vector<size_t> units;
    std::vector<std::string> unitNames;
    auto group = m_plan.groups.find(event.group);
    for (const auto &u : m_units) {
        bool in = event.group.empty() ||
                  (group != m_plan.groups.end() &&
                   std::count(group->second.begin(), group->second.end(), u->index()) > 0);
        if (in) {
            units.push_back(u->index());
            unitNames.push_back(u->name());
        }
    }
    DemandEvent begun = event;
    begun.atMs = m_now;
    say("building: demand-response event: " + std::string(event.cool ? "cool" : "heat") +
        " set points " + (event.cool ? "up " : "down ") + formatNumber("%.1f", event.amountC) +
        " C for " + formatNumber("%g", static_cast<double>(event.durationMs) / 60000.0) +
        " min on " + std::to_string(units.size()) + " units" +
        (event.staggerMs > 0 ? ", their return staggered over " +
                                   formatNumber("%g", event.staggerMs / 60000.0) + " min"
                             : std::string()));
    m_begun.push_back(begun);
    m_events.push_back(std::make_unique<DemandResponse>(begun, units, unitNames));
    m_events.back()->start(
        m_now, [this](size_t unit, const std::string &command) { sendCommand(unit, command); });
}

void BuildingRun::pollEvents() {
    for (auto &e : m_events) {
        e->poll(m_now,
                [this](size_t unit, const std::string &command) { sendCommand(unit, command); });
    }
}

} // namespace sim
