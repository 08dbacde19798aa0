// Scaling and colour conversion: the prepared picture (luma from the work
// plane, chroma from the decoded planes) resampled bilinearly where the
// render job says so and converted to 32-bit pixels row by row. Owns the
// scaler's static work areas (row-pass results, scaled planes, the taps of
// each pass) and the per-band colour offsets.
#include "media/Decoder.h"
#include "media/Display.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/Graphics.h"
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

namespace {

constexpr uint32_t kMaxW = DECODER_MAX_WIDTH;
constexpr uint32_t kMaxH = DECODER_MAX_HEIGHT;
constexpr uint32_t kOutStride = DISPLAY_MAX_WIDTH + 64;
// The scaler's source height: a doubled field stays below 2 x 356 lines.
constexpr uint32_t kMaxSourceRows = 2 * kMaxH;
constexpr uint32_t kGrey = 0xff3c3c3cu;

uint32_t gScaledLuma[kOutStride * DISPLAY_MAX_HEIGHT];
uint32_t gLumaColumns[DISPLAY_MAX_WIDTH * kMaxSourceRows]; // row-pass results, tw words a row
uint32_t gUColumns[(DISPLAY_MAX_WIDTH / 2) * (kMaxH / 2 + 1)];
uint32_t gVColumns[(DISPLAY_MAX_WIDTH / 2) * (kMaxH / 2 + 1)];
uint32_t gScaledU[kOutStride * (DISPLAY_MAX_HEIGHT / 2 + 1)];
uint32_t gScaledV[kOutStride * (DISPLAY_MAX_HEIGHT / 2 + 1)];

// The offsets of one band row: one entry per 4 output pixels.
constexpr uint32_t kMaxGroups = (kMaxW > (uint32_t)DISPLAY_MAX_WIDTH ? kMaxW : (uint32_t)DISPLAY_MAX_WIDTH) / 4 + 2;
// Each as an add word and a subtract word in byte lanes (red 16-23, green
// 8-15, blue 0-7).
uint32_t gAdd[kMaxGroups], gSub[kMaxGroups];

// 0 while the plain code runs in place of the vector paths.
bool gVectorCode = true;

// Rows of the target bitmap for one picture.
constexpr uint32_t kMaxRows = 4096;
uint32_t* gRows[kMaxRows];

// count outputs at positions k x step from n inputs in[0], in[inStep], ...
void Resample(const uint32_t* in, uint32_t inStep, uint32_t n, uint32_t step, uint32_t* out, uint32_t count,
              uint32_t outStep)
{
    if (n == 0) return;
    uint32_t pos = 0;
    for (uint32_t k = 0; k < count; k++, pos += step) {
        uint32_t i = pos >> 12, f = (pos >> 4) & 255;
        if (i > n - 1) i = n - 1;
        uint32_t a = in[(size_t)i * inStep];
        uint32_t b = i + 1 < n ? in[(size_t)(i + 1) * inStep] : a;
        out[(size_t)k * outStep] = (a * (256 - f) + b * f) >> 8;
    }
}

void Lanes(uint32_t u, uint32_t v, uint32_t* add, uint32_t* sub)
{
    int32_t d[3];
    Render_ChromaOffsets(u, v, &d[0], &d[1], &d[2]);
    uint32_t a = 0, s = 0;
    for (int i = 0; i < 3; i++) {
        uint32_t shift = 16 - 8 * i;
        if (d[i] < 0) s |= (uint32_t)-d[i] << shift;
        else a |= (uint32_t)d[i] << shift;
    }
    *add = a;
    *sub = s;
}

// Grey (luma in red, green and blue) plus add, minus sub, per byte with
// saturation.
inline uint32_t LanePixel(uint32_t y, uint32_t add, uint32_t sub)
{
    uint32_t out = 0;
    for (uint32_t shift = 0; shift < 24; shift += 8) {
        uint32_t t = y + ((add >> shift) & 255);
        if (t > 255) t = 255;
        uint32_t s = (sub >> shift) & 255;
        out |= (t > s ? t - s : 0) << shift;
    }
    return out;
}

// count pixels of one output row; the 4 pixels of group g share its lanes.
template <typename T>
void ConvertRow(const T* luma, uint32_t count, uint32_t* px)
{
    uint32_t x = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; gVectorCode && x + 4 <= count; x += 4) {
        __m128i y;
        if (sizeof(T) == 1) {
            int32_t four;
            memcpy(&four, luma + x, 4);
            y = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero), zero);
        } else {
            y = _mm_loadu_si128((const __m128i*)(luma + x));
        }
        __m128i grey = _mm_or_si128(y, _mm_or_si128(_mm_slli_epi32(y, 8), _mm_slli_epi32(y, 16)));
        __m128i add = _mm_set1_epi32((int32_t)gAdd[x / 4]), sub = _mm_set1_epi32((int32_t)gSub[x / 4]);
        _mm_storeu_si128((__m128i*)(px + x), _mm_subs_epu8(_mm_adds_epu8(grey, add), sub));
    }
#endif
    for (; x < count; x++) px[x] = LanePixel(luma[x], gAdd[x / 4], gSub[x / 4]);
}

inline void Fill(uint32_t* row, uint32_t from, uint32_t to, uint32_t limit)
{
    if (to > limit) to = limit;
    for (uint32_t x = from; x < to; x++) row[x] = kGrey;
}

// Positions of one resampling pass, the same for every row or column:
// the two inputs and the weight of the second.
struct TTaps {
    uint32_t first[kMaxSourceRows + 1];
    uint32_t second[kMaxSourceRows + 1];
    uint32_t weight[kMaxSourceRows + 1];
};
TTaps gTapsX, gTapsY;

void MakeTaps(TTaps* t, uint32_t n, uint32_t step, uint32_t count)
{
    uint32_t pos = 0;
    for (uint32_t k = 0; k < count; k++, pos += step) {
        uint32_t i = pos >> 12;
        if (i > n - 1) i = n - 1;
        t->first[k] = i;
        t->second[k] = i + 1 < n ? i + 1 : n - 1; // the place after the last repeats it
        t->weight[k] = (pos >> 4) & 255;
    }
}

// Row pass: count outputs of one row, stored row by row so that the column
// pass below runs along whole rows.
inline void RowPass(const uint8_t* in, const TTaps& t, uint32_t count, uint32_t* out)
{
    for (uint32_t k = 0; k < count; k++) {
        uint32_t f = t.weight[k];
        out[k] = (in[t.first[k]] * (256 - f) + in[t.second[k]] * f) >> 8;
    }
}

// Column pass for output row k: every column at once from two rows.
inline void ColumnPass(const uint32_t* rows, uint32_t rowStride, const TTaps& t, uint32_t k, uint32_t count,
                       uint32_t* out)
{
    const uint32_t* a = rows + (size_t)t.first[k] * rowStride;
    const uint32_t* b = rows + (size_t)t.second[k] * rowStride;
    uint32_t f = t.weight[k], g = 256 - f;
    uint32_t x = 0;
#if defined(__SSE2__)
    // Two 16-bit pairs (a, b) x (g, f) per 32-bit lane: one multiply-add.
    const __m128i weights = _mm_set1_epi32((int32_t)(f << 16 | g));
    for (; gVectorCode && x + 4 <= count; x += 4) {
        __m128i pair = _mm_or_si128(_mm_loadu_si128((const __m128i*)(a + x)),
                                    _mm_slli_epi32(_mm_loadu_si128((const __m128i*)(b + x)), 16));
        _mm_storeu_si128((__m128i*)(out + x), _mm_srli_epi32(_mm_madd_epi16(pair, weights), 8));
    }
#endif
    for (; x < count; x++) out[x] = (a[x] * g + b[x] * f) >> 8;
}

#if defined(__SSE2__)
// The luma row pass 8 outputs at a time: one 16-byte load holds both taps
// of 8 neighbouring outputs (steps up to 2 inputs), a byte shuffle puts
// them in pairs and one multiply-add of 16-bit pairs weighs them.
struct TRowGroups {
    uint32_t count;                  // whole groups of 8 outputs
    uint32_t base[DISPLAY_MAX_WIDTH / 8];
    alignas(16) uint8_t shuffle[DISPLAY_MAX_WIDTH / 8][16];
    alignas(16) int16_t weights[DISPLAY_MAX_WIDTH / 8][16];
};
TRowGroups gRowGroups;

bool gHaveShuffle = (__builtin_cpu_init(), __builtin_cpu_supports("ssse3"));

// 0 when some group's taps do not fit in 16 bytes.
uint32_t MakeRowGroups(const TTaps& t, uint32_t count)
{
    uint32_t groups = count / 8;
    for (uint32_t g = 0; g < groups; g++) {
        uint32_t base = t.first[8 * g];
        gRowGroups.base[g] = base;
        for (uint32_t j = 0; j < 8; j++) {
            uint32_t k = 8 * g + j, a = t.first[k] - base, b = t.second[k] - base;
            if (a > 15 || b > 15) return gRowGroups.count = 0;
            gRowGroups.shuffle[g][2 * j] = (uint8_t)a;
            gRowGroups.shuffle[g][2 * j + 1] = (uint8_t)b;
            gRowGroups.weights[g][2 * j] = (int16_t)(256 - t.weight[k]);
            gRowGroups.weights[g][2 * j + 1] = (int16_t)t.weight[k];
        }
    }
    return gRowGroups.count = groups;
}

// The row must be readable 16 bytes past each group's first tap (the work
// rows' right margin).
__attribute__((target("ssse3"))) void RowPassGroups(const uint8_t* in, uint32_t* out)
{
    const __m128i zero = _mm_setzero_si128();
    for (uint32_t g = 0; g < gRowGroups.count; g++) {
        __m128i bytes = _mm_loadu_si128((const __m128i*)(in + gRowGroups.base[g]));
        __m128i pairs = _mm_shuffle_epi8(bytes, _mm_load_si128((const __m128i*)gRowGroups.shuffle[g]));
        __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi8(pairs, zero), _mm_load_si128((const __m128i*)&gRowGroups.weights[g][0]));
        __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi8(pairs, zero), _mm_load_si128((const __m128i*)&gRowGroups.weights[g][8]));
        _mm_storeu_si128((__m128i*)(out + 8 * g), _mm_srli_epi32(lo, 8));
        _mm_storeu_si128((__m128i*)(out + 8 * g + 4), _mm_srli_epi32(hi, 8));
    }
}
#endif

void ScaleLuma(const TRenderJob* job, uint32_t sh2)
{
    uint32_t sw = job->scaleWidth, tw = job->targetWidth, th = job->targetHeight;
    MakeTaps(&gTapsX, sw, (sw << 12) / tw, tw);
    MakeTaps(&gTapsY, sh2, (sh2 << 12) / th, th);
#if defined(__SSE2__)
    if (gVectorCode && gHaveShuffle && MakeRowGroups(gTapsX, tw)) {
        uint32_t done = gRowGroups.count * 8;
        for (uint32_t r = 0; r < sh2; r++) {
            const uint8_t* in = Render_WorkRow(job->width, r);
            uint32_t* out = gLumaColumns + (size_t)r * tw;
            RowPassGroups(in, out);
            for (uint32_t k = done; k < tw; k++) {
                uint32_t f = gTapsX.weight[k];
                out[k] = (in[gTapsX.first[k]] * (256 - f) + in[gTapsX.second[k]] * f) >> 8;
            }
        }
    } else
#endif
    for (uint32_t r = 0; r < sh2; r++) RowPass(Render_WorkRow(job->width, r), gTapsX, tw, gLumaColumns + (size_t)r * tw);
    for (uint32_t y = 0; y < th; y++) ColumnPass(gLumaColumns, tw, gTapsY, y, tw, gScaledLuma + (size_t)y * kOutStride);
}

void ScaleChroma(const TRenderJob* job, uint32_t sh2, const uint8_t* plane, uint32_t* columns, uint32_t* scaled)
{
    uint32_t sw = job->scaleWidth, tw = job->targetWidth, th = job->targetHeight;
    uint32_t chromaWidth = (job->width + 1) / 2, chromaRows = (job->height + 1) / 2;
    uint32_t rows = job->scaleHeight / 2 ? job->scaleHeight / 2 : 1;
    if (rows > chromaRows) rows = chromaRows;
    // Output column c stands for the chroma of output pixels 2c and 2c + 1,
    // at the luma step; only tw / 2 columns are used.
    uint32_t cols = tw / 2;
    MakeTaps(&gTapsX, chromaWidth, (sw << 12) / tw, cols);
    // Band b reads scaled row 2b (b for a field): about th / 2 rows are used.
    uint32_t needed = job->fieldFlag ? th / 4 + 1 : th / 2 + 1;
    if (needed > DISPLAY_MAX_HEIGHT / 2 + 1) needed = DISPLAY_MAX_HEIGHT / 2 + 1;
    MakeTaps(&gTapsY, rows, (sh2 << 12) / th, needed);
    for (uint32_t j = 0; j < rows; j++) RowPass(plane + (size_t)j * job->chromaStride, gTapsX, cols, columns + (size_t)j * cols);
    for (uint32_t y = 0; y < needed; y++) ColumnPass(columns, cols, gTapsY, y, cols, scaled + (size_t)y * kOutStride);
}

} // namespace

void Render_ChromaOffsets(uint32_t u, uint32_t v, int32_t* red, int32_t* green, int32_t* blue)
{
    int32_t r = (int32_t)((v * 292) >> 8) - 146;
    int32_t g = 125 - (int32_t)((v * 149 + u * 101) >> 8);
    int32_t b = (int32_t)((u * 516) >> 8) - 258;
    *red = r < -255 ? -255 : r > 255 ? 255 : r;
    *green = g < -255 ? -255 : g > 255 ? 255 : g;
    *blue = b < -255 ? -255 : b > 255 ? 255 : b;
}

uint32_t Render_YuvToPixel(uint32_t y, uint32_t u, uint32_t v)
{
    uint32_t add, sub;
    Lanes(u & 255, v & 255, &add, &sub);
    return LanePixel(y & 255, add, sub);
}

void Render_UseVectorCode(int on) { gVectorCode = on != 0; }

void Render_Resample(const uint32_t* in, uint32_t n, uint32_t* out, uint32_t count, uint32_t outStep)
{
    if (count == 0) return;
    Resample(in, 1, n, (n << 12) / count, out, count, outStep);
}

void Render_ScaleToRows(const TRenderJob* job, uint32_t* const* rows, uint32_t bw, uint32_t bh)
{
    uint32_t ox = job->xOffset, oy = job->yOffset, tw = job->targetWidth, th = job->targetHeight;
    uint32_t w = job->width, h = job->height;
    if (tw == 0 || th == 0 || w == 0 || h == 0 || w > kMaxW) return;
    // The scaler reads the work plane rows and the planes of this picture only.
    if (job->scaleWidth == 0 || job->scaleWidth > w || job->scaleHeight == 0 || job->scaleHeight > h) return;
    uint32_t sh2 = job->fieldFlag ? 2 * job->scaleHeight : job->scaleHeight;
    if (job->scale) {
        if (tw > DISPLAY_MAX_WIDTH || th > DISPLAY_MAX_HEIGHT || sh2 > kMaxSourceRows || sh2 == 0) return;
        ScaleLuma(job, sh2);
        ScaleChroma(job, sh2, job->u, gUColumns, gScaledU);
        ScaleChroma(job, sh2, job->v, gVColumns, gScaledV);
    } else if (tw > w || th > sh2) {
        return; // drawn at its own size: no more than the work plane holds
    }

    // Above and below a centred picture.
    uint32_t full = 2 * ox + tw;
    for (uint32_t r = 0; r < oy; r++) {
        if (r < bh) Fill(rows[r], 0, full, bw);
        if (oy + th + r < bh) Fill(rows[oy + th + r], 0, full, bw);
    }

    uint32_t chromaWidth = (w + 1) / 2, chromaRows = (h + 1) / 2;
    uint32_t groups = (tw + 3) / 4;
    for (uint32_t band = 0; band * 4 < th; band++) {
        if (oy + band * 4 >= bh) break;
        // One chroma row per band of 4 output rows; pixels 8g .. 8g + 3 take
        // chroma column 4g, pixels 8g + 4 .. 8g + 7 column 4g + 2.
        uint32_t crow = job->fieldFlag ? band : 2 * band;
        for (uint32_t g = 0; g < groups; g++) {
            uint32_t ccol = (g / 2) * 4 + (g & 1) * 2;
            uint32_t u, v;
            if (job->scale) {
                u = gScaledU[(size_t)crow * kOutStride + ccol];
                v = gScaledV[(size_t)crow * kOutStride + ccol];
            } else {
                uint32_t rr = crow < chromaRows ? crow : chromaRows - 1;
                uint32_t cc = ccol < chromaWidth ? ccol : chromaWidth - 1;
                u = job->u[(size_t)rr * job->chromaStride + cc];
                v = job->v[(size_t)rr * job->chromaStride + cc];
            }
            Lanes(u, v, &gAdd[g], &gSub[g]);
        }
        for (uint32_t i = 0; i < 4; i++) {
            uint32_t yy = band * 4 + i, row = oy + yy;
            if (yy >= th || row >= bh) break;
            uint32_t* out = rows[row];
            Fill(out, 0, ox, bw);
            uint32_t end = ox + tw < bw ? tw : (bw > ox ? bw - ox : 0);
            uint32_t* px = out + ox;
            if (job->scale) {
                ConvertRow(gScaledLuma + (size_t)yy * kOutStride, end, px);
            } else {
                ConvertRow(Render_WorkRow(w, yy), end, px);
            }
            Fill(out, ox + tw, full, bw);
        }
    }
}

void Render_ScaleToBitmap(TImage* image, TRenderJob* job)
{
    if (!image || !job) return;
    TBitmap* bitmap = image->Picture()->Bitmap();
    if (bitmap->PixelFormat() != pf32bit && bitmap->PixelFormat() != pfDevice) return;
    int bw = bitmap->Width(), bh = bitmap->Height();
    if (bw <= 0 || bh <= 0) return;
    uint32_t rows = (uint32_t)bh < kMaxRows ? (uint32_t)bh : kMaxRows;
    // Only the rows this picture reaches are asked for.
    uint32_t reach = 2 * job->yOffset + job->targetHeight;
    if (reach < rows) rows = reach;
    for (uint32_t r = 0; r < rows; r++) gRows[r] = (uint32_t*)bitmap->ScanLine((int)r);
    Render_ScaleToRows(job, gRows, (uint32_t)bw, rows);
}
