// The start-up's skin folder and the form's background: "SysWOW64" under
// the system root when that name opens, else "system32"; the key panel's
// skin and the background bitmap from that folder, the form's own picture
// when there is no background file. A start-up runs once per process, so
// each case starts the control in a child process.
#include "control/TavlinImpl1.h"
#include "control/Version.h"
#include "panel/Yuv2.h"
#include "tests/support/Shell.h"
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A 24-bit Windows bitmap of w x h pixels of one colour (0xRRGGBB).
std::vector<uint8_t> Bmp(int w, int h, uint32_t rgb)
{
    int rowBytes = (w * 3 + 3) & ~3;
    std::vector<uint8_t> f(54 + (size_t)rowBytes * h, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; i++) f[at + i] = (uint8_t)(v >> (8 * i));
    };
    f[0] = 'B';
    f[1] = 'M';
    put32(2, (uint32_t)f.size());
    put32(10, 54);
    put32(14, 40);
    put32(18, (uint32_t)w);
    put32(22, (uint32_t)h);
    f[26] = 1;
    f[28] = 24;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint8_t* p = &f[54 + (size_t)y * rowBytes + (size_t)x * 3];
            p[0] = (uint8_t)rgb;
            p[1] = (uint8_t)(rgb >> 8);
            p[2] = (uint8_t)(rgb >> 16);
        }
    return f;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

struct TStartFolder {
    const char* sub; // where the skin and the background are expected from
    size_t skinSize; // the size of that folder's skin file
    int bmpWidth, bmpHeight;
    uint32_t bmpColour; // 0: no background file anywhere
};

// Starts the control with systemroot = root; exits 0 when the skin folder,
// the loaded skin and Image3's picture are the expected ones.
void StartFrom(const std::string& root, const TStartFolder& want)
{
    setenv("systemroot", root.c_str(), 1);
    TTavlinX* form = TavlinX_CreateForm();
    std::string folder = root + "\\" + want.sub;
    if (!form || folder != gSkinFolder) {
        fprintf(stderr, "skin folder %s, expected %s\n", gSkinFolder, folder.c_str());
        exit(3);
    }
    if (gSkinCount != 1 || gSkins[0].fileSize != want.skinSize) {
        fprintf(stderr, "skins %u, size %u, expected %zu\n", gSkinCount, gSkins[0].fileSize, want.skinSize);
        exit(4);
    }
    TPicture* background = form->Image3->Picture();
    if (want.bmpColour == 0) {
        TTavlinX described(nullptr); // the form's own picture, without the start-up
        if (background->Width() != described.Image3->Picture()->Width() ||
            background->Height() != described.Image3->Picture()->Height()) {
            fprintf(stderr, "background %dx%d\n", background->Width(), background->Height());
            exit(5);
        }
        exit(0);
    }
    TBitmap* b = background->Bitmap();
    if (background->Width() != want.bmpWidth || background->Height() != want.bmpHeight) {
        fprintf(stderr, "background %dx%d, expected %dx%d\n", background->Width(), background->Height(), want.bmpWidth,
                want.bmpHeight);
        exit(6);
    }
    uint32_t pixel = ((const uint32_t*)static_cast<const TBitmap*>(b)->ScanLine(want.bmpHeight - 1))[0] & 0xFFFFFF;
    if (pixel != want.bmpColour) {
        fprintf(stderr, "background pixel %06x, expected %06x\n", pixel, want.bmpColour);
        exit(7);
    }
    exit(0);
}

TEST(StartupDeathTest, SkinsAndBackgroundComeFromSysWow64WhenItOpensElseSystem32)
{
    // The real key panel skin, and the same skin one picture row longer,
    // so that the loaded file tells which folder it came from.
    const char* winroot = getenv("systemroot");
    ASSERT_NE(winroot, nullptr);
    std::string skinName = std::string("TavlinKeyForm_") + gVersionText + ".YUV2";
    std::string bmpName = std::string("TavlinMainForm_") + gVersionText + ".bmp";
    std::vector<uint8_t> skin;
    {
        FILE* f = fopen((std::string(winroot) + "/system32/" + skinName).c_str(), "rb");
        ASSERT_NE(f, nullptr);
        uint8_t buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) skin.insert(skin.end(), buf, buf + n);
        fclose(f);
    }
    ASSERT_GT(skin.size(), 16u);
    std::vector<uint8_t> longer = skin;
    longer.insert(longer.end(), (size_t)4 * (skin[2] | skin[3] << 8), 0xFF);

    char pattern[] = "/tmp/tavlin-startup-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string root = pattern;
    struct Case {
        const char* what;
        bool wow64, wow64Skin, bmps;
        TStartFolder want;
    } cases[] = {
        {"both folders: SysWOW64", true, true, true, {"SysWOW64", longer.size(), 5, 3, 0x3366CC}},
        {"no SysWOW64: system32", false, false, true, {"system32", skin.size(), 7, 2, 0xCC3300}},
        {"an empty SysWOW64 is still the folder", true, false, false, {"SysWOW64", 0, 0, 0, 0}},
        {"no background file: the form's own picture", false, false, false, {"system32", skin.size(), 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Shell("rm -rf '" + root + "'/*");
        ASSERT_EQ(Shell("mkdir -p '" + root + "/system32'"), 0);
        ASSERT_TRUE(WriteBytes(root + "/system32/" + skinName, skin));
        if (c.bmps) {
            ASSERT_TRUE(WriteBytes(root + "/system32/" + bmpName, Bmp(7, 2, 0xCC3300)));
        }
        if (c.wow64) {
            ASSERT_EQ(Shell("mkdir -p '" + root + "/SysWOW64'"), 0);
            if (c.wow64Skin) {
                ASSERT_TRUE(WriteBytes(root + "/SysWOW64/" + skinName, longer));
            }
            if (c.bmps) {
                ASSERT_TRUE(WriteBytes(root + "/SysWOW64/" + bmpName, Bmp(5, 3, 0x3366CC)));
            }
        }
        if (c.want.skinSize == 0) {
            // Nothing to load in SysWOW64: the panel stays without a skin.
            EXPECT_EXIT(StartFrom(root, c.want), ::testing::ExitedWithCode(4), "skins 0");
        } else {
            EXPECT_EXIT(StartFrom(root, c.want), ::testing::ExitedWithCode(0), "");
        }
    }
    Shell("rm -rf '" + root + "'");
}

} // namespace
