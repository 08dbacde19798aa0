// An ieframe.dll that has the save function but not the dialog.
#include "platform/com/ComTypes.h"
extern "C" __attribute__((visibility("default"))) HRESULT IESaveFile(void*, const char16_t*) { return E_FAIL; }
