// The backup controller's state machine over gBackupBlock. Owns the block,
// the start-frame buffer and its table, the settled offset, the first
// video frame's size codes, the watermark deadline, the part-open flag and
// the process-wide part counters.
#include "media/Backup.h"
#include "link/ViewRecord.h"
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
#include <cstdio>
#include <cstring>

TBackupBlock gBackupBlock;
uint32_t gBackupSizeOffset = 0;
uint32_t gBackupPartCount = 0;
uint32_t gBackupPartBroken = 0;
int32_t gBackupTimeOffset = 0;

// The start-frame buffer: frames one after another, a table of
// {length, position}, and the first video frames' offsets.
struct TStartEntry {
    uint32_t length;
    uint32_t position;
};
static uint8_t gStartBuffer[BACKUP_START_BUFFER];
static TStartEntry gStartTable[BACKUP_START_ENTRIES];
static uint32_t gStartCount;       // entries in the table
static uint32_t gStartVideo;       // video frames among them
static int32_t gStartOffsets[BACKUP_START_VIDEO];
static uint8_t gFirstHeight, gFirstWidth; // size codes of the part's first video frame, 0 until noted
static uint32_t gWatermarkDeadline;       // recorder time the part stops waiting at
static uint32_t gPartOpen;                // 1 from the file's creation to its finish

uint32_t Backup_PartOpen() { return gPartOpen; }

static uint32_t NowMs() { return GetTickCount(); }

static TViewRecord* ViewOf(TStreamRecord* s)
{
    return s && s->connection ? s->connection->view : nullptr;
}

static bool Running(const TViewRecord* v)
{
    return v && v->mode == VIEW_BACKUP && v->backupBlock.backupArmed == BACKUP_RUNNING;
}

static void EmptyStartBuffer()
{
    gBackupBlock.bufferUse = 0;
    gStartCount = 0;
    gStartVideo = 0;
    memset(gStartOffsets, 0, sizeof gStartOffsets);
}

int Backup_PartFileName(const char* chosen, uint32_t part, char* out, uint32_t size)
{
    if (!chosen || !out || size == 0) return -1;
    out[0] = 0;
    const char* mov = strstr(chosen, ".mov");
    if (!mov) return -1;
    int base = (int)(mov - chosen);
    int n = part == 0 ? snprintf(out, size, "%.*s.mov", base, chosen)
                      : snprintf(out, size, "%.*s(%u).mov", base, chosen, part);
    if (n < 0 || (uint32_t)n >= size) {
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
    TDvrFrameHeader h;
    memcpy(&h, frame, sizeof h);
    if (FrameHeader_Kind(&h) != FRAME_KIND_VIDEO) return 0;
    if (index < BACKUP_START_VIDEO) gStartOffsets[index] = h.timeOffset;
    return 1;
}

// What writing one frame asks of the caller.
enum { TAKE_GO = 0, TAKE_NEXT_PART = 1, TAKE_END = 2, TAKE_DROPPED = 3 };

static void EndBackup()
{
    gBackupBlock.part = 0;
    gBackupBlock.state = BACKUP_STATE_FINISH;
}

// State 2's steps for one frame (header and payload): offset, accounting,
// part change, writing. The frame stays where it is.
static int TakeFrame(uint8_t* frame, uint32_t length)
{
    if (length < FRAME_HEADER_SIZE) return TAKE_DROPPED;
    memcpy(frame + 28, &gBackupTimeOffset, 4);
    TDvrFrameHeader h;
    memcpy(&h, frame, sizeof h);
    bool video = FrameHeader_Kind(&h) == FRAME_KIND_VIDEO;
    int r = Mov_AccountFrame(frame, length);
    if (r == -1) {
        EndBackup();
        return TAKE_END;
    }
    if (video) {
        if (gFirstHeight == 0 && gFirstWidth == 0) {
            gFirstHeight = h.height;
            gFirstWidth = h.width;
        } else if (r == 0 && (h.height != gFirstHeight || h.width != gFirstWidth)) {
            r = 2;
        }
    }
    if (r == 1 || r == 2) {
        if (!video || FrameHeader_Type(&h) != 0) return TAKE_DROPPED;
        if (r == 2) gBackupSizeOffset += h.time - gMovWriter.startTime + 1;
        gBackupBlock.part += 1;
        gBackupPartCount += 1;
        gBackupBlock.state = BACKUP_STATE_FINISH;
        return TAKE_NEXT_PART;
    }
    if (Mov_WriteFrame(frame, length) == 0) {
        EndBackup(); // the end mark is reached, or the write failed
        return TAKE_END;
    }
    return TAKE_GO;
}

// Settles the offset from the video frames buffered so far and writes the
// buffer out; 1 when the part goes on in state 2.
static int Settle()
{
    gBackupTimeOffset = Backup_SettleOffset(gStartOffsets, gStartVideo);
    Backup_ApplyOffset(gBackupTimeOffset);
    gBackupBlock.state = BACKUP_STATE_WRITE;
    for (uint32_t i = 0; i < gStartCount; ++i) {
        int t = TakeFrame(gStartBuffer + gStartTable[i].position, gStartTable[i].length);
        if (t == TAKE_NEXT_PART || t == TAKE_END) break; // the rest of the buffer is dropped
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

// State 3: the part in hand is closed; part 0 ends the backup.
static void FinishPart(bool fromPanel)
{
    TMovWriter* w = &gMovWriter;
    if (gPartOpen) {
        if (w->samples > 0 && w->started && !w->failed) {
            uint32_t media = Mov_WriteHead();
            if (media == 0 || Mov_Finish(0) != 0 || Mov_WriteMediaLength(media) != 0) w->failed = 1;
        }
        if (OutFile_Close() != 0) w->failed = 1;
        if (w->failed) gBackupPartBroken = BACKUP_BROKEN_WRITE;
        else if (w->samples == 0) gBackupPartBroken = BACKUP_BROKEN_EMPTY;
        gPartOpen = 0;
    }
    w->samples = 0;
    Watermark_EndWait();
    if (gBackupBlock.part == 0) {
        if (fromPanel) {
            IE_ST = 1;
            IE_ST2 = 1;
            KeyForm_Update(0);
        } else {
            IE_percentage = 100;
            IE_ST2 = 0;
            IE_ST = 0;
            gPanelLevel = 1;
            gLastDrawn[0] = gLastDrawn[1] = -2;
        }
    }
    // After the panel's update, which asks for a finish of its own.
    gBackupBlock.state = BACKUP_STATE_STOP;
    Backup_FinishFiles();
}

void Backup_SetState(TStreamRecord* stream, uint32_t state)
{
    if (!stream || !stream->backup) return;
    // Leaving a part that is being written: it is finished first.
    if (gPartOpen && stream->backup == &gBackupBlock &&
        (state == BACKUP_STATE_IDLE || state == BACKUP_STATE_START || state == BACKUP_STATE_STOP)) {
        gBackupBlock.part = 0;
        FinishPart(false);
    }
    stream->backup->state = state;
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
    if (Backup_PartFileName(b->chosenName, b->part, b->partName, sizeof b->partName) != 0) {
        gBackupPartBroken = BACKUP_BROKEN_CREATE;
        EndBackup();
        return 0;
    }
    if (OutFile_Create(b->partName) != 0) {
        gBackupPartBroken = BACKUP_BROKEN_CREATE;
        EndBackup();
        return 0;
    }
    b->lastData = NowMs();
    gPartOpen = 1;
    const TBackupRequest& r = v->backupBlock;
    uint32_t n = b->part;
    // A later part starts a second before the frame that ended the last
    // one, so that frame (held for it) and its second are written.
    uint32_t start = gBackupSizeOffset != 0 ? r.backupStart + gBackupSizeOffset - 1
                                            : r.backupStart + n * BACKUP_PART_SECONDS - (n > 0 ? 1 : 0);
    Mov_Init(start, r.backupEnd);
    EmptyStartBuffer();
    gFirstHeight = gFirstWidth = 0;
    if (n == 0) s->displayTime = start;
    b->state = BACKUP_STATE_SETTLE;
    // The frame held (the first of the part) is taken in the next call.
    return s->heldLength ? 1 : 0;
}

int Backup_OnFrame(TStreamRecord* s)
{
    if (!s) return 0;
    TViewRecord* v = ViewOf(s);
    if (!v || v->backupBlock.backupChannel >= 16) return 0;
    TBackupBlock* b = &gBackupBlock;
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
        if (now - b->lastData > BACKUP_SILENCE_MS) {
            // Silence before three video frames came: what did come is written.
            if (gStartCount) Settle();
            EndBackup();
            return 0;
        }
        if (s->heldLength == 0) return 0;
        if (!s->heldBuffer) {
            EndBackup();
            return 0;
        }
        b->lastData = now;
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
    default: return 0;
    }

    // State 2: write.
    if (!Running(v)) return 0;
    if (now - b->lastData > BACKUP_SILENCE_MS) {
        EndBackup();
        return 0;
    }
    if (s->heldLength == 0) return 0;
    if (!s->heldBuffer) {
        EndBackup();
        return 0;
    }
    b->lastData = now;
    int t = TakeFrame(s->heldBuffer, s->heldLength);
    if (t == TAKE_NEXT_PART) return 1; // the frame stays held for the next part
    if (t == TAKE_GO) ShowKeyFrame(s);
    s->heldLength = 0;
    return t == TAKE_END ? 1 : 0;
}
