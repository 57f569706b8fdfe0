// The simulator's web server for its pages (the dashboard, the building's
// view): libmicrohttpd on 127.0.0.1 without threads of its own, run from
// the simulator's loop, which never waits for a browser.
//
// It serves routes (a path, a method and a handler), the page's files, and
// server-sent event streams: a new page gets its greeting (the events that
// bring it up to date), then every event broadcast; a page that stops
// reading is dropped. Up to sixteen pages follow at once, a new one taking
// the place of the oldest. Requests from pages of other sites or for other
// host names are refused. A client has ten seconds to send each whole
// request, however it trickles it in; the clients still sending a request
// are kept to a few, the one sending the longest making room for a new one,
// so that slow clients never keep the others out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

namespace sim {

struct WebAsset;

class WebServer {
  public:
    struct Request {
        std::string path;
        std::string method;
        std::string body;
        MHD_Connection *connection = nullptr;
        // A query argument ("" when absent).
        std::string argument(const char *name) const;
    };
    struct Reply {
        unsigned status = 200;
        std::string body;
        const char *type = "text/plain; charset=utf-8";
    };
    using Handler = std::function<Reply(const Request &)>;
    // The events (name, data) a new page gets first.
    using Greeting = std::function<std::vector<std::pair<std::string, std::string>>()>;
    // The page's files by path ("/index.html").
    using Assets = const WebAsset *(*)(const char *path);

    explicit WebServer(Assets assets) : m_assets(assets) {}
    ~WebServer();
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    // Listens on 127.0.0.1:port (0: a free port). False with the reason.
    bool start(int port, std::string *error);
    int port() const { return m_port; }
    bool started() const { return m_daemon != nullptr; }

    // Before start(): a route, and the path of the event stream.
    void route(const char *path, const char *method, Handler handler);
    void events(const char *path, Greeting greeting);

    // An event to every page; a comment (event null) keeps them alive.
    void broadcast(const char *event, const std::string &data);
    size_t streamCount() const { return m_streams.size(); }

    // Whether a turn of the server is due at this host time (a few a host
    // millisecond at most: a pass of the simulator may take microseconds);
    // serve() takes it: the network's work, the laggards closed.
    bool due(int64_t hostNowMs) const { return m_daemon != nullptr && hostNowMs >= m_nextServeMs; }
    void serve(int64_t hostNowMs);
    // The run ends: the pages get a moment to take their last events.
    void flush();

    struct Stream;
    struct Connection;

  private:
    friend struct WebServerCallbacks;

    void queue(Stream &stream, const char *event, const std::string &data);
    void dropStream(Stream &stream);
    void closeLaggards();
    void makeRoom();
    Reply dispatch(const Request &request) const;

    Assets m_assets;
    struct Route {
        std::string path;
        std::string method;
        Handler handler;
    };
    std::vector<Route> m_routes;
    std::string m_eventsPath;
    Greeting m_greeting;
    MHD_Daemon *m_daemon = nullptr;
    int m_port = 0;
    std::vector<Stream *> m_streams;
    std::vector<Connection *> m_connections;
    int64_t m_hostNowMs = 0;
    int64_t m_nextServeMs = 0;
    int64_t m_nextPingMs = 0;
};

} // namespace sim
