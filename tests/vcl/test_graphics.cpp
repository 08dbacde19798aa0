// Bitmaps and pictures: scan-line writes reach the screen at the right
// pixels (checked in a grabbed PNG read back with Qt), the 24- and 32-bit
// row layouts, bitmap files, transparency, stretching and the canvas.
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/Graphics.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QImageReader>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Shot {
    QImage image;
    explicit Shot(TForm& form)
    {
        std::string path = ::testing::TempDir() + "vcl_shot.png";
        EXPECT_EQ(Vcl_SaveWindowPng(form.Handle(), path.c_str()), 0);
        image = QImage(QString::fromStdString(path));
        std::remove(path.c_str());
    }
    // 0xRRGGBB at (x, y).
    uint32_t at(int x, int y) const { return image.pixel(x, y) & 0xFFFFFF; }
};

struct Pixel {
    int x, y;
};

TEST(Graphics, ScanLineWritesShowInTheGrabbedPicture)
{
    struct Case {
        TPixelFormat format;
        int bytes;
    };
    for (const Case& k : {Case{pf32bit, 4}, Case{pf24bit, 3}}) {
        SCOPED_TRACE(k.bytes);
        TForm form(nullptr);
        form.SetBounds(0, 0, 160, 120);
        form.SetColor(clWhite);
        auto* img = new TImage(&form);
        img->SetParent(&form);
        img->SetBounds(10, 20, 64, 48);
        TBitmap* bmp = img->Picture()->Bitmap();
        bmp->SetPixelFormat(k.format);
        bmp->SetHeight(48);
        bmp->SetWidth(64);
        ASSERT_EQ(bmp->PixelFormat(), k.format);
        // Pixel (x, y): blue x*4, green y*5, red 0x80; the top byte of a
        // 32-bit pixel is left 0 and must not matter.
        for (int y = 0; y < 48; y++) {
            auto* row = (uint8_t*)bmp->ScanLine(y);
            for (int x = 0; x < 64; x++) {
                uint8_t* p = row + x * k.bytes;
                p[0] = (uint8_t)(x * 4);
                p[1] = (uint8_t)(y * 5);
                p[2] = 0x80;
                if (k.bytes == 4) p[3] = 0;
            }
        }
        Vcl_ShowWindow(form.Handle(), "scan");
        img->Repaint();
        Shot shot(form);
        ASSERT_EQ(shot.image.width(), 160);
        for (Pixel p : {Pixel{0, 0}, Pixel{63, 0}, Pixel{0, 47}, Pixel{63, 47}, Pixel{31, 17}}) {
            uint32_t want = 0x800000u | ((uint32_t)(p.y * 5) << 8) | (uint32_t)(p.x * 4);
            EXPECT_EQ(shot.at(10 + p.x, 20 + p.y), want) << p.x << "," << p.y;
        }
        EXPECT_EQ(shot.at(9, 20), 0xFFFFFFu);
        EXPECT_EQ(shot.at(74, 67), 0xFFFFFFu);
        EXPECT_EQ(Vcl_WindowPixel(form.Handle(), 10 + 63, 20 + 47), (long)(0x800000 | (47 * 5) << 8 | 63 * 4));
    }
}

TEST(Graphics, ScanLinesAreRowsOfOneStableBlock)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf32bit);
    bmp.SetSize(10, 4);
    uint8_t* r0 = (uint8_t*)bmp.ScanLine(0);
    EXPECT_EQ(bmp.ScanLine(0), r0);
    EXPECT_EQ((uint8_t*)bmp.ScanLine(3) - r0, 3 * bmp.RowBytes());
    EXPECT_EQ(bmp.RowBytes(), 40);
    EXPECT_THROW(bmp.ScanLine(4), EInvalidGraphic);
    EXPECT_THROW(bmp.ScanLine(-1), EInvalidGraphic);
    ((uint32_t*)bmp.ScanLine(2))[9] = 0x00123456;
    bmp.SetSize(12, 5); // the pixels that stay inside are kept, new ones black
    EXPECT_EQ(((uint32_t*)bmp.ScanLine(2))[9] & 0xFFFFFF, 0x123456u);
    EXPECT_EQ(((uint32_t*)bmp.ScanLine(4))[11] & 0xFFFFFF, 0u);
    TBitmap b24;
    b24.SetPixelFormat(pf24bit);
    b24.SetSize(5, 2);
    EXPECT_EQ(b24.RowBytes(), 16); // 15 bytes padded to 4
    EXPECT_THROW(b24.SetPixelFormat(pf8bit), EInvalidGraphic);
}

// A 24-bit bitmap file as a painting program writes it: each row padded to
// 4 bytes, bottom row first unless the height is negative, with `gap`
// bytes between the header and the pixels.
std::vector<uint8_t> Bmp24(int w, int h, uint32_t header, uint32_t gap, uint32_t seed)
{
    uint32_t stride = ((uint32_t)w * 3 + 3) & ~3u, rows = (uint32_t)(h < 0 ? -h : h);
    uint32_t pixels = 14 + header + gap;
    std::vector<uint8_t> f(pixels + stride * rows, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; i++) f[at + i] = (uint8_t)(v >> (8 * i));
    };
    f[0] = 'B';
    f[1] = 'M';
    put32(2, (uint32_t)f.size());
    put32(10, pixels);
    put32(14, header);
    put32(18, (uint32_t)w);
    put32(22, (uint32_t)h);
    f[26] = 1;  // planes
    f[28] = 24; // bits
    for (size_t i = pixels; i < f.size(); i++) f[i] = (uint8_t)(seed = seed * 1103515245u + 12345u) >> 3;
    return f;
}

// Loaded bitmap files equal what Qt's own reader makes of them, row by
// row, whichever way a 24-bit file is laid out; files that are not plain
// 24-bit ones, or whose rows run past their end, are still read (or
// refused) as Qt reads them.
TEST(Graphics, BitmapFilesLoadAsQtReadsThem)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    } cases[] = {
        {"1 x 1", Bmp24(1, 1, 40, 0, 1)},
        {"odd widths pad their rows", Bmp24(5, 3, 40, 0, 2)},
        {"two bytes of padding", Bmp24(2, 2, 40, 0, 3)},
        {"no padding", Bmp24(4, 3, 40, 0, 4)},
        {"top row first", Bmp24(7, -4, 40, 0, 5)},
        {"a gap before the pixels", Bmp24(3, 2, 40, 10, 6)},
        {"a version 5 header", Bmp24(6, 2, 124, 0, 7)},
        {"the background's size", Bmp24(1010, 656, 40, 0, 8)},
    };
    auto qtRead = [](const std::vector<uint8_t>& f) {
        QByteArray bytes((const char*)f.data(), (qsizetype)f.size());
        QBuffer buf(&bytes);
        buf.open(QIODevice::ReadOnly);
        QImageReader reader(&buf, "bmp");
        return reader.read().convertToFormat(QImage::Format_BGR888);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QImage want = qtRead(c.file);
        ASSERT_FALSE(want.isNull());
        TBitmap fromData;
        fromData.LoadFromData(c.file.data(), c.file.size());
        std::string path = ::testing::TempDir() + "vcl_read.bmp";
        FILE* out = fopen(path.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        fwrite(c.file.data(), 1, c.file.size(), out);
        fclose(out);
        TBitmap fromFile;
        fromFile.LoadFromFile(path);
        std::remove(path.c_str());
        for (TBitmap* b : {&fromData, &fromFile}) {
            EXPECT_EQ(b->PixelFormat(), pf24bit);
            ASSERT_EQ(b->Width(), want.width());
            ASSERT_EQ(b->Height(), want.height());
            for (int y = 0; y < want.height(); y++)
                ASSERT_EQ(memcmp(b->ScanLine(y), want.constScanLine(y), (size_t)want.width() * 3), 0) << "row " << y;
        }
    }
    // Others go through Qt's reader: a 32-bit file, and a truncated one.
    std::vector<uint8_t> deep = Bmp24(3, 2, 40, 0, 9);
    deep[28] = 32;
    deep.resize(14 + 40 + 3 * 4 * 2);
    TBitmap b32;
    b32.LoadFromData(deep.data(), deep.size());
    EXPECT_EQ(b32.PixelFormat(), pf32bit);
    EXPECT_EQ(b32.Width(), 3);
    std::vector<uint8_t> cut = Bmp24(5, 3, 40, 0, 10);
    cut.resize(cut.size() - 7);
    QImage qtCut = qtRead(cut);
    TBitmap bCut;
    if (qtCut.isNull()) {
        EXPECT_THROW(bCut.LoadFromData(cut.data(), cut.size()), EInvalidGraphic);
    } else {
        bCut.LoadFromData(cut.data(), cut.size());
        EXPECT_EQ(bCut.Height(), qtCut.height());
    }
}

TEST(Graphics, BitmapFilesKeepPixelsAndDepth)
{
    for (TPixelFormat f : {pf24bit, pf32bit}) {
        TBitmap out;
        out.SetPixelFormat(f);
        out.SetSize(7, 3);
        out.Canvas()->SetPixels(6, 2, (TColor)0x0A0B0C);
        out.Canvas()->SetPixels(0, 0, clRed);
        std::string path = ::testing::TempDir() + "vcl_round.bmp";
        out.SaveToFile(path);
        TPicture pic;
        pic.LoadFromFile(path);
        std::remove(path.c_str());
        auto* in = dynamic_cast<TBitmap*>(pic.Graphic());
        ASSERT_NE(in, nullptr);
        EXPECT_EQ(in->Width(), 7);
        EXPECT_EQ(in->Height(), 3);
        EXPECT_EQ(in->Canvas()->Pixels(6, 2), (TColor)0x0A0B0C);
        EXPECT_EQ(in->Canvas()->Pixels(0, 0), clRed);
        if (f == pf24bit) {
            EXPECT_EQ(in->PixelFormat(), pf24bit);
        }
    }
    TBitmap bad;
    EXPECT_THROW(bad.LoadFromFile("/nonexistent/x.bmp"), EInvalidGraphic);
    const char junk[] = "BMnot really a bitmap at all, just bytes";
    EXPECT_THROW(bad.LoadFromData(junk, sizeof junk), EInvalidGraphic);
    TPicture pic;
    EXPECT_THROW(pic.LoadFromFile("file.xyz"), EInvalidGraphic);
}

TEST(Graphics, TransparentAndStretchedPictures)
{
    TForm form(nullptr);
    form.SetBounds(0, 0, 120, 80);
    form.SetColor(clWhite);
    // 2 x 2: bottom-left red (the transparent colour), the rest blue/green.
    auto make = [&](int left, bool transparent, bool stretch) {
        auto* img = new TImage(&form);
        img->SetParent(&form);
        img->SetBounds(left, 0, 40, 40);
        img->SetTransparent(transparent);
        img->SetStretch(stretch);
        TBitmap* b = img->Picture()->Bitmap();
        b->SetSize(2, 2);
        b->Canvas()->SetPixels(0, 0, clBlue);
        b->Canvas()->SetPixels(1, 0, clLime);
        b->Canvas()->SetPixels(0, 1, clRed);
        b->Canvas()->SetPixels(1, 1, clBlue);
        return img;
    };
    make(0, false, true);
    make(50, true, true);
    make(100, false, false);
    Vcl_ShowWindow(form.Handle(), "pictures");
    Shot shot(form);
    struct Case {
        int x, y;
        uint32_t rgb;
    };
    const Case cases[] = {
        {5, 5, 0x0000FF},   {35, 5, 0x00FF00},  {5, 35, 0xFF0000},  {35, 35, 0x0000FF}, // stretched
        {55, 35, 0xFFFFFF}, {55, 5, 0x0000FF},  {85, 5, 0x00FF00},                      // transparent
        {100, 1, 0xFF0000}, {101, 1, 0x0000FF}, {103, 1, 0xFFFFFF},                     // own size
    };
    for (const Case& c : cases) EXPECT_EQ(shot.at(c.x, c.y), c.rgb) << c.x << "," << c.y;
}

TEST(Graphics, OpaquePicturesAreDrawnFromTheBitmapItselfOverWhatIsBeneath)
{
    // A video-like image over a background image: while its opaque 32-bit
    // picture covers it, every repaint shows the bitmap's pixels as they
    // are now (drawn without a copy, top byte 0 and still opaque in the
    // grabbed PNG); a smaller centred picture, a transparent one and a
    // 24-bit one leave what is beneath visible where they do not cover.
    TForm form(nullptr);
    form.SetBounds(0, 0, 120, 80);
    form.SetColor(clWhite);
    auto* back = new TImage(&form);
    back->SetParent(&form);
    back->SetBounds(0, 0, 120, 80);
    back->SetStretch(true);
    TBitmap* red = back->Picture()->Bitmap();
    red->SetSize(1, 1);
    red->Canvas()->SetPixels(0, 0, clRed);
    auto* video = new TImage(&form);
    video->SetParent(&form);
    video->SetBounds(20, 10, 64, 48);
    TBitmap* bmp = video->Picture()->Bitmap();
    bmp->SetPixelFormat(pf32bit);
    bmp->SetSize(64, 48);
    auto paint = [&](uint32_t base) {
        for (int y = 0; y < bmp->Height(); y++) {
            auto* row = (uint32_t*)bmp->ScanLine(y);
            for (int x = 0; x < bmp->Width(); x++) row[x] = base + (uint32_t)(y << 8 | x);
        }
    };
    paint(0x00400000);
    Vcl_ShowWindow(form.Handle(), "opaque");
    for (uint32_t base : {0x00400000u, 0x00204000u, 0xFF102000u}) {
        SCOPED_TRACE(base);
        paint(base);
        video->Repaint();
        Shot shot(form);
        for (Pixel p : {Pixel{0, 0}, Pixel{63, 0}, Pixel{0, 47}, Pixel{63, 47}, Pixel{17, 29}}) {
            EXPECT_EQ(shot.at(20 + p.x, 10 + p.y), (base + (uint32_t)(p.y << 8 | p.x)) & 0xFFFFFF) << p.x << "," << p.y;
            EXPECT_EQ(shot.image.pixel(20 + p.x, 10 + p.y) >> 24, 0xFFu);
        }
        EXPECT_EQ(shot.at(19, 10), 0xFF0000u);
        EXPECT_EQ(shot.at(84, 57), 0xFF0000u);
    }
    // Centred and smaller: the background shows around it.
    video->SetCenter(true);
    bmp->SetSize(32, 24);
    paint(0x00400000);
    video->Repaint();
    {
        Shot shot(form);
        EXPECT_EQ(shot.at(20 + 16, 10 + 12), 0x400000u);
        EXPECT_EQ(shot.at(20 + 16 + 31, 10 + 12 + 23), (0x400000u + (23 << 8 | 31)) & 0xFFFFFF);
        EXPECT_EQ(shot.at(20 + 2, 10 + 2), 0xFF0000u);
        EXPECT_EQ(shot.at(20 + 60, 10 + 45), 0xFF0000u);
    }
    // Covering again, but transparent: the bottom-left pixel's colour is cut out.
    bmp->SetSize(64, 48);
    paint(0x00400000);
    ((uint32_t*)bmp->ScanLine(10))[10] = 0x00400000 + (47 << 8); // the bottom-left colour
    video->SetTransparent(true);
    video->Repaint();
    {
        Shot shot(form);
        EXPECT_EQ(shot.at(20 + 10, 10 + 10), 0xFF0000u);
        EXPECT_EQ(shot.at(20 + 11, 10 + 10), 0x400000u + (10 << 8 | 11));
    }
    // 24-bit pixels, covering and opaque.
    video->SetTransparent(false);
    bmp->SetPixelFormat(pf24bit);
    for (int y = 0; y < 48; y++) memset(bmp->ScanLine(y), 0x33, 64 * 3);
    video->Repaint();
    {
        Shot shot(form);
        EXPECT_EQ(shot.at(20, 10), 0x333333u);
        EXPECT_EQ(shot.at(83, 57), 0x333333u);
        EXPECT_EQ(shot.at(19, 10), 0xFF0000u);
    }
}

TEST(Graphics, CanvasFillsAndWritesInsideItsCells)
{
    TBitmap bmp;
    bmp.SetPixelFormat(pf32bit);
    bmp.SetSize(200, 60);
    TCanvas* c = bmp.Canvas();
    c->Brush()->SetColor(clWhite);
    c->FillRect(Rect(0, 0, 200, 60));
    c->Brush()->SetColor(clNavy);
    c->FillRect(Rect(10, 10, 20, 15));
    EXPECT_EQ(c->Pixels(10, 10), clNavy);
    EXPECT_EQ(c->Pixels(19, 14), clNavy);
    EXPECT_EQ(c->Pixels(20, 14), clWhite);
    EXPECT_EQ(c->Pixels(19, 15), clWhite);
    EXPECT_EQ(c->Pixels(500, 0), clNone);

    c->Brush()->SetColor(clWhite);
    c->Font()->SetColor(clBlack);
    c->Font()->SetSize(20);
    int w = c->TextWidth("Hg"), h = c->TextHeight("Hg");
    EXPECT_GT(w, 10);
    EXPECT_GT(h, 20);
    c->TextOut(100, 5, "Hg");
    int ink = 0, outside = 0;
    for (int y = 0; y < 60; y++)
        for (int x = 30; x < 200; x++) {
            if (c->Pixels(x, y) == clWhite) continue;
            bool in = x >= 100 && x < 100 + w && y >= 5 && y < 5 + h;
            (in ? ink : outside)++;
        }
    EXPECT_GT(ink, 20);
    EXPECT_EQ(outside, 0);
    c->Font()->SetSize(72);
    EXPECT_GT(c->TextHeight("A"), 72);
}

} // namespace
