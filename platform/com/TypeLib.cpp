// Type libraries read from their description text, and the loader that
// finds that text in a server's file. A library object owns its types;
// each type's info counts its references on the library.
#include "platform/com/TypeLib.h"
#include "platform/com/Registry.h"
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TFunc {
    std::string name;
    MEMBERID id = 0;
    INVOKEKIND kind = INVOKE_FUNC;
    VARTYPE type = VT_EMPTY;
    std::vector<std::string> paramNames;
    std::vector<VARTYPE> paramTypes;
    std::vector<USHORT> paramFlags;
};

struct TConst {
    std::string name;
    LONG value = 0;
};

struct TImpl {
    std::string name;
    INT flags = 0;
    int type = -1; // index in the library once resolved
};

class TTypeLibObject;

class TTypeInfoObject final : public ITypeInfo {
public:
    TTypeLibObject* lib = nullptr;
    UINT index = 0;
    TYPEKIND kind = TKIND_ENUM;
    GUID guid{};
    WORD flags = 0;
    std::string name, doc;
    std::vector<TFunc> funcs;
    std::vector<TConst> consts;
    std::vector<TImpl> impls;

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!(riid == IID_IUnknown || riid == IID_ITypeInfo)) return E_NOINTERFACE;
        *ppv = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetTypeAttr(TYPEATTR** attr) override;
    HRESULT GetFuncDesc(UINT i, FUNCDESC** desc) override
    {
        if (!desc) return E_POINTER;
        *desc = nullptr;
        if (i >= funcs.size()) return TYPE_E_ELEMENTNOTFOUND;
        const TFunc& f = funcs[i];
        *desc =
            new FUNCDESC{f.id, f.kind, f.type, (SHORT)f.paramTypes.size(), f.paramTypes.data(), f.paramFlags.data()};
        return S_OK;
    }
    HRESULT GetVarDesc(UINT i, VARDESC** desc) override
    {
        if (!desc) return E_POINTER;
        *desc = nullptr;
        if (i >= consts.size()) return TYPE_E_ELEMENTNOTFOUND;
        *desc = new VARDESC{(MEMBERID)(0x40000000 + i), consts[i].value};
        return S_OK;
    }
    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT max, UINT* count) override
    {
        if (!names || !count) return E_POINTER;
        *count = 0;
        for (const TFunc& f : funcs) {
            if (f.id != memid) continue;
            if (max > 0) names[(*count)++] = Bstr_FromText(f.name);
            for (size_t p = 0; p < f.paramNames.size() && *count < max; ++p)
                names[(*count)++] = Bstr_FromText(f.paramNames[p]);
            return S_OK;
        }
        for (size_t i = 0; i < consts.size(); ++i)
            if ((MEMBERID)(0x40000000 + i) == memid) {
                if (max > 0) names[(*count)++] = Bstr_FromText(consts[i].name);
                return S_OK;
            }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetRefTypeOfImplType(UINT i, HREFTYPE* ref) override
    {
        if (!ref) return E_POINTER;
        if (i >= impls.size() || impls[i].type < 0) return TYPE_E_ELEMENTNOTFOUND;
        *ref = (HREFTYPE)impls[i].type;
        return S_OK;
    }
    HRESULT GetImplTypeFlags(UINT i, INT* implFlags) override
    {
        if (!implFlags) return E_POINTER;
        if (i >= impls.size()) return TYPE_E_ELEMENTNOTFOUND;
        *implFlags = impls[i].flags;
        return S_OK;
    }
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override
    {
        if (!names || !ids || count == 0) return E_INVALIDARG;
        std::string wanted = Wide_ToText(names[0]);
        for (const TFunc& f : funcs) {
            if (strcasecmp(f.name.c_str(), wanted.c_str()) != 0) continue;
            ids[0] = f.id;
            HRESULT hr = S_OK;
            for (UINT n = 1; n < count; ++n) {
                ids[n] = MEMBERID_NIL;
                std::string p = Wide_ToText(names[n]);
                for (size_t k = 0; k < f.paramNames.size(); ++k)
                    if (strcasecmp(f.paramNames[k].c_str(), p.c_str()) == 0) ids[n] = (MEMBERID)k;
                if (ids[n] == MEMBERID_NIL) hr = DISP_E_UNKNOWNNAME;
            }
            return hr;
        }
        for (UINT n = 0; n < count; ++n) ids[n] = MEMBERID_NIL;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT GetDocumentation(MEMBERID memid, BSTR* nameOut, BSTR* docOut, DWORD* context, BSTR* helpFile) override
    {
        std::string n, d;
        if (memid == MEMBERID_NIL) {
            n = name;
            d = doc;
        } else {
            bool found = false;
            for (const TFunc& f : funcs)
                if (f.id == memid) {
                    n = f.name;
                    found = true;
                    break;
                }
            if (!found) return TYPE_E_ELEMENTNOTFOUND;
        }
        if (nameOut) *nameOut = Bstr_FromText(n);
        if (docOut) *docOut = d.empty() ? nullptr : Bstr_FromText(d);
        if (context) *context = 0;
        if (helpFile) *helpFile = nullptr;
        return S_OK;
    }
    HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) override;
    HRESULT GetContainingTypeLib(ITypeLib** library, UINT* at) override;
    void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }
    void ReleaseFuncDesc(FUNCDESC* desc) override { delete desc; }
    void ReleaseVarDesc(VARDESC* desc) override { delete desc; }
};

class TTypeLibObject final : public ITypeLib {
public:
    std::atomic<long> refs{1};
    GUID libid{};
    WORD major = 0, minor = 0;
    std::string name, doc;
    std::vector<std::unique_ptr<TTypeInfoObject>> types;

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!(riid == IID_IUnknown || riid == IID_ITypeLib)) return E_NOINTERFACE;
        *ppv = static_cast<ITypeLib*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return (ULONG)++refs; }
    ULONG Release() override
    {
        long n = --refs;
        if (n == 0) delete this;
        return (ULONG)n;
    }
    UINT GetTypeInfoCount() override { return (UINT)types.size(); }
    HRESULT GetTypeInfo(UINT i, ITypeInfo** info) override
    {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (i >= types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *info = types[i].get();
        AddRef();
        return S_OK;
    }
    HRESULT GetTypeInfoType(UINT i, TYPEKIND* kind) override
    {
        if (!kind) return E_POINTER;
        if (i >= types.size()) return TYPE_E_ELEMENTNOTFOUND;
        *kind = types[i]->kind;
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override
    {
        if (!info) return E_POINTER;
        *info = nullptr;
        for (size_t i = 0; i < types.size(); ++i)
            if (types[i]->kind != TKIND_ENUM && types[i]->guid == guid) return GetTypeInfo((UINT)i, info);
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetLibAttr(TLIBATTR** attr) override
    {
        if (!attr) return E_POINTER;
        *attr = new TLIBATTR{libid, 0, major, minor, 0};
        return S_OK;
    }
    HRESULT GetDocumentation(INT i, BSTR* nameOut, BSTR* docOut, DWORD* context, BSTR* helpFile) override
    {
        if (i < -1 || i >= (INT)types.size()) return TYPE_E_ELEMENTNOTFOUND;
        if (i >= 0) return types[(size_t)i]->GetDocumentation(MEMBERID_NIL, nameOut, docOut, context, helpFile);
        if (nameOut) *nameOut = Bstr_FromText(name);
        if (docOut) *docOut = doc.empty() ? nullptr : Bstr_FromText(doc);
        if (context) *context = 0;
        if (helpFile) *helpFile = nullptr;
        return S_OK;
    }
    void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }

private:
    ~TTypeLibObject() = default;
};

ULONG TTypeInfoObject::AddRef() { return lib->AddRef(); }
ULONG TTypeInfoObject::Release() { return lib->Release(); }

HRESULT TTypeInfoObject::GetTypeAttr(TYPEATTR** attr)
{
    if (!attr) return E_POINTER;
    *attr = new TYPEATTR{guid,  0,          kind,      (WORD)funcs.size(), (WORD)consts.size(), (WORD)impls.size(),
                         flags, lib->major, lib->minor};
    return S_OK;
}

HRESULT TTypeInfoObject::GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) { return lib->GetTypeInfo((UINT)ref, info); }

HRESULT TTypeInfoObject::GetContainingTypeLib(ITypeLib** library, UINT* at)
{
    if (!library) return E_POINTER;
    *library = lib;
    lib->AddRef();
    if (at) *at = index;
    return S_OK;
}

// --- Reading the text ----------------------------------------------------------

// The line's words; a "..." text is one word without its quotes.
bool Words(const std::string& line, std::vector<std::string>* out)
{
    out->clear();
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) return false;
            out->push_back(line.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        size_t end = line.find_first_of(" \t\r", i);
        if (end == std::string::npos) end = line.size();
        out->push_back(line.substr(i, end - i));
        i = end;
    }
    return true;
}

bool Number(const std::string& text, long* value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    *value = strtol(text.c_str(), &end, 0);
    return end && *end == 0;
}

bool VarType(const std::string& word, const TTypeLibObject& lib, VARTYPE* type)
{
    static const struct {
        const char* name;
        VARTYPE type;
    } kTypes[] = {{"VT_BOOL", VT_BOOL},      {"VT_I2", VT_I2},     {"VT_I4", VT_I4},
                  {"VT_UI4", VT_UI4},        {"VT_BSTR", VT_BSTR}, {"VT_DISPATCH", VT_DISPATCH},
                  {"VT_VARIANT", VT_VARIANT}};
    for (const auto& t : kTypes)
        if (word == t.name) {
            *type = t.type;
            return true;
        }
    for (const auto& t : lib.types)
        if (t->kind == TKIND_ENUM && t->name == word) {
            *type = VT_I4;
            return true;
        }
    return false;
}

bool ParseLine(const std::vector<std::string>& w, TTypeLibObject* lib)
{
    const std::string& what = w[0];
    TTypeInfoObject* current = lib->types.empty() ? nullptr : lib->types.back().get();
    auto newType = [&](TYPEKIND kind, size_t minWords) -> TTypeInfoObject* {
        if (w.size() < minWords) return nullptr;
        auto t = std::make_unique<TTypeInfoObject>();
        t->lib = lib;
        t->index = (UINT)lib->types.size();
        t->kind = kind;
        t->name = w[1];
        lib->types.push_back(std::move(t));
        return lib->types.back().get();
    };
    if (what == "library") {
        long major = 0, minor = 0;
        if (w.size() != 5 || !Guid_FromText(w[2].c_str(), &lib->libid)) return false;
        size_t dot = w[3].find('.');
        if (dot == std::string::npos || !Number(w[3].substr(0, dot), &major) || !Number(w[3].substr(dot + 1), &minor))
            return false;
        lib->name = w[1];
        lib->major = (WORD)major;
        lib->minor = (WORD)minor;
        lib->doc = w[4];
        return true;
    }
    if (what == "enum") return w.size() == 2 && newType(TKIND_ENUM, 2);
    if (what == "interface" || what == "dispinterface" || what == "coclass") {
        TYPEKIND kind = what == "coclass" ? TKIND_COCLASS : TKIND_DISPATCH;
        TTypeInfoObject* t = newType(kind, 4);
        if (!t || !Guid_FromText(w[2].c_str(), &t->guid)) return false;
        t->doc = w.back();
        t->flags = kind == TKIND_COCLASS ? (WORD)(TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL) : TYPEFLAG_FDISPATCHABLE;
        for (size_t i = 3; i + 1 < w.size(); ++i) {
            if (w[i] == "dual") t->flags |= TYPEFLAG_FDUAL;
            else return false;
        }
        return true;
    }
    if (!current) return false;
    if (what == "value" && current->kind == TKIND_ENUM) {
        long v = 0;
        if (w.size() != 3 || !Number(w[2], &v)) return false;
        current->consts.push_back(TConst{w[1], (LONG)v});
        return true;
    }
    if (what == "property" && current->kind == TKIND_DISPATCH) {
        long id = 0;
        TFunc f;
        if (w.size() < 5 || !Number(w[2], &id) || !VarType(w[3], *lib, &f.type)) return false;
        f.name = w[1];
        f.id = (MEMBERID)id;
        for (size_t i = 4; i < w.size(); ++i) {
            if (w[i] != "get" && w[i] != "put") return false;
            f.kind = w[i] == "get" ? INVOKE_PROPERTYGET : INVOKE_PROPERTYPUT;
            current->funcs.push_back(f);
        }
        return true;
    }
    if (what == "method" && current->kind == TKIND_DISPATCH) {
        long id = 0;
        TFunc f;
        if (w.size() < 3 || !Number(w[2], &id)) return false;
        f.name = w[1];
        f.id = (MEMBERID)id;
        for (size_t i = 3; i < w.size(); ++i) {
            std::vector<std::string> parts;
            std::stringstream ss(w[i]);
            for (std::string part; std::getline(ss, part, ':');) parts.push_back(part);
            VARTYPE type;
            if (parts.size() < 2 || parts.size() > 3 || !VarType(parts[1], *lib, &type)) return false;
            std::string dir = parts.size() == 3 ? parts[2] : "in";
            USHORT flags = dir == "in"      ? PARAMFLAG_FIN
                           : dir == "out"   ? PARAMFLAG_FOUT
                           : dir == "inout" ? (USHORT)(PARAMFLAG_FIN | PARAMFLAG_FOUT)
                                            : 0;
            if (!flags) return false;
            f.paramNames.push_back(parts[0]);
            f.paramTypes.push_back(flags & PARAMFLAG_FOUT ? (VARTYPE)(VT_BYREF | type) : type);
            f.paramFlags.push_back(flags);
        }
        current->funcs.push_back(f);
        return true;
    }
    if (what == "implements" && current->kind == TKIND_COCLASS) {
        if (w.size() < 2) return false;
        TImpl impl;
        impl.name = w[1];
        for (size_t i = 2; i < w.size(); ++i) {
            if (w[i] == "default") impl.flags |= IMPLTYPEFLAG_FDEFAULT;
            else if (w[i] == "source") impl.flags |= IMPLTYPEFLAG_FSOURCE;
            else return false;
        }
        current->impls.push_back(impl);
        return true;
    }
    return false;
}

const std::string& Marker()
{
    // Put together here, so that the loader's own code never holds it.
    static const std::string marker = std::string("%%type-") + "library%%\n";
    return marker;
}

} // namespace

HRESULT TypeLib_FromText(const char* text, size_t n, ITypeLib** library)
{
    if (!library) return E_POINTER;
    *library = nullptr;
    if (!text) return E_POINTER;
    std::string all(text, strnlen(text, n));
    if (all.compare(0, Marker().size(), Marker()) != 0) return TYPE_E_CANTLOADLIBRARY;
    TTypeLibObject* lib = new TTypeLibObject;
    std::stringstream lines(all.substr(Marker().size()));
    std::vector<std::string> words;
    bool ok = true, named = false;
    for (std::string line; ok && std::getline(lines, line);) {
        if (!Words(line, &words)) ok = false;
        else if (words.empty() || words[0][0] == '#') continue;
        else if (!named && words[0] != "library") ok = false;
        else {
            ok = ParseLine(words, lib);
            named = true;
        }
    }
    // The coclasses name their interfaces, which must be in the library.
    for (auto& t : lib->types)
        for (TImpl& impl : t->impls) {
            for (auto& other : lib->types)
                if (other->kind == TKIND_DISPATCH && other->name == impl.name) impl.type = (int)other->index;
            if (impl.type < 0) ok = false;
        }
    if (!ok || !named) {
        lib->Release();
        return TYPE_E_CANTLOADLIBRARY;
    }
    *library = lib;
    return S_OK;
}

HRESULT LoadTypeLib(LPCOLESTR path, ITypeLib** library)
{
    if (!library) return E_POINTER;
    *library = nullptr;
    if (!path) return E_INVALIDARG;
    std::ifstream file(Wide_ToText(path), std::ios::binary);
    if (!file) return TYPE_E_CANTLOADLIBRARY;
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    for (size_t at = bytes.find(Marker()); at != std::string::npos; at = bytes.find(Marker(), at + 1)) {
        if (SUCCEEDED(TypeLib_FromText(bytes.data() + at, bytes.size() - at, library))) return S_OK;
    }
    return TYPE_E_CANTLOADLIBRARY;
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID, ITypeLib** library)
{
    if (!library) return E_POINTER;
    *library = nullptr;
    const std::string key =
        "TypeLib\\" + Guid_ToText(libid) + "\\" + std::to_string(major) + "." + std::to_string(minor) + "\\0\\win32";
    std::string path;
    if (Registry_GetText(HKEY_CLASSES_ROOT, key.c_str(), "", &path) != ERROR_SUCCESS || path.empty())
        return TYPE_E_LIBNOTREGISTERED;
    std::u16string wide = Wide_FromText(path);
    return LoadTypeLib((LPCOLESTR)wide.c_str(), library);
}
