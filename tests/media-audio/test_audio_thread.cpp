// The audio thread itself on the fake device: started as the form starts
// it, it takes the frames the user-interface thread stores and feeds the
// device; the unload query parks it and only then releases the buffer, even
// while frames keep arriving and the device keeps playing.
#include "AudioFixture.h"
#include "tests/support/Wait.h"
#include <chrono>
#include <thread>

namespace {

TEST_F(AudioTest, RunsUntilTheUnloadQueryParksItThenTheBufferGoes)
{
    Audio_StartThread();
    ASSERT_NE(nullptr, gAudioThread);
    EXPECT_FALSE(gAudioThread->Suspended());

    // One unit of 66: 2,080 samples, four blocks reach the device.
    Push(UnitFrame(66, 1));
    ASSERT_TRUE(WaitUntil([&] { return RingUsed() == 0 && FakeSound_State().hasBuffer; }));
    // The device starts only once the thread has written the four blocks:
    // a cursor moved before the first feed would put them one slot on and
    // play silence first.
    auto fed = [] {
        Bytes loop = FakeSound_Loop();
        if (loop.size() < 2048) return false;
        for (uint32_t i = 0; i < 2048; ++i)
            if (loop[i] != (uint8_t)(1 + i)) return false;
        return true;
    };
    ASSERT_TRUE(WaitUntil(fed));
    ASSERT_TRUE(WaitUntil([&] {
        FakeSound_Advance(64);
        return FakeSound_Played().size() >= 2048;
    }));
    Bytes played = FakeSound_Played();
    for (uint32_t i = 0; i < 2048; ++i) ASSERT_EQ((uint8_t)(1 + i), played[i]) << "byte " << i;

    // Frames keep coming and the device keeps playing while the host asks.
    std::atomic<bool> stop{false};
    std::thread device([&] {
        while (!stop) {
            FakeSound_Advance(16);
            std::this_thread::yield();
        }
    });
    for (int i = 0; i < 200; ++i) {
        if (StreamAudio_Free95(&s->audioRing) > 8192) Push(UnitFrame(20, (uint32_t)i));
        if (i % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Audio_StopForUnload();
    EXPECT_TRUE(gAudioThread->Suspended());
    EXPECT_TRUE(gAudioThread->Terminated());
    EXPECT_EQ(nullptr, gSoundBuffer);
    EXPECT_EQ(nullptr, gSoundDevice);
    TFakeSoundState st = FakeSound_State();
    EXPECT_EQ(0, st.buffers);
    EXPECT_EQ(0, st.devices);
    stop = true;
    device.join();

    // Parked for good: nothing more is taken or played.
    uint32_t before = RingUsed();
    Push(UnitFrame(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(before + (uint32_t)AudioFrame(UnitFrame(20)).size(), RingUsed());
    EXPECT_FALSE(FakeSound_State().hasBuffer);
    Audio_StopForUnload(); // asked again: harmless
    EXPECT_TRUE(gAudioThread->Suspended());
}

} // namespace
