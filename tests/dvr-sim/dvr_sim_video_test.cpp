// The simulated recorder's own H.264 against a real decoder: its I_PCM IDR
// slices and all-skip P slices, put behind the viewer's synthesised
// parameter sets, decode through libavcodec to exactly the test pattern,
// and a skipped picture repeats the last one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/H264Params.h"
#include "sim_h264.h"
#include "sim_pattern.h"
#include "tests/support/AvcDecoder.h"

namespace {

using namespace avc_test;

Planes PatternPicture(uint32_t w, uint32_t h, uint32_t channel, uint32_t time, uint32_t frame, uint32_t fps) {
  Planes p(w, h);
  Pattern_Fill(p.y.data(), w, p.u.data(), p.v.data(), w / 2, w, h, channel, time, frame, fps);
  return p;
}

// The viewer's parameter sets in form 0 before a key frame's payload.
Bytes WithParamSets(uint32_t width_mbs, uint32_t height_mbs, const Bytes& payload) {
  uint8_t sets[H264_PARAM_SETS_MAX];
  uint32_t n = 0;
  EXPECT_EQ(H264_MakeParamSets(width_mbs, height_mbs, sets, &n, H264_FORM_AVC1), 0);
  Bytes unit(sets, sets + n);
  unit.insert(unit.end(), payload.begin(), payload.end());
  return unit;
}

// A payload as the recorder sends it: padded with zeros that the last NAL
// unit's length covers.
Bytes Padded(Bytes payload, uint32_t pad) {
  uint32_t n = uint32_t(payload.size());
  payload.resize(n + pad, 0);
  H264Sim_PadLastNal(payload.data(), n, pad);
  return payload;
}

Bytes Idr(uint32_t wmb, uint32_t hmb, uint32_t idr_id, const Planes& p) {
  Bytes out(wmb * hmb * 600 + 64);  // room for escapes
  uint32_t n = H264Sim_WriteIdrPcm(out.data(), uint32_t(out.size()), wmb, hmb, idr_id,
                                   SimPicture{p.y.data(), p.u.data(), p.v.data(), p.width, p.width / 2});
  EXPECT_GT(n, 0u);
  out.resize(n);
  return out;
}

Bytes SkipP(uint32_t wmb, uint32_t hmb, uint32_t since) {
  Bytes out(64);
  uint32_t n = H264Sim_WriteSkipP(out.data(), uint32_t(out.size()), wmb, hmb, since);
  EXPECT_GT(n, 0u);
  out.resize(n);
  return out;
}

struct SizeCase {
  const char* name;
  uint32_t width_mbs, height_mbs, fps;
};
const SizeCase kSizes[] = {
    {"320 x 240 at 30 fps", 20, 15, 30},
    {"320 x 256 at 25 fps", 20, 16, 25},
};

TEST(DvrSimVideo, PcmKeyFramesDecodeToThePatternAndSkipFramesRepeatIt) {
  for (const SizeCase& k : kSizes) {
    SCOPED_TRACE(k.name);
    const uint32_t w = k.width_mbs * 16, h = k.height_mbs * 16;
    Decoder dec(k.width_mbs, k.height_mbs);
    ASSERT_TRUE(dec.ok());
    const uint32_t time = 845123456;  // some second of 2026
    Planes first = PatternPicture(w, h, 2, time, 3, k.fps);
    Planes got(0, 0);
    // The key frame with the viewer's parameter sets, padded as on the wire.
    ASSERT_TRUE(dec.Decode(
        WithParamSets(k.width_mbs, k.height_mbs, Padded(Idr(k.width_mbs, k.height_mbs, 0, first), 37)),
        &got));
    EXPECT_EQ(FirstDifference(first, got), "");
    // Skipped pictures repeat it, through the wrap of the 4-bit frame number.
    for (uint32_t since = 1; since <= 20; since++) {
      SCOPED_TRACE("skip " + std::to_string(since));
      ASSERT_TRUE(dec.Decode(Padded(SkipP(k.width_mbs, k.height_mbs, since), since % 3 * 20), &got));
      EXPECT_EQ(FirstDifference(first, got), "");
    }
    // The next key frame shows the moved pattern of another second.
    Planes second = PatternPicture(w, h, 2, time + 1, 0, k.fps);
    ASSERT_NE(FirstDifference(first, second), "");
    ASSERT_TRUE(dec.Decode(
        WithParamSets(k.width_mbs, k.height_mbs, Idr(k.width_mbs, k.height_mbs, 1, second)), &got));
    EXPECT_EQ(FirstDifference(second, got), "");
    ASSERT_TRUE(dec.Decode(SkipP(k.width_mbs, k.height_mbs, 1), &got));
    EXPECT_EQ(FirstDifference(second, got), "");
  }
}

TEST(DvrSimVideo, SamplesThatLookLikeStartCodesAreEscapedAndDecodeExactly) {
  // Rows of 0, 0, 1, 2, 3 bytes would read as start codes unless escaped.
  Planes p(320, 240);
  for (size_t i = 0; i < p.y.size(); i++) p.y[i] = uint8_t(i % 5 < 2 ? 0 : i % 5 - 1);
  for (size_t i = 0; i < p.u.size(); i++) {
    p.u[i] = uint8_t(i % 3);
    p.v[i] = 0;
  }
  Bytes idr = Idr(20, 15, 0, p);
  bool escaped = false;
  for (size_t i = 0; i + 2 < idr.size(); i++) {
    if (idr[i] == 0 && idr[i + 1] == 0) {
      EXPECT_GE(idr[i + 2], 3u) << "at " << i;
    }
    if (idr[i] == 0 && idr[i + 1] == 0 && idr[i + 2] == 3) escaped = true;
  }
  EXPECT_TRUE(escaped);
  Decoder dec(20, 15);
  ASSERT_TRUE(dec.ok());
  Planes got(0, 0);
  ASSERT_TRUE(dec.Decode(WithParamSets(20, 15, idr), &got));
  EXPECT_EQ(FirstDifference(p, got), "");
}

TEST(DvrSimVideo, PatternShowsChannelAndTimeAndDiffersPerChannelAndFrame) {
  struct Case {
    uint32_t channel, time, frame;
    const char* caption;
  };
  const Case cases[] = {
      {0, 0, 0, "CH01 00:00:00 00"},
      {15, 86400 * 9000 + 12 * 3600 + 34 * 60 + 56, 7, "CH16 12:34:56 07"},
      {3, 86399, 29, "CH04 23:59:59 29"},
  };
  for (const Case& k : cases) {
    char caption[17];
    Pattern_Caption(k.channel, k.time, k.frame, caption);
    EXPECT_STREQ(caption, k.caption);
  }
  // The caption's characters are drawn: "1" of "CH01" lights its middle column.
  char caption[17];
  Pattern_Caption(0, 0, 0, caption);
  EXPECT_EQ(Pattern_CaptionLit(caption, 3 * 12 + 1 + 2 * 2, 3 + 2 * 3), 1u);
  EXPECT_EQ(Pattern_CaptionLit(caption, 3 * 12 + 1, 3 + 2 * 3), 0u);
  EXPECT_EQ(Pattern_CaptionLit(caption, 4 * 12 + 5, 10), 0u);  // the space
  Planes a = PatternPicture(320, 240, 0, 1000, 1, 30);
  EXPECT_NE(FirstDifference(a, PatternPicture(320, 240, 1, 1000, 1, 30)), "");
  EXPECT_NE(FirstDifference(a, PatternPicture(320, 240, 0, 1000, 2, 30)), "");
  EXPECT_EQ(FirstDifference(a, PatternPicture(320, 240, 0, 1000, 1, 30)), "");
}

}  // namespace
