// The code pages behind the class library's 8-bit texts: each font
// character set names the Windows code page its texts are written in, and
// texts are converted to and from Unicode through the C library's iconv.
// The default character set (and the OEM, symbol and Mac sets) uses the
// process-wide choice of Vcl_SetAnsiCodePage.
#pragma once
#include <cstddef>
#include <string>

// The iconv name of a character set's code page ("CP932" for the Shift-JIS
// set), or null for the sets that follow the process-wide choice.
const char* Vcl_CharsetCodePage(int charset);
// The name the process-wide choice was given, null while texts are
// byte-transparent (Latin-1).
const char* Vcl_AnsiCodePageName();
// Text of the character set as UTF-8 and back. Bytes the code page does not
// decode become U+FFFD; characters it cannot write become '?'.
std::string Vcl_AnsiToUtf8(const char* text, size_t n, int charset);
std::string Vcl_Utf8ToAnsi(const char* text, size_t n, int charset);
// The length of the longest prefix of text (n bytes) of at most max bytes
// that ends on a whole character: a lead byte whose trail byte is cut off
// is left out.
size_t Vcl_AnsiFit(const char* text, size_t n, size_t max, int charset);
