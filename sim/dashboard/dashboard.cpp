// The simulator's web dashboard: libmicrohttpd driven from the simulator's
// loop (no threads of its own), one event stream per open page, and the
// handlers of the page's requests.
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

constexpr size_t MAX_STREAMS = 16;
// A page that lets this much of its event stream pile up unread is dropped.
constexpr size_t STREAM_BACKLOG_MAX = 512 * 1024;
constexpr size_t CONSOLE_BACKLOG = 300;
// The events a new page gets for its plot.
constexpr size_t MARKS_KEPT = 100;
constexpr size_t MAX_BODY = 1024;
constexpr unsigned CONNECTION_LIMIT = 32;
// Host seconds after which a connection that moved no data is closed (an
// event stream with nothing to send is exempt while it waits).
constexpr unsigned CONNECTION_TIMEOUT_S = 15;
// Host milliseconds a client has to send a whole request (from its
// connection, or from the end of its last request); connections still sending
// a request beyond this number make the oldest of them close; and host
// milliseconds an event stream may hold data its page does not take.
constexpr int64_t REQUEST_DEADLINE_MS = 10000;
constexpr size_t MAX_WAITING_REQUESTS = 8;
constexpr int64_t STREAM_STALL_MS = 15000;
// Host milliseconds between looks at screen.png, between state events, and
// between the keep-alive comments that find vanished pages.
constexpr int64_t SCREEN_CHECK_MS = 50;
constexpr int64_t STATE_PERIOD_MS = 500;
constexpr int64_t PING_PERIOD_MS = 5000;
// Host milliseconds between two turns of the server (and of the state's
// relays): a pass of the simulator's loop may take microseconds.
constexpr int64_t SERVE_PERIOD_MS = 10;
constexpr double SCALE_MIN = 0.1;
constexpr double SCALE_MAX = 3600.0;
// Host milliseconds the last words of an ending run get to reach the pages.
constexpr int64_t ENDING_FLUSH_MS = 1000;
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

std::string argument(MHD_Connection *c, const char *name) {
    const char *v = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, name);
    return v != nullptr ? v : "";
}

std::string header(MHD_Connection *c, const char *name) {
    const char *v = MHD_lookup_connection_value(c, MHD_HEADER_KIND, name);
    return v != nullptr ? v : "";
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

std::string fileStamp(const std::string &path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        return "";
    }
    return std::to_string(st.st_ino) + "/" + std::to_string(st.st_size) + "/" +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

} // namespace

struct Dashboard::Stream {
    Dashboard *owner;
    MHD_Connection *connection;
    std::string pending;
    bool suspended = false;
    bool dropped = false;
    int64_t waitingSinceMs = 0; // host time pending data last began to wait
};

struct Dashboard::Connection {
    MHD_Connection *connection;
    int64_t requestSinceMs; // host time its request began; -1 while it is served
    bool closing = false;
};

namespace {

// Ends a connection from outside the server's loop; the server sees it
// closed on its next run.
void shutDown(MHD_Connection *c) {
    const MHD_ConnectionInfo *info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info != nullptr) {
        shutdown(info->connect_fd, SHUT_RDWR);
    }
}

Dashboard::Connection *tracked(MHD_Connection *c) {
    const MHD_ConnectionInfo *info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info != nullptr ? static_cast<Dashboard::Connection *>(info->socket_context) : nullptr;
}

} // namespace

// libmicrohttpd's callbacks and the request handlers.
struct DashboardServer {
    struct Request {
        std::string body;
        bool tooLarge = false;
    };

    using Handler = MHD_Result (*)(Dashboard &d, MHD_Connection *c, const Request &r);
    struct Route {
        const char *path;
        const char *method;
        Handler handler;
    };
    static const Route c_Routes[7];

    static MHD_Result reply(MHD_Connection *c, unsigned status, const std::string &body,
                            const char *type = "text/plain; charset=utf-8") {
        MHD_Response *r = MHD_create_response_from_buffer(
            body.size(), const_cast<char *>(body.data()), MHD_RESPMEM_MUST_COPY);
        if (r == nullptr) {
            return MHD_NO;
        }
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, type);
        MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
        MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
        MHD_Result result = MHD_queue_response(c, status, r);
        MHD_destroy_response(r);
        return result;
    }

    static MHD_Result asset(MHD_Connection *c, const WebAsset &a) {
        MHD_Response *r = MHD_create_response_from_buffer(
            a.size, const_cast<unsigned char *>(a.data), MHD_RESPMEM_PERSISTENT);
        if (r == nullptr) {
            return MHD_NO;
        }
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, a.type);
        MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-cache");
        MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
        MHD_Result result = MHD_queue_response(c, MHD_HTTP_OK, r);
        MHD_destroy_response(r);
        return result;
    }

    static MHD_Result screen(Dashboard &d, MHD_Connection *c, const Request &) {
        if (d.m_screen.empty()) {
            return reply(c, MHD_HTTP_NOT_FOUND, "the thermostat has shown no screen yet\n");
        }
        return reply(c, MHD_HTTP_OK, d.m_screen, "image/png");
    }

    static MHD_Result state(Dashboard &d, MHD_Connection *c, const Request &) {
        return reply(c, MHD_HTTP_OK, d.stateJson(), "application/json");
    }

    static MHD_Result history(Dashboard &d, MHD_Connection *c, const Request &) {
        return reply(c, MHD_HTTP_OK, d.m_model.historyJson(), "application/json");
    }

    static MHD_Result key(Dashboard &d, MHD_Connection *c, const Request &) {
        std::string message;
        int status = d.key(argument(c, "name"), argument(c, "action"), &message);
        return reply(c, static_cast<unsigned>(status), message);
    }

    static MHD_Result console(Dashboard &d, MHD_Connection *c, const Request &r) {
        std::string line = r.body;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        if (line.find_first_not_of(" \t") == std::string::npos ||
            line.find_first_of("\r\n") != std::string::npos) {
            return reply(c, MHD_HTTP_BAD_REQUEST, "send one console command as the body\n");
        }
        d.m_console.say("web> " + line);
        if (!runConsoleLine(line, d.m_console)) {
            return reply(c, MHD_HTTP_BAD_REQUEST, "not understood; the console says why\n");
        }
        return reply(c, MHD_HTTP_OK, "ok\n");
    }

    static MHD_Result scale(Dashboard &d, MHD_Connection *c, const Request &) {
        double value = 0.0;
        if (!parseNumber(argument(c, "value"), &value) || value < SCALE_MIN || value > SCALE_MAX) {
            return reply(c, MHD_HTTP_BAD_REQUEST, "value must be a number from 0.1 to 3600\n");
        }
        if (d.m_lockstep) {
            return reply(c, MHD_HTTP_CONFLICT,
                         "lock-step time has no time scale: the run sets its pace (--pace)\n");
        }
        // While a key holds simulated time to real time, the key pad keeps
        // the scale chosen for later.
        KeyPad::ScaleChange change = KeyPad::ScaleChange::Busy;
        if (d.m_console.keys != nullptr) {
            change = d.m_console.keys->chooseTimeScale(value);
        } else if (platformSetTimeScale(value) == 0) {
            change = KeyPad::ScaleChange::Now;
        }
        if (change == KeyPad::ScaleChange::AfterHold) {
            return reply(c, MHD_HTTP_OK, "ok\n");
        }
        if (change == KeyPad::ScaleChange::Busy) {
            return reply(c, MHD_HTTP_CONFLICT,
                         "a change of the time scale is under way; try again in a moment\n");
        }
        char line[96];
        snprintf(line, sizeof(line), "tstat-sim: time scale %g from a quarter second on", value);
        d.m_console.say(line);
        d.m_nextStateMs = 0;
        return reply(c, MHD_HTTP_OK, "ok\n");
    }

    static MHD_Result events(Dashboard &d, MHD_Connection *c, const Request &) {
        // A new page takes the place of the oldest one open.
        std::vector<Dashboard::Stream *> open;
        std::copy_if(d.m_streams.begin(), d.m_streams.end(), std::back_inserter(open),
                     [](const Dashboard::Stream *s) { return !s->dropped; });
        for (size_t i = 0; i + MAX_STREAMS <= open.size(); i++) {
            d.dropStream(*open[i]);
        }
        auto *s = new Dashboard::Stream{&d, c, "retry: 2000\n\n"};
        s->waitingSinceMs = hostMs();
        d.m_streams.push_back(s);
        // The state first: it tells the unit the history is drawn in.
        d.queue(*s, "state", d.stateJson());
        d.queue(*s, "history", d.m_model.historyJson());
        for (const std::string &line : d.m_backlog) {
            d.queue(*s, "console", line);
        }
        for (const std::string &mark : d.m_marks) {
            d.queue(*s, "mark", mark);
        }
        // The free callback runs (and forgets the stream) even when queueing fails.
        MHD_Response *r = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024,
                                                            onStreamRead, s, onStreamFreed);
        if (r == nullptr) {
            onStreamFreed(s);
            return MHD_NO;
        }
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
        MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
        MHD_Result result = MHD_queue_response(c, MHD_HTTP_OK, r);
        MHD_destroy_response(r);
        return result;
    }

    // Only pages served from this address may talk to it: a Host header for
    // another name (a rebound DNS name) or a request sent by another site's
    // page is refused.
    static bool fromOwnPage(Dashboard &d, MHD_Connection *c, bool post) {
        std::string port = ":" + std::to_string(d.m_port);
        std::string host = header(c, MHD_HTTP_HEADER_HOST);
        bool hostOk = host == "127.0.0.1" + port || host == "localhost" + port;
        std::string origin = header(c, "Origin");
        bool originOk = !post || origin.empty() || origin == "http://" + host;
        return hostOk && originOk;
    }

    static MHD_Result onRequest(void *self, MHD_Connection *c, const char *url, const char *method,
                                const char *, const char *uploadData, size_t *uploadSize,
                                void **requestState) {
        auto &d = *static_cast<Dashboard *>(self);
        if (*requestState == nullptr) {
            *requestState = new Request;
            return MHD_YES;
        }
        auto &request = *static_cast<Request *>(*requestState);
        if (*uploadSize > 0) {
            if (request.body.size() + *uploadSize > MAX_BODY) {
                request.tooLarge = true;
            } else {
                request.body.append(uploadData, *uploadSize);
            }
            *uploadSize = 0;
            return MHD_YES;
        }
        // The whole request is in: its time no longer runs.
        if (Dashboard::Connection *conn = tracked(c)) {
            conn->requestSinceMs = -1;
        }
        std::string m = method;
        bool get = m == MHD_HTTP_METHOD_GET || m == MHD_HTTP_METHOD_HEAD;
        if (!fromOwnPage(d, c, !get)) {
            return reply(c, MHD_HTTP_FORBIDDEN,
                         "only pages from http://127.0.0.1:" + std::to_string(d.m_port) +
                             " may use the dashboard\n");
        }
        if (request.tooLarge) {
            return reply(c, MHD_HTTP_CONTENT_TOO_LARGE, "the body is limited to 1024 bytes\n");
        }
        return dispatch(d, c, request, url, m);
    }

    // A whole request from the page to its handler, or to the page's files.
    static MHD_Result dispatch(Dashboard &d, MHD_Connection *c, const Request &request,
                               const std::string &path, const std::string &m) {
        bool get = m == MHD_HTTP_METHOD_GET || m == MHD_HTTP_METHOD_HEAD;
        const char *allowed = nullptr;
        for (const Route &route : c_Routes) {
            if (path != route.path) {
                continue;
            }
            if (m == route.method || (get && strcmp(route.method, "GET") == 0)) {
                return route.handler(d, c, request);
            }
            allowed = route.method;
        }
        if (const WebAsset *a = findWebAsset(path == "/" ? "/index.html" : path.c_str())) {
            if (get) {
                return asset(c, *a);
            }
            allowed = "GET";
        }
        if (allowed != nullptr) {
            return methodNotAllowed(c, allowed);
        }
        return reply(c, MHD_HTTP_NOT_FOUND, "no such page: " + path + "\n");
    }

    static MHD_Result methodNotAllowed(MHD_Connection *c, const char *allowed) {
        MHD_Response *r = MHD_create_response_from_buffer(
            strlen("method not allowed\n"), const_cast<char *>("method not allowed\n"),
            MHD_RESPMEM_PERSISTENT);
        if (r == nullptr) {
            return MHD_NO;
        }
        MHD_add_response_header(r, MHD_HTTP_HEADER_ALLOW, allowed);
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
        MHD_Result result = MHD_queue_response(c, MHD_HTTP_METHOD_NOT_ALLOWED, r);
        MHD_destroy_response(r);
        return result;
    }

    static void onCompleted(void *, MHD_Connection *c, void **requestState,
                            MHD_RequestTerminationCode) {
        delete static_cast<Request *>(*requestState);
        *requestState = nullptr;
        // A connection kept open has the same time for its next request.
        if (Dashboard::Connection *conn = tracked(c)) {
            conn->requestSinceMs = hostMs();
        }
    }

    static void onConnection(void *self, MHD_Connection *c, void **socketContext,
                             MHD_ConnectionNotificationCode code) {
        auto &d = *static_cast<Dashboard *>(self);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto *conn = new Dashboard::Connection{c, hostMs()};
            d.m_connections.push_back(conn);
            *socketContext = conn;
            d.makeRoom();
        } else if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
            auto *conn = static_cast<Dashboard::Connection *>(*socketContext);
            std::erase(d.m_connections, conn);
            delete conn;
            *socketContext = nullptr;
        }
    }

    static ssize_t onStreamRead(void *cls, uint64_t, char *buf, size_t max) {
        auto *s = static_cast<Dashboard::Stream *>(cls);
        if (s->dropped) {
            return MHD_CONTENT_READER_END_WITH_ERROR;
        }
        if (s->pending.empty()) {
            // Out of the server's loop until there is something to send.
            MHD_suspend_connection(s->connection);
            s->suspended = true;
            return 0;
        }
        size_t n = std::min(max, s->pending.size());
        memcpy(buf, s->pending.data(), n);
        s->pending.erase(0, n);
        s->waitingSinceMs = hostMs();
        return static_cast<ssize_t>(n);
    }

    static void onStreamFreed(void *cls) {
        auto *s = static_cast<Dashboard::Stream *>(cls);
        std::erase(s->owner->m_streams, s);
        delete s;
    }
};

const DashboardServer::Route DashboardServer::c_Routes[7] = {
    {"/screen.png", "GET", DashboardServer::screen},
    {"/events", "GET", DashboardServer::events},
    {"/api/state", "GET", DashboardServer::state},
    {"/api/history", "GET", DashboardServer::history},
    {"/api/key", "POST", DashboardServer::key},
    {"/api/console", "POST", DashboardServer::console},
    {"/api/scale", "POST", DashboardServer::scale},
};

Dashboard::Dashboard(const House &house, ConsoleContext &console)
    : m_house(house), m_console(console) {}

Dashboard::~Dashboard() {
    if (m_daemon != nullptr) {
        // The server will not stop with suspended connections.
        for (Stream *s : m_streams) {
            s->dropped = true;
            if (s->suspended) {
                s->suspended = false;
                MHD_resume_connection(s->connection);
            }
        }
        MHD_stop_daemon(m_daemon);
    }
    for (Stream *s : m_streams) {
        delete s;
    }
    for (Connection *c : m_connections) {
        delete c;
    }
}

bool Dashboard::start(int port, std::string *error) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("no socket: ") + strerror(errno);
        return false;
    }
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t len = sizeof(addr);
    if (bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) != 0 ||
        listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<struct sockaddr *>(&addr), &len) != 0) {
        *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + strerror(errno);
        close(fd);
        return false;
    }
    m_port = ntohs(addr.sin_port);
    // No threads: poll() runs the server from the simulator's loop.
    m_daemon = MHD_start_daemon(
        MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr, &DashboardServer::onRequest, this,
        MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT, CONNECTION_LIMIT,
        MHD_OPTION_CONNECTION_TIMEOUT, CONNECTION_TIMEOUT_S, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        static_cast<size_t>(64 * 1024), MHD_OPTION_NOTIFY_COMPLETED, &DashboardServer::onCompleted,
        this, MHD_OPTION_NOTIFY_CONNECTION, &DashboardServer::onConnection, this, MHD_OPTION_END);
    if (m_daemon == nullptr) {
        *error = "the HTTP server did not start";
        close(fd);
        return false;
    }
    return true;
}

void Dashboard::queue(Stream &s, const char *event, const std::string &data) {
    if (s.dropped) {
        return;
    }
    if (s.pending.empty()) {
        s.waitingSinceMs = hostMs();
    }
    if (event != nullptr) {
        s.pending += "event: ";
        s.pending += event;
        s.pending += "\n";
    }
    // One data field per line of the text; the page joins them again.
    size_t from = 0;
    for (;;) {
        size_t nl = data.find('\n', from);
        s.pending += event != nullptr ? "data: " : ": ";
        s.pending.append(data, from, nl == std::string::npos ? std::string::npos : nl - from);
        s.pending += "\n";
        if (nl == std::string::npos) {
            break;
        }
        from = nl + 1;
    }
    s.pending += "\n";
    if (s.pending.size() > STREAM_BACKLOG_MAX) {
        // The page does not read: drop it now rather than hold its backlog.
        dropStream(s);
    }
    if (s.suspended) {
        s.suspended = false;
        MHD_resume_connection(s.connection);
    }
}

void Dashboard::dropStream(Stream &s) {
    s.dropped = true;
    s.pending.clear();
    shutDown(s.connection);
    if (s.suspended) {
        // Back in the server's loop, which then sees it closed.
        s.suspended = false;
        MHD_resume_connection(s.connection);
    }
}

void Dashboard::closeLaggards() {
    for (Connection *c : m_connections) {
        if (!c->closing && c->requestSinceMs >= 0 &&
            m_hostNowMs - c->requestSinceMs > REQUEST_DEADLINE_MS) {
            c->closing = true;
            shutDown(c->connection);
        }
    }
    for (Stream *s : m_streams) {
        if (!s->dropped && !s->pending.empty() &&
            m_hostNowMs - s->waitingSinceMs > STREAM_STALL_MS) {
            dropStream(*s);
        }
    }
}

void Dashboard::makeRoom() {
    std::vector<Connection *> waiting;
    for (Connection *c : m_connections) {
        if (!c->closing && c->requestSinceMs >= 0) {
            waiting.push_back(c);
        }
    }
    if (waiting.size() <= MAX_WAITING_REQUESTS) {
        return;
    }
    std::sort(waiting.begin(), waiting.end(), [](const Connection *a, const Connection *b) {
        return a->requestSinceMs < b->requestSinceMs;
    });
    for (size_t i = 0; i + MAX_WAITING_REQUESTS < waiting.size(); i++) {
        waiting[i]->closing = true;
        shutDown(waiting[i]->connection);
    }
}

void Dashboard::broadcast(const char *event, const std::string &data) {
    for (Stream *s : m_streams) {
        queue(*s, event, data);
    }
}

void Dashboard::said(const std::string &line) {
    std::string text = line;
    std::erase(text, '\r');
    m_backlog.push_back(text);
    if (m_backlog.size() > CONSOLE_BACKLOG) {
        m_backlog.pop_front();
    }
    broadcast("console", text);
}

void Dashboard::mark(int64_t wallSeconds, const std::string &text) {
    std::string json = nlohmann::json{{"t", wallSeconds}, {"text", text}}.dump(
        -1, ' ', false, nlohmann::json::error_handler_t::replace);
    m_marks.push_back(json);
    if (m_marks.size() > MARKS_KEPT) {
        m_marks.pop_front();
    }
    broadcast("mark", json);
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
    broadcast("screen", std::to_string(m_screenVersion));
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
    if (!m_streams.empty()) {
        broadcast("state", stateJson());
    }
}

void Dashboard::ended(const std::string &why, int status) {
    if (m_daemon == nullptr) {
        return;
    }
    nlohmann::json end = {{"why", why}, {"status", nullptr}};
    if (status >= 0) {
        end["status"] = status;
    }
    broadcast("ended", end.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    // Until every stream has handed its text to the server, and a few runs
    // more for the server to write it out.
    int64_t until = hostMs() + ENDING_FLUSH_MS;
    int after = 5;
    while (after > 0 && hostMs() < until) {
        MHD_run(m_daemon);
        bool handed = std::all_of(m_streams.begin(), m_streams.end(), [](const Stream *st) {
            return st->dropped || st->pending.empty();
        });
        after -= handed ? 1 : 0;
        usleep(10000);
    }
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
    if (m_daemon == nullptr) {
        return;
    }
    m_hostNowMs = hostMs();
    // The history follows simulated time; everything else, the network
    // included, the host's clock, so that a run in lock-step time (many
    // passes a host millisecond) pays for the page a few times a host second
    // at most.
    if (m_model.sample(simNowMs, m_house)) {
        broadcast("sample", DashboardModel::sampleJson(m_model.lastSample()));
    }
    if (m_hostNowMs < m_nextServeMs) {
        return;
    }
    m_nextServeMs = m_hostNowMs + SERVE_PERIOD_MS;
    if (m_hostNowMs >= m_nextScreenCheckMs) {
        m_nextScreenCheckMs = m_hostNowMs + SCREEN_CHECK_MS;
        followScreen();
    }
    std::string relays(m_house.relays().begin(), m_house.relays().end());
    // A new time scale (a key held on a fast run) is shown at once.
    double scale = platformTimeScale();
    if (m_hostNowMs >= m_nextStateMs || relays != m_lastRelays || scale != m_lastScale) {
        m_nextStateMs = m_hostNowMs + STATE_PERIOD_MS;
        m_lastRelays = relays;
        m_lastScale = scale;
        m_model.followConfiguration();
        sendState();
    }
    if (m_hostNowMs >= m_nextPingMs) {
        m_nextPingMs = m_hostNowMs + PING_PERIOD_MS;
        broadcast(nullptr, "ping");
    }
    closeLaggards();
    MHD_run(m_daemon);
}

} // namespace sim
