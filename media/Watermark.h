// The watermark trailer of movie files: the 160-byte record the recorder
// supplies for a backup, completed with sums over the video written and the
// picture format, then signed. Owns gWatermarkRecord (what the next file
// carries), gWatermarkAnswer (where the recorder's block lands), the request
// word, the reader's sum and the key set.
#pragma once
#include "link/Hooks.h"
#include <cstddef>
#include <cstdint>

// WATERMARK_SIZE and the named variables' buffers and handler
// (gWatermarkAnswer, gWatermarkRequest, Watermark_OnReply), which the link
// registers: link/Hooks.h.
enum {
    WATERMARK_VALUE_OFFSET = 36, // the recorder's watermark value, not 0 once it answered
    WATERMARK_SIGNED_WORDS = 39, // words 0 .. 152 that are rotated and summed
};

// Sum kinds and where an addition goes.
enum { WATERMARK_SUM_VIDEO = 1, WATERMARK_SUM_AUDIO = 2 };
enum { WATERMARK_TO_WRITER = 1, WATERMARK_TO_READER = 2 };

// Little-endian, 160 bytes.
struct TWatermarkRecord {
    uint32_t videoSum;       // the watermark value + every word of the video written after the first sample
    uint32_t audioSum;       // the watermark value
    uint8_t headerByte16;    // of the file's first frame header
    uint8_t modeHigh;        // its byte 14 shifted right by 4
    uint8_t heightCode;      // its byte 12
    uint8_t widthCode;       // its byte 13
    uint8_t recorder12[24];  // as received
    uint32_t value;          // the recorder's watermark value
    uint8_t recorder40[96];  // as received
    uint16_t videoSigned[4]; // bytes 0 .. 3 of the video sum, transformed
    uint16_t audioSigned[4]; // bytes 0 .. 3 of the audio sum, transformed
    uint8_t recorder152[4];  // as received
    uint32_t checksum;       // sum of the 39 rotated words before it
};
static_assert(sizeof(TWatermarkRecord) == WATERMARK_SIZE, "watermark record is 160 bytes");
static_assert(offsetof(TWatermarkRecord, value) == WATERMARK_VALUE_OFFSET, "value at 36");
static_assert(offsetof(TWatermarkRecord, videoSigned) == 136, "transformed sums at 136");
static_assert(offsetof(TWatermarkRecord, checksum) == 156, "checksum at 156");

// The key set: modulus, totient, public exponent and its inverse.
struct TWatermarkKeys {
    uint32_t modulus;  // 893
    uint32_t totient;  // 780
    uint32_t exponent; // one digit, coprime with the totient
    uint32_t inverse;  // exponent x inverse = 1 modulo the totient
};
extern TWatermarkKeys gWatermarkKeys;

// What the next movie file carries (seeded by the writer's file head).
extern TWatermarkRecord gWatermarkRecord;
// The movie reader's sum (additions with WATERMARK_TO_READER).
extern uint32_t gWatermarkReadSum;

// Sets the key set (once, at start-up).
void Watermark_InitKeys();
// A backup part starts: the record's value := 0, the wait begins, and with
// a session other than 0 the channel is sent as "Tavn_Watermark_Var_R".
void Watermark_Request(uint32_t session, uint32_t channel);
// While a backup waits: takes an answer that has arrived (its value not 0)
// into the record and returns the record's value (0: none yet).
uint32_t Watermark_Poll();
// The wait is over (the part file is opened): later answers stay in
// gWatermarkAnswer.
void Watermark_EndWait();

// Seeds the record for a new file from its first frame header (32 bytes):
// both sums := the value, bytes 8 .. 11 := the header's format bytes.
void Watermark_Seed(const uint8_t* firstHeader);
// Adds length / 4 little-endian words of data to the video sum (kind 1) or
// audio sum (kind 2) of the record (which 1) or to the reader's sum (which 2).
void Watermark_AddSum(uint32_t kind, const uint8_t* data, uint32_t length, uint32_t which);
// x^exponent mod modulus by repeated multiplication.
uint32_t Watermark_Transform(uint32_t x);
// Transforms the record in place: the sums' bytes into their signed
// fields, sums cleared, the 39 words rotated left by one bit, the checksum.
void Watermark_SignRecord(TWatermarkRecord* record);
// Signs the record and writes its 160 bytes at the writer's file position
// (which it advances). 0, or -1 when the write failed.
int Watermark_Sign(TWatermarkRecord* record);
