// Message boxes and common dialogs: the default answers without a display,
// the hook that answers them in tests, the log of what was asked, and the
// report of an exception that escaped a handler.
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"
#include "platform/win/Library.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct DialogTest : ::testing::Test {
    void SetUp() override
    {
        Vcl_SetDialogHook(nullptr);
        Vcl_ClearDialogLog();
    }
    void TearDown() override { Vcl_SetDialogHook(nullptr); }
};

TEST_F(DialogTest, WithoutADisplayTheDefaultButtonAnswers)
{
    struct Case {
        int flags, answer;
    };
    const Case cases[] = {
        {MB_OK, IDOK},
        {MB_OK | MB_ICONSTOP, IDOK},
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_YESNO | MB_ICONQUESTION, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
        {MB_RETRYCANCEL | MB_DEFBUTTON3, IDRETRY}, // no third button: the first
    };
    for (const Case& c : cases) EXPECT_EQ(Application_MessageBox("Question?", "Caption", c.flags), c.answer) << c.flags;
    const auto& log = Vcl_DialogLog();
    ASSERT_EQ(log.size(), sizeof cases / sizeof cases[0]);
    EXPECT_EQ(log[3].Kind, vdkMessageBox);
    EXPECT_EQ(log[3].Text, "Question?");
    EXPECT_EQ(log[3].Caption, "Caption");
    EXPECT_EQ(log[3].Flags, MB_OKCANCEL | MB_DEFBUTTON2);
    EXPECT_EQ(log[3].Answer, IDCANCEL);

    TSaveDialog save(nullptr);
    save.SetFileName("proposed.mov");
    EXPECT_FALSE(save.Execute());
    EXPECT_EQ(save.FileName(), "proposed.mov");
    TFontDialog font(nullptr);
    EXPECT_FALSE(font.Execute());
    EXPECT_EQ(Vcl_DialogLog().back().Kind, vdkFontDialog);
}

TEST_F(DialogTest, TheHookAnswersEveryKind)
{
    std::vector<TVclDialogKind> asked;
    Vcl_SetDialogHook([&](TVclDialogRequest& r) -> int {
        asked.push_back(r.Kind);
        switch (r.Kind) {
        case vdkMessageBox: return r.Text == "Save?" ? IDNO : IDOK;
        case vdkSaveDialog:
            EXPECT_EQ(r.Filter, "Movies|*.mov");
            EXPECT_EQ(r.FileName, "ch01.mov");
            EXPECT_TRUE(r.Flags & ofOverwritePrompt);
            r.FileName = "/tmp/chosen/ch01.mov";
            return 1;
        case vdkOpenDialog: return 0;
        case vdkFontDialog:
            r.Font->SetName("DejaVu Serif");
            r.Font->SetStyle(fsBold);
            return 1;
        default: return IDOK;
        }
    });
    EXPECT_EQ(Application_MessageBox("Save?", "Backup", MB_YESNO), IDNO);
    ShowMessage("Can't find ieframe.dll");
    TSaveDialog save(nullptr);
    save.SetFilter("Movies|*.mov");
    save.SetFileName("ch01.mov");
    save.SetOptions(ofOverwritePrompt | ofHideReadOnly);
    EXPECT_TRUE(save.Execute());
    EXPECT_EQ(save.FileName(), "/tmp/chosen/ch01.mov");
    TOpenDialog open(nullptr);
    open.SetFileName("keep.ttl");
    EXPECT_FALSE(open.Execute());
    EXPECT_EQ(open.FileName(), "keep.ttl");
    TFontDialog font(nullptr);
    EXPECT_TRUE(font.Execute());
    EXPECT_EQ(font.Font()->Name(), "DejaVu Serif");
    EXPECT_EQ(font.Font()->Style(), (TFontStyles)fsBold);

    EXPECT_EQ(asked, (std::vector<TVclDialogKind>{vdkMessageBox, vdkShowMessage, vdkSaveDialog, vdkOpenDialog,
                                                  vdkFontDialog}));
    const auto& log = Vcl_DialogLog();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[0].Answer, IDNO);
    EXPECT_EQ(log[1].Text, "Can't find ieframe.dll");
    EXPECT_EQ(log[1].Kind, vdkShowMessage);
}

TEST_F(DialogTest, AHookMayLeaveADialogToItsDefault)
{
    int asked = 0;
    Vcl_SetDialogHook([&](TVclDialogRequest& r) -> int {
        asked++;
        return r.Text == "Mine?" ? IDNO : kVclDialogUnanswered;
    });
    EXPECT_EQ(Application_MessageBox("Mine?", "", MB_YESNO), IDNO);
    EXPECT_EQ(Application_MessageBox("Other?", "", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(Application_MessageBox("Other?", "", MB_YESNO), IDYES);
    TSaveDialog save(nullptr);
    save.SetFileName("kept.mov");
    EXPECT_FALSE(save.Execute());
    EXPECT_EQ(save.FileName(), "kept.mov");
    EXPECT_EQ(asked, 4);
    EXPECT_EQ(Vcl_DialogLog().back().Answer, 0);
}

TEST_F(DialogTest, TheHookReachesAModuleWithItsOwnCopyOfTheLibrary)
{
    HMODULE peer = LoadLibrary(VCL_DIALOG_PEER);
    ASSERT_NE(peer, nullptr) << Win_LibraryError();
    auto ask = (int (*)(const char*))GetProcAddress(peer, "DialogPeer_Ask");
    ASSERT_NE(ask, nullptr);
    EXPECT_EQ(GetProcAddress(peer, "Application_MessageBox"), nullptr) << "the copy is private";

    EXPECT_EQ(ask("first"), IDYES); // no hook: the default
    std::vector<std::string> seen;
    Vcl_SetDialogHook([&](TVclDialogRequest& r) -> int {
        seen.push_back(r.Caption + ":" + r.Text);
        return IDNO;
    });
    EXPECT_EQ(ask("second"), IDNO);
    Vcl_SetDialogHook(nullptr);
    EXPECT_EQ(ask("third"), IDYES);
    EXPECT_EQ(seen, std::vector<std::string>{"Peer:second"});
    EXPECT_TRUE(Vcl_DialogLog().empty()) << "the module keeps its own log";
}

TEST_F(DialogTest, AnExceptionInAHandlerIsReported)
{
    TForm form(nullptr);
    form.SetBounds(0, 0, 100, 60);
    Vcl_ShowWindow(form.Handle(), "throws");
    auto* b = new TButton(&form);
    b->SetParent(&form);
    b->SetBounds(5, 5, 60, 25);
    b->OnClick = [](TObject*) { throw std::runtime_error("'abc' is not a valid integer value"); };
    int clicksAfter = 0;
    Vcl_ClickAt(form.Handle(), 10, 10);
    b->OnClick = [&](TObject*) { clicksAfter++; };
    Vcl_ClickAt(form.Handle(), 10, 10);
    EXPECT_EQ(clicksAfter, 1);
    const auto& log = Vcl_DialogLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].Text, "'abc' is not a valid integer value");
    EXPECT_EQ(log[0].Caption, "Error");
    EXPECT_EQ(log[0].Flags, MB_OK | MB_ICONSTOP);
}

TEST_F(DialogTest, TheLogKeepsTheLatest)
{
    for (int i = 0; i < 300; i++) Application_MessageBox(std::to_string(i).c_str(), "", MB_OK);
    const auto& log = Vcl_DialogLog();
    ASSERT_EQ(log.size(), 256u);
    EXPECT_EQ(log.front().Text, "44");
    EXPECT_EQ(log.back().Text, "299");
}

} // namespace
