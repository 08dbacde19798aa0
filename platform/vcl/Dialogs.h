// Message boxes and the common dialogs (open, save, font). Every one of
// them passes one process-wide hook first, so tests and scripted runs
// answer them; without a hook on a machine without a display they answer
// their default at once. Each shown dialog is kept in a short log.
#pragma once
#include "platform/vcl/Graphics.h"
#include "platform/vcl/Vcl.h"

#include <functional>
#include <vector>

// Message box flags and answers (the Windows values).
enum : int {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_ABORTRETRYIGNORE = 0x2,
    MB_YESNOCANCEL = 0x3,
    MB_YESNO = 0x4,
    MB_RETRYCANCEL = 0x5,
    MB_ICONHAND = 0x10,
    MB_ICONERROR = 0x10,
    MB_ICONSTOP = 0x10,
    MB_ICONQUESTION = 0x20,
    MB_ICONEXCLAMATION = 0x30,
    MB_ICONWARNING = 0x30,
    MB_ICONASTERISK = 0x40,
    MB_ICONINFORMATION = 0x40,
    MB_DEFBUTTON1 = 0x0,
    MB_DEFBUTTON2 = 0x100,
    MB_DEFBUTTON3 = 0x200,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7 };

enum TVclDialogKind { vdkMessageBox, vdkShowMessage, vdkOpenDialog, vdkSaveDialog, vdkFontDialog };

// What a dialog asks. Text is the message (or the proposed file name),
// Caption the title, Flags the MB_* flags (or the dialog's Options bits).
// A hook answering a file dialog may set FileName; a font dialog's hook may
// change *Font.
struct TVclDialogRequest {
    TVclDialogKind Kind = vdkMessageBox;
    AnsiString Text;
    AnsiString Caption;
    int Flags = 0;
    AnsiString Filter;
    AnsiString DefaultExt;
    AnsiString FileName;
    TFont* Font = nullptr;
};

// Returns the answer: an ID* value for message boxes (IDOK for
// ShowMessage), non-zero for a confirmed file or font dialog, or
// kVclDialogUnanswered to let the dialog go on as if there were no hook
// (the real dialog, or its default without a display).
typedef std::function<int(TVclDialogRequest& request)> TVclDialogHook;
constexpr int kVclDialogUnanswered = -1;
// Null removes the hook. The hook is one for the whole process: modules
// with their own copy of the library (a COM server) ask it too.
void Vcl_SetDialogHook(TVclDialogHook hook);

struct TVclDialogRecord {
    TVclDialogKind Kind;
    AnsiString Text;
    AnsiString Caption;
    int Flags;
    int Answer;
};
// The last dialogs shown (at most 256, oldest first).
const std::vector<TVclDialogRecord>& Vcl_DialogLog();
void Vcl_ClearDialogLog();

// The answer a message box gives without a user: its default button.
int Vcl_DefaultAnswer(int flags);

int Application_MessageBox(const char* text, const char* caption, int flags);
void ShowMessage(const AnsiString& text);

// --- Common dialogs --------------------------------------------------------

enum TOpenOption {
    ofReadOnly = 0x1,
    ofOverwritePrompt = 0x2,
    ofHideReadOnly = 0x4,
    ofNoChangeDir = 0x8,
    ofShowHelp = 0x10,
    ofNoValidate = 0x20,
    ofAllowMultiSelect = 0x40,
    ofExtensionDifferent = 0x80,
    ofPathMustExist = 0x100,
    ofFileMustExist = 0x200,
    ofCreatePrompt = 0x400,
    ofEnableSizing = 0x800,
};
typedef unsigned TOpenOptions;

class TCommonDialog : public TComponent {
public:
    explicit TCommonDialog(TComponent* AOwner) : TComponent(AOwner) {}
    // Runs the dialog; true when the user confirmed it.
    virtual bool Execute() = 0;
};

// Filter: "Description|*.ext|Other|*.*"; FileName is the proposed and then
// the chosen file.
class TOpenDialog : public TCommonDialog {
public:
    explicit TOpenDialog(TComponent* AOwner) : TCommonDialog(AOwner) {}
    AnsiString FileName() const { return FFileName; }
    void SetFileName(const AnsiString& value) { FFileName = value; }
    AnsiString Filter() const { return FFilter; }
    void SetFilter(const AnsiString& value) { FFilter = value; }
    int FilterIndex() const { return FFilterIndex; }
    void SetFilterIndex(int value) { FFilterIndex = value; }
    AnsiString DefaultExt() const { return FDefaultExt; }
    void SetDefaultExt(const AnsiString& value) { FDefaultExt = value; }
    AnsiString InitialDir() const { return FInitialDir; }
    void SetInitialDir(const AnsiString& value) { FInitialDir = value; }
    AnsiString Title() const { return FTitle; }
    void SetTitle(const AnsiString& value) { FTitle = value; }
    TOpenOptions Options() const { return FOptions; }
    void SetOptions(TOpenOptions value) { FOptions = value; }
    bool Execute() override;

protected:
    bool Run(bool save);

private:
    AnsiString FFileName, FFilter, FDefaultExt, FInitialDir, FTitle;
    int FFilterIndex = 1;
    TOpenOptions FOptions = ofHideReadOnly | ofEnableSizing;
};

class TSaveDialog : public TOpenDialog {
public:
    explicit TSaveDialog(TComponent* AOwner) : TOpenDialog(AOwner) {}
    bool Execute() override;
};

// Font starts as the platform's default font, named by the family the
// platform really draws it with.
class TFontDialog : public TCommonDialog {
public:
    explicit TFontDialog(TComponent* AOwner);
    TFont* Font() { return &FFont; }
    bool Execute() override;

private:
    TFont FFont;
};
