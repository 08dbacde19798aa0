// The control as containers embed it, in process: every interface of its
// COM map in order with each of its methods, in-place activation into a
// site's window, the ambient properties, quick activation, drawing into a
// device context, persistence in streams and storages, and the picture
// as data. A recording site of the test's own plays the container.
#include "control/Properties.h"
#include "control/TavlinIds.h"
#include "control/TavlinImpl1.h"
#include "control/TavlinXImpl.h"
#include "link/Hooks.h"
#include "platform/com/ComControl.h"
#include "platform/com/Com.h"
#include "platform/vcl/Forms.h"
#include "platform/win/Gdi.h"
#include "tests/control/ControlTest.h"
#include "tests/support/Wait.h"
#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// --- A container's site that notes what the control asks of it --------------------

class TRecordingSite : public IOleClientSite,
                       public IOleInPlaceSite,
                       public IOleInPlaceFrame,
                       public IOleControlSite,
                       public IAdviseSink,
                       public IPropertyNotifySink,
                       public IDispatch {
public:
    bool inPlaceSite = true; // answers IOleInPlaceSite
    bool userMode = true;    // the ambient USERMODE
    bool uiDead = false;     // the ambient UIDEAD
    bool ambients = true;    // answers IDispatch
    TForm* window = nullptr;
    std::vector<std::string> calls;
    int viewChanges = 0, dataChanges = 0, closes = 0, saves = 0;
    DWORD lastDataTymed = 0;
    size_t lastDataBytes = 0;
    std::vector<DISPID> changed;
    IOleInPlaceActiveObject* active = nullptr;

    TRecordingSite()
    {
        window = Vcl_CreateForm<TForm>(nullptr);
        window->SetClientWidth(1100);
        window->SetClientHeight(700);
    }
    ~TRecordingSite() { delete window; }
    int Count(const std::string& call) const
    {
        int n = 0;
        for (const std::string& c : calls) n += c == call;
        return n;
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite) *ppv = static_cast<IOleClientSite*>(this);
        else if ((riid == IID_IOleInPlaceSite || riid == IID_IOleWindow) && inPlaceSite)
            *ppv = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleInPlaceFrame || riid == IID_IOleInPlaceUIWindow)
            *ppv = static_cast<IOleInPlaceFrame*>(this);
        else if (riid == IID_IOleControlSite) *ppv = static_cast<IOleControlSite*>(this);
        else if (riid == IID_IAdviseSink) *ppv = static_cast<IAdviseSink*>(this);
        else if (riid == IID_IPropertyNotifySink) *ppv = static_cast<IPropertyNotifySink*>(this);
        else if (riid == IID_IDispatch && ambients) *ppv = static_cast<IDispatch*>(this);
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT SaveObject() override { return Note("SaveObject"); }
    HRESULT GetMoniker(DWORD, DWORD, IMoniker** m) override
    {
        *m = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetContainer(IOleContainer** c) override
    {
        *c = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT ShowObject() override { return Note("ShowObject"); }
    HRESULT OnShowWindow(BOOL show) override { return Note(show ? "OnShowWindow(TRUE)" : "OnShowWindow(FALSE)"); }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }

    HRESULT GetWindow(HWND* h) override
    {
        *h = window->Handle();
        return S_OK;
    }
    HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT CanInPlaceActivate() override { return Note("CanInPlaceActivate"); }
    HRESULT OnInPlaceActivate() override { return Note("OnInPlaceActivate"); }
    HRESULT OnUIActivate() override { return Note("OnUIActivate"); }
    HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                             OLEINPLACEFRAMEINFO*) override
    {
        *frame = this;
        *doc = nullptr;
        *pos = {20, 10, 1030, 666};
        *clip = *pos;
        return Note("GetWindowContext");
    }
    HRESULT Scroll(SIZE) override { return S_OK; }
    HRESULT OnUIDeactivate(BOOL) override { return Note("OnUIDeactivate"); }
    HRESULT OnInPlaceDeactivate() override { return Note("OnInPlaceDeactivate"); }
    HRESULT DiscardUndoState() override { return S_OK; }
    HRESULT DeactivateAndUndo() override { return S_OK; }
    HRESULT OnPosRectChange(LPCRECT) override { return S_OK; }

    HRESULT GetBorder(LPRECT) override { return E_NOTIMPL; }
    HRESULT RequestBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    HRESULT SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR) override
    {
        active = object;
        return Note(object ? "SetActiveObject" : "SetActiveObject(null)");
    }
    HRESULT InsertMenus(HMENU, OLEMENUGROUPWIDTHS*) override { return S_OK; }
    HRESULT SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT RemoveMenus(HMENU) override { return S_OK; }
    HRESULT SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT EnableModeless(BOOL) override { return S_OK; }
    HRESULT TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    HRESULT OnControlInfoChanged() override { return S_OK; }
    HRESULT LockInPlaceActive(BOOL) override { return S_OK; }
    HRESULT GetExtendedControl(IDispatch** d) override
    {
        *d = nullptr;
        return E_NOTIMPL;
    }
    HRESULT TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    HRESULT TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
    HRESULT OnFocus(BOOL) override { return S_OK; }
    HRESULT ShowPropertyFrame() override { return Note("ShowPropertyFrame"); }

    void OnDataChange(FORMATETC*, STGMEDIUM* medium) override
    {
        dataChanges++;
        lastDataTymed = medium ? medium->tymed : 0;
        lastDataBytes = medium && medium->tymed == TYMED_HGLOBAL ? GlobalSize(medium->hGlobal) : 0;
    }
    void OnViewChange(DWORD, LONG) override { viewChanges++; }
    void OnRename(IMoniker*) override {}
    void OnSave() override { saves++; }
    void OnClose() override { closes++; }

    HRESULT OnChanged(DISPID id) override
    {
        changed.push_back(id);
        return S_OK;
    }
    HRESULT OnRequestEdit(DISPID) override { return S_OK; }

    HRESULT GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* r, EXCEPINFO*, UINT*) override
    {
        VariantInit(r);
        if (id == DISPID_AMBIENT_USERMODE) {
            r->vt = VT_BOOL;
            r->boolVal = userMode ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
        if (id == DISPID_AMBIENT_UIDEAD) {
            r->vt = VT_BOOL;
            r->boolVal = uiDead ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        }
        if (id == DISPID_AMBIENT_DISPLAYNAME) return Variant_SetText(r, "Viewer1");
        if (id == DISPID_AMBIENT_LOCALEID) {
            r->vt = VT_I4;
            r->lVal = 0x0404;
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    HRESULT Note(const char* call)
    {
        calls.push_back(call);
        return S_OK;
    }
};

template <class I> I* Ask(REFIID iid)
{
    I* p = nullptr;
    EXPECT_EQ(TestControl()->QueryInterface(iid, (void**)&p), S_OK);
    return p;
}

QWidget* Widget(void* handle) { return static_cast<QWidget*>(handle); }

// A memory device context with a 32-bit bitmap of w x h (top-down or not).
struct TBitmapDc {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint32_t* bits = nullptr;
    int width, height;
    bool topDown;
    TBitmapDc(int w, int h, bool down = true) : width(w), height(h), topDown(down)
    {
        BITMAPINFO info = {};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, down ? -h : h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, (void**)&bits, nullptr, 0);
        dc = CreateCompatibleDC(nullptr);
        old = SelectObject(dc, bitmap);
    }
    ~TBitmapDc()
    {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    // The pixel at x, y counted from the top, 0x00RRGGBB.
    uint32_t At(int x, int y) const { return bits[(topDown ? y : height - 1 - y) * width + x] & 0xFFFFFF; }
};

HRESULT DrawInto(IViewObject* view, const TBitmapDc& target, RECTL bounds)
{
    return view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, target.dc, &bounds, nullptr, nullptr, 0);
}

// The form's own picture at this moment.
QImage Grab() { return Widget(gViewerForm->Handle())->grab().toImage().convertToFormat(QImage::Format_RGB32); }

std::string TextOf(LPOLESTR text)
{
    std::string s = Wide_ToText(text);
    CoTaskMemFree(text);
    return s;
}

const SIZEL kExtent = {26723, 17357}; // 1010 x 656 pixels at 96 an inch, in HIMETRIC

// --- Every interface of the map, in order, each method called ------------------------------

template <class I> std::function<void(IUnknown*)> Calls(std::function<void(I*)> call)
{
    return [call](IUnknown* p) { call(static_cast<I*>(static_cast<void*>(p))); };
}

void CallViewObject(IViewObject* p)
{
    TBitmapDc small(101, 66);
    EXPECT_EQ(DrawInto(p, small, {0, 0, 101, 66}), S_OK);
    EXPECT_NE(small.At(90, 60), 0u); // the key panel reached the bitmap
    LOGPALETTE* palette = (LOGPALETTE*)1;
    EXPECT_EQ(p->GetColorSet(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, &palette), E_NOTIMPL);
    EXPECT_EQ(palette, nullptr);
    DWORD freeze = 7;
    EXPECT_EQ(p->Freeze(DVASPECT_CONTENT, -1, nullptr, &freeze), E_NOTIMPL);
    EXPECT_EQ(p->Unfreeze(freeze), E_NOTIMPL);
    TRecordingSite sink;
    EXPECT_EQ(p->SetAdvise(DVASPECT_CONTENT, ADVF_PRIMEFIRST, &sink), S_OK);
    EXPECT_EQ(sink.viewChanges, 1);
    DWORD aspects = 0, advf = 0;
    IAdviseSink* got = nullptr;
    EXPECT_EQ(p->GetAdvise(&aspects, &advf, &got), S_OK);
    EXPECT_EQ(got, static_cast<IAdviseSink*>(&sink));
    EXPECT_EQ(aspects, DVASPECT_CONTENT);
    EXPECT_EQ(advf, ADVF_PRIMEFIRST);
    EXPECT_EQ(p->SetAdvise(DVASPECT_CONTENT, 0, nullptr), S_OK);
    EXPECT_EQ(p->GetAdvise(nullptr, nullptr, &got), S_OK);
    EXPECT_EQ(got, nullptr);
}

void CallViewObject2(IViewObject2* p)
{
    CallViewObject(p);
    SIZEL size = {};
    EXPECT_EQ(p->GetExtent(DVASPECT_CONTENT, -1, nullptr, &size), S_OK);
    EXPECT_EQ(size.cx, kExtent.cx);
    EXPECT_EQ(size.cy, kExtent.cy);
    EXPECT_EQ(p->GetExtent(DVASPECT_ICON, -1, nullptr, &size), DV_E_DVASPECT);
}

void CallViewObjectEx(IViewObjectEx* p)
{
    CallViewObject2(p);
    RECTL r = {};
    EXPECT_EQ(p->GetRect(DVASPECT_OPAQUE, &r), S_OK);
    EXPECT_EQ(r.right, kExtent.cx);
    EXPECT_EQ(r.bottom, kExtent.cy);
    EXPECT_EQ(p->GetRect(DVASPECT_TRANSPARENT, &r), DV_E_DVASPECT);
    DWORD status = 0;
    EXPECT_EQ(p->GetViewStatus(&status), S_OK);
    EXPECT_EQ(status, VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_DVASPECTOPAQUE);
    RECT bounds = {10, 10, 110, 60};
    DWORD hit = 9;
    EXPECT_EQ(p->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{50, 20}, 0, &hit), S_OK);
    EXPECT_EQ(hit, HITRESULT_HIT);
    EXPECT_EQ(p->QueryHitPoint(DVASPECT_CONTENT, &bounds, POINT{110, 20}, 0, &hit), S_OK);
    EXPECT_EQ(hit, HITRESULT_OUTSIDE);
    RECT touching = {100, 50, 200, 90}, apart = {110, 0, 200, 90};
    EXPECT_EQ(p->QueryHitRect(DVASPECT_CONTENT, &bounds, &touching, 0, &hit), S_OK);
    EXPECT_EQ(hit, HITRESULT_HIT);
    EXPECT_EQ(p->QueryHitRect(DVASPECT_CONTENT, &bounds, &apart, 0, &hit), S_OK);
    EXPECT_EQ(hit, HITRESULT_OUTSIDE);
    DVEXTENTINFO info = {sizeof info, DVEXTENT_CONTENT, {1000, 1000}};
    SIZEL natural = {};
    EXPECT_EQ(p->GetNaturalExtent(DVASPECT_CONTENT, -1, nullptr, nullptr, &info, &natural), S_OK);
    EXPECT_EQ(natural.cx, kExtent.cx);
    EXPECT_EQ(natural.cy, kExtent.cy);
}

void CallOleObject(IOleObject* p)
{
    TRecordingSite site;
    EXPECT_EQ(p->SetClientSite(&site), S_OK);
    IOleClientSite* got = nullptr;
    EXPECT_EQ(p->GetClientSite(&got), S_OK);
    EXPECT_EQ(got, static_cast<IOleClientSite*>(&site));
    std::u16string app = Wide_FromText("Test");
    EXPECT_EQ(p->SetHostNames((LPCOLESTR)app.c_str(), nullptr), S_OK);
    IMoniker* moniker = (IMoniker*)1;
    EXPECT_EQ(p->SetMoniker(OLEWHICHMK_OBJFULL, nullptr), E_NOTIMPL);
    EXPECT_EQ(p->GetMoniker(OLEGETMONIKER_ONLYIFTHERE, OLEWHICHMK_OBJFULL, &moniker), E_NOTIMPL);
    EXPECT_EQ(moniker, nullptr);
    EXPECT_EQ(p->InitFromData(nullptr, TRUE, 0), E_NOTIMPL);
    IDataObject* clip = (IDataObject*)1;
    EXPECT_EQ(p->GetClipboardData(0, &clip), E_NOTIMPL);
    EXPECT_EQ(clip, nullptr);
    EXPECT_EQ(p->DoVerb(OLEIVERB_DISCARDUNDOSTATE, nullptr, &site, -1, nullptr, nullptr), S_OK);
    IEnumOLEVERB* verbs = nullptr;
    ASSERT_EQ(p->EnumVerbs(&verbs), S_OK);
    OLEVERB verb = {};
    ULONG n = 0;
    ASSERT_EQ(verbs->Next(1, &verb, &n), S_OK);
    EXPECT_EQ(verb.lVerb, 0);
    EXPECT_EQ(TextOf(verb.lpszVerbName), "Properties");
    EXPECT_EQ(verb.fuFlags, 0u);
    EXPECT_EQ(verb.grfAttribs, OLEVERBATTRIB_ONCONTAINERMENU);
    EXPECT_EQ(verbs->Next(1, &verb, &n), S_FALSE);
    verbs->Release();
    EXPECT_EQ(p->Update(), S_OK);
    EXPECT_EQ(p->IsUpToDate(), S_OK);
    CLSID clsid = {};
    EXPECT_EQ(p->GetUserClassID(&clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_TavlinX);
    LPOLESTR type = nullptr;
    EXPECT_EQ(p->GetUserType(USERCLASSTYPE_FULL, &type), S_OK);
    EXPECT_EQ(TextOf(type), "TavlinX Control");
    SIZEL size = kExtent;
    EXPECT_EQ(p->SetExtent(DVASPECT_CONTENT, &size), S_OK);
    size = {};
    EXPECT_EQ(p->GetExtent(DVASPECT_CONTENT, &size), S_OK);
    EXPECT_EQ(size.cx, kExtent.cx);
    EXPECT_EQ(size.cy, kExtent.cy);
    DWORD cookie = 0;
    EXPECT_EQ(p->Advise(&site, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    IEnumSTATDATA* advises = nullptr;
    ASSERT_EQ(p->EnumAdvise(&advises), S_OK);
    STATDATA data = {};
    ASSERT_EQ(advises->Next(1, &data, &n), S_OK);
    EXPECT_EQ(data.dwConnection, cookie);
    EXPECT_EQ(data.pAdvSink, static_cast<IAdviseSink*>(&site));
    data.pAdvSink->Release();
    advises->Release();
    DWORD misc = 0;
    EXPECT_EQ(p->GetMiscStatus(DVASPECT_CONTENT, &misc), S_OK);
    EXPECT_EQ(misc, 0x20191u);
    EXPECT_EQ(p->SetColorScheme(nullptr), E_NOTIMPL);
    EXPECT_EQ(p->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site.closes, 1);
    EXPECT_EQ(p->Unadvise(cookie), S_OK);
    EXPECT_EQ(p->Unadvise(cookie), OLE_E_NOCONNECTION);
    EXPECT_EQ(p->SetClientSite(nullptr), S_OK);
}

void CallQuickActivate(IQuickActivate* p)
{
    TRecordingSite site;
    EventSink events;
    QACONTAINER c = {};
    c.cbSize = sizeof c;
    c.pClientSite = &site;
    c.pAdviseSink = &site;
    c.pPropertyNotifySink = &site;
    c.pUnkEventSink = &events;
    c.dwAmbientFlags = QACONTAINER_USERMODE;
    QACONTROL q = {};
    q.cbSize = sizeof q;
    ASSERT_EQ(p->QuickActivate(&c, &q), S_OK);
    EXPECT_EQ(q.dwMiscStatus, 0x20191u);
    EXPECT_EQ(q.dwViewStatus, VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_DVASPECTOPAQUE);
    EXPECT_NE(q.dwEventCookie, 0u);
    EXPECT_NE(q.dwPropNotifyCookie, 0u);
    SIZEL size = kExtent;
    EXPECT_EQ(p->SetContentExtent(&size), S_OK);
    size = {};
    EXPECT_EQ(p->GetContentExtent(&size), S_OK);
    EXPECT_EQ(size.cx, kExtent.cx);
    // The container's sinks are the control's now.
    VARIANT page = Text("1");
    EXPECT_EQ(TestControl()->set_HTTP_PAGE(page), S_OK);
    VariantClear(&page);
    EXPECT_EQ(site.changed, std::vector<DISPID>({DISPID_TX_HTTP_PAGE}));
    gViewerForm->OnClick(gViewerForm);
    EXPECT_EQ(events.events, std::vector<DISPID>({DISPID_TXE_OnClick}));
    IConnectionPointContainer* cpc = Ask<IConnectionPointContainer>(IID_IConnectionPointContainer);
    IConnectionPoint* cp = nullptr;
    ASSERT_EQ(cpc->FindConnectionPoint(DIID_ITavlinXEvents, &cp), S_OK);
    EXPECT_EQ(cp->Unadvise(q.dwEventCookie), S_OK);
    cp->Release();
    ASSERT_EQ(cpc->FindConnectionPoint(IID_IPropertyNotifySink, &cp), S_OK);
    EXPECT_EQ(cp->Unadvise(q.dwPropNotifyCookie), S_OK);
    cp->Release();
    cpc->Release();
    IViewObject* view = Ask<IViewObject>(IID_IViewObject);
    IAdviseSink* sink = nullptr;
    view->GetAdvise(nullptr, nullptr, &sink);
    EXPECT_EQ(sink, static_cast<IAdviseSink*>(&site));
    if (sink) sink->Release();
    view->SetAdvise(DVASPECT_CONTENT, 0, nullptr);
    view->Release();
    IOleObject* ole = Ask<IOleObject>(IID_IOleObject);
    IOleClientSite* got = nullptr;
    ole->GetClientSite(&got);
    EXPECT_EQ(got, static_cast<IOleClientSite*>(&site));
    ole->SetClientSite(nullptr);
    ole->Release();
}

void CallPersistStorage(IPersistStorage* p)
{
    CLSID clsid = {};
    EXPECT_EQ(p->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_TavlinX);
    IStorage* storage = nullptr;
    ASSERT_EQ(Storage_CreateInMemory(&storage), S_OK);
    EXPECT_EQ(p->InitNew(storage), S_OK);
    EXPECT_EQ(p->IsDirty(), S_FALSE);
    EXPECT_EQ(p->Save(storage, TRUE), S_OK);
    EXPECT_EQ(p->SaveCompleted(nullptr), S_OK);
    EXPECT_EQ(p->HandsOffStorage(), S_OK);
    EXPECT_EQ(p->Load(storage), S_OK);
    EXPECT_EQ(p->HandsOffStorage(), S_OK);
    storage->Release();
}

void CallPersistStreamInit(IPersistStreamInit* p)
{
    CLSID clsid = {};
    EXPECT_EQ(p->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(clsid == CLSID_TavlinX);
    EXPECT_EQ(p->InitNew(), S_OK);
    EXPECT_EQ(p->IsDirty(), S_FALSE);
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    EXPECT_EQ(p->Save(stream, TRUE), S_OK);
    ULARGE_INTEGER max = {};
    EXPECT_EQ(p->GetSizeMax(&max), S_OK);
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(max.QuadPart, stat.cbSize.QuadPart);
    LARGE_INTEGER zero = {0};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(p->Load(stream), S_OK);
    stream->Release();
}

void CallDataObject(IDataObject* p)
{
    FORMATETC dib = {CF_DIB, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    ASSERT_EQ(p->GetData(&dib, &medium), S_OK);
    EXPECT_EQ(medium.tymed, TYMED_HGLOBAL);
    const size_t bytes = sizeof(BITMAPINFOHEADER) + 1010 * 656 * 4;
    EXPECT_EQ(GlobalSize(medium.hGlobal), bytes);
    STGMEDIUM here = {};
    here.tymed = TYMED_HGLOBAL;
    here.hGlobal = GlobalAlloc(GMEM_MOVEABLE, bytes);
    EXPECT_EQ(p->GetDataHere(&dib, &here), S_OK);
    EXPECT_EQ(here.hGlobal != medium.hGlobal, true);
    ReleaseStgMedium(&here);
    ReleaseStgMedium(&medium);
    EXPECT_EQ(p->QueryGetData(&dib), S_OK);
    FORMATETC out = {};
    EXPECT_EQ(p->GetCanonicalFormatEtc(&dib, &out), DATA_S_SAMEFORMATETC);
    EXPECT_EQ(out.cfFormat, CF_DIB);
    EXPECT_EQ(p->SetData(&dib, &medium, FALSE), E_NOTIMPL);
    IEnumFORMATETC* formats = nullptr;
    ASSERT_EQ(p->EnumFormatEtc(DATADIR_GET, &formats), S_OK);
    FORMATETC listed[3] = {};
    ULONG n = 0;
    EXPECT_EQ(formats->Next(3, listed, &n), S_FALSE);
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(listed[0].cfFormat, CF_DIB);
    EXPECT_EQ(listed[0].tymed, TYMED_HGLOBAL);
    EXPECT_EQ(listed[1].cfFormat, CF_BITMAP);
    EXPECT_EQ(listed[1].tymed, TYMED_GDI);
    formats->Release();
    TRecordingSite sink;
    DWORD cookie = 0;
    EXPECT_EQ(p->DAdvise(&dib, ADVF_PRIMEFIRST, &sink, &cookie), S_OK);
    EXPECT_EQ(sink.dataChanges, 1);
    EXPECT_EQ(sink.lastDataTymed, TYMED_HGLOBAL);
    EXPECT_EQ(sink.lastDataBytes, bytes);
    IEnumSTATDATA* advises = nullptr;
    ASSERT_EQ(p->EnumDAdvise(&advises), S_OK);
    STATDATA data = {};
    ASSERT_EQ(advises->Next(1, &data, &n), S_OK);
    EXPECT_EQ(data.dwConnection, cookie);
    EXPECT_EQ(data.formatetc.cfFormat, CF_DIB);
    data.pAdvSink->Release();
    advises->Release();
    EXPECT_EQ(p->DUnadvise(cookie), S_OK);
    EXPECT_EQ(p->DUnadvise(cookie), OLE_E_NOCONNECTION);
}

TEST(ComMap, AnswersEveryInterfaceInOrderWithAllItsMethods)
{
    ASSERT_EQ(TavlinX_UpdateRegistry(true), S_OK); // the misc status and the verbs come from there
    struct Case {
        const IID* iid;
        const char* name;
        std::function<void(IUnknown*)> call;
    };
    auto window = [](IOleWindow* w) {
        HWND h = nullptr;
        EXPECT_EQ(w->GetWindow(&h), S_OK);
        EXPECT_EQ(h, gViewerForm->Handle());
        EXPECT_EQ(w->ContextSensitiveHelp(TRUE), E_NOTIMPL);
    };
    const Case cases[] = {
        {&IID_IViewObjectEx, "IViewObjectEx", Calls<IViewObjectEx>(CallViewObjectEx)},
        {&IID_IViewObject2, "IViewObject2", Calls<IViewObject2>(CallViewObject2)},
        {&IID_IViewObject, "IViewObject", Calls<IViewObject>(CallViewObject)},
        {&IID_IOleInPlaceObject, "IOleInPlaceObject", Calls<IOleInPlaceObject>([&](IOleInPlaceObject* p) {
             window(p);
             EXPECT_EQ(p->InPlaceDeactivate(), S_OK);
             EXPECT_EQ(p->UIDeactivate(), S_OK);
             RECT at{gViewerForm->Left(), gViewerForm->Top(), gViewerForm->Left() + 1010, gViewerForm->Top() + 656};
             EXPECT_EQ(p->SetObjectRects(&at, &at), S_OK);
             EXPECT_EQ(gViewerForm->Width(), 1010);
             EXPECT_EQ(gViewerForm->Height(), 656);
             EXPECT_EQ(p->SetObjectRects(nullptr, &at), E_POINTER);
             EXPECT_EQ(p->ReactivateAndUndo(), INPLACE_E_NOTUNDOABLE);
         })},
        {&IID_IOleWindow, "IOleWindow", Calls<IOleWindow>(window)},
        {&IID_IOleInPlaceActiveObject, "IOleInPlaceActiveObject",
         Calls<IOleInPlaceActiveObject>([&](IOleInPlaceActiveObject* p) {
             window(p);
             MSG m{};
             EXPECT_EQ(p->TranslateAccelerator(&m), S_FALSE);
             EXPECT_EQ(p->OnFrameWindowActivate(TRUE), S_OK);
             EXPECT_EQ(p->OnDocWindowActivate(TRUE), S_OK);
             RECT r{0, 0, 10, 10};
             EXPECT_EQ(p->ResizeBorder(&r, nullptr, TRUE), S_OK);
             EXPECT_EQ(p->EnableModeless(TRUE), S_OK);
         })},
        {&IID_IOleControl, "IOleControl", Calls<IOleControl>([](IOleControl* p) {
             CONTROLINFO info{sizeof(CONTROLINFO), (void*)1, 7, 9};
             EXPECT_EQ(p->GetControlInfo(&info), S_OK);
             EXPECT_EQ(info.cAccel, 0);
             EXPECT_EQ(info.hAccel, nullptr);
             MSG m{};
             EXPECT_EQ(p->OnMnemonic(&m), S_OK);
             EXPECT_EQ(p->OnAmbientPropertyChange(DISPID_AMBIENT_BACKCOLOR), S_OK);
             EXPECT_EQ(p->FreezeEvents(TRUE), S_OK);
             EXPECT_EQ(p->FreezeEvents(FALSE), S_OK);
         })},
        {&IID_IOleObject, "IOleObject", Calls<IOleObject>(CallOleObject)},
        {&IID_IQuickActivate, "IQuickActivate", Calls<IQuickActivate>(CallQuickActivate)},
        {&IID_IPersistStorage, "IPersistStorage", Calls<IPersistStorage>(CallPersistStorage)},
        {&IID_IPersistStreamInit, "IPersistStreamInit", Calls<IPersistStreamInit>(CallPersistStreamInit)},
        {&IID_ISpecifyPropertyPages, "ISpecifyPropertyPages",
         Calls<ISpecifyPropertyPages>([](ISpecifyPropertyPages* p) {
             CAUUID pages{5, nullptr};
             EXPECT_EQ(p->GetPages(&pages), S_OK);
             EXPECT_EQ(pages.cElems, 0u);
         })},
        {&IID_IDataObject, "IDataObject", Calls<IDataObject>(CallDataObject)},
        {&IID_ISimpleFrameSite, "ISimpleFrameSite", Calls<ISimpleFrameSite>([](ISimpleFrameSite* p) {
             LRESULT r = 5;
             DWORD cookie = 5;
             EXPECT_EQ(p->PreMessageFilter(nullptr, 0, 0, 0, &r, &cookie), S_OK);
             EXPECT_EQ(p->PostMessageFilter(nullptr, 0, 0, 0, &r, cookie), S_OK);
         })},
        {&IID_IProvideClassInfo, "IProvideClassInfo", Calls<IProvideClassInfo>([](IProvideClassInfo* p) {
             ITypeInfo* info = nullptr;
             EXPECT_EQ(p->GetClassInfo(&info), S_OK);
             if (info) info->Release();
         })},
        {&IID_IProvideClassInfo2, "IProvideClassInfo2", Calls<IProvideClassInfo2>([](IProvideClassInfo2* p) {
             ITypeInfo* info = nullptr;
             EXPECT_EQ(p->GetClassInfo(&info), S_OK);
             if (info) info->Release();
             GUID events{};
             EXPECT_EQ(p->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
             EXPECT_TRUE(events == DIID_ITavlinXEvents);
             EXPECT_EQ(p->GetGUID(7, &events), E_INVALIDARG);
         })},
        {&IID_IConnectionPointContainer, "IConnectionPointContainer",
         Calls<IConnectionPointContainer>([](IConnectionPointContainer* p) {
             IConnectionPoint* cp = nullptr;
             EXPECT_EQ(p->FindConnectionPoint(DIID_ITavlinXEvents, &cp), S_OK);
             if (cp) cp->Release();
             EXPECT_EQ(p->FindConnectionPoint(IID_IPropertyNotifySink, &cp), S_OK);
             if (cp) cp->Release();
             IEnumConnectionPoints* e = nullptr;
             ASSERT_EQ(p->EnumConnectionPoints(&e), S_OK);
             IConnectionPoint* points[3] = {};
             ULONG n = 0;
             EXPECT_EQ(e->Next(3, points, &n), S_FALSE);
             ASSERT_EQ(n, 2u); // the events first, as containers look for them
             IID iid;
             points[0]->GetConnectionInterface(&iid);
             EXPECT_TRUE(iid == DIID_ITavlinXEvents);
             points[0]->Release();
             points[1]->Release();
             e->Release();
         })},
        {&IID_ISupportErrorInfo, "ISupportErrorInfo", Calls<ISupportErrorInfo>([](ISupportErrorInfo* p) {
             EXPECT_EQ(p->InterfaceSupportsErrorInfo(IID_ITavlinX), S_OK);
             EXPECT_EQ(p->InterfaceSupportsErrorInfo(IID_IOleObject), S_FALSE);
         })},
        {&IID_ITavlinX, "ITavlinX", Calls<ITavlinX>([](ITavlinX* p) {
             VARIANT_BOOL b = 0;
             EXPECT_EQ(p->get_Enabled(&b), S_OK);
             UINT n = 9;
             EXPECT_EQ(p->GetTypeInfoCount(&n), S_OK);
         })},
        {&IID_IDispatch, "IDispatch", Calls<IDispatch>([](IDispatch* p) {
             std::u16string w = Wide_FromText("DVRIP");
             LPOLESTR names[] = {(LPOLESTR)w.c_str()};
             DISPID id = 0;
             EXPECT_EQ(p->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
         })},
        {&IID_IPersistPropertyBag, "IPersistPropertyBag", Calls<IPersistPropertyBag>([](IPersistPropertyBag* p) {
             CLSID id{};
             EXPECT_EQ(p->GetClassID(&id), S_OK);
             EXPECT_TRUE(id == CLSID_TavlinX);
             EXPECT_EQ(p->InitNew(), S_OK);
         })},
    };
    ASSERT_EQ(sizeof cases / sizeof cases[0], kTavlinXComMapSize);
    const TComMapEntry* map = TavlinX_ComMap();
    ITavlinX* control = TestControl();
    IUnknown* identity = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IUnknown, (void**)&identity), S_OK);
    for (size_t i = 0; i < kTavlinXComMapSize; i++) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(map[i].name, c.name) << "entry " << i;
        EXPECT_TRUE(*map[i].iid == *c.iid) << "entry " << i;
        IUnknown* p = nullptr;
        ASSERT_EQ(control->QueryInterface(*c.iid, (void**)&p), S_OK);
        ASSERT_NE(p, nullptr);
        c.call(p);
        // The interface leads back to the same object.
        IUnknown* self = nullptr;
        ASSERT_EQ(p->QueryInterface(IID_IUnknown, (void**)&self), S_OK);
        EXPECT_EQ(self, identity);
        self->Release();
        p->Release();
    }
    identity->Release();
    IUnknown* p = nullptr;
    EXPECT_EQ(control->QueryInterface(IID_IClassFactory, (void**)&p), E_NOINTERFACE);
    EXPECT_EQ(control->QueryInterface(IID_IPersist, (void**)&p), S_OK);
    p->Release();
}

// --- Embedding --------------------------------------------------------------------------------

TEST(Embedding, InPlaceActivationPutsTheFormIntoTheSitesWindow)
{
    TRecordingSite site;
    IOleObject* ole = Ask<IOleObject>(IID_IOleObject);
    IOleInPlaceObject* inPlace = Ask<IOleInPlaceObject>(IID_IOleInPlaceObject);
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    RECT pos = {0, 0, 1010, 656};
    ASSERT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, nullptr, &pos), S_OK);
    EXPECT_EQ(site.calls, std::vector<std::string>({"CanInPlaceActivate", "OnInPlaceActivate", "GetWindowContext"}));
    // Into the site's window, where its window context puts it.
    QWidget* form = Widget(gViewerForm->Handle());
    EXPECT_EQ(form->parentWidget(), Widget(site.window->Handle()));
    EXPECT_EQ(gViewerForm->Left(), 20);
    EXPECT_EQ(gViewerForm->Top(), 10);
    EXPECT_EQ(gViewerForm->Width(), 1010);
    EXPECT_FALSE(form->isHidden());

    // UI activation tells the site and its frame; once is enough.
    site.calls.clear();
    ASSERT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, nullptr, &pos), S_OK);
    ASSERT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, nullptr, &pos), S_OK);
    EXPECT_EQ(site.calls, std::vector<std::string>({"OnUIActivate", "SetActiveObject"}));
    EXPECT_EQ(site.active, Ask<IOleInPlaceActiveObject>(IID_IOleInPlaceActiveObject));
    site.active->Release();
    // The container moves it.
    RECT moved = {5, 6, 1015, 662};
    EXPECT_EQ(inPlace->SetObjectRects(&moved, &moved), S_OK);
    EXPECT_EQ(gViewerForm->Left(), 5);
    EXPECT_EQ(gViewerForm->Top(), 6);

    // Hide keeps it in place, hidden; deactivation gives the window back.
    site.calls.clear();
    EXPECT_EQ(ole->DoVerb(OLEIVERB_HIDE, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_TRUE(form->isHidden());
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    EXPECT_EQ(site.calls, std::vector<std::string>({"SetActiveObject(null)", "OnUIDeactivate", "OnInPlaceDeactivate"}));
    EXPECT_EQ(form->parentWidget(), nullptr);
    EXPECT_TRUE(form->isHidden());

    // Verbs the control does not have.
    EXPECT_EQ(ole->DoVerb(-99, nullptr, &site, 0, nullptr, nullptr), E_NOTIMPL);
    site.calls.clear();
    EXPECT_EQ(ole->DoVerb(7, nullptr, &site, 0, nullptr, &pos), OLEOBJ_S_INVALIDVERB); // done as the primary verb
    EXPECT_EQ(site.Count("OnInPlaceActivate"), 1);
    // Close deactivates it; the advise sinks hear of it.
    DWORD cookie = 0;
    ole->Advise(&site, &cookie);
    EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site.Count("OnInPlaceDeactivate"), 1);
    EXPECT_EQ(site.closes, 1);
    EXPECT_EQ(form->parentWidget(), nullptr);
    ole->Unadvise(cookie);
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
    inPlace->Release();
    ole->Release();
}

TEST(Embedding, ShowWithoutAnInPlaceSiteOpensAWindowOfItsOwn)
{
    TRecordingSite site;
    site.inPlaceSite = false;
    IOleObject* ole = Ask<IOleObject>(IID_IOleObject);
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    ASSERT_EQ(ole->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, nullptr, nullptr), S_OK);
    QWidget* form = Widget(gViewerForm->Handle());
    EXPECT_TRUE(form->isWindow());
    EXPECT_FALSE(form->isHidden());
    EXPECT_EQ(site.calls, std::vector<std::string>({"OnShowWindow(TRUE)", "ShowObject"}));
    EXPECT_EQ(ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, nullptr, nullptr), E_NOINTERFACE);
    EXPECT_EQ(ole->DoVerb(OLEIVERB_HIDE, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_TRUE(form->isHidden());
    EXPECT_EQ(site.calls.back(), "OnShowWindow(FALSE)");
    EXPECT_EQ(ole->SetClientSite(nullptr), S_OK);
    ole->Release();
}

TEST(Embedding, TheSitesAmbientUserModeChoosesWhatThePrimaryVerbDoes)
{
    TRecordingSite site;
    site.userMode = false; // a form designer
    IOleObject* ole = Ask<IOleObject>(IID_IOleObject);
    IOleControl* control = Ask<IOleControl>(IID_IOleControl);
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    ASSERT_EQ(ole->DoVerb(OLEIVERB_PRIMARY, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(site.calls, std::vector<std::string>({"ShowPropertyFrame"}));
    // The container switches to run mode and says so.
    site.userMode = true;
    site.calls.clear();
    EXPECT_EQ(control->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE), S_OK);
    ASSERT_EQ(ole->DoVerb(OLEIVERB_PRIMARY, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(site.Count("OnInPlaceActivate"), 1);
    EXPECT_EQ(site.Count("ShowPropertyFrame"), 0);
    ole->Close(OLECLOSE_NOSAVE);
    ole->SetClientSite(nullptr);
    control->Release();
    ole->Release();
}

TEST(Embedding, ADeadUserInterfaceKeepsTheControlFromUIActivation)
{
    TRecordingSite site;
    site.uiDead = true;
    IOleObject* ole = Ask<IOleObject>(IID_IOleObject);
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    RECT pos = {0, 0, 1010, 656};
    ASSERT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, nullptr, &pos), S_OK);
    EXPECT_EQ(site.Count("OnInPlaceActivate"), 1); // in place, but not UI-active
    EXPECT_EQ(site.Count("OnUIActivate"), 0);
    // Alive again: UI activation goes ahead; dead once more: it ends.
    IOleControl* control = Ask<IOleControl>(IID_IOleControl);
    site.uiDead = false;
    control->OnAmbientPropertyChange(DISPID_AMBIENT_UIDEAD);
    ASSERT_EQ(ole->DoVerb(OLEIVERB_UIACTIVATE, nullptr, &site, 0, nullptr, &pos), S_OK);
    EXPECT_EQ(site.Count("OnUIActivate"), 1);
    site.uiDead = true;
    control->OnAmbientPropertyChange(DISPID_UNKNOWN);
    EXPECT_EQ(site.Count("OnUIDeactivate"), 1);
    control->Release();
    ole->Close(OLECLOSE_NOSAVE);
    ole->SetClientSite(nullptr);
    ole->Release();
}

TEST(Embedding, CloseAsksTheSiteToSaveAChangedControl)
{
    TRecordingSite site;
    IOleObject* ole = Ask<IOleObject>(IID_IOleObject);
    IPersistStreamInit* persist = Ask<IPersistStreamInit>(IID_IPersistStreamInit);
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    persist->InitNew();
    EXPECT_EQ(ole->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
    EXPECT_EQ(site.Count("SaveObject"), 0); // nothing changed
    VARIANT page = Text("0");
    TestControl()->set_HTTP_PAGE(page);
    VariantClear(&page);
    EXPECT_EQ(ole->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_EQ(site.Count("SaveObject"), 0);
    EXPECT_EQ(ole->Close(OLECLOSE_SAVEIFDIRTY), S_OK);
    EXPECT_EQ(site.Count("SaveObject"), 1);
    ole->SetClientSite(nullptr);
    persist->Release();
    ole->Release();
}

TEST(Embedding, ExtentFollowsTheFormInHimetric)
{
    IOleObject* ole = Ask<IOleObject>(IID_IOleObject);
    SIZEL half = {kExtent.cx / 2, kExtent.cy / 2};
    ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &half), S_OK);
    EXPECT_EQ(gViewerForm->Width(), 505);
    EXPECT_EQ(gViewerForm->Height(), 328);
    SIZEL got = {};
    ole->GetExtent(DVASPECT_CONTENT, &got);
    EXPECT_EQ(got.cx, 13361); // 505 pixels, rounded
    SIZEL bad = {0, 100};
    EXPECT_EQ(ole->SetExtent(DVASPECT_CONTENT, &bad), E_INVALIDARG);
    EXPECT_EQ(ole->SetExtent(DVASPECT_ICON, &half), DV_E_DVASPECT);
    SIZEL full = kExtent;
    ASSERT_EQ(ole->SetExtent(DVASPECT_CONTENT, &full), S_OK);
    EXPECT_EQ(gViewerForm->Width(), 1010);
    EXPECT_EQ(gViewerForm->Height(), 656);
    ole->Release();
}

// --- Drawing ----------------------------------------------------------------------------------

TEST(Drawing, DrawPaintsTheFormsPictureIntoTheTarget)
{
    gViewerForm->Label_time->SetCaption("Drawn 12:34");
    IViewObject* view = Ask<IViewObject>(IID_IViewObject);
    QImage grabbed = Grab();
    ASSERT_EQ(grabbed.width(), 1010);
    // Top-down and bottom-up bitmaps, the form at an offset.
    for (bool topDown : {true, false}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        TBitmapDc target(1030, 680, topDown);
        ASSERT_EQ(DrawInto(view, target, {10, 20, 1020, 676}), S_OK);
        int off = 0;
        for (int y = 0; y < 656; y += 3)
            for (int x = 0; x < 1010; x += 3) off += target.At(x + 10, y + 20) != (grabbed.pixel(x, y) & 0xFFFFFF);
        EXPECT_EQ(off, 0);
        EXPECT_EQ(target.At(5, 5), 0u); // outside the bounds nothing is drawn
    }
    // Scaled into half the size.
    TBitmapDc half(505, 328);
    ASSERT_EQ(DrawInto(view, half, {0, 0, 505, 328}), S_OK);
    QImage smaller = grabbed.scaled(505, 328, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    int far = 0;
    for (int y = 10; y < 318; y += 7)
        for (int x = 10; x < 495; x += 7) {
            uint32_t a = half.At(x, y), b = smaller.pixel(x, y) & 0xFFFFFF;
            for (int s = 0; s < 24; s += 8)
                if (std::abs((int)((a >> s) & 255) - (int)((b >> s) & 255)) > 48) {
                    far++;
                    break;
                }
        }
    EXPECT_LT(far, 40) << "the half-size drawing is the form's picture scaled";

    struct Case {
        const char* what;
        DWORD aspect;
        LONG lindex;
        bool dc;
        RECTL bounds;
        HRESULT want;
    } cases[] = {
        {"icon aspect", DVASPECT_ICON, -1, true, {0, 0, 10, 10}, DV_E_DVASPECT},
        {"a part of it", DVASPECT_CONTENT, 2, true, {0, 0, 10, 10}, DV_E_LINDEX},
        {"no device context", DVASPECT_CONTENT, -1, false, {0, 0, 10, 10}, E_INVALIDARG},
        {"an empty rectangle", DVASPECT_CONTENT, -1, true, {10, 10, 10, 20}, OLE_E_INVALIDRECT},
        {"a reversed rectangle", DVASPECT_CONTENT, -1, true, {10, 10, 5, 20}, OLE_E_INVALIDRECT},
    };
    for (const Case& c : cases)
        EXPECT_EQ(view->Draw(c.aspect, c.lindex, nullptr, nullptr, nullptr, c.dc ? half.dc : nullptr, &c.bounds,
                             nullptr, nullptr, 0),
                  c.want)
            << c.what;
    RECTL all = {0, 0, 505, 328};
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, half.dc, nullptr, nullptr, nullptr, 0),
              E_INVALIDARG);
    auto stop = [](ULONG_PTR) -> BOOL { return FALSE; };
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, half.dc, &all, nullptr, stop, 0), E_ABORT);
    HDC notADc = (HDC)&all;
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, notADc, &all, nullptr, nullptr, 0),
              E_INVALIDARG);
    view->Release();
}

TEST(Drawing, ViewAndDataSinksHearOfRepaints)
{
    TRecordingSite sink;
    IViewObject* view = Ask<IViewObject>(IID_IViewObject);
    IDataObject* data = Ask<IDataObject>(IID_IDataObject);
    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, &sink), S_OK);
    FORMATETC bitmap = {CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI};
    DWORD cookie = 0;
    ASSERT_EQ(data->DAdvise(&bitmap, ADVF_NODATA, &sink, &cookie), S_OK);
    Application_ProcessMessagesFor(50);
    int views = sink.viewChanges;
    gViewerForm->Label_time->SetCaption("Changed 1");
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return sink.viewChanges > views; }, kWaitLimitMs));
    EXPECT_GE(sink.dataChanges, 1);
    EXPECT_EQ(sink.lastDataTymed, TYMED_NULL); // ADVF_NODATA
    // Nothing repainted, nothing told.
    Application_ProcessMessagesFor(100);
    views = sink.viewChanges;
    Application_ProcessMessagesFor(100);
    EXPECT_EQ(sink.viewChanges, views);
    // Once only: the sink is let go after one.
    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, ADVF_ONLYONCE, &sink), S_OK);
    gViewerForm->Label_time->SetCaption("Changed 2");
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return sink.viewChanges > views; }, kWaitLimitMs));
    IAdviseSink* left = (IAdviseSink*)1;
    view->GetAdvise(nullptr, nullptr, &left);
    EXPECT_EQ(left, nullptr);
    EXPECT_EQ(data->DUnadvise(cookie), S_OK);
    view->Release();
    data->Release();
}

// --- Persistence -------------------------------------------------------------------------------

// Sets the four connection properties through the control.
void PutAll(const char* ip, LONG port, const char* key, const char* page)
{
    VARIANT a = Text(ip), b = Int(port), c = Text(key), d = Text(page);
    EXPECT_EQ(TestControl()->set_DVRIP(a), S_OK);
    EXPECT_EQ(TestControl()->set_HTTP_PORT(b), S_OK);
    EXPECT_EQ(TestControl()->set_DVR_UK(c), S_OK);
    EXPECT_EQ(TestControl()->set_HTTP_PAGE(d), S_OK);
    VariantClear(&a);
    VariantClear(&c);
    VariantClear(&d);
}

std::vector<BYTE> StreamBytes(IStream* stream)
{
    HGLOBAL block = nullptr;
    EXPECT_EQ(GetHGlobalFromStream(stream, &block), S_OK);
    STATSTG stat = {};
    stream->Stat(&stat, STATFLAG_NONAME);
    auto* bytes = static_cast<BYTE*>(GlobalLock(block));
    std::vector<BYTE> out(bytes, bytes + stat.cbSize.QuadPart);
    GlobalUnlock(block);
    return out;
}

IStream* StreamOf(const std::vector<BYTE>& bytes)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!bytes.empty()) memcpy(GlobalLock(block), bytes.data(), bytes.size());
    else GlobalLock(block);
    GlobalUnlock(block);
    IStream* stream = nullptr;
    EXPECT_EQ(CreateStreamOnHGlobal(block, TRUE, &stream), S_OK);
    return stream;
}

void Le32(std::vector<BYTE>& out, uint32_t v)
{
    for (int i = 0; i < 4; i++) out.push_back((BYTE)(v >> (8 * i)));
}
void Le16(std::vector<BYTE>& out, uint16_t v)
{
    out.push_back((BYTE)v);
    out.push_back((BYTE)(v >> 8));
}
void Bstr(std::vector<BYTE>& out, const char* text)
{
    Le16(out, VT_BSTR);
    Le32(out, (uint32_t)strlen(text) * 2);
    for (const char* p = text; *p; p++) Le16(out, (uint16_t)*p);
}

TEST(Persistence, StreamKeepsTheExtentAndTheConnectionProperties)
{
    IPersistStreamInit* persist = Ask<IPersistStreamInit>(IID_IPersistStreamInit);
    PutAll("10.0.0.7", 8080, "9.1.2", "2");
    EXPECT_EQ(persist->IsDirty(), S_OK);
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    ASSERT_EQ(persist->Save(stream, TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    // The format, the extent, then each property with its own type.
    std::vector<BYTE> want;
    Le32(want, 1);
    Le32(want, 26723);
    Le32(want, 17357);
    Bstr(want, "10.0.0.7");
    Le16(want, VT_I4);
    Le32(want, 8080);
    Bstr(want, "9.1.2");
    Bstr(want, "2");
    std::vector<BYTE> saved = StreamBytes(stream);
    EXPECT_EQ(saved, want);
    ULARGE_INTEGER max = {};
    EXPECT_EQ(persist->GetSizeMax(&max), S_OK);
    EXPECT_EQ(max.QuadPart, want.size());
    stream->Release();

    // Loaded back over other values: each put counted, in order.
    PutAll("other", 1, "x", "0");
    uint32_t count = gPropertyPutCount;
    IStream* again = StreamOf(saved);
    ASSERT_EQ(persist->Load(again), S_OK);
    again->Release();
    EXPECT_EQ(gPropertyPutCount, count + 4);
    EXPECT_STREQ(Property_Text(PROP_DVRIP), "10.0.0.7");
    EXPECT_STREQ(Property_Text(PROP_HTTP_PORT), "8080");
    EXPECT_STREQ(Property_Text(PROP_DVR_UK), "9.1.2");
    EXPECT_EQ(gHttpPage, 2);
    VARIANT port;
    ASSERT_EQ(TestControl()->get_HTTP_PORT(&port), S_OK);
    EXPECT_EQ(port.vt, VT_I4); // the type comes back with the value
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    persist->Release();
}

TEST(Persistence, DamagedStreamsAreRefusedWhereTheDamageIs)
{
    IPersistStreamInit* persist = Ask<IPersistStreamInit>(IID_IPersistStreamInit);
    auto head = [](uint32_t format) {
        std::vector<BYTE> b;
        Le32(b, format);
        Le32(b, 26723);
        Le32(b, 17357);
        return b;
    };
    std::vector<BYTE> good = head(1);
    Bstr(good, "10.9.8.7");
    Bstr(good, "81");
    Bstr(good, "5.1.1");
    Bstr(good, "0");
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
        HRESULT want;
        const char* address; // DVRIP afterwards
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, STG_E_READFAULT, "kept"});
    cases.push_back({"another format", head(2), STG_E_INVALIDHEADER, "kept"});
    cases.push_back({"no properties after the extent", head(1), STG_E_READFAULT, "kept"});
    std::vector<BYTE> cut(good.begin(), good.begin() + 12 + 2 + 4 + 16 + 3);
    cases.push_back({"cut inside the second text", cut, STG_E_READFAULT, "10.9.8.7"});
    std::vector<BYTE> odd = head(1);
    Le16(odd, VT_BSTR);
    Le32(odd, 3);
    odd.insert(odd.end(), {1, 0, 2});
    cases.push_back({"a text of an odd byte count", odd, STG_E_INVALIDHEADER, "kept"});
    std::vector<BYTE> huge = head(1);
    Le16(huge, VT_BSTR);
    Le32(huge, 0xFFFFFFF0u);
    cases.push_back({"a text longer than anything held", huge, STG_E_INVALIDHEADER, "kept"});
    std::vector<BYTE> object = head(1);
    Le16(object, VT_DISPATCH);
    Le32(object, 0x12345678);
    cases.push_back({"an object", object, STG_E_INVALIDHEADER, "kept"});
    std::vector<BYTE> badPage = head(1);
    Bstr(badPage, "10.1.1.1");
    Bstr(badPage, "81");
    Bstr(badPage, "5.1.1");
    Bstr(badPage, "x");
    cases.push_back({"a page selector that is no number", badPage, DISP_E_EXCEPTION, "10.1.1.1"});
    cases.push_back({"whole", good, S_OK, "10.9.8.7"});
    for (const Case& c : cases) {
        VARIANT kept = Text("kept");
        TestControl()->set_DVRIP(kept);
        VariantClear(&kept);
        IStream* stream = StreamOf(c.bytes);
        EXPECT_EQ(persist->Load(stream), c.want) << c.what;
        EXPECT_STREQ(Property_Text(PROP_DVRIP), c.address) << c.what;
        stream->Release();
    }
    EXPECT_EQ(persist->Load(nullptr), E_POINTER);
    persist->Release();
}

TEST(Persistence, APropertySavedWithoutAValueIsLeftAsItIs)
{
    // What a control saves before a page gave it anything.
    std::vector<BYTE> bytes;
    Le32(bytes, 1);
    Le32(bytes, 26723);
    Le32(bytes, 17357);
    for (int i = 0; i < 4; i++) Le16(bytes, VT_EMPTY);
    PutAll("10.2.2.2", 82, "1.1.1", "1");
    uint32_t count = gPropertyPutCount;
    IPersistStreamInit* persist = Ask<IPersistStreamInit>(IID_IPersistStreamInit);
    IStream* stream = StreamOf(bytes);
    EXPECT_EQ(persist->Load(stream), S_OK);
    stream->Release();
    EXPECT_EQ(gPropertyPutCount, count);
    EXPECT_STREQ(Property_Text(PROP_DVRIP), "10.2.2.2");
    EXPECT_EQ(gHttpPage, 1);
    persist->Release();
}

TEST(Persistence, StorageKeepsTheStreamAsContents)
{
    IPersistStorage* persist = Ask<IPersistStorage>(IID_IPersistStorage);
    TRecordingSite sink;
    IOleObject* ole = Ask<IOleObject>(IID_IOleObject);
    DWORD cookie = 0;
    ole->Advise(&sink, &cookie);
    PutAll("192.168.1.9", 80, "3.4.5", "1");
    IStorage* storage = nullptr;
    ASSERT_EQ(Storage_CreateInMemory(&storage), S_OK);
    ASSERT_EQ(persist->InitNew(storage), S_OK);
    PutAll("192.168.1.9", 80, "3.4.5", "1");
    EXPECT_EQ(persist->IsDirty(), S_OK);
    ASSERT_EQ(persist->Save(storage, TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    EXPECT_EQ(persist->SaveCompleted(nullptr), S_OK);
    EXPECT_EQ(sink.saves, 1);
    STATSTG stat = {};
    storage->Stat(&stat, STATFLAG_NONAME);
    EXPECT_TRUE(stat.clsid == CLSID_TavlinX);
    // The stream in the storage is the one IPersistStreamInit writes.
    std::u16string name = Wide_FromText("Contents");
    IStream* contents = nullptr;
    ASSERT_EQ(
        storage->OpenStream((const OLECHAR*)name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &contents),
        S_OK);
    IStream* direct = nullptr;
    CreateStreamOnHGlobal(nullptr, TRUE, &direct);
    IPersistStreamInit* streamed = Ask<IPersistStreamInit>(IID_IPersistStreamInit);
    streamed->Save(direct, FALSE);
    std::vector<BYTE> a(4096), b(4096);
    ULONG na = 0, nb = 0;
    contents->Read(a.data(), 4096, &na);
    LARGE_INTEGER zero = {0};
    direct->Seek(zero, STREAM_SEEK_SET, nullptr);
    direct->Read(b.data(), 4096, &nb);
    EXPECT_EQ(na, nb);
    EXPECT_EQ(a, b);
    contents->Release();
    direct->Release();
    streamed->Release();

    PutAll("elsewhere", 1, "y", "0");
    EXPECT_EQ(persist->HandsOffStorage(), S_OK);
    ASSERT_EQ(persist->Load(storage), S_OK);
    EXPECT_STREQ(Property_Text(PROP_DVRIP), "192.168.1.9");
    IStorage* empty = nullptr;
    Storage_CreateInMemory(&empty);
    EXPECT_EQ(persist->Load(empty), STG_E_FILENOTFOUND);
    empty->Release();
    storage->Release();
    ole->Unadvise(cookie);
    ole->Release();
    persist->Release();
}

// --- Data transfer -----------------------------------------------------------------------------

TEST(DataTransfer, ThePictureComesAsADibAndAsABitmap)
{
    gViewerForm->Label_time->SetCaption("Data 1");
    IDataObject* data = Ask<IDataObject>(IID_IDataObject);
    QImage grabbed = Grab();
    FORMATETC dib = {CF_DIB, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL | TYMED_ISTREAM};
    STGMEDIUM medium = {};
    ASSERT_EQ(data->GetData(&dib, &medium), S_OK);
    ASSERT_EQ(medium.tymed, TYMED_HGLOBAL);
    EXPECT_EQ(medium.pUnkForRelease, nullptr);
    auto* bytes = static_cast<BYTE*>(GlobalLock(medium.hGlobal));
    BITMAPINFOHEADER head;
    memcpy(&head, bytes, sizeof head);
    EXPECT_EQ(head.biSize, 40u);
    EXPECT_EQ(head.biWidth, 1010);
    EXPECT_EQ(head.biHeight, 656); // rows bottom-up
    EXPECT_EQ(head.biBitCount, 32);
    EXPECT_EQ(head.biCompression, BI_RGB);
    EXPECT_EQ(head.biSizeImage, 1010u * 656 * 4);
    const uint32_t* rows = reinterpret_cast<const uint32_t*>(bytes + 40);
    int off = 0;
    for (int y = 0; y < 656; y += 5)
        for (int x = 0; x < 1010; x += 5)
            off += (rows[(655 - y) * 1010 + x] & 0xFFFFFF) != (grabbed.pixel(x, y) & 0xFFFFFF);
    EXPECT_EQ(off, 0);
    GlobalUnlock(medium.hGlobal);
    ReleaseStgMedium(&medium);
    EXPECT_EQ(medium.tymed, TYMED_NULL);

    FORMATETC bitmap = {CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI};
    ASSERT_EQ(data->GetData(&bitmap, &medium), S_OK);
    ASSERT_EQ(medium.tymed, TYMED_GDI);
    DIBSECTION ds;
    ASSERT_EQ(GetObject(medium.hBitmap, sizeof ds, &ds), (int)sizeof ds);
    EXPECT_EQ(ds.dsBm.bmWidth, 1010);
    EXPECT_EQ(ds.dsBm.bmHeight, 656);
    EXPECT_EQ(static_cast<uint32_t*>(ds.dsBm.bmBits)[300 * 1010 + 800] & 0xFFFFFF, grabbed.pixel(800, 300) & 0xFFFFFF);
    ReleaseStgMedium(&medium);

    // Into a block of the caller's: big enough, or refused.
    STGMEDIUM small = {};
    small.tymed = TYMED_HGLOBAL;
    small.hGlobal = GlobalAlloc(GMEM_MOVEABLE, 1000);
    EXPECT_EQ(data->GetDataHere(&dib, &small), STG_E_MEDIUMFULL);
    EXPECT_EQ(GlobalSize(small.hGlobal), 1000u);
    ReleaseStgMedium(&small);
    STGMEDIUM gdi = {};
    gdi.tymed = TYMED_GDI;
    EXPECT_EQ(data->GetDataHere(&bitmap, &gdi), DV_E_TYMED);

    struct Case {
        const char* what;
        FORMATETC format;
        HRESULT want;
    } cases[] = {
        {"a DIB in global memory", {CF_DIB, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, S_OK},
        {"a bitmap", {CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI}, S_OK},
        {"a DIB in a file only", {CF_DIB, nullptr, DVASPECT_CONTENT, -1, TYMED_FILE}, DV_E_TYMED},
        {"text", {1, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}, DV_E_FORMATETC},
        {"its icon", {CF_DIB, nullptr, DVASPECT_ICON, -1, TYMED_HGLOBAL}, DV_E_DVASPECT},
        {"a page of it", {CF_DIB, nullptr, DVASPECT_CONTENT, 3, TYMED_HGLOBAL}, DV_E_LINDEX},
    };
    for (const Case& c : cases) {
        FORMATETC f = c.format;
        EXPECT_EQ(data->QueryGetData(&f), c.want) << c.what;
        STGMEDIUM m = {};
        HRESULT hr = data->GetData(&f, &m);
        EXPECT_EQ(hr, c.want) << c.what;
        if (SUCCEEDED(hr)) ReleaseStgMedium(&m);
    }
    IEnumFORMATETC* formats = nullptr;
    EXPECT_EQ(data->EnumFormatEtc(DATADIR_SET, &formats), E_NOTIMPL);
    data->Release();
}

} // namespace
