// The recording-search module "PBBA": asks the recorder which periods of a
// time window hold recordings of a channel (the 42 days of the month grid,
// the 48 half hours of the chosen day), echoes the recorder's first answer
// back and fills the calendar's day and slot flags from its reply. Owns
// gPbbaStates (one per connection record), the module's one message buffer
// (both directions), the period table, the op table, the request record and
// the last query sent per connection and period index.
#pragma once
#include "link/Conn.h"
#include <cstdint>

struct TStreamRecord;

enum {
    PBBA_INDEX_COUNT = 8,  // period indexes 0 .. 7
    PBBA_MONTH_INDEX = 4,  // days: the month grid
    PBBA_DAY_INDEX = 7,    // half hours: the day bar
    PBBA_RECORD_SIZE = 72, // query and echo records; the reply's entries start here
    PBBA_MONTH_ENTRIES = 42,
    PBBA_DAY_ENTRIES = 48,
    PBBA_QUERY_MESSAGE = 136, // header, sub-header and one record
    PBBA_BUFFER_SIZE = 4096,  // sub-header and body of one received message
    PBBA_ANSWER_MIN = 8,      // the op-0 answer's two words
};

// Ops (sub-header word 2).
enum { PBBA_OP_QUERY = 0, PBBA_OP_REPLY = 1 };

// Seconds per period and the half-window as a multiple of it.
struct TPbbaPeriod {
    uint32_t seconds;
    uint32_t multiplier;
};
extern const TPbbaPeriod gPbbaPeriods[PBBA_INDEX_COUNT];

struct TPbbaState {
    uint8_t query[PBBA_INDEX_COUNT][PBBA_RECORD_SIZE]; // window start and end, then zeros
    uint8_t echo[PBBA_INDEX_COUNT][PBBA_RECORD_SIZE];  // the recorder's two words, 72, zeros
    TConnection* connection;                           // back pointer
};
extern TPbbaState gPbbaStates[CONN_COUNT];

// What Pbba_SendRequest hands to the registry.
struct TPbbaRequest {
    uint32_t session;
    uint32_t index;
    uint32_t op;
    uint32_t channel;
};

// What the op table's receive routines get.
struct TPbbaReceived {
    uint32_t session;
    uint32_t index;
    uint32_t channel;
    const uint8_t* body; // sub-header + 32
    uint32_t bodyLength; // bytes of the body the message brought
    TPbbaState* state;
};

struct TPbbaOp {
    uint32_t op;
    void (*receive)(const TPbbaReceived* message);
    uint32_t (*build)(TPbbaState* state, uint32_t index, uint8_t* body);
};

// Start-up: registers "PBBA", links both connections with their states.
int Pbba_Init();
void Pbba_SendRequest(uint32_t session, uint32_t index, uint32_t op, uint32_t channel);
// The query window around time for the index, then the request.
void Pbba_RequestPeriod(uint32_t session, uint32_t index, uint32_t op, uint32_t channel, uint32_t time);
// Queries the month and the day of the calendar for the channel when they,
// the channel or the link's session differ from the last query of each.
void Pbba_RequestIfChanged(TStreamRecord* stream, uint32_t channel);
// Every 300 ms: in Playback and Backup, the calendar's queries for the
// channel played back (or copied) on connection 0.
void Calendar_TimerStep();
void Pbba_Receive();
void Pbba_Transmit(void* request);
void Pbba_OnQueryAnswer(const TPbbaReceived* message);
void Pbba_OnReply(const TPbbaReceived* message);
uint32_t Pbba_BuildQuery(TPbbaState* state, uint32_t index, uint8_t* body);
uint32_t Pbba_BuildEcho(TPbbaState* state, uint32_t index, uint8_t* body);

// The query window of a period index around time: start and end, as the
// recorder receives them (unsigned arithmetic). -1 for an index of 8 or more.
int Pbba_Window(uint32_t index, uint32_t time, uint32_t* start, uint32_t* end);
// Entries a reply of the index carries: 42 (index 4), 48 (index 7), else 0.
uint32_t Pbba_EntryCount(uint32_t index);
// Takes a reply body apart: 0 and one flag per entry (1 recordings, 0 none)
// into flags[0 .. Pbba_EntryCount(index) - 1], or -1 (flags untouched) when
// the index carries no entries, the body is shorter than 72 + 2 x entries
// bytes, its length word is shorter than that or lies beyond bodyLength, or
// its checksum (bytes 72 .. length - 1) differs. A plain function of the
// bytes alone.
int Pbba_ParseReply(const uint8_t* body, uint32_t bodyLength, uint32_t index, int32_t* flags);
// Forgets the last queries, so the next timer step asks again (tests and a
// new link).
void Pbba_ForgetQueries();
// Back to the start-up state: no query or echo records, no last queries,
// the message buffer and the request record cleared (the registration and
// the connections' links stay).
void Pbba_Reset();
