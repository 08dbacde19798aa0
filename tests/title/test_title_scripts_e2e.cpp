// Channel titles in the users' own scripts, typed in tavlin-host against
// dvr-sim: a Traditional Chinese title on a PC whose code page is Big5
// (TAVLIN_CODEPAGE=950) typed, applied, received by the recorder as its
// Big5 bytes, drawn with ink, saved and loaded back byte for byte, with a
// title that stops at its 63 bytes; Japanese and Thai titles in their
// languages' code pages; and an upload the recorder leaves unasked.
#include "link/Bytes.h"
#include "tests/support/HostRun.h"
#include "tests/support/SimProcess.h"
#include <gtest/gtest.h>

#include <QImage>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Window coordinates of the key panel's Setup button and the Title tab's
// controls.
const char* kSetupButton = "955,46";
const char* kTitleTab = "348,55";
const char* kCh1 = "325,166";
const char* kCh2 = "325,214";
const char* kCh3 = "325,262";
const char* kLanguage = "113,414";
const char* kApply = "107,520";
const char* kLoad = "75,103";
const char* kSave = "148,103";

std::string At(const char* xy, int ms) { return std::string(xy) + "," + std::to_string(ms); }
std::string Click(const char* xy, int ms) { return " --click " + At(xy, ms); }
std::string Type(const char* xy, int ms, const std::string& text)
{
    return " --type '" + At(xy, ms) + "," + text + "'";
}
std::string Read(const char* xy, int ms) { return " --read " + At(xy, ms); }
std::string WaitText(const char* xy, int limit, const std::string& text)
{
    return " --wait-text '" + std::string(xy) + "," + std::to_string(limit) + "," + text + "'";
}

uint32_t U32(const std::vector<uint8_t>& v, size_t at) { return GetU32(v.data() + at); }

std::string Hex(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) out += {kDigits[c >> 4], kDigits[c & 15]};
    return out;
}

// Titles the recorder holds at start: "Start" on channel 1, no font yet,
// the text at 60 %: so the tab shows when the recorder's copy has arrived.
bool WriteStartTitles(const std::string& path)
{
    std::vector<uint8_t> titles(115592, 0);
    memcpy(titles.data() + 4, "Start", 5);
    titles[1132] = 60;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(titles.data(), 1, titles.size(), f) == titles.size();
    return fclose(f) == 0 && ok;
}

// The steps up to the Title tab with the recorder's titles shown.
std::string OpenTitleTab()
{
    return " --wait-video 60000" + Click(kSetupButton, 0) + Click(kTitleTab, 0) + WaitText(kCh1, 60000, "Start");
}

// Down presses from the first language to language n.
std::string ChooseLanguage(int n)
{
    std::string steps = Click(kLanguage, 0);
    for (int i = 0; i < n; i++) steps += " --key 0,Down";
    return steps;
}

// Apply, then the end of the upload (the button is greyed while it runs).
std::string ApplyAndWait() { return Click(kApply, 0) + " --wait-enabled " + std::string(kApply) + ",60000"; }

// The title preview (Image_Title1) in window coordinates.
const char* kPreview = "248,82,350,41";

// The progress bar's fill under the Title tab, and a point of it that
// the first 30 chunks of an upload have filled.
const char* kBarFilled = "250,541";
const char* kBarColour = "359ADA/64";

bool HasInk(const std::vector<uint8_t>& file, size_t at, size_t n)
{
    for (size_t i = 0; i < n; i++)
        if (file[at + i]) return true;
    return false;
}

TEST(TitleScriptsE2E, ATraditionalChineseTitleOnABig5SystemGoesToTheRecorderAsBig5AndComesBackWhole)
{
    HostFolder folder("tavlin-title-big5-e2e");
    ASSERT_TRUE(RegisterControl());
    const std::string start = folder.Path("start.titles"), stored = folder.Path("recorder.titles");
    ASSERT_TRUE(WriteStartTitles(start));
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--titles", "--titles-in", start, "--titles-out", stored}));
    const std::string page = folder.Path("page.html"), first = folder.Path("first.vdtt"),
                      second = folder.Path("second.vdtt"), shot = folder.Path("title.png");
    ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));

    std::string doors;
    for (int i = 0; i < 40; i++) doors += "門";
    // Language 1 (Traditional Chinese) writes in the system's code page.
    // The shot once the title step has drawn the typed titles into the
    // preview; Save once the upload has ended; the second Save once the
    // load has filled the edits.
    const std::string steps = OpenTitleTab() + ChooseLanguage(1) + Type(kCh2, 0, "大門口攝影機") +
                              Type(kCh3, 0, doors) + " --wait-redraw " + kPreview + ",60000 --shot 0,'" + shot + "'" +
                              ApplyAndWait() + " --answer save='" + first + "'" + Click(kSave, 0) + Type(kCh2, 0, "") +
                              " --answer open='" + first + "'" + Click(kLoad, 0) +
                              WaitText(kCh2, 60000, "大門口攝影機") + " --answer save='" + second + "'" +
                              Click(kSave, 0) + Read(kCh2, 0) + Read(kCh3, 0);
    std::string out;
    ASSERT_EQ(
        RunHost(sim, folder, HostOnPage(page, "TAVLIN_CODEPAGE=950") + " --events" + steps + " --run-ms 300", &out), 0)
        << out;

    // The edits show what was typed, the third cut at 31 characters (62 of
    // the title's 63 bytes), as they are stored.
    EXPECT_NE(out.find("text " + std::string(kCh2) + "=\"大門口攝影機\""), std::string::npos) << out;
    std::string cut;
    for (int i = 0; i < 31; i++) cut += "門";
    EXPECT_NE(out.find("text " + std::string(kCh3) + "=\"" + cut + "\""), std::string::npos) << out;

    // The recorder took the upload whole and holds the Big5 bytes.
    const std::string big5 = "\xA4\x6A\xAA\xF9\xA4\x66\xC4\xE1\xBC\x76\xBE\xF7";
    std::string door62;
    for (int i = 0; i < 31; i++) door62 += "\xAA\xF9";
    EXPECT_TRUE(sim.Seen("vdtt upload bytes=115592")) << out;
    EXPECT_EQ(sim.LinesStartingWith("vdtt title "),
              std::vector<std::string>({"vdtt title channel=0 bytes=" + Hex("Start"),
                                        "vdtt title channel=1 bytes=" + Hex(big5),
                                        "vdtt title channel=2 bytes=" + Hex(door62)}));
    std::vector<uint8_t> recorder, saved, again;
    ASSERT_TRUE(ReadFile(stored, &recorder));
    ASSERT_TRUE(ReadFile(first, &saved));
    ASSERT_TRUE(ReadFile(second, &again));
    ASSERT_EQ(saved.size(), 115648u);
    EXPECT_EQ(again, saved) << "saved, loaded and saved again: the same bytes";
    // The file's blocks are what the recorder received (its section heads
    // left out), the title in Big5, the language, and a named font.
    std::vector<uint8_t> blocks;
    for (size_t at = 16; at + 8 <= saved.size(); at += U32(saved, at))
        blocks.insert(blocks.end(), saved.begin() + (long)at + 8, saved.begin() + (long)(at + U32(saved, at)));
    EXPECT_EQ(blocks, recorder);
    EXPECT_EQ(std::string((const char*)blocks.data() + 4 + 64), big5);
    EXPECT_EQ(U32(blocks, 1136), 1u) << "language 1";
    EXPECT_NE(blocks[1060], 0) << "the font in use is named";
    // Drawn with ink in every size: channel 1's bitmap of each set.
    const size_t setAt[4] = {1160, 1160 + 50176, 1160 + 50176 + 30976, 1160 + 50176 + 30976 + 20736};
    const size_t titleBytes[4] = {3136, 1936, 1296, 784};
    for (int s = 0; s < 4; s++) EXPECT_TRUE(HasInk(blocks, setAt[s] + titleBytes[s], titleBytes[s])) << s;

    // The preview showed the title: white ink on the dark blue ground.
    QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull());
    int white = 0;
    for (int y = 82; y < 123; y++)
        for (int x = 248; x < 598; x++) {
            QRgb c = image.pixel(x, y);
            if (qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) > 200) white++;
        }
    EXPECT_GT(white, 100) << shot;
}

TEST(TitleScriptsE2E, JapaneseAndThaiTitlesGoToTheRecorderInTheirLanguagesCodePages)
{
    const struct {
        const char* name;
        int language;
        const char* title;
        const char* bytes; // as the recorder receives them
    } rows[] = {
        {"Japanese (Shift-JIS)", 6, "玄関カメラ", "8cba8ad6834a83818389"},
        {"Thai (code page 874)", 13, "กล้องหน้า", "a1c5e9cda7cbb9e9d2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        HostFolder folder("tavlin-title-scripts-e2e");
        ASSERT_TRUE(RegisterControl());
        const std::string start = folder.Path("start.titles");
        ASSERT_TRUE(WriteStartTitles(start));
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--titles", "--titles-in", start}));
        const std::string page = folder.Path("page.html");
        ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));
        const std::string steps =
            OpenTitleTab() + ChooseLanguage(row.language) + Type(kCh2, 0, row.title) + ApplyAndWait() + Read(kCh2, 0);
        std::string out;
        ASSERT_EQ(RunHost(sim, folder, HostOnPage(page) + " --events" + steps + " --run-ms 300", &out), 0) << out;
        EXPECT_NE(out.find("text " + std::string(kCh2) + "=\"" + row.title + "\""), std::string::npos) << out;
        EXPECT_TRUE(sim.Seen("vdtt upload bytes=115592")) << out;
        EXPECT_TRUE(sim.Seen(std::string("vdtt title channel=1 bytes=") + row.bytes)) << out;
        EXPECT_EQ(Count(out, "msgbox "), 0u) << out;
    }
}

// A recorder that stops asking for chunks part-way: after its 15 s of
// silence the viewer says the titles were not uploaded, the bar goes back
// to its start and the page can be applied again, which then goes through.
TEST(TitleScriptsE2E, AnUploadTheRecorderLeavesUnaskedSaysSoAndCanBeAppliedAgain)
{
    HostFolder folder("tavlin-title-stall-e2e");
    ASSERT_TRUE(RegisterControl());
    const std::string start = folder.Path("start.titles");
    ASSERT_TRUE(WriteStartTitles(start));
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--titles", "--titles-in", start, "--titles-stall", "30"}));
    const std::string page = folder.Path("page.html"), during = folder.Path("during.png"),
                      after = folder.Path("after.png");
    ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));
    // The shot while the recorder is silent: once it has left the upload
    // unasked and the bar shows the chunks sent before (inside its 15 s);
    // the second once the message has come.
    SimSignal stalled = SignalOnLines(folder, "stalled", "vdtt upload stalled");
    const std::string steps = OpenTitleTab() + Type(kCh2, 0, "Gate") + Click(kApply, 0) + stalled.Wait() +
                              " --wait-pixel " + kBarFilled + ",60000," + kBarColour + " --shot 0,'" + during + "'" +
                              " --wait-msgbox '60000,*not uploaded*' --shot 0,'" + after + "'" + " --wait-enabled " +
                              kApply + ",60000" + ApplyAndWait();
    std::string out;
    ASSERT_EQ(RunHost(sim, folder, HostOnPage(page) + " --events" + steps + " --run-ms 300", &out, {stalled}), 0)
        << out;

    EXPECT_TRUE(sim.Seen("vdtt upload stalled chunks=30")) << out;
    EXPECT_EQ(Count(out, "msgbox caption=\"Setup Information\" text=\"The titles were not uploaded: the recorder "
                         "stopped asking for them for 15 seconds."),
              1u)
        << out;
    EXPECT_EQ(sim.Count("vdtt upload bytes=115592"), 1u) << "the second Apply went through";
    EXPECT_TRUE(sim.Seen("vdtt title channel=1 bytes=" + Hex("Gate"))) << out;
    // The bar stood part-way while the recorder was silent and at its start
    // after the message.
    auto filled = [](const std::string& path) {
        QImage image(QString::fromStdString(path));
        int n = 0;
        for (int x = 203; x < 666; x++) {
            QRgb c = image.pixel(x, 541);
            if (qBlue(c) > 150 && qRed(c) < 120) n++;
        }
        return n;
    };
    EXPECT_GT(filled(during), 40) << during;
    EXPECT_EQ(filled(after), 0) << after;
}

} // namespace
