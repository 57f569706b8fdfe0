// tstat-sim: the simulated board's coprocessor, house and building controller.
#include "cli.h"

int main(int argc, char **argv) {
    return sim::simCommandLine(argc, argv);
}
