// The dashboard page's files, built into the simulator from sim/web.
#pragma once

#include <cstddef>

namespace sim {

struct WebAsset {
    const char *path; // "/index.html"
    const char *type; // Content-Type
    const unsigned char *data;
    size_t size;
};

// The file served at path, or nullptr.
const WebAsset *findWebAsset(const char *path);

} // namespace sim
