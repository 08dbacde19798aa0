// The writer's pixel rows, decoded by the ffmpeg tool, give back the
// artwork's colours. The rows are packed exactly as ffmpeg's yuyv422 (Y0 U
// Y1 V per pixel pair), so ffmpeg unpacks them; the viewer's colour matrix
// (full-range Y, R = Y + 292/256 (V-128), G = Y - (149 V + 101 U)/256 + 125,
// B = Y + 516/256 (U-128)) is none of ffmpeg's presets, so it is applied in
// ffmpeg's own expression filter, and the three result planes are read as
// R, G and B.
#include "SkinWriter.h"
#include "tests/support/Scratch.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

std::string TempDir()
{
    // Removed when the test program ends.
    static const ScratchFolder folder("tavlin-pixels");
    if (!folder.Made()) ADD_FAILURE() << "cannot make a temporary folder";
    return folder.path;
}

bool Save(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool Load(const std::string& path, std::vector<uint8_t>* bytes)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes->insert(bytes->end(), buf, buf + n);
    fclose(f);
    return true;
}

// Planar R, G, B of rows (W x H, yuyv422) as ffmpeg decodes them.
bool FfmpegDecode(const std::vector<uint8_t>& rows, int w, int h, std::vector<uint8_t>* planes)
{
    std::string in = TempDir() + "/rows.raw", out = TempDir() + "/planes.raw";
    if (!Save(in, rows)) return false;
    std::string cmd = std::string(TAVLIN_FFMPEG) + " -v error -y -f rawvideo -pix_fmt yuyv422 -s " + std::to_string(w) +
                      "x" + std::to_string(h) + " -i " + in +
                      " -vf \"scale=flags=neighbor,format=yuv444p,geq=interpolation=nearest"
                      ":lum='clip(lum(X,Y)+floor(cr(X,Y)*292/256)-146,0,255)'"
                      ":cb='clip(lum(X,Y)-floor((cr(X,Y)*149+cb(X,Y)*101)/256)+125,0,255)'"
                      ":cr='clip(lum(X,Y)+floor(cb(X,Y)*516/256)-258,0,255)'\""
                      " -f rawvideo -pix_fmt yuv444p " +
                      out;
    if (std::system(cmd.c_str()) != 0) return false;
    return Load(out, planes) && planes->size() == (size_t)w * (size_t)h * 3;
}

struct Comparison {
    long uniform = 0, all = 0;
    int worst = 0;
};

// Opaque pixels whose pair holds one colour must come back within the
// rounding of the format (U keeps two opacity bits clear, so it moves in
// steps of 4). rowFrom skips the layout rows.
Comparison Compare(const skinwrite::Canvas& art, const std::vector<uint8_t>& planes, int rowFrom, int colFrom)
{
    Comparison c;
    size_t plane = (size_t)art.width * (size_t)art.height;
    for (int y = rowFrom; y < art.height; ++y)
        for (int x = colFrom; x + 1 < art.width; x += 2) {
            skinwrite::Colour a = art.At(x, y), b = art.At(x + 1, y);
            if ((a >> 24) == 0 && (b >> 24) == 0) continue;
            ++c.all;
            if ((a >> 24) == 0 || a != b) continue;
            ++c.uniform;
            for (int k = 0; k < 2; ++k) {
                size_t i = (size_t)y * (size_t)art.width + (size_t)(x + k);
                int want[3] = {(int)((a >> 16) & 0xFF), (int)((a >> 8) & 0xFF), (int)(a & 0xFF)};
                for (int ch = 0; ch < 3; ++ch) c.worst = std::max(c.worst, abs((int)planes[ch * plane + i] - want[ch]));
            }
        }
    return c;
}

const int kTolerance = 3; // the largest the writer's fit leaves

TEST(SkinPixelsFfmpeg, ColourBarsComeBack)
{
    ASSERT_STRNE(TAVLIN_FFMPEG, "") << "ffmpeg not found (deps/panel.txt)";
    // Greys, the panel's kind of colours and strong primaries, each in a
    // bar of pairs.
    const skinwrite::Colour bars[] = {
        0xFF000000, 0xFF202020, 0xFF808080, 0xFFC0C0C0, 0xFFFFFFFF, 0xFF14181D, 0xFF2A6CB3, 0xFF3B9A5E,
        0xFFD9A441, 0xFFE2B24F, 0xFF9ECBF7, 0xFF1D4D82, 0xFFB03030, 0xFF30B030, 0xFF3030B0, 0xFF808000,
    };
    skinwrite::Canvas art;
    art.Resize(512, 32, 0xFF000000);
    for (int i = 0; i < 16; ++i) skinwrite::FillRect(art, i * 32, 0, 32, 32, bars[i]);
    std::vector<uint8_t> rows = skinwrite::EncodePixelRows(art);
    std::vector<uint8_t> planes;
    ASSERT_TRUE(FfmpegDecode(rows, art.width, art.height, &planes));
    Comparison c = Compare(art, planes, 0, 0);
    EXPECT_EQ(c.uniform, 256 * 32);
    EXPECT_LE(c.worst, kTolerance);
    // The writer's own figure agrees with ffmpeg's decoding.
    EXPECT_EQ(skinwrite::UniformPairError(art, rows), c.worst);
}

// A swapped chroma order would be noticed: blue and red bars.
TEST(SkinPixelsFfmpeg, ChromaOrderMatters)
{
    ASSERT_STRNE(TAVLIN_FFMPEG, "");
    skinwrite::Canvas art;
    art.Resize(64, 2, 0xFF2A6CB3);
    skinwrite::FillRect(art, 32, 0, 32, 2, 0xFFB03030);
    std::vector<uint8_t> rows = skinwrite::EncodePixelRows(art);
    for (size_t i = 0; i + 3 < rows.size(); i += 4) std::swap(rows[i + 1], rows[i + 3]);
    std::vector<uint8_t> planes;
    ASSERT_TRUE(FfmpegDecode(rows, art.width, art.height, &planes));
    EXPECT_GT(Compare(art, planes, 0, 0).worst, 40);
}

// The project's key panel picture, strips and all.
TEST(SkinPixelsFfmpeg, KeyPanelPictureComesBack)
{
    ASSERT_STRNE(TAVLIN_FFMPEG, "");
    std::string text, error;
    skinwrite::Description d;
    ASSERT_TRUE(skinwrite::ReadFile(std::string(TAVLIN_SKIN_SOURCES) + "/keypanel.skin", &text));
    ASSERT_TRUE(skinwrite::ParseDescription(text, &d, &error)) << error;
    skinwrite::Skin skin;
    ASSERT_TRUE(skinwrite::BuildSkin(d, &skin, &error)) << error;
    std::vector<uint8_t> rows(skin.file.begin() + 16, skin.file.end());
    ASSERT_EQ(rows.size(), (size_t)skin.width * (size_t)skin.rows * 2);
    std::vector<uint8_t> planes;
    ASSERT_TRUE(FfmpegDecode(rows, skin.width, skin.rows, &planes));
    // The layout block fills the first 1024 bytes of rows 0..21; compare
    // the rest of those rows and everything below.
    Comparison below = Compare(skin.picture, planes, 22, 0);
    Comparison beside = Compare(skin.picture, planes, 0, 512);
    EXPECT_GT(below.uniform, below.all * 9 / 10) << "most pairs hold one colour";
    EXPECT_LE(below.worst, kTolerance);
    EXPECT_LE(beside.worst, kTolerance);
}

// The writer's PNG (previews) and BMP (the form background) read back
// exactly, as ffmpeg's image decoders see them.
TEST(SkinPixelsFfmpeg, PngAndBmpReadBack)
{
    ASSERT_STRNE(TAVLIN_FFMPEG, "");
    std::string text, error;
    skinwrite::Description d;
    ASSERT_TRUE(skinwrite::ReadFile(std::string(TAVLIN_SKIN_SOURCES) + "/mainform.skin", &text));
    ASSERT_TRUE(skinwrite::ParseDescription(text, &d, &error)) << error;
    skinwrite::Canvas form;
    ASSERT_TRUE(skinwrite::BuildCanvas(d, "TavlinMainForm", &form, &error)) << error;
    ASSERT_EQ(form.width, 1010);
    ASSERT_EQ(form.height, 656);
    const struct {
        const char* file;
        std::vector<uint8_t> bytes;
    } images[] = {{"form.bmp", skinwrite::EncodeBmp(form)}, {"form.png", skinwrite::EncodePng(form)}};
    for (const auto& image : images) {
        SCOPED_TRACE(image.file);
        std::string in = TempDir() + "/" + image.file, out = TempDir() + "/decoded.rgb";
        ASSERT_TRUE(Save(in, image.bytes));
        std::string cmd = std::string(TAVLIN_FFMPEG) + " -v error -y -i " + in + " -f rawvideo -pix_fmt rgb24 " + out;
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        std::vector<uint8_t> rgb;
        ASSERT_TRUE(Load(out, &rgb));
        ASSERT_EQ(rgb.size(), (size_t)form.width * (size_t)form.height * 3);
        long wrong = 0;
        for (int y = 0; y < form.height; ++y)
            for (int x = 0; x < form.width; ++x) {
                skinwrite::Colour c = form.At(x, y);
                const uint8_t* p = &rgb[((size_t)y * (size_t)form.width + (size_t)x) * 3];
                wrong += p[0] != ((c >> 16) & 0xFF) || p[1] != ((c >> 8) & 0xFF) || p[2] != (c & 0xFF);
            }
        EXPECT_EQ(wrong, 0);
    }
    // The video well is black and framed; the panel's place is the panel floor.
    EXPECT_EQ(form.At(34, 43), 0xFF000000u);
    EXPECT_EQ(form.At(673, 554), 0xFF000000u);
    EXPECT_NE(form.At(33, 42), 0xFF000000u);
    EXPECT_EQ(form.At(676, 0), form.At(999, 619));
}

} // namespace
