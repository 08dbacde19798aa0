// The module registry and payload dispatch. Owns gModules: 32 slots of
// {code, receive function, send function, message buffer}, filled once at
// start-up in registration order.
#include "link/Msg.h"
#include "link/Bytes.h"
#include "link/Conn.h"
#include "link/Ring.h"
#include <cstring>

TModuleSlot gModules[MSG_MODULE_SLOTS];
static uint32_t gReceivedLength; // of the message being delivered

// The header and the sub-header as they lie on the wire.
static void PutHeader(uint8_t* p, const TModuleHeader& h)
{
    PutU32(p + 0, h.totalLength);
    memcpy(p + 4, h.code, sizeof h.code);
    PutU32(p + 8, h.checksum);
    memcpy(p + 12, h.reserved, sizeof h.reserved);
}

static void PutSubHeader(uint8_t* p, const TModuleSubHeader& s)
{
    PutU32(p, s.session);
    for (uint32_t i = 0; i < sizeof s.words / sizeof s.words[0]; ++i) PutU32(p + 4 + 4 * i, s.words[i]);
}

void Msg_Begin(uint8_t* message, const char* code, const TModuleSubHeader& sub)
{
    // A module builds its messages in its own buffer: what the builder
    // writes after the frame is not known here. (Module buffers are apart
    // or one and the same.)
    const uintptr_t at = (uintptr_t)message;
    for (TModuleSlot& slot : gModules)
        if (slot.inUse == 1 && slot.buffer && at - (uintptr_t)slot.buffer < slot.capacity) slot.dirty = slot.capacity;
    TModuleHeader header = {};
    header.totalLength = MSG_FRAME_SIZE; // until the body is known
    for (int i = 0; i < 4 && code && code[i]; ++i) header.code[i] = code[i];
    PutHeader(message, header);
    PutSubHeader(message + MSG_HEADER_SIZE, sub);
}

uint32_t Msg_Finish(uint8_t* message, uint32_t bodyLength)
{
    TModuleHeader header = {};
    header.totalLength = MSG_FRAME_SIZE + bodyLength;
    memcpy(header.code, message + 4, sizeof header.code);
    header.checksum = Checksum_Message(message + MSG_HEADER_SIZE, header.totalLength - MSG_HEADER_SIZE);
    PutHeader(message, header);
    return header.totalLength;
}

uint32_t Msg_Code(const char* code)
{
    if (!code) return 0;
    uint8_t bytes[4] = {0, 0, 0, 0};
    for (int i = 0; i < 4 && code[i]; ++i) bytes[i] = (uint8_t)code[i];
    return GetU32(bytes);
}

// Registrations and resets so far: the slot last found for a code stays
// the first of that code until the registry changes.
static uint32_t gRegistryChanges;
static struct {
    uint32_t code, changes;
    TModuleSlot* slot;
} gLastFound;

static TModuleSlot* FindSlot(uint32_t code)
{
    if (gLastFound.slot && gLastFound.code == code && gLastFound.changes == gRegistryChanges) return gLastFound.slot;
    // The code first: most slots a message passes hold another module.
    for (uint32_t i = 0; i < MSG_MODULE_SLOTS; ++i) {
        if (gModules[i].code == code && gModules[i].inUse == 1) {
            gLastFound = {code, gRegistryChanges, &gModules[i]};
            return &gModules[i];
        }
    }
    return nullptr;
}

void Msg_RegisterModule(const char* code, TModuleReceive receive, TModuleSend send, uint8_t* buffer, uint32_t capacity)
{
    gRegistryChanges++;
    for (uint32_t i = 0; i < MSG_MODULE_SLOTS; ++i) {
        TModuleSlot* slot = &gModules[i];
        if (slot->inUse) continue;
        slot->inUse = 1;
        slot->code = Msg_Code(code);
        slot->receive = receive;
        slot->send = send;
        slot->buffer = buffer;
        slot->capacity = buffer ? capacity : 0;
        slot->dirty = slot->capacity;
        return;
    }
}

void Msg_SendViaModule(const char* code, void* request)
{
    TModuleSlot* slot = FindSlot(Msg_Code(code));
    if (slot && slot->send) slot->send(request);
}

void Msg_DispatchReceived(uint32_t session, const uint8_t* payload, uint32_t size)
{
    if (!payload || Conn_FindBySession(session) < 0) return;
    uint32_t offset = 0;
    for (uint32_t count = 0; count < MSG_MAX_PER_PAYLOAD; ++count) {
        if (offset >= size || size - offset < MSG_HEADER_SIZE) return;
        const uint8_t* message = payload + offset;
        uint32_t length = GetU32(message);
        uint32_t code = GetU32(message + 4);
        uint32_t checksum = GetU32(message + 8);
        if (length < MSG_HEADER_SIZE || length > size - offset) return; // malformed: the walk ends
        offset += length;

        TModuleSlot* slot = FindSlot(code);
        if (!slot) continue;
        uint32_t copied = length - MSG_HEADER_SIZE;
        // The module reads the whole message from its buffer; one that
        // does not fit is skipped like a bad checksum.
        if (copied > slot->capacity) continue;
        if (copied > 0) memcpy(slot->buffer, message + MSG_HEADER_SIZE, copied);
        if (copied > slot->dirty) slot->dirty = copied;
        if (Checksum_Message(slot->buffer, copied) != checksum) continue;
        if (!slot->receive) continue;
        uint32_t outer = gReceivedLength; // a dispatch inside a receive function
        gReceivedLength = copied;
        slot->receive();
        gReceivedLength = outer;
    }
}

uint32_t Msg_ReceivedLength() { return gReceivedLength; }

void Msg_ResetRegistry()
{
    gRegistryChanges++;
    memset(gModules, 0, sizeof gModules);
}

void Msg_ClearBuffers()
{
    for (uint32_t i = 0; i < MSG_MODULE_SLOTS; ++i)
        if (gModules[i].inUse && gModules[i].buffer) {
            memset(gModules[i].buffer, 0, gModules[i].dirty);
            gModules[i].dirty = 0;
        }
    gReceivedLength = 0;
}

void Msg_ClearBuffer(uint8_t* buffer, uint32_t size)
{
    if (!buffer) return;
    // The most any slot of this very buffer may have written, else all.
    uint32_t dirty = 0;
    bool registered = false;
    for (const TModuleSlot& slot : gModules)
        if (slot.inUse == 1 && slot.buffer == buffer && slot.capacity == size) {
            if (slot.dirty > dirty) dirty = slot.dirty;
            registered = true;
        }
    memset(buffer, 0, registered ? dirty : size);
    for (TModuleSlot& slot : gModules)
        if (slot.inUse == 1 && slot.buffer == buffer && slot.capacity == size) slot.dirty = 0;
}
