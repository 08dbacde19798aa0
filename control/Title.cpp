// The Title page and the rendering of the channel titles: the 16 edits,
// the font dialog, the size controls, the language, and the lazy rendering
// of every changed title into its four 1-bit bitmaps with the preview in
// Image_Title1 (white text, black outline, dark-blue ground).
#include "control/Title.h"
#include "control/TavlinImpl1.h"
#include "link/Conn.h"
#include "link/Tavn.h"
#include "platform/vcl/CodePage.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/ExtCtrls.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>

const TTitleSize kTitleSizes[TITLE_SIZES] = {
    {448, 56, 3136, 50176},
    {352, 44, 1936, 30976},
    {288, 36, 1296, 20736},
    {224, 28, 784, 12544},
};

TTitleSettings gTitleSettings[2];
TTitleState gTitleStates[2];
TFontDialog* gTitleFontDialog = nullptr;
TOpenDialog* gTitleOpenDialog = nullptr;
TSaveDialog* gTitleSaveDialog = nullptr;
TImage* gTitleDrawImage = nullptr;
TImage* gTitleMeasureImage = nullptr;

static const uint32_t kGround = 0x00FFFFFF; // white: no ink
static const TColor kPreviewGround = 0x800000;

static bool IsInk(uint32_t pixel) { return (pixel & 0x00FFFFFF) != kGround; }

// Halves rounded down, also below zero.
static int FloorHalf(int v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); }

TLabeledEdit* Title_Edit(uint32_t channel)
{
    TTavlinX* f = gViewerForm;
    if (!f || channel >= TITLE_CHANNELS) return nullptr;
    TLabeledEdit* edits[TITLE_CHANNELS] = {
        f->LabeledEdit_Title1,  f->LabeledEdit_Title2,  f->LabeledEdit_Title3,  f->LabeledEdit_Title4,
        f->LabeledEdit_Title5,  f->LabeledEdit_Title6,  f->LabeledEdit_Title7,  f->LabeledEdit_Title8,
        f->LabeledEdit_Title9,  f->LabeledEdit_Title10, f->LabeledEdit_Title11, f->LabeledEdit_Title12,
        f->LabeledEdit_Title13, f->LabeledEdit_Title14, f->LabeledEdit_Title15, f->LabeledEdit_Title16,
    };
    return edits[channel];
}

uint32_t Title_ChannelCount(const TTitleState* state)
{
    const TConnection* c = state ? state->connection : nullptr;
    const THandshakeRecord* h = c && c->handshake ? c->handshake : &gHandshakeRecords[c ? c->index & 1 : 0];
    uint32_t n = h->machine.channelCount;
    return n > TITLE_CHANNELS ? (uint32_t)TITLE_CHANNELS : n;
}

void Title_MarkAllChanged(TTitleState* state)
{
    for (uint32_t i = 0; i < TITLE_CHANNELS; i++) state->changed[i] = 1;
}

static void FontFromStyleBits(TFont* font, uint32_t bits) { font->SetStyle(bits & 0x0F); }

// The character set the title text is decoded with: the title font's own,
// or, for the default set, that of the language the edits were typed in.
static int DrawCharset(const TTitleSettings* s)
{
    int charset = (int)(s->charset & 0xFF);
    if (charset == DEFAULT_CHARSET) charset = (int)Title_CharsetForLanguage(s->language);
    return charset;
}

// --- Page set-up ---------------------------------------------------------------

void Title_InitPage()
{
    TTavlinX* f = gViewerForm;
    TTitleState* state = &gTitleStates[0];
    TTitleSettings* s = &gTitleSettings[0];
    state->previewSize = 1;
    state->previewChannel = 0;
    if (!f) return;

    gTitleFontDialog = new TFontDialog(f);
    gTitleDrawImage = new TImage(f);
    gTitleMeasureImage = new TImage(f);
    gTitleOpenDialog = new TOpenDialog(f);
    gTitleSaveDialog = new TSaveDialog(f);
    gTitleDrawImage->SetVisible(false);
    gTitleMeasureImage->SetVisible(false);

    TBitmap* preview = f->Image_Title1->Picture()->Bitmap();
    preview->SetPixelFormat(pf32bit);
    preview->SetSize(f->Image_Title1->Width(), f->Image_Title1->Height());
    TCanvas* pc = preview->Canvas();
    pc->Brush()->SetColor(kPreviewGround);
    pc->Font()->SetColor(clWhite);
    pc->FillRect(Rect(0, 0, preview->Width(), preview->Height()));
    f->Image_Title1->Repaint();

    for (TImage* surface : {gTitleDrawImage, gTitleMeasureImage}) {
        TBitmap* b = surface->Picture()->Bitmap();
        b->SetPixelFormat(pf32bit);
        b->Canvas()->Brush()->SetColor(clWhite);
        b->Canvas()->Font()->SetColor(clBlack);
    }

    TFont* dialogFont = gTitleFontDialog->Font();
    s->charset = (uint32_t)dialogFont->Charset();
    memset(s->fontName, 0, sizeof s->fontName);
    snprintf(s->fontName, sizeof s->fontName, "%s", dialogFont->Name().c_str());
    s->styleBits = dialogFont->Style() & 0x0F;
    s->sizePercent = 60;
    Title_FontToCanvases(s);

    f->ScrollBar_TFS->SetMax(100);
    f->ScrollBar_TFS->SetMin(10);
    f->ScrollBar_TFS->SetPosition(60);

    for (uint32_t channel = 0; channel < TITLE_CHANNELS; channel++) {
        TLabeledEdit* e = Title_Edit(channel);
        e->Tag = (int)channel;
        e->OnChange = LabeledEdit_TitleChange;
        e->OnClick = LabeledEdit_TitleChange;
        // 60 characters, and no more than the title's 63 bytes in the
        // edit's code page.
        e->SetMaxLength(60);
        e->SetMaxBytes(TITLE_TEXT_SIZE - 1);
        e->SetImeMode(imClose);
    }
}

// --- Titles and size controls -------------------------------------------------

void Title_SetText(TTitleState* state, const char* text, uint32_t channel)
{
    if (!state || !state->settings || channel >= TITLE_CHANNELS) return;
    uint32_t count = Title_ChannelCount(state);
    if (count == 0 || count <= channel) return;
    state->previewChannel = channel;
    state->changed[channel] = 1;
    char* field = state->settings->titles[channel];
    memset(field, 0, TITLE_TEXT_SIZE);
    if (!text) return;
    // At most 63 bytes, never half a double-byte character.
    int charset = (int)Title_CharsetForLanguage(state->settings->language);
    size_t n = Vcl_AnsiFit(text, strlen(text), TITLE_TEXT_SIZE - 1, charset);
    memcpy(field, text, n);
}

void LabeledEdit_TitleChange(TObject* Sender)
{
    TLabeledEdit* e = dynamic_cast<TLabeledEdit*>(Sender);
    if (!e) return;
    AnsiString text = e->Text();
    Title_SetText(&gTitleStates[0], text.c_str(), (uint32_t)e->Tag);
}

int32_t Title_SetFontSize(int32_t value)
{
    if (value < 10 || value > 100) value = 60;
    gTitleSettings[0].sizePercent = value;
    Title_MarkAllChanged(&gTitleStates[0]);
    return value;
}

void TTavlinX::ComboBox_TFSChange(TObject*)
{
    static const int kPresets[5] = {80, 70, 60, 50, 40};
    int index = ComboBox_TFS->ItemIndex();
    if (index < 0 || index > 4) {
        ComboBox_TFS->SetItemIndex(2);
        index = 2;
    }
    Edit_TFS->SetText(std::to_string(kPresets[index]));
}

void TTavlinX::ScrollBar_TFSChange(TObject*) { Edit_TFS->SetText(std::to_string(ScrollBar_TFS->Position())); }

// A text that is not a whole number is refused as the class library's
// integer conversion does; the stored size stays.
void TTavlinX::Edit_TFSChange(TObject*)
{
    AnsiString text = Edit_TFS->Text();
    if (text.empty()) return;
    const char* p = text.c_str();
    while (*p == ' ') p++;
    char* end = nullptr;
    long v = strtol(p, &end, 10);
    if (end == p || *end != 0 || v < INT32_MIN || v > INT32_MAX)
        throw std::runtime_error("'" + text + "' is not a valid integer value");
    Title_SetFontSize((int32_t)v);
}

// --- Font and language -----------------------------------------------------------

void Title_ChooseFont()
{
    if (!gTitleFontDialog || !gTitleFontDialog->Execute()) return;
    TTitleSettings* s = &gTitleSettings[0];
    TFont* font = gTitleFontDialog->Font();
    s->charset = (uint32_t)font->Charset() & 0xFF;
    memset(s->fontName, 0, sizeof s->fontName);
    snprintf(s->fontName, sizeof s->fontName, "%s", font->Name().c_str());
    s->fontName[63] = 0;
    s->styleBits = font->Style() & 0x0F;
    Title_FontToCanvases(s);
    Title_MarkAllChanged(&gTitleStates[0]);
}

void TTavlinX::Button_TOptionClick(TObject*) { Title_ChooseFont(); }

uint32_t Title_CharsetForLanguage(uint32_t index)
{
    static const uint8_t kCharsets[TITLE_LANGUAGES] = {
        DEFAULT_CHARSET, DEFAULT_CHARSET,    TURKISH_CHARSET,    RUSSIAN_CHARSET, TURKISH_CHARSET,
        GB2312_CHARSET,  SHIFTJIS_CHARSET,   TURKISH_CHARSET,    DEFAULT_CHARSET, TURKISH_CHARSET,
        DEFAULT_CHARSET, EASTEUROPE_CHARSET, HEBREW_CHARSET,     THAI_CHARSET,    TURKISH_CHARSET,
        TURKISH_CHARSET, TURKISH_CHARSET,    VIETNAMESE_CHARSET, HANGEUL_CHARSET,
    };
    return index < TITLE_LANGUAGES ? (uint32_t)kCharsets[index] : (uint32_t)DEFAULT_CHARSET;
}

void Title_SetLanguage(TTitleSettings* settings, uint32_t index)
{
    if (!settings) return;
    uint32_t charset = Title_CharsetForLanguage(index);
    for (uint32_t channel = 0; channel < TITLE_CHANNELS; channel++)
        if (TLabeledEdit* e = Title_Edit(channel)) e->Font()->SetCharset((int)charset);
    if (gViewerForm) gViewerForm->ComboBox_Title->SetItemIndex((int)index);
    settings->language = index;
    // The canvases decode the titles in the language's code page when the
    // title font has the default set; no bitmap changes here.
    Title_FontToCanvases(settings);
}

void TTavlinX::ComboBox_TitleChange(TObject*)
{
    int index = ComboBox_Title->ItemIndex();
    Title_SetLanguage(&gTitleSettings[0], index < 0 ? 0u : (uint32_t)index);
}

static void FontFromSettings(TFont* font, TTitleSettings* s, int charset)
{
    s->fontName[63] = 0;
    font->SetCharset(charset);
    if (s->fontName[0]) font->SetName(s->fontName);
    FontFromStyleBits(font, s->styleBits);
}

void Title_FontToCanvases(TTitleSettings* s)
{
    if (!s) return;
    int charset = DrawCharset(s);
    if (gViewerForm) FontFromSettings(gViewerForm->Image_Title1->Picture()->Bitmap()->Canvas()->Font(), s, charset);
    if (gTitleDrawImage) FontFromSettings(gTitleDrawImage->Picture()->Bitmap()->Canvas()->Font(), s, charset);
    if (gTitleMeasureImage) FontFromSettings(gTitleMeasureImage->Picture()->Bitmap()->Canvas()->Font(), s, charset);
}

void Title_FontToDialog(TTitleSettings* s)
{
    if (!s || !gTitleFontDialog) return;
    FontFromSettings(gTitleFontDialog->Font(), s, (int)(s->charset & 0xFF));
}

void Title_SizeToScrollBar(TTitleSettings* s)
{
    if (!s || !gViewerForm) return;
    int32_t v = s->sizePercent;
    if (v < 10) v = 10;
    if (v > 100) v = 100;
    gViewerForm->ScrollBar_TFS->SetPosition(v);
}

void Title_ApplySettings(TTitleSettings* s)
{
    if (!s) return;
    uint32_t language = s->language < TITLE_LANGUAGES ? s->language : 0;
    // A block without a font name (a recorder's first titles) never held a
    // font: it takes the font in use, its name and its character set.
    if (!s->fontName[0] && gTitleFontDialog) {
        snprintf(s->fontName, sizeof s->fontName, "%s", gTitleFontDialog->Font()->Name().c_str());
        s->charset = (uint32_t)gTitleFontDialog->Font()->Charset() & 0xFF;
    }
    Title_FontToDialog(s);
    Title_FontToCanvases(s);
    Title_SizeToScrollBar(s);
    Title_SetLanguage(s, language);
    for (uint32_t channel = 0; channel < TITLE_CHANNELS; channel++) {
        s->titles[channel][TITLE_TEXT_SIZE - 1] = 0;
        // The edit raises its change handler, which stores the text again;
        // a copy keeps the block's bytes while that happens. A lead byte
        // left without its trail by the forced end is not shown.
        char text[TITLE_TEXT_SIZE] = {0};
        size_t n = strlen(s->titles[channel]);
        memcpy(text, s->titles[channel],
               Vcl_AnsiFit(s->titles[channel], n, n, (int)Title_CharsetForLanguage(language)));
        if (TLabeledEdit* e = Title_Edit(channel)) e->SetText(text);
    }
}

// --- The edits -------------------------------------------------------------------

void Title_FillEdits()
{
    for (uint32_t channel = 0; channel < TITLE_CHANNELS; channel++)
        if (TLabeledEdit* e = Title_Edit(channel)) e->SetText("");
}

void Title_ShowEdits(uint32_t count)
{
    for (uint32_t channel = 0; channel < TITLE_CHANNELS; channel++)
        if (TLabeledEdit* e = Title_Edit(channel)) e->SetVisible(channel < count);
}

void Title_EnableEdits(int on)
{
    TTavlinX* f = gViewerForm;
    if (!f) return;
    bool v = on != 0;
    TControl* controls[] = {f->Button_Title1, f->Button_TLoad, f->Button_TSave,  f->Button_TOption,
                            f->ComboBox_TFS,  f->Edit_TFS,     f->ScrollBar_TFS, f->ComboBox_Title};
    for (TControl* c : controls) c->SetEnabled(v);
    for (uint32_t channel = 0; channel < TITLE_CHANNELS; channel++) Title_Edit(channel)->SetEnabled(v);
}

// --- Rendering ---------------------------------------------------------------------

void Title_RenderChanged(TTitleState* state)
{
    if (!state) return;
    uint32_t n = Title_ChannelCount(state);
    for (uint32_t channel = n; channel-- > 0;) {
        if (state->changed[channel] != 1) continue;
        for (uint32_t size = 0; size < TITLE_SIZES; size++) Title_RenderSize(state, size, channel);
        state->changed[channel] = 0;
    }
}

void Title_TimerStep(uint32_t, uint32_t)
{
    Title_RenderChanged(&gTitleStates[0]);
    Title_CheckUpload(&gTitleStates[0]);
    Title_UpdateProgress();
}

void Title_MeasureInk(TTitleState* state, TImage* surface, const char* text, uint32_t size, uint32_t channel,
                      int fontSize)
{
    if (!state || !surface || size >= TITLE_SIZES || channel >= TITLE_CHANNELS) return;
    TBitmap* b = surface->Picture()->Bitmap();
    TCanvas* c = b->Canvas();
    c->Font()->SetSize(fontSize);
    int tw = c->TextWidth(text);
    int th = c->TextHeight(text);
    int inkTop = -1, inkLeft = tw / 2, inkHeight = -1, right = tw / 2;
    if (tw > 0 && th > 0) {
        b->SetPixelFormat(pf32bit);
        b->SetSize(tw, th);
        c->Brush()->SetColor(clWhite);
        c->FillRect(Rect(0, 0, tw, th));
        c->TextOut(0, 0, text);
        for (int y = 0; y < th; y++) {
            const uint32_t* row = (const uint32_t*)b->ScanLine(y);
            for (int x = 0; x < tw; x++)
                if (IsInk(row[x])) {
                    if (inkTop == -1) inkTop = y;
                    if (x < inkLeft) inkLeft = x;
                    break;
                }
        }
        for (int y = th - 1; y >= 1; y--) {
            const uint32_t* row = (const uint32_t*)b->ScanLine(y);
            for (int x = tw - 1; x >= 1; x--)
                if (IsInk(row[x])) {
                    if (inkHeight == -1) inkHeight = y - inkTop;
                    if (x > right) right = x;
                    break;
                }
        }
    }
    if (inkHeight == -1) inkHeight = th;
    int32_t* ink = state->ink[channel][size];
    ink[0] = right - inkLeft;
    ink[1] = inkHeight;
    ink[2] = inkLeft;
    ink[3] = inkTop;
}

void Title_OutlinePreview(TImage* image, uint32_t width, uint32_t height)
{
    if (!image) return;
    TBitmap* b = image->Picture()->Bitmap();
    if (b->Width() < (int)width || b->Height() < (int)height || width > 448) return;
    uint32_t above[448]; // the row above as it was before this pass
    uint32_t current[448];
    for (uint32_t y = 0; y < height; y++) {
        uint32_t* row = (uint32_t*)b->ScanLine((int)y);
        uint32_t* up = y > 0 ? (uint32_t*)b->ScanLine((int)y - 1) : nullptr;
        memcpy(current, row, width * 4);
        for (uint32_t x = 0; x < width; x++) {
            uint32_t c = current[x] & 0x00FFFFFF;
            bool white = c == kGround;
            if (x > 0 && c != (current[x - 1] & 0x00FFFFFF)) {
                if (white) row[x - 1] = 0xFF000000;
                else row[x] = 0xFF000000;
            }
            if (up && c != (above[x] & 0x00FFFFFF)) {
                if (white) up[x] = 0xFF000000;
                else row[x] = 0xFF000000;
            }
        }
        memcpy(above, current, width * 4);
    }
}

// One pixel into the accumulator; every 32nd writes the word out.
static inline void PackPixel(uint32_t ink, uint32_t& counter, uint32_t& accumulator, uint32_t*& out)
{
    if (ink) accumulator |= 1u << (counter & 31);
    counter++;
    if ((counter & 31) == 0) {
        *out = accumulator;
        out++;
        accumulator = 0;
    }
}

void Title_PackBits(uint32_t ink, uint32_t* counter, uint32_t* accumulator, uint32_t** out)
{
    PackPixel(ink, *counter, *accumulator, *out);
}

void Title_PackBitmap(TTitleState* state, TImage* surface, uint32_t channel, uint32_t size)
{
    if (!state || !surface || size >= TITLE_SIZES || channel >= TITLE_CHANNELS) return;
    uint8_t* target = state->bitmap[size][channel];
    if (!target) return;
    const TTitleSize& z = kTitleSizes[size];
    TBitmap* b = surface->Picture()->Bitmap();
    if (b->Width() < (int)z.width || b->Height() < (int)z.height) return;
    gTitleBitmaps.written[size] = true;
    // The counter, accumulator and word pointer run on from row to row.
    uint32_t counter = 0, accumulator = 0;
    uint32_t* out = (uint32_t*)target;
    for (uint32_t y = 0; y < z.height; y++) {
        const uint32_t* row = (const uint32_t*)b->ScanLine((int)y);
        uint32_t x = 0;
        // Whole words while the counter stands at a word's start.
        for (; (counter & 31) == 0 && x + 32 <= z.width; x += 32, counter += 32) {
            uint32_t pixels[32], word = 0;
            memcpy(pixels, row + x, sizeof pixels);
            for (uint32_t i = 0; i < 32; i++) word |= (uint32_t)IsInk(pixels[i]) << i;
            *out++ = word;
        }
        for (; x < z.width; x++) PackPixel(IsInk(row[x]) ? 1 : 0, counter, accumulator, out);
    }
}

void Title_RenderSize(TTitleState* state, uint32_t size, uint32_t channel)
{
    if (!state || !state->settings || size > 3 || channel > 15) return;
    TTitleSettings* s = state->settings;
    const TTitleSize& z = kTitleSizes[size];
    const int W = (int)z.width, H = (int)z.height;
    char text[TITLE_TEXT_SIZE];
    memcpy(text, s->titles[channel], sizeof text);
    text[TITLE_TEXT_SIZE - 1] = 0;
    int fontSize = 72, x = 0, y = 0;
    bool preview = size == state->previewSize && channel == state->previewChannel && gViewerForm;
    TImage* previewImage = gViewerForm ? gViewerForm->Image_Title1 : nullptr;

    if (text[0] == 0) {
        // Only the preview's own channel blanks the preview.
        if (preview) {
            TBitmap* pb = previewImage->Picture()->Bitmap();
            pb->Canvas()->Brush()->SetColor(kPreviewGround);
            pb->Canvas()->FillRect(Rect(0, 0, pb->Width(), pb->Height()));
            previewImage->Repaint();
        }
    } else if (gTitleMeasureImage) {
        TCanvas* mc = gTitleMeasureImage->Picture()->Bitmap()->Canvas();
        mc->Font()->SetSize(72);
        int h72 = mc->TextHeight(text);
        if (s->sizePercent < 10 || s->sizePercent > 100) s->sizePercent = 60;
        int target = s->sizePercent * H / 100;
        if (h72 > 0) fontSize = 72 * target / h72;
        if (fontSize < 8) fontSize = 8;
        if (fontSize > 72) fontSize = 72;
        Title_MeasureInk(state, gTitleMeasureImage, text, size, channel, fontSize);
        const int32_t* ink = state->ink[channel][size];
        x = ink[0] > W ? 0 : FloorHalf(W - ink[0]) - ink[2];
        y = FloorHalf(H - ink[1]) - ink[3];
        if (preview) {
            TBitmap* pb = previewImage->Picture()->Bitmap();
            TCanvas* pc = pb->Canvas();
            pc->Font()->SetSize(fontSize);
            pc->Brush()->SetColor(kPreviewGround);
            pc->FillRect(Rect(0, 0, W, H));
            pc->TextRect(Rect(0, 0, W, H), x, y, text);
            Title_OutlinePreview(previewImage, (uint32_t)(W < pb->Width() ? W : pb->Width()),
                                 (uint32_t)(H < pb->Height() ? H : pb->Height()));
            previewImage->Repaint();
        }
    }

    if (!gTitleDrawImage) return;
    gTitleDrawImage->SetWidth(W);
    gTitleDrawImage->SetHeight(H);
    TBitmap* db = gTitleDrawImage->Picture()->Bitmap();
    db->SetPixelFormat(pf32bit);
    db->SetSize(W, H);
    TCanvas* dc = db->Canvas();
    dc->Font()->SetSize(fontSize);
    dc->Brush()->SetColor(clWhite);
    dc->FillRect(Rect(0, 0, W, H));
    if (text[0]) dc->TextRect(Rect(0, 0, W, H), x, y, text);
    Title_PackBitmap(state, gTitleDrawImage, channel, size);
}
