// The synthesised H.264 parameter sets and the filler P slices, checked
// against libavcodec: an I_PCM picture coded under the parameter sets of
// every size must decode to exactly its samples at that size, each filler
// must decode as a copy of the picture before it, and a stream renumbered
// by the gap filler must decode without a frame-number error. The golden
// bytes of the documented sizes and the Exp-Golomb sizes are checked too.
#include "media/H264Params.h"
#include "tests/support/Scratch.h"
#include <gtest/gtest.h>
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
}
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes ParamSets(uint32_t w, uint32_t h, uint32_t form)
{
    uint8_t buf[H264_PARAM_SETS_MAX];
    uint32_t n = 0xDEAD;
    EXPECT_EQ(H264_MakeParamSets(w, h, buf, &n, form), 0);
    EXPECT_LE(n, (uint32_t)H264_PARAM_SETS_MAX);
    return Bytes(buf, buf + (n <= H264_PARAM_SETS_MAX ? n : 0));
}

Bytes Hex(const char* text)
{
    Bytes b;
    for (const char* p = text; *p;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        b.push_back((uint8_t)strtoul(std::string(p, 2).c_str(), nullptr, 16));
        p += 2;
    }
    return b;
}

// An MSB-first bit writer, written from the H.264 syntax, independent of
// the one under test.
struct Bits {
    Bytes bytes;
    uint32_t n = 0;
    void Put(uint32_t value, uint32_t count)
    {
        for (uint32_t i = count; i-- > 0;) {
            if (n % 8 == 0) bytes.push_back(0);
            if ((value >> i) & 1) bytes.back() |= (uint8_t)(0x80 >> (n % 8));
            ++n;
        }
    }
    void Ue(uint32_t v)
    {
        uint32_t m = 0;
        while (((v + 1) >> (m + 1)) != 0) ++m;
        Put(0, m);
        Put(v + 1, m + 1);
    }
    void Align()
    {
        while (n % 8) Put(0, 1);
    }
};

// RBSP to NAL payload: an emulation-prevention byte after two zeros.
Bytes Escape(const Bytes& rbsp)
{
    Bytes out;
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out.push_back(3);
            zeros = 0;
        }
        out.push_back(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    return out;
}

Bytes LengthPrefixed(const Bytes& nal)
{
    uint32_t n = (uint32_t)nal.size();
    Bytes b = {(uint8_t)(n >> 24), (uint8_t)(n >> 16), (uint8_t)(n >> 8), (uint8_t)n};
    b.insert(b.end(), nal.begin(), nal.end());
    return b;
}

// A planar 4:2:0 picture.
struct Picture {
    uint32_t width = 0, height = 0;
    Bytes y, u, v;
};

Picture Pattern(uint32_t wMb, uint32_t hMb, uint32_t seed)
{
    Picture p;
    p.width = wMb * 16;
    p.height = hMb * 16;
    p.y.resize(p.width * p.height);
    p.u.resize(p.width * p.height / 4);
    p.v.resize(p.width * p.height / 4);
    for (uint32_t r = 0; r < p.height; ++r)
        for (uint32_t c = 0; c < p.width; ++c) p.y[r * p.width + c] = (uint8_t)(16 + (c * 3 + r * 5 + seed) % 220);
    for (size_t i = 0; i < p.u.size(); ++i) {
        p.u[i] = (uint8_t)(30 + (i * 7 + seed) % 200);
        p.v[i] = (uint8_t)(40 + (i * 11 + seed) % 200);
    }
    return p;
}

// An IDR slice (frame_num 0, POC 0) of I_PCM macroblocks carrying p, for
// the one PPS: CAVLC, no deblocking control, no redundant picture count.
Bytes IdrPcm(const Picture& p)
{
    Bits b;
    b.Put(0x65, 8); // nal_ref_idc 3, IDR slice
    b.Ue(0);        // first_mb_in_slice
    b.Ue(7);        // slice_type: I, all slices
    b.Ue(0);        // pic_parameter_set_id
    b.Put(0, 4);    // frame_num
    b.Ue(0);        // idr_pic_id
    b.Put(0, 4);    // pic_order_cnt_lsb
    b.Put(0, 1);    // no_output_of_prior_pics_flag
    b.Put(0, 1);    // long_term_reference_flag
    b.Ue(0);        // slice_qp_delta se(0)
    uint32_t wMb = p.width / 16, hMb = p.height / 16;
    for (uint32_t my = 0; my < hMb; ++my)
        for (uint32_t mx = 0; mx < wMb; ++mx) {
            b.Ue(25); // mb_type I_PCM
            b.Align();
            for (uint32_t r = 0; r < 16; ++r)
                for (uint32_t c = 0; c < 16; ++c) b.Put(p.y[(my * 16 + r) * p.width + mx * 16 + c], 8);
            for (const Bytes* plane : {&p.u, &p.v})
                for (uint32_t r = 0; r < 8; ++r)
                    for (uint32_t c = 0; c < 8; ++c) b.Put((*plane)[(my * 8 + r) * (p.width / 2) + mx * 8 + c], 8);
        }
    b.Put(1, 1); // rbsp_stop_one_bit
    b.Align();
    return LengthPrefixed(Escape(b.bytes));
}

// avcC as a movie file carries it: the fixed head, then form 1.
Bytes AvcC(uint32_t w, uint32_t h)
{
    Bytes form1 = ParamSets(w, h, H264_FORM_AVCC);
    Bytes c = {1, 0x42, 0x00, 0x1E, 0xFF, 0xE1};
    c.insert(c.end(), form1.begin(), form1.end());
    return c;
}

// One libavcodec H.264 decoder that fails on any bitstream error.
class Decoder {
public:
    explicit Decoder(const Bytes& extradata = {})
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        ctx = avcodec_alloc_context3(codec);
        ctx->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER;
        ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
        ctx->flags2 |= AV_CODEC_FLAG2_CHUNKS;
        ctx->thread_count = 1;
        if (!extradata.empty()) {
            ctx->extradata = (uint8_t*)av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE);
            memcpy(ctx->extradata, extradata.data(), extradata.size());
            ctx->extradata_size = (int)extradata.size();
        }
        opened = avcodec_open2(ctx, codec, nullptr) == 0;
        frame = av_frame_alloc();
        packet = av_packet_alloc();
    }
    ~Decoder()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
    // Decodes one access unit; the pictures that came out are appended.
    bool Decode(const Bytes& unit)
    {
        if (av_new_packet(packet, (int)unit.size()) < 0) return false;
        memcpy(packet->data, unit.data(), unit.size());
        int r = avcodec_send_packet(ctx, packet);
        av_packet_unref(packet);
        if (r < 0) return false;
        return Drain();
    }
    bool Flush()
    {
        if (avcodec_send_packet(ctx, nullptr) < 0) return false;
        return Drain();
    }
    bool opened = false;
    std::vector<Picture> pictures;
    int errors = 0;

private:
    bool Drain()
    {
        for (;;) {
            int r = avcodec_receive_frame(ctx, frame);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
            if (r < 0) return false;
            if (frame->decode_error_flags) ++errors;
            Picture p;
            p.width = (uint32_t)frame->width;
            p.height = (uint32_t)frame->height;
            for (uint32_t r2 = 0; r2 < p.height; ++r2)
                p.y.insert(p.y.end(), frame->data[0] + r2 * frame->linesize[0],
                           frame->data[0] + r2 * frame->linesize[0] + p.width);
            for (uint32_t r2 = 0; r2 < p.height / 2; ++r2) {
                p.u.insert(p.u.end(), frame->data[1] + r2 * frame->linesize[1],
                           frame->data[1] + r2 * frame->linesize[1] + p.width / 2);
                p.v.insert(p.v.end(), frame->data[2] + r2 * frame->linesize[2],
                           frame->data[2] + r2 * frame->linesize[2] + p.width / 2);
            }
            pictures.push_back(p);
            av_frame_unref(frame);
        }
    }
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
};

bool Same(const Picture& a, const Picture& b)
{
    return a.width == b.width && a.height == b.height && a.y == b.y && a.u == b.u && a.v == b.v;
}

Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(H264Params, GoldenBytes)
{
    // 40 x 30 macroblocks: fields 39 and 29, 99 bits, a 13-byte block
    // whose length field says 9.
    EXPECT_EQ(ParamSets(40, 30, H264_FORM_AVC1), Hex("00000009 6742001E F281407B20 00000005 68C9083880"));
    EXPECT_EQ(ParamSets(40, 30, H264_FORM_AVCC), Hex("0009 6742001EF281407B20 01 0005 68C9083880 00000000"));
    // 20 x 15: a shorter SPS.
    Bytes small = ParamSets(20, 15, H264_FORM_AVC1);
    ASSERT_GE(small.size(), 4u);
    EXPECT_EQ(small[3], 8);
    EXPECT_EQ(small.size(), 4u + 8 + 9);
    uint8_t buf[H264_PARAM_SETS_MAX];
    EXPECT_EQ(H264_BuildSps(buf, 39, 29), 4u + 9 + 9);
    EXPECT_EQ(Bytes(buf, buf + 22), ParamSets(40, 30, H264_FORM_AVC1));
}

TEST(H264Params, SizesWithoutACodeAreRefused)
{
    uint8_t buf[H264_PARAM_SETS_MAX];
    uint32_t n = 77;
    for (auto size : std::vector<std::pair<uint32_t, uint32_t>>{{0, 30}, {40, 0}, {256, 30}, {40, 256}}) {
        n = 77;
        EXPECT_EQ(H264_MakeParamSets(size.first, size.second, buf, &n, H264_FORM_AVC1), -1);
        EXPECT_EQ(n, 0u);
    }
    EXPECT_EQ(H264_MakeParamSets(40, 30, buf, &n, 2), -1);
    EXPECT_EQ(H264_MakeParamSets(40, 30, nullptr, &n, 0), -1);
}

TEST(H264Params, ExpGolombSizes)
{
    struct Row {
        uint32_t v, m;
    };
    const Row rows[] = {{0, 0},  {1, 1},   {2, 1},      {3, 2},      {6, 2},       {7, 3},          {29, 4},
                        {39, 5}, {254, 7}, {65534, 15}, {65535, 16}, {131070, 16}, {0xFFFFFFFF, 16}};
    for (const Row& r : rows) EXPECT_EQ(ExpGolomb_Size(r.v), r.m) << r.v;
    EXPECT_EQ(Int_Power(2, 0), 1u);
    EXPECT_EQ(Int_Power(2, 16), 65536u);
    EXPECT_EQ(Int_Power(3, 4), 81u);
}

// Every filler size, and others down to one macroblock and up to the
// largest codes.
const std::vector<std::pair<uint32_t, uint32_t>> kSizes = {
    {40, 30}, {40, 15}, {40, 32}, {40, 16}, {20, 15}, {20, 16}, {1, 1},
    {11, 9},  {22, 18}, {44, 36}, {45, 36}, {80, 45}, {255, 2}, {3, 255},
};

TEST(H264Params, APcmPictureDecodesExactlyUnderTheParameterSetsOfEverySize)
{
    for (auto size : kSizes) {
        SCOPED_TRACE(testing::Message() << size.first << " x " << size.second);
        Picture p = Pattern(size.first, size.second, size.first + size.second);
        // Form 1 as the decoder's configuration, form 0 in band before the
        // picture, as the stream step hands key frames on.
        Decoder d(AvcC(size.first, size.second));
        ASSERT_TRUE(d.opened);
        ASSERT_TRUE(d.Decode(Concat(ParamSets(size.first, size.second, H264_FORM_AVC1), IdrPcm(p))));
        ASSERT_TRUE(d.Flush());
        ASSERT_EQ(d.pictures.size(), 1u);
        EXPECT_EQ(d.errors, 0);
        EXPECT_EQ(d.pictures[0].width, p.width);
        EXPECT_EQ(d.pictures[0].height, p.height);
        EXPECT_TRUE(Same(d.pictures[0], p));
    }
}

TEST(H264Params, FormZeroAloneConfiguresTheDecoder)
{
    // No configuration record at all: the in-band pair is enough, as on
    // the decoder channels (length-prefixed, so it is told so by a bare
    // configuration record without parameter sets).
    Picture p = Pattern(22, 18, 9);
    Decoder d(Bytes{1, 0x42, 0x00, 0x1E, 0xFF, 0xE0, 0x00});
    ASSERT_TRUE(d.opened);
    ASSERT_TRUE(d.Decode(Concat(ParamSets(22, 18, H264_FORM_AVC1), IdrPcm(p))));
    ASSERT_TRUE(d.Flush());
    ASSERT_EQ(d.pictures.size(), 1u);
    EXPECT_TRUE(Same(d.pictures[0], p));
}

TEST(H264Params, EachFillerDecodesAsACopyOfThePictureBefore)
{
    const std::pair<uint32_t, uint32_t> sizes[H264_FILLER_TEMPLATES] = {{40, 30}, {40, 15}, {40, 32},
                                                                        {40, 16}, {20, 15}, {20, 16}};
    for (uint32_t t = 0; t < H264_FILLER_TEMPLATES; ++t) {
        uint32_t w = sizes[t].first, h = sizes[t].second;
        SCOPED_TRACE(testing::Message() << "template " << t << ", " << w << " x " << h);
        EXPECT_EQ(H264_FillerTemplate(w, h), t);
        Picture p = Pattern(w, h, t * 13);
        Decoder d(AvcC(w, h));
        ASSERT_TRUE(d.opened);
        ASSERT_TRUE(d.Decode(Concat(ParamSets(w, h, H264_FORM_AVC1), IdrPcm(p))));
        // Frame numbers 1 to 17: round the 4-bit counter and on.
        for (uint32_t k = 1; k <= 17; ++k) {
            Bytes filler(gH264Fillers[t], gH264Fillers[t] + H264_FILLER_SIZE);
            H264_SetFrameNumber(filler.data(), (uint32_t)filler.size(), k);
            ASSERT_TRUE(d.Decode(filler)) << "frame_num " << k;
        }
        ASSERT_TRUE(d.Flush());
        ASSERT_EQ(d.pictures.size(), 18u);
        EXPECT_EQ(d.errors, 0);
        for (const Picture& q : d.pictures) EXPECT_TRUE(Same(q, p));
    }
}

// Sizes the table does not list get a skip slice coded for their own
// macroblock count; the listed ones keep their bytes.
TEST(H264Params, FillersOfUnlistedSizesSkipTheirWholePicture)
{
    const std::pair<uint32_t, uint32_t> sizes[] = {{44, 36}, {11, 9}, {22, 18}, {45, 36}, {1, 1}, {80, 45}};
    for (const auto& size : sizes) {
        uint32_t w = size.first, h = size.second;
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        Bytes filler(H264_FILLER_SIZE);
        H264_MakeFiller(w, h, filler.data());
        EXPECT_EQ(Bytes(filler.begin(), filler.begin() + 4), (Bytes{0, 0, 0, 28}));
        Picture p = Pattern(w, h, w + h);
        Decoder d(AvcC(w, h));
        ASSERT_TRUE(d.opened);
        ASSERT_TRUE(d.Decode(Concat(ParamSets(w, h, H264_FORM_AVC1), IdrPcm(p))));
        for (uint32_t k = 1; k <= 3; ++k) {
            H264_SetFrameNumber(filler.data(), (uint32_t)filler.size(), k);
            ASSERT_TRUE(d.Decode(filler)) << "frame_num " << k;
        }
        ASSERT_TRUE(d.Flush());
        ASSERT_EQ(d.pictures.size(), 4u);
        EXPECT_EQ(d.errors, 0);
        for (const Picture& q : d.pictures) EXPECT_TRUE(Same(q, p));
    }
    const std::pair<uint32_t, uint32_t> listed[H264_FILLER_TEMPLATES] = {{40, 30}, {40, 15}, {40, 32},
                                                                         {40, 16}, {20, 15}, {20, 16}};
    for (uint32_t t = 0; t < H264_FILLER_TEMPLATES; ++t) {
        Bytes filler(H264_FILLER_SIZE);
        H264_MakeFiller(listed[t].first, listed[t].second, filler.data());
        EXPECT_EQ(filler, Bytes(gH264Fillers[t], gH264Fillers[t] + H264_FILLER_SIZE)) << t;
    }
}

TEST(H264Params, FillerTemplatesBySize)
{
    EXPECT_EQ(H264_FillerTemplate(44, 36), 0u);
    EXPECT_EQ(H264_FillerTemplate(30, 40), 0u);
    EXPECT_EQ(H264_FillerTemplate(20, 15), 4u);
    for (uint32_t t = 0; t < H264_FILLER_TEMPLATES; ++t) {
        EXPECT_EQ(gH264Fillers[t][3], 28);
        for (uint32_t i = 12; i < H264_FILLER_SIZE; ++i) EXPECT_EQ(gH264Fillers[t][i], 0) << t << " " << i;
    }
}

// What the gap filler writes for a movie file.
std::vector<Bytes> gWritten;
void RecordFiller(const uint8_t* sample, uint32_t size) { gWritten.emplace_back(sample, sample + size); }

uint32_t FrameNumberOf(const Bytes& sample)
{
    for (uint32_t k = 0; k < H264_FRAME_NUMBERS; ++k)
        if (sample[5] == gH264FrameNumbers[k][0] && sample[6] == gH264FrameNumbers[k][1]) return k;
    return 99;
}

TEST(H264Params, GapFillerTable)
{
    struct Unit {
        uint32_t type; // 0 key
        uint32_t time, frame;
        int result;                    // bytes of fillers written
        std::vector<uint32_t> fillers; // their frame numbers
        uint32_t renumbered;           // a P frame's new frame number
    };
    struct Row {
        const char* name;
        std::vector<Unit> units;
    };
    const Row rows[] = {
        {"key then P: the P frame is frame 1", {{0, 100, 0, 0, {}, 0}, {1, 100, 1, 0, {}, 1}, {1, 100, 2, 0, {}, 2}}},
        {"three intervals apart: two fillers numbered on",
         {{0, 100, 0, 0, {}, 0}, {1, 100, 1, 0, {}, 1}, {1, 100, 4, 64, {2, 3}, 4}}},
        {"across a second at 30 fps", {{0, 100, 28, 0, {}, 0}, {1, 101, 1, 64, {1, 2}, 3}}},
        {"an older unit writes nothing", {{0, 100, 0, 0, {}, 0}, {1, 99, 5, 0, {}, 99}, {1, 100, 1, 0, {}, 1}}},
        {"round the counter",
         {{0, 100, 0, 0, {}, 0},
          {1, 100, 15, 14 * 32, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, 15},
          {1, 100, 17, 32, {0}, 1}}},
        {"a key frame after a gap restarts the numbering",
         {{0, 100, 0, 0, {}, 0}, {0, 100, 3, 64, {1, 2}, 99}, {1, 100, 4, 0, {}, 1}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TFillGap gap;
        Mov_FillGapStart(&gap, 30, row.units[0].time, row.units[0].frame);
        uint32_t samples = 0;
        for (const Unit& u : row.units) {
            gWritten.clear();
            Bytes payload(gH264Fillers[0], gH264Fillers[0] + H264_FILLER_SIZE);
            payload[5] = payload[6] = 0x55;
            int r = Mov_FillGap(&gap, samples, payload.data(), (uint32_t)payload.size(), u.type, u.time, u.frame, 40,
                                30, RecordFiller);
            EXPECT_EQ(r, u.result) << "unit at " << u.time << "." << u.frame;
            std::vector<uint32_t> numbers;
            for (const Bytes& w : gWritten) numbers.push_back(FrameNumberOf(w));
            EXPECT_EQ(numbers, u.fillers);
            if (u.type != 0 && u.renumbered != 99) {
                EXPECT_EQ(FrameNumberOf(payload), u.renumbered);
            } else {
                EXPECT_EQ(payload[5], 0x55) << "not renumbered";
            }
            samples += (uint32_t)gWritten.size() + 1;
        }
    }
}

TEST(H264Params, GapFillerKeepsAFileWithinItsSampleCount)
{
    TFillGap gap;
    Mov_FillGapStart(&gap, 25, 100, 0);
    uint8_t payload[H264_FILLER_SIZE] = {};
    gWritten.clear();
    EXPECT_EQ(Mov_FillGap(&gap, 65530, payload, sizeof payload, 0, 100, 0, 40, 30, RecordFiller), 0);
    // Ten frames missing would pass 65,536 samples.
    EXPECT_EQ(Mov_FillGap(&gap, 65530, payload, sizeof payload, 1, 100, 11, 40, 30, RecordFiller), -1);
    EXPECT_TRUE(gWritten.empty());
}

TEST(H264Params, ARenumberedStreamWithFillersDecodesWithoutAFrameNumberError)
{
    // P "frames" that are themselves skipped slices, with gaps the filler
    // closes; the decoder fails on any break in the frame numbers.
    for (uint32_t t : {0u, 4u}) {
        const uint32_t w = t == 0 ? 40 : 20, h = t == 0 ? 30 : 15;
        SCOPED_TRACE(testing::Message() << w << " x " << h);
        Picture p = Pattern(w, h, 5);
        Decoder d(AvcC(w, h));
        ASSERT_TRUE(d.Decode(Concat(ParamSets(w, h, H264_FORM_AVC1), IdrPcm(p))));
        TFillGap gap;
        Mov_FillGapStart(&gap, 30, 200, 0);
        uint8_t none[H264_FILLER_SIZE] = {};
        Mov_FillGap(&gap, 0, none, sizeof none, 0, 200, 0, w, h, nullptr); // the key frame
        const uint32_t frames[][2] = {{200, 1}, {200, 2}, {200, 6}, {200, 7}, {201, 3}, {201, 4}, {202, 29}};
        uint32_t samples = 1, pictures = 1;
        for (const auto& f : frames) {
            Bytes unit(gH264Fillers[t], gH264Fillers[t] + H264_FILLER_SIZE);
            gWritten.clear();
            int r = Mov_FillGap(&gap, samples, unit.data(), (uint32_t)unit.size(), 1, f[0], f[1], w, h, RecordFiller);
            ASSERT_GE(r, 0);
            for (const Bytes& filler : gWritten) ASSERT_TRUE(d.Decode(filler));
            ASSERT_TRUE(d.Decode(unit));
            samples += (uint32_t)gWritten.size() + 1;
            pictures += (uint32_t)gWritten.size() + 1;
        }
        ASSERT_TRUE(d.Flush());
        EXPECT_EQ(d.pictures.size(), pictures);
        EXPECT_EQ(d.errors, 0);
        EXPECT_EQ(pictures, 1u + 2 + 4 + 1 + 26 + 1 + 55);
    }
}

#ifdef TAVLIN_FFMPEG
// The ffmpeg tool's reading of the fields, through its header tracer.
TEST(H264Params, TheHeaderTracerReadsTheFields)
{
    const std::string file = ScratchFile("tavlin-sps");
    const char* path = file.c_str();
    int fd = open(path, O_WRONLY);
    ASSERT_GE(fd, 0);
    // Annex B: the same NAL units behind start codes.
    Bytes pair = ParamSets(40, 30, H264_FORM_AVC1);
    Bytes annexB;
    for (size_t i = 0; i + 4 <= pair.size();) {
        uint32_t n = (uint32_t)pair[i] << 24 | pair[i + 1] << 16 | pair[i + 2] << 8 | pair[i + 3];
        annexB.insert(annexB.end(), {0, 0, 0, 1});
        annexB.insert(annexB.end(), pair.begin() + i + 4, pair.begin() + i + 4 + n);
        i += 4 + n;
    }
    Bytes idr = IdrPcm(Pattern(40, 30, 1));
    annexB.insert(annexB.end(), {0, 0, 0, 1});
    annexB.insert(annexB.end(), idr.begin() + 4, idr.end());
    ASSERT_EQ(write(fd, annexB.data(), annexB.size()), (ssize_t)annexB.size());
    close(fd);
    std::string cmd = std::string(TAVLIN_FFMPEG) + " -hide_banner -loglevel trace -f h264 -i " + path +
                      " -c copy -bsf:v trace_headers -f null - 2>&1";
    FILE* f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string out;
    char line[512];
    while (fgets(line, sizeof line, f)) out += line;
    pclose(f);
    unlink(path);
    auto field = [&](const std::string& name) {
        size_t at = out.find(" " + name + " ");
        if (at == std::string::npos) return std::string("missing");
        size_t eq = out.find("= ", at);
        size_t end = out.find('\n', eq);
        return out.substr(eq + 2, end - eq - 2);
    };
    EXPECT_EQ(field("profile_idc"), "66");
    EXPECT_EQ(field("level_idc"), "30");
    EXPECT_EQ(field("log2_max_frame_num_minus4"), "0");
    EXPECT_EQ(field("pic_order_cnt_type"), "0");
    EXPECT_EQ(field("log2_max_pic_order_cnt_lsb_minus4"), "0");
    EXPECT_EQ(field("max_num_ref_frames"), "4");
    EXPECT_EQ(field("pic_width_in_mbs_minus1"), "39");
    EXPECT_EQ(field("pic_height_in_map_units_minus1"), "29");
    EXPECT_EQ(field("frame_mbs_only_flag"), "1");
    EXPECT_EQ(field("direct_8x8_inference_flag"), "1");
    EXPECT_EQ(field("frame_cropping_flag"), "0");
    EXPECT_EQ(field("vui_parameters_present_flag"), "0");
    EXPECT_EQ(field("entropy_coding_mode_flag"), "0");
    EXPECT_EQ(field("deblocking_filter_control_present_flag"), "0");
}
#endif

} // namespace
