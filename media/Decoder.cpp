// Decoder channels on libavcodec. Owns the module layer's records, the
// channel records with their static input buffers, the picture pool (one
// block, whole-picture slots, each slot reference-counted so that it is
// free again only when the decoder and the display have let go of it, with
// the references handed to the decoder kept and handed out again) and the
// words gDecoderChannel, gDecodeConnection and gSliceStatus.
#include "media/Decoder.h"
#include "media/Display.h"
#include "media/Stream.h"
#include "platform/win/Win.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <cstdlib>
#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

#if defined(__x86_64__) || defined(__i386__)
// The class library (and whatever else ran on this thread) may leave the
// upper halves of the AVX registers in use; libavcodec's SSE code then
// pays for every instruction. Cleared before each decode, on processors
// with AVX only.
const bool gHaveAvx = (__builtin_cpu_init(), __builtin_cpu_supports("avx"));
__attribute__((target("avx"))) void ClearUpperState() { _mm256_zeroupper(); }
inline void BeforeDecode()
{
    if (gHaveAvx) ClearUpperState();
}
#else
inline void BeforeDecode() {}
#endif

constexpr uint32_t Fourcc(const char (&s)[5])
{
    return (uint32_t)(uint8_t)s[0] | (uint32_t)(uint8_t)s[1] << 8 | (uint32_t)(uint8_t)s[2] << 16 |
           (uint32_t)(uint8_t)s[3] << 24;
}

constexpr uint32_t kNone = 0xFFFFFFFFu;
constexpr uint32_t kAvc1 = Fourcc("avc1");

constexpr TCodecDescriptor MakeDescriptor()
{
    TCodecDescriptor d{};
    const uint32_t inputs[8] = {Fourcc("H264"), Fourcc("h264"), Fourcc("X264"), Fourcc("x264"),
                                Fourcc("avc1"), Fourcc("davc"), Fourcc("DAVC"), 0x10000005u};
    for (int i = 0; i < 32; i++) d.inputFourccs[i] = i < 8 ? inputs[i] : kNone;
    for (int i = 0; i < 32; i++) d.inputFourccs2[i] = i < 8 ? inputs[i] : 0;
    const uint32_t outputs[3] = {Fourcc("YV12"), Fourcc("I420"), Fourcc("IYUV")};
    for (int i = 0; i < 16; i++) d.outputFourccs[i] = i < 3 ? outputs[i] : kNone;
    for (int i = 0; i < 24; i++) d.outputList2[i] = i >= 4 && i < 20 ? kNone : 0;
    d.shortName = "ffh264";
    d.longName = "FFmpeg H.264";
    d.reserved = nullptr;
    d.codecName = "h264";
    d.libraryName = "ffmpeg";
    d.flags = 0;
    d.one = 1;
    return d;
}

int StubZero() { return 0; }
const TDecoderModuleOps kModuleOps = {StubZero, StubZero, DecoderModule_Bind, StubZero};

TDecoderLink gDecoderLinks[DECODER_MODULE_SLOTS];
TDecoderOutput gDecoderOutputs[DECODER_MODULE_SLOTS];

// The bindings of the channels that can be opened.
TDecoderModule* gBoundModule[DECODER_CHANNELS];
TDecoderLink* gBoundLink[DECODER_CHANNELS];
TDecoderHandle* gBoundHandle[DECODER_CHANNELS];

// Each channel's input: the access unit is copied here, followed by the
// zero padding the decoder's bit reader may touch.
constexpr size_t kInputSize = DECODER_INPUT_MAX + AV_INPUT_BUFFER_PADDING_SIZE;
alignas(64) uint8_t gInputBuffers[DECODER_CHANNELS][kInputSize];

// --- The picture pool --------------------------------------------------------

// Where the planes of a picture lie inside its slot.
struct TSlotLayout {
    uint32_t yStride, cStride;
    uint32_t yRows, cRows;
    uint32_t uOffset, vOffset;
    uint32_t size;
};

constexpr uint32_t kAlign = 64;
constexpr uint32_t kPlaneGuard = 64; // before Y and after every plane
constexpr uint32_t AlignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

// The planes of a w x h buffer (already padded the way the decoder asks).
TSlotLayout LayoutFor(uint32_t w, uint32_t h)
{
    TSlotLayout l{};
    l.yStride = AlignUp(w, kAlign);
    l.cStride = AlignUp((w + 1) / 2, kAlign);
    l.yRows = h;
    l.cRows = (h + 1) / 2;
    uint32_t at = kPlaneGuard;
    at += l.yStride * l.yRows + kPlaneGuard;
    l.uOffset = at;
    at += l.cStride * l.cRows + kPlaneGuard;
    l.vOffset = at;
    at += l.cStride * l.cRows + kPlaneGuard;
    l.size = AlignUp(at, kAlign);
    return l;
}

// The decoder pads a picture to 16 columns (at least 32) and 32 rows, plus
// two rows its chroma motion compensation may read.
TSlotLayout LayoutForLargest()
{
    uint32_t w = AlignUp(DECODER_MAX_WIDTH, 16), h = AlignUp(DECODER_MAX_HEIGHT, 32) + 2;
    return LayoutFor(w, h);
}

// The decoder takes the reference it is given for a picture's buffer and
// frees it when it drops the picture, so a reference cannot simply be
// lent. Instead the one the display held for the picture (made by the
// decoder when it gave the picture out) is kept when the display lets go,
// and is the reference the slot is handed out with next: once every slot
// has been round, no picture takes a new one.
struct TPoolSlot {
    AVBufferRef* ref;   // the pool's own reference, never given away
    AVBufferRef* spare; // a reference kept to hand out next, or null
    uint8_t* base;
};
TPoolSlot gPoolSlots[DECODER_CHANNELS][POOL_SLOTS_PER_CHANNEL];

// References the pool itself holds on a slot: while these are all, the
// decoder and the display have let go of it.
int OwnReferences(const TPoolSlot& s) { return s.spare ? 2 : 1; }

void KeepSlot(void*, uint8_t*) {} // slots live as long as the pool

// Lets go of the picture a channel's frame holds; its reference to a pool
// slot becomes that slot's spare.
void ReleasePicture(TDecoderChannel* ch)
{
    AVFrame* frame = ch->frame;
    AVBufferRef* held = frame->buf[0];
    if (held && ch->number < DECODER_CHANNELS) {
        for (TPoolSlot& s : gPoolSlots[ch->number]) {
            if (!s.ref || s.ref->buffer != held->buffer) continue;
            if (!s.spare) {
                s.spare = held;
                frame->buf[0] = nullptr;
            }
            break;
        }
    }
    av_frame_unref(frame);
}

int PoolGetBuffer(AVCodecContext* context, AVFrame* frame, int flags)
{
    TDecoderChannel* channel = (TDecoderChannel*)context->opaque;
    if (!gPicturePool || !channel || channel->number >= DECODER_CHANNELS) return AVERROR(ENOMEM);
    if (frame->format != AV_PIX_FMT_YUV420P && frame->format != AV_PIX_FMT_YUVJ420P) return AVERROR(EINVAL);
    if (frame->width <= 0 || frame->height <= 0 || frame->width > DECODER_MAX_WIDTH ||
        frame->height > DECODER_MAX_HEIGHT)
        return AVERROR(EINVAL); // larger than the pool's slots
    int w = frame->width, h = frame->height;
    int lineAlign[AV_NUM_DATA_POINTERS];
    avcodec_align_dimensions2(context, &w, &h, lineAlign);
    TSlotLayout l = LayoutFor((uint32_t)w, (uint32_t)h);
    if (l.size > gPoolSlotSize) return AVERROR(EINVAL);
    for (int i = 0; i < 3; i++)
        if (lineAlign[i] > 0 && (i == 0 ? l.yStride : l.cStride) % (uint32_t)lineAlign[i] != 0) return AVERROR(EINVAL);

    TPoolSlot* slots = gPoolSlots[channel->number];
    for (uint32_t k = 0; k < POOL_SLOTS_PER_CHANNEL; k++) {
        if (av_buffer_get_ref_count(slots[k].ref) != OwnReferences(slots[k])) continue;
        // The spare goes to the decoder; only a slot's first pictures need
        // a reference made.
        AVBufferRef* ref = slots[k].spare;
        slots[k].spare = nullptr;
        if (!ref) ref = av_buffer_ref(slots[k].ref);
        if (!ref) return AVERROR(ENOMEM);
        uint8_t* base = slots[k].base;
        // Areas the decoder leaves untouched (a lost slice) stay mid grey.
        memset(base, 128, l.size);
        frame->buf[0] = ref;
        frame->data[0] = base + kPlaneGuard;
        frame->data[1] = base + l.uOffset;
        frame->data[2] = base + l.vOffset;
        frame->linesize[0] = (int)l.yStride;
        frame->linesize[1] = (int)l.cStride;
        frame->linesize[2] = (int)l.cStride;
        frame->extended_data = frame->data;
        return 0;
    }
    return AVERROR(ENOMEM); // every slot still held
}

void NoFree(void*, uint8_t*) {}

TPictureSink gSink = nullptr;

void ShowPicture(const TPictureRecord* r)
{
    TPictureSink sink = gSink ? gSink : Render_OnPicture;
    sink(r->plane[0], r->plane[1], r->plane[2], r->stride[0], r->stride[1], r->width, r->height);
}

} // namespace

// The flags word changes (bit 15 on the first open), so the record is writable.
TCodecDescriptor gH264Descriptor = MakeDescriptor();
TDecoderModule gDecoderModules[DECODER_MODULE_SLOTS];
TDecoderHandle gDecoderHandles[DECODER_MODULE_SLOTS];
TDecoderChannel gDecoderChannels[DECODER_MODULE_SLOTS];
const TDecoderFunctions gDecoderFunctions = {Decoder_Init, Decoder_Close, Decoder_Control, Decoder_Decode};
const TDecoderFunctions* gActiveDecoderFunctions = nullptr;

uint8_t* gPicturePool = nullptr;
uint32_t gPoolSlotSize = 0;
int32_t gDecoderChannel = 0;
int32_t gDecodeConnection = 0;
int32_t gSliceStatus = 0;
uint32_t gLibraryReady = 0;

void Decoder_SetPictureSink(TPictureSink sink) { gSink = sink; }

static int gRefuseOpen = 0;
void Decoder_RefuseOpen(int refuse) { gRefuseOpen = refuse; }

int FrameBuf_Init(uint32_t, uint32_t)
{
    gSliceStatus = 0;
    if (gPicturePool) return 0;
    uint32_t slotSize = LayoutForLargest().size;
    size_t total = (size_t)slotSize * POOL_SLOTS_PER_CHANNEL * DECODER_CHANNELS;
    // Planes start on 64-byte boundaries, the widest the decoder's vector
    // code asks for.
    uint8_t* block = (uint8_t*)malloc(total + kAlign);
    if (!block) return -1;
    uint8_t* pool = block + (kAlign - (uintptr_t)block % kAlign) % kAlign;
    // Not filled here: a slot is filled mid grey each time it is handed to
    // the decoder, so its pages are first touched by the picture using it.
    for (uint32_t c = 0; c < DECODER_CHANNELS; c++) {
        for (uint32_t k = 0; k < POOL_SLOTS_PER_CHANNEL; k++) {
            uint8_t* base = pool + ((size_t)c * POOL_SLOTS_PER_CHANNEL + k) * slotSize;
            AVBufferRef* ref = av_buffer_create(base, slotSize, KeepSlot, nullptr, 0);
            if (!ref) return -1; // the pool stays unset: every frame is refused
            gPoolSlots[c][k].ref = ref;
            gPoolSlots[c][k].spare = nullptr;
            gPoolSlots[c][k].base = base;
        }
    }
    gPoolSlotSize = slotSize;
    gPicturePool = pool;
    return 0;
}

uint32_t PicturePool_SlotsInUse(uint32_t channel)
{
    if (channel >= DECODER_CHANNELS || !gPicturePool) return 0;
    uint32_t n = 0;
    for (uint32_t k = 0; k < POOL_SLOTS_PER_CHANNEL; k++)
        if (av_buffer_get_ref_count(gPoolSlots[channel][k].ref) > OwnReferences(gPoolSlots[channel][k])) n++;
    return n;
}

// --- Module layer -------------------------------------------------------------

int Decoder_OpenChannel(uint32_t channel)
{
    if (channel >= DECODER_CHANNELS || gRefuseOpen) return -1;
    gBoundModule[channel] = nullptr;
    gBoundLink[channel] = nullptr;
    gBoundHandle[channel] = nullptr;
    TDecoderModule* module = Decoder_GetModule(channel);
    if (!module || !module->link) return -1;
    TDecoderLink* link = module->link;
    TDecoderHandle* handle = link->handle;
    if (!handle) return -1;
    gBoundModule[channel] = module;
    gBoundLink[channel] = link;
    gBoundHandle[channel] = handle;
    handle->output = Decoder_GetPrivateBlock(channel);
    handle->fourcc = kAvc1;
    handle->width = 640;
    handle->height = 512;
    Decoder_Open(handle, channel);
    return Decoder_Query(handle) == -1 ? -1 : 0;
}

void Decoder_ResetChannel(uint32_t channel)
{
    if (channel >= DECODER_CHANNELS || !gBoundHandle[channel]) return;
    TDecoderHandle* handle = gBoundHandle[channel];
    TDecoderChannel* ch = handle->channel;
    if (!ch || !ch->context) return;
    ReleasePicture(ch);
    avcodec_flush_buffers(ch->context);
    ch->sizeKnown = 0;
    ch->pictures = 0;
}

int Decoder_Open(TDecoderHandle* handle, uint32_t channel)
{
    handle->descriptor = &gH264Descriptor;
    gH264Descriptor.flags |= 0x8000;
    gActiveDecoderFunctions = &gDecoderFunctions;
    gActiveDecoderFunctions->init(handle, channel);
    return 1;
}

int32_t Decoder_Query(TDecoderHandle* handle)
{
    if (!handle) return -1;
    return Decoder_SetOption(handle);
}

int32_t Decoder_SetOption(TDecoderHandle* handle)
{
    TDecoderChannel* channel = handle->channel;
    if (!channel || !channel->context || !channel->context->priv_data) return -1;
    // The NAL length size (4) was given to the decoder in its extradata when
    // it was opened; a decoder that did not open has no private state.
    return 0;
}

TDecoderModule* Decoder_GetModule(uint32_t channel)
{
    TDecoderModule* module = Decoder_NewModule(channel);
    if (!module) return nullptr;
    return module->ops->bind(module, channel);
}

TDecoderModule* Decoder_NewModule(uint32_t channel)
{
    if (channel > 2) return nullptr;
    TDecoderModule* module = &gDecoderModules[channel];
    module->ops = nullptr;
    module->link = nullptr;
    module->handle = nullptr;
    module->link = Decoder_GetLinkBlock(channel);
    module->ops = &kModuleOps;
    return module;
}

TDecoderLink* Decoder_GetLinkBlock(uint32_t channel)
{
    if (channel > 2) return nullptr;
    gDecoderLinks[channel].handle = nullptr;
    return &gDecoderLinks[channel];
}

TDecoderHandle* Decoder_GetHandleSlot(TDecoderModule* module, uint32_t channel)
{
    if (channel > 2) return nullptr;
    module->handle = &gDecoderHandles[channel];
    return module->handle;
}

TDecoderModule* DecoderModule_Bind(TDecoderModule* module, uint32_t channel)
{
    TDecoderHandle* handle = Decoder_GetHandleSlot(module, channel);
    if (handle && module->link) {
        module->link->handle = handle;
        handle->link = module->link;
    }
    return module;
}

TDecoderOutput* Decoder_GetPrivateBlock(uint32_t channel)
{
    TDecoderOutput* output = &gDecoderOutputs[channel < DECODER_MODULE_SLOTS ? channel : 0];
    output->width = 0;
    output->height = 0;
    output->picture = nullptr;
    return output;
}

// --- Decoder functions ---------------------------------------------------------

int Decoder_Init(TDecoderHandle* handle, uint32_t channel)
{
    if (channel >= DECODER_CHANNELS) return 0;
    if (!gLibraryReady) {
        av_log_set_level(AV_LOG_QUIET); // the viewer writes no log
        gLibraryReady = 1;
    }
    TDecoderChannel* ch = &gDecoderChannels[channel];
    handle->channel = ch;
    if (ch->context) return 1; // opened once, for the life of the process
    memset(ch, 0, sizeof *ch);
    ch->number = channel;

    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec) return 0;
    AVCodecContext* context = avcodec_alloc_context3(codec);
    ch->frame = av_frame_alloc();
    ch->packet = av_packet_alloc();
    ch->input = av_buffer_create(gInputBuffers[channel], kInputSize, NoFree, nullptr, 0);
    if (!context || !ch->frame || !ch->packet || !ch->input) {
        avcodec_free_context(&context);
        return 0;
    }
    context->width = (int)handle->width;
    context->height = (int)handle->height;
    context->opaque = ch;
    context->get_buffer2 = PoolGetBuffer;
    // One thread on the caller's; every picture comes out of the call that
    // decoded it.
    context->thread_count = 1;
    context->thread_type = 0;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    // An avcC record without parameter sets: it tells the decoder that NAL
    // units carry 4-byte lengths (lengthSizeMinusOne = 3).
    static const uint8_t kAvcC[7] = {1, 66, 0, 30, 0xFC | 3, 0xE0 | 0, 0};
    context->extradata = (uint8_t*)av_mallocz(sizeof kAvcC + AV_INPUT_BUFFER_PADDING_SIZE);
    if (!context->extradata) {
        avcodec_free_context(&context);
        return 0;
    }
    memcpy(context->extradata, kAvcC, sizeof kAvcC);
    context->extradata_size = sizeof kAvcC;
    if (avcodec_open2(context, codec, nullptr) < 0) {
        avcodec_free_context(&context);
        return 0;
    }
    ch->context = context;
    return 1;
}

void Decoder_Close(TDecoderHandle* handle)
{
    if (!handle || !handle->channel) return;
    TDecoderChannel* ch = handle->channel;
    av_frame_free(&ch->frame);
    av_packet_free(&ch->packet);
    avcodec_free_context(&ch->context);
    av_buffer_unref(&ch->input);
}

int Decoder_Control() { return -1; }

TPictureRecord* Decoder_Decode(TDecoderHandle* handle, const uint8_t* buffer, uint32_t length, uint32_t)
{
    if (gDecodeConnection < 0 || gDecodeConnection >= CONN_COUNT) return nullptr;
    TDecoderChannel* ch = handle->channel;
    if (!ch || !ch->context || length < 1 || !buffer) return nullptr;
    if (length > DECODER_INPUT_MAX) return nullptr;
    TStreamRecord* stream = &gStreamRecords[gDecodeConnection];
    if (stream->keyFrameWord == 1) {
        ch->sizeKnown = 0;
        stream->keyFrameWord = 0;
    }

    // The previous picture is released here: the display is done with it.
    ReleasePicture(ch);
    // The decoder consumes each access unit in the call that takes it, so
    // the input buffer is free again; never write into one it still holds.
    if (av_buffer_get_ref_count(ch->input) != 1) avcodec_flush_buffers(ch->context);
    if (av_buffer_get_ref_count(ch->input) != 1) return nullptr;
    uint8_t* input = ch->input->data;
    memcpy(input, buffer, length);
    memset(input + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    AVPacket* packet = ch->packet;
    packet->buf = ch->input;
    packet->data = input;
    packet->size = (int)length;
    BeforeDecode();
    int sent = avcodec_send_packet(ch->context, packet);
    if (sent == AVERROR(EAGAIN)) {
        // Pictures left over from input that held more than one: this
        // access unit's picture is the one to show.
        while (avcodec_receive_frame(ch->context, ch->frame) >= 0) ReleasePicture(ch);
        BeforeDecode();
        sent = avcodec_send_packet(ch->context, packet);
    }
    packet->buf = nullptr; // the channel's own reference stays with the channel
    packet->data = nullptr;
    packet->size = 0;
    if (sent < 0 && sent != AVERROR(EAGAIN)) gSliceStatus = -1;
    int got = avcodec_receive_frame(ch->context, ch->frame);
    if (got < 0) return nullptr;
    AVFrame* frame = ch->frame;
    if (frame->decode_error_flags != 0 || (frame->flags & AV_FRAME_FLAG_CORRUPT)) gSliceStatus = -1;

    // The record always takes the size of the picture just decoded.
    if (frame->width <= 0 || frame->height <= 0) return nullptr;
    if (Decoder_CheckSize(handle, (uint32_t)frame->width, (uint32_t)frame->height) != 0) return nullptr;
    TPictureRecord* record = Decoder_PreparePicture(handle, 0, 1, handle->width, handle->height);
    if (!record) return nullptr;
    for (int i = 0; i < 3; i++) {
        record->plane[i] = frame->data[i];
        record->stride[i] = frame->linesize[i] > 0 ? (uint32_t)frame->linesize[i] : 0;
    }
    record->plane[3] = nullptr;
    record->stride[3] = 0;
    if (!record->plane[0] || !record->plane[1] || !record->plane[2]) return nullptr;
    ch->pictures++;
    record->attributes[0] = (uint32_t)frame->pict_type;
    record->attributes[1] = frame->key_frame ? 1 : 0;
    record->attributes[2] = ch->pictures;
    record->attributes[3] =
        1 | (frame->key_frame ? 32 : 0) | (frame->interlaced_frame ? 2 : 0) | (frame->top_field_first ? 4 : 0);
    record->attributes[4] = (uint32_t)frame->decode_error_flags;
    return record;
}

int32_t Decoder_CheckSize(TDecoderHandle* handle, uint32_t width, uint32_t height)
{
    TDecoderChannel* ch = handle->channel;
    if (ch->sizeKnown && handle->width == width && handle->height == height) return 0;
    handle->width = width;
    handle->height = height;
    if (Decoder_StoreSize(handle) == 0) return -1;
    ch->sizeKnown = 1;
    return 0;
}

int Decoder_StoreSize(TDecoderHandle* handle)
{
    if (handle->width == 0 || handle->height == 0) return 0;
    handle->output->width = handle->width;
    handle->output->height = handle->height;
    return 1;
}

TPictureRecord* Decoder_PreparePicture(TDecoderHandle* handle, uint8_t kind, uint16_t format, uint32_t width,
                                       uint32_t height)
{
    TPictureRecord* r =
        Picture_Prepare(handle->output, handle->descriptor->outputFourccs[0], kind, format, width, height);
    if (r) r->reserved[0] = r->reserved[1] = 0;
    return r;
}

TPictureRecord* Picture_Prepare(TDecoderOutput* output, uint32_t, uint8_t kind, uint16_t format, uint32_t width,
                                uint32_t height)
{
    if (width == 0xFFFFFFFFu) width = output->width;
    if (height == 0xFFFFFFFFu) height = output->height;
    if (!output->picture) {
        output->picture = Picture_New((format & 4) ? (width + 15) / 16 * 16 : width, height);
        if (!output->picture) return nullptr;
    }
    TPictureRecord* r = output->picture;
    r->kind = kind;
    r->width = output->width;
    r->height = output->height;
    uint16_t flags = (uint16_t)((r->flags & 0xCF00) + (format & 0x10FF));
    flags &= 0xEFFF;
    if (!(flags & 0x8000)) flags |= 0x8000;
    r->flags = flags;
    r->attributes[0] = 0;
    return r;
}

TPictureRecord* Picture_New(uint32_t width, uint32_t height)
{
    TPictureRecord* r = (TPictureRecord*)calloc(1, sizeof(TPictureRecord));
    if (!r) return nullptr;
    r->allocWidth = r->width = width;
    r->allocHeight = r->height = height;
    return r;
}

// --- Entry points ---------------------------------------------------------------

int Decoder_DecodeFrame(const uint8_t* buffer, uint32_t length, uint32_t channel)
{
    if (!gPicturePool || !buffer || length == 0) return 0;
    if (channel >= DECODER_CHANNELS) return 0;
    gDecoderChannel = (int32_t)channel;
    TDecoderHandle* handle = gBoundHandle[channel];
    if (!handle) return 0;
    return Decoder_DecodeAndShow(handle, buffer, length);
}

int Decoder_DecodeAndShow(TDecoderHandle* handle, const uint8_t* buffer, uint32_t length)
{
    if (!gActiveDecoderFunctions) return 0;
    TPictureRecord* r = gActiveDecoderFunctions->decode(handle, buffer, length, 0);
    if (!r) return 0;
    Win_Milestone(MILESTONE_PICTURE_DECODED);
    ShowPicture(r);
    return 1;
}
