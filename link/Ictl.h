// The named-shared-variable module "ICTL": byte buffers registered under
// text names, sent to the recorder by name and overwritten by the
// recorder's values. Owns gNamedVariables (40 slots), the 65,536-byte
// module buffer, the sub-type codec table, the request block and one
// ICTL link per connection record.
#pragma once
#include "link/Conn.h"
#include <cstdint>

enum {
    ICTL_VARIABLES = 40,
    ICTL_NAME_SIZE = 128, // 127 characters and the NUL
    ICTL_BUFFER_SIZE = 65536,
    ICTL_VALUE_HEADER = 256, // u32 size + 256, then the name field
    ICTL_NAME_FIELD = 252,   // name field of the value header
    ICTL_MAX_VALUE = 960,    // 64 + 256 + 960 = 1,280, the largest message sent
};

// Sub-types of an ICTL message.
enum { ICTL_VARIABLE = 0, ICTL_EXTENDED = 1 };

// Runs with the session id of the message that stored the value.
typedef void (*TVariableHandler)(uint32_t session);

struct TNamedVariable {
    uint32_t inUse;
    char name[ICTL_NAME_SIZE]; // NUL-terminated
    uint32_t size;             // a received value must have exactly this size
    uint8_t* data;             // the registering module's static buffer
    TVariableHandler handler;  // may be null
};

// The module's request block.
struct TIctlRequest {
    uint32_t session;
    char name[ICTL_NAME_SIZE];
    const uint8_t* data;
    uint32_t subType;
    uint32_t handlerFlag; // 1: the recorder runs its handler after storing
    uint32_t extra;       // sub-type 1 only
    uint32_t size;
};

// Per-connection state of the module: only the way back to the record.
struct TIctlLink {
    TConnection* connection;
};

extern TNamedVariable gNamedVariables[ICTL_VARIABLES];

// Registers "ICTL", installs the codecs, links the connection records and
// clears every variable slot.
int Ictl_Init();
// The seven Tavn_ variables of the handshake, the UPnP page and the
// backup watermark.
int Ictl_RegisterTavnVariables();
// Takes the first free slot; a null name or a full table is ignored, a
// name longer than 127 characters is cut.
void Ictl_RegisterVariable(const char* name, void* data, uint32_t size, TVariableHandler handler);
// Sends a variable by name (sub-type 0). A value above 960 bytes is never
// sent.
void Ictl_SendVariable(uint32_t session, const char* name, const void* data, uint32_t size, uint32_t handlerFlag);
void Ictl_Send(uint32_t session, const char* name, const void* data, uint32_t subType, uint32_t handlerFlag,
               uint32_t extra, uint32_t size);
// Builds and queues one message from the request block.
void Ictl_Transmit(void* request);
// Reads the received message from the module buffer.
void Ictl_Receive();
// Stores a received value in the slot of that name when the size is the
// registered one, then runs the handler when the flag is 1.
void Ictl_ApplyVariable(const char* name, const uint8_t* data, uint32_t size, uint32_t handlerFlag, uint32_t session);
