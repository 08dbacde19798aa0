// A busy machine for as long as it lives: one spinning thread per core,
// ended and joined by the destructor, so a test shows that what it checks
// holds however slow the machine is (tools/load.sh does the same for a
// whole run).
#pragma once
#include <atomic>
#include <thread>
#include <vector>

class BusyMachine {
public:
    BusyMachine()
    {
        unsigned cores = std::thread::hardware_concurrency();
        for (unsigned i = 0; i < (cores > 0 ? cores : 1); ++i)
            loops_.emplace_back([this] {
                volatile unsigned long spin = 0;
                while (!stop_.load(std::memory_order_relaxed)) spin = spin + 1;
            });
    }
    ~BusyMachine()
    {
        stop_ = true;
        for (std::thread& t : loops_) t.join();
    }
    BusyMachine(const BusyMachine&) = delete;
    BusyMachine& operator=(const BusyMachine&) = delete;

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> loops_;
};
