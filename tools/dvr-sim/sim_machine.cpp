// The simulated recorder's description of itself: owns gMachine, the
// settings the command line fills, and builds the machine record.
#include "sim_machine.h"

#include <sys/time.h>

#include <cstring>
#include <ctime>

#include "sim_wire.h"

SimMachine gMachine = {
    4,                                             // channels
    1,                                             // sockets
    false,                                         // pal
    false,                                         // no_audio
    0,                                             // variant
    false,                                         // titles
    {"DVR-SIM", "V1.0.0 SIM", "SN 00000001", ""},  // texts
    false,                                         // upnp
    -1,                                            // close_after_ms
    false,                                         // interval_hidden
    false,                                         // no_setup_answer
    0,                                             // clock_offset
    0,                                             // answer_rate
    0,                                             // record_delay_ms
    0,                                             // freeze_on_set_ms
};

int64_t gFrozenUntilMs = 0;

void Machine_BuildRecord(uint8_t out[kMachineRecordSize]) {
  memset(out, 0, kMachineRecordSize);
  PutU32(out + 0, gMachine.channels);            // channel count
  PutU32(out + 4, gMachine.variant);             // model variant flag
  PutU32(out + 8, gMachine.titles ? 1 : 0);      // titles supported
  for (int t = 0; t < 4; t++)                    // four texts at 12, 44, 76, 108;
    memcpy(out + 12 + 32 * t, gMachine.text[t],  // a 32-character one has no NUL
           strnlen(gMachine.text[t], kMachineTextSize));
  PutU32(out + 140, gMachine.pal ? 1 : 0);              // frame-rate flag: 25 per second
  PutU32(out + 148, gMachine.sockets);                  // sockets accepted
  PutU32(out + 224, gMachine.no_audio ? 2 : 1);         // 2 = no audio
  PutU32(out + 228, gMachine.interval_hidden ? 1 : 0);  // 1: mail interval hidden
}

int64_t Machine_NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Recorder time now: seconds since 2000-01-01 00:00:00 local time in the
// recorder's calendar (2000 counts as a common year), and milliseconds.
void Machine_RecorderNow(uint32_t* seconds, uint32_t* ms) {
  timeval tv;
  gettimeofday(&tv, nullptr);
  time_t t = tv.tv_sec + time_t(gMachine.clock_offset);
  tm local;
  localtime_r(&t, &local);
  uint32_t y = local.tm_year < 100 ? 0 : local.tm_year > 199 ? 99 : uint32_t(local.tm_year - 100);
  auto leap = [](uint32_t k) { return k % 4 == 0 && k % 100 != 0; };
  static const uint32_t kMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  uint32_t days = 0;
  for (uint32_t k = 0; k < y; k++) days += leap(k) ? 366 : 365;
  for (int m = 0; m < local.tm_mon; m++) days += kMonth[m] + (m == 1 && leap(y) ? 1 : 0);
  days += uint32_t(local.tm_mday - 1);
  *seconds = days * 86400 + uint32_t(local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec);
  *ms = uint32_t(tv.tv_usec / 1000);
}

void Machine_SetTimeOfDay(uint32_t seconds) {
  gMachine.clock_offset = 0;
  uint32_t now = 0, ms = 0;
  Machine_RecorderNow(&now, &ms);
  gMachine.clock_offset = int64_t(seconds) - int64_t(now % 86400);
}
