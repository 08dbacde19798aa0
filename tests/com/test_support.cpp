// Error information per thread, the exception record a dispatcher fills,
// the in-memory property bag, dispatch name lookup and the class factory.
#include "Fakes.h"
#include <gtest/gtest.h>
#include <thread>

namespace {

const IID kControl = {0x8F22E5AD, 0x5FE8, 0x4B58, {0xA5, 0xBB, 0x4A, 0x71, 0xB7, 0x32, 0x8E, 0xFA}};

std::string Take(HRESULT (IErrorInfo::*get)(BSTR*), IErrorInfo* e)
{
    BSTR b = nullptr;
    EXPECT_EQ((e->*get)(&b), S_OK);
    std::string s = Bstr_ToText(b);
    SysFreeString(b);
    return s;
}

TEST(ErrorInfo, ReportThenTake)
{
    EXPECT_EQ(Com_ReportError("'x' is not a valid integer value", kControl, "TavlinProj1.TavlinX"), DISP_E_EXCEPTION);
    IErrorInfo* e = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &e), S_OK);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(Take(&IErrorInfo::GetDescription, e), "'x' is not a valid integer value");
    EXPECT_EQ(Take(&IErrorInfo::GetSource, e), "TavlinProj1.TavlinX");
    GUID g;
    EXPECT_EQ(e->GetGUID(&g), S_OK);
    EXPECT_EQ(g, kControl);
    e->Release();
    // Taking it clears it.
    EXPECT_EQ(GetErrorInfo(0, &e), S_FALSE);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(Com_ReportError("other", kControl, "src", E_FAIL), E_FAIL);
    // A later error replaces the earlier one; a null one clears.
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(GetErrorInfo(0, &e), S_FALSE);
}

TEST(ErrorInfo, EachThreadHasItsOwn)
{
    Com_ReportError("main thread", kControl, "src");
    HRESULT other = S_OK;
    std::thread([&] {
        IErrorInfo* e = nullptr;
        other = GetErrorInfo(0, &e);
        Com_ReportError("left behind by a thread", kControl, "src"); // freed as the thread ends
    }).join();
    EXPECT_EQ(other, S_FALSE);
    IErrorInfo* e = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &e), S_OK);
    EXPECT_EQ(Take(&IErrorInfo::GetDescription, e), "main thread");
    e->Release();
}

TEST(ErrorInfo, CreatedObjectAnswersBothInterfaces)
{
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    create->SetDescription(u"Gr\u00FC\u00DFe");
    create->SetHelpFile(u"help.chm");
    create->SetHelpContext(7);
    void* p = nullptr;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, &p), S_OK);
    IErrorInfo* e = (IErrorInfo*)p;
    EXPECT_EQ(Take(&IErrorInfo::GetDescription, e), "Gr\xC3\xBC\xC3\x9F"
                                                    "e");
    EXPECT_EQ(Take(&IErrorInfo::GetSource, e), "");
    DWORD ctx = 0;
    e->GetHelpContext(&ctx);
    EXPECT_EQ(ctx, 7u);
    EXPECT_EQ(create->QueryInterface(IID_IDispatch, &p), E_NOINTERFACE);
    e->Release();
    create->Release();
}

TEST(ExcepInfo, FilledFromTheThreadsError)
{
    EXCEPINFO info;
    memset(&info, 0xCD, sizeof info); // the caller's record holds nothing on entry
    Com_ReportError("conversion failed", kControl, "TavlinProj1.TavlinX");
    Com_FillExcepInfo(&info, DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, DISP_E_EXCEPTION);
    EXPECT_EQ(Bstr_ToText(info.bstrDescription), "conversion failed");
    EXPECT_EQ(Bstr_ToText(info.bstrSource), "TavlinProj1.TavlinX");
    ExcepInfo_Clear(&info);
    EXPECT_EQ(info.bstrDescription, nullptr);
    IErrorInfo* e = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &e), S_FALSE); // taken by the record

    Com_FillExcepInfo(&info, E_FAIL); // no error information
    EXPECT_EQ(info.scode, E_FAIL);
    EXPECT_EQ(info.bstrDescription, nullptr);
    Com_ReportError("kept", kControl, "src");
    Com_FillExcepInfo(nullptr, E_FAIL);
    EXPECT_EQ(GetErrorInfo(0, &e), S_OK);
    e->Release();
}

// Records what the bag reports.
struct TErrorLog : IErrorLog {
    std::vector<std::string> errors;
    HRESULT QueryInterface(REFIID, void** ppv) override
    {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT AddError(LPCOLESTR name, EXCEPINFO* info) override
    {
        errors.push_back(Wide_ToText(name) + ": " + Bstr_ToText(info->bstrDescription));
        EXPECT_EQ(info->scode, DISP_E_TYPEMISMATCH);
        return S_OK;
    }
};

TEST(PropertyBag, ReadsWritesAndConverts)
{
    TComPropertyBag* bag = new TComPropertyBag();
    ASSERT_EQ(bag->WriteText("DVRIP", "10.0.0.5"), S_OK);
    ASSERT_EQ(bag->WriteText("HTTP_PORT", "80"), S_OK);
    ASSERT_EQ(bag->WriteText("HTTP_PAGE", "x"), S_OK);
    TErrorLog log;

    struct Case {
        const char16_t* name;
        VARTYPE want;
        HRESULT hr;
        const char* text; // the value read, as text
    } cases[] = {
        {u"dvrip", VT_EMPTY, S_OK, "10.0.0.5"}, // names ignore case
        {u"HTTP_PORT", VT_I4, S_OK, "80"},
        {u"HTTP_PORT", VT_BSTR, S_OK, "80"},
        {u"DVR_UK", VT_BSTR, E_INVALIDARG, nullptr}, // missing
        {u"HTTP_PAGE", VT_I4, DISP_E_TYPEMISMATCH, nullptr},
    };
    for (const Case& c : cases) {
        VARIANT v;
        VariantInit(&v);
        Variant_SetText(&v, "old contents"); // freed on success, kept on failure
        if (c.want != VT_BSTR) {
            VariantClear(&v);
            v.vt = c.want;
        }
        EXPECT_EQ(bag->Read(c.name, &v, &log), c.hr) << Wide_ToText(c.name);
        if (c.hr == S_OK) {
            EXPECT_EQ(v.vt, c.want == VT_EMPTY ? (VARTYPE)VT_BSTR : c.want);
            std::string t;
            Variant_ToText(&v, &t);
            EXPECT_EQ(t, c.text);
        } else {
            EXPECT_EQ(v.vt, c.want);
        }
        VariantClear(&v);
    }
    EXPECT_EQ(log.errors, (std::vector<std::string>{"HTTP_PAGE: The value of HTTP_PAGE has the wrong type"}));
    EXPECT_EQ(bag->ReadLog(), (std::vector<std::string>{"dvrip", "HTTP_PORT", "HTTP_PORT", "DVR_UK", "HTTP_PAGE"}));

    // A write replaces under the first spelling; Find and Names see it.
    VARIANT n;
    VariantInit(&n);
    n.vt = VT_UI4;
    n.ulVal = 1010;
    ASSERT_EQ(bag->Write(u"http_port", &n), S_OK);
    ASSERT_NE(bag->Find("Http_Port"), nullptr);
    EXPECT_EQ(bag->Find("HTTP_PORT")->vt, VT_UI4);
    EXPECT_EQ(bag->Find("nothing"), nullptr);
    EXPECT_EQ(bag->Names(), (std::vector<std::string>{"DVRIP", "HTTP_PORT", "HTTP_PAGE"}));

    void* p = nullptr;
    ASSERT_EQ(bag->QueryInterface(IID_IPropertyBag, &p), S_OK);
    EXPECT_EQ(bag->Release(), 1u);
    EXPECT_EQ(bag->Release(), 0u); // frees the bag and its values
}

TEST(Dispatch, NamesToIds)
{
    const TDispatchName names[] = {{"DVRIP", 16}, {"HTTP_PORT", 17}, {"Caption", -518}};
    struct Case {
        std::vector<const char16_t*> in;
        HRESULT hr;
        std::vector<DISPID> ids;
    } cases[] = {
        {{u"DVRIP"}, S_OK, {16}},
        {{u"http_port"}, S_OK, {17}},
        {{u"caption"}, S_OK, {-518}},
        {{u"HTTP_POR"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
        {{u"HTTP_PORTS"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
        {{u"DVRIP", u"value"}, DISP_E_UNKNOWNNAME, {16, DISPID_UNKNOWN}},
    };
    for (const Case& c : cases) {
        std::vector<LPOLESTR> in;
        for (const char16_t* s : c.in) in.push_back(const_cast<LPOLESTR>(s));
        std::vector<DISPID> ids(in.size(), 12345);
        EXPECT_EQ(Disp_GetIDsOfNames(names, 3, in.data(), (UINT)in.size(), ids.data()), c.hr);
        EXPECT_EQ(ids, c.ids);
    }
}

HRESULT CreateCounted(REFIID riid, void** ppv)
{
    static TCountedUnknown object;
    return object.QueryInterface(riid, ppv);
}

TEST(ClassFactory, CreatesRefusesAggregationAndLocks)
{
    TComClassFactory factory(CreateCounted);
    LONG base = ComModule_LockCount();
    void* p = nullptr;
    ASSERT_EQ(factory.QueryInterface(IID_IClassFactory, &p), S_OK);
    EXPECT_EQ(ComModule_LockCount(), base + 1); // a held factory keeps the module
    IClassFactory* cf = (IClassFactory*)p;
    TCountedUnknown outer;
    EXPECT_EQ(cf->CreateInstance(&outer, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(p, nullptr);
    ASSERT_EQ(cf->CreateInstance(nullptr, IID_IUnknown, &p), S_OK);
    ((IUnknown*)p)->Release();
    EXPECT_EQ(cf->CreateInstance(nullptr, IID_IDispatch, &p), E_NOINTERFACE);
    cf->LockServer(TRUE);
    EXPECT_EQ(ComModule_LockCount(), base + 2);
    cf->LockServer(FALSE);
    cf->Release();
    EXPECT_EQ(ComModule_LockCount(), base);
}

} // namespace
