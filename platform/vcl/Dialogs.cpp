// Message boxes and common dialogs: the one hook they all pass, the log of
// the last 256 dialogs, and the Qt dialogs shown when there is a display
// and no hook.
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/VclQt.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDialog>
#include <QFontInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QVariant>

#include <deque>

namespace {

TVclDialogHook gHook;
std::vector<TVclDialogRecord> gLog;
const size_t kLogLimit = 256;

// The hook is process-wide: a module that carries its own copy of the
// class library (the COM server) asks the same hook as the host that set
// it. The application object, which all copies share, holds its address.
const char kHookProperty[] = "vclDialogHook";

TVclDialogHook* SharedHook()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return gHook ? &gHook : nullptr;
    QVariant v = app->property(kHookProperty);
    auto* hook = reinterpret_cast<TVclDialogHook*>(v.isValid() ? v.value<quintptr>() : 0);
    return hook && *hook ? hook : nullptr;
}

void Record(const TVclDialogRequest& r, int answer)
{
    if (gLog.size() >= kLogLimit) gLog.erase(gLog.begin());
    gLog.push_back(TVclDialogRecord{r.Kind, r.Text, r.Caption, r.Flags, answer});
}

// The hook, else the default without a display, else the real dialog.
template <class Real> int Ask(TVclDialogRequest& r, int fallback, Real real)
{
    VclEnsureApplication();
    int answer = kVclDialogUnanswered;
    if (TVclDialogHook* hook = SharedHook()) answer = (*hook)(r);
    if (answer == kVclDialogUnanswered) answer = VclHeadless() ? fallback : real(r);
    Record(r, answer);
    return answer;
}

// The buttons of a message box type, in order.
std::vector<int> ButtonsOf(int flags)
{
    switch (flags & 0xF) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
    }
}

int RealMessageBox(const TVclDialogRequest& r)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(VclToQ(r.Caption));
    box.setText(VclToQ(r.Text));
    switch (r.Flags & 0xF0) {
    case MB_ICONHAND: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONEXCLAMATION: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONASTERISK: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    std::vector<int> ids = ButtonsOf(r.Flags);
    std::vector<QAbstractButton*> buttons;
    for (int id : ids) {
        QMessageBox::StandardButton sb = QMessageBox::Ok;
        switch (id) {
        case IDCANCEL: sb = QMessageBox::Cancel; break;
        case IDABORT: sb = QMessageBox::Abort; break;
        case IDRETRY: sb = QMessageBox::Retry; break;
        case IDIGNORE: sb = QMessageBox::Ignore; break;
        case IDYES: sb = QMessageBox::Yes; break;
        case IDNO: sb = QMessageBox::No; break;
        default: break;
        }
        buttons.push_back(box.addButton(sb));
    }
    size_t def = (size_t)((r.Flags >> 8) & 0xF);
    if (def >= buttons.size()) def = 0;
    box.setDefaultButton(static_cast<QPushButton*>(buttons[def]));
    box.exec();
    for (size_t i = 0; i < buttons.size(); i++)
        if (box.clickedButton() == buttons[i]) return ids[i];
    // Closed without a button: Cancel when there is one, else the default.
    for (int id : ids)
        if (id == IDCANCEL) return IDCANCEL;
    return ids[def];
}

// "Text files|*.txt|All|*.*" as Qt name filters.
QStringList NameFilters(const AnsiString& filter)
{
    QStringList parts = VclToQ(filter).split('|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(';', ' ');
        out << QString("%1 (%2)").arg(parts[i], patterns);
    }
    return out;
}

} // namespace

void Vcl_SetDialogHook(TVclDialogHook hook)
{
    VclEnsureApplication();
    gHook = std::move(hook);
    QCoreApplication::instance()->setProperty(kHookProperty,
                                              QVariant::fromValue<quintptr>(gHook ? (quintptr)&gHook : 0));
}
const std::vector<TVclDialogRecord>& Vcl_DialogLog() { return gLog; }
void Vcl_ClearDialogLog() { gLog.clear(); }

int Vcl_DefaultAnswer(int flags)
{
    std::vector<int> ids = ButtonsOf(flags);
    size_t def = (size_t)((flags >> 8) & 0xF);
    if (def >= ids.size()) def = 0;
    return ids[def];
}

int Application_MessageBox(const char* text, const char* caption, int flags)
{
    TVclDialogRequest r;
    r.Kind = vdkMessageBox;
    r.Text = text ? text : "";
    r.Caption = caption ? caption : "";
    r.Flags = flags;
    return Ask(r, Vcl_DefaultAnswer(flags), [](TVclDialogRequest& q) { return RealMessageBox(q); });
}

void ShowMessage(const AnsiString& text)
{
    TVclDialogRequest r;
    r.Kind = vdkShowMessage;
    r.Text = text;
    r.Flags = MB_OK;
    Ask(r, IDOK, [](TVclDialogRequest& q) { return RealMessageBox(q); });
}

bool TOpenDialog::Run(bool save)
{
    TVclDialogRequest r;
    r.Kind = save ? vdkSaveDialog : vdkOpenDialog;
    r.Text = FFileName;
    r.FileName = FFileName;
    r.Caption = FTitle;
    r.Flags = (int)FOptions;
    r.Filter = FFilter;
    r.DefaultExt = FDefaultExt;
    int answer = Ask(r, 0, [&](TVclDialogRequest& q) {
        QFileDialog d(QApplication::activeWindow(), VclToQ(q.Caption), VclToQ(FInitialDir));
        d.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        d.setFileMode(save || !(FOptions & ofFileMustExist) ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        QStringList filters = NameFilters(q.Filter);
        if (!filters.isEmpty()) {
            d.setNameFilters(filters);
            if (FFilterIndex >= 1 && FFilterIndex <= filters.size()) d.selectNameFilter(filters[FFilterIndex - 1]);
        }
        if (!q.DefaultExt.empty()) d.setDefaultSuffix(VclToQ(q.DefaultExt));
        if (save && !(FOptions & ofOverwritePrompt)) d.setOption(QFileDialog::DontConfirmOverwrite, true);
        if (!q.FileName.empty()) d.selectFile(VclToQ(q.FileName));
        if (d.exec() != QDialog::Accepted || d.selectedFiles().isEmpty()) return 0;
        q.FileName = VclFromQ(d.selectedFiles().front());
        return 1;
    });
    if (answer == 0) return false;
    FFileName = r.FileName;
    // A name given without an extension gets the default one, as the
    // system's dialog does with a typed name.
    if (!FDefaultExt.empty() && !FFileName.empty()) {
        size_t slash = FFileName.find_last_of("/\\");
        size_t dot = FFileName.rfind('.');
        bool named = FFileName.back() != '/' && FFileName.back() != '\\';
        if (named && (dot == AnsiString::npos || (slash != AnsiString::npos && dot < slash)))
            FFileName += "." + FDefaultExt;
    }
    return true;
}

bool TOpenDialog::Execute() { return Run(false); }
bool TSaveDialog::Execute() { return Run(true); }

TFontDialog::TFontDialog(TComponent* AOwner) : TCommonDialog(AOwner)
{
    VclEnsureApplication();
    FFont.SetName(VclFromQ(QFontInfo(VclQFont(FFont)).family()));
}

bool TFontDialog::Execute()
{
    TVclDialogRequest r;
    r.Kind = vdkFontDialog;
    r.Text = FFont.Name();
    r.Font = &FFont;
    int answer = Ask(r, 0, [](TVclDialogRequest& q) {
        bool ok = false;
        QFont chosen = QFontDialog::getFont(&ok, VclQFont(*q.Font), QApplication::activeWindow());
        if (!ok) return 0;
        q.Font->SetName(VclFromQ(chosen.family()));
        int px = chosen.pixelSize();
        if (px <= 0) px = (int)(chosen.pointSizeF() * 96.0 / 72.0 + 0.5);
        q.Font->SetHeight(-px);
        TFontStyles st = 0;
        if (chosen.bold()) st |= fsBold;
        if (chosen.italic()) st |= fsItalic;
        if (chosen.underline()) st |= fsUnderline;
        if (chosen.strikeOut()) st |= fsStrikeOut;
        q.Font->SetStyle(st);
        return 1;
    });
    return answer != 0;
}
