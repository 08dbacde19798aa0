// What the control tests share: the one control of the test process
// (created once for all tests, since a process holds one viewer),
// VARIANTs made from texts and numbers, and a sink of its events.
#pragma once
#include "control/TavlinIds.h"
#include "control/TavlinProj1_TLB.h"
#include <vector>

// The control, as ITavlinX; it lives as long as the process.
ITavlinX* TestControl();

inline VARIANT Text(const char* s)
{
    VARIANT v;
    VariantInit(&v);
    Variant_SetText(&v, s);
    return v;
}

inline VARIANT Int(LONG n)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

// Counts the events a sink receives.
class EventSink : public IDispatch {
public:
    std::vector<DISPID> events;
    SHORT replaceKey = 0;
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_ITavlinXEvents) *ppv = this;
        if (!*ppv) return E_NOINTERFACE;
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        events.push_back(id);
        if (id == DISPID_TXE_OnKeyPress && p && p->cArgs == 1 && p->rgvarg[0].vt == (VT_BYREF | VT_I2) && replaceKey)
            *p->rgvarg[0].piVal = replaceKey;
        return S_OK;
    }
};
