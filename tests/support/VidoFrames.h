// VIDO frame units as the recorder sends them, written from the wire
// format: the 128-byte block, the 32-byte frame header and the payload.
// Shared by the stream, reorder and sound tests.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

typedef std::vector<uint8_t> Bytes;

inline void VidoPut32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + i] = (uint8_t)(v >> (8 * i));
}

// One frame as the recorder sends it: the 128-byte block, the 32-byte
// frame header, the payload.
struct FrameDesc {
    // block
    uint32_t channel = 0;
    uint32_t channelSequence = 1;
    uint32_t streamSequence = 1;
    uint32_t framePeriod = 40;
    uint32_t status = 0;
    uint32_t kind = 0; // 2 = audio
    uint32_t requestNumber = 0;
    uint32_t newestSecond = 0;
    uint32_t newestFrame = 0;
    int64_t totalLength = -1; // -1: 160 + payload
    // header
    uint32_t magic = 0x03000000;
    uint32_t time = 1000;
    uint32_t frameNumber = 0;
    uint32_t headerKind = 1; // 1 video, 2 audio
    uint32_t width = 20;     // macroblocks
    uint32_t height = 15;
    uint32_t fieldMode = 0;
    uint32_t headerChannel = 0;
    uint32_t type = 0;       // 0 key frame
    int64_t unitLength = -1; // -1: (32 + payload) / 64 rounded up
    uint32_t source = 0;
    uint32_t timeScale = 600;
    int32_t timeOffset = 0;
    Bytes payload = Bytes(96, 0xA5);
};

inline void VidoPut16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = (uint8_t)v;
    b[at + 1] = (uint8_t)(v >> 8);
}

// The 32-byte frame header alone.
inline Bytes HeaderBytes(const FrameDesc& f)
{
    Bytes h(32, 0);
    VidoPut32(h, 0, f.magic);
    VidoPut32(h, 4, f.time);
    h[8] = (uint8_t)f.frameNumber;
    h[11] = (uint8_t)(f.headerKind << 6);
    h[12] = (uint8_t)f.height;
    h[13] = (uint8_t)f.width;
    h[14] = (uint8_t)((f.fieldMode << 2) | (f.headerChannel << 4));
    h[15] = (uint8_t)(f.type << 4);
    uint32_t units = f.unitLength >= 0 ? (uint32_t)f.unitLength : (uint32_t)((32 + f.payload.size() + 63) / 64);
    VidoPut16(h, 18, units);
    h[23] = (uint8_t)(f.source << 5);
    VidoPut32(h, 24, f.timeScale << 5);
    VidoPut32(h, 28, (uint32_t)f.timeOffset);
    return h;
}

// Block, header and payload.
inline Bytes FrameBytes(const FrameDesc& f)
{
    Bytes b(128, 0);
    uint32_t total = f.totalLength >= 0 ? (uint32_t)f.totalLength : (uint32_t)(160 + f.payload.size());
    VidoPut32(b, 0, total);
    VidoPut32(b, 8, f.framePeriod);
    VidoPut32(b, 12, f.channelSequence);
    VidoPut32(b, 20, f.channel);
    VidoPut32(b, 24, f.status);
    VidoPut32(b, 32, f.streamSequence);
    VidoPut32(b, 36, f.newestSecond);
    VidoPut32(b, 40, f.newestFrame);
    VidoPut32(b, 48, f.kind);
    VidoPut32(b, 52, f.requestNumber);
    Bytes h = HeaderBytes(f);
    b.insert(b.end(), h.begin(), h.end());
    b.insert(b.end(), f.payload.begin(), f.payload.end());
    return b;
}
