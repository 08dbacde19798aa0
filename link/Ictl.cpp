// Named shared variables exchanged with the recorder through "ICTL".
// Owns gNamedVariables (40 slots), the 65,536-byte module buffer that both
// receives and builds messages, the codec table, the request block and the
// two ICTL links.
#include "link/Ictl.h"
#include "link/Bytes.h"
#include "link/Hooks.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "link/Tavn.h"
#include <cstring>

TNamedVariable gNamedVariables[ICTL_VARIABLES];
static uint8_t gBuffer[ICTL_BUFFER_SIZE];
static TIctlRequest gRequest;
static TIctlLink gLinks[CONN_COUNT];

// Writes the body of an outgoing message; returns its length.
typedef uint32_t (*TIctlBuild)(uint8_t* body, const TIctlRequest* request);
// Handles the body of a received message (length bytes arrived).
typedef void (*TIctlParse)(const uint8_t* body, uint32_t length, uint32_t handlerFlag, uint32_t session);

struct TIctlCodec {
    uint32_t subType;
    TIctlBuild build;
    TIctlParse parse;
};

static TIctlCodec gCodecs[2];

// Sub-type 0 body: a 256-byte value header (u32 size + 256, the name from
// byte 4, zeros), then the value.
static uint32_t BuildVariable(uint8_t* body, const TIctlRequest* request)
{
    memset(body, 0, ICTL_VALUE_HEADER);
    PutU32(body, request->size + ICTL_VALUE_HEADER);                             // value size + 256
    memcpy(body + 4, request->name, strnlen(request->name, ICTL_NAME_SIZE - 1)); // name
    if (request->size > 0) {
        if (request->data) memcpy(body + ICTL_VALUE_HEADER, request->data, request->size); // value
        else memset(body + ICTL_VALUE_HEADER, 0, request->size);
    }
    return ICTL_VALUE_HEADER + request->size;
}

// A value is taken only when the message holds its whole header and all
// the bytes its size announces, and its name ends within the name field.
static void ParseVariable(const uint8_t* body, uint32_t length, uint32_t handlerFlag, uint32_t session)
{
    if (length < ICTL_VALUE_HEADER) return;
    uint32_t announced = GetU32(body);
    if (announced < ICTL_VALUE_HEADER) return;
    uint32_t size = announced - ICTL_VALUE_HEADER;
    if (size > length - ICTL_VALUE_HEADER) return;
    const char* name = (const char*)body + 4;
    if (strnlen(name, ICTL_NAME_FIELD) == ICTL_NAME_FIELD) return;
    Ictl_ApplyVariable(name, body + ICTL_VALUE_HEADER, size, handlerFlag, session);
}

int Ictl_Init()
{
    Msg_RegisterModule("ICTL", Ictl_Receive, Ictl_Transmit, gBuffer, sizeof gBuffer);
    gCodecs[0] = TIctlCodec{ICTL_VARIABLE, BuildVariable, ParseVariable};
    gCodecs[1] = TIctlCodec{ICTL_EXTENDED, nullptr, nullptr}; // received without effect
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        gLinks[i].connection = &gConnections[i];
        gConnections[i].ictl = &gLinks[i];
    }
    memset(gNamedVariables, 0, sizeof gNamedVariables);
    return 0;
}

int Ictl_RegisterTavnVariables()
{
    Ictl_RegisterVariable("Tavn_Watermark_Var_R", &gWatermarkRequest, 4, Watermark_OnReply);
    Ictl_RegisterVariable("Tavn_Watermark_Var_W", gWatermarkAnswer, sizeof gWatermarkAnswer, nullptr);
    Ictl_RegisterVariable("Tavn_Upnp_C_Data_W", &gUpnpWord, 4, Upnp_WriteDone);
    Ictl_RegisterVariable("Tavn_Upnp_C_Data_R", &gUpnpWord, 4, Upnp_ReadDone);
    Ictl_RegisterVariable("Tavn_Mach_Type_Data_W", gMachineTypeData, MACHINE_TYPE_SIZE, NoopCallback);
    Ictl_RegisterVariable("Tavn_Mach_Type_Data_R", gMachineTypeData, MACHINE_TYPE_SIZE, Handshake_ShowUpnpTab);
    Ictl_RegisterVariable("Tavn_ACK_R", &gSetupAck, 4, Handshake_ShowSetupSuccess);
    return 0;
}

void Ictl_RegisterVariable(const char* name, void* data, uint32_t size, TVariableHandler handler)
{
    if (!name) return;
    if (size > 0 && !data) return; // a value would have nowhere to go
    for (uint32_t i = 0; i < ICTL_VARIABLES; ++i) {
        TNamedVariable* v = &gNamedVariables[i];
        if (v->inUse) continue;
        v->inUse = 1;
        memset(v->name, 0, sizeof v->name);
        memcpy(v->name, name, strnlen(name, ICTL_NAME_SIZE - 1));
        v->size = size;
        v->data = (uint8_t*)data;
        v->handler = handler;
        return;
    }
}

void Ictl_SendVariable(uint32_t session, const char* name, const void* data, uint32_t size, uint32_t handlerFlag)
{
    Ictl_Send(session, name, data, ICTL_VARIABLE, handlerFlag, 0, size);
}

void Ictl_Send(uint32_t session, const char* name, const void* data, uint32_t subType, uint32_t handlerFlag,
               uint32_t extra, uint32_t size)
{
    // Only named variables go out, and none whose message would pass the
    // 1,280 bytes a packet carries: it would block the send ring for good.
    if (!name || subType != ICTL_VARIABLE || size > ICTL_MAX_VALUE) return;
    memset(&gRequest, 0, sizeof gRequest);
    gRequest.session = session;
    memcpy(gRequest.name, name, strnlen(name, ICTL_NAME_SIZE - 1));
    gRequest.data = (const uint8_t*)data;
    gRequest.subType = subType;
    gRequest.handlerFlag = handlerFlag;
    gRequest.extra = extra;
    gRequest.size = size;
    Msg_SendViaModule("ICTL", &gRequest);
}

static const TIctlCodec* CodecOf(uint32_t subType)
{
    for (const TIctlCodec& codec : gCodecs)
        if (codec.subType == subType) return &codec;
    return nullptr;
}

void Ictl_Transmit(void* request)
{
    const TIctlRequest* r = (const TIctlRequest*)request;
    if (!r || r->size > ICTL_MAX_VALUE) return;
    int ci = Conn_FindBySession(r->session);
    if (ci < 0) return;
    const TIctlCodec* codec = CodecOf(r->subType);

    Msg_Begin(gBuffer, "ICTL",
              TModuleSubHeader{r->session,
                               {
                                   0,              // reserved
                                   r->subType,     // sub-type
                                   r->handlerFlag, // the recorder runs the handler
                               }});
    uint32_t body = codec && codec->build ? codec->build(gBuffer + MSG_FRAME_SIZE, r) : 0;
    Conn_QueueSend(&gConnections[ci], gBuffer, Msg_Finish(gBuffer, body));
}

void Ictl_Receive()
{
    uint32_t n = Msg_ReceivedLength();
    if (n < 16) return; // session, reserved word, sub-type and flag
    uint32_t session = GetU32(gBuffer);
    uint32_t subType = GetU32(gBuffer + 8);
    uint32_t handlerFlag = GetU32(gBuffer + 12);
    const TIctlCodec* codec = CodecOf(subType);
    if (!codec || !codec->parse) return;
    codec->parse(gBuffer + 32, n > 32 ? n - 32 : 0, handlerFlag, session);
}

void Ictl_ApplyVariable(const char* name, const uint8_t* data, uint32_t size, uint32_t handlerFlag, uint32_t session)
{
    if (!name || !data) return;
    for (uint32_t i = 0; i < ICTL_VARIABLES; ++i) {
        TNamedVariable* v = &gNamedVariables[i];
        if (!v->inUse || strcmp(v->name, name) != 0) continue;
        // Only a value of exactly the registered size fits the buffer.
        if (size != v->size) return;
        if (size > 0) memcpy(v->data, data, size);
        if (handlerFlag == 1 && v->handler) v->handler(session);
        return;
    }
}
