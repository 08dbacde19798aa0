// The library's exports: the class object, registration, the unload query,
// and the entry point that fills the process-wide version record.
#include "control/TavlinXImpl.h"
#include "media/Backup.h"
#include "platform/com/Registry.h"
#include "platform/win/Win.h"
#include "media/Audio.h"

#define TAVLIN_EXPORT extern "C" __attribute__((visibility("default")))

// Read by the backup code: major version 6 or more selects the
// protected-mode save path.
OSVERSIONINFOA gVersionInfo;

enum { DLL_PROCESS_DETACH = 0, DLL_PROCESS_ATTACH = 1 };

static int DllEntryPoint(void* instance, uint32_t reason, void* reserved)
{
    gVersionInfo.dwOSVersionInfoSize = sizeof gVersionInfo;
    GetVersionExA(&gVersionInfo);
    return 1;
}

// The loader's process attach and detach.
__attribute__((constructor)) static void LibraryAttach() { DllEntryPoint(nullptr, DLL_PROCESS_ATTACH, nullptr); }
__attribute__((destructor)) static void LibraryDetach() { DllEntryPoint(nullptr, DLL_PROCESS_DETACH, nullptr); }

TAVLIN_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(rclsid == CLSID_TavlinX)) return CLASS_E_CLASSNOTAVAILABLE;
    return TavlinX_ClassFactory()->QueryInterface(riid, ppv);
}

// Asked with no object or lock left, the page that showed the control is
// gone: its sound stops then (while an object lives, the sound plays on).
// The library stays loaded once the form runs, since its timer, sockets
// and audio thread go on calling into it.
TAVLIN_EXPORT HRESULT DllCanUnloadNow()
{
    if (ComModule_LockCount() != 0) return S_FALSE;
    // A backup the closing page left running ends as a stop ends it.
    Backup_Close();
    Audio_StopForUnload();
    return TavlinX_FormRunning() ? S_FALSE : S_OK;
}

TAVLIN_EXPORT HRESULT DllRegisterServer()
{
    HRESULT hr = TavlinX_UpdateRegistry(true);
    if (SUCCEEDED(hr)) hr = TavlinX_RegisterTypeLib();
    return hr;
}

TAVLIN_EXPORT HRESULT DllUnregisterServer() { return TavlinX_UpdateRegistry(false); }
