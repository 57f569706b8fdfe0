// The building's dashboard: its requests and what its event stream carries.
#include "building/building_dashboard.h"

#include "board/board.h"
#include "board/run_support.h"
#include "building/building_assets.h"
#include "building/building_run.h"

#include <cmath>
#include <cstdlib>
#include <microhttpd.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace sim {

namespace {

// Host milliseconds between two rounds of screens asked of the units while
// a page is open, and between two states of the units.
constexpr int64_t SCREENS_PERIOD_MS = 1000;
constexpr int64_t STATE_PERIOD_MS = 500;
constexpr size_t CONSOLE_BACKLOG = 300;
constexpr size_t SCREEN_MAX_BYTES = 16 << 20;

std::string dump(const nlohmann::json &j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The page a unit shows, "?" when not known, "+" when a pop-up is open.
std::string pageOf(const UnitProcess &u) {
    std::string text;
    std::string error;
    if (!readBoardFile(u.root() + "/sim/page", 64, &text, &error)) {
        return "?";
    }
    std::istringstream in(text);
    int page = -1;
    int popUp = 0;
    if (!(in >> page >> popUp)) {
        return "?";
    }
    return std::to_string(page) + (popUp != 0 ? "+" : "");
}

} // namespace

BuildingDashboard::BuildingDashboard(BuildingRun &run)
    : m_run(run), m_server(findBuildingAsset), m_screens(run.units().size()) {
    using Request = WebServer::Request;
    using Reply = WebServer::Reply;
    m_server.route("/unit.png", "GET", [this](const Request &r) { return screen(r); });
    m_server.route("/api/units", "GET", [this](const Request &) {
        return Reply{200, unitsJson(), "application/json"};
    });
    m_server.route("/api/demand", "GET", [this](const Request &) {
        return Reply{200, demandJson(0), "application/json"};
    });
    m_server.route("/api/focus", "POST", [this](const Request &r) { return focus(r); });
    m_server.route("/api/console", "POST", [this](const Request &r) { return console(r); });
    m_server.events("/events", [this] {
        std::vector<std::pair<std::string, std::string>> greeting{
            {"units", unitsJson()}, {"demand", demandJson(0)}, {"events", eventsJson()}};
        for (const std::string &line : m_backlog) {
            greeting.emplace_back("console", line);
        }
        return greeting;
    });
}

std::string BuildingDashboard::unitsJson() const {
    nlohmann::json units = nlohmann::json::array();
    for (const auto &u : m_run.units()) {
        const UnitStatus &s = u->status;
        units.push_back({{"name", u->name()},
                         {"address", u->address},
                         {"room", std::round(s.indoor * 100.0) / 100.0},
                         {"celsius", s.celsius != 0},
                         {"relays", std::string(s.relays.begin(), s.relays.end())},
                         {"page", pageOf(*u)},
                         {"screen", m_screens[u->index()].version},
                         {"port", s.dashboardPort},
                         {"ended", u->gone ? u->why : std::string()}});
    }
    char clock[32];
    time_t t = static_cast<time_t>(m_run.startWall() + m_simNowMs / 1000);
    struct tm local {};
    localtime_r(&t, &local);
    strftime(clock, sizeof(clock), "%Y-%m-%d %H:%M:%S", &local);
    return dump({{"clock", clock}, {"units", units}});
}

// The building's demand from minute `from` on, as far as every unit has
// lived.
std::string BuildingDashboard::demandJson(size_t from) const {
    const std::vector<double> &kw = m_run.demandKw();
    size_t done = std::min(kw.size(), static_cast<size_t>(m_simNowMs / 60000));
    nlohmann::json values = nlohmann::json::array();
    for (size_t i = from; i < done; i++) {
        values.push_back(std::round(kw[i] * 1000.0) / 1000.0);
    }
    return dump(
        {{"from", from}, {"minutes", kw.size()}, {"start", m_run.startWall()}, {"kw", values}});
}

std::string BuildingDashboard::eventsJson() const {
    nlohmann::json events = nlohmann::json::array();
    for (const DemandEvent &e : m_run.eventsBegun()) {
        events.push_back({{"at", e.atMs / 60000.0},
                          {"until", (e.atMs + e.durationMs) / 60000.0},
                          {"back", (e.atMs + e.durationMs + e.staggerMs) / 60000.0},
                          {"cool", e.cool}});
    }
    return dump(events);
}

WebServer::Reply BuildingDashboard::screen(const WebServer::Request &r) const {
    size_t unit = static_cast<size_t>(strtoul(r.argument("unit").c_str(), nullptr, 10));
    if (unit >= m_screens.size() || m_screens[unit].png.empty()) {
        return {MHD_HTTP_NOT_FOUND, "no screen of that unit yet\n"};
    }
    return {MHD_HTTP_OK, m_screens[unit].png, "image/png"};
}

WebServer::Reply BuildingDashboard::focus(const WebServer::Request &r) {
    std::string text = r.argument("unit");
    size_t unit = static_cast<size_t>(strtoul(text.c_str(), nullptr, 10));
    if (text.empty() || unit >= m_run.units().size()) {
        return {MHD_HTTP_BAD_REQUEST, "unit must be the index of a unit\n"};
    }
    const UnitProcess &u = *m_run.units()[unit];
    if (u.gone) {
        return {MHD_HTTP_CONFLICT, "that unit's run has ended\n"};
    }
    // Its port follows in the units' state.
    if (u.status.dashboardPort == 0) {
        m_run.wantDashboard(unit);
    }
    return {MHD_HTTP_OK, std::to_string(u.status.dashboardPort) + "\n"};
}

WebServer::Reply BuildingDashboard::console(const WebServer::Request &r) {
    std::string line = r.body;
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    if (line.find_first_not_of(" \t") == std::string::npos ||
        line.find_first_of("\r\n") != std::string::npos) {
        return {MHD_HTTP_BAD_REQUEST, "send one console line as the body\n"};
    }
    m_run.say("web> " + line);
    if (!m_run.runLine(line)) {
        return {MHD_HTTP_BAD_REQUEST, "not understood; the console says why\n"};
    }
    return {MHD_HTTP_OK, "ok\n"};
}

// Takes the screens the units published since the last look.
void BuildingDashboard::followScreens() {
    for (const auto &u : m_run.units()) {
        Screen &s = m_screens[u->index()];
        if (u->status.screens == s.published) {
            continue;
        }
        s.published = u->status.screens;
        std::string path = u->root() + "/sim/screen.png";
        std::string stamp = fileStamp(path);
        std::string png;
        std::string error;
        if (stamp.empty() || stamp == s.stamp ||
            !readBoardFile(path, SCREEN_MAX_BYTES, &png, &error) || png.empty()) {
            continue;
        }
        s.stamp = stamp;
        if (png != s.png) {
            s.png = std::move(png);
            s.version++;
            m_server.broadcast("screen", dump({{"unit", u->index()}, {"version", s.version}}));
        }
    }
}

void BuildingDashboard::said(const std::string &line) {
    m_backlog.push_back(line);
    if (m_backlog.size() > CONSOLE_BACKLOG) {
        m_backlog.pop_front();
    }
    m_server.broadcast("console", line);
}

void BuildingDashboard::ended(const std::string &why) {
    if (!m_server.started()) {
        return;
    }
    m_server.broadcast("ended", dump({{"why", why}}));
    m_server.flush();
}

void BuildingDashboard::poll(int64_t simNowMs) {
    m_simNowMs = simNowMs;
    int64_t host = hostMs();
    if (!m_server.due(host)) {
        return;
    }
    bool watched = m_server.streamCount() > 0;
    if (watched && host >= m_nextScreensMs) {
        m_nextScreensMs = host + SCREENS_PERIOD_MS;
        for (const auto &u : m_run.units()) {
            m_run.wantScreen(u->index());
        }
    }
    followScreens();
    if (!watched) {
        // A new page's greeting carries every minute so far.
        m_demandSent = std::min(m_run.demandKw().size(), static_cast<size_t>(simNowMs / 60000));
    }
    if (watched && host >= m_nextStateMs) {
        m_nextStateMs = host + STATE_PERIOD_MS;
        m_server.broadcast("units", unitsJson());
        size_t done = std::min(m_run.demandKw().size(), static_cast<size_t>(simNowMs / 60000));
        if (done > m_demandSent) {
            m_server.broadcast("demand", demandJson(m_demandSent));
            m_demandSent = done;
        }
        if (m_run.eventsBegun().size() != m_eventsSent) {
            m_eventsSent = m_run.eventsBegun().size();
            m_server.broadcast("events", eventsJson());
        }
    }
    m_server.serve(host);
}

} // namespace sim
