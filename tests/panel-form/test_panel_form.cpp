// The key panel in the control's form: the start-up loads the project's
// skin, the main loop draws it into Image1, the form's mouse handlers press
// its buttons, and a held step repeats on the loop's 33 ms task, all on a
// fake process clock advanced 10 ms per tick.
#include "control/TavlinImpl1.h"
#include "control/View.h"
#include "link/Hooks.h"
#include "panel/Ie_com.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include "platform/win/Win.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

uint32_t gFakeMs = 50000;
uint32_t FakeTicks() { return gFakeMs; }

// Channel button k (1-based) of the project's skin: its centre in Image1.
int ChannelX(int k) { return 12 + 38 * ((k - 1) % 8) + 17; }
int ChannelY(int k) { return 84 + 30 * ((k - 1) / 8) + 13; }

uint32_t Pixel(TTavlinX* f, int x, int y)
{
    TBitmap* b = f->Image1->Picture()->Bitmap();
    return ((const uint32_t*)b->ScanLine(y))[x] & 0xFFFFFF;
}
bool Blue(uint32_t rgb) { return (int)(rgb & 0xFF) > (int)((rgb >> 16) & 0xFF) + 80; }

class PanelForm : public ::testing::Test {
protected:
    static TTavlinX* form;
    static void SetUpTestSuite()
    {
        Win_SetTickSource(FakeTicks);
        form = TavlinX_CreateForm();
        form->Timer1->SetEnabled(false); // the test runs the loop
    }
    // One 10 ms tick of the main loop.
    void Tick()
    {
        gFakeMs += 10;
        form->Timer1Timer(nullptr);
    }
};
TTavlinX* PanelForm::form = nullptr;

TEST_F(PanelForm, StartUpLoadsTheSkinAndTheLoopDrawsIt)
{
    ASSERT_EQ(gSkinCount, 1u);
    EXPECT_STREQ(gSkins[0].name, "TavlinKeyForm_02030157.YUV2");
    KeyForm_Init(16, 0, 0); // as the recorder's machine record does
    for (int i = 0; i < 5; ++i) Tick();
    TBitmap* b = form->Image1->Picture()->Bitmap();
    ASSERT_EQ(b->Width(), 324);
    ASSERT_EQ(b->Height(), 620);
    EXPECT_EQ(gKeyFormWidth, 324);
    // Channels 1-4 lit (the start-up split), 5 not.
    EXPECT_TRUE(Blue(Pixel(form, ChannelX(1) - 14, ChannelY(1) + 8)));
    EXPECT_FALSE(Blue(Pixel(form, ChannelX(5) - 14, ChannelY(5) + 8)));

    form->Image1MouseDown(nullptr, mbLeft, 0, ChannelX(6), ChannelY(6));
    form->Image1MouseUp(nullptr, mbLeft, 0, ChannelX(6), ChannelY(6));
    for (int i = 0; i < 5; ++i) Tick();
    EXPECT_EQ(IE_DOING, 5);
    EXPECT_EQ(gViewRecords[0].liveBlock.liveChannel, 5u);
    EXPECT_TRUE(Blue(Pixel(form, ChannelX(6) - 14, ChannelY(6) + 8)));
    EXPECT_FALSE(Blue(Pixel(form, ChannelX(1) - 14, ChannelY(1) + 8)));
}

TEST_F(PanelForm, HoverFollowsTheMouseOnTheNextTask)
{
    for (int i = 0; i < 5; ++i) Tick();
    uint32_t before = Pixel(form, ChannelX(10) - 16, ChannelY(10));
    form->Image1MouseMove(nullptr, 0, ChannelX(10), ChannelY(10));
    EXPECT_EQ(gHover[1], 10);
    for (int i = 0; i < 5; ++i) Tick();
    EXPECT_NE(Pixel(form, ChannelX(10) - 16, ChannelY(10)), before); // the hover frame
    form->Image1MouseMove(nullptr, 0, 300, 610);
    EXPECT_EQ(gHover[0], -1);
    for (int i = 0; i < 5; ++i) Tick();
    EXPECT_EQ(Pixel(form, ChannelX(10) - 16, ChannelY(10)), before);
}

TEST_F(PanelForm, HeldStepRepeatsFromTheTwelfthTaskAfterThePress)
{
    KeyForm_Init(16, 0, 0);
    for (int i = 0; i < 5; ++i) Tick();
    form->Image1MouseDown(nullptr, mbLeft, 0, ChannelX(3), ChannelY(3));
    // The calendar holds its time steps with this code; the press armed the repeat.
    gHoldCode = HOLD_REPEAT;
    gRepeatState = REPEAT_ARMED;
    // The 33 ms task runs on every fourth 10 ms tick; note the ticks that
    // press again (each press asks the recorder once more).
    std::vector<int> pressedAt;
    uint32_t sequence = gViewRecords[0].icmdSequence;
    for (int tick = 1; tick <= 60; ++tick) {
        Tick();
        if (gViewRecords[0].icmdSequence != sequence) pressedAt.push_back(tick);
        sequence = gViewRecords[0].icmdSequence;
    }
    form->Image1MouseUp(nullptr, mbLeft, 0, ChannelX(3), ChannelY(3));
    gHoldCode = 0;
    ASSERT_GE(pressedAt.size(), 2u);
    // 12 tasks of about 40 ms: the first repeat near 0.48 s, then one per task.
    EXPECT_GE(pressedAt[0], 44);
    EXPECT_LE(pressedAt[0], 48);
    for (size_t i = 1; i < pressedAt.size(); ++i) EXPECT_EQ(pressedAt[i] - pressedAt[i - 1], 4);
    uint32_t after = gViewRecords[0].icmdSequence;
    for (int i = 0; i < 20; ++i) Tick();
    EXPECT_EQ(gViewRecords[0].icmdSequence, after); // released: no more
}

} // namespace
