// Streams and storages held in memory: the stream over a global memory
// block (CreateStreamOnHGlobal), a storage of named streams and storages
// (Storage_CreateInMemory), the freeing of storage media and the item
// copies the enumerators hand out. No module state.
#include "platform/com/ComEnum.h"
#include "platform/com/ComObject.h"
#include "platform/com/ComSupport.h"
#include "platform/win/Gdi.h"
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>

// --- Copies for the enumerators -------------------------------------------------

LPOLESTR ComEnumItem::CopyText(LPCOLESTR text)
{
    if (!text) return nullptr;
    size_t n = Wide_Length(text) + 1;
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(n * sizeof(OLECHAR)));
    if (copy) memcpy(copy, text, n * sizeof(OLECHAR));
    return copy;
}

DVTARGETDEVICE* ComEnumItem::CopyDevice(const DVTARGETDEVICE* device)
{
    if (!device || device->tdSize < sizeof(DWORD)) return nullptr;
    auto* copy = static_cast<DVTARGETDEVICE*>(CoTaskMemAlloc(device->tdSize));
    if (copy) memcpy(copy, device, device->tdSize);
    return copy;
}

void ReleaseStgMedium(STGMEDIUM* medium)
{
    if (!medium) return;
    if (medium->pUnkForRelease) {
        medium->pUnkForRelease->Release();
    } else {
        switch (medium->tymed) {
        case TYMED_HGLOBAL: GlobalFree(medium->hGlobal); break;
        case TYMED_GDI: DeleteObject(medium->hBitmap); break;
        case TYMED_FILE: CoTaskMemFree(medium->lpszFileName); break;
        case TYMED_ISTREAM:
            if (medium->pstm) medium->pstm->Release();
            break;
        case TYMED_ISTORAGE:
            if (medium->pstg) medium->pstg->Release();
            break;
        default: break;
        }
    }
    medium->tymed = TYMED_NULL;
    medium->hGlobal = nullptr;
    medium->pUnkForRelease = nullptr;
}

namespace {

// How GetHGlobalFromStream knows a stream over a block, whichever copy of
// this layer made it.
struct IHGlobalStream : IStream {
    virtual HRESULT GetBlock(HGLOBAL* block) = 0;
};
DEFINE_IID(IID_IHGlobalStream, 0x5A7D3C10, 0x2B64, 0x4C8E, 0x9F, 0x31, 0x6E, 0x0B, 0xD2, 0x44, 0x7A, 0x19);

// The block and the stream's size, shared by a stream and its clones.
struct TBlock {
    HGLOBAL block = nullptr;
    bool deleteOnRelease = false;
    ULONGLONG size = 0; // the stream's size; the block may be larger
    ~TBlock()
    {
        if (deleteOnRelease && block) GlobalFree(block);
    }
    // Makes the block hold at least bytes; false when it cannot.
    bool Reserve(ULONGLONG bytes)
    {
        if (bytes > 0x7FFFFFFFull) return false;
        size_t have = GlobalSize(block);
        if (bytes <= have) return true;
        size_t want = std::max<size_t>((size_t)bytes, have < 256 ? 256 : have + have / 2);
        HGLOBAL grown = GlobalReAlloc(block, want, GMEM_ZEROINIT);
        if (!grown) grown = GlobalReAlloc(block, (size_t)bytes, GMEM_ZEROINIT);
        return grown != nullptr;
    }
};

class THGlobalStream final : public TComObject<IHGlobalStream> {
public:
    explicit THGlobalStream(std::shared_ptr<TBlock> block) : FBlock(std::move(block)) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_ISequentialStream && riid != IID_IStream && riid != IID_IHGlobalStream)
            return E_NOINTERFACE;
        *ppv = static_cast<IHGlobalStream*>(this);
        AddRef();
        return S_OK;
    }

    HRESULT GetBlock(HGLOBAL* block) override
    {
        *block = FBlock->block;
        return S_OK;
    }

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (pcbRead) *pcbRead = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        ULONGLONG left = FPos < FBlock->size ? FBlock->size - FPos : 0;
        ULONG n = (ULONG)std::min<ULONGLONG>(cb, left);
        if (n) {
            auto* bytes = static_cast<BYTE*>(GlobalLock(FBlock->block));
            if (!bytes) return STG_E_READFAULT;
            memcpy(pv, bytes + FPos, n);
            GlobalUnlock(FBlock->block);
            FPos += n;
        }
        if (pcbRead) *pcbRead = n;
        return S_OK;
    }
    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (pcbWritten) *pcbWritten = 0;
        if (!pv && cb) return STG_E_INVALIDPOINTER;
        if (!cb) return S_OK;
        if (!FBlock->Reserve(FPos + cb)) return STG_E_MEDIUMFULL;
        auto* bytes = static_cast<BYTE*>(GlobalLock(FBlock->block));
        if (!bytes) return STG_E_WRITEFAULT;
        memcpy(bytes + FPos, pv, cb);
        GlobalUnlock(FBlock->block);
        FPos += cb;
        FBlock->size = std::max(FBlock->size, FPos);
        if (pcbWritten) *pcbWritten = cb;
        return S_OK;
    }
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override
    {
        LONGLONG base;
        switch (origin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = (LONGLONG)FPos; break;
        case STREAM_SEEK_END: base = (LONGLONG)FBlock->size; break;
        default: return STG_E_INVALIDFUNCTION;
        }
        if ((move.QuadPart < 0 && base + move.QuadPart < 0) || base + move.QuadPart > 0x7FFFFFFFll)
            return STG_E_INVALIDFUNCTION;
        FPos = (ULONGLONG)(base + move.QuadPart);
        if (newPosition) newPosition->QuadPart = FPos;
        return S_OK;
    }
    HRESULT SetSize(ULARGE_INTEGER size) override
    {
        if (!FBlock->Reserve(size.QuadPart)) return STG_E_MEDIUMFULL;
        if (size.QuadPart > FBlock->size) {
            auto* bytes = static_cast<BYTE*>(GlobalLock(FBlock->block));
            if (!bytes) return STG_E_WRITEFAULT;
            memset(bytes + FBlock->size, 0, (size_t)(size.QuadPart - FBlock->size));
            GlobalUnlock(FBlock->block);
        }
        FBlock->size = size.QuadPart;
        return S_OK;
    }
    HRESULT CopyTo(IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override
    {
        if (pcbRead) pcbRead->QuadPart = 0;
        if (pcbWritten) pcbWritten->QuadPart = 0;
        if (!target) return STG_E_INVALIDPOINTER;
        ULONGLONG read = 0, written = 0;
        BYTE chunk[4096];
        while (read < cb.QuadPart) {
            ULONG got = 0, put = 0;
            HRESULT hr = Read(chunk, (ULONG)std::min<ULONGLONG>(sizeof chunk, cb.QuadPart - read), &got);
            if (FAILED(hr)) return hr;
            if (!got) break;
            read += got;
            hr = target->Write(chunk, got, &put);
            written += put;
            if (FAILED(hr)) return hr;
        }
        if (pcbRead) pcbRead->QuadPart = read;
        if (pcbWritten) pcbWritten->QuadPart = written;
        return S_OK;
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT Stat(STATSTG* stat, DWORD) override
    {
        if (!stat) return STG_E_INVALIDPOINTER;
        memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = FBlock->size;
        stat->grfMode = STGM_READWRITE;
        return S_OK;
    }
    HRESULT Clone(IStream** out) override
    {
        if (!out) return STG_E_INVALIDPOINTER;
        auto* clone = new THGlobalStream(FBlock);
        clone->FPos = FPos;
        *out = clone;
        return S_OK;
    }

private:
    ~THGlobalStream() override = default;
    std::shared_ptr<TBlock> FBlock;
    ULONGLONG FPos = 0;
};

} // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL fDeleteOnRelease, IStream** ppstm)
{
    if (!ppstm) return E_INVALIDARG;
    *ppstm = nullptr;
    auto block = std::make_shared<TBlock>();
    block->block = hGlobal ? hGlobal : GlobalAlloc(GMEM_MOVEABLE, 0);
    if (!block->block) return E_OUTOFMEMORY;
    if (hGlobal && !GlobalLock(hGlobal)) return E_INVALIDARG; // not a block
    if (hGlobal) GlobalUnlock(hGlobal);
    block->deleteOnRelease = fDeleteOnRelease != 0;
    block->size = hGlobal ? GlobalSize(hGlobal) : 0;
    *ppstm = new THGlobalStream(std::move(block));
    return S_OK;
}

HRESULT GetHGlobalFromStream(IStream* pstm, HGLOBAL* phglobal)
{
    if (!phglobal) return E_INVALIDARG;
    *phglobal = nullptr;
    if (!pstm) return E_INVALIDARG;
    IHGlobalStream* own = nullptr;
    if (FAILED(pstm->QueryInterface(IID_IHGlobalStream, (void**)&own)) || !own) return E_INVALIDARG;
    HRESULT hr = own->GetBlock(phglobal);
    own->Release();
    return hr;
}

// --- A storage in memory ---------------------------------------------------------

namespace {

// Element names of a storage: at most 31 characters, none of \ / : !
bool GoodName(const OLECHAR* name)
{
    if (!name || !*name) return false;
    size_t n = Wide_Length(name);
    if (n > 31) return false;
    for (size_t i = 0; i < n; i++)
        if (name[i] == '\\' || name[i] == '/' || name[i] == ':' || name[i] == '!') return false;
    return true;
}

// Names compare as the system's storages do: ignoring case (ASCII here).
std::u16string Key(const OLECHAR* name)
{
    std::u16string k(name, Wide_Length(name));
    for (char16_t& c : k)
        if (c >= 'a' && c <= 'z') c = (char16_t)(c - 'a' + 'A');
    return k;
}

class TMemoryStorage final : public TComObject<IStorage> {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IStorage) return E_NOINTERFACE;
        *ppv = static_cast<IStorage*>(this);
        AddRef();
        return S_OK;
    }

    HRESULT CreateStream(const OLECHAR* name, DWORD mode, DWORD, DWORD, IStream** out) override
    {
        HRESULT hr = MakeRoom(name, mode, (void**)out);
        if (FAILED(hr)) return hr;
        IStream* stream = nullptr;
        hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
        if (FAILED(hr)) return hr;
        TElement e;
        e.name.assign(name, Wide_Length(name));
        e.stream = stream;
        FElements[Key(name)] = e;
        return Reopen(FElements[Key(name)], out);
    }
    HRESULT OpenStream(const OLECHAR* name, void*, DWORD, DWORD, IStream** out) override
    {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (!GoodName(name)) return STG_E_INVALIDNAME;
        auto it = FElements.find(Key(name));
        if (it == FElements.end() || !it->second.stream) return STG_E_FILENOTFOUND;
        return Reopen(it->second, out);
    }
    HRESULT CreateStorage(const OLECHAR* name, DWORD mode, DWORD, DWORD, IStorage** out) override
    {
        HRESULT hr = MakeRoom(name, mode, (void**)out);
        if (FAILED(hr)) return hr;
        TElement e;
        e.name.assign(name, Wide_Length(name));
        e.storage = new TMemoryStorage;
        FElements[Key(name)] = e;
        *out = e.storage;
        e.storage->AddRef();
        return S_OK;
    }
    HRESULT OpenStorage(const OLECHAR* name, IStorage*, DWORD, SNB, DWORD, IStorage** out) override
    {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (!GoodName(name)) return STG_E_INVALIDNAME;
        auto it = FElements.find(Key(name));
        if (it == FElements.end() || !it->second.storage) return STG_E_FILENOTFOUND;
        *out = it->second.storage;
        (*out)->AddRef();
        return S_OK;
    }
    HRESULT CopyTo(DWORD, const IID*, SNB exclude, IStorage* dest) override
    {
        if (!dest) return STG_E_INVALIDPOINTER;
        if (dest == this) return STG_E_ACCESSDENIED;
        for (auto& kv : FElements) {
            bool skipped = false;
            for (SNB n = exclude; n && *n; n++)
                if (Key(*n) == kv.first) skipped = true;
            if (skipped) continue;
            HRESULT hr = CopyElement(kv.second, dest, kv.second.name.c_str());
            if (FAILED(hr)) return hr;
        }
        dest->SetClass(FClass);
        return S_OK;
    }
    HRESULT MoveElementTo(const OLECHAR* name, IStorage* dest, const OLECHAR* newName, DWORD flags) override
    {
        if (!dest) return STG_E_INVALIDPOINTER;
        if (!GoodName(name) || !GoodName(newName)) return STG_E_INVALIDNAME;
        auto it = FElements.find(Key(name));
        if (it == FElements.end()) return STG_E_FILENOTFOUND;
        TElement e = it->second; // held while it is copied
        e.Hold();
        HRESULT hr = CopyElement(e, dest, newName);
        if (SUCCEEDED(hr) && flags == 0 /* STGMOVE_MOVE */) DestroyElement(name);
        e.Drop();
        return hr;
    }
    HRESULT Commit(DWORD) override { return S_OK; }
    HRESULT Revert() override { return S_OK; }
    HRESULT EnumElements(DWORD, void*, DWORD, IEnumSTATSTG** out) override
    {
        if (!out) return STG_E_INVALIDPOINTER;
        std::vector<STATSTG> items;
        for (auto& kv : FElements) {
            STATSTG s;
            ElementStat(kv.second, &s, STATFLAG_NONAME);
            s.pwcsName = const_cast<LPOLESTR>(kv.second.name.c_str()); // copied by the enumerator
            items.push_back(s);
        }
        return ComEnum_Create(IID_IEnumSTATSTG, std::move(items), out);
    }
    HRESULT DestroyElement(const OLECHAR* name) override
    {
        if (!GoodName(name)) return STG_E_INVALIDNAME;
        auto it = FElements.find(Key(name));
        if (it == FElements.end()) return STG_E_FILENOTFOUND;
        TElement e = it->second;
        FElements.erase(it);
        e.Drop();
        return S_OK;
    }
    HRESULT RenameElement(const OLECHAR* oldName, const OLECHAR* newName) override
    {
        if (!GoodName(oldName) || !GoodName(newName)) return STG_E_INVALIDNAME;
        auto it = FElements.find(Key(oldName));
        if (it == FElements.end()) return STG_E_FILENOTFOUND;
        if (Key(oldName) != Key(newName) && FElements.count(Key(newName))) return STG_E_FILEALREADYEXISTS;
        TElement e = it->second;
        FElements.erase(it);
        e.name.assign(newName, Wide_Length(newName));
        FElements[Key(newName)] = e;
        return S_OK;
    }
    HRESULT SetElementTimes(const OLECHAR* name, const FILETIME* c, const FILETIME* a, const FILETIME* m) override
    {
        if (!name) { // the storage itself
            if (c) FTimes[0] = *c;
            if (a) FTimes[1] = *a;
            if (m) FTimes[2] = *m;
            return S_OK;
        }
        if (!GoodName(name)) return STG_E_INVALIDNAME;
        auto it = FElements.find(Key(name));
        if (it == FElements.end()) return STG_E_FILENOTFOUND;
        if (c) it->second.times[0] = *c;
        if (a) it->second.times[1] = *a;
        if (m) it->second.times[2] = *m;
        return S_OK;
    }
    HRESULT SetClass(REFCLSID clsid) override
    {
        FClass = clsid;
        return S_OK;
    }
    HRESULT SetStateBits(DWORD bits, DWORD mask) override
    {
        FStateBits = (FStateBits & ~mask) | (bits & mask);
        return S_OK;
    }
    HRESULT Stat(STATSTG* stat, DWORD) override
    {
        if (!stat) return STG_E_INVALIDPOINTER;
        memset(stat, 0, sizeof *stat);
        stat->type = STGTY_STORAGE;
        stat->ctime = FTimes[0];
        stat->atime = FTimes[1];
        stat->mtime = FTimes[2];
        stat->grfMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
        stat->clsid = FClass;
        stat->grfStateBits = FStateBits;
        return S_OK;
    }

private:
    struct TElement {
        std::u16string name;
        IStream* stream = nullptr; // the element's own stream; callers get clones
        IStorage* storage = nullptr;
        FILETIME times[3] = {};
        void Hold()
        {
            if (stream) stream->AddRef();
            if (storage) storage->AddRef();
        }
        void Drop()
        {
            if (stream) stream->Release();
            if (storage) storage->Release();
        }
    };

    ~TMemoryStorage() override
    {
        for (auto& kv : FElements) kv.second.Drop();
    }

    // Before an element is created: the name checked, an element of that
    // name dropped when the mode says to replace it, *out cleared.
    HRESULT MakeRoom(const OLECHAR* name, DWORD mode, void** out)
    {
        if (!out) return STG_E_INVALIDPOINTER;
        *out = nullptr;
        if (!GoodName(name)) return STG_E_INVALIDNAME;
        auto it = FElements.find(Key(name));
        if (it != FElements.end()) {
            if (!(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
            TElement gone = it->second;
            FElements.erase(it);
            gone.Drop();
        }
        return S_OK;
    }
    // A new stream on the element's bytes, at their start.
    static HRESULT Reopen(TElement& e, IStream** out)
    {
        HRESULT hr = e.stream->Clone(out);
        if (FAILED(hr)) return hr;
        LARGE_INTEGER zero = {0};
        return (*out)->Seek(zero, STREAM_SEEK_SET, nullptr);
    }
    static void ElementStat(const TElement& e, STATSTG* s, DWORD flag)
    {
        memset(s, 0, sizeof *s);
        if (e.stream) {
            e.stream->Stat(s, flag);
        } else {
            e.storage->Stat(s, flag);
        }
        s->pwcsName = nullptr;
        s->ctime = e.times[0];
        s->atime = e.times[1];
        s->mtime = e.times[2];
    }
    static HRESULT CopyElement(const TElement& e, IStorage* dest, const OLECHAR* name)
    {
        if (e.stream) {
            IStream *from = nullptr, *to = nullptr;
            HRESULT hr = e.stream->Clone(&from);
            if (FAILED(hr)) return hr;
            LARGE_INTEGER zero = {0};
            from->Seek(zero, STREAM_SEEK_SET, nullptr);
            hr = dest->CreateStream(name, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &to);
            if (SUCCEEDED(hr)) {
                ULARGE_INTEGER all = {~0ull};
                hr = from->CopyTo(to, all, nullptr, nullptr);
                to->Release();
            }
            from->Release();
            return hr;
        }
        IStorage* to = nullptr;
        HRESULT hr = dest->CreateStorage(name, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &to);
        if (FAILED(hr)) return hr;
        hr = e.storage->CopyTo(0, nullptr, nullptr, to);
        to->Release();
        return hr;
    }

    std::map<std::u16string, TElement> FElements; // by upper-cased name
    CLSID FClass = CLSID_NULL;
    DWORD FStateBits = 0;
    FILETIME FTimes[3] = {};
};

} // namespace

HRESULT Storage_CreateInMemory(IStorage** ppstg)
{
    if (!ppstg) return STG_E_INVALIDPOINTER;
    *ppstg = new TMemoryStorage;
    return S_OK;
}
