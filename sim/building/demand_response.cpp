// A demand-response event carried out over the bus, unit by unit.
#include "building/demand_response.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <sstream>

namespace sim {

ModeReport parseModeReport(const std::string &text) {
    ModeReport r;
    std::istringstream in(text);
    std::string word;
    if (!(in >> word) || word != "MD" || !(in >> r.mode)) {
        return r;
    }
    if (r.mode != "MP" && r.mode != "MH" && r.mode != "MPH" && r.mode != "MV") {
        return r;
    }
    bool heat = false;
    bool cool = false;
    while (in >> word) {
        if (word.size() > 1 && (word[0] == 'H' || word[0] == 'C')) {
            char *end = nullptr;
            long v = strtol(word.c_str() + 1, &end, 10);
            if (*end != '\0') {
                return r;
            }
            (word[0] == 'H' ? r.heat : r.cool) = static_cast<int>(v);
            (word[0] == 'H' ? heat : cool) = true;
        }
    }
    r.text = text.substr(0, text.find_last_not_of(' ') + 1);
    r.valid = heat && cool;
    return r;
}

DemandResponse::DemandResponse(const DemandEvent &event, std::vector<size_t> units,
                               std::vector<std::string> names)
    : m_event(event) {
    int64_t end = event.atMs + event.durationMs;
    size_t n = units.size();
    for (size_t k = 0; k < n; k++) {
        UnitEvent u;
        u.unit = units[k];
        u.name = k < names.size() ? names[k] : std::to_string(units[k]);
        // The returns spread evenly over the stagger, in unit order.
        u.returnMs =
            end +
            (n > 1 ? event.staggerMs * static_cast<int64_t>(k) / static_cast<int64_t>(n - 1) : 0);
        m_units.push_back(u);
    }
}

DemandResponse::UnitEvent *DemandResponse::find(size_t unit) {
    for (UnitEvent &u : m_units) {
        if (u.unit == unit) {
            return &u;
        }
    }
    return nullptr;
}

void DemandResponse::start(int64_t now, const Send &send) {
    for (UnitEvent &u : m_units) {
        u.deadlineMs = now + TAKE_LIMIT_MS;
        send(u.unit, "ST");
    }
}

void DemandResponse::onReply(size_t unit, const std::string &text, int64_t now, const Send &send) {
    UnitEvent *u = find(unit);
    if (u == nullptr) {
        return;
    }
    ModeReport report = parseModeReport(text);
    if (u->step == Step::Asked) {
        if (report.valid) {
            u->before = report;
        } else if (text == "FM SF" || text == "FM SC") {
            u->scaleKnown = true;
            u->celsius = text == "FM SC";
        }
        if (u->before.valid && u->scaleKnown) {
            hold(*u, now, send);
        }
        return;
    }
    if (u->step == Step::Held && report.valid) {
        bool moved = m_event.cool ? report.cool > u->before.cool : report.heat < u->before.heat;
        if (report.mode == "MPH" && moved) {
            u->step = Step::Took;
        } else {
            u->why = "it holds " + report.text + " (sent MD MPH H" + std::to_string(u->heat) +
                     " C" + std::to_string(u->cool) + ")";
        }
    }
}

void DemandResponse::hold(UnitEvent &u, int64_t now, const Send &send) {
    double degrees = m_event.amountC * (u.celsius ? 1.0 : 1.8);
    int delta = std::max(1, static_cast<int>(std::lround(degrees)));
    u.heat = u.before.heat - (m_event.cool ? 0 : delta);
    u.cool = u.before.cool + (m_event.cool ? delta : 0);
    u.step = Step::Held;
    u.deadlineMs = now + TAKE_LIMIT_MS;
    send(u.unit, "MD MPH H" + std::to_string(u.heat) + " C" + std::to_string(u.cool));
    send(u.unit, "ST");
}

void DemandResponse::giveBack(UnitEvent &u, const Send &send) {
    u.returned = true;
    const ModeReport &b = u.before;
    std::string values = " H" + std::to_string(b.heat) + " C" + std::to_string(b.cool);
    if (b.mode == "MP") {
        send(u.unit, "MD MP");
    } else if (b.mode == "MV") {
        send(u.unit, b.text);
    } else {
        send(u.unit, "MD " + b.mode + values);
    }
}

void DemandResponse::poll(int64_t now, const Send &send) {
    for (UnitEvent &u : m_units) {
        bool waiting = u.step == Step::Asked || u.step == Step::Held;
        if (waiting && now >= u.deadlineMs) {
            if (u.why.empty()) {
                u.why = u.step == Step::Asked ? "no state in answer to ST"
                                              : "no mode report with the event's set points";
            }
            bool held = u.step == Step::Held;
            u.step = Step::Failed;
            // One sent the event's set points may hold them all the same.
            u.returned = !held;
        }
        if (!u.returned && u.step != Step::Asked && now >= u.returnMs) {
            giveBack(u, send);
        }
    }
}

int64_t DemandResponse::nextMs() const {
    int64_t next = INT64_MAX;
    for (const UnitEvent &u : m_units) {
        if (u.step == Step::Asked || u.step == Step::Held) {
            next = std::min(next, u.deadlineMs);
        }
        if (!u.returned && u.step != Step::Asked) {
            next = std::min(next, u.returnMs);
        }
    }
    return next;
}

std::vector<std::string> DemandResponse::notTaken() const {
    std::vector<std::string> out;
    for (const UnitEvent &u : m_units) {
        if (u.step != Step::Took) {
            out.push_back(u.name + ": " + (u.why.empty() ? "not yet" : u.why));
        }
    }
    return out;
}

int64_t DemandResponse::lastReturnMs() const {
    return m_event.atMs + m_event.durationMs + m_event.staggerMs;
}

} // namespace sim
