// The tstat process: one argument, the coprocessor's serial device.
#include "app/tstat_main.h"

#include <cstdio>

int main(int argc, char **argv) {
    // One line at a time, also when the output goes to a pipe or a log.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    return tstatMain(argc, argv);
}
