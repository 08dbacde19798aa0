// tavlin-skinwrite: builds .YUV2 skin files and plain bitmaps from a readable
// description and artwork drawn here in code. The core is a library so that
// the tests can build skins in memory and compare them with what the viewer
// loads. Nothing here reads an existing skin.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace skinwrite {

// ---- drawing surface ------------------------------------------------------

// 0xAARRGGBB; alpha 0 is transparent, anything else opaque.
typedef uint32_t Colour;
const Colour kClear = 0x00000000u;

struct Canvas {
    int width = 0, height = 0;
    std::vector<Colour> px;
    void Resize(int w, int h, Colour fill);
    Colour At(int x, int y) const;
    void Set(int x, int y, Colour c);
};

void FillRect(Canvas& c, int x, int y, int w, int h, Colour colour);
void FrameRect(Canvas& c, int x, int y, int w, int h, Colour colour, int thickness = 1);
// Filled box whose corners are cut by one pixel step (painted in `corner`).
void Box(Canvas& c, int x, int y, int w, int h, Colour fill, Colour border, Colour corner);
// Text in the 5 x 7 font: 6 pixels per character at scale 1, baseline free.
void DrawText(Canvas& c, int x, int y, const std::string& text, Colour colour, int scale = 1);
int TextWidth(const std::string& text, int scale = 1);
void DrawTextCentred(Canvas& c, int cx, int cy, const std::string& text, Colour colour, int scale = 1);
// Pictograms for buttons: play, rev, pause, step, fast, slow, prev, next, up,
// down, grid2, grid3, grid4, dot; centred at cx, cy within size pixels.
bool DrawIcon(Canvas& c, const std::string& name, int cx, int cy, int size, Colour colour);
// Copies src into dst at x, y (transparent pixels are copied too).
void Blit(Canvas& dst, const Canvas& src, int x, int y);

// ---- description ----------------------------------------------------------

typedef std::map<std::string, std::string> Options;

struct GroupDesc {
    std::string name;
    int w = 0, h = 0;
    int kind = 7999, id = 0, level = 0;
    int columns = 1, rows = 1, step = 0; // glyph strip
    bool hover = false;
    std::string art;
    Options options;
    int line = 0;
};

struct ElementDesc {
    std::string name, group, ref;
    enum Place { AT, CENTRE, OFFSET } place = OFFSET;
    int px = 0, py = 0; // top-left (AT), centre (CENTRE) or raw offset
    int items = 1, columns = 0, extra = 0, value = 0;
    int spacingX = 0, spacingY = 0, radial = 0, radius = 0;
    std::string source, target;
    int line = 0;
};

// One drawing operation on a group's first cell or on a canvas.
struct DrawOp {
    std::string target, op;
    std::vector<std::string> args;
    Options options;
    int line = 0;
};

struct CanvasDesc {
    std::string name;
    int w = 0, h = 0;
    Colour fill = 0xFF000000u;
};

// A preview state: variable keys (full keys, "IE_CH#ADN") to values, plus
// calendar helpers (calendar=YYYY-MM-DD, recdays=..., slot=N, time=...).
struct StateDesc {
    std::string name;
    std::map<std::string, std::vector<int32_t>> values;
    Options options;
};

struct Description {
    std::string skinName;
    int width = 1024;
    std::map<std::string, Colour> colours;
    std::vector<GroupDesc> groups;
    std::vector<ElementDesc> elements;
    std::vector<DrawOp> draws;
    std::vector<CanvasDesc> canvases;
    std::vector<StateDesc> states;
};

bool ParseDescription(const std::string& text, Description* out, std::string* error);
bool ReadFile(const std::string& path, std::string* text);

// ---- the built skin -------------------------------------------------------

// A group as it goes into the layout block.
struct GroupRecord {
    std::string name;
    int16_t w, h, stripX, stripY, columns, rows, step, kind, id, level;
};

// An element record and where the description wants it drawn.
struct ElementRecord {
    std::string name, group, ref, source, target;
    int groupIndex = -1, refIndex = -1; // -1: "#Vout"
    int16_t offsetX = 0, offsetY = 0, items = 1, radial = 0, radius = 0;
    int16_t spacingX = 0, spacingY = 0, value = 0;
    int8_t columns = 0, extra = 0;
    int centreX = 0, centreY = 0; // build-time centre in panel pixels
};

struct Skin {
    int width = 0, rows = 0; // file picture
    Canvas picture;          // the artwork, layout rows left free
    std::vector<GroupRecord> groups;
    std::vector<ElementRecord> elements;
    std::vector<uint8_t> file; // the .YUV2 file
    int background = -1;       // group index of the background
};

bool BuildSkin(const Description& d, Skin* out, std::string* error);
// Renders a canvas described with `canvas` and `draw` lines.
bool BuildCanvas(const Description& d, const std::string& name, Canvas* out, std::string* error);

// ---- pixel format ---------------------------------------------------------

// The viewer's conversion of one unit of a pair word {Y0, U, Y1, V} to RGB
// (opacity 0): R = Y + (V*292 >> 8) - 146, G = Y - ((V*149 + U*101) >> 8) + 125,
// B = Y + (U*516 >> 8) - 258, clamped.
void YuvToRgb(int y, int u, int v, int* r, int* g, int* b);
// The 16-bit units of a canvas, W x H, as stored in the file: per pixel
// {Y, chroma}, chroma U at even and V at odd pixels; transparent pixels are
// 0xFFFF. U always has its two low (opacity) bits clear.
std::vector<uint8_t> EncodePixelRows(const Canvas& c);
// The largest per-component error of opaque pixels whose pair holds one colour.
int UniformPairError(const Canvas& c, const std::vector<uint8_t>& rows);

std::vector<uint8_t> EncodeBmp(const Canvas& c); // 24-bit, bottom-up
std::vector<uint8_t> EncodePng(const Canvas& c); // RGB, stored deflate blocks
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// ---- preview --------------------------------------------------------------

// Composes the panel from the skin's file under a preview state and returns
// what the viewer would show. hoverElement/hoverSub select a hovered item
// (-1: none).
bool ComposePreview(const Skin& skin, const Description& d, const std::string& state, int hoverElement, int hoverSub,
                    Canvas* out, std::string* error);

} // namespace skinwrite
