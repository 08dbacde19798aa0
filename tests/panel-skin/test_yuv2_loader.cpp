// Skin loading: every check refuses a damaged copy of a good file whole,
// references resolve only to one earlier record, variables bind with their
// counts, and a file that changes size on disk is noticed.
#include "SkinFixture.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace {

const char kName[] = "Test.YUV2";

class Yuv2Loader : public ::testing::Test {
protected:
    void SetUp() override
    {
        Yuv2_ResetSkins();
        UseSkinFolder(SkinTempDir());
        good = BuildSkinFile(kSmallSkin, &skin);
        ASSERT_FALSE(good.empty());
    }

    void Put(const std::vector<uint8_t>& bytes, const char* name = kName)
    {
        WriteBytes(SkinTempDir() + "/" + name, bytes);
    }

    std::vector<uint8_t> good;
    skinwrite::Skin skin;
};

TEST_F(Yuv2Loader, GoodFileLoads)
{
    Put(good);
    ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), 0);
    EXPECT_EQ(gSkinLastRefusal, SKIN_ACCEPTED);
    ASSERT_EQ(gSkinCount, 1u);
    EXPECT_EQ(gSkins[0].x, 0);
    EXPECT_EQ(gSkins[0].y, 3);
    EXPECT_STREQ(gSkins[0].name, kName);
    EXPECT_EQ(gSkins[0].first, 0u);
    EXPECT_EQ(gSkins[0].count, 5u);
    EXPECT_EQ(gSkins[0].largest, 2);
    EXPECT_EQ(gSkins[0].fileSize, (uint32_t)good.size());
    EXPECT_EQ(gSkins[0].width, 512);
    EXPECT_EQ(gSkins[0].rows, skin.rows);
    EXPECT_EQ(gSkinElementTotal, 5u);
    // The name map: groups first, then elements, the rest empty.
    EXPECT_STREQ(gSkinNames[0].name, "BG");
    EXPECT_EQ(gSkinNames[0].kind, 0);
    EXPECT_STREQ(gSkinNames[5].name, "BG");
    EXPECT_EQ(gSkinNames[5].kind, 1);
    EXPECT_EQ(gSkinNames[9].index, 4u);
    EXPECT_EQ(gSkinNames[10].name[0], 0);
}

// One row per check; each damages a copy of the writer's good file.
struct RefusalCase {
    const char* what;
    std::function<void(std::vector<uint8_t>&, const skinwrite::Skin&)> damage;
    TSkinRefusal expected;
    uint32_t first; // runtime slot the skin would start at
};

const RefusalCase kRefusals[] = {
    {"untouched", [](std::vector<uint8_t>&, const skinwrite::Skin&) {}, SKIN_ACCEPTED, 0},
    {"picture narrower than 512", [](std::vector<uint8_t>& f, const skinwrite::Skin&) { f[2] = 255, f[3] = 0; },
     SKIN_REFUSE_WIDTH, 0},
    {"odd background width",
     [](std::vector<uint8_t>& f, const skinwrite::Skin&) { PutLayout16(f, GroupAt(0, 16), 63); }, SKIN_REFUSE_WIDTH, 0},
    {"21 rows", [](std::vector<uint8_t>& f, const skinwrite::Skin&) { f.resize(16 + 21 * 1024); }, SKIN_REFUSE_ROWS, 0},
    {"header only", [](std::vector<uint8_t>& f, const skinwrite::Skin&) { f.resize(10); }, SKIN_REFUSE_ROWS, 0},
    {"over 2 MiB", [](std::vector<uint8_t>& f, const skinwrite::Skin&) { f.resize(2097152 + 2, 0x80); },
     SKIN_REFUSE_FILE_SIZE, 0},
    {"65 groups", [](std::vector<uint8_t>& f, const skinwrite::Skin&) { PutLayout16(f, 8, 65); },
     SKIN_REFUSE_GROUP_COUNT, 0},
    {"negative group count", [](std::vector<uint8_t>& f, const skinwrite::Skin&) { PutLayout16(f, 8, -1); },
     SKIN_REFUSE_GROUP_COUNT, 0},
    {"98 elements", [](std::vector<uint8_t>& f, const skinwrite::Skin&) { PutLayout16(f, 10, 98); },
     SKIN_REFUSE_ELEMENT_COUNT, 0},
    {"negative element count", [](std::vector<uint8_t>& f, const skinwrite::Skin&) { PutLayout16(f, 10, -3); },
     SKIN_REFUSE_ELEMENT_COUNT, 0},
    {"161 names",
     [](std::vector<uint8_t>& f, const skinwrite::Skin&) { PutLayout16(f, 8, 64), PutLayout16(f, 10, 97); },
     SKIN_REFUSE_NAME_COUNT, 0},
    {"runtime table full", [](std::vector<uint8_t>&, const skinwrite::Skin&) {}, SKIN_REFUSE_ELEMENT_ROOM, 140},
    {"#Vout with a later group",
     [](std::vector<uint8_t>& f, const skinwrite::Skin&) { PutLayoutName(f, RecordAt(0, 16), "BTN"); },
     SKIN_REFUSE_GROUP_MATCH, 0},
    {"background below the last row",
     [](std::vector<uint8_t>& f, const skinwrite::Skin& s) { PutLayout16(f, GroupAt(0, 22), s.rows - 40 + 1); },
     SKIN_REFUSE_BACKGROUND, 0},
    {"background of no rows",
     [](std::vector<uint8_t>& f, const skinwrite::Skin&) { PutLayout16(f, GroupAt(0, 18), 0); }, SKIN_REFUSE_BACKGROUND,
     0},
    {"background wider than the picture",
     [](std::vector<uint8_t>& f, const skinwrite::Skin&) { PutLayout16(f, GroupAt(0, 16), 514); },
     SKIN_REFUSE_BACKGROUND, 0},
    {"glyph cell beyond the work buffer",
     [](std::vector<uint8_t>& f, const skinwrite::Skin&) {
         PutLayout16(f, GroupAt(4, 16), 400), PutLayout16(f, GroupAt(4, 18), 250);
     },
     SKIN_REFUSE_CELL, 0},
    {"negative cell height",
     [](std::vector<uint8_t>& f, const skinwrite::Skin&) { PutLayout16(f, GroupAt(1, 18), -2); }, SKIN_REFUSE_CELL, 0},
};

TEST_F(Yuv2Loader, RefusalTable)
{
    for (const RefusalCase& c : kRefusals) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> file = good;
        c.damage(file, skin);
        EXPECT_EQ(Yuv2_CheckSkin(file.data(), (uint32_t)file.size(), c.first, nullptr), c.expected);

        // Loading it from disk: refused whole, every table as it was.
        Yuv2_ResetSkins();
        gSkinElementTotal = c.first;
        static TSkinElement elements[SKIN_ELEMENT_ROOM];
        static TSkinName names[SKIN_NAME_ROOM];
        static TSkinEntry entries[SKIN_ENTRY_ROOM];
        memcpy(elements, gSkinElements, sizeof elements);
        memcpy(names, gSkinNames, sizeof names);
        memcpy(entries, gSkins, sizeof entries);
        Put(file);
        int32_t result = Yuv2_LoadSkin(0, 3, 0, kName);
        EXPECT_EQ(gSkinLastRefusal, c.expected);
        if (c.expected == SKIN_ACCEPTED) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(gSkinCount, 1u);
            continue;
        }
        EXPECT_EQ(result, -1);
        EXPECT_EQ(gSkinCount, 0u);
        EXPECT_EQ(gSkinElementTotal, c.first);
        EXPECT_EQ(memcmp(elements, gSkinElements, sizeof elements), 0);
        EXPECT_EQ(memcmp(names, gSkinNames, sizeof names), 0);
        EXPECT_EQ(memcmp(entries, gSkins, sizeof entries), 0);
    }
}

// Damage to one record's names: the skin loads, that record's slot stays
// empty and every other record is built in its own slot.
struct SkippedCase {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
    std::vector<uint32_t> unbuilt; // record numbers
};

const SkippedCase kSkipped[] = {
    {"untouched", [](std::vector<uint8_t>&) {}, {}},
    {"group name of 16 characters",
     [](std::vector<uint8_t>& f) {
         PutLayoutName(f, GroupAt(2, 0), "ROWROWROWROWROWR");
         PutLayoutName(f, RecordAt(2, 16), "ROWROWROWROWROWR");
     },
     {}},
    {"element name of 16 characters",
     [](std::vector<uint8_t>& f) { PutLayoutName(f, RecordAt(3, 0), "HIDDENHIDDENHIDD"); },
     {}},
    {"reference name of 16 characters",
     [](std::vector<uint8_t>& f) {
         PutLayoutName(f, RecordAt(1, 0), "B1B1B1B1B1B1B1B1");
         PutLayoutName(f, RecordAt(2, 32), "B1B1B1B1B1B1B1B1");
     },
     {}},
    {"group not found", [](std::vector<uint8_t>& f) { PutLayoutName(f, RecordAt(1, 16), "NOPE"); }, {1}},
    {"group found twice", [](std::vector<uint8_t>& f) { PutLayoutName(f, GroupAt(2, 0), "BTN"); }, {1, 2}},
    {"reference not found", [](std::vector<uint8_t>& f) { PutLayoutName(f, RecordAt(2, 32), "NOPE"); }, {2}},
    {"reference found twice", [](std::vector<uint8_t>& f) { PutLayoutName(f, RecordAt(4, 0), "B1"); }, {2}},
    {"reference to itself", [](std::vector<uint8_t>& f) { PutLayoutName(f, RecordAt(2, 32), "R1"); }, {2}},
    {"reference to a later record", [](std::vector<uint8_t>& f) { PutLayoutName(f, RecordAt(1, 32), "P1"); }, {1}},
};

TEST_F(Yuv2Loader, ARecordThatCannotBeResolvedIsSkippedAlone)
{
    for (const SkippedCase& c : kSkipped) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> file = good;
        c.damage(file);
        EXPECT_EQ(Yuv2_CheckSkin(file.data(), (uint32_t)file.size(), 0, nullptr), SKIN_ACCEPTED);
        Yuv2_ResetSkins();
        // what an earlier skin left in the slots must not show through
        for (TSkinElement& e : gSkinElements) e.lit = 1, e.itemCount = 3;
        Put(file);
        ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), 0);
        ASSERT_EQ(gSkinCount, 1u);
        EXPECT_EQ(gSkins[0].count, 5u) << "the entry spans every record";
        EXPECT_EQ(gSkinElementTotal, 5u);
        for (uint32_t r = 0; r < 5; ++r) {
            bool skipped = std::find(c.unbuilt.begin(), c.unbuilt.end(), r) != c.unbuilt.end();
            EXPECT_EQ(gSkinElements[r].lit, skipped ? 0 : 1) << "record " << r;
            if (skipped) {
                EXPECT_EQ(gSkinElements[r].itemCount, 0) << "record " << r;
            }
        }
        EXPECT_EQ(Yuv2_Compose(kName, 0, gSkins[0].count, gSkins[0].largest, 0), 0) << "the panel is still drawn";
    }
}

// Loading beyond the file: missing, unopenable names and the registry.
TEST_F(Yuv2Loader, FilesAndRegistration)
{
    Put(good);
    EXPECT_EQ(Yuv2_LoadSkin(0, 3, 0, "Missing.YUV2"), -1);
    EXPECT_EQ(gSkinLastRefusal, SKIN_REFUSE_OPEN);
    EXPECT_EQ(Yuv2_LoadSkin(0, 3, 0, "A_name_much_too_long_for_the_skin_entry.YUV2"), -1);
    EXPECT_EQ(gSkinLastRefusal, SKIN_REFUSE_NAME);
    EXPECT_EQ(Yuv2_LoadSkin(0, 3, 0, nullptr), -1);
    EXPECT_EQ(gSkinCount, 0u);

    ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), 0);
    // A second load at the same place registers nothing more.
    EXPECT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), -1);
    EXPECT_EQ(gSkinLastRefusal, SKIN_REFUSE_DUPLICATE);
    EXPECT_EQ(gSkinCount, 1u);
    EXPECT_EQ(gSkinElementTotal, 5u);

    ASSERT_EQ(Yuv2_LoadSkin(10, 3, 7, kName), 0);
    EXPECT_EQ(gSkins[1].first, 5u);
    EXPECT_EQ(gSkins[1].kind, 7u);
    // The second skin's references point at its own slots.
    EXPECT_EQ(gSkinElements[5 + 2].reference, 5 + 1);

    // The preset panel is always placed at x 54 with kind 770.
    Put(good, "Mouse_Preset.YUV2");
    ASSERT_EQ(Yuv2_LoadSkin(200, 9, 0, "Mouse_Preset.YUV2"), 0);
    EXPECT_EQ(gSkins[2].x, 54);
    EXPECT_EQ(gSkins[2].y, 9);
    EXPECT_EQ(gSkins[2].kind, 770u);
    EXPECT_EQ(gSkinElementTotal, 15u);

    EXPECT_EQ(Yuv2_LoadSkin(20, 20, 0, kName), -1);
    EXPECT_EQ(gSkinLastRefusal, SKIN_REFUSE_REGISTRY);
    EXPECT_EQ(gSkinCount, 3u);

    // A folder that does not exist.
    UseSkinFolder(SkinTempDir() + std::string(120, 'x'));
    Yuv2_ResetSkins();
    EXPECT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), -1);
    EXPECT_EQ(gSkinLastRefusal, SKIN_REFUSE_OPEN);
}

// Resolution of a record's group and reference through the name map.
struct ResolveCase {
    const char* what;
    std::vector<const char*> groups;
    std::vector<std::array<const char*, 3>> records; // name, group, reference
    int32_t record;
    TSkinRefusal expected;
    int32_t group, reference;
};

const ResolveCase kResolves[] = {
    {"#Vout with the first group", {"BG", "B"}, {{"E0", "BG", "#Vout"}}, 0, SKIN_ACCEPTED, 0, -1},
    {"#Vout with another group", {"BG", "B"}, {{"E0", "B", "#Vout"}}, 0, SKIN_REFUSE_GROUP_MATCH, -1, -1},
    {"earlier record", {"BG", "B"}, {{"E0", "BG", "#Vout"}, {"E1", "B", "E0"}}, 1, SKIN_ACCEPTED, 1, 0},
    {"two records back",
     {"BG", "B"},
     {{"E0", "BG", "#Vout"}, {"E1", "B", "E0"}, {"E2", "B", "E0"}},
     2,
     SKIN_ACCEPTED,
     1,
     0},
    {"itself", {"BG", "B"}, {{"E0", "BG", "#Vout"}, {"E1", "B", "E1"}}, 1, SKIN_REFUSE_LATER_REFERENCE, 1, 1},
    {"later record",
     {"BG", "B"},
     {{"E0", "BG", "#Vout"}, {"E1", "B", "E2"}, {"E2", "B", "E0"}},
     1,
     SKIN_REFUSE_LATER_REFERENCE,
     1,
     2},
    {"missing reference",
     {"BG", "B"},
     {{"E0", "BG", "#Vout"}, {"E1", "B", "E9"}},
     1,
     SKIN_REFUSE_REFERENCE_MATCH,
     1,
     -1},
    {"reference named twice",
     {"BG", "B"},
     {{"E0", "BG", "#Vout"}, {"E0", "B", "#Vout"}, {"E2", "B", "E0"}},
     2,
     SKIN_REFUSE_REFERENCE_MATCH,
     1,
     1},
    {"group named twice",
     {"BG", "B", "B"},
     {{"E0", "BG", "#Vout"}, {"E1", "B", "E0"}},
     1,
     SKIN_REFUSE_GROUP_MATCH,
     2,
     0},
    {"empty group name", {"BG", ""}, {{"E0", "BG", "#Vout"}, {"E1", "", "E0"}}, 1, SKIN_REFUSE_GROUP_MATCH, -1, 0},
    {"empty reference", {"BG", "B"}, {{"E0", "BG", "#Vout"}, {"E1", "B", ""}}, 1, SKIN_REFUSE_REFERENCE_MATCH, 1, -1},
    {"a group's name is no reference",
     {"BG", "B"},
     {{"E0", "BG", "#Vout"}, {"E1", "B", "B"}},
     1,
     SKIN_REFUSE_REFERENCE_MATCH,
     1,
     -1},
    {"15 characters compare whole",
     {"BG", "GROUPNAME012345", "GROUPNAME012346"},
     {{"E0", "BG", "#Vout"},
      {"ELEMENTNAME0123", "GROUPNAME012346", "E0"},
      {"E2", "GROUPNAME012345", "ELEMENTNAME0123"}},
     2,
     SKIN_ACCEPTED,
     1,
     1},
};

TEST(Yuv2Resolve, ReferenceTable)
{
    for (const ResolveCase& c : kResolves) {
        SCOPED_TRACE(c.what);
        static TSkinLayout layout;
        static TSkinName map[SKIN_NAME_ROOM];
        memset(&layout, 0, sizeof layout);
        layout.groupCount = (int16_t)c.groups.size();
        layout.elementCount = (int16_t)c.records.size();
        for (size_t g = 0; g < c.groups.size(); ++g) strncpy(layout.groups[g].name, c.groups[g], 15);
        for (size_t e = 0; e < c.records.size(); ++e) {
            strncpy(layout.elements[e].name, c.records[e][0], 15);
            strncpy(layout.elements[e].group, c.records[e][1], 15);
            strncpy(layout.elements[e].reference, c.records[e][2], 15);
        }
        Yuv2_BuildNameMap(&layout, map);
        int32_t group = -7, reference = -7;
        EXPECT_EQ(Yuv2_ResolveRecord(map, &layout, c.record, &group, &reference), c.expected);
        EXPECT_EQ(group, c.group);
        EXPECT_EQ(reference, c.reference);
    }
}

const uint32_t kNotConstant = 0xFFFFFFFFu;

struct LettersCase {
    const char* text;
    const char* letters;
    uint32_t constant; // of the string as a C source (kNotConstant: not one)
};

const LettersCase kLetters[] = {
    {"MOD#SDZ", "SDZ", kNotConstant},
    {"MOD#SD", "SD0", kNotConstant},
    {"IE_Page#ADN", "ADN", kNotConstant},
    {"12#CA", "CA0", 12},
    {"1#CD", "CD0", 1},
    {"16#CD", "CD0", 16},
    {"ABC", "000", 0},
    {"#SD", "SD0", 0},
    {"AB", "000", 0},
    {"", "000", 0},
    {"IE_percentage#SD", "SD0", kNotConstant},
    {"A1#CD", "CD0", ('A' - '0') * 10 + 1}, // every prefix character counts as a digit
};

TEST(Yuv2Letters, SuffixAndConstantTable)
{
    Yuv2_ResetSkins();
    for (const LettersCase& c : kLetters) {
        char letters[3];
        Yuv2_SuffixLetters(c.text, letters);
        EXPECT_EQ(std::string(letters, 3), c.letters) << c.text;
        memset(&gSkinElements[7], 0, sizeof gSkinElements[7]);
        strncpy(gSkinElements[7].source, c.text, SKIN_NAME_SIZE);
        if (c.constant != kNotConstant) {
            EXPECT_EQ(Yuv2_NameNumber(7), c.constant) << c.text;
        }
    }
    EXPECT_EQ(Yuv2_NameNumber(-1), 0u);
    EXPECT_EQ(Yuv2_NameNumber(SKIN_ELEMENT_ROOM), 0u);
}

// What a built element binds, and the counts behind the bound pointers.
struct BindCase {
    const char* source;
    const char* target;
    int32_t* sourceVar; // null: nothing bound; the dummy as itself
    int32_t sourceCount;
    int32_t* targetVar;
    int32_t targetCount;
};

TEST_F(Yuv2Loader, BindingTable)
{
    int32_t* dummy = Skin_DummyVariable();
    const BindCase cases[] = {
        {"MOD#SDZ", "MOD#SD", &MOD, 1, &MOD, 1},
        {"IE_Page#ADN", "IE_Page2#SD", IE_Page, 4, &IE_Page2, 1},
        {"1#CD", "IE_Page3#SD", nullptr, 0, &IE_Page3, 1},
        {"ABC", "XYZ", nullptr, 0, nullptr, 0},
        {"Nope#AD", "Nope#SD", dummy, 1, dummy, 1},
        {"s_lower#sd", "", dummy, 1, nullptr, 0},
        {"IE_percentage#SD", "", &IE_percentage, 1, nullptr, 0},
        {"", "IE_CH#C0", nullptr, 0, nullptr, 0}, // a target needs two letters that are not '0'
    };
    Put(good);
    for (const BindCase& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " -> " + c.target);
        std::vector<uint8_t> file = good;
        PutLayoutName(file, RecordAt(1, 68), c.source);
        PutLayoutName(file, RecordAt(1, 84), c.target);
        Put(file);
        Yuv2_ResetSkins();
        ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), 0);
        const TSkinElement& e = gSkinElements[1];
        EXPECT_STREQ(e.source, c.source);
        EXPECT_STREQ(e.target, c.target);
        EXPECT_EQ(e.sourceVar, c.sourceVar);
        EXPECT_EQ(e.sourceCount, c.sourceCount);
        EXPECT_EQ(e.targetVar, c.targetVar);
        EXPECT_EQ(e.targetCount, c.targetCount);
    }
}

// Indices a skin drives reach only into the bound variable.
TEST_F(Yuv2Loader, ElementIndicesAreBounded)
{
    Put(good);
    ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), 0);
    const TSkinElement& row = gSkinElements[2]; // IE_Page#ADN -> IE_Page2#SD
    EXPECT_EQ(Yuv2_SourceAt(&row, 3), &IE_Page[3]);
    EXPECT_EQ(Yuv2_SourceAt(&row, 4), nullptr);
    EXPECT_EQ(Yuv2_SourceAt(&row, -1), nullptr);
    EXPECT_EQ(Yuv2_TargetAt(&row, 0), &IE_Page2);
    EXPECT_EQ(Yuv2_TargetAt(&row, 1), nullptr);
    const TSkinElement& button = gSkinElements[1]; // 1#CD binds no source
    EXPECT_EQ(Yuv2_SourceAt(&button, 0), nullptr);
    EXPECT_EQ(Yuv2_SourceAt(nullptr, 0), nullptr);
}

// The background pairs with #Vout: its centre is half its item size, so it
// fills the picture from the top-left; others add their offsets.
TEST_F(Yuv2Loader, CentresFollowReferences)
{
    Put(good);
    ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), 0);
    const TSkinElement& bg = gSkinElements[0];
    EXPECT_EQ(bg.reference, -1);
    EXPECT_EQ(bg.centreX, 32);
    EXPECT_EQ(bg.centreY, 20);
    EXPECT_EQ(bg.refItemCount, 1);
    EXPECT_EQ(bg.refLit, 1);
    const TSkinElement& b1 = gSkinElements[1]; // 16 x 10 at (4, 4)
    EXPECT_EQ(b1.reference, 0);
    EXPECT_EQ(b1.centreX, 12);
    EXPECT_EQ(b1.centreY, 9);
    EXPECT_EQ(b1.refCentreX, 32);
    const TSkinElement& r1 = gSkinElements[2]; // two 8 x 8 cells 2 apart at (4, 20)
    EXPECT_EQ(r1.reference, 1);
    EXPECT_EQ(r1.refCentreX, 12);
    EXPECT_EQ(r1.refOffsetX, b1.offsetX);
    EXPECT_EQ(r1.centreX, 4 + 9);
    EXPECT_EQ(r1.centreY, 24);
    EXPECT_EQ(r1.refItemCount, 1);
    EXPECT_EQ(gSkinElements[3].refItemCount, 2);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(gSkinElements[i].lit, 1) << i;
}

// A redraw re-reads the file; a file whose size or width changed on disk is
// skipped, a vanished one stops the redraw.
struct ReadCase {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> change;
    bool remove;
    int32_t expected;
};

TEST_F(Yuv2Loader, RedrawNoticesChangedFile)
{
    const ReadCase cases[] = {
        {"unchanged", [](std::vector<uint8_t>&) {}, false, SKIN_READ_OK},
        {"same size, other pixels", [](std::vector<uint8_t>& f) { f[f.size() - 1] ^= 0x55; }, false, SKIN_READ_OK},
        {"grown", [](std::vector<uint8_t>& f) { f.push_back(0); }, false, SKIN_READ_CHANGED},
        {"shrunk by a row", [](std::vector<uint8_t>& f) { f.resize(f.size() - 1024); }, false, SKIN_READ_CHANGED},
        {"other width", [](std::vector<uint8_t>& f) { f[2] = 1, f[3] = 1; }, false, SKIN_READ_CHANGED},
        {"grown past 2 MiB", [](std::vector<uint8_t>& f) { f.resize(2097153); }, false, SKIN_READ_CHANGED},
        {"removed", [](std::vector<uint8_t>&) {}, true, SKIN_READ_MISSING},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        Yuv2_ResetSkins();
        Put(good);
        ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), 0);
        std::vector<uint8_t> file = good;
        c.change(file);
        Put(file);
        if (c.remove) std::remove((SkinTempDir() + "/" + kName).c_str());
        EXPECT_EQ(Yuv2_ReadSkinFile(0), c.expected);
        if (c.expected == SKIN_READ_OK) {
            EXPECT_EQ(memcmp(gSkinFileBuffer, file.data(), file.size()), 0);
            EXPECT_EQ(gSkinLayout.elementCount, 5);
        }
    }
    EXPECT_EQ(Yuv2_ReadSkinFile(1), SKIN_READ_MISSING);
    EXPECT_EQ(Yuv2_ReadSkinFile(-1), SKIN_READ_MISSING);
}

// A redraw reads the file again only when the bytes in hand are not the
// file as it is on disk: after another skin's file was read, or when the
// file's stamp changed; a vanished file still stops the redraw.
TEST_F(Yuv2Loader, RedrawReadsTheFileOnlyWhenItChanged)
{
    const std::string path = SkinTempDir() + "/" + kName;
    const std::vector<uint8_t> other = BuildSkinFile(kSmallSkin, nullptr);
    struct Case {
        const char* what;
        std::function<void()> change;
        int32_t expected;
        uint32_t reads; // whole files read by the redraw
        bool newPixels; // the buffer holds the file's new bytes
    } cases[] = {
        {"unchanged", [] {}, SKIN_READ_OK, 0, false},
        {"rewritten with other pixels",
         [&] {
             std::vector<uint8_t> f = good;
             f[f.size() - 1] ^= 0x55;
             Put(f);
             namespace fs = std::filesystem;
             fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(10));
         },
         SKIN_READ_OK, 1, true},
        {"grown",
         [&] {
             std::vector<uint8_t> f = good;
             f.push_back(0);
             Put(f);
         },
         SKIN_READ_CHANGED, 1, false},
        {"removed", [&] { std::remove(path.c_str()); }, SKIN_READ_MISSING, 0, false},
        {"another skin read since",
         [&] {
             Put(other, "Other.YUV2");
             ASSERT_EQ(Yuv2_LoadSkin(20, 3, 0, "Other.YUV2"), 0);
         },
         SKIN_READ_OK, 1, false},
        {"a refused file read since",
         [&] {
             Put(std::vector<uint8_t>(100, 0), "Bad.YUV2");
             ASSERT_EQ(Yuv2_LoadSkin(20, 3, 0, "Bad.YUV2"), -1);
         },
         SKIN_READ_OK, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Yuv2_ResetSkins();
        Put(good);
        ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), 0);
        c.change();
        // Whatever drawing did to the layout block, the file's rows return.
        gSkinLayout.elementCount = 0;
        uint32_t before = gSkinFileReads;
        EXPECT_EQ(Yuv2_RefreshSkinFile(0), c.expected);
        EXPECT_EQ(gSkinFileReads - before, c.reads);
        if (c.expected == SKIN_READ_OK) {
            EXPECT_EQ(gSkinLayout.elementCount, 5);
            EXPECT_EQ(gSkinFileBuffer[good.size() - 1], (uint8_t)(good.back() ^ (c.newPixels ? 0x55 : 0)));
            // Read once, the file is in hand again.
            before = gSkinFileReads;
            EXPECT_EQ(Yuv2_RefreshSkinFile(0), SKIN_READ_OK);
            EXPECT_EQ(gSkinFileReads, before);
        }
    }
    // Forced redraws of the kept skin read nothing.
    Yuv2_ResetSkins();
    Put(good);
    ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), 0);
    uint32_t before = gSkinFileReads;
    for (int i = 0; i < 3; i++) {
        gLastDrawn[0] = gLastDrawn[1] = -2;
        Yuv2_Redraw(1);
    }
    EXPECT_EQ(gSkinFileReads, before);
    for (const char* name : {"Other.YUV2", "Bad.YUV2"}) std::remove((SkinTempDir() + "/" + name).c_str());
}

// A skin held in memory stands in for the file of its name: it loads as
// the file does, redraws read it, other names still come from the folder,
// and once forgotten the name is the folder's again.
TEST_F(Yuv2Loader, SkinInMemoryStandsInForItsFile)
{
    Put(good);
    ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), 0);
    TSkinLayout fromFile = gSkinLayout;
    TSkinElement elementsFromFile[5];
    memcpy(elementsFromFile, gSkinElements, sizeof elementsFromFile);
    std::remove((SkinTempDir() + "/" + kName).c_str());

    struct Case {
        const char* what;
        const char* name; // the name loaded
        bool damaged;     // the memory copy has a bad group count
        int32_t result;
        TSkinRefusal refusal;
    } cases[] = {
        {"the same bytes, no file", kName, false, 0, SKIN_ACCEPTED},
        {"a damaged copy is refused as a file would be", kName, true, -1, SKIN_REFUSE_GROUP_COUNT},
        {"another name is looked for in the folder", "Other.YUV2", false, -1, SKIN_REFUSE_OPEN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Yuv2_ResetSkins();
        std::vector<uint8_t> bytes = good;
        if (c.damaged) PutLayout16(bytes, 8, 65);
        Yuv2_SetSkinMemory(kName, bytes.data(), (uint32_t)bytes.size());
        EXPECT_EQ(Yuv2_LoadSkin(0, 3, 0, c.name), c.result);
        EXPECT_EQ(gSkinLastRefusal, c.refusal);
        if (c.result == 0) {
            EXPECT_EQ(memcmp(&gSkinLayout, &fromFile, sizeof fromFile), 0);
            EXPECT_EQ(memcmp(gSkinElements, elementsFromFile, sizeof elementsFromFile), 0);
            EXPECT_EQ(gSkins[0].fileSize, (uint32_t)good.size());
            // A redraw reads the memory copy, which has not changed.
            EXPECT_EQ(Yuv2_ReadSkinFile(0), SKIN_READ_OK);
            bytes.push_back(0);
            Yuv2_SetSkinMemory(kName, bytes.data(), (uint32_t)bytes.size());
            EXPECT_EQ(Yuv2_ReadSkinFile(0), SKIN_READ_CHANGED);
            std::vector<uint8_t> huge(YUV2_FILE_MAX + 1);
            Yuv2_SetSkinMemory(kName, huge.data(), (uint32_t)huge.size());
            EXPECT_EQ(Yuv2_ReadSkinFile(0), SKIN_READ_CHANGED);
        }
        Yuv2_SetSkinMemory(nullptr, nullptr, 0);
    }
    // Forgotten: the name is the folder's again, where no file is.
    Yuv2_ResetSkins();
    EXPECT_EQ(Yuv2_LoadSkin(0, 3, 0, kName), -1);
    EXPECT_EQ(gSkinLastRefusal, SKIN_REFUSE_OPEN);
}

} // namespace
