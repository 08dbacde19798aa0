// The COM server as a host uses it: registration through tavlin-host, the
// library's exports loaded at run time, and a scripted run of the control
// in tavlin-host against dvr-sim.
#include "control/TavlinIds.h"
#include "platform/com/Com.h"
#include "platform/win/Library.h"
#include "tests/support/HostRun.h"
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
    const std::string expected =
        k + "]\n@=\"TavlinX Control\"\n" + k + "\\Control]\n@=\"\"\n" + k + "\\Implemented Categories]\n" + k +
        "\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}]\n@=\"\"\n" + k +
        "\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}]\n@=\"\"\n" + k +
        "\\InprocServer32]\n@=\"" TAVLIN_LIBRARY_PATH "\"\n\"ThreadingModel\"=\"Apartment\"\n" + k +
        "\\MiscStatus]\n@=\"0\"\n" + k + "\\MiscStatus\\1]\n@=\"131473\"\n" + k +
        "\\ProgID]\n@=\"TavlinProj1.TavlinX\"\n" + k + "\\ToolboxBitmap32]\n@=\"" TAVLIN_LIBRARY_PATH ",1\"\n" + k +
        "\\TypeLib]\n@=\"{197A585F-C49F-4571-804C-9F8C497FEC06}\"\n" + k + "\\Verb]\n@=\"\"\n" + k +
        "\\Verb\\0]\n@=\"Properties,0,2\"\n" + k + "\\Version]\n@=\"1.0\"\n";
    EXPECT_EQ(out, expected);
    ASSERT_EQ(Shell(Host() + " --dump-registry TavlinProj1.TavlinX", &out), 0);
    EXPECT_EQ(out, "[HKEY_CLASSES_ROOT\\TavlinProj1.TavlinX]\n@=\"TavlinX Control\"\n"
                   "[HKEY_CLASSES_ROOT\\TavlinProj1.TavlinX\\CLSID]\n@=\"" +
                       kClass + "\"\n");

    ASSERT_EQ(Shell(Host() + " --unregister " TAVLIN_LIBRARY_PATH), 0);
    ASSERT_EQ(Shell(Host() + " --dump-registry", &out), 0);
    EXPECT_EQ(out.find(kClass + "]"), std::string::npos);
    EXPECT_EQ(out.find("TavlinProj1.TavlinX"), std::string::npos);
    EXPECT_NE(out.find("[HKEY_CLASSES_ROOT\\TypeLib\\{197A585F-C49F-4571-804C-9F8C497FEC06}\\1.0]\n"
                       "@=\"TavlinProj1 Library\""),
              std::string::npos);
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
    // The first picture, then the clock over it moving on twice: the link
    // has gone on talking for a second and more.
    std::string out;
    ASSERT_EQ(RunHost(sim, folder,
                      HostOnPage(page) + " --wait-video 60000 --wait-change 354,30,60000 --wait-change 354,30,60000" +
                          " --screenshot '" + shot + "' --after-ms 0",
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

// The waits hold every later step back until the control shows what they
// wait for, however long the machine takes: the first picture, the time
// over the video, the PPPoE page's fields released by the recorder's
// answer, the message box Apply brings; the end (--run-ms 0) comes after
// the last of them.
TEST_F(HostTest, WaitsHoldTheStepsBackUntilTheControlShowsWhatTheyWaitFor)
{
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
    const std::string page = folder.Path("page.html"), first = folder.Path("first.png");
    ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));
    const std::string steps = " --wait-video 60000 --shot 0,'" + first + "' --wait-text '354,30,60000,20*'" +
                              " --read 354,30,0 --click 955,46,0 --click 192,55,0 --wait-enabled 298,291,60000" +
                              " --type 298,291,0,bob --click 619,527,0 --wait-msgbox '60000,Setup Successful.'" +
                              " --read 298,291,0";
    std::string out;
    ASSERT_EQ(RunHost(sim, folder, HostOnPage(page) + " --events" + steps + " --run-ms 0", &out), 0) << out;

    // The picture was there when the first wait let the shot go.
    QImage image(QString::fromStdString(first));
    ASSERT_FALSE(image.isNull());
    int lit = 0;
    for (int y = 43; y < 555; y += 8)
        for (int x = 34; x < 674; x += 8) lit += qGray(image.pixel(x, y)) > 40;
    EXPECT_GT(lit, 1000) << first;
    EXPECT_NE(out.find("text 354,30=\"20"), std::string::npos) << out;
    // Typing waited for the page's release, Apply's box came, and the read
    // after it ran.
    EXPECT_TRUE(sim.Seen("icmd pppoe flag=0 user=bob ")) << out;
    EXPECT_EQ(Count(out, "msgbox caption=\"Setup Information\" text=\"Setup Successful.\""), 1u) << out;
    EXPECT_NE(out.find("text 298,291=\"bob\""), std::string::npos) << out;
    EXPECT_EQ(out.find("nothing to type into"), std::string::npos) << out;
}

// A wait whose limit passes ends the run there with a line that names it,
// and the host fails: nothing after it runs.
TEST_F(HostTest, AWaitThatRunsOutFailsTheRun)
{
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0"}));
    const std::string page = folder.Path("page.html"), shot = folder.Path("shot.png");
    ASSERT_TRUE(WritePage(page, sim.port()));
    std::string out;
    int rc = RunHost(sim, folder,
                     HostOnPage(page) + " --wait-window '300,No Such Window' --read 354,30,0 --screenshot '" + shot +
                         "' --after-ms 0",
                     &out);
    EXPECT_NE(rc, 0) << out;
    EXPECT_NE(rc, -1) << "the host ended";
    EXPECT_NE(out.find("tavlin-host: wait for window \"No Such Window\" timed out after "), std::string::npos) << out;
    EXPECT_EQ(out.find("text 354,30"), std::string::npos) << out;
    // The screenshot still shows how the control looked then.
    EXPECT_FALSE(QImage(QString::fromStdString(shot)).isNull());

    rc = RunHost(sim, folder, HostOnPage(page) + " --wait-text '354,30,300,Nothing like this' --run-ms 0", &out);
    EXPECT_NE(rc, 0) << out;
    EXPECT_NE(out.find("tavlin-host: wait for text \"Nothing like this\" at 354,30 timed out after "),
              std::string::npos)
        << out;
}

} // namespace
