// The simulated recorder's frame stream module "VIDO". Owns gStreams (per
// session: the viewer's last request blocks and mode, and the stream being
// sent), the message scratch gMessage and the picture planes gPlanes. Frames
// ride on the answers to the viewer's polls: each poll answer carries the
// frames that have fallen due since the last one, as many as fit.
#include "sim_vido.h"

#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "sim_h264.h"
#include "sim_machine.h"
#include "sim_media.h"
#include "sim_modules.h"
#include "sim_pattern.h"
#include "sim_pbba.h"
#include "sim_trace.h"
#include "sim_vdtt.h"
#include "sim_wire.h"

namespace {

constexpr uint32_t kChannels = 17;
constexpr uint32_t kSplitChannel = 16;  // the recorder's composed split picture
constexpr uint32_t kBlockSize = 128;    // frame block in front of every frame
constexpr uint32_t kHeaderSize = 32;    // frame header in front of every unit
constexpr uint32_t kSubHeaderSize = 32;
constexpr uint32_t kReportSize = 256;  // the viewer's status report
constexpr uint32_t kRequestBlock = 64;
constexpr uint32_t kKindVideo = 1, kKindAudio = 2;
constexpr uint32_t kSourceLive = 0, kSourceRecorded = 1;
constexpr uint32_t kAudioSamples = 1600;  // 200 ms of sound per audio frame
constexpr uint32_t kAudioPeriodMs = 200;
constexpr uint32_t kPictureWidthMbs = 20;
constexpr uint32_t kChangedWidthMbs = 16;  // a backup's picture after its size change
// Message bytes ahead of the frame header: module header, sub-header, block.
constexpr uint32_t kFrameLead = kModuleHeaderSize + kSubHeaderSize + kBlockSize;

enum : uint32_t { kModeLive = 0, kModePlayback = 1, kModeBackup = 2 };

struct Stream {
  bool asked;                   // a status report came: the viewer takes frames
  uint32_t mode;                // the viewer's mode word
  uint8_t live[kRequestBlock];  // the last request blocks received
  uint8_t playback[kRequestBlock];
  uint8_t backup[kRequestBlock];
  uint32_t request;                 // request number stamped into the frames
  uint32_t stream_seq;              // stream sequence of the next frame
  uint32_t channel_seq[kChannels];  // last channel sequence of video, per channel
  uint32_t audio_seq[kChannels];    // the same for sound

  // The stream being sent.
  bool running;
  uint32_t source;
  uint32_t list[kChannels];  // channels sent, in order
  uint32_t count;
  int64_t start_ms;  // when tick 0 fell due
  uint64_t base;     // frame count (time x fps + frame) of tick 0
  int32_t step;      // frames per tick: 1, 4 (fast), -1, -4, 0 (one still)
  uint64_t last;     // the last frame count sent (backup end), or ~0
  uint32_t tick;     // the tick being sent
  uint32_t cursor;   // next channel of the list within the tick
  bool begun;        // the tick's key decision is made
  bool tick_key;
  uint32_t key_tick;   // tick of the last key frame
  uint32_t since_key;  // the tick's distance from it
  uint32_t key_count;  // key frames so far (idr_pic_id)
  bool force_key;
  uint32_t camera_unit;               // camera file unit of the tick
  uint32_t mosaic_side;               // split layouts: tiles per row of channel 16's picture
  uint32_t mosaic_first;              // and the channel of its first tile
  bool in_gap;                        // recorded source: the last tick had no video
  uint64_t changes[kMaxSizeChanges];  // backup: the frame counts the picture size changes at
  uint32_t change_count;
  uint32_t change_next;  // the next of them
  bool changed;          // the size is the other one (an odd number of changes passed)
  uint32_t speed;        // ticks sent per tick of real time
  // What the viewer's last status report said it has room for, and the
  // frame bytes sent since: a recorded stream waits when they would pass it.
  uint32_t room;
  uint64_t sent;
};

Stream gStreams[kMaxSessions];
uint8_t gMessage[kMaxAnswerPayload];
uint8_t gPlanes[320 * 256 * 3 / 2];

uint32_t Fps() { return gMachine.pal ? 25 : 30; }
uint32_t HeightMbs() { return gMedia.picture_h ? gMedia.picture_h : gMachine.pal ? 16 : 15; }
uint32_t WidthMbs(bool changed) {
  uint32_t w = gMedia.picture_w ? gMedia.picture_w : kPictureWidthMbs;
  if (!changed) return w;
  return gMedia.picture_w ? (w * 4 / 5 > 0 ? w * 4 / 5 : 1) : kChangedWidthMbs;
}
bool Camera() { return Media_CameraUnits() > 0; }

// Recorder time now (seconds and milliseconds).
void RecorderNow(uint32_t* seconds, uint32_t* ms) { Machine_RecorderNow(seconds, ms); }

void Stop(Stream& s, uint32_t session, const char* why) {
  if (s.running) Trace("vido stop session=%u reason=%s", session, why);
  s.running = false;
}

// Starts what the viewer's mode and request blocks ask for.
void Start(Stream& s, const SimSession* session) {
  s.running = false;
  s.count = 0;
  s.step = 1;
  s.last = ~uint64_t(0);
  s.change_count = 0;
  s.change_next = 0;
  s.changed = false;
  s.speed = 1;
  const uint32_t fps = Fps();
  if (s.mode == kModeLive) {
    uint32_t layout = GetU32(s.live + 0);
    uint32_t first = GetU32(s.live + 4);
    uint32_t single = GetU32(s.live + 8);
    // One channel, or a split composed on channel 16 (2 x 2, 3 x 3 or
    // 4 x 4 tiles from the first channel).
    if (layout >= 1 && layout <= 3) {
      s.mosaic_side = layout + 1;
      s.mosaic_first = first < gMachine.channels ? first : 0;
      s.list[s.count++] = kSplitChannel;
    } else if (single < gMachine.channels) {
      s.list[s.count++] = single;
    }
    uint32_t seconds, ms;
    RecorderNow(&seconds, &ms);
    s.base = uint64_t(seconds) * fps + ms * fps / 1000;
    s.source = kSourceLive;
  } else if (s.mode == kModePlayback) {
    uint32_t channel = GetU32(s.playback + 8);
    uint32_t run = GetU32(s.playback + 12);
    int32_t direction = int32_t(GetU32(s.playback + 16));
    uint32_t time = GetU32(s.playback + 20);
    if (run == 0 || channel >= gMachine.channels) return;
    s.list[s.count++] = channel;
    s.step = direction == 0 ? 0 : (run == 2 ? 4 : 1) * (direction < 0 ? -1 : 1);
    s.base = uint64_t(time) * fps;
    s.source = kSourceRecorded;
  } else if (s.mode == kModeBackup) {
    uint32_t channel = GetU32(s.backup + 8);
    uint32_t armed = GetU32(s.backup + 12);
    uint32_t from = GetU32(s.backup + 16);
    uint32_t to = GetU32(s.backup + 20);
    if (armed != 1 || channel >= gMachine.channels || to <= from) return;
    s.list[s.count++] = channel;
    s.base = uint64_t(from) * fps;
    // The frames of the seconds from .. to - 1, and the first frame of the
    // end mark, which tells the viewer the span is over.
    s.last = uint64_t(to) * fps;
    s.source = kSourceRecorded;
    for (uint32_t i = 0; i < gMedia.size_change_count; i++)
      s.changes[s.change_count++] = (uint64_t(from) + gMedia.size_changes[i]) * fps;
    s.speed = gMedia.backup_speed;
  }
  if (s.count == 0) return;
  s.running = true;
  s.start_ms = Machine_NowMs();
  s.tick = 0;
  s.cursor = 0;
  s.begun = false;
  s.force_key = true;
  s.key_tick = 0;
  s.camera_unit = 0;
  s.in_gap = false;
  char channels[3 * kChannels + 1] = "";
  for (uint32_t i = 0; i < s.count; i++)
    snprintf(channels + strlen(channels), sizeof channels - strlen(channels), "%s%u", i ? "," : "",
             s.list[i]);
  Trace("vido start session=%u mode=%u source=%u channels=%s request=%u", session->id, s.mode, s.source,
        channels, s.request);
}

// The frame count of a tick; false when the stream has run out.
bool FrameOfTick(const Stream& s, uint32_t tick, uint64_t* frame) {
  if (s.step == 0 && tick > 0) return false;
  int64_t delta = int64_t(s.step) * int64_t(tick);
  if (delta < 0 && uint64_t(-delta) > s.base) return false;
  *frame = s.base + uint64_t(delta);
  return *frame <= s.last;
}

// The key decision of a tick, made once for all of its channels; the
// frame where a backup's picture changes size is a key frame.
void BeginTick(Stream& s, uint64_t frame) {
  if (s.begun) return;
  s.begun = true;
  while (s.change_next < s.change_count && frame >= s.changes[s.change_next]) {
    s.change_next++;
    s.changed = !s.changed;
    s.force_key = true;
  }
  if (Camera()) {
    if (s.force_key) s.camera_unit = Media_NextCameraKey(s.camera_unit);
    s.tick_key = Media_CameraUnit(s.camera_unit)->key;
    if (s.tick_key) s.key_count++;
  } else {
    s.tick_key = s.force_key || s.tick - s.key_tick >= gMedia.gop;
    if (s.tick_key) {
      s.key_tick = s.tick;
      s.key_count++;
    }
    s.since_key = s.tick - s.key_tick;
  }
  s.force_key = false;
}

void EndTick(Stream& s) {
  s.tick++;
  s.cursor = 0;
  s.begun = false;
  if (Camera()) s.camera_unit = (s.camera_unit + 1) % Media_CameraUnits();
}

// Writes the sub-header, the block and the frame header of a frame message
// at m (m + 32 onwards: Answer_AddMessage adds the module header), whose
// payload, padded to the unit, is already in place; returns the message's
// bytes after the module header.
uint32_t FrameMessage(uint8_t* m, const SimSession* session, Stream& s, uint32_t channel, uint32_t kind,
                      uint64_t frame, bool key, uint32_t width_mbs, uint32_t height_mbs, uint32_t unit_bytes,
                      uint64_t newest) {
  const uint32_t fps = Fps();
  uint8_t* sub = m + kModuleHeaderSize;
  memset(sub, 0, kSubHeaderSize + kBlockSize + kHeaderSize);
  PutU32(sub + 0, session->id);  // session id
  PutU32(sub + 4, 0);            // op 0: a frame
  uint8_t* block = sub + kSubHeaderSize;
  uint32_t* seq = kind == kKindAudio ? s.audio_seq : s.channel_seq;
  PutU32(block + 0, kBlockSize + unit_bytes);                           // total length
  PutU32(block + 8, kind == kKindAudio ? kAudioPeriodMs : 1000 / fps);  // frame period, ms
  PutU32(block + 12, ++seq[channel]);                                   // channel sequence
  PutU32(block + 20, channel);                                          // channel
  PutU32(block + 24, 0);                                                // status value
  PutU32(block + 32, s.stream_seq++);                                   // stream sequence
  PutU32(block + 36, uint32_t(newest / fps));                           // newest second
  PutU32(block + 40, uint32_t(newest % fps));                           // newest frame
  PutU32(block + 48, kind);                                             // kind
  PutU32(block + 52, s.request);                                        // request number
  uint8_t* h = block + kBlockSize;
  PutU32(h + 0, 0x03000000);                  // magic: 00 00 00 03
  PutU32(h + 4, uint32_t(frame / fps));       // recorder time
  h[8] = uint8_t(frame % fps);                // frame within the second
  h[11] = uint8_t(kind << 6);                 // kind: 1 video, 2 audio
  h[12] = uint8_t(height_mbs);                // height, 16-pixel units
  h[13] = uint8_t(width_mbs);                 // width, 16-pixel units
  h[14] = uint8_t((channel & 15) << 4);       // channel; progressive
  h[15] = uint8_t((key ? 0 : 1) << 4);        // frame type; no further units
  PutU16(h + 18, uint16_t(unit_bytes / 64));  // unit length, 64-byte units
  h[23] = uint8_t(s.source << 5);             // source
  PutU32(h + 24, (20 * fps) << 5);            // time scale
  PutU32(h + 28, 0);                          // time offset
  return kSubHeaderSize + kBlockSize + unit_bytes;
}

// Rounds a unit (header and payload) up to whole 64-byte units, zeroing
// the padding; returns the unit's bytes.
uint32_t PadUnit(uint8_t* payload, uint32_t payload_bytes, bool nal_payload) {
  uint32_t unit = (kHeaderSize + payload_bytes + 63) / 64 * 64;
  uint32_t pad = unit - kHeaderSize - payload_bytes;
  memset(payload + payload_bytes, 0, pad);
  if (nal_payload && pad > 0) H264Sim_PadLastNal(payload, payload_bytes, pad);
  return unit;
}

// Builds the video frame of channel for the current tick into gMessage;
// returns the bytes after the module header, 0 when it cannot be built.
uint32_t BuildVideo(const SimSession* session, Stream& s, uint32_t channel, uint64_t frame, uint64_t newest) {
  uint8_t* payload = gMessage + kFrameLead + kHeaderSize;
  const uint32_t cap = kMaxFramePayload;
  uint32_t w = WidthMbs(s.changed), h = HeightMbs(), n = 0;
  const uint32_t fps = Fps();
  if (Camera()) {
    const SimAccessUnit* unit = Media_CameraUnit(s.camera_unit);
    w = Media_CameraWidthMbs();
    h = Media_CameraHeightMbs();
    memcpy(payload, unit->data, unit->length);
    n = unit->length;
  } else if (s.tick_key) {
    uint8_t* y = gPlanes;
    uint8_t* u = y + w * 16 * h * 16;
    uint8_t* v = u + w * 8 * h * 8;
    uint32_t time = uint32_t(frame / fps), number = uint32_t(frame % fps);
    if (channel == kSplitChannel) {
      PatternMosaic mosaic{w * 16, h * 16, s.mosaic_side, s.mosaic_first, gMachine.channels};
      Pattern_FillMosaic(y, w * 16, u, v, w * 8, mosaic, time, number, fps);
      SimVdtt_DrawMosaicTitles(y, w * 16, u, v, w * 8, mosaic);
    } else {
      Pattern_Fill(y, w * 16, u, v, w * 8, w * 16, h * 16, channel, time, number, fps);
      SimVdtt_DrawTitle(y, w * 16, u, v, w * 8, w * 16, h * 16, channel);
    }
    n = H264Sim_WriteIdrPcm(payload, cap, w, h, s.key_count & 1, SimPicture{y, u, v, w * 16, w * 8});
  } else {
    n = H264Sim_WriteSkipP(payload, cap, w, h, s.since_key);
  }
  if (n == 0) return 0;
  uint32_t unit = PadUnit(payload, n, true);
  return FrameMessage(gMessage, session, s, channel, kKindVideo, frame, s.tick_key, w, h, unit, newest);
}

// Builds the audio frame of channel for the current tick into m.
uint32_t BuildAudio(uint8_t* m, const SimSession* session, Stream& s, uint32_t channel, uint64_t frame,
                    uint64_t newest) {
  uint8_t* payload = m + kFrameLead + kHeaderSize;
  uint64_t first = uint64_t(s.tick / (Fps() / 5)) * kAudioSamples;
  for (uint32_t i = 0; i < kAudioSamples; i++) {
    // Low byte first; the high byte is what the viewer plays.
    PutU16(payload + 2 * i, Media_Sample(first + i));
  }
  // 64 more bytes than the samples: the viewer keeps (64 x units - 64) / 2.
  uint32_t unit = PadUnit(payload, 2 * kAudioSamples + 32, false);
  return FrameMessage(m, session, s, channel, kKindAudio, frame, true, 0, 0, unit, newest);
}

// --gap-jump: the stream goes on at once from the next second the
// recording has (no further than the stream's end, or a day on), as if the
// ticks between had been sent; the tick in the gap is the last skipped.
void JumpGap(Stream& s, const SimSession* session, uint32_t channel, uint64_t frame) {
  const uint32_t fps = Fps();
  uint64_t second = frame / fps + 1;
  uint64_t end = s.last != ~uint64_t(0) ? s.last / fps + 1 : second + 86400;
  while (second < end && !Recordings_Has(channel, second, second + 1)) second++;
  uint64_t ahead = second * fps > frame ? second * fps - frame : 0;
  uint64_t ticks = (ahead + uint64_t(s.step) - 1) / uint64_t(s.step);
  if (ticks <= 1) return;
  Trace("vido jump session=%u ch=%u to=%u", session->id, channel, uint32_t(second));
  s.tick += uint32_t(ticks - 1);
  s.start_ms -= int64_t((ticks - 1) * 1000 / (uint64_t(fps) * s.speed));
}

bool AudioDue(const Stream& s, uint32_t channel) {
  return !gMachine.no_audio && channel <= 1 && s.tick % (Fps() / 5) == 0;
}

// --live-after-ms: the recorder's own switch to live, pushed as a live
// block whose mode word is 0; the stream goes live with it. Once a run.
bool gLivePushed = false;
void PushLive(Stream& s, SimSession* session, SimAnswer* answer) {
  uint8_t rest[32 + kRequestBlock] = {};
  PutU32(rest + 0, session->id);
  PutU32(rest + 4, 2);    // op 2: data
  PutU32(rest + 8, 256);  // a live block
  PutU32(rest + 12, kModeLive);
  PutU32(rest + 16, s.request);
  memcpy(rest + 32, s.live, kRequestBlock);
  Answer_AddMessage(answer, "ICMD", rest, sizeof rest);
  gLivePushed = true;
  Trace("vido live-push session=%u", session->id);
  s.mode = kModeLive;
  Start(s, session);
}

void OnPoll(SimSession* session, SimAnswer* answer) {
  Stream& s = gStreams[session->slot];
  if (!s.asked || !s.running) return;
  if (gMedia.live_after_ms > 0 && !gLivePushed && s.mode == kModeBackup &&
      Machine_NowMs() - s.start_ms >= gMedia.live_after_ms) {
    PushLive(s, session, answer);
    if (!s.running) return;
  }
  const uint32_t fps = Fps();
  int64_t elapsed = Machine_NowMs() - s.start_ms;
  uint64_t due = elapsed < 0 ? 1 : uint64_t(elapsed) * fps * s.speed / 1000 + 1;  // ticks fallen due
  if (s.source == kSourceLive && due > s.tick + fps) {
    // A second behind: live video goes on from now with a key frame.
    Trace("vido skip session=%u ticks=%llu", session->id, (unsigned long long)(due - 1 - s.tick));
    s.tick = uint32_t(due - 1);
    s.cursor = 0;
    s.begun = false;
    s.force_key = true;
  }
  uint64_t newest_tick = due - 1;
  while (s.running && s.tick < due) {
    uint64_t frame = 0;
    if (!FrameOfTick(s, s.tick, &frame)) {
      Stop(s, session->id, "end");
      break;
    }
    uint64_t newest = 0;
    if (!FrameOfTick(s, uint32_t(newest_tick), &newest) || s.source != kSourceLive) newest = frame;
    uint32_t channel = s.list[s.cursor];
    if (s.source == kSourceRecorded && !Recordings_Has(channel, frame / fps, frame / fps + 1)) {
      // Nothing recorded at this time: no frame, and the next recorded one
      // starts with a key frame.
      if (!s.in_gap) Trace("vido gap session=%u ch=%u time=%u", session->id, channel, uint32_t(frame / fps));
      s.in_gap = true;
      s.force_key = true;
      if (gMedia.gap_jump && s.count == 1 && s.step > 0) JumpGap(s, session, channel, frame);
      if (++s.cursor == s.count) EndTick(s);
      continue;
    }
    // A recorded stream sends no more than the viewer said it has room for.
    if (s.source == kSourceRecorded && s.sent >= s.room) break;
    s.in_gap = false;
    // --sparse N: a recording of one frame in N (its end mark's frame
    // always); the sound goes on at every tick.
    bool shown =
        s.source != kSourceRecorded || gMedia.sparse <= 1 || frame % gMedia.sparse == 0 || frame == s.last;
    uint32_t seq_before = s.stream_seq, chan_before = s.channel_seq[channel],
             audio_before = s.audio_seq[channel];
    uint32_t video = 0;
    if (shown) {
      BeginTick(s, frame);
      video = BuildVideo(session, s, channel, frame, newest);
      if (video == 0) {
        Stop(s, session->id, "build");
        break;
      }
    }
    uint32_t audio = 0;
    uint8_t* audio_msg = gMessage + kModuleHeaderSize + video;
    if (AudioDue(s, channel))
      audio = BuildAudio(audio_msg - kModuleHeaderSize, session, s, channel, frame, newest);
    uint32_t need = (video ? kModuleHeaderSize + video : 0) + (audio ? kModuleHeaderSize + audio : 0);
    if (answer->cap - answer->used < need) {
      // Not in this answer: the next poll sends it.
      s.stream_seq = seq_before;
      s.channel_seq[channel] = chan_before;
      s.audio_seq[channel] = audio_before;
      break;
    }
    s.sent += need;
    if (video) {
      Answer_AddMessage(answer, "VIDO", gMessage + kModuleHeaderSize, video);
      const uint8_t* h = gMessage + kFrameLead;
      Trace("vido frame session=%u ch=%u seq=%u time=%u fn=%u key=%u src=%u bytes=%u", session->id, channel,
            s.channel_seq[channel], GetU32(h + 4), h[8], s.tick_key ? 1 : 0, s.source,
            video - kSubHeaderSize);
    }
    if (audio) {
      Answer_AddMessage(answer, "VIDO", audio_msg, audio);
      const uint8_t* h = audio_msg - kModuleHeaderSize + kFrameLead;
      Trace("vido audio session=%u ch=%u seq=%u time=%u fn=%u samples=%u", session->id, channel,
            s.audio_seq[channel], GetU32(h + 4), h[8], kAudioSamples);
    }
    if (++s.cursor == s.count) EndTick(s);
  }
}

void OnMessage(SimSession* session, const uint8_t* msg, uint32_t len, SimAnswer*) {
  if (len < kModuleHeaderSize + kSubHeaderSize) {
    Trace("vido short len=%u", len);
    return;
  }
  uint32_t sid = GetU32(msg + 32);
  uint32_t op = GetU32(msg + 36);
  if (sid != session->id || op != 1 || len < kModuleHeaderSize + kSubHeaderSize + kReportSize) {
    Trace("vido op=%u session=%u len=%u ignored", op, sid, len);
    return;
  }
  Stream& s = gStreams[session->slot];
  const uint8_t* report = msg + 64;
  // Every report renews the room the viewer has.
  s.room = GetU32(report + 128);
  s.sent = 0;
  if (s.asked) return;
  Trace("vido status session=%u free=%u", sid, s.room);
  s.asked = true;
  Start(s, session);
}

void OnReset(SimSession* session) {
  Stream& s = gStreams[session->slot];
  s = Stream{};
  s.stream_seq = 1;
}

}  // namespace

void SimVido_OnCommand(SimSession* session, uint32_t op, uint32_t type, uint32_t mode, uint32_t number,
                       const uint8_t* body, uint32_t n) {
  Stream& s = gStreams[session->slot];
  // Every message the viewer builds clears its reorder queue.
  s.stream_seq = 1;
  s.request = number;
  uint8_t* block = type == 256 ? s.live : type == 512 ? s.playback : type == 1024 ? s.backup : nullptr;
  bool restart = false;
  if (block != nullptr && op == 2 && n == kRequestBlock) {
    memcpy(block, body, kRequestBlock);
    restart = true;
  }
  if (type == 2048) mode = 4;  // local-file playback: nothing from the recorder
  if (mode != s.mode) restart = true;
  s.mode = mode;
  if (!restart) return;
  if (s.asked) {
    Start(s, session);
    if (!s.running) Trace("vido idle session=%u mode=%u", session->id, s.mode);
  }
}

bool SimVido_DumpFrames(const char* path, uint32_t seconds, uint32_t channel, uint32_t start) {
  FILE* f = fopen(path, "wb");
  if (f == nullptr) {
    fprintf(stderr, "dvr-sim: cannot write %s\n", path);
    return false;
  }
  // A backup stream of one channel from the start second, as the viewer's
  // stream step hands it to the backup writer: each frame's header and
  // payload, video then the sound of the same tick.
  if (start == 0) {
    uint32_t ms;
    RecorderNow(&start, &ms);
  }
  SimSession session{};
  session.in_use = 1;
  session.id = 1;
  Stream s{};
  s.stream_seq = 1;
  s.mode = kModeBackup;
  PutU32(s.backup + 8, channel);
  PutU32(s.backup + 12, 1);
  PutU32(s.backup + 16, start);
  PutU32(s.backup + 20, start + seconds);
  Start(s, &session);
  uint32_t ticks = seconds * Fps();
  bool ok = s.running;
  for (uint32_t tick = 0; ok && tick < ticks; tick++) {
    uint64_t frame = 0;
    if (!FrameOfTick(s, s.tick, &frame)) break;
    BeginTick(s, frame);
    uint32_t video = BuildVideo(&session, s, channel, frame, frame);
    if (video == 0) {
      ok = false;
      break;
    }
    uint32_t unit = video - kSubHeaderSize - kBlockSize;
    ok = fwrite(gMessage + kFrameLead, 1, unit, f) == unit;
    if (ok && AudioDue(s, channel)) {
      uint32_t audio = BuildAudio(gMessage, &session, s, channel, frame, frame);
      uint32_t sound = audio - kSubHeaderSize - kBlockSize;
      ok = fwrite(gMessage + kFrameLead, 1, sound, f) == sound;
    }
    EndTick(s);
  }
  if (fclose(f) != 0) ok = false;
  if (!ok) fprintf(stderr, "dvr-sim: writing %s failed\n", path);
  return ok;
}

void SimVido_Register() {
  for (Stream& s : gStreams) s.stream_seq = 1;
  Module_Register(SimModule{{'V', 'I', 'D', 'O'}, OnMessage, OnPoll, OnReset});
}
