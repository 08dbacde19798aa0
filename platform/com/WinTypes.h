// The Windows base types the COM layer, the registry and the library loader
// are written in: fixed-width integers of the Windows sizes, BOOL, WCHAR
// (16-bit, UTF-16) and the opaque handles. Nothing here has state.
#pragma once
#include <cstddef>
#include <cstdint>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef char CHAR;
typedef float FLOAT;
typedef double DOUBLE;
typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Windows' wide character: one UTF-16 code unit.
typedef char16_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;

// Opaque handles. A window handle is whatever the window layer hands out;
// device contexts, bitmaps and global memory blocks are those of
// platform/win/Gdi.h.
typedef void* HANDLE;
typedef void* HWND;
typedef void* HMODULE;
typedef HMODULE HINSTANCE;
typedef void* HDC;
typedef void* HGDIOBJ;
typedef HGDIOBJ HBITMAP;
typedef HGDIOBJ HPALETTE;
typedef void* HGLOBAL;
typedef void* HMENU;
typedef void* HACCEL;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;

// Geometry: points, sizes and rectangles (left, top, right, bottom; right
// and bottom outside), in pixels or in whatever unit the call names.
struct POINT {
    LONG x, y;
};
typedef POINT POINTL;
struct SIZE {
    LONG cx, cy;
};
typedef SIZE SIZEL;
typedef SIZEL* LPSIZEL;
struct RECT {
    LONG left, top, right, bottom;
};
typedef RECT RECTL;
typedef RECT* LPRECT;
typedef const RECT* LPCRECT;
typedef RECTL* LPRECTL;
typedef const RECTL* LPCRECTL;
// The address GetProcAddress gives; cast to the function's real type.
typedef void (*FARPROC)();
