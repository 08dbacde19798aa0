// tavlin-host run in the background against a dvr-sim child whose trace is
// read meanwhile: a long traced run would fill the child's pipe and stop
// the recorder answering.
#pragma once
#include "tests/support/HostPage.h"
#include "tests/support/SimProcess.h"

#include <chrono>
#include <cstdio>
#include <string>

// Runs command (a HostOnPage line) and returns the host's exit status, its
// output in *out; -1 when it did not end within 90 s. Runs one after
// another may share the folder.
inline int RunHost(SimProcess& sim, const HostFolder& folder, const std::string& command, std::string* out)
{
    const std::string log = folder.Path("host.log"), rc = folder.Path("host.rc");
    // A run before in the same folder left its status: it is not this one's.
    remove(rc.c_str());
    remove(log.c_str());
    if (Shell("(" + command + " >'" + log + "' 2>&1; echo $? >'" + rc + "') >/dev/null 2>&1 &") != 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (std::chrono::steady_clock::now() < deadline) {
        sim.Collect(50);
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
