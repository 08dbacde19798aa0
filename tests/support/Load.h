// A busy machine for as long as it lives: one spinning thread per core,
// ended and joined by the destructor, so a test shows that what it checks
// holds however slow the machine is (tools/load.sh does the same for a
// whole run). Tests that run side by side share the load: each core's loop
// runs in one of them at a time (a lock file per core), and a test's idle
// loop takes over its core as soon as the test that ran it ends. So the
// machine holds one loop per core while any such test runs, never one per
// core for each of them.
#pragma once
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

class BusyMachine {
public:
    BusyMachine()
    {
        unsigned cores = std::thread::hardware_concurrency();
        for (unsigned i = 0; i < (cores > 0 ? cores : 1); ++i) loops_.emplace_back([this, i] { Loop(i); });
    }
    ~BusyMachine()
    {
        stop_ = true;
        for (std::thread& t : loops_) t.join();
    }
    BusyMachine(const BusyMachine&) = delete;
    BusyMachine& operator=(const BusyMachine&) = delete;

private:
    void Loop(unsigned core)
    {
        const std::string path = "/tmp/tavlin-busy-" + std::to_string(core) + ".lock";
        // Not inherited by the programs the test starts: the lock ends with the loop.
        int fd = open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
        bool mine = fd < 0; // without the file, spin anyway
        volatile unsigned long spin = 0;
        while (!stop_.load(std::memory_order_relaxed)) {
            if (!mine && flock(fd, LOCK_EX | LOCK_NB) != 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            mine = true;
            for (int k = 0; k < 100000; ++k) spin = spin + 1;
        }
        if (fd >= 0) close(fd);
    }

    std::atomic<bool> stop_{false};
    std::vector<std::thread> loops_;
};
