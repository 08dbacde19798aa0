// Small COM objects for the tests: a counted object that answers only
// IUnknown, and a dispatch object with a scripted default value.
#pragma once
#include "platform/com/ComSupport.h"

// Counts its references; never deletes itself (lives on the stack).
struct TCountedUnknown : IUnknown {
    ULONG refs = 1;
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
};

// A dispatch object whose property get of DISPID_VALUE answers `value`
// (or fails with DISP_E_MEMBERNOTFOUND when hasValue is false).
struct TValueObject : IDispatch {
    ULONG refs = 1;
    bool hasValue = true;
    VARIANT value{};
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || !hasValue) return DISP_E_MEMBERNOTFOUND;
        return VariantCopy(result, &value);
    }
};
