// Skin composition: the background of a registered skin is copied into
// gSkinPicture, every element's items are laid over it glyph by glyph by
// kind and bound variables, the hovered item gets its overlay, and the
// 4:2:2 picture becomes RGB in the form's Image1. Owns gSkinPicture,
// gSkinWork, gHover, gLastDrawn, gPanelPairs (hold code and redraw request
// in pair 0) and gKeyFormWidth, and keeps what the last redraw composed
// from, so that a redraw that would compose the same picture again leaves
// the one Image1 shows. Every rectangle is clipped to the picture it reads
// or writes; every index a skin drives is checked first.
#include "panel/Yuv2.h"
#include "panel/Hooks.h"
#include "media/DateText.h"
#include "panel/Ie_com.h"
#include "panel/Month.h"
#include "panel/SkinVars.h"
#include <cmath>
#include <cstdio>
#include <cstring>

uint8_t gSkinPicture[SKIN_PICTURE_SIZE];
uint8_t gSkinWork[SKIN_WORK_SIZE];
int32_t gHover[2] = {-1, -1};
int32_t gLastDrawn[2] = {-2, -2};

void Panel_Invalidate() { gLastDrawn[0] = gLastDrawn[1] = -2; }
TPanelPair gPanelPairs[PANEL_PAIR_COUNT];
int32_t& gHoldCode = gPanelPairs[0].position;
int32_t& gRedrawRequest = gPanelPairs[0].value;
int32_t gKeyFormWidth;
int32_t gSkinPictureWidth, gSkinPictureHeight;

static const char kKeyFormSkin[] = "TavlinKeyForm_02030157.YUV2";
static const char kKeyFormAlias[] = "IE_KeyForm.YUV2";
static const char kToolBarSkin[] = "ToolBar_BK.YUV2";

// Calls that write gSkinPicture, gSkinWork or Image1's bitmap (every
// composition, rectangle copy and drawing): a redraw's picture is still
// the one it left while the count stands.
static uint64_t sPictureCalls;
// The last composition copied the background over the whole picture, so
// that nothing it drew depends on what the picture held before.
static bool sPictureCovered;

// The file picture being composed (pixel rows after the 16-byte head).
static int32_t sFileWidth, sFileRows;
// Magnifier region of the held item, remembered during a composition.
static TSkinRect sMagnifier;
static int32_t sMagnifierSet;

static int32_t sSin[256], sCos[256];
static int32_t sTablesReady;

static void MakeTables()
{
    if (sTablesReady) return;
    for (int k = 0; k < 256; ++k) {
        double a = 2.0 * 3.14159 * k / 256.0;
        sSin[k] = (int32_t)lround(65536.0 * sin(a));
        sCos[k] = (int32_t)lround(65536.0 * cos(a));
    }
    sTablesReady = 1;
}

int32_t Yuv2_Sin(int32_t index)
{
    MakeTables();
    return sSin[index & 255];
}

int32_t Yuv2_Cos(int32_t index)
{
    MakeTables();
    return sCos[index & 255];
}

static int32_t Clamp32(int64_t v)
{
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return (int32_t)v;
}

static bool IsKeyFormSkin(const char* name)
{
    return name && (strcmp(name, kKeyFormSkin) == 0 || strcmp(name, kKeyFormAlias) == 0);
}

static bool Letter(char c, char upper) { return c == upper || c == upper + ('a' - 'A'); }

static const TSkinElement* ElementAt(int32_t e)
{
    return (e >= 0 && e < SKIN_ELEMENT_ROOM) ? &gSkinElements[e] : nullptr;
}

// ---- rectangles ------------------------------------------------------------

TSkinRect Yuv2_MakeRect(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    TSkinRect r;
    r.left = left & ~1; // pixel pairs stay whole
    r.top = top;
    r.right = right;
    r.bottom = bottom;
    return r;
}

// Copies `width` units of file picture row y from column x into out; units
// outside the file picture become transparent (0xFFFF).
static void CopyFileRow(int64_t x, int64_t y, int32_t width, uint8_t* out)
{
    if (y < 0 || y >= sFileRows) {
        memset(out, 0xFF, (size_t)width * 2);
        return;
    }
    // The part of the run that lies inside the row: [from, to) of the run.
    int64_t from = x < 0 ? -x : 0, to = (int64_t)sFileWidth - x;
    if (to > width) to = width;
    if (from > width) from = width;
    if (to < from) to = from;
    memset(out, 0xFF, (size_t)from * 2);
    if (to > from) {
        const uint8_t* row = gSkinFileBuffer + YUV2_PIXELS_OFFSET + (size_t)y * (size_t)sFileWidth * 2;
        memcpy(out + from * 2, row + (size_t)(x + from) * 2, (size_t)(to - from) * 2);
    }
    memset(out + to * 2, 0xFF, (size_t)(width - to) * 2);
}

int32_t Yuv2_CopyRect(const TSkinRect* source, int32_t width, int32_t height)
{
    ++sPictureCalls;
    if (width <= 0 || height <= 0 || (int64_t)width * height * 2 > SKIN_WORK_SIZE) return -1;
    for (int32_t j = 0; j < height; ++j)
        CopyFileRow(source->left, (int64_t)source->top + j, width, gSkinWork + (size_t)j * (size_t)width * 2);
    return 0;
}

// n units from in onto out, skipping transparent ones (0xFFFF).
static void PutUnitsTransparent(const uint8_t* in, uint8_t* out, int32_t n)
{
    int32_t i = 0;
    // Four units at a time while none of them is transparent.
    for (; i + 4 <= n; i += 4) {
        uint64_t units;
        memcpy(&units, in + 2 * i, 8);
        uint64_t inverse = ~units; // a transparent unit is a zero lane here
        if (((inverse - 0x0001000100010001ull) & units & 0x8000800080008000ull) == 0) {
            memcpy(out + 2 * i, &units, 8);
            continue;
        }
        for (int32_t k = 0; k < 4; ++k) {
            uint16_t unit = (uint16_t)(units >> (16 * k));
            if (unit != 0xFFFF) memcpy(out + 2 * (i + k), &unit, 2);
        }
    }
    for (; i < n; ++i) {
        uint16_t unit;
        memcpy(&unit, in + 2 * i, 2);
        if (unit != 0xFFFF) memcpy(out + 2 * i, &unit, 2);
    }
}

// The part [*from, *to) of a run of length units starting at start that
// falls inside 0 .. extent - 1; false when none does.
static bool VisibleRun(int64_t start, int32_t length, int32_t extent, int32_t* from, int32_t* to)
{
    *from = start < 0 ? (int32_t)(start < -(int64_t)length ? length : -start) : 0;
    int64_t room = (int64_t)extent - start;
    *to = room < 0 ? 0 : room < length ? (int32_t)room : length;
    return *to > *from;
}

// The columns of a run of width units at left, and the rows of a block of
// height rows at top, that fall inside the composed picture.
static bool VisibleColumns(int64_t left, int32_t width, int32_t* from, int32_t* to)
{
    return VisibleRun(left, width, gSkinPictureWidth, from, to);
}
static bool VisibleRows(int64_t top, int32_t height, int32_t* from, int32_t* to)
{
    return VisibleRun(top, height, gSkinPictureHeight, from, to);
}

void Yuv2_CopyRectTransparent(const TSkinRect* destination, int32_t width, int32_t height)
{
    ++sPictureCalls;
    if (width <= 0 || height <= 0 || (int64_t)width * height * 2 > SKIN_WORK_SIZE) return;
    int64_t left = destination->left;
    int32_t from, to, top, bottom;
    if (!VisibleColumns(left, width, &from, &to) || !VisibleRows(destination->top, height, &top, &bottom)) return;
    for (int32_t j = top; j < bottom; ++j) {
        int64_t y = (int64_t)destination->top + j;
        const uint8_t* in = gSkinWork + ((size_t)j * (size_t)width + (size_t)from) * 2;
        PutUnitsTransparent(in, gSkinPicture + ((size_t)y * (size_t)gSkinPictureWidth + (size_t)(left + from)) * 2,
                            to - from);
    }
}

// Unit (x, y) of the composed picture, or null outside it.
static uint8_t* PictureUnit(int64_t x, int64_t y)
{
    if (x < 0 || y < 0 || x >= gSkinPictureWidth || y >= gSkinPictureHeight) return nullptr;
    return gSkinPicture + ((size_t)y * (size_t)gSkinPictureWidth + (size_t)x) * 2;
}

static void PutUnit(int64_t x, int64_t y, uint8_t luma, uint8_t chroma)
{
    if (uint8_t* o = PictureUnit(x, y)) {
        o[0] = luma;
        o[1] = chroma;
    }
}

void Yuv2_CopyRectScaled(const TSkinRect* region)
{
    ++sPictureCalls;
    int32_t mw = region->right - region->left, mh = region->bottom - region->top;
    if (mw <= 0 || mh <= 0 || (int64_t)mw * mh * 2 > SKIN_WORK_SIZE) return;
    // The region out of the composed picture, rows packed.
    for (int32_t j = 0; j < mh; ++j)
        for (int32_t i = 0; i < mw; ++i) {
            uint8_t* w = gSkinWork + ((size_t)j * (size_t)mw + (size_t)i) * 2;
            const uint8_t* u = PictureUnit((int64_t)region->left + i, (int64_t)region->top + j);
            w[0] = u ? u[0] : 0x80;
            w[1] = u ? u[1] : 0x80;
        }
    int64_t x0 = (int64_t)region->left - (mw >> 1);
    if (x0 & 1) x0 -= 1;
    if (x0 < 0) x0 = 0;
    if (x0 + 2 * (int64_t)mw > gSkinPictureWidth) x0 = (int64_t)gSkinPictureWidth - 2 * (int64_t)mw;
    if (x0 < 0) x0 = 0;
    int64_t y0 = (int64_t)region->top - 2 * (int64_t)mh - (mw >> 1);
    if (y0 < 0) y0 = 0;
    const uint16_t outline = 0x8000;
    // Chroma of source unit i of a row: U at even, V at odd units.
    auto chromaOf = [&](int32_t j, int32_t i, bool wantV) -> uint8_t {
        int32_t unit = (i & ~1) + (wantV ? 1 : 0); // the region starts on a pair
        if (unit >= mw) unit = mw - 1;
        return gSkinWork[((size_t)j * (size_t)mw + (size_t)unit) * 2 + 1];
    };
    for (int32_t j = 0; j < mh; ++j)
        for (int32_t i = 0; i < mw; ++i) {
            const uint8_t* s = gSkinWork + ((size_t)j * (size_t)mw + (size_t)i) * 2;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    int64_t x = x0 + 2 * i + dx, y = y0 + 2 * j + dy;
                    bool edge = j == 0 || i == 0 || i == mw - 1;
                    if (edge) {
                        PutUnit(x, y, (uint8_t)(outline & 0xFF), (uint8_t)(outline >> 8));
                        continue;
                    }
                    // Each destination pair carries U at its even and V at its odd unit.
                    PutUnit(x, y, s[0], chromaOf(j, i, (x & 1) != 0));
                }
        }
    // The pointer below the callout, filled with the last source row.
    int64_t top = y0 + 2 * (int64_t)mh;
    for (int32_t r = 0; r < (mw >> 1); ++r) {
        int64_t left = x0 + r, right = x0 + 2 * (int64_t)mw - 1 - r;
        if (left > right) break;
        for (int64_t x = left; x <= right; ++x) {
            if (x == left || x == right) {
                PutUnit(x, top + r, (uint8_t)(outline & 0xFF), (uint8_t)(outline >> 8));
                continue;
            }
            int32_t i = (int32_t)((x - x0) / 2);
            if (i >= mw) i = mw - 1;
            const uint8_t* s = gSkinWork + ((size_t)(mh - 1) * (size_t)mw + (size_t)i) * 2;
            PutUnit(x, top + r, s[0], chromaOf(mh - 1, i, (x & 1) != 0));
        }
    }
}

// False during the passes of a composition whose drawing a later copy of
// the background covers again: their glyphs are not drawn (all else that
// a pass does is).
static bool sGlyphsLast = true;

// Copies cell (gc, gr) of e's strip, w x h, centred on (cx, cy + yShift).
static void DrawCellAt(const TSkinElement* e, int64_t sourceLeft, int64_t sourceTop, int64_t cx, int64_t cy)
{
    int32_t w = e->itemWidth, h = e->itemHeight;
    if (w <= 0 || h <= 0 || !sGlyphsLast) return;
    TSkinRect src = Yuv2_MakeRect(Clamp32(sourceLeft), Clamp32(sourceTop), 0, 0);
    TSkinRect dst =
        Yuv2_MakeRect(Clamp32(cx - (w >> 1)), Clamp32(cy - (h >> 1)), Clamp32(cx + (w >> 1)), Clamp32(cy + (h >> 1)));
    // As Yuv2_CopyRect into gSkinWork and Yuv2_CopyRectTransparent out of
    // it, for the units that land inside the picture only. Units outside
    // the file picture would come out transparent and write nothing, so
    // each row goes straight from the part of the file it covers.
    if ((int64_t)w * h * 2 > SKIN_WORK_SIZE) return;
    int32_t from, to, top, bottom;
    if (!VisibleColumns(dst.left, w, &from, &to) || !VisibleRows(dst.top, h, &top, &bottom)) return;
    int32_t inFrom, inTo, inTop, inBottom;
    if (!VisibleRun((int64_t)src.left + from, to - from, sFileWidth, &inFrom, &inTo) ||
        !VisibleRun((int64_t)src.top + top, bottom - top, sFileRows, &inTop, &inBottom))
        return;
    for (int32_t j = top + inTop; j < top + inBottom; ++j) {
        int64_t y = (int64_t)dst.top + j;
        int64_t fileX = (int64_t)src.left + from + inFrom, fileY = (int64_t)src.top + j;
        PutUnitsTransparent(
            gSkinFileBuffer + YUV2_PIXELS_OFFSET + ((size_t)fileY * (size_t)sFileWidth + (size_t)fileX) * 2,
            gSkinPicture + ((size_t)y * (size_t)gSkinPictureWidth + (size_t)((int64_t)dst.left + from + inFrom)) * 2,
            inTo - inFrom);
    }
}

// ---- geometry ----------------------------------------------------------------

// Passes in which element r is visited (and so has its centre refreshed).
static int32_t VisitedPasses(const TSkinElement* r)
{
    int32_t n = r->itemCount > r->refItemCount ? r->itemCount : r->refItemCount;
    return n < 0 ? 0 : n;
}

// Centre of element index e as it stands in pass p: elements that draw no
// glyph keep their built centre; the others follow their reference.
static void CentreInPass(int32_t e, int32_t p, int32_t depth, int64_t* x, int64_t* y);

static void ReferenceCentre(const TSkinElement* el, int32_t p, int32_t depth, int64_t* x, int64_t* y)
{
    if (el->reference < 0) {
        *x = el->itemWidth >> 1;
        *y = el->itemHeight >> 1;
        return;
    }
    if (!ElementAt(el->reference) || el->reference == (int32_t)(el - gSkinElements) || depth > SKIN_ELEMENT_ROOM) {
        *x = el->refCentreX;
        *y = el->refCentreY;
        return;
    }
    CentreInPass(el->reference, p, depth + 1, x, y);
}

// Item p's centre of element el whose reference centre is (rx, ry).
static void GridCentre(const TSkinElement* el, int32_t p, int64_t rx, int64_t ry, int64_t* x, int64_t* y)
{
    int32_t w = el->itemWidth, h = el->itemHeight;
    int32_t count = el->itemCount;
    *x = rx + el->offsetX;
    *y = ry + el->offsetY;
    if (count < 2) return;
    int32_t c = el->columns;
    if (c <= 0) return;
    int64_t rows = ((int64_t)count + el->extraCells + c - 1) / c;
    if (rows < 1) rows = 1;
    int64_t gw = (int64_t)(c - 1) * el->spacingX + (int64_t)w * c;
    int64_t gh = (rows - 1) * el->spacingY + (int64_t)h * rows;
    *x += -(gw >> 1) + (w >> 1) + (int64_t)(w + el->spacingX) * (p % c);
    *y += -(gh >> 1) + (h >> 1) + (int64_t)(h + el->spacingY) * (p / c);
}

static void CentreInPass(int32_t e, int32_t p, int32_t depth, int64_t* x, int64_t* y)
{
    const TSkinElement* el = ElementAt(e);
    if (!el) {
        *x = *y = 0;
        return;
    }
    int32_t visited = VisitedPasses(el);
    bool background = false;
    for (uint32_t s = 0; s < gSkinCount && s < SKIN_ENTRY_ROOM; ++s)
        if (gSkins[s].first == (uint32_t)e) background = true;
    if (background || el->glyphColumns == 0 || visited == 0) {
        *x = el->builtCentreX;
        *y = el->builtCentreY;
        return;
    }
    int32_t q = p < visited ? p : visited - 1;
    int64_t rx, ry;
    ReferenceCentre(el, q, depth, &rx, &ry);
    GridCentre(el, q, rx, ry, x, y);
}

int32_t Yuv2_ItemCentre(int32_t e, int32_t p, int32_t* x, int32_t* y)
{
    const TSkinElement* el = ElementAt(e);
    if (!el) return -1;
    int64_t rx, ry, cx, cy;
    ReferenceCentre(el, p, 0, &rx, &ry);
    GridCentre(el, p, rx, ry, &cx, &cy);
    *x = Clamp32(cx);
    *y = Clamp32(cy);
    return 0;
}

int32_t Yuv2_RadialCentre(int32_t e, int32_t p, int32_t* x, int32_t* y)
{
    const TSkinElement* el = ElementAt(e);
    if (!el || el->itemCount <= 0 || p < 0 || p >= el->itemCount) return -1;
    int32_t a = (256 / el->itemCount) * p;
    if (a > 255) a &= 255;
    int64_t rx, ry;
    ReferenceCentre(el, p, 0, &rx, &ry);
    *x = Clamp32(rx + el->offsetX + ((int64_t)Yuv2_Cos(a) * el->radius) / 65536);
    *y = Clamp32(ry + el->offsetY - ((int64_t)Yuv2_Sin(a) * el->radius) / 65536);
    return 0;
}

int32_t Yuv2_ItemRect(int32_t e, int32_t p, TSkinRect* rect)
{
    int32_t cx, cy;
    if (Yuv2_ItemCentre(e, p, &cx, &cy) != 0) return -1;
    const TSkinElement* el = &gSkinElements[e];
    *rect = Yuv2_MakeRect(Clamp32((int64_t)cx - (el->itemWidth >> 1)), Clamp32((int64_t)cy - (el->itemHeight >> 1)),
                          Clamp32((int64_t)cx + (el->itemWidth >> 1)), Clamp32((int64_t)cy + (el->itemHeight >> 1)));
    return 0;
}

void Yuv2_ElementGeometry(int32_t e, int32_t p)
{
    if (e < 0 || e >= SKIN_ELEMENT_ROOM) return;
    TSkinElement* el = &gSkinElements[e];
    if (el->reference < 0) {
        el->refCentreX = (int16_t)(el->itemWidth >> 1);
        el->refCentreY = (int16_t)(el->itemHeight >> 1);
        el->offsetX = el->offsetY = 0;
        el->refLit = 1;
    }
    // The reference's centre, walked once: what is refreshed here from it
    // does not change it (a centre never depends on the element asking).
    int64_t rx, ry;
    ReferenceCentre(el, p, 0, &rx, &ry);
    if (el->reference >= 0) {
        if (const TSkinElement* ref = ElementAt(el->reference)) {
            el->refCentreX = (int16_t)Clamp32(rx);
            el->refCentreY = (int16_t)Clamp32(ry);
            el->refOffsetX = ref->offsetX;
            el->refOffsetY = ref->offsetY;
            el->refLit = ref->lit;
        }
    }
    // Item p's centre, as Yuv2_ItemCentre gives it.
    int64_t cx, cy;
    GridCentre(el, p, rx, ry, &cx, &cy);
    el->centreX = (int16_t)Clamp32(cx);
    el->centreY = (int16_t)Clamp32(cy);
}

// ---- item painters -------------------------------------------------------------

static int32_t SourceValue(const TSkinElement* e, int64_t index, bool* ok)
{
    int32_t* v = Yuv2_SourceAt(e, index);
    *ok = v != nullptr;
    return v ? *v : 0;
}

// The glyph (column, row) as drawn at (cx, cy): the generic look.
static void DrawGlyph(const TSkinElement* e, int64_t gc, int64_t gr, int64_t cx, int64_t cy)
{
    int64_t left = ((int64_t)e->stripX + (int64_t)e->itemWidth * gc + 1) & ~(int64_t)1;
    int64_t top = (int64_t)e->stripY + (int64_t)e->itemHeight * gr;
    DrawCellAt(e, left, top, cx, cy);
}

static int64_t DecimalDigits(int64_t n)
{
    int64_t d = 0;
    while (n > 0) {
        ++d;
        n /= 10;
    }
    return d;
}

void Yuv2_DrawNumber(int32_t p, int32_t element, int32_t first, int32_t offset)
{
    (void)first;
    const TSkinElement* e = ElementAt(element);
    if (!e || e->glyphColumns <= 0) return;
    bool arraySource = Letter(e->sourceKind1, 'A') && e->sourceVar;
    bool ok = true;
    if (arraySource) {
        int32_t v = SourceValue(e, (int64_t)p + offset, &ok);
        if (!ok || v == -1) return;
    }
    int64_t n = 0;
    switch (e->kind) {
    case 0:
    case 1: n = (int64_t)p + offset + e->valueOffset; break;
    case 2:
    case 3: n = e->sourceVar ? *e->sourceVar : 0; break;
    case 8001: {
        int32_t t = SourceValue(e, p, &ok);
        if (!ok) return;
        TDateParts d;
        Date_FromSeconds((uint32_t)t, &d);
        n = d.day;
        break;
    }
    default: return;
    }
    if (n < 0) return; // no glyph for a sign
    int64_t digits, columns;
    if (e->kind == 1 || e->kind == 2) {
        digits = e->itemCount;
        columns = e->columns;
    } else {
        digits = DecimalDigits(n);
        if (n == 0) digits = e->valueOffset == 0 ? 1 : 0;
        columns = digits;
    }
    if (digits <= 0 || digits > 64) return;
    int32_t w = e->itemWidth, h = e->itemHeight;
    int64_t rows = 1; // columns 0: the grid is one cell
    if (columns > 0) rows = (digits + e->extraCells + columns - 1) / columns;
    else columns = 1;
    if (rows < 1) rows = 1;
    int64_t gw = (columns - 1) * e->spacingX + (int64_t)w * columns;
    int64_t gh = (rows - 1) * e->spacingY + (int64_t)h * rows;
    int64_t cx = (int64_t)e->refCentreX + e->offsetX, cy = (int64_t)e->refCentreY + e->offsetY;
    int64_t gridLeft = cx - (gw >> 1) + (w >> 1), gridTop = cy - (gh >> 1) + (h >> 1);

    int64_t variant = 0;
    if (e->kind == 0 || e->kind == 1) {
        if (e->sourceVar) variant = SourceValue(e, (int64_t)p + offset, &ok);
    } else if (e->kind == 8001) {
        TDateParts d;
        Date_FromSeconds((uint32_t)SourceValue(e, p, &ok), &d);
        variant = d.month != Mon_M ? 1 : 0;
    }
    int32_t N = e->glyphColumns, R = e->glyphRows, s = e->glyphStep;
    int64_t rest = n;
    int64_t place[64];
    for (int64_t i = digits - 1; i >= 0; --i) {
        place[i] = rest % 10;
        rest /= 10;
    }
    for (int64_t i = 0; i < digits; ++i) {
        int64_t k = place[i];
        int64_t gr = (k * s) / N, gc = (k * s) % N + variant;
        if (gc > N || gc < 0 || gr > R || gr < 0) continue;
        int64_t x = gridLeft + (int64_t)(w + e->spacingX) * (i % N);
        int64_t y = gridTop + (int64_t)(h + e->spacingY) * (i / N);
        int64_t left = ((int64_t)e->stripX + (int64_t)w * gc) & ~(int64_t)1;
        int64_t top = (int64_t)e->stripY + (int64_t)h * gr;
        DrawCellAt(e, left, top, x, y);
    }
}

void Yuv2_DrawRadialItem(int32_t p, int32_t element, int32_t first)
{
    (void)first;
    const TSkinElement* e = ElementAt(element);
    if (!e || e->glyphColumns <= 0) return;
    int32_t count = e->itemCount;
    if (count <= 0 || p < 0 || p >= count) return; // a circle without items draws nothing
    int32_t cx, cy;
    if (Yuv2_RadialCentre(element, p, &cx, &cy) != 0) return;
    int64_t x = cx, y = cy;
    int32_t N = e->glyphColumns, s = e->glyphStep;
    int64_t gr = ((int64_t)p * s) / N, gc = ((int64_t)p * s) % N;
    if (gr > e->glyphRows) return;
    DrawGlyph(e, gc, gr, x, y);
    // The cell one column to the left; for column 0 that is the overlay cell
    // just left of the strip.
    if (gHover[0] == element && gHover[1] == p && !gHoldActive) DrawGlyph(e, gc - 1, gr, x, y);
}

// The slider pair of item id k; pair 0 (hold and redraw words) is no slider.
static TPanelPair* SliderPair(int32_t k) { return (k >= 1 && k < PANEL_PAIR_COUNT) ? &gPanelPairs[k] : nullptr; }

void Yuv2_DrawKind8011Item(int32_t p, int32_t element, int32_t first)
{
    (void)p;
    (void)first;
    const TSkinElement* e = ElementAt(element);
    if (!e) return;
    TPanelPair* pair = SliderPair(e->itemId);
    if (!pair) return;
    bool horizontal = e->spacingX >= 1, vertical = !horizontal && e->spacingY > 0;
    int32_t centre = horizontal ? e->centreX : e->centreY;
    int32_t spacing = horizontal ? e->spacingX : e->spacingY;
    if (e->itemId == SD_Bar || gRedrawRequest == REDRAW_SLIDERS) {
        pair->position = Clamp32((int64_t)centre + ((int64_t)pair->value - (e->valueOffset >> 1)) * spacing);
        if (gRedrawRequest == REDRAW_NOW) {
            SD_Bar = 0;
            gRedrawRequest = 0;
        }
    }
    if (pair->position == 0) pair->position = centre;
    int64_t left = ((int64_t)e->stripX + 1) & ~(int64_t)1;
    if (horizontal) DrawCellAt(e, left, e->stripY, pair->position, e->centreY);
    else if (vertical) DrawCellAt(e, left, e->stripY, e->centreX, pair->position);
    else DrawCellAt(e, left, e->stripY, e->centreX, e->centreY);
}

void Yuv2_DrawKind8006Item(int32_t p, int32_t element, int32_t first)
{
    (void)p;
    (void)first;
    const TSkinElement* e = ElementAt(element);
    if (!e || !e->sourceVar) return;
    int64_t v = *e->sourceVar;
    if (v < 0) v = 0; // a percentage
    if (v > 100) v = 100;
    int32_t w = e->itemWidth, h = e->itemHeight;
    if (e->spacingX >= 1) {
        int64_t cut = ((int64_t)w * v * 10) / 1000;
        DrawCellAt(e, ((int64_t)e->stripX - cut + 1) & ~(int64_t)1, e->stripY, e->centreX, e->centreY);
    } else if (e->spacingY > 0) {
        int64_t cut = ((int64_t)h * v * 10) / 1000;
        DrawCellAt(e, ((int64_t)e->stripX + 1) & ~(int64_t)1, (int64_t)e->stripY - cut + 1, e->centreX, e->centreY);
    }
}

void Yuv2_DrawDateTime(int32_t p, int32_t element, int32_t first)
{
    (void)first;
    const TSkinElement* e = ElementAt(element);
    if (!e || !e->sourceVar || p < 0 || p >= 63) return;
    // One character per item: the text is formatted once for the time and
    // date order it shows, not again for each of its characters.
    static char text[64];
    static uint32_t textTime, textOrder;
    static bool textReady;
    uint32_t time = (uint32_t)*e->sourceVar;
    if (!textReady || time != textTime || gDateOrder != textOrder) {
        Text_FormatDateTime(time, text, sizeof text);
        textTime = time;
        textOrder = gDateOrder;
        textReady = true;
    }
    char c = text[p];
    int32_t cell = 0;
    if (c >= '0' && c <= '9') cell = c - '0';
    else if (c == ':') cell = 10;
    else if (c == '/') cell = 11;
    else if (c == ' ') cell = 12;
    DrawGlyph(e, cell, 0, e->centreX, e->centreY);
}

// Lit flag of a tool-bar element (kind 8005).
static int16_t ToolBarLit(const TSkinElement* e, const char* name)
{
    if (!IsKeyFormSkin(name)) {
        if (!name || strcmp(name, kToolBarSkin) != 0) return 1;
        return e->itemId == Sys_State ? 1 : 0;
    }
    switch (e->itemId) {
    case 6: return IE_PB_PS == 1;
    case 4: return IE_Month_T == 0;
    case 3: return IE_Month_T != 0;
    case 0:
    case 5:
        if (IE_Page2 != 0) return 0;
        return (e->itemId == 5) == (IE_M_CH == 8);
    default: return IE_Page2 != 3 && IE_Page2 != -1 && IE_Page2 == e->itemId;
    }
}

static void DrawGeneric(int32_t p, int32_t index, int32_t offset)
{
    const TSkinElement* e = &gSkinElements[index];
    int64_t N = e->glyphColumns, R = e->glyphRows, s = e->glyphStep;
    if (N <= 0) return;
    bool aSource = Letter(e->sourceKind1, 'A') && e->sourceVar;
    bool sSource = Letter(e->sourceKind1, 'S') && e->sourceVar;
    bool aTarget = Letter(e->targetKind1, 'A') && e->targetVar;
    int64_t gc = 0, gr = 0, xShift = 0, yShift = 0;
    bool ok = true;
    if (e->kind == 7999 && sSource) {
        int64_t v = *e->sourceVar;
        gc = v % N;
        gr = v / N;
    } else if (e->kind == 8009) {
        if (aSource) {
            xShift = SourceValue(e, 0, &ok);
            yShift = SourceValue(e, 1, &ok);
        }
    } else if (s >= 1) {
        if (aSource) {
            int32_t v = SourceValue(e, (int64_t)p + offset, &ok);
            if (!ok || v == -1) return;
            gc = (s * p) % N;
            gr = (s * p) / N;
            int32_t add = SourceValue(e, p, &ok);
            if (!ok) return;
            if (N >= 2) gc += add;
            else if (R >= 2) gr += add;
        } else {
            gc = (s * p) % N;
            gr = (s * p) / N;
            if (e->kind == 8007 && s >= 2) gc += e->sourceVar ? *e->sourceVar : 0;
            else if (e->targetVar && s >= 2 && *e->targetVar == p) gc += 1;
        }
    } else if (aTarget) {
        int32_t* v = Yuv2_TargetAt(e, (int64_t)p + offset);
        if (!v) return;
        gc = *v % N;
        gr = *v / N;
    } else if (aSource) {
        int32_t v = SourceValue(e, (int64_t)p + offset, &ok);
        if (!ok) return;
        gc = v % N;
        gr = v / N;
    } else {
        int64_t t = e->targetVar ? *e->targetVar : 0;
        int64_t base = 0;
        if (Letter(e->sourceKind1, 'C')) base = Yuv2_NameNumber(index);
        else if (Letter(e->sourceKind3, 'C') && e->sourceVar) base = *e->sourceVar;
        if (e->kind == 8004) {
            gc = offset != 0 ? 1 : 0;
            gr = 0;
        } else {
            int64_t lit = (p + base == t && t >= 0 && t <= 255) ? 1 : 0;
            gc = base == 255 ? 2 : (lit + s * p) % N;
            gr = (lit + s * p) / N;
        }
    }
    if (gc > N || gc < -1) gc = -1;
    if (gr > R || gr < -1) gr = -1;
    if (gc == -1 || gr == -1) return;

    bool hovered = gHover[0] == index && gHover[1] == p + 1;
    int64_t hoverShift = (hovered && e->kind == 8010 && e->minLevel == 1) ? -4 : 0;
    int64_t cx = (int64_t)e->centreX + xShift, cy = (int64_t)e->centreY + yShift + hoverShift;
    DrawGlyph(e, gc, gr, cx, cy);

    if (!hovered) return;
    int32_t state = 1;
    bool modeKind = e->kind == 8000 || e->kind == 8003;
    if (!modeKind) {
        if (gHoldActive) state = gHoldCode == HOLD_DAY ? 2 : 0;
    } else if (e->sourceVar && (e->itemId == 0 || e->itemId == 2)) {
        int32_t v = SourceValue(e, p, &ok);
        if (!ok || v != 1) state = 0;
    }
    if ((state == 1 && gc != 2 && (s == 0 || s >= 3)) || e->kind == 8007) {
        int64_t left = ((int64_t)e->stripX - e->itemWidth) & ~(int64_t)1;
        DrawCellAt(e, left, e->stripY, e->centreX, (int64_t)e->centreY + hoverShift);
    }
    if (state == 2) {
        sMagnifier = Yuv2_MakeRect(
            Clamp32((int64_t)e->centreX - (e->itemWidth >> 1)), Clamp32((int64_t)e->centreY - (e->itemHeight >> 1)),
            Clamp32((int64_t)e->centreX + (e->itemWidth >> 1)), Clamp32((int64_t)e->centreY + (e->itemHeight >> 1)));
        sMagnifierSet = 1;
    }
}

// ---- composition ------------------------------------------------------------

// The file picture of the registered skin whose elements start at first.
// A skin without elements shares its first slot with the next skin and is
// passed over.
static void UseFilePicture(uint32_t first)
{
    for (uint32_t s = 0; s < gSkinCount && s < SKIN_ENTRY_ROOM; ++s)
        if (gSkins[s].first == first && gSkins[s].count > 0) {
            sFileWidth = gSkins[s].width;
            sFileRows = gSkins[s].rows;
            return;
        }
    sFileWidth = 2 * (gSkinFileBuffer[2] | (gSkinFileBuffer[3] << 8));
    sFileRows = sFileWidth > 0 ? (int32_t)((YUV2_FILE_MAX - YUV2_PIXELS_OFFSET) / ((uint32_t)sFileWidth * 2)) : 0;
}

int32_t Yuv2_Compose(const char* name, uint32_t first, uint32_t count, int32_t passes, int32_t offset)
{
    ++sPictureCalls;
    if (first >= SKIN_ELEMENT_ROOM || count == 0) return -1;
    if (count > SKIN_ELEMENT_ROOM - first) count = SKIN_ELEMENT_ROOM - first;
    UseFilePicture(first);
    const TSkinElement* bg = &gSkinElements[first];
    int32_t bw = bg->itemWidth, bh = bg->itemHeight;
    if (bw <= 0 || bh <= 0 || (bw & 1) || (int64_t)bw * bh * 2 > SKIN_PICTURE_SIZE) return -1;
    gSkinPictureWidth = bw;
    gSkinPictureHeight = bh;
    sMagnifierSet = 0;
    sPictureCovered = false;
    if (passes > 32767) passes = 32767;
    // Passes beyond the most any element is visited in visit nothing.
    int32_t visited = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const TSkinElement* e = &gSkinElements[first + i];
        int32_t n = e->itemCount > e->refItemCount ? e->itemCount : e->refItemCount;
        if (n > visited) visited = n;
    }
    if (passes > visited) passes = visited;
    // Each pass that visits the background starts by copying it over the
    // whole picture, the same copy each time (nothing a pass does moves
    // it): what earlier passes drew is covered by the last of them.
    int32_t lastCover = (bg->itemCount > bg->refItemCount ? bg->itemCount : bg->refItemCount) - 1;
    if (lastCover > passes - 1) lastCover = passes - 1;

    for (int32_t p = 0; p < passes; ++p) {
        sGlyphsLast = p >= lastCover;
        for (uint32_t i = 0; i < count; ++i) {
            int32_t index = (int32_t)(first + i);
            TSkinElement* e = &gSkinElements[index];
            if (!(p < e->itemCount) && !(p < e->refItemCount)) continue;
            if (i == 0) {
                if (p != lastCover) continue; // covered again later
                // The background, copied whole (pairs intact).
                int64_t left = ((int64_t)e->centreX - (bw >> 1)) & ~(int64_t)1;
                int64_t top = (int64_t)e->centreY - (bh >> 1) + e->stripY;
                for (int32_t y = 0; y < bh; ++y)
                    CopyFileRow(left, top + y, bw, gSkinPicture + (size_t)y * (size_t)bw * 2);
                sPictureCovered = true;
                continue;
            }
            if (e->glyphColumns == 0) continue;
            Yuv2_ElementGeometry(index, p);
            int32_t kind = e->kind;
            if (kind == 8000 || kind == 8003) e->lit = (int16_t)(e->itemId == MOD);
            else if (kind == 8005) e->lit = ToolBarLit(e, name);
            if (!e->lit || !e->refLit) continue;
            switch (kind) {
            case 0:
            case 1:
            case 2:
            case 3:
            case 8001: Yuv2_DrawNumber(p, index, (int32_t)first, offset); continue;
            case 8011: Yuv2_DrawKind8011Item(p, index, (int32_t)first); continue;
            default: break;
            }
            if (e->radial == 1 && kind != 8002) {
                Yuv2_DrawRadialItem(p, index, (int32_t)first);
                continue;
            }
            if (kind == 8006) {
                Yuv2_DrawKind8006Item(p, index, (int32_t)first);
                continue;
            }
            if (kind == 8008) {
                Yuv2_DrawDateTime(p, index, (int32_t)first);
                continue;
            }
            if (kind == 8002 || e->radial != 0) continue;
            DrawGeneric(p, index, offset);
        }
    }
    sGlyphsLast = true;
    if (sMagnifierSet) Yuv2_CopyRectScaled(&sMagnifier);
    if (gRedrawRequest == REDRAW_SLIDERS) gRedrawRequest = 0;
    return 0;
}

// ---- conversion ----------------------------------------------------------------

static int32_t Blend(int32_t c, int32_t target, int32_t a)
{
    int32_t v = (c * (100 - a) + target * a) / 100;
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

uint32_t Yuv2_YuvToRgb(uint32_t pair, int32_t odd, int32_t target, int32_t opacity)
{
    int32_t Y = odd ? (int32_t)((pair >> 16) & 0xFF) : (int32_t)(pair & 0xFF);
    int32_t U = (int32_t)((pair >> 8) & 0xFF), V = (int32_t)((pair >> 24) & 0xFF);
    int32_t R = Y + ((V * 292) >> 8) - 146;
    int32_t G = Y - ((V * 149 + U * 101) >> 8) + 125;
    int32_t B = Y + ((U * 516) >> 8) - 258;
    R = Blend(R, target, opacity);
    G = Blend(G, target, opacity);
    B = Blend(B, target, opacity);
    return ((uint32_t)R << 16) | ((uint32_t)G << 8) | (uint32_t)B;
}

// Blend(c, 255, a) for the components a pair can give (-258 .. 510) at the
// five opacities of a picture pixel (0, 25, 50, 75, 100).
enum { BLEND_LOW = -258, BLEND_HIGH = 510 };
static uint8_t sBlendToWhite[5][BLEND_HIGH - BLEND_LOW + 1];
static int32_t sBlendReady;

static void MakeBlendTables()
{
    if (sBlendReady) return;
    for (int32_t k = 0; k < 5; ++k)
        for (int32_t c = BLEND_LOW; c <= BLEND_HIGH; ++c)
            sBlendToWhite[k][c - BLEND_LOW] = (uint8_t)Blend(c, 255, 25 * k);
    sBlendReady = 1;
}

void Yuv2_PictureRow(int32_t row, int32_t width, uint32_t* out)
{
    if (width <= 0) return;
    if (row < 0) {
        // Above the picture: nothing of it to show.
        for (int32_t c = 0; c < width; ++c) out[c] = 0;
        return;
    }
    if (width & 1) {
        // Pairs straddle the rows: pixel by pixel.
        for (int32_t c = 0; c < width; ++c) {
            size_t pairIndex = ((size_t)row * (size_t)width + (size_t)c) / 2;
            if ((pairIndex + 1) * 4 > SKIN_PICTURE_SIZE) {
                out[c] = 0;
                continue;
            }
            const uint8_t* q = gSkinPicture + pairIndex * 4;
            uint16_t even = (uint16_t)(q[0] | (q[1] << 8)), oddUnit = (uint16_t)(q[2] | (q[3] << 8));
            int32_t a = even == 0xFFFF ? 100 : (q[1] & 3) * 25;
            if (even == 0xFFFF) even = 0x8080;
            if (oddUnit == 0xFFFF) oddUnit = 0x8080;
            uint32_t pair = (uint32_t)even | ((uint32_t)oddUnit << 16);
            out[c] = Yuv2_YuvToRgb(pair, c & 1, 255, a);
        }
        return;
    }
    // Whole pairs, each giving its two pixels: the same as Yuv2_YuvToRgb
    // with the chroma offsets worked out once a pair and the blend towards
    // white from the table. A pair equal to the one before it gives the
    // same two pixels again (pictures have runs of them).
    MakeBlendTables();
    size_t firstPair = (size_t)row * (size_t)width / 2;
    uint32_t lastPair = 0;
    bool haveLast = false;
    for (int32_t c = 0; c < width; c += 2) {
        size_t pairIndex = firstPair + (size_t)c / 2;
        if ((pairIndex + 1) * 4 > SKIN_PICTURE_SIZE) {
            out[c] = out[c + 1] = 0;
            continue;
        }
        uint32_t pair;
        memcpy(&pair, gSkinPicture + pairIndex * 4, 4);
        if (haveLast && pair == lastPair) {
            out[c] = out[c - 2];
            out[c + 1] = out[c - 1];
            continue;
        }
        lastPair = pair;
        haveLast = true;
        uint32_t even = pair & 0xFFFF, oddUnit = pair >> 16;
        int32_t k = even == 0xFFFF ? 4 : (int32_t)((pair >> 8) & 3);
        if (even == 0xFFFF) even = 0x8080;
        if (oddUnit == 0xFFFF) oddUnit = 0x8080;
        int32_t U = (int32_t)(even >> 8), V = (int32_t)(oddUnit >> 8);
        int32_t dR = ((V * 292) >> 8) - 146 - BLEND_LOW;
        int32_t dG = 125 - ((V * 149 + U * 101) >> 8) - BLEND_LOW;
        int32_t dB = ((U * 516) >> 8) - 258 - BLEND_LOW;
        const uint8_t* t = sBlendToWhite[k];
        int32_t y0 = (int32_t)(even & 0xFF), y1 = (int32_t)(oddUnit & 0xFF);
        out[c] = ((uint32_t)t[y0 + dR] << 16) | ((uint32_t)t[y0 + dG] << 8) | (uint32_t)t[y0 + dB];
        out[c + 1] = ((uint32_t)t[y1 + dR] << 16) | ((uint32_t)t[y1 + dG] << 8) | (uint32_t)t[y1 + dB];
    }
}

// The composed picture as Image1's bitmap last received it, so that a
// redraw converts only the rows that changed since; valid while the bitmap
// is the one drawn, of that size, and untouched since.
static uint8_t sDrawnPicture[SKIN_PICTURE_SIZE];
static const TBitmap* sDrawnBitmap;
static int32_t sDrawnWidth, sDrawnHeight;
static uint64_t sDrawnChangeCount;

void Yuv2_DrawBitmap(int32_t height, int32_t width, const char* name)
{
    ++sPictureCalls;
    (void)name;
    if (!gViewerForm || !gViewerForm->Image1 || width <= 0 || height <= 0) return;
    if ((int64_t)width * height * 2 > SKIN_PICTURE_SIZE) return;
    TBitmap* b = gViewerForm->Image1->Picture()->Bitmap();
    b->SetPixelFormat(pf32bit);
    b->SetSize(width, height);
    bool known =
        b == sDrawnBitmap && width == sDrawnWidth && height == sDrawnHeight && b->ChangeCount() == sDrawnChangeCount;
    size_t rowBytes = (size_t)width * 2;
    for (int32_t r = 0; r < height; ++r) {
        const uint8_t* composed = gSkinPicture + (size_t)r * rowBytes;
        uint8_t* drawn = sDrawnPicture + (size_t)r * rowBytes;
        if (known && memcmp(composed, drawn, rowBytes) == 0) continue;
        Yuv2_PictureRow(r, width, (uint32_t*)b->ScanLine(r));
        memcpy(drawn, composed, rowBytes);
    }
    sDrawnBitmap = b;
    sDrawnWidth = width;
    sDrawnHeight = height;
    sDrawnChangeCount = b->ChangeCount();
    gViewerForm->Image1->Invalidate();
}

// ---- redraw ----------------------------------------------------------------------

// What a composition reads, and so all that decides what it draws and
// what it leaves behind: the skin entries, the runtime elements, the file
// picture (by gSkinFileFills), the values behind the elements' bound
// variables and the panel words the painters look at. Besides these it
// writes only gSkinPicture, gSkinWork and the picture size, which it sets
// from the background before anything reads it.
enum { COMPOSE_WORDS = 21, COMPOSE_VALUE_ROOM = 4096 };
struct TComposeInputs {
    TSkinEntry skins[SKIN_ENTRY_ROOM];
    uint32_t skinCount;
    uint32_t fileFills;
    int32_t words[COMPOSE_WORDS];
    int32_t width, height; // gSkinPictureWidth, gSkinPictureHeight
    TSkinElement elements[SKIN_ELEMENT_ROOM];
    uint32_t valueCount;
    int32_t values[COMPOSE_VALUE_ROOM];
};

static void ComposeWords(int32_t* w)
{
    const int32_t words[COMPOSE_WORDS] = {gHover[0],
                                          gHover[1],
                                          gHoldActive,
                                          gPanelPairs[0].position,
                                          gPanelPairs[0].value,
                                          gPanelPairs[1].position,
                                          gPanelPairs[1].value,
                                          gPanelPairs[2].position,
                                          gPanelPairs[2].value,
                                          gPanelPairs[3].position,
                                          gPanelPairs[3].value,
                                          MOD,
                                          Sys_State,
                                          IE_PB_PS,
                                          IE_Month_T,
                                          IE_Page2,
                                          IE_M_CH,
                                          Mon_M,
                                          SD_Bar,
                                          A_Num,
                                          (int32_t)gDateOrder};
    static_assert(PANEL_PAIR_COUNT == 4, "every slider pair is a composition word");
    memcpy(w, words, sizeof words);
}

// Calls f(values, n) for each bound variable of every element, in element
// order (the same walk for the same elements); false when f refuses one.
template <typename F> static bool EachBoundValue(const TSkinElement* elements, F f)
{
    for (uint32_t i = 0; i < SKIN_ELEMENT_ROOM; ++i) {
        const TSkinElement* e = &elements[i];
        if (e->sourceVar && !f(e->sourceVar, e->sourceCount > 1 ? (uint32_t)e->sourceCount : 1u)) return false;
        if (e->targetVar && !f(e->targetVar, e->targetCount > 1 ? (uint32_t)e->targetCount : 1u)) return false;
    }
    return true;
}

// The inputs as they stand now into *in; false when the bound values do
// not fit.
static bool TakeComposeInputs(TComposeInputs* in)
{
    memcpy(in->skins, gSkins, sizeof gSkins);
    in->skinCount = gSkinCount;
    in->fileFills = gSkinFileFills;
    ComposeWords(in->words);
    in->width = gSkinPictureWidth;
    in->height = gSkinPictureHeight;
    memcpy(in->elements, gSkinElements, sizeof gSkinElements);
    in->valueCount = 0;
    return EachBoundValue(gSkinElements, [&](const int32_t* v, uint32_t n) {
        if (n > COMPOSE_VALUE_ROOM - in->valueCount) return false;
        memcpy(in->values + in->valueCount, v, n * sizeof *v);
        in->valueCount += n;
        return true;
    });
}

// The inputs now are the ones in *in, the picture size too when withSize.
static bool SameComposeInputs(const TComposeInputs* in, bool withSize)
{
    int32_t words[COMPOSE_WORDS];
    ComposeWords(words);
    if (withSize && (in->width != gSkinPictureWidth || in->height != gSkinPictureHeight)) return false;
    if (in->skinCount != gSkinCount || in->fileFills != gSkinFileFills || memcmp(in->words, words, sizeof words) != 0 ||
        memcmp(in->skins, gSkins, sizeof gSkins) != 0 || memcmp(in->elements, gSkinElements, sizeof gSkinElements) != 0)
        return false;
    // The elements are the same, so are their bindings and the walk.
    uint32_t at = 0;
    return EachBoundValue(gSkinElements, [&](const int32_t* v, uint32_t n) {
        if (n > in->valueCount - at || memcmp(in->values + at, v, n * sizeof *v) != 0) return false;
        at += n;
        return true;
    });
}

// The last redraw's composition: its inputs, when it was its own result
// (it left every input as it found it), and the count of composition and
// drawing calls after it.
static TComposeInputs sInputs[2];
static TComposeInputs* sComposed = &sInputs[0]; // kept while sComposedKept
static TComposeInputs* sComposing = &sInputs[1];
static bool sComposedKept;
static int32_t sComposedEntry;
static uint64_t sComposedCalls;

// Image1 shows gSkinPicture as the last redraw composed and drew it.
static bool ShownAsComposed(int32_t width, int32_t height)
{
    if (!gViewerForm || !gViewerForm->Image1 || sPictureCalls != sComposedCalls) return false;
    if (width != sDrawnWidth || height != sDrawnHeight) return false;
    TBitmap* b = gViewerForm->Image1->Picture()->Bitmap();
    if (b != sDrawnBitmap || b->ChangeCount() != sDrawnChangeCount || b->PixelFormat() != pf32bit) return false;
    // sDrawnPicture is that composition (drawn right after it); nothing
    // wrote over gSkinPicture since.
    return memcmp(gSkinPicture, sDrawnPicture, (size_t)width * (size_t)height * 2) == 0;
}

// Registered skins a redraw composes.
static uint32_t LiveSkins()
{
    uint32_t n = 0;
    for (uint32_t s = 0; s < gSkinCount && s < SKIN_ENTRY_ROOM; ++s)
        if (gSkins[s].x >= 0) ++n;
    return n;
}

void Yuv2_Redraw(int32_t force)
{
    bool request = gRedrawRequest == REDRAW_NOW || force == 1;
    bool marker = gLastDrawn[0] == -2 && gLastDrawn[1] == -2;
    bool moved = gHover[0] != gLastDrawn[0] || gHover[1] != gLastDrawn[1];
    if (gSkinElementTotal == 0) return;
    if (!request && !marker && !moved) return;
    gLastDrawn[0] = gHover[0];
    gLastDrawn[1] = gHover[1];
    for (int32_t s = (int32_t)(gSkinCount < (uint32_t)SKIN_ENTRY_ROOM ? gSkinCount : (uint32_t)SKIN_ENTRY_ROOM) - 1;
         s >= 0; --s) {
        const TSkinEntry* entry = &gSkins[s];
        if (entry->x < 0) continue;
        int32_t read = Yuv2_RefreshSkinFile(s);
        if (read == SKIN_READ_MISSING) break;
        if (read == SKIN_READ_CHANGED) continue; // not what was loaded: leave it
        Preset_SetIoButtons();
        // With one skin, gSkinPicture is its alone: a composition of the
        // inputs the last one read and left unchanged gives what Image1
        // shows already.
        bool alone = LiveSkins() == 1;
        if (alone && sComposedKept && sComposedEntry == s && SameComposeInputs(sComposed, true) &&
            ShownAsComposed(gSkinPictureWidth, gSkinPictureHeight)) {
            if (IsKeyFormSkin(entry->name)) gKeyFormWidth = gSkinPictureWidth;
            gViewerForm->Image1->Invalidate();
            continue;
        }
        sComposedKept = false;
        bool taken = alone && TakeComposeInputs(sComposing);
        int32_t offset = entry->kind == 770 ? A_Num : 0;
        if (Yuv2_Compose(entry->name, entry->first, entry->count, entry->largest, offset) != 0) continue;
        if (IsKeyFormSkin(entry->name)) gKeyFormWidth = gSkinPictureWidth;
        Yuv2_DrawBitmap(gSkinPictureHeight, gSkinPictureWidth, entry->name);
        // Its own result: the same inputs again give the same picture, as
        // long as it covered the picture with the background first. The
        // size it found does not count (it sets it before reading it).
        if (taken && sPictureCovered && SameComposeInputs(sComposing, false)) {
            sComposing->width = gSkinPictureWidth;
            sComposing->height = gSkinPictureHeight;
            TComposeInputs* kept = sComposing;
            sComposing = sComposed;
            sComposed = kept;
            sComposedKept = true;
            sComposedEntry = s;
            sComposedCalls = sPictureCalls;
        }
    }
    // A redraw request is served once the panel is drawn, slider or not.
    if (gRedrawRequest == REDRAW_NOW) gRedrawRequest = 0;
}
