// The backup controller's state machine over gBackupBlock. Owns the block,
// the start-frame buffer and its table, the settled offset, the watermark
// deadline, the part-open flag, the running backup's marks, session and
// sending pace, the notes of parts that ended early, how the backup ended,
// and the process-wide part counters.
#include "media/Backup.h"
#include "link/Icmd.h"
#include "link/ViewRecord.h"
#include "media/Audio.h"
#include "media/Hooks.h"
#include "media/Decoder.h"
#include "media/H264Params.h"
#include "media/Mov.h"
#include "media/OutFile.h"
#include "media/Stream.h"
#include "media/Watermark.h"
#include "panel/Ie_com.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include "platform/win/Win.h"
#include <cctype>
#include <cstdio>
#include <cstring>

TBackupBlock gBackupBlock;
uint32_t gBackupSizeOffset = 0;
uint32_t gBackupPartCount = 0;
uint32_t gBackupPartsDone = 0;
uint32_t gBackupPartBroken = 0;
int32_t gBackupTimeOffset = 0;
uint32_t gBackupEndReason = BACKUP_END_MARK;
uint32_t gBackupReached = 0;
uint32_t gBackupReachedAny = 0;
TBackupNote gBackupNotes[BACKUP_NOTES];
uint32_t gBackupNoteCount = 0;

// The start-frame buffer: frames one after another, a table of
// {length, position}, and the first video frames' offsets.
struct TStartEntry {
    uint32_t length;
    uint32_t position;
};
static uint8_t gStartBuffer[BACKUP_START_BUFFER];
static TStartEntry gStartTable[BACKUP_START_ENTRIES];
static uint32_t gStartCount; // entries in the table
static uint32_t gStartVideo; // video frames among them
static int32_t gStartOffsets[BACKUP_START_VIDEO];
static uint32_t gCarried;           // entries that began the next part before it opened
static uint32_t gWatermarkDeadline; // recorder time the part stops waiting at
static uint32_t gPartOpen;          // 1 from the file's creation to its finish

// The running backup.
static uint32_t gActive;       // 1 from the start until the end
static uint32_t gEndNoted;     // 1 once the reason of the coming end is known
static uint32_t gSpanStart;    // the start mark the backup was started with
static uint32_t gNextStart;    // recorder time the next part starts at (its first key frame)
static uint32_t gSession;      // the session the span is asked on
static TStreamRecord* gStream; // the stream being copied
// The link: when it was lost, whether the part in hand stays open (nothing
// was written to it yet) and the state it goes back to.
static uint32_t gLinkSince;
static uint32_t gKeepPart;
static uint32_t gLinkFrom;
// The recorder's sending pace: the first and the last video frame of the
// request (process clock ms, recorder time).
static uint32_t gPaceAny, gPaceMs0, gPaceTime0, gPaceMs1, gPaceTime1;
// A drained sound unit: the writer stamps its copy, never the ring's.
static uint8_t gDrained[AUDIO_MAX_TOTAL];

uint32_t Backup_PartOpen() { return gPartOpen; }
int Backup_Active() { return gActive ? 1 : 0; }
int Backup_ActiveOn(const TStreamRecord* stream) { return gActive && stream && stream == gStream ? 1 : 0; }
uint32_t Backup_SpanStart() { return gSpanStart; }

static uint32_t NowMs() { return GetTickCount(); }

static TViewRecord* ViewOf(TStreamRecord* s) { return s && s->connection ? s->connection->view : nullptr; }

static bool Running(const TViewRecord* v)
{
    return v && v->mode == VIEW_BACKUP && v->backupBlock.backupArmed == BACKUP_RUNNING;
}

static void EmptyStartBuffer()
{
    gBackupBlock.bufferUse = 0;
    gStartCount = 0;
    gStartVideo = 0;
    gCarried = 0;
    memset(gStartOffsets, 0, sizeof gStartOffsets);
}

// 1 when text (of n bytes at least 4) ends in ".mov", in any case.
static int EndsInMov(const char* text, size_t n)
{
    const char* tail = text + n - 4;
    return tail[0] == '.' && tolower((unsigned char)tail[1]) == 'm' && tolower((unsigned char)tail[2]) == 'o' &&
           tolower((unsigned char)tail[3]) == 'v';
}

int Backup_PartFileName(const char* chosen, uint32_t part, char* out, uint32_t size)
{
    if (!chosen || !out || size == 0) return -1;
    out[0] = 0;
    size_t n = strlen(chosen);
    const char* name = chosen;
    for (const char* p = chosen; *p; ++p)
        if (*p == '/' || *p == '\\') name = p + 1;
    // Only the file name's own extension is cut: a folder may hold ".mov".
    if ((size_t)(chosen + n - name) < 4 || !EndsInMov(chosen, n)) return -1;
    int base = (int)(n - 4);
    int written = part == 0 ? snprintf(out, size, "%s", chosen)
                            : snprintf(out, size, "%.*s(%u)%s", base, chosen, part, chosen + base);
    if (written < 0 || (uint32_t)written >= size) {
        out[0] = 0;
        return -1;
    }
    return 0;
}

int32_t Backup_SettleOffset(const int32_t* o, uint32_t count)
{
    if (!o || count == 0) return 0;
    for (uint32_t i = 0; i < count && i < BACKUP_START_VIDEO; ++i)
        if (o[i] > BACKUP_OFFSET_LIMIT || o[i] < -BACKUP_OFFSET_LIMIT) return 0;
    if (count == 1) return o[0];
    if (count == 2) return o[0] == o[1] ? o[0] : o[1];
    int32_t a = o[0], b = o[1], c = o[2];
    if (a == b || a == c) return a;
    if (b == c) return b;
    return c;
}

void Backup_ApplyOffset(int32_t offset)
{
    gMovWriter.startTime -= (uint32_t)offset;
    gMovWriter.endTime -= (uint32_t)offset;
}

static bool IsVideo(const uint8_t* frame)
{
    TDvrFrameHeader h;
    memcpy(&h, frame, sizeof h);
    return FrameHeader_Kind(&h) == FRAME_KIND_VIDEO;
}

int Backup_BufferFrame(const uint8_t* frame, uint32_t index, uint32_t length)
{
    if (!frame || length < FRAME_HEADER_SIZE) return 0;
    uint32_t used = gBackupBlock.bufferUse;
    if (gStartCount >= BACKUP_START_ENTRIES || length > BACKUP_START_BUFFER - used) return -1;
    memcpy(gStartBuffer + used, frame, length);
    gStartTable[gStartCount].length = length;
    gStartTable[gStartCount].position = used;
    gStartCount += 1;
    gBackupBlock.bufferUse = used + length;
    if (!IsVideo(frame)) return 0;
    TDvrFrameHeader h;
    memcpy(&h, frame, sizeof h);
    if (index < BACKUP_START_VIDEO) gStartOffsets[index] = h.timeOffset;
    return 1;
}

// The entries from first on begin the next part: they move to the front of
// the buffer, which the next part keeps.
static void CarryFrom(uint32_t first)
{
    uint32_t from = first < gStartCount ? gStartTable[first].position : gBackupBlock.bufferUse;
    uint32_t bytes = gBackupBlock.bufferUse - from;
    memmove(gStartBuffer, gStartBuffer + from, bytes);
    uint32_t n = gStartCount - first;
    for (uint32_t i = 0; i < n; ++i) {
        gStartTable[i] = gStartTable[first + i];
        gStartTable[i].position -= from;
    }
    gStartCount = n;
    gBackupBlock.bufferUse = bytes;
    gCarried = n;
}

// The video count and offsets of what the buffer holds (after a carry).
static void CountStartBuffer()
{
    gStartVideo = 0;
    memset(gStartOffsets, 0, sizeof gStartOffsets);
    for (uint32_t i = 0; i < gStartCount; ++i) {
        const uint8_t* f = gStartBuffer + gStartTable[i].position;
        if (!IsVideo(f)) continue;
        TDvrFrameHeader h;
        memcpy(&h, f, sizeof h);
        if (gStartVideo < BACKUP_START_VIDEO) gStartOffsets[gStartVideo] = h.timeOffset;
        gStartVideo += 1;
    }
}

// --- The sending pace and the link ------------------------------------------------

static void NotePace(uint32_t now, const uint8_t* frame, uint32_t length)
{
    if (length < FRAME_HEADER_SIZE || !IsVideo(frame)) return;
    TDvrFrameHeader h;
    memcpy(&h, frame, sizeof h);
    if (!gPaceAny) {
        gPaceAny = 1;
        gPaceMs0 = now;
        gPaceTime0 = h.time;
    }
    gPaceMs1 = now;
    gPaceTime1 = h.time;
}

// How long the recorder may send nothing while the link is alive: twice the
// time its pace needs for the rest of the span (real time until the pace is
// known), and 15 s more. A recorder that waits through a gap in its
// recording is given that time; one that has sent all it has ends the
// backup once it is up.
static uint32_t AllowedSilence(const TViewRecord* v)
{
    uint32_t end = gMovWriter.endTime;
    if (!gPartOpen && v) end = v->backupBlock.backupEnd - (uint32_t)gBackupTimeOffset;
    uint32_t last = gPaceAny ? gPaceTime1 : gNextStart;
    uint64_t left = end > last ? end - last : 0;
    uint64_t ms = left * 1000;
    if (gPaceAny && gPaceTime1 - gPaceTime0 >= BACKUP_PACE_SECONDS)
        ms = left * (uint64_t)(gPaceMs1 - gPaceMs0) / (gPaceTime1 - gPaceTime0);
    ms = 2 * ms + BACKUP_SILENCE_MS;
    return ms > 0x7FFFFFFFu ? 0x7FFFFFFFu : (uint32_t)ms;
}

static bool LinkUp(const TConnection* c) { return c && c->linkState == LINK_LOGGED_IN && c->active && c->session != 0; }

// The recorder answers: no request of socket 0 has waited 15 s.
static bool Answering(const TConnection* c)
{
    return !(c->busy[0] && Stopwatch_Now() - c->sendTime[0] > (uint32_t)BACKUP_SILENCE_MS * 100u);
}

// --- Sound up to the part's end -----------------------------------------------------

// The frame time just after a sound unit's last sample.
static uint64_t SoundEnd(const TDvrFrameHeader& h, uint32_t length)
{
    const TMovWriter* w = &gMovWriter;
    uint32_t kept = length > FRAME_HEADER_SIZE ? ((length - FRAME_HEADER_SIZE) & ~63u) / 2 : 0;
    uint32_t rate = w->frameRate ? w->frameRate : 30;
    return Mov_FramePosition(h.time, h.frameNumber) + ((uint64_t)kept * rate + MOV_SOUND_RATE - 1) / MOV_SOUND_RATE;
}

// A sound unit the drain offers: written when it begins before the part's
// end; one that runs on past the end is written up to it and stays in the
// ring for the next part.
static int TakeDrained(const uint8_t* frame, uint32_t length)
{
    TMovWriter* w = &gMovWriter;
    if (length < FRAME_HEADER_SIZE || length > sizeof gDrained) return 1;
    TDvrFrameHeader h;
    memcpy(&h, frame, sizeof h);
    uint64_t at = Mov_FramePosition(h.time, h.frameNumber);
    if (w->soundEnd && at >= w->soundEnd) return 0;
    memcpy(gDrained, frame, length);
    memcpy(gDrained + 28, &gBackupTimeOffset, 4);
    if (Mov_AccountFrame(gDrained, length) != -1) Mov_WriteFrame(gDrained, length);
    return w->soundEnd && SoundEnd(h, length) > w->soundEnd ? 0 : 1;
}

// The sound the ring holds before the part's sound end goes into the part.
static void Drain()
{
    const TMovWriter* w = &gMovWriter;
    if (gPartOpen && w->started && !w->failed && gStream) Audio_DrainBackupSound(gStream, TakeDrained);
}

// The part's sound ends at this frame: what the ring holds before it goes
// into the part now, so it is never left behind by the part's end.
static void SoundUpTo(uint32_t time, uint32_t frameNumber)
{
    const TMovWriter* w = &gMovWriter;
    if (!gPartOpen || !w->started || w->failed) return;
    Mov_SetSoundEnd(time, frameNumber);
    Drain();
}

// Up to the end of the part's last picture, unless the part's end is set.
static void SoundUpToLastPicture()
{
    const TMovWriter* w = &gMovWriter;
    if (w->soundEnd == 0) SoundUpTo(w->lastVideoTime, w->lastVideoFrame + 1u);
    else Drain();
}

int Backup_SoundWaits(const TDvrFrameHeader* h)
{
    const TMovWriter* w = &gMovWriter;
    if (!h || !gActive || !gPartOpen || gBackupBlock.state != BACKUP_STATE_WRITE || !w->started || w->samples == 0)
        return 0;
    // Until the pictures have passed its end: a unit that runs over the key
    // frame that ends the part is then split there by the part's end.
    return SoundEnd(*h, 64u * h->unitLength) > Mov_FramePosition(w->lastVideoTime, w->lastVideoFrame) + 1 ? 1 : 0;
}

// --- Parts ------------------------------------------------------------------------------

// What writing one frame asks of the caller.
enum { TAKE_GO = 0, TAKE_NEXT_PART = 1, TAKE_END = 2, TAKE_DROPPED = 3 };

// The backup ends after this part (in the next state-3 step).
static void EndBackup(uint32_t reason)
{
    if (!gEndNoted) {
        gBackupEndReason = reason;
        gEndNoted = 1;
    }
    gBackupBlock.part = 0;
    gBackupBlock.state = BACKUP_STATE_FINISH;
}

// The part in hand ends before this frame, which (a key frame) begins the
// next part; any other frame is dropped and the next part waits for a key
// frame from its time on.
static int NextPart(const TDvrFrameHeader& h, bool key)
{
    if (gMovWriter.refused != 0 && gMovWriter.samples > 0 && gBackupNoteCount < BACKUP_NOTES) {
        // A full table ends the part: the end of the backup says where the
        // copy goes on.
        uint32_t shown = gMovWriter.lastVideoTime + (uint32_t)gBackupTimeOffset;
        gBackupNotes[gBackupNoteCount++] = {gBackupBlock.part, shown, h.time + (uint32_t)gBackupTimeOffset,
                                            BACKUP_NOTE_FULL};
    }
    SoundUpTo(h.time, h.frameNumber);
    gNextStart = h.time;
    gBackupBlock.part += 1;
    gBackupPartCount += 1;
    gBackupBlock.state = BACKUP_STATE_FINISH;
    return key ? TAKE_NEXT_PART : TAKE_DROPPED;
}

// The last picture reaches the end mark, or the second before it.
static bool ReachedEnd()
{
    const TMovWriter* w = &gMovWriter;
    if (w->samples == 0) return false;
    uint32_t rate = w->frameRate ? w->frameRate : 30;
    return Mov_FramePosition(w->lastVideoTime, w->lastVideoFrame) + 1 >= (uint64_t)w->endTime * rate;
}

// State 2's steps for one frame (header and payload): offset, accounting,
// part change, writing. The frame stays where it is.
static int TakeFrame(uint8_t* frame, uint32_t length)
{
    if (length < FRAME_HEADER_SIZE) return TAKE_DROPPED;
    memcpy(frame + 28, &gBackupTimeOffset, 4);
    TDvrFrameHeader h;
    memcpy(&h, frame, sizeof h);
    TMovWriter* w = &gMovWriter;
    bool video = FrameHeader_Kind(&h) == FRAME_KIND_VIDEO;
    bool key = video && FrameHeader_Type(&h) == 0;
    int r = Mov_AccountFrame(frame, length);
    if (r == -1) {
        if (w->refused == MOV_STOP_PAST_END) {
            SoundUpToLastPicture();
            EndBackup(BACKUP_END_MARK); // the recorder is past the span
            return TAKE_END;
        }
        // A table or the file is full (a long gap in the recording, or key
        // frames often enough to fill the sync table): the next part takes
        // over at this frame.
        return video ? NextPart(h, key) : TAKE_DROPPED;
    }
    bool resized = video && w->started && (h.height != w->heightCode || h.width != w->widthCode);
    if (resized) {
        // A new picture size starts a part at its key frame; P frames of
        // the new size before it cannot be shown and are dropped.
        if (!key) return TAKE_DROPPED;
        gBackupSizeOffset = h.time + (uint32_t)gBackupTimeOffset - gSpanStart + 1;
        return NextPart(h, true);
    }
    // After 30 minutes the part goes on up to the next key frame.
    if (r == 1 && key) return NextPart(h, true);
    int written = Mov_WriteFrame(frame, length);
    if (written == 0) {
        // The end mark is reached, or the write failed.
        SoundUpToLastPicture();
        EndBackup(BACKUP_END_MARK);
        return TAKE_END;
    }
    if (written == -1 && w->refused != 0) return video ? NextPart(h, key) : TAKE_DROPPED;
    return TAKE_GO;
}

// Settles the offset from the video frames buffered so far and writes the
// buffer out; 1 when the part goes on in state 2. Sound that came ahead of
// the part's first picture is written right after it, so the part's sound
// starts with its pictures.
static int Settle()
{
    gBackupTimeOffset = Backup_SettleOffset(gStartOffsets, gStartVideo);
    Backup_ApplyOffset(gBackupTimeOffset);
    gBackupBlock.state = BACKUP_STATE_WRITE;
    uint32_t deferred = gStartCount; // the first sound entry not yet written, while the writer waits for a picture
    for (uint32_t i = 0; i < gStartCount; ++i) {
        uint8_t* f = gStartBuffer + gStartTable[i].position;
        if (!gMovWriter.started && !IsVideo(f)) {
            if (deferred == gStartCount) deferred = i;
            continue;
        }
        int t = TakeFrame(f, gStartTable[i].length);
        if (t == TAKE_NEXT_PART) {
            CarryFrom(i); // the key frame that ended the part and what came after it
            return 0;
        }
        if (t == TAKE_DROPPED && gBackupBlock.state == BACKUP_STATE_FINISH) {
            CarryFrom(i + 1); // a full table at a P frame: the next part waits for a key frame
            return 0;
        }
        if (t == TAKE_END) break;
        if (gMovWriter.started && deferred < i) {
            for (uint32_t k = deferred; k < i; ++k) {
                uint8_t* g = gStartBuffer + gStartTable[k].position;
                if (!IsVideo(g)) TakeFrame(g, gStartTable[k].length);
            }
            deferred = gStartCount;
        }
    }
    EmptyStartBuffer();
    return gBackupBlock.state == BACKUP_STATE_WRITE ? 1 : 0;
}

// Shows a key frame of the backup on decoder channel 0, with the parameter
// sets for its size put in front of its payload.
static void ShowKeyFrame(TStreamRecord* s)
{
    if (s->heldLength <= FRAME_HEADER_SIZE) return;
    TDvrFrameHeader h;
    memcpy(&h, s->heldBuffer, sizeof h);
    if (FrameHeader_Kind(&h) != FRAME_KIND_VIDEO || FrameHeader_Type(&h) != 0) return;
    s->keyFrameWord = 1;
    uint8_t sets[H264_PARAM_SETS_MAX];
    uint32_t n = 0;
    if (H264_MakeParamSets(h.width, h.height, sets, &n, H264_FORM_AVC1) != 0 || n > FRAME_HEADER_SIZE) return;
    uint8_t* at = s->heldBuffer + FRAME_HEADER_SIZE - n;
    memcpy(at, sets, n);
    gDecodeConnection = s->connection ? (int32_t)s->connection->index : 0;
    Decoder_DecodeFrame(at, s->heldLength - FRAME_HEADER_SIZE + n, 0);
}

// The part in hand is closed: its sound up to its last picture first, then
// the closing block, "moov", watermark and "mdat" size.
static void ClosePart()
{
    TMovWriter* w = &gMovWriter;
    if (gPartOpen) {
        if (w->samples > 0 && w->started && !w->failed) {
            SoundUpToLastPicture();
            Mov_HoldLastPicture();
            gBackupReached = w->lastVideoTime + (uint32_t)gBackupTimeOffset;
            gBackupReachedAny = 1;
            uint32_t media = Mov_WriteHead();
            if (media == 0 || Mov_Finish(0) != 0 || Mov_WriteMediaLength(media) != 0) w->failed = 1;
        }
        if (OutFile_Close() != 0) w->failed = 1;
        if (w->failed) gBackupPartBroken = BACKUP_BROKEN_WRITE;
        else if (w->samples == 0) gBackupPartBroken = BACKUP_BROKEN_EMPTY;
        else gBackupPartsDone += 1;
        gPartOpen = 0;
    } else if (gBackupPartBroken == BACKUP_BROKEN_NONE) {
        gBackupPartBroken = BACKUP_PART_UNOPENED;
    }
    w->samples = 0;
    Watermark_EndWait();
}

// The backup has ended: the key panel shows it.
static void EndSteps(bool fromPanel)
{
    gActive = 0;
    if (fromPanel) {
        IE_ST = 1;
        IE_ST2 = 1;
        KeyForm_Update(0);
    } else {
        IE_percentage = 100;
        IE_ST2 = 0;
        IE_ST = 0;
        gPanelLevel = 1;
        Panel_Invalidate();
    }
}

// State 3: the part in hand is closed; part 0 ends the backup.
static void FinishPart(bool fromPanel)
{
    ClosePart();
    if (gBackupBlock.part == 0) EndSteps(fromPanel);
    // After the panel's update, which asks for a finish of its own.
    gBackupBlock.state = BACKUP_STATE_STOP;
    Backup_FinishFiles();
}

// The backup starts: its marks, session and counters.
static void StartBackup(TStreamRecord* s)
{
    TViewRecord* v = ViewOf(s);
    gActive = 1;
    gEndNoted = 0;
    gBackupEndReason = BACKUP_END_MARK;
    gStream = s;
    gSpanStart = v ? v->backupBlock.backupStart : 0;
    gNextStart = gSpanStart;
    gSession = s->connection ? s->connection->session : 0;
    gBackupTimeOffset = 0;
    gBackupReached = 0;
    gBackupReachedAny = 0;
    gBackupNoteCount = 0;
    gBackupPartsDone = 0;
    gKeepPart = 0;
    gPaceAny = 0;
    EmptyStartBuffer();
}

int Backup_StartStop(TViewRecord* view, uint32_t on, const char* fileName)
{
    TStreamRecord* s = view && view->connection ? view->connection->stream : nullptr;
    if (!s) return 0;
    TBackupRequest& b = view->backupBlock;
    TBackupBlock* block = s->backup;
    on = on == 1 ? 1 : 0;
    if (on) {
        const char* name = fileName ? fileName : "";
        size_t n = strnlen(name, BACKUP_NAME_SIZE);
        if (block) memset(block->chosenName, 0, sizeof block->chosenName);
        if (!block || n >= BACKUP_NAME_SIZE) on = 0;
        else memcpy(block->chosenName, name, n);
        if (b.backupStart >= b.backupEnd) on = 0;
    }
    if (on) {
        Backup_SetState(s, BACKUP_STATE_START);
        Stream_ResetChannels(s, 0);
        s->displayTime = b.backupStart;
        block->part = 0;
        gBackupSizeOffset = 0;
        gBackupPartCount = 0; // a backup stopped halfway leaves no count behind
    } else {
        Backup_SetState(s, BACKUP_STATE_STOP);
    }
    b.backupArmed = on;
    Icmd_Send(view->connection->session, ICMD_DATA, ICMD_BACKUP, 0);
    return (int)on;
}

void Backup_ForgetParts() { gBackupPartCount = 0; }

void Backup_SetState(TStreamRecord* stream, uint32_t state)
{
    if (!stream || !stream->backup) return;
    if (stream->backup == &gBackupBlock) {
        if (gActive) {
            gStream = stream;
            if (!gEndNoted) {
                gBackupEndReason = BACKUP_END_STOP;
                gEndNoted = 1;
            }
            // A stop, a start or idle ends the backup now; a finish (the
            // key panel's stop) ends it in the next stream step.
            gBackupBlock.part = 0;
            if (state == BACKUP_STATE_IDLE || state == BACKUP_STATE_START || state == BACKUP_STATE_STOP)
                FinishPart(false);
        }
        if (state == BACKUP_STATE_START) StartBackup(stream);
    }
    stream->backup->state = state;
}

void Backup_NoteEnd(uint32_t reason)
{
    if (!gActive || gEndNoted) return;
    gBackupEndReason = reason;
    gEndNoted = 1;
}

void Backup_Close()
{
    if (!gActive) return;
    Backup_NoteEnd(BACKUP_END_CLOSE);
    TViewRecord* v = ViewOf(gStream);
    if (v) Backup_StartStop(v, 0, nullptr);
    else Backup_SetState(gStream, BACKUP_STATE_STOP);
}

// State 6: the part file opens once the watermark is in (or 10 s passed).
static int OpenPart(TStreamRecord* s, TViewRecord* v)
{
    TBackupBlock* b = &gBackupBlock;
    if (Watermark_Poll() == 0 && (int32_t)(Clock_NowNumber() - gWatermarkDeadline) < 0)
        return s->heldLength ? 1 : 0; // frames wait in the rings meanwhile
    if (!Running(v)) {
        s->heldLength = 0;
        return 0;
    }
    Watermark_EndWait();
    gBackupPartBroken = BACKUP_BROKEN_NONE;
    if (Backup_PartFileName(b->chosenName, b->part, b->partName, sizeof b->partName) != 0 ||
        OutFile_Create(b->partName) != 0) {
        gBackupPartBroken = BACKUP_BROKEN_CREATE;
        EndBackup(BACKUP_END_MARK); // told as the file that cannot be created
        return 0;
    }
    b->lastData = NowMs();
    gPartOpen = 1;
    // Every part starts at the second of the key frame that ended the one
    // before (or of the second the recorder was asked again from), so that
    // frame, which begins it, and its second are written.
    uint32_t start = gNextStart + (uint32_t)gBackupTimeOffset;
    Mov_Init(start, v->backupBlock.backupEnd);
    if (gCarried) CountStartBuffer();
    else EmptyStartBuffer();
    gCarried = 0;
    if (b->part == 0) s->displayTime = start;
    b->state = BACKUP_STATE_SETTLE;
    // The frame held (the first of the part) is taken in the next call.
    return s->heldLength ? 1 : 0;
}

// The link is lost (or the recorder has not answered for 15 s): what came is
// written, and the part in hand is finished so that it plays; the backup
// waits for the link. A part nothing was written to yet stays open.
static void LinkLost(uint32_t now)
{
    TBackupBlock* b = &gBackupBlock;
    if (b->state == BACKUP_STATE_SETTLE && gStartCount && !Settle()) return;
    if (b->state != BACKUP_STATE_WRITE && b->state != BACKUP_STATE_SETTLE) return;
    TMovWriter* w = &gMovWriter;
    gLinkFrom = b->state;
    gLinkSince = now;
    gKeepPart = w->samples == 0 ? 1 : 0;
    if (!gKeepPart) {
        uint32_t shown = w->lastVideoTime + (uint32_t)gBackupTimeOffset;
        if (gBackupNoteCount < BACKUP_NOTES)
            gBackupNotes[gBackupNoteCount++] = {b->part, shown, shown, BACKUP_NOTE_LINK};
        // The recorder is asked again from the last second written: the
        // next part repeats that second's frames up to where this one ends.
        gNextStart = w->lastVideoTime;
        b->part += 1;
        gBackupPartCount += 1;
        ClosePart();
        Backup_FinishFiles();
    }
    b->state = BACKUP_STATE_LINK;
}

// The link is back: the recorder is asked for the rest of the span, from
// the second the next part (or the part kept open) starts at.
static void AskAgain(TStreamRecord* s, TViewRecord* v)
{
    TConnection* c = s->connection;
    v->backupBlock.backupStart = gNextStart + (uint32_t)gBackupTimeOffset;
    v->backupBlock.backupArmed = BACKUP_RUNNING;
    gSession = c->session;
    gPaceAny = 0;
    Stream_ResetChannels(s, 0);
    Icmd_Send(c->session, ICMD_DATA, ICMD_BACKUP, 0);
}

// States 7 and 2, with no frame in hand: the link and the recorder's
// silence. 1 when the part (or the backup) ended here.
static int Watch(TStreamRecord* s, TViewRecord* v, uint32_t now)
{
    TBackupBlock* b = &gBackupBlock;
    TConnection* c = s->connection;
    bool gone = !LinkUp(c) || c->session != gSession;
    if (gone || (!Answering(c) && now - b->lastData > BACKUP_SILENCE_MS)) {
        LinkLost(now);
        return 1;
    }
    if (now - b->lastData <= AllowedSilence(v)) return 0;
    // The recorder sends nothing more: what came is written.
    if (b->state == BACKUP_STATE_SETTLE && gStartCount) Settle();
    if (b->state == BACKUP_STATE_WRITE || b->state == BACKUP_STATE_SETTLE) {
        SoundUpToLastPicture();
        EndBackup(ReachedEnd() ? BACKUP_END_MARK : BACKUP_END_SILENCE);
    }
    return 1;
}

int Backup_OnFrame(TStreamRecord* s)
{
    if (!s) return 0;
    TViewRecord* v = ViewOf(s);
    if (!v || v->backupBlock.backupChannel >= 16) return 0;
    TBackupBlock* b = &gBackupBlock;
    if (gActive) gStream = s;
    uint32_t now = NowMs();
    switch (b->state) {
    case BACKUP_STATE_START: {
        if (Backup_ProtectedMode()) Backup_ChooseFile();
        uint32_t session = s->connection ? s->connection->session : 0;
        Watermark_Request(session, v->backupBlock.backupChannel);
        gWatermarkDeadline = Clock_NowNumber() + BACKUP_WATERMARK_WAIT;
        b->state = BACKUP_STATE_OPEN;
        return s->heldLength ? 1 : 0;
    }
    case BACKUP_STATE_OPEN: return OpenPart(s, v);
    case BACKUP_STATE_SETTLE: {
        if (!Running(v)) return 0;
        if (s->heldLength == 0) {
            if (gStartVideo >= BACKUP_START_VIDEO) Settle(); // frames carried from the last part
            else Watch(s, v, now);
            return 0;
        }
        if (!s->heldBuffer) {
            EndBackup(BACKUP_END_STOP);
            return 0;
        }
        b->lastData = now;
        NotePace(now, s->heldBuffer, s->heldLength);
        int r = Backup_BufferFrame(s->heldBuffer, gStartVideo, s->heldLength);
        if (r >= 0) {
            if (r == 1) gStartVideo += 1;
            s->heldLength = 0;
            if (gStartVideo >= BACKUP_START_VIDEO) Settle();
            return 1;
        }
        // The buffer is full: the offset settles on what it holds and the
        // held frame goes on to state 2.
        if (!Settle()) return 1;
        break;
    }
    case BACKUP_STATE_WRITE: break;
    case BACKUP_STATE_FINISH: FinishPart(true); return 1;
    case BACKUP_STATE_STOP:
        if (b->part == 0) {
            Backup_StartStop(v, 0, nullptr);
            b->state = BACKUP_STATE_IDLE;
            return 0;
        }
        // The next part: the key frame that ended this one stays held and
        // begins it.
        b->state = BACKUP_STATE_START;
        return 1;
    case BACKUP_STATE_LINK: {
        if (!Running(v)) return 0;
        s->heldLength = 0; // a frame of the stream that was lost
        TConnection* c = s->connection;
        if (LinkUp(c) && Answering(c)) {
            AskAgain(s, v);
            b->lastData = now;
            b->state = gKeepPart ? gLinkFrom : (uint32_t)BACKUP_STATE_START;
        } else if (now - gLinkSince > BACKUP_LINK_WAIT_MS) {
            EndBackup(BACKUP_END_LINK);
        }
        return 0;
    }
    default: return 0;
    }

    // State 2: write.
    if (!Running(v)) return 0;
    if (s->heldLength == 0) {
        Watch(s, v, now);
        return 0;
    }
    if (!s->heldBuffer) {
        EndBackup(BACKUP_END_STOP);
        return 0;
    }
    b->lastData = now;
    NotePace(now, s->heldBuffer, s->heldLength);
    int t = TakeFrame(s->heldBuffer, s->heldLength);
    if (t == TAKE_NEXT_PART) return 1; // the frame stays held for the next part
    if (t == TAKE_GO) ShowKeyFrame(s);
    s->heldLength = 0;
    return t == TAKE_END ? 1 : 0;
}
