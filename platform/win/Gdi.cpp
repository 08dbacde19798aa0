// Memory device contexts, 32-bit DIB sections and global memory blocks.
// Each object is a heap record whose first word is its kind's tag; the
// only module state is the 1 x 1 stock bitmap a new device context holds.
#include "platform/win/Gdi.h"
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kBitmapTag = 0x42494D33; // live bitmap
constexpr uint32_t kDcTag = 0x44434D33;     // live device context
constexpr uint32_t kGlobalTag = 0x474C4233; // live memory block
constexpr LONG kMaxSide = 16384;

struct TGdiBitmap {
    uint32_t tag;
    LONG width, height; // height as created: below 0 top-down
    LONG rowBytes;
    BYTE* bits;
    void* holder; // the device context it is selected into
    bool stock;
};

struct TGdiDc {
    uint32_t tag;
    TGdiBitmap* selected;
};

struct TGlobalBlock {
    uint32_t tag;
    size_t size;
    int locks;
    BYTE* data;
};

uint32_t gStockPixel;
TGdiBitmap gStockBitmap = {kBitmapTag, 1, 1, 4, (BYTE*)&gStockPixel, nullptr, true};

TGdiBitmap* BitmapOf(HGDIOBJ h)
{
    auto* b = static_cast<TGdiBitmap*>(h);
    return b && b->tag == kBitmapTag ? b : nullptr;
}

TGdiDc* DcOf(HDC h)
{
    auto* d = static_cast<TGdiDc*>(h);
    return d && d->tag == kDcTag ? d : nullptr;
}

TGlobalBlock* BlockOf(HGLOBAL h)
{
    auto* g = static_cast<TGlobalBlock*>(h);
    return g && g->tag == kGlobalTag ? g : nullptr;
}

} // namespace

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE, DWORD)
{
    if (bits) *bits = nullptr;
    if (!info || usage != DIB_RGB_COLORS) return nullptr;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biBitCount != 32 || h.biCompression != BI_RGB || h.biPlanes != 1)
        return nullptr;
    LONG height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    if (h.biWidth <= 0 || h.biWidth > kMaxSide || height <= 0 || height > kMaxSide) return nullptr;
    auto* b = new TGdiBitmap{kBitmapTag, h.biWidth, h.biHeight, h.biWidth * 4, nullptr, nullptr, false};
    b->bits = static_cast<BYTE*>(calloc((size_t)height, (size_t)b->rowBytes));
    if (!b->bits) {
        delete b;
        return nullptr;
    }
    if (bits) *bits = b->bits;
    return b;
}

HDC CreateCompatibleDC(HDC) { return new TGdiDc{kDcTag, &gStockBitmap}; }

BOOL DeleteDC(HDC hdc)
{
    TGdiDc* d = DcOf(hdc);
    if (!d) return FALSE;
    if (d->selected && d->selected->holder == d) d->selected->holder = nullptr;
    d->tag = 0;
    delete d;
    return TRUE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object)
{
    TGdiDc* d = DcOf(hdc);
    TGdiBitmap* b = BitmapOf(object);
    if (!d || !b) return nullptr;
    if (!b->stock && b->holder && b->holder != d) return nullptr;
    TGdiBitmap* previous = d->selected;
    if (previous && previous->holder == d) previous->holder = nullptr;
    d->selected = b;
    if (!b->stock) b->holder = d;
    return previous;
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type)
{
    TGdiDc* d = DcOf(hdc);
    return d && type == OBJ_BITMAP ? d->selected : nullptr;
}

int GetObject(HGDIOBJ object, int size, void* out)
{
    TGdiBitmap* b = BitmapOf(object);
    if (!b || !out) return 0;
    BITMAP bm = {0, b->width, b->height < 0 ? -b->height : b->height, b->rowBytes, 1, 32, b->bits};
    if (size == (int)sizeof(BITMAP)) {
        memcpy(out, &bm, sizeof bm);
        return (int)sizeof bm;
    }
    if (size == (int)sizeof(DIBSECTION)) {
        DIBSECTION ds = {};
        ds.dsBm = bm;
        ds.dsBmih = {sizeof(BITMAPINFOHEADER),           b->width, b->height, 1, 32, BI_RGB,
                     (DWORD)(bm.bmHeight * b->rowBytes), 3780,     3780,      0, 0};
        memcpy(out, &ds, sizeof ds);
        return (int)sizeof ds;
    }
    return 0;
}

BOOL DeleteObject(HGDIOBJ object)
{
    TGdiBitmap* b = BitmapOf(object);
    if (!b || b->holder) return FALSE;
    if (b->stock) return TRUE;
    b->tag = 0;
    free(b->bits);
    delete b;
    return TRUE;
}

int GetDeviceCaps(HDC hdc, int index)
{
    TGdiDc* d = DcOf(hdc);
    if (!d) return 0;
    const TGdiBitmap* b = d->selected;
    switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY: return 96;
    case HORZRES: return b ? b->width : 0;
    case VERTRES: return b ? (b->height < 0 ? -b->height : b->height) : 0;
    case BITSPIXEL: return 32;
    default: return 0;
    }
}

// --- Global memory -------------------------------------------------------------

HGLOBAL GlobalAlloc(UINT flags, size_t bytes)
{
    auto* g = new TGlobalBlock{kGlobalTag, bytes, 0, nullptr};
    g->data = static_cast<BYTE*>((flags & GMEM_ZEROINIT) ? calloc(bytes ? bytes : 1, 1) : malloc(bytes ? bytes : 1));
    if (!g->data) {
        delete g;
        return nullptr;
    }
    return g;
}

HGLOBAL GlobalReAlloc(HGLOBAL block, size_t bytes, UINT flags)
{
    TGlobalBlock* g = BlockOf(block);
    if (!g || g->locks > 0) return nullptr;
    auto* data = static_cast<BYTE*>(realloc(g->data, bytes ? bytes : 1));
    if (!data) return nullptr;
    if ((flags & GMEM_ZEROINIT) && bytes > g->size) memset(data + g->size, 0, bytes - g->size);
    g->data = data;
    g->size = bytes;
    return g;
}

void* GlobalLock(HGLOBAL block)
{
    TGlobalBlock* g = BlockOf(block);
    if (!g) return nullptr;
    g->locks++;
    return g->data;
}

BOOL GlobalUnlock(HGLOBAL block)
{
    TGlobalBlock* g = BlockOf(block);
    if (!g || g->locks == 0) return FALSE;
    return --g->locks > 0 ? TRUE : FALSE;
}

size_t GlobalSize(HGLOBAL block)
{
    TGlobalBlock* g = BlockOf(block);
    return g ? g->size : 0;
}

HGLOBAL GlobalFree(HGLOBAL block)
{
    TGlobalBlock* g = BlockOf(block);
    if (!g) return block;
    g->tag = 0;
    free(g->data);
    delete g;
    return nullptr;
}
