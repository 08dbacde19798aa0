// Type libraries: a server's description of its library, interfaces,
// events, enumerations and classes, given as text and compiled into the
// server, where the loader finds it again in the server's file (as the
// resource of a type library is found in a library on Windows).
//
// The text, one item a line, words separated by blanks, "..." for texts:
//   %%type-library%%                       (first line: marks the resource)
//   library NAME {LIBID} MAJOR.MINOR "documentation"
//   enum NAME                              then:  value NAME NUMBER
//   interface NAME {IID} [dual] "doc"      then:  property NAME DISPID TYPE get|put|get put
//   dispinterface NAME {IID} "doc"         then:  method NAME DISPID [PARAM:TYPE[:in|out|inout]]...
//   coclass NAME {CLSID} "doc"             then:  implements NAME [default] [source]
// TYPE is a VARTYPE name (VT_BOOL, VT_I2, VT_I4, VT_UI4, VT_BSTR,
// VT_DISPATCH, VT_VARIANT) or the name of an enumeration of the library
// (carried as VT_I4). Lines starting with '#' and blank lines are skipped.
#pragma once
#include "platform/com/ComInterfaces.h"

// Builds the library from its text (n bytes, or up to a NUL). A line that
// cannot be read fails with TYPE_E_CANTLOADLIBRARY.
HRESULT TypeLib_FromText(const char* text, size_t n, ITypeLib** library);
// Reads the library's description out of the file at path (a server).
HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** library);
// The registered library TypeLib\{LIBID}\MAJOR.MINOR\0\win32, loaded.
// Not registered: TYPE_E_LIBNOTREGISTERED.
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** library);
