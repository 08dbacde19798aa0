// The picture display's pieces against their rules: the colour
// conversion against the byte-lane formula, bilinear resampling against
// its fixed-point formula, fitting by table, the rows written around a
// centred picture and the chroma sample each pixel takes, clipping to a
// bitmap smaller than the target, every path (plain, SSE2, fused SSSE3
// and AVX2) drawing the plain code's pixels,
// jobs that do not match their picture, and the field filter (still
// blocks, line doubling along edges, pictures of the largest size, part
// blocks at the edges, no dependence on earlier pictures' leftovers, and
// pictures with motion and diagonal edges against the filter's rules
// worked out again in FieldFilterRule.h).
#include "FieldFilterRule.h"
#include "media/Decoder.h"
#include "media/Display.h"
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// The conversion as byte lanes: offsets split into add and subtract
// words, a magnitude above 255 limited to 255, saturating per byte.
uint32_t LanePixel(uint32_t y, uint32_t u, uint32_t v)
{
    int32_t d[3] = {(int32_t)((v * 292) >> 8) - 146, 125 - (int32_t)((v * 149 + u * 101) >> 8),
                    (int32_t)((u * 516) >> 8) - 258};
    uint32_t add = 0, sub = 0;
    for (int i = 0; i < 3; i++) {
        uint32_t shift = 16 - 8 * i;
        uint32_t m = d[i] < 0 ? (uint32_t)-d[i] : (uint32_t)d[i];
        if (m > 255) m = 255;
        (d[i] < 0 ? sub : add) |= m << shift;
    }
    uint32_t grey = y | y << 8 | y << 16, out = 0;
    for (uint32_t shift = 0; shift < 24; shift += 8) {
        uint32_t g = (grey >> shift) & 255, a = (add >> shift) & 255, s = (sub >> shift) & 255;
        uint32_t t = g + a > 255 ? 255 : g + a;
        t = t < s ? 0 : t - s;
        out |= t << shift;
    }
    return out;
}

TEST(Colour, EveryChromaPairFollowsTheLaneFormula)
{
    const uint32_t lumas[] = {0, 1, 16, 77, 128, 200, 235, 254, 255};
    for (uint32_t y : lumas)
        for (uint32_t u = 0; u < 256; u++)
            for (uint32_t v = 0; v < 256; v++)
                ASSERT_EQ(Render_YuvToPixel(y, u, v), LanePixel(y, u, v)) << y << " " << u << " " << v;
}

TEST(Colour, KnownPairs)
{
    struct {
        uint32_t y, u, v, pixel;
    } rows[] = {
        {90, 128, 128, 0x005a5a5a},  // no offsets: pure grey
        {255, 0, 128, 0x00ffff00},   // U = 0 takes all blue away; green untouched by it
        {0, 0, 128, 0x00003300},     // green 51 from V alone
        {200, 128, 255, 0x00ff7fc8}, // red saturates; green 200 - 73
    };
    for (auto& r : rows) EXPECT_EQ(Render_YuvToPixel(r.y, r.u, r.v), r.pixel) << std::hex << r.pixel;
    int32_t red, green, blue;
    Render_ChromaOffsets(128, 128, &red, &green, &blue);
    EXPECT_EQ(red, 0);
    EXPECT_EQ(green, 0);
    EXPECT_EQ(blue, 0);
    Render_ChromaOffsets(0, 128, &red, &green, &blue);
    EXPECT_EQ(blue, -255); // -258 limited to its lane
}

TEST(Resampling, FollowsTheFixedPointFormula)
{
    struct {
        uint32_t n, count, step;
    } cases[] = {{704, 640, 4505}, {576, 512, 4608}, {240, 512, 1920},
                 {352, 640, 2252}, {480, 480, 4096}, {7, 3, 9557}};
    for (auto& c : cases) {
        std::vector<uint32_t> in(c.n), out(c.count, 0xDEAD);
        for (uint32_t i = 0; i < c.n; i++) in[i] = (i * 37 + (i * i) % 11) & 255;
        Render_Resample(in.data(), c.n, out.data(), c.count, 1);
        ASSERT_EQ((c.n << 12) / c.count, c.step);
        uint32_t pos = 0;
        for (uint32_t k = 0; k < c.count; k++, pos += c.step) {
            uint32_t i = pos >> 12, f = (pos >> 4) & 255;
            uint32_t next = i + 1 < c.n ? in[i + 1] : in[c.n - 1];
            ASSERT_EQ(out[k], (in[i] * (256 - f) + next * f) >> 8) << c.n << "->" << c.count << " at " << k;
        }
    }
    // The last output exactly on the last input takes nothing beyond it.
    uint32_t in[4] = {10, 20, 30, 250}, out[4];
    Render_Resample(in, 4, out, 4, 1);
    EXPECT_EQ(out[3], 250u);
}

TEST(Fitting, CentresOrScales)
{
    struct {
        uint32_t w, h, iw, ih;
        uint32_t field, scale, ox, oy, tw, th;
    } rows[] = {
        {704, 240, 640, 512, 1, 1, 0, 0, 640, 512}, // a field, doubled and scaled
        {704, 480, 640, 512, 0, 1, 0, 0, 640, 512},   {640, 480, 640, 512, 0, 0, 0, 16, 640, 480}, // own size, centred
        {320, 240, 640, 512, 1, 1, 0, 0, 640, 512},   {704, 576, 640, 512, 0, 1, 0, 0, 640, 512},
        {640, 512, 638, 509, 0, 0, 0, 0, 640, 512},   // target rounded up to 640 x 512
        {352, 288, 360, 300, 0, 0, 4, 8, 352, 288},   // a small image: centred (300 rounds to 304)
        {640, 480, 1000, 800, 0, 0, 0, 16, 640, 480}, // targets larger than 640 x 512 are cut down
    };
    for (auto& r : rows) {
        TRenderJob job{};
        job.width = r.w;
        job.height = r.h;
        job.targetWidth = r.iw;
        job.targetHeight = r.ih;
        Display_FitSize(&job);
        SCOPED_TRACE(testing::Message() << r.w << "x" << r.h << " on " << r.iw << "x" << r.ih);
        EXPECT_EQ(job.fieldFlag, r.field);
        EXPECT_EQ(job.scale, r.scale);
        EXPECT_EQ(job.xOffset, r.ox);
        EXPECT_EQ(job.yOffset, r.oy);
        EXPECT_EQ(job.targetWidth, r.tw);
        EXPECT_EQ(job.targetHeight, r.th);
    }
}

// A bitmap stand-in: rows with guard words on both sides and guard rows below.
struct TRows {
    uint32_t w, h, stride;
    std::vector<uint32_t> pixels;
    std::vector<uint32_t*> rows;
    TRows(uint32_t width, uint32_t height)
        : w(width), h(height), stride(width + 16), pixels((height + 8) * stride, 0x12345678u)
    {
        for (uint32_t r = 0; r < h; r++) rows.push_back(&pixels[r * stride + 8]);
    }
    uint32_t At(uint32_t x, uint32_t y) const { return rows[y][x]; }
    bool GuardsIntact() const
    {
        for (uint32_t r = 0; r < h + 8; r++)
            for (uint32_t x = 0; x < stride; x++) {
                bool inside = r < h && x >= 8 && x < 8 + w;
                if (!inside && pixels[r * stride + x] != 0x12345678u) return false;
            }
        return true;
    }
};

struct TPlanes {
    uint32_t w, h;
    std::vector<uint8_t> y, u, v;
    // Chroma of (n + 1) / 2 samples a side, the planes sized exactly.
    TPlanes(uint32_t width, uint32_t height)
        : w(width), h(height), y(width * height), u((width + 1) / 2 * ((height + 1) / 2)), v(u.size())
    {
    }
    TRenderJob Job(uint32_t iw, uint32_t ih)
    {
        TRenderJob job{};
        job.width = w;
        job.height = h;
        job.yStride = w;
        job.chromaStride = (w + 1) / 2;
        job.y = y.data();
        job.u = u.data();
        job.v = v.data();
        job.targetWidth = iw;
        job.targetHeight = ih;
        Display_FitSize(&job);
        return job;
    }
};

TEST(Drawing, CentredPictureWithGreyAboveAndBelow)
{
    TPlanes p(640, 480);
    for (uint32_t r = 0; r < 480; r++)
        for (uint32_t x = 0; x < 640; x++) p.y[r * 640 + x] = (uint8_t)(x + r);
    for (uint32_t r = 0; r < 240; r++)
        for (uint32_t c = 0; c < 320; c++) {
            p.u[r * 320 + c] = (uint8_t)(c * 3 + r);
            p.v[r * 320 + c] = (uint8_t)(255 - c - 2 * r);
        }
    TRenderJob job = p.Job(640, 512);
    ASSERT_EQ(job.scale, 0u);
    Render_CopyPlanes(&job);
    job.scaleWidth = 640;
    job.scaleHeight = 480;
    TRows bitmap(640, 512);
    Render_ScaleToRows(&job, bitmap.rows.data(), 640, 512);
    for (uint32_t r : {0u, 15u, 496u, 511u})
        for (uint32_t x = 0; x < 640; x++) ASSERT_EQ(bitmap.At(x, r), 0xff3c3c3cu) << x << "," << r;
    // One chroma sample colours 4 x 4 pixels: band b takes chroma row 2b,
    // pixels 8g .. 8g + 3 column 4g and 8g + 4 .. 8g + 7 column 4g + 2.
    for (uint32_t y : {0u, 1u, 3u, 4u, 7u, 101u, 479u})
        for (uint32_t x : {0u, 3u, 4u, 7u, 8u, 13u, 333u, 639u}) {
            uint32_t crow = 2 * (y / 4), ccol = (x / 8) * 4 + ((x & 4) ? 2 : 0);
            uint32_t expected = LanePixel(p.y[y * 640 + x], p.u[crow * 320 + ccol], p.v[crow * 320 + ccol]);
            ASSERT_EQ(bitmap.At(x, y + 16), expected) << x << "," << y;
        }
    EXPECT_TRUE(bitmap.GuardsIntact());
}

TEST(Drawing, ScaledPictureStaysInsideASmallerBitmap)
{
    // A 704 x 576 picture on a 638 x 509 image: the target rounds up to
    // 640 x 512, beyond the bitmap, and is clipped to it.
    TPlanes p(704, 576);
    memset(p.y.data(), 180, p.y.size());
    memset(p.u.data(), 90, p.u.size());
    memset(p.v.data(), 160, p.v.size());
    TRenderJob job = p.Job(638, 509);
    ASSERT_EQ(job.scale, 1u);
    ASSERT_EQ(job.targetWidth, 640u);
    Render_CopyPlanes(&job);
    job.scaleWidth = 704;
    job.scaleHeight = 576;
    TRows bitmap(638, 509);
    Render_ScaleToRows(&job, bitmap.rows.data(), 638, 509);
    EXPECT_TRUE(bitmap.GuardsIntact());
    // A flat picture stays flat through the scaler.
    uint32_t flat = LanePixel(180, 90, 160);
    for (uint32_t y : {0u, 255u, 508u})
        for (uint32_t x : {0u, 320u, 637u}) EXPECT_EQ(bitmap.At(x, y), flat) << x << "," << y;
}

TEST(Drawing, ScaledChromaFollowsTheBands)
{
    // A 352 x 288 picture scaled to 640 x 512 with chroma constant along
    // rows: band b's colour is the chroma column pass at row 2b.
    TPlanes p(352, 288);
    memset(p.y.data(), 128, p.y.size());
    for (uint32_t r = 0; r < 144; r++) {
        memset(&p.u[r * 176], (int)(r + 40), 176);
        memset(&p.v[r * 176], 128, 176);
    }
    TRenderJob job = p.Job(640, 512);
    ASSERT_EQ(job.scale, 1u);
    job.fieldFlag = 0; // drawn as a frame, not doubled
    Render_CopyPlanes(&job);
    job.scaleWidth = 352;
    job.scaleHeight = 288;
    TRows bitmap(640, 512);
    Render_ScaleToRows(&job, bitmap.rows.data(), 640, 512);
    std::vector<uint32_t> column(144), scaled(512 / 2 + 1);
    for (uint32_t r = 0; r < 144; r++) column[r] = r + 40;
    uint32_t step = (288u << 12) / 512;
    for (uint32_t b = 0; b < 128; b++) {
        uint32_t pos = 2 * b * step, i = pos >> 12, f = (pos >> 4) & 255;
        uint32_t next = i + 1 < 144 ? column[i + 1] : column[143];
        uint32_t u = (column[i] * (256 - f) + next * f) >> 8;
        for (uint32_t row = 4 * b; row < 4 * b + 4; row++)
            ASSERT_EQ(bitmap.At(100, row), LanePixel(128, u, 128)) << "band " << b;
    }
}

// The scaler's result by its rules, pixel by pixel: each luma value is
// the column pass over two row-pass values, each chroma value likewise at
// output column c (pixels 2c, 2c + 1) and scaled row 2b of band b; the
// place after a last input repeats it.
struct TReference {
    const TPlanes& p;
    uint32_t tw, th;
    static uint32_t Lerp(uint32_t a, uint32_t b, uint32_t pos)
    {
        uint32_t f = (pos >> 4) & 255;
        return (a * (256 - f) + b * f) >> 8;
    }
    uint32_t Sample(const std::vector<uint8_t>& plane, uint32_t stride, uint32_t n, uint32_t rows, uint32_t px,
                    uint32_t py) const
    {
        auto at = [&](uint32_t x, uint32_t y) {
            return (uint32_t)plane[(y < rows ? y : rows - 1) * stride + (x < n ? x : n - 1)];
        };
        uint32_t ix = px >> 12, iy = py >> 12;
        return Lerp(Lerp(at(ix, iy), at(ix + 1, iy), px), Lerp(at(ix, iy + 1), at(ix + 1, iy + 1), px), py);
    }
    uint32_t Pixel(uint32_t x, uint32_t y) const
    {
        uint32_t sx = (p.w << 12) / tw, sy = (p.h << 12) / th;
        uint32_t luma = Sample(p.y, p.w, p.w, p.h, x * sx, y * sy);
        uint32_t c = (x / 8) * 4 + ((x & 4) ? 2 : 0), r = 2 * (y / 4);
        // The chroma rows scaled are the picture's whole chroma lines.
        uint32_t cw = (p.w + 1) / 2, rows = p.h / 2 ? p.h / 2 : 1;
        uint32_t u = Sample(p.u, cw, cw, rows, c * sx, r * sy);
        uint32_t v = Sample(p.v, cw, cw, rows, c * sx, r * sy);
        return LanePixel(luma, u, v);
    }
};

TEST(Drawing, ScaledPicturesFollowTheResamplingRules)
{
    struct {
        uint32_t w, h;
    } sizes[] = {{704, 576}, {704, 480}, {352, 576}, {320, 480}};
    for (auto& size : sizes) {
        SCOPED_TRACE(testing::Message() << size.w << "x" << size.h);
        TPlanes p(size.w, size.h);
        uint32_t seed = 12345;
        auto next = [&]() { return (seed = seed * 1103515245u + 12345u) >> 16; };
        for (auto& b : p.y) b = (uint8_t)next();
        for (auto& b : p.u) b = (uint8_t)next();
        for (auto& b : p.v) b = (uint8_t)next();
        TRenderJob job = p.Job(640, 512);
        ASSERT_EQ(job.scale, 1u);
        ASSERT_EQ(job.fieldFlag, 0u);
        Render_CopyPlanes(&job);
        job.scaleWidth = size.w;
        job.scaleHeight = size.h;
        TRows bitmap(640, 512);
        Render_ScaleToRows(&job, bitmap.rows.data(), 640, 512);
        TReference ref{p, 640, 512};
        for (uint32_t y = 0; y < 512; y++)
            for (uint32_t x = 0; x < 640; x++) ASSERT_EQ(bitmap.At(x, y), ref.Pixel(x, y)) << x << "," << y;
        EXPECT_TRUE(bitmap.GuardsIntact());
    }
}

TEST(Drawing, EveryPathDrawsThePlainCodesPixels)
{
    // Random planes of every size the tests' streams use and more (one
    // macroblock, odd sizes with chroma of (n + 1) / 2 samples, down to a
    // single pixel, the largest accepted, cropped sizes) on targets of many
    // sizes (widths not a multiple of 8, shrinking by more than 2, bitmaps
    // smaller than their target): the plain code with its SSE2/SSSE3 steps
    // and the fused SSSE3 and AVX2 code, each where this processor has it,
    // give the plain code's pixels, scaled frames also by the resampling
    // rules, also when an unfiltered picture is read from its luma plane in
    // place of the work plane, and nothing is written outside the bitmap.
    struct {
        uint32_t w, h;
    } sources[] = {{16, 16},   {48, 32},   {350, 290}, {346, 286}, {704, 576}, {702, 574}, {640, 480}, {176, 144},
                   {320, 240}, {640, 288}, {352, 288}, {704, 480}, {352, 576}, {320, 480}, {704, 240}, {1, 1},
                   {3, 5},     {17, 15},   {35, 23},   {351, 289}, {641, 481}, {703, 575}, {639, 255}};
    struct {
        uint32_t iw, ih, bw, bh;
    } targets[] = {{640, 512, 640, 512}, {636, 508, 636, 508}, {638, 509, 638, 509}, {300, 200, 300, 200},
                   {100, 60, 100, 60},   {20, 16, 20, 16},     {4, 8, 4, 8},         {172, 140, 172, 140},
                   {37, 25, 37, 25},     {352, 290, 352, 290}, {640, 512, 300, 200}, {640, 512, 639, 511}};
    std::vector<int32_t> paths;
    for (int32_t path : {RENDER_PATH_SSE2, RENDER_PATH_SSSE3, RENDER_PATH_AVX2})
        if (Render_UsePath(path)) paths.push_back(path);
    Render_UseVectorCode(1);
#if defined(__x86_64__)
    ASSERT_FALSE(paths.empty());
#endif
    uint32_t seed = 99;
    auto next = [&]() { return (seed = seed * 1103515245u + 12345u) >> 16; };
    uint32_t drawn = 0, scaled = 0;
    for (auto& src : sources)
        for (auto& t : targets)
            for (uint32_t field : {0u, 1u}) {
                SCOPED_TRACE(testing::Message() << src.w << "x" << src.h << " on " << t.iw << "x" << t.ih << " bitmap "
                                                << t.bw << "x" << t.bh << (field ? " field" : ""));
                TPlanes p(src.w, src.h);
                for (auto& b : p.y) b = (uint8_t)next();
                for (auto& b : p.u) b = (uint8_t)next();
                for (auto& b : p.v) b = (uint8_t)next();
                TRenderJob job = p.Job(t.iw, t.ih);
                if (!field) {
                    if (!job.scale && job.fieldFlag) continue; // drawn doubled: the field case below
                    job.fieldFlag = 0;
                    Render_CopyPlanes(&job);
                } else {
                    if (!job.fieldFlag) continue;
                    Render_Deinterlace(&job);
                }
                job.scaleWidth = src.w;
                job.scaleHeight = src.h;
                if (!job.scale && job.targetHeight > (job.fieldFlag ? 2 : 1) * src.h)
                    job.targetHeight = (job.fieldFlag ? 2 : 1) * src.h;
                TRows plain(t.bw, t.bh);
                Render_UsePath(RENDER_PATH_PLAIN);
                Render_ScaleToRows(&job, plain.rows.data(), t.bw, t.bh);
                EXPECT_TRUE(plain.GuardsIntact());
                for (int32_t path : paths) {
                    SCOPED_TRACE(testing::Message() << "path " << path);
                    TRows out(t.bw, t.bh);
                    ASSERT_TRUE(Render_UsePath(path));
                    Render_ScaleToRows(&job, out.rows.data(), t.bw, t.bh);
                    ASSERT_TRUE(out.pixels == plain.pixels);
                    EXPECT_TRUE(out.GuardsIntact());
                }
                if (!job.fieldFlag) {
                    // Unfiltered, as the display draws it: straight from the
                    // luma plane, whatever the work plane holds.
                    TRenderJob inPlace = job;
                    inPlace.lumaInPlace = 1;
                    for (int32_t path : paths) {
                        SCOPED_TRACE(testing::Message() << "in place, path " << path);
                        for (uint32_t r = 0; r < src.h; r++) memset(Render_WorkRow(src.w, r), 0x5A, src.w);
                        TRows out(t.bw, t.bh);
                        ASSERT_TRUE(Render_UsePath(path));
                        Render_ScaleToRows(&inPlace, out.rows.data(), t.bw, t.bh);
                        ASSERT_TRUE(out.pixels == plain.pixels);
                        EXPECT_TRUE(out.GuardsIntact());
                    }
                }
                Render_UseVectorCode(1);
                drawn++;
                if (plain.At(0, 0) == 0x12345678u) continue; // a job the scaler refuses
                if (job.scale && !job.fieldFlag) {
                    scaled++;
                    TReference ref{p, job.targetWidth, job.targetHeight};
                    for (uint32_t y = 0; y < t.bh && y < job.targetHeight; y++)
                        for (uint32_t x = 0; x < t.bw && x < job.targetWidth; x++)
                            ASSERT_EQ(plain.At(x, y), ref.Pixel(x, y)) << x << "," << y;
                }
            }
    EXPECT_GE(drawn, 250u);
    EXPECT_GE(scaled, 100u);
}

TEST(Drawing, APartGroupOfOnePixelTakesItsChromaFromThisPicture)
{
    // A scaled target one pixel past a multiple of 4: the last pixel group
    // has one pixel, whose chroma column lies one past the half width. It
    // is scaled from this picture like every other, not left over from a
    // picture drawn before, on every path.
    std::vector<int32_t> paths = {RENDER_PATH_PLAIN};
    for (int32_t path : {RENDER_PATH_SSE2, RENDER_PATH_SSSE3, RENDER_PATH_AVX2})
        if (Render_UsePath(path)) paths.push_back(path);
    for (int32_t path : paths) {
        SCOPED_TRACE(testing::Message() << "path " << path);
        ASSERT_TRUE(Render_UsePath(path));
        uint32_t seed = 7;
        for (uint32_t fill : {0u, 255u, 1u}) {
            // An earlier picture of a wider target, then the one checked.
            TPlanes before(704, 576);
            memset(before.y.data(), 200, before.y.size());
            memset(before.u.data(), 255 - fill, before.u.size());
            memset(before.v.data(), fill, before.v.size());
            TRenderJob wide = before.Job(640, 512);
            Render_CopyPlanes(&wide);
            wide.scaleWidth = 704;
            wide.scaleHeight = 576;
            TRows scratch(640, 512);
            Render_ScaleToRows(&wide, scratch.rows.data(), 640, 512);

            TPlanes p(704, 576);
            for (auto* plane : {&p.y, &p.u, &p.v})
                for (auto& b : *plane) b = (uint8_t)((seed = seed * 1103515245u + 12345u) >> 16);
            TRenderJob job = p.Job(640, 512);
            Render_CopyPlanes(&job);
            job.scaleWidth = 704;
            job.scaleHeight = 576;
            job.targetWidth = 637;
            job.targetHeight = 509;
            TRows bitmap(637, 509);
            Render_ScaleToRows(&job, bitmap.rows.data(), 637, 509);
            TReference ref{p, 637, 509};
            for (uint32_t y = 0; y < 509; y++)
                for (uint32_t x = 632; x < 637; x++) ASSERT_EQ(bitmap.At(x, y), ref.Pixel(x, y)) << x << "," << y;
            EXPECT_TRUE(bitmap.GuardsIntact());
        }
    }
    Render_UseVectorCode(1);
}

// A picture for the field filter with its own rows, sized exactly, so
// that a read beyond its last line is caught by the address checker.
struct TLuma {
    uint32_t w, h;
    std::vector<uint8_t> y, uv;
    TLuma(uint32_t width, uint32_t height) : w(width), h(height), y(width * height), uv(width / 2 * height / 2, 128) {}
    TRenderJob Job(uint32_t field, uint32_t deinterlace)
    {
        TRenderJob job{};
        job.width = w;
        job.height = h;
        job.yStride = w;
        job.chromaStride = w / 2;
        job.y = y.data();
        job.u = job.v = uv.data();
        job.fieldFlag = field;
        job.deinterlace = deinterlace;
        return job;
    }
};

TEST(Drawing, JobsThatDoNotMatchTheirPictureDrawNothing)
{
    // Sizes in a render job that the work plane, the tables or the planes
    // do not hold are refused, not read beyond.
    TPlanes p(352, 288);
    memset(p.y.data(), 100, p.y.size());
    memset(p.u.data(), 128, p.u.size());
    memset(p.v.data(), 128, p.v.size());
    struct {
        const char* what;
        uint32_t scaleWidth, scaleHeight, targetHeight, scale;
    } rows[] = {
        {"no scaler width", 0, 288, 512, 1},
        {"no scaler height", 352, 0, 512, 1},
        {"scaler wider than the picture", 353, 288, 512, 1},
        {"scaler taller than the picture", 352, 600, 512, 1},
        {"own size, more rows than the work plane holds", 352, 288, 300, 0},
    };
    for (auto& r : rows) {
        TRenderJob job = p.Job(640, 512);
        job.fieldFlag = 0;
        Render_CopyPlanes(&job);
        job.scaleWidth = r.scaleWidth;
        job.scaleHeight = r.scaleHeight;
        job.scale = r.scale;
        job.targetWidth = r.scale ? 640 : 352;
        job.targetHeight = r.targetHeight;
        TRows bitmap(640, 512);
        Render_ScaleToRows(&job, bitmap.rows.data(), 640, 512);
        EXPECT_EQ(bitmap.At(0, 0), 0x12345678u) << r.what;
        EXPECT_TRUE(bitmap.GuardsIntact()) << r.what;
    }
    // Pictures wider or taller than the largest accepted are not filtered.
    for (auto size : {std::make_pair(720u, 64u), std::make_pair(64u, 600u)}) {
        TLuma big(size.first, size.second);
        memset(big.y.data(), 77, big.y.size());
        for (uint32_t field : {0u, 1u}) {
            TRenderJob job = big.Job(field, 1);
            Render_Deinterlace(&job);
            Render_CopyPlanes(&job);
        }
    }
}

TEST(FieldFilter, StillBlocksKeepTheFullFrame)
{
    TLuma p(64, 64);
    for (uint32_t r = 0; r < 64; r++)
        for (uint32_t x = 0; x < 64; x++) p.y[r * 64 + x] = (uint8_t)((r & 1) ? 200 - x : 20 + x + r); // combed
    TRenderJob job = p.Job(0, 1);
    // The measure of a block is this picture's even lines plus the previous
    // picture's odd lines: from the fourth picture on it has been still twice.
    for (int n = 0; n < 4; n++) Render_Deinterlace(&job);
    EXPECT_EQ(Render_StillCount(0, 0), 2u);
    EXPECT_EQ(Render_StillCount(3, 3), 2u);
    // Missing lines are the average of the current and the previous
    // picture's own lines, which for a still scene are the lines themselves.
    for (uint32_t r = 0; r < 64; r++) {
        const uint8_t* row = Render_WorkRow(64, r);
        for (uint32_t x = 0; x < 64; x++) ASSERT_EQ(row[x], p.y[r * 64 + x]) << x << "," << r;
    }
    // A block whose picture changes falls back to interpolation at once.
    for (uint32_t r = 0; r < 16; r++)
        for (uint32_t x = 0; x < 16; x++) p.y[r * 64 + x] = (uint8_t)(p.y[r * 64 + x] + 90);
    Render_Deinterlace(&job);
    EXPECT_EQ(Render_StillCount(0, 0), 0u);
    EXPECT_EQ(Render_StillCount(0, 1), 2u);
}

TEST(FieldFilter, DoubledLinesOfAField)
{
    // A field is drawn at twice its height: its own lines on the even work
    // rows, each missing line between two of them interpolated. Vertical
    // stripes keep the direction 0 and come out exact; a vertical ramp
    // gives the mean of the lines above and below.
    const uint32_t w = 96, h = 48;
    TLuma stripes(w, h), ramp(w, h);
    for (uint32_t r = 0; r < h; r++)
        for (uint32_t x = 0; x < w; x++) {
            stripes.y[r * w + x] = (uint8_t)((x / 3) % 2 ? 210 : 40);
            ramp.y[r * w + x] = (uint8_t)(r * 5);
        }
    TRenderJob job = stripes.Job(1, 0);
    Render_Deinterlace(&job);
    for (uint32_t r = 0; r < 2 * h; r++)
        ASSERT_EQ(memcmp(Render_WorkRow(w, r), &stripes.y[(r / 2) * w], w), 0) << "row " << r;
    job = ramp.Job(1, 0);
    Render_Deinterlace(&job);
    for (uint32_t k = 0; k + 1 < h; k++) {
        ASSERT_EQ(memcmp(Render_WorkRow(w, 2 * k), &ramp.y[k * w], w), 0) << "field line " << k;
        const uint8_t* row = Render_WorkRow(w, 2 * k + 1);
        for (uint32_t x = 0; x < w; x++) ASSERT_EQ(row[x], (uint8_t)((k * 5 + (k + 1) * 5) / 2)) << x << "," << k;
    }
}

TEST(FieldFilter, LargestPicturesStayInsideTheTables)
{
    // Full-width blocks reach the first and last cost-cache blocks with
    // directions -8 and +8; the last step reads no line past the picture.
    for (uint32_t field : {0u, 1u}) {
        TLuma p(DECODER_MAX_WIDTH, field ? 288 : DECODER_MAX_HEIGHT);
        for (size_t i = 0; i < p.y.size(); i++) p.y[i] = (uint8_t)((i * 2654435761u) >> 24);
        TRenderJob job = p.Job(field, 1);
        Render_Deinterlace(&job);
        Render_Deinterlace(&job);
        uint32_t rows = field ? 2 * p.h : p.h;
        // The last produced row comes from the last line and its neighbour.
        const uint8_t* last = Render_WorkRow(p.w, rows);
        EXPECT_EQ(memcmp(last, &p.y[(p.h - 1) * p.w], p.w), 0);
    }
}

// The work plane's rows 0 .. rows - 1 of a picture of width w.
std::vector<uint8_t> WorkRows(uint32_t w, uint32_t rows)
{
    std::vector<uint8_t> out;
    for (uint32_t r = 0; r < rows; r++) out.insert(out.end(), Render_WorkRow(w, r), Render_WorkRow(w, r) + w);
    return out;
}

void Noise(TLuma* p, uint32_t seed)
{
    for (auto& b : p->y) b = (uint8_t)((seed = seed * 1103515245u + 12345u) >> 16);
}

TEST(FieldFilter, DoubledFieldDoesNotDependOnThePictureBefore)
{
    // Widths that leave a part block at the right edge: the direction
    // search there reads only the picture and its edge copies, never what
    // an earlier, wider picture left in the work plane.
    for (uint32_t w : {50u, 346u, 702u}) {
        SCOPED_TRACE(w);
        TLuma wide(DECODER_MAX_WIDTH, 200), field(w, 100);
        std::vector<std::vector<uint8_t>> results;
        for (uint32_t before : {1u, 2u}) {
            Noise(&wide, before * 977);
            TRenderJob wj = wide.Job(1, 0);
            Render_Deinterlace(&wj);
            Noise(&field, 4242);
            TRenderJob job = field.Job(1, 0);
            Render_Deinterlace(&job);
            results.push_back(WorkRows(w, 2 * field.h));
        }
        EXPECT_TRUE(results[0] == results[1]);
    }
}

TEST(FieldFilter, PartBlocksAtTheEdgesAreNeverTakenAsStill)
{
    // A picture whose width and height are not multiples of 16 after a
    // run of still pictures of a larger size: its part blocks at the right
    // and bottom edges are not measured, so they count as moving, not as
    // still from what the earlier pictures left. Here the odd lines stay
    // the same while the even lines change: moving blocks rebuild the odd
    // lines from the even ones, still blocks would keep them.
    std::vector<std::vector<uint8_t>> results;
    for (uint32_t history : {0u, 1u}) {
        TLuma big(64, 64);
        for (uint32_t n = 0; n < 6; n++) {
            // history 0: a still picture (every block still); 1: moving.
            Noise(&big, history ? 100 + n : 100);
            TRenderJob job = big.Job(0, 1);
            Render_Deinterlace(&job);
        }
        TLuma p(50, 54);
        for (uint32_t n = 0; n < 4; n++) {
            for (uint32_t r = 0; r < p.h; r++)
                for (uint32_t x = 0; x < p.w; x++)
                    p.y[r * p.w + x] = (uint8_t)((r & 1) ? 30 + x : ((n & 1) ? 250 - 3 * r : 3 * r));
            TRenderJob job = p.Job(0, 1);
            Render_Deinterlace(&job);
        }
        for (uint32_t band = 0; band < 3; band++)
            for (uint32_t group = 0; group < 3; group++) EXPECT_EQ(Render_StillCount(band, group), 0u);
        results.push_back(WorkRows(p.w, p.h));
    }
    EXPECT_TRUE(results[0] == results[1]);
}

// The display's filter and the rules worked out again, on a run of
// pictures with moving diagonal edges: every work row the same, for
// deinterlaced frames, deinterlaced fields and doubled fields. The
// fixture is checked to reach what it is for: directions of both signs,
// refinement steps, searches that stop early, right-pass blocks kept by
// the left pass's mark and costs taken from the cache, still and moving
// pixels, pixels that differ by 7 and by 8 in still blocks, and block
// measures on either side of both still thresholds.
TEST(FieldFilter, MovingDiagonalEdgesFollowTheDirectionSearch)
{
    struct {
        const char* what;
        uint32_t w, h, field, deinterlace;
    } runs[] = {
        {"deinterlaced frame", 256, 96, 0, 1},
        {"deinterlaced field", 256, 64, 1, 1},
        {"doubled field", 256, 48, 1, 0},
        {"wide deinterlaced frame", 640, 128, 0, 1},
    };
    fieldrule::TFilterCounts all;
    for (auto& run : runs) {
        SCOPED_TRACE(run.what);
        fieldrule::TFieldRule rule;
        fieldrule::TLumaPicture first = fieldrule::MovingEdges(run.w, run.h, 0, 0);
        TLuma p(run.w, run.h);
        // Four pictures alike: the state the rule starts from.
        p.y = first.y;
        for (int n = 0; n < 4; n++) {
            TRenderJob job = p.Job(run.field, run.deinterlace);
            Render_Deinterlace(&job);
        }
        rule.StartStill(first);
        fieldrule::TFilterCounts counts;
        for (uint32_t n = 1; n <= 10; n++) {
            SCOPED_TRACE(testing::Message() << "picture " << n);
            fieldrule::TLumaPicture next = fieldrule::MovingEdges(run.w, run.h, 3 * (int32_t)n, n);
            p.y = next.y;
            TRenderJob job = p.Job(run.field, run.deinterlace);
            Render_Deinterlace(&job);
            std::vector<std::vector<uint8_t>> expected = rule.Run(next, run.field, run.deinterlace, &counts);
            ASSERT_EQ(expected.size(), (run.field ? 2 : 1) * run.h + 1);
            for (uint32_t r = 0; r < expected.size(); r++) {
                const uint8_t* row = Render_WorkRow(run.w, r);
                for (uint32_t x = 0; x < run.w; x++)
                    ASSERT_EQ(row[x], expected[r][x]) << "work row " << r << " pixel " << x;
            }
        }
        EXPECT_GT(counts.positive, 100u);
        EXPECT_GT(counts.negative, 100u);
        EXPECT_GT(counts.refinements, 100u);
        EXPECT_GT(counts.earlyStops, 100u);
        EXPECT_GT(counts.markedKeeps, 100u);
        EXPECT_GT(counts.cachedCosts, 100u);
        EXPECT_GT(counts.movingPixels, 10000u);
        if (run.deinterlace) {
            EXPECT_GT(counts.stillPixels, 10000u);
            EXPECT_GT(counts.stillBy7, 100u);
            EXPECT_GT(counts.movingBy8, 100u);
            EXPECT_GT(counts.resets, 10u);
        }
        all.nearStill += counts.nearStill;
        all.nearMoving += counts.nearMoving;
        all.edgeDirections += counts.edgeDirections;
    }
    EXPECT_GT(all.nearStill, 10u);
    EXPECT_GT(all.nearMoving, 10u);
    EXPECT_GT(all.edgeDirections, 10u);
}

} // namespace
