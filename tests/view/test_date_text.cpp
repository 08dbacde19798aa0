// Date and time texts: every date order, zero-filled pieces, the edges of
// the recorder's calendar, short buffers and the time label.
#include "control/Text.h"
#include "media/DateText.h"
#include "panel/Month.h"
#include "platform/vcl/StdCtrls.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>

namespace {

uint32_t At(uint16_t y, uint16_t mo, uint16_t d, uint16_t h, uint16_t mi, uint16_t s)
{
    return Date_ToSeconds(TDateParts{y, mo, d, h, mi, s});
}

std::string Format(uint32_t time, uint32_t order)
{
    uint32_t saved = gDateOrder;
    gDateOrder = order;
    char text[64];
    memset(text, 'x', sizeof text);
    Text_FormatDateTime(time, text, sizeof text);
    gDateOrder = saved;
    for (size_t i = strlen(text); i < sizeof text; ++i) EXPECT_EQ(text[i], 0) << "byte " << i;
    return text;
}

TEST(DateText, EachDateOrderWithZeroFilledPieces)
{
    const struct {
        uint32_t time;
        const char *yearFirst, *dayFirst, *monthFirst;
    } cases[] = {
        {At(2012, 3, 5, 7, 8, 9), "2012/03/05 07:08:09", "05/03/2012 07:08:09", "03/05/2012 07:08:09"},
        {0, "2000/01/01 00:00:00", "01/01/2000 00:00:00", "01/01/2000 00:00:00"},
        // The calendar counts 2000 as a common year: February ends on the 28th.
        {59u * 86400 - 1, "2000/02/28 23:59:59", "28/02/2000 23:59:59", "02/28/2000 23:59:59"},
        {59u * 86400, "2000/03/01 00:00:00", "01/03/2000 00:00:00", "03/01/2000 00:00:00"},
        {At(2004, 2, 29, 12, 30, 45), "2004/02/29 12:30:45", "29/02/2004 12:30:45", "02/29/2004 12:30:45"},
        {At(2011, 12, 31, 23, 59, 59), "2011/12/31 23:59:59", "31/12/2011 23:59:59", "12/31/2011 23:59:59"},
        // Beyond the end of 2099 the date stays at its last second.
        {0xFFFFFFFFu, "2099/12/31 23:59:59", "31/12/2099 23:59:59", "12/31/2099 23:59:59"},
        {At(2099, 12, 31, 23, 59, 59) + 1, "2099/12/31 23:59:59", "31/12/2099 23:59:59", "12/31/2099 23:59:59"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.time);
        EXPECT_EQ(Format(k.time, 0), k.yearFirst);
        EXPECT_EQ(Format(k.time, DATE_ORDER_DAY_FIRST), k.dayFirst);
        EXPECT_EQ(Format(k.time, DATE_ORDER_MONTH_FIRST), k.monthFirst);
        EXPECT_EQ(Format(k.time, 3), k.yearFirst); // any other setting puts the year first
        EXPECT_EQ(Format(k.time, 0xFFFFFFFFu), k.yearFirst);
    }
}

TEST(DateText, ExactBufferShortBufferAndNone)
{
    const uint32_t t = At(2012, 3, 5, 7, 8, 9);
    // 20 bytes hold the 19 characters and the terminator.
    char exact[24];
    memset(exact, '#', sizeof exact);
    Text_FormatDateTime(t, exact, 20);
    EXPECT_STREQ(exact, "2012/03/05 07:08:09");
    for (int i = 20; i < 24; ++i) EXPECT_EQ(exact[i], '#');

    // A short buffer takes what fits and its terminator, nothing beyond.
    const struct {
        uint32_t size;
        const char* text;
    } shortCases[] = {
        {1, ""},
        {5, "2012"},
        {11, "2012/03/05"},
        {19, "2012/03/05 07:08:0"},
    };
    for (const auto& k : shortCases) {
        SCOPED_TRACE(k.size);
        char b[32];
        memset(b, '#', sizeof b);
        Text_FormatDateTime(t, b, k.size);
        EXPECT_STREQ(b, k.text);
        for (uint32_t i = k.size; i < sizeof b; ++i) EXPECT_EQ(b[i], '#');
    }
    char none[4] = {'#', '#', '#', '#'};
    Text_FormatDateTime(t, none, 0);
    EXPECT_EQ(memcmp(none, "####", 4), 0);
    Text_FormatDateTime(t, nullptr, 64); // nothing to write into
}

TEST(DateText, PiecesAndSeparators)
{
    char b[16];
    memset(b, '#', sizeof b);
    EXPECT_EQ(Text_AppendNumberSep(b, 7, 2, 0), 3u);
    EXPECT_EQ(std::string(b, 4), "07/#");
    EXPECT_EQ(Text_AppendNumberSep(b, 2012, 4, 1), 5u);
    EXPECT_EQ(std::string(b, 6), "2012 #");
    memset(b, '#', sizeof b);
    EXPECT_EQ(Text_AppendNumberColon(b, 5, 2, 0), 3u);
    EXPECT_EQ(std::string(b, 4), "05:#");
    memset(b, '#', sizeof b);
    EXPECT_EQ(Text_AppendNumberColon(b, 59, 2, 1), 3u); // the last piece has nothing after it
    EXPECT_EQ(std::string(b, 3), "59#");
    // Exactly that many digits: zero-filled, a longer value keeps its lowest.
    memset(b, '#', sizeof b);
    Text_PutDigits(b, 12345, 2);
    EXPECT_EQ(std::string(b, 3), "45#");
    Text_PutDigits(b, 0, 4);
    EXPECT_EQ(std::string(b, 5), "0000#");
    Text_PutDigits(b, 9, 0);
    EXPECT_EQ(std::string(b, 5), "0000#");
}

TEST(DateText, TimeLabelShowsTheText)
{
    TLabel label(nullptr);
    Osd_SetTimeCaption(At(2020, 6, 7, 8, 9, 10), &label);
    EXPECT_EQ(label.Caption(), "2020/06/07 08:09:10");
    Osd_SetTimeCaption(0, nullptr); // no label: nothing happens
}

} // namespace
