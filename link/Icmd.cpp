// Commands and setup items through the "ICMD" module. Owns gViewRecords
// (one per connection record), the 2,048-byte module buffer (it receives
// and builds messages), the op, type and setup-item tables and the
// request block.
#include "link/Icmd.h"
#include "link/Bytes.h"
#include "link/ViewRecord.h"
#include "link/Hooks.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "link/Tavn.h"
#include "platform/vcl/Dialogs.h"
#include <cstring>

TViewRecord gViewRecords[CONN_COUNT];
static_assert((int)ICMD_SETUP_ITEMS == (int)SETUP_ITEM_COUNT, "one row per setup item");
TSetupItem gSetupItems[ICMD_SETUP_ITEMS];
static uint8_t gBuffer[ICMD_BUFFER_SIZE];
static TIcmdRequest gRequest;
static TIcmdTypeEntry gTypes[ICMD_TYPES];
static TIcmdOpEntry gOps[3];
// Per record and setup item: the session a set of the item was sent in,
// which alone can confirm it (0: a set nothing can confirm); and the items
// whose set an answer of another session found unconfirmed, for the pages.
static uint32_t gSetSession[CONN_COUNT][ICMD_SETUP_ITEMS];
static uint32_t gUnconfirmed[CONN_COUNT];

// Sending a request starts the frames over: the reorder queue forgets
// what it held.
static void ClearReorder(TViewRecord* view)
{
    if (view->connection) memset(&view->connection->vidoQueue, 0, sizeof view->connection->vidoQueue);
}

// --- Setup items -------------------------------------------------------------

static uint8_t* GetBitrate(TViewRecord* v, uint32_t* size)
{
    *size = sizeof v->bitrateItem;
    return (uint8_t*)&v->bitrateItem;
}

static uint8_t* GetPppoe(TViewRecord* v, uint32_t* size)
{
    *size = sizeof v->pppoeItem;
    return (uint8_t*)&v->pppoeItem;
}

static uint8_t* GetDdns(TViewRecord* v, uint32_t* size)
{
    *size = sizeof v->ddnsItem;
    return (uint8_t*)&v->ddnsItem;
}

static uint8_t* GetMail(TViewRecord* v, uint32_t* size)
{
    *size = sizeof v->mailItem;
    return (uint8_t*)&v->mailItem;
}

static uint8_t* GetMailInterval(TViewRecord* v, uint32_t* size)
{
    *size = sizeof v->mailInterval;
    return (uint8_t*)&v->mailInterval;
}

static void NoHook() {}

// Row of the setup item with this mask in the per-item tables, -1 if none.
static int ItemIndexOf(uint32_t mask)
{
    for (int i = 0; i < ICMD_SETUP_ITEMS; ++i)
        if (mask == (1u << i)) return i;
    return -1;
}

// 1 when an answer now, on the view's link, is the answer to the set of
// the item: both in the session that is still held.
static int SetAnsweredInItsSession(const TViewRecord* view, uint32_t mask)
{
    const int i = ItemIndexOf(mask);
    const TConnection* c = view->connection;
    if (i < 0 || !c || c->index >= CONN_COUNT || c->session == 0) return 0;
    return gSetSession[c->index][i] == c->session ? 1 : 0;
}

static const TSetupItem* SetupItemOf(uint32_t mask)
{
    for (const TSetupItem& item : gSetupItems)
        if (item.used && item.mask == mask) return &item;
    return nullptr;
}

// --- Request blocks ----------------------------------------------------------

static uint32_t BuildBlock(uint8_t* body, TViewRecord* view, const void* block)
{
    memcpy(body, block, ICMD_BLOCK_SIZE);
    ClearReorder(view);
    return ICMD_BLOCK_SIZE;
}

static uint32_t BuildLive(uint8_t* body, TViewRecord* view, uint32_t)
{
    return BuildBlock(body, view, &view->liveBlock);
}

static uint32_t BuildPlayback(uint8_t* body, TViewRecord* view, uint32_t)
{
    return BuildBlock(body, view, &view->playbackBlock);
}

static uint32_t BuildBackup(uint8_t* body, TViewRecord* view, uint32_t)
{
    return BuildBlock(body, view, &view->backupBlock);
}

// The mode word is taken from data the recorder pushes, never from its
// answers, and only when it names a mode.
static void TakeMode(TViewRecord* view, uint32_t op, uint32_t modeWord)
{
    if (op != ICMD_ANSWER && modeWord < (uint32_t)VIEW_MODE_COUNT) view->mode = modeWord;
}

// A block shorter than 64 bytes replaces what it holds; the words the
// recorder did not send keep their values (the live picture size above all,
// which every later command sends back).
static void ParseBlock(void* block, const uint8_t* body, uint32_t length, TViewRecord* view, uint32_t op,
                       uint32_t modeWord)
{
    uint32_t n = length < (uint32_t)ICMD_BLOCK_SIZE ? length : (uint32_t)ICMD_BLOCK_SIZE;
    if (n > 0) memcpy(block, body, n);
    TakeMode(view, op, modeWord);
}

uint32_t Icmd_ParseLive(const uint8_t* body, uint32_t length, TViewRecord* view, uint32_t op, uint32_t modeWord)
{
    ParseBlock(&view->liveBlock, body, length, view, op, modeWord);
    if (view->mode == VIEW_LIVE) View_OnLiveBlock(view);
    return 0;
}

uint32_t Icmd_ParsePlayback(const uint8_t* body, uint32_t length, TViewRecord* view, uint32_t op, uint32_t modeWord)
{
    ParseBlock(&view->playbackBlock, body, length, view, op, modeWord);
    return 0;
}

uint32_t Icmd_ParseBackup(const uint8_t* body, uint32_t length, TViewRecord* view, uint32_t op, uint32_t modeWord)
{
    ParseBlock(&view->backupBlock, body, length, view, op, modeWord);
    return 0;
}

static uint32_t ParseNothing(const uint8_t*, uint32_t, TViewRecord*, uint32_t, uint32_t) { return 0; }

// --- Setup header and item -----------------------------------------------------

uint32_t Icmd_BuildSetup(uint8_t* body, TViewRecord* view, uint32_t mask)
{
    memset(body, 0, SETUP_HEADER_SIZE);
    uint32_t size = 0;
    const uint8_t* item = nullptr;
    if (const TSetupItem* row = SetupItemOf(mask)) {
        row->enablePage(view, 0); // greyed until the answer
        row->hook();
        item = row->get(view, &size);
    }
    if (!item || size > ICMD_BUFFER_SIZE - 64 - SETUP_HEADER_SIZE) size = 0;
    if (size > 0) memcpy(body + SETUP_HEADER_SIZE, item, size);
    PutU32(body + 0, mask);                                      // item mask
    PutU32(body + 4, SETUP_HEADER_SIZE + size);                  // total size
    PutU32(body + 8, size > 0 ? Checksum_Bytes(item, size) : 0); // item sum
    ClearReorder(view);
    return SETUP_HEADER_SIZE + size;
}

uint32_t Icmd_ParseSetup(const uint8_t* body, uint32_t length, TViewRecord* view, uint32_t op, uint32_t modeWord)
{
    if (length < SETUP_HEADER_SIZE) return 0;
    uint32_t m = GetU32(body);
    uint32_t total = GetU32(body + 4);
    uint32_t sum = GetU32(body + 8);
    const TSetupItem* row = SetupItemOf(m);
    uint32_t n = 0;
    uint8_t* item = row ? row->get(view, &n) : nullptr;
    if (!item) n = 0;

    // The header must announce the whole item, and the message must hold
    // all that the header announces.
    if (SETUP_HEADER_SIZE + n > total) return 0;
    if (total > length) return 0;
    if (n > 0 ? Checksum_Bytes(body + SETUP_HEADER_SIZE, n) != sum : sum != 0) return 0;

    if (n > 0) {
        if ((view->dirtyMask & m) && SetAnsweredInItsSession(view, m)) {
            // The recorder confirms what the user applied: the item keeps
            // the values that were sent.
            Application_MessageBox("Setup Successful.", "Setup Information", MB_OK);
        } else {
            // The recorder's own values. An applied item answered in another
            // session than its set's was not confirmed: the page says so.
            if ((view->dirtyMask & m) && view->connection && view->connection->index < CONN_COUNT)
                gUnconfirmed[view->connection->index] |= m;
            memcpy(item, body + SETUP_HEADER_SIZE, n);
        }
    }
    TakeMode(view, op, modeWord);
    if (row) {
        row->toPage(view);
        row->enablePage(view, 1);
        view->dirtyMask &= ~m;
    }
    return m;
}

// --- Module ------------------------------------------------------------------

// A view record's start values, linked with its connection record.
static void StartValues(TViewRecord* v, uint32_t i)
{
    v->connection = &gConnections[i];
    gConnections[i].view = v;
    v->bitrateItem = 9;
    v->liveBlock.liveWidth = 640;
    v->liveBlock.liveHeight = 512;
}

int Icmd_Init()
{
    Msg_RegisterModule("ICMD", Icmd_Receive, Icmd_Transmit, gBuffer, sizeof gBuffer);
    gOps[0] = TIcmdOpEntry{ICMD_REQUEST, Icmd_OnRequest};
    gOps[1] = TIcmdOpEntry{ICMD_DATA, Icmd_OnData};
    gOps[2] = TIcmdOpEntry{ICMD_ANSWER, Icmd_OnData};

    const uint32_t kind1 = 1u << 1, kind2 = 1u << 2;
    gTypes[0] = TIcmdTypeEntry{1, ICMD_LIVE, ICMD_DATA | ICMD_ANSWER, 0x102, kind1, BuildLive, Icmd_ParseLive};
    gTypes[1] =
        TIcmdTypeEntry{1, ICMD_PLAYBACK, ICMD_DATA | ICMD_ANSWER, 0x102, kind1, BuildPlayback, Icmd_ParsePlayback};
    gTypes[2] = TIcmdTypeEntry{1, ICMD_BACKUP, ICMD_DATA | ICMD_ANSWER, 0x102, kind1, BuildBackup, Icmd_ParseBackup};
    gTypes[3] = TIcmdTypeEntry{1, ICMD_LOCAL_PLAYBACK, 0, 0, 0, nullptr, ParseNothing};
    gTypes[4] = TIcmdTypeEntry{
        1, ICMD_SETUP, ICMD_REQUEST | ICMD_DATA | ICMD_ANSWER, 0x1002, kind1 | kind2, Icmd_BuildSetup, Icmd_ParseSetup};

    gSetupItems[0] = TSetupItem{1, SETUP_BITRATE, GetBitrate, NoHook, Setup_BitrateToPage, Setup_EnableBitratePage};
    gSetupItems[1] = TSetupItem{1, SETUP_PPPOE, GetPppoe, NoHook, Setup_PppoeToPage, Setup_EnablePppoePage};
    gSetupItems[2] = TSetupItem{1, SETUP_DDNS, GetDdns, NoHook, Setup_DdnsToPage, Setup_EnableDdnsPage};
    gSetupItems[3] = TSetupItem{1, SETUP_MAIL, GetMail, NoHook, Setup_MailToPage, Setup_EnableMailPage};
    gSetupItems[4] =
        TSetupItem{1, SETUP_MAIL_INTERVAL, GetMailInterval, NoHook, Setup_MailIntervalToPage, Setup_EnableMailPage};

    for (uint32_t i = 0; i < CONN_COUNT; ++i) StartValues(&gViewRecords[i], i);
    memset(gSetSession, 0, sizeof gSetSession);
    memset(gUnconfirmed, 0, sizeof gUnconfirmed);
    return 0;
}

uint32_t Icmd_TakeUnconfirmedSets(TViewRecord* view)
{
    const TConnection* c = view ? view->connection : nullptr;
    if (!c || c->index >= CONN_COUNT) return 0;
    uint32_t lost = gUnconfirmed[c->index];
    gUnconfirmed[c->index] = 0;
    for (int i = 0; i < ICMD_SETUP_ITEMS; ++i) {
        const uint32_t m = 1u << i;
        if ((view->dirtyMask & m) && !SetAnsweredInItsSession(view, m)) lost |= m;
    }
    view->dirtyMask &= ~lost;
    return lost;
}

void Icmd_ResetViews()
{
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        memset(&gViewRecords[i], 0, sizeof gViewRecords[i]);
        StartValues(&gViewRecords[i], i);
    }
    memset(gBuffer, 0, sizeof gBuffer);
    memset(&gRequest, 0, sizeof gRequest);
    memset(gSetSession, 0, sizeof gSetSession);
    memset(gUnconfirmed, 0, sizeof gUnconfirmed);
}

void Icmd_Send(uint32_t session, uint32_t op, uint32_t type, uint32_t mask)
{
    gRequest.session = session;
    gRequest.mask = mask;
    gRequest.op = op;
    gRequest.type = type;
    Msg_SendViaModule("ICMD", &gRequest);
}

static const TIcmdTypeEntry* TypeOf(uint32_t type)
{
    for (const TIcmdTypeEntry& t : gTypes)
        if (t.used && t.type == type) return &t;
    return nullptr;
}

void Icmd_Transmit(void* request)
{
    const TIcmdRequest* r = (const TIcmdRequest*)request;
    if (!r) return;
    int ci = Conn_FindBySession(r->session);
    if (ci < 0) return;
    TConnection* c = &gConnections[ci];
    TViewRecord* view = c->view;
    if (!view) return;

    view->icmdSequence += 1;
    Msg_Begin(gBuffer, "ICMD",
              TModuleSubHeader{r->session,
                               {
                                   r->op,              // op
                                   r->type,            // type
                                   view->mode,         // view mode
                                   view->icmdSequence, // sequence number
                               }});
    uint32_t body = 0;
    const TIcmdTypeEntry* t = TypeOf(r->type);
    if (t && (t->buildOps & r->op) && t->build) body = t->build(gBuffer + MSG_FRAME_SIZE, view, r->mask);
    const uint32_t total = Msg_Finish(gBuffer, body);
    const int queued = Conn_QueueSend(c, gBuffer, total);
    // A set is answered in the session it went out in; one that found no
    // room in the send ring is never answered at all.
    const int item = r->op == ICMD_DATA && r->type == ICMD_SETUP ? ItemIndexOf(r->mask) : -1;
    if (item >= 0) gSetSession[ci][item] = queued == 0 ? r->session : 0;
}

void Icmd_Receive()
{
    uint32_t n = Msg_ReceivedLength();
    // The five sub-header words as far as they arrived, the rest 0.
    uint8_t words[20] = {0};
    memcpy(words, gBuffer, n < sizeof words ? n : sizeof words);
    TIcmdMessage m;
    m.session = GetU32(words);
    m.op = GetU32(words + 4);
    m.type = GetU32(words + 8);
    m.modeWord = GetU32(words + 12);
    m.body = gBuffer + 32;
    m.bodyLength = n > 32 ? n - 32 : 0;
    if (m.session == 0) return; // names no link
    int ci = Conn_FindBySession(m.session);
    if (ci < 0) return;
    Vido_StoreRequestWord(&gConnections[ci], GetU32(words + 16));
    for (const TIcmdOpEntry& e : gOps) {
        if (e.op != m.op) continue;
        e.handler(&m);
        return;
    }
}

void Icmd_OnRequest(const TIcmdMessage* m)
{
    if (!TypeOf(m->type)) return;
    uint32_t mask = m->type == ICMD_SETUP && m->bodyLength >= 4 ? GetU32(m->body) : 0;
    Icmd_Send(m->session, ICMD_ANSWER, m->type, mask);
}

void Icmd_OnData(const TIcmdMessage* m)
{
    int ci = Conn_FindBySession(m->session);
    const TIcmdTypeEntry* t = TypeOf(m->type);
    if (ci < 0 || !t || !t->parse) return;
    TConnection* c = &gConnections[ci];
    if (!c->view) return;
    uint32_t r = t->parse(m->body, m->bodyLength, c->view, m->op, m->modeWord);
    if (t->type == ICMD_SETUP && r == 0) return; // an ignored item is not answered
    uint32_t kind = Handshake_ClientKind(c);
    bool kindRelayed = kind < 32 && (t->relayKinds & (1u << kind));
    if ((t->relayFlags & m->op) && (t->relayFlags & t->type) && kindRelayed) Icmd_Relay(c->index, t->type, r);
}

void Icmd_Relay(uint32_t source, uint32_t type, uint32_t result)
{
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        TConnection* c = &gConnections[i];
        if (!c->active) continue;
        if (i == source && type != ICMD_SETUP) continue;
        if (type != ICMD_LIVE || Handshake_ClientKind(c) == 1) Icmd_Send(c->session, ICMD_ANSWER, type, result);
    }
}
