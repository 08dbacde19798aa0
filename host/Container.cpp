// The host's site: one object that is the control's client site, in-place
// site and frame, control site, view sink, property notification sink and
// ambient properties; the events sink that prints events; and the
// embedding and drawing steps. The site and the sinks live as long as the
// process.
#include "host/Container.h"
#include "platform/com/Com.h"
#include "platform/vcl/Forms.h"
#include "platform/win/Gdi.h"

#include <atomic>
#include <cstdio>

namespace {

constexpr int kScreenPixelsPerInch = 96;

int HimetricToPixels(LONG himetric) { return (int)(((int64_t)himetric * kScreenPixelsPerInch + 1270) / 2540); }

// Prints the control's events (--events).
class TEventSink : public IDispatch {
public:
    explicit TEventSink(const IID& iid) : FIid(iid) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == FIid) *ppv = static_cast<IDispatch*>(this);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++FRefs; }
    ULONG Release() override { return --FRefs; } // lives as long as the host
    HRESULT GetTypeInfoCount(UINT* n) override
    {
        if (n) *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        printf("event %d args=%u\n", (int)id, p ? p->cArgs : 0);
        fflush(stdout);
        return S_OK;
    }

private:
    IID FIid;
    std::atomic<ULONG> FRefs{1};
};

// The site of the one control, and the frame around it.
class THostSite : public IOleClientSite,
                  public IOleInPlaceSite,
                  public IOleInPlaceFrame,
                  public IOleControlSite,
                  public IAdviseSink,
                  public IPropertyNotifySink,
                  public IDispatch {
public:
    TForm* window = nullptr; // the host's window the control goes into
    IOleInPlaceObject* inPlace = nullptr;

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite) *ppv = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) *ppv = static_cast<IOleInPlaceSite*>(this);
        else if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
            *ppv = static_cast<IOleInPlaceFrame*>(this);
        else if (riid == IID_IOleControlSite) *ppv = static_cast<IOleControlSite*>(this);
        else if (riid == IID_IAdviseSink) *ppv = static_cast<IAdviseSink*>(this);
        else if (riid == IID_IPropertyNotifySink) *ppv = static_cast<IPropertyNotifySink*>(this);
        else if (riid == IID_IDispatch) *ppv = static_cast<IDispatch*>(this);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++FRefs; }
    ULONG Release() override { return --FRefs; } // lives as long as the host

    // --- IOleClientSite: a page keeps no state of the control.
    HRESULT SaveObject() override { return S_OK; }
    HRESULT GetMoniker(DWORD, DWORD, IMoniker** mk) override
    {
        if (mk) *mk = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetContainer(IOleContainer** c) override
    {
        if (c) *c = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT ShowObject() override { return S_OK; }
    HRESULT OnShowWindow(BOOL) override { return S_OK; }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }

    // --- IOleWindow (site and frame): the host's window.
    HRESULT GetWindow(HWND* hwnd) override
    {
        if (!hwnd) return E_POINTER;
        *hwnd = window ? window->Handle() : nullptr;
        return *hwnd ? S_OK : E_FAIL;
    }
    HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // --- IOleInPlaceSite: the control fills the window.
    HRESULT CanInPlaceActivate() override { return S_OK; }
    HRESULT OnInPlaceActivate() override { return S_OK; }
    HRESULT OnUIActivate() override { return S_OK; }
    HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                             OLEINPLACEFRAMEINFO* info) override
    {
        if (!frame || !doc || !pos || !clip) return E_POINTER;
        *frame = this;
        AddRef();
        *doc = nullptr; // the frame is the document window too
        *pos = {0, 0, window ? window->Width() : 0, window ? window->Height() : 0};
        *clip = *pos;
        if (info) {
            info->fMDIApp = FALSE;
            info->hwndFrame = window ? window->Handle() : nullptr;
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return S_OK;
    }
    HRESULT Scroll(SIZE) override { return S_OK; }
    HRESULT OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT OnInPlaceDeactivate() override { return S_OK; }
    HRESULT DiscardUndoState() override { return S_OK; }
    HRESULT DeactivateAndUndo() override { return inPlace ? inPlace->UIDeactivate() : S_OK; }
    HRESULT OnPosRectChange(LPCRECT pos) override { return inPlace && pos ? inPlace->SetObjectRects(pos, pos) : S_OK; }

    // --- IOleInPlaceUIWindow, IOleInPlaceFrame: no tools, menus or
    // accelerators of the host's own.
    HRESULT GetBorder(LPRECT) override { return E_NOTIMPL; }
    HRESULT RequestBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    HRESULT SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    HRESULT InsertMenus(HMENU, OLEMENUGROUPWIDTHS*) override { return S_OK; }
    HRESULT SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT RemoveMenus(HMENU) override { return S_OK; }
    HRESULT SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT EnableModeless(BOOL) override { return S_OK; }
    HRESULT TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // --- IOleControlSite
    HRESULT OnControlInfoChanged() override { return S_OK; }
    HRESULT LockInPlaceActive(BOOL) override { return S_OK; }
    HRESULT GetExtendedControl(IDispatch** d) override
    {
        if (d) *d = nullptr;
        return E_NOTIMPL;
    }
    HRESULT TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    HRESULT TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
    HRESULT OnFocus(BOOL) override { return S_OK; }
    HRESULT ShowPropertyFrame() override { return E_NOTIMPL; }

    // --- IAdviseSink: the control's window paints itself.
    void OnDataChange(FORMATETC*, STGMEDIUM*) override {}
    void OnViewChange(DWORD, LONG) override {}
    void OnRename(IMoniker*) override {}
    void OnSave() override {}
    void OnClose() override {}

    // --- IPropertyNotifySink
    HRESULT OnChanged(DISPID) override { return S_OK; }
    HRESULT OnRequestEdit(DISPID) override { return S_OK; }

    // --- IDispatch: the ambient properties of a page being shown.
    HRESULT GetTypeInfoCount(UINT* n) override
    {
        if (n) *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** t) override
    {
        if (t) *t = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;
        VariantInit(result);
        switch (id) {
        case DISPID_AMBIENT_USERMODE:
        case DISPID_AMBIENT_UIDEAD:
        case DISPID_AMBIENT_MESSAGEREFLECT:
        case DISPID_AMBIENT_SHOWGRABHANDLES:
        case DISPID_AMBIENT_SHOWHATCHING:
            result->vt = VT_BOOL;
            result->boolVal = id == DISPID_AMBIENT_USERMODE ? VARIANT_TRUE : VARIANT_FALSE;
            return S_OK;
        case DISPID_AMBIENT_LOCALEID:
            result->vt = VT_I4;
            result->lVal = kLocale;
            return S_OK;
        case DISPID_AMBIENT_BACKCOLOR:
        case DISPID_AMBIENT_FORECOLOR:
            result->vt = VT_UI4;
            result->ulVal = id == DISPID_AMBIENT_BACKCOLOR ? kBackColor : kForeColor;
            return S_OK;
        case DISPID_AMBIENT_DISPLAYNAME: return Variant_SetText(result, "tavlin-host");
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }

    static constexpr LONG kLocale = 0x0409;
    static constexpr OLE_COLOR kBackColor = 0x80000005, kForeColor = 0x80000008; // window, window text

private:
    std::atomic<ULONG> FRefs{1};
};

THostSite gSite;

// The control's default source of events, from its class information or
// else the first connection point it lists.
bool EventInterface(IUnknown* control, IID* iid)
{
    IProvideClassInfo2* info = nullptr;
    if (SUCCEEDED(control->QueryInterface(IID_IProvideClassInfo2, (void**)&info))) {
        HRESULT hr = info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, iid);
        info->Release();
        if (SUCCEEDED(hr)) return true;
    }
    IConnectionPointContainer* cpc = nullptr;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, (void**)&cpc))) return false;
    IEnumConnectionPoints* e = nullptr;
    bool ok = false;
    if (SUCCEEDED(cpc->EnumConnectionPoints(&e)) && e) {
        IConnectionPoint* cp = nullptr;
        ULONG got = 0;
        if (e->Next(1, &cp, &got) == S_OK && got == 1) {
            ok = SUCCEEDED(cp->GetConnectionInterface(iid));
            cp->Release();
        }
        e->Release();
    }
    cpc->Release();
    return ok;
}

// The events through the connection point, for a control activated
// without quick activation.
void AdviseEvents(IUnknown* control, IDispatch* sink, const IID& iid)
{
    IConnectionPointContainer* cpc = nullptr;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, (void**)&cpc))) return;
    IConnectionPoint* cp = nullptr;
    if (SUCCEEDED(cpc->FindConnectionPoint(iid, &cp))) {
        DWORD cookie = 0;
        cp->Advise(sink, &cookie);
        cp->Release();
    }
    cpc->Release();
}

std::string Failed(const char* what, HRESULT hr)
{
    char text[128];
    snprintf(text, sizeof text, "%s failed: 0x%08X", what, (unsigned)hr);
    return text;
}

} // namespace

bool Container_Embed(IClassFactory* factory, const std::vector<std::pair<std::string, std::string>>& params,
                     bool events, TEmbedding* out, std::string* error)
{
    IUnknown* control = nullptr;
    HRESULT hr = factory->CreateInstance(nullptr, IID_IUnknown, (void**)&control);
    if (FAILED(hr)) {
        *error = Failed("CreateInstance", hr);
        return false;
    }
    out->control = control;
    IOleObject* ole = nullptr;
    if (FAILED(control->QueryInterface(IID_IOleObject, (void**)&ole))) {
        *error = "the control is no OLE object";
        return false;
    }
    IDispatch* eventSink = nullptr;
    IID eventsIid = IID_NULL;
    if (events && EventInterface(control, &eventsIid)) eventSink = new TEventSink(eventsIid);

    DWORD misc = 0;
    IQuickActivate* quick = nullptr;
    if (SUCCEEDED(control->QueryInterface(IID_IQuickActivate, (void**)&quick))) {
        QACONTAINER c = {};
        c.cbSize = sizeof c;
        c.pClientSite = &gSite;
        c.pAdviseSink = &gSite;
        c.pPropertyNotifySink = &gSite;
        c.pUnkEventSink = eventSink;
        c.dwAmbientFlags = QACONTAINER_USERMODE | QACONTAINER_AUTOCLIP | QACONTAINER_SUPPORTSMNEMONICS;
        c.colorFore = THostSite::kForeColor;
        c.colorBack = THostSite::kBackColor;
        c.dwAppearance = 1; // 3D
        c.lcid = THostSite::kLocale;
        c.pOleControlSite = &gSite;
        QACONTROL q = {};
        q.cbSize = sizeof q;
        hr = quick->QuickActivate(&c, &q);
        quick->Release();
        if (SUCCEEDED(hr)) {
            out->quickActivated = true;
            misc = q.dwMiscStatus;
        }
    }
    if (!out->quickActivated) {
        ole->GetMiscStatus(DVASPECT_CONTENT, &misc);
        if (misc & OLEMISC_SETCLIENTSITEFIRST) ole->SetClientSite(&gSite);
        if (eventSink) AdviseEvents(control, eventSink, eventsIid);
    }

    IPersistPropertyBag* bagged = nullptr;
    IPersistStreamInit* streamed = nullptr;
    if (SUCCEEDED(control->QueryInterface(IID_IPersistPropertyBag, (void**)&bagged))) {
        TComPropertyBag* bag = new TComPropertyBag;
        for (auto& p : params) bag->WriteText(p.first, p.second);
        hr = bagged->Load(bag, nullptr);
        if (FAILED(hr)) fprintf(stderr, "tavlin-host: loading the PARAMs failed: 0x%08X\n", (unsigned)hr);
        bag->Release();
        bagged->Release();
    } else if (SUCCEEDED(control->QueryInterface(IID_IPersistStreamInit, (void**)&streamed))) {
        streamed->InitNew();
        streamed->Release();
    }
    if (!out->quickActivated && !(misc & OLEMISC_SETCLIENTSITEFIRST)) ole->SetClientSite(&gSite);
    std::u16string app = Wide_FromText("tavlin-host");
    ole->SetHostNames((LPCOLESTR)app.c_str(), nullptr);

    // The window the control goes into: the size the control asks for.
    SIZEL extent = {0, 0};
    if (FAILED(ole->GetExtent(DVASPECT_CONTENT, &extent)) || extent.cx <= 0 || extent.cy <= 0) extent = {8467, 6350};
    TForm* window = Vcl_CreateForm<TForm>(nullptr);
    window->SetBorderStyle(bsSingle);
    window->SetClientWidth(HimetricToPixels(extent.cx));
    window->SetClientHeight(HimetricToPixels(extent.cy));
    gSite.window = window;
    out->hostWindow = window->Handle();
    control->QueryInterface(IID_IOleInPlaceObject, (void**)&gSite.inPlace);

    RECT pos = {0, 0, window->Width(), window->Height()};
    hr = ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &gSite, 0, window->Handle(), &pos);
    if (FAILED(hr)) {
        ole->Release();
        *error = Failed("DoVerb (in-place activation)", hr);
        return false;
    }
    IOleWindow* own = nullptr;
    if (SUCCEEDED(control->QueryInterface(IID_IOleWindow, (void**)&own))) {
        own->GetWindow(&out->controlWindow);
        own->Release();
    }
    ole->Release();
    if (!out->controlWindow) {
        *error = "the control has no window";
        return false;
    }
    Vcl_ShowWindow(out->hostWindow, "tavlin-host");
    return true;
}

int Container_SaveScreenshot(const TEmbedding& e, const char* path)
{
    IViewObject2* view = nullptr;
    if (!e.control || FAILED(e.control->QueryInterface(IID_IViewObject2, (void**)&view))) {
        fprintf(stderr, "tavlin-host: the control does not draw itself\n");
        return -1;
    }
    SIZEL extent = {0, 0};
    HRESULT hr = view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &extent);
    const int w = HimetricToPixels(extent.cx), h = HimetricToPixels(extent.cy);
    int result = -1;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = SUCCEEDED(hr) ? CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    if (bitmap) {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, bitmap);
        RECTL bounds = {0, 0, w, h};
        hr = view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0);
        if (SUCCEEDED(hr)) result = Vcl_SavePixelsPng(bits, w, h, w * 4, path);
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    view->Release();
    if (FAILED(hr)) fprintf(stderr, "tavlin-host: drawing the control failed: 0x%08X\n", (unsigned)hr);
    return result;
}

void Container_Release(TEmbedding* e)
{
    if (!e->control) return;
    IOleObject* ole = nullptr;
    if (SUCCEEDED(e->control->QueryInterface(IID_IOleObject, (void**)&ole))) {
        ole->Close(OLECLOSE_NOSAVE);
        ole->SetClientSite(nullptr);
        ole->Release();
    }
    if (gSite.inPlace) {
        gSite.inPlace->Release();
        gSite.inPlace = nullptr;
    }
    e->control->Release();
    e->control = nullptr;
    e->controlWindow = nullptr;
}
