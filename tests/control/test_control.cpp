// The control in process: its start-up, the property store and gate, the
// COM object's dispatch and property bag, and the link steps of the main
// loop over fake sockets. One control exists per process, so the object
// is created once for all tests; cases that need a fresh process fork.
#include "control/Properties.h"
#include "control/Session.h"
#include "control/TavlinImpl1.h"
#include "control/TavlinProj1_TLB.h"
#include "control/TavlinXImpl.h"
#include "control/Speaker.h"
#include "control/Title.h"
#include "control/View.h"
#include "link/Conn.h"
#include "link/Ring.h"
#include "link/Tavn.h"
#include "media/Hooks.h"
#include "media/Stream.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include "link/Hooks.h"
#include "platform/com/Com.h"
#include "platform/win/Win.h"
#include "tests/support/VidoFrames.h"
#include "platform/com/Registry.h"
#include "platform/com/TypeLib.h"
#include "platform/vcl/Dialogs.h"
#include "tests/control/ControlTest.h"
#include "tests/support/Scratch.h"
#include "tests/support/ModuleReset.h"
#include "tests/support/Shell.h"
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// --- A socket that never touches the network -------------------------------

class FakeWin : public TCustomWinSocket {
public:
    bool connected = false;
    bool Connected() const override { return connected; }
    int SendBuf(const void*, int n) override { return connected ? n : -1; }
    int ReceiveLength() override { return 0; }
    int ReceiveBuf(void*, int) override { return 0; }
    intptr_t SocketHandle() const override { return -1; }
};

class FakeSocket : public TClientSocket {
public:
    FakeSocket() : TClientSocket(nullptr) {}
    FakeWin win;
    AnsiString host;
    int port = -1, opens = 0;
    void SetHost(const AnsiString& h) override { host = h; }
    void SetPort(int p) override { port = p; }
    void SetActive(bool v) override
    {
        if (v) opens++;
    }
    bool Active() const override { return false; }
    void Close() override {}
    TCustomWinSocket* Socket() const override { return const_cast<FakeWin*>(&win); }
};

// --- Cases run in a forked child ---------------------------------------------

// Puts in order (property, text), then one poll of the sockets: exits 0 when
// socket 0 of connection 0 was opened, 3 when not.
void PutsThenPoll(const std::vector<std::pair<int, const char*>>& puts)
{
    FakeSocket s0, s1;
    gConnections[0].socket[0] = &s0;
    gConnections[0].socket[1] = &s1;
    Conn_InitAll();
    for (auto& p : puts) {
        VARIANT v = Text(p.second);
        Property_Put(p.first, v);
        VariantClear(&v);
    }
    Session_PollSockets();
    exit(s0.opens == 1 ? 0 : 3);
}

TEST(PropertyGate, ConnectsFromTheThirdSuccessfulPut)
{
    struct Case {
        const char* what;
        std::vector<std::pair<int, const char*>> puts;
        int exitCode;
    } cases[] = {
        {"nothing put", {}, 3},
        {"two puts", {{PROP_DVRIP, "127.0.0.1"}, {PROP_HTTP_PORT, "80"}}, 3},
        {"address, port, key", {{PROP_DVRIP, "127.0.0.1"}, {PROP_HTTP_PORT, "80"}, {PROP_DVR_UK, "1.2.3"}}, 0},
        {"the page selector three times", {{PROP_HTTP_PAGE, "1"}, {PROP_HTTP_PAGE, "2"}, {PROP_HTTP_PAGE, "0"}}, 0},
        {"four of a mix", {{PROP_DVR_UK, "a"}, {PROP_DVRIP, "h"}, {PROP_DVRIP, "h"}, {PROP_HTTP_PAGE, "1"}}, 0},
        {"a failed put does not count", {{PROP_DVRIP, "h"}, {PROP_HTTP_PORT, "80"}, {PROP_HTTP_PAGE, "x"}}, 3},
    };
    for (const Case& c : cases) EXPECT_EXIT(PutsThenPoll(c.puts), ::testing::ExitedWithCode(c.exitCode), "") << c.what;
}

void StartTwice()
{
    TTavlinX* form = TavlinX_CreateForm();
    (void)form;
    Viewer_Init(); // a second start-up in the same process
    exit(0);
}

TEST(StartupDeathTest, SecondStartupEndsTheProcessWithCode1)
{
    EXPECT_EXIT(StartTwice(), ::testing::ExitedWithCode(1), "");
}

// --- The one control of this process ----------------------------------------

ITavlinX* gControl = nullptr;
} // namespace

ITavlinX* TestControl() { return gControl; }

namespace {

class ControlEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(TavlinX_Create(IID_ITavlinX, (void**)&gControl), S_OK);
        ASSERT_NE(gViewerForm, nullptr);
    }
};
::testing::Environment* const gEnv = ::testing::AddGlobalTestEnvironment(new ControlEnvironment);

TEST(Control, StartsUpLikeThePageExpects)
{
    EXPECT_EQ(gViewerForm->Label_Version->Caption(), "Ver.030157");
    EXPECT_EQ(gViewerForm->Label_time->Caption(), "Connecting ...");
    EXPECT_EQ(gViewerForm->Width(), 1010);
    EXPECT_EQ(gViewerForm->Height(), 656);
    EXPECT_TRUE(gViewerForm->Timer1->Enabled());
    EXPECT_EQ(gViewerForm->Timer1->Interval(), 10u);
    EXPECT_FALSE(gViewerForm->Image_Conn->Visible());
    // Four sockets owned by the form, tag = socket x 2 + connection.
    for (uint32_t c = 0; c < 2; c++)
        for (uint32_t s = 0; s < 2; s++) {
            ASSERT_NE(gConnections[c].socket[s], nullptr);
            EXPECT_EQ(gConnections[c].socket[s]->Tag, (int)(s * 2 + c));
            EXPECT_EQ(gConnections[c].socket[s]->Owner(), gViewerForm);
        }
    EXPECT_EQ(gConnections[0].socketState[0], (uint32_t)SOCK_DOWN); // the first tick connects
}

TEST(Control, DispatchesFromTheDispidTable)
{
    IDispatch* d = gControl;
    struct Case {
        const char* name;
        DISPID id;
    } cases[] = {{"Visible", 1}, {"caption", -518}, {"DVRIP", 16},     {"HTTP_PORT", 17},
                 {"DVR_UK", 18}, {"HTTP_PAGE", 19}, {"Enabled", -514}, {"VisibleDockClientCount", 15}};
    for (const Case& c : cases) {
        std::u16string w = Wide_FromText(c.name);
        LPOLESTR names[] = {(LPOLESTR)w.c_str()};
        DISPID id = 0;
        EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << c.name;
        EXPECT_EQ(id, c.id) << c.name;
    }
    std::u16string bad = Wide_FromText("NoSuchProperty");
    LPOLESTR names[] = {(LPOLESTR)bad.c_str()};
    DISPID id;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);

    // A put through Invoke, then a get of the same property.
    VARIANT value = Text("Viewer");
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {&value, &named, 1, 1};
    EXPECT_EQ(d->Invoke(DISPID_TX_Caption, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
    VariantClear(&value);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    EXPECT_EQ(d->Invoke(DISPID_TX_Caption, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(Bstr_ToText(result.bstrVal), "Viewer");
    VariantClear(&result);
    EXPECT_EQ(d->Invoke(DISPID_TX_Active, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(d->Invoke(12345, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

TEST(Control, PropertyPutsConvertAnyVariantToText)
{
    uint32_t before = gPropertyPutCount;
    VARIANT port = Int(8080);
    EXPECT_EQ(gControl->set_HTTP_PORT(port), S_OK);
    EXPECT_STREQ(Property_Text(PROP_HTTP_PORT), "8080");
    VARIANT b;
    VariantInit(&b);
    b.vt = VT_BOOL;
    b.boolVal = VARIANT_TRUE;
    EXPECT_EQ(gControl->set_DVR_UK(b), S_OK);
    EXPECT_STREQ(Property_Text(PROP_DVR_UK), "-1");
    EXPECT_EQ(gPropertyPutCount, before + 2);

    VARIANT object;
    VariantInit(&object);
    object.vt = VT_DISPATCH;
    object.pdispVal = nullptr; // no value to take a text from
    EXPECT_EQ(gControl->set_DVRIP(object), DISP_E_TYPEMISMATCH);
    VARIANT null;
    VariantInit(&null);
    null.vt = VT_NULL;
    EXPECT_EQ(gControl->set_DVRIP(null), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(gPropertyPutCount, before + 2);

    // A get hands out a copy the caller frees; the store keeps its own.
    VARIANT got;
    ASSERT_EQ(gControl->get_HTTP_PORT(&got), S_OK);
    EXPECT_EQ(got.vt, VT_I4);
    EXPECT_EQ(got.lVal, 8080);
    VariantClear(&got);
}

TEST(Control, PageSelectorMustBeAnInteger)
{
    VARIANT two = Text("2");
    ASSERT_EQ(gControl->set_HTTP_PAGE(two), S_OK);
    EXPECT_EQ(gHttpPage, 2);
    uint32_t count = gPropertyPutCount;
    VARIANT x = Text("x");
    EXPECT_EQ(gControl->set_HTTP_PAGE(x), DISP_E_EXCEPTION);
    EXPECT_EQ(gPropertyPutCount, count);
    EXPECT_EQ(gHttpPage, 2);
    EXPECT_STREQ(Property_Text(PROP_HTTP_PAGE), "x"); // the new text stays
    VARIANT kept;
    ASSERT_EQ(gControl->get_HTTP_PAGE(&kept), S_OK);
    EXPECT_EQ(Bstr_ToText(kept.bstrVal), "2"); // the old VARIANT stays
    VariantClear(&kept);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR text = nullptr, source = nullptr;
    GUID iid;
    info->GetDescription(&text);
    info->GetSource(&source);
    info->GetGUID(&iid);
    EXPECT_EQ(Bstr_ToText(text), "'x' is not a valid integer value");
    EXPECT_EQ(Bstr_ToText(source), "TavlinProj1.TavlinX");
    EXPECT_TRUE(iid == IID_ITavlinX);
    SysFreeString(text);
    SysFreeString(source);
    info->Release();
    VariantClear(&two);
    VariantClear(&x);

    // Through Invoke the same failure fills the exception record.
    VARIANT y = Text("y");
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {&y, &named, 1, 1};
    EXCEPINFO ex = {};
    EXPECT_EQ(gControl->Invoke(DISPID_TX_HTTP_PAGE, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, &ex, nullptr),
              DISP_E_EXCEPTION);
    EXPECT_EQ(Bstr_ToText(ex.bstrDescription), "'y' is not a valid integer value");
    ExcepInfo_Clear(&ex);
    VariantClear(&y);
}

TEST(Control, PropertyBagLoadsInOrderAndSkipsMissingNames)
{
    IPersistPropertyBag* persist = nullptr;
    ASSERT_EQ(gControl->QueryInterface(IID_IPersistPropertyBag, (void**)&persist), S_OK);

    // The bag is asked for each value in the type the property holds now.
    VARIANT key = Text("old");
    ASSERT_EQ(gControl->set_DVR_UK(key), S_OK);
    VariantClear(&key);
    auto* bag = new TComPropertyBag;
    bag->WriteText("HTTP_PORT", "81");
    bag->WriteText("DVRIP", "10.1.2.3");
    bag->WriteText("DVR_UK", "A.1.2");
    uint32_t count = gPropertyPutCount;
    EXPECT_EQ(persist->Load(bag, nullptr), S_OK);
    std::vector<std::string> order = {"_cx", "_cy", "DVRIP", "HTTP_PORT", "DVR_UK", "HTTP_PAGE"};
    EXPECT_EQ(bag->ReadLog(), order);
    EXPECT_EQ(gPropertyPutCount, count + 3);
    EXPECT_STREQ(Property_Text(PROP_DVRIP), "10.1.2.3");
    bag->Release();

    auto* bad = new TComPropertyBag;
    bad->WriteText("DVRIP", "10.9.9.9");
    bad->WriteText("HTTP_PAGE", "x");
    EXPECT_EQ(persist->Load(bad, nullptr), DISP_E_EXCEPTION);
    EXPECT_STREQ(Property_Text(PROP_DVRIP), "10.9.9.9"); // put before the failing one
    bad->Release();

    auto* saved = new TComPropertyBag;
    EXPECT_EQ(persist->Save(saved, TRUE, TRUE), S_OK);
    EXPECT_EQ(saved->Names(), std::vector<std::string>({"_cx", "_cy", "DVRIP", "HTTP_PORT", "DVR_UK", "HTTP_PAGE"}));
    // The extent of the 1010 x 656 form at 96 pixels an inch, in HIMETRIC.
    ASSERT_NE(saved->Find("_cx"), nullptr);
    EXPECT_EQ(saved->Find("_cx")->vt, VT_UI4);
    EXPECT_EQ(saved->Find("_cx")->ulVal, 26723u);
    EXPECT_EQ(saved->Find("_cy")->ulVal, 17357u);
    saved->Release();
    persist->Release();
}

// Every member of an interface's type information, by name.
std::map<std::string, std::pair<MEMBERID, int>> Members(ITypeInfo* info)
{
    std::map<std::string, std::pair<MEMBERID, int>> out; // name -> id, INVOKE_* bits
    TYPEATTR* attr = nullptr;
    EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
    if (!attr) return out;
    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        EXPECT_EQ(info->GetFuncDesc(i, &f), S_OK);
        if (!f) continue;
        BSTR name = nullptr;
        UINT n = 0;
        EXPECT_EQ(info->GetNames(f->memid, &name, 1, &n), S_OK);
        std::string text = Bstr_ToText(name);
        SysFreeString(name);
        out[text].first = f->memid;
        out[text].second |= f->invkind;
        info->ReleaseFuncDesc(f);
    }
    info->ReleaseTypeAttr(attr);
    return out;
}

// The type information the control hands out describes what it dispatches.
void ExpectDescribesTheControl(ITypeLib* library)
{
    ASSERT_NE(library, nullptr);
    TLIBATTR* la = nullptr;
    ASSERT_EQ(library->GetLibAttr(&la), S_OK);
    EXPECT_TRUE(la->guid == LIBID_TavlinProj1);
    EXPECT_EQ(la->wMajorVerNum, 1);
    EXPECT_EQ(la->wMinorVerNum, 0);
    library->ReleaseTLibAttr(la);
    BSTR doc = nullptr;
    EXPECT_EQ(library->GetDocumentation(-1, nullptr, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(Bstr_ToText(doc), "TavlinProj1 Library");
    SysFreeString(doc);

    ITypeInfo* coclass = nullptr;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_TavlinX, &coclass), S_OK);
    TYPEATTR* ca = nullptr;
    ASSERT_EQ(coclass->GetTypeAttr(&ca), S_OK);
    EXPECT_EQ(ca->typekind, TKIND_COCLASS);
    ASSERT_EQ(ca->cImplTypes, 2);
    coclass->ReleaseTypeAttr(ca);
    // Its default interface is ITavlinX, its default source the events.
    GUID found[2];
    for (UINT i = 0; i < 2; ++i) {
        HREFTYPE ref = 0;
        ASSERT_EQ(coclass->GetRefTypeOfImplType(i, &ref), S_OK);
        ITypeInfo* impl = nullptr;
        ASSERT_EQ(coclass->GetRefTypeInfo(ref, &impl), S_OK);
        TYPEATTR* ia = nullptr;
        ASSERT_EQ(impl->GetTypeAttr(&ia), S_OK);
        found[i] = ia->guid;
        impl->ReleaseTypeAttr(ia);
        impl->Release();
        INT flags = 0;
        EXPECT_EQ(coclass->GetImplTypeFlags(i, &flags), S_OK);
        EXPECT_EQ(flags, i == 0 ? IMPLTYPEFLAG_FDEFAULT : IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
    }
    EXPECT_TRUE(found[0] == IID_ITavlinX);
    EXPECT_TRUE(found[1] == DIID_ITavlinXEvents);
    coclass->Release();

    ITypeInfo* events = nullptr;
    ASSERT_EQ(library->GetTypeInfoOfGuid(DIID_ITavlinXEvents, &events), S_OK);
    auto e = Members(events);
    EXPECT_EQ(e.size(), 8u);
    EXPECT_EQ(e["OnKeyPress"].first, DISPID_TXE_OnKeyPress);
    EXPECT_EQ(e["OnPaint"].first, DISPID_TXE_OnPaint);
    events->Release();
}

TEST(Control, TypeInformationDescribesWhatItDispatches)
{
    UINT count = 0;
    ASSERT_EQ(gControl->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(gControl->GetTypeInfo(1, 0, &info), DISP_E_BADINDEX);
    ASSERT_EQ(gControl->GetTypeInfo(0, 0, &info), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(attr->guid == IID_ITavlinX);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    info->ReleaseTypeAttr(attr);
    // Each member is found by name under the DISPID the control answers,
    // with get and put as the control allows them.
    auto members = Members(info);
    EXPECT_EQ(members.size(), 23u);
    for (const auto& m : members) {
        SCOPED_TRACE(m.first);
        std::u16string w = Wide_FromText(m.first);
        LPOLESTR names[] = {(LPOLESTR)w.c_str()};
        DISPID id = 0;
        ASSERT_EQ(gControl->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        EXPECT_EQ(id, m.second.first);
        MEMBERID fromInfo = 0;
        EXPECT_EQ(info->GetIDsOfNames(names, 1, &fromInfo), S_OK);
        EXPECT_EQ(fromInfo, id);
        bool readOnly =
            id == DISPID_TX_Active || id == DISPID_TX_AlignDisabled || id == DISPID_TX_VisibleDockClientCount;
        EXPECT_EQ(m.second.second, readOnly ? INVOKE_PROPERTYGET : INVOKE_PROPERTYGET | INVOKE_PROPERTYPUT);
    }
    ITypeLib* library = nullptr;
    UINT index = 99;
    ASSERT_EQ(info->GetContainingTypeLib(&library, &index), S_OK);
    ExpectDescribesTheControl(library);
    library->Release();
    info->Release();
}

TEST(Control, RegisteredTypeLibraryLoadsBack)
{
    ASSERT_EQ(TavlinX_RegisterTypeLib(), S_OK);
    std::string path;
    ASSERT_EQ(Registry_GetText(HKEY_CLASSES_ROOT,
                               ("TypeLib\\" + Guid_ToText(LIBID_TavlinProj1) + "\\1.0\\0\\win32").c_str(), "", &path),
              ERROR_SUCCESS);
    EXPECT_FALSE(path.empty());
    std::string typeLib;
    EXPECT_EQ(Registry_GetText(HKEY_CLASSES_ROOT, ("Interface\\" + Guid_ToText(IID_ITavlinX) + "\\TypeLib").c_str(), "",
                               &typeLib),
              ERROR_SUCCESS);
    EXPECT_EQ(typeLib, Guid_ToText(LIBID_TavlinProj1));
    // Read back out of the registered file, not from this process's copy.
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_TavlinProj1, 1, 0, 0, &library), S_OK);
    ExpectDescribesTheControl(library);
    library->Release();
    EXPECT_EQ(LoadRegTypeLib(LIBID_TavlinProj1, 2, 0, 0, &library), TYPE_E_LIBNOTREGISTERED);
    std::u16string nowhere = Wide_FromText("/nonexistent/TavlinProj1.so");
    EXPECT_EQ(LoadTypeLib((LPCOLESTR)nowhere.c_str(), &library), TYPE_E_CANTLOADLIBRARY);

    // The server registered by the host as a user would: the dump shows the
    // library, and it loads back out of the server's file.
    const std::string dir = ScratchDir("tavlin-typelib");
    ASSERT_NE(dir, "/tmp");
    const std::string registry = dir + "/registry";
    const std::string env = "TAVLIN_REGISTRY=" + registry + " ";
    std::string out;
    ASSERT_EQ(Shell(env + TAVLIN_HOST_PATH " --register " TAVLIN_LIBRARY_PATH " 2>&1", &out), 0) << out;
    ASSERT_EQ(Shell(env + TAVLIN_HOST_PATH " --dump-registry TypeLib 2>&1", &out), 0);
    EXPECT_NE(out.find(Guid_ToText(LIBID_TavlinProj1) + "\\1.0\\0\\win32]\n@=\"" TAVLIN_LIBRARY_PATH "\""),
              std::string::npos)
        << out;
    const char* old = getenv("TAVLIN_REGISTRY");
    const std::string kept = old ? old : "";
    setenv("TAVLIN_REGISTRY", registry.c_str(), 1);
    HRESULT hr = LoadRegTypeLib(LIBID_TavlinProj1, 1, 0, 0, &library);
    if (old) setenv("TAVLIN_REGISTRY", kept.c_str(), 1);
    else unsetenv("TAVLIN_REGISTRY");
    ASSERT_EQ(hr, S_OK);
    ExpectDescribesTheControl(library);
    library->Release();
    Shell("rm -rf " + std::string(dir));
}

// A font object of some other component: only its dispatch interface.
class ForeignFont : public IDispatch {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IDispatch ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* id) override
    {
        const std::string n = Wide_ToText(names[0]);
        const char* known[] = {"Name", "Size", "Bold", "Italic", "Underline", "Strikethrough", "Charset"};
        for (int i = 0; i < 7; ++i)
            if (n == known[i]) {
                *id = 100 + i;
                return S_OK;
            }
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*, UINT*) override
    {
        VariantInit(r);
        switch (id) {
        case 100: Variant_SetText(r, "Serif"); break;
        case 101:
            r->vt = VT_CY;
            r->cyVal = 140000;
            break;
        case 103:
            r->vt = VT_BOOL;
            r->boolVal = VARIANT_TRUE;
            break;
        case 106:
            r->vt = VT_I2;
            r->iVal = 0;
            break;
        default:
            r->vt = VT_BOOL;
            r->boolVal = VARIANT_FALSE;
            break;
        }
        return S_OK;
    }
};

TEST(Control, StockFontGetsAndPutsTheFormsFont)
{
    TFont before;
    before.Assign(*gViewerForm->Font());
    IDispatch* font = nullptr;
    ASSERT_EQ(gControl->get_Font(&font), S_OK);
    ASSERT_NE(font, nullptr);
    auto get = [&](IDispatch* f, const char* name) {
        std::u16string w = Wide_FromText(name);
        LPOLESTR names[] = {(LPOLESTR)w.c_str()};
        DISPID id = 0;
        EXPECT_EQ(f->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << name;
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ(f->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr), S_OK) << name;
        return v;
    };
    auto put = [&](IDispatch* f, const char* name, VARIANT v) {
        std::u16string w = Wide_FromText(name);
        LPOLESTR names[] = {(LPOLESTR)w.c_str()};
        DISPID id = 0;
        EXPECT_EQ(f->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << name;
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS p = {&v, &named, 1, 1};
        HRESULT hr = f->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &p, nullptr, nullptr, nullptr);
        VariantClear(&v);
        return hr;
    };
    VARIANT name = get(font, "Name");
    ASSERT_EQ(name.vt, VT_BSTR);
    EXPECT_EQ(Bstr_ToText(name.bstrVal), gViewerForm->Font()->Name());
    VariantClear(&name);
    VARIANT size = get(font, "Size");
    ASSERT_EQ(size.vt, VT_CY);
    EXPECT_EQ(size.cyVal, (LONGLONG)gViewerForm->Font()->Size() * 10000);

    // A put on the font object changes the form's font.
    EXPECT_EQ(put(font, "Name", Text("Courier")), S_OK);
    EXPECT_EQ(gViewerForm->Font()->Name(), "Courier");
    VARIANT yes;
    VariantInit(&yes);
    yes.vt = VT_BOOL;
    yes.boolVal = VARIANT_TRUE;
    EXPECT_EQ(put(font, "Bold", yes), S_OK);
    EXPECT_TRUE(gViewerForm->Font()->Style() & fsBold);
    EXPECT_EQ(put(font, "Size", Int(0)), E_INVALIDARG);

    // The font property's put takes another font object's attributes.
    gViewerForm->Font()->Assign(before);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_DISPATCH;
    value.pdispVal = font;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS p = {&value, &named, 1, 1};
    ForeignFont other; // "Serif", 14 points, italic
    IDispatch* otherFont = &other;
    value.pdispVal = otherFont;
    EXPECT_EQ(gControl->Invoke(DISPID_TX_Font, IID_NULL, 0, DISPATCH_PROPERTYPUT, &p, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(gViewerForm->Font()->Name(), "Serif");
    EXPECT_EQ(gViewerForm->Font()->Size(), 14);
    EXPECT_EQ(gViewerForm->Font()->Style(), (TFontStyles)fsItalic);
    EXPECT_EQ(gControl->set_Font(nullptr), E_POINTER);
    VARIANT got;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    ASSERT_EQ(gControl->Invoke(DISPID_TX_Font, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &got, nullptr, nullptr), S_OK);
    EXPECT_EQ(got.vt, VT_DISPATCH);
    VariantClear(&got);
    font->Release();
    gViewerForm->Font()->Assign(before);
}

TEST(Control, FiresTheFormsEventsToSinks)
{
    IConnectionPointContainer* cpc = nullptr;
    ASSERT_EQ(gControl->QueryInterface(IID_IConnectionPointContainer, (void**)&cpc), S_OK);
    IConnectionPoint* cp = nullptr;
    ASSERT_EQ(cpc->FindConnectionPoint(DIID_ITavlinXEvents, &cp), S_OK);
    EventSink sink;
    DWORD cookie = 0;
    ASSERT_EQ(cp->Advise(&sink, &cookie), S_OK);
    gViewerForm->OnClick(gViewerForm);
    gViewerForm->OnDblClick(gViewerForm);
    gViewerForm->OnPaint(gViewerForm);
    sink.replaceKey = 'Z';
    char key = 'a';
    gViewerForm->OnKeyPress(gViewerForm, key);
    EXPECT_EQ(key, 'Z'); // the sink's change goes back to the form
    EXPECT_EQ(sink.events, std::vector<DISPID>(
                               {DISPID_TXE_OnClick, DISPID_TXE_OnDblClick, DISPID_TXE_OnPaint, DISPID_TXE_OnKeyPress}));
    // While the container has frozen the events, none is fired.
    IOleControl* control = nullptr;
    ASSERT_EQ(gControl->QueryInterface(IID_IOleControl, (void**)&control), S_OK);
    sink.events.clear();
    control->FreezeEvents(TRUE);
    gViewerForm->OnClick(gViewerForm);
    control->FreezeEvents(FALSE);
    gViewerForm->OnDblClick(gViewerForm);
    EXPECT_EQ(sink.events, std::vector<DISPID>({DISPID_TXE_OnDblClick}));
    control->Release();
    cp->Unadvise(cookie);
    cp->Release();
    cpc->Release();
}

TEST(Session, ConnectCutsHostPortAndKey)
{
    struct Case {
        std::string host, port, key;
        std::string wantHost;
        uint32_t wantPort;
        std::string wantKey;
    } cases[] = {
        {std::string(70, 'h'), "80a", std::string(40, '7'), std::string(63, 'h'), 80, std::string(31, '7')},
        {"127.0.0.1", "", "K.1.2", "127.0.0.1", 0, "K"},
        {"host", " 8080", "", "host", 8080, ""},
    };
    FakeSocket s0, s1;
    TClientSocket* saved[2] = {gConnections[0].socket[0], gConnections[0].socket[1]};
    gConnections[0].socket[0] = &s0;
    gConnections[0].socket[1] = &s1;
    for (const Case& c : cases) {
        VARIANT h = Text(c.host.c_str()), p = Text(c.port.c_str()), k = Text(c.key.c_str());
        gControl->set_DVRIP(h);
        gControl->set_HTTP_PORT(p);
        gControl->set_DVR_UK(k);
        VariantClear(&h);
        VariantClear(&p);
        VariantClear(&k);
        Session_Connect(0, 0);
        EXPECT_EQ(std::string(gConnections[0].host), c.wantHost);
        EXPECT_EQ(s0.host, c.wantHost);
        EXPECT_EQ(gConnections[0].port, c.wantPort);
        EXPECT_EQ((uint32_t)s0.port, c.wantPort);
        // The key is split in place at its first ".".
        EXPECT_EQ(std::string(gConnections[0].userKey), c.wantKey);
        EXPECT_EQ(gViewerForm->LabeledEdit_System1->Text(), c.host);
        EXPECT_EQ(gViewerForm->LabeledEdit_System2->Text(), c.port);
        EXPECT_EQ(gConnections[0].displaysRegistered, 1u);
    }

    // A disconnect is reopened on the next poll.
    int opens = s0.opens;
    Conn_OnDisconnected(0, 0);
    EXPECT_EQ(gConnections[0].socketState[0], (uint32_t)SOCK_DOWN);
    EXPECT_FALSE(gViewerForm->Image_Conn->Visible());
    Session_PollSockets();
    EXPECT_EQ(s0.opens, opens + 1);
    EXPECT_EQ(gConnections[0].socketState[0], (uint32_t)SOCK_OPENING);
    EXPECT_EQ(gConnections[0].displaysRegistered, 1u);
    gConnections[0].socket[0] = saved[0];
    gConnections[0].socket[1] = saved[1];
}

TEST(Control, MainLoopGoesOnWhenAStepThrows)
{
    // A socket whose reconnect throws inside the tick's socket poll.
    class Throwing : public FakeSocket {
    public:
        void SetActive(bool v) override
        {
            if (v) throw std::runtime_error("socket refused");
        }
    };
    Throwing s0;
    FakeSocket s1;
    TClientSocket* saved[2] = {gConnections[0].socket[0], gConnections[0].socket[1]};
    gConnections[0].socket[0] = &s0;
    gConnections[0].socket[1] = &s1;
    for (int put : {PROP_DVRIP, PROP_HTTP_PORT, PROP_DVR_UK}) {
        VARIANT v = Text(put == PROP_HTTP_PORT ? "80" : "127.0.0.1");
        Property_Put(put, v);
        VariantClear(&v);
    }
    gConnections[0].socketState[0] = SOCK_DOWN;
    std::vector<TVclDialogRequest> boxes;
    Vcl_SetDialogHook([&](TVclDialogRequest& r) {
        boxes.push_back(r);
        return IDOK;
    });
    gViewerForm->Timer1Timer(nullptr);
    Vcl_SetDialogHook(nullptr);
    gConnections[0].socket[0] = saved[0];
    gConnections[0].socket[1] = saved[1];

    EXPECT_TRUE(gViewerForm->Timer1->Enabled()) << "the timer is on again after the throw";
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Text, "socket refused");
}

TEST(Session, ReadEventTakesNoMoreThanTheBufferHolds)
{
    class Flood : public FakeWin {
    public:
        int offered = 0x50000;
        int ReceiveLength() override { return offered; }
        int ReceiveBuf(void* b, int n) override
        {
            int k = n < offered ? n : offered;
            memset(b, 'x', (size_t)k);
            offered -= k;
            return k;
        }
    } flood;
    TConnection* c = &gConnections[1];
    Conn_ResetReceiveBuffer(c, 0);
    Socket_AppendReceived(&flood, c, 0);
    EXPECT_EQ(c->receive[0].writeIndex, (uint32_t)CONN_RECEIVE_SIZE);
    EXPECT_EQ(flood.offered, 0x50000 - CONN_RECEIVE_SIZE); // the rest stays in the socket
    Socket_AppendReceived(&flood, c, 0);
    EXPECT_EQ(c->receive[0].writeIndex, (uint32_t)CONN_RECEIVE_SIZE);
    Socket_AppendReceived(&flood, c, 2); // no such socket
    Conn_ResetReceiveBuffer(c, 0);
}

// --- The main loop's steps, their order and periods --------------------------

// What each step left when a later one was seen, noted at the steps that
// can be watched from outside: the 300 ms task's title rendering (its
// measuring font changes), the socket poll's send, the stream step's hand
// of a frame to the backup writer, and the end of the tick.
struct TSeen {
    uint32_t tick;
    std::string step;
    uint32_t pageWait;     // 0 before the tick, counted by the receive step
    int32_t percentage;    // backup progress: set by the 1 s task
    uint32_t titleChanged; // cleared by the 300 ms task
    int32_t redrawRequest; // served by the 33 ms task's panel redraw
    uint32_t speakerShown; // the speaker icon, hidden by the last step 2 s after a move
};
std::vector<TSeen> gSeen;
uint32_t gLoopTick = 0;
uint32_t gLoopMs = 0;

void Note(const char* step)
{
    gSeen.push_back({gLoopTick, step, gViewRecords[0].pageWait[0], IE_percentage, gTitleStates[0].changed[0],
                     gRedrawRequest, gSpeakerState.lastShown});
}

class LoopWin : public TCustomWinSocket {
public:
    bool Connected() const override { return true; }
    int SendBuf(const void*, int n) override
    {
        Note("poll");
        return n;
    }
    int ReceiveLength() override { return 0; }
    int ReceiveBuf(void*, int) override { return 0; }
    intptr_t SocketHandle() const override { return -1; }
};
class LoopSocket : public TClientSocket {
public:
    LoopSocket() : TClientSocket(nullptr) {}
    LoopWin win;
    bool Active() const override { return true; }
    void SetActive(bool) override {}
    void Close() override {}
    TCustomWinSocket* Socket() const override { return const_cast<LoopWin*>(&win); }
};

TEST(Control, MainLoopRunsItsStepsInOrderAndItsTasksAtTheirPeriods)
{
    ASSERT_GT(gSkinElementTotal, 0u) << "the key panel's skin is loaded";
    ASSERT_NE(gTitleMeasureImage, nullptr);
    // The control's modules as its start-up left them, whatever the tests
    // before this one did.
    Modules_ResetAll();
    TConnection* c = &gConnections[0];
    TClientSocket* saved[2] = {c->socket[0], c->socket[1]};
    LoopSocket socket0;
    FakeSocket socket1;
    c->socket[0] = &socket0;
    c->socket[1] = &socket1;
    c->socketState[0] = c->socketState[1] = SOCK_IDLE;
    c->session = 0x2222;
    c->linkState = LINK_LOGGED_IN;
    c->active = 1;
    gHandshakeRecords[0].machine.channelCount = 4;
    gLoopMs = 5000000;
    Win_SetTickSource([] { return gLoopMs; });
    // A backup running in Backup mode, half way through its span.
    TViewRecord* view = &gViewRecords[0];
    view->mode = VIEW_BACKUP;
    view->backupBlock.backupArmed = BACKUP_RUNNING;
    view->backupBlock.backupChannel = 0;
    view->backupBlock.backupStart = 1000;
    view->backupBlock.backupEnd = 1100;
    Stream_SetHandOffs(nullptr, [](TStreamRecord* st) {
        if (st->heldLength == 0) return 0; // asked with nothing held
        Note("stream");
        st->heldLength = 0;
        return 0;
    });
    memcpy(gTitleStates[0].settings->titles[0], "CAM 1", 6);
    TFont* measuring = gTitleMeasureImage->Picture()->Bitmap()->Canvas()->Font();
    measuring->OnChange = [](TObject*) {
        if (gSeen.empty() || gSeen.back().step != "titles" || gSeen.back().tick != gLoopTick) Note("titles");
    };
    gAudioAvailable.store(1);
    uint32_t sequence = 1;
    auto tick = [&](uint32_t ms) {
        gLoopMs += ms;
        gLoopTick++;
        c->busy[0] = c->busy[1] = 0;
        view->pageWait[0] = 0;
        gTitleStates[0].changed[0] = 1;
        gRedrawRequest = REDRAW_NOW;
        IE_percentage = -1;
        FrameDesc f;
        f.channelSequence = sequence++;
        f.source = SOURCE_RECORDED;
        f.time = 1050;
        Bytes b = FrameBytes(f);
        TFrameRing& v = gStreamRecords[0].videoRing;
        ASSERT_EQ(Ring_Write(b.data(), v.data, (uint32_t)b.size(), &v.writeIndex, &v.readIndex, v.size), 0);
        gViewerForm->Timer1Timer(nullptr);
        Note("after");
    };
    // A first tick long after every task ran: each runs, and its stamp is now.
    tick(100000);
    gLoopTick = 0;
    gSeen.clear();
    Speaker_OnVideoMove();
    // Ticks 1 ms apart for 2.1 s, then one 1,010 ms later, when all three
    // tasks are due at once. A task runs on the first tick at which more
    // than its period has passed since it last ran.
    std::vector<uint32_t> times; // ms since the first tick, per tick
    for (uint32_t k = 1; k <= 2100; k++) times.push_back(k);
    times.push_back(2100 + 1010);
    uint32_t at = 0;
    for (uint32_t t : times) {
        tick(t - at);
        at = t;
    }
    const uint32_t periods[3] = {1000, 300, 33};
    uint32_t last[3] = {0, 0, 0};
    std::vector<std::array<bool, 3>> due(times.size() + 1);
    for (size_t k = 0; k < times.size(); k++)
        for (int p = 0; p < 3; p++)
            if (times[k] - last[p] > periods[p]) {
                due[k + 1][p] = true;
                last[p] = times[k];
            }
    std::vector<std::string> want;
    for (size_t k = 1; k <= times.size(); k++) {
        if (due[k][1]) want.push_back("titles");
        want.insert(want.end(), {"poll", "stream", "after"});
    }
    std::vector<std::string> got;
    for (const TSeen& n : gSeen) got.push_back(n.step);
    ASSERT_EQ(got, want);
    uint32_t runs[3] = {0, 0, 0};
    for (size_t k = 1; k <= times.size(); k++)
        for (int p = 0; p < 3; p++) runs[p] += due[k][p];
    EXPECT_EQ(runs[0], 3u); // at 1,001, 2,002 and the late tick
    EXPECT_EQ(runs[1], 6u + 1u);
    EXPECT_EQ(runs[2], 61u + 1u);
    for (const TSeen& n : gSeen) {
        SCOPED_TRACE(testing::Message() << "tick " << n.tick << " (" << times[n.tick - 1] << " ms), " << n.step);
        ASSERT_EQ(n.pageWait, 1u) << "the receive step comes first";
        const std::array<bool, 3>& d = due[n.tick];
        EXPECT_EQ(n.percentage, d[0] ? 50 : -1);
        if (n.step == "titles") {
            // The 300 ms task: after the 1 s task, before the 33 ms task.
            EXPECT_EQ(n.titleChanged, 1u) << "rendering";
            EXPECT_EQ(n.redrawRequest, REDRAW_NOW);
        } else {
            EXPECT_EQ(n.titleChanged, d[1] ? 0u : 1u);
            EXPECT_EQ(n.redrawRequest, d[2] ? 0 : REDRAW_NOW);
        }
        // The speaker icon comes with the first tick after the move and goes
        // once more than 2 s have passed since it, each time in the tick's
        // last step.
        uint32_t t = times[n.tick - 1];
        bool shown = (n.tick > 1 || n.step == "after") && !(t > 2001 || (t == 2001 && n.step == "after"));
        EXPECT_EQ(n.speakerShown, shown ? 1u : 0u);
    }

    measuring->OnChange = nullptr;
    Stream_SetHandOffs(nullptr, nullptr);
    c->socket[0] = saved[0];
    c->socket[1] = saved[1];
    Win_SetTickSource(nullptr);
    Modules_ResetAll();
}

} // namespace
