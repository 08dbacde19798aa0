// TComControl: a control's embedding, drawing, quick activation,
// persistence and data transfer on top of its form. Each object owns its
// sites' references, its advise sinks, its two connection points and the
// timer that passes the form's repaints on to view and data sinks. No
// module state.
#include "platform/com/ComControl.h"
#include "platform/com/ComEnum.h"
#include "platform/vcl/Forms.h"
#include "platform/win/Gdi.h"
#include <cstddef>
#include <cstring>
#include <exception>
#include <iterator>

namespace {

constexpr int kHimetricPerInch = 2540;
constexpr ULONG kMaxPersistedText = 1 << 20; // bytes of one persisted text
// How often repaints are passed on to view and data sinks, at most.
constexpr uint32_t kChangeIntervalMs = 20;

LONG ToHimetric(int pixels, int ppi) { return (LONG)(((int64_t)pixels * kHimetricPerInch + ppi / 2) / ppi); }
int ToPixels(LONG himetric, int ppi)
{
    return (int)(((int64_t)himetric * ppi + kHimetricPerInch / 2) / kHimetricPerInch);
}

// The formats GetData offers, in this order.
const FORMATETC kFormats[] = {
    {CF_DIB, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL},
    {CF_BITMAP, nullptr, DVASPECT_CONTENT, -1, TYMED_GDI},
};

// --- Writing and reading the persisted stream -----------------------------------

// Writes into a stream, or only counts (stream null).
struct TWriter {
    IStream* stream;
    ULONGLONG count = 0;
    HRESULT hr = S_OK;
    void Bytes(const void* p, ULONG n)
    {
        count += n;
        if (!stream || FAILED(hr) || n == 0) return;
        ULONG written = 0;
        hr = stream->Write(p, n, &written);
        if (SUCCEEDED(hr) && written != n) hr = STG_E_MEDIUMFULL;
    }
    void U16(uint16_t v)
    {
        BYTE b[2] = {(BYTE)v, (BYTE)(v >> 8)};
        Bytes(b, 2);
    }
    void U32(uint32_t v)
    {
        BYTE b[4] = {(BYTE)v, (BYTE)(v >> 8), (BYTE)(v >> 16), (BYTE)(v >> 24)};
        Bytes(b, 4);
    }
    void U64(uint64_t v)
    {
        U32((uint32_t)v);
        U32((uint32_t)(v >> 32));
    }
};

struct TReader {
    IStream* stream;
    HRESULT hr = S_OK;
    bool Bytes(void* p, ULONG n)
    {
        if (FAILED(hr)) return false;
        ULONG got = 0;
        hr = stream->Read(p, n, &got);
        if (SUCCEEDED(hr) && got != n) hr = STG_E_READFAULT;
        return SUCCEEDED(hr);
    }
    bool U16(uint16_t* v)
    {
        BYTE b[2];
        if (!Bytes(b, 2)) return false;
        *v = (uint16_t)(b[0] | b[1] << 8);
        return true;
    }
    bool U32(uint32_t* v)
    {
        BYTE b[4];
        if (!Bytes(b, 4)) return false;
        *v = (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
        return true;
    }
    bool U64(uint64_t* v)
    {
        uint32_t lo, hi;
        if (!U32(&lo) || !U32(&hi)) return false;
        *v = (uint64_t)hi << 32 | lo;
        return true;
    }
};

// Bytes of a value of the type in the stream; 0 for none, -1 for a type
// the stream does not hold.
int FixedSize(VARTYPE vt)
{
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL: return 0;
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR: return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE: return 8;
    default: return -1;
    }
}

void WriteValue(TWriter& w, const VARIANT& value)
{
    VARIANT text;
    VariantInit(&text);
    const VARIANT* v = &value;
    if (v->vt != VT_BSTR && FixedSize(v->vt) < 0) {
        // Anything else goes as its text; a value without one as empty.
        if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR))) text.vt = VT_EMPTY;
        v = &text;
    }
    w.U16(v->vt);
    switch (FixedSize(v->vt)) {
    case 1: w.Bytes(&v->bVal, 1); break;
    case 2: w.U16((uint16_t)v->uiVal); break;
    case 4: w.U32(v->ulVal); break;
    case 8: w.U64(v->ullVal); break;
    default:
        if (v->vt == VT_BSTR) {
            UINT units = SysStringLen(v->bstrVal);
            w.U32(units * 2);
            for (UINT i = 0; i < units; i++) w.U16(v->bstrVal[i]);
        }
        break;
    }
    VariantClear(&text);
}

bool ReadValue(TReader& r, VARIANT* v)
{
    uint16_t vt = 0;
    if (!r.U16(&vt)) return false;
    VariantInit(v);
    int size = FixedSize(vt);
    if (vt == VT_BSTR) {
        uint32_t bytes = 0;
        if (!r.U32(&bytes)) return false;
        if (bytes % 2 || bytes > kMaxPersistedText) {
            r.hr = STG_E_INVALIDHEADER;
            return false;
        }
        BSTR text = SysAllocStringLen(nullptr, bytes / 2);
        if (!text) {
            r.hr = E_OUTOFMEMORY;
            return false;
        }
        for (uint32_t i = 0; i < bytes / 2; i++) {
            uint16_t unit;
            if (!r.U16(&unit)) {
                SysFreeString(text);
                return false;
            }
            text[i] = unit;
        }
        v->vt = VT_BSTR;
        v->bstrVal = text;
        return true;
    }
    if (size < 0) {
        r.hr = STG_E_INVALIDHEADER;
        return false;
    }
    v->vt = vt;
    uint16_t u16;
    uint32_t u32;
    uint64_t u64;
    switch (size) {
    case 1: return r.Bytes(&v->bVal, 1);
    case 2:
        if (!r.U16(&u16)) return false;
        v->uiVal = u16;
        return true;
    case 4:
        if (!r.U32(&u32)) return false;
        v->ulVal = u32;
        return true;
    case 8:
        if (!r.U64(&u64)) return false;
        v->ullVal = u64;
        return true;
    default: return true;
    }
}

// A site's own interface, or null.
template <class I> I* Query(IUnknown* from, REFIID iid)
{
    I* p = nullptr;
    if (!from || FAILED(from->QueryInterface(iid, (void**)&p))) return nullptr;
    return p;
}

template <class I> void ReleaseAndClear(I*& p)
{
    I* was = p;
    p = nullptr;
    if (was) was->Release();
}

} // namespace

// --- Life ----------------------------------------------------------------------------

TComControl::TComControl(const TComControlClass& cls)
    : FClass(cls), FEvents(static_cast<IConnectionPointContainer*>(this), *cls.events),
      FPropertyNotify(static_cast<IConnectionPointContainer*>(this), IID_IPropertyNotifySink)
{
    ComModule_Lock();
}

TComControl::~TComControl() { ComModule_Unlock(); }

// What a container should have done before its last release, done while
// the object is still whole: the sites it calls may call back into it.
void TComControl::Teardown()
{
    InPlaceDeactivate();
    HideOwnWindow();
    if (FForm) Vcl_SetRepaintObserver(FForm->Handle(), nullptr);
    delete FChangeTimer;
    FChangeTimer = nullptr;
    FEvents.UnadviseAll();
    FPropertyNotify.UnadviseAll();
    std::vector<TAdvise> advises;
    advises.swap(FOleAdvises);
    for (TAdvise& a : FDataAdvises) advises.push_back(a);
    FDataAdvises.clear();
    for (TAdvise& a : advises) a.sink->Release();
    ReleaseAndClear(FViewSink);
    ReleaseAndClear(FStorage);
    ReleaseAndClear(FAmbientDispatch);
    ReleaseAndClear(FClientSite);
}

ULONG TComControl::AddRef() { return ++FRefs; }

ULONG TComControl::Release()
{
    ULONG n = --FRefs;
    if (n == 0) {
        // Calls made back meanwhile find the object alive.
        FRefs = 1u << 30;
        Teardown();
        delete this;
    }
    return n;
}

void TComControl::AttachForm(TCustomForm* form) { FForm = form; }

HRESULT TComControl::FireEvent(DISPID dispid, VARIANTARG* args, UINT count)
{
    if (FFrozen > 0) return S_OK;
    return FEvents.FireEvent(dispid, args, count);
}

void TComControl::PropertyChanged(DISPID dispid)
{
    FDirty = true;
    FPropertyNotify.ForEachSink(
        [dispid](IUnknown* sink) { static_cast<IPropertyNotifySink*>(sink)->OnChanged(dispid); });
}

// --- Extent ---------------------------------------------------------------------------

SIZEL TComControl::ExtentHimetric() const
{
    int ppi = FForm && FForm->PixelsPerInch() > 0 ? FForm->PixelsPerInch() : 96;
    int w = FForm ? FForm->Width() : 0, h = FForm ? FForm->Height() : 0;
    return {ToHimetric(w > 0 ? w : 0, ppi), ToHimetric(h > 0 ? h : 0, ppi)};
}

HRESULT TComControl::SetExtent(DWORD aspect, SIZEL* size)
{
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (size->cx <= 0 || size->cy <= 0) return E_INVALIDARG;
    if (!FForm) return E_UNEXPECTED;
    int ppi = FForm->PixelsPerInch() > 0 ? FForm->PixelsPerInch() : 96;
    int w = ToPixels(size->cx, ppi), h = ToPixels(size->cy, ppi);
    if (w <= 0 || h <= 0 || w > 16384 || h > 16384) return E_INVALIDARG;
    if (w != FForm->Width() || h != FForm->Height()) {
        FForm->SetBounds(FForm->Left(), FForm->Top(), w, h);
        FDirty = true;
        FChanged = true;
    }
    return S_OK;
}

HRESULT TComControl::GetExtent(DWORD aspect, SIZEL* size)
{
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = ExtentHimetric();
    return S_OK;
}

HRESULT TComControl::GetExtent(DWORD aspect, LONG lindex, DVTARGETDEVICE*, LPSIZEL size)
{
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (lindex != -1) return DV_E_LINDEX;
    *size = ExtentHimetric();
    return S_OK;
}

HRESULT TComControl::SetContentExtent(LPSIZEL size) { return SetExtent(DVASPECT_CONTENT, size); }
HRESULT TComControl::GetContentExtent(LPSIZEL size) { return GetExtent(DVASPECT_CONTENT, size); }

// --- Drawing -------------------------------------------------------------------------

HRESULT TComControl::PaintInto(void* firstRow, int width, int height, int rowStride, const RECTL& bounds)
{
    if (!FForm) return E_UNEXPECTED;
    return Vcl_PaintWindow(FForm->Handle(), firstRow, width, height, rowStride, bounds.left, bounds.top, bounds.right,
                           bounds.bottom) == 0
               ? S_OK
               : VIEW_E_DRAW;
}

HRESULT TComControl::Draw(DWORD aspect, LONG lindex, void*, DVTARGETDEVICE*, HDC, HDC hdcDraw, LPCRECTL bounds,
                          LPCRECTL, BOOL (*pfnContinue)(ULONG_PTR), ULONG_PTR dwContinue)
{
    // The picture is opaque all over: its opaque part is all of it.
    if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_OPAQUE) return DV_E_DVASPECT;
    if (lindex != -1) return DV_E_LINDEX;
    if (!hdcDraw || !bounds) return E_INVALIDARG;
    if (bounds->right <= bounds->left || bounds->bottom <= bounds->top) return OLE_E_INVALIDRECT;
    if (pfnContinue && !pfnContinue(dwContinue)) return E_ABORT;
    DIBSECTION ds;
    if (GetObject(GetCurrentObject(hdcDraw, OBJ_BITMAP), sizeof ds, &ds) != (int)sizeof ds) return E_INVALIDARG;
    BYTE* first = static_cast<BYTE*>(ds.dsBm.bmBits);
    int stride = ds.dsBm.bmWidthBytes;
    if (ds.dsBmih.biHeight > 0) { // bottom-up: the top row is the last in memory
        first += (ptrdiff_t)(ds.dsBm.bmHeight - 1) * stride;
        stride = -stride;
    }
    return PaintInto(first, ds.dsBm.bmWidth, ds.dsBm.bmHeight, stride, *bounds);
}

HRESULT TComControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colorSet)
{
    if (colorSet) *colorSet = nullptr;
    return E_NOTIMPL;
}

HRESULT TComControl::Freeze(DWORD, LONG, void*, DWORD* freeze)
{
    if (freeze) *freeze = 0;
    return E_NOTIMPL;
}

HRESULT TComControl::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT TComControl::SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink)
{
    if (sink) sink->AddRef();
    ReleaseAndClear(FViewSink);
    FViewSink = sink;
    FViewAspects = aspects;
    FViewAdvf = advf;
    if (!sink) return S_OK;
    WatchRepaints();
    if (advf & ADVF_PRIMEFIRST) {
        FViewSink->OnViewChange(DVASPECT_CONTENT, -1);
        if (FViewSink && (FViewAdvf & ADVF_ONLYONCE)) ReleaseAndClear(FViewSink);
    }
    return S_OK;
}

HRESULT TComControl::GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink)
{
    if (aspects) *aspects = FViewAspects;
    if (advf) *advf = FViewAdvf;
    if (sink) {
        *sink = FViewSink;
        if (FViewSink) FViewSink->AddRef();
    }
    return S_OK;
}

HRESULT TComControl::GetRect(DWORD aspect, LPRECTL rect)
{
    if (!rect) return E_POINTER;
    if (aspect != DVASPECT_CONTENT && aspect != DVASPECT_OPAQUE) return DV_E_DVASPECT;
    SIZEL e = ExtentHimetric();
    *rect = {0, 0, e.cx, e.cy};
    return S_OK;
}

HRESULT TComControl::GetViewStatus(DWORD* status)
{
    if (!status) return E_POINTER;
    *status = VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_DVASPECTOPAQUE;
    return S_OK;
}

HRESULT TComControl::QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT at, LONG, DWORD* result)
{
    if (!bounds || !result) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    bool inside = at.x >= bounds->left && at.x < bounds->right && at.y >= bounds->top && at.y < bounds->bottom;
    *result = inside ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

HRESULT TComControl::QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT rect, LONG, DWORD* result)
{
    if (!bounds || !rect || !result) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    bool meets = rect->left < bounds->right && rect->right > bounds->left && rect->top < bounds->bottom &&
                 rect->bottom > bounds->top;
    *result = meets ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

// The form's layout is fixed: its natural extent is its own size, however
// the container proposes to size it.
HRESULT TComControl::GetNaturalExtent(DWORD aspect, LONG lindex, DVTARGETDEVICE*, HDC, DVEXTENTINFO* info, LPSIZEL size)
{
    if (!info || !size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (lindex != -1) return DV_E_LINDEX;
    if (info->dwExtentMode != DVEXTENT_CONTENT && info->dwExtentMode != DVEXTENT_INTEGRAL) return E_INVALIDARG;
    *size = ExtentHimetric();
    return S_OK;
}

// --- Passing repaints on -------------------------------------------------------------

void TComControl::WatchRepaints()
{
    if (!FForm || FChangeTimer) return;
    Vcl_SetRepaintObserver(FForm->Handle(), [this] { FChanged = true; });
    FChangeTimer = new TTimer(nullptr);
    FChangeTimer->SetInterval(kChangeIntervalMs);
    FChangeTimer->OnTimer = [this](TObject*) { NotifyChanges(); };
    FChangeTimer->SetEnabled(true);
}

void TComControl::NotifyChanges()
{
    if (!FChanged) return;
    FChanged = false;
    AddRef(); // a sink may release the object
    if (FViewSink && (FViewAspects & (DVASPECT_CONTENT | DVASPECT_OPAQUE))) {
        IAdviseSink* sink = FViewSink;
        sink->AddRef();
        if (FViewAdvf & ADVF_ONLYONCE) ReleaseAndClear(FViewSink);
        sink->OnViewChange(DVASPECT_CONTENT, -1);
        sink->Release();
    }
    std::vector<TAdvise> due = FDataAdvises;
    for (TAdvise& a : due) a.sink->AddRef();
    for (TAdvise& a : due) {
        if (a.advf & ADVF_ONLYONCE) DUnadvise(a.cookie);
        STGMEDIUM medium = {};
        FORMATETC format = a.format;
        if (!(a.advf & ADVF_NODATA) && FAILED(RenderData(format, &medium))) medium.tymed = TYMED_NULL;
        a.sink->OnDataChange(&format, &medium);
        ReleaseStgMedium(&medium);
        a.sink->Release();
    }
    Release();
}

// --- In place ------------------------------------------------------------------------

HRESULT TComControl::GetWindow(HWND* hwnd)
{
    if (!hwnd) return E_POINTER;
    *hwnd = FForm ? FForm->Handle() : nullptr;
    return *hwnd ? S_OK : E_FAIL;
}

HRESULT TComControl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT TComControl::InPlaceActivate(LONG verb, IOleClientSite* site, HWND parent, LPCRECT posRect)
{
    if (!FForm) return E_UNEXPECTED;
    if (!site) return E_UNEXPECTED;
    if (!FInPlaceActive) {
        IOleInPlaceSite* inPlace = Query<IOleInPlaceSite>(site, IID_IOleInPlaceSite);
        if (!inPlace) return E_NOINTERFACE;
        if (inPlace->CanInPlaceActivate() != S_OK) {
            inPlace->Release();
            return E_FAIL;
        }
        FInPlaceSite = inPlace;
        FInPlaceActive = true;
        inPlace->OnInPlaceActivate();
        HWND window = nullptr;
        if (FAILED(inPlace->GetWindow(&window)) || !window) window = parent;
        RECT pos = posRect ? *posRect : RECT{0, 0, FForm->Width(), FForm->Height()}, clip = pos;
        OLEINPLACEFRAMEINFO frameInfo = {sizeof frameInfo, FALSE, nullptr, nullptr, 0};
        ReleaseAndClear(FFrame);
        ReleaseAndClear(FUIWindow);
        if (FAILED(inPlace->GetWindowContext(&FFrame, &FUIWindow, &pos, &clip, &frameInfo))) {
            FFrame = nullptr;
            FUIWindow = nullptr;
        }
        if (!window) {
            InPlaceDeactivate();
            return E_FAIL;
        }
        HideOwnWindow();
        Vcl_SetWindowParent(FForm->Handle(), window);
        SetObjectRects(&pos, &clip);
        FForm->Show();
    }
    if (verb == OLEIVERB_UIACTIVATE && !FUIActive && !(FClass.miscStatus & OLEMISC_NOUIACTIVATE) && !FAmbient.uiDead) {
        FUIActive = true;
        FInPlaceSite->OnUIActivate();
        std::u16string name = Wide_FromText(FClass.userType);
        IOleInPlaceActiveObject* self = this;
        if (FFrame) {
            FFrame->SetActiveObject(self, (LPCOLESTR)name.c_str());
            FFrame->SetBorderSpace(nullptr);
        }
        if (FUIWindow) {
            FUIWindow->SetActiveObject(self, (LPCOLESTR)name.c_str());
            FUIWindow->SetBorderSpace(nullptr);
        }
    }
    return S_OK;
}

HRESULT TComControl::InPlaceDeactivate()
{
    if (!FInPlaceActive) return S_OK;
    UIDeactivate();
    FInPlaceActive = false;
    if (FForm) {
        // Hidden first, so that leaving the container's window shows nothing.
        FForm->Hide();
        Vcl_SetWindowParent(FForm->Handle(), nullptr);
    }
    ReleaseAndClear(FFrame);
    ReleaseAndClear(FUIWindow);
    IOleInPlaceSite* site = FInPlaceSite;
    FInPlaceSite = nullptr;
    if (site) {
        site->OnInPlaceDeactivate();
        site->Release();
    }
    return S_OK;
}

HRESULT TComControl::UIDeactivate()
{
    if (!FUIActive) return S_OK;
    FUIActive = false;
    if (FUIWindow) FUIWindow->SetActiveObject(nullptr, nullptr);
    if (FFrame) FFrame->SetActiveObject(nullptr, nullptr);
    if (FInPlaceSite) FInPlaceSite->OnUIDeactivate(FALSE);
    return S_OK;
}

// The container places the control; the clip rectangle is its own.
HRESULT TComControl::SetObjectRects(LPCRECT pos, LPCRECT)
{
    if (!pos) return E_POINTER;
    if (pos->right < pos->left || pos->bottom < pos->top) return E_INVALIDARG;
    if (!FForm) return E_UNEXPECTED;
    try {
        FForm->SetBounds(pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top);
    } catch (const std::exception& e) {
        return Com_ReportError(e.what(), *FClass.dual, FClass.progId);
    }
    return S_OK;
}

HRESULT TComControl::ReactivateAndUndo() { return INPLACE_E_NOTUNDOABLE; }

// No accelerators, nothing modal to switch.
HRESULT TComControl::TranslateAccelerator(MSG*) { return S_FALSE; }
HRESULT TComControl::OnFrameWindowActivate(BOOL) { return S_OK; }
HRESULT TComControl::OnDocWindowActivate(BOOL) { return S_OK; }
HRESULT TComControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
HRESULT TComControl::EnableModeless(BOOL) { return S_OK; }

// The form shown as a window of its own, for a site that cannot take it
// in place.
HRESULT TComControl::ShowInOwnWindow(IOleClientSite* site)
{
    if (!FForm) return E_UNEXPECTED;
    if (FInPlaceActive) return S_OK;
    bool was = FOwnWindow;
    FOwnWindow = true;
    FForm->Show();
    if (!was && site) site->OnShowWindow(TRUE);
    return S_OK;
}

void TComControl::HideOwnWindow()
{
    if (!FOwnWindow) return;
    FOwnWindow = false;
    if (FForm) FForm->Hide();
    if (FClientSite) FClientSite->OnShowWindow(FALSE);
}

// --- IOleControl -----------------------------------------------------------------------

HRESULT TComControl::GetControlInfo(CONTROLINFO* info)
{
    if (!info) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT TComControl::OnMnemonic(MSG*) { return S_OK; }

HRESULT TComControl::OnAmbientPropertyChange(DISPID dispid)
{
    ReadAmbient(dispid);
    return S_OK;
}

HRESULT TComControl::FreezeEvents(BOOL freeze)
{
    if (freeze) ++FFrozen;
    else if (FFrozen > 0) --FFrozen;
    return S_OK;
}

// Reads one ambient property (DISPID_UNKNOWN: all) from the site's
// IDispatch; what the site does not answer keeps its value.
void TComControl::ReadAmbient(DISPID dispid)
{
    if (!FAmbientDispatch) return;
    auto get = [&](DISPID id, VARTYPE type, VARIANT* out) {
        if (dispid != DISPID_UNKNOWN && dispid != id) return false;
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT v;
        VariantInit(&v);
        if (FAILED(FAmbientDispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &v, nullptr,
                                            nullptr)))
            return false;
        VariantInit(out);
        HRESULT hr = VariantChangeType(out, &v, 0, type);
        VariantClear(&v);
        return SUCCEEDED(hr);
    };
    VARIANT v;
    if (get(DISPID_AMBIENT_USERMODE, VT_BOOL, &v)) FAmbient.userMode = v.boolVal != 0;
    if (get(DISPID_AMBIENT_UIDEAD, VT_BOOL, &v)) FAmbient.uiDead = v.boolVal != 0;
    if (get(DISPID_AMBIENT_LOCALEID, VT_I4, &v)) FAmbient.localeId = v.lVal;
    if (get(DISPID_AMBIENT_BACKCOLOR, VT_UI4, &v)) FAmbient.backColor = v.ulVal;
    if (get(DISPID_AMBIENT_FORECOLOR, VT_UI4, &v)) FAmbient.foreColor = v.ulVal;
    if (get(DISPID_AMBIENT_DISPLAYNAME, VT_BSTR, &v)) {
        FAmbient.displayName = Bstr_ToText(v.bstrVal);
        VariantClear(&v);
    }
    if (FAmbient.uiDead) UIDeactivate();
}

// --- IOleObject ----------------------------------------------------------------------------

HRESULT TComControl::SetClientSite(IOleClientSite* site)
{
    if (!site) InPlaceDeactivate(); // the container lets go of the control
    if (site) site->AddRef();
    ReleaseAndClear(FAmbientDispatch);
    ReleaseAndClear(FClientSite);
    FClientSite = site;
    FAmbient = TAmbient();
    FAmbientDispatch = Query<IDispatch>(site, IID_IDispatch);
    ReadAmbient(DISPID_UNKNOWN);
    return S_OK;
}

HRESULT TComControl::GetClientSite(IOleClientSite** site)
{
    if (!site) return E_POINTER;
    *site = FClientSite;
    if (FClientSite) FClientSite->AddRef();
    return S_OK;
}

HRESULT TComControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

void TComControl::SendOnSave()
{
    std::vector<TAdvise> sinks = FOleAdvises;
    for (TAdvise& a : sinks) a.sink->AddRef();
    for (TAdvise& a : sinks) {
        a.sink->OnSave();
        a.sink->Release();
    }
}

HRESULT TComControl::Close(DWORD saveOption)
{
    AddRef(); // the container may let go of the object while it is told
    // The container saves it (its save tells the advise sinks).
    if (saveOption != OLECLOSE_NOSAVE && FDirty && FClientSite) FClientSite->SaveObject();
    InPlaceDeactivate();
    HideOwnWindow();
    std::vector<TAdvise> sinks = FOleAdvises;
    for (TAdvise& a : sinks) a.sink->AddRef();
    for (TAdvise& a : sinks) {
        a.sink->OnClose();
        a.sink->Release();
    }
    Release();
    return S_OK;
}

HRESULT TComControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT TComControl::GetMoniker(DWORD, DWORD, IMoniker** moniker)
{
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT TComControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT TComControl::GetClipboardData(DWORD, IDataObject** data)
{
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

HRESULT TComControl::ShowProperties(IOleClientSite* site)
{
    // The container may show the pages itself; the control has none of
    // its own to show.
    if (IOleControlSite* controlSite = Query<IOleControlSite>(site, IID_IOleControlSite)) {
        controlSite->ShowPropertyFrame();
        controlSite->Release();
    }
    return S_OK;
}

HRESULT TComControl::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND parent, LPCRECT posRect)
{
    IOleClientSite* site = FClientSite ? FClientSite : activeSite;
    HRESULT hr;
    switch (verb) {
    case OLEIVERB_PRIMARY:
        // At design time the primary verb is the properties; when running,
        // the control activates in place.
        if (!FAmbient.userMode) return ShowProperties(site);
        return InPlaceActivate(OLEIVERB_INPLACEACTIVATE, site, parent, posRect);
    case OLEIVERB_SHOW:
        hr = InPlaceActivate(OLEIVERB_INPLACEACTIVATE, site, parent, posRect);
        if (hr == E_NOINTERFACE || hr == E_UNEXPECTED) hr = ShowInOwnWindow(site); // no in-place site
        if (SUCCEEDED(hr) && site) site->ShowObject();
        return hr;
    case OLEIVERB_OPEN: return ShowInOwnWindow(site);
    case OLEIVERB_HIDE:
        UIDeactivate();
        HideOwnWindow();
        if (FInPlaceActive && FForm) FForm->Hide();
        return S_OK;
    case OLEIVERB_UIACTIVATE:
    case OLEIVERB_INPLACEACTIVATE: return InPlaceActivate(verb, site, parent, posRect);
    case OLEIVERB_DISCARDUNDOSTATE: return S_OK;
    case OLEIVERB_PROPERTIES: return ShowProperties(site);
    default:
        if (verb < 0) return E_NOTIMPL;
        // A verb the control does not list counts as the primary one.
        hr = DoVerb(OLEIVERB_PRIMARY, nullptr, activeSite, -1, parent, posRect);
        return SUCCEEDED(hr) ? OLEOBJ_S_INVALIDVERB : hr;
    }
}

HRESULT TComControl::EnumVerbs(IEnumOLEVERB** verbs)
{
    if (!verbs) return E_POINTER;
    *verbs = nullptr;
    HRESULT hr = OleRegEnumVerbs(*FClass.clsid, verbs);
    if (hr != REGDB_E_CLASSNOTREG) return hr;
    // Not registered (yet): the class's own table, which registration writes.
    std::vector<std::u16string> names;
    std::vector<OLEVERB> list;
    for (size_t i = 0; i < FClass.verbCount; i++) names.push_back(Wide_FromText(FClass.verbs[i].name));
    for (size_t i = 0; i < FClass.verbCount; i++)
        list.push_back(
            {FClass.verbs[i].verb, (LPOLESTR)names[i].c_str(), FClass.verbs[i].flags, FClass.verbs[i].attribs});
    if (list.empty()) return OLEOBJ_E_NOVERBS;
    return ComEnum_Create(IID_IEnumOLEVERB, std::move(list), verbs);
}

HRESULT TComControl::Update() { return S_OK; }
HRESULT TComControl::IsUpToDate() { return S_OK; }

HRESULT TComControl::GetUserClassID(CLSID* clsid)
{
    if (!clsid) return E_POINTER;
    *clsid = *FClass.clsid;
    return S_OK;
}

HRESULT TComControl::GetUserType(DWORD form, LPOLESTR* userType)
{
    if (!userType) return E_POINTER;
    HRESULT hr = OleRegGetUserType(*FClass.clsid, form, userType);
    if (hr != REGDB_E_CLASSNOTREG) return hr;
    std::u16string name = Wide_FromText(FClass.userType);
    *userType = ComEnumItem::CopyText((LPCOLESTR)name.c_str());
    return *userType ? S_OK : E_OUTOFMEMORY;
}

HRESULT TComControl::Advise(IAdviseSink* sink, DWORD* connection)
{
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!sink) return E_INVALIDARG;
    sink->AddRef();
    *connection = FNextCookie++;
    FOleAdvises.push_back({*connection, sink, {}, 0});
    return S_OK;
}

HRESULT TComControl::Unadvise(DWORD connection)
{
    return Cookies_Drop(FOleAdvises, connection) ? S_OK : OLE_E_NOCONNECTION;
}

HRESULT TComControl::EnumAdvise(IEnumSTATDATA** advises)
{
    std::vector<STATDATA> list;
    for (const TAdvise& a : FOleAdvises) list.push_back({{0, nullptr, 0, -1, 0}, 0, a.sink, a.cookie});
    return ComEnum_Create(IID_IEnumSTATDATA, std::move(list), advises);
}

HRESULT TComControl::GetMiscStatus(DWORD aspect, DWORD* status)
{
    if (!status) return E_POINTER;
    HRESULT hr = OleRegGetMiscStatus(*FClass.clsid, aspect, status);
    if (hr != REGDB_E_CLASSNOTREG) return hr;
    // Not registered (yet): the value registration writes.
    *status = aspect == DVASPECT_CONTENT ? FClass.miscStatus : 0;
    return S_OK;
}

HRESULT TComControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// --- IQuickActivate -------------------------------------------------------------------------

HRESULT TComControl::QuickActivate(QACONTAINER* container, QACONTROL* control)
{
    if (!container || !control) return E_POINTER;
    // An older container's record may stop after its ambient colours.
    if (container->cbSize < offsetof(QACONTAINER, pFont) || control->cbSize < sizeof(QACONTROL)) return E_INVALIDARG;
    ULONG size = control->cbSize;
    memset(control, 0, sizeof *control);
    control->cbSize = size;

    SetClientSite(container->pClientSite);
    // The record's ambient properties stand for the site's.
    FAmbient.userMode = (container->dwAmbientFlags & QACONTAINER_USERMODE) != 0;
    FAmbient.uiDead = (container->dwAmbientFlags & QACONTAINER_UIDEAD) != 0;
    FAmbient.foreColor = container->colorFore;
    FAmbient.backColor = container->colorBack;
    if (container->cbSize >= offsetof(QACONTAINER, lcid) + sizeof container->lcid) FAmbient.localeId = container->lcid;
    if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    if (container->pPropertyNotifySink)
        FPropertyNotify.Advise(container->pPropertyNotifySink, &control->dwPropNotifyCookie);
    if (container->pUnkEventSink) FEvents.Advise(container->pUnkEventSink, &control->dwEventCookie);
    GetMiscStatus(DVASPECT_CONTENT, &control->dwMiscStatus);
    GetViewStatus(&control->dwViewStatus);
    control->dwPointerActivationPolicy = 0;
    return S_OK;
}

// --- Persistence -----------------------------------------------------------------------------

HRESULT TComControl::GetClassID(CLSID* clsid)
{
    if (!clsid) return E_POINTER;
    *clsid = *FClass.clsid;
    return S_OK;
}

HRESULT TComControl::IsDirty() { return FDirty ? S_OK : S_FALSE; }

// The properties keep the values they have (a new control's are empty).
HRESULT TComControl::InitNew()
{
    FDirty = false;
    return S_OK;
}

HRESULT TComControl::WriteStream(IStream* stream, ULONGLONG* size)
{
    TWriter w{stream};
    SIZEL extent = ExtentHimetric();
    w.U32(kComControlStreamFormat);
    w.U32((uint32_t)extent.cx);
    w.U32((uint32_t)extent.cy);
    for (size_t i = 0; i < FClass.propertyCount && SUCCEEDED(w.hr); i++) {
        VARIANT v;
        HRESULT hr = GetPersistedProperty(FClass.propertyIds[i], &v);
        if (FAILED(hr)) return hr;
        WriteValue(w, v);
        VariantClear(&v);
    }
    if (size) *size = w.count;
    return w.hr;
}

// The extent is read but the form keeps its own size, as a load from a
// property bag does; each property is put in order (one saved empty, never
// given a value, is left as it is, as a bag's missing name is), and a put
// that fails ends the load with its error.
HRESULT TComControl::ReadStream(IStream* stream)
{
    TReader r{stream};
    uint32_t format = 0, cx = 0, cy = 0;
    if (!r.U32(&format)) return r.hr;
    if (format != kComControlStreamFormat) return STG_E_INVALIDHEADER;
    if (!r.U32(&cx) || !r.U32(&cy)) return r.hr;
    for (size_t i = 0; i < FClass.propertyCount; i++) {
        VARIANT v;
        if (!ReadValue(r, &v)) return r.hr;
        if (v.vt == VT_EMPTY) continue; // never given a value: as if the stream lacked it
        HRESULT hr = PutPersistedProperty(FClass.propertyIds[i], &v);
        VariantClear(&v);
        if (FAILED(hr)) return hr;
    }
    FDirty = false;
    return S_OK;
}

HRESULT TComControl::Load(IStream* stream)
{
    if (!stream) return E_POINTER;
    return ReadStream(stream);
}

HRESULT TComControl::Save(IStream* stream, BOOL clearDirty)
{
    if (!stream) return E_POINTER;
    HRESULT hr = WriteStream(stream, nullptr);
    if (SUCCEEDED(hr) && clearDirty) {
        FDirty = false;
        SendOnSave();
    }
    return hr;
}

HRESULT TComControl::GetSizeMax(ULARGE_INTEGER* size)
{
    if (!size) return E_POINTER;
    ULONGLONG n = 0;
    HRESULT hr = WriteStream(nullptr, &n);
    size->QuadPart = n;
    return hr;
}

HRESULT TComControl::InitNew(IStorage* storage)
{
    if (!storage) return E_POINTER;
    storage->AddRef();
    ReleaseAndClear(FStorage);
    FStorage = storage;
    return InitNew();
}

HRESULT TComControl::Load(IStorage* storage)
{
    if (!storage) return E_POINTER;
    std::u16string name = Wide_FromText(kComControlStorageStream);
    IStream* stream = nullptr;
    HRESULT hr =
        storage->OpenStream((const OLECHAR*)name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &stream);
    if (FAILED(hr)) return hr;
    hr = ReadStream(stream);
    stream->Release();
    if (FAILED(hr)) return hr;
    storage->AddRef();
    ReleaseAndClear(FStorage);
    FStorage = storage;
    return S_OK;
}

HRESULT TComControl::Save(IStorage* storage, BOOL sameAsLoad)
{
    if (!storage) return E_POINTER;
    std::u16string name = Wide_FromText(kComControlStorageStream);
    IStream* stream = nullptr;
    HRESULT hr = storage->CreateStream((const OLECHAR*)name.c_str(), STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0,
                                       0, &stream);
    if (FAILED(hr)) return hr;
    hr = WriteStream(stream, nullptr);
    stream->Release();
    if (SUCCEEDED(hr)) {
        storage->SetClass(*FClass.clsid);
        if (sameAsLoad) FDirty = false;
    }
    return hr;
}

HRESULT TComControl::SaveCompleted(IStorage* storage)
{
    if (storage) {
        storage->AddRef();
        ReleaseAndClear(FStorage);
        FStorage = storage;
    }
    SendOnSave();
    return S_OK;
}

HRESULT TComControl::HandsOffStorage()
{
    ReleaseAndClear(FStorage);
    return S_OK;
}

HRESULT TComControl::Load(IPropertyBag* bag, IErrorLog* log)
{
    if (!bag) return E_POINTER;
    // The extent first; the form keeps its own size.
    for (const char* name : {"_cx", "_cy"}) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_UI4;
        std::u16string w = Wide_FromText(name);
        if (SUCCEEDED(bag->Read((LPCOLESTR)w.c_str(), &v, log))) VariantClear(&v);
    }
    for (size_t i = 0; i < FClass.propertyCount; i++) {
        VARIANT v;
        HRESULT hr = GetPersistedProperty(FClass.propertyIds[i], &v); // the bag is asked for this type
        if (FAILED(hr)) return hr;
        std::u16string w = Wide_FromText(FClass.propertyNames[i]);
        hr = bag->Read((LPCOLESTR)w.c_str(), &v, log);
        if (FAILED(hr)) {
            VariantClear(&v);
            if (hr == E_INVALIDARG) continue; // not in the bag
            return hr;
        }
        hr = PutPersistedProperty(FClass.propertyIds[i], &v);
        VariantClear(&v);
        if (FAILED(hr)) return hr;
    }
    FDirty = false;
    return S_OK;
}

HRESULT TComControl::Save(IPropertyBag* bag, BOOL clearDirty, BOOL)
{
    if (!bag) return E_POINTER;
    // The extent in HIMETRIC (hundredths of a millimetre) first.
    SIZEL extent = ExtentHimetric();
    const struct {
        const char* name;
        LONG value;
    } sizes[] = {{"_cx", extent.cx}, {"_cy", extent.cy}};
    for (const auto& e : sizes) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_UI4;
        v.ulVal = (ULONG)e.value;
        std::u16string w = Wide_FromText(e.name);
        HRESULT hr = bag->Write((LPCOLESTR)w.c_str(), &v);
        if (FAILED(hr)) return hr;
    }
    for (size_t i = 0; i < FClass.propertyCount; i++) {
        VARIANT v;
        HRESULT hr = GetPersistedProperty(FClass.propertyIds[i], &v);
        if (FAILED(hr)) return hr;
        std::u16string w = Wide_FromText(FClass.propertyNames[i]);
        hr = bag->Write((LPCOLESTR)w.c_str(), &v);
        VariantClear(&v);
        if (FAILED(hr)) return hr;
    }
    if (clearDirty) FDirty = false;
    return S_OK;
}

// --- ISpecifyPropertyPages, ISimpleFrameSite ----------------------------------------------

HRESULT TComControl::GetPages(CAUUID* pages)
{
    if (!pages) return E_POINTER;
    pages->cElems = 0;
    pages->pElems = nullptr;
    return S_OK;
}

HRESULT TComControl::PreMessageFilter(HWND, UINT, WPARAM, LPARAM, LRESULT* result, DWORD* cookie)
{
    if (result) *result = 0;
    if (cookie) *cookie = 0;
    return S_OK;
}

HRESULT TComControl::PostMessageFilter(HWND, UINT, WPARAM, LPARAM, LRESULT* result, DWORD)
{
    if (result) *result = 0;
    return S_OK;
}

// --- IDataObject ------------------------------------------------------------------------------

HRESULT TComControl::CheckFormat(const FORMATETC* format)
{
    if (!format) return E_INVALIDARG;
    if (format->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (format->lindex != -1) return DV_E_LINDEX;
    for (const FORMATETC& f : kFormats)
        if (f.cfFormat == format->cfFormat) return (format->tymed & f.tymed) ? S_OK : DV_E_TYMED;
    return DV_E_FORMATETC;
}

// The form's picture in the medium the format names: a packed DIB
// (bottom-up rows, as the clipboard keeps them) or a DIB section.
HRESULT TComControl::RenderData(const FORMATETC& format, STGMEDIUM* medium)
{
    if (!FForm) return E_UNEXPECTED;
    const int w = FForm->Width(), h = FForm->Height();
    if (w <= 0 || h <= 0) return OLE_E_BLANK;
    const RECTL all = {0, 0, w, h};
    const int rowBytes = w * 4;
    if (format.cfFormat == CF_DIB) {
        const size_t size = sizeof(BITMAPINFOHEADER) + (size_t)rowBytes * h;
        HGLOBAL block = medium->tymed == TYMED_HGLOBAL && medium->hGlobal ? medium->hGlobal : nullptr;
        const bool here = block != nullptr;
        if (here && GlobalSize(block) < size) return STG_E_MEDIUMFULL;
        if (!block) block = GlobalAlloc(GMEM_MOVEABLE, size);
        if (!block) return E_OUTOFMEMORY;
        auto* bytes = static_cast<BYTE*>(GlobalLock(block));
        BITMAPINFOHEADER head = {sizeof head, w, h, 1, 32, BI_RGB, (DWORD)(rowBytes * h), 3780, 3780, 0, 0};
        memcpy(bytes, &head, sizeof head);
        BYTE* top = bytes + sizeof head + (size_t)rowBytes * (h - 1);
        HRESULT hr = PaintInto(top, w, h, -rowBytes, all);
        GlobalUnlock(block);
        if (FAILED(hr)) {
            if (!here) GlobalFree(block);
            return hr;
        }
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = block;
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return E_OUTOFMEMORY;
    HRESULT hr = PaintInto(bits, w, h, rowBytes, all);
    if (FAILED(hr)) {
        DeleteObject(bitmap);
        return hr;
    }
    medium->tymed = TYMED_GDI;
    medium->hBitmap = bitmap;
    medium->pUnkForRelease = nullptr;
    return S_OK;
}

HRESULT TComControl::GetData(FORMATETC* format, STGMEDIUM* medium)
{
    if (!medium) return E_INVALIDARG;
    memset(medium, 0, sizeof *medium);
    HRESULT hr = CheckFormat(format);
    if (FAILED(hr)) return hr;
    return RenderData(*format, medium);
}

HRESULT TComControl::GetDataHere(FORMATETC* format, STGMEDIUM* medium)
{
    if (!medium) return E_INVALIDARG;
    HRESULT hr = CheckFormat(format);
    if (FAILED(hr)) return hr;
    // Only a block of the caller's can be written into.
    if (format->cfFormat != CF_DIB || medium->tymed != TYMED_HGLOBAL || !medium->hGlobal) return DV_E_TYMED;
    return RenderData(*format, medium);
}

HRESULT TComControl::QueryGetData(FORMATETC* format) { return CheckFormat(format); }

HRESULT TComControl::GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out)
{
    if (!in || !out) return E_INVALIDARG;
    *out = *in;
    out->ptd = nullptr; // the picture does not depend on the device
    return DATA_S_SAMEFORMATETC;
}

HRESULT TComControl::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return E_NOTIMPL; }

HRESULT TComControl::EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats)
{
    if (!formats) return E_POINTER;
    *formats = nullptr;
    if (direction == DATADIR_SET) return E_NOTIMPL;
    if (direction != DATADIR_GET) return E_INVALIDARG;
    return ComEnum_Create(IID_IEnumFORMATETC, std::vector<FORMATETC>(std::begin(kFormats), std::end(kFormats)),
                          formats);
}

HRESULT TComControl::DAdvise(FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection)
{
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!sink) return E_INVALIDARG;
    HRESULT hr = CheckFormat(format);
    if (FAILED(hr)) return hr;
    sink->AddRef();
    FORMATETC kept = *format;
    kept.ptd = nullptr;
    *connection = FNextCookie++;
    FDataAdvises.push_back({*connection, sink, kept, advf});
    WatchRepaints();
    if (advf & ADVF_PRIMEFIRST) {
        STGMEDIUM medium = {};
        if ((advf & ADVF_NODATA) || FAILED(RenderData(kept, &medium))) medium.tymed = TYMED_NULL;
        DWORD cookie = *connection;
        sink->OnDataChange(&kept, &medium);
        ReleaseStgMedium(&medium);
        if (advf & ADVF_ONLYONCE) DUnadvise(cookie);
    }
    return S_OK;
}

HRESULT TComControl::DUnadvise(DWORD connection)
{
    return Cookies_Drop(FDataAdvises, connection) ? S_OK : OLE_E_NOCONNECTION;
}

HRESULT TComControl::EnumDAdvise(IEnumSTATDATA** advises)
{
    std::vector<STATDATA> list;
    for (const TAdvise& a : FDataAdvises) list.push_back({a.format, a.advf, a.sink, a.cookie});
    return ComEnum_Create(IID_IEnumSTATDATA, std::move(list), advises);
}

// --- Class information, connection points, error information ------------------------------

HRESULT TComControl::GetClassInfo(ITypeInfo** info) { return ClassTypeInfo(info); }

HRESULT TComControl::GetGUID(DWORD kind, GUID* guid)
{
    if (!guid) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
    *guid = *FClass.events;
    return S_OK;
}

HRESULT TComControl::EnumConnectionPoints(IEnumConnectionPoints** points)
{
    IConnectionPoint* list[] = {&FEvents, &FPropertyNotify};
    return ConnectionPoints_Enumerate(list, 2, points);
}

HRESULT TComControl::FindConnectionPoint(REFIID riid, IConnectionPoint** point)
{
    IConnectionPoint* list[] = {&FEvents, &FPropertyNotify};
    return ConnectionPoints_Find(list, 2, riid, point);
}

HRESULT TComControl::InterfaceSupportsErrorInfo(REFIID riid) { return riid == *FClass.dual ? S_OK : S_FALSE; }
