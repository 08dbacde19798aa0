// Local playback: the index step, the seek, the watermark check and the
// feed step. Owns gLocalFile and the feed buffer (a frame block and the
// largest frame the stream path takes).
#include "media/LocalPlay.h"
#include "link/Bytes.h"
#include "media/Hooks.h"
#include "link/ViewRecord.h"
#include "link/Conn.h"
#include "link/Ring.h"
#include "media/MovFile.h"
#include "media/Stream.h"
#include "media/Vido.h"
#include "media/Watermark.h"
#include "platform/vcl/StdCtrls.h"
#include <cstdio>
#include <cstring>

TLocalFile gLocalFile;
const char* const kLocalMarkBadText = "The watermark of this movie file does not verify: it may have been altered.";

// A block and its frame, as the stream step takes them (below its limit).
static uint8_t gFeed[STREAM_MAX_BLOCK];

// Header time plus its time offset (byte 28), in seconds.
static uint32_t TimeOf(const uint8_t* h) { return GetU32(h + 4) + GetU32(h + 28); }

// 1 while Label1 carries the warning.
static uint32_t gMarkShown;

static void ShowMarkVerdict(uint32_t verdict)
{
    TTavlinX* f = gViewerForm;
    const TViewRecord* view = gConnections[0].view;
    if (!f || !f->Label1 || !view || view->mode != VIEW_LOCAL_PLAYBACK) return;
    if (verdict == LOCAL_MARK_BAD) {
        f->Label1->SetCaption(kLocalMarkBadText);
        f->Label1->Show();
        gMarkShown = 1;
    }
}

// Out of mode 4 the warning goes: Label1 is the backup's label there.
static void ClearMarkVerdict()
{
    if (!gMarkShown) return;
    gMarkShown = 0;
    if (gViewerForm && gViewerForm->Label1) gViewerForm->Label1->SetCaption("");
}

int LocalPlay_Arm(const char* name)
{
    TLocalFile* L = &gLocalFile;
    L->playState = 0;
    L->playRequest = 0;
    L->indexState = LOCAL_INDEX_IDLE;
    L->lastTime = 0;
    if (!name || strnlen(name, LOCAL_NAME_SIZE) >= LOCAL_NAME_SIZE) return -1;
    int n = MovFile_Load(name);
    if (n <= 0) {
        L->name[0] = 0;
        L->sampleCount = 0;
        return -1;
    }
    strcpy(L->name, name);
    L->sampleCount = (uint32_t)n;
    L->step = L->lastStep = 0;
    L->nextSample = 0;
    L->endFlag = 0;
    L->watermark = LOCAL_MARK_UNKNOWN;
    L->indexState = LOCAL_INDEX_START;
    return 0;
}

// --- Watermark -----------------------------------------------------------------

// The byte whose transform is x, or -1 when no byte gives x.
static int32_t Untransform(uint32_t x)
{
    // The transform is a permutation modulo 893; the bytes are few, so the
    // inverse is looked up rather than raised to the inverse exponent.
    static int16_t table[1024];
    static bool built = false;
    if (!built) {
        for (uint32_t i = 0; i < 1024; ++i) table[i] = -1;
        for (uint32_t b = 0; b < 256; ++b) {
            uint32_t t = Watermark_Transform(b);
            if (t < 1024) table[t] = (int16_t)b;
        }
        built = true;
    }
    return x < 1024 ? table[x] : -1;
}

int LocalPlay_VerifyWatermark(const TLocalFile* local, uint32_t readSum)
{
    const TMovReadTables* t = &gMovReadTables;
    if (!local || t->mediaLength == 0 || t->moovSize == 0) return 0;
    uint64_t at = (uint64_t)t->mediaLength + 40 + t->moovSize;
    if (MovFile_ReadAt(WATERMARK_SIZE, at, local->name) != 0 || MovFile_ReadLength() != WATERMARK_SIZE) return 0;
    const uint8_t* r = MovFile_Work();
    uint32_t plain[WATERMARK_SIGNED_WORDS];
    uint32_t sum = 0;
    for (uint32_t i = 0; i < WATERMARK_SIGNED_WORDS; ++i) {
        uint32_t w = GetU32(r + 4 * i);
        sum += w;
        plain[i] = (w >> 1) | (w << 31);
    }
    if (sum != GetU32(r + 156)) return 0;
    if (plain[0] != 0 || plain[1] != 0) return 0; // the sums are cleared when signing
    uint8_t bytes[WATERMARK_SIGNED_WORDS * 4];
    memcpy(bytes, plain, sizeof bytes); // host order is little-endian, as the record
    uint32_t value = plain[WATERMARK_VALUE_OFFSET / 4];
    uint32_t video = 0, audio = 0;
    for (uint32_t k = 0; k < 4; ++k) {
        int32_t v = Untransform((uint32_t)bytes[136 + 2 * k] | ((uint32_t)bytes[137 + 2 * k] << 8));
        int32_t a = Untransform((uint32_t)bytes[144 + 2 * k] | ((uint32_t)bytes[145 + 2 * k] << 8));
        if (v < 0 || a < 0) return 0;
        video |= (uint32_t)v << (8 * k);
        audio |= (uint32_t)a << (8 * k);
    }
    if (audio != value || video != value + readSum) return 0;
    // The picture format of the first frame.
    const uint8_t* h = local->firstHeader;
    if (bytes[8] != h[16] || bytes[9] != (uint8_t)(h[14] >> 4) || bytes[10] != h[12] || bytes[11] != h[13]) return 0;
    return 1;
}

// --- Index ---------------------------------------------------------------------

void LocalPlay_BuildIndex()
{
    TLocalFile* L = &gLocalFile;
    if (L->indexState == LOCAL_INDEX_START) {
        memset(L->index, 0, sizeof L->index);
        L->indexLength = L->nextSample = L->firstTime = L->lastTime = L->lastKeyTime = 0;
        L->readSamples = 0;
        memset(L->firstHeader, 0, sizeof L->firstHeader);
        gWatermarkReadSum = 0;
        L->indexState = LOCAL_INDEX_RUNNING;
        FILE* f = fopen(L->name, "rb");
        if (!f) {
            L->indexState = LOCAL_INDEX_IDLE; // nothing plays
            return;
        }
        fclose(f);
        return;
    }
    if (L->indexState == LOCAL_INDEX_RUNNING) {
        bool full = false;
        uint32_t n = 0;
        for (; n < LOCAL_INDEX_PER_TICK && L->nextSample < L->sampleCount; ++n, ++L->nextSample) {
            uint8_t h[32];
            uint32_t i = L->nextSample;
            uint32_t size = MovFile_ReadSampleHeader(i, h, L->name);
            if (size == 0) continue; // unreadable, or a filler
            L->readSamples += 1;
            if (i == 0) memcpy(L->firstHeader, h, sizeof h);
            // The writer sums every sample after the first.
            else Watermark_AddSum(WATERMARK_SUM_VIDEO, MovFile_Work(), size + 32, WATERMARK_TO_READER);
            uint32_t t = TimeOf(h);
            uint32_t type = (h[15] >> 4) & 3;
            if (t <= L->lastKeyTime) continue;
            if (L->firstTime == 0) L->firstTime = t;
            L->lastTime = t;
            if (type != 0) continue;
            uint32_t delta = L->lastKeyTime == 0 ? 0 : t - L->lastKeyTime;
            L->lastKeyTime = t;
            if (delta >= LOCAL_INDEX_SECONDS - L->indexLength) {
                L->indexLength = LOCAL_INDEX_SECONDS;
                full = true;
                ++L->nextSample;
                break;
            }
            L->indexLength += delta;
            L->index[L->indexLength] = i + 1;
        }
        if (full || L->nextSample >= L->sampleCount) {
            // The record can only be judged when every sample was summed.
            if (!full) {
                L->watermark = LocalPlay_VerifyWatermark(L, gWatermarkReadSum) ? LOCAL_MARK_GOOD : LOCAL_MARK_BAD;
                ShowMarkVerdict(L->watermark);
            }
            L->indexState = LOCAL_INDEX_DONE;
        }
        return;
    }
    if (L->indexState == LOCAL_INDEX_DONE) {
        L->nextSample = 0;
        L->indexState = LOCAL_INDEX_IDLE;
        L->playRequest = 1;
        L->playState = 1;
        L->currentTime = L->firstTime;
    }
}

// --- Seek ----------------------------------------------------------------------

int32_t MovFile_SeekStep(TLocalFile* L, int32_t step)
{
    if (!L || L->firstTime > L->lastTime) return -1;
    int64_t t = (int64_t)L->currentTime + (int64_t)LOCAL_STEP_SECONDS * step;
    if (t < L->firstTime) t = L->firstTime;
    if (t > L->lastTime) t = L->lastTime;
    L->currentTime = (uint32_t)t;
    uint32_t position = L->currentTime - L->firstTime;
    uint32_t length = L->indexLength < LOCAL_INDEX_SECONDS ? L->indexLength : LOCAL_INDEX_SECONDS - 1;
    if (position > length) position = length;
    // From the position back to the start of the index.
    for (uint32_t k = 0; k <= position; ++k) {
        uint32_t e = L->index[position - k];
        if (e != 0) return (int32_t)(e - 1 < L->sampleCount ? e - 1 : 0);
    }
    return 0;
}

// --- Feed ----------------------------------------------------------------------

void LocalPlay_Feed(TStreamRecord* s)
{
    if (!s || !s->connection || !s->connection->view || !s->connection->vido) return;
    TConnection* c = s->connection;
    if (c->view->mode != VIEW_LOCAL_PLAYBACK) {
        if (c->index == 0) ClearMarkVerdict();
        return;
    }
    TLocalFile* L = &gLocalFile;
    if (L->lastTime == 0 || L->name[0] == 0 || L->indexState != LOCAL_INDEX_IDLE) return;

    if (L->playState == 1 && L->step == 0 && L->nextSample >= L->sampleCount) {
        L->playState = 0;
        L->step = 0;
        L->nextSample = 0;
        L->currentTime = L->firstTime;
        L->endFlag = 1;
    }
    if (s->heldLength != 0) return;
    if (L->playState == 0 && L->playRequest == 0) return;
    uint32_t request = L->playRequest;
    L->playRequest = 0;

    int32_t step = L->step;
    L->lastStep = step;
    L->endFlag = 0;
    if (request == 1 || step != 0) {
        int32_t next = MovFile_SeekStep(L, step);
        if (next >= 0) L->nextSample = (uint32_t)next;
        L->step = 0; // one step per press
    }

    TFrameRing* ring = &s->videoRing;
    if (!ring->data) return;
    uint32_t budget = Ring_Free95(ring->writeIndex, ring->readIndex, ring->size);
    uint32_t room = sizeof gFeed - VIDO_BLOCK_SIZE - 1;
    uint32_t length = 0;
    uint32_t i = L->nextSample;
    for (uint32_t tries = 0; i < L->sampleCount && tries < LOCAL_READ_TRIES; ++tries, ++i) {
        uint32_t size = L->sampleCount ? gMovReadTables.sampleSizes[i] : 0;
        if (size >= MOVFILE_MIN_SAMPLE && size <= room + 32 && size - 32 + VIDO_BLOCK_SIZE > budget)
            break; // the ring is full: later
        length = MovFile_ReadSample(i, gFeed + VIDO_BLOCK_SIZE, room, L->name);
        if (length != 0) break;
    }
    // While playing, the next tick goes on behind what was read or passed over.
    if (L->playState == 1) L->nextSample = length != 0 ? i + 1 : i;
    if (length == 0) return;

    const uint8_t* header = gFeed + VIDO_BLOCK_SIZE;
    L->currentTime = TimeOf(header);
    TVidoFrameBlock block;
    memset(&block, 0, sizeof block);
    uint32_t rate = gMovReadTables.frameRate ? gMovReadTables.frameRate : 30;
    block.totalLength = VIDO_BLOCK_SIZE + length;
    block.framePeriod = 1000 / rate;
    uint32_t* last = Vido_LastSequence(&c->vido->report, 0);
    block.channelSequence = last ? *last + 1 : 1;
    block.channel = 0;
    block.streamSequence = c->vidoQueue.lastDelivered + 1;
    block.kind = 0;
    block.requestNumber = 0;
    memcpy(gFeed, &block, sizeof block);
    Vido_OnFrame(gFeed, block.totalLength, c->vido);
    Vido_DeliverInOrder(c);
}
