// Waiting in tests: the one ceiling every wait for a condition has, and a
// poll of a condition set on another thread.
#pragma once
#include <chrono>
#include <cstdint>
#include <thread>

// How long a test waits for what it asserts before it gives up: generous,
// so that a loaded machine never reaches it, and never the thing measured
// (a wait ends as soon as its condition holds).
constexpr uint32_t kWaitLimitMs = 60000;

// True once cond holds (polled every millisecond); false when it has not
// held within kWaitLimitMs.
template <class F> bool WaitUntil(F cond)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitLimitMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
