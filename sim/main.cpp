// tstat-sim: the simulated board's coprocessor, house and building controller.
#include "app.h"

int main(int argc, char **argv) {
    return sim::simMain(argc, argv);
}
