// Clocks and small system calls. Owns the two replaceable clock sources.
#include "platform/win/Win.h"
#include <chrono>
#include <ctime>
#include <thread>

static TTickSource gTickSource = nullptr;
static TTimeSource gTimeSource = nullptr;

uint32_t GetTickCount()
{
    if (gTickSource) return gTickSource();
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return (uint32_t)duration_cast<milliseconds>(steady_clock::now() - start).count();
}

int64_t Win_TimeNow()
{
    if (gTimeSource) return gTimeSource();
    return (int64_t)time(nullptr);
}

void Win_SetTickSource(TTickSource source) { gTickSource = source; }
void Win_SetTimeSource(TTimeSource source) { gTimeSource = source; }

void Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
