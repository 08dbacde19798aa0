// The link's transport, its send side: the packets the viewer sends (login,
// grant answers, data and polls) and the per-tick send pump with its
// time-outs and handshake restarts. Owns the 16 KB packet buffer, the 16 KB
// payload staging buffer and when each record's handshake started. Its
// comparisons are of the link's and the sockets' state and of what the
// viewer itself queued, never of received bytes.
#include "link/Ulcm.h"
#include "link/Bytes.h"
#include "link/Hooks.h"
#include "link/Tavn.h"
#include "link/Ring.h"
#include "platform/vcl/Vcl.h"
#include <cstring>

static uint8_t gPacket[ULCM_PACKET_SIZE];
static uint8_t gPayload[ULCM_PACKET_SIZE];
// When each record's handshake last started (the grant, or a restart).
static uint32_t gHandshakeStart[CONN_COUNT];
// Per socket: the packet awaiting its answer carried a "TAVN" message.
static uint8_t gHandshakeInFlight[CONN_COUNT][2];
// How long an answer is awaited before its socket is closed.
static uint32_t gBusyTimeout = ULCM_BUSY_TIMEOUT;

void Ulcm_SetBusyTimeout(uint32_t hundredths)
{
    gBusyTimeout = hundredths != 0 ? hundredths : (uint32_t)ULCM_BUSY_TIMEOUT;
}

// True when the payload's module messages include one of "TAVN".
static bool CarriesHandshake(const uint8_t* payload, uint32_t n)
{
    for (uint32_t at = 0; at + 8 <= n;) {
        uint32_t length = GetU32(payload + at);
        if (length < 32 || length > n - at) return false;
        if (memcmp(payload + at + 4, "TAVN", 4) == 0) return true;
        at += length;
    }
    return false;
}

static TCustomWinSocket* WinSocketOf(TConnection* c, uint32_t s)
{
    if (!c->socket[s]) return nullptr;
    return c->socket[s]->Socket();
}

// The send ring and the table of its message lengths, emptied together.
static void EmptySendRing(TConnection* c)
{
    if (c->sendRing) {
        c->sendRing->writeIndex = 0;
        c->sendRing->readIndex = 0;
    }
    c->lengthRead = c->lengthWrite;
}

int Ulcm_SendPacket(uint32_t n, uint32_t type, uint32_t session, uint32_t connectionIndex, uint32_t socketIndex)
{
    if (connectionIndex >= CONN_COUNT || socketIndex >= 2) return -1;
    TConnection* c = &gConnections[connectionIndex];
    if (c->busy[socketIndex] == 1) return -1;
    TCustomWinSocket* ws = WinSocketOf(c, socketIndex);
    if (!ws) return -1;

    if (c->linkState == LINK_IDLE) c->linkState = LINK_LOGIN_SENT;
    TRingDesc* ring = c->sendRing;
    if (type == ULCM_POLL) {
        Session_RequestStream(c);
        n = ring ? Ring_Used(ring->writeIndex, ring->readIndex, ring->size) : 0;
        type = ULCM_DATA_POLL;
    }

    uint32_t payload = 0;
    if (type == ULCM_LOGIN || type == ULCM_GRANT || type == ULCM_NO_PAYLOAD) {
        EmptySendRing(c);
    } else if (n > 0 && ring) {
        payload = Ulcm_TakeSendChunk(c);
        if (payload > ULCM_PACKET_SIZE - ULCM_HEADER_SIZE ||
            (payload > 0 &&
             Ring_Read(ring->data, gPayload, payload, &ring->writeIndex, &ring->readIndex, ring->size) != 0))
            payload = 0;
    }

    TUlcmHeader header;
    memset(&header, 0, sizeof header);
    header.totalLength = ULCM_HEADER_SIZE + payload;
    header.magic = ULCM_MAGIC;
    header.type = type;
    header.session = session;
    Cred_BuildBlock(header.credentials, c->credentialsA, c->credentialsB);
    header.zero = 0;
    header.connection = connectionIndex;
    header.socket = socketIndex;
    header.reserved = 0;
    memcpy(gPacket, &header, sizeof header);
    if (payload > 0) memcpy(gPacket + ULCM_HEADER_SIZE, gPayload, payload);

    c->busy[socketIndex] = 1;
    c->sendTime[socketIndex] = Stopwatch_Now();
    gHandshakeInFlight[connectionIndex][socketIndex] = CarriesHandshake(gPayload, payload) ? 1 : 0;
    ws->SendBuf(gPacket, (int)header.totalLength);
    return 0;
}

uint32_t Ulcm_TakeSendChunk(TConnection* c)
{
    if (!c || !c->sendRing) return 0;
    TRingDesc* ring = c->sendRing;
    uint32_t used = Ring_Used(ring->writeIndex, ring->readIndex, ring->size);
    if (used <= CONN_MAX_MESSAGE) {
        c->lengthRead = c->lengthWrite;
        return used;
    }
    // Whole messages only, as many as fit 1,280 bytes.
    uint32_t total = 0;
    uint32_t i = c->lengthRead;
    for (uint32_t k = 0; k < CONN_LENGTH_TABLE && i != c->lengthWrite; ++k) {
        uint32_t& entry = c->lengthTable[i & (CONN_LENGTH_TABLE - 1)];
        if (total + entry > CONN_MAX_MESSAGE) break;
        if (entry != 0) {
            total += entry;
            entry = 0;
        }
        ++i;
    }
    c->lengthRead = i;
    return total;
}

void Ulcm_PumpSend(TConnection* c)
{
    if (!c || c->index >= CONN_COUNT) return;
    uint32_t ci = c->index;
    uint32_t now = Stopwatch_Now();
    for (uint32_t s = 0; s < 2; ++s) {
        if (c->busy[s] != 1 || now - c->sendTime[s] < gBusyTimeout) continue;
        // A peer that holds the connection open without answering is
        // given up: the disconnect resets the link and the poll reconnects.
        c->busy[s] = 0;
        if (c->socket[s]) c->socket[s]->Close();
    }

    // A login answered with anything but a grant goes out again, a second
    // after the last one.
    if (c->linkState == LINK_LOGIN_SENT && ci == 0 && c->busy[0] == 0 && now - c->sendTime[0] >= ULCM_LOGIN_RETRY)
        c->linkState = LINK_IDLE;
    if (c->linkState == LINK_IDLE && ci == 0 && Conn_SocketConnected(c, 0))
        Ulcm_SendPacket(0, ULCM_LOGIN, c->session, 0, 0);

    // The handshake ends with the recorder's machine record; when that has
    // not come a few seconds after the grant (a lost or unusable answer),
    // the handshake starts over, once the hello sent before has left and
    // no packet carrying a handshake message still awaits its answer: a
    // slow recorder's record is on its way and is taken when it comes.
    bool handshakeAwaited = false;
    for (uint32_t s = 0; s < 2; ++s)
        if (c->busy[s] == 1 && gHandshakeInFlight[ci][s]) handshakeAwaited = true;
    if (c->linkState == LINK_LOGGED_IN && c->session != 0 && c->active == 0 && !handshakeAwaited &&
        now - gHandshakeStart[ci] >= ULCM_HANDSHAKE_RETRY && c->sendRing &&
        Ring_Used(c->sendRing->writeIndex, c->sendRing->readIndex, c->sendRing->size) == 0) {
        gHandshakeStart[ci] = now;
        Handshake_Send(c->session, TAVN_HELLO);
    }

    if (c->linkState != LINK_LOGGED_IN) return;
    TRingDesc* ring = c->sendRing;
    uint32_t used = ring ? Ring_Used(ring->writeIndex, ring->readIndex, ring->size) : 0;
    for (uint32_t s = 0; s < 2; ++s) {
        if (!Conn_SocketConnected(c, s)) continue;
        if (used > 0) {
            Ulcm_SendPacket(used, ULCM_DATA_POLL, c->session, ci, s);
        } else if (Ulcm_SendPacket(0, ULCM_POLL, c->session, ci, s) == 0) {
            break;
        }
    }
}

void Ulcm_HandshakeStarted(uint32_t connectionIndex)
{
    if (connectionIndex < CONN_COUNT) gHandshakeStart[connectionIndex] = Stopwatch_Now();
}
