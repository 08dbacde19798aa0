// The speaker icon on the real form, driven by real mouse events and a fake
// stopwatch: when it shows, which of the two icons, when it goes, and what
// a click switches.
#include "control/Speaker.h"
#include "control/TavlinImpl1.h"
#include "control/View.h"
#include "link/Conn.h"
#include "link/Ring.h"
#include "link/Tavn.h"
#include "platform/vcl/Forms.h"
#include "platform/win/Win.h"
#include "media/Hooks.h"
#include "tests/support/ModuleReset.h"
#include <gtest/gtest.h>
#include <cstring>
#include <memory>

namespace {

// The stopwatch reading the steps stand at; the platform's tick count
// makes the stopwatch read it (whole milliseconds, as it always reads).
uint32_t gNow;
uint32_t TickAtNow() { return gStopwatch[1] + gNow / 100; }

enum Action {
    MoveVideo, // pointer over the video (through the transparent layer)
    MoveIcon,  // pointer over the visible icon
    Click,     // click on the visible icon
    Tick,      // Timer1Timer's speaker step
    KeyAction, // a key-panel action
    AudioArrives,
    LiveQuad, // four-way split in Live
    LiveChannel2,
    Playback1, // Playback of channel 1
    Backup,
    NoSoundRecorder,
};

struct Step {
    Action action;
    uint32_t at; // stopwatch reading (10 microsecond units, whole milliseconds)
    int icon;    // 0 none, 1 Off, 2 On
    uint32_t audioOn;
};

class SpeakerTest : public ::testing::Test {
protected:
    static inline TTavlinX* form = nullptr;
    static void SetUpTestSuite()
    {
        form = new TTavlinX(nullptr); // the form alone: no start-up
        gViewerForm = form;
        Vcl_ShowWindow(form->Handle(), "TavlinX");
    }
    void SetUp() override
    {
        Win_SetTickSource(TickAtNow);
        gNow = 1000;
        Modules_ResetAll();
        gConnections[0].view = &gViewRecords[0];
        gConnections[0].handshake = &gHandshakeRecords[0];
        TViewRecord* v = &gViewRecords[0];
        v->mode = VIEW_LIVE;
        v->liveBlock.liveLayout = LAYOUT_SINGLE;
        v->liveBlock.liveChannel = 0;
        v->playbackBlock.playbackChannel = 0;
        gSpeakerState.lastShown = 0;
        gSpeakerState.lastMove = 0;
    }
    void TearDown() override { Win_SetTickSource(nullptr); }

    int Icon()
    {
        bool off = form->Image_Trumpet_Off->Visible(), on = form->Image_Trumpet_On->Visible();
        EXPECT_FALSE(off && on) << "at most one icon";
        return on ? 2 : off ? 1 : 0;
    }
    void Run(const Step* steps, size_t n)
    {
        void* h = form->Handle();
        for (size_t i = 0; i < n; ++i) {
            const Step& s = steps[i];
            SCOPED_TRACE(::testing::Message() << "step " << i);
            gNow = s.at;
            TViewRecord* v = &gViewRecords[0];
            switch (s.action) {
            case MoveVideo: Vcl_MouseAt(h, vmaMove, mbLeft, 34 + 300, 43 + 200); break;
            case MoveIcon: Vcl_MouseAt(h, vmaMove, mbLeft, 620, 61); break;
            case Click: Vcl_ClickAt(h, 620, 61); break;
            case Tick: Speaker_TimerStep(); break;
            case KeyAction:
                Speaker_ClearShown();
                Speaker_UpdateIcon(0, 0, 0, 0);
                break;
            case AudioArrives: gAudioAvailable.store(1); break;
            case LiveQuad: v->liveBlock.liveLayout = LAYOUT_QUAD; break;
            case LiveChannel2: v->liveBlock.liveChannel = 2; break;
            case Playback1:
                v->mode = VIEW_PLAYBACK;
                v->playbackBlock.playbackChannel = 1;
                break;
            case Backup: v->mode = VIEW_BACKUP; break;
            case NoSoundRecorder: gHandshakeRecords[0].machine.audioWord = 2; break;
            }
            EXPECT_EQ(s.icon, Icon());
            EXPECT_EQ(s.audioOn, gSpeakerState.audioOn.load());
        }
    }
};

TEST_F(SpeakerTest, NoIconWhileNoAudioArrives)
{
    const Step steps[] = {
        {MoveVideo, 1000, 0, 0},
        {Tick, 1100, 0, 0},
        {MoveVideo, 5000, 0, 0},
        {Tick, 5100, 0, 0},
    };
    Run(steps, sizeof steps / sizeof *steps);
}

TEST_F(SpeakerTest, ShowsOnAMoveAndHidesOnTheFirstTickPast2Seconds)
{
    const Step steps[] = {
        {AudioArrives, 1000, 0, 0}, {MoveVideo, 1000, 0, 0}, // due; drawn at the next tick
        {Tick, 1100, 1, 0},         {Tick, 201000, 1, 0},    // exactly 2 s: still there
        {MoveIcon, 201000, 1, 0},                            // moving on the icon renews it
        {Tick, 401000, 1, 0},       {Tick, 401100, 0, 0},    // more than 2 s after the last move
        {Tick, 450000, 0, 0},       {MoveVideo, 450000, 0, 0}, {Tick, 450100, 1, 0},
    };
    Run(steps, sizeof steps / sizeof *steps);
}

TEST_F(SpeakerTest, AClickSwitchesAudioAndTheIconAtOnce)
{
    const Step steps[] = {
        {AudioArrives, 1000, 0, 0}, {MoveVideo, 1000, 0, 0},
        {Tick, 1100, 1, 0},         {Click, 2000, 2, 1},  // Off clicked: On shows, audio on
        {Click, 3000, 1, 0},                              // On clicked: Off again
        {Click, 4000, 2, 1},        {Tick, 204000, 2, 1}, // the click counts as a move
        {Tick, 204100, 0, 1},                             // gone; audio stays on
        {MoveVideo, 300000, 0, 1},  {Tick, 300100, 2, 1},
    };
    Run(steps, sizeof steps / sizeof *steps);
}

TEST_F(SpeakerTest, KeyPanelActionHidesTheIconUntilTheNextMove)
{
    const Step steps[] = {
        {AudioArrives, 1000, 0, 0}, {MoveVideo, 1000, 0, 0}, {Tick, 1100, 1, 0}, {KeyAction, 2000, 0, 0},
        {Tick, 2100, 0, 0},         {MoveVideo, 3000, 0, 0}, {Tick, 3100, 1, 0},
    };
    Run(steps, sizeof steps / sizeof *steps);
}

TEST_F(SpeakerTest, OnlyWhereOneAudioChannelCanBeHeard)
{
    struct Case {
        const char* name;
        Action view;
        int icon;
    };
    const Case cases[] = {
        {"live four-way split", LiveQuad, 0},           {"live channel 2", LiveChannel2, 0},
        {"playback channel 1", Playback1, 1},           {"backup", Backup, 0},
        {"recorder without sound", NoSoundRecorder, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        SetUp();
        const Step steps[] = {
            {AudioArrives, 1000, 0, 0},
            {k.view, 1000, 0, 0},
            {MoveVideo, 1000, 0, 0},
            {Tick, 1100, k.icon, 0},
        };
        Run(steps, sizeof steps / sizeof *steps);
    }
}

TEST_F(SpeakerTest, BothIconsArePicturesOf24By24)
{
    for (TImage* icon : {form->Image_Trumpet_Off, form->Image_Trumpet_On}) {
        EXPECT_EQ(24, icon->Picture()->Width());
        EXPECT_EQ(24, icon->Picture()->Height());
        EXPECT_EQ(618, icon->Left());
        EXPECT_EQ(59, icon->Top());
    }
}

TEST_F(SpeakerTest, ResetTurnsEverythingOff)
{
    gAudioAvailable.store(1);
    gSpeakerState.audioOn.store(1);
    gSpeakerState.shown = 1;
    form->Image_Trumpet_On->Show();
    Speaker_Reset();
    EXPECT_EQ(0u, gAudioAvailable.load());
    EXPECT_EQ(0u, gSpeakerState.audioOn.load());
    EXPECT_EQ(0u, gSpeakerState.shown);
    EXPECT_EQ(0u, gSpeakerState.lastAudioOn);
    EXPECT_EQ(0, Icon());
}

} // namespace
