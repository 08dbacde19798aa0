// Registry of message modules by four-character code, and the dispatch of
// a received payload to them. Owns gModules, the 32 module slots.
#pragma once
#include <cstdint>

// 32 bytes in front of every module message (little-endian).
struct TModuleHeader {
    uint32_t totalLength; // whole message, this header included (>= 32)
    char code[4];         // "TAVN", "ICMD", "VIDO", "VDTT", "ICTL", "PBBA"
    uint32_t checksum;    // of bytes 32 .. end, Checksum_Message
    uint8_t reserved[20];
};

// 32 bytes after the header; a module defines the words after the session.
struct TModuleSubHeader {
    uint32_t session;
    uint32_t words[7];
};

static_assert(sizeof(TModuleHeader) == 32, "module header is 32 bytes");
static_assert(sizeof(TModuleSubHeader) == 32, "module sub-header is 32 bytes");

enum {
    MSG_MODULE_SLOTS = 32,
    MSG_HEADER_SIZE = 32,
    MSG_FRAME_SIZE = 64, // header and sub-header: a message's body starts here
    MSG_MAX_PER_PAYLOAD = 1000,
};
static_assert(MSG_FRAME_SIZE == sizeof(TModuleHeader) + sizeof(TModuleSubHeader), "the frame is both headers");

// Reads the received message from the module's buffer: sub-header at 0,
// body at 32.
typedef void (*TModuleReceive)();
// Builds and queues a message from the module's request block, whose first
// u32 is the session id.
typedef void (*TModuleSend)(void* request);

struct TModuleSlot {
    uint32_t inUse;
    uint32_t code; // the four code bytes, as stored on the wire
    TModuleReceive receive;
    TModuleSend send;
    uint8_t* buffer;   // the module's message buffer
    uint32_t capacity; // bytes in buffer
    // Bytes from the start of buffer that may be other than 0: what the
    // dispatch copied in, all of it once the module built a message there
    // (Msg_Begin) or before the first clear. A module writes its buffer
    // only through these two.
    uint32_t dirty;
};

// Read-only outside Msg.cpp: only Msg_RegisterModule and Msg_ResetRegistry
// change which slot holds which module (the dispatch remembers the slot it
// last found for a code until they do).
extern TModuleSlot gModules[MSG_MODULE_SLOTS];

// The u32 of a four-character code as it lies in a message header.
uint32_t Msg_Code(const char* code);
// Takes the first free slot; ignored when all 32 are in use.
void Msg_RegisterModule(const char* code, TModuleReceive receive, TModuleSend send, uint8_t* buffer, uint32_t capacity);
// Calls the send function of the first slot with that code, if any.
void Msg_SendViaModule(const char* code, void* request);
// A module's outgoing message, built in its own buffer: Msg_Begin writes
// the frame (header and sub-header), the module its body from
// MSG_FRAME_SIZE on, and Msg_Finish the header's length and checksum.
//
// Starts a message of the module `code` in message (at least 64 bytes):
// the header (its code) and the sub-header (the session, then the module's
// words) in wire order, everything else 0.
void Msg_Begin(uint8_t* message, const char* code, const TModuleSubHeader& sub);
// Ends the message whose body of bodyLength bytes follows the frame: the
// total length and the checksum of all after the header. Returns the total
// length, what is queued.
uint32_t Msg_Finish(uint8_t* message, uint32_t bodyLength);
// Delivers the messages of one payload of a held session.
void Msg_DispatchReceived(uint32_t session, const uint8_t* payload, uint32_t size);
// While a module's receive function runs: how many bytes of the message
// (total length - 32, sub-header and body) were copied into its buffer.
// Bytes of the buffer beyond them are left over from earlier messages.
uint32_t Msg_ReceivedLength();
// Clears every registered module's message buffer (what earlier messages
// left behind); the registrations stay.
void Msg_ClearBuffers();
// Zeroes size bytes at buffer; of a registered module's buffer only what
// may be other than 0 is written.
void Msg_ClearBuffer(uint8_t* buffer, uint32_t size);
// Empties every slot (tests only; the viewer never unregisters).
void Msg_ResetRegistry();
