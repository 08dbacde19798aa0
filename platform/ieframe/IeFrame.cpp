// ieframe.dll on this machine: the protected-mode save dialog and the move
// of a finished working file to the chosen destination. The dialog is the
// class library's save dialog, so the one dialog hook answers it. Each state
// handle is a heap record holding the destination until IESaveFile.
#include "platform/com/ComTypes.h"
#include "platform/vcl/Dialogs.h"
#include "platform/win/IeFrame.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#define IEFRAME_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct SaveState {
    std::string destination;
};

// "Description|*.ext|Other|*.*|" without the trailing bar the library's
// dialog does not want.
std::string FilterOf(LPCWSTR filter)
{
    std::string f = Win_Narrow(filter);
    while (!f.empty() && f.back() == '|') f.pop_back();
    return f;
}

bool CopyFile(const char* from, const char* to)
{
    FILE* in = fopen(from, "rb");
    if (!in) return false;
    FILE* out = fopen(to, "wb");
    if (!out) {
        fclose(in);
        return false;
    }
    char buffer[65536];
    size_t n;
    bool ok = true;
    while (ok && (n = fread(buffer, 1, sizeof buffer, in)) > 0) ok = fwrite(buffer, 1, n, out) == n;
    if (ferror(in)) ok = false;
    fclose(in);
    if (fclose(out) != 0) ok = false;
    if (!ok) remove(to);
    return ok;
}

} // namespace

IEFRAME_EXPORT HRESULT IEShowSaveFileDialog(HWND, LPCWSTR initialFile, LPCWSTR initialDir, LPCWSTR filter,
                                            LPCWSTR defaultExt, DWORD filterIndex, DWORD flags, LPWSTR* destination,
                                            HANDLE* state)
{
    if (!destination || !state) return E_INVALIDARG;
    *destination = nullptr;
    *state = nullptr;
    TSaveDialog dialog(nullptr);
    dialog.SetFileName(Win_Narrow(initialFile));
    if (initialDir) dialog.SetInitialDir(Win_Narrow(initialDir));
    dialog.SetFilter(FilterOf(filter));
    dialog.SetDefaultExt(Win_Narrow(defaultExt));
    dialog.SetFilterIndex((int)filterIndex);
    TOpenOptions options = 0;
    if (flags & 0x2) options |= ofOverwritePrompt;
    if (flags & 0x4) options |= ofHideReadOnly;
    if (flags & 0x800) options |= ofPathMustExist;
    if (flags & 0x800000) options |= ofEnableSizing;
    dialog.SetOptions(options);
    if (!dialog.Execute()) return S_FALSE;
    std::string chosen = dialog.FileName();
    size_t units = chosen.size() * 2 + 1;
    auto* wide = (WCHAR*)CoTaskMemAlloc(units * sizeof(WCHAR));
    if (!wide) return E_OUTOFMEMORY;
    Win_Widen(chosen.c_str(), wide, units);
    *destination = wide;
    *state = new SaveState{chosen};
    return S_OK;
}

IEFRAME_EXPORT HRESULT IESaveFile(HANDLE state, LPCWSTR source)
{
    auto* s = static_cast<SaveState*>(state);
    if (!s) return E_INVALIDARG;
    std::string from = Win_Narrow(source);
    std::string to = s->destination;
    delete s;
    if (from.empty() || to.empty()) return E_INVALIDARG;
    if (rename(from.c_str(), to.c_str()) == 0) return S_OK;
    // Another file system: copied, then the working file removed.
    if (errno == EXDEV && CopyFile(from.c_str(), to.c_str())) {
        remove(from.c_str());
        return S_OK;
    }
    return E_FAIL;
}

IEFRAME_EXPORT HRESULT IECancelSaveFile(HANDLE state)
{
    delete static_cast<SaveState*>(state);
    return S_OK;
}
