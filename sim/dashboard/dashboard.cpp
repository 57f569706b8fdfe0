// The simulator's web dashboard: the handlers of the page's requests and
// what its event stream carries.
#include "dashboard/dashboard.h"

#include "board/board.h"
#include "board/board_link.h"
#include "board/run_support.h"
#include "console.h"
#include "coprocessor.h"
#include "dashboard/dashboard_assets.h"
#include "house/house.h"
#include "key_pad.h"
#include "platform/platform.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr size_t CONSOLE_BACKLOG = 300;
// The events a new page gets for its plot.
constexpr size_t MARKS_KEPT = 100;
// Host milliseconds between looks at screen.png and between state events.
constexpr int64_t SCREEN_CHECK_MS = 50;
constexpr int64_t STATE_PERIOD_MS = 500;
constexpr double SCALE_MIN = 0.1;
constexpr double SCALE_MAX = 3600.0;
// Bounds of the board's files read: a number's, and the screen's picture.
constexpr size_t SMALL_FILE_MAX_BYTES = 4096;
constexpr size_t SCREEN_MAX_BYTES = 16 << 20;

// The first number in a small file of the board, or -1.
int numberIn(const std::string &path) {
    std::string text;
    std::string error;
    if (!readBoardFile(path, SMALL_FILE_MAX_BYTES, &text, &error)) {
        return -1;
    }
    std::istringstream in(text);
    int value = -1;
    if (!(in >> value)) {
        return -1;
    }
    return value;
}

bool parseNumber(const std::string &text, double *out) {
    char *end = nullptr;
    double v = strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(v)) {
        return false;
    }
    *out = v;
    return true;
}

} // namespace

Dashboard::Dashboard(const House &house, ConsoleContext &console)
    : m_house(house), m_console(console), m_server(findWebAsset) {
    using Request = WebServer::Request;
    using Reply = WebServer::Reply;
    m_server.route("/screen.png", "GET", [this](const Request &) { return screen(); });
    m_server.route("/api/state", "GET", [this](const Request &) {
        return Reply{200, stateJson(), "application/json"};
    });
    m_server.route("/api/history", "GET", [this](const Request &) {
        return Reply{200, m_model.historyJson(), "application/json"};
    });
    m_server.route("/api/key", "POST", [this](const Request &r) {
        Reply reply;
        reply.status =
            static_cast<unsigned>(key(r.argument("name"), r.argument("action"), &reply.body));
        return reply;
    });
    m_server.route("/api/console", "POST", [this](const Request &r) { return this->console(r); });
    m_server.route("/api/scale", "POST", [this](const Request &r) { return scale(r); });
    m_server.events("/events", [this] {
        // The state first: it tells the unit the history is drawn in.
        std::vector<std::pair<std::string, std::string>> greeting{
            {"state", stateJson()}, {"history", m_model.historyJson()}};
        for (const std::string &line : m_backlog) {
            greeting.emplace_back("console", line);
        }
        for (const std::string &mark : m_marks) {
            greeting.emplace_back("mark", mark);
        }
        return greeting;
    });
}

Dashboard::~Dashboard() = default;

WebServer::Reply Dashboard::screen() const {
    if (m_screen.empty()) {
        return {MHD_HTTP_NOT_FOUND, "the thermostat has shown no screen yet\n"};
    }
    return {MHD_HTTP_OK, m_screen, "image/png"};
}

WebServer::Reply Dashboard::console(const WebServer::Request &r) {
    std::string line = r.body;
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    if (line.find_first_not_of(" \t") == std::string::npos ||
        line.find_first_of("\r\n") != std::string::npos) {
        return {MHD_HTTP_BAD_REQUEST, "send one console command as the body\n"};
    }
    m_console.say("web> " + line);
    if (!runConsoleLine(line, m_console)) {
        return {MHD_HTTP_BAD_REQUEST, "not understood; the console says why\n"};
    }
    return {MHD_HTTP_OK, "ok\n"};
}

WebServer::Reply Dashboard::scale(const WebServer::Request &r) {
    double value = 0.0;
    if (!parseNumber(r.argument("value"), &value) || value < SCALE_MIN || value > SCALE_MAX) {
        return {MHD_HTTP_BAD_REQUEST, "value must be a number from 0.1 to 3600\n"};
    }
    if (m_lockstep) {
        return {MHD_HTTP_CONFLICT,
                "lock-step time has no time scale: the run sets its pace (--pace)\n"};
    }
    // While a key holds simulated time to real time, the key pad keeps the
    // scale chosen for later.
    KeyPad::ScaleChange change = KeyPad::ScaleChange::Busy;
    if (m_console.keys != nullptr) {
        change = m_console.keys->chooseTimeScale(value);
    } else if (platformSetTimeScale(value) == 0) {
        change = KeyPad::ScaleChange::Now;
    }
    if (change == KeyPad::ScaleChange::AfterHold) {
        return {MHD_HTTP_OK, "ok\n"};
    }
    if (change == KeyPad::ScaleChange::Busy) {
        return {MHD_HTTP_CONFLICT,
                "a change of the time scale is under way; try again in a moment\n"};
    }
    char line[96];
    snprintf(line, sizeof(line), "tstat-sim: time scale %g from a quarter second on", value);
    m_console.say(line);
    m_nextStateMs = 0;
    return {MHD_HTTP_OK, "ok\n"};
}

void Dashboard::said(const std::string &line) {
    std::string text = line;
    std::erase(text, '\r');
    m_backlog.push_back(text);
    if (m_backlog.size() > CONSOLE_BACKLOG) {
        m_backlog.pop_front();
    }
    m_server.broadcast("console", text);
}

void Dashboard::mark(int64_t wallSeconds, const std::string &text) {
    std::string json = nlohmann::json{{"t", wallSeconds}, {"text", text}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);
    m_marks.push_back(json);
    if (m_marks.size() > MARKS_KEPT) {
        m_marks.pop_front();
    }
    m_server.broadcast("mark", json);
}

void Dashboard::followScreen() {
    std::string path = rootedPath("/sim/screen.png");
    std::string stamp = fileStamp(path);
    if (stamp.empty() || stamp == m_screenStamp) {
        return;
    }
    std::string png;
    std::string error;
    // The file is replaced by a rename, so a read sees a whole frame; an empty
    // read (the file vanished in between) waits for the next look.
    if (!readBoardFile(path, SCREEN_MAX_BYTES, &png, &error) || png.empty()) {
        return;
    }
    m_screenStamp = stamp;
    if (png == m_screen) {
        return;
    }
    m_screen = std::move(png);
    m_screenVersion++;
    m_server.broadcast("screen", std::to_string(m_screenVersion));
}

BoardView Dashboard::board() const {
    BoardView b;
    bool known = m_console.boardConsole != nullptr ? m_console.boardConsole->page(&b.page, &b.popUp)
                                                   : readShownPage(&b.page, &b.popUp);
    if (!known) {
        b.page = -1;
        b.popUp = false;
    }
    if (m_console.keys != nullptr && !m_lockstep) {
        b.realTime = m_console.keys->realTimeReason();
        b.restoreScale = m_console.keys->restoreScale();
    }
    b.backlight = numberIn(rootedPath("/sys/class/backlight/backlight/brightness"));
    if (m_console.coproc != nullptr) {
        const CoprocessorOptions &o = m_console.coproc->options();
        b.voltage = o.lineVoltage;
        b.online = o.online;
        b.levels = o.levelsEnabled;
        b.address = o.address;
    }
    b.name = m_boardName;
    if (m_console.boardConsole != nullptr) {
        b.software = m_console.boardConsole->software();
        b.update = m_console.boardConsole->verdict();
    }
    return b;
}

std::string Dashboard::stateJson() const {
    // Scale 0 tells the page that lock-step time has none to change.
    return m_model.stateJson(m_house, board(), m_lockstep ? 0.0 : platformTimeScale(),
                             m_screenVersion, m_console.keys != nullptr && m_console.keys->ready());
}

void Dashboard::sendState() {
    if (m_server.streamCount() > 0) {
        m_server.broadcast("state", stateJson());
    }
}

void Dashboard::ended(const std::string &why, int status) {
    if (!m_server.started()) {
        return;
    }
    nlohmann::json end = {{"why", why}, {"status", nullptr}};
    if (status >= 0) {
        end["status"] = status;
    }
    m_server.broadcast("ended", end.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    m_server.flush();
}

int Dashboard::key(const std::string &name, const std::string &action, std::string *message) {
    uint16_t code = keyCode(name);
    if (code == 0) {
        *message = "name must be up, down, mode or exit\n";
        return MHD_HTTP_BAD_REQUEST;
    }
    if (action != "tap" && action != "press" && action != "release") {
        *message = "action must be tap, press or release\n";
        return MHD_HTTP_BAD_REQUEST;
    }
    *message = "ok\n";
    KeyPad *keys = m_console.keys;
    if (action == "release") {
        if (keys != nullptr) {
            keys->release(code);
        }
        return MHD_HTTP_OK;
    }
    bool hold = action == "press";
    if (keys != nullptr && hold && keys->held(code)) {
        // Already held (a repeat from the keyboard): nothing new.
        return MHD_HTTP_OK;
    }
    if (keys == nullptr || !keys->press(code, hold ? KeyPad::HELD : KeyPad::TAP_MS)) {
        *message = "no application is reading the keys\n";
        return MHD_HTTP_SERVICE_UNAVAILABLE;
    }
    m_console.say("web> key " + name + (hold ? " (held)" : ""));
    return MHD_HTTP_OK;
}

void Dashboard::poll(int64_t simNowMs) {
    if (!m_server.started()) {
        return;
    }
    // The history follows simulated time; everything else, the network
    // included, the host's clock, so that a run in lock-step time (many
    // passes a host millisecond) pays for the page a few times a host second
    // at most.
    if (m_model.sample(simNowMs, m_house)) {
        m_server.broadcast("sample", DashboardModel::sampleJson(m_model.lastSample()));
    }
    int64_t host = hostMs();
    if (!m_server.due(host)) {
        return;
    }
    if (host >= m_nextScreenCheckMs) {
        m_nextScreenCheckMs = host + SCREEN_CHECK_MS;
        followScreen();
    }
    std::string relays(m_house.relays().begin(), m_house.relays().end());
    // A new time scale (a key held on a fast run) is shown at once.
    double scale = platformTimeScale();
    if (host >= m_nextStateMs || relays != m_lastRelays || scale != m_lastScale) {
        m_nextStateMs = host + STATE_PERIOD_MS;
        m_lastRelays = relays;
        m_lastScale = scale;
        m_model.followConfiguration();
        sendState();
    }
    m_server.serve(host);
}

} // namespace sim
