// Graphics of the class library: colours, fonts, brushes and pens, the
// canvas that draws on a bitmap, and the pictures a TImage shows (a 32- or
// 24-bit TBitmap whose rows are reached through ScanLine, a TJPEGImage).
#pragma once
#include "platform/vcl/Vcl.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>

// --- Colours ---------------------------------------------------------------

// 0x00BBGGRR, or a system colour (0xFF0000nn, nn a Windows colour index).
typedef int32_t TColor;

enum : int32_t {
    clBlack = 0x000000,
    clMaroon = 0x000080,
    clGreen = 0x008000,
    clOlive = 0x008080,
    clNavy = 0x800000,
    clPurple = 0x800080,
    clTeal = 0x808000,
    clGray = 0x808080,
    clSilver = 0xC0C0C0,
    clRed = 0x0000FF,
    clLime = 0x00FF00,
    clYellow = 0x00FFFF,
    clBlue = 0xFF0000,
    clFuchsia = 0xFF00FF,
    clAqua = 0xFFFF00,
    clWhite = 0xFFFFFF,
    clMoneyGreen = 0xC0DCC0,
    clSkyBlue = 0xF0CAA6,
    clCream = 0xF0FBFF,
    clMedGray = 0xA4A0A0,
    clNone = 0x1FFFFFFF,
    clDefault = 0x20000000,
};
const TColor clSystemColor = (TColor)0xFF000000;
const TColor clScrollBar = clSystemColor | 0, clBackground = clSystemColor | 1, clActiveCaption = clSystemColor | 2,
             clInactiveCaption = clSystemColor | 3, clMenu = clSystemColor | 4, clWindow = clSystemColor | 5,
             clWindowFrame = clSystemColor | 6, clMenuText = clSystemColor | 7, clWindowText = clSystemColor | 8,
             clCaptionText = clSystemColor | 9, clActiveBorder = clSystemColor | 10,
             clInactiveBorder = clSystemColor | 11, clAppWorkSpace = clSystemColor | 12,
             clHighlight = clSystemColor | 13, clHighlightText = clSystemColor | 14, clBtnFace = clSystemColor | 15,
             clBtnShadow = clSystemColor | 16, clGrayText = clSystemColor | 17, clBtnText = clSystemColor | 18,
             clInactiveCaptionText = clSystemColor | 19, clBtnHighlight = clSystemColor | 20,
             cl3DDkShadow = clSystemColor | 21, cl3DLight = clSystemColor | 22, clInfoText = clSystemColor | 23,
             clInfoBk = clSystemColor | 24, clHotLight = clSystemColor | 26,
             clGradientActiveCaption = clSystemColor | 27, clGradientInactiveCaption = clSystemColor | 28,
             clMenuHighlight = clSystemColor | 29, clMenuBar = clSystemColor | 30;

// The plain 0x00BBGGRR value of a colour (system colours resolved).
TColor ColorToRGB(TColor color);
// The name of a colour constant ("clBtnFace"), or false when it has none.
bool IdentToColor(const AnsiString& ident, TColor& color);

// --- Geometry ----------------------------------------------------------------

struct TPoint {
    int X = 0, Y = 0;
};
// Left and top inside, right and bottom outside.
struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};
inline TRect Rect(int left, int top, int right, int bottom)
{
    TRect r;
    r.Left = left;
    r.Top = top;
    r.Right = right;
    r.Bottom = bottom;
    return r;
}
inline TPoint Point(int x, int y)
{
    TPoint p;
    p.X = x;
    p.Y = y;
    return p;
}

// --- Fonts, brushes, pens ------------------------------------------------

// Font character sets (the Windows codes).
enum : int {
    ANSI_CHARSET = 0,
    DEFAULT_CHARSET = 1,
    SYMBOL_CHARSET = 2,
    MAC_CHARSET = 77,
    SHIFTJIS_CHARSET = 128,
    HANGEUL_CHARSET = 129,
    JOHAB_CHARSET = 130,
    GB2312_CHARSET = 134,
    CHINESEBIG5_CHARSET = 136,
    GREEK_CHARSET = 161,
    TURKISH_CHARSET = 162,
    VIETNAMESE_CHARSET = 163,
    HEBREW_CHARSET = 177,
    ARABIC_CHARSET = 178,
    BALTIC_CHARSET = 186,
    RUSSIAN_CHARSET = 204,
    THAI_CHARSET = 222,
    EASTEUROPE_CHARSET = 238,
    OEM_CHARSET = 255,
};

// Font styles as bits of a TFontStyles set.
enum TFontStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
typedef unsigned TFontStyles;

enum TFontQuality { fqDefault, fqDraft, fqProof, fqNonAntialiased, fqAntialiased, fqClearType };

// A font description. Height < 0 is the character height in pixels,
// Height > 0 the cell height; Size is points at 96 pixels per inch
// (Size 8 = Height -11). Every change raises OnChange.
class TFont : public TObject {
public:
    TFont();
    AnsiString Name() const { return FName; }
    void SetName(const AnsiString& name);
    int Height() const { return FHeight; }
    void SetHeight(int height);
    int Size() const;
    void SetSize(int points);
    TColor Color() const { return FColor; }
    void SetColor(TColor color);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles style);
    int Charset() const { return FCharset; }
    void SetCharset(int charset);
    TFontQuality Quality() const { return FQuality; }
    void SetQuality(TFontQuality quality);
    // Copies every attribute and raises one OnChange.
    void Assign(const TFont& other);
    TNotifyEvent OnChange;

private:
    void Changed();
    AnsiString FName;
    int FHeight;
    TColor FColor;
    TFontStyles FStyle;
    int FCharset;
    TFontQuality FQuality;
};

enum TBrushStyle { bsSolid, bsClear };
class TBrush : public TObject {
public:
    TColor Color() const { return FColor; }
    void SetColor(TColor color) { FColor = color; }
    TBrushStyle Style() const { return FStyle; }
    void SetStyle(TBrushStyle style) { FStyle = style; }

private:
    TColor FColor = clWhite;
    TBrushStyle FStyle = bsSolid;
};

enum TPenStyle { psSolid, psDash, psDot, psClear };
class TPen : public TObject {
public:
    TColor Color() const { return FColor; }
    void SetColor(TColor color) { FColor = color; }
    int Width() const { return FWidth; }
    void SetWidth(int width) { FWidth = width < 1 ? 1 : width; }
    TPenStyle Style() const { return FStyle; }
    void SetStyle(TPenStyle style) { FStyle = style; }

private:
    TColor FColor = clBlack;
    int FWidth = 1;
    TPenStyle FStyle = psSolid;
};

// --- Pictures -----------------------------------------------------------

// Raised for an unreadable picture, a bad scan-line index, an unsupported
// pixel format.
class EInvalidGraphic : public std::runtime_error {
public:
    explicit EInvalidGraphic(const std::string& what) : std::runtime_error(what) {}
};

class TCanvas;

// A picture that a TPicture holds. OnChange is raised when its pixels or
// size change through the class's own methods (ScanLine writes raise
// nothing: callers repaint the control themselves).
class TGraphic : public TObject {
public:
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    bool Empty() const { return Width() <= 0 || Height() <= 0; }
    virtual void LoadFromFile(const AnsiString& path) = 0;
    virtual void SaveToFile(const AnsiString& path) const = 0;
    // Reads the picture from the bytes of a file of its type.
    virtual void LoadFromData(const void* data, size_t size) = 0;
    // Drawn with the colour of its bottom-left pixel left out.
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    TNotifyEvent OnChange;

    struct View;
    // The picture as the backend draws it (internal).
    virtual const View* Display() const = 0;

protected:
    void Changed();
    bool FTransparent = false;
};

// Pixel formats; the bitmap keeps 32 (pf32bit, pfDevice) or 24 bits.
enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };

// A device-independent bitmap. Rows are top row first; a pf32bit row is
// Width little-endian u32 pixels 0xXXRRGGBB (blue in the lowest byte, the
// top byte is kept but not shown); a pf24bit row is Width B,G,R triples
// padded to a multiple of 4 bytes. ScanLine costs no allocation and its
// pointer stays valid until the size or the pixel format changes.
class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    int Width() const override;
    int Height() const override;
    // Resizing keeps the pixels that stay inside; new pixels are black.
    void SetWidth(int width);
    void SetHeight(int height);
    void SetSize(int width, int height);
    TPixelFormat PixelFormat() const;
    // pfDevice, pf24bit and pf32bit; others raise EInvalidGraphic.
    void SetPixelFormat(TPixelFormat format);
    // Row y (0 = top); raises EInvalidGraphic outside 0 .. Height-1.
    void* ScanLine(int y);
    const void* ScanLine(int y) const;
    // Bytes from one row to the next.
    int RowBytes() const;
    // Moves on with every access that may have changed pixels (writable
    // scan lines, resizing, the canvas, loading): equal counts mean the
    // pixels are as they were.
    uint64_t ChangeCount() const;
    TCanvas* Canvas();
    void Assign(const TBitmap& other);
    // Windows bitmap files (.bmp); 24-bit files load as pf24bit, others
    // as pf32bit. Failures raise EInvalidGraphic.
    void LoadFromFile(const AnsiString& path) override;
    void SaveToFile(const AnsiString& path) const override;
    void LoadFromData(const void* data, size_t size) override;
    const View* Display() const override;

    struct Impl;
    Impl* FImpl;
};

// A JPEG picture, decoded when it is loaded.
class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;
    TJPEGImage(const TJPEGImage&) = delete;
    TJPEGImage& operator=(const TJPEGImage&) = delete;
    int Width() const override;
    int Height() const override;
    void LoadFromFile(const AnsiString& path) override;
    void SaveToFile(const AnsiString& path) const override;
    void LoadFromData(const void* data, size_t size) override;
    const View* Display() const override;

    struct Impl;
    Impl* FImpl;
};

// Holds one graphic. Bitmap() turns the picture into a bitmap when it holds
// something else (or nothing), as the class library does.
class TPicture : public TObject {
public:
    TPicture();
    ~TPicture() override;
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;
    TGraphic* Graphic() const { return FGraphic; }
    // Takes ownership of graphic (null empties the picture).
    void SetGraphic(TGraphic* graphic);
    TBitmap* Bitmap();
    int Width() const;
    int Height() const;
    // By extension: .bmp a TBitmap, .jpg/.jpeg a TJPEGImage.
    void LoadFromFile(const AnsiString& path);
    void SaveToFile(const AnsiString& path) const;
    // Stored picture data: a length-prefixed class name ("TBitmap",
    // "TJPEGImage") followed by the graphic's own data.
    void LoadFromStoredData(const void* data, size_t size);
    TNotifyEvent OnChange;

private:
    void Changed();
    void Attach(TGraphic* graphic);
    TGraphic* FGraphic = nullptr;
};

// --- Canvas -------------------------------------------------------------

// Draws on a bitmap. Rectangles leave out their right and bottom edge;
// TextOut with a solid brush fills the text cell first; (x, y) of a text
// is the top left of its cell.
class TCanvas : public TObject {
public:
    explicit TCanvas(TBitmap* target);
    ~TCanvas() override;
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;
    TFont* Font() { return &FFont; }
    TBrush* Brush() { return &FBrush; }
    TPen* Pen() { return &FPen; }
    TPoint PenPos() const { return FPenPos; }

    void FillRect(const TRect& r);
    void FrameRect(const TRect& r);
    void Rectangle(int x1, int y1, int x2, int y2);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);
    void TextOut(int x, int y, const AnsiString& text);
    // Text clipped to r.
    void TextRect(const TRect& r, int x, int y, const AnsiString& text);
    int TextWidth(const AnsiString& text);
    int TextHeight(const AnsiString& text);
    TColor Pixels(int x, int y) const;
    void SetPixels(int x, int y, TColor color);
    void Draw(int x, int y, const TGraphic* graphic);
    void StretchDraw(const TRect& r, const TGraphic* graphic);

private:
    TBitmap* FTarget;
    TFont FFont;
    TBrush FBrush;
    TPen FPen;
    TPoint FPenPos;
};
