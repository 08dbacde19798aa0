// tavlin-bannerwrite: draws the account form's 213 x 76 banner and writes
// it as a JFIF picture through libjpeg, both as a file and as a C++ source
// that defines gNoipBannerJpeg and gNoipBannerJpeg_size for the library.
//
//   tavlin-bannerwrite OUT.cpp OUT.jpg
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace {
const int kWidth = 213, kHeight = 76;

// 5 x 7 glyphs, one row per byte, bit 4 leftmost.
struct Glyph {
    char c;
    unsigned char rows[7];
};
const Glyph kGlyphs[] = {
    {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}}, {'o', {0x00, 0x00, 0x0e, 0x11, 0x11, 0x11, 0x0e}},
    {'-', {0x00, 0x00, 0x00, 0x1f, 0x00, 0x00, 0x00}}, {'I', {0x0e, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0e}},
    {'P', {0x1e, 0x11, 0x11, 0x1e, 0x10, 0x10, 0x10}}, {'D', {0x1e, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1e}},
    {'S', {0x0f, 0x10, 0x10, 0x0e, 0x01, 0x01, 0x1e}}, {'y', {0x00, 0x00, 0x11, 0x11, 0x0f, 0x01, 0x0e}},
    {'n', {0x00, 0x00, 0x16, 0x19, 0x11, 0x11, 0x11}}, {'a', {0x00, 0x00, 0x0e, 0x01, 0x0f, 0x11, 0x0f}},
    {'m', {0x00, 0x00, 0x1a, 0x15, 0x15, 0x15, 0x15}}, {'i', {0x04, 0x00, 0x0c, 0x04, 0x04, 0x04, 0x0e}},
    {'c', {0x00, 0x00, 0x0e, 0x10, 0x10, 0x11, 0x0e}}, {' ', {0, 0, 0, 0, 0, 0, 0}},
};

void Put(std::vector<unsigned char>& rgb, int x, int y, unsigned char r, unsigned char g, unsigned char b)
{
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
    unsigned char* p = &rgb[(size_t)(y * kWidth + x) * 3];
    p[0] = r;
    p[1] = g;
    p[2] = b;
}

void Text(std::vector<unsigned char>& rgb, int x, int y, int scale, const char* text, unsigned char r, unsigned char g,
          unsigned char b)
{
    for (; *text; text++, x += 6 * scale) {
        const Glyph* glyph = nullptr;
        for (const Glyph& k : kGlyphs)
            if (k.c == *text) glyph = &k;
        if (!glyph) continue;
        for (int row = 0; row < 7; row++)
            for (int col = 0; col < 5; col++)
                if (glyph->rows[row] & (0x10 >> col))
                    for (int dy = 0; dy < scale; dy++)
                        for (int dx = 0; dx < scale; dx++)
                            Put(rgb, x + col * scale + dx, y + row * scale + dy, r, g, b);
    }
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: tavlin-bannerwrite OUT.cpp OUT.jpg\n");
        return 2;
    }
    std::vector<unsigned char> rgb((size_t)kWidth * kHeight * 3);
    for (int y = 0; y < kHeight; y++)
        for (int x = 0; x < kWidth; x++)
            Put(rgb, x, y, (unsigned char)(20 + x / 8), (unsigned char)(60 + y), (unsigned char)(150 + x / 3));
    for (int x = 0; x < kWidth; x++) Put(rgb, x, 60, 250, 170, 40), Put(rgb, x, 61, 250, 170, 40);
    Text(rgb, 14, 8, 6, "No-IP", 255, 255, 255);
    Text(rgb, 120, 64, 1, "Dynamic DNS", 255, 255, 255);

    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &data, &size);
    info.image_width = kWidth;
    info.image_height = kHeight;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &rgb[(size_t)info.next_scanline * kWidth * 3];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);

    FILE* jpg = fopen(argv[2], "wb");
    if (!jpg || fwrite(data, 1, size, jpg) != size || fclose(jpg) != 0) {
        fprintf(stderr, "tavlin-bannerwrite: cannot write %s\n", argv[2]);
        return 1;
    }
    FILE* src = fopen(argv[1], "w");
    if (!src) {
        fprintf(stderr, "tavlin-bannerwrite: cannot write %s\n", argv[1]);
        return 1;
    }
    fprintf(src, "// Made by tavlin-bannerwrite; do not edit.\n");
    fprintf(src, "extern const unsigned char gNoipBannerJpeg[];\nextern const unsigned long gNoipBannerJpeg_size;\n");
    fprintf(src, "const unsigned char gNoipBannerJpeg[] = {");
    for (unsigned long i = 0; i < size; i++) fprintf(src, "%s0x%02x,", i % 16 ? "" : "\n", data[i]);
    fprintf(src, "\n};\nconst unsigned long gNoipBannerJpeg_size = %luUL;\n", size);
    free(data);
    return fclose(src) == 0 ? 0 : 1;
}
