// One enumerator for the IEnumXxx interfaces: a snapshot of items taken
// when it is made (clones share the snapshot and keep their own position).
// What an item owns is handled by three overloads per item type: Hold
// (once, when the snapshot takes it: a reference, a copy of a text), Drop
// (when the snapshot goes) and Give (a copy for the caller of Next, which
// the caller frees: its reference, its task-memory text).
#pragma once
#include "platform/com/ComObject.h"
#include <memory>
#include <new>
#include <vector>

namespace ComEnumItem {

// Task-memory copies of a wide text and of a target device (null stays null).
LPOLESTR CopyText(LPCOLESTR text);
DVTARGETDEVICE* CopyDevice(const DVTARGETDEVICE* device);

inline void Hold(IConnectionPoint*& p) { p->AddRef(); }
inline void Drop(IConnectionPoint*& p) { p->Release(); }
inline void Give(IConnectionPoint*& out, IConnectionPoint* const& in)
{
    out = in;
    out->AddRef();
}

inline void Hold(CONNECTDATA& d) { d.pUnk->AddRef(); }
inline void Drop(CONNECTDATA& d) { d.pUnk->Release(); }
inline void Give(CONNECTDATA& out, const CONNECTDATA& in)
{
    out = in;
    out.pUnk->AddRef();
}

inline void Hold(OLEVERB& v) { v.lpszVerbName = CopyText(v.lpszVerbName); }
inline void Drop(OLEVERB& v) { CoTaskMemFree(v.lpszVerbName); }
inline void Give(OLEVERB& out, const OLEVERB& in)
{
    out = in;
    out.lpszVerbName = CopyText(in.lpszVerbName);
}

inline void Hold(FORMATETC& f) { f.ptd = CopyDevice(f.ptd); }
inline void Drop(FORMATETC& f) { CoTaskMemFree(f.ptd); }
inline void Give(FORMATETC& out, const FORMATETC& in)
{
    out = in;
    out.ptd = CopyDevice(in.ptd);
}

inline void Hold(STATDATA& s)
{
    Hold(s.formatetc);
    if (s.pAdvSink) s.pAdvSink->AddRef();
}
inline void Drop(STATDATA& s)
{
    Drop(s.formatetc);
    if (s.pAdvSink) s.pAdvSink->Release();
}
inline void Give(STATDATA& out, const STATDATA& in)
{
    out = in;
    Give(out.formatetc, in.formatetc);
    if (out.pAdvSink) out.pAdvSink->AddRef();
}

inline void Hold(STATSTG& s) { s.pwcsName = CopyText(s.pwcsName); }
inline void Drop(STATSTG& s) { CoTaskMemFree(s.pwcsName); }
inline void Give(STATSTG& out, const STATSTG& in)
{
    out = in;
    out.pwcsName = CopyText(in.pwcsName);
}

} // namespace ComEnumItem

template <class TItf, class TItem> class TComEnum final : public TComObject<TItf> {
public:
    // Takes the items as they are and holds them (see above).
    TComEnum(REFIID iid, std::vector<TItem> items) : FIid(iid), FItems(std::make_shared<TSnapshot>(std::move(items))) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == FIid) {
            *ppv = static_cast<TItf*>(this);
            this->AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT Next(ULONG count, TItem* out, ULONG* fetched) override
    {
        if (fetched) *fetched = 0;
        if (!out || (count != 1 && !fetched)) return E_POINTER;
        const std::vector<TItem>& items = FItems->items;
        ULONG n = 0;
        while (n < count && FPos < items.size()) ComEnumItem::Give(out[n++], items[FPos++]);
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override
    {
        size_t left = FItems->items.size() - FPos;
        if (count > left) {
            FPos = FItems->items.size();
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
        auto* e = new (std::nothrow) TComEnum(FIid, FItems);
        *ppEnum = e;
        if (!e) return E_OUTOFMEMORY;
        e->FPos = FPos;
        return S_OK;
    }

private:
    struct TSnapshot {
        explicit TSnapshot(std::vector<TItem> taken) : items(std::move(taken))
        {
            for (TItem& it : items) ComEnumItem::Hold(it);
        }
        ~TSnapshot()
        {
            for (TItem& it : items) ComEnumItem::Drop(it);
        }
        std::vector<TItem> items;
    };
    TComEnum(REFIID iid, std::shared_ptr<TSnapshot> shared) : FIid(iid), FItems(std::move(shared)) {}
    ~TComEnum() override = default;

    IID FIid;
    std::shared_ptr<TSnapshot> FItems;
    size_t FPos = 0;
};

// Makes the enumerator over the items into *out; E_POINTER, E_OUTOFMEMORY.
template <class TItf, class TItem> HRESULT ComEnum_Create(REFIID iid, std::vector<TItem> items, TItf** out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) TComEnum<TItf, TItem>(iid, std::move(items));
    return *out ? S_OK : E_OUTOFMEMORY;
}
