// The simulated recorder's named shared variables, module "ICTL": it
// answers the machine-type variable (UPnP support with --upnp), keeps the
// UPnP word and answers it, and sends the watermark block to a watermark
// request. Owns gUpnpStored, the recorder's UPnP word.
#include <cstring>

#include "sim_machine.h"
#include "sim_modules.h"
#include "sim_trace.h"
#include "sim_wire.h"

namespace {

constexpr uint32_t kValueHeader = 256;  // u32 size + 256, the name from byte 4
constexpr uint32_t kNameField = 252;
constexpr uint32_t kMachineTypeSize = 960;
constexpr uint32_t kWatermarkSize = 160;
constexpr uint32_t kUpnpWrite = 1u << 29;
constexpr uint32_t kUpnpRead = 1u << 31;

// Port 80, UPnP off, until the viewer writes it.
uint32_t gUpnpStored = 80;

// One named variable: sub-header {session, 0, sub-type 0, handler flag},
// the value header and the value.
void AddVariable(SimAnswer* answer, uint32_t session, const char* name, const uint8_t* value, uint32_t size,
                 uint32_t flag) {
  static uint8_t rest[32 + kValueHeader + kMachineTypeSize];
  if (size > kMachineTypeSize) return;
  memset(rest, 0, 32 + kValueHeader);
  PutU32(rest + 0, session);                      // session id
  PutU32(rest + 8, 0);                            // sub-type 0: named variable
  PutU32(rest + 12, flag);                        // run the handler
  PutU32(rest + 32, size + kValueHeader);         // value size + 256
  memcpy(rest + 36, name, strnlen(name, 127));    // name
  memcpy(rest + 32 + kValueHeader, value, size);  // value
  Answer_AddMessage(answer, "ICTL", rest, 32 + kValueHeader + size);
  Trace("ictl-answer name=%s size=%u flag=%u", name, size, flag);
}

void OnMessage(SimSession* session, const uint8_t* msg, uint32_t len, SimAnswer* answer) {
  if (len < 64 + kValueHeader) {
    Trace("ictl short len=%u", len);
    return;
  }
  uint32_t sid = GetU32(msg + 32);
  uint32_t sub_type = GetU32(msg + 40);
  uint32_t flag = GetU32(msg + 44);
  const uint8_t* body = msg + 64;
  uint32_t n = len - 64;
  uint32_t announced = GetU32(body);
  const char* name = reinterpret_cast<const char*>(body + 4);
  size_t name_len = strnlen(name, kNameField);
  if (sub_type != 0 || announced < kValueHeader || announced - kValueHeader > n - kValueHeader ||
      name_len == kNameField) {
    Trace("ictl bad sub-type=%u announced=%u bytes=%u", sub_type, announced, n);
    return;
  }
  uint32_t size = announced - kValueHeader;
  const uint8_t* value = body + kValueHeader;
  char shown[128];
  for (size_t i = 0; i < name_len && i < 127; i++)
    shown[i] = name[i] > 0x20 && name[i] < 0x7F ? name[i] : '?';
  shown[name_len < 127 ? name_len : 127] = 0;
  Trace("ictl name=%s size=%u flag=%u session=%u", shown, size, flag, sid);
  if (sid != session->id) return;

  if (strcmp(name, "Tavn_Mach_Type_Data_W") == 0 && size == kMachineTypeSize) {
    uint8_t reply[kMachineTypeSize];
    memcpy(reply, value, size);
    PutU32(reply + 8, gMachine.upnp ? 1 : 0);  // UPnP supported
    AddVariable(answer, sid, "Tavn_Mach_Type_Data_R", reply, size, 1);
  } else if (strcmp(name, "Tavn_Upnp_C_Data_W") == 0 && size == 4) {
    uint32_t word = GetU32(value);
    if (word & kUpnpWrite) gUpnpStored = word & ~(kUpnpWrite | kUpnpRead);
    Trace("ictl upnp word=0x%08x %s stored=0x%08x", word, word & kUpnpWrite ? "write" : "read", gUpnpStored);
    uint8_t reply[4];
    PutU32(reply, gUpnpStored);
    AddVariable(answer, sid, "Tavn_Upnp_C_Data_R", reply, 4, 1);
  } else if (strcmp(name, "Tavn_Watermark_Var_R") == 0 && size == 4) {
    uint8_t block[kWatermarkSize] = {};
    PutU32(block + 36, 0x5EA1C0DE + GetU32(value));  // the watermark value, not 0
    AddVariable(answer, sid, "Tavn_Watermark_Var_W", block, kWatermarkSize, 0);
  }
}

}  // namespace

void SimIctl_Register() { Module_Register(SimModule{{'I', 'C', 'T', 'L'}, OnMessage, nullptr, nullptr}); }
