// The control as a page runs it: a scratch folder with its own registry,
// the COM server registered there by tavlin-host, and a page whose OBJECT
// and PARAM tags point the control at a recorder. The e2e tests define
// TAVLIN_HOST_PATH, TAVLIN_LIBRARY_PATH and TAVLIN_WINROOT.
#pragma once
#include "tests/support/Scratch.h"
#include "tests/support/Shell.h"
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// TavlinX's class identifier, as a page's OBJECT tag names it.
constexpr char kTavlinClassId[] = "{6E763B03-CC89-4D06-8415-AF1DBA3A844D}";

// A scratch folder under /tmp that holds the registry (TAVLIN_REGISTRY
// points there while it lives) and the test's files; removed at the end.
struct HostFolder {
    std::string dir;
    explicit HostFolder(const char* name)
    {
        dir = ScratchDir(name);
        setenv("TAVLIN_REGISTRY", (dir + "/registry").c_str(), 1);
    }
    ~HostFolder()
    {
        if (dir != "/tmp") Shell("rm -rf '" + dir + "'");
    }
    std::string Path(const std::string& file) const { return dir + "/" + file; }
};

// tavlin-host --register of the COM server into the current registry.
inline bool RegisterControl()
{
    return Shell(std::string(TAVLIN_HOST_PATH) + " --register " TAVLIN_LIBRARY_PATH " >/dev/null") == 0;
}

// Writes a page that runs the control against the recorder on 127.0.0.1
// at port, with the user key given (its part before the first "." is the
// user level: "9" shows all four pages). False when it cannot be written.
inline bool WritePage(const std::string& path, unsigned port, const std::string& userKey = "5F3A1B2C.1234.5678")
{
    FILE* f = fopen(path.c_str(), "w");
    if (!f) return false;
    fprintf(f,
            "<html><body><object id=\"TavlinX\" classid=\"clsid:%s\" width=1010 height=656>\n"
            "<param name=\"DVRIP\" value=\"127.0.0.1\">\n<param name=\"HTTP_PORT\" value=\"%u\">\n"
            "<param name=\"DVR_UK\" value=\"%s\">\n</object></body></html>\n",
            kTavlinClassId, port, userKey.c_str());
    return fclose(f) == 0;
}

// The command line that runs tavlin-host offscreen on a page, with the
// project's skins as the Windows folder; env: further NAME=VALUE words.
inline std::string HostOnPage(const std::string& page, const std::string& env = "")
{
    return "QT_QPA_PLATFORM=offscreen " + env + " systemroot='" TAVLIN_WINROOT "' " TAVLIN_HOST_PATH " --page '" +
           page + "'";
}
