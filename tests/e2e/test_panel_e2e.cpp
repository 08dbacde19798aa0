// The key panel as a user drives it: tavlin-host clicks on the panel's
// channel, split and page buttons, and dvr-sim's trace shows which live
// request block and which mode requests the viewer sent for them.
#include "tests/support/HostRun.h"
#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The panel image sits at the form's x 676.
const int kPanelX = 676;

std::string Click(int panelX, int panelY)
{
    return " --click " + std::to_string(kPanelX + panelX) + "," + std::to_string(panelY) + ",0";
}

// Waits until the panel's button under panelX, panelY is lit.
std::string Lit(int panelX, int panelY)
{
    return " --wait-pixel " + std::to_string(kPanelX + panelX) + "," + std::to_string(panelY) + ",60000,2B6DB1";
}

bool Blue(QRgb c) { return qBlue(c) > qRed(c) + 80; }

// The live blocks and mode requests the recorder had, in order, with the
// words of the live blocks; repeats of one request collapse.
std::vector<std::string> Sent(SimProcess& sim)
{
    sim.Collect(0);
    std::vector<std::string> sent;
    for (const std::string& l : sim.lines()) {
        std::string s;
        if (l.rfind("icmd live ", 0) == 0) s = l.substr(5);
        else if (l.rfind("icmd op=2 type=512", 0) == 0) s = "playback";
        else continue;
        if (sent.empty() || sent.back() != s) sent.push_back(s);
    }
    return sent;
}

TEST(PanelE2E, ClicksChooseChannelLayoutAndMode)
{
    HostFolder folder("tavlin-panel-e2e");
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--channels", "16"}));
    const std::string page = folder.Path("page.html"), shot = folder.Path("panel.png");
    // User level 9: all four page buttons.
    ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));

    // Channel 5, the 9-12 split, Playback, then Live again, each once the
    // one before has lit its button; the screenshot once the recorder has
    // had the last request.
    SimSignal last = Signal(folder, "live-again", [](SimProcess& s) { return Sent(s).size() >= 5; });
    std::string clicks = " --wait-video 60000" + Click(181, 97) + Lit(181, 97) + Click(118, 192) + Lit(102, 206) +
                         Click(123, 46) + Lit(92, 50) + Click(45, 46) + Lit(14, 50) + Lit(102, 206) + last.Wait();
    std::string out;
    ASSERT_EQ(
        RunHost(sim, folder, HostOnPage(page) + clicks + " --screenshot '" + shot + "' --after-ms 0", &out, {last}), 0)
        << out;

    const std::vector<std::string> expected = {
        "live layout=1 first=0 channel=0 mask=00000000", // start-up: channels 1-4
        "live layout=0 first=0 channel=4 mask=80000010", // channel 5
        "live layout=1 first=8 channel=4 mask=00000000", // split 9-12
        "playback",
        "live layout=1 first=8 channel=4 mask=00000000", // back to Live: the split again
    };
    EXPECT_EQ(Sent(sim), expected) << out;

    QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull());
    // Live and the 9-12 split are lit; Playback and channel 5 are not.
    EXPECT_TRUE(Blue(image.pixel(kPanelX + 14, 50))) << std::hex << image.pixel(kPanelX + 14, 50);
    EXPECT_FALSE(Blue(image.pixel(kPanelX + 92, 50)));
    EXPECT_TRUE(Blue(image.pixel(kPanelX + 102, 206)));
    EXPECT_TRUE(Blue(image.pixel(kPanelX + 16, 130)));   // channel 9
    EXPECT_FALSE(Blue(image.pixel(kPanelX + 168, 100))); // channel 5
}

} // namespace
