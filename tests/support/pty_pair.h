// A pseudo-terminal for link tests: the test plays the coprocessor on the
// master side while the code under test opens the slave by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    const std::string &slaveName() const { return m_slave; }
    int master() const { return m_master; }
    // Writes bytes to the master side.
    void write(const std::vector<uint8_t> &bytes) const;
    // Reads whatever the master side has within waitMs milliseconds.
    std::vector<uint8_t> read(int waitMs = 200) const;
    // Closes the master: the slave side hangs up.
    void closeMaster();

  private:
    int m_master = -1;
    std::string m_slave;
};
