// The movie writer: turns the recorder's frames of one backup part into a
// QuickTime movie (H.264 video with the recorder's frame header in a
// trailer, 8-bit 8000 Hz sound, a text track with the recorder's time). It
// writes the file head and the samples as they come, keeps its sample
// tables in fixed arrays, and at the end appends the closing block, the
// "moov" and the signed watermark record. Owns gMovWriter (tables, counts,
// the parameter sets and the trailer) and gMovClosing, the process-wide
// closing record. All writes go through OutFile_WriteAtPos.
#pragma once
#include <cstddef>
#include <cstdint>
#include "media/H264Params.h"
#include "media/OutFile.h"
#include "media/Stream.h"

enum {
    MOV_SYNC_CAP = 4096,
    MOV_SAMPLE_CAP = 65536,
    MOV_TEXT_CAP = 8192,
    MOV_SOUND_CHUNK_CAP = 32768,
    MOV_SOUND_ENTRY_BYTES = 131072,                                     // the sound chunk table's room
    MOV_SOUND_ENTRY_SIZE = 12,                                          // {first chunk, samples per chunk, description}
    MOV_SOUND_ENTRY_CAP = MOV_SOUND_ENTRY_BYTES / MOV_SOUND_ENTRY_SIZE, // 10,922
    MOV_PART_SECONDS = 1800,                                            // 30 minutes of video per part
    MOV_HEAD_SIZE = 48,                                                 // "ftyp", "wide", "mdat" header
    MOV_MEDIA_DATA_START = 40,                                          // the "mdat" size field
    MOV_TRAILER_SIZE = 64,                                              // behind every video sample
    MOV_TEXT_SAMPLE_SIZE = 58,
    MOV_TEXT_CHARS = 22,
    MOV_CLOSING_SIZE = 4096,
    MOV_PAD_ALIGN = 512,
    MOV_SOUND_RATE = 8000,
    MOV_SOUND_PAD_MIN = 800,    // a gap this long (0.1 s) or longer is padded
    MOV_SOUND_PAD_CHUNK = 8000, // a padding chunk holds at most 1 s
    MOV_LATE_SECONDS = 5,       // a frame this far past the end is refused
    // Room for the "moov" with every table full.
    MOV_MOOV_MAX = 16384 + 4 * (MOV_SYNC_CAP + 2 * MOV_SAMPLE_CAP + MOV_SOUND_CHUNK_CAP + 2 * MOV_TEXT_CAP) +
                   MOV_SOUND_ENTRY_BYTES,
};

// Reasons in the closing record.
enum {
    MOV_STOP_SYNC_FULL = 5,
    MOV_STOP_SAMPLES_FULL = 6,
    MOV_STOP_TEXT_FULL = 7,
    MOV_STOP_PAST_END = 9,
    MOV_STOP_GEOMETRY = 11,     // 11 .. 14: field geometry value 1 .. 4 changed
    MOV_STOP_WRITE_FAILED = 20, // a write to the part file failed (value: file position, limit: bytes)
    MOV_STOP_FILE_FULL = 21,    // the samples would pass the offsets a file can hold
};

// The closing record at the head of the 4,096-byte closing block
// (little-endian).
struct TMovClosingRecord {
    char tag[4];     // "pqrs"
    uint32_t reason; // MOV_STOP_*
    uint32_t value;  // the value that hit the limit
    uint32_t limit;
    uint32_t x, y;    // two further words (0)
    int32_t priority; // stays 0
    uint8_t zero[16];
    char endTag[4]; // "tuvw"
};
static_assert(sizeof(TMovClosingRecord) == 48, "closing record is 48 bytes");

// The one writer.
struct TMovWriter {
    uint64_t position;           // file position of the next write
    uint32_t mediaStart;         // 40
    uint32_t standard;           // 0: 30 frames/s, 1: 25 frames/s
    uint32_t frameRate;          // 30 or 25
    uint32_t started;            // 1 once the file head is written
    uint32_t failed;             // 1 once a write failed: the part is never completed
    uint32_t waitKey;            // 1: skip units until a key frame
    uint32_t startTime, endTime; // recorder seconds
    uint32_t firstTime, firstFrameNumber;
    uint32_t lastVideoTime, lastVideoFrame;
    uint32_t width, height; // pixels
    uint32_t widthCode, heightCode;
    uint32_t geometry[4];    // field geometry of the first frame
    uint32_t samples, syncs; // video samples (fillers included), sync samples
    uint32_t soundChunks, soundEntries, soundBytes;
    uint32_t textSamples;
    uint32_t lastTextSecond;
    uint32_t soundSeen; // 1 once a sound unit was kept
    uint32_t lastSoundTime, lastSoundFrame;
    uint32_t lastSoundByte;
    uint32_t lastChunkSize; // samples per chunk of the last sound chunk-table entry
    uint32_t moovStep;
    uint32_t refused;                  // reason of the last unit refused for a limit (0: none)
    uint64_t soundEnd;                 // frame position (time x rate + frame) the sound stops at; 0: open
    TFillGap gap;                      // filler counter, expected and written frames
    uint8_t header[FRAME_HEADER_SIZE]; // copy of the unit header being written
    uint8_t trailer[MOV_TRAILER_SIZE];
    uint8_t params0[H264_PARAM_SETS_MAX]; // SPS/PPS in front of the first sample
    uint32_t params0Length;
    uint8_t params1[H264_PARAM_SETS_MAX]; // SPS/PPS of the "avcC" atom
    uint32_t params1Length;
    uint32_t syncTable[MOV_SYNC_CAP]; // 1-based sample numbers
    uint32_t sampleSizes[MOV_SAMPLE_CAP];
    uint32_t chunkOffsets[MOV_SAMPLE_CAP];
    uint32_t soundOffsets[MOV_SOUND_CHUNK_CAP];
    uint32_t soundEntryTable[MOV_SOUND_ENTRY_CAP][3];
    uint32_t textOffsets[MOV_TEXT_CAP];
};

extern TMovWriter gMovWriter;
extern TMovClosingRecord gMovClosing;

// A part file starts: resets the position, counts, first-frame values and
// moov step; sets the start and end times (recorder seconds).
void Mov_Init(uint32_t start, uint32_t end);
// Checks a frame buffer against the limits before it is written: -1 when
// the frame lies more than 5 s past the end, or when it (with the fillers
// and text samples the time since the last frame calls for) would not fit
// the tables or the file (the reason is noted, and kept in refused), else
// 1 when 30 minutes of video are written, else 0. A P frame needs no room
// in the sync table.
int Mov_AccountFrame(const uint8_t* frame, uint32_t length);
// Writes every unit of a recorder frame buffer (TDvrFrameHeader and payload,
// unit after unit). 0 when the last unit is video at or past the end time
// or a write failed, -1 when a unit's header is bad (the writer then waits
// for a key frame) or a table is full (refused names the table),
// else a positive value (header bytes 9-10's low 9 bits, or the last
// unit's length in KB rounded up). A P frame's frame number bytes are
// rewritten in place; the NAL length that covers the trailer in the file is
// put back as it came.
int Mov_WriteFrame(uint8_t* frame, uint32_t length);
// Writes the closing block; returns the media-data length (file position
// - 40), 0 when the part failed (nothing is written then).
uint32_t Mov_WriteHead();
// Writes the "moov", the signed watermark record and the padding. 0, or -1
// when the part failed or a write failed.
int Mov_Finish(uint32_t unused);
// Writes the media-data length into the "mdat" size field: the last step of
// a complete part. 0, or -1 when the part failed (the field is left as it
// is, so the file never looks complete).
int Mov_WriteMediaLength(uint32_t length);
// The part's last picture holds as long as its sound goes on: fillers up
// to the end of the sound (a recording with fewer pictures than frame
// times, a part that ends with sound already written past its last
// picture). Before the closing block.
void Mov_HoldLastPicture();
// The sound of the part ends at this frame (recorder time and frame
// number): sound units past it are cut there or left out.
void Mov_SetSoundEnd(uint32_t time, uint32_t frameNumber);
// A frame's place on the part's clock: time x frame rate + frame number.
uint64_t Mov_FramePosition(uint32_t time, uint32_t frameNumber);
// Stores a reason in the closing record (each replaces the last).
void Mov_NoteStop(uint32_t code, int32_t priority, uint32_t value, uint32_t limit, uint32_t x, uint32_t y);

// Further steps, open for the tests.
// The 48-byte file head at the first key unit; seeds the watermark record.
int Mov_WriteFileHead(const uint8_t* firstHeader);
// Text samples up to second t (offset added for the shown time): 0, -1
// when the text table would overflow or a write failed.
int Mov_WriteTextSamples(uint32_t t, int32_t offset);
// The movie's duration in the video time scale: 20 per video sample.
uint32_t Mov_Duration();
// Builds the whole "moov" into buffer (big-endian); returns its size, 0 when
// it does not fit.
uint32_t Mov_BuildMoov(uint8_t* buffer, uint32_t size);
// Writes the "moov" atom. 0 or -1.
int Mov_WriteMoov();
// Field geometry of a header's mode bits (byte 14 bits 2-3) into four values.
void Mov_Geometry(const TDvrFrameHeader* header, uint32_t out[4]);
