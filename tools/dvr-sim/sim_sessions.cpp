// Session table of the simulated recorder: owns gSessions (the granted
// sessions) and gNextId (the next candidate id).
#include "sim_sessions.h"

#include <cstring>

static SimSession gSessions[kMaxSessions];
static uint32_t gNextId = 1;

void Session_InitAll(uint32_t seed) {
  memset(gSessions, 0, sizeof gSessions);
  for (uint32_t i = 0; i < kMaxSessions; i++) gSessions[i].slot = i;
  gNextId = seed == 0 ? 1 : seed;
}

SimSession* Session_Find(uint32_t id) {
  if (id == 0) return nullptr;
  for (uint32_t i = 0; i < kMaxSessions; i++)
    if (gSessions[i].in_use && gSessions[i].id == id) return &gSessions[i];
  return nullptr;
}

// A candidate that is neither 0 nor held; at most kMaxSessions + 1 tries.
static uint32_t NewId() {
  for (;;) {
    uint32_t id = gNextId++;
    if (id != 0 && Session_Find(id) == nullptr) return id;
  }
}

SimSession* Session_Grant(uint32_t replaces) {
  SimSession* s = Session_Find(replaces);
  for (uint32_t i = 0; s == nullptr && i < kMaxSessions; i++)
    if (!gSessions[i].in_use) s = &gSessions[i];
  if (s == nullptr) {
    s = &gSessions[0];
    for (uint32_t i = 1; i < kMaxSessions; i++)
      if (gSessions[i].last_use < s->last_use) s = &gSessions[i];
  }
  uint32_t id = NewId();
  uint32_t slot = s->slot;
  uint64_t last_use = s->last_use;
  memset(s, 0, sizeof *s);
  s->in_use = 1;
  s->slot = slot;
  s->id = id;
  s->last_use = last_use;
  return s;
}

void Session_Touch(SimSession* s, uint64_t serial) { s->last_use = serial; }
