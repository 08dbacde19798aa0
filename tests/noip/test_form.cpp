// The account form as a user meets it: typing and clicking on its window,
// its enabling rules and local checks, the whole account flow against the
// local service (account, domain, host, "OK" into the DDNS page), a
// service that never answers, one that is not there, and the banner.
#include "NoipFixture.h"
#include "control/TavlinImpl1.h"
#include "link/Conn.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <string>

namespace {

// The centre of a control in its form's window coordinates.
void CentreOf(TControl* c, int* x, int* y)
{
    int left = c->Width() / 2, top = c->Height() / 2;
    for (TControl* p = c; p && !dynamic_cast<TCustomForm*>(p); p = p->Parent()) {
        left += p->Left();
        top += p->Top();
    }
    *x = left;
    *y = top;
}

void Type(TControl* c, const std::string& text)
{
    int x, y;
    CentreOf(c, &x, &y);
    ASSERT_EQ(Vcl_TypeTextAt(Form_noip_setting->Handle(), x, y, text.c_str()), 0) << c->Name;
}

void Click(TControl* c)
{
    int x, y;
    CentreOf(c, &x, &y);
    ASSERT_EQ(Vcl_ClickAt(Form_noip_setting->Handle(), x, y), 0) << c->Name;
}

void TypeAccount(TForm_noip_setting* f, const std::string& user, const std::string& pass, const std::string& confirm)
{
    Type(f->Username, user);
    Type(f->email, user + "@example.com");
    Type(f->password, pass);
    Type(f->cpassword, confirm);
    Type(f->firstname, "Carol");
    Type(f->lastname, "Jones");
    Type(f->postal_code, "10115");
}

// The window as drawn now: the arrow's orange stands above the dot of the
// stage (x 288, 478 or 668 in the window), the banner's blue at its left.
void CheckDrawnStage(TForm_noip_setting* f, int stage, const char* name)
{
    std::string path = ::testing::TempDir() + name;
    ASSERT_EQ(Vcl_SaveWindowPng(f->Handle(), path.c_str()), 0);
    const int arrows[] = {288, 478, 668};
    for (int i = 0; i < 3; i++) {
        long c = Vcl_WindowPixel(f->Handle(), arrows[i], 36);
        bool orange = c >= 0 && ((c >> 16) & 255) > 200 && ((c >> 8) & 255) > 100 && (c & 255) < 80;
        EXPECT_EQ(orange, i == stage) << name << " arrow at " << arrows[i] << " colour " << std::hex << c;
    }
    long banner = Vcl_WindowPixel(f->Handle(), 12, 20);
    EXPECT_GT(banner & 255, 120) << "the banner's blue";
}

// A port on loopback where nobody listens.
int DeadPort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, (sockaddr*)&a, sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, (sockaddr*)&a, &len);
    close(fd);
    return ntohs(a.sin_port);
}

TEST(NoipForm, OpeningShowsTheAccountStageWithItsPicturesAndPolling)
{
    TForm_noip_setting* f = ResetForm();
    EXPECT_EQ(f->Caption(), "No-IP Setting");
    EXPECT_EQ(f->ClientWidth(), 769);
    EXPECT_EQ(f->ClientHeight(), 442);
    EXPECT_TRUE(f->Panel2->Visible());
    EXPECT_FALSE(f->Panel3->Visible());
    EXPECT_FALSE(f->Panel4->Visible());
    EXPECT_FALSE(f->Create->Enabled());
    EXPECT_FALSE(f->CheckUas->Enabled());
    EXPECT_EQ(f->Image2->Left(), 280);
    EXPECT_EQ(f->Timer3->Interval(), 1000u);
    // The banner is a JPEG picture decoded through libjpeg.
    auto* banner = dynamic_cast<TJPEGImage*>(f->Image3->Picture()->Graphic());
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(banner->Width(), 213);
    EXPECT_EQ(banner->Height(), 76);
    EXPECT_EQ(f->Image1->Picture()->Width(), 401);
    EXPECT_EQ(f->Image2->Picture()->Width(), 16);
    // Closing stops the timer; opening again starts it and shows the
    // account stage even after a finished wizard.
    f->Panel2->SetVisible(false);
    f->Panel4->SetVisible(true);
    f->Timer3->SetEnabled(true);
    f->Close();
    EXPECT_FALSE(f->Timer3->Enabled());
    Noip_ShowAccountForm();
    EXPECT_EQ(Form_noip_setting, f) << "one instance, kept";
    EXPECT_TRUE(f->Timer3->Enabled());
    EXPECT_TRUE(f->Panel2->Visible());
    EXPECT_FALSE(f->Panel4->Visible());
    f->Timer3->SetEnabled(false);
}

TEST(NoipForm, TheBannerDecoderRefusesBrokenPictures)
{
    std::vector<unsigned char> cut(gNoipBannerJpeg, gNoipBannerJpeg + gNoipBannerJpeg_size / 3);
    std::vector<unsigned char> noise(2000, 0x5a);
    std::vector<unsigned char> header(gNoipBannerJpeg, gNoipBannerJpeg + 20);
    for (auto* data : {&noise, &header}) {
        TJPEGImage j;
        EXPECT_THROW(j.LoadFromData(data->data(), data->size()), EInvalidGraphic);
    }
    // A cut stream decodes what it holds (libjpeg fills the rest) without
    // reading past its end.
    TJPEGImage j;
    try {
        j.LoadFromData(cut.data(), cut.size());
        EXPECT_EQ(j.Width(), 213);
    } catch (const EInvalidGraphic&) {
    }
}

TEST(NoipForm, EnablingRules)
{
    MessageBoxes boxes;
    TForm_noip_setting* f = ResetForm();
    Type(f->Username, "abc");
    EXPECT_TRUE(f->CheckUas->Enabled());
    EXPECT_FALSE(f->Create->Enabled());
    TypeAccount(f, "carol77", "secret12", "secret12");
    EXPECT_FALSE(f->Create->Enabled()) << "the terms box is not ticked";
    Click(f->CheckBox1);
    EXPECT_TRUE(f->CheckBox1->Checked());
    EXPECT_TRUE(f->Create->Enabled());
    // Clearing any field disables "Next" again.
    for (TCustomEdit* e : {(TCustomEdit*)f->email, (TCustomEdit*)f->firstname, (TCustomEdit*)f->postal_code,
                           (TCustomEdit*)f->cpassword}) {
        std::string was = e->Text();
        Type(e, "");
        EXPECT_FALSE(f->Create->Enabled()) << e->Name;
        EXPECT_TRUE(f->CheckUas->Enabled());
        Type(e, was);
        EXPECT_TRUE(f->Create->Enabled()) << e->Name;
    }
    // Emptying the name disables both.
    Type(f->Username, "");
    EXPECT_FALSE(f->CheckUas->Enabled());
    EXPECT_FALSE(f->Create->Enabled());
    // The length limits of the edits hold for typing.
    Type(f->Username, "abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(f->Username->Text(), "abcdefghijklmnop");

    // On the host stage "Next" follows the host and the address only.
    f->Panel2->SetVisible(false);
    f->Panel3->SetVisible(true);
    f->Button2->SetEnabled(false);
    f->firstname->SetText("changed");
    EXPECT_FALSE(f->Button2->Enabled());
    Type(f->Edit_host, "cam1");
    EXPECT_FALSE(f->Button2->Enabled());
    Type(f->Edit_ip, "10.1.1.1");
    EXPECT_TRUE(f->Button2->Enabled());
    bool before = f->CheckUas->Enabled();
    f->Username->SetText("");
    EXPECT_EQ(f->CheckUas->Enabled(), before) << "hidden account fields have no effect";
    Type(f->Edit_host, "");
    EXPECT_FALSE(f->Button2->Enabled());
    EXPECT_TRUE(boxes.Take().empty());
}

TEST(NoipForm, LocalChecksSendNothing)
{
    NoipServer server;
    PointClientAt(server.port());
    MessageBoxes boxes;
    TForm_noip_setting* f = ResetForm();

    Type(f->Username, "abc");
    Click(f->CheckUas);
    auto shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "ERROR");
    EXPECT_EQ(shown[0].text, "invalid username: 4-16 characters, only letters and numbers");
    EXPECT_EQ(gNoipSockets.socket[0], -1);

    TypeAccount(f, "carol77", "Secret12", "secret12");
    Click(f->CheckBox1);
    ASSERT_TRUE(f->Create->Enabled());
    Click(f->Create);
    shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "This password doesn't match the confirmation password.");
    EXPECT_EQ(gNoipSockets.socket[0], -1);
    usleep(200000);
    EXPECT_TRUE(server.log().empty()) << "nothing reached the service";

    // A password the DDNS item cannot hold is refused before the account
    // is made with it.
    Type(f->password, std::string(32, 'p'));
    Type(f->cpassword, std::string(32, 'p'));
    ASSERT_TRUE(f->Create->Enabled());
    Click(f->Create);
    shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "password too long for the DDNS settings: at most 31 characters");
    EXPECT_EQ(gNoipSockets.socket[0], -1);
    EXPECT_TRUE(f->Create->Enabled());

    // Four characters are enough for the check to go out.
    Type(f->Username, "abcd");
    Click(f->CheckUas);
    EXPECT_GE(gNoipSockets.socket[0], 0);
    EXPECT_FALSE(f->CheckUas->Enabled()) << "disabled while the request is under way";
    EXPECT_TRUE(server.waitLog(1));
    Noip_CloseAll();
}

TEST(NoipForm, TheWholeAccountFlowFillsTheDdnsPage)
{
    NoipServer server;
    ASSERT_GT(server.port(), 0);
    PointClientAt(server.port());
    MessageBoxes boxes;
    snprintf(gConnections[0].host, sizeof gConnections[0].host, "192.168.1.20");
    TForm_noip_setting* f = ResetForm();

    CheckDrawnStage(f, 0, "noip_stage_account.png");
    Type(f->Username, "carol77");
    Click(f->CheckUas);
    ASSERT_TRUE(RunUntil([&] { return !boxes.shown.empty(); }, kWaitLimitMs));
    auto shown = boxes.Take();
    EXPECT_EQ(shown[0].caption, "PASS");
    EXPECT_EQ(shown[0].text, "This Username is available");

    TypeAccount(f, "carol77", "secret12", "secret12");
    Click(f->CheckBox1);
    Click(f->Create);
    ASSERT_TRUE(RunUntil([&] { return f->Panel3->Visible() || !boxes.shown.empty(); }, kWaitLimitMs));
    ASSERT_TRUE(boxes.shown.empty()) << boxes.shown[0].text;
    EXPECT_EQ(f->Image2->Left(), 470);
    CheckDrawnStage(f, 1, "noip_stage_host.png");
    EXPECT_EQ(f->Edit_ip->Text(), "192.168.1.20");
    ASSERT_GE(f->ComboBox1->Items()->Count(), 2);
    EXPECT_EQ(f->ComboBox1->Items()->Strings(0), "ddns.net");
    EXPECT_EQ(f->ComboBox1->Items()->Strings(1), "dvrlink.net") << "the OEM domain merged in order";

    // The user picks the second domain and names the host.
    int x, y;
    CentreOf(f->ComboBox1, &x, &y);
    Vcl_ClickAt(f->Handle(), x, y);
    Vcl_KeyAt(f->Handle(), "Down");
    EXPECT_EQ(f->ComboBox1->ItemIndex(), 1);
    Type(f->Edit_host, "carolcam");
    ASSERT_TRUE(f->Button2->Enabled());
    Click(f->Button2);
    ASSERT_TRUE(RunUntil([&] { return f->Panel4->Visible() || !boxes.shown.empty(); }, kWaitLimitMs));
    ASSERT_TRUE(boxes.shown.empty()) << boxes.shown[0].text;
    EXPECT_EQ(f->Image2->Left(), 660);
    CheckDrawnStage(f, 2, "noip_stage_finish.png");
    EXPECT_EQ(f->info_username->Caption(), "carol77");
    EXPECT_EQ(f->info_email->Caption(), "carol77@example.com");
    EXPECT_EQ(f->info_firstname->Caption(), "Carol");
    EXPECT_EQ(f->info_lastname->Caption(), "Jones");
    EXPECT_EQ(f->info_postalcode->Caption(), "10115");
    EXPECT_EQ(f->info_host->Caption(), "carolcam.dvrlink.net");
    EXPECT_EQ(f->info_ip->Caption(), "192.168.1.20");

    // The service holds the account and the host.
    std::string state = server.control("GET", "/_control/state");
    EXPECT_NE(state.find("\"username\": \"carol77\""), std::string::npos) << state;
    EXPECT_NE(state.find("\"hostname\": \"carolcam.dvrlink.net\", \"ip\": \"192.168.1.20\""), std::string::npos)
        << state;
    for (const std::string& line : server.log()) EXPECT_EQ(LogField(line, "verdict"), "ok") << line;
    EXPECT_EQ(server.log().size(), 5u) << "check, create, domains, add host, account";

    // "OK" hands the account to the DDNS page.
    TTavlinX* viewer = new TTavlinX(nullptr);
    gViewerForm = viewer;
    f->Timer3->SetEnabled(true);
    Click(f->Button3);
    EXPECT_FALSE(f->Visible());
    EXPECT_FALSE(f->Timer3->Enabled());
    EXPECT_EQ(viewer->LabeledEdit_ddns2->Text(), "carol77");
    EXPECT_EQ(viewer->LabeledEdit_ddns3->Text(), "secret12");
    EXPECT_EQ(viewer->LabeledEdit_ddns4->Text(), "carolcam.dvrlink.net");
    gViewerForm = nullptr;
    delete viewer;
    EXPECT_TRUE(boxes.Take().empty());
}

// Until the service's reply has reached the socket of the current slot
// (at most 20 s): what the next tick reads.
bool ReplyArrived()
{
    int fd = gNoipSockets.socket[gNoipSockets.current & 1];
    if (fd < 0) return false;
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, 20000) == 1;
}

TEST(NoipForm, OneTickReadsTheReplyAndStartsItsFollowUp)
{
    NoipServer server;
    PointClientAt(server.port());
    MessageBoxes boxes;
    TForm_noip_setting* f = ResetForm();
    FillAccountFields(f, {"erin1234", "erin@example.com", "secret12", "Erin", "Lee", "4000"});
    gNoipStep = NOIP_STEP_CREATE;
    ASSERT_EQ(Noip_Connect(0), 1);
    EXPECT_STREQ(gNoipSavedUser, "erin1234");
    EXPECT_STREQ(gNoipSavedPassword, "secret12");
    ASSERT_TRUE(server.waitLog(1));
    ASSERT_TRUE(ReplyArrived());
    Tick(); // reads the account, then asks for the domains on slot 1
    EXPECT_EQ(gNoipStep, NOIP_STEP_DOMAINS);
    EXPECT_EQ(gNoipSockets.current, 1);
    EXPECT_EQ(gNoipSockets.socket[0], -1) << "the answered socket is closed";
    EXPECT_GE(gNoipSockets.socket[1], 0);
    ASSERT_TRUE(server.waitLog(2));
    EXPECT_EQ(server.log()[1].find("domains.xml") != std::string::npos, true);
    ASSERT_TRUE(ReplyArrived());
    Tick();
    EXPECT_TRUE(f->Panel3->Visible());
    EXPECT_TRUE(boxes.Take().empty());
    Noip_CloseAll();
}

TEST(NoipForm, AServiceThatNeverAnswersGivesTheFormBack)
{
    NoipServer server;
    PointClientAt(server.port());
    MessageBoxes boxes;
    TForm_noip_setting* f = ResetForm();
    gNoipReplyTimeoutMs = 1500;
    server.control("POST", "/_control/hang");
    Type(f->Username, "carol77");
    Click(f->CheckUas);
    EXPECT_FALSE(f->CheckUas->Enabled());
    // The message loop keeps running while the request waits.
    int ticks = 0;
    TTimer probe(nullptr);
    probe.SetInterval(50);
    probe.OnTimer = [&](TObject*) { ticks++; };
    probe.SetEnabled(true);
    ASSERT_TRUE(RunUntil([&] { return !boxes.shown.empty(); }, kWaitLimitMs));
    EXPECT_GT(ticks, 10);
    auto shown = boxes.Take();
    EXPECT_EQ(shown[0].caption, "ERROR");
    EXPECT_EQ(shown[0].text, "no reply from no-ip server");
    EXPECT_TRUE(f->CheckUas->Enabled()) << "the form comes back";
    EXPECT_EQ(gNoipSockets.socket[0], -1);
    // And the next request goes through.
    Click(f->CheckUas);
    ASSERT_TRUE(RunUntil([&] { return !boxes.shown.empty(); }, kWaitLimitMs));
    EXPECT_EQ(boxes.Take()[0].text, "This Username is available");
}

TEST(NoipForm, CutAndOversizeRepliesOverTheWire)
{
    NoipServer server;
    PointClientAt(server.port());
    MessageBoxes boxes;
    const std::string cases[] = {
        // cut inside the body, then the server closes
        "HTTP/1.1 200 OK\r\nContent-Length: 60\r\n\r\n<?xml version=\"1.0\"?>\n<exists/>",
        // headers only
        "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n",
        // not HTTP at all
        "<?xml version=\"1.0\"?>\n<exists/>",
        // longer than the client takes
        "HTTP/1.1 200 OK\r\n\r\n<?xml version=\"1.0\"?>\n<exists>" + std::string(40000, ' ') + "</exists>",
    };
    TForm_noip_setting* f = ResetForm();
    for (const std::string& canned : cases) {
        server.control("POST", "/_control/next-reply", canned);
        Type(f->Username, "carol77");
        Click(f->CheckUas);
        ASSERT_TRUE(RunUntil([&] { return !boxes.shown.empty(); }, kWaitLimitMs)) << canned.substr(0, 40);
        auto shown = boxes.Take();
        EXPECT_EQ(shown[0].text, "no valid reply from no-ip server") << canned.substr(0, 40);
        EXPECT_TRUE(f->CheckUas->Enabled());
        EXPECT_EQ(gNoipSockets.socket[0], -1);
    }
    // A reply without a Content-Length ends where the service closes.
    server.control("POST", "/_control/next-reply",
                   "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n<?xml version=\"1.0\"?>\n<exists/>");
    Click(f->CheckUas);
    ASSERT_TRUE(RunUntil([&] { return !boxes.shown.empty(); }, kWaitLimitMs));
    EXPECT_EQ(boxes.Take()[0].text, "This Username is available");
    // One that arrives in two parts over more than one tick is read whole.
    server.control("POST", "/_control/next-reply-split",
                   HttpReply(200, "<?xml version=\"1.0\"?>\n<exists><string>carol77</string></exists>"));
    Click(f->CheckUas);
    ASSERT_TRUE(RunUntil([&] { return !boxes.shown.empty(); }, kWaitLimitMs));
    EXPECT_EQ(boxes.Take()[0].text, "This Username is not available");
    // After them a whole reply is read as ever.
    server.control("POST", "/_control/next-reply",
                   HttpReply(200, "<?xml version=\"1.0\"?>\n<exists><string>carol77</string></exists>"));
    Click(f->CheckUas);
    ASSERT_TRUE(RunUntil([&] { return !boxes.shown.empty(); }, kWaitLimitMs));
    EXPECT_EQ(boxes.Take()[0].text, "This Username is not available");
}

// However the service ends its answers (in chunks on a connection it keeps,
// without a length by closing, with a length on a connection it keeps),
// each is read whole as soon as it has arrived, long before the client
// would give up on it.
TEST(NoipForm, ChunkedLengthlessAndKeptAliveRepliesAreReadWhole)
{
    for (const char* framing : {"chunked", "close", "keep-alive"}) {
        SCOPED_TRACE(framing);
        NoipServer server({"--framing", framing});
        ASSERT_GT(server.port(), 0);
        PointClientAt(server.port());
        MessageBoxes boxes;
        TForm_noip_setting* f = ResetForm();
        ASSERT_EQ(gNoipReplyTimeoutMs, 30000u);
        Type(f->Username, "alice01");
        Click(f->CheckUas);
        ASSERT_TRUE(RunUntil([&] { return !boxes.shown.empty(); }, kWaitLimitMs));
        auto shown = boxes.Take();
        EXPECT_EQ(shown[0].text, "This Username is not available");
        // A create-account answer, then the domain list chained on it.
        TypeAccount(f, "dave1234", "secret12", "secret12");
        Click(f->CheckBox1);
        Click(f->Create);
        ASSERT_TRUE(RunUntil([&] { return f->Panel3->Visible() || !boxes.shown.empty(); }, kWaitLimitMs));
        ASSERT_TRUE(boxes.shown.empty()) << boxes.shown[0].text;
        ASSERT_GE(f->ComboBox1->Items()->Count(), 2);
        EXPECT_EQ(f->ComboBox1->Items()->Strings(0), "ddns.net");
        EXPECT_EQ(server.log().size(), 3u);
        Noip_CloseAll();
    }
}

TEST(NoipForm, ARequestBodyThatDoesNotFitIsNotSent)
{
    NoipServer server;
    PointClientAt(server.port());
    MessageBoxes boxes;
    TForm_noip_setting* f = ResetForm();
    // The e-mail edit has no length limit; its text set whole from code.
    f->Username->SetText("carol77");
    f->password->SetText("secret12");
    f->cpassword->SetText("secret12");
    f->firstname->SetText("C");
    f->lastname->SetText("J");
    f->postal_code->SetText("1");
    f->CheckBox1->SetChecked(true);
    f->email->SetText(std::string(400, '&') + "@example.com"); // 1,200 characters encoded
    ASSERT_TRUE(f->Create->Enabled());
    Click(f->Create);
    auto shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "ERROR");
    EXPECT_EQ(shown[0].text, "the account data is too long or holds characters that cannot be sent");
    EXPECT_EQ(gNoipSockets.socket[0], -1);
    EXPECT_EQ(gNoipRequest[0], 0);
    usleep(200000);
    EXPECT_TRUE(server.log().empty());
}

TEST(NoipForm, AServiceThatIsNotThere)
{
    PointClientAt(DeadPort());
    MessageBoxes boxes;
    TForm_noip_setting* f = ResetForm();
    Type(f->Username, "carol77");
    Click(f->CheckUas);
    auto shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "ERROR");
    EXPECT_EQ(shown[0].text, "can not connect to no-ip server");
    EXPECT_EQ(gNoipSockets.socket[0], -1) << "the failed socket is closed and cleared";
    EXPECT_TRUE(f->CheckUas->Enabled()) << "the buttons keep their state";
    EXPECT_EQ(Noip_Poll(), 0);
}

TEST(NoipForm, ASendToAPeerThatHasGoneRaisesNoSignal)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, (sockaddr*)&a, sizeof a), 0);
    socklen_t len = sizeof a;
    getsockname(listener, (sockaddr*)&a, &len);
    listen(listener, 4);
    PointClientAt(ntohs(a.sin_port));
    MessageBoxes boxes;
    ResetForm();
    gNoipStep = NOIP_STEP_DOMAINS;
    ASSERT_EQ(Noip_Connect(0), 1);
    int peer = accept(listener, nullptr, nullptr);
    linger l = {1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(peer); // a reset
    // Once the reset has reached the client's socket.
    pollfd reset = {(int)gNoipSockets.socket[0], POLLIN, 0};
    ASSERT_TRUE(WaitUntil([&] { return poll(&reset, 1, 0) == 1 && (reset.revents & (POLLERR | POLLHUP | POLLIN)); }));
    // Without MSG_NOSIGNAL the second of these would end the process.
    Noip_SendStep(NOIP_STEP_DOMAINS);
    EXPECT_EQ(Noip_SendStep(NOIP_STEP_DOMAINS), -1);
    Noip_CloseAll();
    close(listener);
}

TEST(NoipForm, HostNamesTheDdnsItemCannotHoldAreRefused)
{
    NoipServer server;
    PointClientAt(server.port());
    MessageBoxes boxes;
    TForm_noip_setting* f = ResetForm();
    snprintf(gNoipAccount.id, sizeof gNoipAccount.id, "%s", kSeedId);
    snprintf(gNoipAccount.key, sizeof gNoipAccount.key, "%s", kSeedKey);
    f->Panel2->SetVisible(false);
    f->Panel3->SetVisible(true);
    const std::string domain30 = std::string(26, 'd') + ".net"; // 30
    snprintf(gNoipDomains[0], sizeof gNoipDomains[0], "%s", domain30.c_str());
    gNoipDomainCount = 1;
    f->ComboBox1->Items()->Add(domain30);
    f->ComboBox1->SetItemIndex(0);
    Type(f->Edit_ip, "10.0.0.1");
    Type(f->Edit_host, "abcdefghijklmnopq"); // 17 + 1 + 30 = 48
    Click(f->Button2);
    auto shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "ERROR");
    EXPECT_EQ(shown[0].text, "host name too long: at most 47 characters");
    EXPECT_EQ(gNoipSockets.socket[0], -1);
    EXPECT_TRUE(f->Button2->Enabled());

    // No domain chosen (a typed text selects none): nothing is sent.
    f->ComboBox1->SetItemIndex(-1);
    Type(f->Edit_host, "cam");
    Click(f->Button2);
    shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "please choose a domain from the list");
    EXPECT_EQ(gNoipSockets.socket[0], -1);

    // 47 characters go through.
    f->ComboBox1->SetItemIndex(0);
    Type(f->Edit_host, "abcdefghijklmnop");
    Click(f->Button2);
    EXPECT_TRUE(boxes.Take().empty());
    EXPECT_EQ(strlen(gNoipHostName), 47u);
    ASSERT_TRUE(server.waitLog(1));
    EXPECT_EQ(LogField(server.log().back(), "verdict"), "ok");
    Noip_CloseAll();

    // "OK" with a host name longer than the item takes applies nothing.
    TTavlinX* viewer = new TTavlinX(nullptr);
    gViewerForm = viewer;
    f->Panel3->SetVisible(false);
    f->Panel4->SetVisible(true);
    snprintf(gNoipHostName, sizeof gNoipHostName, "%s", std::string(60, 'h').c_str());
    ASSERT_TRUE(f->Visible());
    Click(f->Button3);
    shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "ERROR");
    EXPECT_EQ(shown[0].text, "the account does not fit the DDNS settings (host name at most 47 characters)");
    EXPECT_TRUE(f->Visible());
    EXPECT_EQ(viewer->LabeledEdit_ddns4->Text(), "");
    gViewerForm = nullptr;
    delete viewer;
}

} // namespace
