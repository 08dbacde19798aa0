// The backup controller: copies the recorded frames of one channel, between
// the two backup marks, into movie part files through the movie writer. A
// state machine over the one backup block both stream records share: it
// asks the recorder for the watermark, opens the part file, settles the
// recorder's time offset from the first three video frames, writes, ends a
// part after 30 minutes of video, at a picture-size change or when a table
// of the writer is full (always at a key frame, which begins the next
// part), and finishes the file with the sound up to its last picture. When
// the link to the recorder is lost it finishes the part in hand, waits for
// the link and asks the recorder again for the rest of the span, which goes
// into the next part. Owns gBackupBlock, the start-frame buffer, the settled
// offset, gBackupSizeOffset, gBackupPartCount, gBackupPartBroken, the notes
// of parts that ended early and how the backup ended.
#pragma once
#include <cstdint>
#include "media/OutFile.h"

struct TStreamRecord;
struct TViewRecord;
struct TDvrFrameHeader;

enum {
    BACKUP_NAME_SIZE = 1024, // the chosen name, with its terminating zero
    BACKUP_PART_NAME_SIZE = OUTFILE_NAME_SIZE,
    BACKUP_START_BUFFER = 4194304, // the start-frame buffer, 4 MB
    BACKUP_START_ENTRIES = 256,    // frames (video and sound) it may hold
    BACKUP_START_VIDEO = 3,        // video frames that settle the offset
    BACKUP_SILENCE_MS = 15000,     // no frame (or no answer) for longer than this is silence
    BACKUP_LINK_WAIT_MS = 120000,  // a lost link that is not back after this ends the backup
    BACKUP_PACE_SECONDS = 2,       // recorder seconds that measure its sending pace
    BACKUP_WATERMARK_WAIT = 10,    // seconds the part waits for the recorder's watermark
    BACKUP_OFFSET_LIMIT = 65536,   // offsets beyond this (either sign) count as 0
    BACKUP_PART_SECONDS = 1800,    // a part's share of the span without size changes
    BACKUP_NOTES = 16,             // parts that ended early, noted for the end's message
};

// States of the backup block.
enum {
    BACKUP_STATE_IDLE = 0,
    BACKUP_STATE_START = 1,
    BACKUP_STATE_WRITE = 2,
    BACKUP_STATE_FINISH = 3,
    BACKUP_STATE_STOP = 4, // stop, or go on with the next part
    BACKUP_STATE_OPEN = 6,
    BACKUP_STATE_SETTLE = 7,
    BACKUP_STATE_LINK = 8, // the link was lost: wait for it, then ask for the rest
};

struct TBackupBlock {
    uint32_t state;                       // BACKUP_STATE_*
    uint32_t lastData;                    // process clock (ms) of the last frame, or of the file's opening
    uint32_t bufferUse;                   // bytes in the start-frame buffer
    uint32_t part;                        // part number; 0 for the first, and 0 = stop after this part
    char chosenName[BACKUP_NAME_SIZE];    // the file the user chose (ends in ".mov")
    char partName[BACKUP_PART_NAME_SIZE]; // the current part file
};
extern TBackupBlock gBackupBlock;

// The second of the last picture-size change counted from the backup
// start, plus one (the next part starts a second after the backup start
// plus this, less one); reset when a backup starts.
extern uint32_t gBackupSizeOffset;
// Incremented at every part change: the number of the last part.
extern uint32_t gBackupPartCount;
// Parts of the running backup that were completed (closed with video).
extern uint32_t gBackupPartsDone;
// 1 when the part just finished is not a complete movie (its file could
// not be created or a write failed); the backup files then report it
// instead of handing it on. Set by state 3, read by Backup_FinishFiles.
extern uint32_t gBackupPartBroken;
enum {
    BACKUP_BROKEN_NONE = 0,
    BACKUP_BROKEN_CREATE = 1, // the part file could not be created (or named)
    BACKUP_BROKEN_WRITE = 2,  // a write failed (a full disk, a lost drive)
    BACKUP_BROKEN_EMPTY = 3,  // no video reached the file
    BACKUP_PART_UNOPENED = 4, // the backup ended before the next part was opened (nothing to tell)
};
// The settled time offset written into byte 28 of every frame header.
extern int32_t gBackupTimeOffset;

// How a backup ended (or will end): anything but the end mark is told.
enum {
    BACKUP_END_MARK = 0,    // the end mark was reached
    BACKUP_END_STOP = 1,    // stopped (STOP BACKUP, or the view code)
    BACKUP_END_MODE = 2,    // the view left Backup mode
    BACKUP_END_CLOSE = 3,   // the control closed
    BACKUP_END_SILENCE = 4, // the recorder sent nothing more of the span
    BACKUP_END_LINK = 5,    // the link to the recorder was lost and did not come back
};
extern uint32_t gBackupEndReason;
// Display time (recorder seconds, offset added) of the last picture copied
// into any part of the backup; valid once gBackupReachedAny is 1.
extern uint32_t gBackupReached;
extern uint32_t gBackupReachedAny;
// A part that ended before its span did while the backup went on.
enum {
    BACKUP_NOTE_LINK = 0, // the link to the recorder was lost; the rest was asked for again
    BACKUP_NOTE_FULL = 1, // a table of the movie was full (key frames this often, a long gap)
};
struct TBackupNote {
    uint32_t part;    // the part that ended
    uint32_t reached; // display time of its last picture
    uint32_t resumed; // display time the next part starts from
    uint32_t why;     // BACKUP_NOTE_*
};
extern TBackupNote gBackupNotes[BACKUP_NOTES];
extern uint32_t gBackupNoteCount;

// The view modes start (on 1) or stop (any other value) the backup
// between the marks into fileName; the backup block goes to the recorder
// either way. Returns the resulting on state: 0 when
// refused (no stream record, a name of more than 1023 characters, start
// mark not before the end mark).
int Backup_StartStop(TViewRecord* view, uint32_t on, const char* fileName);
// A backup that did not start leaves no part count behind.
void Backup_ForgetParts();

// Sets the state of the stream's backup block. A stop (4), a start (1) or
// idle (0) while a backup is under way ends it first (the part in hand is
// finished, so what was copied plays, and the backup's end is told); a
// finish (3) from outside (the key panel) ends it in the next stream step.
void Backup_SetState(TStreamRecord* stream, uint32_t state);
// The reason the next stop of a running backup gives (a stop without one
// is the user's).
void Backup_NoteEnd(uint32_t reason);
// The control closes: a backup under way ends as a stop does.
void Backup_Close();
// 1 from a backup's start until it has ended.
int Backup_Active();
// 1 while a backup of this stream is under way.
int Backup_ActiveOn(const TStreamRecord* stream);
// The start mark the running backup was started with (the view's start
// mark moves when the recorder is asked again for the rest).
uint32_t Backup_SpanStart();
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
// the chosen name itself for part 0, "BASE(n).mov" after, BASE the chosen
// name without its file name's own ".mov" extension (any case; the
// extension keeps its case). 0, or -1 when the file name does not end in
// ".mov" or the result does not fit in size bytes.
int Backup_PartFileName(const char* chosen, uint32_t part, char* out, uint32_t size);
// 1 when a sound frame (its header) lies after the last picture written
// into the part in hand: the stream step leaves it in the ring until the
// pictures reach it.
int Backup_SoundWaits(const TDvrFrameHeader* header);
// 1 while a part file is open and being written.
uint32_t Backup_PartOpen();
