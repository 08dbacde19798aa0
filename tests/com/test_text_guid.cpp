// BSTR storage and UTF-8 round trips, and GUID text forms checked against
// the published identifiers of the standard interfaces.
#include "platform/com/ComInterfaces.h"
#include <cstring>
#include <gtest/gtest.h>

namespace {

TEST(Bstr, RoundTripsText)
{
    struct Case {
        const char* utf8;
        UINT units; // UTF-16 code units
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"Gr\xC3\xBC\xC3\x9F"
         "e",
         5},                                         // Grüße
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", 3}, // 日本語
        {"\xF0\x9F\x98\x80 x", 4},                   // U+1F600 is a surrogate pair
        {"line\nbreak\ttab", 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        BSTR b = Bstr_FromText(c.utf8);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(SysStringLen(b), c.units);
        EXPECT_EQ(SysStringByteLen(b), c.units * 2);
        EXPECT_EQ(b[c.units], 0);
        EXPECT_EQ(Bstr_ToText(b), c.utf8);
        SysFreeString(b);
    }
}

TEST(Bstr, KeepsLengthAndEmbeddedNuls)
{
    const OLECHAR raw[] = {u'x', 0, u'y', u'z'};
    BSTR b = SysAllocStringLen(raw, 4);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(SysStringLen(b), 4u);
    uint32_t prefix;
    memcpy(&prefix, (const char*)b - 4, 4);
    EXPECT_EQ(prefix, 8u); // the byte length sits in front
    EXPECT_EQ(b[4], 0);
    EXPECT_EQ(Bstr_ToText(b), std::string("x\0yz", 4));

    // The new text may be part of the old string.
    ASSERT_TRUE(SysReAllocString(&b, b + 2));
    EXPECT_EQ(Bstr_ToText(b), "yz");
    SysFreeString(b);

    BSTR zeroed = SysAllocStringLen(nullptr, 3);
    ASSERT_NE(zeroed, nullptr);
    EXPECT_EQ(zeroed[0], 0);
    EXPECT_EQ(SysStringLen(zeroed), 3u);
    SysFreeString(zeroed);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(Bstr_ToText(nullptr), "");
    SysFreeString(nullptr);
    BSTR s = SysAllocString(u"wide");
    EXPECT_EQ(SysStringLen(s), 4u);
    SysFreeString(s);
}

TEST(WideText, ReplacesWhatIsNotText)
{
    struct Case {
        std::string in;
        std::u16string out;
    } fromText[] = {
        {"\xFF", u"\uFFFD"},                               // never a UTF-8 byte
        {"a\xC3", u"a\uFFFD"},                             // cut short
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                     // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // beyond U+10FFFF
        {"\xC3\xA9", u"\u00E9"},
    };
    for (const Case& c : fromText) EXPECT_EQ(Wide_FromText(c.in), c.out) << c.in;

    const char16_t lone[] = {u'a', 0xD800, u'b', 0xDC00, 0};
    EXPECT_EQ(Wide_ToText(lone), "a\xEF\xBF\xBD"
                                 "b\xEF\xBF\xBD");
    EXPECT_EQ(Wide_ToText(nullptr), "");
}

TEST(Guid, PublishedIdentifiersPrintAsPublished)
{
    struct Case {
        const IID& iid;
        const char* text;
    } cases[] = {
        {IID_IUnknown, "{00000000-0000-0000-C000-000000000046}"},
        {IID_IClassFactory, "{00000001-0000-0000-C000-000000000046}"},
        {IID_IDispatch, "{00020400-0000-0000-C000-000000000046}"},
        {IID_IPersist, "{0000010C-0000-0000-C000-000000000046}"},
        {IID_IOleWindow, "{00000114-0000-0000-C000-000000000046}"},
        {IID_IErrorInfo, "{1CF2B120-547D-101B-8E65-08002B2BD119}"},
        {IID_ISupportErrorInfo, "{DF0B3D60-548F-101B-8E65-08002B2BD119}"},
        {IID_IConnectionPointContainer, "{B196B284-BAB4-101A-B69C-00AA00341D07}"},
        {IID_IConnectionPoint, "{B196B286-BAB4-101A-B69C-00AA00341D07}"},
        {IID_IPropertyBag, "{55272A00-42CB-11CE-8135-00AA004BB851}"},
        {IID_IPersistPropertyBag, "{37D84F60-42CB-11CE-8135-00AA004BB851}"},
        {IID_IViewObjectEx, "{3AF24292-0C96-11CE-A0CF-00AA00600AB8}"},
        {CATID_SafeForScripting, "{7DD95801-9882-11CF-9FA9-00AA006C42C4}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Guid_ToText(c.iid), c.text);
        GUID back;
        ASSERT_TRUE(Guid_FromText(c.text, &back)) << c.text;
        EXPECT_EQ(back, c.iid) << c.text;
    }
}

TEST(Guid, ParsesOnlyTheWholeForm)
{
    const GUID control = {0x6E763B03, 0xCC89, 0x4D06, {0x84, 0x15, 0xAF, 0x1D, 0xBA, 0x3A, 0x84, 0x4D}};
    struct Case {
        const char* text;
        bool ok;
    } cases[] = {
        {"{6E763B03-CC89-4D06-8415-AF1DBA3A844D}", true},
        {"{6e763b03-cc89-4d06-8415-af1dba3a844d}", true},
        {"6E763B03-CC89-4D06-8415-AF1DBA3A844D", true}, // as in an OBJECT tag's classid
        {"{6E763B03-CC89-4D06-8415-AF1DBA3A844D", false},
        {"6E763B03-CC89-4D06-8415-AF1DBA3A844D}", false},
        {"{6E763B03-CC89-4D06-8415-AF1DBA3A844G}", false},
        {"{6E763B03CC89-4D06-8415-AF1DBA3A844D0}", false},
        {"{6E763B03-CC89-4D06-8415-AF1DBA3A844D} ", false},
        {"{+E763B03-CC89-4D06-8415-AF1DBA3A844D}", false},
        {"", false},
    };
    for (const Case& c : cases) {
        GUID g = GUID_NULL;
        EXPECT_EQ(Guid_FromText(c.text, &g), c.ok) << c.text;
        EXPECT_EQ(g, c.ok ? control : GUID_NULL) << c.text;
    }
    EXPECT_FALSE(Guid_FromText(nullptr, nullptr));
}

TEST(Guid, WideForms)
{
    const GUID control = {0x6E763B03, 0xCC89, 0x4D06, {0x84, 0x15, 0xAF, 0x1D, 0xBA, 0x3A, 0x84, 0x4D}};
    OLECHAR buf[39];
    EXPECT_EQ(StringFromGUID2(control, buf, 38), 0);
    ASSERT_EQ(StringFromGUID2(control, buf, 39), 39);
    EXPECT_EQ(Wide_ToText(buf), "{6E763B03-CC89-4D06-8415-AF1DBA3A844D}");

    LPOLESTR text = nullptr;
    ASSERT_EQ(StringFromCLSID(control, &text), S_OK);
    CLSID back;
    EXPECT_EQ(CLSIDFromString(text, &back), S_OK);
    EXPECT_EQ(back, control);
    IID iid;
    EXPECT_EQ(IIDFromString(text, &iid), S_OK);
    EXPECT_EQ(iid, control);
    CoTaskMemFree(text);

    EXPECT_EQ(CLSIDFromString(u"{6E763B03-CC89-4D06-8415-AF1DBA3A844}", &back), CO_E_CLASSSTRING);
    EXPECT_EQ(IIDFromString(u"6E763B03-CC89-4D06-8415-AF1DBA3A844D", &iid), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(nullptr, &back), S_OK);
    EXPECT_EQ(back, CLSID_NULL);
}

} // namespace
