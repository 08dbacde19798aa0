// HTTP framing of the receive buffers, the send ring's queue, and the
// connection record's socket handling.
#include "LinkFixture.h"
#include "control/TavlinImpl1.h"

static Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
static Bytes m1280() { return Bytes(1280, 5); }

TEST(Http, HeaderLength)
{
    struct Case {
        std::string buffer;
        int expected;
    } const cases[] = {
        {"HTTP/1.1 200 OK\r\n\r\n", 19},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 38},
        {"HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r", -1}, // blank line not complete
        {"HTTP/1.1 200 OK\r\n", -1},
        {"HTTP/1.1 200 O", -1}, // shorter than the status line
        {"HTTP/1.1 404 Not Found\r\n\r\n", -1},
        {"HTTP/1.0 200 OK\r\n\r\n", -1},
        {"", -1},
    };
    for (const Case& c : cases) {
        Bytes b = B(c.buffer);
        EXPECT_EQ(Http_HeaderLength(b.data(), (uint32_t)b.size()), c.expected) << c.buffer;
    }
    Bytes other = B("HTTP/1.1 404 Not Found\r\n\r\n");
    EXPECT_EQ(Http_HeaderEnd(other.data(), (uint32_t)other.size()), (int)other.size());
}

TEST(Http, ContentLengthLooksInsideTheHeaderOnly)
{
    struct Case {
        std::string answer;
        uint32_t expected;
    } const cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", 100},
        {"HTTP/1.1 200 OK\r\nContent-Length: 1 2\r\n\r\n", 12},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0},
        {"HTTP/1.1 200 OK\r\nServer: x\r\n\r\n", 0},
        {"HTTP/1.1 200 OK\r\nContent-length: 7\r\n\r\n", 0},      // names compared exactly
        {"HTTP/1.1 200 OK\r\n\r\nContent-Length: 99\r\n\r\n", 0}, // in the body: not seen
        {"HTTP/1.1 200 OK\r\nContent-Length: 4294967295\r\n\r\n", 4294967295u},
        {"HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\n", 0xFFFFFFFFu}, // no wrap to 0
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n", 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        Bytes b = B(c.answer);
        int h = Http_HeaderEnd(b.data(), (uint32_t)b.size());
        ASSERT_GT(h, 0) << c.answer;
        EXPECT_EQ(Http_ContentLength(b.data(), (uint32_t)h), c.expected) << c.answer;
    }
}

class ReceiveTest : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        Msg_RegisterModule("TEST", TestReceive, nullptr, gTestBuffer, TEST_BUFFER);
        C(0)->session = 77;
        C(1)->session = 78;
        C(0)->busy[0] = 1;
    }
    // One answer carrying a data packet with one message of the given size.
    Bytes DataAnswer(uint32_t messageSize, uint8_t seed)
    {
        return HttpAnswer(UlcmPacket(ULCM_DATA, 77, 0, ModuleMessage("TEST", messageSize, 77, seed)));
    }
    uint32_t Fill() { return C(0)->receive[0].writeIndex; }
};

TEST_F(ReceiveTest, AnswerFedAtEverySplitPoint)
{
    const Bytes answer = DataAnswer(100, 9);
    const Bytes message = ModuleMessage("TEST", 100, 77, 9);
    for (size_t split = 1; split < answer.size(); ++split) {
        SCOPED_TRACE(::testing::Message() << "split " << split);
        gDeliveries.clear();
        Conn_ResetReceiveBuffer(C(0), 0);
        C(0)->busy[0] = 1;
        Feed(C(0), 0, answer.data(), split);
        Conn_ProcessReceived(C(0), 0);
        ASSERT_TRUE(gDeliveries.empty());
        ASSERT_EQ(Fill(), split); // nothing consumed
        ASSERT_EQ(C(0)->busy[0], 1u);
        Feed(C(0), 0, answer.data() + split, answer.size() - split);
        Conn_ProcessReceived(C(0), 0);
        ASSERT_EQ(gDeliveries.size(), 1u);
        ASSERT_TRUE(HoldsMessage(gDeliveries[0], message));
        ASSERT_EQ(Fill(), 0u);
        ASSERT_EQ(C(0)->busy[0], 0u);
    }
}

TEST_F(ReceiveTest, TwoAnswersSplitAnywhereComeOutOnePerTick)
{
    const Bytes both = Concat(DataAnswer(40, 1), DataAnswer(60, 2));
    for (size_t split = 0; split <= both.size(); ++split) {
        SCOPED_TRACE(::testing::Message() << "split " << split);
        gDeliveries.clear();
        Conn_ResetReceiveBuffer(C(0), 0);
        Feed(C(0), 0, both.data(), split);
        Conn_ProcessReceived(C(0), 0);
        Feed(C(0), 0, both.data() + split, both.size() - split);
        for (int tick = 0; tick < 3; ++tick) Conn_ProcessReceived(C(0), 0);
        ASSERT_EQ(gDeliveries.size(), 2u);
        ASSERT_TRUE(HoldsMessage(gDeliveries[0], ModuleMessage("TEST", 40, 77, 1)));
        ASSERT_TRUE(HoldsMessage(gDeliveries[1], ModuleMessage("TEST", 60, 77, 2)));
        ASSERT_EQ(Fill(), 0u);
    }
}

TEST_F(ReceiveTest, SecondAnswerWaitsForTheNextTick)
{
    const Bytes first = DataAnswer(40, 1), second = DataAnswer(60, 2);
    const Bytes both = Concat(first, second);
    Feed(C(0), 0, both.data(), both.size());
    Conn_ProcessReceived(C(0), 0);
    ASSERT_EQ(gDeliveries.size(), 1u);
    EXPECT_EQ(Fill(), second.size());
    EXPECT_EQ(memcmp(C(0)->receive[0].data, second.data(), second.size()), 0); // moved to the front
    Conn_ProcessReceived(C(0), 0);
    EXPECT_EQ(gDeliveries.size(), 2u);
    EXPECT_EQ(Fill(), 0u);
}

// A module that shows a message box runs the message loop inside the
// receive step, and the socket's read event appends the next answer then.
static Bytes gArrivesDuringReceive;
static void ReceiveWithMessageLoop()
{
    TestReceive();
    if (!gArrivesDuringReceive.empty()) {
        Bytes next;
        next.swap(gArrivesDuringReceive);
        Feed(&gConnections[0], 0, next.data(), next.size());
    }
}

TEST_F(ReceiveTest, BytesArrivingWhileAModuleRunsAreKeptBehindTheAnswer)
{
    Msg_ResetRegistry();
    Msg_RegisterModule("TEST", ReceiveWithMessageLoop, nullptr, gTestBuffer, TEST_BUFFER);
    const Bytes first = DataAnswer(40, 1), second = DataAnswer(60, 2);
    Feed(C(0), 0, first.data(), first.size());
    gArrivesDuringReceive = second;
    Conn_ProcessReceived(C(0), 0);
    ASSERT_EQ(gDeliveries.size(), 1u);
    ASSERT_TRUE(HoldsMessage(gDeliveries[0], ModuleMessage("TEST", 40, 77, 1)));
    EXPECT_EQ(Fill(), second.size());
    EXPECT_EQ(memcmp(C(0)->receive[0].data, second.data(), second.size()), 0);
    Conn_ProcessReceived(C(0), 0);
    ASSERT_EQ(gDeliveries.size(), 2u);
    EXPECT_TRUE(HoldsMessage(gDeliveries[1], ModuleMessage("TEST", 60, 77, 2)));
    EXPECT_EQ(Fill(), 0u);
}

TEST_F(ReceiveTest, IncompleteBodyConsumesNothing)
{
    std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n";
    Bytes packet = UlcmPacket(ULCM_DATA, 77, 0, ModuleMessage("TEST", 36, 77));
    ASSERT_EQ(packet.size(), 100u);
    Feed(C(0), 0, (const uint8_t*)head.data(), head.size());
    Feed(C(0), 0, packet.data(), 60);
    Conn_ProcessReceived(C(0), 0);
    EXPECT_EQ(Fill(), head.size() + 60);
    EXPECT_EQ(C(0)->busy[0], 1u);
    EXPECT_TRUE(gDeliveries.empty());
    Feed(C(0), 0, packet.data() + 60, 40);
    Conn_ProcessReceived(C(0), 0);
    EXPECT_EQ(Fill(), 0u);
    EXPECT_EQ(C(0)->busy[0], 0u);
    EXPECT_EQ(gDeliveries.size(), 1u);
}

struct SkipCase {
    const char* name;
    Bytes answer; // consumed whole without a packet being parsed
};

TEST_F(ReceiveTest, AnswersWithoutAPacketAreSkippedAndFreeTheSocket)
{
    const Bytes packet = UlcmPacket(ULCM_DATA, 77, 0, ModuleMessage("TEST", 40, 77));
    const SkipCase cases[] = {
        {"content length 0", B("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")},
        {"no content length", B("HTTP/1.1 200 OK\r\nServer: dvr\r\n\r\n")},
        {"not found with body", B("HTTP/1.1 404 Not Found\r\nContent-Length: 5\r\n\r\nnope!")},
        {"not found carrying a packet", HttpAnswer(packet, "HTTP/1.1 404 Not Found")},
        {"server error", B("HTTP/1.1 500 Internal Server Error\r\n\r\n")},
        {"other version", HttpAnswer(packet, "HTTP/1.0 200 OK")},
        {"body shorter than a packet header", B("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789")},
    };
    const Bytes good = DataAnswer(48, 5);
    for (const SkipCase& c : cases) {
        SCOPED_TRACE(c.name);
        gDeliveries.clear();
        Conn_ResetReceiveBuffer(C(0), 0);
        C(0)->busy[0] = 1;
        Feed(C(0), 0, c.answer.data(), c.answer.size());
        Feed(C(0), 0, good.data(), good.size());
        Conn_ProcessReceived(C(0), 0);
        EXPECT_TRUE(gDeliveries.empty());
        EXPECT_EQ(C(0)->busy[0], 0u);
        EXPECT_EQ(Fill(), good.size()); // the answer behind it is kept
        Conn_ProcessReceived(C(0), 0);
        EXPECT_EQ(gDeliveries.size(), 1u);
        EXPECT_EQ(sockets[0][0].closes, 0);
    }
}

TEST_F(ReceiveTest, FullBufferWithoutACompleteAnswerClosesTheSocket)
{
    // No blank line in 0x48000 bytes.
    Bytes junk(CONN_RECEIVE_SIZE, 'a');
    memcpy(junk.data(), "HTTP/1.1 200 OK\r\n", 17);
    Feed(C(0), 0, junk.data(), junk.size() - 1);
    Conn_ProcessReceived(C(0), 0);
    EXPECT_EQ(sockets[0][0].closes, 0); // room left: it may still come
    Feed(C(0), 0, junk.data(), 1);
    Conn_ProcessReceived(C(0), 0);
    EXPECT_EQ(sockets[0][0].closes, 1);
    EXPECT_EQ(Fill(), 0u);
}

TEST_F(ReceiveTest, BodyLargerThanTheBufferClosesTheSocket)
{
    std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(CONN_RECEIVE_SIZE) + "\r\n\r\n";
    Feed(C(0), 0, (const uint8_t*)head.data(), head.size());
    Conn_ProcessReceived(C(0), 0);
    EXPECT_EQ(sockets[0][0].closes, 1);
    EXPECT_EQ(Fill(), 0u);
}

TEST_F(ReceiveTest, LargestAnswerThatFitsIsParsed)
{
    // Header plus body fill the buffer exactly.
    const size_t base = HttpAnswer(Bytes()).size() - 1; // header without the length's digits
    size_t bodySize = 0;
    for (size_t n = CONN_RECEIVE_SIZE - base - 10; n < CONN_RECEIVE_SIZE; ++n)
        if (n + base + std::to_string(n).size() == CONN_RECEIVE_SIZE) bodySize = n;
    ASSERT_GT(bodySize, 0u);
    Bytes body = UlcmPacket(ULCM_DATA, 77, 0, ModuleMessage("TEST", 64, 77));
    body.resize(bodySize, 0); // bytes past the packet's total are ignored
    Bytes answer = HttpAnswer(body);
    ASSERT_EQ(answer.size(), (size_t)CONN_RECEIVE_SIZE);
    Feed(C(0), 0, answer.data(), answer.size());
    Conn_ProcessReceived(C(0), 0);
    EXPECT_EQ(sockets[0][0].closes, 0);
    EXPECT_EQ(gDeliveries.size(), 1u);
    EXPECT_EQ(Fill(), 0u);
}

TEST_F(LinkTest, QueueSendFollowsThe95PercentRule)
{
    Bytes m(1280, 1);
    // 12 messages of 1,280 bytes fit 95 % of what is free each time; the
    // 13th finds 1,024 bytes free, of which 95 % is too little.
    for (int i = 0; i < 12; ++i) ASSERT_EQ(Conn_QueueSend(C(0), m.data(), 1280), 0) << i;
    EXPECT_EQ(C(0)->lengthWrite, 12u);
    EXPECT_EQ(C(0)->lengthTable[0], 1280u);
    uint32_t free95 = Ring_Free95(C(0)->sendRing->writeIndex, C(0)->sendRing->readIndex, C(0)->sendRing->size);
    EXPECT_EQ(free95, (16384u - 12 * 1280) * 95 / 100);
    EXPECT_EQ(Conn_QueueSend(C(0), m.data(), 1280), -1);
    EXPECT_EQ(C(0)->lengthWrite, 12u); // table unchanged
    EXPECT_EQ(Ring_Used(C(0)->sendRing->writeIndex, C(0)->sendRing->readIndex, C(0)->sendRing->size), 12u * 1280);
    EXPECT_EQ(Conn_QueueSend(C(0), m.data(), free95), 0); // what still fits goes in
    EXPECT_EQ(Conn_QueueSend(C(0), m.data(), 0), -1);
}

TEST_F(LinkTest, MessageLongerThanAPacketCarriesIsRefusedAndTheRingKeepsFlowing)
{
    for (uint32_t n : {1281u, 2000u, 8000u}) {
        SCOPED_TRACE(n);
        Conn_ResetSendRing(0);
        Bytes big(n, 3);
        EXPECT_EQ(Conn_QueueSend(C(0), big.data(), n), -1);
        EXPECT_EQ(C(0)->lengthWrite, 0u);
        EXPECT_EQ(Ring_Used(C(0)->sendRing->writeIndex, C(0)->sendRing->readIndex, C(0)->sendRing->size), 0u);
        // What is queued after it leaves with the next packet.
        Bytes small(100, 4);
        ASSERT_EQ(Conn_QueueSend(C(0), small.data(), 100), 0);
        ASSERT_EQ(Conn_QueueSend(C(0), m1280().data(), 1280), 0);
        EXPECT_EQ(Ulcm_TakeSendChunk(C(0)), 100u);
    }
}

TEST_F(LinkTest, FindBySession)
{
    EXPECT_EQ(Conn_FindBySession(0), 0); // record 0 without a session
    C(0)->session = 5;
    C(1)->session = 9;
    EXPECT_EQ(Conn_FindBySession(9), 1);
    EXPECT_EQ(Conn_FindBySession(5), 0);
    EXPECT_EQ(Conn_FindBySession(0), -1);
}

TEST_F(LinkTest, InitLeavesSocketZeroDownForTheFirstTick)
{
    EXPECT_EQ(C(0)->socketState[0], (uint32_t)SOCK_DOWN);
    EXPECT_EQ(C(0)->socketState[1], (uint32_t)SOCK_IDLE);
    EXPECT_EQ(C(1)->socketState[0], (uint32_t)SOCK_IDLE);
    EXPECT_EQ(C(0)->sendRing->size, (uint32_t)CONN_SEND_RING_SIZE);
    EXPECT_EQ(C(0)->receive[0].size, (uint32_t)CONN_RECEIVE_SIZE);
    EXPECT_EQ(C(0)->frameRing.size, (uint32_t)CONN_FRAME_RING_SIZE);
    EXPECT_NE(C(0)->sendRing, C(1)->sendRing);
}

TEST_F(LinkTest, OpenSocketStartsAConnectAndLogsInAgain)
{
    Wire(0, 0).connected = false;
    C(0)->linkState = LINK_LOGGED_IN;
    C(0)->busy[0] = 1;
    C(0)->receive[0].writeIndex = 10;
    EXPECT_EQ(Conn_OpenSocket(C(0), "192.168.1.20", 8080, 0), 0);
    EXPECT_EQ(sockets[0][0].host, "192.168.1.20");
    EXPECT_EQ(sockets[0][0].port, 8080);
    EXPECT_TRUE(sockets[0][0].active);
    EXPECT_EQ(C(0)->socketState[0], (uint32_t)SOCK_OPENING);
    EXPECT_EQ(C(0)->busy[0], 0u);
    EXPECT_EQ(C(0)->linkState, (uint32_t)LINK_IDLE);
    EXPECT_EQ(C(0)->receive[0].writeIndex, 0u);

    // Already connected: nothing happens.
    Wire(0, 1).connected = true;
    C(0)->busy[1] = 1;
    EXPECT_EQ(Conn_OpenSocket(C(0), "h", 1, 1), 0);
    EXPECT_EQ(sockets[0][1].opens, 0);
    EXPECT_EQ(C(0)->busy[1], 1u);
}

TEST_F(LinkTest, DisconnectResetsTheLinkAndMarksTheSocketForReconnect)
{
    C(0)->session = 1234;
    C(0)->linkState = LINK_LOGGED_IN;
    C(0)->active = 1;
    strcpy(C(0)->host, "10.0.0.1");
    C(0)->port = 80;
    C(0)->socketState[0] = C(0)->socketState[1] = SOCK_OPENING;
    Conn_OnConnected(0, 0);
    Conn_OnConnected(0, 1);
    Wire(0, 1).connected = false;
    Conn_OnDisconnected(0, 1);
    EXPECT_EQ(C(0)->session, 0u);
    EXPECT_EQ(C(0)->linkState, (uint32_t)LINK_IDLE);
    EXPECT_EQ(C(0)->active, 0u);
    EXPECT_EQ(C(0)->host[0], 0);
    EXPECT_EQ(C(0)->port, 0u);
    EXPECT_EQ(C(0)->socketState[0], (uint32_t)SOCK_IDLE);
    EXPECT_EQ(C(0)->socketState[1], (uint32_t)SOCK_DOWN);
    EXPECT_EQ(Conn_AllSocketsDown(C(0)), 0);
    C(0)->socketState[0] = SOCK_DOWN;
    EXPECT_EQ(Conn_AllSocketsDown(C(0)), 1);

    Conn_OnError(0, 0);
    EXPECT_EQ(sockets[0][0].closes, 1);
}

// A socket class that reports a failed connect from inside SetActive, as
// a connect to an unreachable address can.
class FailingClientSocket : public FakeClientSocket {
public:
    void SetActive(bool value) override
    {
        FakeClientSocket::SetActive(value);
        if (!value) return;
        win.connected = false;
        active = false;
        Conn_OnError((uint32_t)Tag & 1, (uint32_t)Tag / 2);
        Conn_OnDisconnected((uint32_t)Tag & 1, (uint32_t)Tag / 2);
    }
};

TEST_F(LinkTest, UnreachableAddressKeepsBeingRetried)
{
    FailingClientSocket unreachable;
    unreachable.Tag = 0;
    unreachable.win.connected = false;
    C(0)->socket[0] = &unreachable;
    for (int attempt = 1; attempt <= 5; ++attempt) {
        ASSERT_EQ(C(0)->socketState[0], (uint32_t)SOCK_DOWN) << "attempt " << attempt;
        EXPECT_EQ(Conn_OpenSocket(C(0), "255.255.255.255", 80, 0), 0);
        EXPECT_EQ(unreachable.opens, attempt);
        // The failure arrived inside the call: the socket stays down, so
        // the next poll connects it again.
        EXPECT_EQ(C(0)->socketState[0], (uint32_t)SOCK_DOWN);
        gFakeTick += 1100;
    }
}

// Two connected sockets carrying a logged-in link, each with a request in
// flight, as the class library leaves them after their connect events.
class TwoSocketTest : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        Msg_RegisterModule("TEST", TestReceive, nullptr, gTestBuffer, TEST_BUFFER);
        C(0)->session = 77;
        C(0)->linkState = LINK_LOGGED_IN;
        C(0)->active = 1;
        for (uint32_t s = 0; s < 2; ++s) {
            C(0)->socketState[s] = SOCK_OPENING;
            Conn_OnConnected(0, s);
            C(0)->busy[s] = 1;
            C(0)->sendTime[s] = Stopwatch_Now();
        }
    }
    // An answer of the link's session with frames for the TEST module.
    Bytes DataAnswer(uint8_t seed)
    {
        return HttpAnswer(UlcmPacket(ULCM_DATA_POLL, 77, 0, ModuleMessage("TEST", 3000, 77, seed)));
    }
    void Drop(uint32_t s)
    {
        Wire(0, s).connected = false;
        Conn_OnDisconnected(0, s);
    }
};

TEST_F(TwoSocketTest, TheRestOfAnAnswerCutOffByTheOtherSocketsDropIsDroppedAndTheSocketIsFreeAgain)
{
    const struct {
        const char* name;
        uint32_t dropped;
        size_t before; // bytes of the survivor's answer in its buffer at the drop
    } cases[] = {
        {"socket 1 drops, socket 0 half through an answer", 1, 1600},
        {"socket 1 drops, socket 0's answer not begun", 1, 0},
        {"socket 1 drops, socket 0's header cut", 1, 30},
        {"socket 0 drops, socket 1 half through an answer", 0, 1600},
        {"socket 0 drops, socket 1's answer whole but not yet cut", 0, 3200},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        SetUp();
        const uint32_t survivor = 1 - k.dropped;
        const Bytes answer = DataAnswer(3);
        ASSERT_GT(answer.size(), 1600u);
        const size_t before = k.before < answer.size() ? k.before : answer.size();
        Feed(C(0), survivor, answer.data(), before);
        if (before < answer.size()) Conn_ProcessReceived(C(0), survivor); // the tick before the drop
        Drop(k.dropped);
        EXPECT_EQ(C(0)->session, 0u) << "the drop ends the link";
        Feed(C(0), survivor, answer.data() + before, answer.size() - before);
        Conn_ProcessReceived(C(0), survivor);
        // The answer of the ended link went nowhere and asked for nothing.
        EXPECT_TRUE(gDeliveries.empty());
        EXPECT_TRUE(Wire(0, survivor).sent.empty()) << "no grant of the viewer's own";
        EXPECT_EQ(C(0)->busy[survivor], 0u);
        EXPECT_EQ(C(0)->receive[survivor].writeIndex, 0u);
        // The socket takes the next request, and its answer is read as usual.
        Bytes grant = HttpAnswer(UlcmPacket(ULCM_GRANT, 0x4000, 0));
        if (survivor == 0) {
            Ulcm_PumpSend(C(0));
            ASSERT_EQ(Wire(0, 0).sent.size(), 1u) << "the login goes out at once";
            EXPECT_EQ(GetU32(Wire(0, 0).sent[0], 8), (uint32_t)ULCM_LOGIN);
            Feed(C(0), 0, grant.data(), grant.size());
            Conn_ProcessReceived(C(0), 0);
            EXPECT_EQ(C(0)->linkState, (uint32_t)LINK_LOGGED_IN);
            EXPECT_EQ(C(0)->session, 0x4000u);
        } else {
            EXPECT_EQ(Ulcm_SendPacket(0, ULCM_POLL, 0x4000, 0, 1), 0);
            Bytes next = DataAnswer(4);
            Feed(C(0), 1, next.data(), next.size());
            C(0)->session = 77;
            Conn_ProcessReceived(C(0), 1);
            ASSERT_EQ(gDeliveries.size(), 1u);
            EXPECT_TRUE(HoldsMessage(gDeliveries[0], ModuleMessage("TEST", 3000, 77, 4)));
        }
        Wire(0, k.dropped).connected = true;
        Wire(0, 0).sent.clear();
        Wire(0, 1).sent.clear();
        gDeliveries.clear();
    }
}

TEST_F(TwoSocketTest, AFailedConnectOfTheSecondSocketLeavesTheLinkOnTheFirst)
{
    Drop(1);
    ASSERT_EQ(C(0)->session, 0u);
    C(0)->session = 78;
    C(0)->linkState = LINK_LOGGED_IN;
    C(0)->active = 1;
    // The recorder takes no second socket now: every connect fails.
    for (int attempt = 0; attempt < 3; ++attempt) {
        ASSERT_EQ(Conn_OpenSocket(C(0), "127.0.0.1", 80, 1), 0);
        Conn_OnError(0, 1);
        Conn_OnDisconnected(0, 1);
        EXPECT_EQ(C(0)->session, 78u);
        EXPECT_EQ(C(0)->linkState, (uint32_t)LINK_LOGGED_IN);
        EXPECT_EQ(C(0)->active, 1u);
        EXPECT_EQ(C(0)->socketState[1], (uint32_t)SOCK_DOWN);
    }
}

TEST_F(TwoSocketTest, TheLinkLampShowsTheLinksRealState)
{
    Conn_ShowLinkState(C(0));
    EXPECT_EQ(Viewer_LinkIconShown(), 1);
    // Socket 1 drops: the link is down until it logs in again over socket
    // 0, which has no connect event of its own.
    Drop(1);
    EXPECT_EQ(Viewer_LinkIconShown(), 0);
    C(0)->busy[0] = 0;
    Ulcm_PumpSend(C(0));
    Conn_ShowLinkState(C(0));
    EXPECT_EQ(Viewer_LinkIconShown(), 0) << "the login is out, not granted";
    C(0)->session = 79;
    C(0)->linkState = LINK_LOGGED_IN;
    Conn_ShowLinkState(C(0));
    EXPECT_EQ(Viewer_LinkIconShown(), 0) << "the recorder has not described itself yet";
    C(0)->active = 1;
    Conn_ShowLinkState(C(0));
    EXPECT_EQ(Viewer_LinkIconShown(), 1) << "back on socket 0 alone";

    // A recorder that stops answering: dark after 5 s of silence, lit at
    // its first byte.
    C(0)->busy[0] = 1;
    C(0)->sendTime[0] = Stopwatch_Now();
    const uint32_t start = gFakeTick;
    gFakeTick = start + 4900;
    Conn_ShowLinkState(C(0));
    EXPECT_EQ(Viewer_LinkIconShown(), 1);
    gFakeTick = start + 5000;
    Conn_ShowLinkState(C(0));
    EXPECT_EQ(Viewer_LinkIconShown(), 0);
    const Bytes answer = DataAnswer(5);
    Feed(C(0), 0, answer.data(), 100);
    Conn_ProcessReceived(C(0), 0);
    Conn_ShowLinkState(C(0));
    EXPECT_EQ(Viewer_LinkIconShown(), 1);
    gFakeTick = start;
}
