// The simulated recorder's command module "ICMD": it keeps the five setup
// items (gItems, recorder-wide, start values by model variant), answers a
// get (op 1) with op 4 and the stored item (unless --no-setup-answer),
// stores a set (op 2) that passes its size and sum checks and answers it
// with op 4, and echoes the request blocks.
#include <cstring>

#include "sim_machine.h"

#include "sim_modules.h"
#include "sim_trace.h"
#include "sim_vido.h"
#include "sim_wire.h"

namespace {

constexpr uint32_t kRequest = 1, kData = 2, kAnswer = 4;
constexpr uint32_t kSetup = 4096;
constexpr uint32_t kSetupHeader = 72;  // mask, 72 + size, item sum, 60 zeros
constexpr uint32_t kBlockSize = 64;

struct SetupItem {
  uint32_t mask;
  uint32_t size;
  uint8_t data[256];
};

SetupItem gItems[5] = {
    {1, 4, {}}, {2, 68, {}}, {4, 116, {}}, {8, 256, {}}, {16, 256, {}},
};

void PutText(uint8_t* field, const char* text) { memcpy(field, text, strlen(text) + 1); }

// Start values: bitrate "Intranet", PPPoE off, mail off with a server
// filled in, a 10-minute mail interval. A model of variant 1 (bit 0 set)
// uses the maker's own DDNS service with a domain and mails through the
// maker's server ("Default"); other models have no DDNS service yet.
void InitItems() {
  const bool own = (gMachine.variant & 1) != 0;
  for (SetupItem& item : gItems) memset(item.data, 0, sizeof item.data);
  PutU32(gItems[0].data, 9);  // bitrate code
  gItems[1].data[0] = 0;      // PPPoE off
  PutText(gItems[1].data + 4, "user");
  uint8_t* ddns = gItems[2].data;
  ddns[2] = own ? 2 : 0;  // DDNS service: the maker's own, or none
  if (own) {
    PutText(ddns + 4, "guest1");  // user
    PutText(ddns + 68, "guest");  // domain name
  }
  uint8_t* mail = gItems[3].data;
  mail[0] = 20;  // marker
  mail[1] = 9;   // apply form
  static const char* const kTexts[12] = {
      "0", "smtp.example.com", "25", "", "", "0", "dvr@example.com", "", "", "", "DVR alarm", "office"};
  uint32_t at = 2;
  for (int i = 0; i < 12; i++) {
    const char* t = i == 0 && own ? "2" : kTexts[i];  // (1) mode: 2 Default on the maker's models
    PutText(mail + at, t);
    at += uint32_t(strlen(t)) + 1;
  }
  gItems[4].data[0] = 10;  // mail interval: 10 minutes
}

// What a stored PPPoE record holds: the flag, the user name (printable
// characters only) and the password's length; then both texts' bytes, as
// the viewer wrote them in its code page.
void TracePppoe(const uint8_t* r) {
  char user[33];
  size_t n = strnlen(reinterpret_cast<const char*>(r + 4), 32);
  for (size_t i = 0; i < n; i++) user[i] = r[4 + i] > 0x20 && r[4 + i] < 0x7F ? char(r[4 + i]) : '?';
  user[n] = 0;
  Trace("icmd pppoe flag=%u user=%s password-length=%u", unsigned(GetU16(r)), user,
        unsigned(strnlen(reinterpret_cast<const char*>(r + 36), 32)));
  Trace("icmd pppoe-bytes user=%s password=%s", Trace_TextHex(r + 4, 32).c_str(),
        Trace_TextHex(r + 36, 32).c_str());
}

// The one freeze of --freeze-on-set has happened.
bool gFrozeOnSet = false;

SetupItem* ItemOf(uint32_t mask) {
  for (SetupItem& item : gItems)
    if (item.mask == mask) return &item;
  return nullptr;
}

// One ICMD message: sub-header {session, op, type, mode, request number},
// then the body.
void AddMessage(SimAnswer* answer, uint32_t session, uint32_t op, uint32_t type, uint32_t mode,
                uint32_t number, const uint8_t* body, uint32_t n) {
  uint8_t rest[32 + kSetupHeader + 256] = {};
  if (n > sizeof rest - 32) return;
  PutU32(rest + 0, session);  // session id
  PutU32(rest + 4, op);       // op
  PutU32(rest + 8, type);     // type
  PutU32(rest + 12, mode);    // mode word, as the viewer sent it
  PutU32(rest + 16, number);  // the request's sequence number
  if (n > 0) memcpy(rest + 32, body, n);
  Answer_AddMessage(answer, "ICMD", rest, 32 + n);
}

// An op-4 answer carrying the stored item (a bare header for an unknown mask).
void AnswerItem(SimAnswer* answer, uint32_t session, uint32_t mode, uint32_t number, uint32_t mask) {
  uint8_t body[kSetupHeader + 256] = {};
  const SetupItem* item = ItemOf(mask);
  uint32_t size = item ? item->size : 0;
  PutU32(body + 0, mask);                 // item mask
  PutU32(body + 4, kSetupHeader + size);  // total size
  if (item) {
    PutU32(body + 8, Wire_ChecksumBytes(item->data, size));  // item sum
    memcpy(body + kSetupHeader, item->data, size);
  }
  AddMessage(answer, session, kAnswer, kSetup, mode, number, body, kSetupHeader + size);
  Trace("icmd answer op=4 type=4096 mask=%u size=%u", mask, size);
}

void OnSetupData(SimAnswer* answer, uint32_t session, uint32_t mode, uint32_t number, const uint8_t* body,
                 uint32_t n) {
  if (n < kSetupHeader) {
    Trace("icmd set bytes=%u short", n);
    return;
  }
  uint32_t mask = GetU32(body);
  uint32_t total = GetU32(body + 4);
  uint32_t sum = GetU32(body + 8);
  SetupItem* item = ItemOf(mask);
  if (item == nullptr) {
    Trace("icmd set mask=%u unknown", mask);
    return;
  }
  if (total != kSetupHeader + item->size || total > n) {
    Trace("icmd set mask=%u total=%u bytes=%u bad-size", mask, total, n);
    return;
  }
  if (Wire_ChecksumBytes(body + kSetupHeader, item->size) != sum) {
    Trace("icmd set mask=%u bad-sum", mask);
    return;
  }
  memcpy(item->data, body + kSetupHeader, item->size);
  Trace("icmd set mask=%u stored", mask);
  if (mask == 2) TracePppoe(item->data);
  if (mask == 4) {
    // The DDNS item: u16 at 2 the service, then user, password and host.
    char user[32], password[32], host[48];
    memcpy(user, item->data + 4, 32);
    memcpy(password, item->data + 36, 32);
    memcpy(host, item->data + 68, 48);
    user[31] = password[31] = host[47] = 0;
    Trace("ddns service=%u user=\"%s\" password=\"%s\" host=\"%s\"", GetU16(item->data + 2), user, password,
          host);
  }
  AnswerItem(answer, session, mode, number, mask);
}

void OnMessage(SimSession* session, const uint8_t* msg, uint32_t len, SimAnswer* answer) {
  if (len < 64) {
    Trace("icmd short len=%u", len);
    return;
  }
  uint32_t sid = GetU32(msg + 32);
  uint32_t op = GetU32(msg + 36);
  uint32_t type = GetU32(msg + 40);
  uint32_t mode = GetU32(msg + 44);
  uint32_t number = GetU32(msg + 48);
  const uint8_t* body = msg + 64;
  uint32_t n = len - 64;
  Trace("icmd op=%u type=%u mode=%u seq=%u bytes=%u", op, type, mode, number, n);
  if (sid != session->id) return;
  SimVido_OnCommand(session, op, type, mode, number, body, n);
  if (type == kSetup && op == kRequest && gMachine.no_setup_answer) {
    Trace("icmd get mask=%u unanswered", n >= 4 ? GetU32(body) : 0);
  } else if (type == kSetup && op == kRequest) {
    AnswerItem(answer, sid, mode, number, n >= 4 ? GetU32(body) : 0);
  } else if (type == kSetup && op == kData && gMachine.freeze_on_set_ms > 0 && !gFrozeOnSet && n >= 4 &&
             ItemOf(GetU32(body)) != nullptr) {
    // The recorder hangs as the set comes in, and loses it.
    gFrozeOnSet = true;
    gFrozenUntilMs = Machine_NowMs() + gMachine.freeze_on_set_ms;
    Trace("icmd set mask=%u lost freeze-ms=%u", GetU32(body), gMachine.freeze_on_set_ms);
  } else if (type == kSetup && op == kData) {
    OnSetupData(answer, sid, mode, number, body, n);
  } else if ((type == 256 || type == 512 || type == 1024) && op == kData && n == kBlockSize) {
    if (type == 256)
      Trace("icmd live layout=%u first=%u channel=%u mask=%08x", GetU32(body), GetU32(body + 4),
            GetU32(body + 8), GetU32(body + 12));
    AddMessage(answer, sid, kAnswer, type, mode, number, body, n);
    Trace("icmd answer op=4 type=%u", type);
  }
}

}  // namespace

void SimIcmd_Register() {
  InitItems();
  Module_Register(SimModule{{'I', 'C', 'M', 'D'}, OnMessage, nullptr, nullptr});
}
