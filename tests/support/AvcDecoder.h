// libavcodec's H.264 decoder for the tests, fed "avc1" access units as the
// viewer feeds it (NAL units behind 4-byte lengths, the viewer's parameter
// sets in band before key frames), and the planar pictures it gives back.
#pragma once
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}
#include "media/H264Params.h"
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace avc_test {

using Bytes = std::vector<uint8_t>;

// One 4:2:0 picture with tight planes.
struct Planes {
    uint32_t width, height;
    Bytes y, u, v;
    Planes(uint32_t w, uint32_t h) : width(w), height(h), y(w * h), u(w * h / 4), v(w * h / 4) {}
};

// A decoded 4:2:0 frame into tight planes; false for another format.
inline bool CopyFrame(const AVFrame* f, Planes* out)
{
    if (f->format != AV_PIX_FMT_YUV420P && f->format != AV_PIX_FMT_YUVJ420P) return false;
    *out = Planes(uint32_t(f->width), uint32_t(f->height));
    for (uint32_t r = 0; r < out->height; r++)
        memcpy(&out->y[r * out->width], f->data[0] + r * f->linesize[0], out->width);
    for (uint32_t r = 0; r < out->height / 2; r++) {
        memcpy(&out->u[r * out->width / 2], f->data[1] + r * f->linesize[1], out->width / 2);
        memcpy(&out->v[r * out->width / 2], f->data[2] + r * f->linesize[2], out->width / 2);
    }
    return true;
}

// Every picture of an H.264 Annex B stream, in output order, decoded on its
// own (the reference that a stream sent another way is compared with).
inline std::vector<Planes> DecodeAnnexB(const Bytes& stream)
{
    std::vector<Planes> pictures;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecParserContext* parser = codec ? av_parser_init(AV_CODEC_ID_H264) : nullptr;
    AVCodecContext* ctx = parser ? avcodec_alloc_context3(codec) : nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    if (ctx && frame && pkt && avcodec_open2(ctx, codec, nullptr) == 0) {
        Bytes padded(stream);
        padded.resize(stream.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        auto drain = [&]() {
            while (avcodec_receive_frame(ctx, frame) == 0) {
                Planes p(0, 0);
                if (CopyFrame(frame, &p)) pictures.push_back(p);
                av_frame_unref(frame);
            }
        };
        size_t at = 0;
        while (at < stream.size()) {
            uint8_t* data = nullptr;
            int size = 0;
            int used = av_parser_parse2(parser, ctx, &data, &size, padded.data() + at, int(stream.size() - at),
                                        AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used <= 0) break;
            at += size_t(used);
            if (size > 0) {
                av_new_packet(pkt, size);
                memcpy(pkt->data, data, size_t(size));
                avcodec_send_packet(ctx, pkt);
                av_packet_unref(pkt);
                drain();
            }
        }
        uint8_t* data = nullptr;
        int size = 0;
        av_parser_parse2(parser, ctx, &data, &size, nullptr, 0, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (size > 0) {
            av_new_packet(pkt, size);
            memcpy(pkt->data, data, size_t(size));
            avcodec_send_packet(ctx, pkt);
            av_packet_unref(pkt);
        }
        avcodec_send_packet(ctx, nullptr);
        drain();
    }
    av_packet_free(&pkt);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    if (parser) av_parser_close(parser);
    return pictures;
}

// libavcodec's H.264 decoder fed "avc1" access units, as the viewer feeds
// it: 4-byte NAL lengths, the parameter sets in band before key frames.
class Decoder {
public:
    explicit Decoder(uint32_t width_mbs, uint32_t height_mbs)
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        if (!codec) return;
        ctx_ = avcodec_alloc_context3(codec);
        frame_ = av_frame_alloc();
        if (!ctx_ || !frame_) return;
        // An avcC record tells the decoder that NAL units come behind 4-byte lengths.
        uint8_t sets[H264_PARAM_SETS_MAX];
        uint32_t n = 0;
        H264_MakeParamSets(width_mbs, height_mbs, sets, &n, H264_FORM_AVCC);
        Bytes extra = {1, 0x42, 0x00, 0x1E, 0xFF, 0xE1};
        extra.insert(extra.end(), sets, sets + n);
        ctx_->extradata = static_cast<uint8_t*>(av_mallocz(extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        memcpy(ctx_->extradata, extra.data(), extra.size());
        ctx_->extradata_size = int(extra.size());
        ctx_->thread_count = 1;
        ok_ = avcodec_open2(ctx_, codec, nullptr) == 0;
    }
    ~Decoder()
    {
        av_frame_free(&frame_);
        avcodec_free_context(&ctx_);
    }
    bool ok() const { return ok_; }

    // Decodes one access unit; true when it gave a picture, which goes to out.
    bool Decode(const Bytes& unit, Planes* out)
    {
        AVPacket* pkt = av_packet_alloc();
        av_new_packet(pkt, int(unit.size()));
        memcpy(pkt->data, unit.data(), unit.size());
        int sent = avcodec_send_packet(ctx_, pkt);
        av_packet_free(&pkt);
        if (sent < 0) return false;
        if (avcodec_receive_frame(ctx_, frame_) != 0) return false;
        bool got = CopyFrame(frame_, out);
        av_frame_unref(frame_);
        return got;
    }

private:
    AVCodecContext* ctx_ = nullptr;
    AVFrame* frame_ = nullptr;
    bool ok_ = false;
};

// The first differing sample of two pictures, "" when they are equal.
inline std::string FirstDifference(const Planes& want, const Planes& got)
{
    if (want.width != got.width || want.height != got.height)
        return "size " + std::to_string(got.width) + "x" + std::to_string(got.height);
    const Bytes* w[3] = {&want.y, &want.u, &want.v};
    const Bytes* g[3] = {&got.y, &got.u, &got.v};
    for (int plane = 0; plane < 3; plane++)
        for (size_t i = 0; i < w[plane]->size(); i++)
            if ((*w[plane])[i] != (*g[plane])[i])
                return "plane " + std::to_string(plane) + " sample " + std::to_string(i) + ": want " +
                       std::to_string((*w[plane])[i]) + " got " + std::to_string((*g[plane])[i]);
    return "";
}

} // namespace avc_test
