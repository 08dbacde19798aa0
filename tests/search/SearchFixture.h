// The recording search and the calendar over the view fixture: the search
// module registered, a clean calendar, and glibc's calendar as the oracle
// of dates (it has 2000-02-29, which the recorder's calendar lacks).
#pragma once
#include "../view/ViewFixture.h"
#include "media/Pbba.h"
#include "panel/Ie_com.h"
#include "panel/Month.h"
#include "panel/Yuv2.h"
#include <ctime>

class SearchTest : public ViewTest {
protected:
    void SetUp() override
    {
        ViewTest::SetUp();
        Yuv2_ResetSkins();
        Yuv2_ResetMouse();
        memset(gDayStatus, 0, sizeof gDayStatus);
        Pbba_Init();
        gCalendarTime = gPickedDay = 0;
        Queued(0);
    }
};

// Recorder time of a date, through the recorder's own conversion.
inline uint32_t Rt(int y, int m, int d, int h = 0, int mi = 0, int s = 0)
{
    return Date_ToSeconds(TDateParts{(uint16_t)y, (uint16_t)m, (uint16_t)d, (uint16_t)h, (uint16_t)mi, (uint16_t)s});
}

// glibc's calendar.
inline time_t RealUtc(int y, int m, int d)
{
    struct tm t = {};
    t.tm_year = y - 1900;
    t.tm_mon = m - 1;
    t.tm_mday = d;
    return timegm(&t);
}
inline int RealWeekday(int y, int m, int d)
{
    time_t x = RealUtc(y, m, d);
    struct tm o;
    gmtime_r(&x, &o);
    return o.tm_wday;
}
inline int RealMonthLength(int y, int m)
{
    time_t x = RealUtc(y, m + 1, 0); // day 0 of the next month: the last of this one
    struct tm o;
    gmtime_r(&x, &o);
    return o.tm_mday;
}
// Recorder time of a date from 2000-03-01 on, by glibc: the days since
// 2000-01-01 less the one day 2000-02-29 that the recorder does not count.
inline uint32_t OracleTime(int y, int m, int d)
{
    long days = (long)((RealUtc(y, m, d) - RealUtc(2000, 1, 1)) / 86400);
    return (uint32_t)(days - 1) * 86400u;
}
