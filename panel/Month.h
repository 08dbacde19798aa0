// Recorder time: seconds since 2000-01-01 00:00:00 local time, years 2000 to
// 2099, in a calendar that counts 2000 as a common year. Pure functions, no
// state; the month calendar joins this file later.
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
