// ULCM packets, sessions and the credential block of the recorder link
// (Ulcm.cpp the receive side, UlcmSend.cpp the send side). Owns the packet
// buffer, the payload staging buffer and the grant request block; the
// session and link state live in the TConnection records.
#pragma once
#include "link/Conn.h"
#include <cstdint>

// 64 bytes in front of every packet, either direction (little-endian).
struct TUlcmHeader {
    uint32_t totalLength; // 64 + payload
    uint32_t magic;       // "ULCM"
    uint32_t type;        // ULCM_LOGIN ... ULCM_DATA_POLL
    uint32_t session;     // 0 = none
    char credentials[32]; // TCredentialBlock text, NUL-padded
    uint32_t zero;        // always 0
    uint32_t connection;  // sender's connection index, echoed by the peer
    uint32_t socket;      // sender's socket index
    uint32_t reserved;    // always 0
};
static_assert(sizeof(TUlcmHeader) == 64, "ULCM header is 64 bytes");

enum {
    ULCM_HEADER_SIZE = 64,
    ULCM_MAGIC = 0x4D434C55, // "ULCM" read as a little-endian u32
    ULCM_PACKET_SIZE = 16384,
    ULCM_BUSY_TIMEOUT = 6000000,   // 60 s in stopwatch readings: the socket is closed
    ULCM_LOGIN_RETRY = 100000,     // 1 s between logins that were not granted
    ULCM_HANDSHAKE_RETRY = 300000, // 3 s for the handshake before it starts over
};

// Packet types.
enum {
    ULCM_LOGIN = 0,
    ULCM_GRANT = 1,
    ULCM_POLL = 2, // built as ULCM_DATA_POLL on the wire
    ULCM_DATA = 3,
    ULCM_NO_PAYLOAD = 4,
    ULCM_DATA_POLL = 5,
};

// Request of a session grant; the credentials are always zero.
struct TGrantRequest {
    uint32_t session;
    uint8_t credentials[64];
};

// Builds and sends one packet on a socket; -1 when the socket is busy or
// missing (nothing sent), else 0.
int Ulcm_SendPacket(uint32_t n, uint32_t type, uint32_t session, uint32_t connectionIndex, uint32_t socketIndex);
// Bytes of whole queued messages the next packet carries (at most 1,280
// unless the ring holds no more than that).
uint32_t Ulcm_TakeSendChunk(TConnection* c);
// Per-tick send step: 60 s time-outs, login (again a second after an
// answer that granted nothing), a handshake that did not finish started
// over (never while a handshake message awaits its answer), data and polls.
void Ulcm_PumpSend(TConnection* c);
// The time an answer is awaited before its socket is closed, in stopwatch
// readings; 0 restores the 60 s. For tests that watch a link for longer
// than they can wait.
void Ulcm_SetBusyTimeout(uint32_t hundredths);
// The record's handshake starts now (its grant came): the pump starts it
// over when the machine record has not come within ULCM_HANDSHAKE_RETRY.
void Ulcm_HandshakeStarted(uint32_t connectionIndex);
// Checks and acts on one received packet of length bytes.
void Ulcm_ParsePacket(const uint8_t* packet, uint32_t length);
// 1 when the viewer must log in again with that session, else 0.
int Ulcm_AcceptSession(uint32_t session, uint32_t connectionIndex);
// The new session id, 0 when no record qualifies.
uint32_t Ulcm_GrantSession(const TGrantRequest* block);
uint32_t Ulcm_NewSessionNumber();
// Connection index holding the session, -1 if none.
int Ulcm_CheckSession(uint32_t session);
// Connection index, or -1 when no record holds the session; a held
// session's payload goes to Msg_DispatchReceived.
int Ulcm_DeliverData(uint32_t session, const uint8_t* payload, uint32_t length);

enum { CRED_FIELD = 32 }; // width of a credential string, its NUL included

// Writes "K.A'.B'" into a zeroed 32-byte destination, cut at 31 characters.
void Cred_BuildBlock(char* destination, const char* a, const char* b);
// Splits "K.a.b" in place and writes the unshifted strings into the two
// 32-byte fields (cut at 31 characters); nothing is written without both
// separators or with an empty K.
void Cred_DecodeUserKey(char* userKey, char* a, char* b);
// 0-15 for a hexadecimal digit, 0 for any other character.
uint32_t Cred_HexValue(char c);
// One-character text of the hex digit (a + k) AND 15.
const char* Cred_ShiftDigit(uint32_t a, uint32_t k);
// Appends (hex(c) - hex(kc)) mod 16 in decimal to the NUL-terminated text
// in destination, keeping it within capacity bytes, NUL included.
void Cred_UnshiftDigit(char* destination, uint32_t capacity, char c, char kc);
