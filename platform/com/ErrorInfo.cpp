// COM error information: the error object and each thread's current one.
// Owns the per-thread slot, which holds one reference until it is taken,
// replaced or the thread ends.
#include "platform/com/ComSupport.h"
#include <atomic>
#include <cstring>
#include <new>

namespace {

class TErrorObject final : public IErrorInfo, public ICreateErrorInfo {
public:
    TErrorObject() = default;

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) *ppv = static_cast<IErrorInfo*>(this);
        else if (riid == IID_ICreateErrorInfo) *ppv = static_cast<ICreateErrorInfo*>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++FRefs; }
    ULONG Release() override
    {
        ULONG n = --FRefs;
        if (n == 0) delete this;
        return n;
    }

    HRESULT GetGUID(GUID* pGUID) override
    {
        if (!pGUID) return E_INVALIDARG;
        *pGUID = FGuid;
        return S_OK;
    }
    HRESULT GetSource(BSTR* p) override { return Give(FSource, p); }
    HRESULT GetDescription(BSTR* p) override { return Give(FDescription, p); }
    HRESULT GetHelpFile(BSTR* p) override { return Give(FHelpFile, p); }
    HRESULT GetHelpContext(DWORD* p) override
    {
        if (!p) return E_INVALIDARG;
        *p = FHelpContext;
        return S_OK;
    }

    HRESULT SetGUID(REFGUID rguid) override
    {
        FGuid = rguid;
        return S_OK;
    }
    HRESULT SetSource(LPCOLESTR s) override { return Keep(FSource, s); }
    HRESULT SetDescription(LPCOLESTR s) override { return Keep(FDescription, s); }
    HRESULT SetHelpFile(LPCOLESTR s) override { return Keep(FHelpFile, s); }
    HRESULT SetHelpContext(DWORD c) override
    {
        FHelpContext = c;
        return S_OK;
    }

private:
    ~TErrorObject() = default;
    static HRESULT Give(const std::u16string& s, BSTR* out)
    {
        if (!out) return E_INVALIDARG;
        *out = SysAllocStringLen(s.data(), (UINT)s.size());
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    static HRESULT Keep(std::u16string& field, LPCOLESTR s)
    {
        field = s ? std::u16string(s) : std::u16string();
        return S_OK;
    }

    std::atomic<ULONG> FRefs{1};
    GUID FGuid = GUID_NULL;
    std::u16string FSource, FDescription, FHelpFile;
    DWORD FHelpContext = 0;
};

// The thread's error object; released when the thread ends.
struct TErrorSlot {
    IErrorInfo* info = nullptr;
    ~TErrorSlot()
    {
        if (info) info->Release();
    }
};
thread_local TErrorSlot gErrorSlot;

} // namespace

HRESULT CreateErrorInfo(ICreateErrorInfo** pp)
{
    if (!pp) return E_INVALIDARG;
    TErrorObject* e = new (std::nothrow) TErrorObject();
    if (!e) {
        *pp = nullptr;
        return E_OUTOFMEMORY;
    }
    *pp = e;
    return S_OK;
}

HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* errinfo)
{
    if (reserved != 0) return E_INVALIDARG;
    if (errinfo) errinfo->AddRef();
    IErrorInfo* old = gErrorSlot.info;
    gErrorSlot.info = errinfo;
    if (old) old->Release();
    return S_OK;
}

HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** pp)
{
    if (!pp) return E_INVALIDARG;
    *pp = nullptr;
    if (reserved != 0) return E_INVALIDARG;
    *pp = gErrorSlot.info;
    gErrorSlot.info = nullptr;
    return *pp ? S_OK : S_FALSE;
}

HRESULT Com_ReportError(const std::string& description, REFIID iid, const std::string& source, HRESULT hr)
{
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return hr;
    create->SetGUID(iid);
    create->SetDescription(Wide_FromText(description).c_str());
    create->SetSource(Wide_FromText(source).c_str());
    void* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, &info))) {
        SetErrorInfo(0, (IErrorInfo*)info);
        ((IErrorInfo*)info)->Release();
    }
    create->Release();
    return hr;
}

void Com_FillExcepInfo(EXCEPINFO* info, HRESULT hr)
{
    if (!info) return; // the error information stays for GetErrorInfo
    // The caller's record carries nothing on entry: it is filled, not freed.
    memset(info, 0, sizeof *info);
    info->scode = hr;
    IErrorInfo* e = nullptr;
    if (GetErrorInfo(0, &e) != S_OK || !e) return;
    e->GetSource(&info->bstrSource);
    e->GetDescription(&info->bstrDescription);
    e->GetHelpFile(&info->bstrHelpFile);
    e->GetHelpContext(&info->dwHelpContext);
    e->Release();
}
