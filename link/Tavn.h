// The handshake module "TAVN": hello, admission, client info, the
// recorder's machine record and its close. Owns gHandshakeRecords (one per
// connection record), the 4,096-byte module buffer, the code table, the
// request block, the shared 960-byte machine-type buffer and the setup
// acknowledgement word.
#pragma once
#include "link/Conn.h"
#include <cstddef>
#include <cstdint>

enum {
    TAVN_BUFFER_SIZE = 4096,
    TAVN_RECORD_SIZE = 256,  // hello answer and machine record
    MACHINE_TYPE_SIZE = 960, // the machine-type named variable
};

// Message codes (sub-header word 1).
enum { TAVN_HELLO = 0, TAVN_CLIENT_INFO = 1, TAVN_CLOSE = 2 };

// The recorder's answer to the hello: the kind of client it takes the
// viewer for (1 and 2 are told apart), then bytes the viewer does not read.
struct THelloAnswer {
    uint32_t clientKind;
    uint8_t rest[252];
};

// The recorder's description of itself (256 bytes, little-endian).
struct TMachineRecord {
    uint32_t channelCount;  // as the recorder sent it: read through Handshake_ChannelCount
    uint32_t variant;       // model variant flag
    uint32_t titleFlag;     // the Title tab shows when not 0
    char text[4][32];       // Label_System1..4; the last byte of each forced to 0
    uint32_t frameRateFlag; // not 0: 25 frames per second, else 30
    uint32_t word36;
    uint32_t socketCount; // sockets the recorder accepts; above 1 socket 1 opens
    uint8_t reserved1[72];
    uint32_t audioWord;          // 2: no audio
    uint32_t mailIntervalHidden; // 1: the mail-interval controls are hidden
    uint8_t reserved2[24];
};

static_assert(sizeof(THelloAnswer) == TAVN_RECORD_SIZE, "hello answer is 256 bytes");
static_assert(sizeof(TMachineRecord) == TAVN_RECORD_SIZE, "machine record is 256 bytes");
static_assert(offsetof(TMachineRecord, text) == 12, "texts at 12");
static_assert(offsetof(TMachineRecord, frameRateFlag) == 140, "frame-rate flag at 140");
static_assert(offsetof(TMachineRecord, socketCount) == 148, "socket count at 148");
static_assert(offsetof(TMachineRecord, audioWord) == 224, "audio word at 224");
static_assert(offsetof(TMachineRecord, mailIntervalHidden) == 228, "interval flag at 228");

struct THandshakeRecord {
    THelloAnswer helloAnswer;
    TMachineRecord machine;
    TConnection* connection;
};

// The module's request block.
struct THandshakeRequest {
    uint32_t session;
    uint32_t code;
};

// A received message as the code's receive function sees it.
struct THandshakeMessage {
    uint32_t session;
    uint32_t code;
    const uint8_t* body; // module buffer + 32
    uint32_t bodyLength; // bytes of the body that arrived
    THandshakeRecord* record;
};

// One row of the code table.
struct THandshakeEntry {
    uint32_t flags; // 1: has a receive function, 2: has a build function
    uint32_t code;
    void (*receive)(const THandshakeMessage* message);
    uint32_t (*build)(uint32_t session, uint32_t code, uint8_t* body, THandshakeRecord* record);
};

extern THandshakeRecord gHandshakeRecords[CONN_COUNT];
// Shared by Tavn_Mach_Type_Data_W and Tavn_Mach_Type_Data_R.
extern uint8_t gMachineTypeData[MACHINE_TYPE_SIZE];
// Tavn_ACK_R: 1 when the recorder confirms a setup.
extern uint32_t gSetupAck;

// Registers "TAVN", fills the code table, links the handshake records with
// the connection records both ways.
int Handshake_Init();
// The records' hello answers and machine records, the machine-type buffer,
// the setup acknowledgement and the module buffer back to start-up (zero);
// the registration and the links stay.
void Handshake_Reset();
// Queues a "TAVN" message of the code for the session.
void Handshake_Send(uint32_t session, uint32_t code);
// A session granted: its handshake begins with the hello, and the session
// takes one machine record.
void Handshake_Start(uint32_t session);
void Handshake_Transmit(void* request);
void Handshake_Receive();
// 1 when the connection is admitted with that client kind, else 0.
int Handshake_Admit(uint32_t connectionIndex, uint32_t clientKind);
// The record's client kind (0 without a handshake record).
uint32_t Handshake_ClientKind(const TConnection* c);
// On a session grant: the record's client kind := 0.
void Handshake_ClearClientKind(TConnection* c);

void Handshake_OnHello(const THandshakeMessage* message);
// Applies the recorder's machine record once per session; another record
// for a session already set up is ignored.
void Handshake_OnMachineRecord(const THandshakeMessage* message);
void Handshake_OnClose(const THandshakeMessage* message);
uint32_t Handshake_BuildHello(uint32_t session, uint32_t code, uint8_t* body, THandshakeRecord* record);
uint32_t Handshake_BuildClientInfo(uint32_t session, uint32_t code, uint8_t* body, THandshakeRecord* record);

// The named-variable handlers: Tavn_Mach_Type_Data_R shows the UPnP tab
// when the recorder supports it, Tavn_ACK_R confirms a setup, and
// Tavn_Mach_Type_Data_W does nothing.
void Handshake_ShowUpnpTab(uint32_t session);
void Handshake_HideUpnpTab();
void Handshake_ShowSetupSuccess(uint32_t session);
void NoopCallback(uint32_t session);

// The channel count the viewer works with: the smallest of 4, 8 and 16
// that holds the recorder's count, 16 at most.
uint32_t Handshake_ChannelCount(uint32_t recorderCount);
