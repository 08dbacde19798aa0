// Every test program starts under code page 1252, whatever the locale of
// the machine it runs on; the programs it starts inherit it. Tests of
// other code pages choose theirs (Vcl_SetAnsiCodePage, or TAVLIN_CODEPAGE
// on a command line).
#include <cstdlib>

namespace {
struct FixedCodePage {
    FixedCodePage() { setenv("TAVLIN_CODEPAGE", "1252", 1); }
} gFixedCodePage;
} // namespace
