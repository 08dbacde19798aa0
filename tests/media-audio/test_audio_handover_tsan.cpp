// The audio hand-over between the user-interface thread and the audio
// thread under ThreadSanitizer, through the viewer's own code: a producer
// writes audio frames of channels 0 and 1 into connection 0's audio ring
// as the frame stream module does, the audio thread's take runs at full
// speed, and the key panel switches the live channel back and forth. After
// every switch the channel heard must be the one chosen.
#include "tests/media-audio/AudioFixture.h"
#include "media/SoundRing.h"
#include "tests/support/Wait.h"
#include "panel/Hooks.h"
#include <atomic>
#include <thread>

namespace {

uint32_t Word(const Bytes& b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | ((uint32_t)b[at + 3] << 24);
}

class AudioHandOver : public AudioTest {};

TEST_F(AudioHandOver, EveryChannelKeyIsHeardWhileBothThreadsRun)
{
    std::atomic<bool> done{false};
    Bytes frames[2];
    for (uint32_t ch = 0; ch < 2; ++ch) {
        AudioFrameDesc f = UnitFrame(3, ch * 100);
        f.headerChannel = ch;
        frames[ch] = AudioFrame(f);
    }
    std::thread producer([&] {
        for (uint32_t k = 0; !done.load(); ++k) {
            const Bytes& b = frames[k & 1];
            while (!done.load() && StreamAudio_Write(&s->audioRing, b.data(), (uint32_t)b.size()) != 0)
                std::this_thread::yield();
        }
    });
    std::thread audio([&] {
        uint8_t out[SOUND_BLOCK];
        while (!done.load()) {
            if (Audio_TakeFrame(s) != 0) std::this_thread::yield();
            while (SoundRing_Queued() >= SOUND_BLOCK) SoundRing_TakeBlock(out);
        }
    });

    uint32_t wrong = 0;
    for (int i = 0; i < 400; ++i) {
        uint32_t to = (uint32_t)(i & 1) ^ 1;
        View_KeyAction(0, 4, VIEW_LIVE, 1, (int32_t)to, 1);
        ASSERT_TRUE(WaitUntil([] { return gSoundRing.heardChannel.load() != SOUND_HEARD_NONE; }));
        // give the audio thread a few more frames to settle on a channel
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (gSoundRing.heardChannel.load() != (int32_t)to) wrong++;
    }
    done = true;
    producer.join();
    audio.join();
    EXPECT_EQ(0u, wrong);
}

// Backup mode hands audio to the stream step on the user-interface thread
// instead of the audio thread; across mode changes the two never take from
// the ring at once, and the backup writer sees its frames in order.
TEST_F(AudioHandOver, BackupModeChangesHandTheRingOverWithoutARace)
{
    std::atomic<bool> done{false};
    std::thread producer([&] {
        for (uint32_t k = 1; !done.load(); ++k) {
            AudioFrameDesc f = UnitFrame(3, k);
            f.source = 1;      // recorded
            f.time = 5000 + k; // the frame's number, in its header
            Bytes b = AudioFrame(f);
            while (!done.load() && StreamAudio_Write(&s->audioRing, b.data(), (uint32_t)b.size()) != 0)
                std::this_thread::yield();
        }
    });
    std::thread audio([&] {
        uint8_t out[SOUND_BLOCK];
        while (!done.load()) {
            if (Audio_TakeFrame(s) != 0) std::this_thread::yield();
            while (SoundRing_Queued() >= SOUND_BLOCK) SoundRing_TakeBlock(out);
        }
    });
    uint32_t lastNumber = 0, outOfOrder = 0;
    size_t seen = 0;
    for (int i = 0; i < 200; ++i) {
        View_SetMode(v, (i & 1) ? VIEW_PLAYBACK : VIEW_BACKUP);
        for (int step = 0; step < 50; ++step) {
            while (Stream_TakeAudioFrame(s) == 0) {}
            for (; seen < gBackupSeen.frames.size(); ++seen) {
                uint32_t number = Word(gBackupSeen.frames[seen], 4);
                if (number <= lastNumber) outOfOrder++;
                lastNumber = number;
            }
            std::this_thread::yield();
        }
    }
    done = true;
    producer.join();
    audio.join();
    EXPECT_GT(gBackupSeen.frames.size(), 0u);
    EXPECT_EQ(0u, outOfOrder);
}

} // namespace
