// The COM interfaces the control and its host talk through, with their
// published interface identifiers, and the signatures of an in-process
// server's exports. Interfaces that nothing here calls (views, in-place
// activation, quick activation, data objects, ...) are declared with no
// methods beyond IUnknown's so that QueryInterface can answer them.
#pragma once
#include "platform/com/ComTypes.h"
#include "platform/com/OleAuto.h"

#define DEFINE_IID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    inline constexpr IID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

// --- IUnknown and class objects -------------------------------------------

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default; // objects die through Release
};
DEFINE_IID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;
};
DEFINE_IID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// --- Automation -----------------------------------------------------------

// Type information: this layer's ITypeLib and ITypeInfo carry what a type
// library describes (platform/com/TypeLib.h builds them from a library's
// description text); their methods are this layer's selection, in this
// order.
enum TYPEKIND { TKIND_ENUM, TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE, TKIND_DISPATCH, TKIND_COCLASS };
enum INVOKEKIND { INVOKE_FUNC = 1, INVOKE_PROPERTYGET = 2, INVOKE_PROPERTYPUT = 4 };
typedef LONG MEMBERID;
typedef DWORD HREFTYPE;
constexpr MEMBERID MEMBERID_NIL = -1;
constexpr WORD TYPEFLAG_FCANCREATE = 0x2, TYPEFLAG_FCONTROL = 0x20, TYPEFLAG_FDUAL = 0x40,
               TYPEFLAG_FDISPATCHABLE = 0x1000;
constexpr INT IMPLTYPEFLAG_FDEFAULT = 1, IMPLTYPEFLAG_FSOURCE = 2;
constexpr USHORT PARAMFLAG_FIN = 1, PARAMFLAG_FOUT = 2;
struct TYPEATTR {
    GUID guid;
    LCID lcid;
    TYPEKIND typekind;
    WORD cFuncs;      // FUNCDESCs: a property with get and put has two
    WORD cVars;       // enumeration constants
    WORD cImplTypes;  // interfaces of a coclass
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
};
struct FUNCDESC {
    MEMBERID memid;
    INVOKEKIND invkind;
    VARTYPE vtReturn;          // a property's type; VT_EMPTY for a method
    SHORT cParams;
    const VARTYPE* paramTypes; // cParams of each, valid while the type info is held
    const USHORT* paramFlags;  // PARAMFLAG_*
};
struct VARDESC {
    MEMBERID memid;
    LONG value; // the enumeration constant
};
struct TLIBATTR {
    GUID guid;
    LCID lcid;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};
struct ITypeLib;
struct ITypeInfo : IUnknown {
    virtual HRESULT GetTypeAttr(TYPEATTR** ppTypeAttr) = 0;
    virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) = 0;
    virtual HRESULT GetVarDesc(UINT index, VARDESC** ppVarDesc) = 0;
    // The member's name first, then its parameters' names.
    virtual HRESULT GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) = 0;
    virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) = 0;
    virtual HRESULT GetImplTypeFlags(UINT index, INT* pImplTypeFlags) = 0;
    virtual HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) = 0;
    // MEMBERID_NIL documents the type itself. Any out pointer may be null.
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                     BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR* pTypeAttr) = 0;
    virtual void ReleaseFuncDesc(FUNCDESC* pFuncDesc) = 0;
    virtual void ReleaseVarDesc(VARDESC* pVarDesc) = 0;
};
DEFINE_IID(IID_ITypeInfo, 0x00020401, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct ITypeLib : IUnknown {
    virtual UINT GetTypeInfoCount() = 0;
    virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* pTKind) = 0;
    virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) = 0;
    virtual HRESULT GetLibAttr(TLIBATTR** ppTLibAttr) = 0;
    // index -1 documents the library itself. Any out pointer may be null.
    virtual HRESULT GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                     BSTR* pBstrHelpFile) = 0;
    virtual void ReleaseTLibAttr(TLIBATTR* pTLibAttr) = 0;
};
DEFINE_IID(IID_ITypeLib, 0x00020402, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) = 0;
};
DEFINE_IID(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// --- Error information ------------------------------------------------------

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* pGUID) = 0;
    virtual HRESULT GetSource(BSTR* pBstrSource) = 0;
    virtual HRESULT GetDescription(BSTR* pBstrDescription) = 0;
    virtual HRESULT GetHelpFile(BSTR* pBstrHelpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* pdwHelpContext) = 0;
};
DEFINE_IID(IID_IErrorInfo, 0x1CF2B120, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID rguid) = 0;
    virtual HRESULT SetSource(LPCOLESTR szSource) = 0;
    virtual HRESULT SetDescription(LPCOLESTR szDescription) = 0;
    virtual HRESULT SetHelpFile(LPCOLESTR szHelpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD dwHelpContext) = 0;
};
DEFINE_IID(IID_ICreateErrorInfo, 0x22F03340, 0x547D, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);

struct ISupportErrorInfo : IUnknown {
    // S_OK when the interface riid sets error information, else S_FALSE.
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;
};
DEFINE_IID(IID_ISupportErrorInfo, 0xDF0B3D60, 0x548F, 0x101B, 0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19);

// A new, empty error object (reference count 1).
HRESULT CreateErrorInfo(ICreateErrorInfo** ppCreateErrorInfo);
// Makes errinfo (may be null) the calling thread's error object; the
// thread keeps a reference. reserved must be 0.
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* errinfo);
// Hands the calling thread's error object to the caller and clears it:
// S_OK, or S_FALSE with *pperrinfo = null when there is none.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** pperrinfo);

// --- Connection points ------------------------------------------------------

struct IConnectionPointContainer;

struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

struct IEnumConnections : IUnknown {
    virtual HRESULT Next(ULONG cConnections, CONNECTDATA* rgcd, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnections** ppEnum) = 0;
};
DEFINE_IID(IID_IEnumConnections, 0xB196B287, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

struct IConnectionPoint : IUnknown {
    virtual HRESULT GetConnectionInterface(IID* pIID) = 0;
    virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
    virtual HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    virtual HRESULT Unadvise(DWORD dwCookie) = 0;
    virtual HRESULT EnumConnections(IEnumConnections** ppEnum) = 0;
};
DEFINE_IID(IID_IConnectionPoint, 0xB196B286, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

struct IEnumConnectionPoints : IUnknown {
    virtual HRESULT Next(ULONG cConnections, IConnectionPoint** ppCP, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cConnections) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumConnectionPoints** ppEnum) = 0;
};
DEFINE_IID(IID_IEnumConnectionPoints, 0xB196B285, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

struct IConnectionPointContainer : IUnknown {
    virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
    virtual HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;
};
DEFINE_IID(IID_IConnectionPointContainer, 0xB196B284, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

// --- Persistence through property bags --------------------------------------

struct IErrorLog : IUnknown {
    virtual HRESULT AddError(LPCOLESTR pszPropName, EXCEPINFO* pExcepInfo) = 0;
};
DEFINE_IID(IID_IErrorLog, 0x3127CA40, 0x446E, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);

struct IPropertyBag : IUnknown {
    // pVar's vt on entry is the type wanted (VT_EMPTY: as stored); its old
    // contents are freed on success. A name the bag lacks: E_INVALIDARG.
    virtual HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) = 0;
    virtual HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) = 0;
};
DEFINE_IID(IID_IPropertyBag, 0x55272A00, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);

struct IPersist : IUnknown {
    virtual HRESULT GetClassID(CLSID* pClassID) = 0;
};
DEFINE_IID(IID_IPersist, 0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IPersistPropertyBag : IPersist {
    virtual HRESULT InitNew() = 0;
    virtual HRESULT Load(IPropertyBag* pPropBag, IErrorLog* pErrorLog) = 0;
    virtual HRESULT Save(IPropertyBag* pPropBag, BOOL fClearDirty, BOOL fSaveAllProperties) = 0;
};
DEFINE_IID(IID_IPersistPropertyBag, 0x37D84F60, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);

struct IPersistStreamInit : IPersist {};
DEFINE_IID(IID_IPersistStreamInit, 0x7FD52380, 0x4E07, 0x101B, 0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13);

struct IPersistStorage : IPersist {};
DEFINE_IID(IID_IPersistStorage, 0x0000010A, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// --- Windows and embedding --------------------------------------------------

struct IOleWindow : IUnknown {
    virtual HRESULT GetWindow(HWND* phwnd) = 0;
    virtual HRESULT ContextSensitiveHelp(BOOL fEnterMode) = 0;
};
DEFINE_IID(IID_IOleWindow, 0x00000114, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// A rectangle in pixels (left, top, right, bottom) and a window message.
struct RECT {
    LONG left, top, right, bottom;
};
typedef const RECT* LPCRECT;
typedef intptr_t LPARAM;
typedef uintptr_t WPARAM;
typedef intptr_t LRESULT;
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    LONG x, y;
};
struct IOleInPlaceUIWindow;

// Interfaces declared without methods are named in the class's COM map but
// not implemented here: an object answers E_NOINTERFACE for them.

struct IOleInPlaceObject : IOleWindow {
    virtual HRESULT InPlaceDeactivate() = 0;
    virtual HRESULT UIDeactivate() = 0;
    virtual HRESULT SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect) = 0;
    virtual HRESULT ReactivateAndUndo() = 0;
};
DEFINE_IID(IID_IOleInPlaceObject, 0x00000113, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IOleInPlaceActiveObject : IOleWindow {
    virtual HRESULT TranslateAccelerator(MSG* lpmsg) = 0;
    virtual HRESULT OnFrameWindowActivate(BOOL fActivate) = 0;
    virtual HRESULT OnDocWindowActivate(BOOL fActivate) = 0;
    virtual HRESULT ResizeBorder(LPCRECT prcBorder, IOleInPlaceUIWindow* pUIWindow, BOOL fFrameWindow) = 0;
    virtual HRESULT EnableModeless(BOOL fEnable) = 0;
};
DEFINE_IID(IID_IOleInPlaceActiveObject, 0x00000117, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IOleObject : IUnknown {};
DEFINE_IID(IID_IOleObject, 0x00000112, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// What a control tells its container about its keyboard mnemonics.
struct CONTROLINFO {
    ULONG cb;
    void* hAccel;
    USHORT cAccel;
    DWORD dwFlags;
};
struct IOleControl : IUnknown {
    virtual HRESULT GetControlInfo(CONTROLINFO* pCI) = 0;
    virtual HRESULT OnMnemonic(MSG* pMsg) = 0;
    virtual HRESULT OnAmbientPropertyChange(DISPID dispID) = 0;
    virtual HRESULT FreezeEvents(BOOL bFreeze) = 0;
};
DEFINE_IID(IID_IOleControl, 0xB196B288, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

struct IViewObject : IUnknown {};
DEFINE_IID(IID_IViewObject, 0x0000010D, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IViewObject2 : IViewObject {};
DEFINE_IID(IID_IViewObject2, 0x00000127, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IViewObjectEx : IViewObject2 {};
DEFINE_IID(IID_IViewObjectEx, 0x3AF24292, 0x0C96, 0x11CE, 0xA0, 0xCF, 0x00, 0xAA, 0x00, 0x60, 0x0A, 0xB8);

struct IQuickActivate : IUnknown {};
DEFINE_IID(IID_IQuickActivate, 0xCF51ED10, 0x62FE, 0x11CF, 0xBF, 0x86, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0x36);

// A counted array of GUIDs, allocated with CoTaskMemAlloc.
struct CAUUID {
    ULONG cElems;
    GUID* pElems;
};
struct ISpecifyPropertyPages : IUnknown {
    virtual HRESULT GetPages(CAUUID* pPages) = 0;
};
DEFINE_IID(IID_ISpecifyPropertyPages, 0xB196B28B, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

struct IDataObject : IUnknown {};
DEFINE_IID(IID_IDataObject, 0x0000010E, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct ISimpleFrameSite : IUnknown {
    virtual HRESULT PreMessageFilter(HWND hWnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* plResult,
                                     DWORD* pdwCookie) = 0;
    virtual HRESULT PostMessageFilter(HWND hWnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* plResult,
                                      DWORD dwCookie) = 0;
};
DEFINE_IID(IID_ISimpleFrameSite, 0x742B0E01, 0x14E6, 0x101B, 0x91, 0x4E, 0x00, 0xAA, 0x00, 0x30, 0x0C, 0xAB);

struct IProvideClassInfo : IUnknown {
    virtual HRESULT GetClassInfo(ITypeInfo** ppTI) = 0;
};
DEFINE_IID(IID_IProvideClassInfo, 0xB196B283, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;
struct IProvideClassInfo2 : IProvideClassInfo {
    virtual HRESULT GetGUID(DWORD dwGuidKind, GUID* pGUID) = 0;
};
DEFINE_IID(IID_IProvideClassInfo2, 0xA6BC3AC0, 0xDBAA, 0x11CE, 0x9D, 0xE3, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);

// Component categories a control declares itself safe in.
DEFINE_IID(CATID_SafeForScripting, 0x7DD95801, 0x9882, 0x11CF, 0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4);
DEFINE_IID(CATID_SafeForInitializing, 0x7DD95802, 0x9882, 0x11CF, 0x9F, 0xA9, 0x00, 0xAA, 0x00, 0x6C, 0x42, 0xC4);

// --- The exports of an in-process server --------------------------------------
// Looked up by these names with GetProcAddress.

typedef HRESULT (*TDllGetClassObject)(REFCLSID rclsid, REFIID riid, void** ppv);
typedef HRESULT (*TDllCanUnloadNow)();
typedef HRESULT (*TDllRegisterServer)();
typedef HRESULT (*TDllUnregisterServer)();
