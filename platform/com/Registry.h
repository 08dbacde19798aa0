// The system registry, kept in one text file shared by every process of the
// user: the file named by the environment variable TAVLIN_REGISTRY, else
// $HOME/.local/share/tavlin/registry. Every call reads the file afresh and
// every change writes it back whole (temporary file, then rename, under a
// lock file), so processes see each other's writes. Key and value names
// compare ignoring ASCII case; 8-bit names and texts are UTF-8. A file that
// cannot be read as a registry counts as empty (and is kept aside as
// FILE.corrupt when the next change replaces it).
#pragma once
#include "platform/com/WinTypes.h"
#include <string>

struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_KEY_DELETED = 1018;

// Value types. Texts (REG_SZ, REG_EXPAND_SZ) are kept up to their first
// NUL and given back with one; other types are kept as raw bytes.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// subKey is a path of names separated by '\'; null or "" names key itself.
// A value name null or "" is the key's default value. Handles opened
// without KEY_SET_VALUE (KEY_CREATE_SUB_KEY) refuse to set or delete values
// (create subkeys) with ERROR_ACCESS_DENIED; the predefined roots allow all.
// A handle whose key was deleted answers ERROR_KEY_DELETED.
LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD reserved, char* className, DWORD options, REGSAM sam,
                    void* security, PHKEY result, DWORD* disposition);
LONG RegCreateKey(HKEY key, const char* subKey, PHKEY result); // KEY_ALL_ACCESS
LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM sam, PHKEY result);
LONG RegOpenKey(HKEY key, const char* subKey, PHKEY result); // KEY_ALL_ACCESS
LONG RegCloseKey(HKEY key);
LONG RegSetValueEx(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData);
// data null: *cbData := size needed. Too small: ERROR_MORE_DATA and the
// size needed. Missing value: ERROR_FILE_NOT_FOUND.
LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* cbData);
LONG RegDeleteValue(HKEY key, const char* valueName);
// Deletes a key that has no subkeys (ERROR_ACCESS_DENIED otherwise).
LONG RegDeleteKey(HKEY key, const char* subKey);
// Deletes subKey with all its subkeys and values; with subKey null, all of
// key's subkeys and values (key itself stays).
LONG RegDeleteTree(HKEY key, const char* subKey);
// Subkey names in case-insensitive order; ERROR_NO_MORE_ITEMS past the end.
// cchName counts the NUL; too small gives ERROR_MORE_DATA.
LONG RegEnumKey(HKEY key, DWORD index, char* name, DWORD cchName);
// Value names (the default value is "") in case-insensitive order.
// *cchName in: buffer size with the NUL; out: the name's length without.
LONG RegEnumValue(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, DWORD* type, BYTE* data,
                  DWORD* cbData);

// --- Conveniences ----------------------------------------------------------

// Creates keyPath under root (and its parents) and sets a REG_SZ value.
LONG Registry_SetText(HKEY root, const char* keyPath, const char* valueName, const std::string& text);
// A REG_SZ or REG_EXPAND_SZ value; ERROR_FILE_NOT_FOUND when the key or
// value is missing, ERROR_INVALID_PARAMETER when it is of another type.
LONG Registry_GetText(HKEY root, const char* keyPath, const char* valueName, std::string* text);
// keyPath under root with all below it, in the file's own form, sorted:
//   [HKEY_CLASSES_ROOT\CLSID\{...}]
//   @="TavlinX Control"
//   "ThreadingModel"="Apartment"
// one section per key, each followed by its values (default value first,
// then by name); texts quoted with \\ \" \n \r \t \xHH escapes, other types
// as dword:0000002A or hex(N):01,02. "" when the key does not exist.
std::string Registry_Dump(HKEY root, const char* keyPath);
// The file in use now.
std::string Registry_FilePath();
