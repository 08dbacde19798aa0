// Packet handling of the simulated recorder: owns gAnswerPacket (the one
// answer being built), gPacketSerial (counts packets, for session ageing)
// and gStats.
#include "sim_recorder.h"

#include "sim_modules.h"
#include "sim_sessions.h"
#include "sim_stats.h"
#include "sim_trace.h"
#include "sim_wire.h"

SimStats gStats;

static uint8_t gAnswerPacket[kUlcmHeaderSize + kMaxAnswerPayload];
static uint64_t gPacketSerial = 0;

// A grant: type 1, the new session, no payload.
static uint32_t AnswerGrant(const UlcmHeader& h, uint32_t replaces) {
  SimSession* s = Session_Grant(replaces);
  Session_Touch(s, gPacketSerial);
  Module_ResetSession(s);
  gStats.grants++;
  Trace("grant session=%u", s->id);
  Wire_WriteUlcmHeader(gAnswerPacket, kUlcmHeaderSize, kPacketGrant, s->id, h.conn_index, h.socket_index);
  return kUlcmHeaderSize;
}

// A plain answer: type 2 without payload, or type 5 carrying `payload` bytes
// already written behind the header.
static uint32_t AnswerWith(const UlcmHeader& h, uint32_t payload) {
  uint32_t type = payload > 0 ? kPacketDataPoll : kPacketPollAnswer;
  Trace("answer type=%u session=%u bytes=%u", type, h.session, payload);
  Wire_WriteUlcmHeader(gAnswerPacket, kUlcmHeaderSize + payload, type, h.session, h.conn_index,
                       h.socket_index);
  return kUlcmHeaderSize + payload;
}

static uint32_t AnswerData(const UlcmHeader& h, const uint8_t* packet, uint32_t client, uint32_t* delay_ms) {
  uint32_t payload = h.total - kUlcmHeaderSize;
  SimSession* s = Session_Find(h.session);
  if (s == nullptr) {
    Trace("stale type=%u session=%u", h.type, h.session);
    return AnswerGrant(h, 0);
  }
  Trace("%s session=%u bytes=%u", h.type == kPacketData ? "data" : "poll", h.session, payload);
  Session_Touch(s, gPacketSerial);
  s->packets++;
  SimAnswer answer = {};
  answer.data = gAnswerPacket + kUlcmHeaderSize;
  answer.cap = kMaxAnswerPayload;
  answer.client = client;
  answer.conn_index = h.conn_index;
  answer.socket_index = h.socket_index;
  Module_DeliverPayload(s, packet + kUlcmHeaderSize, payload, &answer);
  *delay_ms = answer.delay_ms;
  return AnswerWith(h, answer.used);
}

const uint8_t* Recorder_Answer(const uint8_t* packet, uint32_t total, uint32_t client, uint32_t* answer_len,
                               uint32_t* delay_ms) {
  *delay_ms = 0;
  UlcmHeader h;
  Wire_ReadUlcmHeader(packet, &h);
  h.total = total;
  gPacketSerial++;
  gStats.packets++;
  switch (h.type) {
    case kPacketLogin:
      // A login names the session it held, 0 at first; it always gets a
      // fresh one, which takes over the old session's record.
      Trace("login session=%u", h.session);
      *answer_len = AnswerGrant(h, h.session);
      break;
    case kPacketData:
    case kPacketDataPoll: *answer_len = AnswerData(h, packet, client, delay_ms); break;
    default:
      Trace("packet type=%u session=%u", h.type, h.session);
      *answer_len = AnswerWith(h, 0);
      break;
  }
  return gAnswerPacket;
}
