// The building's page's files, built into the simulator from
// sim/building/web.
#pragma once

#include "dashboard/dashboard_assets.h"

namespace sim {

// The file served at path, or nullptr.
const WebAsset *findBuildingAsset(const char *path);

} // namespace sim
