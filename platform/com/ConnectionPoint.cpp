// Connection points: the sink list of one outgoing interface, event firing
// over a snapshot of it, and the two enumerators (each over its own
// snapshot, holding references on what it lists).
#include "platform/com/ComSupport.h"
#include <atomic>
#include <new>

namespace {

// Enumerator over a fixed list of interface pointers or connection records.
template <class TItf, class TItem> class TEnumerator final : public TItf {
public:
    TEnumerator(REFIID iid, std::vector<TItem> items) : FIid(iid), FItems(std::move(items))
    {
        for (TItem& it : FItems) Ref(it)->AddRef();
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == FIid) {
            *ppv = static_cast<TItf*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++FRefs; }
    ULONG Release() override
    {
        ULONG n = --FRefs;
        if (n == 0) delete this;
        return n;
    }

    HRESULT Next(ULONG count, TItem* out, ULONG* fetched) override
    {
        if (!out || (count != 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < count && FPos < FItems.size()) {
            out[n] = FItems[FPos++];
            Ref(out[n])->AddRef(); // the caller's reference
            n++;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override
    {
        size_t left = FItems.size() - FPos;
        if (count > left) {
            FPos = FItems.size();
            return S_FALSE;
        }
        FPos += count;
        return S_OK;
    }
    HRESULT Reset() override
    {
        FPos = 0;
        return S_OK;
    }
    HRESULT Clone(TItf** ppEnum) override
    {
        if (!ppEnum) return E_POINTER;
        auto* e = new (std::nothrow) TEnumerator(FIid, FItems);
        if (!e) return E_OUTOFMEMORY;
        e->FPos = FPos;
        *ppEnum = e;
        return S_OK;
    }

private:
    ~TEnumerator()
    {
        for (TItem& it : FItems) Ref(it)->Release();
    }
    static IUnknown* Ref(IConnectionPoint* p) { return p; }
    static IUnknown* Ref(const CONNECTDATA& d) { return d.pUnk; }

    std::atomic<ULONG> FRefs{1};
    IID FIid;
    std::vector<TItem> FItems;
    size_t FPos = 0;
};

typedef TEnumerator<IEnumConnections, CONNECTDATA> TEnumConnectionsImpl;
typedef TEnumerator<IEnumConnectionPoints, IConnectionPoint*> TEnumConnectionPointsImpl;

} // namespace

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
    for (size_t i = 0; i < FSinks.size(); i++) {
        if (FSinks[i].cookie == dwCookie) {
            IUnknown* sink = FSinks[i].sink;
            FSinks.erase(FSinks.begin() + (long)i);
            sink->Release(); // after the list is consistent: the sink may call back
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT TComConnectionPoint::EnumConnections(IEnumConnections** ppEnum)
{
    if (!ppEnum) return E_POINTER;
    std::vector<CONNECTDATA> items;
    for (const TSink& s : FSinks) items.push_back({s.sink, s.cookie});
    *ppEnum = new (std::nothrow) TEnumConnectionsImpl(IID_IEnumConnections, std::move(items));
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
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
    // The sinks of this moment, held, so that Unadvise during a call is safe.
    std::vector<IUnknown*> sinks;
    for (const TSink& s : FSinks) {
        s.sink->AddRef();
        sinks.push_back(s.sink);
    }
    HRESULT result = S_OK;
    for (IUnknown* sink : sinks) {
        DISPPARAMS params = {argCount ? reversed.data() : nullptr, nullptr, argCount, 0};
        HRESULT hr = static_cast<IDispatch*>(sink)->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD,
                                                           &params, nullptr, nullptr, nullptr);
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        sink->Release();
    }
    return result;
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
    *ppEnum = new (std::nothrow) TEnumConnectionPointsImpl(IID_IEnumConnectionPoints, std::move(items));
    return *ppEnum ? S_OK : E_OUTOFMEMORY;
}
