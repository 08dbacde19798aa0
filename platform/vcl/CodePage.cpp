// Code pages of the class library's 8-bit texts: the process code page
// chosen from the locale, the code pages of the font character sets, and
// the conversions through iconv.
#include "platform/vcl/CodePage.h"
#include "platform/vcl/Graphics.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <mutex>

// --- Which code page -----------------------------------------------------------

namespace {

struct PageName {
    int page;
    const char* iconv;
    bool singleByte;
};
const PageName kPages[] = {
    {874, "CP874", true},   {932, "CP932", false},  {936, "CP936", false},  {949, "CP949", false},
    {950, "CP950", false},  {1250, "CP1250", true}, {1251, "CP1251", true}, {1252, "CP1252", true},
    {1253, "CP1253", true}, {1254, "CP1254", true}, {1255, "CP1255", true}, {1256, "CP1256", true},
    {1257, "CP1257", true}, {1258, "CP1258", true}, {1361, "JOHAB", false}, {65001, "UTF-8", false},
};

const PageName* FindPage(int page)
{
    for (const PageName& p : kPages)
        if (p.page == page) return &p;
    return nullptr;
}

// Upper case without '-', '_' and '.': "eucJP" "EUCJP", "ISO-8859-2" "ISO88592".
std::string Squeeze(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '-' || c == '_' || c == '.') continue;
        out += (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
    }
    return out;
}

// The code page of a codeset name, 0 when it does not decide one (UTF-8,
// ASCII or a name not known here).
int PageOfCodeset(const std::string& codeset)
{
    static const struct {
        const char* name;
        int page;
    } kCodesets[] = {
        {"BIG5", 950},       {"BIG5HKSCS", 950},  {"EUCTW", 950},     {"SJIS", 932},       {"SHIFTJIS", 932},
        {"MS932", 932},      {"WINDOWS31J", 932}, {"EUCJP", 932},     {"GBK", 936},        {"GB2312", 936},
        {"GB18030", 936},    {"EUCCN", 936},      {"EUCKR", 949},     {"UHC", 949},        {"JOHAB", 1361},
        {"TIS620", 874},     {"ISO885911", 874},  {"KOI8R", 1251},    {"KOI8U", 1251},     {"ISO88595", 1251},
        {"ISO88592", 1250},  {"ISO88597", 1253},  {"ISO88599", 1254}, {"ISO88598", 1255},  {"ISO88596", 1256},
        {"ISO885913", 1257}, {"ISO88594", 1257},  {"ISO88591", 1252}, {"ISO885915", 1252},
    };
    std::string s = Squeeze(codeset);
    if (s.empty()) return 0;
    for (const auto& c : kCodesets)
        if (s == c.name) return c.page;
    // "CP1251", "WINDOWS1251", "IBM874"
    for (const char* prefix : {"CP", "WINDOWS", "IBM", "MS"}) {
        size_t n = strlen(prefix);
        if (s.compare(0, n, prefix) != 0 || s.size() == n || s.size() > n + 5) continue;
        bool digits = true;
        for (size_t i = n; i < s.size(); i++) digits = digits && s[i] >= '0' && s[i] <= '9';
        int page = digits ? atoi(s.c_str() + n) : 0;
        if (page != 65001 && FindPage(page)) return page;
    }
    return 0;
}

// The code page Windows gives a system of this language (lower case) and
// territory (upper case); 1252 for the languages of Western Europe, the
// Americas and all not listed.
int PageOfLanguage(const std::string& language, const std::string& territory, const std::string& modifier)
{
    if (language == "zh") return territory == "TW" || territory == "HK" || territory == "MO" ? 950 : 936;
    if (language == "sr") return modifier == "latin" ? 1250 : 1251;
    static const struct {
        const char* language;
        int page;
    } kLanguages[] = {
        {"ja", 932},  {"ko", 949},  {"th", 874},  {"vi", 1258}, {"ru", 1251}, {"uk", 1251}, {"be", 1251},
        {"bg", 1251}, {"mk", 1251}, {"kk", 1251}, {"ky", 1251}, {"tt", 1251}, {"mn", 1251}, {"pl", 1250},
        {"cs", 1250}, {"sk", 1250}, {"hu", 1250}, {"sl", 1250}, {"hr", 1250}, {"ro", 1250}, {"sq", 1250},
        {"bs", 1250}, {"el", 1253}, {"tr", 1254}, {"az", 1254}, {"uz", 1254}, {"he", 1255}, {"yi", 1255},
        {"ar", 1256}, {"fa", 1256}, {"ur", 1256}, {"lt", 1257}, {"lv", 1257}, {"et", 1257},
    };
    for (const auto& l : kLanguages)
        if (language == l.language) return l.page;
    return 1252;
}

int ParsePageNumber(const char* text)
{
    if (!text) return 0;
    if ((text[0] == 'c' || text[0] == 'C') && (text[1] == 'p' || text[1] == 'P')) text += 2;
    if (!*text || strlen(text) > 5) return 0;
    for (const char* p = text; *p; p++)
        if (*p < '0' || *p > '9') return 0;
    int page = atoi(text);
    return Vcl_CodePageKnown(page) ? page : 0;
}

std::atomic<int> gAnsiPage{0}; // 0: not chosen yet

} // namespace

bool Vcl_CodePageKnown(int codePage) { return FindPage(codePage) != nullptr; }

int Vcl_CodePageOfLocale(const char* locale)
{
    if (!locale || !*locale) return 1252;
    // language[_territory][.codeset][@modifier]
    std::string s = locale, codeset, modifier, territory;
    size_t at = s.find('@');
    if (at != std::string::npos) modifier = s.substr(at + 1), s.erase(at);
    size_t dot = s.find('.');
    if (dot != std::string::npos) codeset = s.substr(dot + 1), s.erase(dot);
    size_t bar = s.find('_');
    if (bar != std::string::npos) territory = s.substr(bar + 1), s.erase(bar);
    for (char& c : s) c = (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
    for (char& c : territory) c = (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
    if (s == "c" || s == "posix") return 1252;
    int page = PageOfCodeset(codeset);
    return page ? page : PageOfLanguage(s, territory, modifier);
}

int Vcl_SystemCodePage()
{
    int chosen = ParsePageNumber(getenv("TAVLIN_CODEPAGE"));
    if (chosen) return chosen;
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = getenv(name);
        if (v && *v) return Vcl_CodePageOfLocale(v);
    }
    return 1252;
}

int Vcl_AnsiCodePage()
{
    int page = gAnsiPage.load();
    if (page == 0) {
        page = Vcl_SystemCodePage();
        int none = 0;
        if (!gAnsiPage.compare_exchange_strong(none, page)) page = none;
    }
    return page;
}

bool Vcl_SetAnsiCodePage(int codePage)
{
    if (codePage == 0) codePage = Vcl_SystemCodePage();
    if (!Vcl_CodePageKnown(codePage)) return false;
    gAnsiPage = codePage;
    return true;
}

int Vcl_CharsetCodePage(int charset)
{
    switch (charset & 0xFF) {
    case ANSI_CHARSET: return 1252;
    case SHIFTJIS_CHARSET: return 932;
    case HANGEUL_CHARSET: return 949;
    case JOHAB_CHARSET: return 1361;
    case GB2312_CHARSET: return 936;
    case CHINESEBIG5_CHARSET: return 950;
    case GREEK_CHARSET: return 1253;
    case TURKISH_CHARSET: return 1254;
    case VIETNAMESE_CHARSET: return 1258;
    case HEBREW_CHARSET: return 1255;
    case ARABIC_CHARSET: return 1256;
    case BALTIC_CHARSET: return 1257;
    case RUSSIAN_CHARSET: return 1251;
    case THAI_CHARSET: return 874;
    case EASTEUROPE_CHARSET: return 1250;
    default: return Vcl_AnsiCodePage();
    }
}

// --- Conversion ------------------------------------------------------------------

namespace {

// Open descriptors, one per code page and direction, kept for the process.
struct Converter {
    int page;
    bool toUtf8;
    iconv_t cd;
    uint64_t undefined[2]; // single-byte pages: bit b set when byte 0x80 + b is no character
};
std::mutex gConvertLock;
Converter gConverters[24];
int gConverterCount = 0;

// Sets bit b of undefined[] for each byte 0x80 + b that is not a character
// of the page.
void FindUndefined(const char* name, uint64_t undefined[2])
{
    undefined[0] = undefined[1] = 0;
    iconv_t cd = iconv_open("UTF-8", name);
    if (cd == (iconv_t)-1) return;
    for (int b = 0; b < 128; b++) {
        char byte = (char)(0x80 + b), out[16];
        char *in = &byte, *o = out;
        size_t left = 1, room = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &in, &left, &o, &room) == (size_t)-1) undefined[b >> 6] |= 1ull << (b & 63);
    }
    iconv_close(cd);
}

// A byte of a single-byte page that is no character stands for a code
// point of its own: U+0080 to U+009F for 0x80 to 0x9F (as Windows reads
// them), a private-use code point U+F700 + byte above.
long StandInOf(unsigned char byte) { return byte < 0xA0 ? byte : 0xF700 + byte; }
int ByteOfStandIn(long cp)
{
    if (cp >= 0x80 && cp < 0xA0) return (int)cp;
    if (cp >= 0xF7A0 && cp <= 0xF7FF) return (int)(cp - 0xF700);
    return -1;
}
bool Undefined(const uint64_t undefined[2], int byte)
{
    return byte >= 0x80 && byte <= 0xFF && (undefined[(byte - 0x80) >> 6] >> ((byte - 0x80) & 63) & 1);
}

// Called with gConvertLock held; null when iconv has no such page.
Converter* ConverterOf(int page, bool toUtf8)
{
    for (int i = 0; i < gConverterCount; i++)
        if (gConverters[i].page == page && gConverters[i].toUtf8 == toUtf8) return &gConverters[i];
    const PageName* p = FindPage(page);
    if (!p || gConverterCount == (int)(sizeof gConverters / sizeof gConverters[0])) return nullptr;
    iconv_t cd = toUtf8 ? iconv_open("UTF-8", p->iconv) : iconv_open(p->iconv, "UTF-8");
    if (cd == (iconv_t)-1) return nullptr;
    Converter& c = gConverters[gConverterCount++];
    c.page = page;
    c.toUtf8 = toUtf8;
    c.cd = cd;
    c.undefined[0] = c.undefined[1] = 0;
    if (p->singleByte) FindUndefined(p->iconv, c.undefined);
    return &c;
}

// The code point of the UTF-8 sequence at p (left bytes) and its length in
// *n; -1 for a broken sequence, whose length then takes its stray
// continuation bytes along.
long DecodeUtf8(const unsigned char* p, size_t left, size_t* n)
{
    *n = 1;
    if (p[0] < 0x80) return p[0];
    int more = (p[0] & 0xE0) == 0xC0 ? 1 : (p[0] & 0xF0) == 0xE0 ? 2 : (p[0] & 0xF8) == 0xF0 ? 3 : -1;
    long cp = more < 0 ? 0 : p[0] & (0x3F >> more);
    bool whole = more > 0 && (size_t)more < left;
    for (int i = 1; whole && i <= more; i++) {
        whole = (p[i] & 0xC0) == 0x80;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (whole) {
        *n = (size_t)more + 1;
        return cp;
    }
    while (*n < left && (p[*n] & 0xC0) == 0x80) (*n)++;
    return -1;
}

// Converts n bytes of text between the page and UTF-8. A sequence that
// cannot be converted is replaced by `bad` (and *lossy set); *cut (when
// given) gets the length of the input that ends on a whole character.
void Convert(int page, bool toUtf8, const char* text, size_t n, const char* bad, std::string& out, size_t* cut,
             bool* lossy)
{
    out.clear();
    if (cut) *cut = n;
    if (lossy) *lossy = false;
    // Plain ASCII is the same in every page.
    size_t ascii = 0;
    while (ascii < n && (unsigned char)text[ascii] < 0x80) ascii++;
    if (ascii == n) {
        out.assign(text, n);
        return;
    }
    std::lock_guard<std::mutex> hold(gConvertLock);
    Converter* c = ConverterOf(page, toUtf8);
    if (!c) {
        out.assign(text, n);
        return;
    }
    iconv(c->cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text);
    size_t left = n;
    char buffer[256];
    while (left > 0) {
        char* o = buffer;
        size_t room = sizeof buffer;
        size_t r = iconv(c->cd, &in, &left, &o, &room);
        out.append(buffer, (size_t)(o - buffer));
        if (r != (size_t)-1) break;
        if (errno == E2BIG) continue;
        if (errno == EINVAL) { // a character cut off at the end
            if (cut) *cut = n - left;
            break;
        }
        // EILSEQ: a character the other side does not know. What the
        // converter holds back (a letter waiting for its points) goes first.
        o = buffer;
        room = sizeof buffer;
        iconv(c->cd, nullptr, nullptr, &o, &room);
        out.append(buffer, (size_t)(o - buffer));
        const unsigned char* u = (const unsigned char*)in;
        size_t skip = 1;
        if (toUtf8) {
            if (Undefined(c->undefined, u[0])) {
                Vcl_AppendUtf8(out, (unsigned long)StandInOf(u[0]));
            } else {
                out += bad;
                if (lossy) *lossy = true;
            }
        } else {
            int byte = ByteOfStandIn(DecodeUtf8(u, left, &skip));
            if (Undefined(c->undefined, byte)) {
                out += (char)byte;
            } else {
                out += bad;
                if (lossy) *lossy = true;
            }
        }
        in += skip;
        left -= skip;
    }
    char* o = buffer;
    size_t room = sizeof buffer;
    iconv(c->cd, nullptr, nullptr, &o, &room);
    out.append(buffer, (size_t)(o - buffer));
}

} // namespace

std::string Vcl_AnsiToUtf8(const char* text, size_t n, int charset)
{
    std::string out;
    if (!text) return out;
    Convert(Vcl_CharsetCodePage(charset), true, text, n, "\xEF\xBF\xBD", out, nullptr, nullptr);
    return out;
}

std::string Vcl_Utf8ToAnsi(const char* text, size_t n, int charset, bool* lossy)
{
    std::string out;
    if (lossy) *lossy = false;
    if (!text) return out;
    Convert(Vcl_CharsetCodePage(charset), false, text, n, "?", out, nullptr, lossy);
    return out;
}

size_t Vcl_AnsiFit(const char* text, size_t n, size_t max, int charset)
{
    if (!text) return 0;
    if (n > max) n = max;
    std::string ignored;
    size_t cut = n;
    Convert(Vcl_CharsetCodePage(charset), true, text, n, "", ignored, &cut, nullptr);
    return cut;
}

void Vcl_AppendUtf8(std::string& out, unsigned long cp)
{
    if (cp < 0x80) {
        out += (char)cp;
    } else if (cp < 0x800) {
        out += (char)(0xC0 | (cp >> 6));
        out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += (char)(0xE0 | (cp >> 12));
        out += (char)(0x80 | ((cp >> 6) & 0x3F));
        out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x110000) {
        out += (char)(0xF0 | (cp >> 18));
        out += (char)(0x80 | ((cp >> 12) & 0x3F));
        out += (char)(0x80 | ((cp >> 6) & 0x3F));
        out += (char)(0x80 | (cp & 0x3F));
    }
}
