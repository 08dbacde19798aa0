// The audio thread's rings: its look-ahead over the stream's audio ring and
// the sound ring. Owns gSoundRing and the 8 MB area behind it. Each index
// is published with release after the bytes it covers are copied and read
// with acquire by the other side.
#include "media/SoundRing.h"
#include "link/Ring.h"
#include <cstring>

TSoundRing gSoundRing;
static uint8_t gSoundData[SOUND_RING_SIZE];

// --- The stream's audio ring, consumer side ----------------------------------

int AudioPeek_Begin(TAudioPeek* p, TStreamAudioRing* ring)
{
    p->ring = ring;
    p->write = 0;
    p->read = 0;
    if (!ring || !ring->data || ring->size == 0) return -1;
    p->write = ring->writeIndex.load(std::memory_order_acquire);
    p->read = ring->readIndex.load(std::memory_order_relaxed);
    if (p->write >= ring->size || p->read >= ring->size) return -1;
    return 0;
}

uint32_t AudioPeek_Available(const TAudioPeek* p)
{
    if (!p->ring || !p->ring->data) return 0;
    return Ring_Used(p->write, p->read, p->ring->size);
}

int AudioPeek_Read(TAudioPeek* p, uint8_t* destination, uint32_t n)
{
    if (!p->ring || !p->ring->data) return -1;
    uint32_t write = p->write; // Ring_Read is handed a copy: the producer's word is never written
    return Ring_Read(p->ring->data, destination, n, &write, &p->read, p->ring->size);
}

void AudioPeek_Skip(TAudioPeek* p, uint32_t n)
{
    if (!p->ring || !p->ring->data) return;
    if (Ring_AdvanceRead(n, p->write, &p->read, p->ring->size) != 0) p->read = p->write;
}

void AudioPeek_Commit(TAudioPeek* p)
{
    if (!p->ring || !p->ring->data) return;
    p->ring->readIndex.store(p->read, std::memory_order_release);
}

void AudioPeek_Drain(TAudioPeek* p)
{
    if (!p->ring || !p->ring->data) return;
    uint32_t write = p->ring->writeIndex.load(std::memory_order_acquire);
    if (write >= p->ring->size) return;
    p->write = write;
    p->read = write;
    AudioPeek_Commit(p);
}

// --- The sound ring ------------------------------------------------------------

void SoundRing_Reset()
{
    TSoundRing& s = gSoundRing;
    s.data = gSoundData;
    s.size = SOUND_RING_SIZE;
    s.readIndex.store(0, std::memory_order_relaxed);
    s.writeIndex.store(0, std::memory_order_release);
}

uint32_t SoundRing_Queued()
{
    const TSoundRing& s = gSoundRing;
    if (!s.data || s.size == 0) return 0;
    return Ring_Used(s.writeIndex.load(std::memory_order_acquire), s.readIndex.load(std::memory_order_acquire), s.size);
}

// Copies n bytes produced by fill(i) in at the write index, wrapping, and
// publishes the new write index.
template <class F> static void PutBytes(uint32_t n, F fill)
{
    TSoundRing& s = gSoundRing;
    uint32_t w = s.writeIndex.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < n; ++i) {
        s.data[w] = fill(i);
        if (++w == s.size) w = 0;
    }
    s.writeIndex.store(w, std::memory_order_release);
}

uint32_t SoundRing_StoreOddBytes(const uint8_t* payload, uint32_t n)
{
    TSoundRing& s = gSoundRing;
    if (!s.data || !payload || n == 0) return 0;
    uint32_t room = s.size - 1 - SoundRing_Queued();
    if (n > room) n = room;
    if (n == 0) return 0;
    uint64_t sum = 0;
    PutBytes(n, [&](uint32_t i) {
        uint8_t b = payload[2 * i + 1];
        sum += b;
        return b;
    });
    uint64_t mean = sum / n;
    s.silenceValue = (uint32_t)(mean > 255 ? 255 : mean);
    return n;
}

void SoundRing_PutSilence(uint32_t n)
{
    TSoundRing& s = gSoundRing;
    if (!s.data) return;
    uint32_t room = s.size - 1 - SoundRing_Queued();
    if (n > room) n = room;
    uint8_t v = (uint8_t)(s.silenceValue > 255 ? 255 : s.silenceValue);
    PutBytes(n, [v](uint32_t) { return v; });
}

void SoundRing_DropOldest(uint32_t n)
{
    TSoundRing& s = gSoundRing;
    if (!s.data) return;
    uint32_t w = s.writeIndex.load(std::memory_order_acquire);
    uint32_t r = s.readIndex.load(std::memory_order_relaxed);
    if (Ring_AdvanceRead(n, w, &r, s.size) != 0) r = w;
    s.readIndex.store(r, std::memory_order_release);
}

void SoundRing_Drain()
{
    TSoundRing& s = gSoundRing;
    s.readIndex.store(s.writeIndex.load(std::memory_order_acquire), std::memory_order_release);
}

int SoundRing_TakeBlock(uint8_t* out)
{
    TSoundRing& s = gSoundRing;
    if (!s.data || !out) return -1;
    uint32_t w = s.writeIndex.load(std::memory_order_acquire);
    uint32_t r = s.readIndex.load(std::memory_order_relaxed);
    if (Ring_Read(s.data, out, SOUND_BLOCK, &w, &r, s.size) != 0) return -1;
    s.readIndex.store(r, std::memory_order_release);
    return 0;
}
