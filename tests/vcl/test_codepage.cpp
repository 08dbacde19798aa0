// The process code page and the texts in it: the code page a locale gives,
// the environment's precedence and TAVLIN_CODEPAGE, conversions that keep
// every byte of the single-byte pages, and the edits: typing in UTF-8
// under a double-byte code page, the byte limit, and the check that the
// text shown can be written in the edit's code page.
#include "platform/vcl/CodePage.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <cstdlib>
#include <string>

namespace {

// Sets (or, for null, unsets) the locale variables and TAVLIN_CODEPAGE
// for one test and puts them back after it.
class Environment {
public:
    Environment()
    {
        for (int i = 0; i < 4; i++) {
            const char* v = getenv(kNames[i]);
            had[i] = v != nullptr;
            if (v) was[i] = v;
        }
    }
    ~Environment()
    {
        for (int i = 0; i < 4; i++) Set(kNames[i], had[i] ? was[i].c_str() : nullptr);
        Vcl_SetAnsiCodePage(0);
    }
    void Set(const char* name, const char* value)
    {
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    void Locale(const char* all, const char* ctype, const char* lang, const char* chosen = nullptr)
    {
        Set("LC_ALL", all);
        Set("LC_CTYPE", ctype);
        Set("LANG", lang);
        Set("TAVLIN_CODEPAGE", chosen);
    }

private:
    static constexpr const char* kNames[4] = {"LC_ALL", "LC_CTYPE", "LANG", "TAVLIN_CODEPAGE"};
    bool had[4] = {};
    std::string was[4];
};

TEST(CodePages, TheLocaleGivesTheCodePageOfItsCharsetElseOfItsLanguage)
{
    const struct {
        const char* locale;
        int page;
    } cases[] = {
        // charsets that decide
        {"zh_TW.BIG5", 950},
        {"zh_HK.Big5-HKSCS", 950},
        {"ja_JP.SJIS", 932},
        {"ja_JP.Shift_JIS", 932},
        {"ja_JP.eucJP", 932},
        {"zh_CN.GBK", 936},
        {"zh_CN.GB2312", 936},
        {"zh_CN.GB18030", 936},
        {"ko_KR.EUC-KR", 949},
        {"th_TH.TIS-620", 874},
        {"ru_RU.KOI8-R", 1251},
        {"uk_UA.KOI8-U", 1251},
        {"cs_CZ.ISO-8859-2", 1250},
        {"el_GR.ISO-8859-7", 1253},
        {"tr_TR.ISO-8859-9", 1254},
        {"he_IL.ISO-8859-8", 1255},
        {"de_DE.ISO-8859-1", 1252},
        {"fr_FR.ISO-8859-15@euro", 1252},
        {"de_DE.CP1250", 1250},
        {"en_US.BIG5", 950},
        // UTF-8 and no charset: the language's
        {"zh_TW.UTF-8", 950},
        {"zh_TW", 950},
        {"zh_HK.UTF-8", 950},
        {"zh_MO.utf8", 950},
        {"zh_CN.UTF-8", 936},
        {"zh_SG", 936},
        {"ja_JP.UTF-8", 932},
        {"ko_KR.UTF-8", 949},
        {"th_TH.UTF-8", 874},
        {"ru_RU.UTF-8", 1251},
        {"bg_BG", 1251},
        {"sr_RS.UTF-8", 1251},
        {"sr_RS@latin", 1250},
        {"pl_PL.UTF-8", 1250},
        {"cs_CZ", 1250},
        {"hu_HU.UTF-8", 1250},
        {"el_GR.UTF-8", 1253},
        {"tr_TR.UTF-8", 1254},
        {"he_IL.UTF-8", 1255},
        {"ar_EG.UTF-8", 1256},
        {"lt_LT.UTF-8", 1257},
        {"vi_VN.UTF-8", 1258},
        {"de_DE.UTF-8", 1252},
        {"en_US", 1252},
        {"xx_YY.ISO-8859-3", 1252},
        {"ZH_tw.utf-8", 950},
        // no language
        {"C", 1252},
        {"POSIX", 1252},
        {"C.UTF-8", 1252},
        {"", 1252},
    };
    for (const auto& c : cases) EXPECT_EQ(Vcl_CodePageOfLocale(c.locale), c.page) << c.locale;
    EXPECT_EQ(Vcl_CodePageOfLocale(nullptr), 1252);
}

TEST(CodePages, LcAllThenLcCtypeThenLangAndTavlinCodepageOverAll)
{
    Environment env;
    const struct {
        const char *all, *ctype, *lang, *chosen;
        int page;
    } cases[] = {
        {"ja_JP.UTF-8", "ko_KR.UTF-8", "zh_TW.UTF-8", nullptr, 932},
        {"", "ko_KR.UTF-8", "zh_TW.UTF-8", nullptr, 949}, // an empty variable counts as unset
        {nullptr, nullptr, "zh_TW.UTF-8", nullptr, 950},
        {nullptr, nullptr, nullptr, nullptr, 1252},
        {"C", nullptr, "zh_TW.UTF-8", nullptr, 1252},
        {"ru_RU.UTF-8", nullptr, nullptr, "950", 950},
        {nullptr, nullptr, "de_DE.UTF-8", "cp936", 936},
        {nullptr, nullptr, "de_DE.UTF-8", "CP65001", 65001},
        {nullptr, nullptr, "th_TH.UTF-8", "437", 874},  // a page we do not convert: the locale's
        {nullptr, nullptr, "th_TH.UTF-8", "big5", 874}, // not a number
        {nullptr, nullptr, "th_TH.UTF-8", "", 874},
    };
    for (const auto& c : cases) {
        env.Locale(c.all, c.ctype, c.lang, c.chosen);
        EXPECT_EQ(Vcl_SystemCodePage(), c.page) << (c.chosen ? c.chosen : "-") << " " << (c.lang ? c.lang : "-");
        // The process code page follows the environment when asked to.
        ASSERT_TRUE(Vcl_SetAnsiCodePage(0));
        EXPECT_EQ(Vcl_AnsiCodePage(), c.page);
        EXPECT_EQ(Vcl_CharsetCodePage(DEFAULT_CHARSET), c.page);
        EXPECT_EQ(Vcl_CharsetCodePage(SHIFTJIS_CHARSET), 932) << "a set with its own page keeps it";
    }
    EXPECT_FALSE(Vcl_SetAnsiCodePage(437));
    EXPECT_EQ(Vcl_AnsiCodePage(), 874);
}

TEST(CodePages, EverySingleByteComesBackAsItWentIn)
{
    std::string all;
    for (int b = 1; b < 256; b++) all += (char)b;
    for (int page : {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257}) {
        ASSERT_TRUE(Vcl_SetAnsiCodePage(page));
        std::string utf8 = Vcl_AnsiToUtf8(all.data(), all.size(), DEFAULT_CHARSET);
        std::string back = Vcl_Utf8ToAnsi(utf8.data(), utf8.size(), DEFAULT_CHARSET);
        EXPECT_EQ(back, all) << page;
    }
    ASSERT_TRUE(Vcl_SetAnsiCodePage(1252));
    EXPECT_EQ(Vcl_AnsiToUtf8("\x80\x81", 2, DEFAULT_CHARSET), "\xE2\x82\xAC\xC2\x81"); // the euro, U+0081
    Vcl_SetAnsiCodePage(0);
}

TEST(CodePages, CharactersAPageCannotWriteAreMarked)
{
    ASSERT_TRUE(Vcl_SetAnsiCodePage(1252));
    bool lossy = true;
    EXPECT_EQ(Vcl_Utf8ToAnsi("€uro", strlen("€uro"), DEFAULT_CHARSET, &lossy), "\x80uro");
    EXPECT_FALSE(lossy);
    EXPECT_EQ(Vcl_Utf8ToAnsi("łódź", strlen("łódź"), DEFAULT_CHARSET, &lossy), "?\xF3"
                                                                               "d?");
    EXPECT_TRUE(lossy);
    EXPECT_EQ(Vcl_Utf8ToAnsi("łódź", strlen("łódź"), EASTEUROPE_CHARSET, &lossy), "\xB3\xF3"
                                                                                  "d\x9F");
    EXPECT_FALSE(lossy);
    ASSERT_TRUE(Vcl_SetAnsiCodePage(950));
    const std::string big5 = Vcl_Utf8ToAnsi("大門口", strlen("大門口"), DEFAULT_CHARSET, &lossy);
    EXPECT_EQ(big5, "\xA4\x6A\xAA\xF9\xA4\x66");
    EXPECT_FALSE(lossy);
    EXPECT_EQ(Vcl_AnsiToUtf8(big5.data(), big5.size(), DEFAULT_CHARSET), "大門口");
    EXPECT_EQ(Vcl_AnsiFit(big5.data(), big5.size(), 5, DEFAULT_CHARSET), 4u) << "half a character is left out";
    Vcl_SetAnsiCodePage(0);
}

// A shown form with one edit.
struct EditStage {
    TForm form{nullptr};
    TEdit* edit;
    EditStage()
    {
        form.SetBounds(0, 0, 300, 100);
        edit = new TEdit(&form);
        edit->SetParent(&form);
        edit->SetBounds(10, 10, 200, 21);
        Vcl_ShowWindow(form.Handle(), "stage");
    }
    std::string Type(const char* utf8)
    {
        EXPECT_EQ(Vcl_TypeTextAt(form.Handle(), 20, 20, utf8), 0);
        return edit->Text();
    }
};

TEST(CodePages, TypedUtf8ArrivesInTheProcessCodePageOneCharacterAtATime)
{
    ASSERT_TRUE(Vcl_SetAnsiCodePage(950));
    EditStage s;
    std::vector<std::string> seen;
    s.edit->OnChange = [&](TObject*) { seen.push_back(s.edit->Text()); };
    EXPECT_EQ(s.Type("大門 A"), "\xA4\x6A\xAA\xF9 A");
    EXPECT_EQ(seen,
              (std::vector<std::string>{"\xA4\x6A", "\xA4\x6A\xAA\xF9", "\xA4\x6A\xAA\xF9 ", "\xA4\x6A\xAA\xF9 A"}));
    EXPECT_TRUE(s.edit->TextInCodePage());
    // A character outside the BMP is one key as well; Big5 has no place for it.
    seen.clear();
    EXPECT_EQ(s.Type("\xF0\x9F\x93\xB7"
                     "1"),
              "?1");
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_FALSE(s.edit->TextInCodePage());
    Vcl_SetAnsiCodePage(0);
}

TEST(CodePages, TypingStopsWhereTheNextCharacterWouldPassTheByteLimit)
{
    ASSERT_TRUE(Vcl_SetAnsiCodePage(950));
    EditStage s;
    s.edit->SetMaxLength(60);
    s.edit->SetMaxBytes(63);
    std::string doors;
    for (int i = 0; i < 40; i++) doors += "門";
    const struct {
        std::string typed;
        size_t bytes;
    } cases[] = {
        {"", 0},
        {std::string(70, 'a'), 60}, // the character limit
        {doors, 62},                // 31 of the 40
        {"a" + doors, 63},          // 1 + 31
        {"ab" + doors, 62},         // 2 + 30
    };
    for (const auto& c : cases) {
        std::string got = s.Type(c.typed.c_str());
        EXPECT_EQ(got.size(), c.bytes) << c.typed;
        EXPECT_EQ(Vcl_AnsiFit(got.data(), got.size(), got.size(), DEFAULT_CHARSET), got.size()) << "whole characters";
        std::string want = Vcl_Utf8ToAnsi(c.typed.data(), c.typed.size(), DEFAULT_CHARSET).substr(0, c.bytes);
        EXPECT_EQ(got, want);
    }
    // A character that does not fit is refused, a later one that fits is taken.
    EXPECT_EQ(s.Type(("ab" + doors + "cd").c_str()),
              Vcl_Utf8ToAnsi(("ab" + doors).data(), 2 + 30 * 3, DEFAULT_CHARSET) + "c");
    // Typing at the end of a full text takes nothing; code is not limited.
    s.Type("ab");
    s.edit->SetText(std::string(63, 'x'));
    EXPECT_EQ(s.edit->Text().size(), 63u);
    s.edit->SetFocus();
    Vcl_KeyPressAt(s.form.Handle(), 'y');
    EXPECT_EQ(s.edit->Text(), std::string(63, 'x'));
    // The same limit in a single-byte page holds 60 characters.
    ASSERT_TRUE(Vcl_SetAnsiCodePage(1251));
    EXPECT_EQ(s.Type(std::string(30, 'a').append("ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ").c_str()).size(), 60u);
    Vcl_SetAnsiCodePage(0);
}

TEST(CodePages, AnEditTellsWhetherItsTextFitsItsCodePage)
{
    ASSERT_TRUE(Vcl_SetAnsiCodePage(1252));
    EditStage s;
    const struct {
        const char* typed;
        int charset;
        bool fits;
    } cases[] = {
        {"secret", DEFAULT_CHARSET, true},   {"pa€€word", DEFAULT_CHARSET, true}, {"hasło", DEFAULT_CHARSET, false},
        {"hasło", EASTEUROPE_CHARSET, true}, {"пароль", DEFAULT_CHARSET, false},  {"пароль", RUSSIAN_CHARSET, true},
        {"大門", DEFAULT_CHARSET, false},    {"大門", CHINESEBIG5_CHARSET, true},
    };
    for (const auto& c : cases) {
        s.edit->Font()->SetCharset(c.charset);
        s.Type(c.typed);
        EXPECT_EQ(s.edit->TextInCodePage(), c.fits) << c.typed << " " << c.charset;
    }
    Vcl_SetAnsiCodePage(0);
}

// With its input method closed (as the setup and title edits are) an edit
// still lets the user open one; a disabled one takes none.
TEST(CodePages, AClosedInputMethodCanBeOpenedADisabledOneCannot)
{
    EditStage s;
    auto* widget = static_cast<QWidget*>(s.edit->Handle());
    s.edit->SetImeMode(imClose);
    EXPECT_TRUE(widget->testAttribute(Qt::WA_InputMethodEnabled));
    s.edit->SetImeMode(imDisable);
    EXPECT_FALSE(widget->testAttribute(Qt::WA_InputMethodEnabled));
    s.edit->SetImeMode(imOpen);
    EXPECT_TRUE(widget->testAttribute(Qt::WA_InputMethodEnabled));
}

} // namespace
