// Small text functions of the viewer shell.
#pragma once
#include <cstdint>
#include "platform/vcl/Vcl.h"

// value in decimal with at least width digits, zero-padded, then a NUL;
// width 0 writes nothing at all.
void Text_PutZeroPadded(char* dest, uint32_t value, uint32_t width);
// atoi: leading white space and sign, digits up to the first other character.
int32_t Text_ToInt(const char* text);
AnsiString IntToAnsiString(int32_t value);
