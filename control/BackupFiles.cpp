// Backup files: naming, choosing and finishing. Owns the base name, the
// destination folders per part, the protected-mode save state and the
// folder opener seam.
#include "control/BackupFiles.h"
#include "media/Hooks.h"
#include "control/TavlinImpl1.h"
#include "control/View.h"
#include "media/Backup.h"
#include "media/Stream.h"
#include "panel/Month.h"
#include "platform/com/ComTypes.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/StdCtrls.h"
#include "platform/win/IeFrame.h"
#include "platform/win/Library.h"
#include "platform/win/Win.h"
#include <cstdio>
#include <cstring>
#include <ctime>

char gBackupBaseName[BACKUP_BASE_NAME_SIZE];
char gBackupDestDirs[BACKUP_DEST_DIRS][BACKUP_PATH_SIZE];
HANDLE gIeSaveState = nullptr;

static TFolderOpener gFolderOpener = nullptr;
// The working file of the part chosen last on the protected-mode path
// ("" when the part is written in place), and where it goes.
static char gWorkingFile[BACKUP_PATH_SIZE];
static char gChosenDest[BACKUP_PATH_SIZE];
// Where each finished part of the running backup is, for the messages.
enum { BACKUP_SHOWN_PARTS = 32 };
static char gShownNames[BACKUP_SHOWN_PARTS][BACKUP_PATH_SIZE];

void Backup_SetFolderOpener(TFolderOpener opener) { gFolderOpener = opener; }

uint32_t Clock_NowNumber()
{
    time_t now = (time_t)Win_TimeNow();
    struct tm local;
    if (!localtime_r(&now, &local)) return 0;
    TDateParts d;
    int year = local.tm_year + 1900;
    if (year < 2000) return 0;
    d.year = (uint16_t)(year > 2099 ? 2099 : year);
    d.month = (uint16_t)(local.tm_mon + 1);
    d.day = (uint16_t)local.tm_mday;
    d.hour = (uint16_t)local.tm_hour;
    d.minute = (uint16_t)local.tm_min;
    d.second = (uint16_t)(local.tm_sec > 59 ? 59 : local.tm_sec);
    return Date_ToSeconds(d);
}

void Backup_MakeFileName(uint32_t channel, uint32_t time, char* out)
{
    if (!out) return;
    TDateParts d;
    Date_FromSeconds(time, &d);
    snprintf(out, BACKUP_BASE_NAME_SIZE, "ch%02u_%4u%02u%02u_%02u%02u%02u_%09u.mov", channel, (unsigned)d.year,
             (unsigned)d.month, (unsigned)d.day, (unsigned)d.hour, (unsigned)d.minute, (unsigned)d.second,
             Clock_NowNumber());
}

int Backup_ProtectedMode()
{
    OSVERSIONINFOA v;
    memset(&v, 0, sizeof v);
    v.dwOSVersionInfoSize = sizeof v;
    return GetVersionExA(&v) && v.dwMajorVersion >= 6 ? 1 : 0;
}

// The folder of a path with its trailing separator, and its file name.
static void SplitPath(const char* path, char* folder, size_t folderSize, const char** name)
{
    const char* slash = nullptr;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') slash = p;
    size_t n = slash ? (size_t)(slash - path) + 1 : 0;
    if (folder && folderSize) snprintf(folder, folderSize, "%.*s", (int)n, path);
    if (name) *name = slash ? slash + 1 : path;
}

static uint32_t DirIndex(uint32_t part) { return part < BACKUP_DEST_DIRS ? part : BACKUP_DEST_DIRS - 1; }

static void ShowChosen(const char* name)
{
    if (gViewerForm && gViewerForm->Label1) gViewerForm->Label1->SetCaption(name);
}

// Part n's proposed name: the base name for part 0 (made anew), else the
// base cut at its ".mov" with "(n)". 0, or -1 when it cannot be made.
static int ProposedName(uint32_t part, char* out, size_t size)
{
    if (part == 0) {
        const TViewRecord* v = gConnections[0].view;
        if (!v) return -1;
        Backup_MakeFileName(v->backupBlock.backupChannel + 1, v->backupBlock.backupStart, gBackupBaseName);
        snprintf(out, size, "%s", gBackupBaseName);
        return 0;
    }
    return Backup_PartFileName(gBackupBaseName, part, out, (uint32_t)size);
}

// Releases a dialog state whose part will not be saved.
static void Cancel(HMODULE lib, HANDLE state)
{
    auto cancel = reinterpret_cast<TIECancelSaveFile>(GetProcAddress(lib, "IECancelSaveFile"));
    if (cancel && state) cancel(state);
}

int Backup_ChooseFile()
{
    uint32_t part = gBackupBlock.part;
    if (part == 0 && gBackupBlock.state == BACKUP_STATE_START) return 0;
    if (!gBackupSaveDialog) return 0;
    char name[BACKUP_PATH_SIZE];
    if (ProposedName(part, name, sizeof name) != 0) return 0;
    gWorkingFile[0] = 0;
    if (part == 0) {
        memset(gBackupDestDirs, 0, sizeof gBackupDestDirs);
        memset(gShownNames, 0, sizeof gShownNames);
    }

    if (!Backup_ProtectedMode()) {
        gBackupSaveDialog->SetFileName(name);
        if (!gBackupSaveDialog->Execute()) return 0;
        AnsiString chosen = gBackupSaveDialog->FileName();
        const char* file = nullptr;
        SplitPath(chosen.c_str(), gBackupDestDirs[DirIndex(part)], BACKUP_PATH_SIZE, &file);
        ShowChosen(file);
        return 1;
    }

    HMODULE lib = LoadLibrary("ieframe.dll");
    if (!lib) {
        ShowMessage("Can't find ieframe.dll");
        return 0;
    }
    auto dialog = reinterpret_cast<TIEShowSaveFileDialog>(GetProcAddress(lib, "IEShowSaveFileDialog"));
    if (!dialog) {
        FreeLibrary(lib);
        ShowMessage("Can't find IEShowSaveFileDialog");
        return 0;
    }
    WCHAR wide[BACKUP_WIDE_NAME];
    Win_Widen(name, wide, BACKUP_WIDE_NAME);
    WCHAR filter[64], ext[8];
    Win_Widen("QuickTime's File (*.mov)|*.mov|All Files|*.*|", filter, 64);
    Win_Widen("mov", ext, 8);
    LPWSTR destination = nullptr;
    HANDLE state = nullptr;
    HWND owner = gViewerForm ? (HWND)gViewerForm->Handle() : nullptr;
    HRESULT hr = dialog(owner, wide, nullptr, filter, ext, 1, IE_SAVE_FLAGS, &destination, &state);
    if (hr != S_OK) {
        if (destination) CoTaskMemFree(destination);
        FreeLibrary(lib);
        return 0;
    }
    std::string dest = Win_Narrow(destination);
    CoTaskMemFree(destination);

    // The working file in the profile's LocalLow folder, which the writer
    // fills and the finish moves.
    char working[BACKUP_PATH_SIZE];
    int n = snprintf(working, sizeof working, "%s\\AppData\\LocalLow\\%s", Win_GetEnv("USERPROFILE"), name);
    std::string mapped = Win_MapPath(working);
    FILE* f = nullptr;
    if (n > 0 && (size_t)n < sizeof working && mapped.size() < sizeof gWorkingFile) {
        Win_ForceDirectories(Win_MapPath(std::string(working, strrchr(working, '\\') - working).c_str()).c_str());
        f = fopen(mapped.c_str(), "wb");
    }
    if (!f || fclose(f) != 0) {
        Cancel(lib, state);
        FreeLibrary(lib);
        ShowMessage("The working file " + mapped + " cannot be created.");
        return 0;
    }
    // A state chosen earlier and never used (its part did not start) is
    // released first.
    if (gIeSaveState) Cancel(lib, gIeSaveState);
    gIeSaveState = state;
    snprintf(gWorkingFile, sizeof gWorkingFile, "%s", mapped.c_str());
    snprintf(gChosenDest, sizeof gChosenDest, "%s", dest.c_str());
    gBackupSaveDialog->SetFileName(mapped);
    const char* file = nullptr;
    SplitPath(dest.c_str(), gBackupDestDirs[DirIndex(part)], BACKUP_PATH_SIZE, &file);
    ShowChosen(file);
    FreeLibrary(lib);
    return 1;
}

static void OpenFolder(const char* folder)
{
    if (!folder || !*folder) return;
    if (gFolderOpener) gFolderOpener(folder);
    else Win_OpenFolder(folder);
}

static void ReportBroken(uint32_t why, const char* file)
{
    switch (why) {
    case BACKUP_BROKEN_CREATE:
        ShowMessage(AnsiString("The backup file ") + file + " cannot be created. The backup has stopped.");
        break;
    case BACKUP_BROKEN_WRITE:
        ShowMessage(AnsiString("The backup file ") + file +
                    " could not be written (the disk may be full). It is not complete; the backup has stopped.");
        break;
    case BACKUP_BROKEN_EMPTY: ShowMessage(AnsiString("No video reached the backup file ") + file + "."); break;
    default: break;
    }
}

// A recorder time as the user reads it: "yyyy/mm/dd hh:mm:ss".
static AnsiString TimeText(uint32_t t)
{
    TDateParts d;
    Date_FromSeconds(t, &d);
    char text[48];
    snprintf(text, sizeof text, "%04u/%02u/%02u %02u:%02u:%02u", (unsigned)d.year, (unsigned)d.month, (unsigned)d.day,
             (unsigned)d.hour, (unsigned)d.minute, (unsigned)d.second);
    return text;
}

// Where part n of the running backup is (or would be).
static AnsiString ShownName(uint32_t part)
{
    if (part < BACKUP_SHOWN_PARTS && gShownNames[part][0]) return gShownNames[part];
    char name[BACKUP_PATH_SIZE];
    if (Backup_PartFileName(gBackupBlock.chosenName, part, name, sizeof name) == 0) return name;
    return gBackupBlock.chosenName;
}

static const char* EndText(uint32_t reason)
{
    switch (reason) {
    case BACKUP_END_STOP: return "the backup was stopped";
    case BACKUP_END_MODE: return "the Backup page was left";
    case BACKUP_END_CLOSE: return "the page was closed";
    case BACKUP_END_SILENCE: return "the recorder sent nothing more";
    case BACKUP_END_LINK: return "the link to the recorder was lost and did not come back";
    default: return nullptr;
    }
}

// Nothing copied is lost without a word: the parts that ended before their
// span did, and a backup that ended before its end mark, with the time the
// copy reaches and the file that holds it.
static void TellEnd()
{
    AnsiString text;
    uint32_t done = gBackupPartsDone;
    for (uint32_t i = 0; i < gBackupNoteCount && i < BACKUP_NOTES; ++i) {
        const TBackupNote& n = gBackupNotes[i];
        AnsiString line =
            ShownName(n.part) + " ends at " + TimeText(n.reached) +
            (n.why == BACKUP_NOTE_FULL ? ": the movie holds no more (key frames this often, or a gap in the recording)."
                                       : ": the link to the recorder was lost.");
        if (n.part + 1 < done)
            line += AnsiString(" The copy goes on in ") + ShownName(n.part + 1) + " from " + TimeText(n.resumed) + ".";
        text += (text.empty() ? "" : "\n") + line;
    }
    if (const char* why = EndText(gBackupEndReason)) {
        AnsiString line = AnsiString("The backup ended before its end mark (") + why + "): ";
        if (gBackupReachedAny && done > 0)
            line += AnsiString("the copy reaches ") + TimeText(gBackupReached) + ", in " + ShownName(done - 1) + ".";
        else line += "nothing was copied.";
        text += (text.empty() ? "" : "\n") + line;
    }
    if (!text.empty()) ShowMessage(text);
}

void Backup_FinishFiles()
{
    if (!gBackupSaveDialog) return;
    uint32_t broken = gBackupPartBroken;
    // The part just closed: the one before a part that follows.
    uint32_t closed = gBackupBlock.part > 0 ? gBackupBlock.part - 1 : gBackupPartCount;
    if (broken == BACKUP_PART_UNOPENED) {
        // The backup ended before the part chosen last was opened: its
        // dialog state is released and its empty working file goes.
        if (gWorkingFile[0]) {
            if (HMODULE lib = LoadLibrary("ieframe.dll")) {
                Cancel(lib, gIeSaveState);
                FreeLibrary(lib);
            }
            gIeSaveState = nullptr;
            remove(gWorkingFile);
            gWorkingFile[0] = 0;
        }
    } else if (broken) {
        ReportBroken(broken, gBackupBlock.partName[0] ? gBackupBlock.partName : gBackupBlock.chosenName);
    } else if (Backup_ProtectedMode() && gWorkingFile[0]) {
        HRESULT hr = E_FAIL;
        if (HMODULE lib = LoadLibrary("ieframe.dll")) {
            auto save = reinterpret_cast<TIESaveFile>(GetProcAddress(lib, "IESaveFile"));
            if (save && gIeSaveState) {
                WCHAR wide[BACKUP_PATH_SIZE];
                Win_Widen(gBackupBlock.partName[0] ? gBackupBlock.partName : gWorkingFile, wide, BACKUP_PATH_SIZE);
                hr = save(gIeSaveState, wide);
                gIeSaveState = nullptr;
            }
            FreeLibrary(lib);
        }
        const char* file = gBackupBlock.partName[0] ? gBackupBlock.partName : gWorkingFile;
        if (hr != S_OK) {
            // The part stays where it was written; its folder is the one shown.
            SplitPath(file, gBackupDestDirs[DirIndex(closed)], BACKUP_PATH_SIZE, nullptr);
            ShowMessage(AnsiString("The backup file could not be moved to its folder; it stays at ") + file + ".");
        }
        if (closed < BACKUP_SHOWN_PARTS)
            snprintf(gShownNames[closed], BACKUP_PATH_SIZE, "%s", hr == S_OK ? gChosenDest : file);
        gWorkingFile[0] = 0;
    } else if (gBackupBlock.partName[0]) {
        // Written in place (or no destination was chosen for it): its folder
        // is where it is.
        SplitPath(gBackupBlock.partName, gBackupDestDirs[DirIndex(closed)], BACKUP_PATH_SIZE, nullptr);
        if (closed < BACKUP_SHOWN_PARTS) snprintf(gShownNames[closed], BACKUP_PATH_SIZE, "%s", gBackupBlock.partName);
    }
    if (gBackupBlock.part != 0) return;
    TellEnd();
    // The backup has ended: the folders of its complete parts.
    uint32_t count = gBackupPartsDone;
    if (count > BACKUP_DEST_DIRS) count = BACKUP_DEST_DIRS;
    for (uint32_t i = 0; i < count; ++i) OpenFolder(gBackupDestDirs[i]);
    Backup_ForgetParts();
}
