// The simulated recorder's title module "VDTT". Owns gTitles, the stored
// titles gStore (what the recorder shows and hands back), the upload being
// received gIncoming, and the upload counter.
#include "sim_vdtt.h"

#include <cstdio>
#include <cstring>

#include "sim_modules.h"
#include "sim_trace.h"
#include "sim_wire.h"

SimTitles gTitles = {false, nullptr, nullptr, 0};

namespace {

constexpr uint32_t kSettingsSize = 1160;
constexpr uint32_t kChunk = 1152;
constexpr uint32_t kSubHeader = 32;
constexpr uint32_t kBodyHead = 32;
constexpr uint32_t kChecksumAt = 1144;  // the upload checksum word in the settings
constexpr uint32_t kSetBytes[4] = {50176, 30976, 20736, 12544};
constexpr uint32_t kWidth[4] = {448, 352, 288, 224};
constexpr uint32_t kHeight[4] = {56, 44, 36, 28};
constexpr uint32_t kTotal = kSettingsSize + 50176 + 30976 + 20736 + 12544;
static_assert(kTotal == kSimTitlesBytes, "the titles' bytes");

// Settings block, then the four sets, in upload order.
struct Titles {
  uint8_t bytes[kTotal];
  bool valid;
};
Titles gStore = {};
Titles gIncoming = {};
uint32_t gIncomingBytes = 0;   // chunk bytes taken in the running upload
uint32_t gIncomingChunks = 0;  // chunks that came in the running upload
bool gStalled = false;         // the one upload --titles-stall leaves unasked has been
uint32_t gUploads = 0;

// Section id to its place in the titles: 16 (and any other id on a read)
// the settings, 1 .. 4 the sets.
bool SectionPlace(uint32_t section, uint32_t* start, uint32_t* size) {
  if (section == 16 || section == 17) {
    *start = 0;
    *size = kSettingsSize;
    return true;
  }
  if (section >= 1 && section <= 4) {
    uint32_t at = kSettingsSize;
    for (uint32_t i = 0; i + 1 < section; i++) at += kSetBytes[i];
    *start = at;
    *size = kSetBytes[section - 1];
    return true;
  }
  return false;
}

void AddMessage(SimAnswer* answer, uint32_t session, uint32_t mode, uint32_t op, uint32_t section,
                uint32_t offset, uint32_t length, const uint8_t* data) {
  static uint8_t rest[kSubHeader + kBodyHead + kChunk];
  memset(rest, 0, kSubHeader + kBodyHead);
  if (length > kChunk) length = kChunk;
  PutU32(rest + 0, session);
  PutU32(rest + 4, mode);
  PutU32(rest + 8, op);
  PutU32(rest + 12, section);
  PutU32(rest + 32, offset);
  PutU32(rest + 36, length);
  uint32_t n = kSubHeader + kBodyHead;
  if (data != nullptr) {
    memcpy(rest + n, data, length);
    PutU32(rest + 40, Wire_ChecksumBytes(data, length));
    n += length;
  }
  Answer_AddMessage(answer, "VDTT", rest, n);
}

// The checksum the viewer puts in the settings: the byte sums of the five
// blocks, its own word taken as 0.
uint32_t UploadChecksum(const uint8_t* t) {
  uint8_t settings[kSettingsSize];
  memcpy(settings, t, kSettingsSize);
  PutU32(settings + kChecksumAt, 0);
  uint32_t sum = Wire_ChecksumBytes(settings, kSettingsSize);
  uint32_t at = kSettingsSize;
  for (uint32_t s : kSetBytes) {
    sum += Wire_ChecksumBytes(t + at, s);
    at += s;
  }
  return sum;
}

// A chunk of the viewer's upload: checked, stored, and the next one asked for.
void OnUploadChunk(SimAnswer* answer, uint32_t sid, uint32_t section, const uint8_t* body, uint32_t n) {
  uint32_t offset = GetU32(body);
  uint32_t length = GetU32(body + 4);
  uint32_t sum = GetU32(body + 8);
  uint32_t start = 0, size = 0;
  if (!SectionPlace(section, &start, &size) || section == 17) {
    Trace("vdtt chunk section=%u unknown", section);
    return;
  }
  if (section == 16 && offset == 0) gIncomingBytes = gIncomingChunks = 0;  // a new upload starts
  // With --titles-stall the first upload is left unasked part-way, as by a
  // recorder that has gone quiet.
  if (gTitles.stall_after > 0 && !gStalled && ++gIncomingChunks > gTitles.stall_after) {
    gStalled = true;
    Trace("vdtt upload stalled chunks=%u", gTitles.stall_after);
    return;
  }
  bool fits = offset < size && length <= size - offset && length <= kChunk && length <= n - kBodyHead;
  if (!fits || Wire_ChecksumBytes(body + kBodyHead, length) != sum) {
    Trace("vdtt chunk section=%u offset=%u length=%u bad", section, offset, length);
  } else {
    memcpy(gIncoming.bytes + start + offset, body + kBodyHead, length);
    gIncomingBytes += length;
    Trace("vdtt chunk section=%u offset=%u length=%u", section, offset, length);
  }
  uint32_t next = offset + (fits ? length : 0);
  if (fits && length > 0 && next < size) {
    AddMessage(answer, sid, 1, 0, section, next, size - next < kChunk ? size - next : kChunk, nullptr);
    return;
  }
  uint32_t following = section == 16 ? 1 : (section >= 1 && section < 4 ? section + 1 : 0);
  if (following != 0) {
    AddMessage(answer, sid, 1, 0, following, 0, kChunk, nullptr);
    return;
  }
  uint32_t want = GetU32(gIncoming.bytes + kChecksumAt);
  uint32_t got = UploadChecksum(gIncoming.bytes);
  bool whole = gIncomingBytes == kTotal;
  if (want == got && whole) {
    memcpy(gStore.bytes, gIncoming.bytes, kTotal);
    gStore.valid = true;
    gUploads++;
    if (gTitles.out != nullptr) {
      FILE* f = fopen(gTitles.out, "wb");
      bool written = f != nullptr && fwrite(gStore.bytes, 1, kTotal, f) == kTotal;
      if (f != nullptr && fclose(f) != 0) written = false;
      if (!written) Trace("vdtt titles-out failed");
    }
  }
  Trace("vdtt upload bytes=%u checksum=%u %s", gIncomingBytes, got, want == got && whole ? "ok" : "bad");
  if (want == got && whole) {
    // The titles as received, each in the bytes of the viewer's code page.
    for (uint32_t channel = 0; channel < 16; channel++) {
      std::string hex = Trace_TextHex(gStore.bytes + 4 + channel * 64, 64);
      if (!hex.empty()) Trace("vdtt title channel=%u bytes=%s", channel, hex.c_str());
    }
  }
  AddMessage(answer, sid, 1, 0, 0, 0, 0, nullptr);  // section 0: the upload is complete
}

// A chunk the viewer asks for while it reads the titles.
void OnReadRequest(SimAnswer* answer, uint32_t sid, uint32_t section, const uint8_t* body) {
  uint32_t offset = GetU32(body);
  uint32_t length = GetU32(body + 4);
  uint32_t start = 0, size = 0;
  if (section == 0) {
    Trace("vdtt read done");
    return;
  }
  if (!SectionPlace(section, &start, &size)) size = 0;
  if (offset >= size) length = 0;
  else if (length > size - offset) length = size - offset;
  if (length > kChunk) length = kChunk;
  Trace("vdtt read section=%u offset=%u length=%u", section, offset, length);
  AddMessage(answer, sid, 0, 1, section, offset, length, gStore.bytes + start + (length ? offset : 0));
}

void OnMessage(SimSession* session, const uint8_t* msg, uint32_t len, SimAnswer* answer) {
  if (len < 32 + kSubHeader + kBodyHead) {
    Trace("vdtt short len=%u", len);
    return;
  }
  const uint8_t* m = msg + 32;
  uint32_t sid = GetU32(m);
  uint32_t mode = GetU32(m + 4);
  uint32_t op = GetU32(m + 8);
  uint32_t section = GetU32(m + 12);
  const uint8_t* body = m + kSubHeader;
  uint32_t n = len - 32 - kSubHeader;
  Trace("vdtt op=%u mode=%u section=%u bytes=%u", op, mode, section, n);
  if (sid != session->id) return;
  if (op == 1 && mode == 0) {
    OnUploadChunk(answer, sid, section, body, n);
  } else if (op == 0 && mode == 0) {
    // The viewer reads the titles: the first chunk of the settings.
    OnReadRequest(answer, sid, section, body);
  } else if (op == 0 && mode == 1) {
    OnReadRequest(answer, sid, section, body);
  }
}

// Ink of pixel (x, y) of a stored title of size s.
bool Ink(const uint8_t* title, uint32_t s, uint32_t x, uint32_t y) {
  uint32_t word = GetU32(title + (y * kWidth[s] + (x & ~31u)) / 8);
  return (word >> (x & 31)) & 1;
}

// Draws a title of size 3, every step-th pixel, at (left, top) of the plane:
// white ink with a black rim.
struct Planes {
  uint8_t *y, *u, *v;
  uint32_t y_stride, c_stride;
};

void Draw(const Planes& p, uint32_t width, uint32_t height, uint32_t channel, uint32_t left, uint32_t top,
          uint32_t step) {
  if (!gTitles.show || !gStore.valid || channel >= 16) return;
  const uint32_t s = 3;
  uint32_t at = kSettingsSize + kSetBytes[0] + kSetBytes[1] + kSetBytes[2];
  const uint8_t* title = gStore.bytes + at + channel * (kWidth[s] * kHeight[s] / 8);
  uint32_t w = kWidth[s] / step, h = kHeight[s] / step;
  for (uint32_t ty = 0; ty < h; ty++) {
    for (uint32_t tx = 0; tx < w; tx++) {
      uint32_t px = left + tx, py = top + ty;
      if (px >= width || py >= height) continue;
      bool ink = Ink(title, s, tx * step, ty * step);
      bool rim = false;
      if (!ink)
        for (int dy = -1; dy <= 1 && !rim; dy++)
          for (int dx = -1; dx <= 1 && !rim; dx++) {
            int nx = int(tx) + dx, ny = int(ty) + dy;
            if (nx >= 0 && ny >= 0 && uint32_t(nx) < w && uint32_t(ny) < h)
              rim = Ink(title, s, uint32_t(nx) * step, uint32_t(ny) * step);
          }
      if (!ink && !rim) continue;
      p.y[py * p.y_stride + px] = ink ? 235 : 16;
      p.u[(py / 2) * p.c_stride + px / 2] = 128;
      p.v[(py / 2) * p.c_stride + px / 2] = 128;
    }
  }
}

}  // namespace

uint32_t SimVdtt_Uploads() { return gUploads; }

void SimVdtt_DrawTitle(uint8_t* y, uint32_t y_stride, uint8_t* u, uint8_t* v, uint32_t c_stride,
                       uint32_t width, uint32_t height, uint32_t channel) {
  if (height < 28 + 40) return;
  Draw(Planes{y, u, v, y_stride, c_stride}, width, height, channel, 8, height - 28 - 8, 1);
}

void SimVdtt_DrawMosaicTitles(uint8_t* y, uint32_t y_stride, uint8_t* u, uint8_t* v, uint32_t c_stride,
                              const PatternMosaic& m) {
  if (m.side < 2 || m.side > 4) return;
  uint32_t tw = m.width / m.side, th = m.height / m.side;
  for (uint32_t k = 0; k < m.side * m.side; k++) {
    uint32_t channel = m.first + k;
    if (channel >= m.channels) continue;
    uint32_t left = (k % m.side) * tw, top = (k / m.side) * th;
    uint32_t step = m.side;  // a tile shows the title at 1 / side of its size
    uint32_t h = 28 / step;
    if (th < h + 4) continue;
    Draw(Planes{y, u, v, y_stride, c_stride}, left + tw, top + th, channel, left + 2, top + th - h - 2, step);
  }
}

void SimVdtt_Register() {
  memset(&gStore, 0, sizeof gStore);
  // Start titles: none, the text at 60 % of the title height, English;
  // or those of --titles-in.
  PutU32(gStore.bytes + 1132, 60);
  if (gTitles.in != nullptr) {
    static Titles read;
    FILE* f = fopen(gTitles.in, "rb");
    bool whole = f != nullptr && fread(read.bytes, 1, kTotal, f) == kTotal && fgetc(f) == EOF;
    if (f != nullptr) fclose(f);
    if (whole) {
      memcpy(gStore.bytes, read.bytes, kTotal);
      gStore.valid = true;
    }
  }
  memset(&gIncoming, 0, sizeof gIncoming);
  gIncomingBytes = 0;
  Module_Register(SimModule{{'V', 'D', 'T', 'T'}, OnMessage, nullptr, nullptr});
}
