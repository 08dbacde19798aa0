// The recorder's sound end to end: dvr-sim sends a 1000 Hz tone as audio
// frames, tavlin-host runs the control on a page, the user picks channel 1
// on the key panel, moves the pointer over the video and clicks the speaker
// icon, and the sound device's SDL disk driver captures what the control
// plays. The capture must be heard as 1000 Hz.
#include "tests/support/HostRun.h"
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

// The bytes from the first to the last that is not silence (0x80).
std::pair<size_t, size_t> Heard(const std::vector<uint8_t>& all)
{
    size_t first = 0;
    while (first < all.size() && all[first] == 0x80) first++;
    size_t last = all.size();
    while (last > first && all[last - 1] == 0x80) last--;
    return {first, last};
}

constexpr size_t kWanted = 8000u + 1600u; // a second to analyse and a fifth around it

TEST(AudioE2E, ToneFromTheRecorderIsPlayedAt1000Hz)
{
    HostFolder folder("tavlin-audio-e2e");
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--tone", "1000"}));
    const std::string page = folder.Path("page.html"), capture = folder.Path("capture.raw");
    ASSERT_TRUE(WritePage(page, sim.port()));

    // Channel button 1 of the key panel (panel at 676,0; button at 12,84,
    // 34 x 26) once the first picture is in; once the single channel shows
    // (button 2 no longer lit) and has played a second, the pointer over
    // the video, which shows the speaker icon (24 x 24 at 618,59: its dark
    // body at 621,68), and a click on it. The run ends once the capture
    // holds what the check below needs.
    SimSignal heard = Signal(folder, "heard", [&capture](SimProcess&) {
        std::vector<uint8_t> all;
        if (!ReadFile(capture, &all)) return false;
        std::pair<size_t, size_t> span = Heard(all);
        return span.second - span.first >= kWanted;
    });
    std::string out;
    int rc = RunHost(sim, folder,
                     HostOnPage(page, "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE='" + capture + "' TAVLIN_SOUND=sdl") +
                         " --wait-video 60000 --click 705,97,0 --wait-pixel 743,97,60000,283137"
                         " --wait-change 354,30,60000 --wait-change 354,30,60000 --move 334,243,0 --move 330,240,0"
                         " --wait-pixel 621,68,60000,3C3C3C/8 --click 630,71,0" +
                         heard.Wait() + " --run-ms 0",
                     &out, {heard});
    ASSERT_EQ(rc, 0) << out;

    std::vector<uint8_t> all;
    ASSERT_TRUE(ReadFile(capture, &all)) << out;
    const size_t first = Heard(all).first, last = Heard(all).second;
    ASSERT_GE(last - first, kWanted) << "captured " << all.size() << " bytes, " << (last - first) << " of them sound\n"
                                     << out;
    // One second from the middle of what was heard.
    size_t from = first + (last - first - 8000) / 2;
    std::vector<uint8_t> second(all.begin() + from, all.begin() + from + 8000);
    int hz = DominantFrequency(second);
    EXPECT_NEAR(1000, hz, 3);
    // A tone, not noise: the tone's power stands far above a neighbour's.
    EXPECT_GT(Power(second, hz), 100 * Power(second, 1300));
}

} // namespace
