// The handshake module: hello and client info as the recorder reads them,
// the machine record and what it sets up, the recorder's close, the three
// variable handlers, and the link coming back after the sockets drop.
#include "ModuleFixture.h"
#include "panel/SkinVars.h"
#include "control/TavlinImpl1.h"

namespace {

const uint32_t S = 0x1111;

Bytes Body(size_t n, uint8_t fill) { return Bytes(n, fill); }

Bytes MachineRecord(uint32_t channels, uint32_t sockets)
{
    Bytes r(256, 0);
    PutU32(r, 0, channels);
    PutU32(r, 4, 1);                                                  // variant
    PutU32(r, 8, 1);                                                  // titles
    for (int t = 0; t < 4; ++t) memset(&r[12 + 32 * t], 'a' + t, 32); // all 32 bytes used
    PutU32(r, 140, 1);
    PutU32(r, 148, sockets);
    PutU32(r, 224, 2);
    PutU32(r, 228, 1);
    return r;
}

class TavnTest : public ModuleTest {
protected:
    // A fresh session granted on record 0, its hello queued and taken: each
    // session takes one machine record.
    uint32_t NewSession()
    {
        static uint32_t next = 0x5000;
        C(0)->session = ++next;
        Handshake_Start(C(0)->session);
        Queued(0);
        return C(0)->session;
    }
};

TEST_F(TavnTest, GrantedSessionSaysHelloAsTheRecorderReadsIt)
{
    Handshake_Send(S, TAVN_HELLO);
    std::vector<Bytes> q = Queued(0);
    ASSERT_EQ(q.size(), 1u);
    const Bytes& m = q[0];
    ASSERT_EQ(m.size(), 64u + 256u);
    EXPECT_TRUE(ChecksumHolds(m));
    EXPECT_EQ(memcmp(&m[4], "TAVN", 4), 0);
    EXPECT_EQ(GetU32(m, 32), S);
    EXPECT_EQ(GetU32(m, 36), 0u);
    EXPECT_EQ(GetU32(m, 64), 1u);
    EXPECT_EQ(GetU32(m, 68), 1u);
    EXPECT_EQ(m[64 + 9], 1);
    EXPECT_EQ(m[64 + 10] | m[64 + 11] << 8, 0x0811);
    EXPECT_EQ(m[64 + 12] | m[64 + 13] << 8, 0x1234);
    EXPECT_EQ(m[64 + 14] | m[64 + 15] << 8, 0);

    // The close is header and sub-header only; a session nobody holds sends nothing.
    Handshake_Send(S, TAVN_CLOSE);
    Handshake_Send(0x9999, TAVN_HELLO);
    q = Queued(0);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].size(), 64u);
    EXPECT_EQ(GetU32(q[0], 36), 2u);
    EXPECT_TRUE(ChecksumHolds(q[0]));
}

TEST_F(TavnTest, HelloAnswerIsAnsweredWithTheClientInfo)
{
    // Whatever the other record holds, kind 1 is admitted.
    C(1)->active = 1;
    gHandshakeRecords[1].helloAnswer.clientKind = 2;
    Bytes answer = Body(256, 0x5A);
    PutU32(answer, 0, 1);
    Deliver(S, WireMessage("TAVN", {S, TAVN_HELLO}, answer));
    EXPECT_EQ(gHandshakeRecords[0].helloAnswer.clientKind, 1u);
    EXPECT_EQ(gHandshakeRecords[0].helloAnswer.rest[251], 0x5A);

    std::vector<Bytes> q = Queued(0);
    ASSERT_EQ(q.size(), 1u);
    const Bytes& m = q[0];
    ASSERT_EQ(m.size(), 64u + 256u);
    EXPECT_TRUE(ChecksumHolds(m));
    EXPECT_EQ(GetU32(m, 36), 1u);
    EXPECT_EQ(GetU32(m, 64), 16u);
    EXPECT_EQ(GetU32(m, 68), 0u);
    EXPECT_EQ(GetU32(m, 72), 1u);
    const struct {
        size_t at;
        const char* text;
    } texts[] = {{76, "[OS] 2.9.2_138ED"}, {108, "[SN] 1234567890"}, {140, "[B] REV:1.9"}, {172, "[N] 7104"}};
    for (const auto& t : texts) {
        SCOPED_TRACE(t.text);
        EXPECT_EQ(std::string((const char*)&m[t.at]), t.text);
        for (size_t i = t.at + strlen(t.text); i < t.at + 32; ++i) EXPECT_EQ(m[i], 0) << i;
    }
    for (size_t i = 204; i < 320; ++i) EXPECT_EQ(m[i], 0) << i;
}

TEST_F(TavnTest, ShortMessagesFillOnlyWhatArrivedAndZeroTheRest)
{
    // A full machine record first leaves its bytes in the module buffer;
    // shorter messages after it must not pick them up.
    Deliver(S, WireMessage("TAVN", {S, TAVN_CLIENT_INFO}, MachineRecord(16, 1)));
    Queued(0);
    struct Case {
        const char* name;
        uint32_t code;
        Bytes body;
        size_t checkFrom; // bytes of the record from here on must be 0
    } const cases[] = {
        {"hello answer of 4 bytes", TAVN_HELLO, U32Bytes(1), 4},
        {"empty hello answer", TAVN_HELLO, {}, 0},
        {"machine record of 20 bytes", TAVN_CLIENT_INFO, Body(20, 0x08), 20},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        THandshakeRecord* h = &gHandshakeRecords[0];
        memset(&h->helloAnswer, 0xEE, sizeof h->helloAnswer);
        const uint32_t session = NewSession();
        Deliver(session, WireMessage("TAVN", {session, k.code}, k.body));
        const uint8_t* rec = k.code == TAVN_HELLO ? (const uint8_t*)&h->helloAnswer : (const uint8_t*)&h->machine;
        for (size_t i = k.checkFrom; i < 256; ++i) ASSERT_EQ(rec[i], 0) << "byte " << i;
        Queued(0);
    }
    // The 20-byte machine record's channel count 0x08080808 is kept as
    // sent; the key panel works with 16.
    EXPECT_EQ(gHandshakeRecords[0].machine.channelCount, 0x08080808u);
    EXPECT_EQ(IE_M_CH, 16);
}

TEST_F(TavnTest, MachineRecordKeepsTheCountAsSentAndTheViewerWorksWithFourEightOrSixteen)
{
    const struct {
        uint32_t sent, used;
    } cases[] = {{0, 4}, {1, 4}, {4, 4}, {5, 8}, {8, 8}, {9, 16}, {16, 16}, {17, 16}, {0xFFFFFFFF, 16}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.sent);
        IE_M_CH = -1;
        const uint32_t session = NewSession();
        Deliver(session, WireMessage("TAVN", {session, TAVN_CLIENT_INFO}, MachineRecord(k.sent, 1)));
        EXPECT_EQ(gHandshakeRecords[0].machine.channelCount, k.sent);
        EXPECT_EQ(Handshake_ChannelCount(gHandshakeRecords[0].machine.channelCount), k.used);
        EXPECT_EQ(IE_M_CH, (int32_t)k.used);
        Queued(0);
    }
}

TEST_F(TavnTest, MachineRecordConfiguresTheConnection)
{
    const struct {
        uint32_t sockets;
        int opens;
    } cases[] = {{0, 0}, {1, 0}, {2, 1}, {7, 1}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.sockets);
        sockets[0][1].opens = 0;
        Wire(0, 1).connected = false;
        C(0)->active = 0;
        C(0)->vidoQueue.lastDelivered = 77;
        Viewer_ShowUpnpTab(1);
        const uint32_t session = NewSession();
        Deliver(session, WireMessage("TAVN", {session, TAVN_CLIENT_INFO}, MachineRecord(8, k.sockets)));

        const TMachineRecord& r = gHandshakeRecords[0].machine;
        EXPECT_EQ(C(0)->active, 1u);
        EXPECT_EQ(C(0)->vidoQueue.lastDelivered, 0u);
        EXPECT_EQ(sockets[0][1].opens, k.opens);
        if (k.opens) {
            EXPECT_EQ(sockets[0][1].host, "10.1.2.3");
            EXPECT_EQ(sockets[0][1].port, 8080);
            EXPECT_EQ(C(0)->socketState[1], (uint32_t)SOCK_OPENING);
        }
        // A text that fills all 32 bytes shows as 31 characters.
        for (int t = 0; t < 4; ++t) EXPECT_EQ(strlen(r.text[t]), 31u) << t;
        EXPECT_EQ(r.text[1][0], 'b');
        EXPECT_EQ(r.variant, 1u);
        EXPECT_EQ(r.frameRateFlag, 1u);
        EXPECT_EQ(r.audioWord, 2u);
        EXPECT_EQ(r.mailIntervalHidden, 1u);
        EXPECT_EQ(Viewer_UpnpTabVisible(), 0);

        // The first named-variable exchange: the machine type, 1,280 bytes
        // (the key panel's live request may go before it).
        std::vector<Bytes> q;
        for (const Bytes& b : Queued(0))
            if (b.size() >= 8 && memcmp(&b[4], "ICTL", 4) == 0) q.push_back(b);
        ASSERT_EQ(q.size(), 1u);
        const Bytes& m = q[0];
        ASSERT_EQ(m.size(), 1280u);
        EXPECT_TRUE(ChecksumHolds(m));
        EXPECT_EQ(memcmp(&m[4], "ICTL", 4), 0);
        EXPECT_EQ(GetU32(m, 44), 1u);
        EXPECT_EQ(GetU32(m, 64), 1216u);
        EXPECT_EQ(std::string((const char*)&m[68]), "Tavn_Mach_Type_Data_W");
    }
}

TEST_F(TavnTest, MessagesForNoHeldSessionOrUnknownCodesAreIgnored)
{
    C(1)->session = 0; // record 1 holds "no session"
    const struct {
        const char* name;
        uint32_t session, code;
    } cases[] = {
        {"session 0", 0, TAVN_CLIENT_INFO},
        {"other session", 0x2222, TAVN_CLIENT_INFO},
        {"code 3", S, 3},
        {"code 0xFFFFFFFF", S, 0xFFFFFFFF},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        // The payload rides on a held session; the message names its own.
        Deliver(S, WireMessage("TAVN", {k.session, k.code}, MachineRecord(8, 2)));
        EXPECT_EQ(C(0)->active, 0u);
        EXPECT_EQ(C(1)->active, 0u);
        EXPECT_EQ(sockets[0][1].opens + sockets[1][1].opens, 0);
        EXPECT_TRUE(Queued(0).empty());
        EXPECT_TRUE(Queued(1).empty());
    }
}

TEST_F(TavnTest, GrantClearsTheClientKind)
{
    gHandshakeRecords[0].helloAnswer.clientKind = 1;
    C(0)->active = 0;
    TGrantRequest request{};
    ASSERT_NE(Ulcm_GrantSession(&request), 0u);
    EXPECT_EQ(Handshake_ClientKind(C(0)), 0u);
}

TEST_F(TavnTest, RecordersCloseResetsTheLinkAndSocketZeroComesBack)
{
    C(0)->active = 1;
    C(0)->socketState[0] = C(0)->socketState[1] = SOCK_OPENING;
    Deliver(S, WireMessage("TAVN", {S, TAVN_CLOSE}));
    EXPECT_EQ(C(0)->session, 0u);
    EXPECT_EQ(C(0)->linkState, (uint32_t)LINK_IDLE);
    EXPECT_EQ(C(0)->active, 0u);
    EXPECT_EQ(sockets[0][0].closes, 1);
    EXPECT_EQ(sockets[0][1].closes, 1);
    EXPECT_EQ(C(0)->socketState[0], (uint32_t)SOCK_DOWN);
}

TEST_F(TavnTest, CloseInsideAnAnswerLeavesTheLinkToLogInWithSessionZero)
{
    C(0)->active = 1;
    Bytes packet = UlcmPacket(ULCM_DATA_POLL, S, 0, WireMessage("TAVN", {S, TAVN_CLOSE}));
    Ulcm_ParsePacket(packet.data(), (uint32_t)packet.size());
    // No grant of the viewer's own: the record stays free, without a session.
    EXPECT_TRUE(Wire(0, 0).sent.empty());
    EXPECT_EQ(C(0)->session, 0u);
    EXPECT_EQ(C(0)->active, 0u);
    EXPECT_EQ(C(0)->socketState[0], (uint32_t)SOCK_DOWN);
    // Once socket 0 is back, the login names session 0.
    C(0)->busy[0] = 0;
    Ulcm_PumpSend(C(0));
    ASSERT_EQ(Wire(0, 0).sent.size(), 1u);
    EXPECT_EQ(GetU32(Wire(0, 0).sent[0], 8), (uint32_t)ULCM_LOGIN);
    EXPECT_EQ(GetU32(Wire(0, 0).sent[0], 12), 0u);
}

TEST_F(TavnTest, LinkComesBackWhateverOrderTheSocketsDropIn)
{
    const struct {
        const char* name;
        std::vector<uint32_t> drops;
        bool socketOneUsed;
    } cases[] = {
        {"one socket", {0}, false},
        {"two sockets, 0 first", {0, 1}, true},
        {"two sockets, 1 first", {1, 0}, true},
        {"socket 1 alone", {1}, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        C(0)->session = S;
        C(0)->linkState = LINK_LOGGED_IN;
        C(0)->socketState[0] = SOCK_OPENING;
        C(0)->socketState[1] = k.socketOneUsed ? SOCK_OPENING : SOCK_IDLE;
        Wire(0, 0).connected = Wire(0, 1).connected = true;
        Conn_OnConnected(0, 0);
        if (k.socketOneUsed) Conn_OnConnected(0, 1);
        // As the class library raises it: the socket goes, then its
        // disconnect handler runs.
        for (uint32_t s : k.drops) {
            Wire(0, s).connected = false;
            Conn_OnDisconnected(0, s);
        }
        EXPECT_EQ(C(0)->session, 0u);
        // Socket 0 logs in again: it is either still connected (the pump
        // sends the login on it) or marked for the poll to reconnect it.
        EXPECT_TRUE(Wire(0, 0).connected || C(0)->socketState[0] == SOCK_DOWN);
        for (uint32_t s : k.drops) EXPECT_EQ(C(0)->socketState[s], (uint32_t)SOCK_DOWN) << s;
    }
}

TEST_F(TavnTest, MachineTypeAnswerShowsTheUpnpTabWhenItSaysSo)
{
    const struct {
        uint32_t word8, flag;
        int visible;
    } cases[] = {{1, 1, 1}, {0, 1, 0}, {2, 1, 0}, {1, 0, 0}};
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.word8 << " flag " << k.flag);
        Viewer_ShowUpnpTab(0);
        Bytes value(960, 0x33);
        PutU32(value, 8, k.word8);
        Deliver(S, WireMessage("ICTL", {S, 0, 0, k.flag}, VariableBody("Tavn_Mach_Type_Data_R", value)));
        EXPECT_EQ(Viewer_UpnpTabVisible(), k.visible);
        EXPECT_EQ(GetU32(Bytes(gMachineTypeData, gMachineTypeData + 12), 8), k.word8);
        EXPECT_EQ(gMachineTypeData[959], 0x33);
    }
}

TEST_F(TavnTest, SetupAcknowledgementShowsOneBoxAndResets)
{
    const struct {
        uint32_t value, flag;
        size_t boxes;
        uint32_t after;
    } cases[] = {{1, 1, 1, 0}, {0, 1, 0, 0}, {1, 0, 0, 1}, {2, 1, 0, 0}};
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << k.value << " flag " << k.flag);
        boxes.clear();
        gSetupAck = 0;
        Deliver(S, WireMessage("ICTL", {S, 0, 0, k.flag}, VariableBody("Tavn_ACK_R", U32Bytes(k.value))));
        EXPECT_EQ(SuccessBoxes(), k.boxes);
        EXPECT_EQ(gSetupAck, k.after);
    }
}

} // namespace

namespace {

// The hellos among the messages queued on record 0.
size_t Hellos(const std::vector<Bytes>& q)
{
    size_t n = 0;
    for (const Bytes& m : q)
        if (memcmp(&m[4], "TAVN", 4) == 0 && GetU32(m, 36) == TAVN_HELLO) ++n;
    return n;
}

class HandshakeRetryTest : public ModuleTest {};

TEST_F(HandshakeRetryTest, HandshakeStartsOverWhenTheMachineRecordDoesNotCome)
{
    Wire(0, 1).connected = false;
    C(0)->session = 0;
    C(0)->linkState = LINK_LOGIN_SENT;
    ASSERT_EQ(Ulcm_AcceptSession(S, 0), 0);
    EXPECT_EQ(Hellos(Queued(0)), 1u); // the hello; its answer is lost
    uint32_t start = gFakeTick;
    for (uint32_t ms = 10; ms < 3000; ms += 500) {
        gFakeTick = start + ms;
        C(0)->busy[0] = 0;
        Ulcm_PumpSend(C(0));
        EXPECT_EQ(Hellos(Queued(0)), 0u) << ms;
    }
    gFakeTick = start + 3000;
    C(0)->busy[0] = 0;
    Wire(0, 0).sent.clear();
    Ulcm_PumpSend(C(0));
    // The new hello went straight out in the poll.
    ASSERT_EQ(Wire(0, 0).sent.size(), 1u);
    const Bytes& packet = Wire(0, 0).sent[0];
    ASSERT_GE(packet.size(), 64u + 64u);
    EXPECT_EQ(memcmp(&packet[64 + 4], "TAVN", 4), 0);
    EXPECT_EQ(GetU32(packet, 64 + 36), (uint32_t)TAVN_HELLO);

    // Once the machine record has come, nothing starts over.
    Deliver(S, WireMessage("TAVN", {S, TAVN_CLIENT_INFO}, MachineRecord(4, 1)));
    Queued(0);
    EXPECT_EQ(C(0)->active, 1u);
    gFakeTick = start + 20000;
    C(0)->busy[0] = 0;
    Wire(0, 0).sent.clear();
    Ulcm_PumpSend(C(0));
    ASSERT_EQ(Wire(0, 0).sent.size(), 1u);
    EXPECT_EQ(Wire(0, 0).sent[0].size(), 64u); // a plain poll
    gFakeTick = start;
}

// The Tavn_Mach_Type_Data_W exchanges among the messages queued on record 0.
size_t MachineTypeRequests(const std::vector<Bytes>& q)
{
    size_t n = 0;
    for (const Bytes& m : q)
        if (m.size() > 68 && memcmp(&m[4], "ICTL", 4) == 0 &&
            std::string((const char*)&m[68]) == "Tavn_Mach_Type_Data_W")
            ++n;
    return n;
}

TEST_F(HandshakeRetryTest, ASlowMachineRecordIsAwaitedNotAskedForAgainAndTakenOncePerSession)
{
    Wire(0, 1).connected = false;
    C(0)->session = 0;
    C(0)->linkState = LINK_LOGIN_SENT;
    ASSERT_EQ(Ulcm_AcceptSession(S, 0), 0);
    const uint32_t start = gFakeTick;
    C(0)->busy[0] = 0;
    Ulcm_PumpSend(C(0)); // the hello leaves
    Bytes helloAnswer(256, 0);
    PutU32(helloAnswer, 0, 1);
    Deliver(S, WireMessage("TAVN", {S, TAVN_HELLO}, helloAnswer));
    C(0)->busy[0] = 0;
    Wire(0, 0).sent.clear();
    Ulcm_PumpSend(C(0)); // the client info leaves; the record comes with its answer
    ASSERT_EQ(Wire(0, 0).sent.size(), 1u);
    ASSERT_GE(Wire(0, 0).sent[0].size(), 64u + 64u + 256u);
    EXPECT_EQ(GetU32(Wire(0, 0).sent[0], 64 + 36), (uint32_t)TAVN_CLIENT_INFO);
    // The recorder takes 8 s over it: nothing starts over meanwhile.
    for (uint32_t ms = 500; ms <= 8000; ms += 500) {
        gFakeTick = start + ms;
        Ulcm_PumpSend(C(0));
        EXPECT_EQ(Hellos(Queued(0)), 0u) << ms;
    }
    Deliver(S, WireMessage("TAVN", {S, TAVN_CLIENT_INFO}, MachineRecord(4, 1)));
    EXPECT_EQ(C(0)->active, 1u);
    EXPECT_EQ(IE_M_CH, 4);
    EXPECT_EQ(MachineTypeRequests(Queued(0)), 1u);
    // A second record for the same session (a recorder that answered a
    // hello sent again) sets nothing up again.
    Deliver(S, WireMessage("TAVN", {S, TAVN_CLIENT_INFO}, MachineRecord(16, 1)));
    EXPECT_EQ(IE_M_CH, 4);
    EXPECT_EQ(gHandshakeRecords[0].machine.channelCount, 4u);
    EXPECT_EQ(MachineTypeRequests(Queued(0)), 0u);
    // The next session takes its own.
    C(0)->linkState = LINK_LOGIN_SENT;
    ASSERT_EQ(Ulcm_AcceptSession(S + 1, 0), 0);
    Queued(0);
    Deliver(S + 1, WireMessage("TAVN", {S + 1, TAVN_CLIENT_INFO}, MachineRecord(16, 1)));
    EXPECT_EQ(IE_M_CH, 16);
    EXPECT_EQ(MachineTypeRequests(Queued(0)), 1u);
    gFakeTick = start;
}

} // namespace
