// A scripted run of tavlin-host: the steps a user takes on the control at
// their times (clicks, pointer moves, typing, keys) and the answers the
// next dialogs of each kind get.
#pragma once
#include "platform/vcl/Dialogs.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

enum TScriptAction { saClick, saMove, saType, saKey, saRead, saShot };

struct TScriptStep {
    TScriptAction action = saClick;
    int x = 0, y = 0, ms = 0;
    std::string text; // what saType types, the key name of saKey, the file of saShot
    // The title of the top-level window the step goes to (found when the
    // step runs); empty: the control's window.
    std::string window;
};

// One step from a command-line value: "X,Y,MS" for clicks, moves and
// reads (which print the text shown there: text X,Y="..."),
// "X,Y,MS,TEXT" for typing (TEXT may hold commas), "MS,NAME" for a key,
// "MS,FILE" for a screenshot of the step's window.
bool Script_ParseStep(TScriptAction action, const std::string& value, TScriptStep& out);

// The answers waiting for the next dialogs, one queue per kind.
struct TScriptAnswers {
    std::deque<int> msgbox;            // ID* values
    std::deque<std::string> save, open; // file names
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

// Runs the steps at their times (in command-line order where times are
// equal) against the window; the timers belong to owner.
void Script_Schedule(TComponent* owner, void* window, const std::vector<TScriptStep>& steps);
