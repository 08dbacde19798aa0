// BSTR allocation and the VARIANT functions, with the system's conversion
// rules between numbers, booleans and text. No state.
#include "platform/com/OleAuto.h"
#include "platform/com/ComInterfaces.h"
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

// --- BSTR -----------------------------------------------------------------

// Longest string a 32-bit byte length can describe, with room to spare.
static const UINT kMaxBstrUnits = 0x3FFFFFF0u;

BSTR SysAllocStringLen(const OLECHAR* text, UINT length)
{
    if (length > kMaxBstrUnits) return nullptr;
    size_t bytes = (size_t)length * sizeof(OLECHAR);
    char* block = (char*)malloc(sizeof(uint32_t) + bytes + sizeof(OLECHAR));
    if (!block) return nullptr;
    uint32_t prefix = (uint32_t)bytes;
    memcpy(block, &prefix, sizeof prefix);
    BSTR s = (BSTR)(block + sizeof(uint32_t));
    if (text) memcpy(s, text, bytes);
    else memset(s, 0, bytes);
    s[length] = 0;
    return s;
}

BSTR SysAllocString(const OLECHAR* text)
{
    if (!text) return nullptr;
    size_t n = Wide_Length(text);
    if (n > kMaxBstrUnits) return nullptr;
    return SysAllocStringLen(text, (UINT)n);
}

INT SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT length)
{
    if (!bstr) return FALSE;
    // The new text may lie inside the old string: copy before freeing.
    BSTR fresh = SysAllocStringLen(text, length);
    if (!fresh) return FALSE;
    SysFreeString(*bstr);
    *bstr = fresh;
    return TRUE;
}

INT SysReAllocString(BSTR* bstr, const OLECHAR* text)
{
    if (!bstr) return FALSE;
    size_t n = Wide_Length(text);
    if (n > kMaxBstrUnits) return FALSE;
    return SysReAllocStringLen(bstr, text, (UINT)n);
}

void SysFreeString(BSTR bstr)
{
    if (bstr) free((char*)bstr - sizeof(uint32_t));
}

UINT SysStringByteLen(BSTR bstr)
{
    if (!bstr) return 0;
    uint32_t prefix;
    memcpy(&prefix, (char*)bstr - sizeof(uint32_t), sizeof prefix);
    return prefix;
}

UINT SysStringLen(BSTR bstr) { return SysStringByteLen(bstr) / sizeof(OLECHAR); }

BSTR Bstr_FromText(const std::string& text)
{
    std::u16string w = Wide_FromText(text);
    if (w.size() > kMaxBstrUnits) return nullptr;
    return SysAllocStringLen(w.data(), (UINT)w.size());
}

std::string Bstr_ToText(BSTR bstr) { return Wide_ToText(bstr, SysStringLen(bstr)); }

// --- VARIANT: holding, clearing, copying --------------------------------------

// Types a VARIANT can hold by value here.
static bool IsHeldType(VARTYPE t)
{
    switch (t) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_ERROR:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN: return true;
    default: return false;
    }
}

static bool IsValidVariantType(VARTYPE vt)
{
    if (vt & VT_ARRAY) return false;
    if (vt & VT_BYREF) {
        VARTYPE base = vt & ~VT_BYREF;
        return base == VT_VARIANT || (IsHeldType(base) && base != VT_EMPTY && base != VT_NULL);
    }
    return IsHeldType(vt);
}

void VariantInit(VARIANTARG* v)
{
    if (!v) return;
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
    v->llVal = 0;
}

HRESULT VariantClear(VARIANTARG* v)
{
    if (!v) return E_INVALIDARG;
    if (!IsValidVariantType(v->vt)) return DISP_E_BADVARTYPE;
    switch (v->vt) {
    case VT_BSTR: SysFreeString(v->bstrVal); break;
    case VT_DISPATCH:
        if (v->pdispVal) v->pdispVal->Release();
        break;
    case VT_UNKNOWN:
        if (v->punkVal) v->punkVal->Release();
        break;
    default: break;
    }
    VariantInit(v);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src)
{
    if (!dest || !src) return E_INVALIDARG;
    if (dest == src) return S_OK;
    if (!IsValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) return hr;
    VARIANT copy = *src;
    switch (src->vt) {
    case VT_BSTR:
        if (src->bstrVal) {
            copy.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
            if (!copy.bstrVal) return E_OUTOFMEMORY;
        }
        break;
    case VT_DISPATCH:
        if (copy.pdispVal) copy.pdispVal->AddRef();
        break;
    case VT_UNKNOWN:
        if (copy.punkVal) copy.punkVal->AddRef();
        break;
    default: break;
    }
    *dest = copy;
    return S_OK;
}

// A by-value view of src (nothing owned is duplicated): VT_BYREF forms are
// read through their pointer, once, and through one VT_VARIANT level.
static HRESULT ViewByValue(const VARIANT* src, VARIANT* view)
{
    if (!IsValidVariantType(src->vt)) return DISP_E_BADVARTYPE;
    if (!(src->vt & VT_BYREF)) {
        *view = *src;
        return S_OK;
    }
    VARTYPE base = src->vt & ~VT_BYREF;
    if (!src->byref) return E_INVALIDARG;
    if (base == VT_VARIANT) {
        const VARIANT* inner = src->pvarVal;
        if (!IsValidVariantType(inner->vt) || (inner->vt & VT_BYREF)) return E_INVALIDARG;
        *view = *inner;
        return S_OK;
    }
    VariantInit(view);
    view->vt = base;
    switch (base) {
    case VT_I1: view->cVal = *src->pcVal; break;
    case VT_UI1: view->bVal = *src->pbVal; break;
    case VT_I2: view->iVal = *src->piVal; break;
    case VT_UI2: view->uiVal = *src->puiVal; break;
    case VT_I4: view->lVal = *src->plVal; break;
    case VT_UI4: view->ulVal = *src->pulVal; break;
    case VT_INT: view->intVal = *src->pintVal; break;
    case VT_UINT: view->uintVal = *src->puintVal; break;
    case VT_I8: view->llVal = *src->pllVal; break;
    case VT_UI8: view->ullVal = *src->pullVal; break;
    case VT_R4: view->fltVal = *src->pfltVal; break;
    case VT_R8: view->dblVal = *src->pdblVal; break;
    case VT_BOOL: view->boolVal = *src->pboolVal; break;
    case VT_ERROR: view->scode = *src->pscode; break;
    case VT_CY: view->cyVal = *src->pcyVal; break;
    case VT_DATE: view->date = *src->pdate; break;
    case VT_BSTR: view->bstrVal = *src->pbstrVal; break;
    case VT_DISPATCH: view->pdispVal = *src->ppdispVal; break;
    case VT_UNKNOWN: view->punkVal = *src->ppunkVal; break;
    default: return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src)
{
    if (!dest || !src) return E_INVALIDARG;
    VARIANT view;
    HRESULT hr = ViewByValue(src, &view);
    if (FAILED(hr)) return hr;
    VARIANT copy;
    VariantInit(&copy);
    hr = VariantCopy(&copy, &view);
    if (FAILED(hr)) return hr;
    hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *dest = copy;
    return S_OK;
}

// --- VARIANT: conversion -----------------------------------------------------

namespace {

// A number on its way between types.
struct TNumber {
    enum { Signed, Unsigned, Real } kind;
    int64_t i;
    uint64_t u;
    double d;
};

TNumber SignedNumber(int64_t v) { return {TNumber::Signed, v, 0, 0}; }
TNumber UnsignedNumber(uint64_t v) { return {TNumber::Unsigned, 0, v, 0}; }
TNumber RealNumber(double v) { return {TNumber::Real, 0, 0, v}; }

bool IsBlank(char16_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Text as a number: blanks around; "&H"/"&O" digits; or a sign, digits
// with ',' group separators, a '.' fraction and an exponent.
bool ParseNumber(const char16_t* s, size_t n, TNumber* out)
{
    size_t i = 0;
    while (i < n && IsBlank(s[i])) i++;
    while (n > i && IsBlank(s[n - 1])) n--;
    if (i >= n) return false;

    if (s[i] == '&' && i + 1 < n && (s[i + 1] == 'H' || s[i + 1] == 'h' || s[i + 1] == 'O' || s[i + 1] == 'o')) {
        unsigned base = (s[i + 1] == 'H' || s[i + 1] == 'h') ? 16 : 8;
        i += 2;
        if (i >= n) return false;
        uint64_t v = 0;
        for (; i < n; i++) {
            unsigned d;
            char16_t c = s[i];
            if (c >= '0' && c <= '9') d = c - '0';
            else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
            else return false;
            if (d >= base) return false;
            if (v > (UINT64_MAX - d) / base) return false;
            v = v * base + d;
        }
        *out = UnsignedNumber(v);
        return true;
    }

    std::string clean; // plain C-locale form for the real-number parser
    bool negative = false;
    if (s[i] == '+' || s[i] == '-') {
        negative = s[i] == '-';
        if (negative) clean += '-';
        i++;
    }
    bool digits = false, exact = true, overflow = false;
    uint64_t magnitude = 0;
    for (; i < n; i++) {
        char16_t c = s[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            clean += (char)c;
            unsigned d = c - '0';
            if (magnitude > (UINT64_MAX - d) / 10) overflow = true;
            else magnitude = magnitude * 10 + d;
        } else if (c == ',' && digits) {
            continue;
        } else {
            break;
        }
    }
    if (i < n && s[i] == '.') {
        exact = false;
        clean += '.';
        for (i++; i < n && s[i] >= '0' && s[i] <= '9'; i++) {
            digits = true;
            clean += (char)s[i];
        }
    }
    if (!digits) return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        exact = false;
        clean += 'e';
        i++;
        if (i < n && (s[i] == '+' || s[i] == '-')) clean += (char)s[i++];
        bool expDigits = false;
        for (; i < n && s[i] >= '0' && s[i] <= '9'; i++) {
            expDigits = true;
            clean += (char)s[i];
        }
        if (!expDigits) return false;
    }
    if (i != n) return false;

    if (exact && !overflow) {
        if (!negative) *out = UnsignedNumber(magnitude);
        else if (magnitude <= (uint64_t)INT64_MAX + 1) *out = SignedNumber((int64_t)(0 - magnitude));
        else *out = RealNumber(-(double)magnitude);
        return true;
    }
    double d = 0;
    auto r = std::from_chars(clean.data(), clean.data() + clean.size(), d);
    if (r.ec == std::errc::result_out_of_range) {
        // Too large: an infinity that every integer target refuses; too
        // small: zero.
        bool huge = false;
        size_t e = clean.find('e');
        if (e == std::string::npos || clean[e + 1] != '-') huge = true;
        d = huge ? (negative ? -HUGE_VAL : HUGE_VAL) : 0.0;
    } else if (r.ec != std::errc() || r.ptr != clean.data() + clean.size()) {
        return false;
    }
    *out = RealNumber(d);
    return true;
}

bool EqualsNoCase(const char16_t* s, size_t n, const char* word)
{
    size_t i = 0;
    while (i < n && IsBlank(s[i])) i++;
    while (n > i && IsBlank(s[n - 1])) n--;
    size_t len = strlen(word);
    if (n - i != len) return false;
    for (size_t k = 0; k < len; k++) {
        char16_t c = s[i + k];
        if (c >= 'A' && c <= 'Z') c = c - 'A' + 'a';
        if (c != (char16_t)word[k]) return false;
    }
    return true;
}

// Round half to even, as the system does for fractions.
double RoundHalfEven(double d)
{
    double f = std::floor(d);
    double diff = d - f;
    if (diff > 0.5) return f + 1;
    if (diff < 0.5) return f;
    return std::fmod(f, 2.0) == 0 ? f : f + 1;
}

// The number into an integer of the range [lo, hi] (as signed or unsigned
// 64-bit values).
bool ToSigned(const TNumber& n, int64_t lo, int64_t hi, int64_t* out)
{
    switch (n.kind) {
    case TNumber::Signed:
        if (n.i < lo || n.i > hi) return false;
        *out = n.i;
        return true;
    case TNumber::Unsigned:
        if (n.u > (uint64_t)hi) return false;
        *out = (int64_t)n.u;
        return true;
    case TNumber::Real: {
        if (std::isnan(n.d)) return false;
        double r = RoundHalfEven(n.d);
        // 2^63 is the first double beyond INT64_MAX.
        if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) return false;
        int64_t v = (int64_t)r;
        if (v < lo || v > hi) return false;
        *out = v;
        return true;
    }
    }
    return false;
}

bool ToUnsigned(const TNumber& n, uint64_t hi, uint64_t* out)
{
    switch (n.kind) {
    case TNumber::Signed:
        if (n.i < 0 || (uint64_t)n.i > hi) return false;
        *out = (uint64_t)n.i;
        return true;
    case TNumber::Unsigned:
        if (n.u > hi) return false;
        *out = n.u;
        return true;
    case TNumber::Real: {
        if (std::isnan(n.d)) return false;
        double r = RoundHalfEven(n.d);
        if (r < 0 || r >= 18446744073709551616.0) return false;
        uint64_t v = (uint64_t)r;
        if (v > hi) return false;
        *out = v;
        return true;
    }
    }
    return false;
}

double ToReal(const TNumber& n)
{
    switch (n.kind) {
    case TNumber::Signed: return (double)n.i;
    case TNumber::Unsigned: return (double)n.u;
    case TNumber::Real: return n.d;
    }
    return 0;
}

bool IsZero(const TNumber& n)
{
    switch (n.kind) {
    case TNumber::Signed: return n.i == 0;
    case TNumber::Unsigned: return n.u == 0;
    case TNumber::Real: return n.d == 0;
    }
    return true;
}

// "%.<digits>G" in the C locale, with "-0" as "0".
template <class T> std::string FormatReal(T value, int digits)
{
    if (value == 0) return "0";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, digits);
    std::string s(buf, r.ptr);
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    return s;
}

HRESULT MakeText(const std::string& text, VARIANT* out)
{
    BSTR b = Bstr_FromText(text);
    if (!b) return E_OUTOFMEMORY;
    out->vt = VT_BSTR;
    out->bstrVal = b;
    return S_OK;
}

HRESULT ToText(const VARIANT& s, USHORT flags, VARIANT* out)
{
    switch (s.vt) {
    case VT_EMPTY: return MakeText("", out);
    case VT_I1: return MakeText(std::to_string((int)s.cVal), out);
    case VT_UI1: return MakeText(std::to_string((unsigned)s.bVal), out);
    case VT_I2: return MakeText(std::to_string(s.iVal), out);
    case VT_UI2: return MakeText(std::to_string(s.uiVal), out);
    case VT_I4: return MakeText(std::to_string(s.lVal), out);
    case VT_UI4: return MakeText(std::to_string(s.ulVal), out);
    case VT_INT: return MakeText(std::to_string(s.intVal), out);
    case VT_UINT: return MakeText(std::to_string(s.uintVal), out);
    case VT_I8: return MakeText(std::to_string(s.llVal), out);
    case VT_UI8: return MakeText(std::to_string(s.ullVal), out);
    case VT_R4: return MakeText(FormatReal(s.fltVal, 7), out);
    case VT_R8: return MakeText(FormatReal(s.dblVal, 15), out);
    case VT_BOOL:
        if (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)) return MakeText(s.boolVal ? "True" : "False", out);
        return MakeText(std::to_string(s.boolVal), out);
    default: return DISP_E_TYPEMISMATCH;
    }
}

// The source as a number (text parsed), for numeric and VT_BOOL targets.
HRESULT ToNumber(const VARIANT& s, TNumber* n)
{
    switch (s.vt) {
    case VT_EMPTY: *n = SignedNumber(0); return S_OK;
    case VT_I1: *n = SignedNumber(s.cVal); return S_OK;
    case VT_I2: *n = SignedNumber(s.iVal); return S_OK;
    case VT_I4: *n = SignedNumber(s.lVal); return S_OK;
    case VT_INT: *n = SignedNumber(s.intVal); return S_OK;
    case VT_I8: *n = SignedNumber(s.llVal); return S_OK;
    case VT_BOOL: *n = SignedNumber(s.boolVal); return S_OK;
    case VT_UI1: *n = UnsignedNumber(s.bVal); return S_OK;
    case VT_UI2: *n = UnsignedNumber(s.uiVal); return S_OK;
    case VT_UI4: *n = UnsignedNumber(s.ulVal); return S_OK;
    case VT_UINT: *n = UnsignedNumber(s.uintVal); return S_OK;
    case VT_UI8: *n = UnsignedNumber(s.ullVal); return S_OK;
    case VT_R4: *n = RealNumber(s.fltVal); return S_OK;
    case VT_R8: *n = RealNumber(s.dblVal); return S_OK;
    case VT_BSTR:
        return ParseNumber(s.bstrVal ? s.bstrVal : u"", SysStringLen(s.bstrVal), n) ? S_OK : DISP_E_TYPEMISMATCH;
    default: return DISP_E_TYPEMISMATCH;
    }
}

HRESULT ToNumeric(const VARIANT& s, VARTYPE vt, VARIANT* out)
{
    if (vt == VT_BOOL && s.vt == VT_BSTR) {
        UINT len = SysStringLen(s.bstrVal);
        if (EqualsNoCase(s.bstrVal, len, "true")) {
            out->vt = VT_BOOL;
            out->boolVal = VARIANT_TRUE;
            return S_OK;
        }
        if (EqualsNoCase(s.bstrVal, len, "false")) {
            out->vt = VT_BOOL;
            out->boolVal = VARIANT_FALSE;
            return S_OK;
        }
    }
    TNumber n;
    HRESULT hr = ToNumber(s, &n);
    if (FAILED(hr)) return hr;
    // A true VT_BOOL in an unsigned type: all bits set.
    bool trueBool = s.vt == VT_BOOL && s.boolVal != 0;
    int64_t i = 0;
    uint64_t u = 0;
    switch (vt) {
    case VT_BOOL: out->boolVal = IsZero(n) ? VARIANT_FALSE : VARIANT_TRUE; break;
    case VT_R8: out->dblVal = ToReal(n); break;
    case VT_R4: {
        double d = ToReal(n);
        if (std::isfinite(d) && std::fabs(d) > FLT_MAX) return DISP_E_OVERFLOW;
        out->fltVal = (float)d;
        break;
    }
    case VT_I1:
        if (!ToSigned(n, INT8_MIN, INT8_MAX, &i)) return DISP_E_OVERFLOW;
        out->cVal = (CHAR)i;
        break;
    case VT_I2:
        if (!ToSigned(n, INT16_MIN, INT16_MAX, &i)) return DISP_E_OVERFLOW;
        out->iVal = (SHORT)i;
        break;
    case VT_I4:
    case VT_INT:
        if (!ToSigned(n, INT32_MIN, INT32_MAX, &i)) return DISP_E_OVERFLOW;
        out->lVal = (LONG)i;
        break;
    case VT_I8:
        if (!ToSigned(n, INT64_MIN, INT64_MAX, &i)) return DISP_E_OVERFLOW;
        out->llVal = i;
        break;
    case VT_UI1:
        if (trueBool) u = UINT8_MAX;
        else if (!ToUnsigned(n, UINT8_MAX, &u)) return DISP_E_OVERFLOW;
        out->bVal = (BYTE)u;
        break;
    case VT_UI2:
        if (trueBool) u = UINT16_MAX;
        else if (!ToUnsigned(n, UINT16_MAX, &u)) return DISP_E_OVERFLOW;
        out->uiVal = (USHORT)u;
        break;
    case VT_UI4:
    case VT_UINT:
        if (trueBool) u = UINT32_MAX;
        else if (!ToUnsigned(n, UINT32_MAX, &u)) return DISP_E_OVERFLOW;
        out->ulVal = (ULONG)u;
        break;
    case VT_UI8:
        if (trueBool) u = UINT64_MAX;
        else if (!ToUnsigned(n, UINT64_MAX, &u)) return DISP_E_OVERFLOW;
        out->ullVal = u;
        break;
    default: return DISP_E_BADVARTYPE;
    }
    out->vt = vt;
    return S_OK;
}

HRESULT Coerce(const VARIANT& s, VARTYPE vt, USHORT flags, VARIANT* out);

// An object's default value (DISPID 0, property get), converted on.
HRESULT FromDefaultValue(const VARIANT& s, VARTYPE vt, USHORT flags, VARIANT* out)
{
    if (flags & VARIANT_NOVALUEPROP) return DISP_E_TYPEMISMATCH;
    IDispatch* disp = nullptr;
    if (s.vt == VT_DISPATCH) {
        disp = s.pdispVal;
        if (disp) disp->AddRef();
    } else if (s.punkVal) {
        void* p = nullptr;
        if (SUCCEEDED(s.punkVal->QueryInterface(IID_IDispatch, &p))) disp = (IDispatch*)p;
    }
    if (!disp) return DISP_E_TYPEMISMATCH;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = disp->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr,
                              nullptr);
    disp->Release();
    if (FAILED(hr)) {
        VariantClear(&value);
        return DISP_E_TYPEMISMATCH;
    }
    VARIANT view;
    hr = ViewByValue(&value, &view);
    // One level only: a default value that is itself an object is refused.
    if (SUCCEEDED(hr)) hr = Coerce(view, vt, flags | VARIANT_NOVALUEPROP, out);
    VariantClear(&value);
    return hr;
}

HRESULT Coerce(const VARIANT& s, VARTYPE vt, USHORT flags, VARIANT* out)
{
    if (!IsHeldType(vt)) return DISP_E_BADVARTYPE;
    if (s.vt == vt) return VariantCopy(out, &s);
    bool object = s.vt == VT_DISPATCH || s.vt == VT_UNKNOWN;
    if (object && vt != VT_DISPATCH && vt != VT_UNKNOWN) return FromDefaultValue(s, vt, flags, out);
    switch (vt) {
    case VT_EMPTY: return S_OK;
    case VT_BSTR: return ToText(s, flags, out);
    case VT_DISPATCH:
        if (s.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
        if (!s.punkVal) {
            out->vt = VT_DISPATCH;
            out->pdispVal = nullptr;
            return S_OK;
        } else {
            void* p = nullptr;
            if (FAILED(s.punkVal->QueryInterface(IID_IDispatch, &p))) return DISP_E_TYPEMISMATCH;
            out->vt = VT_DISPATCH;
            out->pdispVal = (IDispatch*)p;
            return S_OK;
        }
    case VT_UNKNOWN:
        if (s.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
        out->vt = VT_UNKNOWN;
        out->punkVal = s.pdispVal;
        if (s.pdispVal) s.pdispVal->AddRef();
        return S_OK;
    case VT_NULL:
    case VT_ERROR:
    case VT_CY:
    case VT_DATE: return DISP_E_TYPEMISMATCH;
    default: return ToNumeric(s, vt, out);
    }
}

} // namespace

HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt)
{
    if (!dest || !src) return E_INVALIDARG;
    VARIANT view;
    HRESULT hr = ViewByValue(src, &view);
    if (FAILED(hr)) return hr;
    VARIANT result;
    VariantInit(&result);
    hr = Coerce(view, vt, flags, &result);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    // The result owns its own copy, so dest may be src.
    hr = VariantClear(dest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *dest = result;
    return S_OK;
}

HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags, VARTYPE vt)
{
    return VariantChangeType(dest, src, flags, vt);
}

HRESULT Variant_ToText(const VARIANT* v, std::string* text)
{
    if (!v || !text) return E_INVALIDARG;
    VARIANT t;
    VariantInit(&t);
    HRESULT hr = VariantChangeType(&t, v, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    *text = Bstr_ToText(t.bstrVal);
    VariantClear(&t);
    return S_OK;
}

HRESULT Variant_SetText(VARIANT* v, const std::string& text)
{
    if (!v) return E_INVALIDARG;
    BSTR b = Bstr_FromText(text);
    if (!b) return E_OUTOFMEMORY;
    HRESULT hr = VariantClear(v);
    if (FAILED(hr)) {
        SysFreeString(b);
        return hr;
    }
    v->vt = VT_BSTR;
    v->bstrVal = b;
    return S_OK;
}

void ExcepInfo_Clear(EXCEPINFO* info)
{
    if (!info) return;
    SysFreeString(info->bstrSource);
    SysFreeString(info->bstrDescription);
    SysFreeString(info->bstrHelpFile);
    memset(info, 0, sizeof *info);
}
