// The simulated recorder's description of itself: the settings the
// command line gives (gMachine) and the 256-byte machine record and the
// recorder-wide switches built from them.
#pragma once

#include <cstdint>

constexpr uint32_t kMachineRecordSize = 256;
constexpr uint32_t kMachineTextSize = 32;

struct SimMachine {
  uint32_t channels;                   // 4, 8 or 16
  uint32_t sockets;                    // 1 or 2: sockets the viewer may open
  bool pal;                            // 25 frames per second instead of 30
  bool no_audio;                       // audio word 2
  uint32_t variant;                    // model variant flag
  bool titles;                         // the viewer shows its Title tab
  char text[4][kMachineTextSize + 1];  // up to 32 characters each
  bool upnp;                           // the machine-type variable reports UPnP support
  int64_t close_after_ms;              // -1: never send the close
  bool interval_hidden;                // the machine record hides the mail interval
  bool no_setup_answer;                // a setup get (ICMD op 1, type 4096) is not answered
  int64_t clock_offset;                // seconds added to the PC's clock for the recorder's (--clock)
  uint32_t answer_rate;       // bytes per second each client's answers leave at; 0: as fast as it takes them
  uint32_t record_delay_ms;   // the answer carrying the machine record leaves this much later
  uint32_t freeze_on_set_ms;  // the first setup set freezes the recorder this long (and is lost); 0: never
};

extern SimMachine gMachine;
// Until this millisecond of Machine_NowMs the recorder is frozen: it reads,
// answers and accepts nothing. 0: not frozen.
extern int64_t gFrozenUntilMs;

// Fills the 256-byte machine record from gMachine (little-endian).
void Machine_BuildRecord(uint8_t out[kMachineRecordSize]);
// Milliseconds of a monotonic clock.
int64_t Machine_NowMs();
// Recorder time now: seconds since 2000-01-01 00:00:00 local time in the
// recorder's calendar (2000 counts as a common year), and milliseconds.
void Machine_RecorderNow(uint32_t* seconds, uint32_t* ms);
// Sets the recorder's clock so that it shows this time of day (seconds
// after midnight) now, on today's date.
void Machine_SetTimeOfDay(uint32_t seconds);
