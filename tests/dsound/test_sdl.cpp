// The real device through SDL's disk driver, which writes what was played
// to a file; and the choice of device from the environment.
#include "SoundTestUtil.h"
#include "platform/win/Win.h"
#include "tests/support/Scratch.h"
#include "tests/support/Wait.h"
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

// Sets or clears an environment variable for the life of the object.
class TEnvVar {
public:
    TEnvVar(const char* name, const char* value) : FName(name)
    {
        const char* old = getenv(name);
        FHad = old != nullptr;
        if (old) FOld = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~TEnvVar()
    {
        if (FHad) setenv(FName.c_str(), FOld.c_str(), 1);
        else unsetenv(FName.c_str());
    }

private:
    std::string FName, FOld;
    bool FHad;
};

// A temporary file, removed at the end.
class TTempFile {
public:
    TTempFile()
    {
        FPath = ScratchFile("tavlin-sound");
        EXPECT_NE(FPath, "");
    }
    ~TTempFile() { unlink(FPath.c_str()); }
    const char* Path() const { return FPath.c_str(); }
    std::vector<uint8_t> Read() const
    {
        std::ifstream in(FPath, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string FPath;
};

TEST(SoundDeviceChoice, FollowsTheEnvironment)
{
    TTempFile disk;
    TEnvVar diskFile("SDL_DISKAUDIOFILE", disk.Path());
    struct Row {
        const char* tavlinSound;
        const char* sdlDriver;
        TSoundDeviceKind want;
    } rows[] = {
        {"fake", "disk", SOUND_DEVICE_FAKE},
        {"null", "disk", SOUND_DEVICE_NULL},
        {"sdl", "no-such-driver", SOUND_DEVICE_SDL},    // asked for: kept, creation then fails
        {nullptr, "disk", SOUND_DEVICE_SDL},            // an output opens: real output
        {nullptr, "no-such-driver", SOUND_DEVICE_NULL}, // none: the null device
        {"loud", "no-such-driver", SOUND_DEVICE_NULL},  // unknown word: chosen as if unset
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << (r.tavlinSound ? r.tavlinSound : "(unset)") << " " << r.sdlDriver);
        TEnvVar a("TAVLIN_SOUND", r.tavlinSound);
        TEnvVar b("SDL_AUDIODRIVER", r.sdlDriver);
        DSound_ForceDevice(SOUND_DEVICE_AUTO);
        EXPECT_EQ(r.want, DSound_DeviceKind());
        EXPECT_EQ(r.want, DSound_DeviceKind()); // kept once chosen
        if (r.want == SOUND_DEVICE_SDL && std::string(r.sdlDriver) == "no-such-driver") {
            IDirectSound* ds = (IDirectSound*)1;
            EXPECT_EQ(DSERR_NODRIVER, DirectSoundCreate(nullptr, &ds, nullptr));
            EXPECT_EQ(nullptr, ds);
        }
    }
    DSound_ForceDevice(SOUND_DEVICE_AUTO);
}

// The strongest frequency between 100 and 3,900 Hz (100 Hz steps) of
// 8000 Hz samples.
int DominantFrequency(const std::vector<uint8_t>& x)
{
    double mean = 0;
    for (uint8_t v : x) mean += v;
    mean /= x.size();
    int best = 0;
    double bestPower = -1;
    for (int f = 100; f < 4000; f += 100) {
        double re = 0, im = 0;
        for (size_t n = 0; n < x.size(); n++) {
            double a = 2 * M_PI * f * (double)n / 8000.0;
            re += (x[n] - mean) * std::cos(a);
            im -= (x[n] - mean) * std::sin(a);
        }
        double power = re * re + im * im;
        if (power > bestPower) {
            bestPower = power;
            best = f;
        }
    }
    return best;
}

// Frequency from the number of crossings of the silence level.
double CrossingFrequency(const std::vector<uint8_t>& x)
{
    int crossings = 0;
    for (size_t n = 1; n < x.size(); n++)
        if ((x[n - 1] >= 128) != (x[n] >= 128)) crossings++;
    return crossings / 2.0 / (x.size() / 8000.0);
}

TEST(SdlSound, DiskDriverRecordsWhatWasPlayed)
{
    TTempFile disk;
    TEnvVar driver("SDL_AUDIODRIVER", "disk");
    TEnvVar file("SDL_DISKAUDIOFILE", disk.Path());
    DSound_ForceDevice(SOUND_DEVICE_SDL);

    std::vector<uint8_t> wave = SquareWave1000(kLoopBytes);
    {
        TSoundPair s;
        ASSERT_EQ(DS_OK, s.Open());
        WriteAt(s.buffer, 0, wave);
        ASSERT_EQ(DS_OK, s.buffer->SetCurrentPosition(0));
        ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, DSBPLAY_LOOPING));
        // Let about half a second go by on the device's own clock (the
        // disk driver paces itself); the deadline only guards a hang.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitLimitMs);
        DWORD play = 0;
        while (play < 4000 && std::chrono::steady_clock::now() < deadline) {
            Sleep(10);
            ASSERT_EQ(DS_OK, s.buffer->GetCurrentPosition(&play, nullptr));
        }
        ASSERT_GE(play, 4000u);
        ASSERT_EQ(DS_OK, s.buffer->Stop());
        DWORD status = 1;
        ASSERT_EQ(DS_OK, s.buffer->GetStatus(&status));
        EXPECT_EQ(0u, status);
    } // released: the output is closed and the file complete

    std::vector<uint8_t> out = disk.Read();
    size_t first = 0;
    while (first < out.size() && out[first] == 0x80) first++;
    size_t last = out.size();
    while (last > first && out[last - 1] == 0x80) last--;
    std::vector<uint8_t> played(out.begin() + first, out.begin() + last);
    ASSERT_GE(played.size(), 4000u) << "file of " << out.size() << " bytes";
    // Byte for byte the loop from its start...
    for (size_t i = 0; i < played.size(); i++) ASSERT_EQ(wave[i % kLoopBytes], played[i]) << "byte " << i;
    // ...and heard as a 1000 Hz tone.
    std::vector<uint8_t> head(played.begin(), played.begin() + 4000);
    EXPECT_EQ(1000, DominantFrequency(head));
    EXPECT_NEAR(1000.0, CrossingFrequency(head), 10.0);
    DSound_ForceDevice(SOUND_DEVICE_AUTO);
}

} // namespace
