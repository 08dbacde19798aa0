// Preview: composes a built skin the way the viewer composes its key panel
// (background, then every element's items pass by pass, glyphs laid over
// with 0xFFFF skipped, then 4:2:2 to RGB) under a named preview state, so
// the artwork and layout can be looked at before the viewer runs.
#include "SkinWriter.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace skinwrite {

namespace {

struct El {
    const ElementRecord* r;
    const GroupRecord* g;
    int ref;
    int centreX, centreY, offsetX, offsetY;
    int lit, refLit, refItems;
    char s1, s2, s3, t1, t2, t3;
};

void Letters(const std::string& s, char* a, char* b, char* c)
{
    size_t n = s.size();
    *a = *b = *c = '0';
    if (n >= 3 && s[n - 3] == '#') {
        *a = s[n - 2];
        *b = s[n - 1];
    } else if (n >= 4 && s[n - 4] == '#') {
        *a = s[n - 3];
        *b = s[n - 2];
        *c = s[n - 1];
    }
}

int Constant(const std::string& s)
{
    if (s.size() < 4) return 0;
    int v = 0;
    for (size_t i = 0; i + 3 < s.size(); ++i) v = v * 10 + (s[i] - '0');
    return v;
}

// Recorder time: seconds since 2000-01-01, 2000 counted as a common year.
bool Leap(int y) { return y % 4 == 0 && y % 100 != 0; }

int MonthDays(int y, int m)
{
    static const int d[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && Leap(y)) ? 29 : d[m - 1];
}

int64_t ToSeconds(int y, int m, int day, int hh, int mm, int ss)
{
    int64_t days = 0;
    for (int k = 2000; k < y; ++k) days += Leap(k) ? 366 : 365;
    for (int k = 1; k < m; ++k) days += MonthDays(y, k);
    days += day - 1;
    return days * 86400 + hh * 3600 + mm * 60 + ss;
}

void FromSeconds(int64_t t, int* y, int* m, int* d, int* hh, int* mm, int* ss)
{
    int64_t days = t / 86400, rest = t % 86400;
    *hh = (int)(rest / 3600);
    *mm = (int)(rest % 3600 / 60);
    *ss = (int)(rest % 60);
    int year = 2000;
    while (year < 2099 && days >= (Leap(year) ? 366 : 365)) days -= Leap(year++) ? 366 : 365;
    int month = 1;
    while (month < 12 && days >= MonthDays(year, month)) days -= MonthDays(year, month++);
    *y = year;
    *m = month;
    *d = (int)days + 1;
}

struct Composer {
    const Skin& skin;
    std::map<std::string, std::vector<int32_t>> vars;
    std::vector<El> els;
    std::vector<uint8_t> pic; // composed units {Y, C}, stride bgW
    int bgW = 0, bgH = 0;
    int hoverEl = -1, hoverSub = -1;
    int slotValue = 0;

    explicit Composer(const Skin& s) : skin(s) {}

    int32_t Get(const std::string& key, int index = 0)
    {
        // Keys that name one variable in the viewer's table.
        std::string k = key;
        if (k == "MOD#SDZ") k = "MOD#SD";
        if (k == "Dm_SPre#AD") k = "Dm_SPre#ADN";
        auto it = vars.find(k);
        if (it == vars.end() || index < 0 || index >= (int)it->second.size()) return 0;
        return it->second[(size_t)index];
    }

    const uint8_t* FileUnit(int x, int y)
    {
        if (x < 0 || y < 0 || x >= skin.width || y >= skin.rows) return nullptr;
        return &skin.file[16 + ((size_t)y * (size_t)skin.width + (size_t)x) * 2];
    }

    // Copies a w x h block from file (sx, sy) to the picture at (dx, dy),
    // skipping transparent units; both left edges are even.
    void Copy(int sx, int sy, int dx, int dy, int w, int h, bool transparent = true)
    {
        sx &= ~1;
        dx &= ~1;
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) {
                const uint8_t* u = FileUnit(sx + i, sy + j);
                int x = dx + i, y = dy + j;
                if (!u || x < 0 || y < 0 || x >= bgW || y >= bgH) continue;
                if (transparent && u[0] == 0xFF && u[1] == 0xFF) continue;
                uint8_t* o = &pic[((size_t)y * (size_t)bgW + (size_t)x) * 2];
                o[0] = u[0];
                o[1] = u[1];
            }
    }

    void Cell(const El& e, int gc, int gr, int cx, int cy, int yshift = 0)
    {
        int w = e.g->w, h = e.g->h;
        Copy(e.g->stripX + w * gc + 1, e.g->stripY + h * gr, cx - (w >> 1), cy - (h >> 1) + yshift, w, h);
    }

    void Geometry(El& e, int p)
    {
        if (e.ref < 0) {
            e.centreX = e.g->w >> 1;
            e.centreY = e.g->h >> 1;
            e.refLit = 1;
            return;
        }
        const El& r = els[(size_t)e.ref];
        e.refLit = r.lit;
        int items = e.r->items, c = e.r->columns;
        if (items < 2) {
            e.centreX = r.centreX + e.offsetX;
            e.centreY = r.centreY + e.offsetY;
        } else if (c > 0) {
            int rows = (items + e.r->extra + c - 1) / c;
            int gw = (c - 1) * e.r->spacingX + e.g->w * c, gh = (rows - 1) * e.r->spacingY + e.g->h * rows;
            e.centreX = r.centreX + e.offsetX - (gw >> 1) + (e.g->w >> 1) + (e.g->w + e.r->spacingX) * (p % c);
            e.centreY = r.centreY + e.offsetY - (gh >> 1) + (e.g->h >> 1) + (e.g->h + e.r->spacingY) * (p / c);
        }
    }

    int ToolBarLit(const El& e)
    {
        int id = e.g->id, page = Get("IE_Page2#SD");
        if (id == 6) return Get("IE_PB_PS#SD") == 1;
        if (id == 4) return Get("IE_Month_T#SD") == 0;
        if (id == 3) return Get("IE_Month_T#SD") != 0;
        if (id == 0 || id == 5) {
            if (page != 0) return 0;
            return id == (Get("IE_M_CH#SD") == 8 ? 5 : 0);
        }
        return page != 3 && page != -1 && page == id;
    }

    void Generic(El& e, int index, int p)
    {
        int n = std::max(1, (int)e.g->columns), rows = e.g->rows, s = e.g->step, offset = 0;
        const std::string& src = e.r->source;
        const std::string& dst = e.r->target;
        bool srcA = e.s1 == 'A' || e.s1 == 'a', srcS = e.s1 == 'S' || e.s1 == 's';
        bool dstBound = e.t1 != '0' && e.t2 != '0', dstA = dstBound && (e.t1 == 'A' || e.t1 == 'a');
        int gc = 0, gr = 0;
        if (e.g->kind == 7999 && srcS) {
            int v = Get(src);
            gc = v % n;
            gr = v / n;
        } else if (s >= 1) {
            if (srcA && Get(src, p + offset) == -1) return;
            gc = (s * p) % n;
            gr = (s * p) / n;
            if (srcA) {
                if (n >= 2) gc += Get(src, p);
                else if (rows >= 2) gr += Get(src, p);
            } else if (e.g->kind == 8007 && s >= 2) {
                gc += Get(src);
            } else if (dstBound && s >= 2 && Get(dst) == p) {
                gc += 1;
            }
        } else if (dstA || srcA) {
            int v = dstA ? Get(dst, p + offset) : Get(src, p + offset);
            gc = v % n;
            gr = v / n;
        } else {
            int t = dstBound ? Get(dst) : 0;
            int base = (e.s1 == 'C') ? Constant(src) : (e.s3 == 'C' ? Get(src) : 0);
            int lit = (p + base == t && t >= 0 && t <= 255) ? 1 : 0;
            gc = base == 255 ? 2 : (lit + s * p) % n;
            gr = (lit + s * p) / n;
        }
        if (gc > n || gc < -1 || gr > rows || gr < -1) return;
        if (gc == -1 || gr == -1) return;
        Cell(e, gc, gr, e.centreX, e.centreY);
        if (index == hoverEl && p + 1 == hoverSub && gc != 2 && (s == 0 || s >= 3 || e.g->kind == 8007)) {
            int w = e.g->w, h = e.g->h;
            Copy(e.g->stripX - w, e.g->stripY, e.centreX - (w >> 1), e.centreY - (h >> 1), w, h);
        }
    }

    void Number(El& e, int p)
    {
        int kind = e.g->kind, n = 0, g = 0;
        bool srcA = e.s1 == 'A' || e.s1 == 'a';
        if (srcA && Get(e.r->source, p) == -1) return;
        if (kind == 0 || kind == 1) n = p + e.r->value;
        else if (kind == 2 || kind == 3) n = Get(e.r->source);
        else {
            int y, m, d, hh, mm, ss;
            FromSeconds((uint32_t)Get(e.r->source, p), &y, &m, &d, &hh, &mm, &ss);
            n = d;
            g = m != Get("Mon_M#SD") ? 1 : 0;
        }
        int digits = 1;
        for (int v = n; v >= 10; v /= 10) ++digits;
        int d, cols;
        if (kind == 0 || kind == 3 || kind == 8001) {
            d = (n == 0 && e.r->value != 0) ? 0 : digits;
            cols = d;
        } else {
            d = e.r->items;
            cols = e.r->columns;
        }
        // Without grid columns the number is one cell; its digits still run
        // along the glyph columns from there.
        int rows = cols <= 0 ? 1 : (d + e.r->extra + cols - 1) / cols;
        if (cols <= 0) cols = 1;
        int w = e.g->w, h = e.g->h;
        int gw = (cols - 1) * e.r->spacingX + w * cols, gh = (rows - 1) * e.r->spacingY + h * rows;
        int cx = (e.ref < 0 ? (e.g->w >> 1) : els[(size_t)e.ref].centreX) + e.offsetX;
        int cy = (e.ref < 0 ? (e.g->h >> 1) : els[(size_t)e.ref].centreY) + e.offsetY;
        int left = cx - (gw >> 1) + (w >> 1), top = cy - (gh >> 1) + (h >> 1);
        int N = std::max(1, (int)e.g->columns), s = e.g->step;
        for (int i = 0; i < d; ++i) {
            int k = n;
            for (int j = i + 1; j < d; ++j) k /= 10;
            k %= 10;
            int x = left + (w + e.r->spacingX) * (i % N), y = top + (h + e.r->spacingY) * (i / N);
            Cell(e, (k * s) % N + g, (k * s) / N, x, y);
        }
    }

    void DateTime(El& e, int p)
    {
        int y, m, d, hh, mm, ss;
        FromSeconds((uint32_t)Get(e.r->source), &y, &m, &d, &hh, &mm, &ss);
        char text[32];
        snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", y, m, d, hh, mm, ss);
        char ch = p < (int)strlen(text) ? text[p] : 0;
        int cell = (ch >= '0' && ch <= '9') ? ch - '0' : ch == ':' ? 10 : ch == '/' ? 11 : ch == ' ' ? 12 : 0;
        Cell(e, cell, 0, e.centreX, e.centreY);
    }

    void Thumb(El& e)
    {
        int steps = e.r->value, value = e.g->id == 1 ? slotValue : 0;
        if (e.r->spacingX >= 1) Cell(e, 0, 0, e.centreX + (value - (steps >> 1)) * e.r->spacingX, e.centreY);
        else Cell(e, 0, 0, e.centreX, e.centreY + (value - (steps >> 1)) * e.r->spacingY);
    }

    void Window(El& e)
    {
        int v = std::max(0, std::min(100, (int)Get(e.r->source)));
        int w = e.g->w, h = e.g->h, cut = (w * v * 10) / 1000;
        Copy(e.g->stripX - cut + 1, e.g->stripY, e.centreX - (w >> 1), e.centreY - (h >> 1), w, h);
    }

    void Compose()
    {
        const GroupRecord& bg = *els[0].g;
        bgW = bg.w;
        bgH = bg.h;
        pic.assign((size_t)bgW * (size_t)bgH * 2, 0x80);
        int passes = 0;
        for (const El& e : els) passes = std::max(passes, (int)e.r->items);
        for (int p = 0; p < passes; ++p) {
            for (size_t i = 0; i < els.size(); ++i) {
                El& e = els[i];
                int refItems = e.ref < 0 ? 1 : els[(size_t)e.ref].r->items;
                if (!(p < e.r->items || p < refItems)) continue;
                if (i == 0) {
                    Copy(0, bg.stripY, 0, 0, bgW, bgH, false);
                    continue;
                }
                if (e.g->columns == 0) continue;
                Geometry(e, p);
                int kind = e.g->kind;
                if (kind == 8005) e.lit = ToolBarLit(e);
                if (kind == 8000 || kind == 8003) e.lit = e.g->id == Get("MOD#SD");
                if (!e.lit || !e.refLit) continue;
                if (kind == 0 || kind == 1 || kind == 2 || kind == 3 || kind == 8001) Number(e, p);
                else if (kind == 8011) Thumb(e);
                else if (e.r->radial == 1 && kind != 8002) continue; // no radial elements in these skins
                else if (kind == 8006) Window(e);
                else if (kind == 8008) DateTime(e, p);
                else if (kind == 8002 || e.r->radial != 0) continue;
                else Generic(e, (int)i, p);
            }
        }
    }

    void ToCanvas(Canvas* out)
    {
        out->Resize(bgW, bgH, 0xFF000000u);
        for (int r = 0; r < bgH; ++r)
            for (int c = 0; c < bgW; ++c) {
                const uint8_t* pair = &pic[((size_t)r * (size_t)bgW + (size_t)(c & ~1)) * 2];
                uint8_t u[4] = {pair[0], pair[1], pair[2], pair[3]};
                bool firstClear = u[0] == 0xFF && u[1] == 0xFF;
                if (firstClear) u[0] = u[1] = 0x80;
                if (u[2] == 0xFF && u[3] == 0xFF) u[2] = u[3] = 0x80;
                int a = firstClear ? 100 : (u[1] & 3) * 25;
                int rgb[3];
                YuvToRgb(u[(c & 1) * 2], u[1], u[3], &rgb[0], &rgb[1], &rgb[2]);
                Colour px = 0xFF000000u;
                for (int k = 0; k < 3; ++k) {
                    int v = (rgb[k] * (100 - a) + 255 * a) / 100;
                    px |= (Colour)std::max(0, std::min(255, v)) << (16 - 8 * k);
                }
                out->Set(c, r, px);
            }
    }
};

bool ParseDate(const std::string& s, int* y, int* m, int* d) { return sscanf(s.c_str(), "%d-%d-%d", y, m, d) == 3; }

} // namespace

bool ComposePreview(const Skin& skin, const Description& d, const std::string& state, int hoverElement, int hoverSub,
                    Canvas* out, std::string* error)
{
    Composer c(skin);
    const StateDesc* st = nullptr;
    for (const StateDesc& s : d.states)
        if (s.name == state) st = &s;
    if (!st) {
        *error = "no state named " + state;
        return false;
    }
    c.vars = st->values;
    c.hoverEl = hoverElement;
    c.hoverSub = hoverSub;

    // Calendar helpers: the grid of the month of `calendar`, days with
    // recordings, the edited time of day and the chosen half-hour slot.
    auto opt = [&](const char* k) -> std::string {
        auto it = st->options.find(k);
        return it == st->options.end() ? std::string() : it->second;
    };
    int y = 0, m = 0, day = 0;
    if (!opt("calendar").empty()) {
        if (!ParseDate(opt("calendar"), &y, &m, &day)) {
            *error = "calendar=YYYY-MM-DD";
            return false;
        }
        int64_t first = ToSeconds(y, m, 1, 0, 0, 0);
        int w = (int)((first / 86400) % 7);
        int64_t start = first - (w == 0 ? 7 : w) * 86400;
        std::vector<int32_t> days(42), data(42, 0);
        std::vector<int> rec;
        std::string list = opt("recdays");
        for (size_t pos = 0; pos < list.size();) {
            size_t next = list.find(',', pos);
            rec.push_back(atoi(list.substr(pos, next - pos).c_str()));
            pos = next == std::string::npos ? list.size() : next + 1;
        }
        int64_t selected = ToSeconds(y, m, day, 0, 0, 0);
        for (int i = 0; i < 42; ++i) {
            int64_t t = start + (int64_t)i * 86400;
            days[(size_t)i] = (int32_t)t;
            int yy, mm, dd, a, b, cc;
            FromSeconds(t, &yy, &mm, &dd, &a, &b, &cc);
            bool has = mm == m && std::find(rec.begin(), rec.end(), dd) != rec.end();
            data[(size_t)i] = (t == selected ? 4 : 0) + (has ? 1 : 0);
        }
        c.vars["Mon_Day#AD"] = days;
        c.vars["Mon_Data#AD"] = data;
        c.vars["Mon_Y#SD"] = {y};
        c.vars["Mon_M#SD"] = {m};
    }
    if (!opt("slot").empty()) c.slotValue = atoi(opt("slot").c_str());
    if (!opt("time").empty()) {
        int hh = 0, mm = 0, ss = 0;
        sscanf(opt("time").c_str(), "%d:%d:%d", &hh, &mm, &ss);
        c.vars["Mon_h#SD"] = {hh};
        c.vars["Mon_m2#SD"] = {mm};
        c.vars["Mon_s#SD"] = {ss};
    }
    // Marks as dates: mark-play=YYYY-MM-DDTHH:MM:SS and so on.
    static const char* marks[][2] = {
        {"mark-play", "Mon_P_N_T#SD"}, {"mark-from", "Mon_B_F_T#SD"}, {"mark-to", "Mon_B_T_T#SD"}};
    for (auto& mk : marks) {
        std::string v = opt(mk[0]);
        if (v.empty()) continue;
        int a, b, e, hh, mm, ss;
        if (sscanf(v.c_str(), "%d-%d-%dT%d:%d:%d", &a, &b, &e, &hh, &mm, &ss) != 6) {
            *error = std::string(mk[0]) + "=YYYY-MM-DDTHH:MM:SS";
            return false;
        }
        c.vars[mk[1]] = {(int32_t)ToSeconds(a, b, e, hh, mm, ss)};
    }

    for (size_t i = 0; i < skin.elements.size(); ++i) {
        const ElementRecord& r = skin.elements[i];
        El e{};
        e.r = &r;
        e.g = &skin.groups[(size_t)r.groupIndex];
        e.ref = r.refIndex;
        e.offsetX = r.offsetX;
        e.offsetY = r.offsetY;
        e.centreX = r.centreX;
        e.centreY = r.centreY;
        e.lit = 1;
        e.refLit = 1;
        Letters(r.source, &e.s1, &e.s2, &e.s3);
        Letters(r.target, &e.t1, &e.t2, &e.t3);
        c.els.push_back(e);
    }
    c.Compose();
    c.ToCanvas(out);
    return true;
}

} // namespace skinwrite
