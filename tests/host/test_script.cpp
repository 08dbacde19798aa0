// tavlin-host's scripted input: the steps and dialog answers of its
// command line, and the answers dialogs get from them.
#include "host/Script.h"
#include <gtest/gtest.h>

#include <map>

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

TEST(Script, WaitsParseWithTheirLimitsOrAreRefused)
{
    struct Case {
        TScriptAction action;
        const char* value;
        bool ok;
        int x, y, limit;
        const char* text;
    };
    const Case cases[] = {
        {saWaitText, "354,30,20000,2026/*", true, 354, 30, 20000, "2026/*"},
        {saWaitText, "297,285,5000,a,b", true, 297, 285, 5000, "a,b"},
        {saWaitText, "297,285,5000,", true, 297, 285, 5000, ""}, // until the text is empty
        {saWaitText, "297,285,5000", false, 0, 0, 0, ""},
        {saWaitText, "297,285,0,x", false, 0, 0, 0, ""}, // a limit is never nothing
        {saWaitEnabled, "298,291,30000", true, 298, 291, 30000, ""},
        {saWaitEnabled, "298,291,30000,x", false, 0, 0, 0, ""},
        {saWaitGreyed, "298,291,30000", true, 298, 291, 30000, ""},
        {saWaitVideo, "20000", true, 0, 0, 20000, ""},
        {saWaitVideo, "-5", false, 0, 0, 0, ""},
        {saWaitVideo, "", false, 0, 0, 0, ""},
        {saWaitMessageBox, "9000", true, 0, 0, 9000, "*"},
        {saWaitMessageBox, "9000,Setup Successful.", true, 0, 0, 9000, "Setup Successful."},
        {saWaitMessageBox, "x,Setup", false, 0, 0, 0, ""},
        {saWaitWindow, "8000,No-IP Setting", true, 0, 0, 8000, "No-IP Setting"},
        {saWaitWindow, "8000,", false, 0, 0, 0, ""},
        {saWaitWindow, "8000", false, 0, 0, 0, ""},
        {saWaitChange, "354,30,5000", true, 354, 30, 5000, ""},
        {saWaitChange, "354,30", false, 0, 0, 0, ""},
        {saWaitFile, "9000,/tmp/a,b", true, 0, 0, 9000, "/tmp/a,b"},
        {saWaitFile, "9000,", false, 0, 0, 0, ""},
        {saWaitPixel, "700,312,9000,3CB371", true, 700, 312, 9000, "3CB371"},
        {saWaitPixel, "700,312,9000,!3cb371/8", true, 700, 312, 9000, "!3cb371/8"},
        {saWaitPixel, "700,312,9000,3CB37", false, 0, 0, 0, ""},
        {saWaitPixel, "700,312,9000,3CB37G", false, 0, 0, 0, ""},
        {saWaitPixel, "700,312,9000,3CB371/", false, 0, 0, 0, ""},
        {saWaitPixel, "700,312,9000,3CB371/300", false, 0, 0, 0, ""},
        {saWaitPixel, "700,312,9000", false, 0, 0, 0, ""},
        {saWaitRedraw, "790,528,96,20,9000", true, 790, 528, 9000, ""},
        {saWaitRedraw, "790,528,0,20,9000", false, 0, 0, 0, ""},
        {saWaitRedraw, "790,528,96,9000", false, 0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        TScriptStep s;
        ASSERT_EQ(Script_ParseStep(c.action, c.value, s), c.ok) << c.value;
        if (!c.ok) continue;
        EXPECT_TRUE(Script_IsWait(s.action));
        EXPECT_EQ(s.x, c.x) << c.value;
        EXPECT_EQ(s.y, c.y) << c.value;
        EXPECT_EQ(s.limit, c.limit) << c.value;
        EXPECT_EQ(s.ms, 0) << c.value;
        EXPECT_EQ(s.text, c.text) << c.value;
    }
    for (TScriptAction a : {saClick, saMove, saType, saKey, saRead, saShot}) EXPECT_FALSE(Script_IsWait(a));

    TScriptStep s;
    ASSERT_TRUE(Script_ParseStep(saWaitPixel, "700,312,9000,3CB371", s));
    EXPECT_EQ(s.colour, 0x3CB371u);
    EXPECT_EQ(s.tolerance, 32);
    EXPECT_FALSE(s.away);
    ASSERT_TRUE(Script_ParseStep(saWaitPixel, "700,312,9000,!3cb371/8", s));
    EXPECT_EQ(s.colour, 0x3CB371u);
    EXPECT_EQ(s.tolerance, 8);
    EXPECT_TRUE(s.away);
}

TEST(Script, WaitPatternsMatchWithStars)
{
    struct Case {
        const char* pattern;
        const char* text;
        bool match;
    };
    const Case cases[] = {
        {"Setup Successful.", "Setup Successful.", true},
        {"Setup Successful.", "Setup Successful. ", false},
        {"Setup", "Setup Successful.", false},
        {"", "", true},
        {"", "x", false},
        {"*", "", true},
        {"*", "anything", true},
        {"2026/05/04 10:00:*", "2026/05/04 10:00:07", true},
        {"2026/05/04 10:00:*", "2026/05/04 10:01:07", false},
        {"*watermark*", "The watermark does not verify", true},
        {"*watermark*", "The mark does not verify", false},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"*ab", "aab", true},
        {"**", "x", true},
        {"?*", "", false}, // any text but none
        {"?*", "alice@isp", true},
        {"CH?", "CH2", true},
        {"CH?", "CH12", false},
    };
    for (const Case& c : cases) EXPECT_EQ(Script_Matches(c.pattern, c.text), c.match) << c.pattern << " / " << c.text;
}

TEST(Script, EachMessageBoxSatisfiesOneWait)
{
    TScriptMessageBoxes boxes;
    EXPECT_FALSE(Script_TakeMessageBox(boxes, "*"));
    boxes.texts = {"Setup Successful.", "'99999' is not a valid UPnP port (0 to 65535)", "Setup Successful."};
    EXPECT_TRUE(Script_TakeMessageBox(boxes, "Setup Successful."));
    // The second wait for the same text takes the third box, and the one
    // between goes with it.
    EXPECT_TRUE(Script_TakeMessageBox(boxes, "Setup Successful."));
    EXPECT_EQ(boxes.taken, 3u);
    EXPECT_FALSE(Script_TakeMessageBox(boxes, "*"));
    boxes.texts.push_back("The backup file /proc/backup.mov cannot be created.");
    EXPECT_FALSE(Script_TakeMessageBox(boxes, "*UPnP*")); // already gone by
    EXPECT_TRUE(Script_TakeMessageBox(boxes, "*cannot be created*"));
}

// Plays a sequence against a clock the test moves: what ran when ("name@ms"),
// with the conditions of the waits holding from the times given.
struct Played {
    std::vector<std::string> log;
    bool timedOut = false;
    long long waited = 0;
};

TScriptStep Step(TScriptAction a, int ms, const char* name)
{
    TScriptStep s;
    s.action = a;
    s.ms = ms;
    s.text = name;
    return s;
}

TScriptStep WaitStep(int limit, const char* name)
{
    TScriptStep s;
    s.action = saWaitText;
    s.limit = limit;
    s.text = name;
    return s;
}

Played Play(const std::vector<TScriptStep>& steps, int endMs, std::map<std::string, long long> holdsFrom,
            long long until = 100000)
{
    Played p;
    TScriptSequence seq(steps, endMs);
    long long now = 0;
    while (now <= until) {
        TScriptSequence::TNext n = seq.Next(now);
        if (n.kind == TScriptSequence::skStep) {
            p.log.push_back(n.step->text + "@" + std::to_string(now));
            continue;
        }
        if (n.kind == TScriptSequence::skEnd) {
            p.log.push_back("end@" + std::to_string(now));
            break;
        }
        if (n.kind == TScriptSequence::skFinished) break;
        long long next = n.at;
        if (n.kind == TScriptSequence::skWait) {
            auto h = holdsFrom.find(n.step->text);
            bool holds = h != holdsFrom.end() && now >= h->second;
            long long waited = 0;
            TScriptSequence::TWaitResult r = seq.Wait(now, holds, &next, &waited);
            if (r == TScriptSequence::swMet) {
                p.log.push_back(n.step->text + " met@" + std::to_string(now));
                continue;
            }
            if (r == TScriptSequence::swTimedOut) {
                p.timedOut = true;
                p.waited = waited;
                p.log.push_back(n.step->text + " timed out@" + std::to_string(now));
                EXPECT_EQ(seq.Next(now + 1).kind, TScriptSequence::skFinished);
                break;
            }
            EXPECT_GT(next, now);
        }
        now = next;
    }
    return p;
}

TEST(Script, StepsWithoutWaitsRunAtTheirTimesFromTheStart)
{
    Played p = Play({Step(saClick, 300, "b"), Step(saClick, 100, "a"), Step(saRead, 300, "c")}, 1000, {});
    EXPECT_EQ(p.log, std::vector<std::string>({"a@100", "b@300", "c@300", "end@1000"}));
    // Without an end the run goes on after the last step.
    p = Play({Step(saClick, 50, "a")}, -1, {});
    EXPECT_EQ(p.log, std::vector<std::string>({"a@50"}));
}

TEST(Script, AWaitHoldsBackWhatFollowsAndTheirTimesCountFromIt)
{
    // The click before the wait runs first whatever its time; the wait is
    // met at 2040 (checked every 20 ms from 500); the steps after it count
    // from then, the end too.
    Played p = Play({Step(saClick, 500, "panel"), WaitStep(30000, "page"), Step(saType, 300, "type"),
                     Step(saClick, 0, "apply"), WaitStep(30000, "box"), Step(saRead, 100, "read")},
                    200, {{"page", 2040}, {"box", 1000}});
    EXPECT_EQ(p.log, std::vector<std::string>({"panel@500", "page met@2040", "apply@2040", "type@2340", "box met@2340",
                                               "read@2440", "end@2540"}));
    EXPECT_FALSE(p.timedOut);

    // A wait whose condition already holds lets the steps go on at once;
    // an end due before the last step waits for it.
    p = Play({WaitStep(1000, "up"), Step(saClick, 700, "late")}, 100, {{"up", 0}});
    EXPECT_EQ(p.log, std::vector<std::string>({"up met@0", "late@700", "end@700"}));
}

TEST(Script, AWaitThatRunsOutEndsTheRunThere)
{
    Played p = Play({Step(saClick, 100, "a"), WaitStep(5000, "never"), Step(saClick, 0, "b")}, 9000, {});
    EXPECT_TRUE(p.timedOut);
    // Checked for the last time as its limit ends, 5 s after it began.
    EXPECT_EQ(p.log, std::vector<std::string>({"a@100", "never timed out@5100"}));
    EXPECT_EQ(p.waited, 5000);
    // Met at its last look: not timed out.
    p = Play({WaitStep(5000, "late")}, 0, {{"late", 5000}});
    EXPECT_FALSE(p.timedOut);
    EXPECT_EQ(p.log, std::vector<std::string>({"late met@5000", "end@5000"}));
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
