// Counters of one run of the simulated recorder (gStats), printed as the
// closing "stats" line.
#pragma once

#include <cstdint>

struct SimStats {
  uint64_t clients;          // connections accepted
  uint64_t packets;          // packets received and answered
  uint64_t grants;           // sessions granted
  uint64_t messages;         // module messages that passed the checks
  uint64_t unknown;          // of those, with no module for their code
  uint64_t bad_messages;     // bad checksum or impossible length
  uint64_t broken;           // clients closed for a broken stream
  uint64_t dropped_answers;  // answer messages that did not fit a packet
};

extern SimStats gStats;
