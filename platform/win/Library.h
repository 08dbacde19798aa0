// Loading shared libraries at run time (LoadLibrary, GetProcAddress,
// FreeLibrary) and finding the file a piece of code was loaded from. Keeps
// the text of the last loader error for diagnostics.
#pragma once
#include "platform/com/WinTypes.h"
#include <string>

// Loads the library at path (a name without '/' is searched the system's
// way); null on failure (see Win_LibraryError). Symbols stay private to it.
// A bare "NAME.dll" is a system library: it is looked for in the system
// folder ($systemroot/SysWOW64, else $systemroot/system32) only, and stays
// loaded for the rest of the process (FreeLibrary then only releases it).
HMODULE LoadLibrary(const char* path);
// The exported function's address, or null.
FARPROC GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);
// The loaded file's full path into buffer (NUL-terminated, cut to fit);
// returns its length without the NUL, or 0. A null module is the program.
DWORD GetModuleFileName(HMODULE module, char* buffer, DWORD size);

// The full path of the executable or shared library that holds the given
// address (a function or variable of that module); "" when unknown.
std::string Win_ModuleFileName(const void* addressInside);
// Why the last LoadLibrary or GetProcAddress failed ("" when it did not).
std::string Win_LibraryError();
