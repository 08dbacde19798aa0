// The recorder's sound end to end: dvr-sim sends a 1000 Hz tone as audio
// frames, tavlin-host runs the control on a page, the user picks channel 1
// on the key panel, moves the pointer over the video and clicks the speaker
// icon, and the sound device's SDL disk driver captures what the control
// plays. The capture must be heard as 1000 Hz.
#include "tests/support/HostPage.h"
#include "tests/support/SimProcess.h"
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Power of frequency f (Hz) in 8000 Hz unsigned 8-bit samples, under a
// Hann window.
double Power(const std::vector<uint8_t>& x, double f)
{
    double re = 0, im = 0;
    const size_t n = x.size();
    for (size_t i = 0; i < n; i++) {
        double w = 0.5 - 0.5 * std::cos(2 * M_PI * (double)i / (double)(n - 1));
        double a = 2 * M_PI * f * (double)i / 8000.0;
        re += w * ((double)x[i] - 128) * std::cos(a);
        im -= w * ((double)x[i] - 128) * std::sin(a);
    }
    return re * re + im * im;
}

// The strongest frequency: 10 Hz steps over the band, then 1 Hz steps
// around the best.
int DominantFrequency(const std::vector<uint8_t>& x)
{
    int best = 0;
    double bestPower = -1;
    for (int f = 50; f < 4000; f += 10) {
        double p = Power(x, f);
        if (p > bestPower) bestPower = p, best = f;
    }
    int coarse = best;
    for (int f = coarse - 10; f <= coarse + 10; f++) {
        double p = Power(x, f);
        if (p > bestPower) bestPower = p, best = f;
    }
    return best;
}

TEST(AudioE2E, ToneFromTheRecorderIsPlayedAt1000Hz)
{
    HostFolder folder("tavlin-audio-e2e");
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--tone", "1000"}));
    const std::string page = folder.Path("page.html"), capture = folder.Path("capture.raw");
    ASSERT_TRUE(WritePage(page, sim.port()));

    // Channel button 1 of the key panel (panel at 676,0; button at 12,84,
    // 34 x 26; twice, in case the link is slow to come up), then the
    // pointer over the video, then the speaker icon (24 x 24 at 618,59).
    std::string out;
    int rc = Shell(HostOnPage(page, "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE='" + capture + "' TAVLIN_SOUND=sdl") +
                       " --click 705,97,1200 --click 705,97,1800 --move 334,243,2300 --move 330,240,2700"
                       " --click 630,71,2900 --run-ms 6000 2>&1",
                   &out);
    ASSERT_EQ(rc, 0) << out;

    std::vector<uint8_t> all;
    ASSERT_TRUE(ReadFile(capture, &all)) << out;
    size_t first = 0;
    while (first < all.size() && all[first] == 0x80) first++;
    size_t last = all.size();
    while (last > first && all[last - 1] == 0x80) last--;
    ASSERT_GE(last - first, 8000u + 1600u) << "captured " << all.size() << " bytes, " << (last - first)
                                           << " of them sound\n" << out;
    // One second from the middle of what was heard.
    size_t from = first + (last - first - 8000) / 2;
    std::vector<uint8_t> second(all.begin() + from, all.begin() + from + 8000);
    int hz = DominantFrequency(second);
    EXPECT_NEAR(1000, hz, 3);
    // A tone, not noise: the tone's power stands far above a neighbour's.
    EXPECT_GT(Power(second, hz), 100 * Power(second, 1300));
}

} // namespace
