// The H.264 parameter sets the viewer makes for the recorder's slices,
// which carry none, and the pre-encoded skipped P slices that fill frame
// gaps in movie files. Owns only constant tables (the PPS, the six filler
// slices, the frame-number bytes); everything is built in the caller's
// buffers.
#pragma once
#include <cstdint>

enum {
    H264_PARAM_SETS_MAX = 48, // longest pair in either form, for any picture size
    H264_PPS_LENGTH = 5,
    H264_FILLER_SIZE = 32, // 4-byte length 28 and a 28-byte P slice
    H264_FILLER_TEMPLATES = 6,
    H264_FRAME_NUMBERS = 16, // frame_num has 4 bits
    H264_MAX_CODE = 255,     // picture size codes are one byte
};

// The forms a parameter-set pair is handed out in.
enum {
    H264_FORM_AVC1 = 0, // SPS, PPS, each behind a 4-byte big-endian length
    H264_FORM_AVCC = 1, // the parameter-set part of an "avcC" atom
};

// The one PPS: 4-byte length 5, then 68 C9 08 38 80.
extern const uint8_t gH264Pps[4 + H264_PPS_LENGTH];
// The six filler samples (template 0 is for 40 x 30 and any size not listed).
extern const uint8_t gH264Fillers[H264_FILLER_TEMPLATES][H264_FILLER_SIZE];
// Bytes 5 and 6 of a length-prefixed P slice carrying frame_num k.
extern const uint8_t gH264FrameNumbers[H264_FRAME_NUMBERS][2];

// base to the power exponent, wrapping at 32 bits.
uint32_t Int_Power(uint32_t base, uint32_t exponent);
// M, the count of leading zero bits of v's Exp-Golomb code (the code is M
// zeros, a one, and the low M bits of v + 1 - 2^M). At most 16.
uint32_t ExpGolomb_Size(uint32_t v);

// Writes the SPS for a picture of (widthMinus1 + 1) x (heightMinus1 + 1)
// macroblocks behind its 4-byte length and appends the PPS behind its own;
// returns the bytes used (at most H264_PARAM_SETS_MAX), 0 for a size whose
// code would not fit 16 leading zeros.
uint32_t H264_BuildSps(uint8_t* buffer, uint32_t widthMinus1, uint32_t heightMinus1);
// The pair for width and height codes (macroblocks, 1 .. 255) in form 0 or
// 1, into a buffer of at least H264_PARAM_SETS_MAX bytes; the length goes
// to outLength. 0, or -1 with outLength 0 for a code of 0 or above 255 or
// an unknown form.
int H264_MakeParamSets(uint32_t widthCode, uint32_t heightCode, uint8_t* buffer, uint32_t* outLength, uint32_t form);

// Index of the filler template for a picture size (codes in macroblocks).
uint32_t H264_FillerTemplate(uint32_t widthCode, uint32_t heightCode);
// The filler sample for a picture size: the listed sizes' own bytes, for
// any other size a skipped P slice coded for its real macroblock count
// (H264_FILLER_SIZE bytes into out).
void H264_MakeFiller(uint32_t widthCode, uint32_t heightCode, uint8_t* out);
// Puts frame_num k (mod 16) into bytes 5 and 6 of a length-prefixed P
// slice of at least 7 bytes.
void H264_SetFrameNumber(uint8_t* sample, uint32_t length, uint32_t frameNumber);

// The gap bookkeeping of one movie file, kept by the movie writer.
struct TFillGap {
    uint32_t frameRate; // of the file: 30 or 25
    uint32_t counter;   // frame_num of the next P frame or filler, 0 .. 15
    uint32_t expected;  // frames the recorder's numbering accounts for
    uint32_t written;   // frames written, fillers included
    uint32_t lastTime;  // recorder time and frame number of the last unit
    uint32_t lastFrameNumber;
};

// Writes one 32-byte filler sample into the file and counts it.
typedef void (*TFillerWrite)(const uint8_t* sample, uint32_t size);

// A file starts: the counter starts at the first frame's frame number.
void Mov_FillGapStart(TFillGap* gap, uint32_t frameRate, uint32_t time, uint32_t frameNumber);
// Before a video sample is written: writes a filler for every frame the
// recorder skipped since the last unit (through write), renumbers a P
// frame's slice (frame type not 0) and, after a key frame, restarts the
// numbering at 1. sampleCount is the file's video sample count so far.
// Returns the bytes of fillers written, -1 when the fillers would pass the
// 65,536 samples a file holds.
// The fillers a unit at time and frameNumber would be given (0 for a unit
// older than the last one).
uint32_t Mov_FillersNeeded(const TFillGap* gap, uint32_t time, uint32_t frameNumber);
int Mov_FillGap(TFillGap* gap, uint32_t sampleCount, uint8_t* payload, uint32_t sampleLength, uint32_t frameType,
                uint32_t time, uint32_t frameNumber, uint32_t widthCode, uint32_t heightCode, TFillerWrite write);
