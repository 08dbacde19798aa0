// The COM server as a host uses it: registration through tavlin-host, the
// library's exports loaded at run time, and a scripted run of the control
// in tavlin-host against dvr-sim.
#include "control/TavlinIds.h"
#include "platform/com/Com.h"
#include "platform/win/Library.h"
#include "tests/support/SimProcess.h"
#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string kClass = "{6E763B03-CC89-4D06-8415-AF1DBA3A844D}";

// Runs a shell command line; its standard output and exit status.
int Shell(const std::string& command, std::string* out = nullptr)
{
    FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    int status = pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Host() { return std::string(TAVLIN_HOST_PATH); }

class HostTest : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char tmpl[] = "/tmp/tavlin-host-test-XXXXXX";
        dir = mkdtemp(tmpl);
        setenv("TAVLIN_REGISTRY", (dir + "/registry").c_str(), 1);
    }
    void TearDown() override { Shell("rm -rf '" + dir + "'"); }
};

TEST_F(HostTest, RegistersAndUnregistersTheClass)
{
    std::string out;
    ASSERT_EQ(Shell(Host() + " --register " TAVLIN_LIBRARY_PATH), 0);
    ASSERT_EQ(Shell(Host() + " --dump-registry 'CLSID\\" + kClass + "'", &out), 0);
    const std::string k = "[HKEY_CLASSES_ROOT\\CLSID\\" + kClass;
    const std::string expected = k + "]\n@=\"TavlinX Control\"\n" +
        k + "\\Control]\n@=\"\"\n" +
        k + "\\Implemented Categories]\n" +
        k + "\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}]\n@=\"\"\n" +
        k + "\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}]\n@=\"\"\n" +
        k + "\\InprocServer32]\n@=\"" TAVLIN_LIBRARY_PATH "\"\n\"ThreadingModel\"=\"Apartment\"\n" +
        k + "\\MiscStatus]\n@=\"0\"\n" +
        k + "\\MiscStatus\\1]\n@=\"131473\"\n" +
        k + "\\ProgID]\n@=\"TavlinProj1.TavlinX\"\n" +
        k + "\\ToolboxBitmap32]\n@=\"" TAVLIN_LIBRARY_PATH ",1\"\n" +
        k + "\\TypeLib]\n@=\"{197A585F-C49F-4571-804C-9F8C497FEC06}\"\n" +
        k + "\\Verb]\n@=\"\"\n" +
        k + "\\Verb\\0]\n@=\"Properties,0,2\"\n" +
        k + "\\Version]\n@=\"1.0\"\n";
    EXPECT_EQ(out, expected);
    ASSERT_EQ(Shell(Host() + " --dump-registry TavlinProj1.TavlinX", &out), 0);
    EXPECT_EQ(out, "[HKEY_CLASSES_ROOT\\TavlinProj1.TavlinX]\n@=\"TavlinX Control\"\n"
                   "[HKEY_CLASSES_ROOT\\TavlinProj1.TavlinX\\CLSID]\n@=\"" + kClass + "\"\n");

    ASSERT_EQ(Shell(Host() + " --unregister " TAVLIN_LIBRARY_PATH), 0);
    ASSERT_EQ(Shell(Host() + " --dump-registry", &out), 0);
    EXPECT_EQ(out.find(kClass + "]"), std::string::npos);
    EXPECT_EQ(out.find("TavlinProj1.TavlinX"), std::string::npos);
    EXPECT_NE(out.find("[HKEY_CLASSES_ROOT\\TypeLib\\{197A585F-C49F-4571-804C-9F8C497FEC06}\\1.0]\n"
                       "@=\"TavlinProj1 Library\""), std::string::npos);
}

TEST_F(HostTest, ExportsAnswerAsAServerMust)
{
    HMODULE lib = LoadLibrary(TAVLIN_LIBRARY_PATH);
    ASSERT_NE(lib, nullptr) << Win_LibraryError();
    auto getClassObject = (TDllGetClassObject)GetProcAddress(lib, "DllGetClassObject");
    auto canUnloadNow = (TDllCanUnloadNow)GetProcAddress(lib, "DllCanUnloadNow");
    ASSERT_TRUE(getClassObject && canUnloadNow);
    EXPECT_EQ(GetProcAddress(lib, "Viewer_Init"), nullptr); // only the four exports show

    EXPECT_EQ(canUnloadNow(), S_OK); // nothing created yet
    IClassFactory* factory = nullptr;
    EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, (void**)&factory), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(factory, nullptr);
    ASSERT_EQ(getClassObject(CLSID_TavlinX, IID_IClassFactory, (void**)&factory), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE); // a class object is held
    IUnknown* control = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, (void**)&control), S_OK);
    factory->Release();
    EXPECT_EQ(canUnloadNow(), S_FALSE); // the control lives
    control->Release();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(HostTest, PageRunsTheControlAgainstTheRecorder)
{
    ASSERT_EQ(Shell(Host() + " --register " TAVLIN_LIBRARY_PATH " >/dev/null"), 0);
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
    const std::string page = dir + "/page.html", shot = dir + "/shot.png";
    FILE* f = fopen(page.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fprintf(f,
            "<html><body><object id=\"TavlinX\" classid=\"clsid:%s\" width=1010 height=656>\n"
            "<param name=\"DVRIP\" value=\"127.0.0.1\">\n<param name=\"HTTP_PORT\" value=\"%u\">\n"
            "<param name=\"DVR_UK\" value=\"5F3A1B2C.1234.5678\">\n</object></body></html>\n",
            kClass.c_str(), (unsigned)sim.port());
    fclose(f);
    std::string out;
    ASSERT_EQ(Shell("QT_QPA_PLATFORM=offscreen systemroot='" TAVLIN_WINROOT "' " + Host() + " --page '" + page +
                      "' --screenshot '" + shot + "' --after-ms 1000 2>&1",
                  &out),
              0)
        << out;
    EXPECT_TRUE(sim.Seen("login session=0"));
    EXPECT_GE(sim.Count("poll session="), 10u);

    QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 1010);
    EXPECT_EQ(image.height(), 656);
    // The connected icon (8 x 12 at 32, 24) is lit green.
    QRgb lamp = image.pixel(35, 29);
    EXPECT_GT(qGreen(lamp), 150) << std::hex << lamp;
    EXPECT_LT(qRed(lamp), 100) << std::hex << lamp;
}

} // namespace
