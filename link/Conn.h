// Connection records and HTTP framing of the recorder link. Owns
// gConnections (two records), the two 16 KB send rings, and the receive
// buffers and frame rings the records point at (allocated once, kept).
#pragma once
#include "link/Ring.h"
#include <cstdint>

class TClientSocket;
struct THandshakeRecord; // handshake module
struct TViewRecord;      // view modes
struct TVidoState;       // frame stream module
struct TTitleState;      // title module
struct TStreamRecord;    // streams

enum {
    CONN_COUNT = 2,
    CONN_SEND_RING_SIZE = 16384,
    CONN_RECEIVE_SIZE = 0x48000,
    CONN_FRAME_RING_SIZE = 0x200000,
    CONN_LENGTH_TABLE = 4096,
    CONN_MAX_MESSAGE = 1280,    // longest module message a packet may carry
    CONN_SOCKET_RCVBUF = 16384, // socket buffer sizes set on every connect
    CONN_SOCKET_SNDBUF = 0x48000,
    CONN_RETRY_FIRST = 5000, // 50 ms: the first wait between failed connects
    CONN_RETRY_MAX = 100000, // 1 s: the longest
    CONN_SILENCE = 500000,   // 5 s without a byte on every waiting socket: the recorder is not answering
};

// Link states.
enum { LINK_IDLE = 0, LINK_LOGIN_SENT = 3, LINK_LOGGED_IN = 4 };
// Socket states.
enum { SOCK_IDLE = 0, SOCK_OPENING = 1, SOCK_DOWN = 2 };

// One slot of the frame reorder queue.
struct TVidoSlot {
    uint32_t sequence;
    uint32_t ringPosition;
    uint32_t length; // 0 = free
    uint32_t kind;
};

// Reorder queue of the frame stream module, held inside each record; the
// frame ring that follows it in TConnection holds the frame bytes.
struct TVidoReorderQueue {
    uint32_t arrivalCount;
    uint32_t arrivalsSinceDelivery;
    uint32_t lastDelivered;
    uint32_t queuedCount;
    uint32_t runningNumber;
    TVidoSlot slots[512];
};

struct TConnection {
    uint32_t index;     // position in gConnections
    uint32_t active;    // machine record arrived or session granted here
    uint32_t session;   // 0 = none
    uint32_t linkState; // LINK_IDLE, LINK_LOGIN_SENT, LINK_LOGGED_IN
    char userKey[32];   // DVR_UK; split in place by Cred_DecodeUserKey
    char credentialsA[32];
    char credentialsB[32];
    uint32_t socketState[2]; // SOCK_IDLE, SOCK_OPENING, SOCK_DOWN
    uint32_t busy[2];        // 1 while a packet awaits its answer
    uint32_t sendTime[2];    // stopwatch reading of the last packet sent
    uint32_t displaysRegistered;
    char host[64];
    uint32_t port;
    TRingDesc* sendRing;  // this record's 16 KB send ring
    TRingDesc receive[2]; // linear: writeIndex = bytes held from data[0]
    TVidoReorderQueue vidoQueue;
    TRingDesc frameRing;                     // 2 MB, frames in sequence order
    uint32_t lengthRead;                     // next length-table entry the send pump takes
    uint32_t lengthWrite;                    // next entry Conn_QueueSend fills
    uint32_t lengthTable[CONN_LENGTH_TABLE]; // entry = index AND 0xFFF
    THandshakeRecord* handshake;
    TViewRecord* view;
    TVidoState* vido;
    void* pbba; // recording-search state
    TTitleState* vdtt;
    void* ictl;               // named-variable link
    TClientSocket* socket[2]; // tag = socket index x 2 + connection index
    TStreamRecord* stream;
};

extern TConnection gConnections[CONN_COUNT];

void Conn_InitAll();
// Every record back to its start-up state: no session, link idle, sockets
// idle, rings, buffers, length tables and reorder queues empty. Storage,
// sockets and module links are kept, and so are display registrations.
void Conn_ResetAll();
// Empties send ring i and its length table; allocates the ring once.
int Conn_ResetSendRing(uint32_t connectionIndex);
void Conn_BindSendRing(TConnection* c);
// Empties the socket's receive buffer; allocates it once.
int Conn_ResetReceiveBuffer(TConnection* c, uint32_t socketIndex);
int Conn_AllocFrameRing(TConnection* c, uint32_t size);
void Conn_Reset(TConnection* c);
// The link's received bytes are forgotten: a connected socket still waiting
// for an answer reads it to its end and drops it, so it is free again once
// the answer is in; every other socket's buffer is emptied.
void Conn_ForgetAnswers(TConnection* c);
// 1 when both socket states are SOCK_DOWN.
int Conn_AllSocketsDown(const TConnection* c);
// Index of the first record holding the session (0 included), -1 if none.
int Conn_FindBySession(uint32_t session);
// Queues one complete module message; -1 when it is dropped (no room, or
// longer than the 1,280 bytes a packet carries).
int Conn_QueueSend(TConnection* c, const uint8_t* message, uint32_t n);
int Conn_OpenSocket(TConnection* c, const char* host, uint32_t port, uint32_t socketIndex);
// Cuts at most one complete answer out of the socket's receive buffer.
void Conn_ProcessReceived(TConnection* c, uint32_t socketIndex);
// 1 when a socket that is down may be connected again now: at once after
// an answer or a first failure, then after waits growing to a second
// while connects keep ending without an answer.
int Conn_ReconnectDue(const TConnection* c, uint32_t socketIndex);
// Bytes the framing has looked at while searching for headers (tests).
extern uint32_t gHttpBytesScanned;
// 1 when the socket exists and reports itself connected.
int Conn_SocketConnected(const TConnection* c, uint32_t socketIndex);

// Length of an answer header up to and including its blank line, whatever
// its status line; -1 while the blank line is not within n bytes.
int Http_HeaderEnd(const uint8_t* buffer, uint32_t n);
// As Http_HeaderEnd, and -1 unless the answer starts "HTTP/1.1 200 OK\r\n".
int Http_HeaderLength(const uint8_t* buffer, uint32_t n);
// "Content-Length: " value within the first headerLength bytes, 0 when
// absent, 0xFFFFFFFF when it does not fit 32 bits.
uint32_t Http_ContentLength(const uint8_t* buffer, uint32_t headerLength);

// Socket event handlers. A connected socket gets its buffer sizes. A socket
// that drops ends the link (Conn_Reset) when it had connected; one whose
// connect failed is only marked for another try.
void Conn_OnConnected(uint32_t connectionIndex, uint32_t socketIndex);
void Conn_OnDisconnected(uint32_t connectionIndex, uint32_t socketIndex);
// 1 while the link works: logged in with a session, the recorder's machine
// record taken, socket 0 connected, and the recorder heard on some socket
// within the last 5 s (or a socket free to ask it).
int Conn_LinkUp(const TConnection* c);
// Connection 0's link lamp (Image_Conn lit, Image_Disconn dark) made to
// show Conn_LinkUp; run on every socket event and every tick.
void Conn_ShowLinkState(const TConnection* c);
void Conn_OnError(uint32_t connectionIndex, uint32_t socketIndex);
void Conn_OnWrite(uint32_t connectionIndex);
