// The audio path on the fake sound device: which frames are taken and what
// of them is kept, the pacing against video, the feeder's blocks, silence
// and trimming, the device's failures, the Backup-mode hand-off and the
// alarm beeper.
#include "AudioFixture.h"
#include "panel/Hooks.h"
#include "panel/Month.h"
#include "platform/win/Win.h"
#include <ctime>

namespace {

// --- Kept samples -----------------------------------------------------------------

struct KeptCase {
    const char* name;
    uint32_t units;   // the header's unit length
    uint32_t payload; // payload bytes really there
    uint32_t kept;    // samples that reach the sound ring
};

TEST_F(AudioTest, KeepsTheOddBytesOfTheUnitAndNoMore)
{
    const KeptCase cases[] = {
        {"unit of 66", 66, 64 * 66 - 32, 2080},
        {"one unit: header and 32 bytes", 1, 32, 0},
        {"two units", 2, 96, 32},
        {"payload longer than the unit", 10, 4000, 288},
        {"payload one byte short of the unit", 66, 64 * 66 - 33, 0},
        {"header claims far more than the block", 65535, 1000, 0},
    };
    for (const KeptCase& k : cases) {
        SCOPED_TRACE(k.name);
        SetUp();
        AudioFrameDesc f;
        f.unitLength = k.units;
        f.payload = AudioPayload(k.payload, 40);
        Push(f);
        EXPECT_EQ(0, TakeAudio(s));
        EXPECT_EQ(0u, RingUsed()) << "the frame is consumed either way";
        Bytes q = Queued();
        ASSERT_EQ(k.kept, q.size());
        for (uint32_t i = 0; i < k.kept; ++i) ASSERT_EQ((uint8_t)(40 + i), q[i]) << "sample " << i;
    }
}

TEST_F(AudioTest, FeedsTheKeptSamplesToTheDeviceInOrder)
{
    Push(UnitFrame(66, 1));
    ASSERT_EQ(0, TakeAudio(s));
    TFakeSoundState st = FakeSound_State();
    ASSERT_TRUE(st.hasBuffer);
    EXPECT_TRUE(st.playing);
    EXPECT_TRUE(st.looping);
    EXPECT_EQ(16384u, st.desc.dwBufferBytes);
    EXPECT_EQ(0u, st.desc.dwFlags);
    EXPECT_EQ(WAVE_FORMAT_PCM, st.format.wFormatTag);
    EXPECT_EQ(1, st.format.nChannels);
    EXPECT_EQ(8000u, st.format.nSamplesPerSec);
    EXPECT_EQ(8, st.format.wBitsPerSample);
    EXPECT_EQ(1, st.format.nBlockAlign);
    EXPECT_EQ(8000u, st.format.nAvgBytesPerSec);
    EXPECT_EQ((DWORD)DSSCL_NORMAL, st.cooperativeLevel);
    EXPECT_NE(nullptr, st.cooperativeWindow);

    // 2,080 samples make four whole blocks; 32 wait for more.
    int written = 0;
    while (Sound_Feed() == 0) written++;
    EXPECT_EQ(4, written);
    EXPECT_EQ(32u, SoundRing_Queued());
    ASSERT_EQ(2048u, FakeSound_Advance(2048));
    Bytes played = FakeSound_Played();
    ASSERT_EQ(2048u, played.size());
    for (uint32_t i = 0; i < 2048; ++i) ASSERT_EQ((uint8_t)(1 + i), played[i]) << "byte " << i;
}

// --- Silence, trimming, the device's lead ------------------------------------------

TEST_F(AudioTest, DryRingPlaysSilenceAtTheLastMean)
{
    AudioFrameDesc f; // 17 units: (17 x 64 - 64) / 2 = 512 samples of 140 and 100, mean 120
    f.unitLength = 17;
    f.payload = Bytes(64 * 17 - 32, 0);
    for (size_t i = 0; i < 512; ++i) f.payload[2 * i + 1] = i % 2 ? 100 : 140;
    Push(f);
    ASSERT_EQ(0, TakeAudio(s));
    EXPECT_EQ(120u, gSoundRing.silenceValue);
    ASSERT_EQ(512u, SoundRing_Queued());
    ASSERT_EQ(0, Sound_Feed());
    EXPECT_EQ(1, Sound_Feed()) << "nothing queued, the device still 512 ahead";

    struct Step {
        uint32_t advance; // play cursor moves
        int fed;          // Sound_Feed's answer
    };
    // Ahead 512 - 384 = 128: not yet dry. Ahead 127: 512 bytes of silence.
    const Step steps[] = {{384, 1}, {1, 0}, {0, 1}};
    for (const Step& st : steps) {
        if (st.advance) {
            ASSERT_EQ(st.advance, FakeSound_Advance(st.advance));
        }
        EXPECT_EQ(st.fed, Sound_Feed()) << "after " << st.advance;
    }
    ASSERT_EQ(1024u - 385, FakeSound_Advance(1024 - 385));
    Bytes played = FakeSound_Played();
    ASSERT_EQ(1024u, played.size());
    EXPECT_EQ(140, played[0]);
    EXPECT_EQ(100, played[511]);
    for (size_t i = 512; i < 1024; ++i) ASSERT_EQ(120, played[i]) << "byte " << i;
}

// Stores n samples whose value is their 512-byte block's number plus one.
static void QueueBlocks(uint32_t n)
{
    Bytes b(2 * n);
    for (uint32_t i = 0; i < n; ++i) b[2 * i + 1] = (uint8_t)(i / 512 + 1);
    SoundRing_StoreOddBytes(b.data(), n);
}

TEST_F(AudioTest, TrimsTheOldestBlockAbove7680Queued)
{
    struct Case {
        uint32_t queued;
        uint32_t left;  // queued after one feeding step
        uint8_t played; // the block that reached the device
    };
    const Case cases[] = {
        {8000, 8000 - 1024, 2},
        {7681, 7681 - 1024, 2},
        {7680, 7680 - 512, 1},
        {512, 0, 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.queued);
        SetUp();
        Sound_Restart();
        QueueBlocks(k.queued);
        ASSERT_EQ(0, Sound_Feed());
        EXPECT_EQ(k.left, SoundRing_Queued());
        ASSERT_EQ(512u, FakeSound_Advance(512));
        Bytes played = FakeSound_Played();
        EXPECT_EQ(k.played, played[0]);
        EXPECT_EQ(k.played, played[511]);
    }
}

// Feeds until the feeder has nothing to do, keeping the queue short.
static int FeedAll()
{
    int n = 0;
    for (;;) {
        if (SoundRing_Queued() < 1024) QueueBlocks(512);
        if (Sound_Feed() != 0) return n;
        n++;
    }
}

TEST_F(AudioTest, StopsWritingOnceTheWholeLoopIsAhead)
{
    Sound_Restart();
    // From a cursor at 0: 32 blocks, the last written while 15,872 are ahead.
    EXPECT_EQ(32, FeedAll());
    ASSERT_EQ(512u, FakeSound_Advance(512));
    EXPECT_EQ(1, FeedAll());
    // Around the loop: each wrap of the play cursor is counted.
    for (int lap = 0; lap < 4; ++lap) {
        ASSERT_EQ(8192u, FakeSound_Advance(8192));
        EXPECT_EQ(16, FeedAll()) << "lap " << lap;
    }
    EXPECT_EQ(2u, gSoundRing.wrapCount);
    EXPECT_EQ(32u * 512 + 512 + 4 * 8192, gSoundRing.bytesHanded);
}

TEST_F(AudioTest, FirstBlockLandsJustAheadOfThePlayCursor)
{
    struct Case {
        uint32_t cursor; // where the device stands when the first block is written
        uint32_t slot;   // the slot it goes to
    };
    const Case cases[] = {{0, 0}, {1, 1}, {700, 2}, {1024, 2}, {16000, 0}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.cursor);
        SetUp();
        Sound_Restart();
        if (k.cursor) {
            ASSERT_EQ(k.cursor, FakeSound_Advance(k.cursor));
        }
        FakeSound_ClearPlayed();
        QueueBlocks(1024);
        ASSERT_EQ(0, Sound_Feed());
        ASSERT_EQ(0, Sound_Feed());
        // The device plays on to the slot, then both blocks in order.
        uint32_t to = (k.slot * 512 + 16384 - k.cursor) % 16384;
        ASSERT_EQ(to + 1024, FakeSound_Advance(to + 1024));
        Bytes played = FakeSound_Played();
        EXPECT_EQ(1, played[to]);
        EXPECT_EQ(1, played[to + 511]);
        EXPECT_EQ(2, played[to + 512]);
        EXPECT_EQ(2, played[to + 1023]);
        // The lead is the real one: 1,024 - (to + 1,024) = 0, so the feeder
        // tops up with silence now.
        EXPECT_EQ(0, Sound_Feed());
    }
}

TEST_F(AudioTest, NearlyDryAPartialBlockIsMadeUpWithSilence)
{
    AudioFrameDesc f; // 4 units: 96 samples of 90, silence level 90
    f.unitLength = 4;
    f.payload = Bytes(4 * 64 - 32, 90);
    for (int frames = 0; frames < 6; ++frames) Push(f); // 576 samples
    for (int frames = 0; frames < 6; ++frames) ASSERT_EQ(0, TakeAudio(s));
    ASSERT_EQ(576u, SoundRing_Queued());
    ASSERT_EQ(0, Sound_Feed());
    ASSERT_EQ(64u, SoundRing_Queued());
    struct Step {
        uint32_t advance;
        int fed;
        uint32_t queued;
    };
    const Step steps[] = {
        {0, 1, 64},   // 512 ahead: the 64 wait for more
        {384, 1, 64}, // 128 ahead: still not dry
        {1, 0, 0},    // 127 ahead: the 64 go, with 448 of silence behind them
        {0, 1, 0},
    };
    for (const Step& st : steps) {
        if (st.advance) {
            ASSERT_EQ(st.advance, FakeSound_Advance(st.advance));
        }
        EXPECT_EQ(st.fed, Sound_Feed()) << "after " << st.advance;
        EXPECT_EQ(st.queued, SoundRing_Queued());
    }
    ASSERT_EQ(1024u - 385, FakeSound_Advance(1024 - 385));
    Bytes played = FakeSound_Played();
    ASSERT_EQ(1024u, played.size());
    for (size_t i = 0; i < 576; ++i) ASSERT_EQ(90, played[i]) << "byte " << i;
    for (size_t i = 576; i < 1024; ++i) ASSERT_EQ(90, played[i]) << "byte " << i;
}

TEST_F(AudioTest, AfterTheDeviceRanDryWritingGoesOnAheadOfTheCursor)
{
    Sound_Restart();
    QueueBlocks(512);
    ASSERT_EQ(0, Sound_Feed());                // block 1 into slot 0
    ASSERT_EQ(1000u, FakeSound_Advance(1000)); // the device runs 488 past it
    FakeSound_ClearPlayed();
    QueueBlocks(1024); // blocks 1 and 2 of a new run
    ASSERT_EQ(0, Sound_Feed());
    ASSERT_EQ(0, Sound_Feed());
    // Slot 2 starts 24 bytes ahead of the cursor at 1,000.
    ASSERT_EQ(24u + 1024, FakeSound_Advance(24 + 1024));
    Bytes played = FakeSound_Played();
    EXPECT_EQ(1, played[24]);
    EXPECT_EQ(1, played[24 + 511]);
    EXPECT_EQ(2, played[24 + 512]);
    EXPECT_EQ(2, played[24 + 1023]);
}

// --- Pacing -----------------------------------------------------------------------

TEST_F(AudioTest, AudioAheadOfItsVideoWaitsInTheRing)
{
    const uint32_t t = 5000, fps = 30;
    struct Case {
        const char* name;
        uint32_t videoTime;
        uint32_t frame;
        int result;
        bool waits;
    };
    const Case cases[] = {
        {"one frame later than the video", (t & 0xFFFFFF) * fps + 5, 6, 1, true},
        {"same frame", (t & 0xFFFFFF) * fps + 5, 5, 0, false},
        {"earlier frame", (t & 0xFFFFFF) * fps + 5, 4, 0, false},
        {"no video decoded yet", 0, 29, 0, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        SetUp();
        s->channels[0].videoTime.store(k.videoTime);
        AudioFrameDesc f = UnitFrame(3);
        f.time = t;
        f.frameNumber = k.frame;
        Push(f);
        uint32_t before = RingUsed();
        EXPECT_EQ(k.result, TakeAudio(s));
        EXPECT_EQ(k.waits ? before : 0u, RingUsed());
        EXPECT_EQ(k.waits ? 0u : 64u, SoundRing_Queued());
        if (k.waits) {
            s->channels[0].videoTime.store(k.videoTime + 1); // the video catches up
            EXPECT_EQ(0, TakeAudio(s));
            EXPECT_EQ(0u, RingUsed());
            EXPECT_EQ(64u, SoundRing_Queued());
        }
    }
}

// After a seek back (or a recorder clock set back, or a bad stamp) the
// video is far behind the audio already in the ring; waiting for it would
// hold every frame behind that one for as long.
TEST_F(AudioTest, AudioAMinuteOrMoreAheadOfItsVideoIsDroppedNotWaitedFor)
{
    const uint32_t fps = 30, video = 5000;
    struct Case {
        const char* name;
        uint32_t time, frame;
        bool waits;
    };
    const Case cases[] = {
        {"59 s and 29 frames ahead", video + 59, 29, true},
        {"a minute ahead", video + 60, 0, false},
        {"an hour ahead", video + 3600, 0, false},
        {"as far ahead as the stamp goes", 0xFFFFFF, 29, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        SetUp();
        s->channels[0].videoTime.store(video * fps);
        AudioFrameDesc ahead = UnitFrame(3, 1);
        ahead.time = k.time;
        ahead.frameNumber = k.frame;
        Push(ahead);
        AudioFrameDesc due = UnitFrame(3, 100); // in step with the video
        due.time = video;
        due.frameNumber = 0;
        Push(due);
        uint32_t both = RingUsed();
        if (k.waits) {
            EXPECT_EQ(1, TakeAudio(s));
            EXPECT_EQ(both, RingUsed()) << "the frame waits where it is";
            EXPECT_EQ(0u, SoundRing_Queued());
            continue;
        }
        EXPECT_EQ(0, TakeAudio(s)) << "dropped";
        EXPECT_EQ(0u, SoundRing_Queued());
        EXPECT_EQ(0, TakeAudio(s)) << "the frame behind it plays";
        EXPECT_EQ(0u, RingUsed());
        Bytes q = Queued();
        ASSERT_EQ(64u, q.size());
        EXPECT_EQ(100, q[0]);
    }
}

TEST_F(AudioTest, AudioFromBeforeTheVideosStartIsDropped)
{
    struct Case {
        uint32_t startSecond, startFrame, time, frame;
        uint32_t kept;
    };
    const Case cases[] = {
        {5000, 0, 4999, 29, 0},
        {5000, 4, 5000, 3, 0},
        {5000, 3, 5000, 3, 64},
        {5000, 3, 5001, 0, 64},
    };
    for (const Case& k : cases) {
        SetUp();
        s->channels[0].startSecond.store(k.startSecond);
        s->channels[0].startFrame.store(k.startFrame);
        AudioFrameDesc f = UnitFrame(3);
        f.time = k.time;
        f.frameNumber = k.frame;
        Push(f);
        EXPECT_EQ(0, TakeAudio(s));
        EXPECT_EQ(k.kept, SoundRing_Queued()) << k.time << "." << k.frame;
    }
}

// --- Which frames are taken ---------------------------------------------------------

TEST_F(AudioTest, TakesOnlyTheFramesTheViewCanHear)
{
    struct Case {
        const char* name;
        uint32_t mode, layout, liveChannel, playbackChannel;
        uint32_t headerChannel, source;
        uint32_t kept;
    };
    const Case cases[] = {
        {"live channel 0", VIEW_LIVE, LAYOUT_SINGLE, 0, 0, 0, SOURCE_LIVE, 64},
        {"live channel 1", VIEW_LIVE, LAYOUT_SINGLE, 1, 0, 1, SOURCE_LIVE, 64},
        {"live four-way split", VIEW_LIVE, LAYOUT_QUAD, 0, 0, 0, SOURCE_LIVE, 0},
        {"live, other channel's sound", VIEW_LIVE, LAYOUT_SINGLE, 0, 0, 1, SOURCE_LIVE, 0},
        {"live channel 2", VIEW_LIVE, LAYOUT_SINGLE, 2, 0, 2, SOURCE_LIVE, 0},
        {"live, recorded source", VIEW_LIVE, LAYOUT_SINGLE, 0, 0, 0, SOURCE_RECORDED, 0},
        {"playback channel 0", VIEW_PLAYBACK, 0, 0, 0, 0, SOURCE_RECORDED, 64},
        {"playback, live source", VIEW_PLAYBACK, 0, 0, 0, 0, SOURCE_LIVE, 0},
        {"playback channel 3", VIEW_PLAYBACK, 0, 0, 3, 0, SOURCE_RECORDED, 0},
        {"local file", VIEW_LOCAL_PLAYBACK, 0, 0, 0, 0, SOURCE_LOCAL_FILE, 64},
        {"local file, live source", VIEW_LOCAL_PLAYBACK, 0, 0, 0, 0, SOURCE_LIVE, 0},
        {"setup", VIEW_SETUP, 0, 0, 0, 0, SOURCE_LIVE, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        SetUp();
        v->mode = k.mode;
        v->liveBlock.liveLayout = k.layout;
        v->liveBlock.liveChannel = k.liveChannel;
        v->playbackBlock.playbackChannel = k.playbackChannel;
        gSoundRing.heardChannel.store(SOUND_HEARD_NONE);
        AudioFrameDesc f = UnitFrame(3);
        f.headerChannel = k.headerChannel;
        f.source = k.source;
        Push(f);
        EXPECT_EQ(0, TakeAudio(s));
        EXPECT_EQ(0u, RingUsed());
        EXPECT_EQ(k.kept, SoundRing_Queued());
    }
}

// A channel key makes the new channel the heard one even when the audio
// thread takes a frame of the old channel before the next stream step.
TEST_F(AudioTest, AChannelKeyHearsTheNewChannelBeforeTheNextStreamStep)
{
    for (uint32_t to : {1u, 0u}) {
        SCOPED_TRACE(to);
        SetUp();
        v->liveBlock.liveChannel = 1 - to;
        Audio_PublishViews();
        View_KeyAction(0, 4, VIEW_LIVE, 1, (int32_t)to, 1);
        // no stream step in between: the audio thread takes what is there
        AudioFrameDesc old = UnitFrame(3);
        old.headerChannel = 1 - to;
        Push(old);
        EXPECT_EQ(0, Audio_TakeFrame(s));
        EXPECT_EQ(SOUND_HEARD_NONE, gSoundRing.heardChannel.load());
        AudioFrameDesc fresh = UnitFrame(3);
        fresh.headerChannel = to;
        Push(fresh);
        EXPECT_EQ(0, Audio_TakeFrame(s));
        EXPECT_EQ((int32_t)to, gSoundRing.heardChannel.load());
        EXPECT_EQ(64u, SoundRing_Queued());
    }
}

TEST_F(AudioTest, BadBlocksAreSkippedOrEmptyTheRing)
{
    struct Case {
        const char* name;
        AudioFrameDesc frame;
        int result;
        bool ringEmptied; // frames behind it are gone too
    };
    AudioFrameDesc oversized = UnitFrame(3);
    oversized.totalLength = 8192;
    AudioFrameDesc channel2 = UnitFrame(3);
    channel2.blockChannel = 2;
    AudioFrameDesc otherRequest = UnitFrame(3);
    otherRequest.requestNumber = 6;
    AudioFrameDesc badMagic = UnitFrame(3);
    badMagic.kind = 0;
    AudioFrameDesc noHeader = UnitFrame(3);
    noHeader.payload.clear();
    noHeader.totalLength = 150;
    const Case cases[] = {
        {"8,192 bytes", oversized, 1, true},
        {"block channel 2", channel2, 1, true},
        {"answers another request", otherRequest, 0, false},
        {"unknown kind", badMagic, 0, false},
        {"shorter than a frame header", noHeader, 0, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        SetUp();
        if (k.frame.totalLength == 8192) {
            Bytes b = AudioFrame(k.frame);
            b.resize(8192, 0);
            ASSERT_EQ(0, StreamAudio_Write(&s->audioRing, b.data(), (uint32_t)b.size()));
        } else if (k.frame.totalLength == 150) {
            Bytes b = AudioFrame(k.frame);
            b.resize(150);
            ASSERT_EQ(0, StreamAudio_Write(&s->audioRing, b.data(), (uint32_t)b.size()));
        } else {
            Push(k.frame);
        }
        AudioFrameDesc good = UnitFrame(3, 9);
        Push(good);
        EXPECT_EQ(k.result, TakeAudio(s));
        EXPECT_EQ(0u, SoundRing_Queued());
        EXPECT_EQ(k.ringEmptied ? 0u : (uint32_t)AudioFrame(good).size(), RingUsed());
        if (!k.ringEmptied) {
            EXPECT_EQ(0, TakeAudio(s));
            EXPECT_EQ(64u, SoundRing_Queued());
        }
    }
}

TEST_F(AudioTest, ARequestNumberOfZeroOrTheViewsSequenceIsTaken)
{
    for (uint32_t request : {0u, 7u}) {
        SetUp();
        AudioFrameDesc f = UnitFrame(3);
        f.requestNumber = request;
        Push(f);
        EXPECT_EQ(0, TakeAudio(s));
        EXPECT_EQ(64u, SoundRing_Queued()) << request;
    }
}

// --- Heard channel and the speaker's switch ---------------------------------------------

TEST_F(AudioTest, NoHeardChannelRestartsOnTheNextFrameAndEmptiesTheRing)
{
    Push(UnitFrame(3, 1));
    ASSERT_EQ(0, TakeAudio(s));
    ASSERT_TRUE(FakeSound_State().playing);
    Sound_SetHeardChannel(SOUND_HEARD_NONE); // a key-panel action
    EXPECT_EQ(1, Sound_Feed());
    EXPECT_FALSE(FakeSound_State().hasBuffer) << "output stops";
    EXPECT_EQ(0u, SoundRing_Queued());

    v->liveBlock.liveChannel = 1;
    AudioFrameDesc f = UnitFrame(3, 2);
    f.headerChannel = 1;
    Push(f);
    Push(f); // behind it: dropped by the restart
    const uint32_t written = s->audioRing.writeIndex.load();
    ASSERT_NE(0u, written);
    EXPECT_EQ(0, TakeAudio(s));
    // Emptied from the reading side: the producer's index stays where it was.
    EXPECT_EQ(written, s->audioRing.writeIndex.load());
    EXPECT_EQ(written, s->audioRing.readIndex.load());
    EXPECT_EQ(1, gSoundRing.heardChannel.load());
    EXPECT_EQ(1u, gSoundRing.started.load());
    EXPECT_EQ(0u, RingUsed());
    EXPECT_EQ(64u, SoundRing_Queued());
    EXPECT_TRUE(FakeSound_State().playing);
}

TEST_F(AudioTest, SoundSwitchedOffConsumesFramesAndStopsOutput)
{
    gSpeakerState.audioOn.store(0);
    gSoundRing.started.store(1);
    Push(UnitFrame(3));
    EXPECT_EQ(1, TakeAudio(s));
    EXPECT_EQ(0u, RingUsed());
    EXPECT_EQ(0u, gSoundRing.started.load());
    EXPECT_EQ(0u, SoundRing_Queued());
    Sound_Restart();
    EXPECT_EQ(1, Sound_Feed());
    EXPECT_FALSE(FakeSound_State().hasBuffer);

    gSpeakerState.audioOn.store(1); // switched on again: the next frame restarts output
    Push(UnitFrame(3));
    EXPECT_EQ(0, TakeAudio(s));
    EXPECT_TRUE(FakeSound_State().playing);
    EXPECT_EQ(64u, SoundRing_Queued());
}

TEST_F(AudioTest, RecorderWithoutSoundIsNeverPlayed)
{
    gHandshakeRecords[0].machine.audioWord = 2;
    Push(UnitFrame(3));
    EXPECT_EQ(0, TakeAudio(s));
    EXPECT_EQ(0u, RingUsed());
    EXPECT_EQ(0u, SoundRing_Queued());
    EXPECT_FALSE(FakeSound_State().hasBuffer);
}

// --- The device's failures --------------------------------------------------------------

TEST_F(AudioTest, WithoutADeviceFramesAreStillConsumed)
{
    const TFakeSoundStep steps[] = {FAKE_SOUND_CREATE, FAKE_SOUND_COOPERATIVE, FAKE_SOUND_CREATE_BUFFER};
    for (TFakeSoundStep step : steps) {
        SCOPED_TRACE(step);
        SetUp();
        FakeSound_SetFailure(step, DSERR_NODRIVER);
        for (int i = 0; i < 3; ++i) Push(UnitFrame(20));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(0, TakeAudio(s));
        EXPECT_EQ(1, TakeAudio(s));
        EXPECT_EQ(0u, RingUsed());
        EXPECT_EQ(nullptr, gSoundBuffer);
        EXPECT_EQ(nullptr, gSoundDevice);
        TFakeSoundState st = FakeSound_State();
        EXPECT_EQ(0, st.devices) << "what was made is released";
        EXPECT_EQ(0, st.buffers);
        EXPECT_EQ(1, Sound_Feed());
        EXPECT_EQ(0u, SoundRing_Queued()) << "the sound ring is kept empty";
    }
}

TEST_F(AudioTest, ALostBufferIsRestoredAndPlaysOn)
{
    Push(UnitFrame(20, 3));
    ASSERT_EQ(0, TakeAudio(s));
    ASSERT_TRUE(FakeSound_LoseBuffer());
    EXPECT_EQ(0, Sound_Feed());
    TFakeSoundState st = FakeSound_State();
    EXPECT_FALSE(st.lost);
    EXPECT_TRUE(st.playing);
    EXPECT_FALSE(st.locked);
    ASSERT_EQ(512u, FakeSound_Advance(512));
    Bytes played = FakeSound_Played();
    EXPECT_EQ(3, played[0]);
    EXPECT_EQ((uint8_t)(3 + 511), played[511]);
}

TEST_F(AudioTest, StopReleasesBufferThenDevice)
{
    Sound_Restart();
    ASSERT_EQ(1, FakeSound_State().buffers);
    ASSERT_EQ(1, FakeSound_State().devices);
    Sound_Stop();
    EXPECT_EQ(0, FakeSound_State().buffers);
    EXPECT_EQ(0, FakeSound_State().devices);
    EXPECT_EQ(nullptr, gSoundBuffer);
    EXPECT_EQ(nullptr, gSoundDevice);
    Sound_Stop(); // twice is harmless
}

// --- Backup mode ----------------------------------------------------------------------

TEST_F(AudioTest, BackupModeHandsFramesToTheBackupWriter)
{
    v->mode = VIEW_BACKUP;
    s->heldLength = 0;
    AudioFrameDesc f = UnitFrame(4, 5);
    f.source = SOURCE_RECORDED;
    Push(f);
    EXPECT_EQ(1, TakeAudio(s)) << "the audio thread leaves Backup mode's frames alone";
    EXPECT_NE(0u, RingUsed());
    EXPECT_EQ(0, TakeBackupAudio(s));
    ASSERT_EQ(1u, gBackupSeen.frames.size());
    Bytes whole = AudioFrame(f);
    EXPECT_EQ(Bytes(whole.begin() + 128, whole.end()), gBackupSeen.frames[0]) << "header and unit";
    EXPECT_EQ(0u, SoundRing_Queued());
    EXPECT_EQ(0u, RingUsed());
    EXPECT_EQ(1, TakeBackupAudio(s)) << "ring empty";
}

TEST_F(AudioTest, BackupModeNeverOverwritesAHeldVideoFrame)
{
    v->mode = VIEW_BACKUP;
    memset(held, 0x5A, 4096);
    s->heldLength = 4096; // a video frame the writer has not taken yet
    AudioFrameDesc f = UnitFrame(4, 5);
    f.source = SOURCE_RECORDED;
    Push(f);
    uint32_t before = RingUsed();
    EXPECT_EQ(1, TakeBackupAudio(s));
    EXPECT_EQ(before, RingUsed()) << "the audio frame waits";
    EXPECT_EQ(4096u, s->heldLength);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(0x5A, held[i]) << "byte " << i;
    EXPECT_TRUE(gBackupSeen.frames.empty());
    s->heldLength = 0; // the writer took it
    EXPECT_EQ(0, TakeBackupAudio(s));
    EXPECT_EQ(1u, gBackupSeen.frames.size());
}

TEST_F(AudioTest, BackupModeDropsFramesOfOtherChannelsAndSources)
{
    v->mode = VIEW_BACKUP;
    struct Case {
        uint32_t backupChannel, source;
        size_t handed;
    };
    const Case cases[] = {
        {0, SOURCE_RECORDED, 1}, {1, SOURCE_RECORDED, 1}, {2, SOURCE_RECORDED, 0}, {0, SOURCE_LIVE, 0}};
    for (const Case& k : cases) {
        gBackupSeen.frames.clear();
        v->backupBlock.backupChannel = k.backupChannel;
        AudioFrameDesc f = UnitFrame(4);
        f.source = k.source;
        Push(f);
        EXPECT_EQ(0, TakeBackupAudio(s));
        EXPECT_EQ(k.handed, gBackupSeen.frames.size()) << k.backupChannel << "/" << k.source;
        EXPECT_EQ(0u, RingUsed());
    }
}

TEST_F(AudioTest, OutsideBackupModeTheStreamStepTakesNothing)
{
    Push(UnitFrame(4));
    EXPECT_EQ(1, TakeBackupAudio(s));
    EXPECT_NE(0u, RingUsed());
}

// --- The alarm beeper -------------------------------------------------------------------

// The PC's wall clock at the local time whose recorder time is gClockNow.
static uint32_t gClockNow;
static int64_t FakeWallClock()
{
    TDateParts d;
    Date_FromSeconds(gClockNow, &d);
    struct tm local = {};
    local.tm_year = d.year - 1900;
    local.tm_mon = d.month - 1;
    local.tm_mday = d.day;
    local.tm_hour = d.hour;
    local.tm_min = d.minute;
    local.tm_sec = d.second;
    local.tm_isdst = -1;
    return (int64_t)mktime(&local);
}

TEST_F(AudioTest, AlarmBeepsThreeTimesEvery600Passes)
{
    Win_SetTimeSource(FakeWallClock);
    gClockNow = 1000;
    gAlarmUntil.store(1001);
    std::vector<int> beepPasses;
    for (int pass = 0; pass < 1200; ++pass) {
        size_t before = DSound_Beeps().size();
        AudioThread_AlarmBeep();
        if (DSound_Beeps().size() != before) beepPasses.push_back(pass);
    }
    EXPECT_EQ((std::vector<int>{0, 150, 300, 600, 750, 900}), beepPasses);
    for (const TBeepCall& b : DSound_Beeps()) {
        EXPECT_EQ(2000u, b.freq);
        EXPECT_EQ(100u, b.ms);
    }
    // Past the alarm: silent, and the count starts over next time.
    DSound_ClearBeeps();
    gClockNow = 1001;
    for (int pass = 0; pass < 10; ++pass) AudioThread_AlarmBeep();
    EXPECT_TRUE(DSound_Beeps().empty());
    gClockNow = 1000;
    AudioThread_AlarmBeep();
    EXPECT_EQ(1u, DSound_Beeps().size());
    // Nothing sets the alarm: silent.
    DSound_ClearBeeps();
    gAlarmUntil.store(0);
    for (int pass = 0; pass < 700; ++pass) AudioThread_AlarmBeep();
    EXPECT_TRUE(DSound_Beeps().empty());
}

} // namespace
