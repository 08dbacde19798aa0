// Decoder channels: H.264 decoding of "avc1" frames (4-byte big-endian NAL
// lengths, parameter sets in band) on libavcodec, one independent decoder
// per channel, the reference-counted picture pool the decoders draw their
// planes from, and the picture record each channel hands to the display.
// Owns gDecoderModules/Handles/Channels, the pool and the channel inputs.
#pragma once
#include <cstdint>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVBufferRef;

enum {
    // Decoder channels that can be opened: 0 serves connection 0, 1
    // connection 1. The module layer below keeps a third slot that is
    // never opened.
    DECODER_CHANNELS = 2,
    DECODER_MODULE_SLOTS = 3,
    // The largest picture accepted, in pixels (44 x 36 macroblocks).
    DECODER_MAX_WIDTH = 44 * 16,
    DECODER_MAX_HEIGHT = 36 * 16,
    // Picture slots per channel: the reference pictures, the picture being
    // decoded, the one on screen and room for the decoder's own holds.
    POOL_SLOTS_PER_CHANNEL = 10,
    // The longest access unit a channel takes (the stream pump's frames are
    // below 256 KB with their parameter sets).
    DECODER_INPUT_MAX = 1 << 20,
};

// What the H.264 codec accepts and produces, for the module layer.
struct TCodecDescriptor {
    uint32_t inputFourccs[32];  // "H264" ... "DAVC", 0x10000005, then 0xFFFFFFFF
    uint32_t inputFourccs2[32]; // the same, then zeros
    uint32_t outputFourccs[16]; // "YV12", "I420", "IYUV", then 0xFFFFFFFF
    uint32_t outputList2[24];   // an empty second output list
    const char* shortName;      // "ffh264"
    const char* longName;       // "FFmpeg H.264"
    const char* reserved;
    const char* codecName;   // "h264"
    const char* libraryName; // "ffmpeg"
    uint32_t zero[4];
    uint16_t flags; // bit 15 set once a channel is opened
    uint16_t one;   // 1
};

// The decoded planar 4:2:0 picture as the display gets it; one per channel,
// reused for every picture. The plane pointers point into the picture pool
// and stay valid until the channel decodes its next frame.
struct TPictureRecord {
    uint16_t flags;      // bit 0 from the format value 1, bit 15 set
    uint8_t kind;        // 0
    uint32_t allocWidth; // size when the record was made
    uint32_t allocHeight;
    uint32_t reserved[2]; // 0
    uint32_t width;       // the picture's size in pixels
    uint32_t height;
    uint8_t* plane[4];  // Y, U, V; the fourth stays null
    uint32_t stride[4]; // bytes per row of Y, U, V; the fourth 0
    // Frame facts copied from the decoder: picture type, key frame, the
    // channel's picture count, a flags word (1, +32 key frame, +2
    // interlaced, +4 top field first) and the decoder's error flags.
    uint32_t attributes[5];
};

struct TDecoderChannel;
struct TDecoderLink;

struct TDecoderOutput {
    uint32_t width;
    uint32_t height;
    TPictureRecord* picture; // null until the first picture
};

struct TDecoderHandle {
    TDecoderLink* link;
    const TCodecDescriptor* descriptor;
    uint32_t fourcc; // "avc1"
    uint32_t width;  // 640 x 512 when opened, then the decoded size
    uint32_t height;
    TDecoderOutput* output;
    TDecoderChannel* channel;
};

struct TDecoderLink {
    TDecoderHandle* handle;
};

struct TDecoderModule;
struct TDecoderModuleOps {
    int (*stub0)();
    int (*stub1)();
    TDecoderModule* (*bind)(TDecoderModule* module, uint32_t channel);
    int (*stub3)();
};

struct TDecoderModule {
    const TDecoderModuleOps* ops;
    TDecoderLink* link;
    TDecoderHandle* handle;
};

// One channel's decoder: its context, the frame that holds the picture on
// screen (its planes stay referenced until the next decode), its packet
// around the channel's static input buffer.
struct TDecoderChannel {
    AVCodecContext* context;
    AVFrame* frame;
    uint32_t sizeKnown; // 1 once the size has been taken from a picture
    AVPacket* packet;
    AVBufferRef* input; // the channel's static input buffer, wrapped
    uint32_t number;    // channel number
    uint32_t pictures;  // pictures delivered
};

struct TDecoderFunctions {
    int (*init)(TDecoderHandle* handle, uint32_t channel);
    void (*close)(TDecoderHandle* handle);
    int (*control)();
    TPictureRecord* (*decode)(TDecoderHandle* handle, const uint8_t* buffer, uint32_t length, uint32_t flags);
};

extern TCodecDescriptor gH264Descriptor;
extern TDecoderModule gDecoderModules[DECODER_MODULE_SLOTS];
extern TDecoderHandle gDecoderHandles[DECODER_MODULE_SLOTS];
extern TDecoderChannel gDecoderChannels[DECODER_MODULE_SLOTS];
extern const TDecoderFunctions gDecoderFunctions;
extern const TDecoderFunctions* gActiveDecoderFunctions;

// The picture pool: one block from FrameBuf_Init, never freed; null until
// then. POOL_SLOTS_PER_CHANNEL slots of gPoolSlotSize bytes per channel,
// each slot one whole picture (Y, U, V). A slot is free while only the
// pool itself holds a reference to it.
extern uint8_t* gPicturePool;
extern uint32_t gPoolSlotSize;

// The channel being decoded (set before every decode; the display finds its
// connection by it), the connection whose stream is being decoded (set by
// the stream pump), and the failed-slice status: -1 once a slice of the
// last frames failed, until the stream pump sets it back to 0.
extern int32_t gDecoderChannel;
extern int32_t gDecodeConnection;
extern int32_t gSliceStatus;
extern uint32_t gLibraryReady;

// Allocates the picture pool (the size arguments are not used: the pool is
// sized for the largest picture accepted) and clears the slice status.
// 0, or -1 when the pool could not be allocated.
int FrameBuf_Init(uint32_t width, uint32_t height);
// Opens decoder channel 0 or 1: 0, or -1 when it cannot be opened.
int Decoder_OpenChannel(uint32_t channel);
// Decoder channel 0 or 1 as it was just after opening: the decoder's
// pictures and references dropped, the picture size forgotten. The open
// decoder itself is kept.
void Decoder_ResetChannel(uint32_t channel);
// Decodes one access unit on a channel and shows the picture it gives.
// Refused before FrameBuf_Init, for a null buffer, a length of 0 and a
// channel that is not open. 1 when a picture came out, else 0.
int Decoder_DecodeFrame(const uint8_t* buffer, uint32_t length, uint32_t channel);
// Decodes through the active function table and hands the picture to the
// display: 1 when the decoder delivered a picture, else 0.
int Decoder_DecodeAndShow(TDecoderHandle* handle, const uint8_t* buffer, uint32_t length);

// The module layer through which a channel is opened.
int Decoder_Open(TDecoderHandle* handle, uint32_t channel);
int32_t Decoder_Query(TDecoderHandle* handle);
int32_t Decoder_SetOption(TDecoderHandle* handle);
TDecoderModule* Decoder_GetModule(uint32_t channel);
TDecoderModule* Decoder_NewModule(uint32_t channel);
TDecoderLink* Decoder_GetLinkBlock(uint32_t channel);
TDecoderHandle* Decoder_GetHandleSlot(TDecoderModule* module, uint32_t channel);
TDecoderModule* DecoderModule_Bind(TDecoderModule* module, uint32_t channel);
TDecoderOutput* Decoder_GetPrivateBlock(uint32_t channel);

// The decoder functions.
int Decoder_Init(TDecoderHandle* handle, uint32_t channel);
void Decoder_Close(TDecoderHandle* handle);
int Decoder_Control();
TPictureRecord* Decoder_Decode(TDecoderHandle* handle, const uint8_t* buffer, uint32_t length, uint32_t flags);
// Takes the decoded picture's size into the handle and its output: 0, or
// -1 for a width or height of 0.
int32_t Decoder_CheckSize(TDecoderHandle* handle, uint32_t width, uint32_t height);
int Decoder_StoreSize(TDecoderHandle* handle);
TPictureRecord* Decoder_PreparePicture(TDecoderHandle* handle, uint8_t kind, uint16_t format, uint32_t width,
                                       uint32_t height);
TPictureRecord* Picture_Prepare(TDecoderOutput* output, uint32_t fourcc, uint8_t kind, uint16_t format, uint32_t width,
                                uint32_t height);
TPictureRecord* Picture_New(uint32_t width, uint32_t height);

// Pool slots of a channel that hold a picture the decoder or the display
// still uses.
uint32_t PicturePool_SlotsInUse(uint32_t channel);

// Where a channel's pictures go once decoded; Render_OnPicture by default.
// The tests point it elsewhere; null restores the display.
typedef void (*TPictureSink)(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t yStride,
                             uint32_t chromaStride, uint32_t width, uint32_t height);
void Decoder_SetPictureSink(TPictureSink sink);
// Test seam: while set, Decoder_OpenChannel fails as it does when the
// decoding library cannot open an H.264 decoder.
void Decoder_RefuseOpen(int refuse);
