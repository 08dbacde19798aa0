// The watermark trailer: the record each movie file ends with, its seeding
// from the first frame, the video sum and the signing. Owns the record, the
// recorder's answer buffer, the request word, the reader's sum, the key set
// and the wait flag.
#include "media/Watermark.h"
#include "link/Hooks.h"
#include "link/Bytes.h"
#include "link/Ictl.h"
#include "media/Mov.h"
#include "media/OutFile.h"
#include <cstring>

TWatermarkKeys gWatermarkKeys;
TWatermarkRecord gWatermarkRecord;
uint8_t gWatermarkAnswer[WATERMARK_SIZE];
uint32_t gWatermarkRequest = 0;
uint32_t gWatermarkReadSum = 0;
static uint32_t gWaiting = 0; // 1 while a backup part waits for the recorder's block

void Watermark_InitKeys()
{
    gWatermarkKeys.modulus = 893;
    gWatermarkKeys.totient = 780;
    gWatermarkKeys.exponent = 7;
    // The inverse of the exponent modulo the totient, found by trial.
    gWatermarkKeys.inverse = 0;
    for (uint32_t d = 1; d < gWatermarkKeys.totient; ++d)
        if (gWatermarkKeys.exponent * d % gWatermarkKeys.totient == 1) {
            gWatermarkKeys.inverse = d;
            break;
        }
}

void Watermark_Request(uint32_t session, uint32_t channel)
{
    gWatermarkRecord.value = 0;
    memset(gWatermarkAnswer + WATERMARK_VALUE_OFFSET, 0, 4);
    gWaiting = 1;
    gWatermarkRequest = channel;
    if (session != 0) Ictl_SendVariable(session, "Tavn_Watermark_Var_R", &gWatermarkRequest, 4, 1);
}

uint32_t Watermark_Poll()
{
    if (gWaiting && GetU32(gWatermarkAnswer + WATERMARK_VALUE_OFFSET) != 0)
        memcpy(&gWatermarkRecord, gWatermarkAnswer, WATERMARK_SIZE);
    return gWatermarkRecord.value;
}

void Watermark_EndWait() { gWaiting = 0; }

void Watermark_OnReply(uint32_t) {}

void Watermark_Seed(const uint8_t* h)
{
    TWatermarkRecord* r = &gWatermarkRecord;
    r->videoSum = r->value;
    r->audioSum = r->value;
    if (!h) return;
    r->headerByte16 = h[16];
    r->modeHigh = (uint8_t)(h[14] >> 4);
    r->heightCode = h[12];
    r->widthCode = h[13];
}

void Watermark_AddSum(uint32_t kind, const uint8_t* data, uint32_t length, uint32_t which)
{
    if (!data) return;
    uint32_t sum = 0;
    for (uint32_t i = 0; i + 4 <= length; i += 4) sum += GetU32(data + i);
    if (which == WATERMARK_TO_READER) gWatermarkReadSum += sum;
    else if (which == WATERMARK_TO_WRITER && kind == WATERMARK_SUM_VIDEO) gWatermarkRecord.videoSum += sum;
    else if (which == WATERMARK_TO_WRITER && kind == WATERMARK_SUM_AUDIO) gWatermarkRecord.audioSum += sum;
}

uint32_t Watermark_Transform(uint32_t x)
{
    uint32_t n = gWatermarkKeys.modulus ? gWatermarkKeys.modulus : 893;
    uint32_t e = gWatermarkKeys.exponent ? gWatermarkKeys.exponent : 7;
    uint32_t r = 1 % n;
    for (uint32_t i = 0; i < e; ++i) r = r * (x % n) % n;
    return r;
}

void Watermark_SignRecord(TWatermarkRecord* r)
{
    if (!r) return;
    for (uint32_t k = 0; k < 4; ++k) {
        r->videoSigned[k] = (uint16_t)Watermark_Transform((r->videoSum >> (8 * k)) & 0xFF);
        r->audioSigned[k] = (uint16_t)Watermark_Transform((r->audioSum >> (8 * k)) & 0xFF);
    }
    r->videoSum = 0;
    r->audioSum = 0;
    uint8_t* bytes = (uint8_t*)r;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < WATERMARK_SIGNED_WORDS; ++i) {
        uint32_t w;
        memcpy(&w, bytes + 4 * i, 4);
        w = (w << 1) | (w >> 31);
        memcpy(bytes + 4 * i, &w, 4);
        sum += w;
    }
    r->checksum = sum;
}

int Watermark_Sign(TWatermarkRecord* r)
{
    if (!r) return -1;
    Watermark_SignRecord(r);
    if (OutFile_WriteAtPos(r, WATERMARK_SIZE) != 0) return -1;
    gMovWriter.position += WATERMARK_SIZE;
    return 0;
}
