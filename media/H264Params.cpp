// The synthesised H.264 parameter sets (one Baseline SPS per picture size,
// one fixed PPS) and the filler P slices of movie files. Owns the constant
// PPS, filler and frame-number tables; keeps no state of its own (the gap
// bookkeeping lives in the movie writer's TFillGap).
#include "media/H264Params.h"
#include <cstring>

const uint8_t gH264Pps[4 + H264_PPS_LENGTH] = {
    0x00, 0x00, 0x00, 0x05, // length
    0x68,                   // NAL header: PPS
    0xC9, 0x08, 0x38, 0x80, // ids 0, CAVLC, 4 reference frames by default, QP 26, stop bit
};

// Each a 4-byte length 28 and a P slice (NAL header 0x41) that skips every
// macroblock; they differ in the skip run, bytes 7 to 10.
const uint8_t gH264Fillers[H264_FILLER_TEMPLATES][H264_FILLER_SIZE] = {
    {0x00, 0x00, 0x00, 0x1C, 0x41, 0x9A, 0x21, 0x83, 0x00, 0x09, 0x63, 0x00}, // 40 x 30
    {0x00, 0x00, 0x00, 0x1C, 0x41, 0x9A, 0x21, 0x85, 0x00, 0x4B, 0x30, 0x00}, // 40 x 15
    {0x00, 0x00, 0x00, 0x1C, 0x41, 0x9A, 0x21, 0x85, 0x00, 0x28, 0x0C, 0x00}, // 40 x 32
    {0x00, 0x00, 0x00, 0x1C, 0x41, 0x9A, 0x21, 0x85, 0x00, 0x50, 0x30, 0x00}, // 40 x 16
    {0x00, 0x00, 0x00, 0x1C, 0x41, 0x9A, 0x21, 0x85, 0x00, 0x96, 0xC0, 0x00}, // 20 x 15
    {0x00, 0x00, 0x00, 0x1C, 0x41, 0x9A, 0x21, 0x85, 0x00, 0xA0, 0xC0, 0x00}, // 20 x 16
};

// first_mb_in_slice 0, slice_type 5, pic_parameter_set_id 0, then frame_num
// k in the last bit of byte 5 and the first three of byte 6, followed by
// pic_order_cnt_lsb 0 and the reference-count override flag.
const uint8_t gH264FrameNumbers[H264_FRAME_NUMBERS][2] = {
    {0x9A, 0x01}, {0x9A, 0x21}, {0x9A, 0x41}, {0x9A, 0x61}, {0x9A, 0x81}, {0x9A, 0xA1}, {0x9A, 0xC1}, {0x9A, 0xE1},
    {0x9B, 0x01}, {0x9B, 0x21}, {0x9B, 0x41}, {0x9B, 0x61}, {0x9B, 0x81}, {0x9B, 0xA1}, {0x9B, 0xC1}, {0x9B, 0xE1},
};

enum { SPS_HEAD = 8 }; // length field, NAL header, profile, constraints, level

uint32_t Int_Power(uint32_t base, uint32_t exponent)
{
    uint32_t r = 1;
    for (uint32_t i = 0; i < exponent; ++i) r *= base;
    return r;
}

uint32_t ExpGolomb_Size(uint32_t v)
{
    uint32_t m = 0;
    uint64_t x = ((uint64_t)v + 1) / 2;
    while (x != 0 && m < 16) {
        x /= 2;
        ++m;
    }
    return m;
}

// MSB-first bit writer over a zeroed buffer.
struct TBitWriter {
    uint8_t* bytes;
    uint32_t bit;
};

static void PutBits(TBitWriter* w, uint32_t value, uint32_t count)
{
    for (uint32_t i = count; i-- > 0;) {
        if ((value >> i) & 1) w->bytes[w->bit / 8] |= (uint8_t)(0x80 >> (w->bit % 8));
        ++w->bit;
    }
}

static void PutUe(TBitWriter* w, uint32_t v)
{
    uint32_t m = ExpGolomb_Size(v);
    PutBits(w, 0, m);
    PutBits(w, 1, 1);
    PutBits(w, v + 1 - Int_Power(2, m), m);
}

uint32_t H264_BuildSps(uint8_t* buffer, uint32_t widthMinus1, uint32_t heightMinus1)
{
    // 16 halvings reach values below 2^17 - 1; a larger one has no code here.
    const uint32_t largest = (1u << 17) - 2;
    if (!buffer || widthMinus1 > largest || heightMinus1 > largest) return 0;
    // 10 fixed bits, the two codes, 5 closing bits: the bytes written.
    uint32_t bits = 10 + 2 * ExpGolomb_Size(widthMinus1) + 1 + 2 * ExpGolomb_Size(heightMinus1) + 1 + 5;
    memset(buffer, 0, SPS_HEAD + (bits + 7) / 8);
    buffer[4] = 0x67; // NAL header: SPS
    buffer[5] = 0x42; // profile 66, Baseline
    buffer[6] = 0x00; // constraint flags
    buffer[7] = 0x1E; // level 3.0
    TBitWriter w = {buffer + SPS_HEAD, 0};
    // seq_parameter_set_id 0, log2_max_frame_num_minus4 0,
    // pic_order_cnt_type 0, log2_max_pic_order_cnt_lsb_minus4 0,
    // num_ref_frames 4, gaps_in_frame_num_value_allowed_flag 0
    PutBits(&w, 0x3CA, 10);
    PutUe(&w, widthMinus1);  // pic_width_in_mbs_minus1
    PutUe(&w, heightMinus1); // pic_height_in_map_units_minus1
    // frame_mbs_only_flag 1, direct_8x8_inference_flag 1,
    // frame_cropping_flag 0, vui_parameters_present_flag 0, stop bit
    PutBits(&w, 0x19, 5);
    uint32_t spsLength = 4 + (w.bit + 7) / 8; // NAL header to the padded last byte
    buffer[3] = (uint8_t)spsLength;
    memcpy(buffer + 4 + spsLength, gH264Pps, sizeof gH264Pps);
    return 4 + spsLength + (uint32_t)sizeof gH264Pps;
}

int H264_MakeParamSets(uint32_t widthCode, uint32_t heightCode, uint8_t* buffer, uint32_t* outLength, uint32_t form)
{
    if (outLength) *outLength = 0;
    if (!buffer || !outLength || form > H264_FORM_AVCC) return -1;
    if (widthCode == 0 || heightCode == 0 || widthCode > H264_MAX_CODE || heightCode > H264_MAX_CODE) return -1;
    uint8_t pair[H264_PARAM_SETS_MAX];
    uint32_t n = H264_BuildSps(pair, widthCode - 1, heightCode - 1);
    if (n == 0) return -1;
    if (form == H264_FORM_AVC1) {
        memcpy(buffer, pair, n);
        *outLength = n;
        return 0;
    }
    uint32_t spsLength = pair[3];
    const uint8_t* sps = pair + 4;
    uint8_t* p = buffer;
    *p++ = (uint8_t)(spsLength >> 8); // SPS length, 16-bit big-endian
    *p++ = (uint8_t)spsLength;
    memcpy(p, sps, spsLength);
    p += spsLength;
    *p++ = 1; // number of PPS
    *p++ = 0; // PPS length
    *p++ = H264_PPS_LENGTH;
    memcpy(p, gH264Pps + 4, H264_PPS_LENGTH);
    p += H264_PPS_LENGTH;
    memset(p, 0, 4); // four zero bytes
    p += 4;
    *outLength = (uint32_t)(p - buffer);
    return 0;
}

uint32_t H264_FillerTemplate(uint32_t widthCode, uint32_t heightCode)
{
    static const uint8_t sizes[H264_FILLER_TEMPLATES][2] = {{40, 30}, {40, 15}, {40, 32}, {40, 16}, {20, 15}, {20, 16}};
    for (uint32_t t = 0; t < H264_FILLER_TEMPLATES; ++t)
        if (sizes[t][0] == widthCode && sizes[t][1] == heightCode) return t;
    return 0;
}

// A size not in the table gets the slice of the listed sizes other than
// 40 x 30 with its skip run re-coded for the real macroblock count: the
// slice header up to the run (bytes 4 to 7), mb_skip_run as ue(v), the
// stop bit, zeros.
void H264_MakeFiller(uint32_t widthCode, uint32_t heightCode, uint8_t* out)
{
    if (!out) return;
    static const uint8_t sizes[H264_FILLER_TEMPLATES][2] = {{40, 30}, {40, 15}, {40, 32}, {40, 16}, {20, 15}, {20, 16}};
    for (uint32_t t = 0; t < H264_FILLER_TEMPLATES; ++t)
        if (sizes[t][0] == widthCode && sizes[t][1] == heightCode) {
            memcpy(out, gH264Fillers[t], H264_FILLER_SIZE);
            return;
        }
    memset(out, 0, H264_FILLER_SIZE);
    memcpy(out, gH264Fillers[1], 8);
    uint32_t bit = 64; // the run starts at byte 8
    auto put = [&](uint32_t b) {
        if (b) out[bit / 8] |= (uint8_t)(0x80 >> (bit % 8));
        ++bit;
    };
    uint64_t code = (uint64_t)widthCode * heightCode + 1; // ue(v): zeros, then v + 1 in binary
    uint32_t width = 0;
    while ((code >> width) > 1) ++width;
    for (uint32_t i = 0; i < width; ++i) put(0);
    for (uint32_t i = width + 1; i-- > 0;) put((uint32_t)(code >> i) & 1);
    put(1); // rbsp stop bit
}

void H264_SetFrameNumber(uint8_t* sample, uint32_t length, uint32_t frameNumber)
{
    if (!sample || length < 7) return;
    const uint8_t* entry = gH264FrameNumbers[frameNumber % H264_FRAME_NUMBERS];
    sample[5] = entry[0];
    sample[6] = entry[1];
}

void Mov_FillGapStart(TFillGap* gap, uint32_t frameRate, uint32_t time, uint32_t frameNumber)
{
    if (!gap) return;
    gap->frameRate = frameRate;
    gap->counter = frameNumber % H264_FRAME_NUMBERS;
    gap->expected = 0;
    gap->written = 0;
    gap->lastTime = time;
    gap->lastFrameNumber = frameNumber;
}

// The frames since the last unit (the recorder's numbering) and the
// fillers they call for; the caller adds the first to the expected count.
static int64_t FillersFor(const TFillGap* gap, uint32_t time, uint32_t frameNumber, int64_t* since)
{
    int64_t missing =
        (int64_t)(time - gap->lastTime) * gap->frameRate + ((int64_t)frameNumber - (int64_t)gap->lastFrameNumber);
    if (since) *since = missing;
    int64_t expected = (int64_t)gap->expected + missing;
    if (missing > 0) missing -= 1;
    if (expected > (int64_t)gap->written) {
        int64_t owed = expected - (int64_t)gap->written;
        if (owed < missing) missing = owed;
    } else {
        missing = 0;
    }
    return missing < 0 ? 0 : missing;
}

uint32_t Mov_FillersNeeded(const TFillGap* gap, uint32_t time, uint32_t frameNumber)
{
    if (!gap || time < gap->lastTime) return 0;
    int64_t n = FillersFor(gap, time, frameNumber, nullptr);
    return n > 0xFFFFFFFFll ? 0xFFFFFFFFu : (uint32_t)n;
}

int Mov_FillGap(TFillGap* gap, uint32_t sampleCount, uint8_t* payload, uint32_t sampleLength, uint32_t frameType,
                uint32_t time, uint32_t frameNumber, uint32_t widthCode, uint32_t heightCode, TFillerWrite write)
{
    if (!gap) return 0;
    if (time < gap->lastTime) return 0; // older than the last unit: nothing written
    int64_t since = 0;
    int64_t missing = FillersFor(gap, time, frameNumber, &since);
    if ((int64_t)sampleCount + missing > 65536) return -1;
    gap->expected = (uint32_t)((int64_t)gap->expected + since);

    uint8_t filler[H264_FILLER_SIZE];
    H264_MakeFiller(widthCode, heightCode, filler);
    for (int64_t i = 0; i < missing; ++i) {
        H264_SetFrameNumber(filler, sizeof filler, gap->counter);
        if (write) write(filler, sizeof filler);
        gap->counter = (gap->counter + 1) % H264_FRAME_NUMBERS;
        gap->written += 1;
    }
    if (frameType != 0) {
        H264_SetFrameNumber(payload, sampleLength, gap->counter);
        gap->counter = (gap->counter + 1) % H264_FRAME_NUMBERS;
    } else {
        gap->counter = 1; // the next P frame after a key frame is frame 1
    }
    gap->lastTime = time;
    gap->lastFrameNumber = frameNumber;
    gap->written += 1;
    return (int)(missing * H264_FILLER_SIZE);
}
