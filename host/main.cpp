// tavlin-host: the stand-in for the browser that embeds the control. It
// registers and unregisters COM servers, reads a hosting page's OBJECT and
// PARAM tags, creates the control from the registry and embeds it as a
// browser does (host/Container.h); scripted runs click, move, type and
// press keys on the control, answer its dialogs and write screenshots of
// it, drawn by the control itself.
#include "host/Container.h"
#include "host/Page.h"
#include "host/Script.h"
#include "platform/com/Com.h"
#include "platform/com/Registry.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/Vcl.h"
#include "platform/win/Library.h"

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
    "                   [--wait-text X,Y,LIMIT,TEXT]... [--wait-enabled|--wait-greyed X,Y,LIMIT]...\n"
    "                   [--wait-video LIMIT]... [--wait-msgbox LIMIT[,TEXT]]...\n"
    "                   [--wait-window LIMIT,TITLE]... [--wait-change X,Y,LIMIT]...\n"
    "                   [--wait-pixel X,Y,LIMIT,[!]RRGGBB[/TOLERANCE]]... [--wait-file LIMIT,PATH]...\n"
    "                   [--wait-redraw X,Y,W,H,LIMIT]...\n"
    "                   (MS after a wait counts from when it was met)\n"
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
        {"--click", saClick},
        {"--move", saMove},
        {"--type", saType},
        {"--key", saKey},
        {"--read", saRead},
        {"--shot", saShot},
        {"--wait-text", saWaitText},
        {"--wait-enabled", saWaitEnabled},
        {"--wait-greyed", saWaitGreyed},
        {"--wait-video", saWaitVideo},
        {"--wait-msgbox", saWaitMessageBox},
        {"--wait-window", saWaitWindow},
        {"--wait-change", saWaitChange},
        {"--wait-pixel", saWaitPixel},
        {"--wait-redraw", saWaitRedraw},
        {"--wait-file", saWaitFile},
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
        if (a == "--register") {
            if (!next(o.registerLib)) return false;
        } else if (a == "--unregister") {
            if (!next(o.unregisterLib)) return false;
        } else if (a == "--dump-registry") {
            o.dump = true;
            if (i + 1 < argc && argv[i + 1][0] != '-') o.dumpKey = argv[++i];
        } else if (a == "--page") {
            if (!next(o.page)) return false;
        } else if (a == "--classid") {
            if (!next(o.classId)) return false;
        } else if (a == "--param") {
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
        } else if (a == "--screenshot") {
            if (!next(o.screenshot)) return false;
        } else if (a == "--after-ms") {
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
    // Embedded as a browser embeds it; screenshots of it go through its
    // own drawing.
    TEmbedding embedded;
    std::string error;
    bool ok = Container_Embed(factory, params, o.events, &embedded, &error);
    factory->Release();
    if (!ok) {
        fprintf(stderr, "tavlin-host: %s\n", error.c_str());
        return 1;
    }
    HWND hwnd = embedded.controlWindow;
    Script_SetControlShooter([&embedded](const char* file) { return Container_SaveScreenshot(embedded, file); });

    // The scripted run: the steps in their order and at their times, then
    // the screenshot and the end; a wait that timed out ends it at once.
    TComponent owner(nullptr);
    int exitCode = 0;
    const int endMs = !o.screenshot.empty() ? o.afterMs : o.runMs;
    Script_Run(&owner, hwnd, o.steps, endMs, &boxes, [&o, &embedded, &exitCode](bool ended) {
        if (!ended) exitCode = 1;
        if (!o.screenshot.empty() && Container_SaveScreenshot(embedded, o.screenshot.c_str()) != 0) {
            fprintf(stderr, "tavlin-host: cannot write %s\n", o.screenshot.c_str());
            exitCode = 1;
        }
        // Without an end asked for, a wait that timed out still ends the run.
        Application_Terminate();
    });
    Application_Run();

    Container_Release(&embedded);
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
