// The key panel's logic: page rights by user level, buttons by channel
// count and start mode, display selections, the round trip between the
// live and playback pages, and what reaches the recorder as ICMD requests.
#include "../view/ViewFixture.h"
#include "media/LocalPlay.h"
#include "link/Hooks.h"
#include "panel/Ie_com.h"
#include "panel/Yuv2.h"
#include <gtest/gtest.h>
#include <array>
#include <climits>

namespace {

using A4 = std::array<int32_t, 4>;
using A8 = std::array<int32_t, 8>;
using A16 = std::array<int32_t, 16>;

A4 Pages() { return {IE_Page[0], IE_Page[1], IE_Page[2], IE_Page[3]}; }
A8 Splits()
{
    A8 a;
    for (int i = 0; i < 8; ++i) a[i] = IE_CH2[i];
    return a;
}
A16 Channels()
{
    A16 a;
    for (int i = 0; i < 16; ++i) a[i] = IE_CH[i];
    return a;
}
// Channels lit (1), shown (0) or hidden (-1): first..last 1-based set to v.
A16 Buttons(std::initializer_list<std::array<int, 3>> runs)
{
    A16 a;
    a.fill(-1);
    for (const auto& r : runs)
        for (int i = r[0]; i <= r[1]; ++i) a[i - 1] = r[2];
    return a;
}

class KeyForm : public ViewTest {
protected:
    void SetUp() override
    {
        ViewTest::SetUp();
        Yuv2_ResetSkins();
        Yuv2_ResetMouse();
        memset(&gSelection, 0, sizeof gSelection);
        gPrevPage = 0;
        KeyForm_ResetState();
        Level("9");
    }
    void Level(const char* text)
    {
        memset(C(0)->userKey, 0, sizeof C(0)->userKey);
        strncpy(C(0)->userKey, text, sizeof C(0)->userKey - 1);
    }
    // A press as the skin makes it: the page sync, the variables, the update.
    void PressPage(int page)
    {
        KeyForm_SyncPage();
        IE_Page2 = page;
        IE_Page3 = page + 1;
        KeyForm_Update(0);
    }
    void PressChannel(int channel)
    {
        KeyForm_SyncPage();
        IE_DOING = channel;
        IE_CH_Value = channel;
        KeyForm_Update(0);
    }
    void PressSplit(int split)
    {
        KeyForm_SyncPage();
        IE_CH2_Value = split;
        IE_DOING = KEY_DISPLAY_FIRST_SPLIT + split;
        KeyForm_Update(0);
    }
    // The last live block queued: {layout, first, channel}; type in *type.
    std::array<uint32_t, 3> LastLive(uint32_t* type = nullptr)
    {
        std::vector<Bytes> q = Queued(0);
        EXPECT_FALSE(q.empty());
        if (q.empty()) return {99, 99, 99};
        const Bytes& m = q.back();
        if (type) *type = GetU32(m, 40);
        return {GetU32(m, 64), GetU32(m, 68), GetU32(m, 72)};
    }
};

TEST_F(KeyForm, RightsButtonsAndStartPage)
{
    const struct {
        const char* level;
        uint32_t channels;
        int32_t mode;
        A4 pages;
        int32_t page;
        A16 channelButtons;
        A8 splits;
        uint32_t sentType;
    } cases[] = {
        {"7", 16, 0, {1, -1, -1, -1}, 0, Buttons({{1, 4, 1}, {5, 16, 0}}), {1, 0, 0, 0, 0, 0, 0, -1}, 256},
        {"8", 16, 0, {1, 0, 0, -1}, 0, Buttons({{1, 4, 1}, {5, 16, 0}}), {1, 0, 0, 0, 0, 0, 0, -1}, 256},
        {"9", 16, 0, {1, 0, 0, 0}, 0, Buttons({{1, 4, 1}, {5, 16, 0}}), {1, 0, 0, 0, 0, 0, 0, -1}, 256},
        {"9", 8, 0, {1, 0, 0, 0}, 0, Buttons({{1, 4, 1}, {5, 8, 0}}), {1, 0, 0, -1, -1, -1, -1, -1}, 256},
        {"9", 4, 0, {1, 0, 0, 0}, 0, Buttons({{1, 4, 1}}), {1, -1, -1, -1, -1, -1, -1, -1}, 256},
        {"9", 16, 1, {0, 0, 0, 1}, 3, Buttons({}), {1, 0, 0, 0, 0, 0, 0, -1}, 4096},
        {"9", 8, 2, {-1, 1, 0, -1}, 1, Buttons({{1, 1, 1}, {2, 8, 0}}), {1, 0, 0, -1, -1, -1, -1, -1}, 512},
        {"x", 4, 0, {1, -1, -1, -1}, 0, Buttons({{1, 4, 1}}), {1, -1, -1, -1, -1, -1, -1, -1}, 256},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("level ") + c.level + " channels " + std::to_string(c.channels) + " mode " +
                     std::to_string(c.mode));
        KeyForm_ResetState();
        gPrevPage = 0;
        Force(VIEW_LIVE);
        Level(c.level);
        KeyForm_Init(c.channels, 0, c.mode);
        EXPECT_EQ(Pages(), c.pages);
        EXPECT_EQ(IE_Page2, c.page);
        EXPECT_EQ(IE_M_CH, (int32_t)c.channels);
        EXPECT_EQ(Channels(), c.channelButtons);
        EXPECT_EQ(Splits(), c.splits);
        uint32_t type = 0;
        LastLive(&type);
        EXPECT_EQ(type, c.sentType);
    }
}

TEST_F(KeyForm, ChannelsAndSplitsReachTheRecorder)
{
    KeyForm_Init(16, 0, 0);
    EXPECT_EQ(LastLive(), (std::array<uint32_t, 3>{1, 0, 0})); // channels 1-4
    PressChannel(4);
    EXPECT_EQ(LastLive(), (std::array<uint32_t, 3>{0, 0, 4}));
    EXPECT_EQ(Channels(), Buttons({{1, 16, 0}, {5, 5, 1}}));
    PressSplit(2);
    EXPECT_EQ(LastLive(), (std::array<uint32_t, 3>{1, 8, 4})); // 9-12
    EXPECT_EQ(Channels(), Buttons({{1, 8, 0}, {9, 12, 1}, {13, 16, 0}}));
    EXPECT_EQ(Splits(), (A8{0, 0, 1, 0, 0, 0, 0, -1}));
    PressSplit(5);
    EXPECT_EQ(LastLive(), (std::array<uint32_t, 3>{2, 9, 4})); // 10-16
    EXPECT_EQ(Channels(), Buttons({{1, 2, 1}, {3, 9, 0}, {10, 16, 1}}));
}

TEST_F(KeyForm, LiveToPlaybackAndBackRestoresTheLiveDisplay)
{
    const int displays[] = {6, 18, 22};
    for (int d : displays) {
        SCOPED_TRACE(d);
        KeyForm_ResetState();
        gPrevPage = 0;
        Force(VIEW_LIVE);
        KeyForm_Init(16, 0, 0);
        if (d < 16) PressChannel(d);
        else PressSplit(d - 16);
        Queued(0);
        PressPage(1);
        EXPECT_EQ(IE_DOING, 0); // playback starts on the saved playback channel
        EXPECT_EQ(V()->mode, (uint32_t)VIEW_PLAYBACK);
        EXPECT_EQ(Pages(), (A4{0, 1, 0, 0}));
        PressChannel(3);
        PressPage(0);
        EXPECT_EQ(IE_DOING, d);
        EXPECT_EQ(V()->mode, (uint32_t)VIEW_LIVE);
        uint32_t type = 0;
        std::array<uint32_t, 3> live = LastLive(&type);
        EXPECT_EQ(type, 256u);
        if (d < 16) EXPECT_EQ(live, (std::array<uint32_t, 3>{0, 0, (uint32_t)d}));
        else EXPECT_NE(live[0], 0u);
        // And back to playback: the playback channel was kept too.
        PressPage(1);
        EXPECT_EQ(IE_DOING, 3);
    }
}

TEST_F(KeyForm, PlayButtonsSteerPlayback)
{
    KeyForm_Init(16, 0, 0);
    PressPage(1);
    Queued(0);
    const struct {
        int button;
        uint32_t run;
        int32_t direction;
    } cases[] = {
        {3, 1, 1},
        {1, 0, 0},
        {0, 1, -1},
        {2, 1, 0},
    };
    for (const auto& c : cases) {
        KeyForm_SyncPage();
        IE_PB_PS = c.button;
        IE_PB_PS2 = c.button + 1;
        KeyForm_Update(0);
        EXPECT_EQ(V()->playbackBlock.playbackRun, c.run) << c.button;
        EXPECT_EQ(V()->playbackBlock.playbackDirection, c.direction) << c.button;
        EXPECT_EQ(IE_PB_BT_En[c.button], 1);
        EXPECT_EQ(IE_PB_PS2, 0);
        EXPECT_EQ(Queued(0).size(), 1u) << "one request per press";
    }
}

// With a movie file playing (mode 4) the play buttons step through the
// file and send nothing; a page button leaves the file.
TEST_F(KeyForm, PlayButtonsStepThroughAMovieFileInModeFour)
{
    KeyForm_Init(16, 0, 0);
    PressPage(1);
    V()->mode = VIEW_LOCAL_PLAYBACK;
    gLocalFile.playState = 1;
    Queued(0);
    const struct {
        int button;
        int32_t step;
        uint32_t playState, playRequest;
        int lit;
    } cases[] = {
        {1, 0, 0, 0, 1}, {2, 1, 0, 1, 1}, {0, -1, 0, 1, 1}, {3, 0, 1, 1, 3}, {2, 1, 1, 1, 3},
    };
    for (const auto& c : cases) {
        gLocalFile.step = 0;
        gLocalFile.playRequest = 0;
        KeyForm_SyncPage();
        IE_PB_PS = c.button;
        IE_PB_PS2 = c.button + 1;
        KeyForm_Update(0);
        EXPECT_EQ(gLocalFile.step, c.step) << c.button;
        EXPECT_EQ(gLocalFile.playState, c.playState) << c.button;
        EXPECT_EQ(gLocalFile.playRequest, c.playRequest) << c.button;
        EXPECT_EQ(IE_PB_BT_En[c.lit], 1) << c.button;
        EXPECT_EQ(IE_PB_PS2, 0);
        EXPECT_EQ(V()->mode, (uint32_t)VIEW_LOCAL_PLAYBACK);
        EXPECT_TRUE(Queued(0).empty()) << "a step goes to no recorder";
    }
    PressPage(0);
    EXPECT_EQ(V()->mode, (uint32_t)VIEW_LIVE);
    EXPECT_EQ(gLocalFile.playState, 0u);
}

TEST_F(KeyForm, NothingIsSentBeforeTheHandshake)
{
    ASSERT_EQ(IE_M_CH, 0);
    PressChannel(2);
    PressPage(1);
    EXPECT_TRUE(Queued(0).empty());
}

TEST_F(KeyForm, RefreshOfTheCurrentPageSendsNothing)
{
    KeyForm_Init(16, 0, 0);
    Queued(0);
    PressPage(0);
    EXPECT_TRUE(Queued(0).empty());
    EXPECT_EQ(IE_Page3, 0);
}

TEST_F(KeyForm, SelectDisplayFollowsTheRecorderWithinItsChannels)
{
    KeyForm_Init(16, 0, 0);
    Queued(0);
    const struct {
        uint32_t channels;
        int32_t kind, a, b;
        int32_t display, split;
    } cases[] = {
        {16, 1, 9, 0, 18, 2}, {16, 0, 0, 11, 11, 0}, {16, 2, 0, 0, 20, 4}, {16, 2, 9, 0, 21, 5},
        {8, 2, 0, 0, 18, 2},  {16, 3, 0, 0, 22, 6},  {16, 7, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        IE_M_CH = (int32_t)c.channels;
        KeyForm_SelectDisplay(c.kind, c.a, c.b);
        EXPECT_EQ(IE_DOING, c.display) << c.kind << " " << c.a;
        EXPECT_EQ(IE_CH2_Value, c.split) << c.kind << " " << c.a;
    }
    EXPECT_TRUE(Queued(0).empty()); // the recorder's own choice is not sent back

    // Words for channels the recorder does not have change nothing.
    IE_M_CH = 4;
    KeyForm_SelectDisplay(0, 0, 2);
    const struct {
        int32_t kind, a, b;
    } bad[] = {{0, 0, 4}, {0, 0, -1}, {0, 0, 0x7FFFFFFF}, {1, 16, 0}, {1, -4, 0}};
    for (const auto& c : bad) {
        KeyForm_SelectDisplay(c.kind, c.a, c.b);
        EXPECT_EQ(IE_DOING, 2) << c.kind << " " << c.a << " " << c.b;
        EXPECT_EQ(Channels(), Buttons({{1, 2, 0}, {3, 3, 1}, {4, 4, 0}}));
    }
}

TEST_F(KeyForm, FourChannelRecorderHidesWhatItLacks)
{
    KeyForm_Init(4, 0, 0);
    KeyForm_SelectDisplay(2, 0, 0); // nine-way from channel 1
    EXPECT_EQ(IE_DOING, 20);
    EXPECT_EQ(Channels(), Buttons({{1, 4, 1}}));
    EXPECT_EQ(Splits(), (A8{0, -1, -1, -1, -1, -1, -1, -1}));
}

TEST_F(KeyForm, BackupWithoutAChosenFileStaysOff)
{
    KeyForm_Init(16, 0, 0);
    PressPage(2);
    KeyForm_SyncPage();
    IE_ST = 1;
    KeyForm_Update(0);
    EXPECT_EQ(IE_ST2, 0);
    EXPECT_EQ(IE_ST, 0);
    EXPECT_EQ(gPanelLevel, 1);
    EXPECT_EQ(IE_percentage, 100);
}

TEST_F(KeyForm, StartUpFreesTheSkinEntriesAndResetsThePanel)
{
    IE_DOING = 5;
    gSkins[1].x = 40;
    IeCom_Init();
    for (const TSkinEntry& s : gSkins) EXPECT_EQ(s.x, -1);
    EXPECT_EQ(IE_DOING, 16);
    EXPECT_EQ(IE_PB_PS, 1);
    EXPECT_EQ(Pages(), (A4{-1, -1, -1, -1}));
    EXPECT_EQ(Dm_SCh[99], 16);
}

// A preset slider press leaves its value + 1 in MOD3 or MOD4; a skin can
// write any i32 there, and the held value and the stored byte follow it
// without wrapping.
TEST_F(KeyForm, PresetSliderTakesAnyPressedValue)
{
    const struct {
        int32_t pressed, held;
        uint8_t stored;
    } cases[] = {
        {5, 4, 5},
        {INT32_MIN, INT32_MIN, 1},
        {INT32_MAX, INT32_MAX - 1, 0xFF},
        {INT32_MIN + 1, INT32_MIN, 1},
    };
    for (const auto& c : cases) {
        MOD3 = c.pressed;
        Preset_Update();
        EXPECT_EQ(gHoldCode, 1);
        EXPECT_EQ(gPanelPairs[1].value, c.held) << c.pressed;
        Preset_MouseEvent(3, 0, 0); // end of the hold
        EXPECT_EQ(gPresetTable[PRESET_SLIDERS_AT], c.stored) << c.pressed;
        EXPECT_EQ(gHoldCode, 0);
        MOD4 = c.pressed;
        Preset_Update();
        EXPECT_EQ(gHoldCode, 2);
        EXPECT_EQ(gPanelPairs[2].value, c.held) << c.pressed;
        gPanelPairs[2].value = INT32_MAX; // whatever the calendar or a skin left there
        Preset_MouseEvent(3, 0, 0);
        EXPECT_EQ(gPresetTable[PRESET_SLIDERS_AT + 1], 0) << c.pressed;
    }
}

} // namespace
