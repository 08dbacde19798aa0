// The recording search against dvr-sim on loopback: the calendar's month
// and day queries, the recorder's answer echoed, and its replies filling
// the grid's days and the day's half hours from the recorder's index, per
// channel, and again when a channel is chosen a second time.
#include "control/View.h"
#include "link/Conn.h"
#include "media/Pbba.h"
#include "media/Stream.h"
#include "panel/Month.h"
#include "tests/support/LinkLoop.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>

namespace {

const uint32_t kCapMs = kWaitLimitMs; // a cap on every wait, never a pace

uint32_t Rt(int y, int m, int d, int h = 0)
{
    return Date_ToSeconds(TDateParts{(uint16_t)y, (uint16_t)m, (uint16_t)d, (uint16_t)h, 0, 0});
}

std::vector<int> Set(const int32_t* flags, int n)
{
    std::vector<int> out;
    for (int i = 0; i < n; ++i)
        if (flags[i]) out.push_back(i);
    return out;
}

std::vector<int> Range(int first, int last)
{
    std::vector<int> out;
    for (int i = first; i <= last; ++i) out.push_back(i);
    return out;
}

TEST(SearchEndToEnd, TheCalendarShowsTheRecordersDaysAndHalfHoursPerChannel)
{
    SimProcess sim;
    // Channel 3: 5 to 7 March 08:00-18:00 and 20 March 10:30-11:00;
    // channel 1: all of 6 March.
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace", "--channels", "4", "--recordings",
                           "3/2024-03-05..2024-03-07/08:00-18:00;3/2024-03-20/10:30-11:00;1/2024-03-06/all"}));
    LinkLoop loop;
    Stream_Init();
    Pbba_Init();
    loop.Connect(sim.port());
    TConnection* c = &gConnections[0];
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return c->linkState == LINK_LOGGED_IN && c->active; }, kCapMs));
    c->view->mode = VIEW_PLAYBACK;
    gCalendarTime = Rt(2024, 3, 6, 10);
    Mon_Time = (int32_t)gCalendarTime;
    Month_BuildGrid(gCalendarTime);

    // Runs the calendar's 300 ms step until the recorder has replied to n
    // queries in all and the calendar shows what the replies brought.
    auto replies = [&](size_t n, const std::function<bool()>& shown) {
        bool ok = Application_ProcessMessagesUntil(
            [&] {
                Calendar_TimerStep();
                return sim.Count("pbba reply ") >= n && shown();
            },
            kCapMs);
        if (!ok)
            for (const std::string& l : sim.lines()) fprintf(stderr, "SIM %s\n", l.c_str());
        return ok;
    };
    const std::vector<int> channel3Days = {9, 10, 11, 24};

    // The grid of March 2024 starts on Sunday 25 February: 5 March is cell 9.
    c->view->playbackBlock.playbackChannel = 2;
    EXPECT_TRUE(replies(2, [&] { return Set(gDayStatus, 42) == channel3Days && Set(IE_Data, 48) == Range(16, 35); }));
    EXPECT_TRUE(sim.Seen("pbba query session=" + std::to_string(c->session) + " index=4 channel=2 start=" +
                         std::to_string(Rt(2024, 2, 25)) + " end=" + std::to_string(Rt(2024, 4, 7))));
    EXPECT_TRUE(sim.Seen("pbba query session=" + std::to_string(c->session) + " index=7 channel=2 start=" +
                         std::to_string(Rt(2024, 3, 6)) + " end=" + std::to_string(Rt(2024, 3, 7))));
    EXPECT_EQ(sim.Count("pbba echo"), 0u); // every echo was good
    EXPECT_EQ(Set(gDayStatus, 42), channel3Days);
    EXPECT_EQ(Mon_Data[10], DAY_SELECTED_RECORDED);
    EXPECT_EQ(Mon_Data[9], DAY_RECORDED);
    EXPECT_EQ(Mon_Data[12], DAY_NONE);
    EXPECT_EQ(Set(IE_Data, 48), Range(16, 35));

    // Channel 1, then channel 3 again: each is asked for.
    c->view->playbackBlock.playbackChannel = 0;
    EXPECT_TRUE(
        replies(4, [&] { return Set(gDayStatus, 42) == std::vector<int>{10} && Set(IE_Data, 48) == Range(0, 47); }));
    EXPECT_EQ(Set(gDayStatus, 42), (std::vector<int>{10}));
    EXPECT_EQ(Set(IE_Data, 48), Range(0, 47));
    c->view->playbackBlock.playbackChannel = 2;
    EXPECT_TRUE(replies(6, [&] { return Set(gDayStatus, 42) == channel3Days; }));

    // Another day of the month: only its half hours are asked for.
    gCalendarTime = Rt(2024, 3, 20, 9);
    Mon_Time = (int32_t)gCalendarTime;
    Month_BuildGrid(gCalendarTime);
    EXPECT_TRUE(replies(7, [&] { return Set(IE_Data, 48) == std::vector<int>{21}; }));
    EXPECT_EQ(sim.Count("pbba query"), 7u);
    EXPECT_EQ(Set(IE_Data, 48), (std::vector<int>{21}));
    EXPECT_EQ(Mon_Data[24], DAY_SELECTED_RECORDED);
}

} // namespace
