// The module registry: dispatch of a payload's messages, their checksums
// and buffer limits, and the one send routine.
#include "LinkFixture.h"
#include <functional>

static uint8_t gSmallBuffer[256];
static std::vector<Bytes> gSmallDeliveries;
static void SmallReceive() { gSmallDeliveries.emplace_back(gSmallBuffer, gSmallBuffer + sizeof gSmallBuffer); }

static std::vector<uint32_t> gSentSessions;
static void TestSend(void* request) { gSentSessions.push_back(*(const uint32_t*)request); }
static void OtherSend(void* request) { gSentSessions.push_back(1000000 + *(const uint32_t*)request); }

class DispatchTest : public LinkTest {
protected:
    void SetUp() override
    {
        LinkTest::SetUp();
        gSmallDeliveries.clear();
        gSentSessions.clear();
        Msg_RegisterModule("TEST", TestReceive, TestSend, gTestBuffer, TEST_BUFFER);
        Msg_RegisterModule("SMAL", SmallReceive, nullptr, gSmallBuffer, sizeof gSmallBuffer);
        C(0)->session = 500;
    }
    void Dispatch(const Bytes& payload) { Msg_DispatchReceived(500, payload.data(), (uint32_t)payload.size()); }
};

TEST_F(DispatchTest, UnregisteredMessageIsSkippedAndTheWalkGoesOn)
{
    Bytes m1 = ModuleMessage("TEST", 80, 500, 1), m2 = ModuleMessage("NONE", 90, 500, 2),
          m3 = ModuleMessage("TEST", 100, 500, 3);
    Dispatch(Concat(Concat(m1, m2), m3));
    ASSERT_EQ(gDeliveries.size(), 2u);
    EXPECT_TRUE(HoldsMessage(gDeliveries[0], m1));
    EXPECT_TRUE(HoldsMessage(gDeliveries[1], m3));
}

TEST_F(DispatchTest, ThirtyTwoByteMessageIsDeliveredWithNothingCopied)
{
    memset(gTestBuffer, 0xAB, TEST_BUFFER);
    Bytes m = ModuleMessage("TEST", 32, 500);
    EXPECT_EQ(GetU32(m, 8), 0u);
    Dispatch(m);
    ASSERT_EQ(gDeliveries.size(), 1u);
    EXPECT_EQ(gDeliveries[0][0], 0xAB);
}

TEST_F(DispatchTest, WalkEndsAtAMalformedOrPartialHeader)
{
    Bytes m1 = ModuleMessage("TEST", 64, 500, 1), m2 = ModuleMessage("TEST", 70, 500, 2),
          m3 = ModuleMessage("TEST", 40, 500, 3);
    auto withLength = [&](uint32_t length) {
        Bytes t = m2;
        PutU32(t, 0, length);
        return t;
    };
    struct Case {
        const char* name;
        Bytes payload; // m1 is always delivered, nothing after it
    } const cases[] = {
        {"partial trailing header", Concat(m1, Bytes(m2.begin(), m2.begin() + 20))},
        {"partial header before more bytes", Concat(Concat(m1, Bytes(m2.begin(), m2.begin() + 20)), m3)},
        {"length below 32", Concat(Concat(m1, withLength(31)), m3)},
        {"length 0", Concat(Concat(m1, withLength(0)), m3)},
        {"length past the payload", Concat(m1, withLength(71))},
        {"length far past the payload", Concat(Concat(m1, withLength(0xFFFFFFF0u)), m3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gDeliveries.clear();
        Dispatch(c.payload);
        ASSERT_EQ(gDeliveries.size(), 1u);
        EXPECT_TRUE(HoldsMessage(gDeliveries[0], m1));
    }
}

TEST_F(DispatchTest, BadChecksumIsDroppedAndTheNextDelivered)
{
    Bytes bad = ModuleMessage("TEST", 90, 500, 1);
    PutU32(bad, 8, GetU32(bad, 8) + 1);
    Bytes good = ModuleMessage("TEST", 60, 500, 2);
    Dispatch(Concat(bad, good));
    ASSERT_EQ(gDeliveries.size(), 1u);
    EXPECT_TRUE(HoldsMessage(gDeliveries[0], good));
}

TEST_F(DispatchTest, LongMessageIsCheckedBySparseWords)
{
    // 1,500 bytes: the checksum covers 1,468 bytes from offset 32 and
    // samples only the word at message offset 32.
    Bytes m = ModuleMessage("TEST", 1500, 500, 4);
    EXPECT_EQ(GetU32(m, 8), GetU32(m, 32));
    struct Case {
        size_t at;
        bool delivered;
    } const cases[] = {{36, true}, {1055, true}, {1499, true}, {32, false}, {35, false}};
    for (const Case& c : cases) {
        gDeliveries.clear();
        Bytes changed = m;
        changed[c.at] ^= 0x5A;
        Dispatch(changed);
        EXPECT_EQ(gDeliveries.size(), c.delivered ? 1u : 0u) << "byte " << c.at << " changed";
    }
}

TEST_F(DispatchTest, MessageLargerThanItsModuleBufferIsSkipped)
{
    memset(gSmallBuffer, 0xCD, sizeof gSmallBuffer);
    Bytes over = ModuleMessage("SMAL", 32 + 257, 500, 1);
    Bytes exact = ModuleMessage("SMAL", 32 + 256, 500, 2);
    Bytes after = ModuleMessage("TEST", 50, 500, 3);
    Dispatch(Concat(over, after));
    EXPECT_TRUE(gSmallDeliveries.empty());
    EXPECT_EQ(gSmallBuffer[0], 0xCD); // nothing copied
    ASSERT_EQ(gDeliveries.size(), 1u);
    Dispatch(exact);
    ASSERT_EQ(gSmallDeliveries.size(), 1u);
    EXPECT_TRUE(HoldsMessage(gSmallDeliveries[0], exact));
}

TEST_F(DispatchTest, SessionNoRecordHoldsDeliversNothing)
{
    Bytes m = ModuleMessage("TEST", 40, 501);
    Msg_DispatchReceived(501, m.data(), (uint32_t)m.size());
    EXPECT_TRUE(gDeliveries.empty());
}

TEST_F(DispatchTest, AtMostAThousandMessagesPerPayload)
{
    Bytes m = ModuleMessage("TEST", 32, 500), payload;
    for (int i = 0; i < 1001; ++i) payload = Concat(payload, m);
    Dispatch(payload);
    EXPECT_EQ(gDeliveries.size(), 1000u);
}

TEST_F(DispatchTest, SendGoesToTheFirstSlotOfTheCode)
{
    Msg_RegisterModule("TEST", TestReceive, OtherSend, gTestBuffer, TEST_BUFFER); // registered twice
    uint32_t request[4] = {42, 1, 2, 3};
    Msg_SendViaModule("TEST", request);
    Msg_SendViaModule("NONE", request);
    Msg_SendViaModule("SMAL", request); // no send function
    ASSERT_EQ(gSentSessions.size(), 1u);
    EXPECT_EQ(gSentSessions[0], 42u);
}

TEST_F(DispatchTest, ThirtyThirdRegistrationIsIgnored)
{
    for (int i = 2; i < MSG_MODULE_SLOTS; ++i) Msg_RegisterModule("FILL", nullptr, nullptr, nullptr, 0);
    Msg_RegisterModule("LAST", nullptr, TestSend, nullptr, 0);
    uint32_t request = 7;
    Msg_SendViaModule("LAST", &request);
    EXPECT_TRUE(gSentSessions.empty());
    for (const TModuleSlot& slot : gModules) EXPECT_EQ(slot.inUse, 1u);
}

// Clearing the module buffers (between two inputs of a fuzz target) writes
// only what may be other than 0; whatever the dispatch copied in or a
// module built there must still come out 0, of a buffer that two slots
// share as well.
TEST_F(DispatchTest, ClearingEmptiesWhatTheDispatchAndTheModuleWrote)
{
    Msg_RegisterModule("TWIN", TestReceive, nullptr, gTestBuffer, TEST_BUFFER); // the same buffer
    auto allZero = [](const uint8_t* p, size_t n) { return std::all_of(p, p + n, [](uint8_t b) { return b == 0; }); };
    struct Case {
        const char* name;
        std::function<void()> write;
        bool whole; // Msg_ClearBuffers, else Msg_ClearBuffer of the test buffer
    } const cases[] = {
        {"dispatched", [&] { Dispatch(ModuleMessage("TEST", 900, 500)); }, true},
        {"dispatched to the twin", [&] { Dispatch(ModuleMessage("TWIN", 2000, 500)); }, false},
        {"short after long",
         [&] { Dispatch(Concat(ModuleMessage("TEST", 3000, 500), ModuleMessage("TEST", 40, 500))); }, true},
        {"built by the module, past what came in",
         [&] {
             Dispatch(ModuleMessage("TEST", 100, 500));
             Msg_Begin(gTestBuffer + 64, "TEST", TModuleSubHeader{500, {1, 2}});
             gTestBuffer[TEST_BUFFER - 1] = 0x5A; // a builder's last byte
         },
         false},
        {"built in the twin",
         [&] {
             Msg_Begin(gTestBuffer, "TWIN", TModuleSubHeader{500, {3}});
             gTestBuffer[TEST_BUFFER / 2] = 0x77;
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Msg_ClearBuffers();
        ASSERT_TRUE(allZero(gTestBuffer, TEST_BUFFER));
        c.write();
        ASSERT_FALSE(allZero(gTestBuffer, TEST_BUFFER));
        if (c.whole) Msg_ClearBuffers();
        else Msg_ClearBuffer(gTestBuffer, TEST_BUFFER);
        EXPECT_TRUE(allZero(gTestBuffer, TEST_BUFFER));
        EXPECT_TRUE(allZero(gSmallBuffer, sizeof gSmallBuffer));
    }
    // A buffer no module holds is cleared whole.
    static uint8_t loose[300];
    memset(loose, 0x11, sizeof loose);
    Msg_ClearBuffer(loose, sizeof loose);
    EXPECT_TRUE(allZero(loose, sizeof loose));
}

// The dispatch finds a code's slot again after the registry changed: a
// module registered afresh (after the reset) under a code that was found
// before gets the next message, not the slot that held the code.
TEST_F(DispatchTest, AModuleRegisteredAfreshGetsTheNextMessageOfItsCode)
{
    Bytes m = ModuleMessage("SMAL", 80, 500, 9);
    Dispatch(m);
    ASSERT_EQ(gSmallDeliveries.size(), 1u);
    ASSERT_EQ(gDeliveries.size(), 0u);
    Msg_ResetRegistry();
    Msg_RegisterModule("SMAL", TestReceive, nullptr, gTestBuffer, TEST_BUFFER);
    Dispatch(m);
    EXPECT_EQ(gSmallDeliveries.size(), 1u);
    ASSERT_EQ(gDeliveries.size(), 1u);
    EXPECT_TRUE(HoldsMessage(gDeliveries[0], m));
    Msg_ResetRegistry();
    Dispatch(m);
    EXPECT_EQ(gDeliveries.size(), 1u) << "no module holds the code";
}
