// The simulated recorder's title module "VDTT": it keeps the channel titles
// (the 1,160-byte settings block and the four bitmap sets), asks the viewer
// for every chunk of an upload, checks each chunk and the whole upload's
// checksum before it takes the titles, hands the settings back on a read,
// and (with --show-titles) draws the uploaded titles on its pictures.
#pragma once

#include <cstdint>

#include "sim_pattern.h"

struct SimTitles {
  bool show;             // draw the titles on the pictures (--show-titles)
  const char* out;       // file that gets the titles after each good upload (--titles-out)
  const char* in;        // file of the titles kept at start (--titles-in), as --titles-out writes it
  uint32_t stall_after;  // the first upload gets no more requests after this many chunks (--titles-stall)
};
extern SimTitles gTitles;

void SimVdtt_Register();
// Bytes of the titles as --titles-in and --titles-out hold them.
constexpr uint32_t kSimTitlesBytes = 115592;
// Completed uploads since start.
uint32_t SimVdtt_Uploads();
// Draws the title of channel (0 .. 15) into a width x height 4:2:0
// picture, or of every tile of a split picture: white ink with a black
// rim, without colour. Nothing before a title arrived.
void SimVdtt_DrawTitle(uint8_t* y, uint32_t y_stride, uint8_t* u, uint8_t* v, uint32_t c_stride,
                       uint32_t width, uint32_t height, uint32_t channel);
void SimVdtt_DrawMosaicTitles(uint8_t* y, uint32_t y_stride, uint8_t* u, uint8_t* v, uint32_t c_stride,
                              const PatternMosaic& m);
