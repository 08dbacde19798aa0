// tavlin-host: the stand-in for the browser that embeds the control. It
// registers and unregisters COM servers, reads a hosting page's OBJECT and
// PARAM tags, creates the control from the registry, loads the PARAMs
// through the property bag and shows the control's form; scripted runs
// click, move, type and press keys on the form, answer its dialogs and
// write a screenshot.
#include "host/Page.h"
#include "host/Script.h"
#include "platform/com/Com.h"
#include "platform/com/Registry.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/Vcl.h"
#include "platform/win/Library.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: tavlin-host --register LIB | --unregister LIB\n"
    "       tavlin-host --dump-registry [KEY]\n"
    "       tavlin-host (--page FILE.html | --classid {CLSID}) [--param NAME=VALUE]...\n"
    "                   [--click X,Y,MS]... [--move X,Y,MS]... [--type X,Y,MS,TEXT]...\n"
    "                   [--key MS,Tab|Enter|Down|Up|Space]... [--read X,Y,MS]...\n"
    "                   [--shot MS,FILE]... [--window TITLE] (the steps after it go to that window)\n"
    "                   [--wait-text X,Y,LIMIT,TEXT]... [--wait-enabled X,Y,LIMIT]...\n"
    "                   [--wait-video LIMIT]... [--wait-msgbox LIMIT[,TEXT]]...\n"
    "                   [--wait-window LIMIT,TITLE]... (MS after a wait counts from when it was met)\n"
    "                   [--answer msgbox=ok|yes|no|cancel | save=PATH | open=PATH | font=FAMILY:SIZE]...\n"
    "                   [--screenshot FILE --after-ms N] [--run-ms N]\n"
    "                   [--events]\n";

struct TOptions {
    std::string registerLib, unregisterLib, page, classId, screenshot, dumpKey;
    bool dump = false, events = false;
    std::vector<std::pair<std::string, std::string>> params;
    std::vector<TScriptStep> steps;
    TScriptAnswers answers;
    int afterMs = -1, runMs = -1;
};

// The step an option adds, or null.
const TScriptAction* StepOption(const std::string& option)
{
    static const std::pair<const char*, TScriptAction> options[] = {
        {"--click", saClick},           {"--move", saMove},           {"--type", saType},
        {"--key", saKey},               {"--read", saRead},           {"--shot", saShot},
        {"--wait-text", saWaitText},    {"--wait-enabled", saWaitEnabled}, {"--wait-video", saWaitVideo},
        {"--wait-msgbox", saWaitMessageBox}, {"--wait-window", saWaitWindow},
    };
    for (auto& o : options)
        if (option == o.first) return &o.second;
    return nullptr;
}

bool ParseArgs(int argc, char** argv, TOptions& o)
{
    std::string window; // of the steps that follow
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto next = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--register") { if (!next(o.registerLib)) return false; }
        else if (a == "--unregister") { if (!next(o.unregisterLib)) return false; }
        else if (a == "--dump-registry") {
            o.dump = true;
            if (i + 1 < argc && argv[i + 1][0] != '-') o.dumpKey = argv[++i];
        } else if (a == "--page") { if (!next(o.page)) return false; }
        else if (a == "--classid") { if (!next(o.classId)) return false; }
        else if (a == "--param") {
            if (!next(v)) return false;
            size_t eq = v.find('=');
            if (eq == std::string::npos || eq == 0) return false;
            o.params.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (const TScriptAction* action = StepOption(a)) {
            TScriptStep s;
            if (!next(v) || !Script_ParseStep(*action, v, s)) return false;
            s.window = window;
            o.steps.push_back(s);
        } else if (a == "--window") {
            if (!next(window)) return false;
        } else if (a == "--answer") {
            if (!next(v) || !Script_AddAnswer(o.answers, v)) return false;
        } else if (a == "--screenshot") { if (!next(o.screenshot)) return false; }
        else if (a == "--after-ms") {
            if (!next(v)) return false;
            o.afterMs = atoi(v.c_str());
        } else if (a == "--run-ms") {
            if (!next(v)) return false;
            o.runMs = atoi(v.c_str());
        } else if (a == "--events") o.events = true;
        else return false;
    }
    if (!o.screenshot.empty() && o.afterMs < 0) return false;
    return true;
}

// Calls one of a server's registration exports.
int RunRegistration(const std::string& lib, const char* exportName)
{
    HMODULE m = LoadLibrary(lib.c_str());
    if (!m) {
        fprintf(stderr, "tavlin-host: cannot load %s: %s\n", lib.c_str(), Win_LibraryError().c_str());
        return 1;
    }
    auto fn = (TDllRegisterServer)GetProcAddress(m, exportName);
    if (!fn) {
        fprintf(stderr, "tavlin-host: %s has no %s\n", lib.c_str(), exportName);
        return 1;
    }
    HRESULT hr = fn();
    if (FAILED(hr)) {
        fprintf(stderr, "tavlin-host: %s failed: 0x%08X\n", exportName, (unsigned)hr);
        return 1;
    }
    printf("%s succeeded in %s\n", exportName, lib.c_str());
    return 0;
}

// Prints the control's events when asked to (--events).
class TEventSink : public IDispatch {
public:
    explicit TEventSink(const IID& iid) : FIid(iid) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == FIid) *ppv = static_cast<IDispatch*>(this);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++FRefs; }
    ULONG Release() override { return --FRefs; } // lives as long as the host
    HRESULT GetTypeInfoCount(UINT* n) override
    {
        if (n) *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        printf("event %d args=%u\n", (int)id, p ? p->cArgs : 0);
        fflush(stdout);
        return S_OK;
    }

private:
    IID FIid;
    std::atomic<ULONG> FRefs{1};
};

// The event interface of a class: the one connection point it offers.
bool FirstConnectionPoint(IUnknown* control, IConnectionPoint** cp, IID* iid)
{
    IConnectionPointContainer* cpc = nullptr;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, (void**)&cpc))) return false;
    IEnumConnectionPoints* e = nullptr;
    bool ok = false;
    if (SUCCEEDED(cpc->EnumConnectionPoints(&e)) && e) {
        ULONG got = 0;
        if (e->Next(1, cp, &got) == S_OK && got == 1) ok = SUCCEEDED((*cp)->GetConnectionInterface(iid));
        e->Release();
    }
    cpc->Release();
    return ok;
}

int RunControl(TOptions& o)
{
    // Every dialog the control shows passes here first: the scripted
    // answers, and with --events a line for each message box; the waits
    // for message boxes see them here.
    static TScriptMessageBoxes boxes;
    Vcl_SetDialogHook([&o](TVclDialogRequest& r) {
        if (r.Kind == vdkMessageBox || r.Kind == vdkShowMessage) {
            boxes.texts.push_back(r.Text);
            if (o.events) {
                printf("%s\n", Script_DescribeMessageBox(r).c_str());
                fflush(stdout);
            }
        }
        return Script_Answer(o.answers, r);
    });

    std::string classId = o.classId;
    std::vector<std::pair<std::string, std::string>> params;
    if (!o.page.empty()) {
        std::ifstream in(o.page, std::ios::binary);
        if (!in) {
            fprintf(stderr, "tavlin-host: cannot read %s\n", o.page.c_str());
            return 1;
        }
        std::stringstream text;
        text << in.rdbuf();
        TPageObject obj;
        if (!Page_FindObject(text.str(), obj)) {
            fprintf(stderr, "tavlin-host: %s has no OBJECT tag with a classid\n", o.page.c_str());
            return 1;
        }
        classId = obj.classId;
        params = obj.params;
    }
    for (auto& p : o.params) params.push_back(p);

    CLSID clsid;
    if (FAILED(CLSIDFromString(Wide_FromText(classId).c_str(), &clsid))) {
        fprintf(stderr, "tavlin-host: bad class id %s\n", classId.c_str());
        return 1;
    }
    std::string path;
    std::string key = "CLSID\\" + Guid_ToText(clsid) + "\\InprocServer32";
    if (Registry_GetText(HKEY_CLASSES_ROOT, key.c_str(), "", &path) != ERROR_SUCCESS || path.empty()) {
        fprintf(stderr, "tavlin-host: class %s is not registered (%s)\n", Guid_ToText(clsid).c_str(),
                Registry_FilePath().c_str());
        return 1;
    }
    HMODULE lib = LoadLibrary(path.c_str());
    if (!lib) {
        fprintf(stderr, "tavlin-host: cannot load %s: %s\n", path.c_str(), Win_LibraryError().c_str());
        return 1;
    }
    auto getClassObject = (TDllGetClassObject)GetProcAddress(lib, "DllGetClassObject");
    auto canUnloadNow = (TDllCanUnloadNow)GetProcAddress(lib, "DllCanUnloadNow");
    if (!getClassObject) {
        fprintf(stderr, "tavlin-host: %s exports no DllGetClassObject\n", path.c_str());
        return 1;
    }
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(clsid, IID_IClassFactory, (void**)&factory);
    if (FAILED(hr)) {
        fprintf(stderr, "tavlin-host: DllGetClassObject failed: 0x%08X\n", (unsigned)hr);
        return 1;
    }
    IUnknown* control = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IUnknown, (void**)&control);
    factory->Release();
    if (FAILED(hr)) {
        fprintf(stderr, "tavlin-host: CreateInstance failed: 0x%08X\n", (unsigned)hr);
        return 1;
    }

    IConnectionPoint* cp = nullptr;
    IID eventsIid;
    DWORD cookie = 0;
    TEventSink* sink = nullptr;
    if (o.events && FirstConnectionPoint(control, &cp, &eventsIid)) {
        sink = new TEventSink(eventsIid);
        cp->Advise(sink, &cookie);
    }

    IPersistPropertyBag* persist = nullptr;
    if (SUCCEEDED(control->QueryInterface(IID_IPersistPropertyBag, (void**)&persist))) {
        TComPropertyBag* bag = new TComPropertyBag;
        for (auto& p : params) bag->WriteText(p.first, p.second);
        hr = persist->Load(bag, nullptr);
        if (FAILED(hr)) fprintf(stderr, "tavlin-host: loading the PARAMs failed: 0x%08X\n", (unsigned)hr);
        bag->Release();
        persist->Release();
    }

    IOleWindow* window = nullptr;
    HWND hwnd = nullptr;
    if (SUCCEEDED(control->QueryInterface(IID_IOleWindow, (void**)&window))) {
        window->GetWindow(&hwnd);
        window->Release();
    }
    if (!hwnd) {
        fprintf(stderr, "tavlin-host: the control has no window\n");
        return 1;
    }
    Vcl_ShowWindow(hwnd, "tavlin-host");

    // The scripted run: the steps in their order and at their times, then
    // the screenshot and the end; a wait that timed out ends it at once.
    TComponent owner(nullptr);
    int exitCode = 0;
    const int endMs = !o.screenshot.empty() ? o.afterMs : o.runMs;
    Script_Run(&owner, hwnd, o.steps, endMs, &boxes, [&o, hwnd, &exitCode](bool ended) {
        if (!ended) exitCode = 1;
        if (!o.screenshot.empty() && Vcl_SaveWindowPng(hwnd, o.screenshot.c_str()) != 0) {
            fprintf(stderr, "tavlin-host: cannot write %s\n", o.screenshot.c_str());
            exitCode = 1;
        }
        // Without an end asked for, a wait that timed out still ends the run.
        Application_Terminate();
    });
    Application_Run();

    if (cp) {
        cp->Unadvise(cookie);
        cp->Release();
    }
    control->Release();
    // As a browser does before unloading: the server stops its audio here.
    if (canUnloadNow) canUnloadNow();
    fflush(stdout);
    // The viewer's state lives until the process ends; end it without
    // running the library's teardown under a live form.
    _Exit(exitCode);
}

} // namespace

int main(int argc, char** argv)
{
    TOptions o;
    if (argc < 2 || !ParseArgs(argc, argv, o)) {
        fputs(kUsage, stderr);
        return 2;
    }
    if (!o.registerLib.empty()) return RunRegistration(o.registerLib, "DllRegisterServer");
    if (!o.unregisterLib.empty()) return RunRegistration(o.unregisterLib, "DllUnregisterServer");
    if (o.dump) {
        fputs(Registry_Dump(HKEY_CLASSES_ROOT, o.dumpKey.c_str()).c_str(), stdout);
        return 0;
    }
    if (o.page.empty() && o.classId.empty()) {
        fputs(kUsage, stderr);
        return 2;
    }
    Application_Initialize(argc, argv);
    return RunControl(o);
}
