// dvr-sim: a simulated recorder for the viewer's tests and demo. Owns the
// command-line option table gOptions and the settings it fills.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>

#include "sim_machine.h"
#include "sim_media.h"
#include "sim_modules.h"
#include "sim_pbba.h"
#include "sim_server.h"
#include "sim_sessions.h"
#include "sim_trace.h"
#include "sim_vdtt.h"
#include "sim_vido.h"

static long gPort = -1;

static bool SetPort(const char* value) {
  if (value == nullptr || *value == 0) return false;
  char* end = nullptr;
  errno = 0;
  long port = strtol(value, &end, 10);
  if (errno != 0 || *end != 0 || port < 0 || port > 65535) return false;
  gPort = port;
  return true;
}

static bool SetTrace(const char*) {
  Trace_Enable(true);
  return true;
}

// A whole decimal number within [low, high].
static bool ParseNumber(const char* value, long low, long high, long* out) {
  if (value == nullptr || *value == 0) return false;
  char* end = nullptr;
  errno = 0;
  long n = strtol(value, &end, 10);
  if (errno != 0 || *end != 0 || n < low || n > high) return false;
  *out = n;
  return true;
}

static bool SetChannels(const char* value) {
  long n;
  if (!ParseNumber(value, 4, 16, &n) || (n != 4 && n != 8 && n != 16)) return false;
  gMachine.channels = uint32_t(n);
  return true;
}

static bool SetSockets(const char* value) {
  long n;
  if (!ParseNumber(value, 1, 2, &n)) return false;
  gMachine.sockets = uint32_t(n);
  return true;
}

static bool SetPal(const char*) {
  gMachine.pal = true;
  return true;
}

static bool SetNoAudio(const char*) {
  gMachine.no_audio = true;
  return true;
}

static bool SetVariant(const char* value) {
  long n;
  if (!ParseNumber(value, 0, 0x7FFFFFFF, &n)) return false;
  gMachine.variant = uint32_t(n);
  return true;
}

static bool SetTitles(const char*) {
  gMachine.titles = true;
  return true;
}

static bool SetShowTitles(const char*) {
  gTitles.show = true;
  return true;
}

static bool SetTitlesOut(const char* value) {
  if (value == nullptr || *value == 0) return false;
  gTitles.out = value;
  return true;
}

// The file must hold the titles whole, as --titles-out writes them.
static bool SetTitlesIn(const char* value) {
  struct stat st;
  if (value == nullptr || stat(value, &st) != 0 || st.st_size != off_t(kSimTitlesBytes)) return false;
  gTitles.in = value;
  return true;
}

static bool SetTitlesStall(const char* value) {
  long n;
  if (!ParseNumber(value, 1, 1000, &n)) return false;
  gTitles.stall_after = uint32_t(n);
  return true;
}

static bool SetText(int index, const char* value) {
  if (value == nullptr || strlen(value) > kMachineTextSize) return false;
  snprintf(gMachine.text[index], sizeof gMachine.text[index], "%s", value);
  return true;
}
static bool SetText1(const char* value) { return SetText(0, value); }
static bool SetText2(const char* value) { return SetText(1, value); }
static bool SetText3(const char* value) { return SetText(2, value); }
static bool SetText4(const char* value) { return SetText(3, value); }

static bool SetUpnp(const char*) {
  gMachine.upnp = true;
  return true;
}

static bool SetIntervalHidden(const char*) {
  gMachine.interval_hidden = true;
  return true;
}

static bool SetNoSetupAnswer(const char*) {
  gMachine.no_setup_answer = true;
  return true;
}

static bool SetAnswerRate(const char* value) {
  long n;
  if (!ParseNumber(value, 1000, 1000000000, &n)) return false;
  gMachine.answer_rate = uint32_t(n);
  return true;
}

static bool SetRecordDelay(const char* value) {
  long n;
  if (!ParseNumber(value, 0, 60000, &n)) return false;
  gMachine.record_delay_ms = uint32_t(n);
  return true;
}

static bool SetFreezeOnSet(const char* value) {
  long n;
  if (!ParseNumber(value, 1, 600000, &n)) return false;
  gMachine.freeze_on_set_ms = uint32_t(n);
  return true;
}

static bool SetCloseAfter(const char* value) {
  long n;
  if (!ParseNumber(value, 0, 86400000, &n)) return false;
  gMachine.close_after_ms = n;
  return true;
}

static bool SetGop(const char* value) {
  long n;
  if (!ParseNumber(value, 1, 100000, &n)) return false;
  gMedia.gop = uint32_t(n);
  return true;
}

static bool SetCamera(const char* value) {
  if (value == nullptr || *value == 0) return false;
  gMedia.camera = value;
  return true;
}

static bool SetTone(const char* value) {
  long n;
  if (!ParseNumber(value, 1, 3999, &n)) return false;
  gMedia.tone_hz = uint32_t(n);
  return true;
}

static bool SetAudio(const char* value) {
  if (value == nullptr || *value == 0) return false;
  gMedia.audio = value;
  return true;
}

// Seconds S[,S...], each 1 .. 7200 and later than the one before.
static bool SetSizeChangeAt(const char* value) {
  if (value == nullptr) return false;
  gMedia.size_change_count = 0;
  const char* at = value;
  for (;;) {
    const char* comma = strchr(at, ',');
    char one[16];
    size_t n = comma ? size_t(comma - at) : strlen(at);
    if (n == 0 || n >= sizeof one || gMedia.size_change_count >= kMaxSizeChanges) return false;
    memcpy(one, at, n);
    one[n] = 0;
    long s;
    if (!ParseNumber(one, 1, 7200, &s)) return false;
    if (gMedia.size_change_count > 0 && uint32_t(s) <= gMedia.size_changes[gMedia.size_change_count - 1])
      return false;
    gMedia.size_changes[gMedia.size_change_count++] = uint32_t(s);
    if (!comma) return true;
    at = comma + 1;
  }
}

static bool SetBackupSpeed(const char* value) {
  long n;
  if (!ParseNumber(value, 1, kMaxBackupSpeed, &n)) return false;
  gMedia.backup_speed = uint32_t(n);
  return true;
}

static bool SetLiveAfter(const char* value) {
  long n;
  if (!ParseNumber(value, 1, 86400000, &n)) return false;
  gMedia.live_after_ms = n;
  return true;
}

static bool SetSparse(const char* value) {
  long n;
  if (!ParseNumber(value, 1, 30, &n)) return false;
  gMedia.sparse = uint32_t(n);
  return true;
}

// WxH in macroblocks, at most the pattern's own 20 x 16.
static bool SetPicture(const char* value) {
  unsigned w = 0, h = 0;
  char tail = 0;
  if (value == nullptr || sscanf(value, "%ux%u%c", &w, &h, &tail) != 2 || w < 1 || w > 20 || h < 1 || h > 16)
    return false;
  gMedia.picture_w = w;
  gMedia.picture_h = h;
  return true;
}

static bool SetGapJump(const char*) {
  gMedia.gap_jump = true;
  return true;
}

// HH:MM:SS, the recorder clock's time of day now.
static bool SetClock(const char* value) {
  unsigned h = 0, m = 0, s = 0;
  char tail = 0;
  if (value == nullptr || sscanf(value, "%2u:%2u:%2u%c", &h, &m, &s, &tail) != 3 || h > 23 || m > 59 ||
      s > 59)
    return false;
  Machine_SetTimeOfDay(h * 3600 + m * 60 + s);
  return true;
}

static long gSegment = kEthernetSegment;

static bool SetMss(const char* value) {
  long n;
  if (!ParseNumber(value, 0, 65495, &n) || (n != 0 && n < 536)) return false;
  gSegment = n;
  return true;
}

static bool SetRecordings(const char* value) { return Recordings_Parse(value); }
static const char* gDumpPath = nullptr;
static long gDumpSeconds = 10;
static long gDumpChannel = 0;
static long gDumpStart = -1;

static bool SetDumpFrames(const char* value) {
  if (value == nullptr || *value == 0) return false;
  gDumpPath = value;
  return true;
}

static bool SetSeconds(const char* value) { return ParseNumber(value, 1, 7200, &gDumpSeconds); }
static bool SetDumpChannel(const char* value) { return ParseNumber(value, 0, 15, &gDumpChannel); }
static bool SetDumpStart(const char* value) { return ParseNumber(value, 1, 0x7FFFFFFF, &gDumpStart); }

// One command-line option; modules that need settings add rows here.
struct SimOption {
  const char* name;                  // "--port"
  const char* value_name;            // null for a switch
  bool (*apply)(const char* value);  // false: the value is not acceptable
  const char* help;
};

static const SimOption gOptions[] = {
    {"--port", "N", SetPort, "TCP port on 127.0.0.1 to listen on; 0 picks a free one"},
    {"--mss", "N", SetMss, "TCP segment size of the connections, 536 .. 65495; 0: the loopback's own (1460)"},
    {"--trace", nullptr, SetTrace, "print one line per packet, message and connection"},
    {"--channels", "N", SetChannels, "channel count of the machine record: 4, 8 or 16 (4)"},
    {"--sockets", "N", SetSockets, "sockets the viewer may open: 1 or 2 (1)"},
    {"--pal", nullptr, SetPal, "25 frames per second instead of 30"},
    {"--no-audio", nullptr, SetNoAudio, "the machine record says there is no audio"},
    {"--variant", "N", SetVariant, "model variant flag of the machine record (0)"},
    {"--titles", nullptr, SetTitles, "the machine record offers channel titles"},
    {"--show-titles", nullptr, SetShowTitles, "draw the uploaded channel titles on the pictures"},
    {"--titles-out", "FILE", SetTitlesOut,
     "write the titles (settings and bitmaps) here after each good upload"},
    {"--titles-in", "FILE", SetTitlesIn, "start with the titles of FILE, as --titles-out writes them"},
    {"--titles-stall", "N", SetTitlesStall, "ask for no more chunks of the first upload after N of them"},
    {"--text1", "T", SetText1, "first machine text, at most 32 characters"},
    {"--text2", "T", SetText2, "second machine text"},
    {"--text3", "T", SetText3, "third machine text"},
    {"--text4", "T", SetText4, "fourth machine text"},
    {"--upnp", nullptr, SetUpnp, "the machine-type variable reports UPnP support"},
    {"--interval-hidden", nullptr, SetIntervalHidden, "the machine record hides the mail interval"},
    {"--no-setup-answer", nullptr, SetNoSetupAnswer, "stay silent on a setup get (ICMD op 1, type 4096)"},
    {"--answer-rate", "BYTES", SetAnswerRate,
     "each client's answers leave at this many bytes per second, 1000 .. 1000000000 (as fast as taken)"},
    {"--record-delay-ms", "N", SetRecordDelay,
     "the machine record's answer leaves N ms late, 0 .. 60000 (0)"},
    {"--freeze-on-set", "MS", SetFreezeOnSet,
     "the first set of a setup item is lost and the recorder freezes MS ms: nothing read, answered or "
     "accepted"},
    {"--close-after-ms", "N", SetCloseAfter, "N ms after the first machine record, close that session once"},
    {"--gop", "N", SetGop, "a key frame every N frames of the test pattern (1)"},
    {"--camera", "FILE", SetCamera, "send this H.264 Annex B file instead of the test pattern"},
    {"--tone", "HZ", SetTone, "tone of the microphones, 1 .. 3999 Hz (1000)"},
    {"--audio", "FILE", SetAudio, "send this WAV file of 8 kHz samples instead of the tone"},
    {"--recordings", "SPEC", SetRecordings,
     "which days and half hours hold video: CHANNELS/DAYS/HH:MM-HH:MM[;...], always or none"
     " (all/last10/08:00-18:00)"},
    {"--size-change-at", "S[,S...]", SetSizeChangeAt,
     "a backup's test pattern changes between 20 and 16 macroblocks wide these many seconds in (never)"},
    {"--backup-speed", "N", SetBackupSpeed,
     "a backup span is sent N times faster than real time, 1 .. 64 (4)"},
    {"--gap-jump", nullptr, SetGapJump,
     "playback and backup send the frames after a gap in the recording at once, not after waiting"},
    {"--live-after-ms", "N", SetLiveAfter,
     "N ms into the first backup the recorder switches the viewer to live (its own mode word), once"},
    {"--sparse", "N", SetSparse,
     "playback and backup send one video frame in N (a recording at a lower rate; give --gop a multiple of "
     "N)"},
    {"--picture-mbs", "WxH", SetPicture, "the pattern's size in macroblocks, at most 20x16 (20x15)"},
    {"--clock", "HH:MM:SS", SetClock, "the recorder's clock shows this time of day at start (the PC's)"},
    {"--dump-frames", "FILE", SetDumpFrames,
     "write the frames a backup would bring to FILE instead of listening"},
    {"--seconds", "N", SetSeconds, "seconds of frames --dump-frames writes, 1 .. 7200 (10)"},
    {"--dump-channel", "N", SetDumpChannel, "channel --dump-frames writes, 0 .. 15 (0)"},
    {"--dump-start", "T", SetDumpStart, "recorder second the dump starts at (now)"},
};

static void Usage(FILE* f) {
  fprintf(f, "usage: dvr-sim --port N [options]\n");
  for (const SimOption& o : gOptions) {
    char left[40];
    snprintf(left, sizeof left, "%s%s%s", o.name, o.value_name ? " " : "", o.value_name ? o.value_name : "");
    fprintf(f, "  %-20s %s\n", left, o.help);
  }
  fprintf(f, "  %-20s %s\n", "--help", "show this text");
}

// Accepts "--name value" and "--name=value"; returns false on any error.
static bool ParseArgs(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
      Usage(stdout);
      exit(0);
    }
    const SimOption* found = nullptr;
    const char* value = nullptr;
    for (const SimOption& o : gOptions) {
      size_t n = strlen(o.name);
      if (strncmp(arg, o.name, n) != 0) continue;
      if (arg[n] == 0) {
        found = &o;
      } else if (arg[n] == '=' && o.value_name != nullptr) {
        found = &o;
        value = arg + n + 1;
      }
      if (found) break;
    }
    if (found == nullptr) {
      fprintf(stderr, "dvr-sim: unknown option %s\n", arg);
      return false;
    }
    if (found->value_name != nullptr && value == nullptr) {
      if (i + 1 >= argc) {
        fprintf(stderr, "dvr-sim: %s needs a value\n", found->name);
        return false;
      }
      value = argv[++i];
    }
    if (!found->apply(value)) {
      fprintf(stderr, "dvr-sim: bad value for %s: %s\n", found->name, value ? value : "");
      return false;
    }
  }
  if (gPort < 0 && gDumpPath == nullptr) {
    fprintf(stderr, "dvr-sim: --port is required\n");
    return false;
  }
  return true;
}

int main(int argc, char** argv) {
  Recordings_Default();
  if (!ParseArgs(argc, argv)) {
    Usage(stderr);
    return 2;
  }
  if (!Media_Load()) return 2;
  if (gDumpPath != nullptr) {
    if (uint32_t(gDumpChannel) >= gMachine.channels) {
      fprintf(stderr, "dvr-sim: --dump-channel %ld is past the channel count\n", gDumpChannel);
      return 2;
    }
    uint32_t start = gDumpStart > 0 ? uint32_t(gDumpStart) : 0;
    return SimVido_DumpFrames(gDumpPath, uint32_t(gDumpSeconds), uint32_t(gDumpChannel), start) ? 0 : 1;
  }
  Session_InitAll(uint32_t(time(nullptr)));
  Module_InitAll();
  return Server_Run(uint16_t(gPort), uint32_t(gSegment));
}
