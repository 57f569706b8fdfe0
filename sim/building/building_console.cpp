// The building controller's console: lines addressed to units ("@12
// command MD MH H70 C76" over the bus, "@3 key up" at the unit itself),
// the units' table, events, the bus's figures; the same lines in scripts.
#include "building/building_run.h"

#include "board/board.h"
#include "console.h"
#include "decode.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace sim {

namespace {

bool isBusWord(const std::string &word) {
    return word == "channel" || word == "level" || word == "command" || word == "string";
}

// "all", an address 0-255 (*address), or a zone's name.
enum class Target { All, Address, Name, Bad };
Target targetOf(const std::string &text, int *address) {
    if (text == "all") {
        return Target::All;
    }
    if (!text.empty() && text.find_first_not_of("0123456789") == std::string::npos) {
        long a = strtol(text.c_str(), nullptr, 10);
        *address = static_cast<int>(a);
        return text.size() <= 3 && a <= 255 ? Target::Address : Target::Bad;
    }
    return text.empty() ? Target::Bad : Target::Name;
}

struct Command {
    const char *name;
    const char *usage;
    bool (BuildingRun::*run)(const std::string &rest);
    bool (*check)(const std::string &rest, std::string *why);
};

bool noArguments(const std::string &rest, std::string *) {
    return rest.find_first_not_of(" \t") == std::string::npos;
}

bool busArguments(const std::string &rest, std::string *) {
    return noArguments(rest, nullptr) || rest == "show on" || rest == "show off";
}

bool eventArguments(const std::string &rest, std::string *why) {
    std::istringstream in(rest);
    std::vector<std::string> w;
    for (std::string word; in >> word;) {
        w.push_back(word);
    }
    DemandEvent event;
    return parseDemandEvent(w, &event, why);
}

const char *c_AddressedUsage =
    "@ADDRESS|@all|@ZONE LINE      a bus command (channel, level, command, string) over the bus "
    "to the units that hold the address, or any unit console line at the unit itself (key up, "
    "screen NAME, voltage 480)";

} // namespace

namespace {

const Command c_Commands[] = {
    {"units", "units                          every unit: address, zone, page, relays, room",
     &BuildingRun::cmdUnits, noArguments},
    {"event",
     "event cool|heat AMOUNT for DURATION [group NAME] [stagger DURATION]   a demand-response "
     "event from now",
     &BuildingRun::cmdEvent, eventArguments},
    {"bus", "bus [show on|off]              the bus's figures; every unit's frames shown or not",
     &BuildingRun::cmdBus, busArguments},
    {"help", "help                           this list", &BuildingRun::cmdHelp, noArguments},
    {"quit", "quit                           end the run", &BuildingRun::cmdQuit, noArguments},
};

} // namespace

bool checkBuildingLine(const std::string &line, std::string *why) {
    std::string word;
    std::string rest;
    splitCommand(line, &word, &rest);
    if (!word.empty() && word[0] == '@') {
        int address = 0;
        if (targetOf(word.substr(1), &address) == Target::Bad) {
            *why = std::string("usage: ") + c_AddressedUsage;
            return false;
        }
        std::string command;
        std::string args;
        splitCommand(rest, &command, &args);
        uint8_t type = 0;
        std::vector<uint8_t> payload;
        if (isBusWord(command)) {
            return busPacketOfLine(rest, &type, &payload, why);
        }
        if (!isConsoleCommand(command)) {
            *why = "unknown command \"" + command + "\" for a unit (its console's help lists them)";
            return false;
        }
        return checkConsoleLine(rest, why);
    }
    for (const Command &c : c_Commands) {
        if (word == c.name) {
            if (!c.check(rest, why)) {
                *why = why->empty() ? std::string("usage: ") + c.usage : *why;
                return false;
            }
            return true;
        }
    }
    *why = "unknown command \"" + word + "\" (help lists them)";
    return false;
}

bool BuildingRun::runLine(const std::string &line) {
    std::string word;
    std::string rest;
    splitCommand(line, &word, &rest);
    if (word.empty() || word[0] == '#') {
        return true;
    }
    std::string why;
    if (!checkBuildingLine(line, &why)) {
        say("error: " + why);
        return false;
    }
    if (word[0] == '@') {
        return runAddressed(word.substr(1), rest);
    }
    for (const Command &c : c_Commands) {
        if (word == c.name) {
            return (this->*c.run)(rest);
        }
    }
    return false;
}

bool BuildingRun::runAddressed(const std::string &target, const std::string &line) {
    int address = 0;
    Target kind = targetOf(target, &address);
    std::vector<UnitProcess *> to;
    if (kind == Target::Name) {
        auto it = std::find_if(m_units.begin(), m_units.end(),
                               [&target](const auto &u) { return u->name() == target; });
        if (it == m_units.end()) {
            say("error: no zone named " + target);
            return false;
        }
        address = (*it)->address;
        to.push_back(it->get());
    } else if (kind == Target::All) {
        for (auto &u : m_units) {
            to.push_back(u.get());
        }
    } else {
        to = holders(address);
    }
    std::string command;
    std::string args;
    splitCommand(line, &command, &args);
    if (isBusWord(command)) {
        uint8_t type = 0;
        std::vector<uint8_t> payload;
        std::string why;
        busPacketOfLine(line, &type, &payload, &why);
        sendToAddress(address, kind == Target::All, type, payload);
        return true;
    }
    if (to.empty()) {
        say("building: no unit holds address " + std::to_string(address));
        return false;
    }
    for (UnitProcess *u : to) {
        u->send(LINK_LINE, line.data(), line.size());
    }
    return true;
}

bool BuildingRun::cmdUnits(const std::string &) {
    say("unit       address page relays          room");
    for (const auto &u : m_units) {
        std::string page = "?";
        std::string text;
        std::string error;
        if (readBoardFile(u->root() + "/sim/page", 64, &text, &error)) {
            std::istringstream in(text);
            int p = -1, popUp = 0;
            if (in >> p >> popUp) {
                page = std::to_string(p) + (popUp != 0 ? "+" : "");
            }
        }
        std::string relays;
        for (uint32_t r = 0; r < RELAY_COUNT; r++) {
            if (u->status.relays[r] == '1') {
                relays += (relays.empty() ? "" : " ") + std::string(c_RelayNames[r]);
            }
        }
        char line[160];
        snprintf(line, sizeof(line), "%-10s %-7d %-4s %-15s %.2f C (%.1f F)%s", u->name().c_str(),
                 u->address, page.c_str(), relays.empty() ? "-" : relays.c_str(), u->status.indoor,
                 u->status.indoor * 1.8 + 32.0, u->gone ? ("  ended: " + u->why).c_str() : "");
        say(line);
    }
    return true;
}

bool BuildingRun::cmdBus(const std::string &rest) {
    if (!rest.empty()) {
        m_showBus = rest == "show on";
    }
    const ControlBus::Counts &c = m_bus.counts();
    double seconds = std::max(1.0, static_cast<double>(m_now) / 1000.0);
    say("bus: " + std::to_string(m_plan.busRate) + " bit/s, " + std::to_string(c.frames) +
        " frames so far, busy " +
        formatNumber("%.2f", 100.0 * static_cast<double>(c.busyMicros) / 1e6 / seconds) +
        " % of the time, the longest wait for the wire " +
        formatNumber("%.1f", static_cast<double>(c.longestWaitMicros) / 1000.0) +
        " ms; every unit's frames " + (m_showBus ? "shown" : "not shown (bus show on)"));
    return true;
}

bool BuildingRun::cmdEvent(const std::string &rest) {
    std::istringstream in(rest);
    std::vector<std::string> w;
    for (std::string word; in >> word;) {
        w.push_back(word);
    }
    DemandEvent event;
    std::string why;
    parseDemandEvent(w, &event, &why);
    if (!event.group.empty() && m_plan.groups.count(event.group) == 0) {
        say("error: no group " + event.group + " in the building");
        return false;
    }
    event.atMs = m_now;
    beginEvent(event);
    return true;
}

bool BuildingRun::cmdHelp(const std::string &) {
    say(c_AddressedUsage);
    for (const Command &c : c_Commands) {
        say(c.usage);
    }
    return true;
}

bool BuildingRun::cmdQuit(const std::string &) {
    m_quit = true;
    m_endWhy = "quit from the console";
    return true;
}

} // namespace sim
