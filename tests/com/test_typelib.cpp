// Type libraries read from their description text: what a good text
// builds, and texts that must be refused whole.
#include "platform/com/TypeLib.h"
#include <gtest/gtest.h>
#include <string>

namespace {

const std::string kHead = "%%type-library%%\nlibrary L {197A585F-C49F-4571-804C-9F8C497FEC06} 2.5 \"A library\"\n";

HRESULT Build(const std::string& text, ITypeLib** lib) { return TypeLib_FromText(text.data(), text.size(), lib); }

TEST(TypeLib, TextBuildsTheTypesItNames)
{
    ITypeLib* lib = nullptr;
    ASSERT_EQ(Build(kHead + "enum E\n  value a 0\n  value b 7\n"
                            "dispinterface I {8F22E5AD-5FE8-4B58-A5BB-4A71B7328EFA} \"events\"\n"
                            "  method Go 3 x:VT_I4 y:E:inout\n"
                            "coclass C {6E763B03-CC89-4D06-8415-AF1DBA3A844D} \"class\"\n"
                            "  implements I default source\n",
                    &lib),
              S_OK);
    EXPECT_EQ(lib->GetTypeInfoCount(), 3u);
    TLIBATTR* a = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&a), S_OK);
    EXPECT_EQ(a->wMajorVerNum, 2);
    EXPECT_EQ(a->wMinorVerNum, 5);
    lib->ReleaseTLibAttr(a);
    ITypeInfo* e = nullptr;
    ASSERT_EQ(lib->GetTypeInfo(0, &e), S_OK);
    VARDESC* v = nullptr;
    ASSERT_EQ(e->GetVarDesc(1, &v), S_OK);
    EXPECT_EQ(v->value, 7);
    e->ReleaseVarDesc(v);
    EXPECT_EQ(e->GetVarDesc(2, &v), TYPE_E_ELEMENTNOTFOUND);
    e->Release();
    ITypeInfo* i = nullptr;
    ASSERT_EQ(lib->GetTypeInfo(1, &i), S_OK);
    FUNCDESC* f = nullptr;
    ASSERT_EQ(i->GetFuncDesc(0, &f), S_OK);
    EXPECT_EQ(f->memid, 3);
    ASSERT_EQ(f->cParams, 2);
    EXPECT_EQ(f->paramTypes[0], VT_I4);
    EXPECT_EQ(f->paramTypes[1], VT_BYREF | VT_I4);
    EXPECT_EQ(f->paramFlags[1], PARAMFLAG_FIN | PARAMFLAG_FOUT);
    i->ReleaseFuncDesc(f);
    BSTR names[3] = {};
    UINT n = 0;
    ASSERT_EQ(i->GetNames(3, names, 3, &n), S_OK);
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(Bstr_ToText(names[0]), "Go");
    EXPECT_EQ(Bstr_ToText(names[2]), "y");
    for (BSTR b : names) SysFreeString(b);
    EXPECT_EQ(i->GetNames(4, names, 3, &n), TYPE_E_ELEMENTNOTFOUND);
    i->Release();
    lib->Release();
}

TEST(TypeLib, TextThatCannotBeReadIsRefusedWhole)
{
    const struct {
        const char* name;
        std::string text;
    } cases[] = {
        {"no marker", "library L {197A585F-C49F-4571-804C-9F8C497FEC06} 1.0 \"x\"\n"},
        {"no library line", "%%type-library%%\nenum E\n"},
        {"bad libid", "%%type-library%%\nlibrary L {nope} 1.0 \"x\"\n"},
        {"bad version", "%%type-library%%\nlibrary L {197A585F-C49F-4571-804C-9F8C497FEC06} 1 \"x\"\n"},
        {"open quote", "%%type-library%%\nlibrary L {197A585F-C49F-4571-804C-9F8C497FEC06} 1.0 \"x\n"},
        {"member before any type", kHead + "value a 1\n"},
        {"unknown type",
         kHead + "dispinterface I {8F22E5AD-5FE8-4B58-A5BB-4A71B7328EFA} \"d\"\n property P 1 VT_FOO get\n"},
        {"property without access",
         kHead + "dispinterface I {8F22E5AD-5FE8-4B58-A5BB-4A71B7328EFA} \"d\"\n property P 1 VT_I4\n"},
        {"bad parameter direction",
         kHead + "dispinterface I {8F22E5AD-5FE8-4B58-A5BB-4A71B7328EFA} \"d\"\n method M 1 k:VT_I2:up\n"},
        {"class of a missing interface",
         kHead + "coclass C {6E763B03-CC89-4D06-8415-AF1DBA3A844D} \"c\"\n implements X\n"},
        {"unknown word", kHead + "struct S\n"},
        {"value in an interface", kHead + "dispinterface I {8F22E5AD-5FE8-4B58-A5BB-4A71B7328EFA} \"d\"\n value a 1\n"},
    };
    for (const auto& c : cases) {
        ITypeLib* lib = reinterpret_cast<ITypeLib*>(1);
        EXPECT_EQ(Build(c.text, &lib), TYPE_E_CANTLOADLIBRARY) << c.name;
        EXPECT_EQ(lib, nullptr) << c.name;
    }
}

} // namespace
