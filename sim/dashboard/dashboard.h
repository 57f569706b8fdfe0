// The simulator's web dashboard: one page on 127.0.0.1 that shows the
// thermostat's screen, its relays, the house and a plot of the last hours,
// presses the four keys, and carries the console both ways. It is served
// by the simulator's web server (web_server.h), whose work poll() does
// from the simulator's loop, and follows the board through one server-sent
// event stream (/events).
#pragma once

#include "dashboard/dashboard_model.h"
#include "dashboard/web_server.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace sim {

struct ConsoleContext;
class House;

// The port `tstat-sim run` serves the dashboard on unless told otherwise.
constexpr int DASHBOARD_DEFAULT_PORT = 8470;

class Dashboard {
  public:
    Dashboard(const House &house, ConsoleContext &console);
    ~Dashboard();
    Dashboard(const Dashboard &) = delete;
    Dashboard &operator=(const Dashboard &) = delete;

    // Listens on 127.0.0.1:port (0: a free port). False with the reason.
    bool start(int port, std::string *error) { return m_server.start(port, error); }
    int port() const { return m_server.port(); }
    // A run in lock-step time: no time scale to show or change.
    void setLockstep(bool on) { m_lockstep = on; }
    // The board the page follows, as its title names it.
    void setBoardName(const std::string &name) { m_boardName = name; }

    // One pass: serves what the browsers asked (their key presses go to the
    // console's key pad), follows the screen, the relays, the house and the
    // configuration. simNowMs is the simulated monotonic time.
    void poll(int64_t simNowMs);

    // A line the simulator said, time stamp first, without its newline.
    void said(const std::string &line);
    // An event of the run at a simulated wall-clock second, for the plot.
    void mark(int64_t wallSeconds, const std::string &text);

    // The run ends: tells every open page why (and the application's exit
    // status, -1 when it has none) and gives them a moment to take it.
    void ended(const std::string &why, int status);

    // Event streams open now (for tests).
    size_t streamCount() const { return m_server.streamCount(); }

  private:
    // The requests of the page.
    WebServer::Reply screen() const;
    WebServer::Reply console(const WebServer::Request &r);
    WebServer::Reply scale(const WebServer::Request &r);
    void followScreen();
    // The page, backlight, line voltage and bus status now.
    BoardView board() const;
    std::string stateJson() const;
    void sendState();
    // Key presses: "tap" (press, release 100 ms of simulated time later),
    // "press" (held until "release") and "release". Returns an HTTP status.
    int key(const std::string &name, const std::string &action, std::string *message);

    const House &m_house;
    ConsoleContext &m_console;
    DashboardModel m_model;
    WebServer m_server;
    std::deque<std::string> m_backlog; // the last console lines, for a new page
    std::deque<std::string> m_marks;   // the last events, as JSON, for a new page
    int64_t m_nextScreenCheckMs = 0;
    int64_t m_nextStateMs = 0;
    std::string m_screen; // the last screen.png read
    uint64_t m_screenVersion = 0;
    std::string m_screenStamp; // inode, size and time of the file read
    std::string m_lastRelays;
    double m_lastScale = 0.0; // the time scale of the last state sent
    std::string m_boardName = "the simulated board";
    bool m_lockstep = false;
};

} // namespace sim
