// Pixel format and image files: RGB artwork to the viewer's 4:2:2 pair
// words (fitted against the viewer's own YUV-to-RGB conversion), 24-bit BMP
// and a plain PNG writer (stored deflate blocks, no compression library).
#include "SkinWriter.h"
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace skinwrite {

static int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

void YuvToRgb(int y, int u, int v, int* r, int* g, int* b)
{
    *r = Clamp255(y + ((v * 292) >> 8) - 146);
    *g = Clamp255(y - ((v * 149 + u * 101) >> 8) + 125);
    *b = Clamp255(y + ((u * 516) >> 8) - 258);
}

static void Split(Colour c, int* r, int* g, int* b)
{
    *r = (int)((c >> 16) & 0xFF);
    *g = (int)((c >> 8) & 0xFF);
    *b = (int)(c & 0xFF);
}

static bool Opaque(Colour c) { return (c >> 24) != 0; }

// Squared error of the best Y for one pixel at chroma (u, v); the Y in *y.
static int BestY(Colour target, int u, int v, int* y)
{
    int tr, tg, tb;
    Split(target, &tr, &tg, &tb);
    int ar = ((v * 292) >> 8) - 146, ag = 125 - ((v * 149 + u * 101) >> 8), ab = ((u * 516) >> 8) - 258;
    int guess = (int)lround(((tr - ar) + (tg - ag) + (tb - ab)) / 3.0);
    int best = -1, bestY = 0;
    for (int cand = guess - 2; cand <= guess + 2; ++cand) {
        int yy = Clamp255(cand);
        int r, g, b;
        YuvToRgb(yy, u, v, &r, &g, &b);
        int e = (r - tr) * (r - tr) + (g - tg) * (g - tg) + (b - tb) * (b - tb);
        if (best < 0 || e < best) {
            best = e;
            bestY = yy;
        }
    }
    *y = bestY;
    return best;
}

struct PairFit {
    uint8_t y0, u, y1, v;
};

// Chroma shared by the pair's opaque pixels; U keeps its two low bits clear
// (they carry an opacity step that must stay 0).
static PairFit FitPair(Colour c0, Colour c1, bool use0, bool use1)
{
    double sr = 0, sg = 0, sb = 0;
    int n = 0;
    for (int k = 0; k < 2; ++k) {
        if (!(k == 0 ? use0 : use1)) continue;
        int r, g, b;
        Split(k == 0 ? c0 : c1, &r, &g, &b);
        sr += r;
        sg += g;
        sb += b;
        ++n;
    }
    sr /= n;
    sg /= n;
    sb /= n;
    double yy = 0.299 * sr + 0.587 * sg + 0.114 * sb;
    int ue = (int)lround((sb - yy) * 256.0 / 516.0 + 128.0);
    int ve = (int)lround((sr - yy) * 256.0 / 292.0 + 128.0);
    PairFit best = {0, 128, 0, 128};
    long bestErr = -1;
    for (int u = ((ue + 2) & ~3) - 8; u <= ((ue + 2) & ~3) + 8; u += 4) {
        if (u < 0 || u > 252) continue;
        for (int v = ve - 4; v <= ve + 4; ++v) {
            if (v < 0 || v > 255) continue;
            int y0 = 0, y1 = 0;
            long e = 0;
            if (use0) e += BestY(c0, u, v, &y0);
            if (use1) e += BestY(c1, u, v, &y1);
            if (bestErr < 0 || e < bestErr) {
                bestErr = e;
                best = {(uint8_t)y0, (uint8_t)u, (uint8_t)y1, (uint8_t)v};
            }
        }
    }
    return best;
}

std::vector<uint8_t> EncodePixelRows(const Canvas& c)
{
    std::vector<uint8_t> out((size_t)c.width * (size_t)c.height * 2, 0xFF);
    std::map<std::pair<uint64_t, int>, PairFit> cache;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x + 1 < c.width; x += 2) {
            Colour c0 = c.At(x, y), c1 = c.At(x + 1, y);
            bool o0 = Opaque(c0), o1 = Opaque(c1);
            uint8_t* p = &out[((size_t)y * (size_t)c.width + (size_t)x) * 2];
            if (!o0 && !o1) continue; // both units 0xFFFF
            auto key = std::make_pair(((uint64_t)c0 << 32) | c1, (int)o0 | ((int)o1 << 1));
            auto it = cache.find(key);
            if (it == cache.end()) it = cache.emplace(key, FitPair(c0, c1, o0, o1)).first;
            PairFit f = it->second;
            if (o0) {
                p[0] = f.y0;
                p[1] = f.u;
            }
            if (o1) {
                p[2] = f.y1;
                // An opaque unit must never read as the transparent 0xFFFF.
                p[3] = (f.y1 == 0xFF && f.v == 0xFF) ? 0xFE : f.v;
            }
        }
    }
    return out;
}

int UniformPairError(const Canvas& c, const std::vector<uint8_t>& rows)
{
    int worst = 0;
    for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x + 1 < c.width; x += 2) {
            Colour c0 = c.At(x, y), c1 = c.At(x + 1, y);
            if (!Opaque(c0) || c0 != c1) continue;
            const uint8_t* p = &rows[((size_t)y * (size_t)c.width + (size_t)x) * 2];
            for (int k = 0; k < 2; ++k) {
                int r, g, b, tr, tg, tb;
                YuvToRgb(p[k * 2], p[1], p[3], &r, &g, &b);
                Split(c0, &tr, &tg, &tb);
                worst = std::max(worst, std::max(abs(r - tr), std::max(abs(g - tg), abs(b - tb))));
            }
        }
    }
    return worst;
}

static void Put16(std::vector<uint8_t>& o, uint32_t v)
{
    o.push_back((uint8_t)v);
    o.push_back((uint8_t)(v >> 8));
}

static void Put32(std::vector<uint8_t>& o, uint32_t v)
{
    Put16(o, v & 0xFFFF);
    Put16(o, v >> 16);
}

static void PutBE32(std::vector<uint8_t>& o, uint32_t v)
{
    o.push_back((uint8_t)(v >> 24));
    o.push_back((uint8_t)(v >> 16));
    o.push_back((uint8_t)(v >> 8));
    o.push_back((uint8_t)v);
}

std::vector<uint8_t> EncodeBmp(const Canvas& c)
{
    uint32_t stride = ((uint32_t)c.width * 3 + 3) & ~3u;
    uint32_t image = stride * (uint32_t)c.height;
    std::vector<uint8_t> o;
    // BITMAPFILEHEADER
    o.push_back('B');
    o.push_back('M');
    Put32(o, 14 + 40 + image); // file size
    Put32(o, 0);               // reserved
    Put32(o, 14 + 40);         // pixel data offset
    // BITMAPINFOHEADER
    Put32(o, 40);                 // header size
    Put32(o, (uint32_t)c.width);  // width
    Put32(o, (uint32_t)c.height); // height, positive: bottom-up
    Put16(o, 1);                  // planes
    Put16(o, 24);                 // bits per pixel
    Put32(o, 0);                  // BI_RGB
    Put32(o, image);              // image size
    Put32(o, 2835);               // 72 dpi
    Put32(o, 2835);
    Put32(o, 0); // palette colours
    Put32(o, 0); // important colours
    for (int y = c.height - 1; y >= 0; --y) {
        size_t start = o.size();
        for (int x = 0; x < c.width; ++x) {
            Colour p = c.At(x, y);
            o.push_back((uint8_t)p);
            o.push_back((uint8_t)(p >> 8));
            o.push_back((uint8_t)(p >> 16));
        }
        while (o.size() - start < stride) o.push_back(0);
    }
    return o;
}

static uint32_t Crc32(const uint8_t* p, size_t n, uint32_t crc = 0)
{
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

static void PngChunk(std::vector<uint8_t>& o, const char* type, const std::vector<uint8_t>& data)
{
    PutBE32(o, (uint32_t)data.size());
    size_t start = o.size();
    o.insert(o.end(), type, type + 4);
    o.insert(o.end(), data.begin(), data.end());
    PutBE32(o, Crc32(&o[start], o.size() - start));
}

std::vector<uint8_t> EncodePng(const Canvas& c)
{
    std::vector<uint8_t> raw;
    for (int y = 0; y < c.height; ++y) {
        raw.push_back(0); // filter: none
        for (int x = 0; x < c.width; ++x) {
            Colour p = c.At(x, y);
            if (!Opaque(p)) p = 0xFFFF00FFu; // transparent shows magenta
            raw.push_back((uint8_t)(p >> 16));
            raw.push_back((uint8_t)(p >> 8));
            raw.push_back((uint8_t)p);
        }
    }
    // zlib stream of stored blocks
    std::vector<uint8_t> z = {0x78, 0x01};
    size_t pos = 0;
    do {
        size_t n = std::min<size_t>(65535, raw.size() - pos);
        bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        Put16(z, (uint32_t)n);
        Put16(z, (uint32_t)(~n & 0xFFFF));
        z.insert(z.end(), raw.begin() + (long)pos, raw.begin() + (long)(pos + n));
        pos += n;
    } while (pos < raw.size());
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    PutBE32(z, (b << 16) | a);

    std::vector<uint8_t> o = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<uint8_t> ihdr;
    PutBE32(ihdr, (uint32_t)c.width);
    PutBE32(ihdr, (uint32_t)c.height);
    ihdr.push_back(8); // bit depth
    ihdr.push_back(2); // colour type RGB
    ihdr.push_back(0); // deflate
    ihdr.push_back(0); // adaptive filtering
    ihdr.push_back(0); // no interlace
    PngChunk(o, "IHDR", ihdr);
    PngChunk(o, "IDAT", z);
    PngChunk(o, "IEND", {});
    return o;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

} // namespace skinwrite
