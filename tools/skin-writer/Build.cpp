// Builds a skin from its description: places every element, paints each
// group's glyph strip (hover cell, item cells), packs the strips beside the
// background in the file picture, and writes the layout block into the
// first bytes of the first 22 rows. The file layout is written field by
// field at its byte offsets.
#include "SkinWriter.h"
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace skinwrite {

namespace {

const int kLayoutRows = 22, kLayoutRowBytes = 1024, kLayoutSize = 22528;
const int kGroupRoom = 64, kRecordRoom = 97, kNameBytes = 16;
const int kFileMax = 2097152, kPixelsOffset = 16;

struct Builder {
    const Description& d;
    std::string* error;
    Skin* skin;
    std::map<std::string, int> groupIndex, elementIndex;
    std::vector<int> originX, originY; // per group: panel position of its first element's top-left
    std::vector<Canvas> strips;        // per group
    std::vector<int> stripOrigin;      // per group: x of cell 0 inside its strip canvas
    std::vector<int> shareOf;          // per group: group whose strip it uses, or -1

    Builder(const Description& desc, std::string* e, Skin* s) : d(desc), error(e), skin(s) {}

    bool Fail(int line, const std::string& what)
    {
        *error = (line ? "line " + std::to_string(line) + ": " : std::string()) + what;
        return false;
    }

    bool ResolveColour(const std::string& name, Colour* c, int line)
    {
        if (name == "clear") {
            *c = kClear;
            return true;
        }
        auto it = d.colours.find(name);
        if (it != d.colours.end()) {
            *c = it->second;
            return true;
        }
        if (name.size() == 7 && name[0] == '#') {
            char* end = nullptr;
            unsigned long v = strtoul(name.c_str() + 1, &end, 16);
            if (!*end) {
                *c = 0xFF000000u | (Colour)v;
                return true;
            }
        }
        return Fail(line, "unknown colour " + name);
    }

    // Palette entry with a fallback name.
    Colour Pal(const std::string& name, Colour fallback = 0xFF808080u)
    {
        auto it = d.colours.find(name);
        return it == d.colours.end() ? fallback : it->second;
    }

    static std::vector<std::string> Labels(const Options& o, const char* key, char sep = '|')
    {
        std::vector<std::string> out;
        auto it = o.find(key);
        if (it == o.end()) return out;
        std::string cur;
        for (char ch : it->second) {
            if (ch == sep) {
                out.push_back(cur);
                cur.clear();
            } else {
                cur += ch;
            }
        }
        out.push_back(cur);
        return out;
    }

    static std::string Opt(const Options& o, const char* key, const std::string& fallback = "")
    {
        auto it = o.find(key);
        return it == o.end() ? fallback : it->second;
    }

    static int OptInt(const Options& o, const char* key, int fallback)
    {
        auto it = o.find(key);
        return it == o.end() ? fallback : atoi(it->second.c_str());
    }

    // ---- element geometry ----

    // Item rectangles of an element in panel pixels, as the viewer lays a
    // grid out (or the one item at the element centre).
    void ItemRects(const ElementRecord& e, const GroupRecord& g, std::vector<std::array<int, 4>>* out)
    {
        out->clear();
        int w = g.w, h = g.h;
        if (e.items >= 2 && e.columns > 0) {
            int c = e.columns, rows = (e.items + e.extra + c - 1) / c;
            int gw = (c - 1) * e.spacingX + w * c, gh = (rows - 1) * e.spacingY + h * rows;
            int left = e.centreX - (gw >> 1), top = e.centreY - (gh >> 1);
            for (int p = 0; p < e.items; ++p)
                out->push_back({left + (w + e.spacingX) * (p % c), top + (h + e.spacingY) * (p / c), w, h});
        } else {
            out->push_back({e.centreX - (w >> 1), e.centreY - (h >> 1), w, h});
        }
    }

    bool Place()
    {
        if ((int)d.groups.size() > kGroupRoom) return Fail(0, "more than 64 groups");
        if ((int)d.elements.size() > kRecordRoom) return Fail(0, "more than 97 elements");
        if (d.groups.size() + d.elements.size() > 160) return Fail(0, "more than 160 names");
        for (size_t i = 0; i < d.groups.size(); ++i) {
            const GroupDesc& g = d.groups[i];
            if (g.name.empty() || g.name.size() >= (size_t)kNameBytes)
                return Fail(g.line, "group name must have 1 to 15 characters");
            if (groupIndex.count(g.name)) return Fail(g.line, "group " + g.name + " named twice");
            if (g.w < 0 || g.h < 0 || (g.w & 1))
                return Fail(g.line, "group " + g.name + ": item width must be even and sizes not negative");
            groupIndex[g.name] = (int)i;
            GroupRecord r;
            r.name = g.name;
            r.w = (int16_t)g.w;
            r.h = (int16_t)g.h;
            r.stripX = r.stripY = 0;
            r.columns = (int16_t)(g.art == "none" ? 0 : g.columns);
            r.rows = (int16_t)g.rows;
            r.step = (int16_t)g.step;
            r.kind = (int16_t)g.kind;
            r.id = (int16_t)g.id;
            r.level = (int16_t)g.level;
            skin->groups.push_back(r);
        }
        for (size_t i = 0; i < d.elements.size(); ++i) {
            const ElementDesc& e = d.elements[i];
            if (e.name.empty() || e.name.size() >= (size_t)kNameBytes)
                return Fail(e.line, "element name must have 1 to 15 characters");
            if (elementIndex.count(e.name)) return Fail(e.line, "element " + e.name + " named twice");
            if (e.source.size() > (size_t)kNameBytes || e.target.size() > (size_t)kNameBytes)
                return Fail(e.line, "variable strings have at most 16 characters");
            auto g = groupIndex.find(e.group);
            if (g == groupIndex.end()) return Fail(e.line, "unknown group " + e.group);
            if (e.columns < 0 || e.columns > 127 || e.extra < 0 || e.extra > 127 || e.items < 0 || e.items > 32767)
                return Fail(e.line, "element " + e.name + ": items, columns or extra cells out of range");
            // Hit-testing lays a grid out with min(items, columns) columns;
            // drawing with the columns as given: keep them one grid.
            if (e.items >= 2 && e.columns > e.items)
                return Fail(e.line, "element " + e.name + ": more columns than items");
            const GroupDesc& gd = d.groups[(size_t)g->second];
            if (e.place == ElementDesc::AT && gd.art != "none" && (e.px & 1))
                return Fail(e.line, "element " + e.name + ": items start on an even pixel (pixel pairs)");
            if ((e.spacingX & 1) && gd.art != "bar")
                return Fail(e.line, "element " + e.name + ": x spacing must be even (pixel pairs)");
            ElementRecord r;
            r.name = e.name;
            r.group = e.group;
            r.ref = e.ref;
            r.source = e.source;
            r.target = e.target;
            r.groupIndex = g->second;
            r.items = (int16_t)e.items;
            r.columns = (int8_t)e.columns;
            r.extra = (int8_t)e.extra;
            r.value = (int16_t)e.value;
            r.spacingX = (int16_t)e.spacingX;
            r.spacingY = (int16_t)e.spacingY;
            r.radial = (int16_t)e.radial;
            r.radius = (int16_t)e.radius;
            const GroupRecord& gr = skin->groups[(size_t)r.groupIndex];
            int refX, refY;
            if (e.ref == "#Vout") {
                // The picture itself pairs only with the first group, and
                // the first element is the background.
                if (r.groupIndex != 0) return Fail(e.line, "#Vout pairs only with the first group");
                if (i != 0) return Fail(e.line, "only the first element (the background) may use #Vout");
                r.refIndex = -1;
                r.centreX = gr.w >> 1;
                r.centreY = gr.h >> 1;
                skin->elements.push_back(r);
                elementIndex[e.name] = (int)i;
                continue;
            }
            if (i == 0) return Fail(e.line, "the first element is the background and uses #Vout");
            auto ref = elementIndex.find(e.ref);
            if (ref == elementIndex.end()) return Fail(e.line, "reference " + e.ref + " is not an earlier element");
            r.refIndex = ref->second;
            refX = skin->elements[(size_t)r.refIndex].centreX;
            refY = skin->elements[(size_t)r.refIndex].centreY;
            int cx = 0, cy = 0;
            switch (e.place) {
            case ElementDesc::AT:
                if (e.items >= 2 && e.columns > 0) {
                    int c = e.columns, rows = (e.items + e.extra + c - 1) / c;
                    int gw = (c - 1) * e.spacingX + gr.w * c, gh = (rows - 1) * e.spacingY + gr.h * rows;
                    cx = e.px + (gw >> 1);
                    cy = e.py + (gh >> 1);
                } else {
                    cx = e.px + (gr.w >> 1);
                    cy = e.py + (gr.h >> 1);
                }
                break;
            case ElementDesc::CENTRE:
                cx = e.px;
                cy = e.py;
                break;
            case ElementDesc::OFFSET:
                cx = refX + e.px;
                cy = refY + e.py;
                break;
            }
            if (cx - refX < -32768 || cx - refX > 32767 || cy - refY < -32768 || cy - refY > 32767)
                return Fail(e.line, "element " + e.name + ": offset out of range");
            r.offsetX = (int16_t)(cx - refX);
            r.offsetY = (int16_t)(cy - refY);
            r.centreX = cx;
            r.centreY = cy;
            skin->elements.push_back(r);
            elementIndex[e.name] = (int)i;
        }
        if (skin->elements.empty()) return Fail(0, "a skin needs its background element");
        skin->background = skin->elements[0].groupIndex;

        // Where each group's first element sits (for backdrop drawing).
        originX.assign(skin->groups.size(), 0);
        originY.assign(skin->groups.size(), 0);
        std::vector<bool> seen(skin->groups.size(), false);
        for (const ElementRecord& e : skin->elements) {
            if (seen[(size_t)e.groupIndex]) continue;
            seen[(size_t)e.groupIndex] = true;
            std::vector<std::array<int, 4>> rects;
            ItemRects(e, skin->groups[(size_t)e.groupIndex], &rects);
            originX[(size_t)e.groupIndex] = rects[0][0];
            originY[(size_t)e.groupIndex] = rects[0][1];
        }
        return true;
    }

    // ---- art ----

    struct Look {
        Colour fill, edge, text;
    };

    bool LookOf(const std::string& name, Look* l, int line)
    {
        static const char* names[] = {"normal", "lit", "press", "off", "mark"};
        for (const char* n : names) {
            if (name != n) continue;
            std::string base = name == "normal" ? "btn" : name;
            l->fill = Pal(base);
            l->edge = Pal(base + "-edge");
            l->text = Pal(base + "-text");
            return true;
        }
        return Fail(line, "unknown look " + name);
    }

    // A button face with a label: text, "icon" or "icon:caption".
    void Button(Canvas& c, int x, int y, int w, int h, const Look& l, Colour corner, const std::string& label)
    {
        Box(c, x, y, w, h, l.fill, l.edge, corner);
        std::string icon = label, caption;
        size_t colon = label.find(':');
        if (colon != std::string::npos) {
            icon = label.substr(0, colon);
            caption = label.substr(colon + 1);
        }
        if (!icon.empty() && icon[0] == '@') {
            int size = std::min(w, h) - (caption.empty() ? 14 : 18);
            if (size < 6) size = 6;
            int cy = caption.empty() ? y + h / 2 : y + 3 + size / 2 + 1;
            DrawIcon(c, icon.substr(1), x + w / 2, cy, size, l.text);
            if (!caption.empty()) DrawTextCentred(c, x + w / 2, y + h - 8, caption, l.text);
        } else {
            DrawTextCentred(c, x + w / 2, y + h / 2, label, l.text);
        }
    }

    void HoverCell(Canvas& c, int x, int w, int h)
    {
        FillRect(c, x, 0, w, h, kClear);
        FrameRect(c, x, 0, w, h, Pal("hover"), 2);
    }

    // Cell k of a strip: column k mod N, row k / N, right of the origin.
    static void CellPos(int k, int n, int w, int h, int origin, int* x, int* y)
    {
        *x = origin + (k % n) * w;
        *y = (k / n) * h;
    }

    bool Paint(size_t gi)
    {
        const GroupDesc& g = d.groups[gi];
        Canvas& s = strips[gi];
        int w = g.w, h = g.h, n = std::max(1, g.columns), rows = std::max(1, g.rows);
        int origin = g.hover ? w : 0;
        const Options& o = g.options;
        Colour corner = Pal("surface");
        if (o.count("on") && !ResolveColour(o.at("on"), &corner, g.line)) return false;
        if (g.art == "none") {
            s.Resize(0, 0, kClear);
            stripOrigin[gi] = 0;
            return true;
        }
        if (g.art == "share") {
            // Same cells as another group of the same size (a second page's
            // copy with another item id, say).
            auto it = groupIndex.find(Opt(o, "group"));
            if (it == groupIndex.end() || it->second == (int)gi) return Fail(g.line, "share needs group=OTHER");
            const GroupDesc& other = d.groups[(size_t)it->second];
            if (other.w != g.w || other.h != g.h || other.art == "share")
                return Fail(g.line, "a shared strip needs a painted group of the same item size");
            s.Resize(0, 0, kClear);
            shareOf[gi] = it->second;
            return true;
        }
        if (g.art == "bar") origin = w;
        s.Resize(origin + n * w, rows * h, kClear);
        stripOrigin[gi] = origin;
        if (g.hover) HoverCell(s, 0, w, h);

        if (g.art == "background" || g.art == "panel") {
            Colour fill = Pal("panel"), edge = Pal("panel-edge");
            if (o.count("fill") && !ResolveColour(o.at("fill"), &fill, g.line)) return false;
            if (o.count("edge") && !ResolveColour(o.at("edge"), &edge, g.line)) return false;
            FillRect(s, origin, 0, w, h, fill);
            if (g.art == "panel") {
                Colour bg = Pal("surface");
                if (o.count("on") && !ResolveColour(o.at("on"), &bg, g.line)) return false;
                Box(s, origin, 0, w, h, fill, edge, bg);
                std::string title = Opt(o, "title");
                if (!title.empty()) {
                    DrawText(s, origin + 8, 6, title, Pal("title"));
                    FillRect(s, origin + 8 + TextWidth(title) + 6, 9, w - TextWidth(title) - 24, 1, edge);
                }
            }
            return DrawOps(g.name, s, origin, 0);
        }
        if (g.art == "buttons") {
            std::vector<std::string> labels = Labels(o, "labels");
            std::vector<std::string> looks = Labels(o, "looks", ',');
            if (labels.empty()) labels.push_back("");
            if (looks.empty()) looks = {"normal", "lit"};
            int items = (int)labels.size();
            for (int p = 0; p < items; ++p) {
                int base = g.step * p;
                for (size_t j = 0; j < looks.size(); ++j) {
                    int k = base + (int)j, x, y;
                    if (k >= n * rows) return Fail(g.line, "group " + g.name + ": cells beyond the strip");
                    CellPos(k, n, w, h, origin, &x, &y);
                    if (looks[j] == "clear") continue;
                    Look l;
                    if (!LookOf(looks[j], &l, g.line)) return false;
                    std::string label = labels[(size_t)p];
                    if (j > 0 && o.count("altlabel")) label = o.at("altlabel");
                    Button(s, x, y, w, h, l, corner, label);
                }
            }
            return true;
        }
        if (g.art == "digits" || g.art == "chars" || g.art == "texts") {
            Colour fg = Pal("text"), dim = Pal("day-dim"), bg = kClear;
            if (o.count("colour") && !ResolveColour(o.at("colour"), &fg, g.line)) return false;
            if (o.count("dim") && !ResolveColour(o.at("dim"), &dim, g.line)) return false;
            if (o.count("bg") && !ResolveColour(o.at("bg"), &bg, g.line)) return false;
            int scale = OptInt(o, "scale", 1);
            int variants = OptInt(o, "variants", 1);
            std::vector<std::string> cells;
            if (g.art == "digits") {
                for (int k = 0; k < 10; ++k)
                    for (int v = 0; v < variants; ++v)
                        cells.push_back(std::string(1, (char)('0' + k)) + (v ? "\x01" : ""));
            } else if (g.art == "chars") {
                for (int k = 0; k < 10; ++k) cells.push_back(std::string(1, (char)('0' + k)));
                cells.push_back(":");
                cells.push_back("/");
                cells.push_back(" ");
            } else {
                cells = Labels(o, "labels");
            }
            if ((int)cells.size() > n * rows) return Fail(g.line, "group " + g.name + ": cells beyond the strip");
            std::string align = Opt(o, "align");
            for (size_t k = 0; k < cells.size(); ++k) {
                int x, y;
                CellPos((int)k, n, w, h, origin, &x, &y);
                FillRect(s, x, y, w, h, bg);
                std::string t = cells[k];
                Colour c = fg;
                if (!t.empty() && t.back() == '\x01') {
                    t.pop_back();
                    c = dim;
                }
                int ty = y + (h - 7 * scale) / 2;
                if (align == "left") DrawText(s, x + 1, ty, t, c, scale);
                else if (align == "right") DrawText(s, x + w - 1 - TextWidth(t, scale), ty, t, c, scale);
                else DrawTextCentred(s, x + w / 2, y + h / 2, t, c, scale);
            }
            return true;
        }
        if (g.art == "daycells") {
            // States: 0 none, 1 recordings, 2/3 marked without/with, 4/5
            // selected without/with recordings.
            for (int k = 0; k < 6 && k < n * rows; ++k) {
                int x, y;
                CellPos(k, n, w, h, origin, &x, &y);
                bool rec = k & 1, marked = k == 2 || k == 3, selected = k >= 4;
                Colour fill = selected ? Pal("select") : (marked ? Pal("mark") : Pal("day"));
                Colour edge = selected ? Pal("select-edge") : Pal("day-edge");
                Box(s, x, y, w, h, fill, edge, corner);
                if (rec) FillRect(s, x + 4, y + h - 5, w - 8, 3, Pal("rec"));
            }
            return true;
        }
        if (g.art == "slots") {
            for (int k = 0; k < 2; ++k) {
                int x, y;
                CellPos(k, n, w, h, origin, &x, &y);
                FillRect(s, x, y, w, h, Pal("slot-gap"));
                FillRect(s, x, y + 1, w - 2, h - 2, k ? Pal("rec") : Pal("slot"));
            }
            return true;
        }
        if (g.art == "thumb") {
            Colour c = Pal("thumb");
            // An upward marker with a flat base; width w, height h.
            for (int j = 0; j < h; ++j) {
                int half = std::min(w / 2, j + 1);
                for (int i = 0; i < w; ++i) {
                    int dx = i < w / 2 ? w / 2 - 1 - i : i - w / 2;
                    if (dx < half) s.Set(origin + i, j, c);
                }
            }
            return true;
        }
        if (g.art == "bar") {
            // Filled left of the strip, empty at it; the viewer slides a
            // window across both by the percentage.
            Colour full = Pal("rec"), empty = Pal("bar-empty"), edge = Pal("panel-edge");
            FillRect(s, 0, 0, w, h, full);
            FillRect(s, origin, 0, w, h, empty);
            FillRect(s, 0, 0, 2 * w, 1, edge);
            FillRect(s, 0, h - 1, 2 * w, 1, edge);
            return true;
        }
        return Fail(g.line, "unknown art " + g.art);
    }

    // Draw lines for `target` onto canvas c; (ox, oy) is where the target's
    // cell 0 starts inside c.
    bool DrawOps(const std::string& target, Canvas& c, int ox, int oy)
    {
        int gi = groupIndex.count(target) ? groupIndex[target] : -1;
        for (const DrawOp& op : d.draws) {
            if (op.target != target) continue;
            if (!RunDraw(op, c, ox, oy, gi)) return false;
        }
        return true;
    }

    bool Int(const DrawOp& op, size_t k, int* v)
    {
        if (k >= op.args.size()) return Fail(op.line, op.op + ": missing argument");
        char* end = nullptr;
        *v = (int)strtol(op.args[k].c_str(), &end, 10);
        if (*end) return Fail(op.line, op.op + ": bad number " + op.args[k]);
        return true;
    }

    bool Col(const DrawOp& op, size_t k, Colour* c)
    {
        if (k >= op.args.size()) return Fail(op.line, op.op + ": missing colour");
        return ResolveColour(op.args[k], c, op.line);
    }

    bool RunDraw(const DrawOp& op, Canvas& c, int ox, int oy, int gi)
    {
        // Group backdrops take panel coordinates; canvases their own.
        int bx = ox, by = oy;
        if (gi >= 0) {
            bx = ox - originX[(size_t)gi];
            by = oy - originY[(size_t)gi];
        }
        int x, y, w, h, t;
        Colour a, b;
        int scale = OptInt(op.options, "scale", 1);
        if (op.op == "rect" || op.op == "frame") {
            if (!Int(op, 0, &x) || !Int(op, 1, &y) || !Int(op, 2, &w) || !Int(op, 3, &h) || !Col(op, 4, &a))
                return false;
            t = OptInt(op.options, "t", 1);
            if (op.op == "rect") FillRect(c, bx + x, by + y, w, h, a);
            else FrameRect(c, bx + x, by + y, w, h, a, t);
        } else if (op.op == "box") {
            if (!Int(op, 0, &x) || !Int(op, 1, &y) || !Int(op, 2, &w) || !Int(op, 3, &h) || !Col(op, 4, &a) ||
                !Col(op, 5, &b))
                return false;
            Colour corner = Pal("surface");
            if (op.options.count("on") && !ResolveColour(op.options.at("on"), &corner, op.line)) return false;
            Box(c, bx + x, by + y, w, h, a, b, corner);
        } else if (op.op == "gradient") {
            if (!Int(op, 0, &x) || !Int(op, 1, &y) || !Int(op, 2, &w) || !Int(op, 3, &h) || !Col(op, 4, &a) ||
                !Col(op, 5, &b))
                return false;
            for (int j = 0; j < h; ++j) {
                Colour m = 0xFF000000u;
                for (int sh = 0; sh < 24; sh += 8) {
                    int ca = (int)((a >> sh) & 0xFF), cb = (int)((b >> sh) & 0xFF);
                    int v = ca + (cb - ca) * j / std::max(1, h - 1);
                    m |= (Colour)v << sh;
                }
                FillRect(c, bx + x, by + y + j, w, 1, m);
            }
        } else if (op.op == "text" || op.op == "ctext") {
            if (!Int(op, 0, &x) || !Int(op, 1, &y)) return false;
            if (op.args.size() < 3) return Fail(op.line, "text needs a text");
            if (!Col(op, 3, &a)) return false;
            if (op.op == "text") DrawText(c, bx + x, by + y, op.args[2], a, scale);
            else DrawTextCentred(c, bx + x, by + y, op.args[2], a, scale);
        } else if (op.op == "icon") {
            if (op.args.empty()) return Fail(op.line, "icon needs a name");
            if (!Int(op, 1, &x) || !Int(op, 2, &y) || !Int(op, 3, &w) || !Col(op, 4, &a)) return false;
            if (!DrawIcon(c, op.args[0], bx + x, by + y, w, a)) return Fail(op.line, "unknown icon " + op.args[0]);
        } else if (op.op == "placeholders") {
            // Disabled looks under every item of an element, so a hidden
            // button leaves a quiet outline rather than a hole.
            if (op.args.empty()) return Fail(op.line, "placeholders needs an element");
            auto it = elementIndex.find(op.args[0]);
            if (it == elementIndex.end()) return Fail(op.line, "unknown element " + op.args[0]);
            const ElementRecord& e = skin->elements[(size_t)it->second];
            std::vector<std::array<int, 4>> rects;
            ItemRects(e, skin->groups[(size_t)e.groupIndex], &rects);
            std::vector<std::string> labels = Labels(op.options, "labels");
            Look l;
            if (!LookOf(Opt(op.options, "look", "off"), &l, op.line)) return false;
            Colour corner = Pal("surface");
            if (op.options.count("on") && !ResolveColour(op.options.at("on"), &corner, op.line)) return false;
            for (size_t p = 0; p < rects.size(); ++p) {
                std::string label = p < labels.size() ? labels[p] : "";
                Button(c, bx + rects[p][0], by + rects[p][1], rects[p][2], rects[p][3], l, corner, label);
            }
        } else {
            return Fail(op.line, "unknown draw operation " + op.op);
        }
        return true;
    }

    // ---- packing and file ----

    bool Pack()
    {
        const GroupRecord& bg = skin->groups[(size_t)skin->background];
        int W = d.width;
        if (W < 512 || (W & 1) || W > 4096) return Fail(0, "picture width must be even, 512 to 4096");
        if (bg.w > W) return Fail(0, "background wider than the picture");
        int maxRows = (kFileMax - kPixelsOffset) / (W * 2);
        // Shelves, tallest strips first; a strip takes the first open shelf
        // it fits (beside taller strips) or opens a new one below.
        struct Shelf {
            int region, y, h, cursor;
        };
        struct Region {
            int x0, x1, y1, next;
        };
        int bgRight = (bg.w + 5) & ~1;
        std::vector<Region> regions = {{bgRight, W, maxRows, kLayoutRows},
                                       {0, bgRight, maxRows, kLayoutRows + bg.h + 4}};
        std::vector<Shelf> shelves;
        std::vector<size_t> order;
        for (size_t i = 0; i < strips.size(); ++i)
            if ((int)i != skin->background && strips[i].width > 0) order.push_back(i);
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return strips[a].height > strips[b].height; });
        std::vector<std::array<int, 2>> at(strips.size(), {0, 0});
        int bottom = kLayoutRows + bg.h;
        for (size_t i : order) {
            int w = (strips[i].width + 1) & ~1, h = strips[i].height;
            Shelf* chosen = nullptr;
            for (Shelf& s : shelves)
                if (h <= s.h && s.cursor + w <= regions[(size_t)s.region].x1) {
                    chosen = &s;
                    break;
                }
            if (!chosen) {
                for (size_t r = 0; r < regions.size() && !chosen; ++r) {
                    Region& g = regions[r];
                    if (w > g.x1 - g.x0 || g.next + h > g.y1) continue;
                    shelves.push_back({(int)r, g.next, h, g.x0});
                    g.next += h + 2;
                    chosen = &shelves.back();
                }
            }
            if (!chosen) return Fail(0, "glyph strips do not fit a 2 MiB picture");
            at[i] = {chosen->cursor, chosen->y};
            chosen->cursor += w + 2;
            bottom = std::max(bottom, chosen->y + h);
        }
        skin->width = W;
        skin->rows = bottom;
        skin->picture.Resize(W, bottom, 0xFF101010u);
        FillRect(skin->picture, 0, 0, std::min(W, kLayoutRowBytes / 2), kLayoutRows, kClear);
        Blit(skin->picture, strips[(size_t)skin->background], 0, kLayoutRows);
        GroupRecord& bgr = skin->groups[(size_t)skin->background];
        bgr.stripX = 0;
        bgr.stripY = (int16_t)kLayoutRows;
        for (size_t i : order) {
            Blit(skin->picture, strips[i], at[i][0], at[i][1]);
            skin->groups[i].stripX = (int16_t)(at[i][0] + stripOrigin[i]);
            skin->groups[i].stripY = (int16_t)at[i][1];
        }
        for (size_t i = 0; i < shareOf.size(); ++i) {
            if (shareOf[i] < 0) continue;
            skin->groups[i].stripX = skin->groups[(size_t)shareOf[i]].stripX;
            skin->groups[i].stripY = skin->groups[(size_t)shareOf[i]].stripY;
        }
        return true;
    }

    // A NUL-padded 16-byte field; names keep a terminator, variable strings
    // may fill the field.
    static void PutName(uint8_t* p, const std::string& s, size_t most = (size_t)kNameBytes - 1)
    {
        memset(p, 0, (size_t)kNameBytes);
        memcpy(p, s.data(), std::min(s.size(), most));
    }

    static void Put16(uint8_t* p, int v)
    {
        p[0] = (uint8_t)(v & 0xFF);
        p[1] = (uint8_t)((v >> 8) & 0xFF);
    }

    // TSkinGroup, 100 bytes.
    static void WriteGroup(uint8_t* p, const GroupRecord& g)
    {
        PutName(p, g.name); // group name
        Put16(p + 16, g.w); // item width
        Put16(p + 18, g.h); // item height
        Put16(p + 20, g.stripX);
        Put16(p + 22, g.stripY);
        Put16(p + 24, g.columns);
        Put16(p + 26, g.rows);
        Put16(p + 28, g.step);
        Put16(p + 30, g.kind);
        Put16(p + 32, g.id);
        Put16(p + 34, g.level);
    }

    // TSkinElementRecord, 164 bytes.
    static void WriteElement(uint8_t* p, const ElementRecord& e)
    {
        PutName(p, e.name);       // element name
        PutName(p + 16, e.group); // group name
        PutName(p + 32, e.ref);   // reference or "#Vout"
        Put16(p + 48, e.offsetX); // offset from the reference centre
        Put16(p + 50, e.offsetY);
        Put16(p + 52, e.items);  // item count
        Put16(p + 56, e.radial); // radial flag
        Put16(p + 58, e.radius);
        Put16(p + 60, e.spacingX); // grid spacing
        Put16(p + 62, e.spacingY);
        p[64] = (uint8_t)e.columns;            // grid columns
        p[65] = (uint8_t)e.extra;              // extra cells
        Put16(p + 66, e.value);                // value offset / slider steps
        PutName(p + 68, e.source, kNameBytes); // source variable string
        PutName(p + 84, e.target, kNameBytes); // target variable string
    }

    void AssembleFile()
    {
        std::vector<uint8_t> layout((size_t)kLayoutSize, 0);
        Put16(&layout[8], (int)skin->groups.size());
        Put16(&layout[10], (int)skin->elements.size());
        for (size_t i = 0; i < skin->groups.size(); ++i) WriteGroup(&layout[100 + 100 * i], skin->groups[i]);
        for (size_t i = 0; i < skin->elements.size(); ++i) WriteElement(&layout[6500 + 164 * i], skin->elements[i]);

        std::vector<uint8_t> rows = EncodePixelRows(skin->picture);
        size_t rowBytes = (size_t)skin->width * 2;
        for (int r = 0; r < kLayoutRows; ++r)
            memcpy(&rows[r * rowBytes], &layout[(size_t)r * kLayoutRowBytes], (size_t)kLayoutRowBytes);
        std::vector<uint8_t>& f = skin->file;
        f.assign((size_t)kPixelsOffset, 0);
        Put16(&f[2], skin->width / 2); // row width in pixel pairs
        f.insert(f.end(), rows.begin(), rows.end());
    }

    bool Run()
    {
        if (!Place()) return false;
        strips.assign(d.groups.size(), Canvas());
        stripOrigin.assign(d.groups.size(), 0);
        shareOf.assign(d.groups.size(), -1);
        for (size_t i = 0; i < d.groups.size(); ++i)
            if (!Paint(i)) return false;
        for (const DrawOp& op : d.draws) {
            bool known = groupIndex.count(op.target) != 0;
            for (const CanvasDesc& c : d.canvases) known = known || c.name == op.target;
            if (!known) return Fail(op.line, "draw on unknown group or canvas " + op.target);
        }
        if (!Pack()) return false;
        AssembleFile();
        return true;
    }
};

} // namespace

bool BuildSkin(const Description& d, Skin* out, std::string* error)
{
    *out = Skin();
    Builder b(d, error, out);
    return b.Run();
}

bool BuildCanvas(const Description& d, const std::string& name, Canvas* out, std::string* error)
{
    for (const CanvasDesc& c : d.canvases) {
        if (c.name != name) continue;
        Skin unused;
        Builder b(d, error, &unused);
        out->Resize(c.w, c.h, c.fill);
        return b.DrawOps(name, *out, 0, 0);
    }
    *error = "no canvas named " + name;
    return false;
}

} // namespace skinwrite
