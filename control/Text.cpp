// Small text functions of the viewer shell; no state.
#include "control/Text.h"
#include <cstdio>
#include <cstring>

void Text_PutZeroPadded(char* dest, uint32_t value, uint32_t width)
{
    if (!dest || width == 0) return;
    char digits[16];
    int n = snprintf(digits, sizeof digits, "%u", value);
    uint32_t pad = (uint32_t)n < width ? width - (uint32_t)n : 0;
    memset(dest, '0', pad);
    memcpy(dest + pad, digits, (size_t)n + 1);
}

int32_t Text_ToInt(const char* text)
{
    if (!text) return 0;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint32_t value = 0; // wraps like the run-time library's conversion
    while (*p >= '0' && *p <= '9') value = value * 10u + (uint32_t)(*p++ - '0');
    return (int32_t)(negative ? 0u - value : value);
}

AnsiString IntToAnsiString(int32_t value) { return std::to_string(value); }
