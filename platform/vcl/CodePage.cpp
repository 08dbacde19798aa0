// Code-page conversion of the class library's 8-bit texts through iconv.
#include "platform/vcl/CodePage.h"
#include "platform/vcl/Graphics.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>

const char* Vcl_CharsetCodePage(int charset)
{
    switch (charset & 0xFF) {
    case ANSI_CHARSET: return "CP1252";
    case SHIFTJIS_CHARSET: return "CP932";
    case HANGEUL_CHARSET: return "CP949";
    case JOHAB_CHARSET: return "JOHAB";
    case GB2312_CHARSET: return "CP936";
    case CHINESEBIG5_CHARSET: return "CP950";
    case GREEK_CHARSET: return "CP1253";
    case TURKISH_CHARSET: return "CP1254";
    case VIETNAMESE_CHARSET: return "CP1258";
    case HEBREW_CHARSET: return "CP1255";
    case ARABIC_CHARSET: return "CP1256";
    case BALTIC_CHARSET: return "CP1257";
    case RUSSIAN_CHARSET: return "CP1251";
    case THAI_CHARSET: return "CP874";
    case EASTEUROPE_CHARSET: return "CP1250";
    default: return Vcl_AnsiCodePageName();
    }
}

namespace {

// The code page of a set, Latin-1 when nothing else is chosen.
const char* PageOf(int charset)
{
    const char* page = Vcl_CharsetCodePage(charset);
    return page ? page : "ISO-8859-1";
}

// Converts in to out; an input byte that cannot be converted is replaced by
// `bad` and skipped. *cut (when given) gets the length of the input that
// ends on a whole character.
void Convert(const char* from, const char* to, const char* text, size_t n, const char* bad, std::string& out,
             size_t* cut)
{
    out.clear();
    if (cut) *cut = n;
    iconv_t cd = iconv_open(to, from);
    if (cd == (iconv_t)-1) {
        out.assign(text, n);
        return;
    }
    char* in = const_cast<char*>(text);
    size_t left = n;
    char buffer[256];
    while (left > 0) {
        char* o = buffer;
        size_t room = sizeof buffer;
        size_t r = iconv(cd, &in, &left, &o, &room);
        out.append(buffer, (size_t)(o - buffer));
        if (r != (size_t)-1) break;
        if (errno == E2BIG) continue;
        if (errno == EINVAL) { // a character cut off at the end
            if (cut) *cut = n - left;
            break;
        }
        out.append(bad); // EILSEQ: a character the other side does not know
        size_t skip = 1;
        if (strcmp(from, "UTF-8") == 0)
            while (skip < left && ((unsigned char)in[skip] & 0xC0) == 0x80) skip++;
        in += skip;
        left -= skip;
    }
    char* o = buffer;
    size_t room = sizeof buffer;
    iconv(cd, nullptr, nullptr, &o, &room);
    out.append(buffer, (size_t)(o - buffer));
    iconv_close(cd);
}

} // namespace

std::string Vcl_AnsiToUtf8(const char* text, size_t n, int charset)
{
    std::string out;
    Convert(PageOf(charset), "UTF-8", text, n, "\xEF\xBF\xBD", out, nullptr);
    return out;
}

std::string Vcl_Utf8ToAnsi(const char* text, size_t n, int charset)
{
    std::string out;
    Convert("UTF-8", PageOf(charset), text, n, "?", out, nullptr);
    return out;
}

size_t Vcl_AnsiFit(const char* text, size_t n, size_t max, int charset)
{
    if (!text) return 0;
    if (n > max) n = max;
    std::string ignored;
    size_t cut = n;
    Convert(PageOf(charset), "UTF-16LE", text, n, "", ignored, &cut);
    return cut;
}
