// Date and time texts of recorder times: the time labels, the key panel's
// date field and the time marks all show them. Owns the process-wide
// date-order setting gDateOrder (also read by the movie writer's text track).
#pragma once
#include <cstdint>

class TLabel;

// Date orders; any other value puts the year first.
enum { DATE_ORDER_DAY_FIRST = 1, DATE_ORDER_MONTH_FIRST = 2 };

// Length of a formatted text without its terminator, and the smallest
// buffer that holds all of it.
enum { DATE_TEXT_LENGTH = 19, DATE_TEXT_SIZE = 20 };

extern uint32_t gDateOrder;

// value as exactly digits decimal digits, zero-filled, no terminator; a
// value with more digits keeps its lowest ones.
void Text_PutDigits(char* dest, uint32_t value, uint32_t digits);
// Writes value with exactly digits digits, then " " when last, else "/".
// Returns digits + 1.
uint32_t Text_AppendNumberSep(char* dest, uint32_t value, uint32_t digits, uint32_t last);
// The same with ":" after the digits unless last (then nothing follows).
uint32_t Text_AppendNumberColon(char* dest, uint32_t value, uint32_t digits, uint32_t last);
// "yyyy/mm/dd hh:mm:ss" (or day or month first by gDateOrder) into buffer,
// which is cleared first. A buffer below 20 bytes gets as much of the text
// as fits before its terminating zero; size 0 writes nothing.
void Text_FormatDateTime(uint32_t time, char* buffer, uint32_t size);
// A display's time label shows time; nothing without a label.
void Osd_SetTimeCaption(uint32_t time, TLabel* label);
