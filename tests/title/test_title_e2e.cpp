// Channel titles as a user handles them: in tavlin-host against dvr-sim,
// the Setup page's Title tab, a title typed for channel 2, Apply, the
// upload to its end, Save File, the tab entered again (the titles are read
// back from the recorder), Save File again, then Live on channel 2, where
// dvr-sim draws the uploaded title into its picture.
#include "link/Bytes.h"
#include "tests/support/HostRun.h"
#include <gtest/gtest.h>

#include <QImage>
#include <cstring>
#include <string>

namespace {

std::string At(int x, int y, int ms) { return std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(ms); }

uint32_t U32(const std::vector<uint8_t>& v, size_t at) { return GetU32(v.data() + at); }

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

    // Setup on the key panel, the Title tab once the page has read the
    // recorder's titles (the recorder has the read's end), channel 2's
    // edit, Apply; Save File once the upload's end frees the page; the
    // System tab and the Title tab again, Save File once the titles are
    // read back; Live, channel 2, and the screenshot once channel 2's
    // picture shows the title (white ink with its black rim at 237,500).
    SimSignal firstRead = SignalOnLines(folder, "read", "vdtt read done", 1),
              secondRead = SignalOnLines(folder, "read-back", "vdtt read done", 2);
    std::string steps = " --wait-video 60000 --click " + At(955, 46, 0) + " --click " + At(348, 55, 0) +
                        firstRead.Wait() + " --type " + At(325, 214, 0) + ",Lobby" + " --click " + At(107, 520, 0) +
                        " --wait-enabled 148,103,60000 --click " + At(148, 103, 0) + " --click " + At(68, 55, 0) +
                        " --click " + At(348, 55, 0) + secondRead.Wait() + " --click " + At(148, 103, 0) + " --click " +
                        At(721, 46, 0) + " --wait-pixel 690,50,60000,2B6DB1 --click " + At(743, 97, 0) +
                        " --wait-pixel 237,500,60000,EBEBEB/8 --wait-pixel 234,500,60000,000000/40";
    std::string answers = " --answer save='" + first + "' --answer save='" + again + "'";
    std::string out;
    ASSERT_EQ(RunHost(sim, folder, HostOnPage(page) + steps + answers + " --screenshot '" + shot + "' --after-ms 0",
                      &out, {firstRead, secondRead}),
              0)
        << out;

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
