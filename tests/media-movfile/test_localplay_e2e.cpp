// Local playback as a user meets it: in tavlin-host on dvr-sim, the Backup
// page's OPEN MOVIE button runs the movie dialog (answered with the path),
// the movie tavlin-mov wrote from dvr-sim's frames plays in mode 4 with its
// own time on the time label, the recorder is told of the mode, a file
// whose watermark record was altered plays with a warning on the form,
// and a movie that ffmpeg wrote is refused with a message box.
#include "panel/Month.h"
#include "tests/support/HostRun.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const int kPanelX = 676;
const uint32_t kStart = 850000000;

std::string Click(int panelX, int panelY)
{
    return " --click " + std::to_string(kPanelX + panelX) + "," + std::to_string(panelY) + ",0";
}

std::string TimeText(uint32_t t)
{
    TDateParts d;
    Date_FromSeconds(t, &d);
    char s[48];
    snprintf(s, sizeof s, "%04u/%02u/%02u %02u:%02u:%02u", d.year, d.month, d.day, d.hour, d.minute, d.second);
    return s;
}

// The texts --read printed for x,y, in order.
std::vector<std::string> Reads(const std::string& out, const std::string& xy)
{
    std::vector<std::string> texts;
    std::string key = "text " + xy + "=\"";
    for (size_t at = out.find(key); at != std::string::npos; at = out.find(key, at + 1)) {
        size_t from = at + key.size(), to = out.find('"', from);
        texts.push_back(out.substr(from, to - from));
    }
    return texts;
}

class LocalPlayE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(RegisterControl());
        dir_ = folder_.Path("");
        mov_ = folder_.Path("part.mov");
        std::string dump = folder_.Path("frames");
        ASSERT_EQ(Shell(std::string(DVR_SIM_PATH) + " --dump-frames " + dump + " --dump-start " +
                        std::to_string(kStart) + " --seconds 12 --gop 30 >/dev/null 2>&1"),
                  0);
        ASSERT_EQ(Shell(std::string(TAVLIN_MOV_PATH) + " " + dump + " " + mov_ + " >/dev/null 2>&1"), 0);
        ASSERT_TRUE(sim_.Start({"--port", "0", "--trace", "--channels", "4"}));
        page_ = folder_.Path("page.html");
        ASSERT_TRUE(WritePage(page_, sim_.port(), "9.1234.5678"));
    }

    // Once the first picture is in and the time over it shows (a page
    // chosen before stays without it): the Backup page (its key lit),
    // OPEN MOVIE with the dialog answered, then the steps; the run ends
    // after the last. The host's status in *status.
    std::string Open(const std::string& path, const std::string& steps, int* status)
    {
        std::string out;
        *status = RunHost(sim_, folder_,
                          HostOnPage(page_) + " --events --answer 'open=" + path + "' --wait-video 60000" +
                              " --wait-text '354,30,60000,*:*:*'" + Click(201, 46) +
                              " --wait-pixel 850,50,60000,2B6DB1" + Click(266, 162) + steps + " --run-ms 0",
                          &out);
        return out;
    }
    // Until the time label shows a time of the day the file was made.
    std::string FileDay() const { return " --wait-text '354,30,60000," + TimeText(kStart).substr(0, 10) + " *'"; }

    HostFolder folder_{"tavlin-localplay-e2e"};
    SimProcess sim_;
    std::string dir_, mov_, page_;
};

TEST_F(LocalPlayE2E, AMovieOpensFromTheBackupPageAndPlaysWithItsOwnTime)
{
    // The time of the file shown, read; read again once its second has
    // moved on.
    int status = -1;
    std::string out = Open(mov_,
                           FileDay() +
                               " --read 354,30,0 --wait-change 354,30,60000 --read 354,30,0"
                               " --read 354,568,0 --shot 0," +
                               folder_.Path("play.png"),
                           &status);
    ASSERT_EQ(status, 0) << out;
    std::vector<std::string> times = Reads(out, "354,30");
    ASSERT_EQ(times.size(), 2u) << out;
    // Both are times of the file (12 s from kStart), and the second is later.
    bool first = false, second = false;
    for (uint32_t s = 0; s < 12; ++s) {
        first = first || times[0] == TimeText(kStart + s);
        second = second || times[1] == TimeText(kStart + s);
    }
    EXPECT_TRUE(first && second) << times[0] << " / " << times[1];
    EXPECT_LT(times[0], times[1]);
    // The file's watermark record verifies: no warning under the video.
    std::vector<std::string> warning = Reads(out, "354,568");
    EXPECT_TRUE(warning.empty() || warning[0].empty()) << out;
    EXPECT_EQ(out.find("msgbox"), std::string::npos) << out;
    // The recorder was told of the local-file mode.
    bool told = false;
    for (const std::string& l : sim_.lines()) told = told || l.find("type=2048") != std::string::npos;
    EXPECT_TRUE(told);
}

TEST_F(LocalPlayE2E, AnAlteredRecordPlaysWithAWarningAndAForeignMovieIsRefused)
{
    // One bit of the watermark record's checksum turned over.
    std::vector<uint8_t> f;
    ASSERT_TRUE(ReadFile(mov_, &f));
    size_t tail = 0;
    for (size_t at = f.size(); at-- > 0;)
        if (f[at] != 0) {
            tail = at;
            break;
        }
    f[tail] ^= 0x01; // the checksum's last non-zero byte
    std::string altered = folder_.Path("altered.mov");
    FILE* o = fopen(altered.c_str(), "wb");
    ASSERT_NE(o, nullptr);
    ASSERT_EQ(fwrite(f.data(), 1, f.size(), o), f.size());
    fclose(o);
    // Once the file plays and the warning is up.
    int status = -1;
    std::string out =
        Open(altered, FileDay() + " --wait-text '354,568,60000,?*' --read 354,30,0 --read 354,568,0", &status);
    ASSERT_EQ(status, 0) << out;
    std::vector<std::string> warning = Reads(out, "354,568");
    ASSERT_EQ(warning.size(), 1u) << out;
    EXPECT_NE(warning[0].find("watermark"), std::string::npos) << warning[0];
    std::vector<std::string> times = Reads(out, "354,30");
    ASSERT_EQ(times.size(), 1u);
    EXPECT_EQ(times[0].substr(0, 10), TimeText(kStart).substr(0, 10)) << "it plays all the same";

    if (Shell("command -v ffmpeg >/dev/null") != 0) GTEST_SKIP() << "ffmpeg is needed";
    std::string foreign = folder_.Path("ffmpeg.mov");
    ASSERT_EQ(Shell("ffmpeg -v error -y -i '" + mov_ + "' -map 0:v -c copy -f mov '" + foreign + "'"), 0);
    // Once the refusal's message has come and the time label shows again.
    out = Open(foreign, " --wait-msgbox 60000 --wait-text '354,30,60000,?*' --read 354,30,0", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("msgbox caption=\"Open Movie\""), std::string::npos) << out;
    times = Reads(out, "354,30");
    ASSERT_EQ(times.size(), 1u);
    EXPECT_NE(times[0].substr(0, 10), TimeText(kStart).substr(0, 10)) << "nothing of the file plays";
}

} // namespace
