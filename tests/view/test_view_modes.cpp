// View modes: what a mode change resets and which marks it sets, layout
// and channel keys per recorder size, playback steps, the marks near the
// ends of the time range, and the ICMD request blocks the key panel's
// actions queue.
#include "ViewFixture.h"
#include "control/TavlinImpl1.h"
#include "media/Backup.h"
#include "media/LocalPlay.h"
#include "panel/Yuv2.h"
#include <memory>

namespace {

TEST_F(ViewTest, ModeChangeStopsPlaybackAndBackupAndResetsTheStream)
{
    Force(VIEW_LIVE);
    V()->playbackBlock.playbackRun = 2;
    V()->playbackBlock.playbackDirection = -1;
    V()->backupBlock.backupArmed = BACKUP_RUNNING;
    gBackupBlock.state = 2;
    C(0)->vidoQueue.queuedCount = 5;
    C(0)->vidoQueue.slots[7].length = 300;
    RunAllChannels();

    EXPECT_EQ(View_SetMode(V(), VIEW_SETUP), 1);
    EXPECT_EQ(V()->mode, (uint32_t)VIEW_SETUP);
    EXPECT_EQ(V()->playbackBlock.playbackRun, 0u);
    EXPECT_EQ(V()->playbackBlock.playbackDirection, 0);
    EXPECT_EQ(V()->backupBlock.backupArmed, 0u);
    EXPECT_EQ(gBackupBlock.state, 4u);
    EXPECT_EQ(gLocalFile.playState, 0u);
    EXPECT_EQ(C(0)->vidoQueue.queuedCount, 0u);
    EXPECT_EQ(C(0)->vidoQueue.slots[7].length, 0u);
    EXPECT_EQ(WaitingSlots().size(), (size_t)STREAM_CHANNELS);

    // The same mode again changes nothing.
    V()->playbackBlock.playbackRun = 1;
    gBackupBlock.state = 2;
    RunAllChannels();
    EXPECT_EQ(View_SetMode(V(), VIEW_SETUP), 0);
    EXPECT_EQ(V()->playbackBlock.playbackRun, 1u);
    EXPECT_EQ(gBackupBlock.state, 2u);
    EXPECT_TRUE(WaitingSlots().empty());
    // A word that names no mode is refused.
    EXPECT_EQ(View_SetMode(V(), 5), 0);
    EXPECT_EQ(V()->mode, (uint32_t)VIEW_SETUP);
    EXPECT_TRUE(Queued(0).empty()); // changing the mode alone sends nothing
}

TEST_F(ViewTest, EnteringPlaybackOrBackupSetsTheMarksFromTheStreamTime)
{
    const uint32_t T = 400000000;
    const struct {
        uint32_t from, to, streamTime, start, end;
    } cases[] = {
        {VIEW_LIVE, VIEW_PLAYBACK, T, T - 30, T - 25}, // playback starts 30 s back
        {VIEW_LIVE, VIEW_BACKUP, T, T - 30, T - 25},
        {VIEW_BACKUP, VIEW_PLAYBACK, T, T, T + 5},
        {VIEW_PLAYBACK, VIEW_BACKUP, T, T, T + 5},
        {VIEW_SETUP, VIEW_PLAYBACK, T, T, T + 5},
        {VIEW_LIVE, VIEW_PLAYBACK, 0, 111, 222}, // no stream time: the marks stay
        {VIEW_LIVE, VIEW_SETUP, T, 111, 222},    // other modes set no marks
        {VIEW_PLAYBACK, VIEW_LIVE, T, 111, 222},
        // Near time 0 the rewind stops at 1 instead of wrapping.
        {VIEW_LIVE, VIEW_PLAYBACK, 10, 1, 6},
        {VIEW_LIVE, VIEW_PLAYBACK, 30, 1, 6},
        {VIEW_LIVE, VIEW_PLAYBACK, 31, 1, 6},
        {VIEW_LIVE, VIEW_PLAYBACK, 32, 2, 7},
        // At the end of the range the end mark stays at the last second.
        {VIEW_BACKUP, VIEW_PLAYBACK, 0xFFFFFFFDu, 0xFFFFFFFDu, 0xFFFFFFFFu},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.from << " -> " << k.to << " at " << k.streamTime);
        Force(k.from);
        Mon_P_N_T = Mon_B_F_T = 111;
        Mon_B_T_T = 222;
        V()->playbackBlock.playbackTime = V()->backupBlock.backupStart = 111;
        V()->backupBlock.backupEnd = 222;
        S()->displayTime = k.streamTime;
        gLastDrawn[0] = gLastDrawn[1] = 5;
        ASSERT_EQ(View_SetMode(V(), k.to), 1);
        EXPECT_EQ((uint32_t)Mon_P_N_T, k.start);
        EXPECT_EQ((uint32_t)Mon_B_F_T, k.start);
        EXPECT_EQ(V()->playbackBlock.playbackTime, k.start);
        EXPECT_EQ(V()->backupBlock.backupStart, k.start);
        EXPECT_EQ((uint32_t)Mon_B_T_T, k.end);
        EXPECT_EQ(V()->backupBlock.backupEnd, k.end);
        if (k.start != 111) {
            EXPECT_EQ(S()->displayTime, k.start); // the stream goes on from the start mark
            EXPECT_EQ(gLastDrawn[0], -2);
            EXPECT_EQ(gLastDrawn[1], -2);
        }
    }
}

TEST_F(ViewTest, LayoutKeysPerChannelCount)
{
    struct Row {
        uint32_t channels;
        int32_t key;
        uint32_t layout, first;
    };
    const Row rows[] = {
        {16, 16, LAYOUT_QUAD, 0},
        {16, 17, LAYOUT_QUAD, 4},
        {16, 18, LAYOUT_QUAD, 8},
        {16, 19, LAYOUT_QUAD, 12},
        {16, 20, LAYOUT_NINE, 0},
        {16, 21, LAYOUT_NINE, 9},
        {16, 22, LAYOUT_SIXTEEN, 0},
        // On an 8-channel recorder the third four-way key is the nine-way split.
        {8, 16, LAYOUT_QUAD, 0},
        {8, 17, LAYOUT_QUAD, 4},
        {8, 18, LAYOUT_NINE, 0},
        {8, 20, LAYOUT_NINE, 0},
        {8, 22, LAYOUT_SIXTEEN, 0},
        {4, 16, LAYOUT_QUAD, 0},
        {4, 18, LAYOUT_QUAD, 8},
        {4, 20, LAYOUT_NINE, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.channels << " channels, key " << r.key);
        Force(VIEW_LIVE);
        V()->liveBlock.liveLayout = LAYOUT_SINGLE;
        V()->liveBlock.liveFirstChannel = 77;
        V()->liveBlock.liveChannelMask = 0x80000004u;
        RunAllChannels();
        View_KeyAction(0, r.channels, VIEW_LIVE, 1, r.key, 1);
        EXPECT_EQ(V()->liveBlock.liveLayout, r.layout);
        EXPECT_EQ(V()->liveBlock.liveFirstChannel, r.first);
        EXPECT_EQ(V()->liveBlock.liveChannelMask, 0u);
        // Layout key 16 resets channel slot 16, the others slot 0.
        EXPECT_EQ(WaitingSlots(), std::vector<uint32_t>{r.key == 16 ? 16u : 0u});
    }
    EXPECT_TRUE(Queued(0).empty()); // noSend
}

TEST_F(ViewTest, ChannelKeysSetTheModesOwnChannel)
{
    const struct {
        uint32_t mode;
        int32_t key;
        uint32_t liveChannel, playbackChannel, backupChannel, mask;
    } cases[] = {
        {VIEW_LIVE, 5, 5, 0, 0, 0x80000020u}, {VIEW_LIVE, 15, 15, 0, 0, 0x80008000u},
        {VIEW_LIVE, 0, 0, 0, 0, 0x80000001u}, {VIEW_PLAYBACK, 7, 0, 7, 0, 0},
        {VIEW_BACKUP, 3, 0, 0, 3, 0},         {VIEW_SETUP, 9, 0, 0, 0, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << k.mode << " key " << k.key);
        Force(k.mode);
        V()->liveBlock.liveChannel = V()->playbackBlock.playbackChannel = V()->backupBlock.backupChannel = 0;
        V()->liveBlock.liveLayout = LAYOUT_NINE;
        V()->liveBlock.liveChannelMask = 0x1234;
        RunAllChannels();
        View_KeyAction(0, 16, (int32_t)k.mode, 1, k.key, 1);
        EXPECT_EQ(V()->liveBlock.liveChannel, k.liveChannel);
        EXPECT_EQ(V()->playbackBlock.playbackChannel, k.playbackChannel);
        EXPECT_EQ(V()->backupBlock.backupChannel, k.backupChannel);
        EXPECT_EQ(V()->liveBlock.liveChannelMask, k.mask);
        // The single-channel layout takes effect only in Live.
        EXPECT_EQ(V()->liveBlock.liveLayout, k.mode == VIEW_LIVE ? (uint32_t)LAYOUT_SINGLE : (uint32_t)LAYOUT_NINE);
        EXPECT_EQ(WaitingSlots(), std::vector<uint32_t>{(uint32_t)k.key});
    }
}

TEST_F(ViewTest, KeysAndModesOutOfRangeSelectNothing)
{
    // Keys from the panel's variables: nothing is shifted by 16 or more and
    // no slot beyond the table is reset.
    for (int32_t key : {-1, -2, -100, 23, 31, 32, 33, 48, 255, 0x7FFFFFFF}) {
        SCOPED_TRACE(key);
        Force(VIEW_LIVE);
        V()->liveBlock.liveLayout = LAYOUT_NINE;
        V()->liveBlock.liveFirstChannel = 9;
        V()->liveBlock.liveChannel = 2;
        V()->liveBlock.liveChannelMask = 0x80000004u;
        RunAllChannels();
        View_KeyAction(0, 16, VIEW_LIVE, 1, key, 1);
        EXPECT_EQ(V()->liveBlock.liveLayout, (uint32_t)LAYOUT_NINE);
        EXPECT_EQ(V()->liveBlock.liveFirstChannel, 9u);
        EXPECT_EQ(V()->liveBlock.liveChannel, 2u);
        EXPECT_EQ(WaitingSlots(), std::vector<uint32_t>{0});
    }
    EXPECT_EQ(View_SelectChannel(V(), 16), 0);
    EXPECT_EQ(View_SelectChannel(V(), 0xFFFFFFFFu), 0);
    EXPECT_EQ(V()->liveBlock.liveChannelMask, 0x80000004u);

    // A page code that names no mode, or a connection beyond the records, does nothing.
    Force(VIEW_PLAYBACK);
    RunAllChannels();
    View_KeyAction(0, 16, 5, 1, 3, 0);
    View_KeyAction(0, 16, -1, 1, 3, 0);
    View_KeyAction(CONN_COUNT, 16, VIEW_LIVE, 1, 3, 0);
    EXPECT_EQ(V()->mode, (uint32_t)VIEW_PLAYBACK);
    EXPECT_TRUE(WaitingSlots().empty());
    EXPECT_TRUE(Queued(0).empty());
    EXPECT_TRUE(Queued(1).empty());
}

TEST_F(ViewTest, PlaybackOpsGiveRunAndDirection)
{
    const struct {
        int32_t op;
        uint32_t run;
        int32_t direction;
    } cases[] = {{0, 1, -1}, {2, 1, 0}, {3, 1, 1}, {4, 2, 1}, {1, 0, 0}, {5, 0, 0}, {-1, 0, 0}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.op);
        Force(VIEW_PLAYBACK);
        V()->playbackBlock.playbackRun = 7;
        V()->playbackBlock.playbackDirection = 7;
        View_KeyAction(0, 16, VIEW_PLAYBACK, k.op, 0, 1);
        EXPECT_EQ(V()->playbackBlock.playbackRun, k.run);
        EXPECT_EQ(V()->playbackBlock.playbackDirection, k.direction);
    }
}

TEST_F(ViewTest, PlaybackStepsMoveTheStartMarkToTheStreamTime)
{
    Force(VIEW_LIVE);
    S()->displayTime = 1000000;
    View_KeyAction(0, 16, VIEW_PLAYBACK, 1, 0, 1); // enter playback, stopped
    EXPECT_EQ(Mon_P_N_T, 1000000 - 30);

    // Playing forwards on the same channel from a stop keeps the mark.
    S()->displayTime = 1000100;
    View_KeyAction(0, 16, VIEW_PLAYBACK, 3, 0, 1);
    EXPECT_EQ(Mon_P_N_T, 1000000 - 30);
    // Playing on another channel starts from where the stream is.
    S()->displayTime = 1000200;
    View_KeyAction(0, 16, VIEW_PLAYBACK, 3, 2, 1);
    EXPECT_EQ(Mon_P_N_T, 1000200);
    // Turning round while playing keeps the place reached.
    S()->displayTime = 1000300;
    View_KeyAction(0, 16, VIEW_PLAYBACK, 0, 2, 1);
    EXPECT_EQ(Mon_P_N_T, 1000300);
    EXPECT_EQ(V()->playbackBlock.playbackDirection, -1);
    // Fast always marks.
    S()->displayTime = 1000400;
    View_KeyAction(0, 16, VIEW_PLAYBACK, 4, 2, 1);
    EXPECT_EQ(Mon_P_N_T, 1000400);
    // Stopping marks.
    S()->displayTime = 1000500;
    View_KeyAction(0, 16, VIEW_PLAYBACK, 1, 2, 1);
    EXPECT_EQ(Mon_P_N_T, 1000500);
    EXPECT_EQ(V()->playbackBlock.playbackTime, 1000500u);
    EXPECT_EQ(V()->backupBlock.backupStart, 1000500u);
    EXPECT_EQ(V()->playbackBlock.playbackRun, 0u);
}

TEST_F(ViewTest, BackupStepArmsAndMarks)
{
    Force(VIEW_BACKUP);
    S()->displayTime = 5000;
    View_KeyAction(0, 16, VIEW_BACKUP, 4, 1, 1);
    EXPECT_EQ(V()->backupBlock.backupArmed, (uint32_t)BACKUP_STEP);
    EXPECT_EQ(V()->backupBlock.backupStart, 5000u);
    EXPECT_EQ(Mon_B_F_T, 5000);
    View_KeyAction(0, 16, VIEW_BACKUP, 3, 1, 1); // another op leaves the flag
    EXPECT_EQ(V()->backupBlock.backupArmed, (uint32_t)BACKUP_STEP);
}

TEST_F(ViewTest, SetPlaybackTimeKeepsTheMarksApart)
{
    const uint32_t M = 0xFFFFFFFFu;
    const struct {
        uint32_t mode, which, time, oldStart, panelEnd, start, end;
    } cases[] = {
        {VIEW_PLAYBACK, 0, 1000, 0, 0, 1000, 1005},
        {VIEW_BACKUP, 0, 1000, 0, 2000, 1000, 2000}, // the end stays
        {VIEW_BACKUP, 0, 1000, 0, 1004, 1000, 1005}, // too close: end := start + 5
        {VIEW_BACKUP, 0, 1000, 0, 1005, 1000, 1005},
        {VIEW_BACKUP, 0, 3000, 0, 2000, 3000, 3005}, // after the end
        {VIEW_BACKUP, 1, 2000, 1000, 0, 1000, 2000},
        {VIEW_BACKUP, 1, 1003, 1000, 0, 998, 1003}, // too close: start := end - 5
        {VIEW_BACKUP, 1, 900, 1000, 0, 895, 900},   // before the start
        // Near the ends of the range the pair stays inside it.
        {VIEW_BACKUP, 1, 3, 1000, 0, 1, 6},
        {VIEW_BACKUP, 1, 5, 1000, 0, 1, 6},
        {VIEW_BACKUP, 1, 6, 1000, 0, 1, 6},
        {VIEW_PLAYBACK, 0, M - 2, 0, 0, M - 5, M},
        {VIEW_BACKUP, 0, M, 0, 100, M - 5, M},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << k.mode << " which " << k.which << " t " << k.time);
        Force(k.mode);
        V()->backupBlock.backupStart = k.oldStart;
        Mon_B_T_T = (int32_t)k.panelEnd;
        View_SetPlaybackTime(V(), k.which, k.time);
        EXPECT_EQ(V()->backupBlock.backupStart, k.start);
        EXPECT_EQ(V()->playbackBlock.playbackTime, k.start);
        EXPECT_EQ(V()->backupBlock.backupEnd, k.end);
        EXPECT_EQ((uint32_t)Mon_B_F_T, k.start);
        EXPECT_EQ((uint32_t)Mon_B_T_T, k.end);
    }
}

// --- What goes to the recorder ---------------------------------------------------------

TEST_F(ViewTest, KeyActionsQueueTheModesRequestBlock)
{
    V()->icmdSequence = 10;
    Force(VIEW_LIVE);
    View_KeyAction(0, 16, VIEW_LIVE, 1, 5, 0);
    Bytes m = OnlyQueued();
    ASSERT_EQ(m.size(), 128u);
    EXPECT_TRUE(ChecksumHolds(m));
    EXPECT_EQ(memcmp(&m[4], "ICMD", 4), 0);
    EXPECT_EQ(GetU32(m, 32), kSession);
    EXPECT_EQ(GetU32(m, 36), 2u);   // data pushed
    EXPECT_EQ(GetU32(m, 40), 256u); // live
    EXPECT_EQ(GetU32(m, 44), 0u);   // mode
    EXPECT_EQ(GetU32(m, 48), 11u);  // sequence
    EXPECT_EQ(GetU32(m, 64), 0u);   // single channel
    EXPECT_EQ(GetU32(m, 64 + 8), 5u);
    EXPECT_EQ(GetU32(m, 64 + 12), 0x80000020u);
    EXPECT_EQ(GetU32(m, 64 + 16), 640u);
    EXPECT_EQ(GetU32(m, 64 + 20), 512u);
    for (int i = 24; i < 64; ++i) EXPECT_EQ(m[64 + i], 0) << i;

    // The nine-way split from channel 9.
    View_KeyAction(0, 16, VIEW_LIVE, 1, 21, 0);
    m = OnlyQueued();
    ASSERT_EQ(m.size(), 128u);
    EXPECT_EQ(GetU32(m, 48), 12u);
    EXPECT_EQ(GetU32(m, 64), 2u);
    EXPECT_EQ(GetU32(m, 64 + 4), 9u);
    EXPECT_EQ(GetU32(m, 64 + 12), 0u);

    // Into Playback from Live, playing forwards on channel 3.
    S()->displayTime = 500000;
    View_KeyAction(0, 16, VIEW_PLAYBACK, 3, 3, 0);
    m = OnlyQueued();
    ASSERT_EQ(m.size(), 128u);
    EXPECT_TRUE(ChecksumHolds(m));
    EXPECT_EQ(GetU32(m, 40), 512u);
    EXPECT_EQ(GetU32(m, 44), 1u);
    EXPECT_EQ(GetU32(m, 64 + 8), 3u);            // channel
    EXPECT_EQ(GetU32(m, 64 + 12), 1u);           // playing
    EXPECT_EQ(GetU32(m, 64 + 16), 1u);           // forwards
    EXPECT_EQ(GetU32(m, 64 + 20), 500000u - 30); // 30 s back; the stream goes on from there
    // Into Backup with the step op.
    S()->displayTime = 600000;
    View_KeyAction(0, 16, VIEW_BACKUP, 4, 3, 0);
    m = OnlyQueued();
    ASSERT_EQ(m.size(), 128u);
    EXPECT_EQ(GetU32(m, 40), 1024u);
    EXPECT_EQ(GetU32(m, 44), 2u);
    EXPECT_EQ(GetU32(m, 64 + 8), 3u);  // backup channel
    EXPECT_EQ(GetU32(m, 64 + 12), 2u); // armed by the step
    EXPECT_EQ(GetU32(m, 64 + 16), 600000u);
    EXPECT_EQ(GetU32(m, 64 + 20), 600005u);
    // Setup sends the bare setup header; local-file playback has no body.
    View_KeyAction(0, 16, VIEW_SETUP, 1, 0, 0);
    m = OnlyQueued();
    ASSERT_EQ(m.size(), 64u + 72u);
    EXPECT_EQ(GetU32(m, 40), 4096u);
    EXPECT_EQ(GetU32(m, 44), 3u);
    EXPECT_EQ(GetU32(m, 64 + 4), 72u);
    View_KeyAction(0, 16, VIEW_LOCAL_PLAYBACK, 1, 0, 0);
    m = OnlyQueued();
    ASSERT_EQ(m.size(), 64u);
    EXPECT_TRUE(ChecksumHolds(m));
    EXPECT_EQ(GetU32(m, 40), 2048u);
    EXPECT_EQ(GetU32(m, 44), 4u);
    EXPECT_EQ(GetU32(m, 48), 16u);
    EXPECT_EQ(V()->icmdSequence, 16u);
}

TEST_F(ViewTest, ModeTablesAndLocalPlayback)
{
    const uint32_t types[] = {256, 512, 1024, 4096, 2048};
    const char* captions[] = {"Live", "Playback", "Backup", "Setup", nullptr};
    for (uint32_t m = 0; m < 5; ++m) {
        EXPECT_EQ(View_TypeOfMode(m), types[m]);
        if (captions[m]) {
            EXPECT_STREQ(View_CaptionOfMode(m), captions[m]);
        } else {
            EXPECT_EQ(View_CaptionOfMode(m), nullptr);
        }
    }
    EXPECT_EQ(View_TypeOfMode(5), 0u);
    EXPECT_EQ(View_CaptionOfMode(0xFFFFFFFFu), nullptr);

    for (uint32_t m = 0; m < 5; ++m) {
        Force(m);
        EXPECT_EQ(View_IsLocalPlayback(C(0)), m == VIEW_LOCAL_PLAYBACK ? 1 : 0);
    }
    EXPECT_EQ(View_IsLocalPlayback(nullptr), 0);
}

TEST_F(ViewTest, LiveBlocksFromTheRecorderGoToThePanelInLive)
{
    IE_M_CH = 16;
    auto push = [&](uint32_t op, uint32_t mode, uint32_t layout, uint32_t first, uint32_t channel) {
        Bytes body(64, 0);
        PutU32(body, 0, layout);
        PutU32(body, 4, first);
        PutU32(body, 8, channel);
        Deliver(kSession, WireMessage("ICMD", {kSession, op, 256, mode, 1}, body));
    };
    Force(VIEW_LIVE);
    IE_DOING = 3;
    push(2, 0, LAYOUT_QUAD, 8, 0);
    EXPECT_EQ(IE_DOING, 18); // channels 9-12
    push(2, 0, LAYOUT_SINGLE, 0, 6);
    EXPECT_EQ(IE_DOING, 6);
    // Channel words the panel has no button for are stored, not shown.
    push(2, 0, LAYOUT_SINGLE, 0, 0xFFFFFFF0u);
    EXPECT_EQ(V()->liveBlock.liveChannel, 0xFFFFFFF0u);
    EXPECT_EQ(IE_DOING, 6);
    push(2, 0, LAYOUT_QUAD, 0x80000000u, 0);
    EXPECT_EQ(IE_DOING, 6);
    // Outside Live the panel keeps its display.
    Force(VIEW_PLAYBACK);
    push(4, 0, LAYOUT_SINGLE, 0, 2);
    EXPECT_EQ(V()->mode, (uint32_t)VIEW_PLAYBACK);
    EXPECT_EQ(V()->liveBlock.liveChannel, 2u);
    EXPECT_EQ(IE_DOING, 6);
    View_OnLiveBlock(nullptr);
    Queued(0);
}

TEST_F(ViewTest, FormShowsTheModesCaptionAndPages)
{
    // The form's components without its start-up.
    std::unique_ptr<TTavlinX> form(new TTavlinX(nullptr));
    gViewerForm = form.get();
    form->Label_time->SetCaption("none");
    form->PageControl1->SetActivePageIndex(2);
    const struct {
        uint32_t mode;
        const char* caption;
        bool pages, backupLabel;
    } cases[] = {
        {VIEW_PLAYBACK, "Playback", false, false}, {VIEW_SETUP, "Setup", true, false},
        {VIEW_BACKUP, "Backup", false, true},      {VIEW_LOCAL_PLAYBACK, "Backup", false, false},
        {VIEW_LIVE, "Live", false, false},
    };
    Force(VIEW_LIVE);
    for (const auto& k : cases) {
        SCOPED_TRACE(k.mode);
        form->PageControl1->Show();
        form->Label1->Show();
        ASSERT_EQ(View_SetMode(V(), k.mode), 1);
        EXPECT_EQ(form->Label_time->Caption(), k.caption); // local playback keeps the last caption
        EXPECT_EQ(form->PageControl1->Visible(), k.pages);
        EXPECT_EQ(form->Label1->Visible(), k.backupLabel);
        if (k.pages) {
            EXPECT_EQ(form->PageControl1->ActivePageIndex(), 0);
        }
    }
    // The same mode again leaves the form alone.
    form->Label_time->SetCaption("kept");
    EXPECT_EQ(View_SetMode(V(), VIEW_LIVE), 0);
    EXPECT_EQ(form->Label_time->Caption(), "kept");
    gViewerForm = nullptr;
}

} // namespace
