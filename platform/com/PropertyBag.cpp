// The in-memory property bag: its entries (name, owned VARIANT) in the
// order first written, and the log of names asked for.
#include "platform/com/ComSupport.h"
#include <cstring>

static bool SameNameNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = (char)(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = (char)(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

TComPropertyBag::~TComPropertyBag()
{
    for (TEntry& e : FEntries) VariantClear(&e.value);
}

HRESULT TComPropertyBag::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IPropertyBag) {
        *ppv = static_cast<IPropertyBag*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG TComPropertyBag::AddRef() { return ++FRefs; }

ULONG TComPropertyBag::Release()
{
    ULONG n = --FRefs;
    if (n == 0) delete this;
    return n;
}

TComPropertyBag::TEntry* TComPropertyBag::FindEntry(const std::string& name)
{
    for (TEntry& e : FEntries)
        if (SameNameNoCase(e.name, name)) return &e;
    return nullptr;
}

const VARIANT* TComPropertyBag::Find(const std::string& name) const
{
    for (const TEntry& e : FEntries)
        if (SameNameNoCase(e.name, name)) return &e.value;
    return nullptr;
}

std::vector<std::string> TComPropertyBag::Names() const
{
    std::vector<std::string> names;
    for (const TEntry& e : FEntries) names.push_back(e.name);
    return names;
}

HRESULT TComPropertyBag::Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog)
{
    if (!pszPropName || !pVar) return E_POINTER;
    std::string name = Wide_ToText(pszPropName);
    FReadLog.push_back(name);
    TEntry* e = FindEntry(name);
    if (!e) return E_INVALIDARG;
    VARIANT value;
    VariantInit(&value);
    HRESULT hr;
    if (pVar->vt == VT_EMPTY) hr = VariantCopy(&value, &e->value);
    else hr = VariantChangeType(&value, &e->value, 0, pVar->vt);
    if (SUCCEEDED(hr)) hr = VariantClear(pVar);
    if (FAILED(hr)) {
        VariantClear(&value);
        if (pErrorLog) {
            EXCEPINFO info;
            memset(&info, 0, sizeof info);
            info.scode = hr;
            info.bstrDescription = Bstr_FromText("The value of " + name + " has the wrong type");
            pErrorLog->AddError(pszPropName, &info);
            ExcepInfo_Clear(&info);
        }
        return hr;
    }
    *pVar = value;
    return S_OK;
}

HRESULT TComPropertyBag::Write(LPCOLESTR pszPropName, VARIANT* pVar)
{
    if (!pszPropName || !pVar) return E_POINTER;
    std::string name = Wide_ToText(pszPropName);
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = VariantCopyInd(&copy, pVar);
    if (FAILED(hr)) return hr;
    if (TEntry* e = FindEntry(name)) {
        VariantClear(&e->value);
        e->value = copy;
    } else {
        FEntries.push_back({name, copy});
    }
    return S_OK;
}

HRESULT TComPropertyBag::WriteText(const std::string& name, const std::string& text)
{
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = Variant_SetText(&v, text);
    if (FAILED(hr)) return hr;
    std::u16string wide = Wide_FromText(name);
    hr = Write(wide.c_str(), &v);
    VariantClear(&v);
    return hr;
}
