// The console's socket on 127.0.0.1, its clients, and standard input.
#include "console_server.h"

#include "board/board.h"
#include "board/run_support.h"
#include "decode.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr size_t MAX_CLIENTS = 8;
// Host milliseconds after which a console client that sent no line that
// does something (blank lines and comments do not count) is dropped, and
// after which, when every place is taken, it makes room for a new client.
constexpr int64_t CLIENT_IDLE_MS = 600000;
constexpr int64_t CLIENT_ROOM_IDLE_MS = 2000;
// A client that does not read its output is dropped past this much.
constexpr size_t MAX_CLIENT_BACKLOG = 4 * 1024 * 1024;

// Whether a console line does anything (blank lines and comments do not).
bool runsSomething(const std::string &line) {
    size_t at = line.find_first_not_of(" \t\r\v\f");
    return at != std::string::npos && line[at] != '#';
}

// Says a last word to a client about to be closed; it may not take it.
void tell(int fd, const char *words) {
    ssize_t ignored = write(fd, words, strlen(words));
    (void)ignored;
}

} // namespace

bool ConsoleServer::open(int port) {
    FileDescriptor fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        m_say(std::string("tstat-sim: no console socket: ") + strerror(errno));
        return false;
    }
    int yes = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd.get(), reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) != 0 ||
        listen(fd.get(), 4) != 0) {
        m_say("tstat-sim: cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
              strerror(errno));
        return false;
    }
    socklen_t len = sizeof(addr);
    getsockname(fd.get(), reinterpret_cast<struct sockaddr *>(&addr), &len);
    int bound = ntohs(addr.sin_port);
    m_portFile = rootedPath("/sim/console.port");
    if (!writeFileAtomic(m_portFile, std::to_string(bound) + "\n")) {
        m_say("tstat-sim: cannot write " + m_portFile);
    }
    m_listen = std::move(fd);
    m_say("tstat-sim: console on 127.0.0.1:" + std::to_string(bound) + " (port in " + m_portFile +
          "); type help");
    return true;
}

void ConsoleServer::close() {
    m_listen.reset();
    if (!m_portFile.empty()) {
        unlink(m_portFile.c_str());
    }
}

void ConsoleServer::acceptClients() {
    for (;;) {
        int fd = accept4(m_listen.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        int64_t now = hostMs();
        if (m_clients.size() >= MAX_CLIENTS) {
            // Every place is taken: the client quiet the longest makes room.
            auto quietest = std::min_element(
                m_clients.begin(), m_clients.end(),
                [](const auto &a, const auto &b) { return a->lastLineMs < b->lastLineMs; });
            if (now - (*quietest)->lastLineMs < CLIENT_ROOM_IDLE_MS) {
                tell(fd, "tstat-sim: too many console clients\n");
                ::close(fd);
                continue;
            }
            tell((*quietest)->fd.get(),
                 "tstat-sim: closed to make room for another console client\n");
            m_clients.erase(quietest);
        }
        auto client = std::make_unique<Client>();
        client->fd = FileDescriptor(fd);
        client->lastLineMs = now;
        m_clients.push_back(std::move(client));
    }
}

void ConsoleServer::dropIdleClients() {
    int64_t now = hostMs();
    for (auto &client : m_clients) {
        if (client->fd.get() >= 0 && now - client->lastLineMs > CLIENT_IDLE_MS) {
            tell(client->fd.get(), "tstat-sim: closed after ten minutes without a command\n");
            client->fd.reset();
        }
    }
}

void ConsoleServer::readClient(Client &client, std::vector<std::string> *lines) {
    char buf[4096];
    for (;;) {
        ssize_t got = read(client.fd.get(), buf, sizeof(buf));
        if (got > 0) {
            std::vector<std::string> received;
            client.lines.add(buf, static_cast<size_t>(got), &received);
            // Only a line that runs something keeps a client from counting as
            // idle: a trickle of blank lines does not hold a place.
            if (std::any_of(received.begin(), received.end(), runsSomething)) {
                client.lastLineMs = hostMs();
            }
            if (received.empty()) {
                continue;
            }
            if (!client.spoke && isHttpRequestLine(received.front())) {
                // A web page posting to the port: nothing it sent is run.
                m_say("tstat-sim: a console client sent an HTTP request (\"" +
                      escapeText(received.front().substr(0, 80)) + "\"); closed");
                client.fd.reset();
                return;
            }
            client.spoke = true;
            lines->insert(lines->end(), received.begin(), received.end());
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            client.fd.reset();
        }
        return;
    }
}

void ConsoleServer::send(const std::string &text) {
    for (auto &client : m_clients) {
        if (client->fd.get() >= 0) {
            client->out += text;
        }
    }
}

void ConsoleServer::flushClient(Client &client) {
    while (!client.out.empty() && client.fd.get() >= 0) {
        ssize_t put = ::send(client.fd.get(), client.out.data(), client.out.size(), MSG_NOSIGNAL);
        if (put > 0) {
            client.out.erase(0, static_cast<size_t>(put));
            continue;
        }
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (client.out.size() > MAX_CLIENT_BACKLOG) {
                client.fd.reset();
            }
            return;
        }
        client.fd.reset();
    }
}

void ConsoleServer::flush() {
    for (auto &client : m_clients) {
        flushClient(*client);
    }
    std::erase_if(m_clients, [](const std::unique_ptr<Client> &c) { return c->fd.get() < 0; });
}

void ConsoleServer::readStdin(std::vector<std::string> *lines) {
    char buf[4096];
    ssize_t got = read(STDIN_FILENO, buf, sizeof(buf));
    if (got > 0) {
        m_stdinLines.add(buf, static_cast<size_t>(got), lines);
    } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        // End of input: the simulator goes on with the socket alone.
        m_stdinOpen = false;
    }
}

std::vector<std::string> ConsoleServer::waitForLines(int64_t waitNs) {
    // Standard input is read only when poll says it is readable. It is not
    // made non-blocking: on a terminal it shares its open file with standard
    // output, whose lines would then be cut short when the terminal is slow.
    std::vector<struct pollfd> fds;
    fds.push_back({m_listen.get(), POLLIN, 0});
    fds.push_back({m_stdinOpen ? STDIN_FILENO : -1, POLLIN, 0});
    for (auto &client : m_clients) {
        short events = POLLIN;
        if (!client->out.empty()) {
            events |= POLLOUT;
        }
        fds.push_back({client->fd.get(), events, 0});
    }
    const struct timespec passWait = {static_cast<time_t>(waitNs / 1000000000),
                                      static_cast<long>(waitNs % 1000000000)};
    ppoll(fds.data(), fds.size(), &passWait, nullptr);

    std::vector<std::string> lines;
    if (m_stdinOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        readStdin(&lines);
    }
    if (m_listen.get() >= 0 && (fds[0].revents & POLLIN) != 0) {
        acceptClients();
    }
    for (auto &client : m_clients) {
        if (client->fd.get() >= 0) {
            readClient(*client, &lines);
        }
    }
    dropIdleClients();
    return lines;
}

bool askConsole(int port, const std::string &line, const std::string &answer, int64_t waitMs,
                std::string *said) {
    FileDescriptor fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const std::string text = line + "\n";
    if (fd.get() < 0 ||
        connect(fd.get(), reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) != 0 ||
        ::send(fd.get(), text.data(), text.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(text.size())) {
        *said = "cannot reach the console on 127.0.0.1:" + std::to_string(port) + ": " +
                strerror(errno);
        return false;
    }
    LineBuffer lines;
    const int64_t until = hostMs() + waitMs;
    for (int64_t now = hostMs(); now < until; now = hostMs()) {
        struct pollfd pfd = {fd.get(), POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(until - now)) <= 0) {
            continue;
        }
        char buf[4096];
        ssize_t got = read(fd.get(), buf, sizeof(buf));
        if (got <= 0) {
            *said = "the simulator closed its console";
            return false;
        }
        std::vector<std::string> received;
        lines.add(buf, static_cast<size_t>(got), &received);
        for (const std::string &l : received) {
            bool refused =
                l.find(" error: ") != std::string::npos || l.find(" usage: ") != std::string::npos;
            if (refused || l.find(answer) != std::string::npos) {
                *said = l;
                return !refused;
            }
        }
    }
    *said = "no answer from the console on 127.0.0.1:" + std::to_string(port);
    return false;
}

} // namespace sim
