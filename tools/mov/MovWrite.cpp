// The backup driver of the movie tools: frames from a file into one part.
#include "tools/mov/MovWrite.h"
#include "media/Mov.h"
#include "media/OutFile.h"
#include "media/Watermark.h"
#include <cstring>

// The frame buffer at data: its units' bytes, 0 when its headers do not
// add up within the bytes left.
static size_t FrameBytes(const uint8_t* data, size_t left)
{
    if (left < FRAME_HEADER_SIZE) return 0;
    TDvrFrameHeader h;
    memcpy(&h, data, sizeof h);
    uint32_t units = FrameHeader_FurtherUnits(&h) + 1;
    size_t at = 0;
    for (uint32_t i = 0; i < units; ++i) {
        if (left - at < FRAME_HEADER_SIZE) return 0;
        memcpy(&h, data + at, sizeof h);
        size_t n = 64u * (size_t)h.unitLength;
        if (n == 0 || n > left - at) return 0;
        at += n;
    }
    return at;
}

int MovTool_Write(const uint8_t* frames, size_t length, const char* out, uint32_t watermark, MovToolResult* result)
{
    static MovToolResult scratch;
    MovToolResult* r = result ? result : &scratch;
    memset(r, 0, sizeof *r);
    // The recorder's answer, taken while the part waits for it.
    Watermark_InitKeys();
    memset(gWatermarkAnswer, 0, sizeof gWatermarkAnswer);
    Watermark_Request(0, 0);
    memcpy(gWatermarkAnswer + WATERMARK_VALUE_OFFSET, &watermark, 4);
    Watermark_Poll();

    // The part runs from the first frame's second to one past the last's.
    uint32_t first = 0, last = 0;
    bool any = false;
    for (size_t at = 0; at < length;) {
        size_t n = FrameBytes(frames + at, length - at);
        if (n == 0) break;
        TDvrFrameHeader h;
        memcpy(&h, frames + at, sizeof h);
        if (!any || h.time < first) first = h.time;
        if (!any || h.time > last) last = h.time;
        any = true;
        at += n;
    }
    if (OutFile_Create(out) != 0) return -1;
    Mov_Init(first, last + 1);
    static uint8_t buffer[STREAM_RING_SIZE];
    size_t at = 0;
    while (at < length) {
        size_t n = FrameBytes(frames + at, length - at);
        if (n == 0 || n > sizeof buffer) {
            // A damaged header: the writer judges what is left as one buffer.
            n = length - at < sizeof buffer ? length - at : sizeof buffer;
            memcpy(buffer, frames + at, n);
            r->frames += 1;
            if (Mov_WriteFrame(buffer, (uint32_t)n) == -1) r->bad += 1;
            break;
        }
        memcpy(buffer, frames + at, n);
        at += n;
        r->frames += 1;
        if (Mov_AccountFrame(buffer, (uint32_t)n) == -1) {
            r->refused += 1;
            break;
        }
        int w = Mov_WriteFrame(buffer, (uint32_t)n);
        if (w == -1) r->bad += 1;
        if (w == 0) break;
    }
    int rc = 0;
    if (gMovWriter.samples > 0) {
        uint32_t media = Mov_WriteHead();
        if (media == 0 || Mov_Finish(0) != 0 || Mov_WriteMediaLength(media) != 0) rc = -1;
        else r->complete = 1;
    }
    if (gMovWriter.failed) rc = -1;
    if (OutFile_Close() != 0) rc = -1;
    return rc;
}
