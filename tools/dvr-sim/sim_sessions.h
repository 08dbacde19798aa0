// Session table of the simulated recorder: the sessions it has granted
// (gSessions, kMaxSessions records, shared by every client connection) and
// the counter that numbers new ones.
#pragma once

#include <cstdint>

constexpr uint32_t kMaxSessions = 64;

// Per-session state. Modules keep their own per-session state in arrays
// indexed by `slot` and reset it from their reset hook.
struct SimSession {
  uint32_t in_use;    // 1 while the session is held
  uint32_t slot;      // index in the table, fixed
  uint32_t id;        // session id, never 0
  uint64_t last_use;  // packet serial of the last packet naming it
  uint32_t packets;   // data packets received in this session
  uint32_t messages;  // module messages that passed the checks
  uint32_t unknown;   // of those, with a code no module handles
  uint32_t bad;       // messages skipped for a bad checksum or length
};

// Empties the table; new ids count up from seed (0 is never used).
void Session_InitAll(uint32_t seed);
// The held session with this id; null for 0 or an id not held.
SimSession* Session_Find(uint32_t id);
// Grants a fresh id. When `replaces` names a held session its record is
// reused, else a free record, else the one unused for longest. The record's
// counters start at 0. Never returns null.
SimSession* Session_Grant(uint32_t replaces);
// Marks the session as used by the packet with this serial.
void Session_Touch(SimSession* s, uint64_t serial);
