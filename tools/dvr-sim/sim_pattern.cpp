// The simulated recorder's test picture. Owns only the constant 5 x 7 font
// of the caption's characters.
#include "sim_pattern.h"

#include <cstdio>

namespace {

// Rows top to bottom, five bits each, the leftmost pixel in bit 4.
struct Glyph {
  char c;
  uint8_t rows[7];
};

const Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}},
};

constexpr uint32_t kCell = 12;  // a character cell is 12 x 20 pixels
constexpr uint32_t kLeft = 1;   // the glyph, doubled to 10 x 14, starts at (1, 3)
constexpr uint32_t kTop = 3;

const uint8_t* RowsOf(char c) {
  for (const Glyph& g : kFont)
    if (g.c == c) return g.rows;
  return nullptr;  // a space
}

}  // namespace

uint32_t Pattern_FrameCount(uint32_t time, uint32_t frame_number, uint32_t fps) {
  return time * fps + frame_number;
}

void Pattern_Caption(uint32_t channel, uint32_t time, uint32_t frame_number, char out[17]) {
  uint32_t day = time % 86400;
  snprintf(out, 17, "CH%02u %02u:%02u:%02u %02u", (channel + 1) % 100, day / 3600, day / 60 % 60, day % 60,
           frame_number % 100);
}

uint32_t Pattern_CaptionLit(const char* caption, uint32_t x, uint32_t y) {
  if (x >= kPatternBandWidth || y >= kPatternBandHeight) return 0;
  uint32_t cell = x / kCell;
  uint32_t gx = x % kCell, gy = y;
  if (gx < kLeft || gx >= kLeft + 10 || gy < kTop || gy >= kTop + 14) return 0;
  const uint8_t* rows = RowsOf(caption[cell]);
  if (rows == nullptr) return 0;
  return (rows[(gy - kTop) / 2] >> (4 - (gx - kLeft) / 2)) & 1;
}

uint8_t Pattern_Y(uint32_t x, uint32_t y, uint32_t channel, uint32_t count, const char* caption) {
  if (x < kPatternBandWidth && y < kPatternBandHeight) return Pattern_CaptionLit(caption, x, y) ? 235 : 16;
  return uint8_t(16 + (x + y + 4 * count + 16 * channel) % 220);
}

uint8_t Pattern_U(uint32_t cx, uint32_t cy, uint32_t channel, uint32_t count) {
  if (cx < kPatternBandWidth / 2 && cy < kPatternBandHeight / 2) return 128;
  return uint8_t(16 + (2 * cx + 13 * channel) % 224);
}

uint8_t Pattern_V(uint32_t cx, uint32_t cy, uint32_t channel, uint32_t count) {
  if (cx < kPatternBandWidth / 2 && cy < kPatternBandHeight / 2) return 128;
  return uint8_t(16 + (2 * cy + 2 * count) % 224);
}

void Pattern_Fill(uint8_t* y, uint32_t y_stride, uint8_t* u, uint8_t* v, uint32_t c_stride, uint32_t width,
                  uint32_t height, uint32_t channel, uint32_t time, uint32_t frame_number, uint32_t fps) {
  char caption[17];
  Pattern_Caption(channel, time, frame_number, caption);
  uint32_t count = Pattern_FrameCount(time, frame_number, fps);
  for (uint32_t r = 0; r < height; r++)
    for (uint32_t c = 0; c < width; c++) y[r * y_stride + c] = Pattern_Y(c, r, channel, count, caption);
  for (uint32_t r = 0; r < height / 2; r++)
    for (uint32_t c = 0; c < width / 2; c++) {
      u[r * c_stride + c] = Pattern_U(c, r, channel, count);
      v[r * c_stride + c] = Pattern_V(c, r, channel, count);
    }
}

namespace {

constexpr uint32_t kTileCaptionCells = 4;  // "CHnn"

// The tile that holds pixel (x, y), its channel and the pixel's place in it.
struct TilePlace {
  uint32_t channel;  // kNoChannel past the recorder's channels
  uint32_t x, y;
};
constexpr uint32_t kNoChannel = ~0u;

uint32_t TileEdge(uint32_t t, uint32_t size, uint32_t side) { return (t * size / side) & ~1u; }

TilePlace TileOf(const PatternMosaic& m, uint32_t x, uint32_t y) {
  uint32_t side = m.side < 1 ? 1 : m.side;
  uint32_t tx = 0, ty = 0;
  while (tx + 1 < side && TileEdge(tx + 1, m.width, side) <= x) tx++;
  while (ty + 1 < side && TileEdge(ty + 1, m.height, side) <= y) ty++;
  uint32_t channel = m.first + ty * side + tx;
  return {channel < m.channels ? channel : kNoChannel, x - TileEdge(tx, m.width, side),
          y - TileEdge(ty, m.height, side)};
}

}  // namespace

uint8_t Pattern_MosaicY(const PatternMosaic& m, uint32_t x, uint32_t y, uint32_t count) {
  TilePlace t = TileOf(m, x, y);
  if (t.channel == kNoChannel) return 16;
  if (t.x < kTileCaptionCells * kCell && t.y < kPatternBandHeight) {
    char caption[17];
    snprintf(caption, sizeof caption, "CH%02u            ", (t.channel + 1) % 100);
    return Pattern_CaptionLit(caption, t.x, t.y) ? 235 : 16;
  }
  return uint8_t(16 + (t.x + t.y + 4 * count + 16 * t.channel) % 220);
}

uint8_t Pattern_MosaicU(const PatternMosaic& m, uint32_t cx, uint32_t cy, uint32_t count) {
  TilePlace t = TileOf(m, 2 * cx, 2 * cy);
  if (t.channel == kNoChannel) return 128;
  if (t.x < kTileCaptionCells * kCell && t.y < kPatternBandHeight) return 128;
  return uint8_t(16 + (t.x + 13 * t.channel) % 224);  // 2 x the tile's chroma column
}

uint8_t Pattern_MosaicV(const PatternMosaic& m, uint32_t cx, uint32_t cy, uint32_t count) {
  TilePlace t = TileOf(m, 2 * cx, 2 * cy);
  if (t.channel == kNoChannel) return 128;
  if (t.x < kTileCaptionCells * kCell && t.y < kPatternBandHeight) return 128;
  return uint8_t(16 + (t.y + 2 * count) % 224);  // 2 x the tile's chroma row
}

void Pattern_FillMosaic(uint8_t* y, uint32_t y_stride, uint8_t* u, uint8_t* v, uint32_t c_stride,
                        const PatternMosaic& m, uint32_t time, uint32_t frame_number, uint32_t fps) {
  uint32_t count = Pattern_FrameCount(time, frame_number, fps);
  for (uint32_t r = 0; r < m.height; r++)
    for (uint32_t c = 0; c < m.width; c++) y[r * y_stride + c] = Pattern_MosaicY(m, c, r, count);
  for (uint32_t r = 0; r < m.height / 2; r++)
    for (uint32_t c = 0; c < m.width / 2; c++) {
      u[r * c_stride + c] = Pattern_MosaicU(m, c, r, count);
      v[r * c_stride + c] = Pattern_MosaicV(m, c, r, count);
    }
}
