// Writer to loader: the project's key panel description, written by the
// skin writer and loaded by the viewer, gives back the description's
// groups, elements, positions and bindings; the file the build generates
// loads the same way.
#include "SkinFixture.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kKeyForm[] = "TavlinKeyForm_02030157.YUV2";

skinwrite::Description ProjectDescription()
{
    std::string text, error;
    skinwrite::Description d;
    EXPECT_TRUE(skinwrite::ReadFile(std::string(TAVLIN_SKIN_SOURCES) + "/keypanel.skin", &text));
    EXPECT_TRUE(skinwrite::ParseDescription(text, &d, &error)) << error;
    return d;
}

// The item rectangle the description asks for, from its "at" or "centre".
void ExpectPlacedAsDescribed(const skinwrite::ElementDesc& e, const skinwrite::GroupDesc& g, const TSkinElement& got)
{
    if (e.place == skinwrite::ElementDesc::CENTRE) {
        EXPECT_EQ(got.centreX, e.px);
        EXPECT_EQ(got.centreY, e.py);
    } else if (e.place == skinwrite::ElementDesc::AT) {
        // The first item's top-left, as the viewer lays the grid out.
        int w = g.w, h = g.h, left, top;
        if (e.items >= 2 && e.columns > 0) {
            int c = e.columns, rows = (e.items + e.extra + c - 1) / c;
            int gw = (c - 1) * e.spacingX + w * c, gh = (rows - 1) * e.spacingY + h * rows;
            left = got.centreX - (gw >> 1);
            top = got.centreY - (gh >> 1);
        } else {
            left = got.centreX - (w >> 1);
            top = got.centreY - (h >> 1);
        }
        EXPECT_EQ(left, e.px);
        EXPECT_EQ(top, e.py);
        EXPECT_EQ(left & 1, 0) << "items start on a pixel pair";
    } else {
        EXPECT_EQ(got.offsetX, e.px);
        EXPECT_EQ(got.offsetY, e.py);
    }
}

void ExpectTablesEqualDescription(const skinwrite::Description& d, const skinwrite::Skin& skin)
{
    ASSERT_EQ(gSkinCount, 1u);
    ASSERT_EQ(gSkins[0].count, (uint32_t)d.elements.size());
    int largest = 0;
    for (const skinwrite::ElementDesc& e : d.elements) largest = std::max(largest, e.items);
    EXPECT_EQ(gSkins[0].largest, largest);
    ASSERT_EQ(gSkinLayout.groupCount, (int16_t)d.groups.size());

    for (size_t i = 0; i < d.groups.size(); ++i) {
        SCOPED_TRACE(d.groups[i].name);
        const TSkinGroup& g = gSkinLayout.groups[i];
        const skinwrite::GroupDesc& want = d.groups[i];
        EXPECT_EQ(std::string(g.name), want.name);
        EXPECT_EQ(g.itemWidth, want.w);
        EXPECT_EQ(g.itemHeight, want.h);
        EXPECT_EQ(g.kind, want.kind);
        EXPECT_EQ(g.itemId, want.id);
        EXPECT_EQ(g.minLevel, want.level);
        EXPECT_EQ(g.glyphColumns, want.art == "none" ? 0 : want.columns);
        EXPECT_EQ(g.glyphRows, want.rows);
        EXPECT_EQ(g.glyphStep, want.step);
        // Strips lie inside the picture and start on a pixel pair.
        EXPECT_EQ(g.stripX, skin.groups[i].stripX);
        EXPECT_EQ(g.stripY, skin.groups[i].stripY);
        EXPECT_EQ(g.stripX & 1, 0);
        if (want.art != "none") {
            EXPECT_GE(g.stripY, 22);
            EXPECT_LE(g.stripY + g.glyphRows * g.itemHeight, gSkins[0].rows);
            EXPECT_LE(g.stripX + g.glyphColumns * g.itemWidth, gSkins[0].width);
            EXPECT_GE(g.stripX - (want.hover ? g.itemWidth : 0), 0);
        }
    }

    for (size_t i = 0; i < d.elements.size(); ++i) {
        const skinwrite::ElementDesc& want = d.elements[i];
        SCOPED_TRACE(want.name);
        const TSkinElement& got = gSkinElements[i];
        size_t gi = 0;
        while (gi < d.groups.size() && d.groups[gi].name != want.group) ++gi;
        ASSERT_LT(gi, d.groups.size());
        const skinwrite::GroupDesc& g = d.groups[gi];
        EXPECT_EQ(got.group, (int16_t)gi);
        EXPECT_EQ(got.itemWidth, g.w);
        EXPECT_EQ(got.itemHeight, g.h);
        EXPECT_EQ(got.kind, g.kind);
        EXPECT_EQ(got.itemId, g.id);
        EXPECT_EQ(got.minLevel, g.level);
        EXPECT_EQ(got.itemCount, want.items);
        EXPECT_EQ(got.columns, want.columns);
        EXPECT_EQ(got.extraCells, want.extra);
        EXPECT_EQ(got.spacingX, want.spacingX);
        EXPECT_EQ(got.spacingY, want.spacingY);
        EXPECT_EQ(got.valueOffset, want.value);
        EXPECT_EQ(got.radial, want.radial);
        EXPECT_EQ(std::string(got.source), want.source);
        EXPECT_EQ(std::string(got.target), want.target);
        EXPECT_EQ(got.lit, 1);
        if (want.ref == "#Vout") {
            EXPECT_EQ(got.reference, -1);
            EXPECT_EQ(got.centreX, g.w / 2);
            EXPECT_EQ(got.centreY, g.h / 2);
        } else {
            size_t ri = 0;
            while (ri < i && d.elements[ri].name != want.ref) ++ri;
            ASSERT_LT(ri, i);
            EXPECT_EQ(got.reference, (int32_t)ri);
            EXPECT_EQ(got.refCentreX, gSkinElements[ri].centreX);
            EXPECT_EQ(got.refCentreY, gSkinElements[ri].centreY);
            EXPECT_EQ(got.refItemCount, gSkinElements[ri].itemCount);
            ExpectPlacedAsDescribed(want, g, got);
        }
        EXPECT_EQ(got.centreX, skin.elements[i].centreX);
        EXPECT_EQ(got.centreY, skin.elements[i].centreY);
        // Every variable the panel binds is a table key (none falls to the dummy).
        char s[3], t[3];
        Yuv2_SuffixLetters(want.source.c_str(), s);
        Yuv2_SuffixLetters(want.target.c_str(), t);
        if (s[0] == 'S' || s[0] == 'A') {
            EXPECT_EQ(got.sourceVar, Skin_FindVariable(want.source.c_str()));
            EXPECT_NE(got.sourceVar, Skin_DummyVariable());
        } else {
            EXPECT_EQ(got.sourceVar, nullptr);
        }
        if (t[0] != '0' && t[1] != '0') {
            EXPECT_EQ(got.targetVar, Skin_FindVariable(want.target.c_str()));
            EXPECT_NE(got.targetVar, Skin_DummyVariable());
        } else {
            EXPECT_EQ(got.targetVar, nullptr);
        }
    }
}

TEST(SkinRoundTrip, ProjectDescriptionLoadsAsDescribed)
{
    skinwrite::Description d = ProjectDescription();
    skinwrite::Skin skin;
    std::string error;
    ASSERT_TRUE(skinwrite::BuildSkin(d, &skin, &error)) << error;
    WriteBytes(SkinTempDir() + "/" + kKeyForm, skin.file);
    Yuv2_ResetSkins();
    UseSkinFolder(SkinTempDir());
    ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, kKeyForm), 0) << gSkinLastRefusal;
    EXPECT_EQ(gSkins[0].width, skin.width);
    EXPECT_EQ(gSkins[0].rows, skin.rows);
    ExpectTablesEqualDescription(d, skin);
}

// The small skin's layout block, byte for byte where the writer put it.
TEST(SkinRoundTrip, LayoutRowsCarryTheBlock)
{
    skinwrite::Skin skin;
    std::vector<uint8_t> file = BuildSkinFile(kSmallSkin, &skin);
    ASSERT_FALSE(file.empty());
    static TSkinLayout layout;
    ASSERT_EQ(Yuv2_CheckSkin(file.data(), (uint32_t)file.size(), 0, &layout), SKIN_ACCEPTED);
    EXPECT_EQ(layout.groupCount, 5);
    EXPECT_EQ(layout.elementCount, 5);
    EXPECT_STREQ(layout.elements[2].name, "R1");
    EXPECT_STREQ(layout.elements[2].reference, "B1");
    EXPECT_EQ(layout.elements[2].itemCount, 2);
    EXPECT_EQ(layout.elements[2].columns, 2);
    EXPECT_EQ(layout.elements[2].spacingX, 2);
    EXPECT_STREQ(layout.elements[2].source, "IE_Page#ADN");
    EXPECT_EQ(layout.groups[2].glyphStep, 3);
    EXPECT_EQ(layout.groups[4].kind, 8005);
    EXPECT_EQ(layout.groups[4].itemId, 1);
    // Row r of the block is the start of pixel row r.
    for (int r = 0; r < 22; ++r)
        EXPECT_EQ(memcmp((const uint8_t*)&layout + r * 1024, &file[16 + (size_t)r * 1024], 1024), 0) << r;
}

// The skin the build writes into the Windows root loads whole.
TEST(SkinRoundTrip, GeneratedSkinLoads)
{
    skinwrite::Description d = ProjectDescription();
    skinwrite::Skin skin;
    std::string error;
    ASSERT_TRUE(skinwrite::BuildSkin(d, &skin, &error)) << error;
    Yuv2_ResetSkins();
    UseSkinFolder(std::string(TAVLIN_WINROOT) + "/system32");
    ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, kKeyForm), 0) << gSkinLastRefusal;
    EXPECT_EQ(gSkins[0].fileSize, (uint32_t)skin.file.size());
    ExpectTablesEqualDescription(d, skin);

    // The form background next to it: a 24-bit 1010 x 656 bitmap.
    FILE* f = fopen((std::string(TAVLIN_WINROOT) + "/system32/TavlinMainForm_02030157.bmp").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    uint8_t h[54];
    ASSERT_EQ(fread(h, 1, sizeof h, f), sizeof h);
    fclose(f);
    EXPECT_EQ(h[0], 'B');
    EXPECT_EQ(h[1], 'M');
    EXPECT_EQ(h[18] | (h[19] << 8), 1010);
    EXPECT_EQ(h[22] | (h[23] << 8), 656);
    EXPECT_EQ(h[28], 24);
}

// The writer refuses what the viewer would refuse or draw apart.
struct BadDescription {
    const char* what;
    const char* lines;
    const char* error;
};

const BadDescription kBad[] = {
    {"reference to a later element", "element A group=BTN ref=B at=4,4\nelement B group=BTN ref=BG at=4,4",
     "not an earlier element"},
    {"#Vout past the background", "element A group=BG ref=#Vout", "only the first element"},
    {"name of 16 characters", "element ABCDEFGHIJKLMNOP group=BTN ref=BG at=4,4", "1 to 15 characters"},
    {"variable string of 17 characters", "element A group=BTN ref=BG at=4,4 source=ABCDEFGHIJKLMN#SD", "at most 16"},
    {"unknown group", "element A group=NOPE ref=BG at=4,4", "unknown group"},
    {"odd left edge", "element A group=BTN ref=BG at=5,4", "even pixel"},
    {"more columns than items", "element A group=BTN ref=BG at=4,4 items=2 columns=3", "more columns"},
    {"two places", "element A group=BTN ref=BG at=4,4 centre=10,10", "exclude each other"},
};

TEST(SkinWriter, RefusesBadDescriptions)
{
    const std::string head = "skin width=512\n"
                             "group BG size=64x40 kind=7999 level=0 art=background\n"
                             "group BTN size=16x10 kind=7999 level=1 glyphs=2x1 art=buttons labels=A\n"
                             "element BG group=BG ref=#Vout\n";
    for (const BadDescription& c : kBad) {
        SCOPED_TRACE(c.what);
        skinwrite::Description d;
        skinwrite::Skin skin;
        std::string error;
        bool ok =
            skinwrite::ParseDescription(head + c.lines + "\n", &d, &error) && skinwrite::BuildSkin(d, &skin, &error);
        EXPECT_FALSE(ok);
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

} // namespace
