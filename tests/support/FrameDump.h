// A backup's frames as dvr-sim --dump-frames writes them: units one after
// another, each with its 32-byte frame header. Shared by the movie writer
// and movie reader tests, with a scratch folder for the files they make.
#pragma once
#include "tests/support/Scratch.h"
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

// One unit of a dump: its header fields and where its bytes are.
struct DumpUnit {
    size_t offset;
    uint32_t bytes;
    uint32_t kind, time, frame, key; // kind 1 video, 2 sound; key 1 on a key frame
};

// Every whole unit of the dump, in order; a unit whose length is zero or
// runs past the end stops the walk.
inline std::vector<DumpUnit> DumpUnits(const std::vector<uint8_t>& d)
{
    std::vector<DumpUnit> units;
    for (size_t at = 0; at + 32 <= d.size();) {
        uint32_t bytes = 64u * (d[at + 18] | (d[at + 19] << 8));
        if (bytes == 0 || bytes > d.size() - at) break;
        uint32_t time =
            d[at + 4] | (uint32_t(d[at + 5]) << 8) | (uint32_t(d[at + 6]) << 16) | (uint32_t(d[at + 7]) << 24);
        units.push_back(
            DumpUnit{at, bytes, uint32_t(d[at + 11] >> 6), time, d[at + 8], ((d[at + 15] >> 4) & 3) == 0 ? 1u : 0u});
        at += bytes;
    }
    return units;
}
