// The month calendar: the 42-cell grid against glibc's calendar for every
// month the recorder holds, the empty cells at both ends of its range, the
// month and time-of-day steppers with their holds, the half-hour slots, day
// presses, the three marks with the 5-second rule, and the confirmed
// playback time reaching the view.
#include "SearchFixture.h"
#include <gtest/gtest.h>

namespace {

class Calendar : public SearchTest {
protected:
    // The calendar showing t, as a confirmed mark or a press leaves it.
    void Show(uint32_t t)
    {
        gCalendarTime = t;
        Mon_Time = (int32_t)t;
        Month_BuildGrid(t);
    }
    int CellOf(uint32_t day)
    {
        for (int i = 0; i < MONTH_CELLS; ++i)
            if ((uint32_t)Mon_Day[i] == day) return i;
        return -1;
    }
    void Release() { Month_MouseEvent(0, 0, 0); }
    // A 4-channel recorder in Playback of channel 2, its key panel on the
    // Playback page.
    void OnThePlaybackPage()
    {
        IE_M_CH = 4;
        Force(VIEW_PLAYBACK);
        IE_Page2 = gPrevPage = KEY_PAGE_PLAYBACK;
        gSelection.page = KEY_PAGE_PLAYBACK;
        IE_DOING = gSelection.display = 1;
        V()->playbackBlock.playbackChannel = 1;
    }
};

TEST_F(Calendar, EveryMonthPutsItsFirstAndLastDayInTheRightCells)
{
    for (int y = 2000; y <= 2099; ++y)
        for (int m = (y == 2000 ? 3 : 1); m <= 12; ++m) {
            SCOPED_TRACE(std::to_string(y) + "-" + std::to_string(m));
            int length = RealMonthLength(y, m);
            int w = RealWeekday(y, m, 1);
            int firstCell = w == 0 ? 7 : w; // a Sunday first starts the grid a week early
            Show(OracleTime(y, m, 15) + 3600);
            ASSERT_EQ(Mon_Y, y);
            ASSERT_EQ(Mon_M, m);
            ASSERT_EQ((uint32_t)Mon_Day[firstCell], OracleTime(y, m, 1));
            int lastCell = firstCell + length - 1;
            ASSERT_LT(lastCell, MONTH_CELLS);
            if (y == 2099 && m == 12) {
                ASSERT_EQ((uint32_t)Mon_Day[lastCell], OracleTime(y, m, length));
                for (int i = lastCell + 1; i < MONTH_CELLS; ++i) EXPECT_EQ(Mon_Day[i], MONTH_EMPTY_DAY);
            } else {
                ASSERT_EQ((uint32_t)Mon_Day[lastCell], OracleTime(y, m, length));
            }
            // Cell 0 is a Sunday of the month before, and the cells run on day by day.
            ASSERT_EQ(gGridStart, OracleTime(y, m, 1) - (uint32_t)firstCell * 86400u);
            for (int i = 1; i < MONTH_CELLS && Mon_Day[i] != MONTH_EMPTY_DAY; ++i)
                ASSERT_EQ((uint32_t)Mon_Day[i] - (uint32_t)Mon_Day[i - 1], 86400u);
            // The selected day is the 15th.
            ASSERT_EQ(Mon_Data[firstCell + 14], DAY_SELECTED);
        }
}

TEST_F(Calendar, QueryWindowsAreTheGridAndTheSelectedDay)
{
    // For every day the recorder holds from 2000-03-01: the month window is
    // the 42 days from cell 0, the day window the selected day.
    for (int y = 2000; y <= 2099; ++y)
        for (int m = (y == 2000 ? 3 : 1); m <= 12; ++m)
            for (int d = 1; d <= RealMonthLength(y, m); ++d) {
                uint32_t day = OracleTime(y, m, d);
                Show(day + 86399);
                int w = RealWeekday(y, m, 1);
                uint32_t cell0 = OracleTime(y, m, 1) - (uint32_t)(w == 0 ? 7 : w) * 86400u;
                uint32_t start, end;
                ASSERT_EQ(Pbba_Window(PBBA_MONTH_INDEX, gMonthQueryTime, &start, &end), 0);
                ASSERT_EQ(start, cell0) << y << "-" << m << "-" << d;
                ASSERT_EQ(end, cell0 + 42u * 86400u);
                ASSERT_EQ(Pbba_Window(PBBA_DAY_INDEX, gDayQueryTime, &start, &end), 0);
                ASSERT_EQ(start, day) << y << "-" << m << "-" << d;
                ASSERT_EQ(end, day + 86400u);
            }
}

TEST_F(Calendar, TheRangesEndsLeaveCellsEmpty)
{
    // January 2000 begins on day 0, a Sunday in this calendar: the week
    // before it is no date at all, never a 2099 one, and cannot be pressed.
    Show(Rt(2000, 1, 10, 9));
    EXPECT_EQ(Mon_Y, 2000);
    EXPECT_EQ(Mon_M, 1);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(Mon_Day[i], MONTH_EMPTY_DAY);
        EXPECT_EQ(Mon_Data[i], MONTH_EMPTY_DAY);
    }
    EXPECT_EQ(Mon_Day[7], 0);
    EXPECT_EQ(Mon_Data[16], DAY_SELECTED);
    // Its month window starts before time 0, as the grid does.
    uint32_t start, end;
    Pbba_Window(PBBA_MONTH_INDEX, gMonthQueryTime, &start, &end);
    EXPECT_EQ(start, 0u - 7u * 86400u);
    EXPECT_EQ(end, 35u * 86400u);
    // February 2000 has 28 days and begins on a Wednesday here.
    Show(Rt(2000, 2, 5));
    EXPECT_EQ(CellOf(Rt(2000, 2, 1)), 3);
    EXPECT_EQ(CellOf(Rt(2000, 2, 28)), 30);
    EXPECT_EQ(CellOf(Rt(2000, 3, 1)), 31);
    // A press on an empty cell picks nothing.
    Show(Rt(2000, 1, 10, 9));
    Mon_Time = MONTH_EMPTY_DAY;
    Mon_Cmd = 1;
    Month_Update();
    EXPECT_EQ(gHoldCode, 0);
    EXPECT_EQ(gCalendarTime, Rt(2000, 1, 10, 9));
    EXPECT_EQ(Mon_M, 1);
}

TEST_F(Calendar, MarkedExamples)
{
    Show(Rt(2004, 3, 10));
    EXPECT_EQ(CellOf(Rt(2004, 2, 29)), 0); // 2004-03-01 is a Monday
    EXPECT_EQ(CellOf(Rt(2004, 3, 1)), 1);
    // A day outside the 42 cells has no recordings.
    for (int i = 0; i < MONTH_CELLS; ++i) gDayStatus[i] = 1;
    EXPECT_EQ(Month_GetDayStatus(Rt(2004, 2, 29, 23)), 1);
    EXPECT_EQ(Month_GetDayStatus(Rt(2004, 2, 28, 23)), 0);
    EXPECT_EQ(Month_GetDayStatus(gGridStart + 42u * 86400u), 0);
    // Day states: recorded days, the selected one 4 or 5.
    memset(gDayStatus, 0, sizeof gDayStatus);
    gDayStatus[10] = 1;
    gDayStatus[11] = 1;
    Month_BuildGrid(Rt(2004, 3, 11, 8));
    EXPECT_EQ(Mon_Data[9], DAY_NONE);
    EXPECT_EQ(Mon_Data[10], DAY_RECORDED);
    EXPECT_EQ(Mon_Data[11], DAY_SELECTED_RECORDED);
    Month_BuildGrid(Rt(2004, 3, 9, 8));
    EXPECT_EQ(Mon_Data[9], DAY_SELECTED);
    // Another month's flags are not this one's.
    Month_BuildGrid(Rt(2004, 4, 9, 8));
    for (int i = 0; i < MONTH_CELLS; ++i) EXPECT_EQ(gDayStatus[i], 0);
}

TEST_F(Calendar, MonthSteppersCrossYearEndsAndStopAtTheRange)
{
    struct Case {
        uint32_t from;
        int add; // 1: next month, -1: previous
        uint32_t to;
    } const cases[] = {
        {Rt(2010, 12, 20, 13, 14, 15), 1, Rt(2011, 1, 1, 13, 14, 15)},
        {Rt(2011, 1, 31, 7), -1, Rt(2010, 12, 1, 7)},
        {Rt(2004, 1, 31), 1, Rt(2004, 2, 1)},
        {Rt(2000, 1, 5, 1), -1, Rt(2000, 1, 5, 1)},                      // nothing before 2000-01
        {Rt(2099, 12, 31, 23, 59, 59), 1, Rt(2099, 12, 31, 23, 59, 59)}, // nor after 2099-12
        {Rt(2000, 2, 28, 2), -1, Rt(2000, 1, 1, 2)},
        {Rt(2099, 11, 2), 1, Rt(2099, 12, 1)},
    };
    for (const Case& k : cases) {
        Show(k.from);
        if (k.add > 0) Mon_Add = 1;
        else Mon_Sub = 1;
        Month_Update();
        EXPECT_EQ(gCalendarTime, k.to) << k.from;
        EXPECT_EQ((uint32_t)Mon_Time, k.to);
        EXPECT_EQ(Mon_Add, 0);
        EXPECT_EQ(Mon_Sub, 0);
        TDateParts d;
        Date_FromSeconds(k.to, &d);
        EXPECT_EQ(Mon_Y, d.year);
        EXPECT_EQ(Mon_M, d.month);
    }
}

TEST_F(Calendar, TimeSteppersRepeatWhileHeldAndTurnRoundTheClock)
{
    struct Case {
        uint32_t from;
        int32_t add, sub;
        uint32_t to;
    } const cases[] = {
        {Rt(2010, 12, 31, 22, 0, 0), 2, 0, Rt(2010, 12, 31, 23, 0, 0)},
        {Rt(2010, 12, 31, 23, 30, 0), 2, 0, Rt(2010, 12, 31, 0, 30, 0)}, // the day stays the one shown
        {Rt(2011, 1, 1, 0, 0, 30), 0, 3, Rt(2011, 1, 1, 23, 59, 30)},
        {Rt(2000, 1, 1, 0, 0, 0), 0, 4, Rt(2000, 1, 1, 23, 59, 59)},     // never before time 0
        {Rt(2099, 12, 31, 23, 59, 59), 4, 0, Rt(2099, 12, 31, 0, 0, 0)}, // nor past 2099
        {Rt(2020, 6, 6, 6, 6, 6), 3, 0, Rt(2020, 6, 6, 6, 7, 6)},
    };
    for (const Case& k : cases) {
        Show(k.from);
        Mon_Add = k.add;
        Mon_Sub = k.sub;
        Month_Update();
        EXPECT_EQ(gCalendarTime, k.to) << k.from;
        EXPECT_EQ(gHoldCode, HOLD_REPEAT);
        EXPECT_EQ(gHoldActive, 1);
        EXPECT_EQ(gPanelLevel, PANEL_LEVEL_BUSY);
        TDateParts d;
        Date_FromSeconds(k.to, &d);
        EXPECT_EQ(Mon_h, d.hour);
        EXPECT_EQ(Mon_m2, d.minute);
        EXPECT_EQ(Mon_s, d.second);
        EXPECT_EQ(gPanelPairs[1].value, (int32_t)(k.to % 86400 / 1800));
        // A repeat steps again; the release ends the hold.
        Month_Update();
        EXPECT_NE(gCalendarTime, k.to);
        Release();
        EXPECT_EQ(gHoldCode, 0);
        EXPECT_EQ(gHoldActive, 0);
        EXPECT_EQ(gPanelLevel, PANEL_LEVEL_NORMAL);
        EXPECT_EQ(Mon_Add, 0);
        EXPECT_EQ(Mon_Sub, 0);
    }
}

TEST_F(Calendar, SlotsSetTheTimeOfDayAndTheirHoldEndsOnRelease)
{
    const uint32_t day = Rt(2024, 3, 14);
    struct Case {
        int32_t slot;
        int32_t h, m;
    } const cases[] = {{1, 0, 0}, {2, 0, 30}, {25, 12, 0}, {48, 23, 30}};
    for (const Case& k : cases) {
        Show(day + 5 * 3600 + 17);
        IE_ST3 = k.slot;
        Month_Update();
        EXPECT_EQ(gCalendarTime, day + (uint32_t)(k.h * 3600 + k.m * 60)) << k.slot;
        EXPECT_EQ(Mon_h, k.h);
        EXPECT_EQ(Mon_m2, k.m);
        EXPECT_EQ(Mon_s, 0);
        EXPECT_EQ(gHoldCode, HOLD_SLOT);
        EXPECT_EQ(SD_Bar, 1);
        EXPECT_EQ(gPanelPairs[1].value, k.slot - 1);
        Release();
        EXPECT_EQ(IE_ST3, 0);
        EXPECT_EQ(gHoldCode, 0); // the next press is not taken for a drag of the slot
        EXPECT_EQ(gCalendarTime, day + (uint32_t)(k.h * 3600 + k.m * 60));
    }
    // Steps that do not exist change nothing and are not left pending.
    for (int32_t bad : {5, -1, -7, INT32_MAX}) {
        Show(day + 3600);
        Mon_Add = bad;
        Month_Update();
        EXPECT_EQ(gCalendarTime, day + 3600) << bad;
        EXPECT_EQ(Mon_Add, 0);
        Mon_Sub = bad;
        Month_Update();
        EXPECT_EQ(gCalendarTime, day + 3600) << bad;
        EXPECT_EQ(Mon_Sub, 0);
        EXPECT_EQ(gHoldCode, 0);
    }
    // Slots that do not exist change nothing.
    for (int32_t bad : {49, -1, 1000, INT32_MIN}) {
        Show(day + 3600);
        IE_ST3 = bad;
        Month_Update();
        EXPECT_EQ(gCalendarTime, day + 3600) << bad;
        EXPECT_EQ(IE_ST3, 0);
        EXPECT_EQ(gHoldCode, 0);
    }
}

TEST_F(Calendar, ADayPressPicksTheDayWithTheEditedTime)
{
    Show(Rt(2024, 3, 14, 10, 30, 5));
    int cell = CellOf(Rt(2024, 3, 20));
    ASSERT_GE(cell, 0);
    Mon_Time = Mon_Day[cell]; // what the cell's press writes
    Mon_Cmd = 1;
    Month_Update();
    EXPECT_EQ(gHoldCode, HOLD_DAY);
    EXPECT_EQ(gPanelLevel, PANEL_LEVEL_DAY);
    EXPECT_EQ(gPickedDay, Rt(2024, 3, 20, 10, 30, 5));
    Release();
    EXPECT_EQ(gHoldCode, 0);
    EXPECT_EQ(gPanelLevel, PANEL_LEVEL_NORMAL);
    EXPECT_EQ(Mon_Cmd, 0);
    EXPECT_EQ((uint32_t)Mon_Time, Rt(2024, 3, 20, 10, 30, 5));
    EXPECT_EQ(Mon_Data[cell], DAY_SELECTED);
    EXPECT_EQ(gDayQueryTime, Rt(2024, 3, 20, 12, 30));
}

TEST_F(Calendar, BackupMarksStayFiveSecondsApart)
{
    const uint32_t last = Month_LastTime();
    struct Case {
        int mark; // 2 backup from, 3 backup to
        uint32_t from, to, edited;
        uint32_t wantFrom, wantTo;
    } const cases[] = {
        {2, 1000, 2000, 1997, 1997, 2002}, // 3 s before to: to moves to from + 5
        {2, 1000, 2000, 1995, 1995, 2000}, // exactly 5 s: nothing moves
        {2, 1000, 2000, 5000, 5000, 5005}, // past to
        {3, 1000, 2000, 1003, 998, 1003},  // 3 s after from: from moves to to - 5
        {3, 1000, 2000, 500, 495, 500},
        {3, 1000, 2000, 3, 0, 5},                                             // never before time 0
        {2, 1000, 2000, last, last - 5, last},                                // never past 2099
        {3, 3000000000u, 3000000010u, 3000000012u, 3000000000u, 3000000012u}, // times past 2^31
    };
    for (const Case& k : cases) {
        Mon_B_F_T = (int32_t)k.from;
        Mon_B_T_T = (int32_t)k.to;
        IE_Month_T = k.mark;
        gCalendarTime = k.edited;
        Month_ApplyTimeMark(4);
        EXPECT_EQ((uint32_t)Mon_B_F_T, k.wantFrom) << k.mark << " " << k.edited;
        EXPECT_EQ((uint32_t)Mon_B_T_T, k.wantTo) << k.mark << " " << k.edited;
        TCalendarMarks marks = Month_Marks();
        EXPECT_EQ(marks.backupFrom, k.wantFrom);
        EXPECT_EQ(marks.backupTo, k.wantTo);
    }
}

TEST_F(Calendar, AMarkButtonShowsItsMarkAndTogglesEditing)
{
    Mon_P_N_T = (int32_t)Rt(2023, 7, 4, 15, 45, 10);
    Mon_B_F_T = (int32_t)Rt(2023, 8, 1, 1, 0, 0);
    Show(Rt(2024, 1, 1));
    IE_SET_T = 2;
    Month_ToggleTimeMark(IE_SET_T);
    EXPECT_EQ(IE_SET_T, 0);
    EXPECT_EQ(IE_Month_T, 2);
    EXPECT_EQ(gCalendarTime, Rt(2023, 8, 1, 1));
    EXPECT_EQ(Mon_M, 8);
    EXPECT_EQ(Mon_h, 1);
    EXPECT_EQ(Mon_Add, 0);
    EXPECT_EQ(Mon_Sub, 0);
    Month_ToggleTimeMark(1);
    EXPECT_EQ(IE_Month_T, 1);
    EXPECT_EQ(Mon_M, 7);
    EXPECT_EQ(Mon_m2, 45);
    Month_ToggleTimeMark(1); // the same button again: editing ends
    EXPECT_EQ(IE_Month_T, 0);
    // Cancel stores nothing.
    Month_ToggleTimeMark(1);
    IE_ST3 = 3;
    Month_Update();
    Release();
    IE_CL = 1;
    Month_Update();
    EXPECT_EQ(IE_Month_T, 0);
    EXPECT_EQ(IE_CL, 0);
    EXPECT_EQ((uint32_t)Mon_P_N_T, Rt(2023, 7, 4, 15, 45, 10));
}

TEST_F(Calendar, AConfirmedPlaybackTimePlaysFromThere)
{
    IE_M_CH = 4;
    Force(VIEW_PLAYBACK);
    V()->playbackBlock.playbackChannel = 2;
    IE_DOING = gSelection.display = 2;
    gSelection.page = KEY_PAGE_PLAYBACK;
    Mon_P_N_T = (int32_t)Rt(2024, 3, 1, 9);
    Month_ToggleTimeMark(1);
    // Day 14, then slot 21 (10:00), then OK.
    Mon_Time = (int32_t)Rt(2024, 3, 14);
    Mon_Cmd = 1;
    Month_Update();
    Release();
    IE_ST3 = 21;
    Month_Update();
    Release();
    Queued(0);
    IE_OK = 1;
    Month_Update();
    const uint32_t want = Rt(2024, 3, 14, 10);
    EXPECT_EQ((uint32_t)Mon_P_N_T, want);
    EXPECT_EQ(IE_Month_T, 0);
    EXPECT_EQ(IE_OK, 0);
    EXPECT_EQ(V()->playbackBlock.playbackTime, want);
    EXPECT_EQ(V()->playbackBlock.playbackRun, 1u);
    EXPECT_EQ(V()->playbackBlock.playbackDirection, 1);
    // The playback block went to the recorder with that time.
    std::vector<Bytes> q = Queued(0);
    ASSERT_FALSE(q.empty());
    const Bytes& m = q.back();
    ASSERT_GE(m.size(), 64u + 64u);
    EXPECT_EQ(GetU32(m, 40), 512u);      // a playback block
    EXPECT_EQ(GetU32(m, 64 + 20), want); // its playbackTime
    EXPECT_EQ(GetU32(m, 64 + 8), 2u);    // its channel
    EXPECT_EQ(GetU32(m, 64 + 12), 1u);   // playing
    EXPECT_EQ(GetU32(m, 64 + 16), 1u);   // forwards
    EXPECT_EQ(IE_PB_BT_En[3], 1);        // the play button lit
}

TEST_F(Calendar, TheConfirmedTimeWinsWhateverPlaybackWasDoing)
{
    // From every play state, by OK or by a play button pressed while the
    // mark is edited: the request carries the picked time, never the place
    // the stream had reached.
    const uint32_t want = Rt(2024, 5, 6, 7, 30);
    struct Case {
        uint32_t run;
        int32_t direction;
        int32_t button; // -1: OK, else the play button pressed
        uint32_t wantRun;
        int32_t wantDirection;
    } const cases[] = {
        {0, 0, -1, 1, 1}, {1, -1, -1, 1, 1}, {1, 0, -1, 1, 1}, {1, 1, -1, 1, 1}, {0, 0, 3, 1, 1},
        {1, -1, 3, 1, 1}, {1, 0, 3, 1, 1},   {1, 1, 0, 1, -1}, {1, 1, 2, 1, 0},  {1, -1, 1, 0, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.run) + "," + std::to_string(k.direction) + " button " + std::to_string(k.button));
        OnThePlaybackPage();
        V()->playbackBlock.playbackRun = k.run;
        V()->playbackBlock.playbackDirection = k.direction;
        S()->displayTime = Rt(2024, 1, 1, 1); // where the stream had got to
        IE_Month_T = 1;
        gCalendarTime = want;
        Mon_Time = (int32_t)want;
        Queued(0);
        if (k.button < 0) {
            IE_OK = 1;
            KeyForm_Update(0);
            Month_Update();
        } else {
            IE_PB_PS = k.button; // what the play buttons write
            IE_PB_PS2 = k.button + 1;
            KeyForm_Update(0);
            Month_Update();
        }
        EXPECT_EQ((uint32_t)Mon_P_N_T, want);
        EXPECT_EQ(IE_Month_T, 0);
        EXPECT_EQ(V()->playbackBlock.playbackTime, want);
        EXPECT_EQ(V()->playbackBlock.playbackRun, k.wantRun);
        EXPECT_EQ(V()->playbackBlock.playbackDirection, k.wantDirection);
        std::vector<Bytes> q = Queued(0);
        ASSERT_EQ(q.size(), 1u);
        EXPECT_EQ(GetU32(q[0], 40), 512u);
        EXPECT_EQ(GetU32(q[0], 64 + 20), want);
    }
}

// An OK or a cancel written in the same key-panel press as a time step, a
// month arrow or a slot takes effect in that press: the step is applied
// and the edited mark confirmed with it (or the edit cancelled), and the
// panel's next press is its own, not held back by a pending OK.
TEST_F(Calendar, AnOkOrCancelThatComesWithAStepTakesEffectInThatPress)
{
    const uint32_t from = Rt(2024, 3, 14, 10, 30, 5), before = Rt(2024, 3, 1, 9);
    struct Case {
        const char* name;
        int32_t add, sub, slot;
        bool ok;       // else cancel
        uint32_t mark; // the playback mark after the press
    } const cases[] = {
        {"hour up and OK", 2, 0, 0, true, from + 3600},
        {"minute down and OK", 0, 3, 0, true, from - 60},
        {"second up and OK", 4, 0, 0, true, from + 1},
        {"next month and OK", 1, 0, 0, true, Rt(2024, 4, 1, 10, 30, 5)},
        {"slot 21 and OK", 0, 0, 21, true, Rt(2024, 3, 14, 10)},
        {"hour up and cancel", 2, 0, 0, false, before},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        OnThePlaybackPage();
        Mon_P_N_T = (int32_t)before;
        Month_ToggleTimeMark(1);
        ASSERT_EQ(IE_Month_T, 1);
        Show(from);
        Queued(0);
        // The press, as the key panel runs it.
        Mon_Add = k.add;
        Mon_Sub = k.sub;
        IE_ST3 = k.slot;
        (k.ok ? IE_OK : IE_CL) = 1;
        KeyForm_Update(0);
        Month_Update();
        EXPECT_EQ(IE_OK, 0);
        EXPECT_EQ(IE_CL, 0);
        EXPECT_EQ(IE_Month_T, 0) << "the edit has ended";
        EXPECT_EQ((uint32_t)Mon_P_N_T, k.mark);
        std::vector<Bytes> q = Queued(0);
        if (k.ok) {
            EXPECT_EQ(V()->playbackBlock.playbackTime, k.mark);
            ASSERT_EQ(q.size(), 1u);
            EXPECT_EQ(GetU32(q[0], 40), 512u);
            EXPECT_EQ(GetU32(q[0], 64 + 20), k.mark);
        } else {
            EXPECT_TRUE(q.empty());
        }
        Release();
        Mon_Add = Mon_Sub = IE_ST3 = 0;
        // The next press (the Live page) is the panel's own.
        IE_Page2 = KEY_PAGE_LIVE;
        KeyForm_Update(0);
        Month_Update();
        EXPECT_EQ(gPrevPage, KEY_PAGE_LIVE);
        EXPECT_EQ((uint32_t)Mon_P_N_T, k.mark) << "nothing confirmed later";
    }
}

} // namespace
