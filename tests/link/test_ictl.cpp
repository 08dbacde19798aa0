// Named shared variables: what a send puts on the wire, which received
// values are applied, and the registry's limits.
#include "ModuleFixture.h"
#include "media/Watermark.h"

namespace {

const uint32_t S = 0x1111;

uint8_t gTestValue[8];
int gHandlerRuns = 0;
uint32_t gHandlerSession = 0;
void TestHandler(uint32_t session)
{
    ++gHandlerRuns;
    gHandlerSession = session;
}

class IctlTest : public ModuleTest {
protected:
    void SetUp() override
    {
        ModuleTest::SetUp();
        memset(gTestValue, 0, sizeof gTestValue);
        gHandlerRuns = 0;
        gHandlerSession = 0;
        Ictl_RegisterVariable("Test_Var_R", gTestValue, sizeof gTestValue, TestHandler);
    }
};

TEST_F(IctlTest, SentVariableCarriesItsNameSizeAndValue)
{
    const struct {
        const char* name;
        uint32_t size;
    } cases[] = {{"Tavn_Mach_Type_Data_W", 960}, {"Tavn_Upnp_C_Data_W", 4}, {"Empty_W", 0}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        Bytes value(k.size);
        for (uint32_t i = 0; i < k.size; ++i) value[i] = (uint8_t)(i * 13 + 1);
        Ictl_SendVariable(S, k.name, value.data(), k.size, 1);
        std::vector<Bytes> q = Queued(0);
        ASSERT_EQ(q.size(), 1u);
        const Bytes& m = q[0];
        ASSERT_EQ(m.size(), 64u + 256u + k.size);
        EXPECT_TRUE(ChecksumHolds(m));
        EXPECT_EQ(memcmp(&m[4], "ICTL", 4), 0);
        EXPECT_EQ(GetU32(m, 32), S);
        EXPECT_EQ(GetU32(m, 40), 0u); // sub-type
        EXPECT_EQ(GetU32(m, 44), 1u); // handler flag
        EXPECT_EQ(GetU32(m, 64), k.size + 256);
        EXPECT_EQ(std::string((const char*)&m[68]), k.name);
        for (size_t i = 68 + strlen(k.name); i < 320; ++i) ASSERT_EQ(m[i], 0) << i;
        EXPECT_TRUE(std::equal(value.begin(), value.end(), m.begin() + 320));
    }
}

TEST_F(IctlTest, NothingLongerThan960BytesAndNothingForAnUnheldSessionIsSent)
{
    static uint8_t big[961];
    Ictl_SendVariable(S, "Big_W", big, 961, 1);
    Ictl_SendVariable(0x4444, "Tavn_Upnp_C_Data_W", &gUpnpWord, 4, 1);
    Ictl_Send(S, "Other_W", big, ICTL_EXTENDED, 1, 7, 4); // the viewer never sends sub-type 1
    EXPECT_TRUE(Queued(0).empty());
    // A name over 127 characters goes out cut to 127.
    std::string longName(200, 'n');
    Ictl_SendVariable(S, longName.c_str(), big, 4, 0);
    std::vector<Bytes> q = Queued(0);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(strlen((const char*)&q[0][68]), 127u);
}

TEST_F(IctlTest, ReceivedValueIsAppliedOnlyWhenWholeAndOfTheRegisteredSize)
{
    Bytes value = {1, 2, 3, 4, 5, 6, 7, 8};
    Bytes cut = Concat(VariableBody("Test_Var_R", value), {});
    cut.resize(256 + 5); // announces 8 bytes, carries 5
    Bytes noNul = VariableBody(std::string(252, 'T'), value);
    Bytes belowHeader(256, 0);
    PutU32(belowHeader, 0, 100); // announced total below the header
    memcpy(&belowHeader[4], "Test_Var_R", 10);
    const struct {
        const char* name;
        Bytes body;
        uint32_t flag;
        bool stored;
        int runs;
    } cases[] = {
        {"whole, flag 1", VariableBody("Test_Var_R", value), 1, true, 1},
        {"whole, flag 0", VariableBody("Test_Var_R", value), 0, true, 0},
        {"flag 2 runs nothing", VariableBody("Test_Var_R", value), 2, true, 0},
        {"announces 7 bytes", VariableBody("Test_Var_R", Bytes(value.begin(), value.end() - 1)), 1, false, 0},
        {"announces 9 bytes", VariableBody("Test_Var_R", Concat(value, {9})), 1, false, 0},
        {"message cut short", cut, 1, false, 0},
        {"announced size below 256", belowHeader, 1, false, 0},
        {"body shorter than the value header", Bytes(100, 0), 1, false, 0},
        {"name of another case", VariableBody("test_var_r", value), 1, false, 0},
        {"name without its end", noNul, 1, false, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        memset(gTestValue, 0, sizeof gTestValue);
        gHandlerRuns = 0;
        Deliver(S, WireMessage("ICTL", {S, 0, 0, k.flag}, k.body));
        EXPECT_EQ(Bytes(gTestValue, gTestValue + 8) == value, k.stored);
        if (!k.stored) {
            EXPECT_EQ(Bytes(gTestValue, gTestValue + 8), Bytes(8, 0));
        }
        EXPECT_EQ(gHandlerRuns, k.runs);
        if (k.runs) {
            EXPECT_EQ(gHandlerSession, S);
        }
    }
}

TEST_F(IctlTest, TheTavnVariablesTakeTheirValues)
{
    // The machine type arriving with 900 bytes is ignored.
    Deliver(S, WireMessage("ICTL", {S, 0, 0, 1}, VariableBody("Tavn_Mach_Type_Data_R", Bytes(900, 1))));
    EXPECT_EQ(gMachineTypeData[0], 0);
    // The watermark block is stored in the answer buffer and runs nothing;
    // it reaches the record only while a backup waits for it.
    Bytes block(160);
    for (size_t i = 0; i < block.size(); ++i) block[i] = (uint8_t)i;
    Watermark_EndWait();
    memset(&gWatermarkRecord, 0, sizeof gWatermarkRecord);
    Deliver(S, WireMessage("ICTL", {S, 0, 0, 1}, VariableBody("Tavn_Watermark_Var_W", block)));
    EXPECT_EQ(Bytes(gWatermarkAnswer, gWatermarkAnswer + 160), block);
    EXPECT_EQ(Watermark_Poll(), 0u);
    const uint8_t* record = (const uint8_t*)&gWatermarkRecord;
    EXPECT_EQ(Bytes(record, record + 160), Bytes(160, 0));
    Watermark_Request(0, 3); // no session: nothing is sent, the wait begins
    Deliver(S, WireMessage("ICTL", {S, 0, 0, 1}, VariableBody("Tavn_Watermark_Var_W", block)));
    EXPECT_EQ(Watermark_Poll(), 0x27262524u);
    EXPECT_EQ(Bytes(record, record + 160), block);
    Watermark_EndWait();
    // Both UPnP names share the one word.
    Deliver(S, WireMessage("ICTL", {S, 0, 0, 1}, VariableBody("Tavn_Upnp_C_Data_R", U32Bytes(0x40000050))));
    EXPECT_EQ(gUpnpWord, 0x40000050u);
    // Sub-type 1 has no effect.
    Deliver(S, WireMessage("ICTL", {S, 0, 1, 1}, VariableBody("Tavn_Upnp_C_Data_R", U32Bytes(7))));
    EXPECT_EQ(gUpnpWord, 0x40000050u);
    boxes.clear();
    EXPECT_EQ(SuccessBoxes(), 0u);
}

TEST_F(IctlTest, RegistryHoldsFortyVariables)
{
    Ictl_Init(); // all slots free again
    static uint8_t values[41][4];
    for (int i = 0; i < 41; ++i) {
        char name[16];
        snprintf(name, sizeof name, "Var_%d", i);
        Ictl_RegisterVariable(name, values[i], 4, nullptr);
    }
    Ictl_RegisterVariable(nullptr, values[0], 4, nullptr);
    for (int i = 0; i < 41; ++i) {
        char name[16];
        snprintf(name, sizeof name, "Var_%d", i);
        Deliver(S, WireMessage("ICTL", {S, 0, 0, 0}, VariableBody(name, U32Bytes(0x01010101))));
    }
    EXPECT_EQ(values[39][0], 1);
    EXPECT_EQ(values[40][0], 0); // the 41st was never registered
    EXPECT_EQ(std::string(gNamedVariables[39].name), "Var_39");
}

} // namespace
