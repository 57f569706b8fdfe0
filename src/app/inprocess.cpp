// The application as a module that the simulator loads into its own process
// for lock-step runs (see LockstepInProcess in platform/lockstep.h). Each
// load has its own copy of every module's state and its own C library.
#include "app/tstat_main.h"
#include "platform/lockstep.h"

#include <cstdlib>

extern "C" int tstatInProcessMain(LockstepInProcess *link, int argc, char **argv) {
    // This module's own environment, read by its platform layer.
    setenv("TSTAT_ROOT", link->root, 1);
    lockstepAdoptInProcess(link);
    return tstatMain(argc, argv);
}

// The application ends through exit() (the fourth key, the end of its
// clock): here that ends the application, not the simulator's process.
extern "C" void exit(int status) {
    lockstepExitInProcess(status);
}
