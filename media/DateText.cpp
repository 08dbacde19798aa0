// Date and time texts of recorder times. Owns gDateOrder; the formatter
// builds each text in its own 32-byte scratch before copying it out, so
// a short caller buffer is never written past its end.
#include "media/DateText.h"
#include "panel/Month.h"
#include "platform/vcl/StdCtrls.h"
#include <cstring>

uint32_t gDateOrder = 0;

void Text_PutDigits(char* dest, uint32_t value, uint32_t digits)
{
    if (!dest) return;
    for (uint32_t i = digits; i > 0; --i) {
        dest[i - 1] = (char)('0' + value % 10);
        value /= 10;
    }
}

uint32_t Text_AppendNumberSep(char* dest, uint32_t value, uint32_t digits, uint32_t last)
{
    Text_PutDigits(dest, value, digits);
    dest[digits] = last ? ' ' : '/';
    return digits + 1;
}

uint32_t Text_AppendNumberColon(char* dest, uint32_t value, uint32_t digits, uint32_t last)
{
    Text_PutDigits(dest, value, digits);
    if (!last) dest[digits] = ':';
    return digits + 1;
}

void Text_FormatDateTime(uint32_t time, char* buffer, uint32_t size)
{
    if (!buffer || size == 0) return;
    TDateParts d;
    Date_FromSeconds(time, &d);

    char text[32];
    memset(text, 0, sizeof text);
    uint32_t n = 0;
    switch (gDateOrder) {
    case DATE_ORDER_DAY_FIRST:
        n += Text_AppendNumberSep(text + n, d.day, 2, 0);
        n += Text_AppendNumberSep(text + n, d.month, 2, 0);
        n += Text_AppendNumberSep(text + n, d.year, 4, 1);
        break;
    case DATE_ORDER_MONTH_FIRST:
        n += Text_AppendNumberSep(text + n, d.month, 2, 0);
        n += Text_AppendNumberSep(text + n, d.day, 2, 0);
        n += Text_AppendNumberSep(text + n, d.year, 4, 1);
        break;
    default:
        n += Text_AppendNumberSep(text + n, d.year, 4, 0);
        n += Text_AppendNumberSep(text + n, d.month, 2, 0);
        n += Text_AppendNumberSep(text + n, d.day, 2, 1);
        break;
    }
    n += Text_AppendNumberColon(text + n, d.hour, 2, 0);
    n += Text_AppendNumberColon(text + n, d.minute, 2, 0);
    Text_AppendNumberColon(text + n, d.second, 2, 1);

    // Every blank but the one between date and time is a zero digit.
    for (uint32_t i = 0; i < DATE_TEXT_LENGTH; ++i)
        if (text[i] == ' ') text[i] = '0';
    text[10] = ' ';

    memset(buffer, 0, size);
    uint32_t copy = size - 1 < (uint32_t)DATE_TEXT_LENGTH ? size - 1 : (uint32_t)DATE_TEXT_LENGTH;
    memcpy(buffer, text, copy);
}

void Osd_SetTimeCaption(uint32_t time, TLabel* label)
{
    if (!label) return;
    char text[64];
    Text_FormatDateTime(time, text, sizeof text);
    label->SetCaption(text);
}
