// Hit-testing and presses: cell edges, overlapping elements, panel levels,
// hidden items, the variables a press writes, the auto-repeat timeline on
// the 33 ms tick, and on the project's own skin that every button is hit
// where it is drawn.
#include "RawSkin.h"
#include "panel/Ie_com.h"
#include <gtest/gtest.h>
#include <cstdlib>

namespace {

const char kName[] = "Hit.YUV2";

class Hit : public ::testing::Test {
protected:
    RawSkin skin;
    void SetUp() override
    {
        Yuv2_ResetSkins();
        Yuv2_ResetMouse();
        Skin_ClearVariables();
        skin.AddGroup({"BG", 64, 40, 0, 22, 1, 1, 0, 7999, 0, 0});
        skin.AddElement({"BG", "BG", "#Vout"});
        // Row buttons 8 x 6 at level 1; a level-2 copy.
        skin.AddGroup({"BTN", 8, 6, 100, 70, 6, 2, 3, 7999, 0, 1});
        skin.AddGroup({"BTN2", 8, 6, 100, 70, 6, 2, 3, 7999, 0, 2});
    }
    // Four items at x 14..22, 24..32, 34..42, 44..52, y 7..13.
    RawSkin::Element Row(const char* name, const char* group = "BTN")
    {
        RawSkin::Element e{name, group, "BG"};
        e.dx = 1;
        e.dy = -10;
        e.items = 4;
        e.columns = 4;
        e.sx = 2;
        e.source = "IE_Page#ADN";
        e.target = "IE_Page2#SD";
        return e;
    }
    void Load() { ASSERT_EQ(skin.Load(Folder(), kName), 0) << gSkinLastRefusal; }
    static std::pair<int, int> At(int x, int y)
    {
        THitResult h = Yuv2_HitTest(x, y, nullptr);
        return {h.element, h.subItem};
    }
};

using P = std::pair<int, int>;

TEST_F(Hit, CellEdgesAreInclusive)
{
    skin.AddElement(Row("ROW"));
    Load();
    const struct {
        int x, y;
        P hit;
    } cases[] = {
        {14, 7, {1, 1}},  {22, 13, {1, 1}},   {13, 10, {-1, -1}}, {23, 10, {-1, -1}}, {24, 10, {1, 2}},
        {52, 10, {1, 4}}, {53, 10, {-1, -1}}, {18, 6, {-1, -1}},  {18, 14, {-1, -1}},
    };
    for (const auto& c : cases) EXPECT_EQ(At(c.x, c.y), c.hit) << c.x << "," << c.y;
}

TEST_F(Hit, LastElementWinsAndLevelsBlock)
{
    skin.AddElement(Row("LOW", "BTN2")); // level 2: still hit at level 2
    skin.AddElement(Row("TOP"));         // level 1, later: on top
    Load();
    EXPECT_EQ(At(18, 10), P(2, 1));
    gPanelLevel = 2; // the top one is refused and covers the one below
    EXPECT_EQ(At(18, 10), P(-1, -1));
}

TEST_F(Hit, HiddenItemsAndElementsWithoutSourceLetters)
{
    skin.AddElement(Row("ROW"));
    RawSkin::Element mute = Row("MUTE");
    mute.source = "";
    mute.target = "";
    skin.AddElement(mute); // on top, drawn, never hit
    RawSkin::Element flat = Row("FLAT");
    flat.columns = 0; // neither grid nor circle
    skin.AddElement(flat);
    Load();
    EXPECT_EQ(At(28, 10), P(1, 2));
    IE_Page[1] = -1; // a hidden item covers what lies under it
    EXPECT_EQ(At(28, 10), P(-1, -1));
    EXPECT_EQ(At(38, 10), P(1, 3));
}

TEST_F(Hit, RadialItemsHitFromZero)
{
    skin.AddGroup({"RAD", 4, 4, 100, 120, 8, 1, 1, 7999, 0, 1});
    RawSkin::Element r{"RING", "RAD", "BG"};
    r.items = 8;
    r.radial = 1;
    r.radius = 12;
    skin.AddElement(r);
    Load();
    EXPECT_EQ(At(32, 8), P(1, 2));
    EXPECT_EQ(At(46, 22), P(1, 0)); // edge of item 0 (44 +- 2)
    EXPECT_EQ(At(32, 20), P(-1, -1));
}

TEST_F(Hit, PressWritesTheBoundVariables)
{
    skin.AddElement(Row("PAGE")); // A-to-S with N: item number
    skin.AddGroup({"HID", 0, 0, 0, 0, 0, 0, 0, 7999, 0, 0});
    RawSkin::Element refresh{"PAGE3", "HID", "PAGE"}; // attached: C-to-S
    refresh.items = 4;
    refresh.source = "1#CD";
    refresh.target = "IE_Page3#SD";
    skin.AddElement(refresh);
    Load();
    Yuv2_PanelMouseDown(38, 10); // third item
    EXPECT_EQ(IE_Page2, 2);
    EXPECT_EQ(IE_Page3, 0); // the key panel logic took the refresh request
    EXPECT_EQ(gPressed.element, 1);
    EXPECT_EQ(gPressed.subItem, 3);
    EXPECT_STREQ(gRepeatName, "IE_KeyForm.YUV2");
    EXPECT_EQ(gLastDrawn[0], 0);
    Yuv2_PanelMouseUp(38, 10);
    EXPECT_EQ(gMouseDown, 0);
    EXPECT_EQ(gLastDrawn[0], -2); // the release repaints (its target holds 2)
}

TEST_F(Hit, SetElementStateTable)
{
    skin.AddGroup({"HID", 0, 0, 0, 0, 0, 0, 0, 7999, 0, 1});
    const struct {
        const char* source;
        const char* target;
    } rows[] = {
        {"12#CA", "Key_Tag#SD"},       {"7#CA", "IE_CH#ADN"},       {"MOD#SDZ", "MOD2#SD"},
        {"Mon_s#SD", "IE_CH2#ADN"},    {"IE_CH#ADN", "IE_CH2#ADN"}, {"IE_CH#ADN", "Key_Code#SD"},
        {"Mon_Day#AD", "Key_Code#SD"}, {"1#CD", "Cent_X#SDX"},
    };
    for (const auto& r : rows) {
        RawSkin::Element e{"E" + std::to_string(skin.elements), "HID", "BG"};
        e.dx = 5;
        e.source = r.source;
        e.target = r.target;
        skin.AddElement(e);
    }
    Load();
    for (int i = 0; i < 16; ++i) IE_CH[i] = 100 + i;
    MOD = 5;
    Mon_s = 33;
    Mon_Day[2] = 777;
    const int k = 3;
    Yuv2_SetElementState(1, k);
    EXPECT_EQ(Skin_FindVariable("Key_Tag#SD")[0], 14); // C to S: 12 + k - 1
    Yuv2_SetElementState(2, k);
    EXPECT_EQ(IE_CH[2], 7); // C to A
    Yuv2_SetElementState(3, k);
    EXPECT_EQ(MOD2, 5);
    EXPECT_EQ(MOD, 0); // S to S, Z clears the source
    Yuv2_SetElementState(4, k);
    EXPECT_EQ(IE_CH2[2], 33); // S to A
    IE_CH[2] = 102;
    Yuv2_SetElementState(5, k);
    EXPECT_EQ(IE_CH2[2], 102); // A to A
    Yuv2_SetElementState(6, k);
    EXPECT_EQ(Skin_FindVariable("Key_Code#SD")[0], 2); // A to S with N: the item number
    Yuv2_SetElementState(7, k);
    EXPECT_EQ(Skin_FindVariable("Key_Code#SD")[0], 777); // A to S: the item's value
    Yuv2_SetElementState(8, k);
    EXPECT_EQ(Cent_X, 640); // X: the reference's x offset + 640
    Yuv2_SetElementState(6, 40);
    EXPECT_EQ(Skin_FindVariable("Key_Code#SD")[0], 39);
    Yuv2_SetElementState(7, 60); // beyond Mon_Day: nothing read
    EXPECT_EQ(Skin_FindVariable("Key_Code#SD")[0], 39);
    Yuv2_SetElementState(5, 40); // beyond both arrays: nothing written
    EXPECT_EQ(IE_CH2[7], 0);
}

// Kind 8003 counts its sub-items from A_Num, which any press can set: a
// sub-item no i32 can hold is no hit, and a press far out writes nothing.
TEST_F(Hit, PageOffsetOfAnyValueNeverWrapsTheSubItem)
{
    skin.AddGroup({"PAGED", 8, 6, 100, 70, 6, 2, 3, 8003, 0, 1});
    RawSkin::Element paged = Row("PAGED", "PAGED");
    paged.source = "Dm_SPre#ADN";
    paged.target = "Key_Code#SD";
    skin.AddElement(paged);
    RawSkin::Element item = Row("ITEM");
    item.dy = 10; // a second row at y 17..23: A-to-S with N writes the item number
    item.source = "IE_CH#ADN";
    item.target = "Key_Code#SD";
    skin.AddElement(item);
    Load();
    A_Num = 50;
    EXPECT_EQ(At(18, 10), P(1, 51));
    const int32_t far[] = {INT32_MAX, INT32_MAX - 1, INT32_MIN, INT32_MIN + 1};
    for (int32_t v : far) {
        A_Num = v;
        EXPECT_EQ(At(18, 10), P(-1, -1)) << v;
        EXPECT_EQ(At(38, 10), P(-1, -1)) << v;
    }
    A_Num = 0;
    int32_t* code = Skin_FindVariable("Key_Code#SD");
    *code = 5;
    Yuv2_SetElementState(2, INT32_MIN); // item number INT32_MIN - 1: no i32, nothing written
    EXPECT_EQ(*code, 5);
    Yuv2_SetElementState(2, INT32_MIN + 1);
    EXPECT_EQ(*code, INT32_MIN);
}

// Ticks of the 33 ms task at which a held time step presses again.
TEST_F(Hit, HeldTimeStepRepeatsFromTheTwelfthTick)
{
    RawSkin::Element step = Row("STEP");
    step.source = "1#CD";
    step.target = "Key_Tag#SD";
    skin.AddElement(step);
    Load();
    int32_t* tag = Skin_FindVariable("Key_Tag#SD");
    Yuv2_PanelMouseDown(18, 10);
    ASSERT_EQ(*tag, 1);
    // The calendar marks a held time step; the press arms the repeat.
    gHoldCode = HOLD_REPEAT;
    gRepeatState = REPEAT_ARMED;
    std::vector<int> presses;
    for (int tick = 1; tick <= 15; ++tick) {
        *tag = 0;
        Yuv2_RepeatTick();
        if (*tag == 1) presses.push_back(tick);
    }
    EXPECT_EQ(presses, (std::vector<int>{12, 13, 14, 15}));
    Yuv2_PanelMouseUp(18, 10);
    *tag = 0;
    Yuv2_RepeatTick();
    EXPECT_EQ(*tag, 0);
    EXPECT_EQ(gRepeatState, REPEAT_IDLE);

    // Other hold codes never repeat on the tick.
    gHoldCode = HOLD_SLOT;
    gRepeatState = REPEAT_ARMED;
    for (int tick = 0; tick < 20; ++tick) Yuv2_RepeatTick();
    EXPECT_EQ(gRepeatState, REPEAT_ARMED);
}

TEST_F(Hit, ReleaseOnAnElementHoldingZeroDoesNothing)
{
    skin.AddElement(Row("ROW"));
    Load();
    IE_Page2 = 0;
    gLastDrawn[0] = gLastDrawn[1] = 7;
    Yuv2_MouseEvent(0, 18, 10, "IE_KeyForm.YUV2");
    EXPECT_EQ(gLastDrawn[0], 7);
    Yuv2_MouseEvent(0, 60, 35, "IE_KeyForm.YUV2"); // outside every element: the release actions run
    EXPECT_EQ(gLastDrawn[0], -2);
    gLastDrawn[0] = 7;
    Yuv2_MouseEvent(0, 60, 35, "IE_KeyForm.BMP"); // not a skin name
    EXPECT_EQ(gLastDrawn[0], 7);
}

// The project's skin, as the build writes it: every item of every element
// that can be hit is hit at the centre of the rectangle it is drawn in.
TEST(ProjectSkin, ClicksLandOnWhatIsDrawn)
{
    Yuv2_ResetSkins();
    Yuv2_ResetMouse();
    Skin_ClearVariables();
    memset(gSkinFolder, 0, sizeof gSkinFolder);
    snprintf(gSkinFolder, sizeof gSkinFolder, "%s", TAVLIN_WINROOT "\\system32");
    ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, "TavlinKeyForm_02030157.YUV2"), 0) << gSkinLastRefusal;
    const int pages[] = {0, 1, 2};
    int checked = 0;
    for (int page : pages) {
        IE_M_CH = 16;
        IE_Page2 = page;
        for (int i = 0; i < 4; ++i) IE_Page[i] = i == page;
        for (int i = 0; i < 16; ++i) IE_CH[i] = 0;
        for (int i = 0; i < 7; ++i) IE_CH2[i] = 0;
        ASSERT_EQ(Yuv2_Compose(gSkins[0].name, gSkins[0].first, gSkins[0].count, gSkins[0].largest, 0), 0);
        for (uint32_t e = 0; e < gSkins[0].count; ++e) {
            const TSkinElement& el = gSkinElements[e];
            if (!el.lit || !el.refLit || el.minLevel == 0 || el.columns < 1 || el.itemCount < 1) continue;
            if (el.sourceKind1 == '0' && el.sourceKind2 == '0' && el.sourceKind3 == '0') continue;
            for (int p = 0; p < el.itemCount; ++p) {
                TSkinRect r;
                ASSERT_EQ(Yuv2_ItemRect((int32_t)e, p, &r), 0);
                THitResult h = Yuv2_HitTest((r.left + r.right) / 2, (r.top + r.bottom) / 2, nullptr);
                EXPECT_EQ(h.element, (int32_t)e) << "page " << page << " element " << e << " item " << p;
                EXPECT_EQ(h.subItem, p + 1) << "page " << page << " element " << e;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 100);

    // A button that draws and writes a variable but has neither grid
    // columns nor a circle could never be pressed.
    for (uint32_t e = 1; e < gSkins[0].count; ++e) {
        const TSkinElement& el = gSkinElements[e];
        if (el.minLevel < 1 || el.glyphColumns < 1 || !el.targetVar || el.itemCount < 1) continue;
        EXPECT_TRUE(el.columns >= 1 || el.radial == 1) << "element " << e << " (" << el.target << ")";
    }
}

} // namespace
