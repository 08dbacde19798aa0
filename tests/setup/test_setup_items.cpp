// The five setup items byte by byte: what each builder writes into the
// view record and what the recorder then receives in the ICMD message, the
// refusals that leave the recorder's settings alone, and how a received
// mail item is read. No form: the view records over the fake link.
#include "../link/ModuleFixture.h"
#include "control/SetupItems.h"
#include <gtest/gtest.h>
#include <string>

namespace {

// A text with zeros inside: the literal's bytes without its final zero.
template <size_t N> std::string Lit(const char (&text)[N]) { return std::string(text, N - 1); }

class SetupItems : public ModuleTest {
protected:
    char slotText[SETUP_SLOTS][SETUP_SLOT_SIZE] = {};
    char* slots[SETUP_SLOTS];
    TViewRecord* V() { return &gViewRecords[0]; }
    void SetUp() override
    {
        ModuleTest::SetUp();
        for (int i = 0; i < SETUP_SLOTS; ++i) slots[i] = slotText[i];
        Queued(0);
    }
    void Slot(int i, const std::string& text) { snprintf(slotText[i], SETUP_SLOT_SIZE, "%s", text.c_str()); }
    Bytes ItemBytes(const void* item, size_t size) { return Bytes((const uint8_t*)item, (const uint8_t*)item + size); }
    // The item as the recorder receives it: sent as a set, taken from the ICMD message.
    Bytes SentItem(uint32_t mask)
    {
        Icmd_Send(C(0)->session, ICMD_DATA, ICMD_SETUP, mask);
        std::vector<Bytes> q = Queued(0);
        EXPECT_EQ(q.size(), 1u);
        if (q.size() != 1) return {};
        EXPECT_EQ(GetU32(q[0], 64), mask);
        return Bytes(q[0].begin() + 64 + 72, q[0].end());
    }
};

std::string Chars(size_t n, char first = 'a')
{
    std::string s;
    for (size_t i = 0; i < n; ++i) s += (char)(first + i % 26);
    return s;
}

// 68 bytes: flag, the two kept bytes, user and password zero-filled.
Bytes Pppoe(uint16_t flag, uint8_t k2, uint8_t k3, const std::string& user, const std::string& password)
{
    Bytes b(68, 0);
    b[0] = (uint8_t)flag;
    b[1] = (uint8_t)(flag >> 8);
    b[2] = k2;
    b[3] = k3;
    memcpy(&b[4], user.data(), user.size());
    memcpy(&b[36], password.data(), password.size());
    return b;
}

TEST_F(SetupItems, PppoeItemIsSentAsTypedAndOverLongTextsAreRefused)
{
    const struct {
        size_t userLength;
        int result;
    } cases[] = {{0, SETUP_BUILT}, {31, SETUP_BUILT}, {32, 1}, {33, 1}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.userLength);
        // What the recorder last sent: flag off, the kept bytes, old texts.
        V()->pppoeItem = TPppoeRecord{};
        V()->pppoeItem.kept[0] = 0xA5;
        V()->pppoeItem.kept[1] = 0x5A;
        strcpy(V()->pppoeItem.user, "old-user");
        strcpy(V()->pppoeItem.password, "old-password");
        const Bytes before = ItemBytes(&V()->pppoeItem, 68);
        V()->dirtyMask = 0;
        const std::string user = Chars(k.userLength);
        Slot(0, user);
        Slot(1, "pass word");
        const uint32_t choices[2] = {1, 0};
        ASSERT_EQ(Setup_BuildPppoeItem(V(), choices, slots), k.result);
        if (k.result != SETUP_BUILT) {
            EXPECT_EQ(ItemBytes(&V()->pppoeItem, 68), before) << "a refused build keeps the recorder's copy";
            EXPECT_EQ(V()->dirtyMask, 0u);
            continue;
        }
        EXPECT_EQ(V()->dirtyMask, (uint32_t)SETUP_PPPOE);
        EXPECT_EQ(SentItem(SETUP_PPPOE), Pppoe(1, 0xA5, 0x5A, user, "pass word"));
    }
    // A 32-character password is refused as slot 2.
    Slot(0, "u");
    Slot(1, Chars(32));
    const uint32_t on[2] = {1, 0};
    EXPECT_EQ(Setup_BuildPppoeItem(V(), on, slots), 2);
}

TEST_F(SetupItems, ListsWithoutAChoiceBuildNothing)
{
    const uint32_t none[2] = {SETUP_NOTHING_CHOSEN, 0};
    V()->bitrateItem = 4;
    V()->pppoeItem.onOff = 1;
    V()->ddnsItem.service = 3;
    V()->mailItem.marker = 77;
    const uint32_t mail = gMailTestCount;
    EXPECT_EQ(Setup_BuildBitrateItem(V(), none), SETUP_NO_CHOICE);
    EXPECT_EQ(Setup_BuildPppoeItem(V(), none, slots), SETUP_NO_CHOICE);
    EXPECT_EQ(Setup_BuildDdnsItem(V(), none, slots), SETUP_NO_CHOICE);
    EXPECT_EQ(Setup_BuildMailItem(V(), MAIL_BUILD_TEST, none, 0, slots), SETUP_NO_CHOICE);
    EXPECT_EQ(V()->bitrateItem, 4u);
    EXPECT_EQ(V()->pppoeItem.onOff, 1);
    EXPECT_EQ(V()->ddnsItem.service, 3);
    EXPECT_EQ(V()->mailItem.marker, 77);
    EXPECT_EQ(V()->dirtyMask, 0u);
    EXPECT_EQ(gMailTestCount, mail) << "a refused test mail is not counted";
}

TEST_F(SetupItems, DdnsRowIsSentAsTheServiceOfTheRecordersVariant)
{
    const struct {
        uint32_t row, variant;
        uint16_t service;
    } cases[] = {
        {0, 0, 0}, {1, 0, 1}, {2, 0, 3}, {0, 1, 0}, {1, 1, 2}, {2, 1, 3}, {1, 3, 2}, {1, 2, 1}, {5, 0, 0},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(testing::Message() << "row " << k.row << " variant " << k.variant);
        gHandshakeRecords[0].machine.variant = k.variant;
        V()->ddnsItem = TDdnsRecord{};
        V()->ddnsItem.kept[0] = 7;
        Slot(0, "guest1");
        Slot(1, "pw");
        Slot(2, Chars(47));
        const uint32_t choices[2] = {k.row, 0};
        ASSERT_EQ(Setup_BuildDdnsItem(V(), choices, slots), SETUP_BUILT);
        Bytes expected(116, 0);
        expected[0] = 7;
        expected[2] = (uint8_t)k.service;
        memcpy(&expected[4], "guest1", 6);
        memcpy(&expected[36], "pw", 2);
        memcpy(&expected[68], Chars(47).data(), 47);
        EXPECT_EQ(SentItem(SETUP_DDNS), expected);
    }
    // The limits: 31, 31 and 47 characters.
    const struct {
        size_t user, password, host;
        int result;
    } limits[] = {{32, 1, 1, 1}, {1, 32, 1, 2}, {1, 1, 48, 3}, {31, 31, 47, SETUP_BUILT}};
    for (const auto& l : limits) {
        Slot(0, Chars(l.user));
        Slot(1, Chars(l.password));
        Slot(2, Chars(l.host));
        const uint32_t choices[2] = {1, 0};
        EXPECT_EQ(Setup_BuildDdnsItem(V(), choices, slots), l.result) << l.user << " " << l.password << " " << l.host;
    }
}

TEST_F(SetupItems, MailItemCarriesTwelveTextsAndTheTestCounter)
{
    const char* texts[SETUP_SLOTS] = {"smtp.example.net", "587",           "mailer",        "pw",    "dvr@example.net",
                                      "a@example.net",    "b@example.net", "c@example.net", "Alarm", "Hall"};
    for (int i = 0; i < SETUP_SLOTS; ++i) Slot(i, texts[i]);
    const uint32_t choices[2] = {1, 0};

    ASSERT_EQ(Setup_BuildMailItem(V(), MAIL_BUILD_APPLY, choices, 1, slots), SETUP_BUILT);
    const std::string list = Lit("1\0smtp.example.net\0"
                                 "587\0mailer\0pw\0"
                                 "1\0dvr@example.net\0"
                                 "a@example.net\0b@example.net\0c@example.net\0"
                                 "Alarm\0Hall\0");
    Bytes expected(256, 0);
    expected[0] = 20;
    expected[1] = 9;
    memcpy(&expected[2], list.data(), list.size());
    expected[254] = (uint8_t)gMailTestCount;
    EXPECT_EQ(SentItem(SETUP_MAIL), expected);
    EXPECT_EQ(V()->dirtyMask, (uint32_t)SETUP_MAIL);

    // Test Mail twice: counters one apart; the next Apply repeats the last.
    const uint32_t start = gMailTestCount;
    ASSERT_EQ(Setup_BuildMailItem(V(), MAIL_BUILD_TEST, choices, 1, slots), SETUP_BUILT);
    EXPECT_EQ(V()->mailItem.form, MAIL_FORM_TEST);
    const uint8_t first = V()->mailItem.testCounter;
    ASSERT_EQ(Setup_BuildMailItem(V(), MAIL_BUILD_TEST, choices, 1, slots), SETUP_BUILT);
    const uint8_t second = V()->mailItem.testCounter;
    EXPECT_EQ((uint8_t)(second - first), 1);
    EXPECT_EQ(second, (uint8_t)(start + 2));
    ASSERT_EQ(Setup_BuildMailItem(V(), MAIL_BUILD_APPLY, choices, 0, slots), SETUP_BUILT);
    EXPECT_EQ(V()->mailItem.testCounter, second);
    EXPECT_EQ(V()->mailItem.form, MAIL_FORM_APPLY);
}

TEST_F(SetupItems, MailTextsThatDoNotFitAreRefusedWhole)
{
    // Mode, secure and twelve zeros take 14 bytes: 238 remain for the slots.
    const struct {
        size_t server;
        int result;
    } cases[] = {{238, SETUP_BUILT}, {239, SETUP_MAIL_TOO_LONG}, {255, SETUP_MAIL_TOO_LONG}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.server);
        memset(slotText, 0, sizeof slotText);
        Slot(0, Chars(k.server));
        V()->mailItem = TMailRecord{};
        V()->mailItem.marker = 33;
        V()->dirtyMask = 0;
        const uint32_t choices[2] = {0, 0};
        ASSERT_EQ(Setup_BuildMailItem(V(), MAIL_BUILD_APPLY, choices, 0, slots), k.result);
        if (k.result == SETUP_BUILT) {
            EXPECT_EQ(V()->mailItem.texts[251], 0);
            EXPECT_EQ(std::string(V()->mailItem.texts + 2, k.server), Chars(k.server));
        } else {
            EXPECT_EQ(V()->mailItem.marker, 33) << "the recorder's copy stays";
            EXPECT_EQ(V()->dirtyMask, 0u);
        }
    }
}

TEST_F(SetupItems, BitrateAndIntervalItems)
{
    const uint32_t intranet[2] = {9, 0};
    ASSERT_EQ(Setup_BuildBitrateItem(V(), intranet), SETUP_BUILT);
    EXPECT_EQ(SentItem(SETUP_BITRATE), Bytes({9, 0, 0, 0}));

    const struct {
        uint32_t choice;
        int16_t minutes;
    } cases[] = {{0, 0}, {10, 10}, {60, 60}, {61, 60}, {0xFFFF, 0}, {0x10005, 5}, {SETUP_NOTHING_CHOSEN, 0}};
    V()->mailInterval.kept[0] = 0x42;
    for (const auto& k : cases) {
        V()->dirtyMask = 0;
        const uint32_t choices[2] = {0, k.choice};
        ASSERT_EQ(Setup_BuildMailIntervalItem(V(), choices), SETUP_BUILT);
        EXPECT_EQ(V()->mailInterval.minutes, k.minutes) << k.choice;
        EXPECT_EQ(V()->mailInterval.kept[0], 0x42);
        EXPECT_EQ(V()->dirtyMask, 0u) << "the interval is never confirmed";
    }
}

TEST_F(SetupItems, PortTextsAreReadByTheirDigitsUpTo65535)
{
    const struct {
        const char* text;
        uint32_t port;
    } cases[] = {{nullptr, 25},          {"", 25}, {"2a5", 25}, {"587", 587}, {"65535", 65535}, {"65536", 65535},
                 {"99999999999", 65535}, {"x", 0}, {"0025", 25}};
    for (const auto& k : cases) EXPECT_EQ(Setup_MailPortOf(k.text), k.port) << (k.text ? k.text : "(none)");
}

TEST_F(SetupItems, TheMailWalkStaysWithinTheTexts)
{
    TMailRecord r{};
    r.marker = 20;
    r.form = 9;
    char texts[MAIL_TEXT_COUNT][MAIL_TEXT_END];
    // All twelve.
    const std::string list = Lit("2\0srv\0"
                                 "25\0u\0p\0"
                                 "1\0s@x\0r1\0r2\0r3\0subj\0loc\0");
    memcpy(r.texts, list.data(), list.size());
    ASSERT_EQ(Setup_SplitMailTexts(&r, texts), 12u);
    EXPECT_STREQ(texts[0], "2");
    EXPECT_STREQ(texts[1], "srv");
    EXPECT_STREQ(texts[11], "loc");

    // No zero in the 252 bytes: one text, cut before the test counter.
    memset(r.texts, 'z', sizeof r.texts);
    r.testCounter = 'T';
    r.zero = 'U';
    ASSERT_EQ(Setup_SplitMailTexts(&r, texts), 1u);
    EXPECT_EQ(std::string(texts[0]), std::string(252, 'z'));

    // Eleven empty texts, then a twelfth that runs into the end: cut there.
    memset(r.texts, 0, 11);
    memset(r.texts + 11, 'y', sizeof r.texts - 11);
    ASSERT_EQ(Setup_SplitMailTexts(&r, texts), 12u);
    EXPECT_STREQ(texts[10], "");
    EXPECT_EQ(std::string(texts[11]), std::string(241, 'y'));
}

} // namespace
