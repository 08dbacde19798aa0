// What a class's registration tells a container: its misc status per
// aspect, its verbs and its user type, read from HKEY_CLASSES_ROOT\CLSID.
// The registry's texts are not trusted: numbers are parsed strictly and a
// verb entry that does not parse is left out. No module state.
#include "platform/com/ComEnum.h"
#include "platform/com/ComSupport.h"
#include "platform/com/Registry.h"
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + Guid_ToText(clsid); }

bool Registered(REFCLSID clsid)
{
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, ClassKey(clsid).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// A whole decimal number (optional sign) that fits a LONG.
bool ParseLong(const std::string& text, LONG* out)
{
    if (text.empty() || text.size() > 11) return false;
    char* end = nullptr;
    long long v = strtoll(text.c_str(), &end, 10);
    if (!end || *end || v < -2147483648ll || v > 4294967295ll) return false;
    *out = (LONG)v;
    return true;
}

} // namespace

HRESULT OleRegGetMiscStatus(REFCLSID clsid, DWORD aspect, DWORD* status)
{
    if (!status) return E_INVALIDARG;
    *status = 0;
    if (!Registered(clsid)) return REGDB_E_CLASSNOTREG;
    const std::string key = ClassKey(clsid) + "\\MiscStatus";
    std::string text;
    if (Registry_GetText(HKEY_CLASSES_ROOT, (key + "\\" + std::to_string(aspect)).c_str(), "", &text) !=
            ERROR_SUCCESS &&
        Registry_GetText(HKEY_CLASSES_ROOT, key.c_str(), "", &text) != ERROR_SUCCESS)
        return S_OK; // the class says nothing: no flags
    LONG v = 0;
    if (!ParseLong(text, &v)) return REGDB_E_KEYMISSING;
    *status = (DWORD)v;
    return S_OK;
}

HRESULT OleRegEnumVerbs(REFCLSID clsid, IEnumOLEVERB** out)
{
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (!Registered(clsid)) return REGDB_E_CLASSNOTREG;
    const std::string key = ClassKey(clsid) + "\\Verb";
    HKEY verbs = nullptr;
    if (RegOpenKeyEx(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &verbs) != ERROR_SUCCESS) return OLEOBJ_E_NOVERBS;
    std::vector<std::u16string> names;
    std::vector<OLEVERB> found;
    char name[64];
    for (DWORD i = 0; RegEnumKey(verbs, i, name, sizeof name) == ERROR_SUCCESS; i++) {
        LONG number = 0;
        std::string entry;
        if (!ParseLong(name, &number) ||
            Registry_GetText(HKEY_CLASSES_ROOT, (key + "\\" + name).c_str(), "", &entry) != ERROR_SUCCESS)
            continue;
        // "name,flags,attributes": the name may itself hold commas.
        size_t second = entry.rfind(',');
        size_t first = second == std::string::npos || second == 0 ? std::string::npos : entry.rfind(',', second - 1);
        LONG flags = 0, attribs = 0;
        if (first == std::string::npos || !ParseLong(entry.substr(first + 1, second - first - 1), &flags) ||
            !ParseLong(entry.substr(second + 1), &attribs))
            continue;
        names.push_back(Wide_FromText(entry.substr(0, first)));
        found.push_back({number, nullptr, (DWORD)flags, (DWORD)attribs});
    }
    RegCloseKey(verbs);
    if (found.empty()) return OLEOBJ_E_NOVERBS;
    for (size_t i = 0; i < found.size(); i++) found[i].lpszVerbName = (LPOLESTR)names[i].c_str();
    std::stable_sort(found.begin(), found.end(), [](const OLEVERB& a, const OLEVERB& b) { return a.lVerb < b.lVerb; });
    return ComEnum_Create(IID_IEnumOLEVERB, std::move(found), out); // the names are copied
}

HRESULT OleRegGetUserType(REFCLSID clsid, DWORD form, LPOLESTR* userType)
{
    if (!userType) return E_INVALIDARG;
    *userType = nullptr;
    if (!Registered(clsid)) return REGDB_E_CLASSNOTREG;
    std::string text;
    if (Registry_GetText(HKEY_CLASSES_ROOT, (ClassKey(clsid) + "\\AuxUserType\\" + std::to_string(form)).c_str(), "",
                         &text) != ERROR_SUCCESS &&
        Registry_GetText(HKEY_CLASSES_ROOT, ClassKey(clsid).c_str(), "", &text) != ERROR_SUCCESS)
        return REGDB_E_READREGDB;
    std::u16string wide = Wide_FromText(text);
    *userType = ComEnumItem::CopyText((LPCOLESTR)wide.c_str());
    return *userType ? S_OK : E_OUTOFMEMORY;
}
