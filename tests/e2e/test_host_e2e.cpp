// The COM server as a host uses it: registration through tavlin-host, the
// library's exports loaded at run time, and a scripted run of the control
// in tavlin-host against dvr-sim.
#include "control/TavlinIds.h"
#include "platform/com/Com.h"
#include "platform/win/Library.h"
#include "tests/support/HostPage.h"
#include "tests/support/SimProcess.h"
#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Host() { return std::string(TAVLIN_HOST_PATH); }

const std::string kClass = kTavlinClassId;

class HostTest : public ::testing::Test {
protected:
    HostFolder folder{"tavlin-host-test"};
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
    // The form, its timer and its sockets live on inside the library: it
    // must stay loaded.
    EXPECT_EQ(canUnloadNow(), S_FALSE);
}

TEST_F(HostTest, PageRunsTheControlAgainstTheRecorder)
{
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
    const std::string page = folder.Path("page.html"), shot = folder.Path("shot.png");
    ASSERT_TRUE(WritePage(page, sim.port()));
    std::string out;
    ASSERT_EQ(Shell(HostOnPage(page) + " --screenshot '" + shot + "' --after-ms 1000 2>&1", &out), 0) << out;
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
