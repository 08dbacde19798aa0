// The standard pieces a control is built from: the module's lock count and
// a class factory for DllGetClassObject, error reporting through COM error
// information, name tables for GetIDsOfNames, a connection point that fires
// dispatch events, and an in-memory property bag for hosts and tests.
#pragma once
#include "platform/com/ComInterfaces.h"
#include <functional>
#include <string>
#include <vector>

// --- The module's lock count ------------------------------------------------
// Live objects, LockServer(TRUE) calls and outstanding class-factory
// references; DllCanUnloadNow answers S_OK only at 0.

void ComModule_Lock();
void ComModule_Unlock();
LONG ComModule_LockCount();

// Makes a new object and answers riid on it (*ppv holds the one reference).
typedef HRESULT (*TComCreator)(REFIID riid, void** ppv);

// A class factory with static lifetime: each reference held on it counts as
// a module lock; LockServer locks and unlocks; aggregation is refused with
// CLASS_E_NOAGGREGATION.
class TComClassFactory : public IClassFactory {
public:
    explicit TComClassFactory(TComCreator creator) : FCreator(creator) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    HRESULT LockServer(BOOL fLock) override;

private:
    TComCreator FCreator;
};

// --- The COM map ---------------------------------------------------------------
// An object's interfaces in the order QueryInterface looks for them; the
// first one also answers IID_IUnknown, so that it is the object's identity.

struct TComMapEntry {
    const IID* iid;
    const char* name;
    IUnknown* (*get)(void* object); // the object as that interface
};
// Answers riid from the map (with a reference), else E_NOINTERFACE.
HRESULT Com_QueryMap(void* object, const TComMapEntry* map, size_t count, REFIID riid, void** ppv);

// --- Error information ------------------------------------------------------

// Makes an error object {description, iid, source} the calling thread's
// error information and returns hr, for `return Com_ReportError(...)`.
HRESULT Com_ReportError(const std::string& description, REFIID iid, const std::string& source,
                        HRESULT hr = DISP_E_EXCEPTION);
// What a dispatcher does when a member failed with hr: fills info (when not
// null) from the thread's error information, taking it, with scode = hr;
// the record is written without freeing what it held.
// Without error information the description is left null.
void Com_FillExcepInfo(EXCEPINFO* info, HRESULT hr);

// --- Names for GetIDsOfNames --------------------------------------------------

struct TDispatchName {
    const char* name;
    DISPID dispid;
};

// Looks rgszNames[0] up in the table, ignoring ASCII case. Further names
// (parameter names) are not known: they get DISPID_UNKNOWN. S_OK when all
// were found, DISP_E_UNKNOWNNAME otherwise.
HRESULT Disp_GetIDsOfNames(const TDispatchName* table, size_t count, LPOLESTR* rgszNames, UINT cNames,
                           DISPID* rgDispId);

// Takes the entry of that cookie out of a list of {cookie, sink} and then
// releases its sink (which may call back into a consistent list); false
// when no entry has the cookie.
template <class TEntry> bool Cookies_Drop(std::vector<TEntry>& list, DWORD cookie)
{
    for (size_t i = 0; i < list.size(); i++)
        if (list[i].cookie == cookie) {
            auto* sink = list[i].sink;
            list.erase(list.begin() + (long)i);
            sink->Release();
            return true;
        }
    return false;
}

// --- Connection points -------------------------------------------------------

// One outgoing interface of a connectable object, kept as a member of it:
// AddRef/Release go to the container. Sinks are held by cookie (1, 2, ...);
// Advise asks the sink for the connection's IID (CONNECT_E_CANNOTCONNECT
// when it lacks it) and keeps that pointer. FireEvent is for dispatch event
// interfaces: it calls IDispatch::Invoke on every sink.
class TComConnectionPoint : public IConnectionPoint {
public:
    // maxSinks 0 means no limit; beyond the limit Advise answers
    // CONNECT_E_ADVISELIMIT. The container may be null (then AddRef and
    // Release do nothing).
    TComConnectionPoint(IConnectionPointContainer* container, REFIID iid, ULONG maxSinks = 0);
    ~TComConnectionPoint();
    TComConnectionPoint(const TComConnectionPoint&) = delete;
    TComConnectionPoint& operator=(const TComConnectionPoint&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetConnectionInterface(IID* pIID) override;
    HRESULT GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    HRESULT Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT Unadvise(DWORD dwCookie) override;
    HRESULT EnumConnections(IEnumConnections** ppEnum) override;

    // Invokes dispid (DISPATCH_METHOD) on each sink connected when the call
    // starts; sinks may unadvise during it. args are in parameter order
    // (first parameter first) and stay the caller's; VT_BYREF arguments
    // carry the sinks' changes back. S_OK, or the first failure of a sink
    // (the others are still called).
    HRESULT FireEvent(DISPID dispid, VARIANTARG* args = nullptr, UINT argCount = 0);
    // Calls call with each sink connected when the call starts (as the
    // connection's interface), each held meanwhile; sinks may unadvise.
    void ForEachSink(const std::function<void(IUnknown* sink)>& call);
    ULONG SinkCount() const { return (ULONG)FSinks.size(); }
    // Releases every sink.
    void UnadviseAll();

private:
    struct TSink {
        DWORD cookie;
        IUnknown* sink;
    };
    IConnectionPointContainer* FContainer;
    IID FIid;
    ULONG FMaxSinks;
    DWORD FNextCookie = 1;
    std::vector<TSink> FSinks;
};

// For IConnectionPointContainer: the point whose interface is riid
// (CONNECT_E_NOCONNECTION when none), and an enumerator over all of them.
HRESULT ConnectionPoints_Find(IConnectionPoint* const* points, ULONG count, REFIID riid, IConnectionPoint** ppCP);
HRESULT ConnectionPoints_Enumerate(IConnectionPoint* const* points, ULONG count, IEnumConnectionPoints** ppEnum);

// --- In-memory property bag -------------------------------------------------

// Name -> VARIANT, names compared ignoring ASCII case; made with reference
// count 1, freed by its last Release. Read converts to the type asked for
// (failures go to the error log too); a missing name gives E_INVALIDARG.
class TComPropertyBag : public IPropertyBag {
public:
    TComPropertyBag() = default;
    TComPropertyBag(const TComPropertyBag&) = delete;
    TComPropertyBag& operator=(const TComPropertyBag&) = delete;

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) override;
    HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) override;

    // Stores the text as a VT_BSTR (a PARAM tag's value).
    HRESULT WriteText(const std::string& name, const std::string& text);
    // The stored value, or null.
    const VARIANT* Find(const std::string& name) const;
    // Names in the order first written.
    std::vector<std::string> Names() const;
    // Every name Read was asked for, in order, found or not.
    const std::vector<std::string>& ReadLog() const { return FReadLog; }

private:
    virtual ~TComPropertyBag();
    struct TEntry {
        std::string name;
        VARIANT value;
    };
    TEntry* FindEntry(const std::string& name);
    ULONG FRefs = 1;
    std::vector<TEntry> FEntries;
    std::vector<std::string> FReadLog;
};
