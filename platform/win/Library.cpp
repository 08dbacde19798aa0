// Run-time loading on the dynamic linker. Owns the per-thread text of the
// last loader error.
#include "platform/win/Library.h"
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

static thread_local std::string gLastError;

static void NoteError()
{
    const char* e = dlerror();
    gLastError = e ? e : "unknown loader error";
}

static std::string FullPath(const char* path)
{
    if (!path || !*path) return std::string();
    char resolved[PATH_MAX];
    if (realpath(path, resolved)) return resolved;
    return path;
}

static std::string ProgramFile()
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    return n > 0 ? std::string(exe, (size_t)n) : std::string();
}

HMODULE LoadLibrary(const char* path)
{
    if (!path || !*path) {
        gLastError = "no library name";
        return nullptr;
    }
    dlerror();
    void* h = nullptr;
    // A system library named the Windows way ("ieframe.dll") lives in the
    // system folder: $systemroot/SysWOW64 when that exists, else system32.
    size_t n = strlen(path);
    if (!strchr(path, '/') && n > 4 && strcasecmp(path + n - 4, ".dll") == 0) {
        const char* root = getenv("systemroot");
        if (!root || !*root) {
            gLastError = "no system folder for ";
            gLastError += path;
            return nullptr;
        }
        for (const char* folder : {"/SysWOW64/", "/system32/"}) {
            std::string file = std::string(root) + folder + path;
            if (access(file.c_str(), F_OK) != 0) continue;
            // A system library stays in the process once loaded: it carries
            // its own copy of the class library, whose unloading would take
            // the shared application state with it.
            h = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
            break;
        }
        if (!h) {
            const char* e = dlerror();
            gLastError = e ? e : std::string(path) + " not found in the system folder";
            return nullptr;
        }
        gLastError.clear();
        return h;
    }
    h = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!h) NoteError();
    else gLastError.clear();
    return h;
}

FARPROC GetProcAddress(HMODULE module, const char* name)
{
    if (!module || !name) {
        gLastError = "no module or no name";
        return nullptr;
    }
    dlerror();
    void* p = dlsym(module, name);
    if (!p) {
        NoteError();
        return nullptr;
    }
    gLastError.clear();
    return reinterpret_cast<FARPROC>(p);
}

BOOL FreeLibrary(HMODULE module)
{
    if (!module) return FALSE;
    return dlclose(module) == 0 ? TRUE : FALSE;
}

DWORD GetModuleFileName(HMODULE module, char* buffer, DWORD size)
{
    if (!buffer || size == 0) return 0;
    std::string path;
    if (!module) {
        path = ProgramFile();
    } else {
        struct link_map* map = nullptr;
        if (dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name) path = FullPath(map->l_name);
    }
    if (path.empty()) {
        buffer[0] = 0;
        return 0;
    }
    size_t n = path.size() < size - 1 ? path.size() : size - 1;
    memcpy(buffer, path.data(), n);
    buffer[n] = 0;
    return (DWORD)n;
}

std::string Win_ModuleFileName(const void* addressInside)
{
    Dl_info info;
    struct link_map* map = nullptr;
    if (!addressInside || dladdr1(addressInside, &info, (void**)&map, RTLD_DL_LINKMAP) == 0) return std::string();
    // The program itself has no name in the loader's list.
    if (!map || !map->l_name || !map->l_name[0]) return ProgramFile();
    return FullPath(map->l_name);
}

std::string Win_LibraryError() { return gLastError; }
