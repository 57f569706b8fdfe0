// tstat-sim: the simulated board's coprocessor, house and building controller.
#include "app.h"
#include "fixture.h"
#include "gallery.h"

#include <string>

int main(int argc, char **argv) {
    if (argc > 1 && std::string(argv[1]) == "fixture") {
        return sim::fixtureMain(argc - 2, argv + 2);
    }
    if (argc > 1 && std::string(argv[1]) == "gallery") {
        return sim::galleryMain(std::vector<std::string>(argv + 2, argv + argc));
    }
    return sim::simMain(argc, argv);
}
