// tavlin-host's scripted input: parsing the steps and dialog answers of the
// command line, answering dialogs from them and playing the steps on the
// control's window at their times.
#include "host/Script.h"
#include "platform/vcl/Forms.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

TScriptShooter gShooter; // screenshots of the control's window

// A whole decimal number that fits an int; false otherwise.
bool ParseInt(const std::string& s, int& out)
{
    if (s.empty() || s.size() > 9) return false;
    size_t i = s[0] == '-' ? 1 : 0;
    if (i == s.size()) return false;
    for (size_t k = i; k < s.size(); k++)
        if (s[k] < '0' || s[k] > '9') return false;
    out = atoi(s.c_str());
    return true;
}

// Splits off the first `count` comma-separated fields; the rest (commas
// and all) goes into *rest when asked for.
bool SplitFields(const std::string& value, size_t count, std::vector<std::string>& fields, std::string* rest)
{
    fields.clear();
    size_t at = 0;
    for (size_t i = 0; i < count; i++) {
        size_t comma = value.find(',', at);
        bool last = i + 1 == count;
        if (last && !rest) {
            if (comma != std::string::npos) return false;
            fields.push_back(value.substr(at));
            return true;
        }
        if (comma == std::string::npos) return false;
        fields.push_back(value.substr(at, comma - at));
        at = comma + 1;
    }
    *rest = value.substr(at);
    return true;
}

void Escape(std::string& out, const std::string& text)
{
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default: out += c; break;
        }
    }
}

} // namespace

bool Script_ParseStep(TScriptAction action, const std::string& value, TScriptStep& out)
{
    std::vector<std::string> f;
    out = TScriptStep();
    out.action = action;
    switch (action) {
    case saClick:
    case saMove:
    case saRead:
        if (!SplitFields(value, 3, f, nullptr)) return false;
        if (!ParseInt(f[0], out.x) || !ParseInt(f[1], out.y) || !ParseInt(f[2], out.ms)) return false;
        break;
    case saType:
        if (!SplitFields(value, 3, f, &out.text)) return false;
        if (!ParseInt(f[0], out.x) || !ParseInt(f[1], out.y) || !ParseInt(f[2], out.ms)) return false;
        break;
    case saKey:
    case saShot:
        if (!SplitFields(value, 1, f, &out.text) || !ParseInt(f[0], out.ms) || out.text.empty()) return false;
        break;
    }
    return out.ms >= 0;
}

bool Script_AddAnswer(TScriptAnswers& answers, const std::string& spec)
{
    size_t eq = spec.find('=');
    if (eq == std::string::npos) return false;
    std::string kind = spec.substr(0, eq), value = spec.substr(eq + 1);
    if (kind == "msgbox") {
        static const std::pair<const char*, int> names[] = {
            {"ok", IDOK}, {"cancel", IDCANCEL}, {"yes", IDYES}, {"no", IDNO},
            {"abort", IDABORT}, {"retry", IDRETRY}, {"ignore", IDIGNORE},
        };
        for (auto& n : names)
            if (value == n.first) {
                answers.msgbox.push_back(n.second);
                return true;
            }
        return false;
    }
    if (kind == "save" || kind == "open") {
        if (value.empty()) return false;
        (kind == "save" ? answers.save : answers.open).push_back(value);
        return true;
    }
    if (kind == "font") {
        size_t colon = value.rfind(':');
        int size = 0;
        if (colon == std::string::npos || colon == 0 || !ParseInt(value.substr(colon + 1), size) || size <= 0)
            return false;
        answers.font.emplace_back(value.substr(0, colon), size);
        return true;
    }
    return false;
}

int Script_Answer(TScriptAnswers& answers, TVclDialogRequest& request)
{
    switch (request.Kind) {
    case vdkMessageBox:
    case vdkShowMessage: {
        if (answers.msgbox.empty()) return kVclDialogUnanswered;
        int answer = answers.msgbox.front();
        answers.msgbox.pop_front();
        return answer;
    }
    case vdkSaveDialog:
    case vdkOpenDialog: {
        auto& queue = request.Kind == vdkSaveDialog ? answers.save : answers.open;
        if (queue.empty()) return kVclDialogUnanswered;
        request.FileName = queue.front();
        queue.pop_front();
        return 1;
    }
    case vdkFontDialog:
        if (answers.font.empty()) return kVclDialogUnanswered;
        if (request.Font) {
            request.Font->SetName(answers.font.front().first);
            request.Font->SetSize(answers.font.front().second);
        }
        answers.font.pop_front();
        return 1;
    }
    return kVclDialogUnanswered;
}

std::string Script_DescribeMessageBox(const TVclDialogRequest& request)
{
    std::string out = "msgbox caption=\"";
    Escape(out, request.Caption);
    out += "\" text=\"";
    Escape(out, request.Text);
    out += "\"";
    return out;
}

void Script_SetControlShooter(TScriptShooter shooter) { gShooter = std::move(shooter); }

void Script_Schedule(TComponent* owner, void* window, const std::vector<TScriptStep>& steps)
{
    auto order = std::make_shared<std::vector<TScriptStep>>(steps);
    std::stable_sort(order->begin(), order->end(),
                     [](const TScriptStep& a, const TScriptStep& b) { return a.ms < b.ms; });
    if (order->empty()) return;
    // One timer walks the steps: each pass does what is due and waits for
    // the next, so steps at the same time keep their order. Times count
    // from the schedule, whatever the steps themselves take.
    auto next = std::make_shared<size_t>(0);
    auto start = std::chrono::steady_clock::now();
    TTimer* t = new TTimer(owner);
    auto arm = [t, order, next, start]() {
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        long long wait = (*order)[*next].ms - (long long)elapsed.count();
        t->SetInterval((uint32_t)(wait > 0 ? wait : 1));
        t->SetEnabled(true);
    };
    void* control = window;
    t->OnTimer = [t, order, next, arm, control](TObject*) {
        t->SetEnabled(false);
        int now = (*order)[*next].ms;
        while (*next < order->size() && (*order)[*next].ms == now) {
            const TScriptStep& s = (*order)[(*next)++];
            void* window = s.window.empty() ? control : Vcl_FindWindow(s.window.c_str());
            if (!window) {
                fprintf(stderr, "tavlin-host: no window \"%s\"\n", s.window.c_str());
                continue;
            }
            switch (s.action) {
            case saClick: Vcl_ClickAt(window, s.x, s.y); break;
            case saMove: Vcl_MouseAt(window, vmaMove, mbLeft, s.x, s.y); break;
            case saType:
                if (Vcl_TypeTextAt(window, s.x, s.y, s.text.c_str()) != 0)
                    fprintf(stderr, "tavlin-host: nothing to type into at %d,%d\n", s.x, s.y);
                break;
            case saKey:
                if (Vcl_KeyAt(window, s.text.c_str()) != 0)
                    fprintf(stderr, "tavlin-host: unknown key %s\n", s.text.c_str());
                break;
            case saRead: {
                char text[512];
                if (Vcl_TextAt(window, s.x, s.y, text, sizeof text) == 0) {
                    printf("text %d,%d=\"%s\"\n", s.x, s.y, text);
                } else {
                    printf("text %d,%d none\n", s.x, s.y);
                }
                fflush(stdout);
                break;
            }
            case saShot:
                if ((window == control && gShooter ? gShooter(s.text.c_str())
                                                   : Vcl_SaveWindowPng(window, s.text.c_str())) != 0)
                    fprintf(stderr, "tavlin-host: cannot write %s\n", s.text.c_str());
                break;
            }
        }
        if (*next < order->size()) arm();
    };
    arm();
}
