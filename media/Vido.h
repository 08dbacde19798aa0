// The frame stream module "VIDO": frame blocks from the recorder, their
// reorder queue (inside each TConnection) and the status report the viewer
// sends with every poll. Owns gVidoStates (one per connection record), the
// 270,336-byte receive buffer, two 4,096-byte send buffers, the 270,336-byte
// transfer buffer, the op table and the request record.
#pragma once
#include "link/Conn.h"
#include <cstddef>
#include <cstdint>

enum {
    VIDO_BUFFER_SIZE = 270336, // receive buffer: sub-header and body of one message
    VIDO_SEND_BUFFER = 4096,   // each of the two send buffers
    VIDO_BLOCK_SIZE = 128,     // TVidoFrameBlock
    VIDO_MIN_BLOCK = 160,      // a block and the frame header behind it
    VIDO_REPORT_SIZE = 256,
    VIDO_SLOTS = 512,
    VIDO_CHANNELS = 17, // 0 .. 15 and 16
    VIDO_KIND_AUDIO = 2,
    VIDO_FREE_START = 262144,   // free space reported before the first frame
    VIDO_FREE_RESERVE = 524288, // kept back from the reported free space
};

// Ops (sub-header word 1).
enum { VIDO_OP_FRAME = 0, VIDO_OP_STATUS = 1 };

// 128 bytes in front of every frame, on the wire and in the rings
// (little-endian). Words the viewer does not read are named by offset.
struct TVidoFrameBlock {
    uint32_t totalLength; // block + frame bytes
    uint32_t word4;
    uint32_t framePeriod;     // ms between frames of the channel
    uint32_t channelSequence; // per-channel running number
    uint32_t word16;
    uint32_t channel; // 0 .. 16; audio uses 0 and 1
    uint32_t status;  // echoed in the status report
    uint32_t word28;
    uint32_t streamSequence; // what the reorder queue sorts by
    uint32_t newestSecond;   // the recorder's newest frame: second ...
    uint32_t newestFrame;    // ... and frame within it
    uint32_t word44;
    uint32_t kind;          // VIDO_KIND_AUDIO, else video
    uint32_t requestNumber; // ICMD sequence this frame answers; 0 = any
    uint8_t rest[72];
};
static_assert(sizeof(TVidoFrameBlock) == VIDO_BLOCK_SIZE, "frame block is 128 bytes");
static_assert(offsetof(TVidoFrameBlock, streamSequence) == 32, "stream sequence at 32");
static_assert(offsetof(TVidoFrameBlock, requestNumber) == 52, "request number at 52");

// The op-1 body the viewer sends (256 bytes, little-endian u32).
struct TVidoStatusReport {
    uint32_t lastSequence[16]; // last channel sequence taken, channels 0 .. 15
    uint32_t decodeTime[16];   // smoothed decode time, channels 0 .. 15
    uint32_t freeSpace;        // video ring room above 512 KB
    uint32_t zero132;
    uint32_t status; // status value of the last frame taken or rejected
    uint32_t zero140;
    uint32_t lastSequence16; // channel 16
    uint32_t decodeTime16;
    uint32_t zero[26];
};
static_assert(sizeof(TVidoStatusReport) == VIDO_REPORT_SIZE, "status report is 256 bytes");
static_assert(offsetof(TVidoStatusReport, freeSpace) == 128, "free space at 128");
static_assert(offsetof(TVidoStatusReport, status) == 136, "status at 136");
static_assert(offsetof(TVidoStatusReport, lastSequence16) == 144, "channel 16 at 144");

struct TVidoState {
    uint8_t frameBlock[VIDO_BLOCK_SIZE]; // outgoing block; only its length word is set
    TVidoStatusReport report;
    TConnection* connection; // back pointer
    uint32_t requestWord;    // the recorder's last ICMD sub-header word 4; 0 = none
    uint32_t frameTaken;     // 1 once the stream took a frame; until then the
                             // report says VIDO_FREE_START bytes free
};

// What Vido_Send hands to the registry.
struct TVidoRequest {
    uint32_t session;
    uint32_t op;
    uint32_t bufferChoice; // 0: send buffer 0, else 1
    uint32_t bodyLength;   // op 0: data bytes
    const uint8_t* data;   // op 0: frame data
    uint32_t extra;        // passed to the op's build routine
};

// What an op's build routine gets.
struct TVidoBuild {
    uint32_t length;
    uint32_t extra;
    const uint8_t* data;
    uint8_t* body; // message offset 64
    uint32_t room; // bytes the body may take
    TVidoState* state;
};

struct TVidoOp {
    uint32_t op;
    void (*receive)(const uint8_t* body, uint32_t bodyLength, TVidoState* state);
    uint32_t (*build)(const TVidoBuild* build);
};

extern TVidoState gVidoStates[CONN_COUNT];

// Start-up: registers "VIDO", links the states with the connection
// records, sets the reports' free space to 262,144.
void Vido_Init();
// The states back to start-up (free space 262,144, no request word, no
// frame taken), the reorder queues emptied and the ring bookkeeping
// restarted at each frame ring's write index; the registration stays.
void Vido_Reset();
// Fills the request record and sends it through the registry.
void Vido_Send(uint32_t session, uint32_t op, const uint8_t* data, uint32_t bodyLength, uint32_t bufferChoice,
               uint32_t extra);
void Vido_Receive();
void Vido_Transmit(void* request);
// Op 0: one frame block and its frame; bodyLength is what the message
// brought. A block whose total length is below 160 or beyond the message
// is dropped.
void Vido_OnFrame(const uint8_t* body, uint32_t bodyLength, TVidoState* state);
void Vido_OnStatus(const uint8_t* body, uint32_t bodyLength, TVidoState* state);
// Stores one frame (block first) in the reorder queue.
void Vido_QueueFrame(TConnection* c, const uint8_t* frame, uint32_t length, uint32_t sequence, uint32_t kind);
// Per tick: moves queued frames to the stream in sequence order.
void Vido_DeliverInOrder(TConnection* c);
// Moves the frame at the frame ring's read index into the stream's video
// or audio ring.
void Vido_StoreFrame(TConnection* c, TRingDesc* frameRing, uint32_t length, uint32_t kind);
uint32_t Vido_BuildStatus(const TVidoBuild* build);
uint32_t Vido_BuildFrame(const TVidoBuild* build);

// Vido_ResetForGrant and Vido_StoreRequestWord, which the link calls:
// link/Hooks.h.

// The report words of a channel (0 .. 16); null for other channels.
uint32_t* Vido_LastSequence(TVidoStatusReport* report, uint32_t channel);
uint32_t* Vido_DecodeTime(TVidoStatusReport* report, uint32_t channel);
// The free-space word for a video ring with free95 bytes of room.
uint32_t Vido_FreeSpaceWord(uint32_t free95);
// Refreshes the report's free-space word from the video ring, once the
// stream has taken a frame.
void Vido_RefreshFreeSpace(TVidoState* state, const TFrameRing* videoRing);
