// The building's dashboard.
#include "building/building_dashboard.h"

namespace sim {

bool BuildingDashboard::start(int, std::string *error) {
    *error = "not yet";
    return false;
}
void BuildingDashboard::poll(int64_t) {}
void BuildingDashboard::said(const std::string &) {}
void BuildingDashboard::ended(const std::string &) {}

} // namespace sim
