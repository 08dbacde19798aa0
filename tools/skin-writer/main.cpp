// tavlin-skinwrite: the command line around the skin writer.
//
//   tavlin-skinwrite --skin DESC --out FILE.YUV2 [--preview OUT.png --state NAME
//                    [--hover ELEMENT,SUB]] [--picture OUT.png] [--rows OUT.raw]
//   tavlin-skinwrite --canvas DESC NAME --bmp OUT.bmp [--png OUT.png]
#include "SkinWriter.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace skinwrite;

static int Usage()
{
    fprintf(stderr,
            "usage: tavlin-skinwrite --skin DESC --out FILE.YUV2 [--preview PNG --state NAME [--hover EL,SUB]]\n"
            "                        [--picture PNG] [--rows RAW]\n"
            "       tavlin-skinwrite --canvas DESC NAME --bmp OUT.bmp [--png OUT.png]\n");
    return 2;
}

static bool Load(const char* path, Description* d)
{
    std::string text, error;
    if (!ReadFile(path, &text)) {
        fprintf(stderr, "tavlin-skinwrite: cannot read %s\n", path);
        return false;
    }
    if (!ParseDescription(text, d, &error)) {
        fprintf(stderr, "%s: %s\n", path, error.c_str());
        return false;
    }
    return true;
}

static bool Write(const std::string& path, const std::vector<uint8_t>& bytes)
{
    if (WriteFile(path, bytes)) return true;
    fprintf(stderr, "tavlin-skinwrite: cannot write %s\n", path.c_str());
    return false;
}

int main(int argc, char** argv)
{
    std::string skinPath, out, preview, state, picture, rows, canvasPath, canvasName, bmp, png, hover;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&](std::string* v) {
            if (i + 1 >= argc) return false;
            *v = argv[++i];
            return true;
        };
        bool ok = true;
        if (a == "--skin") ok = next(&skinPath);
        else if (a == "--out") ok = next(&out);
        else if (a == "--preview") ok = next(&preview);
        else if (a == "--state") ok = next(&state);
        else if (a == "--hover") ok = next(&hover);
        else if (a == "--picture") ok = next(&picture);
        else if (a == "--rows") ok = next(&rows);
        else if (a == "--canvas") ok = next(&canvasPath) && next(&canvasName);
        else if (a == "--bmp") ok = next(&bmp);
        else if (a == "--png") ok = next(&png);
        else return Usage();
        if (!ok) return Usage();
    }

    if (!canvasPath.empty()) {
        Description d;
        if (!Load(canvasPath.c_str(), &d)) return 1;
        Canvas c;
        std::string error;
        if (!BuildCanvas(d, canvasName, &c, &error)) {
            fprintf(stderr, "%s: %s\n", canvasPath.c_str(), error.c_str());
            return 1;
        }
        if (!bmp.empty() && !Write(bmp, EncodeBmp(c))) return 1;
        if (!png.empty() && !Write(png, EncodePng(c))) return 1;
        return 0;
    }

    if (skinPath.empty() || out.empty()) return Usage();
    Description d;
    if (!Load(skinPath.c_str(), &d)) return 1;
    Skin skin;
    std::string error;
    if (!BuildSkin(d, &skin, &error)) {
        fprintf(stderr, "%s: %s\n", skinPath.c_str(), error.c_str());
        return 1;
    }
    if (!Write(out, skin.file)) return 1;
    if (!picture.empty() && !Write(picture, EncodePng(skin.picture))) return 1;
    if (!rows.empty()) {
        std::vector<uint8_t> r(skin.file.begin() + 16, skin.file.end());
        if (!Write(rows, r)) return 1;
    }
    if (!preview.empty()) {
        int el = -1, sub = -1;
        if (!hover.empty()) {
            size_t comma = hover.find(',');
            std::string name = hover.substr(0, comma);
            for (size_t i = 0; i < skin.elements.size(); ++i)
                if (skin.elements[i].name == name) el = (int)i;
            sub = comma == std::string::npos ? 1 : atoi(hover.c_str() + comma + 1);
            if (el < 0) {
                fprintf(stderr, "tavlin-skinwrite: no element %s\n", name.c_str());
                return 1;
            }
        }
        Canvas c;
        if (!ComposePreview(skin, d, state.empty() ? "default" : state, el, sub, &c, &error)) {
            fprintf(stderr, "%s: %s\n", skinPath.c_str(), error.c_str());
            return 1;
        }
        if (!Write(preview, EncodePng(c))) return 1;
    }
    return 0;
}
