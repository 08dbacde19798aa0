// Recorder time conversions (pure functions over the constant table of
// month lengths) and the month calendar. The calendar owns the edited time,
// the picked day, the grid's start and query times and gDayStatus; it
// writes the skin variables the calendar's elements show.
#include "panel/Month.h"
#include "link/ViewRecord.h"
#include "panel/Hooks.h"
#include "panel/Ie_com.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include "platform/win/Win.h"
#include <ctime>

static const uint32_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// The recorder's leap rule, applied to the offset from 2000 or to the full
// year alike: divisible by 4 and not by 100 (so 2000 is a common year).
static bool IsLeap(uint32_t y) { return y % 4 == 0 && y % 100 != 0; }

static uint32_t MonthLength(uint32_t monthIndex, bool leap)
{
    if (monthIndex == 1 && leap) return 29;
    return kMonthDays[monthIndex];
}

uint32_t Date_ToSeconds(TDateParts d)
{
    uint32_t y = d.year < 2000 ? 0 : (uint32_t)d.year - 2000;
    if (y > 99) y = 99;
    uint32_t m = d.month == 0 ? 0 : (uint32_t)d.month - 1;
    if (m > 11) m = 11;
    uint32_t day = d.day == 0 ? 0 : (uint32_t)d.day - 1;
    if (day > 31) day = 31;

    uint32_t days = 0;
    for (uint32_t k = 0; k < y; ++k) days += IsLeap(k) ? 366 : 365;
    bool leap = IsLeap(y);
    for (uint32_t i = 0; i < m; ++i) days += MonthLength(i, leap);

    return (days + day) * 86400u + (uint32_t)d.hour * 3600u + (uint32_t)d.minute * 60u + (uint32_t)d.second;
}

void Date_FromSeconds(uint32_t t, TDateParts* out)
{
    if (!out) return;
    uint32_t days = t / 86400u;
    uint32_t rest = t % 86400u;
    uint32_t hour = rest / 3600u;
    uint32_t minute = (rest % 3600u) / 60u;
    uint32_t second = rest % 60u;

    uint32_t year = 2000;
    for (; year < 2100; ++year) {
        uint32_t length = IsLeap(year) ? 366 : 365;
        if (days < length) break;
        days -= length;
    }
    if (year >= 2100) {
        *out = TDateParts{2099, 12, 31, 23, 59, 59};
        return;
    }

    bool leap = IsLeap(year);
    uint32_t m = 0;
    while (m < 11 && days >= MonthLength(m, leap)) {
        days -= MonthLength(m, leap);
        ++m;
    }
    out->year = (uint16_t)year;
    out->month = (uint16_t)(m + 1);
    out->day = (uint16_t)(days + 1);
    out->hour = (uint16_t)hour;
    out->minute = (uint16_t)minute;
    out->second = (uint16_t)second;
}

uint32_t Str_DigitsToInt(const char* s)
{
    uint32_t value = 0;
    if (!s) return 0;
    for (; *s; ++s) {
        if (*s >= '0' && *s <= '9') value = value * 10u + (uint32_t)(*s - '0');
    }
    return value;
}

// --- The month calendar ----------------------------------------------------------

uint32_t gCalendarTime;
uint32_t gPickedDay;
uint32_t gGridStart;
uint32_t gMonthQueryTime;
uint32_t gDayQueryTime;
int32_t gDayStatus[MONTH_CELLS];

uint32_t Month_LastTime()
{
    static const uint32_t last = Date_ToSeconds(TDateParts{2099, 12, 31, 23, 59, 59});
    return last;
}

TCalendarMarks Month_Marks() { return TCalendarMarks{(uint32_t)Mon_P_N_T, (uint32_t)Mon_B_F_T, (uint32_t)Mon_B_T_T}; }

// A time the calendar can hold: a recorder time past 2099 becomes its last second.
static uint32_t InRange(uint32_t t)
{
    uint32_t last = Month_LastTime();
    return t > last ? last : t;
}

static uint32_t DateOf(uint32_t t) { return t - t % MONTH_DAY; }
static uint32_t TimeOfDay(uint32_t t) { return t % MONTH_DAY; }

// The slot slider, the time-of-day digits and, unless a step repeats, a
// recomputed thumb for the edited time.
static void ShowTimeOfDay()
{
    uint32_t tod = TimeOfDay(gCalendarTime);
    gPanelPairs[1].value = (int32_t)(tod / MONTH_SLOT_SECONDS);
    if (gHoldCode != HOLD_REPEAT) gRedrawRequest = REDRAW_SLIDERS;
    SD_Bar = 1;
    Mon_h = (int32_t)(tod / 3600);
    Mon_m2 = (int32_t)(tod % 3600 / 60);
    Mon_s = (int32_t)(tod % 60);
}

void Month_Init()
{
    time_t now = (time_t)Win_TimeNow();
    struct tm local = {};
    if (const struct tm* lt = localtime(&now)) local = *lt;
    TDateParts d = {(uint16_t)(local.tm_year + 1900 < 0 ? 0 : local.tm_year + 1900),
                    (uint16_t)(local.tm_mon + 1),
                    (uint16_t)local.tm_mday,
                    (uint16_t)local.tm_hour,
                    (uint16_t)local.tm_min,
                    (uint16_t)local.tm_sec};
    uint32_t t = InRange(Date_ToSeconds(d));
    gCalendarTime = t;
    gPickedDay = t;
    Mon_Time = (int32_t)t;
    Mon_P_N_T = Mon_B_F_T = (int32_t)t;
    Mon_B_T_T = (int32_t)(t + MONTH_MARK_GAP);
    Month_BuildGrid(gCalendarTime);
    TDateParts shown;
    Date_FromSeconds(t, &shown);
    Mon_h = shown.hour;
    Mon_m2 = shown.minute;
    Mon_s = shown.second;
    gPanelPairs[1].value = (int32_t)(TimeOfDay(t) / MONTH_SLOT_SECONDS);
    gRedrawRequest = REDRAW_SLIDERS;
    // The slot slider follows its value whenever it is drawn, also when the
    // calendar's page first shows after the start-up's redraw.
    SD_Bar = 1;
}

void Month_BuildGrid(uint32_t t)
{
    t = InRange(t);
    TDateParts d;
    Date_FromSeconds(t, &d);
    Mon_Y = d.year;
    Mon_M = d.month;
    uint32_t first = Date_ToSeconds(TDateParts{d.year, d.month, 1, 0, 0, 0});
    uint32_t weekday = (first / MONTH_DAY) % 7; // 0 Sunday
    // A month that begins on a Sunday starts the grid a whole week early,
    // so the first row always shows days of the month before. Before
    // 2000-01-01 the start is negative: those cells stay empty.
    int64_t start = (int64_t)first - (int64_t)(weekday ? weekday : 7) * MONTH_DAY;
    gGridStart = (uint32_t)start;
    gMonthQueryTime = gGridStart + MONTH_QUERY_OFFSET;
    uint32_t selected = DateOf(t);
    // Flags of another month or day are not this one's: they clear until
    // the recording search answers for the new one.
    static uint32_t sFlagsGrid = 1, sFlagsDay = 1; // no grid or day starts there
    if (sFlagsGrid != gGridStart) {
        for (int32_t& f : gDayStatus) f = 0;
        sFlagsGrid = gGridStart;
    }
    if (sFlagsDay != selected) {
        for (int32_t i = 0; i < SKIN_IE_DATA_COUNT; ++i) IE_Data[i] = 0;
        sFlagsDay = selected;
    }
    int64_t last = Month_LastTime();
    for (int32_t i = 0; i < MONTH_CELLS; ++i) {
        int64_t day = start + (int64_t)i * MONTH_DAY;
        if (day < 0 || day > last) {
            Mon_Day[i] = MONTH_EMPTY_DAY;
            Mon_Data[i] = MONTH_EMPTY_DAY;
            continue;
        }
        Mon_Day[i] = (int32_t)(uint32_t)day;
        Mon_Data[i] = Month_GetDayStatus((uint32_t)day);
        if ((uint32_t)day == selected) Mon_Data[i] = Mon_Data[i] ? DAY_SELECTED_RECORDED : DAY_SELECTED;
    }
    gDayQueryTime = selected + MONTH_DAY_QUERY;
}

int32_t Month_GetDayStatus(uint32_t t)
{
    uint32_t index = (t - gGridStart) / MONTH_DAY;
    if (index >= MONTH_CELLS) return 0;
    return gDayStatus[index] ? 1 : 0;
}

// Day 1 of the month after (by +1) or before (by -1) t's, at t's time of
// day; t itself at either end of 2000-01 .. 2099-12.
static uint32_t StepMonth(uint32_t t, int by)
{
    TDateParts d;
    Date_FromSeconds(t, &d);
    int32_t months = (int32_t)(d.year - 2000) * 12 + (int32_t)d.month - 1 + by;
    if (months < 0 || months > 99 * 12 + 11) return t;
    TDateParts n = {(uint16_t)(2000 + months / 12), (uint16_t)(months % 12 + 1), 1, 0, 0, 0};
    return Date_ToSeconds(n) + TimeOfDay(t);
}

// A time step of the steppers: the time of day moves round the clock, the
// date stays (as the calendar shows it).
static uint32_t StepTime(uint32_t t, uint32_t seconds, bool forward)
{
    uint32_t tod = TimeOfDay(t);
    tod = forward ? (tod + seconds) % MONTH_DAY : (tod + MONTH_DAY - seconds) % MONTH_DAY;
    return DateOf(t) + tod;
}

static uint32_t StepSeconds(int32_t code) { return code == 2 ? 3600u : code == 3 ? 60u : 1u; }

static void StartRepeatHold()
{
    gHoldActive = 1;
    gHoldCode = HOLD_REPEAT;
    gPanelLevel = PANEL_LEVEL_BUSY;
}

enum { RESULT_NONE, RESULT_MONTH, RESULT_TIME, RESULT_DAY };

void Month_Update()
{
    int result = RESULT_NONE;
    uint32_t newDate = 0;
    if (IE_ST3 != 0 && (IE_ST3 < 1 || IE_ST3 > MONTH_SLOTS)) IE_ST3 = 0; // no such slot
    // A step request the calendar has no step for is dropped rather than
    // left pending, where it would hold back every send of the key panel.
    if (!(Mon_Add == -1 && Mon_Sub == -1)) {
        if (Mon_Add < 0 || Mon_Add > 4) Mon_Add = 0;
        if (Mon_Sub < 0 || Mon_Sub > 4) Mon_Sub = 0;
    }
    if (IE_ST3 != 0) {
        uint32_t slot = (uint32_t)IE_ST3 - 1;
        gCalendarTime = DateOf(gCalendarTime) + slot * MONTH_SLOT_SECONDS;
        gHoldActive = 1;
        gHoldCode = HOLD_SLOT;
        SD_Bar = 1;
        gPanelPairs[1].value = (int32_t)slot;
        result = RESULT_TIME;
    } else if (Mon_Add >= 1 && Mon_Add <= 4) {
        if (Mon_Add == 1) {
            newDate = StepMonth(gCalendarTime, 1);
            Mon_Add = 0;
            result = RESULT_MONTH;
        } else {
            gCalendarTime = StepTime(gCalendarTime, StepSeconds(Mon_Add), true);
            StartRepeatHold();
            result = RESULT_TIME;
        }
    } else if (Mon_Sub >= 1 && Mon_Sub <= 4) {
        if (Mon_Sub == 1) {
            newDate = StepMonth(gCalendarTime, -1);
            Mon_Sub = 0;
            result = RESULT_MONTH;
        } else {
            gCalendarTime = StepTime(gCalendarTime, StepSeconds(Mon_Sub), false);
            StartRepeatHold();
            result = RESULT_TIME;
        }
    } else if (Mon_Add == -1 && Mon_Sub == -1) {
        Mon_Add = Mon_Sub = 0;
        result = RESULT_TIME;
    } else if (Mon_Cmd != 0) {
        // The pressed cell wrote its day into Mon_Time; an empty cell has none.
        uint32_t day = (uint32_t)Mon_Time;
        if (Mon_Time == MONTH_EMPTY_DAY || day > Month_LastTime()) {
            Mon_Cmd = 0;
            Mon_Time = (int32_t)gCalendarTime;
        } else {
            gCalendarTime = DateOf(day) + TimeOfDay(gCalendarTime);
            Day_change = 0;
            if (IE_OK != 1 && IE_CL != 1) result = RESULT_DAY;
        }
    }

    switch (result) {
    case RESULT_MONTH:
        gCalendarTime = newDate;
        Month_BuildGrid(gCalendarTime);
        Mon_Time = (int32_t)gCalendarTime;
        break;
    case RESULT_TIME: ShowTimeOfDay(); break;
    case RESULT_DAY:
        gHoldActive = 1;
        gHoldCode = HOLD_DAY;
        gPanelLevel = PANEL_LEVEL_DAY;
        gPickedDay = gCalendarTime;
        break;
    default: break;
    }
    // An OK or a cancel takes effect in the press that brings it, also when
    // a step, a month arrow or a slot comes in the same press: the step is
    // applied, then the edit ends. Left pending, it would hold back every
    // key-panel press after it and confirm whatever time a later one left.
    if (result != RESULT_DAY) {
        if (IE_OK == 1) {
            IE_OK = 0;
            gCalendarTime = DateOf(InRange((uint32_t)Mon_Time)) + TimeOfDay(gCalendarTime);
            Month_BuildGrid(gCalendarTime);
            Mon_Time = (int32_t)gCalendarTime;
            int32_t mark = IE_Month_T;
            Month_ApplyTimeMark(4);
            IE_Month_T = 0;
            // A playback time confirmed on the Playback page plays from
            // there: with the play button pressed while editing (which
            // sends the request itself), else forwards. The new run goes
            // first, since stopping or turning keeps the place the stream
            // reached; the confirmed time then replaces it.
            if (mark == 1 && gViewRecords[0].mode == VIEW_PLAYBACK && IE_M_CH != 0) {
                uint32_t run = 0;
                int32_t direction = 0;
                View_PlayOpRun(IE_PB_PS2 != 0 ? IE_PB_PS : 3, &run, &direction);
                View_SetPlaybackRun(&gViewRecords[0], run, direction);
                View_SetPlaybackTime(&gViewRecords[0], 0, (uint32_t)Mon_P_N_T);
                if (IE_PB_PS2 == 0) KeyForm_SetPlayButton(3);
            }
        } else if (IE_CL == 1) {
            IE_CL = 0;
            IE_Month_T = 0;
        }
    }
    Month_BuildGrid((uint32_t)Mon_Time);
}

void Month_MouseEvent(int32_t, int32_t, int32_t)
{
    if (gHoldCode == HOLD_REPEAT) {
        gPanelLevel = PANEL_LEVEL_NORMAL;
        Mon_Add = Mon_Sub = IE_ST3 = 0;
        gHoldActive = 0;
        gHoldCode = HOLD_NONE;
    }
    if (Mon_Cmd != 0) {
        gPanelLevel = PANEL_LEVEL_NORMAL;
        Month_BuildGrid(gPickedDay);
        Mon_Time = (int32_t)gPickedDay;
        Mon_Cmd = 0;
        gHoldCode = HOLD_NONE;
    }
    if (IE_ST3 != 0) {
        IE_ST3 = 0;
        gRedrawRequest = REDRAW_NOW;
        uint32_t tod = (uint32_t)Mon_h % 24 * 3600 + (uint32_t)Mon_m2 % 60 * 60 + (uint32_t)Mon_s % 60;
        gCalendarTime = DateOf(gCalendarTime) + tod;
        // The slot is applied: its hold ends with the release.
        if (gHoldCode == HOLD_SLOT) gHoldCode = HOLD_NONE;
    }
}

void Month_ToggleTimeMark(int32_t n)
{
    if (n >= 1 && n <= 3) {
        IE_Month_T = IE_Month_T == n ? 0 : n;
        Month_ApplyTimeMark(IE_Month_T);
    }
    IE_SET_T = 0;
}

void Month_ApplyTimeMark(int32_t op)
{
    if (op >= 1 && op <= 3) {
        int32_t mark = op == 1 ? Mon_P_N_T : op == 2 ? Mon_B_F_T : Mon_B_T_T;
        gCalendarTime = InRange((uint32_t)mark);
        Mon_Time = (int32_t)gCalendarTime;
        Mon_Add = Mon_Sub = -1;
        Month_Update();
        return;
    }
    if (op != 4) return;
    const int64_t last = Month_LastTime();
    int64_t t = InRange(gCalendarTime);
    switch (IE_Month_T) {
    case 1:
        Mon_P_N_T = (int32_t)(uint32_t)t;
        View_SetPlaybackTime(&gViewRecords[0], 0, (uint32_t)Mon_P_N_T);
        break;
    case 2: {
        // Backup-to follows at least MONTH_MARK_GAP seconds after; at the
        // calendar's end backup-from gives way.
        if (t > last - MONTH_MARK_GAP) t = last - MONTH_MARK_GAP;
        Mon_B_F_T = (int32_t)(uint32_t)t;
        int64_t to = (uint32_t)Mon_B_T_T;
        if (to - t < MONTH_MARK_GAP) Mon_B_T_T = (int32_t)(uint32_t)(t + MONTH_MARK_GAP);
        break;
    }
    case 3: {
        if (t < MONTH_MARK_GAP) t = MONTH_MARK_GAP;
        Mon_B_T_T = (int32_t)(uint32_t)t;
        int64_t from = (uint32_t)Mon_B_F_T;
        if (t - from < MONTH_MARK_GAP) Mon_B_F_T = (int32_t)(uint32_t)(t - MONTH_MARK_GAP);
        break;
    }
    default: break;
    }
}
