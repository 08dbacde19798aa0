// The command module: the messages it builds, the setup answers it
// applies or ignores, the request blocks and mode word it takes, and what
// it answers and relays.
#include "ModuleFixture.h"

namespace {

const uint32_t S = 0x1111;

// Records the page functions of every setup item.
std::vector<std::string> gPageCalls;
void RecordToPage(TViewRecord*) { gPageCalls.push_back("show"); }
void RecordEnable(TViewRecord*, int on) { gPageCalls.push_back(on ? "enable" : "grey"); }

// A setup body: header {mask, total, sum} and the item.
Bytes SetupBody(uint32_t mask, const Bytes& item, uint32_t total = 0, uint32_t sumDelta = 0)
{
    Bytes b(72, 0);
    PutU32(b, 0, mask);
    PutU32(b, 4, total ? total : 72 + (uint32_t)item.size());
    PutU32(b, 8, RefByteSum(item.data(), item.size()) + sumDelta);
    return Concat(b, item);
}

Bytes Pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = (uint8_t)(seed + i * 5);
    return b;
}

class IcmdTest : public ModuleTest {
protected:
    TViewRecord* V() { return &gViewRecords[0]; }
    void SetUp() override
    {
        ModuleTest::SetUp();
        gPageCalls.clear();
        for (TSetupItem& item : gSetupItems) {
            item.toPage = RecordToPage;
            item.enablePage = RecordEnable;
        }
    }
    void Push(uint32_t op, uint32_t type, uint32_t mode, const Bytes& body, uint32_t session = S)
    {
        Deliver(S, WireMessage("ICMD", {session, op, type, mode, 99}, body));
    }
};

TEST_F(IcmdTest, InitLinksTheViewsAndGivesTheirStartValues)
{
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        EXPECT_EQ(C(i)->view, &gViewRecords[i]);
        EXPECT_EQ(gViewRecords[i].connection, C(i));
        EXPECT_EQ(gViewRecords[i].bitrateItem, 9u);
        EXPECT_EQ(gViewRecords[i].liveBlock.liveWidth, 640u);
        EXPECT_EQ(gViewRecords[i].liveBlock.liveHeight, 512u);
    }
}

TEST_F(IcmdTest, CommandsCarryModeAndConsecutiveSequenceNumbers)
{
    V()->mode = VIEW_PLAYBACK;
    V()->icmdSequence = 41;
    memset(&V()->pppoeItem, 0, sizeof V()->pppoeItem);
    V()->pppoeItem.onOff = 1;
    strcpy(V()->pppoeItem.user, "user");
    const struct {
        uint32_t op, type, mask;
        size_t size;
    } cases[] = {
        {ICMD_DATA, ICMD_LIVE, 0, 128},   // headers and the 64-byte live block
        {ICMD_REQUEST, ICMD_LIVE, 0, 64}, // a request carries no block
        {ICMD_DATA, ICMD_PLAYBACK, 0, 128},
        {ICMD_ANSWER, ICMD_BACKUP, 0, 128},
        {ICMD_DATA, ICMD_LOCAL_PLAYBACK, 0, 64},
        {ICMD_DATA, ICMD_SETUP, SETUP_PPPOE, 204},
        {ICMD_REQUEST, ICMD_SETUP, SETUP_MAIL, 64 + 72 + 256},
        {ICMD_DATA, ICMD_SETUP, 64, 64 + 72}, // no such item: a bare header
    };
    uint32_t expected = 42;
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << "op " << k.op << " type " << k.type);
        Icmd_Send(S, k.op, k.type, k.mask);
        std::vector<Bytes> q = Queued(0);
        ASSERT_EQ(q.size(), 1u);
        const Bytes& m = q[0];
        ASSERT_EQ(m.size(), k.size);
        EXPECT_TRUE(ChecksumHolds(m));
        EXPECT_EQ(memcmp(&m[4], "ICMD", 4), 0);
        EXPECT_EQ(GetU32(m, 32), S);
        EXPECT_EQ(GetU32(m, 36), k.op);
        EXPECT_EQ(GetU32(m, 40), k.type);
        EXPECT_EQ(GetU32(m, 44), (uint32_t)VIEW_PLAYBACK);
        EXPECT_EQ(GetU32(m, 48), expected++);
        if (k.type == ICMD_LIVE && k.size == 128) {
            EXPECT_EQ(memcmp(&m[64], &V()->liveBlock, 64), 0);
        }
        if (k.type == ICMD_SETUP) {
            EXPECT_EQ(GetU32(m, 64), k.mask);
            EXPECT_EQ(GetU32(m, 68), (uint32_t)k.size - 64);
        }
    }
    // The PPPoE set: header says 140 and the byte sum of the 68 item bytes.
    Icmd_Send(S, ICMD_DATA, ICMD_SETUP, SETUP_PPPOE);
    Bytes m = Queued(0)[0];
    EXPECT_EQ(GetU32(m, 68), 140u);
    EXPECT_EQ(GetU32(m, 72), RefByteSum((const uint8_t*)&V()->pppoeItem, 68));
    EXPECT_EQ(memcmp(&m[136], &V()->pppoeItem, 68), 0);
    // A session nobody holds sends nothing and counts nothing.
    Icmd_Send(0x7777, ICMD_DATA, ICMD_LIVE, 0);
    EXPECT_TRUE(Queued(0).empty());
    EXPECT_EQ(V()->icmdSequence, 50u);
}

TEST_F(IcmdTest, SendingABlockOrAnItemClearsTheReorderQueueAndGreysThePage)
{
    const struct {
        uint32_t op, type, mask;
        bool clears;
        std::vector<std::string> calls;
    } cases[] = {
        {ICMD_DATA, ICMD_LIVE, 0, true, {}},
        {ICMD_REQUEST, ICMD_SETUP, SETUP_DDNS, true, {"grey"}},
        {ICMD_DATA, ICMD_LOCAL_PLAYBACK, 0, false, {}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.type);
        gPageCalls.clear();
        C(0)->vidoQueue.queuedCount = 5;
        C(0)->vidoQueue.slots[3].length = 100;
        Icmd_Send(S, k.op, k.type, k.mask);
        Queued(0);
        EXPECT_EQ(C(0)->vidoQueue.queuedCount == 0 && C(0)->vidoQueue.slots[3].length == 0, k.clears);
        EXPECT_EQ(gPageCalls, k.calls);
    }
}

TEST_F(IcmdTest, SetupAnswersAreAppliedConfirmedOrIgnored)
{
    Bytes pppoe = Pattern(68, 3), ddns = Pattern(116, 9);
    Bytes cutShort = SetupBody(SETUP_PPPOE, pppoe);
    cutShort.resize(120); // the header says 140
    const struct {
        const char* name;
        Bytes body;
        uint32_t dirtyBefore; // applied: each set sent in session S
        // expected
        size_t boxes;
        bool copied;
        uint32_t dirtyAfter;
        std::vector<std::string> calls;
        uint32_t answeredIn = S; // the session the link holds when the answer comes
    } cases[] = {
        {"PPPoE answer while applied",
         SetupBody(SETUP_PPPOE, pppoe),
         SETUP_PPPOE | SETUP_MAIL | SETUP_BITRATE,
         1,
         false,
         SETUP_MAIL | SETUP_BITRATE,
         {"show", "enable"}},
        // The link ended after the Apply and logged in again: the answer is
        // the recorder's value, not a confirmation.
        {"PPPoE answer while applied in an ended session",
         SetupBody(SETUP_PPPOE, pppoe),
         SETUP_PPPOE | SETUP_MAIL,
         0,
         true,
         SETUP_MAIL,
         {"show", "enable"},
         S + 1},
        {"PPPoE answer not applied",
         SetupBody(SETUP_PPPOE, pppoe),
         SETUP_MAIL,
         0,
         true,
         SETUP_MAIL,
         {"show", "enable"}},
        {"wrong item sum", SetupBody(SETUP_PPPOE, pppoe, 0, 1), SETUP_PPPOE, 0, false, SETUP_PPPOE, {}},
        {"message shorter than its header says", cutShort, SETUP_PPPOE, 0, false, SETUP_PPPOE, {}},
        {"DDNS total 100", SetupBody(SETUP_DDNS, ddns, 100), SETUP_DDNS, 0, false, SETUP_DDNS, {}},
        {"body shorter than a header", Bytes(40, 0), SETUP_PPPOE, 0, false, SETUP_PPPOE, {}},
        {"unknown mask clears nothing", SetupBody(0xFFFFFFFF, {}), 31, 0, false, 31, {}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        boxes.clear();
        gPageCalls.clear();
        memset(&V()->pppoeItem, 0, sizeof V()->pppoeItem);
        memset(&V()->ddnsItem, 0, sizeof V()->ddnsItem);
        C(0)->session = S;
        for (uint32_t m = 1; m <= SETUP_MAIL_INTERVAL; m <<= 1)
            if (k.dirtyBefore & m) Icmd_Send(S, ICMD_DATA, ICMD_SETUP, m);
        Queued(0);
        gPageCalls.clear();
        V()->dirtyMask = k.dirtyBefore;
        C(0)->session = k.answeredIn;
        Deliver(k.answeredIn, WireMessage("ICMD", {k.answeredIn, ICMD_ANSWER, ICMD_SETUP, VIEW_SETUP, 99}, k.body));
        EXPECT_EQ(SuccessBoxes(), k.boxes);
        EXPECT_EQ(memcmp(&V()->pppoeItem, pppoe.data(), 68) == 0, k.copied);
        EXPECT_EQ(V()->dirtyMask, k.dirtyAfter);
        EXPECT_EQ(gPageCalls, k.calls);
        if (!k.copied) {
            EXPECT_EQ(V()->pppoeItem.user[0], 0);
        }
        EXPECT_TRUE(Queued(0).empty()); // answers are not answered
        // What the pages are to tell: applied items of an ended session.
        EXPECT_EQ(Icmd_TakeUnconfirmedSets(V()) & SETUP_PPPOE, k.answeredIn != S ? (uint32_t)SETUP_PPPOE : 0u);
    }
    C(0)->session = S;
    for (const uint8_t b : Bytes((uint8_t*)&V()->ddnsItem, (uint8_t*)&V()->ddnsItem + 116)) ASSERT_EQ(b, 0);
}

TEST_F(IcmdTest, ModeWordIsTakenFromPushedDataWithinTheFiveModes)
{
    const struct {
        uint32_t op, modeWord, expected;
    } cases[] = {
        {ICMD_DATA, VIEW_BACKUP, VIEW_BACKUP},  {ICMD_DATA, VIEW_LOCAL_PLAYBACK, VIEW_LOCAL_PLAYBACK},
        {ICMD_ANSWER, VIEW_BACKUP, VIEW_SETUP}, {ICMD_DATA, 5, VIEW_SETUP},
        {ICMD_DATA, 0xFFFFFFFF, VIEW_SETUP},
    };
    for (uint32_t type : {(uint32_t)ICMD_PLAYBACK, (uint32_t)ICMD_SETUP}) {
        for (const auto& k : cases) {
            SCOPED_TRACE(testing::Message() << "type " << type << " op " << k.op << " word " << k.modeWord);
            V()->mode = VIEW_SETUP;
            Bytes body = type == ICMD_SETUP ? SetupBody(SETUP_BITRATE, U32Bytes(3)) : Pattern(64, 1);
            Push(k.op, type, k.modeWord, body);
            EXPECT_EQ(V()->mode, k.expected);
            Queued(0);
        }
    }
}

TEST_F(IcmdTest, ReceivedBlocksReplaceTheViewsBlockAsFarAsTheyArrivedAndKeepTheRest)
{
    const struct {
        uint32_t type;
        size_t offset;
        size_t length;
    } cases[] = {
        {ICMD_LIVE, offsetof(TViewRecord, liveBlock), 64},
        {ICMD_PLAYBACK, offsetof(TViewRecord, playbackBlock), 64},
        {ICMD_BACKUP, offsetof(TViewRecord, backupBlock), 20},
        {ICMD_LIVE, offsetof(TViewRecord, liveBlock), 0},
    };
    // A longer message first leaves its bytes in the module buffer.
    Push(ICMD_ANSWER, ICMD_LIVE, 0, Pattern(64, 200));
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.type << " with " << k.length << " bytes");
        uint8_t* block = (uint8_t*)V() + k.offset;
        memset(block, 0xEE, 64);
        Bytes body = Pattern(k.length, 7);
        Push(ICMD_ANSWER, k.type, 0, body);
        EXPECT_TRUE(std::equal(body.begin(), body.end(), block));
        for (size_t i = k.length; i < 64; ++i) ASSERT_EQ(block[i], 0xEE) << i;
    }
}

TEST_F(IcmdTest, ShortLiveBlockKeepsThePictureSizeLaterCommandsSend)
{
    V()->mode = VIEW_LIVE;
    ASSERT_EQ(V()->liveBlock.liveWidth, 640u);
    ASSERT_EQ(V()->liveBlock.liveHeight, 512u);
    // Layout, first channel, channel and mask only.
    Bytes body(16, 0);
    PutU32(body, 0, 1);
    PutU32(body, 4, 4);
    PutU32(body, 8, 5);
    PutU32(body, 12, 1u << 5);
    Push(ICMD_DATA, ICMD_LIVE, VIEW_LIVE, body);
    EXPECT_EQ(V()->liveBlock.liveLayout, 1u);
    EXPECT_EQ(V()->liveBlock.liveFirstChannel, 4u);
    EXPECT_EQ(V()->liveBlock.liveWidth, 640u);
    EXPECT_EQ(V()->liveBlock.liveHeight, 512u);
    Queued(0);
    Icmd_Send(S, ICMD_DATA, ICMD_LIVE, 0);
    std::vector<Bytes> q = Queued(0);
    ASSERT_EQ(q.size(), 1u);
    ASSERT_EQ(q[0].size(), 128u);
    EXPECT_EQ(GetU32(q[0], 64 + 16), 640u);
    EXPECT_EQ(GetU32(q[0], 64 + 20), 512u);
}

TEST_F(IcmdTest, RecordersRequestIsAnsweredWithTheViewersCopy)
{
    V()->bitrateItem = 4;
    Push(ICMD_REQUEST, ICMD_SETUP, 0, U32Bytes(SETUP_BITRATE));
    Push(ICMD_REQUEST, ICMD_LIVE, 0, {});
    Push(ICMD_REQUEST, 777, 0, {}); // no such type
    Push(3, ICMD_LIVE, 0, {});      // no such op
    std::vector<Bytes> q = Queued(0);
    ASSERT_EQ(q.size(), 2u);
    EXPECT_EQ(GetU32(q[0], 36), (uint32_t)ICMD_ANSWER);
    EXPECT_EQ(GetU32(q[0], 40), (uint32_t)ICMD_SETUP);
    ASSERT_EQ(q[0].size(), 64u + 72 + 4);
    EXPECT_EQ(GetU32(q[0], 64), (uint32_t)SETUP_BITRATE);
    EXPECT_EQ(GetU32(q[0], 136), 4u);
    EXPECT_EQ(GetU32(q[1], 40), (uint32_t)ICMD_LIVE);
    EXPECT_EQ(q[1].size(), 128u);
}

TEST_F(IcmdTest, PushedDataIsRelayedByClientKind)
{
    C(1)->session = 0x2222;
    C(0)->active = C(1)->active = 1;
    struct Case {
        const char* name;
        uint32_t type;
        uint32_t kind0, kind1;
        size_t toSource, toOther;
    } const cases[] = {
        {"setup, kind 1: answered on the same link", ICMD_SETUP, 1, 1, 1, 1},
        {"setup, kind 2 too", ICMD_SETUP, 2, 0, 1, 1},
        {"setup, kind 0: nothing", ICMD_SETUP, 0, 1, 0, 0},
        {"live, kind 1: to the other kind-1 link only", ICMD_LIVE, 1, 1, 0, 1},
        {"live to a kind-2 link: nothing", ICMD_LIVE, 1, 2, 0, 0},
        {"playback: never relayed", ICMD_PLAYBACK, 1, 1, 0, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        gHandshakeRecords[0].helloAnswer.clientKind = k.kind0;
        gHandshakeRecords[1].helloAnswer.clientKind = k.kind1;
        Bytes body = k.type == ICMD_SETUP ? SetupBody(SETUP_PPPOE, Pattern(68, 1)) : Pattern(64, 1);
        V()->dirtyMask = 0;
        Push(ICMD_DATA, k.type, 0, body);
        std::vector<Bytes> q0 = Queued(0), q1 = Queued(1);
        EXPECT_EQ(q0.size(), k.toSource);
        EXPECT_EQ(q1.size(), k.toOther);
        for (const std::vector<Bytes>* q : {&q0, &q1}) {
            for (const Bytes& m : *q) {
                EXPECT_EQ(GetU32(m, 36), (uint32_t)ICMD_ANSWER);
                EXPECT_EQ(GetU32(m, 40), k.type);
            }
        }
        if (k.toOther) {
            EXPECT_EQ(GetU32(q1[0], 32), 0x2222u);
        }
        if (k.type == ICMD_SETUP && k.toSource) {
            // the viewer's copy after the parse: the recorder's item
            EXPECT_EQ(GetU32(q0[0], 64), (uint32_t)SETUP_PPPOE);
            EXPECT_EQ(Bytes(q0[0].begin() + 136, q0[0].end()), Pattern(68, 1));
        }
    }
    // A pushed item that fails its checks is not answered.
    gHandshakeRecords[0].helloAnswer.clientKind = 1;
    Push(ICMD_DATA, ICMD_SETUP, 0, SetupBody(SETUP_PPPOE, Pattern(68, 1), 0, 1));
    EXPECT_TRUE(Queued(0).empty());
}

TEST_F(IcmdTest, MessagesForNoHeldSessionAreIgnored)
{
    C(1)->session = 0;
    for (uint32_t session : {0u, 0x3333u}) {
        SCOPED_TRACE(session);
        V()->mode = VIEW_LIVE;
        gViewRecords[1].mode = VIEW_LIVE;
        Push(ICMD_DATA, ICMD_PLAYBACK, VIEW_BACKUP, Pattern(64, 1), session);
        Push(ICMD_REQUEST, ICMD_LIVE, 0, {}, session);
        EXPECT_EQ(V()->mode, (uint32_t)VIEW_LIVE);
        EXPECT_EQ(gViewRecords[1].mode, (uint32_t)VIEW_LIVE);
        EXPECT_TRUE(Queued(0).empty());
        EXPECT_TRUE(Queued(1).empty());
    }
}

} // namespace
