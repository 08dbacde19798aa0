// Picking a playback time as a user does: in tavlin-host against dvr-sim
// (every channel recorded the last 10 days, 08:00 to 18:00), the Playback
// page's calendar marks the recorded days; PLAY FROM, a press on yesterday,
// on the 10:00 slot and on OK start playback there, and the time label over
// the video shows yesterday 10:00.
#include "panel/Month.h"
#include "tests/support/HostRun.h"
#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <ctime>
#include <string>

namespace {

// The panel image sits at the form's x 676; the time label over the video
// spans x 34 .. 674 at y 24 .. 37.
const int kPanelX = 676;

std::string Click(int panelX, int panelY)
{
    return " --click " + std::to_string(kPanelX + panelX) + "," + std::to_string(panelY) + ",0";
}

// Waits until the panel shows colour (RRGGBB) at panelX, panelY.
std::string Shows(int panelX, int panelY, const char* colour)
{
    return " --wait-pixel " + std::to_string(kPanelX + panelX) + "," + std::to_string(panelY) + ",60000," + colour;
}
// The panel's colours: a lit button, a recorded day's mark, the chosen
// day's frame, the time-of-day mark.
const char kLit[] = "2B6DB1", kRecorded[] = "3B9A5E", kChosen[] = "DAA540", kTimeMark[] = "E2B44D";

// The skin's day cells: 7 columns of 40 x 24 from (10, 292), 4 and 3 apart.
int CellX(int cell) { return 10 + (cell % 7) * 44 + 20; }
int CellY(int cell) { return 292 + (cell / 7) * 27 + 12; }

bool Green(QRgb c) { return qGreen(c) > qRed(c) + 50 && qGreen(c) > qBlue(c) + 20; }

int GreenIn(const QImage& image, int cell)
{
    int n = 0;
    for (int y = CellY(cell) - 12; y < CellY(cell) + 12; ++y)
        for (int x = CellX(cell) - 20; x < CellX(cell) + 20; ++x) n += Green(image.pixel(kPanelX + x, y));
    return n;
}

std::string TwoDigits(int v)
{
    char b[8];
    snprintf(b, sizeof b, "%02d", v);
    return b;
}

TEST(PickE2E, ADayASlotAndOkPlayFromThere)
{
    // Today and yesterday as the recorder counts, and where the calendar
    // the control opens on (this month) shows them.
    time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    // The page starts half a minute back in time, and the run takes seconds:
    // both must fall on today.
    if ((local.tm_hour == 23 && local.tm_min >= 58) || (local.tm_hour == 0 && local.tm_min < 2))
        GTEST_SKIP() << "too close to midnight";
    const uint32_t today = Date_ToSeconds(
        TDateParts{(uint16_t)(local.tm_year + 1900), (uint16_t)(local.tm_mon + 1), (uint16_t)local.tm_mday, 0, 0, 0});
    // Cell 0 of a month's grid: the Sunday before its first day (a week
    // before when the first is a Sunday).
    auto gridOf = [](uint32_t t) {
        TDateParts p;
        Date_FromSeconds(t, &p);
        uint32_t first = t - t % 86400 - (uint32_t)(p.day - 1) * 86400u;
        uint32_t weekday = first / 86400 % 7;
        return first - (weekday ? weekday : 7) * 86400u;
    };
    const uint32_t yesterday = today - 86400u;
    const int pressCell = (int)((yesterday - gridOf(today)) / 86400);
    // After the press the grid shows yesterday's month.
    const uint32_t shown = gridOf(yesterday);
    const int yesterdayCell = (int)((yesterday - shown) / 86400), todayCell = yesterdayCell + 1;
    const int unrecordedCell = todayCell + 1 < 42 ? todayCell + 1 : yesterdayCell - 12;
    const uint32_t want = yesterday + 10 * 3600u;
    TDateParts d;
    Date_FromSeconds(want, &d);
    const std::string wantDate = std::to_string(d.year) + "/" + TwoDigits(d.month) + "/" + TwoDigits(d.day);

    HostFolder folder("tavlin-pick-e2e");
    ASSERT_TRUE(RegisterControl());
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--no-audio"}));
    const std::string page = folder.Path("page.html"), shot = folder.Path("pick.png");
    ASSERT_TRUE(WritePage(page, sim.port(), "9.1234.5678"));

    // Playback (once the month's marks are in: today's), PLAY FROM, yesterday
    // (framed as the chosen day, in its own month), the 10:00 slot (21st:
    // the time mark moves there), OK; then the label is read once it shows
    // 10:00 and again once its second has moved on.
    const int slotX = 18 + 20 * 6 + 3, slotY = 485;
    const int pressTodayCell = pressCell + 1;
    std::string steps = " --wait-video 60000" + Click(123, 46) + Shows(92, 50, kLit) +
                        Shows(CellX(pressTodayCell), CellY(pressTodayCell) + 8, kRecorded) + Click(54, 222) +
                        Shows(24, 215, kLit) + Click(CellX(pressCell), CellY(pressCell)) +
                        Shows(CellX(yesterdayCell), CellY(yesterdayCell) - 12, kChosen) + Click(slotX, slotY) +
                        Shows(slotX, 495, kTimeMark) + Click(201, 592) + " --wait-text '354,30,60000,* 10:00:*'" +
                        " --read 354,30,0 --wait-change 354,30,60000 --read 354,30,0";
    std::string out;
    ASSERT_EQ(RunHost(sim, folder,
                      HostOnPage(page, "TAVLIN_SOUND=null") + steps + " --screenshot '" + shot + "' --after-ms 0",
                      &out),
              0)
        << out;

    // The calendar asked for the month and the day, and the recorder replied.
    EXPECT_GE(sim.Count("pbba reply "), 2u) << out;
    // Recorded frames of channel 1 from yesterday 10:00 reached the viewer.
    const std::string frame = "time=" + std::to_string(want) + " fn=0 ";
    bool played = false;
    for (const std::string& l : sim.lines())
        if (l.rfind("vido frame ", 0) == 0 && l.find(" ch=0 ") != std::string::npos &&
            l.find(frame) != std::string::npos && l.find(" src=1 ") != std::string::npos)
            played = true;
    EXPECT_TRUE(played) << frame;

    // The time label over the video: yesterday, 10:00 and a few seconds.
    std::vector<std::string> texts;
    for (size_t at = out.find("text 354,30=\""); at != std::string::npos; at = out.find("text 354,30=\"", at + 1)) {
        size_t begin = at + 13, end = out.find('"', begin);
        texts.push_back(out.substr(begin, end - begin));
    }
    ASSERT_EQ(texts.size(), 2u) << out;
    for (const std::string& t : texts) {
        EXPECT_EQ(t.substr(0, wantDate.size()), wantDate) << t;
        EXPECT_NE(t.find(" 10:00:0"), std::string::npos) << t;
    }
    EXPECT_LE(texts[0], texts[1]); // never back in time

    // The screenshot: recorded days carry their mark, days without video do not.
    QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull());
    EXPECT_GT(GreenIn(image, yesterdayCell), 20);
    EXPECT_GT(GreenIn(image, todayCell), 20);
    EXPECT_EQ(GreenIn(image, unrecordedCell), 0);
}

} // namespace
