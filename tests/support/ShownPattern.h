// dvr-sim's test pattern as the viewer shows it in Image_video: sent as
// 320 x 240 I_PCM key frames, scaled to the 640 x 512 image bilinearly
// (12-bit positions, 8-bit weights, the edge sample repeated past the
// last), one chroma sample per 4 x 4 pixels, and converted with the
// viewer's colour formula in byte lanes. A picture of the video area is
// matched against it by finding the channel and frame count it shows.
// Tests compile tools/dvr-sim/sim_pattern.cpp in.
#pragma once
#include "tools/dvr-sim/sim_pattern.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

// Image_video on the form, and the picture the pattern is sent at.
constexpr int kImageLeft = 34, kImageTop = 43, kImageWidth = 640, kImageHeight = 512;
constexpr uint32_t kSourceWidth = 320, kSourceHeight = 240; // 20 x 15 macroblocks at 30 fps

// The viewer starts on the four-way split of channels 1-4, which the
// recorder composes on channel 16.
const PatternMosaic kStartSplit{kSourceWidth, kSourceHeight, 2, 0, 4};
constexpr uint32_t kSplitChannel = 16;

inline uint32_t Lerp(uint32_t a, uint32_t b, uint32_t pos)
{
    uint32_t f = (pos >> 4) & 255;
    return (a * (256 - f) + b * f) >> 8;
}

inline uint32_t LanePixel(uint32_t y, uint32_t u, uint32_t v)
{
    int32_t d[3] = {(int32_t)((v * 292) >> 8) - 146, 125 - (int32_t)((v * 149 + u * 101) >> 8),
                    (int32_t)((u * 516) >> 8) - 258};
    uint32_t out = 0;
    for (int i = 0; i < 3; i++) {
        int32_t m = d[i] < -255 ? -255 : d[i] > 255 ? 255 : d[i];
        int32_t t = (int32_t)y + m;
        t = t < 0 ? 0 : t > 255 ? 255 : t;
        out |= (uint32_t)t << (16 - 8 * i);
    }
    return out;
}

// The pattern of one channel (channel 16: the start-up split) and frame
// count, away from the caption band.
struct TPattern {
    uint32_t channel, count;
    uint32_t Y(uint32_t x, uint32_t y) const
    {
        if (x >= kSourceWidth) x = kSourceWidth - 1;
        if (y >= kSourceHeight) y = kSourceHeight - 1;
        if (channel == kSplitChannel) return Pattern_MosaicY(kStartSplit, x, y, count);
        return Pattern_Y(x, y, channel, count, "                ");
    }
    uint32_t C(bool v, uint32_t cx, uint32_t cy) const
    {
        if (cx >= kSourceWidth / 2) cx = kSourceWidth / 2 - 1;
        if (cy >= kSourceHeight / 2) cy = kSourceHeight / 2 - 1;
        if (channel == kSplitChannel)
            return v ? Pattern_MosaicV(kStartSplit, cx, cy, count) : Pattern_MosaicU(kStartSplit, cx, cy, count);
        return v ? Pattern_V(cx, cy, channel, count) : Pattern_U(cx, cy, channel, count);
    }
    // Row pass then column pass.
    uint32_t Luma(uint32_t x, uint32_t y) const
    {
        uint32_t px = x * ((kSourceWidth << 12) / kImageWidth), py = y * ((kSourceHeight << 12) / kImageHeight);
        uint32_t ix = px >> 12, iy = py >> 12;
        uint32_t r0 = Lerp(Y(ix, iy), Y(ix + 1, iy), px), r1 = Lerp(Y(ix, iy + 1), Y(ix + 1, iy + 1), px);
        return Lerp(r0, r1, py);
    }
    // Output column c of the chroma row pass stands for pixels 2c, 2c + 1;
    // band b takes scaled row 2b.
    uint32_t Chroma(bool v, uint32_t c, uint32_t row) const
    {
        uint32_t px = c * ((kSourceWidth << 12) / kImageWidth), py = row * ((kSourceHeight << 12) / kImageHeight);
        uint32_t ix = px >> 12, iy = py >> 12;
        uint32_t r0 = Lerp(C(v, ix, iy), C(v, ix + 1, iy), px), r1 = Lerp(C(v, ix, iy + 1), C(v, ix + 1, iy + 1), px);
        return Lerp(r0, r1, py);
    }
    uint32_t Pixel(uint32_t x, uint32_t y) const
    {
        uint32_t row = 2 * (y / 4), col = (x / 8) * 4 + ((x & 4) ? 2 : 0);
        return LanePixel(Luma(x, y), Chroma(false, col, row), Chroma(true, col, row));
    }
};

// Pixels that depend on the caption band: its 192 x 20 pixels scaled.
inline bool InCaption(uint32_t x, uint32_t y) { return x < 2 * kPatternBandWidth + 16 && y < 48; }

// The largest difference of the three colour bytes.
inline uint32_t ChannelDiff(uint32_t a, uint32_t b)
{
    uint32_t worst = 0;
    for (int s = 0; s < 24; s += 8) {
        int d = (int)((a >> s) & 255) - (int)((b >> s) & 255);
        if (d < 0) d = -d;
        if ((uint32_t)d > worst) worst = (uint32_t)d;
    }
    return worst;
}

// Which channel and frame the video area shows (shown(x, y): 0x00RRGGBB of
// the video area's pixel): the pattern repeats every lcm(55, 112) = 6160
// frames; a few pixels pick the candidate. False when none matches.
inline bool FindShownPattern(const std::function<uint32_t(uint32_t x, uint32_t y)>& shown, TPattern* found)
{
    std::vector<std::pair<uint32_t, uint32_t>> probe;
    for (uint32_t i = 0; i < 48; i++) probe.push_back({(i * 97 + 5) % kImageWidth, 60 + (i * 131) % 440});
    for (uint32_t ch = 0; ch < 17; ch++)
        for (uint32_t count = 0; count < 6160; count++) {
            TPattern p{ch, count};
            bool ok = true;
            for (auto& xy : probe)
                if (ChannelDiff(p.Pixel(xy.first, xy.second), shown(xy.first, xy.second)) > 1) {
                    ok = false;
                    break;
                }
            if (ok) {
                *found = p;
                return true;
            }
        }
    return false;
}

// The whole video area against the pattern found: how many pixels were
// compared, how many equal it and how many are one off; the first pixel
// further off stops the comparison (bad, with where and what).
struct TPatternMatch {
    uint32_t compared = 0, exact = 0, near = 0;
    bool bad = false;
    uint32_t x = 0, y = 0, got = 0, want = 0;
};
inline TPatternMatch CompareWithPattern(const std::function<uint32_t(uint32_t x, uint32_t y)>& shown,
                                        const TPattern& found)
{
    TPatternMatch m;
    for (uint32_t y = 0; y < (uint32_t)kImageHeight; y++)
        for (uint32_t x = 0; x < (uint32_t)kImageWidth; x++) {
            if (found.channel != kSplitChannel && InCaption(x, y)) continue;
            uint32_t want = found.Pixel(x, y), got = shown(x, y);
            m.compared++;
            uint32_t d = ChannelDiff(want, got);
            if (d == 0) m.exact++;
            else if (d == 1) m.near++;
            else {
                m.bad = true;
                m.x = x, m.y = y, m.got = got, m.want = want;
                return m;
            }
        }
    return m;
}
