// Waiting on another thread in tests: polls a condition every millisecond,
// with a generous guard against a hang.
#pragma once
#include <chrono>
#include <thread>

// True once cond holds; false when it has not held after 20 s.
template <class F> bool WaitUntil(F cond)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
