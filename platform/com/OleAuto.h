// Automation data: BSTR strings, the VARIANT and its functions (init, clear,
// copy, change of type), and the records of a dispatch call (DISPPARAMS,
// EXCEPINFO). Stateless; every BSTR lives on the heap behind its length.
#pragma once
#include "platform/com/ComTypes.h"
#include <string>

struct IUnknown;
struct IDispatch;

// --- BSTR -----------------------------------------------------------------
// A BSTR points at the first of its UTF-16 code units; the 32-bit byte
// length sits just before it and a NUL just after the last unit. A null
// BSTR is the empty string. Embedded NULs are kept.

typedef OLECHAR* BSTR;

BSTR SysAllocString(const OLECHAR* text);                 // null gives null
BSTR SysAllocStringLen(const OLECHAR* text, UINT length); // null text: zeroed units
INT SysReAllocString(BSTR* bstr, const OLECHAR* text);
INT SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT length);
void SysFreeString(BSTR bstr); // null is fine
UINT SysStringLen(BSTR bstr);  // code units
UINT SysStringByteLen(BSTR bstr);

// 8-bit (UTF-8) text to and from a BSTR.
BSTR Bstr_FromText(const std::string& text);
std::string Bstr_ToText(BSTR bstr);

// --- VARIANT --------------------------------------------------------------

typedef USHORT VARTYPE;
typedef SHORT VARIANT_BOOL;
typedef double DATE;
typedef LONG DISPID;
typedef DWORD LCID;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;
constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;         // VT_I8
        LONG lVal;              // VT_I4
        BYTE bVal;              // VT_UI1
        SHORT iVal;             // VT_I2
        FLOAT fltVal;           // VT_R4
        DOUBLE dblVal;          // VT_R8
        VARIANT_BOOL boolVal;   // VT_BOOL
        SCODE scode;            // VT_ERROR
        LONGLONG cyVal;         // VT_CY (value x 10000); stored, not converted
        DATE date;              // VT_DATE; stored, not converted
        BSTR bstrVal;           // VT_BSTR
        IUnknown* punkVal;      // VT_UNKNOWN
        IDispatch* pdispVal;    // VT_DISPATCH
        CHAR cVal;              // VT_I1
        USHORT uiVal;           // VT_UI2
        ULONG ulVal;            // VT_UI4
        ULONGLONG ullVal;       // VT_UI8
        INT intVal;             // VT_INT
        UINT uintVal;           // VT_UINT
        BYTE* pbVal;            // VT_BYREF | VT_UI1
        SHORT* piVal;           // VT_BYREF | VT_I2
        LONG* plVal;            // VT_BYREF | VT_I4
        LONGLONG* pllVal;       // VT_BYREF | VT_I8
        FLOAT* pfltVal;         // VT_BYREF | VT_R4
        DOUBLE* pdblVal;        // VT_BYREF | VT_R8
        VARIANT_BOOL* pboolVal; // VT_BYREF | VT_BOOL
        SCODE* pscode;          // VT_BYREF | VT_ERROR
        LONGLONG* pcyVal;       // VT_BYREF | VT_CY
        DATE* pdate;            // VT_BYREF | VT_DATE
        BSTR* pbstrVal;         // VT_BYREF | VT_BSTR
        IUnknown** ppunkVal;    // VT_BYREF | VT_UNKNOWN
        IDispatch** ppdispVal;  // VT_BYREF | VT_DISPATCH
        VARIANT* pvarVal;       // VT_BYREF | VT_VARIANT
        CHAR* pcVal;            // VT_BYREF | VT_I1
        USHORT* puiVal;         // VT_BYREF | VT_UI2
        ULONG* pulVal;          // VT_BYREF | VT_UI4
        ULONGLONG* pullVal;     // VT_BYREF | VT_UI8
        INT* pintVal;           // VT_BYREF | VT_INT
        UINT* puintVal;         // VT_BYREF | VT_UINT
        void* byref;            // any VT_BYREF
    };
};
typedef VARIANT VARIANTARG;
static_assert(sizeof(VARIANT) == 16, "VARIANT keeps its 16 bytes");

// Flags of VariantChangeType.
constexpr USHORT VARIANT_NOVALUEPROP = 0x01; // objects give no default value
constexpr USHORT VARIANT_ALPHABOOL = 0x02;   // VT_BOOL <-> "True"/"False"
constexpr USHORT VARIANT_NOUSEROVERRIDE = 0x04;
constexpr USHORT VARIANT_LOCALBOOL = 0x10; // taken like VARIANT_ALPHABOOL

// vt := VT_EMPTY.
void VariantInit(VARIANTARG* v);
// Frees what the variant owns (a BSTR, a reference on an object; nothing
// for VT_BYREF forms) and leaves it VT_EMPTY. DISP_E_BADVARTYPE for types
// this layer does not hold (arrays, VT_DECIMAL, ...), variant untouched.
HRESULT VariantClear(VARIANTARG* v);
// Clears dest, then copies src into it: a BSTR is duplicated, an object
// gets a reference; VT_BYREF forms copy the pointer.
HRESULT VariantCopy(VARIANTARG* dest, const VARIANTARG* src);
// Like VariantCopy but a VT_BYREF source gives the value it points at.
HRESULT VariantCopyInd(VARIANT* dest, const VARIANTARG* src);

// Converts src into type vt and stores it in dest (dest may be src).
// On failure dest is left as it was. The conversions follow the system's:
// - to VT_BSTR: integers in decimal; VT_R8 with 15 and VT_R4 with 7
//   significant digits ("%G": "0.333333333333333", "1E+15", "1E-05"), the
//   decimal point always '.'; VT_BOOL as "-1" / "0" ("True" / "False" with
//   VARIANT_ALPHABOOL or VARIANT_LOCALBOOL); VT_EMPTY as "".
// - to numbers and VT_BOOL: from numbers, VT_BOOL (-1 / 0; true gives all
//   bits set in unsigned types), VT_EMPTY (0) and text: blanks around,
//   a sign, digits with ',' group separators, a '.' fraction, an exponent,
//   or "&H" hex / "&O" octal digits; fractions round half to even;
//   "True" / "False" also convert to VT_BOOL. Out of range: DISP_E_OVERFLOW.
// - VT_DISPATCH / VT_UNKNOWN sources give their default value (DISPID 0,
//   property get) unless VARIANT_NOVALUEPROP; without one, or for VT_NULL,
//   VT_ERROR, VT_CY, VT_DATE and arrays: DISP_E_TYPEMISMATCH.
// - Targets this layer does not hold: DISP_E_BADVARTYPE.
// VT_BYREF sources are read through their pointer; the result is by value.
HRESULT VariantChangeType(VARIANTARG* dest, const VARIANTARG* src, USHORT flags, VARTYPE vt);
HRESULT VariantChangeTypeEx(VARIANTARG* dest, const VARIANTARG* src, LCID lcid, USHORT flags, VARTYPE vt);

// The value as 8-bit text, by VariantChangeType(..., 0, VT_BSTR).
HRESULT Variant_ToText(const VARIANT* v, std::string* text);
// Clears v and makes it a VT_BSTR holding the text.
HRESULT Variant_SetText(VARIANT* v, const std::string& text);

// --- Dispatch call records -------------------------------------------------

constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_PROPERTYPUT = -3;

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;

// Arguments of IDispatch::Invoke, the last parameter first in rgvarg.
// A property put carries its value as the one named argument
// DISPID_PROPERTYPUT.
struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// Frees the three strings and zeroes the record.
void ExcepInfo_Clear(EXCEPINFO* info);
