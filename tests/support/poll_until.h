// Waiting in tests for something another process or a poll loop brings.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Repeats `step` until `done` holds or the limit passes; true when done.
inline bool pollUntil(const std::function<void()> &step, const std::function<bool()> &done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        step();
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}
