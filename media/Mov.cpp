// The movie writer. Owns gMovWriter (the one part file's counts and sample
// tables), gMovClosing (the process-wide closing record), the sound and
// padding work buffers and the "moov" buffer. Every write goes through
// OutFile_WriteAtPos at the writer's position; the first failure marks the
// part failed, and a failed part is never given its closing block, "moov",
// watermark or "mdat" size.
#include "media/Mov.h"
#include "link/Bytes.h"
#include "media/DateText.h"
#include "media/Watermark.h"
#include "panel/Month.h"
#include <algorithm>
#include <cstring>

TMovWriter gMovWriter;
TMovClosingRecord gMovClosing;

enum {
    MOV_SOUND_KEPT_MAX = 65535u * 64u / 2u, // the kept bytes of the longest sound unit
};
// Samples stop here, so that every chunk offset and the "mdat" size fit 32
// bits with the closing block, the "moov" and the watermark behind them.
static const uint64_t kMaxSampleEnd =
    0xFFFFFFFFull - MOV_CLOSING_SIZE - MOV_MOOV_MAX - WATERMARK_SIZE - 2 * MOV_PAD_ALIGN;

static uint8_t gSoundKept[MOV_SOUND_KEPT_MAX];
// The last sound unit before the file's first picture, which may run into
// it (units longer than the buffer are not kept).
static uint8_t gEarlySound[8192];
static uint32_t gEarlyBytes;

static void KeepEarlySound(const uint8_t* unit, uint32_t n)
{
    gEarlyBytes = 0;
    if (n > sizeof gEarlySound) return;
    memcpy(gEarlySound, unit, n);
    gEarlyBytes = n;
}
static uint8_t gPadding[MOV_SOUND_PAD_CHUNK];
static uint8_t gMoov[MOV_MOOV_MAX];

// Fixed creation and modification time of the track atoms (seconds since 1904).
static const uint32_t kTrackTime = 0xC6A2B400;

// --- Writing at the position ---------------------------------------------------

// Writes n bytes at the position and advances it. The first failure notes
// its reason and marks the part failed; nothing is written after it.
static int Put(const void* data, uint32_t n)
{
    TMovWriter* w = &gMovWriter;
    if (w->failed) return -1;
    if (OutFile_WriteAtPos(data, n) != 0) {
        Mov_NoteStop(MOV_STOP_WRITE_FAILED, 0, (uint32_t)w->position, n, 0, 0);
        w->failed = 1;
        return -1;
    }
    w->position += n;
    return 0;
}

// A sample or chunk of n bytes still fits below the offsets a file can hold.
static bool Fits(uint64_t n) { return gMovWriter.position + n <= kMaxSampleEnd; }

// --- Init, accounting, stop reasons ----------------------------------------------

void Mov_Init(uint32_t start, uint32_t end)
{
    TMovWriter* w = &gMovWriter;
    w->position = 0;
    w->mediaStart = MOV_MEDIA_DATA_START;
    w->started = 0;
    w->failed = 0;
    w->waitKey = 0;
    w->moovStep = 0;
    w->samples = w->syncs = w->soundChunks = w->soundEntries = w->soundBytes = w->textSamples = 0;
    w->soundSeen = 0;
    w->lastTextSecond = 0;
    w->lastVideoTime = w->lastVideoFrame = 0;
    w->lastChunkSize = 0;
    w->refused = 0;
    w->soundEnd = 0;
    w->lastSoundByte = 0x80; // silence until a sound byte is kept
    for (uint32_t& g : w->geometry) g = 0;
    w->params1Length = 0;
    w->startTime = start;
    w->endTime = end;
    gEarlyBytes = 0;
    // From here on a late answer of the recorder stays out of the record.
    Watermark_EndWait();
}

void Mov_NoteStop(uint32_t code, int32_t priority, uint32_t value, uint32_t limit, uint32_t x, uint32_t y)
{
    gMovClosing.reason = code;
    gMovClosing.priority = priority;
    gMovClosing.value = value;
    gMovClosing.limit = limit;
    gMovClosing.x = x;
    gMovClosing.y = y;
}

// A unit refused for a limit: the reason goes into the closing record and
// stays in refused until the next frame.
static int Refuse(uint32_t code, uint32_t value, uint32_t limit)
{
    Mov_NoteStop(code, 0, value, limit, 0, 0);
    gMovWriter.refused = code;
    return -1;
}

static int RefuseFileFull()
{
    return Refuse(MOV_STOP_FILE_FULL, (uint32_t)(gMovWriter.position >> 20), (uint32_t)(kMaxSampleEnd >> 20));
}

static uint32_t Rate() { return gMovWriter.frameRate ? gMovWriter.frameRate : 30; }

uint64_t Mov_FramePosition(uint32_t time, uint32_t frameNumber) { return (uint64_t)time * Rate() + frameNumber; }

void Mov_SetSoundEnd(uint32_t time, uint32_t frameNumber)
{
    gMovWriter.soundEnd = Mov_FramePosition(time, frameNumber);
}

void Mov_Geometry(const TDvrFrameHeader* h, uint32_t out[4])
{
    uint32_t mode = h ? FrameHeader_FieldMode(h) : 0;
    out[0] = mode == 3 ? 2 : 1;
    out[1] = 1;
    out[2] = mode >= 2 ? 2 : 1;
    out[3] = 1;
}

int Mov_AccountFrame(const uint8_t* frame, uint32_t length)
{
    // Too short for a header: nothing to limit, the writer refuses it.
    if (!frame || length < FRAME_HEADER_SIZE) return 0;
    TDvrFrameHeader h;
    memcpy(&h, frame, sizeof h);
    TMovWriter* w = &gMovWriter;
    uint32_t u = FrameHeader_FurtherUnits(&h) + 1;
    w->refused = 0;
    if ((uint64_t)h.time > (uint64_t)w->endTime + MOV_LATE_SECONDS)
        return Refuse(MOV_STOP_PAST_END, h.time, w->endTime);
    bool video = FrameHeader_Kind(&h) == FRAME_KIND_VIDEO;
    if (video && FrameHeader_Type(&h) == 0 && w->syncs + u >= MOV_SYNC_CAP)
        return Refuse(MOV_STOP_SYNC_FULL, w->syncs + u, MOV_SYNC_CAP);
    // The fillers and text samples a video frame brings with it for the
    // time since the last one: a long gap in the recording needs room too.
    uint64_t fillers = 0, texts = 0;
    if (video && w->started) {
        fillers = Mov_FillersNeeded(&w->gap, h.time, h.frameNumber);
        if (w->textSamples > 0 && h.time > w->lastTextSecond) texts = (uint64_t)h.time - w->lastTextSecond;
    }
    if ((uint64_t)w->samples + fillers + u >= MOV_SAMPLE_CAP)
        return Refuse(MOV_STOP_SAMPLES_FULL, (uint32_t)std::min<uint64_t>(w->samples + fillers + u, 0xFFFFFFFFu),
                      MOV_SAMPLE_CAP);
    if ((uint64_t)w->textSamples + std::max<uint64_t>(texts, u) >= MOV_TEXT_CAP)
        return Refuse(MOV_STOP_TEXT_FULL,
                      (uint32_t)std::min<uint64_t>(w->textSamples + std::max<uint64_t>(texts, u), 0xFFFFFFFFu),
                      MOV_TEXT_CAP);
    // The whole buffer with a trailer per unit must stay below the offsets
    // a file can hold.
    if (!Fits((uint64_t)length + (uint64_t)u * MOV_TRAILER_SIZE + H264_PARAM_SETS_MAX + fillers * H264_FILLER_SIZE +
              texts * MOV_TEXT_SAMPLE_SIZE))
        return RefuseFileFull();
    if (w->started) {
        uint32_t g[4];
        if (FrameHeader_Kind(&h) == FRAME_KIND_VIDEO) Mov_Geometry(&h, g);
        else memcpy(g, w->geometry, sizeof g); // sound frames keep the first frame's
        for (uint32_t i = 0; i < 4; ++i)
            if (g[i] != w->geometry[i]) {
                Mov_NoteStop(MOV_STOP_GEOMETRY + i, 0, g[i], w->geometry[i], 0, 0);
                break;
            }
    }
    return w->samples / Rate() >= MOV_PART_SECONDS ? 1 : 0;
}

// --- The text samples ------------------------------------------------------------

// The 22 characters of a text sample: "yyyy/mm/dd hh:mm:ss   ".
static void TextChars(uint32_t t, char* out)
{
    TDateParts d;
    Date_FromSeconds(t, &d);
    Text_PutDigits(out + 0, d.year, 4);
    out[4] = '/';
    Text_PutDigits(out + 5, d.month, 2);
    out[7] = '/';
    Text_PutDigits(out + 8, d.day, 2);
    out[10] = ' ';
    Text_PutDigits(out + 11, d.hour, 2);
    out[13] = ':';
    Text_PutDigits(out + 14, d.minute, 2);
    out[16] = ':';
    Text_PutDigits(out + 17, d.second, 2);
    out[19] = out[20] = out[21] = ' ';
}

// 0, -1 when the text table would overflow, -2 when a write failed.
static int WriteTextSamples(uint32_t t, int32_t offset)
{
    TMovWriter* w = &gMovWriter;
    if (w->textSamples > 0 && t <= w->lastTextSecond) return 0;
    uint32_t from = w->textSamples == 0 ? t : w->lastTextSecond + 1;
    uint64_t count = (uint64_t)t - from + 1;
    if (w->textSamples + count > MOV_TEXT_CAP) {
        return Refuse(MOV_STOP_TEXT_FULL, (uint32_t)(w->textSamples + count), MOV_TEXT_CAP);
    }
    if (!Fits(count * MOV_TEXT_SAMPLE_SIZE)) return RefuseFileFull();
    for (uint64_t k = 0; k < count; ++k) {
        uint8_t s[MOV_TEXT_SAMPLE_SIZE];
        char chars[MOV_TEXT_CHARS];
        TextChars((uint32_t)(from + k) + (uint32_t)offset, chars);
        PutBe16(s, MOV_TEXT_CHARS);
        memcpy(s + 2, chars, MOV_TEXT_CHARS);
        PutBe32(s + 24, 34); // "orig" atom
        memcpy(s + 28, "orig", 4);
        PutBe32(s + 32, 0x00000423);
        memcpy(s + 36, chars, MOV_TEXT_CHARS);
        w->textOffsets[w->textSamples] = (uint32_t)w->position;
        if (Put(s, sizeof s) != 0) return -2;
        w->textSamples += 1;
    }
    w->lastTextSecond = t;
    return 0;
}

int Mov_WriteTextSamples(uint32_t t, int32_t offset) { return WriteTextSamples(t, offset) == 0 ? 0 : -1; }

// --- Sound -----------------------------------------------------------------------------

// Notes a chunk of n samples at the position in the chunk tables.
static void NoteSoundChunk(uint32_t n)
{
    TMovWriter* w = &gMovWriter;
    if (w->soundEntries == 0 || w->lastChunkSize != n) {
        uint32_t* e = w->soundEntryTable[w->soundEntries];
        e[0] = w->soundChunks + 1; // first chunk (1-based)
        e[1] = n;                  // samples per chunk
        e[2] = 1;                  // description
        w->soundEntries += 1;
        w->lastChunkSize = n;
    }
    w->soundOffsets[w->soundChunks] = (uint32_t)w->position;
}

// Room for one more chunk, and for a new chunk-table entry should it need one.
static bool SoundRoom()
{
    const TMovWriter* w = &gMovWriter;
    return w->soundChunks + 2 <= MOV_SOUND_CHUNK_CAP &&
           (w->soundEntries + 2) * MOV_SOUND_ENTRY_SIZE < MOV_SOUND_ENTRY_BYTES;
}

// Pads a gap in the sound with the last kept byte, in chunks of at most one
// second, as long as the tables have room. 0, or -2 when a write failed.
static int PadSound(const TDvrFrameHeader* h)
{
    TMovWriter* w = &gMovWriter;
    uint32_t rate = Rate();
    int64_t frames =
        ((int64_t)h->time - (int64_t)w->firstTime) * rate + ((int64_t)h->frameNumber - (int64_t)w->firstFrameNumber);
    int64_t expected = frames > 0 ? frames * MOV_SOUND_RATE / rate : 0;
    int64_t shortBy = expected - (int64_t)w->soundBytes;
    if (shortBy < MOV_SOUND_PAD_MIN) return 0;
    memset(gPadding, (int)w->lastSoundByte, sizeof gPadding);
    while (shortBy > 0 && SoundRoom()) {
        uint32_t n = shortBy > MOV_SOUND_PAD_CHUNK ? (uint32_t)MOV_SOUND_PAD_CHUNK : (uint32_t)shortBy;
        if (!Fits(n)) return 0;
        NoteSoundChunk(n);
        if (Put(gPadding, n) != 0) return -2;
        w->soundChunks += 1;
        w->soundBytes += n;
        shortBy -= n;
    }
    return 0;
}

// The bytes of a sound unit that lie on the part's clock: from the first
// picture on (sound older than the part's first video frame is left out)
// and, once the part's end is set, up to it. kept bytes start at the unit's
// time and frame number; the first byte to write goes to *from.
static uint32_t SoundOnTheClock(const TDvrFrameHeader* h, uint32_t kept, uint32_t* from)
{
    const TMovWriter* w = &gMovWriter;
    uint32_t rate = Rate();
    int64_t frames = (int64_t)Mov_FramePosition(h->time, h->frameNumber) -
                     (int64_t)Mov_FramePosition(w->firstTime, w->firstFrameNumber);
    int64_t start = frames * MOV_SOUND_RATE / rate; // the unit's first byte on the clock
    int64_t end = start + kept;
    int64_t lo = start > 0 ? start : 0;
    if (w->soundEnd) {
        int64_t stop = ((int64_t)w->soundEnd - (int64_t)Mov_FramePosition(w->firstTime, w->firstFrameNumber)) *
                       MOV_SOUND_RATE / rate;
        if (end > stop) end = stop;
    }
    if (end <= lo) return 0;
    *from = (uint32_t)(lo - start);
    return (uint32_t)(end - lo);
}

// 0, or -2 when a write failed.
static int WriteSound(const TDvrFrameHeader* h, const uint8_t* unit, uint32_t unitBytes)
{
    TMovWriter* w = &gMovWriter;
    if (h->time > w->endTime || h->time < w->startTime) return 0;
    if (!SoundRoom()) return 0;
    if (w->soundSeen &&
        (h->time < w->lastSoundTime || (h->time == w->lastSoundTime && h->frameNumber <= w->lastSoundFrame)))
        return 0; // no newer than the last sound unit
    uint32_t kept = ((unitBytes - FRAME_HEADER_SIZE) & ~63u) / 2;
    uint32_t from = 0;
    uint32_t n = SoundOnTheClock(h, kept, &from);
    if (n == 0) return 0;
    if (PadSound(h) != 0) return -2;
    if (!SoundRoom() || !Fits(n)) return 0;
    const uint8_t* payload = unit + FRAME_HEADER_SIZE;
    for (uint32_t i = 0; i < n; ++i) gSoundKept[i] = payload[2 * (from + i) + 1]; // the samples' high bytes
    NoteSoundChunk(n);
    if (Put(gSoundKept, n) != 0) return -2;
    w->soundChunks += 1;
    w->soundBytes += n;
    w->lastSoundByte = gSoundKept[n - 1];
    w->soundSeen = 1;
    w->lastSoundTime = h->time;
    w->lastSoundFrame = h->frameNumber;
    return 0;
}

// --- Video -----------------------------------------------------------------------------

// A filler sample from the gap bookkeeping: written and counted.
static void WriteFiller(const uint8_t* sample, uint32_t size)
{
    TMovWriter* w = &gMovWriter;
    if (w->failed || w->samples >= MOV_SAMPLE_CAP || !Fits(size)) return;
    uint32_t offset = (uint32_t)w->position;
    if (Put(sample, size) != 0) return;
    w->sampleSizes[w->samples] = size;
    w->chunkOffsets[w->samples] = offset;
    w->samples += 1;
}

void Mov_HoldLastPicture()
{
    TMovWriter* w = &gMovWriter;
    if (!w->started || w->failed) return;
    uint64_t soundFrames = ((uint64_t)w->soundBytes * Rate() + MOV_SOUND_RATE - 1) / MOV_SOUND_RATE;
    if (soundFrames <= w->samples) return;
    uint8_t filler[H264_FILLER_SIZE];
    H264_MakeFiller(w->widthCode, w->heightCode, filler);
    for (uint64_t n = soundFrames - w->samples; n > 0 && w->samples + 1 < MOV_SAMPLE_CAP && !w->failed; --n) {
        H264_SetFrameNumber(filler, sizeof filler, w->gap.counter);
        w->gap.counter = (w->gap.counter + 1) % H264_FRAME_NUMBERS;
        w->gap.written += 1;
        WriteFiller(filler, sizeof filler);
    }
}

// Where the NAL length that must cover the trailer sits: the last NAL unit
// of the payload, found by following the lengths from the start (a payload
// of one unit, as the recorder sends, gives its leading length). A walk
// that leaves the payload stops at the last unit that lay inside it.
static uint32_t LastNalOffset(const uint8_t* payload, uint32_t n)
{
    uint32_t last = 0;
    uint32_t pos = 0;
    while (pos + 4 <= n) {
        uint32_t len = GetBe32(payload + pos);
        if (len == 0 || len > n - pos - 4) break;
        last = pos;
        pos += 4 + len;
    }
    return last;
}

// 0, -1 when a table is full, -2 when a write failed.
static int WriteVideo(const TDvrFrameHeader* h, uint8_t* unit, uint32_t unitBytes)
{
    TMovWriter* w = &gMovWriter;
    if (h->time < w->lastTextSecond) {
        w->waitKey = 1;
        return 0;
    }
    int r = WriteTextSamples(h->time, h->timeOffset);
    if (r != 0) return r;

    uint8_t* payload = unit + FRAME_HEADER_SIZE;
    uint32_t payloadBytes = unitBytes - FRAME_HEADER_SIZE;
    uint32_t type = FrameHeader_Type(h);
    bool first = w->samples == 0;
    if (!Fits((uint64_t)payloadBytes + MOV_TRAILER_SIZE + H264_PARAM_SETS_MAX)) return RefuseFileFull();
    if (type == 0 && w->syncs >= MOV_SYNC_CAP) return Refuse(MOV_STOP_SYNC_FULL, w->syncs, MOV_SYNC_CAP);
    if (Mov_FillGap(&w->gap, w->samples, payload, payloadBytes, type, h->time, h->frameNumber, h->width, h->height,
                    WriteFiller) < 0)
        return Refuse(MOV_STOP_SAMPLES_FULL, w->samples, MOV_SAMPLE_CAP);
    if (w->failed) return -2;
    if (w->samples >= MOV_SAMPLE_CAP) return Refuse(MOV_STOP_SAMPLES_FULL, w->samples, MOV_SAMPLE_CAP);
    if (type == 0) {
        w->syncTable[w->syncs++] = w->samples + 1;
    }
    uint32_t size = unitBytes + FRAME_HEADER_SIZE;
    uint32_t offset = (uint32_t)w->position;
    if (first) {
        if (Put(w->params0, w->params0Length) != 0) return -2;
        size += w->params0Length;
    }
    // One NAL unit runs on through the trailer. The caller gets its length
    // back as it was, so the frame can still be decoded for the display.
    uint32_t nal = LastNalOffset(payload, payloadBytes);
    uint8_t length[4];
    memcpy(length, payload + nal, 4);
    PutBe32(payload + nal, payloadBytes - nal - 4 + MOV_TRAILER_SIZE);
    // The trailer: 00 00 00 02, the unit's header, zeros.
    memset(w->trailer, 0, sizeof w->trailer);
    w->trailer[3] = 0x02;
    memcpy(w->trailer + 4, w->header, FRAME_HEADER_SIZE);
    if (!first) {
        Watermark_AddSum(WATERMARK_SUM_VIDEO, payload, payloadBytes, WATERMARK_TO_WRITER);
        Watermark_AddSum(WATERMARK_SUM_VIDEO, w->trailer, MOV_TRAILER_SIZE, WATERMARK_TO_WRITER);
    }
    bool ok = Put(payload, payloadBytes) == 0 && Put(w->trailer, MOV_TRAILER_SIZE) == 0;
    memcpy(payload + nal, length, 4);
    if (!ok) return -2;
    w->sampleSizes[w->samples] = size;
    w->chunkOffsets[w->samples] = offset;
    w->samples += 1;
    w->lastVideoTime = h->time;
    w->lastVideoFrame = h->frameNumber;
    return 0;
}

// The first key unit starts the file.
static int StartFile(const TDvrFrameHeader* h, const uint8_t* unit)
{
    TMovWriter* w = &gMovWriter;
    if (Mov_WriteFileHead(unit) != 0) return -2;
    if (H264_MakeParamSets(h->width, h->height, w->params0, &w->params0Length, H264_FORM_AVC1) != 0)
        w->params0Length = 0;
    if (H264_MakeParamSets(h->width, h->height, w->params1, &w->params1Length, H264_FORM_AVCC) != 0)
        w->params1Length = 0;
    Mov_Geometry(h, w->geometry);
    w->widthCode = h->width;
    w->heightCode = h->height;
    w->width = h->width * 16u;
    w->height = h->height * 16u;
    w->standard = h->height == 32 || h->height == 16 ? 1 : 0;
    w->frameRate = w->standard ? 25 : 30;
    w->firstTime = h->time;
    w->firstFrameNumber = h->frameNumber;
    w->lastVideoTime = h->time;
    w->lastVideoFrame = h->frameNumber;
    Mov_FillGapStart(&w->gap, w->frameRate, h->time, h->frameNumber);
    w->started = 1;
    return 0;
}

int Mov_WriteFrame(uint8_t* frame, uint32_t length)
{
    TMovWriter* w = &gMovWriter;
    if (!frame || length < FRAME_HEADER_SIZE) {
        w->waitKey = 1;
        return -1;
    }
    if (w->failed) return 0;
    w->refused = 0;
    TDvrFrameHeader h;
    memcpy(&h, frame, sizeof h);
    uint32_t units = FrameHeader_FurtherUnits(&h) + 1;
    uint32_t at = 0;
    uint32_t lastKind = 0, lastTime = 0, lastBytes = 0, lastLow = 0;
    for (uint32_t i = 0; i < units; ++i) {
        // A bad header, or a unit the buffer does not hold whole, ends the buffer.
        if (length - at < FRAME_HEADER_SIZE) {
            w->waitKey = 1;
            return -1;
        }
        uint8_t* unit = frame + at;
        memcpy(&h, unit, sizeof h);
        uint32_t unitBytes = 64u * h.unitLength;
        if (FrameHeader_CheckUnit(&h, 0, 0) != 0 || unitBytes > length - at) {
            w->waitKey = 1;
            return -1;
        }
        at += unitBytes;
        uint32_t kind = FrameHeader_Kind(&h);
        uint32_t type = FrameHeader_Type(&h);
        bool video = kind == FRAME_KIND_VIDEO;
        lastKind = kind;
        lastTime = h.time;
        lastBytes = unitBytes;
        lastLow = ((uint32_t)h.byte9 | ((uint32_t)h.byte10 << 8)) & 0x1FF;

        if (h.time < w->startTime) continue;
        // Only a video key unit ends the wait for one; sound goes on.
        if (w->waitKey && video) {
            if (type != 0) continue;
            w->waitKey = 0;
        }
        if (!w->started) {
            if (!video) {
                KeepEarlySound(unit, unitBytes);
                continue;
            }
            if (type != 0) continue;
            if (StartFile(&h, unit) != 0) return 0;
        }
        memcpy(w->header, unit, FRAME_HEADER_SIZE);
        // Sound from before the first picture is cut to the picture's time
        // when it is written.
        if (video && h.time == w->firstTime && h.frameNumber < w->firstFrameNumber) continue;
        int r = video ? WriteVideo(&h, unit, unitBytes) : WriteSound(&h, unit, unitBytes);
        if (r == -1) return -1;
        if (r != 0) return 0; // the part failed
        if (video && gEarlyBytes) {
            // The sound that came before the first picture and runs into it.
            TDvrFrameHeader e;
            memcpy(&e, gEarlySound, sizeof e);
            uint32_t n = gEarlyBytes;
            gEarlyBytes = 0;
            if (WriteSound(&e, gEarlySound, n) != 0) return 0;
        }
    }
    if (lastKind == FRAME_KIND_VIDEO && lastTime >= w->endTime) return 0;
    if (lastLow != 0) return (int)lastLow;
    return (int)((lastBytes + 1023) / 1024);
}

// --- The closing block -----------------------------------------------------------------

uint32_t Mov_WriteHead()
{
    TMovWriter* w = &gMovWriter;
    if (!w->started || w->failed) return 0;
    memcpy(gMovClosing.tag, "pqrs", 4);
    memcpy(gMovClosing.endTag, "tuvw", 4);
    static uint8_t block[MOV_CLOSING_SIZE];
    memset(block, 0, sizeof block);
    memcpy(block, &gMovClosing, sizeof gMovClosing);
    if (Put(block, sizeof block) != 0) return 0;
    return (uint32_t)(w->position - MOV_MEDIA_DATA_START);
}

uint32_t Mov_Duration() { return gMovWriter.samples * 20; }

// --- The "moov" ----------------------------------------------------------------------------

// The atom buffer being filled; an atom that would not fit marks it spoilt.
static uint8_t* gAtoms;
static uint32_t gAtomsSize, gAtomsUsed;
static bool gAtomsSpoilt;

static uint8_t* Room(uint32_t n)
{
    if (gAtomsSpoilt || n > gAtomsSize - gAtomsUsed) {
        gAtomsSpoilt = true;
        return nullptr;
    }
    uint8_t* p = gAtoms + gAtomsUsed;
    gAtomsUsed += n;
    return p;
}

static void W8(uint32_t v)
{
    if (uint8_t* p = Room(1)) p[0] = (uint8_t)v;
}
static void W16(uint32_t v)
{
    if (uint8_t* p = Room(2)) PutBe16(p, v);
}
static void W32(uint32_t v)
{
    if (uint8_t* p = Room(4)) PutBe32(p, v);
}
static void WTag(const char* tag)
{
    if (uint8_t* p = Room(4)) memcpy(p, tag, 4);
}
static void WBytes(const void* data, uint32_t n)
{
    if (uint8_t* p = Room(n)) memcpy(p, data, n);
}
static void WZeros(uint32_t n)
{
    if (uint8_t* p = Room(n)) memset(p, 0, n);
}
// A length-prefixed string.
static void WPascal(const char* s)
{
    uint32_t n = (uint32_t)strlen(s);
    W8(n);
    WBytes(s, n);
}

// Starts an atom: a size to be filled in and its code.
static uint32_t Open(const char* tag)
{
    uint32_t at = gAtomsUsed;
    W32(0);
    WTag(tag);
    return at;
}
// Ends the atom that Open started: its size covers its children.
static void Close(uint32_t at)
{
    if (!gAtomsSpoilt) PutBe32(gAtoms + at, gAtomsUsed - at);
}
// Version and flags.
static void WFull(uint32_t version, uint32_t flags) { W32((version << 24) | (flags & 0xFFFFFF)); }

// A matrix {a, b, u, c, d, v, x, y, w}.
static void WMatrix(uint32_t d, uint32_t x, uint32_t y)
{
    W32(0x00010000);
    W32(0);
    W32(0);
    W32(0);
    W32(d);
    W32(0);
    W32(x);
    W32(y);
    W32(0x40000000);
}

static void WriteMvhd(uint32_t timeScale, uint32_t D)
{
    const TMovWriter* w = &gMovWriter;
    uint32_t at = Open("mvhd");
    WFull(0, 0);
    W32(w->firstTime);     // creation
    W32(w->lastVideoTime); // modification
    W32(timeScale);
    W32(D);          // duration
    W32(0x00010000); // rate 1.0
    W16(0);          // volume
    static const uint8_t reserved[10] = {0x75, 0x6C, 0x74, 0x72, 0x02, 0x01, 0, 0, 0, 0};
    WBytes(reserved, sizeof reserved);
    WMatrix(0x00010000, 0, 0);
    W32(0); // preview time
    W32(0); // preview duration
    W32(0); // poster time
    W32(D); // selection time
    W32(0); // selection duration
    W32(0); // current time
    W32(4); // next track id: tracks 1 to 3 are taken
    Close(at);
}

// Track header: flags 15 (enabled, in movie, preview, poster).
static void WriteTkhd(uint32_t trackId, uint32_t D, uint32_t layer, uint32_t volume, uint32_t d, uint32_t x, uint32_t y,
                      uint32_t width, uint32_t height)
{
    uint32_t at = Open("tkhd");
    WFull(0, 15);
    W32(kTrackTime); // creation
    W32(kTrackTime); // modification
    W32(trackId);
    W32(0);    // reserved
    W32(D);    // duration
    WZeros(8); // reserved
    W16(layer);
    W16(0); // alternate group
    W16(volume);
    W16(0); // reserved
    WMatrix(d, x, y);
    W32(width << 16); // 16.16
    W32(height << 16);
    Close(at);
}

static void WriteTapt(uint32_t width, uint32_t height)
{
    uint32_t at = Open("tapt");
    const char* tags[3] = {"clef", "prof", "enof"};
    for (uint32_t i = 0; i < 3; ++i) {
        uint32_t a = Open(tags[i]);
        WFull(0, 0);
        W32(i == 0 ? width << 16 : 0);
        W32(i == 0 ? height << 16 : 0);
        Close(a);
    }
    Close(at);
}

static void WriteEdts(uint32_t D, uint32_t rate)
{
    uint32_t at = Open("edts");
    uint32_t e = Open("elst");
    WFull(0, 0);
    W32(1); // entries
    W32(D); // track duration
    W32(0); // media time
    W32(rate);
    Close(e);
    Close(at);
}

static void WriteMdhd(uint32_t timeScale, uint32_t duration)
{
    uint32_t at = Open("mdhd");
    WFull(0, 0);
    W32(kTrackTime); // creation
    W32(kTrackTime); // modification
    W32(timeScale);
    W32(duration);
    W16(0); // language
    W16(0); // quality
    Close(at);
}

// The component names are all 23 characters, so that the video, sound and
// text tracks' fixed parts come to 530, 424 and 491 bytes.
static void WriteHdlr(const char* type, const char* subtype, const char* maker, uint32_t flags, const char* name)
{
    uint32_t at = Open("hdlr");
    WFull(0, 0);
    WTag(type);
    WTag(subtype);
    WTag(maker);
    W32(flags); // component flags
    W32(0);     // flags mask
    WPascal(name);
    Close(at);
}

// The data handler and the data reference: the samples are in this file.
static void WriteDataRefs()
{
    WriteHdlr("dhlr", "alis", "appl", 1, "Tavlin Alias Data Hndlr");
    uint32_t dinf = Open("dinf");
    uint32_t dref = Open("dref");
    WFull(0, 0);
    W32(1); // entries
    uint32_t alis = Open("alis");
    WFull(0, 1); // self reference
    Close(alis);
    Close(dref);
    Close(dinf);
}

// A table of 32-bit values.
static void WTable(const uint32_t* values, uint32_t n)
{
    if (uint8_t* p = Room(4 * n))
        for (uint32_t i = 0; i < n; ++i) PutBe32(p + 4 * i, values[i]);
}

static void WriteStts(uint32_t count, uint32_t duration)
{
    uint32_t at = Open("stts");
    WFull(0, 0);
    W32(1);
    W32(count);
    W32(duration);
    Close(at);
}

static void WriteStscOne()
{
    uint32_t at = Open("stsc");
    WFull(0, 0);
    W32(1);
    W32(1); // first chunk
    W32(1); // samples per chunk
    W32(1); // description
    Close(at);
}

static void WriteStco(const uint32_t* offsets, uint32_t n)
{
    uint32_t at = Open("stco");
    WFull(0, 0);
    W32(n);
    WTable(offsets, n);
    Close(at);
}

static void WriteUdta()
{
    uint32_t at = Open("udta");
    W32(0); // ends the user data
    Close(at);
}

static uint32_t Min(uint32_t a, uint32_t b) { return a < b ? a : b; }

static void WriteVideoTrak(uint32_t timeScale, uint32_t D)
{
    const TMovWriter* w = &gMovWriter;
    uint32_t trak = Open("trak");
    uint32_t g1 = w->geometry[0] ? w->geometry[0] : 1;
    uint32_t scale = (uint32_t)(((uint64_t)w->geometry[2] << 16) / g1);
    WriteTkhd(1, D, 0, 0, scale, 0, 0, w->width, w->height);
    WriteTapt(w->width, w->height);
    WriteEdts(D, 0x00010000);
    uint32_t mdia = Open("mdia");
    WriteMdhd(timeScale, D);
    WriteHdlr("mhlr", "vide", "appl", 0, "Tavlin Video Media Hdlr");
    uint32_t minf = Open("minf");
    uint32_t vmhd = Open("vmhd");
    WFull(0, 1);
    W16(0x40); // graphics mode
    W16(0x8000);
    W16(0x8000);
    W16(0x8000); // operation colour
    Close(vmhd);
    WriteDataRefs();
    uint32_t stbl = Open("stbl");
    uint32_t stsd = Open("stsd");
    WFull(0, 0);
    W32(1); // entries
    uint32_t avc1 = Open("avc1");
    WZeros(6);       // reserved
    W16(1);          // data-reference index: the one "alis" entry
    W16(1);          // version
    W16(1);          // revision
    WTag("appl");    // vendor
    W32(0);          // temporal quality
    W32(0x00000202); // spatial quality
    W16(w->width);
    W16(w->height);
    W32(0x00480000); // 72 dpi
    W32(0x00480000);
    W32(0); // data size
    W16(1); // frame count
    uint8_t compressor[32] = {5, 'H', '.', '2', '6', '4'};
    WBytes(compressor, sizeof compressor);
    W16(24);     // depth
    W16(0xFFFF); // colour table: none
    uint32_t clap = Open("clap");
    W32(w->width);
    W32(1); // aperture width
    W32(w->height);
    W32(1); // aperture height
    W32(0);
    W32(1); // horizontal offset
    W32(0);
    W32(1); // vertical offset
    Close(clap);
    uint32_t avcc = Open("avcC");
    W8(1); // version
    W8(0);
    W8(0);
    W8(0);    // profile, compatibility, level
    W8(0x03); // 4-byte NAL lengths
    W8(0x01); // one SPS
    WBytes(w->params1, w->params1Length);
    Close(avcc);
    Close(avc1);
    Close(stsd);
    WriteStts(w->samples, 20);
    uint32_t syncs = Min(w->syncs, MOV_SYNC_CAP);
    uint32_t stss = Open("stss");
    WFull(0, 0);
    W32(syncs);
    WTable(w->syncTable, syncs);
    Close(stss);
    WriteStscOne();
    uint32_t samples = Min(w->samples, MOV_SAMPLE_CAP);
    uint32_t stsz = Open("stsz");
    WFull(0, 0);
    W32(0); // sizes differ
    W32(samples);
    WTable(w->sampleSizes, samples);
    Close(stsz);
    WriteStco(w->chunkOffsets, samples);
    Close(stbl);
    Close(minf);
    Close(mdia);
    WriteUdta();
    Close(trak);
}

static void WriteSoundTrak(uint32_t D)
{
    const TMovWriter* w = &gMovWriter;
    uint32_t trak = Open("trak");
    WriteTkhd(3, D, 0xFFFF, 0x0100, 0x00010000, 0, 0, 0, 0);
    WriteEdts(D, 0x00010000);
    uint32_t mdia = Open("mdia");
    WriteMdhd(MOV_SOUND_RATE, w->soundBytes);
    WriteHdlr("mhlr", "soun", "appl", 0, "Tavlin Sound Media Hdlr");
    uint32_t minf = Open("minf");
    uint32_t smhd = Open("smhd");
    WFull(0, 0);
    W16(0); // balance
    W16(0); // reserved
    Close(smhd);
    WriteDataRefs();
    uint32_t stbl = Open("stbl");
    uint32_t stsd = Open("stsd");
    WFull(0, 0);
    W32(1);
    uint32_t raw = Open("raw ");
    WZeros(6);
    W16(1);                    // data-reference index
    W16(1);                    // version
    W16(0);                    // revision
    W32(0);                    // vendor
    W16(1);                    // channels
    W16(8);                    // bits per sample
    W16(0xFFFF);               // compression id -1
    W16(0);                    // packet size
    W32(MOV_SOUND_RATE << 16); // 8000.0
    W32(1);                    // samples per packet
    W32(1);                    // bytes per packet
    W32(1);                    // bytes per frame
    W32(1);                    // bytes per sample
    Close(raw);
    Close(stsd);
    WriteStts(w->soundBytes, 1);
    uint32_t entries = Min(w->soundEntries, (MOV_SOUND_ENTRY_BYTES - 8) / MOV_SOUND_ENTRY_SIZE);
    uint32_t stsc = Open("stsc");
    WFull(0, 0);
    W32(entries);
    WTable(&w->soundEntryTable[0][0], 3 * entries);
    Close(stsc);
    uint32_t stsz = Open("stsz");
    WFull(0, 0);
    W32(1); // every sample is one byte
    W32(w->soundBytes);
    Close(stsz);
    WriteStco(w->soundOffsets, Min(w->soundChunks, MOV_SOUND_CHUNK_CAP));
    Close(stbl);
    Close(minf);
    Close(mdia);
    WriteUdta();
    Close(trak);
}

static void WriteTextTrak(uint32_t D)
{
    const TMovWriter* w = &gMovWriter;
    uint32_t trak = Open("trak");
    // The text box sits in the bottom right corner; on 640-wide field
    // pictures the shown height is the stretched one.
    uint32_t shownHeight = w->height;
    if (w->width == 640 && w->geometry[3]) shownHeight = w->height * w->geometry[2] / w->geometry[3];
    WriteTkhd(2, D, 0xFFFF, 0, 0x00010000, (w->width - 160u) << 16, (shownHeight - 16u) << 16, 160, 16);
    WriteEdts(D, 0x00000064);
    uint32_t mdia = Open("mdia");
    WriteMdhd(D * 36 / 100 + D * 655, D);
    WriteHdlr("mhlr", "text", "app2", 0x80000001, "Tavlin Text Media Hndlr");
    uint32_t minf = Open("minf");
    uint32_t gmhd = Open("gmhd");
    uint32_t gmin = Open("gmin");
    WFull(0, 0);
    W16(0x40); // graphics mode
    W16(0x8000);
    W16(0x8000);
    W16(0x8000);
    W16(0); // balance
    W16(0); // reserved
    Close(gmin);
    uint32_t text = Open("text");
    static const uint32_t words[9] = {0x00000100, 0, 0, 0, 0x00000100, 0, 0, 0, 0x00000040};
    WTable(words, 9);
    Close(text);
    Close(gmhd);
    WriteDataRefs();
    uint32_t stbl = Open("stbl");
    uint32_t stsd = Open("stsd");
    WFull(0, 0);
    W32(1);
    uint32_t entry = Open("text");
    WZeros(6);
    W16(1);          // data-reference index
    W32(0x00005000); // display flags
    W32(1);          // justification
    W16(0);
    W16(0);
    W16(0); // background colour
    W16(0);
    W16(0);
    W16(16);
    W16(160); // box top, left, bottom, right
    static const uint8_t middle[8] = {0, 0, 0, 0, 0, 0x10, 0, 0x0D};
    WBytes(middle, sizeof middle);
    W16(0); // font number
    W16(0); // face
    W8(0);
    W8(0x0C);
    W16(0xFFFF);
    W16(0xFFFF);
    W16(0xFFFF); // foreground colour
    W8(0);       // font name: empty
    Close(entry);
    Close(stsd);
    uint32_t n = Min(w->textSamples, MOV_TEXT_CAP);
    WriteStts(n, D);
    WriteStscOne();
    uint32_t stsz = Open("stsz");
    WFull(0, 0);
    W32(0);
    W32(n);
    if (uint8_t* p = Room(4 * n))
        for (uint32_t i = 0; i < n; ++i) PutBe32(p + 4 * i, MOV_TEXT_SAMPLE_SIZE);
    Close(stsz);
    WriteStco(w->textOffsets, n);
    Close(stbl);
    Close(minf);
    Close(mdia);
    WriteUdta();
    Close(trak);
}

// --- The file head ----------------------------------------------------------------

// "ftyp" (QuickTime, its minor version and compatible brand, three zero
// words), "wide", and the header of "mdat", whose size is written when the
// part is complete.
int Mov_WriteFileHead(const uint8_t* firstHeader)
{
    uint8_t head[MOV_HEAD_SIZE] = {};
    gAtoms = head;
    gAtomsSize = sizeof head;
    gAtomsUsed = 0;
    gAtomsSpoilt = false;
    uint32_t ftyp = Open("ftyp");
    WTag("qt  ");    // major brand
    W32(0x20050300); // minor version
    WTag("qt  ");    // compatible brand
    WZeros(12);
    Close(ftyp);
    Close(Open("wide"));
    W32(0); // "mdat" size
    WTag("mdat");
    gAtoms = nullptr;
    gMovWriter.position = 0;
    if (Put(head, sizeof head) != 0) return -1;
    Watermark_Seed(firstHeader);
    return 0;
}

uint32_t Mov_BuildMoov(uint8_t* buffer, uint32_t size)
{
    const TMovWriter* w = &gMovWriter;
    gAtoms = buffer;
    gAtomsSize = buffer ? size : 0;
    gAtomsUsed = 0;
    gAtomsSpoilt = false;
    uint32_t timeScale = 20 * (w->frameRate ? w->frameRate : 30);
    uint32_t D = Mov_Duration();
    uint32_t moov = Open("moov");
    WriteMvhd(timeScale, D);
    WriteVideoTrak(timeScale, D);
    if (w->soundChunks > 0) WriteSoundTrak(D);
    if (w->textSamples > 0) WriteTextTrak(D);
    Close(moov);
    return gAtomsSpoilt ? 0 : gAtomsUsed;
}

int Mov_WriteMoov()
{
    uint32_t n = Mov_BuildMoov(gMoov, sizeof gMoov);
    if (n == 0) {
        // Cannot happen within the caps; were it to, the part stays incomplete.
        Mov_NoteStop(MOV_STOP_WRITE_FAILED, 0, (uint32_t)gMovWriter.position, sizeof gMoov, 0, 0);
        gMovWriter.failed = 1;
        return -1;
    }
    return Put(gMoov, n);
}

int Mov_Finish(uint32_t)
{
    TMovWriter* w = &gMovWriter;
    if (!w->started || w->failed) return -1;
    w->moovStep = 1;
    if (Mov_WriteMoov() != 0) return -1;
    w->moovStep = 29;
    if (Watermark_Sign(&gWatermarkRecord) != 0) {
        Mov_NoteStop(MOV_STOP_WRITE_FAILED, 0, (uint32_t)w->position, WATERMARK_SIZE, 0, 0);
        w->failed = 1;
        return -1;
    }
    uint32_t pad = MOV_PAD_ALIGN - (uint32_t)(w->position % MOV_PAD_ALIGN);
    static const uint8_t zeros[MOV_PAD_ALIGN] = {};
    return Put(zeros, pad);
}

int Mov_WriteMediaLength(uint32_t length)
{
    TMovWriter* w = &gMovWriter;
    if (!w->started || w->failed) return -1;
    uint8_t be[4];
    PutBe32(be, length);
    if (OutFile_WriteAt(w->mediaStart, be, 4) != 0) {
        Mov_NoteStop(MOV_STOP_WRITE_FAILED, 0, w->mediaStart, 4, 0, 0);
        w->failed = 1;
        return -1;
    }
    return 0;
}
