// Firmware download.
#include "coproc/download.h"

void downloadPoll() {
    // The body comes with the firmware download module.
}
