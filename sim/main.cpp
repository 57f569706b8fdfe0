// tstat-sim: the simulated board's coprocessor, house and building controller.
#include "app.h"
#include "fixture.h"

#include <cstring>

int main(int argc, char **argv) {
    if (argc > 1 && strcmp(argv[1], "fixture") == 0) {
        return sim::fixtureMain(argc - 2, argv + 2);
    }
    return sim::simMain(argc, argv);
}
