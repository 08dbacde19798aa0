// The simulated recorder's description of itself: owns gMachine, the
// settings the command line fills, and builds the machine record.
#include "sim_machine.h"

#include <cstring>
#include <ctime>

#include "sim_wire.h"

SimMachine gMachine = {
    4,                                            // channels
    1,                                            // sockets
    false,                                        // pal
    false,                                        // no_audio
    0,                                            // variant
    false,                                        // titles
    {"DVR-SIM", "V1.0.0 SIM", "SN 00000001", ""},  // texts
    false,                                        // upnp
    -1,                                           // close_after_ms
    false,                                        // interval_hidden
    false,                                        // no_setup_answer
};

void Machine_BuildRecord(uint8_t out[kMachineRecordSize]) {
  memset(out, 0, kMachineRecordSize);
  Wire_PutU32(out + 0, gMachine.channels);      // channel count
  Wire_PutU32(out + 4, gMachine.variant);       // model variant flag
  Wire_PutU32(out + 8, gMachine.titles ? 1 : 0);  // titles supported
  for (int t = 0; t < 4; t++)                   // four texts at 12, 44, 76, 108;
    memcpy(out + 12 + 32 * t, gMachine.text[t],   // a 32-character one has no NUL
           strnlen(gMachine.text[t], kMachineTextSize));
  Wire_PutU32(out + 140, gMachine.pal ? 1 : 0);   // frame-rate flag: 25 per second
  Wire_PutU32(out + 148, gMachine.sockets);       // sockets accepted
  Wire_PutU32(out + 224, gMachine.no_audio ? 2 : 1);  // 2 = no audio
  Wire_PutU32(out + 228, gMachine.interval_hidden ? 1 : 0);  // 1: mail interval hidden
}

int64_t Machine_NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
