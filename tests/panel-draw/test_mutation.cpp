// Damaged skins. Two valid skins, one made byte by byte with an element of
// every kind and the project's own key-panel skin, are damaged with a fixed
// seed: counts, sizes, offsets, references, kinds, names and variable
// strings of the layout block, the picture width, the file length and the
// pixel rows. Every damaged skin the loader takes is redrawn, converted row
// by row and clicked over a grid of points with presses, drags, repeats and
// releases, with panel variables set to hostile values. Nothing may read or
// write outside its buffers; the sanitizer build is what catches a slip.
#include "RawSkin.h"
#include "link/Hooks.h"
#include "panel/Ie_com.h"
#include <gtest/gtest.h>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

namespace {

const char kKeyForm[] = "TavlinKeyForm_02030157.YUV2";

// splitmix64: the same sequence on every run.
struct Rng {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Below(int n) { return n <= 0 ? 0 : (int)(Next() % (uint64_t)n); }
    template <typename T, size_t N> T Pick(const T (&a)[N]) { return a[Below((int)N)]; }
};

const int kInteresting[] = {
    0,   1,   -1,   2,    3,    4,    7,    8,    15,   16,   31,   32,   63,   64,   65,   96,   97,    98,     127,
    128, 143, 144,  160,  161,  255,  256,  511,  512,  513,  620,  1023, 1024, 2048, 4095, 8191, 16384, 32767,  -32768,
    -2,  -16, -512, 7999, 8000, 8001, 8002, 8003, 8004, 8005, 8006, 8007, 8008, 8009, 8010, 8011, 12345, -12345, 770};
const int kKinds[] = {0,    1,    2,    3,    4,    7998, 7999, 8000, 8001, 8002,
                      8003, 8004, 8005, 8006, 8007, 8008, 8009, 8010, 8011, 8012};
const char* const kStrings[] = {"",
                                "#Vout",
                                "#",
                                "#S",
                                "#SD",
                                "A",
                                "AB#",
                                "MOD#SD",
                                "MOD#SDZ",
                                "MOD3#SD",
                                "MOD4#SD",
                                "A_Num#SD",
                                "SD_Bar#SD",
                                "IE_CH#ADN",
                                "IE_CH#SD",
                                "IE_Page#ADN",
                                "IE_Page2#SD",
                                "IE_Data#ADN",
                                "Mon_Day#AD",
                                "Mon_POS#AD",
                                "SD_Mouse#SD",
                                "Cent_X#SDX",
                                "Cent_Y#SDY",
                                "SD_IO1#SDC",
                                "Sys_State#SDC",
                                "Alarm_En#ADN",
                                "Dm_SPre#ADN",
                                "Dm_Cmd#SD",
                                "IE_ST#SD",
                                "IE_SET_T#SD",
                                "Mon_Time#SD",
                                "IE_percentage#SD",
                                "12#CA",
                                "255#CS",
                                "0#CS",
                                "2147483647#CS",
                                "2147483648#CS",
                                "4294967295#CA",
                                "99999999999#CS",
                                "-1#CS",
                                "~~~~#CS",
                                "1#CD",
                                "7#CA",
                                "NoSuch#AD",
                                "NoSuch#SDN",
                                "Bad#XX",
                                "Bad#AAY",
                                "Bad#SAX"};

// Layout block byte `offset` of a file whose picture is `width` pixels wide.
size_t LayoutPos(int width, int offset)
{
    return 16 + (size_t)(offset / 1024) * (size_t)width * 2 + (size_t)(offset % 1024);
}

struct Skin {
    std::vector<uint8_t> file;
    int width, groups, elements;
    std::vector<std::string> names; // group and element names of the valid skin
};

Skin Describe(std::vector<uint8_t> file)
{
    Skin s;
    s.file = std::move(file);
    s.width = 2 * (s.file[2] | (s.file[3] << 8));
    auto at = [&](int offset) { return &s.file[LayoutPos(s.width, offset)]; };
    s.groups = (int16_t)(at(8)[0] | (at(8)[1] << 8));
    s.elements = (int16_t)(at(10)[0] | (at(10)[1] << 8));
    for (int g = 0; g < s.groups; ++g)
        s.names.emplace_back((const char*)at(100 + 100 * g), strnlen((const char*)at(100 + 100 * g), 16));
    for (int e = 0; e < s.elements; ++e)
        s.names.emplace_back((const char*)at(6500 + 164 * e), strnlen((const char*)at(6500 + 164 * e), 16));
    return s;
}

// A skin with an element of every kind and every way of binding variables.
std::vector<uint8_t> RichSkin()
{
    RawSkin k(240);
    k.AddGroup({"BG", 96, 60, 0, 22, 1, 1, 0, 7999, 0, 0});
    k.Fill(0, 22, 96, 60, 0x10, 0x81);
    k.AddElement({"BG", "BG", "#Vout"});
    struct G {
        const char* name;
        int w, h, stripX, stripY, columns, glyphRows, step, kind, id, level;
    } groups[] = {
        {"BTN", 8, 6, 120, 90, 6, 2, 3, 7999, 0, 1},    {"NUM0", 6, 8, 200, 90, 10, 2, 1, 0, 0, 1},
        {"NUM1", 6, 8, 200, 90, 10, 2, 1, 1, 0, 1},     {"NUM2", 6, 8, 200, 90, 10, 2, 1, 2, 0, 1},
        {"NUM3", 6, 8, 200, 90, 10, 2, 1, 3, 0, 1},     {"DAY", 6, 8, 200, 90, 10, 2, 1, 8001, 0, 16},
        {"RAD", 4, 4, 300, 90, 8, 1, 1, 8010, 0, 1},    {"THUMB", 6, 6, 340, 90, 1, 1, 0, 8011, 1, 1},
        {"TRACK", 4, 6, 360, 90, 1, 1, 0, 8002, 1, 2},  {"WIN", 20, 6, 380, 90, 1, 1, 0, 8006, 0, 0},
        {"DATE", 6, 8, 200, 110, 13, 1, 1, 8008, 0, 0}, {"SHIFT", 6, 6, 120, 110, 2, 1, 1, 8009, 0, 1},
        {"MODE", 8, 6, 120, 130, 4, 2, 2, 8000, 2, 1},  {"MODE3", 8, 6, 120, 130, 4, 2, 1, 8003, 0, 1},
        {"TOOL", 8, 6, 120, 150, 4, 2, 2, 8005, 6, 1},  {"IO", 8, 6, 120, 150, 4, 2, 0, 8004, 0, 1},
        {"SEVEN", 8, 6, 120, 170, 6, 2, 2, 8007, 0, 1}, {"HOLD", 8, 6, 120, 190, 6, 2, 0, 8010, 0, 1},
    };
    for (const G& g : groups) {
        k.AddGroup({g.name, g.w, g.h, g.stripX, g.stripY, g.columns, g.glyphRows, g.step, g.kind, g.id, g.level});
        k.FillStrip(g.stripX, g.stripY, g.w, g.h, g.columns > 0 && g.columns < 14 ? g.columns : 1, 2, 0x40);
    }
    struct E {
        const char *name, *group, *ref;
        int dx, dy, items, radial, radius, sx, sy, columns, extra, value;
        const char *source, *target;
    } elements[] = {
        {"ROW", "BTN", "BG", 0, -20, 4, 0, 0, 2, 0, 4, 0, 0, "IE_CH#ADN", "IE_CH#SD"},
        {"ROW2", "BTN", "ROW", 0, 8, 3, 0, 0, 2, 0, 3, 0, 0, "12#CS", "IE_Page2#SD"},
        {"ROW3", "BTN", "ROW", 0, 16, 3, 0, 0, 2, 1, 2, 1, 0, "7#CA", "IE_CH2#ADN"},
        {"ANUM", "BTN", "BG", 30, -20, 2, 0, 0, 2, 0, 2, 0, 0, "2147483647#CS", "A_Num#SD"},
        {"NUM0", "NUM0", "ROW", -10, 0, 3, 0, 0, 1, 0, 3, 0, 5, "IE_CH#ADN", ""},
        {"NUM1", "NUM1", "BG", -30, 20, 3, 0, 0, 1, 0, 3, 0, 0, "Dm_SPre#AD", ""},
        {"NUM2", "NUM2", "BG", -30, 10, 3, 0, 0, 1, 0, 3, 0, 0, "IE_percentage#SD", ""},
        {"NUM3", "NUM3", "BG", 30, 10, 1, 0, 0, 0, 0, 0, 0, 0, "Mon_Y#SD", ""},
        {"DAYS", "DAY", "BG", 0, 0, 42, 0, 0, 0, 0, 7, 2, 0, "Mon_Day#AD", "Mon_Time#SD"},
        {"RAD", "RAD", "BG", 20, 20, 8, 1, 12, 0, 0, 0, 0, 0, "MOD#SD", "MOD2#SD"},
        {"THUMB", "THUMB", "BG", 0, 25, 1, 0, 0, 3, 0, 1, 0, 10, "SD_Bar#SD", ""},
        {"TRACK", "TRACK", "BG", 0, 25, 10, 0, 0, 1, 0, 10, 0, 0, "1#CS", "MOD3#SD"},
        {"WIN", "WIN", "BG", 0, -28, 1, 0, 0, 1, 0, 0, 0, 0, "IE_percentage#SD", ""},
        {"DATE", "DATE", "BG", 0, 28, 19, 0, 0, 0, 0, 19, 0, 0, "Mon_Time#SD", ""},
        {"SHIFT", "SHIFT", "BG", 40, 0, 2, 0, 0, 1, 0, 2, 0, 0, "Mon_POS#AD", "Mon_POS#AD"},
        {"MODE", "MODE", "BG", -40, 0, 2, 0, 0, 1, 0, 2, 0, 0, "MOD#SDZ", "MOD#SD"},
        {"MODE3", "MODE3", "BG", -40, 8, 4, 0, 0, 1, 0, 4, 0, 0, "Dm_SPre#ADN", "Dm_Pre#SD"},
        {"TOOL", "TOOL", "BG", -40, 16, 2, 0, 0, 1, 0, 2, 0, 0, "IE_PB_PS#SD", "IE_PB_PS2#SD"},
        {"IO", "IO", "BG", -40, 24, 1, 0, 0, 0, 0, 1, 0, 0, "SD_IO1#SDC", "Dm_Cmd#SD"},
        {"SEVEN", "SEVEN", "BG", 40, 16, 2, 0, 0, 1, 0, 2, 0, 0, "IE_PB_PS#SD", "MOD4#SD"},
        {"HOLD", "HOLD", "BG", 40, 24, 3, 0, 0, 1, 0, 3, 0, 0, "Mon_Day#AD", "Cent_X#SDX"},
        {"CY", "BTN", "HOLD", 0, 6, 1, 0, 0, 0, 0, 1, 0, 0, "3#CS", "Cent_Y#SDY"},
        {"SLOT", "BTN", "BG", 0, -8, 6, 0, 0, 0, 0, 6, 0, 0, "IE_Data#ADN", "IE_ST3#SD"},
        {"BACK", "BTN", "BG", 44, -28, 1, 0, 0, 0, 0, 1, 0, 0, "1#CS", "IE_SET_T#SD"},
    };
    for (const E& e : elements) {
        RawSkin::Element r{e.name, e.group, e.ref};
        r.dx = e.dx;
        r.dy = e.dy;
        r.items = e.items;
        r.radial = e.radial;
        r.radius = e.radius;
        r.sx = e.sx;
        r.sy = e.sy;
        r.columns = e.columns;
        r.extra = e.extra;
        r.value = e.value;
        r.source = e.source;
        r.target = e.target;
        k.AddElement(r);
    }
    return k.file;
}

std::vector<uint8_t> ReadWhole(const std::string& path)
{
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    return bytes;
}

void WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

void Put16(std::vector<uint8_t>& f, size_t at, int v)
{
    if (at + 1 >= f.size()) return;
    f[at] = (uint8_t)(v & 0xFF);
    f[at + 1] = (uint8_t)((v >> 8) & 0xFF);
}

void PutString(std::vector<uint8_t>& f, size_t at, const std::string& s)
{
    for (size_t i = 0; i < 16 && at + i < f.size(); ++i) f[at + i] = i < s.size() ? (uint8_t)s[i] : 0;
}

// One to four pieces of damage, all within the valid skin's geometry.
std::vector<uint8_t> Mutate(const Skin& base, Rng& rng)
{
    std::vector<uint8_t> f = base.file;
    auto L = [&](int offset) { return LayoutPos(base.width, offset); };
    int groupSlots = base.groups + 2 < 64 ? base.groups + 2 : 64;
    int recordSlots = base.elements + 2 < 97 ? base.elements + 2 : 97;
    int damage = 1 + rng.Below(4);
    bool widthToo = false;
    for (int d = 0; d < damage; ++d) {
        int group = rng.Below(groupSlots), record = rng.Below(recordSlots);
        int g = 100 + 100 * group, e = 6500 + 164 * record;
        switch (rng.Below(14)) {
        case 0: Put16(f, L(8), rng.Below(3) ? rng.Pick(kInteresting) : base.groups + rng.Below(5) - 2); break;
        case 1: Put16(f, L(10), rng.Below(3) ? rng.Pick(kInteresting) : base.elements + rng.Below(5) - 2); break;
        case 2: Put16(f, L(g + 16 + 2 * rng.Below(10)), rng.Pick(kInteresting)); break;
        case 3: Put16(f, L(g + 30), rng.Pick(kKinds)); break;
        case 4: {
            static const int fields[] = {48, 50, 52, 54, 56, 58, 60, 62, 66};
            Put16(f, L(e + rng.Pick(fields)), rng.Pick(kInteresting));
            break;
        }
        case 5: f[L(e + 64 + rng.Below(2))] = (uint8_t)rng.Pick(kInteresting); break;
        case 6: {
            // Names: another record's, "#Vout", empty, or filling all 16 bytes.
            static const int slots[] = {0, 16, 32};
            size_t at = rng.Below(4) == 0 ? L(g) : L(e + rng.Pick(slots));
            int how = rng.Below(4);
            std::string s = how == 0 && !base.names.empty() ? base.names[rng.Below((int)base.names.size())]
                            : how == 1                      ? "#Vout"
                            : how == 2                      ? ""
                                                            : "ABCDEFGHIJKLMNOP";
            PutString(f, at, s);
            break;
        }
        case 7: PutString(f, L(e + (rng.Below(2) ? 68 : 84)), rng.Pick(kStrings)); break;
        case 8: {
            // Suffix letters of a variable string changed in place.
            static const char letters[] = "SACDZNXY0sacznxy#";
            size_t at = L(e + (rng.Below(2) ? 68 : 84));
            size_t n = strnlen((const char*)&f[at], 16);
            if (n > 0) f[at + (size_t)rng.Below((int)n)] = (uint8_t)letters[rng.Below((int)sizeof letters - 1)];
            break;
        }
        case 9: {
            // Whole records copied over each other: duplicate names and references.
            int other = 6500 + 164 * rng.Below(recordSlots);
            for (int i = 0; i < 164; ++i) f[L(e + i)] = base.file[L(other + i)];
            break;
        }
        case 10:
            for (int i = 0, n = 1 + rng.Below(8); i < n; ++i) f[L(rng.Below(22528))] = (uint8_t)rng.Next();
            break;
        case 11: {
            // Pixel rows: runs of random or transparent units anywhere in the picture.
            size_t at = 16 + (size_t)rng.Below((int)(f.size() - 16));
            size_t n = 1 + (size_t)rng.Below(4096);
            bool clear = rng.Below(2);
            for (size_t i = 0; i < n && at + i < f.size(); ++i) f[at + i] = clear ? 0xFF : (uint8_t)rng.Next();
            break;
        }
        case 12: {
            int how = rng.Below(4);
            if (how == 0) f.resize(16 + (size_t)rng.Below((int)f.size()));
            else if (how == 1) f.resize(f.size() - (size_t)rng.Below(base.width * 4) - 1);
            else if (how == 2) f.resize(f.size() + (size_t)rng.Below(base.width * 4) + 1, 0xFF);
            else f.resize(YUV2_FILE_MAX + (size_t)rng.Below(3), 0);
            break;
        }
        default: widthToo = true; break;
        }
    }
    if (widthToo && f.size() > 4) {
        static const int widths[] = {0, 1, 255, 256, 257, 511, 512, 1024, 65535};
        int pairs = rng.Below(2) ? rng.Pick(widths) : base.width / 2 + rng.Below(9) - 4;
        Put16(f, 2, pairs);
    }
    return f;
}

// Panel variables as a hostile skin or recorder could leave them.
void ShakeVariables(Rng& rng)
{
    static const int32_t values[] = {0,
                                     1,
                                     2,
                                     3,
                                     4,
                                     8,
                                     15,
                                     16,
                                     22,
                                     50,
                                     98,
                                     255,
                                     256,
                                     -1,
                                     -2,
                                     -50,
                                     INT32_MAX,
                                     INT32_MIN,
                                     INT32_MAX - 1,
                                     INT32_MIN + 1,
                                     0x7FFF0000};
    auto v = [&] { return rng.Below(3) ? rng.Pick(values) : (int32_t)rng.Next(); };
    static const int32_t channels[] = {0, 4, 8, 16, 17, -1};
    IE_M_CH = rng.Pick(channels);
    A_Num = rng.Below(2) ? (rng.Below(2) ? 0 : 50) : v();
    MOD = rng.Below(2) ? rng.Below(4) : v();
    IE_Page2 = rng.Below(2) ? rng.Below(4) - 1 : v();
    IE_PB_PS = v();
    IE_Month_T = v();
    Sys_State = v();
    SD_Bar = rng.Below(2) ? rng.Below(4) : v();
    IE_percentage = v();
    IE_CH_Value = v();
    IE_CH2_Value = v();
    IE_DOING = rng.Below(2) ? rng.Below(24) : v();
    Mon_Time = v();
    Mon_M = v();
    Mon_Y = v();
    MOD3 = rng.Below(4) ? 0 : v();
    MOD4 = rng.Below(4) ? 0 : v();
    Dm_Cmd = rng.Below(2) ? rng.Below(24) - 1 : v();
    for (int i = 0; i < SKIN_IE_CH_COUNT; ++i) IE_CH[i] = rng.Below(2) ? rng.Below(3) - 1 : v();
    for (int i = 0; i < SKIN_IE_CH2_COUNT; ++i) IE_CH2[i] = rng.Below(3) - 1;
    for (int i = 0; i < SKIN_MON_CELL_COUNT; ++i) Mon_Day[i] = v();
    for (int i = 0; i < SKIN_IE_DATA_COUNT; ++i) IE_Data[i] = rng.Below(2) ? rng.Below(3) - 1 : v();
    for (int i = 0; i < SKIN_DM_ENTRY_COUNT; ++i) Dm_SPre[i] = rng.Below(2) ? rng.Below(5) - 1 : v();
    for (int i = 1; i < PANEL_PAIR_COUNT; ++i) {
        gPanelPairs[i].position = rng.Below(2) ? 0 : v();
        gPanelPairs[i].value = rng.Below(2) ? rng.Below(48) : v();
    }
    static const int32_t requests[] = {0, 0, 1, 99};
    gRedrawRequest = rng.Pick(requests);
}

// Redraws, converts and clicks the registered skins.
void Exercise(Rng& rng, int rows, std::vector<uint32_t>& row)
{
    ShakeVariables(rng);
    gLastDrawn[0] = gLastDrawn[1] = -2;
    Yuv2_Redraw(1);
    // Hovered items, held days (the magnifier) and the offset of kind 770.
    for (int i = 0; i < 3; ++i) {
        gHover[0] = (int32_t)rng.Below((int)gSkinElementTotal + 1);
        gHover[1] = rng.Below(8) - 1;
        gHoldActive = rng.Below(2);
        gHoldCode = rng.Below(2) ? HOLD_DAY : rng.Below(5);
        const TSkinEntry& s = gSkins[rng.Below((int)gSkinCount)];
        Yuv2_Compose(s.name, s.first, s.count, s.largest, rng.Below(2) ? A_Num : (int32_t)rng.Next());
    }
    gHoldActive = 0;
    gHoldCode = 0;
    int width = gSkinPictureWidth, height = gSkinPictureHeight;
    if (width > 0 && height > 0) {
        row.resize((size_t)width);
        for (int r = 0; r < height; r += 1 + rng.Below(3)) Yuv2_PictureRow(r, width, row.data());
    }

    // A coarse grid over the picture and a margin around it.
    int w = width > 0 ? width : 96, h = height > 0 ? height : 60;
    int stepX = w / 9 + 1, stepY = h / rows + 1;
    for (int y = -8 + rng.Below(stepY); y < h + 8; y += stepY)
        for (int x = -8 + rng.Below(stepX); x < w + 8; x += stepX) {
            Yuv2_PanelMouseMove(x, y);
            switch (rng.Below(4)) {
            case 0: break;
            case 1:
                Yuv2_PanelMouseDown(x, y);
                Yuv2_PanelMouseUp(x, y);
                break;
            default:
                Yuv2_PanelMouseDown(x, y);
                if (rng.Below(3) == 0) gHoldCode = HOLD_REPEAT;
                for (int t = 0, n = rng.Below(14); t < n; ++t) Yuv2_RepeatTick();
                Yuv2_PanelMouseMove(x + rng.Below(9) - 4, y + rng.Below(9) - 4);
                if (rng.Below(8) == 0) Yuv2_Redraw(gMouseDown);
                Yuv2_PanelMouseUp(x + rng.Below(5) - 2, y + rng.Below(5) - 2);
                break;
            }
        }
    // Words from the recorder: a machine record now and then, a live block.
    if (rng.Below(4) == 0) {
        static const uint32_t counts[] = {0, 4, 8, 16, 17, 0x80000000u};
        KeyForm_Init(rng.Pick(counts), (uint32_t)rng.Next(), rng.Below(4) - 1);
    }
    KeyForm_SelectDisplay(rng.Below(6) - 1, rng.Below(2) ? rng.Below(20) : (int32_t)rng.Next(),
                          rng.Below(2) ? rng.Below(20) : (int32_t)rng.Next());
    Yuv2_Redraw(1);
}

void Reset()
{
    Yuv2_ResetSkins();
    Yuv2_ResetMouse();
    Skin_ClearVariables();
    IeCom_Init();
    memset(gPanelPairs, 0, sizeof gPanelPairs);
    gLastDrawn[0] = gLastDrawn[1] = -2;
}

void PointFolder(const std::string& dir)
{
    memset(gSkinFolder, 0, sizeof gSkinFolder);
    snprintf(gSkinFolder, sizeof gSkinFolder, "%s", dir.c_str());
}

// Loads each damaged copy of base under one of names (beside an intact skin
// when alongside is set) and exercises what the loader takes.
int RunMutations(const Skin& base, uint64_t seed, int rounds, const char* const* names, int nameCount, bool alongside,
                 int gridRows)
{
    Rng rng{seed};
    std::vector<uint32_t> row;
    std::string dir = Folder();
    PointFolder(dir);
    WriteWhole(dir + "/Intact.YUV2", base.file);
    int accepted = 0;
    for (int round = 0; round < rounds; ++round) {
        Reset();
        PointFolder(dir);
        if (alongside && rng.Below(2)) {
            EXPECT_EQ(Yuv2_LoadSkin(200, 0, 0, "Intact.YUV2"), 0);
        }
        const char* name = names[rng.Below(nameCount)];
        WriteWhole(dir + "/" + name, Mutate(base, rng));
        if (Yuv2_LoadSkin(0, 3, 0, name) == 0) ++accepted;
        if (gSkinElementTotal == 0) continue;
        Exercise(rng, gridRows, row);
    }
    return accepted;
}

TEST(Mutation, DamagedSmallSkinsNeverReachOutsideTheirBuffers)
{
    Skin base = Describe(RichSkin());
    Reset();
    PointFolder(Folder());
    WriteWhole(Folder() + "/Rich.YUV2", base.file);
    ASSERT_EQ(Yuv2_LoadSkin(0, 3, 0, "Rich.YUV2"), 0) << gSkinLastRefusal;
    ASSERT_EQ((int)gSkins[0].count, base.elements);

    static const char* const names[] = {"Rich.YUV2", kKeyForm, "IE_KeyForm.YUV2", "Mouse_Preset.YUV2",
                                        "ToolBar_BK.YUV2"};
    int accepted = RunMutations(base, 0x5EEDF00Dull, 96, names, 5, true, 7);
    // Enough damage gets through to the drawing code to matter.
    EXPECT_GT(accepted, 15);
    EXPECT_LT(accepted, 96);
}

TEST(Mutation, DamagedProjectSkinsNeverReachOutsideTheirBuffers)
{
    std::vector<uint8_t> file = ReadWhole(TAVLIN_WINROOT "/system32/TavlinKeyForm_02030157.YUV2");
    ASSERT_FALSE(file.empty());
    Skin base = Describe(file);
    static const char* const names[] = {kKeyForm};
    int accepted = RunMutations(base, 0xC0FFEE17ull, 16, names, 1, false, 12);
    EXPECT_GT(accepted, 3);
}

} // namespace
