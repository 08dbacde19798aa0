// The standard support of an ActiveX control built around a form: what a
// container expects of a control besides its own dispatch interface.
// TComControl answers embedding (IOleObject: client site and its ambient
// properties, verbs, in-place activation, extent, advises, misc status),
// in-place activation (IOleInPlaceObject, IOleInPlaceActiveObject),
// drawing (IViewObject, 2 and Ex: the form's current picture into a
// container's device context), quick activation, persistence (property
// bags, streams, storages), data transfer (the form's picture as a
// bitmap), IOleControl, ISpecifyPropertyPages, ISimpleFrameSite,
// IProvideClassInfo2, ISupportErrorInfo and its connection points (the
// class's events and IPropertyNotifySink). The class itself supplies the
// form, its dispatch interface, its COM map (QueryInterface) and the
// reading and writing of its persisted properties.
#pragma once
#include "platform/com/ComSupport.h"
#include <string>
#include <vector>

class TCustomForm;
class TTimer;

// One entry of a class's verb table (as its registration lists it).
struct TComVerb {
    LONG verb;
    const char* name;
    DWORD flags;
    DWORD attribs; // OLEVERBATTRIB_*
};

// What a control class declares about itself.
struct TComControlClass {
    const CLSID* clsid;
    const IID* dual;   // its dispatch interface: the one that sets error information
    const IID* events; // its default source, a dispinterface
    const char* progId;
    const char* userType; // the class's description
    DWORD miscStatus;     // OLEMISC_* of the content aspect, as registered
    const TComVerb* verbs;
    size_t verbCount;
    // The persisted properties after the extent ("_cx", "_cy"), in order.
    const char* const* propertyNames;
    const DISPID* propertyIds;
    size_t propertyCount;
};

// The stream IPersistStreamInit writes (and IPersistStorage in the
// storage's "Contents" stream), little-endian:
//   u32 format (1)
//   u32 _cx, u32 _cy: the extent in HIMETRIC
//   each persisted property in order: u16 VARTYPE, then its value:
//     VT_EMPTY (never given a value: a load leaves it alone), VT_NULL: nothing
//     VT_BSTR: u32 byte count of the UTF-16 text, then the text (no NUL)
//     VT_I1, VT_UI1: 1 byte; VT_I2, VT_UI2, VT_BOOL: 2; VT_I4, VT_UI4,
//     VT_INT, VT_UINT, VT_R4, VT_ERROR: 4; VT_I8, VT_UI8, VT_R8, VT_CY,
//     VT_DATE: 8
//   A value of any other type is written as its text (VT_BSTR).
constexpr DWORD kComControlStreamFormat = 1;
// The name of that stream inside a storage.
constexpr char kComControlStorageStream[] = "Contents";

class TComControl : public IViewObjectEx,
                    public IOleInPlaceObject,
                    public IOleInPlaceActiveObject,
                    public IOleControl,
                    public IOleObject,
                    public IQuickActivate,
                    public IPersistStorage,
                    public IPersistStreamInit,
                    public ISpecifyPropertyPages,
                    public IDataObject,
                    public ISimpleFrameSite,
                    public IProvideClassInfo2,
                    public IConnectionPointContainer,
                    public ISupportErrorInfo,
                    public IPersistPropertyBag {
public:
    // Counts as a lock of the module while it lives.
    explicit TComControl(const TComControlClass& cls);
    TComControl(const TComControl&) = delete;
    TComControl& operator=(const TComControl&) = delete;

    // IUnknown: AddRef and Release here; QueryInterface is the class's.
    ULONG AddRef() override;
    ULONG Release() override;

    // --- IViewObject, IViewObject2, IViewObjectEx
    HRESULT Draw(DWORD aspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd, HDC hdcTargetDev, HDC hdcDraw,
                 LPCRECTL bounds, LPCRECTL wBounds, BOOL (*pfnContinue)(ULONG_PTR), ULONG_PTR dwContinue) override;
    HRESULT GetColorSet(DWORD aspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd, HDC hicTargetDev,
                        LOGPALETTE** colorSet) override;
    HRESULT Freeze(DWORD aspect, LONG lindex, void* pvAspect, DWORD* freeze) override;
    HRESULT Unfreeze(DWORD freeze) override;
    HRESULT SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* sink) override;
    HRESULT GetAdvise(DWORD* aspects, DWORD* advf, IAdviseSink** sink) override;
    HRESULT GetExtent(DWORD aspect, LONG lindex, DVTARGETDEVICE* ptd, LPSIZEL size) override;
    HRESULT GetRect(DWORD aspect, LPRECTL rect) override;
    HRESULT GetViewStatus(DWORD* status) override;
    HRESULT QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT at, LONG closeHint, DWORD* result) override;
    HRESULT QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT rect, LONG closeHint, DWORD* result) override;
    HRESULT GetNaturalExtent(DWORD aspect, LONG lindex, DVTARGETDEVICE* ptd, HDC hicTargetDev, DVEXTENTINFO* info,
                             LPSIZEL size) override;

    // --- IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
    HRESULT GetWindow(HWND* hwnd) override;
    HRESULT ContextSensitiveHelp(BOOL enterMode) override;
    HRESULT InPlaceDeactivate() override;
    HRESULT UIDeactivate() override;
    HRESULT SetObjectRects(LPCRECT pos, LPCRECT clip) override;
    HRESULT ReactivateAndUndo() override;
    HRESULT TranslateAccelerator(MSG* msg) override;
    HRESULT OnFrameWindowActivate(BOOL activate) override;
    HRESULT OnDocWindowActivate(BOOL activate) override;
    HRESULT ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frameWindow) override;
    HRESULT EnableModeless(BOOL enable) override;

    // --- IOleControl
    HRESULT GetControlInfo(CONTROLINFO* info) override;
    HRESULT OnMnemonic(MSG* msg) override;
    HRESULT OnAmbientPropertyChange(DISPID dispid) override;
    HRESULT FreezeEvents(BOOL freeze) override;

    // --- IOleObject
    HRESULT SetClientSite(IOleClientSite* site) override;
    HRESULT GetClientSite(IOleClientSite** site) override;
    HRESULT SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObj) override;
    HRESULT Close(DWORD saveOption) override;
    HRESULT SetMoniker(DWORD which, IMoniker* moniker) override;
    HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    HRESULT InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
    HRESULT GetClipboardData(DWORD reserved, IDataObject** data) override;
    HRESULT DoVerb(LONG verb, LPMSG msg, IOleClientSite* activeSite, LONG lindex, HWND parent,
                   LPCRECT posRect) override;
    HRESULT EnumVerbs(IEnumOLEVERB** verbs) override;
    HRESULT Update() override;
    HRESULT IsUpToDate() override;
    HRESULT GetUserClassID(CLSID* clsid) override;
    HRESULT GetUserType(DWORD form, LPOLESTR* userType) override;
    HRESULT SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT Advise(IAdviseSink* sink, DWORD* connection) override;
    HRESULT Unadvise(DWORD connection) override;
    HRESULT EnumAdvise(IEnumSTATDATA** advises) override;
    HRESULT GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT SetColorScheme(LOGPALETTE* palette) override;

    // --- IQuickActivate
    HRESULT QuickActivate(QACONTAINER* container, QACONTROL* control) override;
    HRESULT SetContentExtent(LPSIZEL size) override;
    HRESULT GetContentExtent(LPSIZEL size) override;

    // --- IPersist, IPersistStreamInit, IPersistStorage, IPersistPropertyBag
    HRESULT GetClassID(CLSID* clsid) override;
    HRESULT IsDirty() override;
    HRESULT InitNew() override;
    HRESULT Load(IStream* stream) override;
    HRESULT Save(IStream* stream, BOOL clearDirty) override;
    HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT InitNew(IStorage* storage) override;
    HRESULT Load(IStorage* storage) override;
    HRESULT Save(IStorage* storage, BOOL sameAsLoad) override;
    HRESULT SaveCompleted(IStorage* storage) override;
    HRESULT HandsOffStorage() override;
    HRESULT Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) override;

    // --- ISpecifyPropertyPages: a control of this kind has none.
    HRESULT GetPages(CAUUID* pages) override;

    // --- IDataObject: the picture as CF_DIB in global memory and as
    // CF_BITMAP (a DIB section), of the content aspect.
    HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
    HRESULT QueryGetData(FORMATETC* format) override;
    HRESULT GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) override;
    HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
    HRESULT EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override;
    HRESULT DAdvise(FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection) override;
    HRESULT DUnadvise(DWORD connection) override;
    HRESULT EnumDAdvise(IEnumSTATDATA** advises) override;

    // --- ISimpleFrameSite: messages pass unfiltered.
    HRESULT PreMessageFilter(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result, DWORD* cookie) override;
    HRESULT PostMessageFilter(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result, DWORD cookie) override;

    // --- IProvideClassInfo, IProvideClassInfo2
    HRESULT GetClassInfo(ITypeInfo** info) override;
    HRESULT GetGUID(DWORD kind, GUID* guid) override;

    // --- IConnectionPointContainer: the events, then IPropertyNotifySink.
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

    // --- ISupportErrorInfo
    HRESULT InterfaceSupportsErrorInfo(REFIID riid) override;

    // The ambient properties the control runs with (from the client site's
    // IDispatch, or from the quick activation's record).
    struct TAmbient {
        bool userMode = true; // false: the container is in design mode
        bool uiDead = false;  // the container takes no input for the control now
        LONG localeId = 0;
        OLE_COLOR backColor = 0x80000005, foreColor = 0x80000008; // window and window text
        std::string displayName;
    };
    const TAmbient& Ambient() const { return FAmbient; }
    bool InPlaceActive() const { return FInPlaceActive; }
    bool UIActive() const { return FUIActive; }

protected:
    virtual ~TComControl();

    // The form the control shows; set once, after the class made it.
    void AttachForm(TCustomForm* form);
    TCustomForm* Form() const { return FForm; }

    // The persisted properties through the class's own accessors: Get
    // initialises *value; Put takes it as a property put does.
    virtual HRESULT GetPersistedProperty(DISPID id, VARIANT* value) = 0;
    virtual HRESULT PutPersistedProperty(DISPID id, VARIANT* value) = 0;
    // The coclass's type information.
    virtual HRESULT ClassTypeInfo(ITypeInfo** info) = 0;

    // Fires an event of the default source unless the container froze
    // events.
    HRESULT FireEvent(DISPID dispid, VARIANTARG* args, UINT count);
    // A property changed: the control needs saving, and the property
    // notification sinks are told.
    void PropertyChanged(DISPID dispid);

private:
    void Teardown();
    HRESULT InPlaceActivate(LONG verb, IOleClientSite* site, HWND parent, LPCRECT posRect);
    HRESULT ShowInOwnWindow(IOleClientSite* site);
    void HideOwnWindow();
    HRESULT ShowProperties(IOleClientSite* site);
    void ReadAmbient(DISPID dispid);
    SIZEL ExtentHimetric() const;
    HRESULT WriteStream(IStream* stream, ULONGLONG* size);
    HRESULT ReadStream(IStream* stream);
    HRESULT PaintInto(void* firstRow, int width, int height, int rowStride, const RECTL& bounds);
    HRESULT RenderData(const FORMATETC& format, STGMEDIUM* medium);
    HRESULT CheckFormat(const FORMATETC* format);
    void WatchRepaints();
    void NotifyChanges();
    void SendOnSave();

    const TComControlClass& FClass;
    ULONG FRefs = 1;
    TCustomForm* FForm = nullptr;
    TComConnectionPoint FEvents;
    TComConnectionPoint FPropertyNotify;
    int FFrozen = 0; // FreezeEvents depth: events wait while above 0
    bool FDirty = false;

    IOleClientSite* FClientSite = nullptr;
    IDispatch* FAmbientDispatch = nullptr;
    TAmbient FAmbient;
    IOleInPlaceSite* FInPlaceSite = nullptr;
    IOleInPlaceFrame* FFrame = nullptr;
    IOleInPlaceUIWindow* FUIWindow = nullptr;
    bool FInPlaceActive = false, FUIActive = false, FOwnWindow = false;
    IStorage* FStorage = nullptr; // held between InitNew/Load and HandsOffStorage

    struct TAdvise {
        DWORD cookie;
        IAdviseSink* sink;
        FORMATETC format; // data advises
        DWORD advf;
    };
    std::vector<TAdvise> FOleAdvises, FDataAdvises;
    DWORD FNextCookie = 1;
    IAdviseSink* FViewSink = nullptr;
    DWORD FViewAspects = 0, FViewAdvf = 0;
    TTimer* FChangeTimer = nullptr; // passes repaints on to the view and data sinks
    bool FChanged = false;
};
