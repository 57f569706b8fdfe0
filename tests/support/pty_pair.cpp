// Pseudo-terminal pairs for link tests.
#include "pty_pair.h"

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        throw std::runtime_error("cannot open a pseudo-terminal");
    }
    m_slave = ptsname(m_master);
    // Raw from the start, so nothing written before the code under test
    // configures the slave is echoed or held for a newline.
    struct termios tio;
    int slave = open(m_slave.c_str(), O_RDWR | O_NOCTTY);
    if (slave >= 0 && tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
    }
    if (slave >= 0) {
        close(slave);
    }
}

PtyPair::~PtyPair() {
    closeMaster();
}

void PtyPair::write(const std::vector<uint8_t> &bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<size_t>(put);
        } else {
            struct pollfd p = {m_master, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
}

std::vector<uint8_t> PtyPair::read(int waitMs) const {
    std::vector<uint8_t> out;
    struct pollfd p = {m_master, POLLIN, 0};
    while (poll(&p, 1, waitMs) > 0 && (p.revents & POLLIN) != 0) {
        uint8_t buf[512];
        ssize_t got = ::read(m_master, buf, sizeof(buf));
        if (got <= 0) {
            break;
        }
        out.insert(out.end(), buf, buf + got);
        waitMs = 20;
    }
    return out;
}

void PtyPair::closeMaster() {
    if (m_master >= 0) {
        close(m_master);
        m_master = -1;
    }
}
