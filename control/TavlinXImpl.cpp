// TTavlinXImpl: the control's COM object. It builds the form on creation,
// answers the COM map, dispatches ITavlinX from the DISPID table and
// forwards the form's eight events to the sinks of ITavlinXEvents; the
// standard control support (platform/com/ComControl.h) does embedding,
// drawing, persistence of the connection properties and data transfer on
// top of the form.
#include "control/TavlinXImpl.h"
#include "control/Properties.h"
#include "control/TavlinImpl1.h"
#include "media/Backup.h"
#include "platform/com/ComControl.h"
#include "platform/com/Registry.h"
#include "platform/com/TypeLib.h"
#include "platform/vcl/FormLoader.h"
#include "platform/win/Library.h"
#include <cstdio>
#include <exception>
#include <string>

// The type library's text (control/TavlinProj1.tlb), compiled in.
VCL_DECLARE_EMBEDDED_TEXT(gTavlinProj1TypeLib);

namespace {

const TDispatchName kNames[] = {
    {"Visible", DISPID_TX_Visible},
    {"AutoScroll", DISPID_TX_AutoScroll},
    {"AutoSize", DISPID_TX_AutoSize},
    {"AxBorderStyle", DISPID_TX_AxBorderStyle},
    {"BorderWidth", DISPID_TX_BorderWidth},
    {"Caption", DISPID_TX_Caption},
    {"Color", DISPID_TX_Color},
    {"Font", DISPID_TX_Font},
    {"KeyPreview", DISPID_TX_KeyPreview},
    {"PixelsPerInch", DISPID_TX_PixelsPerInch},
    {"PrintScale", DISPID_TX_PrintScale},
    {"Scaled", DISPID_TX_Scaled},
    {"Active", DISPID_TX_Active},
    {"DropTarget", DISPID_TX_DropTarget},
    {"HelpFile", DISPID_TX_HelpFile},
    {"DoubleBuffered", DISPID_TX_DoubleBuffered},
    {"AlignDisabled", DISPID_TX_AlignDisabled},
    {"VisibleDockClientCount", DISPID_TX_VisibleDockClientCount},
    {"Enabled", DISPID_TX_Enabled},
    {"DVRIP", DISPID_TX_DVRIP},
    {"HTTP_PORT", DISPID_TX_HTTP_PORT},
    {"DVR_UK", DISPID_TX_DVR_UK},
    {"HTTP_PAGE", DISPID_TX_HTTP_PAGE},
};

VARIANT_BOOL Vb(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

// The control's type library, read once from the text compiled in.
ITypeLib* TypeLibrary()
{
    static ITypeLib* library = [] {
        ITypeLib* l = nullptr;
        TypeLib_FromText(gTavlinProj1TypeLib, gTavlinProj1TypeLib_size, &l);
        return l;
    }();
    return library;
}

HRESULT TypeInfoOf(REFGUID guid, ITypeInfo** info)
{
    if (!info) return E_POINTER;
    *info = nullptr;
    ITypeLib* library = TypeLibrary();
    return library ? library->GetTypeInfoOfGuid(guid, info) : TYPE_E_CANTLOADLIBRARY;
}

// The form's font as the stock font object: Name, Size (points, as
// currency), Bold, Italic, Underline, Strikethrough, Weight and Charset.
// It holds the form's font itself, so a put shows at once.
enum {
    DISPID_FONT_NAME = 0,
    DISPID_FONT_SIZE = 2,
    DISPID_FONT_BOLD = 3,
    DISPID_FONT_ITALIC = 4,
    DISPID_FONT_UNDERLINE = 5,
    DISPID_FONT_STRIKE = 6,
    DISPID_FONT_WEIGHT = 7,
    DISPID_FONT_CHARSET = 8,
};

const TDispatchName kFontNames[] = {
    {"Name", DISPID_FONT_NAME},     {"Size", DISPID_FONT_SIZE},           {"Bold", DISPID_FONT_BOLD},
    {"Italic", DISPID_FONT_ITALIC}, {"Underline", DISPID_FONT_UNDERLINE}, {"Strikethrough", DISPID_FONT_STRIKE},
    {"Weight", DISPID_FONT_WEIGHT}, {"Charset", DISPID_FONT_CHARSET},
};

class TFontDisp final : public IDispatch {
public:
    explicit TFontDisp(TFont* font) : FFont(font) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!(riid == IID_IUnknown || riid == IID_IDispatch)) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return (ULONG)++FRefs; }
    ULONG Release() override
    {
        ULONG n = (ULONG)--FRefs;
        if (n == 0) delete this;
        return n;
    }
    HRESULT GetTypeInfoCount(UINT* n) override
    {
        if (!n) return E_POINTER;
        *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        return Disp_GetIDsOfNames(kFontNames, sizeof kFontNames / sizeof kFontNames[0], names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                   UINT* argErr) override
    {
        if (!params) return E_INVALIDARG;
        if (flags & DISPATCH_PROPERTYPUT) {
            if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
            HRESULT hr = Put(id, params->rgvarg[0]);
            if (hr == DISP_E_TYPEMISMATCH && argErr) *argErr = 0;
            return hr;
        }
        if (!(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD))) return DISP_E_MEMBERNOTFOUND;
        if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
        VARIANT scratch;
        VARIANT* r = result ? result : &scratch;
        VariantInit(r);
        HRESULT hr = Get(id, r);
        if (!result) VariantClear(&scratch);
        return hr;
    }

private:
    ~TFontDisp() = default;
    HRESULT Get(DISPID id, VARIANT* r)
    {
        TFontStyles style = FFont->Style();
        auto flag = [&](unsigned bit) {
            r->vt = VT_BOOL;
            r->boolVal = Vb(style & bit);
            return S_OK;
        };
        switch (id) {
        case DISPID_FONT_NAME:
            r->vt = VT_BSTR;
            r->bstrVal = Bstr_FromText(FFont->Name());
            return S_OK;
        case DISPID_FONT_SIZE:
            r->vt = VT_CY;
            r->cyVal = (LONGLONG)FFont->Size() * 10000;
            return S_OK;
        case DISPID_FONT_BOLD: return flag(fsBold);
        case DISPID_FONT_ITALIC: return flag(fsItalic);
        case DISPID_FONT_UNDERLINE: return flag(fsUnderline);
        case DISPID_FONT_STRIKE: return flag(fsStrikeOut);
        case DISPID_FONT_WEIGHT:
            r->vt = VT_I2;
            r->iVal = (style & fsBold) ? 700 : 400;
            return S_OK;
        case DISPID_FONT_CHARSET:
            r->vt = VT_I2;
            r->iVal = (SHORT)FFont->Charset();
            return S_OK;
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }
    HRESULT Put(DISPID id, const VARIANT& value)
    {
        VARIANT v;
        VariantInit(&v);
        VARTYPE want = id == DISPID_FONT_NAME                                                            ? VT_BSTR
                       : id == DISPID_FONT_SIZE || id == DISPID_FONT_WEIGHT || id == DISPID_FONT_CHARSET ? VT_I4
                                                                                                         : VT_BOOL;
        if (id < DISPID_FONT_NAME || id > DISPID_FONT_CHARSET || id == 1) return DISP_E_MEMBERNOTFOUND;
        if (id == DISPID_FONT_SIZE && value.vt == VT_CY) {
            v.vt = VT_I4;
            v.lVal = (LONG)((value.cyVal + 5000) / 10000);
        } else if (FAILED(VariantChangeType(&v, const_cast<VARIANT*>(&value), 0, want))) {
            return DISP_E_TYPEMISMATCH;
        }
        TFontStyles style = FFont->Style();
        auto setFlag = [&](unsigned bit, bool on) { FFont->SetStyle(on ? (style | bit) : (style & ~bit)); };
        HRESULT hr = S_OK;
        switch (id) {
        case DISPID_FONT_NAME: FFont->SetName(Bstr_ToText(v.bstrVal)); break;
        case DISPID_FONT_SIZE:
            if (v.lVal <= 0 || v.lVal > 1638) hr = E_INVALIDARG;
            else FFont->SetSize((int)v.lVal);
            break;
        case DISPID_FONT_BOLD: setFlag(fsBold, v.boolVal != 0); break;
        case DISPID_FONT_ITALIC: setFlag(fsItalic, v.boolVal != 0); break;
        case DISPID_FONT_UNDERLINE: setFlag(fsUnderline, v.boolVal != 0); break;
        case DISPID_FONT_STRIKE: setFlag(fsStrikeOut, v.boolVal != 0); break;
        case DISPID_FONT_WEIGHT: setFlag(fsBold, v.lVal >= 600); break;
        case DISPID_FONT_CHARSET:
            if (v.lVal < 0 || v.lVal > 255) hr = E_INVALIDARG;
            else FFont->SetCharset((int)v.lVal);
            break;
        }
        VariantClear(&v);
        return hr;
    }

    TFont* FFont;
    long FRefs = 1;
};

// Reads one property of a font object through its dispatch interface.
bool FontProperty(IDispatch* font, const char* name, VARIANT* value)
{
    std::u16string w = Wide_FromText(name);
    LPOLESTR names[] = {(LPOLESTR)w.c_str()};
    DISPID id = 0;
    if (FAILED(font->GetIDsOfNames(IID_NULL, names, 1, 0, &id))) return false;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VariantInit(value);
    return SUCCEEDED(font->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, value, nullptr, nullptr));
}

// What the class declares to containers: the one verb, the misc status
// the registration writes, and the persisted properties after the extent.
const TComVerb kVerbs[] = {{0, "Properties", 0, OLEVERBATTRIB_ONCONTAINERMENU}};
const char* const kPersisted[] = {"DVRIP", "HTTP_PORT", "DVR_UK", "HTTP_PAGE"};
const DISPID kPersistedIds[] = {DISPID_TX_DVRIP, DISPID_TX_HTTP_PORT, DISPID_TX_DVR_UK, DISPID_TX_HTTP_PAGE};
constexpr DWORD kMiscStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
                              OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE; // 0x20191
static_assert(kMiscStatus == 0x20191, "the misc status the class registers");
const TComControlClass kClass = {&CLSID_TavlinX,
                                 &IID_ITavlinX,
                                 &DIID_ITavlinXEvents,
                                 TAVLIN_PROGID,
                                 "TavlinX Control",
                                 kMiscStatus,
                                 kVerbs,
                                 1,
                                 kPersisted,
                                 kPersistedIds,
                                 4};

class TTavlinXImpl : public TComControl, public ITavlinX {
public:
    TTavlinXImpl() : TComControl(kClass) {}

    HRESULT Init()
    {
        FForm = TavlinX_CreateForm();
        if (!FForm) return E_FAIL;
        AttachForm(FForm);
        InitializeControl();
        return S_OK;
    }

    // --- IUnknown: the COM map
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        HRESULT hr = Com_QueryMap(this, TavlinX_ComMap(), kTavlinXComMapSize, riid, ppv);
        // IPersist: the base of the three persistence interfaces.
        if (hr == E_NOINTERFACE && riid == IID_IPersist) {
            *ppv = static_cast<IPersistPropertyBag*>(this);
            AddRef();
            hr = S_OK;
        }
        return hr;
    }
    ULONG AddRef() override { return TComControl::AddRef(); }
    ULONG Release() override { return TComControl::Release(); }

    // --- IDispatch
    HRESULT GetTypeInfoCount(UINT* pctinfo) override
    {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** ppTInfo) override
    {
        if (!ppTInfo) return E_POINTER;
        *ppTInfo = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        return TypeInfoOf(IID_ITavlinX, ppTInfo);
    }

    // --- IProvideClassInfo2
    HRESULT GetClassInfo(ITypeInfo** info) override { return TypeInfoOf(CLSID_TavlinX, info); }
    HRESULT GetGUID(DWORD kind, GUID* guid) override
    {
        if (!guid) return E_POINTER;
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
        *guid = DIID_ITavlinXEvents;
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        return Disp_GetIDsOfNames(kNames, sizeof kNames / sizeof kNames[0], names, count, ids);
    }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                   UINT* argErr) override;

    // --- ITavlinX: the form's stock properties
    HRESULT get_Visible(VARIANT_BOOL* v) override
    {
        return GetBool(v, [&] { return FForm->Visible(); });
    }
    HRESULT set_Visible(VARIANT_BOOL v) override
    {
        return Changed(DISPID_TX_Visible, Do([&] { FForm->SetVisible(v != 0); }));
    }
    HRESULT get_AutoScroll(VARIANT_BOOL* v) override
    {
        return GetBool(v, [&] { return FForm->AutoScroll(); });
    }
    HRESULT set_AutoScroll(VARIANT_BOOL v) override
    {
        return Changed(DISPID_TX_AutoScroll, Do([&] { FForm->SetAutoScroll(v != 0); }));
    }
    HRESULT get_AutoSize(VARIANT_BOOL* v) override
    {
        return GetBool(v, [&] { return FForm->AutoSize(); });
    }
    HRESULT set_AutoSize(VARIANT_BOOL v) override
    {
        return Changed(DISPID_TX_AutoSize, Do([&] { FForm->SetAutoSize(v != 0); }));
    }
    HRESULT get_AxBorderStyle(TxActiveFormBorderStyle* v) override
    {
        return GetLong(v, [&] { return (LONG)FForm->AxBorderStyle(); });
    }
    HRESULT set_AxBorderStyle(TxActiveFormBorderStyle v) override
    {
        if (v < afbNone || v > afbRaised) return E_INVALIDARG;
        return Changed(DISPID_TX_AxBorderStyle, Do([&] { FForm->SetAxBorderStyle((TActiveFormBorderStyle)v); }));
    }
    HRESULT get_BorderWidth(LONG* v) override
    {
        return GetLong(v, [&] { return (LONG)FForm->BorderWidth(); });
    }
    HRESULT set_BorderWidth(LONG v) override
    {
        return Changed(DISPID_TX_BorderWidth, Do([&] { FForm->SetBorderWidth((int)v); }));
    }
    HRESULT get_Caption(BSTR* v) override
    {
        return GetText(v, [&] { return FForm->Caption(); });
    }
    HRESULT set_Caption(BSTR v) override
    {
        return Changed(DISPID_TX_Caption, Do([&] { FForm->SetCaption(Bstr_ToText(v)); }));
    }
    HRESULT get_Color(OLE_COLOR* v) override
    {
        if (!v) return E_POINTER;
        return Do([&] { *v = (OLE_COLOR)FForm->Color(); });
    }
    HRESULT set_Color(OLE_COLOR v) override
    {
        return Changed(DISPID_TX_Color, Do([&] { FForm->SetColor((TColor)v); }));
    }
    // The stock font: an automation object on the form's own font.
    HRESULT get_Font(IDispatch** v) override
    {
        if (!v) return E_POINTER;
        *v = nullptr;
        return Do([&] { *v = new TFontDisp(FForm->Font()); });
    }
    // Takes the attributes of any font object into the form's font.
    HRESULT set_Font(IDispatch* font) override
    {
        if (!font) return E_POINTER;
        TFont taken;
        taken.Assign(*FForm->Font());
        VARIANT v;
        if (FontProperty(font, "Name", &v)) {
            if (v.vt == VT_BSTR) taken.SetName(Bstr_ToText(v.bstrVal));
            VariantClear(&v);
        }
        if (FontProperty(font, "Size", &v)) {
            LONG points = v.vt == VT_CY ? (LONG)((v.cyVal + 5000) / 10000) : 0;
            if (v.vt != VT_CY) {
                VARIANT n;
                VariantInit(&n);
                if (SUCCEEDED(VariantChangeType(&n, &v, 0, VT_I4))) points = n.lVal;
            }
            if (points > 0 && points <= 1638) taken.SetSize((int)points);
            VariantClear(&v);
        }
        const struct {
            const char* name;
            unsigned bit;
        } flags[] = {
            {"Bold", fsBold}, {"Italic", fsItalic}, {"Underline", fsUnderline}, {"Strikethrough", fsStrikeOut}};
        for (const auto& f : flags) {
            if (!FontProperty(font, f.name, &v)) continue;
            VARIANT b;
            VariantInit(&b);
            if (SUCCEEDED(VariantChangeType(&b, &v, 0, VT_BOOL)))
                taken.SetStyle(b.boolVal ? (taken.Style() | f.bit) : (taken.Style() & ~f.bit));
            VariantClear(&v);
        }
        if (FontProperty(font, "Charset", &v)) {
            VARIANT n;
            VariantInit(&n);
            if (SUCCEEDED(VariantChangeType(&n, &v, 0, VT_I4)) && n.lVal >= 0 && n.lVal <= 255)
                taken.SetCharset((int)n.lVal);
            VariantClear(&v);
        }
        return Changed(DISPID_TX_Font, Do([&] { FForm->Font()->Assign(taken); }));
    }
    HRESULT get_KeyPreview(VARIANT_BOOL* v) override
    {
        return GetBool(v, [&] { return FForm->KeyPreview(); });
    }
    HRESULT set_KeyPreview(VARIANT_BOOL v) override
    {
        return Changed(DISPID_TX_KeyPreview, Do([&] { FForm->SetKeyPreview(v != 0); }));
    }
    HRESULT get_PixelsPerInch(LONG* v) override
    {
        return GetLong(v, [&] { return (LONG)FForm->PixelsPerInch(); });
    }
    HRESULT set_PixelsPerInch(LONG v) override
    {
        return Changed(DISPID_TX_PixelsPerInch, Do([&] { FForm->SetPixelsPerInch((int)v); }));
    }
    HRESULT get_PrintScale(TxPrintScale* v) override
    {
        return GetLong(v, [&] { return (LONG)FForm->PrintScale(); });
    }
    HRESULT set_PrintScale(TxPrintScale v) override
    {
        if (v < poNone || v > poPrintToFit) return E_INVALIDARG;
        return Changed(DISPID_TX_PrintScale, Do([&] { FForm->SetPrintScale((TPrintScale)v); }));
    }
    HRESULT get_Scaled(VARIANT_BOOL* v) override
    {
        return GetBool(v, [&] { return FForm->Scaled(); });
    }
    HRESULT set_Scaled(VARIANT_BOOL v) override
    {
        return Changed(DISPID_TX_Scaled, Do([&] { FForm->SetScaled(v != 0); }));
    }
    HRESULT get_Active(VARIANT_BOOL* v) override
    {
        return GetBool(v, [&] { return FForm->Active(); });
    }
    HRESULT get_DropTarget(VARIANT_BOOL* v) override
    {
        return GetBool(v, [&] { return FForm->DropTarget(); });
    }
    HRESULT set_DropTarget(VARIANT_BOOL v) override
    {
        return Changed(DISPID_TX_DropTarget, Do([&] { FForm->SetDropTarget(v != 0); }));
    }
    HRESULT get_HelpFile(BSTR* v) override
    {
        return GetText(v, [&] { return FForm->HelpFile(); });
    }
    HRESULT set_HelpFile(BSTR v) override
    {
        return Changed(DISPID_TX_HelpFile, Do([&] { FForm->SetHelpFile(Bstr_ToText(v)); }));
    }
    HRESULT get_DoubleBuffered(VARIANT_BOOL* v) override
    {
        return GetBool(v, [&] { return FForm->DoubleBuffered(); });
    }
    HRESULT set_DoubleBuffered(VARIANT_BOOL v) override
    {
        return Changed(DISPID_TX_DoubleBuffered, Do([&] { FForm->SetDoubleBuffered(v != 0); }));
    }
    HRESULT get_AlignDisabled(VARIANT_BOOL* v) override
    {
        return GetBool(v, [&] { return FForm->AlignDisabled(); });
    }
    HRESULT get_VisibleDockClientCount(LONG* v) override
    {
        return GetLong(v, [&] { return (LONG)FForm->VisibleDockClientCount(); });
    }
    HRESULT get_Enabled(VARIANT_BOOL* v) override
    {
        return GetBool(v, [&] { return FForm->Enabled(); });
    }
    HRESULT set_Enabled(VARIANT_BOOL v) override
    {
        return Changed(DISPID_TX_Enabled, Do([&] { FForm->SetEnabled(v != 0); }));
    }

    // --- ITavlinX: the connection properties
    HRESULT get_DVRIP(VARIANT* v) override { return Property_Get(PROP_DVRIP, v); }
    HRESULT set_DVRIP(VARIANT v) override { return Changed(DISPID_TX_DVRIP, Property_Put(PROP_DVRIP, v)); }
    HRESULT get_HTTP_PORT(VARIANT* v) override { return Property_Get(PROP_HTTP_PORT, v); }
    HRESULT set_HTTP_PORT(VARIANT v) override { return Changed(DISPID_TX_HTTP_PORT, Property_Put(PROP_HTTP_PORT, v)); }
    HRESULT get_DVR_UK(VARIANT* v) override { return Property_Get(PROP_DVR_UK, v); }
    HRESULT set_DVR_UK(VARIANT v) override { return Changed(DISPID_TX_DVR_UK, Property_Put(PROP_DVR_UK, v)); }
    HRESULT get_HTTP_PAGE(VARIANT* v) override { return Property_Get(PROP_HTTP_PAGE, v); }
    HRESULT set_HTTP_PAGE(VARIANT v) override { return Changed(DISPID_TX_HTTP_PAGE, Property_Put(PROP_HTTP_PAGE, v)); }

private:
    ~TTavlinXImpl() override
    {
        // A backup still running ends as a stop ends it, so its part plays.
        Backup_Close();
        // The form and the viewer's state live on with the process; the
        // form only stops forwarding events to this object.
        if (FForm) TavlinX_DetachEvents(FForm);
    }

    // --- TComControl
    HRESULT GetPersistedProperty(DISPID id, VARIANT* value) override { return Get(id, value); }
    HRESULT PutPersistedProperty(DISPID id, VARIANT* value) override { return Put(id, value); }
    HRESULT ClassTypeInfo(ITypeInfo** info) override { return TypeInfoOf(CLSID_TavlinX, info); }

    // A failure inside an accessor comes back as DISP_E_EXCEPTION with the
    // message as error information.
    template <class F> HRESULT Do(F&& f)
    {
        try {
            f();
            return S_OK;
        } catch (const std::exception& e) {
            return Com_ReportError(e.what(), IID_ITavlinX, TAVLIN_PROGID);
        } catch (...) {
            return Com_ReportError("Unknown exception", IID_ITavlinX, TAVLIN_PROGID);
        }
    }
    template <class F> HRESULT GetBool(VARIANT_BOOL* v, F&& f)
    {
        if (!v) return E_POINTER;
        return Do([&] { *v = Vb(f()); });
    }
    template <class F> HRESULT GetLong(LONG* v, F&& f)
    {
        if (!v) return E_POINTER;
        return Do([&] { *v = f(); });
    }
    template <class F> HRESULT GetText(BSTR* v, F&& f)
    {
        if (!v) return E_POINTER;
        return Do([&] { *v = Bstr_FromText(f()); });
    }

    void InitializeControl();
    HRESULT Get(DISPID id, VARIANT* result);
    HRESULT Put(DISPID id, VARIANT* value);

    // A successful put: the property notification sinks hear of it.
    HRESULT Changed(DISPID id, HRESULT hr)
    {
        if (SUCCEEDED(hr)) PropertyChanged(id);
        return hr;
    }

    TTavlinX* FForm = nullptr;
};

// Points the form's eight events at forwarders to the event sinks.
void TTavlinXImpl::InitializeControl()
{
    TavlinX_AttachEvents(FForm,
                         [this](int dispid, VARIANTARG* args, unsigned count) { FireEvent(dispid, args, count); });
}

HRESULT TTavlinXImpl::Get(DISPID id, VARIANT* r)
{
    VariantInit(r);
    HRESULT hr;
    auto boolean = [&](HRESULT (TTavlinXImpl::*get)(VARIANT_BOOL*)) {
        r->vt = VT_BOOL;
        return (this->*get)(&r->boolVal);
    };
    auto integer = [&](HRESULT (TTavlinXImpl::*get)(LONG*)) {
        r->vt = VT_I4;
        return (this->*get)(&r->lVal);
    };
    auto text = [&](HRESULT (TTavlinXImpl::*get)(BSTR*)) {
        r->vt = VT_BSTR;
        r->bstrVal = nullptr;
        return (this->*get)(&r->bstrVal);
    };
    switch (id) {
    case DISPID_TX_Visible: hr = boolean(&TTavlinXImpl::get_Visible); break;
    case DISPID_TX_AutoScroll: hr = boolean(&TTavlinXImpl::get_AutoScroll); break;
    case DISPID_TX_AutoSize: hr = boolean(&TTavlinXImpl::get_AutoSize); break;
    case DISPID_TX_AxBorderStyle: hr = integer(&TTavlinXImpl::get_AxBorderStyle); break;
    case DISPID_TX_BorderWidth: hr = integer(&TTavlinXImpl::get_BorderWidth); break;
    case DISPID_TX_Caption: hr = text(&TTavlinXImpl::get_Caption); break;
    case DISPID_TX_Color:
        r->vt = VT_UI4;
        hr = get_Color((OLE_COLOR*)&r->ulVal);
        break;
    case DISPID_TX_Font:
        r->vt = VT_DISPATCH;
        hr = get_Font(&r->pdispVal);
        break;
    case DISPID_TX_KeyPreview: hr = boolean(&TTavlinXImpl::get_KeyPreview); break;
    case DISPID_TX_PixelsPerInch: hr = integer(&TTavlinXImpl::get_PixelsPerInch); break;
    case DISPID_TX_PrintScale: hr = integer(&TTavlinXImpl::get_PrintScale); break;
    case DISPID_TX_Scaled: hr = boolean(&TTavlinXImpl::get_Scaled); break;
    case DISPID_TX_Active: hr = boolean(&TTavlinXImpl::get_Active); break;
    case DISPID_TX_DropTarget: hr = boolean(&TTavlinXImpl::get_DropTarget); break;
    case DISPID_TX_HelpFile: hr = text(&TTavlinXImpl::get_HelpFile); break;
    case DISPID_TX_DoubleBuffered: hr = boolean(&TTavlinXImpl::get_DoubleBuffered); break;
    case DISPID_TX_AlignDisabled: hr = boolean(&TTavlinXImpl::get_AlignDisabled); break;
    case DISPID_TX_VisibleDockClientCount: hr = integer(&TTavlinXImpl::get_VisibleDockClientCount); break;
    case DISPID_TX_Enabled: hr = boolean(&TTavlinXImpl::get_Enabled); break;
    case DISPID_TX_DVRIP: return get_DVRIP(r);
    case DISPID_TX_HTTP_PORT: return get_HTTP_PORT(r);
    case DISPID_TX_DVR_UK: return get_DVR_UK(r);
    case DISPID_TX_HTTP_PAGE: return get_HTTP_PAGE(r);
    default: return DISP_E_MEMBERNOTFOUND;
    }
    if (FAILED(hr)) {
        r->vt = VT_EMPTY;
    }
    return hr;
}

HRESULT TTavlinXImpl::Put(DISPID id, VARIANT* value)
{
    // The connection properties take any VARIANT; the others are converted
    // to their own type first.
    switch (id) {
    case DISPID_TX_DVRIP: return set_DVRIP(*value);
    case DISPID_TX_HTTP_PORT: return set_HTTP_PORT(*value);
    case DISPID_TX_DVR_UK: return set_DVR_UK(*value);
    case DISPID_TX_HTTP_PAGE: return set_HTTP_PAGE(*value);
    case DISPID_TX_Active:
    case DISPID_TX_AlignDisabled:
    case DISPID_TX_VisibleDockClientCount: return DISP_E_MEMBERNOTFOUND; // read-only
    case DISPID_TX_Font: {
        IDispatch* font = nullptr;
        if (value->vt == VT_DISPATCH) font = value->pdispVal;
        else if (value->vt == (VT_BYREF | VT_DISPATCH) && value->ppdispVal) font = *value->ppdispVal;
        else return DISP_E_TYPEMISMATCH;
        return set_Font(font);
    }
    default: break;
    }
    VARTYPE want;
    switch (id) {
    case DISPID_TX_Caption:
    case DISPID_TX_HelpFile: want = VT_BSTR; break;
    case DISPID_TX_Color: want = VT_UI4; break;
    case DISPID_TX_AxBorderStyle:
    case DISPID_TX_BorderWidth:
    case DISPID_TX_PixelsPerInch:
    case DISPID_TX_PrintScale: want = VT_I4; break;
    case DISPID_TX_Visible:
    case DISPID_TX_AutoScroll:
    case DISPID_TX_AutoSize:
    case DISPID_TX_KeyPreview:
    case DISPID_TX_Scaled:
    case DISPID_TX_DropTarget:
    case DISPID_TX_DoubleBuffered:
    case DISPID_TX_Enabled: want = VT_BOOL; break;
    default: return DISP_E_MEMBERNOTFOUND;
    }
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = VariantChangeType(&v, value, 0, want);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    switch (id) {
    case DISPID_TX_Visible: hr = set_Visible(v.boolVal); break;
    case DISPID_TX_AutoScroll: hr = set_AutoScroll(v.boolVal); break;
    case DISPID_TX_AutoSize: hr = set_AutoSize(v.boolVal); break;
    case DISPID_TX_AxBorderStyle: hr = set_AxBorderStyle(v.lVal); break;
    case DISPID_TX_BorderWidth: hr = set_BorderWidth(v.lVal); break;
    case DISPID_TX_Caption: hr = set_Caption(v.bstrVal); break;
    case DISPID_TX_Color: hr = set_Color(v.ulVal); break;
    case DISPID_TX_KeyPreview: hr = set_KeyPreview(v.boolVal); break;
    case DISPID_TX_PixelsPerInch: hr = set_PixelsPerInch(v.lVal); break;
    case DISPID_TX_PrintScale: hr = set_PrintScale(v.lVal); break;
    case DISPID_TX_Scaled: hr = set_Scaled(v.boolVal); break;
    case DISPID_TX_DropTarget: hr = set_DropTarget(v.boolVal); break;
    case DISPID_TX_HelpFile: hr = set_HelpFile(v.bstrVal); break;
    case DISPID_TX_DoubleBuffered: hr = set_DoubleBuffered(v.boolVal); break;
    case DISPID_TX_Enabled: hr = set_Enabled(v.boolVal); break;
    default: hr = DISP_E_MEMBERNOTFOUND; break;
    }
    VariantClear(&v);
    return hr;
}

HRESULT TTavlinXImpl::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep,
                             UINT* argErr)
{
    if (!params) return E_INVALIDARG;
    HRESULT hr;
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        if (params->cArgs != 1 || params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
            params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
            return DISP_E_BADPARAMCOUNT;
        hr = Put(id, &params->rgvarg[0]);
        if (hr == DISP_E_TYPEMISMATCH && argErr) *argErr = 0;
    } else if (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) {
        if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
        VARIANT scratch;
        hr = Get(id, result ? result : &scratch);
        if (!result) VariantClear(&scratch);
    } else {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (hr == DISP_E_EXCEPTION) Com_FillExcepInfo(excep, hr);
    return hr;
}

template <class I> IUnknown* As(void* object) { return static_cast<I*>(static_cast<TTavlinXImpl*>(object)); }

// The object's interfaces in the order the class declares them.
const TComMapEntry kComMap[kTavlinXComMapSize] = {
    {&IID_IViewObjectEx, "IViewObjectEx", As<IViewObjectEx>},
    {&IID_IViewObject2, "IViewObject2", As<IViewObject2>},
    {&IID_IViewObject, "IViewObject", As<IViewObject>},
    {&IID_IOleInPlaceObject, "IOleInPlaceObject", As<IOleInPlaceObject>},
    {&IID_IOleWindow, "IOleWindow", As<IOleInPlaceObject>},
    {&IID_IOleInPlaceActiveObject, "IOleInPlaceActiveObject", As<IOleInPlaceActiveObject>},
    {&IID_IOleControl, "IOleControl", As<IOleControl>},
    {&IID_IOleObject, "IOleObject", As<IOleObject>},
    {&IID_IQuickActivate, "IQuickActivate", As<IQuickActivate>},
    {&IID_IPersistStorage, "IPersistStorage", As<IPersistStorage>},
    {&IID_IPersistStreamInit, "IPersistStreamInit", As<IPersistStreamInit>},
    {&IID_ISpecifyPropertyPages, "ISpecifyPropertyPages", As<ISpecifyPropertyPages>},
    {&IID_IDataObject, "IDataObject", As<IDataObject>},
    {&IID_ISimpleFrameSite, "ISimpleFrameSite", As<ISimpleFrameSite>},
    {&IID_IProvideClassInfo, "IProvideClassInfo", As<IProvideClassInfo2>},
    {&IID_IProvideClassInfo2, "IProvideClassInfo2", As<IProvideClassInfo2>},
    {&IID_IConnectionPointContainer, "IConnectionPointContainer", As<IConnectionPointContainer>},
    {&IID_ISupportErrorInfo, "ISupportErrorInfo", As<ISupportErrorInfo>},
    {&IID_ITavlinX, "ITavlinX", As<ITavlinX>},
    {&IID_IDispatch, "IDispatch", As<ITavlinX>},
    {&IID_IPersistPropertyBag, "IPersistPropertyBag", As<IPersistPropertyBag>},
};

} // namespace

const TComMapEntry* TavlinX_ComMap() { return kComMap; }

bool TavlinX_FormRunning() { return gViewerForm != nullptr; }

HRESULT TavlinX_Create(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    TTavlinXImpl* object = new TTavlinXImpl;
    HRESULT hr = object->Init();
    if (SUCCEEDED(hr)) hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

IClassFactory* TavlinX_ClassFactory()
{
    static TComClassFactory factory(TavlinX_Create);
    return &factory;
}

// --- Registration ----------------------------------------------------------

static std::string LibraryPath() { return Win_ModuleFileName((const void*)&TavlinX_ClassFactory); }

HRESULT TavlinX_UpdateRegistry(bool doRegister)
{
    const std::string clsid = Guid_ToText(CLSID_TavlinX);
    const std::string key = "CLSID\\" + clsid;
    try {
        if (!doRegister) {
            RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str());
            RegDeleteTree(HKEY_CLASSES_ROOT, TAVLIN_PROGID);
            return S_OK;
        }
        const std::string path = LibraryPath();
        char verb[64], bitmap[600];
        snprintf(verb, sizeof verb, "%s,%d,%d", kVerbs[0].name, (int)kVerbs[0].flags, (int)kVerbs[0].attribs);
        snprintf(bitmap, sizeof bitmap, "%s,%d", path.c_str(), 1);
        struct {
            std::string key, name, value;
        } entries[] = {
            {key, "", kClass.userType},
            {key + "\\InprocServer32", "", path},
            {key + "\\InprocServer32", "ThreadingModel", "Apartment"},
            {key + "\\ProgID", "", TAVLIN_PROGID},
            {key + "\\Version", "", "1.0"},
            {key + "\\TypeLib", "", Guid_ToText(LIBID_TavlinProj1)},
            {key + "\\MiscStatus", "", "0"},
            {key + "\\MiscStatus\\1", "", std::to_string(kMiscStatus)},
            {key + "\\ToolboxBitmap32", "", bitmap},
            {key + "\\Control", "", ""},
            {key + "\\Verb", "", ""},
            {key + "\\Verb\\" + std::to_string(kVerbs[0].verb), "", verb},
            {key + "\\Implemented Categories\\" + Guid_ToText(CATID_SafeForScripting), "", ""},
            {key + "\\Implemented Categories\\" + Guid_ToText(CATID_SafeForInitializing), "", ""},
            {TAVLIN_PROGID, "", kClass.userType},
            {std::string(TAVLIN_PROGID) + "\\CLSID", "", clsid},
        };
        for (auto& e : entries) {
            LONG r = Registry_SetText(HKEY_CLASSES_ROOT, e.key.c_str(), e.name.c_str(), e.value.c_str());
            if (r != ERROR_SUCCESS) throw std::runtime_error("Cannot write the registry key " + e.key);
        }
        return S_OK;
    } catch (const std::exception& e) {
        return Com_ReportError(e.what(), IID_IUnknown, TAVLIN_PROGID);
    }
}

HRESULT TavlinX_RegisterTypeLib()
{
    const std::string key = "TypeLib\\" + Guid_ToText(LIBID_TavlinProj1) + "\\1.0";
    const std::string path = LibraryPath();
    // What it registers must be the library that can be loaded back.
    std::u16string wide = Wide_FromText(path);
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLib((LPCOLESTR)wide.c_str(), &library))) return SELFREG_E_TYPELIB;
    library->Release();
    std::string dir = path.substr(0, path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
    const std::string lib = Guid_ToText(LIBID_TavlinProj1);
    // The stubs that marshal a dual interface and a dispinterface.
    const char* const dualStub = "{00020424-0000-0000-C000-000000000046}";
    const char* const dispatchStub = "{00020420-0000-0000-C000-000000000046}";
    const struct {
        std::string key, name, value;
    } entries[] = {
        {key, "", "TavlinProj1 Library"},
        {key + "\\0\\win32", "", path},
        {key + "\\FLAGS", "", "0"},
        {key + "\\HELPDIR", "", dir},
        {"Interface\\" + Guid_ToText(IID_ITavlinX), "", "ITavlinX"},
        {"Interface\\" + Guid_ToText(IID_ITavlinX) + "\\ProxyStubClsid32", "", dualStub},
        {"Interface\\" + Guid_ToText(IID_ITavlinX) + "\\TypeLib", "", lib},
        {"Interface\\" + Guid_ToText(IID_ITavlinX) + "\\TypeLib", "Version", "1.0"},
        {"Interface\\" + Guid_ToText(DIID_ITavlinXEvents), "", "ITavlinXEvents"},
        {"Interface\\" + Guid_ToText(DIID_ITavlinXEvents) + "\\ProxyStubClsid32", "", dispatchStub},
        {"Interface\\" + Guid_ToText(DIID_ITavlinXEvents) + "\\TypeLib", "", lib},
        {"Interface\\" + Guid_ToText(DIID_ITavlinXEvents) + "\\TypeLib", "Version", "1.0"},
    };
    for (const auto& e : entries)
        if (Registry_SetText(HKEY_CLASSES_ROOT, e.key.c_str(), e.name.c_str(), e.value.c_str()) != ERROR_SUCCESS)
            return SELFREG_E_TYPELIB;
    return S_OK;
}
