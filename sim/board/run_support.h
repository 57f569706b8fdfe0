// Helpers shared by tstat-sim's run and fixture modes: the simulated clock as
// the application sees it, the shared time anchor, where the simulator's own
// binary lives, the end of the application it started, and the signals that
// end a run.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <sys/types.h>

namespace sim {

// Simulated monotonic time in milliseconds.
int64_t simNowMs();
// The host's monotonic time in milliseconds, for what follows the host's
// clock whatever the simulated one does.
int64_t hostMs();
// Local time of day in hours, on the simulated wall clock.
double hourOfDay();
// Days since 1970 of the local date on the simulated wall clock.
int64_t localDay();
// "hh:mm:ss" of the simulated wall clock, the prefix of every console line
// ("YYYY-MM-DD hh:mm:ss" with the date).
std::string clockStamp(bool withDate = false);
// Sets TSTAT_TIME_ANCHOR when it is not set, so that the simulator and the
// application it starts count simulated time from the same instant.
void shareTimeAnchor();
// The directory of the running executable ("." when it cannot be read).
std::string ownDirectory();

// Ends a started application: SIGTERM, then SIGKILL after graceMs of host
// time (the process must end whatever the time scale). *child becomes -1.
void stopChild(pid_t *child, int graceMs);
// Waits up to graceMs of host time for a started application that is ending
// by itself, then as stopChild. Its exit status (128 + signal when ended by
// one) goes to *status; *child becomes -1.
void waitForChild(pid_t *child, int graceMs, int *status);

// In a forked child before its exec: pins it to processor cpu (none when
// negative), reads /dev/null and writes standard output and error to log.
// false when the log cannot be opened or the descriptors not set.
bool childPinAndRedirect(int cpu, const std::string &log);

// The signal that asked the run to end (SIGINT, SIGTERM or SIGHUP), 0 while
// none has; catchEndSignals installs the handlers and ignores SIGPIPE.
extern volatile sig_atomic_t g_EndSignal;
void catchEndSignals();

} // namespace sim
