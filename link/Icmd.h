// The command and setup module "ICMD": the live, playback and backup
// request blocks, local-file playback and the five setup items, each
// message carrying the view mode and the connection's sequence number.
// Owns the view records, the 2,048-byte module buffer, the op, type and
// setup-item tables and the request block.
#pragma once
#include "link/Conn.h"
#include <cstdint>

// The view record and the setup-item rows (link/ViewRecord.h); the module
// reads and fills them in Icmd.cpp only.
struct TViewRecord;
struct TSetupItem;

// Ops (sub-header word 1).
enum { ICMD_REQUEST = 1, ICMD_DATA = 2, ICMD_ANSWER = 4 };
// Types (sub-header word 2).
enum {
    ICMD_LIVE = 256,
    ICMD_PLAYBACK = 512,
    ICMD_BACKUP = 1024,
    ICMD_LOCAL_PLAYBACK = 2048,
    ICMD_SETUP = 4096,
};

enum {
    ICMD_BUFFER_SIZE = 2048,
    ICMD_BLOCK_SIZE = 64,
    SETUP_HEADER_SIZE = 72,
    ICMD_TYPES = 5,
    ICMD_SETUP_ITEMS = 5, // rows of gSetupItems
};

// In front of the item in a type-4096 body (little-endian).
struct TSetupHeader {
    uint32_t mask;      // SETUP_* bit of the item
    uint32_t totalSize; // 72 + item size
    uint32_t itemSum;   // Checksum_Bytes of the item, 0 when it is empty
    uint8_t zero[60];
};
static_assert(sizeof(TSetupHeader) == SETUP_HEADER_SIZE, "setup header is 72 bytes");

// The module's request block.
struct TIcmdRequest {
    uint32_t session;
    uint32_t mask; // setup item, type 4096 only
    uint32_t op;
    uint32_t type;
};

// A received message as the op handlers see it.
struct TIcmdMessage {
    uint32_t session;
    uint32_t op;
    uint32_t type;
    uint32_t modeWord;
    const uint8_t* body;
    uint32_t bodyLength; // bytes of the body that arrived
};

// Writes a body for the view record; returns its length.
typedef uint32_t (*TIcmdBuild)(uint8_t* body, TViewRecord* view, uint32_t mask);
// Applies a received body of length bytes; returns the parse result.
typedef uint32_t (*TIcmdParse)(const uint8_t* body, uint32_t length, TViewRecord* view, uint32_t op, uint32_t modeWord);

struct TIcmdTypeEntry {
    uint32_t used;
    uint32_t type;
    uint32_t buildOps;   // ops whose messages carry a body, as op bits
    uint32_t relayFlags; // the op and type bits that are passed on
    uint32_t relayKinds; // bit (1 << client kind) of the kinds passed on to
    TIcmdBuild build;
    TIcmdParse parse;
};

struct TIcmdOpEntry {
    uint32_t op;
    void (*handler)(const TIcmdMessage* message);
};

extern TSetupItem gSetupItems[ICMD_SETUP_ITEMS];

// Registers "ICMD", fills the tables, links the view records with the
// connection records and gives both their start values.
int Icmd_Init();
// The view records back to their start values (Live, sequence 0, the
// default blocks and items) and the module buffer cleared; the registration
// and the tables stay.
void Icmd_ResetViews();
// Sends one command: op 1 asks for the recorder's copy, 2 pushes the
// viewer's, 4 answers; mask names the setup item of type 4096.
void Icmd_Send(uint32_t session, uint32_t op, uint32_t type, uint32_t mask);
void Icmd_Transmit(void* request);
void Icmd_Receive();
void Icmd_OnRequest(const TIcmdMessage* message);
void Icmd_OnData(const TIcmdMessage* message);
// Passes data from one connection on to the others (and, for setup
// items, back to itself) as op-4 answers.
void Icmd_Relay(uint32_t source, uint32_t type, uint32_t result);

uint32_t Icmd_BuildSetup(uint8_t* body, TViewRecord* view, uint32_t mask);
// Checks and applies a setup item; returns its mask, 0 when it was ignored.
// An applied item (its dirty bit set) is confirmed with "Setup
// Successful." only by an answer in the session its set was sent in; an
// answer of another session is taken as the recorder's values.
uint32_t Icmd_ParseSetup(const uint8_t* body, uint32_t length, TViewRecord* view, uint32_t op, uint32_t modeWord);
// The applied items the recorder can no longer confirm: their set went out
// in a session that has ended (or never left), or another session's answer
// came for them. Their dirty bits are cleared; the mask is returned.
uint32_t Icmd_TakeUnconfirmedSets(TViewRecord* view);
uint32_t Icmd_ParseLive(const uint8_t* body, uint32_t length, TViewRecord* view, uint32_t op, uint32_t modeWord);
uint32_t Icmd_ParsePlayback(const uint8_t* body, uint32_t length, TViewRecord* view, uint32_t op, uint32_t modeWord);
uint32_t Icmd_ParseBackup(const uint8_t* body, uint32_t length, TViewRecord* view, uint32_t op, uint32_t modeWord);
