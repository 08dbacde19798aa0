// Ring arithmetic at the wrap and the 95 % rule, the two checksums and the
// stopwatch units.
#include "LinkFixture.h"
#include <deque>

struct UsedCase {
    uint32_t w, r, size, used, free95;
};

TEST(Ring, UsedAndFree95)
{
    const UsedCase cases[] = {
        {0, 0, 16384, 0, 15564},       // empty 16 KB ring
        {15564, 0, 16384, 15564, 779}, // after the largest single write
        {2, 10, 16, 8, 7},             // wrapped: 2 + 16 - 10
        {10, 2, 16, 8, 7},
        {0, 1, 16, 15, 0}, // one byte short of full
        {5, 5, 16, 0, 15}, // empty anywhere
        {0, 0, 100, 0, 95},
        {99, 0, 100, 99, 0},
    };
    for (const UsedCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "w=" << c.w << " r=" << c.r << " size=" << c.size);
        EXPECT_EQ(Ring_Used(c.w, c.r, c.size), c.used);
        EXPECT_EQ(Ring_Free95(c.w, c.r, c.size), c.free95);
    }
}

struct WriteCase {
    uint32_t size, w, r, n;
    int result;
    uint32_t wAfter;
};

TEST(Ring, WriteAtTheWrapAndThe95Rule)
{
    const WriteCase cases[] = {
        {16384, 0, 0, 15565, -1, 0},                            // one byte over 95 %: refused
        {16384, 0, 0, 15564, 0, 15564},                         // exactly 95 %
        {16, 12, 12, 4, 0, 0},                                  // ends exactly at the end: index 0
        {16, 12, 12, 7, 0, 3},                                  // wraps: 4 at the end, 3 at the start
        {16, 12, 12, 15, 0, 11},                                // 15 = 95 % of 16, wraps
        {16, 12, 12, 16, -1, 12},                               // 16 > 95 % of 16
        {16, 3, 4, 0, -1, 3},                                   // full but for one byte; n = 0 refused
        {16, 3, 4, 1, -1, 3},                                   // 95 % of 1 free byte is 0
        {100, 90, 50, 57, 0, 47},                               // 60 free -> 57 allowed, wraps
        {100, 90, 50, 58, -1, 90},      {16, 16, 0, 1, -1, 16}, // index outside the ring
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "size=" << c.size << " w=" << c.w << " r=" << c.r << " n=" << c.n);
        std::vector<uint8_t> data(c.size, 0xEE), before;
        std::vector<uint8_t> src(c.n + 1);
        for (size_t i = 0; i < src.size(); ++i) src[i] = (uint8_t)(i + 1);
        before = data;
        uint32_t w = c.w, r = c.r;
        EXPECT_EQ(Ring_Write(src.data(), data.data(), c.n, &w, &r, c.size), c.result);
        EXPECT_EQ(w, c.wAfter);
        EXPECT_EQ(r, c.r);
        if (c.result != 0) {
            EXPECT_EQ(data, before); // a failed write changes nothing
            continue;
        }
        for (uint32_t i = 0; i < c.n; ++i) EXPECT_EQ(data[(c.w + i) % c.size], src[i]) << "byte " << i;
        // Nothing outside the written span is touched.
        for (uint32_t i = c.n; i < c.size; ++i) EXPECT_EQ(data[(c.w + i) % c.size], 0xEE);
    }
}

TEST(Ring, WriteRefusesNullArguments)
{
    uint8_t data[16] = {0}, src[4] = {1, 2, 3, 4};
    uint32_t w = 0, r = 0;
    EXPECT_EQ(Ring_Write(nullptr, data, 4, &w, &r, 16), -1);
    EXPECT_EQ(Ring_Write(src, nullptr, 4, &w, &r, 16), -1);
    EXPECT_EQ(Ring_Write(src, data, 4, nullptr, &r, 16), -1);
    EXPECT_EQ(Ring_Write(src, data, 4, &w, nullptr, 16), -1);
    EXPECT_EQ(Ring_Read(nullptr, src, 1, &w, &r, 16), -1);
    EXPECT_EQ(Ring_AdvanceWrite(1, nullptr, 0, 16), -1);
    EXPECT_EQ(Ring_AdvanceRead(0, 0, nullptr, 16), -1);
    EXPECT_EQ(w, 0u);
}

struct ReadCase {
    uint32_t size, w, r, n;
    int result;
    uint32_t rAfter;
};

TEST(Ring, ReadAtTheWrap)
{
    const ReadCase cases[] = {
        {16, 10, 4, 6, 0, 10}, // exactly all: empty afterwards
        {16, 10, 4, 7, -1, 4}, // more than stored
        {16, 10, 4, 0, -1, 4}, // 0 bytes fail
        {16, 3, 12, 4, 0, 0},  // ends exactly at the end
        {16, 3, 12, 7, 0, 3},  // wraps, leaves the ring empty
        {16, 3, 12, 5, 0, 1},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "size=" << c.size << " w=" << c.w << " r=" << c.r << " n=" << c.n);
        std::vector<uint8_t> data(c.size);
        for (uint32_t i = 0; i < c.size; ++i) data[i] = (uint8_t)(100 + i);
        std::vector<uint8_t> dst(c.size + 1, 0);
        uint32_t w = c.w, r = c.r;
        EXPECT_EQ(Ring_Read(data.data(), dst.data(), c.n, &w, &r, c.size), c.result);
        EXPECT_EQ(r, c.rAfter);
        EXPECT_EQ(w, c.w);
        if (c.result != 0) continue;
        for (uint32_t i = 0; i < c.n; ++i) EXPECT_EQ(dst[i], data[(c.r + i) % c.size]) << "byte " << i;
    }
}

TEST(Ring, StepBackRead)
{
    struct Case {
        uint32_t n, index, size;
        int result;
        uint32_t after;
    } const cases[] = {
        {5, 2, 16, 0, 13}, {16, 2, 16, -1, 2}, {0, 3, 16, 0, 3}, {15, 0, 16, 0, 1}, {2, 2, 16, 0, 0},
    };
    for (const Case& c : cases) {
        uint32_t i = c.index;
        EXPECT_EQ(Ring_StepBackRead(c.n, &i, c.size), c.result) << c.n << " from " << c.index;
        EXPECT_EQ(i, c.after) << c.n << " from " << c.index;
    }
    EXPECT_EQ(Ring_StepBackRead(1, nullptr, 16), -1);
}

// A long run of writes and reads of varying sizes through a small ring
// gives back exactly the byte stream that went in.
TEST(Ring, StreamThroughSmallRingMatchesQueue)
{
    const uint32_t size = 97;
    std::vector<uint8_t> data(size);
    uint32_t w = 0, r = 0;
    std::deque<uint8_t> model;
    uint8_t next = 0;
    uint32_t seed = 12345;
    for (int step = 0; step < 20000; ++step) {
        seed = seed * 1103515245u + 12345u;
        uint32_t n = (seed >> 16) % 60;
        if ((seed >> 8) & 1) {
            std::vector<uint8_t> src(n + 1);
            for (auto& b : src) b = next++;
            bool fits = n > 0 && n <= Ring_Free95(w, r, size);
            ASSERT_EQ(Ring_Write(src.data(), data.data(), n, &w, &r, size), fits ? 0 : -1);
            if (fits) model.insert(model.end(), src.begin(), src.begin() + n);
            else next = (uint8_t)(next - (n + 1));
        } else {
            std::vector<uint8_t> dst(n + 1);
            bool enough = n > 0 && n <= model.size();
            ASSERT_EQ(Ring_Read(data.data(), dst.data(), n, &w, &r, size), enough ? 0 : -1);
            if (enough) {
                for (uint32_t i = 0; i < n; ++i) {
                    ASSERT_EQ(dst[i], model.front());
                    model.pop_front();
                }
            }
        }
        ASSERT_EQ(Ring_Used(w, r, size), model.size());
        ASSERT_LT(model.size(), size); // never completely full
    }
}

TEST(Checksum, BytesAndSparseWords)
{
    EXPECT_EQ(Checksum_Bytes("abc", 3), 294u);
    EXPECT_EQ(Checksum_Bytes(nullptr, 3), 0u);
    EXPECT_EQ(Checksum_Bytes("abc", 0), 0u);
    EXPECT_EQ(Checksum_SparseWords(nullptr, 4096), 0u);
    // Every length up to a few words past 1,024, from every start within a
    // word, against the plain sum of the bytes.
    std::vector<uint8_t> bytes(1100);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (uint8_t)(i * 131 + (i >> 3) * 17 + 255 * (i % 5 == 0));
    for (uint32_t start = 0; start < 8; ++start)
        for (uint32_t n = 0; n + start <= bytes.size(); n += n < 40 ? 1 : 61) {
            uint32_t sum = 0;
            for (uint32_t i = 0; i < n; ++i) sum += bytes[start + i];
            ASSERT_EQ(Checksum_Bytes(bytes.data() + start, n), n ? sum : 0u) << start << " " << n;
        }
    std::vector<uint8_t> full(1024, 0xFF);
    EXPECT_EQ(Checksum_Bytes(full.data(), 1024), 1024u * 255u);

    std::vector<uint8_t> buf(4096);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = (uint8_t)(i * 31 + 7);
    auto word = [&](size_t at) {
        return (uint32_t)buf[at] | ((uint32_t)buf[at + 1] << 8) | ((uint32_t)buf[at + 2] << 16) |
               ((uint32_t)buf[at + 3] << 24);
    };
    struct Case {
        uint32_t length, expected;
    } const cases[] = {
        {1023, 0}, // no whole kilobyte
        {1024, word(0)},
        {2047, word(0)}, // 1,025 .. 2,047: word 0 only
        {2048, word(0) + word(1024)},
        {3000, word(0) + word(1024)},
        {4096, word(0) + word(1024) + word(2048) + word(3072)},
    };
    for (const Case& c : cases) EXPECT_EQ(Checksum_SparseWords(buf.data(), c.length), c.expected) << c.length;

    // The wrapping sum: 0xFFFFFFFF words.
    std::vector<uint8_t> ones(2048, 0xFF);
    EXPECT_EQ(Checksum_SparseWords(ones.data(), 2048), 0xFFFFFFFEu);
}

TEST(Checksum, MessageRuleSwitchesAbove1024Bytes)
{
    std::vector<uint8_t> buf(1500);
    for (size_t i = 0; i < buf.size(); ++i) buf[i] = (uint8_t)(i + 3);
    struct Case {
        uint32_t length;
        bool sparse;
    } const cases[] = {{1, false}, {1023, false}, {1024, false}, {1025, true}, {1468, true}};
    for (const Case& c : cases) {
        uint32_t expected = c.sparse ? RefSparse(buf.data(), c.length) : RefByteSum(buf.data(), c.length);
        EXPECT_EQ(Checksum_Message(buf.data(), c.length), expected) << c.length;
    }
    // The two rules really differ at the switch.
    EXPECT_NE(Checksum_Message(buf.data(), 1024), Checksum_Message(buf.data(), 1025));
}

TEST(Stopwatch, HundredthsUnits)
{
    struct Case {
        double ms;
        uint32_t reading;
    } const cases[] = {
        {12.9, 1200}, {33, 3300}, {300, 30000}, {1000, 100000}, {60000, 6000000},
        {0, 0},       {0.99, 0},  {-5, 0},      {42949673, 4}, // wraps after 42,949,672 ms
    };
    for (const Case& c : cases) EXPECT_EQ(Stopwatch_ToHundredths(c.ms), c.reading) << c.ms;
}

TEST(Stopwatch, ElapsedAcrossTheTickWrap)
{
    Win_SetTickSource(FakeTick);
    gFakeTick = 0xFFFFFF00u;
    EXPECT_EQ(Stopwatch_Start(5), 0xFFFFFF00u);
    gFakeTick = 0x100;
    EXPECT_EQ(Stopwatch_Elapsed(5), 512.0);
    EXPECT_EQ(Stopwatch_Elapsed(STOPWATCH_SLOTS), 0.0); // no such slot
    Win_SetTickSource(nullptr);
}
