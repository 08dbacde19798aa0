// ULCM packets: login, session grants, the send pump's chunks and polls,
// the 60-second time-out, packet checks, and the credential block.
#include "LinkFixture.h"

// --- A reference of the credential scrambling, written from the wire rules.

static int Hex(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

// Shifts each source digit up by the key's digits, taken from the key's
// end backwards and round again; the position carries on across strings.
static std::string RefShift(const std::string& source, const std::string& key, int& p)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char x : source) {
        out += digits[(Hex(x) + Hex(key[p])) & 15];
        if (--p < 0) p = (int)key.size() - 1;
    }
    return out;
}

static std::string RefBlock(int64_t now, const std::string& a, const std::string& b)
{
    char key[16];
    snprintf(key, sizeof key, "%X", (unsigned)now);
    int p = (int)strlen(key) - 1;
    std::string sa = RefShift(a, key, p);
    std::string sb = RefShift(b, key, p);
    std::string block = std::string(key) + "." + sa + "." + sb;
    return block.substr(0, 31);
}

struct SentPacket {
    uint32_t total, type, session, connection, socket, zero, reserved;
    std::string credentials;
    Bytes payload;
};

static SentPacket Parse(const Bytes& p)
{
    EXPECT_GE(p.size(), 64u);
    EXPECT_EQ(memcmp(&p[4], "ULCM", 4), 0);
    SentPacket s;
    s.total = GetU32(p, 0);
    s.type = GetU32(p, 8);
    s.session = GetU32(p, 12);
    s.credentials.assign((const char*)&p[16], strnlen((const char*)&p[16], 32));
    for (size_t i = 16 + s.credentials.size(); i < 48; ++i) EXPECT_EQ(p[i], 0) << "credential byte " << i;
    s.zero = GetU32(p, 48);
    s.connection = GetU32(p, 52);
    s.socket = GetU32(p, 56);
    s.reserved = GetU32(p, 60);
    s.payload.assign(p.begin() + 64, p.end());
    EXPECT_EQ(s.total, p.size());
    return s;
}

class UlcmTest : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        Msg_RegisterModule("TEST", TestReceive, nullptr, gTestBuffer, TEST_BUFFER);
        Wire(0, 1).connected = false;
    }
    uint32_t Used(uint32_t c)
    {
        TRingDesc* r = C(c)->sendRing;
        return Ring_Used(r->writeIndex, r->readIndex, r->size);
    }
    void LoggedIn(uint32_t session)
    {
        C(0)->session = session;
        C(0)->linkState = LINK_LOGGED_IN;
    }
    // The recorder's answers arrive: every socket is free again.
    void Answered() { C(0)->busy[0] = C(0)->busy[1] = 0; }
};

TEST_F(UlcmTest, LoginIsA64BytePacketAndEmptiesTheSendRing)
{
    strcpy(C(0)->credentialsA, "1234");
    strcpy(C(0)->credentialsB, "99");
    Bytes m = ModuleMessage("TEST", 100, 0);
    ASSERT_EQ(Conn_QueueSend(C(0), m.data(), 100), 0);
    Ulcm_PumpSend(C(0));
    ASSERT_EQ(Wire(0, 0).sent.size(), 1u);
    SentPacket p = Parse(Wire(0, 0).sent[0]);
    EXPECT_EQ(p.total, 64u);
    EXPECT_EQ(p.type, (uint32_t)ULCM_LOGIN);
    EXPECT_EQ(p.session, 0u);
    EXPECT_EQ(p.connection, 0u);
    EXPECT_EQ(p.socket, 0u);
    EXPECT_EQ(p.zero, 0u);
    EXPECT_EQ(p.reserved, 0u);
    EXPECT_EQ(p.credentials, RefBlock(gFakeTime, "1234", "99"));
    EXPECT_EQ(C(0)->linkState, (uint32_t)LINK_LOGIN_SENT);
    EXPECT_EQ(C(0)->busy[0], 1u);
    EXPECT_EQ(Used(0), 0u);
    EXPECT_EQ(C(0)->lengthRead, C(0)->lengthWrite); // the table is emptied with the ring

    // State 3 sends nothing more until the grant.
    Answered();
    Ulcm_PumpSend(C(0));
    EXPECT_EQ(Wire(0, 0).sent.size(), 1u);
}

TEST_F(UlcmTest, NoLoginWhileSocketZeroIsNotConnected)
{
    Wire(0, 0).connected = false;
    Ulcm_PumpSend(C(0));
    EXPECT_TRUE(Wire(0, 0).sent.empty());
    EXPECT_EQ(C(0)->linkState, (uint32_t)LINK_IDLE);
}

TEST_F(UlcmTest, GrantOfAFreshSessionLogsIn)
{
    C(0)->linkState = LINK_LOGIN_SENT;
    Bytes grant = UlcmPacket(ULCM_GRANT, 0x1000, 0);
    Ulcm_ParsePacket(grant.data(), (uint32_t)grant.size());
    EXPECT_EQ(C(0)->session, 0x1000u);
    EXPECT_EQ(C(0)->linkState, (uint32_t)LINK_LOGGED_IN);
    EXPECT_EQ(C(0)->active, 0u);
    EXPECT_TRUE(Wire(0, 0).sent.empty());
}

TEST_F(UlcmTest, GrantOfAnAlreadyHeldSessionLogsInAgainWithIt)
{
    struct Case {
        const char* name;
        uint32_t holder; // record that already holds the session
    } const cases[] = {{"held by the other record", 1}, {"held by this record", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Wire(0, 0).sent.clear();
        C(0)->session = C(1)->session = 0;
        C(c.holder)->session = 0x2222;
        C(0)->linkState = LINK_LOGIN_SENT;
        C(0)->active = 1;
        C(0)->busy[0] = 0;
        Bytes grant = UlcmPacket(ULCM_GRANT, 0x2222, 0);
        Ulcm_ParsePacket(grant.data(), (uint32_t)grant.size());
        EXPECT_EQ(C(0)->session, 0x2222u);
        EXPECT_EQ(C(0)->active, 0u);
        ASSERT_EQ(Wire(0, 0).sent.size(), 1u);
        SentPacket p = Parse(Wire(0, 0).sent[0]);
        EXPECT_EQ(p.type, (uint32_t)ULCM_LOGIN);
        EXPECT_EQ(p.session, 0x2222u);
        EXPECT_EQ(C(0)->linkState, (uint32_t)LINK_LOGIN_SENT); // state 0, then the login went out
    }
}

TEST_F(UlcmTest, MalformedPacketsAreIgnored)
{
    LoggedIn(300);
    Bytes data = UlcmPacket(ULCM_DATA, 300, 0, ModuleMessage("TEST", 40, 300));
    struct Case {
        const char* name;
        Bytes packet;
        uint32_t length;
    } cases[] = {
        {"total 63", data, (uint32_t)data.size()},
        {"wrong magic", data, (uint32_t)data.size()},
        {"connection index 2", data, (uint32_t)data.size()},
        {"total beyond the body", data, (uint32_t)data.size() - 1},
        {"body shorter than a header", Bytes(data.begin(), data.begin() + 63), 63},
    };
    PutU32(cases[0].packet, 0, 63);
    cases[1].packet[7] = 'X';
    PutU32(cases[2].packet, 52, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ulcm_ParsePacket(c.packet.data(), c.length);
        EXPECT_TRUE(gDeliveries.empty());
        EXPECT_TRUE(Wire(0, 0).sent.empty());
        EXPECT_EQ(C(0)->session, 300u);
        EXPECT_EQ(C(0)->linkState, (uint32_t)LINK_LOGGED_IN);
    }
    // The same packet whole is delivered, and bytes past its total are ignored.
    Bytes longer = data;
    longer.resize(data.size() + 30, 0xEE);
    Ulcm_ParsePacket(longer.data(), (uint32_t)longer.size());
    EXPECT_EQ(gDeliveries.size(), 1u);
}

struct ChunkCase {
    const char* name;
    std::vector<uint32_t> messages; // queued in this order
    std::vector<uint32_t> packets;  // payload sizes of the packets that follow
};

TEST_F(UlcmTest, PacketsCarryWholeMessagesOfAtMost1280Bytes)
{
    const ChunkCase cases[] = {
        {"three of 1,000", {1000, 1000, 1000}, {1000, 1000, 1000}},
        {"exactly 1,280", {1280}, {1280}},
        {"1,280 in pieces", {640, 320, 320}, {1280}},
        {"1,281", {1280, 1}, {1280, 1}},
        {"600s", {600, 600, 600}, {1200, 600}},
        {"twenty of 100", std::vector<uint32_t>(20, 100), {1200, 800}},
        {"small ones", {32, 64, 96}, {192}},
    };
    for (const ChunkCase& c : cases) {
        SCOPED_TRACE(c.name);
        Wire(0, 0).sent.clear();
        Conn_ResetSendRing(0);
        LoggedIn(400);
        Answered();
        Bytes queued;
        uint8_t seed = 1;
        for (uint32_t size : c.messages) {
            Bytes m = ModuleMessage("TEST", size < 32 ? 32 : size, 400, seed++);
            m.resize(size);
            ASSERT_EQ(Conn_QueueSend(C(0), m.data(), size), 0);
            queued = Concat(queued, m);
        }
        Bytes carried;
        for (size_t i = 0; i < c.packets.size(); ++i) {
            Ulcm_PumpSend(C(0));
            ASSERT_EQ(Wire(0, 0).sent.size(), i + 1);
            SentPacket p = Parse(Wire(0, 0).sent[i]);
            EXPECT_EQ(p.type, (uint32_t)ULCM_DATA_POLL);
            EXPECT_EQ(p.session, 400u);
            EXPECT_EQ(p.payload.size(), c.packets[i]) << "packet " << i;
            carried = Concat(carried, p.payload);
            Answered();
        }
        EXPECT_EQ(carried, queued); // the bytes in order, nothing lost
        EXPECT_EQ(Used(0), 0u);
        EXPECT_EQ(C(0)->lengthRead, C(0)->lengthWrite);
    }
}

TEST_F(UlcmTest, IdleLinkPollsOnTheFirstFreeConnectedSocket)
{
    LoggedIn(500);
    Wire(0, 1).connected = true;
    Ulcm_PumpSend(C(0));
    ASSERT_EQ(Wire(0, 0).sent.size(), 1u);
    EXPECT_TRUE(Wire(0, 1).sent.empty());
    SentPacket p = Parse(Wire(0, 0).sent[0]);
    EXPECT_EQ(p.type, (uint32_t)ULCM_DATA_POLL);
    EXPECT_EQ(p.total, 64u);

    Ulcm_PumpSend(C(0)); // socket 0 awaits its answer: socket 1 polls
    EXPECT_EQ(Wire(0, 0).sent.size(), 1u);
    ASSERT_EQ(Wire(0, 1).sent.size(), 1u);
    EXPECT_EQ(Parse(Wire(0, 1).sent[0]).socket, 1u);

    Ulcm_PumpSend(C(0)); // both busy: nothing
    EXPECT_EQ(Wire(0, 0).sent.size() + Wire(0, 1).sent.size(), 2u);
    EXPECT_EQ(Ulcm_SendPacket(0, ULCM_POLL, 500, 0, 0), -1);
}

TEST_F(UlcmTest, SocketWithoutAnAnswerForSixtySecondsIsClosedForAReconnect)
{
    for (uint32_t state : {(uint32_t)LINK_LOGIN_SENT, (uint32_t)LINK_LOGGED_IN}) {
        SCOPED_TRACE(state);
        Wire(0, 0).sent.clear();
        sockets[0][0].closes = 0;
        C(0)->session = 600;
        C(0)->linkState = state;
        C(0)->busy[0] = 1;
        C(0)->sendTime[0] = Stopwatch_Now();
        uint32_t start = gFakeTick;

        gFakeTick = start + 59999;
        Ulcm_PumpSend(C(0));
        EXPECT_EQ(C(0)->busy[0], 1u);
        EXPECT_EQ(sockets[0][0].closes, 0);
        EXPECT_TRUE(Wire(0, 0).sent.empty());

        // Nothing is sent again on a connection whose peer stopped
        // answering: it is closed, and the disconnect reconnects.
        gFakeTick = start + 60000;
        Wire(0, 0).connected = false; // what the close does to the socket
        Ulcm_PumpSend(C(0));
        EXPECT_EQ(C(0)->busy[0], 0u);
        EXPECT_EQ(sockets[0][0].closes, 1);
        EXPECT_TRUE(Wire(0, 0).sent.empty());
        Wire(0, 0).connected = true;
        gFakeTick = start;
    }
}

TEST_F(UlcmTest, TimeOutHoldsAcrossTheStopwatchWrap)
{
    // The reading wraps after 42,949,672 ms; the difference stays right.
    gFakeTick = 1000 + 42949000;
    C(0)->linkState = LINK_LOGIN_SENT;
    C(0)->busy[0] = 1;
    C(0)->sendTime[0] = Stopwatch_Now();
    gFakeTick += 59999;
    Ulcm_PumpSend(C(0));
    EXPECT_EQ(sockets[0][0].closes, 0);
    gFakeTick += 1;
    Ulcm_PumpSend(C(0));
    EXPECT_EQ(sockets[0][0].closes, 1);
}

TEST_F(UlcmTest, PeerLoginIsGrantedAFreshSession)
{
    // Record 0 is active, so the grant takes record 1.
    C(0)->active = 1;
    C(0)->session = (uint32_t)gFakeTime;     // the first candidate is taken
    C(1)->session = (uint32_t)gFakeTime + 1; // and so is the second
    strcpy(C(1)->credentialsA, "stale");
    C(1)->receive[0].writeIndex = 5;
    Bytes login = UlcmPacket(ULCM_LOGIN, 0, 0);
    Ulcm_ParsePacket(login.data(), (uint32_t)login.size());
    EXPECT_EQ(C(1)->active, 1u);
    EXPECT_EQ(C(1)->session, (uint32_t)gFakeTime + 2);
    EXPECT_EQ(C(1)->credentialsA[0], 0);
    EXPECT_EQ(C(1)->receive[0].writeIndex, 0u);
    ASSERT_EQ(Wire(0, 0).sent.size(), 1u);
    SentPacket p = Parse(Wire(0, 0).sent[0]);
    EXPECT_EQ(p.type, (uint32_t)ULCM_GRANT);
    EXPECT_EQ(p.session, (uint32_t)gFakeTime + 2);
    EXPECT_EQ(p.total, 64u);
}

TEST_F(UlcmTest, GrantWithoutAQualifyingRecordGrantsNothing)
{
    C(0)->active = C(1)->active = 1;
    TGrantRequest request{};
    EXPECT_EQ(Ulcm_GrantSession(&request), 0u);
    request.session = 999; // no record holds it
    EXPECT_EQ(Ulcm_GrantSession(&request), 0u);
    C(1)->session = 999;
    EXPECT_EQ(Ulcm_GrantSession(&request), (uint32_t)gFakeTime);
    EXPECT_EQ(C(1)->session, (uint32_t)gFakeTime);
}

TEST_F(UlcmTest, DataOfASessionNobodyHoldsIsAnsweredWithAGrant)
{
    LoggedIn(700);
    C(1)->active = 1;
    C(1)->session = 701;
    for (uint32_t type : {(uint32_t)ULCM_POLL, (uint32_t)ULCM_DATA, (uint32_t)ULCM_DATA_POLL}) {
        SCOPED_TRACE(type);
        Wire(0, 0).sent.clear();
        C(0)->busy[0] = 0;
        C(0)->active = 1; // nothing to grant: the answer carries session 0
        Bytes packet = UlcmPacket(type, 12345, 0, ModuleMessage("TEST", 40, 12345));
        Ulcm_ParsePacket(packet.data(), (uint32_t)packet.size());
        EXPECT_TRUE(gDeliveries.empty());
        ASSERT_EQ(Wire(0, 0).sent.size(), 1u);
        SentPacket p = Parse(Wire(0, 0).sent[0]);
        EXPECT_EQ(p.type, (uint32_t)ULCM_GRANT);
        EXPECT_EQ(p.session, 0u);
        EXPECT_EQ(C(0)->session, 700u);
    }
    // A held session's data is delivered and answered with nothing.
    Wire(0, 0).sent.clear();
    for (uint32_t type : {(uint32_t)ULCM_DATA, (uint32_t)ULCM_DATA_POLL}) {
        Bytes packet = UlcmPacket(type, 700, 0, ModuleMessage("TEST", 40, 700));
        Ulcm_ParsePacket(packet.data(), (uint32_t)packet.size());
    }
    EXPECT_EQ(gDeliveries.size(), 2u);
    EXPECT_TRUE(Wire(0, 0).sent.empty());
}

TEST_F(UlcmTest, GrantInsideAnAnswerEmptiesTheBufferItCameIn)
{
    // A peer login in record 0's buffer grants record 0 and so empties its
    // buffers; the answer behind it goes too, and nothing is left over.
    Bytes login = HttpAnswer(UlcmPacket(ULCM_LOGIN, 0, 0));
    Bytes next = HttpAnswer(UlcmPacket(ULCM_DATA, 1, 0, ModuleMessage("TEST", 40, 1)));
    Bytes both = Concat(login, next);
    Feed(C(0), 0, both.data(), both.size());
    Conn_ProcessReceived(C(0), 0);
    EXPECT_EQ(C(0)->active, 1u);
    EXPECT_EQ(C(0)->receive[0].writeIndex, 0u);
    Conn_ProcessReceived(C(0), 0);
    EXPECT_TRUE(gDeliveries.empty());
}

TEST_F(UlcmTest, NewSessionNumberSkipsHeldCandidates)
{
    C(0)->session = (uint32_t)gFakeTime;
    C(1)->session = 1;
    EXPECT_EQ(Ulcm_NewSessionNumber(), (uint32_t)gFakeTime + 1);
    C(1)->session = (uint32_t)gFakeTime + 1;
    EXPECT_EQ(Ulcm_NewSessionNumber(), (uint32_t)gFakeTime + 2);
}

// --- Credential block ------------------------------------------------------

TEST(Cred, Digits)
{
    struct HexCase {
        char c;
        uint32_t v;
    } const hex[] = {{'0', 0}, {'9', 9}, {'A', 10}, {'F', 15}, {'a', 10}, {'f', 15}, {'G', 0}, {'.', 0}, {0, 0}};
    for (const HexCase& h : hex) EXPECT_EQ(Cred_HexValue(h.c), h.v) << (int)h.c;

    struct ShiftCase {
        uint32_t a, k;
        const char* text;
    } const shift[] = {{0, 0, "0"}, {9, 1, "A"}, {15, 1, "0"}, {7, 8, "F"}, {12, 12, "8"}};
    for (const ShiftCase& s : shift) EXPECT_STREQ(Cred_ShiftDigit(s.a, s.k), s.text) << s.a << "+" << s.k;

    struct UnshiftCase {
        char c, kc;
        const char* appended;
    } const unshift[] = {{'A', '1', "9"}, {'0', '1', "15"}, {'F', 'F', "0"}, {'3', 'C', "7"}, {'f', '0', "15"}};
    for (const UnshiftCase& u : unshift) {
        char text[CRED_FIELD] = "x";
        Cred_UnshiftDigit(text, sizeof text, u.c, u.kc);
        EXPECT_EQ(std::string(text), std::string("x") + u.appended) << u.c << "-" << u.kc;
    }
}

TEST(Cred, BlockFollowsTheTimeKey)
{
    Win_SetTimeSource(FakeTime);
    struct Case {
        int64_t now;
        const char* a;
        const char* b;
        const char* block;
    } const cases[] = {
        {0x5F3A1B2C, "", "", "5F3A1B2C.."},
        {0x5F3A1B2C, "", "12", "5F3A1B2C..D4"}, // B starts at the key's last digit
        {0x5F3A1B2C, "12", "", "5F3A1B2C.D4."},
        {0x5F3A1B2C, "1234", "5", "5F3A1B2C.D4E5.F"},
        {0xA, "123", "4", "A.BCD.E"},   // one-digit key: every digit shifts by it
        {0x12, "0000", "", "12.2121."}, // the key's first digit, then its last again
    };
    for (const Case& c : cases) {
        gFakeTime = c.now;
        char block[32] = {0};
        Cred_BuildBlock(block, c.a, c.b);
        EXPECT_STREQ(block, c.block) << c.a << "/" << c.b;
        EXPECT_EQ(std::string(block), RefBlock(c.now, c.a, c.b));
    }
    Win_SetTimeSource(nullptr);
}

// The page shifts its source digits under a key; the viewer takes the
// shift off, and stamping the strings again under the same key gives back
// the page's own text.
TEST(Cred, UserKeyRoundTrip)
{
    Win_SetTimeSource(FakeTime);
    struct Case {
        uint32_t key;
        const char* sourceA;
        const char* sourceB;
    } const cases[] = {
        {0x5F3A1B2C, "1234", "5678"},
        {0x5F3A1B2C, "0000000000", "99999"}, // longer than the key: the key repeats
        {0xFFFFFFFF, "9081726354", "1"},
        {0x10, "", "42"},
        {0x10, "42", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sourceA);
        char keyText[16];
        snprintf(keyText, sizeof keyText, "%X", c.key);
        int p = (int)strlen(keyText) - 1;
        std::string shiftedA = RefShift(c.sourceA, keyText, p);
        std::string shiftedB = RefShift(c.sourceB, keyText, p);
        std::string userKey = std::string(keyText) + "." + shiftedA + "." + shiftedB;
        ASSERT_LT(userKey.size(), 32u);

        char field[32] = {0};
        memcpy(field, userKey.data(), userKey.size());
        char a[32], b[32];
        memset(a, 'Q', sizeof a);
        memset(b, 'Q', sizeof b);
        Cred_DecodeUserKey(field, a, b);
        EXPECT_STREQ(a, c.sourceA);
        EXPECT_STREQ(b, c.sourceB);
        EXPECT_STREQ(field, keyText); // split in place

        gFakeTime = c.key;
        char block[32] = {0};
        Cred_BuildBlock(block, a, b);
        EXPECT_EQ(std::string(block), userKey);
    }
    Win_SetTimeSource(nullptr);
}

TEST(Cred, SourceDigitsAboveNineDecodeAsTwoDecimalCharacters)
{
    char field[32] = "1.F0B.";
    // F-1 = 14, 0-1 = 15 (wrapped), B-1 = 10
    char a[32] = "old", b[32] = "old";
    Cred_DecodeUserKey(field, a, b);
    EXPECT_STREQ(a, "141510");
    EXPECT_STREQ(b, "");
}

TEST(Cred, UserKeyWithoutBothSeparatorsWritesNothing)
{
    const char* keys[] = {"5F3A.1234", "5F3A1234", ".12.34", ""};
    for (const char* key : keys) {
        char field[32] = {0};
        strcpy(field, key);
        char a[32] = "keepA", b[32] = "keepB";
        Cred_DecodeUserKey(field, a, b);
        EXPECT_STREQ(a, "keepA") << key;
        EXPECT_STREQ(b, "keepB") << key;
        EXPECT_STREQ(field, key);
    }
}

// Fields followed by guard bytes: nothing is written past 32 bytes.
struct Guarded {
    char field[32];
    char guard[16];
};

TEST(Cred, LongStringsAreCutAt31Characters)
{
    Win_SetTimeSource(FakeTime);
    gFakeTime = 0x5F3A1B2C;

    // Every shifted digit below decodes to two characters ("10".."15").
    char userKey[64] = "1.BBBBBBBBBBBBBBBBBBBB.CCCCCCCCCCCCCCCCCCCC";
    Guarded a, b;
    memset(&a, 'G', sizeof a);
    memset(&b, 'G', sizeof b);
    Cred_DecodeUserKey(userKey, a.field, b.field);
    EXPECT_EQ(strlen(a.field), 31u);
    EXPECT_EQ(strlen(b.field), 31u);
    EXPECT_EQ(std::string(a.field, 6), "101010");
    EXPECT_EQ(std::string(b.field, 6), "111111");
    EXPECT_EQ(std::string(a.guard, 16), std::string(16, 'G'));
    EXPECT_EQ(std::string(b.guard, 16), std::string(16, 'G'));

    // The block of two 31-character strings is cut at 31 characters.
    Guarded block;
    memset(&block, 'G', sizeof block);
    memset(block.field, 0, sizeof block.field);
    Cred_BuildBlock(block.field, a.field, b.field);
    EXPECT_EQ(strlen(block.field), 31u);
    EXPECT_EQ(std::string(block.field), RefBlock(gFakeTime, a.field, b.field));
    EXPECT_EQ(std::string(block.guard, 16), std::string(16, 'G'));
    Win_SetTimeSource(nullptr);
}

namespace {

// The packets sent on socket 0 that are logins.
size_t Logins(const FakeWinSocket& w)
{
    size_t n = 0;
    for (const Bytes& p : w.sent)
        if (GetU32(p, 8) == ULCM_LOGIN) ++n;
    return n;
}

} // namespace

TEST_F(UlcmTest, LoginAnsweredWithoutAGrantGoesOutAgainOnceASecond)
{
    Bytes garbage(100, 0x5A);
    const struct {
        const char* name;
        Bytes answer;
    } cases[] = {
        {"no-payload packet", HttpAnswer(UlcmPacket(ULCM_NO_PAYLOAD, 0, 0))},
        {"poll of session 0", HttpAnswer(UlcmPacket(ULCM_POLL, 0, 0))},
        {"non-200 status", HttpAnswer(UlcmPacket(ULCM_GRANT, 0x2000, 0), "HTTP/1.1 500 Internal Server Error")},
        {"empty 200", HttpAnswer({})},
        {"unparsable 200", HttpAnswer(garbage)},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Conn_InitAll();
        Conn_ResetReceiveBuffer(C(0), 0);
        Wire(0, 0).sent.clear();
        Ulcm_PumpSend(C(0));
        ASSERT_EQ(Logins(Wire(0, 0)), 1u);
        uint32_t start = gFakeTick;
        Feed(C(0), 0, k.answer.data(), k.answer.size());
        Conn_ProcessReceived(C(0), 0);
        EXPECT_EQ(C(0)->busy[0], 0u);
        EXPECT_EQ(C(0)->session, 0u);
        for (uint32_t ms : {10u, 500u, 999u}) {
            gFakeTick = start + ms;
            Ulcm_PumpSend(C(0));
            EXPECT_EQ(Logins(Wire(0, 0)), 1u) << ms;
        }
        gFakeTick = start + 1000;
        Ulcm_PumpSend(C(0));
        EXPECT_EQ(Logins(Wire(0, 0)), 2u);
        EXPECT_EQ(C(0)->linkState, (uint32_t)LINK_LOGIN_SENT);
        // The grant still ends it.
        Bytes grant = HttpAnswer(UlcmPacket(ULCM_GRANT, 0x3000, 0));
        Feed(C(0), 0, grant.data(), grant.size());
        Conn_ProcessReceived(C(0), 0);
        EXPECT_EQ(C(0)->linkState, (uint32_t)LINK_LOGGED_IN);
        gFakeTick = start + 5000;
        Ulcm_PumpSend(C(0));
        EXPECT_EQ(Logins(Wire(0, 0)), 2u);
        gFakeTick = start;
    }
}

TEST_F(UlcmTest, RefusedConnectsAreRetriedAtOnceThenAboutOnceASecond)
{
    Wire(0, 0).connected = false;
    // Opens of socket 0 over time, with every connect refused.
    std::vector<uint32_t> openedAt;
    uint32_t start = gFakeTick;
    for (uint32_t t = 0; t <= 10000; t += 10) {
        gFakeTick = start + t;
        if (C(0)->socketState[0] == SOCK_DOWN && Conn_ReconnectDue(C(0), 0)) {
            Conn_OpenSocket(C(0), "127.0.0.1", 9, 0);
            openedAt.push_back(t);
            Conn_OnDisconnected(0, 0); // refused
        }
    }
    ASSERT_GE(openedAt.size(), 3u);
    EXPECT_EQ(openedAt[0], 0u);
    EXPECT_EQ(openedAt[1], 10u); // the first failure is retried on the next tick
    // Then no more than about one a second: 10 s bring a handful, not 1,000.
    EXPECT_LE(openedAt.size(), 20u);
    EXPECT_GE(openedAt.size(), 10u);
    for (size_t i = 1; i < openedAt.size(); ++i) EXPECT_LE(openedAt[i] - openedAt[i - 1], 1010u) << i;
    EXPECT_GE(openedAt.back() - openedAt[openedAt.size() - 2], 1000u);

    // A connection that answers starts the count again: its drop is
    // retried at once, and so is a first refusal after it.
    gFakeTick = start + 20000;
    ASSERT_EQ(Conn_ReconnectDue(C(0), 0), 1);
    Conn_OpenSocket(C(0), "127.0.0.1", 9, 0);
    Bytes answer = HttpAnswer({});
    Feed(C(0), 0, answer.data(), answer.size());
    Conn_ProcessReceived(C(0), 0);
    Conn_OnDisconnected(0, 0);
    EXPECT_EQ(Conn_ReconnectDue(C(0), 0), 1);
    Conn_OpenSocket(C(0), "127.0.0.1", 9, 0);
    Conn_OnDisconnected(0, 0);
    EXPECT_EQ(Conn_ReconnectDue(C(0), 0), 1);
    gFakeTick = start;
}

TEST_F(UlcmTest, AnswerArrivingByteByByteIsScannedOnce)
{
    Msg_RegisterModule("TEST", TestReceive, nullptr, gTestBuffer, TEST_BUFFER);
    C(0)->session = 77;
    Bytes answer = HttpAnswer(UlcmPacket(ULCM_DATA, 77, 0, ModuleMessage("TEST", 3000, 77)));
    // A header padded out, so that rescanning it would show.
    std::string pad = "X-Pad: " + std::string(2000, 'p') + "\r\n";
    answer.insert(answer.begin() + 17, pad.begin(), pad.end());
    gDeliveries.clear();
    gHttpBytesScanned = 0;
    for (uint8_t b : answer) {
        Feed(C(0), 0, &b, 1);
        Conn_ProcessReceived(C(0), 0);
    }
    EXPECT_EQ(gDeliveries.size(), 1u);
    EXPECT_EQ(C(0)->receive[0].writeIndex, 0u);
    // Each byte of the header is looked at about once, not once per arrival.
    EXPECT_LE(gHttpBytesScanned, 4u * answer.size());
}
