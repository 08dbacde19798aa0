// The recording-search module "PBBA". Owns gPbbaStates, the module's one
// message buffer (a received message lands in it, and outgoing messages are
// built in it), the period table, the op table, the request record and the
// last query sent per connection and period index.
#include "media/Pbba.h"
#include "link/Bytes.h"
#include "link/ViewRecord.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "media/Stream.h"
#include "panel/Month.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include <cstring>

const TPbbaPeriod gPbbaPeriods[PBBA_INDEX_COUNT] = {
    {1, 270}, {60, 270}, {1440, 270}, {3600, 270}, {86400, 21}, {2592000, 1}, {31536000, 1}, {1800, 24},
};

TPbbaState gPbbaStates[CONN_COUNT];

static uint8_t gBuffer[PBBA_BUFFER_SIZE];
static TPbbaRequest gRequest;

// The last query of each connection and index: the session it went out on,
// the channel and the time it asked about. valid 0: none yet.
struct TPbbaLastQuery {
    uint32_t valid;
    uint32_t session;
    uint32_t channel;
    uint32_t time;
};
static TPbbaLastQuery gLastQuery[CONN_COUNT][PBBA_INDEX_COUNT];

static const TPbbaOp gOps[] = {
    {PBBA_OP_QUERY, Pbba_OnQueryAnswer, Pbba_BuildQuery},
    {PBBA_OP_REPLY, Pbba_OnReply, Pbba_BuildEcho},
};

static const TPbbaOp* OpOf(uint32_t op)
{
    for (const TPbbaOp& e : gOps)
        if (e.op == op) return &e;
    return nullptr;
}

int Pbba_Init()
{
    Msg_RegisterModule("PBBA", Pbba_Receive, Pbba_Transmit, gBuffer, sizeof gBuffer);
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        memset(&gPbbaStates[i], 0, sizeof gPbbaStates[i]);
        gPbbaStates[i].connection = &gConnections[i];
        gConnections[i].pbba = &gPbbaStates[i];
    }
    Pbba_ForgetQueries();
    return 0;
}

void Pbba_ForgetQueries() { memset(gLastQuery, 0, sizeof gLastQuery); }

void Pbba_Reset()
{
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        memset(gPbbaStates[i].query, 0, sizeof gPbbaStates[i].query);
        memset(gPbbaStates[i].echo, 0, sizeof gPbbaStates[i].echo);
    }
    memset(gBuffer, 0, sizeof gBuffer);
    memset(&gRequest, 0, sizeof gRequest);
    Pbba_ForgetQueries();
}

void Pbba_SendRequest(uint32_t session, uint32_t index, uint32_t op, uint32_t channel)
{
    gRequest.session = session;
    gRequest.index = index;
    gRequest.op = op;
    gRequest.channel = channel;
    Msg_SendViaModule("PBBA", &gRequest);
}

int Pbba_Window(uint32_t index, uint32_t time, uint32_t* start, uint32_t* end)
{
    if (index >= PBBA_INDEX_COUNT) return -1;
    uint32_t unit = gPbbaPeriods[index].seconds;
    uint32_t half = unit * gPbbaPeriods[index].multiplier;
    uint32_t base = ((time - unit) / unit) * unit; // the period before the one holding time
    if (start) *start = base - half;
    if (end) *end = base + half;
    return 0;
}

void Pbba_RequestPeriod(uint32_t session, uint32_t index, uint32_t op, uint32_t channel, uint32_t time)
{
    if (index >= PBBA_INDEX_COUNT) return;
    int ci = session ? Conn_FindBySession(session) : -1;
    if (ci >= 0) {
        uint32_t start = 0, end = 0;
        Pbba_Window(index, time, &start, &end);
        uint8_t* q = gPbbaStates[ci].query[index];
        memset(q, 0, PBBA_RECORD_SIZE);
        PutU32(q + 0, start);
        PutU32(q + 4, end);
    }
    Pbba_SendRequest(session, index, op, channel);
}

void Pbba_RequestIfChanged(TStreamRecord* stream, uint32_t channel)
{
    if (!stream || !stream->connection) return;
    TConnection* c = stream->connection;
    // No link yet: nothing is asked, and so nothing is taken as asked.
    if (c->session == 0 || c->index >= CONN_COUNT) return;
    // The channel indexes the display areas: the recorder's word is checked first.
    if (channel >= STREAM_CHANNELS) return;
    struct {
        uint32_t index;
        uint32_t time;
    } const queries[2] = {{PBBA_MONTH_INDEX, gMonthQueryTime}, {PBBA_DAY_INDEX, gDayQueryTime}};
    for (const auto& q : queries) {
        // The flags the calendar shows belong to the last reply, whatever
        // channel it was for: a query goes out when the time, the channel
        // or the session differs from the last query of the index.
        TPbbaLastQuery* last = &gLastQuery[c->index][q.index];
        stream->playbackAreas[channel].queryTimes[q.index - PBBA_MONTH_INDEX] = q.time;
        if (last->valid && last->session == c->session && last->channel == channel && last->time == q.time) continue;
        *last = TPbbaLastQuery{1, c->session, channel, q.time};
        Pbba_RequestPeriod(c->session, q.index, PBBA_OP_QUERY, channel, q.time);
    }
}

void Calendar_TimerStep()
{
    TConnection* c = &gConnections[0];
    TViewRecord* view = c->view;
    if (!view || !c->stream) return;
    uint32_t channel;
    if (view->mode == VIEW_PLAYBACK) channel = view->playbackBlock.playbackChannel;
    else if (view->mode == VIEW_BACKUP) channel = view->backupBlock.backupChannel;
    else return;
    Pbba_RequestIfChanged(c->stream, channel);
}

void Pbba_Transmit(void* request)
{
    const TPbbaRequest* r = (const TPbbaRequest*)request;
    if (!r || r->index >= PBBA_INDEX_COUNT || r->session == 0) return;
    int ci = Conn_FindBySession(r->session);
    if (ci < 0 || !gConnections[ci].pbba) return;
    TConnection* c = &gConnections[ci];
    const TPbbaOp* op = OpOf(r->op);
    if (!op) return;
    uint8_t* m = gBuffer;
    Msg_Begin(m, "PBBA",
              TModuleSubHeader{r->session,
                               {
                                   r->index,   // period index
                                   r->op,      // op
                                   r->channel, // channel
                               }});
    uint32_t body = op->build((TPbbaState*)c->pbba, r->index, m + MSG_FRAME_SIZE);
    Conn_QueueSend(c, m, Msg_Finish(m, body));
}

void Pbba_Receive()
{
    uint32_t n = Msg_ReceivedLength();
    if (n < 32 || n > sizeof gBuffer) return; // no whole sub-header
    uint32_t session = GetU32(gBuffer);
    if (session == 0) return;
    int ci = Conn_FindBySession(session);
    if (ci < 0 || !gConnections[ci].pbba) return;
    const TPbbaOp* e = OpOf(GetU32(gBuffer + 8));
    if (!e) return;
    TPbbaReceived message = {
        session, GetU32(gBuffer + 4), GetU32(gBuffer + 12), gBuffer + 32, n - 32, (TPbbaState*)gConnections[ci].pbba};
    e->receive(&message);
}

void Pbba_OnQueryAnswer(const TPbbaReceived* m)
{
    if (!m || !m->state || !m->body || m->index >= PBBA_INDEX_COUNT) return;
    if (m->bodyLength < PBBA_ANSWER_MIN) return; // the two words did not arrive
    uint8_t* echo = m->state->echo[m->index];
    // Taken out before the answer's buffer is reused for the echo.
    uint32_t a = GetU32(m->body), b = GetU32(m->body + 4);
    PutU32(echo + 0, a);
    PutU32(echo + 4, b);
    Pbba_SendRequest(m->session, m->index, PBBA_OP_REPLY, m->channel);
}

uint32_t Pbba_EntryCount(uint32_t index)
{
    if (index == PBBA_MONTH_INDEX) return PBBA_MONTH_ENTRIES;
    if (index == PBBA_DAY_INDEX) return PBBA_DAY_ENTRIES;
    return 0;
}

int Pbba_ParseReply(const uint8_t* body, uint32_t bodyLength, uint32_t index, int32_t* flags)
{
    uint32_t entries = Pbba_EntryCount(index);
    if (!body || !flags || entries == 0) return -1;
    uint32_t need = PBBA_RECORD_SIZE + 2 * entries;
    if (bodyLength < need) return -1;
    uint32_t length = GetU32(body + 8);
    if (length < need || length > bodyLength) return -1;
    if (Checksum_Bytes(body + PBBA_RECORD_SIZE, length - PBBA_RECORD_SIZE) != GetU32(body + 12)) return -1;
    for (uint32_t i = 0; i < entries; ++i) flags[i] = (body[PBBA_RECORD_SIZE + 2 * i] & 0x1F) != 0 ? 1 : 0;
    return 0;
}

void Pbba_OnReply(const TPbbaReceived* m)
{
    if (!m || !m->body) return;
    int32_t flags[PBBA_DAY_ENTRIES];
    if (Pbba_ParseReply(m->body, m->bodyLength, m->index, flags) != 0) return;
    if (m->index == PBBA_DAY_INDEX) memcpy(IE_Data, flags, sizeof(int32_t) * PBBA_DAY_ENTRIES);
    else memcpy(gDayStatus, flags, sizeof(int32_t) * PBBA_MONTH_ENTRIES);
    Month_BuildGrid((uint32_t)Mon_Time);
    Panel_Invalidate();
}

uint32_t Pbba_BuildQuery(TPbbaState* state, uint32_t index, uint8_t* body)
{
    if (!state || !body || index >= PBBA_INDEX_COUNT) return 0;
    memcpy(body, state->query[index], PBBA_RECORD_SIZE);
    return PBBA_RECORD_SIZE;
}

uint32_t Pbba_BuildEcho(TPbbaState* state, uint32_t index, uint8_t* body)
{
    if (!state || !body || index >= PBBA_INDEX_COUNT) return 0;
    PutU32(state->echo[index] + 8, PBBA_RECORD_SIZE);
    memcpy(body, state->echo[index], PBBA_RECORD_SIZE);
    return PBBA_RECORD_SIZE;
}
