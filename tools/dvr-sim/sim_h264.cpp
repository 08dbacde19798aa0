// The simulated recorder's own H.264 slices (I_PCM IDR pictures and
// all-skip P pictures) and the Annex B and SPS readers for camera files.
// No state: everything is written into the caller's buffers.
#include "sim_h264.h"

#include <cstring>
#include <initializer_list>

#include "link/Bytes.h"

namespace {

// MSB-first bit writer that escapes the bytes as it completes them, so the
// output is a NAL payload ready to go behind its header byte.
struct BitWriter {
  uint8_t* out;
  uint32_t cap;
  uint32_t used;
  uint32_t zeros;  // zero bytes just written (for the escape rule)
  uint32_t acc;    // bits not yet forming a byte
  uint32_t nbits;
  bool overflow;

  void Byte(uint8_t b) {
    if (zeros >= 2 && b <= 3) {
      Raw(3);
      zeros = 0;
    }
    Raw(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  void Raw(uint8_t b) {
    if (used >= cap) {
      overflow = true;
      return;
    }
    out[used++] = b;
  }
  void Bits(uint32_t value, uint32_t count) {
    for (uint32_t i = count; i-- > 0;) {
      acc = acc << 1 | ((value >> i) & 1);
      if (++nbits == 8) {
        Byte(uint8_t(acc));
        acc = 0;
        nbits = 0;
      }
    }
  }
  void Ue(uint32_t v) {
    uint64_t x = uint64_t(v) + 1;
    uint32_t m = 0;
    while ((x >> (m + 1)) != 0) m++;
    Bits(0, m);
    Bits(uint32_t(x), m + 1);
  }
  void Se(int32_t v) { Ue(v > 0 ? uint32_t(2 * v - 1) : uint32_t(-2 * int64_t(v))); }
  bool Aligned() const { return nbits == 0; }
  void AlignZero() {
    if (nbits) Bits(0, 8 - nbits);
  }
  // rbsp_slice_trailing_bits: the stop bit, then zeros to the byte end.
  void Trailing() {
    Bits(1, 1);
    AlignZero();
  }
};

constexpr uint32_t kMbTypeIPcm = 25;  // I_PCM in an I slice
constexpr uint32_t kSliceTypeI = 7;   // I, every slice of the picture
constexpr uint32_t kSliceTypeP = 5;   // P, every slice of the picture
constexpr uint32_t kMaxFrameNum = 16;
constexpr uint32_t kMaxPocLsb = 16;

// MSB-first bit reader over an RBSP.
struct BitReader {
  const uint8_t* p;
  uint32_t n;
  uint32_t bit;
  bool bad;

  uint32_t Bit() {
    if (bit >= n * 8) {
      bad = true;
      return 0;
    }
    uint32_t b = (p[bit / 8] >> (7 - bit % 8)) & 1;
    bit++;
    return b;
  }
  uint32_t Bits(uint32_t count) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < count; i++) v = v << 1 | Bit();
    return v;
  }
  uint32_t Ue() {
    uint32_t m = 0;
    while (Bit() == 0) {
      if (bad || ++m > 31) {
        bad = true;
        return 0;
      }
    }
    return (uint32_t(1) << m) - 1 + Bits(m);
  }
  void Se() { Ue(); }
};

}  // namespace

uint32_t H264Sim_WriteIdrPcm(uint8_t* out, uint32_t cap, uint32_t width_mbs, uint32_t height_mbs,
                             uint32_t idr_pic_id, const SimPicture& pic) {
  if (out == nullptr || cap < 6 || width_mbs == 0 || height_mbs == 0) return 0;
  out[4] = 0x65;  // NAL header: nal_ref_idc 3, IDR slice
  BitWriter w = {out + 5, cap - 5, 0, 0, 0, 0, false};
  w.Ue(0);                    // first_mb_in_slice
  w.Ue(kSliceTypeI);          // slice_type
  w.Ue(0);                    // pic_parameter_set_id
  w.Bits(0, 4);               // frame_num
  w.Ue(idr_pic_id & 0xFFFF);  // idr_pic_id
  w.Bits(0, 4);               // pic_order_cnt_lsb
  w.Bits(0, 1);               // no_output_of_prior_pics_flag
  w.Bits(0, 1);               // long_term_reference_flag
  w.Se(0);                    // slice_qp_delta
  for (uint32_t my = 0; my < height_mbs && !w.overflow; my++) {
    for (uint32_t mx = 0; mx < width_mbs && !w.overflow; mx++) {
      w.Ue(kMbTypeIPcm);  // mb_type
      w.AlignZero();      // pcm_alignment_zero_bits
      for (uint32_t r = 0; r < 16; r++)
        for (uint32_t c = 0; c < 16; c++) w.Byte(pic.y[(my * 16 + r) * pic.y_stride + mx * 16 + c]);
      for (const uint8_t* plane : {pic.u, pic.v})
        for (uint32_t r = 0; r < 8; r++)
          for (uint32_t c = 0; c < 8; c++) w.Byte(plane[(my * 8 + r) * pic.c_stride + mx * 8 + c]);
    }
  }
  w.Trailing();
  if (w.overflow) return 0;
  PutBe32(out, 1 + w.used);
  return 4 + 1 + w.used;
}

uint32_t H264Sim_WriteSkipP(uint8_t* out, uint32_t cap, uint32_t width_mbs, uint32_t height_mbs,
                            uint32_t frames_since_idr) {
  if (out == nullptr || cap < 6 || width_mbs == 0 || height_mbs == 0) return 0;
  out[4] = 0x41;  // NAL header: nal_ref_idc 2, non-IDR slice
  BitWriter w = {out + 5, cap - 5, 0, 0, 0, 0, false};
  w.Ue(0);                                         // first_mb_in_slice
  w.Ue(kSliceTypeP);                               // slice_type
  w.Ue(0);                                         // pic_parameter_set_id
  w.Bits(frames_since_idr % kMaxFrameNum, 4);      // frame_num
  w.Bits((2 * frames_since_idr) % kMaxPocLsb, 4);  // pic_order_cnt_lsb
  w.Bits(1, 1);                                    // num_ref_idx_active_override_flag
  w.Ue(0);                                         // num_ref_idx_l0_active_minus1: one
  w.Bits(0, 1);                                    // ref_pic_list_modification_flag_l0
  w.Bits(0, 1);                                    // adaptive_ref_pic_marking_mode_flag
  w.Se(0);                                         // slice_qp_delta
  w.Ue(width_mbs * height_mbs);                    // mb_skip_run: the whole picture
  w.Trailing();
  if (w.overflow) return 0;
  PutBe32(out, 1 + w.used);
  return 4 + 1 + w.used;
}

void H264Sim_PadLastNal(uint8_t* payload, uint32_t length, uint32_t pad) {
  uint32_t at = 0, last = 0;
  while (at < length) {
    if (length - at < 4) return;
    uint32_t n = GetBe32(payload + at);
    if (n > length - at - 4) return;
    last = at;
    at += 4 + n;
  }
  if (length < 4) return;
  PutBe32(payload + last, GetBe32(payload + last) + pad);
}

uint32_t H264Sim_Escape(const uint8_t* rbsp, uint32_t n, uint8_t* out, uint32_t cap) {
  BitWriter w = {out, cap, 0, 0, 0, 0, false};
  for (uint32_t i = 0; i < n; i++) w.Byte(rbsp[i]);
  return w.overflow ? 0 : w.used;
}

uint32_t H264Sim_Unescape(const uint8_t* nal, uint32_t n, uint8_t* out) {
  uint32_t used = 0, zeros = 0;
  for (uint32_t i = 0; i < n; i++) {
    if (zeros >= 2 && nal[i] == 3) {
      zeros = 0;
      continue;
    }
    out[used++] = nal[i];
    zeros = nal[i] == 0 ? zeros + 1 : 0;
  }
  return used;
}

bool H264Sim_NextNal(const uint8_t* data, uint32_t n, uint32_t* pos, uint32_t* nal_start,
                     uint32_t* nal_length) {
  uint32_t i = *pos;
  // Find the next start code 00 00 01.
  while (i + 3 <= n && !(data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)) i++;
  if (i + 3 > n) {
    *pos = n;
    return false;
  }
  uint32_t start = i + 3;
  uint32_t j = start;
  while (j + 3 <= n && !(data[j] == 0 && data[j + 1] == 0 && data[j + 2] <= 1)) j++;
  uint32_t end = j + 3 <= n ? j : n;
  *pos = end;
  while (end > start && data[end - 1] == 0) end--;  // trailing zero bytes
  if (end == start) return H264Sim_NextNal(data, n, pos, nal_start, nal_length);
  *nal_start = start;
  *nal_length = end - start;
  return true;
}

bool H264Sim_SpsSize(const uint8_t* nal, uint32_t n, uint32_t* width_mbs, uint32_t* height_mbs) {
  if (nal == nullptr || n < 5 || (nal[0] & 0x1F) != 7) return false;
  uint8_t rbsp[256];
  uint32_t take = n - 1 < sizeof rbsp ? n - 1 : uint32_t(sizeof rbsp);
  uint32_t len = H264Sim_Unescape(nal + 1, take, rbsp);
  BitReader r = {rbsp, len, 0, false};
  uint32_t profile = r.Bits(8);  // profile_idc
  r.Bits(8);                     // constraint flags
  r.Bits(8);                     // level_idc
  r.Ue();                        // seq_parameter_set_id
  static const uint32_t kHigh[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
  for (uint32_t p : kHigh) {
    if (p != profile) continue;
    if (r.Ue() == 3) r.Bit();   // chroma_format_idc, separate_colour_plane_flag
    r.Ue();                     // bit_depth_luma_minus8
    r.Ue();                     // bit_depth_chroma_minus8
    r.Bit();                    // qpprime_y_zero_transform_bypass_flag
    if (r.Bit()) return false;  // seq_scaling_matrix_present_flag
  }
  r.Ue();                      // log2_max_frame_num_minus4
  uint32_t poc_type = r.Ue();  // pic_order_cnt_type
  if (poc_type == 0) {
    r.Ue();  // log2_max_pic_order_cnt_lsb_minus4
  } else if (poc_type == 1) {
    r.Bit();                  // delta_pic_order_always_zero_flag
    r.Se();                   // offset_for_non_ref_pic
    r.Se();                   // offset_for_top_to_bottom_field
    uint32_t cycle = r.Ue();  // num_ref_frames_in_pic_order_cnt_cycle
    if (cycle > 255) return false;
    for (uint32_t i = 0; i < cycle; i++) r.Se();
  }
  r.Ue();                   // max_num_ref_frames
  r.Bit();                  // gaps_in_frame_num_value_allowed_flag
  uint32_t w = r.Ue() + 1;  // pic_width_in_mbs_minus1
  uint32_t h = r.Ue() + 1;  // pic_height_in_map_units_minus1
  uint32_t frame_mbs_only = r.Bit();
  if (r.bad || w == 0 || h == 0) return false;
  *width_mbs = w;
  *height_mbs = frame_mbs_only ? h : 2 * h;
  return true;
}
