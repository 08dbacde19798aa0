// A scripted run of tavlin-host: the steps a user takes on the control at
// their times (clicks, pointer moves, typing, keys), the waits for what a
// user waits for before going on (a text shown, a control no longer greyed,
// the first picture, a message box, a window), and the answers the next
// dialogs of each kind get.
#pragma once
#include "platform/vcl/Dialogs.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

enum TScriptAction {
    saClick,
    saMove,
    saType,
    saKey,
    saRead,
    saShot,
    // The waits: each holds back every later step until its condition holds.
    saWaitText,
    saWaitEnabled,
    saWaitGreyed,
    saWaitVideo,
    saWaitMessageBox,
    saWaitWindow,
    saWaitChange,
    saWaitPixel,
    saWaitRedraw,
    saWaitFile,
};

struct TScriptStep {
    TScriptAction action = saClick;
    int x = 0, y = 0, ms = 0;
    int w = 0, h = 0; // the area of saWaitRedraw
    int limit = 0;    // a wait's time limit in ms
    // saWaitPixel: the colour (0xRRGGBB) the pixel is to come within
    // tolerance of in every channel, or to leave when away.
    uint32_t colour = 0;
    int tolerance = 0;
    bool away = false;
    // What saType types, the key name of saKey, the file of saShot; the
    // text a wait looks for (saWaitText, saWaitMessageBox: a pattern), the
    // title of the window saWaitWindow waits for, the file of saWaitFile.
    std::string text;
    // The title of the top-level window the step goes to (found when the
    // step runs); empty: the control's window.
    std::string window;
};

bool Script_IsWait(TScriptAction action);

// One step from a command-line value: "X,Y,MS" for clicks, moves and
// reads (which print the text shown there: text X,Y="..."),
// "X,Y,MS,TEXT" for typing (TEXT may hold commas), "MS,NAME" for a key,
// "MS,FILE" for a screenshot of the step's window; the waits with their
// time limit: "X,Y,LIMIT,TEXT" (saWaitText), "X,Y,LIMIT" (saWaitEnabled,
// saWaitGreyed),
// "LIMIT" (saWaitVideo), "LIMIT" or "LIMIT,TEXT" (saWaitMessageBox),
// "LIMIT,TITLE" (saWaitWindow), "X,Y,LIMIT" (saWaitChange),
// "X,Y,LIMIT,[!]RRGGBB[/TOLERANCE]" (saWaitPixel: tolerance 32 unless
// given, ! for leaving the colour), "X,Y,W,H,LIMIT" (saWaitRedraw),
// "LIMIT,PATH" (saWaitFile).
bool Script_ParseStep(TScriptAction action, const std::string& value, TScriptStep& out);

// Whether text matches a wait's pattern: "*" stands for any run of
// characters (none included), "?" for any one, every other character for
// itself.
bool Script_Matches(const std::string& pattern, const std::string& text);

// What a wait waits for, in words, for the line of a wait that timed out.
std::string Script_DescribeWait(const TScriptStep& wait);

// The message boxes shown so far. A wait for a message box takes the first
// one not yet taken whose text matches, with every one before it, so that
// each box satisfies one wait.
struct TScriptMessageBoxes {
    std::vector<std::string> texts;
    size_t taken = 0;
};
bool Script_TakeMessageBox(TScriptMessageBoxes& boxes, const std::string& pattern);

// The order of a run, apart from the window. The steps run in command-line
// order, a wait holding back all that follow it. Between two waits the
// steps run at their MS (in the order given where times are equal), which
// counts from the moment the wait before them was met (from the start
// before the first wait); a wait starts to be checked once every step
// before it has run and its limit counts from then. The end of the run
// (endMs, -1 for none) counts like the MS of a step given last.
class TScriptSequence {
public:
    TScriptSequence(const std::vector<TScriptStep>& steps, int endMs);

    enum TKind {
        skStep,     // run step now
        skWait,     // check step's condition now and answer with Wait
        skIdle,     // nothing before `at`
        skEnd,      // the run's end is due
        skFinished, // all done (no end asked for), or a wait timed out
    };
    struct TNext {
        TKind kind;
        const TScriptStep* step;
        long long at;
        bool begins; // skWait: the first look at this wait
    };
    // What is due at now (ms since the start); a step returned counts as run.
    TNext Next(long long now);

    enum TWaitResult { swMet, swPending, swTimedOut };
    // The answer to skWait: whether the condition holds at now. swPending:
    // check again by `*again` (at the latest when the limit runs out);
    // swTimedOut: the limit has passed, nothing more runs, *waited is how
    // long it waited.
    TWaitResult Wait(long long now, bool holds, long long* again, long long* waited);

private:
    std::vector<TScriptStep> FOrder;
    size_t FNext = 0;
    long long FAnchor = 0, FWaitBegin = -1;
    int FEndMs;
    bool FFinished = false;
};

// The answers waiting for the next dialogs, one queue per kind.
struct TScriptAnswers {
    std::deque<int> msgbox;                       // ID* values
    std::deque<std::string> save, open;           // file names
    std::deque<std::pair<std::string, int>> font; // family, points
};

// "msgbox=ok|yes|no|cancel|abort|retry|ignore", "save=PATH", "open=PATH",
// "font=FAMILY:SIZE"; false for anything else.
bool Script_AddAnswer(TScriptAnswers& answers, const std::string& spec);

// Answers a dialog from the queue of its kind (a message box shown with
// ShowMessage counts as a message box); kVclDialogUnanswered when that
// queue is empty.
int Script_Answer(TScriptAnswers& answers, TVclDialogRequest& request);

// The line --events prints for a message box as it is shown:
//   msgbox caption="..." text="..."   (\, " and line breaks escaped)
std::string Script_DescribeMessageBox(const TVclDialogRequest& request);

// Writes the screenshot of a --shot step on the control's own window
// (0, or -1); without one, that window is grabbed as the others are.
typedef std::function<int(const char* file)> TScriptShooter;
void Script_SetControlShooter(TScriptShooter shooter);

// Runs the steps against the window (the control's) on a timer of owner,
// in the order and at the times TScriptSequence gives, checking waits as
// they come; boxes is where the dialog hook notes the message boxes shown.
// onEnd(true) runs when the end (endMs) is due, onEnd(false) after a wait
// timed out (its line printed on stderr).
void Script_Run(TComponent* owner, void* window, const std::vector<TScriptStep>& steps, int endMs,
                TScriptMessageBoxes* boxes, std::function<void(bool)> onEnd);
