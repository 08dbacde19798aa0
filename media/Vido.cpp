// The frame stream module "VIDO". Owns gVidoStates, the module's receive
// buffer, its two send buffers, the transfer buffer between the frame ring
// and the stream rings, the op table, the request record, and per
// connection the byte count of the frame ring with each slot's place in
// it (how a slot tells that newer frames have overwritten its bytes).
#include "media/Vido.h"
#include "link/Hooks.h"
#include "link/Bytes.h"
#include "link/ViewRecord.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "link/Tavn.h"
#include "media/Stream.h"
#include "platform/win/Win.h"
#include "media/Hooks.h"
#include <cstring>

TVidoState gVidoStates[CONN_COUNT];

static uint8_t gReceiveBuffer[VIDO_BUFFER_SIZE];
static uint8_t gSendBuffers[2][VIDO_SEND_BUFFER];
// Holds the largest frame a message can bring.
static uint8_t gTransfer[VIDO_BUFFER_SIZE];
static TVidoRequest gRequest;

// Bytes ever stored in each connection's frame ring, where the next write
// was left, and for each slot the count at the end of its frame.
static uint32_t gRingStored[CONN_COUNT];
static uint32_t gRingNext[CONN_COUNT];
static uint32_t gSlotEnd[CONN_COUNT][VIDO_SLOTS];

static const TVidoOp gOps[] = {
    {VIDO_OP_FRAME, Vido_OnFrame, Vido_BuildFrame},
    {VIDO_OP_STATUS, Vido_OnStatus, Vido_BuildStatus},
};

static const TVidoOp* OpOf(uint32_t op)
{
    for (const TVidoOp& e : gOps)
        if (e.op == op) return &e;
    return nullptr;
}

uint32_t* Vido_LastSequence(TVidoStatusReport* report, uint32_t channel)
{
    if (!report) return nullptr;
    if (channel < 16) return &report->lastSequence[channel];
    return channel == 16 ? &report->lastSequence16 : nullptr;
}

uint32_t* Vido_DecodeTime(TVidoStatusReport* report, uint32_t channel)
{
    if (!report) return nullptr;
    if (channel < 16) return &report->decodeTime[channel];
    return channel == 16 ? &report->decodeTime16 : nullptr;
}

uint32_t Vido_FreeSpaceWord(uint32_t free95) { return free95 > VIDO_FREE_RESERVE ? free95 - VIDO_FREE_RESERVE : 0; }

void Vido_RefreshFreeSpace(TVidoState* state, const TFrameRing* v)
{
    if (!state || !v || state->frameTaken != 1) return;
    state->report.freeSpace = Vido_FreeSpaceWord(Ring_Free95(v->writeIndex, v->readIndex, v->size));
}

void Vido_Init()
{
    Msg_RegisterModule("VIDO", Vido_Receive, Vido_Transmit, gReceiveBuffer, sizeof gReceiveBuffer);
    Vido_Reset();
}

void Vido_Reset()
{
    memset(gSlotEnd, 0, sizeof gSlotEnd);
    memset(&gRequest, 0, sizeof gRequest);
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        memset(&gConnections[i].vidoQueue, 0, sizeof gConnections[i].vidoQueue);
        TVidoState* s = &gVidoStates[i];
        memset(s, 0, sizeof *s);
        s->connection = &gConnections[i];
        gConnections[i].vido = s;
        s->report.freeSpace = VIDO_FREE_START;
        gRingStored[i] = 0;
        gRingNext[i] = gConnections[i].frameRing.writeIndex;
    }
}

void Vido_Send(uint32_t session, uint32_t op, const uint8_t* data, uint32_t bodyLength, uint32_t bufferChoice,
               uint32_t extra)
{
    gRequest.session = session;
    gRequest.op = op;
    gRequest.data = data;
    gRequest.bodyLength = bodyLength;
    gRequest.bufferChoice = bufferChoice;
    gRequest.extra = extra;
    Msg_SendViaModule("VIDO", &gRequest);
}

void Vido_Transmit(void* request)
{
    const TVidoRequest* r = (const TVidoRequest*)request;
    if (!r || r->session == 0) return; // session 0 names no link
    int ci = Conn_FindBySession(r->session);
    if (ci < 0) return;
    TConnection* c = &gConnections[ci];
    uint8_t* m = gSendBuffers[r->bufferChoice ? 1 : 0];
    Msg_Begin(m, "VIDO", TModuleSubHeader{r->session, {r->op}}); // the op
    uint32_t body = 0;
    if (const TVidoOp* op = OpOf(r->op)) {
        TVidoBuild b = {r->bodyLength, r->extra, r->data, m + MSG_FRAME_SIZE, VIDO_SEND_BUFFER - MSG_FRAME_SIZE,
                        c->vido};
        body = op->build(&b);
        if (r->op == VIDO_OP_FRAME && body == 0) return; // a frame that does not fit goes nowhere
    }
    Conn_QueueSend(c, m, Msg_Finish(m, body));
}

void Vido_Receive()
{
    uint32_t n = Msg_ReceivedLength();
    if (n < 8) return; // no session and op
    uint32_t session = GetU32(gReceiveBuffer);
    uint32_t op = GetU32(gReceiveBuffer + 4);
    if (session == 0) return;
    int ci = Conn_FindBySession(session);
    if (ci < 0 || !gConnections[ci].vido) return;
    const TVidoOp* e = OpOf(op);
    if (!e) return;
    e->receive(gReceiveBuffer + 32, n > 32 ? n - 32 : 0, gConnections[ci].vido);
}

void Vido_OnFrame(const uint8_t* body, uint32_t bodyLength, TVidoState* state)
{
    if (!body || !state || !state->connection) return;
    TConnection* c = state->connection;
    if (bodyLength < VIDO_BLOCK_SIZE) return; // not even the block arrived
    TVidoFrameBlock block;
    memcpy(&block, body, sizeof block);
    // The block's own length is the recorder's word: it must hold the frame
    // header and stay within what the message brought.
    if (block.totalLength < VIDO_MIN_BLOCK || block.totalLength > bodyLength) return;
    // A frame that answers an earlier request was sent before the recorder
    // started its numbering over; in the queue it would take the place of
    // the current request's frame of the same number. It is rejected as
    // the stream step rejects one: its status value is reported.
    if (block.requestNumber != 0 && c->view && block.requestNumber != c->view->icmdSequence) {
        state->report.status = block.status;
        return;
    }
    if (block.channel < VIDO_CHANNELS && c->stream) {
        TChannelState* cs = &c->stream->channels[block.channel];
        cs->newestSecond = block.newestSecond;
        cs->newestFrame = block.newestFrame;
    }
    Vido_QueueFrame(c, body, block.totalLength, block.streamSequence, block.kind);
    if (block.kind != VIDO_KIND_AUDIO) Win_Milestone(MILESTONE_FRAME_RECEIVED);
}

void Vido_OnStatus(const uint8_t*, uint32_t, TVidoState*) {}

static uint32_t SocketCount(const TConnection* c) { return c->handshake ? c->handshake->machine.socketCount : 0; }

// Frees a slot that still holds a frame, keeping the queued count true.
static void FreeSlot(TVidoReorderQueue* q, TVidoSlot* slot)
{
    if (slot->length == 0) return;
    slot->length = 0;
    if (q->queuedCount > 0) q->queuedCount -= 1;
}

void Vido_QueueFrame(TConnection* c, const uint8_t* frame, uint32_t length, uint32_t sequence, uint32_t kind)
{
    if (!c || !frame || length == 0 || c->index >= CONN_COUNT) return;
    uint32_t ci = c->index;
    TVidoReorderQueue* q = &c->vidoQueue;
    TRingDesc* ring = &c->frameRing;

    q->arrivalCount += 1;
    q->arrivalsSinceDelivery += 1;
    uint32_t index = q->arrivalCount & (VIDO_SLOTS - 1);
    TVidoSlot* slot = &q->slots[index];
    FreeSlot(q, slot); // taken by arrival order: a frame still in it is lost
    if (q->queuedCount == 0) q->runningNumber = 1;
    bool ownNumbers = SocketCount(c) < 2;
    if (ownNumbers) {
        sequence = q->lastDelivered + q->runningNumber;
        q->runningNumber += 1;
    }

    // Something else moved the ring's write index (a reset): every frame
    // stored before is as good as overwritten.
    if (ring->writeIndex != gRingNext[ci]) gRingStored[ci] += ring->size ? ring->size : 1;
    uint32_t position = ring->writeIndex;
    ring->readIndex = ring->writeIndex; // the slots remember where frames lie
    if (Ring_Write(frame, ring->data, length, &ring->writeIndex, &ring->readIndex, ring->size) != 0) {
        // Nothing was stored, so the slot stays free. An own number is
        // handed back; the recorder's is given up when it is the one due.
        if (ownNumbers) q->runningNumber -= 1;
        else if (sequence == q->lastDelivered + 1) q->lastDelivered = sequence;
        return;
    }
    gRingStored[ci] += length;
    gRingNext[ci] = ring->writeIndex;
    gSlotEnd[ci][index] = gRingStored[ci];
    slot->sequence = sequence;
    slot->ringPosition = position;
    slot->length = length;
    slot->kind = kind;

    if (q->arrivalsSinceDelivery > VIDO_SLOTS - 1) {
        // Restart at this frame: every slot that can no longer be due is
        // freed, and counting starts over.
        q->arrivalCount = 0;
        q->arrivalsSinceDelivery = 0;
        q->lastDelivered = sequence - 1;
        q->runningNumber = 2; // an own number after this frame's
        q->queuedCount = 0;
        for (uint32_t i = 0; i < VIDO_SLOTS; ++i) {
            TVidoSlot* s = &q->slots[i];
            if (s == slot || s->length == 0) continue;
            if ((int32_t)(s->sequence - sequence) > 0) q->queuedCount += 1; // still ahead
            else s->length = 0;
        }
        // Counting starts over at slot 0, so this frame moves there: the
        // next arrival takes slot 1 and cannot overwrite it. A frame still
        // ahead in slot 0 changes places with it rather than being lost.
        if (index != 0) {
            TVidoSlot kept = q->slots[0];
            uint32_t keptEnd = gSlotEnd[ci][0];
            q->slots[0] = *slot;
            gSlotEnd[ci][0] = gSlotEnd[ci][index];
            *slot = kept;
            gSlotEnd[ci][index] = keptEnd;
        }
    }
    q->queuedCount += 1;
}

// 1 while none of the frame's bytes have been overwritten by newer ones.
static bool SlotIntact(const TConnection* c, uint32_t index, const TVidoSlot* slot)
{
    uint32_t size = c->frameRing.size;
    if (!c->frameRing.data || slot->length >= size) return false;
    uint32_t since = gRingStored[c->index] - gSlotEnd[c->index][index]; // bytes stored after it
    return since < size - slot->length;
}

void Vido_DeliverInOrder(TConnection* c)
{
    if (!c || c->index >= CONN_COUNT) return;
    TVidoReorderQueue* q = &c->vidoQueue;
    uint32_t passes = VIDO_SLOTS;
    bool delivered = true;
    while (q->queuedCount > 0 && delivered && passes > 0) {
        delivered = false;
        // Every slot that holds a frame is counted in queuedCount: the pass
        // ends at the last of them, the free slots beyond it hold nothing.
        uint32_t held = q->queuedCount;
        for (uint32_t i = 0; i < VIDO_SLOTS && held > 0; ++i) {
            TVidoSlot* slot = &q->slots[i];
            if (slot->length == 0) continue;
            held -= 1;
            if (slot->sequence == q->lastDelivered + 1) {
                q->arrivalsSinceDelivery = 0;
                q->lastDelivered = slot->sequence;
                q->runningNumber = 1;
                if (SlotIntact(c, i, slot)) {
                    c->frameRing.readIndex = slot->ringPosition;
                    Vido_StoreFrame(c, &c->frameRing, slot->length, slot->kind);
                }
                FreeSlot(q, slot);
                delivered = true;
            } else if ((int32_t)(slot->sequence - q->lastDelivered) <= 0) {
                FreeSlot(q, slot); // a duplicate or a frame given up: never due again
            }
        }
        passes -= 1;
    }
}

void Vido_StoreFrame(TConnection* c, TRingDesc* frameRing, uint32_t length, uint32_t kind)
{
    if (!c || !frameRing || !c->vido || !c->stream || !c->view) return;
    TStreamRecord* s = c->stream;
    TFrameRing* video = &s->videoRing;
    uint32_t mode = c->view->mode;
    if (mode == VIEW_LIVE && length > Ring_Free95(video->writeIndex, video->readIndex, video->size)) {
        video->writeIndex = video->readIndex = 0; // live video starts over with this frame dropped
        return;
    }
    if (length > sizeof gTransfer) return;
    if (Ring_Read(frameRing->data, gTransfer, length, &frameRing->writeIndex, &frameRing->readIndex, frameRing->size) !=
        0)
        return;
    if (kind != VIDO_KIND_AUDIO) {
        Ring_Write(gTransfer, video->data, length, &video->writeIndex, &video->readIndex, video->size);
        return;
    }
    if (s->audioWanted != 1) return;
    if (mode != VIEW_BACKUP) gAudioAvailable.store(1);
    StreamAudio_Write(&s->audioRing, gTransfer, length);
}

uint32_t Vido_BuildStatus(const TVidoBuild* b)
{
    if (!b || !b->body || b->room < VIDO_REPORT_SIZE || !b->state) return 0;
    TVidoState* st = b->state;
    TStreamRecord* s = st->connection ? st->connection->stream : nullptr;
    if (s) Vido_RefreshFreeSpace(st, &s->videoRing);
    const uint32_t* words = (const uint32_t*)&st->report;
    for (uint32_t i = 0; i < VIDO_REPORT_SIZE / 4; ++i) PutU32(b->body + 4 * i, words[i]);
    return VIDO_REPORT_SIZE;
}

uint32_t Vido_BuildFrame(const TVidoBuild* b)
{
    if (!b || !b->body || !b->state) return 0;
    if (b->length > b->room || b->room - b->length < VIDO_BLOCK_SIZE) return 0;
    if (b->length && !b->data) return 0;
    PutU32(b->state->frameBlock, b->length + VIDO_BLOCK_SIZE);
    memcpy(b->body, b->state->frameBlock, VIDO_BLOCK_SIZE);
    if (b->length) memcpy(b->body + VIDO_BLOCK_SIZE, b->data, b->length);
    return b->length + VIDO_BLOCK_SIZE;
}

void Vido_ResetForGrant(TConnection* c)
{
    if (c && c->vido) c->vido->requestWord = 0;
}

void Vido_StoreRequestWord(TConnection* c, uint32_t word)
{
    if (c && c->vido) c->vido->requestWord = word;
}
