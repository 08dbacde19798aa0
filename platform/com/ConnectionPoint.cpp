// Connection points: the sink list of one outgoing interface, event firing
// over a snapshot of it, and the two enumerators (each over its own
// snapshot, holding references on what it lists; platform/com/ComEnum.h).
#include "platform/com/ComSupport.h"
#include "platform/com/ComEnum.h"

// --- TComConnectionPoint -------------------------------------------------------

TComConnectionPoint::TComConnectionPoint(IConnectionPointContainer* container, REFIID iid, ULONG maxSinks)
    : FContainer(container), FIid(iid), FMaxSinks(maxSinks)
{
}

TComConnectionPoint::~TComConnectionPoint() { UnadviseAll(); }

HRESULT TComConnectionPoint::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IConnectionPoint) {
        *ppv = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG TComConnectionPoint::AddRef() { return FContainer ? FContainer->AddRef() : 1; }
ULONG TComConnectionPoint::Release() { return FContainer ? FContainer->Release() : 1; }

HRESULT TComConnectionPoint::GetConnectionInterface(IID* pIID)
{
    if (!pIID) return E_POINTER;
    *pIID = FIid;
    return S_OK;
}

HRESULT TComConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC)
{
    if (!ppCPC) return E_POINTER;
    *ppCPC = FContainer;
    if (!FContainer) return E_UNEXPECTED;
    FContainer->AddRef();
    return S_OK;
}

HRESULT TComConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie)
{
    if (!pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink) return E_POINTER;
    if (FMaxSinks && FSinks.size() >= FMaxSinks) return CONNECT_E_ADVISELIMIT;
    void* p = nullptr;
    if (FAILED(pUnkSink->QueryInterface(FIid, &p)) || !p) return CONNECT_E_CANNOTCONNECT;
    // Cookies are never 0 and never one in use.
    auto inUse = [&](DWORD c) {
        for (const TSink& s : FSinks)
            if (s.cookie == c) return true;
        return false;
    };
    while (FNextCookie == 0 || inUse(FNextCookie)) FNextCookie++;
    DWORD cookie = FNextCookie++;
    FSinks.push_back({cookie, (IUnknown*)p});
    *pdwCookie = cookie;
    return S_OK;
}

HRESULT TComConnectionPoint::Unadvise(DWORD dwCookie)
{
    return Cookies_Drop(FSinks, dwCookie) ? S_OK : CONNECT_E_NOCONNECTION;
}

HRESULT TComConnectionPoint::EnumConnections(IEnumConnections** ppEnum)
{
    if (!ppEnum) return E_POINTER;
    std::vector<CONNECTDATA> items;
    for (const TSink& s : FSinks) items.push_back({s.sink, s.cookie});
    return ComEnum_Create(IID_IEnumConnections, std::move(items), ppEnum);
}

void TComConnectionPoint::UnadviseAll()
{
    std::vector<TSink> sinks;
    sinks.swap(FSinks);
    for (TSink& s : sinks) s.sink->Release();
}

HRESULT TComConnectionPoint::FireEvent(DISPID dispid, VARIANTARG* args, UINT argCount)
{
    if (argCount && !args) return E_INVALIDARG;
    if (FSinks.empty()) return S_OK;
    // DISPPARAMS lists the last parameter first. The copies are shallow:
    // the caller still owns the values, and VT_BYREF pointers reach back.
    std::vector<VARIANTARG> reversed(argCount);
    for (UINT i = 0; i < argCount; i++) reversed[i] = args[argCount - 1 - i];
    HRESULT result = S_OK;
    ForEachSink([&](IUnknown* sink) {
        DISPPARAMS params = {argCount ? reversed.data() : nullptr, nullptr, argCount, 0};
        HRESULT hr = static_cast<IDispatch*>(sink)->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                                           &params, nullptr, nullptr, nullptr);
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    });
    return result;
}

void TComConnectionPoint::ForEachSink(const std::function<void(IUnknown* sink)>& call)
{
    // The sinks of this moment, held, so that Unadvise during a call is safe.
    std::vector<IUnknown*> sinks;
    for (const TSink& s : FSinks) {
        s.sink->AddRef();
        sinks.push_back(s.sink);
    }
    for (IUnknown* sink : sinks) {
        call(sink);
        sink->Release();
    }
}

// --- Container helpers ---------------------------------------------------------

HRESULT ConnectionPoints_Find(IConnectionPoint* const* points, ULONG count, REFIID riid, IConnectionPoint** ppCP)
{
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    for (ULONG i = 0; i < count; i++) {
        IID iid;
        if (points[i] && SUCCEEDED(points[i]->GetConnectionInterface(&iid)) && iid == riid) {
            points[i]->AddRef();
            *ppCP = points[i];
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT ConnectionPoints_Enumerate(IConnectionPoint* const* points, ULONG count, IEnumConnectionPoints** ppEnum)
{
    if (!ppEnum) return E_POINTER;
    std::vector<IConnectionPoint*> items;
    for (ULONG i = 0; i < count; i++)
        if (points[i]) items.push_back(points[i]);
    return ComEnum_Create(IID_IEnumConnectionPoints, std::move(items), ppEnum);
}
