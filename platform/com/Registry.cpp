// The file-backed registry. Owns the table of open key handles (each a
// root and a path, checked against the file on every use) and the mutex
// that orders this process's calls; the file itself is the only store:
// each call loads it, a change saves it whole under an exclusive lock file.
#include "platform/com/Registry.h"
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <pwd.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const size_t kMaxFileBytes = 16u << 20;
const size_t kMaxNameBytes = 255; // one key name
const size_t kMaxValueNameBytes = 16383;
const size_t kMaxDepth = 512;
const DWORD kMaxDataBytes = 1u << 20; // one value
const char kHeader[] = "TAVLIN-REGISTRY 1";

struct TRegValue {
    std::string name; // "" is the default value
    DWORD type;
    std::string data; // texts without their NUL; other types raw
};

struct TRegKey {
    std::string name;
    std::vector<TRegValue> values; // sorted by folded name
    std::vector<TRegKey> keys;     // sorted by folded name
};

const int kRootCount = 3;
const char* const kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};

struct TRegistry {
    TRegKey roots[kRootCount];
};

struct TKeyHandle {
    int root;
    std::vector<std::string> path;
    REGSAM sam;
};

std::mutex gMutex;
std::set<TKeyHandle*> gHandles;

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

std::string Fold(const std::string& s)
{
    std::string f = s;
    for (char& c : f)
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
    return f;
}

// Folded order, as unsigned bytes.
int CompareNoCase(const std::string& a, const std::string& b)
{
    std::string fa = Fold(a), fb = Fold(b);
    return fa.compare(fb) < 0 ? -1 : (fa == fb ? 0 : 1);
}

// Index of name in a sorted list, or where it would go (*found false).
template <class T> size_t Locate(const std::vector<T>& list, const std::string& name, bool* found)
{
    size_t lo = 0, hi = list.size();
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int c = CompareNoCase(list[mid].name, name);
        if (c == 0) {
            *found = true;
            return mid;
        }
        if (c < 0) lo = mid + 1;
        else hi = mid;
    }
    *found = false;
    return lo;
}

TRegKey* FindKey(TRegKey* key, const std::vector<std::string>& path)
{
    for (const std::string& part : path) {
        bool found;
        size_t i = Locate(key->keys, part, &found);
        if (!found) return nullptr;
        key = &key->keys[i];
    }
    return key;
}

TRegKey* MakeKey(TRegKey* key, const std::vector<std::string>& path, bool* created)
{
    *created = false;
    for (const std::string& part : path) {
        bool found;
        size_t i = Locate(key->keys, part, &found);
        if (!found) {
            TRegKey fresh;
            fresh.name = part;
            key->keys.insert(key->keys.begin() + (long)i, std::move(fresh));
            *created = true;
        }
        key = &key->keys[i];
    }
    return key;
}

TRegValue* FindValue(TRegKey* key, const std::string& name)
{
    bool found;
    size_t i = Locate(key->values, name, &found);
    return found ? &key->values[i] : nullptr;
}

// Sets a value; false when it already held exactly this.
bool PutValue(TRegKey* key, const std::string& name, DWORD type, const std::string& data)
{
    bool found;
    size_t i = Locate(key->values, name, &found);
    if (found) {
        TRegValue& v = key->values[i];
        if (v.type == type && v.data == data) return false;
        v.type = type;
        v.data = data;
        return true;
    }
    key->values.insert(key->values.begin() + (long)i, TRegValue{name, type, data});
    return true;
}

// --- Paths ------------------------------------------------------------------

// "a\b\c" into names; empty names (doubled or outer '\') are skipped.
bool SplitPath(const char* subKey, std::vector<std::string>* parts)
{
    parts->clear();
    if (!subKey) return true;
    std::string cur;
    for (const char* p = subKey;; p++) {
        if (*p == '\\' || *p == 0) {
            if (!cur.empty()) {
                if (cur.size() > kMaxNameBytes) return false;
                parts->push_back(cur);
                cur.clear();
            }
            if (*p == 0) break;
        } else {
            cur += *p;
        }
    }
    return parts->size() <= kMaxDepth;
}

int PredefinedRoot(HKEY key)
{
    uintptr_t v = (uintptr_t)key;
    if (v >= 0x80000000u && v < 0x80000000u + kRootCount) return (int)(v - 0x80000000u);
    return -1;
}

// What a handle names: root, path and access. ERROR_INVALID_HANDLE for
// anything that is neither a predefined root nor an open handle.
LONG Resolve(HKEY key, TKeyHandle* out)
{
    int root = PredefinedRoot(key);
    if (root >= 0) {
        out->root = root;
        out->path.clear();
        out->sam = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    TKeyHandle* h = (TKeyHandle*)key;
    if (!key || gHandles.find(h) == gHandles.end()) return ERROR_INVALID_HANDLE;
    *out = *h;
    return ERROR_SUCCESS;
}

bool IsRootHandle(const TKeyHandle& h) { return h.path.empty(); }

// --- The file -----------------------------------------------------------------

std::string FilePath()
{
    const char* env = getenv("TAVLIN_REGISTRY");
    if (env && *env) return env;
    const char* home = getenv("HOME");
    std::string dir;
    if (home && *home) dir = home;
    else if (struct passwd* pw = getpwuid(getuid())) dir = pw->pw_dir ? pw->pw_dir : "";
    if (dir.empty()) dir = "/tmp";
    return dir + "/.local/share/tavlin/registry";
}

void MakeParentDirs(const std::string& path)
{
    for (size_t i = 1; i < path.size(); i++) {
        if (path[i] == '/') {
            std::string dir = path.substr(0, i);
            mkdir(dir.c_str(), 0755); // existing ones fail harmlessly
        }
    }
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

const char kHex[] = "0123456789ABCDEF";

std::string EncodeKeyName(const std::string& name)
{
    std::string s;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '%') {
            s += '%';
            s += kHex[c >> 4];
            s += kHex[c & 15];
        } else {
            s += (char)c;
        }
    }
    return s;
}

bool DecodeKeyName(const std::string& text, std::string* name)
{
    name->clear();
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = (unsigned char)text[i];
        if (c < 0x20 || c == 0x7F) return false;
        if (c == '%') {
            if (i + 2 >= text.size()) return false;
            int h = HexValue(text[i + 1]), l = HexValue(text[i + 2]);
            if (h < 0 || l < 0) return false;
            c = (unsigned char)(h * 16 + l);
            if (c == 0) return false;
            i += 2;
        }
        *name += (char)c;
    }
    return !name->empty() && name->size() <= kMaxNameBytes && name->find('\\') == std::string::npos;
}

std::string Quote(const std::string& text)
{
    std::string s = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '\\': s += "\\\\"; break;
        case '"': s += "\\\""; break;
        case '\n': s += "\\n"; break;
        case '\r': s += "\\r"; break;
        case '\t': s += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                s += "\\x";
                s += kHex[c >> 4];
                s += kHex[c & 15];
            } else {
                s += (char)c;
            }
        }
    }
    return s + "\"";
}

// Reads a quoted text at line[*pos]; *pos moves past it.
bool Unquote(const std::string& line, size_t* pos, std::string* text)
{
    size_t i = *pos;
    if (i >= line.size() || line[i] != '"') return false;
    text->clear();
    for (i++; i < line.size(); i++) {
        unsigned char c = (unsigned char)line[i];
        if (c == '"') {
            *pos = i + 1;
            return true;
        }
        if (c < 0x20 || c == 0x7F) return false;
        if (c != '\\') {
            *text += (char)c;
            continue;
        }
        if (++i >= line.size()) return false;
        switch (line[i]) {
        case '\\': *text += '\\'; break;
        case '"': *text += '"'; break;
        case 'n': *text += '\n'; break;
        case 'r': *text += '\r'; break;
        case 't': *text += '\t'; break;
        case 'x': {
            if (i + 2 >= line.size()) return false;
            int h = HexValue(line[i + 1]), l = HexValue(line[i + 2]);
            if (h < 0 || l < 0 || (h == 0 && l == 0)) return false;
            *text += (char)(h * 16 + l);
            i += 2;
            break;
        }
        default: return false;
        }
    }
    return false;
}

std::string FormatValue(const TRegValue& v)
{
    std::string s = v.name.empty() ? "@" : Quote(v.name);
    s += '=';
    if (v.type == REG_SZ) {
        s += Quote(v.data);
    } else if (IsText(v.type)) {
        s += "str(" + std::to_string(v.type) + "):" + Quote(v.data);
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        uint32_t d = (uint32_t)(unsigned char)v.data[0] | (uint32_t)(unsigned char)v.data[1] << 8 |
                     (uint32_t)(unsigned char)v.data[2] << 16 | (uint32_t)(unsigned char)v.data[3] << 24;
        s += "dword:";
        for (int i = 7; i >= 0; i--) s += kHex[(d >> (4 * i)) & 15];
    } else {
        s += "hex(" + std::to_string(v.type) + "):";
        for (size_t i = 0; i < v.data.size(); i++) {
            unsigned char c = (unsigned char)v.data[i];
            if (i) s += ',';
            s += kHex[c >> 4];
            s += kHex[c & 15];
        }
    }
    return s + "\n";
}

// Reads "N)" at line[*pos] (after "str(" or "hex(").
bool ReadTypeNumber(const std::string& line, size_t* pos, DWORD* type)
{
    size_t i = *pos;
    uint64_t v = 0;
    size_t start = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9' && i - start < 10)
        v = v * 10 + (uint64_t)(line[i++] - '0');
    if (i == start || v > 0xFFFFFFFFu || i >= line.size() || line[i] != ')') return false;
    *type = (DWORD)v;
    *pos = i + 1;
    return true;
}

bool ParseValue(const std::string& line, TRegValue* v)
{
    size_t i = 0;
    if (line[0] == '@') {
        v->name.clear();
        i = 1;
    } else {
        if (!Unquote(line, &i, &v->name) || v->name.empty() || v->name.size() > kMaxValueNameBytes) return false;
    }
    if (i >= line.size() || line[i] != '=') return false;
    i++;
    std::string rest = line.substr(i);
    if (!rest.empty() && rest[0] == '"') {
        v->type = REG_SZ;
        size_t p = 0;
        return Unquote(rest, &p, &v->data) && p == rest.size();
    }
    if (rest.compare(0, 4, "str(") == 0) {
        size_t p = 4;
        if (!ReadTypeNumber(rest, &p, &v->type) || !IsText(v->type)) return false;
        if (p >= rest.size() || rest[p] != ':') return false;
        p++;
        return Unquote(rest, &p, &v->data) && p == rest.size();
    }
    if (rest.compare(0, 6, "dword:") == 0) {
        if (rest.size() != 14) return false;
        uint32_t d = 0;
        for (size_t k = 6; k < 14; k++) {
            int h = HexValue(rest[k]);
            if (h < 0) return false;
            d = d << 4 | (uint32_t)h;
        }
        v->type = REG_DWORD;
        v->data.assign(4, 0);
        for (int k = 0; k < 4; k++) v->data[(size_t)k] = (char)(d >> (8 * k));
        return true;
    }
    if (rest.compare(0, 4, "hex(") == 0) {
        size_t p = 4;
        if (!ReadTypeNumber(rest, &p, &v->type) || IsText(v->type)) return false;
        if (p >= rest.size() || rest[p] != ':') return false;
        p++;
        v->data.clear();
        while (p < rest.size()) {
            if (p + 2 > rest.size()) return false;
            int h = HexValue(rest[p]), l = HexValue(rest[p + 1]);
            if (h < 0 || l < 0) return false;
            v->data += (char)(h * 16 + l);
            p += 2;
            if (p < rest.size()) {
                if (rest[p] != ',' || p + 1 == rest.size()) return false;
                p++;
            }
        }
        return v->data.size() <= kMaxDataBytes;
    }
    return false;
}

bool Parse(const std::string& text, TRegistry* reg)
{
    *reg = TRegistry();
    if (text.empty()) return true;
    size_t pos = 0;
    bool first = true;
    TRegKey* current = nullptr;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (first) {
            if (line != kHeader) return false;
            first = false;
            continue;
        }
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            if (line.size() < 3 || line.back() != ']') return false;
            std::string inner = line.substr(1, line.size() - 2);
            size_t cut = inner.find('\\');
            std::string rootName = inner.substr(0, cut);
            int root = -1;
            for (int r = 0; r < kRootCount; r++)
                if (rootName == kRootNames[r]) root = r;
            if (root < 0) return false;
            std::vector<std::string> path;
            while (cut != std::string::npos) {
                size_t next = inner.find('\\', cut + 1);
                std::string part;
                if (!DecodeKeyName(
                        inner.substr(cut + 1, next == std::string::npos ? std::string::npos : next - cut - 1), &part))
                    return false;
                path.push_back(part);
                if (path.size() > kMaxDepth) return false;
                cut = next;
            }
            bool created;
            current = MakeKey(&reg->roots[root], path, &created);
            continue;
        }
        TRegValue v;
        if (!current || !ParseValue(line, &v)) return false;
        PutValue(current, v.name, v.type, v.data);
    }
    return !first;
}

// One key's section and those of everything below it. Root sections that
// hold no values are left out of the file (withEmptyRoot false).
void WriteKey(const TRegKey& key, const std::string& fullName, bool isRoot, bool withEmptyRoot, std::string* out)
{
    if (!isRoot || withEmptyRoot || !key.values.empty()) {
        *out += "[" + fullName + "]\n";
        for (const TRegValue& v : key.values) *out += FormatValue(v);
    }
    for (const TRegKey& k : key.keys) WriteKey(k, fullName + "\\" + EncodeKeyName(k.name), false, false, out);
}

std::string Serialize(const TRegistry& reg)
{
    std::string out = std::string(kHeader) + "\n";
    for (int r = 0; r < kRootCount; r++) WriteKey(reg.roots[r], kRootNames[r], true, false, &out);
    return out;
}

// Loads the registry; a missing file is an empty one. *corrupt: the file
// exists but is no registry (it then counts as empty).
void Load(const std::string& path, TRegistry* reg, bool* corrupt)
{
    *reg = TRegistry();
    *corrupt = false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    std::string text;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, (size_t)n);
        if (text.size() > kMaxFileBytes) break;
    }
    close(fd);
    if (text.size() > kMaxFileBytes || !Parse(text, reg)) {
        *reg = TRegistry();
        *corrupt = true;
    }
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += (size_t)n;
    }
    return true;
}

// Replaces the file: a temporary file beside it, then rename. A corrupt
// predecessor is kept as FILE.corrupt.
LONG Save(const std::string& path, const TRegistry& reg, bool corruptBefore)
{
    std::string tmp = path + ".XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back(0);
    int fd = mkstemp(name.data());
    if (fd < 0) return ERROR_CANTWRITE;
    bool ok = WriteAll(fd, Serialize(reg)) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && corruptBefore) rename(path.c_str(), (path + ".corrupt").c_str());
    if (!ok || rename(name.data(), path.c_str()) != 0) {
        unlink(name.data());
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
}

// A change: the whole read-modify-write runs under the lock file, so that
// processes do not lose each other's changes. f(reg) returns an error code
// and sets *changed when the file must be written.
template <class F> LONG Modify(F f)
{
    std::string path = FilePath();
    MakeParentDirs(path);
    int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) {
        // Nowhere to write: a call that changes nothing still answers.
        TRegistry reg;
        bool corrupt, changed = false;
        Load(path, &reg, &corrupt);
        LONG r = f(reg, &changed);
        return r == ERROR_SUCCESS && changed ? ERROR_CANTWRITE : r;
    }
    while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {}
    TRegistry reg;
    bool corrupt;
    Load(path, &reg, &corrupt);
    bool changed = false;
    LONG r = f(reg, &changed);
    if (r == ERROR_SUCCESS && changed) r = Save(path, reg, corrupt);
    flock(lock, LOCK_UN);
    close(lock);
    return r;
}

TRegistry LoadNow()
{
    TRegistry reg;
    bool corrupt;
    Load(FilePath(), &reg, &corrupt);
    return reg;
}

// The key a handle names in reg, or null (its key is gone).
TRegKey* KeyOf(TRegistry& reg, const TKeyHandle& h) { return FindKey(&reg.roots[h.root], h.path); }

LONG NewHandle(int root, std::vector<std::string> path, REGSAM sam, PHKEY result)
{
    TKeyHandle* h = new (std::nothrow) TKeyHandle{root, std::move(path), sam};
    if (!h) return ERROR_OUTOFMEMORY;
    gHandles.insert(h);
    *result = (HKEY)h;
    return ERROR_SUCCESS;
}

std::string ValueName(const char* name) { return name ? std::string(name) : std::string(); }

// A value's bytes as RegQueryValueEx gives them.
std::string ValueBytes(const TRegValue& v) { return IsText(v.type) ? v.data + '\0' : v.data; }

LONG GiveData(const std::string& bytes, BYTE* data, DWORD* cbData)
{
    if (data) {
        if (!cbData) return ERROR_INVALID_PARAMETER;
        if (*cbData < bytes.size()) {
            *cbData = (DWORD)bytes.size();
            return ERROR_MORE_DATA;
        }
        memcpy(data, bytes.data(), bytes.size());
    }
    if (cbData) *cbData = (DWORD)bytes.size();
    return ERROR_SUCCESS;
}

// Deleted-key error for an open handle, not-found for a path below it.
LONG MissingBase(const TKeyHandle& h) { return IsRootHandle(h) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED; }

} // namespace

// --- Keys ----------------------------------------------------------------------

LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD reserved, char* className, DWORD options, REGSAM sam,
                    void* security, PHKEY result, DWORD* disposition)
{
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard<std::mutex> guard(gMutex);
    TKeyHandle base;
    LONG r = Resolve(key, &base);
    if (r != ERROR_SUCCESS) return r;
    std::vector<std::string> parts;
    if (!SplitPath(subKey, &parts) || base.path.size() + parts.size() > kMaxDepth) return ERROR_INVALID_PARAMETER;
    if (!parts.empty() && !(base.sam & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    bool created = false;
    r = Modify([&](TRegistry& reg, bool* changed) {
        TRegKey* k = KeyOf(reg, base);
        if (!k) return MissingBase(base);
        MakeKey(k, parts, &created);
        *changed = created;
        return ERROR_SUCCESS;
    });
    if (r != ERROR_SUCCESS) return r;
    std::vector<std::string> path = base.path;
    path.insert(path.end(), parts.begin(), parts.end());
    r = NewHandle(base.root, std::move(path), sam, result);
    if (r == ERROR_SUCCESS && disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return r;
}

LONG RegCreateKey(HKEY key, const char* subKey, PHKEY result)
{
    return RegCreateKeyEx(key, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, result, nullptr);
}

LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM sam, PHKEY result)
{
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard<std::mutex> guard(gMutex);
    TKeyHandle base;
    LONG r = Resolve(key, &base);
    if (r != ERROR_SUCCESS) return r;
    std::vector<std::string> parts;
    if (!SplitPath(subKey, &parts)) return ERROR_INVALID_PARAMETER;
    TRegistry reg = LoadNow();
    TRegKey* k = KeyOf(reg, base);
    if (!k) return MissingBase(base);
    if (!FindKey(k, parts)) return ERROR_FILE_NOT_FOUND;
    std::vector<std::string> path = base.path;
    path.insert(path.end(), parts.begin(), parts.end());
    return NewHandle(base.root, std::move(path), sam, result);
}

LONG RegOpenKey(HKEY key, const char* subKey, PHKEY result)
{
    return RegOpenKeyEx(key, subKey, 0, KEY_ALL_ACCESS, result);
}

LONG RegCloseKey(HKEY key)
{
    if (PredefinedRoot(key) >= 0) return ERROR_SUCCESS;
    std::lock_guard<std::mutex> guard(gMutex);
    auto it = gHandles.find((TKeyHandle*)key);
    if (!key || it == gHandles.end()) return ERROR_INVALID_HANDLE;
    delete *it;
    gHandles.erase(it);
    return ERROR_SUCCESS;
}

LONG RegDeleteKey(HKEY key, const char* subKey)
{
    std::lock_guard<std::mutex> guard(gMutex);
    TKeyHandle base;
    LONG r = Resolve(key, &base);
    if (r != ERROR_SUCCESS) return r;
    std::vector<std::string> parts;
    if (!SplitPath(subKey, &parts)) return ERROR_INVALID_PARAMETER;
    std::vector<std::string> path = base.path;
    path.insert(path.end(), parts.begin(), parts.end());
    if (path.empty()) return ERROR_ACCESS_DENIED; // a root stays
    return Modify([&](TRegistry& reg, bool* changed) {
        if (!KeyOf(reg, base)) return MissingBase(base);
        std::vector<std::string> parentPath(path.begin(), path.end() - 1);
        TRegKey* parent = FindKey(&reg.roots[base.root], parentPath);
        bool found = false;
        size_t i = parent ? Locate(parent->keys, path.back(), &found) : 0;
        if (!found) return ERROR_FILE_NOT_FOUND;
        if (!parent->keys[i].keys.empty()) return ERROR_ACCESS_DENIED;
        parent->keys.erase(parent->keys.begin() + (long)i);
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteTree(HKEY key, const char* subKey)
{
    std::lock_guard<std::mutex> guard(gMutex);
    TKeyHandle base;
    LONG r = Resolve(key, &base);
    if (r != ERROR_SUCCESS) return r;
    std::vector<std::string> parts;
    if (!SplitPath(subKey, &parts)) return ERROR_INVALID_PARAMETER;
    return Modify([&](TRegistry& reg, bool* changed) {
        TRegKey* k = KeyOf(reg, base);
        if (!k) return MissingBase(base);
        if (parts.empty()) {
            *changed = !k->keys.empty() || !k->values.empty();
            k->keys.clear();
            k->values.clear();
            return ERROR_SUCCESS;
        }
        std::vector<std::string> parentPath(parts.begin(), parts.end() - 1);
        TRegKey* parent = FindKey(k, parentPath);
        bool found = false;
        size_t i = parent ? Locate(parent->keys, parts.back(), &found) : 0;
        if (!found) return ERROR_FILE_NOT_FOUND;
        parent->keys.erase(parent->keys.begin() + (long)i);
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumKey(HKEY key, DWORD index, char* name, DWORD cchName)
{
    if (!name) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(gMutex);
    TKeyHandle base;
    LONG r = Resolve(key, &base);
    if (r != ERROR_SUCCESS) return r;
    TRegistry reg = LoadNow();
    TRegKey* k = KeyOf(reg, base);
    if (!k) return MissingBase(base);
    if (index >= k->keys.size()) return ERROR_NO_MORE_ITEMS;
    const std::string& n = k->keys[index].name;
    if (cchName <= n.size()) return ERROR_MORE_DATA;
    memcpy(name, n.c_str(), n.size() + 1);
    return ERROR_SUCCESS;
}

// --- Values -----------------------------------------------------------------------

LONG RegSetValueEx(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD cbData)
{
    if (cbData && !data) return ERROR_INVALID_PARAMETER;
    if (cbData > kMaxDataBytes) return ERROR_INVALID_PARAMETER;
    std::string name = ValueName(valueName);
    if (name.size() > kMaxValueNameBytes) return ERROR_INVALID_PARAMETER;
    std::string bytes(reinterpret_cast<const char*>(data ? data : (const BYTE*)""), cbData);
    if (IsText(type)) bytes = bytes.substr(0, bytes.find('\0'));
    std::lock_guard<std::mutex> guard(gMutex);
    TKeyHandle base;
    LONG r = Resolve(key, &base);
    if (r != ERROR_SUCCESS) return r;
    if (!(base.sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return Modify([&](TRegistry& reg, bool* changed) {
        TRegKey* k = KeyOf(reg, base);
        if (!k) return MissingBase(base);
        *changed = PutValue(k, name, type, bytes);
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* cbData)
{
    std::lock_guard<std::mutex> guard(gMutex);
    TKeyHandle base;
    LONG r = Resolve(key, &base);
    if (r != ERROR_SUCCESS) return r;
    TRegistry reg = LoadNow();
    TRegKey* k = KeyOf(reg, base);
    if (!k) return MissingBase(base);
    TRegValue* v = FindValue(k, ValueName(valueName));
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->type;
    return GiveData(ValueBytes(*v), data, cbData);
}

LONG RegDeleteValue(HKEY key, const char* valueName)
{
    std::string name = ValueName(valueName);
    std::lock_guard<std::mutex> guard(gMutex);
    TKeyHandle base;
    LONG r = Resolve(key, &base);
    if (r != ERROR_SUCCESS) return r;
    if (!(base.sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return Modify([&](TRegistry& reg, bool* changed) {
        TRegKey* k = KeyOf(reg, base);
        if (!k) return MissingBase(base);
        bool found;
        size_t i = Locate(k->values, name, &found);
        if (!found) return ERROR_FILE_NOT_FOUND;
        k->values.erase(k->values.begin() + (long)i);
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumValue(HKEY key, DWORD index, char* name, DWORD* cchName, DWORD* reserved, DWORD* type, BYTE* data,
                  DWORD* cbData)
{
    if (!name || !cchName) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(gMutex);
    TKeyHandle base;
    LONG r = Resolve(key, &base);
    if (r != ERROR_SUCCESS) return r;
    TRegistry reg = LoadNow();
    TRegKey* k = KeyOf(reg, base);
    if (!k) return MissingBase(base);
    if (index >= k->values.size()) return ERROR_NO_MORE_ITEMS;
    const TRegValue& v = k->values[index];
    if (*cchName <= v.name.size()) return ERROR_MORE_DATA;
    memcpy(name, v.name.c_str(), v.name.size() + 1);
    *cchName = (DWORD)v.name.size();
    if (type) *type = v.type;
    return GiveData(ValueBytes(v), data, cbData);
}

// --- Conveniences -------------------------------------------------------------------

LONG Registry_SetText(HKEY root, const char* keyPath, const char* valueName, const std::string& text)
{
    std::string name = ValueName(valueName);
    if (name.size() > kMaxValueNameBytes || text.size() > kMaxDataBytes) return ERROR_INVALID_PARAMETER;
    std::string data = text.substr(0, text.find('\0'));
    std::lock_guard<std::mutex> guard(gMutex);
    TKeyHandle base;
    LONG r = Resolve(root, &base);
    if (r != ERROR_SUCCESS) return r;
    std::vector<std::string> parts;
    if (!SplitPath(keyPath, &parts) || base.path.size() + parts.size() > kMaxDepth) return ERROR_INVALID_PARAMETER;
    return Modify([&](TRegistry& reg, bool* changed) {
        TRegKey* k = KeyOf(reg, base);
        if (!k) return MissingBase(base);
        bool created;
        k = MakeKey(k, parts, &created);
        *changed = PutValue(k, name, REG_SZ, data) || created;
        return ERROR_SUCCESS;
    });
}

LONG Registry_GetText(HKEY root, const char* keyPath, const char* valueName, std::string* text)
{
    if (!text) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(gMutex);
    TKeyHandle base;
    LONG r = Resolve(root, &base);
    if (r != ERROR_SUCCESS) return r;
    std::vector<std::string> parts;
    if (!SplitPath(keyPath, &parts)) return ERROR_INVALID_PARAMETER;
    TRegistry reg = LoadNow();
    TRegKey* k = KeyOf(reg, base);
    if (!k) return MissingBase(base);
    k = FindKey(k, parts);
    if (!k) return ERROR_FILE_NOT_FOUND;
    TRegValue* v = FindValue(k, ValueName(valueName));
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (!IsText(v->type)) return ERROR_INVALID_PARAMETER;
    *text = v->data;
    return ERROR_SUCCESS;
}

std::string Registry_Dump(HKEY root, const char* keyPath)
{
    std::lock_guard<std::mutex> guard(gMutex);
    TKeyHandle base;
    if (Resolve(root, &base) != ERROR_SUCCESS) return std::string();
    std::vector<std::string> parts;
    if (!SplitPath(keyPath, &parts)) return std::string();
    TRegistry reg = LoadNow();
    std::vector<std::string> path = base.path;
    path.insert(path.end(), parts.begin(), parts.end());
    TRegKey* k = FindKey(&reg.roots[base.root], path);
    if (!k) return std::string();
    // The key's stored names, in their stored case.
    std::string fullName = kRootNames[base.root];
    TRegKey* walk = &reg.roots[base.root];
    for (const std::string& part : path) {
        walk = FindKey(walk, {part});
        fullName += "\\" + EncodeKeyName(walk->name);
    }
    std::string out;
    WriteKey(*k, fullName, true, true, &out);
    return out;
}

std::string Registry_FilePath() { return FilePath(); }
