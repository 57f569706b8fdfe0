// tstat-sim gallery DIR: renders every page and pop-up of the user interface
// with sample data (a winter morning with weather, a hold, an alert, a
// message) into DIR/<name>.png, and all of them into DIR/contact-sheet.png.
#pragma once

#include <string>
#include <vector>

namespace sim {

// The command line after "gallery". Returns the exit status.
int galleryMain(const std::vector<std::string> &args);

} // namespace sim
