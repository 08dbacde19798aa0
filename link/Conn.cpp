// Connection records, client sockets and the cutting of HTTP answers out of
// the receive buffers. Owns gConnections and the two send-ring descriptors
// gSendRings; ring and buffer storage is taken from the heap once and kept.
#include "link/Conn.h"
#include "link/Hooks.h"
#include "link/Ulcm.h"
#include "platform/vcl/Vcl.h"
#include "platform/win/Win.h"
#include <cstring>
#include <new>

TConnection gConnections[CONN_COUNT];
static TRingDesc gSendRings[CONN_COUNT];

// Per socket: reconnects since the last answer that came through, and
// when the last connect started; the poll waits longer the more connects
// in a row ended without an answer.
struct TReconnect {
    uint32_t failures;
    uint32_t lastOpen;
    uint32_t answered;  // an answer came on this connection
    uint32_t connected; // the connect succeeded: the link may have used the socket
};
static TReconnect gReconnect[CONN_COUNT][2];

// Per socket: how far the buffer has been searched for the blank line
// that ends an answer's header, and the header found there (0: none yet)
// with its content length, so each byte is looked at once; whether the
// answer coming in belongs to a link that has ended; and when the
// recorder was last heard on the socket.
struct TFraming {
    uint32_t scanned;
    uint32_t header;
    uint32_t body;
    uint32_t discard;   // the answer is read to its end and dropped
    uint32_t heardFill; // bytes held when last looked at
    uint32_t heardAt;   // stopwatch reading when more bytes were last seen
};
static TFraming gFraming[CONN_COUNT][2];
// What connection 0's link lamp shows: 1 lit, 0 dark, -1 not shown yet.
static int gLampShown = -1;
uint32_t gHttpBytesScanned;

static const char kStatusOk[] = "HTTP/1.1 200 OK\r\n";   // 17 bytes
static const char kContentLength[] = "Content-Length: "; // 16 bytes

static uint8_t* AllocBytes(uint32_t n) { return new (std::nothrow) uint8_t[n]; }

static TCustomWinSocket* WinSocketOf(const TConnection* c, uint32_t s)
{
    if (!c || s >= 2 || !c->socket[s]) return nullptr;
    return c->socket[s]->Socket();
}

int Conn_SocketConnected(const TConnection* c, uint32_t socketIndex)
{
    TCustomWinSocket* ws = WinSocketOf(c, socketIndex);
    return ws && ws->Connected() ? 1 : 0;
}

void Conn_InitAll()
{
    // Storage already taken by an earlier start-up is kept, never dropped.
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        TConnection* c = &gConnections[i];
        c->index = i;
        c->session = 0;
        c->active = 0;
        c->linkState = LINK_IDLE;
        memset(c->credentialsA, 0, sizeof c->credentialsA);
        memset(c->credentialsB, 0, sizeof c->credentialsB);
        Conn_BindSendRing(c);
        gSendRings[i].writeIndex = gSendRings[i].readIndex = 0;
        c->lengthRead = c->lengthWrite = 0;
        c->frameRing.writeIndex = c->frameRing.readIndex = 0;
        for (uint32_t s = 0; s < 2; ++s) {
            c->socketState[s] = SOCK_IDLE;
            c->busy[s] = 0;
            c->receive[s].writeIndex = c->receive[s].readIndex = 0;
        }
    }
    TConnection* c0 = &gConnections[0];
    Conn_ResetSendRing(0);
    Conn_AllocFrameRing(c0, CONN_FRAME_RING_SIZE);
    Conn_ResetReceiveBuffer(c0, 0);
    Conn_ResetReceiveBuffer(c0, 1);
    c0->socketState[0] = SOCK_DOWN; // the first tick with properties connects it
    memset(gReconnect, 0, sizeof gReconnect);
    for (uint32_t i = 0; i < CONN_COUNT; ++i)
        for (uint32_t s = 0; s < 2; ++s) gFraming[i][s] = TFraming{};
    gLampShown = -1;
}

void Conn_ResetAll()
{
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        TConnection* c = &gConnections[i];
        memset(c->userKey, 0, sizeof c->userKey);
        memset(c->host, 0, sizeof c->host);
        c->port = 0;
        for (uint32_t s = 0; s < 2; ++s) c->sendTime[s] = 0;
        memset(&c->vidoQueue, 0, sizeof c->vidoQueue);
        memset(c->lengthTable, 0, sizeof c->lengthTable);
    }
    Conn_InitAll();
}

int Conn_ResetSendRing(uint32_t connectionIndex)
{
    if (connectionIndex >= CONN_COUNT) return -1;
    TRingDesc* ring = &gSendRings[connectionIndex];
    ring->writeIndex = 0;
    ring->readIndex = 0;
    // The length table describes the ring's content, so it empties with it.
    gConnections[connectionIndex].lengthRead = 0;
    gConnections[connectionIndex].lengthWrite = 0;
    if (!ring->data) {
        ring->data = AllocBytes(CONN_SEND_RING_SIZE);
        ring->size = ring->data ? CONN_SEND_RING_SIZE : 0;
    }
    return ring->data ? 0 : -1;
}

void Conn_BindSendRing(TConnection* c)
{
    if (!c || c->index >= CONN_COUNT) return;
    c->sendRing = &gSendRings[c->index];
}

int Conn_ResetReceiveBuffer(TConnection* c, uint32_t socketIndex)
{
    if (!c || socketIndex >= 2) return -1;
    TRingDesc* rb = &c->receive[socketIndex];
    rb->writeIndex = 0;
    rb->readIndex = 0;
    if (c->index < CONN_COUNT) gFraming[c->index][socketIndex] = TFraming{};
    if (!rb->data) {
        rb->data = AllocBytes(CONN_RECEIVE_SIZE);
        rb->size = rb->data ? CONN_RECEIVE_SIZE : 0;
    }
    return rb->data ? 0 : -1;
}

int Conn_AllocFrameRing(TConnection* c, uint32_t size)
{
    if (!c || size == 0) return -1;
    if (c->frameRing.data) return 0;
    uint8_t* data = AllocBytes(size);
    if (!data) return -1;
    c->frameRing.writeIndex = 0;
    c->frameRing.readIndex = 0;
    c->frameRing.size = size;
    c->frameRing.data = data;
    return 0;
}

void Conn_ForgetAnswers(TConnection* c)
{
    if (!c) return;
    for (uint32_t s = 0; s < 2; ++s) {
        // Emptying the buffer under an answer still arriving would leave
        // its rest to land as garbage and the socket busy for good.
        if (c->busy[s] == 1 && Conn_SocketConnected(c, s) && c->index < CONN_COUNT) gFraming[c->index][s].discard = 1;
        else Conn_ResetReceiveBuffer(c, s);
    }
}

void Conn_Reset(TConnection* c)
{
    if (!c) return;
    c->active = 0;
    c->linkState = LINK_IDLE;
    memset(c->host, 0, sizeof c->host);
    c->port = 0;
    Conn_BindSendRing(c);
    c->session = 0;
    for (uint32_t s = 0; s < 2; ++s) c->socketState[s] = SOCK_IDLE;
    Conn_ForgetAnswers(c);
}

int Conn_AllSocketsDown(const TConnection* c)
{
    if (!c) return 0;
    return c->socketState[0] == SOCK_DOWN && c->socketState[1] == SOCK_DOWN ? 1 : 0;
}

int Conn_FindBySession(uint32_t session)
{
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        if (gConnections[i].session == session) return (int)i;
    }
    return -1;
}

int Conn_QueueSend(TConnection* c, const uint8_t* message, uint32_t n)
{
    if (!c || !message || n == 0) return -1;
    // A packet carries whole messages of at most 1,280 bytes: a longer one
    // could never leave and would hold up every message behind it.
    if (n > CONN_MAX_MESSAGE) return -1;
    TRingDesc* ring = c->sendRing;
    if (!ring || !ring->data) return -1;
    if (n > Ring_Free95(ring->writeIndex, ring->readIndex, ring->size)) return -1;
    if (c->lengthWrite - c->lengthRead >= CONN_LENGTH_TABLE) return -1;
    if (Ring_Write(message, ring->data, n, &ring->writeIndex, &ring->readIndex, ring->size) != 0) return -1;
    c->lengthTable[c->lengthWrite & (CONN_LENGTH_TABLE - 1)] = n;
    c->lengthWrite += 1;
    return 0;
}

int Conn_OpenSocket(TConnection* c, const char* host, uint32_t port, uint32_t socketIndex)
{
    if (!c || socketIndex >= 2 || !c->socket[socketIndex]) return -1;
    if (Conn_SocketConnected(c, socketIndex)) return 0;
    Conn_ResetReceiveBuffer(c, socketIndex);
    // The record is marked before the connect starts: a socket class may
    // report a connect that fails at once from inside SetActive, and its
    // disconnect must leave the socket down for the next reconnect.
    c->busy[socketIndex] = 0;
    c->socketState[socketIndex] = SOCK_OPENING;
    if (socketIndex == 0) c->linkState = LINK_IDLE;
    if (c->index < CONN_COUNT) {
        gReconnect[c->index][socketIndex].lastOpen = Stopwatch_Now();
        gReconnect[c->index][socketIndex].answered = 0;
        gReconnect[c->index][socketIndex].connected = 0;
    }
    TClientSocket* cs = c->socket[socketIndex];
    cs->SetHost(host ? host : "");
    cs->SetPort((int)port);
    cs->SetActive(true);
    return 0;
}

int Conn_ReconnectDue(const TConnection* c, uint32_t socketIndex)
{
    if (!c || c->index >= CONN_COUNT || socketIndex >= 2) return 0;
    const TReconnect& r = gReconnect[c->index][socketIndex];
    // At once after the first failure, then 50 ms doubling to once a second.
    if (r.failures <= 1) return 1;
    uint32_t shift = r.failures - 2 < 5 ? r.failures - 2 : 5;
    uint32_t wait = (uint32_t)CONN_RETRY_FIRST << shift;
    if (wait > CONN_RETRY_MAX) wait = CONN_RETRY_MAX;
    return Stopwatch_Now() - r.lastOpen >= wait ? 1 : 0;
}

// The blank line ending a header, searched from position from on.
static int HeaderEndFrom(const uint8_t* buffer, uint32_t n, uint32_t from)
{
    if (!buffer || n < 4) return -1;
    for (uint32_t i = from; i + 4 <= n; ++i) {
        ++gHttpBytesScanned;
        if (buffer[i] == '\r' && memcmp(buffer + i, "\r\n\r\n", 4) == 0) return (int)(i + 4);
    }
    return -1;
}

int Http_HeaderEnd(const uint8_t* buffer, uint32_t n) { return HeaderEndFrom(buffer, n, 0); }

int Http_HeaderLength(const uint8_t* buffer, uint32_t n)
{
    const uint32_t statusLength = sizeof kStatusOk - 1;
    if (!buffer || n < 4 || n < statusLength) return -1;
    if (memcmp(buffer, kStatusOk, statusLength) != 0) return -1;
    return Http_HeaderEnd(buffer, n);
}

uint32_t Http_ContentLength(const uint8_t* buffer, uint32_t headerLength)
{
    const uint32_t keyLength = sizeof kContentLength - 1;
    if (!buffer || headerLength < keyLength) return 0;
    for (uint32_t i = 0; i + keyLength <= headerLength; ++i) {
        if (buffer[i] != (uint8_t)kContentLength[0] || memcmp(buffer + i, kContentLength, keyLength) != 0) continue;
        // Up to 63 characters after the key, to the first carriage return
        // and never past the header; their digit characters make the value.
        char text[64];
        uint32_t n = 0;
        for (uint32_t j = i + keyLength; j < headerLength && n < 63 && buffer[j] != '\r'; ++j)
            text[n++] = (char)buffer[j];
        text[n] = 0;
        // A value beyond 32 bits must not wrap into a small, plausible one.
        uint64_t value = 0;
        for (uint32_t k = 0; k < n; ++k) {
            if (text[k] < '0' || text[k] > '9') continue;
            value = value * 10u + (uint64_t)(text[k] - '0');
            if (value > 0xFFFFFFFFu) return 0xFFFFFFFFu;
        }
        return (uint32_t)value;
    }
    return 0;
}

// An answer that can never be consumed: drop the bytes and close the
// socket, so that the disconnect resets the link and the poll reconnects.
static void CloseStalled(TConnection* c, uint32_t s)
{
    c->receive[s].writeIndex = 0;
    if (c->index < CONN_COUNT) gFraming[c->index][s] = TFraming{};
    if (c->socket[s]) c->socket[s]->Close();
}

// The packet of the answer being handled, copied out of its buffer.
static uint8_t gPacketCopy[CONN_RECEIVE_SIZE];

void Conn_ProcessReceived(TConnection* c, uint32_t socketIndex)
{
    if (!c || socketIndex >= 2) return;
    TRingDesc* rb = &c->receive[socketIndex];
    if (!rb->data || rb->writeIndex == 0) return;
    if (rb->writeIndex > rb->size) rb->writeIndex = rb->size;
    uint32_t fill = rb->writeIndex;
    TFraming* f = c->index < CONN_COUNT ? &gFraming[c->index][socketIndex] : nullptr;
    TFraming local{};
    if (!f) f = &local;
    if (f->scanned > fill) *f = TFraming{}; // the buffer was emptied behind our back
    if (fill != f->heardFill) {
        f->heardFill = fill;
        f->heardAt = Stopwatch_Now();
    }

    if (f->header == 0) {
        int h = HeaderEndFrom(rb->data, fill, f->scanned);
        if (h < 0) {
            // The last three bytes may begin the blank line.
            f->scanned = fill > 3 ? fill - 3 : 0;
            if (fill >= rb->size) CloseStalled(c, socketIndex); // full, still no header
            return;
        }
        f->header = (uint32_t)h;
        f->body = Http_ContentLength(rb->data, f->header);
        f->scanned = f->header;
    }
    uint32_t header = f->header;
    uint32_t body = f->body;
    if (body > rb->size - header) { // the body could never fit
        CloseStalled(c, socketIndex);
        return;
    }
    if (fill - header < body) return; // body incomplete
    c->busy[socketIndex] = 0;
    // The rest of an answer to a link that has ended is dropped whole.
    const bool discard = f->discard != 0;
    const uint32_t heardAt = f->heardAt;
    *f = TFraming{};
    f->heardAt = heardAt;
    if (c->index < CONN_COUNT) {
        gReconnect[c->index][socketIndex].failures = 0;
        gReconnect[c->index][socketIndex].answered = 1;
    }
    // The answer leaves the buffer before its packet is acted on: a module
    // may show a message box, whose message loop lets more bytes arrive
    // behind the ones still held.
    const uint32_t statusLength = sizeof kStatusOk - 1;
    bool carriesPacket = !discard && header >= statusLength && memcmp(rb->data, kStatusOk, statusLength) == 0 &&
                         body >= ULCM_HEADER_SIZE;
    if (carriesPacket) memcpy(gPacketCopy, rb->data + header, body);
    uint32_t consumed = header + body;
    uint32_t rest = fill - consumed;
    if (rest > 0) memmove(rb->data, rb->data + consumed, rest);
    rb->writeIndex = rest;
    f->heardFill = rest;

    // Only a 200 answer carries a packet; any other answer is skipped
    // with its body, and so is a body too short for a packet header.
    if (carriesPacket) Ulcm_ParsePacket(gPacketCopy, body);
}

void Conn_OnConnected(uint32_t connectionIndex, uint32_t socketIndex)
{
    if (connectionIndex >= CONN_COUNT || socketIndex >= 2) return;
    // The buffer sizes go on the socket once it is up: before that it has
    // no handle. Results are not examined.
    if (TCustomWinSocket* ws = WinSocketOf(&gConnections[connectionIndex], socketIndex)) {
        intptr_t handle = ws->SocketHandle();
        if (handle != -1) {
            Win_SetSocketOption((SOCKET)handle, WIN_SO_RCVBUF, CONN_SOCKET_RCVBUF);
            Win_SetSocketOption((SOCKET)handle, WIN_SO_SNDBUF, CONN_SOCKET_SNDBUF);
        }
    }
    gReconnect[connectionIndex][socketIndex].connected = 1;
    gFraming[connectionIndex][socketIndex].heardAt = Stopwatch_Now();
    Conn_ShowLinkState(&gConnections[connectionIndex]);
}

void Conn_OnDisconnected(uint32_t connectionIndex, uint32_t socketIndex)
{
    if (connectionIndex >= CONN_COUNT || socketIndex >= 2) return;
    TConnection* c = &gConnections[connectionIndex];
    // A connection that ended without one answer counts towards waiting
    // longer before the next connect.
    TReconnect& r = gReconnect[connectionIndex][socketIndex];
    if (!r.answered && r.failures < 0xFFFF) ++r.failures;
    r.answered = 0;
    const bool wasConnected = r.connected != 0;
    r.connected = 0;
    // What the socket held went with it.
    c->busy[socketIndex] = 0;
    Conn_ResetReceiveBuffer(c, socketIndex);
    if (wasConnected) {
        // A socket already down stays marked for reconnection: when both
        // drop, the second reset must not leave the first one idle for good.
        uint32_t wasDown[2] = {c->socketState[0] == SOCK_DOWN, c->socketState[1] == SOCK_DOWN};
        Conn_Reset(c);
        for (uint32_t s = 0; s < 2; ++s)
            if (wasDown[s]) c->socketState[s] = SOCK_DOWN;
    }
    // A connect that failed carried nothing of the link: the link on the
    // other socket goes on, and this one is tried again.
    c->socketState[socketIndex] = SOCK_DOWN;
    Conn_ShowLinkState(c);
}

int Conn_LinkUp(const TConnection* c)
{
    if (!c || c->index >= CONN_COUNT) return 0;
    if (c->linkState != LINK_LOGGED_IN || c->session == 0 || !c->active || !Conn_SocketConnected(c, 0)) return 0;
    // A recorder that has sent nothing for a while on every socket waiting
    // for it has stopped answering, whatever the sockets say.
    const uint32_t now = Stopwatch_Now();
    for (uint32_t s = 0; s < 2; ++s) {
        if (!Conn_SocketConnected(c, s)) continue;
        if (c->busy[s] != 1) return 1;
        const uint32_t heard = gFraming[c->index][s].heardAt;
        const uint32_t since = now - c->sendTime[s] < now - heard ? now - c->sendTime[s] : now - heard;
        if (since < CONN_SILENCE) return 1;
    }
    return 0;
}

void Conn_ShowLinkState(const TConnection* c)
{
    if (!c || c->index != 0) return;
    const int up = Conn_LinkUp(c);
    if (up == gLampShown) return;
    gLampShown = up;
    Viewer_ShowLinkIcon((uint32_t)up);
}

void Conn_OnError(uint32_t connectionIndex, uint32_t socketIndex)
{
    if (connectionIndex >= CONN_COUNT || socketIndex >= 2) return;
    TClientSocket* cs = gConnections[connectionIndex].socket[socketIndex];
    if (cs) cs->Close();
}

void Conn_OnWrite(uint32_t connectionIndex) {}
