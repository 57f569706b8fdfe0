// What code under test prints on standard output.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// Runs call, keeping what it printed in *printed; returns its result.
template <typename F> auto printedBy(F call, std::string *printed) {
    testing::internal::CaptureStdout();
    auto result = call();
    fflush(stdout);
    *printed = testing::internal::GetCapturedStdout();
    return result;
}

// What call printed.
template <typename F> std::string printedBy(F call) {
    testing::internal::CaptureStdout();
    call();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}
