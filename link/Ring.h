// Byte rings with one producer and one consumer, the two message checksums
// and the stopwatch clock. Owns the process-wide stopwatch slots
// gStopwatch; the rings' storage belongs to whoever owns each descriptor.
#pragma once
#include <cstdint>

// Descriptor of the link's rings: send ring, receive buffers, frame ring.
struct TRingDesc {
    uint32_t writeIndex; // where the next byte is stored
    uint32_t readIndex;  // where the next byte is taken
    uint32_t size;       // bytes in the data area
    uint8_t* data;       // allocated once by the owner, never freed
};

// Descriptor of the stream, reorder and sound rings; same fields.
struct TFrameRing {
    uint32_t writeIndex;
    uint32_t readIndex;
    uint32_t size;
    uint8_t* data;
};

// Bytes stored in a ring.
uint32_t Ring_Used(uint32_t writeIndex, uint32_t readIndex, uint32_t size);
// Bytes one write may take: 95 % of the truly free bytes, truncated.
uint32_t Ring_Free95(uint32_t writeIndex, uint32_t readIndex, uint32_t size);
// The calls below return 0, or -1 and change nothing.
int Ring_AdvanceWrite(uint32_t n, uint32_t* writeIndex, uint32_t readIndex, uint32_t size);
int Ring_AdvanceRead(uint32_t n, uint32_t writeIndex, uint32_t* readIndex, uint32_t size);
// Gives back n bytes that were read only to look at them.
int Ring_StepBackRead(uint32_t n, uint32_t* index, uint32_t size);
int Ring_Write(const uint8_t* source, uint8_t* data, uint32_t n, uint32_t* writeIndex, uint32_t* readIndex,
               uint32_t size);
int Ring_Read(const uint8_t* data, uint8_t* destination, uint32_t n, uint32_t* writeIndex, uint32_t* readIndex,
              uint32_t size);

// Wrapping sum of the bytes.
uint32_t Checksum_Bytes(const void* buffer, uint32_t length);
// Wrapping sum of the little-endian words at offsets 0, 1024, 2048, ...,
// one per whole kilobyte.
uint32_t Checksum_SparseWords(const void* buffer, uint32_t length);
// The checksum of a module message's bytes from offset 32 on: byte sum up
// to 1,024 bytes, sparse words above.
uint32_t Checksum_Message(const void* buffer, uint32_t length);

enum { STOPWATCH_SLOTS = 160 };
// Start times in ms of the process clock. Slot 1 is the viewer's
// reference clock; slots 10..26 belong to the stream channels 0..16.
extern uint32_t gStopwatch[STOPWATCH_SLOTS];
// slot := process clock in ms; returns that value.
uint32_t Stopwatch_Start(uint32_t slot);
// Milliseconds since the slot was started.
double Stopwatch_Elapsed(uint32_t slot);
// Elapsed ms to a reading in units of 10 microseconds (100000 is 1 s);
// wraps at 32 bits.
uint32_t Stopwatch_ToHundredths(double ms);
// The reading every periodic task stamps with: ToHundredths(Elapsed(1)).
uint32_t Stopwatch_Now();
