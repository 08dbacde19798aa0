// Sound output: the audio thread TAudioThread1, which takes the recorder's
// audio frames out of connection 0's stream, keeps one byte in two, paces
// them against the video of their channel, collects them in the sound ring
// and feeds a looping 16,384-byte device buffer 512 bytes at a time (8000
// Hz mono 8-bit); the alarm beeper; the hand-off of audio frames to the
// backup writer in Backup mode. Owns the device and its buffer, the 32 KB
// transfer buffer, gAudioThread and the alarm state.
#pragma once
#include "media/SoundRing.h"
#include "platform/dsound/DSound.h"
#include "platform/vcl/Thread.h"
#include <atomic>
#include <cstdint>

enum {
    AUDIO_TAKE_PER_PASS = 100,
    AUDIO_TRANSFER_SIZE = 32768,
    AUDIO_MAX_TOTAL = 8192,                            // a block this long or longer empties the audio ring
    AUDIO_BLOCK_SIZE = 128,                            // TVidoFrameBlock in front of every frame
    AUDIO_TRIM_ABOVE = 7680,                           // queued bytes above which the oldest block is dropped
    AUDIO_AHEAD_MAX = SOUND_BUFFER_SIZE - SOUND_BLOCK, // 15,872
    AUDIO_NEAR_DRY = 128,
    AUDIO_MAX_LEAD_SECONDS = 60,
    AUDIO_DRAIN_MAX = 100000, // frames one drain looks at (more than the ring holds) // audio this far ahead of its
                              // video no longer waits for it
};

// The device and its one buffer; null when absent.
extern IDirectSound* gSoundDevice;
extern IDirectSoundBuffer* gSoundBuffer;

// Opens the default device, sets the normal cooperative level on the
// foreground window (the desktop window when there is none) and makes the
// looping buffer. Any failure releases what was made.
void Sound_Create();
// Sound_Create when there is no buffer; then position 0 and play looping.
void Sound_Start();
// Writes 512 bytes into block slot `slot` (a lost buffer is restored once).
void Sound_WriteBlock(const uint8_t* bytes, uint32_t slot);
// Stops the buffer when there is one, then Sound_Release.
void Sound_Stop();
// Releases the buffer, then the device.
void Sound_Release();
// Sound_Stop, the feeder's counters and both sound ring indices to 0, then Sound_Start.
void Sound_Restart();
// One feeding step: 0 = a block was written, 1 = nothing to do now.
int Sound_Feed();
// Takes one audio frame from the stream's audio ring: 0 = go on, 1 = stop
// for now. The stream step calls it in Backup mode (the frames go to the
// backup writer); outside Backup mode only the audio thread takes frames.
int Stream_TakeAudioFrame(TStreamRecord* stream);
// Backup mode: offers the sound frames in the stream's audio ring to take,
// oldest first (header and unit in a buffer of their own, so a held video
// frame stays untouched), as long as take answers 1 (the frame is then
// consumed); 0 leaves the frame in the ring and ends the drain. Frames that
// are not the backup channel's recorded sound of the current request are
// dropped on the way. Nothing happens while the audio thread is in the ring.
typedef int (*TAudioDrainTake)(const uint8_t* frame, uint32_t length);
void Audio_DrainBackupSound(TStreamRecord* stream, TAudioDrainTake take);
// The audio thread's own take (outside Backup mode).
int Audio_TakeFrame(TStreamRecord* stream);
// The channel whose audio is heard; -1 none (every key-panel action): the
// next accepted frame restarts the output on its channel.
void Sound_SetHeardChannel(int32_t channel);
// The beeper step of each pass of the audio thread.
void AudioThread_AlarmBeep();

// What the audio thread knows of a connection's view and recorder. The
// user-interface thread copies these words from the view record and the
// machine record (Audio_PublishViews) before every stream step and at every
// mode change; the audio thread reads only this copy, never the records.
struct TAudioView {
    std::atomic<uint32_t> mode;
    std::atomic<uint32_t> liveLayout;
    std::atomic<uint32_t> liveChannel;
    std::atomic<uint32_t> playbackChannel;
    std::atomic<uint32_t> backupChannel;
    std::atomic<uint32_t> icmdSequence;
    std::atomic<uint32_t> noSound; // the machine record's audio word is 2
    std::atomic<uint32_t> framesPerSecond;
};
extern TAudioView gAudioViews[2];
// Copies both connections' words (a connection without a view publishes
// Setup, which takes no sound).
void Audio_PublishViews();

// The alarm: the beeper sounds while the recorder time now is below this
// time (0: never). Nothing sets it yet.
extern std::atomic<uint32_t> gAlarmUntil;

class TAudioThread1 : public TThread {
public:
    // Created suspended; frees itself once Execute returns.
    TAudioThread1(bool CreateSuspended);
    ~TAudioThread1() override;

protected:
    void Execute() override;
};

extern TAudioThread1* gAudioThread;

// Start-up: creates gAudioThread suspended and resumes it.
void Audio_StartThread();
// The unload query: parks the audio thread (it acknowledges at the top of
// its loop) and marks it terminated, then stops and releases the buffer.
void Audio_StopForUnload();

// Test seam: where Backup-mode audio frames go (null: the backup
// controller). The beeper reads the PC's clock as recorder time, whose
// seam is the platform's (Win_SetTimeSource).
typedef int (*TAudioBackup)(TStreamRecord* stream);
void Audio_SetBackupHandOff(TAudioBackup backup);
