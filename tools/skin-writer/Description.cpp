// The readable skin description: one statement per line, '#' starts a
// comment outside quotes, words are separated by blanks, values may be
// quoted. Statements: skin, colour, group, element, draw, canvas, state.
#include "SkinWriter.h"
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace skinwrite {

bool ReadFile(const std::string& path, std::string* text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    *text = s.str();
    return true;
}

static std::string Where(int line) { return "line " + std::to_string(line) + ": "; }

// Splits a line into words; quotes group blanks and are removed. A '#' that
// starts a word begins a comment when it is the line's first word or is
// followed by a blank; otherwise it belongs to the word ("#14181d").
static bool SplitWords(const std::string& line, std::vector<std::string>* words, std::string* error, int n)
{
    words->clear();
    std::string cur;
    bool quoted = false, have = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quoted) {
            if (c == '"') quoted = false;
            else cur += c;
            continue;
        }
        if (c == '#' && !have) {
            bool last = i + 1 >= line.size() || line[i + 1] == ' ' || line[i + 1] == '\t' || line[i + 1] == '\r';
            if (words->empty() || last) break;
        }
        if (c == '"') {
            quoted = true;
            have = true;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (have) words->push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (quoted) {
        *error = Where(n) + "unterminated quote";
        return false;
    }
    if (have) words->push_back(cur);
    return true;
}

static bool ToInt(const std::string& s, int* v)
{
    if (s.empty()) return false;
    char* end = nullptr;
    long x = strtol(s.c_str(), &end, 10);
    if (*end) return false;
    *v = (int)x;
    return true;
}

static bool ToPair(const std::string& s, char sep, int* a, int* b)
{
    size_t k = s.find(sep);
    if (k == std::string::npos) return false;
    return ToInt(s.substr(0, k), a) && ToInt(s.substr(k + 1), b);
}

static bool ToColour(const std::string& s, Colour* c)
{
    if (s.size() != 7 || s[0] != '#') return false;
    char* end = nullptr;
    unsigned long v = strtoul(s.c_str() + 1, &end, 16);
    if (*end) return false;
    *c = 0xFF000000u | (Colour)v;
    return true;
}

// Words after the first two split into key=value options and the rest.
static void SplitOptions(const std::vector<std::string>& w, size_t from, skinwrite::Options* opts,
                         std::vector<std::string>* rest)
{
    for (size_t i = from; i < w.size(); ++i) {
        size_t k = w[i].find('=');
        if (k == std::string::npos || k == 0) {
            if (rest) rest->push_back(w[i]);
            continue;
        }
        (*opts)[w[i].substr(0, k)] = w[i].substr(k + 1);
    }
}

static bool TakeInt(skinwrite::Options& o, const char* key, int* v, std::string* error, int n)
{
    auto it = o.find(key);
    if (it == o.end()) return true;
    if (!ToInt(it->second, v)) {
        *error = Where(n) + "bad number for " + key + ": " + it->second;
        return false;
    }
    o.erase(it);
    return true;
}

static bool TakePair(skinwrite::Options& o, const char* key, char sep, int* a, int* b, bool* found, std::string* error,
                     int n)
{
    auto it = o.find(key);
    if (found) *found = false;
    if (it == o.end()) return true;
    if (!ToPair(it->second, sep, a, b)) {
        *error = Where(n) + "bad pair for " + key + ": " + it->second;
        return false;
    }
    if (found) *found = true;
    o.erase(it);
    return true;
}

static bool ParseGroup(const std::vector<std::string>& w, int n, Description* d, std::string* error)
{
    GroupDesc g;
    g.line = n;
    g.name = w[1];
    std::vector<std::string> flags;
    SplitOptions(w, 2, &g.options, &flags);
    for (const std::string& f : flags) {
        if (f != "hover") {
            *error = Where(n) + "group " + g.name + ": unknown word " + f;
            return false;
        }
        g.hover = true;
    }
    bool found;
    if (!TakePair(g.options, "size", 'x', &g.w, &g.h, &found, error, n)) return false;
    if (!TakeInt(g.options, "kind", &g.kind, error, n) || !TakeInt(g.options, "id", &g.id, error, n) ||
        !TakeInt(g.options, "level", &g.level, error, n) || !TakeInt(g.options, "step", &g.step, error, n))
        return false;
    if (!TakePair(g.options, "glyphs", 'x', &g.columns, &g.rows, &found, error, n)) return false;
    auto a = g.options.find("art");
    if (a == g.options.end()) {
        *error = Where(n) + "group " + g.name + " has no art";
        return false;
    }
    g.art = a->second;
    g.options.erase(a);
    d->groups.push_back(g);
    return true;
}

static bool ParseElement(const std::vector<std::string>& w, int n, Description* d, std::string* error)
{
    ElementDesc e;
    e.line = n;
    e.name = w[1];
    skinwrite::Options o;
    SplitOptions(w, 2, &o, nullptr);
    e.group = o["group"];
    e.ref = o["ref"];
    o.erase("group");
    o.erase("ref");
    if (e.group.empty() || e.ref.empty()) {
        *error = Where(n) + "element " + e.name + " needs group= and ref=";
        return false;
    }
    bool at = false, centre = false, offset = false;
    if (!TakePair(o, "at", ',', &e.px, &e.py, &at, error, n)) return false;
    int cx = 0, cy = 0, ox = 0, oy = 0;
    if (!TakePair(o, "centre", ',', &cx, &cy, &centre, error, n)) return false;
    if (!TakePair(o, "offset", ',', &ox, &oy, &offset, error, n)) return false;
    if ((int)at + (int)centre + (int)offset > 1) {
        *error = Where(n) + "element " + e.name + ": at, centre and offset exclude each other";
        return false;
    }
    if (at) e.place = ElementDesc::AT;
    if (centre) {
        e.place = ElementDesc::CENTRE;
        e.px = cx;
        e.py = cy;
    }
    if (offset) {
        e.place = ElementDesc::OFFSET;
        e.px = ox;
        e.py = oy;
    }
    bool sp;
    if (!TakePair(o, "spacing", ',', &e.spacingX, &e.spacingY, &sp, error, n)) return false;
    if (!TakeInt(o, "items", &e.items, error, n) || !TakeInt(o, "columns", &e.columns, error, n) ||
        !TakeInt(o, "extra", &e.extra, error, n) || !TakeInt(o, "value", &e.value, error, n) ||
        !TakeInt(o, "radial", &e.radial, error, n) || !TakeInt(o, "radius", &e.radius, error, n))
        return false;
    e.source = o["source"];
    e.target = o["target"];
    o.erase("source");
    o.erase("target");
    if (!o.empty()) {
        *error = Where(n) + "element " + e.name + ": unknown option " + o.begin()->first;
        return false;
    }
    d->elements.push_back(e);
    return true;
}

static bool ParseValues(const std::string& s, std::vector<int32_t>* out)
{
    out->clear();
    std::string cur;
    std::stringstream in(s);
    while (std::getline(in, cur, ',')) {
        int v;
        if (!ToInt(cur, &v)) return false;
        out->push_back(v);
    }
    return !out->empty();
}

bool ParseDescription(const std::string& text, Description* d, std::string* error)
{
    *d = Description();
    std::stringstream in(text);
    std::string line;
    int n = 0;
    std::vector<std::string> w;
    while (std::getline(in, line)) {
        ++n;
        if (!SplitWords(line, &w, error, n)) return false;
        if (w.empty()) continue;
        const std::string& k = w[0];
        if (k != "skin" && w.size() < 2) {
            *error = Where(n) + k + " needs a name";
            return false;
        }
        if (k == "skin") {
            skinwrite::Options o;
            SplitOptions(w, 1, &o, nullptr);
            d->skinName = o["name"];
            if (o.count("width") && !ToInt(o["width"], &d->width)) {
                *error = Where(n) + "bad width";
                return false;
            }
        } else if (k == "colour") {
            Colour c;
            if (w.size() != 3 || !ToColour(w[2], &c)) {
                *error = Where(n) + "colour NAME #rrggbb";
                return false;
            }
            d->colours[w[1]] = c;
        } else if (k == "group") {
            if (!ParseGroup(w, n, d, error)) return false;
        } else if (k == "element") {
            if (!ParseElement(w, n, d, error)) return false;
        } else if (k == "draw") {
            if (w.size() < 3) {
                *error = Where(n) + "draw TARGET OP ...";
                return false;
            }
            DrawOp op;
            op.line = n;
            op.target = w[1];
            op.op = w[2];
            SplitOptions(w, 3, &op.options, &op.args);
            d->draws.push_back(op);
        } else if (k == "canvas") {
            CanvasDesc c;
            c.name = w[1];
            skinwrite::Options o;
            SplitOptions(w, 2, &o, nullptr);
            if (!ToPair(o["size"], 'x', &c.w, &c.h)) {
                *error = Where(n) + "canvas needs size=WxH";
                return false;
            }
            auto f = o.find("fill");
            if (f != o.end()) {
                auto p = d->colours.find(f->second);
                if (p != d->colours.end()) c.fill = p->second;
                else if (!ToColour(f->second, &c.fill)) {
                    *error = Where(n) + "bad fill colour";
                    return false;
                }
            }
            d->canvases.push_back(c);
        } else if (k == "state") {
            StateDesc s;
            s.name = w[1];
            skinwrite::Options o;
            SplitOptions(w, 2, &o, nullptr);
            for (auto& kv : o) {
                if (kv.first.find('#') == std::string::npos) {
                    s.options[kv.first] = kv.second;
                    continue;
                }
                std::vector<int32_t> v;
                if (!ParseValues(kv.second, &v)) {
                    *error = Where(n) + "bad values for " + kv.first;
                    return false;
                }
                s.values[kv.first] = v;
            }
            d->states.push_back(s);
        } else {
            *error = Where(n) + "unknown statement " + k;
            return false;
        }
    }
    return true;
}

} // namespace skinwrite
