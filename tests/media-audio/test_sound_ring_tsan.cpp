// The audio path's rings with both sides at full speed under
// ThreadSanitizer: a producer stores frames in a small audio ring through
// the frame stream module's own write, while the consumer looks ahead with its own
// read index, gives some frames back, consumes the rest into the sound ring
// and takes 512-byte blocks out of it; a third thread clears the heard
// channel as the key panel does. Every frame must arrive once, whole and in
// order, and the blocks must carry the kept bytes without a gap.
#include "link/Bytes.h"
#include "link/Ring.h"
#include "media/Stream.h"
#include "media/SoundRing.h"
#include <gtest/gtest.h>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kFrames = 20000;
constexpr uint32_t kSamples = 96; // kept bytes per frame
constexpr uint32_t kPayload = 2 * kSamples;
constexpr uint32_t kTotal = 128 + 32 + kPayload;
constexpr uint32_t kRingSize = 16 * 1024; // small: the indices wrap often

uint8_t gArea[kRingSize];

// Sample j of the whole run: a ramp across frames.
uint8_t Sample(uint64_t j) { return (uint8_t)(j * 7 + (j >> 8)); }

// The producer's side: the frame stream module's own audio ring write.
bool Produce(TStreamAudioRing* ring, const uint8_t* frame, uint32_t n)
{
    return StreamAudio_Write(ring, frame, n) == 0;
}

TEST(SoundRingThreads, FramesAndBlocksSurviveBothSidesAtFullSpeed)
{
    TStreamAudioRing ring;
    ring.writeIndex.store(0);
    ring.readIndex.store(0);
    ring.size = kRingSize;
    ring.data = gArea;
    SoundRing_Reset();
    gSoundRing.heardChannel.store(0);

    std::atomic<bool> done{false};
    std::thread producer([&] {
        uint8_t frame[kTotal];
        for (uint32_t k = 0; k < kFrames; ++k) {
            memset(frame, 0, sizeof frame);
            PutU32(frame, kTotal);
            PutU32(frame + 12, k); // the frame's number
            PutU32(frame + 128, 0x03000000);
            for (uint32_t i = 0; i < kSamples; ++i) {
                frame[160 + 2 * i] = 0xEE;
                frame[160 + 2 * i + 1] = Sample((uint64_t)k * kSamples + i);
            }
            while (!Produce(&ring, frame, kTotal)) std::this_thread::yield();
        }
    });
    std::thread keyPanel([&] {
        while (!done.load()) {
            gSoundRing.heardChannel.store(SOUND_HEARD_NONE);
            std::this_thread::yield();
        }
    });

    uint32_t next = 0, givenBack = 0, clears = 0;
    uint64_t heard = 0;
    bool failed = false;
    uint8_t block[128], header[32], payload[kPayload], out[SOUND_BLOCK];
    while (next < kFrames && !failed) {
        TAudioPeek peek;
        ASSERT_EQ(0, AudioPeek_Begin(&peek, &ring));
        if (AudioPeek_Available(&peek) == 0) {
            std::this_thread::yield();
            continue;
        }
        ASSERT_EQ(0, AudioPeek_Read(&peek, block, sizeof block));
        ASSERT_EQ(kTotal, GetU32(block));
        ASSERT_EQ(next, GetU32(block + 12));
        ASSERT_EQ(0, AudioPeek_Read(&peek, header, sizeof header));
        ASSERT_EQ(0x03000000u, GetU32(header));
        ASSERT_EQ(0, AudioPeek_Read(&peek, payload, sizeof payload));
        if (next % 5 == 0 && givenBack < next / 5 + 1) {
            givenBack++; // waits for its video: the producer must not see the bytes free
            continue;
        }
        AudioPeek_Commit(&peek);
        if (gSoundRing.heardChannel.load() == SOUND_HEARD_NONE) {
            clears++;
            gSoundRing.heardChannel.store(0);
        }
        ASSERT_EQ(kSamples, SoundRing_StoreOddBytes(payload, kSamples));
        next++;
        while (SoundRing_Queued() >= SOUND_BLOCK) {
            ASSERT_EQ(0, SoundRing_TakeBlock(out));
            for (uint32_t i = 0; i < SOUND_BLOCK; ++i, ++heard)
                if (out[i] != Sample(heard)) {
                    ADD_FAILURE() << "sample " << heard;
                    failed = true;
                    break;
                }
        }
    }
    done = true;
    producer.join();
    keyPanel.join();
    EXPECT_EQ(kFrames, next);
    EXPECT_EQ(kFrames / 5, givenBack);
    EXPECT_EQ((uint64_t)kFrames * kSamples / SOUND_BLOCK * SOUND_BLOCK, heard);
    TAudioPeek peek;
    ASSERT_EQ(0, AudioPeek_Begin(&peek, &ring));
    EXPECT_EQ(0u, AudioPeek_Available(&peek));
}

} // namespace
