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

// Opaque handles. A window handle is whatever the window layer hands out.
typedef void* HANDLE;
typedef void* HWND;
typedef void* HMODULE;
typedef HMODULE HINSTANCE;
// The address GetProcAddress gives; cast to the function's real type.
typedef void (*FARPROC)();
