// Composition on small skins made byte by byte: which glyph cell lands
// where (lit cells, leading zeros, radial positions), transparency, the
// RGB conversion, and the limits every skin-driven index and rectangle is
// held to.
#include "RawSkin.h"
#include "control/TavlinImpl1.h"
#include "panel/Ie_com.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

namespace {

const char kName[] = "Draw.YUV2";

class Compose : public ::testing::Test {
protected:
    RawSkin skin;
    void SetUp() override
    {
        Yuv2_ResetSkins();
        Yuv2_ResetMouse();
        Skin_ClearVariables();
        memset(gPanelPairs, 0, sizeof gPanelPairs);
        gLastDrawn[0] = gLastDrawn[1] = -2;
        // The background: 64 x 40 of luma 0x10 from picture row 22.
        skin.AddGroup({"BG", 64, 40, 0, 22, 1, 1, 0, 7999, 0, 0});
        skin.Fill(0, 22, 64, 40, 0x10, 0x80);
        skin.AddElement({"BG", "BG", "#Vout"});
    }
    void LoadAndCompose()
    {
        ASSERT_EQ(skin.Load(Folder(), kName), 0) << gSkinLastRefusal;
        ComposeAgain();
    }
    void ComposeAgain() { ASSERT_EQ(Yuv2_Compose(kName, gSkins[0].first, gSkins[0].count, gSkins[0].largest, 0), 0); }
    // A button row: 4 items of 8 x 6, step 3, six glyph columns and two rows.
    void AddButtonRow(const char* source, int items = 4)
    {
        skin.AddGroup({"BTN", 8, 6, 100, 70, 6, 2, 3, 7999, 0, 1});
        skin.FillStrip(100, 70, 8, 6, 7, 2, 0x40);
        RawSkin::Element e{"ROW", "BTN", "BG"};
        e.dx = 1;
        e.dy = -10;
        e.items = items;
        e.columns = items;
        e.sx = 2;
        e.source = source;
        e.target = "IE_Page2#SD";
        skin.AddElement(e);
    }
};

// Item p of the button row is centred on (18 + 10 p, 10).
int RowLuma(int p) { return PictureLuma(18 + 10 * p, 10); }

TEST_F(Compose, BackgroundIsCopiedWhole)
{
    LoadAndCompose();
    EXPECT_EQ(gSkinPictureWidth, 64);
    EXPECT_EQ(gSkinPictureHeight, 40);
    EXPECT_EQ(PictureLuma(0, 0), 0x10);
    EXPECT_EQ(PictureLuma(63, 39), 0x10);
}

TEST_F(Compose, ArraySourceLightsItsCellAndHidesMinusOne)
{
    AddButtonRow("IE_Page#ADN");
    const int32_t page[4] = {1, 0, -1, 0};
    memcpy(IE_Page, page, sizeof page);
    LoadAndCompose();
    EXPECT_EQ(RowLuma(0), 0x40 + 16 * 1);     // cell 0 + 1: lit
    EXPECT_EQ(RowLuma(1), 0x40 + 16 * 3);     // step 3
    EXPECT_EQ(RowLuma(2), 0x10);              // -1: not drawn
    EXPECT_EQ(RowLuma(3), 0x40 + 16 * 3 + 1); // 9 cells on: row 1, column 3
}

TEST_F(Compose, GlyphColumnEqualToTheCountIsDrawnOneAboveIsNot)
{
    AddButtonRow("IE_Page#ADN");
    IE_Page[1] = 3; // 3 + 3 = 6 = glyph columns
    LoadAndCompose();
    EXPECT_EQ(RowLuma(1), 0x40 + 16 * 6);
    IE_Page[1] = 4; // 7: beyond the strip
    ComposeAgain();
    EXPECT_EQ(RowLuma(1), 0x10);
}

TEST_F(Compose, ItemsBeyondTheBoundArrayAreNotDrawn)
{
    AddButtonRow("IE_Page#ADN", 6); // IE_Page has four entries
    LoadAndCompose();
    // A 6-item row is centred differently: item p at 8 + 10 p.
    EXPECT_EQ(PictureLuma(8 + 10 * 3, 10), 0x40 + 16 * 3 + 1);
    EXPECT_EQ(PictureLuma(8 + 10 * 4, 10), 0x10);
    EXPECT_EQ(PictureLuma(8 + 10 * 5, 10), 0x10);
}

TEST_F(Compose, NumbersKeepLeadingZeros)
{
    skin.AddGroup({"DIG", 6, 8, 100, 100, 10, 1, 1, 2, 0, 0});
    skin.FillStrip(100, 100, 6, 8, 10, 1, 0x40);
    RawSkin::Element y{"YEAR", "DIG", "BG"};
    y.dx = -9;
    y.dy = 10;
    y.items = 4;
    y.source = "Mon_Y#SD";
    skin.AddElement(y);
    Mon_Y = 42;
    LoadAndCompose();
    const int expected[4] = {0, 0, 4, 2};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(PictureLuma(23 + 6 * i, 30), 0x40 + 16 * expected[i]) << i;
}

TEST_F(Compose, KindZeroShowsTheItemNumberOnItsReferenceItem)
{
    // A grid of three transparent cells, and a number attached to it that
    // follows the grid item by item.
    skin.AddGroup({"CELL", 6, 8, 200, 100, 1, 1, 0, 7999, 0, 0});
    RawSkin::Element cells{"CELLS", "CELL", "BG"};
    cells.dx = -9;
    cells.dy = 10;
    cells.items = 3;
    cells.columns = 3;
    cells.sx = 10;
    cells.source = "1#CD";
    skin.AddElement(cells);
    skin.AddGroup({"DIG", 6, 8, 100, 100, 10, 1, 1, 0, 0, 0});
    skin.FillStrip(100, 100, 6, 8, 10, 1, 0x40);
    skin.AddElement({"NUM", "DIG", "CELLS"});
    LoadAndCompose();
    // Items 0, 1, 2 at x 7, 23, 39 show the digits 0, 1, 2.
    for (int p = 0; p < 3; ++p) EXPECT_EQ(PictureLuma(7 + 16 * p, 30), 0x40 + 16 * p) << p;
}

TEST_F(Compose, EachPassThatVisitsTheBackgroundCopiesItOverWhatEarlierPassesDrew)
{
    // The background visited in passes 0 and 1. A (one item, behind a
    // hidden element of one item) is visited in pass 0 only, with its lit
    // cell from row 1; B (three items on the background) in passes 0 to 2.
    skin.Put16(6500 + 52, 2);
    skin.AddGroup({"HIDE", 0, 0, 0, 0, 0, 0, 0, 7999, 0, 0});
    skin.AddElement({"X", "HIDE", "BG"});
    skin.AddGroup({"GA", 8, 6, 100, 70, 1, 2, 0, 7999, 0, 0});
    skin.FillStrip(100, 70, 8, 6, 1, 2, 0x60);
    RawSkin::Element a{"A", "GA", "X"};
    a.dx = -20;
    a.dy = -10;
    skin.AddElement(a);
    skin.AddGroup({"GB", 2, 2, 120, 70, 1, 2, 0, 7999, 0, 0});
    skin.FillStrip(120, 70, 2, 2, 1, 2, 0x70);
    RawSkin::Element b{"B", "GB", "BG"};
    b.items = 3;
    b.dx = 10;
    b.dy = 5;
    skin.AddElement(b);
    memset(gSkinPicture, 0x55, 64 * 40 * 2);
    LoadAndCompose();
    const TSkinElement* elementA = &gSkinElements[gSkins[0].first + 2];
    ASSERT_EQ(elementA->itemCount, 1);
    EXPECT_EQ(elementA->centreX, 12) << "A's geometry is worked out in its pass";
    EXPECT_EQ(elementA->centreY, 10);
    EXPECT_EQ(PictureLuma(10, 9), 0x10) << "A's pass 0 is covered by the background of pass 1";
    EXPECT_EQ(PictureLuma(41, 24), 0x70) << "B's pass 2 (unlit cell, row 0) lies on top";
    EXPECT_EQ(PictureLuma(0, 0), 0x10);
    EXPECT_EQ(PictureLuma(63, 39), 0x10);
}

TEST_F(Compose, RadialItemsSitOnTheirCircle)
{
    skin.AddGroup({"RAD", 4, 4, 100, 120, 8, 1, 1, 7999, 0, 1});
    skin.FillStrip(100, 120, 4, 4, 8, 1, 0x40);
    RawSkin::Element r{"RING", "RAD", "BG"};
    r.items = 8;
    r.radial = 1;
    r.radius = 12;
    skin.AddElement(r);
    LoadAndCompose();
    // Centre (32, 20): item 0 to the right, item 2 straight above, 4 left, 6 below.
    const struct {
        int p, x, y;
    } cases[] = {{0, 44, 20}, {2, 32, 8}, {4, 20, 20}, {6, 32, 32}};
    for (const auto& c : cases) {
        int32_t x, y;
        ASSERT_EQ(Yuv2_RadialCentre(1, c.p, &x, &y), 0);
        EXPECT_EQ(x, c.x) << c.p;
        EXPECT_EQ(y, c.y) << c.p;
        EXPECT_EQ(PictureLuma(c.x, c.y), 0x40 + 16 * c.p) << c.p;
    }
    EXPECT_EQ(Yuv2_Sin(64), 65536);
    EXPECT_EQ(Yuv2_Cos(64), 0);
}

TEST_F(Compose, AHoveredRadialItemOfGlyphColumnZeroGetsTheOverlayLeftOfTheStrip)
{
    skin.AddGroup({"RAD", 4, 4, 100, 120, 8, 1, 1, 7999, 0, 1});
    skin.FillStrip(100, 120, 4, 4, 8, 1, 0x40);
    skin.Fill(96, 120, 4, 4, 0xE0, 0x80); // the overlay cell just left of the strip
    RawSkin::Element r{"RING", "RAD", "BG"};
    r.items = 8;
    r.radial = 1;
    r.radius = 12;
    skin.AddElement(r);
    LoadAndCompose();
    EXPECT_EQ(PictureLuma(44, 20), 0x40) << "item 0, not hovered";
    for (int p : {0, 1}) {
        SCOPED_TRACE(p);
        gHover[0] = 1;
        gHover[1] = p;
        ComposeAgain();
        int32_t x, y;
        ASSERT_EQ(Yuv2_RadialCentre(1, p, &x, &y), 0);
        // item 0 (glyph column 0) gets the overlay cell, item 1 the cell of column 0
        EXPECT_EQ(PictureLuma(x, y), p == 0 ? 0xE0 : 0x40);
    }
    gHover[0] = gHover[1] = -1;
}

TEST_F(Compose, AGridWithMoreColumnsThanItemsKeepsItsCellPositions)
{
    // Two items in a grid of four columns: the grid is four cells wide.
    skin.AddGroup({"BTN", 8, 6, 100, 70, 6, 2, 3, 7999, 0, 1});
    skin.FillStrip(100, 70, 8, 6, 7, 2, 0x40);
    RawSkin::Element e{"ROW", "BTN", "BG"};
    e.dx = 1;
    e.dy = -10;
    e.items = 2;
    e.columns = 4;
    e.sx = 2;
    e.source = "IE_Page#ADN";
    skin.AddElement(e);
    LoadAndCompose();
    for (int p : {0, 1}) {
        int32_t x, y;
        ASSERT_EQ(Yuv2_ItemCentre(1, p, &x, &y), 0);
        EXPECT_EQ(x, 18 + 10 * p) << p; // 33 - 38/2 + 8/2 + 10 p
        EXPECT_EQ(y, 10) << p;
        EXPECT_NE(PictureLuma(x, y), 0x10) << "item " << p << " is drawn where it is hit";
    }
}

TEST_F(Compose, RadialElementWithoutItemsDrawsNothing)
{
    AddButtonRow("IE_Page#ADN");
    LoadAndCompose();
    std::vector<uint8_t> without(gSkinPicture, gSkinPicture + 64 * 40 * 2);

    Yuv2_ResetSkins();
    skin.AddGroup({"RAD", 4, 4, 100, 120, 8, 1, 1, 7999, 0, 1});
    RawSkin::Element r{"EMPTY", "RAD", "ROW"}; // visited in the row's passes
    r.items = 0;
    r.radial = 1;
    r.radius = 5;
    skin.AddElement(r);
    LoadAndCompose();
    EXPECT_EQ(std::vector<uint8_t>(gSkinPicture, gSkinPicture + 64 * 40 * 2), without);
}

TEST_F(Compose, TransparentUnitsLeaveWhatLiesBelow)
{
    skin.AddGroup({"TR", 8, 4, 100, 140, 1, 1, 0, 7999, 0, 1});
    skin.Fill(104, 140, 4, 4, 0x99, 0x80); // left half stays 0xFFFF
    RawSkin::Element t{"T", "TR", "BG"};
    t.source = "1#CD";
    skin.AddElement(t);
    LoadAndCompose();
    EXPECT_EQ(PictureLuma(29, 20), 0x10); // centre (32, 20): x 28..31 transparent
    EXPECT_EQ(PictureLuma(33, 20), 0x99);
}

TEST_F(Compose, ElementsFarOutsideThePictureAreClipped)
{
    skin.AddGroup({"BTN", 8, 6, 100, 70, 1, 1, 0, 7999, 0, 1});
    skin.FillStrip(100, 70, 8, 6, 1, 1, 0x40);
    const int offsets[][2] = {{30000, 0}, {-30000, 0}, {0, 30000}, {0, -30000}, {-33, -22}, {31, 19}};
    for (const auto& o : offsets) {
        RawSkin::Element e{"E" + std::to_string(skin.elements), "BTN", "BG"};
        e.dx = o[0];
        e.dy = o[1];
        e.source = "1#CD";
        skin.AddElement(e);
    }
    LoadAndCompose();                   // the sanitizers watch the writes
    EXPECT_EQ(PictureLuma(0, 0), 0x40); // the corner items show their visible part
    EXPECT_EQ(PictureLuma(63, 39), 0x40);
    EXPECT_EQ(PictureLuma(32, 20), 0x10);
}

TEST_F(Compose, SlidingWindowPercentageIsClamped)
{
    // Cells: filled left of the strip (0xE0), empty at it (0x30).
    skin.AddGroup({"BAR", 20, 4, 200, 150, 1, 1, 0, 8006, 0, 0});
    skin.Fill(180, 150, 20, 4, 0xE0, 0x80);
    skin.Fill(200, 150, 20, 4, 0x30, 0x80);
    RawSkin::Element b{"B", "BAR", "BG"};
    b.sx = 1;
    b.source = "IE_percentage#SD";
    skin.AddElement(b);
    const struct {
        int32_t percent;
        int left, right;
    } cases[] = {
        {0, 0x30, 0x30}, {50, 0xE0, 0x30}, {100, 0xE0, 0xE0}, {500, 0xE0, 0xE0}, {-40, 0x30, 0x30},
    };
    ASSERT_EQ(skin.Load(Folder(), kName), 0);
    for (const auto& c : cases) {
        IE_percentage = c.percent;
        ComposeAgain();
        EXPECT_EQ(PictureLuma(23, 20), c.left) << c.percent; // window 22..41
        EXPECT_EQ(PictureLuma(40, 20), c.right) << c.percent;
    }
}

TEST_F(Compose, SliderThumbsUseOnlyRealPairs)
{
    skin.AddGroup({"THUMB", 4, 4, 300, 150, 1, 1, 0, 8011, 1, 0});
    skin.Fill(300, 150, 4, 4, 0x70, 0x80);
    skin.AddGroup({"WILD", 4, 4, 300, 150, 1, 1, 0, 8011, 9, 0});
    RawSkin::Element t{"T", "THUMB", "BG"};
    t.sx = 2;
    t.value = 10; // steps
    skin.AddElement(t);
    RawSkin::Element w{"W", "WILD", "BG"};
    w.sx = 2;
    skin.AddElement(w);
    gPanelPairs[1].value = 8;
    SD_Bar = 1;
    gRedrawRequest = REDRAW_NOW;
    LoadAndCompose();
    // centre 32 + (8 - 5) x 2 = 38; the request cleared SD_Bar.
    EXPECT_EQ(gPanelPairs[1].position, 38);
    EXPECT_EQ(PictureLuma(38, 20), 0x70);
    EXPECT_EQ(SD_Bar, 0);
    EXPECT_EQ(gRedrawRequest, 0);
}

TEST_F(Compose, RedrawServesTheRequestWithoutAnySlider)
{
    AddButtonRow("IE_Page#ADN");
    ASSERT_EQ(skin.Load(Folder(), kName), 0);
    gLastDrawn[0] = gHover[0];
    gLastDrawn[1] = gHover[1];
    gRedrawRequest = REDRAW_NOW;
    Yuv2_Redraw(0);
    EXPECT_EQ(gRedrawRequest, 0);
    EXPECT_EQ(RowLuma(0), 0x40);
}

TEST_F(Compose, RedrawSkipsAFileThatChangedSize)
{
    AddButtonRow("IE_Page#ADN");
    ASSERT_EQ(skin.Load(Folder(), kName), 0);
    Yuv2_Redraw(1);
    ASSERT_EQ(RowLuma(0), 0x40);

    RawSkin grown = skin;
    grown.file.resize(grown.file.size() + 2048, 0x55); // two more rows
    grown.Fill(100, 70, 8, 6, 0x22, 0x80);
    FILE* f = fopen((Folder() + "/" + kName).c_str(), "wb");
    fwrite(grown.file.data(), 1, grown.file.size(), f);
    fclose(f);
    gLastDrawn[0] = gLastDrawn[1] = -2;
    Yuv2_Redraw(1);
    EXPECT_EQ(RowLuma(0), 0x40); // not recomposed from the changed file

    // Same size again: drawn from the file as it now is.
    RawSkin same = skin;
    same.Fill(100, 70, 8, 6, 0x22, 0x80);
    f = fopen((Folder() + "/" + kName).c_str(), "wb");
    fwrite(same.file.data(), 1, same.file.size(), f);
    fclose(f);
    Yuv2_Redraw(1);
    EXPECT_EQ(RowLuma(0), 0x22);
}

// The offset that shifts array indices is A_Num, which a press can set to
// anything: items it pushes beyond the array are simply not drawn.
TEST_F(Compose, AnyArrayOffsetStaysWithinTheArray)
{
    AddButtonRow("IE_Page#ADN");
    IE_Page[0] = 1;
    LoadAndCompose();
    ASSERT_EQ(RowLuma(0), 0x40 + 16 * 1);
    const int32_t offsets[] = {INT32_MAX, INT32_MAX - 2, INT32_MIN, INT32_MIN + 1, 4};
    for (int32_t offset : offsets) {
        ASSERT_EQ(Yuv2_Compose(kName, gSkins[0].first, gSkins[0].count, gSkins[0].largest, offset), 0);
        for (int p = 0; p < 4; ++p) EXPECT_EQ(RowLuma(p), 0x10) << offset << " item " << p;
    }
    ASSERT_EQ(Yuv2_Compose(kName, gSkins[0].first, gSkins[0].count, gSkins[0].largest, -1), 0);
    EXPECT_EQ(RowLuma(0), 0x10);          // entry -1 does not exist
    EXPECT_EQ(RowLuma(1), 0x40 + 16 * 3); // entry 0 is not -1: item 1 is drawn
}

// A skin without elements takes an entry but no runtime slots, so the next
// skin starts at the same slot; its picture must be read at its own width.
TEST_F(Compose, SkinAfterAnEmptyOneKeepsItsOwnPicture)
{
    RawSkin empty(200);
    empty.file[2] = 0x00; // 512 pixel pairs: 1024 pixels wide, 100 rows
    empty.file[3] = 0x02;
    ASSERT_EQ(empty.Load(Folder(), "Empty.YUV2"), 0) << gSkinLastRefusal;
    ASSERT_EQ(gSkins[0].count, 0u);
    FILE* f = fopen((Folder() + "/" + kName).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(skin.file.data(), 1, skin.file.size(), f);
    fclose(f);
    ASSERT_EQ(Yuv2_LoadSkin(10, 3, 0, kName), 0) << gSkinLastRefusal;
    ASSERT_EQ(gSkins[1].first, 0u);
    ASSERT_EQ(Yuv2_Compose(kName, gSkins[1].first, gSkins[1].count, gSkins[1].largest, 0), 0);
    for (int y : {0, 20, 39}) EXPECT_EQ(PictureLuma(0, y), 0x10) << y;
    gLastDrawn[0] = gLastDrawn[1] = -2;
    Yuv2_Redraw(1);
    EXPECT_EQ(gSkinPictureWidth, 64);
    for (int y : {0, 20, 39}) EXPECT_EQ(PictureLuma(0, y), 0x10) << y;
}

// The conversion of one picture pixel worked out from its rule: halves of
// 0xFFFF read as 0x8080, the opacity from the pair's even half, each
// component blended towards white and clamped.
uint32_t RulePixel(const uint8_t* pair, int odd)
{
    uint32_t even = pair[0] | (uint32_t)pair[1] << 8, other = pair[2] | (uint32_t)pair[3] << 8;
    int a = even == 0xFFFF ? 100 : (pair[1] & 3) * 25;
    if (even == 0xFFFF) even = 0x8080;
    if (other == 0xFFFF) other = 0x8080;
    int y = (int)(odd ? other & 255 : even & 255), u = (int)(even >> 8), v = (int)(other >> 8);
    int c[3] = {y + ((v * 292) >> 8) - 146, y - ((v * 149 + u * 101) >> 8) + 125, y + ((u * 516) >> 8) - 258};
    uint32_t out = 0;
    for (int i = 0; i < 3; ++i) {
        int b = (c[i] * (100 - a) + 255 * a) / 100;
        b = b < 0 ? 0 : b > 255 ? 255 : b;
        out = out << 8 | (uint32_t)b;
    }
    return out;
}

// Runs of equal pairs, pairs that differ from the one before in one byte
// only, and runs that go on from one row into the next.
TEST(PictureRow, RunsOfEqualPairsGiveTheirPixelsEveryTime)
{
    const int width = 324;
    std::vector<uint8_t> pairs;
    uint8_t p[4] = {0x40, 0x81, 0x90, 0x7E};
    for (int k = 0; pairs.size() < (size_t)width * 2 * 6; ++k) {
        int run = 1 + k % 5;
        for (int i = 0; i < run; ++i) pairs.insert(pairs.end(), p, p + 4);
        p[k % 4] ^= (uint8_t)(1u << (k % 8)); // one byte of the next pair differs
        if (k % 7 == 3) p[0] = p[1] = 0xFF;   // now and then a transparent even half
    }
    memcpy(gSkinPicture, pairs.data(), pairs.size());
    std::vector<uint32_t> out(width);
    for (int r = 0; r < 6; ++r) {
        Yuv2_PictureRow(r, width, out.data());
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(out[x], RulePixel(&pairs[((size_t)r * width + (x & ~1)) * 2], x & 1)) << x << "," << r;
    }
}

TEST(PictureRow, EveryChromaPairAndOpacityFollowsTheRule)
{
    // All 65,536 chroma pairs (and so every opacity) with varied lumas,
    // then pairs with one or both halves transparent; 256 pairs a row.
    const int width = 512;
    std::vector<uint8_t> pairs;
    for (uint32_t u = 0; u < 256; ++u)
        for (uint32_t v = 0; v < 256; ++v)
            pairs.insert(pairs.end(),
                         {(uint8_t)(u * 37 + v * 11), (uint8_t)u, (uint8_t)(u * 5 + v * 97 + 13), (uint8_t)v});
    for (uint32_t k = 0; k < 512; ++k) {
        uint8_t y = (uint8_t)(k * 29), c = (uint8_t)(k * 53);
        if (k % 3 != 1) pairs.insert(pairs.end(), {0xFF, 0xFF, y, c});
        else pairs.insert(pairs.end(), {y, c, 0xFF, 0xFF});
    }
    ASSERT_LE(pairs.size(), (size_t)SKIN_PICTURE_SIZE);
    memcpy(gSkinPicture, pairs.data(), pairs.size());
    int rows = (int)(pairs.size() / (width * 2));
    std::vector<uint32_t> out(width);
    for (int r = 0; r < rows; ++r) {
        Yuv2_PictureRow(r, width, out.data());
        for (int x = 0; x < width; ++x)
            ASSERT_EQ(out[x], RulePixel(&pairs[((size_t)r * width + (x & ~1)) * 2], x & 1)) << x << "," << r;
    }
}

// The panel image as a redraw leaves it: every pixel the conversion of the
// composed picture, also when only some rows changed since the last
// redraw, when something else drew into the image meanwhile, and when the
// picture's size changed.
TEST(DrawBitmap, EveryRedrawShowsTheWholeComposedPicture)
{
    std::unique_ptr<TTavlinX> form(new TTavlinX(nullptr));
    gViewerForm = form.get();
    TBitmap* bitmap = form->Image1->Picture()->Bitmap();
    uint32_t seed = 3;
    auto next = [&]() { return (uint8_t)((seed = seed * 1103515245u + 12345u) >> 16); };
    auto check = [&](int w, int h, const char* what) {
        SCOPED_TRACE(what);
        ASSERT_EQ(bitmap->Width(), w);
        ASSERT_EQ(bitmap->Height(), h);
        for (int y = 0; y < h; ++y) {
            const uint32_t* row = (const uint32_t*)static_cast<const TBitmap*>(bitmap)->ScanLine(y);
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(row[x] & 0xFFFFFF, RulePixel(&gSkinPicture[((size_t)y * w + (x & ~1)) * 2], x & 1))
                    << x << "," << y;
        }
    };
    int w = 64, h = 40;
    for (int i = 0; i < w * h * 2; ++i) gSkinPicture[i] = next();
    Yuv2_DrawBitmap(h, w, "Draw.YUV2");
    check(w, h, "first redraw");
    for (int y : {0, 17, 39})
        for (int x = 10; x < 20; ++x) gSkinPicture[((size_t)y * w + x) * 2] ^= 0x5A;
    Yuv2_DrawBitmap(h, w, "Draw.YUV2");
    check(w, h, "three rows changed");
    Yuv2_DrawBitmap(h, w, "Draw.YUV2");
    check(w, h, "nothing changed");
    for (int y = 5; y < 9; ++y) memset(bitmap->ScanLine(y), 0x33, (size_t)w * 4);
    Yuv2_DrawBitmap(h, w, "Draw.YUV2");
    check(w, h, "the image drawn over meanwhile");
    bitmap->Canvas()->Brush()->SetColor(clWhite);
    bitmap->Canvas()->FillRect(Rect(0, 0, w, h));
    Yuv2_DrawBitmap(h, w, "Draw.YUV2");
    check(w, h, "the canvas filled meanwhile");
    w = 62;
    h = 44;
    for (int i = 0; i < w * h * 2; ++i) gSkinPicture[i] = next();
    Yuv2_DrawBitmap(h, w, "Draw.YUV2");
    check(w, h, "another size");
    gViewerForm = nullptr;
}

// A redraw can find that Image1 already shows what it would compose:
// whatever changed between two redraws, each leaves the composed picture,
// the image and the panel state as a redraw that composes again does. The
// steps change one thing a composition reads (or nothing) and redraw
// twice; the same steps run again from the same start with the image
// drawn once more before every redraw, which has every redraw compose.
TEST_F(Compose, EveryRedrawLeavesWhatComposingAgainLeaves)
{
    std::unique_ptr<TTavlinX> form(new TTavlinX(nullptr));
    gViewerForm = form.get();
    TBitmap* bitmap = form->Image1->Picture()->Bitmap();
    AddButtonRow("IE_Page#ADN");         // element 1: lit by IE_Page2, items hidden by -1
    skin.Fill(92, 70, 8, 6, 0xE0, 0x80); // the hover overlay cell
    // Two thumbs on slider pair 1: a slider request puts each where its own
    // centre says; the next composition draws both where the last one went.
    skin.AddGroup({"THUMB", 4, 4, 300, 150, 1, 1, 0, 8011, 1, 0});
    skin.Fill(300, 150, 4, 4, 0x70, 0x80);
    RawSkin::Element t1{"T1", "THUMB", "BG"};
    t1.sx = 2;
    t1.value = 10;
    t1.dy = 8;
    skin.AddElement(t1);
    RawSkin::Element t2 = t1;
    t2.name = "T2";
    t2.dx = 10;
    t2.dy = 14;
    skin.AddElement(t2);
    RawSkin other = skin; // the same file with another background
    other.Fill(0, 22, 64, 40, 0x20, 0x80);

    const struct {
        const char* what;
        std::function<void()> change;
    } steps[] = {
        {"first redraw", [] {}},
        {"nothing changed", [] {}},
        {"a bound target", [] { IE_Page2 = 2; }},
        {"an item of a bound array hidden", [] { IE_Page[1] = -1; }},
        {"the pointer over an item", [] { gHover[0] = 1, gHover[1] = 3; }},
        {"a slider request", [] { gPanelPairs[1].value = 8, gRedrawRequest = REDRAW_SLIDERS; }},
        {"nothing changed after it", [] {}},
        {"the slider pair moved", [] { gPanelPairs[1].position = 20; }},
        {"the composed picture written over", [] { memset(gSkinPicture, 0x55, 64 * 40 * 2); }},
        {"the image drawn over", [&] { bitmap->Canvas()->FillRect(Rect(0, 0, 64, 40)); }},
        {"the file's pixels changed",
         [&] { Yuv2_SetSkinMemory(kName, other.file.data(), (uint32_t)other.file.size()); }},
        {"a hold", [] { gHoldActive = 1, gHoldCode = HOLD_DAY; }},
        {"the pointer gone", [] { gHover[0] = gHover[1] = -1; }},
    };
    auto run = [&](bool composeEach) {
        Yuv2_SetSkinMemory(nullptr, nullptr, 0);
        Yuv2_ResetSkins();
        Yuv2_ResetMouse();
        Skin_ClearVariables();
        memset(gPanelPairs, 0, sizeof gPanelPairs);
        bitmap->SetSize(0, 0);
        std::vector<std::vector<uint8_t>> states;
        EXPECT_EQ(skin.Load(Folder(), kName), 0);
        for (const auto& step : steps) {
            step.change();
            for (int i = 0; i < 2; ++i) {
                if (composeEach) Yuv2_DrawBitmap(gSkinPictureHeight, gSkinPictureWidth, kName);
                Yuv2_Redraw(1);
                std::vector<uint8_t> state(gSkinPicture, gSkinPicture + 64 * 40 * 2);
                EXPECT_EQ(bitmap->Width(), 64);
                for (int y = 0; y < bitmap->Height(); ++y) {
                    const uint8_t* row = (const uint8_t*)static_cast<const TBitmap*>(bitmap)->ScanLine(y);
                    state.insert(state.end(), row, row + bitmap->Width() * 4);
                }
                const uint8_t* words = (const uint8_t*)gPanelPairs;
                state.insert(state.end(), words, words + sizeof gPanelPairs);
                state.insert(state.end(), (const uint8_t*)&SD_Bar, (const uint8_t*)(&SD_Bar + 1));
                state.insert(state.end(), (const uint8_t*)gSkinElements, (const uint8_t*)(gSkinElements + 4));
                states.push_back(state);
            }
        }
        Yuv2_SetSkinMemory(nullptr, nullptr, 0);
        return states;
    };
    std::vector<std::vector<uint8_t>> reused = run(false), composed = run(true);
    ASSERT_EQ(reused.size(), composed.size());
    for (size_t i = 0; i < reused.size(); ++i)
        EXPECT_TRUE(reused[i] == composed[i]) << steps[i / 2].what << ", redraw " << i % 2 + 1;
    gViewerForm = nullptr;
}

// Glyph copies out of the file picture and onto the composed picture, at
// random places in and around both: every unit as the rules say (units
// outside the file transparent; transparent units and units outside the
// picture not written).
TEST_F(Compose, CopiesOfRectanglesFollowTheUnitRules)
{
    for (int y = 22; y < skin.rows; ++y)
        for (int x = 0; x < RawSkin::kWidth; ++x)
            skin.SetUnit(x, y, (uint8_t)(x * 7 + y), (x + y) % 9 == 0 ? 0xFF : 0x80);
    for (int y = 22; y < skin.rows; y += 5)
        for (int x = 0; x < RawSkin::kWidth; x += 3) skin.SetUnit(x, y, 0xFF, 0xFF); // transparent units
    LoadAndCompose();
    const int fw = RawSkin::kWidth, fh = skin.rows, pw = gSkinPictureWidth, ph = gSkinPictureHeight;
    uint32_t seed = 11;
    auto next = [&](int n) { return (int)(((seed = seed * 1103515245u + 12345u) >> 16) % (uint32_t)n); };
    for (int n = 0; n < 300; ++n) {
        int w = 1 + next(90), h = 1 + next(60);
        TSkinRect src = Yuv2_MakeRect(next(fw + 200) - 100, next(fh + 120) - 60, 0, 0);
        ASSERT_EQ(Yuv2_CopyRect(&src, w, h), 0);
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) {
                int x = src.left + i, y = src.top + j;
                bool inside = x >= 0 && y >= 0 && x < fw && y < fh;
                const uint8_t* work = &gSkinWork[((size_t)j * w + i) * 2];
                ASSERT_EQ(work[0], inside ? skin.Unit(x, y)[0] : 0xFF) << n << ": " << i << "," << j;
                ASSERT_EQ(work[1], inside ? skin.Unit(x, y)[1] : 0xFF) << n << ": " << i << "," << j;
            }
        std::vector<uint8_t> before(gSkinPicture, gSkinPicture + (size_t)pw * ph * 2);
        TSkinRect dst = Yuv2_MakeRect(next(pw + 2 * w) - w, next(ph + 2 * h) - h, 0, 0);
        Yuv2_CopyRectTransparent(&dst, w, h);
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) {
                int i = x - dst.left, j = y - dst.top;
                const uint8_t* want = &before[((size_t)y * pw + x) * 2];
                if (i >= 0 && j >= 0 && i < w && j < h) {
                    const uint8_t* work = &gSkinWork[((size_t)j * w + i) * 2];
                    if (!(work[0] == 0xFF && work[1] == 0xFF)) want = work;
                }
                const uint8_t* got = &gSkinPicture[((size_t)y * pw + x) * 2];
                ASSERT_TRUE(got[0] == want[0] && got[1] == want[1]) << n << ": " << x << "," << y;
            }
    }
}

TEST(YuvToRgb, ConversionTable)
{
    const struct {
        uint32_t pair;
        int odd, opacity;
        uint32_t rgb;
    } cases[] = {
        {0x80808080, 0, 0, 0x808080},  {0x80808080, 1, 0, 0x808080}, {0x80808080, 0, 100, 0xFFFFFF},
        {0x80808080, 0, 50, 0xBFBFBF}, {0x80108000, 0, 0, 0x000000}, // Y 0 clamps below
        {0x80FF80FF, 1, 0, 0xFFFFFF},
    };
    for (const auto& c : cases) EXPECT_EQ(Yuv2_YuvToRgb(c.pair, c.odd, 255, c.opacity), c.rgb) << std::hex << c.pair;
}

TEST(PictureRow, TransparentHalvesBecomeWhiteOrNeutral)
{
    gSkinPictureWidth = 4;
    gSkinPictureHeight = 1;
    const uint8_t units[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x80, 0xFF, 0xFF};
    memcpy(gSkinPicture, units, sizeof units);
    uint32_t row[4];
    Yuv2_PictureRow(0, 4, row);
    EXPECT_EQ(row[0], 0xFFFFFFu); // a transparent pair draws white
    EXPECT_EQ(row[1], 0xFFFFFFu);
    EXPECT_EQ(row[2], 0x808080u); // the odd half alone: Y 0x80 at the even half's opacity 0
    EXPECT_EQ(row[3], 0x808080u);
}

// Every chroma pair at lumas across the range and every opacity step, with
// transparent halves among them, converts as Yuv2_YuvToRgb converts its
// pixels, also where a pair runs across the end of a row (odd widths).
TEST(PictureRow, EveryPixelIsItsPairsConversion)
{
    auto unitAt = [](uint32_t k, int odd) -> uint16_t {
        if (!odd && k % 97 == 0) return 0xFFFF;
        if (odd && k % 89 == 0) return 0xFFFF;
        uint32_t u = k & 0xFF, v = k >> 8;
        uint32_t y = odd ? (k * 13 + 5) & 0xFF : (k * 7) & 0xFF;
        return (uint16_t)(y | ((odd ? v : u) << 8));
    };
    for (uint32_t k = 0; k < 65536; ++k)
        for (int odd = 0; odd < 2; ++odd) {
            uint16_t unit = unitAt(k, odd);
            gSkinPicture[k * 4 + odd * 2] = (uint8_t)unit;
            gSkinPicture[k * 4 + odd * 2 + 1] = (uint8_t)(unit >> 8);
        }
    for (int32_t width : {512, 511, 324}) {
        SCOPED_TRACE(width);
        std::vector<uint32_t> row((size_t)width);
        int32_t rows = (int32_t)(131072 / (uint32_t)width);
        for (int32_t r = 0; r < rows; ++r) {
            Yuv2_PictureRow(r, width, row.data());
            for (int32_t c = 0; c < width; ++c) {
                uint32_t k = ((uint32_t)r * (uint32_t)width + (uint32_t)c) / 2;
                uint16_t even = unitAt(k, 0), odd = unitAt(k, 1);
                int32_t a = even == 0xFFFF ? 100 : ((even >> 8) & 3) * 25;
                uint32_t pair =
                    (uint32_t)(even == 0xFFFF ? 0x8080 : even) | ((uint32_t)(odd == 0xFFFF ? 0x8080 : odd) << 16);
                uint32_t want = Yuv2_YuvToRgb(pair, c & 1, 255, a);
                if (row[(size_t)c] != want) {
                    ADD_FAILURE() << "row " << r << " column " << c << std::hex << " pair " << pair << " got "
                                  << row[(size_t)c] << " want " << want;
                    return;
                }
            }
        }
    }
}

} // namespace
