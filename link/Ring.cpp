// Ring arithmetic, checksums and the stopwatch. Owns gStopwatch, the 160
// start-time slots of the process clock; rings keep no state here.
#include "link/Ring.h"
#include "link/Bytes.h"
#include "platform/win/Win.h"
#include <cmath>
#include <cstring>

uint32_t gStopwatch[STOPWATCH_SLOTS];

uint32_t Ring_Used(uint32_t writeIndex, uint32_t readIndex, uint32_t size)
{
    if (writeIndex >= readIndex) return writeIndex - readIndex;
    return writeIndex + size - readIndex;
}

uint32_t Ring_Free95(uint32_t writeIndex, uint32_t readIndex, uint32_t size)
{
    uint32_t used = Ring_Used(writeIndex, readIndex, size);
    if (used >= size) return 0;
    return (uint32_t)(((uint64_t)(size - used) * 95u) / 100u);
}

// Both indices inside the data area.
static bool IndicesValid(uint32_t writeIndex, uint32_t readIndex, uint32_t size)
{
    return writeIndex < size && readIndex < size;
}

int Ring_AdvanceWrite(uint32_t n, uint32_t* writeIndex, uint32_t readIndex, uint32_t size)
{
    if (!writeIndex || !IndicesValid(*writeIndex, readIndex, size)) return -1;
    if (n > Ring_Free95(*writeIndex, readIndex, size)) return -1;
    uint32_t w = *writeIndex + n;
    if (w >= size) w -= size;
    *writeIndex = w;
    return 0;
}

int Ring_AdvanceRead(uint32_t n, uint32_t writeIndex, uint32_t* readIndex, uint32_t size)
{
    if (!readIndex || !IndicesValid(writeIndex, *readIndex, size)) return -1;
    if (n > Ring_Used(writeIndex, *readIndex, size)) return -1;
    uint32_t r = *readIndex + n;
    if (r >= size) r -= size;
    *readIndex = r;
    return 0;
}

int Ring_StepBackRead(uint32_t n, uint32_t* index, uint32_t size)
{
    if (!index || n >= size || *index >= size) return -1;
    if (*index < n) *index = *index + size - n;
    else *index -= n;
    return 0;
}

int Ring_Write(const uint8_t* source, uint8_t* data, uint32_t n, uint32_t* writeIndex, uint32_t* readIndex,
               uint32_t size)
{
    if (!source || !data || !writeIndex || !readIndex || n == 0) return -1;
    uint32_t w = *writeIndex;
    if (!IndicesValid(w, *readIndex, size)) return -1;
    if (n > Ring_Free95(w, *readIndex, size)) return -1;
    uint32_t first = size - w;
    if (n >= first) {
        memcpy(data + w, source, first);
        if (n > first) memcpy(data, source + first, n - first);
    } else {
        memcpy(data + w, source, n);
    }
    return Ring_AdvanceWrite(n, writeIndex, *readIndex, size);
}

int Ring_Read(const uint8_t* data, uint8_t* destination, uint32_t n, uint32_t* writeIndex, uint32_t* readIndex,
              uint32_t size)
{
    if (!data || !destination || !writeIndex || !readIndex || n == 0) return -1;
    uint32_t r = *readIndex;
    if (!IndicesValid(*writeIndex, r, size)) return -1;
    if (n > Ring_Used(*writeIndex, r, size)) return -1;
    uint32_t first = size - r;
    if (n >= first) {
        memcpy(destination, data + r, first);
        if (n > first) memcpy(destination + first, data, n - first);
    } else {
        memcpy(destination, data + r, n);
    }
    return Ring_AdvanceRead(n, *writeIndex, readIndex, size);
}

uint32_t Checksum_Bytes(const void* buffer, uint32_t length)
{
    if (!buffer || length == 0) return 0;
    const uint8_t* p = (const uint8_t*)buffer;
    uint32_t sum = 0, i = 0;
    // Eight bytes a step: byte pairs into four 16-bit lanes (each at most
    // 510), the lanes added by the multiply into the top lane.
    for (; i + 8 <= length; i += 8) {
        uint64_t w;
        memcpy(&w, p + i, 8);
        uint64_t pairs = (w & 0x00FF00FF00FF00FFull) + ((w >> 8) & 0x00FF00FF00FF00FFull);
        sum += (uint32_t)((pairs * 0x0001000100010001ull) >> 48);
    }
    for (; i < length; ++i) sum += p[i];
    return sum;
}

uint32_t Checksum_SparseWords(const void* buffer, uint32_t length)
{
    if (!buffer || length == 0) return 0;
    const uint8_t* p = (const uint8_t*)buffer;
    uint32_t sum = 0;
    uint32_t kilobytes = length / 1024u;
    for (uint32_t k = 0; k < kilobytes; ++k) {
        sum += GetU32(p + (size_t)k * 1024u);
    }
    return sum;
}

uint32_t Checksum_Message(const void* buffer, uint32_t length)
{
    if (length <= 1024u) return Checksum_Bytes(buffer, length);
    return Checksum_SparseWords(buffer, length);
}

uint32_t Stopwatch_Start(uint32_t slot)
{
    uint32_t now = GetTickCount();
    if (slot < STOPWATCH_SLOTS) gStopwatch[slot] = now;
    return now;
}

double Stopwatch_Elapsed(uint32_t slot)
{
    if (slot >= STOPWATCH_SLOTS) return 0.0;
    uint32_t diff = GetTickCount() - gStopwatch[slot];
    return (double)(int64_t)diff;
}

uint32_t Stopwatch_ToHundredths(double ms)
{
    // Negative, NaN and out-of-range readings cannot come from Elapsed;
    // keep the conversion defined for them anyway.
    if (!(ms > 0.0)) return 0;
    if (ms >= 4294967296.0) ms = std::fmod(ms, 4294967296.0);
    uint32_t whole = (uint32_t)ms;
    return whole * 100u;
}

uint32_t Stopwatch_Now() { return Stopwatch_ToHundredths(Stopwatch_Elapsed(1)); }
