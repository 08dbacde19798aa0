// The rings of the audio path without the device: the consumer's side of
// the stream's audio ring (a look-ahead cursor that hands the read index
// back to the producer only when a frame is consumed) and the sound ring
// that holds the kept samples until the feeder passes them to the device.
// Owns gSoundRing and its static 8 MB area.
#pragma once
#include "media/Stream.h"
#include <atomic>
#include <cstdint>

enum {
    SOUND_RING_SIZE = 0x800000, // 8 MB
    SOUND_BUFFER_SIZE = 16384,  // the looping device buffer
    SOUND_BLOCK = 512,          // bytes per write into the device
    SOUND_BLOCK_SLOTS = 32,     // SOUND_BUFFER_SIZE / SOUND_BLOCK
    SOUND_HEARD_NONE = -1,
};

// One, static. The audio thread is its only user, except that the key
// panel clears heardChannel; the words both threads touch are atomic.
struct TSoundRing {
    std::atomic<int32_t> heardChannel; // channel played; -1 none (every key-panel action)
    std::atomic<uint32_t> started;     // 1 while output runs
    uint32_t lastCursor;               // last play cursor the device reported
    uint32_t bytesHanded;              // bytes written to the device, across wraps; 0 = none since the restart
    uint32_t bufferSize;               // 16,384
    uint32_t blockCounter;             // next block slot = blockCounter AND 31
    uint32_t wrapCount;                // times the play cursor went back to the loop's start
    uint32_t silenceValue;             // mean of the kept bytes of the last stored block
    std::atomic<uint32_t> readIndex;
    std::atomic<uint32_t> writeIndex;
    uint32_t size; // SOUND_RING_SIZE once set up, 0 before
    uint8_t* data; // the static area once set up, null before
};

extern TSoundRing gSoundRing;

// --- The stream's audio ring, consumer side ----------------------------------

// A look into the audio ring. Reads move only the local index; the
// producer sees none of it until AudioPeek_Commit. The producer's write
// index is only ever read.
struct TAudioPeek {
    TStreamAudioRing* ring;
    uint32_t write; // the producer's index as it was at the start
    uint32_t read;  // the local read index
};

// 0, or -1 when the ring has no data area.
int AudioPeek_Begin(TAudioPeek* peek, TStreamAudioRing* ring);
// Bytes between the local read index and the write index seen.
uint32_t AudioPeek_Available(const TAudioPeek* peek);
// Copies n bytes out at the local index and moves it: 0, or -1 (nothing moves).
int AudioPeek_Read(TAudioPeek* peek, uint8_t* destination, uint32_t n);
// Moves the local index past n bytes; past everything seen when fewer are there.
void AudioPeek_Skip(TAudioPeek* peek, uint32_t n);
// Hands the local index to the producer: the bytes before it are consumed.
void AudioPeek_Commit(TAudioPeek* peek);
// Empties the ring from this side (read index := the current write index)
// and commits.
void AudioPeek_Drain(TAudioPeek* peek);

// --- The sound ring ------------------------------------------------------------

// Indices 0, size 8 MB over the static area; the other words stay.
void SoundRing_Reset();
// Bytes queued (write - read, modulo the size); 0 before the first reset.
uint32_t SoundRing_Queued();
// Stores bytes 1, 3, 5 ... of payload, n of them (the caller makes sure
// payload holds 2n bytes) at the write index, and makes their mean the
// silence value (n > 0). Samples that would fill the ring are not stored.
// Returns the samples stored.
uint32_t SoundRing_StoreOddBytes(const uint8_t* payload, uint32_t n);
// Puts n bytes of the silence value at the write index.
void SoundRing_PutSilence(uint32_t n);
// Drops the oldest n bytes (all that are queued, when fewer).
void SoundRing_DropOldest(uint32_t n);
// Empties the ring: read index := write index.
void SoundRing_Drain();
// Copies SOUND_BLOCK bytes from the read index (wrapping) into out and
// moves the read index past them: 0, or -1 when fewer are queued.
int SoundRing_TakeBlock(uint8_t* out);
