// tstat-sim gallery DIR: renders every page and pop-up of the user interface
// with sample data (a winter morning with weather, a hold, an alert, a
// message) into DIR/<name>.png, and all of them into DIR/contact-sheet.png.
#pragma once

#include <string>
#include <vector>

namespace sim {

// Renders every page and pop-up with sample data into outDir/<name>.png and
// outDir/contact-sheet.png, with the images and fonts of data. Returns the
// exit status.
int runGallery(std::string outDir, std::string data);

} // namespace sim
