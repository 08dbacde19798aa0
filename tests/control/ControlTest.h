// What the control tests share: the one control of the test process
// (created once for all tests, since a process holds one viewer) and
// VARIANTs made from texts and numbers.
#pragma once
#include "control/TavlinProj1_TLB.h"

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
