// Recorder time: seconds since 2000-01-01 00:00:00 local time, years 2000 to
// 2099, in a calendar that counts 2000 as a common year (pure functions);
// and the month calendar of the key panel: the 42-day grid with its day
// states, the 48 half-hour slots of the chosen day, the month and
// time-of-day steppers and the three time marks. Owns the calendar's
// times, gDayStatus and the grid's start and query times; the marks and the
// cells the skin shows are skin variables (panel/SkinVars.h).
#pragma once
#include <cstdint>

// A broken-down recorder date; six u16 fields in this order.
struct TDateParts {
    uint16_t year;   // full year, 2000..2099
    uint16_t month;  // 1..12
    uint16_t day;    // 1..31
    uint16_t hour;   // 0..23
    uint16_t minute; // 0..59
    uint16_t second; // 0..59
};

// Recorder time of a date; year, month and day are clamped into range,
// a day past the month's end runs on into the next month.
uint32_t Date_ToSeconds(TDateParts d);
// Date of a recorder time; times past the end of 2099 give 2099-12-31 23:59:59.
void Date_FromSeconds(uint32_t t, TDateParts* out);
// Decimal value of the digit characters of s (others skipped); wraps at 32 bits.
uint32_t Str_DigitsToInt(const char* s);

// --- The month calendar (Month.cpp) -----------------------------------------

enum {
    MONTH_CELLS = 42,
    MONTH_SLOTS = 48,
    MONTH_DAY = 86400,
    MONTH_SLOT_SECONDS = 1800,
    MONTH_QUERY_OFFSET = 1900800, // 22 days: always inside the month shown
    MONTH_DAY_QUERY = 45000,      // 12:30:00 of the chosen day
    MONTH_MARK_GAP = 5,           // backup-to stays this far after backup-from
    MONTH_EMPTY_DAY = -1,         // Mon_Day and Mon_Data of a cell outside 2000..2099
};
// Mon_Data's cell states.
enum { DAY_NONE = 0, DAY_RECORDED = 1, DAY_SELECTED = 4, DAY_SELECTED_RECORDED = 5 };

// The last second the calendar holds: 2099-12-31 23:59:59.
uint32_t Month_LastTime();

extern uint32_t gCalendarTime;          // the time being edited
extern uint32_t gPickedDay;             // the day of the last day press, with the edited time of day
extern uint32_t gGridStart;             // time of cell 0 (as unsigned: before 2000 it wraps)
extern uint32_t gMonthQueryTime;        // gGridStart + 22 days
extern uint32_t gDayQueryTime;          // the selected day at 12:30:00
extern int32_t gDayStatus[MONTH_CELLS]; // recordings per cell, from the recording search

// The time marks the backup controller starts from: backup-from and
// backup-to (Mon_B_F_T, Mon_B_T_T), at least MONTH_MARK_GAP seconds apart
// when set through the calendar, and the playback time (Mon_P_N_T).
struct TCalendarMarks {
    uint32_t playback;
    uint32_t backupFrom;
    uint32_t backupTo;
};
TCalendarMarks Month_Marks();

// Panel start-up: the calendar at the local time now.
void Month_Init();
// Shows t's month with t's day selected; cells outside 2000..2099 are empty.
void Month_BuildGrid(uint32_t t);
// Recordings of the cell holding t (0 outside the 42 cells).
int32_t Month_GetDayStatus(uint32_t t);
// After every key-panel press: the calendar's requests.
void Month_Update();
// After every release on the key panel (the code is not used).
void Month_MouseEvent(int32_t code, int32_t x, int32_t y);
// 1, 2, 3: show mark n for editing; 4: store the edited time into the mark
// being edited (the playback mark also goes to the view).
void Month_ApplyTimeMark(int32_t op);
// A time-mark button (1-3): edit that mark, or stop editing it.
void Month_ToggleTimeMark(int32_t n);
