// What the simulated recorder's cameras and microphones deliver. Owns
// gMedia (the media flags), the camera file's access units (gCamera, loaded
// once at start) and the WAV file's samples (gWav).
#include "sim_media.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "link/Bytes.h"
#include "sim_h264.h"

SimMedia gMedia = {
    1,           // gop
    nullptr,     // camera
    1000,        // tone_hz
    nullptr,     // audio
    {},          // size_changes
    0,           // size_change_count
    4,           // backup_speed
    false,       // gap_jump
    0,           // live_after_ms
    1,           // sparse
    0,       0,  // picture_w, picture_h
};

namespace {

constexpr long kMaxFileBytes = 64L << 20;

struct Camera {
  std::vector<uint8_t> units;        // every unit's NAL units, one after another
  std::vector<SimAccessUnit> index;  // data pointers into units, set once loading ends
  std::vector<uint32_t> offsets;
  uint32_t width_mbs = 0;
  uint32_t height_mbs = 0;
} gCamera;

std::vector<uint16_t> gWav;

bool ReadFile(const char* path, std::vector<uint8_t>* out) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  bool ok = fseek(f, 0, SEEK_END) == 0;
  long size = ok ? ftell(f) : -1;
  ok = ok && size >= 0 && size <= kMaxFileBytes && fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    out->resize(size_t(size));
    ok = size == 0 || fread(out->data(), 1, size_t(size), f) == size_t(size);
  }
  fclose(f);
  return ok;
}

void AppendNal(std::vector<uint8_t>* to, const uint8_t* nal, uint32_t n) {
  uint8_t len[4];
  PutBe32(len, n);
  to->insert(to->end(), len, len + 4);
  to->insert(to->end(), nal, nal + n);
}

// Cuts the Annex B stream into access units. A unit starts with the first
// NAL unit after a picture's slices that is a delimiter, SPS, PPS or SEI, or
// with a slice whose first_mb_in_slice is 0. Key units get the latest SPS
// and PPS in front when they do not carry their own.
bool LoadCamera(const char* path) {
  std::vector<uint8_t> file;
  if (!ReadFile(path, &file)) {
    fprintf(stderr, "dvr-sim: cannot read camera file %s (at most 64 MiB)\n", path);
    return false;
  }
  std::vector<uint8_t> sps, pps, unit;
  bool unit_has_slice = false, unit_key = false, unit_has_sps = false;
  auto finish = [&]() -> bool {
    if (!unit_has_slice) return true;
    if (unit_key && !unit_has_sps) {
      if (sps.empty() || pps.empty()) {
        fprintf(stderr, "dvr-sim: camera file has a key frame before its SPS and PPS\n");
        return false;
      }
      std::vector<uint8_t> lead;
      AppendNal(&lead, sps.data(), uint32_t(sps.size()));
      AppendNal(&lead, pps.data(), uint32_t(pps.size()));
      unit.insert(unit.begin(), lead.begin(), lead.end());
    }
    if (unit.size() > kMaxFramePayload) {
      fprintf(stderr, "dvr-sim: camera file has a frame of %zu bytes (at most %u)\n", unit.size(),
              kMaxFramePayload);
      return false;
    }
    gCamera.offsets.push_back(uint32_t(gCamera.units.size()));
    gCamera.units.insert(gCamera.units.end(), unit.begin(), unit.end());
    gCamera.index.push_back(SimAccessUnit{nullptr, uint32_t(unit.size()), unit_key});
    unit.clear();
    unit_has_slice = unit_key = unit_has_sps = false;
    return true;
  };
  uint32_t pos = 0, start = 0, length = 0;
  const uint32_t n = uint32_t(file.size());
  while (H264Sim_NextNal(file.data(), n, &pos, &start, &length)) {
    const uint8_t* nal = file.data() + start;
    uint32_t type = nal[0] & 0x1F;
    bool slice = type == 1 || type == 5;
    bool first_mb_zero = slice && length > 1 && (nal[1] & 0x80) != 0;
    if ((slice && first_mb_zero) || type == 6 || type == 7 || type == 8 || type == 9)
      if (!finish()) return false;
    if (type == 7) {
      uint32_t w = 0, h = 0;
      if (!H264Sim_SpsSize(nal, length, &w, &h) || w > 255 || h > 255) {
        fprintf(stderr, "dvr-sim: camera file has an SPS this recorder cannot read\n");
        return false;
      }
      if (gCamera.width_mbs == 0) {
        gCamera.width_mbs = w;
        gCamera.height_mbs = h;
      }
      sps.assign(nal, nal + length);
      unit_has_sps = true;
    } else if (type == 8) {
      pps.assign(nal, nal + length);
    }
    if (type == 9) continue;  // delimiters are not passed on
    AppendNal(&unit, nal, length);
    if (slice) unit_has_slice = true;
    if (type == 5) unit_key = true;
  }
  if (!finish()) return false;
  bool any_key = false;
  for (size_t i = 0; i < gCamera.index.size(); i++) {
    gCamera.index[i].data = gCamera.units.data() + gCamera.offsets[i];
    any_key = any_key || gCamera.index[i].key;
  }
  if (!any_key || gCamera.width_mbs == 0) {
    fprintf(stderr, "dvr-sim: camera file %s holds no key frame with an SPS\n", path);
    gCamera.index.clear();
    return false;
  }
  return true;
}

// A RIFF WAVE file of PCM samples at 8000 Hz, 8 or 16 bits; of several
// channels the first is taken.
bool LoadWav(const char* path) {
  std::vector<uint8_t> file;
  if (!ReadFile(path, &file)) {
    fprintf(stderr, "dvr-sim: cannot read audio file %s (at most 64 MiB)\n", path);
    return false;
  }
  const uint8_t* p = file.data();
  size_t n = file.size();
  if (n < 12 || memcmp(p, "RIFF", 4) != 0 || memcmp(p + 8, "WAVE", 4) != 0) {
    fprintf(stderr, "dvr-sim: %s is not a WAV file\n", path);
    return false;
  }
  uint32_t channels = 0, rate = 0, bits = 0, format = 0;
  size_t at = 12;
  while (at + 8 <= n) {
    uint32_t size = GetU32(p + at + 4);
    const uint8_t* body = p + at + 8;
    size_t room = n - at - 8;
    if (memcmp(p + at, "fmt ", 4) == 0 && size >= 16 && room >= 16) {
      format = GetU16(body);
      channels = GetU16(body + 2);
      rate = GetU32(body + 4);
      bits = GetU16(body + 14);
    } else if (memcmp(p + at, "data", 4) == 0) {
      if (format != 1 || channels == 0 || rate != kSampleRate || (bits != 8 && bits != 16)) {
        fprintf(stderr, "dvr-sim: %s must hold PCM samples of 8 or 16 bits at 8000 Hz\n", path);
        return false;
      }
      size_t take = size < room ? size : room;
      size_t frame = channels * bits / 8;
      for (size_t i = 0; i + frame <= take; i += frame) {
        if (bits == 8) gWav.push_back(uint16_t(body[i] << 8));
        else gWav.push_back(uint16_t(int16_t(GetU16(body + i)) + 32768));
      }
      break;
    }
    at += 8 + size + (size & 1);
    if (size > n) break;
  }
  if (gWav.empty()) {
    fprintf(stderr, "dvr-sim: %s holds no samples\n", path);
    return false;
  }
  return true;
}

}  // namespace

bool Media_Load() {
  if (gMedia.camera != nullptr && !LoadCamera(gMedia.camera)) return false;
  if (gMedia.audio != nullptr && !LoadWav(gMedia.audio)) return false;
  return true;
}

uint32_t Media_CameraUnits() { return uint32_t(gCamera.index.size()); }

const SimAccessUnit* Media_CameraUnit(uint32_t index) {
  if (index >= gCamera.index.size()) return nullptr;
  return &gCamera.index[index];
}

uint32_t Media_CameraWidthMbs() { return gCamera.width_mbs; }
uint32_t Media_CameraHeightMbs() { return gCamera.height_mbs; }

uint32_t Media_NextCameraKey(uint32_t index) {
  uint32_t n = Media_CameraUnits();
  for (uint32_t k = 0; k < n; k++) {
    uint32_t i = (index + k) % n;
    if (gCamera.index[i].key) return i;
  }
  return 0;
}

uint16_t Media_Sample(uint64_t n) {
  if (!gWav.empty()) return gWav[n % gWav.size()];
  double phase = 2.0 * M_PI * double(gMedia.tone_hz) * double(n % kSampleRate) / kSampleRate;
  return uint16_t(32768 + lround(16384.0 * sin(phase)));
}
