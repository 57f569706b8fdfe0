// The building's dashboard.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

class BuildingRun;

class BuildingDashboard {
  public:
    explicit BuildingDashboard(BuildingRun &run) : m_run(run) {}
    bool start(int port, std::string *error);
    int port() const { return m_port; }
    void poll(int64_t simNowMs);
    void said(const std::string &line);
    void ended(const std::string &why);

  private:
    BuildingRun &m_run;
    int m_port = 0;
};

} // namespace sim
