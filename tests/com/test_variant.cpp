// VARIANT: copy and clear ownership, and the change-type rules, against the
// texts and values the system's own conversion gives.
#include "Fakes.h"
#include <cmath>
#include <gtest/gtest.h>

namespace {

VARIANT Make(VARTYPE vt)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    return v;
}
VARIANT I1(CHAR x)
{
    VARIANT v = Make(VT_I1);
    v.cVal = x;
    return v;
}
VARIANT I2(SHORT x)
{
    VARIANT v = Make(VT_I2);
    v.iVal = x;
    return v;
}
VARIANT I4(LONG x)
{
    VARIANT v = Make(VT_I4);
    v.lVal = x;
    return v;
}
VARIANT I8(LONGLONG x)
{
    VARIANT v = Make(VT_I8);
    v.llVal = x;
    return v;
}
VARIANT Int(INT x)
{
    VARIANT v = Make(VT_INT);
    v.intVal = x;
    return v;
}
VARIANT UI1(BYTE x)
{
    VARIANT v = Make(VT_UI1);
    v.bVal = x;
    return v;
}
VARIANT UI2(USHORT x)
{
    VARIANT v = Make(VT_UI2);
    v.uiVal = x;
    return v;
}
VARIANT UI4(ULONG x)
{
    VARIANT v = Make(VT_UI4);
    v.ulVal = x;
    return v;
}
VARIANT UI8(ULONGLONG x)
{
    VARIANT v = Make(VT_UI8);
    v.ullVal = x;
    return v;
}
VARIANT UInt(UINT x)
{
    VARIANT v = Make(VT_UINT);
    v.uintVal = x;
    return v;
}
VARIANT R4(FLOAT x)
{
    VARIANT v = Make(VT_R4);
    v.fltVal = x;
    return v;
}
VARIANT R8(DOUBLE x)
{
    VARIANT v = Make(VT_R8);
    v.dblVal = x;
    return v;
}
VARIANT Bool(VARIANT_BOOL x)
{
    VARIANT v = Make(VT_BOOL);
    v.boolVal = x;
    return v;
}
VARIANT Error(SCODE x)
{
    VARIANT v = Make(VT_ERROR);
    v.scode = x;
    return v;
}

std::string TextOf(const VARIANT& v)
{
    EXPECT_EQ(v.vt, VT_BSTR);
    return v.vt == VT_BSTR ? Bstr_ToText(v.bstrVal) : "<not text>";
}

struct ToTextCase {
    const char* label;
    VARIANT src;
    USHORT flags;
    HRESULT hr;
    const char* text;
};

TEST(VariantChangeType, ToTextFollowsTheSystemsFormats)
{
    const ToTextCase cases[] = {
        {"empty", Make(VT_EMPTY), 0, S_OK, ""},
        {"null", Make(VT_NULL), 0, DISP_E_TYPEMISMATCH, nullptr},
        {"i1", I1(-128), 0, S_OK, "-128"},
        {"i2", I2(-32768), 0, S_OK, "-32768"},
        {"i4 max", I4(2147483647), 0, S_OK, "2147483647"},
        {"i4 negative", I4(-5), 0, S_OK, "-5"},
        {"i8 min", I8(INT64_MIN), 0, S_OK, "-9223372036854775808"},
        {"int", Int(-7), 0, S_OK, "-7"},
        {"ui1", UI1(255), 0, S_OK, "255"},
        {"ui2", UI2(65535), 0, S_OK, "65535"},
        {"ui4 max", UI4(4294967295u), 0, S_OK, "4294967295"},
        {"ui8 max", UI8(UINT64_MAX), 0, S_OK, "18446744073709551615"},
        {"uint", UInt(7), 0, S_OK, "7"},
        {"bool true", Bool(VARIANT_TRUE), 0, S_OK, "-1"},
        {"bool false", Bool(VARIANT_FALSE), 0, S_OK, "0"},
        {"bool true alpha", Bool(VARIANT_TRUE), VARIANT_ALPHABOOL, S_OK, "True"},
        {"bool false alpha", Bool(VARIANT_FALSE), VARIANT_ALPHABOOL, S_OK, "False"},
        {"bool true local", Bool(VARIANT_TRUE), VARIANT_LOCALBOOL, S_OK, "True"},
        {"r8 tenth", R8(0.1), 0, S_OK, "0.1"},
        {"r8 third", R8(1.0 / 3), 0, S_OK, "0.333333333333333"},
        {"r8 whole", R8(80.0), 0, S_OK, "80"},
        {"r8 negative", R8(-2.5), 0, S_OK, "-2.5"},
        {"r8 negative zero", R8(-0.0), 0, S_OK, "0"},
        {"r8 15 digits", R8(1e14), 0, S_OK, "100000000000000"},
        {"r8 exponent", R8(1e15), 0, S_OK, "1E+15"},
        {"r8 rounded", R8(123456789012345678.0), 0, S_OK, "1.23456789012346E+17"},
        {"r8 small", R8(0.0001), 0, S_OK, "0.0001"},
        {"r8 smaller", R8(0.00001), 0, S_OK, "1E-05"},
        {"r4 tenth", R4(0.1f), 0, S_OK, "0.1"},
        {"r4 third", R4(1.0f / 3), 0, S_OK, "0.3333333"},
        {"r4 eight digits", R4(16777216.0f), 0, S_OK, "1.677722E+07"},
        {"error", Error(DISP_E_PARAMNOTFOUND), 0, DISP_E_TYPEMISMATCH, nullptr},
        {"currency", Make(VT_CY), 0, DISP_E_TYPEMISMATCH, nullptr},
        {"date", Make(VT_DATE), 0, DISP_E_TYPEMISMATCH, nullptr},
        {"null object", Make(VT_DISPATCH), 0, DISP_E_TYPEMISMATCH, nullptr},
        {"array", Make(VT_ARRAY | VT_I4), 0, DISP_E_BADVARTYPE, nullptr},
    };
    for (const ToTextCase& c : cases) {
        SCOPED_TRACE(c.label);
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(VariantChangeType(&out, &c.src, c.flags, VT_BSTR), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(TextOf(out), c.text);
        } else {
            EXPECT_EQ(out.vt, VT_EMPTY); // left as it was
        }
        VariantClear(&out);
    }
}

struct FromTextCase {
    const char* text;
    VARTYPE vt;
    HRESULT hr;
    int64_t value; // for integer and boolean targets
};

int64_t IntegerOf(const VARIANT& v)
{
    switch (v.vt) {
    case VT_I1: return v.cVal;
    case VT_I2: return v.iVal;
    case VT_I4: return v.lVal;
    case VT_INT: return v.intVal;
    case VT_I8: return v.llVal;
    case VT_UI1: return v.bVal;
    case VT_UI2: return v.uiVal;
    case VT_UI4: return v.ulVal;
    case VT_UINT: return v.uintVal;
    case VT_BOOL: return v.boolVal;
    default: ADD_FAILURE() << "not an integer type " << v.vt; return 0;
    }
}

TEST(VariantChangeType, FromTextToIntegers)
{
    const FromTextCase cases[] = {
        {"42", VT_I4, S_OK, 42},
        {"  -17 \t", VT_I4, S_OK, -17},
        {"+5", VT_I4, S_OK, 5},
        {"1,000", VT_I4, S_OK, 1000},
        {"2.5", VT_I4, S_OK, 2}, // half to even
        {"3.5", VT_I4, S_OK, 4},
        {"-2.5", VT_I4, S_OK, -2},
        {"2.51", VT_I4, S_OK, 3},
        {"1e3", VT_I4, S_OK, 1000},
        {"&H1F", VT_I4, S_OK, 31},
        {"&o17", VT_I4, S_OK, 15},
        {"2147483647", VT_I4, S_OK, 2147483647},
        {"-2147483648", VT_I4, S_OK, -2147483647 - 1},
        {"2147483648", VT_I4, DISP_E_OVERFLOW, 0},
        {"99999999999999999999", VT_I4, DISP_E_OVERFLOW, 0},
        {"1e400", VT_I4, DISP_E_OVERFLOW, 0},
        {"4294967295", VT_UI4, S_OK, 4294967295LL},
        {"4294967296", VT_UI4, DISP_E_OVERFLOW, 0},
        {"-1", VT_UI4, DISP_E_OVERFLOW, 0},
        {"255", VT_UI1, S_OK, 255},
        {"256", VT_UI1, DISP_E_OVERFLOW, 0},
        {"-32768", VT_I2, S_OK, -32768},
        {"-9223372036854775808", VT_I8, S_OK, INT64_MIN},
        {"", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"   ", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"12abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {".", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"1e", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"&H", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"&O8", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"- 1", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"true", VT_BOOL, S_OK, VARIANT_TRUE},
        {" False ", VT_BOOL, S_OK, VARIANT_FALSE},
        {"0", VT_BOOL, S_OK, VARIANT_FALSE},
        {"2", VT_BOOL, S_OK, VARIANT_TRUE},
        {"maybe", VT_BOOL, DISP_E_TYPEMISMATCH, 0},
    };
    for (const FromTextCase& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\" to vt " + std::to_string(c.vt));
        VARIANT src;
        VariantInit(&src);
        ASSERT_EQ(Variant_SetText(&src, c.text), S_OK);
        VARIANT out = I4(-99);
        EXPECT_EQ(VariantChangeType(&out, &src, 0, c.vt), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(out.vt, c.vt);
            EXPECT_EQ(IntegerOf(out), c.value);
        } else {
            EXPECT_EQ(out.vt, VT_I4);
            EXPECT_EQ(out.lVal, -99);
        }
        VariantClear(&src);
    }
}

struct NumberCase {
    const char* label;
    VARIANT src;
    VARTYPE vt;
    HRESULT hr;
    double value;
};

double NumberOf(const VARIANT& v)
{
    if (v.vt == VT_R8) return v.dblVal;
    if (v.vt == VT_R4) return v.fltVal;
    return (double)IntegerOf(v);
}

TEST(VariantChangeType, BetweenNumbers)
{
    const NumberCase cases[] = {
        {"r8 to i4 rounds half even", R8(2.5), VT_I4, S_OK, 2},
        {"r8 to i4 overflow", R8(1e10), VT_I4, DISP_E_OVERFLOW, 0},
        {"nan to i4", R8(NAN), VT_I4, DISP_E_OVERFLOW, 0},
        {"i4 to ui1 overflow", I4(300), VT_UI1, DISP_E_OVERFLOW, 0},
        {"i4 -1 to ui4", I4(-1), VT_UI4, DISP_E_OVERFLOW, 0},
        {"ui4 max to i8", UI4(4294967295u), VT_I8, S_OK, 4294967295.0},
        {"bool to i4", Bool(VARIANT_TRUE), VT_I4, S_OK, -1},
        {"bool to ui1", Bool(VARIANT_TRUE), VT_UI1, S_OK, 255},
        {"bool false to ui4", Bool(VARIANT_FALSE), VT_UI4, S_OK, 0},
        {"empty to i4", Make(VT_EMPTY), VT_I4, S_OK, 0},
        {"null to i4", Make(VT_NULL), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"error to i4", Error(E_FAIL), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {"i4 to bool", I4(5), VT_BOOL, S_OK, VARIANT_TRUE},
        {"r8 zero to bool", R8(0.0), VT_BOOL, S_OK, VARIANT_FALSE},
        {"r8 to r4 overflow", R8(1e39), VT_R4, DISP_E_OVERFLOW, 0},
        {"i4 to r8", I4(-3), VT_R8, S_OK, -3},
        {"r4 to r8", R4(0.5f), VT_R8, S_OK, 0.5},
        {"to a type not held", I4(1), VT_DECIMAL, DISP_E_BADVARTYPE, 0},
        {"to a by-reference type", I4(1), VT_BYREF | VT_I4, DISP_E_BADVARTYPE, 0},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(c.label);
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(VariantChangeType(&out, &c.src, 0, c.vt), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(out.vt, c.vt);
            EXPECT_EQ(NumberOf(out), c.value);
        }
        VariantClear(&out);
    }
    VARIANT text;
    VariantInit(&text);
    Variant_SetText(&text, "1.5");
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(VariantChangeType(&out, &text, 0, VT_R8), S_OK);
    EXPECT_EQ(out.dblVal, 1.5);
    VariantClear(&text);
}

TEST(VariantChangeType, ReadsThroughReferences)
{
    SHORT key = 42;
    VARIANT ref = Make(VT_BYREF | VT_I2);
    ref.piVal = &key;
    VARIANT out;
    VariantInit(&out);
    ASSERT_EQ(VariantChangeType(&out, &ref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(out), "42");
    VariantClear(&out);

    VARIANT inner = I4(-8);
    VARIANT outer = Make(VT_BYREF | VT_VARIANT);
    outer.pvarVal = &inner;
    ASSERT_EQ(VariantChangeType(&out, &outer, 0, VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(out), "-8");
    VariantClear(&out);

    BSTR text = Bstr_FromText("77");
    VARIANT bref = Make(VT_BYREF | VT_BSTR);
    bref.pbstrVal = &text;
    ASSERT_EQ(VariantChangeType(&out, &bref, 0, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 77);
    // In place on a reference: the reference is replaced, its target kept.
    ASSERT_EQ(VariantChangeType(&bref, &bref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(bref), "77");
    EXPECT_NE(bref.bstrVal, text);
    VariantClear(&bref);
    SysFreeString(text);
}

TEST(VariantChangeType, ObjectsGiveTheirDefaultValue)
{
    TValueObject obj;
    obj.value = I4(7);
    struct Case {
        const char* label;
        bool hasValue;
        USHORT flags;
        VARTYPE srcType;
        HRESULT hr;
    } cases[] = {
        {"dispatch with value", true, 0, VT_DISPATCH, S_OK},
        {"unknown with value", true, 0, VT_UNKNOWN, S_OK},
        {"value not wanted", true, VARIANT_NOVALUEPROP, VT_DISPATCH, DISP_E_TYPEMISMATCH},
        {"no value", false, 0, VT_DISPATCH, DISP_E_TYPEMISMATCH},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        obj.hasValue = c.hasValue;
        VARIANT src = Make(c.srcType);
        src.pdispVal = &obj;
        VARIANT out;
        VariantInit(&out);
        EXPECT_EQ(VariantChangeType(&out, &src, c.flags, VT_BSTR), c.hr);
        if (c.hr == S_OK) {
            EXPECT_EQ(TextOf(out), "7");
        }
        VariantClear(&out);
        EXPECT_EQ(obj.refs, 1u); // every reference taken was given back
    }

    TCountedUnknown plain;
    VARIANT src = Make(VT_UNKNOWN);
    src.punkVal = &plain;
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(VariantChangeType(&out, &src, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&out, &src, 0, VT_DISPATCH), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(plain.refs, 1u);
}

TEST(VariantCopy, DuplicatesStringsAndCountsReferences)
{
    const OLECHAR raw[] = {u'a', 0, u'b'};
    VARIANT src = Make(VT_BSTR);
    src.bstrVal = SysAllocStringLen(raw, 3);
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &src), S_OK);
    ASSERT_EQ(copy.vt, VT_BSTR);
    EXPECT_NE(copy.bstrVal, src.bstrVal);
    ASSERT_EQ(SysStringLen(copy.bstrVal), 3u);
    EXPECT_EQ(copy.bstrVal[2], u'b');
    EXPECT_EQ(VariantClear(&copy), S_OK);
    EXPECT_EQ(copy.vt, VT_EMPTY);
    EXPECT_EQ(Bstr_ToText(src.bstrVal), std::string("a\0b", 3)); // the source is untouched

    // Copying over a string frees the old one (the leak checker sees it).
    VARIANT target;
    VariantInit(&target);
    Variant_SetText(&target, "old");
    ASSERT_EQ(VariantCopy(&target, &src), S_OK);
    VariantClear(&target);
    VariantClear(&src);

    TCountedUnknown obj;
    VARIANT u = Make(VT_UNKNOWN);
    u.punkVal = &obj;
    VARIANT c1, c2;
    VariantInit(&c1);
    VariantInit(&c2);
    ASSERT_EQ(VariantCopy(&c1, &u), S_OK);
    ASSERT_EQ(VariantCopy(&c2, &c1), S_OK);
    EXPECT_EQ(obj.refs, 3u);
    VariantClear(&c1);
    VariantClear(&c2);
    EXPECT_EQ(obj.refs, 1u);
}

TEST(VariantClear, LeavesReferencesAndRefusesUnknownTypes)
{
    BSTR s = Bstr_FromText("kept");
    VARIANT ref = Make(VT_BYREF | VT_BSTR);
    ref.pbstrVal = &s;
    EXPECT_EQ(VariantClear(&ref), S_OK);
    EXPECT_EQ(Bstr_ToText(s), "kept");
    SysFreeString(s);

    struct Case {
        VARTYPE vt;
        HRESULT hr;
    } cases[] = {
        {VT_ARRAY | VT_I4, DISP_E_BADVARTYPE},
        {VT_DECIMAL, DISP_E_BADVARTYPE},
        {VT_VARIANT, DISP_E_BADVARTYPE},
        {0x0FFF, DISP_E_BADVARTYPE},
        {VT_NULL, S_OK},
        {VT_ERROR, S_OK},
    };
    for (const Case& c : cases) {
        VARIANT v = Make(c.vt);
        EXPECT_EQ(VariantClear(&v), c.hr) << c.vt;
        EXPECT_EQ(v.vt, c.hr == S_OK ? (VARTYPE)VT_EMPTY : c.vt);
    }
}

TEST(VariantCopyInd, GivesTheValueBehindAReference)
{
    BSTR s = Bstr_FromText("behind");
    VARIANT ref = Make(VT_BYREF | VT_BSTR);
    ref.pbstrVal = &s;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopyInd(&copy, &ref), S_OK);
    ASSERT_EQ(copy.vt, VT_BSTR);
    EXPECT_NE(copy.bstrVal, s);
    EXPECT_EQ(TextOf(copy), "behind");
    VariantClear(&copy);
    // VariantCopy keeps the reference itself.
    ASSERT_EQ(VariantCopy(&copy, &ref), S_OK);
    EXPECT_EQ(copy.vt, VT_BYREF | VT_BSTR);
    EXPECT_EQ(copy.pbstrVal, &s);
    SysFreeString(s);
}

TEST(VariantChangeType, InPlaceFreesTheOldValue)
{
    VARIANT v;
    VariantInit(&v);
    Variant_SetText(&v, "12");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 12);
    // A failure in place keeps the value.
    Variant_SetText(&v, "twelve");
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(TextOf(v), "twelve");
    VariantClear(&v);
}

TEST(VariantText, RoundTrip)
{
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(Variant_SetText(&v, "192.168.1.20"), S_OK);
    std::string text;
    ASSERT_EQ(Variant_ToText(&v, &text), S_OK);
    EXPECT_EQ(text, "192.168.1.20");
    VARIANT n = I4(8080);
    ASSERT_EQ(Variant_ToText(&n, &text), S_OK);
    EXPECT_EQ(text, "8080");
    VARIANT null = Make(VT_NULL);
    EXPECT_EQ(Variant_ToText(&null, &text), DISP_E_TYPEMISMATCH);
    VariantClear(&v);
}

} // namespace
