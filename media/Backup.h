// The backup controller: copies the recorded frames of one channel, between
// the two backup marks, into movie part files through the movie writer. A
// state machine over the one backup block both stream records share: it
// asks the recorder for the watermark, opens the part file, settles the
// recorder's time offset from the first three video frames, writes, ends a
// part after 30 minutes of video or at a picture-size change (always at a
// key frame) and finishes the file. Owns gBackupBlock, the start-frame
// buffer, the settled offset, gBackupSizeOffset, gBackupPartCount and
// gBackupPartBroken.
#pragma once
#include <cstdint>
#include "media/OutFile.h"

struct TStreamRecord;

enum {
    BACKUP_NAME_SIZE = 1024,            // the chosen name, with its terminating zero
    BACKUP_PART_NAME_SIZE = OUTFILE_NAME_SIZE,
    BACKUP_START_BUFFER = 4194304,      // the start-frame buffer, 4 MB
    BACKUP_START_ENTRIES = 256,         // frames (video and sound) it may hold
    BACKUP_START_VIDEO = 3,             // video frames that settle the offset
    BACKUP_SILENCE_MS = 15000,          // no frame for longer than this ends the backup
    BACKUP_WATERMARK_WAIT = 10,         // seconds the part waits for the recorder's watermark
    BACKUP_OFFSET_LIMIT = 65536,        // offsets beyond this (either sign) count as 0
    BACKUP_PART_SECONDS = 1800,         // a part's share of the span without size changes
};

// States of the backup block.
enum {
    BACKUP_STATE_IDLE = 0,
    BACKUP_STATE_START = 1,
    BACKUP_STATE_WRITE = 2,
    BACKUP_STATE_FINISH = 3,
    BACKUP_STATE_STOP = 4,   // stop, or go on with the next part
    BACKUP_STATE_OPEN = 6,
    BACKUP_STATE_SETTLE = 7,
};

struct TBackupBlock {
    uint32_t state;            // BACKUP_STATE_*
    uint32_t lastData;         // process clock (ms) of the last frame, or of the file's opening
    uint32_t bufferUse;        // bytes in the start-frame buffer
    uint32_t part;             // part number; 0 for the first, and 0 = stop after this part
    char chosenName[BACKUP_NAME_SIZE];      // the file the user chose (ends in ".mov")
    char partName[BACKUP_PART_NAME_SIZE];   // the current part file
};
extern TBackupBlock gBackupBlock;

// Added to the next part's start after parts that ended at a size change
// (seconds); reset when a backup starts.
extern uint32_t gBackupSizeOffset;
// Incremented at every part change: the number of the last part.
extern uint32_t gBackupPartCount;
// 1 when the part just finished is not a complete movie (its file could
// not be created or a write failed); the backup files then report it
// instead of handing it on. Set by state 3, read by Backup_FinishFiles.
extern uint32_t gBackupPartBroken;
enum {
    BACKUP_BROKEN_NONE = 0,
    BACKUP_BROKEN_CREATE = 1,   // the part file could not be created (or named)
    BACKUP_BROKEN_WRITE = 2,    // a write failed (a full disk, a lost drive)
    BACKUP_BROKEN_EMPTY = 3,    // no video reached the file
};
// The settled time offset written into byte 28 of every frame header.
extern int32_t gBackupTimeOffset;

// Sets the state of the stream's backup block. A stop (4), a start (1) or
// idle (0) while a part is being written finishes that part first, so what
// was copied plays.
void Backup_SetState(TStreamRecord* stream, uint32_t state);
// The stream step's hand-off in Backup mode: the frame the stream holds
// (heldBuffer, heldLength; 0 = none). 1: take no more frames this tick.
int Backup_OnFrame(TStreamRecord* stream);
// Appends a frame (header and payload) to the start-frame buffer: 1 for a
// video frame (its offset noted under index), 0 for a sound frame, -1 when
// the buffer or its table is full (nothing is appended).
int Backup_BufferFrame(const uint8_t* frame, uint32_t index, uint32_t length);
// The offset the first video frames agree on (count 0 .. 3 of them).
int32_t Backup_SettleOffset(const int32_t* offsets, uint32_t count);
// Subtracts the offset from the writer's start and end times.
void Backup_ApplyOffset(int32_t offset);
// The file name of part n of a backup whose chosen name is chosen:
// "BASE.mov" for part 0, "BASE(n).mov" after, BASE the chosen name up to
// its first ".mov". 0, or -1 when the name has no ".mov" or the result
// does not fit in size bytes.
int Backup_PartFileName(const char* chosen, uint32_t part, char* out, uint32_t size);
// 1 while a part file is open and being written.
uint32_t Backup_PartOpen();
