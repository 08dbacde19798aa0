// The file-backed registry, each test on its own file named by
// TAVLIN_REGISTRY: keys and values, case, deletion, the dump, the file
// shared with another process, and files that are not a registry.
#include "platform/com/ComTypes.h"
#include "platform/com/Registry.h"
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int serial = 0;
        dir = fs::temp_directory_path() / ("tavlin-reg-" + std::to_string(getpid()) + "-" + std::to_string(serial++));
        fs::remove_all(dir);
        // The file sits in directories that do not exist yet.
        file = dir / "sub" / "registry";
        setenv("TAVLIN_REGISTRY", file.c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("TAVLIN_REGISTRY");
        fs::remove_all(dir);
    }
    std::string FileText() const
    {
        std::ifstream in(file);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void WriteFile(const std::string& text) const
    {
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    fs::path dir, file;
};

LONG SetText(HKEY key, const char* name, const char* text)
{
    return RegSetValueEx(key, name, 0, REG_SZ, (const BYTE*)text, (DWORD)strlen(text) + 1);
}

std::string QueryText(HKEY key, const char* name, LONG* result = nullptr)
{
    char buf[256];
    DWORD size = sizeof buf, type = 0;
    LONG r = RegQueryValueEx(key, name, nullptr, &type, (BYTE*)buf, &size);
    if (result) *result = r;
    if (r != ERROR_SUCCESS) return "<" + std::to_string(r) + ">";
    EXPECT_EQ(type, REG_SZ);
    return std::string(buf, size ? size - 1 : 0);
}

TEST_F(Registry, CreateSetAndQuery)
{
    EXPECT_EQ(Registry_FilePath(), file.string());
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "CLSID\\{6E763B03-CC89-4D06-8415-AF1DBA3A844D}", 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_TRUE(fs::exists(file));
    ASSERT_EQ(SetText(key, "", "TavlinX Control"), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, "Note", "second"), ERROR_SUCCESS);

    // Size first, then a buffer too small, then one that fits.
    DWORD size = 0, type = 0;
    ASSERT_EQ(RegQueryValueEx(key, nullptr, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 16u);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueEx(key, "", nullptr, nullptr, (BYTE*)small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 16u);
    EXPECT_EQ(QueryText(key, nullptr), "TavlinX Control");
    EXPECT_EQ(QueryText(key, "note"), "second");
    LONG r;
    QueryText(key, "Missing", &r);
    EXPECT_EQ(r, ERROR_FILE_NOT_FOUND);

    // Replacing a value; a text is kept up to its NUL.
    const char withNul[] = "one\0two";
    ASSERT_EQ(RegSetValueEx(key, "Note", 0, REG_SZ, (const BYTE*)withNul, sizeof withNul), ERROR_SUCCESS);
    EXPECT_EQ(QueryText(key, "Note"), "one");

    HKEY again = nullptr;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "CLSID\\{6E763B03-CC89-4D06-8415-AF1DBA3A844D}", 0, nullptr, 0,
                             KEY_READ, nullptr, &again, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(RegCloseKey(again), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, NamesIgnoreCase)
{
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, "TavlinProj1.TavlinX\\CLSID", nullptr,
                               "{6E763B03-CC89-4D06-8415-AF1DBA3A844D}"),
              ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "tavlinproj1.TAVLINX\\clsid", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(QueryText(key, ""), "{6E763B03-CC89-4D06-8415-AF1DBA3A844D}");
    RegCloseKey(key);
    // The stored spelling stays the first one.
    ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "TAVLINPROJ1.TAVLINX", &key), ERROR_SUCCESS);
    char name[64];
    ASSERT_EQ(RegEnumKey(key, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "CLSID");
    RegCloseKey(key);
    ASSERT_EQ(RegEnumKey(HKEY_CLASSES_ROOT, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "TavlinProj1.TavlinX");

    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(u"TAVLINPROJ1.tavlinx", &clsid), S_OK);
    EXPECT_EQ(Guid_ToText(clsid), "{6E763B03-CC89-4D06-8415-AF1DBA3A844D}");
    EXPECT_EQ(CLSIDFromString(u"TavlinProj1.TavlinX", &clsid), S_OK);
    EXPECT_EQ(CLSIDFromProgID(u"Nothing.Here", &clsid), CO_E_CLASSSTRING);
}

TEST_F(Registry, EnumeratesInNameOrder)
{
    for (const char* k : {"b", "A", "c", "B2"})
        ASSERT_EQ(Registry_SetText(HKEY_CURRENT_USER, k, "", ""), ERROR_SUCCESS);
    std::vector<std::string> names;
    char name[8];
    LONG r;
    for (DWORD i = 0; (r = RegEnumKey(HKEY_CURRENT_USER, i, name, sizeof name)) == ERROR_SUCCESS; i++)
        names.push_back(name);
    EXPECT_EQ(r, ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(names, (std::vector<std::string>{"A", "b", "B2", "c"}));
    EXPECT_EQ(RegEnumKey(HKEY_CURRENT_USER, 2, name, 2), ERROR_MORE_DATA);

    HKEY key;
    ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "Values", &key), ERROR_SUCCESS);
    DWORD answer = 42;
    ASSERT_EQ(RegSetValueEx(key, "Zeta", 0, REG_DWORD, (const BYTE*)&answer, 4), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, "alpha", "a"), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, nullptr, "default"), ERROR_SUCCESS);
    std::vector<std::string> values;
    for (DWORD i = 0;; i++) {
        char vn[16];
        DWORD cch = sizeof vn, type = 0;
        BYTE data[16];
        DWORD cb = sizeof data;
        if (RegEnumValue(key, i, vn, &cch, nullptr, &type, data, &cb) != ERROR_SUCCESS) break;
        EXPECT_EQ(cch, strlen(vn));
        values.push_back(std::string(vn) + ":" + std::to_string(type) + ":" + std::to_string(cb));
    }
    EXPECT_EQ(values, (std::vector<std::string>{":1:8", "alpha:1:2", "Zeta:4:4"}));
    DWORD back = 0, size = sizeof back;
    ASSERT_EQ(RegQueryValueEx(key, "zeta", nullptr, nullptr, (BYTE*)&back, &size), ERROR_SUCCESS);
    EXPECT_EQ(back, 42u);
    RegCloseKey(key);
}

TEST_F(Registry, DeletesKeysValuesAndTrees)
{
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, "Top\\Mid\\Leaf", "v", "1"), ERROR_SUCCESS);
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, "Top\\Other", "", "2"), ERROR_SUCCESS);
    HKEY leaf;
    ASSERT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "top\\mid\\leaf", &leaf), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteValue(leaf, "V"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(leaf, "v"), ERROR_FILE_NOT_FOUND);
    // A key with subkeys is refused; the tree call takes it all.
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "Top\\Mid"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "Top\\Other"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "Top\\Other"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "TOP"), ERROR_SUCCESS);
    HKEY gone;
    EXPECT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "Top", &gone), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "Top"), ERROR_FILE_NOT_FOUND);
    // The open handle now names a deleted key.
    EXPECT_EQ(SetText(leaf, "v", "x"), ERROR_KEY_DELETED);
    LONG r;
    QueryText(leaf, "v", &r);
    EXPECT_EQ(r, ERROR_KEY_DELETED);
    RegCloseKey(leaf);
    EXPECT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Registry_Dump(HKEY_CLASSES_ROOT, ""), "[HKEY_CLASSES_ROOT]\n");

    // A tree call on a handle with no subkey empties the key, keeping it.
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, "Box\\In", "a", "1"), ERROR_SUCCESS);
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, "Box", "b", "2"), ERROR_SUCCESS);
    HKEY box;
    ASSERT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "Box", &box), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTree(box, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(Registry_Dump(HKEY_CLASSES_ROOT, "Box"), "[HKEY_CLASSES_ROOT\\Box]\n");
    RegCloseKey(box);
}

TEST_F(Registry, HandlesAndAccess)
{
    HKEY key;
    ASSERT_EQ(RegCreateKey(HKEY_CURRENT_USER, "Software\\Tavlin", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Tavlin", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(SetText(key, "x", "y"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValue(key, "x"), ERROR_ACCESS_DENIED);
    HKEY sub;
    EXPECT_EQ(RegCreateKey(key, "Sub", &sub), ERROR_ACCESS_DENIED);
    RegCloseKey(key);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\Nothing", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    int notAKey = 0;
    EXPECT_EQ(SetText((HKEY)&notAKey, "x", "y"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey((HKEY)&notAKey), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCreateKey(HKEY_CURRENT_USER, std::string(256, 'k').c_str(), &key), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, DumpIsSortedAndReadable)
{
    const char* clsid = "CLSID\\{6E763B03-CC89-4D06-8415-AF1DBA3A844D}";
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, clsid, nullptr, "TavlinX Control"), ERROR_SUCCESS);
    std::string path = std::string(clsid) + "\\InprocServer32";
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, path.c_str(), "ThreadingModel", "Apartment"), ERROR_SUCCESS);
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, path.c_str(), "", "/opt/lib/libTavlinProj1.so"), ERROR_SUCCESS);
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, (std::string(clsid) + "\\Control").c_str(), nullptr, ""),
              ERROR_SUCCESS);
    ASSERT_EQ(
        Registry_SetText(HKEY_CLASSES_ROOT, (std::string(clsid) + "\\Verb\\0").c_str(), nullptr, "Properties,0,2"),
        ERROR_SUCCESS);
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, "TavlinProj1.TavlinX", "", "TavlinX Control"), ERROR_SUCCESS);
    EXPECT_EQ(Registry_Dump(HKEY_CLASSES_ROOT, "clsid\\{6E763B03-CC89-4D06-8415-AF1DBA3A844D}"),
              "[HKEY_CLASSES_ROOT\\CLSID\\{6E763B03-CC89-4D06-8415-AF1DBA3A844D}]\n"
              "@=\"TavlinX Control\"\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{6E763B03-CC89-4D06-8415-AF1DBA3A844D}\\Control]\n"
              "@=\"\"\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{6E763B03-CC89-4D06-8415-AF1DBA3A844D}\\InprocServer32]\n"
              "@=\"/opt/lib/libTavlinProj1.so\"\n"
              "\"ThreadingModel\"=\"Apartment\"\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{6E763B03-CC89-4D06-8415-AF1DBA3A844D}\\Verb]\n"
              "[HKEY_CLASSES_ROOT\\CLSID\\{6E763B03-CC89-4D06-8415-AF1DBA3A844D}\\Verb\\0]\n"
              "@=\"Properties,0,2\"\n");
    EXPECT_EQ(Registry_Dump(HKEY_CLASSES_ROOT, "CLSID\\{00000000-0000-0000-0000-000000000000}"), "");
    // The file holds the same sections under its header.
    EXPECT_EQ(FileText(), "TAVLIN-REGISTRY 1\n"
                          "[HKEY_CLASSES_ROOT\\CLSID]\n" +
                              Registry_Dump(HKEY_CLASSES_ROOT, clsid) +
                              "[HKEY_CLASSES_ROOT\\TavlinProj1.TavlinX]\n@=\"TavlinX Control\"\n");
    // A dump through an open handle names the key in full.
    HKEY key;
    ASSERT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "CLSID", &key), ERROR_SUCCESS);
    EXPECT_EQ(Registry_Dump(key, "{6E763B03-CC89-4D06-8415-AF1DBA3A844D}\\Verb\\0"),
              "[HKEY_CLASSES_ROOT\\CLSID\\{6E763B03-CC89-4D06-8415-AF1DBA3A844D}\\Verb\\0]\n"
              "@=\"Properties,0,2\"\n");
    RegCloseKey(key);
}

TEST_F(Registry, AwkwardTextsSurviveTheFile)
{
    struct Case {
        const char* key;
        const char* name;
        std::string text;
    } cases[] = {
        {"Esc", "quote\"and\\slash", "line one\nline two\r\n\ttab"},
        {"Esc", "ctrl", std::string("bell\x07 del\x7F end")},
        {"Esc", "utf8",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
        {"Pct%41\x01Key", "v", "[HKEY_CLASSES_ROOT\\Injected]"},
        {"Esc", "=at@", "\"=\"\n[HKEY_CURRENT_USER]\n\"x\"=\"y\""},
    };
    for (const Case& c : cases)
        ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, c.key, c.name, c.text), ERROR_SUCCESS) << c.name;
    // Every line of the file is a header, a section or a value.
    std::stringstream lines(FileText());
    std::string line;
    int sections = 0;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] == '[') {
            sections++;
        } else if (line != "TAVLIN-REGISTRY 1") {
            EXPECT_EQ(line[0], '"') << line;
        }
    }
    EXPECT_EQ(sections, 2);
    for (const Case& c : cases) {
        std::string back;
        ASSERT_EQ(Registry_GetText(HKEY_CLASSES_ROOT, c.key, c.name, &back), ERROR_SUCCESS) << c.name;
        EXPECT_EQ(back, c.text) << c.name;
    }
    HKEY key;
    EXPECT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "Injected", &key), ERROR_FILE_NOT_FOUND);
    char name[32];
    ASSERT_EQ(RegEnumKey(HKEY_CLASSES_ROOT, 1, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Pct%41\x01Key");
}

TEST_F(Registry, AnotherProcessSeesTheWrites)
{
    // A child process writes; this one reads the file afresh.
    EXPECT_EXIT(
        {
            LONG r = Registry_SetText(HKEY_CLASSES_ROOT, "FromChild", "", "written in the child");
            exit(r == ERROR_SUCCESS ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    std::string text;
    ASSERT_EQ(Registry_GetText(HKEY_CLASSES_ROOT, "fromchild", "", &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "written in the child");

    // This one deletes and writes; a child checks what it finds.
    ASSERT_EQ(RegDeleteKey(HKEY_CLASSES_ROOT, "FromChild"), ERROR_SUCCESS);
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, "FromParent\\Deep", "n", "v"), ERROR_SUCCESS);
    EXPECT_EXIT(
        {
            std::string t;
            HKEY k;
            bool ok = Registry_GetText(HKEY_CLASSES_ROOT, "FromParent\\Deep", "N", &t) == ERROR_SUCCESS && t == "v" &&
                      RegOpenKey(HKEY_CLASSES_ROOT, "FromChild", &k) == ERROR_FILE_NOT_FOUND;
            exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Registry, CorruptFilesCountAsEmpty)
{
    const std::string good = "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Good]\n@=\"yes\"\n";
    const std::string cases[] = {
        "garbage",
        "[HKEY_CLASSES_ROOT\\Good]\n@=\"no header\"\n",
        "TAVLIN-REGISTRY 1\n[HKEY_NOWHERE\\Good]\n",
        "TAVLIN-REGISTRY 1\n@=\"before any section\"\n",
        "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Good]\n\"a\"=\"unterminated\n",
        "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Good]\n\"a\"=dword:123\n",
        "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Good]\n\"a\"=hex(3):0\n",
        "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Good]\n\"a\"=hex(3):01,\n",
        "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Good]\n\"a\"=\"bad \\q escape\"\n",
        "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Good]\n\"a\"=\"nul \\x00\"\n",
        "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Go%4]\n",
        "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\\\]\n",
        "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Good\n",
        "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Good]\n\"a\"=str(4):\"x\"\n",
        "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Good]\n\"a\"=hex(99999999999):01\n",
        std::string("TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Go") + '\0' + "od]\n",
        good.substr(0, good.size() - 3), // cut inside the last value
    };
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        WriteFile(text);
        HKEY key;
        EXPECT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "Good", &key), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(Registry_Dump(HKEY_CLASSES_ROOT, nullptr), "[HKEY_CLASSES_ROOT]\n");
    }
    // The next change starts afresh and keeps the unreadable file aside.
    WriteFile("garbage");
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, "Fresh", "", "1"), ERROR_SUCCESS);
    EXPECT_EQ(FileText(), "TAVLIN-REGISTRY 1\n[HKEY_CLASSES_ROOT\\Fresh]\n@=\"1\"\n");
    std::ifstream aside(file.string() + ".corrupt");
    std::string kept((std::istreambuf_iterator<char>(aside)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "garbage");

    // A good file reads, comments and blank lines included.
    WriteFile("TAVLIN-REGISTRY 1\n; a comment\n\n[HKEY_CLASSES_ROOT\\Good]\n@=\"yes\"\n\"n\"=dword:0000002A\n"
              "\"b\"=hex(3):01,FF\n\"e\"=str(2):\"%PATH%\"\n");
    std::string text;
    ASSERT_EQ(Registry_GetText(HKEY_CLASSES_ROOT, "Good", nullptr, &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "yes");
    ASSERT_EQ(Registry_GetText(HKEY_CLASSES_ROOT, "Good", "e", &text), ERROR_SUCCESS);
    EXPECT_EQ(text, "%PATH%");
    EXPECT_EQ(Registry_GetText(HKEY_CLASSES_ROOT, "Good", "n", &text), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Registry_Dump(HKEY_CLASSES_ROOT, "Good"),
              "[HKEY_CLASSES_ROOT\\Good]\n@=\"yes\"\n\"b\"=hex(3):01,FF\n\"e\"=str(2):\"%PATH%\"\n"
              "\"n\"=dword:0000002A\n");
}

TEST_F(Registry, AFileThatCannotBeWrittenFailsTheChange)
{
    fs::create_directories(file); // a directory where the file should be
    EXPECT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, "X", "", "1"), ERROR_CANTWRITE);
    EXPECT_EQ(Registry_Dump(HKEY_CLASSES_ROOT, "X"), "");
}

TEST_F(Registry, WithoutALockFileOnlyChangesFail)
{
    ASSERT_EQ(Registry_SetText(HKEY_CLASSES_ROOT, "Kept", "", "1"), ERROR_SUCCESS);
    fs::remove(file.string() + ".lock");
    fs::create_directories(file.string() + ".lock"); // the lock file cannot be opened
    HKEY key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyEx(HKEY_CLASSES_ROOT, "kept", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(SetText(key, "", "1"), ERROR_SUCCESS); // the same value again
    EXPECT_EQ(SetText(key, "", "2"), ERROR_CANTWRITE);
    EXPECT_EQ(QueryText(key, ""), "1");
    RegCloseKey(key);
}

} // namespace
