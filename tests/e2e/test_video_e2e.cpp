// Live video end to end: tavlin-host runs the control against dvr-sim,
// which sends its test pattern as I_PCM key frames (lossless, every frame
// a key frame), here the four-way split the viewer starts on, composed on
// channel 16; the screenshot's video area must equal the pattern scaled
// from 320 x 240 to the 640 x 512 image bilinearly (12-bit positions,
// 8-bit weights, the edge sample repeated past the last), one chroma
// sample per 4 x 4 pixels, and converted with the viewer's colour
// formula in byte lanes.
#include "tests/support/HostPage.h"
#include "tests/support/ShownPattern.h"
#include "tests/support/SimProcess.h"
#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

TEST(VideoEndToEnd, ScreenshotShowsThePatternConverted)
{
    HostFolder folder("tavlin-video-e2e");
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--gop", "1"}));
    const std::string page = folder.Path("page.html"), shot = folder.Path("shot.png");
    ASSERT_TRUE(WritePage(page, sim.port()));
    // The first picture, then the time over it, which shows from the
    // fourth picture of the stream on.
    std::string out;
    ASSERT_EQ(Shell(HostOnPage(page) + " --wait-video 60000 --wait-text '354,30,60000,20*' --screenshot '" + shot +
                        "' --after-ms 0 2>&1",
                    &out),
              0)
        << out;
    QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull());
    ASSERT_GE(image.width(), kImageLeft + kImageWidth);
    ASSERT_GE(image.height(), kImageTop + kImageHeight);
    auto shown = [&](uint32_t x, uint32_t y) {
        return (uint32_t)image.pixel(kImageLeft + (int)x, kImageTop + (int)y) & 0xFFFFFF;
    };

    TPattern found{0, 0};
    bool any = FindShownPattern(shown, &found);
    ASSERT_TRUE(any) << "no pattern frame matches the video area";
    EXPECT_EQ(found.channel, kSplitChannel) << "the start-up split is shown";

    TPatternMatch m = CompareWithPattern(shown, found);
    ASSERT_FALSE(m.bad) << "pixel " << m.x << "," << m.y << ": " << std::hex << m.got << " for " << m.want;
    EXPECT_EQ(m.exact + m.near, m.compared);
    EXPECT_GE(m.exact, m.compared * 99 / 100) << m.exact << " exact of " << m.compared;
}

} // namespace
