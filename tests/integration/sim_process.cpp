// Running tstat-sim from a test.
#include "sim_process.h"

#include "board/run_support.h"
#include "board_root.h"
#include "host/program_command.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

SimProcess::SimProcess(const std::string &root, const std::string &command,
                       const std::vector<std::string> &args, double scale)
    : m_root(root) {
    // A board on a serial line has its own link; the simulator makes none.
    m_needsLink = std::find(args.begin(), args.end(), "--coproc-line") == args.end();
    // Tests never need the dashboard; without it parallel runs share no port.
    std::vector<std::string> simArgs = {command, "--root", root, "--no-http"};
    simArgs.insert(simArgs.end(), args.begin(), args.end());
    ProgramCommand sim(TSTAT_SIM_BINARY, simArgs);
    std::string scaleText = std::to_string(scale);
    std::string outPath = root + "/sim-output.txt";
    m_pid = fork();
    if (m_pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        setenv("TSTAT_TIME_SCALE", scaleText.c_str(), 1);
        unsetenv("TSTAT_TIME_ANCHOR");
        sim.exec();
        _exit(127);
    }
}

void SimProcess::stop() {
    if (m_socket >= 0) {
        close(m_socket);
        m_socket = -1;
    }
    sim::stopChild(&m_pid, 5000);
}

void SimProcess::signal(int number) {
    if (m_pid > 0) {
        kill(m_pid, number);
    }
}

int SimProcess::wait(std::chrono::milliseconds limit) {
    auto end = Clock::now() + limit;
    while (m_pid > 0) {
        int status = 0;
        pid_t r = waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (Clock::now() > end) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

bool SimProcess::waitReady(std::chrono::milliseconds limit) {
    auto end = Clock::now() + limit;
    std::string portFile = m_root + "/sim/console.port";
    std::string link = m_root + "/dev/ttyCOPROC";
    while (Clock::now() < end) {
        std::ifstream in(portFile);
        int port = 0;
        if (in >> port && port > 0 && (!m_needsLink || std::filesystem::is_symlink(link))) {
            m_socket = socket(AF_INET, SOCK_STREAM, 0);
            struct sockaddr_in addr {};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(static_cast<uint16_t>(port));
            if (connect(m_socket, reinterpret_cast<struct sockaddr *>(&addr), sizeof(addr)) == 0) {
                return true;
            }
            close(m_socket);
            m_socket = -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void SimProcess::send(const std::string &line) {
    std::string text = line + "\n";
    size_t done = 0;
    while (m_socket >= 0 && done < text.size()) {
        ssize_t put = ::send(m_socket, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (put <= 0) {
            return;
        }
        done += static_cast<size_t>(put);
    }
}

std::string SimProcess::waitFor(const std::string &part, std::chrono::milliseconds limit) {
    auto end = Clock::now() + limit;
    for (;;) {
        while (m_scanned < m_seen.size()) {
            const std::string &line = m_seen[m_scanned++];
            if (line.find(part) != std::string::npos) {
                return line;
            }
        }
        struct pollfd p = {m_socket, POLLIN, 0};
        if (Clock::now() > end) {
            return "";
        }
        char buf[4096];
        ssize_t got =
            m_socket >= 0 && poll(&p, 1, 20) > 0 ? recv(m_socket, buf, sizeof(buf), 0) : 0;
        m_pending.append(buf, got > 0 ? static_cast<size_t>(got) : 0);
        for (size_t nl; (nl = m_pending.find('\n')) != std::string::npos;) {
            m_seen.push_back(m_pending.substr(0, nl));
            m_pending.erase(0, nl + 1);
        }
    }
}
