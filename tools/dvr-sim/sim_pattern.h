// The simulated recorder's test picture: a moving pattern per channel with
// a caption band that shows the channel number and the frame's time. A
// pure function of (x, y, channel, frame), so a test can rebuild any
// picture the recorder sent (tools/dvr-sim/README.md gives the formula).
// This file holds no state and depends on nothing but the C library, so
// tests may compile sim_pattern.cpp into their own programs.
#pragma once

#include <cstdint>

constexpr uint32_t kPatternBandWidth = 192;  // caption band: 16 cells of 12 pixels
constexpr uint32_t kPatternBandHeight = 20;
constexpr uint32_t kPatternCaptionLength = 16;

// The frame count the pattern moves by: recorder time x fps + frame number
// (wrapping at 32 bits).
uint32_t Pattern_FrameCount(uint32_t time, uint32_t frame_number, uint32_t fps);
// The caption "CHnn hh:mm:ss ff": channel + 1, the time of day of the
// recorder time and the frame number, each two digits; out gets 17 bytes.
void Pattern_Caption(uint32_t channel, uint32_t time, uint32_t frame_number, char out[17]);
// 1 when the caption pixel (x, y) of the band is lit, else 0.
uint32_t Pattern_CaptionLit(const char* caption, uint32_t x, uint32_t y);

// One luma sample at (x, y) and one chroma pair at chroma position (cx, cy).
uint8_t Pattern_Y(uint32_t x, uint32_t y, uint32_t channel, uint32_t count, const char* caption);
uint8_t Pattern_U(uint32_t cx, uint32_t cy, uint32_t channel, uint32_t count);
uint8_t Pattern_V(uint32_t cx, uint32_t cy, uint32_t channel, uint32_t count);

// Fills a width x height 4:2:0 picture (even sizes) for channel 0 .. 16 and
// the frame's recorder time and frame number at fps frames per second.
void Pattern_Fill(uint8_t* y, uint32_t y_stride, uint8_t* u, uint8_t* v, uint32_t c_stride, uint32_t width,
                  uint32_t height, uint32_t channel, uint32_t time, uint32_t frame_number, uint32_t fps);

// The split-layout picture the recorder composes on channel 16: a side x
// side grid of tiles (side 2, 3 or 4) over a width x height picture, tile k
// (row by row) showing channel first + k, black when the recorder has no
// such channel. A tile holds its channel's moving pattern from its own top
// left corner and a "CHnn" caption; tile edges are even, so each chroma
// sample lies in one tile.
struct PatternMosaic {
  uint32_t width, height, side, first, channels;
};
uint8_t Pattern_MosaicY(const PatternMosaic& m, uint32_t x, uint32_t y, uint32_t count);
uint8_t Pattern_MosaicU(const PatternMosaic& m, uint32_t cx, uint32_t cy, uint32_t count);
uint8_t Pattern_MosaicV(const PatternMosaic& m, uint32_t cx, uint32_t cy, uint32_t count);
void Pattern_FillMosaic(uint8_t* y, uint32_t y_stride, uint8_t* u, uint8_t* v, uint32_t c_stride,
                        const PatternMosaic& m, uint32_t time, uint32_t frame_number, uint32_t fps);
