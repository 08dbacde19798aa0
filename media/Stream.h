// Per-connection streams: the video and audio rings the frame stream module
// fills, the held frame, the channel states, the frame header checks,
// pacing and the hand-off to the decoder or the backup writer; and the
// display registration. Owns gStreamRecords (two), gDisplayTargets, the
// static pool of display nodes and the movie file dialogs.
#pragma once
#include "link/Conn.h"
#include "link/Ring.h"
#include <atomic>
#include <cstddef>
#include <cstdint>

class TComponent;
class TImage;
class TLabel;
class TSaveDialog;
class TOpenDialog;
struct TBackupBlock;

enum {
    STREAM_CHANNELS = 17,       // 0 .. 15 and channel 16 (Live only)
    STREAM_RING_SIZE = 4194304, // video ring, audio ring and held buffer, 4 MB each
    STREAM_MAX_BLOCK = 262144,  // a block this long or longer empties the video ring
    STREAM_TAKE_PER_TICK = 100,
    STREAM_DISPLAY_NODES = 64, // registrations the pool holds
    FRAME_HEADER_SIZE = 32,
};

// --- TDvrFrameHeader ---------------------------------------------------------

// 32 bytes in front of every frame unit (little-endian).
struct TDvrFrameHeader {
    uint32_t magic;      // 0x03000000: bytes 00 00 00 03
    uint32_t time;       // recorder time in seconds; not 0 for video
    uint8_t frameNumber; // frame within its second
    uint8_t byte9;
    uint8_t byte10;
    uint8_t kindBits;    // bits 6-7: 1 video, 2 audio
    uint8_t height;      // in 16-pixel units; not 0 for video
    uint8_t width;       // in 16-pixel units; not 0 for video
    uint8_t modeChannel; // bits 2-3 field mode (1 = field picture), bits 4-7 channel
    uint8_t typeUnits;   // bits 4-5 frame type (0 = key frame), bits 0-3 further units
    uint8_t byte16;
    uint8_t byte17;
    uint16_t unitLength; // in 64-byte units, header included; not 0
    uint8_t byte20;
    uint8_t byte21;
    uint8_t byte22;
    uint8_t sourceBits;     // bits 5-6: 0 live, 1 recorded, 3 local file
    uint32_t timeScaleBits; // bits 5-21: 20 x frame rate; 0 means 200
    int32_t timeOffset;     // seconds added to the time for display
};
static_assert(sizeof(TDvrFrameHeader) == FRAME_HEADER_SIZE, "frame header is 32 bytes");
static_assert(offsetof(TDvrFrameHeader, unitLength) == 18, "unit length at 18");
static_assert(offsetof(TDvrFrameHeader, timeScaleBits) == 24, "time scale at 24");

enum { FRAME_MAGIC = 0x03000000, FRAME_KIND_VIDEO = 1, FRAME_KIND_AUDIO = 2 };
enum { SOURCE_LIVE = 0, SOURCE_RECORDED = 1, SOURCE_LOCAL_FILE = 3 };

// 0 valid, -1 invalid: the magic, a known kind, a unit length, and for
// video a time and a picture size.
int FrameHeader_Check(const TDvrFrameHeader* header);
// The same test for the movie writer; the two further arguments are not used.
int FrameHeader_CheckUnit(const TDvrFrameHeader* header, uint32_t unused1, uint32_t unused2);
// Byte 15 bits 4-5: 0 key frame.
uint32_t FrameHeader_Type(const TDvrFrameHeader* header);
uint32_t FrameHeader_Kind(const TDvrFrameHeader* header);
uint32_t FrameHeader_FieldMode(const TDvrFrameHeader* header);
uint32_t FrameHeader_Channel(const TDvrFrameHeader* header);
uint32_t FrameHeader_FurtherUnits(const TDvrFrameHeader* header);
uint32_t FrameHeader_Source(const TDvrFrameHeader* header);
// The raw bits 5-21 (0 when the recorder sent none).
uint32_t FrameHeader_TimeScale(const TDvrFrameHeader* header);

// --- Rings -------------------------------------------------------------------

// The audio ring: written by the user-interface thread (the producer moves
// only writeIndex), read by the audio thread (the consumer moves only
// readIndex). Each index is published after its bytes are copied.
struct TStreamAudioRing {
    std::atomic<uint32_t> writeIndex;
    std::atomic<uint32_t> readIndex;
    uint32_t size;
    uint8_t* data;
};

// Producer side (user-interface thread).
int StreamAudio_Write(TStreamAudioRing* ring, const uint8_t* source, uint32_t n);
uint32_t StreamAudio_Free95(TStreamAudioRing* ring);
// Consumer side (audio thread, or the stream step in Backup mode).
uint32_t StreamAudio_Used(TStreamAudioRing* ring);
int StreamAudio_Read(TStreamAudioRing* ring, uint8_t* destination, uint32_t n);
int StreamAudio_Skip(TStreamAudioRing* ring, uint32_t n);
int StreamAudio_StepBack(TStreamAudioRing* ring, uint32_t n);
// Empties the ring from the consumer's side: read index := write index.
void StreamAudio_Drain(TStreamAudioRing* ring);

// --- Channel states and display areas ---------------------------------------

struct TChannelState {
    uint32_t keyWait;      // 1: drop frames until a key frame
    uint32_t due;          // due time of the next frame, ms on stopwatch slot 10 + channel
    uint32_t newestSecond; // block words 36 and 40 of the newest arrival
    uint32_t newestFrame;
    // Read by the audio thread.
    std::atomic<uint32_t> startSecond; // header time and frame number at the last resynchronisation
    std::atomic<uint32_t> startFrame;
    std::atomic<uint32_t> videoTime; // (time AND 0xFFFFFF) x fps + frame of the last decoded frame
};

struct TDisplayNode {
    TImage* target;
    TLabel* timeLabel;
    uint32_t words[2]; // the registration's two further words
    TDisplayNode* prev;
    TDisplayNode* next;
};

struct TDisplayArea {
    uint32_t count;         // displays registered
    uint32_t slotResult;    // what Display_Register answered for the first
    uint32_t queryTimes[4]; // playback areas: last search times of period indexes 4 .. 7
    TDisplayNode* head;
};

// One display registration.
struct TDisplayRegistration {
    int32_t connection; // 0, or -1: the connection with this address and port
    uint32_t port;
    uint32_t channel; // 0 .. 16
    uint32_t kind;    // 0 live, 1 playback
    const char* address;
    uint32_t unused;
    TImage* target;
    TLabel* timeLabel;
    uint32_t words[2];
};

// --- TStreamRecord -----------------------------------------------------------

struct TStreamRecord {
    int32_t directionSeen; // the last playbackDirection seen in Playback
    uint32_t audioWanted;  // 1 once a video frame was accepted
    uint32_t keyFrameWord; // 1: parameter sets were put in front of a key frame; the decoder clears it
    TFrameRing videoRing;
    TStreamAudioRing audioRing;
    uint32_t lastSource; // source of the last accepted frame
    uint32_t heldStatus; // block status value of the held frame
    uint32_t heldTaken;  // slot-1 reading when it was taken
    uint32_t heldTime;   // its header time, frame number and header channel
    uint32_t heldFrameNumber;
    uint32_t heldHeaderChannel;
    int32_t lastOffset; // time offset last used, and how often it changed
    uint32_t offsetChanges;
    uint32_t heldLength; // bytes to hand on; 0 = no frame held
    uint8_t* heldBuffer; // 4 MB
    TChannelState channels[STREAM_CHANNELS];
    uint32_t heldChannel; // block channel of the held frame
    uint32_t liveDisplayCount;
    uint32_t playbackDisplayCount;
    uint32_t fieldPicture;      // 1: the held frame is a field picture
    uint32_t displayTime;       // the stream's current time: header time + the offset used
    uint32_t shownPlaybackTime; // the last time put on the key panel in Playback
    TDisplayArea liveAreas[STREAM_CHANNELS];
    TDisplayArea playbackAreas[STREAM_CHANNELS];
    TImage* localTarget; // local-file playback's target image and time label
    TLabel* localTimeLabel;
    TBackupBlock* backup;    // shared by both records
    TConnection* connection; // back pointer
};

// Where the picture output of decoder channel n draws; filled = connection set.
struct TDisplayTarget {
    TConnection* connection;
    uint32_t channel;
    uint32_t kind;
};

extern TStreamRecord gStreamRecords[CONN_COUNT];
extern TDisplayTarget gDisplayTargets[2];
extern TSaveDialog* gBackupSaveDialog; // the movie save dialog, owned by the form
extern TOpenDialog* gMovieOpenDialog;  // the movie open dialog, owned by the form

void Stream_Init();
// Both records back to what a fresh connection sees: rings emptied, no
// frame held, every channel waiting for a key frame, the counters and the
// time offsets cleared. Storage and display registrations are kept.
void Stream_Reset();
int Stream_AllocVideoRing(TStreamRecord* stream, uint32_t size);
int Stream_AllocAudioRing(TStreamRecord* stream, uint32_t size);
int Stream_AllocFrameBuffer(TStreamRecord* stream, uint32_t size);
// which: 0 all channels, else channel + 1 (beyond 17: channel 0).
void Stream_ResetChannels(TStreamRecord* stream, uint32_t which);
void Stream_ResetClocks(TStreamRecord* stream);
// The stream step of a tick, for both records.
void Stream_Pump();
void Stream_TimerStep();
// 1 = stop for this tick, 0 = go on.
int Stream_TakeVideoFrame(TStreamRecord* stream);
// 1 when the held frame was decoded or must wait, 0 when nothing is held.
int Stream_DecodeAndPace(TStreamRecord* stream, uint32_t mode);

// The connection record, or null.
TConnection* Stream_RegisterDisplay(const TDisplayRegistration* record);
// Fills slot 0 of gDisplayTargets when it is empty: 1, else 0.
uint32_t Display_Register(TConnection* connection, uint32_t channel, uint32_t kind);
// The first connect's registration: channel 0, Image_video and Label_time,
// live then playback.
void Stream_RegisterDisplays(TConnection* c);
TSaveDialog* SaveDialog_New(TComponent* owner);

// The frame rate the recorder states: 25 when its machine record says so, else 30.
uint32_t Stream_FramesPerSecond(const TConnection* c);
// Milliseconds on the channel's stopwatch slot (10 + channel), wrapping
// only with the process clock.
uint32_t Stream_ChannelNow(uint32_t channel);

// Where due frames go. The tests point them elsewhere; null restores the
// decoder channels and the backup controller.
typedef int (*TStreamDecode)(const uint8_t* buffer, uint32_t length, uint32_t channel);
typedef int (*TStreamBackup)(TStreamRecord* stream);
void Stream_SetHandOffs(TStreamDecode decode, TStreamBackup backup);
