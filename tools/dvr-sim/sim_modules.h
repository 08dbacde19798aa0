// Module handlers of the simulated recorder: the table gSimModules that the
// recorder's modules register into at start-up ({code, message handler,
// poll hook, session reset hook}), the walk that checks a payload's module
// messages and hands each to its handler, and the answer sink the handlers
// write their answer messages into.
#pragma once

#include <cstdint>

#include "sim_sessions.h"

constexpr uint32_t kMaxModules = 16;

// Collects the module messages of one answer packet, and says where the
// packet being answered came from.
struct SimAnswer {
  uint8_t* data;          // payload area of the answer packet
  uint32_t cap;           // its size, at most kMaxAnswerPayload
  uint32_t used;          // bytes written so far
  uint32_t dropped;       // messages refused for want of room
  uint32_t client;        // client connection the packet came on
  uint32_t conn_index;    // the packet's connection index
  uint32_t socket_index;  // the packet's socket index
  uint32_t delay_ms;      // the answer leaves this much later (a slow machine record)
};

// msg points at a whole checked message (its 32-byte header included), len
// is its total length; answers go into the sink with Answer_AddMessage.
typedef void (*SimMessageFn)(SimSession* session, const uint8_t* msg, uint32_t len, SimAnswer* answer);
// Runs once for every data packet of a held session, after its messages
// were handled (unsolicited output such as frames rides on poll answers).
typedef void (*SimPollFn)(SimSession* session, SimAnswer* answer);
// A session record was granted anew: forget what the module kept for it.
typedef void (*SimResetFn)(SimSession* session);

struct SimModule {
  char code[4];             // four-character code, in wire order
  SimMessageFn on_message;  // may be null
  SimPollFn on_poll;        // may be null
  SimResetFn on_reset;      // may be null
};

// Registers the recorder's modules: "TAVN", "ICMD", "ICTL", "VIDO", "VDTT" and "PBBA".
void Module_InitAll();
// Each module's registration (sim_tavn.cpp, sim_icmd.cpp, sim_ictl.cpp,
// sim_vido.cpp).
void SimTavn_Register();
void SimIcmd_Register();
void SimIctl_Register();
void SimVido_Register();
// Adds a module to the table; false when the table is full or the code is
// already registered.
bool Module_Register(const SimModule& module);
// Calls every module's reset hook for a freshly granted session.
void Module_ResetSession(SimSession* session);

// Appends one module message: the 32-byte header (total, code, checksum of
// the n bytes, reserved zeros) followed by the n bytes, which start with the
// 32-byte sub-header. False, and nothing written, when it does not fit.
bool Answer_AddMessage(SimAnswer* answer, const char code[4], const uint8_t* rest, uint32_t n);

// Walks the payload of a data packet: checks each message's length and
// checksum, traces it, counts it in the session and hands it to the module
// with its code; then runs every module's poll hook.
void Module_DeliverPayload(SimSession* session, const uint8_t* payload, uint32_t n, SimAnswer* answer);
