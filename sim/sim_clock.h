// Time and place helpers shared by tstat-sim's run and fixture modes: the
// simulated clock as the application sees it, the shared time anchor, and
// where the simulator's own binary lives.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

// Simulated monotonic time in milliseconds.
int64_t simNowMs();
// Local time of day in hours, on the simulated wall clock.
double hourOfDay();
// Days since 1970 of the local date on the simulated wall clock.
int64_t localDay();
// "hh:mm:ss" of the simulated wall clock, the prefix of every console line.
std::string clockStamp();
// Sets TSTAT_TIME_ANCHOR when it is not set, so that the simulator and the
// application it starts count simulated time from the same instant.
void shareTimeAnchor();
// The directory of the running executable ("." when it cannot be read).
std::string ownDirectory();

} // namespace sim
