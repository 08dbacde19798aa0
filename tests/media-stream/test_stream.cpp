// The stream step: frames taken from the video ring, checked, held and
// handed to the decoder at their due time on the test's clock; the Live
// lag speed-up, late and early frames, Playback pacing, the key-frame wait
// after a reset, a gap or a failed slice, what is rejected, what empties
// the ring, and exactly which bytes the decoder and the backup writer get.
#include "MediaFixture.h"
#include "control/Session.h"
#include "control/TavlinImpl1.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include <memory>
#include "media/Decoder.h"

namespace {

class StreamTest : public MediaTest {
protected:
    // n frames of channel 0: a key frame, then P frames, in sequence.
    std::vector<FrameDesc> Run(uint32_t n, uint32_t period = 40, uint32_t firstSequence = 1)
    {
        std::vector<FrameDesc> frames;
        for (uint32_t i = 0; i < n; ++i) {
            FrameDesc f;
            f.channelSequence = firstSequence + i;
            f.framePeriod = period;
            f.type = i == 0 ? 0 : 1;
            f.frameNumber = i % 30;
            f.status = 0x100 + i;
            f.payload = Marked(i, 96);
            frames.push_back(f);
        }
        return frames;
    }

    // Ticks of ms each until the decoder got want frames (at most limit ticks).
    void TickUntil(size_t want, uint32_t ms = 10, uint32_t limit = 200)
    {
        for (uint32_t i = 0; i < limit && gDecodes.size() < want; ++i) Tick(ms);
    }

    std::vector<uint32_t> DecodeTicks()
    {
        std::vector<uint32_t> t;
        for (const HandOff& h : gDecodes) t.push_back(h.tick);
        return t;
    }

    TChannelState& Ch(uint32_t c) { return S()->channels[c]; }
    uint32_t Now(uint32_t c = 0) { return Stream_ChannelNow(c); }
};

TEST_F(StreamTest, LiveFramesAreDecodedAtTheirPeriod)
{
    for (const FrameDesc& f : Run(6)) Push(f);
    TickUntil(6);
    // The first three catch up at once; from then on one per 40 ms.
    EXPECT_EQ(DecodeTicks(), (std::vector<uint32_t>{1010, 1020, 1030, 1070, 1110, 1150}));
}

TEST_F(StreamTest, PlaybackFramesAreDecodedAtTheHeadersFrameRate)
{
    View()->mode = VIEW_PLAYBACK;
    for (FrameDesc f : Run(6)) {
        f.source = SOURCE_RECORDED;
        f.timeScale = 600; // 30 fps: 33 ms
        f.framePeriod = 1; // not used in Playback
        Push(f);
    }
    TickUntil(6);
    std::vector<uint32_t> t = DecodeTicks();
    ASSERT_EQ(t.size(), 6u);
    for (uint32_t& x : t) x -= 1010;
    EXPECT_EQ(t, (std::vector<uint32_t>{0, 10, 20, 40, 70, 100}));
}

TEST_F(StreamTest, AHeldFrameWaitsOrGoesByHowFarAheadItIsDue)
{
    struct Row {
        const char* name;
        uint32_t mode;
        uint32_t channel;
        uint32_t period;    // block period (Live) or time scale (Playback)
        bool decodedAtOnce; // in the tick it is taken
    };
    const Row rows[] = {
        {"live, 66 ms ahead", VIEW_LIVE, 0, 66, true},
        {"live, 67 ms ahead", VIEW_LIVE, 0, 67, false},
        {"live, 70 ms ahead on channel 15", VIEW_LIVE, 15, 70, false},
        {"live, just under 10 s ahead", VIEW_LIVE, 0, 9999, false},
        {"live, 10 s ahead", VIEW_LIVE, 0, 10000, true},
        {"live, 20 s ahead", VIEW_LIVE, 0, 20000, true},
        {"live, 70 ms ahead on channel 16", VIEW_LIVE, 16, 70, true},
        {"playback at 30 fps", VIEW_PLAYBACK, 0, 600, true},
        {"playback at 10 fps", VIEW_PLAYBACK, 0, 200, false},
        {"playback 20 s ahead", VIEW_PLAYBACK, 0, 1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        gDecodes.clear();
        View()->mode = row.mode;
        Stream_Reset();
        for (FrameDesc f : Run(2)) {
            f.channel = row.channel;
            f.headerChannel = row.channel & 15;
            if (row.mode == VIEW_PLAYBACK) {
                f.source = SOURCE_RECORDED;
                f.timeScale = row.period;
            } else {
                f.framePeriod = row.period;
            }
            Push(f);
        }
        View()->playbackBlock.playbackChannel = row.channel;
        Tick(10);
        ASSERT_EQ(gDecodes.size(), 1u) << "the key frame goes at once";
        Tick(0);
        EXPECT_EQ(gDecodes.size(), row.decodedAtOnce ? 2u : 1u);
        EXPECT_EQ(S()->heldLength != 0, !row.decodedAtOnce);
    }
}

TEST_F(StreamTest, LateFramesStartOverFromNow)
{
    // Live: a frame more than 1 s late is due now.
    for (const FrameDesc& f : Run(3)) Push(f);
    Tick(10);
    ASSERT_EQ(gDecodes.size(), 1u);
    Tick(5000);
    ASSERT_EQ(gDecodes.size(), 2u);
    EXPECT_EQ(Ch(0).due, Now());
    // Less than 1 s late: the due time keeps its count.
    uint32_t due = Ch(0).due;
    Tick(900);
    ASSERT_EQ(gDecodes.size(), 3u);
    EXPECT_EQ(Ch(0).due, due + 40);

    // Playback: a late frame is due one period from now, and waits for it.
    gDecodes.clear();
    View()->mode = VIEW_PLAYBACK;
    Stream_Reset();
    for (FrameDesc f : Run(2)) {
        f.source = SOURCE_RECORDED;
        f.timeScale = 200; // 100 ms
        Push(f);
    }
    Tick(10);
    ASSERT_EQ(gDecodes.size(), 1u);
    Tick(5000);
    EXPECT_EQ(Ch(0).due, Now() + 100);
    EXPECT_EQ(gDecodes.size(), 1u);
    TickUntil(2);
    EXPECT_EQ(gDecodes.back().tick - gDecodes.front().tick, 5000u + 40u);
}

TEST_F(StreamTest, LiveLagSpeedsUpThePeriod)
{
    struct Row {
        uint32_t standard;  // machine record: not 0 = 25 fps
        uint32_t seconds;   // newest arrival ahead of the frame: seconds ...
        int32_t frames;     // ... and frames
        uint32_t increment; // of the due time, for a 40 ms period
    };
    const Row rows[] = {
        {0, 0, 0, 40},  {0, 0, 29, 40}, {0, 1, 0, 40},   {0, 1, 1, 39}, {0, 3, 0, 38}, {0, 60, 0, 20}, {0, 119, 29, 0},
        {0, 120, 0, 0}, {0, 500, 0, 0}, {0, 2, -20, 39}, {1, 1, 0, 40}, {1, 1, 1, 39}, {1, 3, 15, 38}, {1, 120, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.standard << " " << row.seconds << "s " << row.frames);
        gDecodes.clear();
        Machine().frameRateFlag = row.standard;
        Stream_Reset();
        std::vector<FrameDesc> frames = Run(3);
        for (FrameDesc& f : frames) {
            f.streamSequence = Queue().lastDelivered + 1 + (uint32_t)(&f - frames.data());
            f.newestSecond = 100;
            f.newestFrame = 25;
        }
        // The third frame is the newest arrival; the second is taken with it queued behind.
        frames[2].newestSecond = 100 + row.seconds;
        frames[2].newestFrame = (uint32_t)(25 + row.frames);
        for (const FrameDesc& f : frames) Arrive(f);
        Vido_DeliverInOrder(C(0));
        Tick(10);
        ASSERT_EQ(gDecodes.size(), 1u);
        uint32_t before = Ch(0).due;
        Tick(0);
        EXPECT_EQ(Ch(0).due - before, row.increment);
    }
}

TEST_F(StreamTest, AfterAResetPFramesWaitForTheKeyFrameWhichGetsTheParameterSets)
{
    std::vector<FrameDesc> frames = Run(5);
    // P, P, key, P, P
    for (uint32_t i = 0; i < 5; ++i) frames[i].type = i == 2 ? 0 : 1;
    frames[2].width = 40;
    frames[2].height = 30;
    for (const FrameDesc& f : frames) Push(f);
    Tick(10);
    ASSERT_EQ(gDecodes.size(), 1u) << "both P frames were skipped in the same tick";
    EXPECT_EQ(gDecodes[0].bytes, Concat(ParamSets(40, 30), frames[2].payload));
    EXPECT_EQ(S()->keyFrameWord, 1u);
    TickUntil(3);
    ASSERT_EQ(gDecodes.size(), 3u);
    EXPECT_EQ(gDecodes[1].bytes, frames[3].payload);
    EXPECT_EQ(gDecodes[2].bytes, frames[4].payload);
    EXPECT_EQ(gDecodes[0].channel, 0u);
}

TEST_F(StreamTest, ASequenceGapSkipsPFramesUntilAKeyFrame)
{
    std::vector<FrameDesc> frames = Run(5, 0);
    for (size_t i = 2; i < 5; ++i) frames[i].channelSequence += 1; // sequence 3 is missing
    frames[4].type = 0;
    for (const FrameDesc& f : frames) Push(f);
    Tick();
    Tick();
    ASSERT_EQ(gDecodes.size(), 2u);
    Tick();
    ASSERT_EQ(gDecodes.size(), 3u) << "both P frames after the gap skipped in one tick";
    EXPECT_EQ(gDecodes.back().bytes, Concat(ParamSets(20, 15), frames[4].payload));
    EXPECT_EQ(Report().lastSequence[0], frames[4].channelSequence);
}

TEST_F(StreamTest, AFailedSliceSkipsPFramesUntilAKeyFrame)
{
    std::vector<FrameDesc> frames = Run(5, 0);
    frames[4].type = 0;
    for (const FrameDesc& f : frames) Push(f);
    gFailNextDecode = 1; // the key frame's decode fails
    Tick();
    EXPECT_EQ(gSliceStatus, 0) << "the stream step has seen it";
    TickUntil(2, 10, 10);
    ASSERT_EQ(gDecodes.size(), 2u);
    EXPECT_EQ(gDecodes[1].bytes, Concat(ParamSets(20, 15), frames[4].payload));
}

TEST_F(StreamTest, WhatIsRejectedAndWhatEmptiesTheRing)
{
    struct Row {
        const char* name;
        uint32_t mode;
        void (*spoil)(FrameDesc&);
        bool emptiesRing; // else the bad frame alone is skipped
    };
    const Row rows[] = {
        {"another request's frame", VIEW_LIVE, [](FrameDesc& f) { f.requestNumber = 9; }, false},
        {"channel 16 outside Live", VIEW_PLAYBACK, [](FrameDesc& f) { f.channel = 16; }, false},
        {"a recorded frame in Live", VIEW_LIVE, [](FrameDesc& f) { f.source = SOURCE_RECORDED; }, false},
        {"a live frame in Playback", VIEW_PLAYBACK, [](FrameDesc& f) { f.source = SOURCE_LIVE; }, false},
        {"another channel in Playback", VIEW_PLAYBACK, [](FrameDesc& f) { f.headerChannel = 1; }, false},
        {"bad magic", VIEW_LIVE, [](FrameDesc& f) { f.magic = 0x03000001; }, false},
        {"no time", VIEW_LIVE, [](FrameDesc& f) { f.time = 0; }, false},
        {"no width", VIEW_LIVE, [](FrameDesc& f) { f.width = 0; }, false},
        {"no height", VIEW_LIVE, [](FrameDesc& f) { f.height = 0; }, false},
        {"no unit length", VIEW_LIVE, [](FrameDesc& f) { f.unitLength = 0; }, false},
        {"an audio header", VIEW_LIVE, [](FrameDesc& f) { f.headerKind = 2; }, false},
        {"kind 0", VIEW_LIVE, [](FrameDesc& f) { f.headerKind = 0; }, false},
        {"a block of 262,144 bytes", VIEW_LIVE, [](FrameDesc& f) { f.totalLength = 262144; }, true},
        {"channel 17", VIEW_LIVE, [](FrameDesc& f) { f.channel = 17; }, true},
        {"channel 0xFFFFFFFF", VIEW_LIVE, [](FrameDesc& f) { f.channel = 0xFFFFFFFF; }, true},
        {"a block below its frame header", VIEW_LIVE, [](FrameDesc& f) { f.totalLength = 140; }, true},
        {"a block longer than the ring holds", VIEW_LIVE, [](FrameDesc& f) { f.totalLength = 100000; }, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        gDecodes.clear();
        View()->mode = row.mode;
        View()->icmdSequence = 4;
        Stream_Reset();
        S()->lastSource = row.mode == VIEW_PLAYBACK ? SOURCE_RECORDED : SOURCE_LIVE;
        std::vector<FrameDesc> frames = Run(2, 0);
        frames[1].type = 0;
        for (FrameDesc& f : frames)
            if (row.mode == VIEW_PLAYBACK) f.source = SOURCE_RECORDED;
        FrameDesc bad = frames[0];
        bad.status = 0xBAD;
        row.spoil(bad);
        Push(bad);
        Push(frames[1]);
        Tick();
        if (row.emptiesRing) {
            EXPECT_TRUE(gDecodes.empty());
            EXPECT_EQ(S()->videoRing.readIndex, S()->videoRing.writeIndex);
        } else {
            ASSERT_EQ(gDecodes.size(), 1u) << "the next block is read in step";
            EXPECT_EQ(gDecodes[0].bytes, Concat(ParamSets(20, 15), frames[1].payload));
        }
    }
}

TEST_F(StreamTest, TheDecoderGetsTheParameterSetsAndTheBytesReadNothingMore)
{
    struct Row {
        const char* name;
        uint32_t type;
        int64_t unitLength; // what the header claims
        size_t payload;     // what the block brought
    };
    const Row rows[] = {
        {"key frame, unit length as sent", 0, -1, 96},
        {"key frame claiming 100 units", 0, 100, 96},
        {"key frame claiming the largest unit length", 0, 0xFFFF, 32},
        {"P frame claiming 1 unit with 500 bytes", 1, 1, 500},
        {"P frame claiming 200 units", 1, 200, 64},
        {"key frame without payload", 0, 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        gDecodes.clear();
        Stream_Reset();
        // Leave stale bytes in the held buffer first.
        memset(S()->heldBuffer, 0xEE, 65536);
        std::vector<FrameDesc> frames = Run(2, 0);
        frames[1].type = row.type;
        frames[1].unitLength = row.unitLength;
        frames[1].payload = Marked(7, row.payload);
        Push(frames[0]);
        Push(frames[1]);
        Tick();
        Tick();
        ASSERT_EQ(gDecodes.size(), 2u);
        Bytes want = row.type == 0 ? Concat(ParamSets(20, 15), frames[1].payload) : frames[1].payload;
        EXPECT_EQ(gDecodes[1].bytes, want);
    }
}

TEST_F(StreamTest, BackupGetsHeaderAndPayloadWithoutParameterSets)
{
    View()->mode = VIEW_BACKUP;
    S()->lastSource = SOURCE_RECORDED;
    std::vector<FrameDesc> frames = Run(2, 0);
    frames[1].unitLength = 300; // claims more than it brings
    for (FrameDesc& f : frames) f.source = SOURCE_RECORDED;
    for (const FrameDesc& f : frames) Push(f);
    Tick();
    EXPECT_TRUE(gDecodes.empty());
    ASSERT_EQ(gBackups.size(), 2u);
    for (size_t i = 0; i < 2; ++i) EXPECT_EQ(gBackups[i].bytes, Concat(HeaderBytes(frames[i]), frames[i].payload));
}

TEST_F(StreamTest, TheTimeOffsetIsDroppedAfterThreeChanges)
{
    struct Row {
        const char* name;
        std::vector<int32_t> offsets;
        std::vector<int32_t> used;
    };
    const Row rows[] = {
        {"steady", {5, 5, 5, 5}, {5, 5, 5, 5}},
        {"one change", {5, 6, 6, 6}, {5, 6, 6, 6}},
        {"three changes in a row", {0, 7, 8, 9, 9, 3}, {0, 7, 8, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        gDecodes.clear();
        Stream_Reset();
        std::vector<FrameDesc> frames = Run((uint32_t)row.offsets.size(), 0);
        for (size_t i = 0; i < frames.size(); ++i) {
            frames[i].timeOffset = row.offsets[i];
            frames[i].time = 5000 + (uint32_t)i;
            Push(frames[i]);
        }
        for (size_t i = 0; i < frames.size(); ++i) {
            Tick();
            EXPECT_EQ(S()->displayTime, 5000u + i + (uint32_t)row.used[i]) << "frame " << i;
        }
    }
}

// The time label is hidden at every resynchronisation and shown again
// with the fourth frame taken after it, the key frame counted as the
// first; looked at after every tick, frames held but not yet decoded
// counted as taken.
TEST_F(StreamTest, TheTimeLabelIsHiddenAtAResyncAndShownFromTheFourthFrame)
{
    std::unique_ptr<TTavlinX> form(new TTavlinX(nullptr)); // its components, without the start-up
    gViewerForm = form.get();
    TLabel* label = form->Label_time;
    label->SetVisible(true);
    // Six frames, then a gap in the channel's sequence (a resynchronisation
    // at the next key frame), then six more.
    std::vector<FrameDesc> first = Run(6), second = Run(6, 40, 20);
    for (const FrameDesc& f : first) Push(f);
    for (const FrameDesc& f : second) Push(f);
    std::vector<bool> shown;
    for (uint32_t i = 0; i < 400 && gDecodes.size() < 12; ++i) {
        size_t before = gDecodes.size() + (S()->heldLength ? 1 : 0);
        Tick(10);
        size_t taken = gDecodes.size() + (S()->heldLength ? 1 : 0);
        if (taken != before) shown.push_back(label->Visible());
    }
    ASSERT_EQ(gDecodes.size(), 12u);
    EXPECT_EQ(shown, (std::vector<bool>{false, false, false, true, true, true, false, false, false, true, true, true}));
    gViewerForm = nullptr;
}

// Leaving Live before the fourth frame after a resynchronisation shows
// the label again with the new mode's name: a mode that brings no frames
// (Setup, or a playback with nothing recorded) would otherwise keep it
// hidden for as long as it lasts.
TEST_F(StreamTest, AModeChangeBeforeTheFourthFrameShowsTheTimeLabelWithTheModesName)
{
    const struct {
        uint32_t mode;
        const char* caption;
    } rows[] = {{VIEW_PLAYBACK, "Playback"}, {VIEW_BACKUP, "Backup"}, {VIEW_SETUP, "Setup"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.caption);
        std::unique_ptr<TTavlinX> form(new TTavlinX(nullptr));
        gViewerForm = form.get();
        TLabel* label = form->Label_time;
        label->SetVisible(true);
        gDecodes.clear();
        View()->mode = VIEW_LIVE;
        Stream_Reset();
        // The key frame and one more: the label is hidden.
        for (const FrameDesc& f : Run(2)) Push(f);
        TickUntil(2);
        ASSERT_EQ(gDecodes.size(), 2u);
        ASSERT_FALSE(label->Visible());
        ASSERT_EQ(View_SetMode(View(), row.mode), 1);
        EXPECT_TRUE(label->Visible());
        EXPECT_EQ(label->Caption(), row.caption);
        gViewerForm = nullptr;
    }
}

// A new play direction in Playback restarts every channel's clock and
// clears its due time; the same direction, or another mode, does not.
TEST_F(StreamTest, AChangeOfPlayDirectionResetsTheClocks)
{
    struct Row {
        const char* name;
        uint32_t mode;
        int32_t direction; // the view's, the stream has seen 1
        bool reset;
    } rows[] = {
        {"playback, same direction", VIEW_PLAYBACK, 1, false},
        {"playback, backwards", VIEW_PLAYBACK, -1, true},
        {"playback, stopped", VIEW_PLAYBACK, 0, true},
        {"live, another direction", VIEW_LIVE, -1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        gDecodes.clear();
        Stream_Reset();
        View()->mode = row.mode;
        View()->playbackBlock.playbackChannel = 0;
        View()->playbackBlock.playbackDirection = 1;
        S()->directionSeen = 1;
        S()->lastSource = row.mode == VIEW_PLAYBACK ? SOURCE_RECORDED : 0; // no source change
        // Channel 5 plays nothing: its clock has run for 500 ms, a frame is due at 777.
        Stopwatch_Start(15);
        Tick(500);
        Ch(5).due = 777;
        ASSERT_EQ(Now(5), 500u);
        View()->playbackBlock.playbackDirection = row.direction;
        FrameDesc f = Run(1)[0];
        if (row.mode == VIEW_PLAYBACK) f.source = SOURCE_RECORDED;
        Push(f);
        Tick(10);
        ASSERT_EQ(gDecodes.size(), 1u);
        EXPECT_EQ(Ch(5).due, row.reset ? 0u : 777u);
        EXPECT_EQ(Now(5), row.reset ? 0u : 510u);
        EXPECT_EQ(S()->directionSeen, row.mode == VIEW_PLAYBACK ? row.direction : 1);
    }
}

// In Playback every new second of the pictures becomes the key panel's
// playback time (the frame time with its offset) and asks for a panel
// redraw; the same second again, or Live, leaves both alone.
TEST_F(StreamTest, PlaybackFramesSetTheKeyPanelsPlaybackTime)
{
    struct Row {
        const char* name;
        uint32_t mode;
        uint32_t time;
        int32_t offset;
        int32_t panelTime; // after the frame; -1: unchanged
    } rows[] = {
        {"playback, first second", VIEW_PLAYBACK, 7000, 0, 7000},
        {"playback, the same second", VIEW_PLAYBACK, 7000, 0, -1},
        {"playback, the next second", VIEW_PLAYBACK, 7001, 0, 7001},
        {"playback, with the recorder's offset", VIEW_PLAYBACK, 7002, 30, 7032},
        {"live", VIEW_LIVE, 7005, 0, -1},
    };
    Stream_Reset();
    Mon_P_N_T = 1;
    uint32_t sequence = 1;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        View()->mode = row.mode;
        View()->playbackBlock.playbackChannel = 0;
        int32_t before = Mon_P_N_T;
        gLastDrawn[0] = gLastDrawn[1] = 5;
        FrameDesc f = Run(1, 40, sequence++)[0];
        f.time = row.time;
        f.timeOffset = row.offset;
        if (row.mode == VIEW_PLAYBACK) f.source = SOURCE_RECORDED;
        size_t decodes = gDecodes.size();
        Push(f);
        TickUntil(decodes + 1, 100);
        ASSERT_EQ(gDecodes.size(), decodes + 1);
        if (row.panelTime == -1) {
            EXPECT_EQ(Mon_P_N_T, before);
            EXPECT_EQ(gLastDrawn[0], 5);
        } else {
            EXPECT_EQ(Mon_P_N_T, row.panelTime);
            EXPECT_EQ(gLastDrawn[0], -2) << "the panel is redrawn";
            EXPECT_EQ(gLastDrawn[1], -2);
        }
    }
}

TEST_F(StreamTest, DecodedFramesOfChannels0And1SetTheirVideoTime)
{
    for (uint32_t standard : {0u, 1u}) {
        Machine().frameRateFlag = standard;
        uint32_t fps = standard ? 25 : 30;
        for (uint32_t channel : {0u, 1u, 2u}) {
            SCOPED_TRACE(testing::Message() << fps << " fps, channel " << channel);
            Stream_Reset();
            for (TChannelState& cs : S()->channels) cs.videoTime.store(0);
            FrameDesc f = Run(1, 0)[0];
            f.channel = channel;
            f.headerChannel = channel;
            f.time = 0x12345678;
            f.frameNumber = 7;
            Push(f);
            Tick();
            uint32_t want = (0x345678u * fps) + 7;
            for (uint32_t c = 0; c < 3; ++c)
                EXPECT_EQ(S()->channels[c].videoTime.load(), c == channel && c <= 1 ? want : 0u);
        }
    }
}

TEST_F(StreamTest, TheRealHandOffsReturnWhenTheSeamIsCleared)
{
    // With the seam cleared the real decoder gets the frame: nothing is
    // recorded here, and nothing breaks.
    Stream_SetHandOffs(nullptr, nullptr);
    for (const FrameDesc& f : Run(2, 0)) Push(f);
    Tick();
    Tick();
    EXPECT_TRUE(gDecodes.empty());
    EXPECT_EQ(S()->heldLength, 0u);
}

TEST_F(StreamTest, FramesFromTheWireReachTheDecoderInOrder)
{
    // One answer carries two VIDO messages, the later frame first; the
    // main loop's receive step orders them and the stream step decodes.
    std::vector<FrameDesc> frames = Run(2, 0);
    frames[0].streamSequence = 1;
    frames[1].streamSequence = 2;
    Bytes payload =
        Concat(VidoMessage(kSession, 0, FrameBytes(frames[1])), VidoMessage(kSession, 0, FrameBytes(frames[0])));
    Bytes answer = HttpAnswer(UlcmPacket(ULCM_DATA, kSession, 0, payload));
    Feed(C(0), 0, answer.data(), answer.size());
    Session_ReceiveStep();
    Tick();
    Tick();
    ASSERT_EQ(gDecodes.size(), 2u);
    EXPECT_EQ(gDecodes[0].bytes, Concat(ParamSets(20, 15), frames[0].payload));
    EXPECT_EQ(gDecodes[1].bytes, frames[1].payload);
}

TEST_F(StreamTest, DisplayRegistrationTable)
{
    static char image, label;
    TImage* target = reinterpret_cast<TImage*>(&image);
    TLabel* timeLabel = reinterpret_cast<TLabel*>(&label);
    strcpy(C(0)->host, "10.1.2.3");
    C(0)->port = 81;
    struct Row {
        const char* name;
        int32_t connection;
        const char* address;
        uint32_t port, channel, kind;
        bool hasTarget;
        bool accepted;
    };
    const Row rows[] = {
        {"connection 1", 1, "10.1.2.3", 81, 0, 0, true, false},
        {"empty address", 0, "", 81, 0, 0, true, false},
        {"no target", 0, "10.1.2.3", 81, 0, 0, false, false},
        {"channel 17", 0, "10.1.2.3", 81, 17, 0, true, false},
        {"kind 2", 0, "10.1.2.3", 81, 0, 2, true, false},
        {"by address, other port", -1, "10.1.2.3", 82, 0, 0, true, false},
        {"by address, other host", -1, "10.1.2.4", 81, 0, 0, true, false},
        {"by address", -1, "10.1.2.3", 81, 0, 0, true, true},
        {"connection 0, live channel 16", 0, "10.9.9.9", 90, 16, 0, true, true},
        {"connection 0, playback channel 0", 0, "10.9.9.9", 90, 0, 1, true, true},
        {"connection 0, a second live display of channel 0", 0, "10.9.9.9", 90, 0, 0, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TDisplayRegistration r = {};
        r.connection = row.connection;
        r.address = row.address;
        r.port = row.port;
        r.channel = row.channel;
        r.kind = row.kind;
        r.target = row.hasTarget ? target : nullptr;
        r.timeLabel = timeLabel;
        EXPECT_EQ(Stream_RegisterDisplay(&r), row.accepted ? C(0) : nullptr);
    }
    // The first registration took the display target; the host and port
    // are the last registration's.
    EXPECT_EQ(gDisplayTargets[0].connection, C(0));
    EXPECT_EQ(gDisplayTargets[0].channel, 0u);
    EXPECT_EQ(gDisplayTargets[0].kind, 0u);
    EXPECT_EQ(gDisplayTargets[1].connection, nullptr);
    EXPECT_STREQ(C(0)->host, "10.9.9.9");
    EXPECT_EQ(C(0)->port, 90u);
    EXPECT_EQ(S()->liveAreas[0].count, 2u);
    EXPECT_EQ(S()->liveAreas[0].slotResult, 1u);
    EXPECT_EQ(S()->liveAreas[16].slotResult, 0u);
    EXPECT_EQ(S()->playbackAreas[0].count, 1u);
    EXPECT_EQ(S()->liveDisplayCount, 3u);
    EXPECT_EQ(S()->playbackDisplayCount, 1u);
    ASSERT_NE(S()->liveAreas[0].head, nullptr);
    ASSERT_NE(S()->liveAreas[0].head->next, nullptr);
    EXPECT_EQ(S()->liveAreas[0].head->next->prev, S()->liveAreas[0].head);
    EXPECT_EQ(S()->liveAreas[0].head->timeLabel, timeLabel);
}

TEST_F(StreamTest, AChannelResetWaitsForAKeyFrameAndClearsItsDecodeTime)
{
    for (const FrameDesc& f : Run(2, 0)) Push(f);
    Tick();
    Tick();
    ASSERT_EQ(gDecodes.size(), 2u);
    EXPECT_NE(Report().decodeTime[0], 0u);
    struct Row {
        uint32_t which;
        uint32_t channel; // the one reset
    };
    for (Row row : {Row{1, 0}, Row{4, 3}, Row{17, 16}, Row{18, 0}, Row{1000, 0}}) {
        SCOPED_TRACE(row.which);
        for (TChannelState& cs : S()->channels) cs.keyWait = 0;
        Report().decodeTime[0] = Report().decodeTime[3] = Report().decodeTime16 = 5;
        Push(Run(1)[0]);
        Stream_ResetChannels(S(), row.which);
        EXPECT_EQ(Ring_Used(S()->videoRing.writeIndex, S()->videoRing.readIndex, S()->videoRing.size), 0u);
        for (uint32_t c = 0; c < STREAM_CHANNELS; ++c) EXPECT_EQ(S()->channels[c].keyWait, c == row.channel ? 1u : 0u);
        EXPECT_EQ(*Vido_DecodeTime(&Report(), row.channel), 0u);
    }
}

TEST_F(StreamTest, PacingGoesOnPastElevenHoursOnOneChannelClock)
{
    // The stopwatch reading (ms x 100) wraps after 42,949,672 ms; a
    // channel that has run that long without a reset keeps its pace.
    for (uint32_t mode : {(uint32_t)VIEW_PLAYBACK, (uint32_t)VIEW_LIVE}) {
        SCOPED_TRACE(mode);
        gDecodes.clear();
        View()->mode = mode;
        Stream_Reset();
        uint32_t source = mode == VIEW_PLAYBACK ? SOURCE_RECORDED : SOURCE_LIVE;
        S()->lastSource = source;
        for (FrameDesc f : Run(3, 100)) {
            f.source = source;
            f.timeScale = 200; // 100 ms in Playback
            Push(f);
        }
        gFakeTick += 42949640;
        Tick(10);
        ASSERT_EQ(gDecodes.size(), 1u);
        TickUntil(3, 10, 100);
        ASSERT_EQ(gDecodes.size(), 3u);
        EXPECT_EQ(gDecodes[1].tick - gDecodes[0].tick, 40u);
        EXPECT_EQ(gDecodes[2].tick - gDecodes[1].tick, 100u);
    }
}

} // namespace
