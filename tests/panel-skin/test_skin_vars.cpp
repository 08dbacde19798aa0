// The skin-variable table: whole-key lookup, aliases, the shared dummy and
// the element counts that bound every index a skin drives.
#include "panel/SkinVars.h"
#include <gtest/gtest.h>
#include <cstring>
#include <set>
#include <string>

namespace {

struct LookupCase {
    const char* key;
    int32_t* expected; // null: the dummy
    int32_t count;
};

const LookupCase kLookups[] = {
    {"IE_Page#ADN", IE_Page, 4},
    {"IE_CH#ADN", IE_CH, 16},
    {"IE_CH2#ADN", IE_CH2, 8},
    {"IE_CH#SD", &IE_CH_Value, 1}, // same name, another kind: another variable
    {"IE_CH2#SD", &IE_CH2_Value, 1},
    {"IE_PB_BT_En#ADN", IE_PB_BT_En, 4},
    {"IE_Data#ADN", IE_Data, 48},
    {"IE_percentage#SD", &IE_percentage, 1}, // a key that fills a 16-byte field
    {"Dm_SCh#AD", Dm_SCh, 100},
    {"Dm_SPre#ADN", Dm_SPre, 100},
    {"Dm_SPre#AD", Dm_SPre, 100},
    {"MOD#SDZ", &MOD, 1},
    {"MOD#SD", &MOD, 1},
    {"SD_Mouse#SD", SD_Mouse, 2}, // {x, y} behind a single-value key
    {"Mon_Day#AD", Mon_Day, 42},
    {"Mon_Data#AD", Mon_Data, 42},
    {"Mon_m2#SD", &Mon_m2, 1},
    {"Sys_State#SDC", &Sys_State, 1},
    {"SD_IO5#SDC", &SD_IO5, 1},
    {"A_Num#SD", &A_Num, 1},
    {"MOD", nullptr, 1},         // no suffix: not a key
    {"mod#SD", nullptr, 1},      // case-sensitive
    {"MOD#SD ", nullptr, 1},     // whole string
    {"Key_Menu#SD", nullptr, 1}, // the key list has no menu key
    {"", nullptr, 1},
};

TEST(SkinVariables, LookupTable)
{
    for (const LookupCase& c : kLookups) {
        int32_t count = -5;
        int32_t* v = Skin_FindVariableSized(c.key, &count);
        int32_t* expected = c.expected ? c.expected : Skin_DummyVariable();
        EXPECT_EQ(v, expected) << c.key;
        EXPECT_EQ(count, c.count) << c.key;
        EXPECT_EQ(Skin_FindVariable(c.key), expected) << c.key;
    }
}

TEST(SkinVariables, UnknownKeysShareOneDummy)
{
    EXPECT_EQ(Skin_FindVariable("NoSuch#SD"), Skin_FindVariable("Other#ADN"));
    EXPECT_EQ(Skin_FindVariable(nullptr), Skin_DummyVariable());
}

// "CH#ADN" is the skin-only channel array, not IE_CH, though "IE_CH#ADN"
// ends with it.
TEST(SkinVariables, WholeKeyComparison)
{
    int32_t* ch = Skin_FindVariable("CH#ADN");
    EXPECT_NE(ch, IE_CH);
    EXPECT_NE(ch, Skin_DummyVariable());
    int32_t count = 0;
    Skin_FindVariableSized("CH#ADN", &count);
    EXPECT_EQ(count, 16);
}

// Every row is a distinct key with a '#' and two or three kind letters, a
// variable and a positive count; keys of one variable agree on the count.
TEST(SkinVariables, TableIsWellFormed)
{
    std::set<std::string> keys;
    for (const TSkinVariable& row : gSkinVariables) {
        ASSERT_NE(row.key, nullptr);
        std::string k = row.key;
        size_t hash = k.rfind('#');
        ASSERT_NE(hash, std::string::npos) << k;
        size_t letters = k.size() - hash - 1;
        EXPECT_TRUE(letters == 2 || letters == 3) << k;
        EXPECT_LE(k.size(), 16u) << k;
        EXPECT_TRUE(keys.insert(k).second) << "duplicate " << k;
        ASSERT_NE(row.variable, nullptr) << k;
        EXPECT_GE(row.count, 1) << k;
        EXPECT_EQ(row.count > 1, k[hash + 1] == 'A' || k == "SD_Mouse#SD") << k;
    }
    EXPECT_EQ(keys.size(), (size_t)SKIN_VARIABLE_ROWS);
    EXPECT_EQ(std::string(gSkinVariables[0].key), "IE_Page#ADN");
    EXPECT_EQ(std::string(gSkinVariables[SKIN_VARIABLE_ROWS - 1].key), "Key_Code#SD");
}

struct IndexCase {
    int32_t index;
    bool inside;
};

TEST(SkinVariables, IndexWithinCount)
{
    const IndexCase cases[] = {{0, true}, {3, true}, {4, false}, {-1, false}, {1000000, false}};
    int32_t count = 0;
    int32_t* pages = Skin_FindVariableSized("IE_Page#ADN", &count);
    for (const IndexCase& c : cases) {
        int32_t* at = Skin_VariableAt(pages, count, c.index);
        if (c.inside) EXPECT_EQ(at, pages + c.index) << c.index;
        else EXPECT_EQ(at, nullptr) << c.index;
    }
    int32_t* dummy = Skin_FindVariableSized("Unknown#AD", &count);
    EXPECT_NE(Skin_VariableAt(dummy, count, 0), nullptr);
    EXPECT_EQ(Skin_VariableAt(dummy, count, 1), nullptr);
    EXPECT_EQ(Skin_VariableAt(nullptr, 4, 0), nullptr);
}

TEST(SkinVariables, ClearZeroesEveryVariable)
{
    IE_Page[3] = 7;
    Dm_SPre[99] = 3;
    MOD = 5;
    *Skin_DummyVariable() = 9;
    Skin_ClearVariables();
    EXPECT_EQ(IE_Page[3], 0);
    EXPECT_EQ(Dm_SPre[99], 0);
    EXPECT_EQ(MOD, 0);
    EXPECT_EQ(*Skin_DummyVariable(), 0);
}

} // namespace
