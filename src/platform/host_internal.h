// Shared internals of the host flavour of the platform layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Simulated monotonic time in nanoseconds (scaled, lock-step, or the fake clock).
int64_t hostSimMonoNs();

// Whether a test's fake clock replaces the host's clocks.
bool hostFakeClock();

// Whether the simulator drives this process's clock in lock-step, and
// whether it asked for the screen to be published at the present instant.
bool hostLockstep();
bool hostLockstepPublishWanted();
// The relays file was written: the simulator is told with the next answer,
// and looks at the file only then.
void hostLockstepNoteRelaysWritten();

// Writes the rooted path of the simulated-board file sim/<name> into buf,
// creating the sim directory when needed. Returns buf, or nullptr.
char *hostSimPath(const char *name, char *buf, size_t len);

// Replaces the file at path with the given bytes through a temporary file and
// a rename, so that readers never see it half written. 0 or -1.
// The file aside is always made anew (never opened through a link).
int hostWriteFileAtomic(const char *path, const char *data, size_t len);

// Opens the simulated board's own log file at path for appending (or
// emptied first), only if it is a regular file or missing: never through a
// symbolic link. nullptr otherwise.
FILE *hostOpenOwnLog(const char *path, bool empty);

// Forgets the simulated I/O controller's state.
void hostIoReset();
// Forgets the descriptors whose reads and writes go through rings.
void hostLinesReset();
