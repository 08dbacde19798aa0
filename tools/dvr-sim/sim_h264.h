// The simulated recorder's own H.264: slices that carry no parameter sets
// and decode under the viewer's synthesised SPS and PPS (Baseline, frame
// numbers and picture order counts of 4 bits, POC type 0, CAVLC, QP 26,
// four reference frames by default), and the few parsing helpers that an
// Annex B camera file needs. Pure functions; this file holds no state.
#pragma once

#include <cstdint>

// One 4:2:0 picture in three planes.
struct SimPicture {
  const uint8_t* y;
  const uint8_t* u;
  const uint8_t* v;
  uint32_t y_stride;
  uint32_t c_stride;
};

// Writes, behind a 4-byte big-endian length, an IDR slice (NAL header 0x65)
// of the whole picture of width_mbs x height_mbs macroblocks coded as I_PCM
// macroblocks: the decoded picture equals the planes exactly. idr_pic_id
// must differ between two successive IDR pictures. Returns the bytes
// written, 0 when cap is too small.
uint32_t H264Sim_WriteIdrPcm(uint8_t* out, uint32_t cap, uint32_t width_mbs, uint32_t height_mbs,
                             uint32_t idr_pic_id, const SimPicture& picture);
// Writes, behind a 4-byte big-endian length, a reference P slice (NAL
// header 0x41) that skips every macroblock, so the picture repeats its
// reference. frame_num counts the frames since the IDR (modulo 16); the
// picture order count is twice that. Returns the bytes written, 0 when cap
// is too small.
uint32_t H264Sim_WriteSkipP(uint8_t* out, uint32_t cap, uint32_t width_mbs, uint32_t height_mbs,
                            uint32_t frames_since_idr);

// Makes the last NAL unit of an "avc1" payload (NAL units each behind a
// 4-byte big-endian length) cover pad more bytes: the zero padding that
// follows it to round a frame unit to 64 bytes. A payload whose lengths do
// not add up is left alone.
void H264Sim_PadLastNal(uint8_t* payload, uint32_t length, uint32_t pad);

// Escapes an RBSP into a NAL payload: inserts 0x03 after every two zero
// bytes that a byte of 0..3 follows. Returns the bytes written, 0 when cap
// is too small.
uint32_t H264Sim_Escape(const uint8_t* rbsp, uint32_t n, uint8_t* out, uint32_t cap);
// Removes the escape bytes of a NAL payload; returns the RBSP length
// (at most n).
uint32_t H264Sim_Unescape(const uint8_t* nal, uint32_t n, uint8_t* out);

// The next NAL unit of an Annex B stream at or after *pos: its start and
// length without the start code and without trailing zero bytes. False at
// the end of the data.
bool H264Sim_NextNal(const uint8_t* data, uint32_t n, uint32_t* pos, uint32_t* nal_start,
                     uint32_t* nal_length);
// The picture size of an SPS NAL unit (header byte included), in
// macroblocks. False when the SPS cannot be read (or uses scaling lists,
// which this reader does not follow).
bool H264Sim_SpsSize(const uint8_t* nal, uint32_t n, uint32_t* width_mbs, uint32_t* height_mbs);
