// Recorder time: the calendar's edge cases, the whole century round trip,
// and a check of dates and weekdays against the real calendar.
#include "panel/Month.h"
#include <gtest/gtest.h>

static TDateParts D(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return TDateParts{(uint16_t)y, (uint16_t)mo, (uint16_t)d, (uint16_t)h, (uint16_t)mi, (uint16_t)s};
}

static bool Same(const TDateParts& a, const TDateParts& b)
{
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
           a.second == b.second;
}

static std::string Text(const TDateParts& p)
{
    char t[40];
    snprintf(t, sizeof t, "%04u-%02u-%02u %02u:%02u:%02u", p.year, p.month, p.day, p.hour, p.minute, p.second);
    return t;
}

TEST(RecorderTime, ToSeconds)
{
    struct Case {
        TDateParts date;
        uint32_t seconds;
    } const cases[] = {
        {D(2000, 1, 1), 0},
        {D(2000, 3, 1), 59u * 86400}, // 2000 is a common year
        {D(2001, 1, 1), 365u * 86400},
        {D(2004, 3, 1), (4 * 365u + 31 + 29) * 86400}, // 2004 is a leap year
        {D(2000, 1, 1, 23, 59, 59), 86399},
        {D(2000, 1, 2, 25, 0, 0), 86400u + 25 * 3600}, // hours are not clamped
        {D(2099, 12, 31, 23, 59, 59), 36524u * 86400 - 1},
    };
    for (const Case& c : cases) EXPECT_EQ(Date_ToSeconds(c.date), c.seconds) << Text(c.date);
}

TEST(RecorderTime, ToSecondsClampsLikeTheNearestValidField)
{
    struct Case {
        TDateParts given, like;
    } const cases[] = {
        {D(1999, 5, 5, 1, 2, 3), D(2000, 5, 5, 1, 2, 3)},
        {D(0, 1, 1), D(2000, 1, 1)},
        {D(2150, 7, 1), D(2099, 7, 1)},
        {D(2010, 0, 9), D(2010, 1, 9)},
        {D(2010, 13, 9), D(2010, 12, 9)},
        {D(2010, 4, 0), D(2010, 4, 1)},
        {D(2010, 1, 32), D(2010, 2, 1)}, // day 32 runs into the next month
        {D(2010, 1, 40), D(2010, 2, 1)}, // and is the last day index kept
    };
    for (const Case& c : cases) EXPECT_EQ(Date_ToSeconds(c.given), Date_ToSeconds(c.like)) << Text(c.given);
}

TEST(RecorderTime, FromSeconds)
{
    struct Case {
        uint32_t seconds;
        TDateParts date;
    } const cases[] = {
        {0, D(2000, 1, 1)},
        {59u * 86400 - 1, D(2000, 2, 28, 23, 59, 59)},
        {59u * 86400, D(2000, 3, 1)},
        {(4 * 365u + 31 + 28) * 86400, D(2004, 2, 29)},
        {36524u * 86400 - 1, D(2099, 12, 31, 23, 59, 59)},
        {36524u * 86400, D(2099, 12, 31, 23, 59, 59)},        // saturates from here
        {36524u * 86400 + 3661, D(2099, 12, 31, 23, 59, 59)}, // time of day discarded
        {0xFFFFFFFFu, D(2099, 12, 31, 23, 59, 59)},
    };
    for (const Case& c : cases) {
        TDateParts p{};
        Date_FromSeconds(c.seconds, &p);
        EXPECT_TRUE(Same(p, c.date)) << c.seconds << " gave " << Text(p) << ", want " << Text(c.date);
    }
}

// Gregorian date of a day count from 1970-01-01 (the well-known
// days-to-civil algorithm), used as the real calendar to compare with.
static void CivilFromDays(int64_t z, int* y, int* m, int* d)
{
    z += 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = (int)(doy - (153 * mp + 2) / 5 + 1);
    *m = (int)(mp < 10 ? mp + 3 : mp - 9);
    *y = (int)(yoe + era * 400 + (*m <= 2));
}

// From 2000-03-01 on, recorder day n is real day n + 1 after 2000-01-01
// (the calendar's missing 2000-02-29), and (t / 86400) mod 7 is the real
// weekday, 0 = Sunday.
TEST(RecorderTime, EveryDayMatchesTheRealCalendarFromMarch2000)
{
    const int64_t days1970To2000 = 10957; // 2000-01-01, a Saturday
    for (uint32_t day = 59; day < 36524; ++day) {
        int y, m, d;
        CivilFromDays(days1970To2000 + day + 1, &y, &m, &d);
        uint32_t t = day * 86400u + 43210;
        TDateParts p{};
        Date_FromSeconds(t, &p);
        ASSERT_TRUE(Same(p, D(y, m, d, 12, 0, 10))) << "day " << day << " gave " << Text(p);
        int realWeekday = (int)((days1970To2000 + day + 1 + 4) % 7); // 1970-01-01 was a Thursday
        ASSERT_EQ((int)((t / 86400u) % 7), realWeekday) << Text(p);
        ASSERT_EQ(Date_ToSeconds(p), t);
    }
    EXPECT_EQ((5097600u / 86400u) % 7, 3u); // 2000-03-01 is a Wednesday
}

TEST(RecorderTime, RoundTripOverTheCentury)
{
    const uint32_t end = 36524u * 86400u;
    const uint32_t step = 7919; // prime, so every second of the day is visited in turn
    for (uint64_t t = 0; t < end; t += step) {
        TDateParts p{};
        Date_FromSeconds((uint32_t)t, &p);
        ASSERT_EQ(Date_ToSeconds(p), (uint32_t)t) << Text(p);
        ASSERT_GE(p.year, 2000);
        ASSERT_LE(p.year, 2099);
    }
    TDateParts p{};
    Date_FromSeconds(end - 1, &p);
    EXPECT_EQ(Date_ToSeconds(p), end - 1);
}

TEST(StrDigitsToInt, SkipsEverythingButDigits)
{
    struct Case {
        const char* text;
        uint32_t value;
    } const cases[] = {
        {"1-2a3", 123},    {"", 0}, {"80x", 80}, {"007", 7}, {" 1 2", 12}, {"4294967295", 4294967295u},
        {"4294967296", 0}, // wraps
        {nullptr, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(Str_DigitsToInt(c.text), c.value) << (c.text ? c.text : "(null)");
}
