// HVAC control frame.
#pragma once

// Hands the record's current HVAC settings, thermostat configuration and
// humidify state to the control frame (hvacAlgorithmInit).
void initialiseHvacAlgorithms();
