// Scaling and colour conversion: the prepared picture (luma from the work
// plane, chroma from the decoded planes) resampled bilinearly where the
// render job says so and converted to 32-bit pixels row by row. Two ways
// draw the same pixels: the plain code (whole-plane row and column passes,
// then the conversion; with a few SSE2/SSSE3 steps where allowed) and the
// fused code, which scales and converts one output row at a time from a
// two-row cache of row-pass results and samples only the chroma the bands
// use, in SSSE3 or AVX2 as the processor allows (chosen at run time). Owns
// the scaler's static work areas (row-pass results, scaled planes, row
// caches, the taps of each pass) and the per-band colour offsets.
#include "media/Decoder.h"
#include "media/Display.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/Graphics.h"
#include <cstring>
#if defined(__SSE2__)
#include <immintrin.h>
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
template <typename T> void ConvertRow(const T* luma, uint32_t count, uint32_t* px)
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

// Above and below a picture placed at (ox, oy) in a bw x bh target: the
// margin rows grey.
inline void FillMarginRows(uint32_t* const* rows, uint32_t ox, uint32_t oy, uint32_t tw, uint32_t th, uint32_t bw,
                           uint32_t bh)
{
    uint32_t full = 2 * ox + tw;
    for (uint32_t r = 0; r < oy; r++) {
        if (r < bh) Fill(rows[r], 0, full, bw);
        if (oy + th + r < bh) Fill(rows[oy + th + r], 0, full, bw);
    }
}

// The up to 4 output rows of one band of the picture, each with its side
// margins grey; draw(yy, end, px) writes picture row yy's first end pixels
// (those within the target) to px.
template <class Draw>
inline void PlaceBandRows(uint32_t* const* rows, uint32_t ox, uint32_t oy, uint32_t tw, uint32_t th, uint32_t bw,
                          uint32_t bh, uint32_t band, Draw draw)
{
    uint32_t full = 2 * ox + tw;
    for (uint32_t i = 0; i < 4; i++) {
        uint32_t yy = band * 4 + i, row = oy + yy;
        if (yy >= th || row >= bh) break;
        uint32_t* out = rows[row];
        Fill(out, 0, ox, bw);
        uint32_t end = ox + tw < bw ? tw : (bw > ox ? bw - ox : 0);
        draw(yy, end, out + ox);
        Fill(out, ox + tw, full, bw);
    }
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
    uint32_t count; // whole groups of 8 outputs
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
        __m128i lo =
            _mm_madd_epi16(_mm_unpacklo_epi8(pairs, zero), _mm_load_si128((const __m128i*)&gRowGroups.weights[g][0]));
        __m128i hi =
            _mm_madd_epi16(_mm_unpackhi_epi8(pairs, zero), _mm_load_si128((const __m128i*)&gRowGroups.weights[g][8]));
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
        for (uint32_t r = 0; r < sh2; r++)
            RowPass(Render_WorkRow(job->width, r), gTapsX, tw, gLumaColumns + (size_t)r * tw);
    for (uint32_t y = 0; y < th; y++) ColumnPass(gLumaColumns, tw, gTapsY, y, tw, gScaledLuma + (size_t)y * kOutStride);
}

// Chroma columns the bands of a target tw pixels wide read: column 2g for
// pixel group g (tw / 2 of them, one more when a last part group of a
// single pixel would read beyond them).
inline uint32_t ChromaColumns(uint32_t tw)
{
    uint32_t groups = (tw + 3) / 4;
    return tw / 2 > 2 * groups - 1 ? tw / 2 : 2 * groups - 1;
}

void ScaleChroma(const TRenderJob* job, uint32_t sh2, const uint8_t* plane, uint32_t* columns, uint32_t* scaled)
{
    uint32_t sw = job->scaleWidth, tw = job->targetWidth, th = job->targetHeight;
    uint32_t chromaWidth = (job->width + 1) / 2, chromaRows = (job->height + 1) / 2;
    uint32_t rows = job->scaleHeight / 2 ? job->scaleHeight / 2 : 1;
    if (rows > chromaRows) rows = chromaRows;
    // Output column c stands for the chroma of output pixels 2c and 2c + 1,
    // at the luma step; the bands read the even columns up to the last
    // pixel group's.
    uint32_t cols = ChromaColumns(tw);
    MakeTaps(&gTapsX, chromaWidth, (sw << 12) / tw, cols);
    // Band b reads scaled row 2b (b for a field): about th / 2 rows are used.
    uint32_t needed = job->fieldFlag ? th / 4 + 1 : th / 2 + 1;
    if (needed > DISPLAY_MAX_HEIGHT / 2 + 1) needed = DISPLAY_MAX_HEIGHT / 2 + 1;
    MakeTaps(&gTapsY, rows, (sh2 << 12) / th, needed);
    for (uint32_t j = 0; j < rows; j++)
        RowPass(plane + (size_t)j * job->chromaStride, gTapsX, cols, columns + (size_t)j * cols);
    for (uint32_t y = 0; y < needed; y++) ColumnPass(columns, cols, gTapsY, y, cols, scaled + (size_t)y * kOutStride);
}

// --- The fused code ---------------------------------------------------------------
//
// Per picture: the taps of the four passes and, where the taps of 8
// neighbouring outputs lie within 16 bytes of a readable row, their byte
// shuffles and weights. Per band of 4 output rows: the chroma of each pixel
// group from two cached chroma row-pass rows (or the plane itself at its own
// size), turned into add and subtract words 8 groups at a time and spread to
// one word per pixel. Per output row: the luma column pass from two cached
// row-pass rows (exact in 16 bits: a * (256 - f) + b * f < 65536), then
// 16 or 32 pixels a step.

// One row pass's vector groups: outputs 8g .. 8g + 7 take their two inputs
// from the 16 bytes at base[g].
struct TShuffleGroups {
    uint32_t count; // leading groups that fit
    uint32_t base[kMaxSourceRows / 8 + 1];
    alignas(16) uint8_t shuffle[kMaxSourceRows / 8 + 1][16];
    alignas(16) int16_t weights[kMaxSourceRows / 8 + 1][16];
};

// count outputs of taps t; a row holds readable bytes up to base + rowBytes.
void MakeShuffleGroups(const TTaps& t, uint32_t count, uint32_t rowBytes, TShuffleGroups* s)
{
    uint32_t groups = count / 8, g = 0;
    for (; g < groups; g++) {
        uint32_t base = t.first[8 * g];
        if (base + 16 > rowBytes) break;
        bool fits = true;
        for (uint32_t j = 0; j < 8; j++) {
            uint32_t k = 8 * g + j, a = t.first[k] - base, b = t.second[k] - base;
            if (t.first[k] < base || a > 15 || b > 15) {
                fits = false;
                break;
            }
            s->shuffle[g][2 * j] = (uint8_t)a;
            s->shuffle[g][2 * j + 1] = (uint8_t)b;
            s->weights[g][2 * j] = (int16_t)(256 - t.weight[k]);
            s->weights[g][2 * j + 1] = (int16_t)t.weight[k];
        }
        if (!fits) break;
        s->base[g] = base;
    }
    s->count = g;
}

// The scalar row pass for outputs from .. count - 1, into bytes.
inline void RowPassBytes(const uint8_t* in, const TTaps& t, uint32_t from, uint32_t count, uint8_t* out)
{
    for (uint32_t k = from; k < count; k++) {
        uint32_t f = t.weight[k];
        out[k] = (uint8_t)((in[t.first[k]] * (256 - f) + in[t.second[k]] * f) >> 8);
    }
}

inline void ColumnPassBytes(const uint8_t* a, const uint8_t* b, uint32_t f, uint32_t from, uint32_t count, uint8_t* out)
{
    for (uint32_t x = from; x < count; x++) out[x] = (uint8_t)((a[x] * (256 - f) + b[x] * f) >> 8);
}

// Add and subtract words of groups from .. count - 1, one word per pixel.
inline void OffsetsScalar(const uint8_t* u, const uint8_t* v, uint32_t from, uint32_t count, uint32_t* add,
                          uint32_t* sub)
{
    for (uint32_t g = from; g < count; g++) {
        uint32_t a, s;
        Lanes(u[g], v[g], &a, &s);
        for (uint32_t i = 0; i < 4; i++) {
            add[4 * g + i] = a;
            sub[4 * g + i] = s;
        }
    }
}

inline void ConvertScalar(const uint8_t* luma, const uint32_t* add, const uint32_t* sub, uint32_t from, uint32_t count,
                          uint32_t* px)
{
    for (uint32_t x = from; x < count; x++) px[x] = LanePixel(luma[x], add[x], sub[x]);
}

// The vector steps of one processor level.
struct TKernels {
    void (*rowPass)(const uint8_t* in, const TTaps& t, const TShuffleGroups& s, uint32_t count, uint8_t* out);
    void (*columnPass)(const uint8_t* a, const uint8_t* b, uint32_t f, uint32_t count, uint8_t* out);
    void (*offsets)(const uint8_t* u, const uint8_t* v, uint32_t groups, uint32_t* add, uint32_t* sub);
    void (*convert)(const uint8_t* luma, const uint32_t* add, const uint32_t* sub, uint32_t count, uint32_t* px);
};

#if defined(__SSE2__)
// clang takes the target for the whole block as an attribute of each function
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("ssse3"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("ssse3")
#endif
namespace ssse3 {

// 8 groups' offsets (the formula of Render_ChromaOffsets; only blue can
// reach past -255), spread to 32 pixel words of add and of subtract.
inline void Offsets8(__m128i u8, __m128i v8, uint32_t* add, uint32_t* sub)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i u16 = _mm_unpacklo_epi8(u8, zero), v16 = _mm_unpacklo_epi8(v8, zero);
    __m128i red = _mm_sub_epi16(_mm_mulhi_epu16(_mm_slli_epi16(v16, 8), _mm_set1_epi16(292)), _mm_set1_epi16(146));
    __m128i blue = _mm_sub_epi16(_mm_mulhi_epu16(_mm_slli_epi16(u16, 8), _mm_set1_epi16(516)), _mm_set1_epi16(258));
    blue = _mm_max_epi16(blue, _mm_set1_epi16(-255));
    const __m128i vu = _mm_set1_epi32(101 << 16 | 149);
    __m128i g0 = _mm_srli_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(v16, u16), vu), 8);
    __m128i g1 = _mm_srli_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(v16, u16), vu), 8);
    __m128i green = _mm_sub_epi16(_mm_set1_epi16(125), _mm_packs_epi32(g0, g1));
    // Positive parts add, negative parts subtract, as bytes.
    __m128i addB = _mm_packus_epi16(blue, zero), subB = _mm_packus_epi16(_mm_sub_epi16(zero, blue), zero);
    __m128i addG = _mm_packus_epi16(green, zero), subG = _mm_packus_epi16(_mm_sub_epi16(zero, green), zero);
    __m128i addR = _mm_packus_epi16(red, zero), subR = _mm_packus_epi16(_mm_sub_epi16(zero, red), zero);
    __m128i addBG = _mm_unpacklo_epi8(addB, addG), addR0 = _mm_unpacklo_epi8(addR, zero);
    __m128i subBG = _mm_unpacklo_epi8(subB, subG), subR0 = _mm_unpacklo_epi8(subR, zero);
    const __m128i words[4] = {_mm_unpacklo_epi16(addBG, addR0), _mm_unpackhi_epi16(addBG, addR0),
                              _mm_unpacklo_epi16(subBG, subR0), _mm_unpackhi_epi16(subBG, subR0)};
    for (int half = 0; half < 2; half++) {
        __m128i a = words[half], s = words[2 + half];
        __m128i* ad = (__m128i*)(add + 16 * half);
        __m128i* sd = (__m128i*)(sub + 16 * half);
        _mm_storeu_si128(ad + 0, _mm_shuffle_epi32(a, 0x00));
        _mm_storeu_si128(ad + 1, _mm_shuffle_epi32(a, 0x55));
        _mm_storeu_si128(ad + 2, _mm_shuffle_epi32(a, 0xAA));
        _mm_storeu_si128(ad + 3, _mm_shuffle_epi32(a, 0xFF));
        _mm_storeu_si128(sd + 0, _mm_shuffle_epi32(s, 0x00));
        _mm_storeu_si128(sd + 1, _mm_shuffle_epi32(s, 0x55));
        _mm_storeu_si128(sd + 2, _mm_shuffle_epi32(s, 0xAA));
        _mm_storeu_si128(sd + 3, _mm_shuffle_epi32(s, 0xFF));
    }
}

inline __m128i RowGroup(const uint8_t* in, const TShuffleGroups& s, uint32_t g)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i bytes = _mm_loadu_si128((const __m128i*)(in + s.base[g]));
    __m128i pairs = _mm_shuffle_epi8(bytes, _mm_load_si128((const __m128i*)s.shuffle[g]));
    __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi8(pairs, zero), _mm_load_si128((const __m128i*)&s.weights[g][0]));
    __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi8(pairs, zero), _mm_load_si128((const __m128i*)&s.weights[g][8]));
    __m128i words = _mm_packs_epi32(_mm_srli_epi32(lo, 8), _mm_srli_epi32(hi, 8));
    return _mm_packus_epi16(words, words); // 8 outputs in the low half
}

void RowPass(const uint8_t* in, const TTaps& t, const TShuffleGroups& s, uint32_t count, uint8_t* out)
{
    uint32_t g = 0;
    for (; g < s.count; g++) _mm_storel_epi64((__m128i*)(out + 8 * g), RowGroup(in, s, g));
    RowPassBytes(in, t, 8 * g, count, out);
}

inline __m128i Blend16(__m128i a, __m128i b, __m128i g, __m128i f)
{
    const __m128i zero = _mm_setzero_si128();
    __m128i lo =
        _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), g), _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), f));
    __m128i hi =
        _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), g), _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), f));
    return _mm_packus_epi16(_mm_srli_epi16(lo, 8), _mm_srli_epi16(hi, 8));
}

void ColumnPass(const uint8_t* a, const uint8_t* b, uint32_t f, uint32_t count, uint8_t* out)
{
    const __m128i fw = _mm_set1_epi16((int16_t)f), gw = _mm_set1_epi16((int16_t)(256 - f));
    uint32_t x = 0;
    for (; x + 16 <= count; x += 16)
        _mm_storeu_si128((__m128i*)(out + x), Blend16(_mm_loadu_si128((const __m128i*)(a + x)),
                                                      _mm_loadu_si128((const __m128i*)(b + x)), gw, fw));
    ColumnPassBytes(a, b, f, x, count, out);
}

void Offsets(const uint8_t* u, const uint8_t* v, uint32_t groups, uint32_t* add, uint32_t* sub)
{
    uint32_t g = 0;
    for (; g + 8 <= groups; g += 8) {
        __m128i u8 = _mm_loadl_epi64((const __m128i*)(u + g)), v8 = _mm_loadl_epi64((const __m128i*)(v + g));
        Offsets8(u8, v8, add + 4 * g, sub + 4 * g);
    }
    OffsetsScalar(u, v, g, groups, add, sub);
}

void Convert(const uint8_t* luma, const uint32_t* add, const uint32_t* sub, uint32_t count, uint32_t* px)
{
    // Luma byte i of 4 into blue, green and red; the top byte stays 0
    // (a shuffle index with bit 7 set gives 0, also after adding 4 or 8).
    const __m128i m0 = _mm_setr_epi8(0, 0, 0, -128, 1, 1, 1, -128, 2, 2, 2, -128, 3, 3, 3, -128);
    const __m128i four = _mm_set1_epi8(4);
    uint32_t x = 0;
    for (; x + 16 <= count; x += 16) {
        __m128i y = _mm_loadu_si128((const __m128i*)(luma + x));
        __m128i m = m0;
        for (uint32_t i = 0; i < 16; i += 4, m = _mm_add_epi8(m, four)) {
            __m128i grey = _mm_shuffle_epi8(y, m);
            __m128i p = _mm_subs_epu8(_mm_adds_epu8(grey, _mm_loadu_si128((const __m128i*)(add + x + i))),
                                      _mm_loadu_si128((const __m128i*)(sub + x + i)));
            _mm_storeu_si128((__m128i*)(px + x + i), p);
        }
    }
    ConvertScalar(luma, add, sub, x, count, px);
}

} // namespace ssse3
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {

void RowPass(const uint8_t* in, const TTaps& t, const TShuffleGroups& s, uint32_t count, uint8_t* out)
{
    const __m256i zero = _mm256_setzero_si256();
    uint32_t g = 0;
    for (; g + 2 <= s.count; g += 2) {
        __m256i bytes =
            _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128((const __m128i*)(in + s.base[g]))),
                                    _mm_loadu_si128((const __m128i*)(in + s.base[g + 1])), 1);
        __m256i mask = _mm256_loadu_si256((const __m256i*)s.shuffle[g]); // groups g and g + 1 side by side
        __m256i pairs = _mm256_shuffle_epi8(bytes, mask);
        __m256i wlo = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_load_si128((const __m128i*)&s.weights[g][0])),
                                              _mm_load_si128((const __m128i*)&s.weights[g + 1][0]), 1);
        __m256i whi = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_load_si128((const __m128i*)&s.weights[g][8])),
                                              _mm_load_si128((const __m128i*)&s.weights[g + 1][8]), 1);
        __m256i lo = _mm256_srli_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi8(pairs, zero), wlo), 8);
        __m256i hi = _mm256_srli_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi8(pairs, zero), whi), 8);
        __m256i words = _mm256_packs_epi32(lo, hi);         // per lane: its group's 8 outputs
        __m256i bytes8 = _mm256_packus_epi16(words, words); // per lane: 8 bytes in the low half
        _mm_storel_epi64((__m128i*)(out + 8 * g), _mm256_castsi256_si128(bytes8));
        _mm_storel_epi64((__m128i*)(out + 8 * g + 8), _mm256_extracti128_si256(bytes8, 1));
    }
    for (; g < s.count; g++) _mm_storel_epi64((__m128i*)(out + 8 * g), ssse3::RowGroup(in, s, g));
    RowPassBytes(in, t, 8 * g, count, out);
}

void ColumnPass(const uint8_t* a, const uint8_t* b, uint32_t f, uint32_t count, uint8_t* out)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i fw = _mm256_set1_epi16((int16_t)f), gw = _mm256_set1_epi16((int16_t)(256 - f));
    uint32_t x = 0;
    for (; x + 32 <= count; x += 32) {
        __m256i va = _mm256_loadu_si256((const __m256i*)(a + x)), vb = _mm256_loadu_si256((const __m256i*)(b + x));
        __m256i lo = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(va, zero), gw),
                                      _mm256_mullo_epi16(_mm256_unpacklo_epi8(vb, zero), fw));
        __m256i hi = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(va, zero), gw),
                                      _mm256_mullo_epi16(_mm256_unpackhi_epi8(vb, zero), fw));
        _mm256_storeu_si256((__m256i*)(out + x),
                            _mm256_packus_epi16(_mm256_srli_epi16(lo, 8), _mm256_srli_epi16(hi, 8)));
    }
    const __m128i fw1 = _mm_set1_epi16((int16_t)f), gw1 = _mm_set1_epi16((int16_t)(256 - f));
    for (; x + 16 <= count; x += 16)
        _mm_storeu_si128((__m128i*)(out + x), ssse3::Blend16(_mm_loadu_si128((const __m128i*)(a + x)),
                                                             _mm_loadu_si128((const __m128i*)(b + x)), gw1, fw1));
    ColumnPassBytes(a, b, f, x, count, out);
}

void Convert(const uint8_t* luma, const uint32_t* add, const uint32_t* sub, uint32_t count, uint32_t* px)
{
    // Both lanes hold the same 16 luma bytes; the low lane takes pixels
    // 0 .. 3 (8 .. 11), the high lane 4 .. 7 (12 .. 15).
    const __m256i m0 = _mm256_setr_epi8(0, 0, 0, -128, 1, 1, 1, -128, 2, 2, 2, -128, 3, 3, 3, -128, 4, 4, 4, -128, 5, 5,
                                        5, -128, 6, 6, 6, -128, 7, 7, 7, -128);
    const __m256i m1 = _mm256_add_epi8(m0, _mm256_set1_epi8(8));
    uint32_t x = 0;
    for (; x + 16 <= count; x += 16) {
        __m256i y = _mm256_broadcastsi128_si256(_mm_loadu_si128((const __m128i*)(luma + x)));
        __m256i p0 = _mm256_subs_epu8(
            _mm256_adds_epu8(_mm256_shuffle_epi8(y, m0), _mm256_loadu_si256((const __m256i*)(add + x))),
            _mm256_loadu_si256((const __m256i*)(sub + x)));
        __m256i p1 = _mm256_subs_epu8(
            _mm256_adds_epu8(_mm256_shuffle_epi8(y, m1), _mm256_loadu_si256((const __m256i*)(add + x + 8))),
            _mm256_loadu_si256((const __m256i*)(sub + x + 8)));
        _mm256_storeu_si256((__m256i*)(px + x), p0);
        _mm256_storeu_si256((__m256i*)(px + x + 8), p1);
    }
    ConvertScalar(luma, add, sub, x, count, px);
}

} // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

const TKernels kSsse3 = {ssse3::RowPass, ssse3::ColumnPass, ssse3::Offsets, ssse3::Convert};
const TKernels kAvx2 = {avx2::RowPass, avx2::ColumnPass, ssse3::Offsets, avx2::Convert};
#endif

// The row-pass results of two source rows of one plane, kept while
// successive output rows read them.
struct TRowCache {
    int32_t row[2];
    alignas(32) uint8_t data[2][kMaxW + 64];
};
TRowCache gLumaCache, gUCache, gVCache;
TTaps gChromaTapsX, gChromaTapsY;
TShuffleGroups gLumaGroups, gChromaGroups;

// Source row r's row-pass results, keeping those of row keep.
const uint8_t* CachedRow(TRowCache* c, int32_t r, int32_t keep, const uint8_t* in, const TTaps& t,
                         const TShuffleGroups& s, uint32_t count, const TKernels& k)
{
    if (c->row[0] == r) return c->data[0];
    if (c->row[1] == r) return c->data[1];
    int slot = c->row[0] == keep ? 1 : 0;
    k.rowPass(in, t, s, count, c->data[slot]);
    c->row[slot] = r;
    return c->data[slot];
}

alignas(32) uint8_t gLumaRow[kMaxW + 64];
alignas(32) uint8_t gChromaRow[kMaxW + 64];
alignas(32) uint8_t gBandU[kMaxGroups + 16], gBandV[kMaxGroups + 16];
alignas(32) uint32_t gPixelAdd[4 * kMaxGroups + 64], gPixelSub[4 * kMaxGroups + 64];

// out[g] = in[2g] for the leading groups whose 16 bytes lie within
// readable bytes; returns how many were done.
uint32_t EvenBytes(const uint8_t* in, uint32_t readable, uint32_t groups, uint8_t* out)
{
    uint32_t g = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi16(0x00FF);
    for (; g + 8 <= groups && 2 * g + 16 <= readable; g += 8) {
        __m128i bytes = _mm_and_si128(_mm_loadu_si128((const __m128i*)(in + 2 * g)), low);
        _mm_storel_epi64((__m128i*)(out + g), _mm_packus_epi16(bytes, bytes));
    }
#endif
    for (; g < groups && 2 * g < readable; g++) out[g] = in[2 * g];
    return g;
}

// The chroma of every group of a band in one plane: scaled, the column
// pass at the even columns of two cached rows; at its own size, the
// plane's even columns (the last column standing in beyond the plane).
void BandChroma(const TRenderJob* job, const uint8_t* plane, TRowCache* cache, uint32_t crow, uint32_t groups,
                const TKernels& k, uint8_t* out)
{
    uint32_t chromaWidth = (job->width + 1) / 2, chromaRows = (job->height + 1) / 2;
    if (job->scale) {
        int32_t a = (int32_t)gChromaTapsY.first[crow], b = (int32_t)gChromaTapsY.second[crow];
        uint32_t cols = ChromaColumns(job->targetWidth);
        const uint8_t* ra =
            CachedRow(cache, a, b, plane + (size_t)a * job->chromaStride, gChromaTapsX, gChromaGroups, cols, k);
        const uint8_t* rb =
            CachedRow(cache, b, a, plane + (size_t)b * job->chromaStride, gChromaTapsX, gChromaGroups, cols, k);
        k.columnPass(ra, rb, gChromaTapsY.weight[crow], 2 * groups - 1, gChromaRow);
        // The row buffer is readable past its 2 * groups - 1 results.
        EvenBytes(gChromaRow, 2 * groups + 15, groups, out);
    } else {
        uint32_t rr = crow < chromaRows ? crow : chromaRows - 1;
        const uint8_t* row = plane + (size_t)rr * job->chromaStride;
        uint32_t g = EvenBytes(row, chromaWidth, groups, out);
        for (; g < groups; g++) out[g] = row[2 * g < chromaWidth ? 2 * g : chromaWidth - 1];
    }
}

// Luma row r of the prepared picture.
inline const uint8_t* LumaRow(const TRenderJob* job, uint32_t r)
{
    return job->lumaInPlace ? job->y + (size_t)r * job->yStride : Render_WorkRow(job->width, r);
}

void FusedScaleToRows(const TRenderJob* job, uint32_t* const* rows, uint32_t bw, uint32_t bh, const TKernels& k)
{
    uint32_t ox = job->xOffset, oy = job->yOffset, tw = job->targetWidth, th = job->targetHeight;
    uint32_t w = job->width, h = job->height;
    uint32_t sh2 = job->fieldFlag ? 2 * job->scaleHeight : job->scaleHeight;
    uint32_t groups = (tw + 3) / 4;
    if (job->scale) {
        uint32_t sw = job->scaleWidth, stepX = (sw << 12) / tw, stepY = (sh2 << 12) / th;
        MakeTaps(&gTapsX, sw, stepX, tw);
        MakeTaps(&gTapsY, sh2, stepY, th);
        // The work rows are readable well past their last pixel (margins);
        // the decoded plane's rows only up to it.
        MakeShuffleGroups(gTapsX, tw, job->lumaInPlace ? w : sw + 16, &gLumaGroups);
        uint32_t chromaWidth = (w + 1) / 2, chromaRows = (h + 1) / 2;
        uint32_t crows = job->scaleHeight / 2 ? job->scaleHeight / 2 : 1;
        if (crows > chromaRows) crows = chromaRows;
        uint32_t cols = ChromaColumns(tw);
        MakeTaps(&gChromaTapsX, chromaWidth, stepX, cols);
        uint32_t needed = job->fieldFlag ? th / 4 + 1 : th / 2 + 1;
        if (needed > DISPLAY_MAX_HEIGHT / 2 + 1) needed = DISPLAY_MAX_HEIGHT / 2 + 1;
        MakeTaps(&gChromaTapsY, crows, stepY, needed);
        // The planes are read no further than each row's last chroma pixel.
        MakeShuffleGroups(gChromaTapsX, cols, chromaWidth, &gChromaGroups);
        gLumaCache.row[0] = gLumaCache.row[1] = -1;
        gUCache.row[0] = gUCache.row[1] = -1;
        gVCache.row[0] = gVCache.row[1] = -1;
    }

    // Above and below a centred picture.
    FillMarginRows(rows, ox, oy, tw, th, bw, bh);

    for (uint32_t band = 0; band * 4 < th; band++) {
        if (oy + band * 4 >= bh) break;
        uint32_t crow = job->fieldFlag ? band : 2 * band;
        BandChroma(job, job->u, &gUCache, crow, groups, k, gBandU);
        BandChroma(job, job->v, &gVCache, crow, groups, k, gBandV);
        k.offsets(gBandU, gBandV, groups, gPixelAdd, gPixelSub);
        PlaceBandRows(rows, ox, oy, tw, th, bw, bh, band, [&](uint32_t yy, uint32_t end, uint32_t* px) {
            const uint8_t* luma;
            if (job->scale) {
                int32_t a = (int32_t)gTapsY.first[yy], b = (int32_t)gTapsY.second[yy];
                const uint8_t* ra = CachedRow(&gLumaCache, a, b, LumaRow(job, (uint32_t)a), gTapsX, gLumaGroups, tw, k);
                const uint8_t* rb = CachedRow(&gLumaCache, b, a, LumaRow(job, (uint32_t)b), gTapsX, gLumaGroups, tw, k);
                k.columnPass(ra, rb, gTapsY.weight[yy], end, gLumaRow);
                luma = gLumaRow;
            } else {
                luma = LumaRow(job, yy);
            }
            k.convert(luma, gPixelAdd, gPixelSub, end, px);
        });
    }
    (void)h;
}

// The code that runs: the best the processor has, unless a test chose.
int32_t gPath = -1;

int32_t BestPath()
{
#if defined(__SSE2__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return RENDER_PATH_AVX2;
    if (__builtin_cpu_supports("ssse3")) return RENDER_PATH_SSSE3;
    return RENDER_PATH_SSE2;
#else
    return RENDER_PATH_PLAIN;
#endif
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

void Render_UseVectorCode(int on) { gPath = on ? BestPath() : RENDER_PATH_PLAIN; }

int Render_UsePath(int32_t path)
{
    int32_t best = BestPath();
    if (path < RENDER_PATH_PLAIN || path > best) return 0;
    gPath = path;
    return 1;
}

void Render_Resample(const uint32_t* in, uint32_t n, uint32_t* out, uint32_t count, uint32_t outStep)
{
    if (count == 0) return;
    Resample(in, 1, n, (n << 12) / count, out, count, outStep);
}

namespace {

// The plain code: whole planes scaled first, then converted band by band.
void PlainScaleToRows(const TRenderJob* job, uint32_t* const* rows, uint32_t bw, uint32_t bh)
{
    uint32_t ox = job->xOffset, oy = job->yOffset, tw = job->targetWidth, th = job->targetHeight;
    uint32_t w = job->width, h = job->height;
    uint32_t sh2 = job->fieldFlag ? 2 * job->scaleHeight : job->scaleHeight;
    if (job->scale) {
        ScaleLuma(job, sh2);
        ScaleChroma(job, sh2, job->u, gUColumns, gScaledU);
        ScaleChroma(job, sh2, job->v, gVColumns, gScaledV);
    }

    // Above and below a centred picture.
    FillMarginRows(rows, ox, oy, tw, th, bw, bh);

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
        PlaceBandRows(rows, ox, oy, tw, th, bw, bh, band, [&](uint32_t yy, uint32_t end, uint32_t* px) {
            if (job->scale) {
                ConvertRow(gScaledLuma + (size_t)yy * kOutStride, end, px);
            } else {
                ConvertRow(Render_WorkRow(w, yy), end, px);
            }
        });
    }
}

} // namespace

void Render_ScaleToRows(const TRenderJob* job, uint32_t* const* rows, uint32_t bw, uint32_t bh)
{
    uint32_t tw = job->targetWidth, th = job->targetHeight, w = job->width, h = job->height;
    if (tw == 0 || th == 0 || w == 0 || h == 0 || w > kMaxW) return;
    // The scaler reads the work plane rows and the planes of this picture only.
    if (job->scaleWidth == 0 || job->scaleWidth > w || job->scaleHeight == 0 || job->scaleHeight > h) return;
    uint32_t sh2 = job->fieldFlag ? 2 * job->scaleHeight : job->scaleHeight;
    if (job->scale) {
        if (tw > DISPLAY_MAX_WIDTH || th > DISPLAY_MAX_HEIGHT || sh2 > kMaxSourceRows || sh2 == 0) return;
    } else if (tw > w || th > sh2) {
        return; // drawn at its own size: no more than the work plane holds
    }
    if (gPath < 0) gPath = BestPath();
    gVectorCode = gPath != RENDER_PATH_PLAIN;
    switch (gPath) {
#if defined(__SSE2__)
    case RENDER_PATH_AVX2: FusedScaleToRows(job, rows, bw, bh, kAvx2); break;
    case RENDER_PATH_SSSE3: FusedScaleToRows(job, rows, bw, bh, kSsse3); break;
#endif
    default:
        if (job->lumaInPlace) {
            // The plain code reads the work plane only.
            TRenderJob copy = *job;
            Render_CopyPlanes(&copy);
        }
        PlainScaleToRows(job, rows, bw, bh);
        break;
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
