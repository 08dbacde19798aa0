// The simulated recorder's recording index and its recording-search module
// "PBBA". The index says which days and half hours hold video per channel
// (--recordings); the module answers the viewer's window queries from it and
// the playback and backup streams send frames only where it has video.
#pragma once

#include <cstdint>

// Parses a --recordings spec (see README); false when it is not acceptable.
// Days counted back from today are taken from the recorder's clock now.
bool Recordings_Parse(const char* spec);
// The default index: every channel, the last 10 days, 08:00 to 18:00.
void Recordings_Default();
// true when channel (0-based) has video in [from, to) of recorder time.
bool Recordings_Has(uint32_t channel, uint64_t from, uint64_t to);
// Registers "PBBA".
void SimPbba_Register();
