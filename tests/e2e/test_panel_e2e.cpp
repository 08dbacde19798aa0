// The key panel as a user drives it: tavlin-host clicks on the panel's
// channel, split and page buttons, and dvr-sim's trace shows which live
// request block and which mode requests the viewer sent for them.
#include "tests/support/HostPage.h"
#include "tests/support/SimProcess.h"
#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The panel image sits at the form's x 676.
const int kPanelX = 676;

std::string Click(int panelX, int panelY, int ms)
{
    return " --click " + std::to_string(kPanelX + panelX) + "," + std::to_string(panelY) + "," + std::to_string(ms);
}

bool Blue(QRgb c) { return qBlue(c) > qRed(c) + 80; }

TEST(PanelE2E, ClicksChooseChannelLayoutAndMode)
{
    HostFolder folder("tavlin-panel-e2e");
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--channels", "16"}));
    const std::string page = folder.Path("page.html"), shot = folder.Path("panel.png");
    // User level 9: all four page buttons.
    ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));

    // Channel 5, the 9-12 split, Playback, then Live again, once the link
    // is well up (a loaded machine under the sanitizers is slow to start).
    std::string clicks = Click(181, 97, 3000) + Click(118, 192, 3400) + Click(123, 46, 3800) + Click(45, 46, 4200);
    std::string out;
    ASSERT_EQ(Shell(HostOnPage(page) + clicks + " --screenshot '" + shot + "' --after-ms 4700 2>&1",
                    &out),
              0)
        << out;
    sim.Collect(200);

    // The requests in the order they were sent, live blocks with their words.
    std::vector<std::string> sent;
    for (const std::string& l : sim.lines()) {
        if (l.rfind("icmd live ", 0) == 0) sent.push_back(l.substr(5));
        else if (l.rfind("icmd op=2 type=512", 0) == 0) sent.push_back("playback");
    }
    const std::vector<std::string> expected = {
        "live layout=1 first=0 channel=0 mask=00000000", // start-up: channels 1-4
        "live layout=0 first=0 channel=4 mask=80000010", // channel 5
        "live layout=1 first=8 channel=4 mask=00000000", // split 9-12
        "playback",
        "live layout=1 first=8 channel=4 mask=00000000", // back to Live: the split again
    };
    std::vector<std::string> got;
    for (const std::string& s : sent)
        if (got.empty() || got.back() != s) got.push_back(s); // repeats of one request collapse
    EXPECT_EQ(got, expected) << out;

    QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull());
    // Live and the 9-12 split are lit; Playback and channel 5 are not.
    EXPECT_TRUE(Blue(image.pixel(kPanelX + 14, 50))) << std::hex << image.pixel(kPanelX + 14, 50);
    EXPECT_FALSE(Blue(image.pixel(kPanelX + 92, 50)));
    EXPECT_TRUE(Blue(image.pixel(kPanelX + 102, 206)));
    EXPECT_TRUE(Blue(image.pixel(kPanelX + 16, 130))); // channel 9
    EXPECT_FALSE(Blue(image.pixel(kPanelX + 168, 100))); // channel 5
}

} // namespace
