// The COM interfaces a control and its container talk through, with their
// published interface identifiers, each with its methods in their order:
// automation, errors, connection points, persistence (property bags,
// streams, storages), data transfer, embedding and in-place activation,
// drawing and quick activation; and the signatures of an in-process
// server's exports. The structures keep the layout their users expect of
// them; sizes are those of this build.
#pragma once
#include "platform/com/ComTypes.h"
#include "platform/com/OleAuto.h"

#define DEFINE_IID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                                                    \
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
    WORD cFuncs;     // FUNCDESCs: a property with get and put has two
    WORD cVars;      // enumeration constants
    WORD cImplTypes; // interfaces of a coclass
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
};
struct FUNCDESC {
    MEMBERID memid;
    INVOKEKIND invkind;
    VARTYPE vtReturn; // a property's type; VT_EMPTY for a method
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

// --- Streams and storages -----------------------------------------------------

struct LARGE_INTEGER {
    LONGLONG QuadPart;
};
struct ULARGE_INTEGER {
    ULONGLONG QuadPart;
};
// 100-nanosecond intervals since 1601-01-01 (UTC).
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// What Stat tells of a stream or storage. pwcsName is task memory
// (CoTaskMemFree), null with STATFLAG_NONAME.
struct STATSTG {
    LPOLESTR pwcsName;
    DWORD type; // STGTY_*
    ULARGE_INTEGER cbSize;
    FILETIME mtime, ctime, atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};
constexpr DWORD STGTY_STORAGE = 1, STGTY_STREAM = 2;
constexpr DWORD STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1;
constexpr DWORD STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2;
// Access modes of CreateStream, OpenStream, CreateStorage, OpenStorage.
constexpr DWORD STGM_READ = 0x0, STGM_WRITE = 0x1, STGM_READWRITE = 0x2, STGM_SHARE_EXCLUSIVE = 0x10,
                STGM_CREATE = 0x1000, STGM_DIRECT = 0x0, STGM_FAILIFTHERE = 0x0;
constexpr DWORD STGC_DEFAULT = 0;
// Names the caller leaves out of CopyTo.
typedef LPOLESTR* SNB;

struct ISequentialStream : IUnknown {
    // Fewer bytes than asked for at the end: S_OK (a stream in memory) or
    // S_FALSE, with *pcbRead saying how many.
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
};
DEFINE_IID(IID_ISequentialStream, 0x0C733A30, 0x2A1C, 0x11CE, 0xAD, 0xE5, 0x00, 0xAA, 0x00, 0x44, 0x77, 0x3D);

struct IStream : ISequentialStream {
    virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER libNewSize) = 0;
    virtual HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) = 0;
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
    virtual HRESULT Clone(IStream** ppstm) = 0;
};
DEFINE_IID(IID_IStream, 0x0000000C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IEnumSTATSTG : IUnknown {
    virtual HRESULT Next(ULONG celt, STATSTG* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumSTATSTG** ppenum) = 0;
};
DEFINE_IID(IID_IEnumSTATSTG, 0x0000000D, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IStorage : IUnknown {
    virtual HRESULT CreateStream(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                                 IStream** ppstm) = 0;
    virtual HRESULT OpenStream(const OLECHAR* pwcsName, void* reserved1, DWORD grfMode, DWORD reserved2,
                               IStream** ppstm) = 0;
    virtual HRESULT CreateStorage(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                                  IStorage** ppstg) = 0;
    virtual HRESULT OpenStorage(const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude,
                                DWORD reserved, IStorage** ppstg) = 0;
    virtual HRESULT CopyTo(DWORD ciidExclude, const IID* rgiidExclude, SNB snbExclude, IStorage* pstgDest) = 0;
    virtual HRESULT MoveElementTo(const OLECHAR* pwcsName, IStorage* pstgDest, const OLECHAR* pwcsNewName,
                                  DWORD grfFlags) = 0;
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** ppenum) = 0;
    virtual HRESULT DestroyElement(const OLECHAR* pwcsName) = 0;
    virtual HRESULT RenameElement(const OLECHAR* pwcsOldName, const OLECHAR* pwcsNewName) = 0;
    virtual HRESULT SetElementTimes(const OLECHAR* pwcsName, const FILETIME* pctime, const FILETIME* patime,
                                    const FILETIME* pmtime) = 0;
    virtual HRESULT SetClass(REFCLSID clsid) = 0;
    virtual HRESULT SetStateBits(DWORD grfStateBits, DWORD grfMask) = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
};
DEFINE_IID(IID_IStorage, 0x0000000B, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// A stream over a global memory block (null: a new one), which grows as it
// is written; with fDeleteOnRelease the block goes with the stream.
HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, IStream** ppstm);
// The block under a stream made by CreateStreamOnHGlobal; E_INVALIDARG for
// any other stream.
HRESULT GetHGlobalFromStream(IStream* pstm, HGLOBAL* phglobal);
// A storage held in memory: named streams and storages below it, as deep
// as the caller makes them, gone with its last reference.
HRESULT Storage_CreateInMemory(IStorage** ppstg);

struct IPersistStreamInit : IPersist {
    // S_OK when changed since the last save, S_FALSE when not.
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(IStream* pStm) = 0;
    virtual HRESULT Save(IStream* pStm, BOOL fClearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* pCbSize) = 0;
    virtual HRESULT InitNew() = 0;
};
DEFINE_IID(IID_IPersistStreamInit, 0x7FD52380, 0x4E07, 0x101B, 0xAE, 0x2D, 0x08, 0x00, 0x2B, 0x2E, 0xC7, 0x13);

struct IPersistStorage : IPersist {
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT InitNew(IStorage* pStg) = 0;
    virtual HRESULT Load(IStorage* pStg) = 0;
    virtual HRESULT Save(IStorage* pStgSave, BOOL fSameAsLoad) = 0;
    virtual HRESULT SaveCompleted(IStorage* pStgNew) = 0;
    virtual HRESULT HandsOffStorage() = 0;
};
DEFINE_IID(IID_IPersistStorage, 0x0000010A, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// --- Data transfer ------------------------------------------------------------

typedef WORD CLIPFORMAT;
constexpr CLIPFORMAT CF_BITMAP = 2, CF_DIB = 8;

// The device a picture is rendered for; null means the screen.
struct DVTARGETDEVICE {
    DWORD tdSize;
    WORD tdDriverNameOffset;
    WORD tdDeviceNameOffset;
    WORD tdPortNameOffset;
    WORD tdExtDevmodeOffset;
    BYTE tdData[1];
};

// Aspects of an object's look.
constexpr DWORD DVASPECT_CONTENT = 1, DVASPECT_THUMBNAIL = 2, DVASPECT_ICON = 4, DVASPECT_DOCPRINT = 8,
                DVASPECT_OPAQUE = 16, DVASPECT_TRANSPARENT = 32;
// Media data travels in.
constexpr DWORD TYMED_NULL = 0, TYMED_HGLOBAL = 1, TYMED_FILE = 2, TYMED_ISTREAM = 4, TYMED_ISTORAGE = 8,
                TYMED_GDI = 16, TYMED_MFPICT = 32, TYMED_ENHMF = 64;

struct FORMATETC {
    CLIPFORMAT cfFormat;
    DVTARGETDEVICE* ptd;
    DWORD dwAspect;
    LONG lindex; // -1: all of it
    DWORD tymed;
};

struct IStorage;
struct STGMEDIUM {
    DWORD tymed;
    union {
        HBITMAP hBitmap;
        HGLOBAL hGlobal;
        LPOLESTR lpszFileName;
        IStream* pstm;
        IStorage* pstg;
    };
    IUnknown* pUnkForRelease; // null: the receiver frees the medium itself
};
// Frees what the medium holds the way its tymed says (or releases
// pUnkForRelease instead) and empties it.
void ReleaseStgMedium(STGMEDIUM* pmedium);

// Flags of a data or view advise.
constexpr DWORD ADVF_NODATA = 1, ADVF_PRIMEFIRST = 2, ADVF_ONLYONCE = 4, ADVF_DATAONSTOP = 64;
constexpr DWORD DATADIR_GET = 1, DATADIR_SET = 2;

struct IMoniker; // names of linked objects: not used here

// Told about changes; its methods have no result and return at once.
struct IAdviseSink : IUnknown {
    virtual void OnDataChange(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) = 0;
    virtual void OnViewChange(DWORD dwAspect, LONG lindex) = 0;
    virtual void OnRename(IMoniker* pmk) = 0;
    virtual void OnSave() = 0;
    virtual void OnClose() = 0;
};
DEFINE_IID(IID_IAdviseSink, 0x0000010F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// One data advise: what the sink wants and how.
struct STATDATA {
    FORMATETC formatetc;
    DWORD advf;
    IAdviseSink* pAdvSink;
    DWORD dwConnection;
};

struct IEnumFORMATETC : IUnknown {
    virtual HRESULT Next(ULONG celt, FORMATETC* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFORMATETC** ppenum) = 0;
};
DEFINE_IID(IID_IEnumFORMATETC, 0x00000103, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// Next hands out a reference on each sink.
struct IEnumSTATDATA : IUnknown {
    virtual HRESULT Next(ULONG celt, STATDATA* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumSTATDATA** ppenum) = 0;
};
DEFINE_IID(IID_IEnumSTATDATA, 0x00000105, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IDataObject : IUnknown {
    // The medium is the caller's (ReleaseStgMedium).
    virtual HRESULT GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) = 0;
    virtual HRESULT GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) = 0;
    virtual HRESULT QueryGetData(FORMATETC* pformatetc) = 0;
    virtual HRESULT GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) = 0;
    virtual HRESULT SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) = 0;
    virtual HRESULT EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) = 0;
    virtual HRESULT DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink, DWORD* pdwConnection) = 0;
    virtual HRESULT DUnadvise(DWORD dwConnection) = 0;
    virtual HRESULT EnumDAdvise(IEnumSTATDATA** ppenumAdvise) = 0;
};
DEFINE_IID(IID_IDataObject, 0x0000010E, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// --- Windows and embedding --------------------------------------------------

struct IOleWindow : IUnknown {
    virtual HRESULT GetWindow(HWND* phwnd) = 0;
    virtual HRESULT ContextSensitiveHelp(BOOL fEnterMode) = 0;
};
DEFINE_IID(IID_IOleWindow, 0x00000114, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// A window message.
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
typedef MSG* LPMSG;

typedef DWORD OLE_COLOR;
struct LOGPALETTE;
struct IOleContainer; // the document around the sites: not used here
struct IOleInPlaceActiveObject;
struct IOleInPlaceObject;

struct IOleClientSite : IUnknown {
    virtual HRESULT SaveObject() = 0;
    virtual HRESULT GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) = 0;
    virtual HRESULT GetContainer(IOleContainer** ppContainer) = 0;
    // Asks the container to make the object visible (scroll it into view).
    virtual HRESULT ShowObject() = 0;
    // The object opened (TRUE) or closed (FALSE) a window of its own.
    virtual HRESULT OnShowWindow(BOOL fShow) = 0;
    virtual HRESULT RequestNewObjectLayout() = 0;
};
DEFINE_IID(IID_IOleClientSite, 0x00000118, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// The verbs an object offers its container.
struct OLEVERB {
    LONG lVerb;
    LPOLESTR lpszVerbName; // task memory the receiver frees
    DWORD fuFlags;
    DWORD grfAttribs; // OLEVERBATTRIB_*
};
constexpr DWORD OLEVERBATTRIB_NEVERDIRTIES = 1, OLEVERBATTRIB_ONCONTAINERMENU = 2;
constexpr LONG OLEIVERB_PRIMARY = 0, OLEIVERB_SHOW = -1, OLEIVERB_OPEN = -2, OLEIVERB_HIDE = -3,
               OLEIVERB_UIACTIVATE = -4, OLEIVERB_INPLACEACTIVATE = -5, OLEIVERB_DISCARDUNDOSTATE = -6,
               OLEIVERB_PROPERTIES = -7;

struct IEnumOLEVERB : IUnknown {
    virtual HRESULT Next(ULONG celt, OLEVERB* rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumOLEVERB** ppenum) = 0;
};
DEFINE_IID(IID_IEnumOLEVERB, 0x00000104, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

constexpr DWORD OLECLOSE_SAVEIFDIRTY = 0, OLECLOSE_NOSAVE = 1, OLECLOSE_PROMPTSAVE = 2;
constexpr DWORD USERCLASSTYPE_FULL = 1, USERCLASSTYPE_SHORT = 2, USERCLASSTYPE_APPNAME = 3;
constexpr DWORD OLEGETMONIKER_ONLYIFTHERE = 1, OLEWHICHMK_CONTAINER = 1, OLEWHICHMK_OBJREL = 2, OLEWHICHMK_OBJFULL = 3;
// What an object is like, per aspect (the registry's MiscStatus).
constexpr DWORD OLEMISC_RECOMPOSEONRESIZE = 0x1, OLEMISC_ONLYICONIC = 0x2, OLEMISC_INSERTNOTREPLACE = 0x4,
                OLEMISC_STATIC = 0x8, OLEMISC_CANTLINKINSIDE = 0x10, OLEMISC_CANLINKBYOLE1 = 0x20,
                OLEMISC_ISLINKOBJECT = 0x40, OLEMISC_INSIDEOUT = 0x80, OLEMISC_ACTIVATEWHENVISIBLE = 0x100,
                OLEMISC_RENDERINGISDEVICEINDEPENDENT = 0x200, OLEMISC_INVISIBLEATRUNTIME = 0x400,
                OLEMISC_ALWAYSRUN = 0x800, OLEMISC_ACTSLIKEBUTTON = 0x1000, OLEMISC_ACTSLIKELABEL = 0x2000,
                OLEMISC_NOUIACTIVATE = 0x4000, OLEMISC_ALIGNABLE = 0x8000, OLEMISC_SIMPLEFRAME = 0x10000,
                OLEMISC_SETCLIENTSITEFIRST = 0x20000;

struct IOleObject : IUnknown {
    virtual HRESULT SetClientSite(IOleClientSite* pClientSite) = 0;
    virtual HRESULT GetClientSite(IOleClientSite** ppClientSite) = 0;
    virtual HRESULT SetHostNames(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) = 0;
    virtual HRESULT Close(DWORD dwSaveOption) = 0;
    virtual HRESULT SetMoniker(DWORD dwWhichMoniker, IMoniker* pmk) = 0;
    virtual HRESULT GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) = 0;
    virtual HRESULT InitFromData(IDataObject* pDataObject, BOOL fCreation, DWORD dwReserved) = 0;
    virtual HRESULT GetClipboardData(DWORD dwReserved, IDataObject** ppDataObject) = 0;
    virtual HRESULT DoVerb(LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex, HWND hwndParent,
                           LPCRECT lprcPosRect) = 0;
    virtual HRESULT EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) = 0;
    virtual HRESULT Update() = 0;
    virtual HRESULT IsUpToDate() = 0;
    virtual HRESULT GetUserClassID(CLSID* pClsid) = 0;
    virtual HRESULT GetUserType(DWORD dwFormOfType, LPOLESTR* pszUserType) = 0;
    // Sizes in HIMETRIC (hundredths of a millimetre).
    virtual HRESULT SetExtent(DWORD dwDrawAspect, SIZEL* psizel) = 0;
    virtual HRESULT GetExtent(DWORD dwDrawAspect, SIZEL* psizel) = 0;
    virtual HRESULT Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection) = 0;
    virtual HRESULT Unadvise(DWORD dwConnection) = 0;
    virtual HRESULT EnumAdvise(IEnumSTATDATA** ppenumAdvise) = 0;
    virtual HRESULT GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) = 0;
    virtual HRESULT SetColorScheme(LOGPALETTE* pLogpal) = 0;
};
DEFINE_IID(IID_IOleObject, 0x00000112, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

// Readers of a class's registration (HKEY_CLASSES_ROOT\CLSID\{...}):
// MiscStatus\<aspect>, else MiscStatus; the Verb\<n> entries
// ("name,flags,attributes"); the class's description (every form of the
// user type). REGDB_E_CLASSNOTREG when the class is not registered,
// OLEOBJ_E_NOVERBS when it lists no verbs.
HRESULT OleRegGetMiscStatus(REFCLSID clsid, DWORD dwAspect, DWORD* pdwStatus);
HRESULT OleRegEnumVerbs(REFCLSID clsid, IEnumOLEVERB** ppenum);
HRESULT OleRegGetUserType(REFCLSID clsid, DWORD dwFormOfType, LPOLESTR* pszUserType);

struct IOleInPlaceUIWindow;
struct IOleInPlaceFrame;

// What the frame tells the object in place about itself.
struct OLEINPLACEFRAMEINFO {
    UINT cb;
    BOOL fMDIApp;
    HWND hwndFrame;
    HACCEL haccel;
    UINT cAccelEntries;
};
typedef RECT BORDERWIDTHS;
typedef const RECT* LPCBORDERWIDTHS;
struct OLEMENUGROUPWIDTHS {
    LONG width[6];
};
typedef HGLOBAL HOLEMENU;

// The site's side of in-place activation: the window the object goes into
// and where in it.
struct IOleInPlaceSite : IOleWindow {
    // S_OK: the object may activate in place; S_FALSE: not now.
    virtual HRESULT CanInPlaceActivate() = 0;
    virtual HRESULT OnInPlaceActivate() = 0;
    virtual HRESULT OnUIActivate() = 0;
    // Rectangles in the site's window (GetWindow), in pixels.
    virtual HRESULT GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT lprcPosRect,
                                     LPRECT lprcClipRect, OLEINPLACEFRAMEINFO* lpFrameInfo) = 0;
    virtual HRESULT Scroll(SIZE scrollExtant) = 0;
    virtual HRESULT OnUIDeactivate(BOOL fUndoable) = 0;
    virtual HRESULT OnInPlaceDeactivate() = 0;
    virtual HRESULT DiscardUndoState() = 0;
    virtual HRESULT DeactivateAndUndo() = 0;
    virtual HRESULT OnPosRectChange(LPCRECT lprcPosRect) = 0;
};
DEFINE_IID(IID_IOleInPlaceSite, 0x00000119, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IOleInPlaceUIWindow : IOleWindow {
    virtual HRESULT GetBorder(LPRECT lprectBorder) = 0;
    virtual HRESULT RequestBorderSpace(LPCBORDERWIDTHS pborderwidths) = 0;
    virtual HRESULT SetBorderSpace(LPCBORDERWIDTHS pborderwidths) = 0;
    virtual HRESULT SetActiveObject(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR pszObjName) = 0;
};
DEFINE_IID(IID_IOleInPlaceUIWindow, 0x00000115, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IOleInPlaceFrame : IOleInPlaceUIWindow {
    virtual HRESULT InsertMenus(HMENU hmenuShared, OLEMENUGROUPWIDTHS* lpMenuWidths) = 0;
    virtual HRESULT SetMenu(HMENU hmenuShared, HOLEMENU holemenu, HWND hwndActiveObject) = 0;
    virtual HRESULT RemoveMenus(HMENU hmenuShared) = 0;
    virtual HRESULT SetStatusText(LPCOLESTR pszStatusText) = 0;
    virtual HRESULT EnableModeless(BOOL fEnable) = 0;
    virtual HRESULT TranslateAccelerator(LPMSG lpmsg, WORD wID) = 0;
};
DEFINE_IID(IID_IOleInPlaceFrame, 0x00000116, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

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
    // The site's ambient property dispID changed (DISPID_UNKNOWN: any).
    virtual HRESULT OnAmbientPropertyChange(DISPID dispID) = 0;
    virtual HRESULT FreezeEvents(BOOL bFreeze) = 0;
};
DEFINE_IID(IID_IOleControl, 0xB196B288, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

// The ambient properties a site's IDispatch answers (property gets).
constexpr DISPID DISPID_AMBIENT_BACKCOLOR = -701, DISPID_AMBIENT_DISPLAYNAME = -702, DISPID_AMBIENT_FONT = -703,
                 DISPID_AMBIENT_FORECOLOR = -704, DISPID_AMBIENT_LOCALEID = -705, DISPID_AMBIENT_MESSAGEREFLECT = -706,
                 DISPID_AMBIENT_USERMODE = -709, DISPID_AMBIENT_UIDEAD = -710, DISPID_AMBIENT_SHOWGRABHANDLES = -711,
                 DISPID_AMBIENT_SHOWHATCHING = -712, DISPID_AMBIENT_AUTOCLIP = -715;

struct POINTF {
    FLOAT x, y;
};
// The site's side of a control.
struct IOleControlSite : IUnknown {
    virtual HRESULT OnControlInfoChanged() = 0;
    virtual HRESULT LockInPlaceActive(BOOL fLock) = 0;
    virtual HRESULT GetExtendedControl(IDispatch** ppDisp) = 0;
    virtual HRESULT TransformCoords(POINTL* pPtlHimetric, POINTF* pPtfContainer, DWORD dwFlags) = 0;
    virtual HRESULT TranslateAccelerator(MSG* pMsg, DWORD grfModifiers) = 0;
    virtual HRESULT OnFocus(BOOL fGotFocus) = 0;
    // S_OK: the container showed the control's property pages itself.
    virtual HRESULT ShowPropertyFrame() = 0;
};
DEFINE_IID(IID_IOleControlSite, 0xB196B289, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

// Told when a bound property changed (or is about to).
struct IPropertyNotifySink : IUnknown {
    virtual HRESULT OnChanged(DISPID dispID) = 0;
    virtual HRESULT OnRequestEdit(DISPID dispID) = 0;
};
DEFINE_IID(IID_IPropertyNotifySink, 0x9BFBBC02, 0xEFF1, 0x101A, 0x84, 0xED, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

// --- Drawing --------------------------------------------------------------------

// The drawing's status and hit tests of IViewObjectEx.
constexpr DWORD VIEWSTATUS_OPAQUE = 1, VIEWSTATUS_SOLIDBKGND = 2, VIEWSTATUS_DVASPECTOPAQUE = 4,
                VIEWSTATUS_DVASPECTTRANSPARENT = 8, VIEWSTATUS_SURFACE = 16, VIEWSTATUS_3DSURFACE = 32;
constexpr DWORD HITRESULT_OUTSIDE = 0, HITRESULT_TRANSPARENT = 1, HITRESULT_CLOSE = 2, HITRESULT_HIT = 3;
constexpr DWORD DVEXTENT_CONTENT = 0, DVEXTENT_INTEGRAL = 1;
struct DVEXTENTINFO {
    ULONG cb;
    DWORD dwExtentMode;
    SIZEL sizelProposed;
};

struct IViewObject : IUnknown {
    // Draws the aspect into hdcDraw's bitmap inside lprcBounds (pixels of
    // that bitmap). pfnContinue, when given, is asked whether to go on.
    virtual HRESULT Draw(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd, HDC hdcTargetDev,
                         HDC hdcDraw, LPCRECTL lprcBounds, LPCRECTL lprcWBounds, BOOL (*pfnContinue)(ULONG_PTR),
                         ULONG_PTR dwContinue) = 0;
    virtual HRESULT GetColorSet(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd, HDC hicTargetDev,
                                LOGPALETTE** ppColorSet) = 0;
    virtual HRESULT Freeze(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DWORD* pdwFreeze) = 0;
    virtual HRESULT Unfreeze(DWORD dwFreeze) = 0;
    // One sink per object: told OnViewChange when the look changes.
    virtual HRESULT SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* pAdvSink) = 0;
    virtual HRESULT GetAdvise(DWORD* pAspects, DWORD* pAdvf, IAdviseSink** ppAdvSink) = 0;
};
DEFINE_IID(IID_IViewObject, 0x0000010D, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IViewObject2 : IViewObject {
    virtual HRESULT GetExtent(DWORD dwDrawAspect, LONG lindex, DVTARGETDEVICE* ptd, LPSIZEL lpsizel) = 0;
};
DEFINE_IID(IID_IViewObject2, 0x00000127, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IViewObjectEx : IViewObject2 {
    virtual HRESULT GetRect(DWORD dwAspect, LPRECTL pRect) = 0;
    virtual HRESULT GetViewStatus(DWORD* pdwStatus) = 0;
    virtual HRESULT QueryHitPoint(DWORD dwAspect, LPCRECT pRectBounds, POINT ptlLoc, LONG lCloseHint,
                                  DWORD* pHitResult) = 0;
    virtual HRESULT QueryHitRect(DWORD dwAspect, LPCRECT pRectBounds, LPCRECT pRectLoc, LONG lCloseHint,
                                 DWORD* pHitResult) = 0;
    virtual HRESULT GetNaturalExtent(DWORD dwAspect, LONG lindex, DVTARGETDEVICE* ptd, HDC hicTargetDev,
                                     DVEXTENTINFO* pExtentInfo, LPSIZEL pSizel) = 0;
};
DEFINE_IID(IID_IViewObjectEx, 0x3AF24292, 0x0C96, 0x11CE, 0xA0, 0xCF, 0x00, 0xAA, 0x00, 0x60, 0x0A, 0xB8);

// --- Quick activation -------------------------------------------------------------

struct IFont;
struct IOleUndoManager;
struct IBindHost;
struct IServiceProvider;

constexpr DWORD QACONTAINER_SHOWHATCHING = 0x1, QACONTAINER_SHOWGRABHANDLES = 0x2, QACONTAINER_USERMODE = 0x4,
                QACONTAINER_DISPLAYASDEFAULT = 0x8, QACONTAINER_UIDEAD = 0x10, QACONTAINER_AUTOCLIP = 0x20,
                QACONTAINER_MESSAGEREFLECT = 0x40, QACONTAINER_SUPPORTSMNEMONICS = 0x80;

// Everything the container would otherwise hand over call by call: its
// site, its sinks and its ambient properties.
struct QACONTAINER {
    ULONG cbSize;
    IOleClientSite* pClientSite;
    IAdviseSink* pAdviseSink;
    IPropertyNotifySink* pPropertyNotifySink;
    IUnknown* pUnkEventSink;
    DWORD dwAmbientFlags; // QACONTAINER_*
    OLE_COLOR colorFore;
    OLE_COLOR colorBack;
    IFont* pFont;
    IOleUndoManager* pUndoMgr;
    DWORD dwAppearance;
    LONG lcid;
    HPALETTE hpal;
    IBindHost* pBindHost;
    IOleControlSite* pOleControlSite;
    IServiceProvider* pServiceProvider;
};
// ... and what the control answers.
struct QACONTROL {
    ULONG cbSize;
    DWORD dwMiscStatus;
    DWORD dwViewStatus;
    DWORD dwEventCookie;      // of pUnkEventSink on the default source
    DWORD dwPropNotifyCookie; // of pPropertyNotifySink
    DWORD dwPointerActivationPolicy;
};

struct IQuickActivate : IUnknown {
    virtual HRESULT QuickActivate(QACONTAINER* pQaContainer, QACONTROL* pQaControl) = 0;
    virtual HRESULT SetContentExtent(LPSIZEL pSizel) = 0;
    virtual HRESULT GetContentExtent(LPSIZEL pSizel) = 0;
};
DEFINE_IID(IID_IQuickActivate, 0xCF51ED10, 0x62FE, 0x11CF, 0xBF, 0x86, 0x00, 0xA0, 0xC9, 0x03, 0x48, 0x36);

// --- Controls ---------------------------------------------------------------------

// A counted array of GUIDs, allocated with CoTaskMemAlloc.
struct CAUUID {
    ULONG cElems;
    GUID* pElems;
};
struct ISpecifyPropertyPages : IUnknown {
    virtual HRESULT GetPages(CAUUID* pPages) = 0;
};
DEFINE_IID(IID_ISpecifyPropertyPages, 0xB196B28B, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

struct ISimpleFrameSite : IUnknown {
    virtual HRESULT PreMessageFilter(HWND hWnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* plResult,
                                     DWORD* pdwCookie) = 0;
    virtual HRESULT PostMessageFilter(HWND hWnd, UINT msg, WPARAM wp, LPARAM lp, LRESULT* plResult, DWORD dwCookie) = 0;
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
