// Counts heap allocations of the process between start and stop, through
// the sanitizer's allocator hooks in sanitized builds and by wrapping malloc
// otherwise.
#pragma once

#include <cstdint>

void allocCounterStart();
// Allocations since allocCounterStart.
uint64_t allocCounterStop();
