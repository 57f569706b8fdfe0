// The building's dashboard: one page on 127.0.0.1 with a grid of every
// unit's live screen (small), its address, zone, room and relay lamps; a
// click focuses a unit, whose own dashboard (keys, screen, bus console)
// the unit then serves and the page shows; the building's demand minute
// by minute with its events; and the building's console.
//
// Served by the simulator's web server from the building's loop, at the
// instants no unit is past the building's clock. While a page is open the
// units publish their screens a few times a host second.
#pragma once

#include "dashboard/web_server.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace sim {

class BuildingRun;

class BuildingDashboard {
  public:
    explicit BuildingDashboard(BuildingRun &run);
    BuildingDashboard(const BuildingDashboard &) = delete;
    BuildingDashboard &operator=(const BuildingDashboard &) = delete;

    // Listens on 127.0.0.1:port (0: a free port). False with the reason.
    bool start(int port, std::string *error) { return m_server.start(port, error); }
    int port() const { return m_server.port(); }

    // One pass at simulated time simNowMs: the screens asked for and taken,
    // the units' state and the demand's new minutes sent, the requests served.
    void poll(int64_t simNowMs);
    // A line the building said, time stamp first, without its newline.
    void said(const std::string &line);
    // The run ends: the open pages learn why.
    void ended(const std::string &why);

  private:
    std::string unitsJson() const;
    std::string demandJson(size_t from) const;
    std::string eventsJson() const;
    void followScreens();
    WebServer::Reply screen(const WebServer::Request &r) const;
    WebServer::Reply focus(const WebServer::Request &r);
    WebServer::Reply console(const WebServer::Request &r);

    BuildingRun &m_run;
    WebServer m_server;
    struct Screen {
        std::string png;
        std::string stamp;
        uint32_t version = 0;
        uint32_t published = UINT32_MAX; // the unit's count when last read
    };
    std::vector<Screen> m_screens;
    std::deque<std::string> m_backlog;
    int64_t m_nextScreensMs = 0;
    int64_t m_nextStateMs = 0;
    size_t m_demandSent = 0;
    size_t m_eventsSent = 0;
    int64_t m_simNowMs = 0;
};

} // namespace sim
