// Channel titles on the control's own form: the rendering into 1-bit
// bitmaps (bit order decoded by the ffmpeg tool from XBM and PBM files),
// blank titles, the centring of the ink, the size, language and edits of
// the Title page, title files (sizes, round trips, damaged and reordered
// files, failed saves), texts in the languages' code pages, and the VDTT
// module under hostile offsets and lengths. One control exists per
// process, so it is created once for all tests.
#include "control/TavlinImpl1.h"
#include "control/TavlinProj1_TLB.h"
#include "control/TavlinXImpl.h"
#include "control/Title.h"
#include "link/Bytes.h"
#include "link/Conn.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "link/Tavn.h"
#include "platform/com/Com.h"
#include "platform/vcl/CodePage.h"
#include "platform/vcl/Dialogs.h"
#include "tests/support/Scratch.h"
#include "tests/support/Shell.h"
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QWidget>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

ITavlinX* gControl = nullptr;
std::string gDir;

class ControlEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(TavlinX_Create(IID_ITavlinX, (void**)&gControl), S_OK);
        ASSERT_NE(gViewerForm, nullptr);
        gDir = ScratchDir("tavlin-title");
        ASSERT_NE(gDir, "/tmp");
    }
    void TearDown() override { Shell("rm -rf '" + gDir + "'"); }
};
::testing::Environment* const gEnv = ::testing::AddGlobalTestEnvironment(new ControlEnvironment);

TTitleState* State() { return &gTitleStates[0]; }
TTitleSettings* Settings() { return &gTitleSettings[0]; }

class Titles : public ::testing::Test {
protected:
    void SetUp() override
    {
        gHandshakeRecords[0].machine.channelCount = 16;
        Title_SetLanguage(Settings(), 0);
        Title_SetFontSize(60);
        for (uint32_t c = 0; c < TITLE_CHANNELS; c++) Title_SetText(State(), "", c);
        Title_RenderChanged(State());
        State()->busy = 0;
        State()->requestFlag = 0;
        State()->previewChannel = 0;
    }
    static void Render(uint32_t channel, const char* text)
    {
        Title_SetText(State(), text, channel);
        Title_RenderChanged(State());
    }
};

const uint8_t* Bits(uint32_t size, uint32_t channel) { return State()->bitmap[size][channel]; }

bool InkAt(uint32_t size, uint32_t channel, uint32_t x, uint32_t y)
{
    const uint8_t* b = Bits(size, channel);
    uint32_t w = kTitleSizes[size].width;
    uint32_t word;
    memcpy(&word, b + (y * w + (x & ~31u)) / 8, 4);
    return (word >> (x & 31)) & 1;
}

bool AllZero(const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (p[i]) return false;
    return true;
}

// The bounding box of the ink of a title: left, top, right, bottom (inclusive).
struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};
Box InkBox(uint32_t size, uint32_t channel)
{
    Box b;
    for (uint32_t y = 0; y < kTitleSizes[size].height; y++)
        for (uint32_t x = 0; x < kTitleSizes[size].width; x++)
            if (InkAt(size, channel, x, y)) {
                b.left = std::min(b.left, (int)x);
                b.right = std::max(b.right, (int)x);
                b.top = std::min(b.top, (int)y);
                b.bottom = std::max(b.bottom, (int)y);
            }
    return b;
}

// Pixels of a file the ffmpeg tool decodes, as 8-bit gray.
std::vector<uint8_t> DecodeGray(const std::string& path, const char* codec)
{
    std::string raw = path + ".gray";
    std::string cmd = std::string("ffmpeg -v error -y -f image2 -c:v ") + codec + " -i '" + path +
                      "' -f rawvideo -pix_fmt gray '" + raw + "' 2>&1";
    std::string out;
    EXPECT_EQ(Shell(cmd, &out), 0) << out;
    std::vector<uint8_t> pixels;
    ReadFile(raw, &pixels);
    return pixels;
}

// --- Rendering ------------------------------------------------------------------

TEST_F(Titles, PackedBitsDecodeAsTheDrawnPicture)
{
    Render(0, "Ag|W 7");
    // Size 3 was drawn last: the drawing surface still holds its picture.
    const TTitleSize& z = kTitleSizes[3];
    TBitmap* surface = gTitleDrawImage->Picture()->Bitmap();
    ASSERT_EQ(surface->Width(), (int)z.width);
    ASSERT_EQ(surface->Height(), (int)z.height);
    const uint8_t* bits = Bits(3, 0);
    ASSERT_FALSE(AllZero(bits, z.titleBytes));

    // XBM keeps bit 0 of each byte as the leftmost pixel, as the title does.
    std::string xbm = gDir + "/title.xbm";
    FILE* f = fopen(xbm.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fprintf(f, "#define t_width %u\n#define t_height %u\nstatic unsigned char t_bits[] = {\n", z.width, z.height);
    for (uint32_t i = 0; i < z.titleBytes; i++) fprintf(f, "0x%02x%s", bits[i], i + 1 < z.titleBytes ? "," : "");
    fprintf(f, "};\n");
    fclose(f);
    // PBM keeps the leftmost pixel in the highest bit: each byte reversed.
    std::string pbm = gDir + "/title.pbm";
    f = fopen(pbm.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fprintf(f, "P4\n%u %u\n", z.width, z.height);
    for (uint32_t i = 0; i < z.titleBytes; i++) {
        uint8_t r = 0;
        for (int k = 0; k < 8; k++)
            if (bits[i] & (1 << k)) r |= (uint8_t)(0x80 >> k);
        fputc(r, f);
    }
    fclose(f);

    for (auto [path, codec] : {std::pair<std::string, const char*>{xbm, "xbm"}, {pbm, "pbm"}}) {
        std::vector<uint8_t> gray = DecodeGray(path, codec);
        ASSERT_EQ(gray.size(), (size_t)z.width * z.height) << codec;
        int mismatches = 0, ink = 0;
        for (uint32_t y = 0; y < z.height; y++) {
            const uint32_t* row = (const uint32_t*)surface->ScanLine((int)y);
            for (uint32_t x = 0; x < z.width; x++) {
                bool drawn = (row[x] & 0x00FFFFFF) != 0x00FFFFFF;
                bool decoded = gray[y * z.width + x] < 128; // 1 = black in both formats
                ink += drawn;
                mismatches += drawn != decoded;
            }
        }
        EXPECT_GT(ink, 50) << codec;
        EXPECT_EQ(mismatches, 0) << codec;
    }
}

TEST_F(Titles, EmptyAndBlankTitlesGiveZeroBitmaps)
{
    for (const char* text : {"", " ", "      "}) {
        Render(2, "X");
        ASSERT_FALSE(AllZero(Bits(0, 2), kTitleSizes[0].titleBytes));
        Render(2, text);
        for (uint32_t s = 0; s < TITLE_SIZES; s++)
            EXPECT_TRUE(AllZero(Bits(s, 2), kTitleSizes[s].titleBytes)) << "'" << text << "' size " << s;
        if (text[0]) {
            const int32_t* ink = State()->ink[2][1];
            EXPECT_EQ(ink[0], 0);
            EXPECT_EQ(ink[3], -1);
            EXPECT_GT(ink[1], 0); // the text height
        }
    }
}

TEST_F(Titles, InkIsCentredInEverySize)
{
    for (const char* text : {"Lobby", "Hall 2", "gjpq", "Dock 17"}) {
        Render(1, text);
        for (uint32_t s = 0; s < TITLE_SIZES; s++) {
            const TTitleSize& z = kTitleSizes[s];
            const int32_t* ink = State()->ink[1][s];
            Box b = InkBox(s, 1);
            ASSERT_GE(b.right, 0) << text << " size " << s;
            // The measured box, drawn at the placement, lands in the middle.
            EXPECT_EQ(b.left, ((int)z.width - ink[0]) / 2) << text << " size " << s;
            EXPECT_EQ(b.right - b.left, ink[0]) << text << " size " << s;
            EXPECT_EQ(b.top, ((int)z.height - ink[1]) / 2) << text << " size " << s;
            EXPECT_EQ(b.bottom - b.top, ink[1]) << text << " size " << s;
            // Margins left and right differ by at most one pixel.
            EXPECT_LE(std::abs(b.left - ((int)z.width - 1 - b.right)), 1) << text;
        }
    }
}

TEST_F(Titles, SizePercentScalesTheText)
{
    Title_SetFontSize(30);
    Render(0, "HHHH");
    Box small = InkBox(0, 0);
    Title_SetFontSize(90);
    Title_RenderChanged(State());
    Box large = InkBox(0, 0);
    int hs = small.bottom - small.top, hl = large.bottom - large.top;
    EXPECT_GT(hl, 2 * hs);
    EXPECT_LE(hl, 56);
}

TEST_F(Titles, WideTextStartsAtTheLeftEdge)
{
    Render(3, "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW");
    Box b = InkBox(3, 3);
    EXPECT_LE(b.left, 3);
    EXPECT_GE(b.right, (int)kTitleSizes[3].width - 4);
}

TEST_F(Titles, BoldFromTheFontDialogThickensTheInk)
{
    Render(0, "Lobby");
    int plain = 0;
    for (uint32_t i = 0; i < kTitleSizes[1].titleBytes; i++) plain += __builtin_popcount(Bits(1, 0)[i]);
    Vcl_SetDialogHook([](TVclDialogRequest& r) {
        if (r.Kind != vdkFontDialog) return kVclDialogUnanswered;
        r.Font->SetStyle(fsBold);
        return 1;
    });
    Title_ChooseFont();
    Vcl_SetDialogHook(nullptr);
    EXPECT_EQ(Settings()->styleBits, 1u);
    Title_RenderChanged(State());
    int bold = 0;
    for (uint32_t i = 0; i < kTitleSizes[1].titleBytes; i++) bold += __builtin_popcount(Bits(1, 0)[i]);
    EXPECT_GT(bold, plain + plain / 10);
    Settings()->styleBits = 0;
    Title_FontToCanvases(Settings());
    Title_FontToDialog(Settings());
}

TEST_F(Titles, PreviewShowsTheLastEditedChannelOutlined)
{
    TBitmap* preview = gViewerForm->Image_Title1->Picture()->Bitmap();
    auto count = [&](uint32_t rgb) {
        int n = 0;
        for (int y = 0; y < preview->Height(); y++)
            for (int x = 0; x < preview->Width(); x++)
                n += (((const uint32_t*)preview->ScanLine(y))[x] & 0x00FFFFFF) == rgb;
        return n;
    };
    Render(4, "Gate");
    EXPECT_EQ(State()->previewChannel, 4u);
    EXPECT_GT(count(0xFFFFFF), 20); // white text
    EXPECT_GT(count(0x000000), 20); // black outline
    // An empty title of another channel leaves the preview alone...
    Title_SetText(State(), "", 7);
    State()->previewChannel = 4;
    Title_RenderChanged(State());
    EXPECT_GT(count(0xFFFFFF), 20);
    // ... and the preview's own channel blanks it.
    Render(4, "");
    EXPECT_EQ(count(0xFFFFFF), 0);
    EXPECT_EQ(count(0x000080), preview->Width() * preview->Height());
}

TEST_F(Titles, NothingIsStoredBeforeTheMachineRecordNorAboveItsChannels)
{
    gHandshakeRecords[0].machine.channelCount = 0;
    Title_SetText(State(), "early", 0);
    EXPECT_STREQ(Settings()->titles[0], "");
    EXPECT_EQ(State()->changed[0], 0u);
    gHandshakeRecords[0].machine.channelCount = 4;
    Title_SetText(State(), "five", 4);
    EXPECT_STREQ(Settings()->titles[4], "");
    gViewerForm->LabeledEdit_Title4->SetText("four");
    EXPECT_STREQ(Settings()->titles[3], "four");
    EXPECT_EQ(State()->previewChannel, 3u);
    EXPECT_EQ(State()->changed[3], 1u);
}

TEST_F(Titles, SizeControlsStoreWhatTheyMay)
{
    TTavlinX* f = gViewerForm;
    f->Edit_TFS->SetText("75");
    EXPECT_EQ(Settings()->sizePercent, 75);
    EXPECT_THROW(f->Edit_TFS->SetText("abc"), std::exception);
    EXPECT_EQ(Settings()->sizePercent, 75);
    f->Edit_TFS->SetText("5");
    EXPECT_EQ(Settings()->sizePercent, 60);
    f->Edit_TFS->SetText("101");
    EXPECT_EQ(Settings()->sizePercent, 60);
    f->ScrollBar_TFS->SetPosition(33);
    EXPECT_EQ(f->Edit_TFS->Text(), "33");
    EXPECT_EQ(Settings()->sizePercent, 33);
    struct {
        int index;
        const char* text;
    } presets[] = {{0, "80"}, {4, "40"}, {-1, "60"}};
    for (auto p : presets) {
        f->ComboBox_TFS->SetItemIndex(p.index);
        f->ComboBox_TFSChange(f->ComboBox_TFS);
        EXPECT_EQ(f->Edit_TFS->Text(), p.text) << p.index;
    }
}

TEST_F(Titles, LanguageSetsTheEditsCharacterSet)
{
    struct {
        uint32_t language;
        int shown;
        int charset;
    } cases[] = {
        {18, 18, 129}, {6, 6, 128}, {3, 3, 204}, {12, 12, 177}, {25, 0, 1},
    };
    for (auto c : cases) {
        Settings()->language = c.language;
        Title_ApplySettings(Settings());
        EXPECT_EQ(gViewerForm->ComboBox_Title->ItemIndex(), c.shown) << c.language;
        EXPECT_EQ(gViewerForm->LabeledEdit_Title9->Font()->Charset(), c.charset) << c.language;
        EXPECT_EQ(Settings()->language, (uint32_t)c.shown);
    }
    EXPECT_EQ(Title_CharsetForLanguage(19), 1u);
}

// --- Code pages ------------------------------------------------------------------------

TEST(TitleCodePages, EveryLanguagesTextRoundTripsThroughItsCodePage)
{
    // A text in each language, as UTF-8; the languages of the default set
    // use the process's code page (Latin-1 here).
    const char* samples[TITLE_LANGUAGES] = {
        "Front door", "Door",         "Cámara año", "Камера вход", "Città",        "摄像机入口", "カメラ入口",
        "Tür Straße", "Entrée",       "Ingang",     "Vchod",       "Wejście łódź", "מצלמה",      "กล้องหน้า",
        "Indgang æø", "Sisäänkäynti", "Ingång",     "Cổng",        "카메라 입구",
    };
    for (uint32_t language = 0; language < TITLE_LANGUAGES; language++) {
        int charset = (int)Title_CharsetForLanguage(language);
        const std::string utf8 = samples[language];
        if (charset == 1 && language == 1) continue; // needs a Chinese system code page
        std::string ansi = Vcl_Utf8ToAnsi(utf8.data(), utf8.size(), charset);
        EXPECT_EQ(ansi.find('?'), std::string::npos) << language;
        EXPECT_EQ(Vcl_AnsiToUtf8(ansi.data(), ansi.size(), charset), utf8) << language;
    }
}

// Each language's title, written in its code page, is drawn with the
// glyphs of its own script: two different texts of equal length give
// different bitmaps, both with ink.
TEST_F(Titles, TitlesInEveryLanguageDrawTheirOwnGlyphs)
{
    struct {
        uint32_t language;
        const char* a;
        const char* b;
    } cases[] = {
        {0, "Gate", "Yard"},     {2, "Año", "Eñe"},    {3, "Вход", "Двор"},    {5, "入口", "车库"},
        {6, "カメラ", "入口前"}, {11, "Łódź", "Wąż!"}, {12, "כניסה", "חניון"}, {13, "ประตู", "ลานจอด"},
        {17, "Cổng", "Sân"},     {18, "입구", "차고"}, {7, "Tür", "Hof"},
    };
    for (auto c : cases) {
        Title_SetLanguage(Settings(), c.language);
        int charset = (int)Title_CharsetForLanguage(c.language);
        std::vector<uint8_t> drawn[2];
        int k = 0;
        for (const char* utf8 : {c.a, c.b}) {
            std::string ansi = Vcl_Utf8ToAnsi(utf8, strlen(utf8), charset);
            ASSERT_EQ(ansi.find('?'), std::string::npos) << utf8;
            Render(8, ansi.c_str());
            drawn[k].assign(Bits(1, 8), Bits(1, 8) + kTitleSizes[1].titleBytes);
            EXPECT_FALSE(AllZero(drawn[k].data(), drawn[k].size())) << utf8;
            k++;
        }
        EXPECT_NE(drawn[0], drawn[1]) << c.a << " / " << c.b;
    }
}

TEST_F(Titles, DoubleByteTitleRoundTripsThroughTheEditAndAFile)
{
    Title_SetLanguage(Settings(), 6); // Japanese: Shift-JIS
    const std::string sjis = Vcl_Utf8ToAnsi("カメラ入口", strlen("カメラ入口"), SHIFTJIS_CHARSET);
    ASSERT_EQ(sjis.size(), 10u);
    gViewerForm->LabeledEdit_Title2->SetText(sjis);
    EXPECT_EQ(gViewerForm->LabeledEdit_Title2->Text(), sjis);
    EXPECT_EQ(std::string(Settings()->titles[1]), sjis);

    std::string path = gDir + "/sjis.vdtt";
    ASSERT_EQ(Title_SaveTo(path.c_str()), 0);
    gViewerForm->LabeledEdit_Title2->SetText("");
    ASSERT_EQ(Title_LoadFrom(path.c_str()), 0);
    EXPECT_EQ(std::string(Settings()->titles[1]), sjis);
    EXPECT_EQ(gViewerForm->LabeledEdit_Title2->Text(), sjis);
}

TEST_F(Titles, ADanglingLeadByteIsDropped)
{
    Title_SetLanguage(Settings(), 6);
    // 32 double-byte characters: 64 bytes, of which 63 fit; the 63rd is a
    // lead byte without its trail.
    std::string one = Vcl_Utf8ToAnsi("入", strlen("入"), SHIFTJIS_CHARSET);
    ASSERT_EQ(one.size(), 2u);
    std::string text;
    for (int i = 0; i < 32; i++) text += one;
    Title_SetText(State(), text.c_str(), 5);
    EXPECT_EQ(strlen(Settings()->titles[5]), 62u);
    EXPECT_EQ(std::string(Settings()->titles[5]), text.substr(0, 62));
    // In a single-byte code page all 63 bytes stay.
    Title_SetLanguage(Settings(), 3);
    Title_SetText(State(), text.c_str(), 5);
    EXPECT_EQ(strlen(Settings()->titles[5]), 63u);
    // A lone lead byte at the end of a short text goes too.
    Title_SetLanguage(Settings(), 6);
    Title_SetText(State(), (one + "\x93").c_str(), 5);
    EXPECT_EQ(std::string(Settings()->titles[5]), one);
    // A block whose title fills all 64 bytes loses its last byte when it
    // is shown, and with it the lead byte that byte completed.
    Settings()->language = 6;
    memcpy(Settings()->titles[5], text.data(), 64);
    Title_ApplySettings(Settings());
    EXPECT_EQ(gViewerForm->LabeledEdit_Title6->Text(), text.substr(0, 62));
    EXPECT_EQ(std::string(Settings()->titles[5]), text.substr(0, 62));
}

// Keys typed into an edit's own widget, one character each, as a keyboard
// (or an input method) delivers them.
void TypeInto(TCustomEdit* edit, const char* utf8)
{
    auto* w = static_cast<QWidget*>(edit->Handle());
    const QString text = QString::fromUtf8(utf8);
    for (qsizetype i = 0; i < text.size(); i++) {
        qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text.mid(i, n));
        QApplication::sendEvent(w, &press);
        i += n - 1;
    }
}

// Under a Big5 system code page (a Traditional Chinese PC) a title of the
// language that uses it is typed, stored as its Big5 bytes, drawn with ink,
// saved and loaded back byte for byte.
TEST_F(Titles, ATraditionalChineseTitleRoundTripsInBig5)
{
    ASSERT_TRUE(Vcl_SetAnsiCodePage(950));
    Title_SetLanguage(Settings(), 1); // "1 Traditional Chinese": the default set
    TLabeledEdit* e = gViewerForm->LabeledEdit_Title3;
    e->SetText("");
    TypeInto(e, "大門口攝影機");
    const std::string big5 = "\xA4\x6A\xAA\xF9\xA4\x66\xC4\xE1\xBC\x76\xBE\xF7";
    EXPECT_EQ(e->Text(), big5);
    EXPECT_EQ(std::string(Settings()->titles[2]), big5);
    Title_RenderChanged(State());
    for (uint32_t size = 0; size < TITLE_SIZES; size++)
        EXPECT_FALSE(AllZero(Bits(size, 2), kTitleSizes[size].titleBytes)) << size;
    // Each character is drawn from its own glyph: another title of as many
    // characters draws differently.
    std::vector<uint8_t> drawn(Bits(1, 2), Bits(1, 2) + kTitleSizes[1].titleBytes);
    Render(2, "\xA4\x6A\xAA\xF9\xA4\x66\xC4\xE1\xBC\x76\xA5\x78"); // 大門口攝影台
    EXPECT_NE(std::vector<uint8_t>(Bits(1, 2), Bits(1, 2) + kTitleSizes[1].titleBytes), drawn);
    // After a recorder's first block (no font, character set 0) the title
    // is drawn as before, not as Latin letters.
    memset(Settings()->fontName, 0, sizeof Settings()->fontName);
    Settings()->charset = ANSI_CHARSET;
    Title_ApplySettings(Settings());
    Render(2, big5.c_str());
    EXPECT_EQ(std::vector<uint8_t>(Bits(1, 2), Bits(1, 2) + kTitleSizes[1].titleBytes), drawn);

    const std::string path = gDir + "/big5.vdtt";
    ASSERT_EQ(Title_SaveTo(path.c_str()), 0);
    std::vector<uint8_t> saved;
    ASSERT_TRUE(ReadFile(path, &saved));
    EXPECT_EQ(std::string((const char*)saved.data() + 24 + 4 + 2 * 64), big5);
    e->SetText("");
    ASSERT_EQ(Title_LoadFrom(path.c_str()), 0);
    EXPECT_EQ(e->Text(), big5);
    EXPECT_EQ(std::string(Settings()->titles[2]), big5);
    const std::string again = gDir + "/big5-again.vdtt";
    ASSERT_EQ(Title_SaveTo(again.c_str()), 0);
    std::vector<uint8_t> second;
    ASSERT_TRUE(ReadFile(again, &second));
    EXPECT_EQ(second, saved);
    Vcl_SetAnsiCodePage(0);
}

// A title holds 63 bytes: typing stops at the character that would not
// fit them, so the edit shows exactly what is stored and drawn.
TEST_F(Titles, TitleEditsStopWhereTheTitlesBytesEnd)
{
    ASSERT_TRUE(Vcl_SetAnsiCodePage(950));
    const struct {
        uint32_t language;
        const char* character; // typed 45 times
        size_t bytes;          // what the edit then holds
    } cases[] = {
        {1, "門", 62},  // Big5 through the system code page: 31 characters
        {6, "カ", 62},  // Shift-JIS
        {5, "门", 62},  // GBK
        {18, "문", 62}, // Korean
        {13, "ก", 45},  // Thai: one byte each, all 45
        {0, "a", 45},
    };
    for (const auto& c : cases) {
        Title_SetLanguage(Settings(), c.language);
        TLabeledEdit* e = gViewerForm->LabeledEdit_Title4;
        e->SetText("");
        std::string typed;
        for (int i = 0; i < 45; i++) typed += c.character;
        TypeInto(e, typed.c_str());
        EXPECT_EQ(e->Text().size(), c.bytes) << c.language;
        EXPECT_EQ(std::string(Settings()->titles[3]), e->Text()) << c.language;
    }
    // Beyond 63 characters the 60-character limit holds in a single-byte page.
    Title_SetLanguage(Settings(), 0);
    gViewerForm->LabeledEdit_Title4->SetText("");
    TypeInto(gViewerForm->LabeledEdit_Title4, std::string(70, 'x').c_str());
    EXPECT_EQ(gViewerForm->LabeledEdit_Title4->Text(), std::string(60, 'x'));
    Vcl_SetAnsiCodePage(0);
}

// The settings carry the name of the font the titles are drawn with: the
// platform's default font at start, and it again when a block without a
// name (a recorder's first titles) is shown.
TEST_F(Titles, TheSettingsNameTheFontInUse)
{
    Title_Reset();
    const std::string name = Settings()->fontName;
    EXPECT_FALSE(name.empty());
    EXPECT_TRUE(QFontDatabase::families().contains(QString::fromStdString(name))) << name;
    EXPECT_EQ(name, gTitleFontDialog->Font()->Name());
    // A recorder's first block: no font, its character set 0 (ANSI).
    memset(Settings()->fontName, 0, sizeof Settings()->fontName);
    Settings()->charset = ANSI_CHARSET;
    Title_ApplySettings(Settings());
    EXPECT_EQ(std::string(Settings()->fontName), name);
    EXPECT_EQ(Settings()->charset, (uint32_t)DEFAULT_CHARSET) << "the set of the font in use";
    // A chosen font is named as chosen.
    Vcl_SetDialogHook([](TVclDialogRequest& r) {
        if (r.Kind != vdkFontDialog) return kVclDialogUnanswered;
        r.Font->SetName("DejaVu Serif");
        return 1;
    });
    Title_ChooseFont();
    Vcl_SetDialogHook(nullptr);
    EXPECT_STREQ(Settings()->fontName, "DejaVu Serif");
    memset(Settings()->fontName, 0, sizeof Settings()->fontName);
    Title_ApplySettings(Settings());
    EXPECT_STREQ(Settings()->fontName, "DejaVu Serif");
    Title_Reset();
    Title_ApplySettings(Settings());
}

// The reset (between two fuzz inputs) leaves no ink in any size, whether a
// rendering or a title file's load put it there, and after a reset that
// found nothing to clear.
TEST_F(Titles, TheResetLeavesNoInkOfARenderingOrALoad)
{
    auto inkless = [] {
        for (uint32_t s = 0; s < TITLE_SIZES; s++)
            if (!AllZero(gTitleBitmaps.area[s], 2 * kTitleSizes[s].setBytes)) return false;
        return true;
    };
    // The upload's checksum, every byte of the settings and the bitmap sets added.
    auto byteSum = [] {
        uint32_t sum = 0;
        const uint8_t* settings = (const uint8_t*)Settings();
        for (uint32_t i = 0; i < TITLE_SETTINGS_SIZE; i++) sum += settings[i];
        for (uint32_t s = 0; s < TITLE_SIZES; s++)
            for (uint32_t i = 0; i < kTitleSizes[s].setBytes; i++) sum += Bits(s, 0)[i];
        return sum;
    };
    Render(0, "Lobby");
    std::string path = gDir + "/reset.vdtt";
    ASSERT_EQ(Title_SaveTo(path.c_str()), 0);
    std::vector<uint8_t> file;
    ASSERT_TRUE(ReadFile(path, &file));
    ASSERT_FALSE(inkless());
    EXPECT_EQ(Title_UploadChecksum(), byteSum()) << "with ink";
    Title_Reset();
    EXPECT_TRUE(inkless()) << "rendered";
    EXPECT_EQ(Title_UploadChecksum(), byteSum()) << "rendered";
    Title_Reset();
    EXPECT_TRUE(inkless()) << "reset twice";
    EXPECT_EQ(Title_UploadChecksum(), byteSum()) << "reset twice";
    ASSERT_EQ(Title_LoadFromBytes(file.data(), file.size()), 0);
    ASSERT_FALSE(inkless());
    Title_Reset();
    EXPECT_TRUE(inkless()) << "loaded";
    EXPECT_EQ(Title_UploadChecksum(), byteSum()) << "loaded";
    Render(3, "Gate");
    ASSERT_FALSE(inkless());
    Title_Reset();
    EXPECT_TRUE(inkless()) << "rendered after a reset";
    EXPECT_EQ(Title_UploadChecksum(), byteSum()) << "rendered after a reset";
}

// --- Title files ---------------------------------------------------------------------

std::vector<uint8_t> Snapshot()
{
    std::vector<uint8_t> v((const uint8_t*)Settings(), (const uint8_t*)Settings() + TITLE_SETTINGS_SIZE);
    for (uint32_t s = 0; s < TITLE_SIZES; s++) v.insert(v.end(), Bits(s, 0), Bits(s, 0) + kTitleSizes[s].setBytes);
    return v;
}

void PutU32(std::vector<uint8_t>& v, size_t at, uint32_t x) { ::PutU32(v.data() + at, x); }
uint32_t GetU32(const std::vector<uint8_t>& v, size_t at) { return ::GetU32(v.data() + at); }
void Write(const std::string& path, const std::vector<uint8_t>& v)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fwrite(v.data(), 1, v.size(), f);
    fclose(f);
}

class TitleFiles : public Titles {
protected:
    void SetUp() override
    {
        Titles::SetUp();
        Render(0, "Lobby");
        Render(1, "Yard");
        Render(15, "Back");
        path = gDir + "/titles.vdtt";
        ASSERT_EQ(Title_SaveTo(path.c_str()), 0);
        ASSERT_TRUE(ReadFile(path, &file));
        saved = Snapshot();
    }
    // Changes every block so that a load shows what it took.
    void Scramble()
    {
        Render(0, "Other");
        Render(1, "");
        Render(15, "Z");
        for (uint32_t s = 0; s < TITLE_SIZES; s++) memset(State()->bitmap[s][0] + 8, 0x5A, 16);
        before = Snapshot();
    }
    bool Same(size_t at, size_t n, const std::vector<uint8_t>& want)
    {
        std::vector<uint8_t> now = Snapshot();
        return memcmp(now.data() + at, want.data() + at, n) == 0;
    }
    std::string path;
    std::vector<uint8_t> file, saved, before;
};

TEST_F(TitleFiles, SavedFileHasTheExactLayoutAndLoadsBackIdentical)
{
    ASSERT_EQ(file.size(), 115648u);
    EXPECT_EQ(Title_FileLength(), 115648u);
    EXPECT_EQ(GetU32(file, 0), 115648u);
    EXPECT_EQ(memcmp(file.data() + 4, "VDTT", 4), 0);
    EXPECT_EQ(GetU32(file, 8), 0x01000003u);
    EXPECT_EQ(GetU32(file, 12), 5u);
    struct {
        size_t head;
        uint32_t id, length;
    } sections[] = {{16, 16, 1168}, {1184, 1, 50184}, {51368, 2, 30984}, {82352, 3, 20744}, {103096, 4, 12552}};
    size_t data = 0;
    for (auto s : sections) {
        EXPECT_EQ(GetU32(file, s.head), s.length);
        EXPECT_EQ(GetU32(file, s.head + 4), s.id);
        EXPECT_EQ(memcmp(file.data() + s.head + 8, saved.data() + data, s.length - 8), 0) << s.id;
        data += s.length - 8;
    }
    Scramble();
    ASSERT_EQ(Title_LoadFrom(path.c_str()), 0);
    EXPECT_EQ(Snapshot(), saved);
    EXPECT_EQ(gViewerForm->LabeledEdit_Title1->Text(), "Lobby");
    for (uint32_t c = 0; c < TITLE_CHANNELS; c++) EXPECT_EQ(State()->changed[c], 1u);
}

TEST_F(TitleFiles, MagicAndVersionDecide)
{
    struct {
        const char* magic;
        uint32_t version;
        bool loads;
    } cases[] = {{"vdtt", 0x01000003, true}, {"VDTT", 0x01000002, false}, {"VDTX", 0x01000003, false}};
    for (auto c : cases) {
        std::vector<uint8_t> v = file;
        memcpy(v.data() + 4, c.magic, 4);
        PutU32(v, 8, c.version);
        Write(path + ".m", v);
        Scramble();
        EXPECT_EQ(Title_LoadFrom((path + ".m").c_str()), c.loads ? 0 : -1) << c.magic;
        EXPECT_EQ(Snapshot(), c.loads ? saved : before) << c.magic;
    }
}

TEST_F(TitleFiles, ASectionOfTheWrongLengthEndsTheLoad)
{
    std::vector<uint8_t> v = file;
    PutU32(v, 51368, 30000 + 8);
    Write(path + ".l", v);
    Scramble();
    ASSERT_EQ(Title_LoadFrom((path + ".l").c_str()), 0);
    EXPECT_TRUE(Same(0, 1160 + 50176, saved));               // settings and size 0 taken
    EXPECT_TRUE(Same(51336, 30976 + 20736 + 12544, before)); // sizes 1 to 3 kept
}

TEST_F(TitleFiles, ATruncatedFileTakesOnlyWholeSections)
{
    for (size_t cut : {(size_t)16 + 8 + 600, (size_t)1192 + 20000, (size_t)115647}) {
        std::vector<uint8_t> v(file.begin(), file.begin() + (long)cut);
        Write(path + ".t", v);
        Scramble();
        ASSERT_EQ(Title_LoadFrom((path + ".t").c_str()), 0) << cut;
        // Blocks fully inside the file are loaded; the cut one keeps its bytes.
        size_t blockStart[6] = {24, 1192, 51376, 82360, 103104, 115648};
        size_t data = 0;
        for (int b = 0; b < 5; b++) {
            size_t n = blockStart[b + 1] - blockStart[b] - (b < 4 ? 8 : 0);
            bool whole = blockStart[b] + n <= cut;
            // The settings block is shown through the edits after a load,
            // which writes its titles back; the bitmaps are compared whole.
            if (b > 0) EXPECT_TRUE(Same(data, n, whole ? saved : before)) << cut << " block " << b;
            else EXPECT_STREQ(Settings()->titles[0], whole ? "Lobby" : "Other") << cut;
            data += n;
        }
    }
}

TEST_F(TitleFiles, SectionsLoadInAnyOrder)
{
    // Section 1 (size 0) before section 16.
    std::vector<uint8_t> v(file.begin(), file.begin() + 16);
    v.insert(v.end(), file.begin() + 1184, file.begin() + 51368);
    v.insert(v.end(), file.begin() + 16, file.begin() + 1184);
    v.insert(v.end(), file.begin() + 51368, file.end());
    ASSERT_EQ(v.size(), file.size());
    Write(path + ".o", v);
    Scramble();
    ASSERT_EQ(Title_LoadFrom((path + ".o").c_str()), 0);
    EXPECT_EQ(Snapshot(), saved);
}

TEST_F(TitleFiles, LoadingFromBytesTakesWhatLoadingTheFileTakes)
{
    auto variant = [&](auto change) {
        std::vector<uint8_t> v = file;
        change(v);
        return v;
    };
    std::vector<std::vector<uint8_t>> cases = {
        file,
        variant([](std::vector<uint8_t>& v) { v.resize(16 + 8 + 600); }),
        variant([](std::vector<uint8_t>& v) { v.resize(1192 + 20000); }),
        variant([](std::vector<uint8_t>& v) { v.resize(16); }),
        variant([](std::vector<uint8_t>& v) { memcpy(v.data() + 4, "vdtt", 4); }),
        variant([](std::vector<uint8_t>& v) { memcpy(v.data() + 4, "VDTX", 4); }),
        variant([](std::vector<uint8_t>& v) { PutU32(v, 51368, 30000 + 8); }),
        // An unknown section passed over, then one whose length runs past the end.
        variant([](std::vector<uint8_t>& v) { PutU32(v, 1184 + 4, 9); }),
        variant([](std::vector<uint8_t>& v) { PutU32(v, 1184 + 4, 9), PutU32(v, 1184, 0xFFFFFFF0u); }),
        variant([](std::vector<uint8_t>& v) { PutU32(v, 12, 0xFFFFFFFFu), PutU32(v, 0, 0xFFFFFFFFu); }),
    };
    for (size_t k = 0; k < cases.size(); k++) {
        Write(path + ".b", cases[k]);
        Scramble();
        int fromFile = Title_LoadFrom((path + ".b").c_str());
        std::vector<uint8_t> tookFile = Snapshot();
        Scramble();
        int fromBytes = Title_LoadFromBytes(cases[k].data(), cases[k].size());
        EXPECT_EQ(fromBytes, fromFile) << k;
        EXPECT_EQ(Snapshot(), tookFile) << k;
    }
    // Fewer bytes than the head: nothing is taken.
    for (size_t n : {(size_t)0, (size_t)1, (size_t)15}) {
        Scramble();
        EXPECT_EQ(Title_LoadFromBytes(file.data(), n), -1) << n;
        EXPECT_EQ(Snapshot(), before) << n;
    }
    EXPECT_EQ(Title_LoadFromBytes(nullptr, 100), -1);
}

TEST_F(TitleFiles, ResetReturnsTheStartUpBlocksAndState)
{
    Title_Reset();
    std::vector<uint8_t> start = Snapshot();
    ASSERT_EQ(Title_LoadFrom(path.c_str()), 0);
    ASSERT_NE(Snapshot(), start);
    Title_StartUpload(0);
    State()->requestFlag = 1;
    Title_Reset();
    EXPECT_EQ(Snapshot(), start);
    for (uint32_t s = 0; s < TITLE_SIZES; s++)
        for (size_t i = 0; i < kTitleSizes[s].setBytes; i++) ASSERT_EQ(Bits(s, 0)[i], 0) << s << " " << i;
    EXPECT_EQ(State()->busy, 0u);
    EXPECT_EQ(State()->requestFlag, 0u);
    EXPECT_EQ(State()->uploadTotal, 0u);
    for (uint32_t c = 0; c < TITLE_CHANNELS; c++) EXPECT_EQ(State()->changed[c], 0u);
    EXPECT_EQ(State()->settings, Settings());
    EXPECT_EQ(State()->bitmap[0][1], State()->bitmap[0][0] + kTitleSizes[0].titleBytes);
    // The page takes what a load brings after a reset as before it.
    ASSERT_EQ(Title_LoadFrom(path.c_str()), 0);
    EXPECT_EQ(Snapshot(), saved);
}

TEST_F(TitleFiles, SaveAndLoadGoThroughTheirDialogs)
{
    std::string chosen = gDir + "/chosen.vdtt";
    Vcl_SetDialogHook([chosen](TVclDialogRequest& r) {
        if (r.Kind != vdkSaveDialog && r.Kind != vdkOpenDialog) return kVclDialogUnanswered;
        r.FileName = chosen;
        return 1;
    });
    gViewerForm->Button_TSave->Click();
    std::vector<uint8_t> written;
    ASSERT_TRUE(ReadFile(chosen, &written));
    EXPECT_EQ(written, file);
    Scramble();
    gViewerForm->Button_TLoad->Click();
    EXPECT_EQ(Snapshot(), saved);
    Vcl_SetDialogHook([](TVclDialogRequest&) { return 0; }); // cancelled
    Scramble();
    gViewerForm->Button_TLoad->Click();
    EXPECT_EQ(Snapshot(), before);
    Vcl_SetDialogHook(nullptr);
}

// Runs body in a child process whose files may grow to 40,000 bytes only
// (so a save's writes fail); the child's exit status, -1 when it did not
// end on its own.
int WithSmallFiles(const std::function<int()>& body)
{
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {40000, 40000};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A save that fails over an existing file keeps that file whole, leaves
// no other file beside it and says so.
TEST_F(TitleFiles, AFailedSaveKeepsTheOldFileAndSaysSo)
{
    const std::string folder = gDir + "/keep";
    ASSERT_EQ(Shell("rm -rf '" + folder + "' && mkdir '" + folder + "'"), 0);
    const std::string kept = folder + "/kept.vdtt";
    ASSERT_EQ(Title_SaveTo(kept.c_str()), 0);
    Scramble();
    EXPECT_EQ(WithSmallFiles([&] {
                  std::string said;
                  Vcl_SetDialogHook([&](TVclDialogRequest& r) {
                      if (r.Kind == vdkSaveDialog) {
                          r.FileName = kept;
                          return 1;
                      }
                      if (r.Kind == vdkMessageBox) said = r.Text;
                      return (int)IDOK;
                  });
                  gViewerForm->Button_TSave->Click();
                  bool direct = Title_SaveTo(kept.c_str()) == -1;
                  return !direct                                                ? 3
                         : said.find("could not be saved") == std::string::npos ? 4
                         : said.find("kept as it was") == std::string::npos     ? 5
                                                                                : 0;
              }),
              0);
    std::vector<uint8_t> now;
    ASSERT_TRUE(ReadFile(kept, &now));
    EXPECT_EQ(now, file) << "the old file is whole";
    std::string listing;
    Shell("ls -A '" + folder + "'", &listing);
    EXPECT_EQ(listing, "kept.vdtt\n");
    // A save that works replaces it, and keeps what the file's owner allowed.
    ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
    ASSERT_EQ(Title_SaveTo(kept.c_str()), 0);
    ASSERT_TRUE(ReadFile(kept, &now));
    EXPECT_NE(now, file);
    struct stat st;
    ASSERT_EQ(stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // Through a link the file it names is replaced; the link stays.
    const std::string link = folder + "/link.vdtt";
    ASSERT_EQ(symlink(kept.c_str(), link.c_str()), 0);
    Render(0, "Linked");
    ASSERT_EQ(Title_SaveTo(link.c_str()), 0);
    struct stat lst;
    ASSERT_EQ(lstat(link.c_str(), &lst), 0);
    EXPECT_TRUE(S_ISLNK(lst.st_mode));
    std::vector<uint8_t> viaLink;
    ASSERT_TRUE(ReadFile(kept, &viaLink));
    EXPECT_STREQ((const char*)viaLink.data() + 28, "Linked");
}

TEST_F(TitleFiles, AFailedSaveLeavesNoFile)
{
    std::string partial = gDir + "/partial.vdtt";
    EXPECT_EQ(WithSmallFiles([&] {
                  int r = Title_SaveTo(partial.c_str());
                  return r == -1 && access(partial.c_str(), F_OK) != 0 ? 0 : 3;
              }),
              0);
    EXPECT_NE(access(partial.c_str(), F_OK), 0);
    EXPECT_EQ(Title_SaveTo((gDir + "/no/such/folder.vdtt").c_str()), -1);
}

} // namespace
