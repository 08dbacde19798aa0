// The property store: each connection property as a VARIANT and as the
// 8-bit text the session uses, gHttpPage, and the put count.
#include "control/Properties.h"
#include "link/Hooks.h"
#include "control/TavlinIds.h"
#include "platform/com/ComSupport.h"
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

uint32_t gPropertyPutCount = 0;
int32_t gHttpPage = 0;

struct TPropertyEntry {
    VARIANT value; // owned by the store; VT_EMPTY at start
    std::string text;
};
static TPropertyEntry gPropertyStore[PROP_COUNT];

const char* Property_Text(int index)
{
    if (index < 0 || index >= PROP_COUNT) return "";
    return gPropertyStore[index].text.c_str();
}

HRESULT Property_Get(int index, VARIANT* value)
{
    if (index < 0 || index >= PROP_COUNT) return E_INVALIDARG;
    if (!value) return E_POINTER;
    VariantInit(value);
    return VariantCopy(value, &gPropertyStore[index].value);
}

// The whole text must be a signed decimal integer (leading blanks allowed).
static bool StrictToInt(const std::string& text, int32_t* out)
{
    const char* s = text.c_str();
    while (*s == ' ') s++;
    if (!*s) return false;
    char* end = nullptr;
    errno = 0;
    long v = strtol(s, &end, 10);
    if (errno || !end || *end || end == s || v < INT32_MIN || v > INT32_MAX) return false;
    *out = (int32_t)v;
    return true;
}

HRESULT Property_Put(int index, const VARIANT& value)
{
    if (index < 0 || index >= PROP_COUNT) return E_INVALIDARG;
    TPropertyEntry& e = gPropertyStore[index];
    std::string text;
    HRESULT hr = Variant_ToText(&value, &text);
    if (FAILED(hr)) return hr == DISP_E_TYPEMISMATCH ? hr : DISP_E_TYPEMISMATCH;
    e.text = text;
    if (index == PROP_HTTP_PAGE) {
        int32_t page;
        if (!StrictToInt(text, &page))
            return Com_ReportError("'" + text + "' is not a valid integer value", IID_ITavlinX, TAVLIN_PROGID);
        gHttpPage = page;
    }
    VARIANT copy;
    VariantInit(&copy);
    hr = VariantCopyInd(&copy, &value);
    if (FAILED(hr)) return Com_ReportError("Out of memory", IID_ITavlinX, TAVLIN_PROGID);
    VariantClear(&e.value);
    e.value = copy;
    gPropertyPutCount++;
    return S_OK;
}
