// tavlin-host's scripted input: parsing the steps and dialog answers of the
// command line, answering dialogs from them and playing the steps on the
// control's window in their order and at their times, with the waits.
#include "host/Script.h"
#include "platform/vcl/Forms.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

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

bool Script_IsWait(TScriptAction action) { return action >= saWaitText; }

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
    case saWaitText:
        if (!SplitFields(value, 3, f, &out.text)) return false;
        if (!ParseInt(f[0], out.x) || !ParseInt(f[1], out.y) || !ParseInt(f[2], out.limit)) return false;
        break;
    case saWaitEnabled:
    case saWaitGreyed:
        if (!SplitFields(value, 3, f, nullptr)) return false;
        if (!ParseInt(f[0], out.x) || !ParseInt(f[1], out.y) || !ParseInt(f[2], out.limit)) return false;
        break;
    case saWaitVideo:
        if (!ParseInt(value, out.limit)) return false;
        break;
    case saWaitMessageBox:
        if (value.find(',') == std::string::npos) {
            if (!ParseInt(value, out.limit)) return false;
            out.text = "*";
        } else if (!SplitFields(value, 1, f, &out.text) || !ParseInt(f[0], out.limit)) {
            return false;
        }
        break;
    case saWaitWindow:
    case saWaitFile:
        if (!SplitFields(value, 1, f, &out.text) || !ParseInt(f[0], out.limit) || out.text.empty()) return false;
        break;
    case saWaitChange:
        if (!SplitFields(value, 3, f, nullptr)) return false;
        if (!ParseInt(f[0], out.x) || !ParseInt(f[1], out.y) || !ParseInt(f[2], out.limit)) return false;
        break;
    case saWaitRedraw:
        if (!SplitFields(value, 5, f, nullptr)) return false;
        if (!ParseInt(f[0], out.x) || !ParseInt(f[1], out.y) || !ParseInt(f[2], out.w) || !ParseInt(f[3], out.h) ||
            !ParseInt(f[4], out.limit) || out.w <= 0 || out.h <= 0 || out.w > 4096 || out.h > 4096)
            return false;
        break;
    case saWaitPixel: {
        std::string colour;
        if (!SplitFields(value, 3, f, &colour)) return false;
        if (!ParseInt(f[0], out.x) || !ParseInt(f[1], out.y) || !ParseInt(f[2], out.limit)) return false;
        out.text = colour;
        out.away = !colour.empty() && colour[0] == '!';
        if (out.away) colour.erase(0, 1);
        out.tolerance = 32;
        size_t slash = colour.find('/');
        if (slash != std::string::npos) {
            if (!ParseInt(colour.substr(slash + 1), out.tolerance) || out.tolerance < 0 || out.tolerance > 255)
                return false;
            colour.resize(slash);
        }
        if (colour.size() != 6 || colour.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
        out.colour = (uint32_t)strtoul(colour.c_str(), nullptr, 16);
        break;
    }
    }
    if (Script_IsWait(action)) return out.limit > 0;
    return out.ms >= 0;
}

bool Script_Matches(const std::string& pattern, const std::string& text)
{
    // Greedy match with one point to come back to: the last star seen.
    size_t p = 0, t = 0, star = std::string::npos, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            p++;
            t++;
        } else if (star != std::string::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') p++;
    return p == pattern.size();
}

std::string Script_DescribeWait(const TScriptStep& wait)
{
    std::string at = std::to_string(wait.x) + "," + std::to_string(wait.y);
    std::string out;
    switch (wait.action) {
    case saWaitText:
        out = "text \"";
        Escape(out, wait.text);
        return out + "\" at " + at;
    case saWaitEnabled: return "an enabled control at " + at;
    case saWaitGreyed: return "a greyed control at " + at;
    case saWaitVideo: return "the first picture on the video";
    case saWaitMessageBox:
        if (wait.text == "*") return "a message box";
        out = "a message box \"";
        Escape(out, wait.text);
        return out + "\"";
    case saWaitWindow:
        out = "window \"";
        Escape(out, wait.text);
        return out + "\"";
    case saWaitChange: return "the text at " + at + " to change";
    case saWaitPixel: return "the pixel at " + at + (wait.away ? " to leave " : " to come near ") + wait.text;
    case saWaitFile: return "file " + wait.text;
    case saWaitRedraw:
        return "the " + std::to_string(wait.w) + " x " + std::to_string(wait.h) + " pixels at " + at + " to change";
    default: return "?";
    }
}

bool Script_TakeMessageBox(TScriptMessageBoxes& boxes, const std::string& pattern)
{
    for (size_t i = boxes.taken; i < boxes.texts.size(); i++)
        if (Script_Matches(pattern, boxes.texts[i])) {
            boxes.taken = i + 1;
            return true;
        }
    return false;
}

TScriptSequence::TScriptSequence(const std::vector<TScriptStep>& steps, int endMs) : FOrder(steps), FEndMs(endMs)
{
    // Between two waits the steps go by their times, in the given order
    // where times are equal; the waits stay where they were given.
    auto from = FOrder.begin();
    while (from != FOrder.end()) {
        auto to = std::find_if(from, FOrder.end(), [](const TScriptStep& s) { return Script_IsWait(s.action); });
        std::stable_sort(from, to, [](const TScriptStep& a, const TScriptStep& b) { return a.ms < b.ms; });
        from = to == FOrder.end() ? to : to + 1;
    }
}

TScriptSequence::TNext TScriptSequence::Next(long long now)
{
    if (FFinished) return {skFinished, nullptr, now, false};
    if (FNext < FOrder.size()) {
        const TScriptStep& s = FOrder[FNext];
        if (Script_IsWait(s.action)) {
            bool begins = FWaitBegin < 0;
            if (begins) FWaitBegin = now;
            return {skWait, &s, now, begins};
        }
        long long due = FAnchor + s.ms;
        if (now < due) return {skIdle, nullptr, due, false};
        FNext++;
        return {skStep, &s, now, false};
    }
    if (FEndMs < 0) {
        FFinished = true;
        return {skFinished, nullptr, now, false};
    }
    long long due = FAnchor + FEndMs;
    if (now < due) return {skIdle, nullptr, due, false};
    FFinished = true;
    return {skEnd, nullptr, now, false};
}

TScriptSequence::TWaitResult TScriptSequence::Wait(long long now, bool holds, long long* again, long long* waited)
{
    if (FFinished || FNext >= FOrder.size() || FWaitBegin < 0) return swTimedOut;
    const TScriptStep& s = FOrder[FNext];
    if (waited) *waited = now - FWaitBegin;
    if (holds) {
        FAnchor = now;
        FWaitBegin = -1;
        FNext++;
        return swMet;
    }
    long long limit = FWaitBegin + s.limit;
    if (now >= limit) {
        FFinished = true;
        return swTimedOut;
    }
    // Conditions are looked at every 20 ms, and once more as the limit ends.
    long long next = now + 20;
    if (again) *again = next < limit ? next : limit;
    return swPending;
}

bool Script_AddAnswer(TScriptAnswers& answers, const std::string& spec)
{
    size_t eq = spec.find('=');
    if (eq == std::string::npos) return false;
    std::string kind = spec.substr(0, eq), value = spec.substr(eq + 1);
    if (kind == "msgbox") {
        static const std::pair<const char*, int> names[] = {
            {"ok", IDOK},       {"cancel", IDCANCEL}, {"yes", IDYES},       {"no", IDNO},
            {"abort", IDABORT}, {"retry", IDRETRY},   {"ignore", IDIGNORE},
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

namespace {

// Image_video on the control's form.
constexpr int kVideoLeft = 34, kVideoTop = 43, kVideoWidth = 640, kVideoHeight = 512;

// A picture is on the video once its area is no longer one flat colour:
// one sample in a hundred differs from the first.
bool VideoShown(void* control)
{
    static std::vector<uint32_t> pixels((size_t)kVideoWidth * kVideoHeight);
    if (Vcl_WindowPixels(control, kVideoLeft, kVideoTop, kVideoWidth, kVideoHeight, pixels.data()) != 0) return false;
    const uint32_t first = pixels[0];
    size_t samples = 0, differ = 0;
    for (size_t i = 0; i < pixels.size(); i += 7, samples++) {
        uint32_t p = pixels[i];
        for (int shift = 0; shift < 24; shift += 8) {
            int d = (int)((p >> shift) & 255) - (int)((first >> shift) & 255);
            if (d > 8 || d < -8) {
                differ++;
                break;
            }
        }
    }
    return differ * 100 >= samples;
}

// The text shown at the step's point: false when there is none.
bool TextOf(const TScriptStep& s, void* window, std::string& out)
{
    char text[512];
    if (!window || Vcl_TextAt(window, s.x, s.y, text, sizeof text) != 0) return false;
    out = text;
    return true;
}

bool Near(uint32_t a, uint32_t b, int tolerance)
{
    for (int shift = 0; shift < 24; shift += 8) {
        int d = (int)((a >> shift) & 255) - (int)((b >> shift) & 255);
        if (d > tolerance || d < -tolerance) return false;
    }
    return true;
}

// What a wait for a change saw at its first look: the text, or the
// area's pixels (empty: none there).
struct TBaseline {
    std::string text;
    std::vector<uint32_t> pixels;
};

bool AreaOf(const TScriptStep& s, void* window, std::vector<uint32_t>& out)
{
    out.assign((size_t)s.w * (size_t)s.h, 0);
    if (window && Vcl_WindowPixels(window, s.x, s.y, s.w, s.h, out.data()) == 0) return true;
    out.clear();
    return false;
}

// Whether a wait's condition holds now.
bool Holds(const TScriptStep& s, void* control, TScriptMessageBoxes* boxes, const TBaseline& baseline)
{
    void* window = s.window.empty() ? control : Vcl_FindWindow(s.window.c_str());
    std::string text;
    switch (s.action) {
    case saWaitText: return TextOf(s, window, text) && Script_Matches(s.text, text);
    case saWaitChange: return TextOf(s, window, text) && text != baseline.text;
    case saWaitRedraw: {
        std::vector<uint32_t> now;
        return AreaOf(s, window, now) && !baseline.pixels.empty() && now != baseline.pixels;
    }
    case saWaitPixel: {
        long pixel = window ? Vcl_WindowPixel(window, s.x, s.y) : -1;
        return pixel >= 0 && Near((uint32_t)pixel, s.colour, s.tolerance) != s.away;
    }
    case saWaitFile: return access(s.text.c_str(), F_OK) == 0;
    case saWaitEnabled: return window && Vcl_EnabledAt(window, s.x, s.y) == 1;
    case saWaitGreyed: return window && Vcl_EnabledAt(window, s.x, s.y) == 0;
    case saWaitVideo: return VideoShown(control);
    case saWaitMessageBox: return boxes && Script_TakeMessageBox(*boxes, s.text);
    case saWaitWindow: return Vcl_FindWindow(s.text.c_str()) != nullptr;
    default: return true;
    }
}

// What the wait saw when it gave up, for its line.
std::string Seen(const TScriptStep& s, void* control)
{
    if (s.action != saWaitText && s.action != saWaitEnabled && s.action != saWaitGreyed && s.action != saWaitChange &&
        s.action != saWaitPixel)
        return "";
    void* window = s.window.empty() ? control : Vcl_FindWindow(s.window.c_str());
    if (!window) return " (no window \"" + s.window + "\")";
    if (s.action == saWaitEnabled || s.action == saWaitGreyed) {
        int enabled = Vcl_EnabledAt(window, s.x, s.y);
        return enabled == 0 ? " (greyed)" : enabled == 1 ? " (enabled)" : " (no control there)";
    }
    if (s.action == saWaitPixel) {
        char colour[32];
        snprintf(colour, sizeof colour, " (%06lX)", Vcl_WindowPixel(window, s.x, s.y) & 0xFFFFFFL);
        return colour;
    }
    char text[512];
    if (Vcl_TextAt(window, s.x, s.y, text, sizeof text) != 0) return " (no text there)";
    std::string out = " (shows \"";
    Escape(out, text);
    return out + "\")";
}

void RunStep(const TScriptStep& s, void* control)
{
    void* window = s.window.empty() ? control : Vcl_FindWindow(s.window.c_str());
    if (!window) {
        fprintf(stderr, "tavlin-host: no window \"%s\"\n", s.window.c_str());
        return;
    }
    switch (s.action) {
    case saClick: Vcl_ClickAt(window, s.x, s.y); break;
    case saMove: Vcl_MouseAt(window, vmaMove, mbLeft, s.x, s.y); break;
    case saType:
        if (Vcl_TypeTextAt(window, s.x, s.y, s.text.c_str()) != 0)
            fprintf(stderr, "tavlin-host: nothing to type into at %d,%d\n", s.x, s.y);
        break;
    case saKey:
        if (Vcl_KeyAt(window, s.text.c_str()) != 0) fprintf(stderr, "tavlin-host: unknown key %s\n", s.text.c_str());
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
        if ((window == control && gShooter ? gShooter(s.text.c_str()) : Vcl_SaveWindowPng(window, s.text.c_str())) != 0)
            fprintf(stderr, "tavlin-host: cannot write %s\n", s.text.c_str());
        break;
    default: break;
    }
}

} // namespace

void Script_SetControlShooter(TScriptShooter shooter) { gShooter = std::move(shooter); }

void Script_Run(TComponent* owner, void* window, const std::vector<TScriptStep>& steps, int endMs,
                TScriptMessageBoxes* boxes, std::function<void(bool)> onEnd)
{
    auto sequence = std::make_shared<TScriptSequence>(steps, endMs);
    auto start = std::chrono::steady_clock::now();
    auto now = [start]() {
        return (long long)std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                start)
            .count();
    };
    // One timer walks the steps: each pass does what is due and sets itself
    // for the next time something is. Times count from the start or the
    // last wait met, whatever the steps themselves take.
    TTimer* t = new TTimer(owner);
    void* control = window;
    auto baseline = std::make_shared<TBaseline>();
    t->OnTimer = [t, sequence, now, control, boxes, onEnd, baseline](TObject*) {
        t->SetEnabled(false);
        for (;;) {
            long long at = now();
            TScriptSequence::TNext n = sequence->Next(at);
            if (n.kind == TScriptSequence::skStep) {
                RunStep(*n.step, control);
                continue;
            }
            long long wake = n.at;
            if (n.kind == TScriptSequence::skWait) {
                if (n.begins && (n.step->action == saWaitChange || n.step->action == saWaitRedraw)) {
                    void* w = n.step->window.empty() ? control : Vcl_FindWindow(n.step->window.c_str());
                    if (!TextOf(*n.step, w, baseline->text)) baseline->text.clear();
                    if (n.step->action == saWaitRedraw) AreaOf(*n.step, w, baseline->pixels);
                }
                long long waited = 0;
                TScriptSequence::TWaitResult r =
                    sequence->Wait(at, Holds(*n.step, control, boxes, *baseline), &wake, &waited);
                if (r == TScriptSequence::swMet) continue;
                if (r == TScriptSequence::swTimedOut) {
                    fflush(stdout);
                    fprintf(stderr, "tavlin-host: wait for %s timed out after %lld ms%s\n",
                            Script_DescribeWait(*n.step).c_str(), waited, Seen(*n.step, control).c_str());
                    if (onEnd) onEnd(false);
                    return;
                }
            }
            if (n.kind == TScriptSequence::skEnd) {
                if (onEnd) onEnd(true);
                return;
            }
            if (n.kind == TScriptSequence::skFinished) return;
            long long delay = wake - now();
            t->SetInterval((uint32_t)(delay > 0 ? delay : 1));
            t->SetEnabled(true);
            return;
        }
    };
    t->SetInterval(1);
    t->SetEnabled(true);
}
