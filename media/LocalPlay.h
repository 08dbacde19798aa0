// Local playback of a movie file that the backup wrote, in view mode 4:
// the index of key frames per second (built a slice per tick), the seek
// steps of 5 s, the watermark check of the file's record, and the feed
// step that hands one sample per tick to the frame stream path as a
// recorder frame (source 3), so that pacing, decoding and display work as
// for the recorder's frames. Owns gLocalFile and the feed buffer.
#pragma once
#include <cstdint>

struct TStreamRecord;

enum {
    LOCAL_INDEX_SECONDS = 14400, // 4 hours of seconds
    LOCAL_INDEX_PER_TICK = 1500, // samples indexed per tick
    LOCAL_STEP_SECONDS = 5,      // one seek step
    LOCAL_NAME_SIZE = 1100,
    LOCAL_READ_TRIES = 64, // unreadable samples passed over per tick at most
};

// indexState.
enum { LOCAL_INDEX_IDLE = 0, LOCAL_INDEX_START = 1, LOCAL_INDEX_RUNNING = 2, LOCAL_INDEX_DONE = 3 };
// watermark: what the check of the file's record found.
enum { LOCAL_MARK_UNKNOWN = 0, LOCAL_MARK_GOOD = 1, LOCAL_MARK_BAD = 2 };

struct TLocalFile {
    uint32_t playState;           // 1 while playing; 0 stopped
    uint32_t indexState;          // LOCAL_INDEX_*
    int32_t step;                 // seek step requested by the panel (0 = play on)
    int32_t lastStep;             // the step last applied
    uint32_t sampleCount;         // video samples of the file
    uint32_t nextSample;          // next sample to index or to play
    uint32_t playRequest;         // 1 = (re)start playing at the current time
    uint32_t indexLength;         // seconds covered by the index
    uint32_t firstTime, lastTime; // recorder time (s, offset added) of the first and last indexed frame
    uint32_t currentTime;         // playing position (s)
    uint32_t lastKeyTime;         // time of the last key frame indexed
    uint32_t endFlag;             // 1 when the end of the file was reached
    uint32_t watermark;           // LOCAL_MARK_*
    uint32_t readSamples;         // samples the index step read whole (for the watermark sum)
    uint8_t firstHeader[32];      // frame header of the first sample
    char name[LOCAL_NAME_SIZE];
    uint32_t index[LOCAL_INDEX_SECONDS]; // 1 + sample number of the key frame at second s, 0 = none
};

extern TLocalFile gLocalFile;

// The sample to play after a step of step x 5 s (and the current time
// moved by it, kept between the first and last time); -1 when nothing is
// indexed.
int32_t MovFile_SeekStep(TLocalFile* local, int32_t step);
// The index step, once per tick.
void LocalPlay_BuildIndex();
// The feed step, once per tick per stream.
void LocalPlay_Feed(TStreamRecord* stream);

// Loads the file's tables and arms the record (name, sample count, index
// to be built); playback starts once the index is done. 0, or -1 when the
// file is not one of ours (nothing is armed then).
int LocalPlay_Arm(const char* name);
// 1 when the watermark record of the file verifies against the samples
// summed while indexing, 0 when it does not (record unreadable, checksum,
// sums or format wrong).
int LocalPlay_VerifyWatermark(const TLocalFile* local, uint32_t readSum);

// The viewer's side: runs the movie open dialog, loads the chosen file,
// switches the view to mode 4 on Image_video and the panel to its play
// buttons. 1 when a file plays, 0 when none was chosen or it was refused
// (a message box says so).
int LocalPlay_Choose();
// Opens name as Choose does after the dialog: 1 or 0.
int LocalPlay_Open(const char* name);
// A play button in mode 4 (0 reverse, 1 pause, 2 step, 3 play): reverse and
// step seek 5 s back and on, pause stops, play plays on.
void LocalPlay_PlayButton(int32_t op);
// The text the form shows when a file's watermark record does not verify.
extern const char* const kLocalMarkBadText;
