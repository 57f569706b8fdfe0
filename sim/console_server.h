// The console's ways in: lines typed on standard input, and lines sent by
// clients of a socket on 127.0.0.1 whose port goes to ROOT/sim/console.port.
// At most MAX_CLIENTS clients are served; one that sends no command for ten
// minutes is dropped, and when every place is taken the one quiet the
// longest (two seconds or more) makes room for a new one. Blank lines and
// comments do not count: a client that sends only those is quiet. A client that
// opens with an HTTP request (a web page posting to the port) is closed and
// nothing it sent is run. What the simulator says goes to every client.
#pragma once

#include "board/board.h"
#include "console.h"
#include "host/file_descriptor.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class ConsoleServer {
  public:
    // say tells what happens to the socket and its clients.
    explicit ConsoleServer(Say say) : m_say(std::move(say)) {}

    // Listens on 127.0.0.1:port (0: a free port). False, said, when it
    // cannot; the console then has standard input alone.
    bool open(int port);
    // Waits up to waitNs of host time for input, then returns the lines that
    // came from standard input and the clients.
    std::vector<std::string> waitForLines(int64_t waitNs);
    // Queues text for every client.
    void send(const std::string &text);
    // Writes what waits for the clients, and forgets those gone.
    void flush();
    // Stops listening and removes the port file.
    void close();

  private:
    struct Client {
        FileDescriptor fd;
        LineBuffer lines;
        std::string out;
        bool spoke = false;     // a line has come (the first one was checked)
        int64_t lastLineMs = 0; // host time of the last command, or of the connection
    };
    void acceptClients();
    void readClient(Client &client, std::vector<std::string> *lines);
    void dropIdleClients();
    void flushClient(Client &client);
    void readStdin(std::vector<std::string> *lines);

    Say m_say;
    FileDescriptor m_listen;
    std::string m_portFile;
    std::vector<std::unique_ptr<Client>> m_clients;
    LineBuffer m_stdinLines;
    bool m_stdinOpen = true;
};

// A client of the console of the simulator listening on 127.0.0.1:port:
// sends one line and waits up to waitMs of host time for the line said in
// answer, the first that contains `answer`, or an error or usage line.
// True when the answer came; *said is that line, or what went wrong.
bool askConsole(int port, const std::string &line, const std::string &answer, int64_t waitMs,
                std::string *said);

} // namespace sim
