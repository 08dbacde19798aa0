// The module's lock count, the static class factory and dispatch name
// lookup. Owns the lock count (one atomic word).
#include "platform/com/ComSupport.h"
#include <atomic>
#include <cstring>

static std::atomic<LONG> gModuleLocks{0};

void ComModule_Lock() { ++gModuleLocks; }
void ComModule_Unlock() { --gModuleLocks; }
LONG ComModule_LockCount() { return gModuleLocks.load(); }

// --- TComClassFactory -------------------------------------------------------

HRESULT TComClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

// The factory is static: references only keep the module loaded.
ULONG TComClassFactory::AddRef()
{
    ComModule_Lock();
    return 2;
}

ULONG TComClassFactory::Release()
{
    ComModule_Unlock();
    return 1;
}

HRESULT TComClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    if (!FCreator) return E_UNEXPECTED;
    return FCreator(riid, ppv);
}

HRESULT TComClassFactory::LockServer(BOOL fLock)
{
    if (fLock) ComModule_Lock();
    else ComModule_Unlock();
    return S_OK;
}

// --- The COM map -----------------------------------------------------------------

HRESULT Com_QueryMap(void* object, const TComMapEntry* map, size_t count, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!object || !map || count == 0) return E_NOINTERFACE;
    if (riid == IID_IUnknown) {
        IUnknown* self = map[0].get(object);
        self->AddRef();
        *ppv = self;
        return S_OK;
    }
    for (size_t i = 0; i < count; i++) {
        if (*map[i].iid == riid) {
            IUnknown* p = map[i].get(object);
            p->AddRef();
            *ppv = p;
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}

// --- Names ----------------------------------------------------------------------

static bool SameNameNoCase(LPCOLESTR wide, const char* name)
{
    size_t i = 0;
    for (; name[i]; i++) {
        char16_t a = wide[i];
        char16_t b = (unsigned char)name[i];
        if (a >= 'A' && a <= 'Z') a = a - 'A' + 'a';
        if (b >= 'A' && b <= 'Z') b = b - 'A' + 'a';
        if (a != b || a == 0) return false;
    }
    return wide[i] == 0;
}

HRESULT Disp_GetIDsOfNames(const TDispatchName* table, size_t count, LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId)
{
    if (!rgszNames || !rgDispId || cNames == 0) return E_INVALIDARG;
    HRESULT hr = S_OK;
    for (UINT k = 0; k < cNames; k++) rgDispId[k] = DISPID_UNKNOWN;
    if (rgszNames[0]) {
        for (size_t i = 0; i < count; i++) {
            if (table[i].name && SameNameNoCase(rgszNames[0], table[i].name)) {
                rgDispId[0] = table[i].dispid;
                break;
            }
        }
    }
    if (rgDispId[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    if (cNames > 1) hr = DISP_E_UNKNOWNNAME;
    return hr;
}
