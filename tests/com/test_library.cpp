// Run-time loading, against the C library that every program has loaded,
// and finding a module's own file.
#include "platform/win/Library.h"
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

TEST(Library, LoadsAndFindsExports)
{
    HMODULE libc = LoadLibrary("libc.so.6");
    ASSERT_NE(libc, nullptr) << Win_LibraryError();
    typedef size_t (*TStrlen)(const char*);
    TStrlen fn = reinterpret_cast<TStrlen>(GetProcAddress(libc, "strlen"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn("seven c"), 7u);
    EXPECT_EQ(Win_LibraryError(), "");
    EXPECT_EQ(GetProcAddress(libc, "NoSuchExport_Tavlin"), nullptr);
    EXPECT_NE(Win_LibraryError(), "");

    char path[4096];
    DWORD n = GetModuleFileName(libc, path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(strlen(path), n);
    EXPECT_EQ(path[0], '/');
    EXPECT_TRUE(std::filesystem::exists(path));
    // The file found from an address inside it is the same.
    EXPECT_EQ(Win_ModuleFileName(reinterpret_cast<const void*>(fn)), path);
    char cut[4];
    EXPECT_EQ(GetModuleFileName(libc, cut, sizeof cut), 3u);
    EXPECT_EQ(strlen(cut), 3u);
    EXPECT_TRUE(FreeLibrary(libc));
}

TEST(Library, ReportsWhatIsMissing)
{
    EXPECT_EQ(LoadLibrary("/nonexistent/libTavlinNothing.so"), nullptr);
    EXPECT_NE(Win_LibraryError().find("libTavlinNothing"), std::string::npos);
    EXPECT_EQ(LoadLibrary(""), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "x"), nullptr);
    EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(Library, TheProgramsOwnFile)
{
    static int insideThisProgram;
    std::string self = Win_ModuleFileName(&insideThisProgram);
    EXPECT_EQ(self, std::filesystem::canonical("/proc/self/exe").string());
    char path[4096];
    EXPECT_EQ(GetModuleFileName(nullptr, path, sizeof path), self.size());
    EXPECT_EQ(path, self);
    EXPECT_EQ(Win_ModuleFileName(nullptr), "");
}

} // namespace
