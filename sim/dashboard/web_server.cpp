// The simulator's web server: libmicrohttpd driven from the simulator's
// loop, the routes, the page's files and the event streams.
#include "dashboard/web_server.h"

#include "board/run_support.h"
#include "dashboard/dashboard_assets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr size_t MAX_STREAMS = 16;
// A page that lets this much of its event stream pile up unread is dropped.
constexpr size_t STREAM_BACKLOG_MAX = 512 * 1024;
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
// Host milliseconds between the keep-alive comments that find vanished
// pages, and between two turns of the server.
constexpr int64_t PING_PERIOD_MS = 5000;
constexpr int64_t SERVE_PERIOD_MS = 10;
// Host milliseconds the last words of an ending run get to reach the pages.
constexpr int64_t ENDING_FLUSH_MS = 1000;

std::string header(MHD_Connection *c, const char *name) {
    const char *v = MHD_lookup_connection_value(c, MHD_HEADER_KIND, name);
    return v != nullptr ? v : "";
}

// Ends a connection from outside the server's loop; the server sees it
// closed on its next run.
void shutDown(MHD_Connection *c) {
    const MHD_ConnectionInfo *info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info != nullptr) {
        shutdown(info->connect_fd, SHUT_RDWR);
    }
}

MHD_Result queueReply(MHD_Connection *c, const WebServer::Reply &reply) {
    MHD_Response *r = MHD_create_response_from_buffer(
        reply.body.size(), const_cast<char *>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
    if (r == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, reply.type);
    MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
    MHD_Result result = MHD_queue_response(c, reply.status, r);
    MHD_destroy_response(r);
    return result;
}

MHD_Result queueAsset(MHD_Connection *c, const WebAsset &a) {
    MHD_Response *r = MHD_create_response_from_buffer(a.size, const_cast<unsigned char *>(a.data),
                                                      MHD_RESPMEM_PERSISTENT);
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

MHD_Result methodNotAllowed(MHD_Connection *c, const std::string &allowed) {
    MHD_Response *r = MHD_create_response_from_buffer(strlen("method not allowed\n"),
                                                      const_cast<char *>("method not allowed\n"),
                                                      MHD_RESPMEM_PERSISTENT);
    if (r == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(r, MHD_HTTP_HEADER_ALLOW, allowed.c_str());
    MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; charset=utf-8");
    MHD_Result result = MHD_queue_response(c, MHD_HTTP_METHOD_NOT_ALLOWED, r);
    MHD_destroy_response(r);
    return result;
}

} // namespace

struct WebServer::Stream {
    WebServer *owner;
    MHD_Connection *connection;
    std::string pending;
    bool suspended = false;
    bool dropped = false;
    int64_t waitingSinceMs = 0; // host time pending data last began to wait
};

struct WebServer::Connection {
    MHD_Connection *connection;
    int64_t requestSinceMs; // host time its request began; -1 while it is served
    bool closing = false;
};

std::string WebServer::Request::argument(const char *name) const {
    const char *v = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, name);
    return v != nullptr ? v : "";
}

// libmicrohttpd's callbacks.
struct WebServerCallbacks {
    struct Body {
        std::string text;
        bool tooLarge = false;
    };

    static WebServer::Connection *tracked(MHD_Connection *c) {
        const MHD_ConnectionInfo *info =
            MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info != nullptr ? static_cast<WebServer::Connection *>(info->socket_context)
                               : nullptr;
    }

    // Only pages served from this address may talk to it: a Host header for
    // another name (a rebound DNS name) or a request sent by another site's
    // page is refused.
    static bool fromOwnPage(const WebServer &s, MHD_Connection *c, bool post) {
        std::string port = ":" + std::to_string(s.m_port);
        std::string host = header(c, MHD_HTTP_HEADER_HOST);
        bool hostOk = host == "127.0.0.1" + port || host == "localhost" + port;
        std::string origin = header(c, "Origin");
        bool originOk = !post || origin.empty() || origin == "http://" + host;
        return hostOk && originOk;
    }

    static MHD_Result onRequest(void *self, MHD_Connection *c, const char *url, const char *method,
                                const char *, const char *uploadData, size_t *uploadSize,
                                void **requestState) {
        auto &s = *static_cast<WebServer *>(self);
        if (*requestState == nullptr) {
            *requestState = new Body;
            return MHD_YES;
        }
        auto &body = *static_cast<Body *>(*requestState);
        if (*uploadSize > 0) {
            if (body.text.size() + *uploadSize > MAX_BODY) {
                body.tooLarge = true;
            } else {
                body.text.append(uploadData, *uploadSize);
            }
            *uploadSize = 0;
            return MHD_YES;
        }
        // The whole request is in: its time no longer runs.
        if (WebServer::Connection *conn = tracked(c)) {
            conn->requestSinceMs = -1;
        }
        std::string m = method;
        bool get = m == MHD_HTTP_METHOD_GET || m == MHD_HTTP_METHOD_HEAD;
        if (!fromOwnPage(s, c, !get)) {
            return queueReply(c, {MHD_HTTP_FORBIDDEN,
                                  "only pages from http://127.0.0.1:" + std::to_string(s.m_port) +
                                      " may use the dashboard\n"});
        }
        if (body.tooLarge) {
            return queueReply(c,
                              {MHD_HTTP_CONTENT_TOO_LARGE, "the body is limited to 1024 bytes\n"});
        }
        if (get && url == s.m_eventsPath) {
            return openStream(s, c);
        }
        return answer(s, c, WebServer::Request{url, m, body.text, c});
    }

    // A whole request to its route, or to the page's files.
    static MHD_Result answer(WebServer &s, MHD_Connection *c, const WebServer::Request &r) {
        bool get = r.method == MHD_HTTP_METHOD_GET || r.method == MHD_HTTP_METHOD_HEAD;
        std::string allowed;
        for (const WebServer::Route &route : s.m_routes) {
            if (r.path != route.path) {
                continue;
            }
            if (r.method == route.method || (get && route.method == "GET")) {
                return queueReply(c, route.handler(r));
            }
            allowed = route.method;
        }
        if (r.path == s.m_eventsPath) {
            allowed = "GET";
        }
        const WebAsset *a = s.m_assets(r.path == "/" ? "/index.html" : r.path.c_str());
        if (a != nullptr && get) {
            return queueAsset(c, *a);
        }
        if (a != nullptr || !allowed.empty()) {
            return methodNotAllowed(c, a != nullptr ? "GET" : allowed);
        }
        return queueReply(c, {MHD_HTTP_NOT_FOUND, "no such page: " + r.path + "\n"});
    }

    static MHD_Result openStream(WebServer &s, MHD_Connection *c) {
        // A new page takes the place of the oldest one open.
        std::vector<WebServer::Stream *> open;
        std::copy_if(s.m_streams.begin(), s.m_streams.end(), std::back_inserter(open),
                     [](const WebServer::Stream *st) { return !st->dropped; });
        for (size_t i = 0; i + MAX_STREAMS <= open.size(); i++) {
            s.dropStream(*open[i]);
        }
        auto *st = new WebServer::Stream{&s, c, "retry: 2000\n\n"};
        st->waitingSinceMs = hostMs();
        s.m_streams.push_back(st);
        if (s.m_greeting) {
            for (const auto &[event, data] : s.m_greeting()) {
                s.queue(*st, event.c_str(), data);
            }
        }
        // The free callback runs (and forgets the stream) even when queueing fails.
        MHD_Response *r = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024,
                                                            onStreamRead, st, onStreamFreed);
        if (r == nullptr) {
            onStreamFreed(st);
            return MHD_NO;
        }
        MHD_add_response_header(r, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
        MHD_add_response_header(r, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
        MHD_Result result = MHD_queue_response(c, MHD_HTTP_OK, r);
        MHD_destroy_response(r);
        return result;
    }

    static void onCompleted(void *, MHD_Connection *c, void **requestState,
                            MHD_RequestTerminationCode) {
        delete static_cast<Body *>(*requestState);
        *requestState = nullptr;
        // A connection kept open has the same time for its next request.
        if (WebServer::Connection *conn = tracked(c)) {
            conn->requestSinceMs = hostMs();
        }
    }

    static void onConnection(void *self, MHD_Connection *c, void **socketContext,
                             MHD_ConnectionNotificationCode code) {
        auto &s = *static_cast<WebServer *>(self);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto *conn = new WebServer::Connection{c, hostMs()};
            s.m_connections.push_back(conn);
            *socketContext = conn;
            s.makeRoom();
        } else if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
            auto *conn = static_cast<WebServer::Connection *>(*socketContext);
            std::erase(s.m_connections, conn);
            delete conn;
            *socketContext = nullptr;
        }
    }

    static ssize_t onStreamRead(void *cls, uint64_t, char *buf, size_t max) {
        auto *st = static_cast<WebServer::Stream *>(cls);
        if (st->dropped) {
            return MHD_CONTENT_READER_END_WITH_ERROR;
        }
        if (st->pending.empty()) {
            // Out of the server's loop until there is something to send.
            MHD_suspend_connection(st->connection);
            st->suspended = true;
            return 0;
        }
        size_t n = std::min(max, st->pending.size());
        memcpy(buf, st->pending.data(), n);
        st->pending.erase(0, n);
        st->waitingSinceMs = hostMs();
        return static_cast<ssize_t>(n);
    }

    static void onStreamFreed(void *cls) {
        auto *st = static_cast<WebServer::Stream *>(cls);
        std::erase(st->owner->m_streams, st);
        delete st;
    }
};

WebServer::~WebServer() {
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

void WebServer::route(const char *path, const char *method, Handler handler) {
    m_routes.push_back({path, method, std::move(handler)});
}

void WebServer::events(const char *path, Greeting greeting) {
    m_eventsPath = path;
    m_greeting = std::move(greeting);
}

bool WebServer::start(int port, std::string *error) {
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
    // No threads: serve() runs the server from the simulator's loop.
    m_daemon = MHD_start_daemon(
        MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr, &WebServerCallbacks::onRequest, this,
        MHD_OPTION_LISTEN_SOCKET, fd, MHD_OPTION_CONNECTION_LIMIT, CONNECTION_LIMIT,
        MHD_OPTION_CONNECTION_TIMEOUT, CONNECTION_TIMEOUT_S, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        static_cast<size_t>(64 * 1024), MHD_OPTION_NOTIFY_COMPLETED,
        &WebServerCallbacks::onCompleted, this, MHD_OPTION_NOTIFY_CONNECTION,
        &WebServerCallbacks::onConnection, this, MHD_OPTION_END);
    if (m_daemon == nullptr) {
        *error = "the HTTP server did not start";
        close(fd);
        return false;
    }
    return true;
}

void WebServer::queue(Stream &s, const char *event, const std::string &data) {
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

void WebServer::dropStream(Stream &s) {
    s.dropped = true;
    s.pending.clear();
    shutDown(s.connection);
    if (s.suspended) {
        // Back in the server's loop, which then sees it closed.
        s.suspended = false;
        MHD_resume_connection(s.connection);
    }
}

void WebServer::closeLaggards() {
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

void WebServer::makeRoom() {
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

void WebServer::broadcast(const char *event, const std::string &data) {
    for (Stream *s : m_streams) {
        queue(*s, event, data);
    }
}

void WebServer::serve(int64_t hostNowMs) {
    if (m_daemon == nullptr) {
        return;
    }
    m_hostNowMs = hostNowMs;
    m_nextServeMs = hostNowMs + SERVE_PERIOD_MS;
    if (hostNowMs >= m_nextPingMs) {
        m_nextPingMs = hostNowMs + PING_PERIOD_MS;
        broadcast(nullptr, "ping");
    }
    closeLaggards();
    MHD_run(m_daemon);
}

void WebServer::flush() {
    if (m_daemon == nullptr) {
        return;
    }
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

} // namespace sim
