// The drawing surfaces a container hands a control that draws itself, and
// the global memory blocks data transfers carry: memory device contexts
// with 32-bit DIB sections selected into them, and movable blocks of
// bytes. Each object lives on the heap behind its handle and carries a tag
// that the calls check, so every copy of this layer in the process (the
// host's and a server library's) takes the others' handles. No state
// beyond the objects themselves.
#pragma once
#include "platform/com/WinTypes.h"
#include <cstddef>

// --- Bitmaps ------------------------------------------------------------------

struct BITMAPINFOHEADER {
    DWORD biSize; // 40
    LONG biWidth;
    LONG biHeight; // above 0: rows bottom-up; below 0: top-down
    WORD biPlanes; // 1
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40, "the header of a packed DIB");
struct RGBQUAD {
    BYTE rgbBlue, rgbGreen, rgbRed, rgbReserved;
};
struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};
// What GetObject tells of a bitmap.
struct BITMAP {
    LONG bmType; // 0
    LONG bmWidth;
    LONG bmHeight;     // always positive
    LONG bmWidthBytes; // bytes from one row to the next
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits; // the first row in memory
};
// ... and of a DIB section: the header gives the rows' order.
struct DIBSECTION {
    BITMAP dsBm;
    BITMAPINFOHEADER dsBmih;
    DWORD dsBitfields[3];
    HANDLE dshSection;
    DWORD dsOffset;
};

constexpr DWORD BI_RGB = 0;
constexpr UINT DIB_RGB_COLORS = 0;
constexpr UINT OBJ_BITMAP = 7;
// GetDeviceCaps indexes.
constexpr int HORZRES = 8, VERTRES = 10, BITSPIXEL = 12, LOGPIXELSX = 88, LOGPIXELSY = 90;

// A bitmap whose pixels the caller reaches through *bits: only 32 bits a
// pixel, BI_RGB, every pixel 0xXXRRGGBB little-endian, zeroed. Null for
// any other format, a size of 0 or above 16384 x 16384. hdc, section and
// offset are not used.
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE section, DWORD offset);
// A memory device context (hdc is not used); it starts with a 1 x 1 stock
// bitmap selected, as on Windows.
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
// Selects a bitmap into the device context and returns the one it held,
// or null when either handle is not one of these (or the bitmap is held by
// another device context).
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);
// The bitmap selected into the device context (type OBJ_BITMAP), or null.
HGDIOBJ GetCurrentObject(HDC hdc, UINT type);
// Fills a BITMAP (size sizeof(BITMAP)) or a DIBSECTION (sizeof(DIBSECTION))
// of a bitmap; returns the bytes written, 0 for anything else.
int GetObject(HGDIOBJ object, int size, void* out);
// Frees a bitmap that no device context holds; FALSE otherwise.
BOOL DeleteObject(HGDIOBJ object);
// 96 pixels an inch; the selected bitmap's width, height and depth.
int GetDeviceCaps(HDC hdc, int index);

// --- Global memory -------------------------------------------------------------

constexpr UINT GMEM_FIXED = 0x0, GMEM_MOVEABLE = 0x2, GMEM_ZEROINIT = 0x40, GHND = 0x42;

// Every block is handled as a movable one: GlobalLock gives its bytes
// (the same address every time), GlobalUnlock counts the lock down.
// Null when the size cannot be had.
HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
// Resizes the block (new bytes zeroed with GMEM_ZEROINIT); null, and the
// block unchanged, on failure or while it is locked.
HGLOBAL GlobalReAlloc(HGLOBAL block, size_t bytes, UINT flags);
void* GlobalLock(HGLOBAL block);
// TRUE while the block stays locked.
BOOL GlobalUnlock(HGLOBAL block);
// 0 for a handle that is not a block.
size_t GlobalSize(HGLOBAL block);
// Null when freed, else the handle back.
HGLOBAL GlobalFree(HGLOBAL block);
