// The four connection properties the hosting page sets, and the count of
// successful puts that gates connecting.
#pragma once
#include <cstdint>
#include "platform/com/OleAuto.h"

enum { PROP_DVRIP, PROP_HTTP_PORT, PROP_DVR_UK, PROP_HTTP_PAGE, PROP_COUNT };

// Successful puts of any property since the process started; never reset.
extern uint32_t gPropertyPutCount;
// gHttpPage, HTTP_PAGE as an integer, which the handshake reads: link/Hooks.h.

// The property's text as the session uses it ("" before any put).
const char* Property_Text(int index);
// The caller's VARIANT receives a copy of the stored value (empty before
// any put).
HRESULT Property_Get(int index, VARIANT* value);
// Stores the value and counts the put. A value with no text form fails
// with DISP_E_TYPEMISMATCH; an HTTP_PAGE that is not an integer fails with
// DISP_E_EXCEPTION and error information, keeping the new text only.
// Failed puts are not counted.
HRESULT Property_Put(int index, const VARIANT& value);
