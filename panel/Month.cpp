// Recorder time conversions. Owns only the constant table of month lengths;
// everything here is a pure function.
#include "panel/Month.h"

static const uint32_t kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// The recorder's leap rule, applied to the offset from 2000 or to the full
// year alike: divisible by 4 and not by 100 (so 2000 is a common year).
static bool IsLeap(uint32_t y)
{
    return y % 4 == 0 && y % 100 != 0;
}

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
