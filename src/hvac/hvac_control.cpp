// HVAC control frame.
#include "hvac/hvac_control.h"

void initialiseHvacAlgorithms() {
    // The body comes with the HVAC control frame.
}
