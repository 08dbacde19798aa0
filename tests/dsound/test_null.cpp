// The null device: its play cursor runs at 8000 bytes per second of the
// process clock, here a clock the test sets by hand.
#include "SoundTestUtil.h"
#include "platform/win/Win.h"
#include <atomic>

namespace {

std::atomic<uint32_t> gNow{0};
uint32_t FakeTick() { return gNow.load(); }

class NullSound : public ::testing::Test {
protected:
    void SetUp() override
    {
        DSound_ForceDevice(SOUND_DEVICE_NULL);
        Win_SetTickSource(FakeTick);
    }
    void TearDown() override { Win_SetTickSource(nullptr); }
    static DWORD Cursor(IDirectSoundBuffer* b)
    {
        DWORD play = 0xFFFFFFFF;
        EXPECT_EQ(DS_OK, b->GetCurrentPosition(&play, nullptr));
        return play;
    }
};

TEST_F(NullSound, CursorRunsAtEightThousandBytesPerSecondAndWraps)
{
    // Start ticks near the top of the tick counter too: it wraps as well.
    for (uint32_t start : {1000u, 0xFFFFFC00u}) {
        SCOPED_TRACE(start);
        gNow = start;
        TSoundPair s;
        ASSERT_EQ(DS_OK, s.Open());
        ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, DSBPLAY_LOOPING));
        // Milliseconds since Play, and the cursor then (8 bytes per ms).
        struct Row {
            uint32_t ms;
            DWORD cursor;
        } rows[] = {
            {0, 0},
            {1, 8},
            {125, 1000},
            {1000, 8000},
            {2047, 16376},
            {2048, 0},
            {2049, 8},
            {3000, 24000 % 16384},
            {10000, 80000 % 16384},
            {10000, 80000 % 16384},
            {60001, 480008 % 16384},
        };
        for (const Row& r : rows) {
            gNow = start + r.ms;
            EXPECT_EQ(r.cursor, Cursor(s.buffer)) << "at " << r.ms << " ms";
        }
    }
}

TEST_F(NullSound, UnreadClockStillCounts)
{
    // The cursor depends on the time since Play, not on how often it is read.
    gNow = 5000;
    TSoundPair s;
    ASSERT_EQ(DS_OK, s.Open());
    ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, DSBPLAY_LOOPING));
    gNow = 5000 + 1999;
    EXPECT_EQ(15992u, Cursor(s.buffer));
    gNow = 5000 + 7 * 60 * 1000 + 3; // seven minutes later: 3,360,024 bytes
    EXPECT_EQ(3360024u % 16384, Cursor(s.buffer));
}

TEST_F(NullSound, StopFreezesAndPositionRestarts)
{
    gNow = 0;
    TSoundPair s;
    ASSERT_EQ(DS_OK, s.Open());
    gNow = 500;
    EXPECT_EQ(0u, Cursor(s.buffer)); // not playing yet
    ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, DSBPLAY_LOOPING));
    gNow = 600;
    ASSERT_EQ(DS_OK, s.buffer->Stop());
    gNow = 5000;
    EXPECT_EQ(800u, Cursor(s.buffer));
    ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, DSBPLAY_LOOPING));
    gNow = 5010;
    EXPECT_EQ(880u, Cursor(s.buffer));
    ASSERT_EQ(DS_OK, s.buffer->SetCurrentPosition(16000));
    gNow = 5060; // 400 bytes on: wrapped to 16
    EXPECT_EQ(16u, Cursor(s.buffer));
}

TEST_F(NullSound, WithoutLoopingItStopsAtTheEnd)
{
    gNow = 0;
    TSoundPair s;
    ASSERT_EQ(DS_OK, s.Open());
    ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, 0));
    gNow = 4000;
    DWORD status = 0;
    ASSERT_EQ(DS_OK, s.buffer->GetStatus(&status));
    EXPECT_EQ(0u, status & DSBSTATUS_PLAYING);
    EXPECT_EQ(0u, Cursor(s.buffer));
}

} // namespace
