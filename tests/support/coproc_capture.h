// The thermostat's coprocessor link on one end of a socket pair, for tests
// of what the thermostat sends: g_coprocHdl writes to the pair, and the test
// reads the other end as decoded frames or raw bytes, or feeds bytes in as
// if the coprocessor had sent them.
#pragma once

#include "coproc/coproc_comm.h"
#include "coproc/coproc_msg.h"
#include "coproc_frame.h"

#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

class CoprocCapture {
  public:
    using Bytes = std::vector<uint8_t>;

    CoprocCapture() {
        int fds[2] = {-1, -1};
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
            fcntl(fds[1], F_SETFL, fcntl(fds[1], F_GETFL) | O_NONBLOCK);
            m_peer = fds[1];
            coprocCommClose(g_coprocHdl);
            g_coprocHdl = coprocCommAttach(fds[0], coprocMsgProcess);
            m_comm = g_coprocHdl;
            owner() = this;
        }
    }
    // Only the newest capture owns the link. An older one's link was closed
    // when a newer one attached, and the new link may have been given the
    // old one's address, so comparing addresses alone would close it.
    ~CoprocCapture() {
        if (owner() == this) {
            owner() = nullptr;
            if (g_coprocHdl == m_comm) {
                coprocCommClose(g_coprocHdl);
                g_coprocHdl = nullptr;
            }
        }
        if (m_peer >= 0) {
            close(m_peer);
        }
    }
    CoprocCapture(const CoprocCapture &) = delete;
    CoprocCapture &operator=(const CoprocCapture &) = delete;

    // Everything the thermostat wrote since the last call.
    Bytes raw() {
        Bytes out;
        uint8_t chunk[4096];
        for (;;) {
            ssize_t n = read(m_peer, chunk, sizeof(chunk));
            if (n <= 0) {
                return out;
            }
            out.insert(out.end(), chunk, chunk + n);
        }
    }

    // The frames the thermostat sent since the last call.
    std::vector<Bytes> frames() { return coprocDecoded(raw()); }

    // Bytes as if the coprocessor had sent them (packets or passthrough bytes).
    void receive(const Bytes &bytes) { coprocCommReceive(g_coprocHdl, bytes.data(), bytes.size()); }

    // The texts of the replies sent since the last call that begin with prefix.
    std::vector<std::string> replies(const std::string &prefix = "") {
        std::vector<std::string> out;
        for (const Bytes &frame : frames()) {
            if (frame.size() >= 4 && frame[0] == COPROC_PKT_REPLY &&
                text(frame).rfind(prefix, 0) == 0) {
                out.push_back(text(frame));
            }
        }
        return out;
    }

    // The text of a frame's payload.
    static std::string text(const Bytes &frame) {
        return frame.size() < 4 ? std::string() : std::string(frame.begin() + 2, frame.end() - 2);
    }

  private:
    static CoprocCapture *&owner() {
        static CoprocCapture *current = nullptr;
        return current;
    }

    int m_peer = -1;
    CoprocComm *m_comm = nullptr;
};
