// The handshake after a session grant, through the "TAVN" module. Owns the
// two handshake records, the 4,096-byte module buffer (it receives and
// builds messages), the three-row code table, the request block, the
// shared machine-type buffer and the setup acknowledgement word.
#include "link/Tavn.h"
#include "link/Bytes.h"
#include "link/Hooks.h"
#include "link/Ictl.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/Vcl.h"
#include "platform/win/Win.h"
#include <cstdio>
#include <cstring>

THandshakeRecord gHandshakeRecords[CONN_COUNT];
uint8_t gMachineTypeData[MACHINE_TYPE_SIZE];
uint32_t gSetupAck;
static uint8_t gBuffer[TAVN_BUFFER_SIZE];
static THandshakeRequest gRequest;
static THandshakeEntry gCodes[3];
// Per record: the session whose machine record has been applied (0: none).
static uint32_t gAppliedSession[CONN_COUNT];

// Copies the bytes that arrived into a fixed-size record and zeroes the
// part the message did not hold.
static void CopyArrived(void* record, uint32_t recordSize, const uint8_t* body, uint32_t length)
{
    uint32_t n = length < recordSize ? length : recordSize;
    if (n > 0) memcpy(record, body, n);
    memset((uint8_t*)record + n, 0, recordSize - n);
}

int Handshake_Init()
{
    Msg_RegisterModule("TAVN", Handshake_Receive, Handshake_Transmit, gBuffer, sizeof gBuffer);
    gCodes[0] = THandshakeEntry{3, TAVN_HELLO, Handshake_OnHello, Handshake_BuildHello};
    gCodes[1] = THandshakeEntry{3, TAVN_CLIENT_INFO, Handshake_OnMachineRecord, Handshake_BuildClientInfo};
    gCodes[2] = THandshakeEntry{1, TAVN_CLOSE, Handshake_OnClose, nullptr};
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        gHandshakeRecords[i].connection = &gConnections[i];
        gConnections[i].handshake = &gHandshakeRecords[i];
        gAppliedSession[i] = 0;
    }
    return 0;
}

void Handshake_Reset()
{
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        memset(&gHandshakeRecords[i].helloAnswer, 0, sizeof gHandshakeRecords[i].helloAnswer);
        memset(&gHandshakeRecords[i].machine, 0, sizeof gHandshakeRecords[i].machine);
    }
    memset(gMachineTypeData, 0, sizeof gMachineTypeData);
    memset(gBuffer, 0, sizeof gBuffer);
    memset(&gRequest, 0, sizeof gRequest);
    memset(gAppliedSession, 0, sizeof gAppliedSession);
    gSetupAck = 0;
}

void Handshake_Start(uint32_t session)
{
    int ci = Conn_FindBySession(session);
    if (ci >= 0) gAppliedSession[ci] = 0;
    Handshake_Send(session, TAVN_HELLO);
}

void Handshake_Send(uint32_t session, uint32_t code)
{
    gRequest.session = session;
    gRequest.code = code;
    Msg_SendViaModule("TAVN", &gRequest);
}

void Handshake_Transmit(void* request)
{
    const THandshakeRequest* r = (const THandshakeRequest*)request;
    if (!r) return;
    int ci = Conn_FindBySession(r->session);
    if (ci < 0) return;
    TConnection* c = &gConnections[ci];

    Msg_Begin(gBuffer, "TAVN", TModuleSubHeader{r->session, {r->code}}); // the code
    uint32_t body = 0;
    for (const THandshakeEntry& e : gCodes) {
        if (e.code != r->code || !(e.flags & 2) || !e.build) continue;
        body = e.build(r->session, r->code, gBuffer + MSG_FRAME_SIZE, c->handshake);
        break;
    }
    Conn_QueueSend(c, gBuffer, Msg_Finish(gBuffer, body));
}

void Handshake_Receive()
{
    uint32_t n = Msg_ReceivedLength();
    if (n < 8) return; // no session and code
    THandshakeMessage m;
    m.session = GetU32(gBuffer);
    m.code = GetU32(gBuffer + 4);
    m.body = gBuffer + 32;
    m.bodyLength = n > 32 ? n - 32 : 0;
    if (m.session == 0) return; // names no link
    int ci = Conn_FindBySession(m.session);
    if (ci < 0) return;
    m.record = gConnections[ci].handshake;
    if (!m.record) return;
    for (const THandshakeEntry& e : gCodes) {
        if (e.code != m.code || !(e.flags & 1) || !e.receive) continue;
        e.receive(&m);
        return;
    }
}

int Handshake_Admit(uint32_t connectionIndex, uint32_t clientKind)
{
    uint32_t kind1 = 0, kind2 = 0;
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        if (i == connectionIndex || !gConnections[i].active) continue;
        uint32_t k = Handshake_ClientKind(&gConnections[i]);
        if (k == 1) ++kind1;
        if (k == 2) ++kind2;
    }
    if (clientKind == 1) return 1;
    return kind2 < 2 ? 1 : 0;
}

uint32_t Handshake_ClientKind(const TConnection* c)
{
    return c && c->handshake ? c->handshake->helloAnswer.clientKind : 0;
}

void Handshake_ClearClientKind(TConnection* c)
{
    if (c && c->handshake) c->handshake->helloAnswer.clientKind = 0;
}

void Handshake_OnHello(const THandshakeMessage* m)
{
    THandshakeRecord* h = m->record;
    CopyArrived(&h->helloAnswer, sizeof h->helloAnswer, m->body, m->bodyLength);
    uint32_t index = h->connection ? h->connection->index : 0;
    if (Handshake_Admit(index, h->helloAnswer.clientKind)) {
        Handshake_Send(m->session, TAVN_CLIENT_INFO);
    } else {
        h->helloAnswer.clientKind = 0;
        Handshake_Send(m->session, TAVN_CLOSE);
    }
}

uint32_t Handshake_ChannelCount(uint32_t recorderCount)
{
    if (recorderCount <= 4) return 4;
    if (recorderCount <= 8) return 8;
    return 16;
}

void Handshake_OnMachineRecord(const THandshakeMessage* m)
{
    THandshakeRecord* h = m->record;
    TConnection* c = h->connection;
    if (!c) return;
    // One record per session: another one (a recorder that answers a
    // hello sent again) would set up the panel and the pages once more.
    if (c->index < CONN_COUNT) {
        if (gAppliedSession[c->index] == m->session) return;
        gAppliedSession[c->index] = m->session;
    }
    TMachineRecord* r = &h->machine;
    CopyArrived(r, sizeof *r, m->body, m->bodyLength);
    for (int t = 0; t < 4; ++t) r->text[t][31] = 0; // bytes 43, 75, 107, 139

    c->active = 1;
    c->vidoQueue.lastDelivered = 0;
    if (r->socketCount > 1) Conn_OpenSocket(c, c->host, c->port, 1);
    // The record keeps the recorder's count as sent; what the viewer works
    // with, and indexes its tables of 16 channels by, is 4, 8 or 16.
    KeyForm_Init(Handshake_ChannelCount(r->channelCount), r->variant, gHttpPage);
    Setup_FillForMachine(h);
    Title_ShowTab(r->titleFlag);
    Handshake_HideUpnpTab();
    Ictl_SendVariable(m->session, "Tavn_Mach_Type_Data_W", gMachineTypeData, MACHINE_TYPE_SIZE, 1);
    if (c->index == 0) Win_Milestone(MILESTONE_HANDSHAKE_DONE);
}

void Handshake_OnClose(const THandshakeMessage* m)
{
    TConnection* c = m->record->connection;
    if (!c) return;
    Conn_Reset(c);
    for (uint32_t s = 0; s < 2; ++s)
        if (c->socket[s]) c->socket[s]->Close();
    // Socket 0 carries the login, so it must come back whatever the
    // sockets' own disconnects did to its state.
    c->socketState[0] = SOCK_DOWN;
}

uint32_t Handshake_BuildHello(uint32_t, uint32_t, uint8_t* body, THandshakeRecord*)
{
    memset(body, 0, TAVN_RECORD_SIZE);
    PutU32(body + 0, 1); // 1
    PutU32(body + 4, 1); // 1
    body[9] = 1;         // 1
    PutU16(body + 10, 0x0811);
    PutU16(body + 12, 0x1234);
    PutU16(body + 14, 0);
    return TAVN_RECORD_SIZE;
}

uint32_t Handshake_BuildClientInfo(uint32_t, uint32_t, uint8_t* body, THandshakeRecord*)
{
    memset(body, 0, TAVN_RECORD_SIZE);
    PutU32(body + 0, 16);
    PutU32(body + 4, 0);
    PutU32(body + 8, 1);
    snprintf((char*)body + 12, 32, "[OS] %s", "2.9.2_138ED"); // system version
    snprintf((char*)body + 44, 32, "[SN] %s", "1234567890");  // serial number
    snprintf((char*)body + 76, 32, "[B] %s", "REV:1.9");      // board
    snprintf((char*)body + 108, 32, "[N] %d", 7104);          // build number
    return TAVN_RECORD_SIZE;
}

void Handshake_ShowUpnpTab(uint32_t)
{
    if (GetU32(gMachineTypeData + 8) == 1) Viewer_ShowUpnpTab(1);
}

void Handshake_HideUpnpTab() { Viewer_ShowUpnpTab(0); }

void Handshake_ShowSetupSuccess(uint32_t)
{
    if (gSetupAck == 1) Application_MessageBox("Setup Successful.", "Setup Information", MB_OK);
    gSetupAck = 0;
}

void NoopCallback(uint32_t) {}
