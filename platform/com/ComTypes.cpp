// GUID text forms, task memory and UTF-16 <-> UTF-8 conversion. No state.
#include "platform/com/ComTypes.h"
#include "platform/com/Registry.h"
#include "platform/vcl/CodePage.h"
#include <cstdlib>
#include <cstring>

// --- GUID text --------------------------------------------------------------

std::string Guid_ToText(REFGUID g)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string s = "{";
    auto put = [&](uint64_t v, int digits) {
        for (int i = digits - 1; i >= 0; i--) s += hex[(v >> (4 * i)) & 0xF];
    };
    put(g.Data1, 8);
    s += '-';
    put(g.Data2, 4);
    s += '-';
    put(g.Data3, 4);
    s += '-';
    put(g.Data4[0], 2);
    put(g.Data4[1], 2);
    s += '-';
    for (int i = 2; i < 8; i++) put(g.Data4[i], 2);
    s += '}';
    return s;
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at p.
static bool ReadHex(const char* p, int digits, uint64_t* v)
{
    uint64_t r = 0;
    for (int i = 0; i < digits; i++) {
        int d = HexDigit(p[i]);
        if (d < 0) return false;
        r = (r << 4) | (uint64_t)d;
    }
    *v = r;
    return true;
}

bool Guid_FromText(const char* text, GUID* guid)
{
    if (!text || !guid) return false;
    size_t n = strlen(text);
    const char* p = text;
    if (n == 38) {
        if (p[0] != '{' || p[37] != '}') return false;
        p++;
    } else if (n != 36) {
        return false;
    }
    // 8-4-4-4-12
    if (p[8] != '-' || p[13] != '-' || p[18] != '-' || p[23] != '-') return false;
    uint64_t d1, d2, d3, b01, b27;
    if (!ReadHex(p, 8, &d1) || !ReadHex(p + 9, 4, &d2) || !ReadHex(p + 14, 4, &d3) || !ReadHex(p + 19, 4, &b01) ||
        !ReadHex(p + 24, 12, &b27))
        return false;
    GUID g;
    g.Data1 = (DWORD)d1;
    g.Data2 = (WORD)d2;
    g.Data3 = (WORD)d3;
    g.Data4[0] = (BYTE)(b01 >> 8);
    g.Data4[1] = (BYTE)b01;
    for (int i = 0; i < 6; i++) g.Data4[2 + i] = (BYTE)(b27 >> (8 * (5 - i)));
    *guid = g;
    return true;
}

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax)
{
    if (!buffer || cchMax < 39) return 0;
    std::string s = Guid_ToText(guid);
    for (int i = 0; i < 38; i++) buffer[i] = (OLECHAR)s[i];
    buffer[38] = 0;
    return 39;
}

static HRESULT GuidToTaskText(REFGUID guid, LPOLESTR* text)
{
    if (!text) return E_INVALIDARG;
    *text = (LPOLESTR)CoTaskMemAlloc(39 * sizeof(OLECHAR));
    if (!*text) return E_OUTOFMEMORY;
    StringFromGUID2(guid, *text, 39);
    return S_OK;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) { return GuidToTaskText(clsid, text); }
HRESULT StringFromIID(REFIID iid, LPOLESTR* text) { return GuidToTaskText(iid, text); }

// The braced form of a wide text, or false.
static bool BracedGuid(LPCOLESTR text, GUID* guid)
{
    if (Wide_Length(text) != 38 || text[0] != u'{') return false;
    char narrow[39];
    for (int i = 0; i < 38; i++) {
        if (text[i] > 0x7F) return false;
        narrow[i] = (char)text[i];
    }
    narrow[38] = 0;
    return Guid_FromText(narrow, guid);
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid)
{
    if (!progId || !clsid) return E_INVALIDARG;
    std::string key = Wide_ToText(progId);
    if (key.empty()) return CO_E_CLASSSTRING;
    key += "\\CLSID";
    std::string value;
    if (Registry_GetText(HKEY_CLASSES_ROOT, key.c_str(), nullptr, &value) != ERROR_SUCCESS) return CO_E_CLASSSTRING;
    if (value.size() != 38 || value[0] != '{' || !Guid_FromText(value.c_str(), clsid)) return CO_E_CLASSSTRING;
    return S_OK;
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid)
{
    if (!clsid) return E_INVALIDARG;
    if (!text || !*text) {
        *clsid = CLSID_NULL;
        return S_OK;
    }
    if (text[0] == u'{') return BracedGuid(text, clsid) ? S_OK : CO_E_CLASSSTRING;
    return CLSIDFromProgID(text, clsid);
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid)
{
    if (!iid) return E_INVALIDARG;
    if (!text || !*text) {
        *iid = IID_NULL;
        return S_OK;
    }
    return BracedGuid(text, iid) ? S_OK : E_INVALIDARG;
}

// --- Task memory -------------------------------------------------------------

void* CoTaskMemAlloc(size_t size) { return malloc(size ? size : 1); }
void* CoTaskMemRealloc(void* block, size_t size) { return realloc(block, size ? size : 1); }
void CoTaskMemFree(void* block) { free(block); }

// --- UTF-16 <-> UTF-8 ----------------------------------------------------------

size_t Wide_Length(const WCHAR* text)
{
    if (!text) return 0;
    size_t n = 0;
    while (text[n]) n++;
    return n;
}

std::string Wide_ToText(const WCHAR* text, size_t length)
{
    std::string out;
    if (!text) return out;
    out.reserve(length);
    for (size_t i = 0; i < length; i++) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t)(text[i + 1] - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        Vcl_AppendUtf8(out, c);
    }
    return out;
}

std::string Wide_ToText(const WCHAR* text) { return Wide_ToText(text, Wide_Length(text)); }

std::u16string Wide_FromText(const char* text, size_t length)
{
    std::u16string out;
    if (!text) return out;
    out.reserve(length);
    const unsigned char* s = (const unsigned char*)text;
    size_t i = 0;
    while (i < length) {
        unsigned char b = s[i];
        uint32_t cp;
        int extra;
        uint32_t min;
        if (b < 0x80) {
            out += (char16_t)b;
            i++;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F;
            extra = 1;
            min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F;
            extra = 2;
            min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07;
            extra = 3;
            min = 0x10000;
        } else {
            out += (char16_t)0xFFFD;
            i++;
            continue;
        }
        bool ok = i + (size_t)extra < length; // the continuation bytes are there
        size_t j = i + 1;
        for (int k = 0; ok && k < extra; k++, j++) {
            if ((s[j] & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (s[j] & 0x3F);
        }
        if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            // One replacement for the lead byte; resynchronise at the next.
            out += (char16_t)0xFFFD;
            i++;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += (char16_t)(0xD800 + (cp >> 10));
            out += (char16_t)(0xDC00 + (cp & 0x3FF));
        } else {
            out += (char16_t)cp;
        }
        i = j;
    }
    return out;
}

std::u16string Wide_FromText(const std::string& text) { return Wide_FromText(text.data(), text.size()); }
