// What the fuzz targets share: a quiet start and the check whose failure is
// a finding.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// The code under test reports on standard output, which millions of runs
// need not; board roots go to a memory file system where the host has one,
// since every run writes its files synchronously.
inline void fuzzQuietStart(bool silenceOutput = true) {
    if (silenceOutput && freopen("/dev/null", "w", stdout) == nullptr) {
        abort();
    }
    if (access("/dev/shm", W_OK) == 0) {
        setenv("TMPDIR", "/dev/shm", 1);
    }
}

// A broken invariant ends the run as a finding.
inline void fuzzCheck(bool ok) {
    if (!ok) {
        abort();
    }
}
