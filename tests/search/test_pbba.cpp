// The recording search over the fake link: the queries the calendar's
// month and day make (once per change of time, channel or link), the
// recorder's op-0 answer echoed back, and replies that fill the day and
// slot flags only when their length, checksum and index are sound.
#include "SearchFixture.h"
#include <gtest/gtest.h>

namespace {

struct Query {
    uint32_t index, op, channel, start, end;
};

class Search : public SearchTest {
protected:
    void SetUp() override
    {
        SearchTest::SetUp();
        Force(VIEW_PLAYBACK);
        V()->playbackBlock.playbackChannel = 2;
        Show(Rt(2024, 3, 14, 10));
        Queued(0);
    }
    void Show(uint32_t t)
    {
        gCalendarTime = t;
        Mon_Time = (int32_t)t;
        Month_BuildGrid(t);
    }
    // The PBBA messages queued since the last look, checked against the wire rules.
    std::vector<Query> Sent()
    {
        std::vector<Query> out;
        for (const Bytes& m : Queued(0)) {
            EXPECT_EQ(m.size(), (size_t)PBBA_QUERY_MESSAGE);
            if (m.size() != PBBA_QUERY_MESSAGE) continue;
            EXPECT_EQ(GetU32(m, 0), 136u);
            EXPECT_EQ(std::string((const char*)&m[4], 4), "PBBA");
            EXPECT_EQ(GetU32(m, 8), RefByteSum(m.data() + 32, 104));
            EXPECT_EQ(GetU32(m, 32), kSession);
            for (size_t at = 48; at < 64; ++at) EXPECT_EQ(m[at], 0) << at;
            out.push_back({GetU32(m, 36), GetU32(m, 40), GetU32(m, 44), GetU32(m, 64), GetU32(m, 68)});
            if (out.back().op == PBBA_OP_QUERY) {
                for (size_t at = 72; at < 136; ++at) EXPECT_EQ(m[at], 0) << at;
            }
        }
        return out;
    }
    void Deliver(uint32_t index, uint32_t op, uint32_t channel, const Bytes& body, uint32_t session = kSession)
    {
        Bytes m = WireMessage("PBBA", {session, index, op, channel}, body);
        Msg_DispatchReceived(kSession, m.data(), (uint32_t)m.size());
    }
};

// A reply body: the head with its length and checksum words, then entries.
Bytes ReplyBody(const std::vector<int>& set, uint32_t entries)
{
    Bytes b(72 + 2 * entries, 0);
    for (int i : set) b[72 + 2 * i] = (uint8_t)(i % 2 ? 0x01 : 0x1E); // low five bits decide
    PutU32(b, 8, (uint32_t)b.size());
    PutU32(b, 12, RefByteSum(b.data() + 72, b.size() - 72));
    return b;
}

TEST_F(Search, TheCalendarAsksForItsMonthAndDayOnce)
{
    Calendar_TimerStep();
    std::vector<Query> q = Sent();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].index, 4u);
    EXPECT_EQ(q[0].op, 0u);
    EXPECT_EQ(q[0].channel, 2u);
    EXPECT_EQ(q[0].start, Rt(2024, 2, 25)); // cell 0: the Sunday before Friday the 1st
    EXPECT_EQ(q[0].end, Rt(2024, 2, 25) + 42 * 86400u);
    EXPECT_EQ(q[1].index, 7u);
    EXPECT_EQ(q[1].start, Rt(2024, 3, 14));
    EXPECT_EQ(q[1].end, Rt(2024, 3, 15));
    Calendar_TimerStep();
    EXPECT_TRUE(Sent().empty());
    // Another day of the month: the day alone.
    Show(Rt(2024, 3, 20, 8));
    Calendar_TimerStep();
    q = Sent();
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].index, 7u);
    EXPECT_EQ(q[0].start, Rt(2024, 3, 20));
    // Another month with another day: both.
    Show(Rt(2024, 4, 2));
    Calendar_TimerStep();
    q = Sent();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].start, Rt(2024, 3, 31));
    EXPECT_EQ(q[1].start, Rt(2024, 4, 2));
    // Where the last search times are kept for the channel.
    EXPECT_EQ(S()->playbackAreas[2].queryTimes[0], gMonthQueryTime);
    EXPECT_EQ(S()->playbackAreas[2].queryTimes[3], gDayQueryTime);
}

TEST_F(Search, OnlyPlaybackAndBackupAsk)
{
    for (uint32_t mode : {VIEW_LIVE, VIEW_SETUP, VIEW_LOCAL_PLAYBACK}) {
        Force(mode);
        Show(Rt(2024, 3, 1 + mode));
        Calendar_TimerStep();
        EXPECT_TRUE(Sent().empty()) << mode;
    }
    // Backup asks for the channel being copied.
    Force(VIEW_BACKUP);
    V()->backupBlock.backupChannel = 5;
    Calendar_TimerStep();
    std::vector<Query> q = Sent();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(q[0].channel, 5u);
}

TEST_F(Search, SwitchingChannelsBackAsksAgain)
{
    // A, B, A: the flags shown are B's after the second, so A is asked again.
    for (uint32_t channel : {2u, 6u, 2u}) {
        V()->playbackBlock.playbackChannel = channel;
        Calendar_TimerStep();
        std::vector<Query> q = Sent();
        ASSERT_EQ(q.size(), 2u) << channel;
        EXPECT_EQ(q[0].channel, channel);
        EXPECT_EQ(q[1].channel, channel);
    }
}

TEST_F(Search, ChannelsBeyondTheDisplayAreasAndMissingLinksAskNothing)
{
    for (uint32_t channel : {17u, 255u, 0x80000000u, 0xFFFFFFFFu}) {
        V()->playbackBlock.playbackChannel = channel;
        Calendar_TimerStep();
        EXPECT_TRUE(Sent().empty()) << channel;
    }
    V()->playbackBlock.playbackChannel = 16;
    Calendar_TimerStep();
    EXPECT_EQ(Sent().size(), 2u);
    // No session: nothing is sent, and it is not taken as asked.
    V()->playbackBlock.playbackChannel = 3;
    C(0)->session = 0;
    Calendar_TimerStep();
    EXPECT_TRUE(Sent().empty());
    C(0)->session = kSession;
    Calendar_TimerStep();
    EXPECT_EQ(Sent().size(), 2u);
    // A new session asks again.
    C(0)->session = kSession + 1;
    Calendar_TimerStep();
    Queued(0);
    C(0)->session = kSession;
    Calendar_TimerStep();
    EXPECT_EQ(Sent().size(), 2u);
}

TEST_F(Search, ResetForgetsQueriesAndEchoes)
{
    Calendar_TimerStep();
    ASSERT_EQ(Sent().size(), 2u);
    Bytes answer(72, 0);
    PutU32(answer, 0, 0xA1B2C3D4);
    Deliver(7, 0, 2, answer);
    ASSERT_EQ(Queued(0).size(), 1u);
    ASSERT_NE(GetU32(Bytes(gPbbaStates[0].echo[7], gPbbaStates[0].echo[7] + 72), 0), 0u);
    Pbba_Reset();
    for (uint32_t i = 0; i < PBBA_INDEX_COUNT; ++i)
        for (uint32_t b = 0; b < PBBA_RECORD_SIZE; ++b) {
            ASSERT_EQ(gPbbaStates[0].query[i][b], 0) << i;
            ASSERT_EQ(gPbbaStates[0].echo[i][b], 0) << i;
        }
    EXPECT_EQ(gPbbaStates[0].connection, &gConnections[0]);
    // Nothing counts as asked any more: the calendar asks both again.
    Calendar_TimerStep();
    EXPECT_EQ(Sent().size(), 2u);
}

TEST_F(Search, TheRecordersAnswerIsEchoed)
{
    Bytes answer(72, 0);
    PutU32(answer, 0, 0xA1B2C3D4);
    PutU32(answer, 4, 0x00000042);
    PutU32(answer, 8, 0xFFFFFFFF); // words past the two are not echoed
    Deliver(7, 0, 3, answer);
    std::vector<Bytes> q = Queued(0);
    ASSERT_EQ(q.size(), 1u);
    const Bytes& m = q[0];
    ASSERT_EQ(m.size(), 136u);
    EXPECT_EQ(GetU32(m, 36), 7u);
    EXPECT_EQ(GetU32(m, 40), 1u);
    EXPECT_EQ(GetU32(m, 44), 3u);
    EXPECT_EQ(GetU32(m, 64), 0xA1B2C3D4u);
    EXPECT_EQ(GetU32(m, 68), 0x42u);
    EXPECT_EQ(GetU32(m, 72), 72u);
    for (size_t at = 76; at < 136; ++at) EXPECT_EQ(m[at], 0) << at;
    EXPECT_EQ(GetU32(m, 8), RefByteSum(m.data() + 32, 104));
    // Exactly the two words is enough; less, an index past the table, or
    // an unknown session is not answered.
    Deliver(4, 0, 3, Bytes(8, 1));
    EXPECT_EQ(Queued(0).size(), 1u);
    Deliver(4, 0, 3, Bytes(7, 1));
    Deliver(8, 0, 3, Bytes(72, 1));
    Deliver(0xFFFFFFFF, 0, 3, Bytes(72, 1));
    Deliver(4, 0, 3, Bytes(72, 1), kSession + 5);
    Deliver(4, 0, 3, Bytes(72, 1), 0);
    Deliver(4, 2, 3, Bytes(72, 1)); // no such op
    EXPECT_TRUE(Queued(0).empty());
}

TEST_F(Search, RepliesFillTheDaysAndSlotsAndRebuildTheGrid)
{
    gLastDrawn[0] = gLastDrawn[1] = 0;
    Deliver(4, 1, 2, ReplyBody({0, 17, 18, 41}, 42));
    for (int i = 0; i < 42; ++i) EXPECT_EQ(gDayStatus[i], i == 0 || i == 17 || i == 18 || i == 41) << i;
    EXPECT_EQ(gLastDrawn[0], -2);
    EXPECT_EQ(gLastDrawn[1], -2);
    // 2024-03-14 is cell 18: selected with recordings.
    EXPECT_EQ(Mon_Data[18], DAY_SELECTED_RECORDED);
    EXPECT_EQ(Mon_Data[17], DAY_RECORDED);
    EXPECT_EQ(Mon_Data[16], DAY_NONE);
    Deliver(7, 1, 2, ReplyBody({16, 17, 35, 47}, 48));
    for (int i = 0; i < 48; ++i) EXPECT_EQ(IE_Data[i], i == 16 || i == 17 || i == 35 || i == 47) << i;
    // A first byte whose low five bits are clear is no recording.
    Bytes high = ReplyBody({}, 48);
    high[72] = 0xE0;
    PutU32(high, 12, RefByteSum(high.data() + 72, high.size() - 72));
    Deliver(7, 1, 2, high);
    for (int i = 0; i < 48; ++i) EXPECT_EQ(IE_Data[i], 0) << i;
}

TEST_F(Search, BadRepliesAreIgnored)
{
    const Bytes good = ReplyBody({1, 2, 3}, 48);
    struct Case {
        const char* what;
        uint32_t index;
        Bytes body;
    };
    auto withLength = [&](uint32_t length) {
        Bytes b = good;
        PutU32(b, 8, length);
        if (length >= 72 && length <= b.size()) PutU32(b, 12, RefByteSum(b.data() + 72, length - 72));
        return b;
    };
    Bytes badSum = good;
    PutU32(badSum, 12, GetU32(good, 12) + 1);
    Bytes cut(good.begin(), good.end() - 1);
    Bytes longer = good;
    longer.resize(good.size() + 20, 0);
    PutU32(longer, 8, (uint32_t)longer.size() + 4); // beyond the message
    const Case cases[] = {
        {"length 72", 7, withLength(72)},
        {"length 73", 7, withLength(73)},
        {"one entry short", 7, withLength(72 + 2 * 48 - 1)},
        {"length past the message", 7, withLength(72 + 2 * 48 + 1)},
        {"huge length", 7, withLength(0xFFFFFFFF)},
        {"bad checksum", 7, badSum},
        {"body cut", 7, cut},
        {"length beyond the body", 7, longer},
        {"index 8", 8, good},
        {"index 9", 9, good},
        {"index 5", 5, good},
        {"month reply of day size", 4, ReplyBody({1}, 41)},
        {"empty", 7, Bytes()},
    };
    for (const Case& k : cases) {
        for (int i = 0; i < 48; ++i) IE_Data[i] = 7;
        for (int i = 0; i < 42; ++i) gDayStatus[i] = 7;
        Deliver(k.index, 1, 2, k.body);
        for (int i = 0; i < 48; ++i) ASSERT_EQ(IE_Data[i], 7) << k.what;
        for (int i = 0; i < 42; ++i) ASSERT_EQ(gDayStatus[i], 7) << k.what;
    }
    // A longer message whose length word covers the entries is sound.
    Bytes padded = good;
    padded.resize(good.size() + 40, 0);
    Deliver(7, 1, 2, padded);
    EXPECT_EQ(IE_Data[1], 1);
    EXPECT_EQ(IE_Data[0], 0);
}

TEST_F(Search, TheReplyParserIsAPlainFunctionOfItsBytes)
{
    int32_t flags[48];
    for (int32_t& f : flags) f = 9;
    Bytes good = ReplyBody({0, 47}, 48);
    EXPECT_EQ(Pbba_ParseReply(good.data(), (uint32_t)good.size(), 7, flags), 0);
    EXPECT_EQ(flags[0], 1);
    EXPECT_EQ(flags[1], 0);
    EXPECT_EQ(flags[47], 1);
    for (uint32_t n = 0; n < good.size(); ++n) EXPECT_EQ(Pbba_ParseReply(good.data(), n, 7, flags), -1) << n;
    EXPECT_EQ(Pbba_ParseReply(nullptr, 200, 7, flags), -1);
    EXPECT_EQ(Pbba_ParseReply(good.data(), (uint32_t)good.size(), 3, flags), -1);
    EXPECT_EQ(Pbba_EntryCount(4), 42u);
    EXPECT_EQ(Pbba_EntryCount(7), 48u);
    EXPECT_EQ(Pbba_Window(8, 100, nullptr, nullptr), -1);
}

} // namespace
