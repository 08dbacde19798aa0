// tavlin-host's scripted input: the steps and dialog answers of its
// command line, and the answers dialogs get from them.
#include "host/Script.h"
#include <gtest/gtest.h>

namespace {

TEST(Script, StepsParseOrAreRefused)
{
    struct Case {
        TScriptAction action;
        const char* value;
        bool ok;
        int x, y, ms;
        const char* text;
    };
    const Case cases[] = {
        {saClick, "10,20,300", true, 10, 20, 300, ""},
        {saMove, "0,0,0", true, 0, 0, 0, ""},
        {saClick, "10,20", false, 0, 0, 0, ""},
        {saClick, "10,20,30,40", false, 0, 0, 0, ""},
        {saClick, "10,20,-1", false, 0, 0, 0, ""},
        {saClick, "a,20,30", false, 0, 0, 0, ""},
        {saType, "5,6,700,user name", true, 5, 6, 700, "user name"},
        {saType, "5,6,700,a,b,,c", true, 5, 6, 700, "a,b,,c"},
        {saType, "5,6,700,", true, 5, 6, 700, ""},
        {saType, "5,6,700", false, 0, 0, 0, ""},
        {saKey, "1500,Tab", true, 0, 0, 1500, "Tab"},
        {saKey, "1500,", false, 0, 0, 0, ""},
        {saKey, "Tab", false, 0, 0, 0, ""},
        {saKey, "99999999999,Tab", false, 0, 0, 0, ""},
        {saRead, "354,30,7000", true, 354, 30, 7000, ""},
        {saRead, "354,30", false, 0, 0, 0, ""},
        {saRead, "354,30,7000,x", false, 0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        TScriptStep s;
        ASSERT_EQ(Script_ParseStep(c.action, c.value, s), c.ok) << c.value;
        if (!c.ok) continue;
        EXPECT_EQ(s.action, c.action);
        EXPECT_EQ(s.x, c.x) << c.value;
        EXPECT_EQ(s.y, c.y) << c.value;
        EXPECT_EQ(s.ms, c.ms) << c.value;
        EXPECT_EQ(s.text, c.text) << c.value;
    }
}

TEST(Script, AnswersGoToTheNextDialogOfTheirKindInOrder)
{
    TScriptAnswers a;
    for (const char* bad : {"msgbox=maybe", "msgbox", "save=", "font=Sans", "font=Sans:0", "font=:9", "print=x"})
        EXPECT_FALSE(Script_AddAnswer(a, bad)) << bad;
    for (const char* good : {"msgbox=no", "msgbox=ok", "save=/tmp/a b.mov", "open=/tmp/in.mov", "font=DejaVu Sans:12"})
        ASSERT_TRUE(Script_AddAnswer(a, good)) << good;

    TVclDialogRequest box;
    box.Kind = vdkMessageBox;
    TVclDialogRequest shown;
    shown.Kind = vdkShowMessage;
    TVclDialogRequest save;
    save.Kind = vdkSaveDialog;
    save.FileName = "proposed.mov";
    EXPECT_EQ(Script_Answer(a, box), IDNO);
    EXPECT_EQ(Script_Answer(a, save), 1);
    EXPECT_EQ(save.FileName, "/tmp/a b.mov");
    EXPECT_EQ(Script_Answer(a, shown), IDOK);
    // Queues used up: the dialog goes on as without a script.
    EXPECT_EQ(Script_Answer(a, box), kVclDialogUnanswered);
    save.FileName = "again.mov";
    EXPECT_EQ(Script_Answer(a, save), kVclDialogUnanswered);
    EXPECT_EQ(save.FileName, "again.mov");

    TVclDialogRequest open;
    open.Kind = vdkOpenDialog;
    EXPECT_EQ(Script_Answer(a, open), 1);
    EXPECT_EQ(open.FileName, "/tmp/in.mov");
    TFont font;
    TVclDialogRequest pick;
    pick.Kind = vdkFontDialog;
    pick.Font = &font;
    EXPECT_EQ(Script_Answer(a, pick), 1);
    EXPECT_EQ(font.Name(), "DejaVu Sans");
    EXPECT_EQ(font.Size(), 12);
    EXPECT_EQ(Script_Answer(a, pick), kVclDialogUnanswered);
}

TEST(Script, AMessageBoxLineQuotesItsTexts)
{
    TVclDialogRequest r;
    r.Caption = "Setup Information";
    r.Text = "Setup Successful.";
    EXPECT_EQ(Script_DescribeMessageBox(r), "msgbox caption=\"Setup Information\" text=\"Setup Successful.\"");
    r.Caption = "";
    r.Text = "two\r\nlines \"quoted\" \\";
    EXPECT_EQ(Script_DescribeMessageBox(r), "msgbox caption=\"\" text=\"two\\r\\nlines \\\"quoted\\\" \\\\\"");
}

} // namespace
