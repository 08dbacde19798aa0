// The movie writer (first cut: the state and the closing record).
#include "media/Mov.h"
#include "control/Text.h"
#include "media/Watermark.h"
#include <cstring>

TMovWriter gMovWriter;
TMovClosingRecord gMovClosing;

void Mov_Init(uint32_t start, uint32_t end)
{
    TMovWriter* w = &gMovWriter;
    w->position = 0;
    w->mediaStart = MOV_MEDIA_DATA_START;
    w->started = 0;
    w->failed = 0;
    w->moovStep = 0;
    w->samples = w->syncs = w->soundChunks = w->soundEntries = w->soundBytes = w->textSamples = 0;
    for (uint32_t& g : w->geometry) g = 0;
    w->params1Length = 0;
    w->startTime = start;
    w->endTime = end;
    Watermark_EndWait();
}

int Mov_AccountFrame(const uint8_t*, uint32_t) { return 0; }
int Mov_WriteFrame(uint8_t*, uint32_t) { return -1; }
uint32_t Mov_WriteHead() { return 0; }
int Mov_Finish(uint32_t) { return -1; }
int Mov_WriteMediaLength(uint32_t) { return -1; }

void Mov_NoteStop(uint32_t code, int32_t priority, uint32_t value, uint32_t limit, uint32_t x, uint32_t y)
{
    gMovClosing.reason = code;
    gMovClosing.priority = priority;
    gMovClosing.value = value;
    gMovClosing.limit = limit;
    gMovClosing.x = x;
    gMovClosing.y = y;
}

int Mov_WriteFileHead(const uint8_t*) { return -1; }
int Mov_WriteTextSamples(uint32_t, int32_t) { return -1; }
uint32_t Mov_Duration() { return gMovWriter.samples * 20; }
uint32_t Mov_BuildMoov(uint8_t*, uint32_t) { return 0; }
int Mov_WriteMoov() { return -1; }

void Mov_Geometry(const TDvrFrameHeader* h, uint32_t out[4])
{
    uint32_t mode = h ? FrameHeader_FieldMode(h) : 0;
    out[0] = mode == 3 ? 2 : 1;
    out[1] = 1;
    out[2] = mode >= 2 ? 2 : 1;
    out[3] = 1;
}
