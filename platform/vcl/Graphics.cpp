// Qt backend of the graphics classes: the system colour table, fonts, the
// bitmap (one QImage of 32 or 24 bits plus a display copy refreshed when
// the pixels changed), the JPEG picture, TPicture and the canvas.
#include "platform/vcl/VclQt.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>

// --- Colours ---------------------------------------------------------------

// The system colours as 0xRRGGBB, by Windows colour index.
static const uint32_t kSystemRgb[31] = {
    0xC8C8C8, 0x000000, 0x99B4D1, 0xBFCDDB, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000, 0x000000, 0x000000, 0xB4B4B4,
    0xF4F7FC, 0xABABAB, 0x3399FF, 0xFFFFFF, 0xF0F0F0, 0xA0A0A0, 0x6D6D6D, 0x000000, 0x434E54, 0xFFFFFF, 0x696969,
    0xE3E3E3, 0x000000, 0xFFFFE1, 0xB5B5B5, 0x0066CC, 0xB9D1EA, 0xD7E4F2, 0x3399FF, 0xF0F0F0,
};

TColor ColorToRGB(TColor color)
{
    if ((uint32_t)color & 0xFF000000u) {
        uint32_t index = (uint32_t)color & 0xFF;
        if (((uint32_t)color & 0xFF000000u) != 0xFF000000u || index > 30) return clBlack;
        uint32_t rgb = kSystemRgb[index];
        return (TColor)(((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF));
    }
    if (color == clNone || color == clDefault) return clBlack;
    return color & 0xFFFFFF;
}

namespace {
struct ColorName {
    const char* name;
    TColor value;
};
const ColorName kColorNames[] = {
    {"clBlack", clBlack},
    {"clMaroon", clMaroon},
    {"clGreen", clGreen},
    {"clOlive", clOlive},
    {"clNavy", clNavy},
    {"clPurple", clPurple},
    {"clTeal", clTeal},
    {"clGray", clGray},
    {"clSilver", clSilver},
    {"clRed", clRed},
    {"clLime", clLime},
    {"clYellow", clYellow},
    {"clBlue", clBlue},
    {"clFuchsia", clFuchsia},
    {"clAqua", clAqua},
    {"clWhite", clWhite},
    {"clMoneyGreen", clMoneyGreen},
    {"clSkyBlue", clSkyBlue},
    {"clCream", clCream},
    {"clMedGray", clMedGray},
    {"clNone", clNone},
    {"clDefault", clDefault},
    {"clScrollBar", clScrollBar},
    {"clBackground", clBackground},
    {"clActiveCaption", clActiveCaption},
    {"clInactiveCaption", clInactiveCaption},
    {"clMenu", clMenu},
    {"clWindow", clWindow},
    {"clWindowFrame", clWindowFrame},
    {"clMenuText", clMenuText},
    {"clWindowText", clWindowText},
    {"clCaptionText", clCaptionText},
    {"clActiveBorder", clActiveBorder},
    {"clInactiveBorder", clInactiveBorder},
    {"clAppWorkSpace", clAppWorkSpace},
    {"clHighlight", clHighlight},
    {"clHighlightText", clHighlightText},
    {"clBtnFace", clBtnFace},
    {"clBtnShadow", clBtnShadow},
    {"clGrayText", clGrayText},
    {"clBtnText", clBtnText},
    {"clInactiveCaptionText", clInactiveCaptionText},
    {"clBtnHighlight", clBtnHighlight},
    {"cl3DDkShadow", cl3DDkShadow},
    {"cl3DLight", cl3DLight},
    {"clInfoText", clInfoText},
    {"clInfoBk", clInfoBk},
    {"clHotLight", clHotLight},
    {"clGradientActiveCaption", clGradientActiveCaption},
    {"clGradientInactiveCaption", clGradientInactiveCaption},
    {"clMenuHighlight", clMenuHighlight},
    {"clMenuBar", clMenuBar},
};
} // namespace

bool IdentToColor(const AnsiString& ident, TColor& color)
{
    for (const ColorName& n : kColorNames)
        if (ident == n.name) {
            color = n.value;
            return true;
        }
    return false;
}

// --- TFont -------------------------------------------------------------------

TFont::TFont()
    : FName("MS Sans Serif"), FHeight(-11), FColor(clWindowText), FStyle(0), FCharset(DEFAULT_CHARSET),
      FQuality(fqDefault)
{
}

void TFont::Changed()
{
    if (OnChange) OnChange(this);
}

void TFont::SetName(const AnsiString& name)
{
    if (name.empty() || name == FName) return;
    FName = name;
    Changed();
}

void TFont::SetHeight(int height)
{
    if (height == FHeight) return;
    FHeight = height;
    Changed();
}

int TFont::Size() const
{
    int h = FHeight < 0 ? -FHeight : FHeight;
    int s = (h * 72 + 48) / 96;
    return FHeight < 0 ? s : -s;
}

void TFont::SetSize(int points)
{
    int p = points < 0 ? -points : points;
    int h = (p * 96 + 36) / 72;
    SetHeight(points < 0 ? h : -h);
}

void TFont::SetColor(TColor color)
{
    if (color == FColor) return;
    FColor = color;
    Changed();
}

void TFont::SetStyle(TFontStyles style)
{
    style &= fsBold | fsItalic | fsUnderline | fsStrikeOut;
    if (style == FStyle) return;
    FStyle = style;
    Changed();
}

void TFont::SetCharset(int charset)
{
    charset &= 0xFF;
    if (charset == FCharset) return;
    FCharset = charset;
    Changed();
}

void TFont::SetQuality(TFontQuality quality)
{
    if (quality == FQuality) return;
    FQuality = quality;
    Changed();
}

void TFont::Assign(const TFont& other)
{
    if (&other == this) return;
    FName = other.FName;
    FHeight = other.FHeight;
    FColor = other.FColor;
    FStyle = other.FStyle;
    FCharset = other.FCharset;
    FQuality = other.FQuality;
    Changed();
}

// --- TGraphic ------------------------------------------------------------------

void TGraphic::Changed()
{
    if (OnChange) OnChange(this);
}

void TGraphic::SetTransparent(bool value)
{
    if (value == FTransparent) return;
    FTransparent = value;
    Changed();
}

// Fills the display copy from pixels of 32 or 24 bits: opaque, or with the
// colour of the bottom-left pixel cut out.
static void BuildDisplay(const QImage& src, bool transparent, QImage& out)
{
    int w = src.width(), h = src.height();
    QImage::Format f = transparent ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (out.width() != w || out.height() != h || out.format() != f) out = QImage(w, h, f);
    if (w == 0 || h == 0) return;
    bool is24 = src.format() == QImage::Format_BGR888;
    auto pixel = [&](const uchar* row, int x) -> uint32_t {
        if (is24) return (uint32_t)row[3 * x] | ((uint32_t)row[3 * x + 1] << 8) | ((uint32_t)row[3 * x + 2] << 16);
        return ((const uint32_t*)row)[x] & 0xFFFFFFu;
    };
    uint32_t key = pixel(src.constScanLine(h - 1), 0);
    for (int y = 0; y < h; y++) {
        const uchar* s = src.constScanLine(y);
        auto* d = (uint32_t*)out.scanLine(y);
        for (int x = 0; x < w; x++) {
            uint32_t p = pixel(s, x);
            d[x] = (transparent && p == key) ? 0u : (0xFF000000u | p);
        }
    }
}

// --- TBitmap -------------------------------------------------------------------

struct TBitmap::Impl {
    int width = 0, height = 0; // kept apart: an image with one side 0 is null
    QImage image;              // Format_RGB32 or Format_BGR888; never shared
    TPixelFormat format = pfDevice;
    uint64_t version = 1; // bumped by every access that may write pixels
    mutable QImage display;
    mutable uint64_t displayVersion = 0;
    mutable bool displayTransparent = false;
    mutable View view;
    TCanvas* canvas = nullptr;
};

static QImage::Format QtFormat(TPixelFormat f) { return f == pf24bit ? QImage::Format_BGR888 : QImage::Format_RGB32; }

TBitmap::TBitmap() : FImpl(new Impl) {}

TBitmap::~TBitmap()
{
    delete FImpl->canvas;
    delete FImpl;
}

int TBitmap::Width() const { return FImpl->width; }
int TBitmap::Height() const { return FImpl->height; }
void TBitmap::SetWidth(int width) { SetSize(width, Height()); }
void TBitmap::SetHeight(int height) { SetSize(Width(), height); }

void TBitmap::SetSize(int width, int height)
{
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    if (width == Width() && height == Height()) return;
    QImage next;
    if (width > 0 && height > 0) {
        next = QImage(width, height, QtFormat(FImpl->format));
        if (next.isNull()) throw EInvalidGraphic("Out of system resources");
        next.fill(0);
        int cw = std::min(width, FImpl->image.width()), ch = std::min(height, FImpl->image.height());
        int bpp = FImpl->format == pf24bit ? 3 : 4;
        for (int y = 0; y < ch; y++) memcpy(next.scanLine(y), FImpl->image.constScanLine(y), (size_t)cw * bpp);
    }
    FImpl->image = next;
    FImpl->width = width;
    FImpl->height = height;
    FImpl->version++;
    Changed();
}

TPixelFormat TBitmap::PixelFormat() const { return FImpl->format; }

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format != pfDevice && format != pf24bit && format != pf32bit)
        throw EInvalidGraphic("Pixel format not supported");
    if (format == FImpl->format) return;
    QImage::Format was = QtFormat(FImpl->format), now = QtFormat(format);
    FImpl->format = format;
    if (was != now && !FImpl->image.isNull()) {
        QImage next = FImpl->image.convertToFormat(now);
        FImpl->image = QImage();
        FImpl->image = next.copy();
    }
    FImpl->version++;
    Changed();
}

void* TBitmap::ScanLine(int y)
{
    if (y < 0 || y >= Height() || FImpl->image.isNull()) throw EInvalidGraphic("Scan line index out of range");
    FImpl->version++;
    return FImpl->image.scanLine(y);
}

const void* TBitmap::ScanLine(int y) const
{
    if (y < 0 || y >= Height() || FImpl->image.isNull()) throw EInvalidGraphic("Scan line index out of range");
    return FImpl->image.constScanLine(y);
}

int TBitmap::RowBytes() const { return (int)FImpl->image.bytesPerLine(); }

uint64_t TBitmap::ChangeCount() const { return FImpl->version; }

TCanvas* TBitmap::Canvas()
{
    if (!FImpl->canvas) FImpl->canvas = new TCanvas(this);
    return FImpl->canvas;
}

void TBitmap::Assign(const TBitmap& other)
{
    if (&other == this) return;
    FImpl->format = other.FImpl->format;
    FImpl->image = other.FImpl->image.copy();
    FImpl->width = other.FImpl->width;
    FImpl->height = other.FImpl->height;
    FTransparent = other.FTransparent;
    FImpl->version++;
    Changed();
}

static uint32_t Le32(const uchar* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
static uint16_t Le16(const uchar* p) { return (uint16_t)(p[0] | p[1] << 8); }

// The commonest file, uncompressed 24 bits a pixel, straight into a 24-bit
// image: its rows are the file's byte for byte, bottom row first unless
// the height is negative. False for any other file, or one whose rows do
// not all lie within it; Qt's reader takes those.
static bool Read24BitRows(const uchar* data, qsizetype size, QImage* out)
{
    if (size < 54) return false;
    uint32_t pixels = Le32(data + 10), header = Le32(data + 14);
    if (header < 40 || header > (uint64_t)size - 14) return false;
    int64_t w = (int32_t)Le32(data + 18), h = (int32_t)Le32(data + 22);
    if (Le16(data + 26) != 1 || Le16(data + 28) != 24 || Le32(data + 30) != 0) return false;
    uint64_t rows = (uint64_t)(h < 0 ? -h : h);
    // Within what Qt's reader would take (its 256 MB for the 32-bit image
    // it reads into); a larger picture is left to it to refuse.
    if (w <= 0 || rows == 0 || (uint64_t)w * rows * 4 > (256u << 20)) return false;
    uint64_t stride = ((uint64_t)w * 3 + 3) & ~(uint64_t)3;
    if (pixels < 14 + header || pixels + stride * rows > (uint64_t)size) return false;
    QImage image((int)w, (int)rows, QImage::Format_BGR888);
    if (image.isNull()) return false;
    size_t used = (size_t)w * 3, pad = (size_t)image.bytesPerLine() - used;
    for (uint64_t y = 0; y < rows; y++) {
        const uchar* row = data + pixels + stride * (h > 0 ? rows - 1 - y : y);
        uchar* line = image.scanLine((int)y);
        memcpy(line, row, used);
        memset(line + used, 0, pad);
    }
    *out = image;
    return true;
}

// 24-bit files stay 24-bit; everything else becomes 32-bit.
static void TakeBmp(TBitmap::Impl* d, const uchar* data, qsizetype size)
{
    if (!data || size < 30 || data[0] != 'B' || data[1] != 'M') throw EInvalidGraphic("Bitmap image is not valid");
    int bits = data[28] | (data[29] << 8);
    TPixelFormat format = bits == 24 ? pf24bit : pf32bit;
    QImage image;
    if (!Read24BitRows(data, size, &image)) {
        QByteArray bytes = QByteArray::fromRawData((const char*)data, size);
        QBuffer buf(&bytes);
        buf.open(QIODevice::ReadOnly);
        QImageReader reader(&buf, "bmp");
        QImage read = reader.read();
        if (read.isNull()) throw EInvalidGraphic("Bitmap image is not valid");
        image = read.convertToFormat(QtFormat(format)).copy();
    }
    d->format = format;
    d->image = image;
    d->width = d->image.width();
    d->height = d->image.height();
    d->version++;
}

void TBitmap::LoadFromFile(const AnsiString& path)
{
    QFile f(QString::fromLocal8Bit(path.c_str()));
    if (!f.open(QIODevice::ReadOnly)) throw EInvalidGraphic("Cannot open file \"" + path + "\"");
    // Read where the file lies in memory; closing the file unmaps it.
    if (uchar* mapped = f.size() > 0 ? f.map(0, f.size()) : nullptr) {
        TakeBmp(FImpl, mapped, f.size());
    } else {
        QByteArray bytes = f.readAll();
        TakeBmp(FImpl, (const uchar*)bytes.constData(), bytes.size());
    }
    Changed();
}

void TBitmap::LoadFromData(const void* data, size_t size)
{
    TakeBmp(FImpl, (const uchar*)data, (qsizetype)size);
    Changed();
}

void TBitmap::SaveToFile(const AnsiString& path) const
{
    QImageWriter w(QString::fromLocal8Bit(path.c_str()), "bmp");
    if (FImpl->image.isNull() || !w.write(FImpl->image)) throw EInvalidGraphic("Cannot create file \"" + path + "\"");
}

const TGraphic::View* TBitmap::Display() const
{
    Impl* d = FImpl;
    if (!FTransparent && d->image.format() == QImage::Format_RGB32) {
        // Opaque 32-bit pixels are drawn from the bitmap's own image: no
        // copy per repaint. The top byte is not shown (the widgets draw
        // into opaque surfaces, where Qt takes RGB32 as it stands).
        if (!d->display.isNull()) d->display = QImage();
        d->displayVersion = 0;
        d->view.image = &d->image;
        return &d->view;
    }
    if (d->displayVersion != d->version || d->displayTransparent != FTransparent) {
        BuildDisplay(d->image, FTransparent, d->display);
        d->displayVersion = d->version;
        d->displayTransparent = FTransparent;
    }
    d->view.image = &d->display;
    return &d->view;
}

// --- TJPEGImage ----------------------------------------------------------------

struct TJPEGImage::Impl {
    QImage image; // Format_RGB32
    QByteArray data;
    mutable QImage display;
    mutable bool displayTransparent = false;
    mutable bool fresh = false;
    mutable View view;
};

TJPEGImage::TJPEGImage() : FImpl(new Impl) {}
TJPEGImage::~TJPEGImage() { delete FImpl; }
int TJPEGImage::Width() const { return FImpl->image.width(); }
int TJPEGImage::Height() const { return FImpl->image.height(); }

namespace {
// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to the decode with the library's message.
struct JpegError {
    jpeg_error_mgr mgr;
    jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr info)
{
    JpegError* e = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, e->message);
    longjmp(e->back, 1);
}

void JpegSilence(j_common_ptr, int) {}

// Decodes a JFIF stream into rows of RGB bytes (malloc'd, the caller frees
// them); null with the reason in *why. Nothing with a destructor lives
// between the setjmp and libjpeg's calls, so a jump back leaks nothing.
// Pictures are bounded to 8192 x 8192 so a forged header cannot ask for
// gigabytes.
unsigned char* JpegDecodeRgb(const unsigned char* bytes, size_t size, int* width, int* height, char* why,
                             size_t whySize)
{
    if (!bytes || size == 0 || size > 0x7fffffffUL) {
        snprintf(why, whySize, "empty JPEG data");
        return nullptr;
    }
    jpeg_decompress_struct info;
    JpegError err;
    err.message[0] = 0;
    info.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = JpegErrorExit;
    err.mgr.emit_message = JpegSilence;
    unsigned char* volatile pixels = nullptr;
    if (setjmp(err.back)) {
        jpeg_destroy_decompress(&info);
        free(pixels);
        snprintf(why, whySize, "%s", err.message);
        return nullptr;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes, (unsigned long)size);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_width == 0 || info.output_height == 0 || info.output_width > 8192 || info.output_height > 8192 ||
        info.output_components != 3) {
        jpeg_destroy_decompress(&info);
        snprintf(why, whySize, "unsupported JPEG picture");
        return nullptr;
    }
    size_t stride = (size_t)info.output_width * 3;
    pixels = (unsigned char*)calloc(stride, info.output_height);
    if (!pixels) {
        jpeg_destroy_decompress(&info);
        snprintf(why, whySize, "out of memory");
        return nullptr;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[1] = {pixels + stride * info.output_scanline};
        if (jpeg_read_scanlines(&info, rows, 1) != 1) break;
    }
    jpeg_finish_decompress(&info);
    *width = (int)info.output_width;
    *height = (int)info.output_height;
    jpeg_destroy_decompress(&info);
    return pixels;
}
} // namespace

void TJPEGImage::LoadFromData(const void* data, size_t size)
{
    int w = 0, h = 0;
    char why[JMSG_LENGTH_MAX + 32];
    unsigned char* rgb = JpegDecodeRgb(static_cast<const unsigned char*>(data), size, &w, &h, why, sizeof why);
    if (!rgb) throw EInvalidGraphic(std::string("JPEG error: ") + why);
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; y++) {
        const unsigned char* src = rgb + (size_t)y * w * 3;
        QRgb* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; x++) line[x] = qRgb(src[x * 3], src[x * 3 + 1], src[x * 3 + 2]);
    }
    free(rgb);
    FImpl->image = img;
    FImpl->data = QByteArray((const char*)data, (qsizetype)size);
    FImpl->fresh = false;
    Changed();
}

void TJPEGImage::LoadFromFile(const AnsiString& path)
{
    QFile f(QString::fromLocal8Bit(path.c_str()));
    if (!f.open(QIODevice::ReadOnly)) throw EInvalidGraphic("Cannot open file \"" + path + "\"");
    QByteArray b = f.readAll();
    LoadFromData(b.constData(), (size_t)b.size());
}

void TJPEGImage::SaveToFile(const AnsiString& path) const
{
    QFile f(QString::fromLocal8Bit(path.c_str()));
    if (FImpl->data.isEmpty() || !f.open(QIODevice::WriteOnly) || f.write(FImpl->data) != FImpl->data.size())
        throw EInvalidGraphic("Cannot create file \"" + path + "\"");
}

const TGraphic::View* TJPEGImage::Display() const
{
    if (!FImpl->fresh || FImpl->displayTransparent != FTransparent) {
        BuildDisplay(FImpl->image, FTransparent, FImpl->display);
        FImpl->fresh = true;
        FImpl->displayTransparent = FTransparent;
    }
    FImpl->view.image = &FImpl->display;
    return &FImpl->view;
}

// --- TPicture ----------------------------------------------------------------

TPicture::TPicture() {}
TPicture::~TPicture() { delete FGraphic; }

void TPicture::Changed()
{
    if (OnChange) OnChange(this);
}

void TPicture::Attach(TGraphic* graphic)
{
    if (graphic == FGraphic) return;
    delete FGraphic;
    FGraphic = graphic;
    if (FGraphic) FGraphic->OnChange = [this](TObject*) { Changed(); };
}

void TPicture::SetGraphic(TGraphic* graphic)
{
    Attach(graphic);
    Changed();
}

TBitmap* TPicture::Bitmap()
{
    auto* b = dynamic_cast<TBitmap*>(FGraphic);
    if (!b) {
        b = new TBitmap;
        Attach(b);
        Changed();
    }
    return b;
}

int TPicture::Width() const { return FGraphic ? FGraphic->Width() : 0; }
int TPicture::Height() const { return FGraphic ? FGraphic->Height() : 0; }

void TPicture::LoadFromFile(const AnsiString& path)
{
    QString ext = QFileInfo(QString::fromLocal8Bit(path.c_str())).suffix().toLower();
    TGraphic* g = nullptr;
    if (ext == "bmp") g = new TBitmap;
    else if (ext == "jpg" || ext == "jpeg") g = new TJPEGImage;
    else throw EInvalidGraphic("Unknown picture file extension (." + ext.toStdString() + ")");
    try {
        g->LoadFromFile(path);
    } catch (...) {
        delete g;
        throw;
    }
    SetGraphic(g);
}

void TPicture::SaveToFile(const AnsiString& path) const
{
    if (FGraphic) FGraphic->SaveToFile(path);
}

void TPicture::LoadFromStoredData(const void* data, size_t size)
{
    auto* p = (const uint8_t*)data;
    if (size < 1 || size < 1u + p[0]) throw EInvalidGraphic("Invalid picture data");
    std::string cls((const char*)p + 1, p[0]);
    p += 1 + cls.size();
    size -= 1 + cls.size();
    TGraphic* g = nullptr;
    if (cls == "TBitmap") g = new TBitmap;
    else if (cls == "TJPEGImage") g = new TJPEGImage;
    else throw EInvalidGraphic("Unknown picture class " + cls);
    try {
        // Both carry a 32-bit length of their data first.
        if (size < 4) throw EInvalidGraphic("Invalid picture data");
        uint32_t n = (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
        if (n > size - 4) throw EInvalidGraphic("Invalid picture data");
        g->LoadFromData(p + 4, n);
    } catch (...) {
        delete g;
        throw;
    }
    SetGraphic(g);
}

// --- TCanvas -------------------------------------------------------------------

TCanvas::TCanvas(TBitmap* target) : FTarget(target) {}
TCanvas::~TCanvas() {}

namespace {
// A painter on the target bitmap, open for one operation.
struct Painting {
    TBitmap* target;
    QPainter painter;
    explicit Painting(TBitmap* t) : target(t)
    {
        if (!t->FImpl->image.isNull()) painter.begin(&t->FImpl->image);
    }
    bool ok() const { return painter.isActive(); }
    ~Painting()
    {
        if (painter.isActive()) painter.end();
        target->FImpl->version++;
    }
};
QRect ToQ(const TRect& r) { return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top); }
} // namespace

void TCanvas::FillRect(const TRect& r)
{
    if (FBrush.Style() == bsClear) return;
    {
        Painting p(FTarget);
        if (!p.ok()) return;
        p.painter.fillRect(ToQ(r), VclQColor(FBrush.Color()));
    }
    FTarget->OnChange ? FTarget->OnChange(FTarget) : void();
}

void TCanvas::FrameRect(const TRect& r)
{
    {
        Painting p(FTarget);
        if (!p.ok() || r.Right <= r.Left || r.Bottom <= r.Top) return;
        QColor c = VclQColor(FBrush.Color());
        p.painter.fillRect(QRect(r.Left, r.Top, r.Right - r.Left, 1), c);
        p.painter.fillRect(QRect(r.Left, r.Bottom - 1, r.Right - r.Left, 1), c);
        p.painter.fillRect(QRect(r.Left, r.Top, 1, r.Bottom - r.Top), c);
        p.painter.fillRect(QRect(r.Right - 1, r.Top, 1, r.Bottom - r.Top), c);
    }
    FTarget->OnChange ? FTarget->OnChange(FTarget) : void();
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2)
{
    if (FBrush.Style() != bsClear) FillRect(Rect(x1, y1, x2, y2));
    if (FPen.Style() == psClear) return;
    {
        Painting p(FTarget);
        if (!p.ok()) return;
        QPen pen(VclQColor(FPen.Color()));
        pen.setWidth(FPen.Width());
        p.painter.setPen(pen);
        p.painter.setBrush(Qt::NoBrush);
        p.painter.drawRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1);
    }
    FTarget->OnChange ? FTarget->OnChange(FTarget) : void();
}

void TCanvas::MoveTo(int x, int y) { FPenPos = Point(x, y); }

void TCanvas::LineTo(int x, int y)
{
    if (FPen.Style() != psClear) {
        Painting p(FTarget);
        if (p.ok()) {
            QPen pen(VclQColor(FPen.Color()));
            pen.setWidth(FPen.Width());
            pen.setCapStyle(Qt::FlatCap);
            p.painter.setPen(pen);
            p.painter.drawLine(FPenPos.X, FPenPos.Y, x, y);
        }
    }
    FPenPos = Point(x, y);
    FTarget->OnChange ? FTarget->OnChange(FTarget) : void();
}

int TCanvas::TextWidth(const AnsiString& text)
{
    QFontMetrics fm(VclQFont(FFont));
    return fm.horizontalAdvance(VclToQ(text, FFont.Charset()));
}

int TCanvas::TextHeight(const AnsiString& text)
{
    QFontMetrics fm(VclQFont(FFont));
    return fm.ascent() + fm.descent();
}

void TCanvas::TextRect(const TRect& r, int x, int y, const AnsiString& text)
{
    {
        Painting p(FTarget);
        if (!p.ok()) return;
        QFont f = VclQFont(FFont);
        QFontMetrics fm(f);
        QString s = VclToQ(text, FFont.Charset());
        p.painter.setClipRect(ToQ(r));
        if (FBrush.Style() != bsClear) p.painter.fillRect(ToQ(r), VclQColor(FBrush.Color()));
        p.painter.setFont(f);
        p.painter.setPen(VclQColor(FFont.Color()));
        p.painter.drawText(x, y + fm.ascent(), s);
    }
    FTarget->OnChange ? FTarget->OnChange(FTarget) : void();
}

void TCanvas::TextOut(int x, int y, const AnsiString& text)
{
    {
        Painting p(FTarget);
        if (!p.ok()) return;
        QFont f = VclQFont(FFont);
        QFontMetrics fm(f);
        QString s = VclToQ(text, FFont.Charset());
        int w = fm.horizontalAdvance(s), h = fm.ascent() + fm.descent();
        if (FBrush.Style() != bsClear) p.painter.fillRect(QRect(x, y, w, h), VclQColor(FBrush.Color()));
        p.painter.setFont(f);
        p.painter.setPen(VclQColor(FFont.Color()));
        p.painter.drawText(x, y + fm.ascent(), s);
        FPenPos = Point(x + w, y);
    }
    FTarget->OnChange ? FTarget->OnChange(FTarget) : void();
}

static uint32_t ToPixel(TColor c)
{
    TColor rgb = ColorToRGB(c);
    return ((uint32_t)(rgb & 0xFF) << 16) | ((uint32_t)rgb & 0xFF00) | (((uint32_t)rgb >> 16) & 0xFF);
}

TColor TCanvas::Pixels(int x, int y) const
{
    const QImage& img = FTarget->FImpl->image;
    if (x < 0 || y < 0 || x >= img.width() || y >= img.height()) return clNone;
    const uchar* row = img.constScanLine(y);
    uint32_t p;
    if (img.format() == QImage::Format_BGR888)
        p = (uint32_t)row[3 * x] | ((uint32_t)row[3 * x + 1] << 8) | ((uint32_t)row[3 * x + 2] << 16);
    else p = ((const uint32_t*)row)[x];
    return (TColor)(((p >> 16) & 0xFF) | (p & 0xFF00) | ((p & 0xFF) << 16));
}

void TCanvas::SetPixels(int x, int y, TColor color)
{
    QImage& img = FTarget->FImpl->image;
    if (x < 0 || y < 0 || x >= img.width() || y >= img.height()) return;
    uint32_t p = ToPixel(color);
    uchar* row = img.scanLine(y);
    if (img.format() == QImage::Format_BGR888) {
        row[3 * x] = p & 0xFF;
        row[3 * x + 1] = (p >> 8) & 0xFF;
        row[3 * x + 2] = (p >> 16) & 0xFF;
    } else {
        ((uint32_t*)row)[x] = 0xFF000000u | p;
    }
    FTarget->FImpl->version++;
}

void TCanvas::Draw(int x, int y, const TGraphic* graphic)
{
    if (!graphic || graphic->Empty()) return;
    {
        Painting p(FTarget);
        if (!p.ok()) return;
        p.painter.drawImage(x, y, *graphic->Display()->image);
    }
    FTarget->OnChange ? FTarget->OnChange(FTarget) : void();
}

void TCanvas::StretchDraw(const TRect& r, const TGraphic* graphic)
{
    if (!graphic || graphic->Empty()) return;
    {
        Painting p(FTarget);
        if (!p.ok()) return;
        p.painter.drawImage(ToQ(r), *graphic->Display()->image);
    }
    FTarget->OnChange ? FTarget->OnChange(FTarget) : void();
}
