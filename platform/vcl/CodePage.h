// The code pages behind the class library's 8-bit texts: each font
// character set names the Windows code page its texts are written in, and
// texts are converted to and from Unicode through the C library's iconv.
// The default character set (and the OEM, symbol and Mac sets) uses the
// process code page, which the system chooses from the user's locale as
// Windows does from the system locale: LC_ALL, else LC_CTYPE, else LANG;
// the charset it names (BIG5 950, SJIS 932, GBK 936, EUC-KR 949, TIS-620
// 874, KOI8-R 1251, ISO-8859-2 1250, ...), for UTF-8 or no charset the code
// page of its language (zh_TW 950, zh_CN 936, ja 932, ko 949, th 874, ru
// 1251, pl 1250, el 1253, tr 1254, he 1255, ar 1256, lt 1257, vi 1258),
// else 1252 ("C" and "POSIX" too). The environment variable
// TAVLIN_CODEPAGE ("950" or "CP950") overrides the locale when it names a
// code page listed under Vcl_CodePageKnown.
#pragma once
#include <cstddef>
#include <string>

// The code pages texts can be converted in: 874, 932, 936, 949, 950,
// 1250 to 1258, 1361 (Johab) and 65001 (UTF-8).
bool Vcl_CodePageKnown(int codePage);
// The code page a locale name ("zh_TW.UTF-8", "ja_JP.eucJP", "C") gives.
int Vcl_CodePageOfLocale(const char* locale);
// The code page the environment gives this process now (TAVLIN_CODEPAGE,
// else the locale of LC_ALL, LC_CTYPE or LANG).
int Vcl_SystemCodePage();
// The process code page: Vcl_SystemCodePage at first use, unless
// Vcl_SetAnsiCodePage chose one.
int Vcl_AnsiCodePage();
// Chooses the process code page; 0 takes the environment's again. false
// (and nothing changes) for a code page that cannot be converted.
bool Vcl_SetAnsiCodePage(int codePage);

// The code page of a font character set's texts ("932" for the Shift-JIS
// set); the sets without one of their own give the process code page.
int Vcl_CharsetCodePage(int charset);
// Text of the character set as UTF-8 and back. Bytes the code page does not
// decode become U+FFFD; characters it cannot write become '?', and *lossy
// (when given) tells whether that happened. In the single-byte code pages
// a byte that the page leaves undefined stands for a code point of its own
// (U+0080 to U+009F for 0x80 to 0x9F, as Windows reads them; U+F7A0 to
// U+F7FF above), so every byte comes back as it went in.
std::string Vcl_AnsiToUtf8(const char* text, size_t n, int charset);
std::string Vcl_Utf8ToAnsi(const char* text, size_t n, int charset, bool* lossy = nullptr);
// Appends code point cp as UTF-8 (one to four bytes); one past U+10FFFF
// appends nothing.
void Vcl_AppendUtf8(std::string& out, unsigned long cp);
// The length of the longest prefix of text (n bytes) of at most max bytes
// that ends on a whole character: a lead byte whose trail byte is cut off
// is left out.
size_t Vcl_AnsiFit(const char* text, size_t n, size_t max, int charset);
