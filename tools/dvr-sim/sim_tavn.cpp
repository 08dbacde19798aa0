// The simulated recorder's handshake module "TAVN": answers the viewer's
// hello with client kind 1 and its client info with the machine record,
// and sends the recorder's close once when --close-after-ms asks for it.
// Owns gTavnSessions (per-session handshake progress) and gClose (the one
// close of the run).
#include <cstdio>
#include <cstring>

#include "sim_machine.h"
#include "sim_modules.h"
#include "sim_trace.h"
#include "sim_wire.h"

namespace {

constexpr uint32_t kHello = 0;
constexpr uint32_t kClientInfo = 1;
constexpr uint32_t kClose = 2;
constexpr uint32_t kRecordSize = 256;  // hello, hello answer, client info, machine record

struct TavnSession {
  bool hello;       // a good hello arrived
  bool configured;  // the machine record went out
};

TavnSession gTavnSessions[kMaxSessions];

// The close of the run: armed by the first machine record sent.
struct {
  bool armed;
  bool sent;
  uint32_t session;
  int64_t due_ms;
} gClose;

// One TAVN message: sub-header {session, code}, then the body.
void AddMessage(SimAnswer* answer, uint32_t session, uint32_t code, const uint8_t* body, uint32_t n) {
  uint8_t rest[32 + kRecordSize] = {};
  PutU32(rest + 0, session);  // session id
  PutU32(rest + 4, code);     // code
  if (n > 0) memcpy(rest + 32, body, n);
  Answer_AddMessage(answer, "TAVN", rest, 32 + n);
}

// The hello's fixed fields: 1, 1, byte 9 = 1, 0x0811, 0x1234, 0.
bool HelloIsGood(const uint8_t* body, uint32_t n) {
  return n >= kRecordSize && GetU32(body) == 1 && GetU32(body + 4) == 1 && body[9] == 1 &&
         GetU16(body + 10) == 0x0811 && GetU16(body + 12) == 0x1234 && GetU16(body + 14) == 0;
}

// A text field of the client info, printable and cut at its NUL.
void TextOf(const uint8_t* field, char out[33]) {
  size_t n = strnlen(reinterpret_cast<const char*>(field), 32);
  for (size_t i = 0; i < n; i++) out[i] = field[i] >= 0x20 && field[i] < 0x7F ? char(field[i]) : '?';
  out[n] = 0;
}

void OnMessage(SimSession* session, const uint8_t* msg, uint32_t len, SimAnswer* answer) {
  if (len < 40) {
    Trace("tavn short len=%u", len);
    return;
  }
  uint32_t sid = GetU32(msg + 32);
  uint32_t code = GetU32(msg + 36);
  const uint8_t* body = msg + 64;
  uint32_t n = len >= 64 ? len - 64 : 0;
  TavnSession& t = gTavnSessions[session->slot];
  if (sid != session->id) {
    Trace("tavn code=%u session=%u wrong-session", code, sid);
    return;
  }
  switch (code) {
    case kHello: {
      if (!HelloIsGood(body, n)) {
        Trace("tavn hello session=%u bytes=%u bad", sid, n);
        return;
      }
      Trace("tavn hello session=%u bytes=%u", sid, n);
      t.hello = true;
      uint8_t reply[kRecordSize] = {};
      PutU32(reply, 1);  // client kind 1
      AddMessage(answer, sid, kHello, reply, kRecordSize);
      Trace("tavn hello-answer session=%u kind=1", sid);
      break;
    }
    case kClientInfo: {
      if (n < kRecordSize || !t.hello) {
        Trace("tavn client-info session=%u bytes=%u %s", sid, n, t.hello ? "bad" : "before-hello");
        return;
      }
      char os[33], sn[33], board[33], number[33];
      TextOf(body + 12, os);
      TextOf(body + 44, sn);
      TextOf(body + 76, board);
      TextOf(body + 108, number);
      Trace("tavn client-info session=%u bytes=%u words=%u,%u,%u os=\"%s\" sn=\"%s\" b=\"%s\" n=\"%s\"", sid,
            n, GetU32(body), GetU32(body + 4), GetU32(body + 8), os, sn, board, number);
      uint8_t record[kMachineRecordSize];
      Machine_BuildRecord(record);
      AddMessage(answer, sid, kClientInfo, record, kMachineRecordSize);
      t.configured = true;
      Trace("tavn machine-record session=%u channels=%u sockets=%u", sid, gMachine.channels,
            gMachine.sockets);
      if (gMachine.record_delay_ms > 0) {
        answer->delay_ms = gMachine.record_delay_ms;
        Trace("tavn machine-record-delay session=%u ms=%u", sid, gMachine.record_delay_ms);
      }
      if (gMachine.close_after_ms >= 0 && !gClose.armed) {
        gClose.armed = true;
        gClose.session = sid;
        gClose.due_ms = Machine_NowMs() + gMachine.close_after_ms;
      }
      break;
    }
    case kClose:
      Trace("tavn close-from-viewer session=%u bytes=%u", sid, n);
      t = TavnSession{};
      break;
    default: Trace("tavn code=%u session=%u ignored", code, sid); break;
  }
}

void OnPoll(SimSession* session, SimAnswer* answer) {
  if (!gClose.armed || gClose.sent || session->id != gClose.session) return;
  if (Machine_NowMs() < gClose.due_ms) return;
  AddMessage(answer, session->id, kClose, nullptr, 0);
  gClose.sent = true;
  gTavnSessions[session->slot] = TavnSession{};
  Trace("tavn close session=%u", session->id);
}

void OnReset(SimSession* session) { gTavnSessions[session->slot] = TavnSession{}; }

}  // namespace

void SimTavn_Register() { Module_Register(SimModule{{'T', 'A', 'V', 'N'}, OnMessage, OnPoll, OnReset}); }
