// The setup pages in the control's own form over the fake link: what
// entering each page asks the recorder, what Apply and Test Mail send, the
// refusals, the greying and its release on the main loop's fake clock,
// the pages prepared per recorder variant, the DDNS links, the UPnP word
// and the received items shown on the pages.
#include "../link/ModuleFixture.h"
#include "control/Setup.h"
#include "control/TavlinImpl1.h"
#include "control/Title.h"
#include "control/Upnp.h"
#include "platform/vcl/CodePage.h"
#include "ddns/Hooks.h"
#include <gtest/gtest.h>

#include <QLineEdit>
#include <functional>
#include <string>
#include <vector>

namespace {

// A text with zeros inside: the literal's bytes without its final zero.
template <size_t N> std::string Lit(const char (&text)[N]) { return std::string(text, N - 1); }

// One message the viewer queued: its module, op (ICMD) and mask or the
// variable's name and 4-byte value (ICTL).
struct Sent {
    std::string code;
    uint32_t op = 0, mask = 0;
    std::string name;
    uint32_t value = 0;
    Bytes item;
};

std::vector<std::string> gOpened;
int RecordUrl(const char* address)
{
    gOpened.push_back(address);
    return 0;
}

class SetupPages : public ModuleTest {
protected:
    static TTavlinX* form;
    static void SetUpTestSuite()
    {
        form = TavlinX_CreateForm();
        form->Timer1->SetEnabled(false); // the test runs the loop
    }
    TTavlinX* F() { return form; }
    TViewRecord* V() { return &gViewRecords[0]; }

    void SetUp() override
    {
        ModuleTest::SetUp();
        C(0)->active = 1; // the handshake has ended: the link only polls
        gOpened.clear();
        Win_SetUrlOpener(RecordUrl);
        Fill(0);
        Queued(0);
        boxes.clear();
    }
    void TearDown() override
    {
        Win_SetUrlOpener(nullptr);
        ModuleTest::TearDown();
    }
    // The recorder's machine record with that variant arrives.
    void Fill(uint32_t variant, uint32_t intervalHidden = 0)
    {
        gHandshakeRecords[0].machine = TMachineRecord{};
        gHandshakeRecords[0].machine.channelCount = 4;
        gHandshakeRecords[0].machine.variant = variant;
        gHandshakeRecords[0].machine.mailIntervalHidden = intervalHidden;
        strcpy(gHandshakeRecords[0].machine.text[0], "DVR-A");
        strcpy(gHandshakeRecords[0].machine.text[3], "fourth");
        Setup_FillForMachine(&gHandshakeRecords[0]);
    }
    std::vector<Sent> SentSince()
    {
        std::vector<Sent> out;
        for (const Bytes& m : Queued(0)) {
            Sent s;
            s.code.assign((const char*)&m[4], 4);
            s.op = GetU32(m, 36);
            if (s.code == "ICMD" && m.size() >= 64 + 72) {
                s.mask = GetU32(m, 64);
                s.item.assign(m.begin() + 64 + 72, m.end());
            }
            if (s.code == "ICTL" && m.size() >= 64 + 256 + 4) {
                s.name = (const char*)&m[68];
                s.value = GetU32(m, 64 + 256);
            }
            out.push_back(s);
        }
        return out;
    }
    std::vector<uint32_t> Masks(uint32_t op)
    {
        std::vector<uint32_t> masks;
        for (const Sent& s : SentSince()) {
            EXPECT_EQ(s.code, "ICMD");
            EXPECT_EQ(s.op, op);
            masks.push_back(s.mask);
        }
        return masks;
    }
    // One tick of the main loop on the fake clock.
    void Tick()
    {
        gFakeTick += 10;
        F()->Timer1Timer(nullptr);
    }
    // The recorder answers item `mask` with the view record's bytes as they are.
    void Answer(uint32_t mask, const void* item, uint32_t size)
    {
        Bytes body(72, 0);
        PutU32(body, 0, mask);
        PutU32(body, 4, 72 + size);
        PutU32(body, 8, RefByteSum((const uint8_t*)item, size));
        body.insert(body.end(), (const uint8_t*)item, (const uint8_t*)item + size);
        Deliver(C(0)->session, WireMessage("ICMD", {C(0)->session, ICMD_ANSWER, ICMD_SETUP, 3, 1}, body));
    }
    std::vector<std::string> Items(TComboBox* box)
    {
        std::vector<std::string> items;
        for (int i = 0; i < box->Items()->Count(); ++i) items.push_back(box->Items()->Strings(i));
        return items;
    }
};
TTavlinX* SetupPages::form = nullptr;

TEST_F(SetupPages, EnteringAPageAsksForItsItems)
{
    const struct {
        int page;
        std::vector<uint32_t> masks;
    } cases[] = {
        {1, {SETUP_BITRATE}},
        {2, {SETUP_PPPOE}},
        {3, {SETUP_DDNS}},
        {4, {SETUP_MAIL, SETUP_MAIL_INTERVAL}},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.page);
        Setup_PageEntered(0, k.page);
        EXPECT_EQ(Masks(ICMD_REQUEST), k.masks);
    }
    // The System page asks nothing and forgets what was applied.
    V()->dirtyMask = SETUP_PPPOE | SETUP_MAIL;
    Setup_PageEntered(0, 0);
    EXPECT_TRUE(SentSince().empty());
    EXPECT_EQ(V()->dirtyMask, 0u);
}

TEST_F(SetupPages, ApplySendsThePagesItemsAndTestMailOnlyItsTestForm)
{
    F()->ComboBox_bitrate->SetItemIndex(3);
    Setup_ApplyPage(1);
    EXPECT_EQ(Masks(ICMD_DATA), std::vector<uint32_t>({SETUP_BITRATE}));
    EXPECT_EQ(V()->bitrateItem, 3u);

    F()->ComboBox_smtp1->SetItemIndex(1);
    F()->ComboBox_smtp2->SetItemIndex(15);
    F()->LabeledEdit_smtp1->SetText("smtp.example.net");
    F()->LabeledEdit_smtp10->SetText("25");
    F()->LabeledEdit_smtp4->SetText("dvr@example.net");
    Setup_ApplyPage(4);
    std::vector<Sent> apply = SentSince();
    ASSERT_EQ(apply.size(), 2u);
    EXPECT_EQ(apply[0].mask, (uint32_t)SETUP_MAIL);
    EXPECT_EQ(apply[0].item[1], MAIL_FORM_APPLY);
    EXPECT_EQ(apply[1].mask, (uint32_t)SETUP_MAIL_INTERVAL);
    EXPECT_EQ(apply[1].item[0], 15);
    const uint8_t counter = apply[0].item[254];

    F()->Button_SMTP3Click(nullptr); // Test Mail
    std::vector<Sent> test = SentSince();
    ASSERT_EQ(test.size(), 1u);
    EXPECT_EQ(test[0].mask, (uint32_t)SETUP_MAIL);
    EXPECT_EQ(test[0].item[1], MAIL_FORM_TEST);
    EXPECT_EQ(test[0].item[254], (uint8_t)(counter + 1));
    Setup_ApplyPage(4);
    std::vector<Sent> again = SentSince();
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[0].item[254], (uint8_t)(counter + 1)) << "Apply repeats the last test's counter";
}

TEST_F(SetupPages, AnApplyThatCannotBeSentSaysWhyAndSendsNothing)
{
    const uint32_t before = V()->bitrateItem;
    struct Case {
        const char* name;
        int page;
        std::function<void(TTavlinX*)> arrange;
        const char* says;
    };
    const Case cases[] = {
        {"bitrate without a row", 1, [](TTavlinX* f) { f->ComboBox_bitrate->SetItemIndex(-1); }, "\"Bitrate\""},
        {"PPPoE status without a row", 2, [](TTavlinX* f) { f->ComboBox_pppoe1->SetItemIndex(-1); },
         "\"PPPoE Status\""},
        {"DDNS service without a row", 3, [](TTavlinX* f) { f->ComboBox_ddns1->SetItemIndex(-1); }, "\"DDNS Select\""},
        {"mail mode without a row", 4, [](TTavlinX* f) { f->ComboBox_smtp1->SetItemIndex(-1); },
         "\"Send Mail Status\""},
        {"test mail without a mode", 7, [](TTavlinX* f) { f->ComboBox_smtp1->SetItemIndex(-1); },
         "\"Send Mail Status\""},
        {"interval without a row", 4,
         [](TTavlinX* f) {
             f->ComboBox_smtp1->SetItemIndex(1);
             f->ComboBox_smtp2->SetItemIndex(-1);
         },
         "\"Interval\""},
        {"UPnP status without a row", 6, [](TTavlinX* f) { f->ComboBox_upnp->SetItemIndex(-1); }, "\"UPnP Status\""},
        {"32-character PPPoE user", 2,
         [](TTavlinX* f) {
             f->ComboBox_pppoe1->SetItemIndex(1);
             f->LabeledEdit_pppoe2->SetMaxLength(0); // as before the recorder's machine record
             f->LabeledEdit_pppoe2->SetText(std::string(32, 'u'));
         },
         "PPPoE User Name may hold at most 31"},
        {"48-character DDNS host", 3,
         [](TTavlinX* f) {
             f->ComboBox_ddns1->SetItemIndex(1);
             f->LabeledEdit_ddns4->SetMaxLength(0);
             f->LabeledEdit_ddns4->SetText(std::string(48, 'h'));
         },
         "DDNS Host Name may hold at most 47"},
        {"mail texts beyond 252 bytes", 4,
         [](TTavlinX* f) {
             f->ComboBox_smtp1->SetItemIndex(1);
             f->ComboBox_smtp2->SetItemIndex(0);
             TLabeledEdit* edits[] = {f->LabeledEdit_smtp1, f->LabeledEdit_smtp2, f->LabeledEdit_smtp3,
                                      f->LabeledEdit_smtp4, f->LabeledEdit_smtp5, f->LabeledEdit_smtp6,
                                      f->LabeledEdit_smtp7, f->LabeledEdit_smtp8, f->LabeledEdit_smtp9};
             for (TLabeledEdit* e : edits) e->SetText(std::string(31, 'm'));
         },
         "mail settings are longer"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Fill(0);
        k.arrange(F());
        boxes.clear();
        Setup_ApplyPage(k.page);
        EXPECT_TRUE(SentSince().empty());
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].Text.find(k.says), std::string::npos) << boxes[0].Text;
        EXPECT_NE(boxes[0].Text.find("Nothing was sent"), std::string::npos);
        EXPECT_EQ(V()->dirtyMask, 0u);
    }
    EXPECT_EQ(V()->bitrateItem, before);
    EXPECT_EQ(gUpnpWord, 0u);
}

// What the user's keys put into an edit's own widget (typing as an input
// method does), without the class library's 8-bit text in between.
void TypedIn(TCustomEdit* edit, const char* utf8)
{
    static_cast<QLineEdit*>(edit->Handle())->setText(QString::fromUtf8(utf8));
}

// A text the code page of its field cannot write is refused with the
// field's name before anything is sent; the texts it can write go out in
// its bytes.
TEST_F(SetupPages, ATextTheCodePageCannotWriteIsRefusedNamingItsField)
{
    ASSERT_TRUE(Vcl_SetAnsiCodePage(1252));
    struct Case {
        const char* name;
        int page;
        std::function<void(TTavlinX*)> arrange;
        const char* field; // null: sent
    };
    const Case cases[] = {
        {"euro in a PPPoE password", 2, [](TTavlinX* f) { TypedIn(f->LabeledEdit_pppoe3, "pa€€wort"); }, nullptr},
        {"Polish PPPoE password", 2, [](TTavlinX* f) { TypedIn(f->LabeledEdit_pppoe3, "hasło"); },
         "\"PPPoE Password\""},
        {"Russian PPPoE user", 2, [](TTavlinX* f) { TypedIn(f->LabeledEdit_pppoe2, "Иван"); }, "\"PPPoE User Name\""},
        {"Chinese DDNS password", 3, [](TTavlinX* f) { TypedIn(f->LabeledEdit_ddns3, "密碼"); }, "\"DDNS Password\""},
        {"Greek DDNS host", 3, [](TTavlinX* f) { TypedIn(f->LabeledEdit_ddns4, "κάμερα.example"); },
         "\"DDNS Host Name\""},
        {"Japanese mail subject", 4, [](TTavlinX* f) { TypedIn(f->LabeledEdit_smtp8, "警報"); }, "\"Subject\""},
        {"Thai mail password in Test Mail", 7, [](TTavlinX* f) { TypedIn(f->LabeledEdit_smtp3, "รหัส"); },
         "\"SMTP Password\""},
        {"Chinese title on the Russian language", 5,
         [](TTavlinX* f) {
             Title_SetLanguage(&gTitleSettings[0], 3);
             TypedIn(f->LabeledEdit_Title2, "大門");
         },
         "\"CH2\""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Fill(0);
        F()->ComboBox_pppoe1->SetItemIndex(1);
        F()->ComboBox_ddns1->SetItemIndex(1);
        F()->ComboBox_smtp1->SetItemIndex(1);
        Setup_ClearEdits(SETUP_PPPOE);
        Setup_ClearEdits(SETUP_DDNS);
        Setup_ClearEdits(SETUP_MAIL);
        Title_FillEdits();
        k.arrange(F());
        boxes.clear();
        V()->dirtyMask = 0;
        Setup_ApplyPage(k.page);
        if (!k.field) {
            std::vector<Sent> sent = SentSince();
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(std::string((const char*)&sent[0].item[36]), "pa\x80\x80wort");
            EXPECT_TRUE(boxes.empty());
            continue;
        }
        EXPECT_TRUE(SentSince().empty());
        EXPECT_EQ(gTitleStates[0].busy, 0u);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_NE(boxes[0].Text.find(k.field), std::string::npos) << boxes[0].Text;
        EXPECT_NE(boxes[0].Text.find("Nothing was sent"), std::string::npos);
        EXPECT_EQ(V()->dirtyMask, 0u);
    }
    Title_SetLanguage(&gTitleSettings[0], 0);
    Title_FillEdits();
    // The same password under a Central European code page is sent in it.
    ASSERT_TRUE(Vcl_SetAnsiCodePage(1250));
    Fill(0);
    F()->ComboBox_pppoe1->SetItemIndex(1);
    TypedIn(F()->LabeledEdit_pppoe3, "hasło");
    boxes.clear();
    Setup_ApplyPage(2);
    std::vector<Sent> sent = SentSince();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(std::string((const char*)&sent[0].item[36]), "has\xB3o");
    EXPECT_TRUE(boxes.empty());
    Vcl_SetAnsiCodePage(0);
}

TEST_F(SetupPages, AGreyedPageIsReleasedOnThe1000thTickWithoutAnAnswer)
{
    Setup_PageEntered(0, 2);
    Setup_PageEntered(0, 1);
    EXPECT_FALSE(F()->LabeledEdit_pppoe2->Enabled());
    EXPECT_FALSE(F()->Button_PPPoE->Enabled());
    EXPECT_TRUE(F()->ComboBox_bitrate->Enabled()) << "the Bitrate page is never greyed";
    EXPECT_EQ(V()->pageWait[PAGE_WAIT_BITRATE], 1001u);
    for (int i = 0; i < 999; ++i) Tick();
    EXPECT_FALSE(F()->Button_PPPoE->Enabled()) << "still waiting after 999 ticks";
    EXPECT_EQ(V()->pageWait[PAGE_WAIT_PPPOE], 999u);
    Tick();
    EXPECT_TRUE(F()->Button_PPPoE->Enabled());
    EXPECT_TRUE(F()->LabeledEdit_pppoe2->Enabled());
    EXPECT_GT(V()->pageWait[PAGE_WAIT_PPPOE], 1000u);
    const uint32_t after = V()->pageWait[PAGE_WAIT_PPPOE];
    for (int i = 0; i < 50; ++i) Tick();
    EXPECT_EQ(V()->pageWait[PAGE_WAIT_PPPOE], after) << "a released page is left alone";
    EXPECT_TRUE(SentSince().empty()) << "nothing is sent again";
    EXPECT_TRUE(boxes.empty());

    // An answer releases at once.
    Setup_PageEntered(0, 3);
    EXPECT_FALSE(F()->Button_DDNS->Enabled());
    Tick();
    Answer(SETUP_DDNS, &V()->ddnsItem, sizeof V()->ddnsItem);
    EXPECT_TRUE(F()->Button_DDNS->Enabled());
    EXPECT_EQ(V()->pageWait[PAGE_WAIT_DDNS], 1001u);
}

TEST_F(SetupPages, PagesArePreparedForTheRecordersVariant)
{
    const struct {
        uint32_t variant;
        std::vector<std::string> ddnsList;
        std::vector<int32_t> rows;
        std::vector<std::string> mailModes;
        const char* hostLabel;
        bool links;
    } cases[] = {
        {0,
         {"Disable", "http://www.dyndns.com", "http://www.noip.com"},
         {0, 1, 3, -1},
         {"OFF", "ON"},
         "DDNS Host Name : ",
         true},
        {1,
         {"Disable", "http://ddns.morvik.example"},
         {0, 2, -1, -1},
         {"OFF", "ON", "Default"},
         "DDNS Domain Name : ",
         false},
        {2,
         {"Disable", "http://www.dyndns.com", "http://www.noip.com"},
         {0, 1, 3, -1},
         {"OFF", "ON"},
         "DDNS Host Name : ",
         true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.variant);
        Fill(k.variant);
        EXPECT_EQ(Items(F()->ComboBox_ddns1), k.ddnsList);
        for (size_t i = 0; i < k.rows.size(); ++i) EXPECT_EQ(V()->ddnsRows[i], k.rows[i]) << i;
        EXPECT_EQ(Items(F()->ComboBox_smtp1), k.mailModes);
        EXPECT_EQ(F()->LabeledEdit_ddns4->EditLabel()->Caption(), k.hostLabel);
        EXPECT_EQ(F()->Label_ddns2->Visible(), k.links);
        EXPECT_EQ(F()->Label_ddns3->Visible(), k.links);
        const bool domain = k.variant == 1;
        EXPECT_NE(F()->Memo_DDNS->Text().find(domain ? "DDNS Domain name" : "DDNS Host name"), std::string::npos);
        EXPECT_NE(F()->Memo_SMTP->Text().find(domain ? "Click Apply" : "Click Submit"), std::string::npos);
    }
    EXPECT_EQ(F()->Label_System1->Caption(), "DVR-A");
    EXPECT_EQ(F()->Label_System4->Caption(), "fourth");
    EXPECT_EQ(F()->LabeledEdit_pppoe2->MaxLength(), 31);
    EXPECT_EQ(F()->LabeledEdit_ddns4->MaxLength(), 47);
    EXPECT_EQ(F()->LabeledEdit_smtp10->MaxLength(), 5);
    EXPECT_EQ(F()->LabeledEdit_smtp9->ImeMode(), imClose);
    EXPECT_EQ(F()->ComboBox_smtp2->Items()->Count(), 61);
    EXPECT_EQ(F()->ComboBox_smtp2->Items()->Strings(60), "60");
    EXPECT_EQ(F()->ComboBox_smtp2->ItemIndex(), 0);
    EXPECT_TRUE(F()->ComboBox_smtp2->Visible());
    Fill(0, 1);
    EXPECT_FALSE(F()->ComboBox_smtp2->Visible());
    EXPECT_FALSE(F()->Label_smtp2->Visible());
    EXPECT_FALSE(F()->Label_smtp3->Visible());
    for (TMemo* m : {F()->Memo_Bitrate, F()->Memo_PPPoE, F()->Memo_UPNP})
        EXPECT_EQ(m->Lines()->Strings(0), " ") << "each help text opens with a blank line";
}

TEST_F(SetupPages, DdnsLinksOpenTheServicesPagesOnly)
{
    Fill(0);
    const struct {
        int row, which;
        const char* opened; // null: nothing
    } cases[] = {
        {1, 0, "https://www.dyndns.com"},
        {1, 1, "https://account.dyn.com/entrance/"},
        {2, 0, "https://www.noip.com"},
        {2, 1, "https://www.noip.com/sign-up"},
        {0, 0, nullptr},
        {3, 0, nullptr},  // a free row
        {-1, 0, nullptr}, // counts as row 0
        {-5000, 1, nullptr},
        {8, 0, nullptr},
        {1 << 30, 1, nullptr},
    };
    for (const auto& k : cases) {
        gOpened.clear();
        Ddns_OpenLink(k.row, k.which);
        if (k.opened) EXPECT_EQ(gOpened, std::vector<std::string>({k.opened})) << k.row;
        else EXPECT_TRUE(gOpened.empty()) << k.row;
    }
    // Row 0 mapped to a service would open it: out-of-range rows are row 0.
    V()->ddnsRows[0] = 3;
    gOpened.clear();
    Ddns_OpenLink(-1, 0);
    Ddns_OpenLink(8, 0);
    EXPECT_EQ(gOpened, std::vector<std::string>({"https://www.noip.com", "https://www.noip.com"}));

    // "Create Account": the service's page on row 1, the account form on others.
    Fill(1);
    F()->ComboBox_ddns1->SetItemIndex(1);
    gOpened.clear();
    F()->Label_ddns3Click(nullptr);
    EXPECT_EQ(gOpened, std::vector<std::string>({"https://ddns.morvik.example/register"}));
    Fill(0);
    F()->ComboBox_ddns1->SetItemIndex(2);
    gOpened.clear();
    F()->Label_ddns3Click(nullptr);
    EXPECT_TRUE(gOpened.empty());

    // The links follow the list's choice.
    F()->ComboBox_ddns1->SetItemIndex(0);
    F()->ComboBox_ddns1Change(nullptr);
    EXPECT_FALSE(F()->Label_ddns2->Enabled());
    F()->ComboBox_ddns1->SetItemIndex(2);
    F()->ComboBox_ddns1Change(nullptr);
    EXPECT_TRUE(F()->Label_ddns2->Enabled());
    EXPECT_TRUE(F()->Label_ddns3->Enabled());
}

TEST_F(SetupPages, TheAccountFormsHandOverAppliesTheDdnsPage)
{
    Fill(0);
    F()->ComboBox_ddns1->SetItemIndex(2);
    Ddns_ApplyAccount("newuser", "newpass", "cam.example.net");
    std::vector<Sent> sent = SentSince();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].mask, (uint32_t)SETUP_DDNS);
    EXPECT_EQ(V()->ddnsItem.service, 3);
    EXPECT_STREQ(V()->ddnsItem.user, "newuser");
    EXPECT_STREQ(V()->ddnsItem.host, "cam.example.net");
    // A host that the field cannot hold is refused, not cut.
    Ddns_ApplyAccount("newuser", "newpass", std::string(48, 'h').c_str());
    EXPECT_TRUE(SentSince().empty());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_STREQ(V()->ddnsItem.host, "cam.example.net");
}

TEST_F(SetupPages, UpnpWordsOfReadWriteAndAnswer)
{
    F()->ComboBox_upnp->SetItemIndex(1);
    F()->LabeledEdit_upnp->SetText("8080");
    Setup_PageEntered(0, 6);
    std::vector<Sent> read = SentSince();
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].name, "Tavn_Upnp_C_Data_W");
    EXPECT_EQ(read[0].value, 0xC0001F90u);

    Setup_ApplyPage(6);
    std::vector<Sent> write = SentSince();
    ASSERT_EQ(write.size(), 1u);
    EXPECT_EQ(write[0].value, 0x60001F90u);
    EXPECT_EQ(gUpnpWord, 0x40001F90u);

    // The recorder's answer: off, port 80.
    Deliver(C(0)->session,
            WireMessage("ICTL", {C(0)->session, 0, 0, 1}, VariableBody("Tavn_Upnp_C_Data_R", U32Bytes(80))));
    EXPECT_EQ(F()->ComboBox_upnp->ItemIndex(), 0);
    EXPECT_EQ(F()->LabeledEdit_upnp->Text(), "80");

    // Ports: a read masks to 16 bits; Apply refuses what is not a port.
    F()->LabeledEdit_upnp->SetText("70000");
    Setup_PageEntered(0, 6);
    ASSERT_EQ(SentSince().size(), 1u);
    EXPECT_EQ(gUpnpWord, 0x80000000u | (70000u & 0xFFFF));
    const char* bad[] = {"70000", "-1", "abc", "", "99999999999", "80x"};
    for (const char* text : bad) {
        F()->LabeledEdit_upnp->SetText(text);
        gUpnpWord = 0x1234;
        EXPECT_THROW(Setup_ApplyPage(6), EConvertError) << text;
        EXPECT_TRUE(SentSince().empty()) << text;
        EXPECT_EQ(gUpnpWord, 0x1234u);
    }
    F()->LabeledEdit_upnp->SetText("65535");
    F()->ComboBox_upnp->SetItemIndex(0);
    Setup_ApplyPage(6);
    std::vector<Sent> top = SentSince();
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].value, 0x2000FFFFu);
    // Without a session nothing goes out.
    C(0)->session = 0;
    Setup_ApplyPage(6);
    EXPECT_TRUE(SentSince().empty());
}

TEST_F(SetupPages, ReceivedItemsAreShownOnTheirPages)
{
    Fill(0);
    // Mail, test form, all twelve texts.
    TMailRecord mail{};
    mail.marker = 20;
    mail.form = 16;
    const std::string list = Lit("2\0srv.example\0"
                                 "2a5\0user1\0pw1\0"
                                 "1\0from@x\0to1@x\0to2@x\0to3@x\0"
                                 "Subject\0Loc\0");
    memcpy(mail.texts, list.data(), list.size());
    Answer(SETUP_MAIL, &mail, sizeof mail);
    EXPECT_EQ(F()->ComboBox_smtp1->ItemIndex(), 1) << "Default is ON on a recorder without it";
    EXPECT_EQ(F()->LabeledEdit_smtp1->Text(), "srv.example");
    EXPECT_EQ(F()->LabeledEdit_smtp10->Text(), "25");
    EXPECT_EQ(F()->LabeledEdit_smtp2->Text(), "user1");
    EXPECT_EQ(F()->LabeledEdit_smtp3->Text(), "pw1");
    EXPECT_TRUE(F()->CheckBox_SMTP->Checked());
    EXPECT_EQ(F()->LabeledEdit_smtp4->Text(), "from@x");
    EXPECT_EQ(F()->LabeledEdit_smtp5->Text(), "to1@x");
    EXPECT_EQ(F()->LabeledEdit_smtp7->Text(), "to3@x");
    EXPECT_EQ(F()->LabeledEdit_smtp8->Text(), "Subject");
    EXPECT_EQ(F()->LabeledEdit_smtp9->Text(), "Loc");
    EXPECT_TRUE(F()->Button_SMTP3->Enabled());

    // The same on the maker's model keeps Default, which needs no server.
    Fill(1);
    Answer(SETUP_MAIL, &mail, sizeof mail);
    EXPECT_EQ(F()->ComboBox_smtp1->ItemIndex(), 2);
    EXPECT_FALSE(F()->LabeledEdit_smtp1->Enabled());
    EXPECT_FALSE(F()->CheckBox_SMTP->Enabled());

    // A wrong form byte empties the page.
    mail.form = 7;
    Answer(SETUP_MAIL, &mail, sizeof mail);
    EXPECT_EQ(F()->ComboBox_smtp1->ItemIndex(), 0);
    EXPECT_EQ(F()->LabeledEdit_smtp1->Text(), "");
    EXPECT_EQ(F()->LabeledEdit_smtp9->Text(), "");
    EXPECT_FALSE(F()->CheckBox_SMTP->Checked());

    // PPPoE and DDNS texts without terminators are cut at the field's end.
    TPppoeRecord pppoe{};
    pppoe.onOff = 1;
    memset(pppoe.user, 'u', 32);
    memset(pppoe.password, 'p', 32);
    Answer(SETUP_PPPOE, &pppoe, sizeof pppoe);
    EXPECT_EQ(F()->ComboBox_pppoe1->ItemIndex(), 1);
    EXPECT_EQ(F()->LabeledEdit_pppoe2->Text(), std::string(31, 'u'));
    EXPECT_EQ(F()->LabeledEdit_pppoe3->Text(), std::string(31, 'p'));
    TDdnsRecord ddns{};
    ddns.service = 3;
    memset(ddns.host, 'h', 48);
    Fill(0);
    Answer(SETUP_DDNS, &ddns, sizeof ddns);
    EXPECT_EQ(F()->ComboBox_ddns1->ItemIndex(), 2);
    EXPECT_EQ(F()->LabeledEdit_ddns4->Text(), std::string(47, 'h'));
    EXPECT_TRUE(F()->Label_ddns3->Enabled());
    // A service the list has no row for leaves it without a selection.
    Fill(1);
    Answer(SETUP_DDNS, &ddns, sizeof ddns);
    EXPECT_EQ(F()->ComboBox_ddns1->ItemIndex(), -1);

    uint32_t bitrate = 7;
    Answer(SETUP_BITRATE, &bitrate, 4);
    EXPECT_EQ(F()->ComboBox_bitrate->ItemIndex(), 7);
    TMailIntervalRecord interval{};
    interval.minutes = 99;
    Answer(SETUP_MAIL_INTERVAL, &interval, sizeof interval);
    EXPECT_EQ(F()->ComboBox_smtp2->ItemIndex(), 60);
}

// Message boxes shown since the last look, by their text.
std::vector<std::string> Texts(std::vector<TVclDialogRequest>& boxes)
{
    std::vector<std::string> t;
    for (const TVclDialogRequest& r : boxes) t.push_back(r.Text);
    boxes.clear();
    return t;
}

const char kLinkLost[] = "The recorder did not confirm the settings: the link to the recorder was lost before "
                         "it answered. They may not have been applied.";
const char kNoAnswer[] = "The recorder did not confirm the settings: no answer came within 10 seconds. They may "
                         "not have been applied.";

TEST_F(SetupPages, AnApplyIsConfirmedOnlyByTheAnswerOfItsOwnSession)
{
    // What the recorder holds, and what the user applies.
    TPppoeRecord held{};
    strcpy(held.user, "held");
    F()->ComboBox_pppoe1->SetItemIndex(1);
    F()->LabeledEdit_pppoe2->SetText("applied");
    F()->LabeledEdit_pppoe3->SetText("pw");
    Conn_OnConnected(0, 0);

    // Answered in its session: confirmed.
    Setup_ApplyPage(SETUP_PAGE_PPPOE);
    ASSERT_EQ(Masks(ICMD_DATA), std::vector<uint32_t>{SETUP_PPPOE});
    Tick();
    Answer(SETUP_PPPOE, &V()->pppoeItem, sizeof V()->pppoeItem);
    EXPECT_EQ(Texts(boxes), std::vector<std::string>{"Setup Successful."});
    for (int i = 0; i < 1100; ++i) Tick();
    EXPECT_TRUE(Texts(boxes).empty()) << "a confirmed Apply is not waited for";

    // The link drops before the answer: the user is told at once, and the
    // answer after the next login shows the recorder's values.
    Setup_ApplyPage(SETUP_PAGE_PPPOE);
    Queued(0);
    Wire(0, 0).connected = false;
    Conn_OnDisconnected(0, 0);
    Tick();
    EXPECT_EQ(Texts(boxes), std::vector<std::string>{kLinkLost});
    EXPECT_EQ(V()->dirtyMask, 0u);
    Wire(0, 0).connected = true;
    Conn_OnConnected(0, 0);
    C(0)->session = 0x2222;
    C(0)->linkState = LINK_LOGGED_IN;
    C(0)->active = 1;
    Answer(SETUP_PPPOE, &held, sizeof held);
    EXPECT_TRUE(Texts(boxes).empty()) << "no Setup Successful. for an Apply of an ended link";
    EXPECT_EQ(F()->LabeledEdit_pppoe2->Text(), "held");
    for (int i = 0; i < 1100; ++i) Tick();
    EXPECT_TRUE(Texts(boxes).empty()) << "told once";

    // Without a logged-in link nothing is sent.
    C(0)->linkState = LINK_LOGIN_SENT;
    F()->LabeledEdit_pppoe2->SetText("applied");
    Setup_ApplyPage(SETUP_PAGE_PPPOE);
    EXPECT_TRUE(SentSince().empty());
    EXPECT_EQ(Texts(boxes), std::vector<std::string>{"Nothing was sent: the recorder is not connected."});
    EXPECT_EQ(V()->dirtyMask, 0u);
    EXPECT_EQ(std::string(V()->pppoeItem.user), "held");
}

TEST_F(SetupPages, AnApplyWithoutAnAnswerFor1000TicksSaysTheRecorderDidNotConfirmIt)
{
    const struct {
        const char* name;
        int page;
        std::vector<uint32_t> masks;
        std::function<void(TTavlinX*)> arrange;
    } cases[] = {
        {"PPPoE", SETUP_PAGE_PPPOE, {SETUP_PPPOE}, [](TTavlinX* f) { f->ComboBox_pppoe1->SetItemIndex(1); }},
        {"Bitrate, a page never greyed",
         SETUP_PAGE_BITRATE,
         {SETUP_BITRATE},
         [](TTavlinX* f) { f->ComboBox_bitrate->SetItemIndex(3); }},
        {"Mail, two items",
         SETUP_PAGE_MAIL,
         {SETUP_MAIL, SETUP_MAIL_INTERVAL},
         [](TTavlinX* f) {
             f->ComboBox_smtp1->SetItemIndex(1);
             f->ComboBox_smtp2->SetItemIndex(5);
         }},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        k.arrange(F());
        Setup_ApplyPage(k.page);
        ASSERT_EQ(Masks(ICMD_DATA), k.masks);
        for (int i = 0; i < 999; ++i) Tick();
        EXPECT_TRUE(Texts(boxes).empty()) << "still waiting after 999 ticks";
        Tick();
        EXPECT_EQ(Texts(boxes), std::vector<std::string>{kNoAnswer}) << "one box for the page";
        EXPECT_EQ(V()->dirtyMask, 0u);
        // A late answer is the recorder's value, not a confirmation.
        for (uint32_t mask : k.masks) {
            for (const TSetupItem& item : gSetupItems) {
                if (item.mask != mask) continue;
                uint32_t size = 0;
                const uint8_t* bytes = item.get(V(), &size);
                Answer(mask, bytes, size);
            }
        }
        EXPECT_TRUE(Texts(boxes).empty());
        Queued(0);
    }
}

TEST_F(SetupPages, ClearButtonsEmptyTheirEditsOnly)
{
    F()->ComboBox_pppoe1->SetItemIndex(1);
    F()->LabeledEdit_pppoe2->SetText("a");
    F()->LabeledEdit_pppoe3->SetText("b");
    F()->LabeledEdit_ddns2->SetText("c");
    F()->Button_PPPoE2Click(nullptr);
    EXPECT_EQ(F()->LabeledEdit_pppoe2->Text(), "");
    EXPECT_EQ(F()->LabeledEdit_pppoe3->Text(), "");
    EXPECT_EQ(F()->LabeledEdit_ddns2->Text(), "c");
    EXPECT_EQ(F()->ComboBox_pppoe1->ItemIndex(), 1);
    F()->LabeledEdit_smtp10->SetText("25");
    F()->CheckBox_SMTP->SetChecked(true);
    F()->Button_SMTP2Click(nullptr);
    EXPECT_EQ(F()->LabeledEdit_smtp10->Text(), "");
    EXPECT_TRUE(F()->CheckBox_SMTP->Checked());
    F()->Button_DDNS2Click(nullptr);
    EXPECT_EQ(F()->LabeledEdit_ddns2->Text(), "");
    EXPECT_TRUE(SentSince().empty());
}

} // namespace
