// The link's transport: login, session grant, send pump and packet parse,
// and the scrambled credential block stamped on every packet. Owns the
// 16 KB packet buffer, the 16 KB payload staging buffer and the grant block.
#include "link/Ulcm.h"
#include "link/Bytes.h"
#include "link/Msg.h"
#include "link/Hooks.h"
#include "link/Tavn.h"
#include "link/Ring.h"
#include "platform/vcl/Vcl.h"
#include "platform/win/Win.h"
#include <cstdio>
#include <cstring>

static uint8_t gPacket[ULCM_PACKET_SIZE];
static uint8_t gPayload[ULCM_PACKET_SIZE];
static TGrantRequest gGrantRequest;
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

// Answers a login, or a packet of a session nobody holds, with a grant.
static void GrantPath(uint32_t session, uint32_t connectionIndex)
{
    gGrantRequest.session = session;
    uint32_t granted = Ulcm_GrantSession(&gGrantRequest);
    Ulcm_SendPacket(0, ULCM_GRANT, granted, connectionIndex, 0);
}

void Ulcm_ParsePacket(const uint8_t* packet, uint32_t length)
{
    if (!packet || length < ULCM_HEADER_SIZE) return;
    uint32_t total = GetU32(packet);
    if (total < ULCM_HEADER_SIZE || total > length) return;
    if (GetU32(packet + 4) != ULCM_MAGIC) return;
    uint32_t ci = GetU32(packet + 52);
    if (ci >= CONN_COUNT) return;
    uint32_t type = GetU32(packet + 8);
    uint32_t session = GetU32(packet + 12);
    const uint8_t* payload = packet + ULCM_HEADER_SIZE;
    uint32_t payloadLength = total - ULCM_HEADER_SIZE;

    switch (type) {
    case ULCM_LOGIN:
        GrantPath(session, ci);
        break;
    case ULCM_GRANT:
        if (Ulcm_AcceptSession(session, ci) == 1) Ulcm_SendPacket(0, ULCM_LOGIN, session, ci, 0);
        break;
    case ULCM_POLL:
        if (Ulcm_CheckSession(session) < 0) GrantPath(0, ci);
        break;
    case ULCM_DATA:
        if (Ulcm_DeliverData(session, payload, payloadLength) < 0) GrantPath(0, ci);
        break;
    case ULCM_DATA_POLL: {
        // Whether the session was held is decided before its payload runs:
        // a payload that ends the session itself (the recorder's close)
        // leaves a link that logs in afresh, not a stranger to be granted.
        bool held = Ulcm_CheckSession(session) >= 0;
        Ulcm_DeliverData(session, payload, payloadLength);
        if (!held) GrantPath(0, ci);
        break;
    }
    default:
        break;
    }
}

int Ulcm_AcceptSession(uint32_t session, uint32_t connectionIndex)
{
    if (connectionIndex >= CONN_COUNT) return 0;
    bool held = Conn_FindBySession(session) >= 0;
    TConnection* c = &gConnections[connectionIndex];
    c->session = session;
    if (held && session != 0) {
        c->active = 0;
        c->linkState = LINK_IDLE;
        return 1;
    }
    c->linkState = LINK_LOGGED_IN;
    c->active = 0;
    Win_Milestone(MILESTONE_LOGIN_GRANTED);
    gHandshakeStart[connectionIndex] = Stopwatch_Now();
    if (session != 0) Handshake_Start(session);
    return 0;
}

uint32_t Ulcm_GrantSession(const TGrantRequest* block)
{
    if (!block) return 0;
    uint32_t granted = Ulcm_NewSessionNumber();
    uint32_t wanted = block->session;
    TConnection* c = nullptr;
    for (uint32_t i = 0; i < CONN_COUNT && !c; ++i) {
        if (wanted != 0 ? gConnections[i].session == wanted : gConnections[i].active == 0) c = &gConnections[i];
    }
    if (!c) return 0;
    c->active = 1;
    c->session = granted;
    Handshake_ClearClientKind(c);
    Vido_ResetForGrant(c);
    memcpy(c->credentialsA, block->credentials, CRED_FIELD);
    memcpy(c->credentialsB, block->credentials + CRED_FIELD, CRED_FIELD);
    c->credentialsA[CRED_FIELD - 1] = 0;
    c->credentialsB[CRED_FIELD - 1] = 0;
    Conn_BindSendRing(c);
    Conn_ForgetAnswers(c);
    return granted;
}

uint32_t Ulcm_NewSessionNumber()
{
    uint32_t base = (uint32_t)Win_TimeNow();
    for (uint32_t i = 0;; ++i) {
        uint32_t candidate = base + i;
        if (i == 999 || Conn_FindBySession(candidate) < 0) return candidate;
    }
}

int Ulcm_CheckSession(uint32_t session)
{
    return Conn_FindBySession(session);
}

int Ulcm_DeliverData(uint32_t session, const uint8_t* payload, uint32_t length)
{
    int ci = Ulcm_CheckSession(session);
    if (ci < 0) return -1;
    Msg_DispatchReceived(session, payload, length);
    return ci;
}

// --- Credential block ------------------------------------------------------

static const char kHexDigits[16][2] = {{'0', 0}, {'1', 0}, {'2', 0}, {'3', 0}, {'4', 0}, {'5', 0},
                                       {'6', 0}, {'7', 0}, {'8', 0}, {'9', 0}, {'A', 0}, {'B', 0},
                                       {'C', 0}, {'D', 0}, {'E', 0}, {'F', 0}};

uint32_t Cred_HexValue(char c)
{
    if (c >= '0' && c <= '9') return (uint32_t)(c - '0');
    if (c >= 'A' && c <= 'F') return (uint32_t)(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return (uint32_t)(c - 'a' + 10);
    return 0;
}

const char* Cred_ShiftDigit(uint32_t a, uint32_t k)
{
    return kHexDigits[(a + k) & 15];
}

// Appends text to the NUL-terminated destination, keeping within capacity
// bytes (NUL included); what does not fit is cut off.
static void AppendCut(char* destination, uint32_t capacity, const char* text)
{
    if (!destination || capacity == 0) return;
    size_t length = strnlen(destination, capacity - 1);
    while (*text && length + 1 < capacity) destination[length++] = *text++;
    destination[length] = 0;
}

void Cred_UnshiftDigit(char* destination, uint32_t capacity, char c, char kc)
{
    uint32_t hc = Cred_HexValue(c);
    uint32_t hk = Cred_HexValue(kc);
    uint32_t digit = hc >= hk ? hc - hk : hc + 16 - hk;
    char text[4];
    snprintf(text, sizeof text, "%d", (int)digit);
    AppendCut(destination, capacity, text);
}

// Shifts each character of source under the key, walking the key from its
// end backwards and round again; p carries on between the two strings.
static void ShiftString(char* destination, const char* source, const char* key, int keyLength, int* p)
{
    for (; *source && strlen(destination) < CRED_FIELD - 1; ++source) {
        AppendCut(destination, CRED_FIELD, Cred_ShiftDigit(Cred_HexValue(*source), Cred_HexValue(key[*p])));
        if (--*p < 0) *p = keyLength - 1;
    }
}

void Cred_BuildBlock(char* destination, const char* a, const char* b)
{
    if (!destination) return;
    char key[24];
    snprintf(key, sizeof key, "%X", (unsigned)(uint32_t)Win_TimeNow());
    int keyLength = (int)strlen(key);
    destination[0] = 0;
    AppendCut(destination, CRED_FIELD, key);
    AppendCut(destination, CRED_FIELD, ".");
    int p = keyLength - 1;
    if (a) ShiftString(destination, a, key, keyLength, &p);
    AppendCut(destination, CRED_FIELD, ".");
    if (b) ShiftString(destination, b, key, keyLength, &p);
}

void Cred_DecodeUserKey(char* userKey, char* a, char* b)
{
    if (!userKey) return;
    char* first = strchr(userKey, '.');
    if (!first || first == userKey) return;
    char* second = strchr(first + 1, '.');
    if (!second) return;
    *first = 0;
    *second = 0;
    const char* key = userKey;
    int keyLength = (int)(first - userKey);

    char resultA[CRED_FIELD] = {0};
    char resultB[CRED_FIELD] = {0};
    int p = keyLength - 1;
    for (const char* x = first + 1; *x; ++x) {
        Cred_UnshiftDigit(resultA, CRED_FIELD, *x, key[p]);
        if (--p < 0) p = keyLength - 1;
    }
    for (const char* x = second + 1; *x; ++x) {
        Cred_UnshiftDigit(resultB, CRED_FIELD, *x, key[p]);
        if (--p < 0) p = keyLength - 1;
    }
    if (a) memcpy(a, resultA, CRED_FIELD);
    if (b) memcpy(b, resultB, CRED_FIELD);
}
