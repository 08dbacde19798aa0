// tavlin-host run in the background against a dvr-sim child whose trace is
// read meanwhile: a long traced run would fill the child's pipe and stop
// the recorder answering.
#pragma once
#include "tests/support/HostPage.h"
#include "tests/support/SimProcess.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// What the page does not show but a step must wait for (the recorder has
// had a request, stored an item): a file the host waits for with
// --wait-file, which RunHost makes as soon as seen holds for the
// recorder's trace.
struct SimSignal {
    std::string file;
    std::function<bool(SimProcess&)> seen;
    // The host step that waits for it.
    std::string Wait(int limitMs = 60000) const
    {
        return " --wait-file " + std::to_string(limitMs) + ",'" + file + "'";
    }
};

// A signal in the folder: the file name, then when it goes.
inline SimSignal Signal(const HostFolder& folder, const std::string& name, std::function<bool(SimProcess&)> seen)
{
    return SimSignal{folder.Path(name + ".signal"), std::move(seen)};
}

// The signal that holds once n lines starting with prefix have come.
inline SimSignal SignalOnLines(const HostFolder& folder, const std::string& name, const std::string& prefix,
                               size_t n = 1)
{
    return Signal(folder, name, [prefix, n](SimProcess& sim) { return sim.Count(prefix) >= n; });
}

// Runs command (a HostOnPage line) and returns the host's exit status, its
// output in *out; -1 when it did not end within limitMs (240 s). Meanwhile it makes
// the file of each signal once its line has come. Runs one after another
// may share the folder.
// tick, when given, runs at every turn (it may read other recorders, stop
// or start one); limitMs is the ceiling.
inline int RunHost(SimProcess& sim, const HostFolder& folder, const std::string& command, std::string* out,
                   const std::vector<SimSignal>& signals = {}, const std::function<void()>& tick = nullptr,
                   int limitMs = 240000)
{
    const std::string log = folder.Path("host.log"), rc = folder.Path("host.rc");
    // A run before in the same folder left its status and signals: they
    // are not this one's.
    remove(rc.c_str());
    remove(log.c_str());
    for (const SimSignal& s : signals) remove(s.file.c_str());
    std::vector<bool> made(signals.size(), false);
    if (Shell("(" + command + " >'" + log + "' 2>&1; echo $? >'" + rc + "') >/dev/null 2>&1 &") != 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        sim.Collect(20);
        if (tick) tick();
        for (size_t i = 0; i < signals.size(); i++)
            if (!made[i] && signals[i].seen(sim)) {
                if (FILE* f = fopen(signals[i].file.c_str(), "w")) fclose(f);
                made[i] = true;
            }
        if (FILE* f = fopen(rc.c_str(), "r")) {
            // The shell creates the file before it writes the status.
            int status = -1;
            const bool written = fscanf(f, "%d", &status) == 1;
            fclose(f);
            if (!written) continue;
            sim.Collect(300);
            Shell("cat '" + log + "'", out);
            return status;
        }
    }
    return -1;
}

// How many times what occurs in text (message boxes in the host's output).
inline size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) n++;
    return n;
}
