// What the simulated recorder's cameras and microphones deliver: the media
// settings of the command line (gMedia), the camera file cut into access
// units, and the sound samples (a tone or a WAV file of 8 kHz samples).
#pragma once

#include <cstdint>

constexpr uint32_t kSampleRate = 8000;
// Longest frame the recorder sends: its 128-byte block, the 32-byte frame
// header and the payload stay below the viewer's 262,144-byte limit.
constexpr uint32_t kMaxFramePayload = 262144 - 128 - 32 - 64;
constexpr uint32_t kMaxSizeChanges = 8;
constexpr uint32_t kMaxBackupSpeed = 64;

struct SimMedia {
  uint32_t gop;        // a key frame every gop frames (1 = every frame)
  const char* camera;  // Annex B file sent instead of the pattern; null: pattern
  uint32_t tone_hz;    // tone of the microphones (default 1000)
  const char* audio;   // WAV file of 8 kHz samples instead of the tone; null: tone
  // A backup's pattern changes size (20 and 16 macroblocks wide in turn) at
  // these seconds from its start, in rising order.
  uint32_t size_changes[kMaxSizeChanges];
  uint32_t size_change_count;
  uint32_t backup_speed;  // a backup is sent this many times faster than real time (4)
  bool gap_jump;          // playback and backup send the frames after a recording gap at once
  int64_t live_after_ms;  // this long into a backup the recorder switches to live itself, once; 0: never
  uint32_t sparse;        // recorded streams send one video frame in this many (1: all)
  uint32_t picture_w, picture_h;  // the pattern's size in macroblocks (0: 20 x 15, or 20 x 16 with --pal)
};

extern SimMedia gMedia;

// One access unit of the camera file, as "avc1" NAL units (each behind a
// 4-byte big-endian length).
struct SimAccessUnit {
  const uint8_t* data;
  uint32_t length;
  bool key;  // holds an IDR slice (the file's SPS and PPS lead it)
};

// Loads the camera file and the WAV file named in gMedia; prints the reason
// and returns false when one cannot be used.
bool Media_Load();
// Camera file: access units, 0 without a file.
uint32_t Media_CameraUnits();
const SimAccessUnit* Media_CameraUnit(uint32_t index);
// The camera file's picture size in macroblocks.
uint32_t Media_CameraWidthMbs();
uint32_t Media_CameraHeightMbs();
// The first key unit at or after index (wrapping); the file has one.
uint32_t Media_NextCameraKey(uint32_t index);

// Sound sample n (counted from the start of a stream) as a 16-bit offset
// binary value: 0x8000 is silence; its high byte is the 8-bit sample the
// viewer plays.
uint16_t Media_Sample(uint64_t n);
