// The stream records and the stream step. Owns gStreamRecords (each with
// its 4 MB video ring, audio ring and held-frame buffer, allocated once and
// kept), gDisplayTargets, the pool of display nodes, the movie dialogs,
// the viewer-wide count of frames shown since a resynchronisation, and the
// two hand-off pointers (decoder channels, backup controller).
#include "media/Stream.h"
#include "media/Audio.h"
#include "media/Hooks.h"
#include "link/ViewRecord.h"
#include "link/Tavn.h"
#include "media/H264Params.h"
#include "media/Vido.h"
#include "panel/SkinVars.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/StdCtrls.h"
#include "media/Backup.h"
#include "media/Decoder.h"
#include "media/LocalPlay.h"
#include "panel/Yuv2.h"
#include <cstring>
#include <cstdlib>

TStreamRecord gStreamRecords[CONN_COUNT];
TDisplayTarget gDisplayTargets[2];
TSaveDialog* gBackupSaveDialog = nullptr;
TOpenDialog* gMovieOpenDialog = nullptr;

static TDisplayNode gDisplayNodes[STREAM_DISPLAY_NODES];
static uint32_t gDisplayNodesUsed;
// Frames accepted since the last resynchronisation; the time label shows
// from the fourth on. One for the whole viewer.
static uint32_t gShownFrames;

static TStreamDecode gDecode = Decoder_DecodeFrame;
static TStreamBackup gBackup = Backup_OnFrame;

static const char* const kMovieFilter = "QuickTime's File (*.mov)|*.mov|All Files|*.*";

void Stream_SetHandOffs(TStreamDecode decode, TStreamBackup backup)
{
    gDecode = decode ? decode : Decoder_DecodeFrame;
    gBackup = backup ? backup : Backup_OnFrame;
}

// --- Frame header --------------------------------------------------------------

uint32_t FrameHeader_Kind(const TDvrFrameHeader* h) { return (h->kindBits >> 6) & 3; }
uint32_t FrameHeader_FieldMode(const TDvrFrameHeader* h) { return (h->modeChannel >> 2) & 3; }
uint32_t FrameHeader_Channel(const TDvrFrameHeader* h) { return (h->modeChannel >> 4) & 15; }
uint32_t FrameHeader_Type(const TDvrFrameHeader* h) { return h ? (h->typeUnits >> 4) & 3 : 0; }
uint32_t FrameHeader_FurtherUnits(const TDvrFrameHeader* h) { return h->typeUnits & 15; }
uint32_t FrameHeader_Source(const TDvrFrameHeader* h) { return (h->sourceBits >> 5) & 3; }
uint32_t FrameHeader_TimeScale(const TDvrFrameHeader* h) { return (h->timeScaleBits >> 5) & 0x1FFFF; }

int FrameHeader_Check(const TDvrFrameHeader* h)
{
    if (!h || h->magic != FRAME_MAGIC || h->unitLength == 0) return -1;
    uint32_t kind = FrameHeader_Kind(h);
    if (kind == FRAME_KIND_AUDIO) return 0;
    if (kind != FRAME_KIND_VIDEO) return -1;
    if (h->time == 0 || h->height == 0 || h->width == 0) return -1;
    return 0;
}

int FrameHeader_CheckUnit(const TDvrFrameHeader* h, uint32_t, uint32_t) { return FrameHeader_Check(h); }

// --- Audio ring ------------------------------------------------------------------

int StreamAudio_Write(TStreamAudioRing* ring, const uint8_t* source, uint32_t n)
{
    if (!ring) return -1;
    uint32_t w = ring->writeIndex.load(std::memory_order_relaxed);
    uint32_t r = ring->readIndex.load(std::memory_order_acquire);
    if (Ring_Write(source, ring->data, n, &w, &r, ring->size) != 0) return -1;
    ring->writeIndex.store(w, std::memory_order_release);
    return 0;
}

uint32_t StreamAudio_Free95(TStreamAudioRing* ring)
{
    if (!ring) return 0;
    return Ring_Free95(ring->writeIndex.load(std::memory_order_relaxed),
                       ring->readIndex.load(std::memory_order_acquire), ring->size);
}

uint32_t StreamAudio_Used(TStreamAudioRing* ring)
{
    if (!ring) return 0;
    return Ring_Used(ring->writeIndex.load(std::memory_order_acquire), ring->readIndex.load(std::memory_order_relaxed),
                     ring->size);
}

int StreamAudio_Read(TStreamAudioRing* ring, uint8_t* destination, uint32_t n)
{
    if (!ring) return -1;
    uint32_t w = ring->writeIndex.load(std::memory_order_acquire);
    uint32_t r = ring->readIndex.load(std::memory_order_relaxed);
    if (Ring_Read(ring->data, destination, n, &w, &r, ring->size) != 0) return -1;
    ring->readIndex.store(r, std::memory_order_release);
    return 0;
}

int StreamAudio_Skip(TStreamAudioRing* ring, uint32_t n)
{
    if (!ring) return -1;
    uint32_t w = ring->writeIndex.load(std::memory_order_acquire);
    uint32_t r = ring->readIndex.load(std::memory_order_relaxed);
    if (Ring_AdvanceRead(n, w, &r, ring->size) != 0) return -1;
    ring->readIndex.store(r, std::memory_order_release);
    return 0;
}

int StreamAudio_StepBack(TStreamAudioRing* ring, uint32_t n)
{
    if (!ring) return -1;
    uint32_t r = ring->readIndex.load(std::memory_order_relaxed);
    if (Ring_StepBackRead(n, &r, ring->size) != 0) return -1;
    ring->readIndex.store(r, std::memory_order_release);
    return 0;
}

void StreamAudio_Drain(TStreamAudioRing* ring)
{
    if (!ring) return;
    ring->readIndex.store(ring->writeIndex.load(std::memory_order_acquire), std::memory_order_release);
}

// --- Storage ---------------------------------------------------------------------

// Cleared by the allocator: a block this large comes as fresh zero pages,
// which nothing has to write at start-up.
static uint8_t* AllocCleared(uint32_t size) { return (uint8_t*)calloc(size, 1); }

int Stream_AllocAudioRing(TStreamRecord* s, uint32_t size)
{
    if (!s || size == 0) return -1;
    if (s->audioRing.data) return 0;
    uint8_t* data = AllocCleared(size);
    if (!data) return -1;
    s->audioRing.readIndex.store(0);
    s->audioRing.writeIndex.store(0);
    s->audioRing.size = size;
    s->audioRing.data = data;
    return 0;
}

int Stream_AllocVideoRing(TStreamRecord* s, uint32_t size)
{
    if (!s || size == 0) return -1;
    Stream_AllocAudioRing(s, size);
    if (s->videoRing.data) return 0;
    uint8_t* data = AllocCleared(size);
    if (!data) return -1;
    s->videoRing.writeIndex = 0;
    s->videoRing.readIndex = 0;
    s->videoRing.size = size;
    s->videoRing.data = data;
    return 0;
}

int Stream_AllocFrameBuffer(TStreamRecord* s, uint32_t size)
{
    if (!s || size == 0) return -1;
    if (s->heldBuffer) return 0;
    uint8_t* data = AllocCleared(size);
    if (!data) return -1;
    s->heldBuffer = data;
    s->heldLength = 0;
    Stream_ResetChannels(s, 0);
    if (s->connection) memset(&s->connection->vidoQueue, 0, sizeof s->connection->vidoQueue);
    return 0;
}

// --- Resets --------------------------------------------------------------------

static TVidoStatusReport* ReportOf(TStreamRecord* s)
{
    return s->connection && s->connection->vido ? &s->connection->vido->report : nullptr;
}

static void RefreshFreeSpace(TStreamRecord* s)
{
    if (s->connection) Vido_RefreshFreeSpace(s->connection->vido, &s->videoRing);
}

static void ResetChannel(TStreamRecord* s, uint32_t c)
{
    s->channels[c].keyWait = 1;
    s->channels[c].due = 0;
    if (uint32_t* t = Vido_DecodeTime(ReportOf(s), c)) *t = 0;
    Stopwatch_Start(10 + c);
}

void Stream_ResetChannels(TStreamRecord* s, uint32_t which)
{
    if (!s) return;
    s->videoRing.writeIndex = s->videoRing.readIndex = 0;
    s->heldLength = 0;
    if (which > 0) {
        uint32_t c = which - 1;
        ResetChannel(s, c < STREAM_CHANNELS ? c : 0);
    } else {
        for (uint32_t c = 0; c < STREAM_CHANNELS; ++c) ResetChannel(s, c);
    }
    RefreshFreeSpace(s);
}

void Stream_ResetClocks(TStreamRecord* s)
{
    if (!s) return;
    for (uint32_t c = 0; c < STREAM_CHANNELS; ++c) {
        s->channels[c].due = 0;
        Stopwatch_Start(10 + c);
    }
}

// --- Start-up ------------------------------------------------------------------

TSaveDialog* SaveDialog_New(TComponent* owner) { return new TSaveDialog(owner); }

void Stream_Init()
{
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        TStreamRecord* s = &gStreamRecords[i];
        s->connection = &gConnections[i];
        gConnections[i].stream = s;
        s->backup = &gBackupBlock;
        s->localTarget = nullptr;
        s->localTimeLabel = nullptr;
        // Rings and buffers taken by an earlier start-up are kept.
        for (uint32_t c = 0; c < STREAM_CHANNELS; ++c) {
            memset(&s->liveAreas[c], 0, sizeof s->liveAreas[c]);
            memset(&s->playbackAreas[c], 0, sizeof s->playbackAreas[c]);
        }
        s->liveDisplayCount = 0;
        s->playbackDisplayCount = 0;
    }
    memset(gDisplayTargets, 0, sizeof gDisplayTargets);
    memset(gDisplayNodes, 0, sizeof gDisplayNodes);
    gDisplayNodesUsed = 0;
    Stream_AllocVideoRing(&gStreamRecords[0], STREAM_RING_SIZE);
    Stream_AllocFrameBuffer(&gStreamRecords[0], STREAM_RING_SIZE);

    TComponent* owner = gViewerForm;
    if (!gBackupSaveDialog) {
        gBackupSaveDialog = SaveDialog_New(owner);
        gBackupSaveDialog->SetFilter(kMovieFilter);
        gBackupSaveDialog->SetDefaultExt("mov");
    }
    if (!gMovieOpenDialog) {
        gMovieOpenDialog = new TOpenDialog(owner);
        gMovieOpenDialog->SetFilter(kMovieFilter);
        gMovieOpenDialog->SetDefaultExt("mov");
    }
}

void Stream_Reset()
{
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        TStreamRecord* s = &gStreamRecords[i];
        s->directionSeen = 0;
        s->audioWanted = 0;
        s->keyFrameWord = 0;
        s->audioRing.writeIndex.store(0);
        s->audioRing.readIndex.store(0);
        s->lastSource = 0;
        s->heldStatus = s->heldTaken = s->heldTime = s->heldFrameNumber = s->heldHeaderChannel = 0;
        s->lastOffset = 0;
        s->offsetChanges = 0;
        s->heldChannel = 0;
        s->fieldPicture = 0;
        s->displayTime = 0;
        s->shownPlaybackTime = 0;
        for (uint32_t c = 0; c < STREAM_CHANNELS; ++c) {
            TChannelState* cs = &s->channels[c];
            cs->newestSecond = cs->newestFrame = 0;
            cs->startSecond.store(0);
            cs->startFrame.store(0);
            cs->videoTime.store(0);
        }
        Stream_ResetChannels(s, 0);
    }
    gShownFrames = 0;
}

// --- Display registration ----------------------------------------------------------

uint32_t Display_Register(TConnection* connection, uint32_t channel, uint32_t kind)
{
    if (gDisplayTargets[0].connection) return 0;
    gDisplayTargets[0].connection = connection;
    gDisplayTargets[0].channel = channel;
    gDisplayTargets[0].kind = kind;
    return 1;
}

TConnection* Stream_RegisterDisplay(const TDisplayRegistration* r)
{
    if (!r || r->connection >= 1 || r->connection < -1 || !r->address || !r->address[0] || !r->target) return nullptr;
    if (r->channel >= STREAM_CHANNELS || r->kind > 1) return nullptr;
    TConnection* c = &gConnections[0];
    if (r->connection == -1 && (strncmp(c->host, r->address, sizeof c->host) != 0 || c->port != r->port))
        return nullptr;
    TStreamRecord* s = c->stream;
    if (!s || gDisplayNodesUsed >= STREAM_DISPLAY_NODES) return nullptr;
    if (c->host != r->address) {
        strncpy(c->host, r->address, sizeof c->host - 1);
        c->host[sizeof c->host - 1] = 0;
    }
    c->port = r->port;

    TDisplayNode* node = &gDisplayNodes[gDisplayNodesUsed++];
    node->target = r->target;
    node->timeLabel = r->timeLabel;
    node->words[0] = r->words[0];
    node->words[1] = r->words[1];
    node->prev = node->next = nullptr;
    TDisplayArea* area = r->kind == 0 ? &s->liveAreas[r->channel] : &s->playbackAreas[r->channel];
    if (!area->head) {
        area->head = node;
        area->slotResult = Display_Register(c, r->channel, r->kind);
        Stream_AllocVideoRing(s, STREAM_RING_SIZE);
        Stream_AllocFrameBuffer(s, STREAM_RING_SIZE);
    } else {
        TDisplayNode* last = area->head;
        while (last->next) last = last->next;
        last->next = node;
        node->prev = last;
    }
    area->count += 1;
    if (r->kind == 0) s->liveDisplayCount += 1;
    else s->playbackDisplayCount += 1;
    return c;
}

void Stream_RegisterDisplays(TConnection* c)
{
    if (!c) return;
    TDisplayRegistration r = {};
    r.connection = (int32_t)c->index;
    r.port = c->port;
    r.channel = 0;
    r.address = c->host;
    r.target = gViewerForm ? gViewerForm->Image_video : nullptr;
    r.timeLabel = gViewerForm ? gViewerForm->Label_time : nullptr;
    for (uint32_t list = 0; list < 2; ++list) {
        r.kind = list;
        Stream_RegisterDisplay(&r);
    }
}

// --- The stream step -------------------------------------------------------------

uint32_t Stream_FramesPerSecond(const TConnection* c)
{
    return c && c->handshake && c->handshake->machine.frameRateFlag != 0 ? 25 : 30;
}

uint32_t Stream_ChannelNow(uint32_t channel)
{
    // Whole milliseconds, the same as the reading divided by 100, but
    // without the reading's wrap after 11.9 hours: due times are counted
    // on from the slot's start and compared as differences.
    return (uint32_t)Stopwatch_Elapsed(10 + channel);
}

// How far ahead of now a due time lies, in ms (negative when it is past).
static int64_t Ahead(uint32_t due, uint32_t now) { return (int32_t)(due - now); }

static void ShowTimeLabel(bool visible)
{
    if (gViewerForm && gViewerForm->Label_time) gViewerForm->Label_time->SetVisible(visible);
}

// The held frame goes to the backup writer in Backup mode, else it is
// paced and decoded.
static int FinishHeld(TStreamRecord* s, uint32_t mode)
{
    return mode == VIEW_BACKUP ? gBackup(s) : Stream_DecodeAndPace(s, mode);
}

static uint32_t SourceWanted(uint32_t mode)
{
    switch (mode) {
    case VIEW_LIVE: return SOURCE_LIVE;
    case VIEW_PLAYBACK:
    case VIEW_BACKUP: return SOURCE_RECORDED;
    case VIEW_LOCAL_PLAYBACK: return SOURCE_LOCAL_FILE;
    default: return 0xFFFFFFFF; // Setup takes no frame
    }
}

int Stream_TakeVideoFrame(TStreamRecord* s)
{
    if (!s || !s->connection) return 1;
    TConnection* c = s->connection;
    TViewRecord* view = c->view;
    TVidoStatusReport* report = ReportOf(s);
    if (!view || !report) return 1;
    uint32_t mode = view->mode;

    if (FinishHeld(s, mode) != 0) return 1;

    TFrameRing* ring = &s->videoRing;
    if (!ring->data) return 1;
    TVidoFrameBlock block;
    if (Ring_Read(ring->data, (uint8_t*)&block, sizeof block, &ring->writeIndex, &ring->readIndex, ring->size) != 0)
        return 1;
    // A block that cannot be one, or that the ring does not hold whole,
    // means the ring is out of step: it starts over.
    if (block.totalLength >= STREAM_MAX_BLOCK || block.totalLength < VIDO_MIN_BLOCK ||
        block.channel >= STREAM_CHANNELS ||
        Ring_Used(ring->writeIndex, ring->readIndex, ring->size) < block.totalLength - VIDO_BLOCK_SIZE) {
        ring->readIndex = ring->writeIndex;
        return 1;
    }
    uint32_t remaining = block.totalLength - VIDO_BLOCK_SIZE;
    auto reject = [&]() {
        if (remaining) Ring_AdvanceRead(remaining, ring->writeIndex, &ring->readIndex, ring->size);
        report->status = block.status;
        return 0;
    };
    if (!s->heldBuffer) return reject();
    if (block.requestNumber != 0 && block.requestNumber != view->icmdSequence) return reject();
    if (mode != VIEW_LIVE && block.channel == 16) return reject();

    uint32_t ch = block.channel;
    TChannelState* cs = &s->channels[ch];
    uint32_t* lastSequence = Vido_LastSequence(report, ch);
    if (*lastSequence + 1 != block.channelSequence) cs->keyWait = 1;

    TDvrFrameHeader header;
    if (Ring_Read(ring->data, (uint8_t*)&header, sizeof header, &ring->writeIndex, &ring->readIndex, ring->size) != 0)
        return reject();
    remaining -= FRAME_HEADER_SIZE;
    // Only video travels in this ring; a unit of another kind is not decoded.
    if (FrameHeader_Check(&header) != 0 || FrameHeader_Kind(&header) != FRAME_KIND_VIDEO) return reject();
    uint32_t type = FrameHeader_Type(&header);
    if (cs->keyWait == 1 && type != 0) return reject();

    s->fieldPicture = FrameHeader_FieldMode(&header) == 1 ? 1 : 0;
    uint32_t lead = 0;
    if (mode == VIEW_BACKUP) {
        memcpy(s->heldBuffer, &header, sizeof header);
        lead = FRAME_HEADER_SIZE;
    } else if (type == 0) {
        if (H264_MakeParamSets(header.width, header.height, s->heldBuffer, &lead, H264_FORM_AVC1) != 0) lead = 0;
        s->keyFrameWord = 1;
    }
    uint32_t payload = remaining;
    if (payload &&
        Ring_Read(ring->data, s->heldBuffer + lead, payload, &ring->writeIndex, &ring->readIndex, ring->size) != 0)
        return reject();
    remaining = 0;

    uint32_t source = FrameHeader_Source(&header);
    if (source != SourceWanted(mode)) {
        report->status = block.status;
        return 0;
    }
    if (mode == VIEW_PLAYBACK) {
        int32_t direction = view->playbackBlock.playbackDirection;
        if (direction != s->directionSeen) {
            s->directionSeen = direction;
            Stream_ResetClocks(s);
        }
        if (FrameHeader_Channel(&header) != view->playbackBlock.playbackChannel) {
            report->status = block.status;
            return 0;
        }
    }
    if (source != s->lastSource) {
        s->lastSource = source;
        cs->keyWait = 1;
        Stream_ResetClocks(s);
    }

    *lastSequence = block.channelSequence;
    c->vido->frameTaken = 1;
    uint32_t timeScale = FrameHeader_TimeScale(&header);
    if (timeScale == 0) timeScale = 200;
    s->audioWanted = 1;

    uint32_t period = block.framePeriod;
    if (mode == VIEW_PLAYBACK || mode == VIEW_LOCAL_PLAYBACK) period = 20000 / timeScale;
    uint32_t speed = 100;
    if (mode == VIEW_LIVE) {
        int64_t fps = Stream_FramesPerSecond(c);
        if (cs->newestSecond > block.newestSecond) {
            int64_t lag = (int64_t)(cs->newestSecond - block.newestSecond) * fps +
                          (int64_t)(int32_t)(cs->newestFrame - block.newestFrame);
            if (lag > fps) speed = lag >= 120 * fps ? 0 : (uint32_t)(100 * (120 * fps - lag) / (120 * fps));
        }
    }
    cs->due += (uint32_t)((uint64_t)period * speed / 100);
    uint32_t now = Stream_ChannelNow(ch);
    if (mode == VIEW_PLAYBACK) {
        if (Ahead(cs->due, now) < 0) cs->due = now + period;
    } else if (Ahead(cs->due, now) < -1000) {
        cs->due = now;
    }
    if (cs->keyWait == 1) { // resynchronisation
        cs->due = now;
        cs->startSecond.store(header.time);
        cs->startFrame.store(header.frameNumber);
        s->offsetChanges = 0;
        s->lastOffset = header.timeOffset;
        ShowTimeLabel(false);
        gShownFrames = 0;
        cs->keyWait = 0;
    }
    RefreshFreeSpace(s);

    s->heldStatus = block.status;
    s->heldTaken = Stopwatch_Now();
    s->heldLength = lead + payload; // exactly what was put in the buffer for this frame

    int32_t used = 0;
    if (s->offsetChanges < 3) {
        if (header.timeOffset != s->lastOffset) s->offsetChanges += 1;
        else s->offsetChanges = 0;
        used = s->offsetChanges >= 3 ? 0 : header.timeOffset;
        s->lastOffset = used;
    }
    if (gShownFrames >= 3) ShowTimeLabel(true);
    else gShownFrames += 1;

    s->heldChannel = ch;
    s->displayTime = header.time + (uint32_t)used;
    s->heldTime = header.time;
    s->heldFrameNumber = header.frameNumber;
    s->heldHeaderChannel = FrameHeader_Channel(&header);

    if (mode == VIEW_PLAYBACK && s->displayTime != s->shownPlaybackTime) {
        s->shownPlaybackTime = s->displayTime;
        Mon_P_N_T = (int32_t)s->displayTime;
        Panel_Invalidate();
        Yuv2_Redraw(gMouseDown);
    }
    return FinishHeld(s, mode);
}

int Stream_DecodeAndPace(TStreamRecord* s, uint32_t mode)
{
    if (!s || s->heldLength == 0) return 0;
    TConnection* c = s->connection;
    uint32_t ch = s->heldChannel < STREAM_CHANNELS ? s->heldChannel : 0;
    TChannelState* cs = &s->channels[ch];
    uint32_t due = cs->due;
    uint32_t now = Stream_ChannelNow(ch);
    if (Ahead(due, now) > 66) {
        if (mode == VIEW_PLAYBACK) return 1;
        if (ch < 16 && Ahead(due, now) < 10000) return 1;
    }
    uint32_t fps = Stream_FramesPerSecond(c);
    if (s->heldHeaderChannel <= 1)
        s->channels[s->heldHeaderChannel].videoTime.store((s->heldTime & 0xFFFFFF) * fps + s->heldFrameNumber);

    uint32_t connectionIndex = c ? c->index : 0;
    uint32_t decoderChannel = mode == VIEW_LOCAL_PLAYBACK ? 0 : connectionIndex;
    uint32_t t0 = Stopwatch_Now();
    uint32_t wait = (t0 - s->heldTaken) / 2000;
    gDecodeConnection = (int32_t)connectionIndex;
    gDecode(s->heldBuffer, s->heldLength, decoderChannel);
    s->heldLength = 0;
    TVidoStatusReport* report = ReportOf(s);
    if (report) report->status = s->heldStatus;

    uint32_t cost = wait + (Stopwatch_Now() - t0) / 100;
    if (cost == 0) cost = 10;
    if (uint32_t* smoothed = Vido_DecodeTime(report, ch)) {
        uint64_t old = *smoothed;
        *smoothed = (uint32_t)(old > cost ? (7 * old + 3 * (uint64_t)cost) / 10 : (3 * old + 7 * (uint64_t)cost) / 10);
    }
    if (gSliceStatus == -1) {
        gSliceStatus = 0;
        cs->keyWait = 1;
    }
    return 1;
}

void Stream_Pump()
{
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        TStreamRecord* s = &gStreamRecords[i];
        TConnection* c = s->connection;
        if (!c || !c->view || !c->vido) continue;
        // However the view left Backup mode (the recorder's own mode word
        // too), a backup still under way ends as a stop ends it.
        if (c->view->mode != VIEW_BACKUP && Backup_ActiveOn(s)) {
            Backup_NoteEnd(BACKUP_END_MODE);
            Backup_SetState(s, BACKUP_STATE_STOP);
        }
        for (uint32_t n = 0; n < STREAM_TAKE_PER_TICK; ++n)
            if (Stream_TakeVideoFrame(s) == 1) break;
        if (c->view->mode == VIEW_BACKUP)
            for (uint32_t n = 0; n < STREAM_TAKE_PER_TICK; ++n)
                if (Stream_TakeAudioFrame(s) != 0) break;
        LocalPlay_Feed(s);
    }
    LocalPlay_BuildIndex();
}

void Stream_TimerStep()
{
    Audio_PublishViews(); // what the audio thread goes by until the next step
    Stream_Pump();
}
