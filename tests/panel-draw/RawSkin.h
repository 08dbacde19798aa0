// A skin file made byte by byte for the composition and hit tests: a
// 512-pixel picture whose first 22 rows hold the layout block, then the
// background and glyph strips whose cells carry their own luma, so the
// composed picture tells which cell landed where.
#pragma once
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include "tests/support/Scratch.h"
#include <gtest/gtest.h>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

// One scratch folder per test program for the skins it writes.
inline std::string Folder()
{
    static const std::string dir = ScratchDir("tavlin-skin");
    return dir;
}

struct RawSkin {
    static constexpr int kWidth = 512;
    int rows;
    std::vector<uint8_t> file;
    int groups = 0, elements = 0;

    explicit RawSkin(int pictureRows = 200) : rows(pictureRows), file(16 + (size_t)kWidth * 2 * (size_t)pictureRows, 0)
    {
        file[2] = (uint8_t)((kWidth / 2) & 0xFF);
        file[3] = (uint8_t)((kWidth / 2) >> 8);
        // Every picture unit below the layout starts transparent.
        for (int y = 22; y < rows; ++y)
            for (int x = 0; x < kWidth; ++x) SetUnit(x, y, 0xFF, 0xFF);
    }

    uint8_t* Layout(int offset) { return &file[16 + (size_t)offset]; } // rows are 1024 bytes wide
    void Put16(int offset, int v)
    {
        Layout(offset)[0] = (uint8_t)(v & 0xFF);
        Layout(offset)[1] = (uint8_t)((v >> 8) & 0xFF);
    }
    void PutName(int offset, const std::string& s)
    {
        memset(Layout(offset), 0, 16);
        memcpy(Layout(offset), s.data(), s.size() < 16 ? s.size() : 16);
    }
    void SetUnit(int x, int y, uint8_t luma, uint8_t chroma)
    {
        uint8_t* u = &file[16 + ((size_t)y * kWidth + (size_t)x) * 2];
        u[0] = luma;
        u[1] = chroma;
    }
    const uint8_t* Unit(int x, int y) const { return &file[16 + ((size_t)y * kWidth + (size_t)x) * 2]; }

    struct Group {
        std::string name;
        int w, h, stripX, stripY, columns, glyphRows, step, kind, id, level;
    };
    int AddGroup(const Group& g)
    {
        int at = 100 + 100 * groups;
        PutName(at, g.name);
        Put16(at + 16, g.w);
        Put16(at + 18, g.h);
        Put16(at + 20, g.stripX);
        Put16(at + 22, g.stripY);
        Put16(at + 24, g.columns);
        Put16(at + 26, g.glyphRows);
        Put16(at + 28, g.step);
        Put16(at + 30, g.kind);
        Put16(at + 32, g.id);
        Put16(at + 34, g.level);
        Put16(8, ++groups);
        return groups - 1;
    }
    struct Element {
        Element(std::string n, std::string g, std::string r)
            : name(std::move(n)), group(std::move(g)), ref(std::move(r))
        {
        }
        std::string name, group, ref;
        int dx = 0, dy = 0, items = 1, radial = 0, radius = 0, sx = 0, sy = 0, columns = 0, extra = 0, value = 0;
        std::string source, target;
    };
    int AddElement(const Element& e)
    {
        int at = 6500 + 164 * elements;
        PutName(at, e.name);
        PutName(at + 16, e.group);
        PutName(at + 32, e.ref);
        Put16(at + 48, e.dx);
        Put16(at + 50, e.dy);
        Put16(at + 52, e.items);
        Put16(at + 56, e.radial);
        Put16(at + 58, e.radius);
        Put16(at + 60, e.sx);
        Put16(at + 62, e.sy);
        Layout(at + 64)[0] = (uint8_t)e.columns;
        Layout(at + 65)[0] = (uint8_t)e.extra;
        Put16(at + 66, e.value);
        PutName(at + 68, e.source);
        PutName(at + 84, e.target);
        Put16(10, ++elements);
        return elements - 1;
    }
    // Fills the w x h cells of a strip: cell (c, r) has luma base + 16 c + r.
    void FillStrip(int stripX, int stripY, int w, int h, int columns, int glyphRows, int base)
    {
        for (int r = 0; r < glyphRows; ++r)
            for (int c = 0; c < columns; ++c)
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        SetUnit(stripX + c * w + x, stripY + r * h + y, (uint8_t)(base + 16 * c + r), 0x80);
    }
    void Fill(int x0, int y0, int w, int h, uint8_t luma, uint8_t chroma)
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) SetUnit(x0 + x, y0 + y, luma, chroma);
    }

    // Writes the file into the test folder and loads it at (0, 3).
    int Load(const std::string& dir, const char* name)
    {
        std::string path = dir + "/" + name;
        FILE* f = fopen(path.c_str(), "wb");
        if (!f) return -1;
        fwrite(file.data(), 1, file.size(), f);
        fclose(f);
        memset(gSkinFolder, 0, sizeof gSkinFolder);
        strncpy(gSkinFolder, dir.c_str(), sizeof gSkinFolder - 1);
        return Yuv2_LoadSkin(0, 3, 0, name);
    }
};

// Luma of composed unit (x, y).
inline int PictureLuma(int x, int y) { return gSkinPicture[((size_t)y * (size_t)gSkinPictureWidth + (size_t)x) * 2]; }
