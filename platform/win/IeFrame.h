// The browser's protected-mode file functions, as ieframe.dll exports
// them: a save dialog that hands back a destination and a state handle,
// and the move of a finished working file to that destination. Callers bind
// them at run time by name (LoadLibrary("ieframe.dll"), GetProcAddress);
// the library is found in the system folder ($systemroot\system32). Also
// the conversions between our narrow texts (UTF-8) and the functions' wide
// ones (UTF-16). Nothing here has state.
#pragma once
#include "platform/com/ComTypes.h"
#include "platform/com/WinTypes.h"
#include <cstddef>
#include <string>

// Shows the save dialog; on S_OK *destination is the chosen file (task
// memory: CoTaskMemFree it) and *state the handle IESaveFile takes. S_FALSE
// when the user cancelled.
typedef HRESULT (*TIEShowSaveFileDialog)(HWND owner, LPCWSTR initialFile, LPCWSTR initialDir, LPCWSTR filter,
                                         LPCWSTR defaultExt, DWORD filterIndex, DWORD flags, LPWSTR* destination,
                                         HANDLE* state);
// Moves source (the finished working file) to the destination chosen with
// state and releases the state. S_OK, or a failure code (the file stays).
typedef HRESULT (*TIESaveFile)(HANDLE state, LPCWSTR source);
// Releases a state whose file will not be saved.
typedef HRESULT (*TIECancelSaveFile)(HANDLE state);

// The dialog flags the backup asks for: overwrite prompt, hide read-only,
// path must exist, resizable.
enum : DWORD { IE_SAVE_FLAGS = 0x800806 };

// UTF-8 into UTF-16 in out (size code units with the terminating zero);
// a text that does not fit is cut. Returns the code units written.
inline size_t Win_Widen(const char* text, WCHAR* out, size_t size)
{
    if (!out || size == 0) return 0;
    size_t n = 0;
    const unsigned char* p = (const unsigned char*)(text ? text : "");
    while (*p && n + 1 < size) {
        uint32_t c = *p++;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (more) c &= 0x3F >> more;
        for (; more > 0 && (*p & 0xC0) == 0x80; --more) c = (c << 6) | (*p++ & 0x3F);
        if (c >= 0x10000) {
            if (n + 2 >= size) break;
            c -= 0x10000;
            out[n++] = (WCHAR)(0xD800 + (c >> 10));
            out[n++] = (WCHAR)(0xDC00 + (c & 0x3FF));
        } else {
            out[n++] = (WCHAR)c;
        }
    }
    out[n] = 0;
    return n;
}

// UTF-16 into UTF-8.
inline std::string Win_Narrow(LPCWSTR text)
{
    std::string out;
    for (const WCHAR* p = text; p && *p; ++p) {
        uint32_t c = *p;
        if (c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        }
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | (c >> 6));
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | (c >> 12));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | (c >> 18));
            out += (char)(0x80 | ((c >> 12) & 0x3F));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}
