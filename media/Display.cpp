// Picture display: fitting, the field filter (motion-adaptive,
// edge-directed deinterlacing and line doubling), the plain copy and the
// time labels. Owns the work luma plane, the previous luma picture, the
// block motion tables and the direction search tables, all static and
// sized for the largest picture the decoder channels accept.
#include "media/Display.h"
#include "media/Hooks.h"
#include "link/ViewRecord.h"
#include "link/Conn.h"
#include "media/DateText.h"
#include "media/Decoder.h"
#include "media/Stream.h"
#include "platform/win/Win.h"
#include <cstring>

namespace {

constexpr uint32_t kMaxW = DECODER_MAX_WIDTH;
constexpr uint32_t kMaxH = DECODER_MAX_HEIGHT;
constexpr uint32_t kWorkStrideMax = kMaxW + 2 * WORK_MARGIN_BYTES;
// A field picture has fewer than 356 lines (its ratio test), so the doubled
// plane stays below 2 x kMaxH rows; a frame needs kMaxH + 1.
constexpr uint32_t kWorkRows = 2 * kMaxH + 2 + 2 * WORK_MARGIN_ROWS;
alignas(64) uint8_t gWorkLuma[kWorkStrideMax * kWorkRows];

// The previous deinterlaced picture's luma, rows of (w AND ~3) bytes.
alignas(64) uint8_t gPrevLuma[kMaxW * kMaxH];

// Block motion: one band per 16 lines, one entry per 16 pixels.
constexpr uint32_t kBands = kMaxH / 16;
constexpr uint32_t kGroups = kMaxW / 16;
struct TMotionEntry {
    uint32_t still; // 0 .. 2
    uint32_t sum;   // saturates at 65535
};
TMotionEntry gMotion[kBands][kGroups];
uint32_t gOddSums[kBands][kGroups];

// Direction search: one cost byte per direction -7..+7 for each 8-pixel
// block; bit 7 marks the direction the left-to-right pass started with.
constexpr uint32_t kBlocks = kMaxW / 8;
constexpr uint32_t kCacheBytes = kBlocks * 15;
uint8_t gCostCache[kCacheBytes];
int32_t gLeftDirection[kMaxW];
int32_t gRightDirection[kMaxW];

inline uint32_t Diff(uint32_t a, uint32_t b) { return a >= b ? a - b : b - a - 1; }

// Every second pixel of an 8-pixel run (each run read as one word).
inline uint32_t Sad4(const uint8_t* p, const uint8_t* q)
{
    uint64_t a, b;
    memcpy(&a, p, 8);
    memcpy(&b, q, 8);
    uint32_t sum = 0;
    for (uint32_t shift = 0; shift < 64; shift += 16)
        sum += Diff((uint32_t)(a >> shift) & 0xFF, (uint32_t)(b >> shift) & 0xFF);
    return sum;
}

inline uint32_t SatAdd(uint32_t a, uint32_t b)
{
    uint32_t s = a + b;
    return s > 65535 ? 65535 : s;
}

inline int32_t Clamp7(int32_t e) { return e < -7 ? -7 : e > 7 ? 7 : e; }

// n pixels (at most 8) of a missing row, each the mean of the pixel above
// at +f and the one below at -f; one load of each row.
inline void AlongDirection(uint8_t* out, const uint8_t* above, const uint8_t* below, int32_t f, uint32_t n)
{
    uint8_t a[8], b[8];
    memcpy(a, above + f, n);
    memcpy(b, below - f, n);
    for (uint32_t i = 0; i < n; i++) out[i] = (uint8_t)(((uint32_t)a[i] + b[i]) / 2);
}

// Stores a cost as a 32-bit little-endian value at the byte of (block, e):
// the cost byte and three zero bytes, none of them outside the cache.
void CacheWrite(int32_t block, int32_t e, uint32_t nBlocks, uint32_t cost)
{
    int32_t at = block * 15 + e + 7;
    int32_t end = (int32_t)(nBlocks * 15);
    if (at >= 0 && at + 4 <= end) {
        const uint8_t word[4] = {(uint8_t)cost, 0, 0, 0};
        memcpy(gCostCache + at, word, 4);
        return;
    }
    for (int32_t i = 0; i < 4; i++) {
        int32_t k = at + i;
        if (k >= 0 && k < end) gCostCache[k] = i == 0 ? (uint8_t)cost : 0;
    }
}

uint8_t CacheRead(int32_t block, int32_t e, uint32_t nBlocks)
{
    int32_t k = block * 15 + e + 7;
    if (k < 0 || k >= (int32_t)(nBlocks * 15)) return 0;
    return gCostCache[k];
}

struct TSearchLines {
    const uint8_t* above; // work row 2k
    const uint8_t* below; // work row 2k + 2
    uint32_t nBlocks;
};

inline uint32_t CandidateCost(const TSearchLines& l, int32_t x, int32_t e, uint32_t bias, bool clampTerm)
{
    int32_t m = clampTerm ? Clamp7(e) : e;
    uint32_t a = m < 0 ? (uint32_t)-m : (uint32_t)m;
    uint32_t raw = SatAdd((bias + 8) * 4 + (a * 4) / 2, Sad4(l.above + x + e, l.below + x - e));
    return raw / 16;
}

uint32_t BestSlot(const uint32_t* costs)
{
    uint32_t best = 0;
    for (uint32_t i = 1; i < 8; i++)
        if (costs[i] < costs[best]) best = i;
    return best;
}

int32_t DirectionOfSlot(uint32_t slot, int32_t d)
{
    switch (slot) {
    case 2: return Clamp7(d - 1);
    case 4: return Clamp7(d + 1);
    case 6: return 0;
    case 7: return Clamp7(-d);
    default: return Clamp7(d);
    }
}

// Left to right: searches the block at x with running direction d.
int32_t SearchLeft(const TSearchLines& l, int32_t block, int32_t d)
{
    int32_t x = block * 8;
    // The eight cost slots, untried (65535) at the start of each block.
    uint32_t costs[8] = {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535};
    const uint32_t slots[5] = {3, 2, 4, 6, 7};
    const int32_t cand[5] = {d, d - 1, d + 1, 0, -d};
    for (uint32_t i = 0; i < 5; i++) {
        uint32_t bias = slots[i] == 7 ? 16 : 0;
        uint32_t c = CandidateCost(l, x, cand[i], bias, true);
        costs[slots[i]] = c;
        CacheWrite(block, cand[i], l.nBlocks, c);
        if (c < 8) break;
    }
    uint32_t slot = BestSlot(costs);
    uint32_t best = costs[slot];
    int32_t start = d;
    d = DirectionOfSlot(slot, d);
    if ((slot == 2 || slot == 4) && best > 8) {
        int32_t step = slot == 2 ? -1 : 1;
        int32_t e = d;
        for (int n = 0; n < 5; n++) {
            e += step;
            if (e < -7 || e > 7) break;
            uint32_t a = e < 0 ? (uint32_t)-e : (uint32_t)e;
            uint32_t c = SatAdd(8 * 4 + (a * 4) / 2, Sad4(l.above + x + e, l.below + x - e)) / 16;
            CacheWrite(block, e, l.nBlocks, c);
            if (c >= best) break;
            best = c;
            d = e;
            if (best < 8) break;
        }
    }
    int32_t k = block * 15 + start + 7;
    if (k >= 0 && k < (int32_t)(l.nBlocks * 15)) gCostCache[k] |= 0x80;
    return d;
}

// Right to left: reuses the left pass's costs where the cache holds one.
int32_t SearchRight(const TSearchLines& l, int32_t block, int32_t d)
{
    if (CacheRead(block, d, l.nBlocks) & 0x80) return d;
    int32_t x = block * 8;
    // The eight cost slots, untried (65535) at the start of each block.
    uint32_t costs[8] = {65535, 65535, 65535, 65535, 65535, 65535, 65535, 65535};
    const uint32_t slots[5] = {3, 2, 4, 6, 7};
    const int32_t cand[5] = {d, d - 1, d + 1, 0, -d};
    for (uint32_t i = 0; i < 5; i++) {
        uint8_t cached = CacheRead(block, cand[i], l.nBlocks);
        if (cached) {
            costs[slots[i]] = cached;
            continue;
        }
        uint32_t bias = slots[i] == 7 ? 16 : 0;
        uint32_t c = CandidateCost(l, x, cand[i], bias, false);
        costs[slots[i]] = c;
        if (c < 8) break;
    }
    uint32_t slot = BestSlot(costs);
    uint32_t best = costs[slot];
    d = DirectionOfSlot(slot, d);
    if ((slot == 2 || slot == 4) && best > 8) {
        int32_t step = slot == 2 ? -1 : 1;
        int32_t e = d;
        for (int n = 0; n < 5; n++) {
            e += step;
            if (e < -7 || e > 7) break;
            uint8_t cached = CacheRead(block, e, l.nBlocks);
            uint32_t a = e < 0 ? (uint32_t)-e : (uint32_t)e;
            uint32_t c = cached ? cached : SatAdd(8 * 4 + (a * 4) / 2, Sad4(l.above + x + e, l.below + x - e)) / 16;
            if (c >= best) break;
            best = c;
            d = e;
            if (best < 8) break;
        }
    }
    return d;
}

// Margin bytes on either side of a work row that hold copies of its edge
// pixels: the direction search reads up to 8 bytes before a row and, in a
// part block at its right end, up to 14 bytes after it.
constexpr uint32_t kEdgeCopies = 16;

// A work row and its edge copies, so that the filter and the scaler read
// this picture's values there and nothing an earlier picture left.
void PutEdges(uint8_t* row, uint32_t w)
{
    memset(row - kEdgeCopies, row[0], kEdgeCopies);
    memset(row + w, row[w - 1], kEdgeCopies);
}

void PutWorkRow(uint8_t* row, const uint8_t* source, uint32_t w)
{
    memcpy(row, source, w);
    PutEdges(row, w);
}

void MeasureMotion(const TRenderJob* job)
{
    uint32_t w = job->width, h = job->height, s = job->yStride, ps = w & ~3u;
    for (uint32_t r = 0; r < h / 2; r++) {
        uint32_t band = r / 8;
        const uint8_t* cur0 = job->y + (size_t)(2 * r) * s;
        const uint8_t* cur1 = job->y + (size_t)(2 * r + 1) * s;
        const uint8_t* prev0 = gPrevLuma + (size_t)(2 * r) * ps;
        const uint8_t* prev1 = gPrevLuma + (size_t)(2 * r + 1) * ps;
        for (uint32_t c = 0; c < w / 16; c++) {
            uint32_t x = c * 16;
            uint32_t even = Sad4(cur0 + x, prev0 + x) + Sad4(cur0 + x + 8, prev0 + x + 8);
            uint32_t odd = Sad4(cur1 + x, prev1 + x) + Sad4(cur1 + x + 8, prev1 + x + 8);
            gMotion[band][c].sum = SatAdd(gMotion[band][c].sum, even);
            gOddSums[band][c] = SatAdd(gOddSums[band][c], odd);
        }
    }
    for (uint32_t band = 0; band < h / 16; band++) {
        for (uint32_t c = 0; c < w / 16; c++) {
            TMotionEntry* m = &gMotion[band][c];
            uint32_t sum = m->sum;
            m->sum = gOddSums[band][c];
            gOddSums[band][c] = 0;
            if (sum > 1024) m->still = 0;
            if (sum < 768) m->still += 1;
            if (m->still > 2) m->still = 2;
        }
    }
}

} // namespace

int32_t AbsInt(int32_t value) { return value < 0 ? -value : value; }

uint8_t* Render_WorkRow(uint32_t w, uint32_t r)
{
    return gWorkLuma + (size_t)(WORK_MARGIN_ROWS + r) * (w + 2 * WORK_MARGIN_BYTES) + WORK_MARGIN_BYTES;
}

uint32_t Render_StillCount(uint32_t band, uint32_t group)
{
    return band < kBands && group < kGroups ? gMotion[band][group].still : 0;
}

void Video_PrepareImage(TImage* image)
{
    if (!image) return;
    TBitmap* bitmap = image->Picture()->Bitmap();
    bitmap->SetPixelFormat(pf32bit);
    bitmap->SetHeight(image->Height());
    bitmap->SetWidth(image->Width());
    image->SetEnabled(false);
    if (TWinControl* parent = image->Parent()) parent->SetDoubleBuffered(true);
}

namespace {

// The target size rounded to whole pixel groups and bands, at most the
// largest target.
void RoundTarget(uint32_t width, uint32_t height, uint32_t* tw, uint32_t* th)
{
    *tw = (width + 3) / 4 * 4;
    *th = (height + 7) / 8 * 8;
    if (*tw > DISPLAY_MAX_WIDTH) *tw = DISPLAY_MAX_WIDTH;
    if (*th > DISPLAY_MAX_HEIGHT) *th = DISPLAY_MAX_HEIGHT;
}

// Centring or scaling of a picture of the job's width and sh lines on the
// job's target, rounded.
void FitAtHeight(TRenderJob* job, uint32_t sh)
{
    uint32_t w = job->width, tw, th;
    RoundTarget(job->targetWidth, job->targetHeight, &tw, &th);
    job->xOffset = 0;
    job->yOffset = 0;
    job->targetWidth = tw;
    job->targetHeight = th;
    uint32_t dw = w / 20, dh = sh / 15;
    if (tw > w + dw || tw < w - dw || th > sh + dh || th < sh - dh) {
        job->scale = 1;
        return;
    }
    job->scale = 0;
    if (tw > w) job->xOffset = (tw - w) / 2;
    if (th > sh) job->yOffset = (th - sh) / 2;
    job->targetWidth = w;
    job->targetHeight = sh;
}

} // namespace

void Display_FitSize(TRenderJob* job)
{
    uint32_t h = job->height, tw, th;
    RoundTarget(job->targetWidth, job->targetHeight, &tw, &th);
    job->fieldFlag = h && (tw * 10) / h > 18 ? 1 : 0;
    FitAtHeight(job, job->fieldFlag ? 2 * h : h);
}

void Render_CopyPlanes(TRenderJob* job)
{
    uint32_t w = job->width;
    if (w == 0 || w > kMaxW || job->height > kMaxH) return; // beyond the work plane
    for (uint32_t r = 0; r < job->height; r++) PutWorkRow(Render_WorkRow(w, r), job->y + (size_t)r * job->yStride, w);
}

void Render_Deinterlace(TRenderJob* job)
{
    uint32_t w = job->width, h = job->height, s = job->yStride;
    uint32_t D = job->deinterlace, F = job->fieldFlag;
    if (w > kMaxW || h > kMaxH) return; // beyond the work plane and the tables
    if (w < 16 || h < 2) {
        // Too small to filter: plain copy, no doubling.
        job->fieldFlag = 0;
        job->deinterlace = 0;
        Render_CopyPlanes(job);
        return;
    }
    if (D) MeasureMotion(job);

    uint32_t t = F ? 1 : 2;
    uint32_t otherStart = F ? 0 : 1;
    uint32_t ps = w & ~3u;
    uint32_t nBlocks = (w + 7) / 8;
    // Lines past the last are never read: the last line stands in for them.
    auto line = [&](uint32_t n) { return job->y + (size_t)(n < h ? n : h - 1) * s; };

    PutWorkRow(Render_WorkRow(w, 0), line(0), w);
    for (uint32_t k = 0; k * t < h; k++) {
        uint8_t* above = Render_WorkRow(w, 2 * k);
        uint8_t* below = Render_WorkRow(w, 2 * k + 2);
        uint8_t* out = Render_WorkRow(w, 2 * k + 1);
        PutWorkRow(below, line((k + 1) * t), w);

        TSearchLines l{above, below, nBlocks};
        memset(gCostCache, 0, nBlocks * 15);
        int32_t d = 0;
        for (uint32_t b = 0; b < nBlocks; b++) {
            d = SearchLeft(l, (int32_t)b, d);
            gLeftDirection[b * 8] = d;
        }
        d = 0;
        for (uint32_t b = nBlocks; b-- > 0;) {
            d = SearchRight(l, (int32_t)b, d);
            gRightDirection[b * 8] = d;
        }
        for (uint32_t b = 0; b < nBlocks; b++) {
            int32_t L = gLeftDirection[b * 8], R = gRightDirection[b * 8];
            gLeftDirection[b * 8] = L > 0 && R > 0 ? (L < R ? L : R) : L < 0 && R < 0 ? (L > R ? L : R) : 0;
        }

        if (D) {
            uint32_t otherLine = otherStart + k * t;
            if (otherLine >= h) otherLine = h - 1;
            const uint8_t* cur = job->y + (size_t)otherLine * s;
            const uint8_t* prev = gPrevLuma + (size_t)otherLine * ps;
            uint32_t band = (k * t) / 16;
            // Only whole 16 x 16 blocks are measured; the part blocks at the
            // right and bottom edges count as moving (their table entries
            // hold what pictures of another size left there).
            bool measuredBand = band < h / 16;
            for (uint32_t x = 0; x < w; x += 4) {
                int32_t f = gLeftDirection[(x / 8) * 8];
                uint32_t still = measuredBand && x / 16 < w / 16 ? Render_StillCount(band, x / 16) : 0;
                if (still != 2) {
                    // A moving block: all four along the direction.
                    AlongDirection(out + x, above + x, below + x, f, w - x < 4 ? w - x : 4);
                    continue;
                }
                for (uint32_t i = 0; i < 4 && x + i < w; i++) {
                    uint32_t p = x + i;
                    uint32_t a, b2;
                    if (still == 2 && AbsInt((int32_t)cur[p] - (int32_t)prev[p]) < 8) {
                        a = cur[p];
                        b2 = prev[p];
                    } else {
                        a = above[(int32_t)p + f];
                        b2 = below[(int32_t)p - f];
                    }
                    out[p] = (uint8_t)((a + b2) / 2);
                }
            }
        } else {
            for (uint32_t x = 0; x < w; x += 8)
                AlongDirection(out + x, above + x, below + x, gLeftDirection[x], w - x < 8 ? w - x : 8);
        }
        PutEdges(out, w);
    }
    if (D)
        for (uint32_t r = 0; r < h; r++) memcpy(gPrevLuma + (size_t)r * ps, job->y + (size_t)r * s, ps);
}

void Osd_UpdateTime(TStreamRecord* stream)
{
    if (!stream || !stream->connection || !stream->connection->view) return;
    uint32_t mode = stream->connection->view->mode;
    uint32_t time = stream->displayTime;
    // A caption only changes with the second; the same text is not set again.
    static uint32_t shownTime[CONN_COUNT] = {0xFFFFFFFFu, 0xFFFFFFFFu};
    static uint32_t shownMode[CONN_COUNT] = {0xFFFFFFFFu, 0xFFFFFFFFu};
    uint32_t index = stream->connection->index < CONN_COUNT ? stream->connection->index : 0;
    if (shownTime[index] == time && shownMode[index] == mode) return;
    if (mode == VIEW_LOCAL_PLAYBACK) {
        if (gViewerForm && gViewerForm->Label_time) {
            char text[32];
            Text_FormatDateTime(time, text, sizeof text);
            gViewerForm->Label_time->SetCaption(text);
        }
        if (stream->localTimeLabel) Osd_SetTimeCaption(time, stream->localTimeLabel);
    } else {
        if (stream->heldChannel >= STREAM_CHANNELS) return;
        TDisplayNode* node = mode == VIEW_LIVE                                ? stream->liveAreas[0].head
                             : (mode == VIEW_PLAYBACK || mode == VIEW_BACKUP) ? stream->playbackAreas[0].head
                                                                              : nullptr;
        for (uint32_t n = 0; node && n < STREAM_DISPLAY_NODES; node = node->next, n++)
            Osd_SetTimeCaption(time, node->timeLabel);
    }
    shownTime[index] = time;
    shownMode[index] = mode;
}

void Render_OnPicture(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t yStride, uint32_t chromaStride,
                      uint32_t w, uint32_t h)
{
    if (w == 0 || h == 0 || gSliceStatus == -1) return;
    if (gDecoderChannel < 0 || gDecoderChannel >= CONN_COUNT) return;
    if (!gDisplayTargets[gDecoderChannel].connection) return;
    // The filter's tables and work areas hold pictures up to the largest
    // the decoder accepts.
    if (w > kMaxW || h > kMaxH || !y || !u || !v || yStride < w || chromaStride < (w + 1) / 2) return;

    TConnection* c = &gConnections[gDecoderChannel];
    TStreamRecord* stream = c->stream;
    if (!stream || !stream->connection || !stream->connection->view) return;
    uint32_t mode = stream->connection->view->mode;

    TImage* target;
    if (mode == VIEW_SETUP) return;
    if (mode == VIEW_LOCAL_PLAYBACK) {
        target = stream->localTarget;
        if (!target) return;
        mode = VIEW_LIVE;
    } else {
        if (!gViewerForm || !gViewerForm->Image_video) return;
        target = gViewerForm->Image_video;
    }
    int iw = target->Width(), ih = target->Height();
    if (iw <= 0 || ih <= 0) return;

    TRenderJob job{};
    job.width = w;
    job.height = h;
    job.yStride = yStride;
    job.chromaStride = chromaStride;
    job.y = y;
    job.u = u;
    job.v = v;
    job.targetWidth = iw > 65535 ? 65535 : (uint32_t)iw;
    job.targetHeight = ih > 65535 ? 65535 : (uint32_t)ih;
    Display_FitSize(&job);
    uint32_t fittedAsField = job.fieldFlag && !job.scale;

    job.deinterlace = 0;
    if (mode != VIEW_LIVE && stream->fieldPicture == 1) {
        job.deinterlace = 1;
        if (h == 480 || h == 512) job.fieldFlag = 0;
        if (h == 240 || h == 256) job.deinterlace = 0;
    }
    if (w == 320 && (job.fieldFlag || job.deinterlace)) job.fieldFlag = job.deinterlace = 0;
    if (w == 640 && h > 256 && job.fieldFlag) job.fieldFlag = 0;
    if (fittedAsField && !job.fieldFlag) {
        // Fitted at twice its height but not line-doubled after all: it is
        // fitted again at its own height, so that it covers what it should
        // (drawn at its own size it would leave the rest of the image to
        // the pictures before).
        job.targetWidth = iw > 65535 ? 65535 : (uint32_t)iw;
        job.targetHeight = ih > 65535 ? 65535 : (uint32_t)ih;
        FitAtHeight(&job, h);
    }
    // Without a filter the scaler reads the decoded luma plane itself.
    if (job.fieldFlag || job.deinterlace) Render_Deinterlace(&job);
    else job.lumaInPlace = 1;
    // A picture drawn at its own size whose lines are not doubled after all
    // is drawn at its own height: the work plane holds no more rows.
    if (!job.scale && !job.fieldFlag && job.targetHeight > h) job.targetHeight = h;
    job.scaleWidth = w;
    job.scaleHeight = h;

    Osd_UpdateTime(stream);
    if (target->Enabled()) target->SetEnabled(false);
    Render_ScaleToBitmap(target, &job);
    target->Repaint();
    Win_Milestone(MILESTONE_PICTURE_DRAWN);
}
