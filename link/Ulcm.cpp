// The link's transport, its receive side: login, session grant, packet
// parse and the scrambled credential block stamped on every packet (the
// send pump is in UlcmSend.cpp). Owns the grant block.
#include "link/Ulcm.h"
#include "link/Bytes.h"
#include "link/Msg.h"
#include "link/Hooks.h"
#include "link/Tavn.h"
#include "link/Ring.h"
#include "platform/win/Win.h"
#include <cstdio>
#include <cstring>

static TGrantRequest gGrantRequest;

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
    case ULCM_LOGIN: GrantPath(session, ci); break;
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
    default: break;
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
    Ulcm_HandshakeStarted(connectionIndex);
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

int Ulcm_CheckSession(uint32_t session) { return Conn_FindBySession(session); }

int Ulcm_DeliverData(uint32_t session, const uint8_t* payload, uint32_t length)
{
    int ci = Ulcm_CheckSession(session);
    if (ci < 0) return -1;
    Msg_DispatchReceived(session, payload, length);
    return ci;
}

// --- Credential block ------------------------------------------------------

static const char kHexDigits[16][2] = {{'0', 0}, {'1', 0}, {'2', 0}, {'3', 0}, {'4', 0}, {'5', 0}, {'6', 0}, {'7', 0},
                                       {'8', 0}, {'9', 0}, {'A', 0}, {'B', 0}, {'C', 0}, {'D', 0}, {'E', 0}, {'F', 0}};

uint32_t Cred_HexValue(char c)
{
    if (c >= '0' && c <= '9') return (uint32_t)(c - '0');
    if (c >= 'A' && c <= 'F') return (uint32_t)(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return (uint32_t)(c - 'a' + 10);
    return 0;
}

const char* Cred_ShiftDigit(uint32_t a, uint32_t k) { return kHexDigits[(a + k) & 15]; }

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
