// Module handlers of the simulated recorder: owns gSimModules, the handler
// table filled once at start-up, and the payload walk.
#include "sim_modules.h"

#include <cstring>

#include "sim_pbba.h"
#include "sim_stats.h"
#include "sim_trace.h"
#include "sim_vdtt.h"
#include "sim_wire.h"

static SimModule gSimModules[kMaxModules];
static uint32_t gModuleCount = 0;

void Module_InitAll() {
  gModuleCount = 0;
  SimTavn_Register();
  SimIcmd_Register();
  SimIctl_Register();
  SimVido_Register();
  SimVdtt_Register();
  SimPbba_Register();
}

bool Module_Register(const SimModule& module) {
  if (gModuleCount >= kMaxModules) return false;
  for (uint32_t i = 0; i < gModuleCount; i++)
    if (memcmp(gSimModules[i].code, module.code, 4) == 0) return false;
  gSimModules[gModuleCount++] = module;
  return true;
}

void Module_ResetSession(SimSession* session) {
  for (uint32_t i = 0; i < gModuleCount; i++)
    if (gSimModules[i].on_reset) gSimModules[i].on_reset(session);
}

static const SimModule* FindModule(const uint8_t* code) {
  for (uint32_t i = 0; i < gModuleCount; i++)
    if (memcmp(gSimModules[i].code, code, 4) == 0) return &gSimModules[i];
  return nullptr;
}

bool Answer_AddMessage(SimAnswer* answer, const char code[4], const uint8_t* rest, uint32_t n) {
  if (answer->used > answer->cap || answer->cap - answer->used < kModuleHeaderSize ||
      answer->cap - answer->used - kModuleHeaderSize < n || (n > 0 && rest == nullptr)) {
    answer->dropped++;
    gStats.dropped_answers++;
    return false;
  }
  uint8_t* m = answer->data + answer->used;
  memset(m, 0, kModuleHeaderSize);
  PutU32(m + 0, kModuleHeaderSize + n);               // total length
  memcpy(m + 4, code, 4);                             // module code
  PutU32(m + 8, Wire_MessageChecksum(rest, n));       // checksum of 32..end
  if (n > 0) memcpy(m + kModuleHeaderSize, rest, n);  // sub-header and body
  answer->used += kModuleHeaderSize + n;
  return true;
}

void Module_DeliverPayload(SimSession* session, const uint8_t* payload, uint32_t n, SimAnswer* answer) {
  uint32_t offset = 0;
  while (offset < n) {
    uint32_t left = n - offset;
    const uint8_t* m = payload + offset;
    uint32_t len = left >= kModuleHeaderSize ? GetU32(m) : 0;
    if (left < kModuleHeaderSize || len < kModuleHeaderSize || len > left) {
      // A message cut short or with an impossible length ends the walk.
      Trace("bad-message offset=%u len=%u left=%u", offset, len, left);
      session->bad++;
      gStats.bad_messages++;
      break;
    }
    char code[5];
    Trace_Code(m + 4, code);
    uint32_t want = GetU32(m + 8);
    uint32_t got = Wire_MessageChecksum(m + kModuleHeaderSize, len - kModuleHeaderSize);
    if (got != want) {
      Trace("module %s len=%u bad-checksum", code, len);
      session->bad++;
      gStats.bad_messages++;
    } else if (const SimModule* module = FindModule(m + 4)) {
      Trace("module %s len=%u", code, len);
      session->messages++;
      gStats.messages++;
      if (module->on_message) module->on_message(session, m, len, answer);
    } else {
      Trace("module %s len=%u unknown", code, len);
      session->messages++;
      session->unknown++;
      gStats.messages++;
      gStats.unknown++;
    }
    offset += len;
  }
  for (uint32_t i = 0; i < gModuleCount; i++)
    if (gSimModules[i].on_poll) gSimModules[i].on_poll(session, answer);
}
