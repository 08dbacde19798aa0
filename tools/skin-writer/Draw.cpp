// Drawing primitives of the skin writer: boxes, a 5 x 7 pixel font defined
// here as data, and the button pictograms. Everything is pixel art on an
// RGBA canvas; nothing is anti-aliased, so colours stay exact.
#include "SkinWriter.h"
#include <cstring>

namespace skinwrite {

void Canvas::Resize(int w, int h, Colour fill)
{
    width = w;
    height = h;
    px.assign((size_t)w * (size_t)h, fill);
}

Colour Canvas::At(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height) return kClear;
    return px[(size_t)y * (size_t)width + (size_t)x];
}

void Canvas::Set(int x, int y, Colour c)
{
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    px[(size_t)y * (size_t)width + (size_t)x] = c;
}

void FillRect(Canvas& c, int x, int y, int w, int h, Colour colour)
{
    for (int j = y; j < y + h; ++j)
        for (int i = x; i < x + w; ++i) c.Set(i, j, colour);
}

void FrameRect(Canvas& c, int x, int y, int w, int h, Colour colour, int t)
{
    FillRect(c, x, y, w, t, colour);
    FillRect(c, x, y + h - t, w, t, colour);
    FillRect(c, x, y, t, h, colour);
    FillRect(c, x + w - t, y, t, h, colour);
}

void Box(Canvas& c, int x, int y, int w, int h, Colour fill, Colour border, Colour corner)
{
    FillRect(c, x, y, w, h, fill);
    FrameRect(c, x, y, w, h, border);
    // Cut corners: two pixels wide in the outer rows keep pairs whole.
    FillRect(c, x, y, 2, 1, corner);
    FillRect(c, x + w - 2, y, 2, 1, corner);
    FillRect(c, x, y + h - 1, 2, 1, corner);
    FillRect(c, x + w - 2, y + h - 1, 2, 1, corner);
    c.Set(x, y + 1, corner);
    c.Set(x + w - 1, y + 1, corner);
    c.Set(x, y + h - 2, corner);
    c.Set(x + w - 1, y + h - 2, corner);
    c.Set(x + 1, y + 1, border);
    c.Set(x + w - 2, y + 1, border);
    c.Set(x + 1, y + h - 2, border);
    c.Set(x + w - 2, y + h - 2, border);
}

// 5 x 7 glyphs, seven rows of five cells per character ('#' lit), top row
// first.
struct Glyph {
    char ch;
    const char* rows[7];
};

static const Glyph kFont[] = {
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'4', {"...#.", "..##.", ".#.#.", "#..#.", "#####", "...#.", "...#."}},
    {'5', {"#####", "#....", "####.", "....#", "....#", "#...#", ".###."}},
    {'6', {"..##.", ".#...", "#....", "####.", "#...#", "#...#", ".###."}},
    {'7', {"#####", "....#", "...#.", "..#..", ".#...", ".#...", ".#..."}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'9', {".###.", "#...#", "#...#", ".####", "....#", "...#.", ".##.."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'B', {"####.", "#...#", "#...#", "####.", "#...#", "#...#", "####."}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"###..", "#..#.", "#...#", "#...#", "#...#", "#..#.", "###.."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'F', {"#####", "#....", "#....", "####.", "#....", "#....", "#...."}},
    {'G', {".###.", "#...#", "#....", "#.###", "#...#", "#...#", ".####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'J', {"..###", "...#.", "...#.", "...#.", "...#.", "#..#.", ".##.."}},
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'Q', {".###.", "#...#", "#...#", "#...#", "#.#.#", "#..#.", ".##.#"}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'W', {"#...#", "#...#", "#...#", "#.#.#", "#.#.#", "#.#.#", ".#.#."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'Y', {"#...#", "#...#", ".#.#.", "..#..", "..#..", "..#..", "..#.."}},
    {'Z', {"#####", "....#", "...#.", "..#..", ".#...", "#....", "#####"}},
    {':', {".....", ".##..", ".##..", ".....", ".##..", ".##..", "....."}},
    {'/', {".....", "....#", "...#.", "..#..", ".#...", "#....", "....."}},
    {'-', {".....", ".....", ".....", "#####", ".....", ".....", "....."}},
    {'+', {".....", "..#..", "..#..", "#####", "..#..", "..#..", "....."}},
    {'%', {"##...", "##..#", "...#.", "..#..", ".#...", "#..##", "...##"}},
    {',', {".....", ".....", ".....", ".....", ".##..", "..#..", ".#..."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {'(', {"...#.", "..#..", ".#...", ".#...", ".#...", "..#..", "...#."}},
    {')', {".#...", "..#..", "...#.", "...#.", "...#.", "..#..", ".#..."}},
    {'<', {"...#.", "..#..", ".#...", "#....", ".#...", "..#..", "...#."}},
    {'>', {".#...", "..#..", "...#.", "....#", "...#.", "..#..", ".#..."}},
    {'!', {"..#..", "..#..", "..#..", "..#..", "..#..", ".....", "..#.."}},
    {'?', {".###.", "#...#", "....#", "...#.", "..#..", ".....", "..#.."}},
};

static const Glyph* FindGlyph(char ch)
{
    if (ch >= 'a' && ch <= 'z') ch = (char)(ch - 'a' + 'A');
    for (const Glyph& g : kFont)
        if (g.ch == ch) return &g;
    return &kFont[0];
}

int TextWidth(const std::string& text, int scale)
{
    if (text.empty()) return 0;
    return (int)text.size() * 6 * scale - scale;
}

void DrawText(Canvas& c, int x, int y, const std::string& text, Colour colour, int scale)
{
    for (size_t k = 0; k < text.size(); ++k) {
        const Glyph* g = FindGlyph(text[k]);
        int ox = x + (int)k * 6 * scale;
        for (int r = 0; r < 7; ++r)
            for (int col = 0; col < 5; ++col)
                if (g->rows[r][col] == '#') FillRect(c, ox + col * scale, y + r * scale, scale, scale, colour);
    }
}

void DrawTextCentred(Canvas& c, int cx, int cy, const std::string& text, Colour colour, int scale)
{
    DrawText(c, cx - TextWidth(text, scale) / 2, cy - (7 * scale) / 2, text, colour, scale);
}

// Right-pointing (dir 1) or left-pointing (dir -1) solid triangle of height
// 2 * half + 1 whose flat side is at x.
static void Triangle(Canvas& c, int x, int cy, int half, int dir, Colour colour)
{
    for (int d = -half; d <= half; ++d) {
        int len = half - (d < 0 ? -d : d) + 1;
        for (int i = 0; i < len; ++i) c.Set(x + dir * i, cy + d, colour);
    }
}

// Upward (dir -1) or downward (dir 1) triangle whose flat side is at y.
static void TriangleV(Canvas& c, int cx, int y, int half, int dir, Colour colour)
{
    for (int d = -half; d <= half; ++d) {
        int len = half - (d < 0 ? -d : d) + 1;
        for (int i = 0; i < len; ++i) c.Set(cx + d, y + dir * i, colour);
    }
}

static void Grid(Canvas& c, int cx, int cy, int n, int size, Colour colour)
{
    int cell = size / n;
    int w = cell * n + 1;
    int x0 = cx - w / 2, y0 = cy - (cell * n * 3 / 4 + 1) / 2;
    int h = (cell * 3 / 4) * n + 1;
    int ch = cell * 3 / 4;
    FrameRect(c, x0, y0, w, h, colour);
    for (int k = 1; k < n; ++k) {
        FillRect(c, x0 + k * cell, y0, 1, h, colour);
        FillRect(c, x0, y0 + k * ch, w, 1, colour);
    }
}

bool DrawIcon(Canvas& c, const std::string& name, int cx, int cy, int size, Colour colour)
{
    int half = size / 2;
    if (name == "play") {
        Triangle(c, cx - half / 2, cy, half, 1, colour);
    } else if (name == "rev") {
        Triangle(c, cx + half / 2, cy, half, -1, colour);
    } else if (name == "pause") {
        FillRect(c, cx - half + 1, cy - half, half - 1, 2 * half + 1, colour);
        FillRect(c, cx + 1, cy - half, half - 1, 2 * half + 1, colour);
    } else if (name == "step") {
        FillRect(c, cx - half, cy - half, 2, 2 * half + 1, colour);
        Triangle(c, cx - half + 4, cy, half, 1, colour);
    } else if (name == "fast") {
        Triangle(c, cx - half, cy, half - 1, 1, colour);
        Triangle(c, cx, cy, half - 1, 1, colour);
    } else if (name == "slow") {
        FillRect(c, cx - half, cy - half + 1, 2, 2 * half - 1, colour);
        Triangle(c, cx - half + 4, cy, half - 1, 1, colour);
        FillRect(c, cx + half / 2 + 1, cy - half + 1, 2, 2 * half - 1, colour);
    } else if (name == "prev") {
        Triangle(c, cx + half / 2, cy, half, -1, colour);
    } else if (name == "next") {
        Triangle(c, cx - half / 2, cy, half, 1, colour);
    } else if (name == "up") {
        TriangleV(c, cx, cy + half / 2, half, -1, colour);
    } else if (name == "down") {
        TriangleV(c, cx, cy - half / 2, half, 1, colour);
    } else if (name == "grid2") {
        Grid(c, cx, cy, 2, size, colour);
    } else if (name == "grid3") {
        Grid(c, cx, cy, 3, size, colour);
    } else if (name == "grid4") {
        Grid(c, cx, cy, 4, size, colour);
    } else if (name == "dot") {
        FillRect(c, cx - half, cy - half, 2 * half, 2 * half, colour);
    } else {
        return false;
    }
    return true;
}

void Blit(Canvas& dst, const Canvas& src, int x, int y)
{
    for (int j = 0; j < src.height; ++j)
        for (int i = 0; i < src.width; ++i) dst.Set(x + i, y + j, src.At(i, j));
}

} // namespace skinwrite
