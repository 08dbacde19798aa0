// The Windows calls the viewer makes, on this machine. Clocks first: the
// process clock behind the stopwatch and the wall clock behind the
// credential block; tests may replace either.
#pragma once
#include <cstdint>

// Milliseconds of a monotonic process clock (the tick count).
uint32_t GetTickCount();
// Current local time in seconds since 1970 (what time() gives).
int64_t Win_TimeNow();

// Test seams: a null function restores the real clock.
typedef uint32_t (*TTickSource)();
typedef int64_t (*TTimeSource)();
void Win_SetTickSource(TTickSource source);
void Win_SetTimeSource(TTimeSource source);

void Sleep(uint32_t ms);

// Windows Sockets options the link sets on its client sockets.
typedef intptr_t SOCKET;
enum { WIN_SO_SNDBUF = 0x1001, WIN_SO_RCVBUF = 0x1002 };
// setsockopt(s, SOL_SOCKET, option, &value, sizeof value); 0 or -1.
int Win_SetSocketOption(SOCKET s, int option, int value);
