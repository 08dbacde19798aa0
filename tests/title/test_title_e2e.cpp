// Channel titles as a user handles them: in tavlin-host against dvr-sim,
// the Setup page's Title tab, a title typed for channel 2, Apply, the
// upload to its end, Save File, the tab entered again (the titles are read
// back from the recorder), Save File again, then Live on channel 2, where
// dvr-sim draws the uploaded title into its picture.
#include "tests/support/HostPage.h"
#include "tests/support/SimProcess.h"
#include <gtest/gtest.h>

#include <QImage>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace {

std::string At(int x, int y, int ms) { return std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(ms); }

uint32_t U32(const std::vector<uint8_t>& v, size_t at)
{
    uint32_t x;
    memcpy(&x, v.data() + at, 4);
    return x;
}

// The five blocks of a title file, one after another.
std::vector<uint8_t> Blocks(const std::vector<uint8_t>& file)
{
    std::vector<uint8_t> out;
    size_t at = 16;
    for (int i = 0; i < 5 && at + 8 <= file.size(); i++) {
        uint32_t length = U32(file, at);
        if (length < 8 || at + length > file.size()) break;
        out.insert(out.end(), file.begin() + (long)at + 8, file.begin() + (long)(at + length));
        at += length;
    }
    return out;
}

TEST(TitleE2E, TypedTitleIsUploadedReadBackAndShownOnThePicture)
{
    HostFolder folder("tavlin-title-e2e");
    ASSERT_TRUE(RegisterControl());
    const std::string stored = folder.Path("recorder.titles");
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--titles", "--show-titles", "--titles-out", stored}));
    const std::string page = folder.Path("page.html"), shot = folder.Path("live.png");
    const std::string first = folder.Path("applied.vdtt"), again = folder.Path("read-back.vdtt");
    ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));

    // Setup on the key panel, the Title tab, channel 2's edit, Apply; Save
    // File; the System tab and the Title tab again; Save File; Live, channel 2.
    // The upload takes about a hundred round trips; the times leave room
    // for a loaded machine and the sanitizers.
    std::string steps = " --click " + At(955, 46, 3000) + " --click " + At(348, 55, 3400) + " --type " +
                        At(325, 214, 3900) + ",Lobby" + " --click " + At(107, 520, 4300) + " --click " +
                        At(148, 103, 9300) + " --click " + At(68, 55, 9700) + " --click " + At(348, 55, 10000) +
                        " --click " + At(148, 103, 11800) + " --click " + At(721, 46, 12200) + " --click " +
                        At(743, 97, 12500);
    std::string answers = " --answer save='" + first + "' --answer save='" + again + "'";
    // The host runs on its own thread while the recorder's trace is read,
    // so that dvr-sim never waits on a full pipe.
    std::string out;
    std::atomic<int> status{-2};
    std::thread host([&] {
        status = Shell(HostOnPage(page) + steps + answers + " --screenshot '" + shot + "' --after-ms 15000 2>&1", &out);
    });
    while (status == -2) sim.Collect(50);
    host.join();
    ASSERT_EQ(status, 0) << out;
    sim.Collect(200);

    // The upload went through whole, and the recorder's checksum agrees.
    std::string upload, trace;
    bool readAfter = false;
    for (const std::string& l : sim.lines()) {
        if (l.rfind("vdtt ", 0) == 0 && l.find("chunk") == std::string::npos && l.rfind("vdtt op=", 0) != 0)
            trace += l + "\n";
        if (l.rfind("vdtt upload ", 0) == 0) upload = l;
        else if (!upload.empty() && l.rfind("vdtt read section=17 offset=1152 length=8", 0) == 0) readAfter = true;
    }
    ASSERT_NE(upload, "") << out;
    EXPECT_NE(upload.find("bytes=115592"), std::string::npos) << upload;
    EXPECT_NE(upload.find(" ok"), std::string::npos) << upload;
    EXPECT_TRUE(readAfter) << trace << out;

    // What the recorder put together equals the blocks the viewer saved.
    std::vector<uint8_t> file, recorder;
    ASSERT_TRUE(ReadFile(first, &file));
    ASSERT_EQ(file.size(), 115648u);
    ASSERT_TRUE(ReadFile(stored, &recorder));
    std::vector<uint8_t> blocks = Blocks(file);
    EXPECT_EQ(blocks, recorder);
    EXPECT_STREQ((const char*)blocks.data() + 4 + 64, "Lobby");
    EXPECT_NE(upload.find("checksum=" + std::to_string(U32(blocks, 1144))), std::string::npos) << upload;

    // Entering the tab again cleared the edits and read the title back.
    std::vector<uint8_t> second;
    ASSERT_TRUE(ReadFile(again, &second));
    std::vector<uint8_t> readBack = Blocks(second);
    ASSERT_EQ(readBack.size(), blocks.size());
    EXPECT_STREQ((const char*)readBack.data() + 4 + 64, "Lobby");
    EXPECT_EQ(memcmp(readBack.data(), blocks.data(), 1160), 0);

    // Live on channel 2: white ink with a black rim at the picture's bottom left.
    QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull());
    int white = 0, black = 0;
    for (int y = 380; y < 555; y++)
        for (int x = 40; x < 520; x++) {
            QRgb c = image.pixel(x, y);
            int lo = std::min({qRed(c), qGreen(c), qBlue(c)}), hi = std::max({qRed(c), qGreen(c), qBlue(c)});
            if (lo > 200 && hi - lo < 24) white++;
            if (hi < 50) black++;
        }
    EXPECT_GT(white, 100) << shot;
    EXPECT_GT(black, 100) << shot;
}

} // namespace
