// Test helpers for skin files: owns the process's temporary skin folder.
#include "SkinFixture.h"
#include "panel/Yuv2.h"
#include "tests/support/Scratch.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

const char kSmallSkin[] = R"(
skin name=Test.YUV2 width=512
colour surface #202428
colour panel   #30343a
colour btn     #404850
colour lit     #2a6cb3
group BG   size=64x40 kind=7999 level=0 art=background fill=surface
group BTN  size=16x10 kind=7999 level=1 glyphs=2x1 hover art=buttons labels=A looks=normal,lit
group ROW  size=8x8 kind=7999 level=1 glyphs=6x1 step=3 hover art=buttons labels="1|2" looks=normal,lit,normal
group HID  size=0x0 kind=7999 level=0 art=none
group BIG  size=40x20 kind=8005 id=1 level=0 art=panel
element BG group=BG ref=#Vout
element B1 group=BTN ref=BG at=4,4 source=1#CD target=IE_OK#SD
element R1 group=ROW ref=B1 at=4,20 items=2 columns=2 spacing=2,0 source=IE_Page#ADN target=IE_Page2#SD
element H1 group=HID ref=R1 items=2 source=1#CD target=IE_Page3#SD
element P1 group=BIG ref=BG at=20,16 source=1#CD
)";

std::vector<uint8_t> BuildSkinFile(const std::string& description, skinwrite::Skin* out)
{
    skinwrite::Description d;
    skinwrite::Skin skin;
    std::string error;
    if (!skinwrite::ParseDescription(description, &d, &error) || !skinwrite::BuildSkin(d, &skin, &error)) {
        ADD_FAILURE() << "writer: " << error;
        return {};
    }
    if (out) *out = skin;
    return skin.file;
}

uint8_t* LayoutByte(std::vector<uint8_t>& file, int offset)
{
    int width = 2 * (file[2] | (file[3] << 8));
    int row = offset / 1024, col = offset % 1024;
    return &file[16 + (size_t)row * (size_t)width * 2 + (size_t)col];
}

void PutLayout16(std::vector<uint8_t>& file, int offset, int value)
{
    *LayoutByte(file, offset) = (uint8_t)(value & 0xFF);
    *LayoutByte(file, offset + 1) = (uint8_t)((value >> 8) & 0xFF);
}

void PutLayoutName(std::vector<uint8_t>& file, int offset, const std::string& name)
{
    for (int i = 0; i < 16; ++i) *LayoutByte(file, offset + i) = i < (int)name.size() ? (uint8_t)name[(size_t)i] : 0;
}

const std::string& SkinTempDir()
{
    // Removed when the test program ends.
    static const ScratchFolder folder("tavlin-skin");
    if (!folder.Made()) ADD_FAILURE() << "cannot make a temporary folder";
    return folder.path;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    ASSERT_EQ(fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    fclose(f);
}

void UseSkinFolder(const std::string& dir)
{
    memset(gSkinFolder, 0, sizeof gSkinFolder);
    strncpy(gSkinFolder, dir.c_str(), sizeof gSkinFolder - 1);
}
